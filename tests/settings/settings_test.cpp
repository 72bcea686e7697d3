#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "settings/bands.h"
#include "tests/common/counting_port.h"
#include "tests/common/fake_family.h"
#include "ui/settings_file.h"

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
    struct Case {
        const char* what;
        QByteArray json;
        const char* says;
    } cases[] = {
        {"broken JSON", "{\"format\": 1, \"famille\": ", "n'est pas un JSON valide"},
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
        {"huge value", in("Sorties", "Canal 2", 1e300), "« Sorties/Canal 2 » n'est pas un nombre entier"},
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
    EXPECT_TRUE(error.startsWith("Impossible d'écrire")) << error.toStdString();
    EXPECT_FALSE(settings::save_file(dir.filePath("absent/ref.zuna.json"), f, changed, &error));
    EXPECT_TRUE(QFileInfo(dir.filePath("occupe.zuna.json")).isDir());
    EXPECT_FALSE(settings::load_file(dir.filePath("absent.zuna.json"), f, &error));
    EXPECT_TRUE(error.contains("introuvable")) << error.toStdString();
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
    EXPECT_EQ(settings::log_line("2026-12-08", "09:00:00", "FAKE", o), "2026-12-08;09:00:00;FAKE;;0;sans réponse");
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
    EXPECT_EQ(settings::overlap_question({{1, 2}, {3, 7}, {4, 9}}),
              "Les canaux 1-2, 3-7 et 4-9 se recouvrent : une même pièce serait acceptée par deux canaux. Écrire quand même ?");
}
