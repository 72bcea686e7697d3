// The model browsers and the two model operations, on a real mall7.dbf.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QToolButton>

#include "ui/c_canal.h"
#include "ui/shell.h"
#include "app/windows.h"
#include "common/counting_port.h"
#include "common/modal.h"
#include "store/browsers.h"
#include "store/frequency_table.h"
#include "store/model_table.h"
#include "store/model_ui.h"
#include "store/tables.h"
#include "store_test_util.h"

namespace zuna::store {
namespace {

using testing::ScratchDir;

// Runs act on the next modal dialog, once it is shown (bounded wait).
void on_next_modal(std::function<void(QDialog*)> act, int tries = 200)
{
    QTimer::singleShot(5, [act, tries] {
        if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget()); d && d->isVisible())
            act(d);
        else if (tries > 0)
            on_next_modal(act, tries - 1);
    });
}

void click(QDialog* d, const char* name)
{
    auto* b = d->findChild<QAbstractButton*>(name);
    ASSERT_TRUE(b) << name;
    b->click();
}

class Browsers : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error, notice;
        auto t = open_model_table(dir.path(), &error, &notice);
        ASSERT_TRUE(t) << error;
        table = t.get();
        owned = std::move(t);
        shell.models = table;
        for (const ModelRecord& r : {model("C120", "UN EURO", 100), model("C22B", "DEUX EUROS", 200),
                                     model("C120", "CINQ FRANCS", 300), model("NRI2", "JETON", 400),
                                     model("rm4", "DIX CENTS", 500)})
            ASSERT_TRUE(table->append(r, &error)) << error;
        create_start_windows(shell, &parent);
        set_model_message_handler([this](QWidget*, const QString& m) { messages << m; });
    }
    void TearDown() override { set_model_message_handler({}); }

    static ModelRecord model(const std::string& type, const std::string& piece, int base)
    {
        ModelRecord r;
        r.type = type;
        r.piece = piece;
        for (int i = 0; i < 12; ++i)
            r.c[i] = base + i + 1;
        for (int i = 0; i < 6; ++i)
            r.t[i] = 'A' + i;
        return r;
    }

    ScratchDir dir;
    test::CountingPort port;
    Station station{port};
    Shell shell{station};
    QWidget parent;
    std::unique_ptr<ModelTable> owned;
    ModelTable* table = nullptr;
    QStringList messages;
};

TEST_F(Browsers, AreCreatedAtStartUpInTheirOrderWithTheirCaptions)
{
    // The whole start-up order is checked with the main window; here, that the three are there.
    ASSERT_TRUE(shell.dialog<Tfichier>());
    ASSERT_TRUE(shell.dialog<TM_g13_6000>());
    ASSERT_TRUE(shell.dialog<Tm_c120>());
    EXPECT_EQ(shell.dialog<Tfichier>()->windowTitle(), "Modèles de programation");
    EXPECT_EQ(shell.dialog<TM_g13_6000>()->windowTitle(), "Modèle sde programation");
    EXPECT_EQ(shell.dialog<Tm_c120>()->windowTitle(), "Modèles de programation");
}

TEST_F(Browsers, ShowTheirColumnsButtonsAndHints)
{
    struct Case {
        ModelBrowser* browser;
        QString ok;
        QStringList top, bottom, hints;
        bool piece_caption;
    };
    const QStringList plain = {"Premier enregistrement", "Enregistrement précédent", "Enregistrement suivant",
                               "Dernier enregistrement", "Supprimer l'enregistrement"};
    const Case cases[] = {
        {shell.dialog<Tm_c120>(), "Ok", {"C1", "C3", "C5"}, {"C2", "C4", "C6"}, plain, true},
        {shell.dialog<Tfichier>(),
         "OK",
         {"C1", "C3", "C5", "C7"},
         {"C2", "C4", "C6", "C8"},
         {"première fiche", "une fiche arrière", "une fiche avant", "dernière fiche", "suprimez une fiche"},
         false},
        {shell.dialog<TM_g13_6000>(),
         "Ok",
         {"C1", "C3", "C5", "C7", "C9", "C11"},
         {"C2", "C4", "C6", "C8", "C10", "C12"},
         plain,
         false},
    };
    for (const auto& c : cases) {
        ModelBrowser* b = c.browser;
        SCOPED_TRACE(b->objectName().toStdString());
        b->show();
        EXPECT_EQ(b->findChild<QPushButton*>("BitBtn1")->text(), c.ok);
        EXPECT_EQ(b->findChild<QPushButton*>("BitBtn2")->text(), "Abandon");
        const char* nav[] = {"nbFirst", "nbPrior", "nbNext", "nbLast", "nbDelete"};
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(b->navigator_button(nav[i])->toolTip(), c.hints[i]);
        ASSERT_TRUE(b->field_label("PIECE"));
        EXPECT_EQ(bool(b->findChild<QLabel*>("Label1")), c.piece_caption);
        for (int i = 0; i < c.top.size(); ++i) {
            QLabel* up = b->field_label(c.top[i]);
            QLabel* down = b->field_label(c.bottom[i]);
            ASSERT_TRUE(up && down);
            EXPECT_EQ(up->x(), down->x());
            EXPECT_LT(up->y(), down->y());
            if (i > 0) {
                EXPECT_LT(b->field_label(c.top[i - 1])->x(), up->x());
            }
        }
        // Only the columns of that browser.
        const int shown = int(b->findChildren<QLabel*>(QRegularExpression("^C\\d+$")).size());
        EXPECT_EQ(shown, c.top.size() * 2);
        b->hide();
    }
}

TEST_F(Browsers, NavigatorMovesTheSharedCursorAndRefreshesTheLabels)
{
    std::string error;
    ASSERT_TRUE(table->set_filter("type = 'C120'", &error));
    auto* b = shell.dialog<Tm_c120>();
    b->show();
    EXPECT_EQ(b->field_label("PIECE")->text(), "UN EURO");
    EXPECT_EQ(b->field_label("C5")->text(), "105");
    EXPECT_FALSE(b->navigator_button("nbPrior")->isEnabled());
    b->navigator_button("nbNext")->click();
    EXPECT_EQ(b->field_label("PIECE")->text(), "CINQ FRANCS");
    EXPECT_EQ(b->field_label("C2")->text(), "302");
    EXPECT_EQ(table->current()->piece, "CINQ FRANCS");
    EXPECT_FALSE(b->navigator_button("nbNext")->isEnabled());
    b->navigator_button("nbFirst")->click();
    EXPECT_EQ(b->field_label("PIECE")->text(), "UN EURO");

    // Delete asks first, in French; "Non" keeps the record. With
    // ZUNA_SHOT_DIR set, the question is saved as a picture.
    test::on_modal([](QWidget* d) {
        QStringList texts;
        for (QAbstractButton* button : d->findChildren<QAbstractButton*>())
            texts << button->text().remove('&');
        EXPECT_TRUE(texts.contains("Oui") && texts.contains("Non")) << texts.join(',').toStdString();
        if (qEnvironmentVariableIsSet("ZUNA_SHOT_DIR"))
            d->grab().save(qEnvironmentVariable("ZUNA_SHOT_DIR") + "/delete_confirmation.png");
        for (QAbstractButton* button : d->findChildren<QAbstractButton*>())
            if (button->text().remove('&') == "Non")
                button->click();
    });
    b->navigator_button("nbDelete")->click();
    EXPECT_EQ(table->visible_count(), 2);
    int asked = 0;
    b->confirm_delete = [&](QWidget*) { return ++asked == 2; };
    b->navigator_button("nbDelete")->click();
    EXPECT_EQ(table->visible_count(), 2);
    b->navigator_button("nbDelete")->click();
    EXPECT_EQ(table->visible_count(), 1);
    EXPECT_EQ(b->field_label("PIECE")->text(), "CINQ FRANCS");
    EXPECT_TRUE(b->navigator_button("nbDelete")->isEnabled());
    b->hide();

    // On a table that cannot be written, delete is not offered.
    ModelTable viewer(DbfFile::open(table->file().path(), &error, nullptr, DbfFile::Access::read_only));
    shell.models = &viewer;
    b->show();
    EXPECT_EQ(b->field_label("PIECE")->text(), "CINQ FRANCS");
    EXPECT_TRUE(b->navigator_button("nbNext")->isEnabled());
    EXPECT_FALSE(b->navigator_button("nbDelete")->isEnabled());
    b->hide();
    shell.models = table;
}

TEST_F(Browsers, G13BrowserShowsTheTColumnsAsCharacters)
{
    std::string error;
    ModelRecord r = model("NRI2", "SPÉCIAL", 0);
    r.t = {int('x'), 0xE9, std::nullopt, 0, 300, int('7')};
    ModelRecord al3 = r;
    al3.type = "ALB3";
    ASSERT_TRUE(table->append(al3, &error)) << error;
    ASSERT_TRUE(table->append(r, &error)) << error;
    ASSERT_TRUE(table->set_filter("type = 'NRI2'", &error));
    auto* b = shell.dialog<TM_g13_6000>();
    b->show();
    const auto t = [&](int n) { return b->findChild<QLabel*>(QString("t%1t").arg(n))->text(); };
    EXPECT_EQ(t(1), "A");
    EXPECT_EQ(t(6), "F");
    b->navigator_button("nbLast")->click();
    EXPECT_EQ(b->field_label("PIECE")->text(), "SPÉCIAL");
    EXPECT_EQ(t(1), "x");
    EXPECT_EQ(t(2), "é");
    EXPECT_EQ(t(3), "");
    EXPECT_EQ(t(4), "A"); // an NRI2 selector 0..15 is the measurement's letter
    EXPECT_EQ(t(5), "");
    EXPECT_EQ(t(6), "7");
    // Refreshed when shown again after another window moved the cursor.
    b->hide();
    table->first();
    b->show();
    EXPECT_EQ(t(1), "A");
    ASSERT_TRUE(table->set_filter("type = 'ALB3'", &error));
    b->navigator_button("nbLast")->click();
    EXPECT_EQ(t(4), ""); // other makes: the character whose code it is
    b->hide();
}

TEST_F(Browsers, ChooseModelShowsTheFamilyBrowserAndReturnsTheRecordOnOk)
{
    const std::vector<std::pair<std::string, const char*>> cases = {
        {"C120", "m_c120"},     {"C22B", "m_c120"},  {"RM3", "m_c120"},      {"C220", "m_c120"},
        {"rm4", "fichier"},     {"NRI1", "fichier"}, {"NRI2", "M_g13_6000"}, {"ALB3", "M_g13_6000"},
    };
    for (const auto& [code, browser] : cases) {
        SCOPED_TRACE(code);
        QString shown;
        on_next_modal([&](QDialog* d) {
            shown = d->objectName();
            click(d, "BitBtn1");
        });
        const auto chosen = choose_model(shell, &parent, code);
        EXPECT_EQ(shown, browser);
        EXPECT_EQ(table->cursor().filter_text(), "type = '" + code + "'");
        if (table->visible_count() > 0) {
            ASSERT_TRUE(chosen);
            EXPECT_EQ(chosen->type, code);
        } else {
            EXPECT_FALSE(chosen);
        }
    }
}

TEST_F(Browsers, ChooseModelTakesTheRecordTheOperatorMovedTo)
{
    on_next_modal([&](QDialog* d) {
        click(d, "nbNext");
        click(d, "BitBtn1");
    });
    const auto chosen = choose_model(shell, &parent, "C120");
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->piece, "CINQ FRANCS");
    EXPECT_EQ(chosen->c[0], 301);
    EXPECT_TRUE(messages.isEmpty());

    // A model another station stored on the same folder meanwhile is offered too.
    std::string error, notice;
    auto other = open_model_table(dir.path(), &error, &notice);
    ASSERT_TRUE(other) << error;
    ASSERT_TRUE(other->append(model("C120", "DEUX FRANCS", 600), &error)) << error;
    on_next_modal([&](QDialog* d) {
        click(d, "nbLast");
        click(d, "BitBtn1");
    });
    const auto theirs = choose_model(shell, &parent, "C120");
    ASSERT_TRUE(theirs);
    EXPECT_EQ(theirs->piece, "DEUX FRANCS");
}

TEST_F(Browsers, AbortEmptySetAndMissingTableChooseNothing)
{
    on_next_modal([&](QDialog* d) { click(d, "BitBtn2"); });
    EXPECT_FALSE(choose_model(shell, &parent, "C120"));
    EXPECT_EQ(shell.dialog<Tm_c120>()->result(), ModelBrowser::AbortResult);
    EXPECT_TRUE(messages.isEmpty());

    on_next_modal([&](QDialog* d) { click(d, "BitBtn1"); });
    EXPECT_FALSE(choose_model(shell, &parent, "ALB3"));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Aucun modèle n'a été choisi : il n'y a pas de modèle enregistré pour ce monnayeur.");

    shell.models = nullptr;
    EXPECT_FALSE(choose_model(shell, &parent, "C120"));
    EXPECT_FALSE(store_model(shell, &parent, model("C120", "X", 0)));
    ASSERT_EQ(messages.size(), 3);
    EXPECT_NE(messages[1].indexOf("mall7.dbf"), -1);
}

TEST_F(Browsers, StoreModelRefusesABadRecordAndSaysWhy)
{
    ModelRecord bad = model("C120", "TROP GRAND", 0);
    bad.c[2] = 40000;
    EXPECT_FALSE(store_model(shell, &parent, bad));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "40000 n'est pas une valeur correcte pour le champ 'C3'. Les valeurs doivent être "
                           "comprises entre -32768 et 32767");
    EXPECT_TRUE(store_model(shell, &parent, model("C120", "", 0)));
    EXPECT_EQ(table->current()->piece, "");
}

TEST_F(Browsers, CoinNamesAreUpperCasedOnlyIntoCharactersTheTableHas)
{
    struct Case {
        uint8_t driver; // language driver byte of mall7.dbf
        QString typed, upper;
    };
    const Case cases[] = {
        {0x57, "pièce ÿ", "PIÈCE Ÿ"}, // cp1252 has Ÿ
        {0x02, "pièce ÿ", "PIÈCE ÿ"}, // cp850 has ÿ but not Ÿ
        {0x02, "µß œ", "µß œ"},       // capitals outside the page, or of two letters
        {0x57, "œ", "Œ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString() + " " + std::to_string(c.driver));
        std::string bytes = testing::read_bytes(table->file().path());
        bytes[29] = char(c.driver);
        testing::write_bytes(table->file().path(), bytes);
        std::string error, notice;
        auto t = open_model_table(dir.path(), &error, &notice);
        ASSERT_TRUE(t) << error;
        shell.models = t.get();
        const QString name = upper_name(shell, c.typed);
        EXPECT_EQ(name, c.upper);
        messages.clear();
        EXPECT_EQ(store_model(shell, &parent, model("C120", name.toStdString(), 0)),
                  t->can_store_text(c.typed.toStdString()));
        if (c.driver == 0x02) {
            // A refusal names the character.
            messages.clear();
            EXPECT_FALSE(store_model(shell, &parent, model("C120", "PIÈCE Ÿ", 0)));
            ASSERT_EQ(messages.size(), 1);
            EXPECT_EQ(messages[0], "Le texte « PIÈCE Ÿ » du champ 'PIECE' contient le caractère « Ÿ », que la table "
                                   "(page de codes 850) ne peut pas enregistrer.");
        }
        shell.models = table;
    }
    shell.models = nullptr;
    EXPECT_EQ(upper_name(shell, "ÿ ß"), "Ÿ ß");
    shell.models = table;
}

TEST(OpenTables, CreatesBothTablesAndGoesOnWithoutADamagedOne)
{
    ScratchDir dir;
    test::CountingPort port;
    Station station(port);
    Shell shell(station);
    QStringList messages;
    auto tables = open_tables(shell, QString::fromStdString(dir.path()), &messages);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
    EXPECT_TRUE(shell.models && shell.frequencies);
    EXPECT_TRUE(std::filesystem::exists(dir.file("mall7.dbf")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("calib.dbf")));
    tables.reset();

    std::string bytes = testing::read_bytes(dir.file("mall7.dbf"));
    bytes[0] = 0x04;
    testing::write_bytes(dir.file("mall7.dbf"), bytes);
    tables = open_tables(shell, QString::fromStdString(dir.path()), &messages);
    EXPECT_FALSE(shell.models);
    EXPECT_TRUE(shell.frequencies);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QString::fromStdString(dir.file("mall7.dbf"))));
    EXPECT_TRUE(messages[0].contains("niveau 7"));
    EXPECT_TRUE(messages[0].contains("Les modèles ne seront pas disponibles"));
    EXPECT_EQ(testing::read_bytes(dir.file("mall7.dbf")), bytes);
}

} // namespace
} // namespace zuna::store
