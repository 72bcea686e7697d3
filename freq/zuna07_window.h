#pragma once
// Tzuna07 ("CALIBRE FREQUENCE"): the eight delay counts of this PC. Every
// change goes at once into zone 0 of the module memory, so the module carries
// the counts from one start to the next; "Re calib." searches a family's
// count against the mechanism plugged in; "Défaut" recomputes all of them
// from the module measurement; "Enregis." and "Lire" keep named sets in
// calib.dbf.
#include <QDialog>
#include <array>
#include <functional>

#include "freq/freq_link.h"
#include "ui/feedback.h"

class QProgressBar;
class QPushButton;
class QSpinBox;

namespace zuna {
class Shell;
class Transfer;

class Tzuna07 : public QDialog {
    Q_OBJECT
public:
    explicit Tzuna07(Shell& shell, QWidget* parent = nullptr);

    QSpinBox* spin(freq::Family f) const { return spins_[size_t(f)]; }
    // How the window tells the operator something; tests replace it.
    MessageSink message;

    void FormActivate();
    void Button5Click(); // Défaut
    void Button6Click(); // Calcul
    void Button8Click(); // Enregis.
    void Button9Click(); // Lire
    void search(freq::Family f);

protected:
    void showEvent(QShowEvent* e) override;
    void done(int result) override;

private:
    // The spin's value into its count and zone 0, then zone 0 written.
    void changed(freq::Family f);
    // Sets spins without running their handlers.
    void show_counts();
    // Writes the zone 0 image into the module; false when the port refused.
    bool write_zone0();

    Shell& shell_;
    Transfer* transfer_ = nullptr;
    std::array<QSpinBox*, freq::kFamilies> spins_{};
    std::array<QPushButton*, freq::kFamilies> search_{};
    QProgressBar* prog_nri1;
    bool activated_ = false;
    bool written_ = false;
    std::array<uint8_t, kZone0Size> last_written_{};
};

} // namespace zuna
