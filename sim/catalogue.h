#pragma once
// The whole simulated bench as the program starts it: bench, module, and the
// mechanism of one family at a time (plugged when its window opens, or fixed
// with --simulate=FAMILY), with the faults chosen for the run.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/bench.h"
#include "sim/pacer.h"
#include "sim/module_sim.h"
#include "sim/stall_fault.h"

namespace zuna::sim {

// Faults selectable per run ("--sim-fault=NAME[,NAME]").
struct Faults {
    bool no_module = false;     // square wave stuck at 1
    bool wave_stuck_low = false;
    bool memory_dead = false;   // module memory answers 0xFF everywhere
    bool silent = false;        // no mechanism answers
    bool noise = false;         // glitches on the mechanism's reply lines (status bit 7; C220: 4 and 7)
    int power_cut_after = 0;    // mechanism loses power after its N-th word write (0: never)
    // The real line: the mechanism's clock P % slow (P > 0) or fast (P < 0),
    // the PC stalled R times a second of port time; seed of every random fault.
    double drift_percent = 0;
    double stalls_per_second = 0;
    uint32_t seed = 1;
    // Mechanisms that answer wrong.
    int wrong_readback_at = 0;  // the N-th write is kept with one bit changed (0: never)
    int lost_write_at = 0;      // the N-th write is acknowledged but not kept (0: never)
    bool lost_checksum = false; // a write leaves the checksum word wrong
    bool jumping_count = false; // counts step past their target (n-1 to n+1)
    bool other_family = false;  // the mechanism answers as a plausible other family
};

// Parses "no-module,stuck-low,memory-dead,silent,noise,power-cut=N,drift=P,
// stall=R,wrong-readback=N,lost-write=N,lost-checksum,jumping-count,
// other-family"; false with a French message naming the value for anything else.
bool parse_faults(const std::string& text, Faults& out, std::string* error);

// A simulated mechanism: a Device that can also be told about power cuts.
class Mechanism : public Device {
public:
    virtual void start() {}                       // after plugging
    virtual void set_power_cut_after(int writes) { power_cut_after_ = writes; }
    // Status bits that carry its replies (where the noise fault glitches).
    virtual uint8_t reply_mask() const { return 0x80; }
    // The faults of the run, before start().
    void set_faults(const Faults& f) { faults_ = f; }

protected:
    // What happens to the write the mechanism takes now (each call counts one
    // write: a word, a record, a block, whatever the family stores at once).
    enum class WriteFate { Kept, OneBitChanged, Lost };
    WriteFate next_write_fate()
    {
        ++fate_writes_;
        if (fate_writes_ == faults_.wrong_readback_at)
            return WriteFate::OneBitChanged;
        if (fate_writes_ == faults_.lost_write_at)
            return WriteFate::Lost;
        return WriteFate::Kept;
    }

    int power_cut_after_ = 0;
    Faults faults_;
    int fate_writes_ = 0;
};

using MechanismFactory = std::function<std::unique_ptr<Mechanism>(Bench&)>;

// Families known to the bench: name -> factory. Each simulated mechanism
// file registers itself in catalogue.cpp.
const std::map<std::string, MechanismFactory>& mechanism_factories();

class SimSetup {
public:
    SimSetup(double speed, const Faults& faults, std::string module_file);
    ~SimSetup();

    Bench& bench() { return bench_; }
    ModuleSim& module() { return module_; }
    // The PC's stalls (stall=R), plugged for the whole run; null without them.
    StallFault* stalls() { return stalls_.get(); }
    Mechanism* mechanism() { return mechanism_.get(); }
    const std::string& family() const { return family_; }

    // Plugs the mechanism of a family (unplugging the previous one); unknown
    // or faulted-silent families leave the line silent. Returns the mechanism.
    Mechanism* plug(const std::string& family);
    // With --simulate=FAMILY the family is fixed: window openings do not change it.
    void fix_family(const std::string& family);
    // Called when a programmer window opens.
    void window_opened(const std::string& family);

    // Keeps the module memory in a file of the data folder from now on
    // (read now if it exists). Returns "" or a warning when the file could
    // not be read and the factory content is used.
    std::string attach_module_file(const std::string& path);

    // The pauses' real-time floor of the configuration file (ns per loop step, 0: none).
    void set_pause_floor_ns(double ns) { bench_.set_pause_floor_ns(ns); }
    // At least 1 µs of wall time per tick from now on (--sim-pace=real).
    void pace_real_time();

private:
    void plug_stalls();

    Bench bench_;
    ModuleSim module_;
    Faults faults_;
    std::unique_ptr<Mechanism> mechanism_;
    std::unique_ptr<NoiseFault> noise_;
    std::unique_ptr<Pacer> pacer_;
    std::unique_ptr<StallFault> stalls_;
    std::string family_;
    bool fixed_ = false;
};

} // namespace zuna::sim
