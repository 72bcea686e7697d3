// The whole G13.6000 "Lecture" (opening, block "13", twelve channels: 14
// exchanges) on the simulated bench, against a raw loop of status reads on
// the same bench in the same run (BM_BenchIdleRead). Counters: port accesses
// per reading, wall time per access, and its ratio to a raw read.
#include <benchmark/benchmark.h>

#include <chrono>

#include "link/module.h"
#include "nri/g136_link.h"
#include "sim/catalogue.h"

using namespace zuna;

namespace {

struct Rig {
    Rig() : setup(1.0, {}, ""), station(setup.bench())
    {
        setup.plug("g136");
        station.measured_module_count = measure_module(*station.port);
        load_delay_counts(station);
    }
    sim::SimSetup setup;
    Station station;
};

double raw_read_seconds(Rig& rig)
{
    constexpr int kReads = 1 << 24;
    Port& port = rig.setup.bench();
    const auto t0 = std::chrono::steady_clock::now();
    uint8_t acc = 0;
    for (int i = 0; i < kReads; ++i)
        acc ^= port.read_status_port();
    benchmark::DoNotOptimize(acc);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / kReads;
}

void BM_G136Lecture(benchmark::State& state)
{
    Rig rig;
    uint64_t accesses = 0;
    double seconds = 0;
    int runs = 0;
    for (auto _ : state) {
        const uint64_t a0 = rig.setup.bench().now();
        const auto t0 = std::chrono::steady_clock::now();
        const nri::g136::Reading r = nri::g136::lecture(rig.station, nullptr);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        accesses += rig.setup.bench().now() - a0;
        ++runs;
        if (!r.channels[11])
            state.SkipWithError("the reading did not get to channel 12");
    }
    const double raw = raw_read_seconds(rig);
    const double per_access = seconds / double(accesses);
    state.counters["accesses"] = double(accesses) / runs;
    state.counters["ns_per_access"] = per_access * 1e9;
    state.counters["ns_per_raw_read"] = raw * 1e9;
    state.counters["ratio_to_idle_read"] = per_access / raw;
}
BENCHMARK(BM_G136Lecture)->Unit(benchmark::kMillisecond);

// Raw loop: status reads on the bench with the module and the G13.6000
// plugged and nothing happening on the line.
void BM_BenchIdleRead(benchmark::State& state)
{
    Rig rig;
    Port& port = rig.setup.bench();
    constexpr int kReads = 1 << 20;
    for (auto _ : state) {
        uint8_t acc = 0;
        for (int i = 0; i < kReads; ++i)
            acc ^= port.read_status_port();
        benchmark::DoNotOptimize(acc);
    }
    state.counters["accesses/s"] =
        benchmark::Counter(double(state.iterations()) * kReads, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BenchIdleRead)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
