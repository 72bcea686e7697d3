#pragma once
// TForm1: the station's hub. Owns the shared state (through the Shell), the
// picture, the speed bar "choix", and runs the activate step each time it
// becomes active again.
#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>

#include "ui/shell.h"

class QLabel;
class QProgressBar;
class QToolButton;

namespace zuna {

namespace store {
class Tables;
}
class Transfer;

struct StationSettings {
    QString settings_file; // empty: the user's QSettings (~/.config/zuna07/)
    QString data_dir;      // overrides the alias path for this run when not empty
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    TForm1(Shell& shell, const StationSettings& settings, QWidget* parent = nullptr);
    ~TForm1() override;

    // Modal message box; tests replace it to answer prompts.
    std::function<void(const QString&)> show_message;
    // Called with the family of a device window about to open (the bench plugs its mechanism).
    std::function<void(const std::string&)> on_window_opening;

    // The activate step; false when no module answered after six prompts
    // (the window then closes, which ends the program).
    bool FormActivate();
    void open_item(const QString& item_name);

    Shell& shell() { return shell_; }
    const QString& data_dir() const { return data_dir_; }
    QStringList startup_messages() const { return startup_messages_; }
    bool picture_loaded() const;

private:
    void FormCreate(const StationSettings& settings);
    void ensure_alias(const StationSettings& settings);
    void build_ui();
    // Runs f on the transfer thread, the window live and the status bar saying what.
    void on_line(const QString& what, const std::function<void()>& f);

    Shell& shell_;
    QString data_dir_;
    QStringList startup_messages_;
    std::unique_ptr<store::Tables> tables_;
    QLabel* image_ = nullptr;
    QProgressBar* busy_ = nullptr;
    Transfer* transfer_ = nullptr;
    bool memory_warned_ = false;
};

} // namespace zuna
