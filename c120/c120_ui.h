#pragma once
// Pieces the C120 and C220B windows share: the operator messages of the
// link results, the highlighting of a window pair.
#include <QLabel>
#include <QString>
#include <functional>

#include "c120/c120_link.h"
#include "ui/feedback.h"

namespace zuna::c120 {

// Transfers on a delay count below 1 are refused (ui/feedback.h).
using zuna::delay_usable;
// The image must hold a whole read before anything is written: the checksum
// word is computed over it.
bool image_usable(const Station& s, const MessageSink& tell);
// The same before a coin teach, whose validation writes the channel: told
// before the coins are passed.
bool teach_usable(const Station& s, const MessageSink& tell);
// Message for words that could not all be written and verified (empty when they were).
QString write_message(const WriteOutcome& o);
// Message for a read that is not whole (empty when it is).
QString read_message(const ReadResult& r);
// Message for a teach the operator stopped (empty when it was not).
QString teach_message(const TeachResult& t, int coins);

// Paints both labels yellow when lower <= v <= upper (texts read as
// integers), else in the button-face colour.
void highlight(QLabel* upper, QLabel* lower, int v);
bool highlighted(const QLabel* l);

// Reads a label text as an integer (0 when it is not one).
int label_int(const QLabel* l);

} // namespace zuna::c120
