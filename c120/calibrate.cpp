#include "c120/calibrate.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ui/shell.h"
#include "ui/transfer.h"
#include "c120/c120_memory.h"

namespace zuna {

using namespace c120;

bool run_transfer(Transfer* t, const std::function<void(Progress&)>& op)
{
    t->set_stoppable(true);
    return t->run(op);
}

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
    progress_ = new QProgressBar(this); // the coins passed, while they pass
    progress_->setObjectName("pieces");
    progress_->setFormat("%v / %m");
    progress_->hide();
    transfer_ = new Transfer(shell.transfers, this, progress_);
    auto* progress_row = new QHBoxLayout;
    progress_row->addWidget(progress_);
    progress_row->addWidget(transfer_->stop_button());
    auto* col = new QVBoxLayout(this);
    col->addLayout(grid);
    col->addLayout(count);
    col->addLayout(progress_row);
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
    samples_.clear();
    for (int p = 0; p < 3; ++p) {
        m_[p]->setText("0");
        b_[p]->setText("255");
    }
}

std::array<int, 3> TeachWindow::highest() const { return {label_int(m_[0]), label_int(m_[1]), label_int(m_[2])}; }

std::array<int, 3> TeachWindow::lowest() const { return {label_int(b_[0]), label_int(b_[1]), label_int(b_[2])}; }

void TeachWindow::show_teach(const TeachResult& t, int coins)
{
    if (t.passed > 0)
        nb_piece->setValue(t.passed);
    for (const auto& v : t.measured) {
        for (int p = 0; p < 3; ++p) {
            if (v[p] > label_int(m_[p]))
                m_[p]->setText(QString::number(v[p]));
            if (v[p] < label_int(b_[p]))
                b_[p]->setText(QString::number(v[p]));
        }
    }
    samples_.insert(samples_.end(), t.measured.begin(), t.measured.end());
    if (samples_changed)
        samples_changed();
    const QString m = teach_message(t, coins);
    if (!m.isEmpty())
        show_message(m);
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
    TeachResult t;
    if (!run([&](Progress& p) { t = teach_coins(s, coins, &p); }))
        return;
    show_teach(t, coins);
    if (t.answered) {
        ok->show();
        ab->show();
    }
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
    auto* BitBtn2 = new QPushButton("Annuler", this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn1->setAutoDefault(false);
    BitBtn2->setAutoDefault(false);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("CHOIX DU CANAL :", this), 0, 0);
    grid->addWidget(canal, 0, 1);
    grid->addWidget(new QLabel("Tolérance :", this), 1, 0);
    grid->addWidget(toler, 1, 1);
    auto* bar = new QProgressBar(this); // the words written, while they are
    bar->setObjectName("mots");
    bar->hide();
    transfer_ = new Transfer(shell.transfers, this, bar);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    auto* progress_row = new QHBoxLayout;
    progress_row->addWidget(bar);
    progress_row->addWidget(transfer_->stop_button());
    auto* col = new QVBoxLayout(this);
    col->addLayout(grid);
    col->addLayout(progress_row);
    col->addLayout(buttons);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    for (QSpinBox* spin : {canal, toler})
        connect(spin, &QSpinBox::valueChanged, this, [this] {
            if (proposal_changed)
                proposal_changed();
        });
}

int ValidWindow::channel() const { return canal->value(); }

void ValidWindow::set_teach(const std::array<int, 3>& highest, const std::array<int, 3>& lowest)
{
    m_ = highest;
    b_ = lowest;
    if (proposal_changed)
        proposal_changed();
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
    const int c = canal->value();
    const auto bounds = widened();
    if (!may_write(c, bounds))
        return;
    WriteOutcome o;
    if (!run([&](Progress& p) { o = validate_teach(s, c, bounds, &p); }))
        return;
    if (!write_message(o).isEmpty())
        show_message(write_message(o));
    accept();
}

} // namespace zuna
