// C220 transfers on the simulated bench: the whole read (64 words) and one
// channel write with its checksum and read-backs, against a raw loop of idle
// status reads on the same bench in the same run. Counters: port accesses per
// transfer and the wall time per access relative to the raw read loop.
#include <benchmark/benchmark.h>

#include <chrono>

#include "c220/c220_link.h"
#include "link/module.h"
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
    Rig() : setup(1.0, {}, ""), counted(setup.bench()), station(counted), link(station)
    {
        setup.plug("c220");
        station.measured_module_count = measure_module(*station.port);
        load_delay_counts(station);
        c220::activate(link);
    }
    sim::SimSetup setup;
    Counted counted;
    Station station;
    c220::Link link;
};

// The bench's idle status read: nothing due, an increment and a load.
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

void BM_C220WholeRead(benchmark::State& state)
{
    Rig rig;
    uint64_t accesses = 0;
    double seconds = 0;
    int runs = 0;
    for (auto _ : state) {
        const uint64_t a0 = rig.counted.accesses;
        const auto t0 = std::chrono::steady_clock::now();
        const c220::ReadResult r = c220::lit_c220(rig.link);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        accesses += rig.counted.accesses - a0;
        ++runs;
        if (!r.answered || !r.checksum_holds)
            state.SkipWithError("the read did not hold");
    }
    report(state, rig, accesses, seconds, runs);
}
BENCHMARK(BM_C220WholeRead)->Unit(benchmark::kMillisecond);

void BM_C220ChannelWrite(benchmark::State& state)
{
    Rig rig;
    c220::lit_c220(rig.link);
    uint64_t accesses = 0;
    double seconds = 0;
    int runs = 0;
    uint8_t low = 20;
    for (auto _ : state) {
        ++low;
        const uint64_t a0 = rig.counted.accesses;
        const auto t0 = std::chrono::steady_clock::now();
        const c220::WriteResult w = c220::ecrir_code(rig.link, 1, {low, 30, 25, 35, 30, 40});
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        accesses += rig.counted.accesses - a0;
        ++runs;
        if (!w.confirmed())
            state.SkipWithError("write not confirmed");
    }
    report(state, rig, accesses, seconds, runs);
}
BENCHMARK(BM_C220ChannelWrite)->Unit(benchmark::kMillisecond);

} // namespace
