#include "nri/g13_window.h"

#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/c_canal.h"
#include "ui/shell.h"
#include "nri/g13_link.h"
#include "nri/g13_teach.h"
#include "store/model_ui.h"

namespace zuna {

using namespace nri;

namespace {

const char kNoAnswer[] = "Le monnayeur ne répond pas : réglage automatique de la vitesse impossible.";
const char kGarbled[] = "Le monnayeur répond, mais ses réponses sont illisibles (ligne perturbée ?) : "
                        "réglage automatique de la vitesse impossible.";
const char kNoTimeBase[] = "Le module ne donne pas de base de temps (comptage nul) : "
                           "réglage automatique de la vitesse impossible.";
const char kReadSilent[] = "Le monnayeur ne répond pas : lecture impossible.";
const char kReadGarbled[] = "Le monnayeur répond, mais ses réponses sont illisibles (ligne perturbée ?) : "
                            "lecture impossible.";
const char kModeNotRead[] = "Le monnayeur ne répond pas : le mode de mesure n'a pas été relu.";
const char kWaitCoin[] = "Introduisez une pièce";
const char kNoCoin[] = "Aucune pièce reçue : rien n'a été mesuré.";

// Shows the tuning in the window's progress bar.
class BarProgress : public Progress {
public:
    explicit BarProgress(QProgressBar* bar) : bar_(bar) {}
    void start(int maximum) override
    {
        bar_->setRange(0, std::max(1, maximum));
        bar_->setValue(0);
        bar_->show();
        bar_->repaint();
    }
    void step() override
    {
        bar_->setValue(std::min(bar_->value() + 1, bar_->maximum()));
        bar_->repaint();
    }
    void finish() override { bar_->hide(); }

private:
    QProgressBar* bar_;
};

QLabel* make_label(QWidget* parent, const char* name, const QString& text)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

QPushButton* make_button(QWidget* parent, const char* name, const QString& text, const QString& hint = {})
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    if (!hint.isEmpty())
        b->setToolTip(hint);
    return b;
}

QSpinBox* make_spin(QWidget* parent, const char* name, int lo, int hi, int value)
{
    auto* s = new QSpinBox(parent);
    s->setObjectName(name);
    s->setRange(lo, hi);
    s->setValue(value);
    return s;
}

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
    show_message = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
    build();
}

Station& Tnrig130000::station() { return shell_.station; }

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
    auto* status = new QHBoxLayout;
    status->addWidget(Label13);
    status->addWidget(progresse);
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
    ajustement = new QFrame(this);
    ajustement->setObjectName("ajustement");
    ajustement->setFrameShape(QFrame::Panel);
    auto* ag = new QGridLayout(ajustement);
    for (int k = 1; k <= 8; ++k) {
        aj_[size_t(k - 1)] = make_spin(ajustement, qPrintable(QString("aj%1").arg(k)), 0, 255, 0);
        aj_[size_t(k - 1)]->setAccessibleName(QString(k <= 4 ? "Maxi mesure %1" : "Mini mesure %1").arg((k - 1) % 4 + 1));
        ag->addWidget(aj_[size_t(k - 1)], (k - 1) / 4, (k - 1) % 4);
    }
    ok = make_button(ajustement, "ok", "OK");
    ab = make_button(ajustement, "ab", "Abandon");
    ag->addWidget(ok, 2, 2);
    ag->addWidget(ab, 2, 3);
    ajustement->hide();
    ok->hide();
    ab->hide();
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
    choix_c = new QGroupBox(this);
    choix_c->setObjectName("choix_c");
    auto* pc = new QHBoxLayout(choix_c);
    pc->addWidget(new QLabel("CANAL :", choix_c));
    pc->addWidget(canal = make_spin(choix_c, "canal", 1, 6, 1));
    pc->addWidget(new QLabel("Piéce", choix_c));
    piece = new QLineEdit(choix_c);
    piece->setObjectName("piece");
    piece->setMaxLength(15);
    pc->addWidget(piece);
    pc->addWidget(BitBtn1 = make_button(choix_c, "BitBtn1", "OK"));
    pc->addWidget(BitBtn2 = make_button(choix_c, "BitBtn2", "Abandon"));
    choix_c->hide();
    grid->addWidget(choix_c, 6, 0, 1, 3);

    // Model write panel.
    vers_c = new QGroupBox(this);
    vers_c->setObjectName("vers_c");
    auto* pv = new QHBoxLayout(vers_c);
    pv->addWidget(new QLabel("CANAL :", vers_c));
    pv->addWidget(canal_v = make_spin(vers_c, "canal_v", 1, 6, 1));
    pv->addWidget(new QLabel("Vers", vers_c));
    pv->addWidget(f_p = make_label(vers_c, "f_p", ""));
    pv->addWidget(BitBtn3 = make_button(vers_c, "BitBtn3", "OK"));
    pv->addWidget(BitBtn4 = make_button(vers_c, "BitBtn4", "Abandon"));
    vers_c->hide();
    grid->addWidget(vers_c, 7, 0, 1, 3);

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
    if (e->type() == QEvent::WindowActivate && activated_ && !busy_)
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
    if (busy_)
        return;
    busy_ = true;
    activated_ = true;
    Station& s = station();
    if (s.g13_stored == 0 && !tuning_tried_) {
        tuning_tried_ = true;
        const int32_t before = s.delay.g13;
        if (before <= 0) {
            // No time base measured: a search from 0 would never get there.
            show_message(kNoTimeBase);
        } else {
            BarProgress bar(progresse);
            TuneOutcome how = TuneOutcome::Silent;
            const int32_t g = test_v(s, &bar, &how);
            progresse->setRange(0, 9);
            if (g > 0) {
                // For this run only: counts are kept in the module memory by
                // the frequency window alone.
                s.delay.g13 = g;
                s.g13_stored = g;
            } else {
                // Nothing answered: keep the count in use rather than 0.
                s.delay.g13 = before;
                show_message(how == TuneOutcome::Garbled ? kGarbled : kNoAnswer);
            }
        }
    }
    if (s.g13_stored != 0)
        s.delay.g13 = s.g13_stored;
    reset(s);
    reset_results();
    busy_ = false;
}

void Tnrig130000::done(int r)
{
    reset(station());
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

void Tnrig130000::step()
{
    progresse->setValue(std::min(progresse->value() + 1, progresse->maximum()));
    progresse->repaint();
}

void Tnrig130000::show_mode()
{
    const auto& sym = station().symbols;
    for (int j = 30; j >= 5; --j)
        if (sym[size_t(j)] != 0) {
            mo_me->setText(QString::number(sym[size_t(j - 1)]) + QString::number(sym[size_t(j)]));
            return;
        }
}

void Tnrig130000::show_identity()
{
    const auto& sym = station().symbols;
    auto n = [&](int i) { return QString::number(sym[size_t(i)]); };
    QString equipment;
    for (int i = 8; i <= 27; ++i)
        equipment += (i == 14 || i == 22) ? QString(" ") : n(i);
    l1->setText(equipment);
    l2->setText(n(3) + n(4) + "/" + n(0) + n(1) + "/" + n(6) + n(7));
    show_reprogramming();
}

void Tnrig130000::show_reprogramming()
{
    const auto& sym = station().symbols;
    auto n = [&](int i) { return QString::number(sym[size_t(i)]); };
    l3->setText(n(31) + n(32) + "/" + n(28) + n(29) + "/" + n(34) + n(35));
}

bool Tnrig130000::read_channel(int channel)
{
    Station& s = station();
    const RunList v = cmd_channel_read(channel);
    const bool answered = ecrir_octet_b(s, v, v.last());
    QLabel* name = name_[size_t(channel - 1)];
    if (!answered) {
        // No reply is not a record of zeros: the lines keep what they showed.
        name->setText(QString("Canal %1 : non relu").arg(channel));
        return false;
    }
    decode_nb_g13(s);
    name->setText(QString("Canal %1 :").arg(channel));
    upper(channel)->setText(QString::fromStdString(channel_line(s.symbols, 0)));
    lower(channel)->setText(QString::fromStdString(channel_line(s.symbols, 12)));
    return true;
}

void Tnrig130000::report_unread(const QList<int>& channels)
{
    if (channels.isEmpty())
        return;
    QStringList n;
    for (int c : channels)
        n << QString::number(c);
    show_message(QString(channels.size() == 1 ? "Canal %1 non relu" : "Canaux %1 non relus").arg(n.join(", ")) +
                 " : le monnayeur ne répond pas. Les valeurs affichées sont celles d'avant.");
}

std::array<int, 4> Tnrig130000::maxima(int channel) const { return parse_values(upper(channel)->text().toStdString()); }

std::array<int, 4> Tnrig130000::minima(int channel) const { return parse_values(lower(channel)->text().toStdString()); }

void Tnrig130000::Button1Click()
{
    Station& s = station();
    progresse->setRange(0, 9);
    progresse->setValue(0);
    progresse->show();
    reset_results();
    P2->setTitle("");
    Label13->show();
    p1->hide();
    P2->hide();
    a1->hide();
    repaint();

    reset(s);
    const bool heard = ouverture(s);
    decode_nb_g13_13(s);
    const bool answered = opening_answered(s);
    QList<int> unread;
    if (answered) {
        const RunList hold = cmd_open_probe(107);
        set_slow(s);
        ecrir_octet_s(s, hold, hold.last());
        step();
        const RunList u = cmd_mode_read();
        ecrir_octet(s, u, u.last());
        decode_nb_g13(s);
        show_mode();
        step();

        ecrir_octet_s(s, hold, hold.last());
        const RunList z = cmd_identity();
        const bool identity = ecrir_octet(s, z, z.last());
        const RunList end = cmd_end_identification();
        ecrir_octet_s(s, end, end.last());
        set_fast(s);
        decode_nb_g13(s);
        if (identity)
            show_identity();
        step();

        set_fast(s);
        for (int n = 1; n <= 6; ++n) {
            if (!read_channel(n))
                unread << n;
            step();
        }
    }
    Label13->hide();
    progresse->hide();
    if (!answered)
        show_message(heard ? kReadGarbled : kReadSilent);
    report_unread(unread);
}

void Tnrig130000::Button4Click()
{
    p1->show();
    P2->show();
    a1->show();
    a1->setText(kWaitCoin);
    a1->repaint();
    bool coin = false;
    const std::string text = Ajust(station(), &coin);
    // Without a reply nothing was measured: no channel holds the coin.
    a1->setText(coin ? QString::fromStdString(text) : QString(kNoCoin));
    const std::array<int, 4> m = parse_values(text);
    for (int n = 1; n <= 6; ++n) {
        const auto hi = maxima(n);
        const auto lo = minima(n);
        for (int k = 1; k <= 4; ++k) {
            result(n, k)->setText(three(hi[size_t(k - 1)]));
            result(n, k + 4)->setText(three(lo[size_t(k - 1)]));
            const int v = m[size_t(k - 1)];
            paint_pair(result(n, k), result(n, k + 4), coin && lo[size_t(k - 1)] <= v && v <= hi[size_t(k - 1)]);
        }
    }
}

void Tnrig130000::Button5Click()
{
    p1->hide();
    P2->hide();
    a1->hide();
    if (auto* teach = shell_.dialog<Tcalibration_nri_g13>()) {
        teach->set_window(this);
        teach->exec();
        teach->set_window(nullptr);
    }
}

void Tnrig130000::Button6Click()
{
    int n = 1;
    if (auto* prompt = shell_.dialog<TC_canal>())
        n = prompt->ask(6, this);
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
    Station& s = station();
    s.measured_module_count = units;
    if (channel >= 1 && channel <= 6) {
        const RunList d = cmd_channel_select(channel);
        ecrir_octet_s(s, d, d.last());
    }
    for (const auto& line : {hi, lo}) {
        const RunList values = cmd_values(line);
        ecrir_octet_s(s, values, values.last());
    }
    const QDate d = today();
    const RunList date = cmd_date(d.month(), d.day(), d.year() % 100);
    ecrir_octet_s(s, date, date.last());
    const RunList z = cmd_identity();
    if (ecrir_octet(s, z, z.last()))
        show_reprogramming();
    set_fast(s);
    if (channel >= 1 && channel <= 6 && !read_channel(channel))
        report_unread({channel});
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
    Station& s = station();
    const RunList hold = cmd_open_probe(107);
    reset(s);
    set_slow(s);
    ecrir_octet_s(s, hold, hold.last());
    const RunList j = cmd_mode_write(me->value());
    ecrir_octet_s(s, j, j.last());
    Panel1->hide();
    reset(s);
    set_slow(s);
    ecrir_octet_s(s, hold, hold.last());
    const RunList u = cmd_mode_read();
    const bool read = ecrir_octet(s, u, u.last());
    decode_nb_g13(s);
    show_mode();
    ecrir_octet_s(s, hold, hold.last());
    const RunList end = cmd_end_identification();
    ecrir_octet_s(s, end, end.last());
    set_fast(s);
    if (!read)
        show_message(kModeNotRead);
}

void Tnrig130000::BitBtn6Click() { Panel1->hide(); }

void Tnrig130000::Button2Click()
{
    canal->setRange(1, 6);
    choix_c->show();
}

void Tnrig130000::BitBtn1Click()
{
    choix_c->hide();
    const int n = canal->value();
    store::ModelRecord r;
    r.type = "NRI1";
    r.piece = piece->text().left(15).toStdString();
    const auto hi = maxima(n);
    const auto lo = minima(n);
    for (int k = 0; k < 4; ++k) {
        r.c[size_t(2 * k)] = hi[size_t(k)];
        r.c[size_t(2 * k + 1)] = lo[size_t(k)];
    }
    store::store_model(shell_, this, r);
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

} // namespace zuna
