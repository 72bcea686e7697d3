#include "c120/channel_window.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/c_canal.h"
#include "ui/settings_panel.h"
#include "ui/shell.h"
#include "ui/transfer.h"
#include "c120/c120_memory.h"
#include "c120/calibrate.h"
#include "store/model_ui.h"
#include "ui/widgets.h"

namespace zuna {

using namespace c120;

ChannelWindow::ChannelWindow(Shell& shell, const ChannelWindowLook& look, const char* model_type, QWidget* parent)
    : QDialog(parent), shell_(shell), s_(shell.station), channels_(look.channels), model_type_(model_type),
      cells_(look.channels), kind_(look.kind)
{
    setObjectName(look.object_name);
    setWindowTitle(shell.title(look.caption));
    show_message = default_sink(this, look.caption);

    auto* table = new QGridLayout;
    for (int c = 1; c <= channels_; ++c) {
        auto* title = new QLabel(QString("Canal %1 :").arg(c), this);
        title->setObjectName(QString("Label%1").arg(c));
        table->addWidget(title, c, 0);
        for (int col = 1; col <= 7; ++col) {
            auto* l = new QLabel("0", this);
            l->setObjectName(QString("c%1%2").arg(c).arg(col));
            l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            l->setMinimumWidth(48);
            l->setFrameShape(QFrame::StyledPanel);
            cells_[c - 1][col - 1] = l;
            table->addWidget(l, c, col);
        }
        auto* o = make_spin(this, QString("cc%1").arg(c), 0, 6, 0);
        o->hide();
        cc_.push_back(o);
        table->addWidget(o, c, 8);
    }
    cc_ok = make_button(this, "cc_ok", "OK");
    cc_ab = make_button(this, "cc_ab", "Abandon");
    cc_ok->hide();
    cc_ab->hide();
    table->addWidget(cc_ok, channels_ + 1, 8);
    table->addWidget(cc_ab, channels_ + 2, 8);

    Button5 = make_button(this, "Button5", look.read_caption, "Lecture des infos du monayeur");
    Button2 = make_button(this, "Button2", "Tester", look.test_hint);
    Button1 = make_button(this, "Button1", "Calib. Piece", "Calibration d'une pièce avec le monayeur");
    Button3 = make_button(this, "Button3", "AJUST", "ajuster un canal manuellement");
    Button4 = make_button(this, "Button4", "SORTIES", "Programmer les cannaux de sorties");
    Button6 = make_button(this, "Button6", "Enr. Modèle", look.store_hint);
    Button7 = make_button(this, "Button7", "Voir modèle", "Lire un modéle de pièce");
    if (look.checksum_repair) {
        SpeedButton1 = new QToolButton(this);
        SpeedButton1->setObjectName("SpeedButton1");
        SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    }
    auto* buttons = new QVBoxLayout;
    for (QWidget* b : {static_cast<QWidget*>(Button5), static_cast<QWidget*>(Button2), static_cast<QWidget*>(Button1),
                       static_cast<QWidget*>(Button3), static_cast<QWidget*>(Button4), static_cast<QWidget*>(Button6),
                       static_cast<QWidget*>(Button7)})
        buttons->addWidget(b);
    if (SpeedButton1)
        buttons->addWidget(SpeedButton1, 0, Qt::AlignLeft);
    buttons->addStretch();

    progress_ = new QProgressBar(this);
    progress_->setObjectName(look.progress_name);
    progress_->setRange(0, 128);
    progress_->hide();
    transfer_ = new Transfer(shell.transfers, this, progress_);

    settings_ = new SettingsPanel(shell, this, *transfer_, look.settings());
    settings_->ready = [this] { return ready(); };
    settings_->overlap_ask = [this](const QString& q) { return ask_overlap(q); };
    settings_->after_write = [this] {
        lit_mem_mech();
        views_->refresh();
    };
    // A save or a restore reads the whole mechanism (the next one, for
    // "Suivant"): the table and the view show it afterwards, written or not.
    for (QPushButton* b : {settings_->save_button(), settings_->restore_button(), settings_->next_button()})
        connect(b, &QPushButton::clicked, this, [this] {
            lit_mem_mech();
            views_->refresh();
        });
    views_ = new ViewButtons(shell, this, [this] { return bands(); }, [this] { return sheet(); });
    ask_overlap = default_overlap_ask(this);
    auto* file_row = zuna::file_row(settings_, views_);

    teste = make_panel(this, "teste", false);
    t1 = new QLabel("0", teste);
    t2 = new QLabel("0", teste);
    t3 = new QLabel("0", teste);
    t1->setObjectName("t1");
    t2->setObjectName("t2");
    t3->setObjectName("t3");
    auto* tl = new QHBoxLayout(teste);
    for (QLabel* t : {t1, t2, t3}) {
        t->setMinimumWidth(40);
        tl->addWidget(t);
    }

    ajust = make_panel(this, "ajust", false);
    auto* al = new QHBoxLayout(ajust);
    for (int i = 0; i < 6; ++i) {
        l_[i] = make_spin(ajust, QString("l%1").arg(i + 1), 0, 255, 0);
        al->addWidget(l_[i]);
    }
    ok = make_button(this, "ok", "OK");
    ab = make_button(this, "ab", "Abandon");
    ok->hide();
    ab->hide();

    const StorePanel store = make_store_panel(shell_, this, channels_, true);
    choix_c = store.box;
    canal = store.canal;
    piece = store.piece;
    auto* BitBtn1 = store.ok;
    auto* BitBtn2 = store.abandon;

    const ModelPanel model = make_model_panel(this, channels_, true);
    vers_c = model.box;
    f_p = model.f_p;
    canal_v = model.canal_v;
    auto* BitBtn3 = model.ok;
    auto* BitBtn4 = model.abandon;

    auto* top = new QHBoxLayout;
    top->addLayout(table);
    top->addLayout(buttons);
    auto* edit_row = new QHBoxLayout;
    edit_row->addWidget(ajust);
    edit_row->addWidget(ok);
    edit_row->addWidget(ab);
    edit_row->addStretch();
    auto* col = new QVBoxLayout(this);
    col->addLayout(top);
    col->addLayout(file_row);
    auto* progress_row = new QHBoxLayout;
    progress_row->addWidget(progress_);
    progress_row->addWidget(transfer_->stop_button());
    col->addLayout(progress_row);
    col->addWidget(teste, 0, Qt::AlignLeft);
    col->addLayout(edit_row);
    col->addWidget(choix_c);
    col->addWidget(vers_c);

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
    connect(Button6, &QPushButton::clicked, this, &ChannelWindow::Button6Click);
    connect(Button7, &QPushButton::clicked, this, &ChannelWindow::Button7Click);
    if (SpeedButton1)
        connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(ok, &QPushButton::clicked, this, [this] { okClick(); });
    connect(ab, &QPushButton::clicked, this, &ChannelWindow::abClick);
    connect(cc_ok, &QPushButton::clicked, this, [this] { cc_okClick(); });
    connect(cc_ab, &QPushButton::clicked, this, &ChannelWindow::cc_abClick);
    connect(BitBtn1, &QPushButton::clicked, this, &ChannelWindow::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &ChannelWindow::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, [this] { BitBtn3Click(); });
    connect(BitBtn4, &QPushButton::clicked, this, &ChannelWindow::BitBtn4Click);
}

void ChannelWindow::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    FormActivate();
}

void ChannelWindow::highlight_all(int p1, int p2, int p3)
{
    const int v[3] = {p1, p2, p3};
    for (int c = 1; c <= channels_; ++c)
        for (int k = 0; k < 3; ++k)
            highlight(cell(c, 2 * k + 1), cell(c, 2 * k + 2), v[k]);
}

void ChannelWindow::lit_mem_mech()
{
    if (s_.memory_image[0] != 1)
        return;
    for (int c = 1; c <= channels_; ++c) {
        const auto b = bounds(c);
        for (int i = 0; i < 6; ++i)
            cell(c, i + 1)->setText(QString::number(b[i]));
        QLabel* o = cell(c, 7);
        o->setText(output_label(c));
        o->setToolTip(output_known(c) ? QString() : QString("Octet de sortie inconnu : %1").arg(output_label(c).mid(1)));
    }
}

void ChannelWindow::show_unknown()
{
    for (auto& row : cells_)
        for (QLabel* l : row)
            l->setText("?");
}

void ChannelWindow::show_test(bool measured)
{
    shown_.coin.reset();
    if (measured)
        shown_.coin = {s_.symbols[3], s_.symbols[6], s_.symbols[9]};
    views_->refresh();
    if (measured) {
        t1->setText(QString::number(s_.symbols[3]));
        t2->setText(QString::number(s_.symbols[6]));
        t3->setText(QString::number(s_.symbols[9]));
        if (s_.memory_image[0] == 1)
            highlight_all(s_.symbols[3], s_.symbols[6], s_.symbols[9]);
        else // the table is not the mechanism's (unread, or "?" after a write): nothing lit
            highlight_all(-1, -1, -1);
    } else { // no coin measured: nothing shown as read, nothing lit
        for (QLabel* t : {t1, t2, t3})
            t->setText("-");
        highlight_all(-1, -1, -1);
    }
}

bool ChannelWindow::run(const std::function<void(Progress&)>& op, bool stoppable)
{
    transfer_->set_stoppable(stoppable);
    return transfer_->run(op);
}

void ChannelWindow::report(const WriteOutcome& o)
{
    lit_mem_mech();
    views_->refresh();
    const QString m = write_message(o);
    if (m.isEmpty())
        return;
    show_message(m);
    if (s_.memory_image[0] != 1)
        show_unknown();
}

void ChannelWindow::report(const ReadResult& r)
{
    lit_mem_mech(); // shows nothing unless the read was whole
    views_->refresh();
    const QString m = read_message(r);
    if (!m.isEmpty())
        show_message(m);
}

void ChannelWindow::show_ajust(int c)
{
    teste->hide();
    ajust->show();
    ok->show();
    ab->show();
    const auto b = bounds(c);
    for (int i = 0; i < 6; ++i)
        l_[i]->setValue(b[i]);
}

std::array<uint8_t, 6> ChannelWindow::ajust_bounds() const
{
    std::array<uint8_t, 6> b{};
    for (int i = 0; i < 6; ++i)
        b[i] = uint8_t(l_[i]->value());
    return b;
}

void ChannelWindow::abClick()
{
    ajust->hide();
    ok->hide();
    ab->hide();
}

void ChannelWindow::show_outputs(bool visible)
{
    for (int c = 1; c <= channels_; ++c) {
        if (visible)
            cc_[c - 1]->setValue(label_int(cell(c, 7)));
        cc_[c - 1]->setVisible(visible);
    }
    cc_ok->setVisible(visible);
    cc_ab->setVisible(visible);
}

std::vector<int> ChannelWindow::output_spins() const
{
    std::vector<int> v;
    for (QSpinBox* s : cc_)
        v.push_back(s->value());
    return v;
}

void ChannelWindow::cc_abClick() { show_outputs(false); }

void ChannelWindow::Button6Click()
{
    hide_other_groups();
    teste->hide();
    canal->setMaximum(channels_);
    choix_c->show();
}

void ChannelWindow::BitBtn1Click()
{
    if (s_.memory_image[0] != 1) {
        // The table does not show what the mechanism holds: no model from it.
        show_message("Le tableau ne montre pas ce que le monnayeur contient : relisez le monnayeur, aucun modèle "
                      "n'a été enregistré.");
        return;
    }
    store::ModelRecord r;
    r.type = model_type_;
    r.piece = piece->text().toStdString();
    const auto b = bounds(canal->value());
    for (int i = 0; i < 6; ++i)
        r.c[i] = b[i];
    // A refused name keeps the panel open with what the operator typed.
    if (store::store_model(shell_, this, r))
        choix_c->hide();
}

void ChannelWindow::BitBtn2Click() { choix_c->hide(); }

void ChannelWindow::Button7Click()
{
    hide_other_groups();
    teste->hide();
    canal_v->setMaximum(channels_);
    model_ = store::choose_model(shell_, this, model_type_);
    if (!model_)
        return;
    f_p->setText(QString::fromStdString(model_->piece));
    vers_c->show();
}

std::array<uint8_t, 6> ChannelWindow::model_bounds() const
{
    std::array<uint8_t, 6> b{};
    for (int i = 0; i < 6; ++i) // a blank or out-of-range column is held in 0..255
        b[i] = uint8_t(std::clamp(model_ ? model_->c[i].value_or(0) : 0, 0, 255));
    return b;
}

void ChannelWindow::BitBtn4Click() { vers_c->hide(); }

settings::BandSet ChannelWindow::bands() const { return window_bands(kind_, s_.memory_image, shown_); }

Sheet ChannelWindow::sheet() const
{
    Sheet sh;
    sh.bands = bands();
    sh.family = QString::fromStdString(sh.bands.family);
    const bool read = s_.memory_image[0] == 1;
    if (kind_ == Kind::C220B)
        sh.facts.push_back({"Compte de délai C220B", QString::number(s_.delay.c220b)});
    sh.facts.push_back({"Compte de délai C120", QString::number(s_.delay.c120)});
    if (read)
        sh.facts.push_back({"Somme de contrôle", QString("%1 (%2)")
                                                     .arg(s_.memory_image[kChecksumByte + 1])
                                                     .arg(checksum_holds(s_.memory_image) ? "juste" : "fausse")});
    else // the table is not the mechanism's: nothing of it goes on the sheet
        sh.facts.push_back({"Mémoire", "non lue"});
    if (shown_.coin)
        sh.facts.push_back({"Dernière pièce testée",
                            QString("%1 / %2 / %3").arg((*shown_.coin)[0]).arg((*shown_.coin)[1]).arg((*shown_.coin)[2])});
    sh.columns = {"Canal", "M1 max", "M1 min", "M2 max", "M2 min", "M3 max", "M3 min", "Sortie"};
    for (int c = 1; c <= channels_; ++c) {
        QStringList row{QString::number(c)};
        for (int col = 1; col <= 7; ++col)
            row << (read ? cell(c, col)->text() : QString("-"));
        sh.rows.push_back(row);
    }
    return sh;
}

bool ChannelWindow::overlap_allowed(int c, const std::array<uint8_t, 6>& bounds)
{
    const settings::ChannelBands written = channel_bands(c, bounds);
    return !written.enabled || write_allowed(bands(), c, written.windows, ask_overlap);
}

void ChannelWindow::follow_teach(TeachWindow* teach, ValidWindow* valid)
{
    shown_.samples.clear();
    shown_.proposed.reset();
    if (teach)
        teach->samples_changed = [this, teach] {
            shown_.samples = teach->samples();
            views_->refresh();
        };
    if (valid) {
        valid->proposal_changed = [this, valid] {
            shown_.proposed = valid->widened();
            shown_.proposed_channel = valid->channel();
            views_->refresh();
        };
        valid->allowed = [this](int c, const std::array<uint8_t, 6>& b) { return overlap_allowed(c, b); };
    }
}

void ChannelWindow::end_teach(TeachWindow* teach, ValidWindow* valid)
{
    if (teach)
        teach->samples_changed = nullptr;
    if (valid) {
        valid->proposal_changed = nullptr;
        valid->allowed = nullptr;
    }
    shown_.samples.clear();
    shown_.proposed.reset();
    views_->refresh();
}

} // namespace zuna
