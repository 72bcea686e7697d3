#pragma once
// TRM3: the SECI RM3 window. Reads the six channels, tests a coin, adjusts a
// channel by hand, edits outputs, empties a channel, stores and programs
// models, opens the calibration. Every link operation runs on the transfer
// thread through `Transfer`; what the grid shows is what the mechanism was
// last read or read back to hold.
#include <QDialog>
#include <array>
#include <optional>

#include "seci/rm3_link.h"
#include "store/model_library.h"
#include "ui/feedback.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace zuna {
class Shell;
class Transfer;

class TRM3 : public QDialog {
    Q_OBJECT
public:
    explicit TRM3(Shell& shell, QWidget* parent = nullptr);

    MessageSink show_message;

    Station& station();
    Shell& shell() { return shell_; }
    // Shows channel n (1..6) from a record the mechanism holds.
    void show_channel(int n, const seci::Rm3Record& r);
    // Channel n as last read (nothing when unread since the window opened).
    const std::optional<seci::Rm3Record>& held(int n) const { return held_[size_t(n - 1)]; }
    // Tells the outcome of a write: false, and a French message, when it was
    // not confirmed; the grid then shows what the read-back gave, if anything.
    bool report_write(int n, const seci::WriteResult& w);

    QLabel* cell(int n, int k) const { return c_[size_t(n - 1)][size_t(k - 1)]; }
    QLabel* output_label(int n) const { return s_[size_t(n - 1)]; }
    QLabel* reading(int k) const { return vp_[size_t(k - 1)]; }
    bool lit(int n, int k) const;
    Transfer* transfer() const { return transfer_; }

    void init();
    void Button1Click(); // LECTURE
    void Button4Click(); // Test
    void Button5Click(); // Calib. Piece
    void Button6Click(); // AJUST
    void okClick();
    void abClick();
    void Button8Click(); // Sorties
    void oksClick();
    void absClick();
    void Button7Click(); // Vider
    void BitBtn5Click();
    void BitBtn6Click();
    void Button2Click(); // Enr. Modèle
    void BitBtn1Click();
    void BitBtn2Click();
    void Button3Click(); // Voir modèle
    void BitBtn3Click();
    void BitBtn4Click();

protected:
    void showEvent(QShowEvent* e) override;

private:
    void build();
    void hide_work_panels();
    void clear_channel(int n, const QString& value_text);
    void test(const seci::Rm3Record& coin);
    seci::Line line();

    Shell& shell_;
    Transfer* transfer_ = nullptr;
    bool initialised_ = false;
    std::array<std::optional<seci::Rm3Record>, 6> held_{};
    std::array<int, 6> flag_copy_{};
    int adjust_channel_ = 0;
    int pending_flags_ = 0;
    int pending_output_ = 0;
    std::array<int, 6> outputs_shown_{};
    std::optional<store::ModelRecord> model_;

    std::array<std::array<QLabel*, 6>, 6> c_{};
    std::array<QLabel*, 6> s_{};
    std::array<QSpinBox*, 6> cs_{};
    std::array<QLabel*, 6> vp_{};
    std::array<QSpinBox*, 6> aj_{};
    QPushButton *Button1, *Button2, *Button3, *Button4, *Button5, *Button6, *Button7, *Button8;
    QProgressBar* progresse;
    QGroupBox* v_p;
    QFrame* ajustement;
    QPushButton *ok, *ab, *oks, *abs;
    QGroupBox* vide_can;
    QSpinBox* can_v;
    QPushButton *BitBtn5, *BitBtn6;
    QGroupBox* choix_c;
    QSpinBox* canal;
    QLineEdit* piece;
    QPushButton *BitBtn1, *BitBtn2;
    QGroupBox* vers_c;
    QLabel* f_p;
    QSpinBox* canal_v;
    QPushButton *BitBtn3, *BitBtn4;
};

} // namespace zuna
