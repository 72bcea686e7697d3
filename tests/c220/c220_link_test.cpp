// The C220 link: what each transaction puts on the two wires (a recording
// port turned back into start, bytes and stop as the mechanism sees them),
// the step counts, and the window operations against the simulated C220,
// its faults included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "c220/c220_link.h"
#include "c220/c220_settings.h"
#include "link/module.h"
#include "sim/c220_mech.h"
#include "sim/catalogue.h"
#include "tests/common/settings_rows.h"
#include "tests/common/counting_port.h"
#include "tests/common/recording_port.h"
#include "settings_file/settings_file.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace zuna;
using namespace zuna::c220;
using test::RecordingPort;

namespace {

std::string hex(int v)
{
    char b[4];
    std::snprintf(b, sizeof b, "%02X", v & 0xFF);
    return b;
}

// The written values as the bus sees them: "S" start, "P" stop, bytes in hex
// (the acknowledge clock after each byte is not shown); a clock edge and a
// data edge in one write count as the clock edge first. Also checks that
// every value carries bit 4 and nothing outside bits 3..6.
std::string bus(const std::vector<RecordingPort::Event>& ev)
{
    std::string out;
    auto put = [&](const std::string& t) { out += (out.empty() ? "" : " ") + t; };
    uint8_t last = 0x70;
    bool framed = false;
    int bits = 0;
    int byte = 0;
    for (const auto& e : ev) {
        if (e.kind != RecordingPort::Write)
            continue;
        const uint8_t v = e.value;
        if ((v & 0x10) == 0 || (v & 0x87) != 0)
            put("bad " + hex(v));
        const bool c0 = last & 0x20, c1 = v & 0x20, d0 = last & 0x40, d1 = v & 0x40;
        if (c0 != c1 && c1 && framed) {
            if (bits < 8) {
                byte = (byte << 1) | (d0 ? 1 : 0);
                if (++bits == 8)
                    put(hex(byte));
            } else {
                bits = 0; // the acknowledge clock
                byte = 0;
            }
        }
        if (d0 != d1 && c1) {
            put(d1 ? "P" : "S");
            framed = !d1;
            bits = 0;
            byte = 0;
        }
        last = v;
    }
    return out;
}

sim::Faults faults(const char* text)
{
    sim::Faults f;
    EXPECT_TRUE(sim::parse_faults(text, f, nullptr)) << text;
    return f;
}

struct Rig {
    explicit Rig(const char* fault = "") : setup(1.0, faults(fault), ""), rec(setup.bench()), station(rec), link(station)
    {
        mech = static_cast<sim::C220Mech*>(setup.plug("c220"));
        station.measured_module_count = measure_module(setup.bench());
        load_delay_counts(station);
        activate(link);
        rec.events.clear();
    }
    void read()
    {
        ASSERT_TRUE(lit_c220(link).answered);
        rec.events.clear();
    }
    sim::SimSetup setup;
    RecordingPort rec;
    Station station;
    Link link;
    sim::C220Mech* mech = nullptr;
};

} // namespace

TEST(C220Line, TransactionsOnTheWires)
{
    struct Row {
        const char* what;
        std::function<void(Link&)> op;
        const char* wires;
    };
    const std::vector<Row> rows = {
        {"word read", [](Link& l) { read_word(l, 5); }, "S 00 85 S 01 FF FF"},
        {"write enable", [](Link& l) { write_enable(l); }, "S 00 30 P"},
        {"erase", [](Link& l) { erase_word(l, 63); }, "S 00 FF P"},
        {"write, long", [](Link& l) { write_word(l, 8, 10, 255, true); }, "S 00 48 0A FF P"},
        {"write, short", [](Link& l) { write_word(l, 63, 0x42, 0, false); }, "S 00 7F 42 00 P"},
        {"bus release", [](Link& l) { fin(l); }, "P"},
    };
    for (const Row& r : rows) {
        test::CountingPort sink;
        RecordingPort rec(sink);
        Station s(rec);
        Link l(s);
        l.count = 2;
        rec.write_data_port(0x70);
        r.op(l);
        EXPECT_EQ(bus(rec.events), r.wires) << r.what;
    }
}

// Every step is one write and count + 1 reads; a transferred bit reads the
// line once more right after its clock rises and only `count` times in its
// last three steps.
TEST(C220Line, ReadsPerStep)
{
    struct Row {
        int32_t count;
        int64_t send_reads;     // per bit sent (13 steps)
        int64_t transfer_reads; // per bit transferred (11 steps)
    };
    for (const Row& r : {Row{0, 13, 9}, Row{2, 39, 31}, Row{-1, 0, 1}}) {
        test::CountingPort port;
        Station s(port);
        Link l(s);
        l.count = r.count;
        send_byte(l, 0xA5);
        EXPECT_EQ(port.writes, 8 * 13) << r.count;
        EXPECT_EQ(port.reads, 8 * r.send_reads) << r.count;
        port.reads = port.writes = 0;
        transfer_byte(l, 0xFF);
        EXPECT_EQ(port.writes, 8 * 11) << r.count;
        EXPECT_EQ(port.reads, 8 * r.transfer_reads) << r.count;
    }
    // Count 0: one read per step, none in the last three steps of a transferred bit.
    struct PerWrite : Port {
        std::vector<int> reads;
        void write_data_port(uint8_t) override { reads.push_back(0); }
        uint8_t read_status_port() override
        {
            ++reads.back();
            return 0;
        }
        void mask_interrupts() override {}
        void unmask_interrupts() override {}
        void idle(uint64_t) override {}
    } port;
    Station s(port);
    Link l(s);
    l.count = 0;
    transfer_byte(l, 0x00);
    ASSERT_EQ(port.reads.size(), 88u);
    const std::vector<int> bit = {1, 1, 1, 2, 1, 1, 1, 1, 0, 0, 0};
    for (int b = 0; b < 8; ++b)
        EXPECT_EQ(std::vector<int>(port.reads.begin() + 11 * b, port.reads.begin() + 11 * (b + 1)), bit) << b;
}

TEST(C220Line, Checksum)
{
    struct Row {
        int sum_of_bytes;
        uint8_t checksum;
    };
    for (const Row& r : {Row{0, 0}, Row{1, 255}, Row{256, 0}, Row{300, 212}}) {
        Image im{};
        int left = r.sum_of_bytes;
        for (int i = 0; i < 126 && left > 0; ++i) {
            im[size_t(i)] = uint8_t(std::min(left, 255));
            left -= im[size_t(i)];
        }
        im[126] = 0x55; // not counted
        im[130] = 0x77;
        EXPECT_EQ(checksum(im), r.checksum) << r.sum_of_bytes;
    }
}

// Operations refused before anything is put on the line.
TEST(C220Line, Refusals)
{
    struct Row {
        const char* what;
        int32_t count;
        bool whole;
        std::function<Refusal(Link&)> op;
        Refusal expected;
    };
    auto channel = [](int c) { return [c](Link& l) { return ecrir_code(l, c, {1, 2, 3, 4, 5, 6}).refused; }; };
    auto word = [](int w) { return [w](Link& l) { return ecrir_code_1(l, w, 1, 2).refused; }; };
    const std::vector<Row> rows = {
        {"channel 0", 90, true, channel(0), Refusal::BadChannel},
        {"channel 9", 90, true, channel(9), Refusal::BadChannel},
        {"word -1", 90, true, word(-1), Refusal::BadWord},
        {"word 63 (the checksum)", 90, true, word(63), Refusal::BadWord},
        {"before a whole read", 90, false, channel(1), Refusal::NotRead},
        {"outputs before a whole read", 90, false, word(54), Refusal::NotRead},
        {"negative count", -1, true, channel(1), Refusal::BadCount},
        {"count 0 (dead module time base)", 0, true, channel(1), Refusal::BadCount},
    };
    for (const Row& r : rows) {
        test::CountingPort port;
        Station s(port);
        Link l(s);
        l.count = r.count;
        l.whole = r.whole;
        EXPECT_EQ(r.op(l), r.expected) << r.what;
        EXPECT_EQ(port.writes + port.reads, 0) << r.what;
    }
    for (int32_t count : {-1, 0}) {
        test::CountingPort port;
        Station s(port);
        Link l(s);
        l.count = count;
        EXPECT_TRUE(lit_c220(l).refused) << count;
        EXPECT_TRUE(test_p(l).refused) << count;
        EXPECT_EQ(port.writes + port.reads, 0) << count;
    }
}

// The count a C220 window takes when nothing is stored in the module: the
// measured module count x 90 / the module's reference (100), rounded to the
// nearest, halves to even. Truncation would give 13 and 2, halves up 23.
TEST(C220Bench, DelayCountFromTheModuleMeasurement)
{
    struct Row {
        int32_t measured;
        int32_t count;
    };
    for (const Row& r : {Row{15, 14}, Row{25, 22}, Row{35, 32}, Row{3, 3}, Row{100, 90}}) { // 13.5 22.5 31.5 2.7
        sim::SimSetup setup(1.0, {}, "");
        Station st(setup.bench());
        st.measured_module_count = r.measured;
        load_delay_counts(st);
        Link l(st);
        activate(l);
        EXPECT_EQ(l.count, r.count) << r.measured;
    }
}

TEST(C220Bench, ReadShowsTheMechanismsMemory)
{
    Rig rig;
    EXPECT_EQ(rig.link.count, 90);
    struct Steps : Progress {
        int max = -1, steps = 0;
        void start(int m) override { max = m; }
        void step() override { ++steps; }
        void finish() override {}
    } p;
    const ReadResult r = lit_c220(rig.link, &p);
    EXPECT_TRUE(r.answered);
    EXPECT_TRUE(r.checksum_holds);
    EXPECT_EQ(r.words, 64);
    EXPECT_EQ(p.max, 63);
    EXPECT_EQ(p.steps, 64);
    EXPECT_TRUE(rig.link.whole);
    EXPECT_TRUE(std::equal(rig.mech->memory().begin(), rig.mech->memory().end(), rig.link.image.begin()));
    EXPECT_EQ(rig.setup.bench().data(), 0x70);
    EXPECT_EQ(rig.setup.bench().mask_depth(), 0);
}

TEST(C220Bench, ChannelWriteOnTheWiresAndInTheMechanism)
{
    Rig rig;
    rig.read();
    const WriteResult w = ecrir_code(rig.link, 1, {128, 255, 10, 255, 10, 255});
    EXPECT_TRUE(w.confirmed());
    EXPECT_FALSE(w.repaired);
    const std::string wires = bus(rig.rec.events);
    const std::string s = hex(w.sum);
    EXPECT_EQ(wires, "S 00 30 P S 00 C0 P S 00 40 80 FF P "
                     "S 00 30 P S 00 C8 P S 00 48 0A FF P "
                     "S 00 30 P S 00 D0 P S 00 50 0A FF P P "
                     "S 00 30 P S 00 FF P S 00 7F " + s + " 00 P "
                     "S 00 BF S 01 FF FF P "
                     "S 00 80 S 01 FF FF P S 00 88 S 01 FF FF P S 00 90 S 01 FF FF P S 00 BF S 01 FF FF P");
    auto& m = rig.mech->memory();
    EXPECT_EQ((std::vector<int>{m[0], m[1], m[16], m[17], m[32], m[33]}), (std::vector<int>{128, 255, 10, 255, 10, 255}));
    EXPECT_EQ(m[126], w.sum);
    EXPECT_EQ(m[126], checksum(rig.link.image));
    EXPECT_EQ(rig.setup.bench().data(), 0x70);
    EXPECT_EQ(rig.setup.bench().mask_depth(), 0);
}

TEST(C220Bench, OutputsWrittenBackUnchanged)
{
    Rig rig;
    rig.read();
    std::array<int, kChannels> codes{};
    for (int c = 1; c <= kChannels; ++c)
        codes[size_t(c - 1)] = output_code(rig.link.image, c);
    EXPECT_EQ(codes, (std::array<int, 8>{8, 10, 9, 11, 12, 13, 0, 0}));
    const auto before = rig.mech->memory();
    const auto results = write_outputs(rig.link, codes);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_TRUE(results[0].confirmed());
    EXPECT_TRUE(results[1].confirmed());
    EXPECT_EQ(rig.mech->memory(), before);
    // A nibble without a name goes back as it was.
    rig.mech->memory()[109] = 0x3A;
    rig.read();
    codes[0] = output_code(rig.link.image, 1);
    EXPECT_EQ(codes[0], 3);
    write_outputs(rig.link, codes);
    EXPECT_EQ(rig.mech->memory()[109], 0x3A);
}

TEST(C220Bench, CoinTest)
{
    struct Row {
        const char* what;
        std::array<int, 3> coin;
        std::optional<uint8_t> forced;
        uint8_t mask;
        int channel;
    };
    const std::vector<Row> rows = {
        {"inside channel 6", {125, 130, 135}, {}, 0x20, 6},
        {"inside channel 1", {25, 30, 35}, {}, 0x01, 1},
        {"inside no channel", {250, 250, 250}, {}, 0x00, 0},
        {"two channels", {25, 30, 35}, 0x24, 0x24, 0},
    };
    for (const Row& r : rows) {
        Rig rig;
        rig.mech->set_coin(r.coin);
        rig.mech->force_result(r.forced);
        const TestResult t = test_p(rig.link);
        EXPECT_TRUE(t.answered) << r.what;
        EXPECT_EQ(t.mask, r.mask) << r.what;
        EXPECT_EQ(t.channel(), r.channel) << r.what;
        EXPECT_EQ(rig.link.image[kResultByte], r.mask) << r.what;
        EXPECT_EQ(rig.setup.bench().data(), 0x70) << r.what;
        EXPECT_EQ(rig.setup.bench().mask_depth(), 0) << r.what;
    }
}

// Every way the mechanism can fail ends, says so, and leaves both lines high
// with interrupts unmasked.
TEST(C220Bench, FaultsEndAndLeaveTheLineAtRest)
{
    struct Row {
        const char* what;
        int stall = 0;
        bool unplug = false;
        bool noise = false;
        int timed_out_step;
        const char* fault = "";
    };
    const std::vector<Row> rows = {
        {"no coin", 2, false, false, 2},
        {"never clocks", 4, false, false, 4},
        {"stops in the pulses", 5, false, false, 5},
        {"ignores the host's low", 6, false, false, 6},
        {"ignores the host's high", 7, false, false, 7},
        {"stops in the bits", 8, false, false, 8},
        {"unplugged (data line low)", 0, true, false, 4},
        {"a ninth clock pulse, past the eight counted", 0, false, false, 8, "jumping-count"},
    };
    for (const Row& r : rows) {
        sim::Faults f = faults(r.fault);
        f.noise = r.noise;
        sim::SimSetup setup(1.0, f, "");
        Station st(setup.bench());
        auto* mech = static_cast<sim::C220Mech*>(setup.plug(r.unplug ? "none" : "c220"));
        if (mech)
            mech->stall_at(r.stall);
        st.measured_module_count = measure_module(setup.bench());
        load_delay_counts(st);
        Link l(st);
        activate(l);
        const TestResult t = test_p(l);
        EXPECT_FALSE(t.answered) << r.what;
        EXPECT_EQ(t.channel(), 0) << r.what;
        EXPECT_EQ(t.timed_out_step, r.timed_out_step) << r.what;
        EXPECT_EQ(setup.bench().data(), 0x70) << r.what;
        EXPECT_EQ(setup.bench().mask_depth(), 0) << r.what;
    }
}

// Writes of channel 1 (words 0, 8, 16, then the checksum word, its repair
// the fifth write) that the mechanism does not keep as sent: each is told
// word by word, the checksum repair runs when word 63 does not hold, and the
// image holds what the mechanism holds, never what was only sent.
TEST(C220Bench, WritesThatDoNotHold)
{
    struct Row {
        const char* what;
        const char* fault;
        int lose_word;
        int power_cut;
        bool answered, repaired;
        std::vector<bool> holds; // words 0, 8, 16, 63
        Refusal refused = Refusal::None;
    };
    const std::vector<Row> rows = {
        {"lost writes to word 8", "", 8, 0, true, false, {true, false, true, true}},
        {"power cut after the second word", "", -1, 2, false, true, {false, false, false, false}},
        {"word 8 kept with a bit changed", "wrong-readback=2", -1, 0, true, false, {true, false, true, true}},
        {"word 0 acknowledged, not kept", "lost-write=1", -1, 0, true, false, {false, true, true, true}},
        {"checksum kept with a bit changed: repaired", "wrong-readback=4", -1, 0, true, true, {true, true, true, true}},
        {"checksum not kept: repaired", "lost-write=4", -1, 0, true, true, {true, true, true, true}},
        {"checksum lost by every word write: repaired", "lost-checksum", -1, 0, true, true, {true, true, true, true}},
        {"checksum and its repair lost", "lost-checksum,lost-write=5", -1, 0, true, true, {true, true, true, false}},
        {"another mechanism: refused, nothing sent", "other-family", -1, 0, false, false, {}, Refusal::Foreign},
    };
    for (const Row& r : rows) {
        Rig rig(r.fault);
        ASSERT_TRUE(lit_c220(rig.link).answered) << r.what;
        EXPECT_EQ(rig.link.foreign, r.refused == Refusal::Foreign) << r.what;
        rig.mech->lose_writes_to(r.lose_word);
        rig.mech->set_power_cut_after(r.power_cut);
        const auto before = rig.mech->memory();
        const WriteResult w = ecrir_code(rig.link, 1, {128, 255, 10, 255, 10, 255});
        EXPECT_EQ(w.refused, r.refused) << r.what;
        EXPECT_EQ(w.confirmed(), std::find(r.holds.begin(), r.holds.end(), false) == r.holds.end() && !r.holds.empty())
            << r.what;
        EXPECT_EQ(w.answered, r.answered) << r.what;
        EXPECT_EQ(w.repaired, r.repaired) << r.what;
        ASSERT_EQ(w.words.size(), r.holds.size()) << r.what;
        for (size_t i = 0; i < r.holds.size(); ++i)
            EXPECT_EQ(w.words[i].holds(), r.holds[i]) << r.what << " word " << w.words[i].word;
        if (r.refused != Refusal::None) {
            EXPECT_EQ(rig.mech->memory(), before) << r.what;
            EXPECT_TRUE(rig.link.whole) << r.what;
        } else if (r.answered) { // the image keeps what the mechanism gave back
            EXPECT_TRUE(rig.link.whole) << r.what;
            for (const WordCheck& c : w.words) {
                EXPECT_EQ(c.got, (std::array<uint8_t, 2>{rig.mech->memory()[size_t(2 * c.word)],
                                                          rig.mech->memory()[size_t(2 * c.word + 1)]}))
                    << r.what << " word " << c.word;
                EXPECT_EQ(c.got, (std::array<uint8_t, 2>{rig.link.image[size_t(2 * c.word)],
                                                          rig.link.image[size_t(2 * c.word + 1)]}))
                    << r.what << " word " << c.word;
            }
        } else {
            EXPECT_FALSE(rig.link.whole) << r.what;
        }
        EXPECT_EQ(rig.setup.bench().data(), 0x70) << r.what;
        EXPECT_EQ(rig.setup.bench().mask_depth(), 0) << r.what;
    }
}

TEST(C220Bench, SilentReadLeavesTheImage)
{
    for (const bool power_cut : {false, true}) {
        Rig rig;
        rig.read();
        const Image before = rig.link.image;
        if (power_cut) {
            rig.mech->set_power_cut_after(1);
            ecrir_code_1(rig.link, 20, rig.link.image[40], rig.link.image[41]);
        } else {
            rig.setup.plug("none");
        }
        Link fresh(rig.station);
        fresh.count = rig.link.count;
        fresh.image = before;
        fresh.whole = true;
        const ReadResult r = lit_c220(fresh);
        EXPECT_FALSE(r.answered) << power_cut;
        EXPECT_EQ(r.words, 64) << power_cut;
        EXPECT_EQ(fresh.image, before) << power_cut;
        EXPECT_EQ(rig.setup.bench().data(), 0x70);
    }
}

// Glitches on both reply lines: a read and a coin test still end, with the
// lines at rest and interrupts unmasked.
TEST(C220Bench, NoiseOnTheReplyLines)
{
    sim::Faults f;
    f.noise = true;
    sim::SimSetup setup(1.0, f, "");
    Station st(setup.bench());
    setup.plug("c220");
    st.measured_module_count = measure_module(setup.bench());
    load_delay_counts(st);
    Link l(st);
    activate(l);
    EXPECT_EQ(lit_c220(l).words, 64);
    test_p(l);
    EXPECT_EQ(setup.bench().data(), 0x70);
    EXPECT_EQ(setup.bench().mask_depth(), 0);

    // A settings read under noise is the mechanism's memory or nothing, never a garbled byte.
    Rig clean;
    settings::Snapshot truth;
    ASSERT_EQ(make_c220_settings()->read(clean.station, nullptr, truth), "");
    for (int i = 0; i < 10; ++i) {
        settings::Snapshot got;
        if (make_c220_settings()->read(st, nullptr, got).empty()) {
            EXPECT_EQ(got.values, truth.values) << "read " << i;
        }
    }
}

// Words a stretch of the line erased or wrote (the command byte after "S 00").
std::vector<int> words_written(const std::vector<RecordingPort::Event>& ev)
{
    std::vector<int> out;
    const std::string b = bus(ev);
    for (size_t at = b.find("S 00 "); at != std::string::npos; at = b.find("S 00 ", at + 1)) {
        const int c = std::stoi(b.substr(at + 5, 2), nullptr, 16);
        if (c >= 0x40 && c < 0x80 && std::find(out.begin(), out.end(), c - 0x40) == out.end())
            out.push_back(c - 0x40);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// A settings file read from the mechanism, three settings changed through
// the window's own writes, then restored: only their words are written, and
// a mechanism that stops part-way is reported word for word.
TEST(C220Bench, RestoreWritesOnlyTheChangedWords)
{
    struct Row {
        const char* what;
        std::function<void(Rig&)> fault;
        settings::Outcome::Kind kind;
        std::vector<std::string> written, not_written;
        std::vector<int> words; // written on the line
        std::vector<std::string> failed = {};
    };
    const std::vector<std::string> three = {"Canal 2/Haut 1", "Canal 5/Sortie", "Canal 8/Haut 3"};
    const std::vector<Row> rows = {
        {"whole restore", [](Rig&) {}, settings::Outcome::Held, three, {}, {1, 23, 55, 63}},
        {"power lost on the second word", [](Rig& r) { r.mech->set_power_cut_after(r.mech->writes() + 3); },
         settings::Outcome::NoAnswer, {"Canal 2/Haut 1"}, {"Canal 5/Sortie", "Canal 8/Haut 3"}, {1, 23, 63}},
        {"unplugged before", [](Rig& r) { r.setup.plug("none"); }, settings::Outcome::NoAnswer, {}, {}, {}},
        // Word 1 kept with its other byte, Canal 2/Bas 1, changed: that setting
        // held the file's value before and is named, the restore does not hold.
        {"a bit changed beside the setting written",
         [](Rig& r) {
             sim::Faults f;
             f.wrong_readback_at = r.mech->writes() + 1;
             r.mech->set_faults(f);
         },
         settings::Outcome::NotHeld, three, {}, {1, 23, 55, 63}, {"Canal 2/Bas 1"}},
        // Word 1 holds, but its checksum and the repair were lost; the power
        // goes on the next word and nothing reads after: word 1's setting is
        // not claimed, since the mechanism was left with a checksum that fails.
        {"checksum of the first word lost, then the power lost",
         [](Rig& r) {
             sim::Faults f;
             f.lost_checksum = true;
             f.lost_write_at = r.mech->writes() + 3;
             r.mech->set_faults(f);
             r.mech->set_power_cut_after(r.mech->writes() + 3);
         },
         settings::Outcome::NoAnswer, {}, three, {1, 23, 63}},
    };
    for (const Row& r : rows) {
        Rig rig;
        C220Settings family;
        settings::Snapshot file;
        ASSERT_EQ(family.read(rig.station, nullptr, file), "") << r.what;
        EXPECT_EQ(file.values.at("Canal 5/Sortie"), 12) << r.what;
        EXPECT_TRUE(std::equal(file.image.begin(), file.image.end(), rig.mech->memory().begin())) << r.what;
        rig.read();
        const Image& im = rig.link.image;
        ASSERT_TRUE(ecrir_code_1(rig.link, 1, im[2], 99).confirmed());
        ASSERT_TRUE(ecrir_code_1(rig.link, 55, im[110], 0x0D).confirmed()); // channel 5: RIEN
        ASSERT_TRUE(ecrir_code_1(rig.link, 23, im[46], 200).confirmed());
        r.fault(rig);
        rig.rec.events.clear();
        const settings::Outcome o = settings::restore(rig.station, family, file, false, nullptr);
        EXPECT_EQ(o.kind, r.kind) << r.what << ": " << o.message();
        EXPECT_EQ(o.written, r.written) << r.what;
        EXPECT_EQ(o.not_written, r.not_written) << r.what;
        EXPECT_EQ(o.failed, r.failed) << r.what;
        EXPECT_EQ(words_written(rig.rec.events), r.words) << r.what;
        if (r.kind != settings::Outcome::Held)
            continue;
        EXPECT_EQ(o.before.to_write(), three);
        EXPECT_EQ(o.message(), "3 réglages écrits, tous vérifiés");
        settings::Snapshot again;
        ASSERT_EQ(family.read(rig.station, nullptr, again), "");
        EXPECT_TRUE(settings::compare(family, again, file).to_write().empty());
        EXPECT_TRUE(std::equal(file.image.begin(), file.image.end(), rig.mech->memory().begin()));
    }
}

// Files that are not a sound C220 settings set are refused, naming the setting.
TEST(C220Bench, SettingsFilesOfAnotherShapeAreRefused)
{
    Rig rig;
    C220Settings family;
    settings::Snapshot snap;
    ASSERT_EQ(family.read(rig.station, nullptr, snap), "");
    const QJsonObject root = QJsonDocument::fromJson(settings::to_json(family, snap)).object();
    test::expect_file_rows(family, root, {
        {"as read", [](QJsonObject&) {}, nullptr},
        {"a ninth channel",
         [](QJsonObject& r) { r.insert("Canal 9", QJsonObject{{"Bas 1", 10}}); }, "Canal 9/Bas 1"},
        {"an output code above 15",
         [](QJsonObject& r) {
             QJsonObject c = r.value("Canal 2").toObject();
             c.insert("Sortie", 16);
             r.insert("Canal 2", c);
         },
         "Canal 2/Sortie"},
        {"a limit the image does not hold",
         [](QJsonObject& r) {
             QJsonObject c = r.value("Canal 1").toObject();
             c.insert("Bas 1", 21);
             r.insert("Canal 1", c);
         },
         "Canal 1/Bas 1"},
        {"no checksum", [](QJsonObject& r) { r.remove("Somme de contrôle"); }, "Somme de contrôle"},
    });
}
