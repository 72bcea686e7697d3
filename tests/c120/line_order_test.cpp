// What the C120 and C220B operations put on the line, in order: a recording
// port turns the port accesses into tokens (line values held one bit time,
// decoded commands, status-read counts, long pauses, masked spans) that are
// compared with the expected sequence of each operation.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "ui/shell.h"
#include "app/windows.h"
#include "c120/c120_link.h"
#include "c120/c120_memory.h"
#include "c120/c120_settings.h"
#include "c120/c220b.h"
#include "c120/c220b_link.h"
#include "c120/c_120.h"
#include "c120/calibrate.h"
#include "link/timing.h"
#include "settings/settings.h"
#include "sim/c120_mech.h"
#include "sim/c220b_mech.h"
#include "tests/c120/c120_fixture.h"
#include "tests/common/counting_port.h"
#include "tests/common/recording_port.h"

using namespace zuna;
using Tokens = std::vector<std::string>;

namespace {

using test::RecordingPort;

std::string hex(uint8_t v)
{
    char b[4];
    std::snprintf(b, sizeof b, "%02X", v);
    return b;
}

std::string command_name(const std::vector<uint8_t>& c)
{
    const size_t n = c.size();
    if (n >= 3 && c[0] == 0x05 && (c[1] == 0x78 || c[1] == 0x79) && c[2] == c[1] && (n == 3 || (n == 4 && c[3] == 0xFF)))
        return std::string(c[1] == 0x78 ? "open" : "close") + "/" + std::to_string(n);
    if ((n == 4 && c == std::vector<uint8_t>{0x7F, 0x1F, 0x9E, 0xFF}) || (n == 2 && c[0] == 0xFF && c[1] == 0xFF))
        return "measure/" + std::to_string(n);
    if (n == 4 && c[0] == 0x05 && c[1] == 0x7B && c[3] == uint8_t(0x7B + c[2]))
        return "read " + std::to_string(c[2]);
    if (n == 5 && c[0] == 0x7A && c[4] == uint8_t(0x7A + c[1] + c[2] + c[3]))
        return "write " + std::to_string(c[1]) + " " + std::to_string(c[2]) + " " + std::to_string(c[3]);
    std::string s = "?";
    for (uint8_t b : c)
        s += " " + hex(b);
    return s;
}

// How a family frames its commands: data values, writes per command bit,
// writes per other line value, stop bits after the last byte.
struct Framing {
    uint8_t bit0, bit1;
    int64_t unit_cmd, unit_other;
    int stops_after_last;
};

Tokens tokens(const std::vector<RecordingPort::Event>& ev, const Framing& f)
{
    Tokens out;
    size_t i = 0;
    int64_t rem = ev.empty() ? 0 : ev[0].count;
    auto advance = [&] {
        ++i;
        rem = i < ev.size() ? ev[i].count : 0;
    };
    // One command bit time: the value held, or -1 when the writes do not make one.
    auto take = [&]() -> int {
        if (i >= ev.size() || ev[i].kind != RecordingPort::Write || rem < f.unit_cmd)
            return -1;
        const int v = ev[i].value;
        rem -= f.unit_cmd;
        if (rem == 0)
            advance();
        return v;
    };
    while (i < ev.size()) {
        const auto& e = ev[i];
        switch (e.kind) {
        case RecordingPort::Read:
            out.push_back("R" + std::to_string(rem));
            advance();
            continue;
        case RecordingPort::Idle:
            out.push_back(rem == 4 * int64_t(kLongPauseSteps) ? "P" : "I" + std::to_string(rem));
            advance();
            continue;
        case RecordingPort::Mask:
            out.push_back("[");
            advance();
            continue;
        case RecordingPort::Unmask:
            out.push_back("]");
            advance();
            continue;
        case RecordingPort::Write:
            break;
        }
        if (e.value == f.bit0 && rem >= f.unit_cmd) { // a start bit: a command
            take();
            std::vector<uint8_t> bytes;
            bool bad = false;
            for (;;) {
                uint8_t byte = 0;
                for (int b = 0; b < 8 && !bad; ++b) {
                    const int v = take();
                    bad = v != f.bit0 && v != f.bit1;
                    if (v == f.bit1)
                        byte |= uint8_t(1u << b);
                }
                if (bad)
                    break;
                bytes.push_back(byte);
                const size_t si = i;
                const int64_t srem = rem;
                int stops = 0;
                while (stops < 5 && take() == f.bit1)
                    ++stops;
                if (stops == 5 && take() == f.bit0)
                    continue; // five stop bits and the next start bit: the command goes on
                i = si;
                rem = srem;
                for (int k = 0; k < f.stops_after_last && !bad; ++k)
                    bad = take() != f.bit1;
                break;
            }
            out.push_back(bad ? "?" + command_name(bytes) : command_name(bytes));
            continue;
        }
        // Another line value: one token per bit time.
        if (rem % f.unit_other == 0) {
            for (int64_t k = 0; k < rem / f.unit_other; ++k)
                out.push_back(hex(e.value));
        } else {
            out.push_back(hex(e.value) + "*" + std::to_string(rem));
        }
        advance();
    }
    return out;
}

// Replies vary in length: the reads right after a command become "R".
Tokens replies_as_r(Tokens t)
{
    for (size_t k = 1; k < t.size(); ++k) {
        const std::string& p = t[k - 1];
        if (t[k][0] == 'R' && (p.rfind("open", 0) == 0 || p.rfind("close", 0) == 0 || p.rfind("read", 0) == 0 ||
                                p.rfind("write", 0) == 0 || p.rfind("measure", 0) == 0))
            t[k] = "R";
    }
    return t;
}

Tokens cat(std::initializer_list<Tokens> parts)
{
    Tokens t;
    for (const Tokens& p : parts)
        t.insert(t.end(), p.begin(), p.end());
    return t;
}

std::string join(const Tokens& t)
{
    std::string s;
    for (const std::string& x : t)
        s += x + " | ";
    return s;
}

#define EXPECT_TOKENS(got, want) EXPECT_EQ(join(got), join(want))

// Start bits (data bit 0 low) written while the line was already low: no
// falling edge, so the mechanism never sees that command.
int starts_without_edge(const std::vector<RecordingPort::Event>& ev)
{
    int n = 0;
    int last = -1;
    for (const auto& e : ev) {
        if (e.kind != RecordingPort::Write)
            continue;
        if (last >= 0 && !(e.value & 1) && !(last & 1))
            ++n;
        last = e.value;
    }
    return n;
}

// --- C120 on the simulated bench -----------------------------------------------

struct C120Line : C120Bench {
    explicit C120Line(const char* faults = "") : C120Bench(faults), rec(bench())
    {
        station.port = &rec;
        d = station.delay.c120;
    }
    Tokens take_tokens()
    {
        Tokens t = replies_as_r(tokens(rec.events, {0x60, 0x61, d + 1, d + 1, 0}));
        rec.events.clear();
        return t;
    }
    std::string wait200() const { return "R" + std::to_string(int64_t(d) * 200 + 1); }
    Tokens wake() const { return {"63", "P", "61"}; }
    RecordingPort rec;
    int32_t d = 0;
};

TEST_F(C120Line, WholeReadIsWakeOpenWordsThenClose)
{
    c120::lecture(station, nullptr);
    Tokens want = cat({{"["}, wake(), {"open/4", "R", "P"}});
    for (int a = 0; a < 128; ++a)
        want = cat({want, {"read " + std::to_string(a), "R", "71", wait200(), "P"}});
    want = cat({want, {"close/4", "63", "]"}});
    EXPECT_TOKENS(take_tokens(), want);
}

TEST_F(C120Line, WordWriteAndChecksumRepair)
{
    c120::lecture(station, nullptr);
    take_tokens();
    const uint8_t b255 = station.memory_image[256];
    const uint8_t old13 = station.memory_image[c120::word_index(13)];
    const uint8_t old13b = station.memory_image[c120::word_index(13) + 1];

    struct Case {
        const char* what;
        int word;
        uint8_t first, second;
        bool repair; // ecrit_data_1 with the image's own checksum
    };
    const Case cases[] = {{"ecrit_data", 14, 130, 113, false}, {"ecrit_data_1", 113, 0, 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int a = c.word - 1;
        uint8_t first = c.first, second = c.second;
        uint8_t sum;
        if (c.repair) {
            first = station.memory_image[c120::word_index(a)];
            second = station.memory_image[c120::word_index(a) + 1];
            sum = c120::checksum(station.memory_image);
            ASSERT_EQ(c120::ecrit_data_1(station, c.word, sum), c120::WriteResult::Verified);
        } else {
            c120::Image img = station.memory_image;
            img[c120::word_index(a)] = first;
            img[c120::word_index(a) + 1] = second;
            sum = c120::checksum(img);
            ASSERT_EQ(c120::ecrit_data(station, c.word, first, second), c120::WriteResult::Verified);
        }
        const std::string w = "write " + std::to_string(a) + " " + std::to_string(first) + " " + std::to_string(second);
        const std::string ws = "write 127 " + std::to_string(sum) + " " + std::to_string(b255);
        // A checksum write whose last data bit is 0 leaves the line low: it is
        // raised for one bit time before the close.
        const bool low = !(uint8_t(0x7A + 0x7F + sum + b255) & 0x80);
        const Tokens close = low ? Tokens{"61", "close/4"} : Tokens{"close/4"};
        const Tokens want = cat({{"["}, wake(), {"open/4"}, wake(),
                                 {"read " + std::to_string(a), "R", "read 127", "R", "open/4", "R"},
                                 {w, "R", "63", wait200(), "61", ws, "R"}, close, {"R"}, wake(),
                                 {"read " + std::to_string(a), "R", "read 127", "R", "]"}});
        EXPECT_TOKENS(take_tokens(), want);
    }
    // Put word 14 back as it was, for the memory's sake.
    c120::ecrit_data(station, 14, old13, old13b);
    EXPECT_EQ(starts_without_edge(rec.events), 0);
}

// A noisy reply line makes retries common; each retry must reach the
// mechanism (reads of words 0 to 4 end on a data bit 0).
struct NoisyC120Line : C120Line {
    NoisyC120Line() : C120Line("noise") {}
};

TEST_F(NoisyC120Line, ReadsCompleteAndEveryStartBitHasAFallingEdge)
{
    for (int r = 0; r < 3; ++r) {
        ASSERT_EQ(c120::lecture(station, nullptr), 128) << r;
        for (int m = 0; m < 256; ++m)
            ASSERT_EQ(station.memory_image[m + 1], mech->memory()[m]) << r << " byte " << m;
    }
    for (int n = 1; n <= 5; ++n) // verified by reading words 0 to 4 back
        EXPECT_EQ(c120::ecrit_data(station, n, uint8_t(0x30 + n), uint8_t(n)), c120::WriteResult::Verified) << n;
    EXPECT_EQ(starts_without_edge(rec.events), 0);
    EXPECT_TRUE(mech->checksum_holds());
}

TEST_F(C120Line, LinkClose)
{
    c120::close_link(station);
    EXPECT_TOKENS(take_tokens(), (Tokens{"61", "close/4", "R", "read 127", "R", "63"}));
}

// --- Restores: only the words of changed settings are written ----------------

// Three settings in three words changed in the mechanism's memory after a
// save; a dry run writes nothing, the restore writes those three words (and
// the checksum word with each) and leaves the memory as the file holds it.
struct RestoreRow {
    const char* family;
    std::unique_ptr<settings::Family> (*make)();
    std::vector<std::pair<int, uint8_t>> bytes; // memory byte, new value
    std::vector<std::string> names;             // in the order the window shows them
    std::set<int> words;                        // word addresses the restore may write
};

const RestoreRow kRestoreRows[] = {
    {"c120", c120::make_c120_settings, {{22, 90}, {77, 3}, {169, 32}},
     {"Canal 2/Mesure 1/max", "Canal 5/Mesure 3/min", "Sorties/Canal 4"}, {11, 38, 84}},
    {"c220b", c120::make_c220b_settings, {{112, 77}, {51, 250}, {242, 5}},
     {"Canal 1/Mesure 2/min", "Canal 16/Mesure 3/max", "Sorties/Canal 7"}, {25, 56, 121}},
};

struct RestoreLine : C120Line {
    explicit RestoreLine(const char* faults = "") : C120Line(faults) {}
    Tokens family_tokens(const char* family)
    {
        if (std::string(family) == "c120")
            return take_tokens();
        Tokens t = replies_as_r(tokens(rec.events, {0x70, 0x71, station.delay.c220b + 1, d + 1, 1}));
        rec.events.clear();
        return t;
    }
    // Word addresses of the write commands (the checksum word apart).
    static std::set<int> written(const Tokens& t)
    {
        std::set<int> out;
        for (const std::string& x : t)
            if (x.rfind("write ", 0) == 0 && std::stoi(x.substr(6)) != c120::kChecksumWord)
                out.insert(std::stoi(x.substr(6)));
        return out;
    }
};
struct PowerCutRestoreLine : RestoreLine {
    PowerCutRestoreLine() : RestoreLine("power-cut=3") {}
};

TEST_F(RestoreLine, OnlyTheChangedWordsAreWrittenAndTheMechanismEndsAsTheFile)
{
    for (const RestoreRow& r : kRestoreRows) {
        SCOPED_TRACE(r.family);
        mech = static_cast<sim::SerialMech*>(setup.plug(r.family));
        auto f = r.make();
        settings::Snapshot file;
        ASSERT_EQ(f->read(station, nullptr, file), "");
        ASSERT_EQ(settings::check(*f, file), "");
        EXPECT_EQ(file.image, std::vector<uint8_t>(mech->memory().begin(), mech->memory().end()));
        for (const auto& [byte, value] : r.bytes)
            mech->memory()[byte] = value;
        mech->fix_checksum();

        rec.events.clear();
        settings::Outcome dry = settings::restore(station, *f, file, true, nullptr);
        EXPECT_EQ(dry.before.to_write(), r.names);
        EXPECT_EQ(dry.not_written, r.names);
        EXPECT_TRUE(written(family_tokens(r.family)).empty());

        settings::Outcome o = settings::restore(station, *f, file, false, nullptr);
        EXPECT_EQ(o.kind, settings::Outcome::Held) << o.message();
        EXPECT_EQ(o.before.to_write(), r.names);
        EXPECT_EQ(o.written, r.names);
        EXPECT_EQ(written(family_tokens(r.family)), r.words);
        EXPECT_EQ(std::vector<uint8_t>(mech->memory().begin(), mech->memory().end()), file.image);
        EXPECT_TRUE(mech->checksum_holds());

        settings::Snapshot again;
        ASSERT_EQ(f->read(station, nullptr, again), "");
        for (const settings::Row& row : settings::compare(*f, again, file).rows)
            EXPECT_FALSE(row.differs()) << row.name;
    }
}

// The mechanism loses power at the second word's write: the first word's
// settings are written and verified, the others are not, nothing more is claimed.
TEST_F(PowerCutRestoreLine, WhatWasVerifiedIsListedAndTheRestIsNot)
{
    for (const RestoreRow& r : kRestoreRows) {
        SCOPED_TRACE(r.family);
        mech = static_cast<sim::SerialMech*>(setup.plug(r.family));
        auto f = r.make();
        settings::Snapshot file;
        ASSERT_EQ(f->read(station, nullptr, file), "");
        for (const auto& [byte, value] : r.bytes)
            mech->memory()[byte] = value;
        mech->fix_checksum();
        const settings::Outcome o = settings::restore(station, *f, file, false, nullptr);
        EXPECT_EQ(o.kind, settings::Outcome::NoAnswer);
        EXPECT_FALSE(mech->powered());
        EXPECT_EQ(o.written, std::vector<std::string>{r.names[0]});
        EXPECT_EQ(o.not_written, std::vector<std::string>(r.names.begin() + 1, r.names.end()));
        EXPECT_NE(o.message().find("Écrits et vérifiés"), std::string::npos) << o.message();
        EXPECT_EQ(o.message().find("tous vérifiés"), std::string::npos) << o.message();
        EXPECT_EQ(bench().mask_depth(), 0);
    }
}

// --- Silent line: time-outs and listening windows are read counts -------------

struct SilentLine : ::testing::Test {
    SilentLine() : rec(port), station(rec), shell(station)
    {
        station.delay.c120 = 10;
        station.delay.c220b = 7; // another count, so each value shows whose bit time it holds
        create_start_windows(shell, nullptr);
    }
    ~SilentLine() override
    {
        for (QDialog* dlg : shell.dialogs())
            delete dlg;
    }
    Tokens c120_tokens()
    {
        Tokens t = tokens(rec.events, {0x60, 0x61, 11, 11, 0});
        rec.events.clear();
        return t;
    }
    Tokens c220b_tokens()
    {
        Tokens t = tokens(rec.events, {0x70, 0x71, 8, 11, 1});
        rec.events.clear();
        return t;
    }
    // A C120 record that times out after t: (t + 2) reads.
    static std::string timed_out(int64_t t) { return "R" + std::to_string(t + 2); }
    // A C220B command listened to for w bit times.
    static std::string window(int w) { return "R" + std::to_string(int64_t(w - 1) * 7); }

    test::CountingPort port; // status 0: nothing ever answers
    RecordingPort rec;
    Station station;
    Shell shell;
};

TEST_F(SilentLine, C120TestTeachAndTheShortTimeOutAfterATest)
{
    Tc_120 w(shell);
    w.show_message = [](const QString&) {};
    w.Button2Click(); // Tester
    // Only the coin's answer waits for a coin; what follows it waits the normal time.
    const std::string t90 = timed_out(900000), t59 = timed_out(5900000);
    EXPECT_TOKENS(c120_tokens(), (Tokens{"[", "61", "read 127", t90, "open/4", t90, "measure/4", "measure/4", t59,
                                         "read 127", t90, "61", "read 127", t90, "close/4", t90, "P", "read 127", t90,
                                         "read 127", t90, "63", "]", "63"}));
    EXPECT_EQ(station.c120_read_timeout, 90000);
    w.Button5Click(); // Lecture right after: the open waits 90000 only
    EXPECT_TOKENS(c120_tokens(), (Tokens{"open/4", "[", "63", "P", "61", "open/4", timed_out(90000), "P", "close/4",
                                         "63", "]", "61", "close/4", timed_out(90000), "read 127", timed_out(90000),
                                         "63"}));

    station.c120_read_timeout = c120::kTimeoutNormal;
    auto* cal = shell.dialog<Tcalibrate>();
    ASSERT_NE(cal, nullptr);
    cal->show_message = [](const QString&) {};
    cal->findChild<QSpinBox*>("nb_piece")->setValue(1);
    cal->BitBtn1Click(); // nothing answers the open: no coin is waited for
    EXPECT_TOKENS(c120_tokens(), (Tokens{"[", "71", "read 127", t90, "open/4", t90, "]", "[", "73", "]"}));
    EXPECT_EQ(station.c120_read_timeout, 900000);
    w.done(0);
}

TEST_F(SilentLine, C120ValidationWritesBetween03s)
{
    station.memory_image[0] = 1;
    // A mechanism that answers nothing: the first write gives up after its rounds.
    auto* v = shell.dialog<Tvalid_c120>();
    ASSERT_NE(v, nullptr);
    v->show_message = [](const QString&) {};
    v->BitBtn1Click();
    const Tokens t = c120_tokens();
    ASSERT_GE(t.size(), 8u);
    EXPECT_TOKENS(Tokens(t.begin(), t.begin() + 4), (Tokens{"[", "03", "03", "["}));
    EXPECT_TOKENS(Tokens(t.end() - 5, t.end()), (Tokens{"]", "03", "close/4", "03", "]"}));
    // Nothing answers the reads before the first round: the write ends there.
    int reads14 = 0;
    for (const std::string& x : t)
        reads14 += x == "read 10";
    EXPECT_EQ(reads14, 1);
}

TEST_F(SilentLine, C120AjustAndOutputsFrameTheirWrites)
{
    Tc_120 w(shell);
    w.show_message = [](const QString&) {};
    struct Case {
        const char* what;
        std::function<void()> click;
        Tokens head, tail;
    };
    const Case cases[] = {
        {"ok", [&] { w.okClick(); }, {"[", "63", "61", "[", "63", "P", "61", "open/4"},
         {"]", "61", "close/4", "open/4", "63", "]"}},
        {"cc_ok", [&] { w.cc_okClick(); }, {"[", "63", "61", "[", "63", "P", "61", "open/4"},
         {"]", "61", "close/4", "63", "]"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        station.memory_image[0] = 1;
        rec.events.clear();
        c.click();
        const Tokens t = c120_tokens();
        ASSERT_GE(t.size(), c.head.size() + c.tail.size());
        EXPECT_TOKENS(Tokens(t.begin(), t.begin() + c.head.size()), c.head);
        EXPECT_TOKENS(Tokens(t.end() - c.tail.size(), t.end()), c.tail);
    }
    w.done(0);
}

TEST_F(SilentLine, WordReadTries)
{
    // Nothing answers: the C120 stops after ten tries, the C220B tries thirty times.
    EXPECT_FALSE(c120::lect_mem_mech(station, 5));
    Tokens want;
    for (int t = 0; t < c120::kSilentTries; ++t) // 0x7F ends on a data bit 0: the line is raised before each retry
        want = cat({want, t ? Tokens{"61", "read 4", timed_out(900000)} : Tokens{"read 4", timed_out(900000)}});
    EXPECT_TOKENS(c120_tokens(), cat({want, {"71", "R2001"}}));

    EXPECT_FALSE(c220b::lect_mem_mech_c220(station, 5));
    want.clear();
    for (int t = 0; t < 30; ++t)
        want = cat({want, {"read 4", window(426)}});
    EXPECT_TOKENS(c220b_tokens(), want); // nothing on the lines after the tries
}

TEST_F(SilentLine, C220BListeningWindows)
{
    c220b::lecture_c220(station, nullptr);
    const std::string w458 = window(458);
    EXPECT_TOKENS(c220b_tokens(), (Tokens{"[", "71", "open/3", w458, "close/3", w458, "close/3", w458, "73", "]"}));

    station.memory_image[0] = 1;
    station.memory_image[256] = 0x5A; // byte 255 goes out as 0 and the checksum counts it so
    c120::Image img = station.memory_image;
    img[c120::word_index(56)] = 200;
    img[c120::word_index(56) + 1] = 150;
    img[256] = 0;
    const uint8_t sum = c120::checksum(img);
    c220b::ecrit_data_c220(station, 56, 200, 150);
    Tokens round = {"read 56", window(700), "read 127", window(600), "open/3", window(600)};
    round = cat({round, {"write 56 200 150", window(550), "write 127 " + std::to_string(sum) + " 0", window(550),
                         "open/3", window(650), "close/3", window(650), "read 56", window(550), "read 3", window(550),
                         "read 127", window(550)}});
    EXPECT_TOKENS(c220b_tokens(), cat({round, round, round, round, {"close/3", w458}}));
}

TEST_F(SilentLine, C220BWindowOperations)
{
    Tc220b w(shell);
    w.show_message = [](const QString&) {};
    rec.events.clear();
    const std::string w458 = window(458);

    w.Button2Click(); // Tester: the coin's answer is read with the C120 reader right after the window
    EXPECT_TOKENS(c220b_tokens(),
                  (Tokens{"[", "71", "close/3", w458, "open/3", w458, "measure/2",
                          "R" + std::to_string(199 * 7 + 5900000 + 2), "close/3", w458, "]"}));
    EXPECT_EQ(station.c120_read_timeout, 90000);

    auto* cal = shell.dialog<Tcalibrate_c220>();
    ASSERT_NE(cal, nullptr);
    cal->show_message = [](const QString&) {};
    cal->findChild<QSpinBox*>("nb_piece")->setValue(1);
    cal->BitBtn1Click(); // nothing answers the open: no coin is waited for
    EXPECT_TOKENS(c220b_tokens(), (Tokens{"[", "01", "open/3", w458, "]", "[", "03", "]"}));
    EXPECT_EQ(station.c120_read_timeout, 900000);

    station.memory_image[0] = 1;
    auto* v = shell.dialog<Tvalid_c220>();
    v->show_message = [](const QString&) {};
    v->findChild<QSpinBox*>("canal")->setValue(16);
    v->BitBtn1Click();
    Tokens t = c220b_tokens();
    ASSERT_GE(t.size(), 5u);
    EXPECT_TOKENS(Tokens(t.begin(), t.begin() + 3), (Tokens{"[", "01", "read 24"}));
    EXPECT_TOKENS(Tokens(t.end() - 3, t.end()), (Tokens{"close/3", w458, "]"}));

    station.memory_image[0] = 1;
    w.okClick(); // AJUST OK on channel 1
    t = c220b_tokens();
    ASSERT_GE(t.size(), 10u);
    EXPECT_TOKENS(Tokens(t.begin(), t.begin() + 4), (Tokens{"[", "73", "71", "read 9"}));
    EXPECT_TOKENS(Tokens(t.end() - 7, t.end()), (Tokens{"close/3", w458, "71", "close/3", w458, "73", "]"}));

    rec.events.clear();
    w.done(0);
    EXPECT_TOKENS(c220b_tokens(), (Tokens{"close/3", w458, "73"}));
}

} // namespace
