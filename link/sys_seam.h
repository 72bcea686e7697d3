#pragma once
// The system calls the hardware ports make, behind one seam so tests can
// replace them and check their order and error paths.
#include <cstdint>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

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
    // The steady clock, in nanoseconds: what the pauses' real-time floor waits on.
    virtual uint64_t steady_ns() = 0;

    // What the port diagnosis looks at.
    virtual int stat(const char* path, struct stat* st) = 0;
    // A small text file, whole; false when it cannot be read.
    virtual bool read_text(const char* path, std::string* text) = 0;
    // The names in a folder; empty when it cannot be read.
    virtual std::vector<std::string> list_dir(const char* path) = 0;
    virtual uid_t uid() = 0;                 // effective user
    virtual std::string user_name() = 0;     // of that user
    virtual std::vector<gid_t> groups() = 0; // effective and supplementary groups of this process
    // The group file's entry: its number and listed members; false when there is none.
    virtual bool group(const char* name, gid_t* gid, std::vector<std::string>* members) = 0;
    virtual int getrlimit(int resource, struct rlimit* limit) = 0;
};

// The real calls.
SysCalls& real_syscalls();

} // namespace zuna
