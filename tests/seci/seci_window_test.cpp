// TRM3, Trm4 and their calibration windows on the simulated RM3 and RM4,
// with the tables and the shared dialogs of start-up; messages are collected
// instead of shown. One rig for both families.
#include <gtest/gtest.h>

#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <functional>
#include <memory>

#include "app/windows.h"
#include "link/module.h"
#include "seci/seci_calibre.h"
#include "seci/seci_window.h"
#include "settings/bands.h"
#include "sim/catalogue.h"
#include "sim/seci_mech.h"
#include "store/model_library.h"
#include "store/model_ui.h"
#include "store/tables.h"
#include "tests/common/modal.h"
#include "ui/settings_panel.h"
#include "ui/shell.h"

using namespace zuna;
using sim::Rm3Mech;
using sim::Rm4Mech;
using test::child;
using test::with_modal;

namespace {

const std::vector<uint8_t> kChannel2 = Rm3Mech::record_bytes({1200, 1100, 2400, 2300, 3600, 3500}, 5, 3);

// The RM4 example channel: HFU, LF, HFL and "+" windows, flags 2, output 4.
const std::array<int, 8> kRm4Values = {200, 180, 90, 80, 150, 140, 30000, 29000};
const std::vector<uint8_t> kRm4Channel11 = Rm4Mech::record_bytes(kRm4Values, 2, 4);

struct SeciRig : ::testing::Test {
    explicit SeciRig(bool rm4) : rm4(rm4), setup(1.0, {}, ""), station(setup.bench()), shell(station)
    {
        plug();
        station.measured_module_count = measure_module(*station.port);
        load_delay_counts(station);
        tables = store::open_tables(shell, dir.path(), nullptr);
        create_start_windows(shell, nullptr);
        store::set_model_message_handler([this](QWidget*, const QString& m) { messages << m; });
        if (rm4)
            mech->record(11) = kRm4Channel11;
        else
            mech->record(2) = kChannel2;
        if (rm4)
            w = std::make_unique<Trm4>(shell);
        else
            w = std::make_unique<TRM3>(shell);
        w->show_message = [this](const QString& m) { messages << m; };
        w->ask_overlap = [this](const QString& q) {
            questions << q;
            return answer_overlap;
        };
        w->show();
    }
    void port_times();
    void screenshots();
    void silent_read();
    void save_change_restore();
    void faults_on_a_write();
    sim::SeciMech* plug() { return mech = static_cast<sim::SeciMech*>(setup.plug(rm4 ? "rm4" : "rm3")); }
    SeciCalibre* calibration() const
    {
        return rm4 ? static_cast<SeciCalibre*>(shell.dialog<Tcalibre_rm4>()) : shell.dialog<Tcalibre_rm3>();
    }
    ~SeciRig() override
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
        for (int k = 1; k <= w->family().values; ++k)
            t << w->cell(n, k)->text();
        return t.join(" ") + " | " + w->output_label(n)->text();
    }
    // "AJUST" on channel n, answering the channel prompt with OK or "Abandon".
    void adjust(int n, bool ok = true)
    {
        with_modal(
            [n, ok](QWidget* d) {
                d->findChild<QSpinBox*>()->setValue(n);
                d->findChild<QPushButton*>(ok ? "BitBtn1" : "BitBtn2")->click();
            },
            [this] { click("Button6"); });
    }
    // Whether any label of any channel is lit.
    bool any_lit()
    {
        for (int n = 1; n <= w->family().channels; ++n)
            for (int k = 1; k <= w->family().values; ++k)
                if (w->lit(n, k))
                    return true;
        return false;
    }
    QSpinBox* spin(const char* name) { return child<QSpinBox>(w.get(), name); }
    // The same as the "Graphique" view draws it: its chart's series read back
    // (the RM4's byte and 16-bit readings share one axis in percent).
    std::string drawn(int n)
    {
        if (!w->views()->view())
            w->views()->show_view();
        const settings::BandSet b = w->bands();
        std::map<int, std::string> by_measurement;
        for (QAbstractSeries* s : w->views()->view()->chart()->series())
            if (auto* a = qobject_cast<QAreaSeries*>(s); a && a->property("channel").toInt() == n) {
                const int m = a->property("measurement").toInt();
                auto value = [&](double y) {
                    return std::to_string(rm4 ? std::lround(y * b.scale.at(size_t(m)) / 100.0) : std::lround(y));
                };
                by_measurement[m] = value(a->lowerSeries()->at(0).y()) + ".." + value(a->upperSeries()->at(0).y());
            }
        if (by_measurement.empty())
            return "off";
        std::string t;
        for (size_t m = 0; m < w->bands().measurements.size(); ++m)
            t += (t.empty() ? "" : " ") + (by_measurement.count(int(m)) ? by_measurement[int(m)] : "-");
        return t;
    }
    // Channel n's windows in the view's data, one per coin reading ("-":
    // not bounded), or "off".
    std::string bands(int n)
    {
        const settings::BandSet b = w->bands();
        const settings::ChannelBands& c = b.channels.at(size_t(n - 1));
        if (!c.enabled)
            return "off";
        std::string t;
        for (const auto& m : c.windows)
            t += (t.empty() ? "" : " ") + (m ? std::to_string(m->low) + ".." + std::to_string(m->high) : "-");
        return t;
    }
    bool red(int n, int k) { return w->cell(n, k)->palette().color(QPalette::WindowText) == QColor(Qt::red); }

    bool rm4;
    QTemporaryDir dir;
    sim::SimSetup setup;
    Station station;
    Shell shell;
    sim::SeciMech* mech = nullptr;
    std::unique_ptr<store::Tables> tables;
    std::unique_ptr<SeciWindow> w;
    QStringList messages;
    QStringList questions; // overlap questions asked before a write
    bool answer_overlap = true;
};

struct Rm3Rig : SeciRig {
    Rm3Rig() : SeciRig(false) {}
};
struct Rm4Rig : SeciRig {
    Rm4Rig() : SeciRig(true) {}
};

TEST_F(Rm3Rig, ReadShowsTheChannelsAndTheTestLightsTheirPairs)
{
    click("Button1");
    EXPECT_EQ(row(2), "1200 2400 3600 1100 2300 3500 | 3");
    EXPECT_TRUE(red(2, 2) && red(2, 5)) << "LF applies to the high reading";
    EXPECT_FALSE(red(2, 1) || red(2, 3));
    EXPECT_EQ(row(6), "      | ") << "an emptied channel";
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    // The view: flags 5, HFU and HFL on their low reading, LF on its high one.
    EXPECT_EQ(bands(2), "1100..1200 - - 2300..2400 3500..3600 -");
    EXPECT_EQ(bands(6), "off");
    EXPECT_EQ(w->sheet().rows.at(1).join(" "), "2 1200 2400 3600 1100 2300 3500 3");

    struct Coin {
        std::array<int, 8> readings;
        bool lit[3];
    };
    for (const Coin& c : {Coin{{1150, 900, 100, 2350, 3550, 0}, {true, true, true}},
                          Coin{{1201, 900, 100, 2400, 3500, 0}, {false, true, true}}}) {
        mech->queue_coin(c.readings);
        click("Button4");
        EXPECT_EQ(w->reading(1)->text(), QString::number(c.readings[0]));
        EXPECT_EQ(w->bands().coin, std::vector<int>(c.readings.begin(), c.readings.begin() + 6));
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
    EXPECT_FALSE(w->bands().coin) << "no coin, no marker";
    EXPECT_EQ(drawn(2), "1100..1200 - - 2300..2400 3500..3600 -") << "the chart as the memory";
    EXPECT_EQ(drawn(6), "off");
}

void SeciRig::silent_read()
{
    setup.plug("none");
    click("Button1");
    const QString unread = QStringList(w->family().values, "0000").join(" ") + " | ";
    for (int n = 1; n <= w->family().channels; ++n)
        EXPECT_EQ(row(n), unread) << n;
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

// "Sauvegarder…", three settings changed from the window, "Restaurer…": the
// comparison lists those three, only their channels are written, and the
// mechanism then holds the file again, as the window shows after its read.
void SeciRig::save_change_restore()
{
    SettingsPanel* panel = w->settings_panel();
    const QString path = dir.filePath("seci.zuna.json");
    int chosen = 0;
    panel->choose_file = [&](bool) {
        ++chosen;
        return path;
    };
    std::vector<std::string> compared;
    panel->confirm = [&](const settings::Comparison& c) {
        compared = c.to_write();
        return true;
    };
    panel->tell = [this](const QString& m) { messages << m; };
    panel->overlap_ask = [this](const QString& q) {
        questions << q;
        return true;
    };
    const int channels = w->family().channels;
    std::vector<std::vector<uint8_t>> saved;
    for (int n = 1; n <= channels; ++n)
        saved.push_back(mech->record(n));
    click("Sauvegarder");
    ASSERT_TRUE(QFile::exists(path)) << messages.join("|").toStdString();

    const int n = rm4 ? 11 : 2;
    click("Button1");
    adjust(n);
    spin("aj1")->setValue(spin("aj1")->value() + 1);
    QSpinBox* second = spin(rm4 ? "aj4" : "aj2");
    second->setValue(second->value() + 50);
    click("ok");
    click("Button8");
    spin("cs1")->setValue(0);
    click("oks");
    const int writes = mech->record_writes();
    messages.clear();

    click("Restaurer");
    const std::string ch = "Canal " + std::to_string(n);
    EXPECT_EQ(compared, (std::vector<std::string>{"Canal 1/Sortie", ch + "/HFU/max", ch + (rm4 ? "/+/max" : "/LF/max")}));
    EXPECT_EQ(mech->record_writes(), writes + 2) << "channels 1 and " << n << " only";
    for (int c = 1; c <= channels; ++c)
        EXPECT_EQ(mech->record(c), saved[size_t(c - 1)]) << c;
    EXPECT_EQ(messages, QStringList{"3 réglages écrits, tous vérifiés"});
    EXPECT_EQ(w->output_label(1)->text(), "1") << "the window read the mechanism again";

    // No delay count (a dead module time base): nothing is chosen, read,
    // tested or written; every action says why before the line is touched.
    station.delay.*(w->family().count) = 0;
    messages.clear();
    click("Sauvegarder");
    EXPECT_EQ(chosen, 2);
    EXPECT_EQ(messages.size(), 1);
    const QString why = QString("Le compte de délai %1 vaut 0 : il faut le calibrer (ZUNA07) avant de dialoguer avec "
                                "le monayeur.")
                            .arg(w->family().name);
    const std::vector<std::pair<const char*, std::function<void()>>> actions = {
        {"LECTURE", [&] { click("Button1"); }},
        {"Test", [&] { click("Button4"); }},
        {"AJUST, OK", [&] { adjust(n); click("ok"); }},
        {"Vider, OK", [&] { click("Button7"); click("BitBtn5"); }},
    };
    for (const auto& [what, act] : actions) {
        const size_t received = mech->received().size();
        messages.clear();
        act();
        EXPECT_EQ(messages, QStringList{why}) << what;
        EXPECT_EQ(mech->received().size(), received) << what << ": nothing on the line";
    }
}

// AJUST on a mechanism that answers wrong: the grid shows what the mechanism
// holds (read twice when it differs), "????" when nothing can be believed,
// and the operator is told; a mechanism of the other family is not written.
void SeciRig::faults_on_a_write()
{
    const int n = rm4 ? 11 : 2;
    const QString written = rm4 ? "202 90 150 30000 180 80 140 29000 | 4" : "1202 2400 3600 1100 2300 3500 | 3";
    struct Row {
        const char* what;
        std::string faults; // from the next record write on
        std::deque<uint8_t> garble;
        QString shown;
        const char* says; // "" : no message
    };
    const int next = mech->record_writes() + 1;
    const std::vector<Row> rows = {
        {"kept with one bit changed", "wrong-readback=" + std::to_string(next), {},
         rm4 ? "202 90 150 30000 181 80 140 29000 | 4" : "1203 2400 3600 1100 2300 3500 | 3", "relit"},
        {"acknowledged, not kept", "lost-write=" + std::to_string(next + 1), {},
         rm4 ? "200 90 150 30000 180 80 140 29000 | 4" : "1200 2400 3600 1100 2300 3500 | 3", "relit"},
        {"one garbled read-back", "", {0x01}, written, ""},
        {"two read-backs disagree", "", {0x01, 0x02}, QStringList(w->family().values, "????").join(" ") + " | ",
         "deux relectures ne concordent pas"},
    };
    for (const Row& r : rows) {
        mech->record(n) = rm4 ? kRm4Channel11 : kChannel2;
        mech->set_faults(parse(r.faults.c_str()));
        click("Button1");
        messages.clear();
        adjust(n);
        spin("aj1")->setValue(spin("aj1")->value() + 2);
        mech->garble_reads(n, r.garble);
        click("ok");
        EXPECT_EQ(row(n), r.shown) << r.what;
        if (*r.says) {
            ASSERT_EQ(messages.size(), 1) << r.what;
            EXPECT_TRUE(messages[0].contains("non confirmée") && messages[0].contains(r.says))
                << r.what << ": " << messages[0].toStdString();
        } else {
            EXPECT_TRUE(messages.isEmpty()) << r.what << ": " << messages.join("|").toStdString();
        }
    }

    // The other family's mechanism: the read says so, "Vider" writes nothing.
    mech->set_faults(parse("other-family"));
    mech->start();
    messages.clear();
    click("Button1");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QString("pas comme un SECI %1").arg(w->family().name)))
        << messages[0].toStdString();
    const int writes = mech->record_writes();
    messages.clear();
    spin("can_v")->setValue(1);
    click("Button7");
    click("BitBtn5");
    EXPECT_EQ(mech->record_writes(), writes);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("Rien n'a été écrit.")) << messages[0].toStdString();
}

TEST_F(Rm3Rig, FaultsOnAWriteAreShownAsTheMechanismHoldsThem) { faults_on_a_write(); }
TEST_F(Rm4Rig, FaultsOnAWriteAreShownAsTheMechanismHoldsThem) { faults_on_a_write(); }

TEST_F(Rm3Rig, SaveChangeFromTheWindowAndRestore) { save_change_restore(); }
TEST_F(Rm4Rig, SaveChangeFromTheWindowAndRestore) { save_change_restore(); }

TEST_F(Rm3Rig, ASilentMechanismLeavesTheChannelsUnread) { silent_read(); }
TEST_F(Rm4Rig, ASilentMechanismLeavesTheChannelsUnread) { silent_read(); }

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
    // A name the table cannot hold is refused and the panel stays open.
    child<QLineEdit>(w.get(), "piece")->setText("EURO日");
    click("BitBtn1");
    EXPECT_EQ(messages.size(), 1);
    EXPECT_TRUE(child<QWidget>(w.get(), "choix_c")->isVisible());
    messages.clear();
    child<QLineEdit>(w.get(), "piece")->setText("EURO");
    click("BitBtn1");
    EXPECT_FALSE(child<QWidget>(w.get(), "choix_c")->isVisible());
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
    // An RM4 model is not offered here.
    store::ModelRecord other;
    other.type = "rm4";
    other.piece = "AUTRE";
    std::string error;
    ASSERT_TRUE(shell.models->append(other, &error)) << error;
    with_modal(
        [this](QWidget* b) {
            EXPECT_EQ(shell.models->visible_count(), 1);
            b->findChild<QPushButton*>("BitBtn1")->click();
        },
        [this] { click("Button3"); });
    spin("canal_v")->setValue(5);
    // Channel 2's windows into channel 5 overlap channels 1 and 2: refused, nothing on the line.
    answer_overlap = false;
    const size_t received = mech->received().size();
    click("BitBtn3");
    EXPECT_EQ(questions, QStringList{"Le canal 5 recouvrirait les canaux 1 et 2 : une même pièce serait acceptée par "
                                     "plusieurs canaux. Écrire quand même ?"});
    EXPECT_EQ(mech->received().size(), received);
    answer_overlap = true;
    click("BitBtn3");
    EXPECT_EQ(questions.size(), 2);
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
    // The view follows the teach: three samples, the window the programming would write.
    child<QSpinBox>(cal, "can")->setValue(3);
    const settings::BandSet taught = w->bands();
    EXPECT_EQ(taught.samples.size(), 3u);
    ASSERT_TRUE(taught.proposed);
    EXPECT_EQ(taught.proposed_channel, 3);
    EXPECT_EQ(taught.proposed->at(1).low, 5480) << "HFU on its high reading, as chosen";
    EXPECT_EQ(taught.proposed->at(1).high, 5490);
    EXPECT_GT(taught.proposed->at(0).low, taught.proposed->at(0).high) << "the low reading is not bounded";
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

// ---- Trm4 ------------------------------------------------------------------

TEST_F(Rm4Rig, ReadShowsTwelveChannelsAndTheTestLightsThePlusPair)
{
    click("Button1");
    EXPECT_EQ(w->windowTitle(), "SECI RM4");
    EXPECT_EQ(row(11), "200 90 150 30000 180 80 140 29000 | 4");
    EXPECT_TRUE(red(11, 1) && red(11, 5) && red(11, 3) && red(11, 7)) << "HFU and HFL on their high reading";
    EXPECT_FALSE(red(11, 2) || red(11, 6) || red(11, 4) || red(11, 8));
    EXPECT_EQ(row(12), "        | ") << "an emptied channel";
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_EQ(bands(11), "- 180..200 80..90 - - 140..150 29000..30000");
    EXPECT_EQ(bands(12), "off");

    struct Coin {
        std::array<int, 8> readings;
        bool lit[4]; // HFU, LF, HFL, "+"
    };
    for (const Coin& c : {Coin{{10, 190, 85, 10, 10, 145, 29500}, {true, true, true, true}},
                          Coin{{190, 10, 10, 85, 145, 10, 29500}, {false, false, false, true}},
                          Coin{{10, 190, 85, 10, 10, 145, 30001}, {true, true, true, false}}}) {
        mech->queue_coin(c.readings);
        click("Button4");
        EXPECT_EQ(w->reading(7)->text(), QString::number(c.readings[6]));
        EXPECT_EQ(w->bands().coin, std::vector<int>(c.readings.begin(), c.readings.begin() + 7));
        for (int k = 1; k <= 4; ++k) {
            EXPECT_EQ(w->lit(11, k), c.lit[k - 1]) << c.readings[0] << " pair " << k;
            EXPECT_EQ(w->lit(11, k + 4), c.lit[k - 1]);
        }
        for (int k = 1; k <= 8; ++k)
            EXPECT_FALSE(w->lit(12, k)) << "the empty channel is left out";
    }
    // The next read clears every light, rows 7 to 12 and the "+" pair included.
    click("Button1");
    EXPECT_FALSE(any_lit());
    EXPECT_EQ(drawn(11), "- 180..200 80..90 - - 140..150 29000..30000") << "the chart as the memory";
}

TEST_F(Rm4Rig, WritesShowWhatTheMechanismHolds)
{
    click("Button1");
    // "Abandon" in the channel prompt: no panel, nothing written.
    adjust(11, false);
    EXPECT_FALSE(child<QWidget>(w.get(), "ajustement")->isVisible());
    EXPECT_EQ(mech->record_writes(), 0);

    adjust(11);
    EXPECT_EQ(spin("aj4")->value(), 30000);
    EXPECT_EQ(spin("aj8")->value(), 29000);
    EXPECT_EQ(spin("aj5")->value(), 180);
    spin("aj4")->setValue(30100);
    click("ok");
    EXPECT_EQ(mech->record(11), Rm4Mech::record_bytes({200, 180, 90, 80, 150, 140, 30100, 29000}, 2, 4));
    EXPECT_EQ(row(11), "200 90 150 30100 180 80 140 29000 | 4");

    // A "+" bound above the spins' 65500 is brought to it, and the operator told.
    mech->record(10) = Rm4Mech::record_bytes({1, 2, 3, 4, 5, 6, 65535, 100}, 0, 2);
    click("Button1");
    adjust(10);
    EXPECT_EQ(spin("aj4")->value(), 65500);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("65535 → 65500")) << messages[0].toStdString();
    click("ab");
    messages.clear();

    // Vider 9.
    spin("can_v")->setValue(9);
    click("Button7");
    click("BitBtn5");
    EXPECT_EQ(mech->record(9), Rm4Mech::record_bytes({255, 255, 255, 255, 255, 255, 65535, 65535}, 8, 15));
    EXPECT_EQ(row(9), "        | ");

    // Outputs: channel 1 to "0", sent as 0x28.
    const int writes = mech->record_writes();
    click("Button8");
    spin("cs1")->setValue(0);
    click("oks");
    EXPECT_EQ(mech->record(1).back(), 0x28);
    EXPECT_EQ(mech->record_writes(), writes + 1);
    EXPECT_EQ(w->output_label(1)->text(), "0");
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

TEST_F(Rm4Rig, ModelsStoreAndProgramAChannel)
{
    click("Button1");
    EXPECT_EQ(spin("canal")->maximum(), 6) << "only channels 1 to 6 are stored";
    spin("canal")->setValue(1);
    click("Button2");
    click("BitBtn1");
    ASSERT_EQ(shell.models->visible_count(), 1);
    const auto m = shell.models->current();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->type, "rm4");
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(m->c[size_t(k)], kRm4Values[size_t(k)]) << k;
    EXPECT_EQ(m->t[0], 2);

    // A "+" bound above the model column's range: the table's message, nothing stored.
    mech->record(2) = Rm4Mech::record_bytes({1, 2, 3, 4, 5, 6, 40000, 100}, 0, 2);
    click("Button1");
    spin("canal")->setValue(2);
    click("Button2");
    click("BitBtn1");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("n'est pas une valeur correcte pour le champ 'C7'")) << messages[0].toStdString();
    EXPECT_EQ(shell.models->visible_count(), 1);

    // "Voir modèle" offers the rm4 models only; channel 9 shows what was written.
    store::ModelRecord other;
    other.type = "RM3";
    other.piece = "AUTRE";
    std::string error;
    ASSERT_TRUE(shell.models->append(other, &error)) << error;
    with_modal(
        [this](QWidget* b) {
            EXPECT_EQ(b->objectName(), "fichier");
            EXPECT_EQ(shell.models->visible_count(), 1);
            b->findChild<QPushButton*>("BitBtn1")->click();
        },
        [this] { click("Button3"); });
    spin("canal_v")->setValue(9);
    click("BitBtn3");
    EXPECT_EQ(mech->record(9), Rm4Mech::record_bytes(kRm4Values, 2, 0));
    EXPECT_EQ(row(9), "200 90 150 30000 180 80 140 29000 | 0");
    EXPECT_TRUE(red(9, 1) && !red(9, 2)) << "fonts follow the flags written";

    // Models the RM4 cannot take are refused before anything is sent.
    struct Row {
        const char* what;
        int index;
        std::optional<int> value;
    };
    for (const Row& r : {Row{"C1 above 255", 0, 256}, Row{"C6 negative", 5, -1}, Row{"C8 blank", 7, std::nullopt}}) {
        store::ModelRecord bad;
        bad.type = "rm4";
        bad.piece = "MAUVAIS";
        for (int k = 0; k < 8; ++k)
            bad.c[size_t(k)] = kRm4Values[size_t(k)];
        bad.c[size_t(r.index)] = r.value;
        bad.t[0] = 2;
        ASSERT_TRUE(shell.models->first());
        ASSERT_TRUE(shell.models->delete_current(&error)) << error;
        ASSERT_TRUE(shell.models->append(bad, &error)) << error;
        const int writes = mech->record_writes();
        messages.clear();
        with_modal([](QWidget* b) { b->findChild<QPushButton*>("BitBtn1")->click(); }, [this] { click("Button3"); });
        click("BitBtn3");
        EXPECT_EQ(mech->record_writes(), writes) << r.what;
        EXPECT_EQ(messages.size(), 1) << r.what;
    }
}

TEST_F(Rm4Rig, CalibrationProgramsAChannelAndTheWindowReadsItBack)
{
    auto* cal = shell.dialog<Tcalibre_rm4>();
    ASSERT_NE(cal, nullptr);
    EXPECT_EQ(child<QPushButton>(cal, "ab")->text(), "ab");
    click("Button1");
    const std::vector<uint8_t> changed = Rm4Mech::record_bytes({9, 8, 7, 6, 5, 4, 3, 2}, 1, 3);
    with_modal(
        [&](QWidget*) {
            child<QSpinBox>(cal, "nb_piece")->setValue(3);
            mech->queue_coin({250, 240, 100, 90, 150, 140, 65400});
            mech->queue_coin({252, 245, 102, 95, 155, 141, 65500});
            mech->queue_coin({251, 242, 101, 92, 152, 139, 65450});
            cal->BitBtn1Click();
            EXPECT_EQ(cal->maximum(7)->text(), "65500");
            EXPECT_EQ(cal->minimum(7)->text(), "65400");
            EXPECT_EQ(cal->flags(), 8);
            child<QSpinBox>(cal, "toler")->setValue(99);
            child<QSpinBox>(cal, "can")->setValue(3);
            cal->okClick();
            mech->record(5) = changed; // what only a new read shows
            cal->BitBtn2Click();
        },
        [this] { click("Button5"); });
    EXPECT_FALSE(cal->isVisible());
    // Sensor bounds stop at 255 and 0, the "+" upper bound at 65535; output 0.
    EXPECT_EQ(mech->record(3), Rm4Mech::record_bytes({255, 141, 194, 0, 240, 40, 65535, 65301}, 8, 0));
    EXPECT_EQ(row(3), "255 194 240 65535 141 0 40 65301 | 0");
    EXPECT_EQ(row(5), "9 7 5 3 8 6 4 2 | 3") << "the whole read after the calibration";
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

} // namespace

namespace {

constexpr int64_t kCoinWaitTicks = seci::kCoinWait;

// Port time (1 tick = 1 port access = 1 µs at speed 1) of each window
// operation, on the simulated mechanism and with it unplugged after a read:
// a silent mechanism is told within 30 s, coin waits apart.
// ZUNA_PORT_TIMES=1 prints the figures.
void SeciRig::port_times()
{
    SeciCalibre* cal = calibration();
    cal->set_window(w.get());
    struct Row {
        const char* what;
        std::function<void()> run;
        const char* silent_told; // what a silent line says, when checked
    };
    // Test and the calibration's coin: the exchanges before the coin wait go
    // unanswered, so there is no coin wait and the mechanism is said silent.
    const std::vector<Row> rows = {
        {"LECTURE", [&] { click("Button1"); }, nullptr},
        {"Test", [&] { mech ? mech->queue_coin({1, 2, 3, 4, 5, 6}) : void(); click("Button4"); },
         "Le monayeur ne répond pas."},
        {"AJUST, OK", [&] { adjust(2); click("ok"); }, nullptr},
        {"Sorties, OK (1 canal)",
         [&] {
             click("Button8");
             spin("cs1")->setValue((spin("cs1")->value() + 1) % 7);
             click("oks");
         },
         nullptr},
        {"Vider, OK", [&] { click("Button7"); click("BitBtn5"); }, nullptr},
        {"Calib. Piece, 1 pièce",
         [&] {
             child<QSpinBox>(cal, "nb_piece")->setValue(1);
             cal->BitBtn1Click();
         },
         "Le monayeur ne répond pas."},
        {"Calib. Piece, programmation", [&] { cal->okClick(); cal->BitBtn2Click(); }, nullptr},
    };
    for (const Row& r : rows) {
        plug();
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
        EXPECT_LT(silent, 30'000'000u) << r.what;
        EXPECT_FALSE(messages.isEmpty()) << r.what;
        if (r.silent_told) {
            EXPECT_EQ(messages, QStringList{r.silent_told}) << r.what;
            EXPECT_LT(silent, uint64_t(kCoinWaitTicks)) << r.what << ": no coin wait";
        }
        EXPECT_EQ(setup.bench().mask_depth(), 0) << r.what;
        if (qEnvironmentVariableIsSet("ZUNA_PORT_TIMES"))
            std::printf("| %s %s | %.2f s | %.2f s |\n", w->family().name, r.what, normal / 1e6, silent / 1e6);
    }
    cal->set_window(nullptr);
}

// Pictures of the editor after a read and a test, and of the calibration
// after sampling, into ZUNA_SHOT_DIR: not a test, run by
// scripts/screenshots.sh only.
void SeciRig::screenshots()
{
    const QString dir = qEnvironmentVariable("ZUNA_SHOT_DIR", ".");
    const QString name = rm4 ? "rm4" : "rm3";
    click("Button1");
    click("Button4"); // a coin inside channel 1
    w->adjustSize();
    EXPECT_TRUE(w->grab().save(dir + "/t" + name + "_read_test.png"));
    w->views()->show_view();
    EXPECT_TRUE(w->views()->view()->grab().save(dir + "/t" + name + "_graphique.png"));
    w->views()->view()->hide();
    w->views()->choose_sheet_file = [&] { return dir + "/t" + name + "_fiche.pdf"; };
    w->views()->tell = [this](const QString& m) { messages << m; };
    w->views()->write_sheet();
    SeciCalibre* cal = calibration();
    cal->set_window(w.get());
    cal->show();
    child<QSpinBox>(cal, "nb_piece")->setValue(5);
    cal->BitBtn1Click();
    cal->adjustSize();
    EXPECT_TRUE(cal->grab().save(dir + "/tcalibre_" + name + "_sampled.png"));
    cal->hide();
    cal->set_window(nullptr);
}

TEST_F(Rm3Rig, DISABLED_Screenshots) { screenshots(); }
TEST_F(Rm4Rig, DISABLED_Screenshots) { screenshots(); }

TEST_F(Rm3Rig, SilentMechanismIsToldWithinThirtySeconds) { port_times(); }
TEST_F(Rm4Rig, SilentMechanismIsToldWithinThirtySeconds) { port_times(); }

} // namespace
