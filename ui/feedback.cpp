#include "ui/feedback.h"

#include <QMessageBox>
#include <QProgressBar>

namespace zuna {

void BarProgress::start(int maximum)
{
    bar_->setRange(0, maximum);
    bar_->setValue(0);
    bar_->show();
    bar_->repaint();
}

void BarProgress::step()
{
    bar_->setValue(bar_->value() + 1);
    bar_->repaint();
}

void BarProgress::finish() { bar_->hide(); }

MessageSink default_sink(QWidget* parent, const QString& caption)
{
    return [parent, caption](const QString& text) { QMessageBox::warning(parent, caption, text); };
}

MessageSink info_sink(QWidget* parent, const QString& caption)
{
    return [parent, caption](const QString& text) { QMessageBox::information(parent, caption, text); };
}

bool delay_usable(int32_t delay, const char* family, const MessageSink& tell)
{
    if (delay >= 1)
        return true;
    tell(QString("Le compte de délai %1 vaut %2 : il faut le calibrer (ZUNA07) avant de dialoguer avec le monayeur.")
             .arg(family)
             .arg(delay));
    return false;
}

} // namespace zuna
