#include "c220/c220_window.h"

#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "c220/c220_settings.h"
#include "c220/calibre_c220.h"
#include "store/model_ui.h"
#include "ui/band_view.h"
#include "ui/c_canal.h"
#include "ui/settings_panel.h"
#include "ui/shell.h"
#include "ui/transfer.h"
#include "ui/widgets.h"

namespace zuna {

using namespace c220;

namespace {

const char kSilent[] = "Le monayeur ne répond pas.";
const char kUnknown[] = "????"; // a cell written but not confirmed

struct OutputName {
    int code;
    const char* name;
};
constexpr OutputName kOutputs[] = {{0, "RIEN"}, {8, "A1"}, {10, "A2"}, {9, "A3"}, {11, "A4"}, {12, "A1 + A2"}, {13, "A3 + A4"}};

int label_number(const QLabel* l)
{
    bool ok = false;
    const int v = l->text().trimmed().toInt(&ok);
    return ok ? v : 0;
}

QString bytes_text(const std::array<uint8_t, 2>& b) { return QString("%1 %2").arg(b[0]).arg(b[1]); }

QString foreign_text(const Image& image) { return QString::fromStdString(foreign_word_text(image)); }

} // namespace

QString c220_output_name(int code)
{
    for (const OutputName& o : kOutputs)
        if (o.code == code)
            return o.name;
    return QString("?%1").arg(code);
}

std::optional<int> c220_output_code(const QString& name)
{
    for (const OutputName& o : kOutputs)
        if (name == o.name)
            return o.code;
    return std::nullopt;
}

TC220_o::TC220_o(Shell& shell, QWidget* parent) : QDialog(parent), shell_(shell), link_(shell.station)
{
    setObjectName("C220_o");
    setWindowTitle(shell.title("C220"));
    show_message = default_sink(this, windowTitle());
    overlap_ask = default_overlap_ask(this);
    build();
}

void TC220_o::build()
{
    auto* table = new QGridLayout;
    for (int n = 1; n <= kChannels; ++n) {
        auto* h = new QLabel(QString("Canal %1 :").arg(n), this);
        h->setObjectName(QString("Label%1").arg(n));
        h->setAutoFillBackground(true);
        heads_[size_t(n - 1)] = h;
        table->addWidget(h, n, 0);
        for (int k = 1; k <= 7; ++k) {
            auto* l = new QLabel("0", this);
            l->setObjectName(QString("c%1%2").arg(n).arg(k));
            l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            l->setMinimumWidth(k == 7 ? 64 : 40);
            l->setFrameShape(QFrame::StyledPanel);
            c_[size_t(n - 1)][size_t(k - 1)] = l;
            table->addWidget(l, n, k);
        }
        b_[size_t(n - 1)] = make_button(this, QString("b%1").arg(n).toLatin1().constData(), "RIEN");
        b_[size_t(n - 1)]->hide();
        table->addWidget(b_[size_t(n - 1)], n, 8);
        connect(b_[size_t(n - 1)], &QPushButton::clicked, this, [this, n] { output_button(n); });
    }
    const char* titles[7] = {"Bas 1", "Haut 1", "Bas 2", "Haut 2", "Bas 3", "Haut 3", "Sortie"};
    for (int k = 0; k < 7; ++k)
        table->addWidget(new QLabel(titles[k], this), 0, k + 1, Qt::AlignCenter);

    c_s = new QListWidget(this);
    c_s->setObjectName("c_s");
    for (const OutputName& o : kOutputs)
        c_s->addItem(o.name);
    c_s->setMaximumHeight(140);
    c_s->hide();
    connect(c_s, &QListWidget::itemClicked, this, [this](QListWidgetItem* it) { c_sClick(it->text()); });
    ok3 = make_button(this, "ok3", "OK");
    ab3 = make_button(this, "ab3", "Abandon");
    ok3->hide();
    ab3->hide();

    Button5 = make_button(this, "Button5", "Lecture", "Lecture des infos du monayeur");
    Button1 = make_button(this, "Button1", "Calib. Piece", "Calibration d'une pièce avec le monayeur");
    Button2 = make_button(this, "Button2", "Tester", "voir dans quel canal la pièce  est active");
    Button3 = make_button(this, "Button3", "AJUST", "ajuster un canal manuellement");
    Button4 = make_button(this, "Button4", "SORTIES", "Programmer les cannaux de sorties");
    Button6 = make_button(this, "Button6", "Enr. Modèle", "Mémoriser un modèle de pièce");
    Button7 = make_button(this, "Button7", "Voir modèle", "Lire un modéle de pièce");
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {Button5, Button1, Button2, Button3, Button4, Button6, Button7})
        buttons->addWidget(b);
    buttons->addWidget(ok3);
    buttons->addWidget(ab3);
    buttons->addWidget(c_s);
    buttons->addStretch();

    Progresse = new QProgressBar(this);
    Progresse->setObjectName("Progresse");
    Progresse->setRange(0, 63);
    Progresse->hide();
    transfer_ = new Transfer(shell_.transfers, this, Progresse);

    ajust = make_panel(this, "ajust", false);
    auto* al = new QHBoxLayout(ajust);
    for (int i = 0; i < 6; ++i) {
        l_[size_t(i)] = make_spin(ajust, QString("l%1").arg(i + 1).toLatin1().constData(), 0, 255, 0);
        al->addWidget(l_[size_t(i)]);
    }
    ok = make_button(this, "ok", "OK");
    ok->setDefault(true);
    ab = make_button(this, "ab", "Abandon");
    ok->hide();
    ab->hide();

    const StorePanel store = make_store_panel(shell_, this, kChannels, true);
    choix_c = store.box;
    canal = store.canal;
    piece = store.piece;
    auto* BitBtn1 = store.ok;
    auto* BitBtn2 = store.abandon;

    const ModelPanel model = make_model_panel(this, kChannels, true);
    vers_c = model.box;
    f_p = model.f_p;
    canal_v = model.canal_v;
    auto* BitBtn3 = model.ok;
    auto* BitBtn4 = model.abandon;

    auto* top = new QHBoxLayout;
    top->addLayout(table);
    top->addLayout(buttons);
    auto* edit_row = new QHBoxLayout;
    edit_row->addWidget(ajust);
    edit_row->addWidget(ok);
    edit_row->addWidget(ab);
    edit_row->addStretch();
    auto* status = new QHBoxLayout;
    status->addWidget(Progresse);
    status->addWidget(transfer_->stop_button());
    settings_ = new SettingsPanel(shell_, this, *transfer_, std::make_unique<C220Settings>(&link_));
    settings_->ready = [this] { return count_ok(); };
    settings_->overlap_ask = [this](const QString& q) { return overlap_ask(q); };
    settings_->after_write = [this] {
        if (link_.whole || link_.any_unknown())
            ecriture_d();
        refresh_views();
    };
    // A save or a comparison read the mechanism into this window's image:
    // the table follows it (after the panel's own handler).
    for (QPushButton* b : {settings_->save_button(), settings_->restore_button(), settings_->next_button()})
        connect(b, &QPushButton::clicked, this, [this] {
            if (link_.whole || link_.any_unknown())
                ecriture_d();
            refresh_views();
        });
    views_ = new ViewButtons(shell_, this, [this] { return bands(); }, [this] { return sheet(); });
    auto* files = zuna::file_row(settings_, views_);
    auto* col = new QVBoxLayout(this);
    col->addLayout(top);
    col->addLayout(files);
    col->addLayout(status);
    col->addLayout(edit_row);
    col->addWidget(choix_c);
    col->addWidget(vers_c);

    connect(Button5, &QPushButton::clicked, this, &TC220_o::Button5Click);
    connect(Button1, &QPushButton::clicked, this, &TC220_o::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TC220_o::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TC220_o::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TC220_o::Button4Click);
    connect(Button6, &QPushButton::clicked, this, &TC220_o::Button6Click);
    connect(Button7, &QPushButton::clicked, this, &TC220_o::Button7Click);
    connect(ok, &QPushButton::clicked, this, &TC220_o::okClick);
    connect(ab, &QPushButton::clicked, this, &TC220_o::abClick);
    connect(ok3, &QPushButton::clicked, this, &TC220_o::ok3Click);
    connect(ab3, &QPushButton::clicked, this, &TC220_o::ab3Click);
    connect(BitBtn1, &QPushButton::clicked, this, &TC220_o::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TC220_o::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TC220_o::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TC220_o::BitBtn4Click);
    for (int n = 1; n <= kChannels; ++n)
        set_lit(n, false);
}

bool TC220_o::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate && isVisible())
        FormActivate();
    return QDialog::event(e);
}

void TC220_o::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    QTimer::singleShot(0, this, [this] { FormActivate(); });
}

void TC220_o::FormActivate()
{
    // An activation during a transfer is a dialog closing over it: the transfer owns the line.
    if (activating_ || transfer_->running())
        return;
    activating_ = true;
    transfer_->set_stoppable(false);
    transfer_->run([this](Progress&) { activate(link_); });
    activating_ = false;
}

bool TC220_o::count_ok()
{
    return delay_usable(link_.count, "C220", show_message);
}

bool TC220_o::image_ok(const QString& refused_text)
{
    if (link_.whole)
        return true;
    show_message(refused_text);
    return false;
}

bool TC220_o::lit(int n) const { return heading(n)->property("lit").toBool(); }

void TC220_o::set_lit(int n, bool on)
{
    QLabel* h = heading(n);
    QPalette p = h->palette();
    p.setColor(QPalette::Window, on ? QColor(Qt::yellow) : palette().color(QPalette::Button));
    h->setPalette(p);
    h->setProperty("lit", on);
}

void TC220_o::ecriture_d()
{
    // A word written but not confirmed shows as unknown until the next read.
    auto unknown = [this](int word) { return link_.unknown[size_t(word)]; };
    for (int n = 1; n <= kChannels; ++n) {
        const auto v = channel_limits(link_.image, n);
        for (int k = 0; k < 6; ++k)
            cell(n, k + 1)->setText(unknown(8 * (k / 2) + n - 1) ? QString(kUnknown) : QString::number(v[size_t(k)]));
        cell(n, 7)->setText(unknown(output_byte(n) / 2) ? QString(kUnknown)
                                                        : c220_output_name(output_code(link_.image, n)));
    }
}

bool TC220_o::report_write(const WriteResult& w)
{
    switch (w.refused) {
    case Refusal::None:
        break;
    case Refusal::BadCount:
        count_ok();
        return false;
    case Refusal::NotRead:
        show_message("Lisez d'abord le monnayeur (« Lecture ») : la somme de contrôle serait calculée sur un "
                     "contenu inconnu. Rien n'a été écrit.");
        return false;
    case Refusal::Foreign:
        show_message(foreign_text(link_.image) + " Rien n'a été écrit ; relisez-le pour l'autoriser.");
        return false;
    case Refusal::BadChannel:
    case Refusal::BadWord:
        show_message("Canal hors de 1 à 8 : rien n'a été écrit.");
        return false;
    }
    ecriture_d();
    refresh_views();
    if (!w.answered) {
        show_message("Le monayeur ne répond pas : écriture non confirmée. Les cases écrites sont inconnues (« ???? ») : "
                     "relisez le monnayeur avant toute autre écriture.");
        return false;
    }
    QStringList wrong;
    for (const WordCheck& c : w.words)
        if (!c.settled)
            wrong << QString("mot %1 relu différemment à chaque lecture").arg(c.word);
        else if (!c.holds())
            wrong << QString("mot %1 relu %2 au lieu de %3").arg(c.word).arg(bytes_text(c.got), bytes_text(c.want));
    if (wrong.isEmpty())
        return true;
    show_message(QString("Écriture non confirmée : %1. %2")
                     .arg(wrong.join(" ; "))
                     .arg(w.unknown() ? "Les cases de ces mots sont inconnues (« ???? ») : relisez le monnayeur avant "
                                        "toute autre écriture."
                                      : "Le tableau montre ce que le monnayeur contient (relu deux fois)."));
    return false;
}

void TC220_o::Button5Click()
{
    if (!count_ok())
        return;
    ReadResult r;
    transfer_->set_stoppable(true);
    transfer_->run([&](Progress& p) { r = lit_c220(link_, &p); });
    if (r.refused) {
        count_ok();
        return;
    }
    if (r.stopped) {
        show_message(QString("Lecture arrêtée au mot %1 : le tableau reste tel qu'il était.").arg(r.words));
        return;
    }
    if (!r.answered) {
        show_message(kSilent);
        return;
    }
    ecriture_d();
    refresh_views();
    // Another mechanism on this bus, or a C220 whose checksum word was
    // erased: nothing is written to it unless the operator says it is a C220.
    if (link_.foreign) {
        if (overlap_ask && overlap_ask(foreign_text(link_.image) + " Est-ce bien un C220 (les écritures récriront "
                                                                   "sa somme de contrôle) ?"))
            link_.foreign = false;
    } else if (!r.checksum_holds) {
        show_message("La somme de contrôle du monnayeur (mot 63) ne correspond pas à son contenu.");
    }
}

void TC220_o::Button1Click()
{
    if (auto* calib = shell_.dialog<Tcalibre_c220_o>()) {
        calib->set_window(this);
        calibrating_ = calib;
        calib->exec();
        calibrating_ = nullptr;
        calib->set_window(nullptr);
    }
    FormActivate();
    if (link_.whole || link_.any_unknown())
        ecriture_d();
    refresh_views();
}

void TC220_o::Button2Click()
{
    if (!count_ok())
        return;
    TestResult r;
    transfer_->set_stoppable(true); // "Arrêter" ends the coin wait
    transfer_->run([&](Progress&) { r = test_p(link_); });
    if (!r.answered) {
        // Past step 4 the mechanism's clock ran: a coin was seen, its result not received.
        if (r.timed_out_step > 4)
            show_message("Le monnayeur a vu la pièce mais n'a pas envoyé de résultat complet : le canal qui l'accepte "
                         "est inconnu.");
        else if (!r.refused)
            show_message("Aucune pièce n'a été vue : le monnayeur n'a pas répondu au test.");
        return;
    }
    if (r.mask == 0) {
        for (int n = 1; n <= kChannels; ++n)
            set_lit(n, false);
    } else if (const int c = r.channel()) {
        for (int n = 1; n <= kChannels; ++n)
            set_lit(n, n == c);
    }
    refresh_views();
}

void TC220_o::Button3Click()
{
    ajust->show();
    ok->show();
    ab->show();
    int n = 1;
    if (auto* prompt = shell_.dialog<TC_canal>())
        n = prompt->ask(kChannels, this);
    FormActivate();
    n = std::clamp(n, 1, kChannels);
    for (int k = 0; k < 6; ++k)
        l_[size_t(k)]->setValue(std::clamp(label_number(cell(n, k + 1)), 0, 255));
}

void TC220_o::okClick()
{
    int n = 1;
    if (auto* prompt = shell_.dialog<TC_canal>())
        n = prompt->canal()->value();
    std::array<uint8_t, 6> p{};
    for (int k = 0; k < 6; ++k)
        p[size_t(k)] = uint8_t(l_[size_t(k)]->value());
    abClick();
    if (link_.whole && !(dead_window_ok(n, p) && overlap_ok(n, p)))
        return;
    WriteResult w;
    transfer_->set_stoppable(false);
    transfer_->run([&](Progress&) { w = ecrir_code(link_, n, p); });
    report_write(w);
}

void TC220_o::abClick()
{
    ajust->hide();
    ok->hide();
    ab->hide();
}

void TC220_o::show_main_buttons(bool on)
{
    for (QPushButton* b : {Button1, Button2, Button3, Button4, Button5})
        b->setVisible(on);
    ok3->setVisible(!on);
    ab3->setVisible(!on);
    for (QPushButton* b : b_)
        b->setVisible(!on);
    if (on)
        c_s->hide();
}

void TC220_o::Button4Click()
{
    for (int n = 1; n <= kChannels; ++n) {
        b_[size_t(n - 1)]->setText(cell(n, 7)->text());
        shown_codes_[size_t(n - 1)] = output_code(link_.image, n);
    }
    show_main_buttons(false);
}

void TC220_o::output_button(int n)
{
    chosen_button_ = n;
    c_s->show();
}

void TC220_o::c_sClick(const QString& item)
{
    if (chosen_button_ >= 1 && chosen_button_ <= kChannels)
        b_[size_t(chosen_button_ - 1)]->setText(item);
    c_s->hide();
}

void TC220_o::ok3Click()
{
    if (!count_ok())
        return;
    std::array<int, kChannels> codes{};
    for (int n = 1; n <= kChannels; ++n) {
        const QString t = b_[size_t(n - 1)]->text();
        // A code without a name goes back as it was unless the operator chose another.
        codes[size_t(n - 1)] = c220_output_code(t).value_or(t.startsWith('?') ? shown_codes_[size_t(n - 1)] : 0);
    }
    show_main_buttons(true);
    if (!image_ok("Lisez d'abord le monnayeur (« Lecture ») : la somme de contrôle serait calculée sur un "
                  "contenu inconnu. Rien n'a été écrit."))
        return;
    std::vector<WriteResult> results;
    transfer_->set_stoppable(false);
    transfer_->run([&](Progress&) { results = write_outputs(link_, codes); });
    for (const WriteResult& w : results)
        if (!report_write(w))
            break;
}

void TC220_o::ab3Click() { show_main_buttons(true); }

void TC220_o::Button6Click()
{
    canal->setMaximum(kChannels);
    choix_c->show();
}

void TC220_o::BitBtn1Click()
{
    if (!image_ok("Lisez d'abord le monnayeur (« Lecture ») : le modèle ne contiendrait que des zéros. "
                  "Rien n'a été enregistré.")) {
        choix_c->hide();
        return;
    }
    store::ModelRecord m;
    m.type = "C220";
    m.piece = piece->text().left(15).toStdString();
    const auto v = channel_limits(link_.image, canal->value());
    for (int k = 0; k < 6; ++k)
        m.c[size_t(k)] = v[size_t(k)];
    // A refused name keeps the panel open with what the operator typed.
    if (store::store_model(shell_, this, m))
        choix_c->hide();
}

void TC220_o::BitBtn2Click() { choix_c->hide(); }

void TC220_o::Button7Click()
{
    canal_v->setMaximum(kChannels);
    model_ = store::choose_model(shell_, this, "C220");
    FormActivate();
    if (!model_)
        return;
    f_p->setText(QString::fromStdString(model_->piece));
    vers_c->show();
}

void TC220_o::BitBtn3Click()
{
    vers_c->hide();
    if (!model_ || !count_ok())
        return;
    std::array<uint8_t, 6> p{};
    for (int k = 0; k < 6; ++k) {
        const auto& v = model_->c[size_t(k)];
        if (!v || *v < 0 || *v > 255) {
            show_message(QString("Modèle « %1 » : la valeur C%2 est vide ou hors de 0 à 255 ; rien n'a été écrit.")
                             .arg(QString::fromStdString(model_->piece))
                             .arg(k + 1));
            return;
        }
        p[size_t(k)] = uint8_t(*v);
    }
    if (link_.whole && !(dead_window_ok(canal_v->value(), p) && overlap_ok(canal_v->value(), p)))
        return;
    WriteResult w;
    transfer_->set_stoppable(false);
    transfer_->run([&](Progress&) { w = ecrir_code(link_, canal_v->value(), p); });
    report_write(w);
}

void TC220_o::BitBtn4Click() { vers_c->hide(); }

settings::BandSet TC220_o::bands() const
{
    // Channels with a word not confirmed take no part until the next read.
    settings::BandSet set = bands_of(link_.image, link_.whole || link_.any_unknown());
    for (settings::ChannelBands& c : set.channels)
        for (int k = 0; k < 3; ++k)
            if (link_.unknown[size_t(8 * k + c.channel - 1)]) {
                c.enabled = false;
                c.windows.assign(3, std::nullopt);
            }
    if (calibrating_) {
        set.samples = calibrating_->samples();
        if (!set.samples.empty())
            set.coin = set.samples.back();
        if (const auto w = calibrating_->proposed()) {
            set.proposed = *w;
            set.proposed_channel = calibrating_->channel()->value();
        }
    }
    return set;
}

Sheet TC220_o::sheet() const
{
    Sheet s;
    s.family = "C220";
    s.facts = {{"Compte de temporisation C220", QString::number(link_.count)}};
    s.columns = {"Canal", "Bas 1", "Haut 1", "Bas 2", "Haut 2", "Bas 3", "Haut 3", "Sortie"};
    for (int n = 1; n <= kChannels; ++n) {
        QStringList row{QString::number(n)};
        for (int k = 1; k <= 7; ++k) // the table's zeros before a read are no values
            row << (link_.whole || link_.any_unknown() ? cell(n, k)->text() : QString(k == 1 ? "non lu" : ""));
        s.rows.push_back(row);
    }
    s.options = {{"Somme de contrôle (mot 63)",
                  link_.whole ? QString::number(link_.image[kChecksumByte]) : QString("non lu")}};
    s.bands = bands();
    return s;
}

bool TC220_o::dead_window_ok(int c, const std::array<uint8_t, 6>& p)
{
    QStringList dead;
    for (int k = 0; k < 3; ++k)
        if (p[size_t(2 * k)] > p[size_t(2 * k + 1)])
            dead << QString("la fenêtre %1 (bas %2, haut %3)").arg(k + 1).arg(p[size_t(2 * k)]).arg(p[size_t(2 * k + 1)]);
    if (dead.isEmpty() || !overlap_ask)
        return true;
    return overlap_ask(QString("Canal %1 : bas au-dessus du haut dans %2 : le canal n'acceptera plus aucune pièce. "
                               "Écrire quand même ?")
                           .arg(c)
                           .arg(dead.join(" et ")));
}

bool TC220_o::overlap_ok(int c, const std::array<uint8_t, 6>& p)
{
    std::vector<std::optional<settings::Band>> windows;
    for (int k = 0; k < 3; ++k)
        windows.push_back(settings::Band{p[size_t(2 * k)], p[size_t(2 * k + 1)]});
    return write_allowed(bands_of(link_.image, link_.whole), c, windows, overlap_ask);
}

void TC220_o::refresh_views()
{
    if (views_)
        views_->refresh();
}

} // namespace zuna
