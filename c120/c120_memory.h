#pragma once
// The C120 memory image (in the station) and the part of the memory map the
// station interprets: the three acceptance windows of the twelve channels,
// their outputs and the checksum byte. Image byte 0 is the valid flag, image
// byte m + 1 is memory byte m.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "c120/c120_link.h"
#include "link/station.h"

namespace zuna::c120 {

using Image = std::array<uint8_t, kMemoryImageSize>;

constexpr int kChannels = 12;
constexpr int kChecksumByte = 254; // memory byte
constexpr int kOutputWordFirst = 83;
constexpr int kOutputWordLast = 89;

// 1-based word number of channel c's window for parameter k (both 1-based).
constexpr int window_word(int c, int k) { return c + 10 + 12 * (k - 1); }
// Image index of the upper bound (the lower bound is the next byte).
constexpr int upper_index(int c, int k) { return 21 + 2 * (c - 1) + 24 * (k - 1); }
// Image index of channel c's output byte.
constexpr int output_index(int c) { return (c % 2) ? 164 + c : 166 + c; }
// Image index of the first byte of word address a.
constexpr int word_index(int address) { return 2 * address + 1; }

// Output number 0..6 <-> one-bit mask (0 is 0).
uint8_t output_mask(int number);
// -1 for a byte that is neither 0 nor one of the six masks.
int mask_output(uint8_t mask);
// Text of a channel's output column: the number, or "?" and the raw byte.
std::string output_text(uint8_t mask);

// Checksum byte computed from the image: byte 1 - byte 255 - sum(0..253).
uint8_t checksum(const Image& image);
// The 8-bit sum of all 256 memory bytes but byte 1 is 0.
bool checksum_holds(const Image& image);

// The seven output words 83..89 for twelve output numbers.
struct WordValue {
    int word; // 1-based
    uint8_t first;
    uint8_t second;
};
std::array<WordValue, 7> output_words(const std::array<int, kChannels>& outputs);
// Stores the masks of the channels into the image (bytes 165 and 176 untouched).
void store_outputs(Image& image, const std::array<int, kChannels>& outputs);

// Writes the words in order with ecrit_data (write_words: stops at the
// first not verified, or between words when the operator asks).
template <class Words>
WriteOutcome ecrit_words(Station& s, const Words& words, Progress* progress = nullptr)
{
    return write_words(
        int(words.size()), progress, [&](int i) { return ecrit_data(s, words[i].word, words[i].first, words[i].second); },
        [&](int i) { return words[i].word; });
}
// The three window words of channel c from six bounds (upper first).
std::array<WordValue, 3> window_words(int c, const std::array<uint8_t, 6>& bounds);

// Six bounds of a channel, upper first, parameter 1 to 3.
std::array<uint8_t, 6> channel_bounds(const Image& image, int c);

// Sets symbols 3, 6 and 9 to 255 and clears image bytes 0..130 (the valid
// flag with them). The window repaints its highlighting afterwards.
void init_c(Station& s);

// Bounds widened by a tolerance, held in 0..255.
uint8_t widen_upper(int value, int tolerance);
uint8_t widen_lower(int value, int tolerance);

} // namespace zuna::c120
