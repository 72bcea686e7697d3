#pragma once
// Tcalibre_c220_o ("CALIBRATION"): finds the three acceptance windows of one
// C220 channel from a sample coin by successive approximation (eight passes
// per window, each a coin test on a candidate low limit), keeps several
// coins' windows with "Garder valeur" and writes them. Works through the open
// C220 window's link; created once at start-up.
#include <QDialog>
#include <array>
#include <optional>

#include "c220/c220_link.h"
#include "settings/bands.h"

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace zuna {
class Shell;
class Transfer;
class TC220_o;

// One pass of the window search: the candidate and step after a verdict.
struct Search {
    int x = 128;
    int s = 64;
    int f = 0;
    int zeros = 0; // times s reached 0
    // Applies the verdict of a pass (accepted in the target channel or not);
    // false once this was the window's last pass.
    bool pass(bool accepted);
};

class Tcalibre_c220_o : public QDialog {
    Q_OBJECT
public:
    explicit Tcalibre_c220_o(Shell& shell, QWidget* parent = nullptr);

    void set_window(TC220_o* w) { window_ = w; }

    QLabel* m(int i) const { return m_[size_t(i - 1)]; }
    QLabel* va(int i) const { return va_[size_t(i - 1)]; }
    QLabel* verdict() const { return L1; }
    QSpinBox* channel() const { return canal; }
    QSpinBox* tolerance() const { return toler; }
    // Every candidate low limit written during the last measurement, in order, per window.
    const std::array<std::vector<int>, 3>& candidates() const { return candidates_; }
    // The coins measured since the window was shown (the three centres
    // found), and the windows "Garder valeur" holds or, before it, those of
    // the last coin with the tolerance: what the "Graphique" view draws.
    const std::vector<std::vector<int>>& samples() const { return samples_; }
    std::optional<std::vector<settings::Band>> proposed() const;

    void FormActivate();
    void BitBtn1Click(); // LECTURE: the measurement
    void BitBtn2Click(); // Garder valeur
    void ok2Click();

    void done(int r) override;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void message(const QString& text);
    bool write(int c, const std::array<uint8_t, 6>& p);
    std::array<uint8_t, 6> candidate(int k, int x) const;
    std::array<uint8_t, 6> kept_windows() const;

    Shell& shell_;
    TC220_o* window_ = nullptr;
    Transfer* transfer_ = nullptr;
    std::array<int, 3> kl_{255, 255, 255};
    std::array<int, 3> kh_{0, 0, 0};
    bool flag_ = false;  // something measured or kept since the window was shown
    bool kept_ = false;  // "Garder valeur" took values
    bool written_ = false;
    std::optional<bool> kept_allowed_; // the overlap answer for the kept windows, asked by "ok"
    std::array<bool, 3> found_{}; // window measured and accepted at least once
    std::optional<std::array<uint8_t, 6>> saved_; // the channel before the first candidate
    int saved_channel_ = 0;
    std::array<std::vector<int>, 3> candidates_;
    std::vector<std::vector<int>> samples_;

    QLabel* L1;
    QSpinBox* canal;
    QLabel* Label2;
    QSpinBox* toler;
    QPushButton* BitBtn1;
    QPushButton* ok;
    std::array<QLabel*, 9> m_{};
    QPushButton* BitBtn2;
    QGroupBox* finals;
    std::array<QLabel*, 6> va_{};
    QPushButton* ok2;
    QProgressBar* bar_;
};

} // namespace zuna
