#pragma once
// A mechanism's own clock on the bench: ticks per unit (a bit, a half clock)
// kept as a fraction, drift included. The edges of a frame are counted from
// its start (edge k at start + round(k × unit)), so a drift of half a percent
// is neither rounded away nor added up bit after bit.
#include <cmath>
#include <cstdint>

namespace zuna::sim {

struct MechClock {
    double unit = 1; // ticks per unit

    // Ticks of a stretch of `units` units, rounded.
    uint64_t ticks(double units) const { return uint64_t(std::llround(units * unit)); }
    // The tick `units` units after start.
    uint64_t at(uint64_t start, double units) const { return start + ticks(units); }
};

} // namespace zuna::sim
