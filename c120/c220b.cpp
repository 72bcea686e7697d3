#include "c120/c220b.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>

#include "ui/c_canal.h"
#include "ui/shell.h"
#include "c120/c220b_link.h"

namespace zuna {

using c120::WriteOutcome;
using c120::WriteResult;
namespace b = c220b;

namespace {
const ChannelWindowLook kLook = {
    "c220b", "c220b", 16, "lecture", "voir dans quel canal la pièce  est active",
    "Mémorisez un modèle de pièce", "Progresse", false, c120::Kind::C220B, c120::make_c220b_settings,
};
} // namespace

bool c220b_ready(const Station& s, const MessageSink& tell)
{
    return c120::delay_usable(s.delay.c220b, "C220B", tell) && c120::delay_usable(s.delay.c120, "C120", tell);
}

Tc220b::Tc220b(Shell& shell, QWidget* parent) : ChannelWindow(shell, kLook, "C22B", parent) {}

bool Tc220b::ready() { return c220b_ready(s_, show_message); }

std::array<uint8_t, 6> Tc220b::bounds(int c) const { return b::channel_bounds(s_.memory_image, c); }

QString Tc220b::output_label(int c) const
{
    return QString::fromStdString(b::output_text(s_.memory_image[b::output_byte(c) + 1]));
}

bool Tc220b::output_known(int c) const { return !output_label(c).startsWith('?'); }

void Tc220b::init_c()
{
    std::fill(s_.symbols.begin(), s_.symbols.begin() + 11, uint8_t(255));
    shown_.coin.reset();
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
    c120::ReadResult r;
    if (run([&](Progress& p) { r = b::read_memory(s_, &p); }))
        report(r); // a read that is not whole leaves the table as it was
}

void Tc220b::Button2Click()
{
    if (!c220b_ready(s_, show_message))
        return;
    cc_abClick();
    teste->show();
    c120::CoinReply r;
    if (!run([&](Progress&) { r = b::test_coin(s_); })) // "Arrêter" ends the coin wait
        return;
    show_test(r.measured);
    if (!r.acknowledged)
        show_message("Le monayeur ne répond pas.");
}

void Tc220b::Button1Click()
{
    cc_abClick();
    if (!c120::teach_usable(s_, show_message))
        return;
    auto* cal = shell_.dialog<Tcalibrate_c220>();
    auto* valid = shell_.dialog<Tvalid_c220>();
    follow_teach(cal, valid);
    if (cal)
        cal->exec();
    end_teach(cal, valid);
    if (!c220b_ready(s_, show_message))
        return;
    if (run([&](Progress&) { b::close_link(s_, true); }, false))
        lit_mem_mech();
}

void Tc220b::Button3Click()
{
    hide_groups();
    auto* prompt = shell_.dialog<TC_canal>();
    bool taken = true;
    ajust_channel_ = prompt ? prompt->ask(channels_, this, &taken) : 1;
    if (taken) // "Abandon" in the prompt: no panel
        show_ajust(ajust_channel_);
}

void Tc220b::okClick()
{
    if (auto* prompt = shell_.dialog<TC_canal>())
        ajust_channel_ = prompt->canal()->value();
    if (!c220b_ready(s_, show_message) || !c120::image_usable(s_, show_message))
        return;
    const auto bounds = ajust_bounds();
    if (!overlap_allowed(ajust_channel_, bounds))
        return;
    WriteOutcome o;
    if (!run([&](Progress& p) { o = b::write_channel(s_, ajust_channel_, bounds, false, &p); }))
        return;
    abClick();
    report(o);
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
    if (!run([&](Progress& p) { o = b::write_outputs(s_, spins, &p); }))
        return;
    cc_abClick();
    report(o);
}

void Tc220b::BitBtn3Click()
{
    vers_c->hide();
    if (!model_ || !c220b_ready(s_, show_message) || !c120::image_usable(s_, show_message))
        return;
    const int c = canal_v->value();
    const auto bounds = model_bounds();
    if (!overlap_allowed(c, bounds))
        return;
    WriteOutcome o;
    if (run([&](Progress& p) { o = b::write_channel(s_, c, bounds, true, &p); }))
        report(o);
}

void Tc220b::done(int r)
{
    if (!closed_) {
        closed_ = true;
        if (s_.delay.c220b >= 1 && s_.delay.c120 >= 1)
            run([&](Progress&) { b::close_link(s_, false); }, false);
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
    c120::TeachResult t;
    if (!run([&](Progress& p) { t = b::teach_coins(s, coins, &p); }))
        return;
    show_teach(t, coins);
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
    const int c = canal->value();
    const auto bounds = widened();
    if (!may_write(c, bounds))
        return;
    WriteOutcome o;
    if (!run([&](Progress& p) { o = b::validate_teach(s, c, bounds, &p); }))
        return;
    if (!c120::write_message(o).isEmpty())
        show_message(c120::write_message(o));
    accept();
}

} // namespace zuna
