#pragma once
// The shared state the main window owns and every link operation works on:
// delay counts, module values, read time-out and the large transfer buffers.
// Link operations take it by reference; there are no globals.
#include <array>
#include <cstdint>

#include "link/port.h"

namespace zuna {

// Repeat counts per family: writing one value (count + 1) times is one bit time.
struct DelayCounts {
    int32_t c120 = 0;
    int32_t c220 = 0;
    int32_t c220b = 0;
    int32_t g13 = 0;
    int32_t g136 = 0;
    int32_t rm3 = 0;
    int32_t rm4 = 0;
    int32_t alb = 0;
};

constexpr int32_t kNoModule = 5000;          // measured module count when nothing answered
constexpr int64_t kC120ReadTimeout = 900000; // set at every activate step
constexpr int kRunTableSize = 10001;
constexpr int kSymbolBufferSize = 10001;
constexpr int kMemoryImageSize = 260;
constexpr int kZone0Size = 64;
constexpr int kZone1Size = 48;

struct Station {
    explicit Station(Port& p) : port(&p) {}

    Port* port; // never null; replaced only between transfers

    DelayCounts delay;
    int32_t g13_stored = 0;              // G13 delay count as found in the module (or set by hand)
    // The G13 links time their units with this field and change it; the
    // module measurement itself is kept in module_measure.
    int32_t measured_module_count = kNoModule;
    int32_t module_measure = 0;          // last start-up measurement (0: none taken through measure_module(Station&))
    int32_t measured_copy = 0;           // copies taken at the end of each activate step
    int32_t reference_copy = 1;
    int64_t c120_read_timeout = kC120ReadTimeout;
    // Last value the C120 and C220B links held on the data register (bit 0 is
    // their line to the mechanism): a command needs the line high before its start bit.
    uint8_t serial_line = 0x63;

    // Module memory images and the last line state written for it.
    std::array<uint8_t, kZone0Size> zone0{};
    std::array<uint8_t, kZone1Size> zone1{};
    uint8_t module_lines = 0;
    bool module_memory_silent = false; // the last read of both zones gave only ones

    // Scratch buffers shared by the links (one programmer window at a time).
    std::array<int32_t, kRunTableSize> run_table{};
    std::array<uint8_t, kSymbolBufferSize> symbols{};
    std::array<uint8_t, kMemoryImageSize> memory_image{}; // C120/C220B memory copy, byte 0 = valid flag
};

} // namespace zuna
