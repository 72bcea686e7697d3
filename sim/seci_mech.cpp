#include "sim/seci_mech.h"

#include <algorithm>

#include "sim/bench.h"

namespace zuna::sim {

namespace {
constexpr uint8_t kAnswer = 0x02;
// Bit times between two record bytes after which a record being received is
// given up (the station sends a record list without gaps).
constexpr uint64_t kRecordGapBits = 40;
} // namespace

namespace {
std::vector<std::vector<uint8_t>> factory_of(const SeciMech::Params& p)
{
    std::vector<std::vector<uint8_t>> r = p.factory;
    r.resize(size_t(p.channels), std::vector<uint8_t>(size_t(p.record_chars), 0xFF));
    for (auto& b : r)
        b.resize(size_t(p.record_chars), 0);
    return r;
}
} // namespace

SeciMech::SeciMech(Bench& bench, const Params& p, const Params& other)
    : bench_ref_(bench), p_(p), other_(other), bit_(bench.mech_ticks(p.bit_micros)),
      unit_{bench.mech_units(p.bit_micros)}, records_(factory_of(p)),
      coin_delay_(bench.mech_ticks(kCoinDelayMicros))
{
    received_.reserve(4096);
}

std::vector<uint8_t> Rm3Mech::record_bytes(const std::array<int, 8>& v, int flags, int output)
{
    std::vector<uint8_t> b;
    for (size_t i = 0; i < 6; ++i) {
        b.push_back(uint8_t((v[i] >> 8) & 0xFF));
        b.push_back(uint8_t(v[i] & 0xFF));
    }
    b.push_back(uint8_t(0xF0 | (flags & 0x0F)));
    b.push_back(uint8_t(0x90 | (output & 0x0F)));
    return b;
}

std::vector<std::vector<uint8_t>> Rm3Mech::factory_records()
{
    return {
        record_bytes({1260, 1180, 2450, 2330, 3620, 3480}, 5, 1),
        record_bytes({1420, 1340, 2610, 2490, 3810, 3690}, 7, 2),
        record_bytes({1580, 1500, 2790, 2650, 4020, 3880}, 0, 3),
        record_bytes({1750, 1660, 2960, 2820, 4230, 4090}, 2, 4),
        record_bytes({980, 900, 2150, 2030, 3320, 3190}, 8, 8),
        record_bytes({65535, 65535, 65535, 65535, 65535, 65535}, 8, 15),
    };
}

SeciMech::Params Rm3Mech::params()
{
    return Params{false, kBitMicros, 6, 14, factory_records(),
                  [](const std::array<int, 8>& v) { return record_bytes(v, 0, 0); },
                  {1220, 1215, 2390, 2385, 3550, 3545, 0, 0}, 12, 5519};
}

Rm3Mech::Rm3Mech(Bench& bench) : SeciMech(bench, params(), Rm4Mech::params()) {}

std::vector<uint8_t> Rm4Mech::record_bytes(const std::array<int, 8>& v, int flags, int output)
{
    std::vector<uint8_t> b;
    for (size_t i = 0; i < 6; ++i)
        b.push_back(uint8_t(v[i] & 0xFF));
    for (size_t i = 6; i < 8; ++i) {
        b.push_back(uint8_t((v[i] >> 8) & 0xFF));
        b.push_back(uint8_t(v[i] & 0xFF));
    }
    b.push_back(uint8_t(0x10 + (flags & 0x0F)));
    b.push_back(uint8_t(0x20 + ((output & 0x0F) | 8)));
    return b;
}

std::vector<std::vector<uint8_t>> Rm4Mech::factory_records()
{
    std::vector<std::vector<uint8_t>> r;
    r.push_back(record_bytes({200, 180, 90, 80, 150, 140, 30000, 29000}, 2, 1));
    for (int n = 2; n <= 11; ++n) {
        const int d = 6 * n;
        r.push_back(record_bytes({60 + d, 50 + d, 40 + d, 30 + d, 70 + d, 60 + d, 20000 + 500 * n, 19000 + 500 * n},
                                 n % 8, 1 + n % 6));
    }
    r.push_back(record_bytes({255, 255, 255, 255, 255, 255, 65535, 65535}, 8, 15));
    return r;
}

SeciMech::Params Rm4Mech::params()
{
    return Params{true, kBitMicros, 12, 12, factory_records(),
                  [](const std::array<int, 8>& v) {
                      std::vector<uint8_t> b;
                      for (size_t i = 0; i < 6; ++i)
                          b.push_back(uint8_t(v[i] & 0xFF));
                      b.push_back(uint8_t((v[6] >> 8) & 0xFF));
                      b.push_back(uint8_t(v[6] & 0xFF));
                      b.resize(12, 0);
                      return b;
                  },
                  {190, 190, 85, 85, 145, 145, 29500, 0}, 2, 255};
}

Rm4Mech::Rm4Mech(Bench& bench) : SeciMech(bench, params(), Rm3Mech::params()) {}

void SeciMech::set_coin_delay_micros(double us) { coin_delay_ = bench_ref_.mech_ticks(us); }

void SeciMech::start()
{
    if (faults_.other_family) {
        // The other family's commands, channels and records from now on.
        p_ = other_;
        records_ = factory_of(p_);
    }
    if (bench_)
        bench_->drive(*this, 0x80, 0);
}

void SeciMech::schedule()
{
    if (bench_)
        bench_->wake_at(*this, std::min({rx_next_, tx_next_, coin_due_}));
}

void SeciMech::on_data(uint64_t now, uint8_t old_value, uint8_t value)
{
    if (!powered_ || rx_busy_)
        return;
    if ((old_value & 1) && !(value & 1)) { // start edge
        rx_busy_ = true;
        rx_start_ = now;
        rx_index_ = 0;
        rx_byte_ = 0;
        rx_next_ = unit_.at(now, 0.5);
        schedule();
    }
}

void SeciMech::on_wake(uint64_t now)
{
    if (rx_next_ <= now)
        sample(now);
    if (tx_next_ <= now)
        next_segment(now);
    if (coin_due_ <= now)
        drop_coin();
    schedule();
}

void SeciMech::sample(uint64_t now)
{
    const bool high = bench_ ? (bench_->data() & 1) : true;
    if (rx_index_ == 0 && high) { // a glitch, not a start bit
        rx_busy_ = false;
        rx_next_ = kNever;
        return;
    }
    if (rx_index_ >= 1 && rx_index_ <= 8)
        rx_byte_ = uint8_t(rx_byte_ >> 1 | (high ? 0x80 : 0));
    if (rx_index_ == 9) {
        rx_busy_ = false;
        rx_next_ = kNever;
        if (!high) {
            ++framing_errors_; // bad stop bit: the character is lost
            return;
        }
        take(rx_byte_, now);
        return;
    }
    ++rx_index_;
    rx_next_ = unit_.at(rx_start_, rx_index_ + 0.5);
}

void SeciMech::take(uint8_t c, uint64_t now)
{
    received_.push_back(c);
    const uint64_t gap = now - last_char_;
    last_char_ = now;
    if (state_ == State::Record) {
        if (gap > unit_.ticks(kRecordGapBits)) {
            state_ = State::Idle; // the record never came whole
            incoming_.clear();
        } else {
            incoming_.push_back(c);
            if (int(incoming_.size()) == p_.record_chars) {
                keep_record();
                incoming_.clear();
                state_ = State::Idle;
                write_open_ = false;
                wrote_ = p_.rm4;
                ++record_writes_;
                send({kAnswer});
                if (power_cut_after_ > 0 && record_writes_ >= power_cut_after_)
                    power_off();
            }
            return;
        }
    }
    if (p_.rm4)
        take_rm4(c, now);
    else
        take_rm3(c, now);
}

bool SeciMech::take_rm3(uint8_t c, uint64_t now)
{
    const int n = c;
    if (state_ == State::ReadSelect && n >= 1 && n <= p_.channels) {
        send_record(n);
        state_ = State::Idle;
        return true;
    }
    if (state_ == State::Test && n >= 1 && n <= p_.channels) {
        coin_due_ = coins_on_ ? now + coin_delay_ : kNever;
        state_ = State::Idle;
        return true;
    }
    switch (c) {
    case 0x00:
        send_ready();
        return true; // the read select and the test survive the 0x00s around them
    case 0x09:
        state_ = State::ReadSelect;
        return true;
    case 0x02:
        state_ = State::Test;
        return true;
    case 0x01:
        write_open_ = true;
        send({kAnswer});
        state_ = State::Idle;
        return true;
    case 0x10:
    case 0x0C:
    case 0x12:
    case 0x17:
        send({kAnswer});
        state_ = State::Idle;
        return true;
    default:
        break;
    }
    if (write_open_ && n >= 3 && n - 2 <= p_.channels) {
        target_ = n - 2;
        incoming_.clear();
        state_ = State::Record;
        return true;
    }
    state_ = State::Idle;
    return false;
}

bool SeciMech::take_rm4(uint8_t c, uint64_t now)
{
    const int n = c;
    switch (state_) {
    case State::ReadSelect:
        state_ = State::Idle;
        if (n < p_.channels) {
            send_record(n + 1);
            return true;
        }
        send({kAnswer});
        return true;
    case State::WriteSelect:
        state_ = State::Idle;
        if (n < p_.channels) {
            target_ = n + 1;
            incoming_.clear();
            state_ = State::Record;
            return true;
        }
        return false;
    case State::EndWrite:
        state_ = State::Idle;
        send({kAnswer});
        return true;
    default:
        break;
    }
    if (coin_mode_ && c != 0x00 && c != 0x01)
        coin_mode_ = false;
    switch (c) {
    case 0x00:
        send_ready();
        return true;
    case 0x01:
        write_open_ = true;
        if (coin_mode_)
            coin_due_ = coins_on_ ? now + coin_delay_ : kNever;
        else
            send({kAnswer});
        return true;
    case 0x02:
        coin_mode_ = true;
        return true;
    case 0x03:
        if (write_open_)
            state_ = State::WriteSelect;
        return write_open_;
    case 0x04:
        state_ = wrote_ ? State::EndWrite : State::ReadSelect;
        wrote_ = false;
        return true;
    case 0x07:
    case 0x08:
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0F:
    case 0x11:
        send({kAnswer});
        return true;
    default:
        return false;
    }
}

void SeciMech::queue(const std::vector<Segment>& segs)
{
    if (!powered_)
        return;
    const bool idle = tx_.empty() && tx_next_ == kNever;
    // Answers start two bit times after the end of the stop bit (sampled in
    // its middle): a station listens two units after the last stretch it
    // sent, and hears an answer from its first edge.
    if (idle)
        tx_.push_back({false, 2.5});
    tx_.insert(tx_.end(), segs.begin(), segs.end());
    if (idle && bench_) {
        tx_next_ = tx_origin_ = bench_->now();
        tx_bits_ = 0;
        schedule();
    }
}

void SeciMech::send(const std::vector<uint8_t>& bytes)
{
    std::vector<Segment> s;
    for (uint8_t b : bytes) {
        s.push_back({true, 1, true}); // start bit
        for (int i = 0; i < 8; ++i)
            s.push_back({!((b >> i) & 1), 1});
        s.push_back({false, 1}); // stop bit
    }
    queue(s);
}

void SeciMech::keep_record()
{
    // Answered 0x02 in every case: the station cannot tell from the answer.
    switch (next_write_fate()) {
    case WriteFate::Kept:
        records_[size_t(target_ - 1)] = incoming_;
        break;
    case WriteFate::OneBitChanged:
        records_[size_t(target_ - 1)] = incoming_;
        records_[size_t(target_ - 1)][1] ^= 0x01;
        break;
    case WriteFate::Lost:
        break;
    }
}

void SeciMech::send_record(int n)
{
    std::vector<uint8_t> b = records_[size_t(n - 1)];
    if (n == garbled_channel_ && !garble_.empty()) {
        b[0] ^= garble_.front();
        garble_.pop_front();
    }
    send(b);
}

void SeciMech::send_ready() { queue({{true, 0.25, true}, {false, 1}, {true, 7}, {false, 1}}); }

void SeciMech::next_segment(uint64_t now)
{
    if (tx_.empty() || !bench_) {
        tx_next_ = kNever;
        if (bench_)
            bench_->drive(*this, 0x80, 0);
        return;
    }
    const Segment s = tx_.front();
    tx_.pop_front();
    bench_->drive(*this, 0x80, s.low ? 0x80 : 0);
    if (s.frame) {
        tx_origin_ = now;
        tx_bits_ = 0;
    }
    tx_bits_ += s.bits;
    tx_next_ = std::max(now + 1, unit_.at(tx_origin_, tx_bits_));
}

void SeciMech::drop_coin()
{
    coin_due_ = kNever;
    std::array<int, 8> v{};
    if (!coins_.empty()) {
        v = coins_.front();
        coins_.pop_front();
    } else {
        // A coin inside channel 1 of the factory records, with some spread.
        for (size_t i = 0; i < 8; ++i) {
            if (p_.coin_mean[i] == 0)
                continue;
            std::normal_distribution<double> d(p_.coin_mean[i], p_.coin_spread);
            v[i] = int(std::clamp(d(rng_), 0.0, i < 6 ? p_.coin_top : 65535.0));
        }
    }
    ++coins_dropped_;
    std::vector<uint8_t> b = p_.coin_bytes(v);
    b.resize(size_t(p_.record_chars), 0);
    send(b);
}

void SeciMech::power_off()
{
    powered_ = false;
    tx_.clear();
    tx_next_ = kNever;
    rx_busy_ = false;
    rx_next_ = kNever;
    coin_due_ = kNever;
    if (bench_)
        bench_->drive(*this, 0x80, 0);
}

} // namespace zuna::sim
