#pragma once
// What the C120 and C220B editor windows share: the channel table (rows of
// three windows and an output), the buttons, the edit groups and their
// show/hide rules, the highlighting, the model panels. Each family window
// adds its handlers, which call its own link.
#include <QDialog>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "c120/c120_memory.h"
#include "c120/c120_settings.h"
#include "c120/c120_ui.h"
#include "store/model_library.h"
#include "ui/band_view.h"

class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace zuna {
class Shell;
class SettingsPanel;
class TeachWindow;
class Transfer;
class ValidWindow;

// The texts and sizes by which the two windows differ.
struct ChannelWindowLook {
    const char* object_name;
    const char* caption;
    int channels;
    const char* read_caption;
    const char* test_hint;
    const char* store_hint;
    const char* progress_name;
    bool checksum_repair;
    c120::Kind kind;
    std::unique_ptr<settings::Family> (*settings)();
};

class ChannelWindow : public QDialog {
    Q_OBJECT
public:
    MessageSink show_message;

    int channels() const { return channels_; }
    // Label of channel c (1-based), column 1..7.
    QLabel* cell(int c, int column) const { return cells_[c - 1][column - 1]; }

    // Shows the image in the table (nothing when its valid flag is 0).
    void lit_mem_mech();
    // Runs every link operation of the window off the window's thread.
    Transfer* transfer() const { return transfer_; }

    // The channels as the "Graphique" view draws them: the image, the last
    // coin tested, and during a teach its coins and the window proposed.
    settings::BandSet bands() const;
    // The channel table as shown, for the settings sheet.
    Sheet sheet() const;
    SettingsPanel* settings_panel() const { return settings_; }
    ViewButtons* view_buttons() const { return views_; }
    // Asked before a write of windows that would overlap another channel's
    // (replaced by tests).
    OverlapAsk ask_overlap;

    virtual void FormActivate() = 0;
    virtual void Button1Click() = 0; // coin teach
    virtual void Button2Click() = 0; // test
    virtual void Button3Click() = 0; // AJUST
    virtual void Button4Click() = 0; // SORTIES
    virtual void Button5Click() = 0; // read
    virtual void okClick() = 0;
    virtual void cc_okClick() = 0;
    virtual void BitBtn3Click() = 0; // load a model into a channel
    virtual void SpeedButton1Click() {}
    void abClick();
    void cc_abClick();
    void Button6Click(); // store a model
    void Button7Click(); // load a model
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn4Click();

protected:
    ChannelWindow(Shell& shell, const ChannelWindowLook& look, const char* model_type, QWidget* parent);
    void showEvent(QShowEvent* e) override;

    // The family's map.
    virtual std::array<uint8_t, 6> bounds(int c) const = 0;
    virtual QString output_label(int c) const = 0;
    virtual bool output_known(int c) const = 0;
    // Before Enr. Modèle / Voir modèle show their panel (the C220B hides its other groups).
    virtual void hide_other_groups() {}

    // Runs op on the transfer thread and returns when it ended (false when
    // it did not run); "Arrêter" is offered when the operation can stop.
    bool run(const std::function<void(Progress&)>& op, bool stoppable = true);
    void highlight_all(int p1, int p2, int p3);
    void show_test(bool measured);
    void show_unknown();
    // Shows the image after a write and tells the operator about a write that
    // was stopped or not verified.
    void report(const c120::WriteOutcome& o);
    // Shows the table after a read, or tells why it stays as it was.
    void report(const c120::ReadResult& r);
    void show_ajust(int c);
    std::array<uint8_t, 6> ajust_bounds() const;
    void show_outputs(bool visible);
    std::vector<int> output_spins() const;
    // The chosen model's six bounds, each held in 0..255 (blank as 0).
    std::array<uint8_t, 6> model_bounds() const;
    // false when writing `bounds` into channel c would overlap another
    // channel and the operator does not want it.
    bool overlap_allowed(int c, const std::array<uint8_t, 6>& bounds);
    // The teach and validation dialogs tell this window of their coins and
    // proposed window, and ask it before the validation writes; until
    // end_teach, which forgets the teach.
    void follow_teach(TeachWindow* teach, ValidWindow* valid);
    void end_teach(TeachWindow* teach, ValidWindow* valid);
    // The delay counts the window's transfers need (told when not).
    virtual bool ready() = 0;

    Shell& shell_;
    Station& s_;
    const int channels_;
    const std::string model_type_;
    std::vector<std::array<QLabel*, 7>> cells_;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button4;
    QPushButton* Button5;
    QPushButton* Button6;
    QPushButton* Button7;
    QToolButton* SpeedButton1 = nullptr;
    QProgressBar* progress_;
    Transfer* transfer_;
    QFrame* teste;
    QLabel* t1;
    QLabel* t2;
    QLabel* t3;
    QFrame* ajust;
    std::array<QSpinBox*, 6> l_{};
    QPushButton* ok;
    QPushButton* ab;
    std::vector<QSpinBox*> cc_;
    QPushButton* cc_ok;
    QPushButton* cc_ab;
    QFrame* choix_c;
    QSpinBox* canal;
    QLineEdit* piece;
    QFrame* vers_c;
    QLabel* f_p;
    QSpinBox* canal_v;
    std::optional<store::ModelRecord> model_;
    const c120::Kind kind_;
    c120::WindowData shown_; // the coin tested, the teach under way
    SettingsPanel* settings_;
    ViewButtons* views_;
};

} // namespace zuna
