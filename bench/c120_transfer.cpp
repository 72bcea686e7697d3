// C120 transfers on the simulated bench: a whole 128-word read and one
// channel write with its checksum verification, against a raw loop of status
// reads on the same bench. Counters: port accesses per transfer and the wall
// time per access relative to the raw read loop (should stay under 2).
#include <benchmark/benchmark.h>

#include <chrono>

#include "c120/c120_link.h"
#include "c120/c120_memory.h"
#include "link/module.h"
#include "sim/catalogue.h"

using namespace zuna;

namespace {

// Forwards to the bench and counts the accesses (the raw loop goes through
// it too, so both sides pay the same indirection).
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
    Rig() : setup(1.0, {}, ""), counted(setup.bench()), station(counted)
    {
        setup.plug("c120");
        station.measured_module_count = measure_module(*station.port);
        load_delay_counts(station);
    }
    sim::SimSetup setup;
    Counted counted;
    Station station;
};

// Seconds per status read of a plain loop on the bench (module running).
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

void BM_RawStatusReads(benchmark::State& state)
{
    Rig rig;
    for (auto _ : state)
        benchmark::DoNotOptimize(rig.counted.read_status_port());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawStatusReads);

void BM_C120WholeRead(benchmark::State& state)
{
    Rig rig;
    uint64_t accesses = 0;
    double seconds = 0;
    int runs = 0;
    for (auto _ : state) {
        const uint64_t a0 = rig.counted.accesses;
        const auto t0 = std::chrono::steady_clock::now();
        const int words = c120::lecture(rig.station, nullptr);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        accesses += rig.counted.accesses - a0;
        ++runs;
        if (words != 128)
            state.SkipWithError("the read did not reach word 128");
    }
    report(state, rig, accesses, seconds, runs);
}
BENCHMARK(BM_C120WholeRead)->Unit(benchmark::kMillisecond);

void BM_C120ChannelWrite(benchmark::State& state)
{
    Rig rig;
    if (c120::lecture(rig.station, nullptr) != 128)
        state.SkipWithError("no read");
    uint64_t accesses = 0;
    double seconds = 0;
    int runs = 0;
    uint8_t v = 100;
    for (auto _ : state) {
        const uint64_t a0 = rig.counted.accesses;
        const auto t0 = std::chrono::steady_clock::now();
        const auto r = c120::ecrit_data(rig.station, c120::window_word(5, 2), ++v, 50);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        accesses += rig.counted.accesses - a0;
        ++runs;
        if (r != c120::WriteResult::Verified)
            state.SkipWithError("write not verified");
    }
    report(state, rig, accesses, seconds, runs);
}
BENCHMARK(BM_C120ChannelWrite)->Unit(benchmark::kMillisecond);

} // namespace
