#pragma once
// NRI G13.6000 link: the G13.0000's line and run lists (nri/g13_link.h) at
// the G136 delay count, characters of 11 units (two stop units), and a
// mechanism that speaks hexadecimal text: addresses and bytes travel as
// pairs of the characters "0"-"9", "A"-"F". No Qt here: the G13.6000 window,
// its teach windows and the frequency window call these operations.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/progress.h"
#include "link/station.h"
#include "nri/g13_link.h"

namespace zuna::nri::g136 {

constexpr int64_t kLongWait = 10000000;  // reads without a start bit before a capture gives up
constexpr int32_t kStretchLimit = 100000; // a stretch this long ends a capture
// A reply of this link is at most 72 characters (the selector block); a
// capture begins no stretch past this many units (a noisy line).
constexpr int64_t kReplyUnits = 2048;
constexpr int32_t kDecodeEnd = 10000;     // a stretch longer than this ends decoding
// Stretches the decoders go through: 72 digits "5" or "E" (the selector
// block) take 576, so 500 would cut a whole block short.
constexpr int kDecodeStretches = 2000;
constexpr int kSymbols = 201;             // symbol entries 0..200 are written by the decoders
constexpr int kChannels = 12;
constexpr int kMeasures = 16;             // "A" to "P"
constexpr int kSelectorDigits = 72;       // block "13": six per channel
constexpr int kTableBytes = 12;           // blocks "0F", "10", "11", "12"
constexpr int kOptionBytes = 5;           // block "18": function bytes 0..2, offset E, offset A

// ---- Command run lists --------------------------------------------------

RunList cmd_open(uint8_t hold = 56);        // "I", hold 56 (or 40)
RunList cmd_separator(uint8_t hold = 12);   // "X", hold 12 (or 1)
RunList cmd_block_read(int address);        // two hexadecimal characters, the last with a stop of 1
RunList cmd_select(uint8_t hold = 1);       // "Z", hold 1 (or 50, 51, 60, 71)
RunList cmd_address(int address);           // two hexadecimal characters, two stop units each
RunList cmd_byte(int value);                // one byte as two characters, high half first (value & 255)
RunList cmd_digits(int high, int low);      // two hexadecimal digits in one frame (each & 15)
RunList cmd_coin_test();                    // "W"
RunList cmd_coin_teach();                   // "T"
RunList cmd_e9();                           // the byte 0xE9, level 1 held for 50 units

// The hexadecimal character of a digit 0..15 ("0"-"9", "A"-"F").
char hex_char(int digit);

// ---- Line operations (at the G136 delay count) -------------------------

// One unit of the value: G136 delay count + 1 writes; a negative count writes nothing.
void ecrir_bit_2(Station& s, uint8_t value);
// Mask, send entries 0..last, unmask.
void ecrir_octet_s(Station& s, const RunList& list, int last);
// Clear both tables, mask, send 0..last-1, capture, send entry last, unmask.
// True when a reply started within the wait.
bool ecrir_octet_b(Station& s, const RunList& list, int last);
// Clear both tables, mask, send 0..last, capture, unmask.
bool ecrir_octet_b_a(Station& s, const RunList& list, int last);
// The capture: one unit of level 1 by writes, up to kLongWait reads for the
// start bit (the run table is left as it was when none came), then the
// stretches divided by the G136 count (a count below 1 taken as 1).
bool lit_g13(Station& s);

// Each window action (and the frequency window's probe) starts with the line
// idle for kLeadUnits units: the data register may still hold the module's
// value (line at level 0), and a first start bit without its edge is lost.
constexpr int kLeadUnits = 12;
void idle_line(Station& s);

// ---- Decoders ----------------------------------------------------------

// Value of a received character: 0..9 for "0"-"9", 10..15 for "A"-"F", 16
// for anything else.
int hexval(uint8_t v);
// Pairs of hexadecimal characters into bytes / one digit (0..16) per
// character, into symbol entries 0..200 (cleared first). Each character is
// read from the start of its stretch; a character that begins on idle or a
// break (a stretch it does not leave) moves on past it, so every character
// advances and decoding always ends. Return the entries written.
int decode_g136(const std::array<int32_t, kRunTableSize>& runs, std::array<uint8_t, kSymbolBufferSize>& symbols);
int decode_g136_s(const std::array<int32_t, kRunTableSize>& runs, std::array<uint8_t, kSymbolBufferSize>& symbols);
inline int decode_g136(Station& s) { return decode_g136(s.run_table, s.symbols); }
inline int decode_g136_s(Station& s) { return decode_g136_s(s.run_table, s.symbols); }

// ---- One operation per window action -------------------------------------
// Each returns what the window shows: values read (absent when no whole
// reply came: no reply is ever a block of zeros) and a French message ("" when
// there is nothing to tell). progress may be null. A stop is honoured between
// exchanges of a reading or a collect, never between a write and its read-back.

using Block = std::array<int, kTableBytes>;          // a channel: max 1, min 1, max 2 ... min 6
using Selectors = std::array<int, kSelectorDigits>;  // block "13", digits 0..16
using Measures = std::array<int, kMeasures>;

// The byte block at `address`: "X" + hold `separator` (0: none), the read,
// decode_g136; absent unless `bytes` bytes came back.
std::optional<std::vector<int>> read_block(Station& s, int address, int bytes, uint8_t separator = 12);
// Block "13" after "X" + hold 12; absent unless 72 digits came back.
std::optional<Selectors> read_selectors(Station& s);
// The opening "I": true when the reply's byte 0 is 7. *heard (optional)
// tells whether anything came back at all (a garbled reply is heard).
bool open_answered(Station& s, bool* heard = nullptr);

struct Reading {
    bool answered = false;                 // byte 0 of the "I" reply was 7
    std::optional<Selectors> selectors;
    std::array<std::optional<Block>, kChannels> channels; // absent: not read
    int stopped_at = 0;                    // first channel not read because of a stop (0: none)
    std::string message;
};
// Lecture: "I", block "13", channels 1 to 12. Ends at the first block that
// does not answer, or at a stop between two blocks.
Reading lecture(Station& s, Progress* progress);

struct CoinTest {
    std::optional<Measures> measures; // absent: no coin measured
    std::string message;
};
// Test pieces: "I", then "W", waiting for a coin.
CoinTest coin_test(Station& s, Progress* progress);

// Ajust.: the channel's block after "X" + hold 12 (channel 1..12; absent
// otherwise). *heard (optional): whether anything came back.
std::optional<Block> read_channel(Station& s, int channel, bool* heard = nullptr);

struct ChannelWrite {
    int channel = 0;
    bool sent = false;                   // the block was written
    // The block as read back: absent when it did not answer, or when a
    // read-back that differed from what was sent was not read the same twice.
    std::optional<Block> read_back;
    bool confirmed = false;              // read back as written
    // Sent but not read back: what the channel holds is not known.
    bool unknown() const { return sent && !read_back; }
    std::string message;
};
// "Z", the channel's address, twelve bytes (each limited to 0..255), "X" +
// hold 12, then the block read back and compared; a read-back that differs
// is read again ("X" + hold 12 and the block) and kept only when both agree.
// A channel outside 1..12 sends nothing.
ChannelWrite write_channel(Station& s, int channel, const Block& block, Progress* progress);

struct ModelRead {
    std::optional<Block> block;
    std::optional<std::array<int, 6>> selectors; // the channel's six, each 0..15
    std::string message;                          // set when something is missing
};
// Enr. Modèle: block "13" and the channel's block, both from the mechanism.
ModelRead read_model(Station& s, int channel, Progress* progress);

struct ModelWrite {
    ChannelWrite block;
    bool selectors_written = false;
    // Block "13" as read back (for the r-labels): after a rewrite, only when
    // both read-backs agree; absent after a rewrite: its content is unknown.
    std::optional<Selectors> selectors;
    std::string message;
};
// Voir modèle, OK: the block, its read-back, then block "13" read, the
// channel's six digits replaced and written back, read back twice and
// compared. Block "13" is rewritten only when its read gave 72 digits 0..15.
ModelWrite write_model(Station& s, int channel, const Block& block, const std::array<int, 6>& selectors,
                       Progress* progress);

// The limits the validation writes: pair p checks measurement selectors[p];
// maximum = largest + tolerance (at most 255), minimum = smallest - tolerance
// (at least 0).
Block validation_block(const std::array<int, 6>& selectors, const Measures& largest, const Measures& smallest,
                       int tolerance);

struct Collect {
    Measures largest{};
    Measures smallest{};
    Measures last{};
    std::vector<Measures> coins; // every coin measured in this collect, in order
    int measured = 0;
    bool no_coin = false;
    bool stopped = false;
    std::string message;
};
// Calibration "LECTURE": "I" + hold 40, then up to count "T" reads, one coin
// each, widening the extremes given. Ends at the first coin that does not
// come (its zeros are not a coin) or between two coins when stopped.
Collect collect_coins(Station& s, int count, const Measures& largest, const Measures& smallest, Progress* progress);

// ---- Output and option tables ------------------------------------------

struct Tables {
    std::array<int, kChannels> output{};     // block "0F", byte per channel
    std::array<int, kChannels> coil{};       // block "11", four bits per channel
    std::array<int, kChannels> validation{}; // block "12", byte per channel
    std::array<int, 3> function{};           // block "18" bytes 0..2
    int offset_e = 0;                        // block "18" byte 3
    int offset_a = 0;                        // block "18" byte 4
    bool operator==(const Tables&) const = default;
};

struct TablesRead {
    std::optional<Tables> tables; // absent unless all five blocks answered
    int blocks_read = 0;
    bool heard = false;           // something came back (garbled, when no tables)
    bool stopped = false;
    std::string message;
};
// Lecture (page "Tables"): "X" + hold 1 before each of "0F", "10", "11",
// "12", "18"; ends at the first block that does not answer.
TablesRead read_tables(Station& s, Progress* progress);

struct TablesWrite {
    bool stopped = false;         // stopped before anything was sent
    // Absent when the read-back did not answer, or differed and a second
    // read-back did not agree with it: the tables' content is then unknown.
    std::optional<Tables> read_back;
    bool confirmed = false;       // "0F", "12" and "18" read back as written
    bool unknown() const { return !stopped && !read_back; }
    std::string message;
};
// Ecriture: the 0xE9 frame, then "0F", "11", "12" and "18", then the tables
// read back; "0F", "12" and "18" are compared with what was sent, and read
// back once more when they differ.
TablesWrite write_tables(Station& s, const Tables& t, Progress* progress);

} // namespace zuna::nri::g136
