#include "nri/g136_teach.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "nri/g136_window.h"
#include "ui/shell.h"
#include "ui/transfer.h"
#include "nri/teach_controls.h"
#include "ui/widgets.h"

namespace zuna {

namespace g136 = nri::g136;

namespace {
const char kNothingMeasured[] = "Aucune pièce mesurée : validation impossible.";

QLabel* centred(QWidget* parent, const QString& name, const QString& text)
{
    return make_label(parent, name, text, Qt::AlignCenter);
}

// m1..m4 then M5..M16 (and b/B, d/D): the first four in lower case.
QString measure_name(char lower, int k) { return QString("%1%2").arg(QChar(k <= 4 ? lower : lower - 32)).arg(k); }
} // namespace

// ---- Validation -----------------------------------------------------------

Tvalid_nri_g136::Tvalid_nri_g136(QWidget* parent) : QDialog(parent)
{
    setObjectName("valid_nri_g136");
    setWindowTitle("VALIDATION");
    const ValidControls c = make_valid_controls(this, 12);
    grid_ = c.grid;
    canal = c.canal;
    toler = c.toler;
    BitBtn1 = c.ok;
    BitBtn2 = c.annuler;
    connect(BitBtn1, &QPushButton::clicked, this, &Tvalid_nri_g136::BitBtn1Click);
    // The window's view shows the channel the validation would write.
    for (QSpinBox* b : {canal, toler})
        connect(b, &QSpinBox::valueChanged, this, &Tvalid_nri_g136::propose);
}

void Tvalid_nri_g136::propose()
{
    if (!window_)
        return;
    const int n = canal->value();
    const auto sel = window_->selectors(n);
    if (!sel || std::any_of(sel->begin(), sel->end(), [](int s) { return s > 15; }))
        return; // no window the validation could write
    window_->teach_proposed(n, g136::validation_block(*sel, largest_, smallest_, toler->value()), *sel);
}

void Tvalid_nri_g136::prepare(Tnrig1360000* window, const g136::Measures& largest, const g136::Measures& smallest)
{
    window_ = window;
    if (window && !transfer_) {
        transfer_ = new Transfer(window->shell().transfers, this, nullptr);
        grid_->addWidget(transfer_->stop_button(), 3, 0, 1, 2);
    }
    largest_ = largest;
    smallest_ = smallest;
    propose();
}

void Tvalid_nri_g136::BitBtn1Click()
{
    if (!window_ || !transfer_) {
        accept();
        return;
    }
    const int n = canal->value();
    // Refusals keep the dialog open: the operator may pick another channel or cancel.
    const std::optional<std::array<int, 6>> sel = window_->selectors(n);
    if (!sel) {
        window_->show_message("Les mesures contrôlées par les paires ne sont pas connues : faites d'abord "
                              "« Lecture » dans la fenêtre G13.6000 (rien n'a été écrit).");
        return;
    }
    if (std::any_of(sel->begin(), sel->end(), [](int s) { return s > 15; })) {
        window_->show_message(QString("Une paire du canal %1 ne contrôle aucune mesure (« Q ») : rien n'a été écrit.")
                                  .arg(n));
        return;
    }
    const bool none = std::all_of(largest_.begin(), largest_.end(), [](int v) { return v == 0; }) &&
                      std::all_of(smallest_.begin(), smallest_.end(), [](int v) { return v == 255; });
    if (none) {
        window_->show_message(kNothingMeasured);
        return;
    }
    if (!window_->ready())
        return;
    const g136::Block b = g136::validation_block(*sel, largest_, smallest_, toler->value());
    if (!window_->may_write(n, b, *sel))
        return;
    Station& s = window_->shell_station();
    g136::ChannelWrite w;
    if (!transfer_->run([&](Progress& p) { w = g136::write_channel(s, n, b, &p); }))
        return;
    window_->show_write(w);
    accept();
}

// ---- Coin teach -----------------------------------------------------------

Tcalibration_nri_g136::Tcalibration_nri_g136(Shell& shell, QWidget* parent) : QDialog(parent), shell_(shell)
{
    setObjectName("calibration_nri_g136");
    setWindowTitle(shell.title("CALIBRATION NRI G13.6000"));
    auto* g = new QGridLayout;
    g->setHorizontalSpacing(6);
    g->addWidget(new QLabel("Maxi", this), 1, 0);
    g->addWidget(new QLabel("Mini", this), 2, 0);
    g->addWidget(new QLabel("Pièce", this), 3, 0);
    for (int k = 1; k <= 16; ++k) {
        g->addWidget(centred(this, QString("lettre%1").arg(k), QString(QChar('A' + k - 1))), 0, k);
        m_[size_t(k - 1)] = centred(this, measure_name('m', k), "0");
        b_[size_t(k - 1)] = centred(this, measure_name('b', k), "255");
        d_[size_t(k - 1)] = centred(this, measure_name('d', k), "");
        g->addWidget(m_[size_t(k - 1)], 1, k);
        g->addWidget(b_[size_t(k - 1)], 2, k);
        g->addWidget(d_[size_t(k - 1)], 3, k);
    }
    const TeachControls c = make_teach_controls(this, shell, g, "ok");
    nb_piece = c.nb_piece;
    attente = c.attente;
    progresse = c.progresse;
    transfer_ = c.transfer;
    BitBtn1 = c.lecture;
    ok = c.ok;
    an = c.an;
    connect(BitBtn1, &QPushButton::clicked, this, &Tcalibration_nri_g136::BitBtn1Click);
    connect(ok, &QPushButton::clicked, this, &Tcalibration_nri_g136::okClick);
}

void Tcalibration_nri_g136::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    FormActivate();
}

void Tcalibration_nri_g136::FormActivate()
{
    setWindowTitle(shell_.title("CALIBRATION NRI G13.6000"));
    for (QLabel* l : m_)
        l->setText("0");
    for (QLabel* l : b_)
        l->setText("255");
    for (QLabel* l : d_)
        l->setText("");
    attente->setText("");
    measured_ = 0;
    ok->setEnabled(false);
}

g136::Measures Tcalibration_nri_g136::largest() const
{
    g136::Measures v{};
    for (size_t k = 0; k < v.size(); ++k)
        v[k] = m_[k]->text().trimmed().toInt();
    return v;
}

g136::Measures Tcalibration_nri_g136::smallest() const
{
    g136::Measures v{};
    for (size_t k = 0; k < v.size(); ++k)
        v[k] = b_[k]->text().trimmed().toInt();
    return v;
}

void Tcalibration_nri_g136::BitBtn1Click()
{
    if (transfer_->running())
        return;
    if (window_ && !window_->ready())
        return;
    ok->setEnabled(false);
    an->setEnabled(false);
    const int n = nb_piece->value();
    attente->setText(n == 1 ? QString("Introduisez la pièce") : QString("Introduisez les %1 pièces une à une").arg(n));
    const g136::Measures hi = largest();
    const g136::Measures lo = smallest();
    g136::Collect c;
    const bool ran = transfer_->run([&](Progress& p) { c = g136::collect_coins(shell_.station, n, hi, lo, &p); });
    attente->setText("");
    if (ran) {
        measured_ += c.measured;
        if (window_)
            window_->teach_coins(c.coins);
        if (c.measured > 0)
            for (size_t k = 0; k < 16; ++k) {
                m_[k]->setText(QString::number(c.largest[k]));
                b_[k]->setText(QString::number(c.smallest[k]));
                d_[k]->setText(QString::number(c.last[k]));
            }
        attente->setText(QString::fromStdString(c.message));
    }
    nb_piece->setValue(n);
    an->setEnabled(true);
    // Limits of a coin never measured (maxima 0, minima 255) accept nothing.
    ok->setEnabled(measured_ > 0);
    if (measured_ == 0)
        attente->setText(attente->text() + (attente->text().isEmpty() ? "" : "\n") + kNothingMeasured);
}

void Tcalibration_nri_g136::okClick()
{
    if (measured_ == 0) {
        attente->setText(kNothingMeasured);
        return;
    }
    if (auto* valid = shell_.dialog<Tvalid_nri_g136>()) {
        valid->setWindowTitle(shell_.title("VALIDATION"));
        valid->prepare(window_, largest(), smallest());
        valid->exec();
        valid->prepare(nullptr, {}, {});
    }
    accept();
}

} // namespace zuna
