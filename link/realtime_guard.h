#pragma once
// What stands in for masking interrupts on a multitasking system: lock the
// memory, run at SCHED_FIFO top priority on one CPU; restore all on unmask.
// When the system refuses, the transfer still runs and the station is told
// once that timing may suffer.
#include <functional>
#include <string>

namespace zuna {

class RealtimeGuard {
public:
    using Notice = std::function<void(const std::string&)>;
    explicit RealtimeGuard(Notice notice = {});
    void enter();
    void leave();
    bool refused_once() const { return warned_; }

private:
    Notice notice_;
    int depth_ = 0;
    bool warned_ = false;
    bool saved_ = false;
    int old_policy_ = 0;
    int old_priority_ = 0;
    bool affinity_saved_ = false;
    unsigned char old_affinity_[128] = {};
    bool locked_ = false;
};

} // namespace zuna
