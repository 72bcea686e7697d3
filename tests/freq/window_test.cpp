// The frequency window on the simulated bench: typed counts reach zone 0 of
// the module, "Défaut" and "Calcul" compute from the module measurement,
// named sets go into calib.dbf and come back, and a module that keeps
// nothing is told.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include "app/windows.h"
#include "c120/c120_link.h"
#include "freq/pc_dialogs.h"
#include "freq/zuna07_window.h"
#include "link/module.h"
#include "sim/catalogue.h"
#include "sim/module_sim.h"
#include "store/frequency_table.h"
#include "tests/common/modal.h"
#include "tests/store/store_test_util.h"
#include "ui/shell.h"

using namespace zuna;
using freq::Family;

namespace {
struct Rig {
    // fixed: the family plugged before the start, for the whole run.
    explicit Rig(sim::Faults faults = {}, const std::string& fixed = "") : setup(1.0, faults, "")
    {
        if (!fixed.empty())
            setup.fix_family(fixed);
        measure_module(station);
        load_delay_counts(station);
        std::string error, notice;
        table = store::open_frequency_table(dir.path(), &error, &notice);
        shell.frequencies = table.get();
        shell.plug_mechanism = [this](const std::string& f) { setup.window_opened(f); };
        create_start_windows(shell, &parent);
        w = std::make_unique<Tzuna07>(shell, &parent);
        w->message = [this](const QString& m) { messages << m; };
        w->show();
    }
    int zone0_word(int offset) { return setup.module().zone0()[offset] | setup.module().zone0()[offset + 1] << 8; }
    void type(Family f, int value)
    {
        QSpinBox* s = w->spin(f);
        s->setValue(value);
    }
    // Typed into the field over what it shows, then Enter.
    void key_in(Family f, const QString& text)
    {
        QSpinBox* s = w->spin(f);
        s->setFocus();
        s->selectAll();
        QTest::keyClicks(s, text);
        QTest::keyClick(s, Qt::Key_Return);
    }
    store::testing::ScratchDir dir;
    sim::SimSetup setup;
    Station station{setup.bench()};
    Shell shell{station};
    QWidget parent;
    std::unique_ptr<store::FrequencyTable> table;
    std::unique_ptr<Tzuna07> w;
    QStringList messages;
};
} // namespace

TEST(FreqWindow, TypedCountsGoIntoZone0OrAreRefusedWithTheirRange)
{
    Rig rig;
    // What the operator types, then Enter. A count outside its range is
    // refused whole (never cut to what the field holds) and nothing is written.
    struct Case { Family f; const char* typed; int kept; int offset; const char* told; } cases[] = {
        {Family::C120, "300", 300, kZ0C120, ""},
        {Family::G136, "141", 141, kZ0G136, ""},
        {Family::ALB, "69", 69, kZ0Alb, ""},
        {Family::RM3, "200", 200, kZ0Rm3, ""},
        {Family::RM3, "201", 200, kZ0Rm3, "« SECI RM3 » : la fréquence doit être comprise entre 1 et 200. Rien n'est écrit."},
        {Family::C120, "40000", 300, kZ0C120,
         "« C120 » : la fréquence doit être comprise entre 1 et 32767. Rien n'est écrit."},
        {Family::C120, "-3", 300, kZ0C120, "« C120 » : la fréquence doit être comprise entre 1 et 32767. Rien n'est écrit."},
        {Family::C220B, "0", 138, kZ0C220b,
         "« C220b » : la fréquence doit être comprise entre 1 et 32767. Rien n'est écrit."},
        {Family::RM4, "0", 68, kZ0Rm4, "« SECI RM4 » : la fréquence doit être comprise entre 1 et 200. Rien n'est écrit."},
    };
    for (const Case& c : cases) {
        const int writes = rig.setup.module().zone0_writes();
        rig.messages.clear();
        rig.key_in(c.f, c.typed);
        EXPECT_EQ(freq::count(rig.station, c.f), c.kept) << c.typed;
        EXPECT_EQ(rig.zone0_word(c.offset), c.kept) << c.typed;
        EXPECT_EQ(rig.w->spin(c.f)->value(), c.kept) << c.typed;
        EXPECT_EQ(rig.setup.module().zone0_writes() - writes, *c.told ? 0 : 1) << c.typed;
        EXPECT_EQ(rig.messages, *c.told ? QStringList{c.told} : QStringList{}) << c.typed;
    }
    EXPECT_EQ(rig.setup.module().zone0()[45], 0x2C);
    EXPECT_EQ(rig.setup.module().zone0()[46], 0x01);
    // G13: the six-byte encoding, into the count in use and the stored count.
    rig.key_in(Family::G13, "5000");
    const auto& z = rig.setup.module().zone0();
    EXPECT_EQ((std::array<int, 6>{z[54], z[53], z[52], z[51], z[50], z[49]}), (std::array<int, 6>{1, 0, 0, 1, 1, 0x88}));
    EXPECT_EQ(rig.station.g13_stored, 5000);
    rig.messages.clear();
    rig.key_in(Family::G13, "7001");
    EXPECT_EQ(rig.station.delay.g13, 5000);
    EXPECT_EQ(zone0_g13(rig.setup.module().zone0()), 5000);
    EXPECT_EQ(rig.messages,
              QStringList{"« NRI G.13.0 » : la fréquence doit être comprise entre 1 et 7000. Rien n'est écrit."});
    // The arrows stay within the range.
    QSpinBox* rm3 = rig.w->spin(Family::RM3);
    rm3->stepUp();
    rm3->stepBy(10);
    EXPECT_EQ(rm3->value(), 200);
    EXPECT_EQ(rig.station.delay.rm3, 200);
}

TEST(FreqWindow, DefaultAndCalculComeFromTheModuleMeasurement)
{
    Rig rig;
    ASSERT_EQ(rig.station.measured_copy, 100);
    ASSERT_EQ(rig.station.reference_copy, 100);
    // The G13 links time their units with the measured module count and leave
    // it changed; the activate step that follows a window must not take that
    // for the module measurement.
    rig.station.measured_module_count = 7;
    load_delay_counts(rig.station);
    EXPECT_EQ(rig.station.measured_copy, 100);
    rig.type(Family::C220, 55);
    rig.w->findChild<QPushButton*>("Button6")->click(); // "Calcul"
    EXPECT_EQ(rig.station.delay.c220, 90);
    EXPECT_EQ(rig.zone0_word(kZ0C220), 90);
    // round(m' x k / g'), halves to even: each factor meets a half on an
    // even and on an odd whole part, and a fraction above one half.
    struct Case { int32_t m, g; std::array<int, 9> want; } cases[] = {
        {100, 100, {2200, 2200, 138, 138, 138, 90, 68, 68, 68}},
        {101, 80, {2778, 2778, 174, 174, 174, 114, 86, 86, 86}},  // 2777.5 174.225 113.625 85.85
        {103, 80, {2832, 2832, 178, 178, 178, 116, 88, 88, 88}},  // 2832.5 177.675 115.875 87.55
        {90, 80, {2475, 2475, 155, 155, 155, 101, 76, 76, 76}},   // 155.25 101.25 76.5
        {63, 72, {1925, 1925, 121, 121, 121, 79, 60, 60, 60}},    // 120.75 78.75 59.5
        {125, 100, {2750, 2750, 172, 172, 172, 112, 85, 85, 85}}, // 172.5 112.5
        {104, 96, {2383, 2383, 150, 150, 150, 98, 74, 74, 74}},   // 2383.33 149.5 97.5 73.67
    };
    for (const Case& c : cases) {
        rig.station.measured_copy = c.m;
        rig.station.reference_copy = c.g;
        rig.w->findChild<QPushButton*>("Button5")->click(); // "Défaut"
        const Station& s = rig.station;
        EXPECT_EQ((std::array<int, 9>{s.delay.g13, s.g13_stored, s.delay.g136, s.delay.c120, s.delay.c220b,
                                      s.delay.c220, s.delay.rm3, s.delay.rm4, s.delay.alb}),
                  c.want)
            << c.m << "/" << c.g;
        EXPECT_EQ(zone0_g13(rig.setup.module().zone0()), c.want[0]);
        EXPECT_EQ(rig.zone0_word(kZ0C120), c.want[3]);
        EXPECT_EQ(rig.w->spin(Family::G13)->value(), c.want[0]);
        EXPECT_EQ(rig.w->spin(Family::ALB)->value(), c.want[8]);
        rig.type(Family::C220, 55);
        rig.w->findChild<QPushButton*>("Button6")->click(); // "Calcul"
        EXPECT_EQ(rig.station.delay.c220, c.want[5]) << c.m << "/" << c.g;
    }
}

TEST(FreqWindow, SavedSetsComeBackWithLire)
{
    Rig rig;
    rig.type(Family::C120, 150);
    rig.type(Family::ALB, 70);
    test::on_modal([](QWidget* d) {
        auto* ap = d->findChild<QLineEdit*>("ap");
        ap->setFocus();
        ap->setText("BANC 1");
        d->findChild<QPushButton*>("BitBtn1")->click();
    });
    rig.w->findChild<QPushButton*>("Button8")->click();
    ASSERT_EQ(rig.table->visible_count(), 1);
    const store::FrequencyRecord saved = *rig.table->current();
    EXPECT_EQ(saved.appareil, "BANC 1");
    EXPECT_EQ(saved.c120, 150);
    EXPECT_EQ(saved.alb, 70);
    // As peers nobody here wrote read it.
    if (store::testing::python_dbf_present()) {
        int status = 0;
        const std::string out = store::testing::python(rig.dir, R"(
import dbf
t = dbf.Table('calib.dbf')
t.open(dbf.READ_ONLY)
r = t[0]
print(r.appareil.strip(), r.c120, r.alb)
t.close()
)",
                                                       &status);
        EXPECT_EQ(out, "BANC 1 150 70\n") << status;
    }
    if (store::testing::dbview_present()) {
        const std::string out = store::testing::run("dbview -b -t '" + rig.dir.file("calib.dbf") + "'");
        EXPECT_NE(out.find("BANC 1"), std::string::npos) << out;
    }
    // A second set without ALB (written by an older station).
    store::FrequencyRecord old = saved;
    old.appareil = "ATELIER";
    old.c120 = 160;
    old.alb.reset();
    old.rm3 = 300; // outside its range: left as it is, and told
    std::string error;
    ASSERT_TRUE(rig.table->append(old, &error)) << error;

    struct Case { const char* name; int c120; int alb; int rm3; int told; } cases[] = {
        {"ATELIER", 160, 75, 68, 1},
        // The set holds ALB 70: the ALB count stays as it is.
        {"BANC 1", 150, 75, 68, 0},
    };
    for (const Case& c : cases) {
        rig.type(Family::C120, 100);
        rig.type(Family::ALB, 75);
        rig.messages.clear();
        test::on_modal([&](QWidget* d) {
            auto* grid = d->findChild<QTableWidget*>("DBGrid1");
            ASSERT_EQ(grid->rowCount(), 2);
            for (int r = 0; r < 2; ++r)
                if (grid->item(r, 0)->text() == c.name)
                    grid->selectRow(r);
            d->findChild<QPushButton*>("BitBtn1")->click();
        });
        rig.w->findChild<QPushButton*>("Button9")->click();
        EXPECT_EQ(rig.station.delay.c120, c.c120) << c.name;
        EXPECT_EQ(rig.zone0_word(kZ0C120), c.c120) << c.name;
        EXPECT_EQ(rig.station.delay.alb, c.alb) << c.name;
        EXPECT_EQ(rig.station.delay.rm3, c.rm3) << c.name;
        EXPECT_EQ(rig.messages.size(), c.told) << c.name;
    }
    // "Supprimer" asks first.
    auto* lire = rig.shell.dialog<Tlire_pc>();
    int asked = 0;
    lire->confirm_delete = [&](QWidget*) { return ++asked == 2; };
    lire->grid()->selectRow(0);
    lire->SupprimerClick();
    EXPECT_EQ(rig.table->visible_count(), 2);
    lire->SupprimerClick();
    EXPECT_EQ(rig.table->visible_count(), 1);
}

TEST(FreqWindow, AModuleThatKeepsNothingIsToldWhenTheWindowCloses)
{
    for (bool dead : {false, true}) {
        sim::Faults faults;
        faults.memory_dead = dead;
        Rig rig(faults);
        rig.type(Family::C120, 140);
        rig.w->close();
        EXPECT_EQ(rig.messages.size(), dead ? 1 : 0) << dead;
    }
}

TEST(FreqWindow, ReCalibPlugsTheFamilyAndWritesWhatItFound)
{
    // fixed: the mechanism is plugged before the station starts (--simulate=FAMILY),
    // so it sees every zone 0 transfer of the start and of the window; each
    // search then runs `searches` times in a row, each followed by its zone 0 write.
    // The simulated C120 sleeps until a wake-up pulse and "Re calib." sends
    // none: it finds the C120 that a transfer before it has woken.
    struct Case {
        const char* button;
        Family f;
        int offset;
        bool silent;
        const char* fixed;
        int searches;
        int found;
        bool woken = false;
    } cases[] = {
        {"Button3", Family::C120, kZ0C120, false, "", 1, 138, true},
        {"Button3", Family::C120, kZ0C120, false, "", 1, 120},
        {"Button4", Family::C220B, kZ0C220b, false, "", 1, 143},
        {"Button7", Family::RM3, kZ0Rm3, false, "", 1, 65},
        {"Button10", Family::RM4, kZ0Rm4, false, "", 1, 68},
        {"Button2", Family::G136, kZ0G136, false, "", 2, 141},
        {"Button2", Family::G136, kZ0G136, false, "g136", 2, 141},
        {"Button7", Family::RM3, kZ0Rm3, false, "rm3", 2, 65},
        {"Button10", Family::RM4, kZ0Rm4, false, "rm4", 2, 68},
        {"Button11", Family::ALB, kZ0Alb, false, "", 1, 68},
        {"Button3", Family::C120, kZ0C120, true, "", 1, 120},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " " + c.fixed + " x" + std::to_string(c.searches));
        sim::Faults faults;
        faults.silent = c.silent;
        Rig rig(faults, c.fixed);
        rig.type(c.f, 120);
        if (c.woken) {
            rig.setup.window_opened("c120");
            c120::wake_up(rig.station);
        }
        const bool answered = !c.silent && c.found != 120;
        for (int k = 0; k < c.searches; ++k) {
            rig.w->findChild<QPushButton*>(c.button)->click();
            EXPECT_EQ(rig.messages.size(), answered ? 0 : 1) << k;
            const int found = freq::count(rig.station, c.f);
            EXPECT_EQ(found, c.found) << k;
            EXPECT_EQ(rig.zone0_word(c.offset), found) << k;
            EXPECT_EQ(rig.w->spin(c.f)->value(), found) << k;
        }
    }
}
