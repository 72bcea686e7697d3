#include "freq/zuna07_window.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "freq/pc_dialogs.h"
#include "link/module.h"
#include "ui/shell.h"
#include "ui/transfer.h"
#include "ui/widgets.h"

namespace zuna {

using freq::Family;

namespace {

struct Row {
    Family family;
    const char* label;
    const char* spin;
    const char* button;    // "Re calib." (or "Calcul" for the C220)
    const char* mechanism; // simulated mechanism a search plugs; "" for none
    bool searchable;       // the family's link offers the search
};

const Row kRows[freq::kFamilies] = {
    {Family::G13, "NRI G.13.0", "nri1", "Button1", "g13", true},
    {Family::G136, "NRI G13.6", "nri2", "Button2", "g136", true},
    {Family::C120, "C120", "c120", "Button3", "c120", true},
    {Family::C220B, "C220b", "c220b1", "Button4", "c220b", true},
    {Family::C220, "C220", "c220o", "Button6", "", false},
    {Family::RM3, "SECI RM3", "rm3v", "Button7", "rm3", true},
    {Family::RM4, "SECI RM4", "rm4v", "Button10", "rm4", true},
    {Family::ALB, "Alberici al3", "al3v", "Button11", "al3", true},
};

// A count's field. Whatever number is typed reaches the window as typed (a
// field bounded to the count's range would cut 7001 to 700 keystroke by
// keystroke), and the window refuses one outside the range; the arrows and
// Page keys stay within it.
class CountSpin : public QSpinBox {
public:
    CountSpin(freq::Range r, QWidget* parent) : QSpinBox(parent), range_(r) { setRange(-999999, 9999999); }

protected:
    StepEnabled stepEnabled() const override
    {
        StepEnabled e = StepNone;
        if (value() > range_.lo)
            e |= StepDownEnabled;
        if (value() < range_.hi)
            e |= StepUpEnabled;
        return e;
    }
    void stepBy(int steps) override
    {
        const int v = value();
        QSpinBox::stepBy(std::clamp(v + steps, range_.lo, range_.hi) - v);
    }

private:
    freq::Range range_;
};

} // namespace

Tzuna07::Tzuna07(Shell& shell, QWidget* parent) : QDialog(parent), shell_(shell)
{
    setObjectName("zuna07");
    setWindowTitle(shell.title("CALIBRE FREQUENCE"));
    message = default_sink(this, "ZUNA 07");
    auto* col = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    for (int i = 0; i < freq::kFamilies; ++i) {
        const Row& r = kRows[i];
        const freq::Range range = freq::range(r.family);
        grid->addWidget(new QLabel(r.label, this), i, 0);
        auto* s = new CountSpin(range, this);
        s->setObjectName(r.spin);
        s->setAccessibleName(r.label);
        // One zone 0 write per value: on Enter, the arrows or leaving the field.
        s->setKeyboardTracking(false);
        connect(s, &QSpinBox::valueChanged, this, [this, f = r.family] { changed(f); });
        spins_[size_t(i)] = s;
        grid->addWidget(s, i, 1);
        QPushButton* b;
        if (r.family == Family::C220) {
            b = make_button(this, r.button, "Calcul");
            connect(b, &QPushButton::clicked, this, &Tzuna07::Button6Click);
        } else {
            b = make_button(this, r.button, "Re calib.");
            b->setEnabled(r.searchable);
            connect(b, &QPushButton::clicked, this, [this, f = r.family] { search(f); });
        }
        search_[size_t(i)] = b;
        grid->addWidget(b, i, 2);
    }
    col->addLayout(grid);

    auto* buttons = new QHBoxLayout;
    auto* defaut = make_button(this, "Button5", "Défaut");
    auto* save = make_button(this, "Button8", "Enregis.", "Sauve les fréquences sur le disque dur");
    auto* read = make_button(this, "Button9", "Lire");
    buttons->addWidget(defaut);
    buttons->addWidget(save);
    buttons->addWidget(read);
    col->addLayout(buttons);
    connect(defaut, &QPushButton::clicked, this, &Tzuna07::Button5Click);
    connect(save, &QPushButton::clicked, this, &Tzuna07::Button8Click);
    connect(read, &QPushButton::clicked, this, &Tzuna07::Button9Click);

    auto* status = new QHBoxLayout;
    prog_nri1 = new QProgressBar(this);
    prog_nri1->setObjectName("prog_nri1");
    prog_nri1->setRange(0, 800);
    prog_nri1->hide();
    status->addWidget(prog_nri1);
    transfer_ = new Transfer(shell_.transfers, this, prog_nri1);
    status->addWidget(transfer_->stop_button());
    col->addLayout(status);
}

void Tzuna07::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (!activated_) {
        activated_ = true;
        FormActivate();
    }
}

void Tzuna07::show_counts()
{
    for (int i = 0; i < freq::kFamilies; ++i) {
        const QSignalBlocker block(spins_[size_t(i)]);
        spins_[size_t(i)]->setValue(freq::count(shell_.station, kRows[i].family));
    }
}

void Tzuna07::FormActivate()
{
    // Every count as the window shows it (G13 brought into 1..7000, the
    // others into their ranges) goes into zone 0: one write for the eight.
    Station& s = shell_.station;
    for (int i = 0; i < freq::kFamilies; ++i) {
        const freq::Range r = freq::range(kRows[i].family);
        freq::put(s, kRows[i].family, std::clamp(freq::count(s, kRows[i].family), r.lo, r.hi));
    }
    show_counts();
    write_zone0();
}

void Tzuna07::changed(Family f)
{
    const int32_t v = spin(f)->value();
    const freq::Range r = freq::range(f);
    if (v < r.lo || v > r.hi) {
        {
            const QSignalBlocker block(spin(f));
            spin(f)->setValue(freq::count(shell_.station, f));
        }
        message(QString("« %1 » : la fréquence doit être comprise entre %2 et %3. Rien n'est écrit.")
                    .arg(kRows[size_t(f)].label)
                    .arg(r.lo)
                    .arg(r.hi));
        return;
    }
    freq::put(shell_.station, f, v);
    write_zone0();
}

bool Tzuna07::write_zone0()
{
    Station& s = shell_.station;
    if (!transfer_->run([&](Progress&) { ecrit_cle_0(s); }))
        return false;
    last_written_ = s.zone0;
    written_ = true;
    return true;
}

void Tzuna07::Button5Click()
{
    Station& s = shell_.station;
    const freq::Defaults d = freq::defaults(s.measured_copy, s.reference_copy);
    const int32_t values[freq::kFamilies] = {d.g13, d.g136, d.c120, d.c220b, d.c220, d.rm3, d.rm4, d.alb};
    for (int i = 0; i < freq::kFamilies; ++i) {
        const freq::Range r = freq::range(kRows[i].family);
        freq::put(s, kRows[i].family, std::clamp(values[i], r.lo, r.hi));
    }
    write_zone0();
    show_counts();
}

void Tzuna07::Button6Click()
{
    Station& s = shell_.station;
    const freq::Range r = freq::range(Family::C220);
    freq::put(s, Family::C220, std::clamp(freq::scaled(s.measured_copy, s.reference_copy, 90), r.lo, r.hi));
    write_zone0();
    show_counts();
}

void Tzuna07::search(Family f)
{
    const Row& row = kRows[size_t(f)];
    if (!row.searchable)
        return;
    if (shell_.plug_mechanism)
        shell_.plug_mechanism(row.mechanism);
    Station& s = shell_.station;
    const int32_t m = s.measured_copy, g = s.reference_copy;
    freq::Search r;
    prog_nri1->setValue(0);
    prog_nri1->show();
    transfer_->run([&](Progress& p) {
        switch (f) {
        case Family::C120: r = freq::search_c120(s, m, g, &p); break;
        case Family::C220B: r = freq::search_c220b(s, m, g, &p); break;
        case Family::G13: r = freq::search_g13(s, m, g, &p); break;
        case Family::RM3: r = freq::search_rm3(s, m, g, &p); break;
        case Family::RM4: r = freq::search_rm4(s, m, g, &p); break;
        case Family::G136: r = freq::search_g136(s, m, g, &p); break;
        case Family::ALB: r = freq::search_al3(s, &p); break;
        default: break;
        }
    });
    prog_nri1->hide();
    if (!r.ok) {
        message(QString::fromStdString(r.message));
        return;
    }
    write_zone0();
    show_counts();
}

void Tzuna07::Button8Click()
{
    auto* d = shell_.dialog<Tsauve_pc>();
    if (!d)
        return;
    const Station& s = shell_.station;
    store::FrequencyRecord r;
    r.c120 = s.delay.c120;
    r.c220 = s.delay.c220;
    r.c220b = s.delay.c220b;
    r.g13 = s.delay.g13;
    r.g136 = s.delay.g136;
    r.rm3 = s.delay.rm3;
    r.rm4 = s.delay.rm4;
    r.alb = s.delay.alb;
    d->save(r);
}

void Tzuna07::Button9Click()
{
    auto* d = shell_.dialog<Tlire_pc>();
    if (!d)
        return;
    const std::optional<store::FrequencyRecord> r = d->choose();
    if (!r)
        return;
    // In the window's order of old; a blank column, or one outside its
    // range, leaves that count as it is. The ALB column is stored with a set
    // but not taken back: the ALB count stays as it is.
    const std::pair<Family, std::optional<int>> columns[] = {
        {Family::RM3, r->rm3},   {Family::RM4, r->rm4}, {Family::C120, r->c120}, {Family::C220B, r->c220b},
        {Family::C220, r->c220}, {Family::G13, r->g13}, {Family::G136, r->g136},
    };
    QStringList kept;
    for (const auto& [f, v] : columns) {
        const freq::Range range = freq::range(f);
        if (v && *v >= range.lo && *v <= range.hi)
            freq::put(shell_.station, f, *v);
        else if (v)
            kept << kRows[size_t(f)].label;
    }
    write_zone0();
    show_counts();
    if (!kept.isEmpty())
        message(QString("Valeur hors limites dans « %1 », fréquence inchangée : %2.")
                    .arg(QString::fromStdString(r->appareil), kept.join(", ")));
}

void Tzuna07::done(int result)
{
    // What the module kept: the main window reads zone 0 again when this
    // window closes and takes its counts from there.
    if (written_ && !transfer_->running()) {
        Station& s = shell_.station;
        if (transfer_->run([&](Progress&) { lir_s1(s); }) && s.zone0 != last_written_)
            message("Le module n'a pas gardé les fréquences écrites dans sa mémoire : elles seront perdues "
                    "au prochain démarrage.");
        written_ = false;
    }
    QDialog::done(result);
}

} // namespace zuna
