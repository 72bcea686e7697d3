#include "sim/catalogue.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "sim/al3_mech.h"
#include "sim/c120_mech.h"
#include "sim/c220_mech.h"
#include "sim/c220b_mech.h"
#include "sim/g13_mech.h"
#include "sim/g136_mech.h"
#include "sim/seci_mech.h"

namespace zuna::sim {

// One line per simulated mechanism.
const std::map<std::string, MechanismFactory>& mechanism_factories()
{
    static const std::map<std::string, MechanismFactory> factories = {
        {"c120", [](Bench& b) { return std::make_unique<C120Mech>(b); }},
        {"c220", [](Bench& b) { return std::make_unique<C220Mech>(b); }},
        {"c220b", [](Bench& b) { return std::make_unique<C220BMech>(b); }},
        {"g13", [](Bench& b) { return std::make_unique<G13Mechanism>(b); }},
        {"g136", [](Bench& b) { return std::make_unique<G136Mechanism>(b); }},
        {"rm3", [](Bench& b) { return std::make_unique<Rm3Mech>(b); }},
        {"rm4", [](Bench& b) { return std::make_unique<Rm4Mech>(b); }},
        {"al3", [](Bench& b) { return std::make_unique<Al3Mech>(b); }},
    };
    return factories;
}

namespace {
const char kFaultNames[] = "no-module, stuck-low, memory-dead, silent, noise, power-cut=N, drift=P, stall=R, "
                           "wrong-readback=N, lost-write=N, lost-checksum, jumping-count, other-family";

// A decimal number (with a point: the comma separates faults), the whole text.
bool read_number(const std::string& text, double& out)
{
    if (text.empty() || text.find_first_not_of("+-.0123456789") != std::string::npos)
        return false;
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(out);
}

bool read_count(const std::string& text, int& out)
{
    double v = 0;
    if (!read_number(text, v) || v != std::floor(v) || v < 1 || v > 1e9)
        return false;
    out = int(v);
    return true;
}
} // namespace

bool parse_faults(const std::string& text, Faults& out, std::string* error)
{
    std::stringstream in(text);
    std::string item;
    auto fail = [&](const std::string& why) {
        if (error)
            *error = "Défaut simulé invalide : « " + item + " » (" + why + ").";
        return false;
    };
    while (std::getline(in, item, ',')) {
        if (item.empty())
            continue;
        const std::size_t eq = item.find('=');
        const std::string name = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        double number = 0;
        if (item == "no-module")
            out.no_module = true;
        else if (item == "stuck-low")
            out.wave_stuck_low = true;
        else if (item == "memory-dead")
            out.memory_dead = true;
        else if (item == "silent")
            out.silent = true;
        else if (item == "noise")
            out.noise = true;
        else if (item == "lost-checksum")
            out.lost_checksum = true;
        else if (item == "jumping-count")
            out.jumping_count = true;
        else if (item == "other-family")
            out.other_family = true;
        else if (eq != std::string::npos && name == "power-cut") {
            if (!read_count(value, out.power_cut_after))
                return fail("power-cut=N, N > 0");
        } else if (eq != std::string::npos && name == "wrong-readback") {
            if (!read_count(value, out.wrong_readback_at))
                return fail("wrong-readback=N, N > 0");
        } else if (eq != std::string::npos && name == "lost-write") {
            if (!read_count(value, out.lost_write_at))
                return fail("lost-write=N, N > 0");
        } else if (eq != std::string::npos && name == "drift") {
            if (!read_number(value, number) || number < -15 || number > 15)
                return fail("drift=P, P en % de -15 à 15");
            out.drift_percent = number;
        } else if (eq != std::string::npos && name == "stall") {
            if (!read_number(value, number) || number < 0 || number > 100000)
                return fail("stall=R, R arrêts par seconde de 0 à 100000");
            out.stalls_per_second = number;
        } else {
            if (error)
                *error = "Défaut simulé inconnu : « " + item + " » (" + kFaultNames + ").";
            return false;
        }
    }
    return true;
}

SimSetup::SimSetup(double speed, const Faults& faults, std::string module_file)
    : bench_(speed), faults_(faults)
{
    bench_.set_mechanism_drift(faults.drift_percent);
    if (!module_file.empty())
        attach_module_file(module_file);
    module_.set_memory_dead(faults.memory_dead);
    bench_.plug(module_);
    module_.start();
    if (faults.no_module)
        module_.set_wave(ModuleSim::Wave::StuckHigh);
    else if (faults.wave_stuck_low)
        module_.set_wave(ModuleSim::Wave::StuckLow);
    plug_stalls();
}

void SimSetup::plug_stalls()
{
    if (faults_.stalls_per_second <= 0)
        return;
    stalls_ = std::make_unique<StallFault>(bench_, faults_.stalls_per_second, faults_.seed);
    bench_.plug(*stalls_);
    stalls_->start();
}

SimSetup::~SimSetup()
{
    if (pacer_)
        bench_.unplug(*pacer_);
    if (stalls_)
        bench_.unplug(*stalls_);
    if (noise_)
        bench_.unplug(*noise_);
    if (mechanism_)
        bench_.unplug(*mechanism_);
    bench_.unplug(module_);
}

void SimSetup::pace_real_time()
{
    if (pacer_)
        return;
    pacer_ = std::make_unique<Pacer>();
    bench_.plug(*pacer_);
    pacer_->start();
}

Mechanism* SimSetup::plug(const std::string& family)
{
    if (noise_) {
        bench_.unplug(*noise_);
        noise_.reset();
    }
    if (mechanism_) {
        bench_.unplug(*mechanism_);
        mechanism_.reset();
    }
    family_ = family;
    if (faults_.silent)
        return nullptr;
    const auto& f = mechanism_factories();
    auto it = f.find(family);
    if (it == f.end())
        return nullptr;
    mechanism_ = it->second(bench_);
    mechanism_->set_power_cut_after(faults_.power_cut_after);
    mechanism_->set_faults(faults_);
    bench_.plug(*mechanism_);
    mechanism_->start();
    if (faults_.noise) {
        noise_ = std::make_unique<NoiseFault>(mechanism_->reply_mask(), bench_.ticks(2000), faults_.seed);
        bench_.plug(*noise_);
        noise_->start();
    }
    return mechanism_.get();
}

std::string SimSetup::attach_module_file(const std::string& path)
{
    std::string warning;
    module_.load(path, &warning);
    module_.set_persist_path(path);
    return warning;
}

void SimSetup::fix_family(const std::string& family)
{
    plug(family);
    fixed_ = true;
}

void SimSetup::window_opened(const std::string& family)
{
    if (!fixed_ && family != family_)
        plug(family);
}

} // namespace zuna::sim
