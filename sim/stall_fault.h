#pragma once
// A PC that stalls: at random moments (exponential gaps, mean 1/R s of bench
// time) the station's port accesses pause while the bench's clock runs on
// for 20 µs to 2 ms (log-uniform: as many stalls between 20 and 200 µs as
// between 200 µs and 2 ms). A bit being written is stretched by the stall,
// a level being counted is cut short or long. Masked sections do not stop
// it: a PC's interrupts come through them as well.
#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "sim/device.h"

namespace zuna::sim {

class StallFault : public Device {
public:
    static constexpr double kShortestMicros = 20;
    static constexpr double kLongestMicros = 2000;

    struct Stall {
        uint64_t at;     // tick the station stood still
        uint64_t length; // ticks
    };

    // per_second: stalls per second of bench time (0: none but those asked
    // for with stall_at).
    StallFault(const Bench& bench, double per_second, uint32_t seed);
    void on_data(uint64_t, uint8_t, uint8_t) override {}
    void on_wake(uint64_t now) override;
    void start();

    // Test knob: one more stall at this tick, of this length.
    void stall_at(uint64_t tick, uint64_t length);
    // Stalls made so far, in order.
    const std::vector<Stall>& stalls() const { return done_; }

private:
    void draw_next(uint64_t from);
    void schedule();

    double mean_gap_ = 0; // ticks; 0: no random stalls
    double log_shortest_;
    double log_longest_;
    std::mt19937 rng_;
    uint64_t random_at_ = kNever;
    uint64_t random_length_ = 0;
    std::deque<Stall> asked_;
    std::vector<Stall> done_;
};

} // namespace zuna::sim
