#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/counting_port.h"
#include "common/stall_once.h"
#include "link/module.h"
#include "link/trace_port.h"
#include "nri/g13_link.h"
#include "sim/catalogue.h"
#include "sim/g13_mech.h"

using namespace zuna;
using namespace zuna::nri;

namespace {

// Independent reading of a run list as 10-unit characters: expand to units,
// then start bit 0, eight data bits LSB first, stop bit 1, back to back. The
// units after the last whole character (the hold) go to *tail.
std::string chars_of(const RunList& l, int last, std::vector<int>* tail = nullptr)
{
    std::vector<int> units;
    for (int j = 0; j <= last; ++j)
        for (int u = 0; u < l.e[size_t(j)]; ++u)
            units.push_back(j % 2);
    std::string out;
    size_t p = 0;
    while (p + 10 <= units.size() && units[p] == 0 && units[p + 9] == 1) {
        uint8_t c = 0;
        for (int b = 0; b < 8; ++b)
            c |= uint8_t(units[p + 1 + size_t(b)] << b);
        out += char(c);
        p += 10;
    }
    if (tail)
        tail->assign(units.begin() + long(p), units.end());
    return out;
}

// Independent encoder: characters back to back at `unit` units per bit, then
// an idle stretch of `idle` units, as a capture would store them.
std::array<int32_t, kRunTableSize> runs_of(const std::string& text, int32_t idle = 100000)
{
    std::vector<int> bits;
    for (unsigned char c : text) {
        bits.push_back(0);
        for (int b = 0; b < 8; ++b)
            bits.push_back((c >> b) & 1);
        bits.push_back(1);
    }
    std::array<int32_t, kRunTableSize> runs{};
    int j = 0;
    int level = 0;
    for (int b : bits) {
        if (b != level) {
            ++j;
            level = b;
        }
        ++runs[size_t(j)];
    }
    runs[size_t(j)] += idle;
    if (runs[size_t(j)] > 100000)
        runs[size_t(j)] = 100000;
    return runs;
}

std::string symbols_of(const std::array<uint8_t, kSymbolBufferSize>& s, int n)
{
    std::string t;
    for (int i = 0; i < n; ++i)
        t += (i ? "," : "") + std::to_string(s[size_t(i)]);
    return t;
}

} // namespace

TEST(G13RunLists, DecodeToTheListedCharacters)
{
    struct Case {
        const char* what;
        RunList list;
        int last;
        std::string chars;
        int entries;
    };
    const Case cases[] = {
        {"reset", cmd_reset(), 11, "A\x16", 12},
        {"probe 39", cmd_open_probe(39), 7, "I", 8},
        {"open", cmd_open(), 7, "I", 8},
        {"mode read", cmd_mode_read(), 9, "U", 10},
        {"identity", cmd_identity(), 7, "Z", 8},
        {"end of identification", cmd_end_identification(), 9, "A\x18", 10},
        {"mode write 07", cmd_mode_write(7), 0, "J07", 0},
        {"V1", cmd_channel_read(1), 13, "V1", 14},
        {"V5", cmd_channel_read(5), 15, "V5", 16},
        {"V8", cmd_channel_read(8), 11, "V8", 12},
        {"D3", cmd_channel_select(3), 11, "D3", 12},
        {"D5", cmd_channel_select(5), 13, "D5", 14},
        {"values", cmd_values({120, 80, 300, -4}), 0, "120080255000\r", 0},
        {"date", cmd_date(12, 7, 2026), 0, "E12/07/26\r", 0},
        {"W", cmd_coin_test(), 7, "W", 8},
    };
    for (const Case& c : cases) {
        const int last = c.entries ? c.last : c.list.last();
        if (c.entries) {
            EXPECT_EQ(c.list.size, c.entries) << c.what;
        }
        std::vector<int> tail;
        EXPECT_EQ(chars_of(c.list, last, &tail), c.chars) << c.what;
    }
    // Holds: the line stays at level 1 for N units after the last data bit.
    struct Hold {
        RunList list;
        int units;
        int level;
    };
    const Hold holds[] = {
        {cmd_reset(), 254, 1},       {cmd_open_probe(18), 17, 1}, {cmd_channel_select(2), 89, 1},
        {cmd_values({1, 2, 3, 4}), 59, 1}, {cmd_date(1, 2, 3), 254, 1}, {cmd_mode_write(5), 60, 0},
    };
    for (const Hold& h : holds) {
        std::vector<int> tail;
        chars_of(h.list, h.list.last(), &tail);
        ASSERT_EQ(int(tail.size()), h.units) << h.units;
        for (int v : tail)
            EXPECT_EQ(v, h.level);
    }
    // "T" ends on its last data bit; the listening start adds the stop bit.
    RunList t = cmd_coin_teach();
    EXPECT_EQ(t.size, 7);
    t.push(1);
    EXPECT_EQ(chars_of(t, 7), "T");
    // The channel read of "5" is the one with 16 entries.
    EXPECT_EQ(cmd_channel_read(5).last(), 15);
}

TEST(G13Send, UnitsAndRates)
{
    test::CountingPort port;
    Station s(port);
    port.record = true;
    RunList l;
    l.push(2);
    l.push(0); // nothing sent: the two level-0 stretches are not separated
    l.push(1);
    l.push(1);
    s.measured_module_count = 2;
    ecrir_octet_s(s, l, l.last());
    EXPECT_EQ(port.written, (std::vector<uint8_t>{0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x71, 0x71, 0x71}));
    EXPECT_EQ(port.masks, 1);
    EXPECT_EQ(port.unmasks, 1);

    // Halves to even: 0.5 -> 0 and 476.5 -> 476 (rounding half up gives 1
    // and 477), 1.5 -> 2 and 477.5 -> 478 (truncation gives 1 and 477). The
    // model write takes round(count / 4) - round(count / 200): 1900 gives
    // 475 - 10 (9.5 truncated: 466), 2100 gives 525 - 10 (10.5 half up: 514),
    // 1906 gives 476 - 10 (truncated and half up both 467).
    struct Rate {
        int32_t g13, slow, fast, model;
    } rates[] = {{1, 1, 0, 0},           {2, 2, 0, 0},           {6, 6, 2, 2},
                 {1900, 1900, 475, 465}, {1902, 1902, 476, 466}, {1906, 1906, 476, 466},
                 {1910, 1910, 478, 468}, {2100, 2100, 525, 515}};
    for (const Rate& r : rates) {
        s.delay.g13 = r.g13;
        EXPECT_EQ(slow_units(s), r.slow);
        EXPECT_EQ(fast_units(s), r.fast) << r.g13;
        EXPECT_EQ(model_write_units(s), r.model) << r.g13;
    }
    // A negative unit count writes nothing.
    port.written.clear();
    s.measured_module_count = -1;
    ecrir_bit_2(s, 0x71);
    EXPECT_TRUE(port.written.empty());
}

TEST(G13Decode, Replies)
{
    std::array<uint8_t, kSymbolBufferSize> sym{};
    struct Case {
        std::string reply;
        bool keep13;
        std::string symbols;
        int n;
    } cases[] = {
        {"0=", true, "0,13,0", 3},
        {"0=", false, "0,0", 2},
        {"0123456789=", false, "0,1,2,3,4,5,6,7,8,9,0", 11},
        {"03/15/19=", false, "0,3,15,1,5,15,1,9,0", 9},
        {"9/8=", true, "9,15,8,13,0", 5},
        {"125085205040=", false, "1,2,5,0,8,5,2,0,5,0,4,0,0", 13},
    };
    for (const Case& c : cases) {
        const auto runs = runs_of(c.reply);
        sym.fill(7);
        if (c.keep13)
            decode_nb_g13_13(runs, sym);
        else
            decode_nb_g13(runs, sym);
        EXPECT_EQ(symbols_of(sym, c.n), c.symbols) << c.reply;
        EXPECT_EQ(sym[301], 7) << "nothing above entry 300 is written";
    }
    // Decoding ends at a "=" followed by a long pause, not at a short one.
    auto runs = runs_of("1=");
    const auto more = runs_of("2=");
    int j = 0;
    while (runs[size_t(j)] != 100000)
        ++j;
    runs[size_t(j)] = 50; // short pause, then "2="
    for (int k = 0; more[size_t(k)] != 0; ++k)
        runs[size_t(j + 1 + k)] = more[size_t(k)];
    decode_nb_g13(runs, sym);
    EXPECT_EQ(symbols_of(sym, 3), "1,2,0");
}

TEST(G13Decode, SyncSearchIsBounded)
{
    std::array<int32_t, kRunTableSize> runs{};
    EXPECT_EQ(cherche_sync(runs), 0); // empty capture
    runs.fill(3);                      // never the pattern: ones give 0xFF
    EXPECT_EQ(cherche_sync(runs), 0);
    runs.fill(0);
    for (int k = 0; k < kRunTableSize; k += 2)
        runs[size_t(k)] = 100000; // only level 0, to the end of the table
    runs[1] = 1;
    EXPECT_EQ(cherche_sync(runs), 0);
    runs.fill(-5); // negative stretches never reach 0
    EXPECT_EQ(cherche_sync(runs), 0);
    std::array<uint8_t, kSymbolBufferSize> sym{};
    decode_nb_g13_13(runs, sym);
    runs.fill(INT32_MIN);
    decode_nb_g13_13(runs, sym);
    runs.fill(INT32_MAX);
    decode_nb_g13(runs, sym);
}

TEST(G13Text, LinesAndValues)
{
    std::array<uint8_t, kSymbolBufferSize> sym{};
    const uint8_t v[] = {1, 2, 0, 0, 8, 0, 2, 0, 0, 0, 3, 5};
    std::copy(std::begin(v), std::end(v), sym.begin());
    EXPECT_EQ(channel_line(sym, 0), "120  080  200  035  ");
    EXPECT_EQ(coin_text(sym), "120  080  200  035");
    sym[4] = 15;
    EXPECT_EQ(coin_text(sym), "120  0150  200  035"); // 19 characters
    sym[7] = 15;
    EXPECT_EQ(coin_text(sym), "120  0150  2150  03"); // cut at 19

    struct Case {
        std::string text;
        std::array<int, 4> values;
    } cases[] = {
        {"000  000  000  000", {0, 0, 0, 0}},
        {"120  080  200  035  ", {120, 80, 200, 35}},
        {"120  0150  200  035  ", {120, 150, 200, 35}},
        {"120  1155  200  035  ", {120, 255, 200, 35}},
        {"120  0150  2150  03", {120, 150, 255, 3}},
        {"", {0, 0, 0, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse_values(c.text), c.values) << c.text;
}

// A port whose status bit 7 follows a script of (level, reads) pairs.
struct ScriptPort : test::CountingPort {
    std::vector<std::pair<bool, int64_t>> script;
    size_t at = 0;
    int64_t left = -1;
    uint8_t read_status_port() override
    {
        ++reads;
        while (at < script.size() && left == 0) {
            ++at;
            left = at < script.size() ? script[at].second : -1;
        }
        if (at >= script.size())
            return 0;
        if (left > 0)
            --left;
        return script[at].first ? 0x80 : 0;
    }
};

TEST(G13Capture, StretchesAndLimits)
{
    ScriptPort port;
    Station s(port);
    s.measured_module_count = 10;
    // Listening start (11 reads at idle), then 51 reads of level 0, 29 of level 1, 100000 of level 0.
    port.script = {{false, 20}, {true, 51}, {false, 29}, {true, 200000}};
    port.left = port.script[0].second;
    clear_tables(s);
    EXPECT_TRUE(lit_g13_r(s));
    EXPECT_EQ(s.run_table[0], 5);
    EXPECT_EQ(s.run_table[1], 3);
    EXPECT_EQ(s.run_table[2], 100000); // not divided
    EXPECT_EQ(s.run_table[3], 0);

    // Stretches of 3.5 and 4.5 units: 4 and 4, halves to even (truncation
    // gives 3 and 4, rounding half up 4 and 5).
    ScriptPort halves;
    Station h(halves);
    h.measured_module_count = 10;
    halves.script = {{false, 20}, {true, 36}, {false, 46}, {true, 200000}};
    halves.left = halves.script[0].second;
    clear_tables(h);
    EXPECT_TRUE(lit_g13_r(h));
    EXPECT_EQ(h.run_table[0], 4);
    EXPECT_EQ(h.run_table[1], 4);

    // Nothing within the short wait: the table is left as it was.
    ScriptPort silent;
    Station q(silent);
    q.measured_module_count = 10;
    q.run_table[0] = 77;
    EXPECT_FALSE(lit_g13_r(q));
    EXPECT_EQ(q.run_table[0], 77);
    EXPECT_EQ(silent.reads, 11 + 100000);

    // A unit count of 0 counts reads as units instead of dividing by zero.
    ScriptPort zero;
    Station z(zero);
    z.measured_module_count = 0;
    zero.script = {{false, 5}, {true, 7}, {false, 200000}};
    zero.left = zero.script[0].second;
    EXPECT_TRUE(lit_g13_rt(z));
    EXPECT_EQ(z.run_table[0], 6); // the read that ends the wait is not counted

    // A line that keeps toggling is not a reply: the capture stops after
    // kG13ReplyUnits units of stretches.
    ScriptPort noisy;
    Station n(noisy);
    n.measured_module_count = 10;
    noisy.script = {{false, 11}};
    for (int i = 0; i < 5000; ++i)
        noisy.script.push_back({i % 2 == 0, 15});
    noisy.left = noisy.script[0].second;
    clear_tables(n);
    EXPECT_TRUE(lit_g13_r(n));
    const auto used = std::count_if(n.run_table.begin(), n.run_table.end(), [](int32_t v) { return v != 0; });
    EXPECT_EQ(used, (kG13ReplyUnits * 10 + 14) / 15); // 15 reads a stretch, none begun past 5120
    EXPECT_LT(noisy.reads, 11 + 1 + (kG13ReplyUnits + 2) * 10);
}

// ---- On the simulated bench ----------------------------------------------

namespace {
sim::Faults fault_set(const char* text)
{
    sim::Faults f;
    EXPECT_TRUE(sim::parse_faults(text, f, nullptr)) << text;
    return f;
}

using test::StallOnce;

struct G13Bench {
    sim::SimSetup setup;
    sim::G13Mechanism* mech;
    Station s{setup.bench()};
    explicit G13Bench(const char* faults = "") : setup(1.0, fault_set(faults), "")
    {
        mech = static_cast<sim::G13Mechanism*>(setup.plug("g13"));
        s.measured_module_count = measure_module(*s.port);
        load_delay_counts(s);
    }
};
} // namespace

TEST(G13OnBench, NominalCountBand)
{
    G13Bench b;
    EXPECT_EQ(b.mech->nominal_count(), 1950);
    EXPECT_EQ(b.s.delay.g13, 1900);
    // The opening is answered around the nominal count and not far from it.
    struct Case {
        int32_t g13;
        bool answered;
    } cases[] = {{1900, true}, {1950, true}, {2040, true}, {1700, false}, {2200, false}};
    for (const Case& c : cases) {
        b.s.delay.g13 = c.g13;
        reset(b.s);
        ouverture(b.s);
        decode_nb_g13_13(b.s);
        EXPECT_EQ(opening_answered(b.s) && b.s.symbols[0] == 0, c.answered) << c.g13;
    }
}

TEST(G13OnBench, TuningFromBelowLandsInTheMiddleOfTheBand)
{
    G13Bench b;
    const int32_t nominal = b.mech->nominal_count();
    b.s.delay.g13 = nominal - 300;
    const uint64_t t0 = b.setup.bench().now();
    const int32_t g = test_v(b.s);
    EXPECT_NEAR(g, nominal, nominal * 0.02);
    EXPECT_EQ(b.s.delay.g13, g);
    EXPECT_EQ(b.setup.bench().mask_depth(), 0);
    RecordProperty("accesses", std::to_string(b.setup.bench().now() - t0));
}

TEST(G13OnBench, TuningFromAnAnsweringCount)
{
    struct Bar : Progress {
        int maximum = -1, value = 0, at_finish = -1;
        void start(int m) override { maximum = m, value = 0; }
        void step() override { ++value; }
        void finish() override { at_finish = value; }
    } bar;
    G13Bench b;
    b.s.delay.g13 = 1900; // answers at once: lo = 1900, then down from 2240
    TuneOutcome how = TuneOutcome::Silent;
    const int32_t g = test_v(b.s, &bar, &how);
    EXPECT_GT(g, 1900 + 50);
    EXPECT_LT(g, 1900 + 170);
    EXPECT_EQ((g * 2 - 1900) % 10, 0);
    EXPECT_EQ(how, TuneOutcome::Tuned);
    EXPECT_GT(bar.maximum, 0);
    EXPECT_EQ(bar.at_finish, bar.maximum); // the bar reaches its end
}

TEST(G13OnBench, SilentMechanismTunesToZero)
{
    sim::Faults f;
    f.silent = true;
    sim::SimSetup setup(1.0, f, "");
    EXPECT_EQ(setup.plug("g13"), nullptr);
    Station s(setup.bench());
    s.delay.g13 = 3150;
    TuneOutcome how = TuneOutcome::Tuned;
    EXPECT_EQ(test_v(s, nullptr, &how), 0);
    EXPECT_EQ(s.delay.g13, 0);
    EXPECT_EQ(how, TuneOutcome::Silent);
}

TEST(G13OnBench, ChannelReadAndWrite)
{
    G13Bench b;
    b.s.delay.g13 = b.mech->nominal_count();
    reset(b.s);
    ecrir_octet_b(b.s, cmd_channel_read(5), 15);
    EXPECT_EQ(channel_line(b.s.symbols, 0), "000  000  000  000  ");
    ecrir_octet_b(b.s, cmd_channel_read(2), 13);
    EXPECT_EQ(channel_line(b.s.symbols, 0), "150  104  183  058  ");
    EXPECT_EQ(channel_line(b.s.symbols, 12), "137  091  170  047  ");

    const RunList select = cmd_channel_select(5);
    ecrir_octet_s(b.s, select, select.last());
    const RunList up = cmd_values({201, 9, 0, 255});
    ecrir_octet_s(b.s, up, up.last());
    const RunList down = cmd_values({190, 1, 0, 240});
    ecrir_octet_s(b.s, down, down.last());
    const RunList date = cmd_date(12, 7, 26);
    ecrir_octet_s(b.s, date, date.last());
    EXPECT_EQ(b.mech->channels()[4].max, (std::array<int, 4>{201, 9, 0, 255}));
    EXPECT_EQ(b.mech->channels()[4].min, (std::array<int, 4>{190, 1, 0, 240}));
    EXPECT_EQ(b.mech->reprogramming_date, "12/07/26");
    ecrir_octet_b(b.s, cmd_channel_read(5), 15);
    EXPECT_EQ(channel_line(b.s.symbols, 0), "201  009  000  255  ");

    b.mech->push_coin({120, 80, 200, 35});
    EXPECT_EQ(Ajust(b.s), "120  080  200  035");
    b.mech->push_coin({1, 2, 3, 4});
    EXPECT_EQ(Ajust_a(b.s), "001  002  003  004");
}

// A mechanism that keeps a write wrong, or not at all, or answers as the
// other family, or a PC that stalls for two fast units inside a reply: the
// operator is told, and only what was read is shown.
TEST(G13OnBench, WritesThatAreNotConfirmed)
{
    const std::array<int, 4> up{130, 90, 210, 45}, down{100, 60, 190, 20};
    struct Row {
        const char* fault;
        std::function<std::string(G13Bench&)> run;
        const char* message;
    } rows[] = {
        {"wrong-readback=1",
         [&](G13Bench& b) {
             const ChannelWrite w = write_channel(b.s, 3, up, down, fast_units(b.s), {12, 7, 26}, nullptr);
             EXPECT_FALSE(w.confirmed);
             EXPECT_FALSE(w.unread);
             // Shown as read: max 1 with its bit 0 changed, as the mechanism keeps it.
             EXPECT_EQ(b.mech->channels()[2].max, (std::array<int, 4>{131, 90, 210, 45}));
             if (!w.read_back)
                 return std::string("not read back");
             EXPECT_EQ(w.read_back->upper, "131  090  210  045  ");
             EXPECT_EQ(w.read_back->lower, "100  060  190  020  ");
             return w.message;
         },
         "Écriture du canal 3 non confirmée : la relecture diffère de ce qui a été écrit. Les valeurs affichées sont "
         "celles relues."},
        {"lost-write=1",
         [&](G13Bench& b) {
             const auto before = b.mech->channels()[2];
             const ChannelWrite w = write_channel(b.s, 3, up, down, fast_units(b.s), {12, 7, 26}, nullptr);
             EXPECT_FALSE(w.confirmed);
             EXPECT_EQ(b.mech->channels()[2].max, before.max);
             if (!w.read_back)
                 return std::string("not read back");
             EXPECT_EQ(w.read_back->upper, "102  070  229  033  "); // what channel 3 still holds
             return w.message;
         },
         "Écriture du canal 3 non confirmée : la relecture diffère de ce qui a été écrit. Les valeurs affichées sont "
         "celles relues."},
        {"lost-write=2", // the first write is kept: confirmed, nothing said
         [&](G13Bench& b) {
             const ChannelWrite w = write_channel(b.s, 3, up, down, fast_units(b.s), {12, 7, 26}, nullptr);
             EXPECT_TRUE(w.confirmed);
             return w.message;
         },
         ""},
        {"wrong-readback=1",
         [](G13Bench& b) {
             const ModeWrite m = write_mode(b.s, 6, nullptr);
             EXPECT_TRUE(m.read);
             EXPECT_FALSE(m.confirmed);
             EXPECT_EQ(b.mech->mode, 7);
             EXPECT_EQ(m.mode, "07");
             return m.message;
         },
         "Mode de mesure non confirmé : le monnayeur relit 07 au lieu de 06."},
        {"lost-write=1",
         [](G13Bench& b) {
             const ModeWrite m = write_mode(b.s, 6, nullptr);
             EXPECT_FALSE(m.confirmed);
             EXPECT_EQ(m.mode, "03");
             return m.message;
         },
         "Mode de mesure non confirmé : le monnayeur relit 03 au lieu de 06."},
        {"other-family",
         [](G13Bench& b) {
             const Reading r = lecture(b.s, nullptr);
             EXPECT_TRUE(r.heard);
             EXPECT_FALSE(r.answered);
             EXPECT_FALSE(r.mode);
             for (const auto& c : r.channels)
                 EXPECT_FALSE(c);
             return r.message;
         },
         "Ce monnayeur répond comme un G13.6000 (07 36), pas comme un G13.0000 : rien n'est lu ni écrit. Ouvrez la "
         "fenêtre NRI G13.6000."},
        {"", // a stall inside the read-back: read once more, confirmed by the second read
         [&](G13Bench& b) {
             const StallOnce stall(b.setup.bench(), 770000, 1000);
             const ChannelWrite w = write_channel(b.s, 3, up, down, fast_units(b.s), {12, 7, 26}, nullptr);
             EXPECT_TRUE(w.confirmed);
             EXPECT_EQ(std::count(b.mech->log().begin(), b.mech->log().end(), "V3"), 2);
             EXPECT_EQ(w.read_back ? w.read_back->upper : "", "130  090  210  045  ");
             return w.message;
         },
         ""},
        {"", // a stall inside the coin's reply: no measurement
         [](G13Bench& b) {
             b.mech->push_coin({120, 80, 200, 35});
             const StallOnce stall(b.setup.bench(), 330000, 1000);
             const CoinTest c = coin_test(b.s, nullptr);
             EXPECT_FALSE(c.measured);
             return c.message;
         },
         "Le monnayeur répond, mais sa réponse est illisible (ligne perturbée ?) : rien n'a été mesuré."},
        {"", // a stall inside the first taught coin's reply: the collect stops, no coin counted
         [](G13Bench& b) {
             b.mech->push_coin({120, 80, 200, 35});
             b.mech->push_coin({121, 81, 201, 36});
             const StallOnce stall(b.setup.bench(), 330000, 1000);
             const Collect c = collect_coins(b.s, 2, {0, 0, 0, 0}, {255, 255, 255, 255}, nullptr);
             EXPECT_EQ(c.measured, 0);
             EXPECT_TRUE(c.coins.empty());
             return c.message;
         },
         "Le monnayeur répond, mais sa réponse est illisible (ligne perturbée ?) : lecture arrêtée après 0 pièce(s)."},
        {"", // a stall inside channel 1's reply: channel 1 not read, the others read
         [](G13Bench& b) {
             const StallOnce stall(b.setup.bench(), 3330000, 1000);
             const Reading r = lecture(b.s, nullptr);
             EXPECT_FALSE(r.channels[0]);
             EXPECT_EQ(r.unread, std::vector<int>{1});
             EXPECT_EQ(r.channels[1] ? r.channels[1]->upper : "", "150  104  183  058  ");
             return r.message;
         },
         "Canal 1 non relu : le monnayeur répond, mais sa réponse est illisible (ligne perturbée ?). Les valeurs "
         "affichées sont celles d'avant."},
        {"", // a stall inside the identity's reply: no identity, the channels read
         [](G13Bench& b) {
             const StallOnce stall(b.setup.bench(), 2200000, 2000);
             const Reading r = lecture(b.s, nullptr);
             EXPECT_FALSE(r.identity);
             EXPECT_TRUE(r.mode);
             EXPECT_TRUE(r.unread.empty());
             return r.message;
         },
         "Le monnayeur répond, mais sa réponse est illisible (ligne perturbée ?) : l'identification n'a pas été "
         "lue."},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.fault);
        G13Bench b(r.fault);
        b.s.delay.g13 = 1950;
        reset(b.s);
        EXPECT_EQ(r.run(b), r.message);
        EXPECT_EQ(b.setup.bench().mask_depth(), 0);
    }
}

// "Arrêter" asked after a number of steps of each operation: it ends at the
// next safe point, and what was not finished is neither shown nor stored.
TEST(G13OnBench, StopsOnlyAtSafePoints)
{
    struct StopAfter : Progress {
        int steps = 0;
        int after = 0;
        void start(int) override {}
        void step() override { ++steps; }
        void finish() override {}
        bool stop_requested() const override { return steps >= after; }
    };
    struct Row {
        const char* what;
        int after;
        std::function<void(G13Bench&, Progress*)> run;
    } rows[] = {
        {"tuning, stopped before its first try", 0,
         [](G13Bench& b, Progress* p) {
             b.s.delay.g13 = 1650;
             const Activation a = activate(b.s, true, p);
             EXPECT_TRUE(a.stopped);
             EXPECT_FALSE(a.tuned);
             EXPECT_EQ(a.message, "Réglage arrêté : compte inchangé.");
             EXPECT_EQ(b.s.delay.g13, 1650);
             EXPECT_EQ(b.s.g13_stored, 0);
         }},
        {"tuning, stopped on the way up", 3,
         [](G13Bench& b, Progress* p) {
             b.s.delay.g13 = 1650;
             const Activation a = activate(b.s, true, p);
             EXPECT_TRUE(a.stopped);
             EXPECT_EQ(b.s.delay.g13, 1650);
             EXPECT_EQ(b.s.g13_stored, 0);
         }},
        {"tuning, stopped on the way down", 2,
         [](G13Bench& b, Progress* p) {
             b.s.delay.g13 = 1900; // answers at once, then climbs and comes down
             EXPECT_EQ(test_v(b.s, p), 0);
             EXPECT_EQ(b.s.delay.g13, 1900);
         }},
        {"reading, stopped after the opening", 1,
         [](G13Bench& b, Progress* p) {
             b.s.delay.g13 = 1950;
             const Reading r = lecture(b.s, p);
             EXPECT_TRUE(r.answered);
             EXPECT_EQ(r.stopped_at, 1);
             EXPECT_FALSE(r.mode);
             EXPECT_FALSE(r.identity);
             for (const auto& c : r.channels)
                 EXPECT_FALSE(c);
             EXPECT_TRUE(r.unread.empty());
             EXPECT_EQ(r.message.rfind("Lecture arrêtée au canal 1", 0), 0u) << r.message;
         }},
        {"reading, stopped after channel 2", 5,
         [](G13Bench& b, Progress* p) {
             b.s.delay.g13 = 1950;
             const Reading r = lecture(b.s, p);
             EXPECT_EQ(r.stopped_at, 3);
             EXPECT_EQ(r.mode, "03");
             ASSERT_TRUE(r.identity);
             EXPECT_EQ(r.identity->production, "15/03/19");
             ASSERT_TRUE(r.channels[1]);
             EXPECT_EQ(r.channels[1]->upper, "150  104  183  058  ");
             for (int n = 3; n <= 6; ++n)
                 EXPECT_FALSE(r.channels[size_t(n - 1)]) << n;
             EXPECT_EQ(r.message.rfind("Lecture arrêtée au canal 3", 0), 0u) << r.message;
         }},
        {"channel write, stopped before it starts", 0,
         [](G13Bench& b, Progress* p) {
             b.s.delay.g13 = 1950;
             const auto before = b.mech->channels()[4];
             const ChannelWrite w = write_channel(b.s, 5, {1, 2, 3, 4}, {0, 0, 0, 0}, fast_units(b.s), {12, 7, 26}, p);
             EXPECT_TRUE(w.stopped);
             EXPECT_FALSE(w.read_back);
             EXPECT_EQ(b.mech->channels()[4].max, before.max);
             EXPECT_EQ(w.message, "Écriture arrêtée : rien n'a été écrit.");
         }},
        {"channel write, stop asked during it: runs to its read-back", 1,
         [](G13Bench& b, Progress* p) {
             b.s.delay.g13 = 1950;
             reset(b.s);
             const ChannelWrite w = write_channel(b.s, 5, {1, 2, 3, 4}, {0, 0, 0, 0}, fast_units(b.s), {12, 7, 26}, p);
             EXPECT_FALSE(w.stopped);
             EXPECT_EQ(b.mech->channels()[4].max, (std::array<int, 4>{1, 2, 3, 4}));
             ASSERT_TRUE(w.read_back);
             EXPECT_EQ(w.read_back->upper, "001  002  003  004  ");
             EXPECT_EQ(w.reprogramming, "07/12/26");
             EXPECT_TRUE(w.message.empty());
         }},
        {"mode write, stop asked during it: runs to its read-back", 1,
         [](G13Bench& b, Progress* p) {
             b.s.delay.g13 = 1950;
             const ModeWrite m = write_mode(b.s, 6, p);
             EXPECT_FALSE(m.stopped);
             EXPECT_EQ(b.mech->mode, 6);
             EXPECT_EQ(m.mode, "06");
         }},
        {"coin teach, stopped after two coins", 2,
         [](G13Bench& b, Progress* p) {
             b.s.delay.g13 = 1950;
             reset(b.s);
             b.mech->push_coin({120, 80, 200, 35});
             b.mech->push_coin({110, 90, 210, 30});
             b.mech->push_coin({1, 1, 1, 1});
             const Collect c = collect_coins(b.s, 5, {0, 0, 0, 0}, {255, 255, 255, 255}, p);
             EXPECT_TRUE(c.stopped);
             EXPECT_EQ(c.measured, 2);
             EXPECT_EQ(c.largest, (std::array<int, 4>{120, 90, 210, 35}));
             EXPECT_EQ(c.smallest, (std::array<int, 4>{110, 80, 200, 30}));
             EXPECT_EQ(c.last, (std::array<int, 4>{110, 90, 210, 30}));
             EXPECT_EQ(c.message, "Lecture arrêtée après 2 pièce(s).");
         }},
        {"coin test, stopped before it starts", 0,
         [](G13Bench& b, Progress* p) {
             b.mech->push_coin({1, 2, 3, 4});
             const CoinTest c = coin_test(b.s, p);
             EXPECT_TRUE(c.stopped);
             EXPECT_FALSE(c.measured);
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        G13Bench b;
        StopAfter stop;
        stop.after = r.after;
        r.run(b, &stop);
        EXPECT_EQ(b.setup.bench().mask_depth(), 0);
    }
}

TEST(G13OnBench, SilentAndNoisyLinesNeverHang)
{
    for (const char* fault : {"silent", "noise"}) {
        sim::Faults f;
        ASSERT_TRUE(sim::parse_faults(fault, f, nullptr));
        sim::SimSetup setup(1.0, f, "");
        setup.plug("g13");
        Station s(setup.bench());
        s.delay.g13 = 1950;
        reset(s);
        ouverture(s);
        decode_nb_g13_13(s);
        set_fast(s);
        ecrir_octet_b(s, cmd_channel_read(1), 13);
        const std::string text = Ajust(s);
        EXPECT_LE(text.size(), 19u) << fault;
        if (std::string(fault) == "silent") {
            EXPECT_FALSE(opening_answered(s));
            EXPECT_EQ(text, "000  000  000  000");
        }
    }
}

// Every window operation, on a mechanism that answers and on one unplugged
// after the tuning, ends within its bound of port time (coin waits
// included). ZUNA_PORT_TIMES=1 prints each (the table of link/README.md).
TEST(G13OnBench, EveryOperationEndsWithinItsPortTime)
{
    const bool print = std::getenv("ZUNA_PORT_TIMES") != nullptr;
    for (const bool silent : {false, true}) {
        G13Bench b;
        sim::Bench& bench = b.setup.bench();
        auto ticks = [&](const char* what, uint64_t bound_s, const std::function<void()>& act) {
            const uint64_t t0 = bench.now();
            act();
            const uint64_t t = bench.now() - t0;
            if (print)
                std::printf("G13.0000 %-7s %-34s %8.2f s\n", silent ? "silent" : "normal", what, double(t) * 1e-6);
            EXPECT_LE(t, bound_s * 1000000) << what << (silent ? " silent" : "");
        };
        ticks("opening, tuning", 250, [&] { activate(b.s, true, nullptr); });
        if (silent)
            b.setup.plug("none");
        ticks("opening, known count", 1, [&] { activate(b.s, false, nullptr); });
        ticks("LECTURE", 12, [&] { lecture(b.s, nullptr); });
        if (!silent) // b.mech is gone once unplugged
            b.mech->push_coin({120, 80, 200, 35});
        ticks("Test", 11, [&] { coin_test(b.s, nullptr); });
        if (!silent)
            b.mech->push_coin({120, 80, 200, 35});
        ticks("Teach, one coin", 11, [&] { collect_coins(b.s, 1, {}, {}, nullptr); });
        const std::array<int, 4> up = {130, 90, 210, 45}, down = {110, 70, 190, 25};
        ticks("AJUST, OK", 21, [&] { write_channel(b.s, 3, up, down, fast_units(b.s), {12, 7, 26}, nullptr); });
        ticks("Mode mesure, OK", 12, [&] { write_mode(b.s, 6, nullptr); });
        ticks("Voir modèle, OK", 21,
              [&] { write_channel(b.s, 3, up, down, model_write_units(b.s), {12, 7, 26}, nullptr); });
        ticks("closing", 1, [&] { close_link(b.s); });
    }
}

// The line as sigrok's own UART decoder sees it: the host's "V5" on D0 and
// the mechanism's reply on S7 (inverted: status bit 7 set = level 0).
TEST(G13Trace, ChannelReadDecodesWithSigrok)
{
    if (std::system("sigrok-cli --version > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "sigrok-cli not installed";
    G13Bench b;
    const std::string vcd = std::string(ZUNA_BINARY_DIR) + "/g13_channel_read.vcd";
    {
        TracePort trace(b.setup.bench(), vcd);
        b.s.port = &trace;
        b.s.delay.g13 = b.mech->nominal_count();
        reset(b.s);
        ecrir_octet_b(b.s, cmd_channel_read(5), 15);
        b.s.port = &b.setup.bench();
    }
    set_fast(b.s);
    const int baud = int(std::lround(1e6 / (fast_units(b.s) + 1)));
    auto run = [&](const std::string& decoder) {
        const std::string cmd = "sigrok-cli -I vcd -i " + vcd + " -P " + decoder + " 2>&1";
        std::string out;
        if (FILE* p = popen(cmd.c_str(), "r")) {
            char buf[512];
            while (fgets(buf, sizeof buf, p))
                out += buf;
            pclose(p);
        }
        return out;
    };
    const std::string sent = run("uart:rx=D0:baudrate=" + std::to_string(baud) + ":format=ascii -A uart=rx-data");
    std::string host;
    for (size_t p = 0; (p = sent.find("uart-1: ", p)) != std::string::npos; p += 8)
        host += sent.substr(p + 8, sent.find('\n', p) - p - 8) + "|";
    EXPECT_NE(host.find("V|5|"), std::string::npos) << sent;
    const std::string reply_out =
        run("uart:tx=S7:invert_tx=yes:baudrate=" + std::to_string(baud) + ":format=ascii -A uart=tx-data");
    std::string reply;
    for (size_t p = 0; (p = reply_out.find("uart-1: ", p)) != std::string::npos; p += 8)
        reply += reply_out.substr(p + 8, 1);
    EXPECT_EQ(reply, "000000000000000000000000=") << reply_out;
}

// The PC speed scales the mechanism's bit times with the module's time base:
// the default count computed at speed 2 still reads the channels.
TEST(G13OnBench, FasterPcDefaultCountStillReads)
{
    sim::SimSetup setup(2.0, {}, "");
    auto* mech = static_cast<sim::G13Mechanism*>(setup.plug("g13"));
    Station s(setup.bench());
    s.measured_module_count = measure_module(*s.port);
    load_delay_counts(s);
    EXPECT_EQ(s.delay.g13, 3819);
    EXPECT_EQ(mech->nominal_count(), 3901);
    reset(s);
    ouverture(s);
    decode_nb_g13_13(s);
    EXPECT_TRUE(opening_answered(s));
    set_fast(s);
    ecrir_octet_b(s, cmd_channel_read(1), 13);
    EXPECT_EQ(channel_line(s.symbols, 0), "125  085  205  040  ");

    // Above the tuning's range no second answer can come: the count that
    // answered is kept, not halved.
    EXPECT_EQ(test_v(s), 3819);
}

// ---- The decoders against a literal reading of their steps ----------------

namespace {

using Runs = std::array<int32_t, kRunTableSize>;

int32_t ref_entry(const Runs& runs, int64_t k) { return k >= 0 && k < kRunTableSize ? runs[size_t(k)] : 0; }

// The synchronisation search step by step; the two places where it would
// never end (a stretch index past the table, a negative stretch) give 0.
int ref_sync(const Runs& runs)
{
    int64_t k = 1;
    int64_t r = ref_entry(runs, 1);
    if (r == 0) {
        k = 2;
        r = ref_entry(runs, 2);
        if (r == 0)
            return 0;
    }
    uint8_t a = 0;
    for (int t = 0; t < 5; ++t)
        if (r > 0) {
            a = uint8_t((a << 1) | (k & 1));
            --r;
        }
    a |= 0xE0;
    if (a != 0xF9) {
        for (;;) {
            if (r == 0) {
                ++k;
                if (k >= kRunTableSize)
                    return 0;
                r = ref_entry(runs, k);
            }
            if (r > 0) {
                a = uint8_t((a << 1) | (k & 1));
                --r;
            } else if (r < 0) {
                return 0;
            }
            a |= 0xE0;
            if (a == 0xFF)
                return 0;
            if (a == 0xF9)
                break;
        }
    }
    if (r == ref_entry(runs, k))
        --k;
    uint8_t c = uint8_t(9 - uint8_t(ref_entry(runs, k)) - uint8_t(ref_entry(runs, k - 1)) -
                        uint8_t(ref_entry(runs, k - 2)));
    if (ref_entry(runs, k - 3) < int32_t(c))
        c = uint8_t(c - uint8_t(ref_entry(runs, k - 3)) - uint8_t(ref_entry(runs, k - 4)));
    return c;
}

// The decoding steps 1 to 9; a table without any stretch (nothing captured)
// gives zeros.
void ref_decode(const Runs& runs, std::array<uint8_t, kSymbolBufferSize>& sym, bool keep13)
{
    for (int j = 0; j <= 300; ++j)
        sym[size_t(j)] = 0;
    if (std::all_of(runs.begin(), runs.end(), [](int32_t v) { return v == 0; }))
        return;
    int64_t i = 0, r = ref_sync(runs);
    int n = 0;
    for (;;) {
        if (i >= 3000 || n > 300) // step 2
            return;
        if (r == 0) // step 3
            r = ref_entry(runs, ++i);
        int v = 0; // step 4
        for (int b = 0; b < 4; ++b) {
            if (i % 2 == 1)
                v |= 1 << b;
            if (--r == 0)
                r = ref_entry(runs, ++i);
        }
        if (keep13 && v == 13) // step 5
            sym[size_t(n++)] = 13;
        if (v != 13) { // step 6
            i += (r > 0 && i % 2 == 1) ? 3 : 4;
            r = int64_t(ref_entry(runs, i)) - 1;
        }
        if (v <= 9 || v == 15) { // step 7
            sym[size_t(n++)] = uint8_t(v);
        } else { // step 8
            for (int b = 0; b < 4; ++b) {
                if (r == 0)
                    r = ref_entry(runs, ++i);
                --r;
            }
            if (r == 0)
                r = ref_entry(runs, ++i);
            if (r <= 0 || r > 10000 || n > 300)
                return;
            r = int64_t(ref_entry(runs, ++i)) - 1;
        }
        if (i >= 3000) // step 9
            return;
    }
}

} // namespace

TEST(G13Decode, FollowsTheStepsOnAnyTable)
{
    std::mt19937 rng(1307);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::array<uint8_t, kSymbolBufferSize> got{}, want{};
    int compared = 0;
    auto check = [&](const Runs& runs, const std::string& what) {
        EXPECT_EQ(cherche_sync(runs), ref_sync(runs)) << what;
        for (bool keep13 : {false, true}) {
            got.fill(0xAA);
            want.fill(0xAA);
            if (keep13)
                decode_nb_g13_13(runs, got);
            else
                decode_nb_g13(runs, got);
            ref_decode(runs, want, keep13);
            EXPECT_EQ(symbols_of(got, 302), symbols_of(want, 302))
                << what << " keep13 " << keep13 << " starts " << runs[0] << "," << runs[1] << "," << runs[2];
        }
        ++compared;
    };
    std::string digits = "0123456789/=";
    for (int t = 0; t < 400; ++t) {
        // Replies of digits, "/" and "=", with stretches off by one unit here
        // and there, glitches of length 0 before the first stretch, and the
        // idle pause short or long.
        std::string text;
        for (int c = pick(1, 40); c > 0; --c)
            text += digits[size_t(pick(0, int(digits.size()) - 1))];
        Runs runs = runs_of(text, pick(0, 1) ? 100000 : pick(1, 30));
        for (int e = pick(0, 4); e > 0; --e) {
            int32_t& v = runs[size_t(pick(0, 60))];
            if (v > 0 && v < 100000)
                v += pick(-1, 1);
        }
        // Glitches too short to count as a unit: empty stretches first.
        const int lead = pick(0, 3) == 0 ? 2 * pick(1, 2) : 0;
        std::rotate(runs.rbegin(), runs.rbegin() + lead, runs.rend());
        check(runs, text);
    }
    for (int t = 0; t < 400; ++t) {
        // Anything a noisy line could leave: short stretches, some zero, some
        // at the stretch limit, the table ending anywhere.
        Runs runs{};
        const int n = pick(0, 400);
        for (int k = 0; k < n; ++k)
            runs[size_t(k)] = pick(0, 30) == 0 ? 100000 : pick(0, 12);
        check(runs, "random " + std::to_string(t));
    }
    // Tables starting with empty stretches.
    for (int lead = 1; lead <= 3; ++lead) {
        Runs runs = runs_of("0=");
        std::rotate(runs.rbegin(), runs.rbegin() + lead, runs.rend());
        check(runs, "lead " + std::to_string(lead));
    }
    EXPECT_EQ(compared, 803);
}
