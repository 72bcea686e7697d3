#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

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
    };
    for (const auto& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.words), std::string::npos) << c.args << "\n" << r.out;
    }
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
        "del r['Canal 7']; d['famille']='C120'; json.dump(d,open('" + dir + "/autre.zuna.json','w'))\"";
    ASSERT_EQ(std::system(edit.c_str()), 0);
    ASSERT_EQ(std::system(("printf '{\"format\": 1, ' > " + dir + "/casse.zuna.json").c_str()), 0);
    struct Case { std::string args; int code; std::vector<std::string> words; } cases[] = {
        {"--restore " + dir + "/ref.zuna.json --dry-run", 1,
         {"Canal 1/HFL/max", "Canal 2/Sortie   2           3         *", "3 réglages à écrire (essai"}},
        {"--restore " + dir + "/ref.zuna.json", 0, {"3 réglages écrits, tous vérifiés"}},
        {"--restore " + dir + "/ref.zuna.json --sim-fault=silent", 1, {"ne répond pas"}},
        {"--restore " + dir + "/rm3.zuna.json --dry-run", 0, {"Le monnayeur a déjà tous les réglages du fichier."}},
        {"--restore " + dir + "/canal7.zuna.json", 2, {"« Canal 7/HFL/max » n'existe pas sur un SECI RM3", "Rien n'est écrit"}},
        {"--restore " + dir + "/autre.zuna.json --family rm3", 2, {"n'est pas un fichier de réglages d'une famille connue"}},
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
