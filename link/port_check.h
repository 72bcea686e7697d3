#pragma once
// "zuna07 --check-port": what stands between the operator and a working
// parallel port, one line per check with the remedy, then this PC's port
// access and module pause times. Every look at the system goes through the
// SysCalls seam.
#include <string>
#include <vector>

#include "link/sys_seam.h"

namespace zuna {

struct CheckLine {
    enum class Verdict { Ok, Warning, Failed, Measure };
    Verdict verdict;
    std::string text;
};

struct PortCheck {
    std::vector<CheckLine> lines;
    bool claimed = false; // the port opened and was claimed: the station can use it
};

// where: "/dev/parportN" (ppdev) or "io:0x378" (direct access).
PortCheck check_port(const std::string& where, SysCalls& sys = real_syscalls());

// The diagnosis as printed: a heading, one line per check, a conclusion.
std::string format_check(const std::string& where, const PortCheck& check);

} // namespace zuna
