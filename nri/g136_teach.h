#pragma once
// Coin teach for the NRI G13.6000: Tcalibration_nri_g136 collects the
// largest and smallest of the sixteen measurements "A" to "P" over a number
// of coins; Tvalid_nri_g136 writes one channel from them, each pair taking
// the measurement its selector (the window's r-labels) names, widened by a
// tolerance. Both are created at start-up and reused.
#include <QDialog>
#include <array>

#include "nri/g136_link.h"

class QGridLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace zuna {
class Shell;
class Tnrig1360000;
class Transfer;

class Tvalid_nri_g136 : public QDialog {
    Q_OBJECT
public:
    explicit Tvalid_nri_g136(QWidget* parent = nullptr);
    // The extremes the OK button writes, and the window that writes them.
    void prepare(Tnrig1360000* window, const nri::g136::Measures& largest, const nri::g136::Measures& smallest);
    void BitBtn1Click();
    Transfer* transfer() const { return transfer_; }

private:
    void propose(); // tells the window the channel this would write
    Tnrig1360000* window_ = nullptr;
    Transfer* transfer_ = nullptr; // made with the first window prepared
    QGridLayout* grid_;
    nri::g136::Measures largest_{};
    nri::g136::Measures smallest_{};
    QSpinBox* canal;
    QSpinBox* toler;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
};

class Tcalibration_nri_g136 : public QDialog {
    Q_OBJECT
public:
    Tcalibration_nri_g136(Shell& shell, QWidget* parent = nullptr);
    void set_window(Tnrig1360000* window) { window_ = window; }

    void FormActivate();
    void BitBtn1Click(); // LECTURE: collect
    void okClick();

    nri::g136::Measures largest() const;
    nri::g136::Measures smallest() const;
    Transfer* transfer() const { return transfer_; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    Shell& shell_;
    Tnrig1360000* window_ = nullptr;
    std::array<QLabel*, 16> m_{};
    std::array<QLabel*, 16> b_{};
    std::array<QLabel*, 16> d_{};
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
