#pragma once
// Simulated Alberici AL3: thirteen records of 18 bytes (channels 0..11 and
// the general record 12), the mechanism type, and the six measurements of
// the last coin, over one line each way (host data bit 0 in, status bit 7
// out, set while the mechanism's line is at level 0).
//
// The receiver is the serial mechanisms' (start edge, mid-bit sampling at
// its own bit time, a character with a bad stop bit dropped), so it
// understands the station only within about 5 % of its bit time. It answers
// every character about two bits after its stop bit (start bit, inverted
// data): an echo, unless the reply of a transaction is due:
// - "A" -> "A" (and the parser starts again); "S", "0" -> "F";
// - "R", ch, "0" -> byte 0 of record ch, then each byte sent back -> the next;
// - "w", value, address, record, "0" -> the value kept; "r", address,
//   record, "0" -> the byte; "V", "0" -> the type; "v", t, "0", "E", "0" ->
//   the type kept; "m", n, "0" -> measurement n - 7 of the last coin;
// - "g", 0x03, ".", "0" -> 0x31;
// - "I", n, ch, "0": a teach of n coins, each coin answered by its count
//   1..n; after the n-th, the parameters and deltas of record ch are stored.
// Faults of the run: every "w" and "v" taken is one write for
// wrong-readback=N (kept with bit 0 changed, echoed as sent) and
// lost-write=N (echoed, not kept); jumping-count answers the teach's last
// coin with n + 1 (the count goes from n - 1 to n + 1); other-family answers
// the type read with kOtherType and the reading opening with 0x32, as
// another model would. The records carry no checksum: lost-checksum changes
// nothing here.
#include <array>
#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "sim/c120_mech.h"

namespace zuna::sim {

class Al3Mech : public SerialMech {
public:
    // Bit time at PC speed 1: the default ALB delay count 68, plus one.
    static constexpr double kBitMicros = 69;
    static constexpr uint8_t kOtherType = 8;
    using Record = std::array<uint8_t, 18>;
    using Coin = std::array<uint8_t, 6>;

    explicit Al3Mech(Bench& bench);

    Record& record(int r) { return records_[size_t(r)]; } // 0..12
    uint8_t& type() { return type_; }
    Coin& last_coin() { return last_coin_; }
    // Teach coins: queued measurements first, then coins of channel 1 with spread.
    void queue_coin(const Coin& c) { coins_.push_back(c); }
    int byte_writes() const { return byte_writes_; }
    // The next reads of record r go out with their first byte XORed with
    // these values, one per read (0: that read is clean): a noisy line, on cue.
    void garble_reads(int r, std::deque<uint8_t> xors)
    {
        garbled_record_ = r;
        garble_ = std::move(xors);
    }
    // Every character received, in order.
    std::vector<uint8_t> received() const;

    static Record channel(const Coin& parameters, const Coin& deltas, int output, int time_ms, int value,
                          int tolerance);
    static Record emptied();

protected:
    int command_length(const std::vector<uint8_t>&) const override { return 1; }
    bool acts_before_stop() const override { return false; }
    void execute(const std::vector<uint8_t>& c, uint64_t now) override;
    void drop_coin(uint64_t now) override;

private:
    enum class State { Command, Args, ReadData, EchoBack, Opening, Teach };
    void answer(uint8_t b) { reply({b}, 2, 1); }
    void transaction(uint64_t now);
    // What a write of b makes of the byte kept at `at` (the write's fate).
    void keep(uint8_t& at, uint8_t b);

    std::array<Record, 13> records_{};
    uint8_t type_ = 1;
    Coin last_coin_{};
    std::deque<Coin> coins_;
    int byte_writes_ = 0;
    int garbled_record_ = -1;
    std::deque<uint8_t> garble_;

    State state_ = State::Command;
    uint8_t command_ = 0;
    std::vector<uint8_t> args_;
    int index_ = 0;
    uint64_t last_char_ = 0;

    // Teach under way.
    int teach_n_ = 0;
    int teach_record_ = 0;
    std::vector<Coin> taught_;
    std::mt19937 rng_{5678};
};

} // namespace zuna::sim
