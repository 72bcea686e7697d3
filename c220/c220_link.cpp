#include "c220/c220_link.h"

#include <algorithm>

#include "link/timing.h"

namespace zuna::c220 {

void activate(Link& l)
{
    l.count = l.s.delay.c220;
    l.port().write_data_port(kRest | kAlways);
}

bool count_usable(const Link& l) { return l.count >= 1; }

bool Link::any_unknown() const { return std::find(unknown.begin(), unknown.end(), true) != unknown.end(); }

// ---- Line level -------------------------------------------------------------------

void step(Link& l, uint8_t value) { hold_bit_write_once(l.port(), l.count, uint8_t(value | kAlways)); }

void steps(Link& l, int n, uint8_t value)
{
    for (int i = 0; i < n; ++i)
        step(l, value);
}

void send_byte(Link& l, uint8_t b)
{
    for (int bit = 7; bit >= 0; --bit) {
        const uint8_t d = (b >> bit) & 1 ? kData : 0;
        steps(l, 2, d);
        steps(l, 6, uint8_t(kClock | d));
        steps(l, 5, d);
    }
}

uint8_t transfer_byte(Link& l, uint8_t b)
{
    Port& port = l.port();
    uint8_t in = 0;
    for (int bit = 7; bit >= 0; --bit) {
        const uint8_t d = (b >> bit) & 1 ? kData : 0;
        steps(l, 3, d);
        // The mechanism's bit is read right after the clock rises.
        port.write_data_port(uint8_t(kClock | d | kAlways));
        in = uint8_t((in << 1) | ((port.read_status_port() & kDataIn) ? 1 : 0));
        for (int64_t i = 0; i <= int64_t(l.count); ++i)
            (void)port.read_status_port();
        steps(l, 4, uint8_t(kClock | d));
        for (int k = 0; k < 3; ++k) {
            port.write_data_port(uint8_t(d | kAlways));
            for (int64_t i = 0; i < int64_t(l.count); ++i)
                (void)port.read_status_port();
        }
    }
    return in;
}

void start(Link& l)
{
    steps(l, 7, 0x20);
    steps(l, 9, 0x00);
}

void ack_clock(Link& l)
{
    steps(l, 11, 0x40);
    steps(l, 5, 0x60);
    steps(l, 13, 0x40);
}

void restart(Link& l)
{
    steps(l, 5, 0x40);
    steps(l, 9, 0x60);
    steps(l, 5, 0x20);
    steps(l, 7, 0x00);
}

void master_ack(Link& l)
{
    steps(l, 5, 0x40);
    steps(l, 5, 0x00);
    steps(l, 5, 0x20);
    steps(l, 5, 0x00);
    steps(l, 107, 0x40);
}

void enable_stop(Link& l)
{
    steps(l, 20, 0x40);
    steps(l, 4, 0x00);
    steps(l, 4, 0x20);
    steps(l, 39, 0x60);
}

void erase_stop(Link& l)
{
    steps(l, 61, 0x40);
    steps(l, 33, 0x00);
    steps(l, 17, 0x20);
    steps(l, 16, 0x60);
}

void write_stop(Link& l)
{
    steps(l, 71, 0x40);
    steps(l, 16, 0x00);
    steps(l, 16, 0x20);
    steps(l, 329, 0x60);
}

void fin(Link& l, int a, int b, int c)
{
    steps(l, a + 1, 0x60);
    steps(l, b + 1, 0x00);
    steps(l, c + 1, 0x60);
}

// ---- Transactions -------------------------------------------------------------------

namespace {

void command(Link& l, uint8_t c)
{
    start(l);
    send_byte(l, 0x00);
    ack_clock(l);
    send_byte(l, c);
}

// From the restart on: the two bytes of the word asked for.
std::array<uint8_t, 2> read_reply(Link& l)
{
    restart(l);
    send_byte(l, 0x01);
    ack_clock(l);
    std::array<uint8_t, 2> w{};
    w[0] = transfer_byte(l, 0xFF);
    master_ack(l);
    w[1] = transfer_byte(l, 0xFF);
    ack_clock(l);
    return w;
}

void write_checksum(Link& l, uint8_t s)
{
    write_enable(l);
    erase_word(l, kChecksumWord);
    write_word(l, kChecksumWord, s, 0, false);
}

// The checksum word from the image, verified once and written a second time
// when it does not hold; byte 126 keeps the value read back.
void rewrite_checksum(Link& l, WriteResult& r)
{
    r.sum = checksum(l.image);
    write_checksum(l, r.sum);
    command(l, uint8_t(0x80 + kChecksumWord));
    ack_clock(l);
    const auto got = read_reply(l);
    write_stop(l);
    l.image[kChecksumByte] = got[0];
    l.image[kChecksumByte + 1] = got[1];
    if (got[0] != r.sum) {
        write_checksum(l, r.sum);
        r.repaired = true;
    }
}

// Reads back what was written and the checksum word; a word read otherwise
// than written is read again until it settles. The image keeps what the
// mechanism gave back; a word that did not settle, or every word when nothing
// answered, is marked unknown and the image no longer counts as whole.
void read_back(Link& l, WriteResult& r, std::vector<int> words)
{
    words.push_back(kChecksumWord);
    std::vector<uint8_t> all;
    std::vector<uint8_t> wanted;
    for (int w : words) {
        const std::array<uint8_t, 2> want =
            w == kChecksumWord ? std::array<uint8_t, 2>{r.sum, 0} : std::array<uint8_t, 2>{l.image[size_t(2 * w)], l.image[size_t(2 * w + 1)]};
        const auto got = read_word(l, w);
        fin(l);
        r.words.push_back({w, want, got});
        all.insert(all.end(), got.begin(), got.end());
        wanted.insert(wanted.end(), want.begin(), want.end());
    }
    r.answered = !(silent_bytes(all.data(), int(all.size())) && all != wanted);
    if (!r.answered) {
        for (WordCheck& c : r.words) {
            c.settled = false;
            l.unknown[size_t(c.word)] = true;
        }
        l.whole = false; // nothing is known of what the mechanism now holds
        return;
    }
    for (WordCheck& c : r.words) {
        if (c.got != c.want) {
            // A garbled line reads otherwise once: believe only a read equal
            // to what was written or two equal reads in a row.
            c.settled = false;
            std::array<uint8_t, 2> previous = c.got;
            for (int again = 0; again < kRereads && !c.settled; ++again) {
                c.got = read_word(l, c.word);
                fin(l);
                c.settled = c.got == c.want || c.got == previous;
                previous = c.got;
            }
        }
        if (!c.settled) {
            l.unknown[size_t(c.word)] = true;
            l.whole = false;
            continue;
        }
        l.image[size_t(2 * c.word)] = c.got[0];
        l.image[size_t(2 * c.word + 1)] = c.got[1];
    }
}

Refusal refusal(const Link& l)
{
    if (!count_usable(l))
        return Refusal::BadCount;
    if (!l.whole)
        return Refusal::NotRead;
    if (l.foreign)
        return Refusal::Foreign;
    return Refusal::None;
}

} // namespace

std::array<uint8_t, 2> read_word(Link& l, int w)
{
    command(l, uint8_t(0x80 + w));
    ack_clock(l);
    return read_reply(l);
}

void write_enable(Link& l)
{
    command(l, 0x30);
    ack_clock(l);
    enable_stop(l);
}

void erase_word(Link& l, int w)
{
    command(l, uint8_t(0xC0 + w));
    erase_stop(l);
}

void write_word(Link& l, int w, uint8_t first, uint8_t second, bool long_form)
{
    command(l, uint8_t(0x40 + w));
    ack_clock(l);
    if (long_form)
        steps(l, 5, 0x40);
    send_byte(l, first);
    ack_clock(l);
    if (long_form)
        steps(l, 13, 0x40);
    send_byte(l, second);
    write_stop(l);
}

uint8_t checksum(const Image& image)
{
    unsigned sum = 0;
    for (int i = 0; i < kChecksumByte; ++i)
        sum += image[size_t(i)];
    return uint8_t(-sum);
}

// ---- Window operations ------------------------------------------------------------------

bool silent_bytes(const uint8_t* bytes, int n)
{
    if (n <= 0)
        return true;
    const uint8_t first = bytes[0];
    if (first != 0x00 && first != 0xFF)
        return false;
    return std::all_of(bytes, bytes + n, [first](uint8_t b) { return b == first; });
}

ReadResult lit_c220(Link& l, Progress* p)
{
    ReadResult r;
    if (!count_usable(l)) {
        r.refused = true;
        return r;
    }
    Image read{};
    if (p)
        p->start(kWords - 1); // 64 steps on a bar of 0..63: the last one is held at the end
    {
        MaskedSection masked(l.port());
        fin(l);
        for (int w = 0; w < kWords; ++w) {
            if (stop_asked(p)) {
                r.stopped = true;
                break;
            }
            const auto v = read_word(l, w);
            read[size_t(2 * w)] = v[0];
            read[size_t(2 * w + 1)] = v[1];
            fin(l);
            ++r.words;
            if (p)
                p->step();
        }
    }
    if (p)
        p->finish();
    if (r.stopped)
        return r;
    r.answered = !silent_bytes(read.data(), 2 * kWords);
    if (!r.answered)
        return r;
    r.checksum_holds = read[kChecksumByte] == checksum(read) && read[kChecksumByte + 1] == 0;
    l.image = read;
    l.whole = true;
    l.unknown = {};
    l.foreign = read[kChecksumByte + 1] != 0;
    return r;
}

bool WriteResult::unknown() const
{
    return refused == Refusal::None &&
           (!answered || std::any_of(words.begin(), words.end(), [](const WordCheck& c) { return !c.settled; }));
}

bool WriteResult::confirmed() const
{
    if (refused != Refusal::None || !answered)
        return false;
    return std::all_of(words.begin(), words.end(), [](const WordCheck& c) { return c.holds(); });
}

WriteResult ecrir_code(Link& l, int c, const std::array<uint8_t, 6>& p)
{
    WriteResult r;
    r.refused = c < 1 || c > kChannels ? Refusal::BadChannel : refusal(l);
    if (r.refused != Refusal::None)
        return r;
    const int w = c - 1;
    MaskedSection masked(l.port());
    for (int k = 0; k < 3; ++k) {
        write_enable(l);
        erase_word(l, 8 * k + w);
        write_word(l, 8 * k + w, p[size_t(2 * k)], p[size_t(2 * k + 1)], k < 2);
    }
    for (int k = 0; k < 3; ++k) {
        l.image[size_t(16 * k + 2 * w)] = p[size_t(2 * k)];
        l.image[size_t(16 * k + 2 * w + 1)] = p[size_t(2 * k + 1)];
    }
    write_stop(l);
    rewrite_checksum(l, r);
    read_back(l, r, {w, 8 + w, 16 + w});
    return r;
}

WriteResult ecrir_code_1(Link& l, int w, uint8_t first, uint8_t second)
{
    WriteResult r;
    r.refused = w < 0 || w > kChecksumWord - 1 ? Refusal::BadWord : refusal(l);
    if (r.refused != Refusal::None)
        return r;
    MaskedSection masked(l.port());
    write_enable(l);
    erase_word(l, w);
    write_word(l, w, first, second, true);
    fin(l);
    l.image[size_t(2 * w)] = first;
    l.image[size_t(2 * w + 1)] = second;
    rewrite_checksum(l, r);
    read_back(l, r, {w});
    return r;
}

// ---- Outputs -------------------------------------------------------------------------

int output_code(const Image& image, int c)
{
    const uint8_t b = image[size_t(output_byte(c))];
    return output_high(c) ? b >> 4 : b & 0x0F;
}

std::array<uint8_t, 4> output_bytes(const std::array<int, kChannels>& codes)
{
    auto pair = [&](int hi, int lo) { return uint8_t(((codes[size_t(hi - 1)] & 0x0F) << 4) | (codes[size_t(lo - 1)] & 0x0F)); };
    return {pair(3, 4), pair(1, 2), pair(7, 8), pair(5, 6)};
}

std::vector<WriteResult> write_outputs(Link& l, const std::array<int, kChannels>& codes)
{
    const auto b = output_bytes(codes);
    std::vector<WriteResult> out;
    out.push_back(ecrir_code_1(l, kOutputWordLow, b[0], b[1]));
    if (out.back().refused == Refusal::None)
        out.push_back(ecrir_code_1(l, kOutputWordHigh, b[2], b[3]));
    return out;
}

std::array<uint8_t, 6> channel_limits(const Image& image, int c)
{
    const int w = c - 1;
    std::array<uint8_t, 6> v{};
    for (int k = 0; k < 3; ++k) {
        v[size_t(2 * k)] = image[size_t(16 * k + 2 * w)];
        v[size_t(2 * k + 1)] = image[size_t(16 * k + 2 * w + 1)];
    }
    return v;
}

// ---- Coin test -------------------------------------------------------------------------

int TestResult::channel() const
{
    if (!answered || mask == 0 || (mask & (mask - 1)) != 0)
        return 0;
    int n = 1;
    while (!(mask & (1 << (n - 1))))
        ++n;
    return n;
}

namespace {

// Waits for the status bits of mask to read `level`; false when the wait ran out.
bool wait_for(Port& port, uint8_t mask, bool level, int64_t limit)
{
    return count_while(port, mask, !level, limit) < limit;
}

} // namespace

TestResult test_p(Link& l)
{
    TestResult r;
    if (!count_usable(l)) {
        r.refused = true;
        return r;
    }
    Port& port = l.port();
    auto give_up = [&](int at) {
        port.write_data_port(kRest | kAlways);
        r.timed_out_step = at;
        return r;
    };
    port.write_data_port(kRest | kRequest | kAlways);
    const bool coin = [&] {
        const CoinWait coin_wait; // "Arrêter" may end the wait for the coin
        return wait_reply(port, kDataIn, true, kCoinWait) < kCoinWait;
    }();
    if (!coin)
        return give_up(2);
    port.write_data_port(kRest | kAlways);
    if (!wait_for(port, kDataIn, false, kHandshakeWait) || !wait_for(port, kMechClock, true, kHandshakeWait))
        return give_up(4);

    MaskedSection masked(port);
    for (int i = 0; i < 8; ++i)
        if (!wait_for(port, kMechClock, false, kHandshakeWait) || !wait_for(port, kMechClock, true, kHandshakeWait))
            return give_up(5);
    port.write_data_port(kClock | kAlways);
    if (!wait_for(port, kMechClock, false, kHandshakeWait))
        return give_up(6);
    steps(l, 5, kClock);
    if (!wait_for(port, kMechClock, true, kHandshakeWait))
        return give_up(6);
    port.write_data_port(kRest | kAlways);
    if (!wait_for(port, kMechClock, false, kHandshakeWait))
        return give_up(7);
    uint8_t v = 0;
    for (int bit = 0; bit < 8; ++bit) {
        v = uint8_t((v << 1) | ((port.read_status_port() & kDataIn) ? 1 : 0));
        if (!wait_for(port, kMechClock, true, kHandshakeWait) || !wait_for(port, kMechClock, false, kHandshakeWait))
            return give_up(8);
    }
    l.image[kResultByte] = v;
    steps(l, 27, kClock);
    port.write_data_port(kRest | kAlways);
    steps(l, 65, kRest);
    r.answered = true;
    r.mask = v;
    return r;
}

} // namespace zuna::c220
