#include <gtest/gtest.h>

#include "link/module.h"
#include "link/timing.h"
#include "sim/catalogue.h"

using namespace zuna;

TEST(ModuleOnBench, MeasuresTheHighPhaseAndComputesDefaults)
{
    sim::SimSetup setup(1.0, {}, "");
    Station s(setup.bench());
    s.measured_module_count = measure_module(*s.port);
    EXPECT_EQ(s.measured_module_count, 100);
    load_delay_counts(s);
    EXPECT_EQ(s.delay.c120, 138);
    EXPECT_EQ(s.delay.c220b, 138);
    EXPECT_EQ(s.delay.g13, 1900);
    EXPECT_EQ(s.delay.g136, 140);
    EXPECT_EQ(s.delay.c220, 90);
    EXPECT_EQ(s.delay.rm3, 68);
    EXPECT_EQ(s.reference_copy, 100);
    EXPECT_EQ(s.measured_copy, 100);
}

TEST(ModuleOnBench, SpeedScalesTheMeasurement)
{
    sim::SimSetup setup(2.0, {}, "");
    EXPECT_EQ(measure_module(setup.bench()), 201);
}

TEST(ModuleOnBench, ZoneZeroWriteIsReadBack)
{
    sim::SimSetup setup(1.0, {}, "");
    Station s(setup.bench());
    s.measured_module_count = measure_module(*s.port);
    set_zone0_word(s.zone0, kZ0C120, 300);
    set_zone0_g13(s.zone0, 5000);
    ecrit_cle_0(s);
    EXPECT_EQ(setup.module().zone0_writes(), 1);
    s.zone0.fill(0);
    load_delay_counts(s);
    EXPECT_EQ(s.delay.c120, 300);
    EXPECT_EQ(s.delay.c220b, 300);
    EXPECT_EQ(s.delay.g13, 5000);
    EXPECT_EQ(s.g13_stored, 5000);
}

TEST(ModuleOnBench, Faults)
{
    struct Case { const char* faults; int32_t measured; } cases[] = {
        {"no-module", 5000}, {"stuck-low", 0}, {"", 100},
    };
    for (const auto& c : cases) {
        sim::Faults f;
        ASSERT_TRUE(sim::parse_faults(c.faults, f, nullptr));
        sim::SimSetup setup(1.0, f, "");
        Station s(setup.bench());
        s.measured_module_count = measure_module(*s.port);
        EXPECT_EQ(s.measured_module_count, c.measured) << c.faults;
        load_delay_counts(s); // nothing divides by zero whatever was measured
    }
}

TEST(ModuleOnBench, DeadMemoryReadsAllOnes)
{
    sim::Faults f;
    f.memory_dead = true;
    sim::SimSetup setup(1.0, f, "");
    Station s(setup.bench());
    s.measured_module_count = measure_module(*s.port);
    load_delay_counts(s);
    for (uint8_t b : s.zone0)
        EXPECT_EQ(b, 0xFF);
    // Not 65535 per family nor a reference of 65535: nothing stored, this PC's own scale.
    EXPECT_TRUE(s.module_memory_silent);
    EXPECT_EQ(s.delay.c120, 138);
    EXPECT_EQ(s.delay.g13, 1900);
    EXPECT_EQ(s.delay.rm3, 68);
    EXPECT_EQ(s.g13_stored, 0);
}
