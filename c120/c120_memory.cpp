#include "c120/c120_memory.h"

#include <algorithm>

namespace zuna::c120 {

uint8_t output_mask(int number)
{
    if (number <= 0 || number > 6)
        return 0;
    return uint8_t(1u << (number - 1));
}

int mask_output(uint8_t mask)
{
    if (mask == 0)
        return 0;
    for (int n = 1; n <= 6; ++n)
        if (mask == output_mask(n))
            return n;
    return -1;
}

std::string output_text(uint8_t mask)
{
    const int n = mask_output(mask);
    return n >= 0 ? std::to_string(n) : "?" + std::to_string(mask);
}

uint8_t checksum(const Image& image)
{
    uint32_t sum = 0;
    for (int m = 0; m <= 253; ++m)
        sum += image[m + 1];
    return uint8_t(image[1 + 1] - image[255 + 1] - sum);
}

bool checksum_holds(const Image& image)
{
    uint32_t sum = 0;
    for (int m = 0; m < 256; ++m)
        if (m != 1)
            sum += image[m + 1];
    return uint8_t(sum) == 0;
}

std::array<WordValue, 7> output_words(const std::array<int, kChannels>& o)
{
    auto m = [&](int c) { return output_mask(o[c - 1]); };
    return {{{83, m(1), 4},
             {84, m(3), m(2)},
             {85, m(5), m(4)},
             {86, m(7), m(6)},
             {87, m(9), m(8)},
             {88, m(11), m(10)},
             {89, 0, m(12)}}};
}

void store_outputs(Image& image, const std::array<int, kChannels>& outputs)
{
    for (int c = 1; c <= kChannels; ++c)
        image[output_index(c)] = output_mask(outputs[c - 1]);
}

std::array<uint8_t, 6> channel_bounds(const Image& image, int c)
{
    std::array<uint8_t, 6> b{};
    for (int k = 1; k <= 3; ++k) {
        b[2 * (k - 1)] = image[upper_index(c, k)];
        b[2 * (k - 1) + 1] = image[upper_index(c, k) + 1];
    }
    return b;
}

std::array<WordValue, 3> window_words(int c, const std::array<uint8_t, 6>& b)
{
    return {{{window_word(c, 1), b[0], b[1]}, {window_word(c, 2), b[2], b[3]}, {window_word(c, 3), b[4], b[5]}}};
}

void init_c(Station& s)
{
    s.symbols[3] = s.symbols[6] = s.symbols[9] = 255;
    std::fill(s.memory_image.begin(), s.memory_image.begin() + 131, uint8_t(0));
}

uint8_t widen_upper(int value, int tolerance) { return uint8_t(std::clamp(value + tolerance, 0, 255)); }
uint8_t widen_lower(int value, int tolerance) { return uint8_t(std::clamp(value - tolerance, 0, 255)); }

} // namespace zuna::c120
