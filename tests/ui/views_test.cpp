#include <gtest/gtest.h>

#include <QDialog>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "tests/common/shell_output.h"
#include "tests/common/counting_port.h"
#include "tests/common/fake_family.h"
#include "ui/band_view.h"
#include "settings_file/settings_file.h"
#include "ui/settings_panel.h"
#include "ui/sheet.h"
#include "ui/shell.h"
#include "ui/transfer.h"

using namespace zuna;
using settings::Band;

namespace {

std::string run(const std::string& cmd) { return test::shell_output(cmd); }

settings::BandSet three_channels()
{
    settings::BandSet b;
    b.family = "FAUX 1";
    b.measurements = {"Mesure 1", "Mesure 2", "Mesure 3"};
    b.scale = {255, 255, 255};
    b.channels = {{1, true, {Band{10, 30}, Band{100, 120}, Band{50, 60}}},
                  {2, true, {Band{25, 40}, Band{110, 130}, Band{55, 70}}}, // overlaps 1 everywhere
                  {3, false, {Band{0, 255}, Band{0, 255}, Band{0, 255}}},  // disabled: not a band
                  {4, true, {Band{200, 220}, std::nullopt, Band{0, 10}}}};
    b.coin = std::vector<int>{20, 115, 80};
    return b;
}

} // namespace

TEST(BandView, DrawsEachEnabledChannelMarksTheCoinAndExports)
{
    zuna::test::CountingPort port;
    Station station(port);
    Shell shell(station);
    BandView view(shell, nullptr);
    view.set(three_channels());

    // The chart's series read back: one area per channel and bounded measurement.
    std::map<std::pair<int, int>, Band> drawn;
    int inside = -1, outside = -1;
    for (QAbstractSeries* s : view.chart()->series()) {
        if (auto* a = qobject_cast<QAreaSeries*>(s); a && a->property("channel").isValid()) {
            const int c = a->property("channel").toInt(), m = a->property("measurement").toInt();
            drawn[{c, m}] = Band{int(a->lowerSeries()->at(0).y()), int(a->upperSeries()->at(0).y())};
            EXPECT_EQ(a->name(), QString("Canal %1").arg(c));
        }
        if (auto* p = qobject_cast<QScatterSeries*>(s)) {
            if (p->name() == "dans une fenêtre")
                inside = int(p->count());
            if (p->name() == "hors fenêtre")
                outside = int(p->count());
        }
    }
    const std::map<std::pair<int, int>, Band> expected = {
        {{1, 0}, {10, 30}}, {{1, 1}, {100, 120}}, {{1, 2}, {50, 60}}, {{2, 0}, {25, 40}}, {{2, 1}, {110, 130}},
        {{2, 2}, {55, 70}}, {{4, 0}, {200, 220}}, {{4, 2}, {0, 10}}};
    ASSERT_EQ(drawn.size(), expected.size());
    for (const auto& [key, band] : expected) {
        EXPECT_EQ(drawn[key].low, band.low) << key.first << "/" << key.second;
        EXPECT_EQ(drawn[key].high, band.high) << key.first << "/" << key.second;
    }
    EXPECT_EQ(inside, 2);  // 20 and 115 lie in channels 1 and 2
    EXPECT_EQ(outside, 1); // 80 lies in no window of measurement 3
    const QString said = view.findChild<QLabel*>("recouvrements")->text();
    EXPECT_TRUE(said.contains("1 et 2")) << said.toStdString();
    EXPECT_TRUE(said.contains("dans aucun canal")) << said.toStdString();

    QTemporaryDir dir;
    if (const char* keep = std::getenv("ZUNA_SHOTS"))
        dir.setAutoRemove(false), std::printf("%s\n", dir.path().toUtf8().constData()), (void)keep;
    QString error;
    ASSERT_TRUE(view.save_svg(dir.filePath("bandes.svg"), &error));
    ASSERT_TRUE(view.save_png(dir.filePath("bandes.png"), &error));
    EXPECT_EQ(QImage(dir.filePath("bandes.png")).size(), QSize(1200, 700));
    // Another program reads the SVG: it renders to a picture of the same size.
    run("rsvg-convert -o " + dir.filePath("rsvg.png").toStdString() + " " + dir.filePath("bandes.svg").toStdString());
    const QImage rendered(dir.filePath("rsvg.png"));
    ASSERT_FALSE(rendered.isNull());
    EXPECT_NEAR(double(rendered.width()) / rendered.height(), 1200.0 / 700.0, 0.01);

    // The settings sheet: a PDF any reader opens, with the table and the facts.
    Sheet sheet;
    sheet.family = "FAUX 1";
    sheet.facts = {{"Identité", "F-1"}};
    sheet.columns = {"Canal", "Mesure 1", "Mesure 2"};
    for (int c = 1; c <= 16; ++c)
        sheet.rows.push_back({QString::number(c), QString("%1-%2").arg(c).arg(c + 9), "77-88"});
    sheet.options = {{"Sortie canal 1", "3"}};
    sheet.bands = three_channels();
    const QString pdf = dir.filePath("fiche.pdf");
    ASSERT_TRUE(write_sheet(pdf, sheet, &error)) << error.toStdString();
    const std::string text = run("pdftotext " + pdf.toStdString() + " -");
    for (const char* words : {"Fiche de réglage", "FAUX 1", "Identité", "F-1", "16-25", "Sortie canal 1", "Poste"})
        EXPECT_NE(text.find(words), std::string::npos) << words << "\n" << text;
    const std::string info = run("pdfinfo " + pdf.toStdString());
    const size_t at = info.find("Pages:");
    ASSERT_NE(at, std::string::npos) << info;
    const int pages = std::atoi(info.c_str() + at + 6);
    EXPECT_TRUE(pages == 1 || pages == 2) << info;
    EXPECT_FALSE(write_sheet(dir.filePath("absent/fiche.pdf"), sheet, &error));
    EXPECT_TRUE(error.startsWith("Impossible d'écrire")) << error.toStdString();
}

TEST(SettingsPanel, ClonesASeriesFromOneFileAndLogsEachUnit)
{
    zuna::test::CountingPort port;
    Station station(port);
    Shell shell(station);
    zuna::test::FakeMechanism unit;
    unit.values = zuna::test::FakeFamily::defaults();
    int units = 1;
    shell.next_mechanism = [&] {
        unit = {};
        unit.values = zuna::test::FakeFamily::defaults();
        ++units;
    };
    QDialog window;
    auto* bar = new QProgressBar(&window);
    Transfer transfer(shell.transfers, &window, bar);
    SettingsPanel panel(shell, &window, transfer, std::make_unique<zuna::test::FakeFamily>(&unit));
    QTemporaryDir dir;
    const QString path = dir.filePath("serie.zuna.json");
    QStringList told;
    std::vector<size_t> shown;
    panel.tell = [&](const QString& m) { told << m; };
    panel.choose_file = [&](bool) { return path; };
    panel.confirm = [&](const settings::Comparison& c) {
        shown.push_back(c.to_write().size());
        return true;
    };
    panel.next_plugged = [] { return true; };

    // The reference: saved from a unit after three changes.
    unit.values["Canal 1/Mesure 2/max"] = 70;
    unit.values["Sorties/Canal 3"] = 0;
    unit.values["Canal 4/Mesure 1/min"] = 150;
    const auto reference = unit.values;
    panel.save();
    ASSERT_TRUE(told.last().startsWith("Réglages enregistrés")) << told.last().toStdString();
    // Saved again on a full disk: said, and the reference stays as it was.
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray saved_bytes = saved.readAll();
    saved.close();
    unit.values["Sorties/Canal 3"] = 1;
    settings::disk_calls.write = [](int, const void*, size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    };
    panel.save();
    settings::disk_calls = {};
    EXPECT_EQ(told.last(), "Impossible d'écrire " + path + " : disque plein.\nL'ancien fichier est conservé.");
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), saved_bytes);
    saved.close();
    unit.values = zuna::test::FakeFamily::defaults();

    panel.restore();
    panel.next();
    panel.next();
    EXPECT_EQ(units, 3);
    EXPECT_EQ(shown, (std::vector<size_t>{3, 3, 3}));
    EXPECT_EQ(unit.values, reference);
    EXPECT_EQ(told.last(), "3 réglages écrits, tous vérifiés");
    QFile log(settings::log_path(path));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << lines.join("\n").toStdString();
    EXPECT_EQ(lines[0], "date;heure;famille;identité;réglages écrits;résultat");
    for (int i = 1; i < 4; ++i)
        EXPECT_TRUE(lines[i].endsWith(";FAKE;F-1;3;vérifié")) << lines[i].toStdString();

    // A unit that stops answering is logged as such and nothing is claimed.
    shell.next_mechanism = [&] { unit.silent = true; };
    panel.next();
    EXPECT_TRUE(told.last().contains("Rien n'est écrit")) << told.last().toStdString();
}
