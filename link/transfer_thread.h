#pragma once
// The one thread that touches the port while a link operation runs. The
// window that starts an operation stays live on its own thread; realtime
// scheduling (taken by the port when a transfer masks interrupts) applies to
// this thread alone.
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace zuna {

class TransferThread {
public:
    TransferThread();
    // Waits for a running operation to end (it is asked to stop first by its
    // owner), then ends the thread: the port can be released after that.
    ~TransferThread();
    TransferThread(const TransferThread&) = delete;
    TransferThread& operator=(const TransferThread&) = delete;

    // Starts op on the thread; done runs on the thread right after op. False,
    // and nothing started, when an operation is already running.
    bool start(std::function<void()> op, std::function<void()> done = {});
    bool running() const;
    // Blocks until no operation runs.
    void wait() const;

    // What the last operation threw (null when it returned), once.
    std::exception_ptr take_error();

    // How many operations run in the whole program (for test watchdogs).
    static int active();

private:
    void loop();

    mutable std::mutex m_;
    mutable std::condition_variable cv_;
    std::function<void()> op_;
    std::function<void()> done_;
    std::exception_ptr error_;
    bool busy_ = false;
    bool quit_ = false;
    std::thread thread_;
};

} // namespace zuna
