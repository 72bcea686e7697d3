#pragma once
// Alberici AL3 link: one line each way (data bit 0 out, status bit 7 in),
// asynchronous characters (start bit, eight data bits LSB first, the idle
// level as stop bit) timed with the ALB delay count. Strictly alternating:
// every character sent is followed by a budgeted capture of the answer into
// the station's run table. No Qt here: the AL3 window and the frequency
// window call these operations on the station.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/progress.h"
#include "link/station.h"

namespace zuna::alberici {

constexpr uint8_t kLevel0 = 0x60; // start bit, data 0
constexpr uint8_t kLevel1 = 0x61; // idle, stop bit, data 1
constexpr uint8_t kReply = 0x80;  // status bit 7 set = mechanism line at level 0

constexpr int64_t kBudgetUnits = 78;    // capture budget of a character, in ALB counts
constexpr int32_t kEndMark = 10000;     // the stretch still running when a capture gave up
constexpr int kClearedEntries = 1001;   // run table entries cleared before every character
constexpr int64_t kCoinWait = 10000000; // reads attend waits for a coin
constexpr int kRecordBytes = 18;
constexpr int kChannels = 12;
constexpr int kGeneralRecord = 12;
constexpr uint8_t kAnswerF = 'F';

// Units and length conversions need an ALB count of at least 1: 0 divides
// by zero, a negative count gives a negative budget. Every operation below
// does nothing (and reports nothing heard) when it is not.
bool alb_usable(const Station& s);

// ---- Line --------------------------------------------------------------

// One unit of value: written (ALB + 1) times.
void ecrir_bit_2(Station& s, uint8_t value);
// Sends one character and captures the answer, masked from the start bit to
// the end of the capture: clears run table entries 0..1000, start bit, eight
// data bits, then lit_al3 with 78 x ALB. No stop unit: the capture's idle
// write is the stop bit. stalled: as lit_al3's.
void ecrir_nb(Station& s, uint8_t value, bool* stalled = nullptr);
// Budgeted capture: one write of 0x61, one counter for the wait and the
// answer; the stretch running when it runs out is the end mark; three units
// of 0x61 after an answer, none when no start bit came. True when one came.
// stalled (when given) tells whether the port stood still (Port::stalled_ns)
// from the stop bit's write, through the wait, to twelve units after the
// start bit (the character's ten, and room for a slow clock): its levels
// were then not counted as they were on the line (a level cut short, edges
// hidden), and the character is garbled.
bool lit_al3(Station& s, int64_t budget, bool* stalled = nullptr);
// Waiting capture (a coin): up to 10 000 000 reads for the start bit, each
// stretch counted from 0 up to the end mark; no closing units, the run table
// not cleared. True when a start bit came (otherwise nothing was written).
// stalled: as lit_al3's, from the last stretch of the wait.
bool attend(Station& s, int64_t wait = kCoinWait, bool* stalled = nullptr);
// The first character of the run table (start bit and eight data bits); the
// entries it reads are used up. An empty capture decodes as 0. framed (when
// given) tells whether a stop bit (level 1) followed the eighth data bit.
uint8_t decode(Station& s, bool* framed = nullptr);

// An exchange: the character sent, the reply decoded, whether a start bit
// came at all (entry 0 not 0 before decoding), whether the reply had its
// stop bit and whether the port stood still while it was counted: a reply
// that did not come is never taken for the byte 0, nor a misframed or
// stalled one (heard, but garbled) for a byte.
struct Reply {
    uint8_t value = 0;
    bool heard = false;
    bool framed = false;
    bool stalled = false;
    bool good() const { return heard && framed && !stalled; }
};
Reply exchange(Station& s, uint8_t c);
// An exchange whose reply is c itself, well framed: the mechanism's echo of
// a character it understood.
bool echoes(Station& s, uint8_t c);

// "A", "S", "0": true when the reply to "0" is "F" (and not stalled). Uses the ALB count as
// the station holds it; false at once for a count below 1. The frequency
// window calls it while it changes the count.
bool test_vitesse(Station& s);

// ---- Channel record ------------------------------------------------------

using Record = std::array<uint8_t, kRecordBytes>;
constexpr int kOutputAddr = 0x0C, kTimeAddr = 0x0D, kValueAddr = 0x0E, kToleranceAddr = 0x0F;

inline int parameter(const Record& r, int k) { return r[size_t(2 * (k - 1))]; } // k = 1..6
inline int delta(const Record& r, int k) { return r[size_t(2 * k - 1)]; }
// Index of the single set bit of the output byte (0..6); 0 for any other byte.
int output_index(uint8_t b);
inline uint8_t output_mask(int n) { return uint8_t(n >= 0 && n <= 6 ? 1u << n : 1u); }
inline int time_ms(const Record& r) { return 2 * r[kTimeAddr]; }
inline bool validated(const Record& r) { return !(r[kValueAddr] & 0x80); }
// Texts of the grid: value bits 0..6, "NO" above 100; tolerance "no" above 15.
std::string value_text(uint8_t b);
std::string tolerance_text(uint8_t b);

// ---- Transactions of the AL3 window ---------------------------------------

// "A", "R", record, "0" -> r1, each byte sent back for the next (r15 with
// bit 7 cleared), r18 sent back. Nothing when "A", "R" or the record number
// did not come back as sent; stops at the first reply that did not come or
// had no stop bit. heard (when given) is set when any reply came, readable
// or not.
std::optional<Record> channel_read(Station& s, int record, bool* heard = nullptr);
// The closing "S", "0".
void closing(Station& s);
// Channel n (1..12): the closing first for n >= 2, then the channel read.
std::optional<Record> lect(Station& s, int n);
// "A", "g", 0x03, ".", "0" -> x1 -> x2 -> x3, x3 sent.
void reading_opening(Station& s);
// "A", "w", value, address, record, "0" -> r, r sent back (with_a false
// leaves the leading "A" out).
void byte_write(Station& s, int record, int address, uint8_t value, bool with_a = true);
// "A", "r", address, record, "0" -> v, v sent back when heard. Nothing when
// v did not come or is garbled (no stop bit, a stall while it was counted).
std::optional<uint8_t> byte_read(Station& s, int record, int address);
// "A", "V", "0" -> the type; nothing when it did not come or is garbled.
std::optional<uint8_t> type_read(Station& s);
void type_write(Station& s, uint8_t type);
// "m", n, "0" -> v, v sent back (n = 8..13: measurement n - 7). Nothing
// (v not sent back) when "m" or n did not come back as sent or v had no stop
// bit.
std::optional<uint8_t> measurement_read(Station& s, int n);

// ---- One operation per window action --------------------------------------

// "Lecture": opening, then for channels 1..12 the closing and the channel
// read, then the closing. A channel whose reply did not come ends the read
// (closing sent); "Arrêter" ends it between channels.
struct ReadAll {
    std::array<std::optional<Record>, kChannels> channel{};
    int done = 0;        // channels read whole
    bool silent = false;  // a channel's replies did not come
    bool garbled = false; // a channel's replies came, unreadable (garbled, misframed, a stall)
    bool stopped = false;
};
ReadAll lecture(Station& s, Progress* p = nullptr);

// A write confirmed by reading the channel back: the addresses written and
// what the read-back holds there. A read-back that differs from what was
// written is read again (up to kRereads more times) and believed only when a
// read agrees with what was written or two reads in a row are equal.
constexpr int kRereads = 3;
struct WriteResult {
    int channel = 0;
    bool sent = false;
    std::vector<std::pair<int, uint8_t>> written; // address, value
    std::optional<Record> readback; // the read believed, or the last one
    bool settled = true;            // false: the reads never agreed
    // Addresses whose read-back differs (all of them when nothing came back).
    std::vector<int> differences() const;
    bool confirmed() const { return sent && readback && settled && differences().empty(); }
    // Written, but what the channel now holds is not known (no read-back, or
    // reads that never agreed).
    bool unknown() const { return sent && (!readback || !settled); }
};

// What "Ajust." and a model load put in a channel.
struct Settings {
    std::array<int, 6> parameter{};
    std::array<int, 6> delta{};
    int output = 0;   // 0..6
    int time_ms = 0;  // 0..510
    int value = 1;    // 1..100
    bool validated = true;
};
// "OK" of "Ajust.": the block of byte writes twice, then lect and "S", "0".
// A channel outside 1..12 is refused (nothing sent).
WriteResult write_channel(Station& s, int channel, const Settings& v);
// "Vider": 0xFF to 0x0F, 0x0E, 0x0C, 0x0D, 0x00..0x0B, "A", "S", "0", lect,
// "S", "0". Interrupts are masked per character only.
WriteResult vider(Station& s, int channel);
// A model load: the tolerance written at once, the reply neither used nor
// sent back.
void load_tolerance(Station& s, int channel, uint8_t tolerance);

// "Calib. Piece" opening: the type (nothing when it did not come), then "S", "0".
std::optional<uint8_t> teach_type(Station& s);

struct Teach {
    int coins = 15;     // 1..20
    int channel = 1;    // 1..12
    int tolerance = 4;  // 2..10
    int value = 1;      // 1..100
    int time_ms = 100;  // 0..510
    int output = 0;     // 0..6
};
struct TeachResult {
    bool answered = false;   // the first "A" came back as "A"
    std::vector<int> counts; // the counts received, one per coin
    bool no_coin = false;    // a coin wait ended with no coin
    bool garbled = false;    // a count came garbled (no stop bit, a stall): not taken
    bool stopped = false;    // "Arrêter" between coins
    WriteResult write;       // the channel settings written and read back
};
// The coin teach and its closing "S", "0", then (when every coin came) the
// channel settings written twice and read back, and "S", "0" again. Stops between coins on request. The
// progress value follows the last count received.
TeachResult teach(Station& s, const Teach& t, Progress* p = nullptr);

// "Test pieces": "A", measurements 8..13, "S", "0". Nothing for a
// measurement that did not come (the reads stop there).
std::array<std::optional<uint8_t>, 6> coin_test(Station& s);

// "Ajust.": the channel read of channel c (1..12).
std::optional<Record> adjust_read(Station& s, int channel);

// The TYPE tab.
struct TypeLevels {
    std::optional<uint8_t> type;   // 1..6
    std::optional<uint8_t> levels; // address 5 of record 12
};
TypeLevels read_type(Station& s);
// "Ecrir": levels (bit k = 1: output k not at high level), the accumulator
// switch, the type; then read back with read_type.
// A read-back that differs is read again, as a channel's is.
struct TypeWrite {
    uint8_t type = 0;
    uint8_t levels = 0;
    TypeLevels readback;
    bool settled = true; // false: no read-back, or reads that never agreed
    bool holds(const TypeLevels& r) const
    {
        return r.type == type && r.levels && (*r.levels & 0x7F) == (levels & 0x7F);
    }
    bool confirmed() const { return settled && holds(readback); }
};
TypeWrite write_type(Station& s, uint8_t type, uint8_t levels);

} // namespace zuna::alberici
