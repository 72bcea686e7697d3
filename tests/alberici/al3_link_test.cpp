// The AL3 link: what each transaction puts on the line (a recording port
// turns every masked span into the character sent), the captures and the
// decoder on scripted replies, and the transactions against the simulated AL3.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "alberici/al3_link.h"
#include "alberici/al3_settings.h"
#include "link/module.h"
#include "link/rounding.h"
#include "sim/al3_mech.h"
#include "sim/catalogue.h"
#include "sim/stall_fault.h"
#include "tests/common/settings_rows.h"
#include "tests/common/recording_port.h"
#include "settings_file/settings_file.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <set>

using namespace zuna;
using namespace zuna::alberici;
using test::RecordingPort;
using Tokens = std::vector<std::string>;

namespace {

std::string hex(int v)
{
    char b[4];
    std::snprintf(b, sizeof b, "%02X", v & 0xFF);
    return b;
}

// One token per masked span: the character its units carry ("?" when they
// do not frame one), "+" when the three closing units followed a reply.
// Port accesses outside a span are "attend" (a coin wait) or reported.
Tokens tokens(const std::vector<RecordingPort::Event>& ev, int32_t alb)
{
    Tokens out;
    std::vector<int> units;
    int64_t reads = 0, after = 0;
    bool open = false;
    for (const auto& e : ev) {
        switch (e.kind) {
        case RecordingPort::Mask:
            if (open)
                out.push_back("nested mask");
            open = true;
            units.clear();
            reads = after = 0;
            break;
        case RecordingPort::Write:
            if (!open) {
                if (out.empty() || out.back() != "attend")
                    out.push_back("attend");
                break;
            }
            if (e.value != kLevel0 && e.value != kLevel1) {
                out.push_back("bad write " + hex(e.value));
                break;
            }
            if (reads > 0)
                after += e.count;
            else
                for (int64_t u = 0; u < e.count / (alb + 1); ++u)
                    units.push_back(e.value & 1);
            break;
        case RecordingPort::Read:
            if (!open) {
                if (out.empty() || out.back() != "attend")
                    out.push_back("attend");
                break;
            }
            reads += e.count;
            break;
        case RecordingPort::Unmask: {
            std::string t = "?";
            if (units.size() == 9 && units[0] == 0) {
                int c = 0;
                for (int b = 0; b < 8; ++b)
                    c |= units[size_t(b + 1)] << b;
                t = hex(c);
            }
            if (after == 3 * (alb + 1))
                t += "+";
            else if (after != 0)
                t += "!" + std::to_string(after);
            out.push_back(t);
            open = false;
            break;
        }
        case RecordingPort::Idle:
            out.push_back("idle");
            break;
        }
    }
    if (open)
        out.push_back("still masked");
    return out;
}

std::string str(const Tokens& t)
{
    std::string s;
    for (const auto& x : t)
        s += (s.empty() ? "" : " ") + x;
    return s;
}

struct Al3Bench {
    explicit Al3Bench(const char* faults = "") : setup(1.0, parse(faults), ""), rec(setup.bench()), station(rec)
    {
        mech = static_cast<sim::Al3Mech*>(setup.plug("al3"));
        station.measured_module_count = measure_module(setup.bench());
        load_delay_counts(station);
        rec.events.clear();
    }
    static sim::Faults parse(const char* text)
    {
        sim::Faults f;
        sim::parse_faults(text, f, nullptr);
        return f;
    }
    std::string line()
    {
        std::string s = str(tokens(rec.events, station.delay.alb));
        rec.events.clear();
        return s;
    }
    sim::SimSetup setup;
    RecordingPort rec;
    Station station;
    sim::Al3Mech* mech = nullptr;
};

// Echoes of a channel read of the factory record: r1..r17 sent back, r15
// with bit 7 cleared, then r18.
std::string read_tail(const sim::Al3Mech::Record& r)
{
    std::string s;
    for (int i = 0; i < 18; ++i)
        s += " " + hex(i == 14 ? r[size_t(i)] & 0x7F : r[size_t(i)]) + "+";
    return s;
}

struct LineRow {
    const char* what;
    std::function<void(Station&)> run;
    std::function<std::string(sim::Al3Mech&)> expected;
    const char* faults = "";
};

TEST(Al3Line, TransactionsPutTheirCharactersOnTheLineInOrder)
{
    const sim::Al3Mech::Coin coin = {0x35, 0xA2, 0x7F, 0x10, 0xC4, 0x80};
    std::array<sim::Al3Mech::Record, kChannels> held{};
    const std::vector<LineRow> rows = {
        {"speed test", [](Station& s) { EXPECT_TRUE(test_vitesse(s)); },
         [](sim::Al3Mech&) { return std::string("41+ 53+ 30+"); }},
        {"lect 1: no closing first, r15 back with bit 7 cleared",
         [](Station& s) { EXPECT_TRUE(lect(s, 1)); },
         [](sim::Al3Mech& m) {
             m.record(0)[0x0E] = 0xE4;
             return "41+ 52+ 00+ 30+" + read_tail(m.record(0));
         }},
        {"lect 12: the closing first", [](Station& s) { EXPECT_TRUE(lect(s, 12)); },
         [](sim::Al3Mech& m) { return "53+ 30+ 41+ 52+ 0B+ 30+" + read_tail(m.record(11)); }},
        {"byte write", [](Station& s) { byte_write(s, 4, 0x0D, 0x32); },
         [](sim::Al3Mech&) { return std::string("41+ 77+ 32+ 0D+ 04+ 30+ 32+"); }},
        {"type write", [](Station& s) { type_write(s, 3); },
         [](sim::Al3Mech&) { return std::string("41+ 76+ 03+ 30+ 45+ 30+ 03+"); }},
        {"model load: the tolerance unechoed", [](Station& s) { load_tolerance(s, 9, 7); },
         [](sim::Al3Mech&) { return std::string("41+ 77+ 07+ 0F+ 08+ 30+"); }},
        {"coin test", [](Station& s) { coin_test(s); },
         [](sim::Al3Mech& m) {
             m.last_coin() = {1, 2, 3, 4, 5, 0x80};
             return std::string("41+ 6D+ 08+ 30+ 01+ 6D+ 09+ 30+ 02+ 6D+ 0A+ 30+ 03+ 6D+ 0B+ 30+ 04+ "
                                "6D+ 0C+ 30+ 05+ 6D+ 0D+ 30+ 80+ 53+ 30+");
         }},
        // A mechanism whose clock runs 7 % or 6 % slow misreads characters
        // and answers them with their echo as misread or 0xFA: nothing it
        // answered is shown.
        {"coin test 7 % slow: ends at the first echo that differs",
         [&](Station& s) {
             const auto m = coin_test(s);
             for (size_t k = 0; k < m.size(); ++k)
                 EXPECT_TRUE(!m[k] || *m[k] == coin[k]) << "measurement " << k + 1 << ": " << int(*m[k]);
         },
         [&](sim::Al3Mech& m) {
             m.last_coin() = coin;
             return std::string("41+ 6D+ 08+ 30+ 53+ 30+");
         },
         "drift=7"},
        {"read of all channels 6 % slow: no byte shown wrong",
         [&](Station& s) {
             const ReadAll r = lecture(s);
             for (size_t c = 0; c < r.channel.size(); ++c)
                 EXPECT_TRUE(!r.channel[c] || *r.channel[c] == held[c]) << "channel " << c + 1;
         },
         [&](sim::Al3Mech& m) {
             for (int c = 0; c < kChannels; ++c)
                 held[size_t(c)] = m.record(c);
             // The opening's "0" taken as 0xB0; the read ends at channel 1.
             return std::string("41+ 67+ 03+ 2E+ 30+ B0+ B0+ B0+ 53+ 30+ 41+ 52+ 00+ 30+ 53+ 30+");
         },
         "drift=6"},
        {"type and levels", [](Station& s) { read_type(s); },
         [](sim::Al3Mech& m) {
             m.type() = 2;
             m.record(12)[5] = 0x14;
             m.record(12)[1] = 0x81;
             return std::string("41+ 56+ 30+ 53+ 30+ 41+ 72+ 05+ 0C+ 30+ 14+ 72+ 01+ 0C+ 30+ 81+ 56+ 30+ 02+ "
                                "02+ 53+ 30+");
         }},
        {"teach of two coins into channel 2",
         [](Station& s) {
             Teach t;
             t.coins = 2;
             t.channel = 2;
             t.tolerance = 5;
             t.value = 50;
             t.time_ms = 120;
             t.output = 3;
             const TeachResult r = teach(s, t);
             EXPECT_EQ(r.counts, (std::vector<int>{1, 2}));
             EXPECT_TRUE(r.write.confirmed());
         },
         [](sim::Al3Mech& m) {
             m.queue_coin({100, 101, 102, 103, 104, 105});
             m.queue_coin({102, 101, 102, 103, 104, 105});
             std::string block = "41+ 77+ 3C+ 0D+ 01+ 30+ 3C+ 41+ 77+ 32+ 0E+ 01+ 30+ 32+ 41+ 77+ 08+ 0C+ 01+ 30+ "
                                 "08+ 41+";
             sim::Al3Mech::Record r = m.record(1);
             for (int k = 0; k < 6; ++k)
                 r[size_t(2 * k)] = uint8_t(101 + (k ? k - 1 : 0)), r[size_t(2 * k + 1)] = 3;
             r[1] = 4;
             r[0x0C] = 8, r[0x0D] = 60, r[0x0E] = 50, r[0x0F] = 5;
             return "41+ 77+ 05+ 0F+ 01+ 30+ 05+ 41+ 49+ 02+ 01+ 30+ attend 53+ 30+ " + block + " " + block +
                    " 53+ 30+ 41+ 52+ 01+ 30+" + read_tail(r) + " 53+ 30+";
         }},
    };
    for (const LineRow& row : rows) {
        Al3Bench b(row.faults);
        const std::string expected = row.expected(*b.mech);
        row.run(b.station);
        EXPECT_EQ(b.line(), expected) << row.what;
        // A wake time left in the past would be run at every access (and hang an idle wait).
        EXPECT_GT(b.setup.bench().next_wake(), b.setup.bench().now()) << row.what;
    }
}

TEST(Al3Line, ReadAllAndEmptyChannelFollowTheirSequence)
{
    Al3Bench b;
    const ReadAll r = lecture(b.station);
    EXPECT_EQ(r.done, 12);
    EXPECT_FALSE(r.silent);
    std::string expected = "41+ 67+ 03+ 2E+ 30+ 31+ 31+ 31+";
    for (int n = 1; n <= 12; ++n)
        expected += " 53+ 30+ 41+ 52+ " + hex(n - 1) + "+ 30+" + read_tail(b.mech->record(n - 1));
    expected += " 53+ 30+";
    EXPECT_EQ(b.line(), expected);
    for (int n = 1; n <= 12; ++n)
        EXPECT_EQ(*r.channel[size_t(n - 1)], b.mech->record(n - 1)) << n;

    const WriteResult w = vider(b.station, 3);
    EXPECT_TRUE(w.confirmed());
    std::string v;
    for (int a : {0x0F, 0x0E, 0x0C, 0x0D, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11})
        v += "41+ 77+ FF+ " + hex(a) + "+ 02+ 30+ FF+ ";
    v += "41+ 53+ 30+ 53+ 30+ 41+ 52+ 02+ 30+" + read_tail(b.mech->record(2)) + " 53+ 30+";
    EXPECT_EQ(b.line(), v) << "each character masked on its own: no span around the whole";
    EXPECT_EQ(b.mech->record(2), sim::Al3Mech::emptied());
}

// A port whose status replays a reply: `wait` reads of idle, then stretches
// of units (ALB + 1 reads each) of alternating level, starting at level 0.
struct ScriptPort : Port {
    int64_t wait = 0;
    std::vector<int> stretches;
    int32_t unit = 69;
    int64_t reads = 0;
    int64_t writes = 0;
    void write_data_port(uint8_t) override { ++writes; }
    uint8_t read_status_port() override
    {
        int64_t at = reads++ - wait;
        if (at < 0)
            return 0;
        for (size_t j = 0; j < stretches.size(); ++j) {
            const int64_t len = int64_t(stretches[j]) * unit;
            if (at < len)
                return j % 2 == 0 ? kReply : 0;
            at -= len;
        }
        return 0;
    }
    void mask_interrupts() override {}
    void unmask_interrupts() override {}
    void idle(uint64_t) override {}
};

struct CaptureRow {
    const char* what;
    int64_t wait;
    std::vector<int> stretches;
    std::vector<int32_t> entries; // run table 0..n
    int value;
    bool heard;
    bool unframed = false; // heard, but no stop bit after the eighth data bit
};

TEST(Al3Capture, RepliesAreCapturedAndDecodedFromTheRunTable)
{
    const std::vector<CaptureRow> rows = {
        {"silent: nothing written, no closing units", 100000, {}, {0, 0}, 0, false},
        {"0xFF: one unit of level 0, then idle", 150, {1}, {1, kEndMark, 0}, 0xFF, true},
        {"0x00: nine units of level 0", 150, {9}, {9, kEndMark, 0}, 0x00, true},
        {"F", 150, {2, 2, 3, 1, 1}, {2, 2, 3, 1, 1, kEndMark}, 'F', true},
        {"A", 10, {1, 1, 5, 1, 1}, {1, 1, 5, 1, 1, kEndMark}, 'A', true},
        {"a reply that starts after the budget", 78 * 68, {1}, {0}, 0, false},
        {"0x00 whose stop bit is at level 0: not a byte", 150, {10}, {10, kEndMark, 0}, 0x00, true, true},
        {"0xFF followed by level 0 where its stop bit is", 150, {1, 8, 3}, {1, 8, 3, kEndMark}, 0xFF, true, true},
    };
    for (const CaptureRow& row : rows) {
        ScriptPort port;
        port.wait = row.wait;
        port.stretches = row.stretches;
        Station s(port);
        s.delay.alb = 68;
        s.run_table.fill(7);
        ecrir_nb(s, 'X');
        EXPECT_EQ(port.writes, 9 * 69 + 1 + (row.heard ? 3 * 69 : 0)) << row.what;
        for (size_t j = 0; j < row.entries.size(); ++j)
            EXPECT_EQ(s.run_table[j], row.entries[j]) << row.what << " entry " << j;
        EXPECT_EQ(s.run_table[1001], 7) << "entries beyond 1000 are not cleared";
        Reply r;
        r.heard = s.run_table[0] != 0;
        r.value = decode(s, &r.framed);
        EXPECT_EQ(r.value, row.value) << row.what;
        EXPECT_EQ(r.good(), row.heard && !row.unframed) << row.what;
    }
}

TEST(Al3Capture, LengthsRoundHalvesToEvenAndBadCountsAreRefused)
{
    struct Row {
        int64_t reads; // of the level 0 stretch, counted
        int32_t entry;
    };
    for (const Row& r : {Row{101, 1}, Row{102, 2}, Row{170, 2}, Row{171, 3}, Row{238, 4}})
        for (bool waiting : {false, true}) { // the coin wait rounds the same way
            ScriptPort port;
            port.unit = 1;
            port.wait = 5;
            port.stretches = {int(r.reads + 1)}; // the read ending the wait is not counted
            Station s(port);
            s.delay.alb = 68;
            waiting ? attend(s) : lit_al3(s, 78 * 68);
            EXPECT_EQ(s.run_table[0], r.entry) << r.reads << (waiting ? " waiting" : "");
        }
    // ALB below 1: no unit, no capture, no speed test.
    for (int32_t alb : {0, -5}) {
        ScriptPort port;
        port.stretches = {1};
        Station s(port);
        s.delay.alb = alb;
        ecrir_nb(s, 'A');
        EXPECT_FALSE(attend(s));
        EXPECT_FALSE(test_vitesse(s));
        EXPECT_EQ(port.writes + port.reads, 0) << alb;
    }
}

TEST(Al3Capture, AttendTimesOutWithoutWritingAndKeepsNoStaleCount)
{
    ScriptPort port;
    port.wait = 1000000000; // nobody passes a coin
    Station s(port);
    s.delay.alb = 68;
    s.run_table[0] = 1, s.run_table[1] = 1, s.run_table[2] = 7; // the previous capture
    EXPECT_FALSE(attend(s, 5000));
    EXPECT_EQ(s.run_table[0], 1) << "nothing written";
    EXPECT_EQ(port.reads, 5000);
    EXPECT_EQ(port.writes, 1);
}

TEST(Al3Bench, SpeedSearchLandsNearTheMechanismsBitTime)
{
    Al3Bench b;
    Station& s = b.station;
    s.delay.alb = 2;
    while (!test_vitesse(s) && s.delay.alb <= 150)
        ++s.delay.alb;
    const int low = s.delay.alb;
    int high = low;
    while (test_vitesse(s)) {
        high = s.delay.alb;
        ++s.delay.alb;
    }
    const int found = int(div_round_even(low + high, 2));
    EXPECT_NEAR(found, 68, 2) << low << ".." << high;
    EXPECT_GT(high - low, 2) << "the mechanism understands a band, not one count";
}

TEST(Al3Bench, DeadLinesAnswerNothingAndAreSeenAsSuch)
{
    for (const char* fault : {"silent", "noise"}) {
        Al3Bench b(fault);
        const uint64_t t0 = b.setup.bench().now();
        // The frequency window's whole search, 2 to 150.
        for (int32_t alb = 2; alb <= 150; alb += std::string(fault) == "silent" ? 1 : 37) {
            b.station.delay.alb = alb;
            EXPECT_FALSE(test_vitesse(b.station)) << fault << " " << alb;
        }
        b.station.delay.alb = 68;
        const ReadAll all = lecture(b.station);
        EXPECT_EQ(all.silent, std::string(fault) == "silent") << fault;
        EXPECT_EQ(all.garbled, std::string(fault) == "noise") << fault; // heard, never read
        EXPECT_EQ(all.done, 0) << fault;
        if (std::string(fault) == "silent") {
            // Three exchanges of 9 units and 78 units of budget, no closing
            // units: under 3.5 s of port time for the 149 counts.
            EXPECT_LT(b.setup.bench().now() - t0, 3'500'000u);
            const ReadAll r = lecture(b.station);
            EXPECT_TRUE(r.silent);
            EXPECT_EQ(r.done, 0);
            EXPECT_FALSE(r.channel[0]);
            EXPECT_FALSE(type_read(b.station));
            EXPECT_FALSE(byte_read(b.station, 12, 5));
            const TeachResult t = teach(b.station, Teach{});
            EXPECT_FALSE(t.answered);
            EXPECT_TRUE(t.counts.empty());
        }
    }
}

TEST(Al3Bench, WritesAreReadBackAndACutIsSeen)
{
    Al3Bench b("power-cut=20");
    Settings v;
    v.parameter = {10, 20, 30, 40, 50, 60};
    v.delta = {1, 2, 3, 4, 5, 6};
    v.output = 4;
    v.time_ms = 250; // sent as round(125.0): 125
    v.value = 100;
    v.validated = false;
    const WriteResult w = write_channel(b.station, 5, v);
    EXPECT_FALSE(w.confirmed()) << "the power went after 20 byte writes";
    EXPECT_FALSE(w.readback);
    EXPECT_EQ(w.differences().size(), 15u);

    // A read-back is believed on a read that agrees with what was written or
    // on two equal reads; reads that never agree leave the channel unknown.
    // The mechanism's own faults count its byte writes: the block goes twice
    // (15 bytes each), so a byte lost or changed in the first pass is
    // rewritten by the second.
    struct Garble {
        const char* what;
        std::deque<uint8_t> xors;
        bool confirmed, unknown;
        size_t reads; // channel reads after the write
        const char* faults = "";
        std::vector<int> differences = {};
    };
    for (const Garble& g : {Garble{"garbled once", {0x40}, true, false, 2},
                            Garble{"read twice alike otherwise: believed", {0x01, 0x01}, false, false, 2, "", {0}},
                            Garble{"never twice alike", {0x40, 0x20, 0x10, 0x08}, false, true, 4},
                            Garble{"last byte kept with one bit changed", {}, false, false, 2, "wrong-readback=30",
                                   {0x0B}},
                            Garble{"a bit changed in the first pass, rewritten", {}, true, false, 1, "wrong-readback=1"},
                            Garble{"lost in the second pass, held from the first", {}, true, false, 1,
                                   "lost-write=18"}}) {
        Al3Bench n(g.faults);
        n.mech->garble_reads(4, g.xors);
        const WriteResult wg = write_channel(n.station, 5, v);
        EXPECT_EQ(wg.confirmed(), g.confirmed) << g.what;
        EXPECT_EQ(wg.unknown(), g.unknown) << g.what;
        if (!wg.unknown()) {
            EXPECT_EQ(wg.differences(), g.differences) << g.what;
        }
        if (g.xors.empty()) {
            EXPECT_EQ(*wg.readback, n.mech->record(4)) << g.what << ": what the mechanism holds";
        }
        const std::string line = n.line();
        size_t reads = 0;
        for (size_t at = line.find("41+ 52+ 04+"); at != std::string::npos; at = line.find("41+ 52+ 04+", at + 1))
            ++reads;
        EXPECT_EQ(reads, g.reads) << g.what;
    }

    // The pulse time goes as round(time x 0.5), halves to even (an odd time
    // from a file): 5 ms gives 2 (half up 3), 7 ms gives 4 (truncation 3).
    for (const auto& [ms, byte] : {std::pair{5, 2}, std::pair{7, 4}, std::pair{249, 124}, std::pair{251, 126}}) {
        Al3Bench t;
        Settings odd = v;
        odd.time_ms = ms;
        write_channel(t.station, 5, odd);
        EXPECT_EQ(t.mech->record(4)[0x0D], byte) << ms;
    }

    Al3Bench ok;
    const WriteResult w2 = write_channel(ok.station, 5, v);
    EXPECT_TRUE(w2.confirmed());
    const auto& r = ok.mech->record(4);
    EXPECT_EQ(r[0x0D], 125);
    EXPECT_EQ(r[0x0E], 0xE4);
    EXPECT_EQ(r[0x0C], 0x10);
    EXPECT_EQ(r[10], 60);
    EXPECT_EQ(r[11], 6);
    EXPECT_EQ(write_channel(ok.station, 13, v).sent, false);

    const TypeWrite t = write_type(ok.station, 4, 0x05);
    EXPECT_TRUE(t.confirmed());
    EXPECT_EQ(ok.mech->type(), 4);
    EXPECT_EQ(ok.mech->record(12)[5], 0x05);
    EXPECT_EQ(ok.mech->record(12)[1], 0x81) << "accumulator not at high level";

    // Written once each: a byte of "Vider" lost, the type kept with a bit changed.
    Al3Bench lost("lost-write=5"); // address 0x00, the first parameter
    const WriteResult wv = vider(lost.station, 3);
    EXPECT_FALSE(wv.confirmed());
    EXPECT_FALSE(wv.unknown());
    EXPECT_EQ(wv.differences(), std::vector<int>{0x00});
    EXPECT_EQ((*wv.readback)[0], 145) << "channel 3 keeps its first parameter";
    Al3Bench changed("wrong-readback=3"); // levels, accumulator, then the type
    const TypeWrite tc = write_type(changed.station, 4, 0x05);
    EXPECT_FALSE(tc.confirmed());
    EXPECT_TRUE(tc.settled);
    EXPECT_EQ(tc.readback.type, std::optional<uint8_t>(5));
}

TEST(Al3Bench, TeachEndsAtItsCountOrTheFirstEmptyWait)
{
    struct Row {
        const char* what;
        const char* faults;
        bool coins;
        std::vector<int> counts;
        bool no_coin;
    };
    for (const Row& r : {Row{"no coin", "", false, {}, true},
                         // The count goes from 2 to 4: the teach ends there all the same.
                         Row{"count past its target", "jumping-count", true, {1, 2, 4}, false}}) {
        Al3Bench b(r.faults);
        b.mech->set_coins(r.coins);
        const auto before = b.mech->record(0);
        Teach t;
        t.coins = 3;
        const TeachResult res = teach(b.station, t);
        EXPECT_TRUE(res.answered) << r.what;
        EXPECT_EQ(res.no_coin, r.no_coin) << r.what;
        EXPECT_EQ(res.counts, r.counts) << r.what << ": a wait with no coin shows no count";
        EXPECT_EQ(res.write.sent, !r.no_coin) << r.what;
        EXPECT_EQ(res.write.confirmed(), !r.no_coin) << r.what;
        if (r.no_coin) {
            EXPECT_EQ(b.mech->record(0)[0], before[0]) << r.what;
        }
    }
}

} // namespace

namespace {

// The station's port for a stall test: forwards to the recording port, tells
// the bench's stalls, and stalls the PC `after` port accesses into the n-th
// reply the station reads (a reply starts at a level 0 after more than ten
// units of none) or, with `sent`, into the n-th character it sends.
struct StallAt : Port {
    StallAt(Al3Bench& b, int n, int64_t after, uint64_t length, bool sent = false)
        : inner(b.rec), bench(b.setup.bench()), stalls(bench, 0, 1), n(n), after(after), length(length), sent(sent)
    {
        bench.plug(stalls);
        stalls.start();
        b.station.port = this;
    }
    ~StallAt() override { bench.unplug(stalls); }
    void write_data_port(uint8_t v) override
    {
        count();
        inner.write_data_port(v);
    }
    uint8_t read_status_port() override
    {
        count();
        const uint8_t st = inner.read_status_port();
        if (st & kReply) {
            if (!sent && bench.now() - last_low > 10 * 69 && ++replies == n)
                accesses = 1;
            last_low = bench.now();
        }
        return st;
    }
    void mask_interrupts() override
    {
        if (sent && ++chars == n)
            accesses = 0;
        inner.mask_interrupts();
    }
    void unmask_interrupts() override { inner.unmask_interrupts(); }
    void idle(uint64_t steps) override { inner.idle(steps); }
    uint64_t stalled_ns() const override { return bench.stalled_ns(); }
    void count()
    {
        if (accesses >= 0 && accesses++ == after)
            stalls.stall_at(bench.now() + 1, length);
    }

    Port& inner;
    sim::Bench& bench;
    sim::StallFault stalls;
    int n;
    int64_t after;
    uint64_t length;
    bool sent;
    int replies = 0, chars = 0;
    uint64_t last_low = 0;
    int64_t accesses = -1;
};

} // namespace

// A stall cuts short a level the station counts without breaking the
// framing: the reply is garbled, never a value, and the operation ends as
// for any garbled reply. A stall after the reply's stop bit changes nothing.
TEST(Al3Bench, AStallInsideAReplyIsNeverTakenForAValue)
{
    struct Row {
        const char* what;
        int n;           // the reply stalled (1: the first the operation reads)
        int64_t after;   // port accesses after its start bit
        uint64_t length; // ticks
        std::function<std::string(Station&)> run;
        std::string expected;
        bool sent = false; // n counts the characters sent, not the replies
    };
    auto record = [](const std::optional<Record>& r) {
        std::string s = r ? "" : "nothing";
        for (size_t i = 0; r && i < r->size(); ++i)
            s += (i ? " " : "") + std::to_string((*r)[i]);
        return s;
    };
    auto byte = [](const std::optional<uint8_t>& b) { return b ? std::to_string(*b) : std::string("nothing"); };
    auto channel_5 = [&](Station& s) { return record(adjust_read(s, 5)); };
    auto coin = [](Station& s) {
        std::string t;
        for (const auto& m : coin_test(s))
            t += (t.empty() ? "" : " ") + (m ? std::to_string(*m) : std::string("-"));
        return t;
    };
    const std::string factory_5 = "170 6 121 6 182 6 86 6 241 6 122 6 32 90 100 4 90 165";
    const std::vector<Row> rows = {
        {"no stall", 0, 0, 0, channel_5, factory_5},
        {"a record byte", 5, 80, 140, channel_5, "nothing"},
        {"two units after the stop bit of a record byte", 5, 1000, 140, channel_5, factory_5},
        // 6: level 0 for two units, 1 for two, 0 for five; the stall hides the
        // last five, and the byte would end in the stretch the budget ends.
        {"the last bits of a record byte", 5, 200, 450, channel_5, "nothing"},
        {"the second measurement", 8, 80, 140, coin, "53 - - - - -"},
        // Characters of the coin test sent: "A", "m", 8, "0", 0x35 sent back, "m", 9, "0".
        {"a bit of the \"0\" asking the second measurement", 8, 250, 69, coin, "53 - - - - -", true},
        {"the start of the second measurement, in the wait", 8, 760, 100, coin, "53 - - - - -", true},
        {"a bit of the first measurement sent back", 5, 250, 69, coin, "- - - - - -", true},
        {"a record byte, then a coin test", 5, 80, 140,
         [&](Station& s) {
             const std::string read = record(adjust_read(s, 5));
             return read + " / " + coin(s);
         },
         "nothing / - - - - - -"},
        {"the type", 3, 80, 140, [&](Station& s) { return byte(type_read(s)); }, "nothing"},
        {"the output levels", 5, 80, 140, [&](Station& s) { return byte(byte_read(s, 12, 5)); }, "nothing"},
        {"the second count of a teach", 14, 80, 140,
         [](Station& s) {
             Teach t;
             t.coins = 3;
             const TeachResult r = teach(s, t);
             std::string c;
             for (int k : r.counts)
                 c += std::to_string(k) + " ";
             return c + (r.write.sent ? "written" : "not written");
         },
         "1 not written"},
    };
    for (const Row& r : rows) {
        Al3Bench b;
        b.mech->last_coin() = {0x35, 0xA2, 0x7F, 0x10, 0xC4, 0x80};
        StallAt port(b, r.n, r.after, r.length, r.sent);
        EXPECT_EQ(r.run(b.station), r.expected) << r.what;
        EXPECT_EQ(port.stalls.stalls().size(), r.n ? 1u : 0u) << r.what;
    }
}

namespace {

// Asks to stop once the operation has stepped `after` times.
struct StopAfter : Progress {
    explicit StopAfter(int n) : after(n) {}
    int after, steps = 0;
    void start(int) override {}
    void step() override { ++steps; }
    void finish() override {}
    bool stop_requested() const override { return steps >= after; }
};

TEST(Al3Bench, ArreterEndsAtTheNextChannelOrCoin)
{
    {
        Al3Bench b;
        StopAfter p(3); // the opening step, channels 1 and 2
        const ReadAll r = lecture(b.station, &p);
        EXPECT_TRUE(r.stopped);
        EXPECT_EQ(r.done, 2);
        EXPECT_TRUE(r.channel[1]);
        EXPECT_FALSE(r.channel[2]);
        const std::string line = b.line();
        EXPECT_EQ(line.substr(line.size() - 7), "53+ 30+") << "the closing still sent";
    }
    {
        Al3Bench b;
        const auto before = b.mech->record(3);
        StopAfter p(1);
        Teach t;
        t.coins = 3;
        t.channel = 4;
        const TeachResult r = teach(b.station, t, &p);
        EXPECT_TRUE(r.stopped);
        EXPECT_EQ(r.counts, std::vector<int>{1});
        EXPECT_FALSE(r.write.sent) << "nothing written after a stop";
        EXPECT_EQ(b.mech->record(3)[0x0C], before[0x0C]);
    }
}

} // namespace

namespace {

// The records a stretch of the line wrote bytes into ("A", "w", value,
// address, record), and "type" for a type write ("A", "v").
std::set<std::string> units_written(const Tokens& t)
{
    std::set<std::string> out;
    auto is = [&](size_t i, const char* c) { return i < t.size() && t[i].rfind(c, 0) == 0; };
    for (size_t i = 0; i + 1 < t.size(); ++i) {
        if (is(i, "41") && is(i + 1, "77") && i + 4 < t.size())
            out.insert("record " + std::to_string(std::stoi(t[i + 4].substr(0, 2), nullptr, 16)));
        if (is(i, "41") && is(i + 1, "76"))
            out.insert("type");
    }
    return out;
}

} // namespace

// A settings file read from the mechanism, three settings changed in its
// memory (a parameter, a tolerance alone, the type), then restored: only
// their records and the type are written, and a mechanism that stops
// part-way is reported unit for unit.
TEST(Al3Bench, RestoreWritesOnlyTheChangedRecords)
{
    struct Row {
        const char* what;
        std::function<void(Al3Bench&)> fault;
        settings::Outcome::Kind kind;
        std::vector<std::string> written, not_written;
        std::set<std::string> units;
        std::vector<std::string> failed = {};
    };
    const std::vector<std::string> three = {"Canal 2/Paramètre 3", "Canal 5/Tolérance", "Type"};
    const std::vector<Row> rows = {
        {"whole restore", [](Al3Bench&) {}, settings::Outcome::Held, three, {}, {"record 1", "record 4", "record 12", "type"}},
        {"power lost in the first channel", [](Al3Bench& b) { b.mech->set_power_cut_after(b.mech->byte_writes() + 3); },
         settings::Outcome::NoAnswer, {"Type"}, {"Canal 2/Paramètre 3", "Canal 5/Tolérance"},
         {"record 1", "record 12", "type"}},
        {"unplugged before", [](Al3Bench& b) { b.setup.plug("none"); }, settings::Outcome::NoAnswer, {}, {}, {}},
        {"another mechanism's type", [](Al3Bench& b) { b.mech->set_faults(Al3Bench::parse("other-family")); },
         settings::Outcome::NoAnswer, {}, {}, {}},
        // The type first (3 writes), channel 2 (twice 15), the tolerance of channel 5 (1).
        {"a byte beside the changed one kept with a bit changed",
         [](Al3Bench& b) { b.mech->set_faults(Al3Bench::parse("wrong-readback=33")); }, settings::Outcome::NotHeld,
         three, {}, {"record 1", "record 4", "record 12", "type"}, {"Canal 2/Delta 6"}},
        // The read after the writes does not come: each unit counts as
        // written only when its whole read-back held what it wrote.
        {"a byte beside the changed one taken wrong, then the power lost",
         [](Al3Bench& b) {
             b.mech->set_faults(Al3Bench::parse("wrong-readback=33"));
             b.mech->set_power_cut_after(b.mech->byte_writes() + 33);
         },
         settings::Outcome::NoAnswer, {"Type"}, {"Canal 2/Paramètre 3", "Canal 5/Tolérance"},
         {"record 1", "record 4", "record 12", "type"}},
        {"the tolerance lost", [](Al3Bench& b) { b.mech->set_faults(Al3Bench::parse("lost-write=34")); },
         settings::Outcome::NotHeld, {"Canal 2/Paramètre 3", "Type"}, {}, {"record 1", "record 4", "record 12", "type"},
         {"Canal 5/Tolérance"}},
    };
    for (const Row& r : rows) {
        Al3Bench b;
        Al3Settings family;
        settings::Snapshot file;
        ASSERT_EQ(family.read(b.station, nullptr, file), "") << r.what;
        EXPECT_EQ(file.values.at("Canal 2/Paramètre 3"), 150) << r.what;
        EXPECT_EQ(file.values.at("Canal 3/Temps"), 140) << r.what;
        EXPECT_EQ(file.values.at("Canal 7/Validé"), 0) << r.what;
        b.mech->record(1)[4] = 99;
        b.mech->record(4)[kToleranceAddr] = 7;
        b.mech->type() = 3;
        r.fault(b);
        b.rec.events.clear();
        const settings::Outcome o = settings::restore(b.station, family, file, false, nullptr);
        EXPECT_EQ(o.kind, r.kind) << r.what << ": " << o.message();
        EXPECT_EQ(o.written, r.written) << r.what;
        EXPECT_EQ(o.not_written, r.not_written) << r.what;
        EXPECT_EQ(o.failed, r.failed) << r.what;
        EXPECT_EQ(units_written(tokens(b.rec.events, b.station.delay.alb)), r.units) << r.what;
        if (!r.failed.empty()) {
            EXPECT_EQ(o.exit_code(), 1) << r.what;
            EXPECT_NE(o.message().find("Ne tiennent pas la valeur du fichier :\n  " + r.failed[0]), std::string::npos)
                << r.what << ": " << o.message();
        }
        if (r.kind != settings::Outcome::Held)
            continue;
        EXPECT_EQ(o.before.to_write(), three);
        EXPECT_EQ(o.message(), "3 réglages écrits, tous vérifiés");
        settings::Snapshot again;
        ASSERT_EQ(family.read(b.station, nullptr, again), "");
        EXPECT_EQ(again.values, file.values);
        EXPECT_EQ(b.mech->record(1)[4], 150);
        EXPECT_EQ(b.mech->record(4)[kToleranceAddr], 4);
        EXPECT_EQ(b.mech->type(), 1);
    }
}

// Files that are not a sound AL3 settings set are refused, naming the setting.
TEST(Al3Bench, SettingsFilesOfAnotherShapeAreRefused)
{
    Al3Bench b;
    Al3Settings family;
    settings::Snapshot snap;
    ASSERT_EQ(family.read(b.station, nullptr, snap), "");
    const QJsonObject root = QJsonDocument::fromJson(settings::to_json(family, snap)).object();
    auto set = [](const char* channel, const char* name, int v) {
        return [=](QJsonObject& r) {
            QJsonObject c = r.value(channel).toObject();
            c.insert(name, v);
            r.insert(channel, c);
        };
    };
    test::expect_file_rows(family, root, {
        {"as read", [](QJsonObject&) {}, nullptr},
        {"a thirteenth channel", set("Canal 13", "Paramètre 1", 10), "Canal 13/Paramètre 1"},
        {"output 7", set("Canal 3", "Sortie", 7), "Canal 3/Sortie"},
        {"selection 2", set("Canal 1", "Validé", 2), "Canal 1/Validé"},
        {"type 0", [](QJsonObject& r) { r.insert("Type", 0); }, "Type"},
    });
}
