#pragma once
// The system calls the hardware ports make, behind one seam so tests can
// replace them and check their order and error paths.
#include <cstdint>
#include <sys/types.h>

namespace zuna {

class SysCalls {
public:
    virtual ~SysCalls() = default;
    virtual int open(const char* path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual int ioperm(unsigned long from, unsigned long num, int turn_on) = 0;
    virtual void outb(uint8_t value, uint16_t port) = 0;
    virtual uint8_t inb(uint16_t port) = 0;
};

// The real calls.
SysCalls& real_syscalls();

} // namespace zuna
