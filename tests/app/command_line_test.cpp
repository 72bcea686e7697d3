#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

#include "tests/common/sigrok.h"

namespace {
struct Result {
    int code;
    std::string out;
};

Result run(const std::string& args, const std::string& env = "QT_QPA_PLATFORM=offscreen")
{
    const std::string cmd = env + " timeout 20 " ZUNA_BINARY_DIR "/zuna07 " + args + " 2>&1";
    Result r{-1, {}};
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            r.out.append(buf, n);
        const int status = pclose(p);
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return r;
}
} // namespace

TEST(CommandLine, HelpUnknownOptionsAndMissingPorts)
{
    struct Case { std::string args; int code; const char* words; } cases[] = {
        {"--help", 0, "--simulate"},
        {"--help", 0, "--version"},
        {"--version", 0, "zuna07 1.25 (Qt 6."},
        {"--bogus", 2, "Option inconnue"},
        {"--simulate=xyz", 2, "Famille de monnayeur inconnue"},
        {"--port /dev/zuna-no-such-port", 1, "Impossible d'ouvrir le port /dev/zuna-no-such-port"},
        {"--port /dev/zuna-no-such-port", 1, "zuna07 --check-port /dev/zuna-no-such-port"},
        {"--port io:junk", 1, "Adresse de port invalide"},
        {"--check-port /dev/zuna-no-such-port", 1, "ÉCHEC     Impossible d'ouvrir le port /dev/zuna-no-such-port"},
        {"--simulate --trace /nonexistent-dir/t.vcd --data-dir /tmp/zuna-cli-test", 1, "Impossible de créer la trace"},
    };
    for (const auto& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.words), std::string::npos) << c.args << "\n" << r.out;
    }
}

TEST(CommandLine, ASignalEndsTheProgramInEveryStateWithExitCode0)
{
    // The station ended as a desktop session or a script ends it: idle, on
    // the start-up prompt, on the model library's repair notice. It exits 0
    // and leaves no process behind.
    const std::string dir = "/tmp/zuna-cli-signal";
    // A library with one whole record after its count (an append cut short): repaired with a notice.
    const std::string lib = dir + "/mall7.dbf";
    const std::string cut_append = "n=$(od -An -tu2 -j10 -N2 " + lib + ") && truncate -s -1 " + lib +
                                   " && head -c $n /dev/zero | tr \"\\0\" \" \" >> " + lib + " && printf \"\\032\" >> " + lib;
    struct Case { const char* state; const char* args; const char* signal; bool damaged_library; } cases[] = {
        {"idle", "--simulate --sim-pace=real", "TERM", false},
        {"idle", "--simulate", "INT", false},
        {"module prompt", "--simulate --sim-fault=no-module", "TERM", false},
        {"module prompt", "--simulate --sim-fault=no-module", "INT", false},
        {"repair notice", "--simulate", "TERM", true},
    };
    for (const auto& c : cases) {
        const std::string bin = ZUNA_BINARY_DIR "/zuna07 ";
        // Once the program catches SIGTERM (bit 15 of SigCgt), half a second for it to reach its state.
        const std::string started =
            "until m=$(grep SigCgt /proc/$p/status | cut -f2) && [ $((0x$m & 0x4000)) -ne 0 ]; do sleep 0.1; done; "
            "sleep 0.5; ";
        std::string script = "rm -rf " + dir + " && mkdir -p " + dir + " && ";
        if (c.damaged_library)
            script += bin + "--simulate --data-dir " + dir + " & p=$!; " + started + "kill -TERM $p; wait $p; " +
                      cut_append + " && ";
        script += bin + c.args + " --data-dir " + dir + " & p=$!; " + started + "kill -" + c.signal +
                  " $p; wait $p; r=$?; for q in $(pgrep -x zuna07); do grep -qs " + dir +
                  " /proc/$q/cmdline && exit 99; done; exit $r";
        const std::string cmd = "QT_QPA_PLATFORM=offscreen timeout -s KILL 20 sh -c '" + script + "' 2>/dev/null";
        const int status = std::system(cmd.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << c.state;
        EXPECT_EQ(WEXITSTATUS(status), 0) << c.state << " " << c.signal;
    }
}

TEST(CommandLine, WithoutADisplayItSaysSoInFrenchAndWhatToDo)
{
    struct Case { const char* env; const char* words; } cases[] = {
        {"env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=", "aucun écran n'a été trouvé"},
        {"env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb DISPLAY=:97", "l'écran n'a pas pu être ouvert"},
    };
    for (const auto& c : cases) {
        const Result r = run("--simulate --data-dir /tmp/zuna-cli-display", c.env);
        EXPECT_EQ(r.code, 1) << c.env << "\n" << r.out;
        EXPECT_NE(r.out.find(c.words), std::string::npos) << c.env << "\n" << r.out;
        EXPECT_NE(r.out.find("xvfb-run -a zuna07"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("--restore"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Could not load"), std::string::npos) << r.out;
    }
}

// Settings files from the command line on the bench: saved, compared, written
// and refused, each with its exit code; the log grows by one line per restore.
TEST(CommandLine, SettingsFilesWithoutAWindow)
{
    const std::string dir = "/tmp/zuna-cli-settings";
    ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str()), 0);
    const std::string bench = "--simulate --data-dir " + dir + " ";
    const Result saved = run(bench + "--save " + dir + "/rm3.zuna.json --family rm3");
    ASSERT_EQ(saved.code, 0) << saved.out;
    // Three settings changed by hand, and files that must be refused.
    const std::string edit =
        "python3 -c \"import json,sys; d=json.load(open('" + dir + "/rm3.zuna.json')); r=d['reglages'];"
        "r['Canal 1']['HFL']['max']+=10; r['Canal 2']['Sortie']=3; r['Canal 4']['LF']['min']-=10;"
        "json.dump(d,open('" + dir + "/ref.zuna.json','w'));"
        "r['Canal 7']=r['Canal 1']; json.dump(d,open('" + dir + "/canal7.zuna.json','w'));"
        "del r['Canal 7']; d['famille']='C120'; json.dump(d,open('" + dir + "/autre.zuna.json','w'));"
        "d['famille']='XYZ'; json.dump(d,open('" + dir + "/inconnu.zuna.json','w'))\"";
    ASSERT_EQ(std::system(edit.c_str()), 0);
    ASSERT_EQ(std::system(("printf '{\"format\": 1, ' > " + dir + "/casse.zuna.json").c_str()), 0);
    struct Case { std::string args; int code; std::vector<std::string> words; } cases[] = {
        {"--restore " + dir + "/ref.zuna.json --dry-run", 1,
         {"Canal 1/HFL/max", "Canal 2/Sortie   2           3         *", "3 réglages à écrire (essai"}},
        {"--restore " + dir + "/ref.zuna.json", 0, {"3 réglages écrits, tous vérifiés"}},
        {"--restore " + dir + "/ref.zuna.json --sim-fault=silent", 1, {"ne répond pas"}},
        {"--restore " + dir + "/rm3.zuna.json --dry-run", 0, {"Le monnayeur a déjà tous les réglages du fichier."}},
        {"--restore " + dir + "/canal7.zuna.json", 2, {"« Canal 7/HFL/max » n'existe pas sur un SECI RM3", "Rien n'est écrit"}},
        {"--restore " + dir + "/autre.zuna.json --family rm3", 2, {"est un fichier de C120, pas de SECI RM3"}},
        {"--restore " + dir + "/inconnu.zuna.json", 2, {"n'est pas un fichier de réglages d'une famille connue (« XYZ »)"}},
        {"--restore " + dir + "/casse.zuna.json", 2, {"n'est pas un fichier de réglages"}},
        {"--restore " + dir + "/absent.zuna.json", 2, {"introuvable"}},
        {"--save /nonexistent-dir/x.zuna.json --family rm4", 1, {"Impossible d'écrire /nonexistent-dir/x.zuna.json"}},
    };
    for (const auto& c : cases) {
        const Result r = run(bench + c.args);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.out;
        for (const std::string& w : c.words)
            EXPECT_NE(r.out.find(w), std::string::npos) << c.args << ": " << w << "\n" << r.out;
    }
    // One log line per restore that reached the mechanism or tried to.
    const Result log = run("--help >/dev/null; cat " + dir + "/ref.csv");
    EXPECT_NE(log.out.find("date;heure;famille;identité;réglages écrits;résultat\n"), std::string::npos) << log.out;
    EXPECT_NE(log.out.find(";RM3;;3;vérifié\n"), std::string::npos) << log.out;
    EXPECT_NE(log.out.find(";RM3;;0;sans réponse\n"), std::string::npos) << log.out;
}

// What reaches the line, decoded by sigrok: a dry run writes nothing, a
// restore writes the changed word and the checksum word and nothing else.
TEST(CommandLine, DryRunWritesNothingOnTheLineAndARestoreOnlyTheChangedWord)
{
    if (!zuna::test::have_sigrok())
        GTEST_SKIP() << "sigrok-cli not installed";
    const std::string dir = "/tmp/zuna-cli-trace";
    ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str()), 0);
    const std::string bench = "--simulate --data-dir " + dir + " ";
    ASSERT_EQ(run(bench + "--save " + dir + "/c120.zuna.json --family c120").code, 0);
    const std::string edit = "python3 -c \"import json; d=json.load(open('" + dir + "/c120.zuna.json'));"
                             "d['reglages']['Canal 2']['Mesure 1']['max']-=3; d.pop('image');"
                             "json.dump(d,open('" + dir + "/ref.zuna.json','w'))\"";
    ASSERT_EQ(std::system(edit.c_str()), 0);
    // Word write commands: 0x7A, address, two bytes, their sum.
    auto written_words = [](const std::string& vcd) {
        const std::vector<int> b = zuna::test::sigrok_bytes(QString::fromStdString(vcd), "uart:rx=D0:baudrate=7194", "rx-data");
        std::vector<int> words;
        for (size_t i = 0; i + 4 < b.size(); ++i)
            if (b[i] == 0x7A && ((0x7A + b[i + 1] + b[i + 2] + b[i + 3]) & 0xFF) == b[i + 4])
                words.push_back(b[i + 1]);
        return std::make_pair(words, b.size());
    };
    const Result dry = run(bench + "--restore " + dir + "/ref.zuna.json --dry-run --trace " + dir + "/dry.vcd");
    EXPECT_EQ(dry.code, 1) << dry.out;
    const auto [none, dry_bytes] = written_words(dir + "/dry.vcd");
    EXPECT_GT(dry_bytes, 128u * 4); // the whole read is on the trace
    EXPECT_TRUE(none.empty());
    const Result restore = run(bench + "--restore " + dir + "/ref.zuna.json --trace " + dir + "/restore.vcd");
    EXPECT_EQ(restore.code, 0) << restore.out;
    auto [words, bytes] = written_words(dir + "/restore.vcd");
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    ASSERT_EQ(words.size(), 2u) << restore.out;
    EXPECT_EQ(words.back(), 127); // the checksum word
}
