#pragma once
// The C120 link: a bit-by-bit asynchronous serial line driven through the
// module (data bit 0 out, status bit 7 back), timed with the C120 delay
// count. Bytes go out start bit, eight data bits LSB first, stop bits; the
// reply is recorded as level durations and decoded into bytes. On top of it:
// open, close, read a word, write a word, measure a coin.
//
// No Qt here: the C120 and C220B windows, the teach and validation windows
// and the frequency window call these on the station state alone.
#include <array>
#include <cstdint>

#include "link/progress.h"
#include "link/station.h"

namespace zuna::c120 {

// Data register values of the link.
constexpr uint8_t kBit0 = 0x60;      // data 0, start bit
constexpr uint8_t kBit1 = 0x61;      // data 1, stop bit, line level during an exchange
constexpr uint8_t kRest = 0x63;      // rest state, first half of the wake-up pulse
constexpr uint8_t kAfterRead = 0x71; // after every word read, before a coin teach
constexpr uint8_t kTeachEnd = 0x73;  // end of a coin teach
constexpr uint8_t kValidLine = 0x03; // around the validation write

constexpr uint8_t kReplyMask = 0x80; // status bit 7
constexpr uint8_t kAck = 5;

constexpr int kLocalRuns = 201;      // reply runs of word reads and writes
constexpr int kLocalDecoded = 22;
constexpr int kDecodedCleared = 21;  // decode clears this many bytes first
constexpr int kDecodeEntries = 200;  // decode looks at no more entries
constexpr int32_t kRunEnd = 10000;   // a run this long (raw reads) ends a reply
constexpr int kWordCount = 128;
constexpr int kChecksumWord = 127;   // word address of the checksum word
constexpr int kWordTries = 30;
// A word read stops after this many tries in a row that nothing answered.
constexpr int kSilentTries = 10;
// A word write is retried this many rounds before it is given up.
constexpr int kWriteRounds = 8;

constexpr int64_t kTimeoutNormal = 900000;
constexpr int64_t kTimeoutTest = 5900000;
constexpr int64_t kTimeoutTeach = 59000000;
constexpr int64_t kTimeoutAfterTest = 90000;

using Command4 = std::array<uint8_t, 4>;
using Command5 = std::array<uint8_t, 5>;

constexpr Command4 kOpen = {0x05, 0x78, 0x78, 0xFF};
constexpr Command4 kClose = {0x05, 0x79, 0x79, 0xFF};
constexpr Command4 kMeasureCoin = {0x7F, 0x1F, 0x9E, 0xFF};
Command4 read_word_command(int address);
Command5 write_word_command(int address, uint8_t first, uint8_t second);

// --- Byte layer -----------------------------------------------------------
// The delay count used by a link; the C220B window runs the same layer on the
// C120 count (its own count only times its own commands).
void ecrir_bit(Station& s, uint8_t value);
void ecrir_octet(Station& s, uint8_t byte);   // data bits, 5 stop bits, next start bit
void ecrir_octet_f(Station& s, uint8_t byte); // data bits only
// A command that follows one whose last data bit was 0 (the line still low)
// begins with one bit time of 0x61, so that its start bit has a falling edge.
void ecrir_instruction(Station& s, const Command4& c);
void ecrir_instruction_e(Station& s, const Command5& c);
void wake_up(Station& s); // 0x63, long pause, 0x61

// Counts the levels of the reply line (status bit 7) for both recorders.
// A pulse shorter than half a bit time is a glitch: it is dropped with both
// its edges and its reads counted in the level around it. Of two short
// levels in a row the shorter is the glitch, so a spike just after a real
// edge does not take the level that began at that edge. The read that sees
// a level change is counted in neither level. Every read counts against
// `budget`.
class LevelReader {
public:
    LevelReader(Port& port, int64_t half, int64_t budget) : port_(port), half_(half), budget_(budget) {}
    // Counts `level` on from `run` reads up to `limit` reads. True when the
    // level changed: `run` is its length and `next` the reads already made
    // of the next level. False when the limit or the budget was reached.
    bool hold(bool level, int64_t& run, int64_t limit, int64_t& next);
    int64_t used() const { return used_; }

private:
    int64_t reads(bool level, int64_t limit, bool& changed);
    Port& port_;
    int64_t half_;
    int64_t budget_;
    int64_t used_ = 0;
};

// Records the reply on status bit 7 into runs[0..capacity): level 1 first,
// lengths in bit times, the last entry the raw count 10000. Nothing is
// recorded when the first level change does not come within the C120 read
// time-out. Glitches are dropped (LevelReader). Returns the number of
// entries written. A delay count below 1 is taken as 1 for the division (the
// windows refuse such a count beforehand).
int lecture_monayeur(Station& s, int32_t* runs, int capacity);

// Decodes reply runs into bytes (bytes after long pauses land 3 apart).
// Never writes beyond capacity (at least 21).
void decode_table(const int32_t* runs, int run_count, uint8_t* out, int capacity);

// Sends a command and records (and decodes, when asked) its reply into the
// station's run table and symbol buffer. Returns decoded byte 0.
void send_only(Station& s, const Command4& c);
bool send_record(Station& s, const Command4& c); // true when anything answered
uint8_t send_decode(Station& s, const Command4& c);

// --- Word operations ------------------------------------------------------
// One try of a word read (no retries, no trailing 0x71): true when the reply
// is acknowledged and its check byte holds; the word in first/second.
bool read_word_once(Station& s, int address, uint8_t* first, uint8_t* second);

// Reads word n - 1 (n = 1..128) into the memory image, up to 30 tries
// (kSilentTries when nothing answers at all).
bool lect_mem_mech(Station& s, int n);

// Reads the whole memory into the image (valid flag set on an acknowledged
// open); stops at the first word that fails. Returns the words read.
int lecture(Station& s, Progress* progress);

enum class WriteResult {
    Verified,      // word and checksum word read back as written
    Unverified,    // the rounds ran out; the image holds both words as read back
    NoAnswer,      // the rounds ran out and a word could not be read back: the
                   // word keeps its old value and the image's valid flag is cleared
};

// Writes word n (1..128) with first/second, brings the checksum word up to
// date, reads both back; retried for at most kWriteRounds rounds. A
// mechanism that answers nothing through the opening reads or a whole round
// ends the write at once (NoAnswer).
WriteResult ecrit_data(Station& s, int n, uint8_t first, uint8_t second);
// Rewrites word n with the bytes already in the image and the given checksum.
WriteResult ecrit_data_1(Station& s, int n, uint8_t checksum);

// The link close when the window closes.
void close_link(Station& s);

// --- Coin measurement -----------------------------------------------------
// Sends measure coin (twice in a row when asked), records and decodes the
// acknowledge, and on acknowledge the measurement reply, into the run table
// and symbol buffer: symbols[3], [6], [9] are the three values.
struct CoinReply {
    bool acknowledged = false; // the first reply's byte 0 was 5
    bool measured = false;     // the measurement reply came and begins with 5
};
CoinReply measure_coin(Station& s, bool twice);

} // namespace zuna::c120
