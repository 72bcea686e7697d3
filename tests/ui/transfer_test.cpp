#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <stdexcept>
#include <thread>

#include "link/transfer_thread.h"
#include "sim/catalogue.h"
#include "ui/transfer.h"

using namespace zuna;

namespace {
struct Rig {
    TransferThread thread;
    QDialog window;
    QProgressBar* bar = new QProgressBar(&window);
    QPushButton* other = new QPushButton("Lecture", &window);
    Transfer transfer{thread, &window, bar};
};

// Bench time in steps, each a safe point: what a link operation looks like.
void steps(sim::Bench& bench, Progress& p, int count, uint64_t ticks_each)
{
    p.start(count);
    for (int i = 0; i < count && !p.stop_requested(); ++i) {
        bench.idle(ticks_each);
        p.step();
    }
    p.finish();
}
} // namespace

TEST(Transfer, RunsOffTheWindowThreadOneAtATimeWithTheControlsHeld)
{
    Rig rig;
    std::thread::id where;
    bool second = true, other_enabled = true, stop_visible = false;
    QTimer::singleShot(0, [&] {
        // While it runs: a second operation is refused, the window's own
        // buttons are held, "Arrêter" is offered.
        second = rig.transfer.run([](Progress&) {});
        other_enabled = rig.other->isEnabled();
        stop_visible = rig.transfer.stop_button()->isVisibleTo(&rig.window);
    });
    EXPECT_TRUE(rig.transfer.run([&](Progress&) {
        where = std::this_thread::get_id();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }));
    EXPECT_NE(where, std::this_thread::get_id());
    EXPECT_FALSE(second);
    EXPECT_FALSE(other_enabled);
    EXPECT_TRUE(stop_visible);
    EXPECT_TRUE(rig.other->isEnabled());
    EXPECT_FALSE(rig.transfer.stop_button()->isVisibleTo(&rig.window));
    EXPECT_FALSE(rig.transfer.stopped());
}

TEST(Transfer, StopAndCloseEndAtTheNextSafePoint)
{
    struct Case { bool by_close; bool confirmed; bool stopped; bool closed; } cases[] = {
        {false, false, true, false}, // "Arrêter"
        {true, true, true, true},    // closing, confirmed: stop, then close
        {true, false, false, false}, // closing, refused: the transfer goes on
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.window.show();
        int asked = 0;
        rig.transfer.confirm_close = [&](QWidget*) { ++asked; return c.confirmed; };
        int done = 0;
        QTimer::singleShot(20, [&] {
            if (c.by_close)
                rig.window.close();
            else
                rig.transfer.stop_button()->click();
        });
        ASSERT_TRUE(rig.transfer.run([&](Progress& p) {
            for (done = 0; done < 40 && !p.stop_requested(); ++done)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }));
        QApplication::processEvents();
        EXPECT_EQ(rig.transfer.stopped(), c.stopped) << c.by_close << c.confirmed;
        EXPECT_EQ(done < 40, c.stopped);
        EXPECT_EQ(asked, c.by_close ? 1 : 0);
        EXPECT_EQ(!rig.window.isVisible(), c.closed);
    }
}

TEST(Transfer, WhatTheOperationThrowsReachesTheWindowThread)
{
    Rig rig;
    EXPECT_THROW(rig.transfer.run([](Progress&) { throw std::runtime_error("x"); }), std::runtime_error);
    EXPECT_TRUE(rig.transfer.run([](Progress&) {})); // and the thread is still there
}

TEST(Transfer, OnAPacedBenchTheWindowStaysLiveAndTheBarMoves)
{
    // 0.6 s of port time at 1 µs a tick: the window's timer must keep firing.
    sim::SimSetup setup(1.0, {}, "");
    setup.pace_real_time();
    Rig rig;
    QElapsedTimer clock;
    qint64 last = 0, largest_gap = 0;
    int ticks = 0, bar_seen = 0;
    QTimer gui;
    QObject::connect(&gui, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        largest_gap = std::max(largest_gap, now - last);
        last = now;
        ++ticks;
        bar_seen = std::max(bar_seen, rig.bar->value());
    });
    clock.start();
    gui.start(10);
    ASSERT_TRUE(rig.transfer.run([&](Progress& p) { steps(setup.bench(), p, 60, 10000); }));
    gui.stop();
    const qint64 wall = clock.elapsed();
    RecordProperty("largest_gui_gap_ms", int(largest_gap));
    std::printf("paced run %lld ms, GUI timer %d ticks, largest gap %lld ms\n", (long long)wall, ticks,
                (long long)largest_gap);
    EXPECT_GE(wall, 500);        // the pace held: 600 000 ticks (paced by the millisecond) took about 0.6 s
    EXPECT_LT(largest_gap, 1000); // generous: a loaded machine must not make it flaky
    EXPECT_GT(ticks, 5);
    EXPECT_GT(bar_seen, 0);
}
