#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "app/options.h"
#include "app/station_config.h"

using namespace zuna;

TEST(Options, GoodCommandLines)
{
    std::string err;
    auto o = parse_options({"--simulate"}, &err);
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->simulate);
    EXPECT_TRUE(o->sim_family.empty());

    o = parse_options({"--simulate=c120", "--trace", "t.vcd", "--data-dir=/tmp/x"}, &err);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->sim_family, "c120");
    EXPECT_EQ(o->trace, "t.vcd");
    EXPECT_EQ(o->data_dir, "/tmp/x");

    o = parse_options({"--port", "io:0x378"}, &err);
    ASSERT_TRUE(o);
    EXPECT_FALSE(o->simulate);
    EXPECT_EQ(o->port, "io:0x378");

    for (const char* bound : {"--sim-speed=0.1", "--sim-speed=100", "--sim-fault=drift=-15,drift=15",
                              "--sim-fault=drift=2.5,stall=0", "--sim-seed=4294967295"}) {
        o = parse_options({"--simulate", bound}, &err);
        EXPECT_TRUE(o) << bound << " " << err;
    }

    o = parse_options({"--simulate=g13", "--restore", "ref.zuna.json", "--dry-run"}, &err);
    ASSERT_TRUE(o) << err;
    EXPECT_EQ(o->restore_file, "ref.zuna.json");
    EXPECT_TRUE(o->dry_run);
    o = parse_options({"--save=a.zuna.json", "--family=rm4", "--port", "io:0x378"}, &err);
    ASSERT_TRUE(o) << err;
    EXPECT_EQ(o->save_file, "a.zuna.json");
    EXPECT_EQ(o->family, "rm4");

    o = parse_options({"--simulate", "--sim-pace=real"}, &err);
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->sim_pace_real);

    // The diagnosed port is optional; a following option is not taken for it.
    struct Check { std::vector<std::string> args; std::string port; } checks[] = {
        {{"--check-port"}, "/dev/parport0"},
        {{"--check-port", "io:0x378"}, "io:0x378"},
        {{"--check-port=/dev/parport1"}, "/dev/parport1"},
        {{"--check-port", "--data-dir", "/tmp/x"}, "/dev/parport0"},
    };
    for (const auto& c : checks) {
        o = parse_options(c.args, &err);
        ASSERT_TRUE(o) << err;
        EXPECT_TRUE(o->check_port);
        EXPECT_EQ(o->port, c.port);
    }

    o = parse_options({}, &err);
    ASSERT_TRUE(o);
    EXPECT_FALSE(o->check_port);
    EXPECT_EQ(o->port, "/dev/parport0");
    EXPECT_FALSE(o->simulate); // never a silent fall-back to the bench
}

TEST(Options, BadCommandLinesSayWhy)
{
    struct Case { std::vector<std::string> args; const char* words; } cases[] = {
        {{"--frobnicate"}, "Option inconnue"},
        {{"--simulate=zz"}, "Famille de monnayeur inconnue"},
        {{"--port"}, "--port demande"},
        {{"--trace"}, "--trace demande"},
        {{"--data-dir"}, "--data-dir demande"},
        {{"--simulate", "--port", "/dev/parport0"}, "s'excluent"},
        {{"--sim-fault=fire"}, "Défaut simulé inconnu"},
        {{"--sim-fault=power-cut=0"}, "power-cut"},
        {{"--sim-fault=drift=20"}, "« drift=20 »"},
        {{"--sim-fault=drift=-15.5"}, "« drift=-15.5 »"},
        {{"--sim-fault=drift=abc"}, "« drift=abc »"},
        {{"--sim-fault=drift="}, "« drift= »"},
        {{"--sim-fault=stall=-1"}, "« stall=-1 »"},
        {{"--sim-fault=stall=1e3"}, "« stall=1e3 »"},
        {{"--sim-fault=wrong-readback=1.5"}, "« wrong-readback=1.5 »"},
        {{"--sim-fault=lost-write=0"}, "« lost-write=0 »"},
        {{"--sim-fault=lost-checksum=1"}, "Défaut simulé inconnu"},
        {{"--sim-seed=-1"}, "Graine simulée invalide"},
        {{"--sim-seed=4294967296"}, "Graine simulée invalide"},
        {{"--sim-seed="}, "Graine simulée invalide"},
        {{"--sim-speed=0"}, "Vitesse simulée invalide"},
        {{"--sim-speed=0.09"}, "Vitesse simulée invalide"},
        {{"--sim-speed=100.5"}, "Vitesse simulée invalide"},
        {{"--sim-speed=nan"}, "Vitesse simulée invalide"},
        {{"--sim-speed=2x"}, "Vitesse simulée invalide"},
        {{"--sim-pace=slow"}, "Cadence simulée invalide"},
        {{"--simulate", "--check-port", "/dev/parport1"}, "s'excluent"},
        {{"--check-port="}, "--check-port= demande"},
        {{"--save", "a.zuna.json"}, "--save demande aussi --family"},
        {{"--save"}, "--save demande un nom"},
        {{"--restore"}, "--restore demande"},
        {{"--save", "a", "--family", "c999"}, "Famille de monnayeur inconnue pour --family"},
        {{"--save", "a", "--restore", "b", "--family", "c120"}, "s'excluent"},
        {{"--dry-run"}, "--dry-run ne s'emploie qu'avec --restore"},
        {{"--save", "a", "--family", "c120", "--dry-run"}, "--dry-run ne s'emploie qu'avec --restore"},
        {{"--family", "g13"}, "--family ne s'emploie qu'avec"},
        {{"--check-port", "--restore", "b"}, "--check-port s'emploie seul"},
    };
    for (const auto& c : cases) {
        std::string err;
        EXPECT_FALSE(parse_options(c.args, &err));
        EXPECT_NE(err.find(c.words), std::string::npos) << err;
    }
}

TEST(Options, PauseFloorFromTheConfigurationFile)
{
    // What a technician may write under [port]; "2,5" comes back from the
    // INI reader as a list of two texts.
    struct Case {
        const char* line; // nullptr: no setting
        std::optional<double> floor;
    } cases[] = {
        {nullptr, 10}, {"pause_floor_ns=0", 0}, {"pause_floor_ns=2.5", 2.5}, {"pause_floor_ns=2,5", 2.5},
        {"pause_floor_ns=abc", std::nullopt}, {"pause_floor_ns=-1", std::nullopt},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString file = dir.filePath("zuna07.conf");
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("[aliases]\nzuna\\\\path=/tmp/x\n[port]\n") + (c.line ? c.line : "") + "\n");
        f.close();
        std::string error;
        EXPECT_EQ(read_pause_floor(file, &error), c.floor) << (c.line ? c.line : "none");
        if (!c.floor) {
            const std::string value = std::string(c.line).substr(std::string(c.line).find('=') + 1);
            EXPECT_NE(error.find("« " + value + " » refusé"), std::string::npos) << error;
            EXPECT_NE(error.find(file.toStdString()), std::string::npos) << error;
        }
    }
}

namespace {
std::string read_text(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The long options a text names: "--word" or "--word-word", not "--sim-*".
std::set<std::string> long_options(const std::string& text)
{
    std::set<std::string> out;
    static const std::regex option("--[a-z]+(-[a-z]+)*(?![-*a-z])");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        out.insert(it->str());
    return out;
}

// The part of text from the line starting with `from` to the next line starting with `to`.
std::string section(const std::string& text, const std::string& from, const std::string& to)
{
    const size_t a = text.find("\n" + from);
    if (a == std::string::npos)
        return "";
    const size_t b = text.find("\n" + to, a + 1 + from.size());
    return text.substr(a, b == std::string::npos ? std::string::npos : b - a);
}
} // namespace

TEST(Options, HelpReadmeAndManPageNameTheSameOptions)
{
    const std::set<std::string> help = long_options(usage_text());
    // The README's "Running" and "Settings files" sections; the manual's OPTIONS, roff dashes undone.
    const std::string readme = read_text(ZUNA_SOURCE_DIR "/README.md");
    const std::set<std::string> in_readme =
        long_options(section(readme, "## Running", "## ") + section(readme, "## Settings files", "### "));
    std::string man = section(read_text(ZUNA_SOURCE_DIR "/dist/zuna07.1"), ".SH OPTIONS", ".SH ");
    man = std::regex_replace(man, std::regex(R"(\\-)"), "-");
    const std::set<std::string> in_man = long_options(man);
    EXPECT_EQ(help.size(), 15u);
    EXPECT_EQ(in_readme, help);
    EXPECT_EQ(in_man, help);
}
