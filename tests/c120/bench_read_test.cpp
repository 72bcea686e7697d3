// The C120 link against the simulated mechanism: whole reads, word writes,
// coins, and the faults of the bench.
#include <gtest/gtest.h>

#include <QtGlobal>
#include <cstdio>
#include <functional>

#include "c120/c120_link.h"
#include "c120/c120_memory.h"
#include "c120/c120_settings.h"
#include "c120/c220b_link.h"
#include "link/module.h"
#include "sim/c120_mech.h"
#include "tests/c120/c120_fixture.h"

using namespace zuna;
using namespace zuna::c120;

TEST_F(C120Bench, LectureFillsTheImageWithTheMechanismMemory)
{
    EXPECT_EQ(lecture(station, nullptr), 128);
    EXPECT_EQ(station.memory_image[0], 1);
    for (int m = 0; m < 256; ++m)
        ASSERT_EQ(station.memory_image[m + 1], mech->memory()[m]) << "byte " << m;
    EXPECT_EQ(framing_errors(), 0);
    EXPECT_EQ(bench().mask_depth(), 0);
}

TEST_F(C120Bench, WordReadRetriesUpToThirtyTries)
{
    struct Case {
        int spoiled;
        bool ok;
        int reads;
    } cases[] = {{0, true, 1}, {1, true, 2}, {29, true, 30}, {30, false, 30}};
    for (const Case& c : cases) {
        const int before = mech->word_reads();
        mech->spoil_reads(c.spoiled);
        station.memory_image.fill(0);
        EXPECT_EQ(lect_mem_mech(station, 12), c.ok) << c.spoiled;
        EXPECT_EQ(mech->word_reads() - before, c.reads) << c.spoiled;
        EXPECT_EQ(station.memory_image[word_index(11)], c.ok ? mech->memory()[22] : 0) << c.spoiled;
        mech->spoil_reads(0);
    }
}

TEST_F(C120Bench, LectureStopsAtTheFirstWordThatFails)
{
    mech->spoil_reads(30);
    EXPECT_EQ(lecture(station, nullptr), 0);
    EXPECT_EQ(station.memory_image[0], 1); // the open was acknowledged
    EXPECT_EQ(station.memory_image[1], 0);
}

TEST_F(C120Bench, WordWriteChangesTheMechanismAndKeepsItsChecksum)
{
    ASSERT_EQ(lecture(station, nullptr), 128);
    // Channel 1, parameter 2: word 23 (bytes 44 and 45).
    EXPECT_EQ(ecrit_data(station, 23, 200, 150), WriteResult::Verified);
    EXPECT_EQ(mech->memory()[44], 200);
    EXPECT_EQ(mech->memory()[45], 150);
    EXPECT_TRUE(mech->checksum_holds());
    EXPECT_TRUE(checksum_holds(station.memory_image));
    for (int m = 0; m < 256; ++m)
        ASSERT_EQ(station.memory_image[m + 1], mech->memory()[m]) << m;
    EXPECT_EQ(bench().mask_depth(), 0);
}

TEST_F(C120Bench, ChecksumRepairMakesTheChecksumHold)
{
    mech->memory()[254] ^= 0x5A; // a memory whose checksum does not hold
    ASSERT_FALSE(mech->checksum_holds());
    ASSERT_EQ(lecture(station, nullptr), 128);
    const auto before = mech->memory();
    EXPECT_EQ(ecrit_data_1(station, 113, checksum(station.memory_image)), WriteResult::Verified);
    EXPECT_TRUE(mech->checksum_holds());
    for (int m = 0; m < 254; ++m) // only the checksum byte changed
        ASSERT_EQ(mech->memory()[m], before[m]) << m;
    EXPECT_TRUE(checksum_holds(station.memory_image));
}

TEST_F(C120Bench, CoinMeasurement)
{
    mech->queue_coin(120, 131, 77);
    station.c120_read_timeout = kTimeoutTest;
    CoinReply r = measure_coin(station, true);
    EXPECT_TRUE(r.acknowledged);
    EXPECT_TRUE(r.measured);
    EXPECT_EQ(station.symbols[3], 120);
    EXPECT_EQ(station.symbols[6], 131);
    EXPECT_EQ(station.symbols[9], 77);

    // Nobody passes a coin: bounded by the read time-out, nothing measured.
    mech->set_coins(false);
    const uint64_t t0 = bench().now();
    r = measure_coin(station, false);
    EXPECT_TRUE(r.acknowledged);
    EXPECT_FALSE(r.measured);
    EXPECT_LT(bench().now() - t0, uint64_t(kTimeoutTest + 200000));
}

namespace {
struct PowerCut : C120Bench {
    PowerCut() : C120Bench("power-cut=1") {}
};
struct Silent : C120Bench {
    Silent() : C120Bench("silent") {}
};
struct Noisy : C120Bench {
    Noisy() : C120Bench("noise") {}
};
} // namespace

TEST_F(PowerCut, WriteGivesUpAndTheImageClaimsNothing)
{
    ASSERT_EQ(lecture(station, nullptr), 128);
    const uint8_t old_first = station.memory_image[word_index(22)];
    const uint64_t t0 = bench().now();
    EXPECT_EQ(ecrit_data(station, 23, 200, 150), WriteResult::NoAnswer);
    // The round that nothing answered ends the write: no more rounds, no read-back tries.
    EXPECT_LT(bench().now() - t0, uint64_t(30'000'000));
    if (qEnvironmentVariableIsSet("ZUNA_PORT_TIMES"))
        std::printf("| word write, unplugged at the write | %.2f s |\n", (bench().now() - t0) / 1e6);
    EXPECT_FALSE(mech->powered());
    EXPECT_EQ(mech->word_writes(), 1);
    EXPECT_EQ(station.memory_image[0], 0); // not trusted any more
    EXPECT_EQ(station.memory_image[word_index(22)], old_first);
    EXPECT_EQ(bench().mask_depth(), 0);
}

TEST_F(Silent, NothingIsReadAndNothingBlocks)
{
    ASSERT_EQ(mech, nullptr);
    EXPECT_EQ(lecture(station, nullptr), 0);
    EXPECT_EQ(station.memory_image[0], 0);
    station.memory_image[0] = 1;
    EXPECT_EQ(ecrit_data(station, 14, 1, 2), WriteResult::NoAnswer);
    station.c120_read_timeout = kTimeoutTeach;
    EXPECT_FALSE(measure_coin(station, false).acknowledged);
    EXPECT_EQ(bench().mask_depth(), 0);
}

TEST_F(Noisy, ReadsInARowGetTheMemoryAndAWriteHolds)
{
    for (int r = 0; r < 10; ++r) { // the recorder drops the glitches; retries reach the mechanism
        ASSERT_EQ(lecture(station, nullptr), 128) << r;
        for (int m = 0; m < 256; ++m)
            ASSERT_EQ(station.memory_image[m + 1], mech->memory()[m]) << r << " byte " << m;
    }
    EXPECT_EQ(ecrit_data(station, 23, 201, 151), WriteResult::Verified);
    EXPECT_EQ(mech->memory()[44], 201);
    EXPECT_TRUE(mech->checksum_holds());
}

// Mechanisms that keep a write wrong once (--sim-fault=, the bit changed is
// bit seed mod 16 of the word, first byte high) are written again until the
// word and the whole checksum word read back as sent; a write never kept is
// reported and the image follows the mechanism.
TEST_F(C120Bench, WriteThatDoesNotHoldIsReportedAndTheImageFollowsTheMechanism)
{
    struct Case { const char* what; int lost; bool second_only; WriteResult result; int writes;
                  const char* faults = ""; uint32_t seed = 1; } cases[] = {
        {"correct write", -1, false, WriteResult::Verified, 2},
        {"word not kept", 22, false, WriteResult::Unverified, 2 * kWriteRounds},
        {"second byte alone not kept", 22, true, WriteResult::Unverified, 2 * kWriteRounds},
        {"checksum not kept", 127, false, WriteResult::Unverified, 2 * kWriteRounds},
        {"word's second byte kept wrong once", -1, false, WriteResult::Verified, 4, "wrong-readback=1", 1},
        {"word's first byte kept wrong once", -1, false, WriteResult::Verified, 4, "wrong-readback=1", 8},
        {"checksum byte kept wrong once", -1, false, WriteResult::Verified, 4, "wrong-readback=2", 9},
        {"byte 255 kept wrong once", -1, false, WriteResult::Verified, 4, "wrong-readback=2", 1},
        {"word lost once", -1, false, WriteResult::Verified, 4, "lost-write=1"},
        {"checksum word lost once", -1, false, WriteResult::Verified, 4, "lost-write=2"},
        {"checksum left wrong once", -1, false, WriteResult::Verified, 4, "lost-checksum"},
    };
    for (const Case& c : cases) {
        sim::Faults f = parse(c.faults);
        f.seed = c.seed;
        mech = static_cast<sim::SerialMech*>(setup.plug("c120"));
        mech->set_faults(f);
        ASSERT_EQ(lecture(station, nullptr), 128) << c.what;
        mech->lose_writes_to(c.lost, c.second_only);
        const int before = mech->word_writes();
        EXPECT_EQ(ecrit_data(station, 23, 200, 150), c.result) << c.what;
        EXPECT_EQ(mech->word_writes() - before, c.writes) << c.what;
        for (int m : {44, 45, 254, 255})
            EXPECT_EQ(station.memory_image[m + 1], mech->memory()[m]) << c.what << " byte " << m;
        EXPECT_EQ(station.memory_image[0], 1) << c.what; // read back: still known
        EXPECT_EQ(mech->checksum_holds(), c.result == WriteResult::Verified) << c.what;
        if (c.result == WriteResult::Verified) {
            EXPECT_EQ(mech->memory()[44], 200) << c.what;
            EXPECT_EQ(mech->memory()[45], 150) << c.what;
        }
    }
}

// The simulated mechanism samples mid-bit from the start edge: it understands
// a delay count a few percent off its own bit time, not more. It wakes on a
// pulse of 1 ms at least: the long pause of a fast PC needs the floor. A
// C220B whose clock drifts 10 % answers a coin test with values out of their
// places: no coin is shown.
TEST(C120Timing, MechanismAcceptsAFewPercentOfBitTimeOnceWoken)
{
    struct Case {
        double speed;
        int32_t delay_delta;
        double floor_ns;
        bool understood;
        const char* family = "c120";
        int drift = 0;
    } cases[] = {
        {1.0, 0, 10, true},   {1.0, -4, 10, true}, {1.0, +4, 10, true}, {1.0, -14, 10, false},
        {1.0, +14, 10, false}, {2.0, 0, 10, true},  {1.0, 0, 0, true},    {6.0, 0, 0, false},
        {6.0, 0, 10, true},   {1.0, 0, 10, true, "c220b"}, {1.0, 0, 10, false, "c220b", 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.family << " speed " << c.speed << ", delay " << c.delay_delta
                                        << ", floor " << c.floor_ns << ", drift " << c.drift);
        const bool c120 = c.family == std::string("c120");
        sim::Faults f;
        f.drift_percent = c.drift;
        sim::SimSetup setup(c.speed, f, "");
        setup.set_pause_floor_ns(c.floor_ns);
        auto* mech = static_cast<sim::SerialMech*>(setup.plug(c.family));
        Station s(setup.bench());
        s.measured_module_count = measure_module(*s.port);
        load_delay_counts(s);
        s.delay.c120 += c.delay_delta;
        wake_up(s);
        const int reads = mech->word_reads();
        if (c120) {
            EXPECT_EQ(lect_mem_mech(s, 1), c.understood);
            EXPECT_EQ(mech->word_reads() > reads, c.understood);
        } else {
            EXPECT_EQ(c220b::lecture_c220(s, nullptr) == kWordCount, c.understood);
        }
        mech->queue_coin(120, 131, 77);
        const CoinReply r = c120 ? test_coin(s) : c220b::test_coin(s);
        EXPECT_EQ(r.measured, c.understood);
        if (r.measured) {
            EXPECT_EQ((std::array<uint8_t, 3>{s.symbols[3], s.symbols[6], s.symbols[9]}),
                      (std::array<uint8_t, 3>{120, 131, 77}));
        }
    }
}

namespace {
// Forwards to another port and calls `after_write` after each data write:
// where a test changes the mechanism between two exchanges.
struct HookPort : Port {
    explicit HookPort(Port& inner) : inner_(inner) {}
    void write_data_port(uint8_t v) override
    {
        inner_.write_data_port(v);
        if (after_write)
            after_write();
    }
    uint8_t read_status_port() override { return inner_.read_status_port(); }
    void mask_interrupts() override { inner_.mask_interrupts(); }
    void unmask_interrupts() override { inner_.unmask_interrupts(); }
    void idle(uint64_t n) override { inner_.idle(n); }
    std::function<void()> after_write;

private:
    Port& inner_;
};
} // namespace

// A word read back other than written is read again: believed when both
// reads agree (the image follows), else its content is unknown (the image is
// no longer whole, the window shows "?"). C120 and C220B.
TEST(C120Write, AReadBackThatDisagreesIsReadAgainBeforeItIsBelieved)
{
    struct Row {
        const char* family;
        bool drifts; // the word reads differently each time
        WriteResult result;
    } rows[] = {
        {"c120", false, WriteResult::Unverified},
        {"c120", true, WriteResult::Unknown},
        {"c220b", false, WriteResult::Unverified},
        {"c220b", true, WriteResult::Unknown},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.family) + (r.drifts ? ", different twice" : ", the same twice"));
        const bool c120 = r.family == std::string("c120");
        sim::SimSetup setup(1.0, {}, "");
        auto* mech = static_cast<sim::SerialMech*>(setup.plug(r.family));
        HookPort hook(setup.bench());
        Station s(hook);
        s.measured_module_count = measure_module(*s.port);
        load_delay_counts(s);
        ASSERT_EQ(c120 ? lecture(s, nullptr) : c220b::lecture_c220(s, nullptr), 128);
        // Drifting: once the writes have begun, every read of the word
        // leaves it changed for the next one.
        const int address = c120 ? 22 : 56;
        mech->lose_writes_to(address);
        size_t seen = mech->commands().size();
        bool writing = false;
        hook.after_write = [&] {
            for (; r.drifts && seen < mech->commands().size(); ++seen) {
                const auto& c = mech->commands()[seen];
                writing = writing || (c.size() == 5 && c[0] == 0x7A && c[1] == address);
                if (writing && c.size() == 4 && c[1] == 0x7B && c[2] == address)
                    mech->memory()[size_t(2 * address)] ^= 1;
            }
        };
        WriteResult got;
        if (c120) {
            got = ecrit_data(s, 23, 200, 150);
        } else {
            MaskedSection masked(*s.port);
            got = c220b::ecrit_data_c220(s, address, 200, 150);
        }
        EXPECT_EQ(got, r.result);
        EXPECT_EQ(s.memory_image[0], r.drifts ? 0 : 1);
    }
}

// A settings write computes each word's checksum over the image. An image
// whose checksum does not hold (a read reply garbled into passing its check:
// byte 62 read as 128, as a PC stall did) is refused: its checksum word would
// be wrong for the mechanism and read back as written. C120 and C220B.
TEST(C120Write, ASettingsWriteOverAnImageWhoseChecksumDoesNotHoldIsRefused)
{
    struct Row {
        const char* family;
        int garbled; // image byte changed after the read, -1: none
        bool written;
    } rows[] = {
        {"c120", -1, true},
        {"c120", 62, false},
        {"c220b", -1, true},
        {"c220b", 62, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.family) + (r.garbled < 0 ? ", sound image" : ", garbled image"));
        const bool c120 = r.family == std::string("c120");
        sim::SimSetup setup(1.0, {}, "");
        auto* mech = static_cast<sim::SerialMech*>(setup.plug(r.family));
        Station s(setup.bench());
        s.measured_module_count = measure_module(*s.port);
        load_delay_counts(s);
        ASSERT_EQ(c120 ? lecture(s, nullptr) : c220b::lecture_c220(s, nullptr), 128);
        if (r.garbled >= 0)
            s.memory_image[size_t(r.garbled + 1)] ^= 0x80;
        auto family = c120 ? make_c120_settings() : make_c220b_settings();
        settings::Snapshot target;
        target.values = family->from_image(std::vector<uint8_t>(mech->memory().begin(), mech->memory().end()));
        const std::string name = "Canal 1/Mesure 1/max";
        target.values[name] -= 2;
        const int writes = mech->word_writes();
        const settings::WriteReport w = family->write(s, target, {name}, nullptr);
        EXPECT_EQ(w.verified.size(), r.written ? 1u : 0u);
        EXPECT_EQ(w.error.empty(), r.written) << w.error;
        EXPECT_EQ(mech->word_writes() - writes, r.written ? 2 : 0);
        EXPECT_TRUE(mech->checksum_holds());
    }
}

// A PC stall inside a reply (one bit time, half a bit into a level, or
// longer): the levels counted are not the line's, so the reply is garbled,
// however well framed: a word read is asked again, a coin is not measured.
// A stall after the reply's last character, or in the wait for a coin long
// before it, changes nothing counted. C120 and C220B.
TEST(C120Stalls, AStallInsideAReplyIsAskedAgainOrNoCoin)
{
    enum Op { Coin, Word };
    struct Row {
        const char* what;
        const char* family;
        Op op;
        int reply;         // the reply stalled in (coin: 0 the acknowledge, 1 the values); -1: none
        double at_bits;    // from its start bit (reply -1: from the operation's start)
        uint64_t length;   // ticks
        bool taken;        // the coin measured, the word read from the first reply
    } rows[] = {
        {"in the first value", "c120", Coin, 1, 22.5, 139, false},   // 184 read for 120
        {"in the third value", "c120", Coin, 1, 54.5, 300, false},   // 209 read for 77
        {"over its last bit", "c120", Coin, 1, 58.8, 300, false},     // 205 read for 77
        {"after the last value", "c120", Coin, 1, 75, 2000, true},
        {"in the wait for the coin", "c120", Coin, -1, 700, 2000, true},
        {"in the first value", "c220b", Coin, 1, 18.5, 300, false},  // 222 read for 120
        {"after the last value", "c220b", Coin, 1, 75, 2000, true},
        {"in the word", "c120", Word, 0, 27, 300, false},
        {"over the word and its check", "c220b", Word, 0, 40.5, 2000, false}, // 197 0 read for 133 123
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.family) + (r.op == Coin ? " coin, " : " word, ") + r.what);
        const bool c120 = r.family == std::string("c120");
        sim::SimSetup setup(1.0, {}, "");
        auto* mech = static_cast<sim::SerialMech*>(setup.plug(r.family));
        Station s(setup.bench());
        s.measured_module_count = measure_module(*s.port);
        load_delay_counts(s);
        if (c120)
            wake_up(s);
        s.c120_read_timeout = kTimeoutTest;
        ReplyStall stall(setup.bench());
        const uint64_t at = uint64_t(r.at_bits * double(mech->bit_ticks()));
        if (r.reply < 0)
            stall.stalls.stall_at(setup.bench().now() + at, r.length);
        else
            stall.arm(r.reply, at, r.length, 20 * mech->bit_ticks());
        if (r.op == Coin) {
            mech->queue_coin(120, 131, 77);
            const CoinReply got = c120 ? measure_coin(s, false) : c220b::measure_coin_c220(s);
            EXPECT_EQ(got.measured, r.taken);
            if (got.measured) {
                EXPECT_EQ((std::array<uint8_t, 3>{s.symbols[3], s.symbols[6], s.symbols[9]}),
                          (std::array<uint8_t, 3>{120, 131, 77}));
            }
        } else {
            const int reads = mech->word_reads();
            EXPECT_TRUE(c120 ? lect_mem_mech(s, 12) : c220b::lect_mem_mech_c220(s, 12));
            EXPECT_EQ(mech->word_reads() - reads, r.taken ? 1 : 2);
            EXPECT_EQ(s.memory_image[word_index(11)], mech->memory()[22]);
            EXPECT_EQ(s.memory_image[word_index(11) + 1], mech->memory()[23]);
        }
        EXPECT_EQ(stall.stalls.stalls().size(), 1u);
    }
}
