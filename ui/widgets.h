#pragma once
// Controls as every window makes them: named (the names are the ones tests
// and the behaviour use), buttons that Enter never presses by accident (a
// window's Enter commits a spin edit, it does not start a transfer).
#include <QString>
#include <Qt>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QWidget;

namespace zuna {
class Shell;

QLabel* make_label(QWidget* parent, const QString& name, const QString& text, Qt::Alignment align = {});
QPushButton* make_button(QWidget* parent, const QString& name, const QString& text, const QString& hint = {});
QSpinBox* make_spin(QWidget* parent, const QString& name, int lo, int hi, int value);
// A raised panel, hidden until the window shows it; yellow when asked.
QFrame* make_panel(QWidget* parent, const QString& name, bool yellow);
// The coin name of "Enr. Modèle" ("piece", at most 15 characters): typed
// letters become the capitals the model table can hold.
QLineEdit* make_coin_name(Shell& shell, QWidget* parent);

// "Enr. Modèle": the channel and coin name of a model to store, panel
// "choix_c" ("CANAL :" canal, "Piéce" piece, BitBtn1 "OK", BitBtn2
// "Abandon"), hidden. capitals: a yellow panel whose coin name is typed in
// capitals the table can hold, "PIECE" at first; otherwise a plain panel and
// a free name.
struct StorePanel {
    QFrame* box;
    QSpinBox* canal;
    QLineEdit* piece;
    QPushButton* ok;
    QPushButton* abandon;
};
StorePanel make_store_panel(Shell& shell, QWidget* parent, int channels, bool capitals);

// "Voir modèle": the model's coin name and the channel it goes to, panel
// "vers_c" (f_p, "Vers", "CANAL :" canal_v, BitBtn3 "OK", BitBtn4
// "Abandon"), hidden.
struct ModelPanel {
    QFrame* box;
    QLabel* f_p;
    QSpinBox* canal_v;
    QPushButton* ok;
    QPushButton* abandon;
};
ModelPanel make_model_panel(QWidget* parent, int channels, bool yellow);

} // namespace zuna
