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

#include <atomic>

#include "alberici/al3_link.h"
#include "c120/c120_link.h"
#include "c120/c220b_link.h"
#include "c220/c220_link.h"
#include "link/module.h"
#include "link/transfer_thread.h"
#include "nri/g13_link.h"
#include "nri/g136_link.h"
#include "seci/seci_link.h"
#include "sim/c120_mech.h"
#include "sim/c220_mech.h"
#include "sim/catalogue.h"
#include "sim/g136_mech.h"
#include "sim/g13_mech.h"
#include "sim/seci_mech.h"
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

// The port's time (accesses and idle steps: bench ticks, 1 µs each on the
// paced bench) in a counter the window's thread may read.
struct TickCount : Port {
    explicit TickCount(Port& p) : inner(p) {}
    Port& inner;
    std::atomic<uint64_t> ticks{0};
    void write_data_port(uint8_t v) override
    {
        ticks.fetch_add(1, std::memory_order_relaxed);
        inner.write_data_port(v);
    }
    uint8_t read_status_port() override
    {
        ticks.fetch_add(1, std::memory_order_relaxed);
        return inner.read_status_port();
    }
    void mask_interrupts() override { inner.mask_interrupts(); }
    void unmask_interrupts() override { inner.unmask_interrupts(); }
    void idle(uint64_t n) override
    {
        ticks.fetch_add(n, std::memory_order_relaxed);
        inner.idle(n);
    }
};

// Nobody passes a coin through the mechanism.
void no_coins(sim::Mechanism* m)
{
    if (auto* serial = dynamic_cast<sim::SerialMech*>(m))
        serial->set_coins(false);
    else if (auto* g13 = dynamic_cast<sim::G13Mechanism*>(m))
        g13->set_coin_delay(uint64_t(1) << 50);
    else if (auto* g136 = dynamic_cast<sim::G136Mechanism*>(m))
        g136->set_coins(false);
    else if (auto* c220 = dynamic_cast<sim::C220Mech*>(m))
        c220->set_coins(false);
    else if (auto* seci = dynamic_cast<sim::SeciMech*>(m))
        seci->set_coins(false);
    else
        ADD_FAILURE() << "no way to hold the coins back";
}

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
        bench.idle(ticks_each * 100); // a loop step is 0.01 tick
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

TEST(Transfer, ArreterEndsEveryCoinWaitLikeItsTimeOut)
{
    // Each operation waits for a coin that never comes (10 s of port time,
    // 59 s for the C120 teach). "Arrêter" half a second into the wait ends the
    // wait at its next look and the operation on its time-out path: fewer
    // than 100000 ticks (100 ms on the paced bench) from the click to the end.
    struct Case {
        const char* name;
        const char* family;
        std::function<void(Station&, Progress&)> op;
    };
    const Case cases[] = {
        {"C120 teach", "c120", [](Station& s, Progress& p) { EXPECT_EQ(c120::teach_coins(s, 3, &p).measured.size(), 0u); }},
        {"C220B test", "c220b", [](Station& s, Progress&) { EXPECT_FALSE(c220b::test_coin(s).measured); }},
        {"C220 test", "c220",
         [](Station& s, Progress&) {
             c220::Link link(s);
             link.count = s.delay.c220;
             EXPECT_EQ(c220::test_p(link).timed_out_step, 2);
         }},
        {"G13.0000 test", "g13", [](Station& s, Progress& p) { EXPECT_FALSE(nri::coin_test(s, &p).measured); }},
        {"G13.6000 teach", "g136",
         [](Station& s, Progress& p) { EXPECT_EQ(nri::g136::collect_coins(s, 3, {}, {}, &p).measured, 0); }},
        {"RM3 test", "rm3", [](Station& s, Progress&) { EXPECT_FALSE(seci::test_measurement(seci::rm3_line(s), 1)); }},
        {"AL3 teach", "al3", [](Station& s, Progress& p) { EXPECT_TRUE(alberici::teach(s, {}, &p).counts.empty()); }},
    };
    constexpr uint64_t kInTheWait = 500000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimSetup setup(1.0, {}, "");
        no_coins(setup.plug(c.family));
        Station station(setup.bench());
        station.measured_module_count = measure_module(*station.port);
        load_delay_counts(station);
        if (c.family == std::string("c120"))
            c120::wake_up(station); // plugged at the start: asleep until its pulse
        setup.pace_real_time();
        TickCount counter(setup.bench());
        GiveUpPort guard(counter);
        station.port = &guard;
        Rig rig;
        uint64_t at_stop = 0;
        QTimer gui;
        QObject::connect(&gui, &QTimer::timeout, [&] {
            if (at_stop == 0 && counter.ticks.load() >= kInTheWait) {
                rig.transfer.stop_button()->click();
                at_stop = counter.ticks.load(); // the stop was asked at or before this tick
            }
            // An ignored stop ends in seconds, not after the whole coin wait.
            if (at_stop && counter.ticks.load() - at_stop > 3000000)
                guard.give_up = true;
        });
        gui.start(5);
        bool ran = false;
        EXPECT_NO_THROW(ran = rig.transfer.run([&](Progress& p) { c.op(station, p); })) << "stop ignored";
        gui.stop();
        station.port = &setup.bench();
        EXPECT_TRUE(ran);
        if (!ran)
            continue;
        ASSERT_GT(at_stop, 0u);
        EXPECT_TRUE(rig.transfer.stopped());
        const uint64_t after = counter.ticks.load() - at_stop;
        std::printf("%s: %llu ticks from Arrêter to the end\n", c.name, (unsigned long long)after);
        EXPECT_LT(after, 100000u);
    }
}
