#pragma once
// How a window shows a link operation's progress and tells the operator
// something; shared by every programmer window.
#include <QString>
#include <cstdint>
#include <functional>

#include "link/progress.h"

class QProgressBar;
class QWidget;

namespace zuna {

// Feeds a window's progress bar from a link operation.
class BarProgress : public Progress {
public:
    explicit BarProgress(QProgressBar* bar) : bar_(bar) {}
    void start(int maximum) override;
    void step() override;
    void finish() override;

private:
    QProgressBar* bar_;
};

// How a window tells the operator something (tests replace it).
using MessageSink = std::function<void(const QString&)>;
// A warning box over parent with the given caption.
MessageSink default_sink(QWidget* parent, const QString& caption);
// An information box: what went as asked (a file written) is no warning.
MessageSink info_sink(QWidget* parent, const QString& caption);

// Transfers on a delay count below 1 are refused, with one message for every
// family: a count of 0 divides the recorded reads by zero, a negative one
// sends nothing at all.
bool delay_usable(int32_t delay, const char* family, const MessageSink& tell);

} // namespace zuna
