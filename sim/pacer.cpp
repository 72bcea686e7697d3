#include "sim/pacer.h"

#include <thread>

#include "sim/bench.h"

namespace zuna::sim {

void Pacer::start()
{
    if (!bench_)
        return;
    origin_wall_ = Clock::now();
    origin_tick_ = bench_->now();
    bench_->wake_at(*this, origin_tick_ + kStepTicks);
}

void Pacer::on_wake(uint64_t now)
{
    if (!bench_)
        return;
    const auto due = origin_wall_ + std::chrono::microseconds(now - origin_tick_);
    const auto wall = Clock::now();
    if (wall < due) {
        std::this_thread::sleep_until(due);
    } else if (wall - due > std::chrono::milliseconds(10)) {
        // The bench stood still between transfers: pace from here, do not race to catch up.
        origin_wall_ = wall;
        origin_tick_ = now;
    }
    bench_->wake_at(*this, now + kStepTicks);
}

} // namespace zuna::sim
