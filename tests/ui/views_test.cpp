#include <gtest/gtest.h>

#include <QDialog>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "alberici/alber_3.h"
#include "c120/c220b.h"
#include "c120/c_120.h"
#include "c220/c220_window.h"
#include "nri/g136_window.h"
#include "nri/g13_window.h"
#include "seci/seci_window.h"
#include "tests/common/counting_port.h"
#include "tests/common/fake_family.h"
#include "tests/common/modal.h"
#include "tests/common/shell_output.h"
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
            // The overlapping channels 1 and 2 hatched, so a black and white print shows them too.
            EXPECT_EQ(a->brush().style(), c == 4 ? Qt::SolidPattern : Qt::DiagCrossPattern) << c;
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
    for (const char* words : {"Fiche de réglage", "FAUX 1", "Identité", "F-1", "16-25", "Sortie canal 1", "Poste",
                              "Canaux qui se recouvrent", "1 et 2", "Technicien", "Machine équipée",
                              "Date de montage", "Monnayeur n°", "Signature"})
        EXPECT_NE(text.find(words), std::string::npos) << words << "\n" << text;
    const std::string info = run("pdfinfo " + pdf.toStdString());
    const size_t at = info.find("Pages:");
    ASSERT_NE(at, std::string::npos) << info;
    const int pages = std::atoi(info.c_str() + at + 6);
    EXPECT_TRUE(pages == 1 || pages == 2) << info;
    EXPECT_FALSE(write_sheet(dir.filePath("absent/fiche.pdf"), sheet, &error));
    EXPECT_TRUE(error.startsWith("Impossible d'écrire")) << error.toStdString();
}

// The value axis labels a step of 1, 2 or 5 times a power of ten, five to
// eleven labels whatever the scale: a 5519 scale is no longer read off two
// labels 0 and 5000.
TEST(BandView, ValueAxisLabelsFollowTheScale)
{
    struct Row {
        std::vector<int> scale;
        int step;
    };
    const Row rows[] = {
        {{255, 255, 255}, 50},       // C120, C220, G13, AL3
        {{5519, 5519}, 1000},        // RM3
        {{255, 65535}, 10},          // RM4: percent of each scale
        {{1023}, 200}, {{100}, 10}, {{65535}, 10000}, {{15}, 2}, {{7}, 1},
    };
    zuna::test::CountingPort port;
    Station station(port);
    Shell shell(station);
    BandView view(shell, nullptr);
    for (const Row& r : rows) {
        settings::BandSet b;
        for (size_t m = 0; m < r.scale.size(); ++m)
            b.measurements.push_back("M" + std::to_string(m + 1));
        b.scale = r.scale;
        view.set(b);
        const auto axes = view.chart()->axes(Qt::Vertical);
        ASSERT_EQ(axes.size(), 1);
        auto* y = qobject_cast<QValueAxis*>(axes.front());
        ASSERT_NE(y, nullptr);
        EXPECT_EQ(y->tickInterval(), r.step) << r.scale.back();
        const int labels = int(y->max()) / r.step + 1;
        EXPECT_TRUE(labels >= 5 && labels <= 11) << r.scale.back() << ": " << labels;
    }
}

// What went as asked is told with the information icon, what failed with the
// warning triangle: the sheet written or not, the settings saved or
// restored.
TEST(Messages, WhatWentAsAskedIsAnInformationAndAFailureAWarning)
{
    zuna::test::CountingPort port;
    Station station(port);
    Shell shell(station);
    QDialog window;
    ViewButtons views(shell, &window, [] { return three_channels(); }, [] {
        Sheet s;
        s.family = "FAUX 1";
        s.bands = three_channels();
        return s;
    });
    zuna::test::FakeMechanism unit;
    unit.values = zuna::test::FakeFamily::defaults();
    auto* bar = new QProgressBar(&window);
    Transfer transfer(shell.transfers, &window, bar);
    SettingsPanel panel(shell, &window, transfer, std::make_unique<zuna::test::FakeFamily>(&unit));
    panel.confirm = [](const settings::Comparison&) { return true; };
    QTemporaryDir dir;
    const QString file = dir.filePath("f.zuna.json");
    panel.choose_file = [&](bool) { return file; };
    struct Row {
        std::function<void()> action;
        QMessageBox::Icon icon;
        QString said;
    };
    const Row rows[] = {
        {[&] {
             views.choose_sheet_file = [&] { return dir.filePath("fiche.pdf"); };
             views.write_sheet();
         },
         QMessageBox::Information, "Fiche de réglage enregistrée"},
        {[&] {
             views.choose_sheet_file = [&] { return dir.filePath("absent/fiche.pdf"); };
             views.write_sheet();
         },
         QMessageBox::Warning, "Impossible d'écrire"},
        {[&] { panel.save(); }, QMessageBox::Information, "Réglages enregistrés"},
        {[&] {
             unit.values["Canal 1/Mesure 2/max"] = 70;
             panel.restore();
         },
         QMessageBox::Information, "1 réglage écrit, vérifié"},
        {[&] {
             unit.silent = true;
             panel.restore();
         },
         QMessageBox::Warning, ""},
    };
    for (const Row& r : rows) {
        bool seen = false;
        zuna::test::with_modal(
            [&](QWidget* box) {
                auto* m = qobject_cast<QMessageBox*>(box);
                ASSERT_NE(m, nullptr);
                seen = true;
                EXPECT_EQ(m->icon(), r.icon) << m->text().toStdString();
                EXPECT_TRUE(m->text().startsWith(r.said)) << m->text().toStdString();
                m->accept();
            },
            r.action);
        EXPECT_TRUE(seen) << r.said.toStdString();
    }
}

// Every family's sheet as its window gives it before any read: pdftotext
// finds every column header whole (none cut by a narrow cell), and every part
// of the mechanism not read is said so rather than left out.
TEST(Sheet, EveryFamilyPrintsItsHeadersWholeAndNamesWhatIsNotRead)
{
    zuna::test::CountingPort port;
    Station station(port);
    Shell shell(station);
    Tc_120 c120(shell);
    Tc220b c220b(shell);
    TC220_o c220(shell);
    Tnrig130000 g13(shell);
    Tnrig1360000 g136(shell);
    TRM3 rm3(shell);
    Trm4 rm4(shell);
    Talber_3 al3(shell);
    struct Row {
        const char* name;
        Sheet sheet;
        std::vector<std::pair<const char*, const char*>> unread; // on one line of the page
    };
    const Row rows[] = {
        {"c120", c120.sheet(), {{"Mémoire", "non lue"}}},
        {"c220b", c220b.sheet(), {{"Mémoire", "non lue"}}},
        {"c220", c220.sheet(), {{"1", "non lu"}, {"Somme de contrôle", "non lu"}}},
        {"g13", g13.sheet(), {{"Equipement n°", "non lu"}, {"Mode de mesure", "non lu"}, {"Canal 1", "non lu"}}},
        {"g136", g136.sheet(), {{"Canal 1", "non lu"}, {"Tables des sorties", "non lues"}}},
        {"rm3", rm3.sheet(), {{"1", "non lu"}}},
        {"rm4", rm4.sheet(), {{"1", "non lu"}}},
        {"al3", al3.sheet(), {{"1", "non lu"}, {"Type de monnayeur", "non lu"}}},
    };
    QTemporaryDir dir;
    if (std::getenv("ZUNA_SHOTS"))
        dir.setAutoRemove(false), std::printf("%s\n", dir.path().toUtf8().constData());
    for (const Row& r : rows) {
        const QString pdf = dir.filePath(QString(r.name) + ".pdf");
        QString error;
        ASSERT_TRUE(write_sheet(pdf, r.sheet, &error)) << r.name << error.toStdString();
        const QString text = QString::fromStdString(run("pdftotext -layout " + pdf.toStdString() + " -"));
        const QStringList lines = text.split('\n');
        // The header line as pdftotext places its words (in points), and page 1
        // drawn at two pixels a point: every header is a word of that line,
        // and no table rule runs across it (a cell too narrow cuts its text,
        // which pdftotext alone still reads whole).
        struct Word {
            QRectF box;
            QString text;
        };
        std::vector<Word> page;
        static const QRegularExpression word_re(
            R"re(xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)<)re");
        const QString boxes = QString::fromStdString(run("pdftotext -bbox -f 1 -l 1 " + pdf.toStdString() + " -"));
        for (auto m = word_re.globalMatch(boxes); m.hasNext();) {
            const auto w = m.next();
            page.push_back({QRectF(QPointF(w.captured(1).toDouble(), w.captured(2).toDouble()),
                                   QPointF(w.captured(3).toDouble(), w.captured(4).toDouble())),
                            w.captured(5)});
        }
        const auto first = std::find_if(page.begin(), page.end(),
                                        [&](const Word& w) { return w.text == r.sheet.columns.front(); });
        ASSERT_NE(first, page.end()) << r.name << "\n" << text.toStdString();
        std::vector<Word> header;
        for (const Word& w : page)
            if (w.box.top() == first->box.top())
                header.push_back(w);
        run("pdftoppm -r 144 -gray -f 1 -l 1 -singlefile " + pdf.toStdString() + " " +
            dir.filePath(r.name).toStdString());
        const QImage drawn(dir.filePath(QString(r.name) + ".pgm"));
        ASSERT_FALSE(drawn.isNull()) << r.name;
        for (const QString& h : r.sheet.columns)
            for (const QString& part : h.split(' ', Qt::SkipEmptyParts)) {
                const auto w = std::find_if(header.begin(), header.end(), [&](const Word& w) { return w.text == part; });
                ASSERT_NE(w, header.end()) << r.name << ": « " << part.toStdString() << " » de « " << h.toStdString()
                                           << " »\n" << text.toStdString();
                for (int x = int(w->box.left() * 2) + 1; x < int(w->box.right() * 2); ++x) {
                    bool rule = true;
                    for (int y = int(w->box.top() * 2) + 1; y < int(w->box.bottom() * 2) && rule; ++y)
                        rule = qGray(drawn.pixel(x, y)) < 128;
                    EXPECT_FALSE(rule) << r.name << ": « " << part.toStdString() << " » coupé par un trait";
                }
            }
        for (const auto& [part, said] : r.unread) {
            const bool named = std::any_of(lines.begin(), lines.end(), [&](const QString& l) {
                return l.simplified().startsWith(QString(part) + " ") && l.contains(said);
            });
            EXPECT_TRUE(named) << r.name << ": " << part << " ... " << said << "\n" << text.toStdString();
        }
    }
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
