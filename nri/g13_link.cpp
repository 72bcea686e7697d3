#include "nri/g13_link.h"

#include <algorithm>
#include <cctype>

#include "link/rounding.h"
#include "link/timing.h"

namespace zuna::nri {

namespace {

// What an exchange took and whether anything came back: port accesses (one
// tick of port time each), and whether a capture saw a start bit.
struct Exchange {
    bool heard = false;
    uint64_t accesses = 0;
    void add(const Exchange& o)
    {
        heard = heard || o.heard;
        accesses += o.accesses;
    }
};

struct CharRow {
    uint8_t c;
    uint8_t n;
    uint8_t runs[10];
};

// Run lists of the characters the station sends, each ending with its stop
// bit, except carriage return whose stop bit is the next entry of the list.
constexpr CharRow kRows[] = {
    {'0', 4, {5, 2, 2, 1}},
    {'1', 6, {1, 1, 3, 2, 2, 1}},
    {'2', 6, {2, 1, 2, 2, 2, 1}},
    {'3', 6, {1, 2, 2, 2, 2, 1}},
    {'4', 6, {3, 1, 1, 2, 2, 1}},
    {'5', 8, {1, 1, 1, 1, 1, 2, 2, 1}},
    {'6', 6, {2, 2, 1, 2, 2, 1}},
    {'7', 6, {1, 3, 1, 2, 2, 1}},
    {'8', 4, {4, 3, 2, 1}},
    {'9', 6, {1, 1, 2, 3, 2, 1}},
    {'/', 6, {1, 4, 1, 1, 2, 1}},
    {0x0D, 5, {1, 1, 1, 2, 4}},
    // Command letters and the two bytes that follow "A".
    {'A', 6, {1, 1, 5, 1, 1, 1}},
    {0x16, 6, {2, 2, 1, 1, 3, 1}},
    {0x18, 4, {4, 2, 3, 1}},
    {'I', 8, {1, 1, 2, 1, 2, 1, 1, 1}},
    {'U', 10, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
    {'Z', 8, {2, 1, 1, 2, 1, 1, 1, 1}},
    {'J', 8, {2, 1, 1, 1, 2, 1, 1, 1}},
    {'V', 8, {2, 2, 1, 1, 1, 1, 1, 1}},
    {'D', 6, {3, 1, 3, 1, 1, 1}},
    {'E', 8, {1, 1, 1, 1, 3, 1, 1, 1}},
    {'W', 8, {1, 3, 1, 1, 1, 1, 1, 1}},
    {'T', 8, {3, 1, 1, 1, 1, 1, 1, 1}},
};

void append(RunList& l, uint8_t c)
{
    for (uint8_t v : char_row(c))
        l.push(v);
}

// The line stays at level 1 for `units` after the last data bit: the stop
// entry of the last row becomes the hold.
void hold(RunList& l, uint8_t units)
{
    if (l.size > 0 && (l.size - 1) % 2 == 1)
        l.e[l.size - 1] = units;
    else
        l.push(units);
}

void append_digits(RunList& l, int value, int digits)
{
    int div = 1;
    for (int i = 1; i < digits; ++i)
        div *= 10;
    for (; div > 0; div /= 10)
        append(l, uint8_t('0' + (value / div) % 10));
}

int limit_byte(int v) { return std::clamp(v, 0, 255); }

// Sends entries first..last of a run list, one unit at a time; the unit count
// is read at each unit so a rate change applies at once. Returns the number of
// port accesses made.
uint64_t send(Station& s, const RunList& list, int first, int last)
{
    uint64_t accesses = 0;
    last = std::min(last, list.size - 1);
    for (int j = std::max(first, 0); j <= last; ++j) {
        const uint8_t level = (j % 2 == 0) ? kG13Level0 : kG13Level1;
        for (int u = 0; u < list.e[j]; ++u) {
            ecrir_bit_2(s, level);
            accesses += uint64_t(std::max<int64_t>(0, int64_t(s.measured_module_count) + 1));
        }
    }
    return accesses;
}

// The listening start, the wait for the start bit and the stretch counts.
// A capture also stops before a new stretch once the reply has lasted
// kG13ReplyUnits: no reply of this link is that long, so only a noisy line
// gets there.
Exchange capture(Station& s, int64_t first_wait)
{
    Port& port = *s.port;
    Exchange x;
    ecrir_bit(s, kG13Level1);
    x.accesses = 2 + uint64_t(std::max<int64_t>(0, s.measured_module_count));
    const int64_t waited = count_while(port, kG13Reply, false, first_wait);
    x.accesses += uint64_t(waited) + 1;
    if (waited >= first_wait)
        return x;
    x.heard = true;
    // A unit count of 0 or less would divide by zero: take it as one read per unit.
    const int64_t unit = s.measured_module_count > 0 ? s.measured_module_count : 1;
    const int64_t longest = unit * kG13ReplyUnits;
    int64_t total = 0;
    for (int j = 0; j < kRunTableSize - 1 && total < longest; ++j) {
        const int64_t n = count_while(port, kG13Reply, j % 2 == 0, kG13StretchLimit);
        total += n + 1;
        if (n >= kG13StretchLimit) {
            s.run_table[j] = kG13StretchLimit;
            break;
        }
        s.run_table[j] = int32_t(div_round_even(n, unit));
    }
    x.accesses += uint64_t(total);
    return x;
}

inline int32_t entry(const std::array<int32_t, kRunTableSize>& runs, int64_t k)
{
    return (k >= 0 && k < kRunTableSize) ? runs[size_t(k)] : 0;
}

void decode(const std::array<int32_t, kRunTableSize>& runs, std::array<uint8_t, kSymbolBufferSize>& sym, bool keep13)
{
    std::fill(sym.begin(), sym.begin() + kG13Symbols, 0);
    // Nothing captured (the tables were cleared and no reply came): only
    // zeros, not the ones that the empty stretches would read as. A reply
    // whose first stretches round to 0 (a glitch before the start bit) is
    // still decoded: the sync search skips them.
    if (std::all_of(runs.begin(), runs.end(), [](int32_t v) { return v == 0; }))
        return;
    int64_t i = 0;
    int64_t r = cherche_sync(runs);
    int n = 0;
    auto next = [&] {
        ++i;
        r = entry(runs, i);
    };
    for (;;) {
        if (i >= kG13DecodeStretches || n > kG13Symbols - 1)
            return;
        if (r == 0)
            next();
        int v = 0;
        for (int b = 0; b < 4; ++b) {
            if (i % 2 == 1)
                v |= 1 << b;
            --r;
            if (r == 0)
                next();
        }
        if (keep13 && v == 13)
            sym[size_t(n++)] = 13;
        if (v != 13) {
            i += (r > 0 && i % 2 == 1) ? 3 : 4;
            r = int64_t(entry(runs, i)) - 1;
        }
        if (v <= 9 || v == 15) {
            sym[size_t(n++)] = uint8_t(v);
        } else {
            for (int b = 0; b < 4; ++b) {
                if (r == 0)
                    next();
                --r;
            }
            if (r == 0)
                next();
            if (r <= 0 || r > 10000 || n > kG13Symbols - 1)
                return;
            ++i;
            r = int64_t(entry(runs, i)) - 1;
        }
        if (i >= kG13DecodeStretches)
            return;
    }
}

std::string digits_text(const std::array<uint8_t, kSymbolBufferSize>& symbols, int first, bool trailing)
{
    std::string t;
    for (int g = 0; g < 4; ++g) {
        for (int k = 0; k < 3; ++k)
            t += std::to_string(symbols[size_t(first + 3 * g + k)]);
        if (trailing || g < 3)
            t += "  ";
    }
    return t;
}

} // namespace

std::span<const uint8_t> char_row(uint8_t c)
{
    for (const CharRow& r : kRows)
        if (r.c == c)
            return {r.runs, r.n};
    return {};
}

RunList cmd_reset()
{
    RunList l;
    append(l, 'A');
    append(l, 0x16);
    hold(l, 255);
    return l;
}

RunList cmd_open_probe(uint8_t units)
{
    RunList l;
    append(l, 'I');
    hold(l, units);
    return l;
}

RunList cmd_open()
{
    RunList l;
    append(l, 'I');
    return l;
}

RunList cmd_mode_read()
{
    RunList l;
    append(l, 'U');
    return l;
}

RunList cmd_identity()
{
    RunList l;
    append(l, 'Z');
    return l;
}

RunList cmd_end_identification()
{
    RunList l;
    append(l, 'A');
    append(l, 0x18);
    hold(l, 255);
    return l;
}

RunList cmd_mode_write(int mode)
{
    RunList l;
    append(l, 'J');
    append_digits(l, std::clamp(mode, 0, 99), 2);
    l.push(60); // even position: the line then stays at level 0
    return l;
}

RunList cmd_channel_read(int channel)
{
    RunList l;
    append(l, 'V');
    append(l, uint8_t('0' + std::clamp(channel, 0, 9)));
    return l;
}

RunList cmd_channel_select(int channel)
{
    RunList l;
    append(l, 'D');
    append(l, uint8_t('0' + std::clamp(channel, 0, 9)));
    hold(l, 90);
    return l;
}

RunList cmd_values(const std::array<int, 4>& values)
{
    RunList l;
    for (int v : values)
        append_digits(l, limit_byte(v), 3);
    append(l, 0x0D);
    hold(l, 60);
    return l;
}

RunList cmd_date(int month, int day, int year)
{
    RunList l;
    append(l, 'E');
    append_digits(l, std::clamp(month, 0, 99), 2);
    append(l, '/');
    append_digits(l, std::clamp(day, 0, 99), 2);
    append(l, '/');
    append_digits(l, ((year % 100) + 100) % 100, 2);
    append(l, 0x0D);
    hold(l, 255);
    return l;
}

RunList cmd_coin_test()
{
    RunList l;
    append(l, 'W');
    return l;
}

RunList cmd_coin_teach()
{
    RunList l;
    append(l, 'T');
    --l.size; // ends on its last data bit: the listening start is the stop bit
    return l;
}

int32_t slow_units(const Station& s) { return s.delay.g13; }

int32_t fast_units(const Station& s) { return int32_t(round_even(s.delay.g13 * 0.25)); }

int32_t model_write_units(const Station& s)
{
    return int32_t(round_even(s.delay.g13 * 0.25) - round_even(s.delay.g13 * 0.25 * 2 * 0.01));
}

void ecrir_bit_2(Station& s, uint8_t value) { hold_bit(*s.port, s.measured_module_count, value); }

void ecrir_bit(Station& s, uint8_t value) { hold_bit_write_once(*s.port, s.measured_module_count, value); }

void clear_tables(Station& s)
{
    s.run_table.fill(0);
    s.symbols.fill(0);
}

namespace {

uint64_t send_masked(Station& s, const RunList& list, int last)
{
    MaskedSection masked(*s.port);
    return send(s, list, 0, last);
}

Exchange listen(Station& s, int64_t first_wait)
{
    const Exchange x = capture(s, first_wait);
    if (x.heard)
        decode_nb_g13(s);
    return x;
}

// ecrir_octet_b with the wait for the reply given.
Exchange send_b(Station& s, const RunList& list, int last, int64_t first_wait)
{
    clear_tables(s);
    MaskedSection masked(*s.port);
    Exchange x;
    x.accesses = send(s, list, 0, last - 1);
    x.add(listen(s, first_wait));
    x.accesses += send(s, list, last, last);
    return x;
}

uint64_t reset_frames(Station& s)
{
    set_fast(s);
    const RunList frame = cmd_reset();
    MaskedSection masked(*s.port);
    return send_masked(s, frame, frame.last()) + send_masked(s, frame, frame.last());
}

// The opening sequence, waiting `reply_wait` reads for the answer to "I".
Exchange open_sequence(Station& s, int64_t reply_wait)
{
    static const uint8_t kProbes[] = {39, 18, 1};
    Exchange x;
    set_fast(s);
    for (uint8_t h : kProbes) {
        const RunList probe = cmd_open_probe(h);
        x.accesses += send_masked(s, probe, probe.last());
    }
    x.add(capture(s, kG13ShortWait));

    set_slow(s);
    const RunList probe = cmd_open_probe(1);
    x.accesses += send_masked(s, probe, probe.last());
    x.add(capture(s, kG13ShortWait));

    set_fast(s);
    const RunList frame = cmd_reset();
    x.accesses += send_masked(s, frame, frame.last());

    set_slow(s);
    const RunList open = cmd_open();
    x.add(send_b(s, open, 7, reply_wait));
    x.add(capture(s, kG13ShortWait));

    set_fast(s);
    x.accesses += send_masked(s, frame, frame.last());
    return x;
}

} // namespace

void ecrir_octet_s(Station& s, const RunList& list, int last) { send_masked(s, list, last); }

bool ecrir_octet(Station& s, const RunList& list, int last)
{
    clear_tables(s);
    MaskedSection masked(*s.port);
    send(s, list, 0, last);
    return lit_g13(s);
}

bool ecrir_octet_b(Station& s, const RunList& list, int last) { return send_b(s, list, last, kG13LongWait).heard; }

bool ecrir_octet_b_a(Station& s, const RunList& list, int last)
{
    MaskedSection masked(*s.port);
    send(s, list, 0, last);
    return lit_g13(s);
}

bool lit_g13(Station& s) { return listen(s, kG13LongWait).heard; }

bool lit_g13_r(Station& s) { return capture(s, kG13ShortWait).heard; }

bool lit_g13_rt(Station& s) { return capture(s, kG13ShortWait).heard; }

int cherche_sync(const std::array<int32_t, kRunTableSize>& runs)
{
    // The last five units of a character "0" to "?" (data bits 4..7 = 1100,
    // stop bit 1) are 0xF9 in the shift register once its top bits are forced.
    int64_t k = 1;
    int64_t r = entry(runs, 1);
    if (r == 0) {
        k = 2;
        r = entry(runs, 2);
        if (r == 0)
            return 0;
    }
    uint8_t a = 0;
    auto shift = [&] { a = uint8_t((a << 1) | (k % 2 == 1 ? 1 : 0)); };
    for (int t = 0; t < 5; ++t) {
        if (r > 0) {
            shift();
            --r;
        }
    }
    a |= 0xE0;
    while (a != 0xF9) {
        if (r == 0) {
            ++k;
            // The end of the captured stretches without a character: no sync.
            if (k >= kRunTableSize)
                return 0;
            r = entry(runs, k);
        }
        if (r > 0) {
            // A stretch of zeros leaves 0xE0 as it is and a run of five ones
            // gives 0xFF: skip what cannot change the outcome.
            if (k % 2 == 0 && a == 0xE0) {
                r = 0;
                continue;
            }
            shift();
            --r;
        } else if (r < 0) {
            return 0; // a negative stretch never reaches 0: nothing more to find
        }
        a |= 0xE0;
        if (a == 0xFF)
            return 0;
    }
    if (r == entry(runs, k))
        --k;
    uint8_t c = uint8_t(9 - uint8_t(entry(runs, k)) - uint8_t(entry(runs, k - 1)) - uint8_t(entry(runs, k - 2)));
    if (entry(runs, k - 3) < int32_t(c))
        c = uint8_t(c - uint8_t(entry(runs, k - 3)) - uint8_t(entry(runs, k - 4)));
    return c;
}

void decode_nb_g13(const std::array<int32_t, kRunTableSize>& runs, std::array<uint8_t, kSymbolBufferSize>& symbols)
{
    decode(runs, symbols, false);
}

void decode_nb_g13_13(const std::array<int32_t, kRunTableSize>& runs, std::array<uint8_t, kSymbolBufferSize>& symbols)
{
    decode(runs, symbols, true);
}

void reset(Station& s) { reset_frames(s); }

bool ouverture(Station& s) { return open_sequence(s, kG13LongWait).heard; }

bool opening_answered(const Station& s) { return s.symbols[1] == 13; }

int32_t test_v(Station& s, Progress* progress, TuneOutcome* outcome)
{
    int32_t lo = 0;
    int32_t hi = 0;
    bool heard = false;
    // Port accesses spent climbing without a good answer: a silent, unplugged
    // or garbling mechanism ends the climb once they reach the budget.
    uint64_t unanswered = 0;
    clear_tables(s);
    reset(s);
    if (progress)
        progress->start(kG13TuneSteps);
    int steps = 0;
    int32_t& g = s.delay.g13;
    do {
        if (progress && steps < kG13TuneSteps) {
            progress->step();
            ++steps;
        }
        Exchange x;
        {
            MaskedSection masked(*s.port);
            // While climbing, the answer to "I" is awaited as long as the
            // probes' answers: it comes within a few bit times or not at all.
            x = open_sequence(s, lo == 0 ? kG13ShortWait : kG13LongWait);
            decode_nb_g13_13(s);
        }
        heard = heard || x.heard;
        if (s.symbols[1] == 13 && s.symbols[0] == 0) {
            if (lo == 0)
                lo = g;
            else
                hi = g;
            if (hi == 0)
                g += 350;
        } else if (lo == 0) {
            unanswered += x.accesses;
        }
        if (lo == 0)
            g += 10;
        else
            g -= 10;
    } while (lo <= g && g <= kG13TuneLimit && hi == 0 && unanswered < kG13TuneBudget);
    // Without a second answer the band's top is unknown: lo itself answered.
    const int32_t result = hi != 0 ? int32_t(round_even((int64_t(lo) + hi) * 0.5)) : lo;
    g = result;
    s.measured_module_count = result;
    reset(s);
    if (progress) {
        for (; steps < kG13TuneSteps; ++steps)
            progress->step();
        progress->finish();
    }
    if (outcome)
        *outcome = result != 0 ? TuneOutcome::Tuned : heard ? TuneOutcome::Garbled : TuneOutcome::Silent;
    return result;
}

std::string Ajust(Station& s, bool* answered)
{
    set_fast(s);
    const RunList w = cmd_coin_test();
    const bool got = ecrir_octet_b(s, w, 7);
    if (answered)
        *answered = got;
    decode_nb_g13(s);
    return coin_text(s.symbols);
}

std::string Ajust_a(Station& s, bool* answered)
{
    set_fast(s);
    const RunList t = cmd_coin_teach();
    const bool got = ecrir_octet_b_a(s, t, 6);
    if (answered)
        *answered = got;
    decode_nb_g13(s);
    return coin_text(s.symbols);
}

std::string channel_line(const std::array<uint8_t, kSymbolBufferSize>& symbols, int first)
{
    return digits_text(symbols, first, true);
}

std::string coin_text(const std::array<uint8_t, kSymbolBufferSize>& symbols)
{
    std::string t = digits_text(symbols, 0, false);
    if (t.size() > 19)
        t.resize(19);
    return t;
}

std::array<int, 4> parse_values(const std::string& text)
{
    std::array<int, 4> v{};
    size_t p = 0;
    for (int g = 0; g < 4; ++g) {
        while (p < text.size() && text[p] == ' ')
            ++p;
        long n = 0;
        bool any = false;
        while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p]))) {
            n = std::min<long>(n * 10 + (text[p] - '0'), 100000);
            any = true;
            ++p;
        }
        while (p < text.size() && text[p] != ' ')
            ++p; // anything else in a group ends it
        v[size_t(g)] = any ? limit_byte(int(n)) : 0;
    }
    return v;
}

} // namespace zuna::nri
