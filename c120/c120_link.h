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
#include <functional>
#include <vector>

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
constexpr int kCharacterBits = 10;   // start bit, eight data bits, stop bit
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
// Word commands, the same on the C120 and the C220B.
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

// How a reply recording ends. The C120 waits up to its read time-out for
// the reply's first level 1 ((time-out + 2) reads at most) and takes a run
// of kRunEnd reads as the end, stored as kRunEnd. The C220B counts every
// read against its listening window and stores the run it was measuring
// when the window ran out.
struct ReplyEnd {
    enum Kind { TimeOut, Window } kind;
    int64_t reads; // the time-out, or all the reads of the window
};

// Records the reply on status bit 7 into runs[0..capacity): level 1 first,
// lengths in bit times of `delay` (below 1 taken as 1; the windows refuse
// such a count beforehand), rounded halves to even. A pulse shorter than half
// a bit time is a glitch: it is dropped with both its edges and its reads
// counted in the level around it; of two short levels in a row the shorter is
// the glitch. Returns the entries written (0: nothing answered). A reply
// during which the port stood still (from the last stretch of the wait for
// its first level until its last level has held a whole character) is
// garbled: its entries are all 0, so that it decodes to nothing, and the
// count says it answered.
int record_reply(Port& port, int32_t delay, ReplyEnd end, int32_t* runs, int capacity);

// The C120 recorder: the C120 delay count and read time-out.
int lecture_monayeur(Station& s, int32_t* runs, int capacity);

// Where decode_table put bytes: bit i for place i (places 63 and beyond all
// on bit 63).
struct Placed {
    uint64_t bytes = 0;  // a byte decoded into the place
    uint64_t paused = 0; // ... followed by a pause: more than four bit times at the stop level
};

// Decodes reply runs into bytes (bytes after long pauses land 3 apart).
// Never writes beyond capacity (at least 21).
Placed decode_table(const int32_t* runs, int run_count, uint8_t* out, int capacity);

// A measurement reply as the mechanism sends it: the acknowledge and the
// three values alone in places 0, 3, 6 and 9, each followed by its pause.
// Any other decoding is unreadable: its values are not the coin's.
bool coin_reply_readable(const uint8_t* symbols, const Placed& placed);

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
// open); stops at the first word that fails, or before a word when the
// operator asks to stop (`stopped` then set, when given). Returns the words read.
int lecture(Station& s, Progress* progress, bool* stopped = nullptr);

enum class WriteResult {
    Verified,      // word and checksum word read back as written
    Unverified,    // the rounds ran out; the image holds both words as read back
    NoAnswer,      // the rounds ran out and a word could not be read back: the
                   // word keeps its old value and the image's valid flag is cleared
    Unknown,       // the rounds ran out and a word read back other than written
                   // read differently the next time: as NoAnswer for the image
};

// What a run of word writes ended with. `failed` names the word (C120: its
// number; C220B: its address + 1) that was not verified or, when `stopped`,
// the first word not written: the words before it are written and verified.
struct WriteOutcome {
    WriteResult result = WriteResult::Verified;
    int failed = 0;
    bool stopped = false;
};
// Writes n words in order: write(i) writes the i-th and number(i) names it.
// Stops at the first not verified, or before a word when the operator asks
// (never during a word: a word's write is always followed by its
// verification). The progress counts the words.
WriteOutcome write_words(int n, Progress* progress, const std::function<WriteResult(int)>& write,
                         const std::function<int(int)>& number);

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
    bool measured = false;     // the measurement reply came and is readable (coin_reply_readable)
};
CoinReply measure_coin(Station& s, bool twice);

// --- Window operations ------------------------------------------------------
// One per window action: the whole sequence on the line, run on the transfer
// thread; the window reads its controls before and shows the result after.

struct ReadResult {
    bool opened = false;  // the open was acknowledged
    int words = 0;        // words read; 128 when whole
    bool stopped = false; // the operator stopped it before word words + 1
};
// "Lecture": open, the whole read, the link close. An image that is not whole
// has its valid flag cleared: nothing is shown or written from it.
ReadResult read_memory(Station& s, Progress* progress);

// "Tester": one coin measured between reads of the checksum word, the read
// time-out left at the short value after a test. The values are symbols 3, 6, 9.
CoinReply test_coin(Station& s);

struct TeachResult {
    bool answered = false; // the mechanism answered before the coins
    int passed = 0;        // coins waited for
    std::vector<std::array<uint8_t, 3>> measured; // the values of the coins measured
    bool stopped = false;  // the operator stopped it before coin passed + 1
};
// Waits for up to `coins` coins, each measured by measure() in a masked
// transfer, stopping between coins when the operator asks; the measured ones
// go into t. The progress counts coins.
void pass_coins(Station& s, int coins, Progress* progress, TeachResult& t, const std::function<CoinReply()>& measure);
// "LECTURE" of the teach: up to `coins` coins, each waited for with the teach
// time-out; none when the mechanism does not answer. The progress counts coins.
TeachResult teach_coins(Station& s, int coins, Progress* progress);
// After the teach window: the link closed.
void close_after_teach(Station& s);
// The validation: the three window words of channel c between 0x03 line values.
WriteOutcome validate_teach(Station& s, int c, const std::array<uint8_t, 6>& bounds, Progress* progress);
// AJUST OK and a model load: the three window words of channel c, then close and open.
WriteOutcome write_channel(Station& s, int c, const std::array<uint8_t, 6>& bounds, Progress* progress);
// SORTIES OK: the seven output words; the masks go into the image once all are verified.
WriteOutcome write_outputs(Station& s, const std::array<int, 12>& outputs, Progress* progress);
// The checksum word rewritten from the image, with word 113.
WriteOutcome repair_checksum(Station& s);

} // namespace zuna::c120
