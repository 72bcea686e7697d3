#pragma once
// Simulated C220 / SENTINEL, from the mechanism's side of its link.
//
// Two-wire slave: clock on host data bit 5, data on bit 6, its own data line
// on status bit 4 (released high, pulled low to acknowledge and for 0 bits).
// Start and stop are a data edge while the clock is high; when the clock and
// the data change in one write, the clock edge is taken first. Host bits are
// sampled on the clock's rising edge; bits sent are put out on its falling
// edge. Commands after the address byte 0x00: 0x30 write enable, 0xC0 + w
// erase (0xFFFF), 0x40 + w write (clears bits only: a missing erase shows),
// 0x80 + w then a restart and 0x01: the word is sent. Erase and write are
// done at the stop, need the write-enable latch (a write clears it, an
// erase keeps it for the write that follows), and leave
// the memory busy for a while (no acknowledge, nothing sent): shorter than
// the stop patterns at the default delay count.
//
// Coin handshake, with its own clock on status bit 7: a request (data bit 3
// high) is answered by pulling status bit 4 low once a coin came; the request
// withdrawn then starts the clock: one rise, eight pulses, then it follows the
// host (bit 6 low, bit 6 high) and sends the result, most significant bit
// first, each bit put out as its clock falls. A request withdrawn before the
// answer cancels it (the module memory traffic raises bit 3 too). The result
// is the first channel whose three windows hold the coin's three measurements.
#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "sim/catalogue.h"
#include "sim/mech_clock.h"

namespace zuna::sim {

class C220Mech : public Mechanism {
public:
    static constexpr double kEraseBusyMicros = 1000;  // the erase stop leaves 16 steps (1.5 ms at count 90)
    static constexpr double kWriteBusyMicros = 10000; // the write stop leaves 329 steps (30 ms)
    static constexpr double kCoinDelayMicros = 200000;
    static constexpr double kHalfClockMicros = 100;
    static constexpr double kHostWaitMicros = 100000; // the handshake gives up on a host this late

    explicit C220Mech(Bench& bench);

    void start() override;
    void on_data(uint64_t now, uint8_t old_value, uint8_t value) override;
    void on_wake(uint64_t now) override;
    uint8_t reply_mask() const override { return 0x90; }

    std::array<uint8_t, 128>& memory() { return mem_; }
    static std::array<uint8_t, 128> factory_memory();

    // Coins: queued measurements first, then the standing coin (inside channel 1).
    void queue_coin(const std::array<int, 3>& m) { coins_.push_back(m); }
    void set_coin(const std::array<int, 3>& m) { coin_ = m; }
    void set_coins(bool on) { coins_on_ = on; }
    void set_coin_delay_micros(double us);
    // Test knobs: answer this byte instead of the evaluated channel; stop
    // following the handshake at host step 2, 4, 5, 6, 7 or 8; ignore every
    // erase and write of one word.
    void force_result(std::optional<uint8_t> r) { forced_ = r; }
    void stall_at(int step) { stall_ = step; }
    void lose_writes_to(int word) { lost_word_ = word; }
    // The next reads of one word go out with their first byte XORed with
    // these values, one per read (0: that read is clean): a noisy line, on cue.
    void garble_reads(int word, std::deque<uint8_t> xors)
    {
        garbled_word_ = word;
        garble_ = std::move(xors);
    }

    // The result of a measurement against the memory's windows.
    uint8_t evaluate(const std::array<int, 3>& m) const;

    int writes() const { return writes_; }
    int erases() const { return erases_; }
    int coins_dropped() const { return coins_dropped_; }
    bool powered() const { return powered_; }
    // Every complete command (the bytes between a start and its stop or restart).
    const std::vector<std::vector<uint8_t>>& commands() const { return commands_; }

private:
    enum class Bus { Idle, Receive, Transmit, WaitStop };
    enum class Hs { Idle, Requested, Answered, Rise, Pulses, WaitLow, LowThenRise, WaitHigh, Bits, Done };

    void drive(uint8_t bits);
    void set_data(bool high);
    void set_clock(bool high);
    void on_start(uint64_t now);
    void on_stop(uint64_t now);
    void on_rise(bool sda);
    void on_fall();
    void execute(uint64_t now);
    void end_command();

    void hs_wake(uint64_t now);
    void hs_reset();
    void schedule();
    uint64_t half_after(uint64_t now);

    Bench& b_;
    std::array<uint8_t, 128> mem_;
    uint8_t out_ = 0x10; // what the mechanism drives on status bits 4 and 7

    // Bus.
    Bus bus_ = Bus::Idle;
    int bit_ = 0; // rising edges in the current byte (0..9)
    uint8_t shift_ = 0;
    std::vector<uint8_t> bytes_;
    int pending_read_ = -1;
    bool latch_ = false;
    uint64_t busy_until_ = 0;
    std::array<uint8_t, 2> tx_{};
    int tx_byte_ = 0;
    int tx_bit_ = 0;
    bool master_ack_ = false;
    std::vector<std::vector<uint8_t>> commands_;

    // Handshake.
    Hs hs_ = Hs::Idle;
    uint64_t hs_due_ = kNever;
    uint64_t hs_deadline_ = kNever;
    int pulses_ = 0;
    int bits_ = 0;
    bool clock_high_ = false;
    uint8_t result_ = 0;
    MechClock half_; // half a period of its handshake clock, drift included
    // Half periods one after another count from the first (half_after).
    uint64_t halves_start_ = 0;
    uint64_t halves_due_ = kNever;
    int halves_ = 0;
    uint64_t coin_delay_;
    bool coins_on_ = true;
    std::array<int, 3> coin_{25, 30, 35};
    std::deque<std::array<int, 3>> coins_;
    int coins_dropped_ = 0;
    std::optional<uint8_t> forced_;
    int stall_ = 0;
    int lost_word_ = -1;
    int last_written_ = -1; // the word of the last write taken
    int garbled_word_ = -1;
    std::deque<uint8_t> garble_;

    int writes_ = 0;
    int erases_ = 0;
    bool powered_ = true;
};

} // namespace zuna::sim
