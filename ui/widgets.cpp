#include "ui/widgets.h"

#include <QFrame>
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

} // namespace zuna
