// Garbled SECI RM3 replies: any run table must decode without reading or
// writing outside the tables, give nibbles 0..15, whole characters 0..5000
// and a record whose values are 16-bit and nibbles 4-bit.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "seci/seci_link.h"
#include "tests/fuzz/run_table_input.h"

using namespace zuna;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto runs = std::make_unique<std::array<int32_t, kRunTableSize>>();
    auto sym = std::make_unique<std::array<uint8_t, kSymbolBufferSize>>();
    runs->fill(0);
    if (size == 0)
        return 0;
    // First byte chooses the encoding: small stretches (as captures give,
    // 0xFF the end mark), or raw 32-bit values (anything at all).
    const uint8_t mode = data[0];
    ++data;
    --size;
    if (mode & 1)
        fuzz::raw_values(data, size, *runs);
    else
        fuzz::small_stretches(data, size, *runs, seci::kEndMark, 12);
    sym->fill(0);
    const int n = seci::decode_nibbles(*runs, *sym);
    if (n < 0 || n > kSymbolBufferSize)
        std::abort();
    for (int i = 0; i < n; ++i)
        if ((*sym)[size_t(i)] > 15)
            std::abort();
    for (size_t i = size_t(n); i < sym->size(); ++i)
        if ((*sym)[i] != 0)
            std::abort();
    const seci::Rm3Record r = seci::rm3_record(*sym);
    for (int32_t v : r.value)
        if (v < 0 || v > 65535)
            std::abort();
    if (r.flags < 0 || r.flags > 15 || r.output < 0 || r.output > 15)
        std::abort();
    return 0;
}
