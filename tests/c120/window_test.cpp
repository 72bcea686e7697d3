// The C120 windows on the simulated bench, driven as an operator would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "ui/c_canal.h"
#include "ui/settings_panel.h"
#include "ui/shell.h"
#include "app/windows.h"
#include "c120/c120_memory.h"
#include "c120/c_120.h"
#include "c120/calibrate.h"
#include "store/model_library.h"
#include "store/model_ui.h"
#include "store/tables.h"
#include "tests/c120/c120_fixture.h"
#include "tests/common/counting_port.h"
#include "tests/common/modal.h"

using namespace zuna;
using namespace zuna::c120;

namespace {

using zuna::test::on_modal;
using zuna::test::child;

struct C120Window : ChannelWindowRig<Tc_120, Tvalid_c120, Tcalibrate> {
    explicit C120Window(const char* faults = "") : ChannelWindowRig(faults, "c120") {}
    int mem_word_first(int word) { return mech->memory()[2 * (word - 1)]; }
    int mem_word_second(int word) { return mech->memory()[2 * (word - 1) + 1]; }
    void expect_table_is_memory()
    {
        for (int c = 1; c <= 12; ++c) {
            for (int k = 1; k <= 3; ++k) {
                EXPECT_EQ(text(c, 2 * k - 1).toInt(), mem_word_first(window_word(c, k))) << c << " " << k;
                EXPECT_EQ(text(c, 2 * k).toInt(), mem_word_second(window_word(c, k))) << c << " " << k;
            }
            EXPECT_EQ(text(c, 7).toStdString(), output_text(mech->memory()[output_index(c) - 1])) << c;
        }
    }

};

struct SilentWindow : C120Window {
    SilentWindow() : C120Window("silent") {}
};
struct PowerCutWindow : C120Window {
    PowerCutWindow() : C120Window("power-cut=1") {}
};

} // namespace

TEST(C120Windows, CreatedInStartUpOrderAndOpenedFromTheSpeedBar)
{
    test::CountingPort port;
    Station s(port);
    Shell shell(s);
    create_start_windows(shell, nullptr);
    const auto& d = shell.dialogs();
    ASSERT_GE(d.size(), 3u);
    EXPECT_NE(qobject_cast<Tvalid_c120*>(d.front()), nullptr);
    EXPECT_NE(qobject_cast<TC_canal*>(d[1]), nullptr);
    EXPECT_EQ(d.front()->windowTitle(), "VALIDATION");
    EXPECT_EQ(shell.dialog<Tcalibrate>()->windowTitle(), "CALIBRATION");
    EXPECT_TRUE(device_window_available("SpeedItem1"));
    auto w = make_device_window("SpeedItem1", shell, nullptr);
    ASSERT_NE(qobject_cast<Tc_120*>(w.get()), nullptr);
    EXPECT_EQ(w->windowTitle(), "C 120");
    shell.simulated = true;
    EXPECT_EQ(make_device_window("SpeedItem1", shell, nullptr)->windowTitle(), "C 120 - SIMULATION");
    for (QDialog* x : d)
        delete x;
}

TEST_F(C120Window, LectureShowsTheMechanismMemory)
{
    click("Button5");
    expect_table_is_memory();
    EXPECT_TRUE(child<QProgressBar>(w.get(), "progresse")->isHidden());
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_EQ(bench().data(), kRest);
    EXPECT_EQ(bench().mask_depth(), 0);
}

TEST_F(C120Window, AjustWritesTheThreeWindowsAndTheChecksum)
{
    click("Button5");
    on_modal([](QWidget* d) {
        qobject_cast<TC_canal*>(d)->canal()->setValue(3);
        qobject_cast<QDialog*>(d)->reject(); // Abandon: no panel
    });
    click("Button3");
    EXPECT_TRUE(child<QWidget>(w.get(), "ajust")->isHidden());
    on_modal([](QWidget* d) {
        qobject_cast<TC_canal*>(d)->canal()->setValue(3);
        qobject_cast<QDialog*>(d)->accept();
    });
    click("Button3");
    EXPECT_TRUE(child<QWidget>(w.get(), "ajust")->isVisible());
    EXPECT_EQ(child<QSpinBox>(w.get(), "l1")->value(), mem_word_first(window_word(3, 1)));
    const int values[6] = {200, 150, 180, 170, 99, 88};
    for (int i = 0; i < 6; ++i)
        child<QSpinBox>(w.get(), QString("l%1").arg(i + 1).toLatin1())->setValue(values[i]);
    const int writes = mech->word_writes();
    click("ok");
    EXPECT_EQ(mech->word_writes() - writes, 6); // three words, each with its checksum word
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(mem_word_first(window_word(3, k)), values[2 * k - 2]);
        EXPECT_EQ(mem_word_second(window_word(3, k)), values[2 * k - 1]);
    }
    EXPECT_TRUE(mech->checksum_holds());
    EXPECT_EQ(text(3, 1), "200");
    EXPECT_TRUE(child<QWidget>(w.get(), "ajust")->isHidden());
    click("Button5"); // a second read shows the same
    expect_table_is_memory();
    EXPECT_EQ(text(3, 5), "99");
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

TEST_F(C120Window, SaveChangeThreeRestoreThenCloneTwoMore)
{
    save_change_three_restore({"Canal 3/Mesure 2/max", "Canal 3/Mesure 3/min", "Sorties/Canal 5"}, 48);
    expect_table_is_memory();
}

TEST_F(C120Window, SortiesWritesWords83To89WithTheMasks)
{
    click("Button5");
    click("Button4");
    const int outputs[12] = {1, 3, 0, 6, 5, 4, 2, 1, 0, 6, 3, 2};
    for (int c = 1; c <= 12; ++c)
        child<QSpinBox>(w.get(), QString("cc%1").arg(c).toLatin1())->setValue(outputs[c - 1]);
    const int writes = mech->word_writes();
    click("cc_ok");
    EXPECT_EQ(mech->word_writes() - writes, 14);
    for (int c = 1; c <= 12; ++c) {
        EXPECT_EQ(mech->memory()[output_index(c) - 1], output_mask(outputs[c - 1])) << c;
        EXPECT_EQ(text(c, 7).toInt(), outputs[c - 1]) << c;
    }
    EXPECT_EQ(mech->memory()[165], 4);
    EXPECT_EQ(mech->memory()[176], 0);
    EXPECT_EQ(mem_word_first(84), 0); // channel 3 output 0, channel 2 output 3
    EXPECT_EQ(mem_word_second(84), 4);
    EXPECT_TRUE(mech->checksum_holds());
    EXPECT_TRUE(child<QSpinBox>(w.get(), "cc1")->isHidden());
}

TEST_F(C120Window, TeachThreeCoinsThenValidateWritesTheWidenedWindows)
{
    click("Button5");
    auto* cal = shell.dialog<Tcalibrate>();
    cal->show();
    child<QSpinBox>(cal, "nb_piece")->setValue(3);
    mech->queue_coin(120, 60, 200);
    mech->queue_coin(118, 64, 210);
    mech->queue_coin(125, 61, 198);
    cal->BitBtn1Click();
    EXPECT_EQ(child<QLabel>(cal, "m1")->text(), "125");
    EXPECT_EQ(child<QLabel>(cal, "b1")->text(), "118");
    EXPECT_EQ(child<QLabel>(cal, "m3")->text(), "210");
    EXPECT_EQ(child<QLabel>(cal, "b2")->text(), "60");
    EXPECT_TRUE(child<QPushButton>(cal, "ok")->isVisible());
    EXPECT_EQ(station.c120_read_timeout, kTimeoutNormal);
    answer_validation(4, 5);
    cal->okClick();
    EXPECT_EQ(mem_word_first(14), 130);
    EXPECT_EQ(mem_word_second(14), 113);
    EXPECT_EQ(mem_word_first(26), 69);
    EXPECT_EQ(mem_word_second(26), 55);
    EXPECT_EQ(mem_word_first(38), 215);
    EXPECT_EQ(mem_word_second(38), 193);
    EXPECT_TRUE(mech->checksum_holds());
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

// Through the window: the view follows the teach's coins and the window the
// validation proposes; a validation that would overlap channel 1 asks, and
// refused it writes nothing.
TEST_F(C120Window, TeachIsDrawnAndItsValidationAsksBeforeAnOverlap)
{
    click("Button5");
    const auto b1 = channel_bounds(station.memory_image, 1);
    const std::vector<int> mid = {(b1[0] + b1[1]) / 2, (b1[2] + b1[3]) / 2, (b1[4] + b1[5]) / 2};
    write_overlaps = false;
    const int writes = mech->word_writes();
    settings::BandSet during;
    test::with_modal(
        [&](QWidget* d) {
            auto* cal = qobject_cast<Tcalibrate*>(d);
            ASSERT_NE(cal, nullptr);
            child<QSpinBox>(cal, "nb_piece")->setValue(2);
            for (int i = 0; i < 2; ++i)
                mech->queue_coin(uint8_t(mid[0]), uint8_t(mid[1]), uint8_t(mid[2]));
            cal->BitBtn1Click();
            on_modal([&](QWidget* v) {
                child<QSpinBox>(v, "canal")->setValue(12);
                child<QSpinBox>(v, "toler")->setValue(3);
                during = w->bands();
                child<QPushButton>(v, "BitBtn1")->click();
                qobject_cast<QDialog*>(v)->reject();
            });
            cal->okClick();
        },
        [&] { click("Button1"); });
    EXPECT_EQ(during.samples, (std::vector<std::vector<int>>{mid, mid}));
    ASSERT_TRUE(during.proposed);
    EXPECT_EQ(during.proposed_channel, 12);
    EXPECT_EQ((*during.proposed)[0].low, mid[0] - 3);
    EXPECT_EQ((*during.proposed)[2].high, mid[2] + 3);
    EXPECT_EQ(overlap_questions, QStringList{"Les canaux 1 et 12 se recouvrent : une même pièce serait acceptée par "
                                             "les deux. Écrire quand même ?"});
    EXPECT_EQ(mech->word_writes(), writes);
    EXPECT_TRUE(w->bands().samples.empty()); // the teach is over
}

TEST_F(C120Window, TeachWithoutCoinsEndsAndChangesNothing)
{
    auto* cal = shell.dialog<Tcalibrate>();
    cal->show();
    child<QSpinBox>(cal, "nb_piece")->setValue(2);
    mech->set_coins(false);
    const uint64_t t0 = bench().now();
    cal->BitBtn1Click();
    EXPECT_LT(bench().now() - t0, uint64_t(3 * kTimeoutTeach)); // two coins at most the time-out each
    EXPECT_EQ(child<QLabel>(cal, "m1")->text(), "0");
    EXPECT_EQ(child<QLabel>(cal, "b1")->text(), "255");
    EXPECT_TRUE(child<QPushButton>(cal, "ok")->isVisible());
    EXPECT_EQ(station.c120_read_timeout, kTimeoutNormal);
    EXPECT_EQ(bench().data(), kTeachEnd);
}

TEST_F(C120Window, ValidationBoundsAreHeldIn0To255)
{
    click("Button5");
    auto* v = shell.dialog<Tvalid_c120>();
    struct Case { int m, b, t, upper, lower; } cases[] = {
        {253, 2, 5, 255, 0}, {255, 0, 20, 255, 0}, {250, 5, 5, 255, 0}, {100, 90, 0, 100, 90},
    };
    for (const Case& c : cases) {
        v->set_teach({c.m, c.m, c.m}, {c.b, c.b, c.b});
        child<QSpinBox>(v, "canal")->setValue(7);
        child<QSpinBox>(v, "toler")->setValue(c.t);
        v->BitBtn1Click();
        EXPECT_EQ(mem_word_first(window_word(7, 2)), c.upper) << c.m << "+" << c.t;
        EXPECT_EQ(mem_word_second(window_word(7, 2)), c.lower) << c.b << "-" << c.t;
    }
}

TEST_F(C120Window, ModelStoredFromOneChannelLoadsIntoAnother)
{
    click("Button5");
    click("Button6");
    child<QSpinBox>(w.get(), "canal")->setValue(2);
    // Typed names go to capitals the table can hold; a name it cannot hold
    // is refused and the panel stays open.
    auto* piece = child<QLineEdit>(w.get(), "piece");
    piece->clear();
    QTest::keyClicks(piece, "eurµ");
    EXPECT_EQ(piece->text(), "EURµ");
    QStringList refused;
    store::set_model_message_handler([&](QWidget*, const QString& m) { refused << m; });
    piece->setText("EURO日");
    child<QPushButton>(w.get(), "BitBtn1")->click();
    store::set_model_message_handler({});
    EXPECT_EQ(refused.size(), 1);
    EXPECT_TRUE(child<QWidget>(w.get(), "choix_c")->isVisible());
    piece->setText("EURO");
    child<QPushButton>(w.get(), "BitBtn1")->click();
    EXPECT_TRUE(child<QWidget>(w.get(), "choix_c")->isHidden());
    ASSERT_NE(shell.models, nullptr);
    ASSERT_TRUE(shell.models->set_filter("type = 'C120'", nullptr));
    ASSERT_EQ(shell.models->visible_count(), 1);
    const auto rec = *shell.models->current();
    EXPECT_EQ(rec.piece, "EURO");
    EXPECT_EQ(rec.c[0], mem_word_first(window_word(2, 1)));
    EXPECT_EQ(rec.c[5], mem_word_second(window_word(2, 3)));

    on_modal([](QWidget* browser) { // the model browser: OK on the record shown
        EXPECT_EQ(browser->objectName(), "m_c120");
        qobject_cast<QDialog*>(browser)->accept();
    });
    click("Button7");
    ASSERT_TRUE(child<QWidget>(w.get(), "vers_c")->isVisible());
    EXPECT_EQ(child<QLabel>(w.get(), "f_p")->text(), "EURO");
    child<QSpinBox>(w.get(), "canal_v")->setValue(12);
    child<QPushButton>(w.get(), "BitBtn3")->click();
    for (int k = 1; k <= 3; ++k) { // words 22, 34, 46
        EXPECT_EQ(mem_word_first(10 + 12 * k), *rec.c[2 * k - 2]);
        EXPECT_EQ(mem_word_second(10 + 12 * k), *rec.c[2 * k - 1]);
        EXPECT_EQ(text(12, 2 * k - 1), text(2, 2 * k - 1));
    }
    EXPECT_TRUE(mech->checksum_holds());
    // The same windows as channel 2's: asked first, and a refusal writes nothing.
    EXPECT_EQ(overlap_questions, QStringList{"Les canaux 2 et 12 se recouvrent : une même pièce serait acceptée par "
                                             "les deux. Écrire quand même ?"});
    write_overlaps = false;
    const size_t commands = mech->commands().size();
    on_modal([](QWidget* browser) { qobject_cast<QDialog*>(browser)->accept(); });
    click("Button7");
    child<QSpinBox>(w.get(), "canal_v")->setValue(11);
    child<QPushButton>(w.get(), "BitBtn3")->click();
    EXPECT_EQ(overlap_questions.size(), 2);
    EXPECT_EQ(mech->commands().size(), commands);
    EXPECT_EQ(text(11, 1), "0");
}

// A memory whose checksum does not hold is said by a save, which keeps no
// file; the repair writes it until the mechanism holds it, also when the
// mechanism keeps one of the repair's words wrong once (--sim-fault=).
TEST_F(C120Window, ChecksumRepairLeavesAMemoryWhoseChecksumHolds)
{
    const struct { const char* faults; uint32_t seed; int writes; } rows[] = {
        {"", 1, 2},
        {"lost-checksum", 1, 4},
        {"wrong-readback=2", 1, 4}, // byte 255
        {"wrong-readback=1", 8, 4}, // word 113
    };
    SettingsPanel* panel = w->settings_panel();
    const QString path = dir.filePath("somme.zuna.json");
    panel->choose_file = [&](bool) { return path; };
    panel->tell = [this](const QString& m) { messages << m; };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.faults);
        sim::Faults f = parse(row.faults);
        f.seed = row.seed;
        mech = static_cast<sim::SerialMech*>(setup.plug("c120"));
        mech->set_faults(f);
        mech->memory()[254] += 17;
        messages.clear();
        click("Button5");
        click("Sauvegarder");
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].contains("La somme de contrôle du monnayeur est fausse (lue ")) << messages[0].toStdString();
        EXPECT_FALSE(QFile::exists(path));
        messages.clear();
        const int writes = mech->word_writes();
        child<QWidget>(w.get(), "SpeedButton1")->metaObject()->invokeMethod(
            child<QWidget>(w.get(), "SpeedButton1"), "click");
        EXPECT_EQ(mech->word_writes() - writes, row.writes);
        EXPECT_TRUE(mech->checksum_holds());
        EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
        expect_table_is_memory();
        click("Sauvegarder");
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].startsWith("Réglages enregistrés")) << messages[0].toStdString();
        QFile::remove(path);
    }
}

TEST_F(C120Window, TestLightsTheWindowsTheCoinFallsInto)
{
    click("Graphique"); // open from the start: it follows the read and the test
    click("Button5");
    // On the lower bound of channel 1 parameter 1, the upper bound of its
    // parameter 2, inside its parameter 3.
    const auto b = channel_bounds(station.memory_image, 1);
    mech->queue_coin(b[1], b[2], uint8_t((b[4] + b[5]) / 2));
    click("Button2");
    EXPECT_EQ(child<QLabel>(w.get(), "t1")->text().toInt(), b[1]);
    for (int col = 1; col <= 6; ++col)
        EXPECT_TRUE(highlighted(w->cell(1, col))) << col;
    EXPECT_FALSE(highlighted(w->cell(6, 1))); // the token's channel is far away
    EXPECT_EQ(station.c120_read_timeout, kTimeoutAfterTest);
    expect_bands_are_memory([](int c, int k) { return upper_index(c, k) - 1; },
                            std::vector<int>{b[1], b[2], (b[4] + b[5]) / 2});

    // No coin: nothing shown as measured, nothing lit.
    mech->set_coins(false);
    click("Button2");
    EXPECT_EQ(child<QLabel>(w.get(), "t1")->text(), "-");
    EXPECT_FALSE(highlighted(w->cell(1, 1)));
    EXPECT_FALSE(w->bands().coin);
}

TEST_F(C120Window, WritesWaitForAWholeRead)
{
    // The window opens with the image cleared: a checksum computed now would be wrong.
    on_modal([](QWidget* d) { qobject_cast<QDialog*>(d)->accept(); });
    click("Button3");
    const int writes = mech->word_writes();
    click("ok");
    EXPECT_EQ(mech->word_writes(), writes);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("lecture"));
    // A teach is refused before its coins are passed, not at its validation.
    bool shown = false;
    test::with_modal([&](QWidget* d) { shown = true; qobject_cast<QDialog*>(d)->reject(); }, [&] { click("Button1"); });
    EXPECT_FALSE(shown);
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[1].contains("lecture complète")) << messages[1].toStdString();
}

TEST_F(C120Window, ClosingTheWindowClosesTheLink)
{
    click("Button5");
    const size_t before = mech->commands().size();
    w->reject();
    const auto& cmds = mech->commands();
    ASSERT_EQ(cmds.size(), before + 2);
    EXPECT_EQ(cmds[before], (std::vector<uint8_t>{0x05, 0x79, 0x79, 0xFF}));
    EXPECT_EQ(cmds[before + 1], (std::vector<uint8_t>{0x05, 0x7B, 0x7F, 0xFA}));
    EXPECT_EQ(bench().data(), kRest);
}

TEST_F(C120Window, UnknownOutputByteIsShownAsSuch)
{
    mech->memory()[167] = 24; // channel 2
    mech->fix_checksum();
    click("Button5");
    EXPECT_EQ(text(2, 7), "?24");
}

TEST_F(C120Window, DelayCountZeroIsRefused)
{
    station.delay.c120 = 0;
    const uint64_t writes = bench().writes();
    click("Button5");
    click("Button2");
    EXPECT_EQ(bench().writes(), writes);
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].contains("délai C120"));
}

TEST_F(SilentWindow, LectureSaysSoAndLeavesTheTable)
{
    w->cell(5, 5)->setText("42");
    click("Button5");
    EXPECT_EQ(text(5, 5), "42");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Le monayeur ne répond pas.");
    click("Button2");
    EXPECT_EQ(child<QLabel>(w.get(), "t1")->text(), "-");
}

TEST_F(PowerCutWindow, AWriteThatCannotBeVerifiedIsReported)
{
    click("Button5");
    on_modal([](QWidget* d) { qobject_cast<QDialog*>(d)->accept(); });
    click("Button3");
    child<QSpinBox>(w.get(), "l1")->setValue(1);
    click("ok");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("ne répond plus")) << messages[0].toStdString();
    EXPECT_EQ(mech->word_writes(), 1); // gave up after the first word
    EXPECT_EQ(text(1, 1), "?");
    EXPECT_EQ(station.memory_image[0], 0);
    // No model from a table that is not the mechanism's.
    messages.clear();
    click("Button6");
    child<QLineEdit>(w.get(), "piece")->setText("EURO");
    click("BitBtn1");
    ASSERT_TRUE(shell.models->set_filter("type = 'C120'", nullptr));
    EXPECT_EQ(shell.models->visible_count(), 0);
    EXPECT_EQ(messages, QStringList{"Le tableau ne montre pas ce que le monnayeur contient : relisez le monnayeur, "
                                    "aucun modèle n'a été enregistré."});
}

// "Arrêter" pressed while the mechanism works: the operation ends at the next
// word or coin, says where, and the image (so the table) claims no word that
// the mechanism does not hold.
TEST_F(C120Window, ArreterEndsAtTheNextSafePointAndClaimsNothingUnwritten)
{
    auto* cal = shell.dialog<Tcalibrate>();
    struct Row {
        const char* what;
        QWidget* window;
        std::function<bool()> when; // press "Arrêter" then
        std::function<void()> act;
        QString message;
        std::function<void()> check;
    };
    const int word3 = window_word(3, 3);
    int reads0 = 0, writes0 = 0, coins0 = 0; // counts before the row's operation
    const std::vector<Row> rows = {
        {"Lecture, during word 37", w.get(), [&] { return mech->word_reads() - reads0 == 37; },
         [&] {
             mech->memory()[2 * (window_word(1, 1) - 1)] ^= 0x0F; // a whole read would show it
             mech->fix_checksum();
             click("Button5");
         },
         "Lecture arrêtée au mot 38 : le tableau reste tel qu'il était.",
         [&] {
             EXPECT_EQ(station.memory_image[0], 0); // nothing is written from a part of the memory
             EXPECT_EQ(text(1, 1).toInt(), mem_word_first(window_word(1, 1)) ^ 0x0F); // the table as it was
         }},
        {"AJUST OK, during the second word's write", w.get(), [&] { return mech->word_writes() - writes0 == 3; },
         [&] {
             on_modal([](QWidget* d) {
                 qobject_cast<TC_canal*>(d)->canal()->setValue(3);
                 qobject_cast<QDialog*>(d)->accept();
             });
             click("Button3");
             for (int i = 0; i < 6; ++i)
                 child<QSpinBox>(w.get(), QString("l%1").arg(i + 1).toLatin1())->setValue(100 + i);
             click("ok");
         },
         QString("Écriture arrêtée au mot %1 : ce mot et les suivants ne sont pas écrits.").arg(word3),
         [&] {
             EXPECT_EQ(mech->word_writes() - writes0, 4); // the second word was verified before the stop
             EXPECT_EQ(mem_word_first(window_word(3, 2)), 102);
             EXPECT_NE(mem_word_first(word3), 104);
         }},
        {"SORTIES OK, during word 85", w.get(), [&] { return mech->word_writes() - writes0 == 5; },
         [&] {
             click("Button4");
             for (int c = 1; c <= 12; ++c)
                 child<QSpinBox>(w.get(), QString("cc%1").arg(c).toLatin1())->setValue(6);
             click("cc_ok");
         },
         "Écriture arrêtée au mot 86 : ce mot et les suivants ne sont pas écrits.",
         [&] { EXPECT_EQ(mech->word_writes() - writes0, 6); }},
        {"Calib. Piece, during coin 1 of 3", cal, [&] { return mech->coins_dropped() - coins0 == 1; },
         [&] {
             cal->show();
             child<QSpinBox>(cal, "nb_piece")->setValue(3);
             mech->queue_coin(120, 60, 200);
             mech->queue_coin(10, 10, 10);
             cal->BitBtn1Click();
         },
         "Calibration arrêtée après 1 pièce(s) sur 3.",
         [&] {
             EXPECT_EQ(child<QLabel>(cal, "m1")->text(), "120");
             EXPECT_EQ(child<QLabel>(cal, "b1")->text(), "120");
             EXPECT_EQ(mech->coins_dropped() - coins0, 1);
             EXPECT_EQ(station.c120_read_timeout, kTimeoutNormal);
             cal->hide();
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        mech->memory() = sim::C120Mech::factory_memory();
        click("Button5");
        ASSERT_EQ(station.memory_image[0], 1);
        messages.clear();
        reads0 = mech->word_reads();
        writes0 = mech->word_writes();
        coins0 = mech->coins_dropped();
        {
            ArreterWhen arreter(station, r.window, r.when);
            r.act();
            EXPECT_TRUE(arreter.pressed);
        }
        ASSERT_EQ(messages.size(), 1);
        EXPECT_EQ(messages[0].toStdString(), r.message.toStdString());
        r.check();
        if (station.memory_image[0] == 1) { // what the image (and the table) says is what the mechanism holds
            for (int m = 0; m < 256; ++m)
                ASSERT_EQ(station.memory_image[m + 1], mech->memory()[m]) << "byte " << m;
            expect_table_is_memory();
            EXPECT_TRUE(mech->checksum_holds());
        }
        EXPECT_EQ(bench().mask_depth(), 0);
        EXPECT_TRUE(child<QPushButton>(r.window, "Arreter")->isHidden());
    }
}

// Pictures of the three windows for a look, into ZUNA_SHOT_DIR: not a test,
// run by scripts/screenshots.sh only.
TEST_F(C120Window, DISABLED_Screenshots)
{
    const QString dir = qEnvironmentVariable("ZUNA_SHOT_DIR", ".");
    for (int k = 0; k < 3; ++k) { // channel 7 overlaps channel 1
        mech->memory()[20 + 12 + 24 * k] = uint8_t(mech->memory()[20 + 24 * k] + 4);
        mech->memory()[21 + 12 + 24 * k] = uint8_t(mech->memory()[21 + 24 * k] + 4);
    }
    mech->fix_checksum();
    click("Button5");
    mech->queue_coin(96, 142, 60);
    click("Button2");
    w->adjustSize();
    EXPECT_TRUE(w->grab().save(dir + "/c120.png"));
    click("Graphique");
    w->view_buttons()->view()->resize(900, 520);
    EXPECT_TRUE(w->view_buttons()->view()->grab().save(dir + "/c120_bandes.png"));
    w->view_buttons()->choose_sheet_file = [&] { return dir + "/c120_fiche.pdf"; };
    w->view_buttons()->tell = [](const QString&) {};
    click("Fiche");
    // The comparison before a restore, two settings changed since the save.
    SettingsPanel* panel = w->settings_panel();
    panel->choose_file = [&](bool) { return dir + "/c120.zuna.json"; };
    panel->tell = [](const QString&) {};
    click("Sauvegarder");
    mech->memory()[22] += 3;
    mech->memory()[169] = 32;
    mech->fix_checksum();
    panel->confirm = [&](const settings::Comparison& c) {
        on_modal([&](QWidget* d) {
            d->resize(560, 640);
            EXPECT_TRUE(d->grab().save(dir + "/c120_comparaison.png"));
            qobject_cast<QDialog*>(d)->reject();
        });
        return show_comparison(w.get(), "Comparaison - C120", c);
    };
    click("Restaurer");
    auto* cal = shell.dialog<Tcalibrate>();
    cal->show();
    child<QSpinBox>(cal, "nb_piece")->setValue(3);
    cal->BitBtn1Click();
    EXPECT_TRUE(cal->grab().save(dir + "/calibrate.png"));
    auto* v = shell.dialog<Tvalid_c120>();
    v->show();
    EXPECT_TRUE(v->grab().save(dir + "/valid_c120.png"));
}

TEST_F(C120Window, ASilentMechanismIsToldWithinThirtySeconds)
{
    auto* cal = shell.dialog<Tcalibrate>();
    auto* valid = shell.dialog<Tvalid_c120>();
    child<QSpinBox>(cal, "nb_piece")->setValue(1);
    const std::vector<PortTimeRow> rows = {
        {"Lecture", [&] { click("Button5"); }, true, 0},
        {"Tester (pièce passée à 0,2 s)", [&] {
             if (mech)
                 mech->queue_coin(96, 142, 60);
             click("Button2");
         }, true, kTimeoutTest + 2},
        {"Calib. Piece, 1 pièce", [&] {
             if (mech)
                 mech->queue_coin(96, 142, 60);
             cal->BitBtn1Click();
         }, true, 0},
        {"VALIDATION (3 mots)", [&] { valid->BitBtn1Click(); }, true, 0},
        {"AJUST OK (3 mots)", [&] { w->okClick(); }, true, 0},
        {"SORTIES OK (7 mots)", [&] {
             click("Button4");
             click("cc_ok");
         }, true, 0},
        {"Somme de contrôle", [&] { w->SpeedButton1Click(); }, true, 0},
        {"Fermeture", [&] { close_link(station); }, false, 0},
    };
    check_port_times(*this, "c120", rows);

    // Unplugged once the read has begun: a word's 30 tries, then the close.
    mech = static_cast<sim::SerialMech*>(setup.plug("c120"));
    mech->power_cut_at_read(1);
    messages.clear();
    const uint64_t t0 = bench().now();
    click("Button5");
    const uint64_t lost = bench().now() - t0;
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("au mot 1 ")) << messages[0].toStdString();
    EXPECT_LT(lost, uint64_t(30'000'000));
    if (qEnvironmentVariableIsSet("ZUNA_PORT_TIMES"))
        std::printf("| Lecture, unplugged at word 1 | %.2f s |\n", lost / 1e6);
}
