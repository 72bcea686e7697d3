// The G13.6000 link: character rows of both G13 tables, the command run
// lists, what each operation puts on the line (a recording port), the
// decoders (their termination above all) and the operations against the
// simulated G13.6000.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <QtGlobal>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "common/stall_once.h"
#include "link/module.h"
#include "nri/g136_link.h"
#include "sim/catalogue.h"
#include "sim/g136_mech.h"
#include "tests/common/counting_port.h"
#include "tests/common/recording_port.h"

using namespace zuna;
using namespace zuna::nri;
using Tokens = std::vector<std::string>;
using test::RecordingPort;

namespace {

using Runs = std::array<int32_t, kRunTableSize>;
using Symbols = std::array<uint8_t, kSymbolBufferSize>;

std::vector<int> entries(const RunList& l)
{
    return std::vector<int>(l.e.begin(), l.e.begin() + l.size);
}

std::vector<int> entries(std::span<const uint8_t> s) { return std::vector<int>(s.begin(), s.end()); }

// Characters back to back at one unit per bit (start, eight data bits, one
// stop), `gap` units of level 1 between them, then the idle end of a capture.
Runs runs_of(const std::string& text, int gap = 0, int32_t unit = 1)
{
    std::vector<int> bits;
    for (size_t k = 0; k < text.size(); ++k) {
        const auto c = uint8_t(text[k]);
        bits.push_back(0);
        for (int b = 0; b < 8; ++b)
            bits.push_back((c >> b) & 1);
        bits.push_back(1);
        if (k + 1 < text.size())
            bits.insert(bits.end(), size_t(gap), 1);
    }
    Runs runs{};
    int j = 0;
    int level = 0;
    for (int b : bits) {
        if (b != level) {
            ++j;
            level = b;
        }
        runs[size_t(j)] += unit;
    }
    runs[size_t(j)] = 100000;
    return runs;
}

std::string symbols_of(const Symbols& s, int n)
{
    std::string t;
    for (int i = 0; i < n; ++i)
        t += (i ? "," : "") + std::to_string(s[size_t(i)]);
    return t;
}

// The decoding steps as written, on replies without gaps (where they end).
int ref_decode(const Runs& runs, Symbols& sym, bool digits)
{
    std::fill(sym.begin(), sym.begin() + 201, 0);
    int64_t i = 0;
    uint16_t sr = 0;
    int n = 0, high = -1;
    while (i < 2000 && n < 201) {
        int64_t r = runs[size_t(i)];
        if (r > 10000)
            break;
        if (r == 0)
            r = 1;
        for (int u = 0; u < 9; ++u) {
            if (i % 2 == 1)
                sr |= 0x400;
            sr >>= 1;
            if (--r == 0 && (r = runs[size_t(++i)]) == 0)
                r = 1;
        }
        if (i % 2 == 1) {
            sr |= 0x400;
            sr >>= 1;
            --r;
        }
        if (r == 0)
            ++i;
        const int v = int(std::nearbyint((int(sr) - 0x260) * 0.5)) & 0xFF;
        const int h = v <= 9 ? v : v >= 17 && v <= 22 ? v - 7 : 16;
        if (digits)
            sym[size_t(n++)] = uint8_t(h);
        else if (high < 0 && h < 16)
            high = h * 16;
        else if (high >= 0) {
            sym[size_t(n++)] = uint8_t(high + h);
            high = -1;
        }
    }
    return n;
}

} // namespace

// Both G13 character tables come out of the byte and the stop length.
TEST(G136RunLists, CharacterRowsOfBothTables)
{
    struct Row {
        uint8_t c;
        std::vector<int> g13;  // G13.0000: stop of one unit (carriage return: none)
        std::vector<int> g136; // G13.6000: two stop units
    } rows[] = {
        {'0', {5, 2, 2, 1}, {5, 2, 2, 2}},
        {'1', {1, 1, 3, 2, 2, 1}, {1, 1, 3, 2, 2, 2}},
        {'2', {2, 1, 2, 2, 2, 1}, {2, 1, 2, 2, 2, 2}},
        {'3', {1, 2, 2, 2, 2, 1}, {1, 2, 2, 2, 2, 2}},
        {'4', {3, 1, 1, 2, 2, 1}, {3, 1, 1, 2, 2, 2}},
        {'5', {1, 1, 1, 1, 1, 2, 2, 1}, {1, 1, 1, 1, 1, 2, 2, 2}},
        {'6', {2, 2, 1, 2, 2, 1}, {2, 2, 1, 2, 2, 2}},
        {'7', {1, 3, 1, 2, 2, 1}, {1, 3, 1, 2, 2, 2}},
        {'8', {4, 3, 2, 1}, {4, 3, 2, 2}},
        {'9', {1, 1, 2, 3, 2, 1}, {1, 1, 2, 3, 2, 2}},
        {'A', {1, 1, 5, 1, 1, 1}, {1, 1, 5, 1, 1, 2}},
        {'B', {}, {2, 1, 4, 1, 1, 2}},
        {'C', {}, {1, 2, 4, 1, 1, 2}},
        {'D', {3, 1, 3, 1, 1, 1}, {3, 1, 3, 1, 1, 2}},
        {'E', {1, 1, 1, 1, 3, 1, 1, 1}, {1, 1, 1, 1, 3, 1, 1, 2}},
        {'F', {}, {2, 2, 3, 1, 1, 2}},
        {'/', {1, 4, 1, 1, 2, 1}, {}},
        {0x0D, {1, 1, 1, 2, 4}, {}},
        {0x16, {2, 2, 1, 1, 3, 1}, {}},
        {0x18, {4, 2, 3, 1}, {}},
        {'I', {1, 1, 2, 1, 2, 1, 1, 1}, {}},
        {'U', {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {}},
        {'Z', {2, 1, 1, 2, 1, 1, 1, 1}, {}},
        {'J', {2, 1, 1, 1, 2, 1, 1, 1}, {}},
        {'V', {2, 2, 1, 1, 1, 1, 1, 1}, {}},
        {'W', {1, 3, 1, 1, 1, 1, 1, 1}, {}},
        {'T', {3, 1, 1, 1, 1, 1, 1, 1}, {}},
        {'x', {}, {}}, // not sent by the G13.0000
    };
    for (const Row& r : rows) {
        EXPECT_EQ(entries(char_row(r.c)), r.g13) << r.c;
        if (!r.g136.empty()) {
            const CharRuns g = char_runs(r.c, 2);
            EXPECT_EQ(std::vector<int>(g.e.begin(), g.e.begin() + g.size), r.g136) << r.c;
        }
    }
}

TEST(G136RunLists, CommandsAsSent)
{
    struct Row {
        const char* what;
        RunList list;
        std::vector<int> runs;
    } rows[] = {
        {"I, hold 56", g136::cmd_open(), {1, 1, 2, 1, 2, 1, 1, 56}},
        {"I, hold 40", g136::cmd_open(40), {1, 1, 2, 1, 2, 1, 1, 40}},
        {"X, hold 12", g136::cmd_separator(), {4, 2, 1, 1, 1, 12}},
        {"X, hold 1", g136::cmd_separator(1), {4, 2, 1, 1, 1, 1}},
        {"Z", g136::cmd_select(), {2, 1, 1, 2, 1, 1, 1, 1}},
        {"Z, hold 71", g136::cmd_select(71), {2, 1, 1, 2, 1, 1, 1, 71}},
        {"W", g136::cmd_coin_test(), {1, 3, 1, 1, 1, 1, 1, 1}},
        {"T", g136::cmd_coin_teach(), {3, 1, 1, 1, 1, 1, 1, 1}},
        {"0xE9", g136::cmd_e9(), {1, 1, 2, 1, 1, 50}},
        {"read 0E", g136::cmd_block_read(0x0E), {5, 2, 2, 2, 1, 1, 1, 1, 3, 1, 1, 1}},
        {"address 18", g136::cmd_address(0x18), {1, 1, 3, 2, 2, 2, 4, 3, 2, 2}},
        {"byte 0x3A", g136::cmd_byte(0x3A), {1, 2, 2, 2, 2, 2, 1, 1, 5, 1, 1, 2}},
        {"digits 5, A", g136::cmd_digits(5, 10), {1, 1, 1, 1, 1, 2, 2, 2, 1, 1, 5, 1, 1, 2}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(entries(r.list), r.runs) << r.what;
}

TEST(G136Decode, Replies)
{
    Symbols sym{};
    std::string fives;
    for (int i = 0; i < 72; ++i)
        fives += "5,";
    struct Case {
        const char* what;
        Runs runs;
        bool digits;
        std::string symbols;
        int written;
    } cases[] = {
        {"3A as a byte", runs_of("3A"), false, "58,0", 1},
        {"3A as digits", runs_of("3A"), true, "3,10,0", 2},
        {"a lower-case a is no digit", runs_of("a"), true, "16,0", 1},
        {"a low half that is no digit adds 16", runs_of("1a"), false, "32,0", 1},
        {"a high half that is no digit is skipped", runs_of("?07"), false, "7,0", 1},
        {"identity", runs_of("070136"), false, "7,1,54,0", 3},
        {"all the digits", runs_of("0123456789ABCDEF"), true, "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,0", 16},
        // Replies with idle between characters: read as if there were none.
        {"a 10-unit gap", runs_of("3A5", 10), true, "3,10,5,0", 3},
        {"gaps of 1, 11 and 300 units", runs_of("0E", 1), true, "0,14,0", 2},
        {"gap of 11", runs_of("12", 11), false, "18,0", 1},
        {"gap of 300", runs_of("12", 300), false, "18,0", 1},
        // A selector block of 72 digits "5" is 576 stretches long: read whole.
        {"72 digits 5", runs_of(std::string(72, '5')), true, fives + "0", 72},
        // Nothing captured: nothing decoded.
        {"empty table", Runs{}, true, "0,0", 0},
    };
    for (const Case& c : cases) {
        sym.fill(0xAA);
        const int n = c.digits ? g136::decode_g136_s(c.runs, sym) : g136::decode_g136(c.runs, sym);
        EXPECT_EQ(n, c.written) << c.what;
        const int shown = int(std::count(c.symbols.begin(), c.symbols.end(), ',')) + 1;
        EXPECT_EQ(symbols_of(sym, shown), c.symbols) << c.what;
        EXPECT_EQ(sym[201], 0xAA) << c.what << ": nothing above entry 200 is written";
    }
    // A stretch recorded as 0 units counts as one: "0" whose stop bit the
    // capture rounded to nothing.
    Runs zero = runs_of("00");
    ASSERT_EQ(zero[3], 1);
    zero[3] = 0;
    EXPECT_EQ(g136::decode_g136_s(zero, sym), 2);
    EXPECT_EQ(symbols_of(sym, 2), "0,0");
    // Each row of the character table, sent as it is (11 units), is its byte.
    for (const char* c : {"0", "5", "9", "A", "C", "F"}) {
        const CharRuns row = char_runs(uint8_t(*c), 2);
        Runs runs{};
        std::copy(row.e.begin(), row.e.begin() + row.size, runs.begin());
        runs[size_t(row.size - 1)] = 100000;
        ASSERT_EQ(g136::decode_g136_s(runs, sym), 1) << c;
        EXPECT_EQ(sym[0], g136::hexval(uint8_t(*c - 0x30))) << c;
    }
}

// Decoding ends on any table: a character starting on a long stretch at
// level 0 (a break, a count too low) or at level 1 moves on.
TEST(G136Decode, EndsOnAnyTableAndFollowsTheStepsWithoutGaps)
{
    Symbols sym{};
    struct Case {
        const char* what;
        std::function<void(Runs&)> fill;
    } cases[] = {
        {"level 0 for 10 units, then idle", [](Runs& r) { r[0] = 10, r[1] = 100000; }},
        {"level 0 for 10000 units", [](Runs& r) { r[0] = 10000, r[1] = 100000; }},
        {"level 1 for 11 units between characters",
         [](Runs& r) { r = runs_of("3A3A3A", 11); }},
        {"every stretch 10 units", [](Runs& r) { r.fill(10); }},
        {"every stretch 10000 units", [](Runs& r) { r.fill(10000); }},
        {"a count half the bit time", [](Runs& r) { r = runs_of("0F0F0E070136", 0, 2); }},
        {"negative stretches", [](Runs& r) { r.fill(-3); }},
        {"the extremes", [](Runs& r) {
             for (size_t k = 0; k < r.size(); ++k)
                 r[k] = k % 2 ? INT32_MIN : INT32_MAX;
         }},
    };
    for (const Case& c : cases) {
        Runs runs{};
        c.fill(runs);
        sym.fill(0xAA);
        EXPECT_LE(g136::decode_g136(runs, sym), 201) << c.what;
        EXPECT_LE(g136::decode_g136_s(runs, sym), 201) << c.what;
        EXPECT_EQ(sym[201], 0xAA) << c.what;
    }
    // Replies without gaps decode as the steps say, whatever the characters.
    std::mt19937 rng(136);
    Symbols want{};
    for (int t = 0; t < 300; ++t) {
        std::string text;
        for (int n = std::uniform_int_distribution<int>(1, 80)(rng); n > 0; --n)
            text += char(std::uniform_int_distribution<int>(0x20, 0x7E)(rng));
        const Runs runs = runs_of(text);
        for (bool digits : {false, true}) {
            const int n = digits ? g136::decode_g136_s(runs, sym) : g136::decode_g136(runs, sym);
            EXPECT_EQ(n, ref_decode(runs, want, digits)) << text;
            EXPECT_EQ(symbols_of(sym, 201), symbols_of(want, 201)) << text << (digits ? " digits" : " bytes");
        }
    }
}

// ---- The capture -------------------------------------------------------

namespace {
// A port whose status bit 7 follows a script of (level, reads) pairs.
struct ScriptPort : test::CountingPort {
    std::vector<std::pair<bool, int64_t>> script;
    size_t at = 0;
    uint8_t read_status_port() override
    {
        ++reads;
        while (at < script.size() && script[at].second == 0)
            ++at;
        if (at >= script.size())
            return 0;
        --script[at].second;
        return script[at].first ? 0x80 : 0;
    }
};
} // namespace

TEST(G136Capture, ListensByWritesAndDividesByTheG136Count)
{
    struct Row {
        const char* what;
        int32_t g136;
        std::vector<std::pair<bool, int64_t>> script;
        bool heard;
        std::vector<int32_t> runs; // entries 0.. (the rest 0)
        int64_t listen_writes;
    } rows[] = {
        {"count 10", 10, {{false, 20}, {true, 51}, {false, 29}, {true, 200000}}, true, {5, 3, 100000, 0}, 11},
        // 35 and 45 reads: 3.5 and 4.5 units, halves to even (truncated 3 and 4, half up 4 and 5).
        {"count 10, halves", 10, {{false, 20}, {true, 36}, {false, 46}, {true, 200000}}, true, {4, 4, 100000, 0}, 11},
        {"count 0 counts reads", 0, {{false, 5}, {true, 7}, {false, 200000}}, true, {6, 100000, 0}, 1},
        {"negative count: reads, nothing written", -4, {{false, 5}, {true, 7}, {false, 200000}}, true,
         {6, 100000, 0}, 0},
        {"silent: the table is left as it was", 10, {}, false, {77, 0}, 11},
    };
    for (const Row& r : rows) {
        ScriptPort port;
        port.record = true;
        port.script = r.script;
        Station s(port);
        s.delay.g136 = r.g136;
        s.measured_module_count = 1234;
        s.run_table[0] = 77;
        if (r.heard)
            clear_tables(s);
        EXPECT_EQ(g136::lit_g13(s), r.heard) << r.what;
        for (size_t k = 0; k < r.runs.size(); ++k)
            EXPECT_EQ(s.run_table[k], r.runs[k]) << r.what << " entry " << k;
        EXPECT_EQ(int64_t(port.written.size()), r.listen_writes) << r.what;
        for (uint8_t v : port.written)
            EXPECT_EQ(v, kG13Level1) << r.what;
        EXPECT_EQ(s.measured_module_count, 1234) << r.what << ": the module count is left alone";
        if (!r.heard) {
            EXPECT_EQ(port.reads, g136::kLongWait) << r.what;
        }
    }
}

// ---- On the line -------------------------------------------------------

namespace {

std::string char_name(int c)
{
    if (c >= 0x21 && c <= 0x7E)
        return std::string(1, char(c));
    char b[8];
    std::snprintf(b, sizeof b, "[%02X]", c);
    return b;
}

// One token per masked span: the characters (a stop other than two units
// shown in brackets), then "/a" for a capture that waited its whole time,
// "/r" for a reply, "/-" for none, and "+n" for units sent after it.
Tokens tokens(const std::vector<RecordingPort::Event>& ev, int32_t count)
{
    Tokens out;
    std::vector<int> units, after;
    int64_t reads = 0;
    for (const auto& e : ev) {
        switch (e.kind) {
        case RecordingPort::Mask:
            units.clear();
            after.clear();
            reads = 0;
            break;
        case RecordingPort::Write:
            if (e.count % (count + 1) != 0 || (e.value != kG13Level0 && e.value != kG13Level1)) {
                out.push_back("bad write");
                break;
            }
            for (int64_t u = 0; u < e.count / (count + 1); ++u)
                (reads ? after : units).push_back(e.value & 1);
            break;
        case RecordingPort::Read: reads += e.count; break;
        case RecordingPort::Idle: out.push_back("idle"); break;
        case RecordingPort::Unmask: {
            std::string t;
            size_t p = 0;
            while (p < units.size()) {
                int c = 0;
                for (int b = 0; b < 8; ++b)
                    c |= (p + 1 + size_t(b) < units.size() ? units[p + 1 + size_t(b)] : 1) << b;
                t += char_name(c);
                size_t q = p + 9;
                while (q < units.size() && units[q] == 1)
                    ++q;
                if (q - (p + 9) != 2)
                    t += "(" + std::to_string(q - (p + 9)) + ")";
                p = q;
            }
            t += reads == 0 ? "/-" : reads == g136::kLongWait ? "/a" : "/r";
            if (!after.empty())
                t += "+" + std::to_string(after.size());
            out.push_back(t);
            break;
        }
        }
    }
    return out;
}

Tokens join(std::initializer_list<Tokens> parts)
{
    Tokens t;
    for (const Tokens& p : parts)
        t.insert(t.end(), p.begin(), p.end());
    return t;
}

Tokens bytes(const std::vector<std::string>& hex)
{
    Tokens t;
    for (const std::string& h : hex)
        t.push_back(h + "/-");
    return t;
}

// Forwards to another port; `on_mask` runs at the start of every masked
// section (between two exchanges), where a test changes the mechanism.
struct HookPort : Port {
    explicit HookPort(Port& inner) : inner_(inner) {}
    void write_data_port(uint8_t v) override { inner_.write_data_port(v); }
    uint8_t read_status_port() override { return inner_.read_status_port(); }
    void mask_interrupts() override
    {
        if (on_mask)
            on_mask();
        inner_.mask_interrupts();
    }
    void unmask_interrupts() override { inner_.unmask_interrupts(); }
    void idle(uint64_t n) override { inner_.idle(n); }
    uint64_t stalled_ns() const override { return inner_.stalled_ns(); }
    std::function<void()> on_mask;

private:
    Port& inner_;
};

using test::StallOnce;

struct G136Bench {
    sim::SimSetup setup;
    sim::G136Mechanism* mech;
    RecordingPort rec{setup.bench()};
    HookPort hook{rec};
    Station s{hook};
    // For a station whose port tells its stalls (the recording port does not).
    HookPort direct{setup.bench()};
    std::optional<StallOnce> stall;
    explicit G136Bench(const sim::Faults& f = {}) : setup(1.0, f, "")
    {
        mech = static_cast<sim::G136Mechanism*>(setup.plug("g136"));
        s.measured_module_count = measure_module(*s.port);
        load_delay_counts(s);
        rec.events.clear();
    }
};

const g136::Block kBlock = {200, 180, 0x3A, 0x05, 255, 0, 17, 16, 1, 0, 99, 98};

// The faults of a run, given to the mechanism before anything is written.
std::function<void(G136Bench&)> with_faults(const char* text)
{
    return [text](G136Bench& b) {
        sim::Faults f;
        ASSERT_TRUE(sim::parse_faults(text, f, nullptr)) << text;
        b.mech->set_faults(f);
    };
}

} // namespace

TEST(G136Line, OperationsPutTheirCharactersOnTheLineInOrder)
{
    const Tokens opening = {"I(1)/r+56"};
    auto block = [](const char* a) { return Tokens{"X(12)/-", std::string(a) + "(1)/r+1"}; };
    const Tokens write_0e = join({{"Z(1)/-", "0E/-"},
                                  bytes({"C8", "B4", "3A", "05", "FF", "00", "11", "10", "01", "00", "63", "62"}),
                                  block("0E")});
    Tokens selectors;
    for (int k = 0; k < 36; ++k)
        selectors.push_back("../-");
    struct Row {
        const char* what;
        std::function<void(Station&)> run;
        Tokens expected;
        bool exact_selectors = true;
    } rows[] = {
        {"Lecture", [](Station& s) { g136::lecture(s, nullptr); },
         join({opening, block("13"), block("03"), block("04"), block("05"), block("06"), block("07"), block("08"),
               block("09"), block("0A"), block("0B"), block("0C"), block("0D"), block("0E")})},
        {"Test pieces", [](Station& s) { g136::coin_test(s, nullptr); }, join({opening, {"W(1)/r+1"}})},
        {"Ajust. OK on channel 12", [](Station& s) { g136::write_channel(s, 12, kBlock, nullptr); }, write_0e},
        {"model to channel 12",
         [](Station& s) { g136::write_model(s, 12, kBlock, {15, 0, 1, 2, 3, 4}, nullptr); },
         join({write_0e, block("13"), {"Z(1)/-", "13/-"}, selectors, block("13"), block("13")}), false},
        {"Enr. Modèle of channel 2",
         [](Station& s) { g136::read_model(s, 2, nullptr); }, join({block("13"), {"04(1)/r+1"}})},
        {"calibration, two coins", [](Station& s) { g136::collect_coins(s, 2, {}, {}, nullptr); },
         {"I(40)/-", "T/r", "T/r"}},
        {"Tables, Lecture", [](Station& s) { g136::read_tables(s, nullptr); },
         {"X(1)/-", "0F(1)/r+1", "X(1)/-", "10(1)/r+1", "X(1)/-", "11(1)/r+1", "X(1)/-", "12(1)/r+1", "X(1)/-",
          "18(1)/r+1"}},
        {"Tables, Ecriture",
         [](Station& s) {
             g136::Tables t;
             t.output = {0x81, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
             t.coil = {5, 10, 0, 15, 1, 2, 3, 4, 5, 6, 7, 8};
             t.validation.fill(0xA5);
             t.function = {1, 2, 3};
             t.offset_e = 40;
             t.offset_a = 50;
             g136::write_tables(s, t, nullptr);
         },
         join({{"[E9](47)/-", "Z(50)/-", "0F/-"},
               bytes({"81", "02", "03", "04", "05", "06", "07", "08", "09", "0A", "0B", "0C"}),
               {"Z(51)/-", "11/-"}, bytes({"5A", "0F", "12", "34", "56", "78"}),
               {"Z(71)/-", "12/-"}, bytes({"A5", "A5", "A5", "A5", "A5", "A5", "A5", "A5", "A5", "A5", "A5", "A5"}),
               {"Z(60)/-", "18/-"}, bytes({"01", "02", "03", "28", "32"}),
               {"X(1)/-", "0F(1)/r+1", "X(1)/-", "10(1)/r+1", "X(1)/-", "11(1)/r+1", "X(1)/-", "12(1)/r+1",
                "X(1)/-", "18(1)/r+1"}})},
    };
    for (const Row& r : rows) {
        G136Bench b;
        Tokens expected = r.expected;
        if (!r.exact_selectors) {
            // The selector block as the mechanism holds it, channel 12's six replaced.
            std::vector<int> d = b.mech->block(0x13);
            const int t[6] = {15, 0, 1, 2, 3, 4};
            std::copy(std::begin(t), std::end(t), d.begin() + 66);
            auto next = d.begin();
            for (std::string& tok : expected)
                if (tok == "../-") {
                    tok = std::string(1, g136::hex_char(next[0])) + g136::hex_char(next[1]) + "/-";
                    next += 2;
                }
        }
        r.run(b.s);
        const Tokens got = tokens(b.rec.events, b.s.delay.g136);
        EXPECT_EQ(got, expected) << r.what;
        EXPECT_EQ(b.setup.bench().mask_depth(), 0) << r.what;
        EXPECT_EQ(b.setup.bench().data() & 1, 1) << r.what << ": the line is left idle";
    }
    // A silent mechanism: the reading ends after its one unanswered opening.
    test::CountingPort silent;
    RecordingPort rec(silent);
    Station s(rec);
    s.delay.g136 = 140;
    const g136::Reading r = g136::lecture(s, nullptr);
    EXPECT_EQ(tokens(rec.events, 140), Tokens{"I(1)/a+56"});
    EXPECT_EQ(r.message, "Le monayeur ne répond pas.");
}

// ---- Against the simulated G13.6000 ---------------------------------------

TEST(G136OnBench, ReadsWritesAndChecksTheReadBack)
{
    G136Bench b;
    const g136::Reading r = g136::lecture(b.s, nullptr);
    ASSERT_TRUE(r.answered);
    ASSERT_TRUE(r.selectors);
    EXPECT_EQ(std::vector<int>(r.selectors->begin(), r.selectors->end()), b.mech->block(0x13));
    for (int n = 1; n <= 12; ++n) {
        ASSERT_TRUE(r.channels[size_t(n - 1)]) << n;
        EXPECT_EQ(std::vector<int>(r.channels[size_t(n - 1)]->begin(), r.channels[size_t(n - 1)]->end()),
                  b.mech->channel(n))
            << n;
    }
    EXPECT_TRUE(r.message.empty());

    // Ajust. OK on channel 3 writes block "05" and reads it back.
    g136::ChannelWrite w = g136::write_channel(b.s, 3, kBlock, nullptr);
    EXPECT_TRUE(w.confirmed);
    EXPECT_EQ(b.mech->channel(3), std::vector<int>(kBlock.begin(), kBlock.end()));
    EXPECT_NE(std::find(b.mech->log().begin(), b.mech->log().end(), "Z05"), b.mech->log().end());
    EXPECT_EQ(b.mech->log().back(), "R05");

    // A model to channel 12: block "0E", selector digits 66 to 71, the others kept.
    std::vector<int> selectors = b.mech->block(0x13);
    const g136::ModelWrite m = g136::write_model(b.s, 12, kBlock, {15, 0, 2, 9, 10, 3}, nullptr);
    EXPECT_TRUE(m.block.confirmed);
    EXPECT_TRUE(m.selectors_written);
    EXPECT_TRUE(m.message.empty()) << m.message;
    std::copy_n(std::begin({15, 0, 2, 9, 10, 3}), 6, selectors.begin() + 66);
    EXPECT_EQ(b.mech->block(0x13), selectors);
    ASSERT_TRUE(m.selectors);
    EXPECT_EQ(std::vector<int>(m.selectors->begin(), m.selectors->end()), selectors);
    EXPECT_EQ(b.mech->channel(12), std::vector<int>(kBlock.begin(), kBlock.end()));

    // Enr. Modèle reads both from the mechanism.
    const g136::ModelRead model = g136::read_model(b.s, 12, nullptr);
    ASSERT_TRUE(model.block && model.selectors);
    EXPECT_EQ(*model.block, kBlock);
    EXPECT_EQ(*model.selectors, (std::array<int, 6>{15, 0, 2, 9, 10, 3}));

    // The tables: coil 5 and 10 go in one frame and come back where they were put.
    g136::Tables t;
    t.output = {0x81, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 255};
    t.coil = {5, 10, 0, 15, 1, 2, 3, 4, 5, 6, 7, 8};
    t.validation = {0xA5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    t.function = {1, 2, 0x80};
    t.offset_e = 255;
    t.offset_a = 0;
    const g136::TablesWrite tw = g136::write_tables(b.s, t, nullptr);
    EXPECT_TRUE(tw.confirmed) << tw.message;
    ASSERT_TRUE(tw.read_back);
    EXPECT_EQ(*tw.read_back, t);
    EXPECT_EQ(b.mech->block(0x11)[0], 0x05);
    EXPECT_EQ(b.mech->block(0x11)[1], 0xA0);
    const g136::TablesRead tr = g136::read_tables(b.s, nullptr);
    ASSERT_TRUE(tr.tables);
    EXPECT_EQ(*tr.tables, t);
}

TEST(G136OnBench, WritesThatAreNotConfirmed)
{
    struct Row {
        const char* what;
        std::function<void(G136Bench&)> arrange;
        std::function<std::string(Station&)> run;
        const char* message; // part of it
    } rows[] = {
        {"channel read back different", [](G136Bench& b) { b.mech->set_write_protected(true); },
         [](Station& s) {
             const auto w = g136::write_channel(s, 4, kBlock, nullptr);
             EXPECT_FALSE(w.confirmed);
             EXPECT_TRUE(w.read_back);
             return w.message;
         },
         "Écriture du canal 4 non confirmée : la relecture diffère"},
        {"channel read back while the PC stalls: read again, confirmed",
         [](G136Bench& b) {
             b.s.port = &b.direct;
             // The read-back's exchange begins: the write is over, nothing read back yet.
             b.direct.on_mask = [&b] {
                 const auto& log = b.mech->log();
                 if (!b.stall && std::count(log.begin(), log.end(), "W06:24") == 1 &&
                     std::count(log.begin(), log.end(), "R06") == 0)
                     b.stall.emplace(b.setup.bench(), 20000, 300); // two units, inside the reply
             };
         },
         [](Station& s) {
             const auto w = g136::write_channel(s, 4, kBlock, nullptr);
             EXPECT_EQ(s.port->stalled_ns(), 300000u);
             EXPECT_TRUE(w.confirmed);
             EXPECT_EQ(w.read_back, kBlock);
             return w.message;
         },
         ""},
        {"coin measured while the PC stalls: illegible, nothing shown",
         [](G136Bench& b) {
             b.s.port = &b.direct;
             b.mech->push_coin({100, 107, 114, 121, 128, 135, 142, 149, 156, 163, 170, 177, 184, 191, 198, 205});
             // The "W" exchange begins: "I" answered, "W" not yet sent.
             b.direct.on_mask = [&b] {
                 const auto& log = b.mech->log();
                 if (!b.stall && std::count(log.begin(), log.end(), "I") == 1 &&
                     std::count(log.begin(), log.end(), "W") == 0)
                     b.stall.emplace(b.setup.bench(), 216000, 100); // 0.7 unit inside the reply
             };
         },
         [](Station& s) {
             const auto c = g136::coin_test(s, nullptr);
             EXPECT_EQ(s.port->stalled_ns(), 100000u);
             EXPECT_FALSE(c.measures);
             return c.message;
         },
         "Le monnayeur répond, mais ses réponses sont illisibles (ligne perturbée ?)."},
        {"channel not read back", [](G136Bench& b) { b.mech->set_power_cut_after(1); },
         [](Station& s) {
             const auto w = g136::write_channel(s, 4, kBlock, nullptr);
             EXPECT_FALSE(w.read_back);
             return w.message;
         },
         "Écriture du canal 4 non confirmée : le monnayeur ne répond pas à la relecture. Le contenu du canal est "
         "inconnu, relisez le monnayeur."},
        {"channel read back different, then different again: unknown",
         [](G136Bench& b) {
             b.mech->set_write_protected(true);
             // Once the first read-back is in, the mechanism's block changes.
             b.hook.on_mask = [&b] {
                 if (std::count(b.mech->log().begin(), b.mech->log().end(), "R06") == 1)
                     b.mech->channel(4)[0] = 77;
             };
         },
         [](Station& s) {
             const auto w = g136::write_channel(s, 4, kBlock, nullptr);
             EXPECT_FALSE(w.confirmed);
             EXPECT_TRUE(w.unknown());
             return w.message;
         },
         "Écriture du canal 4 non confirmée : deux relectures ne concordent pas (ligne perturbée ?). Le contenu du "
         "canal est inconnu, relisez le monnayeur."},
        {"tables not read back", [](G136Bench& b) { b.mech->set_power_cut_after(1); },
         [](Station& s) {
             const auto w = g136::write_tables(s, {}, nullptr);
             EXPECT_TRUE(w.unknown());
             return w.message;
         },
         "Tables écrites mais non confirmées : le monnayeur ne répond pas à la relecture de la table « Signal "
         "Sortie », leur contenu est inconnu (relisez les tables)."},
        {"tables read back different, then different again: unknown",
         [](G136Bench& b) {
             b.mech->set_write_protected(true);
             b.hook.on_mask = [&b] {
                 if (std::count(b.mech->log().begin(), b.mech->log().end(), "R18") == 1)
                     b.mech->block(0x0F)[0] = 0x55;
             };
         },
         [](Station& s) {
             g136::Tables t;
             t.validation[3] = 7;
             const auto w = g136::write_tables(s, t, nullptr);
             EXPECT_TRUE(w.unknown());
             return w.message;
         },
         "Tables écrites mais non confirmées : deux relectures ne concordent pas (ligne perturbée ?), leur contenu "
         "est inconnu (relisez les tables)."},
        {"selectors read back differently twice: unknown",
         [](G136Bench& b) {
             b.mech->set_write_protected(true);
             b.hook.on_mask = [&b] {
                 if (std::count(b.mech->log().begin(), b.mech->log().end(), "R13") == 2)
                     b.mech->block(0x13)[0] = 9;
             };
         },
         [](Station& s) {
             const auto m = g136::write_model(s, 2, kBlock, {1, 2, 3, 4, 5, 6}, nullptr);
             EXPECT_TRUE(m.selectors_written);
             EXPECT_FALSE(m.selectors);
             return m.message;
         },
         "Mesures contrôlées non confirmées : deux relectures du bloc 13 ne concordent pas (ligne perturbée ?). "
         "Les mesures contrôlées sont inconnues, relisez le monnayeur."},
        {"selector block read with a digit that is none: not rewritten",
         [](G136Bench& b) { b.mech->block(0x13)[40] = 0x1F; },
         [](Station& s) {
             const auto m = g136::write_model(s, 2, kBlock, {1, 2, 3, 4, 5, 6}, nullptr);
             EXPECT_TRUE(m.block.confirmed);
             EXPECT_FALSE(m.selectors_written);
             return m.message;
         },
         "n'ont pas été réécrites"},
        {"selectors read back different", [](G136Bench& b) { b.mech->set_write_protected(true); },
         [](Station& s) {
             const auto m = g136::write_model(s, 2, kBlock, {1, 2, 3, 4, 5, 6}, nullptr);
             EXPECT_TRUE(m.selectors_written);
             return m.message;
         },
         "Mesures contrôlées du canal 2 non confirmées"},
        {"tables read back different", [](G136Bench& b) { b.mech->set_write_protected(true); },
         [](Station& s) {
             g136::Tables t;
             t.validation[3] = 7;
             t.offset_a = 9;
             const auto w = g136::write_tables(s, t, nullptr);
             EXPECT_FALSE(w.confirmed);
             return w.message;
         },
         "pour : Signal Sortie, Valid canal, Fonction et offsets."},
        {"channel kept with one bit changed: shown as read", with_faults("wrong-readback=1"),
         [](Station& s) {
             const auto w = g136::write_channel(s, 4, kBlock, nullptr);
             EXPECT_FALSE(w.confirmed);
             g136::Block held = kBlock;
             held[0] ^= 1; // the first byte the write changed
             EXPECT_EQ(w.read_back, held);
             return w.message;
         },
         "Écriture du canal 4 non confirmée : la relecture diffère de ce qui a été écrit. Les valeurs affichées sont "
         "celles relues."},
        {"channel write lost: the old block shown", with_faults("lost-write=1"),
         [](Station& s) {
             const auto w = g136::write_channel(s, 4, kBlock, nullptr);
             EXPECT_FALSE(w.confirmed);
             EXPECT_EQ(w.read_back, (g136::Block{98, 80, 86, 70, 132, 115, 58, 44, 185, 168, 34, 20}));
             return w.message;
         },
         "Écriture du canal 4 non confirmée : la relecture diffère"},
        {"selector block kept with one bit changed", with_faults("wrong-readback=2"),
         [](Station& s) {
             const auto m = g136::write_model(s, 2, kBlock, {1, 2, 3, 4, 5, 6}, nullptr);
             EXPECT_TRUE(m.block.confirmed);
             EXPECT_TRUE(m.selectors_written);
             if (!m.selectors)
                 return std::string("block 13 not read back");
             // Channel 2's second digit (the first one changed, 3 to 2) kept as 3.
             EXPECT_EQ(std::vector<int>(m.selectors->begin() + 6, m.selectors->begin() + 12),
                       (std::vector<int>{1, 3, 3, 4, 5, 6}));
             return m.message;
         },
         "Mesures contrôlées du canal 2 non confirmées : la relecture du bloc 13 diffère de ce qui a été écrit."},
        {"selector block write lost", with_faults("lost-write=2"),
         [](Station& s) {
             const auto m = g136::write_model(s, 2, kBlock, {1, 2, 3, 4, 5, 6}, nullptr);
             if (!m.selectors)
                 return std::string("block 13 not read back");
             EXPECT_EQ(std::vector<int>(m.selectors->begin() + 6, m.selectors->begin() + 12),
                       (std::vector<int>{1, 3, 5, 7, 9, 11})); // what channel 2 had
             return m.message;
         },
         "Mesures contrôlées du canal 2 non confirmées"},
        {"output table lost", with_faults("lost-write=1"),
         [](Station& s) {
             g136::Tables t;
             t.output[0] = 0x42;
             const auto w = g136::write_tables(s, t, nullptr);
             EXPECT_FALSE(w.confirmed);
             if (!w.read_back)
                 return std::string("not read back");
             EXPECT_EQ(w.read_back->output[0], 0x01); // what block "0F" still holds
             return w.message;
         },
         "Tables non confirmées : la relecture diffère de ce qui a été écrit pour : Signal Sortie. Les cases "
         "montrent ce qui a été relu."},
        {"function bytes kept with one bit changed", with_faults("wrong-readback=4"),
         [](Station& s) {
             g136::Tables t;
             t.function = {0x10, 0, 0};
             const auto w = g136::write_tables(s, t, nullptr);
             EXPECT_FALSE(w.confirmed);
             if (!w.read_back)
                 return std::string("not read back");
             EXPECT_EQ(w.read_back->function[0], 0x11);
             return w.message;
         },
         "pour : Fonction et offsets."},
        {"answers as a G13.0000: nothing read", with_faults("other-family"),
         [](Station& s) {
             const auto r = g136::lecture(s, nullptr);
             EXPECT_FALSE(r.answered);
             EXPECT_FALSE(r.selectors);
             EXPECT_EQ(g136::coin_test(s, nullptr).message, r.message);
             return r.message;
         },
         "Ce monnayeur répond comme un G13.0000 (« 0= »), pas comme un G13.6000 : rien n'est lu ni écrit. Ouvrez la "
         "fenêtre NRI G13.0000."},
        {"a model of a silent mechanism stores nothing",
         [](G136Bench& b) {
             b.mech->set_power_cut_after(1);
             g136::write_channel(b.s, 1, kBlock, nullptr);
         },
         [](Station& s) {
             const auto m = g136::read_model(s, 2, nullptr);
             EXPECT_FALSE(m.block);
             EXPECT_FALSE(m.selectors);
             return m.message;
         },
         "aucun modèle n'a été enregistré"},
        {"a channel's selector that is no digit stores nothing",
         [](G136Bench& b) { b.mech->block(0x13)[7] = 0x1F; },
         [](Station& s) {
             const auto m = g136::read_model(s, 2, nullptr);
             EXPECT_TRUE(m.block);
             EXPECT_FALSE(m.selectors);
             return m.message;
         },
         "Les mesures contrôlées du canal 2 n'ont pas été lues correctement"},
    };
    for (const Row& r : rows) {
        G136Bench b;
        r.arrange(b);
        const std::string message = r.run(b.s);
        EXPECT_NE(message.find(r.message), std::string::npos) << r.what << ": " << message;
    }
}

TEST(G136Validation, LimitsFromTheSelectedMeasurements)
{
    g136::Measures largest{}, smallest{};
    for (int k = 0; k < 16; ++k) {
        largest[size_t(k)] = 100 + k;
        smallest[size_t(k)] = 50 + k;
    }
    largest[15] = 250;
    smallest[15] = 12;
    EXPECT_EQ(g136::validation_block({2, 15, 0, 1, 14, 15}, largest, smallest, 0),
              (g136::Block{102, 52, 250, 12, 100, 50, 101, 51, 114, 64, 250, 12}));
    EXPECT_EQ(g136::validation_block({15, 15, 15, 15, 15, 15}, largest, smallest, 10)[0], 255);
    EXPECT_EQ(g136::validation_block({15, 15, 15, 15, 15, 15}, largest, smallest, 10)[1], 2);
}

// "Arrêter" asked after a number of steps: a reading ends between blocks, a
// collect between coins, a write never between it and its read-back.
TEST(G136OnBench, StopsOnlyAtSafePoints)
{
    struct StopAfter : Progress {
        int steps = 0, after = 0;
        void start(int) override {}
        void step() override { ++steps; }
        void finish() override {}
        bool stop_requested() const override { return steps >= after; }
    };
    struct Row {
        const char* what;
        int after;
        std::function<void(G136Bench&, Progress*)> run;
    } rows[] = {
        {"reading, after the opening", 0,
         [](G136Bench& b, Progress* p) {
             const auto r = g136::lecture(b.s, p);
             EXPECT_TRUE(r.answered);
             EXPECT_FALSE(r.selectors);
             EXPECT_EQ(r.message, "Lecture arrêtée : rien n'a été lu.");
         }},
        {"reading, after channel 2", 3,
         [](G136Bench& b, Progress* p) {
             const auto r = g136::lecture(b.s, p);
             EXPECT_TRUE(r.selectors);
             EXPECT_TRUE(r.channels[1]);
             EXPECT_FALSE(r.channels[2]);
             EXPECT_EQ(r.stopped_at, 3);
             EXPECT_EQ(r.message.rfind("Lecture arrêtée au canal 3 : les canaux 3 à 12", 0), 0u) << r.message;
         }},
        {"collect, after one coin", 1,
         [](G136Bench& b, Progress* p) {
             const auto c = g136::collect_coins(b.s, 5, {}, {}, p);
             EXPECT_TRUE(c.stopped);
             EXPECT_EQ(c.measured, 1);
             EXPECT_EQ(c.message, "Lecture arrêtée après 1 pièce(s).");
         }},
        {"channel write, asked during it: runs to its read-back", 0,
         [](G136Bench& b, Progress* p) {
             const auto w = g136::write_channel(b.s, 5, kBlock, p);
             EXPECT_FALSE(w.sent);
             EXPECT_EQ(w.message, "Écriture arrêtée : rien n'a été écrit.");
             struct Late : Progress {
                 int steps = 0;
                 void start(int) override {}
                 void step() override { ++steps; }
                 void finish() override {}
                 bool stop_requested() const override { return steps > 0; }
             } late;
             EXPECT_TRUE(g136::write_model(b.s, 5, kBlock, {1, 1, 1, 1, 1, 1}, &late).selectors_written);
         }},
        {"tables, after two blocks", 2,
         [](G136Bench& b, Progress* p) {
             const auto r = g136::read_tables(b.s, p);
             EXPECT_TRUE(r.stopped);
             EXPECT_FALSE(r.tables);
             EXPECT_EQ(r.blocks_read, 2);
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        G136Bench b;
        StopAfter stop;
        stop.after = r.after;
        r.run(b, &stop);
        EXPECT_EQ(b.setup.bench().mask_depth(), 0);
    }
}

// Dead lines: every operation ends within 30 s of port time (coin waits
// apart), reports what is missing, and shows nothing as read.
TEST(G136OnBench, SilentAndNoisyLinesNeverHang)
{
    constexpr uint64_t kBound = 30000000;
    // ZUNA_PORT_TIMES=1 prints the port time of each operation (the table of link/README.md).
    const bool print = qEnvironmentVariableIsSet("ZUNA_PORT_TIMES");
    for (const char* fault : {"", "silent", "noise", "power-cut=1"}) {
        SCOPED_TRACE(fault);
        const std::string name = *fault ? fault : "normal";
        const bool dead = name != "normal" && name != "noise";
        sim::Faults f;
        ASSERT_TRUE(sim::parse_faults(fault, f, nullptr));
        G136Bench b(f);
        sim::Bench& bench = b.setup.bench();
        if (name == "power-cut=1") {
            // One block write gets through, then nothing answers.
            g136::write_channel(b.s, 1, kBlock, nullptr);
        }
        auto ticks = [&](const char* what, const std::function<void()>& act) {
            const uint64_t t0 = bench.now();
            act();
            const uint64_t t = bench.now() - t0;
            if (print)
                std::printf("G13.6000 %-12s %-34s %8.3f s\n", name.c_str(), what, double(t) * 1e-6);
            return t;
        };
        g136::Reading r;
        EXPECT_LE(ticks("Lecture", [&] { r = g136::lecture(b.s, nullptr); }), kBound);
        if (dead) {
            EXPECT_FALSE(r.answered);
            EXPECT_EQ(r.message, "Le monayeur ne répond pas.");
        } else if (name == "noise") { // it answers, garbled
            EXPECT_FALSE(r.answered);
            EXPECT_EQ(r.message, "Le monnayeur répond, mais ses réponses sont illisibles (ligne perturbée ?).");
        }
        g136::TablesRead tr;
        EXPECT_LE(ticks("Tables, Lecture", [&] { tr = g136::read_tables(b.s, nullptr); }), kBound);
        EXPECT_LE(ticks("Ajust. OK / validation", [&] { g136::write_channel(b.s, 2, kBlock, nullptr); }), kBound);
        EXPECT_LE(ticks("Voir modèle OK",
                        [&] { g136::write_model(b.s, 2, kBlock, {1, 2, 3, 4, 5, 6}, nullptr); }),
                  kBound);
        EXPECT_LE(ticks("Tables, Ecriture", [&] { g136::write_tables(b.s, {}, nullptr); }), kBound);
        g136::ModelRead mr;
        EXPECT_LE(ticks("Enr. Modèle OK", [&] { mr = g136::read_model(b.s, 2, nullptr); }), kBound);
        bool heard = false;
        EXPECT_LE(ticks("Ajust. (reading the channel)", [&] { g136::read_channel(b.s, 2, &heard); }), kBound);
        g136::CoinTest ct;
        EXPECT_LE(ticks("Test pieces", [&] { ct = g136::coin_test(b.s, nullptr); }),
                  kBound + uint64_t(g136::kLongWait));
        if (name == "noise") { // every cause named as garbled, none as silent
            EXPECT_TRUE(heard);
            EXPECT_FALSE(tr.tables);
            EXPECT_EQ(tr.message.rfind("Le monnayeur répond, mais sa réponse pour la table", 0), 0u) << tr.message;
            EXPECT_EQ(mr.message, "Le monnayeur répond, mais ses réponses sont illisibles (ligne perturbée ?) : "
                                  "aucun modèle n'a été enregistré.");
            EXPECT_EQ(ct.message, "Le monnayeur répond, mais ses réponses sont illisibles (ligne perturbée ?).");
        }
        g136::Collect c;
        ticks("Calibration LECTURE, 3 coins", [&] { c = g136::collect_coins(b.s, 3, {}, {}, nullptr); });
        if (dead) {
            EXPECT_TRUE(c.no_coin);
            EXPECT_EQ(c.measured, 0);
            EXPECT_EQ(c.message, "Pas de pièce reçue : lecture arrêtée après 0 pièce(s).");
        } else if (name == "noise") { // a coin answered garbled is not said to be missing
            EXPECT_FALSE(c.no_coin);
            EXPECT_EQ(c.measured, 0);
            EXPECT_EQ(c.message, "Le monnayeur répond, mais sa réponse est illisible (ligne perturbée ?) : lecture "
                                 "arrêtée après 0 pièce(s).");
        }
        EXPECT_EQ(bench.mask_depth(), 0);
    }
}

// The frequency window's G136 search: "I" cut after entry 5 at
// round(m' x 110 / g'), captured at count 1; the start is round(entry 1 /
// 6), then counts from there until "I" is answered.
TEST(G136OnBench, FrequencySearchEndsWithinTheMechanismsTolerance)
{
    G136Bench b;
    b.s.delay.g136 = 110; // m' = g' at PC speed 1
    // The line idle first: the module transfers just before end on a
    // character the mechanism could not read.
    for (int u = 0; u < 20; ++u)
        g136::ecrir_bit_2(b.s, kG13Level1);
    const RunList probe = g136::cmd_open();
    g136::ecrir_octet_s(b.s, probe, 5);
    b.s.delay.g136 = 1;
    clear_tables(b.s);
    ASSERT_TRUE(g136::lit_g13(b.s));
    const int32_t start = int32_t(std::lround(b.s.run_table[1] / 6.0));
    EXPECT_EQ(start, 141);
    int32_t found = 0;
    for (int32_t i = start; i <= start + 15 && !found; ++i) {
        b.s.delay.g136 = i;
        g136::ecrir_octet_b(b.s, probe, 7);
        g136::decode_g136(b.s);
        if (b.s.symbols[0] == 7)
            found = i;
    }
    EXPECT_NEAR(found, int32_t(b.mech->bit()) - 1, 3);
}
