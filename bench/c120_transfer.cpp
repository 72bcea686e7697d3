// C120 transfers on the simulated bench: a whole 128-word read and one
// channel write with its checksum verification, against a raw loop of status
// reads on the same bench. Counters: port accesses per transfer and the wall
// time per access relative to the raw read loop (should stay under 2).
#include "bench/rig.h"
#include "c120/c120_link.h"
#include "c120/c120_memory.h"

using namespace zuna;
using benchrig::Rig;

namespace {

void BM_RawStatusReads(benchmark::State& state)
{
    Rig rig("c120");
    for (auto _ : state)
        benchmark::DoNotOptimize(rig.counted.read_status_port());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawStatusReads);

void BM_C120WholeRead(benchmark::State& state)
{
    Rig rig("c120");
    benchrig::measure(state, rig, [&]() -> const char* {
        return c120::lecture(rig.station, nullptr) == 128 ? nullptr : "the read did not reach word 128";
    });
}
BENCHMARK(BM_C120WholeRead)->Unit(benchmark::kMillisecond);

void BM_C120ChannelWrite(benchmark::State& state)
{
    Rig rig("c120");
    if (c120::lecture(rig.station, nullptr) != 128)
        state.SkipWithError("no read");
    uint8_t v = 100;
    benchrig::measure(state, rig, [&]() -> const char* {
        const auto r = c120::ecrit_data(rig.station, c120::window_word(5, 2), ++v, 50);
        return r == c120::WriteResult::Verified ? nullptr : "write not verified";
    });
}
BENCHMARK(BM_C120ChannelWrite)->Unit(benchmark::kMillisecond);

} // namespace
