#pragma once
// What the transfer benchmarks share: a bench with the module and one
// simulated mechanism, a port that counts the accesses (the raw loop goes
// through it too, so both sides pay the same indirection), and the counters
// each benchmark reports: accesses per transfer and wall time per access
// relative to a raw loop of status reads in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "link/module.h"
#include "sim/catalogue.h"

namespace zuna::benchrig {

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
    explicit Rig(const std::string& family) : setup(1.0, {}, ""), counted(setup.bench()), station(counted)
    {
        setup.plug(family);
        measure_module(station);
        load_delay_counts(station);
    }
    sim::SimSetup setup;
    Counted counted;
    Station station;
};

// Seconds per status read of a plain loop on the bench (module running).
inline double raw_read_seconds(Rig& rig)
{
    constexpr int kReads = 20'000'000;
    const auto t0 = std::chrono::steady_clock::now();
    uint8_t acc = 0;
    for (int i = 0; i < kReads; ++i)
        acc ^= rig.counted.read_status_port();
    benchmark::DoNotOptimize(acc);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / kReads;
}

// Runs op once per iteration; op returns an error text (nullptr when the
// transfer did what it should). Reports accesses per run and the ratio of
// the time per access to the raw read's.
template <class Op>
void measure(benchmark::State& state, Rig& rig, Op op)
{
    uint64_t accesses = 0;
    double seconds = 0;
    int runs = 0;
    for (auto _ : state) {
        const uint64_t a0 = rig.counted.accesses;
        const auto t0 = std::chrono::steady_clock::now();
        const char* error = op();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        accesses += rig.counted.accesses - a0;
        ++runs;
        if (error)
            state.SkipWithError(error);
    }
    const double raw = raw_read_seconds(rig);
    const double per_access = seconds / double(accesses ? accesses : 1);
    state.counters["accesses"] = double(accesses) / (runs ? runs : 1);
    state.counters["ns_per_access"] = per_access * 1e9;
    state.counters["ns_per_raw_read"] = raw * 1e9;
    state.counters["ratio_to_raw"] = per_access / raw;
}

} // namespace zuna::benchrig
