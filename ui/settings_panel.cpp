#include "ui/settings_panel.h"

#include <QBoxLayout>
#include <QPushButton>

#include "ui/shell.h"
#include "ui/transfer.h"
#include "ui/widgets.h"

namespace zuna {

SettingsPanel::SettingsPanel(Shell& shell, QWidget* window, Transfer& transfer, std::unique_ptr<settings::Family> family)
    : QObject(window), shell_(shell), window_(window), transfer_(transfer), family_(std::move(family))
{
    save_ = make_button(window, "Sauvegarder", "Sauvegarder…", "Lit tout le monnayeur et l'enregistre dans un fichier");
    restore_ = make_button(window, "Restaurer", "Restaurer…", "Compare le monnayeur à un fichier et écrit ce qui diffère");
    next_ = make_button(window, "Suivant", "Suivant", "Programme le monnayeur suivant avec le même fichier");
    next_->setEnabled(false);
    connect(save_, &QPushButton::clicked, this, &SettingsPanel::save);
    connect(restore_, &QPushButton::clicked, this, &SettingsPanel::restore);
    connect(next_, &QPushButton::clicked, this, &SettingsPanel::next);
}

SettingsPanel::~SettingsPanel() = default;

void SettingsPanel::add_to(QBoxLayout* layout)
{
    layout->addWidget(save_);
    layout->addWidget(restore_);
    layout->addWidget(next_);
}

void SettingsPanel::save() {}
void SettingsPanel::restore() {}
void SettingsPanel::next() {}
void SettingsPanel::run_restore(bool) {}

bool show_comparison(QWidget*, const QString&, const settings::Comparison&) { return false; }

} // namespace zuna
