#include "c120/c_120.h"

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

#include "app/c_canal.h"
#include "app/shell.h"
#include "c120/c120_memory.h"
#include "c120/calibrate.h"
#include "link/port.h"
#include "link/timing.h"
#include "store/model_ui.h"

namespace zuna {

using namespace c120;

namespace {

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QString& hint = {})
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setToolTip(hint);
    b->setAutoDefault(false);
    return b;
}

QSpinBox* spin(QWidget* parent, const QString& name, int lo, int hi)
{
    auto* s = new QSpinBox(parent);
    s->setObjectName(name);
    s->setRange(lo, hi);
    return s;
}

QFrame* panel(QWidget* parent, const char* name, bool yellow)
{
    auto* f = new QFrame(parent);
    f->setObjectName(name);
    f->setFrameShape(QFrame::Panel);
    f->setFrameShadow(QFrame::Raised);
    if (yellow) {
        f->setAutoFillBackground(true);
        QPalette p = f->palette();
        p.setColor(QPalette::Window, Qt::yellow);
        f->setPalette(p);
    }
    f->hide();
    return f;
}

} // namespace

Tc_120::Tc_120(Shell& shell, QWidget* parent) : QDialog(parent), shell_(shell), s_(shell.station)
{
    setObjectName("c_120");
    setWindowTitle(shell.title("C 120"));
    show_message = default_sink(this, "C 120");

    auto* table = new QGridLayout;
    for (int c = 1; c <= 12; ++c) {
        auto* title = new QLabel(QString("Canal %1 :").arg(c), this);
        title->setObjectName(QString("Label%1").arg(c));
        table->addWidget(title, c, 0);
        for (int col = 1; col <= 7; ++col) {
            auto* l = new QLabel("0", this);
            l->setObjectName(QString("c%1%2").arg(c).arg(col));
            l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            l->setMinimumWidth(48);
            l->setFrameShape(QFrame::StyledPanel);
            c_[c - 1][col - 1] = l;
            table->addWidget(l, c, col);
        }
        auto* o = spin(this, QString("cc%1").arg(c), 0, 6);
        o->hide();
        cc_[c - 1] = o;
        table->addWidget(o, c, 8);
    }
    cc_ok = button(this, "cc_ok", "OK");
    cc_ab = button(this, "cc_ab", "Abandon");
    cc_ok->hide();
    cc_ab->hide();
    table->addWidget(cc_ok, 13, 8);
    table->addWidget(cc_ab, 14, 8);

    Button5 = button(this, "Button5", "Lecture", "Lecture des infos du monayeur");
    Button2 = button(this, "Button2", "Tester",
                     "voir dans quel canal la pièce  est active\nCliquer puis passer une pièce");
    Button1 = button(this, "Button1", "Calib. Piece", "Calibration d'une pièce avec le monayeur");
    Button3 = button(this, "Button3", "AJUST", "ajuster un canal manuellement");
    Button4 = button(this, "Button4", "SORTIES", "Programmer les cannaux de sorties");
    Button6 = button(this, "Button6", "Enr. Modèle", "Mémoriser un modèle de pièce");
    Button7 = button(this, "Button7", "Voir modèle", "Lire un modéle de pièce");
    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    auto* buttons = new QVBoxLayout;
    for (QWidget* b : {static_cast<QWidget*>(Button5), static_cast<QWidget*>(Button2), static_cast<QWidget*>(Button1),
                       static_cast<QWidget*>(Button3), static_cast<QWidget*>(Button4), static_cast<QWidget*>(Button6),
                       static_cast<QWidget*>(Button7)})
        buttons->addWidget(b);
    buttons->addWidget(SpeedButton1, 0, Qt::AlignLeft);
    buttons->addStretch();

    progresse = new QProgressBar(this);
    progresse->setObjectName("progresse");
    progresse->setRange(0, 128);
    progresse->hide();

    teste = panel(this, "teste", false);
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

    ajust = panel(this, "ajust", false);
    auto* al = new QHBoxLayout(ajust);
    for (int i = 0; i < 6; ++i) {
        l_[i] = spin(ajust, QString("l%1").arg(i + 1), 0, 255);
        al->addWidget(l_[i]);
    }
    ok = button(this, "ok", "OK");
    ab = button(this, "ab", "Abandon");
    ok->hide();
    ab->hide();

    choix_c = panel(this, "choix_c", true);
    canal = spin(choix_c, "canal", 1, 12);
    piece = new QLineEdit("PIECE", choix_c);
    piece->setObjectName("piece");
    piece->setMaxLength(15);
    connect(piece, &QLineEdit::textEdited, this, [this](const QString& t) {
        const int pos = piece->cursorPosition();
        piece->setText(t.toUpper());
        piece->setCursorPosition(pos);
    });
    auto* BitBtn1 = button(choix_c, "BitBtn1", "OK");
    auto* BitBtn2 = button(choix_c, "BitBtn2", "Abandon");
    auto* cl = new QHBoxLayout(choix_c);
    cl->addWidget(new QLabel("CANAL :", choix_c));
    cl->addWidget(canal);
    cl->addWidget(new QLabel("Piéce", choix_c));
    cl->addWidget(piece);
    cl->addWidget(BitBtn1);
    cl->addWidget(BitBtn2);

    vers_c = panel(this, "vers_c", true);
    f_p = new QLabel(vers_c);
    f_p->setObjectName("f_p");
    canal_v = spin(vers_c, "canal_v", 1, 12);
    auto* BitBtn3 = button(vers_c, "BitBtn3", "OK");
    auto* BitBtn4 = button(vers_c, "BitBtn4", "Abandon");
    auto* vl = new QHBoxLayout(vers_c);
    vl->addWidget(new QLabel("CANAL :", vers_c));
    vl->addWidget(f_p);
    vl->addWidget(new QLabel("Vers", vers_c));
    vl->addWidget(canal_v);
    vl->addWidget(BitBtn3);
    vl->addWidget(BitBtn4);

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
    col->addWidget(progresse);
    col->addWidget(teste, 0, Qt::AlignLeft);
    col->addLayout(edit_row);
    col->addWidget(choix_c);
    col->addWidget(vers_c);

    connect(Button1, &QPushButton::clicked, this, &Tc_120::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &Tc_120::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &Tc_120::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &Tc_120::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &Tc_120::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &Tc_120::Button6Click);
    connect(Button7, &QPushButton::clicked, this, &Tc_120::Button7Click);
    connect(SpeedButton1, &QToolButton::clicked, this, &Tc_120::SpeedButton1Click);
    connect(ok, &QPushButton::clicked, this, &Tc_120::okClick);
    connect(ab, &QPushButton::clicked, this, &Tc_120::abClick);
    connect(cc_ok, &QPushButton::clicked, this, &Tc_120::cc_okClick);
    connect(cc_ab, &QPushButton::clicked, this, &Tc_120::cc_abClick);
    connect(BitBtn1, &QPushButton::clicked, this, &Tc_120::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &Tc_120::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &Tc_120::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &Tc_120::BitBtn4Click);
}

void Tc_120::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    FormActivate();
}

void Tc_120::FormActivate()
{
    init_c();
    lit_mem_mech();
}

void Tc_120::init_c()
{
    c120::init_c(s_);
    highlight_all(255, 255, 255);
}

void Tc_120::highlight_all(int p1, int p2, int p3)
{
    const int v[3] = {p1, p2, p3};
    for (int c = 1; c <= 12; ++c)
        for (int k = 0; k < 3; ++k)
            highlight(cell(c, 2 * k + 1), cell(c, 2 * k + 2), v[k]);
}

void Tc_120::lit_mem_mech()
{
    const Image& im = s_.memory_image;
    if (im[0] != 1)
        return;
    for (int c = 1; c <= 12; ++c) {
        const auto b = channel_bounds(im, c);
        for (int i = 0; i < 6; ++i)
            cell(c, i + 1)->setText(QString::number(b[i]));
        const uint8_t out = im[output_index(c)];
        QLabel* o = cell(c, 7);
        o->setText(QString::fromStdString(output_text(out)));
        o->setToolTip(mask_output(out) < 0 ? QString("Octet de sortie inconnu : %1").arg(out) : QString());
    }
}

void Tc_120::show_unknown()
{
    for (auto& row : c_)
        for (QLabel* l : row)
            l->setText("?");
}

bool Tc_120::ready() { return delay_usable(s_.delay.c120, "C120", show_message); }

bool Tc_120::report(const WriteOutcome& o)
{
    if (o.result == WriteResult::Verified)
        return true;
    show_message(write_message(o.result, o.failed));
    return false;
}

void Tc_120::Button5Click()
{
    if (!ready())
        return;
    init_c();
    teste->hide();
    send_only(s_, kOpen);
    BarProgress bar(progresse);
    const int words = lecture(s_, &bar);
    const bool opened = s_.memory_image[0] == 1;
    if (words < kWordCount)
        s_.memory_image[0] = 0; // a part of the memory is not known: show and write nothing
    lit_mem_mech();
    ecrir_bit(s_, kBit1);
    send_record(s_, kClose);
    send_record(s_, read_word_command(kChecksumWord));
    ecrir_bit(s_, kRest);
    if (!opened)
        show_message("Le monayeur ne répond pas.");
    else if (words < kWordCount)
        show_message(QString("Lecture interrompue au mot %1 : le monayeur ne répond plus.").arg(words + 1));
}

void Tc_120::Button2Click()
{
    if (!ready())
        return;
    teste->show();
    CoinReply r;
    {
        MaskedSection masked(*s_.port);
        ecrir_bit(s_, kBit1);
        send_record(s_, read_word_command(kChecksumWord));
        send_record(s_, kOpen);
        s_.c120_read_timeout = kTimeoutTest;
        r = measure_coin(s_, true);
        send_record(s_, read_word_command(kChecksumWord));
        ecrir_bit(s_, kBit1);
        send_record(s_, read_word_command(kChecksumWord));
        send_record(s_, kClose);
        module_long_pause(*s_.port);
        send_record(s_, read_word_command(kChecksumWord));
        send_record(s_, read_word_command(kChecksumWord));
        ecrir_bit(s_, kRest);
    }
    if (r.measured) {
        t1->setText(QString::number(s_.symbols[3]));
        t2->setText(QString::number(s_.symbols[6]));
        t3->setText(QString::number(s_.symbols[9]));
        highlight_all(s_.symbols[3], s_.symbols[6], s_.symbols[9]);
    } else { // no coin measured: nothing lights up
        for (QLabel* t : {t1, t2, t3})
            t->setText("-");
        highlight_all(-1, -1, -1);
    }
    s_.c120_read_timeout = kTimeoutAfterTest;
    ecrir_bit(s_, kRest);
}

void Tc_120::Button1Click()
{
    teste->hide();
    if (auto* cal = shell_.dialog<Tcalibrate>()) {
        cal->exec();
    }
    if (!ready())
        return;
    ecrir_bit(s_, kBit1);
    send_record(s_, kClose);
    ecrir_bit(s_, kRest);
    lit_mem_mech();
}

void Tc_120::Button3Click()
{
    auto* prompt = shell_.dialog<TC_canal>();
    ajust_channel_ = prompt ? prompt->ask(12, this) : 1;
    teste->hide();
    ajust->show();
    ok->show();
    ab->show();
    const auto b = channel_bounds(s_.memory_image, ajust_channel_);
    for (int i = 0; i < 6; ++i)
        l_[i]->setValue(b[i]);
}

void Tc_120::okClick()
{
    if (auto* prompt = shell_.dialog<TC_canal>())
        ajust_channel_ = prompt->canal()->value();
    if (!ready() || !image_usable(s_, show_message))
        return;
    std::array<uint8_t, 6> b{};
    for (int i = 0; i < 6; ++i)
        b[i] = uint8_t(l_[i]->value());
    WriteOutcome o;
    {
        MaskedSection masked(*s_.port);
        ecrir_bit(s_, kRest);
        ecrir_bit(s_, kBit1);
        o = ecrit_words(s_, window_words(ajust_channel_, b));
        ecrir_bit(s_, kBit1);
        send_only(s_, kClose);
        send_only(s_, kOpen);
        ecrir_bit(s_, kRest);
    }
    ajust->hide();
    ok->hide();
    ab->hide();
    lit_mem_mech();
    if (!report(o) && s_.memory_image[0] != 1)
        show_unknown();
}

void Tc_120::abClick()
{
    ajust->hide();
    ok->hide();
    ab->hide();
}

void Tc_120::Button4Click()
{
    teste->hide();
    for (int c = 1; c <= 12; ++c) {
        cc_[c - 1]->setValue(label_int(cell(c, 7)));
        cc_[c - 1]->show();
    }
    cc_ok->show();
    cc_ab->show();
}

void Tc_120::cc_okClick()
{
    if (!ready() || !image_usable(s_, show_message))
        return;
    std::array<int, kChannels> outputs{};
    for (int c = 0; c < 12; ++c)
        outputs[c] = cc_[c]->value();
    WriteOutcome o;
    {
        MaskedSection masked(*s_.port);
        ecrir_bit(s_, kRest);
        ecrir_bit(s_, kBit1);
        o = ecrit_words(s_, output_words(outputs));
        ecrir_bit(s_, kBit1);
        send_only(s_, kClose);
        ecrir_bit(s_, kRest);
    }
    if (o.result == WriteResult::Verified)
        store_outputs(s_.memory_image, outputs);
    cc_abClick();
    lit_mem_mech();
    if (!report(o) && s_.memory_image[0] != 1)
        show_unknown();
}

void Tc_120::cc_abClick()
{
    for (QSpinBox* s : cc_)
        s->hide();
    cc_ok->hide();
    cc_ab->hide();
}

void Tc_120::Button6Click()
{
    teste->hide();
    canal->setMaximum(12);
    choix_c->show();
}

void Tc_120::BitBtn1Click()
{
    store::ModelRecord r;
    r.type = "C120";
    r.piece = piece->text().toStdString();
    const auto b = channel_bounds(s_.memory_image, canal->value());
    for (int i = 0; i < 6; ++i)
        r.c[i] = b[i];
    store::store_model(shell_, this, r);
    choix_c->hide();
}

void Tc_120::BitBtn2Click() { choix_c->hide(); }

void Tc_120::Button7Click()
{
    teste->hide();
    canal_v->setMaximum(12);
    model_ = store::choose_model(shell_, this, "C120");
    if (!model_)
        return;
    f_p->setText(QString::fromStdString(model_->piece));
    vers_c->show();
}

void Tc_120::BitBtn3Click()
{
    vers_c->hide();
    if (!model_ || !ready() || !image_usable(s_, show_message))
        return;
    std::array<uint8_t, 6> b{};
    for (int i = 0; i < 6; ++i) // a blank or out-of-range column is held in 0..255
        b[i] = uint8_t(std::clamp(model_->c[i].value_or(0), 0, 255));
    WriteOutcome o;
    {
        MaskedSection masked(*s_.port);
        ecrir_bit(s_, kRest);
        ecrir_bit(s_, kBit1);
        o = ecrit_words(s_, window_words(canal_v->value(), b));
        ecrir_bit(s_, kBit1);
        send_only(s_, kClose);
        send_only(s_, kOpen);
        ecrir_bit(s_, kRest);
    }
    lit_mem_mech();
    if (!report(o) && s_.memory_image[0] != 1)
        show_unknown();
}

void Tc_120::BitBtn4Click() { vers_c->hide(); }

void Tc_120::SpeedButton1Click()
{
    if (!ready() || !image_usable(s_, show_message))
        return;
    const WriteResult r = ecrit_data_1(s_, 113, checksum(s_.memory_image));
    lit_mem_mech();
    if (!report({r, 113}) && s_.memory_image[0] != 1)
        show_unknown();
}

void Tc_120::done(int r)
{
    if (!closed_) {
        closed_ = true;
        if (s_.delay.c120 >= 1)
            close_link(s_);
    }
    QDialog::done(r);
}

} // namespace zuna
