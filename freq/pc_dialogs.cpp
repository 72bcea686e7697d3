#include "freq/pc_dialogs.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "store/model_ui.h"
#include "ui/feedback.h"
#include "ui/shell.h"
#include "ui/widgets.h"

namespace zuna {


Tsauve_pc::Tsauve_pc(Shell& shell, QWidget* parent) : QDialog(parent), shell_(shell)
{
    setObjectName("sauve_pc");
    setWindowTitle(shell.title("Sauver les fréquences"));
    auto* col = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("PC : ", this));
    ap_ = new QLineEdit(this);
    ap_->setObjectName("ap");
    ap_->setMaxLength(25);
    connect(ap_, &QLineEdit::textEdited, this, [this](const QString& t) {
        const int pos = ap_->cursorPosition();
        ap_->setText(store::upper_name(shell_, t));
        ap_->setCursorPosition(pos);
    });
    row->addWidget(ap_);
    col->addLayout(row);
    auto* buttons = new QHBoxLayout;
    auto* ok = make_button(this, "BitBtn1", "OK");
    auto* ab = make_button(this, "BitBtn2", "Abandon");
    ok->setDefault(true);
    buttons->addWidget(ok);
    buttons->addWidget(ab);
    col->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &Tsauve_pc::okClick);
    connect(ab, &QPushButton::clicked, this, &QDialog::reject);
}

bool Tsauve_pc::save(const store::FrequencyRecord& counts)
{
    record_ = counts;
    ap_->clear();
    return exec() == QDialog::Accepted;
}

void Tsauve_pc::okClick()
{
    const MessageSink tell = default_sink(this, "ZUNA 07");
    if (!shell_.frequencies) {
        tell("La table des fréquences calib.dbf n'est pas ouverte : rien n'est enregistré.");
        return;
    }
    store::FrequencyRecord r = record_;
    r.appareil = ap_->text().toStdString();
    std::string error;
    if (!shell_.frequencies->append(r, &error)) {
        tell(QString::fromStdString(error)); // the dialog stays open with what was typed
        return;
    }
    accept();
}

namespace {
const char* const kColumns[] = {"APPAREIL", "C120", "C220", "C220B", "G13", "G136", "RM3", "RM4"};

QString cell(const std::optional<int>& v) { return v ? QString::number(*v) : QString(); }
} // namespace

Tlire_pc::Tlire_pc(Shell& shell, QWidget* parent) : QDialog(parent), shell_(shell)
{
    setObjectName("lire_pc");
    setWindowTitle(shell.title("Lire les fréquences "));
    confirm_delete = [](QWidget* over) {
        return QMessageBox::question(over, "Confirmation", "Supprimer l'enregistrement ?",
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    };
    auto* col = new QVBoxLayout(this);
    grid_ = new QTableWidget(0, 8, this);
    grid_->setObjectName("DBGrid1");
    QStringList titles;
    for (const char* c : kColumns)
        titles << c;
    grid_->setHorizontalHeaderLabels(titles);
    grid_->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->verticalHeader()->hide();
    grid_->setColumnWidth(0, 200);
    for (int c = 1; c < 8; ++c)
        grid_->setColumnWidth(c, 60);
    grid_->setMinimumWidth(200 + 7 * 60 + 2 * grid_->frameWidth() + 4);
    col->addWidget(grid_);
    auto* buttons = new QHBoxLayout;
    auto* ok = make_button(this, "BitBtn1", "OK", "Selectionner");
    auto* ab = make_button(this, "BitBtn2", "Abandon");
    auto* del = make_button(this, "Button1", "Supprimer");
    buttons->addWidget(ok);
    buttons->addWidget(ab);
    buttons->addWidget(del);
    col->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, [this] {
        if (grid_->currentRow() >= 0)
            accept();
    });
    connect(ab, &QPushButton::clicked, this, &QDialog::reject);
    connect(del, &QPushButton::clicked, this, &Tlire_pc::SupprimerClick);
    connect(grid_, &QTableWidget::cellDoubleClicked, this, [this] { accept(); });
}

void Tlire_pc::refresh(int row)
{
    grid_->setRowCount(0);
    if (!shell_.frequencies)
        return;
    const std::vector<store::FrequencyRecord> records = shell_.frequencies->records();
    grid_->setRowCount(int(records.size()));
    for (int i = 0; i < int(records.size()); ++i) {
        const store::FrequencyRecord& r = records[size_t(i)];
        const QString values[8] = {QString::fromStdString(r.appareil), cell(r.c120), cell(r.c220), cell(r.c220b),
                                   cell(r.g13), cell(r.g136), cell(r.rm3), cell(r.rm4)};
        for (int c = 0; c < 8; ++c) {
            auto* item = new QTableWidgetItem(values[c]);
            item->setTextAlignment(Qt::AlignCenter);
            grid_->setItem(i, c, item);
        }
    }
    if (!records.empty())
        grid_->selectRow(std::clamp(row, 0, int(records.size()) - 1));
}

std::optional<store::FrequencyRecord> Tlire_pc::choose()
{
    if (!shell_.frequencies) {
        default_sink(parentWidget(), "ZUNA 07")("La table des fréquences calib.dbf n'est pas ouverte.");
        return std::nullopt;
    }
    refresh(0);
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    const int row = grid_->currentRow();
    const std::vector<store::FrequencyRecord> records = shell_.frequencies->records();
    if (row < 0 || row >= int(records.size()))
        return std::nullopt;
    return records[size_t(row)];
}

void Tlire_pc::SupprimerClick()
{
    const int row = grid_->currentRow();
    if (!shell_.frequencies || row < 0 || !confirm_delete(this))
        return;
    std::string error;
    if (!shell_.frequencies->go_to(row) || !shell_.frequencies->delete_current(&error))
        default_sink(this, "ZUNA 07")(QString::fromStdString(error.empty() ? "Suppression impossible." : error));
    refresh(row);
}

} // namespace zuna
