// What goes over the line during "Lecture", checked with sigrok's own UART
// decoder on a VCD trace of the simulated bench.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <vector>

#include "c120/c120_link.h"
#include "link/trace_port.h"
#include "tests/c120/c120_fixture.h"

using namespace zuna;
using namespace zuna::c120;

namespace {

// Bytes sigrok decodes on D0 (the line towards the mechanism).
std::vector<int> sigrok_bytes(const QString& vcd, int baud)
{
    QProcess p;
    p.start("sigrok-cli", {"-I", "vcd", "-i", vcd, "-P", QString("uart:rx=D0:baudrate=%1").arg(baud), "-A",
                           "uart=rx-data"});
    EXPECT_TRUE(p.waitForFinished(120000));
    std::vector<int> bytes;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.trimmed().split(' ');
        bool ok = false;
        const int b = parts.size() == 2 ? parts[1].toInt(&ok, 16) : -1;
        if (ok)
            bytes.push_back(b);
    }
    return bytes;
}

} // namespace

TEST_F(C120Bench, LectureOnTheLineIsOpenThenTheWordReadsInOrder)
{
    if (QStandardPaths::findExecutable("sigrok-cli").isEmpty())
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
    const std::vector<int> got = sigrok_bytes(vcd, baud);

    std::vector<int> expect = {0x05, 0x78, 0x78, 0xFF};
    for (int a = 0; a < 128; ++a)
        expect.insert(expect.end(), {0x05, 0x7B, a, (0x7B + a) & 0xFF});
    expect.insert(expect.end(), {0x05, 0x79, 0x79, 0xFF});
    EXPECT_EQ(got, expect);
}
