#pragma once
// Coin teach for the NRI G13.0000: Tcalibration_nri_g13 collects the largest
// and smallest of each measurement over a number of coins; TValid_nri_g13
// writes them, widened by a tolerance, into one channel through the open
// G13.0000 window. Both are created at start-up and reused.
#include <QDialog>
#include <array>

class QGridLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace zuna {
class Shell;
class Tnrig130000;
class Transfer;

class TValid_nri_g13 : public QDialog {
    Q_OBJECT
public:
    explicit TValid_nri_g13(QWidget* parent = nullptr);
    // The teach values the OK button writes, and the window that writes them.
    void prepare(Tnrig130000* window, const std::array<int, 4>& largest, const std::array<int, 4>& smallest);
    void BitBtn1Click();

    // Channel limits from the extremes and the tolerance, each limited to 0..255.
    static std::array<int, 4> maxima(const std::array<int, 4>& largest, int tolerance);
    static std::array<int, 4> minima(const std::array<int, 4>& smallest, int tolerance);

    Transfer* transfer() const { return transfer_; }

private:
    Tnrig130000* window_ = nullptr;
    Transfer* transfer_ = nullptr; // made with the first window prepared
    QGridLayout* grid_;
    std::array<int, 4> largest_{};
    std::array<int, 4> smallest_{};
    QSpinBox* canal;
    QSpinBox* toler;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
};

class Tcalibration_nri_g13 : public QDialog {
    Q_OBJECT
public:
    Tcalibration_nri_g13(Shell& shell, QWidget* parent = nullptr);
    void set_window(Tnrig130000* window) { window_ = window; }

    void FormActivate();
    void BitBtn1Click(); // LECTURE: collect
    void okClick();

    std::array<int, 4> largest() const;
    std::array<int, 4> smallest() const;
    Transfer* transfer() const { return transfer_; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    Shell& shell_;
    Tnrig130000* window_ = nullptr;
    std::array<QLabel*, 4> m_{};
    std::array<QLabel*, 4> b_{};
    std::array<QLabel*, 4> d_{};
    QLabel* attente;
    QProgressBar* progresse;
    Transfer* transfer_;
    QSpinBox* nb_piece;
    QPushButton* BitBtn1;
    QPushButton* ok;
    QPushButton* an;
    int measured_ = 0; // coins measured since the window became active
};

} // namespace zuna
