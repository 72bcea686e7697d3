// The G13.6000 line as sigrok's own UART decoder reads it from a trace of
// the simulated bench: the host's characters on D0 at the G136 bit time,
// the mechanism's replies on S7 (inverted: status bit 7 set = level 0).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "link/module.h"
#include "link/trace_port.h"
#include "nri/g136_link.h"
#include "sim/catalogue.h"
#include "sim/g136_mech.h"

using namespace zuna;
using namespace zuna::nri;

namespace {

// Traces one operation, then decodes the trace with sigrok-cli: the values
// of `what` ("rx" or "tx") joined, each followed by "|".
struct SigrokTrace {
    sim::SimSetup setup{1.0, {}, ""};
    Station s{setup.bench()};
    std::string vcd;
    SigrokTrace(const std::string& name, const std::function<void(Station&)>& op)
        : vcd(std::string(ZUNA_BINARY_DIR) + "/" + name + ".vcd")
    {
        setup.plug("g136");
        s.measured_module_count = measure_module(*s.port);
        load_delay_counts(s);
        TracePort trace(setup.bench(), vcd);
        s.port = &trace;
        op(s);
        s.port = &setup.bench();
    }
    std::string decode(const std::string& what, const std::string& format) const
    {
        const std::string line = what == "rx" ? "rx=D0" : "tx=S7:invert_tx=yes";
        const std::string cmd = "sigrok-cli -I vcd -i " + vcd + " -P uart:" + line + ":baudrate=7092:format=" +
                                format + " -A uart=" + what + "-data 2>&1";
        std::string out;
        if (FILE* p = popen(cmd.c_str(), "r")) {
            char buf[512];
            while (fgets(buf, sizeof buf, p))
                out += buf;
            pclose(p);
        }
        std::string values;
        for (size_t p = 0; (p = out.find("uart-1: ", p)) != std::string::npos; p += 8)
            values += out.substr(p + 8, out.find('\n', p) - p - 8) + "|";
        return values;
    }
};

bool sigrok_missing() { return std::system("sigrok-cli --version > /dev/null 2>&1") != 0; }

} // namespace

TEST(G136Trace, ModelWriteAndTablesWriteDecodeWithSigrok)
{
    if (sigrok_missing())
        GTEST_SKIP() << "sigrok-cli not installed";
    const g136::Block block = {0x3A, 0x05, 200, 180, 255, 0, 17, 16, 1, 0, 99, 98};
    const SigrokTrace model("g136_model_write", [&](Station& s) {
        EXPECT_EQ(1e6 / (s.delay.g136 + 1), 1e6 / 141); // 7092 baud
        g136::write_model(s, 12, block, {15, 0, 2, 9, 10, 3}, nullptr);
    });
    std::string expected = "Z|0|E|";
    for (int v : block)
        expected += std::string(1, g136::hex_char(v >> 4)) + "|" + g136::hex_char(v) + "|";
    expected += "X|0|E|"; // then the read-back of the block
    const std::string host = model.decode("rx", "ascii");
    EXPECT_EQ(host.substr(0, expected.size()), expected) << host;
    // The block "13" rewrite follows: "Z", "13", 72 digits.
    EXPECT_NE(host.find("X|1|3|Z|1|3|"), std::string::npos) << host;
    // The mechanism's reply to the block read: the 24 characters written.
    const std::string reply = model.decode("tx", "ascii");
    EXPECT_EQ(reply.substr(0, 8), "3|A|0|5|") << reply;

    const SigrokTrace tables("g136_tables_write", [](Station& s) { g136::write_tables(s, {}, nullptr); });
    EXPECT_EQ(tables.decode("rx", "hex").substr(0, 3), "E9|") << tables.decode("rx", "hex");

    const SigrokTrace reading("g136_reading", [](Station& s) { g136::lecture(s, nullptr); });
    EXPECT_EQ(reading.decode("tx", "ascii").substr(0, 8), "0|7|3|6|") << reading.decode("tx", "ascii");
}
