#include "sim/bench.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "link/hardware_port.h"

namespace zuna::sim {

Bench::Bench(double speed) : speed_(speed > 0 ? speed : 1.0)
{
    set_pause_floor_ns(kDefaultPauseFloorNs);
    recompute_status();
}

Bench::~Bench()
{
    for (Device* d : devices_)
        d->bench_ = nullptr;
}

uint64_t Bench::ticks(double microseconds) const
{
    const double t = std::llround(microseconds * speed_);
    return t < 1 ? 1 : uint64_t(t);
}

void Bench::set_pause_floor_ns(double ns)
{
    // floor ns a step = floor × speed / 1000 ticks = floor × speed × 1000 millionths.
    const double floored = ns > 0 ? std::llround(ns * speed_ * 1000) : 0;
    step_micro_ticks_ = std::max(kStepMicroTicks, uint64_t(floored));
}

void Bench::idle(uint64_t loop_steps)
{
    constexpr uint64_t kMicro = 1000000;
    const uint64_t span = loop_steps * step_micro_ticks_ + pause_carry_;
    pause_carry_ = span % kMicro;
    uint64_t target = now_ + span / kMicro;
    uint64_t stalled = stalled_;
    // A device may move the clock on while it runs (a stalled PC): never back.
    while (next_ <= target) {
        now_ = std::max(now_, next_);
        run_due();
        target += stall_since(stalled);
    }
    now_ = std::max(now_, target);
}

uint64_t Bench::stall_since(uint64_t& seen)
{
    // A pause counted in loop steps stops while the PC stalls: it ends that much later.
    const uint64_t more = stalled_ - seen;
    seen = stalled_;
    return more;
}

void Bench::plug(Device& d)
{
    if (std::find(devices_.begin(), devices_.end(), &d) == devices_.end())
        devices_.push_back(&d);
    d.bench_ = this;
    recompute_status();
    recompute_next();
}

void Bench::unplug(Device& d)
{
    devices_.erase(std::remove(devices_.begin(), devices_.end(), &d), devices_.end());
    d.bench_ = nullptr;
    recompute_status();
    recompute_next();
}

void Bench::wake_at(Device& d, uint64_t tick)
{
    // A wake time already past would be run at every access from then on (and
    // idle() would turn time back to it): a device that asks for one is broken.
    assert(tick >= now_ && "a device asked to be woken in the past");
    d.wake_ = tick;
    if (tick < next_)
        next_ = tick;
    else
        recompute_next();
}

void Bench::drive(Device& d, uint8_t mask, uint8_t bits)
{
    d.drive_mask_ = mask;
    d.drive_bits_ = bits & mask;
    recompute_status();
}

void Bench::force_status(uint8_t mask, uint8_t bits)
{
    force_mask_ = mask;
    force_bits_ = bits & mask;
    recompute_status();
}

void Bench::run_due()
{
    wake_devices();
    recompute_next();
    if (stall_pending_ > 0)
        run_stall();
}

void Bench::run_stall()
{
    // The station stands still; the devices due meanwhile run at their ticks.
    uint64_t end = now_;
    while (stall_pending_ > 0) {
        end += stall_pending_;
        stalled_ += stall_pending_;
        stall_pending_ = 0;
        while (next_ <= end) {
            now_ = next_;
            wake_devices();
            recompute_next();
        }
    }
    now_ = end;
}

void Bench::wake_devices()
{
    // Wake every device whose tick has come; a device may ask again for the
    // same tick (zero-length step), so bound the rounds.
    for (int round = 0; round < 64; ++round) {
        bool any = false;
        for (std::size_t i = 0; i < devices_.size(); ++i) {
            Device* d = devices_[i];
            if (d->wake_ <= now_) {
                const uint64_t at = d->wake_;
                d->wake_ = kNever;
                d->on_wake(std::max(at, now_));
                any = true;
            }
        }
        if (!any)
            break;
    }
}

void Bench::recompute_next()
{
    uint64_t n = kNever;
    for (Device* d : devices_)
        n = std::min(n, d->wake_);
    next_ = n;
}

void Bench::recompute_status()
{
    uint8_t s = kIdleStatus;
    for (Device* d : devices_)
        s = uint8_t((s & ~d->drive_mask_) | d->drive_bits_);
    status_ = uint8_t((s & ~force_mask_) | force_bits_);
}

NoiseFault::NoiseFault(uint8_t mask, uint64_t mean_gap_ticks, uint32_t seed)
    : mask_(mask), mean_gap_(mean_gap_ticks ? mean_gap_ticks : 1), rng_(seed)
{
}

void NoiseFault::start()
{
    if (bench_)
        bench_->wake_at(*this, bench_->now() + 1 + rng_() % (2 * mean_gap_));
}

void NoiseFault::on_wake(uint64_t now)
{
    if (!bench_)
        return;
    // A glitch: force the bit to the opposite of what it reads for 1 to 3 ticks.
    if (!on_) {
        const uint8_t current = bench_->status() & mask_;
        bench_->force_status(mask_, uint8_t(~current));
        on_ = true;
        bench_->wake_at(*this, now + 1 + rng_() % 3);
    } else {
        bench_->force_status(0, 0);
        on_ = false;
        bench_->wake_at(*this, now + 1 + rng_() % (2 * mean_gap_));
    }
}

} // namespace zuna::sim
