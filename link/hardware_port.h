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

// Linux ppdev: /dev/parportN, claimed for the whole run, released and closed
// on every exit path.
class PpdevPort : public Port {
public:
    PpdevPort(const std::string& device, SysCalls& sys = real_syscalls(), RealtimeGuard::Notice notice = {});
    ~PpdevPort() override;
    PpdevPort(const PpdevPort&) = delete;
    PpdevPort& operator=(const PpdevPort&) = delete;

    void write_data_port(uint8_t value) override;
    uint8_t read_status_port() override;
    void mask_interrupts() override { guard_.enter(); }
    void unmask_interrupts() override { guard_.leave(); }
    void idle(uint64_t loop_steps) override;

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
};

// Direct register access with ioperm at 0x378..0x37A (needs CAP_SYS_RAWIO).
class DirectPort : public Port {
public:
    explicit DirectPort(uint16_t base = 0x378, SysCalls& sys = real_syscalls(), RealtimeGuard::Notice notice = {});
    ~DirectPort() override;
    DirectPort(const DirectPort&) = delete;
    DirectPort& operator=(const DirectPort&) = delete;

    void write_data_port(uint8_t value) override { sys_.outb(value, base_); }
    uint8_t read_status_port() override { return sys_.inb(uint16_t(base_ + 1)); }
    void mask_interrupts() override { guard_.enter(); }
    void unmask_interrupts() override { guard_.leave(); }
    void idle(uint64_t loop_steps) override;

private:
    SysCalls& sys_;
    uint16_t base_;
    RealtimeGuard guard_;
};

// An empty counted loop the compiler must keep.
void spin_steps(uint64_t steps);

// The base address of an "io:0x378" port text; nullopt for a ppdev path.
// Throws PortError for an "io:" text that is no valid address.
std::optional<uint16_t> direct_port_base(const std::string& where);

// "--port" text: a ppdev path, or "io:0x378" for direct access.
std::unique_ptr<Port> open_hardware_port(const std::string& where, RealtimeGuard::Notice notice = {});

} // namespace zuna
