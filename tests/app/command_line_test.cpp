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

Result run(const std::string& args)
{
    const std::string cmd = "QT_QPA_PLATFORM=offscreen timeout 20 " ZUNA_BINARY_DIR "/zuna07 " + args + " 2>&1";
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
        {"--bogus", 2, "Option inconnue"},
        {"--simulate=xyz", 2, "Famille de monnayeur inconnue"},
        {"--port /dev/zuna-no-such-port", 1, "Impossible d'ouvrir le port /dev/zuna-no-such-port"},
        {"--port /dev/zuna-no-such-port", 1, "zuna07 --check-port /dev/zuna-no-such-port"},
        {"--port io:junk", 1, "Adresse de port invalide"},
        {"--check-port /dev/zuna-no-such-port", 1, "ÉCHEC     Impossible d'ouvrir le port /dev/zuna-no-such-port"},
        {"--simulate --trace /nonexistent-dir/t.vcd --data-dir /tmp/zuna-cli-test", 1, "Impossible de créer la trace"},
        {"--simulate --check-port", 0, "OK        Le module répond à sa mesure : 100 lectures"},
        {"--simulate --check-port --sim-fault=no-module", 1, "(pas de base de temps sur le bit d'état 5, mesure 5000)"},
    };
    for (const auto& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.words), std::string::npos) << c.args << "\n" << r.out;
    }
}

TEST(CommandLine, APauseFloorThatIsNoNumberStopsEveryRun)
{
    ASSERT_EQ(std::system("mkdir -p /tmp/zuna-cli-conf/zuna07 && printf '[port]\\npause_floor_ns=vite\\n' "
                          "> /tmp/zuna-cli-conf/zuna07/zuna07.conf"),
              0);
    ::setenv("XDG_CONFIG_HOME", "/tmp/zuna-cli-conf", 1);
    for (const char* args : {"--simulate --check-port", "--check-port /dev/zuna-no-such-port", "--simulate"}) {
        const Result r = run(args);
        EXPECT_EQ(r.code, 2) << args << "\n" << r.out;
        EXPECT_NE(r.out.find("/tmp/zuna-cli-conf/zuna07/zuna07.conf, [port] pause_floor_ns : Plancher des pauses "
                             "« vite » refusé"),
                  std::string::npos)
            << r.out;
    }
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(CommandLine, TermSignalEndsTheProgramCleanly)
{
    // An idle station on the paced bench, ended as a desktop session ends it.
    const std::string cmd = "QT_QPA_PLATFORM=offscreen timeout -s KILL 20 sh -c '" ZUNA_BINARY_DIR
                            "/zuna07 --simulate --sim-pace=real --data-dir /tmp/zuna-cli-term & "
                            "p=$!; sleep 1; kill -TERM $p; wait $p'";
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
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
