// The C120 memory map: where a channel's windows and output live, the output
// encoding, and the checksum rule.
#include <gtest/gtest.h>

#include "c120/c120_memory.h"
#include "sim/c120_mech.h"

using namespace zuna;
using namespace zuna::c120;

TEST(C120Map, WindowWordsAndImageBytes)
{
    struct Case { int c, k, word, image; } cases[] = {
        {1, 1, 11, 21}, {1, 2, 23, 45}, {12, 1, 22, 43}, {12, 2, 34, 67}, {12, 3, 46, 91}, {4, 1, 14, 27},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(window_word(c.c, c.k), c.word) << c.c << "/" << c.k;
        EXPECT_EQ(upper_index(c.c, c.k), c.image) << c.c << "/" << c.k;
        // The window word's first byte is the upper bound.
        EXPECT_EQ(word_index(window_word(c.c, c.k) - 1), upper_index(c.c, c.k));
    }
    EXPECT_EQ(output_index(1), 165); // memory byte 164
    EXPECT_EQ(output_index(2), 168); // memory byte 167
    EXPECT_EQ(output_index(12), 178);
}

TEST(C120Map, OutputMasks)
{
    const struct { int number; uint8_t mask; } table[] = {{0, 0}, {1, 1}, {2, 2}, {3, 4}, {4, 8}, {5, 16}, {6, 32}};
    for (auto t : table) {
        EXPECT_EQ(output_mask(t.number), t.mask);
        EXPECT_EQ(mask_output(t.mask), t.number);
        EXPECT_EQ(output_text(t.mask), std::to_string(t.number));
    }
    for (uint8_t odd : {3, 64, 128, 255, 24})
        EXPECT_EQ(output_text(odd), "?" + std::to_string(odd));

    std::array<int, kChannels> outputs{};
    outputs[1] = 3; // channel 2
    outputs[2] = 0; // channel 3
    outputs[11] = 6;
    const auto words = output_words(outputs);
    EXPECT_EQ(words[0].word, 83);
    EXPECT_EQ(words[0].second, 4); // the constant
    EXPECT_EQ(words[1].word, 84);
    EXPECT_EQ(words[1].first, 0);
    EXPECT_EQ(words[1].second, 4);
    EXPECT_EQ(words[6].word, 89);
    EXPECT_EQ(words[6].first, 0);
    EXPECT_EQ(words[6].second, 32);
}

TEST(C120Map, ChecksumOfAValidMemoryIsItsOwnByte)
{
    Image im{};
    const auto m = sim::C120Mech::factory_memory();
    std::copy(m.begin(), m.end(), im.begin() + 1);
    ASSERT_TRUE(checksum_holds(im));
    EXPECT_EQ(checksum(im), im[255]);
    // Byte 1 plays no part; any other byte does.
    im[2] += 9;
    EXPECT_TRUE(checksum_holds(im));
    im[100] += 9;
    EXPECT_FALSE(checksum_holds(im));
    im[255] = checksum(im);
    EXPECT_TRUE(checksum_holds(im));
}

TEST(C120Map, WidenedBoundsStayInAByte)
{
    const struct { int v, t, upper, lower; } cases[] = {
        {125, 5, 130, 120}, {118, 5, 123, 113}, {253, 5, 255, 248}, {3, 5, 8, 0}, {0, 20, 20, 0}, {255, 0, 255, 255},
    };
    for (auto c : cases) {
        EXPECT_EQ(widen_upper(c.v, c.t), c.upper) << c.v << "+" << c.t;
        EXPECT_EQ(widen_lower(c.v, c.t), c.lower) << c.v << "-" << c.t;
    }
}
