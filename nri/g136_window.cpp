#include "nri/g136_window.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "nri/g136_teach.h"
#include "nri/teach_controls.h"
#include "store/model_ui.h"
#include "ui/c_canal.h"
#include "ui/feedback.h"
#include "ui/settings_panel.h"
#include "ui/shell.h"
#include "ui/transfer.h"
#include "ui/widgets.h"

namespace zuna {

namespace g136 = nri::g136;

namespace {

QCheckBox* make_box(QWidget* parent, const QString& name)
{
    auto* b = new QCheckBox(parent);
    b->setObjectName(name);
    return b;
}

int label_int(const QLabel* l)
{
    bool ok = false;
    const int v = l->text().trimmed().toInt(&ok);
    return ok ? v : 0;
}

// Channel n's label j: "c" n j, j in two digits from channel 10 on.
QString limit_name(int n, int j)
{
    return n < 10 ? QString("c%1%2").arg(n).arg(j) : QString("c%1%2").arg(n).arg(j, 2, 10, QChar('0'));
}

QString letter(int selector) { return QString(QChar(0x41 + std::clamp(selector, 0, 16))); }

} // namespace

Tnrig1360000::Tnrig1360000(Shell& shell, QWidget* parent) : QDialog(parent), shell_(shell)
{
    setObjectName("nrig1360000");
    setWindowTitle(shell.title("NRI G13.6000"));
    show_message = default_sink(this, windowTitle());
    ask_overlap = default_overlap_ask(this);
    build();
}

Station& Tnrig1360000::station() { return shell_.station; }

void Tnrig1360000::tell(const std::string& text)
{
    if (!text.empty())
        show_message(QString::fromStdString(text));
}

bool Tnrig1360000::ready() { return delay_usable(station().delay.g136, "G136", show_message); }

void Tnrig1360000::build()
{
    auto* col = new QVBoxLayout(this);
    pages_ = new QTabWidget(this);
    pages_->setObjectName("PageControl1");
    pages_->addTab(build_channels(), "Canaux");
    pages_->addTab(build_tables(), "Tables");
    col->addWidget(pages_);

    // Settings file and views: one row under both pages.
    settings_ = new SettingsPanel(shell_, this, *transfer_, nri::make_g136_settings());
    settings_->ready = [this] { return ready(); };
    settings_->after_write = [this] {
        Button1Click();
        Button6Click();
    };
    settings_->overlap_ask = [this](const QString& q) { return ask_overlap(q); };
    views_ = new ViewButtons(shell_, this, [this] { return bands(); }, [this] { return sheet(); });
    auto* files = zuna::file_row(settings_, views_);
    col->addLayout(files);
    // Entering "Tables" reads them.
    connect(pages_, &QTabWidget::currentChanged, this, [this](int page) {
        if (page == 1)
            Button6Click();
    });
}

QWidget* Tnrig1360000::build_channels()
{
    auto* page = new QWidget(this);
    page->setObjectName("Canaux");
    auto* grid = new QGridLayout(page);

    // One row per channel: for each pair, the letter of the measurement it
    // checks, its maximum over its minimum.
    auto* channels = new QGridLayout;
    channels->setHorizontalSpacing(4);
    QFont mono("Monospace");
    mono.setStyleHint(QFont::TypeWriter);
    for (int n = 1; n <= 12; ++n) {
        name_[size_t(n - 1)] = make_label(page, QString("Label%1").arg(n), QString("Canal %1 :").arg(n));
        channels->addWidget(name_[size_t(n - 1)], 2 * (n - 1), 0, 2, 1);
        for (int k = 1; k <= 6; ++k) {
            QLabel* r = make_label(page, QString("r%1%2").arg(n).arg(k), "A");
            QPalette p = r->palette();
            p.setColor(QPalette::WindowText, Qt::red);
            r->setPalette(p);
            r_[size_t(n - 1)][size_t(k - 1)] = r;
            channels->addWidget(r, 2 * (n - 1), 1 + 2 * (k - 1), 2, 1);
            for (int half = 0; half < 2; ++half) {
                const int j = k + 6 * half;
                QLabel* l = make_label(page, limit_name(n, j), "000");
                l->setFont(mono);
                l->setAlignment(Qt::AlignCenter);
                l->setAutoFillBackground(true);
                c_[size_t(n - 1)][size_t(j - 1)] = l;
                channels->addWidget(l, 2 * (n - 1) + half, 2 + 2 * (k - 1));
            }
        }
    }
    grid->addLayout(channels, 0, 0);

    auto* buttons = new QVBoxLayout;
    Button1 = make_button(page, "Button1", "Lecture", "Lecture des infos du monayeur");
    Button3 = make_button(page, "Button3", "Calib. Piece", "Calibration d'une pièce avec le monayeur");
    Button4 = make_button(page, "Button4", "Test pieces", "voir dans quel canal la pièce  est active");
    Button5 = make_button(page, "Button5", "Ajust.", "ajuster un canal manuellement");
    Button8 = make_button(page, "Button8", "Enr. Modèle", "Mémorisez un modèle de pièce");
    Button9 = make_button(page, "Button9", "Voir modèle", "Lire un modéle de pièce");
    for (QPushButton* b : {Button1, Button3, Button4, Button5, Button8, Button9})
        buttons->addWidget(b);
    buttons->addStretch();
    grid->addLayout(buttons, 0, 1);

    l2 = make_label(page, "l2", " A       B        C        D         E         F        G        H         I         J        K        L        M        N      O        P    ");
    v_p = make_label(page, "v_p", "000 000 000 000 000 000 000 000 000 000 000 000 000 000 000");
    l2->hide();
    v_p->hide();
    grid->addWidget(l2, 1, 0, 1, 2);
    grid->addWidget(v_p, 2, 0, 1, 2);

    Label36 = make_label(page, "Label36", "Lecture monayeur");
    Label36->hide();
    progresse = new QProgressBar(page);
    progresse->setObjectName("progresse");
    progresse->setRange(0, 13);
    progresse->hide();
    transfer_ = new Transfer(shell_.transfers, this, progresse);
    auto* status = new QHBoxLayout;
    status->addWidget(Label36);
    status->addWidget(progresse);
    status->addWidget(transfer_->stop_button());
    grid->addLayout(status, 3, 0, 1, 2);

    // Manual adjustment: maxima of pairs 1 to 6 over their minima.
    const AdjustPanel adjust = make_adjust_panel(page, 6, "Maxi %1", "Mini %1");
    ajustement = adjust.box;
    std::copy(adjust.spins.begin(), adjust.spins.end(), aj_.begin());
    ok = adjust.ok;
    ab = adjust.ab;
    grid->addWidget(ajustement, 4, 0, 1, 2);

    const StorePanel store = make_store_panel(shell_, page, 12, false);
    choix_c = store.box;
    canal = store.canal;
    piece = store.piece;
    BitBtn1 = store.ok;
    BitBtn2 = store.abandon;
    grid->addWidget(choix_c, 5, 0, 1, 2);

    const ModelPanel model = make_model_panel(page, 12, false);
    vers_c = model.box;
    f_p = model.f_p;
    canal_v = model.canal_v;
    BitBtn3 = model.ok;
    BitBtn4 = model.abandon;
    grid->addWidget(vers_c, 6, 0, 1, 2);
    grid->setRowStretch(7, 1);

    connect(Button1, &QPushButton::clicked, this, &Tnrig1360000::Button1Click);
    connect(Button3, &QPushButton::clicked, this, &Tnrig1360000::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &Tnrig1360000::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &Tnrig1360000::Button5Click);
    connect(Button8, &QPushButton::clicked, this, &Tnrig1360000::Button8Click);
    connect(Button9, &QPushButton::clicked, this, &Tnrig1360000::Button9Click);
    connect(ok, &QPushButton::clicked, this, &Tnrig1360000::okClick);
    connect(ab, &QPushButton::clicked, this, &Tnrig1360000::abClick);
    connect(BitBtn1, &QPushButton::clicked, this, &Tnrig1360000::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &Tnrig1360000::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &Tnrig1360000::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &Tnrig1360000::BitBtn4Click);
    return page;
}

QWidget* Tnrig1360000::build_tables()
{
    auto* page = new QWidget(this);
    page->setObjectName("Tables");
    auto* col = new QVBoxLayout(page);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(2);
    grid->addWidget(make_label(page, "Label13", "Signal Sortie"), 0, 1, 1, 8);
    grid->addWidget(make_label(page, "Label14", "Valid canal"), 0, 10, 1, 8);
    grid->addWidget(make_label(page, "Label15", "Sortie bobine"), 0, 19, 1, 4);
    for (int j = 1; j <= 8; ++j) {
        grid->addWidget(new QLabel(QString::number(9 - j), page), 1, j, Qt::AlignCenter);
        grid->addWidget(new QLabel(QString::number(9 - j), page), 1, 9 + j, Qt::AlignCenter);
    }
    for (int j = 1; j <= 4; ++j)
        grid->addWidget(new QLabel(QString::number(5 - j), page), 1, 18 + j, Qt::AlignCenter);
    for (int c = 1; c <= 12; ++c) {
        grid->addWidget(new QLabel(QString("Canal %1 :").arg(c, 2), page), 1 + c, 0);
        for (int j = 1; j <= 8; ++j) {
            const int i = 8 * (c - 1) + j;
            ch_[size_t(i - 1)] = make_box(page, QString("ch%1").arg(i));
            valid_[size_t(i - 1)] = make_box(page, i == 1 ? QString("ii1") : QString("CheckBox%1").arg(i));
            grid->addWidget(ch_[size_t(i - 1)], 1 + c, j);
            grid->addWidget(valid_[size_t(i - 1)], 1 + c, 9 + j);
        }
        for (int j = 1; j <= 4; ++j) {
            const int i = 4 * (c - 1) + j;
            coil_[size_t(i - 1)] = make_box(page, i == 1 ? QString("sm1") : QString("CheckBox%1").arg(96 + i));
            grid->addWidget(coil_[size_t(i - 1)], 1 + c, 18 + j);
        }
    }
    grid->setColumnMinimumWidth(9, 16);
    grid->setColumnMinimumWidth(18, 16);
    col->addLayout(grid);

    auto* fg = new QGridLayout;
    for (int b = 0; b < 3; ++b) {
        fg->addWidget(new QLabel(QString("Fonction byte %1").arg(b + 1), page), b, 0);
        for (int j = 1; j <= 8; ++j) {
            const int i = 8 * b + j;
            fb_[size_t(i - 1)] = make_box(page, QString("fb%1").arg(i));
            fg->addWidget(fb_[size_t(i - 1)], b, j);
        }
    }
    fg->addWidget(new QLabel("Offset A", page), 0, 10);
    fg->addWidget(offa = make_spin(page, "offa", 0, 255, 0), 0, 11);
    fg->addWidget(new QLabel("Offset E", page), 1, 10);
    fg->addWidget(offE = make_spin(page, "offE", 0, 255, 0), 1, 11);
    col->addLayout(fg);

    auto* row = new QHBoxLayout;
    Button6 = make_button(page, "Button6", "Lecture", "Lecture des tables dans le monayeur");
    Button7 = make_button(page, "Button7", "Ecriture", "Ecriture des nouvelles tables dans le monayeur");
    progresse2 = new QProgressBar(page);
    progresse2->setObjectName("progresse2");
    progresse2->hide();
    tables_transfer_ = new Transfer(shell_.transfers, this, progresse2);
    row->addWidget(Button6);
    row->addWidget(Button7);
    row->addWidget(progresse2);
    row->addWidget(tables_transfer_->stop_button());
    row->addStretch();
    col->addLayout(row);
    col->addStretch();
    connect(Button6, &QPushButton::clicked, this, &Tnrig1360000::Button6Click);
    connect(Button7, &QPushButton::clicked, this, &Tnrig1360000::Button7Click);
    return page;
}

// ---- Page "Canaux" ---------------------------------------------------------

void Tnrig1360000::paint(int channel, int k, bool inside)
{
    for (QLabel* l : {limit(channel, k), limit(channel, k + 6)}) {
        QPalette p = l->palette();
        p.setColor(QPalette::Window, inside ? QColor(Qt::yellow) : palette().color(QPalette::Button));
        l->setPalette(p);
        l->setProperty("allume", inside);
    }
}

void Tnrig1360000::show_block(int channel, const g136::Block& b)
{
    unknown_[size_t(channel - 1)] = false;
    name_[size_t(channel - 1)]->setText(QString("Canal %1 :").arg(channel));
    blocks_read_[size_t(channel - 1)] = true;
    for (int k = 1; k <= 6; ++k) {
        limit(channel, k)->setText(QString("%1").arg(b[size_t(2 * (k - 1))], 3, 10, QChar('0')));
        limit(channel, k + 6)->setText(QString("%1").arg(b[size_t(2 * (k - 1) + 1)], 3, 10, QChar('0')));
    }
}

void Tnrig1360000::show_unknown(int channel)
{
    unknown_[size_t(channel - 1)] = true;
    for (int j = 1; j <= 12; ++j)
        limit(channel, j)->setText("????");
    for (int k = 1; k <= 6; ++k)
        paint(channel, k, false);
}

void Tnrig1360000::show_selectors(const g136::Selectors& d)
{
    for (int n = 1; n <= 12; ++n)
        for (int k = 1; k <= 6; ++k)
            selector(n, k)->setText(letter(d[size_t(6 * (n - 1) + k - 1)]));
    selectors_read_ = true;
}

std::optional<std::array<int, 6>> Tnrig1360000::selectors(int channel) const
{
    if (!selectors_read_ || channel < 1 || channel > 12)
        return std::nullopt;
    std::array<int, 6> s{};
    for (int k = 1; k <= 6; ++k) {
        const QString t = selector(channel, k)->text();
        s[size_t(k - 1)] = t.isEmpty() ? 16 : std::clamp(int(t[0].unicode()) - 0x41, 0, 16);
    }
    return s;
}

void Tnrig1360000::show_buttons(bool on)
{
    for (QPushButton* b : {Button1, Button3, Button4, Button5, Button8, Button9})
        b->setVisible(on);
}

void Tnrig1360000::Button1Click()
{
    if (!ready())
        return;
    v_p->hide();
    l2->hide();
    for (int n = 1; n <= 12; ++n)
        for (int k = 1; k <= 6; ++k)
            paint(n, k, false);
    Label36->show();
    g136::Reading r;
    const bool ran = transfer_->run([&](Progress& p) { r = g136::lecture(station(), &p); });
    Label36->hide();
    if (!ran)
        return;
    if (r.selectors)
        show_selectors(*r.selectors);
    if (r.answered)
        for (int n = 1; n <= 12; ++n) {
            if (const auto& b = r.channels[size_t(n - 1)])
                show_block(n, *b);
            else // not read: the labels keep what they showed, and say so
                name_[size_t(n - 1)]->setText(QString("Canal %1 : non relu").arg(n));
        }
    views_->refresh();
    tell(r.message);
}

void Tnrig1360000::Button3Click()
{
    v_p->hide();
    l2->hide();
    run_teach(shell_.dialog<Tcalibration_nri_g136>(), this);
}

void Tnrig1360000::Button4Click()
{
    if (!ready())
        return;
    v_p->show();
    l2->show();
    v_p->setText("");
    g136::CoinTest c;
    if (!transfer_->run([&](Progress& p) { c = g136::coin_test(station(), &p); }))
        return;
    QString text;
    if (c.measures)
        for (int v : *c.measures)
            text += QString("%1  ").arg(v, 3, 10, QChar('0'));
    v_p->setText(text);
    coin_ = c.measures;
    for (int n = 1; n <= 12; ++n)
        for (int k = 1; k <= 6; ++k) {
            // The letter's code less 0x41 selects the measurement; a letter
            // past "P" selects none.
            const QString t = selector(n, k)->text();
            const int m = t.isEmpty() ? -1 : int(t[0].unicode()) - 0x41;
            bool inside = false;
            if (c.measures && !unknown_[size_t(n - 1)] && m >= 0 && m < g136::kMeasures) {
                const int v = (*c.measures)[size_t(m)];
                inside = label_int(limit(n, k)) >= v && v >= label_int(limit(n, k + 6));
            }
            paint(n, k, inside);
        }
    views_->refresh();
    tell(c.message);
}

void Tnrig1360000::Button5Click()
{
    if (!ready())
        return;
    int n = 1;
    bool taken = true;
    if (auto* prompt = shell_.dialog<TC_canal>())
        n = prompt->ask(12, this, &taken);
    if (!taken)
        return; // "Abandon" in the prompt: nothing read, no panel
    adjust_channel_ = n;
    v_p->hide();
    l2->hide();
    show_buttons(false);
    std::optional<g136::Block> b;
    bool heard = false;
    const bool ran = transfer_->run([&](Progress&) { b = g136::read_channel(station(), n, &heard); });
    if (!ran || !b) {
        show_buttons(true);
        if (ran)
            tell((heard ? "Le monnayeur répond, mais sa réponse est illisible (ligne perturbée ?) : le canal "
                        : "Le monayeur ne répond pas : le canal ") +
                 std::to_string(n) + " n'a pas été lu, rien à ajuster.");
        return;
    }
    ajustement->show();
    ok->show();
    ab->show();
    for (int k = 0; k < 6; ++k) {
        aj_[size_t(k)]->setValue((*b)[size_t(2 * k)]);
        aj_[size_t(k + 6)]->setValue((*b)[size_t(2 * k + 1)]);
    }
}

void Tnrig1360000::show_write(const g136::ChannelWrite& w)
{
    if (w.read_back)
        show_block(w.channel, *w.read_back);
    else if (w.unknown())
        show_unknown(w.channel);
    views_->refresh();
    tell(w.message);
}

void Tnrig1360000::okClick()
{
    abClick();
    g136::Block b{};
    for (int k = 0; k < 6; ++k) {
        b[size_t(2 * k)] = aj_[size_t(k)]->value();
        b[size_t(2 * k + 1)] = aj_[size_t(k + 6)]->value();
    }
    const int n = adjust_channel_;
    if (const auto sel = selectors(n); sel && !may_write(n, b, *sel))
        return;
    g136::ChannelWrite w;
    if (transfer_->run([&](Progress& p) { w = g136::write_channel(station(), n, b, &p); }))
        show_write(w);
}

void Tnrig1360000::abClick()
{
    show_buttons(true);
    v_p->hide();
    ok->hide();
    ab->hide();
    ajustement->hide();
}

void Tnrig1360000::Button8Click()
{
    v_p->hide();
    l2->hide();
    canal->setRange(1, 12);
    choix_c->show();
}

void Tnrig1360000::BitBtn1Click()
{
    if (!ready())
        return;
    const int n = canal->value();
    g136::ModelRead m;
    if (!transfer_->run([&](Progress& p) { m = g136::read_model(station(), n, &p); }))
        return;
    if (!m.block || !m.selectors) {
        // Nothing half read is stored: the panel stays for another try.
        tell(m.message);
        return;
    }
    store::ModelRecord r;
    r.type = "NRI2";
    r.piece = piece->text().left(15).toStdString();
    for (int k = 0; k < 12; ++k)
        r.c[size_t(k)] = (*m.block)[size_t(k)];
    for (int k = 0; k < 6; ++k)
        r.t[size_t(k)] = (*m.selectors)[size_t(k)];
    if (store::store_model(shell_, this, r))
        choix_c->hide();
}

void Tnrig1360000::BitBtn2Click() { choix_c->hide(); }

void Tnrig1360000::Button9Click()
{
    v_p->hide();
    l2->hide();
    canal_v->setRange(1, 12);
    model_ = store::choose_model(shell_, this, "NRI2");
    if (!model_)
        return;
    vers_c->show();
    f_p->setText(QString::fromStdString(model_->piece));
}

void Tnrig1360000::BitBtn3Click()
{
    if (!model_ || !ready())
        return;
    g136::Block b{};
    for (int k = 0; k < 12; ++k)
        b[size_t(k)] = std::clamp(model_->c[size_t(k)].value_or(0), 0, 255);
    std::array<int, 6> t{};
    for (int k = 0; k < 6; ++k) {
        const std::optional<int> v = model_->t[size_t(k)];
        if (!v || *v < 0 || *v > 15) {
            // No hexadecimal digit for it: the model is not written at all.
            tell("Le modèle « " + model_->piece + " » n'a pas de mesure T" + std::to_string(k + 1) +
                 " entre 0 et 15 : il n'est pas écrit.");
            return;
        }
        t[size_t(k)] = *v;
    }
    const int n = canal_v->value();
    if (!may_write(n, b, t))
        return; // the panel stays for another channel
    g136::ModelWrite w;
    if (!transfer_->run([&](Progress& p) { w = g136::write_model(station(), n, b, t, &p); }))
        return;
    vers_c->hide();
    if (w.block.read_back)
        show_block(n, *w.block.read_back);
    else if (w.block.unknown())
        show_unknown(n);
    if (w.selectors) {
        show_selectors(*w.selectors);
    } else if (w.selectors_written) {
        // Block "13" rewritten but not read back: no selector is known.
        for (int c = 1; c <= 12; ++c)
            for (int k = 1; k <= 6; ++k)
                selector(c, k)->setText("?");
        selectors_read_ = false;
    }
    views_->refresh();
    tell(w.message);
}

void Tnrig1360000::BitBtn4Click() { vers_c->hide(); }

// ---- Page "Tables" ---------------------------------------------------------

void Tnrig1360000::show_tables_unknown()
{
    tables_read_ = false;
    for (auto* boxes : {&ch_, &valid_})
        for (QCheckBox* b : *boxes) {
            b->setTristate(true);
            b->setCheckState(Qt::PartiallyChecked);
        }
    for (QCheckBox* b : coil_) {
        b->setTristate(true);
        b->setCheckState(Qt::PartiallyChecked);
    }
    for (QCheckBox* b : fb_) {
        b->setTristate(true);
        b->setCheckState(Qt::PartiallyChecked);
    }
    for (QSpinBox* o : {offa, offE}) {
        o->setSpecialValueText("????");
        o->setMinimum(-1);
        o->setValue(-1);
    }
}

void Tnrig1360000::show_tables(const g136::Tables& t)
{
    for (auto* boxes : {&ch_, &valid_})
        for (QCheckBox* b : *boxes)
            b->setTristate(false);
    for (QCheckBox* b : coil_)
        b->setTristate(false);
    for (QCheckBox* b : fb_)
        b->setTristate(false);
    for (QSpinBox* o : {offa, offE}) {
        o->setMinimum(0);
        o->setSpecialValueText("");
    }
    for (int c = 0; c < 12; ++c) {
        for (int j = 1; j <= 8; ++j) {
            ch_[size_t(8 * c + j - 1)]->setChecked((t.output[size_t(c)] >> (8 - j)) & 1);
            valid_[size_t(8 * c + j - 1)]->setChecked((t.validation[size_t(c)] >> (8 - j)) & 1);
        }
        for (int j = 1; j <= 4; ++j)
            coil_[size_t(4 * c + j - 1)]->setChecked((t.coil[size_t(c)] >> (4 - j)) & 1);
    }
    for (int b = 0; b < 3; ++b)
        for (int j = 1; j <= 8; ++j)
            fb_[size_t(8 * b + j - 1)]->setChecked((t.function[size_t(b)] >> (8 - j)) & 1);
    offa->setValue(t.offset_a);
    offE->setValue(t.offset_e);
}

g136::Tables Tnrig1360000::tables_shown() const
{
    g136::Tables t;
    for (int c = 0; c < 12; ++c) {
        for (int j = 1; j <= 8; ++j) {
            t.output[size_t(c)] |= int(ch_[size_t(8 * c + j - 1)]->isChecked()) << (8 - j);
            t.validation[size_t(c)] |= int(valid_[size_t(8 * c + j - 1)]->isChecked()) << (8 - j);
        }
        for (int j = 1; j <= 4; ++j)
            t.coil[size_t(c)] |= int(coil_[size_t(4 * c + j - 1)]->isChecked()) << (4 - j);
    }
    for (int b = 0; b < 3; ++b)
        for (int j = 1; j <= 8; ++j)
            t.function[size_t(b)] |= int(fb_[size_t(8 * b + j - 1)]->isChecked()) << (8 - j);
    t.offset_a = offa->value();
    t.offset_e = offE->value();
    return t;
}

void Tnrig1360000::Button6Click()
{
    if (!ready())
        return;
    g136::TablesRead r;
    if (!tables_transfer_->run([&](Progress& p) { r = g136::read_tables(station(), &p); }))
        return;
    if (r.tables) {
        show_tables(*r.tables);
        tables_read_ = true;
    }
    tell(r.message);
}

void Tnrig1360000::Button7Click()
{
    if (!tables_read_) {
        // Boxes never read would write blank tables over the mechanism's.
        tell("Les tables n'ont pas été lues entièrement : faites d'abord « Lecture » (rien n'a été écrit).");
        return;
    }
    if (!ready())
        return;
    const g136::Tables t = tables_shown();
    g136::TablesWrite w;
    if (!tables_transfer_->run([&](Progress& p) { w = g136::write_tables(station(), t, &p); }))
        return;
    if (w.read_back)
        show_tables(*w.read_back);
    else if (w.unknown())
        show_tables_unknown();
    tell(w.message);
}

} // namespace zuna

namespace zuna {

// ---- Bands, settings sheet, overlap check ----------------------------------

settings::BandSet Tnrig1360000::bands() const
{
    g136::View v = teach_;
    for (int n = 1; n <= 12; ++n) {
        g136::Block b{};
        for (int k = 1; k <= 6; ++k) {
            b[size_t(2 * (k - 1))] = label_int(limit(n, k));
            b[size_t(2 * (k - 1) + 1)] = label_int(limit(n, k + 6));
        }
        v.channels[size_t(n - 1)] = b;
        // None before a reading, or while the channel is unknown: no band.
        if (!unknown_[size_t(n - 1)])
            v.selectors[size_t(n - 1)] = selectors(n);
    }
    v.coin = coin_;
    return g136::bands(v);
}

Sheet Tnrig1360000::sheet() const
{
    Sheet s;
    s.family = "NRI G13.6000";
    s.facts = {{"Compte G136", QString::number(shell_.station.delay.g136)}};
    s.columns = {"Canal"};
    for (int k = 1; k <= 6; ++k)
        s.columns << QString("Paire %1").arg(k);
    for (int n = 1; n <= 12; ++n) {
        QStringList row{name_[size_t(n - 1)]->text()};
        for (int k = 1; k <= 6; ++k) // the window's "000" before a read are no limits
            row << (!blocks_read_[size_t(n - 1)] ? QString(k == 1 ? "non lu" : "")
                                                 : selector(n, k)->text() + "  " + limit(n, k)->text() + " / " +
                                                       limit(n, k + 6)->text());
        s.rows.push_back(row);
    }
    if (!tables_read_)
        s.options.push_back({"Tables des sorties", "non lues"});
    else {
        const g136::Tables t = tables_shown();
        auto bits = [](int v, int n) { return QString("%1").arg(v, n, 2, QChar('0')); };
        for (int c = 1; c <= 12; ++c)
            s.options.push_back({QString("Canal %1 : Signal Sortie / Valid canal / Sortie bobine").arg(c),
                                 bits(t.output[size_t(c - 1)], 8) + " / " + bits(t.validation[size_t(c - 1)], 8) +
                                     " / " + bits(t.coil[size_t(c - 1)], 4)});
        for (int b = 1; b <= 3; ++b)
            s.options.push_back({QString("Fonction byte %1").arg(b), bits(t.function[size_t(b - 1)], 8)});
        s.options.push_back({"Offset A", QString::number(t.offset_a)});
        s.options.push_back({"Offset E", QString::number(t.offset_e)});
    }
    s.bands = bands();
    return s;
}

bool Tnrig1360000::may_write(int channel, const g136::Block& block, const std::array<int, 6>& selectors)
{
    if (channel < 1 || channel > 12)
        return true;
    g136::View one;
    one.channels[0] = block;
    one.selectors[0] = selectors;
    const settings::ChannelBands written = g136::bands(one).channels[0];
    // A block that is no band (empty, unprogrammed) accepts no coin of another channel.
    if (!written.enabled)
        return true;
    return write_allowed(bands(), channel, written.windows, ask_overlap);
}

void Tnrig1360000::teach_coins(const std::vector<g136::Measures>& coins)
{
    teach_.samples.insert(teach_.samples.end(), coins.begin(), coins.end());
    views_->refresh();
}

void Tnrig1360000::teach_proposed(int channel, const g136::Block& block, const std::array<int, 6>& selectors)
{
    teach_.proposed_channel = channel;
    teach_.proposed = block;
    teach_.proposed_selectors = selectors;
    views_->refresh();
}

void Tnrig1360000::teach_end()
{
    teach_ = {};
    views_->refresh();
}

} // namespace zuna
