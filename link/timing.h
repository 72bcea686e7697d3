#pragma once
// Bit times and pauses. A bit time is the same byte written (delay count + 1)
// times; replies are measured by counting status reads. The delay count is
// read by the caller at each call, so a change applies to the next bit.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <utility>

#include "link/port.h"
#include "link/progress.h"

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

// A wait for a coin. While one is marked on this thread, the waits for the
// start of a reply (wait_reply) may end early when the running operation is
// asked to stop: such a wait only reads, so stopping there is a safe point.
// A link marks the calls that wait for a coin; every other reply wait
// (a read-back after a write above all) runs to its time-out.
class CoinWait {
public:
    CoinWait() : previous_(active_) { active_ = true; }
    ~CoinWait() { active_ = previous_; }
    CoinWait(const CoinWait&) = delete;
    CoinWait& operator=(const CoinWait&) = delete;
    static bool active() { return active_; }

private:
    bool previous_;
    static inline thread_local bool active_ = false;
};

// Status reads between two looks at the stop request in a coin wait: a look
// costs far less than a port access, and the hot loop stays count_while.
constexpr int64_t kStopPollReads = 1024;

// The wait for the start of a reply: count_while, except that inside a coin
// wait a stop request ends it as its time-out does (it returns limit). With a
// StallWatch, the wait looks at the port's stalled time at each look of
// kStopPollReads reads, and once it ends the watch counts from the look that
// began at least `lookback` reads before its end: a stall there may have cut
// the start of the reply (a hardware port may also charge it to the read
// just before the edge), one long before the reply does not count. Give a
// reply's character length as `lookback` when it may be longer than a look.
inline int64_t wait_reply(Port& port, uint8_t mask, bool level, int64_t limit, StallWatch* watch = nullptr,
                          int64_t lookback = kStopPollReads)
{
    const bool coin = CoinWait::active();
    if (!coin && !watch)
        return count_while(port, mask, level, limit);
    std::deque<std::pair<int64_t, uint64_t>> looks; // reads before each look, stalled_ns then
    int64_t n = 0;
    auto keep_lookback = [&] {
        while (looks.size() > 1 && looks[1].first <= n - lookback)
            looks.pop_front();
    };
    while (n < limit) {
        if (watch) {
            looks.emplace_back(n, port.stalled_ns());
            keep_lookback();
        }
        const int64_t chunk = std::min(limit - n, kStopPollReads);
        const int64_t k = count_while(port, mask, level, chunk);
        n += k;
        if (k < chunk)
            break;
        if (coin && StopScope::stop_requested()) {
            n = limit;
            break;
        }
    }
    if (watch && !looks.empty()) {
        keep_lookback();
        watch->restart_from(looks.front().second);
    }
    return n;
}

} // namespace zuna
