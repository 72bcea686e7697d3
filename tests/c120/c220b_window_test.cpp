// The C220B windows on the simulated bench.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "ui/c_canal.h"
#include "ui/settings_panel.h"
#include "ui/shell.h"
#include "app/windows.h"
#include "c120/c220b.h"
#include "c120/c220b_link.h"
#include "c120/c_120.h"
#include "sim/c220b_mech.h"
#include "store/model_library.h"
#include "store/tables.h"
#include "tests/c120/c120_fixture.h"
#include "tests/common/counting_port.h"
#include "tests/common/modal.h"

using namespace zuna;
namespace b = zuna::c220b;

namespace {

using zuna::test::on_modal;
using zuna::test::child;

struct C220BWindow : ChannelWindowRig<Tc220b, Tvalid_c220, Tcalibrate_c220> {
    explicit C220BWindow(const char* faults = "") : ChannelWindowRig(faults, "c220b") {}
    int mem(int byte) { return mech->memory()[byte]; }
    void expect_table_is_memory()
    {
        for (int c = 1; c <= 16; ++c) {
            for (int k = 1; k <= 3; ++k) {
                EXPECT_EQ(text(c, 2 * k - 1).toInt(), mem(2 * b::window_address(c, k))) << c << "/" << k;
                EXPECT_EQ(text(c, 2 * k).toInt(), mem(2 * b::window_address(c, k) + 1)) << c << "/" << k;
            }
            EXPECT_EQ(text(c, 7).toStdString(), b::output_text(mem(b::output_byte(c)))) << c;
        }
    }
    void answer_prompt(int channel)
    {
        on_modal([channel](QWidget* d) {
            qobject_cast<TC_canal*>(d)->canal()->setValue(channel);
            qobject_cast<QDialog*>(d)->accept();
        });
    }

};

struct C220BSilentWindow : C220BWindow {
    C220BSilentWindow() : C220BWindow("silent") {}
};
struct C220BPowerCutWindow : C220BWindow {
    C220BPowerCutWindow() : C220BWindow("power-cut=1") {}
};

} // namespace

TEST(C220BWindows, StartUpOrderAndSpeedBar)
{
    test::CountingPort port;
    Station s(port);
    Shell shell(s);
    create_start_windows(shell, nullptr);
    const auto& d = shell.dialogs();
    ASSERT_GE(d.size(), 4u);
    EXPECT_NE(qobject_cast<TC_canal*>(d[1]), nullptr);
    EXPECT_NE(qobject_cast<Tvalid_c220*>(d[2]), nullptr);
    EXPECT_NE(qobject_cast<Tcalibrate_c220*>(d[3]), nullptr);
    EXPECT_NE(shell.dialog<Tcalibrate>(), nullptr); // the order as a whole: MainWindow.SharedDialogs...
    EXPECT_TRUE(device_window_available("SpeedItem2"));
    auto w = make_device_window("SpeedItem2", shell, nullptr);
    ASSERT_NE(qobject_cast<Tc220b*>(w.get()), nullptr);
    EXPECT_EQ(w->windowTitle(), "c220b");
    EXPECT_EQ(child<QPushButton>(w.get(), "Button5")->text(), "lecture");
    EXPECT_EQ(w->findChild<QWidget*>("SpeedButton1"), nullptr);
    EXPECT_NE(w->findChild<QWidget*>("Progresse"), nullptr);
    EXPECT_NE(w->findChild<QWidget*>("c167"), nullptr);
    EXPECT_EQ(child<QSpinBox>(d[2], "canal")->maximum(), 16);
    // OK and Abort of the teach are there from the start.
    d[3]->show();
    EXPECT_TRUE(child<QPushButton>(d[3], "BitBtn4")->isVisible());
    EXPECT_TRUE(child<QPushButton>(d[3], "BitBtn3")->isVisible());
    for (QDialog* x : d)
        delete x;
}

TEST_F(C220BWindow, ReadShowsTheSixteenChannels)
{
    click("Button5");
    expect_table_is_memory();
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_EQ(bench().data(), b::kRest);
}

TEST_F(C220BWindow, AjustOfChannel16WritesWords24_40_56)
{
    click("Button5");
    on_modal([](QWidget* d) { qobject_cast<QDialog*>(d)->reject(); }); // Abandon: no panel
    click("Button3");
    EXPECT_TRUE(child<QWidget>(w.get(), "ajust")->isHidden());
    answer_prompt(16);
    click("Button3");
    const int values[6] = {200, 150, 90, 80, 70, 60};
    for (int i = 0; i < 6; ++i)
        child<QSpinBox>(w.get(), QString("l%1").arg(i + 1).toLatin1())->setValue(values[i]);
    const size_t before = mech->commands().size();
    click("ok");
    std::vector<int> written;
    for (size_t i = before; i < mech->commands().size(); ++i)
        if (mech->commands()[i][0] == 0x7A)
            written.push_back(mech->commands()[i][1]);
    EXPECT_EQ(written, (std::vector<int>{24, 127, 40, 127, 56, 127}));
    EXPECT_EQ(mem(112), 70);
    EXPECT_EQ(mem(113), 60);
    EXPECT_EQ(mem(48), 200);
    EXPECT_EQ(mem(81), 80);
    EXPECT_TRUE(mech->checksum_holds());
    EXPECT_EQ(text(16, 1), "200");
    click("Button5");
    expect_table_is_memory();
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

// The C220B has no checksum repair: a save says a checksum that does not
// hold and keeps no file; a write through the window mends it, also when the
// mechanism keeps the first checksum word wrong (written again), and the table
// shows what the mechanism holds.
TEST_F(C220BWindow, ASaveSaysAChecksumThatDoesNotHoldAndAWriteMendsIt)
{
    sim::Faults f = parse("lost-checksum");
    mech = static_cast<sim::SerialMech*>(setup.plug("c220b"));
    mech->set_faults(f);
    mech->memory()[254] += 17;
    SettingsPanel* panel = w->settings_panel();
    const QString path = dir.filePath("somme.zuna.json");
    panel->choose_file = [&](bool) { return path; };
    panel->tell = [this](const QString& m) { messages << m; };
    click("Button5");
    click("Sauvegarder");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("La somme de contrôle du monnayeur est fausse (lue ")) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains("une écriture depuis la fenêtre C220B la remet à jour")) << messages[0].toStdString();
    EXPECT_FALSE(QFile::exists(path));
    messages.clear();
    answer_prompt(16);
    click("Button3");
    child<QSpinBox>(w.get(), "l1")->setValue(201);
    const int writes = mech->word_writes();
    click("ok");
    EXPECT_EQ(mech->word_writes() - writes, 8); // the first word twice, then two more, each with its checksum word
    EXPECT_TRUE(mech->checksum_holds());
    expect_table_is_memory();
    EXPECT_EQ(text(16, 1), "201");
    click("Sauvegarder");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith("Réglages enregistrés")) << messages[0].toStdString();
}

TEST_F(C220BWindow, SaveChangeThreeRestoreThenCloneTwoMore)
{
    save_change_three_restore({"Canal 3/Mesure 2/max", "Canal 3/Mesure 3/min", "Sorties/Canal 5"}, 54);
    expect_table_is_memory();
}

TEST_F(C220BWindow, OutputsAreWrittenMinusOne)
{
    click("Button5");
    const int byte237 = mem(237);
    click("Button4");
    for (int c = 1; c <= 16; ++c)
        child<QSpinBox>(w.get(), QString("cc%1").arg(c).toLatin1())->setValue(1 + (c % 4));
    child<QSpinBox>(w.get(), "cc1")->setValue(4);
    child<QSpinBox>(w.get(), "cc16")->setValue(2);
    click("cc_ok");
    EXPECT_EQ(mem(236), 3); // output 4 on channel 1
    EXPECT_EQ(mem(237), byte237);
    EXPECT_EQ(mem(253), 1);
    EXPECT_EQ(mem(252), 1);
    for (int c = 2; c <= 15; ++c)
        EXPECT_EQ(mem(b::output_byte(c)), c % 4) << c;
    EXPECT_EQ(text(1, 7), "4");
    EXPECT_TRUE(mech->checksum_holds());
    EXPECT_TRUE(child<QSpinBox>(w.get(), "cc1")->isHidden());
}

TEST_F(C220BWindow, OutputsAbandonHidesTheGroup)
{
    click("Button4");
    EXPECT_TRUE(child<QSpinBox>(w.get(), "cc16")->isVisible());
    const int writes = mech->word_writes();
    click("cc_ab");
    EXPECT_TRUE(child<QSpinBox>(w.get(), "cc16")->isHidden());
    EXPECT_EQ(mech->word_writes(), writes);
}

TEST_F(C220BWindow, StoreModelPanelHidesTheOtherGroups)
{
    click("Button4");
    ASSERT_TRUE(child<QSpinBox>(w.get(), "cc1")->isVisible());
    click("Button6");
    EXPECT_TRUE(child<QWidget>(w.get(), "choix_c")->isVisible());
    for (const char* name : {"cc1", "cc16", "cc_ok", "cc_ab", "ajust", "ok", "ab", "vers_c"})
        EXPECT_TRUE(child<QWidget>(w.get(), name)->isHidden()) << name;
}

TEST_F(C220BWindow, TeachAndValidationWriteTheWidenedWindows)
{
    click("Button5");
    auto* cal = shell.dialog<Tcalibrate_c220>();
    cal->show();
    child<QSpinBox>(cal, "nb_piece")->setValue(3);
    mech->queue_coin(120, 60, 200);
    mech->queue_coin(118, 64, 210);
    mech->queue_coin(125, 61, 198);
    cal->BitBtn1Click();
    EXPECT_EQ(child<QLabel>(cal, "m1")->text(), "125");
    EXPECT_EQ(child<QLabel>(cal, "b1")->text(), "118");
    EXPECT_EQ(station.c120_read_timeout, c120::kTimeoutNormal);
    answer_validation(16, 0);
    cal->BitBtn4Click();
    EXPECT_EQ(mem(48), 125);
    EXPECT_EQ(mem(49), 118);
    EXPECT_EQ(mem(80), 64);
    EXPECT_EQ(mem(81), 60);
    EXPECT_EQ(mem(112), 210);
    EXPECT_EQ(mem(113), 198);
    EXPECT_TRUE(mech->checksum_holds());
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

TEST_F(C220BWindow, TeachWithoutCoinsTakesNothing)
{
    auto* cal = shell.dialog<Tcalibrate_c220>();
    cal->show();
    child<QSpinBox>(cal, "nb_piece")->setValue(2);
    mech->set_coins(false);
    cal->BitBtn1Click();
    EXPECT_EQ(child<QLabel>(cal, "b1")->text(), "255"); // not 0 from an empty answer
    EXPECT_EQ(child<QLabel>(cal, "m1")->text(), "0");
}

TEST_F(C220BWindow, TestShowsTheCoinAndLightsItsWindows)
{
    click("Graphique"); // open from the start: it follows the read and the test
    click("Button5");
    const auto bd = b::channel_bounds(station.memory_image, 2);
    mech->queue_coin(bd[0], bd[3], bd[5]); // upper, lower, lower: all on a bound
    click("Button2");
    EXPECT_EQ(child<QLabel>(w.get(), "t1")->text().toInt(), bd[0]);
    for (int col = 1; col <= 6; ++col)
        EXPECT_TRUE(c120::highlighted(w->cell(2, col))) << col;
    EXPECT_EQ(station.c120_read_timeout, c120::kTimeoutAfterTest);
    expect_bands_are_memory([](int c, int k) { return b::upper_index(c, k) - 1; },
                            std::vector<int>{bd[0], bd[3], bd[5]});
}

TEST_F(C220BWindow, ModelsRoundTripAndStayInTheirFamily)
{
    click("Button5");
    click("Button6");
    child<QSpinBox>(w.get(), "canal")->setValue(3);
    child<QLineEdit>(w.get(), "piece")->setText("JETON");
    child<QPushButton>(w.get(), "BitBtn1")->click();
    ASSERT_TRUE(shell.models->set_filter("type = 'C22B'", nullptr));
    ASSERT_EQ(shell.models->visible_count(), 1);
    EXPECT_EQ(shell.models->current()->type, "C22B");

    on_modal([](QWidget* browser) { qobject_cast<QDialog*>(browser)->accept(); });
    click("Button7");
    ASSERT_TRUE(child<QWidget>(w.get(), "vers_c")->isVisible());
    child<QSpinBox>(w.get(), "canal_v")->setValue(16);
    child<QPushButton>(w.get(), "BitBtn3")->click();
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(mem(2 * b::window_address(16, k)), mem(2 * b::window_address(3, k))) << k;
        EXPECT_EQ(mem(2 * b::window_address(16, k) + 1), mem(2 * b::window_address(3, k) + 1)) << k;
    }
    EXPECT_TRUE(mech->checksum_holds());
    EXPECT_EQ(overlap_questions, QStringList{"Les canaux 3 et 16 se recouvrent : une même pièce serait acceptée par "
                                             "les deux. Écrire quand même ?"});

    // Only C22B models in this window, only C120 models in the C120 window.
    store::ModelRecord c120_model;
    c120_model.type = "C120";
    c120_model.piece = "AUTRE";
    ASSERT_TRUE(shell.models->append(c120_model, nullptr));
    auto only_one_offered = [](QWidget* browser) {
        EXPECT_EQ(browser->objectName(), "m_c120");
        qobject_cast<QDialog*>(browser)->accept();
    };
    on_modal(only_one_offered);
    click("Button7");
    EXPECT_EQ(shell.models->visible_count(), 1);
    EXPECT_EQ(shell.models->current()->type, "C22B");
    EXPECT_EQ(child<QLabel>(w.get(), "f_p")->text(), "JETON");
    Tc_120 other(shell);
    on_modal(only_one_offered);
    other.Button7Click();
    EXPECT_EQ(shell.models->visible_count(), 1);
    EXPECT_EQ(child<QLabel>(&other, "f_p")->text(), "AUTRE");
    other.findChild<QPushButton*>("BitBtn4")->click();
}

TEST_F(C220BWindow, AReadThatStopsLeavesTheTableAsItWas)
{
    click("Button5");
    const QString shown = text(5, 1);
    mech->memory()[2 * b::window_address(5, 1)] ^= 0xFF;
    mech->spoil_reads(30);
    click("Button5");
    EXPECT_EQ(text(5, 1), shown);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("interrompue au mot 1")) << messages[0].toStdString();
    // Nothing is written from an image that is not whole.
    answer_prompt(5);
    click("Button3");
    const int writes = mech->word_writes();
    click("ok");
    EXPECT_EQ(mech->word_writes(), writes);
    // Nor is a coin taught: refused before its coins are passed.
    messages.clear();
    bool taught = false;
    test::with_modal([&](QWidget* d) { taught = true; qobject_cast<QDialog*>(d)->reject(); }, [&] { click("Button1"); });
    EXPECT_FALSE(taught);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("lecture complète")) << messages[0].toStdString();
}

TEST_F(C220BSilentWindow, ReadSaysSoAndNothingBlocks)
{
    click("Button5");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Le monayeur ne répond pas.");
    click("Button2");
    EXPECT_EQ(child<QLabel>(w.get(), "t1")->text(), "-");
}

TEST_F(C220BPowerCutWindow, AWriteThatGivesUpSaysSo)
{
    click("Button5");
    answer_prompt(1);
    click("Button3");
    child<QSpinBox>(w.get(), "l1")->setValue(1);
    click("ok");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("ne répond plus")) << messages[0].toStdString();
    EXPECT_EQ(mech->word_writes(), 1);
}

// "Arrêter" while the mechanism works: the read ends before the next word and
// shows nothing; AJUST OK ends after the word under way, and the image and
// table hold only what the mechanism holds.
TEST_F(C220BWindow, ArreterEndsAtTheNextWord)
{
    int reads0 = 0, writes0 = 0;
    struct Row {
        const char* what;
        std::function<bool()> when;
        std::function<void()> act;
        std::string message;
        int writes; // word writes the mechanism received
    };
    const std::vector<Row> rows = {
        {"lecture, during word 20", [&] { return mech->word_reads() - reads0 == 20; },
         [&] {
             mech->memory()[2 * b::window_address(5, 1)] ^= 0x0F; // a whole read would show it
             mech->fix_checksum();
             click("Button5");
         },
         "Lecture arrêtée au mot 21 : le tableau reste tel qu'il était.", 0},
        {"AJUST OK, during the first word's write", [&] { return mech->word_writes() - writes0 == 1; },
         [&] {
             answer_prompt(16);
             click("Button3");
             child<QSpinBox>(w.get(), "l1")->setValue(33);
             child<QSpinBox>(w.get(), "l3")->setValue(44);
             click("ok");
         },
         "Écriture arrêtée au mot 41 : ce mot et les suivants ne sont pas écrits.", 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        click("Button5");
        const QString shown = text(5, 1);
        messages.clear();
        reads0 = mech->word_reads();
        writes0 = mech->word_writes();
        {
            ArreterWhen arreter(station, w.get(), r.when);
            r.act();
            EXPECT_TRUE(arreter.pressed);
        }
        ASSERT_EQ(messages.size(), 1);
        EXPECT_EQ(messages[0].toStdString(), r.message);
        EXPECT_EQ(mech->word_writes() - writes0, r.writes);
        EXPECT_EQ(text(5, 1), shown);
        if (station.memory_image[0] == 1) {
            EXPECT_EQ(mem(48), 33); // word 24 written and verified; word 40 not
            EXPECT_NE(mem(80), 44);
            for (int m = 0; m < 256; ++m)
                ASSERT_EQ(station.memory_image[m + 1], mem(m)) << "byte " << m;
            expect_table_is_memory();
            EXPECT_TRUE(mech->checksum_holds());
        }
        EXPECT_EQ(bench().mask_depth(), 0);
    }
}

// A picture of the window after a read, into ZUNA_SHOT_DIR: not a test, run
// by scripts/screenshots.sh only.
TEST_F(C220BWindow, DISABLED_Screenshot)
{
    const QString dir = qEnvironmentVariable("ZUNA_SHOT_DIR", ".");
    click("Button5");
    w->adjustSize();
    EXPECT_TRUE(w->grab().save(dir + "/c220b.png"));
}

TEST_F(C220BWindow, ASilentMechanismIsToldWithinThirtySeconds)
{
    auto* cal = shell.dialog<Tcalibrate_c220>();
    auto* valid = shell.dialog<Tvalid_c220>();
    child<QSpinBox>(cal, "nb_piece")->setValue(1);
    const std::vector<PortTimeRow> rows = {
        {"lecture", [&] { click("Button5"); }, true, 0},
        {"Tester (pièce passée à 0,2 s)", [&] {
             if (mech)
                 mech->queue_coin(96, 142, 60);
             click("Button2");
         }, true, c120::kTimeoutTest + 2},
        {"Calib. Piece, 1 pièce", [&] {
             if (mech)
                 mech->queue_coin(96, 142, 60);
             cal->BitBtn1Click();
         }, true, 0},
        {"VALIDATION (3 mots)", [&] { valid->BitBtn1Click(); }, true, 0},
        {"AJUST OK (3 mots)", [&] { w->okClick(); }, true, 0},
        {"SORTIES OK (9 mots)", [&] {
             click("Button4");
             click("cc_ok");
         }, true, 0},
        {"Fermeture", [&] {
             b::send_table(station, b::kClose, b::kWinOpenClose);
             c120::ecrir_bit(station, b::kRest);
         }, false, 0},
    };
    check_port_times(*this, "c220b", rows);

    mech = static_cast<sim::SerialMech*>(setup.plug("c220b"));
    mech->power_cut_at_read(1);
    messages.clear();
    const uint64_t t0 = bench().now();
    click("Button5");
    const uint64_t lost = bench().now() - t0;
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("au mot 1 ")) << messages[0].toStdString();
    EXPECT_LT(lost, uint64_t(30'000'000));
    if (qEnvironmentVariableIsSet("ZUNA_PORT_TIMES"))
        std::printf("| lecture, unplugged at word 1 | %.2f s |\n", lost / 1e6);
}
