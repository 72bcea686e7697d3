#pragma once
// Tcalibrate: teaches a coin by passing samples through the C120 and keeping
// the highest and lowest value seen of each measurement; its OK goes on to
// the validation Tvalid_c120, which writes the widened windows.
#include <QDialog>
#include <array>

#include "c120/c120_ui.h"

class QLabel;
class QPushButton;
class QSpinBox;

namespace zuna {
class Shell;

class Tcalibrate : public QDialog {
    Q_OBJECT
public:
    explicit Tcalibrate(Shell& shell, QWidget* parent = nullptr);

    c120::MessageSink show_message;

    void FormActivate();
    void BitBtn1Click(); // LECTURE: pass the coins
    void okClick();

    std::array<int, 3> highest() const;
    std::array<int, 3> lowest() const;

protected:
    void showEvent(QShowEvent* e) override;

private:
    Shell& shell_;
    std::array<QLabel*, 3> m_{};
    std::array<QLabel*, 3> b_{};
    QSpinBox* nb_piece;
    QPushButton* BitBtn1;
    QPushButton* ok;
    QPushButton* ab;
};

// Tvalid_c120: the channel and tolerance a taught coin is written with.
class Tvalid_c120 : public QDialog {
    Q_OBJECT
public:
    explicit Tvalid_c120(Shell& shell, QWidget* parent = nullptr);

    c120::MessageSink show_message;

    // The values of the teach the next OK writes.
    void set_teach(const std::array<int, 3>& highest, const std::array<int, 3>& lowest);
    void BitBtn1Click();

private:
    Shell& shell_;
    QSpinBox* canal;
    QSpinBox* toler;
    std::array<int, 3> m_{};
    std::array<int, 3> b_{255, 255, 255};
};

} // namespace zuna
