#pragma once
// Tc_120, the C120 editor window: the twelve channels (three acceptance
// windows and an output each), read, coin test, coin teach, hand edit of a
// channel, outputs, models. Every transfer is a c120 link operation on the
// station; the window reads its controls and writes them back.
#include <QDialog>
#include <array>
#include <optional>

#include "c120/c120_memory.h"
#include "c120/c120_ui.h"
#include "store/model_library.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QToolButton;
class QFrame;

namespace zuna {
class Shell;

class Tc_120 : public QDialog {
    Q_OBJECT
public:
    explicit Tc_120(Shell& shell, QWidget* parent = nullptr);

    c120::MessageSink show_message;

    // Label of channel c (1..12), column 1..7.
    QLabel* cell(int c, int column) const { return c_[c - 1][column - 1]; }

    void FormActivate();
    void Button1Click(); // coin teach
    void Button2Click(); // test
    void Button3Click(); // AJUST
    void Button4Click(); // SORTIES
    void Button5Click(); // Lecture
    void Button6Click(); // store a model
    void Button7Click(); // load a model
    void okClick();
    void abClick();
    void cc_okClick();
    void cc_abClick();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void SpeedButton1Click();

    // Shows the image in the table (nothing when its valid flag is 0).
    void lit_mem_mech();

    void done(int r) override;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void init_c();
    void highlight_all(int p1, int p2, int p3);
    bool ready();
    // Reports a write that could not be verified; true when all went well.
    bool report(const c120::WriteOutcome& o);
    void show_unknown();

    Shell& shell_;
    Station& s_;
    std::array<std::array<QLabel*, 7>, 12> c_{};
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button4;
    QPushButton* Button5;
    QPushButton* Button6;
    QPushButton* Button7;
    QToolButton* SpeedButton1;
    QProgressBar* progresse;
    QFrame* teste;
    QLabel* t1;
    QLabel* t2;
    QLabel* t3;
    QFrame* ajust;
    std::array<QSpinBox*, 6> l_{};
    QPushButton* ok;
    QPushButton* ab;
    std::array<QSpinBox*, 12> cc_{};
    QPushButton* cc_ok;
    QPushButton* cc_ab;
    QFrame* choix_c;
    QSpinBox* canal;
    QLineEdit* piece;
    QFrame* vers_c;
    QLabel* f_p;
    QSpinBox* canal_v;
    std::optional<store::ModelRecord> model_;
    int ajust_channel_ = 1;
    bool closed_ = false;
};

} // namespace zuna
