#include "ui/c_canal.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace zuna {

TC_canal::TC_canal(QWidget* parent) : QDialog(parent)
{
    setObjectName("C_canal");
    setWindowTitle("C_canal");
    // A prompt to answer, not to close: no title-bar buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* label = new QLabel("Canal :", this);
    label->setObjectName("Label1");
    canal_ = new QSpinBox(this);
    canal_->setObjectName("c");
    canal_->setRange(1, 12);
    canal_->setValue(1);
    ok_ = new QPushButton("OK", this);
    ok_->setObjectName("BitBtn1");
    ok_->setDefault(true);
    abort_ = new QPushButton("Abandon", this);
    abort_->setObjectName("BitBtn2");
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(abort_, &QPushButton::clicked, this, &QDialog::reject);

    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(canal_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok_);
    buttons->addWidget(abort_);
    auto* col = new QVBoxLayout(this);
    col->addLayout(row);
    col->addLayout(buttons);
}

int TC_canal::ask(int maximum, QWidget* over, bool* accepted)
{
    canal_->setRange(1, maximum);
    if (over)
        move(over->geometry().center() - rect().center());
    const int result = exec();
    if (accepted)
        *accepted = result == QDialog::Accepted;
    return canal_->value();
}

} // namespace zuna
