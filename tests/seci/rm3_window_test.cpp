// TRM3 and Tcalibre_rm3 on the simulated RM3, with the tables and the shared
// dialogs of start-up; messages are collected instead of shown.
#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <memory>

#include "app/windows.h"
#include "link/module.h"
#include "seci/seci_calibre.h"
#include "seci/seci_window.h"
#include "sim/catalogue.h"
#include "sim/seci_mech.h"
#include "store/model_library.h"
#include "store/model_ui.h"
#include "store/tables.h"
#include "tests/common/modal.h"
#include "ui/shell.h"

using namespace zuna;
using sim::Rm3Mech;
using test::child;
using test::with_modal;

namespace {

const std::vector<uint8_t> kChannel2 = Rm3Mech::record_bytes({1200, 1100, 2400, 2300, 3600, 3500}, 5, 3);

struct Rm3Rig : ::testing::Test {
    explicit Rm3Rig(const char* faults = "") : setup(1.0, parse(faults), ""), station(setup.bench()), shell(station)
    {
        mech = static_cast<Rm3Mech*>(setup.plug("rm3"));
        station.measured_module_count = measure_module(*station.port);
        load_delay_counts(station);
        tables = store::open_tables(shell, dir.path(), nullptr);
        create_start_windows(shell, nullptr);
        store::set_model_message_handler([this](QWidget*, const QString& m) { messages << m; });
        if (mech)
            mech->record(2) = kChannel2;
        w = std::make_unique<TRM3>(shell);
        w->show_message = [this](const QString& m) { messages << m; };
        w->show();
    }
    ~Rm3Rig() override
    {
        store::set_model_message_handler({});
        w.reset();
        for (QDialog* d : shell.dialogs())
            delete d;
    }
    static sim::Faults parse(const char* text)
    {
        sim::Faults f;
        sim::parse_faults(text, f, nullptr);
        return f;
    }
    void click(const char* name) { child<QPushButton>(w.get(), name)->click(); }
    QString row(int n)
    {
        QStringList t;
        for (int k = 1; k <= 6; ++k)
            t << w->cell(n, k)->text();
        return t.join(" ") + " | " + w->output_label(n)->text();
    }
    // "AJUST" on channel n, answering the channel prompt.
    void adjust(int n)
    {
        with_modal(
            [n](QWidget* d) {
                d->findChild<QSpinBox*>()->setValue(n);
                static_cast<QDialog*>(d)->accept();
            },
            [this] { click("Button6"); });
    }
    QSpinBox* spin(const char* name) { return child<QSpinBox>(w.get(), name); }
    bool red(int n, int k) { return w->cell(n, k)->palette().color(QPalette::WindowText) == QColor(Qt::red); }

    QTemporaryDir dir;
    sim::SimSetup setup;
    Station station;
    Shell shell;
    Rm3Mech* mech = nullptr;
    std::unique_ptr<store::Tables> tables;
    std::unique_ptr<TRM3> w;
    QStringList messages;
};

TEST_F(Rm3Rig, ReadShowsTheChannelsAndTheTestLightsTheirPairs)
{
    click("Button1");
    EXPECT_EQ(row(2), "1200 2400 3600 1100 2300 3500 | 3");
    EXPECT_TRUE(red(2, 2) && red(2, 5)) << "LF applies to the high reading";
    EXPECT_FALSE(red(2, 1) || red(2, 3));
    EXPECT_EQ(row(6), "      | ") << "an emptied channel";
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();

    struct Coin {
        std::array<int, 8> readings;
        bool lit[3];
    };
    for (const Coin& c : {Coin{{1150, 900, 100, 2350, 3550, 0}, {true, true, true}},
                          Coin{{1201, 900, 100, 2400, 3500, 0}, {false, true, true}}}) {
        mech->queue_coin(c.readings);
        click("Button4");
        EXPECT_EQ(w->reading(1)->text(), QString::number(c.readings[0]));
        for (int k = 1; k <= 3; ++k) {
            EXPECT_EQ(w->lit(2, k), c.lit[k - 1]) << c.readings[0] << " sensor " << k;
            EXPECT_EQ(w->lit(2, k + 3), c.lit[k - 1]);
        }
        for (int k = 1; k <= 6; ++k)
            EXPECT_FALSE(w->lit(6, k)) << "the empty channel is left out";
    }
    // No coin: nothing lights, one message.
    mech->set_coins(false);
    messages.clear();
    click("Button4");
    for (int n = 1; n <= 6; ++n)
        EXPECT_FALSE(w->lit(n, 1)) << n;
    EXPECT_EQ(messages, QStringList{"Aucune pièce reçue : rien n'a été mesuré."});
}

TEST_F(Rm3Rig, ASilentMechanismLeavesTheChannelsUnread)
{
    setup.plug("none");
    click("Button1");
    for (int n = 1; n <= 6; ++n)
        EXPECT_EQ(row(n), "0000 0000 0000 0000 0000 0000 | ") << n;
    EXPECT_EQ(messages, QStringList{"Le monayeur ne répond pas."});
    // An unread channel is neither adjusted nor stored as a model of zeros.
    messages.clear();
    adjust(2);
    EXPECT_FALSE(child<QWidget>(w.get(), "ajustement")->isVisible());
    click("Button2");
    click("BitBtn1");
    EXPECT_EQ(shell.models->visible_count(), 0);
    EXPECT_EQ(messages.size(), 2);
}

TEST_F(Rm3Rig, WritesShowWhatTheMechanismHolds)
{
    click("Button1");
    // AJUST on channel 2, aj1 = 1250.
    adjust(2);
    EXPECT_EQ(spin("aj1")->value(), 1200);
    EXPECT_EQ(spin("aj4")->value(), 1100);
    spin("aj1")->setValue(1250);
    click("ok");
    EXPECT_EQ(mech->record(2), Rm3Mech::record_bytes({1250, 1100, 2400, 2300, 3600, 3500}, 5, 3));
    EXPECT_EQ(row(2), "1250 2400 3600 1100 2300 3500 | 3");

    // Vider 4.
    spin("can_v")->setValue(4);
    click("Button7");
    click("BitBtn5");
    EXPECT_EQ(mech->record(4), Rm3Mech::record_bytes({65535, 65535, 65535, 65535, 65535, 65535}, 8, 15));
    EXPECT_EQ(row(4), "      | ");

    // Outputs: channel 1 to "0" (sent as 8), channel 5 (shown "0") unchanged.
    click("Button8");
    spin("cs1")->setValue(0);
    click("oks");
    EXPECT_EQ(mech->record(1).back(), 0x98);
    EXPECT_EQ(mech->record_writes(), 3) << "only the spin the operator changed";
    EXPECT_EQ(w->output_label(1)->text(), "0");
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();

    // A write that is not read back is said so, and the channel is not shown as written.
    mech->set_power_cut_after(mech->record_writes() + 1);
    adjust(3);
    click("ok");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("non confirmée")) << messages[0].toStdString();
    EXPECT_EQ(row(3), "???? ???? ???? ???? ???? ???? | ");
}

TEST_F(Rm3Rig, ModelsStoreAndProgramAChannel)
{
    click("Button1");
    spin("canal")->setValue(2);
    click("Button2");
    click("BitBtn1");
    ASSERT_EQ(shell.models->visible_count(), 1);
    const auto m = shell.models->current();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->type, "RM3");
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(m->c[size_t(k)], (std::array<int, 6>{1200, 1100, 2400, 2300, 3600, 3500}[size_t(k)]));
    EXPECT_EQ(m->t[0], 5);

    // Emptied channel 4 cannot be stored.
    spin("can_v")->setValue(4);
    click("Button7");
    click("BitBtn5");
    spin("canal")->setValue(4);
    click("Button2");
    click("BitBtn1");
    EXPECT_EQ(messages, QStringList{"'' n'est pas une valeur entière correcte"});
    EXPECT_EQ(shell.models->visible_count(), 1);

    // "Voir modèle" to channel 5: written with output 0, shown as read back.
    with_modal([](QWidget* b) { b->findChild<QPushButton*>("BitBtn1")->click(); }, [this] { click("Button3"); });
    spin("canal_v")->setValue(5);
    click("BitBtn3");
    EXPECT_EQ(mech->record(5), Rm3Mech::record_bytes({1200, 1100, 2400, 2300, 3600, 3500}, 5, 0));
    EXPECT_EQ(row(5), "1200 2400 3600 1100 2300 3500 | 0");
    EXPECT_TRUE(red(5, 2)) << "fonts follow the flags written";

    // A model value above the column range is refused by the table.
    messages.clear();
    mech->record(1) = Rm3Mech::record_bytes({40000, 1100, 2400, 2300, 3600, 3500}, 5, 3);
    click("Button1");
    spin("canal")->setValue(1);
    click("Button2");
    click("BitBtn1");
    EXPECT_EQ(shell.models->visible_count(), 1);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("n'est pas une valeur correcte")) << messages[0].toStdString();
}

TEST_F(Rm3Rig, ModelsThatCannotBeWrittenAreRefused)
{
    click("Button1");
    struct Row {
        const char* what;
        std::array<std::optional<int>, 6> c;
        std::optional<int> t1;
    };
    const std::vector<Row> rows = {
        {"C3 blank", {1, 2, std::nullopt, 4, 5, 6}, 5},
        {"C2 negative", {1, -2, 3, 4, 5, 6}, 5},
        {"T1 blank", {1, 2, 3, 4, 5, 6}, std::nullopt},
        {"T1 above 15", {1, 2, 3, 4, 5, 6}, 16},
    };
    for (const Row& r : rows) {
        store::ModelRecord m;
        m.type = "RM3";
        m.piece = "MAUVAIS";
        for (int k = 0; k < 6; ++k)
            m.c[size_t(k)] = r.c[size_t(k)];
        m.t[0] = r.t1;
        std::string error;
        ASSERT_TRUE(shell.models->append(m, &error)) << error;
        const int writes = mech->record_writes();
        messages.clear();
        with_modal([](QWidget* b) { b->findChild<QPushButton*>("BitBtn1")->click(); }, [this] { click("Button3"); });
        spin("canal_v")->setValue(1);
        click("BitBtn3");
        EXPECT_EQ(mech->record_writes(), writes) << r.what;
        EXPECT_EQ(messages.size(), 1) << r.what;
        EXPECT_EQ(row(1), "1260 2450 3620 1180 2330 3480 | 1") << r.what;
        ASSERT_TRUE(shell.models->first());
        ASSERT_TRUE(shell.models->delete_current(&error)) << error;
    }
}

TEST_F(Rm3Rig, CalibrationSamplesAndProgramsAChannel)
{
    auto* cal = shell.dialog<Tcalibre_rm3>();
    ASSERT_NE(cal, nullptr);
    cal->set_window(w.get());
    cal->show();
    auto sample = [&] {
        child<QSpinBox>(cal, "nb_piece")->setValue(3);
        mech->queue_coin({5500, 5490, 2000, 1990, 30, 10});
        mech->queue_coin({5510, 5480, 2010, 1995, 40, 5});
        mech->queue_coin({5505, 5485, 2005, 1992, 35, 8});
        cal->BitBtn1Click();
    };
    sample();
    EXPECT_EQ(cal->maximum(1)->text(), "5510");
    EXPECT_EQ(cal->minimum(6)->text(), "5");
    EXPECT_TRUE(child<QPushButton>(cal, "ok")->isEnabled());

    struct Row {
        std::array<bool, 3> low; // c1, c3, c5 checked
        int flags;
        std::vector<uint8_t> record;
    };
    for (const Row& r : {Row{{true, true, true}, 7, Rm3Mech::record_bytes({5519, 5480, 2030, 1980, 60, 10}, 7, 8)},
                         Row{{false, false, false}, 8, Rm3Mech::record_bytes({5510, 5460, 2015, 1970, 30, 0}, 8, 8)}}) {
        for (int s = 0; s < 3; ++s)
            cal->choice(r.low[size_t(s)] ? 2 * s + 1 : 2 * s + 2)->setChecked(true);
        EXPECT_EQ(cal->flags(), r.flags);
        child<QSpinBox>(cal, "toler")->setValue(20);
        child<QSpinBox>(cal, "can")->setValue(3);
        cal->okClick();
        cal->BitBtn2Click();
        EXPECT_EQ(mech->record(3), r.record);
        EXPECT_EQ(w->output_label(3)->text(), "0");
        EXPECT_FALSE(cal->isVisible()) << "closed after programming";
        cal->show();
        sample();
    }
    // A coin that never comes stops the sampling and is not counted.
    mech->set_coins(false);
    messages.clear();
    cal->BitBtn1Click();
    EXPECT_EQ(cal->maximum(1)->text(), "0000");
    EXPECT_FALSE(child<QPushButton>(cal, "ok")->isEnabled());
    EXPECT_EQ(messages.size(), 1);
    cal->hide();
    cal->set_window(nullptr);
}

} // namespace

namespace {

constexpr int64_t kCoinWaitTicks = seci::kCoinWait;

// Port time (1 tick = 1 port access = 1 µs at speed 1) of each window
// operation, on the simulated RM3 and with the mechanism unplugged after a
// read: a silent mechanism is told within 30 s, coin waits apart.
// ZUNA_PORT_TIMES=1 prints the figures.
TEST_F(Rm3Rig, SilentMechanismIsToldWithinThirtySeconds)
{
    auto* cal = shell.dialog<Tcalibre_rm3>();
    cal->set_window(w.get());
    struct Row {
        const char* what;
        std::function<void()> run;
        int64_t coin_wait;
    };
    const std::vector<Row> rows = {
        {"LECTURE", [&] { click("Button1"); }, 0},
        {"Test", [&] { mech ? mech->queue_coin({1, 2, 3, 4, 5, 6}) : void(); click("Button4"); }, kCoinWaitTicks},
        {"AJUST, OK", [&] { adjust(2); click("ok"); }, 0},
        {"Sorties, OK (1 canal)",
         [&] {
             click("Button8");
             spin("cs1")->setValue((spin("cs1")->value() + 1) % 7);
             click("oks");
         },
         0},
        {"Vider, OK", [&] { click("Button7"); click("BitBtn5"); }, 0},
        {"Calib. Piece, 1 pièce",
         [&] {
             child<QSpinBox>(cal, "nb_piece")->setValue(1);
             cal->BitBtn1Click();
         },
         kCoinWaitTicks},
        {"Calib. Piece, programmation", [&] { cal->okClick(); cal->BitBtn2Click(); }, 0},
    };
    for (const Row& r : rows) {
        mech = static_cast<Rm3Mech*>(setup.plug("rm3"));
        click("Button1");
        messages.clear();
        uint64_t t0 = setup.bench().now();
        r.run();
        const uint64_t normal = setup.bench().now() - t0;
        EXPECT_TRUE(messages.isEmpty()) << r.what << ": " << messages.join("|").toStdString();

        click("Button1");
        setup.plug("none");
        mech = nullptr;
        messages.clear();
        t0 = setup.bench().now();
        r.run();
        const uint64_t silent = setup.bench().now() - t0;
        EXPECT_LT(int64_t(silent) - r.coin_wait, 30'000'000) << r.what;
        EXPECT_FALSE(messages.isEmpty()) << r.what;
        EXPECT_EQ(setup.bench().mask_depth(), 0) << r.what;
        if (qEnvironmentVariableIsSet("ZUNA_PORT_TIMES"))
            std::printf("| %s | %.2f s | %.2f s |\n", r.what, normal / 1e6, silent / 1e6);
    }
    cal->set_window(nullptr);
}

} // namespace
