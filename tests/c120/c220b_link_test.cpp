// The C220B link on the simulated bench and on counting ports.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <string>

#include "c120/c220b_link.h"
#include "link/trace_port.h"
#include "sim/c220b_mech.h"
#include "tests/c120/c120_fixture.h"
#include "tests/common/counting_port.h"

using namespace zuna;
using namespace zuna::c220b;
using c120::WriteResult;

namespace {

struct C220BBench : C120Bench {
    explicit C220BBench(const char* faults = "") : C120Bench(faults)
    {
        mech = static_cast<sim::SerialMech*>(setup.plug("c220b"));
        if (mech)
            framing_before = mech->framing_errors();
    }
};
struct C220BSilent : C220BBench {
    C220BSilent() : C220BBench("silent") {}
};
struct C220BPowerCut : C220BBench {
    C220BPowerCut() : C220BBench("power-cut=1") {}
};
struct C220BNoisy : C220BBench {
    C220BNoisy() : C220BBench("noise") {}
};

// Logs the port accesses in order: 'W' + value, or 'R'.
struct Logged : Port {
    explicit Logged(Port& p) : inner(p) {}
    Port& inner;
    std::string log;
    void write_data_port(uint8_t v) override
    {
        log += char(v);
        inner.write_data_port(v);
    }
    uint8_t read_status_port() override
    {
        log += 'R';
        return inner.read_status_port();
    }
    void mask_interrupts() override {}
    void unmask_interrupts() override {}
    void idle(uint64_t n) override { inner.idle(n); }
};

} // namespace

TEST(C220BLink, MapAndCommands)
{
    EXPECT_EQ(window_address(16, 3), 56);
    EXPECT_EQ(upper_index(16, 3) - 1, 112); // memory bytes 112 and 113
    EXPECT_EQ(window_address(16, 1), 24);
    EXPECT_EQ(window_address(16, 2), 40);
    const int outputs[] = {236, 239, 238, 241, 240, 243, 242, 245, 244, 247, 246, 249, 248, 251, 250, 253};
    for (int c = 1; c <= 16; ++c)
        EXPECT_EQ(output_byte(c), outputs[c - 1]) << c;
    const auto sum = write_checksum_command(0x10);
    EXPECT_EQ(sum, (std::array<uint8_t, 5>{0x7A, 0x7F, 0x10, 0x00, 0x09}));

    // Displays: stored 0..3 show 1..4; what spins 0, 5 and 6 store shows them back.
    const struct { uint8_t stored; const char* text; int spin; } shown[] = {
        {0, "1", 1}, {3, "4", 4}, {255, "0", 0}, {4, "5", 5}, {5, "6", 6}, {17, "?17", 0},
    };
    for (auto s : shown) {
        EXPECT_EQ(output_text(s.stored), s.text);
        EXPECT_EQ(output_spin(s.stored), s.spin);
    }
    c120::Image im{};
    im[238] = 0x11;
    std::array<int, kChannels> spins{};
    spins.fill(1);
    spins[0] = 4;
    spins[15] = 2;
    const auto words = output_words(im, spins);
    EXPECT_EQ(words[0].address, 118);
    EXPECT_EQ(words[0].first, 3); // output 4 on channel 1 puts 3 in byte 236
    EXPECT_EQ(words[0].second, 0x11); // byte 237 as the image holds it
    EXPECT_EQ(words[8].address, 126);
    EXPECT_EQ(words[8].first, 1);
    EXPECT_EQ(words[8].second, 1);
}

TEST(C220BLink, ListeningIsBoundedByTheWindow)
{
    struct Case { int32_t delay; int window; int64_t reads; } cases[] = {{10, 458, 4570}, {138, 200, 27462}, {0, 458, 0}};
    for (auto c : cases) {
        test::CountingPort port; // a silent line
        Station s(port);
        s.delay.c220b = c.delay;
        std::array<int32_t, 201> runs{};
        EXPECT_EQ(ecrir_instruction_c220(s, kOpen, c.window, runs.data(), 201), 0);
        EXPECT_EQ(port.reads, c.reads) << c.delay << "/" << c.window;
        EXPECT_EQ(listen_reads(c.delay, c.window), c.reads);
        // Start bit, 3 x 8 data bits, 2 x (5 stops + start), 1 stop: 38 bit times.
        EXPECT_EQ(port.writes, 38 * int64_t(c.delay + 1));
    }
}

TEST_F(C220BBench, ThreeByteCommandEndsWithOneStopBitThenListens)
{
    // On the line, as sigrok's UART decoder sees it: 05 78 78, no framing warning.
    if (QStandardPaths::findExecutable("sigrok-cli").isEmpty())
        GTEST_SKIP() << "sigrok-cli not installed";
    QTemporaryDir dir;
    const QString vcd = dir.filePath("open.vcd");
    Logged logged(bench());
    {
        TracePort trace(logged, vcd.toStdString());
        station.port = &trace;
        c120::ecrir_bit(station, kBefore);
        EXPECT_EQ(send_table(station, kOpen, kWinOpenClose), c120::kAck);
        c120::ecrir_bit(station, kRest);
        station.port = &bench();
    }
    // After the last data bit: exactly one bit time of 0x71, then reads only.
    const std::string& log = logged.log;
    const size_t first_read = log.find('R');
    ASSERT_NE(first_read, std::string::npos);
    const std::string unit(station.delay.c220b + 1, char(kBit1));
    ASSERT_GE(first_read, unit.size() + 1);
    EXPECT_EQ(log.substr(first_read - unit.size(), unit.size()), unit);
    EXPECT_NE(log[first_read - unit.size() - 1], char(kBit1)); // 0x78's last data bit is 0
    EXPECT_EQ(log.find_first_not_of('R', first_read), log.size() - (station.delay.c120 + 1));

    QProcess p;
    const int baud = int(1e6 / (station.delay.c220b + 1) + 0.5);
    p.start("sigrok-cli", {"-I", "vcd", "-i", vcd, "-P", QString("uart:rx=D0:baudrate=%1").arg(baud), "-A",
                           "uart=rx-data:rx-warnings"});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString out = QString::fromLatin1(p.readAllStandardOutput());
    QStringList bytes;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts))
        bytes << line.section(' ', 1).trimmed();
    EXPECT_EQ(bytes, (QStringList{"05", "78", "78"})) << out.toStdString();
    EXPECT_EQ(framing_errors(), 0);
}

TEST_F(C220BBench, WholeReadShowsTheMemory)
{
    // A garbled answer to the open is asked for again, up to 30 tries.
    struct Case { int spoiled; int words; int opens; } cases[] = {{0, 128, 1}, {1, 128, 2}, {29, 128, 30}, {30, 0, 30}};
    for (const Case& c : cases) {
        mech->spoil_opens(c.spoiled);
        const int opens = mech->opens();
        EXPECT_EQ(lecture_c220(station, nullptr), c.words) << c.spoiled;
        EXPECT_EQ(mech->opens() - opens, c.opens) << c.spoiled;
        EXPECT_EQ(station.memory_image[0], c.words ? 1 : 0) << c.spoiled;
        for (int m = 0; m < 256 && c.words; ++m)
            ASSERT_EQ(station.memory_image[m + 1], mech->memory()[m]) << m;
        EXPECT_EQ(bench().mask_depth(), 0);
        EXPECT_EQ(bench().data(), kRest);
    }
}

// As on the C120 (C120Bench.WriteThatDoesNotHold...): a write kept wrong
// once is sent again, one never kept is given up after four rounds.
TEST_F(C220BBench, WriteIsVerifiedOnlyWhenTheMechanismHoldsIt)
{
    struct Case { const char* what; int lost; bool second_only; WriteResult result; int writes;
                  const char* faults = ""; uint32_t seed = 1; } cases[] = {
        {"correct write", -1, false, WriteResult::Verified, 2},
        {"word not kept", 56, false, WriteResult::Unverified, 8},
        {"second byte alone not kept", 56, true, WriteResult::Unverified, 8},
        {"checksum not kept", 127, false, WriteResult::Unverified, 8},
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
        mech = static_cast<sim::SerialMech*>(setup.plug("c220b"));
        mech->set_faults(f);
        ASSERT_EQ(lecture_c220(station, nullptr), 128) << c.what;
        mech->lose_writes_to(c.lost, c.second_only);
        const int before = mech->word_writes();
        WriteResult r;
        {
            MaskedSection masked(*station.port);
            r = ecrit_data_c220(station, 56, 200, 150);
        }
        EXPECT_EQ(r, c.result) << c.what;
        EXPECT_EQ(mech->word_writes() - before, c.writes) << c.what;
        // The image holds what the mechanism holds, whatever the result.
        for (int m : {112, 113, 254, 255})
            EXPECT_EQ(station.memory_image[m + 1], mech->memory()[m]) << c.what << " byte " << m;
        EXPECT_EQ(mech->checksum_holds(), c.result == WriteResult::Verified) << c.what;
        if (r == WriteResult::Verified) {
            EXPECT_EQ(mech->memory()[112], 200) << c.what;
            EXPECT_EQ(mech->memory()[113], 150) << c.what;
        }
    }
}

TEST_F(C220BPowerCut, WriteGivesUpAndReadStopsCleanly)
{
    ASSERT_EQ(lecture_c220(station, nullptr), 128);
    const uint8_t before = station.memory_image[upper_index(16, 3)];
    EXPECT_EQ(ecrit_data_c220(station, 56, 200, 150), WriteResult::NoAnswer);
    EXPECT_EQ(station.memory_image[upper_index(16, 3)], before);
    EXPECT_EQ(station.memory_image[0], 0);
    EXPECT_EQ(lecture_c220(station, nullptr), 0);
}

TEST_F(C220BSilent, NothingIsReadAndNothingBlocks)
{
    const uint64_t t0 = bench().now();
    EXPECT_EQ(lecture_c220(station, nullptr), 0);
    EXPECT_EQ(station.memory_image[0], 0);
    // Open and two closes: three listening windows at most, plus the sending.
    EXPECT_LT(bench().now() - t0, uint64_t(3 * 458 * 139 + 3 * 40 * 139));
    station.memory_image[0] = 1;
    EXPECT_EQ(ecrit_data_c220(station, 9, 1, 2), WriteResult::NoAnswer);
}

TEST_F(C220BNoisy, ReadsInARowGetTheMemory)
{
    for (int r = 0; r < 10; ++r) {
        ASSERT_EQ(lecture_c220(station, nullptr), 128) << r;
        for (int m = 0; m < 256; ++m)
            ASSERT_EQ(station.memory_image[m + 1], mech->memory()[m]) << r << " byte " << m;
    }
}
