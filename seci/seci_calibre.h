#pragma once
// SeciCalibre ("CALIBRATION"): teaches a SECI mechanism a coin; Tcalibre_rm3
// and Tcalibre_rm4 are its two layouts. Samples the same coin several times,
// keeps each reading's largest and smallest value, widens the chosen
// readings by a tolerance and writes them into one channel, shown in the
// editor window. Created once at start-up: its spins and radio buttons keep
// their state from one opening to the next, the readings do not.
#include <QDialog>
#include <array>
#include <optional>
#include <vector>

#include "seci/seci_link.h"
#include "seci/seci_settings.h"

class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QGroupBox;
class QProgressBar;

namespace zuna {
class Shell;
class Transfer;
class SeciWindow;

struct CalibreLayout {
    const seci::Family* family;
    const char* object_name;
    int columns;          // 6 / 7 (the "+" reading)
    int sensor_top;       // largest sensor bound written: 5519 / 255
    const char* abort;    // caption of the abort button
};

class SeciCalibre : public QDialog {
    Q_OBJECT
public:
    SeciCalibre(Shell& shell, const CalibreLayout& layout, QWidget* parent);

    // The editor window that opened it (null while closed).
    void set_window(SeciWindow* w) { window_ = w; }
    SeciWindow* window() const { return window_; }

    // The coins sampled since the last "LECTURE" and the record the
    // programming would write with the chosen readings and tolerance.
    seci::Record proposed() const;
    seci::Teach teach() const;

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
    void refresh_view();
    seci::Line line();

    Shell& shell_;
    CalibreLayout lay_;
    SeciWindow* window_ = nullptr;
    Transfer* transfer_ = nullptr;
    int start_char_ = 1; // the channel of the last programming (RM3)
    std::vector<seci::Record> samples_;
    std::array<QLabel*, 7> m_{};
    std::array<QLabel*, 7> b_{};
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

class Tcalibre_rm3 : public SeciCalibre {
    Q_OBJECT
public:
    explicit Tcalibre_rm3(Shell& shell, QWidget* parent = nullptr);
};

class Tcalibre_rm4 : public SeciCalibre {
    Q_OBJECT
public:
    explicit Tcalibre_rm4(Shell& shell, QWidget* parent = nullptr);
};

} // namespace zuna
