// C220 transfers on the simulated bench: the whole read (64 words) and one
// channel write with its checksum and read-backs, against a raw loop of idle
// status reads on the same bench in the same run. Counters: port accesses per
// transfer and the wall time per access relative to the raw read loop.
#include "bench/rig.h"
#include "c220/c220_link.h"

using namespace zuna;
using benchrig::Rig;

namespace {

struct C220Rig : Rig {
    C220Rig() : Rig("c220"), link(station) { c220::activate(link); }
    c220::Link link;
};

void BM_C220WholeRead(benchmark::State& state)
{
    C220Rig rig;
    benchrig::measure(state, rig, [&]() -> const char* {
        const c220::ReadResult r = c220::lit_c220(rig.link);
        return r.answered && r.checksum_holds ? nullptr : "the read did not hold";
    });
}
BENCHMARK(BM_C220WholeRead)->Unit(benchmark::kMillisecond);

void BM_C220ChannelWrite(benchmark::State& state)
{
    C220Rig rig;
    c220::lit_c220(rig.link);
    uint8_t low = 20;
    benchrig::measure(state, rig, [&]() -> const char* {
        ++low;
        const c220::WriteResult w = c220::ecrir_code(rig.link, 1, {low, 30, 25, 35, 30, 40});
        return w.confirmed() ? nullptr : "write not confirmed";
    });
}
BENCHMARK(BM_C220ChannelWrite)->Unit(benchmark::kMillisecond);

} // namespace
