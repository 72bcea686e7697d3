#pragma once
// What the two NRI coin-teach dialogs share around their grid of
// measurements: the coin count, the waiting line, the progress bar with its
// transfer and "Arrêter", and the LECTURE / ok / Annuler row.
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

} // namespace zuna
