#pragma once
// "Sauvegarder…", "Restaurer…" and "Suivant" of a family window: save the
// whole mechanism to a settings file, restore one with the comparison shown
// first, and program the next mechanism of a series from the same file.
// The window gives its family's settings and its transfer; it is told when
// a restore wrote something, to show the mechanism as it now is.
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "settings/settings.h"
#include "ui/feedback.h"

class QBoxLayout;
class QPushButton;
class QWidget;

namespace zuna {

class Shell;
class Transfer;

class SettingsPanel : public QObject {
    Q_OBJECT
public:
    SettingsPanel(Shell& shell, QWidget* window, Transfer& transfer, std::unique_ptr<settings::Family> family);
    ~SettingsPanel() override;

    // Adds the three buttons ("Suivant" enabled after a restore) to a layout.
    void add_to(QBoxLayout* layout);
    QPushButton* save_button() const { return save_; }
    QPushButton* restore_button() const { return restore_; }
    QPushButton* next_button() const { return next_; }
    settings::Family& family() { return *family_; }

    void save();    // "Sauvegarder…"
    void restore(); // "Restaurer…"
    void next();    // "Suivant"

    // Called before each of them (false: the window refuses, e.g. a bad
    // delay count, and has told why) and after a restore wrote something.
    std::function<bool()> ready;
    std::function<void()> after_write;

    // Replaced by tests: the file chooser (empty: cancelled), the comparison
    // shown before writing (true: write), the next-mechanism prompt, messages.
    std::function<QString(bool saving)> choose_file;
    std::function<bool(const settings::Comparison&)> confirm;
    std::function<bool()> next_plugged;
    MessageSink tell;
    // The question before a file whose channel windows overlap is written.
    std::function<bool(const QString& question)> overlap_ask;

    const QString& file() const { return path_; }
    const std::optional<settings::Outcome>& last() const { return last_; }

private:
    void run_restore(bool clone);

    Shell& shell_;
    QWidget* window_;
    Transfer& transfer_;
    std::unique_ptr<settings::Family> family_;
    QPushButton* save_;
    QPushButton* restore_;
    QPushButton* next_;
    QString path_;
    std::optional<settings::Snapshot> file_;
    std::optional<settings::Outcome> last_;
};

// The comparison before a restore ("Comparaison"): every setting, its value
// in the mechanism and in the file, changed rows marked; "Écrire" / "Annuler".
bool show_comparison(QWidget* parent, const QString& title, const settings::Comparison& c);

} // namespace zuna
