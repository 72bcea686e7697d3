#pragma once
// The two ways to the real parallel port. Both take their system calls from
// a SysCalls seam and turn every failure into a PortError with a French
// message that says what to do.
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "link/port.h"
#include "link/realtime_guard.h"
#include "link/sys_seam.h"

namespace zuna {

class PortError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The real-time floor of the pauses, in nanoseconds per empty loop step: after
// its counted loop a pause waits, by the steady clock, until it has lasted at
// least steps × floor. 0: no floor (the loop alone, whatever the CPU makes of it).
constexpr double kDefaultPauseFloorNs = 10.0;
// The default is the most: the port-time tables are measured with it, and a
// longer floor would make every operation outlast them.
constexpr double kMaxPauseFloorNs = kDefaultPauseFloorNs;

// The floor as written in the configuration file ("10", "2.5", "2,5", "0").
// nullopt, with a French message naming the text, for anything else.
std::optional<double> parse_pause_floor(const std::string& text, std::string* error);

// The counted loop, then the busy wait up to the floor (never a sleep: pauses
// run inside masked sections, and a sleep would last far longer than asked).
void floored_idle(SysCalls& sys, uint64_t steps, double floor_ns);

// Notices the thread standing still between two port accesses: one steady
// clock reading per access (tens of ns, against the microsecond an access to
// the port costs); a gap longer than kGapNs, which no access takes, is counted
// whole as a stall. The gap across a pause is not measured.
class GapClock {
public:
    static constexpr uint64_t kGapNs = 10000;
    explicit GapClock(SysCalls& sys) : sys_(sys) {}
    void access()
    {
        const uint64_t t = sys_.steady_ns();
        if (last_ != 0 && t - last_ > kGapNs)
            stalled_ += t - last_;
        last_ = t;
    }
    void pause() { last_ = 0; }
    uint64_t stalled_ns() const { return stalled_; }

private:
    SysCalls& sys_;
    uint64_t last_ = 0; // 0: no access since the port opened or the last pause
    uint64_t stalled_ = 0;
};

// Linux ppdev: /dev/parportN, claimed for the whole run, released and closed
// on every exit path.
class PpdevPort : public Port {
public:
    PpdevPort(const std::string& device, SysCalls& sys = real_syscalls(), RealtimeGuard::Notice notice = {},
              double pause_floor_ns = kDefaultPauseFloorNs);
    ~PpdevPort() override;
    PpdevPort(const PpdevPort&) = delete;
    PpdevPort& operator=(const PpdevPort&) = delete;

    void write_data_port(uint8_t value) override;
    uint8_t read_status_port() override;
    void mask_interrupts() override { guard_.enter(); }
    void unmask_interrupts() override { guard_.leave(); }
    void idle(uint64_t loop_steps) override;
    uint64_t stalled_ns() const override { return gaps_.stalled_ns(); }

    // Set when an ioctl failed during a transfer (the transfer goes on; the
    // window reports it once it is over).
    const std::string& last_error() const { return last_error_; }
    std::string take_error() { return std::exchange(last_error_, {}); }

private:
    void release();
    SysCalls& sys_;
    int fd_ = -1;
    bool claimed_ = false;
    std::string device_;
    std::string last_error_;
    RealtimeGuard guard_;
    double floor_ns_;
    GapClock gaps_{sys_};
};

// Direct register access with ioperm at 0x378..0x37A (needs CAP_SYS_RAWIO).
class DirectPort : public Port {
public:
    explicit DirectPort(uint16_t base = 0x378, SysCalls& sys = real_syscalls(), RealtimeGuard::Notice notice = {},
                        double pause_floor_ns = kDefaultPauseFloorNs);
    ~DirectPort() override;
    DirectPort(const DirectPort&) = delete;
    DirectPort& operator=(const DirectPort&) = delete;

    void write_data_port(uint8_t value) override
    {
        sys_.outb(value, base_);
        gaps_.access();
    }
    uint8_t read_status_port() override
    {
        const uint8_t v = sys_.inb(uint16_t(base_ + 1));
        gaps_.access();
        return v;
    }
    void mask_interrupts() override { guard_.enter(); }
    void unmask_interrupts() override { guard_.leave(); }
    void idle(uint64_t loop_steps) override;
    uint64_t stalled_ns() const override { return gaps_.stalled_ns(); }

private:
    SysCalls& sys_;
    uint16_t base_;
    RealtimeGuard guard_;
    double floor_ns_;
    GapClock gaps_{sys_};
};

// An empty counted loop the compiler must keep.
void spin_steps(uint64_t steps);

// The base address of an "io:0x378" port text; nullopt for a ppdev path.
// Throws PortError for an "io:" text that is no valid address.
std::optional<uint16_t> direct_port_base(const std::string& where);

// "--port" text: a ppdev path, or "io:0x378" for direct access.
std::unique_ptr<Port> open_hardware_port(const std::string& where, RealtimeGuard::Notice notice = {},
                                         double pause_floor_ns = kDefaultPauseFloorNs);

} // namespace zuna
