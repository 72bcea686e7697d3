#pragma once
// Tnrig1360000: the NRI G13.6000 window. Page "Canaux": the twelve channels
// (six limit pairs each) and the measurement each pair checks, coin test,
// manual adjustment, model store and write; page "Tables": output signal,
// channel validation, coil output, function bytes and offsets. The labels
// and boxes are the working copy of the mechanism's memory.
#include <QDialog>
#include <array>
#include <functional>
#include <optional>

#include "nri/g136_link.h"
#include "nri/g136_settings.h"
#include "store/model_library.h"
#include "ui/band_view.h"
#include "ui/sheet.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace zuna {
class SettingsPanel;
class Shell;
class Transfer;
struct Station;

class Tnrig1360000 : public QDialog {
    Q_OBJECT
public:
    Tnrig1360000(Shell& shell, QWidget* parent = nullptr);

    // Modal message box; tests replace it.
    std::function<void(const QString&)> show_message;

    Shell& shell() { return shell_; }
    Station& shell_station() { return station(); }
    Transfer* transfer() const { return transfer_; }

    // A delay count the link can use; says why not otherwise.
    bool ready();
    // The selectors of channel n's six pairs as the r-labels show them (0..16
    // from the letters); absent while no reading has filled the r-labels.
    std::optional<std::array<int, 6>> selectors(int channel) const;
    // Shows a channel write (its read-back and message), run here or by the validation.
    void show_write(const nri::g136::ChannelWrite& w);

    // Before a write of a channel's block (with the selectors it will have):
    // asks when it would overlap another channel as the page shows them.
    // false: refused, write nothing.
    bool may_write(int channel, const nri::g136::Block& block, const std::array<int, 6>& selectors);
    OverlapAsk ask_overlap;

    // The channels as the page shows them, the last tested coin and a teach
    // in progress, as the "Graphique" view draws them; both pages for the
    // settings sheet.
    settings::BandSet bands() const;
    Sheet sheet() const;
    // A teach in progress (told by the calibration and validation dialogs).
    void teach_coins(const std::vector<nri::g136::Measures>& coins);
    void teach_proposed(int channel, const nri::g136::Block& block, const std::array<int, 6>& selectors);
    void teach_end();
    SettingsPanel* settings_panel() const { return settings_; }
    ViewButtons* views() const { return views_; }

    void Button1Click(); // Lecture
    void Button3Click(); // Calib. Piece
    void Button4Click(); // Test pieces
    void Button5Click(); // Ajust.
    void okClick();
    void abClick();
    void Button8Click(); // Enr. Modèle
    void BitBtn1Click();
    void BitBtn2Click();
    void Button9Click(); // Voir modèle
    void BitBtn3Click();
    void BitBtn4Click();
    void Button6Click(); // Tables: Lecture
    void Button7Click(); // Tables: Ecriture

    QLabel* limit(int channel, int j) const { return c_[size_t(channel - 1)][size_t(j - 1)]; }
    QLabel* selector(int channel, int k) const { return r_[size_t(channel - 1)][size_t(k - 1)]; }

private:
    void build();
    QWidget* build_channels();
    QWidget* build_tables();
    void show_block(int channel, const nri::g136::Block& b);
    // A channel written but not read back: "????" until a reading.
    void show_unknown(int channel);
    void show_selectors(const nri::g136::Selectors& d);
    void show_tables(const nri::g136::Tables& t);
    // Tables written but not read back: every box half-checked, the
    // offsets "????", "Ecriture" refused until a reading.
    void show_tables_unknown();
    nri::g136::Tables tables_shown() const;
    void paint(int channel, int k, bool inside);
    void show_buttons(bool on);
    void tell(const std::string& text);
    Station& station();

    Shell& shell_;
    int adjust_channel_ = 1;
    bool selectors_read_ = false;
    std::array<bool, 12> blocks_read_{}; // a channel's limits shown from the mechanism
    std::array<bool, 12> unknown_{}; // channels whose content is unknown since a write
    bool tables_read_ = false;
    std::optional<store::ModelRecord> model_;
    std::optional<nri::g136::Measures> coin_; // the last coin tested (none: not measured)
    nri::g136::View teach_;                    // samples and proposed window of a teach
    SettingsPanel* settings_ = nullptr;
    ViewButtons* views_ = nullptr;

    QTabWidget* pages_;
    QPushButton *Button1, *Button3, *Button4, *Button5, *Button8, *Button9;
    std::array<QLabel*, 12> name_{};
    std::array<std::array<QLabel*, 12>, 12> c_{};
    std::array<std::array<QLabel*, 6>, 12> r_{};
    QLabel *v_p, *l2, *Label36;
    QProgressBar* progresse;
    Transfer* transfer_ = nullptr;
    QFrame* ajustement;
    std::array<QSpinBox*, 12> aj_{};
    QPushButton *ok, *ab;
    QFrame* choix_c;
    QSpinBox* canal;
    QLineEdit* piece;
    QPushButton *BitBtn1, *BitBtn2;
    QFrame* vers_c;
    QSpinBox* canal_v;
    QLabel* f_p;
    QPushButton *BitBtn3, *BitBtn4;

    // Page "Tables".
    std::array<QCheckBox*, 96> ch_{};
    std::array<QCheckBox*, 96> valid_{};
    std::array<QCheckBox*, 48> coil_{};
    std::array<QCheckBox*, 24> fb_{};
    QSpinBox *offa, *offE;
    QPushButton *Button6, *Button7;
    QProgressBar* progresse2;
    Transfer* tables_transfer_ = nullptr;
};

} // namespace zuna
