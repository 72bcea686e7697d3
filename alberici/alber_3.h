#pragma once
// Talber_3: the Alberici AL3 window. Twelve channel blocks (six parameters
// over six deltas, time, value, tolerance, output, selection box) read and
// written byte by byte, a coin teach, a coin test against the ticked
// channels, the mechanism type and output levels, channel models. Every link
// operation runs on the transfer thread through `Transfer`; the grid shows
// what the mechanism was last read or read back to hold.
#include <QDialog>
#include <array>
#include <functional>
#include <optional>

#include "alberici/al3_link.h"
#include "alberici/al3_settings.h"
#include "settings/bands.h"
#include "store/model_library.h"
#include "ui/band_view.h"
#include "ui/feedback.h"
#include "ui/sheet.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace zuna {
class SettingsPanel;
class Shell;
class Transfer;
class ViewButtons;

class Talber_3 : public QDialog {
    Q_OBJECT
public:
    explicit Talber_3(Shell& shell, QWidget* parent = nullptr);

    MessageSink show_message;
    // Asked before a channel write that would make two channels overlap
    // (tests replace it).
    OverlapAsk overlap_ask;
    Station& station();

    // Controls of channel n (1..12).
    QLabel* parameter(int n, int k) const { return c_[size_t(n - 1)][size_t(k - 1)]; }
    QLabel* delta(int n, int k) const { return c_[size_t(n - 1)][size_t(k + 5)]; }
    QLabel* time_label(int n) const { return t_[size_t(n - 1)]; }
    QLabel* value_label(int n) const { return v_[size_t(n - 1)]; }
    QLabel* tolerance_label(int n) const { return to_[size_t(n - 1)]; }
    QLabel* output_label(int n) const { return s_[size_t(n - 1)]; }
    QCheckBox* selection(int n) const { return i_[size_t(n - 1)]; }
    static bool yellow(const QLabel* l);
    Transfer* transfer() const { return transfer_; }
    QTabWidget* tabs() const { return tabs_; }

    // Shows a channel record in row n.
    void show_channel(int n, const alberici::Record& r);
    void init_grid(); // "000" and the button-face colour (init_v, init_color)

    // The channels as shown (read or read back) with the last coin tested;
    // the grid and the TYPE tab as a settings sheet.
    settings::BandSet bands() const;
    Sheet sheet() const;
    void refresh_views();
    SettingsPanel* settings_panel() const { return settings_; }
    ViewButtons* views() const { return views_; }

    void Button1Click(); // Lecture
    void Button3Click(); // Calib. Piece
    void BitBtn6Click(); // teach
    void BitBtn7Click();
    void Button4Click(); // Test pieces
    void Button5Click(); // Ajust.
    void okClick();
    void abClick();
    void Button2Click(); // Vider
    void Button8Click(); // Enr. Modèle
    void BitBtn1Click();
    void BitBtn2Click();
    void Button9Click(); // Voir modèle
    void BitBtn3Click();
    void BitBtn4Click();
    void Button6Click(); // TYPE: Lecture
    void Button7Click(); // TYPE: Ecrir
    void BitBtn5Click(); // help

protected:
    void showEvent(QShowEvent* e) override;

private:
    void build();
    QWidget* build_block(int n);
    QWidget* build_type_tab();
    void build_panels(QWidget* parent);
    void hide_views();
    bool ready();
    // The mechanism says an AL3 type (1..6): read before the first write
    // after the window opened or read the mechanism (the teach reads it
    // anyway); otherwise the operator is told and nothing is written.
    bool identified();
    // Runs op through Transfer; "Arrêter" only for operations that can stop.
    bool run(bool stoppable, const std::function<void(Progress&)>& op);
    // Tells the outcome of a write and shows what the read-back holds; a write
    // not confirmed leaves the cells it touched unknown ("????"), or the whole
    // row when the mechanism computed the rest (a teach).
    void report_write(const alberici::WriteResult& w, bool whole_row = false);
    void mark_unknown(int n, const std::vector<int>& addresses);

    Shell& shell_;
    Transfer* transfer_ = nullptr;
    bool initialised_ = false;
    int adjust_channel_ = 1;
    std::optional<store::ModelRecord> model_;
    alberici::Channels records_{}; // what each row shows, as a record
    // Rows with cells written but not confirmed: out of the coin test, the
    // views and model stores until the channel is read again.
    std::array<bool, alberici::kChannels> unknown_{};
    std::optional<std::vector<int>> coin_;
    bool type_read_ = false; // the TYPE tab shows what the mechanism said
    bool identified_ = false; // the mechanism said an AL3 type since the window opened
    alberici::Al3Settings* family_ = nullptr; // owned by settings_
    SettingsPanel* settings_ = nullptr;
    ViewButtons* views_ = nullptr;

    std::array<std::array<QLabel*, 12>, 12> c_{};
    std::array<QLabel*, 12> t_{}, v_{}, to_{}, s_{};
    std::array<QCheckBox*, 12> i_{};
    std::array<QLabel*, 6> te_{};
    std::array<QSpinBox*, 6> pa_{}, de_{};
    std::array<QCheckBox*, 7> ns_{};

    QTabWidget* tabs_;
    QPushButton *Button1, *Button2, *Button3, *Button4, *Button5, *Button6, *Button7, *Button8, *Button9;
    QProgressBar* progresse;
    QGroupBox* test;
    QFrame *Panel1, *Panel2;
    QSpinBox *nb_p, *can, *tol, *vp, *tp, *so;
    QPushButton *BitBtn6, *BitBtn7;
    QSpinBox *va, *ta, *sa;
    QCheckBox* val;
    QPushButton *ok, *ab;
    QListWidget* type_m;
    QFrame* choix_c;
    QSpinBox* canal;
    QLineEdit* piece;
    QPushButton *BitBtn1, *BitBtn2;
    QFrame* vers_c;
    QSpinBox* canal_v;
    QLabel* f_p;
    QPushButton *BitBtn3, *BitBtn4, *BitBtn5;
};

} // namespace zuna
