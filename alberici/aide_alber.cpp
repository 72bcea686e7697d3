#include "alberici/aide_alber.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace zuna {

Taide_alber::Taide_alber(QWidget* parent) : QDialog(parent)
{
    setObjectName("aide_alber");
    setWindowTitle("aide alberici");
    // System menu only: no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    auto* col = new QVBoxLayout(this);
    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setPixmap(QPixmap(":/alberici/aide_alber.bmp"));
    col->addWidget(Image1);
    BitBtn1 = new QPushButton("Fermer", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    col->addWidget(BitBtn1, 0, Qt::AlignHCenter);
}

void Taide_alber::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

} // namespace zuna
