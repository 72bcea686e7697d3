#pragma once
// The coin-teach and validation windows. A teach passes samples through the
// mechanism and keeps the highest and lowest value seen of each measurement;
// its validation writes them, widened by a tolerance, as a channel's windows.
// The C120 and C220B windows share the layouts and the bookkeeping here.
#include <QDialog>
#include <array>
#include <functional>
#include <vector>

#include "c120/c120_ui.h"

class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace zuna {
class Shell;
class Transfer;

// Runs a dialog's link operation on the transfer thread, "Arrêter" offered.
bool run_transfer(Transfer* t, const std::function<void(Progress&)>& op);

class TeachWindow : public QDialog {
    Q_OBJECT
public:
    MessageSink show_message;

    void FormActivate(); // labels back to "0" and "255"
    virtual void BitBtn1Click() = 0; // LECTURE: pass the coins

    std::array<int, 3> highest() const;
    std::array<int, 3> lowest() const;
    // The coins measured since the window opened.
    const std::vector<std::array<uint8_t, 3>>& samples() const { return samples_; }
    // Told after each LECTURE (the channel window's view follows).
    std::function<void()> samples_changed;

protected:
    TeachWindow(Shell& shell, const char* object_name, QWidget* parent);
    void showEvent(QShowEvent* e) override;
    bool run(const std::function<void(Progress&)>& op) { return run_transfer(transfer_, op); }
    // Shows the coins of a teach: their number, the highest and lowest values
    // of those measured; tells the operator when nothing answered or the
    // teach was stopped.
    void show_teach(const c120::TeachResult& t, int coins);
    QPushButton* add_button(const char* name, const QString& caption);

    Shell& shell_;
    QProgressBar* progress_;
    Transfer* transfer_;
    std::array<QLabel*, 3> m_{};
    std::array<QLabel*, 3> b_{};
    QSpinBox* nb_piece;
    QPushButton* BitBtn1;
    QHBoxLayout* buttons_;
    std::vector<std::array<uint8_t, 3>> samples_;
};

// The C120 teach: OK (to the validation) and Abort appear after a teach.
class Tcalibrate : public TeachWindow {
    Q_OBJECT
public:
    explicit Tcalibrate(Shell& shell, QWidget* parent = nullptr);
    void BitBtn1Click() override;
    void okClick();

private:
    QPushButton* ok;
    QPushButton* ab;
};

class ValidWindow : public QDialog {
    Q_OBJECT
public:
    MessageSink show_message;

    // The values of the teach the next OK writes.
    void set_teach(const std::array<int, 3>& highest, const std::array<int, 3>& lowest);
    virtual void BitBtn1Click() = 0;

    // The channel and the six bounds the next OK writes (upper first).
    int channel() const;
    std::array<uint8_t, 6> widened() const;
    // Told when the channel or the tolerance changes; asked before the
    // write (false: nothing is written).
    std::function<void()> proposal_changed;
    std::function<bool(int channel, const std::array<uint8_t, 6>& bounds)> allowed;

protected:
    ValidWindow(Shell& shell, const char* object_name, int channels, QWidget* parent);
    // The window proposed is acceptable to the channel window (or none asks).
    bool may_write(int c, const std::array<uint8_t, 6>& bounds) const { return !allowed || allowed(c, bounds); }
    bool run(const std::function<void(Progress&)>& op) { return run_transfer(transfer_, op); }

    Shell& shell_;
    Transfer* transfer_;
    QSpinBox* canal;
    QSpinBox* toler;
    std::array<int, 3> m_{};
    std::array<int, 3> b_{255, 255, 255};
};

// Tvalid_c120: channel 1 to 12.
class Tvalid_c120 : public ValidWindow {
    Q_OBJECT
public:
    explicit Tvalid_c120(Shell& shell, QWidget* parent = nullptr);
    void BitBtn1Click() override;
};

} // namespace zuna
