#pragma once
// The interface module: presence square wave (time base), module memory
// zones 0 and 1, and the delay counts kept in zone 0.
#include <array>
#include <cstdint>

#include "link/station.h"

namespace zuna {

// Code that opens zone 1 of the module memory; the modules are programmed with it.
inline constexpr std::array<uint8_t, 8> kModuleAccessCode = {'3', '1', '4', '1', '5', '9', '2', '6'};

// Zone 0 offsets of the delay counts (two bytes, low first; G13 on six bytes).
enum Zone0Offset : int {
    kZ0Alb = 35,
    kZ0Rm4 = 37,
    kZ0Rm3 = 39,
    kZ0C220 = 41,
    kZ0C220b = 43,
    kZ0C120 = 45,
    kZ0G136 = 47,
    kZ0G13 = 49,
};

// Counts status reads of the module's high phase (0..5000, 5000 = no module).
int32_t measure_module(Port& port);
// The same, kept in both the measurement and the count the links use.
int32_t measure_module(Station& s);

void lir_s1(Station& s);                                              // zone 0 -> image
void lir_s2(Station& s, const std::array<uint8_t, 8>& access_code);   // zone 1 -> image
void ecrit_cle_0(Station& s);                                          // image -> zone 0

// Zone 0 encodings.
int32_t zone0_word(const std::array<uint8_t, kZone0Size>& z, int offset);
void set_zone0_word(std::array<uint8_t, kZone0Size>& z, int offset, int32_t value);
int32_t zone0_g13(const std::array<uint8_t, kZone0Size>& z);
void set_zone0_g13(std::array<uint8_t, kZone0Size>& z, int32_t value);

// Module reference count from the zone 1 image (0 taken as 1).
int32_t module_reference(const std::array<uint8_t, kZone1Size>& z1);

// True when both zones read as ones everywhere: the memory chip did not answer.
bool module_memory_silent(const Station& s);

// The activate step's default computation: reads both zones, takes the stored
// counts and computes the missing ones from the module measurement (the
// measured module count when no measurement was kept).
void load_delay_counts(Station& s);

} // namespace zuna
