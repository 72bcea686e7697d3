#include "alberici/alber_3.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "alberici/aide_alber.h"
#include "store/browsers.h"
#include "store/model_ui.h"
#include "ui/band_view.h"
#include "ui/c_canal.h"
#include "ui/settings_panel.h"
#include "ui/shell.h"
#include "ui/transfer.h"
#include "ui/widgets.h"

namespace zuna {

using namespace alberici;

namespace {

const char kSilent[] = "Le monayeur ne répond pas.";
const char kUnknown[] = "????"; // a cell written but not confirmed

// The grid's cells: centred in a sunken frame.
QLabel* cell(QWidget* parent, const QString& name, const QString& text, int width = 0)
{
    QLabel* l = make_label(parent, name, text, Qt::AlignCenter);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    if (width)
        l->setMinimumWidth(width);
    return l;
}

void set_background(QLabel* l, bool yellow)
{
    QPalette p = l->palette();
    p.setColor(QPalette::Window, yellow ? QColor(Qt::yellow) : l->palette().color(QPalette::Button));
    l->setPalette(p);
    l->setAutoFillBackground(true);
    l->setProperty("lit", yellow);
}

// Name of parameter (i = 1..6) or delta (i = 7..12) of channel n: two digits
// for i in channels 11 and 12.
QString cell_name(int n, int i) { return QString("c%1%2").arg(n).arg(i, n >= 11 ? 2 : 1, 10, QChar('0')); }

QString first_upper(const char* lower, const char* upper, int n)
{
    return n == 1 ? QString(upper) + "1" : QString("%1%2").arg(lower).arg(n);
}

std::optional<int> label_number(const QLabel* l)
{
    bool ok = false;
    const int v = l->text().trimmed().toInt(&ok);
    return ok ? std::optional<int>(v) : std::nullopt;
}

} // namespace

Talber_3::Talber_3(Shell& shell, QWidget* parent) : QDialog(parent), shell_(shell)
{
    setObjectName("alber_3");
    setWindowTitle(shell.title("Alberici AL 03."));
    show_message = default_sink(this, windowTitle());
    overlap_ask = default_overlap_ask(this);
    build();
}

bool Talber_3::run(bool stoppable, const std::function<void(Progress&)>& op)
{
    transfer_->set_stoppable(stoppable);
    return transfer_->run(op);
}

Station& Talber_3::station() { return shell_.station; }

bool Talber_3::yellow(const QLabel* l) { return l->property("lit").toBool(); }

QWidget* Talber_3::build_block(int n)
{
    auto* f = new QFrame(this);
    f->setObjectName(QString("bloc%1").arg(n));
    f->setFrameShape(QFrame::StyledPanel);
    auto* g = new QGridLayout(f);
    g->setContentsMargins(4, 2, 4, 2);
    g->setHorizontalSpacing(3);
    g->setVerticalSpacing(2);
    auto* head = new QLabel(QString("Canal %1").arg(n), f);
    head->setObjectName(QString("Label%1").arg(n));
    g->addWidget(head, 0, 0, 1, 3);
    const size_t i = size_t(n - 1);
    t_[i] = cell(f, first_upper("t", "T", n), "000", 34);
    t_[i]->setToolTip("Temps d'impulsion en ms");
    v_[i] = cell(f, first_upper("v", "V", n), "000", 34);
    v_[i]->setToolTip("Valeur de la piéce");
    i_[i] = new QCheckBox(f);
    i_[i]->setObjectName(first_upper("i", "I", n));
    i_[i]->setToolTip("Sélection du canal");
    to_[i] = cell(f, QString("to%1").arg(n), "0", 22);
    to_[i]->setToolTip("Tolérance");
    s_[i] = cell(f, first_upper("s", "S", n), "0", 22);
    s_[i]->setToolTip("Sortie");
    g->addWidget(t_[i], 1, 0);
    g->addWidget(v_[i], 2, 0);
    g->addWidget(i_[i], 1, 1);
    g->addWidget(to_[i], 1, 2);
    for (int k = 1; k <= 12; ++k) {
        QLabel* l = cell(f, cell_name(n, k), "000", 30);
        c_[i][size_t(k - 1)] = l;
        g->addWidget(l, k <= 6 ? 1 : 2, 3 + (k - 1) % 6);
    }
    g->addWidget(s_[i], 1, 9);
    return f;
}

void Talber_3::build()
{
    auto* top = new QVBoxLayout(this);
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName("PageControl1");
    top->addWidget(tabs_);

    auto* canaux = new QWidget;
    canaux->setObjectName("canaux");
    auto* cg = new QHBoxLayout(canaux);
    auto* blocks = new QGridLayout;
    for (int n = 1; n <= 12; ++n)
        blocks->addWidget(build_block(n), (n - 1) % 6, (n - 1) / 6);
    auto* left = new QVBoxLayout;
    left->addLayout(blocks);
    cg->addLayout(left, 1);

    auto* buttons = new QVBoxLayout;
    Button1 = make_button(canaux, "Button1", "Lecture", "Lecture des infos du monayeur");
    Button3 = make_button(canaux, "Button3", "Calib. Piece", "Calibration d'une pièce avec le monayeur");
    Button4 = make_button(canaux, "Button4", "Test pieces", "voir dans quel canal la pièce  est active");
    Button5 = make_button(canaux, "Button5", "Ajust.", "ajuster un canal manuellement");
    Button2 = make_button(canaux, "Button2", "Vider");
    Button8 = make_button(canaux, "Button8", "Enr. Modèle", "Mémorisez un modèle de pièce");
    Button9 = make_button(canaux, "Button9", "Voir modèle", "Lire un modéle de pièce");
    BitBtn5 = make_button(canaux, "BitBtn5", "Aide");
    for (QPushButton* b : {Button1, Button3, Button4, Button5, Button2, Button8, Button9, BitBtn5})
        buttons->addWidget(b);
    buttons->addStretch();
    cg->addLayout(buttons);
    tabs_->addTab(canaux, "Canaux");
    tabs_->addTab(build_type_tab(), "TYPE");

    auto* status = new QHBoxLayout;
    progresse = new QProgressBar(this);
    progresse->setObjectName("progresse");
    progresse->setRange(0, 13);
    progresse->hide();
    status->addWidget(progresse);
    transfer_ = new Transfer(shell_.transfers, this, progresse);
    status->addWidget(transfer_->stop_button());

    auto family = std::make_unique<Al3Settings>();
    family_ = family.get();
    settings_ = new SettingsPanel(shell_, this, *transfer_, std::move(family));
    settings_->ready = [this] { return ready(); };
    settings_->overlap_ask = [this](const QString& q) { return overlap_ask(q); };
    // After a restore wrote, and after any read of the panel (a save, a
    // comparison): the mechanism as its last whole read found it.
    settings_->after_write = [this] {
        if (const auto& now = family_->last_read()) {
            for (int n = 1; n <= kChannels; ++n)
                if (const auto r = record_of(*now, n))
                    show_channel(n, *r);
            type_m->setCurrentRow(now->values.at("Type") - 1);
            type_read_ = true;
            for (int k = 0; k <= 6; ++k)
                ns_[size_t(k)]->setChecked(now->values.at(k == 0 ? "Niveau de sortie/Accumulateur"
                                                                 : "Niveau de sortie/Sortie " + std::to_string(k)));
        }
        refresh_views();
    };
    for (QPushButton* b : {settings_->save_button(), settings_->restore_button(), settings_->next_button()})
        connect(b, &QPushButton::clicked, this, settings_->after_write);
    views_ = new ViewButtons(shell_, this, [this] { return bands(); }, [this] { return sheet(); });
    auto* files = zuna::file_row(settings_, views_);
    top->addLayout(files);
    top->addLayout(status);
    build_panels(this);

    connect(Button1, &QPushButton::clicked, this, &Talber_3::Button1Click);
    connect(Button3, &QPushButton::clicked, this, &Talber_3::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &Talber_3::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &Talber_3::Button5Click);
    connect(Button2, &QPushButton::clicked, this, &Talber_3::Button2Click);
    connect(Button8, &QPushButton::clicked, this, &Talber_3::Button8Click);
    connect(Button9, &QPushButton::clicked, this, &Talber_3::Button9Click);
    connect(BitBtn5, &QPushButton::clicked, this, &Talber_3::BitBtn5Click);
    connect(BitBtn6, &QPushButton::clicked, this, &Talber_3::BitBtn6Click);
    connect(BitBtn7, &QPushButton::clicked, this, &Talber_3::BitBtn7Click);
    connect(ok, &QPushButton::clicked, this, &Talber_3::okClick);
    connect(ab, &QPushButton::clicked, this, &Talber_3::abClick);
    connect(BitBtn1, &QPushButton::clicked, this, &Talber_3::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &Talber_3::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &Talber_3::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &Talber_3::BitBtn4Click);
    connect(Button6, &QPushButton::clicked, this, &Talber_3::Button6Click);
    connect(Button7, &QPushButton::clicked, this, &Talber_3::Button7Click);
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 1 && isVisible())
            Button6Click();
    });
}

QWidget* Talber_3::build_type_tab()
{
    auto* tab = new QWidget;
    tab->setObjectName("TabSheet1");
    auto* g = new QGridLayout(tab);
    g->addWidget(new QLabel("Type de monnayeur :", tab), 0, 0);
    type_m = new QListWidget(tab);
    type_m->setObjectName("type_m");
    type_m->addItems({"Impulsion", "Impulsion sur demande", "temps", "temps sur demande", "auto programme",
                      "multi prix"});
    type_m->setMaximumHeight(130);
    g->addWidget(type_m, 1, 0);
    auto* levels = new QGroupBox("Niveau de sortie", tab);
    levels->setObjectName("GroupBox2");
    auto* lg = new QVBoxLayout(levels);
    for (int k = 0; k <= 6; ++k) {
        ns_[size_t(k)] = new QCheckBox(k == 0 ? QString("Accumutaleur") : QString("Sortie %1").arg(k), levels);
        ns_[size_t(k)]->setObjectName(QString("ns%1").arg(k));
        lg->addWidget(ns_[size_t(k)]);
    }
    auto* legend = new QCheckBox("(niveau haut)", levels);
    legend->setObjectName("CheckBox1");
    legend->setChecked(true);
    legend->setEnabled(false);
    lg->addWidget(legend);
    g->addWidget(levels, 0, 1, 3, 1);
    auto* row = new QHBoxLayout;
    row->addWidget(Button6 = make_button(tab, "Button6", "Lecture"));
    row->addWidget(Button7 = make_button(tab, "Button7", "Ecrir"));
    row->addStretch();
    g->addLayout(row, 3, 0, 1, 2);
    g->setRowStretch(2, 1);
    return tab;
}

void Talber_3::build_panels(QWidget* parent)
{
    auto* top = static_cast<QVBoxLayout*>(layout());

    test = new QGroupBox(parent);
    test->setObjectName("test");
    auto* tg = new QHBoxLayout(test);
    tg->addWidget(new QLabel("Mesures :", test));
    for (int k = 1; k <= 6; ++k)
        tg->addWidget(te_[size_t(k - 1)] = cell(test, QString("te%1").arg(k), "000", 34));
    tg->addStretch();
    test->hide();
    top->addWidget(test);

    Panel1 = new QFrame(parent);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::Panel);
    auto* p1 = new QGridLayout(Panel1);
    p1->addWidget(new QLabel("Nb de piece", Panel1), 0, 0);
    p1->addWidget(nb_p = make_spin(Panel1, "nb_p", 1, 20, 15), 0, 1);
    p1->addWidget(new QLabel("Canal :", Panel1), 1, 0);
    p1->addWidget(can = make_spin(Panel1, "can", 1, 12, 1), 1, 1);
    p1->addWidget(new QLabel("Tolerance :", Panel1), 2, 0);
    p1->addWidget(tol = make_spin(Panel1, "tol", 2, 10, 4), 2, 1);
    auto* vc = new QGroupBox("Valeurs canal", Panel1);
    vc->setObjectName("GroupBox1");
    auto* vg = new QGridLayout(vc);
    vg->addWidget(new QLabel("Valeur piéce :", vc), 0, 0);
    vg->addWidget(vp = make_spin(vc, "vp", 1, 100, 1), 0, 1);
    vg->addWidget(new QLabel("Temps impulsion :", vc), 1, 0);
    vg->addWidget(tp = make_spin(vc, "tp", 0, 510, 100), 1, 1);
    tp->setSingleStep(2);
    vg->addWidget(new QLabel("Sortie :", vc), 2, 0);
    vg->addWidget(so = make_spin(vc, "so", 0, 6, 0), 2, 1);
    p1->addWidget(vc, 0, 2, 3, 1);
    p1->addWidget(BitBtn6 = make_button(Panel1, "BitBtn6", "Lecture"), 0, 3);
    p1->addWidget(BitBtn7 = make_button(Panel1, "BitBtn7", "Abandon"), 1, 3);
    BitBtn6->setDefault(true);
    Panel1->hide();
    top->addWidget(Panel1);

    Panel2 = new QFrame(parent);
    Panel2->setObjectName("Panel2");
    Panel2->setFrameShape(QFrame::Panel);
    auto* p2 = new QGridLayout(Panel2);
    p2->addWidget(new QLabel("Paramètres", Panel2), 0, 0);
    p2->addWidget(new QLabel("Deltas", Panel2), 1, 0);
    for (int k = 1; k <= 6; ++k) {
        p2->addWidget(pa_[size_t(k - 1)] = make_spin(Panel2, QString("pa%1").arg(k), 0, 255, 0), 0, k);
        p2->addWidget(de_[size_t(k - 1)] = make_spin(Panel2, QString("de%1").arg(k), 0, 30, 0), 1, k);
    }
    p2->addWidget(new QLabel("Valeur", Panel2), 0, 7);
    p2->addWidget(va = make_spin(Panel2, "va", 1, 100, 1), 1, 7);
    p2->addWidget(new QLabel("Temps", Panel2), 0, 8);
    p2->addWidget(ta = make_spin(Panel2, "ta", 0, 510, 100), 1, 8);
    ta->setSingleStep(2);
    p2->addWidget(new QLabel("Sortie", Panel2), 0, 9);
    p2->addWidget(sa = make_spin(Panel2, "sa", 0, 6, 0), 1, 9);
    val = new QCheckBox("validé", Panel2);
    val->setObjectName("val");
    p2->addWidget(val, 0, 10);
    p2->addWidget(ok = make_button(Panel2, "ok", "OK"), 0, 11);
    p2->addWidget(ab = make_button(Panel2, "ab", "Abandon"), 1, 11);
    ok->setDefault(true);
    Panel2->hide();
    top->addWidget(Panel2);

    const StorePanel store = make_store_panel(shell_, parent, 12, true);
    choix_c = store.box;
    canal = store.canal;
    piece = store.piece;
    BitBtn1 = store.ok;
    BitBtn2 = store.abandon;
    top->addWidget(choix_c);

    const ModelPanel model = make_model_panel(parent, 12, true);
    vers_c = model.box;
    f_p = model.f_p;
    canal_v = model.canal_v;
    BitBtn3 = model.ok;
    BitBtn4 = model.abandon;
    top->addWidget(vers_c);
}

void Talber_3::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    // Once per opening: a dialog opened over this window (prompt, browser,
    // help) must not wipe what was read when it closes.
    if (!initialised_) {
        initialised_ = true;
        hide_views();
        init_grid();
    }
}

void Talber_3::init_grid()
{
    records_ = {};
    for (auto& row : c_)
        for (QLabel* l : row) {
            l->setText("000");
            set_background(l, false);
        }
}

void Talber_3::hide_views()
{
    Panel1->hide();
    Panel2->hide();
    test->hide();
}

bool Talber_3::ready() { return delay_usable(station().delay.alb, "ALB", show_message); }

void Talber_3::show_channel(int n, const Record& r)
{
    if (n < 1 || n > kChannels)
        return;
    for (int k = 1; k <= 6; ++k) {
        parameter(n, k)->setText(QString::number(alberici::parameter(r, k)));
        delta(n, k)->setText(QString::number(alberici::delta(r, k)));
    }
    output_label(n)->setText(QString::number(output_index(r[kOutputAddr])));
    time_label(n)->setText(QString::number(time_ms(r)));
    value_label(n)->setText(QString::fromStdString(value_text(r[kValueAddr])));
    tolerance_label(n)->setText(QString::fromStdString(tolerance_text(r[kToleranceAddr])));
    selection(n)->setChecked(validated(r));
    records_[size_t(n - 1)] = r;
    unknown_[size_t(n - 1)] = false;
}

void Talber_3::mark_unknown(int n, const std::vector<int>& addresses)
{
    if (n < 1 || n > kChannels)
        return;
    for (int a : addresses) {
        QLabel* l = a < 12 ? (a % 2 == 0 ? parameter(n, a / 2 + 1) : delta(n, a / 2 + 1))
                    : a == kOutputAddr ? output_label(n)
                    : a == kTimeAddr   ? time_label(n)
                    : a == kValueAddr  ? value_label(n)
                    : a == kToleranceAddr ? tolerance_label(n)
                                          : nullptr;
        if (l) {
            l->setText(kUnknown);
            set_background(l, false);
        }
    }
    records_[size_t(n - 1)].reset();
    unknown_[size_t(n - 1)] = true;
}

void Talber_3::report_write(const WriteResult& w, bool whole_row)
{
    if (!w.sent)
        return;
    if (w.unknown()) {
        std::vector<int> touched;
        if (whole_row)
            for (int a = 0; a < kRecordBytes - 2; ++a)
                touched.push_back(a);
        else
            for (const auto& [address, value] : w.written)
                touched.push_back(address);
        mark_unknown(w.channel, touched);
    } else if (w.readback) {
        show_channel(w.channel, *w.readback);
    }
    refresh_views();
    if (w.confirmed())
        return;
    if (w.unknown()) {
        show_message(QString("Écriture du canal %1 non confirmée : %2. Les cases écrites sont inconnues (« ???? ») : "
                             "relisez le monnayeur.")
                         .arg(w.channel)
                         .arg(w.readback ? "le monnayeur relit autre chose à chaque lecture"
                                         : "le monnayeur ne répond pas à la relecture"));
        return;
    }
    QStringList at;
    for (int a : w.differences())
        at << QString("0x%1").arg(a, 2, 16, QChar('0')).toUpper().replace("0X", "0x");
    show_message(QString("Écriture du canal %1 non confirmée : le monayeur relit d'autres valeurs aux adresses %2. "
                         "Le canal affiché est ce que le monnayeur contient (relu deux fois).")
                     .arg(w.channel)
                     .arg(at.join(", ")));
}

namespace {
QString not_an_al3(int type)
{
    return QString("Le monnayeur se présente comme un type %1, que l'AL3 n'a pas (1 à 6) : ce n'est peut-être pas un "
                   "Alberici AL3. Rien n'a été écrit.")
        .arg(type);
}
} // namespace

bool Talber_3::identified()
{
    if (identified_)
        return true;
    std::optional<uint8_t> type;
    run(false, [&](Progress&) { type = teach_type(station()); });
    if (!type) {
        show_message(kSilent);
        return false;
    }
    if (*type < 1 || *type > 6) {
        show_message(not_an_al3(*type));
        return false;
    }
    identified_ = true;
    return true;
}

void Talber_3::Button1Click()
{
    hide_views();
    if (!ready())
        return;
    init_grid();
    identified_ = false; // it may be another mechanism now: its type is asked again before a write
    progresse->setValue(1);
    ReadAll r;
    run(true, [&](Progress& p) { r = lecture(station(), &p); });
    for (int n = 1; n <= r.done; ++n)
        show_channel(n, *r.channel[size_t(n - 1)]);
    refresh_views();
    if (r.stopped)
        show_message(QString("Lecture arrêtée après le canal %1 : les canaux suivants ne sont pas lus.").arg(r.done));
    else if (r.garbled)
        show_message(QString("Le monnayeur répond, mais ses réponses sont illisibles (ligne perturbée ?) : lecture "
                             "arrêtée au canal %1, les canaux suivants ne sont pas lus.")
                         .arg(r.done + 1));
    else if (r.silent)
        show_message(kSilent);
}

void Talber_3::Button3Click()
{
    if (!ready())
        return;
    std::optional<uint8_t> type;
    run(false, [&](Progress&) { type = teach_type(station()); });
    if (!type) {
        show_message(kSilent);
        return;
    }
    if (*type < 1 || *type > 6) { // another mechanism, or a line too garbled to teach on
        show_message(not_an_al3(*type));
        return;
    }
    identified_ = true;
    if (*type == 5) {
        show_message("Vous devez changer le type de monnayeur ");
        return;
    }
    Panel2->hide();
    nb_p->setValue(15);
    Panel1->show();
    test->hide();
}

void Talber_3::BitBtn6Click()
{
    if (!ready())
        return;
    Teach t;
    t.coins = nb_p->value();
    t.channel = can->value();
    t.tolerance = tol->value();
    t.value = vp->value();
    t.time_ms = tp->value();
    t.output = so->value();
    TeachResult r;
    // Each count received is shown as it comes: the bar's value is the count.
    const auto live = connect(progresse, &QProgressBar::valueChanged, this, [this](int v) {
        if (v >= 1)
            nb_p->setValue(v);
    });
    run(true, [&](Progress& p) { r = teach(station(), t, &p); });
    disconnect(live);
    if (!r.counts.empty())
        nb_p->setValue(r.counts.back());
    Panel1->hide();
    if (!r.answered) {
        show_message("Le monayeur ne répond pas : l'apprentissage n'a pas commencé.");
        return;
    }
    if (r.stopped || r.no_coin || r.garbled) {
        const QString why = r.stopped   ? QString("Apprentissage arrêté")
                            : r.garbled ? QString("Comptage illisible reçu")
                                        : QString("Aucune pièce reçue");
        show_message(QString("%1 après %2 pièce(s) : le canal %3 n'est pas écrit.")
                         .arg(why)
                         .arg(r.counts.size())
                         .arg(t.channel));
        return;
    }
    report_write(r.write, true); // the mechanism computed the parameters and deltas
}

void Talber_3::BitBtn7Click() { Panel1->hide(); }

void Talber_3::Button4Click()
{
    Panel2->hide();
    Panel1->hide();
    test->show();
    if (!ready())
        return;
    std::array<std::optional<uint8_t>, 6> m{};
    run(false, [&](Progress&) { m = coin_test(station()); });
    bool whole = true;
    std::vector<int> coin;
    for (int k = 0; k < 6; ++k) {
        te_[size_t(k)]->setText(m[size_t(k)] ? QString::number(*m[size_t(k)]) : QString());
        whole = whole && m[size_t(k)];
        coin.push_back(m[size_t(k)].value_or(0));
    }
    // A coin test without every answer is no coin at all.
    coin_ = whole ? std::optional<std::vector<int>>(coin) : std::nullopt;
    refresh_views();
    if (!whole) {
        show_message(kSilent);
        return;
    }
    for (int n = 1; n <= kChannels; ++n) {
        if (!selection(n)->isChecked() || unknown_[size_t(n - 1)])
            continue;
        for (int k = 1; k <= 6; ++k) {
            const auto p = label_number(parameter(n, k));
            const auto d = label_number(delta(n, k));
            const int v = *m[size_t(k - 1)];
            // Whole numbers, not bytes: p = 5, d = 10 accepts 0..15.
            const bool inside = p && d && *p - *d <= v && v <= *p + *d;
            set_background(parameter(n, k), inside);
            set_background(delta(n, k), inside);
        }
    }
}

void Talber_3::Button5Click()
{
    test->hide();
    int c = 1;
    if (auto* prompt = shell_.dialog<TC_canal>())
        c = prompt->ask(kChannels, this);
    if (!ready())
        return;
    std::optional<Record> r;
    run(false, [&](Progress&) { r = adjust_read(station(), c); });
    if (!r) {
        Panel2->hide();
        show_message(kSilent);
        return;
    }
    adjust_channel_ = c;
    QStringList clamped;
    auto put = [&](QSpinBox* s, int v, const QString& what) {
        s->setValue(v);
        if (s->value() != v)
            clamped << QString("%1 %2 → %3").arg(what).arg(v).arg(s->value());
    };
    for (int k = 1; k <= 6; ++k) {
        put(pa_[size_t(k - 1)], alberici::parameter(*r, k), QString("paramètre %1").arg(k));
        put(de_[size_t(k - 1)], alberici::delta(*r, k), QString("delta %1").arg(k));
    }
    sa->setValue(output_index((*r)[kOutputAddr]));
    ta->setValue(time_ms(*r));
    val->setChecked(validated(*r));
    put(va, (*r)[kValueAddr] & 0x7F, "valeur");
    Panel2->show();
    if (!clamped.isEmpty())
        show_message(QString("Valeurs lues hors des limites de l'ajustement, ramenées à la limite : %1.")
                         .arg(clamped.join(", ")));
}

void Talber_3::okClick()
{
    const int c = adjust_channel_;
    Panel2->hide();
    if (!ready())
        return;
    Settings v;
    for (int k = 0; k < 6; ++k) {
        v.parameter[size_t(k)] = pa_[size_t(k)]->value();
        v.delta[size_t(k)] = de_[size_t(k)]->value();
    }
    v.output = sa->value();
    v.time_ms = ta->value();
    v.value = va->value();
    v.validated = val->isChecked();
    if (v.validated) { // a channel not validated accepts nothing: it overlaps nothing
        std::vector<std::optional<settings::Band>> windows;
        for (int k = 0; k < 6; ++k)
            windows.push_back(settings::Band{std::max(0, v.parameter[size_t(k)] - v.delta[size_t(k)]),
                                             std::min(255, v.parameter[size_t(k)] + v.delta[size_t(k)])});
        if (!write_allowed(bands(), c, windows, overlap_ask))
            return;
    }
    if (!identified())
        return;
    WriteResult w;
    run(false, [&](Progress&) { w = write_channel(station(), c, v); });
    report_write(w);
}

void Talber_3::abClick() { Panel2->hide(); }

void Talber_3::Button2Click()
{
    auto* prompt = shell_.dialog<TC_canal>();
    if (!prompt)
        return;
    const int c = prompt->ask(kChannels, this);
    if (prompt->result() != QDialog::Accepted || !ready() || !identified())
        return;
    WriteResult w;
    run(false, [&](Progress&) { w = vider(station(), c); });
    report_write(w);
}

void Talber_3::Button8Click()
{
    hide_views();
    canal->setRange(1, kChannels);
    choix_c->show();
}

void Talber_3::BitBtn1Click()
{
    const int c = canal->value();
    if (unknown_[size_t(c - 1)]) {
        show_message(QString("Le canal %1 est inconnu depuis une écriture non confirmée : relisez le monnayeur ; le "
                             "modèle n'est pas enregistré.")
                         .arg(c));
        return;
    }
    store::ModelRecord m;
    m.type = "ALB3";
    m.piece = piece->text().left(15).toStdString();
    std::vector<std::pair<int, QLabel*>> columns; // C index (0 = C1), label
    for (int k = 1; k <= 6; ++k) {
        columns.push_back({2 * k - 2, parameter(c, k)});
        columns.push_back({2 * k - 1, delta(c, k)});
    }
    for (const auto& [col, l] : columns) {
        const auto v = label_number(l);
        if (!v) {
            show_message(QString("'%1' n'est pas une valeur entière correcte : le modèle n'est pas enregistré.")
                             .arg(l->text()));
            return;
        }
        m.c[size_t(col)] = *v;
    }
    const auto t1 = label_number(tolerance_label(c));
    if (!t1) {
        show_message(QString("'%1' n'est pas une valeur entière correcte : le modèle n'est pas enregistré.")
                         .arg(tolerance_label(c)->text()));
        return;
    }
    m.t[0] = *t1;
    if (store::store_model(shell_, this, m))
        choix_c->hide();
}

void Talber_3::BitBtn2Click() { choix_c->hide(); }

void Talber_3::Button9Click()
{
    hide_views();
    // The six character labels of the browser mean nothing for this mechanism.
    std::vector<QLabel*> hidden;
    if (auto* b = shell_.dialog<store::TM_g13_6000>())
        for (int i = 1; i <= 6; ++i)
            if (auto* l = b->findChild<QLabel*>(QString("t%1t").arg(i)); l && !l->isHidden()) {
                l->hide();
                hidden.push_back(l);
            }
    canal_v->setRange(1, kChannels);
    model_ = store::choose_model(shell_, this, "ALB3");
    for (QLabel* l : hidden)
        l->show();
    if (!model_)
        return;
    f_p->setText(QString::fromStdString(model_->piece));
    vers_c->show();
}

void Talber_3::BitBtn3Click()
{
    if (!model_)
        return;
    const QString name = QString::fromStdString(model_->piece);
    const auto& t1 = model_->t[0];
    if (!t1 || *t1 < 0 || *t1 > 255) {
        show_message(QString("Modèle « %1 » : T1 est vide ou hors de 0..255 ; rien n'a été chargé.").arg(name));
        return;
    }
    for (int i = 0; i < 12; ++i) {
        const auto& v = model_->c[size_t(i)];
        const int hi = i % 2 == 0 ? 255 : 30;
        if (!v || *v < 0 || *v > hi) {
            show_message(QString("Modèle « %1 » : la valeur C%2 est vide ou hors de 0..%3 ; rien n'a été chargé.")
                             .arg(name)
                             .arg(i + 1)
                             .arg(hi));
            return;
        }
    }
    if (!ready() || !identified())
        return;
    const int c = canal_v->value();
    vers_c->hide();
    Panel2->show();
    adjust_channel_ = c;
    if (auto* prompt = shell_.dialog<TC_canal>()) {
        prompt->canal()->setRange(1, kChannels);
        prompt->canal()->setValue(c);
    }
    va->setValue(1);
    ta->setValue(100);
    sa->setValue(c); // limited by its range to 6
    val->setChecked(true);
    for (int k = 0; k < 6; ++k) {
        pa_[size_t(k)]->setValue(*model_->c[size_t(2 * k)]);
        de_[size_t(k)]->setValue(*model_->c[size_t(2 * k + 1)]);
    }
    const uint8_t t = uint8_t(*t1);
    run(false, [&](Progress&) { load_tolerance(station(), c, t); });
}

void Talber_3::BitBtn4Click() { vers_c->hide(); }

void Talber_3::Button6Click()
{
    if (!ready())
        return;
    TypeLevels r;
    run(false, [&](Progress&) { r = read_type(station()); });
    // A reply missing or refused changes nothing on screen: a type outside
    // 1..6 is a garbled line as likely as not, and so is the level byte read with it.
    if (!r.type || !r.levels) {
        show_message(kSilent);
        return;
    }
    if (*r.type < 1 || *r.type > 6) {
        show_message(QString("Type de monnayeur inconnu (%1) : le type et les niveaux affichés restent tels "
                             "qu'ils étaient.")
                         .arg(*r.type));
        return;
    }
    identified_ = true;
    type_m->clearSelection();
    type_m->setCurrentRow(*r.type - 1);
    for (int k = 0; k <= 6; ++k)
        ns_[size_t(k)]->setChecked(!((*r.levels >> k) & 1));
    type_read_ = true;
}

void Talber_3::Button7Click()
{
    const int row = type_m->currentRow();
    if (row < 0 || type_m->selectedItems().isEmpty()) {
        show_message("Choisissez d'abord le type de monnayeur : rien n'a été écrit.");
        return;
    }
    if (!ready() || !identified())
        return;
    uint8_t b = 0;
    for (int k = 0; k <= 6; ++k)
        if (!ns_[size_t(k)]->isChecked())
            b = uint8_t(b | (1u << k));
    TypeWrite w;
    run(false, [&](Progress&) { w = write_type(station(), uint8_t(row + 1), b); });
    if (w.confirmed()) {
        type_read_ = true;
        return;
    }
    if (!w.settled) {
        // What the mechanism now holds is unknown: nothing selected, the
        // sheet says "non lu" until the next read.
        type_m->clearSelection();
        type_m->setCurrentRow(-1);
        type_read_ = false;
        show_message(QString("Type et niveaux non confirmés : %1. Le type est inconnu : relisez le monnayeur.")
                         .arg(w.readback.type && w.readback.levels ? "le monnayeur relit autre chose à chaque lecture"
                                                                   : "le monnayeur ne répond pas à la relecture"));
        return;
    }
    // Read twice alike: what the mechanism holds.
    const int t = *w.readback.type;
    type_m->clearSelection();
    type_m->setCurrentRow(t >= 1 && t <= 6 ? t - 1 : -1);
    for (int k = 0; k <= 6; ++k)
        ns_[size_t(k)]->setChecked(!((*w.readback.levels >> k) & 1));
    type_read_ = t >= 1 && t <= 6;
    show_message(QString("Type et niveaux non confirmés : le monayeur relit le type %1 et les niveaux 0x%2.")
                     .arg(t)
                     .arg(*w.readback.levels, 2, 16, QChar('0')));
}

void Talber_3::BitBtn5Click()
{
    if (auto* help = shell_.dialog<Taide_alber>()) {
        help->exec();
        return;
    }
    Taide_alber help(this);
    help.exec();
}

settings::BandSet Talber_3::bands() const { return bands_of(records_, coin_); }

Sheet Talber_3::sheet() const
{
    Sheet s;
    s.family = "Alberici AL3";
    s.facts = {{"Compte de délai ALB", QString::number(shell_.station.delay.alb)}};
    s.columns = {"Canal"};
    for (int k = 1; k <= 6; ++k)
        s.columns << QString("P%1").arg(k);
    for (int k = 1; k <= 6; ++k)
        s.columns << QString("D%1").arg(k);
    s.columns << "Temps" << "Val." << "Valid." << "Tol." << "Sort."; // seventeen columns on a page
    for (int n = 1; n <= kChannels; ++n) {
        QStringList row{QString::number(n)};
        if (!records_[size_t(n - 1)] && !unknown_[size_t(n - 1)]) { // the grid's "000" before a read are no values
            row << "non lu";
            while (row.size() < s.columns.size())
                row << "";
            s.rows.push_back(row);
            continue;
        }
        for (int k = 1; k <= 12; ++k)
            row << c_[size_t(n - 1)][size_t(k - 1)]->text();
        row << time_label(n)->text() << value_label(n)->text() << (selection(n)->isChecked() ? "oui" : "non")
            << tolerance_label(n)->text() << output_label(n)->text();
        s.rows.push_back(row);
    }
    // The TYPE tab only once it was read: unread boxes are no levels.
    const auto* type = type_m->currentItem();
    s.options.push_back({"Type de monnayeur", type_read_ && type && type_m->currentRow() >= 0 ? type->text()
                                                                                           : QString("non lu")});
    for (int k = 0; k <= 6; ++k)
        s.options.push_back({k == 0 ? QString("Niveau de l'accumulateur") : QString("Niveau de la sortie %1").arg(k),
                             !type_read_ ? "non lu" : ns_[size_t(k)]->isChecked() ? "haut" : "bas"});
    s.bands = bands();
    return s;
}

void Talber_3::refresh_views()
{
    if (views_)
        views_->refresh();
}

} // namespace zuna
