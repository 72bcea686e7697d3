// Alberici AL3 transfers on the simulated bench: the whole read (opening,
// twelve channels of 22 exchanges, closings) and one channel write with its
// read-back, against a raw loop of status reads on the same bench. Counters:
// port accesses per transfer and the wall time per access relative to the
// raw read loop.
#include "alberici/al3_link.h"
#include "bench/rig.h"

using namespace zuna;
using benchrig::Rig;

namespace {

void BM_Al3WholeRead(benchmark::State& state)
{
    Rig rig("al3");
    benchrig::measure(state, rig, [&]() -> const char* {
        return alberici::lecture(rig.station).done == alberici::kChannels ? nullptr : "not every channel read";
    });
}
BENCHMARK(BM_Al3WholeRead)->Unit(benchmark::kMillisecond);

void BM_Al3ChannelWrite(benchmark::State& state)
{
    Rig rig("al3");
    alberici::Settings v;
    v.parameter = {120, 88, 140, 60, 200, 96};
    v.delta = {6, 6, 6, 6, 6, 6};
    benchrig::measure(state, rig, [&]() -> const char* {
        v.value = v.value % 100 + 1;
        return alberici::write_channel(rig.station, 5, v).confirmed() ? nullptr : "write not read back";
    });
}
BENCHMARK(BM_Al3ChannelWrite)->Unit(benchmark::kMillisecond);

} // namespace
