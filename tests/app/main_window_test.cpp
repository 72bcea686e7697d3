#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>

#include "ui/c_canal.h"
#include "app/main_window.h"
#include "app/picture.h"
#include "app/station_main.h"
#include "app/windows.h"
#include "link/module.h"
#include "sim/catalogue.h"
#include "common/modal.h"

using namespace zuna;

namespace {
struct Rig {
    QTemporaryDir dir;
    sim::SimSetup setup;
    Station station{setup.bench()};
    Shell shell{station};
    StationSettings settings;
    std::unique_ptr<TForm1> form;
    QStringList messages;

    explicit Rig(sim::Faults faults = {}) : setup(1.0, faults, "")
    {
        settings.settings_file = dir.filePath("zuna07.conf");
        settings.data_dir = dir.filePath("data");
    }
    TForm1& make()
    {
        form = std::make_unique<TForm1>(shell, settings);
        form->show_message = [this](const QString& m) { messages << m; };
        return *form;
    }
};
} // namespace

TEST(MainWindow, CaptionVersionAndTheNineItemsInOrder)
{
    Rig rig;
    TForm1& f = rig.make();
    EXPECT_EQ(f.windowTitle(), "Programmateur de monnayeurs ");
    EXPECT_EQ(f.findChild<QLabel*>("Label2")->text(), "Version :");
    EXPECT_EQ(f.findChild<QLabel*>("Label3")->text(), "1.25");
    const char* names[] = {"SpeedItem1", "c220", "SpeedItem2", "nrig130000b", "nrig136000",
                           "SpeedItem4", "RM4menu", "SpeedItem5", "SpeedItem3"};
    const char* hints[] = {"C120", "C220 ou SENTINEL", "C220B", "NRI G13.0", "NRI G13.6",
                           "SECI RM3", "SECI RM4", "Alberici al 03", "Calibre le module"};
    const QList<QToolButton*> buttons = f.findChild<QWidget*>("SpeedBar1")->findChildren<QToolButton*>();
    ASSERT_EQ(buttons.size(), 9);
    int x = -1;
    for (int i = 0; i < 9; ++i) {
        auto* b = f.findChild<QToolButton*>(names[i]);
        ASSERT_TRUE(b) << names[i];
        EXPECT_EQ(b->toolTip(), hints[i]);
        EXPECT_EQ(b->isEnabled(), device_window_available(names[i])) << names[i];
        f.show();
        EXPECT_GT(b->x(), x) << names[i] << " out of order";
        x = b->x();
    }
    EXPECT_EQ(f.findChild<QToolButton*>("nrig130000b")->text(), "NRI\nG13.0");
}

TEST(MainWindow, SimulationSaysSoInTheTitle)
{
    Rig rig;
    rig.shell.simulated = true;
    EXPECT_EQ(rig.make().windowTitle(), "Programmateur de monnayeurs  - SIMULATION");
}

TEST(MainWindow, ModuleAnsweringAtOnceNeedsNoPrompt)
{
    Rig rig;
    TForm1& f = rig.make();
    EXPECT_TRUE(f.FormActivate());
    EXPECT_TRUE(rig.messages.isEmpty());
    EXPECT_EQ(rig.station.measured_module_count, 100);
    EXPECT_EQ(rig.station.delay.c120, 138);
    EXPECT_EQ(rig.station.c120_read_timeout, 900000);
    EXPECT_EQ(rig.station.measured_copy, 100);
    EXPECT_EQ(rig.station.reference_copy, 100);
}

TEST(MainWindow, PromptsUntilTheModuleAnswersThenAtMostSixTimes)
{
    struct Case { int answers_after; int prompts; bool goes_on; } cases[] = {
        {1, 1, true}, {3, 3, true}, {6, 6, true}, {99, 6, false},
    };
    for (const auto& c : cases) {
        sim::Faults faults;
        faults.no_module = true;
        Rig rig(faults);
        TForm1& f = rig.make();
        EXPECT_EQ(rig.station.measured_module_count, kNoModule);
        int shown = 0;
        f.show_message = [&](const QString& m) {
            EXPECT_EQ(m, "Connectez le module");
            if (++shown == c.answers_after)
                rig.setup.module().set_wave(sim::ModuleSim::Wave::Running);
        };
        f.show();
        EXPECT_EQ(f.FormActivate(), c.goes_on) << c.answers_after;
        EXPECT_EQ(shown, c.prompts) << c.answers_after;
        EXPECT_EQ(f.isVisible(), c.goes_on);
    }
}

TEST(MainWindow, StuckLowModuleGivesZeroCountsWithoutCrashing)
{
    sim::Faults faults;
    faults.wave_stuck_low = true;
    Rig rig(faults);
    TForm1& f = rig.make();
    EXPECT_TRUE(f.FormActivate());
    EXPECT_EQ(rig.station.measured_module_count, 0);
    EXPECT_EQ(rig.station.delay.c120, 0);
    EXPECT_EQ(rig.station.delay.g13, 0);
}

TEST(MainWindow, AliasIsAddedOnceAndTheDataFolderCreated)
{
    Rig rig;
    rig.settings.data_dir.clear();
    {
        QSettings pre(rig.settings.settings_file, QSettings::IniFormat);
        pre.setValue("aliases/zuna/path", rig.dir.filePath("mine"));
        pre.setValue("aliases/zuna/driver", "DBASE");
    }
    TForm1& f = rig.make();
    EXPECT_EQ(f.data_dir(), rig.dir.filePath("mine"));
    EXPECT_TRUE(QDir(rig.dir.filePath("mine")).exists());

    // A fresh configuration gets the alias with the default folder and the DBASE driver.
    Rig fresh;
    fresh.settings.data_dir.clear();
    qputenv("XDG_DATA_HOME", fresh.dir.filePath("xdg").toLocal8Bit()); // keep the real home untouched
    fresh.make();
    QSettings saved(fresh.settings.settings_file, QSettings::IniFormat);
    EXPECT_EQ(saved.value("aliases/zuna/driver").toString(), "DBASE");
    EXPECT_TRUE(saved.value("aliases/zuna/path").toString().endsWith("zuna07"));
}

TEST(MainWindow, DataFolderThatCannotBeCreatedIsReported)
{
    Rig rig;
    QFile blocker(rig.dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    rig.settings.data_dir = rig.dir.filePath("file/data"); // below a plain file
    TForm1& f = rig.make();
    ASSERT_FALSE(f.startup_messages().isEmpty());
    EXPECT_TRUE(f.startup_messages().join("\n").contains("ne peut pas être créé"));
    EXPECT_TRUE(f.FormActivate()); // the station still starts
}

TEST(MainWindow, PictureThatIsNotAJpegIsClearedAndStartGoesOn)
{
    Rig rig;
    TForm1& f = rig.make();
    const QString old = QDir::currentPath();
    QDir::setCurrent(rig.dir.path());
    struct Case { const char* what; QByteArray bytes; bool make_dir; } cases[] = {
        {"missing", {}, false},
        {"text", "not a picture", false},
        {"truncated jpeg", QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10), false},
        {"a directory", {}, true},
    };
    for (const auto& c : cases) {
        QFile::remove("nri.jpg");
        QDir(".").rmdir("nri.jpg");
        if (c.make_dir)
            QDir(".").mkdir("nri.jpg");
        else if (!c.bytes.isEmpty()) {
            QFile out("nri.jpg");
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(c.bytes);
        }
        EXPECT_TRUE(f.FormActivate()) << c.what;
        EXPECT_FALSE(f.picture_loaded()) << c.what;
        EXPECT_EQ(rig.station.delay.c120, 138) << c.what; // the rest of the step ran
    }
    QDir(".").rmdir("nri.jpg");
    // A real JPEG is shown.
    QImage img(64, 32, QImage::Format_RGB888);
    img.fill(Qt::darkGreen);
    ASSERT_TRUE(img.save("nri.jpg", "JPG"));
    f.FormActivate();
    EXPECT_TRUE(f.picture_loaded());
    QDir::setCurrent(old);
}

TEST(MainWindow, PictureFromTheWorkingDirectoryElseTheInstalledFolder)
{
    QTemporaryDir dir;
    const QString work = dir.filePath("work"), installed = dir.filePath("share");
    struct Case { bool in_work, in_installed; QString expected; } cases[] = {
        {true, true, work},          // a picture put in the working directory wins
        {false, true, installed},    // started from elsewhere: the installed one
        {false, false, ""},          // none: no picture, no error
    };
    for (const auto& c : cases) {
        QDir(work).removeRecursively();
        QDir(installed).removeRecursively();
        QDir().mkpath(work);
        QDir().mkpath(installed);
        for (auto [present, folder] : {std::pair{c.in_work, work}, std::pair{c.in_installed, installed}})
            if (present)
                QFile(folder + "/nri.jpg").open(QIODevice::WriteOnly);
        const QString found = find_picture({work, installed});
        EXPECT_EQ(found, c.expected.isEmpty() ? QString() : c.expected + "/nri.jpg");
    }
    // The installed folder is the program's data folder next to its binary.
    EXPECT_TRUE(picture_dirs().value(1).endsWith("share/zuna07")) << picture_dirs().join(" ").toStdString();
}

TEST(MainWindow, ChannelPromptKeepsItsChannelWhateverCloses)
{
    Rig rig;
    rig.make();
    auto* prompt = rig.shell.dialog<TC_canal>();
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->windowTitle(), "C_canal");
    EXPECT_EQ(prompt->findChild<QSpinBox*>("c"), prompt->canal());
    prompt->canal()->setRange(1, 16);
    prompt->canal()->setValue(16);
    prompt->canal()->setRange(1, 12); // a caller with fewer channels clamps it
    EXPECT_EQ(prompt->canal()->value(), 12);
}

TEST(MainWindow, SharedDialogsAreCreatedInTheirStartUpOrder)
{
    const QStringList order = {"Tvalid_c120", "TC_canal", "Tvalid_c220", "Tcalibrate_c220",
                               "Tcalibration_nri_g13", "TValid_nri_g13", "Tfichier", "Tcalibration_nri_g136",
                               "Tvalid_nri_g136", "TM_g13_6000", "Tm_c120", "Tcalibre_c220_o", "Tcalibre_rm3",
                               "Tsauve_pc", "Tlire_pc", "Tcalibre_rm4", "Tcalibrate", "Taide_alber"};
    Rig rig;
    rig.shell.simulated = true;
    rig.make();
    // On the bench every shared dialog says so in its title, the channel prompt too.
    EXPECT_EQ(rig.shell.dialog<TC_canal>()->windowTitle(), "C_canal - SIMULATION");
    int last = -1;
    QStringList made;
    for (QDialog* d : rig.shell.dialogs()) {
        const QString name = QString(d->metaObject()->className()).section("::", -1);
        made << name;
        const int at = order.indexOf(name);
        EXPECT_GE(at, 0) << name.toStdString() << " is not a shared dialog";
        EXPECT_GT(at, last) << name.toStdString() << " created out of order";
        last = std::max(last, at);
    }
    // Every family is built: all eighteen are there.
    EXPECT_EQ(made, order);
}

TEST(MainWindow, SilentModuleMemoryIsSaidOnceAndNotTakenAsCounts)
{
    sim::Faults faults;
    faults.memory_dead = true;
    Rig rig(faults);
    TForm1& f = rig.make();
    EXPECT_TRUE(f.FormActivate());
    EXPECT_TRUE(f.FormActivate());
    ASSERT_EQ(rig.messages.size(), 1);
    EXPECT_TRUE(rig.messages[0].contains("La mémoire du module ne répond pas"));
    // The counts taken are the original PC's defaults, not computed for this one.
    EXPECT_TRUE(rig.messages[0].contains("PC d'origine")) << rig.messages[0].toStdString();
    EXPECT_TRUE(rig.messages[0].contains("minutage")) << rig.messages[0].toStdString();
    EXPECT_FALSE(rig.messages[0].contains("calculées pour ce PC")) << rig.messages[0].toStdString();
    EXPECT_EQ(rig.station.delay.c120, 138);
}

TEST(MainWindow, NoModuleAfterTheSixPromptsEndsTheProgramWithAFailure)
{
    QTemporaryDir dir;
    Options opt;
    opt.simulate = true;
    opt.sim_faults = "no-module";
    opt.data_dir = dir.filePath("data").toStdString();
    StationSettings settings;
    settings.settings_file = dir.filePath("zuna07.conf");
    int prompts = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            test::expect_french_buttons(box);
            prompts += box->text() == "Connectez le module";
            box->accept();
        }
    });
    answer.start(2);
    EXPECT_EQ(run_station(*qApp, opt, settings), 1);
    EXPECT_EQ(prompts, 6);
}
