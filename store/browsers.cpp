#include "store/browsers.h"

#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/shell.h"
#include "store/codepage.h"
#include "store/model_library.h"

namespace zuna::store {

namespace {

enum Nav { First, Prior, Next, Last, Delete };
const char* const kNavNames[] = {"nbFirst", "nbPrior", "nbNext", "nbLast", "nbDelete"};
const char* const kNavGlyphs[] = {"|<", "<", ">", ">|", "-"};

const QStringList kDefaultHints = {"Premier enregistrement", "Enregistrement précédent", "Enregistrement suivant",
                                   "Dernier enregistrement", "Supprimer l'enregistrement"};

QLabel* value_label(QWidget* parent, const QString& name, int width)
{
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    l->setMinimumWidth(width);
    l->setAlignment(Qt::AlignCenter);
    return l;
}

QString cell_text(const std::optional<int>& v) { return v ? QString::number(*v) : QString(); }

} // namespace

QString character_of(std::optional<int> code)
{
    if (!code || *code < 1 || *code > 255)
        return {};
    const char32_t c = code_point(uint8_t(*code), CodePage::cp1252);
    return QString::fromUcs4(&c, 1);
}

QString t_text(const std::string& type, std::optional<int> value)
{
    // A G13.6000 pair's measurement 0..15 is shown as its letter "A".."P"
    // (as its window shows it): as a character code it would be invisible.
    if (type == "NRI2" && value && *value >= 0 && *value <= 15)
        return QString(QChar('A' + *value));
    return character_of(value);
}

ModelBrowser::ModelBrowser(Shell& shell, QWidget* parent, const QString& name, const QString& caption,
                           const QString& ok_caption, const QStringList& top, const QStringList& bottom,
                           const QStringList& hints, bool piece_caption)
    : QDialog(parent), shell_(shell)
{
    setObjectName(name);
    setWindowTitle(shell.title(caption));
    setMinimumWidth(320); // room for the caption in the title bar
    confirm_delete = [](QWidget* over) {
        return QMessageBox::question(over, "Confirmation", "Supprimer l'enregistrement ?",
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    };
    show_error = [](QWidget* over, const QString& text) { QMessageBox::warning(over, "ZUNA 07", text); };

    auto* col = new QVBoxLayout(this);

    auto* piece_row = new QHBoxLayout;
    if (piece_caption) {
        auto* l = new QLabel("PIECE ", this);
        l->setObjectName("Label1");
        piece_row->addWidget(l);
    }
    labels_["PIECE"] = value_label(this, "PIECE", 160);
    labels_["PIECE"]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    piece_row->addWidget(labels_["PIECE"], 1);
    col->addLayout(piece_row);

    auto* grid = new QGridLayout;
    for (int row = 0; row < 2; ++row) {
        const QStringList& names = row == 0 ? top : bottom;
        for (int i = 0; i < names.size(); ++i) {
            auto* l = value_label(this, names[i], 56);
            l->setToolTip(names[i]);
            labels_[names[i]] = l;
            grid->addWidget(l, row, i);
        }
    }
    col->addLayout(grid);

    extra_ = new QWidget(this);
    extra_->setObjectName("extra");
    col->addWidget(extra_);

    auto* navigator = new QFrame(this);
    navigator->setObjectName("DBNavigator1");
    auto* nav_row = new QHBoxLayout(navigator);
    nav_row->setContentsMargins(0, 0, 0, 0);
    nav_row->setSpacing(0);
    for (int b = First; b <= Delete; ++b) {
        auto* t = new QToolButton(navigator);
        t->setObjectName(kNavNames[b]);
        t->setText(kNavGlyphs[b]);
        t->setToolTip(hints.value(b));
        t->setMinimumWidth(36);
        connect(t, &QToolButton::clicked, this, [this, b] { navigate(b); });
        nav_row->addWidget(t);
        nav_.push_back(t);
    }
    nav_row->addStretch(1);
    col->addWidget(navigator);

    auto* ok = new QPushButton(ok_caption, this);
    ok->setObjectName("BitBtn1");
    ok->setDefault(true);
    auto* abort = new QPushButton("Abandon", this);
    abort->setObjectName("BitBtn2");
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(abort, &QPushButton::clicked, this, [this] { done(AbortResult); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(abort);
    col->addLayout(buttons);
}

QToolButton* ModelBrowser::navigator_button(const QString& name) const
{
    for (QToolButton* b : nav_)
        if (b->objectName() == name)
            return b;
    return nullptr;
}

QLabel* ModelBrowser::field_label(const QString& column) const
{
    const auto it = labels_.find(column);
    return it == labels_.end() ? nullptr : it->second;
}

void ModelBrowser::navigate(int button)
{
    ModelLibrary* m = shell_.models;
    if (m) {
        switch (button) {
        case First: m->first(); break;
        case Prior: m->prior(); break;
        case Next: m->next(); break;
        case Last: m->last(); break;
        case Delete:
            if (m->has_current() && confirm_delete(this)) {
                std::string error;
                if (!m->delete_current(&error))
                    show_error(this, QString::fromStdString(error));
            }
            break;
        }
    }
    refresh();
}

void ModelBrowser::refresh()
{
    ModelLibrary* m = shell_.models;
    const std::optional<ModelRecord> r = m ? m->current() : std::nullopt;
    for (auto& [name, label] : labels_) {
        QString text;
        if (r) {
            if (name == "PIECE")
                text = QString::fromStdString(r->piece);
            else if (name.startsWith('C'))
                text = cell_text(r->c[name.mid(1).toInt() - 1]);
        }
        label->setText(text);
    }
    // Buttons follow the cursor as a record navigator does.
    const int pos = m && r ? m->position() : -1;
    const int count = m ? m->visible_count() : 0;
    nav_[First]->setEnabled(r && pos > 0);
    nav_[Prior]->setEnabled(r && pos > 0);
    nav_[Next]->setEnabled(r && pos + 1 < count);
    nav_[Last]->setEnabled(r && pos + 1 < count);
    nav_[Delete]->setEnabled(r && !m->read_only());
}

void ModelBrowser::showEvent(QShowEvent* e)
{
    refresh();
    QDialog::showEvent(e);
}

void ModelBrowser::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::ActivationChange && isActiveWindow())
        refresh();
    QDialog::changeEvent(e);
}

Tm_c120::Tm_c120(Shell& shell, QWidget* parent)
    : ModelBrowser(shell, parent, "m_c120", "Modèles de programation", "Ok", {"C1", "C3", "C5"}, {"C2", "C4", "C6"},
                   kDefaultHints, true)
{
}

Tfichier::Tfichier(Shell& shell, QWidget* parent)
    : ModelBrowser(shell, parent, "fichier", "Modèles de programation", "OK", {"C1", "C3", "C5", "C7"},
                   {"C2", "C4", "C6", "C8"},
                   {"première fiche", "une fiche arrière", "une fiche avant", "dernière fiche", "suprimez une fiche"},
                   false)
{
}

TM_g13_6000::TM_g13_6000(Shell& shell, QWidget* parent)
    : ModelBrowser(shell, parent, "M_g13_6000", "Modèle sde programation", "Ok",
                   {"C1", "C3", "C5", "C7", "C9", "C11"}, {"C2", "C4", "C6", "C8", "C10", "C12"}, kDefaultHints,
                   false)
{
    auto* row = new QHBoxLayout(extra_area());
    row->setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < 6; ++i) {
        t_[i] = value_label(extra_area(), QString("t%1t").arg(i + 1), 24);
        t_[i]->setToolTip(QString("T%1").arg(i + 1));
        row->addWidget(t_[i]);
    }
    row->addStretch(1);
}

void TM_g13_6000::refresh()
{
    ModelBrowser::refresh();
    ModelLibrary* m = shell_.models;
    const std::optional<ModelRecord> r = m ? m->current() : std::nullopt;
    for (int i = 0; i < 6; ++i)
        t_[i]->setText(r ? t_text(r->type, r->t[i]) : QString());
}

} // namespace zuna::store
