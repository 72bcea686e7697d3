#pragma once
// SECI RM3 link: one line each way (data bit 0 out, status bit 7 in),
// asynchronous 8N1 characters sent from run lists of 32-bit stretch lengths,
// replies captured as stretch lengths into the station's run table and
// decoded into its symbol buffer and a record. No Qt here: the RM3 windows
// and the frequency window call these operations on the station.
//
// The RM4 shares the line, the framing, the captures and the decoder: a
// `Line` names the delay count a family times its units with.
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
constexpr int kRm3Chars = 14;           // characters of a channel or test reply
constexpr int kRm3Channels = 6;

// The delay count a family's units are timed with, read at every unit and
// every length conversion (the frequency window changes it between calls).
struct Line {
    Station& s;
    int32_t DelayCounts::*count = &DelayCounts::rm3;
    int32_t delay() const { return s.delay.*count; }
};
inline Line rm3_line(Station& s) { return Line{s, &DelayCounts::rm3}; }

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

// The decoded form of a 14-character reply.
struct Rm3Record {
    std::array<int32_t, 6> value{};
    int flags = 0;  // low nibble of character 12
    int output = 0; // low nibble of character 13
    bool operator==(const Rm3Record&) const = default;
};

// Decodes the run table into nibbles (symbol buffer entries 2m low, 2m + 1
// high of character m) and returns how many whole characters came. Safe on
// any table: reads entries 0..10000 only, writes the symbol buffer only, ends.
int decode_nibbles(const std::array<int32_t, kRunTableSize>& runs, std::array<uint8_t, kSymbolBufferSize>& symbols);
// The RM3 record from the symbols (missing symbols read 0).
Rm3Record rm3_record(const std::array<uint8_t, kSymbolBufferSize>& symbols);
// Both; *chars (optional) gets the number of characters that came.
Rm3Record decode_rm3(Station& s, int* chars = nullptr);

// The run list of the 16-bit value as two characters, high byte first,
// written into symbol buffer entries 0..300; returned as well.
RunList nb_envoi(Station& s, uint16_t value);
// One character (the RM4 builder uses it for its 8-bit values).
RunList nb_envoi_1(Station& s, uint8_t value);

// Pieces of a record list: a value sent as one or two characters.
struct Piece {
    uint16_t value;
    int bytes; // 1 or 2
};
// Appends the pieces' run lists (up to 401 entries) and replaces the last
// entry (the final stop stretch) by the write's wait factor.
RunList record_list(Station& s, std::span<const Piece> pieces);
// The RM3 layout: value 0..5, then flags x 256 + 0xF090 + output.
RunList rm3_record_list(Station& s, const Rm3Record& r);

// ---- Transactions of the RM3 windows -------------------------------------

// A channel read: the record, or nothing when fewer than 14 characters came.
struct ChannelRead {
    bool heard = false; // a start bit came
    int chars = 0;
    std::optional<Rm3Record> record;
};

void read_opening(const Line& l);
ChannelRead channel_read(const Line& l, int n);
void read_tail(const Line& l);

// The whole read: opening, channels 1..6, tail. Stops at the operator's
// request between channels (the tail is then left out).
struct ReadResult {
    std::array<ChannelRead, kRm3Channels> channel{};
    int done = 0; // channels read before a stop
    bool stopped = false;
};
ReadResult lecture(const Line& l, Progress* p = nullptr);

// Record write with read-back. A channel outside 1..6 is refused (nothing is
// sent: the mechanism would take the record without its channel character).
struct WriteResult {
    bool sent = false;
    ChannelRead readback;
    // The read-back came and holds exactly what was written.
    bool confirmed() const;
    Rm3Record written;
};
void write_opening(const Line& l);
WriteResult write_and_read_back(const Line& l, int n, const Rm3Record& r);
// Several writes in a row (outputs editor); stops between channels.
struct Write {
    int channel;
    Rm3Record record;
};
std::vector<WriteResult> write_channels(const Line& l, std::span<const Write> writes, Progress* p = nullptr);

// Test measurement with start character m: the coin's readings, or nothing
// when no coin came or its reply was incomplete.
std::optional<Rm3Record> test_measurement(const Line& l, int m, bool* heard = nullptr);

// The emptied channel.
inline Rm3Record empty_record() { return Rm3Record{{65535, 65535, 65535, 65535, 65535, 65535}, 8, 15}; }

} // namespace zuna::seci
