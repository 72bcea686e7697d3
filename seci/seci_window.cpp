#include "seci/seci_window.h"

#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "seci/seci_calibre.h"
#include "seci/seci_settings.h"
#include "store/model_ui.h"
#include "ui/c_canal.h"
#include "ui/settings_panel.h"
#include "ui/shell.h"
#include "ui/transfer.h"
#include "ui/widgets.h"

namespace zuna {

using namespace seci;

namespace {

const char kSilent[] = "Le monayeur ne répond pas.";
const char kNoCoin[] = "Aucune pièce reçue : rien n'a été mesuré.";

// The grid's labels are centred.
QLabel* centred(QWidget* parent, const QString& name, const QString& text)
{
    return make_label(parent, name, text, Qt::AlignCenter);
}

void set_background(QLabel* l, bool yellow)
{
    QPalette p = l->palette();
    p.setColor(QPalette::Window, yellow ? QColor(Qt::yellow) : l->palette().color(QPalette::Button));
    l->setPalette(p);
    l->setAutoFillBackground(true);
    l->setProperty("lit", yellow);
}

void set_font_colour(QLabel* l, bool black)
{
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, black ? QColor(Qt::black) : QColor(Qt::red));
    l->setPalette(p);
}

bool is_black(const QLabel* l) { return l->palette().color(QPalette::WindowText) == QColor(Qt::black); }

} // namespace

SeciWindow::SeciWindow(Shell& shell, const SeciLayout& layout, QWidget* parent)
    : QDialog(parent), shell_(shell), lay_(layout)
{
    setObjectName(lay_.object_name);
    setWindowTitle(shell.title(lay_.title));
    show_message = default_sink(this, windowTitle());
    ask_overlap = default_overlap_ask(this);
    build();
}

Station& SeciWindow::station() { return shell_.station; }

Line SeciWindow::line() { return Line{station(), lay_.family}; }

bool SeciWindow::ready() { return delay_usable(station().delay.*(family().count), family().name, show_message); }

QString SeciWindow::output_text(int output) const
{
    return output == lay_.zero_output ? QString("0") : QString::number(output);
}

QString SeciWindow::record_text(const Record& r) const
{
    QStringList v;
    for (int i = 0; i < values(); ++i)
        v << QString::number(r.value[size_t(i)]);
    return v.join(" ") + QString(", options %1, sortie %2").arg(r.flags).arg(output_text(r.output));
}

void SeciWindow::build()
{
    auto* grid = new QGridLayout(this);
    auto* table = new QGridLayout;
    // Two halves side by side; per channel a top row (upper bounds) and a
    // bottom row (lower bounds), the output label and its spin on the right.
    const int cols = values() / 2;
    const int per_half = channels() / 2;
    const QString titles = cols == 4 ? "HFU        LF        HFL        +" : "HFU        LF        HFL";
    table->addWidget(centred(this, "Label15", titles), 0, 1, 1, cols);
    table->addWidget(centred(this, lay_.second_title, titles), 0, cols + 3, 1, cols);
    for (int n = 1; n <= channels(); ++n) {
        const int half = (n - 1) / per_half;
        const int row = 1 + 2 * ((n - 1) % per_half);
        const int col = (cols + 2) * half;
        table->addWidget(centred(this, lay_.row_names[size_t(n - 1)], QString("Canal %1 :").arg(n)), row, col);
        for (int k = 1; k <= values(); ++k) {
            QLabel* l = centred(this, QString("c%1%2").arg(n).arg(k), "0000");
            l->setMinimumWidth(44);
            c_[size_t(n - 1)][size_t(k - 1)] = l;
            table->addWidget(l, row + (k - 1) / cols, col + 1 + (k - 1) % cols);
        }
        s_[size_t(n - 1)] = centred(this, QString("s%1").arg(n), "0");
        table->addWidget(s_[size_t(n - 1)], row, col + cols + 1);
        cs_[size_t(n - 1)] = make_spin(this, QString("cs%1").arg(n), 0, 6, 0);
        cs_[size_t(n - 1)]->hide();
        table->addWidget(cs_[size_t(n - 1)], row + 1, col + cols + 1);
    }
    grid->addLayout(table, 0, 0);

    auto* legend = new QHBoxLayout;
    legend->addWidget(centred(this, "Label19", "Légende"));
    QLabel* low = centred(this, "Label17", "Valeur Basse ");
    QLabel* high = centred(this, "Label18", "Valeur haute");
    set_font_colour(low, true);
    set_font_colour(high, false);
    legend->addWidget(low);
    legend->addWidget(high);
    legend->addStretch();
    grid->addLayout(legend, 1, 0);

    auto* buttons = new QVBoxLayout;
    Button1 = make_button(this, "Button1", "LECTURE", "Lecture des infos du monayeur");
    Button4 = make_button(this, "Button4", "Test", "voir dans quel canal la pièce  est active");
    Button5 = make_button(this, "Button5", "Calib. Piece", "Calibration d'une pièce avec le monayeur");
    Button6 = make_button(this, "Button6", "AJUST", "ajuster un canal manuellement");
    Button8 = make_button(this, "Button8", "Sorties");
    Button7 = make_button(this, "Button7", "Vider", "Ellimine un canal");
    Button2 = make_button(this, "Button2", "Enr. Modèle", "Mémorisez un modèle de pièce");
    Button3 = make_button(this, "Button3", "Voir modèle", "Lire un modéle de pièce");
    for (QPushButton* b : {Button1, Button4, Button5, Button6, Button8, Button7, Button2, Button3})
        buttons->addWidget(b);
    buttons->addStretch();
    grid->addLayout(buttons, 0, 1, 4, 1);

    auto* status = new QHBoxLayout;
    progresse = new QProgressBar(this);
    progresse->setObjectName("progresse");
    progresse->setRange(0, channels() + 1);
    progresse->hide();
    status->addWidget(progresse);
    transfer_ = new Transfer(shell_.transfers, this, progresse);
    status->addWidget(transfer_->stop_button());
    grid->addLayout(status, 3, 0);

    // Settings file and channel views: one row under the legend.
    settings_ = new SettingsPanel(shell_, this, *transfer_,
                                  lay_.family == &kRm4 ? make_rm4_settings() : make_rm3_settings());
    settings_->ready = [this] { return ready(); };
    settings_->after_write = [this] { Button1Click(); };
    views_ = new ViewButtons(shell_, this, [this] { return bands(); }, [this] { return sheet(); });
    auto* files = zuna::file_row(settings_, views_);
    grid->addLayout(files, 2, 0);

    // Test readings.
    v_p = new QGroupBox(this);
    v_p->setObjectName("v_p");
    auto* vg = new QGridLayout(v_p);
    const char* sensors[3] = {"HFU", "LF", "HFL"};
    for (int k = 0; k < 3; ++k) {
        vg->addWidget(new QLabel(sensors[k], v_p), 0, 2 * k, 1, 2, Qt::AlignCenter);
        vg->addWidget(new QLabel("Bas", v_p), 1, 2 * k, Qt::AlignCenter);
        vg->addWidget(new QLabel("Haut", v_p), 1, 2 * k + 1, Qt::AlignCenter);
    }
    for (int k = 1; k <= 6; ++k) {
        vp_[size_t(k - 1)] = centred(v_p, QString("vp%1").arg(k), "0000");
        vg->addWidget(vp_[size_t(k - 1)], 2, k - 1);
    }
    if (lay_.plus_pair) {
        vg->addWidget(centred(v_p, "Label14", "+"), 0, 6, 2, 1);
        vp_[6] = centred(v_p, "vp7", "0000");
        vg->addWidget(vp_[6], 2, 6);
    }
    v_p->hide();
    grid->addWidget(v_p, 4, 0, 1, 2);

    // Manual adjustment: top row the upper bounds, bottom row the lower ones.
    ajustement = new QFrame(this);
    ajustement->setObjectName("ajustement");
    ajustement->setFrameShape(QFrame::Panel);
    auto* ag = new QGridLayout(ajustement);
    for (int k = 1; k <= values(); ++k) {
        aj_[size_t(k - 1)] = make_spin(ajustement, QString("aj%1").arg(k), 0, lay_.aj_top[size_t(k - 1)], 0);
        ag->addWidget(aj_[size_t(k - 1)], (k - 1) / cols, (k - 1) % cols);
    }
    ok = make_button(this, "ok", "OK");
    ab = make_button(this, "ab", "Abandon");
    ag->addWidget(ok, 2, cols - 2);
    ag->addWidget(ab, 2, cols - 1);
    ajustement->hide();
    ok->hide();
    ab->hide();
    grid->addWidget(ajustement, 5, 0, 1, 2);

    auto* outs = new QHBoxLayout;
    oks = make_button(this, "oks", "OK");
    abs = make_button(this, "abs", "Abandon");
    outs->addWidget(oks);
    outs->addWidget(abs);
    oks->hide();
    abs->hide();
    grid->addLayout(outs, 6, 0);

    auto yellow = [](QGroupBox* g) {
        QPalette p = g->palette();
        p.setColor(QPalette::Window, Qt::yellow);
        g->setPalette(p);
        g->setAutoFillBackground(true);
    };
    vide_can = new QGroupBox(this);
    vide_can->setObjectName("vide_can");
    yellow(vide_can);
    auto* vc = new QHBoxLayout(vide_can);
    vc->addWidget(new QLabel("CANAL :", vide_can));
    vc->addWidget(can_v = make_spin(vide_can, "can_v", 1, channels(), 1));
    vc->addWidget(BitBtn5 = make_button(vide_can, "BitBtn5", "OK"));
    vc->addWidget(BitBtn6 = make_button(vide_can, "BitBtn6", "Abandon"));
    vide_can->hide();
    grid->addWidget(vide_can, 7, 0, 1, 2);

    const StorePanel store = make_store_panel(shell_, this, 6, true); // models of channels 1 to 6 only
    choix_c = store.box;
    canal = store.canal;
    piece = store.piece;
    BitBtn1 = store.ok;
    BitBtn2 = store.abandon;
    grid->addWidget(choix_c, 8, 0, 1, 2);

    const ModelPanel model = make_model_panel(this, channels(), true);
    vers_c = model.box;
    f_p = model.f_p;
    canal_v = model.canal_v;
    BitBtn3 = model.ok;
    BitBtn4 = model.abandon;
    f_p->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(vers_c, 9, 0, 1, 2);

    connect(Button1, &QPushButton::clicked, this, &SeciWindow::Button1Click);
    connect(Button4, &QPushButton::clicked, this, &SeciWindow::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &SeciWindow::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &SeciWindow::Button6Click);
    connect(ok, &QPushButton::clicked, this, &SeciWindow::okClick);
    connect(ab, &QPushButton::clicked, this, &SeciWindow::abClick);
    connect(Button8, &QPushButton::clicked, this, &SeciWindow::Button8Click);
    connect(oks, &QPushButton::clicked, this, &SeciWindow::oksClick);
    connect(abs, &QPushButton::clicked, this, &SeciWindow::absClick);
    connect(Button7, &QPushButton::clicked, this, &SeciWindow::Button7Click);
    connect(BitBtn5, &QPushButton::clicked, this, &SeciWindow::BitBtn5Click);
    connect(BitBtn6, &QPushButton::clicked, this, &SeciWindow::BitBtn6Click);
    connect(Button2, &QPushButton::clicked, this, &SeciWindow::Button2Click);
    connect(BitBtn1, &QPushButton::clicked, this, &SeciWindow::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &SeciWindow::BitBtn2Click);
    connect(Button3, &QPushButton::clicked, this, &SeciWindow::Button3Click);
    connect(BitBtn3, &QPushButton::clicked, this, &SeciWindow::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &SeciWindow::BitBtn4Click);
}

void SeciWindow::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    // Once per opening: the dialogs opened over this window (channel prompt,
    // model browser, calibration) must not clear the grid when they close.
    if (!initialised_) {
        initialised_ = true;
        init();
    }
}

void SeciWindow::clear_channel(int n, const QString& value_text)
{
    for (int k = 1; k <= values(); ++k) {
        cell(n, k)->setText(value_text);
        set_background(cell(n, k), false);
        set_font_colour(cell(n, k), true);
    }
    output_label(n)->setText("");
}

void SeciWindow::init()
{
    // Every channel, whichever half: a row that still shows its design
    // values would pass for read.
    for (int n = 1; n <= channels(); ++n) {
        clear_channel(n, "0000");
        held_[size_t(n - 1)].reset();
        flag_copy_[size_t(n - 1)] = 0;
    }
}

void SeciWindow::hide_work_panels()
{
    v_p->hide();
    ajustement->hide();
    ok->hide();
    ab->hide();
}

bool SeciWindow::lit(int n, int k) const { return cell(n, k)->property("lit").toBool(); }

void SeciWindow::show_channel(int n, const Record& r)
{
    if (n < 1 || n > channels())
        return;
    held_[size_t(n - 1)] = r;
    flag_copy_[size_t(n - 1)] = r.flags;
    if (r.output == family().empty_output) {
        for (int k = 1; k <= values(); ++k)
            cell(n, k)->setText("");
        output_label(n)->setText("");
    } else {
        for (int v = 0; v < values(); ++v)
            cell(n, label_of(v))->setText(QString::number(r.value[size_t(v)]));
        output_label(n)->setText(output_text(r.output));
    }
    const int cols = values() / 2;
    for (int k = 1; k <= cols; ++k) {
        // The three sensors follow their flag bit; the "+" pair has no choice.
        const bool black = k > 3 || ((r.flags >> (k - 1)) & 1);
        set_font_colour(cell(n, k), black);
        set_font_colour(cell(n, k + cols), black);
        set_background(cell(n, k), false);
        set_background(cell(n, k + cols), false);
    }
}

bool SeciWindow::report_write(int n, const WriteResult& w)
{
    // An open view follows what the grid shows.
    struct Refresh {
        ViewButtons* v;
        ~Refresh() { v->refresh(); }
    } refresh{views_};
    if (w.confirmed()) {
        show_channel(n, *w.readback.record);
        return true;
    }
    if (transfer_->stopped() && !w.sent)
        return false;
    if (w.readback.record) {
        show_channel(n, *w.readback.record);
        show_message(QString("Écriture du canal %1 non confirmée : le monnayeur relit %2 au lieu de %3. "
                             "Le canal affiché est ce que le monnayeur contient.")
                         .arg(n)
                         .arg(record_text(*w.readback.record), record_text(w.written)));
    } else {
        held_[size_t(n - 1)].reset();
        clear_channel(n, "????");
        show_message(QString("Écriture du canal %1 non confirmée : %2. "
                             "Le contenu du canal est inconnu, relisez le monnayeur.")
                         .arg(n)
                         .arg(w.settled ? "le monnayeur ne répond pas à la relecture"
                                        : "deux relectures ne concordent pas (ligne perturbée ?)"));
    }
    return false;
}

namespace {
QString not_this_family(const seci::Family& f, int n, int chars)
{
    return QString("Le monnayeur répond, mais pas comme un SECI %1 : le canal %2 a donné %3 caractère(s) au lieu "
                   "de %4. Vérifiez le monnayeur branché.")
        .arg(f.name)
        .arg(n)
        .arg(chars)
        .arg(f.chars);
}
} // namespace

bool SeciWindow::identified(int n)
{
    for (const auto& h : held_)
        if (h)
            return true;
    ChannelRead c;
    transfer_->run([&](Progress&) { c = channel_read(line(), n); });
    if (c.record) {
        show_channel(n, *c.record);
        views_->refresh();
        return true;
    }
    if (!transfer_->stopped())
        show_message((c.chars > 0 ? not_this_family(family(), n, c.chars) : QString(kSilent)) +
                     " Rien n'a été écrit.");
    return false;
}

void SeciWindow::Button1Click()
{
    if (!ready())
        return;
    init();
    hide_work_panels();
    coin_.reset(); // the readings are hidden and the lights cleared
    ReadResult r;
    transfer_->run([&](Progress& p) { r = lecture(line(), &p); });
    bool silent = false;
    int short_channel = 0; // a channel that answered less than a record
    for (int n = 1; n <= r.done; ++n) {
        const ChannelRead& c = r.channel[size_t(n - 1)];
        if (c.record)
            show_channel(n, *c.record);
        else
            silent = true; // stays as after opening: "0000" and no output
        if (!c.record && c.chars > 0 && !short_channel)
            short_channel = n;
    }
    views_->refresh();
    if (r.stopped)
        show_message(QString("Lecture arrêtée après le canal %1.").arg(r.done));
    else if (short_channel)
        show_message(not_this_family(family(), short_channel, r.channel[size_t(short_channel - 1)].chars));
    else if (silent)
        show_message(kSilent);
}

void SeciWindow::test(const std::optional<Record>& coin)
{
    const int cols = values() / 2;
    for (int n = 1; n <= channels(); ++n) {
        const bool readable = coin && held_[size_t(n - 1)] && !cell(n, 1)->text().isEmpty() &&
                              !output_label(n)->text().isEmpty();
        for (int k = 1; k <= cols; ++k) {
            QLabel* top = cell(n, k);
            QLabel* bottom = cell(n, k + cols);
            bool inside = false;
            if (readable) {
                // A sensor compares the reading its font names; "+" its one reading.
                const size_t v = k > 3 ? 6 : size_t(2 * (k - 1) + (is_black(top) ? 0 : 1));
                const int32_t reading = coin->value[v];
                inside = bottom->text().toInt() <= reading && reading <= top->text().toInt();
            }
            set_background(top, inside);
            set_background(bottom, inside);
        }
    }
}

void SeciWindow::Button4Click()
{
    hide_work_panels();
    if (!ready())
        return;
    v_p->show();
    std::optional<Record> coin;
    bool answered = false;
    transfer_->run([&](Progress&) { coin = test_measurement(line(), 1, nullptr, &answered); });
    test(coin);
    coin_ = coin;
    views_->refresh();
    if (!coin) {
        // No coin came: nothing was measured and no channel lights.
        for (QLabel* l : vp_)
            if (l)
                l->setText("");
        if (!transfer_->stopped())
            show_message(answered ? kNoCoin : kSilent); // silent: no coin was waited for
        return;
    }
    for (int k = 0; k < 7; ++k)
        if (vp_[size_t(k)])
            vp_[size_t(k)]->setText(QString::number(coin->value[size_t(k)]));
}

void SeciWindow::Button5Click()
{
    hide_work_panels();
    if (!ready())
        return;
    if (auto* calib = calibration()) {
        calib->set_window(this);
        calib->exec();
        calib->set_window(nullptr);
        // The calibration wrote a channel: show what the mechanism now holds.
        if (lay_.reread_after_calibration)
            Button1Click();
    }
}

void SeciWindow::Button6Click()
{
    v_p->hide();
    ajustement->show();
    int n = 1;
    bool taken = false;
    if (auto* prompt = shell_.dialog<TC_canal>())
        n = prompt->ask(channels(), this, &taken);
    adjust_channel_ = n;
    ok->show();
    ab->show();
    for (QSpinBox* s : aj_)
        if (s)
            s->setValue(0);
    if (!taken) {
        // "Abandon" in the channel prompt: nothing to adjust.
        hide_work_panels();
        return;
    }
    const bool readable = n >= 1 && n <= channels() && held_[size_t(n - 1)] && !output_label(n)->text().isEmpty();
    if (!readable) {
        // Nothing known of that channel: no values to start from and none to write.
        hide_work_panels();
        show_message(QString("Canal %1 vide ou non lu : lisez le monnayeur avant de l'ajuster.").arg(n));
        return;
    }
    const Record& r = *held_[size_t(n - 1)];
    QStringList clamped;
    for (int v = 0; v < values(); ++v) {
        QSpinBox* s = aj_[size_t(label_of(v) - 1)];
        s->setValue(r.value[size_t(v)]);
        if (r.value[size_t(v)] > s->maximum())
            clamped << QString("%1 → %2").arg(r.value[size_t(v)]).arg(s->maximum());
    }
    pending_flags_ = flag_copy_[size_t(n - 1)];
    pending_output_ = r.output; // the nibble read: a channel shown "0" keeps its 8
    if (!clamped.isEmpty())
        show_message(QString("Valeurs lues hors des limites de l'ajustement, ramenées à la limite : %1.")
                         .arg(clamped.join(", ")));
}

void SeciWindow::okClick()
{
    if (!ready())
        return;
    const int n = adjust_channel_;
    Record r;
    for (int v = 0; v < values(); ++v)
        r.value[size_t(v)] = aj_[size_t(label_of(v) - 1)]->value();
    r.flags = pending_flags_;
    r.output = pending_output_;
    // Refused: the panel stays open with the values, nothing is written.
    if (!overlap_allowed(n, r))
        return;
    hide_work_panels();
    WriteResult w;
    transfer_->run([&](Progress&) { w = write_and_read_back(line(), n, r); });
    report_write(n, w);
}

void SeciWindow::abClick() { hide_work_panels(); }

void SeciWindow::Button8Click()
{
    hide_work_panels();
    for (int n = 1; n <= channels(); ++n) {
        QSpinBox* s = cs_[size_t(n - 1)];
        s->show();
        const QString t = output_label(n)->text();
        if (t.isEmpty() || !held_[size_t(n - 1)]) {
            s->setValue(0);
            s->hide();
        } else {
            s->setValue(std::clamp(t.toInt(), 0, 6));
        }
        outputs_shown_[size_t(n - 1)] = s->value();
    }
    oks->show();
    abs->show();
}

void SeciWindow::oksClick()
{
    absClick();
    if (!ready())
        return;
    std::vector<Write> writes;
    for (int n = 1; n <= channels(); ++n) {
        const auto& h = held_[size_t(n - 1)];
        const int chosen = cs_[size_t(n - 1)]->value();
        // Only spins the operator changed: an output of 7..14 shown as 6 by
        // the spin is not rewritten.
        if (!h || output_label(n)->text().isEmpty() || chosen == outputs_shown_[size_t(n - 1)])
            continue;
        Record r = *h;
        r.flags = flag_copy_[size_t(n - 1)];
        r.output = chosen == 0 ? lay_.zero_output : chosen;
        writes.push_back({n, r});
    }
    if (writes.empty())
        return;
    std::vector<WriteResult> results;
    transfer_->run([&](Progress& p) { results = write_channels(line(), writes, &p); });
    for (size_t i = 0; i < results.size(); ++i)
        report_write(writes[i].channel, results[i]);
    if (results.size() < writes.size())
        show_message(QString("Sorties arrêtées : %1 canal(aux) sur %2 écrit(s).").arg(results.size()).arg(writes.size()));
}

void SeciWindow::absClick()
{
    for (QSpinBox* s : cs_)
        if (s)
            s->hide();
    oks->hide();
    abs->hide();
}

void SeciWindow::Button7Click() { vide_can->show(); }

void SeciWindow::BitBtn5Click()
{
    vide_can->hide();
    if (!ready())
        return;
    const int n = can_v->value();
    if (!identified(n))
        return;
    WriteResult w;
    transfer_->run([&](Progress&) { w = write_and_read_back(line(), n, family().empty); });
    report_write(n, w);
}

void SeciWindow::BitBtn6Click() { vide_can->hide(); }

void SeciWindow::Button2Click()
{
    hide_work_panels();
    choix_c->show();
}

void SeciWindow::BitBtn1Click()
{
    const int n = canal->value();
    const auto& h = held_[size_t(n - 1)];
    if (!h) {
        choix_c->hide();
        show_message(QString("Canal %1 non lu : lisez le monnayeur avant d'en faire un modèle.").arg(n));
        return;
    }
    if (h->output == family().empty_output) {
        choix_c->hide();
        show_message(QString("'%1' n'est pas une valeur entière correcte").arg(cell(n, 1)->text()));
        return;
    }
    store::ModelRecord m;
    m.type = lay_.type_code;
    m.piece = piece->text().left(15).toStdString();
    for (int v = 0; v < values(); ++v)
        m.c[size_t(v)] = h->value[size_t(v)];
    m.t[0] = flag_copy_[size_t(n - 1)];
    // A refused name keeps the panel open with what the operator typed.
    if (store::store_model(shell_, this, m))
        choix_c->hide();
}

void SeciWindow::BitBtn2Click() { choix_c->hide(); }

void SeciWindow::Button3Click()
{
    hide_work_panels();
    canal_v->setRange(1, channels());
    model_ = store::choose_model(shell_, this, lay_.type_code);
    if (!model_)
        return;
    f_p->setText(QString::fromStdString(model_->piece));
    vers_c->show();
}

void SeciWindow::BitBtn3Click()
{
    vers_c->hide();
    if (!model_ || !ready())
        return;
    Record r;
    for (int v = 0; v < values(); ++v) {
        const auto& c = model_->c[size_t(v)];
        const int top = family().top[size_t(v)];
        if (!c || *c < 0 || *c > top) {
            show_message(QString("Modèle « %1 » : la valeur C%2 est vide ou hors de 0..%3 ; rien n'a été écrit.")
                             .arg(QString::fromStdString(model_->piece))
                             .arg(v + 1)
                             .arg(top));
            return;
        }
        r.value[size_t(v)] = *c;
    }
    const auto& t1 = model_->t[0];
    if (!t1 || *t1 < 0 || *t1 > 15) {
        show_message(QString("Modèle « %1 » : T1 est vide ou hors de 0..15 ; rien n'a été écrit.")
                         .arg(QString::fromStdString(model_->piece)));
        return;
    }
    r.flags = *t1;
    r.output = 0;
    const int n = canal_v->value();
    if (!overlap_allowed(n, r) || !identified(n))
        return;
    WriteResult w;
    transfer_->run([&](Progress&) { w = write_and_read_back(line(), n, r); });
    // The channel then shows what was written and read back: flags, fonts and output included.
    report_write(n, w);
}

void SeciWindow::BitBtn4Click() { vers_c->hide(); }

settings::BandSet SeciWindow::bands()
{
    std::optional<seci::Teach> teach;
    SeciCalibre* c = calibration();
    if (c && c->window() == this)
        teach = c->teach();
    return seci::window_bands(family(), held_, coin_, teach ? &*teach : nullptr);
}

bool SeciWindow::overlap_allowed(int n, const Record& r)
{
    const settings::BandSet current = seci::window_bands(family(), held_, std::nullopt);
    return write_allowed(current, n, seci::channel_bands(family(), n, r).windows, ask_overlap);
}

Sheet SeciWindow::sheet() const
{
    Sheet sh;
    sh.family = lay_.title;
    sh.facts.push_back({"Compte de délai", QString::number(shell_.station.delay.*(family().count))});
    const int cols = values() / 2;
    const char* sensors[4] = {"HFU", "LF", "HFL", "+"};
    sh.columns << "Canal";
    for (const char* row : {"max", "min"})
        for (int k = 0; k < cols; ++k)
            sh.columns << QString("%1 %2").arg(sensors[k], row);
    sh.columns << "Sortie";
    for (int n = 1; n <= channels(); ++n) {
        QStringList row{QString::number(n)};
        const auto& h = held_[size_t(n - 1)];
        for (int k = 1; k <= values(); ++k) // an empty grid before a read holds no values
            row << (h ? cell(n, k)->text() : QString(k == 1 ? "non lu" : ""));
        row << (h ? output_label(n)->text() : QString());
        sh.rows.push_back(row);
        if (!h || h->output == family().empty_output)
            continue;
        // Which reading each sensor compares (the grid's font colours).
        QStringList readings;
        for (int s = 0; s < 3; ++s)
            readings << QString("%1 %2").arg(sensors[s], ((h->flags >> s) & 1) ? "Bas" : "Haut");
        sh.options.push_back({QString("Canal %1").arg(n),
                              QString("sortie %1, options %2 : %3")
                                  .arg(output_label(n)->text())
                                  .arg(h->flags)
                                  .arg(readings.join(", "))});
    }
    sh.bands = seci::window_bands(family(), held_, coin_);
    return sh;
}

} // namespace zuna

namespace zuna {

namespace {
const SeciLayout kRm3Layout{&seci::kRm3, "RM3", "SECI RM3", "RM3",
                            {5519, 5119, 5119, 5119, 5119, 5119, 0, 0},
                            {"Label1", "Label2", "Label3", "Label4", "Label5", "Label6"},
                            "Label16", 8, false, false};
const SeciLayout kRm4Layout{&seci::kRm4, "rm4", "SECI RM4", "rm4",
                            {255, 255, 255, 65500, 255, 255, 255, 65500},
                            {"Label1", "Label2", "Label3", "Label4", "Label5", "Label6", "Label7", "Label8",
                             "Label9", "Label16", "Label20", "Label30"},
                            "Label69", 0, true, true};
} // namespace

TRM3::TRM3(Shell& shell, QWidget* parent) : SeciWindow(shell, kRm3Layout, parent) {}
SeciCalibre* TRM3::calibration() { return shell().dialog<Tcalibre_rm3>(); }

Trm4::Trm4(Shell& shell, QWidget* parent) : SeciWindow(shell, kRm4Layout, parent) {}
SeciCalibre* Trm4::calibration() { return shell().dialog<Tcalibre_rm4>(); }

} // namespace zuna
