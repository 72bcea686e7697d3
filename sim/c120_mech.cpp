#include "sim/c120_mech.h"

#include <algorithm>
#include <cmath>

#include "sim/bench.h"
#include "sim/c220b_mech.h"

namespace zuna::sim {

const std::vector<CoinModel>& coin_catalogue()
{
    static const std::vector<CoinModel> coins = {
        {"0,10 EUR", {96, 142, 60}, {1.5, 1.5, 1.2}},
        {"0,20 EUR", {110, 150, 72}, {1.5, 1.5, 1.2}},
        {"0,50 EUR", {128, 165, 88}, {1.8, 1.5, 1.5}},
        {"1 EUR", {140, 120, 101}, {2.0, 1.5, 1.5}},
        {"2 EUR", {160, 131, 118}, {2.0, 1.8, 1.5}},
        {"JETON", {80, 200, 45}, {1.2, 2.0, 1.0}},
    };
    return coins;
}

SerialMech::SerialMech(Bench& bench, double bit_micros)
    : bench_ref_(bench), bit_ticks_(bench.mech_ticks(bit_micros)), bit_{bench.mech_units(bit_micros)},
      coin_delay_(bench.mech_ticks(200000))
{
    command_.reserve(8);
    commands_.reserve(1024);
}

void SerialMech::set_coin_delay_micros(double us) { coin_delay_ = bench_ref_.mech_ticks(us); }

void SerialMech::start()
{
    if (bench_)
        bench_->drive(*this, 0x80, 0);
}

bool SerialMech::checksum_holds() const
{
    unsigned sum = 0;
    for (int i = 0; i < 256; ++i)
        if (i != 1)
            sum += memory_[i];
    return uint8_t(sum) == 0;
}

void seal_checksum(std::array<uint8_t, 256>& m)
{
    unsigned sum = 0;
    for (int i = 0; i < 256; ++i)
        if (i != 1 && i != 254)
            sum += m[i];
    m[254] = uint8_t(-sum);
}

void SerialMech::fix_checksum() { seal_checksum(memory_); }

void SerialMech::schedule()
{
    if (bench_)
        bench_->wake_at(*this, std::min({rx_next_, tx_next_, coin_due_, nak_at_}));
}

void SerialMech::on_data(uint64_t now, uint8_t old_value, uint8_t value)
{
    if (!powered_ || rx_ != Rx::Idle)
        return;
    if (line(old_value) && !line(value)) { // start edge
        nak_at_ = kNever; // the line is busy again: the answer waits for its rest
        if (!command_.empty() && now - last_byte_end_ > bit_.ticks(40))
            command_.clear();
        rx_ = Rx::Start;
        rx_start_ = now;
        rx_next_ = bit_.at(now, 0.5);
        schedule();
    }
}

void SerialMech::on_wake(uint64_t now)
{
    if (rx_next_ <= now)
        sample(now);
    if (tx_next_ <= now)
        send_next(now);
    if (coin_due_ <= now)
        drop_coin(now);
    if (nak_at_ <= now) {
        nak_at_ = kNever;
        nak_pending_ = false;
        ++naks_;
        reply({kNak}, 0);
    }
    schedule();
}

int SerialMech::command_length(const std::vector<uint8_t>& begun) const
{
    switch (begun.empty() ? 0 : begun[0]) {
    case 0x05: // open, close, read word
    case 0x7F: // measure coin
        return 4;
    case 0x7A: // write word
        return 5;
    default:
        return 0;
    }
}

void SerialMech::sample(uint64_t now)
{
    const bool level = bench_ ? line(bench_->data()) : true;
    switch (rx_) {
    case Rx::Idle:
        rx_next_ = kNever;
        return;
    case Rx::Start:
        if (level) { // a glitch, not a start bit
            rx_ = Rx::Idle;
            rx_next_ = kNever;
            return;
        }
        rx_ = Rx::Data;
        rx_bit_ = 0;
        rx_byte_ = 0;
        break;
    case Rx::Data:
        rx_byte_ = uint8_t(rx_byte_ >> 1 | (level ? 0x80 : 0));
        if (++rx_bit_ == 8) {
            command_.push_back(rx_byte_);
            const int length = command_length(command_);
            const bool last = length > 0 && int(command_.size()) == length;
            command_.pop_back();
            // The C120 acts on the last byte of a command at its eighth data
            // bit: the station listens right after it and holds the line there.
            if (last && acts_before_stop()) {
                command_.push_back(rx_byte_);
                finish_command(now);
                return;
            }
            rx_ = Rx::Stop;
        }
        break;
    case Rx::Stop:
        rx_ = Rx::Idle;
        rx_next_ = kNever;
        last_byte_end_ = now;
        if (!level) { // bad stop bit: the character is lost, and the command with it
            ++framing_errors_;
            command_.clear();
            nak_pending_ = true;
            nak_at_ = bit_.at(now, kNakRestBits);
            return;
        }
        if (nak_pending_) // a character framed after a bad one: the answer waits again
            nak_at_ = bit_.at(now, kNakRestBits);
        command_.push_back(rx_byte_);
        {
            const int length = command_length(command_);
            if (length == 0) { // not the start of a command: answered as a character not framed
                command_.clear();
                nak_pending_ = true;
                nak_at_ = bit_.at(now, kNakRestBits);
            }
            else if (int(command_.size()) == length)
                finish_command(now);
        }
        return;
    }
    const int index = rx_ == Rx::Stop ? 9 : rx_bit_ + 1;
    rx_next_ = bit_.at(rx_start_, index + 0.5);
}

void SerialMech::finish_command(uint64_t now)
{
    commands_.push_back(command_);
    const std::vector<uint8_t> c = command_;
    command_.clear();
    rx_ = Rx::Idle;
    rx_next_ = kNever;
    last_byte_end_ = now;
    if (nak_pending_)
        nak_at_ = bit_.at(now, kNakRestBits);
    execute(c, now);
}

void SerialMech::reply(const std::vector<uint8_t>& bytes, int delay_bits, int pause_bits)
{
    if (!powered_)
        return;
    if (tx_.empty() && tx_next_ == kNever)
        tx_.push_back({false, double(delay_bits)});
    for (uint8_t b : bytes) {
        tx_.push_back({true, 1, true}); // start bit
        for (int i = 0; i < 8; ++i)
            tx_.push_back({!((b >> i) & 1), 1}); // data inverted
        tx_.push_back({false, double(pause_bits)});
    }
    if (tx_next_ == kNever && bench_) {
        tx_next_ = tx_origin_ = bench_->now();
        tx_bits_ = 0;
        schedule();
    }
}

void SerialMech::send_next(uint64_t now)
{
    if (tx_.empty() || !bench_) {
        tx_next_ = kNever;
        if (bench_)
            bench_->drive(*this, 0x80, 0);
        return;
    }
    const Segment s = tx_.front();
    tx_.pop_front();
    bench_->drive(*this, 0x80, s.level ? 0x80 : 0);
    if (s.frame) {
        tx_origin_ = now;
        tx_bits_ = 0;
    }
    tx_bits_ += s.bits;
    tx_next_ = std::max(now, bit_.at(tx_origin_, tx_bits_));
}

void SerialMech::arm_coin(uint64_t now) { coin_due_ = coins_on_ ? now + coin_delay_ : kNever; }

void SerialMech::drop_coin(uint64_t)
{
    coin_due_ = kNever;
    std::array<uint8_t, 3> v{};
    if (!queued_.empty()) {
        v = queued_.front();
        queued_.pop_front();
    } else {
        const auto& cat = coin_catalogue();
        const CoinModel& c = cat[std::clamp(coin_, 0, int(cat.size()) - 1)];
        for (int p = 0; p < 3; ++p) {
            std::normal_distribution<double> d(c.mean[p], c.spread[p]);
            v[p] = uint8_t(std::clamp(std::lround(d(rng_)), 0L, 255L));
        }
    }
    ++coins_dropped_;
    reply({5, v[0], v[1], v[2]});
}

void SerialMech::power_off()
{
    powered_ = false;
    tx_.clear();
    tx_next_ = kNever;
    nak_pending_ = false;
    nak_at_ = kNever;
    rx_ = Rx::Idle;
    rx_next_ = kNever;
    coin_due_ = kNever;
    if (bench_)
        bench_->drive(*this, 0x80, 0);
}

uint8_t SerialMech::open_answer()
{
    ++opens_;
    if (spoiled_opens_ <= 0)
        return 5;
    --spoiled_opens_;
    return 0x45;
}

void SerialMech::execute(const std::vector<uint8_t>& c, uint64_t now)
{
    if (c[0] == 0x05 && c[1] == 0x78 && c[2] == 0x78 && c[3] == 0xFF) { // open
        disarm_coin();
        reply({open_answer()});
    } else if (c[0] == 0x05 && c[1] == 0x79 && c[2] == 0x79 && c[3] == 0xFF) { // close
        disarm_coin();
        reply({5});
    } else if (c[0] == 0x05 && c[1] == 0x7B && c[2] < 128 && c[3] == uint8_t(0x7B + c[2])) {
        disarm_coin();
        const uint8_t f = memory_[2 * c[2]], s = memory_[2 * c[2] + 1];
        if (++word_reads_ == cut_at_read_) {
            power_off();
            return;
        }
        const uint8_t check = uint8_t(f + s + 0x3B + (spoiled_ > 0 ? 1 : 0));
        if (spoiled_ > 0)
            --spoiled_;
        reply({5, c[2], f, s, check});
    } else if (c[0] == 0x7F && c[1] == 0x1F && c[2] == 0x9E && c[3] == 0xFF) { // measure coin
        reply({5});
        arm_coin(now);
    } else if (c[0] == 0x7A && c[1] < 128 && c[4] == uint8_t(c[0] + c[1] + c[2] + c[3])) {
        disarm_coin();
        store_word(c[1], c[2], c[3]);
        ++word_writes_;
        if (power_cut_after_ > 0 && word_writes_ >= power_cut_after_) {
            power_off();
            return;
        }
        reply({5});
    }
}

void SerialMech::store_word(int address, uint8_t first, uint8_t second)
{
    const WriteFate fate = next_write_fate();
    if (fate == WriteFate::Lost)
        return;
    // The first checksum word that would change the checksum byte keeps the old one.
    if (address == 127 && faults_.lost_checksum && !checksum_lost_ && memory_[254] != first) {
        checksum_lost_ = true;
        first = memory_[254];
    }
    if (fate == WriteFate::OneBitChanged) { // bit (seed mod 16) of the word, first byte high
        const int bit = int(faults_.seed % 16);
        (bit < 8 ? second : first) ^= uint8_t(1u << (bit % 8));
    }
    if (address != lost_address_ || lose_second_only_)
        memory_[2 * address] = first;
    if (address != lost_address_)
        memory_[2 * address + 1] = second;
}

C120Mech::C120Mech(Bench& bench) : SerialMech(bench, 139.0), wake_ticks_(bench.mech_ticks(kWakeMicros))
{
    memory_ = factory_memory();
}

void C120Mech::on_data(uint64_t now, uint8_t old_value, uint8_t value)
{
    const bool was_high = old_value & kWakeLine, high = value & kWakeLine;
    if (!was_high && high)
        high_since_ = now;
    else if (was_high && !high && now - high_since_ >= wake_ticks_)
        awake_ = true; // before the receive line is looked at: a start bit may fall with it
    if (awake_)
        SerialMech::on_data(now, old_value, value);
}

// The other family: a C220B on the C120's line, with a C220B's memory,
// awake from power-up as a C220B is.
void C120Mech::start()
{
    if (faults_.other_family) {
        memory_ = C220BMech::factory_memory();
        awake_ = true;
    }
    SerialMech::start();
    if (bench_)
        high_since_ = bench_->now(); // a line high when plugged counts from then
}

int C120Mech::command_length(const std::vector<uint8_t>& begun) const
{
    return faults_.other_family ? c220b_command_length(begun) : SerialMech::command_length(begun);
}

void C120Mech::execute(const std::vector<uint8_t>& c, uint64_t now)
{
    if (faults_.other_family)
        c220b_execute(c, now);
    else
        SerialMech::execute(c, now);
}

std::array<uint8_t, 256> C120Mech::factory_memory()
{
    std::array<uint8_t, 256> m{};
    // Identification and settings the station keeps but does not interpret.
    for (int i = 0; i < 20; ++i)
        m[i] = uint8_t(0x30 + i);
    for (int i = 92; i < 164; ++i)
        m[i] = uint8_t(i * 7);
    for (int i = 178; i < 254; ++i)
        m[i] = uint8_t(0xA0 ^ i);
    m[255] = 0x5A;
    const auto& cat = coin_catalogue();
    for (int c = 1; c <= 12; ++c) {
        for (int k = 0; k < 3; ++k) {
            const int at = 20 + 2 * (c - 1) + 24 * k;
            if (c <= int(cat.size())) {
                const int mean = int(cat[c - 1].mean[k]);
                m[at] = uint8_t(mean + 6);
                m[at + 1] = uint8_t(mean - 6);
            } else { // unused channel: an empty window
                m[at] = 0;
                m[at + 1] = 255;
            }
        }
        const uint8_t mask = uint8_t(1u << ((c - 1) % 6));
        m[(c % 2) ? 163 + c : 165 + c] = mask;
    }
    m[165] = 4;
    m[176] = 0;
    seal_checksum(m);
    return m;
}

} // namespace zuna::sim
