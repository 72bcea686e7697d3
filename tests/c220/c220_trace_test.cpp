// A channel write on the wires, checked with sigrok's own I2C decoder on a
// VCD trace of the simulated bench (clock D5, data D6): the three words, the
// checksum word and the read-backs, framed as the mechanism reads them.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include "c220/c220_link.h"
#include "link/module.h"
#include "link/trace_port.h"
#include "sim/c220_mech.h"
#include "sim/catalogue.h"

using namespace zuna;

namespace {

// The decoder's frames: addresses, bytes written and the repeated starts of
// the reads. The bytes read are the mechanism's (status bit 4), not on D6.
// The bus release writes clock and data low in one step, which sigrok takes
// as a start; those starts are left out (the mechanism takes the clock first).
QStringList sigrok_i2c(const QString& vcd)
{
    QProcess p;
    p.start("sigrok-cli", {"-I", "vcd", "-i", vcd, "-P", "i2c:scl=D5:sda=D6", "-A", "i2c=addr-data:repeat-start"});
    EXPECT_TRUE(p.waitForFinished(120000));
    QStringList all;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        const QString l = QString::fromUtf8(line).trimmed().section(": ", 1);
        if (l.startsWith("Address") || l.startsWith("Data write") || l == "Start repeat")
            all << l;
    }
    QStringList out;
    for (int i = 0; i < all.size(); ++i)
        if (all[i] != "Start repeat" || (i + 1 < all.size() && all[i + 1].startsWith("Address read")))
            out << all[i];
    return out;
}

TEST(C220Trace, ChannelWriteOnTheWires)
{
    if (QStandardPaths::findExecutable("sigrok-cli").isEmpty())
        GTEST_SKIP() << "sigrok-cli not installed";
    sim::SimSetup setup(1.0, {}, "");
    Station s(setup.bench());
    setup.plug("c220");
    s.measured_module_count = measure_module(*s.port);
    load_delay_counts(s);
    c220::Link l(s);
    c220::activate(l);
    ASSERT_TRUE(c220::lit_c220(l).answered);
    QTemporaryDir dir;
    const QString vcd = dir.filePath("canal1.vcd");
    c220::WriteResult w;
    {
        TracePort trace(setup.bench(), vcd.toStdString());
        trace.write_data_port(0x70); // the rest state, so the trace starts from it
        s.port = &trace;
        w = c220::ecrir_code(l, 1, {128, 255, 10, 255, 10, 255});
        s.port = &setup.bench();
    }
    ASSERT_TRUE(w.confirmed());
    const QString sum = QString("%1").arg(w.sum, 2, 16, QChar('0')).toUpper();
    const QStringList got = sigrok_i2c(vcd);
    QStringList want;
    auto command = [&](const QStringList& data) {
        want << "Address write: 00";
        for (const QString& d : data)
            want << "Data write: " + d;
    };
    for (const char* w0 : {"0", "8", "10"}) {
        const int w = QString(w0).toInt(nullptr, 16);
        command({"30"});
        command({QString::number(0xC0 + w, 16).toUpper()});
        command({QString::number(0x40 + w, 16).toUpper(), w == 0 ? "80" : "0A", "FF"});
    }
    command({"30"});
    command({"FF"});
    command({"7F", sum, "00"});
    for (const char* cmd : {"BF", "80", "88", "90", "BF"})
        want << "Address write: 00" << QString("Data write: ") + cmd << "Start repeat" << "Address read: 00";
    EXPECT_EQ(got.join("\n").toStdString(), want.join("\n").toStdString());
}

} // namespace
