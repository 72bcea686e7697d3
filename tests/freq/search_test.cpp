// The frequency searches on the simulated bench: each lands within the
// simulated mechanism's tolerance, the family's link then reads the
// mechanism at the count found, and a search with no answer changes nothing.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdio>
#include <functional>

#include "c120/c120_link.h"
#include "c120/c220b_link.h"
#include "freq/freq_link.h"
#include "link/module.h"
#include "link/trace_port.h"
#include "alberici/al3_link.h"
#include "nri/g13_link.h"
#include "nri/g136_link.h"
#include "seci/seci_link.h"
#include "sim/catalogue.h"
#include "tests/common/sigrok.h"

using namespace zuna;
using freq::Family;

TEST(FreqSearch, LandsWhereTheFamilyReadsTheMechanismOrChangesNothing)
{
    using Run = std::function<freq::Search(Station&, int32_t, int32_t)>;
    // Reads the mechanism at the count found; given the mechanism's own count.
    using Read = std::function<bool(Station&, int32_t)>;
    struct Case {
        const char* family;
        Family f;
        double speed;
        bool silent;
        bool lands;
        int32_t nominal; // the mechanism's own count at this speed
        int32_t found;   // what the search finds
        Run run;
        Read read;
    };
    const Run c120 = [](Station& s, int32_t m, int32_t g) { return freq::search_c120(s, m, g, nullptr); };
    const Run c220b = [](Station& s, int32_t m, int32_t g) { return freq::search_c220b(s, m, g, nullptr); };
    const Run g13 = [](Station& s, int32_t m, int32_t g) { return freq::search_g13(s, m, g, nullptr); };
    const Run rm3 = [](Station& s, int32_t m, int32_t g) { return freq::search_rm3(s, m, g, nullptr); };
    const Run g136 = [](Station& s, int32_t m, int32_t g) { return freq::search_g136(s, m, g, nullptr); };
    const Run al3 = [](Station& s, int32_t, int32_t) { return freq::search_al3(s, nullptr); };
    const Run rm4 = [](Station& s, int32_t m, int32_t g) { return freq::search_rm4(s, m, g, nullptr); };
    const Read read_c120 = [](Station& s, int32_t) { return c120::lecture(s, nullptr) == 128; };
    const Read read_c220b = [](Station& s, int32_t) { return c220b::lecture_c220(s, nullptr) == 128; };
    const Read read_g13 = [](Station& s, int32_t) { return nri::lecture(s, nullptr).answered; };
    const Read read_g136 = [](Station& s, int32_t) { return nri::g136::lecture(s, nullptr).answered; };
    const Read read_al3 = [](Station& s, int32_t) { return alberici::lecture(s, nullptr).channel[0].has_value(); };
    // Every channel, as read at the mechanism's own count.
    auto read_seci = [](seci::Line (*line)(Station&), int32_t DelayCounts::*count, int channels) {
        return [=](Station& s, int32_t nominal) {
            const seci::ReadResult found = seci::lecture(line(s));
            const int32_t kept = s.delay.*count;
            s.delay.*count = nominal;
            const seci::ReadResult own = seci::lecture(line(s));
            s.delay.*count = kept;
            for (int n = 0; n < channels; ++n)
                if (!found.channel[size_t(n)].record || found.channel[size_t(n)].record != own.channel[size_t(n)].record)
                    return false;
            return true;
        };
    };
    const Read read_rm3 = read_seci(seci::rm3_line, &DelayCounts::rm3, 6);
    const Read read_rm4 = read_seci(seci::rm4_line, &DelayCounts::rm4, 12);
    const Case cases[] = {
        {"c120", Family::C120, 1, false, true, 138, 138, c120, read_c120},
        {"c120", Family::C120, 2, false, true, 277, 278, c120, read_c120},
        {"c120", Family::C120, 1, true, false, 0, 0, c120, {}},
        {"c120 noise", Family::C120, 1, false, false, 0, 0, c120, {}},
        {"c220b", Family::C220B, 1, false, true, 138, 143, c220b, read_c220b},
        {"c220b", Family::C220B, 2, false, true, 277, 286, c220b, read_c220b},
        {"c220b", Family::C220B, 1, true, false, 0, 0, c220b, {}},
        {"c220b noise", Family::C220B, 1, false, true, 138, 143, c220b, read_c220b},
        {"g13", Family::G13, 1, false, true, 1950, 1950, g13, read_g13},
        // At speed 2 the mechanism's count (3901) is above the tuning's limit of 3200.
        {"g13", Family::G13, 2, false, false, 0, 0, g13, {}},
        {"g13", Family::G13, 1, true, false, 0, 0, g13, {}},
        {"rm3", Family::RM3, 1, false, true, 68, 65, rm3, read_rm3},
        {"rm3", Family::RM3, 2, false, true, 137, 130, rm3, read_rm3},
        {"rm3", Family::RM3, 1, true, false, 0, 0, rm3, {}},
        // A slower and a faster PC: the probe's reply is heard from its first edge.
        {"rm3", Family::RM3, 0.7, false, true, 47, 45, rm3, read_rm3},
        {"rm3", Family::RM3, 1.5, false, true, 103, 97, rm3, read_rm3},
        {"g136", Family::G136, 1, false, true, 140, 141, g136, read_g136},
        {"g136", Family::G136, 2, false, true, 281, 282, g136, read_g136},
        {"g136", Family::G136, 1, true, false, 0, 0, g136, {}},
        {"al3", Family::ALB, 1, false, true, 68, 68, al3, read_al3},
        {"al3", Family::ALB, 2, false, true, 137, 137, al3, read_al3},
        {"al3", Family::ALB, 1, true, false, 0, 0, al3, {}},
        {"rm4", Family::RM4, 1, false, true, 68, 68, rm4, read_rm4},
        {"rm4", Family::RM4, 2, false, true, 137, 137, rm4, read_rm4},
        {"rm4", Family::RM4, 1, true, false, 0, 0, rm4, {}},
        {"rm4", Family::RM4, 0.7, false, true, 47, 47, rm4, read_rm4},
        {"rm4", Family::RM4, 1.5, false, true, 103, 102, rm4, read_rm4},
        {"rm4 noise", Family::RM4, 1, false, false, 0, 0, rm4, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family) + (c.silent ? " silent" : "") + " speed " + std::to_string(c.speed));
        sim::Faults faults;
        faults.silent = c.silent;
        faults.noise = std::string(c.family).find("noise") != std::string::npos;
        sim::SimSetup setup(c.speed, faults, "");
        Station s(setup.bench());
        measure_module(s);
        load_delay_counts(s);
        setup.plug(std::string(c.family).substr(0, std::string(c.family).find(' ')));
        // The simulated C120 sleeps until a wake-up pulse, which the search does not
        // send: on a real line the rest before it is long enough. A transfer wakes it.
        if (c.f == Family::C120)
            c120::wake_up(s);
        const DelayCounts before = s.delay;
        const int32_t stored = s.g13_stored;
        const auto zone0 = s.zone0;
        const uint64_t t0 = setup.bench().now();
        const freq::Search r = c.run(s, s.measured_copy, s.reference_copy);
        const double port_seconds = double(setup.bench().now() - t0) / 1e6 / c.speed;
        std::printf("%s%s speed %.1f: %s %d (its own %d), %.2f s of port time\n", c.family, c.silent ? " silent" : "",
                    c.speed, r.ok ? "found" : "nothing", r.value, c.nominal, port_seconds);
        EXPECT_EQ(r.ok, c.lands);
        if (r.ok) {
            EXPECT_EQ(r.value, c.found);
            EXPECT_EQ(freq::count(s, c.f), r.value);
            if (c.f != Family::RM3) {
                EXPECT_EQ(s.delay.rm3, before.rm3); // the RM4 search restores the RM3 count
            }
            EXPECT_TRUE(c.read(s, c.nominal)) << "the family's link does not read the mechanism at " << r.value;
        } else {
            EXPECT_FALSE(r.message.empty());
            EXPECT_EQ(s.delay.c120, before.c120);
            EXPECT_EQ(s.delay.c220b, before.c220b);
            EXPECT_EQ(s.delay.g13, before.g13);
            EXPECT_EQ(s.g13_stored, stored);
            EXPECT_EQ(s.delay.rm3, before.rm3);
            EXPECT_EQ(s.delay.rm4, before.rm4);
            EXPECT_EQ(s.delay.g136, before.g136);
            EXPECT_EQ(s.delay.alb, before.alb);
            EXPECT_EQ(s.zone0, zone0);
            EXPECT_LT(port_seconds, 30);
        }
    }
}

TEST(FreqSearch, ProbesOnTheLineAsSigrokDecodesThem)
{
    // The C120 open at round(m' x 80 / g') = 80 (81 ticks a bit: 12346 baud);
    // the G136 "I" cut after its entry 5 at round(m' x 110 / g') = 110 (9009 baud).
    if (!test::have_sigrok())
        GTEST_SKIP() << "sigrok-cli not installed";
    struct Case {
        const char* family;
        std::function<freq::Search(Station&)> run;
        const char* decoder;
        std::vector<int> first;
    } cases[] = {
        {"c120", [](Station& s) { return freq::search_c120(s, s.measured_copy, s.reference_copy, nullptr); },
         "uart:rx=D0:baudrate=12346", {0x05, 0x78, 0x78, 0xFF, 0x05, 0x78, 0x78, 0xFF}},
        {"g136", [](Station& s) { return freq::search_g136(s, s.measured_copy, s.reference_copy, nullptr); },
         "uart:rx=D0:baudrate=9009", {0xC9}},
    };
    for (const Case& c : cases) {
        sim::SimSetup setup(1.0, {}, "");
        Station s(setup.bench());
        measure_module(s);
        load_delay_counts(s);
        setup.plug(c.family);
        if (c.family == std::string("c120"))
            c120::wake_up(s); // asleep until a wake-up pulse, which the search does not send
        QTemporaryDir dir;
        const QString vcd = dir.filePath("probe.vcd");
        {
            TracePort trace(setup.bench(), vcd.toStdString());
            s.port = &trace;
            EXPECT_TRUE(c.run(s).ok) << c.family;
            s.port = &setup.bench();
        }
        std::vector<int> got = test::sigrok_bytes(vcd, c.decoder, "rx-data");
        if (got.size() > c.first.size())
            got.resize(c.first.size());
        EXPECT_EQ(got, c.first) << c.family;
    }
}

TEST(FreqSearch, CountsFromTheRepliesRoundHalvesToEven)
{
    // A half on an even whole part, a half on an odd one, a fraction above
    // one half: truncation, halves up and halves to even tell them apart.
    using Rule = int32_t (*)(int32_t, int32_t);
    const Rule half = [](int32_t r, int32_t) { return freq::half_reads(r); };
    const Rule margin = [](int32_t r, int32_t) { return freq::with_margin(r); };
    const Rule start = [](int32_t e, int32_t) { return freq::g136_start(e); };
    const Rule middle = [](int32_t lo, int32_t hi) { return freq::al3_middle(lo, hi); };
    struct Case { const char* what; Rule rule; int32_t a, b, want; } cases[] = {
        {"r x 0.5: 138.5", half, 277, 0, 138},
        {"r x 0.5: 139.5", half, 279, 0, 140},
        {"C220B r x 0.515: 51.5", margin, 100, 0, 52},
        {"C220B r x 0.515: 154.5", margin, 300, 0, 154},
        {"C220B r x 0.515: 146.775", margin, 285, 0, 147},
        {"G136 start / 6: 140.5", start, 843, 0, 140},
        {"G136 start / 6: 141.5", start, 849, 0, 142},
        {"G136 start / 6: 140.83", start, 845, 0, 141},
        {"ALB middle: 68.5", middle, 67, 70, 68},
        {"ALB middle: 69.5", middle, 68, 71, 70},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.rule(c.a, c.b), c.want) << c.what;
}
