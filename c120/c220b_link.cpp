#include "c120/c220b_link.h"

#include <algorithm>

#include "link/rounding.h"
#include "link/timing.h"

namespace zuna::c220b {

using c120::WriteResult;

std::array<uint8_t, 5> write_checksum_command(uint8_t sum) { return {0x7A, 0x7F, sum, 0x00, uint8_t(sum + 0xF9)}; }

void ecrir_bit(Station& s, uint8_t value)
{
    hold_bit(*s.port, s.delay.c220b, value);
    s.serial_line = value;
}

int64_t listen_reads(int32_t delay, int window) { return int64_t(window - 1) * delay; }

int ecrir_instruction_c220(Station& s, const uint8_t* bytes, int n, int window, int32_t* runs, int capacity)
{
    const int64_t total = listen_reads(s.delay.c220b, window);

    ecrir_bit(s, kBit0);
    for (int i = 0; i < n; ++i) {
        for (int b = 0; b < 8; ++b)
            ecrir_bit(s, (bytes[i] >> b) & 1 ? kBit1 : kBit0);
        if (i + 1 < n) {
            for (int k = 0; k < 5; ++k)
                ecrir_bit(s, kBit1);
            ecrir_bit(s, kBit0);
        } else {
            ecrir_bit(s, kBit1); // one stop bit, then listen at once
        }
    }

    // Every read of the answer counts against the listening window.
    return c120::record_reply(*s.port, s.delay.c220b, {c120::ReplyEnd::Window, total}, runs, capacity);
}

uint8_t send_table(Station& s, const uint8_t* bytes, int n, int window, bool* heard)
{
    std::fill(s.run_table.begin(), s.run_table.begin() + c120::kLocalRuns, 0);
    const int runs = ecrir_instruction_c220(s, bytes, n, window, s.run_table.data(), c120::kLocalRuns);
    if (heard)
        *heard = runs > 0;
    c120::decode_table(s.run_table.data(), runs, s.symbols.data(), kSymbolBufferSize);
    return s.symbols[0];
}

namespace {

// One exchange into local buffers; returns whether it was acknowledged and
// its check byte holds (for word reads).
template <std::size_t N>
bool read_local(Station& s, const std::array<uint8_t, N>& c, int window, std::array<uint8_t, c120::kLocalDecoded>& dec)
{
    std::array<int32_t, c120::kLocalRuns> runs{};
    const int n = ecrir_instruction_c220(s, c, window, runs.data(), c120::kLocalRuns);
    c120::decode_table(runs.data(), n, dec.data(), kReadDecoded);
    if (uint8_t(dec[12] - dec[6] - dec[9]) != 0x3B)
        dec[0] = 4;
    return dec[0] == c120::kAck;
}

} // namespace

bool lect_mem_mech_c220(Station& s, int n)
{
    std::array<uint8_t, c120::kLocalDecoded> dec{};
    bool ok = false;
    for (int t = 0; t < c120::kWordTries && !ok; ++t)
        ok = read_local(s, read_word_command(n - 1), kWinRead, dec);
    if (ok) {
        s.memory_image[c120::word_index(n - 1)] = dec[6];
        s.memory_image[c120::word_index(n - 1) + 1] = dec[9];
    }
    return ok;
}

int lecture_c220(Station& s, Progress* progress, bool* stopped)
{
    if (progress)
        progress->start(c120::kWordCount);
    std::fill(s.run_table.begin(), s.run_table.begin() + 101, 0);
    s.memory_image.fill(0);
    int words = 0;
    {
        MaskedSection masked(*s.port);
        c120::ecrir_bit(s, kBefore);
        // An open answered but not acknowledged (garbled on the way) is sent
        // again, as a word read is; a mechanism that answers nothing is not asked again.
        for (int t = 0; t < c120::kWordTries; ++t) {
            bool heard = false;
            if (send_table(s, kOpen, kWinOpenClose, &heard) == c120::kAck)
                s.memory_image[0] = 1;
            if (s.memory_image[0] == 1 || !heard)
                break;
        }
        if (s.memory_image[0] == 1) {
            for (int n = 1; n <= c120::kWordCount; ++n) {
                if (stop_asked(progress)) {
                    if (stopped)
                        *stopped = true;
                    break;
                }
                if (!lect_mem_mech_c220(s, n))
                    break;
                ++words;
                if (progress)
                    progress->step();
            }
        }
        send_table(s, kClose, kWinOpenClose);
        send_table(s, kClose, kWinOpenClose);
        if (progress)
            progress->finish();
        c120::ecrir_bit(s, kRest);
    }
    return words;
}

WriteResult ecrit_data_c220(Station& s, int address, uint8_t first, uint8_t second)
{
    using c120::word_index;
    uint8_t* w = &s.memory_image[word_index(address)];
    uint8_t* cw = &s.memory_image[word_index(c120::kChecksumWord)];
    const std::array<uint8_t, 2> previous = {w[0], w[1]};
    std::array<uint8_t, c120::kLocalDecoded> dec{};
    std::array<uint8_t, c120::kLocalDecoded> dec_sum{};
    std::array<int32_t, c120::kLocalRuns> runs{};
    bool word_known = false, sum_known = false;
    uint8_t sum = 0;
    for (int round = 0; round < kWriteRounds; ++round) {
        w[0] = first;
        w[1] = second;
        cw[1] = 0; // byte 255 is written as 0 with the checksum: the sum counts it so
        runs.fill(0);
        dec.fill(0);
        read_local(s, read_word_command(address), 700, dec);
        read_local(s, read_word_command(c120::kChecksumWord), 600, dec);
        ecrir_instruction_c220(s, kOpen, 600, runs.data(), c120::kLocalRuns);
        sum = c120::checksum(s.memory_image);
        ecrir_instruction_c220(s, write_word_command(address, first, second), 550, runs.data(), c120::kLocalRuns);
        ecrir_instruction_c220(s, write_checksum_command(sum), 550, runs.data(), c120::kLocalRuns);
        ecrir_instruction_c220(s, kOpen, 650, runs.data(), c120::kLocalRuns);
        ecrir_instruction_c220(s, kClose, 650, runs.data(), c120::kLocalRuns);
        word_known = read_local(s, read_word_command(address), 550, dec);
        ecrir_instruction_c220(s, read_word_command(3), 550, runs.data(), c120::kLocalRuns);
        sum_known = read_local(s, read_word_command(c120::kChecksumWord), 550, dec_sum);
        // A write counts when the word and the checksum word (byte 255 as 0) read back as sent.
        if (word_known && sum_known && dec[6] == first && dec[9] == second && dec_sum[6] == sum && dec_sum[9] == 0) {
            cw[0] = sum;
            send_table(s, kClose, kWinOpenClose);
            return WriteResult::Verified;
        }
    }
    send_table(s, kClose, kWinOpenClose);
    // A word that reads back other than written is believed only when a
    // second read gives the same bytes: a garbled reply may pass its check.
    bool disagree = false;
    auto read_again = [&](bool& known, int a, const std::array<uint8_t, c120::kLocalDecoded>& got, bool as_written) {
        if (!known || as_written)
            return;
        std::array<uint8_t, c120::kLocalDecoded> again{};
        const bool heard = read_local(s, read_word_command(a), 550, again);
        known = heard && again[6] == got[6] && again[9] == got[9];
        disagree = disagree || (heard && !known);
    };
    read_again(word_known, address, dec, dec[6] == first && dec[9] == second);
    read_again(sum_known, c120::kChecksumWord, dec_sum, dec_sum[6] == sum && dec_sum[9] == 0);
    // Given up: the image keeps only what the mechanism was seen to hold.
    if (word_known) {
        w[0] = dec[6];
        w[1] = dec[9];
    } else {
        w[0] = previous[0];
        w[1] = previous[1];
    }
    if (sum_known) {
        cw[0] = dec_sum[6];
        cw[1] = dec_sum[9];
    }
    if (!word_known || !sum_known) {
        s.memory_image[0] = 0;
        return disagree ? WriteResult::Unknown : WriteResult::NoAnswer;
    }
    return WriteResult::Unverified;
}

c120::CoinReply measure_coin_c220(Station& s)
{
    const CoinWait coin_wait; // "Arrêter" may end the waits for its replies
    c120::CoinReply r;
    r.acknowledged = send_table(s, kMeasureCoin, kWinMeasure) == c120::kAck;
    std::fill(s.run_table.begin(), s.run_table.begin() + c120::kLocalRuns, 0);
    const int n = c120::lecture_monayeur(s, s.run_table.data(), kRunTableSize);
    const c120::Placed placed = c120::decode_table(s.run_table.data(), n, s.symbols.data(), kSymbolBufferSize);
    // Nothing (time-out), a glitch taken for an answer or an answer whose
    // values did not decode in their places must not pass for a coin.
    r.measured = n > 0 && c120::coin_reply_readable(s.symbols.data(), placed);
    return r;
}

// --- Memory map ---------------------------------------------------------------

std::array<uint8_t, 6> channel_bounds(const c120::Image& image, int c)
{
    std::array<uint8_t, 6> b{};
    for (int k = 1; k <= 3; ++k) {
        b[2 * (k - 1)] = image[upper_index(c, k)];
        b[2 * (k - 1) + 1] = image[upper_index(c, k) + 1];
    }
    return b;
}

int output_spin(uint8_t stored)
{
    if (stored == 255)
        return 0;
    return stored <= 5 ? stored + 1 : 0;
}

std::string output_text(uint8_t stored)
{
    if (stored == 255 || stored <= 5)
        return std::to_string(output_spin(stored));
    return "?" + std::to_string(stored);
}

namespace {
uint8_t stored(int spin) { return uint8_t(spin - 1); }
} // namespace

std::array<AddressValue, 9> output_words(const c120::Image& image, const std::array<int, kChannels>& v)
{
    auto o = [&](int c) { return stored(v[c - 1]); };
    return {{{118, o(1), image[237 + 1]},
             {119, o(3), o(2)},
             {120, o(5), o(4)},
             {121, o(7), o(6)},
             {122, o(9), o(8)},
             {123, o(11), o(10)},
             {124, o(13), o(12)},
             {125, o(15), o(14)},
             {126, o(16), o(16)}}};
}

void store_outputs(c120::Image& image, const std::array<int, kChannels>& spins)
{
    for (int c = 1; c <= kChannels; ++c)
        image[output_byte(c) + 1] = stored(spins[c - 1]);
    image[252 + 1] = stored(spins[15]);
}

std::array<AddressValue, 3> window_words(int c, const std::array<uint8_t, 6>& b)
{
    return {{{window_address(c, 1), b[0], b[1]}, {window_address(c, 2), b[2], b[3]}, {window_address(c, 3), b[4], b[5]}}};
}

c120::WriteOutcome ecrit_words(Station& s, const AddressValue* words, int count, Progress* progress)
{
    return c120::write_words(
        count, progress, [&](int i) { return ecrit_data_c220(s, words[i].address, words[i].first, words[i].second); },
        [&](int i) { return words[i].address + 1; });
}

// --- Window operations ----------------------------------------------------------

c120::ReadResult read_memory(Station& s, Progress* progress)
{
    c120::ReadResult r;
    r.words = lecture_c220(s, progress, &r.stopped);
    r.opened = s.memory_image[0] == 1;
    if (r.words < c120::kWordCount)
        s.memory_image[0] = 0; // the image is not whole: nothing may be shown or written from it
    return r;
}

c120::CoinReply test_coin(Station& s)
{
    c120::CoinReply r;
    s.c120_read_timeout = c120::kTimeoutTest;
    {
        MaskedSection masked(*s.port);
        c120::ecrir_bit(s, kBefore);
        send_table(s, kClose, kWinOpenClose);
        send_table(s, kOpen, kWinOpenClose);
        r = measure_coin_c220(s);
        const std::array<uint8_t, 3> coin = {s.symbols[3], s.symbols[6], s.symbols[9]};
        send_table(s, kClose, kWinOpenClose);
        s.symbols[3] = coin[0]; // the close's answer must not hide the coin's
        s.symbols[6] = coin[1];
        s.symbols[9] = coin[2];
    }
    s.c120_read_timeout = c120::kTimeoutAfterTest;
    return r;
}

c120::TeachResult teach_coins(Station& s, int coins, Progress* progress)
{
    c120::TeachResult t;
    {
        MaskedSection masked(*s.port);
        c120::ecrir_bit(s, kTeachStart);
        send_table(s, kOpen, kWinOpenClose, &t.answered);
        s.c120_read_timeout = c120::kTimeoutTeach;
    }
    if (t.answered) // else no coin can be measured: none is waited for
        c120::pass_coins(s, coins, progress, t, [&] { return measure_coin_c220(s); });
    {
        MaskedSection masked(*s.port); // the end of the teach is part of the transfer
        c120::ecrir_bit(s, kTeachEnd);
    }
    s.c120_read_timeout = c120::kTimeoutNormal;
    return t;
}

c120::WriteOutcome validate_teach(Station& s, int c, const std::array<uint8_t, 6>& bounds, Progress* progress)
{
    MaskedSection masked(*s.port);
    c120::ecrir_bit(s, kTeachStart);
    return ecrit_words(s, window_words(c, bounds), progress);
}

c120::WriteOutcome write_channel(Station& s, int c, const std::array<uint8_t, 6>& bounds, bool reopen,
                                 Progress* progress)
{
    MaskedSection masked(*s.port);
    c120::ecrir_bit(s, kRest);
    c120::ecrir_bit(s, kBefore);
    const c120::WriteOutcome o = ecrit_words(s, window_words(c, bounds), progress);
    c120::ecrir_bit(s, kBefore);
    send_table(s, kClose, kWinOpenClose);
    c120::ecrir_bit(s, kRest);
    if (reopen)
        send_table(s, kOpen, kWinOpenClose);
    return o;
}

c120::WriteOutcome write_outputs(Station& s, const std::array<int, kChannels>& spins, Progress* progress)
{
    c120::WriteOutcome o;
    {
        MaskedSection masked(*s.port);
        c120::ecrir_bit(s, kBefore);
        o = ecrit_words(s, output_words(s.memory_image, spins), progress);
        c120::ecrir_bit(s, kBefore);
        send_table(s, kClose, kWinOpenClose);
        c120::ecrir_bit(s, kRest);
    }
    // Into the image only once the mechanism holds them all.
    if (o.result == c120::WriteResult::Verified && !o.stopped)
        store_outputs(s.memory_image, spins);
    return o;
}

void close_link(Station& s, bool line_first)
{
    if (line_first)
        c120::ecrir_bit(s, kBefore);
    send_table(s, kClose, kWinOpenClose);
    c120::ecrir_bit(s, kRest);
}

} // namespace zuna::c220b
