#include "link/realtime_guard.h"

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mman.h>

namespace zuna {

RealtimeGuard::RealtimeGuard(Notice notice) : notice_(std::move(notice)) {}

void RealtimeGuard::enter()
{
    if (depth_++ > 0)
        return;
    bool ok = true;
    locked_ = ::mlockall(MCL_CURRENT | MCL_FUTURE) == 0;
    ok = ok && locked_;

    sched_param old{};
    old_policy_ = ::sched_getscheduler(0);
    saved_ = old_policy_ >= 0 && ::sched_getparam(0, &old) == 0;
    old_priority_ = old.sched_priority;
    sched_param fifo{};
    fifo.sched_priority = ::sched_get_priority_max(SCHED_FIFO);
    ok = ::sched_setscheduler(0, SCHED_FIFO, &fifo) == 0 && ok;

    cpu_set_t old_set;
    CPU_ZERO(&old_set);
    affinity_saved_ = ::sched_getaffinity(0, sizeof old_set, &old_set) == 0;
    if (affinity_saved_) {
        std::memcpy(old_affinity_, &old_set, sizeof old_affinity_ < sizeof old_set ? sizeof old_affinity_ : sizeof old_set);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(::sched_getcpu() >= 0 ? ::sched_getcpu() : 0, &one);
        ok = ::sched_setaffinity(0, sizeof one, &one) == 0 && ok;
    }
    if (!ok && !warned_) {
        warned_ = true;
        if (notice_)
            notice_("Le système refuse la priorité temps réel : les temps de bit peuvent être perturbés "
                    "pendant les transferts.");
    }
}

void RealtimeGuard::leave()
{
    if (depth_ == 0 || --depth_ > 0)
        return;
    if (saved_) {
        sched_param old{};
        old.sched_priority = old_priority_;
        ::sched_setscheduler(0, old_policy_, &old);
    }
    if (affinity_saved_) {
        cpu_set_t set;
        CPU_ZERO(&set);
        std::memcpy(&set, old_affinity_, sizeof old_affinity_ < sizeof set ? sizeof old_affinity_ : sizeof set);
        ::sched_setaffinity(0, sizeof set, &set);
    }
    if (locked_)
        ::munlockall();
}

} // namespace zuna
