#include "ui/transfer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QAbstractSpinBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <exception>
#include <vector>

#include "link/transfer_thread.h"

namespace zuna {

namespace {
constexpr int kPollMs = 40; // 25 Hz: the bar moves, the link is never disturbed
}

Transfer::Transfer(TransferThread& thread, QWidget* window, QProgressBar* bar)
    : QObject(window), thread_(thread), window_(window), bar_(bar)
{
    stop_ = new QPushButton("Arrêter", window);
    stop_->setObjectName("Arreter");
    stop_->setToolTip("arrêter le transfert au prochain point sûr");
    stop_->hide();
    connect(stop_, &QPushButton::clicked, this, &Transfer::request_stop);
    confirm_close = [](QWidget* w) {
        return QMessageBox::question(w, w->windowTitle(),
                                     "Un transfert est en cours. L'arrêter et fermer la fenêtre ?") ==
               QMessageBox::Yes;
    };
    window_->installEventFilter(this);
}

Transfer::~Transfer()
{
    if (window_)
        window_->removeEventFilter(this);
}

void Transfer::request_stop()
{
    if (!running_)
        return;
    progress_.request_stop();
    stop_->setEnabled(false);
}

void Transfer::poll()
{
    if (!bar_)
        return;
    if (progress_.shown()) {
        if (bar_->maximum() != progress_.maximum())
            bar_->setRange(0, progress_.maximum());
        bar_->setValue(std::min(progress_.value(), progress_.maximum()));
        bar_->show();
    } else if (bar_->isVisible()) {
        bar_->hide();
    }
}

bool Transfer::run(const std::function<void(Progress&)>& op)
{
    if (running_ || thread_.running())
        return false;
    progress_.reset();
    stopped_ = false;
    close_after_ = false;

    // Every control that could start something else is disabled; "Arrêter" is the one left.
    std::vector<QPointer<QWidget>> disabled;
    for (QWidget* w : window_->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<QLineEdit*>(w);
        if (control && w != stop_ && w->isEnabled()) {
            w->setEnabled(false);
            disabled.emplace_back(w);
        }
    }
    stop_->setEnabled(true);
    stop_->setVisible(stoppable_);

    QEventLoop loop;
    QPointer<QEventLoop> guard(&loop);
    const bool started = thread_.start(
        [this, &op] {
            // The coin waits deep in the link see "Arrêter" through this scope.
            const StopScope scope(&progress_);
            op(progress_);
        },
                                       [guard] {
                                           // On the transfer thread: wake the window's loop.
                                           QMetaObject::invokeMethod(
                                               qApp, [guard] { if (guard) guard->quit(); }, Qt::QueuedConnection);
                                       });
    if (!started) {
        for (auto& w : disabled)
            if (w)
                w->setEnabled(true);
        stop_->hide();
        return false;
    }
    running_ = true;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, &Transfer::poll);
    timer.start(kPollMs);
    loop.exec();
    if (thread_.running()) {
        // Something else ended the loop: the program is quitting. Stop at the
        // next safe point and wait, so the port is left and released cleanly.
        progress_.request_stop();
        thread_.wait();
    }
    timer.stop();
    running_ = false;
    stopped_ = progress_.stop_requested();
    poll();
    if (bar_ && !progress_.shown())
        bar_->hide();
    stop_->hide();
    for (auto& w : disabled)
        if (w)
            w->setEnabled(true);
    if (std::exception_ptr e = thread_.take_error())
        std::rethrow_exception(e);
    if (close_after_)
        QTimer::singleShot(0, window_, [w = QPointer<QWidget>(window_)] { if (w) w->close(); });
    return true;
}

bool Transfer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != window_ || !running_)
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::Close) {
        // Closing during a transfer: ask, stop at the next safe point, close when it ended.
        event->ignore();
        if (!close_after_ && confirm_close && confirm_close(window_)) {
            close_after_ = true;
            request_stop();
        }
        return true;
    }
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
        return true; // Escape would reject the dialog under the running transfer
    return QObject::eventFilter(watched, event);
}

} // namespace zuna
