// What goes over the line during "Lecture", checked with sigrok's own UART
// decoder on a VCD trace of the simulated bench.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <vector>

#include "c120/c120_link.h"
#include "link/trace_port.h"
#include "tests/c120/c120_fixture.h"
#include "tests/common/sigrok.h"

using namespace zuna;
using namespace zuna::c120;

TEST_F(C120Bench, LectureOnTheLineIsOpenThenTheWordReadsInOrder)
{
    if (!test::have_sigrok())
        GTEST_SKIP() << "sigrok-cli not installed";
    QTemporaryDir dir;
    const QString vcd = dir.filePath("lecture.vcd");
    {
        TracePort trace(bench(), vcd.toStdString());
        station.port = &trace;
        ASSERT_EQ(lecture(station, nullptr), 128);
        station.port = &bench();
    }
    const int baud = int(1e6 / (station.delay.c120 + 1) + 0.5);
    EXPECT_EQ(baud, 7194);
    const std::vector<int> got = test::sigrok_bytes(vcd, QString("uart:rx=D0:baudrate=%1").arg(baud), "rx-data");

    std::vector<int> expect = {0x05, 0x78, 0x78, 0xFF};
    for (int a = 0; a < 128; ++a)
        expect.insert(expect.end(), {0x05, 0x7B, a, (0x7B + a) & 0xFF});
    expect.insert(expect.end(), {0x05, 0x79, 0x79, 0xFF});
    EXPECT_EQ(got, expect);
}
