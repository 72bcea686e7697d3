#pragma once
// SeciWindow: the SECI editor window, TRM3 and Trm4 being its two layouts.
// Reads the channels, tests a coin, adjusts a channel by hand, edits
// outputs, empties a channel, stores and programs models, opens the
// calibration. Every link operation runs on the transfer thread through
// `Transfer`; what the grid shows is what the mechanism was last read or
// read back to hold.
#include <QDialog>
#include <array>
#include <optional>

#include "seci/seci_link.h"
#include "settings/bands.h"
#include "store/model_library.h"
#include "ui/band_view.h"
#include "ui/feedback.h"
#include "ui/sheet.h"

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
class SeciCalibre;
class SettingsPanel;
class ViewButtons;

// What tells the two windows apart besides their family.
struct SeciLayout {
    const seci::Family* family;
    const char* object_name;        // "RM3" / "rm4"
    const char* title;              // "SECI RM3" / "SECI RM4"
    const char* type_code;          // model TYPE: "RM3" / "rm4"
    std::array<int, 8> aj_top;      // maximum of aj1..aj8
    std::array<const char*, 12> row_names; // object names of the row titles
    const char* second_title;       // column titles of the second half
    int zero_output;                // what output "0" is written as: 8 / 0
    bool plus_pair;                 // values 6 and 7 shown as the "+" pair
    bool reread_after_calibration;  // the whole read when the calibration closes
};

class SeciWindow : public QDialog {
    Q_OBJECT
public:
    SeciWindow(Shell& shell, const SeciLayout& layout, QWidget* parent);

    MessageSink show_message;
    // Asked before a write of windows that would overlap another channel;
    // tests replace it.
    OverlapAsk ask_overlap;

    Station& station();
    Shell& shell() { return shell_; }
    const SeciLayout& layout() const { return lay_; }
    const seci::Family& family() const { return *lay_.family; }
    seci::Line line();
    // The family's delay count is usable (at least 1); otherwise the operator is told and nothing is sent.
    bool ready();
    // Shows channel n from a record the mechanism holds.
    void show_channel(int n, const seci::Record& r);
    // Channel n as last read (nothing when unread since the window opened).
    const std::optional<seci::Record>& held(int n) const { return held_[size_t(n - 1)]; }
    // Tells the outcome of a write: false, and a French message, when it was
    // not confirmed; the grid then shows what the read-back gave, if anything.
    bool report_write(int n, const seci::WriteResult& w);
    // Before a write to channel n of a window that has read nothing: channel
    // n is read, and only a whole record of the family lets the write go
    // (another family's mechanism would take the record as other commands).
    bool identified(int n);

    QLabel* cell(int n, int k) const { return c_[size_t(n - 1)][size_t(k - 1)]; }
    QLabel* output_label(int n) const { return s_[size_t(n - 1)]; }
    QLabel* reading(int k) const { return vp_[size_t(k - 1)]; }
    bool lit(int n, int k) const;
    Transfer* transfer() const { return transfer_; }
    SettingsPanel* settings_panel() const { return settings_; }
    ViewButtons* views() const { return views_; }

    // The channels as last read, the last tested coin and a calibration in
    // progress, as the "Graphique" view draws them.
    settings::BandSet bands();
    // The channel table as shown, for "Fiche de réglage".
    Sheet sheet() const;
    // Whether channel n may take r's windows: asks when they would overlap
    // another channel as last read. false: nothing is to be written.
    bool overlap_allowed(int n, const seci::Record& r);

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
    // The family's calibration window.
    virtual SeciCalibre* calibration() = 0;

private:
    void build();
    void hide_work_panels();
    void clear_channel(int n, const QString& value_text);
    void test(const std::optional<seci::Record>& coin);
    int channels() const { return lay_.family->channels; }
    int values() const { return lay_.family->values; }
    // The label (1-based) that shows value v (0-based): top row the even values.
    int label_of(int v) const { return v % 2 == 0 ? v / 2 + 1 : values() / 2 + v / 2 + 1; }
    QString output_text(int output) const;
    QString record_text(const seci::Record& r) const;

    Shell& shell_;
    SeciLayout lay_;
    Transfer* transfer_ = nullptr;
    bool initialised_ = false;
    std::array<std::optional<seci::Record>, seci::kMaxChannels> held_{};
    std::array<int, seci::kMaxChannels> flag_copy_{};
    int adjust_channel_ = 0;
    int pending_flags_ = 0;
    int pending_output_ = 0;
    std::array<int, seci::kMaxChannels> outputs_shown_{};
    std::optional<store::ModelRecord> model_;
    std::optional<seci::Record> coin_; // the last tested coin
    SettingsPanel* settings_ = nullptr;
    ViewButtons* views_ = nullptr;

    std::array<std::array<QLabel*, 8>, seci::kMaxChannels> c_{};
    std::array<QLabel*, seci::kMaxChannels> s_{};
    std::array<QSpinBox*, seci::kMaxChannels> cs_{};
    std::array<QLabel*, 7> vp_{};
    std::array<QSpinBox*, 8> aj_{};
    QPushButton *Button1, *Button2, *Button3, *Button4, *Button5, *Button6, *Button7, *Button8;
    QProgressBar* progresse;
    QGroupBox* v_p;
    QFrame* ajustement;
    QPushButton *ok, *ab, *oks, *abs;
    QGroupBox* vide_can;
    QSpinBox* can_v;
    QPushButton *BitBtn5, *BitBtn6;
    QFrame* choix_c;
    QSpinBox* canal;
    QLineEdit* piece;
    QPushButton *BitBtn1, *BitBtn2;
    QFrame* vers_c;
    QLabel* f_p;
    QSpinBox* canal_v;
    QPushButton *BitBtn3, *BitBtn4;
};

// "SECI RM3": six channels of six values.
class TRM3 : public SeciWindow {
    Q_OBJECT
public:
    explicit TRM3(Shell& shell, QWidget* parent = nullptr);

protected:
    SeciCalibre* calibration() override;
};

// "SECI RM4": twelve channels of eight values, the fourth pair "+".
class Trm4 : public SeciWindow {
    Q_OBJECT
public:
    explicit Trm4(Shell& shell, QWidget* parent = nullptr);

protected:
    SeciCalibre* calibration() override;
};

} // namespace zuna
