#include "sim/stall_fault.h"

#include <algorithm>
#include <cmath>

#include "sim/bench.h"

namespace zuna::sim {

StallFault::StallFault(const Bench& bench, double per_second, uint32_t seed)
    : log_shortest_(std::log(double(bench.ticks(kShortestMicros)))),
      log_longest_(std::log(double(bench.ticks(kLongestMicros)))), rng_(seed)
{
    if (per_second > 0)
        mean_gap_ = std::max(1.0, double(bench.ticks(1e6)) / per_second);
}

void StallFault::start()
{
    if (bench_)
        draw_next(bench_->now());
    schedule();
}

void StallFault::draw_next(uint64_t from)
{
    if (mean_gap_ <= 0)
        return;
    std::exponential_distribution<double> gap(1 / mean_gap_);
    std::uniform_real_distribution<double> length(log_shortest_, log_longest_);
    random_at_ = from + std::max<uint64_t>(1, uint64_t(std::llround(gap(rng_))));
    random_length_ = uint64_t(std::llround(std::exp(length(rng_))));
}

void StallFault::stall_at(uint64_t tick, uint64_t length)
{
    asked_.push_back({tick, length});
    std::sort(asked_.begin(), asked_.end(), [](const Stall& a, const Stall& b) { return a.at < b.at; });
    schedule();
}

void StallFault::schedule()
{
    if (!bench_)
        return;
    const uint64_t next = std::min(random_at_, asked_.empty() ? kNever : asked_.front().at);
    bench_->wake_at(*this, next == kNever ? kNever : std::max(next, bench_->now()));
}

void StallFault::on_wake(uint64_t now)
{
    if (!bench_)
        return;
    uint64_t length = 0;
    if (!asked_.empty() && asked_.front().at <= now) {
        length = asked_.front().length;
        asked_.pop_front();
    } else if (random_at_ <= now) {
        length = random_length_;
        random_at_ = kNever;
    }
    if (length > 0) {
        done_.push_back({now, length});
        bench_->stall(length);
    }
    // The next random stall is drawn from the end of this one.
    if (random_at_ == kNever)
        draw_next(now + length);
    schedule();
}

} // namespace zuna::sim
