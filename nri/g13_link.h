#pragma once
// NRI G13.0000 link: one line each way (data bit 0 out, status bit 7 in),
// asynchronous 10-unit characters sent from stored run lists, replies
// captured as stretch lengths into the station's run table and decoded into
// its symbol buffer. No Qt here: the windows and the frequency window call
// these operations on the station.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

// The run list of one character: the start bit, eight data bits least
// significant first, then `stop` units of level 1 (0, 1 or 2; a stop after
// a data bit 1 lengthens that bit's stretch). Both G13 links build their
// character rows from it.
struct CharRuns {
    std::array<uint8_t, 11> e{};
    int size = 0;
};
CharRuns char_runs(uint8_t byte, int stop);
void append_char(RunList& l, uint8_t byte, int stop);

// Character rows of the G13.0000: the run list of one character ending with
// its stop bit (carriage return has none). Unknown characters give an empty span.
std::span<const uint8_t> char_row(uint8_t c);

// ---- What the G13.0000 and G13.6000 links share -------------------------

// What an exchange took and whether anything came back: port accesses (one
// tick of port time each), whether a capture saw a start bit, and whether
// the port stood still during a reply it heard (that reply is garbled: its
// stretches were cleared, nothing of it is read).
struct Exchange {
    bool heard = false;
    bool stalled = false;
    uint64_t accesses = 0;
    bool readable() const { return heard && !stalled; }
    void add(const Exchange& o)
    {
        heard = heard || o.heard;
        stalled = stalled || o.stalled;
        accesses += o.accesses;
    }
};

// Sends entries first..last of a run list (even entries level 0, odd level
// 1), each unit `count` + 1 writes; `count` is read at every unit. Returns
// the port accesses made.
uint64_t send_runs(Station& s, const RunList& list, int first, int last, const int32_t& count);

// How a capture listens: the listening start (one unit of level 1 at `count`,
// held by writes, or one write and count + 1 reads), the reads per unit the
// stretches are divided by (below 1: 1), the wait for the start bit and the
// longest reply in units (a capture begins no stretch past it).
struct Listening {
    int32_t count = 0;
    bool by_writes = false;
    int32_t unit = 1;
    int64_t first_wait = 0;
    int64_t reply_units = 0;
};
// Waits for a start bit and stores the stretch lengths into the run table
// (even entries level 0); a stretch of kG13StretchLimit reads ends it,
// stored as it is. Nothing is stored when no start bit came. When the port
// stood still between the last stretch of the wait and the reply's end (the
// line idle for kQuietUnits), the reply is garbled: the run table is
// cleared and the exchange says stalled (heard, nothing readable).
constexpr int64_t kQuietUnits = 20;
Exchange capture_runs(Station& s, const Listening& how);

// What the operator is told of a channel write that did not verify (both
// links): no read-back, a read-back that differs (read twice the same), or
// two read-backs that disagree.
// A garbled read-back (heard while the port stood still) is read once more;
// Illegible: the second read did not show what was written either.
enum class Unconfirmed { NoReadBack, Differs, ReadsDisagree, Illegible };
std::string unconfirmed_channel(int channel, Unconfirmed why);

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

// How a tuning ended: tuned, nothing heard at all, replies that never
// read as the opening's answer (a noisy or garbling line), or stopped by the
// operator between two tries.
enum class TuneOutcome { Tuned, Silent, Garbled, Stopped };

// Automatic tuning of the G13 delay count; 0 when nothing answered below 3200
// or within the budget of port time. A count that answered once while no
// second answer was found on the way down is returned as it is. A stop asked
// through progress ends it between two tries: 0 is returned and the G13 delay
// count is left as it was on entry.
int32_t test_v(Station& s, Progress* progress = nullptr, TuneOutcome* outcome = nullptr);

// Coin measurement reads: "W" (test) and "T" (teach); the text of four groups.
// *answered tells whether a readable reply came within the wait; *garbled
// whether one came but the port stood still during it (its text is zeros).
std::string Ajust(Station& s, bool* answered = nullptr, bool* garbled = nullptr);
// *answered tells whether a coin was measured; when none came within the wait
// the text is that of the previous capture, since the tables are not cleared.
std::string Ajust_a(Station& s, bool* answered = nullptr, bool* garbled = nullptr);

// Text of symbols first..first+11 in groups of three, each group followed by
// two spaces (a channel line), or without the last two spaces cut at 19 (a
// coin text, see coin_text).
std::string channel_line(const std::array<uint8_t, kSymbolBufferSize>& symbols, int first);
std::string coin_text(const std::array<uint8_t, kSymbolBufferSize>& symbols);

// The four values of a channel line or coin text: the space-separated groups
// read as numbers (so a group with a two-digit symbol stays in its place),
// each limited to 0..255; a missing group reads 0.
std::array<int, 4> parse_values(const std::string& text);

// ---- One operation per window action ---------------------------------------
// Each runs a whole sequence of the G13.0000 window on the station and returns
// what the window shows: the values read (absent when no reply came), what
// failed, and a French message for the operator ("" when there is nothing to
// tell). progress may be null (no bar, never stopped). A stop is honoured only
// between tuning tries, command groups, channels and coins: never inside a
// frame or a capture, and never between a write and its read-back.

struct ChannelLines {
    std::string upper; // max 1..4, as channel_line
    std::string lower; // min 1..4
};

struct Identity {
    std::string equipment;     // symbols 8..27, separators as spaces
    std::string production;    // day/month/year
    std::string reprogramming; // day/month/year
};

// The measuring mode after a "U" reply ("03"); absent when symbols 5..30 are all 0.
std::optional<std::string> mode_text(const std::array<uint8_t, kSymbolBufferSize>& symbols);
Identity identity_text(const std::array<uint8_t, kSymbolBufferSize>& symbols);
std::string reprogramming_text(const std::array<uint8_t, kSymbolBufferSize>& symbols);

// "Canal 2 non relu : ..." for channels whose read-back did not answer, or
// answered garbled (those also in `garbled`); "" for none.
std::string unread_message(const std::vector<int>& channels, const std::vector<int>& garbled = {});

struct Activation {
    bool tuned = false;   // a tuning found a count, now the stored count of this run
    bool stopped = false; // the tuning was stopped: both counts are as they were
    bool silent = false;  // the tuning heard nothing at any count it tried
    bool no_count = false; // the G13 delay count is below 1: nothing was sent
    std::string message;
};
// The message for a G13 delay count below 1 ("" for a usable count).
std::string delay_refusal(const Station& s);
// The window becoming active: with a G13 delay count below 1 (no stored
// count, a dead module time base) nothing is sent (said with delay_refusal
// when tune is set).
// Else, when tune is set, tunes the G13 delay count and keeps a count found
// as the stored count for this run; then takes the stored count (when there
// is one) and resets.
Activation activate(Station& s, bool tune, Progress* progress);

struct Reading {
    bool heard = false;    // anything came back at the opening
    bool answered = false; // the opening was answered: the rest was read
    std::optional<std::string> mode;
    std::optional<Identity> identity;
    std::array<std::optional<ChannelLines>, 6> channels; // absent: not read
    std::vector<int> unread;  // channels asked that did not answer, or answered garbled
    std::vector<int> garbled; // those of them heard garbled
    bool mode_garbled = false;     // the mode reply came garbled: no mode
    bool identity_garbled = false; // the identity reply came garbled: no identity
    int stopped_at = 0;       // first channel not asked because of a stop (0: none)
    std::string message;
};
// LECTURE: reset, opening, measuring mode and identity, channels 1 to 6. Stops
// after the opening, after the identification is closed, or between channels.
Reading lecture(Station& s, Progress* progress);

struct CoinTest {
    bool measured = false;
    std::string text;           // the measurement text (when measured)
    std::array<int, 4> values{}; // its four values (when measured)
    bool stopped = false;
    std::string message;
};
// Test: one "W" at the fast rate, waiting for a coin.
CoinTest coin_test(Station& s, Progress* progress);

struct Collect {
    std::array<int, 4> largest{};  // extremes including the coins of this collect
    std::array<int, 4> smallest{};
    std::array<int, 4> last{};     // values of the last coin measured
    std::vector<std::array<int, 4>> coins; // every coin measured in this collect, in order
    int measured = 0;              // coins measured in this collect
    bool no_coin = false;          // a coin did not come within the wait
    bool stopped = false;
    std::string message;
};
// Coin teach: up to count "T" reads, one coin each, widening the extremes
// given; ends at the first coin that does not come, or between two coins when
// stopped.
Collect collect_coins(Station& s, int count, const std::array<int, 4>& largest, const std::array<int, 4>& smallest,
                      Progress* progress);

struct Date {
    int month = 1;
    int day = 1;
    int year = 0; // modulo 100
};

struct ChannelWrite {
    int channel = 0;
    std::optional<std::string> reprogramming; // the "Z" reply's reprogramming date
    // The channel as read back: absent when it did not answer, or when a
    // read-back that differed from what was written was not read the same twice.
    std::optional<ChannelLines> read_back;
    bool unread = false;    // channel 1..6 sent but not read back: its content is unknown
    bool confirmed = false; // read back as written
    bool stopped = false;   // stopped before anything was sent
    std::string message;
};
// AJUST, model write and validation: "D" and the digit (channel 1..6 only),
// the two lines of values, the date and "Z" at `units`, then the channel's
// read-back at the fast rate, compared with the values sent (limited to
// 0..255); a read-back that differs is read once more and kept only when both
// agree. Once the first frame is sent it runs to its read-back.
ChannelWrite write_channel(Station& s, int channel, const std::array<int, 4>& maxima,
                           const std::array<int, 4>& minima, int32_t units, Date today, Progress* progress);

struct ModeWrite {
    std::optional<std::string> mode; // the mode read back
    bool read = false;               // the "U" read-back answered, readable
    bool garbled = false;            // it answered, garbled
    bool confirmed = false;          // read back as written
    bool stopped = false;            // stopped before anything was sent
    std::string message;
};
// Mode mesure: writes the measuring mode and reads it back, compared with
// the mode written; runs to its read-back.
ModeWrite write_mode(Station& s, int mode, Progress* progress);

// The window closing.
void close_link(Station& s);

} // namespace zuna::nri
