#pragma once
// Simulated NRI G13.0000: identity, measuring mode, six channel records and
// coin measurements, spoken over one line each way (host data bit 0 in,
// status bit 7 out, set while the mechanism's line is at level 0).
//
// The mechanism listens with two receivers at once, one at its slow bit
// time (identification) and one at its fast bit time (four times faster),
// each sampling like a real one: three samples around the middle of each bit
// counted from the start edge, all three must agree, a bad stop bit drops the
// character and the receiver then waits for ten idle bit times before it
// takes a new start edge. A command is answered at the rate it came in. So
// it understands the host only within about 5 % of its bit times.
//
// A burst of pulses far too short for either receiver (the frequency
// window's wake-up probe) is answered one slow bit time after its last pulse
// with a short echo (1/64 bit at level 0, 1/64 at level 1) and then two slow
// bit times at level 0: the window takes half of that stretch as the G13
// count to start its tuning from.
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "sim/catalogue.h"
#include "sim/mech_clock.h"

namespace zuna::sim {

class G13Mechanism : public Mechanism {
public:
    // Nominal bit times in microseconds at PC speed 1: the slow unit of a
    // G13 delay count of 1950 (the default count 1900 lies inside the band).
    static constexpr double kSlowBitMicros = 1951;
    static constexpr double kFastBitMicros = 489;
    static constexpr double kCoinDelayMicros = 300000;

    struct Channel {
        std::array<int, 4> max{};
        std::array<int, 4> min{};
    };

    explicit G13Mechanism(Bench& bench);

    void start() override;
    void on_data(uint64_t now, uint8_t old_value, uint8_t value) override;
    void on_wake(uint64_t now) override;

    // The G13 delay count whose slow unit is exactly the slow bit time.
    int32_t nominal_count() const { return int32_t(slow_bit_) - 1; }
    uint64_t slow_bit() const { return slow_bit_; }
    uint64_t fast_bit() const { return fast_bit_; }

    std::array<Channel, 6>& channels() { return channels_; }
    int mode = 3;
    std::string production_date = "03/15/19"; // month first, as sent
    std::string equipment = "204518/0031277/16302";
    std::string reprogramming_date = "01/02/20";

    // Coins passed through the mechanism by the next "W" / "T" (then a
    // small built-in catalogue).
    void push_coin(const std::array<int, 4>& measures) { coins_.push_back(measures); }
    void set_coin_delay(uint64_t ticks) { coin_delay_ = ticks; }

    // What was understood, for tests: command letters in order ("I", "U", "V1" ...).
    const std::vector<std::string>& log() const { return log_; }
    int dropped_characters() const { return dropped_; }
    int channel_writes() const { return channel_writes_; }

private:
    struct Receiver {
        MechClock bit; // its bit time, drift included
        bool busy = false;
        bool need_idle = false;
        uint64_t start = 0;
        int sample = 0;       // 0..29: three per bit
        uint8_t bits[10] = {};
        uint64_t next = kNever;
        // Command parser of this receiver.
        enum class Expect { Command, A2, VDigit, DDigit, JDigits, Values, Date } expect = Expect::Command;
        std::string buf;
        int values_line = 0;
        int selected = 0;
        Channel pending;
    };
    struct Edge {
        bool level; // line level from then on (false = level 0)
        uint64_t at;
    };

    void begin_char(Receiver& r, uint64_t now);
    void take_sample(Receiver& r);
    uint64_t sample_time(const Receiver& r, int sample) const;
    void received(Receiver& r, uint8_t c);
    void reply(const Receiver& r, const std::string& text, uint64_t at);
    // A channel record's two lines taken: stored as the run's faults say.
    void store_record(int channel, const Channel& written);
    void schedule();
    std::array<int, 4> next_coin();
    static std::string three(int v);

    uint64_t slow_bit_;
    uint64_t fast_bit_;
    uint64_t coin_delay_;
    Receiver rx_[2];
    bool line_ = false;     // host line level (data bit 0)
    uint64_t rise_ = 0;     // tick of the last rise to level 1
    uint64_t fall_ = 0;     // tick of the last fall to level 0
    bool fell_ = false;     // a fall seen since plugging: a line low from the start makes no pulse
    uint64_t wake_due_ = kNever; // answer to a burst of short pulses
    std::deque<Edge> tx_;   // line changes still to come
    uint64_t tx_end_ = 0;   // end of the last character queued
    bool tx_last_ = true;   // level after the last queued change
    std::array<Channel, 6> channels_{};
    std::deque<std::array<int, 4>> coins_;
    unsigned coin_index_ = 0;
    std::vector<std::string> log_;
    int dropped_ = 0;
    int channel_writes_ = 0;
    bool powered_ = true;
};

} // namespace zuna::sim
