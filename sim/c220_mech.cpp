#include "sim/c220_mech.h"

#include <algorithm>

#include "sim/bench.h"

namespace zuna::sim {

namespace {
constexpr uint8_t kHostClock = 0x20;
constexpr uint8_t kHostData = 0x40;
constexpr uint8_t kHostRequest = 0x08;
constexpr uint8_t kOutData = 0x10;
constexpr uint8_t kOutClock = 0x80;
constexpr size_t kCommandLog = 4096;
} // namespace

std::array<uint8_t, 128> C220Mech::factory_memory()
{
    std::array<uint8_t, 128> m{};
    for (int i = 0; i < 126; ++i)
        m[size_t(i)] = uint8_t(i * 7 + 3);
    for (int n = 1; n <= 8; ++n) {
        const int w = n - 1;
        for (int k = 0; k < 3; ++k) {
            m[size_t(16 * k + 2 * w)] = uint8_t(20 * n + 5 * k);
            m[size_t(16 * k + 2 * w + 1)] = uint8_t(20 * n + 5 * k + 10);
        }
    }
    m[108] = 0x9B; // A3, A4
    m[109] = 0x8A; // A1, A2
    m[110] = 0x00; // RIEN, RIEN
    m[111] = 0xCD; // A1 + A2, A3 + A4
    unsigned sum = 0;
    for (int i = 0; i < 126; ++i)
        sum += m[size_t(i)];
    m[126] = uint8_t(-sum);
    m[127] = 0;
    return m;
}

C220Mech::C220Mech(Bench& bench)
    : b_(bench), mem_(factory_memory()), half_{bench.mech_units(kHalfClockMicros)},
      coin_delay_(bench.mech_ticks(kCoinDelayMicros))
{
}

void C220Mech::start()
{
    // Another family on this bus: its word 63 is a type and version word,
    // not the C220's checksum (negated sum, then 0).
    if (faults_.other_family) {
        mem_[126] = 0x02;
        mem_[127] = 0x20;
    }
    drive(out_);
}

void C220Mech::set_coin_delay_micros(double us) { coin_delay_ = b_.mech_ticks(us); }

void C220Mech::drive(uint8_t bits)
{
    out_ = bits;
    if (powered_)
        b_.drive(*this, kOutData | kOutClock, out_);
    else
        b_.drive(*this, 0, 0);
}

void C220Mech::set_data(bool high) { drive(uint8_t(high ? (out_ | kOutData) : (out_ & ~kOutData))); }

void C220Mech::set_clock(bool high)
{
    clock_high_ = high;
    drive(uint8_t(high ? (out_ | kOutClock) : (out_ & ~kOutClock)));
}

uint8_t C220Mech::evaluate(const std::array<int, 3>& m) const
{
    for (int n = 1; n <= 8; ++n) {
        const int w = n - 1;
        bool inside = true;
        for (int k = 0; k < 3; ++k)
            inside = inside && mem_[size_t(16 * k + 2 * w)] <= m[size_t(k)] && m[size_t(k)] <= mem_[size_t(16 * k + 2 * w + 1)];
        if (inside)
            return uint8_t(1 << (n - 1));
    }
    return 0;
}

// ---- Bus ----------------------------------------------------------------------------

void C220Mech::on_data(uint64_t now, uint8_t old_value, uint8_t value)
{
    if (!powered_)
        return;
    // A request is D3 alone among bits 0..3 and 7: the module memory's
    // clock raises D2 with D3, but its clock-low phase looks the same and
    // is withdrawn long before a coin could come.
    auto request = [](uint8_t v) { return (v & (0x87 | kHostRequest)) == kHostRequest; };
    const bool r0 = request(old_value), r1 = request(value);
    const bool c0 = old_value & kHostClock, c1 = value & kHostClock;
    const bool d0 = old_value & kHostData, d1 = value & kHostData;

    if (r0 != r1) {
        if (r1 && hs_ == Hs::Idle) {
            hs_ = Hs::Requested;
            bus_ = Bus::Idle;
            if (coins_on_ && stall_ != 2)
                hs_due_ = now + coin_delay_;
        } else if (!r1 && hs_ == Hs::Requested) {
            hs_reset(); // withdrawn before the answer
        } else if (!r1 && hs_ == Hs::Answered) {
            hs_ = Hs::Rise;
            hs_due_ = stall_ == 4 ? kNever : half_after(now);
        }
        schedule();
    }

    if (hs_ != Hs::Idle) {
        // The handshake follows the host's data line while the clock is high.
        if (d0 != d1 && c1) {
            if ((stall_ == 6 && hs_ == Hs::WaitLow) || (stall_ == 7 && hs_ == Hs::WaitHigh)) {
                hs_deadline_ = kNever; // stalled: the lines stay as they are
            } else if (!d1 && hs_ == Hs::WaitLow) {
                hs_ = Hs::LowThenRise;
                hs_due_ = half_after(now);
                hs_deadline_ = kNever;
            } else if (d1 && hs_ == Hs::WaitHigh) {
                hs_ = Hs::Bits;
                bits_ = 0;
                hs_due_ = half_after(now);
                hs_deadline_ = kNever;
            }
            schedule();
        }
        return;
    }

    // The clock edge first, then the data.
    if (c0 != c1) {
        if (c1)
            on_rise(d0);
        else
            on_fall();
    }
    if (d0 != d1 && c1) {
        if (!d1)
            on_start(now);
        else
            on_stop(now);
    }
}

void C220Mech::end_command()
{
    if (bytes_.empty())
        return;
    if (commands_.size() >= kCommandLog)
        commands_.clear();
    commands_.push_back(bytes_);
}

void C220Mech::on_start(uint64_t now)
{
    const bool read_asked = bus_ == Bus::Receive && bytes_.size() >= 2 && bytes_[0] == 0x00 && (bytes_[1] & 0xC0) == 0x80;
    end_command();
    pending_read_ = read_asked ? (bytes_[1] & 0x3F) : -1;
    bytes_.clear();
    bit_ = 0;
    shift_ = 0;
    set_data(true);
    // While an erase or a write runs, the memory takes nothing.
    bus_ = now < busy_until_ ? Bus::Idle : Bus::Receive;
}

void C220Mech::on_stop(uint64_t now)
{
    if (bus_ == Bus::Receive) {
        end_command();
        execute(now);
    }
    bytes_.clear();
    bus_ = Bus::Idle;
    set_data(true);
}

void C220Mech::on_rise(bool sda)
{
    if (bus_ == Bus::Receive) {
        if (bit_ < 8) {
            shift_ = uint8_t((shift_ << 1) | (sda ? 1 : 0));
            if (++bit_ == 8)
                bytes_.push_back(shift_);
        } else {
            bit_ = 9;
        }
    } else if (bus_ == Bus::Transmit) {
        if (++tx_bit_ == 9)
            master_ack_ = !sda;
    }
}

void C220Mech::on_fall()
{
    if (bus_ == Bus::Receive) {
        if (bit_ == 8) {
            set_data(false); // acknowledge
        } else if (bit_ == 9) {
            set_data(true);
            bit_ = 0;
            shift_ = 0;
            if (bytes_.size() == 1 && bytes_[0] == 0x01) {
                if (pending_read_ < 0) {
                    bus_ = Bus::WaitStop;
                    return;
                }
                tx_ = {mem_[size_t(2 * pending_read_)], mem_[size_t(2 * pending_read_ + 1)]};
                if (pending_read_ == garbled_word_ && !garble_.empty()) {
                    tx_[0] ^= garble_.front();
                    garble_.pop_front();
                }
                tx_byte_ = 0;
                tx_bit_ = 0;
                bus_ = Bus::Transmit;
                set_data(tx_[0] & 0x80);
            }
        }
    } else if (bus_ == Bus::Transmit) {
        if (tx_bit_ < 8) {
            set_data((tx_[size_t(tx_byte_)] >> (7 - tx_bit_)) & 1);
        } else if (tx_bit_ == 8) {
            set_data(true); // the host's acknowledge
        } else if (master_ack_ && tx_byte_ == 0) {
            tx_byte_ = 1;
            tx_bit_ = 0;
            set_data(tx_[1] & 0x80);
        } else {
            bus_ = Bus::WaitStop;
            set_data(true);
        }
    }
}

void C220Mech::execute(uint64_t now)
{
    if (bytes_.size() < 2 || bytes_[0] != 0x00)
        return;
    const uint8_t c = bytes_[1];
    const int w = c & 0x3F;
    if (c == 0x30) {
        latch_ = true;
    } else if ((c & 0xC0) == 0xC0) {
        if (!latch_)
            return;
        busy_until_ = now + b_.mech_ticks(kEraseBusyMicros);
        if (w == lost_word_)
            return;
        mem_[size_t(2 * w)] = 0xFF;
        mem_[size_t(2 * w + 1)] = 0xFF;
        ++erases_;
    } else if ((c & 0xC0) == 0x40 && bytes_.size() >= 4) {
        if (!latch_)
            return;
        latch_ = false;
        busy_until_ = now + b_.mech_ticks(kWriteBusyMicros);
        const WriteFate fate = next_write_fate();
        // lost-checksum: the checksum word written right after another word
        // is not kept; a second write of it in a row (the repair) is.
        const bool checksum_lost = faults_.lost_checksum && w == 63 && last_written_ != 63;
        last_written_ = w;
        if (w == lost_word_)
            return;
        // A write not kept leaves the word as its erase left it.
        if (fate == WriteFate::Lost || checksum_lost)
            return;
        mem_[size_t(2 * w)] &= bytes_[2];
        mem_[size_t(2 * w + 1)] &= bytes_[3];
        if (fate == WriteFate::OneBitChanged)
            mem_[size_t(2 * w)] ^= 0x01;
        ++writes_;
        if (power_cut_after_ > 0 && writes_ >= power_cut_after_) {
            powered_ = false;
            hs_reset();
            drive(0);
        }
    }
}

// ---- Coin handshake --------------------------------------------------------------------

void C220Mech::hs_reset()
{
    hs_ = Hs::Idle;
    hs_due_ = kNever;
    hs_deadline_ = kNever;
    clock_high_ = false;
    drive(kOutData);
    schedule();
}

uint64_t C220Mech::half_after(uint64_t now)
{
    // A half period that follows the one just ended continues its count, so
    // a drifted clock's fractions of a tick do not add up over the pulses.
    if (now != halves_due_) {
        halves_start_ = now;
        halves_ = 0;
    }
    halves_due_ = half_.at(halves_start_, ++halves_);
    return halves_due_;
}

void C220Mech::schedule()
{
    if (bench_)
        b_.wake_at(*this, std::min(hs_due_, hs_deadline_));
}

void C220Mech::on_wake(uint64_t now)
{
    if (now >= hs_due_) {
        hs_due_ = kNever;
        hs_wake(now);
    }
    if (now >= hs_deadline_)
        hs_reset();
    schedule();
}

void C220Mech::hs_wake(uint64_t now)
{
    if (!powered_)
        return;
    // A stalled handshake holds its lines as they are, for good.
    auto stall = [&] { hs_deadline_ = kNever; };
    switch (hs_) {
    case Hs::Requested: {
        std::array<int, 3> m = coin_;
        if (!coins_.empty()) {
            m = coins_.front();
            coins_.pop_front();
        }
        result_ = forced_ ? *forced_ : evaluate(m);
        ++coins_dropped_;
        set_data(false); // the answer
        hs_ = Hs::Answered;
        break;
    }
    case Hs::Rise:
        set_clock(true);
        hs_ = Hs::Pulses;
        pulses_ = 0;
        hs_due_ = half_after(now);
        break;
    case Hs::Pulses:
        if (stall_ == 5 && pulses_ == 3) {
            stall();
            break;
        }
        if (clock_high_) {
            set_clock(false);
        } else {
            set_clock(true);
            // jumping-count: a ninth pulse, past the eight the host counts.
            if (++pulses_ == (faults_.jumping_count ? 9 : 8)) {
                hs_ = Hs::WaitLow;
                hs_deadline_ = now + b_.mech_ticks(kHostWaitMicros);
                break;
            }
        }
        hs_due_ = half_after(now);
        break;
    case Hs::LowThenRise:
        if (clock_high_) {
            set_clock(false);
            hs_due_ = half_after(now);
        } else {
            set_clock(true);
            hs_ = Hs::WaitHigh;
            hs_deadline_ = now + b_.mech_ticks(kHostWaitMicros);
        }
        break;
    case Hs::Bits:
        if (stall_ == 8 && bits_ == 4) {
            stall();
            break;
        }
        if (clock_high_) {
            if (bits_ < 8) {
                set_data((result_ >> (7 - bits_)) & 1);
                ++bits_;
                set_clock(false);
            } else {
                hs_reset();
                return;
            }
        } else {
            set_clock(true);
        }
        hs_due_ = half_after(now);
        break;
    default:
        break;
    }
}

} // namespace zuna::sim
