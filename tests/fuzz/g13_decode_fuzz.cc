// Garbled G13.0000 replies: any run table must give a sync offset of 0..255
// and symbols 0..15 in entries 0..300 only, without reading or writing
// outside the tables.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "nri/g13_link.h"
#include "tests/fuzz/run_table_input.h"

using namespace zuna;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto runs = std::make_unique<std::array<int32_t, kRunTableSize>>();
    auto sym = std::make_unique<std::array<uint8_t, kSymbolBufferSize>>();
    runs->fill(0);
    if (size == 0)
        return 0;
    // First byte chooses the encoding: small stretches (as captures give),
    // or raw 32-bit values (anything at all).
    const uint8_t mode = data[0];
    ++data;
    --size;
    if (mode & 1)
        fuzz::raw_values(data, size, *runs);
    else
        fuzz::small_stretches(data, size, *runs, 100000, 12);
    const int c = nri::cherche_sync(*runs);
    if (c < 0 || c > 255)
        std::abort();
    for (int keep13 = 0; keep13 < 2; ++keep13) {
        sym->fill(0xAA);
        if (keep13)
            nri::decode_nb_g13_13(*runs, *sym);
        else
            nri::decode_nb_g13(*runs, *sym);
        for (int i = 0; i < nri::kG13Symbols; ++i)
            if ((*sym)[size_t(i)] > 15)
                std::abort();
        for (size_t i = nri::kG13Symbols; i < sym->size(); ++i)
            if ((*sym)[i] != 0xAA)
                std::abort();
    }
    return 0;
}
