// SECI RM3 and RM4 transfers on the simulated bench: the whole read (six or
// twelve channels) and one channel write with its read-back, against a raw
// loop of status reads on the same bench. Counters: port accesses per
// transfer and the wall time per access relative to the raw read loop.
#include "bench/rig.h"
#include "seci/seci_link.h"

using namespace zuna;
using benchrig::Rig;

namespace {

void whole_read(benchmark::State& state, const char* family, const seci::Family& f)
{
    Rig rig(family);
    benchrig::measure(state, rig, [&]() -> const char* {
        const seci::ReadResult r = seci::lecture(seci::Line{rig.station, &f});
        for (int n = 0; n < f.channels; ++n)
            if (!r.channel[size_t(n)].record)
                return "a channel was not read";
        return nullptr;
    });
}

void BM_Rm3WholeRead(benchmark::State& state) { whole_read(state, "rm3", seci::kRm3); }
BENCHMARK(BM_Rm3WholeRead)->Unit(benchmark::kMillisecond);

void BM_Rm4WholeRead(benchmark::State& state) { whole_read(state, "rm4", seci::kRm4); }
BENCHMARK(BM_Rm4WholeRead)->Unit(benchmark::kMillisecond);

void BM_Rm3ChannelWrite(benchmark::State& state)
{
    Rig rig("rm3");
    seci::Rm3Record r{{1200, 1100, 2400, 2300, 3600, 3500}, 5, 3};
    benchrig::measure(state, rig, [&]() -> const char* {
        ++r.value[0];
        const seci::WriteResult w = seci::write_and_read_back(seci::rm3_line(rig.station), 2, r);
        return w.confirmed() ? nullptr : "write not confirmed";
    });
}
BENCHMARK(BM_Rm3ChannelWrite)->Unit(benchmark::kMillisecond);

} // namespace
