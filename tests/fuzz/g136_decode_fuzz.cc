// Any run table given to the G13.6000 decoders: they end, write digits 0..16
// (decode_g136_s) in symbol entries 0..200 only, and read or write nothing
// outside the tables. Replies without gaps, encoded from the input's bytes,
// decode to those bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "nri/g136_link.h"
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
    // some at the stretch limit), raw 32-bit values, or a gap-free reply of
    // hexadecimal characters made from the bytes.
    const uint8_t mode = data[0] % 3;
    ++data;
    --size;
    std::string text;
    if (mode == 0) {
        fuzz::small_stretches(data, size, *runs, 100000, 24);
    } else if (mode == 1) {
        fuzz::raw_values(data, size, *runs);
    } else {
        static const char kHex[] = "0123456789ABCDEF";
        for (size_t i = 0; i < size && i < 100; ++i) {
            text += kHex[data[i] >> 4];
            text += kHex[data[i] & 15];
        }
        int j = 0, level = 0;
        for (unsigned char c : text)
            for (int b = 0; b < 10; ++b) {
                const int bit = b == 0 ? 0 : b == 9 ? 1 : (c >> (b - 1)) & 1;
                if (bit != level) {
                    ++j;
                    level = bit;
                }
                ++(*runs)[size_t(j)];
            }
        (*runs)[size_t(j)] = 100000;
    }
    sym->fill(0xAA);
    const int bytes = nri::g136::decode_g136(*runs, *sym);
    if (bytes < 0 || bytes > nri::g136::kSymbols)
        std::abort();
    if (mode == 2) {
        if (size_t(bytes) != text.size() / 2)
            std::abort();
        for (int i = 0; i < bytes; ++i)
            if ((*sym)[size_t(i)] != data[i])
                std::abort();
    }
    for (size_t i = nri::g136::kSymbols; i < sym->size(); ++i)
        if ((*sym)[i] != 0xAA)
            std::abort();
    const int digits = nri::g136::decode_g136_s(*runs, *sym);
    if (digits < 0 || digits > nri::g136::kSymbols)
        std::abort();
    for (int i = 0; i < digits; ++i)
        if ((*sym)[size_t(i)] > 16)
            std::abort();
    return 0;
}
