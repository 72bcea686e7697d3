#include <gtest/gtest.h>

#include <cmath>

#include "link/module.h"
#include "sim/catalogue.h"

using namespace zuna;

namespace {
// Runs the default computation against a bench whose module holds the given
// zone 0 and whose square wave gives the wanted measurement.
Station run_defaults(sim::SimSetup& setup, int32_t measured)
{
    Station s(setup.bench());
    s.measured_module_count = measured;
    load_delay_counts(s);
    return s;
}
} // namespace

TEST(ModuleMemory, StoredCountsWinComputedOnesFillTheRest)
{
    struct Case {
        const char* what;
        std::vector<std::pair<int, uint8_t>> zone0;
        int32_t m;
        DelayCounts want;
        int32_t g = 100; // module reference count (zone 1 bytes 8 and 9)
    } cases[] = {
        {"all zero, m = g = 100", {}, 100, {138, 90, 138, 1900, 140, 68, 68, 68}},
        {"C120 from 0x2C 0x01", {{45, 0x2C}, {46, 0x01}}, 100, {300, 90, 300, 1900, 140, 68, 68, 68}},
        {"RM3 201 replaced", {{39, 201}}, 100, {138, 90, 138, 1900, 140, 68, 68, 68}},
        {"RM3 200 kept", {{39, 200}}, 100, {138, 90, 138, 1900, 140, 200, 68, 68}},
        {"ALB and RM4 above 200", {{35, 0x2C}, {36, 1}, {37, 0x2C}, {38, 1}}, 100, {138, 90, 138, 1900, 140, 68, 68, 68}},
        {"G13 six bytes", {{49, 0x10}, {50, 1}, {51, 1}, {52, 0}, {53, 1}, {54, 2}}, 100,
         {138, 90, 138, 11024, 140, 68, 68, 68}},
        {"C220B stored, C120 computed", {{43, 150}}, 100, {138, 90, 150, 1900, 140, 68, 68, 68}},
        {"stuck line: m = 0", {}, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
        // 37 * 138 / 100 = 51.06 -> 51; 37 * 90 / 100 = 33.3 -> 33; 37 * 68 / 100 = 25.16 -> 25
        {"rounding", {}, 37, {51, 33, 51, 703, 52, 25, 25, 25}},
        // 25 * 90 / 100 = 22.5 -> 22 (halves to even); 25 * 1900 / 100 = 475
        {"half to even", {}, 25, {34, 22, 34, 475, 35, 17, 17, 17}},
        // A half on an even and on an odd whole part for each factor, and
        // fractions above one half: truncation and halves up each miss some.
        // 2137.5 157.5 155.25 101.25 76.5
        {"m 90, g 80", {}, 90, {155, 101, 155, 2138, 158, 76, 76, 76}, 80},
        // 1662.5 122.5 120.75 78.75 59.5
        {"m 63, g 72", {}, 63, {121, 79, 121, 1662, 122, 60, 60, 60}, 72},
        // 172.5 112.5
        {"m 125, g 100", {}, 125, {172, 112, 172, 2375, 175, 85, 85, 85}},
        // 149.5 97.5 2058.33 151.67 73.67
        {"m 104, g 96", {}, 104, {150, 98, 150, 2058, 152, 74, 74, 74}, 96},
        // a reference above one byte: 300 x 1900 / 456 = 1250, 300 x 138 / 456 = 90.79
        {"g 456", {}, 300, {91, 59, 91, 1250, 92, 45, 45, 45}, 456},
    };
    for (const auto& c : cases) {
        sim::SimSetup setup(1.0, {}, "");
        for (auto [at, v] : c.zone0)
            setup.module().zone0()[at] = v;
        setup.module().zone1()[8] = uint8_t(c.g & 255);
        setup.module().zone1()[9] = uint8_t(c.g >> 8);
        const Station s = run_defaults(setup, c.m);
        EXPECT_EQ(s.delay.c120, c.want.c120) << c.what;
        EXPECT_EQ(s.delay.c220, c.want.c220) << c.what;
        EXPECT_EQ(s.delay.c220b, c.want.c220b) << c.what;
        EXPECT_EQ(s.delay.g13, c.want.g13) << c.what;
        EXPECT_EQ(s.delay.g136, c.want.g136) << c.what;
        EXPECT_EQ(s.delay.rm3, c.want.rm3) << c.what;
        EXPECT_EQ(s.delay.rm4, c.want.rm4) << c.what;
        EXPECT_EQ(s.delay.alb, c.want.alb) << c.what;
    }
}

TEST(ModuleMemory, StoredG13IsRememberedAndCountsAlreadySetAreKept)
{
    sim::SimSetup setup(1.0, {}, "");
    set_zone0_g13(setup.module().zone0(), 2345);
    Station s(setup.bench());
    s.measured_module_count = 100;
    s.delay.c220 = 77; // set by the frequency window: survives the next activate step
    load_delay_counts(s);
    EXPECT_EQ(s.delay.g13, 2345);
    EXPECT_EQ(s.g13_stored, 2345);
    EXPECT_EQ(s.delay.c220, 77);
}

TEST(ModuleMemory, ReferenceCountZeroIsTakenAsOne)
{
    sim::SimSetup setup(1.0, {}, "");
    setup.module().zone1()[8] = 0;
    setup.module().zone1()[9] = 0;
    const Station s = run_defaults(setup, 100);
    EXPECT_EQ(s.reference_copy, 1);
    EXPECT_EQ(s.delay.c120, 13800);
    EXPECT_EQ(s.delay.rm3, 6800); // above 200 only matters for stored values
}

TEST(ModuleMemory, G13EncodingIsGreedy)
{
    struct Case { int32_t value; std::array<uint8_t, 6> bytes; } cases[] = {
        {5000, {0x88, 1, 1, 0, 0, 1}},
        {11024, {0x10, 1, 1, 0, 1, 2}},
        {4095, {255, 1, 1, 1, 1, 0}},
        {255 * 4096 + 4095, {255, 1, 1, 1, 1, 255}},
        {0, {0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        std::array<uint8_t, kZone0Size> z{};
        set_zone0_g13(z, c.value);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(z[49 + i], c.bytes[i]) << c.value << " byte " << 49 + i;
        EXPECT_EQ(zone0_g13(z), c.value);
    }
    std::array<uint8_t, kZone0Size> z{};
    set_zone0_word(z, kZ0C120, 300);
    EXPECT_EQ(z[45], 0x2C);
    EXPECT_EQ(z[46], 0x01);
}

TEST(ModuleMemory, WrongAccessCodeGetsNoZoneOne)
{
    sim::SimSetup setup(1.0, {}, "");
    Station s(setup.bench());
    lir_s2(s, {'0', '0', '0', '0', '0', '0', '0', '0'});
    for (uint8_t b : s.zone1)
        EXPECT_EQ(b, 0xFF); // the chip stays mute: the pulled-up line reads ones
    lir_s2(s, kModuleAccessCode);
    EXPECT_EQ(module_reference(s.zone1), 100);
}

TEST(ModuleMemory, ZoneZeroPersistsBetweenRuns)
{
    const std::string path = testing::TempDir() + "/module-persist.bin";
    std::remove(path.c_str());
    {
        sim::SimSetup setup(1.0, {}, path);
        Station s(setup.bench());
        set_zone0_word(s.zone0, kZ0Rm4, 55);
        ecrit_cle_0(s);
    }
    sim::SimSetup again(1.0, {}, path);
    EXPECT_EQ(zone0_word(again.module().zone0(), kZ0Rm4), 55);
}
