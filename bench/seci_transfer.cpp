// SECI RM3 and RM4 transfers on the simulated bench: the whole read (six or
// twelve channels) and one channel write with its read-back, against a raw
// loop of status reads on the same bench. Counters: port accesses per
// transfer and the wall time per access relative to the raw read loop.
#include <benchmark/benchmark.h>

#include <chrono>

#include "link/module.h"
#include "seci/seci_link.h"
#include "sim/catalogue.h"

using namespace zuna;

namespace {

struct Counted : Port {
    explicit Counted(Port& p) : inner(p) {}
    Port& inner;
    uint64_t accesses = 0;
    void write_data_port(uint8_t v) override
    {
        ++accesses;
        inner.write_data_port(v);
    }
    uint8_t read_status_port() override
    {
        ++accesses;
        return inner.read_status_port();
    }
    void mask_interrupts() override { inner.mask_interrupts(); }
    void unmask_interrupts() override { inner.unmask_interrupts(); }
    void idle(uint64_t n) override { inner.idle(n); }
};

struct Rig {
    explicit Rig(const char* family = "rm3") : setup(1.0, {}, ""), counted(setup.bench()), station(counted)
    {
        setup.plug(family);
        station.measured_module_count = measure_module(*station.port);
        load_delay_counts(station);
    }
    sim::SimSetup setup;
    Counted counted;
    Station station;
};

double raw_read_seconds(Rig& rig)
{
    constexpr int kReads = 20'000'000;
    const auto t0 = std::chrono::steady_clock::now();
    uint8_t acc = 0;
    for (int i = 0; i < kReads; ++i)
        acc ^= rig.counted.read_status_port();
    benchmark::DoNotOptimize(acc);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / kReads;
}

void report(benchmark::State& state, Rig& rig, uint64_t accesses, double seconds, int runs)
{
    const double raw = raw_read_seconds(rig);
    const double per_access = seconds / double(accesses);
    state.counters["accesses"] = double(accesses) / runs;
    state.counters["ns_per_access"] = per_access * 1e9;
    state.counters["ns_per_raw_read"] = raw * 1e9;
    state.counters["ratio_to_raw"] = per_access / raw;
}

void whole_read(benchmark::State& state, const char* family, const seci::Family& f)
{
    Rig rig(family);
    uint64_t accesses = 0;
    double seconds = 0;
    int runs = 0;
    for (auto _ : state) {
        const uint64_t a0 = rig.counted.accesses;
        const auto t0 = std::chrono::steady_clock::now();
        const seci::ReadResult r = seci::lecture(seci::Line{rig.station, &f});
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        accesses += rig.counted.accesses - a0;
        ++runs;
        for (int n = 0; n < f.channels; ++n)
            if (!r.channel[size_t(n)].record)
                state.SkipWithError("a channel was not read");
    }
    report(state, rig, accesses, seconds, runs);
}

void BM_Rm3WholeRead(benchmark::State& state) { whole_read(state, "rm3", seci::kRm3); }
BENCHMARK(BM_Rm3WholeRead)->Unit(benchmark::kMillisecond);

void BM_Rm4WholeRead(benchmark::State& state) { whole_read(state, "rm4", seci::kRm4); }
BENCHMARK(BM_Rm4WholeRead)->Unit(benchmark::kMillisecond);

void BM_Rm3ChannelWrite(benchmark::State& state)
{
    Rig rig;
    uint64_t accesses = 0;
    double seconds = 0;
    int runs = 0;
    seci::Rm3Record r{{1200, 1100, 2400, 2300, 3600, 3500}, 5, 3};
    for (auto _ : state) {
        ++r.value[0];
        const uint64_t a0 = rig.counted.accesses;
        const auto t0 = std::chrono::steady_clock::now();
        const seci::WriteResult w = seci::write_and_read_back(seci::rm3_line(rig.station), 2, r);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        accesses += rig.counted.accesses - a0;
        ++runs;
        if (!w.confirmed())
            state.SkipWithError("write not confirmed");
    }
    report(state, rig, accesses, seconds, runs);
}
BENCHMARK(BM_Rm3ChannelWrite)->Unit(benchmark::kMillisecond);

} // namespace
