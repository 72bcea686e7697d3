#pragma once
// The two dialogs of the frequency table calib.dbf, created at start-up:
// Tsauve_pc ("Sauver les fréquences") names the PC a set of counts is saved
// under; Tlire_pc ("Lire les fréquences ") lists the saved sets to choose or
// delete one.
#include <QDialog>
#include <functional>
#include <optional>

#include "store/frequency_table.h"

class QLineEdit;
class QTableWidget;

namespace zuna {
class Shell;

class Tsauve_pc : public QDialog {
    Q_OBJECT
public:
    explicit Tsauve_pc(Shell& shell, QWidget* parent = nullptr);
    // Shows the dialog; on OK appends the record (the PC name from `ap`, the
    // rest from `counts`). A refusal of the table is told and the dialog
    // stays open. True when a record was stored.
    bool save(const store::FrequencyRecord& counts);
    QLineEdit* ap() const { return ap_; }

private:
    void okClick();

    Shell& shell_;
    QLineEdit* ap_;
    store::FrequencyRecord record_;
};

class Tlire_pc : public QDialog {
    Q_OBJECT
public:
    explicit Tlire_pc(Shell& shell, QWidget* parent = nullptr);
    // Shows the saved sets; the one chosen with OK, or nothing.
    std::optional<store::FrequencyRecord> choose();
    QTableWidget* grid() const { return grid_; }
    void SupprimerClick();
    // Asks before a deletion; tests replace it.
    std::function<bool(QWidget*)> confirm_delete;

private:
    void refresh(int row);

    Shell& shell_;
    QTableWidget* grid_;
};

} // namespace zuna
