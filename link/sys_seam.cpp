#include "link/sys_seam.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#endif
#include <cerrno>

namespace zuna {

namespace {
class RealSysCalls : public SysCalls {
public:
    int open(const char* path, int flags) override { return ::open(path, flags); }
    int close(int fd) override { return ::close(fd); }
    int ioctl(int fd, unsigned long request, void* arg) override { return ::ioctl(fd, request, arg); }
#if defined(__x86_64__) || defined(__i386__)
    int ioperm(unsigned long from, unsigned long num, int turn_on) override { return ::ioperm(from, num, turn_on); }
    void outb(uint8_t value, uint16_t port) override { ::outb(value, port); }
    uint8_t inb(uint16_t port) override { return ::inb(port); }
#else
    int ioperm(unsigned long, unsigned long, int) override { errno = ENOSYS; return -1; }
    void outb(uint8_t, uint16_t) override {}
    uint8_t inb(uint16_t) override { return 0xFF; }
#endif
};
} // namespace

SysCalls& real_syscalls()
{
    static RealSysCalls calls;
    return calls;
}

} // namespace zuna
