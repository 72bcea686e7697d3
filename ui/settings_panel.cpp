#include "ui/settings_panel.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>

#include "ui/band_view.h"
#include "settings_file/settings_file.h"
#include "ui/shell.h"
#include "ui/transfer.h"
#include "ui/widgets.h"

namespace zuna {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }

QString file_filter() { return "Réglages de monnayeur (*.zuna.json)"; }
} // namespace

SettingsPanel::SettingsPanel(Shell& shell, QWidget* window, Transfer& transfer,
                             std::unique_ptr<settings::Family> family)
    : QObject(window), shell_(shell), window_(window), transfer_(transfer), family_(std::move(family))
{
    save_ = make_button(window, "Sauvegarder", "Sauvegarder…", "Lit tout le monnayeur et l'enregistre dans un fichier");
    restore_ = make_button(window, "Restaurer", "Restaurer…",
                           "Compare le monnayeur à un fichier de réglages et écrit ce qui diffère");
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

void SettingsPanel::save()
{
    if (ready && !ready())
        return;
    const MessageSink say = tell ? tell : default_sink(window_, window_->windowTitle());
    QString path =
        choose_file ? choose_file(true)
                    : QFileDialog::getSaveFileName(window_, shell_.title("Sauvegarder les réglages"),
                                                   q(family_->title()).replace(' ', '-').replace('.', '-') + "-" +
                                                       QDate::currentDate().toString("yyyyMMdd") + settings::kSuffix,
                                                   file_filter());
    if (path.isEmpty())
        return;
    if (!path.endsWith(settings::kSuffix))
        path += settings::kSuffix;
    settings::Snapshot snap;
    std::string error;
    transfer_.run([&](Progress& p) { error = family_->read(shell_.station, &p, snap); });
    if (transfer_.stopped()) {
        say("Lecture arrêtée : rien n'est enregistré.");
        return;
    }
    if (!error.empty()) {
        say(q(error) + "\nRien n'est enregistré.");
        return;
    }
    snap.family = family_->code();
    snap.date = QDateTime::currentDateTime().toString("yyyy-MM-ddTHH:mm:ss").toStdString();
    QString file_error;
    if (!settings::save_file(path, *family_, snap, &file_error)) {
        say(file_error);
        return;
    }
    // Done as asked: an information, not a warning.
    (tell ? tell : info_sink(window_, window_->windowTitle()))("Réglages enregistrés dans " + QFileInfo(path).fileName() + ".");
}

void SettingsPanel::restore()
{
    if (ready && !ready())
        return;
    const MessageSink say = tell ? tell : default_sink(window_, window_->windowTitle());
    const QString path = choose_file ? choose_file(false)
                                     : QFileDialog::getOpenFileName(window_, shell_.title("Restaurer des réglages"), QString(),
                                                                    file_filter() + ";;Tous les fichiers (*)");
    if (path.isEmpty())
        return;
    QString error;
    std::optional<settings::Snapshot> file = settings::load_file(path, *family_, &error);
    if (!file) {
        say(error + "\nRien n'est écrit.");
        return;
    }
    path_ = path;
    file_ = std::move(file);
    next_->setEnabled(true);
    run_restore(false);
}

void SettingsPanel::next()
{
    if (!file_)
        return;
    if (ready && !ready())
        return;
    const bool plugged = next_plugged ? next_plugged()
                                      : QMessageBox::question(window_, window_->windowTitle(),
                                                              "Branchez le monnayeur suivant",
                                                              QMessageBox::Ok | QMessageBox::Cancel,
                                                              QMessageBox::Ok) == QMessageBox::Ok;
    if (!plugged)
        return;
    if (shell_.next_mechanism)
        shell_.next_mechanism();
    run_restore(true);
}

void SettingsPanel::run_restore(bool clone)
{
    (void)clone;
    const MessageSink say = tell ? tell : default_sink(window_, window_->windowTitle());
    std::optional<settings::Comparison> before;
    std::string error;
    transfer_.run([&](Progress& p) { before = settings::read_and_compare(shell_.station, *family_, *file_, &p, &error); });
    settings::Outcome o;
    if (transfer_.stopped() && !before) {
        say("Lecture arrêtée : rien n'est écrit.");
        return;
    }
    if (!before) {
        o.kind = settings::Outcome::NoAnswer;
        o.error = error;
        say(q(o.message())); // says that nothing is written
        last_ = o;
        QString log_error;
        if (!settings::append_log(path_, family_->code(), o, &log_error))
            say(log_error);
        return;
    }
    const std::vector<std::string> changes = before->to_write();
    if (!changes.empty()) {
        const bool write = confirm ? confirm(*before)
                                   : show_comparison(window_, shell_.title("Comparaison - " + q(family_->title())), *before);
        if (!write)
            return;
        // A file whose windows overlap is written only when the operator says so.
        const auto pairs = settings::overlaps(family_->bands(*file_));
        if (!pairs.empty()) {
            const OverlapAsk ask = overlap_ask ? overlap_ask : default_overlap_ask(window_);
            if (!ask(q(settings::overlap_question(pairs))))
                return;
        }
        transfer_.run([&](Progress& p) { o = settings::write_and_verify(shell_.station, *family_, *file_, *before, &p); });
    } else {
        o.before = *before;
    }
    last_ = o;
    (tell || o.kind != settings::Outcome::Held ? say : info_sink(window_, window_->windowTitle()))(q(o.message()));
    QString log_error;
    if (!settings::append_log(path_, family_->code(), o, &log_error))
        say(log_error);
    if (!o.written.empty() || !o.failed.empty())
        if (after_write)
            after_write();
}

bool show_comparison(QWidget* parent, const QString& title, const settings::Comparison& c)
{
    QDialog d(parent);
    d.setObjectName("Comparaison");
    d.setWindowTitle(title);
    const std::vector<std::string> changes = c.to_write();
    auto* head = new QLabel(&d);
    const size_t n = changes.size();
    head->setText(n == 0   ? QString("Le monnayeur a déjà tous les réglages du fichier.")
                  : n == 1 ? QString("1 réglage du monnayeur diffère du fichier et sera écrit ; la ligne marquée est "
                                     "celle qui change.")
                           : QString("%1 réglages du monnayeur diffèrent du fichier et seront écrits ; les lignes "
                                     "marquées sont celles qui changent.")
                                 .arg(n));
    head->setWordWrap(true);
    auto* only = new QCheckBox("N'afficher que les différences", &d);
    auto* table = new QTableWidget(&d);
    table->setObjectName("comparaison");
    table->setColumnCount(4);
    table->setHorizontalHeaderLabels({"Réglage", "Monnayeur", "Fichier", ""});
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    int row = 0;
    auto add_row = [&](const QString& name, const QString& mech, const QString& file, const QString& mark, bool differs,
                       bool writable) {
        table->insertRow(row);
        const QStringList cells = {name, mech, file, mark};
        for (int col = 0; col < 4; ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            if (col == 1 || col == 2)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (differs) {
                item->setBackground(writable ? QColor(255, 235, 150) : QColor(230, 230, 230));
                QFont f = item->font();
                f.setBold(writable);
                item->setFont(f);
            }
            table->setItem(row, col, item);
        }
        table->setRowHidden(row, false);
        table->item(row, 0)->setData(Qt::UserRole, differs);
        ++row;
    };
    for (const auto& [name, values] : c.identity)
        add_row(q(name), q(values.first), q(values.second), values.first != values.second ? "lecture seule" : "",
                values.first != values.second, false);
    for (const settings::Row& r : c.rows)
        add_row(q(r.name), r.mechanism ? QString::number(*r.mechanism) : "non lu", QString::number(r.file),
                r.differs() ? (r.writable ? "à écrire" : "lecture seule") : "", r.differs(), r.writable);
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    QObject::connect(only, &QCheckBox::toggled, table, [table](bool on) {
        for (int r = 0; r < table->rowCount(); ++r)
            table->setRowHidden(r, on && !table->item(r, 0)->data(Qt::UserRole).toBool());
    });
    auto* buttons = new QDialogButtonBox(&d);
    QPushButton* write = buttons->addButton(QString("Écrire %1 réglage%2").arg(changes.size()).arg(changes.size() > 1 ? "s" : ""),
                                            QDialogButtonBox::AcceptRole);
    write->setObjectName("Ecrire");
    buttons->addButton(QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
    auto* layout = new QVBoxLayout(&d);
    layout->addWidget(head);
    layout->addWidget(only);
    layout->addWidget(table, 1);
    layout->addWidget(buttons);
    d.resize(620, 520);
    return d.exec() == QDialog::Accepted;
}

} // namespace zuna
