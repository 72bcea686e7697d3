#include "sim/module_sim.h"

#include <cstdio>
#include <cstring>
#include <fstream>

#include "sim/bench.h"

namespace zuna::sim {

namespace {
constexpr uint8_t kClock = 0x04;
constexpr uint8_t kSelect = 0x08;
constexpr uint8_t kDataIn = 0x10;
constexpr uint8_t kWaveBit = 0x20;
constexpr uint8_t kDataOut = 0x40;
} // namespace

ModuleSim::ModuleSim()
{
    // Factory content: no delay count stored in zone 0; zone 1 holds an
    // identification text and the reference count at bytes 8 and 9.
    const char id[] = "ZUNA07SM";
    std::memcpy(zone1_.data(), id, 8);
    zone1_[8] = uint8_t(kSimReferenceCount & 0xFF);
    zone1_[9] = uint8_t(kSimReferenceCount >> 8);
    const char pre[] = "MOD-0001";
    std::memcpy(preamble_.data(), pre, 8);
}

void ModuleSim::start()
{
    if (!bench_)
        return;
    bench_->drive(*this, kWaveBit | kDataOut, uint8_t((high_ ? kWaveBit : 0) | kDataOut));
    set_wave(wave_);
}

void ModuleSim::set_wave(Wave w)
{
    wave_ = w;
    if (!bench_)
        return;
    const uint8_t out = out_bit_ || dead_ ? kDataOut : 0;
    if (w == Wave::Running) {
        bench_->drive(*this, kWaveBit | kDataOut, uint8_t((high_ ? kWaveBit : 0) | out));
        bench_->wake_at(*this, bench_->now() + bench_->ticks(kSimHighPhaseMicros));
    } else {
        high_ = (w == Wave::StuckHigh);
        bench_->drive(*this, kWaveBit | kDataOut, uint8_t((high_ ? kWaveBit : 0) | out));
        bench_->wake_at(*this, kNever);
    }
}

void ModuleSim::on_wake(uint64_t now)
{
    if (!bench_ || wave_ != Wave::Running)
        return;
    high_ = !high_;
    set_out(out_bit_);
    bench_->wake_at(*this, now + bench_->ticks(kSimHighPhaseMicros));
}

void ModuleSim::set_out(bool bit)
{
    out_bit_ = bit;
    if (bench_)
        bench_->drive(*this, kWaveBit | kDataOut,
                      uint8_t((high_ ? kWaveBit : 0) | (bit || dead_ ? kDataOut : 0)));
}

void ModuleSim::begin_phase(Phase p)
{
    phase_ = p;
    bit_index_ = 0;
    byte_index_ = 0;
    shift_ = 0;
}

void ModuleSim::put_out_bit()
{
    uint8_t byte = 0xFF;
    switch (phase_) {
    case Phase::SendPreamble: byte = preamble_[byte_index_]; break;
    case Phase::SendZone0: byte = zone0_[byte_index_]; break;
    case Phase::SendZone1: byte = zone1_[byte_index_]; break;
    default: return;
    }
    set_out((byte >> bit_index_) & 1);
}

void ModuleSim::bit_received(bool bit)
{
    shift_ = uint8_t(shift_ | (bit ? 1u << bit_index_ : 0u));
    if (++bit_index_ < 8)
        return;
    const uint8_t byte = shift_;
    bit_index_ = 0;
    shift_ = 0;
    switch (phase_) {
    case Phase::Command:
        command_[byte_index_++] = byte;
        if (byte_index_ == 3) {
            const auto& c = command_;
            if (c[0] == 0x69 && c[1] == 0xC0 && c[2] == 0x3F)
                begin_phase(Phase::SendZone0);
            else if (c[0] == 0x66 && c[1] == 0x10 && c[2] == 0xEF)
                begin_phase(Phase::SendPreamble);
            else if (c[0] == 0x96 && c[1] == 0xC0 && c[2] == 0x3F)
                begin_phase(Phase::ReceiveZone0);
            else
                begin_phase(Phase::Idle);
        }
        break;
    case Phase::ReceiveCode:
        code_[byte_index_++] = byte;
        if (byte_index_ == 8) {
            const bool ok = code_ == kModuleAccessCode;
            begin_phase(ok ? Phase::SendZone1 : Phase::Idle); // wrong code: the chip stays mute
        }
        break;
    case Phase::ReceiveZone0:
        incoming_[byte_index_++] = byte;
        if (byte_index_ == 64) {
            zone0_ = incoming_;
            ++zone0_writes_;
            if (!persist_path_.empty())
                save(persist_path_, nullptr);
            begin_phase(Phase::Idle);
        }
        break;
    default: break;
    }
}

void ModuleSim::on_data(uint64_t, uint8_t old_value, uint8_t value)
{
    const bool clock_was = old_value & kClock, clock = value & kClock;
    const bool select_was = old_value & kSelect, select = value & kSelect;

    // Select brought low while the clock is high opens a transfer.
    if (clock && clock_was && select_was && !select) {
        begin_phase(Phase::Command);
        set_out(true);
        return;
    }
    if (clock_was && !clock) {
        // Falling clock: a sending chip puts its next bit on the line.
        if (phase_ == Phase::SendZone0 || phase_ == Phase::SendZone1 || phase_ == Phase::SendPreamble)
            put_out_bit();
        return;
    }
    if (!clock_was && clock) {
        // Rising clock: the chip takes the data line, or moves to its next bit.
        switch (phase_) {
        case Phase::Command:
        case Phase::ReceiveCode:
        case Phase::ReceiveZone0: bit_received(value & kDataIn); break;
        case Phase::SendPreamble:
        case Phase::SendZone0:
        case Phase::SendZone1:
            if (++bit_index_ == 8) {
                bit_index_ = 0;
                ++byte_index_;
                const int size = phase_ == Phase::SendZone0 ? 64 : phase_ == Phase::SendZone1 ? 48 : 8;
                if (byte_index_ == size)
                    begin_phase(phase_ == Phase::SendPreamble ? Phase::ReceiveCode : Phase::Idle);
            }
            set_out(true);
            break;
        case Phase::Idle: break;
        }
    }
}

bool ModuleSim::load(const std::string& path, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return true; // no file yet: factory content
    std::array<char, 112> buf{};
    in.read(buf.data(), buf.size());
    if (in.gcount() != std::streamsize(buf.size())) {
        if (error)
            *error = "Le fichier du module simulé " + path + " est incomplet : contenu d'usine utilisé.";
        return false;
    }
    std::memcpy(zone0_.data(), buf.data(), 64);
    std::memcpy(zone1_.data(), buf.data() + 64, 48);
    return true;
}

bool ModuleSim::save(const std::string& path, std::string* error) const
{
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(zone0_.data()), 64);
        out.write(reinterpret_cast<const char*>(zone1_.data()), 48);
        if (!out) {
            if (error)
                *error = "Impossible d'écrire " + tmp;
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        if (error)
            *error = "Impossible de remplacer " + path;
        return false;
    }
    return true;
}

} // namespace zuna::sim
