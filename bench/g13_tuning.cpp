// The G13.0000 window opening with no stored count (automatic tuning of the
// G13 delay count, then the reset) on the simulated bench, from 300 below the
// mechanism's nominal count, against the bench's idle read rate in the same run.
#include <benchmark/benchmark.h>

#include "link/module.h"
#include "nri/g13_link.h"
#include "sim/catalogue.h"
#include "sim/g13_mech.h"

using namespace zuna;

static void BM_G13Activate(benchmark::State& state)
{
    uint64_t accesses = 0;
    int32_t result = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sim::SimSetup setup(1.0, {}, "");
        auto* mech = static_cast<sim::G13Mechanism*>(setup.plug("g13"));
        Station s(setup.bench());
        s.delay.g13 = mech->nominal_count() - 300;
        const uint64_t t0 = setup.bench().now();
        state.ResumeTiming();
        nri::activate(s, true, nullptr);
        result = s.g13_stored;
        state.PauseTiming();
        accesses += setup.bench().now() - t0;
        state.ResumeTiming();
    }
    state.counters["result"] = result;
    state.counters["accesses"] = benchmark::Counter(double(accesses), benchmark::Counter::kAvgIterations);
    state.counters["accesses/s"] = benchmark::Counter(double(accesses), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_G13Activate)->Unit(benchmark::kMillisecond)->UseRealTime();

// Raw loop: status reads on the bench with the module and the G13.0000
// plugged and nothing happening on the line.
static void BM_BenchIdleRead(benchmark::State& state)
{
    sim::SimSetup setup(1.0, {}, "");
    setup.plug("g13");
    Port& port = setup.bench();
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
