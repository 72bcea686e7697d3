#pragma once
// Answering modal dialogs from a window test, and finding a window's controls.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>

namespace zuna::test {

// Runs f on the modal dialog that is active once the event loop turns (the
// dialog a click is about to open with exec()).
inline void on_modal(std::function<void(QWidget*)> f)
{
    QTimer::singleShot(0, [f] {
        QWidget* w = QApplication::activeModalWidget();
        ASSERT_NE(w, nullptr);
        f(w);
    });
}

// Runs answer on the first modal dialog, other than the current one, that
// shows up while action runs.
inline void with_modal(const std::function<void(QWidget*)>& answer, const std::function<void()>& action)
{
    QTimer t;
    bool done = false;
    QWidget* start = QApplication::activeModalWidget();
    QObject::connect(&t, &QTimer::timeout, [&] {
        QWidget* m = QApplication::activeModalWidget();
        if (!done && m && m != start) {
            done = true;
            answer(m);
        }
    });
    t.start(5);
    action();
    t.stop();
}

template <class T> T* child(QWidget* w, const char* name)
{
    T* c = w->findChild<T*>(name);
    EXPECT_NE(c, nullptr) << name;
    return c;
}

} // namespace zuna::test
