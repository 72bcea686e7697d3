#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <map>
#include <functional>

#include "ui/c_canal.h"
#include "ui/shell.h"
#include "app/windows.h"
#include "link/module.h"
#include "nri/g13_link.h"
#include "nri/g13_teach.h"
#include "nri/g13_window.h"
#include "sim/catalogue.h"
#include "common/counting_port.h"
#include "sim/g13_mech.h"
#include "store/model_library.h"
#include "store/model_ui.h"
#include "store/tables.h"
#include "tests/common/modal.h"
#include "settings_file/settings_file.h"
#include "ui/settings_panel.h"
#include "ui/sheet.h"
#include "ui/transfer.h"

using namespace zuna;

namespace {

using zuna::test::with_modal;

struct G13Station {
    QTemporaryDir dir;
    sim::SimSetup setup;
    sim::G13Mechanism* mech = nullptr;
    Station s{setup.bench()};
    Shell shell{s};
    std::unique_ptr<store::Tables> tables;
    QWidget parent;
    std::unique_ptr<Tnrig130000> w;
    QStringList messages;
    QStringList questions; // overlap questions asked before channel writes
    bool overlap_ok = true;

    explicit G13Station(const sim::Faults& f = {}, int32_t stored = 1950) : setup(1.0, f, "")
    {
        mech = static_cast<sim::G13Mechanism*>(setup.plug("g13"));
        s.measured_module_count = measure_module(*s.port);
        load_delay_counts(s);
        s.g13_stored = stored;
        if (stored)
            s.delay.g13 = stored;
        tables = store::open_tables(shell, dir.path(), nullptr);
        create_start_windows(shell, &parent);
    }
    Tnrig130000& open()
    {
        w = std::make_unique<Tnrig130000>(shell, &parent);
        w->today = [] { return QDate(2026, 12, 7); };
        w->show_message = [this](const QString& m) { messages << m; };
        w->ask_overlap = [this](const QString& q) {
            questions << q;
            return overlap_ok;
        };
        w->show();
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents(); // the first activation
        return *w;
    }

    template <class T = QWidget> T* find(const char* name) const
    {
        T* c = w->findChild<T*>(name);
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    QString text(const char* name) const { return find<QLabel>(name)->text(); }
    void click(const char* name) const { find<QPushButton>(name)->click(); }
};

std::string line(const std::array<int, 4>& v)
{
    std::string t;
    for (int x : v) {
        char b[8];
        std::snprintf(b, sizeof b, "%03d  ", x);
        t += b;
    }
    return t;
}

} // namespace

TEST(G13Window, StartUpOrderAndSpeedItem)
{
    test::CountingPort port;
    Station s(port);
    Shell shell(s);
    QWidget parent;
    create_start_windows(shell, &parent);
    std::vector<QString> names;
    for (QDialog* d : shell.dialogs())
        names.push_back(d->metaObject()->className());
    const auto c = std::find(names.begin(), names.end(), "zuna::TC_canal");
    ASSERT_NE(c, names.end());
    const auto t = std::find(names.begin(), names.end(), "zuna::Tcalibration_nri_g13");
    ASSERT_NE(t, names.end());
    EXPECT_LT(c, t);
    ASSERT_NE(t + 1, names.end());
    EXPECT_EQ(*(t + 1), "zuna::TValid_nri_g13");
    EXPECT_TRUE(device_window_available("nrig130000b"));
    EXPECT_EQ(shell.dialog<Tcalibration_nri_g13>()->windowTitle(), "CALIBRATION G13.0000");
    EXPECT_EQ(shell.dialog<TValid_nri_g13>()->windowTitle(), "VALIDATION");
}

TEST(G13Window, OpeningWithoutStoredCountTunesForThisRunOnly)
{
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "\"Arrêter\" during the tuning" : "tuned");
        G13Station st({}, 0);
        const int32_t before = st.mech->nominal_count() - 300;
        st.s.delay.g13 = before;
        // The operator's click on "Arrêter" while the tuning runs (the
        // window's loop turns while it waits).
        QTimer clicker;
        bool clicked = false;
        if (stop) {
            QObject::connect(&clicker, &QTimer::timeout, [&] {
                auto* b = st.w ? st.w->findChild<QPushButton*>("Arreter") : nullptr;
                if (!clicked && b && b->isVisible() && b->isEnabled()) {
                    clicked = true;
                    b->click();
                }
            });
            clicker.start(1);
        }
        Tnrig130000& w = st.open();
        clicker.stop();
        EXPECT_EQ(zone0_g13(st.setup.module().zone0()), 0); // the module memory is left alone
        EXPECT_EQ(w.windowTitle(), "NRI G13.0000");
        EXPECT_FALSE(st.find<QProgressBar>("progresse")->isVisible());
        EXPECT_FALSE(st.find<QPushButton>("Arreter")->isVisible());
        if (stop) {
            ASSERT_TRUE(clicked);
            EXPECT_EQ(st.s.g13_stored, 0);
            EXPECT_EQ(st.s.delay.g13, before);
            EXPECT_EQ(st.messages, QStringList{"Réglage arrêté : compte inchangé."});
            continue;
        }
        const int32_t nominal = st.mech->nominal_count();
        EXPECT_NEAR(st.s.g13_stored, nominal, nominal * 0.02);
        EXPECT_EQ(st.s.delay.g13, st.s.g13_stored);
        EXPECT_TRUE(st.messages.isEmpty());
    }
}

// A dead line: every operation ends within 30 s of port time (1 tick = 1 µs),
// coin waits apart, and the operator is told what is wrong.
TEST(G13Window, DeadLinesEndSoonWithTheirMessage)
{
    constexpr uint64_t kBound = 30000000;
    constexpr uint64_t kCoinWait = uint64_t(nri::kG13LongWait);
    struct Row {
        const char* fault;
        bool reply_stuck; // reply line held at level 0
        const char* tuning;
        const char* reading;
    } rows[] = {
        {"silent", false, "ne répond pas", "ne répond pas : lecture impossible"},
        {"noise", false, "illisibles", "illisibles"},
        {"stuck-low", false, "Le compte de délai G13 vaut 0 : il faut le calibrer (ZUNA07)",
         "Le compte de délai G13 vaut 0 : il faut le calibrer (ZUNA07)"},
        {"", true, "illisibles", "illisibles"},
        {"other-family", false, "illisibles", "répond comme un G13.6000 (07 36), pas comme un G13.0000"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.reply_stuck ? "reply line stuck" : r.fault);
        sim::Faults f;
        if (*r.fault) {
            ASSERT_TRUE(sim::parse_faults(r.fault, f, nullptr));
        }
        G13Station st(f, 0);
        if (r.reply_stuck)
            st.setup.bench().force_status(0x80, 0x80);
        const int32_t before = st.s.delay.g13;
        sim::Bench& bench = st.setup.bench();
        auto ticks = [&](const std::function<void()>& act) {
            const uint64_t t0 = bench.now();
            act();
            return bench.now() - t0;
        };
        EXPECT_LE(ticks([&] { st.open(); }), kBound) << "window opening";
        ASSERT_EQ(st.messages.size(), 1);
        EXPECT_TRUE(st.messages[0].contains(r.tuning)) << st.messages[0].toStdString();
        EXPECT_EQ(st.s.delay.g13, before); // the count in use is kept
        EXPECT_EQ(st.s.g13_stored, 0);
        st.messages.clear();

        EXPECT_LE(ticks([&] { st.click("Button1"); }), kBound) << "LECTURE";
        EXPECT_EQ(st.text("c1"), "000  000  000  000");
        if (r.reading) {
            ASSERT_FALSE(st.messages.isEmpty());
            EXPECT_TRUE(st.messages[0].contains(r.reading)) << st.messages[0].toStdString();
        }
        EXPECT_LE(ticks([&] { st.click("Button4"); }), kBound + kCoinWait) << "Test";
        EXPECT_LE(ticks([&] { nri::Ajust_a(st.s); }), kBound + kCoinWait) << "teach read";
        EXPECT_LE(ticks([&] {
                      with_modal([](QWidget* m) { qobject_cast<QDialog*>(m)->accept(); },
                                 [&] { st.click("Button6"); });
                      st.click("ok");
                  }),
                  kBound)
            << "AJUST OK";
        EXPECT_LE(ticks([&] { st.click("BitBtn5"); }), kBound) << "Mode mesure";
        EXPECT_LE(ticks([&] { st.w->write_channel(5, {1, 2, 3, 4}, {0, 0, 0, 0}, nri::model_write_units(st.s)); }),
                  kBound)
            << "model write";
    }
}

TEST(G13Window, ReadingShowsIdentityModeAndChannels)
{
    G13Station st;
    Tnrig130000& w = st.open();
    st.click("Button1");
    EXPECT_EQ(st.text("l2"), "15/03/19"); // day first
    EXPECT_EQ(st.text("l1"), "204518 0031277 16302");
    EXPECT_EQ(st.text("l3"), "02/01/20");
    EXPECT_EQ(st.text("mo_me"), "03");
    for (int n = 1; n <= 6; ++n) {
        EXPECT_EQ(w.upper(n)->text().toStdString(), line(st.mech->channels()[size_t(n - 1)].max)) << n;
        EXPECT_EQ(w.lower(n)->text().toStdString(), line(st.mech->channels()[size_t(n - 1)].min)) << n;
    }
    EXPECT_FALSE(st.find<QLabel>("Label13")->isVisible());
    if (qEnvironmentVariableIsSet("ZUNA_SHOTS")) {
        st.click("Button4");
        w.grab().save(qEnvironmentVariable("ZUNA_SHOTS") + "/g13_window.png");
    }

    // A reading that is not answered keeps the labels of the previous one.
    const std::string before = line(st.mech->channels()[1].max);
    st.setup.plug("none");
    st.click("Button1");
    EXPECT_EQ(w.upper(2)->text().toStdString(), before);
    EXPECT_EQ(st.text("l2"), "15/03/19");
}

TEST(G13Window, AdjustmentWritesTheChannelAndReadsItBack)
{
    G13Station st;
    Tnrig130000& w = st.open();
    st.click("Button1");
    with_modal(
        [](QWidget* m) {
            auto* prompt = qobject_cast<TC_canal*>(m);
            ASSERT_NE(prompt, nullptr);
            EXPECT_EQ(prompt->canal()->maximum(), 6);
            prompt->canal()->setValue(3);
            prompt->accept();
        },
        [&] { st.click("Button6"); });
    EXPECT_TRUE(st.find<QWidget>("ajustement")->isVisible());
    EXPECT_EQ(st.find<QSpinBox>("aj1")->value(), 102); // channel 3 as read
    EXPECT_EQ(st.find<QSpinBox>("aj8")->value(), 24);
    const int values[8] = {130, 90, 210, 45, 100, 60, 190, 20};
    for (int k = 1; k <= 8; ++k)
        st.find<QSpinBox>(qPrintable(QString("aj%1").arg(k)))->setValue(values[k - 1]);
    st.click("ok");
    EXPECT_EQ(st.mech->channels()[2].max, (std::array<int, 4>{130, 90, 210, 45}));
    EXPECT_EQ(st.mech->channels()[2].min, (std::array<int, 4>{100, 60, 190, 20}));
    EXPECT_EQ(w.upper(3)->text(), "130  090  210  045  ");
    EXPECT_EQ(w.lower(3)->text(), "100  060  190  020  ");
    EXPECT_EQ(st.mech->reprogramming_date, "12/07/26");
    EXPECT_EQ(st.text("l3"), "07/12/26");
    EXPECT_FALSE(st.find<QWidget>("ajustement")->isVisible());
    EXPECT_TRUE(st.messages.isEmpty());

    // "Abandon" in the channel prompt: no panel.
    with_modal([](QWidget* m) { qobject_cast<QDialog*>(m)->reject(); }, [&] { st.click("Button6"); });
    EXPECT_FALSE(st.find<QWidget>("ajustement")->isVisible());

    // A write whose read-back is not answered: channel 2 is unknown until a
    // reading ("????", no band, no light, no model, no adjustment).
    ASSERT_TRUE(w.bands().channels[1].enabled);
    st.setup.plug("none");
    with_modal([](QWidget* m) { qobject_cast<TC_canal*>(m)->canal()->setValue(2); qobject_cast<QDialog*>(m)->accept(); },
               [&] { st.click("Button6"); });
    st.click("ok");
    EXPECT_EQ(w.upper(2)->text(), "????");
    EXPECT_EQ(w.lower(2)->text(), "????");
    EXPECT_EQ(st.text("l3"), "07/12/26");
    EXPECT_EQ(st.messages, QStringList{"Écriture du canal 2 non confirmée : le monnayeur ne répond pas à la relecture. "
                                       "Le contenu du canal est inconnu, relisez le monnayeur."});
    EXPECT_FALSE(w.bands().channels[1].enabled);
    st.messages.clear();
    st.click("Button2");
    st.find<QSpinBox>("canal")->setValue(2);
    st.click("BitBtn1");
    ASSERT_TRUE(st.shell.models->set_filter("type = 'NRI1'", nullptr));
    EXPECT_EQ(st.shell.models->visible_count(), 0);
    EXPECT_EQ(st.messages, QStringList{"Le contenu du canal 2 est inconnu : relisez le monnayeur, aucun modèle n'a "
                                       "été enregistré."});
    // The mechanism back with its old channel 2: a coin inside it lights nothing there until a reading.
    st.mech = static_cast<sim::G13Mechanism*>(st.setup.plug("g13"));
    std::array<int, 4> coin{};
    for (size_t k = 0; k < 4; ++k)
        coin[k] = (st.mech->channels()[1].max[k] + st.mech->channels()[1].min[k]) / 2;
    st.mech->push_coin(coin);
    st.click("Button4");
    for (int k = 1; k <= 4; ++k)
        EXPECT_FALSE(w.result(2, k)->palette().color(QPalette::Window) == QColor(Qt::yellow)) << k;
    st.click("Button1");
    EXPECT_EQ(w.upper(2)->text().toStdString(), line(st.mech->channels()[1].max));
    EXPECT_TRUE(w.bands().channels[1].enabled);
}

// A mechanism that keeps a write wrong or not at all: the operator is told,
// and the window shows what the mechanism was read to hold.
TEST(G13Window, WritesTheMechanismDoesNotKeep)
{
    const char* differs = "Écriture du canal 3 non confirmée : la relecture diffère de ce qui a été écrit. Les "
                          "valeurs affichées sont celles relues.";
    struct Row {
        const char* fault;
        bool mode; // Mode mesure 6, else AJUST of channel 3
        const char* shown;
        const char* message;
    } rows[] = {
        {"wrong-readback=1", false, "131  090  210  045  ", differs},
        {"lost-write=1", false, "102  070  229  033  ", differs},
        {"wrong-readback=1", true, "07", "Mode de mesure non confirmé : le monnayeur relit 07 au lieu de 06."},
        {"lost-write=1", true, "03", "Mode de mesure non confirmé : le monnayeur relit 03 au lieu de 06."},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.fault) + (r.mode ? " mode" : " AJUST"));
        sim::Faults f;
        ASSERT_TRUE(sim::parse_faults(r.fault, f, nullptr));
        G13Station st(f);
        Tnrig130000& w = st.open();
        st.click("Button1");
        if (r.mode) {
            st.click("Button7");
            st.find<QSpinBox>("me")->setValue(6);
            st.click("BitBtn5");
            EXPECT_EQ(st.text("mo_me"), r.shown);
        } else {
            with_modal(
                [](QWidget* m) {
                    qobject_cast<TC_canal*>(m)->canal()->setValue(3);
                    qobject_cast<QDialog*>(m)->accept();
                },
                [&] { st.click("Button6"); });
            const int values[8] = {130, 90, 210, 45, 100, 60, 190, 20};
            for (int k = 1; k <= 8; ++k)
                st.find<QSpinBox>(qPrintable(QString("aj%1").arg(k)))->setValue(values[k - 1]);
            st.click("ok");
            EXPECT_EQ(w.upper(3)->text(), r.shown);
            EXPECT_EQ(w.upper(3)->text().toStdString(), line(st.mech->channels()[2].max));
        }
        EXPECT_EQ(st.messages, QStringList{r.message});
    }
}

TEST(G13Window, ModelsAreStoredAndWritten)
{
    G13Station st;
    Tnrig130000& w = st.open();
    st.click("Button1");
    // Store channel 2 as a model.
    st.click("Button2");
    st.find<QSpinBox>("canal")->setValue(2);
    // A name the table cannot hold is refused, named, and the panel stays open.
    QStringList refused;
    store::set_model_message_handler([&](QWidget*, const QString& m) { refused << m; });
    st.find<QLineEdit>("piece")->setText("2 EURO日");
    st.click("BitBtn1");
    store::set_model_message_handler({});
    ASSERT_EQ(refused.size(), 1);
    EXPECT_TRUE(refused[0].contains("« 日 »")) << refused[0].toStdString();
    EXPECT_TRUE(st.find<QWidget>("choix_c")->isVisible());
    st.find<QLineEdit>("piece")->setText("2 EUROS");
    st.click("BitBtn1");
    EXPECT_FALSE(st.find<QWidget>("choix_c")->isVisible());
    ASSERT_NE(st.shell.models, nullptr);
    ASSERT_TRUE(st.shell.models->set_filter("type = 'NRI1'", nullptr));
    ASSERT_TRUE(st.shell.models->first());
    const store::ModelRecord r = *st.shell.models->current();
    EXPECT_EQ(r.piece, "2 EUROS");
    const int expect[8] = {150, 137, 104, 91, 183, 170, 58, 47};
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(r.c[size_t(k)].value_or(-1), expect[k]) << "C" << k + 1;

    // Write it into channel 5, with one value out of range.
    store::ModelRecord big = r;
    big.piece = "JETON";
    big.c[0] = 300;
    st.shell.models->delete_current(nullptr);
    ASSERT_TRUE(st.shell.models->append(big, nullptr));
    with_modal([](QWidget* m) { qobject_cast<QDialog*>(m)->accept(); }, [&] { st.click("Button3"); });
    ASSERT_TRUE(st.find<QWidget>("vers_c")->isVisible());
    EXPECT_EQ(st.text("f_p"), "JETON");
    st.find<QSpinBox>("canal_v")->setValue(5);
    // Channel 5 would accept the coins of channel 2: asked first; refused, nothing is sent.
    st.overlap_ok = false;
    const size_t sent = st.mech->log().size();
    st.click("BitBtn3");
    EXPECT_EQ(st.questions, QStringList{"Les canaux 2 et 5 se recouvrent : une même pièce serait acceptée par "
                                        "les deux. Écrire quand même ?"});
    EXPECT_EQ(st.mech->log().size(), sent);
    EXPECT_EQ(st.mech->channels()[4].max, (std::array<int, 4>{}));
    st.overlap_ok = true;
    st.click("BitBtn3");
    EXPECT_EQ(st.mech->channels()[4].max, (std::array<int, 4>{255, 104, 183, 58}));
    EXPECT_EQ(st.mech->channels()[4].min, (std::array<int, 4>{137, 91, 170, 47}));
    EXPECT_EQ(w.upper(5)->text(), "255  104  183  058  ");
    EXPECT_FALSE(st.find<QWidget>("vers_c")->isVisible());
}

TEST(G13Window, CoinTestColoursThePairsThatHoldTheCoin)
{
    G13Station st;
    Tnrig130000& w = st.open();
    st.mech->channels()[0] = {{110, 110, 110, 110}, {90, 90, 90, 90}};
    st.mech->channels()[4] = {{160, 110, 190, 64}, {140, 95, 175, 50}}; // overlaps channel 2
    st.click("Button1");
    w.views()->show_view();
    st.mech->push_coin({100, 89, 111, 110});
    st.click("Button4");
    EXPECT_EQ(st.text("a1"), "100  089  111  110");
    const bool inside[4] = {true, false, false, true};
    for (int k = 1; k <= 4; ++k) {
        const bool yellow = w.result(1, k)->palette().color(QPalette::Window) == QColor(Qt::yellow);
        EXPECT_EQ(yellow, inside[k - 1]) << k;
        EXPECT_EQ(w.result(1, k + 4)->palette().color(QPalette::Window), w.result(1, k)->palette().color(QPalette::Window));
    }
    EXPECT_EQ(st.text("q1"), "110");
    EXPECT_EQ(st.text("q5"), "090");
    EXPECT_EQ(st.text("q51"), "255"); // channel 6
    // The open view follows: its bands read back from the chart are the
    // mechanism's records; channel 6 (0..255 everywhere) is no band.
    ASSERT_NE(w.views()->view(), nullptr);
    std::map<std::pair<int, int>, std::pair<int, int>> drawn;
    for (QAbstractSeries* s : w.views()->view()->chart()->series())
        if (auto* a = qobject_cast<QAreaSeries*>(s); a && a->property("channel").isValid())
            drawn[{a->property("channel").toInt(), a->property("measurement").toInt()}] = {
                int(a->lowerSeries()->at(0).y()), int(a->upperSeries()->at(0).y())};
    std::map<std::pair<int, int>, std::pair<int, int>> memory;
    for (int n = 1; n <= 5; ++n)
        for (size_t k = 0; k < 4; ++k)
            memory[{n, int(k)}] = {st.mech->channels()[size_t(n - 1)].min[k], st.mech->channels()[size_t(n - 1)].max[k]};
    EXPECT_EQ(drawn, memory);
    if (qEnvironmentVariableIsSet("ZUNA_SHOTS")) {
        w.views()->view()->grab().save(qEnvironmentVariable("ZUNA_SHOTS") + "/g13_graphique.png");
        write_sheet(qEnvironmentVariable("ZUNA_SHOTS") + "/g13_fiche.pdf", w.sheet(), nullptr);
    }
    const settings::BandSet b = w.views()->view()->bands();
    EXPECT_EQ(settings::overlaps(b), (std::vector<std::pair<int, int>>{{2, 5}}));
    EXPECT_EQ(b.coin, (std::vector<int>{100, 89, 111, 110}));
    EXPECT_EQ(settings::coin_inside(b, b.channels[0]),
              (std::vector<std::optional<bool>>{true, false, false, true}));

    // No coin: nothing measured, nothing lit (channel 6 has minima 0).
    st.setup.plug("none");
    st.click("Button4");
    EXPECT_TRUE(st.text("a1").startsWith("Aucune pièce reçue"));
    EXPECT_FALSE(w.bands().coin) << "no coin came: no marker";
    for (int n = 1; n <= 6; ++n)
        for (int k = 1; k <= 8; ++k)
            EXPECT_NE(w.result(n, k)->palette().color(QPalette::Window), QColor(Qt::yellow)) << n << " " << k;
}

TEST(G13Window, MeasuringModeIsWrittenAndReadBack)
{
    G13Station st;
    st.open();
    st.click("Button1");
    st.click("Button7");
    st.find<QSpinBox>("me")->setValue(7);
    st.click("BitBtn5");
    EXPECT_EQ(st.mech->mode, 7);
    EXPECT_EQ(st.text("mo_me"), "07");
    // The link is left at the fast rate: a coin test still works.
    st.mech->push_coin({1, 2, 3, 4});
    st.click("Button4");
    EXPECT_EQ(st.text("a1"), "001  002  003  004");
    // Written, not read back: the mode shown is no longer the mechanism's.
    st.setup.plug("none");
    st.click("Button7");
    st.click("BitBtn5");
    EXPECT_EQ(st.text("mo_me"), "??");
}

// Save, change three settings from the window, restore: exactly those three
// are written and the window shows the mechanism as it now is; "Suivant"
// programs two more mechanisms from the same file, one log line each.
TEST(G13Window, SettingsFileSavedRestoredAndCloned)
{
    G13Station st;
    Tnrig130000& w = st.open();
    st.click("Button1");
    SettingsPanel& panel = *w.settings_panel();
    const QString path = st.dir.filePath("g13.zuna.json");
    panel.choose_file = [&](bool) { return path; };
    panel.tell = [&](const QString& m) { st.messages << m; };
    panel.save();
    EXPECT_EQ(st.messages.value(0), "Réglages enregistrés dans g13.zuna.json.");
    const auto factory = st.mech->channels();

    with_modal([](QWidget* m) { qobject_cast<TC_canal*>(m)->canal()->setValue(3); qobject_cast<QDialog*>(m)->accept(); },
               [&] { st.click("Button6"); });
    st.find<QSpinBox>("aj1")->setValue(103);
    st.find<QSpinBox>("aj8")->setValue(25);
    st.click("ok");
    st.click("Button7");
    st.find<QSpinBox>("me")->setValue(7);
    st.click("BitBtn5");
    ASSERT_EQ(st.mech->mode, 7);

    std::vector<std::string> shown;
    panel.confirm = [&](const settings::Comparison& c) {
        shown = c.to_write();
        return true;
    };
    st.messages.clear();
    panel.restore();
    EXPECT_EQ(shown, (std::vector<std::string>{"Mode", "Canal 3/Mesure 1/max", "Canal 3/Mesure 4/min"}));
    EXPECT_EQ(st.messages.value(0), "3 réglages écrits, tous vérifiés");
    EXPECT_EQ(st.mech->mode, 3);
    EXPECT_EQ(st.mech->channels()[2].max, factory[2].max);
    EXPECT_EQ(st.mech->channels()[2].min, factory[2].min);
    EXPECT_EQ(w.upper(3)->text(), "102  070  229  033  "); // read again after the write
    EXPECT_EQ(st.text("mo_me"), "03");

    // Two more units, each plugged with other settings.
    st.shell.next_mechanism = [&] {
        st.mech = static_cast<sim::G13Mechanism*>(st.setup.plug("g13"));
        st.mech->mode = 9;
        st.mech->channels()[0].min[1] = 1;
    };
    panel.next_plugged = [] { return true; };
    for (int unit = 2; unit <= 3; ++unit) {
        panel.next();
        EXPECT_EQ(st.mech->mode, 3) << unit;
        EXPECT_EQ(st.mech->channels()[0].min, factory[0].min) << unit;
    }
    QFile log(settings::log_path(path));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(log.readAll()).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 4) << lines.join("\n").toStdString();
    EXPECT_TRUE(lines[1].endsWith(";3;vérifié")) << lines[1].toStdString();
    EXPECT_TRUE(lines[3].contains(";NRI1;204518 0031277 16302 15/03/19;2;vérifié")) << lines[3].toStdString();
}

TEST(G13Window, TeachOneCoinAndValidate)
{
    G13Station st;
    st.shell.simulated = true;
    Tnrig130000& w = st.open();
    st.click("Button1");
    st.mech->push_coin({120, 80, 200, 35});
    auto* teach = st.shell.dialog<Tcalibration_nri_g13>();
    auto* valid = st.shell.dialog<TValid_nri_g13>();
    with_modal(
        [&](QWidget* m) {
            ASSERT_EQ(m, teach);
            EXPECT_EQ(teach->windowTitle(), "CALIBRATION G13.0000 - SIMULATION");
            EXPECT_FALSE(teach->findChild<QPushButton*>("ok")->isEnabled()); // nothing measured yet
            EXPECT_EQ(teach->findChild<QLabel*>("m1")->text(), "  0");
            EXPECT_EQ(teach->findChild<QLabel*>("b4")->text(), "255");
            EXPECT_EQ(teach->findChild<QSpinBox*>("nb_piece")->value(), 15);
            teach->findChild<QSpinBox*>("nb_piece")->setValue(1);
            teach->findChild<QPushButton*>("BitBtn1")->click();
            EXPECT_EQ(teach->findChild<QLabel*>("d1")->text(), "120");
            EXPECT_EQ(teach->findChild<QSpinBox*>("nb_piece")->value(), 1);
            if (qEnvironmentVariableIsSet("ZUNA_SHOTS"))
                teach->grab().save(qEnvironmentVariable("ZUNA_SHOTS") + "/g13_teach.png");
            with_modal(
                [&](QWidget* v) {
                    ASSERT_EQ(v, valid);
                    EXPECT_EQ(valid->windowTitle(), "VALIDATION - SIMULATION");
                    valid->findChild<QSpinBox*>("canal")->setValue(4);
                    valid->findChild<QSpinBox*>("toler")->setValue(5);
                    // The view shows the coin taught and the window the validation would write.
                    const settings::BandSet b = w.bands();
                    EXPECT_EQ(b.samples, (std::vector<std::vector<int>>{{120, 80, 200, 35}}));
                    EXPECT_EQ(b.proposed_channel, 4);
                    ASSERT_TRUE(b.proposed);
                    EXPECT_EQ((*b.proposed)[0].low, 115);
                    EXPECT_EQ((*b.proposed)[3].high, 40);
                    if (qEnvironmentVariableIsSet("ZUNA_SHOTS"))
                        valid->grab().save(qEnvironmentVariable("ZUNA_SHOTS") + "/g13_valid.png");
                    valid->findChild<QPushButton*>("BitBtn1")->click();
                },
                [&] { teach->findChild<QPushButton*>("ok")->click(); });
        },
        [&] { st.click("Button5"); });
    EXPECT_EQ(st.mech->channels()[3].max, (std::array<int, 4>{125, 85, 205, 40}));
    EXPECT_EQ(st.mech->channels()[3].min, (std::array<int, 4>{115, 75, 195, 30}));
    EXPECT_EQ(w.upper(4)->text(), "125  085  205  040  ");
    EXPECT_EQ(w.lower(4)->text(), "115  075  195  030  ");
    // The validation asked about channel 1, which holds the same coin (written: accepted).
    EXPECT_EQ(st.questions.size(), 1);
    EXPECT_TRUE(st.questions.value(0).startsWith("Les canaux 1 et 4 se recouvrent")) << st.questions.join("\n").toStdString();
    EXPECT_TRUE(w.bands().samples.empty()) << "the teach is over";
}

TEST(G13Window, TeachLimits)
{
    struct Case {
        std::array<int, 4> largest, smallest;
        int tol;
        std::array<int, 4> max, min;
    } cases[] = {
        {{120, 80, 200, 35}, {120, 80, 200, 35}, 5, {125, 85, 205, 40}, {115, 75, 195, 30}},
        {{255, 0, 250, 3}, {255, 0, 250, 3}, 20, {255, 20, 255, 23}, {235, 0, 230, 0}},
        {{0, 0, 0, 0}, {255, 255, 255, 255}, 0, {0, 0, 0, 0}, {255, 255, 255, 255}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TValid_nri_g13::maxima(c.largest, c.tol), c.max);
        EXPECT_EQ(TValid_nri_g13::minima(c.smallest, c.tol), c.min);
    }
}

TEST(G13Window, TeachWithoutCoinCountsNothing)
{
    G13Station st;
    st.open();
    st.click("Button1"); // leaves the read-back of channel 6 in the tables
    st.setup.plug("none");
    auto* teach = st.shell.dialog<Tcalibration_nri_g13>();
    with_modal(
        [&](QWidget*) {
            teach->findChild<QSpinBox*>("nb_piece")->setValue(3);
            teach->findChild<QPushButton*>("BitBtn1")->click();
            EXPECT_EQ(teach->findChild<QLabel*>("m1")->text(), "  0");
            EXPECT_EQ(teach->findChild<QLabel*>("b1")->text(), "255");
            EXPECT_TRUE(teach->findChild<QLabel*>("attente")->text().startsWith("Pas de pièce"));
            EXPECT_EQ(teach->findChild<QSpinBox*>("nb_piece")->value(), 3);
            // No coin measured: no channel limits to write.
            EXPECT_FALSE(teach->findChild<QPushButton*>("ok")->isEnabled());
            bool validation = false;
            with_modal([&](QWidget* v) { validation = true; qobject_cast<QDialog*>(v)->reject(); },
                       [&] { teach->okClick(); });
            EXPECT_FALSE(validation);
            EXPECT_TRUE(teach->isVisible());
            EXPECT_TRUE(teach->findChild<QLabel*>("attente")->text().contains("Aucune pièce mesurée"));
            teach->findChild<QPushButton*>("an")->click();
        },
        [&] { st.click("Button5"); });
}

TEST(G13Window, SpeedBarItemOpensTheWindow)
{
    G13Station st;
    st.shell.simulated = true;
    std::unique_ptr<QDialog> w = make_device_window("nrig130000b", st.shell, &st.parent);
    ASSERT_NE(qobject_cast<Tnrig130000*>(w.get()), nullptr);
    EXPECT_EQ(w->windowTitle(), "NRI G13.0000 - SIMULATION");
    for (const char* name : {"Button1", "Button2", "Button3", "Button4", "Button5", "Button6", "Button7", "c1", "c66",
                             "q58", "l1", "l2", "l3", "mo_me", "Label13", "progresse", "a1", "p1", "P2", "ajustement",
                             "aj8", "ok", "ab", "Panel1", "me", "choix_c", "canal", "piece", "vers_c", "canal_v", "f_p",
                             "BitBtn1", "BitBtn6"})
        EXPECT_NE(w->findChild<QWidget*>(name), nullptr) << name;
    for (const char* name : {"aj1", "aj4", "aj5", "aj8", "me"})
        EXPECT_FALSE(w->findChild<QSpinBox*>(name)->accessibleName().isEmpty()) << name;
    EXPECT_NE(w->findChild<QSpinBox*>("aj1")->accessibleName(), w->findChild<QSpinBox*>("aj5")->accessibleName());
}

// ---- Frames on the line, in order, with the rate of each ------------------

namespace {

// Forwards to the bench and notes each frame the program sends: the writes
// between two maskings (or two reads), with the unit count of the moment.
// A single write followed by reads is the listening start of a capture.
struct FrameRecorder : Port {
    Port& inner;
    const Station* s = nullptr;
    struct Write {
        uint8_t v;
        int32_t units;
    };
    std::vector<Write> run;
    std::vector<std::string> frames;

    explicit FrameRecorder(Port& p) : inner(p) {}
    void write_data_port(uint8_t v) override
    {
        run.push_back({v, s->measured_module_count});
        inner.write_data_port(v);
    }
    uint8_t read_status_port() override
    {
        if (!run.empty()) {
            const Write listen = run.back();
            run.pop_back();
            flush();
            frames.push_back(listen.v == 0x71 ? "<" : "?");
        }
        return inner.read_status_port();
    }
    void mask_interrupts() override
    {
        flush();
        inner.mask_interrupts();
    }
    void unmask_interrupts() override { inner.unmask_interrupts(); }
    void idle(uint64_t n) override { inner.idle(n); }

    std::string rate(int32_t u) const
    {
        const int32_t g = s->delay.g13;
        if (u == g)
            return "S";
        if (u == nri::fast_units(*s))
            return "F";
        if (u == nri::model_write_units(*s))
            return "M";
        return std::to_string(u);
    }
    // Writes to units, then characters (start 0, 8 data bits, stop 1):
    // "+n" a level 1 of n units after a character, "!" no stop bit, "_n" a
    // level 0 of n units.
    void flush()
    {
        if (run.empty())
            return;
        std::vector<int> units;
        std::string out = rate(run[0].units) + ":";
        for (size_t p = 0; p < run.size();) {
            size_t q = p;
            while (q < run.size() && run[q].v == run[p].v && run[q].units == run[p].units)
                ++q;
            const int32_t per = run[p].units + 1;
            if (run[p].units != run[0].units || (q - p) % size_t(per) != 0) {
                out += "[bad unit]";
            }
            for (size_t k = 0; k < (q - p) / size_t(per); ++k)
                units.push_back(run[p].v == 0x71 ? 1 : run[p].v == 0x70 ? 0 : 9);
            p = q;
        }
        size_t p = 0;
        auto ones = [&] {
            size_t n = 0;
            while (p < units.size() && units[p] == 1)
                ++n, ++p;
            return n;
        };
        if (size_t n = ones())
            out += "+" + std::to_string(n);
        while (p < units.size()) {
            size_t z = 0;
            while (p + z < units.size() && units[p + z] == 0)
                ++z;
            if (z >= 10 || p + 9 > units.size()) {
                out += "_" + std::to_string(z);
                p += z;
                continue;
            }
            uint8_t c = 0;
            for (int b = 0; b < 8; ++b)
                c |= uint8_t((units[p + 1 + size_t(b)] & 1) << b);
            p += 9;
            char buf[8];
            std::snprintf(buf, sizeof buf, c >= 0x20 && c < 0x7F ? "%c" : "<%02X>", c);
            out += buf;
            const size_t n = ones();
            if (n == 0)
                out += "!";
            else if (n > 1)
                out += "+" + std::to_string(n);
        }
        frames.push_back(out);
        run.clear();
    }
    std::vector<std::string> take()
    {
        flush();
        std::vector<std::string> f;
        f.swap(frames);
        return f;
    }
};

std::vector<std::string> cat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

} // namespace

TEST(G13Window, FramesAndRatesOfEachAction)
{
    G13Station st;
    st.open();
    FrameRecorder rec(st.setup.bench());
    rec.s = &st.s;
    st.s.port = &rec;
    const std::vector<std::string> reset = {"F:A<16>+255", "F:A<16>+255"};
    const std::vector<std::string> opening = {"F:I+39", "F:I+18", "F:I", "<", "S:I", "<", "F:A<16>+255",
                                              "S:I!", "<", "S:+1", "<", "F:A<16>+255"};
    auto read_back = [](int n) {
        const std::string d = std::to_string(n);
        return std::vector<std::string>{"F:V" + d + "!", "<", "F:+1"};
    };
    const std::vector<std::string> identity = {"S:I+107", "S:U", "<", "S:I+107", "S:Z", "<", "S:A<18>+255"};
    struct Case {
        const char* what;
        std::function<void()> act;
        std::vector<std::string> frames;
    };
    const std::vector<std::string> reading = cat({reset, opening, identity, read_back(1), read_back(2), read_back(3),
                                                  read_back(4), read_back(5), read_back(6)});
    const Case cases[] = {
        {"LECTURE", [&] { st.click("Button1"); }, reading},
        {"LECTURE, with LECTURE and Test asked again while it runs",
         [&] {
             QTimer again;
             bool asked = false;
             QObject::connect(&again, &QTimer::timeout, [&] {
                 if (asked || !st.w->transfer()->running())
                     return;
                 asked = true;
                 st.w->Button1Click();
                 st.w->Button4Click();
                 EXPECT_FALSE(st.w->transfer()->run([](Progress&) {}));
             });
             again.start(0);
             st.click("Button1");
             EXPECT_TRUE(asked);
         },
         reading},
        {"Test", [&] { st.mech->push_coin({1, 2, 3, 4}); st.click("Button4"); }, {"F:W!", "<", "F:+1"}},
        {"Mode mesure", [&] { st.find<QSpinBox>("me")->setValue(4); st.click("BitBtn5"); },
         cat({reset, {"S:I+107", "S:J04_60"}, reset, {"S:I+107", "S:U", "<", "S:I+107", "S:A<18>+255"}})},
        {"AJUST OK",
         [&] {
             with_modal(
                 [](QWidget* m) {
                     qobject_cast<TC_canal*>(m)->canal()->setValue(3);
                     qobject_cast<QDialog*>(m)->accept();
                 },
                 [&] { st.click("Button6"); });
             const int v[8] = {130, 90, 210, 45, 100, 60, 190, 20};
             for (int k = 1; k <= 8; ++k)
                 st.find<QSpinBox>(qPrintable(QString("aj%1").arg(k)))->setValue(v[k - 1]);
             st.click("ok");
         },
         cat({{"F:D3+90", "F:130090210045<0D>+60", "F:100060190020<0D>+60", "F:E12/07/26<0D>+255", "F:Z", "<"},
              read_back(3)})},
        {"model write",
         [&] {
             store::ModelRecord r;
             r.type = "NRI1";
             r.piece = "JETON";
             const int c[8] = {1, 0, 2, 0, 3, 0, 4, 0};
             for (int k = 0; k < 8; ++k)
                 r.c[size_t(k)] = c[k];
             ASSERT_TRUE(st.shell.models->append(r, nullptr));
             with_modal([](QWidget* m) { qobject_cast<QDialog*>(m)->accept(); }, [&] { st.click("Button3"); });
             st.find<QSpinBox>("canal_v")->setValue(5);
             st.click("BitBtn3");
         },
         cat({{"M:D5+90", "M:001002003004<0D>+60", "M:000000000000<0D>+60", "M:E12/07/26<0D>+255", "M:Z", "<"},
              read_back(5)})},
        {"teach read", [&] { st.mech->push_coin({1, 2, 3, 4}); nri::Ajust_a(st.s); }, {"F:T!", "<"}},
        {"validation",
         [&] {
             auto* valid = st.shell.dialog<TValid_nri_g13>();
             valid->findChild<QSpinBox*>("canal")->setValue(4);
             valid->findChild<QSpinBox*>("toler")->setValue(5);
             valid->prepare(st.w.get(), {120, 80, 200, 35}, {120, 80, 200, 3});
             valid->BitBtn1Click();
         },
         cat({{"F:D4+90", "F:125085205040<0D>+60", "F:115075195000<0D>+60", "F:E12/07/26<0D>+255", "F:Z", "<"},
              read_back(4)})},
    };
    for (const Case& c : cases) {
        rec.take();
        c.act();
        EXPECT_EQ(rec.take(), c.frames) << c.what;
    }
    st.s.port = &st.setup.bench();
}
