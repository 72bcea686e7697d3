#pragma once
// Tnrig130000: the NRI G13.0000 window. Reads identity, measuring mode and
// the six channels; coin test, manual adjustment, measuring mode change,
// model store and model write. The channel line labels are the working copy
// of the channel records.
#include <QDate>
#include <QDialog>
#include <array>
#include <functional>
#include <optional>
#include <string>

#include "nri/g13_link.h"
#include "nri/g13_settings.h"
#include "store/model_library.h"
#include "ui/band_view.h"
#include "ui/sheet.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace zuna {
class SettingsPanel;
class Shell;
class Transfer;
struct Station;

class Tnrig130000 : public QDialog {
    Q_OBJECT
public:
    Tnrig130000(Shell& shell, QWidget* parent = nullptr);

    // The PC clock (tests set a fixed day).
    std::function<QDate()> today = [] { return QDate::currentDate(); };
    // Modal message box; tests replace it.
    std::function<void(const QString&)> show_message;

    // Writes a channel record (nri::write_channel) through the window's
    // transfer and shows it: the reprogramming date in l3 and the channel's
    // read-back in its lines. `units` is the unit count of the writing part.
    void write_channel(int channel, const std::array<int, 4>& maxima, const std::array<int, 4>& minima,
                       int32_t units);
    // Shows a channel write run by another window (the validation).
    void show_write(const nri::ChannelWrite& w);

    // Before a write of a channel's limits: asks when they would overlap
    // another channel as the lines show them. false: refused, write nothing.
    bool may_write(int channel, const std::array<int, 4>& maxima, const std::array<int, 4>& minima);
    OverlapAsk ask_overlap;

    // The channels as the lines show them, the last tested coin and a teach
    // in progress, as the "Graphique" view draws them; the channel table for
    // the settings sheet.
    settings::BandSet bands() const;
    Sheet sheet() const;
    // A teach in progress (told by the calibration and validation dialogs).
    void teach_coins(const std::vector<std::array<int, 4>>& coins);
    void teach_proposed(int channel, const std::array<int, 4>& maxima, const std::array<int, 4>& minima);
    void teach_end();
    SettingsPanel* settings_panel() const { return settings_; }
    ViewButtons* views() const { return views_; }

    Shell& shell() { return shell_; }
    Transfer* transfer() const { return transfer_; }
    Station& shell_station() { return station(); }

    // The channel's values as shown in its two line labels.
    std::array<int, 4> maxima(int channel) const;
    std::array<int, 4> minima(int channel) const;

    void FormActivate();
    void Button1Click(); // LECTURE
    void Button4Click(); // Test
    void Button5Click(); // Calib. piece
    void Button6Click(); // AJUST
    void okClick();
    void abClick();
    void Button7Click(); // Mode mesure
    void BitBtn5Click();
    void BitBtn6Click();
    void Button2Click(); // Enr. Modèle
    void BitBtn1Click();
    void BitBtn2Click();
    void Button3Click(); // Voir modèle
    void BitBtn3Click();
    void BitBtn4Click();

    QLabel* upper(int channel) const { return upper_[size_t(channel - 1)]; }
    QLabel* lower(int channel) const { return lower_[size_t(channel - 1)]; }
    QLabel* result(int channel, int k) const { return q_[size_t(channel - 1)][size_t(k - 1)]; }

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

public:
    void done(int r) override;

private:
    void build();
    // A G13 delay count the link can use; says why not otherwise.
    bool ready();
    void reset_results();
    // A channel's two lines from a read-back; "non relu" when absent.
    void show_lines(int channel, const std::optional<nri::ChannelLines>& lines);
    // A channel written but not read back: "????" until a reading.
    void show_unknown(int channel);
    bool unknown(int channel) const { return channel >= 1 && channel <= 6 && unknown_[size_t(channel - 1)]; }
    Station& station();

    Shell& shell_;
    bool activated_ = false;
    bool busy_ = false;
    bool tuning_tried_ = false;
    int adjust_channel_ = 1;
    std::array<bool, 6> unknown_{}; // channels whose content is unknown since a write
    std::optional<store::ModelRecord> model_;
    std::optional<std::array<int, 4>> coin_; // the last coin tested (none: not measured)
    nri::G13View teach_;                      // samples and proposed window of a teach
    SettingsPanel* settings_ = nullptr;
    ViewButtons* views_ = nullptr;

    QPushButton *Button1, *Button2, *Button3, *Button4, *Button5, *Button6, *Button7;
    std::array<QLabel*, 6> name_{};
    std::array<bool, 6> lines_read_{}; // a channel's lines shown from the mechanism
    bool mode_read_ = false;
    std::array<QLabel*, 6> upper_{};
    std::array<QLabel*, 6> lower_{};
    std::array<std::array<QLabel*, 8>, 6> q_{};
    QLabel *l1, *l2, *l3, *Label9, *mo_me, *Label13, *a1;
    QProgressBar* progresse;
    Transfer* transfer_ = nullptr; // runs every exchange off the window's thread
    QGroupBox *p1, *P2;
    QFrame* ajustement;
    std::array<QSpinBox*, 8> aj_{};
    QPushButton *ok, *ab;
    QGroupBox* Panel1;
    QSpinBox* me;
    QPushButton *BitBtn5, *BitBtn6;
    QFrame* choix_c;
    QSpinBox* canal;
    QLineEdit* piece;
    QPushButton *BitBtn1, *BitBtn2;
    QFrame* vers_c;
    QSpinBox* canal_v;
    QLabel* f_p;
    QPushButton *BitBtn3, *BitBtn4;
};

} // namespace zuna
