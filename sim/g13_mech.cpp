#include "sim/g13_mech.h"

#include <algorithm>
#include <cctype>

#include "sim/bench.h"

namespace zuna::sim {

namespace {
constexpr uint8_t kReplyBit = 0x80; // set = mechanism line at level 0
constexpr int kIdleBits = 10;       // idle line needed after a bad character
constexpr int kTurnaroundBits = 3;  // from the stop bit's middle to the reply

// A small catalogue of coins (four measurements each), passed in turn.
constexpr std::array<std::array<int, 4>, 3> kCatalogue = {{
    {118, 82, 201, 36},
    {143, 97, 176, 52},
    {96, 64, 222, 28},
}};
} // namespace

G13Mechanism::G13Mechanism(Bench& bench)
    : slow_bit_(bench.mech_ticks(kSlowBitMicros)), fast_bit_(bench.mech_ticks(kFastBitMicros)),
      coin_delay_(bench.mech_ticks(kCoinDelayMicros))
{
    rx_[0].bit = MechClock{bench.mech_units(kSlowBitMicros)};
    rx_[1].bit = MechClock{bench.mech_units(kFastBitMicros)};
    const Channel factory[6] = {
        {{125, 85, 205, 40}, {112, 76, 196, 31}},
        {{150, 104, 183, 58}, {137, 91, 170, 47}},
        {{102, 70, 229, 33}, {91, 59, 215, 24}},
        {{180, 120, 160, 70}, {165, 108, 148, 60}},
        {{0, 0, 0, 0}, {0, 0, 0, 0}},
        {{255, 255, 255, 255}, {0, 0, 0, 0}},
    };
    std::copy(std::begin(factory), std::end(factory), channels_.begin());
}

void G13Mechanism::start()
{
    if (!bench_)
        return;
    line_ = bench_->data() & 1;
    rise_ = bench_->now();
    bench_->drive(*this, kReplyBit, 0);
}

void G13Mechanism::on_data(uint64_t now, uint8_t old_value, uint8_t value)
{
    if (((old_value ^ value) & 1) == 0)
        return;
    line_ = value & 1;
    if (line_) {
        rise_ = now;
        if (fell_ && now - fall_ < rx_[1].bit.ticks(1.0 / 8)) { // a pulse no receiver can take: a wake-up probe
            wake_due_ = rx_[0].bit.at(now, 1);
            schedule();
        }
        return;
    }
    fall_ = now;
    fell_ = true;
    // A falling edge: a start bit for every receiver free to take it.
    for (Receiver& r : rx_) {
        if (r.busy)
            continue;
        if (r.need_idle) {
            if (now - rise_ < r.bit.ticks(kIdleBits))
                continue;
            r.need_idle = false;
        }
        begin_char(r, now);
    }
    schedule();
}

uint64_t G13Mechanism::sample_time(const Receiver& r, int sample) const
{
    const int bit = sample / 3;
    return r.bit.at(r.start, bit + 0.5 + (sample % 3 - 1) / 16.0);
}

void G13Mechanism::begin_char(Receiver& r, uint64_t now)
{
    r.busy = true;
    r.start = now;
    r.sample = 0;
    r.next = sample_time(r, 0);
}

void G13Mechanism::take_sample(Receiver& r)
{
    const bool level = line_;
    const int bit = r.sample / 3;
    if (r.sample % 3 == 0)
        r.bits[bit] = level;
    else if (r.bits[bit] != level)
        r.bits[bit] = 2; // samples disagree: noise
    ++r.sample;
    const bool start_bad = (r.sample == 3 && r.bits[0] != 0);
    if (start_bad || r.sample == 30) {
        r.busy = false;
        r.next = kNever;
        if (start_bad || r.bits[9] != 1) {
            r.need_idle = true;
            ++dropped_;
            return;
        }
        uint8_t c = 0;
        for (int b = 0; b < 8; ++b) {
            if (r.bits[b + 1] == 2) {
                r.need_idle = true;
                ++dropped_;
                return;
            }
            c |= uint8_t(r.bits[b + 1] << b);
        }
        received(r, c);
        return;
    }
    r.next = sample_time(r, r.sample);
}

std::string G13Mechanism::three(int v)
{
    v = std::clamp(v, 0, 255);
    std::string t(3, '0');
    t[0] = char('0' + v / 100);
    t[1] = char('0' + v / 10 % 10);
    t[2] = char('0' + v % 10);
    return t;
}

std::array<int, 4> G13Mechanism::next_coin()
{
    if (!coins_.empty()) {
        auto c = coins_.front();
        coins_.pop_front();
        return c;
    }
    return kCatalogue[coin_index_++ % kCatalogue.size()];
}

void G13Mechanism::received(Receiver& r, uint8_t c)
{
    if (!powered_)
        return;
    using E = Receiver::Expect;
    const uint64_t now = bench_ ? bench_->now() : 0;
    const uint64_t answer = r.bit.at(now, kTurnaroundBits);
    auto restart = [&] {
        r.expect = E::Command;
        r.buf.clear();
    };
    switch (r.expect) {
    case E::Command:
        r.buf.clear();
        switch (c) {
        case 'I':
            log_.push_back("I");
            // As another family: the G13.6000's two identity bytes, at this rate.
            reply(r, faults_.other_family ? "0736" : "0=", answer);
            break;
        case 'U':
            log_.push_back("U");
            reply(r, "0000000" + std::string(1, char('0' + mode / 10 % 10)) + char('0' + mode % 10) + "=", answer);
            break;
        case 'Z':
            log_.push_back("Z");
            reply(r, production_date + equipment + reprogramming_date + "=", answer);
            break;
        case 'W':
        case 'T': {
            log_.push_back(std::string(1, char(c)));
            const auto m = next_coin();
            reply(r, three(m[0]) + three(m[1]) + three(m[2]) + three(m[3]) + "=", now + coin_delay_);
            break;
        }
        case 'A': r.expect = E::A2; break;
        case 'V': r.expect = E::VDigit; break;
        case 'D': r.expect = E::DDigit; break;
        case 'J': r.expect = E::JDigits; break;
        case 'E': r.expect = E::Date; break;
        default: break; // not a command: ignored
        }
        return;
    case E::A2:
        if (c == 0x16)
            log_.push_back("reset");
        else if (c == 0x18)
            log_.push_back("end");
        restart();
        return;
    case E::VDigit:
        restart();
        if (c >= '1' && c <= '6') {
            log_.push_back(std::string("V") + char(c));
            const Channel& ch = channels_[c - '1'];
            std::string t;
            for (int v : ch.max)
                t += three(v);
            for (int v : ch.min)
                t += three(v);
            reply(r, t + "=", answer);
        }
        return;
    case E::DDigit:
        if (c >= '1' && c <= '6') {
            log_.push_back(std::string("D") + char(c));
            r.selected = c - '0';
            r.values_line = 0;
            r.expect = E::Values;
            r.buf.clear();
        } else {
            restart();
        }
        return;
    case E::Values:
        if (std::isdigit(c)) {
            r.buf += char(c);
            if (r.buf.size() > 12)
                restart();
            return;
        }
        if (c == 0x0D && r.buf.size() == 12) {
            std::array<int, 4>& dst = r.values_line == 0 ? r.pending.max : r.pending.min;
            for (int k = 0; k < 4; ++k)
                dst[size_t(k)] = std::stoi(r.buf.substr(size_t(3 * k), 3));
            r.buf.clear();
            if (++r.values_line == 2) {
                store_record(r.selected, r.pending);
                log_.push_back("values");
                ++channel_writes_;
                if (power_cut_after_ > 0 && channel_writes_ >= power_cut_after_)
                    powered_ = false;
                restart();
            }
            return;
        }
        restart();
        if (c == 'E') // the date may follow a selection without values
            r.expect = E::Date;
        return;
    case E::JDigits:
        if (!std::isdigit(c)) {
            restart();
            return;
        }
        r.buf += char(c);
        if (r.buf.size() == 2) {
            // The mode is a write like a record: kept, kept wrong, or lost.
            switch (next_write_fate()) {
            case WriteFate::Kept: mode = std::stoi(r.buf); break;
            case WriteFate::OneBitChanged: mode = std::stoi(r.buf) ^ 1; break;
            case WriteFate::Lost: break;
            }
            log_.push_back("J" + r.buf);
            restart();
        }
        return;
    case E::Date:
        if (c == 0x0D) {
            if (r.buf.size() == 8 && r.buf[2] == '/' && r.buf[5] == '/') {
                reprogramming_date = r.buf;
                log_.push_back("E" + r.buf);
            }
            restart();
            return;
        }
        if ((std::isdigit(c) || c == '/') && r.buf.size() < 8) {
            r.buf += char(c);
            return;
        }
        restart();
        return;
    }
}

void G13Mechanism::store_record(int channel, const Channel& written)
{
    Channel& kept = channels_[size_t(channel - 1)];
    switch (next_write_fate()) {
    case WriteFate::Kept: kept = written; break;
    case WriteFate::Lost: break; // acknowledged by nothing, kept nowhere
    case WriteFate::OneBitChanged: {
        // Bit 0 of the first value the write changed (of max 1 when none did).
        const Channel before = kept;
        kept = written;
        int* flip = &kept.max[0];
        for (size_t k = 4; k-- > 0;) {
            if (kept.min[k] != before.min[k])
                flip = &kept.min[k];
        }
        for (size_t k = 4; k-- > 0;) {
            if (kept.max[k] != before.max[k])
                flip = &kept.max[k];
        }
        *flip ^= 1;
        break;
    }
    }
}

void G13Mechanism::reply(const Receiver& r, const std::string& text, uint64_t at)
{
    // Characters back to back (start bit, eight data bits, stop bit), after
    // whatever is still being sent.
    const uint64_t t0 = std::max(at, tx_end_);
    int k = 0; // bit edges counted from the first
    for (unsigned char c : text) {
        for (int b = 0; b < 10; ++b, ++k) {
            const bool level = b == 0 ? false : b == 9 ? true : bool((c >> (b - 1)) & 1);
            if (level != tx_last_)
                tx_.push_back({level, r.bit.at(t0, k)});
            tx_last_ = level;
        }
    }
    tx_end_ = r.bit.at(t0, k);
    schedule();
}

void G13Mechanism::schedule()
{
    if (!bench_)
        return;
    uint64_t next = std::min(tx_.empty() ? kNever : tx_.front().at, wake_due_);
    for (const Receiver& r : rx_)
        next = std::min(next, r.next);
    bench_->wake_at(*this, next);
}

void G13Mechanism::on_wake(uint64_t now)
{
    if (!bench_)
        return;
    if (wake_due_ <= now) {
        wake_due_ = kNever;
        if (powered_ && tx_.empty()) {
            const MechClock& slow = rx_[0].bit;
            const uint64_t echo = std::max<uint64_t>(slow.ticks(1.0 / 64), 1);
            tx_.push_back({false, now});
            tx_.push_back({true, now + echo});
            tx_.push_back({false, now + 2 * echo});
            tx_.push_back({true, slow.at(now + 2 * echo, 2)});
            tx_end_ = slow.at(now + 2 * echo, 2);
        }
    }
    while (!tx_.empty() && tx_.front().at <= now) {
        bench_->drive(*this, kReplyBit, tx_.front().level ? 0 : kReplyBit);
        tx_.pop_front();
    }
    for (Receiver& r : rx_)
        while (r.next <= now)
            take_sample(r);
    schedule();
}

} // namespace zuna::sim
