#include "seci/seci_calibre.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <algorithm>

#include "seci/seci_window.h"
#include "ui/band_view.h"
#include "ui/feedback.h"
#include "ui/shell.h"
#include "ui/transfer.h"

namespace zuna {

using namespace seci;

namespace {
// The "+" bound is sent in two characters.
constexpr int kPlusTop = 65535;
} // namespace

SeciCalibre::SeciCalibre(Shell& shell, const CalibreLayout& layout, QWidget* parent)
    : QDialog(parent), shell_(shell), lay_(layout)
{
    setObjectName(lay_.object_name);
    setWindowTitle(shell.title("CALIBRATION"));
    auto* g = new QGridLayout(this);
    const char* readings[7] = {"HFU Bas", "HFU Haut", "LF Bas", "LF Haut", "HFL Bas", "HFL Haut", "+"};
    for (int k = 1; k <= lay_.columns; ++k) {
        g->addWidget(new QLabel(readings[k - 1], this), 0, k, Qt::AlignCenter);
        m_[size_t(k - 1)] = new QLabel("0000", this);
        m_[size_t(k - 1)]->setObjectName(QString("m%1").arg(k));
        b_[size_t(k - 1)] = new QLabel("0000", this);
        b_[size_t(k - 1)]->setObjectName(QString("b%1").arg(k));
        g->addWidget(m_[size_t(k - 1)], 1, k, Qt::AlignCenter);
        g->addWidget(b_[size_t(k - 1)], 2, k, Qt::AlignCenter);
        if (k > 6)
            continue; // the "+" reading has no choice
        c_[size_t(k - 1)] = new QRadioButton(this);
        c_[size_t(k - 1)]->setObjectName(QString("c%1").arg(k));
        g->addWidget(c_[size_t(k - 1)], 3, k, Qt::AlignCenter);
    }
    g->addWidget(new QLabel("Max", this), 1, 0);
    g->addWidget(new QLabel("Min", this), 2, 0);
    for (int s = 0; s < 3; ++s) {
        auto* group = new QButtonGroup(this);
        group->addButton(c_[size_t(2 * s)]);
        group->addButton(c_[size_t(2 * s + 1)]);
        c_[size_t(2 * s + 1)]->setChecked(true); // c2, c4, c6 as designed
    }
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Nb de pieces", this));
    nb_piece = new QSpinBox(this);
    nb_piece->setObjectName("nb_piece");
    nb_piece->setRange(1, 20);
    nb_piece->setValue(15);
    row->addWidget(nb_piece);
    BitBtn1 = new QPushButton("LECTURE", this);
    BitBtn1->setObjectName("BitBtn1");
    row->addWidget(BitBtn1);
    ok = new QPushButton("OK", this);
    ok->setObjectName("ok");
    ab = new QPushButton(lay_.abort, this);
    ab->setObjectName("ab");
    row->addWidget(ok);
    row->addWidget(ab);
    Tole = new QLabel("Tolérence : ", this);
    Tole->setObjectName("Tole");
    toler = new QSpinBox(this);
    toler->setObjectName("toler");
    toler->setRange(0, 99);
    row->addWidget(Tole);
    row->addWidget(toler);
    g->addLayout(row, 4, 0, 1, lay_.columns + 1);

    p = new QGroupBox("Programmation sur le", this);
    p->setObjectName("p");
    auto* pl = new QHBoxLayout(p);
    pl->addWidget(new QLabel("Canal :", p));
    can = new QSpinBox(p);
    can->setObjectName("can");
    can->setRange(1, 6);
    pl->addWidget(can);
    BitBtn2 = new QPushButton("OK", p);
    BitBtn2->setObjectName("BitBtn2");
    pl->addWidget(BitBtn2);
    g->addWidget(p, 5, 0, 1, lay_.columns + 1);

    bar_ = new QProgressBar(this);
    bar_->setObjectName("progresse");
    bar_->hide();
    auto* status = new QHBoxLayout;
    status->addWidget(bar_);
    transfer_ = new Transfer(shell.transfers, this, bar_);
    status->addWidget(transfer_->stop_button());
    g->addLayout(status, 6, 0, 1, lay_.columns + 1);

    connect(BitBtn1, &QPushButton::clicked, this, &SeciCalibre::BitBtn1Click);
    connect(ok, &QPushButton::clicked, this, &SeciCalibre::okClick);
    connect(ab, &QPushButton::clicked, this, &SeciCalibre::abClick);
    connect(BitBtn2, &QPushButton::clicked, this, &SeciCalibre::BitBtn2Click);
    // An open "Graphique" follows the window the programming would write.
    connect(toler, &QSpinBox::valueChanged, this, &SeciCalibre::refresh_view);
    connect(can, &QSpinBox::valueChanged, this, &SeciCalibre::refresh_view);
    for (QRadioButton* c : c_)
        if (c)
            connect(c, &QRadioButton::toggled, this, &SeciCalibre::refresh_view);
}

void SeciCalibre::refresh_view()
{
    if (window_ && window_->views())
        window_->views()->refresh();
}

seci::Line SeciCalibre::line() { return seci::Line{shell_.station, lay_.family}; }

void SeciCalibre::message(const QString& text)
{
    if (window_)
        window_->show_message(text);
    else
        default_sink(this, windowTitle())(text);
}

void SeciCalibre::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    FormActivate();
}

void SeciCalibre::FormActivate()
{
    ok->setEnabled(false);
    ab->setEnabled(false);
    for (int k = 0; k < lay_.columns; ++k) {
        m_[size_t(k)]->setText("0000");
        b_[size_t(k)]->setText("0000");
    }
    p->hide();
    Tole->hide();
    toler->hide();
    samples_.clear();
}

int SeciCalibre::flags() const
{
    const int f = (c_[0]->isChecked() ? 1 : 0) | (c_[2]->isChecked() ? 2 : 0) | (c_[4]->isChecked() ? 4 : 0);
    const int odd = (c_[0]->isChecked() + c_[1]->isChecked() + c_[2]->isChecked()) % 2;
    return f | (odd ? 8 : 0);
}

void SeciCalibre::BitBtn1Click()
{
    const int wanted = nb_piece->value() & 0xFF;
    const int m = start_char_;
    std::vector<Record> coins;
    bool missing = false;
    bool answered = true; // the exchanges before each coin wait were answered
    // A new sampling: nothing of the last one counts any more.
    FormActivate();
    transfer_->run([&](Progress& pr) {
        pr.start(wanted);
        const Line l = line();
        for (int k = 1; k <= wanted; ++k) {
            if (pr.stop_requested())
                break;
            const auto coin = calibration_sample(l, m, k == 1, nullptr, &answered);
            if (!coin) {
                missing = true; // a coin that never came is not a coin of zeros
                break;
            }
            coins.push_back(*coin);
            pr.step();
        }
        pr.finish();
    });
    for (size_t i = 0; i < coins.size(); ++i) {
        const Record& c = coins[i];
        nb_piece->setValue(int(i) + 1);
        for (int k = 0; k < lay_.columns; ++k) {
            const int v = c.value[size_t(k)];
            if (i == 0 || m_[size_t(k)]->text().toInt() < v)
                m_[size_t(k)]->setText(QString::number(v));
            if (i == 0 || v < b_[size_t(k)]->text().toInt())
                b_[size_t(k)]->setText(QString::number(v));
        }
        if (i >= 1) {
            // Reading choice from the maxima: a later check wins within a pair.
            static const int order[6][2] = {{1, 2}, {3, 4}, {5, 6}, {2, 1}, {4, 3}, {6, 5}};
            for (const auto& o : order)
                if (m_[size_t(o[0] - 1)]->text().toInt() == 0)
                    c_[size_t(o[1] - 1)]->setChecked(true);
        }
    }
    ab->setEnabled(true);
    samples_ = coins;
    refresh_view();
    if (coins.empty()) {
        message(!answered ? "Le monayeur ne répond pas."
                : missing ? "Aucune pièce reçue : rien n'a été mesuré."
                          : "Calibration arrêtée : aucune pièce mesurée.");
        return;
    }
    if (!answered)
        message(QString("Le monnayeur ne répond plus après la pièce %1 : la calibration s'arrête sur %1 pièce(s).")
                    .arg(coins.size()));
    else if (missing)
        message(QString("Pas de pièce reçue après la pièce %1 : la calibration s'arrête sur %1 pièce(s).")
                    .arg(coins.size()));
    else if (int(coins.size()) < wanted)
        message(QString("Calibration arrêtée après %1 pièce(s).").arg(coins.size()));
    ok->setEnabled(true);
    Tole->show();
    toler->show();
}

void SeciCalibre::okClick() { p->show(); }

void SeciCalibre::abClick() { reject(); }

Record SeciCalibre::proposed() const
{
    const int t = toler->value();
    Record r;
    for (int s = 0; s < 3; ++s) {
        const int col = c_[size_t(2 * s)]->isChecked() ? 2 * s : 2 * s + 1;
        r.value[size_t(2 * s)] = std::min(m_[size_t(col)]->text().toInt() + t, lay_.sensor_top);
        r.value[size_t(2 * s + 1)] = std::max(b_[size_t(col)]->text().toInt() - t, 0);
    }
    if (lay_.columns > 6) {
        r.value[6] = std::min(m_[6]->text().toInt() + t, kPlusTop);
        r.value[7] = std::max(b_[6]->text().toInt() - t, 0);
    }
    r.flags = flags();
    // Output "0": the RM3 writes it as 8, the RM4 as 0.
    r.output = lay_.family == &kRm3 ? 8 : 0;
    return r;
}

seci::Teach SeciCalibre::teach() const
{
    seci::Teach t;
    t.samples = samples_;
    if (!samples_.empty())
        t.proposed = proposed();
    t.channel = can->value();
    return t;
}

void SeciCalibre::BitBtn2Click()
{
    const Record r = proposed();
    const int n = can->value();
    // Refused: the panel stays open for another channel, nothing is written.
    if (window_ && (!window_->overlap_allowed(n, r) || !window_->identified(n)))
        return;
    WriteResult w;
    transfer_->run([&](Progress&) { w = calibration_write(line(), n, r); });
    p->hide();
    start_char_ = n;
    bool done = false;
    if (window_)
        done = window_->report_write(n, w);
    else
        done = w.confirmed();
    if (done)
        accept();
}

} // namespace zuna

namespace zuna {

Tcalibre_rm3::Tcalibre_rm3(Shell& shell, QWidget* parent)
    : SeciCalibre(shell, CalibreLayout{&seci::kRm3, "calibre_rm3", 6, 5519, "Abandon"}, parent)
{
}

Tcalibre_rm4::Tcalibre_rm4(Shell& shell, QWidget* parent)
    : SeciCalibre(shell, CalibreLayout{&seci::kRm4, "calibre_rm4", 7, 255, "ab"}, parent)
{
}

} // namespace zuna
