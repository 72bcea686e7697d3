#include "seci/seci_link.h"

#include <algorithm>

#include "link/rounding.h"
#include "link/timing.h"

namespace zuna::seci {

namespace {

struct CharRuns {
    uint8_t c;
    uint8_t n;
    int32_t runs[6];
};

// Each character as start bit and data bits, LSB first, up to its last level
// 0 bit; the held level 1 supplies the high 1 bits and the stop bit.
constexpr CharRuns kChars[] = {
    {0x00, 1, {9}},
    {0x01, 3, {1, 1, 7}},
    {0x02, 3, {2, 1, 6}},
    {0x03, 3, {1, 2, 6}},
    {0x04, 3, {3, 1, 5}},
    {0x05, 5, {1, 1, 1, 1, 5}},
    {0x06, 3, {2, 2, 5}},
    {0x07, 3, {1, 3, 5}},
    {0x08, 3, {4, 1, 4}},
    {0x09, 5, {1, 1, 2, 1, 4}},
    {0x0A, 5, {2, 1, 1, 1, 4}},
    {0x0B, 5, {1, 2, 1, 1, 4}},
    {0x0C, 3, {3, 2, 4}},
    {0x0F, 3, {1, 4, 4}},
    {0x10, 3, {5, 1, 3}},
    {0x11, 5, {1, 1, 3, 1, 3}},
    {0x12, 5, {2, 1, 2, 1, 3}},
    {0x17, 5, {1, 3, 1, 1, 3}},
    {0xF4, 4, {3, 1, 1, 1}},
    {0xF5, 6, {1, 1, 1, 1, 1, 1}},
};

// Entries sent and the wait factor of a list read up to its first zero or `limit`.
struct Reading {
    int sent = 0;
    int32_t wait = 0;
};
Reading read_list(std::span<const int32_t> list, int limit)
{
    int n = 0;
    const int cap = std::min<int>(limit, int(list.size()));
    while (n < cap && list[size_t(n)] != 0)
        ++n;
    if (n == 0)
        return {};
    return {n - 1, list[size_t(n - 1)]};
}

// The stretches, then one unit of idle (the stop bit). Port accesses only.
void send(const Line& l, std::span<const int32_t> list, int sent)
{
    for (int j = 0; j < sent; ++j) {
        const uint8_t level = (j % 2 == 0) ? kLevel0 : kLevel1;
        for (int32_t u = 0; u < list[size_t(j)]; ++u)
            ecrir_bit_2(l, level);
    }
    ecrir_bit_2(l, kLevel1);
}

int32_t divisor(const Line& l)
{
    const int32_t d = l.delay();
    return d > 0 ? d : 1;
}

// A capture during which the port stood still (Port::stalled_ns) holds no
// reply: a level counted across a stall is not the level on the line, and a
// command list stretched by one may have been taken for another. Its run
// table is emptied, so that it decodes as no character; the capture still
// says that a reply came (heard, but garbled).
void forget_reply(Station& s, int entries)
{
    std::fill(s.run_table.begin(), s.run_table.begin() + std::min(entries, kRunTableSize), 0);
}

// Units into a stretch within which a stall may have hidden a character's
// edges: its ten, and two for a mechanism whose clock runs slow.
constexpr int64_t kCharacterUnits = 12;

// count_while for one stretch of a reply, in two parts when it runs longer
// than a character (the same reads): `seen` is called after the first, so
// that a stall that may have hidden the last character's level 0 bits in the
// idle the capture ends on is counted, and one later is not.
template <class Seen> int64_t count_stretch(const Line& l, bool level, int64_t limit, Seen seen)
{
    Port& port = *l.s.port;
    const int64_t reach = kCharacterUnits * int64_t(divisor(l));
    int64_t n = count_while(port, kReply, level, std::min(reach, limit));
    if (n == reach && n < limit) {
        seen();
        n += count_while(port, kReply, level, limit - n);
    }
    return n;
}

// Budgeted capture: the counter bounds the wait for the start bit and the
// whole reply together; the stretch running when it runs out is the end mark.
// The watch runs from before the command list sent, through the wait, to the
// end of the last stretch measured and a character's length into the one
// the budget ends.
bool capture_budget(const Line& l, int64_t budget, const StallWatch& watch)
{
    Port& port = *l.s.port;
    ecrir_bit_2(l, kLevel1);
    if (budget <= 0)
        return false;
    int64_t c = count_while(port, kReply, false, budget);
    if (c >= budget)
        return false;
    auto& runs = l.s.run_table;
    uint64_t during = watch.stalled_ns();
    int j = 0;
    for (; j < kRunTableSize - 1; ++j) {
        const int64_t n = count_stretch(l, j % 2 == 0, budget - c, [&] { during = watch.stalled_ns(); });
        c += n;
        if (c >= budget) {
            runs[size_t(j)] = kEndMark;
            break;
        }
        runs[size_t(j)] = int32_t(div_round_even(n, divisor(l)));
        during = watch.stalled_ns();
    }
    if (during > 0)
        forget_reply(l.s, j + 1);
    return true;
}

// Waiting capture: a long wait for the start bit, then each stretch counted
// from 0 up to the end mark. The wait goes in blocks of kStopPollReads reads
// (a look at the stop request between them, as in a coin wait). A stall
// counts from a character's length before the start bit seen (one that hid
// the real start edge ended less than a character before the edge taken),
// and while the list was sent when `sent` is given.
bool capture_waiting(const Line& l, int64_t wait, const StallWatch* sent = nullptr)
{
    Port& port = *l.s.port;
    ecrir_bit_2(l, kLevel1);
    const bool list_stretched = sent && sent->stalled();
    const CoinWait coin_wait; // only coins are waited for here: "Arrêter" may end the wait
    const int64_t character = 10 * (int64_t(divisor(l)) + 1);
    StallWatch watch(port);
    if (wait_reply(port, kReply, false, wait, &watch, character) >= wait)
        return false;
    auto& runs = l.s.run_table;
    uint64_t during = watch.stalled_ns();
    int j = 0;
    for (; j < kRunTableSize - 1; ++j) {
        const int64_t n =
            count_stretch(l, j % 2 == 0, kEndMark, [&] { during = watch.stalled_ns(); });
        if (n >= kEndMark) {
            runs[size_t(j)] = kEndMark;
            break;
        }
        runs[size_t(j)] = int32_t(div_round_even(n, divisor(l)));
        during = watch.stalled_ns();
    }
    if (list_stretched || during > 0)
        forget_reply(l.s, j + 1);
    return true;
}

void clear_tables(Station& s)
{
    s.run_table.fill(0);
    s.symbols.fill(0);
}

// Bits appended to a run list being built in the symbol buffer (the builder's
// own rule: a bit of the current level lengthens the stretch, another opens one).
struct Builder {
    std::array<uint8_t, kSymbolBufferSize>& sym;
    int i = 0;
    void bit(int b)
    {
        if (b == i % 2) {
            ++sym[size_t(i)];
        } else {
            ++i;
            sym[size_t(i)] = 1;
        }
    }
    void byte(uint8_t v)
    {
        for (int k = 0; k < 8; ++k)
            bit((v >> k) & 1);
        bit(1); // stop bit
    }
};

RunList copy_out(const std::array<uint8_t, kSymbolBufferSize>& sym)
{
    RunList l;
    for (int j = 0; j <= 300 && sym[size_t(j)] != 0; ++j)
        l.push(sym[size_t(j)]);
    return l;
}

// The data register may hold another device's value (the module's lines)
// when a transaction starts: one unit of idle first, so the mechanism sees
// the start edge of the first character.
void idle_first(const Line& l) { ecrir_bit_2(l, kLevel1); }

bool send_command(const Line& l, uint8_t c, int32_t wait)
{
    const RunList r = command(c, wait);
    return ecrir_octet(l, r.view());
}

} // namespace

std::span<const int32_t> char_runs(uint8_t c)
{
    for (const CharRuns& r : kChars)
        if (r.c == c)
            return {r.runs, r.n};
    return {};
}

RunList command(uint8_t c, int32_t wait)
{
    RunList l;
    for (int32_t v : char_runs(c))
        l.push(v);
    l.push(wait);
    return l;
}

RunList command_pair_00_10(int32_t wait)
{
    RunList l;
    for (int32_t v : {9, 1, 5, 1, 3})
        l.push(v);
    l.push(wait);
    return l;
}

void ecrir_bit_2(const Line& l, uint8_t value) { hold_bit(*l.s.port, l.delay(), value); }

bool ecrir_octet(const Line& l, std::span<const int32_t> list, int limit)
{
    clear_tables(l.s);
    const Reading r = read_list(list, limit);
    MaskedSection masked(*l.s.port);
    const StallWatch watch(*l.s.port);
    send(l, list, r.sent);
    return capture_budget(l, int64_t(r.wait) * l.delay(), watch);
}

void ecrir_octet_s(const Line& l, std::span<const int32_t> list)
{
    clear_tables(l.s);
    const Reading r = read_list(list, kShortListLimit);
    MaskedSection masked(*l.s.port);
    send(l, list, r.sent);
}

bool ecrir_octet_a(const Line& l, std::span<const int32_t> list, int64_t wait)
{
    clear_tables(l.s);
    const Reading r = read_list(list, kShortListLimit);
    MaskedSection masked(*l.s.port);
    const StallWatch watch(*l.s.port);
    send(l, list, r.sent);
    return capture_waiting(l, wait, &watch);
}

bool lit_rm3(const Line& l, int64_t budget)
{
    MaskedSection masked(*l.s.port);
    return capture_budget(l, budget, StallWatch(*l.s.port));
}

bool lit_rm3_a(const Line& l, int64_t wait)
{
    MaskedSection masked(*l.s.port);
    return capture_waiting(l, wait);
}

int decode_nibbles(const std::array<int32_t, kRunTableSize>& runs, std::array<uint8_t, kSymbolBufferSize>& sym)
{
    // Entries outside the table, and negative ones (no capture writes them), read 0.
    auto entry = [&](int64_t k) -> int64_t {
        if (k < 0 || k >= kRunTableSize)
            return 0;
        return std::max<int32_t>(runs[size_t(k)], 0);
    };
    if (entry(0) == 0)
        return 0;
    int64_t i = 0;
    int64_t r = entry(0) - 1; // the first start bit is used up
    int64_t first = 0;        // the stretch of the current character's start bit
    unsigned s = 0;
    int b = 0, k = 0, n = 0;
    for (;;) {
        if (k == 2) { // eight data bits taken: the stop bit, then the next start bit
            // The stop bit is a level 1 unit: what is left of a level 1
            // stretch, or the level 1 stretch behind a level 0 one used up.
            // A level 0 there means the bits were counted wrong (a stretch
            // read a unit long or short): the character is dropped and the
            // decoding ends, rather than go on out of step.
            // A character that is one level 0 stretch (0x00) is kept however
            // long it was counted: no bit of it can have moved.
            const bool stop = (i % 2 == 1) ? r > 0 : ((r == 0 || i == first) && entry(i + 1) > 0);
            if (!stop) {
                n -= 2;
                break;
            }
            i += (i % 2 == 1) ? 1 : 2;
            const int64_t e = entry(i);
            if (e == 0 || e >= 9000)
                break;
            r = e - 1;
            first = i;
            k = 0;
        }
        if (r == 0) {
            ++i;
            r = entry(i);
            if (r == 0)
                break;
        }
        s >>= 1;
        if (i % 2 == 1)
            s |= 0x80;
        if (++b == 4) {
            if (n >= kSymbolBufferSize)
                break;
            sym[size_t(n++)] = uint8_t(s / 16);
            ++k;
            s = 0;
            b = 0;
        }
        if (--r >= 9000) // the end mark is being read
            break;
    }
    return n;
}

Record rm3_record(const std::array<uint8_t, kSymbolBufferSize>& sym)
{
    auto v = [&](int j) { return int32_t(sym[size_t(j)] & 0x0F); };
    Record r;
    for (int i = 0; i < 6; ++i)
        r.value[size_t(i)] = v(4 * i + 1) * 4096 + v(4 * i) * 256 + v(4 * i + 3) * 16 + v(4 * i + 2);
    r.flags = v(24);
    r.output = v(26);
    return r;
}

Record rm4_record(const std::array<uint8_t, kSymbolBufferSize>& sym)
{
    auto v = [&](int j) { return int32_t(sym[size_t(j)] & 0x0F); };
    Record r;
    for (int i = 0; i < 6; ++i)
        r.value[size_t(i)] = v(2 * i + 1) * 16 + v(2 * i);
    for (int i = 0; i < 2; ++i) {
        const int b = 12 + 4 * i;
        r.value[size_t(6 + i)] = v(b + 1) * 4096 + v(b) * 256 + v(b + 3) * 16 + v(b + 2);
    }
    r.flags = v(20);
    r.output = v(22) & 7;
    return r;
}

namespace {
Record decode_with(Station& s, const Family& f, int* chars)
{
    const int n = decode_nibbles(s.run_table, s.symbols);
    // Symbols beyond those written read 0 even if a caller left others behind.
    std::fill(s.symbols.begin() + n, s.symbols.begin() + std::max(n, 2 * f.chars), 0);
    if (chars)
        *chars = n / 2;
    return f.record(s.symbols);
}
} // namespace

Record decode(const Line& l, int* chars) { return decode_with(l.s, *l.family, chars); }
Record decode_rm3(Station& s, int* chars) { return decode_with(s, kRm3, chars); }
Record decode_rm4(Station& s, int* chars) { return decode_with(s, kRm4, chars); }

std::optional<Record> decode_channel(Station& s, const Family& f, int* chars)
{
    int n = 0;
    const Record r = decode_with(s, f, &n);
    if (chars)
        *chars = n;
    if (n < f.chars)
        return std::nullopt;
    // The high nibbles of the last two characters are fixed (RM3 0xF_ 0x9_,
    // RM4 0x1_ 0x2_): others mean characters out of step, not a record.
    auto high = [&](int c) { return s.symbols[size_t(2 * c + 1)]; };
    const bool rm4 = &f == &kRm4;
    if (high(f.chars - 2) != (rm4 ? 0x1 : 0xF) || high(f.chars - 1) != (rm4 ? 0x2 : 0x9))
        return std::nullopt;
    return r;
}

RunList nb_envoi(Station& s, uint16_t value)
{
    std::fill(s.symbols.begin(), s.symbols.begin() + 301, 0);
    s.symbols[0] = 1;
    Builder b{s.symbols};
    b.byte(uint8_t(value >> 8));
    ++b.i;
    s.symbols[size_t(b.i)] = 1; // start bit of the low byte
    b.byte(uint8_t(value & 0xFF));
    return copy_out(s.symbols);
}

RunList nb_envoi_2(Station& s, uint8_t value)
{
    std::fill(s.symbols.begin(), s.symbols.begin() + 301, 0);
    s.symbols[0] = 1;
    Builder b{s.symbols};
    b.byte(value);
    return copy_out(s.symbols);
}

RunList record_list(Station& s, std::span<const Piece> pieces)
{
    RunList out;
    for (const Piece& p : pieces) {
        const RunList w = p.bytes == 1 ? nb_envoi_2(s, uint8_t(p.value)) : nb_envoi(s, p.value);
        for (int j = 0; j < w.size && out.size < kRecordListSize; ++j)
            out.push(w.e[size_t(j)]);
    }
    if (out.size > 0)
        out.e[size_t(out.size - 1)] = kWriteWait;
    return out;
}

RunList rm3_record_list(Station& s, const Record& r)
{
    std::array<Piece, 7> p{};
    for (int i = 0; i < 6; ++i)
        p[size_t(i)] = {uint16_t(r.value[size_t(i)]), 2};
    p[6] = {uint16_t(((r.flags & 0x0F) << 8) + 0xF090 + (r.output & 0x0F)), 2};
    return record_list(s, p);
}

RunList rm4_record_list(Station& s, const Record& r)
{
    std::array<Piece, 9> p{};
    for (int i = 0; i < 6; ++i)
        p[size_t(i)] = {uint16_t(r.value[size_t(i)] & 0xFF), 1};
    p[6] = {uint16_t(r.value[6]), 2};
    p[7] = {uint16_t(r.value[7]), 2};
    p[8] = {uint16_t(((r.flags & 0x0F) << 8) + 0x1020 + ((r.output & 0x0F) | 8)), 2};
    return record_list(s, p);
}

// ---- The families' sequences ----------------------------------------------

namespace {

struct Step {
    uint8_t c;
    int32_t wait;
};
void send_steps(const Line& l, std::span<const Step> steps)
{
    for (const Step& st : steps)
        send_command(l, st.c, st.wait);
}

void rm3_read_opening(const Line& l)
{
    const RunList pair = command_pair_00_10(200);
    ecrir_octet(l, pair.view());
    send_command(l, 0x00, 12);
    send_command(l, 0x10, 53);
}
bool rm3_channel_request(const Line& l, int n)
{
    send_command(l, 0x00, 12);
    send_command(l, 0x09, 12);
    return send_command(l, uint8_t(n), 320);
}
void rm3_read_tail(const Line& l)
{
    static const Step kTail[] = {{0x00, 12}, {0x0C, 150}, {0x00, 12}, {0xF5, 3},  {0x00, 12}, {0x12, 320},
                                 {0x00, 12}, {0x10, 50},  {0x00, 12}, {0x17, 110}, {0x00, 12}, {0xF4, 3}};
    send_steps(l, kTail);
}
void rm3_write_opening(const Line& l)
{
    const RunList pair = command_pair_00_10(200);
    ecrir_octet(l, pair.view());
    send_command(l, 0x00, 12);
    send_command(l, 0x01, 5000);
}
void rm3_record_write(const Line& l, int n, const RunList& list)
{
    send_command(l, 0x00, 12);
    send_command(l, uint8_t(n + 2), 12);
    ecrir_octet(l, list.view(), kRecordListSize); // sent whole, whatever its length
    send_command(l, 0x00, 86);
}
bool rm3_read_back_request(const Line& l, int n)
{
    send_command(l, 0x09, 12);
    return send_command(l, uint8_t(n), 320);
}

void rm4_read_opening(const Line&) {}
bool rm4_channel_request(const Line& l, int n)
{
    send_command(l, 0x00, 12);
    send_command(l, 0x04, 14);
    return send_command(l, uint8_t(n - 1), n == 1 ? 180 : 320);
}
void rm4_read_tail(const Line& l)
{
    static const Step kTail[] = {{0x00, 12}, {0x04, 14},  {0x0F, 120}, {0x00, 12}, {0x07, 320},
                                 {0x00, 12}, {0x08, 320}, {0x00, 12},  {0x09, 320}, {0x00, 12},
                                 {0x0A, 320}, {0x00, 12}, {0x0B, 320}, {0x00, 12}, {0x11, 320}};
    send_steps(l, kTail);
}
void rm4_write_opening(const Line& l)
{
    static const Step kOpening[] = {{0x00, 12}, {0x00, 12}, {0x01, 5200}};
    send_steps(l, kOpening);
}
void rm4_record_write(const Line& l, int n, const RunList& list)
{
    send_command(l, 0x00, 16);
    send_command(l, 0x03, 13);
    send_command(l, uint8_t(n - 1), 1);
    ecrir_octet(l, list.view(), kRecordListSize);
    static const Step kClose[] = {{0x00, 12}, {0x04, 12}, {0x00, 120}};
    send_steps(l, kClose);
}
void rm4_after_read_back(const Line& l) { send_command(l, 0x00, 12); }
void nothing(const Line&) {}

} // namespace

const Family kRm3{"RM3", &DelayCounts::rm3, 6, kRm3Chars, 6, 15,
                  {65535, 65535, 65535, 65535, 65535, 65535, 0, 0},
                  rm3_record, rm3_record_list, rm3_read_opening, rm3_channel_request, rm3_read_tail,
                  rm3_write_opening, rm3_record_write, rm3_read_back_request, nothing,
                  empty_record()};
const Family kRm4{"RM4", &DelayCounts::rm4, 12, kRm4Chars, 8, 7,
                  {255, 255, 255, 255, 255, 255, 65535, 65535},
                  rm4_record, rm4_record_list, rm4_read_opening, rm4_channel_request, rm4_read_tail,
                  rm4_write_opening, rm4_record_write, rm4_channel_request, rm4_after_read_back,
                  empty_rm4_record()};

Record Family::as_read(const Record& w) const
{
    Record r = w;
    r.flags &= 0x0F;
    r.output &= (this == &kRm4) ? 0x07 : 0x0F;
    return r;
}

int32_t Line::delay() const { return s.delay.*(family->count); }
Line rm3_line(Station& s) { return Line{s, &kRm3}; }
Line rm4_line(Station& s) { return Line{s, &kRm4}; }

void read_opening(const Line& l)
{
    idle_first(l);
    l.family->read_opening(l);
}

ChannelRead channel_read(const Line& l, int n)
{
    ChannelRead c;
    idle_first(l);
    c.heard = l.family->channel_request(l, n);
    c.record = decode_channel(l.s, *l.family, &c.chars);
    return c;
}

void read_tail(const Line& l) { l.family->read_tail(l); }

ReadResult lecture(const Line& l, Progress* p)
{
    ReadResult res;
    const int channels = l.family->channels;
    if (p) {
        p->start(channels + 1);
        p->step();
    }
    read_opening(l);
    for (int n = 1; n <= channels; ++n) {
        if (stop_asked(p)) {
            res.stopped = true;
            break;
        }
        res.channel[size_t(n - 1)] = channel_read(l, n);
        res.done = n;
        if (p)
            p->step();
    }
    if (!res.stopped)
        read_tail(l);
    if (p)
        p->finish();
    return res;
}

bool WriteResult::confirmed() const { return sent && readback.record && *readback.record == expected; }

void write_opening(const Line& l)
{
    idle_first(l);
    l.family->write_opening(l);
}

WriteResult write_and_read_back(const Line& l, int n, const Record& r)
{
    const Family& f = *l.family;
    WriteResult w;
    w.written = r;
    w.written.flags &= 0x0F;
    w.written.output &= 0x0F;
    w.expected = f.as_read(w.written);
    if (n < 1 || n > f.channels)
        return w;
    for (int v = 0; v < 8; ++v)
        if (r.value[size_t(v)] < 0 || r.value[size_t(v)] > f.top[size_t(v)])
            return w;
    write_opening(l);
    // Built after the opening: every send clears the symbol buffer it is made in.
    const RunList list = f.record_list(l.s, w.written);
    f.record_write(l, n, list);
    w.sent = true;
    w.readback.heard = f.read_back_request(l, n);
    w.readback.record = decode_channel(l.s, *l.family, &w.readback.chars);
    if (w.readback.record && *w.readback.record != w.expected) {
        // One differing read is not believed: the channel is read once more.
        ChannelRead again;
        again.heard = f.channel_request(l, n);
        again.record = decode_channel(l.s, *l.family, &again.chars);
        w.settled = !again.record || *again.record == w.expected || *again.record == *w.readback.record;
        w.readback = again;
        if (!w.settled)
            w.readback.record.reset();
    }
    f.after_read_back(l);
    return w;
}

std::vector<WriteResult> write_channels(const Line& l, std::span<const Write> writes, Progress* p)
{
    std::vector<WriteResult> out;
    out.reserve(writes.size());
    if (p)
        p->start(int(writes.size()));
    for (const Write& w : writes) {
        if (stop_asked(p))
            break;
        out.push_back(write_and_read_back(l, w.channel, w.record));
        if (p)
            p->step();
    }
    if (p)
        p->finish();
    return out;
}

WriteResult calibration_write(const Line& l, int n, const Record& r)
{
    WriteResult w = write_and_read_back(l, n, r);
    if (w.sent && l.family == &kRm3)
        send_command(l, 0x00, 12);
    return w;
}

namespace {
std::optional<Record> coin(const Line& l, std::span<const Step> steps, uint8_t start, bool* heard, bool* answered)
{
    idle_first(l);
    bool any = false;
    for (const Step& st : steps)
        any = send_command(l, st.c, st.wait) || any;
    if (answered)
        *answered = any;
    if (heard)
        *heard = false;
    // Nothing answered the exchanges before the coin: no mechanism to pass a
    // coin through, so no coin wait either.
    if (!any)
        return std::nullopt;
    const RunList go = command(start, 1);
    const bool got = ecrir_octet_a(l, go.view());
    if (heard)
        *heard = got;
    int chars = 0;
    const Record r = decode(l, &chars);
    if (chars < l.family->chars)
        return std::nullopt;
    return r;
}
} // namespace

std::optional<Record> test_measurement(const Line& l, int m, bool* heard, bool* answered)
{
    if (l.family == &kRm4) {
        static const Step kSteps[] = {{0x00, 11}, {0x02, 75}, {0x00, 12}, {0x00, 12}};
        return coin(l, kSteps, 0x01, heard, answered);
    }
    static const Step kSteps[] = {{0x00, 11}, {0x02, 320}, {0x00, 12}, {0x00, 12}};
    return coin(l, kSteps, uint8_t(m), heard, answered);
}

std::optional<Record> calibration_sample(const Line& l, int m, bool first, bool* heard, bool* answered)
{
    if (l.family != &kRm4)
        return test_measurement(l, m, heard, answered);
    static const Step kFirst[] = {{0x00, 15}, {0x02, 75}, {0x00, 15}, {0x00, 15}};
    static const Step kNext[] = {{0x00, 15}, {0x00, 15}};
    return first ? coin(l, kFirst, 0x01, heard, answered) : coin(l, kNext, 0x01, heard, answered);
}

} // namespace zuna::seci
