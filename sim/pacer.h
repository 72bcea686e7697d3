#pragma once
// Paces the bench to the wall clock: at least 1 µs of real time per tick, as
// a port access takes on the PCs the station was made for. Plugged like any
// device, it wakes every millisecond of bench time and sleeps until the wall
// clock has caught up, so the port's hot paths are unchanged.
#include <chrono>
#include <cstdint>

#include "sim/device.h"

namespace zuna::sim {

class Pacer : public Device {
public:
    static constexpr uint64_t kStepTicks = 1000;

    void on_data(uint64_t, uint8_t, uint8_t) override {}
    void on_wake(uint64_t now) override;
    // Starts pacing from the bench's present tick.
    void start();

private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point origin_wall_{};
    uint64_t origin_tick_ = 0;
};

} // namespace zuna::sim
