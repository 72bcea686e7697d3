#pragma once
// Answering modal dialogs from a window test, and finding a window's controls.
#include <QAbstractButton>
#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>

namespace zuna::test {

// Every button of a dialog the operator sees speaks French: an English
// standard button means the Qt translations are missing or not loaded.
inline void expect_french_buttons(QWidget* w)
{
    static const QStringList english = {"Cancel", "Yes", "No", "Yes to All", "No to All", "Abort",
                                        "Retry", "Ignore", "Close", "Apply", "Save", "Discard", "Help",
                                        "Reset", "Open", "Restore Defaults", "Don't Save", "Save All"};
    for (QAbstractButton* b : w->findChildren<QAbstractButton*>()) {
        QString text = b->text();
        text.remove('&');
        EXPECT_FALSE(english.contains(text)) << "bouton en anglais « " << text.toStdString() << " » dans "
                                             << w->windowTitle().toStdString();
    }
}

// Runs f on the modal dialog that is active once the event loop turns (the
// dialog a click is about to open with exec()).
inline void on_modal(std::function<void(QWidget*)> f)
{
    QTimer::singleShot(0, [f] {
        QWidget* w = QApplication::activeModalWidget();
        ASSERT_NE(w, nullptr);
        expect_french_buttons(w);
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
            expect_french_buttons(m);
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
