// A channel read on the line, checked with sigrok's own UART decoder on a
// VCD trace of the simulated bench: the command on D0, the reply on S7
// (status bit 7 set while the mechanism's line is at level 0, so inverted).
#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <vector>

#include "link/module.h"
#include "link/trace_port.h"
#include "seci/seci_link.h"
#include "sim/catalogue.h"
#include "sim/seci_mech.h"

using namespace zuna;

namespace {

std::vector<int> sigrok_bytes(const QString& vcd, const QString& decoder, const char* annotation)
{
    QProcess p;
    p.start("sigrok-cli", {"-I", "vcd", "-i", vcd, "-P", decoder, "-A", QString("uart=") + annotation});
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

TEST(Rm3Trace, ChannelReadOnTheLine)
{
    if (QStandardPaths::findExecutable("sigrok-cli").isEmpty())
        GTEST_SKIP() << "sigrok-cli not installed";
    sim::SimSetup setup(1.0, {}, "");
    Station s(setup.bench());
    auto* mech = static_cast<sim::Rm3Mech*>(setup.plug("rm3"));
    s.measured_module_count = measure_module(*s.port);
    load_delay_counts(s);
    const std::vector<uint8_t> record = sim::Rm3Mech::record_bytes({1200, 1100, 2400, 2300, 3600, 3500}, 5, 3);
    mech->record(2) = record;
    QTemporaryDir dir;
    const QString vcd = dir.filePath("canal2.vcd");
    {
        TracePort trace(setup.bench(), vcd.toStdString());
        s.port = &trace;
        ASSERT_TRUE(seci::channel_read(seci::rm3_line(s), 2).record);
        s.port = &setup.bench();
    }
    const int baud = int(1e6 / (s.delay.rm3 + 1) + 0.5);
    EXPECT_EQ(baud, 14493);
    EXPECT_EQ(sigrok_bytes(vcd, QString("uart:rx=D0:baudrate=%1").arg(baud), "rx-data"),
              (std::vector<int>{0x00, 0x09, 0x02}));
    const std::vector<int> tx =
        sigrok_bytes(vcd, QString("uart:tx=S7:invert_tx=yes:baudrate=%1").arg(baud), "tx-data");
    // The ready signals that answer the two 0x00 come first; the record last.
    ASSERT_GE(tx.size(), record.size());
    EXPECT_EQ(std::vector<int>(tx.end() - long(record.size()), tx.end()), std::vector<int>(record.begin(), record.end()));
}

} // namespace
