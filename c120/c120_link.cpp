#include "c120/c120_link.h"

#include <algorithm>

#include "c120/c120_memory.h"
#include "link/rounding.h"
#include "link/timing.h"

namespace zuna::c120 {

Command4 read_word_command(int address)
{
    const uint8_t a = uint8_t(address);
    return {0x05, 0x7B, a, uint8_t(0x7B + a)};
}

Command5 write_word_command(int address, uint8_t first, uint8_t second)
{
    const uint8_t a = uint8_t(address);
    return {0x7A, a, first, second, uint8_t(0x7A + a + first + second)};
}

// --- Byte layer -------------------------------------------------------------

void ecrir_bit(Station& s, uint8_t value)
{
    hold_bit(*s.port, s.delay.c120, value);
    s.serial_line = value;
}

void ecrir_octet_f(Station& s, uint8_t byte)
{
    for (int i = 0; i < 8; ++i)
        ecrir_bit(s, (byte >> i) & 1 ? kBit1 : kBit0);
}

void ecrir_octet(Station& s, uint8_t byte)
{
    ecrir_octet_f(s, byte);
    for (int i = 0; i < 5; ++i)
        ecrir_bit(s, kBit1);
    ecrir_bit(s, kBit0);
}

namespace {
// A command whose last data bit is 0 leaves the line low: the next start bit
// would have no falling edge and the mechanism would not see the command.
void line_high_before_start(Station& s)
{
    if ((s.serial_line & 1) == 0)
        ecrir_bit(s, kBit1);
}
} // namespace

namespace {
// Start bit, then every byte followed by five stop bits and the next start
// bit, the last one by nothing: the recorder listens right after it.
void send_command(Station& s, const uint8_t* c, int n)
{
    line_high_before_start(s);
    ecrir_bit(s, kBit0);
    for (int i = 0; i + 1 < n; ++i)
        ecrir_octet(s, c[i]);
    ecrir_octet_f(s, c[n - 1]);
}
} // namespace

void ecrir_instruction(Station& s, const Command4& c) { send_command(s, c.data(), int(c.size())); }

void ecrir_instruction_e(Station& s, const Command5& c) { send_command(s, c.data(), int(c.size())); }

void wake_up(Station& s)
{
    ecrir_bit(s, kRest);
    module_long_pause(*s.port);
    ecrir_bit(s, kBit1);
}

namespace {

// Counts the levels of the reply line for the recorder. A pulse shorter than
// half a bit time is a glitch: it is dropped with both its edges and its
// reads counted in the level around it. Of two short levels in a row the
// shorter is the glitch, so a spike just after a real edge does not take the
// level that began at that edge. The read that sees a level change is counted
// in neither level. Every read counts against `budget`. The wait for the
// reply moves `watch` on to the last stretch of the wait, so that it covers
// that stretch and what follows it.
class LevelReader {
public:
    LevelReader(Port& port, int64_t half, int64_t budget, StallWatch& watch)
        : port_(port), half_(half), budget_(budget), watch_(watch)
    {
    }
    // Counts `level` on from `run` reads up to `limit` reads. True when the
    // level changed: `run` is its length and `next` the reads already made
    // of the next level. False when the limit or the budget was reached.
    bool hold(bool level, int64_t& run, int64_t limit, int64_t& next);
    bool waiting = false; // holding the idle level before the reply: a coin wait may end it

private:
    int64_t reads(bool level, int64_t limit, bool& changed, bool wait = false);
    Port& port_;
    int64_t half_;
    int64_t budget_;
    StallWatch& watch_;
    int64_t used_ = 0;
};

int64_t LevelReader::reads(bool level, int64_t limit, bool& changed, bool wait)
{
    limit = std::min(limit, budget_ - used_);
    if (limit <= 0) {
        changed = false;
        return 0;
    }
    const int64_t k = wait ? wait_reply(port_, kReplyMask, level, limit, &watch_)
                           : count_while(port_, kReplyMask, level, limit);
    changed = k < limit; // the read that saw the other level is one more
    used_ += k + (changed ? 1 : 0);
    return k;
}

bool LevelReader::hold(bool level, int64_t& run, int64_t limit, int64_t& next)
{
    bool changed = false;
    for (;;) {
        run += reads(level, limit - run, changed, waiting);
        if (!changed)
            return false;
        const int64_t x = reads(!level, half_, changed); // the other level
        if (!changed) { // it holds half a bit (or the budget ran out): a real edge
            next = x;
            return true;
        }
        // Back at `level` after a short pulse: whichever of the two is shorter
        // is the glitch.
        const int64_t y = reads(level, x, changed);
        if (!changed) { // the pulse was: the level goes on
            run += x + y + 2;
            continue;
        }
        next = x + y + 2; // the return was: the other level goes on
        return true;
    }
}

} // namespace

int record_reply(Port& port, int32_t delay, ReplyEnd end, int32_t* runs, int capacity)
{
    const int64_t unit = std::max<int32_t>(delay, 1);
    const bool window = end.kind == ReplyEnd::Window;
    StallWatch watch(port);
    LevelReader line(port, unit / 2, window ? end.reads : INT64_MAX, watch);
    int64_t wait = 0;
    int64_t run = 0;
    line.waiting = true;
    if (!line.hold(false, wait, window ? INT64_MAX : end.reads + 2, run) || (!window && wait >= end.reads))
        return 0;
    line.waiting = false;
    const int64_t run_limit = window ? INT64_MAX : kRunEnd;
    // A level held for a whole character has ended the character it was
    // part of: a stall past that point can hide only characters after the
    // last one, never change a level counted (see README.md).
    const int64_t character = kCharacterBits * unit;
    int count = 0;
    bool level = true;
    uint64_t stalled = 0; // the port stood still, up to the reply's end
    while (count < capacity) {
        int64_t next = 0;
        bool changed = line.hold(level, run, std::min(run_limit, character), next);
        stalled = watch.stalled_ns();
        if (!changed)
            changed = line.hold(level, run, run_limit, next); // the same count, on to its limit
        if (!changed) { // the end: a long run, or the window used up
            runs[count++] = window ? int32_t(div_round_even(run, unit)) : kRunEnd;
            break;
        }
        stalled = watch.stalled_ns();
        runs[count++] = int32_t(div_round_even(run, unit));
        level = !level;
        run = next;
    }
    // The port stood still while the reply ran on: the levels counted are
    // not the line's. Something answered, nothing of it is readable.
    if (stalled > 0)
        std::fill(runs, runs + count, 0);
    return count;
}

int lecture_monayeur(Station& s, int32_t* runs, int capacity)
{
    return record_reply(*s.port, s.delay.c120, {ReplyEnd::TimeOut, s.c120_read_timeout}, runs, capacity);
}

Placed decode_table(const int32_t* runs, int run_count, uint8_t* out, int capacity)
{
    std::fill(out, out + std::min(capacity, kDecodedCleared), uint8_t(0));
    Placed placed;
    auto bit = [](int place) { return uint64_t(1) << std::min(place, 63); };
    const int limit = std::min(run_count, kDecodeEntries);
    int idx = -1;      // current entry
    int64_t left = 0;  // bit times left of it
    int bits = 0;
    uint8_t byte = 0;
    int o = 0;
    bool expect_start = true;
    auto take = [&]() {
        if (++idx >= limit)
            return false;
        left = std::max<int32_t>(runs[idx], 0);
        return true;
    };
    while (o < capacity) {
        if (left == 0) {
            if (!take())
                break;
            if (expect_start) {
                // Idle level (odd entries) and empty entries before a start bit
                // carry no data: a glitch in a pause must not shift the bits.
                if ((idx & 1) || left == 0) {
                    left = 0;
                    continue;
                }
                --left;
                expect_start = false;
                if (left == 0)
                    continue;
            }
        }
        const uint8_t top = (idx & 1) ? 0x80 : 0x00; // odd entries are data bits 1
        const int64_t k = std::min<int64_t>(left, 8 - bits);
        for (int64_t i = 0; i < k; ++i)
            byte = uint8_t((byte >> 1) | top);
        bits += int(k);
        left -= k;
        if (bits < 8)
            continue;
        const int place = o;
        out[o++] = byte;
        placed.bytes |= bit(place);
        bits = 0;
        byte = 0;
        if (o >= capacity)
            break;
        if (left == 0 && !take())
            break;
        const int64_t stop = left; // the stop level
        if ((idx & 1) && stop > 4) // a level 0 past the eighth bit is no stop bit
            placed.paused |= bit(place);
        if (stop >= 99996)
            break;
        if (stop > 4) { // a pause: the next byte lands two places further
            left = 0;
            o += 2;
            expect_start = true;
        } else { // the next byte follows at once; its first bit time is the start bit
            if (!take())
                break;
            left = std::max<int64_t>(left - 1, 0);
            expect_start = false;
        }
    }
    return placed;
}

bool coin_reply_readable(const uint8_t* symbols, const Placed& placed)
{
    constexpr uint64_t kPlaces = (1u << 0) | (1u << 3) | (1u << 6) | (1u << 9);
    return symbols[0] == kAck && placed.bytes == kPlaces && placed.paused == kPlaces;
}

namespace {

void clear_runs(Station& s) { std::fill(s.run_table.begin(), s.run_table.begin() + kLocalRuns, 0); }

int record(Station& s)
{
    clear_runs(s);
    return lecture_monayeur(s, s.run_table.data(), kRunTableSize);
}

// One reply into a local buffer; returns the runs recorded (0: nothing came).
template <class Send>
int exchange_local(Station& s, Send send, std::array<uint8_t, kLocalDecoded>& dec)
{
    std::array<int32_t, kLocalRuns> runs{};
    send();
    const int n = lecture_monayeur(s, runs.data(), kLocalRuns);
    decode_table(runs.data(), n, dec.data(), kLocalDecoded);
    return n;
}

// A word read; `heard` is set when anything answered, acknowledged or not.
bool read_word_heard(Station& s, int address, uint8_t* first, uint8_t* second, bool& heard)
{
    std::array<uint8_t, kLocalDecoded> dec{};
    if (exchange_local(s, [&] { ecrir_instruction(s, read_word_command(address)); }, dec) > 0)
        heard = true;
    if (uint8_t(dec[12] - dec[6] - dec[9]) != 0x3B)
        dec[0] = 4;
    if (dec[0] != kAck)
        return false;
    if (first)
        *first = dec[6];
    if (second)
        *second = dec[9];
    return true;
}

} // namespace

void send_only(Station& s, const Command4& c) { ecrir_instruction(s, c); }

bool send_record(Station& s, const Command4& c)
{
    ecrir_instruction(s, c);
    return record(s) > 0;
}

uint8_t send_decode(Station& s, const Command4& c)
{
    ecrir_instruction(s, c);
    const int n = record(s);
    decode_table(s.run_table.data(), n, s.symbols.data(), kSymbolBufferSize);
    return s.symbols[0];
}

// --- Word operations ----------------------------------------------------------

bool read_word_once(Station& s, int address, uint8_t* first, uint8_t* second)
{
    bool heard = false;
    return read_word_heard(s, address, first, second, heard);
}

namespace {
// A read retried while the reply is not acknowledged or fails its check, up
// to 30 tries, but no more than `silent_tries` in a row that nothing answered:
// a garbled reply is worth asking again, a mechanism that is gone is not.
bool read_word_tries(Station& s, int address, uint8_t* first, uint8_t* second, int silent_tries)
{
    int silent = 0;
    for (int t = 0; t < kWordTries && silent < silent_tries; ++t) {
        bool heard = false;
        if (read_word_heard(s, address, first, second, heard))
            return true;
        silent = heard ? 0 : silent + 1;
    }
    return false;
}
} // namespace

bool lect_mem_mech(Station& s, int n)
{
    uint8_t first = 0, second = 0;
    const bool ok = read_word_tries(s, n - 1, &first, &second, kSilentTries);
    ecrir_bit(s, kAfterRead);
    wait_status_reads(*s.port, s.delay.c120, 200);
    if (ok) {
        s.memory_image[word_index(n - 1)] = first;
        s.memory_image[word_index(n - 1) + 1] = second;
    }
    return ok;
}

int lecture(Station& s, Progress* progress, bool* stopped)
{
    if (progress)
        progress->start(kWordCount);
    std::fill(s.run_table.begin(), s.run_table.begin() + 101, 0);
    s.memory_image.fill(0);
    int words = 0;
    {
        MaskedSection masked(*s.port);
        wake_up(s);
        const uint8_t ack = send_decode(s, kOpen);
        module_long_pause(*s.port);
        if (ack == kAck)
            s.memory_image[0] = 1;
        if (s.memory_image[0] == 1) {
            for (int n = 1; n <= kWordCount; ++n) {
                if (stop_asked(progress)) {
                    if (stopped)
                        *stopped = true;
                    break;
                }
                if (!lect_mem_mech(s, n))
                    break;
                ++words;
                module_long_pause(*s.port);
                if (progress)
                    progress->step();
            }
        }
        send_only(s, kClose);
        if (progress)
            progress->finish();
        ecrir_bit(s, kRest);
    }
    return words;
}

namespace {

bool exchange_write(Station& s, const Command5& c)
{
    std::array<uint8_t, kLocalDecoded> dec{};
    return exchange_local(s, [&] { ecrir_instruction_e(s, c); }, dec) > 0;
}

// The common body of both word writes; the image already holds the new word.
// A mechanism that answers nothing through the opening reads or through a
// whole round is not there any more: the write stops there instead of
// running its rounds and read-backs out against the time-out.
WriteResult write_verified(Station& s, int address, uint8_t first, uint8_t second, uint8_t sum,
                           int64_t open_wait, const std::array<uint8_t, 2>& previous)
{
    const uint8_t b255 = s.memory_image[word_index(kChecksumWord) + 1];
    send_only(s, kOpen);
    wake_up(s);
    bool heard = false;
    read_word_heard(s, address, nullptr, nullptr, heard);
    read_word_heard(s, kChecksumWord, nullptr, nullptr, heard);
    ecrir_instruction(s, kOpen);
    if (open_wait)
        wait_status_reads(*s.port, s.delay.c120, open_wait);
    heard = record(s) > 0 || heard;

    uint8_t got_first = 0, got_second = 0, got_sum = 0, got_b255 = 0;
    bool word_known = false, sum_known = false;
    for (int round = 0; round < kWriteRounds && heard; ++round) {
        heard = exchange_write(s, write_word_command(address, first, second));
        ecrir_bit(s, kRest);
        wait_status_reads(*s.port, s.delay.c120, 200);
        ecrir_bit(s, kBit1);
        heard = exchange_write(s, write_word_command(kChecksumWord, sum, b255)) || heard;
        heard = send_record(s, kClose) || heard;
        wake_up(s);
        // One read of each word per round: a reply that does not come back
        // right sends the round again, the write with it.
        word_known = read_word_heard(s, address, &got_first, &got_second, heard);
        sum_known = false;
        if (word_known && got_first == first && got_second == second) { // both bytes, not the first alone
            sum_known = read_word_heard(s, kChecksumWord, &got_sum, &got_b255, heard);
            if (sum_known && got_sum == sum && got_b255 == b255) { // byte 255 counts in the sum too
                s.memory_image[word_index(address)] = first;
                s.memory_image[word_index(address) + 1] = second;
                s.memory_image[word_index(kChecksumWord)] = sum; // the image follows the mechanism
                return WriteResult::Verified;
            }
        }
        heard = send_record(s, kOpen) || heard;
    }
    // Given up: the image keeps only what the mechanism was seen to hold,
    // asked again only while it still answers.
    if (!word_known && heard)
        word_known = read_word_tries(s, address, &got_first, &got_second, 1);
    if (!sum_known && heard)
        sum_known = read_word_tries(s, kChecksumWord, &got_sum, &got_b255, 1);
    // A word that reads back other than written is believed only when a
    // second read gives the same bytes: a garbled reply may pass its check.
    bool disagree = false;
    auto confirmed = [&](bool& known, int a, uint8_t& f, uint8_t& g, bool as_written) {
        if (!known || as_written)
            return;
        uint8_t f2 = 0, g2 = 0;
        const bool again = read_word_tries(s, a, &f2, &g2, 1);
        known = again && f2 == f && g2 == g;
        disagree = disagree || (again && !known);
    };
    confirmed(word_known, address, got_first, got_second, got_first == first && got_second == second);
    confirmed(sum_known, kChecksumWord, got_sum, got_b255, got_sum == sum && got_b255 == b255);
    uint8_t* w = &s.memory_image[word_index(address)];
    uint8_t* c = &s.memory_image[word_index(kChecksumWord)];
    if (word_known) {
        w[0] = got_first;
        w[1] = got_second;
    } else {
        w[0] = previous[0];
        w[1] = previous[1];
    }
    if (sum_known) {
        c[0] = got_sum;
        c[1] = got_b255;
    }
    if (!word_known || !sum_known) {
        s.memory_image[0] = 0; // what the mechanism holds is not known any more
        return disagree ? WriteResult::Unknown : WriteResult::NoAnswer;
    }
    return WriteResult::Unverified;
}

} // namespace

WriteResult ecrit_data(Station& s, int n, uint8_t first, uint8_t second)
{
    MaskedSection masked(*s.port);
    wake_up(s);
    const int a = n - 1;
    uint8_t* w = &s.memory_image[word_index(a)];
    const std::array<uint8_t, 2> previous = {w[0], w[1]};
    w[0] = first;
    w[1] = second;
    const uint8_t sum = checksum(s.memory_image);
    return write_verified(s, a, first, second, sum, 0, previous);
}

WriteResult ecrit_data_1(Station& s, int n, uint8_t sum)
{
    MaskedSection masked(*s.port);
    wake_up(s);
    const int a = n - 1;
    const uint8_t* w = &s.memory_image[word_index(a)];
    const std::array<uint8_t, 2> previous = {w[0], w[1]};
    return write_verified(s, a, w[0], w[1], sum, 400, previous);
}

WriteOutcome write_words(int n, Progress* progress, const std::function<WriteResult(int)>& write,
                         const std::function<int(int)>& number)
{
    if (progress)
        progress->start(n);
    WriteOutcome o;
    for (int i = 0; i < n; ++i) {
        if (stop_asked(progress)) {
            o = {WriteResult::Verified, number(i), true};
            break;
        }
        const WriteResult r = write(i);
        if (progress)
            progress->step();
        if (r != WriteResult::Verified) {
            o = {r, number(i), false};
            break;
        }
    }
    if (progress)
        progress->finish();
    return o;
}

void close_link(Station& s)
{
    ecrir_bit(s, kBit1);
    send_record(s, kClose);
    send_record(s, read_word_command(kChecksumWord));
    ecrir_bit(s, kRest);
}

CoinReply measure_coin(Station& s, bool twice)
{
    const CoinWait coin_wait; // "Arrêter" may end the waits for its replies
    CoinReply r;
    ecrir_instruction(s, kMeasureCoin);
    if (twice)
        ecrir_instruction(s, kMeasureCoin);
    int n = record(s);
    decode_table(s.run_table.data(), n, s.symbols.data(), kSymbolBufferSize);
    if (s.symbols[0] != kAck)
        return r;
    r.acknowledged = true;
    n = record(s);
    const Placed placed = decode_table(s.run_table.data(), n, s.symbols.data(), kSymbolBufferSize);
    // Nothing (time-out), a glitch taken for a reply or a reply whose values
    // did not decode in their places must not pass for a coin.
    r.measured = n > 0 && coin_reply_readable(s.symbols.data(), placed);
    return r;
}

// --- Window operations ----------------------------------------------------------

ReadResult read_memory(Station& s, Progress* progress)
{
    send_only(s, kOpen);
    ReadResult r;
    r.words = lecture(s, progress, &r.stopped);
    r.opened = s.memory_image[0] == 1;
    if (r.words < kWordCount)
        s.memory_image[0] = 0; // a part of the memory is not known: show and write nothing
    close_link(s);
    return r;
}

CoinReply test_coin(Station& s)
{
    CoinReply r;
    {
        MaskedSection masked(*s.port);
        ecrir_bit(s, kBit1);
        send_record(s, read_word_command(kChecksumWord));
        send_record(s, kOpen);
        s.c120_read_timeout = kTimeoutTest;
        r = measure_coin(s, true);
        // What follows waits for no coin: the normal time-out bounds it.
        s.c120_read_timeout = kTimeoutNormal;
        send_record(s, read_word_command(kChecksumWord));
        ecrir_bit(s, kBit1);
        send_record(s, read_word_command(kChecksumWord));
        send_record(s, kClose);
        module_long_pause(*s.port);
        send_record(s, read_word_command(kChecksumWord));
        send_record(s, read_word_command(kChecksumWord));
        ecrir_bit(s, kRest);
    }
    s.c120_read_timeout = kTimeoutAfterTest;
    ecrir_bit(s, kRest);
    return r;
}

void pass_coins(Station& s, int coins, Progress* progress, TeachResult& t, const std::function<CoinReply()>& measure)
{
    if (progress)
        progress->start(coins);
    for (int i = 1; i <= coins; ++i) {
        if (stop_asked(progress)) {
            t.stopped = true;
            break;
        }
        CoinReply r;
        {
            MaskedSection masked(*s.port);
            r = measure();
        }
        ++t.passed;
        // Not acknowledged or no coin came: counted all the same, but its zeros are no measurement.
        if (r.measured)
            t.measured.push_back({s.symbols[3], s.symbols[6], s.symbols[9]});
        if (progress)
            progress->step();
    }
    if (progress)
        progress->finish();
}

TeachResult teach_coins(Station& s, int coins, Progress* progress)
{
    TeachResult t;
    {
        MaskedSection masked(*s.port);
        ecrir_bit(s, kAfterRead);
        t.answered = send_record(s, read_word_command(kChecksumWord));
        t.answered = send_record(s, kOpen) || t.answered;
        s.c120_read_timeout = kTimeoutTeach;
    }
    if (t.answered) // else no coin can be measured: none is waited for
        pass_coins(s, coins, progress, t, [&] { return measure_coin(s, false); });
    {
        MaskedSection masked(*s.port); // the end of the teach is part of the transfer
        ecrir_bit(s, kTeachEnd);
    }
    s.c120_read_timeout = kTimeoutNormal;
    return t;
}

void close_after_teach(Station& s)
{
    ecrir_bit(s, kBit1);
    send_record(s, kClose);
    ecrir_bit(s, kRest);
}

WriteOutcome validate_teach(Station& s, int c, const std::array<uint8_t, 6>& bounds, Progress* progress)
{
    MaskedSection masked(*s.port);
    ecrir_bit(s, kValidLine);
    ecrir_bit(s, kValidLine);
    const WriteOutcome o = ecrit_words(s, window_words(c, bounds), progress);
    ecrir_bit(s, kValidLine);
    send_only(s, kClose);
    ecrir_bit(s, kValidLine);
    return o;
}

WriteOutcome write_channel(Station& s, int c, const std::array<uint8_t, 6>& bounds, Progress* progress)
{
    MaskedSection masked(*s.port);
    ecrir_bit(s, kRest);
    ecrir_bit(s, kBit1);
    const WriteOutcome o = ecrit_words(s, window_words(c, bounds), progress);
    ecrir_bit(s, kBit1);
    send_only(s, kClose);
    send_only(s, kOpen);
    ecrir_bit(s, kRest);
    return o;
}

WriteOutcome write_outputs(Station& s, const std::array<int, kChannels>& outputs, Progress* progress)
{
    WriteOutcome o;
    {
        MaskedSection masked(*s.port);
        ecrir_bit(s, kRest);
        ecrir_bit(s, kBit1);
        o = ecrit_words(s, output_words(outputs), progress);
        ecrir_bit(s, kBit1);
        send_only(s, kClose);
        ecrir_bit(s, kRest);
    }
    // The words written so far are in the image already; all the masks only
    // once the mechanism holds them all.
    if (o.result == WriteResult::Verified && !o.stopped)
        store_outputs(s.memory_image, outputs);
    return o;
}

WriteOutcome repair_checksum(Station& s) { return {ecrit_data_1(s, 113, checksum(s.memory_image)), 113}; }

} // namespace zuna::c120
