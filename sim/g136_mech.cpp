#include "sim/g136_mech.h"

#include <algorithm>

#include "sim/bench.h"

namespace zuna::sim {

namespace {
constexpr uint8_t kReplyBit = 0x80; // set = mechanism line at level 0
constexpr int kIdleBits = 1;        // line at level 1 needed after a bad character
constexpr int kTurnaroundBits = 3;  // from the stop bit's middle to the reply
// The answer to "I": the bytes 0x07 and 0x36. Four characters: over before
// the "T" that the teach sends 40 units after an unread "I".
constexpr char kIdentity[] = "0736";

// A small catalogue of coins (sixteen measurements each), passed in turn.
constexpr std::array<G136Mechanism::Measures, 2> kCatalogue = {{
    {112, 95, 140, 60, 201, 33, 87, 150, 12, 240, 66, 101, 45, 178, 99, 130},
    {118, 90, 146, 57, 196, 38, 92, 144, 15, 236, 70, 97, 49, 172, 104, 125},
}};

int hex_digit(uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

char hex_char(int d)
{
    d &= 15;
    return char(d < 10 ? '0' + d : 'A' + d - 10);
}

std::string hex_byte(int v) { return {hex_char(v >> 4), hex_char(v)}; }

bool readable(int address) { return (address >= 0x03 && address <= 0x13) || address == 0x18; }
} // namespace

G136Mechanism::G136Mechanism(Bench& bench)
    : bit_(bench.mech_ticks(kBitMicros)), clock_{bench.mech_units(kBitMicros)}, coin_delay_(bench.mech_ticks(kCoinDelayMicros))
{
    // Six pairs (maximum, minimum) per channel; channels 9 to 12 empty.
    const std::array<std::array<int, 12>, 8> channels = {{
        {120, 100, 104, 88, 150, 130, 66, 52, 210, 190, 40, 26},
        {135, 118, 99, 82, 160, 141, 70, 55, 220, 200, 45, 30},
        {150, 131, 110, 94, 170, 152, 75, 60, 230, 212, 50, 35},
        {98, 80, 86, 70, 132, 115, 58, 44, 185, 168, 34, 20},
        {170, 150, 125, 108, 190, 172, 85, 70, 245, 226, 60, 44},
        {110, 92, 97, 80, 141, 124, 62, 48, 199, 180, 37, 24},
        {255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255, 0},
        {128, 120, 128, 120, 128, 120, 128, 120, 128, 120, 128, 120},
    }};
    for (int n = 1; n <= 12; ++n)
        blocks_[n + 2] = n <= 8 ? std::vector<int>(channels[size_t(n - 1)].begin(), channels[size_t(n - 1)].end())
                                : std::vector<int>(12, 0);
    std::vector<int>& sel = blocks_[0x13];
    for (int n = 1; n <= 12; ++n)
        for (int k = 1; k <= 6; ++k)
            sel.push_back((n - 1 + 2 * (k - 1)) % 16);
    blocks_[0x0F] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x81, 0x00, 0x00, 0x00};
    blocks_[0x10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    blocks_[0x11] = {0x01, 0x20, 0x03, 0x40, 0x05, 0x60, 0x07, 0x80, 0x00, 0x00, 0x00, 0x00};
    blocks_[0x12] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00};
    blocks_[0x18] = {0x12, 0x34, 0x56, 20, 30, 0, 0, 0};
}

void G136Mechanism::start()
{
    if (!bench_)
        return;
    line_ = bench_->data() & 1;
    rise_ = bench_->now();
    bench_->drive(*this, kReplyBit, 0);
}

void G136Mechanism::on_data(uint64_t now, uint8_t old_value, uint8_t value)
{
    if (((old_value ^ value) & 1) == 0)
        return;
    line_ = value & 1;
    if (line_) {
        rise_ = now;
        return;
    }
    if (busy_)
        return;
    if (need_idle_) {
        if (now - rise_ < clock_.ticks(kIdleBits))
            return;
        need_idle_ = false;
    }
    begin_char(now);
    schedule();
}

uint64_t G136Mechanism::sample_time(int sample) const
{
    const int b = sample / 3;
    return clock_.at(start_, b + 0.5 + (sample % 3 - 1) / 16.0);
}

void G136Mechanism::begin_char(uint64_t now)
{
    busy_ = true;
    start_ = now;
    sample_ = 0;
    next_ = sample_time(0);
}

void G136Mechanism::take_sample()
{
    const int b = sample_ / 3;
    if (sample_ % 3 == 0)
        bits_[b] = line_;
    else if (bits_[b] != uint8_t(line_))
        bits_[b] = 2; // samples disagree
    ++sample_;
    const bool start_bad = sample_ == 3 && bits_[0] != 0;
    if (!start_bad && sample_ < 30) {
        next_ = sample_time(sample_);
        return;
    }
    busy_ = false;
    next_ = kNever;
    if (start_bad)
        return; // a glitch, not a start bit
    bool good = bits_[9] == 1;
    uint8_t c = 0;
    for (int k = 0; k < 8; ++k) {
        good = good && bits_[k + 1] != 2;
        c |= uint8_t((bits_[k + 1] & 1) << k);
    }
    if (!good) {
        // Not understood: say so, and wait for the line to rest.
        need_idle_ = true;
        if (powered_) {
            log_.push_back("?");
            expect_ = Expect::Command;
            reply("?", bench_ ? clock_.at(bench_->now(), kTurnaroundBits) : 0);
        }
        return;
    }
    received(c);
}

void G136Mechanism::received(uint8_t c)
{
    if (!powered_)
        return;
    const int d = hex_digit(c);
    switch (expect_) {
    case Expect::Command:
        break;
    case Expect::ReadLow:
        expect_ = Expect::Command;
        if (d >= 0) {
            const int a = high_ * 16 + d;
            if (!readable(a))
                return;
            log_.push_back("R" + hex_byte(a));
            std::string t;
            for (int v : blocks_[a])
                // A selector outside 0..15 (a damaged cell) is sent as "?".
                t += a != 0x13 ? hex_byte(v) : v >= 0 && v <= 15 ? std::string(1, hex_char(v)) : "?";
            reply(t, bench_ ? clock_.at(bench_->now(), kTurnaroundBits) : 0);
            return;
        }
        break; // not a digit: a command
    case Expect::WriteHigh:
        if (d >= 0) {
            high_ = d;
            expect_ = Expect::WriteLow;
            return;
        }
        expect_ = Expect::Command;
        break;
    case Expect::WriteLow:
        if (d >= 0) {
            address_ = high_ * 16 + d;
            digits_ = 0;
            pending_ = blocks_[address_]; // the digits go here until the write ends
            log_.push_back("Z" + hex_byte(address_));
            expect_ = Expect::Data;
            return;
        }
        expect_ = Expect::Command;
        break;
    case Expect::Data:
        if (d >= 0) {
            store_digit(d);
            return;
        }
        end_write();
        break;
    }
    command(c);
}

void G136Mechanism::command(uint8_t c)
{
    expect_ = Expect::Command;
    const uint64_t now = bench_ ? bench_->now() : 0;
    const int d = hex_digit(c);
    if (d >= 0) {
        high_ = d;
        expect_ = Expect::ReadLow;
        return;
    }
    switch (c) {
    case 'I':
        log_.push_back("I");
        // As another family: the G13.0000's answer to its opening.
        reply(faults_.other_family ? "0=" : kIdentity, clock_.at(now, kTurnaroundBits));
        break;
    case 'X': log_.push_back("X"); break;
    case 0xE9: log_.push_back("E9"); break;
    case 'Z': expect_ = Expect::WriteHigh; break;
    case 'W':
    case 'T': {
        log_.push_back(std::string(1, char(c)));
        if (!coins_on_)
            break;
        Measures m;
        if (!coins_.empty()) {
            m = coins_.front();
            coins_.pop_front();
        } else {
            m = kCatalogue[coin_index_++ % kCatalogue.size()];
        }
        std::string t;
        for (int v : m)
            t += hex_byte(v);
        reply(t, now + coin_delay_);
        break;
    }
    default: break; // not a command: ignored
    }
}

void G136Mechanism::store_digit(int digit)
{
    std::vector<int>& b = pending_;
    const int p = digits_++;
    if (write_protected_)
        return;
    if (address_ == 0x13) {
        if (size_t(p) < b.size())
            b[size_t(p)] = digit;
        return;
    }
    if (address_ == 0x11) {
        // Digit p is channel p + 1: byte p, low half for an odd channel.
        if (size_t(p) < b.size())
            b[size_t(p)] = p % 2 == 0 ? (b[size_t(p)] & 0xF0) | digit : (b[size_t(p)] & 0x0F) | (digit << 4);
        return;
    }
    if (size_t(p / 2) >= b.size())
        return;
    int& v = b[size_t(p / 2)];
    v = p % 2 == 0 ? (v & 0x0F) | (digit << 4) : (v & 0xF0) | digit;
}

void G136Mechanism::end_write()
{
    log_.push_back("W" + hex_byte(address_) + ":" + std::to_string(digits_));
    expect_ = Expect::Command;
    if (digits_ == 0)
        return;
    std::vector<int>& kept = blocks_[address_];
    switch (next_write_fate()) {
    case WriteFate::Kept: kept = pending_; break;
    case WriteFate::Lost: break; // taken, kept nowhere
    case WriteFate::OneBitChanged: {
        // Bit 0 of the first byte (digit, in block "13") the write changed;
        // of the first one when it changed none.
        size_t k = 0;
        while (k < pending_.size() && k < kept.size() && pending_[k] == kept[k])
            ++k;
        if (k == pending_.size() || k == kept.size())
            k = 0;
        kept = pending_;
        if (!kept.empty())
            kept[k] ^= 1;
        break;
    }
    }
    ++block_writes_;
    if (power_cut_after_ > 0 && block_writes_ >= power_cut_after_)
        powered_ = false;
}

void G136Mechanism::reply(const std::string& text, uint64_t at)
{
    const uint64_t t0 = std::max(at, tx_end_);
    int k = 0; // bit edges counted from the first
    for (unsigned char c : text) {
        for (int b = 0; b < 10; ++b, ++k) {
            const bool level = b == 0 ? false : b == 9 ? true : bool((c >> (b - 1)) & 1);
            if (level != tx_last_)
                tx_.push_back({level, clock_.at(t0, k)});
            tx_last_ = level;
        }
    }
    tx_end_ = clock_.at(t0, k);
    schedule();
}

void G136Mechanism::schedule()
{
    if (!bench_)
        return;
    uint64_t next = tx_.empty() ? kNever : tx_.front().second;
    bench_->wake_at(*this, std::min(next, next_));
}

void G136Mechanism::on_wake(uint64_t now)
{
    if (!bench_)
        return;
    while (!tx_.empty() && tx_.front().second <= now) {
        bench_->drive(*this, kReplyBit, tx_.front().first ? 0 : kReplyBit);
        tx_.pop_front();
    }
    while (next_ <= now)
        take_sample();
    schedule();
}

} // namespace zuna::sim
