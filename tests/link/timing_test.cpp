#include <gtest/gtest.h>

#include <optional>

#include "link/rounding.h"
#include "link/timing.h"
#include "tests/common/counting_port.h"

using namespace zuna;

TEST(Rounding, HalvesGoToEven)
{
    struct Case { int64_t a, b, want; } cases[] = {
        {5, 2, 2}, {7, 2, 4}, {1, 2, 0}, {3, 2, 2}, {-5, 2, -2}, {-7, 2, -4}, {10, 4, 2}, {14, 4, 4},
        {13800, 100, 138}, {0, 7, 0}, {5, 0, 0}, {9, -2, -4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(div_round_even(c.a, c.b), c.want) << c.a << "/" << c.b;
    EXPECT_EQ(round_even(2.5), 2);
    EXPECT_EQ(round_even(3.5), 4);
    EXPECT_EQ(round_even(-0.5), 0);
}

TEST(Timing, RepeatCountsOfEveryForm)
{
    struct Case { int32_t delay; int64_t bit_writes, once_reads, wait200_reads; } cases[] = {
        {0, 1, 1, 1},
        {-1, 0, 0, 0},
        {-5, 0, 0, 0},
        {3, 4, 4, 601},
        {138, 139, 139, 27601},
    };
    for (const auto& c : cases) {
        test::CountingPort p;
        hold_bit(p, c.delay, 0x61);
        EXPECT_EQ(p.writes, c.bit_writes) << "delay " << c.delay;
        EXPECT_EQ(p.reads, 0);
        p = {};
        hold_bit_write_once(p, c.delay, 0x61);
        EXPECT_EQ(p.writes, 1);
        EXPECT_EQ(p.reads, c.once_reads) << "delay " << c.delay;
        p = {};
        wait_status_reads(p, c.delay, 200);
        EXPECT_EQ(p.reads, c.wait200_reads) << "delay " << c.delay;
        EXPECT_EQ(p.writes, 0);
    }
}

TEST(Timing, PausesAreCountedLoops)
{
    test::CountingPort p;
    module_short_pause(p);
    EXPECT_EQ(p.idle_steps, 201u);
    p = {};
    module_long_pause(p);
    EXPECT_EQ(p.idle_steps, 4u * 100001u);
    EXPECT_EQ(p.idle_calls, 4);
}

TEST(Timing, DelayChangeAppliesToTheNextBit)
{
    // The caller reads the count at each call: a change between two bits shows at once.
    test::CountingPort p;
    int32_t delay = 2;
    hold_bit(p, delay, 0x60);
    delay = 5;
    hold_bit(p, delay, 0x61);
    EXPECT_EQ(p.writes, 3 + 6);
}

TEST(Timing, ACoinWaitEndsAtTheNextLookOnceStopIsAsked)
{
    // The line held at the waited level: only the limit or a stop ends the
    // wait. A stop ends only a coin wait, at its look every kStopPollReads
    // reads, as its time-out does (it returns the limit).
    struct Case {
        const char* what;
        bool coin_wait, scoped, stop;
        uint8_t status;
        int64_t limit, want, reads;
    } cases[] = {
        {"coin wait, stop asked", true, true, true, 0x20, 100000, 100000, kStopPollReads},
        {"coin wait, no stop", true, true, false, 0x20, 100000, 100000, 100000},
        {"coin wait, stop not on this operation", true, false, true, 0x20, 100000, 100000, 100000},
        {"read-back, stop asked", false, true, true, 0x20, 100000, 100000, 100000},
        {"coin wait, stop asked, shorter than a look", true, true, true, 0x20, 1000, 1000, 1000},
        {"coin wait, the reply starts at once", true, true, true, 0x00, 100000, 0, 1},
    };
    for (const Case& c : cases) {
        test::CountingPort p;
        p.status = c.status;
        SharedProgress progress;
        if (c.stop)
            progress.request_stop();
        std::optional<StopScope> scope;
        if (c.scoped)
            scope.emplace(&progress);
        std::optional<CoinWait> coin;
        if (c.coin_wait)
            coin.emplace();
        EXPECT_EQ(wait_reply(p, 0x20, true, c.limit), c.want) << c.what;
        EXPECT_EQ(p.reads, c.reads) << c.what;
    }
    EXPECT_FALSE(CoinWait::active());
    EXPECT_FALSE(StopScope::stop_requested());
}

TEST(Timing, AReplyWaitWatchesOnlyTheStretchBeforeTheReply)
{
    // The reply starts at read 5000; the watch covers the look of
    // kStopPollReads reads in which it started, the look before, and what is
    // read after.
    struct Case {
        int64_t stall_at;
        bool coin_wait;
        bool stalled;
    } cases[] = {
        {100, false, false},                          // long before the reply
        {100, true, false},
        {3 * kStopPollReads, false, false},           // the last read before the last two looks
        {3 * kStopPollReads + 1, false, true},        // the first of the look before the last
        {5000, true, true},                           // the read that sees the reply
        {-1, false, false},
    };
    for (const Case& c : cases) {
        test::CountingPort p;
        p.status = 0x20;
        p.status_from_read = 5000;
        p.stall_at_read = c.stall_at;
        std::optional<CoinWait> coin;
        if (c.coin_wait)
            coin.emplace();
        StallWatch watch(p);
        EXPECT_EQ(wait_reply(p, 0x20, true, 100000, &watch), 4999) << c.stall_at;
        EXPECT_EQ(p.reads, 5000) << c.stall_at;
        EXPECT_EQ(watch.stalled(), c.stalled) << c.stall_at;
    }
}
