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

// shell: what the shell does first ("cat f | ", "ulimit -f 1; ").
Result run(const std::string& args, const std::string& shell = "")
{
    const std::string cmd = shell + "QT_QPA_PLATFORM=offscreen timeout 20 " ZUNA_BINARY_DIR "/zuna07 " + args + " 2>&1";
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
        "del r['Canal 7']; d['famille']='C120'; json.dump(d,open('" + dir + "/autre.zuna.json','w'));"
        "d['famille']='XYZ'; json.dump(d,open('" + dir + "/inconnu.zuna.json','w'))\"";
    ASSERT_EQ(std::system(edit.c_str()), 0);
    ASSERT_EQ(std::system(("printf '{\"format\": 1, ' > " + dir + "/casse.zuna.json").c_str()), 0);
    // Files edited by hand as no JSON library writes them, and things that are not files.
    const std::string hand =
        "python3 -c \"import json; f=open('" + dir + "/rm3.zuna.json').read(); d=json.loads(f);"
        "w=lambda n,t: open('" + dir + "/'+n+'.zuna.json','w').write(t);"
        "w('famille2', f[:f.rindex('}')]+', \\\"famille\\\": \\\"C120\\\"}');"
        "w('max2', f.replace('\\\"HFL\\\": {', '\\\"HFL\\\": {\\\"max\\\": 3999, ', 1));"
        "w('plat', f.replace('\\\"reglages\\\": {', '\\\"reglages\\\": {\\\"Canal 1/HFL/max\\\": 77, ', 1));"
        "w('echappement', f.replace('\\\"date\\\": \\\"', '\\\"date\\\": \\\"\\\\\\\\1', 1));"
        "w('gros', f+' '*(4<<20));"
        "d['reglages']['Canal 1']['HFL']['max']=2147483647; w('int32', json.dumps(d));"
        "d['famille']='R\\x00M3'; w('nul', json.dumps(d));"
        "d=json.loads(f); d['reglages']['Canal 2']=d['reglages']['Canal 1'];"
        "w('recouvre', json.dumps(d))\"";
    ASSERT_EQ(std::system(hand.c_str()), 0) << hand;
    ASSERT_EQ(std::system(("mkdir " + dir + "/dossier.zuna.json && mkfifo " + dir + "/tube.zuna.json && cp " + dir +
                           "/rm3.zuna.json " + dir + "/plein.zuna.json").c_str()),
              0);
    struct Case { std::string args; int code; std::vector<std::string> words; std::string shell = ""; } cases[] = {
        {"--restore " + dir + "/ref.zuna.json --dry-run", 1,
         {"Canal 1/HFL/max", "Canal 2/Sortie   2           3         *", "3 réglages à écrire (essai"}},
        {"--restore " + dir + "/ref.zuna.json", 0, {"3 réglages écrits, tous vérifiés"}},
        {"--restore " + dir + "/ref.zuna.json --sim-fault=silent", 1, {"ne répond pas", "Rien n'est écrit."}},
        {"--restore " + dir + "/ref.zuna.json --sim-fault=silent --dry-run", 1, {"ne répond pas", "Rien n'est écrit."}},
        {"--restore " + dir + "/rm3.zuna.json --dry-run", 0, {"Le monnayeur a déjà tous les réglages du fichier."}},
        {"--restore " + dir + "/canal7.zuna.json", 2, {"« Canal 7/HFL/max » n'existe pas sur un SECI RM3", "Rien n'est écrit"}},
        {"--restore " + dir + "/autre.zuna.json --family rm3", 2, {"est un fichier de C120, pas de SECI RM3"}},
        {"--restore " + dir + "/inconnu.zuna.json", 2, {"n'est pas un fichier de réglages d'une famille connue (« XYZ »)"}},
        {"--restore " + dir + "/casse.zuna.json", 2, {"casse.zuna.json : Le fichier n'est pas un JSON valide, ligne 1, colonne 15 : "}},
        {"--restore " + dir + "/famille2.zuna.json --dry-run", 2, {"La clé « famille » figure deux fois", "Rien n'est écrit."}},
        {"--restore " + dir + "/max2.zuna.json --dry-run", 2, {"Le réglage « Canal 1/HFL/max » figure deux fois"}},
        {"--restore " + dir + "/plat.zuna.json --dry-run", 2, {"Le réglage « Canal 1/HFL/max » figure deux fois"}},
        {"--restore " + dir + "/echappement.zuna.json --dry-run", 2, {"« \\1 »", "n'est pas une séquence d'échappement JSON"}},
        {"--restore " + dir + "/gros.zuna.json --dry-run", 2, {"est trop grand pour un fichier de réglages"}},
        {"--restore " + dir + "/int32.zuna.json --dry-run", 2, {"« Canal 1/HFL/max » vaut 2147483647, hors de "}},
        {"--restore " + dir + "/nul.zuna.json --dry-run", 2, {"d'une famille connue (« R\\u0000M3 »). Rien n'est écrit."}},
        {"--restore " + dir + "/dossier.zuna.json", 2, {"c'est un dossier", "Rien n'est écrit."}},
        {"--save " + dir + "/dossier.zuna.json --family rm3", 1, {"Impossible d'écrire " + dir + "/dossier.zuna.json : c'est un dossier."}},
        {"--restore " + dir + "/tube.zuna.json", 2, {"c'est un tube nommé"}},
        {"--restore /dev/stdin --dry-run", 0, {"Le monnayeur a déjà tous les réglages du fichier."}, "cat " + dir + "/rm3.zuna.json | "},
        {"--save " + dir + "/plein.zuna.json --family rm3", 1, {"Impossible d'écrire " + dir + "/plein.zuna.json : fichier trop grand.\nL'ancien fichier est conservé."},
         "ulimit -f 1; trap '' XFSZ; "},
        {"--restore " + dir + "/recouvre.zuna.json", 0, {"attention : Les canaux 1 et 2 se recouvrent"}},
        {"--restore " + dir + "/absent.zuna.json", 2, {"introuvable"}},
        {"--save /nonexistent-dir/x.zuna.json --family rm4", 1, {"Impossible d'écrire /nonexistent-dir/x.zuna.json"}},
    };
    for (const auto& c : cases) {
        const Result r = run(bench + c.args, c.shell);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.out;
        for (const std::string& w : c.words)
            EXPECT_NE(r.out.find(w), std::string::npos) << c.args << ": " << w << "\n" << r.out;
    }
    // The save that found the disk full left the old file as it was and no temporary.
    EXPECT_EQ(std::system(("cmp " + dir + "/rm3.zuna.json " + dir + "/plein.zuna.json").c_str()), 0);
    EXPECT_EQ(run("--help >/dev/null; ls " + dir + " | grep -c 'zuna.json.'").out, "0\n");
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
