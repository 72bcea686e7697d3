#include "link/sys_seam.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#endif
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <pwd.h>

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
    uint64_t steady_ns() override
    {
        return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count());
    }
    int stat(const char* path, struct stat* st) override { return ::stat(path, st); }
    bool read_text(const char* path, std::string* text) override
    {
        std::ifstream in(path);
        if (!in)
            return false;
        text->assign(std::istreambuf_iterator<char>(in), {});
        return !in.bad();
    }
    std::vector<std::string> list_dir(const char* path) override
    {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(path)) {
            while (const dirent* e = ::readdir(d))
                names.emplace_back(e->d_name);
            ::closedir(d);
        }
        return names;
    }
    uid_t uid() override { return ::geteuid(); }
    std::string user_name() override
    {
        const passwd* pw = ::getpwuid(::geteuid());
        return pw ? pw->pw_name : std::to_string(::geteuid());
    }
    std::vector<gid_t> groups() override
    {
        std::vector<gid_t> ids(size_t(::getgroups(0, nullptr) + 1));
        const int n = ::getgroups(int(ids.size()) - 1, ids.data());
        ids.resize(n < 0 ? 0 : size_t(n));
        ids.push_back(::getegid());
        return ids;
    }
    bool group(const char* name, gid_t* gid, std::vector<std::string>* members) override
    {
        const ::group* g = ::getgrnam(name);
        if (!g)
            return false;
        *gid = g->gr_gid;
        members->clear();
        for (char** m = g->gr_mem; m && *m; ++m)
            members->emplace_back(*m);
        return true;
    }
    int getrlimit(int resource, struct rlimit* limit) override
    {
        return ::getrlimit(static_cast<__rlimit_resource_t>(resource), limit);
    }
};
} // namespace

SysCalls& real_syscalls()
{
    static RealSysCalls calls;
    return calls;
}

} // namespace zuna
