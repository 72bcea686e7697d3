#pragma once
// Runs one link operation on the transfer thread while its window stays live:
// the window repaints, its controls are disabled except "Arrêter", and its
// progress bar follows the operation from a timer (25 Hz), never from inside
// the link. run() returns when the operation ended, so a handler stays a
// straight line: read controls, run, show the result.
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

#include "link/progress.h"

class QProgressBar;
class QPushButton;
class QWidget;

namespace zuna {

class TransferThread;

class Transfer : public QObject {
    Q_OBJECT
public:
    // bar may be null (no progress shown); the stop button "Arrêter" is made
    // here, hidden while nothing runs: the window places it in its layout.
    Transfer(TransferThread& thread, QWidget* window, QProgressBar* bar);
    ~Transfer() override;

    QPushButton* stop_button() const { return stop_; }
    // An operation with no safe point to stop at shows no "Arrêter".
    void set_stoppable(bool on) { stoppable_ = on; }

    // Runs op on the transfer thread and returns when it ended; false, and
    // nothing run, when another operation is running.
    bool run(const std::function<void(Progress&)>& op);
    bool running() const { return running_; }
    // The operator asked the last run to stop (it ended at a safe point).
    bool stopped() const { return stopped_; }
    // Asks the running operation to stop at its next safe point.
    void request_stop();

    // Asks before a window closes during a transfer; tests replace it.
    std::function<bool(QWidget*)> confirm_close;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void poll();

    TransferThread& thread_;
    QWidget* window_;
    QPointer<QProgressBar> bar_;
    QPushButton* stop_;
    SharedProgress progress_;
    bool stoppable_ = true;
    bool running_ = false;
    bool stopped_ = false;
    bool close_after_ = false;
};

} // namespace zuna
