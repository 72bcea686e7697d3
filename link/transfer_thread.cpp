#include "link/transfer_thread.h"

#include <atomic>
#include <exception>
#include <utility>

namespace zuna {

namespace {
std::atomic<int> g_active{0};
}

TransferThread::TransferThread() : thread_([this] { loop(); }) {}

TransferThread::~TransferThread()
{
    {
        std::unique_lock lock(m_);
        cv_.wait(lock, [this] { return !busy_; });
        quit_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

bool TransferThread::start(std::function<void()> op, std::function<void()> done)
{
    {
        std::lock_guard lock(m_);
        if (busy_ || quit_)
            return false;
        busy_ = true;
        op_ = std::move(op);
        done_ = std::move(done);
        g_active.fetch_add(1);
    }
    cv_.notify_all();
    return true;
}

bool TransferThread::running() const
{
    std::lock_guard lock(m_);
    return busy_;
}

void TransferThread::wait() const
{
    std::unique_lock lock(m_);
    cv_.wait(lock, [this] { return !busy_; });
}

std::exception_ptr TransferThread::take_error()
{
    std::lock_guard lock(m_);
    return std::exchange(error_, nullptr);
}

int TransferThread::active() { return g_active.load(); }

void TransferThread::loop()
{
    std::unique_lock lock(m_);
    for (;;) {
        cv_.wait(lock, [this] { return quit_ || (busy_ && op_); });
        if (quit_)
            return;
        auto op = std::move(op_);
        auto done = std::move(done_);
        op_ = nullptr;
        done_ = nullptr;
        lock.unlock();
        std::exception_ptr error;
        try {
            op();
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        error_ = error;
        busy_ = false;
        g_active.fetch_sub(1);
        lock.unlock();
        cv_.notify_all();
        // done runs after busy_ is cleared, so it may start the next operation.
        if (done)
            done();
        lock.lock();
    }
}

} // namespace zuna
