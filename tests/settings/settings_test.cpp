#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/bands.h"
#include "tests/common/counting_port.h"
#include "tests/common/fake_family.h"
#include "tests/common/shell_output.h"
#include "settings_file/settings_file.h"

using namespace zuna;
using zuna::test::FakeFamily;
using zuna::test::FakeMechanism;

namespace {

settings::Snapshot good_snapshot()
{
    settings::Snapshot s;
    s.family = "FAKE";
    s.date = "2026-12-08T09:00:00";
    s.delay = 812;
    s.identity = {{"Numéro", "F-1"}};
    s.values = FakeFamily::defaults();
    s.image = FakeFamily::image_of(s.values);
    return s;
}

QJsonObject good_json()
{
    FakeFamily f;
    return QJsonDocument::fromJson(settings::to_json(f, good_snapshot())).object();
}

QJsonObject with(QJsonObject o, const QString& section, const QString& key, const QJsonValue& v)
{
    QJsonObject reglages = o["reglages"].toObject();
    if (section.isEmpty()) {
        if (v.isUndefined())
            reglages.remove(key);
        else
            reglages[key] = v;
    } else {
        QJsonObject s = reglages[section].toObject();
        if (v.isUndefined())
            s.remove(key);
        else
            s[key] = v;
        reglages[section] = s;
    }
    o["reglages"] = reglages;
    return o;
}

} // namespace

TEST(SettingsFile, RefusesWhatIsNotASoundSettingsFileNamingTheSetting)
{
    FakeFamily f;
    const QJsonObject good = good_json();
    auto top = [&](const QString& key, const QJsonValue& v) {
        QJsonObject o = good;
        if (v.isUndefined())
            o.remove(key);
        else
            o[key] = v;
        return QJsonDocument(o).toJson();
    };
    auto in = [&](const QString& section, const QString& key, const QJsonValue& v) {
        return QJsonDocument(with(good, section, key, v)).toJson();
    };
    QJsonObject canal1 = good["reglages"].toObject()["Canal 1"].toObject();
    QJsonObject mesure = canal1["Mesure 1"].toObject();
    mesure["min"] = 300;
    canal1["Mesure 1"] = mesure;
    const QByteArray out_of_range = QJsonDocument(with(good, "", "Canal 1", canal1)).toJson();
    mesure["min"] = 41; // agrees with its range, not with the image
    canal1["Mesure 1"] = mesure;
    const QByteArray image_disagrees = QJsonDocument(with(good, "", "Canal 1", canal1)).toJson();
    QJsonObject canal5 = canal1;
    const QByteArray extra_channel = QJsonDocument(with(good, "", "Canal 5", canal5)).toJson();
    // What QJsonDocument cannot write: texts edited by hand.
    const QByteArray text = QJsonDocument(good).toJson();
    auto edited = [&](const char* from, const char* to) {
        QByteArray t = text;
        const qsizetype at = t.indexOf(from);
        return at < 0 ? QByteArray("not found") : t.replace(at, qsizetype(strlen(from)), to);
    };
    struct Case {
        const char* what;
        QByteArray json;
        const char* says;
    } cases[] = {
        {"broken JSON", "{\"format\": 1,\n \"famille\": ", "n'est pas un JSON valide, ligne 2, colonne 13 : "},
        {"empty file", " \n", "Le fichier est vide."},
        {"a setting twice", edited("\"Mesure 1\": {", "\"Mesure 1\": {\"max\": 999, "),
         "Le réglage « Canal 1/Mesure 1/max » figure deux fois dans le fichier (ligne "},
        {"a setting twice, escaped", edited("\"Mesure 1\": {", "\"Mesure 1\": {\"m\\u0061x\": 100, "),
         "Le réglage « Canal 1/Mesure 1/max » figure deux fois"},
        {"the family twice", edited("{", "{\"famille\": \"C120\", "), "La clé « famille » figure deux fois"},
        {"a flat name beside the nested one", edited("\"reglages\": {", "\"reglages\": {\"Canal 1/Mesure 1/max\": 77, "),
         "Le réglage « Canal 1/Mesure 1/max » figure deux fois"},
        {"invalid escape", edited("\"Numéro\": \"F-1\"", "\"Numéro\": \"F\\1\""), "« \\1 » (ligne "},
        {"a NUL byte in a name", top("famille", QString::fromUtf8("FA\0KE", 5)), "(« FA\\u0000KE »), pas d'un FAUX 1."},
        {"not an object", "[1, 2]", "n'est pas un fichier de réglages"},
        {"another family", top("famille", "C120"), "autre monnayeur (« C120 »)"},
        {"newer format", top("format", 2), "format plus récent (2)"},
        {"format missing", top("format", QJsonValue::Undefined), "n'indique pas son format"},
        {"unknown key", top("couleur", "bleu"), "Clé inconnue « couleur »"},
        {"missing setting", in("Sorties", "Canal 3", QJsonValue::Undefined), "« Sorties/Canal 3 » manque"},
        {"extra setting", in("Sorties", "Canal 9", 1), "« Sorties/Canal 9 » n'existe pas"},
        {"channel the family lacks", extra_channel, "« Canal 5/Mesure 1/max » n'existe pas"},
        {"out of range", out_of_range, "« Canal 1/Mesure 1/min » vaut 300, hors de 0..255"},
        {"output out of range", in("Sorties", "Canal 2", 7), "« Sorties/Canal 2 » vaut 7, hors de 0..6"},
        {"not an integer", in("Sorties", "Canal 2", 1.5), "« Sorties/Canal 2 » n'est pas un nombre entier"},
        {"text value", in("Sorties", "Canal 2", "2"), "« Sorties/Canal 2 » n'est pas un nombre entier"},
        {"largest int", in("Sorties", "Canal 2", 2147483647), "« Sorties/Canal 2 » vaut 2147483647, hors de 0..6."},
        {"past int", in("Sorties", "Canal 2", -2147483649.0), "« Sorties/Canal 2 » vaut -2147483649, hors de 0..6."},
        {"huge value", in("Sorties", "Canal 2", 1e300), "« Sorties/Canal 2 » vaut 1e+300, hors de 0..6."},
        {"image and settings disagree", image_disagrees, "« Canal 1/Mesure 1/min » vaut 41 mais l'image"},
        {"image too short", top("image", "00 01 02"), "3 octets au lieu de 32"},
        {"image not hexadecimal", top("image", "0G"), "« G », qui n'est pas hexadécimal"},
        {"image odd digits", top("image", "001"), "nombre impair"},
        {"identity not text", top("identite", QJsonObject{{"Numéro", 3}}), "« Numéro » n'est pas un texte"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(settings::from_json(f, c.json, &error)) << c.what;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error;
    }
    std::string error;
    const auto s = settings::from_json(f, QJsonDocument(good).toJson(), &error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->values, good_snapshot().values);
    EXPECT_EQ(s->image, good_snapshot().image);
    EXPECT_EQ(s->identity, good_snapshot().identity);
    EXPECT_EQ(s->delay, 812);
    // A file written by hand without an image is checked the same way and accepted.
    QJsonObject no_image = good;
    no_image.remove("image");
    EXPECT_TRUE(settings::from_json(f, QJsonDocument(no_image).toJson(), &error)) << error;
}

TEST(SettingsFile, SavingGoesThroughARenameAndAFailureKeepsTheOldFile)
{
    FakeFamily f;
    QTemporaryDir dir;
    const QString path = dir.filePath("ref.zuna.json");
    QString error;
    ASSERT_TRUE(settings::save_file(path, f, good_snapshot(), &error)) << error.toStdString();
    settings::Snapshot changed = good_snapshot();
    changed.values["Sorties/Canal 1"] = 5;
    ASSERT_TRUE(settings::save_file(path, f, changed, &error));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"ref.zuna.json"}); // no temporary left
    EXPECT_EQ(settings::load_file(path, f, &error)->values.at("Sorties/Canal 1"), 5);

    // A directory in the way of the file: refused in French, nothing replaced.
    QDir(dir.path()).mkdir("occupe.zuna.json");
    EXPECT_FALSE(settings::save_file(dir.filePath("occupe.zuna.json"), f, changed, &error));
    EXPECT_EQ(error, "Impossible d'écrire " + dir.filePath("occupe.zuna.json") + " : c'est un dossier.");
    EXPECT_FALSE(settings::save_file(dir.filePath("absent/ref.zuna.json"), f, changed, &error));
    EXPECT_TRUE(QFileInfo(dir.filePath("occupe.zuna.json")).isDir());
    EXPECT_FALSE(settings::load_file(dir.filePath("absent.zuna.json"), f, &error));
    EXPECT_TRUE(error.contains("introuvable")) << error.toStdString();
    EXPECT_FALSE(settings::load_file(dir.filePath("occupe.zuna.json"), f, &error));
    EXPECT_EQ(error, "Impossible de lire " + dir.filePath("occupe.zuna.json") +
                         " : c'est un dossier, pas un fichier de réglages.");
}

namespace {
// A disk that fills up: writes take `room` bytes in all, then fail with ENOSPC.
ssize_t room = 0;
ssize_t full_disk_write(int fd, const void* data, size_t size)
{
    const ssize_t n = std::min<ssize_t>(room, ssize_t(size));
    if (n <= 0) {
        errno = ENOSPC;
        return -1;
    }
    room -= n;
    return ::write(fd, data, size_t(n));
}
int full_disk_fsync(int)
{
    errno = ENOSPC; // a network or thin disk that says so only at the flush
    return -1;
}
struct DiskSeam {
    ~DiskSeam() { settings::disk_calls = {}; }
};
} // namespace

// A disk that fills up part-way through a save or a log line: the old file
// stays byte for byte, no temporary is left, and the cause is said.
TEST(SettingsFile, AFullDiskKeepsTheOldFileAndTheOldLog)
{
    FakeFamily f;
    QTemporaryDir dir;
    const QString path = dir.filePath("ref.zuna.json");
    QString error;
    ASSERT_TRUE(settings::save_file(path, f, good_snapshot(), &error)) << error.toStdString();
    settings::Outcome o;
    ASSERT_TRUE(settings::append_log(path, "FAKE", o, &error)) << error.toStdString();
    auto bytes = [](const QString& p) {
        QFile file(p);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("absent");
    };
    const QByteArray old_file = bytes(path), old_log = bytes(settings::log_path(path));
    settings::Snapshot changed = good_snapshot();
    changed.values["Sorties/Canal 1"] = 5;
    struct Case {
        const char* what;
        ssize_t room;
        bool fsync_fails;
    } cases[] = {
        {"no room at all", 0, false},
        {"room for part of it", 100, false},
        {"full only at the flush", 1 << 30, true},
    };
    const DiskSeam restore_the_disk;
    for (const Case& c : cases) {
        room = c.room;
        settings::disk_calls.write = full_disk_write;
        settings::disk_calls.fsync = c.fsync_fails ? full_disk_fsync : nullptr;
        EXPECT_FALSE(settings::save_file(path, f, changed, &error)) << c.what;
        EXPECT_EQ(error, "Impossible d'écrire " + path + " : disque plein.\nL'ancien fichier est conservé.") << c.what;
        room = c.room / 10; // a log line is short
        EXPECT_FALSE(settings::append_log(path, "FAKE", o, &error)) << c.what;
        EXPECT_EQ(error, "Impossible d'écrire le journal " + settings::log_path(path) + " : disque plein.") << c.what;
        settings::disk_calls = {};
        EXPECT_EQ(bytes(path), old_file) << c.what;
        EXPECT_EQ(bytes(settings::log_path(path)), old_log) << c.what;
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"ref.csv", "ref.zuna.json"})) << c.what;
    }
}

// Temporaries that a save killed at its rename left beside the file go at
// the next save of that file; a save in progress (its temporary locked),
// another file's temporaries and other names stay.
TEST(SettingsFile, ASaveRemovesTheTemporariesAKilledSaveLeft)
{
    FakeFamily f;
    QTemporaryDir dir;
    const QString path = dir.filePath("ref.zuna.json");
    for (const char* name : {"ref.zuna.json.aB3xYz", "ref.zuna.json.Q9q9q9", "ref.zuna.json.enCours", "ref.zuna.json.bak",
                             "ref.zuna.json.abc", "autre.zuna.json.aB3xYz"}) {
        QFile t(dir.filePath(name));
        ASSERT_TRUE(t.open(QIODevice::WriteOnly));
        t.write("{\"format\": 1, \"fam");
    }
    const int busy = ::open(QFile::encodeName(dir.filePath("ref.zuna.json.enCours")).constData(), O_RDONLY);
    ASSERT_GE(busy, 0);
    ASSERT_EQ(::flock(busy, LOCK_EX), 0);
    QString error;
    ASSERT_TRUE(settings::save_file(path, f, good_snapshot(), &error)) << error.toStdString();
    ::close(busy);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              (QStringList{"autre.zuna.json.aB3xYz", "ref.zuna.json", "ref.zuna.json.abc", "ref.zuna.json.bak",
                           "ref.zuna.json.enCours"}));
}

// A settings file is read once, whatever it is: a pipe (a shell's "<(...)")
// is read to its end; a named FIFO, which might wait forever for a writer,
// and a file past the size of any settings file are refused at once.
TEST(SettingsFile, ReadsAPipeOnceAndRefusesAFifoAndAHugeFile)
{
    FakeFamily f;
    QTemporaryDir dir;
    QString error;
    const QByteArray json = settings::to_json(f, good_snapshot());
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], json.constData(), size_t(json.size())), json.size());
    ::close(fds[1]);
    const auto piped = settings::load_file("/dev/fd/" + QString::number(fds[0]), f, &error);
    ::close(fds[0]);
    ASSERT_TRUE(piped) << error.toStdString();
    EXPECT_EQ(piped->values, good_snapshot().values);

    const QString fifo = dir.filePath("tube.zuna.json");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(settings::load_file(fifo, f, &error));
    EXPECT_TRUE(error.startsWith("Impossible de lire " + fifo + " : c'est un tube nommé")) << error.toStdString();

    const QString huge = dir.filePath("gros.zuna.json");
    QFile big(huge);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write(json + QByteArray(settings::kLargestFile, ' '));
    big.close();
    EXPECT_FALSE(settings::load_file(huge, f, &error));
    EXPECT_EQ(error, huge + " est trop grand pour un fichier de réglages (plus de 4 Mio).");
}

// The clone log read back by python's csv module, column for column: an
// identity holding the separator, quotes and a line break stays one field.
TEST(SettingsFile, TheCloneLogReadsBackColumnForColumn)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("série \"A\"; 2.zuna.json");
    settings::Outcome o;
    o.before.identity = {{"Numéro", {"N;1 \"B\"\r\nfin", "x"}}, {"Lot", {std::string("A\0B", 3), ""}}};
    o.written = {"Canal 1/Mesure 1/min", "Sorties/Canal 2"};
    // The comparison table shows the NUL as well, without being cut by it.
    EXPECT_NE(settings::table_text(o.before).find("Lot      A\\u0000B"), std::string::npos) << settings::table_text(o.before);
    QString error;
    ASSERT_TRUE(settings::append_log(path, "FA;KE", o, &error)) << error.toStdString();
    o.kind = settings::Outcome::NotHeld;
    ASSERT_TRUE(settings::append_log(path, "FAKE", o, &error)) << error.toStdString();
    const std::string script = "import csv,json,sys; print(json.dumps([r[2:] for r in csv.reader(open(sys.argv[1], "
                               "newline='', encoding='utf-8'), delimiter=';')]))";
    const std::string cmd = "python3 -c \"" + script + "\" '" + settings::log_path(path).toStdString() + "'";
    const std::string out = test::shell_output(cmd);
    EXPECT_EQ(out, "[[\"famille\", \"identit\\u00e9\", \"r\\u00e9glages \\u00e9crits\", \"r\\u00e9sultat\"], "
                   "[\"FA;KE\", \"N;1 \\\"B\\\"\\r\\nfin A\\\\u0000B\", \"2\", \"v\\u00e9rifi\\u00e9\"], "
                   "[\"FAKE\", \"N;1 \\\"B\\\"\\r\\nfin A\\\\u0000B\", \"2\", \"non tenu\"]]\n");
}

TEST(SettingsRestore, WritesOnlyWhatDiffersAndClaimsOnlyWhatHolds)
{
    const std::vector<std::string> three = {"Canal 2/Mesure 3/max", "Sorties/Canal 4", "Canal 1/Mesure 1/min"};
    struct Case {
        const char* what;
        int answer_writes;
        std::string stubborn;
        bool dry_run;
        settings::Outcome::Kind kind;
        size_t written, failed, not_written;
        const char* says;
    } cases[] = {
        {"all held", 1 << 30, "", false, settings::Outcome::Held, 3, 0, 0, "3 réglages écrits, tous vérifiés"},
        {"one not held", 1 << 30, "Sorties/Canal 4", false, settings::Outcome::NotHeld, 2, 1, 0,
         "Ne tiennent pas la valeur du fichier :\n  Sorties/Canal 4"},
        {"silent after one write", 1, "", false, settings::Outcome::NoAnswer, 1, 0, 2, "Non écrits ou non vérifiés :"},
        {"dry run", 1 << 30, "", true, settings::Outcome::Held, 0, 0, 3, "3 réglages à écrire (essai"},
    };
    for (const Case& c : cases) {
        FakeMechanism m;
        m.values = FakeFamily::defaults();
        m.answer_writes = c.answer_writes;
        m.stubborn = c.stubborn;
        settings::Snapshot file = good_snapshot();
        file.values["Canal 2/Mesure 3/max"] = 99;
        file.values["Sorties/Canal 4"] = 6;
        file.values["Canal 1/Mesure 1/min"] = 45;
        file.values["Somme"] = 3; // read-only: compared, never written
        file.image = FakeFamily::image_of(file.values);
        FakeFamily f(&m);
        zuna::test::CountingPort port;
        Station s(port);
        const settings::Outcome o = settings::restore(s, f, file, c.dry_run, nullptr);
        EXPECT_EQ(o.kind, c.kind) << c.what;
        EXPECT_EQ(o.before.to_write().size(), 3u) << c.what;
        EXPECT_EQ(o.written.size(), c.written) << c.what;
        EXPECT_EQ(o.failed.size(), c.failed) << c.what;
        EXPECT_EQ(o.not_written.size(), c.not_written) << c.what;
        EXPECT_NE(o.message().find(c.says), std::string::npos) << c.what << ": " << o.message();
        for (const std::string& n : m.written) {
            EXPECT_NE(std::find(three.begin(), three.end(), n), three.end()) << c.what << ": wrote " << n;
        }
        if (c.dry_run) {
            EXPECT_TRUE(m.written.empty());
        }
        const std::string table = settings::table_text(o.before);
        EXPECT_NE(table.find("Somme"), std::string::npos);
        EXPECT_NE(table.find("(lecture seule)"), std::string::npos) << table;
    }
    // A mechanism that does not answer at all: nothing compared, nothing claimed.
    FakeMechanism silent;
    silent.silent = true;
    FakeFamily f(&silent);
    zuna::test::CountingPort port;
    Station s(port);
    const settings::Outcome o = settings::restore(s, f, good_snapshot(), false, nullptr);
    EXPECT_EQ(o.kind, settings::Outcome::NoAnswer);
    EXPECT_TRUE(o.before.rows.empty());
    EXPECT_EQ(o.exit_code(), 1);
    EXPECT_EQ(o.message(), "Le monayeur ne répond pas.\nRien n'est écrit.");
    EXPECT_EQ(settings::log_line("2026-12-08", "09:00:00", "FAKE", o), "2026-12-08;09:00:00;FAKE;;0;sans réponse");
    // A dry run that could not read says so, as the restore does.
    const settings::Outcome dry = settings::restore(s, f, good_snapshot(), true, nullptr);
    EXPECT_EQ(dry.message(), "Le monayeur ne répond pas.\nRien n'est écrit.");
    EXPECT_EQ(dry.exit_code(), 1);
}

TEST(Bands, TwoChannelsOverlapOnlyWhenEveryComparedMeasurementIntersects)
{
    using settings::Band;
    using W = std::vector<std::optional<Band>>;
    struct Case {
        const char* what;
        W a, b;
        bool a_enabled, b_enabled;
        std::vector<bool> compared;
        bool overlap;
    } cases[] = {
        {"identical", {Band{10, 20}, Band{30, 40}}, {Band{10, 20}, Band{30, 40}}, true, true, {}, true},
        {"touching bounds", {Band{10, 20}, Band{30, 40}}, {Band{20, 25}, Band{40, 50}}, true, true, {}, true},
        {"one measurement apart", {Band{10, 20}, Band{30, 40}}, {Band{15, 25}, Band{41, 50}}, true, true, {}, false},
        {"apart on a measurement not compared", {Band{10, 20}, Band{30, 40}}, {Band{15, 25}, Band{41, 50}}, true,
         true, {true, false}, true},
        {"disabled channel", {Band{10, 20}, Band{30, 40}}, {Band{10, 20}, Band{30, 40}}, true, false, {}, false},
        {"unbounded measurement decides nothing", {Band{10, 20}, std::nullopt}, {Band{12, 18}, Band{0, 5}}, true,
         true, {}, true},
        {"nothing bounded by both", {Band{10, 20}, std::nullopt}, {std::nullopt, Band{0, 5}}, true, true, {}, false},
        {"inverted window accepts nothing", {Band{20, 10}, Band{30, 40}}, {Band{0, 255}, Band{0, 255}}, true, true,
         {}, false},
    };
    for (const Case& c : cases) {
        settings::BandSet set;
        set.measurements = {"M1", "M2"};
        set.compared = c.compared;
        set.channels = {{3, c.a_enabled, c.a}, {7, c.b_enabled, c.b}};
        EXPECT_EQ(settings::overlap(set, set.channels[0], set.channels[1]), c.overlap) << c.what;
        EXPECT_EQ(settings::overlaps(set).size(), c.overlap ? 1u : 0u) << c.what;
        // Writing channel 3's windows into an enabled channel asks the same question.
        set.channels[0].enabled = false;
        EXPECT_EQ(settings::overlaps_after_write(set, 3, c.a).size(), c.overlap ? 1u : 0u) << c.what;
    }
    EXPECT_EQ(settings::overlap_question(7, {3}),
              "Les canaux 3 et 7 se recouvrent : une même pièce serait acceptée par les deux. Écrire quand même ?");
    EXPECT_EQ(settings::overlap_statement({{1, 2}, {3, 7}}),
              "Les canaux 1-2 et 3-7 se recouvrent : une même pièce serait acceptée par deux canaux.");
    EXPECT_EQ(settings::overlap_question({{1, 2}, {3, 7}, {4, 9}}),
              "Les canaux 1-2, 3-7 et 4-9 se recouvrent : une même pièce serait acceptée par deux canaux. Écrire quand même ?");
}
