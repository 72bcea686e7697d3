#include "nri/teach_controls.h"

#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ui/shell.h"
#include "ui/transfer.h"
#include "ui/widgets.h"

namespace zuna {

AdjustPanel make_adjust_panel(QWidget* parent, int per_row, const QString& max_name, const QString& min_name)
{
    AdjustPanel p;
    p.box = new QFrame(parent);
    p.box->setObjectName("ajustement");
    p.box->setFrameShape(QFrame::Panel);
    auto* grid = new QGridLayout(p.box);
    for (int k = 1; k <= 2 * per_row; ++k) {
        QSpinBox* s = make_spin(p.box, QString("aj%1").arg(k), 0, 255, 0);
        s->setAccessibleName((k <= per_row ? max_name : min_name).arg((k - 1) % per_row + 1));
        grid->addWidget(s, (k - 1) / per_row, (k - 1) % per_row);
        p.spins.push_back(s);
    }
    p.ok = make_button(p.box, "ok", "OK");
    p.ab = make_button(p.box, "ab", "Abandon");
    grid->addWidget(p.ok, 2, per_row - 2);
    grid->addWidget(p.ab, 2, per_row - 1);
    p.box->hide();
    p.ok->hide();
    p.ab->hide();
    return p;
}

TeachControls make_teach_controls(QDialog* d, Shell& shell, QGridLayout* measures, const QString& ok_caption)
{
    TeachControls c;
    c.nb_piece = make_spin(d, "nb_piece", 1, 20, 15);
    auto* count = new QHBoxLayout;
    QLabel* label_count = make_label(d, "Label5", "Nb de pieces");
    label_count->setBuddy(c.nb_piece);
    count->addWidget(label_count);
    count->addWidget(c.nb_piece);
    count->addStretch();
    c.attente = make_label(d, "attente", "");
    c.progresse = new QProgressBar(d);
    c.progresse->setObjectName("progresse");
    c.progresse->setFormat("%v pièce(s) sur %m");
    c.progresse->hide();
    c.transfer = new Transfer(shell.transfers, d, c.progresse);
    c.lecture = make_button(d, "BitBtn1", "LECTURE");
    c.ok = make_button(d, "ok", ok_caption);
    c.an = make_button(d, "an", "Annuler");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(c.lecture);
    buttons->addWidget(c.ok);
    buttons->addWidget(c.an);
    buttons->addWidget(c.transfer->stop_button());
    auto* col = new QVBoxLayout(d);
    col->addLayout(measures);
    col->addLayout(count);
    col->addWidget(c.attente);
    col->addWidget(c.progresse);
    col->addLayout(buttons);
    QObject::connect(c.an, &QPushButton::clicked, d, &QDialog::reject);
    return c;
}

ValidControls make_valid_controls(QDialog* d, int channels)
{
    ValidControls c;
    c.canal = make_spin(d, "canal", 1, channels, 1);
    c.toler = make_spin(d, "toler", 0, 20, 0);
    c.ok = make_button(d, "BitBtn1", "OK");
    c.ok->setDefault(true);
    c.annuler = make_button(d, "BitBtn2", "Annuler");
    QObject::connect(c.annuler, &QPushButton::clicked, d, &QDialog::reject);
    auto* g = c.grid = new QGridLayout(d);
    QLabel* label_canal = make_label(d, "Label1", "CHOIX DU CANAL :");
    QLabel* label_toler = make_label(d, "Label2", "Tolérance :");
    label_canal->setBuddy(c.canal);
    label_toler->setBuddy(c.toler);
    g->addWidget(label_canal, 0, 0);
    g->addWidget(c.canal, 0, 1);
    g->addWidget(label_toler, 1, 0);
    g->addWidget(c.toler, 1, 1);
    g->addWidget(c.ok, 2, 0);
    g->addWidget(c.annuler, 2, 1);
    return c;
}

} // namespace zuna
