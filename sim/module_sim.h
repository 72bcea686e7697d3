#pragma once
// The simulated interface module: the square wave on status bit 5 (the PC's
// time base) and the module memory chip on data bits 2 (clock), 3 (select),
// 4 (data in) and status bit 6 (data out), with its two zones, its three
// commands and the access code that opens zone 1.
#include <array>
#include <cstdint>
#include <string>

#include "link/module.h"
#include "sim/device.h"

namespace zuna::sim {

constexpr uint16_t kSimReferenceCount = 100;
// The high phase lasts 101 accesses at speed 1: the read that ends the wait for it is
// not counted by the measuring loop, so the station measures 100.
constexpr int kSimHighPhaseMicros = 101;

class ModuleSim : public Device {
public:
    enum class Wave { Running, StuckHigh, StuckLow };

    ModuleSim();

    // Starts the square wave; call after plugging.
    void start();
    void set_wave(Wave w);
    // Module memory answering 0xFF everywhere (data out stuck at 1).
    void set_memory_dead(bool dead) { dead_ = dead; }

    std::array<uint8_t, 64>& zone0() { return zone0_; }
    std::array<uint8_t, 48>& zone1() { return zone1_; }
    int zone0_writes() const { return zone0_writes_; }

    // Persistence between runs: 64 + 48 bytes. Missing file: factory content.
    // Returns false with a message when the file exists but cannot be used.
    bool load(const std::string& path, std::string* error);
    bool save(const std::string& path, std::string* error) const;
    void set_persist_path(std::string path) { persist_path_ = std::move(path); }

    void on_data(uint64_t now, uint8_t old_value, uint8_t value) override;
    void on_wake(uint64_t now) override;

private:
    enum class Phase { Idle, Command, SendPreamble, ReceiveCode, SendZone0, SendZone1, ReceiveZone0 };
    void begin_phase(Phase p);
    void put_out_bit();
    void bit_received(bool bit);
    void set_out(bool bit);

    Wave wave_ = Wave::Running;
    bool high_ = true;
    bool dead_ = false;

    std::array<uint8_t, 64> zone0_{};
    std::array<uint8_t, 48> zone1_{};
    std::array<uint8_t, 8> preamble_{};
    std::array<uint8_t, 8> code_{};

    Phase phase_ = Phase::Idle;
    std::array<uint8_t, 3> command_{};
    int bit_index_ = 0;  // bit within the current byte
    int byte_index_ = 0; // byte within the current phase
    uint8_t shift_ = 0;
    bool out_bit_ = true;
    int zone0_writes_ = 0;
    std::array<uint8_t, 64> incoming_{};
    std::string persist_path_;
};

} // namespace zuna::sim
