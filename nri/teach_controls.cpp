#include "nri/teach_controls.h"

#include <QDialog>
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

} // namespace zuna
