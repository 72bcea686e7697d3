// A real line on the bench: a mechanism's clock that drifts, a PC that stalls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "sim/catalogue.h"
#include "sim/stall_fault.h"

using namespace zuna;
using namespace zuna::sim;

namespace {

// Lets `ticks` of bench time pass: a pause step is 10 ns, 100 steps a tick.
void pass(Bench& b, uint64_t ticks) { b.idle(ticks * 100); }

// Sends one character the way a station would: data bit 0, start bit low,
// eight data bits (least significant first), stop bit high, `bit` ticks each.
void send_char(Bench& b, uint8_t c, uint64_t bit)
{
    for (int k = 0; k < 10; ++k) {
        const bool high = k == 0 ? false : k == 9 ? true : bool((c >> (k - 1)) & 1);
        b.write_data_port(high ? 1 : 0);
        pass(b, bit - 1);
    }
}

// Reads the status every tick until bit 7 rises (at most `limit` ticks),
// then the ticks of its next edges, counted from that rise.
std::vector<uint64_t> edges_after_rise(Bench& b, uint64_t limit, uint64_t span, std::size_t count = 99)
{
    std::vector<uint64_t> edges;
    const uint64_t give_up = b.now() + limit;
    while (!(b.read_status_port() & 0x80))
        if (b.now() > give_up)
            return edges;
    const uint64_t rise = b.now();
    bool level = true;
    while (b.now() < rise + span && edges.size() < count) {
        const bool now_level = b.read_status_port() & 0x80;
        if (now_level != level)
            edges.push_back(b.now() - rise);
        level = now_level;
    }
    return edges;
}

struct DriftRow {
    const char* family;
    std::vector<uint8_t> command; // sent at the mechanism's own bit time (serial families)
    double bit_micros;            // nominal bit (half clock for the C220)
    uint8_t first_byte;           // the reply's first character
};

} // namespace

// The edges of a mechanism's reply on the line: edge k bits after the start
// of the character lies round(k × bit × (1 + P/100)) ticks after it, however
// the drift rounds a single bit.
TEST(MechanismDrift, ReplyEdgesFollowTheDriftedClock)
{
    const DriftRow rows[] = {
        {"c120", {0x05, 0x78, 0x78, 0xFF}, 139, 0x05}, // open: acknowledge 0x05
        {"rm3", {0x10}, 69, 0x02},                     // answered 0x02
        {"g13", {'I'}, 1951, '0'},                     // identity "0="
        {"g136", {'I'}, 141, '0'},                     // identity "0736"
    };
    for (const DriftRow& row : rows) {
        for (double drift : {0.0, 5.0, -5.0, 2.5}) {
            SCOPED_TRACE(std::string(row.family) + " drift " + std::to_string(drift));
            Bench b;
            b.set_mechanism_drift(drift);
            auto mech = mechanism_factories().at(row.family)(b);
            // Data bit 1 high over 1 ms, then low: the C120's wake-up pulse.
            b.write_data_port(3);
            b.plug(*mech);
            mech->start();
            pass(b, 1100);
            b.write_data_port(1);
            pass(b, 20 * uint64_t(row.bit_micros));
            const uint64_t bit = uint64_t(std::llround(row.bit_micros * (1 + drift / 100)));
            for (uint8_t c : row.command)
                send_char(b, c, bit);
            // Status bit 7 is set while the mechanism's line is at level 0:
            // start bit, data bits at 0; clear for data bits at 1 and the stop bit.
            std::vector<uint64_t> expected;
            bool level = true;
            for (int k = 1; k <= 9; ++k) {
                const bool set = k == 9 ? false : !((row.first_byte >> (k - 1)) & 1);
                if (set != level)
                    expected.push_back(uint64_t(std::llround(k * row.bit_micros * (1 + drift / 100))));
                level = set;
            }
            EXPECT_EQ(edges_after_rise(b, 100 * bit, expected.back() + 1, expected.size()), expected);
            b.unplug(*mech);
        }
    }
}

// The C220's coin handshake clock: the request withdrawn, its first rise
// comes half a period later and its eighth pulse's rise 17 half periods
// after the withdrawal, on the mechanism's own clock.
TEST(MechanismDrift, C220HandshakeClockFollowsTheDriftedClock)
{
    for (double drift : {0.0, 5.0, -5.0, 2.5}) {
        SCOPED_TRACE("drift " + std::to_string(drift));
        Bench b;
        b.set_mechanism_drift(drift);
        auto mech = mechanism_factories().at("c220")(b);
        b.plug(*mech);
        mech->start();
        b.write_data_port(0x08); // the request
        pass(b, b.ticks(250000));
        ASSERT_EQ(b.read_status_port() & 0x10, 0); // answered: a coin came
        b.write_data_port(0x00);                 // withdrawn: the clock starts
        const uint64_t withdrawn = b.now();
        std::vector<uint64_t> rises;
        bool level = b.read_status_port() & 0x80;
        while (rises.size() < 9 && b.now() < withdrawn + 10000) {
            const bool now_level = b.read_status_port() & 0x80;
            if (now_level && !level)
                rises.push_back(b.now() - withdrawn);
            level = now_level;
        }
        const double half = 100 * (1 + drift / 100);
        ASSERT_EQ(rises.size(), 9u);
        EXPECT_EQ(rises[0], uint64_t(std::llround(half)));
        EXPECT_EQ(rises[8], uint64_t(std::llround(17 * half)));
        b.unplug(*mech);
    }
}

namespace {
// Notes the ticks the data register changed at.
struct DataRecorder : Device {
    std::vector<uint64_t> changes;
    void on_data(uint64_t now, uint8_t, uint8_t) override { changes.push_back(now); }
    void on_wake(uint64_t) override {}
};
} // namespace

// A stall holds the station's next access: a bit it writes lasts the stall
// longer, masked section or not; a stall after the bit's end leaves it alone.
TEST(PcStalls, StretchABitWrittenByTheStallLength)
{
    struct Row {
        uint64_t at;     // ticks after the bit's first write
        uint64_t length;
        bool masked;
        uint64_t bit;    // ticks between the two writes
    } rows[] = {
        {50, 300, false, 400},    // inside the pause
        {50, 300, true, 400},     // inside a masked section
        {1, 20, false, 120},      // at the first access of the pause
        {100, 2000, false, 2100}, // at the write that ends the bit
        {101, 300, false, 100},   // after it
    };
    for (const Row& r : rows) {
        SCOPED_TRACE("stall at " + std::to_string(r.at));
        Bench b;
        StallFault stalls(b, 0, 1);
        DataRecorder rec;
        b.plug(stalls);
        b.plug(rec);
        stalls.start();
        pass(b, 10);
        if (r.masked)
            b.mask_interrupts();
        b.write_data_port(1);
        stalls.stall_at(b.now() + r.at, r.length);
        pass(b, 99);
        b.write_data_port(0);
        pass(b, 500);
        b.unmask_interrupts();
        ASSERT_EQ(rec.changes.size(), 2u);
        EXPECT_EQ(rec.changes[1] - rec.changes[0], r.bit);
        b.unplug(rec);
        b.unplug(stalls);
    }
}

// Stalls at exponential gaps (mean 1/R s) of 20 µs to 2 ms, log-uniform,
// drawn from the run's seed: one second of pause meets exactly the seeded
// draw, and lasts the stalls longer.
TEST(PcStalls, SeededDrawReproducedOverALongPause)
{
    struct Row {
        double per_second;
        uint32_t seed;
    } rows[] = {{1000, 7}, {1000, 8}, {100, 1}, {0, 7}};
    std::vector<std::vector<StallFault::Stall>> runs;
    for (const Row& r : rows) {
        SCOPED_TRACE("R " + std::to_string(r.per_second) + " seed " + std::to_string(r.seed));
        Faults f;
        f.stalls_per_second = r.per_second;
        f.seed = r.seed;
        SimSetup setup(1.0, f, "");
        const uint64_t pause = 1000000;
        // The draw, made again: gap from the end of the previous stall.
        std::vector<StallFault::Stall> expected;
        if (r.per_second > 0) {
            std::mt19937 rng(r.seed);
            std::exponential_distribution<double> gap(1 / (1e6 / r.per_second)); // mean 1/R s
            std::uniform_real_distribution<double> length(std::log(20.0), std::log(2000.0));
            uint64_t from = 0, end = pause;
            for (;;) {
                const uint64_t at = from + std::max<uint64_t>(1, uint64_t(std::llround(gap(rng))));
                const uint64_t len = uint64_t(std::llround(std::exp(length(rng))));
                if (at > end)
                    break;
                expected.push_back({at, len});
                end += len;
                from = at + len;
            }
        } else {
            EXPECT_EQ(setup.stalls(), nullptr);
        }
        pass(setup.bench(), pause);
        std::vector<StallFault::Stall> got = setup.stalls() ? setup.stalls()->stalls() : std::vector<StallFault::Stall>{};
        ASSERT_EQ(got.size(), expected.size());
        uint64_t total = 0;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].at, expected[i].at) << i;
            EXPECT_EQ(got[i].length, expected[i].length) << i;
            total += got[i].length;
        }
        EXPECT_EQ(setup.bench().stalled_ticks(), total);
        EXPECT_EQ(setup.bench().stalled_ns(), total * 1000);
        EXPECT_EQ(setup.bench().now(), pause + total);
        runs.push_back(got);
    }
    EXPECT_GT(runs[0].size(), 500u);
    EXPECT_NE(runs[0].front().at, runs[1].front().at); // another seed, other moments
}
