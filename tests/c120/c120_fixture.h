#pragma once
// A station on the simulated bench with a C120 plugged, delay counts from the
// module measurement as at start-up.
#include <gtest/gtest.h>

#include "c120/c120_link.h"
#include "link/module.h"
#include "link/station.h"
#include "sim/c120_mech.h"
#include "sim/catalogue.h"
#include "sim/stall_fault.h"

struct C120Bench : ::testing::Test {
    explicit C120Bench(const char* faults = "", double speed = 1.0)
        : setup(speed, parse(faults), ""), station(setup.bench())
    {
        mech = static_cast<zuna::sim::SerialMech*>(setup.plug("c120"));
        station.measured_module_count = zuna::measure_module(*station.port);
        zuna::load_delay_counts(station);
        if (mech && setup.family() == "c120")
            zuna::c120::wake_up(station); // from power-up it sleeps until its pulse
        framing_before = mech ? mech->framing_errors() : 0; // the module's own traffic
    }
    int framing_errors() const { return mech->framing_errors() - framing_before; }
    static zuna::sim::Faults parse(const char* text)
    {
        zuna::sim::Faults f;
        zuna::sim::parse_faults(text, f, nullptr);
        return f;
    }
    zuna::sim::Bench& bench() { return setup.bench(); }

    zuna::sim::SimSetup setup;
    zuna::Station station;
    zuna::sim::SerialMech* mech = nullptr;
    int framing_before = 0;
};

// A PC stall placed inside a reply: once armed, it watches the reply line
// (status bit 7, at rest low) and stalls the station `offset` ticks after the
// start bit of the `reply`-th reply (0: the first; a reply begins after the
// line rested two characters), for `length` ticks.
struct ReplyStall : zuna::sim::Device {
    explicit ReplyStall(zuna::sim::Bench& b) : bench(b), stalls(b, 0, 1)
    {
        bench.plug(stalls);
        bench.plug(*this);
        stalls.start();
    }
    ~ReplyStall() override
    {
        bench.unplug(*this);
        bench.unplug(stalls);
    }
    void arm(int reply_index, uint64_t offset_ticks, uint64_t length_ticks, uint64_t rest_ticks)
    {
        reply = reply_index;
        offset = offset_ticks;
        length = length_ticks;
        rest = rest_ticks;
        low_since = bench.now();
        bench.wake_at(*this, bench.now() + 1);
    }
    void on_data(uint64_t, uint8_t, uint8_t) override {}
    void on_wake(uint64_t now) override
    {
        const bool high = bench.status() & 0x80;
        if (high && !was_high && now - low_since >= rest && reply-- == 0) {
            stalls.stall_at(now + offset, length);
            return;
        }
        if (!high && was_high)
            low_since = now;
        was_high = high;
        bench.wake_at(*this, now + 1);
    }

    zuna::sim::Bench& bench;
    zuna::sim::StallFault stalls;
    int reply = 0;
    uint64_t offset = 0, length = 0, rest = 0, low_since = 0;
    bool was_high = false;
};

// A channel window (Tc_120 or Tc220b) open on that bench, with the tables and
// the shared dialogs of start-up; messages are collected instead of shown.
#include <QDialog>
#include <QFile>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "c120/channel_window.h"
#include "ui/c_canal.h"
#include "settings_file/settings_file.h"
#include "ui/settings_panel.h"
#include "ui/shell.h"
#include "app/windows.h"
#include "store/tables.h"
#include "tests/common/modal.h"

template <class Window, class Valid, class Teach> struct ChannelWindowRig : C120Bench {
    ChannelWindowRig(const char* faults, const char* family) : C120Bench(faults), shell(station)
    {
        if (setup.family() != family) {
            mech = static_cast<zuna::sim::SerialMech*>(setup.plug(family));
            framing_before = mech ? mech->framing_errors() : 0;
        }
        tables = zuna::store::open_tables(shell, dir.path(), nullptr);
        zuna::create_start_windows(shell, nullptr);
        w = std::make_unique<Window>(shell);
        w->show_message = [this](const QString& m) { messages << m; };
        w->ask_overlap = [this](const QString& q) {
            overlap_questions << q;
            return write_overlaps;
        };
        shell.dialog<Valid>()->show_message = w->show_message;
        shell.dialog<Teach>()->show_message = w->show_message;
        w->show();
    }
    ~ChannelWindowRig() override
    {
        w.reset();
        for (QDialog* d : shell.dialogs())
            delete d;
    }
    void click(const char* name) { zuna::test::child<QPushButton>(w.get(), name)->click(); }
    // Saves the mechanism, changes three settings from the window (AJUST of
    // channel 3: parameter 2 upper, parameter 3 lower; SORTIES: channel 5),
    // restores: the comparison holds exactly those three, the restore
    // writes their words only and the mechanism then holds the file.
    // Then "Suivant" programs two more units, each plugged with `byte` of its
    // memory off by one: three log lines, each unit left as the file.
    void save_change_three_restore(const std::vector<std::string>& three, int byte)
    {
        using zuna::test::child;
        zuna::SettingsPanel* panel = w->settings_panel();
        const QString path = dir.filePath("meca.zuna.json");
        panel->choose_file = [&](bool) { return path; };
        panel->tell = [this](const QString& m) { messages << m; };
        click("Button5");
        click("Sauvegarder");
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].startsWith("Réglages enregistrés")) << messages[0].toStdString();
        messages.clear();

        zuna::test::on_modal([](QWidget* d) {
            qobject_cast<zuna::TC_canal*>(d)->canal()->setValue(3);
            qobject_cast<QDialog*>(d)->accept();
        });
        click("Button3");
        auto* l3 = child<QSpinBox>(w.get(), "l3");
        auto* l6 = child<QSpinBox>(w.get(), "l6");
        l3->setValue(l3->value() + 1);
        l6->setValue(l6->value() - 1);
        click("ok");
        click("Button4");
        auto* cc5 = child<QSpinBox>(w.get(), "cc5");
        cc5->setValue(cc5->value() == 6 ? 1 : cc5->value() + 1);
        click("cc_ok");
        ASSERT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();

        std::vector<std::string> compared;
        panel->confirm = [&](const zuna::settings::Comparison& c) {
            compared = c.to_write();
            return true;
        };
        const int writes = mech->word_writes();
        click("Restaurer");
        EXPECT_EQ(compared, three);
        EXPECT_EQ(mech->word_writes() - writes, 2 * 3); // three words, each with its checksum word
        ASSERT_TRUE(panel->last());
        EXPECT_EQ(panel->last()->kind, zuna::settings::Outcome::Held);
        EXPECT_EQ(messages.join("|").toStdString().find("3 réglages écrits, tous vérifiés"), 0u)
            << messages.join("|").toStdString();
        QString error;
        const auto file = zuna::settings::load_file(path, panel->family(), &error);
        ASSERT_TRUE(file) << error.toStdString();
        EXPECT_EQ(file->image, std::vector<uint8_t>(mech->memory().begin(), mech->memory().end()));

        shell.next_mechanism = [&] {
            mech = static_cast<zuna::sim::SerialMech*>(setup.plug(setup.family()));
            mech->memory()[byte] += 1;
            mech->fix_checksum();
        };
        panel->next_plugged = [] { return true; };
        for (int unit = 2; unit <= 3; ++unit) {
            messages.clear();
            click("Suivant");
            EXPECT_EQ(messages.join("|").toStdString().find("1 réglage écrit, vérifié"), 0u)
                << unit << ": " << messages.join("|").toStdString();
            EXPECT_EQ(file->image, std::vector<uint8_t>(mech->memory().begin(), mech->memory().end())) << unit;
        }
        QFile log(zuna::settings::log_path(path));
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 4) << lines.join("|").toStdString(); // the header, one line per unit
        for (int unit = 1; unit <= 3; ++unit)
            EXPECT_TRUE(lines[unit].endsWith(";vérifié")) << lines[unit].toStdString();
    }
    // The window's bands are the simulated memory's windows: lower..upper per
    // measurement, an inverted window (an unused channel) no band at all;
    // the coin is the one last measured.
    void expect_bands_are_memory(int (*upper_byte)(int c, int k), std::optional<std::vector<int>> coin)
    {
        const zuna::settings::BandSet set = w->bands();
        ASSERT_EQ(int(set.channels.size()), w->channels());
        for (int c = 1; c <= w->channels(); ++c) {
            const auto& ch = set.channels[c - 1];
            EXPECT_EQ(ch.channel, c);
            bool inverted = false;
            for (int k = 1; k <= 3; ++k)
                inverted = inverted || mech->memory()[upper_byte(c, k)] < mech->memory()[upper_byte(c, k) + 1];
            EXPECT_EQ(ch.enabled, !inverted) << c;
            for (int k = 1; k <= 3 && !inverted; ++k) {
                ASSERT_TRUE(ch.windows[k - 1]) << c << "/" << k;
                EXPECT_EQ(ch.windows[k - 1]->high, mech->memory()[upper_byte(c, k)]) << c << "/" << k;
                EXPECT_EQ(ch.windows[k - 1]->low, mech->memory()[upper_byte(c, k) + 1]) << c << "/" << k;
            }
        }
        EXPECT_EQ(set.coin, coin);

        // The open view draws the same, read back from its chart: one area
        // per channel and measurement, the coin's line through its values.
        zuna::BandView* view = w->view_buttons()->view();
        ASSERT_NE(view, nullptr);
        std::map<std::pair<int, int>, std::pair<int, int>> drawn;
        std::vector<int> line;
        for (QAbstractSeries* series : view->chart()->series()) {
            if (auto* a = qobject_cast<QAreaSeries*>(series); a && a->property("channel").isValid())
                drawn[{a->property("channel").toInt(), a->property("measurement").toInt()}] = {
                    int(a->lowerSeries()->at(0).y()), int(a->upperSeries()->at(0).y())};
            if (auto* l = qobject_cast<QLineSeries*>(series); l && l->name() == "Pièce testée")
                for (const QPointF& pt : l->points())
                    line.push_back(int(pt.y()));
        }
        std::map<std::pair<int, int>, std::pair<int, int>> want;
        for (const auto& ch : set.channels)
            for (int k = 0; k < 3 && ch.enabled; ++k)
                want[{ch.channel, k}] = {ch.windows[k]->low, ch.windows[k]->high};
        EXPECT_EQ(drawn, want);
        EXPECT_EQ(line, coin.value_or(std::vector<int>{}));
    }
    QString text(int c, int col) { return w->cell(c, col)->text(); }
    // Answers the validation dialog about to open: channel, tolerance, OK.
    static void answer_validation(int canal, int toler)
    {
        zuna::test::on_modal([canal, toler](QWidget* v) {
            v->findChild<QSpinBox*>("canal")->setValue(canal);
            v->findChild<QSpinBox*>("toler")->setValue(toler);
            v->findChild<QPushButton*>("BitBtn1")->click();
        });
    }

    QTemporaryDir dir;
    zuna::Shell shell;
    std::unique_ptr<zuna::store::Tables> tables;
    std::unique_ptr<Window> w;
    QStringList messages;
    QStringList overlap_questions; // asked before a write of windows
    bool write_overlaps = true;    // the answer given
};

// Presses "Arrêter" of a window at a chosen point of the mechanism's work:
// forwards the station's port accesses, and the first time `when` holds (on
// the transfer thread) has the window's thread click the button, waiting
// until it has: the operation then ends at its next safe point.
#include <QMetaObject>
#include <functional>
#include <future>

struct ArreterWhen : zuna::Port {
    ArreterWhen(zuna::Station& s, QWidget* window, std::function<bool()> when)
        : station(s), inner(*s.port), window(window), when(std::move(when))
    {
        station.port = this;
    }
    ~ArreterWhen() override { station.port = &inner; }
    void write_data_port(uint8_t v) override
    {
        check();
        inner.write_data_port(v);
    }
    uint8_t read_status_port() override
    {
        check();
        return inner.read_status_port();
    }
    void mask_interrupts() override { inner.mask_interrupts(); }
    void unmask_interrupts() override { inner.unmask_interrupts(); }
    void idle(uint64_t n) override { inner.idle(n); }
    void check()
    {
        if (pressed || !when())
            return;
        pressed = true;
        std::promise<void> done;
        QMetaObject::invokeMethod(
            window, [this, &done] {
                auto* b = window->findChild<QPushButton*>("Arreter");
                EXPECT_TRUE(b && b->isVisibleTo(window)) << "no Arrêter shown";
                if (b)
                    b->click();
                done.set_value();
            },
            Qt::QueuedConnection);
        done.get_future().wait();
    }
    zuna::Station& station;
    zuna::Port& inner;
    QWidget* window;
    std::function<bool()> when;
    bool pressed = false;
};

// Port time (1 tick = 1 port access = 1 µs at speed 1) of window operations:
// on a mechanism that answers, and on one that is unplugged after a whole
// read. A silent mechanism must be told within 30 s, coin waits apart.
// ZUNA_PORT_TIMES=1 prints the figures.
#include <cstdio>
#include <functional>

struct PortTimeRow {
    const char* what;
    std::function<void()> run;
    bool told;          // a silent mechanism gives a message
    int64_t coin_wait;  // ticks of the silent run that wait for a coin
};

template <class Rig> void check_port_times(Rig& rig, const char* family, const std::vector<PortTimeRow>& rows)
{
    constexpr int64_t kBound = 30'000'000;
    for (const PortTimeRow& r : rows) {
        rig.mech = static_cast<zuna::sim::SerialMech*>(rig.setup.plug(family));
        rig.click("Button5");
        ASSERT_EQ(rig.station.memory_image[0], 1) << r.what;
        rig.messages.clear();
        uint64_t t0 = rig.bench().now();
        r.run();
        const uint64_t normal = rig.bench().now() - t0;
        EXPECT_TRUE(rig.messages.isEmpty()) << r.what << ": " << rig.messages.join("|").toStdString();

        rig.click("Button5");
        rig.setup.plug("none"); // unplugged: nothing answers
        rig.mech = nullptr;
        rig.messages.clear();
        t0 = rig.bench().now();
        r.run();
        const uint64_t silent = rig.bench().now() - t0;
        EXPECT_LT(int64_t(silent) - r.coin_wait, kBound) << r.what;
        EXPECT_EQ(!rig.messages.isEmpty(), r.told) << r.what << ": " << rig.messages.join("|").toStdString();
        EXPECT_EQ(rig.bench().mask_depth(), 0) << r.what;
        if (qEnvironmentVariableIsSet("ZUNA_PORT_TIMES"))
            std::printf("| %s | %.2f s | %.2f s |\n", r.what, normal / 1e6, silent / 1e6);
    }
}
