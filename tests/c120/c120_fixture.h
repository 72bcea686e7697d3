#pragma once
// A station on the simulated bench with a C120 plugged, delay counts from the
// module measurement as at start-up.
#include <gtest/gtest.h>

#include "link/module.h"
#include "link/station.h"
#include "sim/c120_mech.h"
#include "sim/catalogue.h"

struct C120Bench : ::testing::Test {
    explicit C120Bench(const char* faults = "", double speed = 1.0)
        : setup(speed, parse(faults), ""), station(setup.bench())
    {
        mech = static_cast<zuna::sim::SerialMech*>(setup.plug("c120"));
        station.measured_module_count = zuna::measure_module(*station.port);
        zuna::load_delay_counts(station);
        framing_before = mech ? mech->framing_errors() : 0; // the module's own traffic
    }
    int framing_errors() const { return mech->framing_errors() - framing_before; }
    static zuna::sim::Faults parse(const char* text)
    {
        zuna::sim::Faults f;
        zuna::sim::parse_faults(text, f, nullptr);
        return f;
    }
    zuna::sim::Bench& bench() { return setup.bench(); }

    zuna::sim::SimSetup setup;
    zuna::Station station;
    zuna::sim::SerialMech* mech = nullptr;
    int framing_before = 0;
};
