#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "link/module.h"
#include "link/timing.h"
#include "link/trace_port.h"
#include "tests/common/shell_output.h"
#include "sim/catalogue.h"

using namespace zuna;

namespace {
std::string run(const std::string& cmd) { return test::shell_output(cmd); }

bool have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
} // namespace

TEST(TracePort, WritesAValueChangeDumpOfBothRegisters)
{
    const std::string path = testing::TempDir() + "/small.vcd";
    sim::SimSetup setup(1.0, {}, "");
    {
        TracePort trace(setup.bench(), path);
        trace.write_data_port(0x61);
        trace.write_data_port(0x61); // no change: nothing written
        trace.write_data_port(0x60);
        trace.idle(150); // 10 ns a step: 1.5 µs, the half carried to the next pause
        trace.idle(50);
        (void)trace.read_status_port();
        EXPECT_EQ(trace.time(), 6u);
    }
    const std::string vcd = slurp(path);
    EXPECT_NE(vcd.find("$timescale 1 us $end"), std::string::npos);
    EXPECT_NE(vcd.find("$var wire 1 ! D0 $end"), std::string::npos);
    EXPECT_NE(vcd.find("$var wire 1 - S7 $end"), std::string::npos);
    EXPECT_NE(vcd.find("#0\n1!\n"), std::string::npos);   // D0 = 1 at the first write
    EXPECT_NE(vcd.find("#2\n0!\n"), std::string::npos);   // D0 = 0 at the third
    EXPECT_EQ(vcd.find("#1\n"), std::string::npos);       // the repeated write changed nothing
}

// The module memory lines decoded by sigrok's SPI decoder: clock D2, select
// D3 (high during a transfer), data to the memory D4, from it S6, LSB first.
TEST(TracePort, StartUpDecodesIntoTheModuleCommands)
{
    if (!have("sigrok-cli"))
        GTEST_SKIP() << "sigrok-cli is not installed";
    const std::string path = testing::TempDir() + "/startup.vcd";
    sim::SimSetup setup(1.0, {}, "");
    {
        TracePort trace(setup.bench(), path);
        Station s(trace);
        s.measured_module_count = measure_module(trace);
        load_delay_counts(s);
        set_zone0_word(s.zone0, kZ0C120, 300); // a delay count written, as the frequency window does
        ecrit_cle_0(s);
    }
    const std::string out = run("sigrok-cli -I vcd:compress=500 -i " + path +
                                " -P spi:clk=D2:mosi=D4:miso=S6:cs=D3:cs_polarity=active-high:"
                                "bitorder=lsb-first:cpol=0:cpha=0 -A spi=mosi-data 2>&1");
    std::vector<std::string> bytes;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.rfind(' ');
        if (colon != std::string::npos && line.find("spi-1") != std::string::npos)
            bytes.push_back(line.substr(colon + 1));
    }
    ASSERT_GE(bytes.size(), 3u) << out.substr(0, 2000);
    auto join = [&](std::size_t from, std::size_t n) {
        std::string s;
        for (std::size_t i = from; i < from + n && i < bytes.size(); ++i)
            s += bytes[i] + " ";
        return s;
    };
    // zone 0 read: command then 64 bytes clocked with the data line released (FF)
    EXPECT_EQ(join(0, 3), "69 C0 3F ");
    // zone 1 read: command, 8 bytes released, the access code, 48 released
    EXPECT_EQ(join(3 + 64, 3), "66 10 EF ");
    EXPECT_EQ(join(3 + 64 + 3 + 8, 8), "33 31 34 31 35 39 32 36 ");
    // zone 0 write: command then the 64 bytes of the image
    const std::size_t w = 3 + 64 + 3 + 8 + 8 + 48;
    EXPECT_EQ(join(w, 3), "96 C0 3F ");
    EXPECT_EQ(join(w + 3 + 45, 2), "2C 01 ");
    EXPECT_EQ(bytes.size(), w + 3 + 64);
}
