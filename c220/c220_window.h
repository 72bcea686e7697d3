#pragma once
// TC220_o ("C220"): the C220 / SENTINEL window. Owns the link (the count copy
// and the memory image), reads the whole memory, writes one channel's three
// windows or the outputs, tests a coin, stores and loads models, and opens
// the coin calibration, which works through this window's link. Every link
// operation runs on the transfer thread through `Transfer`.
#include <QDialog>
#include <array>
#include <optional>

#include "c220/c220_link.h"
#include "settings/bands.h"
#include "store/model_library.h"
#include "ui/band_view.h"
#include "ui/feedback.h"
#include "ui/sheet.h"

class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace zuna {
class SettingsPanel;
class Shell;
class Tcalibre_c220_o;
class Transfer;
class ViewButtons;

// Output names of the C220 codes; an unnamed code shows "?" and its number.
QString c220_output_name(int code);
// The code of a shown name, nothing for a text that is not one of the seven names.
std::optional<int> c220_output_code(const QString& name);

class TC220_o : public QDialog {
    Q_OBJECT
public:
    explicit TC220_o(Shell& shell, QWidget* parent = nullptr);

    MessageSink show_message;
    // Asked before a window write that would make two channels overlap
    // (tests replace it).
    OverlapAsk overlap_ask;

    c220::Link& link() { return link_; }
    Shell& shell() { return shell_; }
    Transfer* transfer() const { return transfer_; }
    QLabel* cell(int n, int k) const { return c_[size_t(n - 1)][size_t(k - 1)]; }
    QLabel* heading(int n) const { return heads_[size_t(n - 1)]; }
    bool lit(int n) const;

    // Copies the C220 delay count and puts both lines high.
    void FormActivate();
    // `ecriture_d`: the 48 limits and the eight output names from the image.
    void ecriture_d();
    // Tells the operator about a write that was refused or not confirmed
    // (false then) and shows the image.
    bool report_write(const c220::WriteResult& w);
    // The delay-count message for a count below 1 (false when refused).
    bool count_ok();

    // The channels as the table shows them, with the calibration's coins and
    // proposed windows while it runs; the table as a settings sheet.
    settings::BandSet bands() const;
    Sheet sheet() const;
    // Whether channel c may be written with limits p (asks when it would
    // overlap another channel).
    bool overlap_ok(int c, const std::array<uint8_t, 6>& p);
    // Whether channel c may be written with limits p when a window's low is
    // above its high (the channel would accept nothing): asked, as an overlap is.
    bool dead_window_ok(int c, const std::array<uint8_t, 6>& p);
    void refresh_views();
    SettingsPanel* settings_panel() const { return settings_; }
    ViewButtons* views() const { return views_; }

    void Button5Click(); // Lecture
    void Button1Click(); // Calib. Piece
    void Button2Click(); // Tester
    void Button3Click(); // AJUST
    void okClick();
    void abClick();
    void Button4Click(); // SORTIES
    void output_button(int n);
    void c_sClick(const QString& item);
    void ok3Click();
    void ab3Click();
    void Button6Click(); // Enr. Modèle
    void BitBtn1Click();
    void BitBtn2Click();
    void Button7Click(); // Voir modèle
    void BitBtn3Click();
    void BitBtn4Click();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void build();
    void set_lit(int n, bool on);
    void show_main_buttons(bool on);
    bool image_ok(const QString& refused_text);

    Shell& shell_;
    c220::Link link_;
    Transfer* transfer_ = nullptr;
    bool activating_ = false;
    int chosen_button_ = 0;
    std::array<int, c220::kChannels> shown_codes_{};
    std::optional<store::ModelRecord> model_;
    Tcalibre_c220_o* calibrating_ = nullptr;
    SettingsPanel* settings_ = nullptr;
    ViewButtons* views_ = nullptr;

    std::array<std::array<QLabel*, 7>, 8> c_{};
    std::array<QLabel*, 8> heads_{};
    QPushButton *Button1, *Button2, *Button3, *Button4, *Button5, *Button6, *Button7;
    QProgressBar* Progresse;
    QFrame* ajust;
    std::array<QSpinBox*, 6> l_{};
    QPushButton *ok, *ab;
    std::array<QPushButton*, 8> b_{};
    QListWidget* c_s;
    QPushButton *ok3, *ab3;
    QFrame* choix_c;
    QSpinBox* canal;
    QLineEdit* piece;
    QFrame* vers_c;
    QLabel* f_p;
    QSpinBox* canal_v;
};

} // namespace zuna
