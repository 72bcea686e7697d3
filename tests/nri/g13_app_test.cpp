// The G13.0000 window opened from the main window's speed bar on the
// simulated bench: the first opening tunes, the count holds for the run and
// stays out of the module memory, so the next start tunes again.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "app/main_window.h"
#include "link/module.h"
#include "nri/g13_window.h"
#include "nri/g136_window.h"
#include "sim/catalogue.h"
#include "sim/g13_mech.h"
#include "tests/common/modal.h"
#include "ui/transfer.h"

using namespace zuna;

TEST(G13FromMainWindow, TunesOnceAndKeepsTheCountForTheRunOnly)
{
    QTemporaryDir dir;
    const std::string module_file = dir.filePath("module-simule.bin").toStdString();
    int32_t tuned = 0;
    {
        sim::SimSetup bench(1.0, {}, module_file);
        Station s(bench.bench());
        Shell shell(s);
        shell.simulated = true;
        StationSettings settings{dir.filePath("zuna07.ini"), dir.path()};
        TForm1 form(shell, settings);
        form.show_message = [](const QString&) {};
        form.on_window_opening = [&](const std::string& family) { bench.window_opened(family); };
        ASSERT_TRUE(form.FormActivate());
        EXPECT_EQ(s.g13_stored, 0);
        EXPECT_EQ(s.delay.g13, 1900);
        // The window's first activation tunes in a transfer, and this answer
        // may come while it runs: read once it ended, from the window's own loop.
        std::function<void()> read;
        zuna::test::with_modal(
            [&](QWidget* m) {
                auto* w = qobject_cast<Tnrig130000*>(m);
                ASSERT_NE(w, nullptr);
                read = [&read, w] {
                    if (w->transfer()->running()) {
                        QTimer::singleShot(5, read);
                        return;
                    }
                    w->findChild<QPushButton*>("Button1")->click();
                    EXPECT_EQ(w->findChild<QLabel*>("c2")->text(), "150  104  183  058  ");
                    if (qEnvironmentVariableIsSet("ZUNA_SHOTS"))
                        w->grab().save(qEnvironmentVariable("ZUNA_SHOTS") + "/g13_from_main.png");
                    w->reject();
                };
                QTimer::singleShot(5, read);
            },
            [&] { form.open_item("nrig130000b"); });
        tuned = s.g13_stored;
        auto* mech = static_cast<sim::G13Mechanism*>(bench.mechanism());
        ASSERT_NE(mech, nullptr);
        EXPECT_NEAR(tuned, mech->nominal_count(), mech->nominal_count() * 0.03);
        EXPECT_EQ(s.delay.g13, tuned); // kept by the activate step
        EXPECT_EQ(zone0_g13(bench.module().zone0()), 0);
    }
    {
        sim::SimSetup bench(1.0, {}, module_file);
        Station s(bench.bench());
        s.measured_module_count = measure_module(bench.bench());
        load_delay_counts(s);
        EXPECT_EQ(s.g13_stored, 0);
        EXPECT_EQ(s.delay.g13, 1900);
    }
}

// The G13.6000 window from its speed-bar item: the bench plugs the
// simulated G13.6000 and "Lecture" fills the channels.
TEST(G136FromMainWindow, OpensAndReads)
{
    QTemporaryDir dir;
    sim::SimSetup bench(1.0, {}, dir.filePath("module-simule.bin").toStdString());
    Station s(bench.bench());
    Shell shell(s);
    shell.simulated = true;
    StationSettings settings{dir.filePath("zuna07.ini"), dir.path()};
    TForm1 form(shell, settings);
    form.show_message = [](const QString&) {};
    form.on_window_opening = [&](const std::string& family) { bench.window_opened(family); };
    ASSERT_TRUE(form.FormActivate());
    QString first;
    zuna::test::with_modal(
        [&](QWidget* m) {
            auto* w = qobject_cast<Tnrig1360000*>(m);
            ASSERT_NE(w, nullptr);
            EXPECT_EQ(w->windowTitle(), "NRI G13.6000 - SIMULATION");
            w->findChild<QPushButton*>("Button1")->click();
            first = w->findChild<QLabel*>("c11")->text();
            w->reject();
        },
        [&] { form.open_item("nrig136000"); });
    EXPECT_EQ(bench.family(), "g136");
    EXPECT_EQ(first, "120");
}
