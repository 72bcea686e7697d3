#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <utility>

#include "link/transfer_thread.h"

using namespace zuna;

namespace {
// A wait that fails the test instead of hanging it when the thread never answers.
constexpr auto kNever = std::chrono::seconds(20);

// Lets a held operation end, at the latest when the test leaves (a failed
// ASSERT included), before the thread's destructor waits for it.
struct Hold {
    std::promise<void> promise;
    std::shared_future<void> future = promise.get_future().share();
    bool released = false;
    void release()
    {
        if (!std::exchange(released, true))
            promise.set_value();
    }
    ~Hold() { release(); }
};
} // namespace

TEST(TransferThread, OneOperationAtATimeAndTheThreadOutlivesWhatItThrows)
{
    TransferThread t;
    Hold hold;
    std::promise<void> started;
    std::thread::id where;
    int second = 0;
    bool chained = false;
    ASSERT_TRUE(t.start([&] {
        where = std::this_thread::get_id();
        started.set_value();
        hold.future.wait();
    }));
    ASSERT_EQ(started.get_future().wait_for(kNever), std::future_status::ready) << "the operation never started";
    EXPECT_NE(where, std::this_thread::get_id());
    EXPECT_TRUE(t.running());
    EXPECT_EQ(TransferThread::active(), 1);
    // Refused while the first runs, and never run afterwards.
    EXPECT_FALSE(t.start([&] { ++second; }));
    hold.release();
    t.wait();
    EXPECT_FALSE(t.running());
    EXPECT_EQ(TransferThread::active(), 0);
    // done runs once the thread is free: it may start the next operation.
    std::promise<void> next_ran;
    ASSERT_TRUE(t.start([] {}, [&] { chained = t.start([&] { next_ran.set_value(); }); }));
    ASSERT_EQ(next_ran.get_future().wait_for(kNever), std::future_status::ready) << "started from done, never ran";
    t.wait();
    EXPECT_TRUE(chained);
    EXPECT_EQ(second, 0);
    // What an operation throws is kept once, and the thread takes the next one.
    ASSERT_TRUE(t.start([] { throw std::runtime_error("x"); }));
    t.wait();
    EXPECT_TRUE(t.take_error());
    EXPECT_FALSE(t.take_error());
    ASSERT_TRUE(t.start([&] { ++second; }));
    t.wait();
    EXPECT_EQ(second, 1);
}
