// The speed test and a channel read on the line, checked with sigrok's own
// UART decoder on a VCD trace of the simulated bench: the characters sent on
// D0, the replies on S7 (set while the mechanism's line is at level 0).
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <functional>
#include <vector>

#include "alberici/al3_link.h"
#include "link/module.h"
#include "link/trace_port.h"
#include "sim/al3_mech.h"
#include "sim/catalogue.h"
#include "tests/common/sigrok.h"

using namespace zuna;

namespace {

TEST(Al3Trace, SpeedTestAndChannelReadOnTheLine)
{
    if (!test::have_sigrok())
        GTEST_SKIP() << "sigrok-cli not installed";
    sim::SimSetup setup(1.0, {}, "");
    Station s(setup.bench());
    auto* mech = static_cast<sim::Al3Mech*>(setup.plug("al3"));
    s.measured_module_count = measure_module(*s.port);
    load_delay_counts(s);
    const int baud = int(1e6 / (s.delay.alb + 1) + 0.5);
    EXPECT_EQ(baud, 14493);
    const QString decoder = QString("uart:rx=D0:tx=S7:invert_tx=yes:baudrate=%1").arg(baud);
    sim::Al3Mech::Record record = mech->record(1);
    record[0x0E] = 0xE4; // its echo goes back with bit 7 cleared
    mech->record(1) = record;

    struct Row {
        const char* what;
        std::function<void()> run;
        std::vector<int> sent, received;
    };
    std::vector<int> sent = {0x41, 0x52, 0x01, 0x30}, received = {0x41, 0x52, 0x01};
    for (int i = 0; i < 18; ++i) {
        sent.push_back(i == 14 ? record[size_t(i)] & 0x7F : record[size_t(i)]);
        received.push_back(record[size_t(i)]);
    }
    received.push_back(sent.back()); // r18 echoed
    const std::vector<Row> rows = {
        {"speed test", [&] { EXPECT_TRUE(alberici::test_vitesse(s)); }, {0x41, 0x53, 0x30}, {0x41, 0x53, 0x46}},
        {"channel read", [&] { EXPECT_EQ(alberici::channel_read(s, 1), record); }, sent, received},
    };
    for (const Row& row : rows) {
        QTemporaryDir dir;
        const QString vcd = dir.filePath("al3.vcd");
        {
            TracePort trace(setup.bench(), vcd.toStdString());
            s.port = &trace;
            // The trace opens on the idle line the module leaves (0x61), so
            // the decoder sees the first start edge.
            alberici::ecrir_bit_2(s, alberici::kLevel1);
            row.run();
            s.port = &setup.bench();
        }
        EXPECT_EQ(test::sigrok_bytes(vcd, decoder, "rx-data"), row.sent) << row.what;
        EXPECT_EQ(test::sigrok_bytes(vcd, decoder, "tx-data"), row.received) << row.what;
    }
}

} // namespace
