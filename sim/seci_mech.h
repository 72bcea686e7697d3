#pragma once
// Simulated SECI RM3 and RM4: channel records and coin measurements over
// one line each way (host data bit 0 in, status bit 7 out, set while the
// mechanism's line is at level 0; 8N1 characters). `SeciMech` is both; the
// RM3 (six channels of 14 bytes) and the RM4 (twelve of 12) set its
// parameters and their record layouts.
//
// Its receiver samples each character at its own bit time from the start
// edge (mid-bit), and drops a character whose stop bit is low. It answers
// two bit times after the end of the stop bit, within the station's wait
// factors:
// The RM3:
// - 0x00: the ready signal, two bit times later: a quarter bit at level 0,
//   one bit at level 1, seven at level 0 (stretches 0, 1, 7 at the right
//   count, what the frequency window's search looks for);
// - 0x10, 0x01, 0x0C, 0x12, 0x17: one character 0x02;
// - 0x09 then channel n (1..6): the channel's 14 bytes;
// - 0x03..0x08 after a write opening (0x01): the next 14 bytes are the
//   record of channel c - 2, kept, answered by 0x02;
// - 0x02, then character m after any 0x00s: a coin drops after the coin
//   delay and its 14-byte measurement is sent.
// The RM4 (same receiver, ready signal and answers 0x02):
// - 0x04 then channel character c (0x00..0x0B): the 12 bytes of channel c + 1;
// - 0x01 after a write opening's 0x00s: ready for a write; 0x03 then c: the
//   next 12 bytes are the record of channel c + 1, answered by 0x02, and
//   the 0x04 0x00 that closes the write by 0x02;
// - 0x02 starts the coin mode: every 0x01 until another command drops a
//   coin (the calibration's next coins send 0x00 0x00 0x01 only); such a
//   0x01 also opens a write;
// - 0x0F, 0x07..0x0B, 0x11 of the read tail: 0x02.
// Faults of the run: each record taken is one write for wrong-readback=N
// (kept with bit 0 of its second byte changed) and lost-write=N (answered
// 0x02, not kept); other-family makes the RM3 speak as an RM4 (its
// commands, twelve channels of 12 bytes) and the RM4 as an RM3. The records
// carry no checksum and the station loops on no count of the mechanism:
// lost-checksum and jumping-count change nothing here.
#include <array>
#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "sim/catalogue.h"
#include "sim/mech_clock.h"

namespace zuna::sim {

class SeciMech : public Mechanism {
public:
    // Bit time at PC speed 1: the default RM3 and RM4 delay count 68, plus one.
    static constexpr double kBitMicros = 69;
    static constexpr double kCoinDelayMicros = 200000;

    struct Params {
        bool rm4 = false;
        double bit_micros = kBitMicros;
        int channels = 6;
        int record_chars = 14;
        std::vector<std::vector<uint8_t>> factory;
        // A coin's reply from its readings.
        std::vector<uint8_t> (*coin_bytes)(const std::array<int, 8>&) = nullptr;
        std::array<double, 8> coin_mean{};
        double coin_spread = 12;
        double coin_top = 5519;
    };

    // `other`: the family it speaks as under the other-family fault.
    SeciMech(Bench& bench, const Params& p, const Params& other);

    void start() override;
    void on_data(uint64_t now, uint8_t old_value, uint8_t value) override;
    void on_wake(uint64_t now) override;

    // Channel n (1-based) as its bytes.
    std::vector<uint8_t>& record(int n) { return records_[size_t(n - 1)]; }
    // Coins: readings queued by a test come first, then a coin inside channel 1.
    void queue_coin(const std::array<int, 8>& readings) { coins_.push_back(readings); }
    void set_coin_delay_micros(double us);
    void set_coins(bool on) { coins_on_ = on; }
    int coins_dropped() const { return coins_dropped_; }

    uint64_t bit_ticks() const { return bit_; }
    bool powered() const { return powered_; }
    int framing_errors() const { return framing_errors_; }
    int record_writes() const { return record_writes_; }
    // The next reads of channel n go out with their first byte XORed with
    // these values, one per read (0: that read is clean): a noisy line, on cue.
    void garble_reads(int n, std::deque<uint8_t> xors)
    {
        garbled_channel_ = n;
        garble_ = std::move(xors);
    }
    bool speaks_rm4() const { return p_.rm4; }
    // Every character received, in order.
    const std::vector<uint8_t>& received() const { return received_; }

private:
    enum class State { Idle, ReadSelect, Test, Record, WriteSelect, EndWrite };
    struct Segment {
        bool low; // mechanism line at level 0 (status bit 7 set)
        double bits;
        bool frame = false; // edges are counted from here (a character's start bit)
    };

    void sample(uint64_t now);
    void take(uint8_t c, uint64_t now);
    bool take_rm3(uint8_t c, uint64_t now);
    bool take_rm4(uint8_t c, uint64_t now);
    void send(const std::vector<uint8_t>& bytes);
    void send_record(int n);
    void keep_record();
    void send_ready();
    void queue(const std::vector<Segment>& segs);
    void next_segment(uint64_t now);
    void drop_coin();
    void power_off();
    void schedule();

    Bench& bench_ref_;
    Params p_;
    Params other_;
    uint64_t bit_;
    MechClock unit_; // its bit time, drift included
    std::vector<std::vector<uint8_t>> records_;

    // Receiver.
    bool rx_busy_ = false;
    uint64_t rx_start_ = 0;
    int rx_index_ = 0; // 0 start, 1..8 data, 9 stop
    uint8_t rx_byte_ = 0;
    uint64_t rx_next_ = kNever;
    uint64_t last_char_ = 0;
    int framing_errors_ = 0;
    std::vector<uint8_t> received_;

    // Command state.
    State state_ = State::Idle;
    bool write_open_ = false;
    int target_ = 0;
    std::vector<uint8_t> incoming_;
    int record_writes_ = 0;
    int garbled_channel_ = 0;
    std::deque<uint8_t> garble_;
    bool coin_mode_ = false; // RM4: 0x01 drops a coin
    bool wrote_ = false;     // RM4: a record came, its closing 0x04 0x00 is due

    // Transmitter.
    std::deque<Segment> tx_;
    uint64_t tx_next_ = kNever;
    uint64_t tx_origin_ = 0;
    double tx_bits_ = 0;

    // Coins.
    uint64_t coin_delay_;
    uint64_t coin_due_ = kNever;
    bool coins_on_ = true;
    int coins_dropped_ = 0;
    std::deque<std::array<int, 8>> coins_;
    std::mt19937 rng_{4321};

    bool powered_ = true;
};

class Rm3Mech : public SeciMech {
public:
    explicit Rm3Mech(Bench& bench);
    // Values 0..5 high byte first, 0xF0 + flags, 0x90 + output.
    static std::vector<uint8_t> record_bytes(const std::array<int, 8>& values, int flags, int output);
    // Channels 1..5 with plausible windows, 6 empty.
    static std::vector<std::vector<uint8_t>> factory_records();
    static Params params();
};

class Rm4Mech : public SeciMech {
public:
    explicit Rm4Mech(Bench& bench);
    // Values 0..5 one byte each, 6 and 7 high byte first, 0x10 + flags,
    // 0x20 + (output OR 8): the record as the station sends it.
    static std::vector<uint8_t> record_bytes(const std::array<int, 8>& values, int flags, int output);
    // Channels 1..11 with plausible windows, 12 empty.
    static std::vector<std::vector<uint8_t>> factory_records();
    static Params params();
};

} // namespace zuna::sim
