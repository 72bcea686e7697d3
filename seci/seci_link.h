#pragma once
// SECI RM3 and RM4 link: one line each way (data bit 0 out, status bit 7 in),
// asynchronous 8N1 characters sent from run lists of 32-bit stretch lengths,
// replies captured as stretch lengths into the station's run table and
// decoded into its symbol buffer and a record. No Qt here: the windows and
// the frequency window call these operations on the station.
//
// The two families share the line, the framing, the captures, the decoder
// and the shape of their transactions; a `Family` holds what differs (delay
// count, record layout, command sequences) and a `Line` names it.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "link/progress.h"
#include "link/station.h"

namespace zuna::seci {

constexpr uint8_t kLevel0 = 0x60; // start bit, data 0
constexpr uint8_t kLevel1 = 0x61; // idle, stop bit, data 1
constexpr uint8_t kReply = 0x80;  // status bit 7 set = mechanism line at level 0

constexpr int kListLimit = 121;       // entries ecrir_octet reads of an ordinary list
constexpr int kShortListLimit = 11;   // entries ecrir_octet_s / ecrir_octet_a read
constexpr int kRecordListSize = 401;  // a record list, read whole by the record write
constexpr int32_t kEndMark = 10000;   // the stretch still running when a capture gave up
constexpr int64_t kCoinWait = 10000000; // reads lit_rm3_a waits for a coin
constexpr int32_t kWriteWait = 450;     // wait factor after a record list
constexpr int kRm3Chars = 14;           // characters of an RM3 channel or test reply
constexpr int kRm4Chars = 12;

struct Family;

// The family a transaction speaks to, and through it the delay count its
// units are timed with, read at every unit and every length conversion (the
// frequency window changes it between calls).
struct Line {
    Station& s;
    const Family* family;
    int32_t delay() const;
};
Line rm3_line(Station& s);
Line rm4_line(Station& s);

// A run list: even entries level 0, odd entries level 1, in units; it ends at
// its first zero entry and its last non-zero entry is the wait factor.
struct RunList {
    std::array<int32_t, kRecordListSize> e{};
    int size = 0;
    void push(int32_t v)
    {
        if (size < kRecordListSize)
            e[size_t(size++)] = v;
    }
    std::span<const int32_t> view() const { return {e.data(), size_t(size)}; }
};

// The run list of a command character as stored (without its wait factor);
// empty for a character the station never sends.
std::span<const int32_t> char_runs(uint8_t c);
// Characters (one, or the pair 0x00 0x10 as one list) followed by a wait factor.
RunList command(uint8_t c, int32_t wait);
RunList command_pair_00_10(int32_t wait);

// Line operations. A list is read up to its first zero entry or `limit`
// entries (the entry at the limit is then the wait factor).
void ecrir_bit_2(const Line& l, uint8_t value);
// Clears the run table and the symbol buffer, sends, then captures with a
// budget of wait factor x delay count. True when a start bit came.
bool ecrir_octet(const Line& l, std::span<const int32_t> list, int limit = kListLimit);
// The same clearing and sending; nothing captured.
void ecrir_octet_s(const Line& l, std::span<const int32_t> list);
// The same clearing and sending, then the waiting capture (a coin). True when
// a start bit came before the wait gave up.
bool ecrir_octet_a(const Line& l, std::span<const int32_t> list, int64_t wait = kCoinWait);
// Budgeted capture on its own (masking its span): one unit of idle, then
// stretch lengths divided by the delay count as the caller set it (1 gives
// raw read counts). A budget <= 0 captures nothing. True when a start bit came.
bool lit_rm3(const Line& l, int64_t budget);
// Waiting capture (masking its span). A delay count <= 0 is taken as 1.
bool lit_rm3_a(const Line& l, int64_t wait = kCoinWait);

// The decoded form of a channel or test reply. The RM3 fills values 0..5
// (16-bit each); the RM4 values 0..5 (8-bit) and 6, 7 (16-bit).
struct Record {
    std::array<int32_t, 8> value{};
    int flags = 0;  // flag nibble
    int output = 0; // RM3: output nibble (15 empty, 8 shown "0"); RM4: output number (7 empty)
    bool operator==(const Record&) const = default;
};
using Rm3Record = Record;
using Rm4Record = Record;

// Decodes the run table into nibbles (symbol buffer entries 2m low, 2m + 1
// high of character m) and returns how many nibbles came. Safe on any table:
// reads entries 0..10000 only, writes the symbol buffer only, ends.
int decode_nibbles(const std::array<int32_t, kRunTableSize>& runs, std::array<uint8_t, kSymbolBufferSize>& symbols);
// The records from the symbols (missing symbols read 0).
Record rm3_record(const std::array<uint8_t, kSymbolBufferSize>& symbols);
Record rm4_record(const std::array<uint8_t, kSymbolBufferSize>& symbols);
// Decoding and the family's record; *chars (optional) gets the number of
// characters that came.
Record decode(const Line& l, int* chars = nullptr);
Record decode_rm3(Station& s, int* chars = nullptr);
Record decode_rm4(Station& s, int* chars = nullptr);
// A channel reply of the family: its record only when all its characters
// came framed and its fixed nibbles hold; nothing otherwise (unread).
std::optional<Record> decode_channel(Station& s, const Family& f, int* chars = nullptr);

// The run list of the 16-bit value as two characters, high byte first,
// written into symbol buffer entries 0..300; returned as well.
RunList nb_envoi(Station& s, uint16_t value);
// One character (the RM4's 8-bit values).
RunList nb_envoi_2(Station& s, uint8_t value);

// Pieces of a record list: a value sent as one or two characters.
struct Piece {
    uint16_t value;
    int bytes; // 1 or 2
};
// Appends the pieces' run lists (up to 401 entries) and replaces the last
// entry (the final stop stretch) by the write's wait factor.
RunList record_list(Station& s, std::span<const Piece> pieces);
// The RM3 layout: value 0..5, then flags x 256 + 0xF090 + output.
RunList rm3_record_list(Station& s, const Record& r);
// The RM4 layout: value 0..5 one character each, value 6 and 7 two each,
// then flags x 256 + 0x1020 + (output OR 8).
RunList rm4_record_list(Station& s, const Record& r);

// ---- Transactions of the windows ------------------------------------------

// A channel read: the record, or nothing when the reply was short.
struct ChannelRead {
    bool heard = false; // a start bit came
    int chars = 0;
    std::optional<Record> record;
};

constexpr int kMaxChannels = 12;

// What tells the two families apart on the line.
struct Family {
    const char* name;                  // "RM3" / "RM4"
    int32_t DelayCounts::*count;
    int channels;                      // 6 / 12
    int chars;                         // characters of a channel or test reply: 14 / 12
    int values;                        // 6 / 8
    int empty_output;                  // output of an emptied channel as read: 15 / 7
    std::array<int32_t, 8> top;        // largest value each field carries
    Record (*record)(const std::array<uint8_t, kSymbolBufferSize>&);
    RunList (*record_list)(Station&, const Record&);
    void (*read_opening)(const Line&);
    bool (*channel_request)(const Line&, int n); // the commands that make channel n answer
    void (*read_tail)(const Line&);
    void (*write_opening)(const Line&);
    void (*record_write)(const Line&, int n, const RunList&);
    bool (*read_back_request)(const Line&, int n);
    void (*after_read_back)(const Line&);
    Record empty;                      // the emptied channel as written
    // What the mechanism gives back of a record written (flags and output as kept).
    Record as_read(const Record& written) const;
};
extern const Family kRm3;
extern const Family kRm4;

void read_opening(const Line& l);
ChannelRead channel_read(const Line& l, int n);
void read_tail(const Line& l);

// The whole read: opening (RM3), channels, tail. Stops at the operator's
// request between channels (the tail is then left out).
struct ReadResult {
    std::array<ChannelRead, kMaxChannels> channel{};
    int done = 0; // channels read before a stop
    bool stopped = false;
};
ReadResult lecture(const Line& l, Progress* p = nullptr);

// Record write with read-back. A channel outside the family's range, or a
// value its field cannot carry, is refused (nothing is sent: the mechanism
// would take the record without its channel character, or other values).
// A read-back that differs from what was written is read again: it is
// believed when the second read holds what was written or gives the same
// record; otherwise (or when the second read did not come) the record is
// dropped and the channel's content is unknown.
struct WriteResult {
    bool sent = false;
    ChannelRead readback;
    bool settled = true; // false: two read-backs that did not agree
    // The read-back came and holds exactly what was written.
    bool confirmed() const;
    Record written;  // as sent
    Record expected; // as the mechanism should give it back
};
void write_opening(const Line& l);
WriteResult write_and_read_back(const Line& l, int n, const Record& r);
// Several writes in a row (outputs editor); stops between channels.
struct Write {
    int channel;
    Record record;
};
std::vector<WriteResult> write_channels(const Line& l, std::span<const Write> writes, Progress* p = nullptr);
// The calibration window's programming: the write with its read-back, then
// (RM3) one 0x00; the RM4 read-back already ends with it.
WriteResult calibration_write(const Line& l, int n, const Record& r);

// Test measurement (RM3: start character m; RM4: always 0x01): the coin's
// readings, or nothing when no coin came or its reply was incomplete.
// *heard: a start bit came in the coin wait; *answered: something answered
// the exchanges before it (when nothing did, the start character and the
// coin wait are left out).
std::optional<Record> test_measurement(const Line& l, int m, bool* heard = nullptr, bool* answered = nullptr);
// A calibration sample: the RM3 runs a test measurement with character m;
// the RM4 its own sequences, the first coin's and the next coins'.
std::optional<Record> calibration_sample(const Line& l, int m, bool first, bool* heard = nullptr,
                                         bool* answered = nullptr);

// The emptied channel.
inline Record empty_record() { return Record{{65535, 65535, 65535, 65535, 65535, 65535}, 8, 15}; }
inline Record empty_rm4_record() { return Record{{255, 255, 255, 255, 255, 255, 65535, 65535}, 8, 15}; }

} // namespace zuna::seci
