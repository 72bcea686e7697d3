#include "nri/g13_window.h"

#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/c_canal.h"
#include "ui/feedback.h"
#include "ui/settings_panel.h"
#include "ui/shell.h"
#include "ui/transfer.h"
#include "nri/g13_link.h"
#include "nri/g13_teach.h"
#include "nri/teach_controls.h"
#include "store/model_ui.h"
#include "ui/widgets.h"

namespace zuna {

using namespace nri;

namespace {

const char kWaitCoin[] = "Introduisez une pièce";

QString french(const std::string& text) { return QString::fromStdString(text); }

void paint_pair(QLabel* a, QLabel* b, bool inside)
{
    for (QLabel* l : {a, b}) {
        QPalette p = l->palette();
        p.setColor(QPalette::Window, inside ? QColor(Qt::yellow) : l->parentWidget()->palette().color(QPalette::Button));
        l->setPalette(p);
        l->setAutoFillBackground(true);
    }
}

QString three(int v) { return QString("%1").arg(std::clamp(v, 0, 255), 3, 10, QChar('0')); }

std::array<int, 4> limited(const std::array<std::optional<int>, 12>& c, int first)
{
    std::array<int, 4> v{};
    for (int k = 0; k < 4; ++k)
        v[size_t(k)] = std::clamp(c[size_t(first + 2 * k)].value_or(0), 0, 255);
    return v;
}

} // namespace

Tnrig130000::Tnrig130000(Shell& shell, QWidget* parent) : QDialog(parent), shell_(shell)
{
    setObjectName("nrig130000");
    setWindowTitle(shell.title("NRI G13.0000"));
    show_message = default_sink(this, windowTitle());
    ask_overlap = default_overlap_ask(this);
    build();
}

Station& Tnrig130000::station() { return shell_.station; }

bool Tnrig130000::ready()
{
    const std::string refused = nri::delay_refusal(station());
    if (!refused.empty())
        show_message(french(refused));
    return refused.empty();
}

void Tnrig130000::build()
{
    auto* grid = new QGridLayout(this);

    // Identity and measuring mode.
    auto* ident = new QGridLayout;
    ident->addWidget(make_label(this, "Label7", "Equipement n° :"), 0, 0);
    ident->addWidget(l1 = make_label(this, "l1", ""), 0, 1);
    ident->addWidget(make_label(this, "Label8", "Date de production :"), 1, 0);
    ident->addWidget(l2 = make_label(this, "l2", ""), 1, 1);
    ident->addWidget(Label9 = make_label(this, "Label9", "Date de reprogrammation :"), 2, 0);
    ident->addWidget(l3 = make_label(this, "l3", ""), 2, 1);
    ident->addWidget(make_label(this, "Label19", "Mode de mesure :"), 3, 0);
    ident->addWidget(mo_me = make_label(this, "mo_me", "00"), 3, 1);
    Label9->hide();
    l3->hide();
    grid->addLayout(ident, 0, 0);

    // Channel lines.
    auto* lines = new QGridLayout;
    QFont mono("Monospace");
    mono.setStyleHint(QFont::TypeWriter);
    for (int n = 1; n <= 6; ++n) {
        name_[size_t(n - 1)] = make_label(this, qPrintable(QString("Label%1").arg(n)), QString("Canal %1 :").arg(n));
        lines->addWidget(name_[size_t(n - 1)], 2 * (n - 1), 0);
        upper_[size_t(n - 1)] = make_label(this, qPrintable(QString("c%1").arg(n)), "000  000  000  000");
        lower_[size_t(n - 1)] = make_label(this, qPrintable(QString("c%1%1").arg(n)), "000  000  000  000");
        upper_[size_t(n - 1)]->setFont(mono);
        lower_[size_t(n - 1)]->setFont(mono);
        lines->addWidget(upper_[size_t(n - 1)], 2 * (n - 1), 1);
        lines->addWidget(lower_[size_t(n - 1)], 2 * (n - 1) + 1, 1);
    }
    grid->addLayout(lines, 1, 0);

    // Buttons.
    auto* buttons = new QVBoxLayout;
    Button1 = make_button(this, "Button1", "LECTURE", "Lecture des infos du monayeur");
    Button4 = make_button(this, "Button4", "Test", "voir dans quel canal la pièce  est active");
    Button5 = make_button(this, "Button5", "Calib. Piece", "Calibration d'une pièce avec le monayeur");
    Button6 = make_button(this, "Button6", "AJUST", "ajuster un canal manuellement");
    Button7 = make_button(this, "Button7", "Mode mesure", "Change le mode de mesure");
    Button2 = make_button(this, "Button2", "Enr. Modèle", "Mémorisez un modèle de pièce");
    Button3 = make_button(this, "Button3", "Voir modèle", "Lire un modéle de pièce");
    for (QPushButton* b : {Button1, Button4, Button5, Button6, Button7, Button2, Button3})
        buttons->addWidget(b);
    buttons->addStretch();
    grid->addLayout(buttons, 0, 2, 2, 1);

    Label13 = make_label(this, "Label13", "Lecture monayeur");
    Label13->hide();
    progresse = new QProgressBar(this);
    progresse->setObjectName("progresse");
    progresse->setRange(0, 9);
    progresse->hide();
    a1 = make_label(this, "a1", "");
    a1->setFont(mono);
    transfer_ = new Transfer(shell_.transfers, this, progresse);
    auto* status = new QHBoxLayout;
    status->addWidget(Label13);
    status->addWidget(progresse);
    status->addWidget(transfer_->stop_button());
    status->addWidget(a1);
    grid->addLayout(status, 2, 0, 1, 3);

    // Result panels: max 1..4 over min 1..4 for each channel.
    auto* results = new QHBoxLayout;
    p1 = new QGroupBox(this);
    p1->setObjectName("p1");
    P2 = new QGroupBox("Résultat", this);
    P2->setObjectName("P2");
    for (int n = 1; n <= 6; ++n) {
        QGroupBox* panel = n <= 3 ? p1 : P2;
        auto* g = qobject_cast<QGridLayout*>(panel->layout());
        if (!g)
            g = new QGridLayout(panel);
        const int row = 3 * ((n - 1) % 3);
        g->addWidget(new QLabel(QString("Canal %1").arg(n), panel), row, 0, 1, 4);
        for (int k = 1; k <= 8; ++k) {
            const QString name = n == 1 ? QString("q%1").arg(k) : QString("q%1%2").arg(n - 1).arg(k);
            auto* l = make_label(panel, qPrintable(name), "000");
            l->setAlignment(Qt::AlignCenter);
            q_[size_t(n - 1)][size_t(k - 1)] = l;
            g->addWidget(l, row + 1 + (k - 1) / 4, (k - 1) % 4);
        }
    }
    results->addWidget(p1);
    results->addWidget(P2);
    p1->hide();
    P2->hide();
    grid->addLayout(results, 3, 0, 1, 3);

    // Manual adjustment.
    const AdjustPanel adjust = make_adjust_panel(this, 4, "Maxi mesure %1", "Mini mesure %1");
    ajustement = adjust.box;
    std::copy(adjust.spins.begin(), adjust.spins.end(), aj_.begin());
    ok = adjust.ok;
    ab = adjust.ab;
    grid->addWidget(ajustement, 4, 0, 1, 3);

    // Measuring mode panel.
    Panel1 = new QGroupBox("Mesure :", this);
    Panel1->setObjectName("Panel1");
    auto* pm = new QHBoxLayout(Panel1);
    me = make_spin(Panel1, "me", 1, 9, 1);
    me->setAccessibleName("Mesure");
    pm->addWidget(me);
    pm->addWidget(BitBtn5 = make_button(Panel1, "BitBtn5", "OK"));
    pm->addWidget(BitBtn6 = make_button(Panel1, "BitBtn6", "Abandon"));
    Panel1->hide();
    grid->addWidget(Panel1, 5, 0, 1, 3);

    // Model store panel.
    const StorePanel store = make_store_panel(shell_, this, 6, false);
    choix_c = store.box;
    canal = store.canal;
    piece = store.piece;
    BitBtn1 = store.ok;
    BitBtn2 = store.abandon;
    grid->addWidget(choix_c, 6, 0, 1, 3);

    const ModelPanel model = make_model_panel(this, 6, false);
    vers_c = model.box;
    f_p = model.f_p;
    canal_v = model.canal_v;
    BitBtn3 = model.ok;
    BitBtn4 = model.abandon;
    grid->addWidget(vers_c, 7, 0, 1, 3);

    // Settings file and views: one row under the rest.
    settings_ = new SettingsPanel(shell_, this, *transfer_, nri::make_g13_settings());
    settings_->ready = [this] { return delay_usable(station().delay.g13, "G13", show_message); };
    settings_->after_write = [this] { Button1Click(); };
    settings_->overlap_ask = [this](const QString& q) { return ask_overlap(q); };
    views_ = new ViewButtons(shell_, this, [this] { return bands(); }, [this] { return sheet(); });
    auto* files = zuna::file_row(settings_, views_);
    grid->addLayout(files, 8, 0, 1, 3);

    connect(Button1, &QPushButton::clicked, this, &Tnrig130000::Button1Click);
    connect(Button4, &QPushButton::clicked, this, &Tnrig130000::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &Tnrig130000::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &Tnrig130000::Button6Click);
    connect(Button7, &QPushButton::clicked, this, &Tnrig130000::Button7Click);
    connect(Button2, &QPushButton::clicked, this, &Tnrig130000::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &Tnrig130000::Button3Click);
    connect(ok, &QPushButton::clicked, this, &Tnrig130000::okClick);
    connect(ab, &QPushButton::clicked, this, &Tnrig130000::abClick);
    connect(BitBtn5, &QPushButton::clicked, this, &Tnrig130000::BitBtn5Click);
    connect(BitBtn6, &QPushButton::clicked, this, &Tnrig130000::BitBtn6Click);
    connect(BitBtn1, &QPushButton::clicked, this, &Tnrig130000::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &Tnrig130000::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &Tnrig130000::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &Tnrig130000::BitBtn4Click);
}

bool Tnrig130000::event(QEvent* e)
{
    // An activation during a transfer is the end of a dialog over it, not a new
    // start: the transfer owns the line.
    if (e->type() == QEvent::WindowActivate && activated_ && !busy_ && !transfer_->running())
        FormActivate();
    return QDialog::event(e);
}

void Tnrig130000::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    // The first activation: run once the window is on screen, so the tuning
    // shows its progress in it.
    if (!activated_)
        QTimer::singleShot(0, this, [this] {
            if (!activated_)
                FormActivate();
        });
}

void Tnrig130000::FormActivate()
{
    if (busy_ || transfer_->running())
        return;
    busy_ = true;
    activated_ = true;
    Station& s = station();
    // One tuning per window opening: a failed or stopped one is not retried
    // at every activation (each message box closing activates the window).
    const bool tune = s.g13_stored == 0 && !tuning_tried_;
    tuning_tried_ = tuning_tried_ || tune;
    nri::Activation a;
    const bool ran = transfer_->run([&](Progress& p) { a = nri::activate(s, tune, &p); });
    if (ran && !a.message.empty())
        show_message(french(a.message));
    reset_results();
    busy_ = false;
}

void Tnrig130000::done(int r)
{
    if (!transfer_->running())
        transfer_->run([this](Progress&) { nri::close_link(station()); });
    QDialog::done(r);
}

void Tnrig130000::reset_results()
{
    for (int n = 1; n <= 6; ++n)
        for (int k = 1; k <= 4; ++k) {
            result(n, k)->setText("000");
            result(n, k + 4)->setText("000");
            paint_pair(result(n, k), result(n, k + 4), false);
        }
    Button5->setText("Calib. piece");
    Button4->setText("Test");
}

void Tnrig130000::show_lines(int channel, const std::optional<nri::ChannelLines>& lines)
{
    QLabel* name = name_[size_t(channel - 1)];
    if (lines) {
        unknown_[size_t(channel - 1)] = false;
        name->setText(QString("Canal %1 :").arg(channel));
        lines_read_[size_t(channel - 1)] = true;
        upper(channel)->setText(french(lines->upper));
        lower(channel)->setText(french(lines->lower));
    } else {
        // Not read (no reply, or stopped before it): the lines keep what they
        // showed, and say so.
        name->setText(QString("Canal %1 : non relu").arg(channel));
    }
}

void Tnrig130000::show_unknown(int channel)
{
    unknown_[size_t(channel - 1)] = true;
    name_[size_t(channel - 1)]->setText(QString("Canal %1 :").arg(channel));
    upper(channel)->setText("????");
    lower(channel)->setText("????");
}

std::array<int, 4> Tnrig130000::maxima(int channel) const { return parse_values(upper(channel)->text().toStdString()); }

std::array<int, 4> Tnrig130000::minima(int channel) const { return parse_values(lower(channel)->text().toStdString()); }

void Tnrig130000::Button1Click()
{
    if (transfer_->running() || !ready())
        return;
    reset_results();
    P2->setTitle("");
    Label13->show();
    p1->hide();
    P2->hide();
    a1->hide();
    nri::Reading r;
    const bool ran = transfer_->run([&](Progress& p) { r = nri::lecture(station(), &p); });
    Label13->hide();
    if (!ran)
        return;
    if (r.mode) {
        mo_me->setText(french(*r.mode));
        mode_read_ = true;
    }
    if (r.identity) {
        l1->setText(french(r.identity->equipment));
        l2->setText(french(r.identity->production));
        l3->setText(french(r.identity->reprogramming));
    }
    if (r.answered)
        for (int n = 1; n <= 6; ++n)
            show_lines(n, r.channels[size_t(n - 1)]);
    views_->refresh();
    if (!r.message.empty())
        show_message(french(r.message));
}

void Tnrig130000::Button4Click()
{
    if (transfer_->running() || !ready())
        return;
    p1->show();
    P2->show();
    a1->show();
    a1->setText(kWaitCoin);
    nri::CoinTest c;
    if (!transfer_->run([&](Progress& p) { c = nri::coin_test(station(), &p); }))
        return;
    a1->setText(c.measured ? french(c.text) : french(c.message));
    coin_ = c.measured ? std::optional(c.values) : std::nullopt;
    for (int n = 1; n <= 6; ++n) {
        const auto hi = maxima(n);
        const auto lo = minima(n);
        for (int k = 1; k <= 4; ++k) {
            result(n, k)->setText(three(hi[size_t(k - 1)]));
            result(n, k + 4)->setText(three(lo[size_t(k - 1)]));
            const int v = c.values[size_t(k - 1)];
            paint_pair(result(n, k), result(n, k + 4),
                       c.measured && !unknown(n) && lo[size_t(k - 1)] <= v && v <= hi[size_t(k - 1)]);
        }
    }
    views_->refresh();
}

void Tnrig130000::Button5Click()
{
    if (!ready())
        return;
    p1->hide();
    P2->hide();
    a1->hide();
    run_teach(shell_.dialog<Tcalibration_nri_g13>(), this);
}

void Tnrig130000::Button6Click()
{
    int n = 1;
    bool taken = true;
    if (auto* prompt = shell_.dialog<TC_canal>())
        n = prompt->ask(6, this, &taken);
    if (!taken)
        return; // "Abandon" in the prompt: no panel
    if (unknown(n)) {
        show_message(QString("Le contenu du canal %1 est inconnu : relisez le monnayeur avant de l'ajuster.").arg(n));
        return;
    }
    adjust_channel_ = n;
    p1->hide();
    P2->hide();
    a1->hide();
    ajustement->show();
    ok->show();
    ab->show();
    if (n >= 1 && n <= 6) {
        const auto hi = maxima(n);
        const auto lo = minima(n);
        for (int k = 0; k < 4; ++k) {
            aj_[size_t(k)]->setValue(hi[size_t(k)]);
            aj_[size_t(k + 4)]->setValue(lo[size_t(k)]);
        }
    }
}

void Tnrig130000::write_channel(int channel, const std::array<int, 4>& hi, const std::array<int, 4>& lo,
                                int32_t units)
{
    if (!ready() || !may_write(channel, hi, lo))
        return;
    const QDate d = today();
    const nri::Date date{d.month(), d.day(), d.year() % 100};
    nri::ChannelWrite w;
    if (transfer_->run([&](Progress& p) { w = nri::write_channel(station(), channel, hi, lo, units, date, &p); }))
        show_write(w);
}

void Tnrig130000::show_write(const nri::ChannelWrite& w)
{
    if (w.reprogramming)
        l3->setText(french(*w.reprogramming));
    if (w.channel >= 1 && w.channel <= 6 && !w.stopped) {
        if (w.unread)
            show_unknown(w.channel);
        else
            show_lines(w.channel, w.read_back);
    }
    views_->refresh();
    if (!w.message.empty())
        show_message(french(w.message));
}

void Tnrig130000::okClick()
{
    std::array<int, 4> hi{}, lo{};
    for (int k = 0; k < 4; ++k) {
        hi[size_t(k)] = aj_[size_t(k)]->value();
        lo[size_t(k)] = aj_[size_t(k + 4)]->value();
    }
    write_channel(adjust_channel_, hi, lo, fast_units(station()));
    abClick();
}

void Tnrig130000::abClick()
{
    ajustement->hide();
    ok->hide();
    ab->hide();
}

void Tnrig130000::Button7Click() { Panel1->show(); }

void Tnrig130000::BitBtn5Click()
{
    if (!ready())
        return;
    const int mode = me->value();
    nri::ModeWrite m;
    if (!transfer_->run([&](Progress& p) { m = nri::write_mode(station(), mode, &p); }))
        return;
    Panel1->hide();
    if (m.mode) {
        mo_me->setText(french(*m.mode));
        mode_read_ = true;
    } else if (!m.read) { // written, not read back: the mode in the mechanism is unknown
        mo_me->setText("??");
    }
    if (!m.message.empty())
        show_message(french(m.message));
}

void Tnrig130000::BitBtn6Click() { Panel1->hide(); }

void Tnrig130000::Button2Click()
{
    canal->setRange(1, 6);
    choix_c->show();
}

void Tnrig130000::BitBtn1Click()
{
    const int n = canal->value();
    if (unknown(n)) {
        // The lines do not show what the mechanism holds: no model from them.
        show_message(QString("Le contenu du canal %1 est inconnu : relisez le monnayeur, aucun modèle n'a été "
                             "enregistré.")
                         .arg(n));
        return;
    }
    store::ModelRecord r;
    r.type = "NRI1";
    r.piece = piece->text().left(15).toStdString();
    const auto hi = maxima(n);
    const auto lo = minima(n);
    for (int k = 0; k < 4; ++k) {
        r.c[size_t(2 * k)] = hi[size_t(k)];
        r.c[size_t(2 * k + 1)] = lo[size_t(k)];
    }
    // A refused name keeps the panel open so the operator can correct it.
    if (store::store_model(shell_, this, r))
        choix_c->hide();
}

void Tnrig130000::BitBtn2Click() { choix_c->hide(); }

void Tnrig130000::Button3Click()
{
    canal_v->setRange(1, 6);
    model_ = store::choose_model(shell_, this, "NRI1");
    if (!model_)
        return;
    vers_c->show();
    f_p->setText(QString::fromStdString(model_->piece));
}

void Tnrig130000::BitBtn3Click()
{
    if (model_)
        write_channel(canal_v->value(), limited(model_->c, 0), limited(model_->c, 1), model_write_units(station()));
    vers_c->hide();
}

void Tnrig130000::BitBtn4Click() { vers_c->hide(); }

// ---- Bands, settings sheet, overlap check ----------------------------------

settings::BandSet Tnrig130000::bands() const
{
    nri::G13View v = teach_;
    for (int n = 1; n <= 6; ++n)
        if (!unknown(n)) // an unknown channel is no band
            v.channels[size_t(n - 1)] = nri::G13Record{maxima(n), minima(n)};
    v.coin = coin_;
    return nri::g13_bands(v);
}

Sheet Tnrig130000::sheet() const
{
    Sheet s;
    s.family = "NRI G13.0000";
    auto shown = [](const QLabel* l) { return l->text().isEmpty() ? QString("non lu") : l->text(); };
    s.facts = {{"Equipement n°", shown(l1)}, {"Date de production", shown(l2)}};
    if (!l1->text().isEmpty())
        s.identity = l1->text();
    if (!l3->text().isEmpty())
        s.facts.push_back({"Date de reprogrammation", l3->text()});
    s.facts.push_back({"Mode de mesure", mode_read_ ? mo_me->text() : QString("non lu")});
    s.facts.push_back({"Compte G13", QString::number(shell_.station.delay.g13)});
    s.columns = {"Canal", "", "Mesure 1", "Mesure 2", "Mesure 3", "Mesure 4"};
    for (int n = 1; n <= 6; ++n) {
        if (!lines_read_[size_t(n - 1)]) { // the window's "000" before a read are no values
            s.rows.push_back({name_[size_t(n - 1)]->text(), "non lu", "", "", "", ""});
            continue;
        }
        const auto hi = maxima(n), lo = minima(n);
        QStringList up{name_[size_t(n - 1)]->text(), "Maxi"}, down{"", "Mini"};
        for (size_t k = 0; k < 4; ++k) {
            up << (unknown(n) ? QString("????") : three(hi[k]));
            down << (unknown(n) ? QString("????") : three(lo[k]));
        }
        s.rows.push_back(up);
        s.rows.push_back(down);
    }
    s.bands = bands();
    return s;
}

bool Tnrig130000::may_write(int channel, const std::array<int, 4>& hi, const std::array<int, 4>& lo)
{
    if (channel < 1 || channel > 6)
        return true;
    return write_allowed(bands(), channel, nri::g13_windows({hi, lo}), ask_overlap);
}

void Tnrig130000::teach_coins(const std::vector<std::array<int, 4>>& coins)
{
    teach_.samples.insert(teach_.samples.end(), coins.begin(), coins.end());
    views_->refresh();
}

void Tnrig130000::teach_proposed(int channel, const std::array<int, 4>& hi, const std::array<int, 4>& lo)
{
    teach_.proposed_channel = channel;
    teach_.proposed = {hi, lo};
    views_->refresh();
}

void Tnrig130000::teach_end()
{
    teach_ = {};
    views_->refresh();
}

} // namespace zuna
