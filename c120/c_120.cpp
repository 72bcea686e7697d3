#include "c120/c_120.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QSpinBox>

#include "ui/c_canal.h"
#include "ui/shell.h"
#include "c120/calibrate.h"

namespace zuna {

using namespace c120;

namespace {
const ChannelWindowLook kLook = {
    "c_120", "C 120", 12, "Lecture",
    "voir dans quel canal la pièce  est active\nCliquer puis passer une pièce",
    "Mémoriser un modèle de pièce", "progresse", true, Kind::C120, make_c120_settings,
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
    shown_.coin.reset();
    highlight_all(255, 255, 255);
}

bool Tc_120::ready() { return delay_usable(s_.delay.c120, "C120", show_message); }

void Tc_120::Button5Click()
{
    if (!ready())
        return;
    init_c();
    teste->hide();
    ReadResult r;
    if (run([&](Progress& p) { r = read_memory(s_, &p); }))
        report(r);
}

void Tc_120::Button2Click()
{
    if (!ready())
        return;
    teste->show();
    CoinReply r;
    if (!run([&](Progress&) { r = test_coin(s_); })) // "Arrêter" ends the coin wait
        return;
    show_test(r.measured);
    if (!r.acknowledged)
        show_message("Le monayeur ne répond pas.");
}

void Tc_120::Button1Click()
{
    teste->hide();
    if (!teach_usable(s_, show_message))
        return;
    auto* cal = shell_.dialog<Tcalibrate>();
    auto* valid = shell_.dialog<Tvalid_c120>();
    follow_teach(cal, valid);
    if (cal)
        cal->exec();
    end_teach(cal, valid);
    if (!ready())
        return;
    if (run([&](Progress&) { close_after_teach(s_); }, false))
        lit_mem_mech();
}

void Tc_120::Button3Click()
{
    auto* prompt = shell_.dialog<TC_canal>();
    bool taken = true;
    ajust_channel_ = prompt ? prompt->ask(channels_, this, &taken) : 1;
    if (taken) // "Abandon" in the prompt: no panel
        show_ajust(ajust_channel_);
}

void Tc_120::okClick()
{
    if (auto* prompt = shell_.dialog<TC_canal>())
        ajust_channel_ = prompt->canal()->value();
    if (!ready() || !image_usable(s_, show_message))
        return;
    const auto bounds = ajust_bounds();
    if (!overlap_allowed(ajust_channel_, bounds))
        return;
    WriteOutcome o;
    if (!run([&](Progress& p) { o = write_channel(s_, ajust_channel_, bounds, &p); }))
        return;
    abClick();
    report(o);
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
    if (!run([&](Progress& p) { o = write_outputs(s_, outputs, &p); }))
        return;
    cc_abClick();
    report(o);
}

void Tc_120::BitBtn3Click()
{
    vers_c->hide();
    if (!model_ || !ready() || !image_usable(s_, show_message))
        return;
    const int c = canal_v->value();
    const auto bounds = model_bounds();
    if (!overlap_allowed(c, bounds))
        return;
    WriteOutcome o;
    if (run([&](Progress& p) { o = write_channel(s_, c, bounds, &p); }))
        report(o);
}

void Tc_120::SpeedButton1Click()
{
    if (!ready() || !image_usable(s_, show_message))
        return;
    WriteOutcome o;
    if (run([&](Progress&) { o = repair_checksum(s_); }, false))
        report(o);
}

void Tc_120::done(int r)
{
    if (!closed_) {
        closed_ = true;
        if (s_.delay.c120 >= 1)
            run([&](Progress&) { close_link(s_); }, false);
    }
    QDialog::done(r);
}

} // namespace zuna
