// Reply decoding and recording of the C120 link, on runs built by hand and on
// a port that plays a scripted reply line.
#include <gtest/gtest.h>

#include <vector>

#include "c120/c120_link.h"
#include "c120/c220b_link.h"
#include "link/station.h"

using namespace zuna;
using namespace zuna::c120;

namespace {

// Runs of a reply: each byte as start bit (level 1), inverted data bits LSB
// first, then its stop level (level 0) of the given length; the last stop is
// the 10000-read end. Consecutive equal levels merge as the recorder sees them.
std::vector<int32_t> runs_of(const std::vector<std::pair<uint8_t, int>>& bytes)
{
    std::vector<int> levels; // one per bit time: 1 or 0
    for (auto [b, stop] : bytes) {
        levels.push_back(1);
        for (int i = 0; i < 8; ++i)
            levels.push_back((b >> i) & 1 ? 0 : 1);
        for (int i = 0; i < stop; ++i)
            levels.push_back(0);
    }
    std::vector<int32_t> runs;
    int current = 1, length = 0;
    for (int l : levels) {
        if (l != current) {
            runs.push_back(length);
            current = l;
            length = 0;
        }
        ++length;
    }
    runs.push_back(kRunEnd); // the line stays at 0: the end of the reply
    return runs;
}

std::vector<uint8_t> decode(const std::vector<int32_t>& runs, int capacity = 22)
{
    std::vector<uint8_t> out(capacity + 8, 0xEE); // guard bytes past capacity
    decode_table(runs.data(), int(runs.size()), out.data(), capacity);
    return out;
}

} // namespace

TEST(C120Decode, BytesLandWhereTheirStopsPutThem)
{
    struct Case {
        const char* what;
        std::vector<std::pair<uint8_t, int>> bytes;
        std::vector<std::pair<int, uint8_t>> expect; // index -> byte
        int coin = -1; // 1: a readable coin reply, 0: an unreadable one (never shown), -1: not asked
    } cases[] = {
        {"long pauses: every third place",
         {{5, 8}, {0x21, 8}, {0xC8, 8}, {0x96, 8}, {0x99, 8}},
         {{0, 5}, {1, 0}, {2, 0}, {3, 0x21}, {6, 0xC8}, {9, 0x96}, {12, 0x99}}},
        {"stop of 3: consecutive", {{0x12, 3}, {0x34, 8}}, {{0, 0x12}, {1, 0x34}, {2, 0}}},
        {"stop of 4 is still short", {{0xF0, 4}, {0x0F, 8}}, {{0, 0xF0}, {1, 0x0F}}},
        {"stop of 5 is a pause", {{0xF0, 5}, {0x0F, 8}}, {{0, 0xF0}, {1, 0}, {3, 0x0F}}},
        {"all-zero and all-one bytes", {{0x00, 6}, {0xFF, 6}, {0x80, 6}}, {{0, 0x00}, {3, 0xFF}, {6, 0x80}}},
        {"short stop before a byte starting with 1", {{0x01, 2}, {0x01, 9}}, {{0, 1}, {1, 1}}},
        {"coin reply", {{5, 8}, {120, 8}, {131, 8}, {77, 8}}, {{0, 5}, {3, 120}, {6, 131}, {9, 77}}, 1},
        {"coin reply, a value after a short stop", {{5, 8}, {120, 3}, {131, 8}, {77, 8}},
         {{0, 5}, {3, 120}, {4, 131}, {6, 0}, {7, 77}, {9, 0}}, 0},
        {"coin reply, one byte more", {{5, 8}, {120, 8}, {131, 8}, {77, 8}, {0x12, 8}}, {{9, 77}, {12, 0x12}}, 0},
        {"coin reply, a value missing", {{5, 8}, {120, 8}, {131, 8}}, {{0, 5}, {6, 131}, {9, 0}}, 0},
    };
    for (const Case& c : cases) {
        const auto runs = runs_of(c.bytes);
        std::vector<uint8_t> out(kSymbolBufferSize, 0xEE);
        const Placed placed = decode_table(runs.data(), int(runs.size()), out.data(), kSymbolBufferSize);
        for (auto [i, b] : c.expect)
            EXPECT_EQ(out[i], b) << c.what << " index " << i;
        if (c.coin >= 0)
            EXPECT_EQ(coin_reply_readable(out.data(), placed), c.coin == 1) << c.what;
    }
}

TEST(C120Decode, EndsAndBounds)
{
    // A stop of 99996 or more ends the decoding: what follows is not decoded.
    std::vector<int32_t> runs = runs_of({{0x12, 8}});
    runs.back() = 99996;
    runs.insert(runs.end(), {1, 2, 3});
    auto out = decode(runs);
    EXPECT_EQ(out[0], 0x12);
    EXPECT_EQ(out[3], 0);

    // The output never grows past its capacity, however long the reply.
    std::vector<std::pair<uint8_t, int>> many(40, {0xA5, 1});
    out = decode(runs_of(many), 21);
    EXPECT_EQ(out[20], 0xA5);
    for (int i = 21; i < 29; ++i)
        EXPECT_EQ(out[i], 0xEE) << i;

    // Only the first 200 entries count.
    std::vector<int32_t> long_runs(300, 1);
    out = decode(long_runs, 21);
    EXPECT_EQ(out[21], 0xEE);

    // Nothing recorded: zeros.
    out = decode({});
    EXPECT_EQ(out[0], 0);
}

TEST(C120Decode, GlitchInAPauseDoesNotShiftTheBytes)
{
    // A 1-tick glitch late in a pause records as an empty level-1 run between
    // two level-0 runs; the byte after it must still land at index 3.
    std::vector<int32_t> runs = runs_of({{5, 8}, {0x40, 8}});
    const std::vector<int32_t> clean = runs;
    for (size_t i = 1; i < runs.size(); i += 2)
        if (runs[i] >= 8) { // the pause after the first byte
            const int32_t pause = runs[i];
            runs[i] = 6;
            runs.insert(runs.begin() + i + 1, {0, pause - 6});
            break;
        }
    EXPECT_EQ(decode(runs)[0], decode(clean)[0]);
    EXPECT_EQ(decode(runs)[3], 0x40);
    EXPECT_EQ(decode(clean)[3], 0x40);
}

namespace {

// Status reads follow a script of (level of bit 7, number of reads); after
// the script the line stays at 0.
struct ScriptPort : Port {
    std::vector<std::pair<bool, int64_t>> script;
    size_t at = 0;
    int64_t used = 0;
    int64_t reads = 0;
    void write_data_port(uint8_t) override {}
    uint8_t read_status_port() override
    {
        ++reads;
        while (at < script.size() && used >= script[at].second) {
            ++at;
            used = 0;
        }
        if (at >= script.size())
            return 0;
        ++used;
        return script[at].first ? 0x80 : 0;
    }
    void mask_interrupts() override {}
    void unmask_interrupts() override {}
    void idle(uint64_t) override {}
};

} // namespace

TEST(C120Record, RunsTimeOutAndEnd)
{
    struct Case {
        const char* what;
        int32_t delay;
        int64_t timeout;
        std::vector<std::pair<bool, int64_t>> script;
        std::vector<int32_t> expect;
    } cases[] = {
        // The read that sees a level change is counted in neither run.
        {"bits rounded", 100, 1000, {{false, 10}, {true, 101}, {false, 301}, {true, 351}}, {1, 3, 4, kRunEnd}},
        {"halves to even", 100, 1000, {{true, 251}, {false, 351}, {true, 101}}, {2, 4, 1, kRunEnd}},
        // 2.4, 2.6, 4.5, 5.5 bit times: truncated 2 2 4 5, halves up 2 3 5 6.
        {"near and on halves", 100, 1000, {{true, 241}, {false, 261}, {true, 451}, {false, 551}, {true, 101}},
         {2, 3, 4, 6, 1, kRunEnd}},
        {"exactly 10000 reads end", 138, 1000, {{false, 3}, {true, 10001}}, {kRunEnd}},
        {"9999 reads are a run", 138, 1000, {{false, 3}, {true, 10000}}, {72, kRunEnd}},
        {"a glitch inside a level is no run", 100, 1000,
         {{true, 150}, {false, 3}, {true, 150}, {false, 301}, {true, 101}}, {3, 3, 1, kRunEnd}},
        // Half a bit is the glitch threshold (50 reads at delay 100; the read
        // that sees a pulse begin is not counted in it).
        {"a pulse just under half a bit is a glitch", 100, 1000,
         {{true, 150}, {false, 50}, {true, 150}, {false, 301}, {true, 101}}, {3, 3, 1, kRunEnd}},
        {"a pulse of half a bit is a level (rounded to 0)", 100, 1000,
         {{true, 150}, {false, 51}, {true, 150}, {false, 301}, {true, 101}}, {1, 0, 1, 3, 1, kRunEnd}},
        {"a pulse just over half a bit is a level", 100, 1000,
         {{true, 150}, {false, 52}, {true, 150}, {false, 301}, {true, 101}}, {1, 1, 1, 3, 1, kRunEnd}},
        {"a glitch before the reply is no start", 100, 1000, {{false, 10}, {true, 2}, {false, 10}, {true, 101}},
         {1, kRunEnd}},
        // A spike 48 reads into a level: the spike is the glitch, not the level.
        {"a spike just after an edge keeps the level", 100, 1000,
         {{false, 10}, {true, 101}, {false, 48}, {true, 3}, {false, 250}, {true, 101}}, {1, 3, 1, kRunEnd}},
        {"a spike just before an edge", 100, 1000,
         {{false, 10}, {true, 101}, {false, 250}, {true, 3}, {false, 48}, {true, 101}}, {1, 3, 1, kRunEnd}},
        {"a glitch as long as the time-out allows", 100, 30, {{false, 10}, {true, 2}, {false, 30}, {true, 101}}, {}},
        {"time-out: nothing", 138, 1000, {{false, 1000}, {true, 500}}, {}},
        {"just inside the time-out", 138, 1000, {{false, 999}, {true, 139}}, {1, kRunEnd}},
        {"delay 0 counts as 1", 0, 1000, {{true, 4}, {false, 3}, {true, 2}}, {3, 2, 1, kRunEnd}},
    };
    for (const Case& c : cases) {
        ScriptPort port;
        port.script = c.script;
        Station s(port);
        s.delay.c120 = c.delay;
        s.c120_read_timeout = c.timeout;
        std::vector<int32_t> runs(50, -7);
        const int n = lecture_monayeur(s, runs.data(), 50);
        runs.resize(n);
        EXPECT_EQ(runs, c.expect) << c.what;
    }
}

// The C220B listens with the same glitch rule and the same rounding (its own delay count).
TEST(C120Record, C220BDropsTheSpikeNotTheLevel)
{
    const struct {
        std::vector<std::pair<bool, int64_t>> script;
        std::vector<int32_t> runs; // the first ones recorded
    } rows[] = {
        {{{false, 10}, {true, 101}, {false, 48}, {true, 3}, {false, 250}, {true, 101}}, {1, 3, 1}},
        {{{false, 10}, {true, 101}, {false, 250}, {true, 3}, {false, 48}, {true, 101}}, {1, 3, 1}},
        // 2.4, 2.6, 4.5, 5.5, 2.5 bit times: truncated 2 2 4 5 2, halves up 2 3 5 6 3.
        {{{false, 10}, {true, 241}, {false, 261}, {true, 451}, {false, 551}, {true, 251}, {false, 101}},
         {2, 3, 4, 6, 2}},
    };
    for (const auto& row : rows) {
        ScriptPort port;
        port.script = row.script;
        Station s(port);
        s.delay.c220b = 100;
        std::vector<int32_t> runs(50, -7);
        const int n = c220b::ecrir_instruction_c220(s, c220b::kOpen, 40, runs.data(), 50);
        ASSERT_GE(n, int(row.runs.size()));
        EXPECT_EQ(std::vector<int32_t>(runs.begin(), runs.begin() + row.runs.size()), row.runs);
    }
}

TEST(C120Record, StopsWhenTheRunsAreFull)
{
    ScriptPort port;
    for (int i = 0; i < 20; ++i)
        port.script.push_back({i % 2 == 0, 100});
    Station s(port);
    s.delay.c120 = 100;
    std::array<int32_t, 6> runs{};
    EXPECT_EQ(lecture_monayeur(s, runs.data(), 5), 5);
    EXPECT_EQ(runs[5], 0);
}
