#pragma once
// NRI G13.0000 link: one line each way (data bit 0 out, status bit 7 in),
// asynchronous 10-unit characters sent from stored run lists, replies
// captured as stretch lengths into the station's run table and decoded into
// its symbol buffer. No Qt here: the windows and the frequency window call
// these operations on the station.
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "link/progress.h"
#include "link/station.h"

namespace zuna::nri {

constexpr uint8_t kG13Level0 = 0x70; // start bit, data 0
constexpr uint8_t kG13Level1 = 0x71; // idle, stop bit, data 1
constexpr uint8_t kG13Reply = 0x80;  // status bit 7 set = mechanism line at level 0

constexpr int64_t kG13LongWait = 10000000; // lit_g13: reads without a start bit before giving up
constexpr int64_t kG13ShortWait = 100000;  // lit_g13_r / lit_g13_rt
constexpr int32_t kG13StretchLimit = 100000;
constexpr int kG13DecodeStretches = 3000;
constexpr int kG13Symbols = 301; // symbol entries 0..300 are written by the decoders
constexpr int32_t kG13TuneLimit = 3200;
// No reply of this link is longer than this many units ("Z": 37 characters).
constexpr int64_t kG13ReplyUnits = 512;
// Port accesses (1 µs each) the tuning may spend climbing without a good
// answer before it gives up on the line.
constexpr uint64_t kG13TuneBudget = 20000000;
// Steps of the tuning's progress bar: a try, then at most 35 on the way down.
constexpr int kG13TuneSteps = 36;

// A command as stretch lengths: even entries level 0, odd entries level 1.
struct RunList {
    static constexpr int kCapacity = 301;
    std::array<uint8_t, kCapacity> e{};
    int size = 0;

    void push(uint8_t v)
    {
        if (size < kCapacity)
            e[size++] = v;
    }
    int last() const { return size - 1; }
};

// Character rows: the run list of one character ending with its stop bit
// (carriage return has none). Unknown characters give an empty span.
std::span<const uint8_t> char_row(uint8_t c);

// Command run lists, built from the character rows.
RunList cmd_reset();                       // "A" 0x16, hold 255
RunList cmd_open_probe(uint8_t hold);      // "I", hold 39 / 18 / 1 / 107
RunList cmd_open();                        // "I"
RunList cmd_mode_read();                   // "U"
RunList cmd_identity();                    // "Z"
RunList cmd_end_identification();          // "A" 0x18, hold 255
RunList cmd_mode_write(int mode);          // "J", two digits, then level 0 for 60
RunList cmd_channel_read(int channel);     // "V" + digit
RunList cmd_channel_select(int channel);   // "D" + digit, hold 90
RunList cmd_values(const std::array<int, 4>& values); // 12 digits, CR, hold 60 (values limited to 0..255)
RunList cmd_date(int month, int day, int year);       // "E" MM/DD/YY CR, hold 255
RunList cmd_coin_test();                   // "W"
RunList cmd_coin_teach();                  // "T" without its stop bit

// Unit counts of the two rates (and the slightly shorter one of the model write).
int32_t slow_units(const Station& s);
int32_t fast_units(const Station& s);
int32_t model_write_units(const Station& s);
inline void set_slow(Station& s) { s.measured_module_count = slow_units(s); }
inline void set_fast(Station& s) { s.measured_module_count = fast_units(s); }

// Line operations.
void ecrir_bit_2(Station& s, uint8_t value);
void ecrir_bit(Station& s, uint8_t value);
// ecrir_octet and ecrir_octet_b return true when a reply started in time.
void ecrir_octet_s(Station& s, const RunList& list, int last);
bool ecrir_octet(Station& s, const RunList& list, int last);
bool ecrir_octet_b(Station& s, const RunList& list, int last);
// True when a reply was captured (the tables are not cleared before).
bool ecrir_octet_b_a(Station& s, const RunList& list, int last);

// Captures; true when a reply started before the wait gave up.
bool lit_g13(Station& s);
bool lit_g13_r(Station& s);
bool lit_g13_rt(Station& s);

// Decoders over the run table (usable on any table: never read or write out of bounds).
int cherche_sync(const std::array<int32_t, kRunTableSize>& runs);
void decode_nb_g13(const std::array<int32_t, kRunTableSize>& runs, std::array<uint8_t, kSymbolBufferSize>& symbols);
void decode_nb_g13_13(const std::array<int32_t, kRunTableSize>& runs, std::array<uint8_t, kSymbolBufferSize>& symbols);
inline void decode_nb_g13(Station& s) { decode_nb_g13(s.run_table, s.symbols); }
inline void decode_nb_g13_13(Station& s) { decode_nb_g13_13(s.run_table, s.symbols); }

void clear_tables(Station& s);
void reset(Station& s);
// True when anything came back during the opening.
bool ouverture(Station& s);
// True when the last opening was answered ("=" as second symbol).
bool opening_answered(const Station& s);

// How a tuning ended: tuned, nothing heard at all, or replies that never
// read as the opening's answer (a noisy or garbling line).
enum class TuneOutcome { Tuned, Silent, Garbled };

// Automatic tuning of the G13 delay count; 0 when nothing answered below 3200
// or within the budget of port time. A count that answered once while no
// second answer was found on the way down is returned as it is.
int32_t test_v(Station& s, Progress* progress = nullptr, TuneOutcome* outcome = nullptr);

// Coin measurement reads: "W" (test) and "T" (teach); the text of four groups.
// *answered tells whether a reply came within the wait.
std::string Ajust(Station& s, bool* answered = nullptr);
// *answered tells whether a coin was measured; when none came within the wait
// the text is that of the previous capture, since the tables are not cleared.
std::string Ajust_a(Station& s, bool* answered = nullptr);

// Text of symbols first..first+11 in groups of three, each group followed by
// two spaces (a channel line), or without the last two spaces cut at 19 (a
// coin text, see coin_text).
std::string channel_line(const std::array<uint8_t, kSymbolBufferSize>& symbols, int first);
std::string coin_text(const std::array<uint8_t, kSymbolBufferSize>& symbols);

// The four values of a channel line or coin text: the space-separated groups
// read as numbers (so a group with a two-digit symbol stays in its place),
// each limited to 0..255; a missing group reads 0.
std::array<int, 4> parse_values(const std::string& text);

} // namespace zuna::nri
