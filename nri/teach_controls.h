#pragma once
// What the two NRI coin-teach dialogs share around their grid of
// measurements (the coin count, the waiting line, the progress bar with its
// transfer and "Arrêter", the LECTURE / ok / Annuler row), and the controls
// of the two VALIDATION dialogs.
#include <QString>
#include <vector>

class QDialog;
class QFrame;
class QGridLayout;
class QWidget;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace zuna {
class Shell;
class Transfer;

struct TeachControls {
    QSpinBox* nb_piece;
    QLabel* attente;
    QProgressBar* progresse;
    Transfer* transfer;
    QPushButton* lecture; // BitBtn1
    QPushButton* ok;
    QPushButton* an;      // rejects the dialog
};

// Lays the dialog out: the measurements grid, then the controls above.
TeachControls make_teach_controls(QDialog* dialog, Shell& shell, QGridLayout* measures, const QString& ok_caption);

struct ValidControls {
    QGridLayout* grid;
    QSpinBox* canal;      // 1..channels
    QSpinBox* toler;      // 0..20
    QPushButton* ok;      // BitBtn1, the default button
    QPushButton* annuler; // BitBtn2, rejects the dialog
};
ValidControls make_valid_controls(QDialog* dialog, int channels);

// A coin teach over its window (either NRI window and its teach dialog):
// the window's teach view (samples, proposal) is cleared before and after.
template <class Teach, class Window> void run_teach(Teach* teach, Window* window)
{
    if (!teach)
        return;
    window->teach_end();
    teach->set_window(window);
    teach->exec();
    teach->set_window(nullptr);
    window->teach_end();
}

// The manual adjustment panel of both NRI windows ("ajustement"): a row of
// `per_row` maxima over a row of as many minima (spins aj1.., 0..255, named
// for the reader `max_name` / `min_name` with their number), "OK" (ok) and
// "Abandon" (ab) under the last two. Panel and buttons start hidden.
struct AdjustPanel {
    QFrame* box;
    std::vector<QSpinBox*> spins; // maxima 1..per_row, then minima
    QPushButton* ok;
    QPushButton* ab;
};
AdjustPanel make_adjust_panel(QWidget* parent, int per_row, const QString& max_name, const QString& min_name);

} // namespace zuna
