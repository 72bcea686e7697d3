#pragma once
// Tcalibre_rm3 ("CALIBRATION"): teaches the RM3 a coin. Samples the same coin
// several times, keeps each reading's largest and smallest value, widens the
// chosen readings by a tolerance and writes them into one channel, shown in
// the RM3 window. Created once at start-up: its spins and radio buttons keep
// their state from one opening to the next, the readings do not.
#include <QDialog>
#include <array>
#include <optional>
#include <vector>

#include "seci/rm3_link.h"

class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QGroupBox;
class QProgressBar;

namespace zuna {
class Shell;
class Transfer;
class TRM3;

class Tcalibre_rm3 : public QDialog {
    Q_OBJECT
public:
    explicit Tcalibre_rm3(Shell& shell, QWidget* parent = nullptr);

    // The RM3 window that opened it (null while closed).
    void set_window(TRM3* w) { window_ = w; }

    QLabel* maximum(int k) const { return m_[size_t(k - 1)]; }
    QLabel* minimum(int k) const { return b_[size_t(k - 1)]; }
    QRadioButton* choice(int k) const { return c_[size_t(k - 1)]; }
    // The flag nibble of the radio choice.
    int flags() const;

    void FormActivate();
    void BitBtn1Click(); // LECTURE
    void okClick();
    void abClick();
    void BitBtn2Click(); // program the channel

protected:
    void showEvent(QShowEvent* e) override;

private:
    void message(const QString& text);

    Shell& shell_;
    TRM3* window_ = nullptr;
    Transfer* transfer_ = nullptr;
    int start_char_ = 1; // the channel of the last programming
    std::array<QLabel*, 6> m_{};
    std::array<QLabel*, 6> b_{};
    std::array<QRadioButton*, 6> c_{};
    QSpinBox* nb_piece;
    QPushButton* BitBtn1;
    QPushButton *ok, *ab;
    QLabel* Tole;
    QSpinBox* toler;
    QGroupBox* p;
    QSpinBox* can;
    QPushButton* BitBtn2;
    QProgressBar* bar_;
};

} // namespace zuna
