#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>
#include <csignal>
#include <cstdlib>

#include "ui/c_canal.h"
#include "app/main_window.h"
#include "app/picture.h"
#include "app/station_main.h"
#include "app/windows.h"
#include "link/module.h"
#include "link/transfer_thread.h"
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

TEST(MainWindow, ASignalEndsTheRunInEveryStateAskingNothing)
{
    // A signal arrives while a start-up prompt or notice waits for the
    // operator, or while a device window reads the mechanism on the paced
    // bench: the run ends with 0, no question is asked, no transfer is left
    // and no window stays.
    struct Case {
        const char* name;
        int signal;
        const char* faults;
        bool bad_data_dir;
        const char* family;
        const char* box_text; // the box the signal comes on, "" for the window's read
    };
    const Case cases[] = {
        {"module prompt, SIGTERM", SIGTERM, "no-module", false, "", "Connectez le module"},
        {"data folder notice, SIGINT", SIGINT, "", true, "", "Le dossier de données"},
        {"C120 window reading, SIGTERM", SIGTERM, "", false, "c120", ""},
        {"C120 window reading, SIGHUP", SIGHUP, "", false, "c120", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        Options opt;
        opt.simulate = true;
        opt.sim_faults = c.faults;
        opt.sim_family = c.family;
        opt.sim_pace_real = true;
        opt.data_dir = dir.filePath("data").toStdString();
        if (c.bad_data_dir) {
            QFile blocker(dir.filePath("file"));
            ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
            opt.data_dir = dir.filePath("file/data").toStdString(); // below a plain file
        }
        StationSettings settings;
        settings.settings_file = dir.filePath("zuna07.conf");
        bool opened = false, read = false, raised = false, asked = false;
        int after = 0;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (box && box->text().startsWith("Un transfert est en cours")) {
                asked = true;
                QCoreApplication::exit(3); // the run would go on: end it here
                return;
            }
            if (raised) {
                // Still running long after the signal: answer what is shown so the test ends.
                if (++after > 400 && box)
                    box->accept();
                return;
            }
            if (*c.box_text) {
                if (box && box->text().startsWith(QString::fromUtf8(c.box_text))) {
                    raised = true;
                    std::raise(c.signal);
                }
                return;
            }
            TForm1* form = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* f = qobject_cast<TForm1*>(w); f && f->isVisible())
                    form = f;
            if (!opened && form && !modal && TransferThread::active() == 0) {
                opened = true;
                QTimer::singleShot(0, form, [form] { form->open_item("SpeedItem1"); });
            } else if (opened && !read && modal && modal != form && TransferThread::active() == 0) {
                read = true; // "Lecture"
                QTimer::singleShot(0, modal, [modal] { modal->findChild<QPushButton*>("Button5")->click(); });
            } else if (read && modal && modal != form && TransferThread::active() > 0) {
                raised = true;
                std::raise(c.signal);
            }
        });
        int visible_before = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            visible_before += w->isVisible();
        watch.start(5);
        EXPECT_EQ(run_station(*qApp, opt, settings), 0);
        watch.stop();
        EXPECT_TRUE(raised);
        EXPECT_FALSE(asked);
        EXPECT_EQ(TransferThread::active(), 0);
        int visible = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            visible += w->isVisible();
        EXPECT_EQ(visible, visible_before);
    }
}

// Run by QtFormatsAndFileDialogsAreFrenchWhateverLang in a test program started
// with an English environment (disabled here: this program's own may be any).
TEST(MainWindow, DISABLED_QtFormatsAndFileDialogsInFrench)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("a.zuna.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(QDir(dir.path()).mkdir("sous"));
    QFileSystemModel model; // what the file dialogs show
    QEventLoop loop;
    QObject::connect(&model, &QFileSystemModel::directoryLoaded, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit); // a folder that never loads fails below
    model.setRootPath(dir.path());
    loop.exec();
    const QModelIndex date = model.index(dir.filePath("a.zuna.json"), 3);
    const QModelIndex folder = model.index(dir.filePath("sous"), 2);
    const QLocale french(QLocale::French, QLocale::France);
    EXPECT_EQ(model.data(date).toString(), french.toString(QFileInfo(file).lastModified(), QLocale::ShortFormat));
    EXPECT_EQ(model.data(folder).toString(), "Dossier");
    EXPECT_EQ(QLocale::system().name(), "fr_FR");
}

TEST(MainWindow, QtFormatsAndFileDialogsAreFrenchWhateverLang)
{
    const std::string cmd = "env LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 LC_TIME=en_GB.UTF-8 LANGUAGE=en " +
                            QCoreApplication::applicationFilePath().toStdString() +
                            " --gtest_also_run_disabled_tests --gtest_filter=MainWindow.DISABLED_QtFormatsAndFileDialogsInFrench"
                            " >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}
