#pragma once
// The three model browsers, created at start-up and shown modally. They show
// and move the one shared cursor of the model library (shell.models).
// Controls: the navigator "DBNavigator1" with the buttons "nbFirst",
// "nbPrior", "nbNext", "nbLast", "nbDelete"; OK "BitBtn1", Abort "BitBtn2";
// one label per shown column, named after the column ("PIECE", "C1"...).
#include <QDialog>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QToolButton;

namespace zuna {
class Shell;
}

namespace zuna::store {

class ModelBrowser : public QDialog {
    Q_OBJECT
public:
    // Result of the Abort button (OK gives QDialog::Accepted).
    static constexpr int AbortResult = 3;

    // Asks before a delete; tests replace it.
    std::function<bool(QWidget*)> confirm_delete;
    // Shows a refusal of the table layer; tests replace it.
    std::function<void(QWidget*, const QString&)> show_error;

    QToolButton* navigator_button(const QString& name) const;
    QLabel* field_label(const QString& column) const;

    // Shows the current record of the shared cursor.
    virtual void refresh();

protected:
    // columns: the top row and the row under it; hints: the five navigator hints.
    ModelBrowser(Shell& shell, QWidget* parent, const QString& name, const QString& caption,
                 const QString& ok_caption, const QStringList& top, const QStringList& bottom,
                 const QStringList& hints, bool piece_caption);
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;
    QWidget* extra_area() const { return extra_; }
    Shell& shell_;

private:
    void navigate(int button);

    std::map<QString, QLabel*> labels_;
    std::vector<QToolButton*> nav_;
    QWidget* extra_ = nullptr;
};

class Tm_c120 : public ModelBrowser {
    Q_OBJECT
public:
    explicit Tm_c120(Shell& shell, QWidget* parent = nullptr);
};

class Tfichier : public ModelBrowser {
    Q_OBJECT
public:
    explicit Tfichier(Shell& shell, QWidget* parent = nullptr);
};

class TM_g13_6000 : public ModelBrowser {
    Q_OBJECT
public:
    explicit TM_g13_6000(Shell& shell, QWidget* parent = nullptr);
    void refresh() override;

private:
    QLabel* t_[6] {};
};

// Text of a T column as TM_g13_6000 shows it: the character whose code
// (Windows code page) it holds; empty for blank, 0 or out of 1..255.
QString character_of(std::optional<int> code);
// Text of a T column in TM_g13_6000: for an "NRI2" model a value 0..15 is
// the letter of the measurement ("A".."P"); otherwise character_of.
QString t_text(const std::string& type, std::optional<int> value);

} // namespace zuna::store
