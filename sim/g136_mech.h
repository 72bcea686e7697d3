#pragma once
// Simulated NRI G13.6000: blocks of memory read and written as hexadecimal
// text over one line each way (host data bit 0 in, status bit 7 out, set
// while the mechanism's line is at level 0).
//
// Its receiver is the G13.0000's at one rate: three samples around the
// middle of each bit from the start edge, all three must agree and the stop
// bit must be 1; a character that fails is answered with "?" (one unit at
// level 0, six at level 1: what the frequency window's G136 search measures)
// and the receiver takes no start bit before the line has been back at
// level 1 for one bit time. (Waiting longer would drop a command sent soon
// after a module memory transfer, which holds the line at level 0: the bench
// has no operator's pause between two actions.) Replies go back to back, one
// stop bit each, three bit times after the command's last stop bit:
// - "I": two identity bytes, byte 0 = 7;
// - two hexadecimal characters: the block at that address ("03"-"0E"
//   channels 1-12, "0F", "10", "11", "12" as 12 bytes, "13" as 72 digits,
//   "18" as 8 bytes);
// - "W", "T": sixteen measurement bytes once a coin dropped (coin delay);
// - "Z", an address, then hexadecimal digits: written into the block one
//   digit after the other until a character that is not a digit ("X", "Z"),
//   then kept as a whole (or kept wrong, or lost: the run's faults);
//   in block "11" digit c (channel c) goes to byte c - 1, low half when c is
//   odd, high half when even, so a read returns what was written;
// - "X" and the byte 0xE9 are taken and logged, nothing more.
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "sim/catalogue.h"
#include "sim/mech_clock.h"

namespace zuna::sim {

class G136Mechanism : public Mechanism {
public:
    // Bit time at PC speed 1: the default G136 delay count 140, plus one.
    static constexpr double kBitMicros = 141;
    static constexpr double kCoinDelayMicros = 200000;

    using Measures = std::array<int, 16>;

    explicit G136Mechanism(Bench& bench);

    void start() override;
    void on_data(uint64_t now, uint8_t old_value, uint8_t value) override;
    void on_wake(uint64_t now) override;

    uint64_t bit() const { return bit_; }

    // Memory: block address -> bytes (digits for "13").
    std::vector<int>& block(int address) { return blocks_[address]; }
    // Channel n (1..12) and the selector of its pair k (1..6).
    std::vector<int>& channel(int n) { return blocks_[n + 2]; }
    int& selector(int n, int k) { return blocks_[0x13][size_t(6 * (n - 1) + k - 1)]; }

    // Coins passed by the next "W" / "T" (then a small built-in catalogue).
    void push_coin(const Measures& m) { coins_.push_back(m); }
    void set_coins(bool on) { coins_on_ = on; }
    // Writes are taken (and logged) but change nothing: a read-back differs.
    void set_write_protected(bool on) { write_protected_ = on; }

    // What was understood, in order: "I", "R13" (read), "Z0E" (write
    // begun), "W0E:24" (write ended, digits taken), "X", "E9", "W", "T", "?".
    const std::vector<std::string>& log() const { return log_; }
    int block_writes() const { return block_writes_; }

private:
    enum class Expect { Command, ReadLow, WriteHigh, WriteLow, Data };

    void begin_char(uint64_t now);
    void take_sample();
    uint64_t sample_time(int sample) const;
    void received(uint8_t c);
    void command(uint8_t c);
    void end_write();
    void store_digit(int digit);
    void reply(const std::string& text, uint64_t at);
    void schedule();

    uint64_t bit_;
    MechClock clock_; // its bit time, drift included
    uint64_t coin_delay_;
    // Receiver.
    bool busy_ = false;
    bool need_idle_ = false;
    uint64_t start_ = 0;
    int sample_ = 0;
    uint8_t bits_[10] = {};
    uint64_t next_ = kNever;
    bool line_ = true;
    uint64_t rise_ = 0;
    // Parser.
    Expect expect_ = Expect::Command;
    int high_ = 0;
    int address_ = 0;
    int digits_ = 0;
    std::vector<int> pending_; // the block being written, kept when the write ends
    // Transmitter.
    std::deque<std::pair<bool, uint64_t>> tx_; // (level, tick)
    uint64_t tx_end_ = 0;
    bool tx_last_ = true;

    std::map<int, std::vector<int>> blocks_;
    std::deque<Measures> coins_;
    unsigned coin_index_ = 0;
    bool coins_on_ = true;
    std::vector<std::string> log_;
    int block_writes_ = 0;
    bool powered_ = true;
    bool write_protected_ = false;
};

} // namespace zuna::sim
