#pragma once
// What the two NRI coin-teach dialogs share around their grid of
// measurements (the coin count, the waiting line, the progress bar with its
// transfer and "Arrêter", the LECTURE / ok / Annuler row), and the controls
// of the two VALIDATION dialogs.
#include <QString>

class QDialog;
class QGridLayout;
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

} // namespace zuna
