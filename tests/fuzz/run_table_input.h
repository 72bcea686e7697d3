#pragma once
// How the decoder fuzz targets turn their input into a run table: either
// small stretches as captures give them (0xFF standing for the end mark), or
// raw 32-bit values (anything at all).
#include <array>
#include <cstdint>
#include <cstring>

#include "link/station.h"

namespace zuna::fuzz {

inline void small_stretches(const uint8_t* data, size_t size, std::array<int32_t, kRunTableSize>& runs,
                            int32_t end_mark, int modulo)
{
    for (size_t i = 0; i < size && i < runs.size(); ++i)
        runs[i] = data[i] == 0xFF ? end_mark : data[i] % modulo;
}

inline void raw_values(const uint8_t* data, size_t size, std::array<int32_t, kRunTableSize>& runs)
{
    for (size_t i = 0; i < size / 4 && i < runs.size(); ++i)
        std::memcpy(&runs[i], data + 4 * i, 4);
}

} // namespace zuna::fuzz
