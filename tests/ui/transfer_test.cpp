#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <functional>
#include <stdexcept>
#include <thread>

#include "c120/c120_link.h"
#include "link/module.h"
#include "link/transfer_thread.h"
#include "nri/g13_link.h"
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

// Ends an operation that ignores "Arrêter": once told to give up, every port
// access throws, so an ignored stop fails in seconds, not minutes.
struct GiveUpPort : Port {
    explicit GiveUpPort(Port& p) : inner(p) {}
    void write_data_port(uint8_t v) override { check(), inner.write_data_port(v); }
    uint8_t read_status_port() override { return check(), inner.read_status_port(); }
    void mask_interrupts() override { inner.mask_interrupts(); }
    void unmask_interrupts() override { inner.unmask_interrupts(); }
    void idle(uint64_t n) override { check(), inner.idle(n); }
    void check() const
    {
        if (give_up)
            throw std::runtime_error("Arrêter ignoré");
    }
    Port& inner;
    std::atomic<bool> give_up{false};
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

TEST(Transfer, OnAPacedBenchTheWindowStaysLiveTheBarMovesAndArreterStopsSoon)
{
    // At 1 µs a tick, as on hardware: the window's timer must keep firing,
    // the bar move, and "Arrêter" end a C120 read or a G13 tuning at its next
    // safe point (the tuning with both counts unchanged).
    struct Case {
        const char* name;
        const char* family;
        int stop_after_ms; // 0: runs to its end
        int stop_bound_ms; // generous bound on the time from "Arrêter" to the end
        std::function<void(Station&, sim::SimSetup&, Progress&)> op;
    };
    const Case cases[] = {
        {"steps", "c120", 0, 0, [](Station&, sim::SimSetup& setup, Progress& p) { steps(setup.bench(), p, 60, 10000); }},
        {"C120 read", "c120", 600, 1000, [](Station& s, sim::SimSetup&, Progress& p) { c120::read_memory(s, &p); }},
        // A try of the tuning is one masked section (about 0.84 s of port
        // time at count 1900), then the link is reset twice (0.26 s each).
        {"G13 tuning", "g13", 600, 3000,
         [](Station& s, sim::SimSetup&, Progress& p) {
             const auto a = nri::activate(s, true, &p);
             EXPECT_TRUE(a.stopped);
             EXPECT_EQ(a.message, "Réglage arrêté : compte inchangé.");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimSetup setup(1.0, {}, "");
        setup.plug(c.family);
        Station station(setup.bench());
        station.measured_module_count = measure_module(*station.port);
        load_delay_counts(station);
        const int32_t g13_count = station.delay.g13, g13_stored = station.g13_stored;
        GiveUpPort guard(*station.port);
        station.port = &guard;
        setup.pace_real_time();
        Rig rig;
        QElapsedTimer clock;
        qint64 last = 0, largest_gap = 0, stop_at = -1;
        int ticks = 0, bar_seen = 0;
        QTimer gui;
        QObject::connect(&gui, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            largest_gap = std::max(largest_gap, now - last);
            last = now;
            ++ticks;
            bar_seen = std::max(bar_seen, rig.bar->value());
            if (c.stop_after_ms && stop_at < 0 && now >= c.stop_after_ms) {
                stop_at = now;
                rig.transfer.stop_button()->click();
            }
            if (stop_at >= 0 && now - stop_at > 5000)
                guard.give_up = true;
        });
        clock.start();
        gui.start(10);
        bool ran = false;
        EXPECT_NO_THROW(ran = rig.transfer.run([&](Progress& p) { c.op(station, setup, p); })) << "stop ignored";
        gui.stop();
        station.port = &guard.inner;
        ASSERT_TRUE(ran);
        const qint64 wall = clock.elapsed();
        std::printf("%s: paced run %lld ms, GUI timer %d ticks, largest gap %lld ms, stop took %lld ms\n", c.name,
                    (long long)wall, ticks, (long long)largest_gap, (long long)(stop_at < 0 ? 0 : wall - stop_at));
        EXPECT_GE(wall, 500);         // the pace held
        EXPECT_LT(largest_gap, 1000); // generous: a loaded machine must not make it flaky
        EXPECT_GT(ticks, 5);
        if (c.stop_after_ms) {
            EXPECT_TRUE(rig.transfer.stopped());
            EXPECT_LT(wall - stop_at, c.stop_bound_ms);
            EXPECT_EQ(station.delay.g13, g13_count);
            EXPECT_EQ(station.g13_stored, g13_stored);
        } else {
            EXPECT_GT(bar_seen, 0);
        }
    }
}
