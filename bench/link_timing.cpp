// Costs of the hot paths, each next to a raw loop of the same port accesses
// in the same run: a unit sent with hold_bit on a port that discards writes,
// and the simulated bench's status reads while nothing happens on the line.
#include <benchmark/benchmark.h>

#include "link/timing.h"
#include "sim/catalogue.h"

using namespace zuna;

namespace {
class DiscardPort : public Port {
public:
    void write_data_port(uint8_t v) override { benchmark::DoNotOptimize(v); }
    uint8_t read_status_port() override { return 0; }
    void mask_interrupts() override {}
    void unmask_interrupts() override {}
    void idle(uint64_t) override {}
};

constexpr int32_t kDelay = 138;

void RawVirtualWrites(benchmark::State& state)
{
    DiscardPort d;
    Port& p = d;
    for (auto _ : state)
        for (int i = 0; i <= kDelay; ++i)
            p.write_data_port(0x61);
    state.SetItemsProcessed(state.iterations() * (kDelay + 1));
}
BENCHMARK(RawVirtualWrites);

void HoldBitUnit(benchmark::State& state)
{
    DiscardPort d;
    Port& p = d;
    for (auto _ : state)
        hold_bit(p, kDelay, 0x61);
    state.SetItemsProcessed(state.iterations() * (kDelay + 1));
}
BENCHMARK(HoldBitUnit);

void BenchIdleStatusReads(benchmark::State& state)
{
    sim::Faults faults;
    faults.wave_stuck_low = true; // nothing moves on the line
    sim::SimSetup setup(1.0, faults, "");
    Port& p = setup.bench();
    for (auto _ : state)
        benchmark::DoNotOptimize(count_while(p, 0x80, false, 10'000'000));
    state.SetItemsProcessed(state.iterations() * 10'000'000);
}
BENCHMARK(BenchIdleStatusReads)->Unit(benchmark::kMillisecond);

void BenchStatusReadsWithSquareWave(benchmark::State& state)
{
    sim::SimSetup setup(1.0, {}, "");
    Port& p = setup.bench();
    for (auto _ : state)
        benchmark::DoNotOptimize(count_while(p, 0x80, false, 10'000'000));
    state.SetItemsProcessed(state.iterations() * 10'000'000);
}
BENCHMARK(BenchStatusReadsWithSquareWave)->Unit(benchmark::kMillisecond);
} // namespace
