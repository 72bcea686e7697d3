// The RM3 and RM4 link: what each transaction puts on the line (a recording port
// turns the accesses of every masked span into the characters sent and the
// wait that follows), the builders, the decoder, and the transactions
// against the simulated RM3 and RM4; their settings saved, checked and restored.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <deque>
#include <optional>
#include <functional>
#include <string>
#include <vector>

#include "link/module.h"
#include "seci/seci_link.h"
#include "seci/seci_settings.h"
#include "settings/settings.h"
#include "sim/catalogue.h"
#include "sim/seci_mech.h"
#include "tests/common/counting_port.h"
#include "tests/common/recording_port.h"
#include "settings_file/settings_file.h"

using namespace zuna;
using namespace zuna::seci;
using Tokens = std::vector<std::string>;
using test::RecordingPort;

namespace {

std::string hex(int v)
{
    char b[4];
    std::snprintf(b, sizeof b, "%02X", v & 0xFF);
    return b;
}

// Units of level (0/1) as 8N1 characters; the held level 1 after the last
// unit completes a character. "?" for units that do not frame one.
std::string chars_of(const std::vector<int>& units)
{
    std::string out;
    size_t p = 0;
    while (p < units.size()) {
        if (units[p] == 1) {
            ++p;
            continue;
        }
        auto at = [&](size_t k) { return k < units.size() ? units[k] : 1; };
        int c = 0;
        for (int b = 0; b < 8; ++b)
            c |= at(p + 1 + size_t(b)) << b;
        out += (out.empty() ? "" : " ") + (at(p + 9) == 1 ? hex(c) : std::string("?"));
        p += 10;
    }
    return out;
}

// One token per masked span: the characters sent, then "/" and the wait in
// units (reads / delay count), "/a" for a coin wait, "/-" for no capture.
Tokens tokens(const std::vector<RecordingPort::Event>& ev, int32_t delay)
{
    Tokens out;
    std::vector<int> units;
    int64_t reads = 0;
    bool open = false;
    for (const auto& e : ev) {
        switch (e.kind) {
        case RecordingPort::Mask:
            open = true;
            units.clear();
            reads = 0;
            break;
        case RecordingPort::Write: {
            const int64_t per = delay + 1;
            if (e.count % per != 0 || (e.value != kLevel0 && e.value != kLevel1)) {
                out.push_back("bad write " + hex(e.value) + " x" + std::to_string(e.count));
                break;
            }
            for (int64_t u = 0; u < e.count / per; ++u)
                units.push_back(e.value & 1);
            break;
        }
        case RecordingPort::Read:
            reads += e.count;
            break;
        case RecordingPort::Unmask: {
            if (!open)
                out.push_back("unmask");
            // The last two units are the stop bit and the listening start.
            std::string t = chars_of(units);
            if (reads == 0)
                t += "/-";
            else if (reads == kCoinWait)
                t += "/a";
            else
                t += "/" + (reads % delay ? "r" + std::to_string(reads) : std::to_string(reads / delay));
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

Tokens join(std::initializer_list<Tokens> parts)
{
    Tokens t;
    for (const Tokens& p : parts)
        t.insert(t.end(), p.begin(), p.end());
    return t;
}

const Tokens kOpening = {"00 10/200", "00/12", "10/53"};
const Tokens kWriteOpening = {"00 10/200", "00/12", "01/5000"};
const Tokens kTail = {"00/12", "0C/150", "00/12", "F5/3", "00/12", "12/320",
                      "00/12", "10/50",  "00/12", "17/110", "00/12", "F4/3"};
Tokens channel(int n) { return {"00/12", "09/12", hex(n) + "/320"}; }
const Tokens kRm4WriteOpening = {"00/12", "00/12", "01/5200"};
const Tokens kRm4Tail = {"00/12", "04/14",  "0F/120", "00/12", "07/320", "00/12", "08/320", "00/12",
                         "09/320", "00/12", "0A/320", "00/12", "0B/320", "00/12", "11/320"};
Tokens rm4_channel(int n) { return {"00/12", "04/14", hex(n - 1) + (n == 1 ? "/180" : "/320")}; }
Tokens rm4_write(int n, const std::string& record)
{
    return join({kRm4WriteOpening,
                 {"00/16", "03/13", hex(n - 1) + "/1", record + "/450", "00/12", "04/12", "00/120"},
                 rm4_channel(n),
                 {"00/12"}});
}

// Channel 2 of the bench example after "AJUST" with aj1 = 1250.
const Rm3Record kAdjusted{{1250, 1100, 2400, 2300, 3600, 3500}, 5, 3};
// The RM4 example channel: HFU, LF, HFL, "+" windows, flags 2, output 4.
const Rm4Record kRm4Example{{200, 180, 90, 80, 150, 140, 30000, 29000}, 2, 4};

struct LineRow {
    const char* what;
    std::function<void(const Line&)> run;
    Tokens expected;
    const Family* family = &kRm3;
};

TEST(Rm3Line, TransactionsPutTheirCharactersOnTheLineInOrder)
{
    const Rm3Record all5461{{5461, 5461, 5461, 5461, 5461, 5461}, 5, 5};
    const std::vector<LineRow> rows = {
        {"read", [](const Line& l) { lecture(l); },
         join({kOpening, channel(1), channel(2), channel(3), channel(4), channel(5), channel(6), kTail})},
        {"AJUST OK on channel 2", [](const Line& l) { write_and_read_back(l, 2, kAdjusted); },
         join({kWriteOpening,
               {"00/12", "04/12", "04 E2 04 4C 09 60 08 FC 0E 10 0D AC F5 93/450", "00/86", "09/12", "02/320"}})},
        {"Vider 4", [](const Line& l) { write_and_read_back(l, 4, empty_record()); },
         join({kWriteOpening,
               {"00/12", "06/12", "FF FF FF FF FF FF FF FF FF FF FF FF F8 9F/450", "00/86", "09/12", "04/320"}})},
        {"output 0 is sent as 8", [](const Line& l) { write_and_read_back(l, 1, {{1, 2, 3, 4, 5, 6}, 0, 8}); },
         join({kWriteOpening,
               {"00/12", "03/12", "00 01 00 02 00 03 00 04 00 05 00 06 F0 98/450", "00/86", "09/12", "01/320"}})},
        {"a 122-entry record is sent whole", [all5461](const Line& l) { write_and_read_back(l, 6, all5461); },
         join({kWriteOpening,
               {"00/12", "08/12", "15 55 15 55 15 55 15 55 15 55 15 55 F5 95/450", "00/86", "09/12", "06/320"}})},
        {"channel 7 is refused", [](const Line& l) { write_and_read_back(l, 7, kAdjusted); }, {}},
        // On this silent line nothing answers before the coin: no start
        // character and no coin wait (the bench tests send them).
        {"test measurement, silent: no start character 3, no coin wait", [](const Line& l) { test_measurement(l, 3); },
         {"00/11", "02/320", "00/12", "00/12"}},
        {"list 9, 12: one 0x00", [](const Line& l) { ecrir_octet(l, std::vector<int32_t>{9, 12}); }, {"00/12"}},
        {"frequency window list, send only",
         [](const Line& l) { ecrir_octet_s(l, std::vector<int32_t>{9, 1, 5, 1, 3, 200, 0}); }, {"00 10/-"}},
        {"lit_rm3 alone", [](const Line& l) { lit_rm3(l, 16000 * l.delay()); }, {"/16000"}},
        {"calibration programming, channel 3", [](const Line& l) { calibration_write(l, 3, kAdjusted); },
         join({kWriteOpening,
               {"00/12", "05/12", "04 E2 04 4C 09 60 08 FC 0E 10 0D AC F5 93/450", "00/86", "09/12", "03/320",
                "00/12"}})},
        {"RM4 read: no opening, channel 1 by 0x00", [](const Line& l) { lecture(l); },
         join({rm4_channel(1), rm4_channel(2), rm4_channel(3), rm4_channel(4), rm4_channel(5), rm4_channel(6),
               rm4_channel(7), rm4_channel(8), rm4_channel(9), rm4_channel(10), rm4_channel(11), rm4_channel(12),
               kRm4Tail}),
         &kRm4},
        {"RM4 write of channel 11", [](const Line& l) { write_and_read_back(l, 11, kRm4Example); },
         rm4_write(11, "C8 B4 5A 50 96 8C 75 30 71 48 12 2C"), &kRm4},
        {"RM4 Vider 12", [](const Line& l) { write_and_read_back(l, 12, empty_rm4_record()); },
         rm4_write(12, "FF FF FF FF FF FF FF FF FF FF 18 2F"), &kRm4},
        {"RM4 output 0 is sent as 0x28", [](const Line& l) { write_and_read_back(l, 1, {{1, 2, 3, 4, 5, 6, 7, 8}, 0, 0}); },
         rm4_write(1, "01 02 03 04 05 06 00 07 00 08 10 28"), &kRm4},
        {"RM4 channel 13 is refused", [](const Line& l) { write_and_read_back(l, 13, kRm4Example); }, {}, &kRm4},
        {"RM4 value 0 above 255 is refused",
         [](const Line& l) { write_and_read_back(l, 2, {{256, 1, 2, 3, 4, 5, 6, 7}, 0, 0}); }, {}, &kRm4},
        {"RM4 test measurement, silent", [](const Line& l) { test_measurement(l, 3); },
         {"00/11", "02/75", "00/12", "00/12"}, &kRm4},
        {"RM4 calibration, first coin, silent", [](const Line& l) { calibration_sample(l, 3, true); },
         {"00/15", "02/75", "00/15", "00/15"}, &kRm4},
        {"RM4 calibration, next coin, silent", [](const Line& l) { calibration_sample(l, 3, false); },
         {"00/15", "00/15"}, &kRm4},
        {"RM4 calibration programming ends as its write", [](const Line& l) { calibration_write(l, 11, kRm4Example); },
         rm4_write(11, "C8 B4 5A 50 96 8C 75 30 71 48 12 2C"), &kRm4},
        {"a list of 130 entries sends 120, entry 120 is the wait",
         [](const Line& l) {
             std::vector<int32_t> v(130, 1);
             v[0] = 9;
             v[120] = 7;
             ecrir_octet(l, v);
         },
         {"00 " + [] {
              std::string s;
              for (int i = 0; i < 11; ++i)
                  s += std::string(i ? " " : "") + "55";
              return s;
          }() + " D5/7"}},
    };
    for (const LineRow& r : rows) {
        test::CountingPort silent;
        RecordingPort port(silent);
        Station s(port);
        s.delay.rm3 = 68;
        s.delay.rm4 = 71; // each family times its units with its own count
        const Line l{s, r.family};
        r.run(l);
        EXPECT_EQ(tokens(port.events, l.delay()), r.expected) << r.what;
        EXPECT_EQ(silent.masks, silent.unmasks) << r.what;
        EXPECT_EQ(silent.last, r.expected.empty() ? 0 : kLevel1) << r.what << ": the line is left idle";
    }
}

TEST(Rm3Line, RecordListOfAlternatingBitsExceedsTheOrdinaryLimit)
{
    test::CountingPort p;
    Station s(p);
    const RunList l = rm3_record_list(s, {{5461, 5461, 5461, 5461, 5461, 5461}, 5, 5});
    EXPECT_EQ(l.size, 122);
    EXPECT_EQ(l.e[121], kWriteWait);
}

TEST(Rm3Line, DelayCountAtOrBelowZero)
{
    struct Row {
        int32_t count;
        int64_t reads; // of a capture after "9, 12": the budget and the read that saw the start bit
    };
    for (const Row& r : {Row{0, 0}, Row{-5, 0}, Row{1, 13}}) {
        test::CountingPort p;
        Station s(p);
        s.delay.rm3 = r.count;
        p.status = kReply; // a line held at level 0: anything captured would show
        EXPECT_EQ(ecrir_octet(rm3_line(s), std::vector<int32_t>{9, 12}), r.reads > 0) << r.count;
        EXPECT_EQ(p.reads, r.reads) << r.count;
        if (r.reads == 0) {
            EXPECT_EQ(s.run_table[0], 0) << r.count;
        }
    }
    // The waiting capture divides by 1 instead of by a count of 0.
    test::CountingPort p;
    Station s(p);
    s.delay.rm3 = 0;
    p.status = kReply;
    EXPECT_TRUE(lit_rm3_a(rm3_line(s), 100));
    EXPECT_EQ(s.run_table[0], kEndMark);
}

// Stretch lengths are reads divided by the family's count, halves to even,
// in both captures: 1.5 gives 2 (truncation 1), 2.5 gives 2 (half up 3).
// A stall (the port standing still) up to the end of the last stretch
// measured garbles the reply: the run table is emptied, the capture still
// heard one. A stall in the stretch the capture ended changes nothing.
TEST(Rm3Capture, LengthsRoundHalvesToEven)
{
    // Idle for 5 reads, level 0 for `low` reads, then idle; the port stood
    // still for 50 µs before read `stall` (0: never).
    struct Script : test::CountingPort {
        int64_t low = 0;
        int64_t stall = 0;
        uint8_t read_status_port() override
        {
            const int64_t at = reads++;
            return at >= 5 && at < 5 + low ? kReply : 0;
        }
        uint64_t stalled_ns() const override { return stall > 0 && reads >= stall ? 50000 : 0; }
    };
    struct Row {
        const Family* family;
        int32_t count;
        int64_t reads; // of the level 0 stretch, counted
        int32_t entry;
        int64_t stall = 0;
    };
    const Row rows[] = {
        {&kRm3, 68, 101, 1}, {&kRm3, 68, 102, 2}, {&kRm3, 68, 170, 2}, {&kRm3, 68, 171, 3}, {&kRm3, 68, 238, 4},
        {&kRm4, 70, 104, 1}, {&kRm4, 70, 105, 2}, {&kRm4, 70, 175, 2}, {&kRm4, 70, 176, 3}, {&kRm4, 70, 245, 4},
        {&kRm3, 68, 170, 0, 100},  // inside the level 0 stretch
        {&kRm3, 68, 170, 0, 5},    // at the read that saw the start bit
        {&kRm4, 70, 175, 0, 600},  // in the idle the capture ends on, where it may hide a last character
        {&kRm4, 70, 175, 2, 1500}, // in that idle, past a character
    };
    for (const Row& r : rows)
        for (bool waiting : {false, true}) {
            Script port;
            port.stall = r.stall;
            port.low = r.reads + 1; // the read ending the wait is not counted
            Station s(port);
            s.delay.rm3 = s.delay.rm4 = r.count;
            const Line l{s, r.family};
            EXPECT_TRUE(waiting ? lit_rm3_a(l, 100000) : lit_rm3(l, 16000 * r.count));
            EXPECT_EQ(s.run_table[0], r.entry) << r.family->name << " " << r.reads << (waiting ? " waiting" : "");
            EXPECT_EQ(s.run_table[1], r.entry ? kEndMark : 0) << r.reads;
        }
}

// Independent encoder: characters back to back, stretches in units, the
// end mark after the last one (as a budgeted capture stores a whole reply).
std::array<int32_t, kRunTableSize> runs_of(const std::vector<uint8_t>& bytes)
{
    std::array<int32_t, kRunTableSize> runs{};
    int j = 0, level = 0;
    auto bit = [&](int b) {
        if (b != level) {
            ++j;
            level = b;
        }
        ++runs[size_t(j)];
    };
    for (uint8_t c : bytes) {
        bit(0);
        for (int b = 0; b < 8; ++b)
            bit((c >> b) & 1);
        bit(1);
    }
    runs[size_t(j)] = kEndMark;
    return runs;
}

TEST(Rm3Decode, RecordsAndCharacterCounts)
{
    struct Row {
        const char* what;
        std::vector<uint8_t> bytes;
        int chars;
        Rm3Record record;
        Record (*decode)(Station&, int*) = decode_rm3;
        int slow_char = -1;       // the stretch opening this character is read one unit long
        bool out_of_step = false; // whole, yet not a channel's record
    };
    const std::vector<Row> rows = {
        {"channel 2", {0x04, 0xB0, 0x04, 0x4C, 0x09, 0x60, 0x08, 0xFC, 0x0E, 0x10, 0x0D, 0xAC, 0xF5, 0x93}, 14,
         {{1200, 1100, 2400, 2300, 3600, 3500}, 5, 3}},
        {"last character ends with a 1 bit", {0x12, 0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0x9F}, 14,
         {{0x1234, 0, 0, 0, 0, 0}, 8, 15}},
        {"emptied channel", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF8, 0x9F}, 14, empty_record()},
        {"cut after 7 characters", {0x04, 0xB0, 0x04, 0x4C, 0x09, 0x60, 0x08}, 7, {{1200, 1100, 2400, 0x0800, 0, 0}, 0, 0}},
        {"nothing", {}, 0, {}},
        {"RM4 channel 11", {0xC8, 0xB4, 0x5A, 0x50, 0x96, 0x8C, 0x75, 0x30, 0x71, 0x48, 0x12, 0x2C}, 12, kRm4Example,
         decode_rm4},
        {"RM4, last character ends with a 1 bit", {1, 2, 3, 4, 5, 0xFF, 0x12, 0x34, 0x56, 0x78, 0x1F, 0xAF}, 12,
         {{1, 2, 3, 4, 5, 255, 0x1234, 0x5678}, 15, 7}, decode_rm4, -1, true},
        {"RM4 emptied channel", {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 0x18, 0x2F}, 12,
         {{255, 255, 255, 255, 255, 255, 65535, 65535}, 8, 7}, decode_rm4},
        {"RM4 cut after 7 characters", {0xC8, 0xB4, 0x5A, 0x50, 0x96, 0x8C, 0x75}, 7,
         {{200, 180, 90, 80, 150, 140, 0x7500, 0}, 0, 0}, decode_rm4},
        // A clock 6 % slow: seven units of level 0 (0x40) counted as eight. The
        // character has no stop bit where it should: it and the rest are dropped.
        {"RM4 0x40 from a slow clock", {84, 74, 0x40, 54, 94, 84, 0x55, 0xF0, 0x52, 0x08, 0x14, 0x2D}, 2,
         {{84, 74, 0, 0, 0, 0, 0, 0}, 0, 0}, decode_rm4, 2},
        {"RM3 0x40 from a slow clock", {0x04, 0xB0, 0x04, 0x40, 0x09, 0x60, 0x08, 0xFC, 0x0E, 0x10, 0x0D, 0xAC, 0xF5, 0x93},
         3, {{1200, 0x0400, 0, 0, 0, 0}, 0, 0}, decode_rm3, 3},
        {"RM3 0x04 from a slow clock", {0x04, 0xB0, 0x04, 0x4C, 0x09, 0x60, 0x08, 0xFC, 0x0E, 0x10, 0x0D, 0xAC, 0xF5, 0x93},
         0, {}, decode_rm3, 0},
        {"0x00 read a unit long is still 0x00", {0x12, 0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0x9F}, 14,
         {{0x1234, 0, 0, 0, 0, 0}, 8, 15}, decode_rm3, 2},
        // Whole, but the fixed high nibbles of the last two characters do not hold.
        {"RM4 character 10 not 0x1_", {0xC8, 0xB4, 0x5A, 0x50, 0x96, 0x8C, 0x75, 0x30, 0x71, 0x48, 0x32, 0x2C}, 12,
         kRm4Example, decode_rm4, -1, true},
        {"RM4 character 11 not 0x2_", {0xC8, 0xB4, 0x5A, 0x50, 0x96, 0x8C, 0x75, 0x30, 0x71, 0x48, 0x12, 0xAC}, 12,
         kRm4Example, decode_rm4, -1, true},
        {"RM3 character 12 not 0xF_", {0x04, 0xB0, 0x04, 0x4C, 0x09, 0x60, 0x08, 0xFC, 0x0E, 0x10, 0x0D, 0xAC, 0x75, 0x93},
         14, {{1200, 1100, 2400, 2300, 3600, 3500}, 5, 3}, decode_rm3, -1, true},
        {"RM3 character 13 not 0x9_", {0x04, 0xB0, 0x04, 0x4C, 0x09, 0x60, 0x08, 0xFC, 0x0E, 0x10, 0x0D, 0xAC, 0xF5, 0x13},
         14, {{1200, 1100, 2400, 2300, 3600, 3500}, 5, 3}, decode_rm3, -1, true},
    };
    for (const Row& r : rows) {
        test::CountingPort p;
        Station s(p);
        s.run_table = runs_of(r.bytes);
        if (r.slow_char >= 0) {
            // The characters before it end with their stop stretch: it opens the next one.
            const auto before = runs_of({r.bytes.begin(), r.bytes.begin() + r.slow_char});
            size_t j = 0;
            while (r.slow_char > 0 && before[j] != 0)
                ++j;
            ++s.run_table[j];
        }
        int chars = -1;
        EXPECT_EQ(r.decode(s, &chars), r.record) << r.what;
        EXPECT_EQ(chars, r.chars) << r.what;
        // The same reply as a channel's: a record only when whole and in step.
        const Family& f = r.decode == decode_rm4 ? kRm4 : kRm3;
        const std::optional<Record> want =
            r.chars == f.chars && !r.out_of_step ? std::optional<Record>(r.record) : std::nullopt;
        chars = -1;
        EXPECT_EQ(decode_channel(s, f, &chars), want) << r.what;
        EXPECT_EQ(chars, r.chars) << r.what;
    }
}

TEST(Rm3Decode, EndsOnAnyTable)
{
    test::CountingPort p;
    Station s(p);
    for (int32_t fill : {1, 2, 8999, 9000, -1, 2147483647}) {
        s.run_table.fill(fill);
        int chars = 0;
        decode_rm3(s, &chars);
        EXPECT_LE(chars, kSymbolBufferSize / 2) << fill;
    }
}

TEST(Rm3Builders, CharacterAndWordRunLists)
{
    test::CountingPort p;
    Station s(p);
    auto units = [](std::span<const int32_t> l) {
        std::vector<int> u;
        for (size_t j = 0; j < l.size(); ++j)
            for (int k = 0; k < l[j]; ++k)
                u.push_back(int(j % 2));
        return u;
    };
    for (int c : {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0F, 0x10, 0x11, 0x12,
                  0x17, 0xF4, 0xF5})
        EXPECT_EQ(chars_of(units(char_runs(uint8_t(c)))), hex(c)) << c;
    EXPECT_EQ(chars_of(units(command_pair_00_10(1).view().first(5))), "00 10");
    struct Row {
        uint16_t v;
        std::vector<int32_t> runs;
    };
    for (const Row& r : {Row{0x1234, {2, 1, 2, 1, 3, 1, 3, 1, 1, 2, 2, 1}}, Row{0xFFFF, {1, 9, 1, 9}},
                         Row{0, {9, 1, 9, 1}}}) {
        const RunList l = nb_envoi(s, r.v);
        EXPECT_EQ(std::vector<int32_t>(l.e.begin(), l.e.begin() + l.size), r.runs) << r.v;
        EXPECT_EQ(s.symbols[size_t(l.size)], 0) << r.v;
    }
    for (const Row& r : {Row{0x3C, {3, 4, 2, 1}}, Row{0, {9, 1}}}) {
        const RunList one = nb_envoi_2(s, uint8_t(r.v));
        EXPECT_EQ(std::vector<int32_t>(one.e.begin(), one.e.begin() + one.size), r.runs) << r.v;
    }
}

// ---- Against the simulated RM3 and RM4 ----------------------------------

struct Rm3Bench : ::testing::Test {
    explicit Rm3Bench(const char* faults = "") : setup(1.0, parse(faults), ""), station(setup.bench())
    {
        mech = static_cast<sim::Rm3Mech*>(setup.plug("rm3"));
        station.measured_module_count = measure_module(*station.port);
        load_delay_counts(station);
        framing_before = mech ? mech->framing_errors() : 0; // the module's own traffic
    }
    int framing_errors() const { return mech->framing_errors() - framing_before; }
    static sim::Faults parse(const char* text)
    {
        sim::Faults f;
        sim::parse_faults(text, f, nullptr);
        return f;
    }
    Line line() { return rm3_line(station); }
    // Plugs the family's mechanism.
    sim::SeciMech* plug(const Family& f)
    {
        return static_cast<sim::SeciMech*>(setup.plug(&f == &kRm4 ? "rm4" : "rm3"));
    }
    static std::vector<uint8_t> bytes(const Family& f, const Record& r)
    {
        return &f == &kRm4 ? sim::Rm4Mech::record_bytes(r.value, r.flags, r.output)
                           : sim::Rm3Mech::record_bytes(r.value, r.flags, r.output);
    }
    sim::SimSetup setup;
    Station station;
    sim::Rm3Mech* mech = nullptr;
    int framing_before = 0;
};

TEST_F(Rm3Bench, ReadGivesTheMechanismsRecords)
{
    ASSERT_EQ(station.delay.rm3, 68);
    mech->record(2) = sim::Rm3Mech::record_bytes({1200, 1100, 2400, 2300, 3600, 3500}, 5, 3);
    const ReadResult r = lecture(line());
    ASSERT_TRUE(r.channel[1].record);
    EXPECT_EQ(*r.channel[1].record, (Rm3Record{{1200, 1100, 2400, 2300, 3600, 3500}, 5, 3}));
    for (int n = 1; n <= 6; ++n) {
        ASSERT_TRUE(r.channel[size_t(n - 1)].record) << n;
        EXPECT_EQ(rm3_record_list(station, *r.channel[size_t(n - 1)].record).size > 0, true);
    }
    EXPECT_EQ(r.channel[5].record->output, 15);
    EXPECT_EQ(framing_errors(), 0);
    EXPECT_EQ(setup.bench().mask_depth(), 0);

    // The RM4: twelve channels with its own count, the last one empty.
    sim::SeciMech* rm4 = plug(kRm4);
    ASSERT_EQ(station.delay.rm4, 68);
    rm4->record(11) = bytes(kRm4, kRm4Example);
    const ReadResult r4 = lecture(rm4_line(station));
    for (int n = 1; n <= 12; ++n)
        ASSERT_TRUE(r4.channel[size_t(n - 1)].record) << n;
    EXPECT_EQ(*r4.channel[10].record, kRm4Example);
    EXPECT_EQ(r4.channel[11].record->output, 7);
    EXPECT_EQ(rm4->framing_errors(), 0);
}

TEST_F(Rm3Bench, WritesAreConfirmedByTheirReadBack)
{
    struct Row {
        const char* what;
        int channel;
        Rm3Record record;
        int cut_after; // record writes before the power goes (0: never)
        bool confirmed;
        const Family* family = &kRm3;
        bool after_test = false; // a coin measured just before
        const char* faults = "";       // the mechanism's, from its first record write
        std::deque<uint8_t> garble{};  // XORs on the first byte of the next reads of the channel
        std::optional<Record> believed{}; // not confirmed: the read-back shown (nothing: unknown)
        bool settled = true;
    };
    // Channel 2 as the bench holds it, and channel 2 after AJUST with bit 0 of
    // its second byte changed (value 0: 1250 kept as 1251).
    const Rm3Record factory2{{1420, 1340, 2610, 2490, 3810, 3690}, 7, 2};
    Rm3Record one_bit = kAdjusted;
    one_bit.value[0] ^= 1;
    Rm4Record rm4_one_bit = kRm4Example; // the RM4's second byte is value 1
    rm4_one_bit.value[1] ^= 1;
    const Rm4Record rm4_factory11{{126, 116, 106, 96, 136, 126, 25500, 24500}, 3, 6};
    const std::vector<Row> rows = {
        {"AJUST", 2, kAdjusted, 0, true},
        {"empty", 4, empty_record(), 0, true},
        {"122 entries", 5, {{5461, 5461, 5461, 5461, 5461, 5461}, 5, 5}, 0, true},
        {"power cut at the write", 3, kAdjusted, 1, false},
        {"RM4 channel 11", 11, kRm4Example, 0, true, &kRm4},
        {"RM4 channel 1, after a test", 1, kRm4Example, 0, true, &kRm4, true},
        {"RM4 empty 12", 12, empty_rm4_record(), 0, true, &kRm4},
        {"RM4 output 0", 3, {{1, 2, 3, 4, 5, 6, 7, 8}, 0, 0}, 0, true, &kRm4},
        {"RM4 power cut at the write", 5, kRm4Example, 1, false, &kRm4},
        // The read-back that differs is read again: two equal reads are believed.
        {"kept with one bit changed", 2, kAdjusted, 0, false, &kRm3, false, "wrong-readback=1", {}, one_bit},
        {"acknowledged, not kept", 2, kAdjusted, 0, false, &kRm3, false, "lost-write=1", {}, factory2},
        {"RM4 kept with one bit changed", 11, kRm4Example, 0, false, &kRm4, false, "wrong-readback=1", {},
         rm4_one_bit},
        {"RM4 acknowledged, not kept", 11, kRm4Example, 0, false, &kRm4, false, "lost-write=1", {}, rm4_factory11},
        // A read garbled once: the second read holds what was written.
        {"one garbled read-back", 2, kAdjusted, 0, true, &kRm3, false, "", {0x01}},
        {"RM4 one garbled read-back", 11, kRm4Example, 0, true, &kRm4, false, "", {0x01}},
        // Two reads that disagree: nothing is believed.
        {"two read-backs disagree", 2, kAdjusted, 0, false, &kRm3, false, "", {0x01, 0x02}, std::nullopt, false},
        {"RM4 two read-backs disagree", 11, kRm4Example, 0, false, &kRm4, false, "", {0x01, 0x02}, std::nullopt,
         false},
    };
    for (const Row& r : rows) {
        sim::SeciMech* m = plug(*r.family);
        const Line l{station, r.family};
        if (r.after_test) {
            ASSERT_TRUE(test_measurement(l, 1)) << r.what;
        }
        m->set_power_cut_after(r.cut_after);
        m->set_faults(Rm3Bench::parse(r.faults));
        m->garble_reads(r.channel, r.garble);
        const WriteResult w = write_and_read_back(l, r.channel, r.record);
        EXPECT_EQ(w.confirmed(), r.confirmed) << r.what;
        EXPECT_EQ(m->record_writes(), 1) << r.what;
        EXPECT_EQ(w.settled, r.settled) << r.what;
        if (r.confirmed) {
            EXPECT_EQ(m->record(r.channel), bytes(*r.family, r.record)) << r.what;
        } else if (r.believed) {
            ASSERT_TRUE(w.readback.record) << r.what;
            EXPECT_EQ(*w.readback.record, *r.believed) << r.what;
            EXPECT_EQ(m->record(r.channel), bytes(*r.family, *r.believed)) << r.what << ": what the mechanism holds";
        } else {
            EXPECT_FALSE(w.readback.record) << r.what;
        }
        EXPECT_EQ(m->framing_errors(), 0) << r.what;
    }
}

TEST_F(Rm3Bench, SilentOrCutRepliesAreNotRecords)
{
    setup.plug("none");
    for (const Line& l : {rm3_line(station), rm4_line(station)}) {
        const ReadResult r = lecture(l);
        EXPECT_EQ(r.done, l.family->channels);
        for (const ChannelRead& c : r.channel) {
            EXPECT_FALSE(c.heard);
            EXPECT_FALSE(c.record);
        }
    }
    // A reply cut by a short budget: fewer than 14 characters, no record.
    mech = static_cast<sim::Rm3Mech*>(setup.plug("rm3"));
    ecrir_octet(line(), command(0x00, 12).view());
    ecrir_octet(line(), command(0x09, 12).view());
    ecrir_octet(line(), command(0x02, 80).view());
    int chars = 0;
    decode_rm3(station, &chars);
    EXPECT_GT(chars, 0);
    EXPECT_LT(chars, kRm3Chars);
}

TEST_F(Rm3Bench, CoinMeasurement)
{
    mech->queue_coin({1150, 900, 100, 2350, 3550, 0});
    bool heard = false, answered = false;
    const size_t received = mech->received().size();
    const auto coin = test_measurement(line(), 1, &heard, &answered);
    ASSERT_TRUE(coin);
    EXPECT_TRUE(heard);
    EXPECT_TRUE(answered);
    // The mechanism got the test's characters and its start character 1.
    EXPECT_EQ(std::vector<uint8_t>(mech->received().begin() + long(received), mech->received().end()),
              (std::vector<uint8_t>{0x00, 0x02, 0x00, 0x00, 0x01}));
    EXPECT_EQ(coin->value, (std::array<int32_t, 8>{1150, 900, 100, 2350, 3550, 0}));
    mech->set_coins(false);
    EXPECT_FALSE(test_measurement(line(), 1, &heard));
    EXPECT_FALSE(heard);

    // The RM4: a test, then the calibration's first and next coins.
    sim::SeciMech* rm4 = plug(kRm4);
    const Line l = rm4_line(station);
    for (const std::array<int, 8>& c : {std::array<int, 8>{190, 185, 84, 86, 144, 146, 29500},
                                        std::array<int, 8>{191, 186, 85, 87, 145, 147, 29510},
                                        std::array<int, 8>{192, 187, 86, 88, 146, 148, 29520}})
        rm4->queue_coin(c);
    const auto t = test_measurement(l, 1);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->value, (std::array<int32_t, 8>{190, 185, 84, 86, 144, 146, 29500, 0}));
    const auto first = calibration_sample(l, 1, true);
    const auto next = calibration_sample(l, 1, false);
    ASSERT_TRUE(first && next);
    EXPECT_EQ(first->value[6], 29510);
    EXPECT_EQ(next->value[6], 29520);
    rm4->set_coins(false);
    EXPECT_FALSE(calibration_sample(l, 1, false, &heard));
    EXPECT_FALSE(heard);
}

// The frequency window's searches: a lone 0x00 answered with stretches
// 0, 1, 7 at the right count, and a level 1 stretch of one bit time in raw
// reads (its RM4 measure).
TEST_F(Rm3Bench, ReadySignalForTheFrequencySearches)
{
    ecrir_octet(line(), std::vector<int32_t>{9, 80, 0});
    EXPECT_EQ(std::vector<int32_t>(station.run_table.begin(), station.run_table.begin() + 4),
              (std::vector<int32_t>{0, 1, 7, kEndMark}));
    station.delay.rm3 = 66;
    ecrir_octet_s(line(), std::vector<int32_t>{9, 15, 0});
    station.delay.rm3 = 1;
    EXPECT_TRUE(lit_rm3(line(), 16000));
    EXPECT_NEAR(station.run_table[1], 68, 1);

    // The RM4 search sends the same 0x00 with the RM3 count until entry 1 is not 0.
    plug(kRm4);
    station.delay.rm3 = 68;
    station.delay.rm4 = 0; // never used by the search
    ecrir_octet(line(), std::vector<int32_t>{9, 80, 0});
    EXPECT_NE(station.run_table[1], 0);
}

// ---- Settings: save, change, restore --------------------------------------

// A record as the simulated mechanism keeps it, read from its bytes.
Record of_bytes(const Family& f, const std::vector<uint8_t>& b)
{
    Record r;
    auto word = [&](size_t i) { return int32_t(b[i] << 8 | b[i + 1]); };
    if (&f == &kRm4) {
        for (size_t i = 0; i < 6; ++i)
            r.value[i] = b[i];
        r.value[6] = word(6);
        r.value[7] = word(8);
        r.flags = (b[10] - 0x10) & 0x0F;
        r.output = b[11] & 0x07;
    } else {
        for (size_t i = 0; i < 6; ++i)
            r.value[i] = word(2 * i);
        r.flags = b[12] & 0x0F;
        r.output = b[13] & 0x0F;
    }
    return r;
}

// The channels the record writes on the line name, in order: a record is
// the one span of twelve characters or more, its channel character before it.
std::vector<int> written_channels(const Tokens& t, const Family& f)
{
    std::vector<int> out;
    for (size_t i = 1; i < t.size(); ++i)
        if (t[i].find('/') >= 12 * 3 - 1) {
            const int c = std::stoi(t[i - 1].substr(0, 2), nullptr, 16);
            out.push_back(&f == &kRm4 ? c + 1 : c - 2);
        }
    return out;
}

TEST_F(Rm3Bench, RestoreWritesOnlyTheChangedChannelsAndTheMechanismThenEqualsTheFile)
{
    struct Change {
        int channel;
        int field; // 0..7 a value, 8 the flags, 9 the output
        int value;
        const char* name;
    };
    struct Row {
        const char* what;
        const Family* family;
        std::vector<Change> changes;
        int cut_after;  // record writes before the power goes (0: never)
        bool unplugged; // nothing answers the restore
        settings::Outcome::Kind kind;
        std::vector<int> channels_written;
        std::vector<std::string> verified;
        std::deque<uint8_t> garble = {}; // reads of channel 2 from the restore's first read on
    };
    const std::vector<Change> rm3 = {{2, 0, 1300, "Canal 2/HFU/max"}, {2, 9, 4, "Canal 2/Sortie"},
                                     {5, 8, 3, "Canal 5/Options"}};
    // Channel 12 is empty (output 7): its output changed makes it a channel of 255s.
    const std::vector<Change> rm4 = {{1, 7, 28000, "Canal 1/+/min"}, {7, 2, 99, "Canal 7/LF/max"},
                                     {12, 9, 3, "Canal 12/Sortie"}};
    using K = settings::Outcome::Kind;
    const std::vector<Row> rows = {
        {"RM3", &kRm3, rm3, 0, false, K::Held, {2, 5}, {"Canal 2/HFU/max", "Canal 2/Sortie", "Canal 5/Options"}},
        {"RM4", &kRm4, rm4, 0, false, K::Held, {1, 7, 12}, {"Canal 1/+/min", "Canal 7/LF/max", "Canal 12/Sortie"}},
        {"RM3, power lost at the second record", &kRm3, rm3, 2, false, K::NoAnswer, {2, 5},
         {"Canal 2/HFU/max", "Canal 2/Sortie"}},
        {"RM4, power lost at the first record", &kRm4, rm4, 1, false, K::NoAnswer, {1}, {}},
        {"RM4 unplugged", &kRm4, rm4, 0, true, K::NoAnswer, {}, {}},
        // Channel 2 read back twice unlike: not believed, channel 5 written
        // all the same, and the last read finds both as the file says.
        {"RM3, two read-backs of channel 2 disagree", &kRm3, rm3, 0, false, K::Held, {2, 5},
         {"Canal 2/HFU/max", "Canal 2/Sortie", "Canal 5/Options"}, {0x00, 0x01, 0x02}},
        // Channel 2 read back twice alike with its first byte changed, then
        // no read after the writes: the output, which held, is not claimed
        // either, since the record it went in does not hold.
        {"RM3, channel 2 read back otherwise, then the power lost", &kRm3, rm3, 2, false, K::NoAnswer, {2, 5}, {},
         {0x00, 0x01, 0x01}},
    };
    for (const Row& r : rows) {
        sim::SeciMech* m = plug(*r.family);
        seci::SeciSettings fam(*r.family);
        settings::Snapshot file;
        ASSERT_EQ(fam.read(station, nullptr, file), "") << r.what;
        EXPECT_EQ(file.delay, 68);
        EXPECT_EQ(settings::check(fam, file), "") << r.what;
        // The file as saved and loaded again.
        std::string error;
        const auto loaded = settings::from_json(fam, settings::to_json(fam, file), &error);
        ASSERT_TRUE(loaded) << r.what << ": " << error;
        EXPECT_EQ(loaded->values, file.values) << r.what;

        std::vector<std::string> names;
        for (const Change& c : r.changes) {
            Record rec = of_bytes(*r.family, m->record(c.channel));
            (c.field == 8 ? rec.flags : c.field == 9 ? rec.output : rec.value[size_t(c.field)]) = c.value;
            m->record(c.channel) = bytes(*r.family, rec);
            names.push_back(c.name);
        }
        m->set_power_cut_after(r.cut_after);
        m->garble_reads(2, r.garble);
        if (r.unplugged)
            setup.plug("none"); // m is gone
        RecordingPort rec(*station.port);
        station.port = &rec;
        const settings::Outcome o = settings::restore(station, fam, *loaded, false, nullptr);
        station.port = &setup.bench();

        EXPECT_EQ(o.kind, r.kind) << r.what << ": " << o.message();
        EXPECT_EQ(written_channels(tokens(rec.events, 68), *r.family), r.channels_written) << r.what;
        EXPECT_EQ(o.written, r.verified) << r.what;
        if (r.kind == K::Held) {
            EXPECT_EQ(o.before.to_write(), names) << r.what;
            EXPECT_EQ(o.message(), "3 réglages écrits, tous vérifiés") << r.what;
            settings::Snapshot again;
            ASSERT_EQ(fam.read(station, nullptr, again), "") << r.what;
            EXPECT_TRUE(settings::compare(fam, again, file).to_write().empty()) << r.what;
            continue;
        }
        // Nothing is claimed beyond what was written and verified; what the
        // comparison found to write and was not verified is listed.
        EXPECT_TRUE(o.failed.empty()) << r.what;
        EXPECT_EQ(o.before.rows.empty(), r.unplugged) << r.what;
        for (const std::string& n : r.unplugged ? std::vector<std::string>{} : names)
            if (std::find(r.verified.begin(), r.verified.end(), n) == r.verified.end()) {
                EXPECT_NE(std::find(o.not_written.begin(), o.not_written.end(), n), o.not_written.end())
                    << r.what << ": " << n;
            }
        EXPECT_EQ(o.exit_code(), 1);
        EXPECT_NE(o.message().find("ne répond pas"), std::string::npos) << r.what << ": " << o.message();
    }
}

// A settings file with one setting set (added when the file has no such setting).
QByteArray with_setting(const QByteArray& json, const std::string& name, int value)
{
    QJsonObject root = QJsonDocument::fromJson(json).object();
    const QStringList path = QString::fromStdString(name).split('/');
    std::function<QJsonObject(QJsonObject, int)> put = [&](QJsonObject o, int i) {
        if (i + 1 == path.size())
            o.insert(path[i], value);
        else
            o.insert(path[i], put(o.value(path[i]).toObject(), i + 1));
        return o;
    };
    root.insert("reglages", put(root.value("reglages").toObject(), 0));
    return QJsonDocument(root).toJson();
}

TEST(SeciSettingsFile, FaultsOfTheFamilyAreRefusedNamingTheSetting)
{
    struct Row {
        const char* what;
        const Family* written; // the family the file was made for
        const Family* read;    // the family it is loaded as
        std::string name;      // a setting set (added when the family lacks it)
        int value;
        std::string error; // "" accepted; else what the message names
    };
    const std::vector<Row> rows = {
        {"RM3 channel 7", &kRm3, &kRm3, "Canal 7/HFU/max", 1200, "« Canal 7/HFU/max »"},
        {"RM3 has no + pair", &kRm3, &kRm3, "Canal 1/+/max", 1200, "« Canal 1/+/max »"},
        {"RM4 channel 13", &kRm4, &kRm4, "Canal 13/Sortie", 1, "« Canal 13/Sortie »"},
        {"RM4 sensor bound above a byte", &kRm4, &kRm4, "Canal 3/HFU/min", 256, "« Canal 3/HFU/min » vaut 256, hors de 0..255"},
        {"RM4 + bound is 16-bit", &kRm4, &kRm4, "Canal 3/+/min", 65535, ""},
        {"RM3 bound is 16-bit", &kRm3, &kRm3, "Canal 6/LF/min", 65535, ""},
        {"RM3 bound above 16 bits", &kRm3, &kRm3, "Canal 6/LF/min", 65536, "« Canal 6/LF/min »"},
        {"RM4 output 8", &kRm4, &kRm4, "Canal 2/Sortie", 8, "« Canal 2/Sortie » vaut 8, hors de 0..7"},
        {"RM3 output 15 (emptied)", &kRm3, &kRm3, "Canal 2/Sortie", 15, ""},
        {"RM3 options above a nibble", &kRm3, &kRm3, "Canal 4/Options", 16, "« Canal 4/Options »"},
        {"RM3 file loaded as an RM4", &kRm3, &kRm4, "Canal 1/Sortie", 1, "« RM3 »"},
    };
    for (const Row& r : rows) {
        seci::SeciSettings made(*r.written), as(*r.read);
        settings::Snapshot s;
        s.family = made.code();
        for (const settings::Setting& setting : made.all_settings())
            s.values[setting.name] = setting.min;
        std::string error;
        const auto got = settings::from_json(as, with_setting(settings::to_json(made, s), r.name, r.value), &error);
        if (r.error.empty()) {
            EXPECT_TRUE(got) << r.what << ": " << error;
        } else {
            EXPECT_FALSE(got) << r.what;
            EXPECT_NE(error.find(r.error), std::string::npos) << r.what << ": " << error;
        }
    }
}

} // namespace
