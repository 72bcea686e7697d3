#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <string>
#include <sys/ioctl.h>
#include <vector>

#include "link/hardware_port.h"

using namespace zuna;

namespace {
// Records every call; fails the one named in fail_at with the given errno.
struct FakeSys : SysCalls {
    std::vector<std::string> calls;
    std::string fail_at;
    int fail_errno = EIO;
    uint8_t status = 0x5A;
    unsigned char last_data = 0;

    bool failing(const std::string& name)
    {
        calls.push_back(name);
        if (name == fail_at) {
            errno = fail_errno;
            return true;
        }
        return false;
    }
    int open(const char*, int) override { return failing("open") ? -1 : 7; }
    int close(int) override { return failing("close") ? -1 : 0; }
    int ioctl(int, unsigned long req, void* arg) override
    {
        const std::string name = req == PPCLAIM     ? "PPCLAIM"
                                 : req == PPRELEASE ? "PPRELEASE"
                                 : req == PPWDATA   ? "PPWDATA"
                                 : req == PPRSTATUS ? "PPRSTATUS"
                                                    : "other";
        if (failing(name))
            return -1;
        if (req == PPWDATA)
            last_data = *static_cast<unsigned char*>(arg);
        if (req == PPRSTATUS)
            *static_cast<unsigned char*>(arg) = status;
        return 0;
    }
    int ioperm(unsigned long, unsigned long, int on) override { return failing(on ? "ioperm+" : "ioperm-") ? -1 : 0; }
    void outb(uint8_t v, uint16_t port) override { calls.push_back("outb " + std::to_string(port) + " " + std::to_string(v)); }
    uint8_t inb(uint16_t port) override
    {
        calls.push_back("inb " + std::to_string(port));
        return status;
    }
};

using Calls = std::vector<std::string>;
} // namespace

TEST(PpdevPort, ClaimsBeforeAccessAndReleasesOnEveryPath)
{
    FakeSys sys;
    {
        PpdevPort port("/dev/parport0", sys);
        port.write_data_port(0x63);
        EXPECT_EQ(sys.last_data, 0x63);
        EXPECT_EQ(port.read_status_port(), 0x5A);
        EXPECT_TRUE(port.last_error().empty());
    }
    EXPECT_EQ(sys.calls, (Calls{"open", "PPCLAIM", "PPWDATA", "PPRSTATUS", "PPRELEASE", "close"}));
}

TEST(PpdevPort, EveryOpeningFailureIsAClearMessage)
{
    struct Case {
        std::string fail_at;
        int err;
        Calls calls;
        std::string words;
        std::string cause; // the system's cause, in French
    } cases[] = {
        {"open", ENOENT, {"open"}, "--simulate", "introuvable"},
        {"open", EACCES, {"open"}, "groupe « lp »", "permission refusée"},
        {"open", ENXIO, {"open"}, "ppdev", "périphérique absent"},
        {"PPCLAIM", EBUSY, {"open", "PPCLAIM", "close"}, "(PPCLAIM)", "occupé par un autre programme"},
        {"PPCLAIM", ENOTTY, {"open", "PPCLAIM", "close"}, "(PPCLAIM)", "n'est pas un port parallèle"},
    };
    for (const auto& c : cases) {
        FakeSys sys;
        sys.fail_at = c.fail_at;
        sys.fail_errno = c.err;
        try {
            PpdevPort port("/dev/parport0", sys);
            ADD_FAILURE() << "no error for " << c.fail_at;
        } catch (const PortError& e) {
            EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.cause), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("/dev/parport0"), std::string::npos) << e.what();
        }
        EXPECT_EQ(sys.calls, c.calls) << c.fail_at;
    }
}

TEST(PpdevPort, AFailingTransferIsRememberedNotIgnored)
{
    FakeSys sys;
    PpdevPort port("/dev/parport1", sys);
    sys.fail_at = "PPWDATA";
    sys.fail_errno = EIO;
    port.write_data_port(1);
    EXPECT_NE(port.last_error().find("/dev/parport1"), std::string::npos);
    EXPECT_NE(port.last_error().find("erreur d'entrée-sortie"), std::string::npos) << port.last_error();
}

TEST(DirectPort, UsesTheThreeRegistersAndGivesThemBack)
{
    FakeSys sys;
    {
        DirectPort port(0x378, sys);
        port.write_data_port(0x61);
        EXPECT_EQ(port.read_status_port(), 0x5A);
    }
    EXPECT_EQ(sys.calls, (Calls{"ioperm+", "outb 888 97", "inb 889", "ioperm-"}));
}

TEST(DirectPort, RefusedAccessSaysWhatIsNeeded)
{
    // A missing right and a kernel without I/O ports call for different remedies.
    struct Case {
        int err;
        std::string words;
        std::string not_words;
    } cases[] = {
        {EPERM, "CAP_SYS_RAWIO", "noyau"},
        {ENOSYS, "n'offre pas l'accès direct", "CAP_SYS_RAWIO"},
    };
    for (const auto& c : cases) {
        FakeSys sys;
        sys.fail_at = "ioperm+";
        sys.fail_errno = c.err;
        try {
            DirectPort port(0x378, sys);
            ADD_FAILURE();
        } catch (const PortError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(c.words), std::string::npos) << what;
            EXPECT_EQ(what.find(c.not_words), std::string::npos) << what;
            EXPECT_NE(what.find("378"), std::string::npos) << what;
        }
        EXPECT_EQ(sys.calls, (Calls{"ioperm+"}));
    }
}

TEST(HardwarePort, BadPortTextsAreRefused)
{
    for (const char* where : {"io:", "io:zz", "io:0", "io:0x10000", "io:0x378junk"}) {
        EXPECT_THROW(open_hardware_port(where), PortError) << where;
    }
    EXPECT_THROW(open_hardware_port("/nonexistent/parport9"), PortError);
}

TEST(RealtimeGuard, NestsAndWarnsAtMostOnce)
{
    int notices = 0;
    RealtimeGuard guard([&](const std::string&) { ++notices; });
    for (int i = 0; i < 3; ++i) {
        guard.enter();
        guard.enter();
        guard.leave();
        guard.leave();
    }
    EXPECT_LE(notices, 1);
    EXPECT_EQ(notices, guard.refused_once() ? 1 : 0);
}
