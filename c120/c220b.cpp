#include "c120/c220b.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>

#include "ui/c_canal.h"
#include "ui/shell.h"
#include "c120/c220b_link.h"
#include "link/port.h"

namespace zuna {

using c120::WriteOutcome;
using c120::WriteResult;
namespace b = c220b;

namespace {
const ChannelWindowLook kLook = {
    "c220b", "c220b", 16, "lecture", "voir dans quel canal la pièce  est active",
    "Mémorisez un modèle de pièce", "Progresse", false,
};
} // namespace

bool c220b_ready(const Station& s, const MessageSink& tell)
{
    return c120::delay_usable(s.delay.c220b, "C220B", tell) && c120::delay_usable(s.delay.c120, "C120", tell);
}

Tc220b::Tc220b(Shell& shell, QWidget* parent) : ChannelWindow(shell, kLook, "C22B", parent) {}

std::array<uint8_t, 6> Tc220b::bounds(int c) const { return b::channel_bounds(s_.memory_image, c); }

QString Tc220b::output_label(int c) const
{
    return QString::fromStdString(b::output_text(s_.memory_image[b::output_byte(c) + 1]));
}

bool Tc220b::output_known(int c) const { return !output_label(c).startsWith('?'); }

void Tc220b::init_c()
{
    std::fill(s_.symbols.begin(), s_.symbols.begin() + 11, uint8_t(255));
    highlight_all(255, 255, 255);
}

void Tc220b::FormActivate()
{
    std::fill(s_.memory_image.begin(), s_.memory_image.begin() + 127, uint8_t(0));
    lit_mem_mech();
    init_c();
}

void Tc220b::hide_groups()
{
    abClick();
    cc_abClick();
    choix_c->hide();
    vers_c->hide();
}

void Tc220b::Button5Click()
{
    if (!c220b_ready(s_, show_message))
        return;
    init_c();
    cc_abClick();
    teste->hide();
    BarProgress bar(progress_);
    const int words = b::lecture_c220(s_, &bar);
    const bool opened = s_.memory_image[0] == 1;
    if (words < c120::kWordCount) {
        // The table stays as it was; the image is not whole, so nothing may be written from it.
        s_.memory_image[0] = 0;
        show_message(opened ? QString("Lecture interrompue au mot %1 : le monayeur ne répond plus.").arg(words + 1)
                            : QString("Le monayeur ne répond pas."));
        return;
    }
    lit_mem_mech();
}

void Tc220b::Button2Click()
{
    if (!c220b_ready(s_, show_message))
        return;
    cc_abClick();
    teste->show();
    c120::CoinReply r;
    s_.c120_read_timeout = c120::kTimeoutTest;
    {
        MaskedSection masked(*s_.port);
        c120::ecrir_bit(s_, b::kBefore);
        b::send_table(s_, b::kClose, b::kWinOpenClose);
        b::send_table(s_, b::kOpen, b::kWinOpenClose);
        r = b::measure_coin_c220(s_);
        const std::array<uint8_t, 3> coin = {s_.symbols[3], s_.symbols[6], s_.symbols[9]};
        b::send_table(s_, b::kClose, b::kWinOpenClose);
        s_.symbols[3] = coin[0]; // the close's answer must not hide the coin's
        s_.symbols[6] = coin[1];
        s_.symbols[9] = coin[2];
    }
    show_test(r.measured);
    s_.c120_read_timeout = c120::kTimeoutAfterTest;
    if (!r.acknowledged)
        show_message("Le monayeur ne répond pas.");
}

void Tc220b::Button1Click()
{
    cc_abClick();
    if (!c120::teach_usable(s_, show_message))
        return;
    if (auto* cal = shell_.dialog<Tcalibrate_c220>())
        cal->exec();
    if (!c220b_ready(s_, show_message))
        return;
    c120::ecrir_bit(s_, b::kBefore);
    b::send_table(s_, b::kClose, b::kWinOpenClose);
    c120::ecrir_bit(s_, b::kRest);
    lit_mem_mech();
}

void Tc220b::Button3Click()
{
    hide_groups();
    auto* prompt = shell_.dialog<TC_canal>();
    ajust_channel_ = prompt ? prompt->ask(channels_, this) : 1;
    show_ajust(ajust_channel_);
}

void Tc220b::okClick()
{
    if (auto* prompt = shell_.dialog<TC_canal>())
        ajust_channel_ = prompt->canal()->value();
    if (!c220b_ready(s_, show_message) || !c120::image_usable(s_, show_message))
        return;
    const WriteOutcome o = write_windows(ajust_channel_, ajust_bounds(), false);
    abClick();
    lit_mem_mech();
    report(o);
}

// The three window words of channel c, framed as the hand edit and the model
// load frame them; the model load opens the link again afterwards.
WriteOutcome Tc220b::write_windows(int c, const std::array<uint8_t, 6>& bounds, bool reopen)
{
    MaskedSection masked(*s_.port);
    c120::ecrir_bit(s_, b::kRest);
    c120::ecrir_bit(s_, b::kBefore);
    const WriteOutcome o = b::ecrit_words(s_, b::window_words(c, bounds));
    c120::ecrir_bit(s_, b::kBefore);
    b::send_table(s_, b::kClose, b::kWinOpenClose);
    c120::ecrir_bit(s_, b::kRest);
    if (reopen)
        b::send_table(s_, b::kOpen, b::kWinOpenClose);
    return o;
}

void Tc220b::Button4Click()
{
    hide_groups();
    teste->hide();
    show_outputs(true);
}

void Tc220b::cc_okClick()
{
    if (!c220b_ready(s_, show_message) || !c120::image_usable(s_, show_message))
        return;
    std::array<int, b::kChannels> spins{};
    const std::vector<int> v = output_spins();
    std::copy(v.begin(), v.end(), spins.begin());
    WriteOutcome o;
    {
        MaskedSection masked(*s_.port);
        c120::ecrir_bit(s_, b::kBefore);
        o = b::ecrit_words(s_, b::output_words(s_.memory_image, spins));
        c120::ecrir_bit(s_, b::kBefore);
        b::send_table(s_, b::kClose, b::kWinOpenClose);
        c120::ecrir_bit(s_, b::kRest);
    }
    // Into the image only once the mechanism holds them all.
    if (o.result == WriteResult::Verified)
        b::store_outputs(s_.memory_image, spins);
    cc_abClick();
    lit_mem_mech();
    report(o);
}

void Tc220b::BitBtn3Click()
{
    vers_c->hide();
    if (!model_ || !c220b_ready(s_, show_message) || !c120::image_usable(s_, show_message))
        return;
    const WriteOutcome o = write_windows(canal_v->value(), model_bounds(), true);
    lit_mem_mech();
    report(o);
}

void Tc220b::done(int r)
{
    if (!closed_) {
        closed_ = true;
        if (s_.delay.c220b >= 1 && s_.delay.c120 >= 1) {
            b::send_table(s_, b::kClose, b::kWinOpenClose);
            c120::ecrir_bit(s_, b::kRest);
        }
    }
    QDialog::done(r);
}

Tcalibrate_c220::Tcalibrate_c220(Shell& shell, QWidget* parent) : TeachWindow(shell, "calibrate_c220", parent)
{
    auto* ok = add_button("BitBtn4", "OK");
    auto* abort = add_button("BitBtn3", "Abandon");
    connect(ok, &QPushButton::clicked, this, &Tcalibrate_c220::BitBtn4Click);
    connect(abort, &QPushButton::clicked, this, &QDialog::reject);
}

void Tcalibrate_c220::BitBtn1Click()
{
    Station& s = shell_.station;
    if (!c220b_ready(s, show_message))
        return;
    const int coins = nb_piece->value();
    bool heard = false;
    {
        MaskedSection masked(*s.port);
        c120::ecrir_bit(s, b::kTeachStart);
        b::send_table(s, b::kOpen, b::kWinOpenClose, &heard);
        s.c120_read_timeout = c120::kTimeoutTeach;
    }
    if (!heard) { // no coin can be measured: none is waited for
        MaskedSection masked(*s.port);
        c120::ecrir_bit(s, b::kTeachEnd);
        s.c120_read_timeout = c120::kTimeoutNormal;
        show_message("Le monayeur ne répond pas.");
        return;
    }
    for (int i = 1; i <= coins; ++i) {
        count_coin(i);
        c120::CoinReply r;
        {
            MaskedSection masked(*s.port);
            r = b::measure_coin_c220(s);
        }
        // A coin that did not answer is counted but not taken: its zeros are no measurement.
        if (r.measured) {
            const uint8_t v[3] = {s.symbols[3], s.symbols[6], s.symbols[9]};
            take(v);
        }
    }
    {
        MaskedSection masked(*s.port); // the end of the teach is part of the transfer
        c120::ecrir_bit(s, b::kTeachEnd);
    }
    s.c120_read_timeout = c120::kTimeoutNormal;
}

void Tcalibrate_c220::BitBtn4Click()
{
    if (auto* v = shell_.dialog<Tvalid_c220>()) {
        v->set_teach(highest(), lowest());
        v->exec();
    }
    accept();
}

Tvalid_c220::Tvalid_c220(Shell& shell, QWidget* parent) : ValidWindow(shell, "valid_c220", 16, parent) {}

void Tvalid_c220::BitBtn1Click()
{
    Station& s = shell_.station;
    if (!c220b_ready(s, show_message) || !c120::image_usable(s, show_message))
        return;
    WriteOutcome o;
    {
        MaskedSection masked(*s.port);
        c120::ecrir_bit(s, b::kTeachStart);
        o = b::ecrit_words(s, b::window_words(canal->value(), widened()));
    }
    if (o.result != WriteResult::Verified)
        show_message(c120::write_message(o.result, o.failed));
    accept();
}

} // namespace zuna
