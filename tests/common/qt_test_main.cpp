#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

#include "app/station_main.h"
#include "link/transfer_thread.h"

namespace {

// A modal dialog that nobody answers would block its exec() for ever. The
// watchdog rejects any modal that stays the active one for too long, and the
// running test fails naming it.
class ModalWatchdog {
public:
    explicit ModalWatchdog(int limit_ms) : limit_ms_(limit_ms)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { check(); });
        timer_.start(kStepMs);
    }

private:
    static constexpr int kStepMs = 100;

    void check()
    {
        QWidget* m = QApplication::activeModalWidget();
        // A window waiting for its transfer is busy, not forgotten.
        if (zuna::TransferThread::active() > 0)
            m = nullptr;
        if (m != seen_) {
            seen_ = m;
            open_ms_ = 0;
            return;
        }
        if (!m || (open_ms_ += kStepMs) < limit_ms_)
            return;
        ADD_FAILURE() << "modal window left open " << limit_ms_ / 1000.0 << " s, closed by the watchdog: "
                      << m->metaObject()->className() << " « " << m->windowTitle().toStdString() << " » ("
                      << m->objectName().toStdString() << ")";
        seen_ = nullptr;
        open_ms_ = 0;
        if (auto* d = qobject_cast<QDialog*>(m))
            d->reject();
        else
            m->close();
    }

    QTimer timer_;
    QPointer<QWidget> seen_;
    int open_ms_ = 0;
    int limit_ms_;
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    ::testing::InitGoogleTest(&argc, argv);
    zuna::set_french_environment(); // Qt's formats and file dialogs in French, as the program has them
    QApplication app(argc, argv);
    // The tests see the dialogs as the operator does: in French.
    if (!zuna::install_french(app)) {
        std::fprintf(stderr, "Qt's French translations are missing (qt6-translations-l10n).\n");
        return 1;
    }
    const char* limit = std::getenv("ZUNA_MODAL_LIMIT_MS");
    ModalWatchdog watchdog(limit ? std::atoi(limit) : 5000);
    return RUN_ALL_TESTS();
}
