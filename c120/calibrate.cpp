#include "c120/calibrate.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ui/shell.h"
#include "c120/c120_memory.h"
#include "link/timing.h"

namespace zuna {

using namespace c120;

TeachWindow::TeachWindow(Shell& shell, const char* object_name, QWidget* parent) : QDialog(parent), shell_(shell)
{
    setObjectName(object_name);
    setWindowTitle(shell.title("CALIBRATION"));
    show_message = default_sink(this, "CALIBRATION");
    auto* grid = new QGridLayout;
    for (int p = 0; p < 3; ++p) {
        m_[p] = new QLabel("0", this);
        m_[p]->setObjectName(QString("m%1").arg(p + 1));
        b_[p] = new QLabel("255", this);
        b_[p]->setObjectName(QString("b%1").arg(p + 1));
        for (QLabel* l : {m_[p], b_[p]}) {
            l->setFrameShape(QFrame::StyledPanel);
            l->setAlignment(Qt::AlignCenter);
            l->setMinimumWidth(48);
        }
        grid->addWidget(m_[p], 0, p);
        grid->addWidget(b_[p], 1, p);
    }
    nb_piece = new QSpinBox(this);
    nb_piece->setObjectName("nb_piece");
    nb_piece->setRange(1, 20);
    nb_piece->setValue(15);

    auto* count = new QHBoxLayout;
    count->addWidget(new QLabel("Nb de pieces", this));
    count->addWidget(nb_piece);
    count->addStretch();
    buttons_ = new QHBoxLayout;
    BitBtn1 = add_button("BitBtn1", "LECTURE");
    auto* col = new QVBoxLayout(this);
    col->addLayout(grid);
    col->addLayout(count);
    col->addLayout(buttons_);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
}

QPushButton* TeachWindow::add_button(const char* name, const QString& caption)
{
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    buttons_->addWidget(b);
    return b;
}

void TeachWindow::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    FormActivate();
}

void TeachWindow::FormActivate()
{
    for (int p = 0; p < 3; ++p) {
        m_[p]->setText("0");
        b_[p]->setText("255");
    }
}

std::array<int, 3> TeachWindow::highest() const { return {label_int(m_[0]), label_int(m_[1]), label_int(m_[2])}; }

std::array<int, 3> TeachWindow::lowest() const { return {label_int(b_[0]), label_int(b_[1]), label_int(b_[2])}; }

void TeachWindow::count_coin(int i)
{
    nb_piece->setValue(i);
    nb_piece->repaint();
}

void TeachWindow::take(const uint8_t (&v)[3])
{
    for (int p = 0; p < 3; ++p) {
        if (v[p] > label_int(m_[p]))
            m_[p]->setText(QString::number(v[p]));
        if (v[p] < label_int(b_[p]))
            b_[p]->setText(QString::number(v[p]));
        m_[p]->repaint();
        b_[p]->repaint();
    }
}

Tcalibrate::Tcalibrate(Shell& shell, QWidget* parent) : TeachWindow(shell, "calibrate", parent)
{
    ok = add_button("ok", "OK");
    ab = add_button("ab", "Abandon");
    ok->hide();
    ab->hide();
    connect(ok, &QPushButton::clicked, this, &Tcalibrate::okClick);
    connect(ab, &QPushButton::clicked, this, &QDialog::reject);
}

void Tcalibrate::BitBtn1Click()
{
    Station& s = shell_.station;
    if (!delay_usable(s.delay.c120, "C120", show_message))
        return;
    ok->hide();
    ab->hide();
    const int coins = nb_piece->value();
    bool heard = false;
    {
        MaskedSection masked(*s.port);
        ecrir_bit(s, kAfterRead);
        heard = send_record(s, read_word_command(kChecksumWord));
        heard = send_record(s, kOpen) || heard;
        s.c120_read_timeout = kTimeoutTeach;
    }
    if (!heard) { // no coin can be measured: none is waited for
        MaskedSection masked(*s.port);
        ecrir_bit(s, kTeachEnd);
        s.c120_read_timeout = kTimeoutNormal;
        show_message("Le monayeur ne répond pas.");
        return;
    }
    for (int i = 1; i <= coins; ++i) {
        count_coin(i);
        CoinReply r;
        {
            MaskedSection masked(*s.port);
            r = measure_coin(s, false);
        }
        if (r.measured) { // not acknowledged or no coin came: counted all the same
            const uint8_t v[3] = {s.symbols[3], s.symbols[6], s.symbols[9]};
            take(v);
        }
    }
    {
        MaskedSection masked(*s.port); // the end of the teach is part of the transfer
        ecrir_bit(s, kTeachEnd);
    }
    ok->show();
    ab->show();
    s.c120_read_timeout = kTimeoutNormal;
}

void Tcalibrate::okClick()
{
    if (auto* v = shell_.dialog<Tvalid_c120>()) {
        v->set_teach(highest(), lowest());
        v->exec();
    }
    accept();
}

ValidWindow::ValidWindow(Shell& shell, const char* object_name, int channels, QWidget* parent)
    : QDialog(parent), shell_(shell)
{
    setObjectName(object_name);
    setWindowTitle(shell.title("VALIDATION"));
    show_message = default_sink(this, "VALIDATION");
    canal = new QSpinBox(this);
    canal->setObjectName("canal");
    canal->setRange(1, channels);
    toler = new QSpinBox(this);
    toler->setObjectName("toler");
    toler->setRange(0, 20);
    toler->setValue(0);
    auto* BitBtn1 = new QPushButton("OK", this);
    BitBtn1->setObjectName("BitBtn1");
    auto* BitBtn2 = new QPushButton("Cancel", this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn1->setAutoDefault(false);
    BitBtn2->setAutoDefault(false);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("CHOIX DU CANAL :", this), 0, 0);
    grid->addWidget(canal, 0, 1);
    grid->addWidget(new QLabel("Tolérance :", this), 1, 0);
    grid->addWidget(toler, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    auto* col = new QVBoxLayout(this);
    col->addLayout(grid);
    col->addLayout(buttons);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void ValidWindow::set_teach(const std::array<int, 3>& highest, const std::array<int, 3>& lowest)
{
    m_ = highest;
    b_ = lowest;
}

std::array<uint8_t, 6> ValidWindow::widened() const
{
    const int t = toler->value();
    std::array<uint8_t, 6> bounds{};
    for (int k = 0; k < 3; ++k) {
        bounds[2 * k] = widen_upper(m_[k], t);
        bounds[2 * k + 1] = widen_lower(b_[k], t);
    }
    return bounds;
}

Tvalid_c120::Tvalid_c120(Shell& shell, QWidget* parent) : ValidWindow(shell, "valid_c120", 12, parent) {}

void Tvalid_c120::BitBtn1Click()
{
    Station& s = shell_.station;
    if (!delay_usable(s.delay.c120, "C120", show_message) || !image_usable(s, show_message))
        return;
    WriteOutcome o;
    {
        MaskedSection masked(*s.port);
        ecrir_bit(s, kValidLine);
        ecrir_bit(s, kValidLine);
        o = ecrit_words(s, window_words(canal->value(), widened()));
        ecrir_bit(s, kValidLine);
        send_only(s, kClose);
        ecrir_bit(s, kValidLine);
    }
    if (o.result != WriteResult::Verified)
        show_message(write_message(o.result, o.failed));
    accept();
}

} // namespace zuna
