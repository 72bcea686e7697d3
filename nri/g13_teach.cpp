#include "nri/g13_teach.h"

#include <QDate>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/shell.h"
#include "ui/transfer.h"
#include "nri/g13_link.h"
#include "nri/g13_window.h"
#include "nri/teach_controls.h"
#include "ui/widgets.h"

namespace zuna {

namespace {
const char kNothingMeasured[] = "Aucune pièce mesurée : validation impossible.";

} // namespace

// ---- Validation -----------------------------------------------------------

TValid_nri_g13::TValid_nri_g13(QWidget* parent) : QDialog(parent)
{
    setObjectName("Valid_nri_g13");
    setWindowTitle("VALIDATION");
    const ValidControls c = make_valid_controls(this, 6);
    grid_ = c.grid;
    canal = c.canal;
    toler = c.toler;
    BitBtn1 = c.ok;
    BitBtn2 = c.annuler;
    connect(BitBtn1, &QPushButton::clicked, this, &TValid_nri_g13::BitBtn1Click);
    // The window's view shows the channel the validation would write.
    for (QSpinBox* b : {canal, toler})
        connect(b, &QSpinBox::valueChanged, this, [this] {
            if (window_)
                window_->teach_proposed(canal->value(), maxima(largest_, toler->value()),
                                        minima(smallest_, toler->value()));
        });
}

void TValid_nri_g13::prepare(Tnrig130000* window, const std::array<int, 4>& largest,
                             const std::array<int, 4>& smallest)
{
    window_ = window;
    if (window && !transfer_) {
        transfer_ = new Transfer(window->shell().transfers, this, nullptr);
        grid_->addWidget(transfer_->stop_button(), 3, 0, 1, 2);
    }
    largest_ = largest;
    smallest_ = smallest;
    if (window)
        window->teach_proposed(canal->value(), maxima(largest, toler->value()), minima(smallest, toler->value()));
}

std::array<int, 4> TValid_nri_g13::maxima(const std::array<int, 4>& largest, int tolerance)
{
    std::array<int, 4> v{};
    for (size_t k = 0; k < 4; ++k)
        v[k] = std::clamp(largest[k] + tolerance, 0, 255);
    return v;
}

std::array<int, 4> TValid_nri_g13::minima(const std::array<int, 4>& smallest, int tolerance)
{
    std::array<int, 4> v{};
    for (size_t k = 0; k < 4; ++k)
        v[k] = std::clamp(smallest[k] - tolerance, 0, 255);
    return v;
}

void TValid_nri_g13::BitBtn1Click()
{
    if (window_ && transfer_) {
        const QDate d = window_->today();
        const nri::Date date{d.month(), d.day(), d.year() % 100};
        const int channel = canal->value();
        const auto hi = maxima(largest_, toler->value());
        const auto lo = minima(smallest_, toler->value());
        // Refused because of an overlap: nothing written, the dialog stays.
        if (!window_->may_write(channel, hi, lo))
            return;
        Station& s = window_->shell_station();
        nri::ChannelWrite w;
        if (!transfer_->run([&](Progress& p) { w = nri::write_channel(s, channel, hi, lo, nri::fast_units(s), date, &p); }))
            return;
        window_->show_write(w);
    }
    accept();
}

// ---- Coin teach -----------------------------------------------------------

Tcalibration_nri_g13::Tcalibration_nri_g13(Shell& shell, QWidget* parent) : QDialog(parent), shell_(shell)
{
    setObjectName("calibration_nri_g13");
    setWindowTitle(shell.title("CALIBRATION G13.0000"));
    auto* g = new QGridLayout;
    g->addWidget(new QLabel("Maxi", this), 0, 1);
    g->addWidget(new QLabel("Mini", this), 0, 2);
    g->addWidget(new QLabel("Pièce", this), 0, 3);
    for (int k = 1; k <= 4; ++k) {
        g->addWidget(new QLabel(QString("Mesure %1").arg(k), this), k, 0);
        m_[size_t(k - 1)] = make_label(this, QString("m%1").arg(k), "  0");
        b_[size_t(k - 1)] = make_label(this, QString("b%1").arg(k), "255");
        d_[size_t(k - 1)] = make_label(this, QString("d%1").arg(k), "");
        g->addWidget(m_[size_t(k - 1)], k, 1);
        g->addWidget(b_[size_t(k - 1)], k, 2);
        g->addWidget(d_[size_t(k - 1)], k, 3);
    }
    const TeachControls c = make_teach_controls(this, shell, g, "OK");
    nb_piece = c.nb_piece;
    attente = c.attente;
    progresse = c.progresse;
    transfer_ = c.transfer;
    BitBtn1 = c.lecture;
    ok = c.ok;
    an = c.an;
    connect(BitBtn1, &QPushButton::clicked, this, &Tcalibration_nri_g13::BitBtn1Click);
    connect(ok, &QPushButton::clicked, this, &Tcalibration_nri_g13::okClick);
}

void Tcalibration_nri_g13::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    FormActivate();
}

void Tcalibration_nri_g13::FormActivate()
{
    setWindowTitle(shell_.title("CALIBRATION G13.0000"));
    for (QLabel* l : m_)
        l->setText("  0");
    for (QLabel* l : b_)
        l->setText("255");
    for (QLabel* l : d_)
        l->setText("");
    attente->setText("");
    nb_piece->setValue(15);
    measured_ = 0;
    ok->setEnabled(false);
}

std::array<int, 4> Tcalibration_nri_g13::largest() const
{
    std::array<int, 4> v{};
    for (size_t k = 0; k < 4; ++k)
        v[k] = m_[k]->text().trimmed().toInt();
    return v;
}

std::array<int, 4> Tcalibration_nri_g13::smallest() const
{
    std::array<int, 4> v{};
    for (size_t k = 0; k < 4; ++k)
        v[k] = b_[k]->text().trimmed().toInt();
    return v;
}

void Tcalibration_nri_g13::BitBtn1Click()
{
    if (transfer_->running())
        return;
    ok->setEnabled(false);
    an->setEnabled(false);
    const int n = nb_piece->value();
    // Each capture waits for its coin: the bar counts the coins measured.
    attente->setText(n == 1 ? QString("Introduisez la pièce") : QString("Introduisez les %1 pièces une à une").arg(n));
    const std::array<int, 4> hi = largest();
    const std::array<int, 4> lo = smallest();
    nri::Collect c;
    const bool ran = transfer_->run([&](Progress& p) { c = nri::collect_coins(shell_.station, n, hi, lo, &p); });
    if (ran) {
        measured_ += c.measured;
        if (window_)
            window_->teach_coins(c.coins);
        if (c.measured > 0)
            for (size_t k = 0; k < 4; ++k) {
                m_[k]->setText(QString("%1").arg(c.largest[k], 3));
                b_[k]->setText(QString("%1").arg(c.smallest[k], 3));
                d_[k]->setText(QString("%1").arg(c.last[k], 3));
            }
        attente->setText(QString::fromStdString(c.message));
    } else {
        attente->setText("");
    }
    nb_piece->setValue(n);
    an->setEnabled(true);
    // Limits of a coin never measured (maxima 0, minima 255) accept nothing.
    ok->setEnabled(measured_ > 0);
    if (measured_ == 0)
        attente->setText(attente->text() + (attente->text().isEmpty() ? "" : "\n") + kNothingMeasured);
}

void Tcalibration_nri_g13::okClick()
{
    if (measured_ == 0) {
        attente->setText(kNothingMeasured);
        return;
    }
    if (auto* valid = shell_.dialog<TValid_nri_g13>()) {
        valid->setWindowTitle(shell_.title("VALIDATION"));
        valid->prepare(window_, largest(), smallest());
        valid->exec();
        valid->prepare(nullptr, {}, {});
    }
    accept();
}

} // namespace zuna
