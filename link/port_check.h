#pragma once
// "zuna07 --check-port": what stands between the operator and a working
// parallel port, one line per check with the remedy, then this PC's port
// access and module pause times and, on a port that opens, a map of which
// status bits follow which data line and the module's measurement. Every look
// at the system goes through the SysCalls seam.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/hardware_port.h"
#include "link/port.h"
#include "link/sys_seam.h"

namespace zuna {

struct CheckLine {
    enum class Verdict { Ok, Warning, Failed, Measure };
    Verdict verdict;
    std::string text;
};

struct PortCheck {
    std::vector<CheckLine> lines;
    bool claimed = false;        // the port opened and was claimed: the station can use it
    bool module_answers = false; // and the module answered its measurement there
    bool simulated = false;      // the simulated bench (--simulate --check-port)
};

// where: "/dev/parportN" (ppdev) or "io:0x378" (direct access); pause_floor_ns
// as in the configuration file.
PortCheck check_port(const std::string& where, SysCalls& sys = real_syscalls(),
                     double pause_floor_ns = kDefaultPauseFloorNs);

// The status lines (bits 3 to 7) seen with the data register at rest and with
// each data line changed alone.
struct LineMap {
    static constexpr uint8_t kRest = 0x63;        // the data register between transfers
    static constexpr uint8_t kStatusLines = 0xF8; // bits 0 to 2 are no lines
    uint8_t seen_high = 0;                        // at rest, over a time-base period and more
    uint8_t seen_low = 0;
    std::array<uint8_t, 8> follows{};   // per data line: bits that changed with it every time
    std::array<uint8_t, 8> same_level{}; // of those, the bits that took the line's level
    std::array<uint8_t, 8> sometimes{}; // bits that changed with it some times only
    int32_t module_count = 0;            // the module's measurement (5000: none)
    bool module_answers() const;
};
// Leaves the data register at rest.
LineMap map_lines(Port& port);
// One line per status bit, then the module's answer.
std::vector<CheckLine> describe(const LineMap& map);

// What check_port does once the port is open: pause times (the floor through
// sys's steady clock), the line map and the module measurement. time_access:
// time a status read (not on the simulated bench, whose time is counted).
void check_open_port(Port& port, SysCalls& sys, double pause_floor_ns, bool time_access, PortCheck& check);

// The diagnosis as printed: a heading, one line per check, a conclusion.
// Exit status of --check-port: 0 when the port can serve and the module answers.
std::string format_check(const std::string& where, const PortCheck& check);

} // namespace zuna
