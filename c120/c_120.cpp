#include "c120/c_120.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QSpinBox>

#include "ui/c_canal.h"
#include "ui/shell.h"
#include "c120/calibrate.h"
#include "link/port.h"
#include "link/timing.h"

namespace zuna {

using namespace c120;

namespace {
const ChannelWindowLook kLook = {
    "c_120", "C 120", 12, "Lecture",
    "voir dans quel canal la pièce  est active\nCliquer puis passer une pièce",
    "Mémoriser un modèle de pièce", "progresse", true,
};
} // namespace

Tc_120::Tc_120(Shell& shell, QWidget* parent) : ChannelWindow(shell, kLook, "C120", parent) {}

std::array<uint8_t, 6> Tc_120::bounds(int c) const { return channel_bounds(s_.memory_image, c); }

QString Tc_120::output_label(int c) const
{
    return QString::fromStdString(output_text(s_.memory_image[output_index(c)]));
}

bool Tc_120::output_known(int c) const { return mask_output(s_.memory_image[output_index(c)]) >= 0; }

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

bool Tc_120::ready() { return delay_usable(s_.delay.c120, "C120", show_message); }

void Tc_120::Button5Click()
{
    if (!ready())
        return;
    init_c();
    teste->hide();
    send_only(s_, kOpen);
    BarProgress bar(progress_);
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
        // What follows waits for no coin: the normal time-out bounds it.
        s_.c120_read_timeout = kTimeoutNormal;
        send_record(s_, read_word_command(kChecksumWord));
        ecrir_bit(s_, kBit1);
        send_record(s_, read_word_command(kChecksumWord));
        send_record(s_, kClose);
        module_long_pause(*s_.port);
        send_record(s_, read_word_command(kChecksumWord));
        send_record(s_, read_word_command(kChecksumWord));
        ecrir_bit(s_, kRest);
    }
    show_test(r.measured);
    s_.c120_read_timeout = kTimeoutAfterTest;
    ecrir_bit(s_, kRest);
    if (!r.acknowledged)
        show_message("Le monayeur ne répond pas.");
}

void Tc_120::Button1Click()
{
    teste->hide();
    if (!teach_usable(s_, show_message))
        return;
    if (auto* cal = shell_.dialog<Tcalibrate>())
        cal->exec();
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
    ajust_channel_ = prompt ? prompt->ask(channels_, this) : 1;
    show_ajust(ajust_channel_);
}

void Tc_120::okClick()
{
    if (auto* prompt = shell_.dialog<TC_canal>())
        ajust_channel_ = prompt->canal()->value();
    if (!ready() || !image_usable(s_, show_message))
        return;
    const WriteOutcome o = write_windows(ajust_channel_, ajust_bounds());
    abClick();
    lit_mem_mech();
    report(o);
}

// The three window words of channel c, framed as the hand edit and the model
// load both frame them: rest, line, words, line, close, open, rest.
WriteOutcome Tc_120::write_windows(int c, const std::array<uint8_t, 6>& bounds)
{
    MaskedSection masked(*s_.port);
    ecrir_bit(s_, kRest);
    ecrir_bit(s_, kBit1);
    const WriteOutcome o = ecrit_words(s_, window_words(c, bounds));
    ecrir_bit(s_, kBit1);
    send_only(s_, kClose);
    send_only(s_, kOpen);
    ecrir_bit(s_, kRest);
    return o;
}

void Tc_120::Button4Click()
{
    teste->hide();
    show_outputs(true);
}

void Tc_120::cc_okClick()
{
    if (!ready() || !image_usable(s_, show_message))
        return;
    std::array<int, kChannels> outputs{};
    const std::vector<int> spins = output_spins();
    std::copy(spins.begin(), spins.end(), outputs.begin());
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
    report(o);
}

void Tc_120::BitBtn3Click()
{
    vers_c->hide();
    if (!model_ || !ready() || !image_usable(s_, show_message))
        return;
    const WriteOutcome o = write_windows(canal_v->value(), model_bounds());
    lit_mem_mech();
    report(o);
}

void Tc_120::SpeedButton1Click()
{
    if (!ready() || !image_usable(s_, show_message))
        return;
    const WriteResult r = ecrit_data_1(s_, 113, checksum(s_.memory_image));
    lit_mem_mech();
    report({r, 113});
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
