#include "ui/widgets.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QSpinBox>

#include "store/model_ui.h"

namespace zuna {

QLabel* make_label(QWidget* parent, const QString& name, const QString& text, Qt::Alignment align)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    if (align)
        l->setAlignment(align);
    return l;
}

QPushButton* make_button(QWidget* parent, const QString& name, const QString& text, const QString& hint)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    if (!hint.isEmpty())
        b->setToolTip(hint);
    return b;
}

QSpinBox* make_spin(QWidget* parent, const QString& name, int lo, int hi, int value)
{
    auto* s = new QSpinBox(parent);
    s->setObjectName(name);
    s->setRange(lo, hi);
    s->setValue(value);
    return s;
}

QFrame* make_panel(QWidget* parent, const QString& name, bool yellow)
{
    auto* f = new QFrame(parent);
    f->setObjectName(name);
    f->setFrameShape(QFrame::Panel);
    f->setFrameShadow(QFrame::Raised);
    if (yellow) {
        f->setAutoFillBackground(true);
        QPalette p = f->palette();
        p.setColor(QPalette::Window, Qt::yellow);
        f->setPalette(p);
    }
    f->hide();
    return f;
}

QLineEdit* make_coin_name(Shell& shell, QWidget* parent)
{
    auto* piece = new QLineEdit("PIECE", parent);
    piece->setObjectName("piece");
    piece->setMaxLength(15);
    QObject::connect(piece, &QLineEdit::textEdited, piece, [&shell, piece](const QString& t) {
        const int pos = piece->cursorPosition();
        piece->setText(store::upper_name(shell, t));
        piece->setCursorPosition(pos);
    });
    return piece;
}

StorePanel make_store_panel(Shell& shell, QWidget* parent, int channels, bool capitals)
{
    StorePanel p;
    p.box = make_panel(parent, "choix_c", capitals);
    p.canal = make_spin(p.box, "canal", 1, channels, 1);
    if (capitals) {
        p.piece = make_coin_name(shell, p.box);
    } else {
        p.piece = new QLineEdit(p.box);
        p.piece->setObjectName("piece");
        p.piece->setMaxLength(15);
    }
    p.ok = make_button(p.box, "BitBtn1", "OK");
    p.abandon = make_button(p.box, "BitBtn2", "Abandon");
    auto* l = new QHBoxLayout(p.box);
    l->addWidget(new QLabel("CANAL :", p.box));
    l->addWidget(p.canal);
    l->addWidget(new QLabel("Piéce", p.box));
    l->addWidget(p.piece);
    l->addWidget(p.ok);
    l->addWidget(p.abandon);
    return p;
}

ModelPanel make_model_panel(QWidget* parent, int channels, bool yellow)
{
    ModelPanel p;
    p.box = make_panel(parent, "vers_c", yellow);
    p.f_p = make_label(p.box, "f_p", "");
    p.canal_v = make_spin(p.box, "canal_v", 1, channels, 1);
    p.ok = make_button(p.box, "BitBtn3", "OK");
    p.abandon = make_button(p.box, "BitBtn4", "Abandon");
    auto* l = new QHBoxLayout(p.box);
    l->addWidget(p.f_p);
    l->addWidget(new QLabel("Vers", p.box));
    l->addWidget(new QLabel("CANAL :", p.box));
    l->addWidget(p.canal_v);
    l->addWidget(p.ok);
    l->addWidget(p.abandon);
    return p;
}

} // namespace zuna
