#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <string>
#include <sys/ioctl.h>
#include <utility>
#include <vector>

#include "link/hardware_port.h"
#include "link/port_check.h"
#include "link/timing.h"
#include "sim/catalogue.h"
#include <functional>
#include <sys/sysmacros.h>

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
    // A steady clock that moves clock_step ns at each reading, from 0.
    uint64_t clock_ns = 0;
    uint64_t clock_step = 100;
    int clock_reads = 0;
    uint64_t steady_ns() override
    {
        ++clock_reads;
        return std::exchange(clock_ns, clock_ns + clock_step);
    }

    // The machine the port diagnosis sees; by default a working one, user
    // "ana" in group lp (7), /dev/parport0 crw-rw---- root:lp.
    std::vector<std::string> dev = {"tty0", "parport0"};
    std::vector<std::string> modules = {"parport", "parport_pc", "ppdev"};
    bool device_exists = true;
    mode_t device_mode = S_IFCHR | 0660;
    uid_t user = 1000;
    std::vector<gid_t> my_groups = {1000, 7};
    std::vector<std::string> lp_members = {"ana"};
    std::string udev_db;   // /run/udev/data/c99:0, empty: none
    std::string active = "none\n";
    rlim_t rtprio = 99;

    int stat(const char*, struct stat* st) override
    {
        if (!device_exists) {
            errno = ENOENT;
            return -1;
        }
        *st = {};
        st->st_mode = device_mode;
        st->st_gid = 7;
        st->st_rdev = makedev(99, 0);
        return 0;
    }
    bool read_text(const char* path, std::string* text) override
    {
        const std::string p = path;
        *text = p == "/run/udev/data/c99:0" ? udev_db : p == "/proc/sys/dev/parport/parport0/devices/active" ? active : "";
        return !text->empty();
    }
    std::vector<std::string> list_dir(const char* path) override
    {
        return std::string(path) == "/dev" ? dev : std::string(path) == "/sys/module" ? modules : std::vector<std::string>{};
    }
    uid_t uid() override { return user; }
    std::string user_name() override { return user == 0 ? "root" : "ana"; }
    std::vector<gid_t> groups() override { return my_groups; }
    bool group(const char* name, gid_t* gid, std::vector<std::string>* members) override
    {
        if (std::string(name) != "lp")
            return false;
        *gid = 7;
        *members = lp_members;
        return true;
    }
    int getrlimit(int, struct rlimit* lim) override
    {
        lim->rlim_cur = lim->rlim_max = rtprio;
        return 0;
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

TEST(HardwarePort, PausesLastAtLeastTheFloorByTheSteadyClock)
{
    // The loop runs, then the clock is read until steps × floor have passed
    // since the first reading: the readings counted here are the whole wait.
    struct Case {
        double floor_ns;
        uint64_t steps;
        uint64_t clock_step;
        int clock_reads;
    } cases[] = {
        {10, kShortPauseSteps, 500, 6},      // 2010 ns: readings 0, 500 ... 2500
        {10, kLongPauseSteps, 250000, 6},    // 1.00001 ms: readings 0 ... 1.25 ms
        {2.5, kShortPauseSteps, 100, 7},     // 502.5 ns, rounded up: readings 0 ... 600
        {10, 0, 500, 2},                     // nothing to wait: the second reading ends it
        {0, kLongPauseSteps, 500, 0},        // no floor: the loop alone, no clock
    };
    for (const auto& c : cases) {
        FakeSys sys;
        sys.clock_step = c.clock_step;
        PpdevPort port("/dev/parport0", sys, {}, c.floor_ns);
        port.idle(c.steps);
        EXPECT_EQ(sys.clock_reads, c.clock_reads) << c.floor_ns << " " << c.steps;
        EXPECT_EQ(sys.calls, (Calls{"open", "PPCLAIM"})) << "a pause touches no line";
    }
}

TEST(HardwarePort, TheFloorChangesNoPortAccess)
{
    const auto run = [](bool direct, double floor_ns) {
        FakeSys sys;
        std::unique_ptr<Port> port = direct ? std::unique_ptr<Port>(new DirectPort(0x378, sys, {}, floor_ns))
                                            : std::unique_ptr<Port>(new PpdevPort("/dev/parport0", sys, {}, floor_ns));
        {
            MaskedSection masked(*port);
            port->write_data_port(0x63);
            module_long_pause(*port);
            port->write_data_port(0x61);
            module_short_pause(*port);
            (void)port->read_status_port();
        }
        port.reset();
        return std::make_pair(sys.calls, sys.clock_reads);
    };
    for (const bool direct : {false, true}) {
        const auto [plain, plain_reads] = run(direct, 0);
        const auto [floored, floored_reads] = run(direct, kDefaultPauseFloorNs);
        EXPECT_EQ(floored, plain) << direct;
        EXPECT_EQ(plain_reads, 3) << direct << ": one reading per access, for the stalls";
        // 4 × 1.00001 ms and 2.01 µs at 100 ns a reading.
        EXPECT_EQ(floored_reads, 3 + 4 * (1 + 10001) + (1 + 21)) << direct;
    }
}

TEST(HardwarePort, AGapBetweenTwoAccessesIsAStallAndAPauseIsNot)
{
    // Clock readings at each access; the gap before an access is the step.
    struct Case {
        uint64_t step; // ns between two readings
        bool pause;    // a pause between the second and third access
        uint64_t stalled_ns;
    } cases[] = {
        {1000, false, 0},           // accesses a microsecond apart
        {10000, false, 0},          // the longest gap an access may take
        {10001, false, 2 * 10001},  // two gaps a thread stood still
        {50000, true, 50000},       // the gap across the pause is not measured
    };
    for (const bool direct : {false, true})
        for (const auto& c : cases) {
            FakeSys sys;
            sys.clock_ns = 1;
            sys.clock_step = c.step;
            std::unique_ptr<Port> port = direct ? std::unique_ptr<Port>(new DirectPort(0x378, sys, {}, 0))
                                                : std::unique_ptr<Port>(new PpdevPort("/dev/parport0", sys, {}, 0));
            port->write_data_port(0x63);
            (void)port->read_status_port();
            if (c.pause)
                module_short_pause(*port);
            (void)port->read_status_port();
            EXPECT_EQ(port->stalled_ns(), c.stalled_ns) << direct << " " << c.step;
        }
}

TEST(HardwarePort, PauseFloorTexts)
{
    struct Case {
        std::string text;
        std::optional<double> floor;
    } cases[] = {
        {"10", 10}, {"0", 0}, {" 2.5 ", 2.5}, {"2,5", 2.5}, {"10.0", 10}, {"0.125", 0.125},
        {"", std::nullopt}, {"abc", std::nullopt}, {"-1", std::nullopt}, {"1e3", std::nullopt},
        {"nan", std::nullopt}, {"10.5", std::nullopt}, {"1000", std::nullopt}, {"99999999999999999999", std::nullopt},
        {"1.2.3", std::nullopt}, {".", std::nullopt}, {"10 ns", std::nullopt},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(parse_pause_floor(c.text, &error), c.floor) << "« " << c.text << " »";
        if (!c.floor) {
            EXPECT_NE(error.find("« " + c.text + " » refusé"), std::string::npos) << error;
        }
    }
}

TEST(HardwarePort, BadPortTextsAreRefused)
{
    for (const char* where : {"io:", "io:zz", "io:0", "io:0x10000", "io:0x378junk"}) {
        EXPECT_THROW(open_hardware_port(where), PortError) << where;
    }
    EXPECT_THROW(open_hardware_port("/nonexistent/parport9"), PortError);
}

TEST(PortCheck, EachCheckNamesTheCauseAndTheRemedy)
{
    using V = CheckLine::Verdict;
    struct Case {
        const char* what;
        std::string where;
        std::function<void(FakeSys&)> machine;
        std::string words; // in the line under test
        V verdict;
        bool claimed;
    } cases[] = {
        {"all well", "/dev/parport0", [](FakeSys&) {}, "s'ouvre et se réserve", V::Ok, true},
        {"no port at all", "/dev/parport0", [](FakeSys& s) { s.dev = {"tty0"}; s.fail_at = "open"; s.fail_errno = ENOENT; },
         "Aucun port parallèle (/dev/parport*)", V::Failed, false},
        {"another port", "/dev/parport0", [](FakeSys& s) { s.dev = {"parport1"}; s.fail_at = "open"; s.fail_errno = ENOENT; },
         "essayez --port /dev/parport1", V::Failed, false},
        {"modules present", "/dev/parport0", [](FakeSys&) {}, "parport_pc et ppdev chargés", V::Ok, true},
        {"ppdev missing", "/dev/parport0", [](FakeSys& s) { s.modules = {"parport_pc"}; }, "non chargé(s) : ppdev. Chargez-les : sudo modprobe", V::Failed, true},
        {"in lp", "/dev/parport0", [](FakeSys&) {}, "ana est dans le groupe « lp »", V::Ok, true},
        {"not in lp", "/dev/parport0", [](FakeSys& s) { s.my_groups = {1000}; s.lp_members = {}; s.fail_at = "open"; s.fail_errno = EACCES; },
         "sudo usermod -aG lp ana", V::Failed, false},
        {"added to lp, same session", "/dev/parport0", [](FakeSys& s) { s.my_groups = {1000}; },
         "inscrit dans le groupe « lp », mais pas encore cette session", V::Failed, true},
        {"uaccess tag", "/dev/parport0", [](FakeSys& s) { s.my_groups = {1000}; s.lp_members = {}; s.udev_db = "I:1\nG:uaccess\nQ:uaccess\n"; },
         "« uaccess »", V::Ok, true},
        {"world-writable", "/dev/parport0", [](FakeSys& s) { s.my_groups = {1000}; s.lp_members = {}; s.device_mode = S_IFCHR | 0666; },
         "ouvert à tous", V::Warning, true},
        {"root", "/dev/parport0", [](FakeSys& s) { s.user = 0; }, "ne lancez pas la station en root", V::Warning, true},
        {"rights unknown", "/dev/parport0", [](FakeSys& s) { s.device_exists = false; s.fail_at = "open"; s.fail_errno = ENOENT; },
         "non vérifiables : fichier ou périphérique introuvable", V::Warning, false},
        {"lp holds it", "/dev/parport0", [](FakeSys& s) { s.active = "lp0\n"; s.modules.push_back("lp"); s.fail_at = "PPCLAIM"; s.fail_errno = EBUSY; },
         "lp tient le port (lp0) : sudo modprobe -r lp", V::Failed, false},
        {"lp loaded, idle", "/dev/parport0", [](FakeSys& s) { s.modules.push_back("lp"); }, "« blacklist lp »", V::Warning, true},
        {"another holder", "/dev/parport0", [](FakeSys& s) { s.active = "ppdev0\n"; }, "tenu par « ppdev0 »", V::Failed, true},
        {"claim refused", "/dev/parport0", [](FakeSys& s) { s.fail_at = "PPCLAIM"; s.fail_errno = EBUSY; },
         "(PPCLAIM) : périphérique occupé", V::Failed, false},
        {"realtime allowed", "/dev/parport0", [](FakeSys&) {}, "Priorité temps réel permise (RLIMIT_RTPRIO = 99)", V::Ok, true},
        {"realtime refused", "/dev/parport0", [](FakeSys& s) { s.rtprio = 0; },
         "/etc/security/limits.d/95-zuna07.conf avec les lignes « @lp - rtprio 99 »", V::Warning, true},
        {"port timed", "/dev/parport0", [](FakeSys&) {}, "Un accès au port (lecture de l'état) :", V::Measure, true},
        {"port not timed", "/dev/parport0", [](FakeSys& s) { s.fail_at = "open"; s.fail_errno = EACCES; }, "non mesuré", V::Measure, false},
        {"long pause", "/dev/parport0", [](FakeSys&) {}, "le banc simulé la compte 4 ms à la vitesse 1.", V::Measure, true},
        {"pause floor", "/dev/parport0", [](FakeSys&) {}, "avec le plancher de 10 ns par pas (au moins 4 ms)", V::Measure, true},
        {"module silent", "/dev/parport0", [](FakeSys&) {}, "Le module ne répond pas à sa mesure (bit d'état 5 bloqué à 0", V::Failed, true},
        {"ioperm granted", "io:0x278", [](FakeSys&) {}, "accordé aux registres 0x278 à 0x27A", V::Ok, true},
        {"ioperm missing", "io:0x378", [](FakeSys& s) { s.fail_at = "ioperm+"; s.fail_errno = ENOSYS; }, "n'offre pas l'accès direct", V::Failed, false},
        {"ioperm refused", "io:0x378", [](FakeSys& s) { s.fail_at = "ioperm+"; s.fail_errno = EPERM; }, "CAP_SYS_RAWIO", V::Failed, false},
        {"bad address", "io:zz", [](FakeSys&) {}, "Adresse de port invalide", V::Failed, false},
    };
    for (const auto& c : cases) {
        FakeSys sys;
        c.machine(sys);
        const PortCheck check = check_port(c.where, sys);
        const std::string text = format_check(c.where, check);
        EXPECT_EQ(check.claimed, c.claimed) << c.what << "\n" << text;
        int found = 0;
        for (const CheckLine& l : check.lines)
            if (l.text.find(c.words) != std::string::npos) {
                ++found;
                EXPECT_EQ(int(l.verdict), int(c.verdict)) << c.what << ": " << l.text;
            }
        EXPECT_EQ(found, 1) << c.what << "\n" << text;
        // Whatever the failure, a claimed port is released and closed.
        const auto count = [&](const char* call) { return std::count(sys.calls.begin(), sys.calls.end(), call); };
        EXPECT_EQ(count("PPCLAIM") - (c.claimed ? 0 : count("PPCLAIM")), count("PPRELEASE")) << c.what;
        EXPECT_EQ(count("ioperm+") - (c.claimed ? 0 : count("ioperm+")), count("ioperm-")) << c.what;
    }
}

namespace {
// A port whose status register is a function of the data register: a plug.
struct PluggedPort : Port {
    std::function<uint8_t(uint8_t)> status;
    uint8_t data = 0;
    void write_data_port(uint8_t v) override { data = v; }
    uint8_t read_status_port() override { return status(data); }
    void mask_interrupts() override {}
    void unmask_interrupts() override {}
    void idle(uint64_t) override {}
};

// The usual loopback plug: D0 to D3 on pins 15, 13, 12, 10 (status bits 3 to
// 6), D4 on pin 11 (Busy, status bit 7, inverted by the card).
uint8_t loopback(uint8_t d)
{
    const auto bit = [&](int i) { return (d >> i) & 1; };
    return uint8_t(0x07 | bit(0) << 3 | bit(1) << 4 | bit(2) << 5 | bit(3) << 6 | (bit(4) ^ 1) << 7);
}
} // namespace

TEST(PortCheck, TheLineMapShowsTheWiringAndTheModule)
{
    using V = CheckLine::Verdict;
    const std::string head = "Carte des lignes : registre de données au repos (0x63), chaque ligne D0 à D7 changée "
                             "seule, bits d'état 3 à 7 relus :";
    struct Case {
        const char* what;
        std::function<uint8_t(uint8_t)> plug; // null: the simulated bench
        std::string faults;
        std::vector<std::string> bits; // status bits 3 to 7
        V module_verdict;
        std::string module;
    } cases[] = {
        {"loopback plug", loopback, "",
         {"suit D0 (broche 2)", "suit D1 (broche 3)", "suit D2 (broche 4)", "suit D3 (broche 5)",
          "suit D4 (broche 6) inversée"},
         V::Failed,
         "Le module ne répond pas à sa mesure (pas de base de temps sur le bit d'état 5, mesure 5000) : des bits "
         "d'état suivent les lignes de données : une fiche de bouclage est branchée, pas le module."},
        {"D0 and D1 bridged to pin 13, the low one wins", [](uint8_t d) { return uint8_t((d & (d >> 1) & 1) << 4 | 0x08); }, "",
         {"bloqué à 1", "suit D0 (broche 2), D1 (broche 3)", "bloqué à 0", "bloqué à 0", "bloqué à 0"},
         V::Failed,
         "Le module ne répond pas à sa mesure (bit d'état 5 bloqué à 0, mesure 0) : des bits d'état suivent les "
         "lignes de données : une fiche de bouclage est branchée, pas le module."},
        {"dead card", [](uint8_t) { return uint8_t(0x7F); }, "",
         {"bloqué à 1", "bloqué à 1", "bloqué à 1", "bloqué à 1", "bloqué à 0"},
         V::Failed,
         "Le module ne répond pas à sa mesure (pas de base de temps sur le bit d'état 5, mesure 5000) : aucun bit "
         "d'état ne bouge : module absent ou hors tension, câble débranché, ou carte sans entrées."},
        {"bench, module", nullptr, "",
         {"bloqué à 1", "bloqué à 0", "change seul, sans qu'une ligne bouge (la base de temps du module)",
          "bloqué à 1", "bloqué à 0"},
         V::Ok, "Le module répond à sa mesure : 100 lectures pour une demi-période de sa base de temps (bit d'état 5)."},
        {"bench, no module", nullptr, "no-module",
         {"bloqué à 1", "bloqué à 0", "bloqué à 1", "bloqué à 1", "bloqué à 0"},
         V::Failed,
         "Le module ne répond pas à sa mesure (pas de base de temps sur le bit d'état 5, mesure 5000) : aucun bit "
         "d'état ne bouge : module absent ou hors tension, câble débranché, ou carte sans entrées."},
    };
    const int pins[] = {15, 13, 12, 10, 11};
    for (const auto& c : cases) {
        PluggedPort plugged;
        plugged.status = c.plug;
        sim::Faults faults;
        ASSERT_TRUE(sim::parse_faults(c.faults, faults, nullptr));
        sim::SimSetup bench(1.0, faults, "");
        Port& port = c.plug ? static_cast<Port&>(plugged) : bench.bench();

        PortCheck check;
        check.claimed = true;
        FakeSys sys;
        check_open_port(port, sys, 0, false, check);
        ASSERT_EQ(check.lines.size(), 10u) << c.what;
        EXPECT_EQ(check.lines[0].text, "Un accès au port : compté 1 µs sur le banc simulé.");
        EXPECT_NE(check.lines[1].text.find("sans plancher (plancher à 0 dans zuna07.conf"), std::string::npos)
            << check.lines[1].text;
        EXPECT_EQ(sys.clock_reads, 0) << c.what;
        EXPECT_EQ(check.lines[3].text, head) << c.what;
        for (int bit = 3; bit < 8; ++bit)
            EXPECT_EQ(check.lines[size_t(1 + bit)].text, "  bit d'état " + std::to_string(bit) + " (broche " +
                                                            std::to_string(pins[bit - 3]) + ") : " + c.bits[size_t(bit - 3)] + ".")
                << c.what;
        EXPECT_EQ(int(check.lines[9].verdict), int(c.module_verdict)) << c.what;
        EXPECT_EQ(check.lines[9].text, c.module) << c.what;
        EXPECT_EQ(check.module_answers, c.module_verdict == V::Ok) << c.what;
        // The data register is left at rest.
        EXPECT_EQ(c.plug ? plugged.data : bench.bench().data(), 0x63) << c.what;
        const std::string text = format_check("/dev/parport0", check);
        EXPECT_NE(text.find(c.module_verdict == V::Ok ? "peut servir, le module y répond" : "le module n'y répond pas"),
                  std::string::npos)
            << text;
    }
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
