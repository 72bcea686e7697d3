#pragma once
// Bit times and pauses. A bit time is the same byte written (delay count + 1)
// times; replies are measured by counting status reads. The delay count is
// read by the caller at each call, so a change applies to the next bit.
#include <cstdint>

#include "link/port.h"

namespace zuna {

constexpr uint64_t kShortPauseSteps = 201;
constexpr uint64_t kLongPauseSteps = 100001;

// Repeat-write form: delay + 1 writes; 0 gives one write, negative none.
inline void hold_bit(Port& port, int32_t delay, uint8_t value)
{
    for (int64_t i = 0; i <= int64_t(delay); ++i)
        port.write_data_port(value);
}

// Write-once form: one write, then (delay + 1) status reads discarded.
inline void hold_bit_write_once(Port& port, int32_t delay, uint8_t value)
{
    port.write_data_port(value);
    for (int64_t i = 0; i <= int64_t(delay); ++i)
        (void)port.read_status_port();
}

// Waits n bit times without touching the lines: (delay * n + 1) reads,
// nothing when the product is negative.
inline void wait_status_reads(Port& port, int32_t delay, int64_t n)
{
    const int64_t reads = int64_t(delay) * n + 1;
    for (int64_t i = 0; i < reads; ++i)
        (void)port.read_status_port();
}

inline void module_short_pause(Port& port) { port.idle(kShortPauseSteps); }

// Four empty loops of 100001 steps, one after the other.
inline void module_long_pause(Port& port)
{
    for (int i = 0; i < 4; ++i)
        port.idle(kLongPauseSteps);
}

// Counts status reads while (status & mask) == level, up to limit; returns the
// count (limit when the level never changed). The caller's hot loop.
inline int64_t count_while(Port& port, uint8_t mask, bool level, int64_t limit)
{
    int64_t n = 0;
    const uint8_t want = level ? mask : 0;
    while (n < limit && (port.read_status_port() & mask) == want)
        ++n;
    return n;
}

} // namespace zuna
