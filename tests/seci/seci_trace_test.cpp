// An RM3 channel read and an RM4 channel write on the line, checked with
// sigrok's own UART decoder on a VCD trace of the simulated bench: the command on D0, the reply on S7
// (status bit 7 set while the mechanism's line is at level 0, so inverted).
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "link/module.h"
#include "link/trace_port.h"
#include "seci/seci_link.h"
#include "sim/catalogue.h"
#include "sim/seci_mech.h"
#include "tests/common/sigrok.h"

using namespace zuna;

namespace {

// Each row: a transaction traced, the characters sigrok finds last on D0
// and the record it finds on S7.
TEST(SeciTrace, TransactionsOnTheLine)
{
    if (!test::have_sigrok())
        GTEST_SKIP() << "sigrok-cli not installed";
    const std::vector<uint8_t> rm3_record = sim::Rm3Mech::record_bytes({1200, 1100, 2400, 2300, 3600, 3500}, 5, 3);
    const seci::Record rm4{{200, 180, 90, 80, 150, 140, 30000, 29000}, 2, 4};
    const std::vector<uint8_t> rm4_record = sim::Rm4Mech::record_bytes(rm4.value, rm4.flags, rm4.output);
    struct Row {
        const char* what;
        const char* family;
        std::function<bool(Station&)> run;
        std::vector<int> sent_ends_with;
        std::vector<uint8_t> reply;
    };
    std::vector<int> rm4_write_sent = {0x00, 0x03, 0x0A};
    rm4_write_sent.insert(rm4_write_sent.end(), rm4_record.begin(), rm4_record.end());
    for (int c : {0x00, 0x04, 0x00, 0x00, 0x04, 0x0A, 0x00})
        rm4_write_sent.push_back(c);
    const std::vector<Row> rows = {
        {"RM3 channel 2 read", "rm3",
         [](Station& s) { return bool(seci::channel_read(seci::rm3_line(s), 2).record); }, {0x00, 0x09, 0x02},
         rm3_record},
        {"RM4 channel 11 write", "rm4",
         [&rm4](Station& s) { return seci::write_and_read_back(seci::rm4_line(s), 11, rm4).confirmed(); },
         rm4_write_sent, rm4_record},
    };
    for (const Row& r : rows) {
        sim::SimSetup setup(1.0, {}, "");
        Station s(setup.bench());
        auto* mech = static_cast<sim::SeciMech*>(setup.plug(r.family));
        s.measured_module_count = measure_module(*s.port);
        load_delay_counts(s);
        if (std::string(r.family) == "rm3")
            mech->record(2) = rm3_record;
        QTemporaryDir dir;
        const QString vcd = dir.filePath("trace.vcd");
        {
            TracePort trace(setup.bench(), vcd.toStdString());
            s.port = &trace;
            ASSERT_TRUE(r.run(s)) << r.what;
            s.port = &setup.bench();
        }
        const int baud = int(1e6 / (s.delay.rm3 + 1) + 0.5);
        EXPECT_EQ(baud, 14493);
        const std::vector<int> rx = test::sigrok_bytes(vcd, QString("uart:rx=D0:baudrate=%1").arg(baud), "rx-data");
        ASSERT_GE(rx.size(), r.sent_ends_with.size()) << r.what;
        EXPECT_EQ(std::vector<int>(rx.end() - long(r.sent_ends_with.size()), rx.end()), r.sent_ends_with) << r.what;
        const std::vector<int> tx =
            test::sigrok_bytes(vcd, QString("uart:tx=S7:invert_tx=yes:baudrate=%1").arg(baud), "tx-data");
        // Ready signals answer the 0x00s around it; the record comes whole.
        const std::vector<int> want(r.reply.begin(), r.reply.end());
        EXPECT_NE(std::search(tx.begin(), tx.end(), want.begin(), want.end()), tx.end()) << r.what;
    }
}

} // namespace
