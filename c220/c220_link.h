#pragma once
// The C220 / SENTINEL link: a clocked two-wire bus on the data register
// (clock D5, data D6, every value written with D4 set) with the mechanism's
// data line on status bit 4, and a coin handshake clocked by the mechanism on
// status bit 7 after a request on D3. Timed by the write-once step on the
// window's copy of the C220 delay count. The memory (64 words of two bytes)
// is kept in a 131-byte image owned by the window; word 63 is a checksum.
//
// No Qt here. Every window action is one operation on a `Link` (the
// station's port, the count copy, the image), so the calibration window
// drives the link of the open C220 window.
#include <array>
#include <cstdint>
#include <vector>

#include "link/progress.h"
#include "link/station.h"

namespace zuna::c220 {

// Data register (bit 4 is set in every value written).
constexpr uint8_t kAlways = 0x10;
constexpr uint8_t kClock = 0x20;
constexpr uint8_t kData = 0x40;
constexpr uint8_t kRequest = 0x08;
constexpr uint8_t kRest = 0x60; // both lines high, between transactions
// Status register.
constexpr uint8_t kDataIn = 0x10;   // the mechanism's data line
constexpr uint8_t kMechClock = 0x80; // the mechanism's clock in the coin handshake

constexpr int kWords = 64;
constexpr int kImageSize = 131;
constexpr int kChecksumByte = 126;
constexpr int kChecksumWord = 63;
constexpr int kResultByte = 129;
constexpr int kChannels = 8;
constexpr int kOutputWordLow = 54;  // channels 1..4
constexpr int kOutputWordHigh = 55; // channels 5..8

constexpr int64_t kCoinWait = 10'000'000;    // reads waiting for the answer to a coin request
constexpr int64_t kHandshakeWait = 1'000'000; // reads allowed for each later edge of the handshake
constexpr uint8_t kNoAnswer = 0x63;          // the value of an unanswered coin test

using Image = std::array<uint8_t, kImageSize>;

// What one C220 window works with.
struct Link {
    explicit Link(Station& st) : s(st) {}
    Station& s;
    int32_t count = 0; // copy of the C220 delay count, taken when the window becomes active
    Image image{};
    bool whole = false; // the image holds a complete read made by this window
    // Words whose content is unknown since a write whose read-back did not
    // settle (no answer, or reads that never agreed); a complete read clears them.
    std::array<bool, kWords> unknown{};
    bool any_unknown() const;
    // The last complete read's word 63 does not end in 0 as a C220's checksum
    // word does: another mechanism on this bus (a type or version word), or a
    // C220 whose checksum word was erased. No write until the operator says
    // it is a C220 (clearing this) or a read finds a checksum word.
    bool foreign = false;

    Port& port() const { return *s.port; }
};

// Takes the C220 delay count and puts both lines high (the window becoming active).
void activate(Link& l);
// A count below 1 is refused: a negative one writes without reading, and 0
// (a dead module time base) clocks the bus far faster than any mechanism.
bool count_usable(const Link& l);

// ---- Line level -------------------------------------------------------------
void step(Link& l, uint8_t value); // one write (with bit 4), count + 1 reads
void steps(Link& l, int n, uint8_t value);
void send_byte(Link& l, uint8_t b);        // most significant bit first
uint8_t transfer_byte(Link& l, uint8_t b); // sends b and returns the byte clocked in
void start(Link& l);
void restart(Link& l);
void ack_clock(Link& l);
void master_ack(Link& l);
void enable_stop(Link& l);
void erase_stop(Link& l);
void write_stop(Link& l);
void fin(Link& l, int a = 85, int b = 0, int c = 85); // bus release

// ---- Transactions -------------------------------------------------------------
std::array<uint8_t, 2> read_word(Link& l, int w);
void write_enable(Link& l);
void erase_word(Link& l, int w);
// Long form: a short pause before the first byte and a data pause before the second.
void write_word(Link& l, int w, uint8_t first, uint8_t second, bool long_form);

// Byte 126 of an image: the negation of the sum of bytes 0..125.
uint8_t checksum(const Image& image);

// ---- Window operations ----------------------------------------------------------

// A read whose 128 bytes are all 0x00 or all 0xFF came from no mechanism.
bool silent_bytes(const uint8_t* bytes, int n);

struct ReadResult {
    bool refused = false; // negative count
    int words = 0;        // words read before a stop
    bool stopped = false;
    bool answered = false;       // 64 words that are not all 0x00 or all 0xFF
    bool checksum_holds = false; // byte 126 and 127 as the rule gives them
};
// `lit_c220`: all 64 words (interrupts masked, the progress stepped once per
// word, a stop honoured between words). Only a complete, answered read goes
// into the image (then whole); otherwise the image stays as it was.
ReadResult lit_c220(Link& l, Progress* p = nullptr);

enum class Refusal { None, BadCount, BadChannel, BadWord, NotRead, Foreign };

// A read-back that differs from what was written is read again before it is
// believed: it settles on a read equal to what was written or on two equal
// reads in a row, within kRereads more reads.
constexpr int kRereads = 3;
struct WordCheck {
    int word;
    std::array<uint8_t, 2> want;
    std::array<uint8_t, 2> got; // the read believed, or the last one
    bool settled = true;        // false: the reads never agreed, the word is unknown
    bool holds() const { return settled && want == got; }
};
struct WriteResult {
    Refusal refused = Refusal::None;
    uint8_t sum = 0;        // the checksum sent
    bool repaired = false;  // the checksum was written a second time
    bool answered = false;  // the read-backs came from a mechanism
    std::vector<WordCheck> words; // read-backs: the words written, then word 63
    // Not answered, or a word whose reads never agreed: what the mechanism
    // holds there is unknown (those words are marked in the link).
    bool unknown() const;
    bool confirmed() const;
};

// `ecrir_code`: the three windows of channel c (1..8), p = window 1 low,
// high, window 2 low, high, window 3 low, high; then the checksum rewrite and
// the read-backs. Refused before a complete read (the checksum would be
// computed over an image of zeros).
WriteResult ecrir_code(Link& l, int c, const std::array<uint8_t, 6>& p);
// `ecrir_code_1`: one word (0..62), then the checksum rewrite and read-backs.
WriteResult ecrir_code_1(Link& l, int w, uint8_t first, uint8_t second);

// ---- Outputs ---------------------------------------------------------------------
// Image byte holding channel c's output and whether it is the high nibble.
constexpr int output_byte(int c) { return c <= 4 ? (c <= 2 ? 109 : 108) : (c <= 6 ? 111 : 110); }
constexpr bool output_high(int c) { return c % 2 == 1; }
int output_code(const Image& image, int c);
// The two output words from eight codes: {word 54 first, second, word 55 first, second}.
std::array<uint8_t, 4> output_bytes(const std::array<int, kChannels>& codes);
// Writes words 54 and 55 (each with its checksum rewrite and read-backs).
std::vector<WriteResult> write_outputs(Link& l, const std::array<int, kChannels>& codes);

// Channel c's six limits in image order.
std::array<uint8_t, 6> channel_limits(const Image& image, int c);

// ---- Coin test -------------------------------------------------------------------
struct TestResult {
    bool refused = false;
    bool answered = false;
    uint8_t mask = kNoAnswer; // 0: not accepted; bit n - 1 alone: channel n
    int timed_out_step = 0;   // the handshake step whose wait ran out (2, 4..8), 0 when none
    // The channel of a one-bit mask, 0 for none or several.
    int channel() const;
};
// `test_p`: waits for a coin (up to kCoinWait reads for the answer to the
// request), then receives the mask; every later wait is bounded. A wait that
// runs out puts both lines high again, unmasks and reports no answer.
TestResult test_p(Link& l);

} // namespace zuna::c220
