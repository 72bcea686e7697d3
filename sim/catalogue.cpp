#include "sim/catalogue.h"

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

bool parse_faults(const std::string& text, Faults& out, std::string* error)
{
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item.empty())
            continue;
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
        else if (item.rfind("power-cut=", 0) == 0) {
            try {
                out.power_cut_after = std::stoi(item.substr(10));
            } catch (...) {
                out.power_cut_after = -1;
            }
            if (out.power_cut_after <= 0) {
                if (error)
                    *error = "Défaut simulé invalide : « " + item + " » (power-cut=N, N > 0).";
                return false;
            }
        } else {
            if (error)
                *error = "Défaut simulé inconnu : « " + item +
                         " » (no-module, stuck-low, memory-dead, silent, noise, power-cut=N).";
            return false;
        }
    }
    return true;
}

SimSetup::SimSetup(double speed, const Faults& faults, std::string module_file)
    : bench_(speed), faults_(faults)
{
    if (!module_file.empty())
        attach_module_file(module_file);
    module_.set_memory_dead(faults.memory_dead);
    bench_.plug(module_);
    module_.start();
    if (faults.no_module)
        module_.set_wave(ModuleSim::Wave::StuckHigh);
    else if (faults.wave_stuck_low)
        module_.set_wave(ModuleSim::Wave::StuckLow);
}

SimSetup::~SimSetup()
{
    if (pacer_)
        bench_.unplug(*pacer_);
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
    bench_.plug(*mechanism_);
    mechanism_->start();
    if (faults_.noise) {
        noise_ = std::make_unique<NoiseFault>(mechanism_->reply_mask(), bench_.ticks(2000));
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
