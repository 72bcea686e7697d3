#pragma once
// The C220B link: the C120 command language on the same two lines, but each
// command is framed and timed with the C220B delay count (line values
// 0x70/0x71) and sent and listened to in one operation bounded by a
// listening window in bit times. Replies are decoded as on the C120, and the
// memory image and checksum rule are the C120's; the map holds 16 channels.
// Rest states and coin measurements go through the C120 link operations.
#include <array>
#include <cstdint>
#include <string>

#include "c120/c120_link.h"
#include "c120/c120_memory.h"
#include "link/station.h"

namespace zuna::c220b {

constexpr uint8_t kBit0 = 0x70; // data 0, start bit
constexpr uint8_t kBit1 = 0x71; // data 1, stop bit

// Line values written with the C120 window's ecrir_bit.
constexpr uint8_t kBefore = 0x71;     // before a transfer
constexpr uint8_t kRest = 0x73;       // rest state after a transfer
constexpr uint8_t kTeachStart = 0x01; // before a coin teach or a validation write
constexpr uint8_t kTeachEnd = 0x03;   // after a coin teach

constexpr int kChannels = 16;
constexpr int kWriteRounds = 4;
constexpr int kReadDecoded = 20; // decode capacity of a word read

// Listening windows, in bit times.
constexpr int kWinOpenClose = 458;
constexpr int kWinRead = 426;
constexpr int kWinMeasure = 200;

constexpr std::array<uint8_t, 3> kOpen = {0x05, 0x78, 0x78};
constexpr std::array<uint8_t, 3> kClose = {0x05, 0x79, 0x79};
constexpr std::array<uint8_t, 2> kMeasureCoin = {0xFF, 0xFF};
using c120::read_word_command;
using c120::write_word_command;
// The checksum word: 0x7A 0x7F C 0x00 (C + 0xF9).
std::array<uint8_t, 5> write_checksum_command(uint8_t sum);

// Holds a value for one bit time of the C220B delay count.
void ecrir_bit(Station& s, uint8_t value);

// Total status reads allowed for an answer in a window of w bit times.
int64_t listen_reads(int32_t delay, int window);

// Sends n bytes (the last one followed by exactly one stop bit) and records
// the answer into runs with the C120 recorder, timed with the C220B delay
// count and bounded by the listening window (no end entry: the last run has
// the length reached when the window ran out). Returns the entries written
// (0 when nothing answered).
int ecrir_instruction_c220(Station& s, const uint8_t* bytes, int n, int window, int32_t* runs, int capacity);
template <std::size_t N>
int ecrir_instruction_c220(Station& s, const std::array<uint8_t, N>& c, int window, int32_t* runs, int capacity)
{
    return ecrir_instruction_c220(s, c.data(), int(N), window, runs, capacity);
}
// Into the station's run table (cleared first); returns decoded byte 0.
// `heard`, when given, tells whether anything answered.
uint8_t send_table(Station& s, const uint8_t* bytes, int n, int window, bool* heard = nullptr);
template <std::size_t N>
uint8_t send_table(Station& s, const std::array<uint8_t, N>& c, int window, bool* heard = nullptr)
{
    return send_table(s, c.data(), int(N), window, heard);
}

// One word read, up to 30 tries; stores the word n - 1 (n = 1..128) in the image.
bool lect_mem_mech_c220(Station& s, int n);

// Reads the whole memory with the progress stepped after each word; returns
// the words read (128 when complete). The valid flag is set by the open. A
// stop asked by the operator ends it before a word (`stopped` set, when given).
int lecture_c220(Station& s, Progress* progress, bool* stopped = nullptr);

// Writes word address a with the checksum word, up to four rounds; the
// caller masks interrupts. Verified only when the word reads back as written
// and the checksum byte reads back as the one sent.
c120::WriteResult ecrit_data_c220(Station& s, int address, uint8_t first, uint8_t second);

// Measure coin (window 200) into the run table and symbol buffer, then the
// coin's answer with the C120 reader (C120 delay count and read time-out):
// symbols[3], [6], [9] are the values when `measured`.
c120::CoinReply measure_coin_c220(Station& s);

// --- Memory map -----------------------------------------------------------
// Word address of channel c's window for parameter k.
constexpr int window_address(int c, int k) { return c + 8 + 16 * (k - 1); }
// Image index of the upper bound (the lower bound is the next byte).
constexpr int upper_index(int c, int k) { return 1 + 18 + 2 * (c - 1) + 32 * (k - 1); }
// Memory byte of channel c's output: 236 + c with the lowest bit inverted, 253 for channel 16.
constexpr int output_byte(int c) { return c == 16 ? 253 : ((236 + c) ^ 1); }

std::array<uint8_t, 6> channel_bounds(const c120::Image& image, int c);
// The mechanism stores outputs 0..3, shown 1..4; a spin value v is stored
// as v - 1 (so 0 as 255). Stored values 255 and 4, 5 show as 0, 5, 6 (what
// the spin edits write); anything else as "?" and the byte.
std::string output_text(uint8_t stored);
int output_spin(uint8_t stored); // the spin value for a stored byte (0 when unknown)

// The nine output words 118..126 (word addresses) from sixteen spin values;
// word 118's second byte is image byte 237 as it stands.
struct AddressValue {
    int address;
    uint8_t first;
    uint8_t second;
};
std::array<AddressValue, 9> output_words(const c120::Image& image, const std::array<int, kChannels>& spins);
void store_outputs(c120::Image& image, const std::array<int, kChannels>& spins);
std::array<AddressValue, 3> window_words(int c, const std::array<uint8_t, 6>& bounds);

// Writes the words in order (c120::write_words: stops at the first not
// verified, or between words when the operator asks).
c120::WriteOutcome ecrit_words(Station& s, const AddressValue* words, int count, Progress* progress = nullptr);
template <std::size_t N>
c120::WriteOutcome ecrit_words(Station& s, const std::array<AddressValue, N>& w, Progress* progress = nullptr)
{
    return ecrit_words(s, w.data(), int(N), progress);
}

// --- Window operations (as on the C120, c120_link.h) -------------------------
// "lecture": the whole read; an image that is not whole has its valid flag cleared.
c120::ReadResult read_memory(Station& s, Progress* progress);
// "Tester": close, open, one coin, close; the read time-out left at the short
// value after a test. The coin's values are symbols 3, 6, 9.
c120::CoinReply test_coin(Station& s);
// The coin teach; none is waited for when the open is not answered.
c120::TeachResult teach_coins(Station& s, int coins, Progress* progress);
// The validation: the three window words of channel c after 0x01.
c120::WriteOutcome validate_teach(Station& s, int c, const std::array<uint8_t, 6>& bounds, Progress* progress);
// AJUST OK (and a model load, which opens the link again afterwards).
c120::WriteOutcome write_channel(Station& s, int c, const std::array<uint8_t, 6>& bounds, bool reopen,
                                 Progress* progress);
// SORTIES OK: the nine output words; the values go into the image once all are verified.
c120::WriteOutcome write_outputs(Station& s, const std::array<int, kChannels>& spins, Progress* progress);
// After the teach window (line 0x71 first) and when the window closes: close, rest.
void close_link(Station& s, bool line_first);

} // namespace zuna::c220b
