#pragma once
// The channel-number prompt shared by the programmer windows: one spin edit
// "Canal :" whose range the caller sets before showing it.
#include <QDialog>

class QSpinBox;
class QPushButton;

namespace zuna {

class TC_canal : public QDialog {
    Q_OBJECT
public:
    explicit TC_canal(QWidget* parent = nullptr);
    QSpinBox* canal() const { return canal_; }
    // Sets the range 1..maximum, shows the prompt modally and returns the
    // channel shown when it closed; *accepted (optional) tells whether it
    // closed with OK.
    int ask(int maximum, QWidget* over = nullptr, bool* accepted = nullptr);

private:
    QSpinBox* canal_;
    QPushButton* ok_;
    QPushButton* abort_;
};

} // namespace zuna
