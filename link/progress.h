#pragma once
// What a link operation may do with its window's progress bar, without
// knowing the window, and how it learns that the operator asked it to stop.
// Windows pass an adapter; tests pass nothing.
#include <atomic>

namespace zuna {

class Progress {
public:
    virtual ~Progress() = default;
    virtual void start(int maximum) = 0; // show at 0
    virtual void step() = 0;             // one step further
    virtual void finish() = 0;           // hide
    // The operator pressed "Arrêter". Link operations look at it at safe
    // points only: between commands, words, coins, tuning steps; never inside
    // a bit, a byte, a masked span, or between a write and its verification.
    virtual bool stop_requested() const { return false; }
};

// The same for operations that may run without a window (progress null).
inline void start(Progress* p, int maximum)
{
    if (p)
        p->start(maximum);
}
inline void step(Progress* p)
{
    if (p)
        p->step();
}
inline void finish(Progress* p)
{
    if (p)
        p->finish();
}
inline bool stop_asked(const Progress* p) { return p && p->stop_requested(); }

// The stop request of the operation running on this thread, seen by the
// coin waits deep in a link that take no Progress. The runner of an
// operation with a stop button (the window's transfer) sets it for the
// operation's length; scopes nest.
class StopScope {
public:
    explicit StopScope(const Progress* p) : previous_(current_) { current_ = p; }
    ~StopScope() { current_ = previous_; }
    StopScope(const StopScope&) = delete;
    StopScope& operator=(const StopScope&) = delete;
    static bool stop_requested() { return stop_asked(current_); }

private:
    const Progress* previous_;
    static inline thread_local const Progress* current_ = nullptr;
};

// Progress moved by the transfer thread and read by the window on a timer:
// plain atomics, no lock, nothing that can block the link.
class SharedProgress : public Progress {
public:
    void start(int maximum) override
    {
        value_.store(0, std::memory_order_relaxed);
        maximum_.store(maximum, std::memory_order_relaxed);
        shown_.store(true, std::memory_order_release);
    }
    void step() override { value_.fetch_add(1, std::memory_order_relaxed); }
    void finish() override { shown_.store(false, std::memory_order_release); }
    bool stop_requested() const override { return stop_.load(std::memory_order_acquire); }

    void request_stop() { stop_.store(true, std::memory_order_release); }
    void reset()
    {
        stop_.store(false);
        shown_.store(false);
        value_.store(0);
        maximum_.store(0);
    }
    int value() const { return value_.load(std::memory_order_relaxed); }
    int maximum() const { return maximum_.load(std::memory_order_relaxed); }
    bool shown() const { return shown_.load(std::memory_order_acquire); }

private:
    std::atomic<int> value_{0};
    std::atomic<int> maximum_{0};
    std::atomic<bool> shown_{false};
    std::atomic<bool> stop_{false};
};

} // namespace zuna
