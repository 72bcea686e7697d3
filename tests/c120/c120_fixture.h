#pragma once
// A station on the simulated bench with a C120 plugged, delay counts from the
// module measurement as at start-up.
#include <gtest/gtest.h>

#include "link/module.h"
#include "link/station.h"
#include "sim/c120_mech.h"
#include "sim/catalogue.h"

struct C120Bench : ::testing::Test {
    explicit C120Bench(const char* faults = "", double speed = 1.0)
        : setup(speed, parse(faults), ""), station(setup.bench())
    {
        mech = static_cast<zuna::sim::SerialMech*>(setup.plug("c120"));
        station.measured_module_count = zuna::measure_module(*station.port);
        zuna::load_delay_counts(station);
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

// A channel window (Tc_120 or Tc220b) open on that bench, with the tables and
// the shared dialogs of start-up; messages are collected instead of shown.
#include <QDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <memory>

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
};
