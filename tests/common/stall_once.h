#pragma once
// The PC stands still once on the bench, for `length` ticks, `after` ticks
// from now, while the object lives.
#include <cstdint>

#include "sim/bench.h"
#include "sim/stall_fault.h"

namespace zuna::test {

struct StallOnce {
    sim::Bench& bench;
    sim::StallFault fault{bench, 0, 1};
    StallOnce(sim::Bench& b, uint64_t after, uint64_t length) : bench(b)
    {
        bench.plug(fault);
        fault.start();
        fault.stall_at(bench.now() + after, length);
    }
    ~StallOnce() { bench.unplug(fault); }
};

} // namespace zuna::test
