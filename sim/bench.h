#pragma once
// The simulated bench: a Port whose time is virtual. A port access is one
// tick (1 µs at speed 1, 1/speed µs at --sim-speed=speed); an empty loop step
// of a pause is 10 ns of the simulated PC's time, 0.01 tick, unless the
// pause floor (real time, ns per step, as on the hardware ports) makes the
// pause longer: a pause of n steps lasts max(n × 0.01, n × floor × speed /
// 1000) ticks. Fractions of a tick are carried from one pause to the next,
// so no pause is rounded away and totals are exact. The module and one
// mechanism are Devices plugged into it. The hot path (a status read with
// nothing due) is an increment, one comparison and a load.
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "link/port.h"
#include "sim/device.h"

namespace zuna::sim {

class Bench : public Port {
public:
    // speed: port accesses per microsecond of the simulated PC (1 = the PCs
    // the station was made for). Devices convert their timings with ticks().
    explicit Bench(double speed = 1.0);
    ~Bench() override;

    // Port
    void write_data_port(uint8_t value) override
    {
        if (++now_ >= next_)
            run_due();
        if (value != data_) {
            const uint8_t old = data_;
            data_ = value;
            for (Device* d : devices_)
                d->on_data(now_, old, value);
        }
        ++writes_;
    }
    uint8_t read_status_port() override
    {
        if (++now_ >= next_)
            run_due();
        return status_;
    }
    void mask_interrupts() override { ++mask_depth_; }
    void unmask_interrupts() override
    {
        if (mask_depth_ > 0)
            --mask_depth_;
    }
    void idle(uint64_t loop_steps) override;

    // The pauses' real-time floor in ns per loop step (0: none), as the
    // configuration file gives it to the hardware ports; 10 until set.
    void set_pause_floor_ns(double ns);
    // Length of a loop step in millionths of a tick.
    static constexpr uint64_t kStepMicroTicks = 10000;

    // Devices (not owned). A device plugged drives its bits from then on.
    void plug(Device& d);
    void unplug(Device& d);

    // Called by devices.
    void wake_at(Device& d, uint64_t tick);
    void drive(Device& d, uint8_t mask, uint8_t bits);

    // Faults on status lines, applied over what devices drive.
    void force_status(uint8_t mask, uint8_t bits);
    // A device stalls the PC: once the devices due now have run, the
    // station's access waits while the clock runs on for `ticks`, waking the
    // devices due meanwhile. A pause under way is lengthened by the stall.
    void stall(uint64_t ticks) { stall_pending_ += ticks; }
    uint64_t stalled_ticks() const { return stalled_; }
    // The bench's clock minus its accesses and pauses is exactly the stalls.
    uint64_t stalled_ns() const override { return uint64_t(std::llround(double(stalled_) * 1000 / speed_)); }

    uint64_t ticks(double microseconds) const;
    // A mechanism's own time: nominal microseconds on its clock, which runs
    // drift % slow (drift > 0) or fast; the module and the PC stay exact.
    uint64_t mech_ticks(double microseconds) const
    {
        const double t = std::round(mech_units(microseconds));
        return t < 1 ? 1 : uint64_t(t);
    }
    // The same, not rounded: a unit of a mechanism's clock (see MechClock).
    double mech_units(double microseconds) const { return microseconds * speed_ * (1 + drift_percent_ / 100); }
    void set_mechanism_drift(double percent) { drift_percent_ = percent; }
    uint64_t now() const { return now_; }
    // The next tick a device asked for (kNever when none): never in the past.
    uint64_t next_wake() const { return next_; }
    uint8_t data() const { return data_; }
    uint8_t status() const { return status_; }
    uint64_t writes() const { return writes_; }
    int mask_depth() const { return mask_depth_; }

private:
    void run_due();
    void wake_devices();
    void run_stall();
    uint64_t stall_since(uint64_t& seen);
    void recompute_next();
    void recompute_status();

    uint64_t now_ = 0;
    uint64_t next_ = kNever;
    uint8_t data_ = 0;
    uint8_t status_ = 0;
    uint8_t force_mask_ = 0;
    uint8_t force_bits_ = 0;
    uint64_t writes_ = 0;
    int mask_depth_ = 0;
    uint64_t stall_pending_ = 0;
    uint64_t stalled_ = 0; // ticks stood still since the start
    double speed_;
    double drift_percent_ = 0;
    uint64_t step_micro_ticks_ = kStepMicroTicks;
    uint64_t pause_carry_ = 0; // millionths of a tick left over by the pauses
    std::vector<Device*> devices_;
};

// Status bits that no device drives read as this (nError inactive high,
// module memory data line pulled up).
constexpr uint8_t kIdleStatus = 0x48;

// Flips a status bit for a tick or two at random moments: a noisy reply line.
class NoiseFault : public Device {
public:
    NoiseFault(uint8_t mask, uint64_t mean_gap_ticks, uint32_t seed = 1);
    void on_data(uint64_t, uint8_t, uint8_t) override {}
    void on_wake(uint64_t now) override;
    void start();

private:
    uint8_t mask_;
    uint64_t mean_gap_;
    bool on_ = false;
    std::mt19937 rng_;
};

} // namespace zuna::sim
