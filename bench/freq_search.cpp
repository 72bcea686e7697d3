// The frequency window's G13 search ("Re calib.": the wake-up probe, then the
// whole tuning) on the simulated bench, against a raw loop of status reads
// in the same run. Counters: port accesses per search and the wall time per
// access relative to the raw read.
#include "bench/rig.h"
#include "freq/freq_link.h"

using namespace zuna;
using benchrig::Rig;

namespace {

void BM_G13ReCalib(benchmark::State& state)
{
    Rig rig("g13");
    benchrig::measure(state, rig, [&]() -> const char* {
        rig.station.delay.g13 = 1900;
        const freq::Search r = freq::search_g13(rig.station, rig.station.measured_copy, rig.station.reference_copy, nullptr);
        return r.ok ? nullptr : "the search found nothing";
    });
}
BENCHMARK(BM_G13ReCalib)->Unit(benchmark::kMillisecond);

} // namespace
