#pragma once
// Something plugged on the simulated bench: the module, a mechanism, a fault.
// Devices see the data register's changes and drive some status bits; they
// may ask to be woken at a tick of their choice.
#include <cstdint>
#include <limits>

namespace zuna::sim {

class Bench;

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

class Device {
public:
    virtual ~Device() = default;
    // The data register went from old_value to value at tick now.
    virtual void on_data(uint64_t now, uint8_t old_value, uint8_t value) = 0;
    // The tick asked for with Bench::wake_at has come.
    virtual void on_wake(uint64_t now) = 0;

protected:
    friend class Bench;
    Bench* bench_ = nullptr;
    uint64_t wake_ = kNever; // next tick this device runs at (kept by the bench)
    uint8_t drive_mask_ = 0; // status bits this device drives
    uint8_t drive_bits_ = 0;
};

} // namespace zuna::sim
