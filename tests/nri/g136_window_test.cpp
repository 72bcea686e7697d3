// The G13.6000 window and its teach windows on the simulated G13.6000:
// what the operator sees after each action, what reaches the mechanism's
// memory, and what is refused.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "app/windows.h"
#include "link/module.h"
#include "nri/g136_link.h"
#include "nri/g136_teach.h"
#include "nri/g136_window.h"
#include "sim/catalogue.h"
#include "sim/g136_mech.h"
#include "store/browsers.h"
#include "store/model_library.h"
#include "store/model_ui.h"
#include "store/tables.h"
#include "tests/common/counting_port.h"
#include "tests/common/modal.h"
#include "ui/c_canal.h"
#include "ui/settings_panel.h"
#include "ui/shell.h"

using namespace zuna;
using zuna::test::with_modal;

namespace {

struct G136Station {
    QTemporaryDir dir;
    sim::SimSetup setup;
    sim::G136Mechanism* mech = nullptr;
    Station s{setup.bench()};
    Shell shell{s};
    std::unique_ptr<store::Tables> tables;
    QWidget parent;
    std::unique_ptr<Tnrig1360000> w;
    QStringList messages;
    QStringList questions; // overlap questions asked before channel writes
    bool overlap_ok = true;

    explicit G136Station(const sim::Faults& f = {}) : setup(1.0, f, "")
    {
        mech = static_cast<sim::G136Mechanism*>(setup.plug("g136"));
        s.measured_module_count = measure_module(*s.port);
        load_delay_counts(s);
        tables = store::open_tables(shell, dir.path(), nullptr);
        create_start_windows(shell, &parent);
    }
    Tnrig1360000& open()
    {
        w = std::make_unique<Tnrig1360000>(shell, &parent);
        w->show_message = [this](const QString& m) { messages << m; };
        w->ask_overlap = [this](const QString& q) {
            questions << q;
            return overlap_ok;
        };
        w->show();
        QApplication::processEvents();
        return *w;
    }
    template <class T = QWidget> T* find(const QString& name) const
    {
        T* c = w->findChild<T*>(name);
        EXPECT_NE(c, nullptr) << name.toStdString();
        return c;
    }
    QString text(const QString& name) const { return find<QLabel>(name)->text(); }
    void click(const QString& name) const { find<QPushButton>(name)->click(); }
    bool lit(int n, int k) const { return w->limit(n, k)->property("allume").toBool(); }
    void shot(QWidget* what, const char* file) const
    {
        if (qEnvironmentVariableIsSet("ZUNA_SHOTS"))
            what->grab().save(qEnvironmentVariable("ZUNA_SHOTS") + "/" + file);
    }
};

QString three(int v) { return QString("%1").arg(v, 3, 10, QChar('0')); }

} // namespace

TEST(G136Window, StartUpOrderAndSpeedItem)
{
    test::CountingPort port;
    Station s(port);
    Shell shell(s);
    QWidget parent;
    create_start_windows(shell, &parent);
    std::vector<QString> names;
    for (QDialog* d : shell.dialogs())
        names.push_back(d->metaObject()->className());
    const auto at = [&](const char* n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
    EXPECT_EQ(at("zuna::Tcalibration_nri_g136"), at("zuna::store::Tfichier") + 1);
    EXPECT_EQ(at("zuna::Tvalid_nri_g136"), at("zuna::Tcalibration_nri_g136") + 1);
    EXPECT_EQ(at("zuna::store::TM_g13_6000"), at("zuna::Tvalid_nri_g136") + 1);
    EXPECT_TRUE(device_window_available("nrig136000"));
    EXPECT_EQ(shell.dialog<Tcalibration_nri_g136>()->windowTitle(), "CALIBRATION NRI G13.6000");
    EXPECT_EQ(shell.dialog<Tvalid_nri_g136>()->windowTitle(), "VALIDATION");
}

TEST(G136Window, ReadingShowsChannelsAndSelectors)
{
    G136Station st;
    st.mech->selector(1, 1) = 15;
    st.mech->selector(2, 6) = 16; // a damaged cell: not a digit
    Tnrig1360000& w = st.open();
    EXPECT_EQ(st.text("c11"), "000");
    EXPECT_EQ(st.text("r126"), "A");
    st.click("Button1");
    for (int n = 1; n <= 12; ++n)
        for (int k = 1; k <= 6; ++k) {
            EXPECT_EQ(w.limit(n, k)->text(), three(st.mech->channel(n)[size_t(2 * k - 2)])) << n << " " << k;
            EXPECT_EQ(w.limit(n, k + 6)->text(), three(st.mech->channel(n)[size_t(2 * k - 1)])) << n << " " << k;
        }
    EXPECT_EQ(st.text("c11"), "120");
    EXPECT_EQ(st.text("c112"), "026");
    EXPECT_EQ(st.text("c1201"), "000");
    EXPECT_EQ(st.text("r11"), "P");
    EXPECT_EQ(st.text("r26"), "Q");
    EXPECT_EQ(st.text("r12"), "C");
    EXPECT_TRUE(st.messages.isEmpty());
    EXPECT_FALSE(st.find<QLabel>("Label36")->isVisible());
    st.shot(&w, "g136_canaux.png");

    // A mechanism that no longer answers: the labels keep the last reading.
    st.setup.plug("none");
    st.click("Button1");
    EXPECT_EQ(st.text("c11"), "120");
    EXPECT_EQ(st.messages, QStringList{"Le monayeur ne répond pas."});
}

TEST(G136Window, CoinTestColoursPairsHoldingTheirMeasurement)
{
    struct Row {
        int selector; // of channel 1, pair 1 (limits 120 / 100)
        int value;    // of that measurement
        bool lit;
    } rows[] = {{15, 100, true}, {15, 120, true}, {15, 99, false}, {15, 121, false},
                {0, 110, true},  {16, 110, false}};
    G136Station st;
    Tnrig1360000& w = st.open();
    for (const Row& r : rows) {
        st.mech->selector(1, 1) = r.selector;
        st.click("Button1");
        sim::G136Mechanism::Measures m{};
        m.fill(255);
        m[size_t(std::min(r.selector, 15))] = r.value;
        st.mech->push_coin(m);
        st.click("Button4");
        EXPECT_EQ(st.lit(1, 1), r.lit) << r.selector << " " << r.value;
        EXPECT_EQ(st.lit(1, 7), r.lit) << r.selector << " " << r.value;
        EXPECT_TRUE(st.find<QLabel>("v_p")->isVisible());
        EXPECT_TRUE(st.text("v_p").startsWith(r.selector == 0 ? three(r.value) + "  255  " : "255  255  "));
    }
    st.shot(&w, "g136_test.png");
    // The view's bands: each pair's window on the measurement it checks (pair
    // 1 of channel 1 now checks "Q": nothing); channel 7 (0..255 everywhere)
    // and the empty 9 to 12 are no band. The coin is the last one tested.
    const settings::BandSet b = w.bands();
    ASSERT_EQ(b.channels.size(), 12u);
    for (int n = 1; n <= 12; ++n) {
        const auto& c = b.channels[size_t(n - 1)];
        EXPECT_EQ(c.enabled, n <= 8 && n != 7) << n;
        std::vector<std::optional<settings::Band>> expected(16);
        for (int k = 1; k <= 6 && c.enabled; ++k)
            if (st.mech->selector(n, k) < 16)
                expected[size_t(st.mech->selector(n, k))] =
                    settings::Band{st.mech->channel(n)[size_t(2 * k - 1)], st.mech->channel(n)[size_t(2 * k - 2)]};
        ASSERT_EQ(c.windows.size(), 16u);
        for (size_t m = 0; m < 16; ++m) {
            ASSERT_EQ(c.windows[m].has_value(), expected[m].has_value()) << n << " " << m;
            if (expected[m]) {
                EXPECT_EQ(c.windows[m]->low, expected[m]->low) << n << " " << m;
                EXPECT_EQ(c.windows[m]->high, expected[m]->high) << n << " " << m;
            }
        }
    }
    sim::G136Mechanism::Measures last{};
    last.fill(255);
    last[15] = 110;
    EXPECT_EQ(b.coin, std::vector<int>(last.begin(), last.end()));
    // No coin: the measurement line stays empty, nothing is lit.
    st.mech->set_coins(false);
    st.click("Button4");
    EXPECT_EQ(st.text("v_p"), "");
    EXPECT_FALSE(w.bands().coin) << "no coin came: no marker";
    EXPECT_FALSE(st.lit(1, 1));
    EXPECT_EQ(st.messages.back(), "Aucune pièce reçue : rien n'a été mesuré.");
}

TEST(G136Window, AdjustmentWritesBlock05ForChannel3)
{
    G136Station st;
    Tnrig1360000& w = st.open();
    st.click("Button1");
    with_modal(
        [](QWidget* m) {
            auto* prompt = qobject_cast<TC_canal*>(m);
            ASSERT_NE(prompt, nullptr);
            EXPECT_EQ(prompt->canal()->maximum(), 12);
            prompt->canal()->setValue(3);
            prompt->accept();
        },
        [&] { st.click("Button5"); });
    ASSERT_TRUE(st.find<QWidget>("ajustement")->isVisible());
    EXPECT_FALSE(st.find<QWidget>("Button1")->isVisible());
    EXPECT_EQ(st.find<QSpinBox>("aj1")->value(), 150);
    EXPECT_EQ(st.find<QSpinBox>("aj7")->value(), 131);
    for (int k = 1; k <= 12; ++k)
        st.find<QSpinBox>(QString("aj%1").arg(k))->setValue(10 * k);
    st.click("ok");
    EXPECT_EQ(st.mech->channel(3), (std::vector<int>{10, 70, 20, 80, 30, 90, 40, 100, 50, 110, 60, 120}));
    EXPECT_NE(std::find(st.mech->log().begin(), st.mech->log().end(), "Z05"), st.mech->log().end());
    EXPECT_EQ(w.limit(3, 1)->text(), "010");
    EXPECT_EQ(w.limit(3, 7)->text(), "070");
    EXPECT_TRUE(st.find<QWidget>("Button1")->isVisible());
    EXPECT_TRUE(st.messages.isEmpty());

    // A write the mechanism does not keep: said, and the read-back shown.
    st.mech->set_write_protected(true);
    with_modal([](QWidget* m) { qobject_cast<TC_canal*>(m)->accept(); }, [&] { st.click("Button5"); });
    st.find<QSpinBox>("aj1")->setValue(1);
    st.click("ok");
    EXPECT_EQ(w.limit(3, 1)->text(), "010");
    ASSERT_EQ(st.messages.size(), 1);
    EXPECT_TRUE(st.messages[0].startsWith("Écriture du canal 3 non confirmée")) << st.messages[0].toStdString();
}

// "Ajust.": "Abandon" in the channel prompt reads nothing and opens no
// panel; while the panel is open the six channel buttons are hidden.
TEST(G136Window, AdjustmentPromptAbandonAndHiddenButtons)
{
    G136Station st;
    st.open();
    st.click("Button1");
    const size_t heard = st.mech->log().size();
    with_modal([](QWidget* m) { qobject_cast<QDialog*>(m)->reject(); }, [&] { st.click("Button5"); });
    EXPECT_EQ(st.mech->log().size(), heard);
    EXPECT_FALSE(st.find<QWidget>("ajustement")->isVisible());
    const QStringList six = {"Button1", "Button3", "Button4", "Button5", "Button8", "Button9"};
    for (const QString& b : six)
        EXPECT_TRUE(st.find<QWidget>(b)->isVisible()) << b.toStdString();

    with_modal([](QWidget* m) { qobject_cast<QDialog*>(m)->accept(); }, [&] { st.click("Button5"); });
    ASSERT_TRUE(st.find<QWidget>("ajustement")->isVisible());
    for (const QString& b : six)
        EXPECT_FALSE(st.find<QWidget>(b)->isVisible()) << b.toStdString();
    st.click("ab");
    for (const QString& b : six)
        EXPECT_TRUE(st.find<QWidget>(b)->isVisible()) << b.toStdString();
}

// A write that is not read back leaves its cells unknown until a reading:
// "????", no light in the coin test, no band; the tables half-checked and
// not written again.
TEST(G136Window, UnconfirmedWritesShowUnknownUntilARead)
{
    G136Station st;
    Tnrig1360000& w = st.open();
    st.click("Button1");
    st.find<QTabWidget>("PageControl1")->setCurrentIndex(1);
    st.find<QTabWidget>("PageControl1")->setCurrentIndex(0);
    ASSERT_TRUE(w.bands().channels[2].enabled);
    st.mech->set_power_cut_after(1);
    with_modal(
        [](QWidget* m) {
            qobject_cast<TC_canal*>(m)->canal()->setValue(3);
            qobject_cast<QDialog*>(m)->accept();
        },
        [&] { st.click("Button5"); });
    st.click("ok");
    ASSERT_EQ(st.messages.size(), 1);
    EXPECT_EQ(st.messages[0], "Écriture du canal 3 non confirmée : le monnayeur ne répond pas à la relecture. "
                              "Le contenu du canal est inconnu, relisez le monnayeur.");
    for (int j = 1; j <= 12; ++j)
        EXPECT_EQ(w.limit(3, j)->text(), "????") << j;
    EXPECT_FALSE(w.bands().channels[2].enabled);
    EXPECT_TRUE(w.bands().channels[1].enabled);

    // The mechanism back with the old channel 3: a coin inside it lights nothing until a reading.
    st.setup.plug("g136");
    st.mech = static_cast<sim::G136Mechanism*>(st.setup.mechanism());
    sim::G136Mechanism::Measures m{};
    m.fill(255);
    for (int k = 1; k <= 6; ++k)
        m[size_t(st.mech->selector(3, k))] = st.mech->channel(3)[size_t(2 * k - 1)];
    st.mech->push_coin(m);
    st.click("Button4");
    for (int k = 1; k <= 6; ++k)
        EXPECT_FALSE(st.lit(3, k)) << k;
    st.click("Button1");
    EXPECT_EQ(w.limit(3, 1)->text(), three(st.mech->channel(3)[0]));
    EXPECT_TRUE(w.bands().channels[2].enabled);

    // Tables written, not read back: every box half-checked, the offsets unknown.
    st.messages.clear();
    st.find<QTabWidget>("PageControl1")->setCurrentIndex(1);
    st.mech->set_power_cut_after(1);
    st.click("Button7");
    ASSERT_EQ(st.messages.size(), 1);
    EXPECT_EQ(st.messages[0], "Tables écrites mais non confirmées : le monnayeur ne répond pas à la relecture de la "
                              "table « Signal Sortie », leur contenu est inconnu (relisez les tables).");
    for (const char* name : {"ch1", "ii1", "sm1", "fb1"})
        EXPECT_EQ(st.find<QCheckBox>(name)->checkState(), Qt::PartiallyChecked) << name;
    EXPECT_EQ(st.find<QSpinBox>("offa")->text(), "????");
    const size_t sent = st.mech->log().size();
    st.click("Button7");
    EXPECT_EQ(st.mech->log().size(), sent);
    EXPECT_TRUE(st.messages.back().contains("faites d'abord « Lecture »"));
}

// A mechanism that keeps a write wrong or not at all, or answers as a
// G13.0000: the operator is told, and the window shows only what was read.
TEST(G136Window, MechanismFaultsAreToldAndOnlyWhatWasReadIsShown)
{
    const QString differs = "Écriture du canal 3 non confirmée : la relecture diffère de ce qui a été écrit. Les "
                            "valeurs affichées sont celles relues.";
    struct Row {
        const char* fault;
        const char* action; // "Ajust." of channel 3 to 10, 70, 20, 80 ..., "Ecriture", "Lecture"
        QString shown;      // channel 3's first limit, or box "ch2"
        QString message;
    } rows[] = {
        {"wrong-readback=1", "Ajust.", "011", differs},
        {"lost-write=1", "Ajust.", "150", differs},
        {"lost-write=1", "Ecriture", "unchecked",
         "Tables non confirmées : la relecture diffère de ce qui a été écrit pour : Signal Sortie. Les cases "
         "montrent ce qui a été relu."},
        {"other-family", "Lecture", "000",
         "Ce monnayeur répond comme un G13.0000 (« 0= »), pas comme un G13.6000 : rien n'est lu ni écrit. Ouvrez "
         "la fenêtre NRI G13.0000."},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.fault) + " " + r.action);
        sim::Faults f;
        ASSERT_TRUE(sim::parse_faults(r.fault, f, nullptr));
        G136Station st(f);
        Tnrig1360000& w = st.open();
        st.click("Button1");
        const std::string action = r.action;
        if (action == "Ajust.") {
            with_modal(
                [](QWidget* m) {
                    qobject_cast<TC_canal*>(m)->canal()->setValue(3);
                    qobject_cast<QDialog*>(m)->accept();
                },
                [&] { st.click("Button5"); });
            for (int k = 1; k <= 12; ++k)
                st.find<QSpinBox>(QString("aj%1").arg(k))->setValue(10 * k);
            st.click("ok");
            EXPECT_EQ(w.limit(3, 1)->text(), r.shown);
            EXPECT_EQ(w.limit(3, 1)->text(), three(st.mech->channel(3)[0]));
        } else if (action == "Ecriture") {
            st.find<QTabWidget>("PageControl1")->setCurrentIndex(1);
            st.find<QCheckBox>("ch2")->setChecked(true); // channel 1's byte 0x01 becomes 0x41
            st.click("Button7");
            EXPECT_EQ(st.mech->block(0x0F)[0], 0x01);
            EXPECT_EQ(st.find<QCheckBox>("ch2")->checkState(), Qt::Unchecked);
        } else {
            EXPECT_EQ(w.limit(3, 1)->text(), r.shown);
        }
        EXPECT_EQ(st.messages, QStringList{r.message});
    }
}

TEST(G136Window, ModelsAreStoredFromTheMechanismAndWritten)
{
    G136Station st;
    Tnrig1360000& w = st.open();
    st.click("Button1");
    st.click("Button8");
    EXPECT_EQ(st.find<QSpinBox>("canal")->maximum(), 12);
    st.find<QSpinBox>("canal")->setValue(2);
    st.find<QLineEdit>("piece")->setText("2 EUROS");
    st.click("BitBtn1");
    EXPECT_FALSE(st.find<QWidget>("choix_c")->isVisible());
    ASSERT_TRUE(st.shell.models->set_filter("type = 'NRI2'", nullptr));
    ASSERT_TRUE(st.shell.models->first());
    store::ModelRecord r = *st.shell.models->current();
    EXPECT_EQ(r.piece, "2 EUROS");
    for (int k = 0; k < 12; ++k)
        EXPECT_EQ(r.c[size_t(k)].value_or(-1), st.mech->channel(2)[size_t(k)]) << "C" << k + 1;
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(r.t[size_t(k)].value_or(-1), st.mech->selector(2, k + 1)) << "T" << k + 1;

    // Written to channel 12: block "0E", selector digits 66 to 71, the others kept.
    std::vector<int> selectors = st.mech->block(0x13);
    auto write = [&](const store::ModelRecord& model, int channel) {
        st.shell.models->delete_current(nullptr);
        ASSERT_TRUE(st.shell.models->append(model, nullptr));
        with_modal(
            [&](QWidget* m) {
                auto* browser = qobject_cast<store::TM_g13_6000*>(m);
                ASSERT_NE(browser, nullptr);
                st.shot(browser, "g136_model.png");
                browser->accept();
            },
            [&] { st.click("Button9"); });
        ASSERT_TRUE(st.find<QWidget>("vers_c")->isVisible());
        EXPECT_EQ(st.text("f_p"), QString::fromStdString(model.piece));
        st.find<QSpinBox>("canal_v")->setValue(channel);
        st.click("BitBtn3");
    };
    r.c[0] = 300; // limited to 255
    // Channel 12 would accept the coins of channel 2: asked first; refused, nothing is sent.
    st.overlap_ok = false;
    const size_t sent = st.mech->log().size();
    write(r, 12);
    EXPECT_EQ(st.questions, QStringList{"Les canaux 2 et 12 se recouvrent : une même pièce serait acceptée par "
                                        "les deux. Écrire quand même ?"});
    EXPECT_EQ(st.mech->log().size(), sent);
    st.overlap_ok = true;
    write(r, 12);
    EXPECT_FALSE(st.find<QWidget>("vers_c")->isVisible());
    std::vector<int> block(st.mech->channel(2));
    block[0] = 255;
    EXPECT_EQ(st.mech->channel(12), block);
    for (int k = 0; k < 6; ++k)
        selectors[size_t(66 + k)] = st.mech->selector(2, k + 1);
    EXPECT_EQ(st.mech->block(0x13), selectors);
    EXPECT_EQ(w.limit(12, 1)->text(), "255");
    EXPECT_EQ(st.text("r121"), QString(QChar('A' + selectors[66])));
    EXPECT_TRUE(st.messages.isEmpty()) << st.messages.join("\n").toStdString();

    // A T blank or outside 0..15 has no digit: the model is refused, nothing sent.
    for (std::optional<int> t : {std::optional<int>{}, std::optional<int>{16}, std::optional<int>{-1}}) {
        store::ModelRecord bad = r;
        bad.piece = "JETON";
        bad.t[3] = t;
        const size_t before = st.mech->log().size();
        st.messages.clear();
        write(bad, 4);
        EXPECT_EQ(st.mech->log().size(), before);
        ASSERT_EQ(st.messages.size(), 1);
        EXPECT_TRUE(st.messages[0].contains("T4 entre 0 et 15")) << st.messages[0].toStdString();
    }

    // A silent mechanism stores no model.
    st.setup.plug("none");
    st.messages.clear();
    const int count = st.shell.models->visible_count();
    st.click("Button8");
    st.click("BitBtn1");
    EXPECT_EQ(st.shell.models->visible_count(), count);
    EXPECT_EQ(st.messages, QStringList{"Le monayeur ne répond pas : aucun modèle n'a été enregistré."});
}

TEST(G136Window, TablesPage)
{
    G136Station st;
    st.mech->block(0x0F)[0] = 0x81;
    st.mech->block(0x11)[0] = 0x05;
    st.mech->block(0x11)[1] = 0xA0;
    Tnrig1360000& w = st.open();
    // "Ecriture" before the tables were read would write blank boxes.
    st.click("Button7");
    ASSERT_EQ(st.messages.size(), 1);
    EXPECT_TRUE(st.messages[0].contains("faites d'abord « Lecture »"));
    EXPECT_EQ(std::count(st.mech->log().begin(), st.mech->log().end(), "E9"), 0);

    // Entering the page reads them.
    st.find<QTabWidget>("PageControl1")->setCurrentIndex(1);
    auto box = [&](const QString& name) { return st.find<QCheckBox>(name)->isChecked(); };
    struct Row {
        const char* name;
        bool checked;
    } rows[] = {
        {"ch1", true},         {"ch2", false},        {"ch7", false},         {"ch8", true},
        {"CheckBox98", true},  {"CheckBox100", true}, {"sm1", false},         {"CheckBox99", false},
        {"CheckBox101", true}, {"CheckBox103", true}, {"CheckBox102", false}, {"CheckBox104", false},
        {"ii1", true},         {"CheckBox64", true},  {"CheckBox65", false},  {"fb4", true},
    };
    for (const Row& r : rows)
        EXPECT_EQ(box(r.name), r.checked) << r.name;
    EXPECT_EQ(st.find<QSpinBox>("offa")->value(), 30);
    EXPECT_EQ(st.find<QSpinBox>("offE")->value(), 20);
    EXPECT_EQ(st.find<QSpinBox>("offa")->maximum(), 255);
    st.shot(&w, "g136_tables.png");
    // The mechanism as it is, kept in a settings file.
    SettingsPanel& panel = *w.settings_panel();
    panel.choose_file = [&](bool) { return st.dir.filePath("g136.zuna.json"); };
    panel.tell = [&](const QString& m) { st.messages << m; };
    panel.save();
    ASSERT_EQ(st.messages.size(), 2);
    EXPECT_EQ(st.messages[1], "Réglages enregistrés dans g136.zuna.json.");

    // Channel 1 coil 5, channel 2 coil 10: one frame "5A".
    st.find<QCheckBox>("ch96")->setChecked(true);
    st.find<QCheckBox>("CheckBox96")->setChecked(true);
    st.find<QSpinBox>("offa")->setValue(255);
    st.messages.clear();
    st.click("Button7");
    EXPECT_TRUE(st.messages.isEmpty()) << st.messages.join("\n").toStdString();
    EXPECT_EQ(st.mech->block(0x11)[0], 0x05);
    EXPECT_EQ(st.mech->block(0x11)[1], 0xA0);
    EXPECT_EQ(st.mech->block(0x0F)[11] & 1, 1);
    EXPECT_EQ(st.mech->block(0x12)[11] & 1, 1);
    EXPECT_EQ(st.mech->block(0x18)[4], 255);

    // Restored from the file: the three settings changed, and both pages show the mechanism again.
    std::vector<std::string> shown;
    panel.confirm = [&](const settings::Comparison& c) {
        shown = c.to_write();
        return true;
    };
    panel.restore();
    EXPECT_EQ(shown, (std::vector<std::string>{"Signal Sortie/Canal 12", "Valid canal/Canal 12", "Offset A"}));
    EXPECT_EQ(st.messages, QStringList{"3 réglages écrits, tous vérifiés"});
    EXPECT_EQ(st.mech->block(0x18)[4], 30);
    EXPECT_EQ(st.find<QSpinBox>("offa")->value(), 30);
    EXPECT_FALSE(box("ch96"));
    st.messages.clear();

    // Not kept by the mechanism: said, and the boxes show what it holds.
    st.mech->set_write_protected(true);
    st.find<QCheckBox>("ch2")->setChecked(true);
    st.click("Button7");
    ASSERT_EQ(st.messages.size(), 1);
    EXPECT_TRUE(st.messages[0].contains("Signal Sortie")) << st.messages[0].toStdString();
    EXPECT_FALSE(box("ch2"));
}

// "Arrêter" during a reading paced to the wall clock (2 s): it ends between
// two blocks; the channels not read keep their labels and say so.
TEST(G136Window, StopDuringTheReading)
{
    G136Station st;
    Tnrig1360000& w = st.open();
    st.setup.pace_real_time();
    QTimer clicker;
    bool clicked = false;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        for (QPushButton* b : w.findChildren<QPushButton*>("Arreter"))
            if (!clicked && b->isVisible() && b->isEnabled()) {
                clicked = true;
                b->click();
            }
    });
    clicker.start(300);
    st.click("Button1");
    clicker.stop();
    ASSERT_TRUE(clicked);
    ASSERT_EQ(st.messages.size(), 1);
    EXPECT_TRUE(st.messages[0].startsWith("Lecture arrêtée")) << st.messages[0].toStdString();
    EXPECT_EQ(st.text("Label12"), "Canal 12 : non relu");
    EXPECT_EQ(st.text("c1201"), "000");
    EXPECT_FALSE(st.find<QWidget>("progresse")->isVisible());
}

TEST(G136Window, DelayCountBelowOneIsRefused)
{
    G136Station st;
    st.s.delay.g136 = 0;
    st.open();
    const size_t heard = st.mech->log().size();
    st.click("Button1");
    st.click("Button4");
    ASSERT_EQ(st.messages.size(), 2);
    EXPECT_EQ(st.messages[0],
              "Le compte de délai G136 vaut 0 : il faut le calibrer (ZUNA07) avant de dialoguer avec le monayeur.");
    EXPECT_EQ(st.mech->log().size(), heard);
}

// ---- Teach and validation ----------------------------------------------

namespace {
struct Teach {
    G136Station& st;
    Tcalibration_nri_g136* teach;
    Tvalid_nri_g136* valid;
    explicit Teach(G136Station& s)
        : st(s), teach(s.shell.dialog<Tcalibration_nri_g136>()), valid(s.shell.dialog<Tvalid_nri_g136>())
    {
    }
    QString text(const QString& name) const { return teach->findChild<QLabel*>(name)->text(); }
    // Runs body inside the teach window opened by "Calib. Piece".
    void run(const std::function<void()>& body)
    {
        with_modal([&](QWidget*) { body(); }, [&] { st.click("Button3"); });
    }
    void collect(int coins)
    {
        teach->findChild<QSpinBox*>("nb_piece")->setValue(coins);
        teach->findChild<QPushButton*>("BitBtn1")->click();
    }
    // ok, then the validation with a channel and a tolerance.
    void validate(int channel, int tolerance)
    {
        with_modal(
            [&](QWidget* v) {
                ASSERT_EQ(v, valid);
                valid->findChild<QSpinBox*>("canal")->setValue(channel);
                valid->findChild<QSpinBox*>("toler")->setValue(tolerance);
                valid->findChild<QPushButton*>("BitBtn1")->click();
                if (valid->isVisible())
                    valid->reject();
            },
            [&] { teach->findChild<QPushButton*>("ok")->click(); });
    }
};

sim::G136Mechanism::Measures coin(int base)
{
    sim::G136Mechanism::Measures m{};
    for (int k = 0; k < 16; ++k)
        m[size_t(k)] = base + k;
    return m;
}
} // namespace

TEST(G136Teach, CollectKeepsItsExtremesAndTheValidationWritesTheSelectedOnes)
{
    G136Station st;
    st.mech->selector(5, 1) = 2;  // pair 1 checks "C"
    st.mech->selector(5, 2) = 15; // pair 2 checks "P"
    Tnrig1360000& w = st.open();
    st.click("Button1");
    Teach t(st);
    t.run([&] {
        EXPECT_EQ(t.text("m1"), "0");
        EXPECT_EQ(t.text("B16"), "255");
        st.mech->push_coin(coin(100));
        auto p = coin(110);
        p[15] = 250;
        st.mech->push_coin(p);
        t.collect(2);
        EXPECT_EQ(t.text("m3"), "112");
        EXPECT_EQ(t.text("b3"), "102");
        EXPECT_EQ(t.text("D16"), "250");
        // A second LECTURE widens the same extremes.
        auto q = coin(90);
        q[15] = 12;
        st.mech->push_coin(q);
        t.collect(1);
        EXPECT_EQ(t.text("b3"), "92");
        EXPECT_EQ(t.text("m3"), "112");
        EXPECT_EQ(t.text("M16"), "250");
        EXPECT_EQ(t.text("B16"), "12");
        EXPECT_EQ(t.teach->findChild<QSpinBox*>("nb_piece")->value(), 1);
        EXPECT_EQ(w.bands().samples.size(), 3u); // every coin of both collects, for the view
        EXPECT_EQ(w.bands().samples.size() > 2 ? w.bands().samples[2][15] : -1, 12); // not ASSERT: modal open
        st.shot(t.teach, "g136_calibration.png");
        t.validate(5, 10);
    });
    const std::vector<int>& ch = st.mech->channel(5);
    EXPECT_EQ(ch[0], 122); // M3 + 10
    EXPECT_EQ(ch[1], 82);  // b3 - 10
    EXPECT_EQ(ch[2], 255); // 250 + 10, limited
    EXPECT_EQ(ch[3], 2);   // 12 - 10
    EXPECT_EQ(w.limit(5, 1)->text(), "122");
    EXPECT_EQ(w.limit(5, 8)->text(), "002");
    EXPECT_TRUE(w.bands().samples.empty()) << "the teach is over";
    EXPECT_TRUE(st.messages.isEmpty()) << st.messages.join("\n").toStdString();
}

TEST(G136Teach, RefusedCollectsAndValidations)
{
    struct Row {
        const char* what;
        bool read_first;          // "Lecture" before the teach
        std::function<void(G136Station&)> arrange;
        const char* attente;      // part of the teach window's text ("" none)
        const char* message;      // part of the window's message ("" none)
    } rows[] = {
        {"no coin comes: no zeros, nothing to validate", true,
         [](G136Station& st) { st.mech->set_coins(false); }, "Pas de pièce reçue", ""},
        {"selectors never read", false, [](G136Station&) {}, "", "faites d'abord « Lecture »"},
        {"a pair that checks no measurement", true, [](G136Station& st) { st.mech->selector(1, 4) = 16; }, "",
         "ne contrôle aucune mesure (« Q »)"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        G136Station st;
        r.arrange(st);
        st.open();
        if (r.read_first)
            st.click("Button1");
        const std::vector<int> before = st.mech->channel(1);
        Teach t(st);
        t.run([&] {
            st.mech->push_coin(coin(50));
            t.collect(1);
            EXPECT_TRUE(t.text("attente").contains(r.attente)) << t.text("attente").toStdString();
            if (*r.attente) {
                EXPECT_EQ(t.text("b1"), "255"); // no coin counted
            }
            if (t.teach->findChild<QPushButton*>("ok")->isEnabled())
                t.validate(1, 0);
            t.teach->reject();
        });
        EXPECT_EQ(st.mech->channel(1), before);
        if (*r.message) {
            ASSERT_FALSE(st.messages.isEmpty());
            EXPECT_TRUE(st.messages.back().contains(r.message)) << st.messages.back().toStdString();
        }
    }
}
