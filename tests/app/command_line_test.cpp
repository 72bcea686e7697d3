#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/common/sigrok.h"

namespace {
// Folders of this test process's own, so that two copies of the tests may
// run at once; removed when the process ends.
struct TmpBase {
    const std::string path = "/tmp/zuna-cli-" + std::to_string(::getpid());
    ~TmpBase() { (void)std::system(("rm -rf " + path).c_str()); }
};
std::string tmp(const std::string& name)
{
    static TmpBase base;
    return base.path + "/" + name;
}

struct Result {
    int code;
    std::string out;
};

// shell: what the shell does first ("cat f | ", "ulimit -f 1; "); env: the program's environment.
Result run(const std::string& args, const std::string& shell = "", const std::string& env = "QT_QPA_PLATFORM=offscreen")
{
    const std::string cmd = shell + env + " timeout 20 " ZUNA_BINARY_DIR "/zuna07 " + args + " 2>&1";
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
        {"--simulate --trace /nonexistent-dir/t.vcd --data-dir " + tmp("test"), 1, "Impossible de créer la trace"},
        {"--simulate --check-port", 0, "OK        Le module répond à sa mesure : 100 lectures"},
        {"--simulate --check-port --sim-fault=no-module", 1, "(pas de base de temps sur le bit d'état 5, mesure 5000)"},
        {"--simulate=g13 --check-port", 0, "bit d'état 7 (broche 11) : bloqué à 0."}, // the G13 heard no pulse
    };
    for (const auto& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.words), std::string::npos) << c.args << "\n" << r.out;
    }
}

TEST(CommandLine, APauseFloorThatIsNoNumberStopsEveryRun)
{
    const std::string conf = tmp("conf");
    ASSERT_EQ(std::system(("mkdir -p " + conf + "/zuna07 && printf '[port]\\npause_floor_ns=vite\\n' > " + conf +
                           "/zuna07/zuna07.conf")
                              .c_str()),
              0);
    ::setenv("XDG_CONFIG_HOME", conf.c_str(), 1);
    for (const char* args : {"--simulate --check-port", "--check-port /dev/zuna-no-such-port", "--simulate"}) {
        const Result r = run(args);
        EXPECT_EQ(r.code, 2) << args << "\n" << r.out;
        EXPECT_NE(r.out.find(conf + "/zuna07/zuna07.conf, [port] pause_floor_ns : Plancher des pauses "
                                    "« vite » refusé"),
                  std::string::npos)
            << r.out;
    }
    ::unsetenv("XDG_CONFIG_HOME");
}

// The floor of zuna07.conf reaches the bench as it reaches a hardware port.
// Without it the C120's wake-up pulse lasts 4.1 ms on a PC of speed 1, 0.81
// ms on one six times faster: there the C120 sleeps, its silence is told and
// nothing is saved. (With the floor, a read at speed 6 gets further, and
// stops at the first 0xFF byte, whose run outlasts the recorder's 10000 reads.)
TEST(CommandLine, WithoutTheFloorAFastPcDoesNotWakeTheC120)
{
    const std::string dir = tmp("floor");
    ::setenv("XDG_CONFIG_HOME", (dir + "/conf").c_str(), 1);
    struct Case { const char* speed; int code; const char* words; } cases[] = {
        {"1", 0, "C120 : 85 réglages enregistrés"},
        {"6", 1, "Le monayeur ne répond pas. Rien n'est enregistré."},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir + "/conf/zuna07 " + dir +
                               "/data && printf '[port]\\npause_floor_ns=0\\n' > " + dir +
                               "/conf/zuna07/zuna07.conf").c_str()),
                  0);
        const Result r = run(std::string("--simulate=c120 --sim-speed=") + c.speed + " --data-dir " + dir +
                             "/data --save " + dir + "/f.zuna.json --family c120");
        EXPECT_EQ(r.code, c.code) << c.speed << "\n" << r.out;
        EXPECT_NE(r.out.find(c.words), std::string::npos) << c.speed << "\n" << r.out;
        EXPECT_EQ(QFile::exists(QString::fromStdString(dir + "/f.zuna.json")), c.code == 0) << c.speed;
    }
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(CommandLine, ASignalEndsTheProgramInEveryStateWithExitCode0)
{
    // The station ended as a desktop session or a script ends it: idle, on
    // the start-up prompt, on the model library's repair notice. It exits 0
    // and leaves no process behind.
    const std::string dir = tmp("signal");
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
        const Result r = run("--simulate --data-dir " + tmp("display"), "", c.env);
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
    const std::string dir = tmp("settings");
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

namespace {
QJsonObject json_file(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
}
} // namespace

// Every family's save, dry run and restore on a line that fails in each way
// the bench can make it fail. A save exits 0 only with the mechanism's own
// values in the file; a dry run or a restore that could not read says so
// ("Rien n'est écrit."), never that nothing differs; a restore cut by a
// power loss names what it could not verify.
TEST(CommandLine, EveryFamilyUnderEveryLineFault)
{
    const std::string dir = tmp("faults");
    ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str()), 0);
    const std::string bench = "--simulate --data-dir " + dir + " ";
    // The files restored differ from the bench mechanism in two settings of two channels.
    const std::vector<std::pair<std::string, QStringList>> families = {
        {"c120", {"Mesure 1", "min"}}, {"c220b", {"Mesure 1", "min"}}, {"c220", {"Bas 1"}},
        {"g13", {"Mesure 1", "min"}},  {"g136", {"Paire 1", "min"}},   {"rm3", {"HFL", "min"}},
        {"rm4", {"HFL", "min"}},       {"al3", {"Paramètre 1"}},
    };
    for (const auto& [family, key] : families) {
        const std::string clean = dir + "/" + family + ".zuna.json";
        ASSERT_EQ(run(bench + "--save " + clean + " --family " + family).code, 0) << family;
        QJsonObject doc = json_file(clean);
        doc.remove("image");
        QJsonObject reglages = doc["reglages"].toObject();
        for (const char* channel : {"Canal 1", "Canal 2"}) {
            QJsonObject c = reglages[channel].toObject();
            if (key.size() == 1) {
                c[key[0]] = c[key[0]].toInt() + 1;
            } else {
                QJsonObject m = c[key[0]].toObject();
                m[key[1]] = m[key[1]].toInt() + 1;
                c[key[0]] = m;
            }
            reglages[channel] = c;
        }
        doc["reglages"] = reglages;
        QFile edited(QString::fromStdString(dir + "/" + family + "-2.zuna.json"));
        ASSERT_TRUE(edited.open(QIODevice::WriteOnly));
        edited.write(QJsonDocument(doc).toJson());
    }
    struct Expect {
        int code;
        const char* says;
    };
    const Expect saved{0, "réglages enregistrés dans"}, not_saved{1, "Rien n'est enregistré."};
    const Expect differs{1, "2 réglages à écrire (essai : rien n'est écrit)."}, not_read{1, "Rien n'est écrit."};
    const Expect written{0, "2 réglages écrits, tous vérifiés"}, cut{1, "Non écrits ou non vérifiés :"};
    const Expect not_held{1, "Ne tiennent pas la valeur du fichier :"};
    struct Row {
        const char* family;
        const char* fault;
        Expect save, dry, restore;
        const char* cause; // said by every run that could not read ("" when the family's words vary)
    } rows[] = {
        {"c120", "silent", not_saved, not_read, not_read, "Le monayeur ne répond pas."},
        {"c120", "stuck-low", not_saved, not_read, not_read, "Le compte de délai C120 vaut 0"},
        {"c120", "noise", saved, differs, written, ""},
        {"c120", "power-cut=1", saved, differs, cut, ""},
        // A PC that stalls (seeded): the C120's open reply is cut, nothing is taken as read.
        {"c120", "stall=100 --sim-seed=7", not_saved, not_read, not_read, "Le monayeur ne répond pas."},
        {"c220b", "silent", not_saved, not_read, not_read, "Le monayeur ne répond pas."},
        {"c220b", "stuck-low", not_saved, not_read, not_read, "Le compte de délai C220B vaut 0"},
        {"c220b", "noise", saved, differs, written, ""},
        {"c220b", "power-cut=1", saved, differs, cut, ""},
        // Writes kept wrong once are written again until they read back as sent
        // (the 4th: the last checksum word, byte 255 with seed 1); the other family refused.
        {"c120", "wrong-readback=1", saved, differs, written, ""},
        {"c120", "wrong-readback=4", saved, differs, written, ""},
        {"c120", "lost-write=4", saved, differs, written, ""},
        {"c120", "lost-checksum", saved, differs, written, ""},
        {"c120", "other-family", not_saved, not_read, not_read, "Le monayeur ne répond pas."},
        {"c220b", "wrong-readback=1", saved, differs, written, ""},
        {"c220b", "wrong-readback=4", saved, differs, written, ""},
        {"c220b", "lost-write=4", saved, differs, written, ""},
        {"c220b", "lost-checksum", saved, differs, written, ""},
        {"c220b", "other-family", not_saved, not_read, not_read, "Le monayeur ne répond pas."},
        {"c220", "silent", not_saved, not_read, not_read, "Le monayeur ne répond pas."},
        {"c220", "stuck-low", not_saved, not_read, not_read, "Le compte de délai C220 vaut 0"},
        {"c220", "noise", not_saved, not_read, not_read, "ne concordent pas"},
        {"c220", "power-cut=1", saved, differs, cut, ""},
        {"c220", "wrong-readback=1", saved, differs, not_held, ""},
        {"c220", "lost-write=3", saved, differs, not_held, ""},
        {"c220", "lost-checksum", saved, differs, written, ""},
        {"c220", "other-family", not_saved, not_read, not_read, "n'est pas une somme de contrôle de C220"},
        {"g13", "silent", not_saved, not_read, not_read, "Le monnayeur ne répond pas"},
        {"g13", "stuck-low", not_saved, not_read, not_read, "Le compte de délai G13 vaut 0"},
        {"g13", "noise", not_saved, not_read, not_read, "réponses sont illisibles"},
        {"g13", "power-cut=1", saved, differs, cut, ""},
        {"g136", "silent", not_saved, not_read, not_read, "Le monayeur ne répond pas."},
        {"g136", "stuck-low", not_saved, not_read, not_read, "Le compte de délai G136 vaut 0"},
        {"g136", "noise", not_saved, not_read, not_read, ""},
        {"g136", "power-cut=1", saved, differs, cut, ""},
        // Mechanisms that keep a write wrong or not at all, or answer as the other G13.
        {"g13", "wrong-readback=1", saved, differs, not_held, ""},
        {"g13", "lost-write=2", saved, differs, not_held, ""},
        {"g13", "other-family", not_saved, not_read, not_read, "répond comme un G13.6000"},
        {"g136", "wrong-readback=1", saved, differs, not_held, ""},
        {"g136", "lost-write=2", saved, differs, not_held, ""},
        {"g136", "other-family", not_saved, not_read, not_read, "répond comme un G13.0000"},
        {"rm3", "silent", not_saved, not_read, not_read, "Le monnayeur ne répond pas (canal 1)"},
        {"rm3", "stuck-low", not_saved, not_read, not_read, "Le compte de délai RM3 vaut 0"},
        {"rm3", "noise", not_saved, not_read, not_read, ""},
        // A PC that stalls: a channel reply heard but counted across a stall is illegible, not silence.
        {"rm3", "stall=100", not_saved, not_read, not_read, "Le monnayeur répond, mais ses réponses sont illisibles"},
        {"rm3", "power-cut=1", saved, differs, cut, ""},
        // Channel 1 kept with a bit of its HFU max changed, or not kept.
        {"rm3", "wrong-readback=1", saved, differs, not_held, ""},
        {"rm3", "lost-write=1", saved, differs, not_held, ""},
        {"rm3", "other-family", not_saved, not_read, not_read, "pas comme un SECI RM3"},
        {"rm4", "silent", not_saved, not_read, not_read, "Le monnayeur ne répond pas (canal 1)"},
        {"rm4", "stuck-low", not_saved, not_read, not_read, "Le compte de délai RM4 vaut 0"},
        {"rm4", "noise", not_saved, not_read, not_read, ""},
        {"rm4", "power-cut=1", saved, differs, cut, ""},
        {"rm4", "wrong-readback=1", saved, differs, not_held, ""},
        {"rm4", "lost-write=1", saved, differs, not_held, ""},
        {"rm4", "other-family", not_saved, not_read, not_read, "pas comme un SECI RM4"},
        {"al3", "silent", not_saved, not_read, not_read, "Le monayeur ne répond pas."},
        {"al3", "stuck-low", not_saved, not_read, not_read, "Le compte de délai ALB vaut 0"},
        {"al3", "noise", not_saved, not_read, not_read, ""},
        {"al3", "power-cut=1", saved, differs, cut, ""},
        // The block goes twice: a byte lost in the second pass holds from the
        // first; the last byte of the second pass (delta 6) kept changed.
        {"al3", "lost-write=19", saved, differs, written, ""},
        {"al3", "wrong-readback=30", saved, differs, not_held, ""},
        {"al3", "other-family", not_saved, not_read, not_read, "Type de monnayeur inconnu (8)"},
    };
    for (const Row& row : rows) {
        const std::string family = row.family, fault = row.fault;
        const std::string what = family + " --sim-fault=" + fault;
        const std::string out = dir + "/" + family + "-" + fault.substr(0, fault.find(' ')) + ".zuna.json";
        const std::string file = dir + "/" + family + "-2.zuna.json";
        const std::pair<std::string, Expect> runs[] = {
            {"--save " + out + " --family " + family, row.save},
            {"--restore " + file + " --dry-run", row.dry},
            {"--restore " + file, row.restore},
        };
        for (const auto& [args, expect] : runs) {
            const Result r = run(bench + "--sim-fault=" + fault + " " + args);
            EXPECT_EQ(r.code, expect.code) << what << " " << args << "\n" << r.out;
            EXPECT_NE(r.out.find(expect.says), std::string::npos) << what << " " << args << "\n" << r.out;
            EXPECT_EQ(r.out.find("déjà tous les réglages"), std::string::npos) << what << " " << args << "\n" << r.out;
            if (expect.code == 1 && (expect.says == not_saved.says || expect.says == not_read.says)) {
                EXPECT_NE(r.out.find(row.cause), std::string::npos) << what << " " << args << "\n" << r.out;
            }
        }
        // A save that succeeded holds what the mechanism holds; one that failed wrote nothing.
        const QJsonObject saved_file = json_file(out), clean = json_file(dir + "/" + family + ".zuna.json");
        if (row.save.code == 0) {
            EXPECT_EQ(saved_file["reglages"], clean["reglages"]) << what;
            EXPECT_EQ(saved_file["image"], clean["image"]) << what;
        } else {
            EXPECT_FALSE(QFile::exists(QString::fromStdString(out))) << what;
        }
    }
}

// What reaches the line, decoded by sigrok: a dry run writes nothing, a
// restore writes the changed word and the checksum word and nothing else.
TEST(CommandLine, DryRunWritesNothingOnTheLineAndARestoreOnlyTheChangedWord)
{
    if (!zuna::test::have_sigrok())
        GTEST_SKIP() << "sigrok-cli not installed";
    const std::string dir = tmp("trace");
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
