#include "nri/g13_link.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "link/rounding.h"
#include "link/timing.h"

namespace zuna::nri {

namespace {

// The characters the station sends and the stop units each row ends with:
// carriage return has none (its stop is the next entry of the list).
struct CharStop {
    uint8_t c;
    uint8_t stop;
};
constexpr CharStop kChars[] = {
    {'0', 1}, {'1', 1}, {'2', 1}, {'3', 1}, {'4', 1}, {'5', 1}, {'6', 1}, {'7', 1}, {'8', 1}, {'9', 1},
    {'/', 1}, {0x0D, 0},
    // Command letters and the two bytes that follow "A".
    {'A', 1}, {0x16, 1}, {0x18, 1}, {'I', 1}, {'U', 1}, {'Z', 1}, {'J', 1}, {'V', 1}, {'D', 1}, {'E', 1},
    {'W', 1}, {'T', 1},
};

void append(RunList& l, uint8_t c)
{
    for (uint8_t v : char_row(c))
        l.push(v);
}

uint64_t send(Station& s, const RunList& list, int first, int last)
{
    return send_runs(s, list, first, last, s.measured_module_count);
}

Exchange capture(Station& s, int64_t first_wait)
{
    return capture_runs(s, {s.measured_module_count, false, s.measured_module_count, first_wait, kG13ReplyUnits});
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

CharRuns char_runs(uint8_t byte, int stop)
{
    CharRuns r;
    int level = 0;
    uint8_t length = 1; // the start bit
    for (int b = 0; b < 8; ++b) {
        const int bit = (byte >> b) & 1;
        if (bit == level) {
            ++length;
        } else {
            r.e[size_t(r.size++)] = length;
            level = bit;
            length = 1;
        }
    }
    stop = std::clamp(stop, 0, 2);
    if (level == 1) {
        length = uint8_t(length + stop);
        r.e[size_t(r.size++)] = length;
    } else {
        r.e[size_t(r.size++)] = length;
        if (stop > 0)
            r.e[size_t(r.size++)] = uint8_t(stop);
    }
    return r;
}

void append_char(RunList& l, uint8_t byte, int stop)
{
    const CharRuns r = char_runs(byte, stop);
    for (int k = 0; k < r.size; ++k)
        l.push(r.e[size_t(k)]);
}

std::span<const uint8_t> char_row(uint8_t c)
{
    static const auto rows = [] {
        std::array<CharRuns, std::size(kChars)> t{};
        for (size_t k = 0; k < std::size(kChars); ++k)
            t[k] = char_runs(kChars[k].c, kChars[k].stop);
        return t;
    }();
    for (size_t k = 0; k < std::size(kChars); ++k)
        if (kChars[k].c == c)
            return {rows[k].e.data(), size_t(rows[k].size)};
    return {};
}

uint64_t send_runs(Station& s, const RunList& list, int first, int last, const int32_t& count)
{
    uint64_t accesses = 0;
    last = std::min(last, list.size - 1);
    for (int j = std::max(first, 0); j <= last; ++j) {
        const uint8_t level = (j % 2 == 0) ? kG13Level0 : kG13Level1;
        for (int u = 0; u < list.e[size_t(j)]; ++u) {
            hold_bit(*s.port, count, level);
            accesses += uint64_t(std::max<int64_t>(0, int64_t(count) + 1));
        }
    }
    return accesses;
}

Exchange capture_runs(Station& s, const Listening& how)
{
    Port& port = *s.port;
    Exchange x;
    if (how.by_writes) {
        hold_bit(port, how.count, kG13Level1);
        x.accesses = uint64_t(std::max<int64_t>(0, int64_t(how.count) + 1));
    } else {
        hold_bit_write_once(port, how.count, kG13Level1);
        x.accesses = 2 + uint64_t(std::max<int64_t>(0, how.count));
    }
    // The watch covers the last stretch of the wait (a stall there may have
    // cut the start bit) and the reply.
    StallWatch watch(port);
    const int64_t waited = wait_reply(port, kG13Reply, false, how.first_wait, &watch);
    x.accesses += uint64_t(waited) + 1;
    if (waited >= how.first_wait)
        return x;
    x.heard = true;
    // A unit count of 0 or less would divide by zero: take it as one read per unit.
    const int64_t unit = how.unit > 0 ? how.unit : 1;
    // A capture also stops before a new stretch once the reply has lasted
    // how.reply_units: no reply is that long, so only a noisy line gets there.
    const int64_t longest = unit * how.reply_units;
    // The mechanism sends its characters back to back: once the line has
    // been idle for kQuietUnits the reply is over, and a stall in the rest of
    // that stretch changes nothing of it. Counted in two parts, with the
    // same reads as one count.
    const int64_t quiet = unit * kQuietUnits;
    const bool split = quiet < kG13StretchLimit;
    uint64_t stalled_by_quiet = 0;
    bool ended_quiet = false;
    int64_t total = 0;
    for (int j = 0; j < kRunTableSize - 1 && total < longest; ++j) {
        int64_t n = 0;
        if (j % 2 == 1 && split) {
            n = count_while(port, kG13Reply, false, quiet);
            if (n == quiet) {
                stalled_by_quiet = watch.stalled_ns();
                n += count_while(port, kG13Reply, false, kG13StretchLimit - quiet);
            }
        } else {
            n = count_while(port, kG13Reply, j % 2 == 0, kG13StretchLimit);
        }
        total += n + 1;
        if (n >= kG13StretchLimit) {
            s.run_table[size_t(j)] = kG13StretchLimit;
            ended_quiet = j % 2 == 1 && split;
            break;
        }
        s.run_table[size_t(j)] = int32_t(div_round_even(n, unit));
    }
    x.accesses += uint64_t(total);
    // A stall inside the reply stretches or cuts a level being counted while
    // the framing may still hold: whatever it decodes to is not the reply.
    x.stalled = ended_quiet ? stalled_by_quiet > 0 : watch.stalled();
    if (x.stalled)
        s.run_table.fill(0);
    return x;
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

// ecrir_octet: the whole list, then the reply.
Exchange send_listen(Station& s, const RunList& list, int last)
{
    clear_tables(s);
    MaskedSection masked(*s.port);
    Exchange x;
    x.accesses = send(s, list, 0, last);
    x.add(listen(s, kG13LongWait));
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

bool ecrir_octet(Station& s, const RunList& list, int last) { return send_listen(s, list, last).heard; }

bool ecrir_octet_b(Station& s, const RunList& list, int last) { return send_b(s, list, last, kG13LongWait).heard; }

namespace {
Exchange send_b_a(Station& s, const RunList& list, int last)
{
    MaskedSection masked(*s.port);
    Exchange x;
    x.accesses = send(s, list, 0, last);
    x.add(listen(s, kG13LongWait));
    return x;
}
} // namespace

bool ecrir_octet_b_a(Station& s, const RunList& list, int last) { return send_b_a(s, list, last).heard; }

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
    const int32_t entry_count = s.delay.g13;
    bool stopped = false;
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
        // Between two tries: the line is idle, nothing half sent.
        if (stop_asked(progress)) {
            stopped = true;
            break;
        }
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
    // A stopped search found nothing: the count in use stays as it was.
    const int32_t result = stopped ? 0 : hi != 0 ? int32_t(round_even((int64_t(lo) + hi) * 0.5)) : lo;
    g = stopped ? entry_count : result;
    s.measured_module_count = g;
    reset(s);
    if (progress) {
        for (; steps < kG13TuneSteps; ++steps)
            progress->step();
        progress->finish();
    }
    if (outcome)
        *outcome = stopped       ? TuneOutcome::Stopped
                   : result != 0 ? TuneOutcome::Tuned
                   : heard       ? TuneOutcome::Garbled
                                 : TuneOutcome::Silent;
    return result;
}

std::string Ajust(Station& s, bool* answered, bool* garbled)
{
    const CoinWait coin_wait; // "Arrêter" may end the wait for the coin
    set_fast(s);
    const RunList w = cmd_coin_test();
    const Exchange x = send_b(s, w, 7, kG13LongWait);
    if (answered)
        *answered = x.readable();
    if (garbled)
        *garbled = x.stalled;
    decode_nb_g13(s);
    return coin_text(s.symbols);
}

std::string Ajust_a(Station& s, bool* answered, bool* garbled)
{
    const CoinWait coin_wait; // "Arrêter" may end the wait for the coin
    set_fast(s);
    const RunList t = cmd_coin_teach();
    const Exchange x = send_b_a(s, t, 6);
    if (answered)
        *answered = x.readable();
    if (garbled)
        *garbled = x.stalled;
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

// ---- One operation per window action ---------------------------------------

namespace {

const char kTuneSilent[] = "Le monnayeur ne répond pas : réglage automatique de la vitesse impossible.";
const char kTuneGarbled[] = "Le monnayeur répond, mais ses réponses sont illisibles (ligne perturbée ?) : "
                            "réglage automatique de la vitesse impossible.";
const char kTuneStopped[] = "Réglage arrêté : compte inchangé.";
const char kReadSilent[] = "Le monnayeur ne répond pas : lecture impossible.";
const char kReadGarbled[] = "Le monnayeur répond, mais ses réponses sont illisibles (ligne perturbée ?) : "
                            "lecture impossible.";
const char kReadAsG136[] = "Ce monnayeur répond comme un G13.6000 (07 36), pas comme un G13.0000 : rien n'est lu "
                           "ni écrit. Ouvrez la fenêtre NRI G13.6000.";
const char kModeNotRead[] = "Le monnayeur ne répond pas : le mode de mesure n'a pas été relu.";
const char kModeStopped[] = "Changement de mode arrêté : rien n'a été écrit.";
const char kNoCoin[] = "Aucune pièce reçue : rien n'a été mesuré.";
const char kCoinGarbled[] = "Le monnayeur répond, mais sa réponse est illisible (ligne perturbée ?) : rien n'a été "
                            "mesuré.";
const char kModeGarbled[] = "Le monnayeur répond, mais sa réponse est illisible (ligne perturbée ?) : le mode de "
                            "mesure n'a pas été lu.";
const char kIdentityGarbled[] = "Le monnayeur répond, mais sa réponse est illisible (ligne perturbée ?) : "
                                "l'identification n'a pas été lue.";
const char kTestStopped[] = "Test arrêté : aucune pièce mesurée.";
const char kWriteStopped[] = "Écriture arrêtée : rien n'a été écrit.";

// Steps of the reading's bar: the opening, mode, identity, six channels.
constexpr int kReadingSteps = 9;

template <class... A> std::string format(const char* f, A... a)
{
    char b[256];
    std::snprintf(b, sizeof b, f, a...);
    return b;
}


void add_line(std::string& text, const std::string& line)
{
    if (line.empty())
        return;
    if (!text.empty())
        text += "\n";
    text += line;
}

std::array<int, 4> values_sent(const std::array<int, 4>& v)
{
    std::array<int, 4> out{};
    for (size_t k = 0; k < 4; ++k)
        out[k] = limit_byte(v[k]);
    return out;
}

std::string digit(const std::array<uint8_t, kSymbolBufferSize>& sym, int i) { return std::to_string(sym[size_t(i)]); }

// "V" and the digit at the fast rate; the channel's two lines, absent when no
// reply came (no reply is not a record of zeros) or when it came garbled
// (*garbled, optional, then says so).
std::optional<ChannelLines> read_channel(Station& s, int channel, bool* garbled = nullptr)
{
    const RunList v = cmd_channel_read(channel);
    const Exchange x = send_b(s, v, v.last(), kG13LongWait);
    if (garbled)
        *garbled = x.stalled;
    if (!x.readable())
        return std::nullopt;
    decode_nb_g13(s);
    return ChannelLines{channel_line(s.symbols, 0), channel_line(s.symbols, 12)};
}

} // namespace

std::optional<std::string> mode_text(const std::array<uint8_t, kSymbolBufferSize>& sym)
{
    for (int j = 30; j >= 5; --j)
        if (sym[size_t(j)] != 0)
            return digit(sym, j - 1) + digit(sym, j);
    return std::nullopt;
}

std::string reprogramming_text(const std::array<uint8_t, kSymbolBufferSize>& sym)
{
    return digit(sym, 31) + digit(sym, 32) + "/" + digit(sym, 28) + digit(sym, 29) + "/" + digit(sym, 34) +
           digit(sym, 35);
}

Identity identity_text(const std::array<uint8_t, kSymbolBufferSize>& sym)
{
    Identity id;
    for (int i = 8; i <= 27; ++i)
        id.equipment += (i == 14 || i == 22) ? std::string(" ") : digit(sym, i);
    id.production = digit(sym, 3) + digit(sym, 4) + "/" + digit(sym, 0) + digit(sym, 1) + "/" + digit(sym, 6) +
                    digit(sym, 7);
    id.reprogramming = reprogramming_text(sym);
    return id;
}

std::string unconfirmed_channel(int channel, Unconfirmed why)
{
    const char* how = why == Unconfirmed::NoReadBack ? "le monnayeur ne répond pas à la relecture. Le contenu du "
                                                       "canal est inconnu, relisez le monnayeur."
                      : why == Unconfirmed::Differs  ? "la relecture diffère de ce qui a été écrit. Les valeurs "
                                                       "affichées sont celles relues."
                      : why == Unconfirmed::Illegible ? "la relecture est illisible (ligne perturbée ?). Le contenu "
                                                        "du canal est inconnu, relisez le monnayeur."
                                                     : "deux relectures ne concordent pas (ligne perturbée ?). Le "
                                                       "contenu du canal est inconnu, relisez le monnayeur.";
    return "Écriture du canal " + std::to_string(channel) + " non confirmée : " + how;
}

std::string unread_message(const std::vector<int>& channels, const std::vector<int>& garbled)
{
    std::vector<int> silent, illegible;
    for (int c : channels)
        (std::find(garbled.begin(), garbled.end(), c) != garbled.end() ? illegible : silent).push_back(c);
    auto line = [](const std::vector<int>& list, const char* why) -> std::string {
        if (list.empty())
            return {};
        std::string names;
        for (int c : list)
            names += (names.empty() ? "" : ", ") + std::to_string(c);
        return (list.size() == 1 ? "Canal " + names + " non relu" : "Canaux " + names + " non relus") + why +
               " Les valeurs affichées sont celles d'avant.";
    };
    std::string text = line(silent, " : le monnayeur ne répond pas.");
    const std::string other = line(illegible, " : le monnayeur répond, mais sa réponse est illisible (ligne "
                                              "perturbée ?).");
    if (!other.empty())
        text += (text.empty() ? "" : "\n") + other;
    return text;
}

std::string delay_refusal(const Station& s)
{
    if (s.delay.g13 >= 1)
        return "";
    return "Le compte de délai G13 vaut " + std::to_string(s.delay.g13) +
           " : il faut le calibrer (ZUNA07) avant de dialoguer avec le monayeur.";
}

Activation activate(Station& s, bool tune, Progress* progress)
{
    Activation a;
    if (s.g13_stored < 1 && s.delay.g13 < 1) {
        // No time base measured: nothing at that count is a character, and a
        // search from 0 would never get there.
        a.no_count = true;
        if (tune) // said once, where the tuning would have been tried
            a.message = delay_refusal(s);
        return a;
    }
    if (tune) {
        const int32_t before = s.delay.g13;
        TuneOutcome how = TuneOutcome::Silent;
        const int32_t g = test_v(s, progress, &how);
        if (g > 0) {
            // For this run only: counts are kept in the module memory by
            // the frequency window alone.
            s.delay.g13 = g;
            s.g13_stored = g;
            a.tuned = true;
        } else {
            // Nothing answered, or stopped: keep the count in use rather than 0.
            s.delay.g13 = before;
            a.stopped = how == TuneOutcome::Stopped;
            a.silent = how == TuneOutcome::Silent;
            a.message = a.stopped ? kTuneStopped : how == TuneOutcome::Garbled ? kTuneGarbled : kTuneSilent;
        }
    }
    if (s.g13_stored != 0)
        s.delay.g13 = s.g13_stored;
    reset(s);
    return a;
}

Reading lecture(Station& s, Progress* progress)
{
    Reading r;
    start(progress, kReadingSteps);
    reset(s);
    r.heard = ouverture(s);
    decode_nb_g13_13(s);
    r.answered = opening_answered(s);
    if (!r.answered) {
        finish(progress);
        // The G13.6000's answer to "I" is heard as the digits 0, 7, 3, 6.
        const bool g136 = s.symbols[0] == 0 && s.symbols[1] == 7 && s.symbols[2] == 3 && s.symbols[3] == 6;
        r.message = !r.heard ? kReadSilent : g136 ? kReadAsG136 : kReadGarbled;
        return r;
    }
    step(progress);
    if (stop_asked(progress)) {
        r.stopped_at = 1;
    } else {
        // Mode and identity, then the identification is closed: one group.
        const RunList hold = cmd_open_probe(107);
        set_slow(s);
        ecrir_octet_s(s, hold, hold.last());
        const RunList u = cmd_mode_read();
        r.mode_garbled = send_listen(s, u, u.last()).stalled;
        decode_nb_g13(s);
        if (!r.mode_garbled)
            r.mode = mode_text(s.symbols);
        step(progress);

        ecrir_octet_s(s, hold, hold.last());
        const RunList z = cmd_identity();
        const Exchange identity = send_listen(s, z, z.last());
        r.identity_garbled = identity.stalled;
        const RunList end = cmd_end_identification();
        ecrir_octet_s(s, end, end.last());
        set_fast(s);
        decode_nb_g13(s);
        if (identity.readable())
            r.identity = identity_text(s.symbols);
        step(progress);

        set_fast(s);
        for (int n = 1; n <= 6; ++n) {
            if (stop_asked(progress)) {
                r.stopped_at = n;
                break;
            }
            bool garbled = false;
            r.channels[size_t(n - 1)] = read_channel(s, n, &garbled);
            if (!r.channels[size_t(n - 1)])
                r.unread.push_back(n);
            if (garbled)
                r.garbled.push_back(n);
            step(progress);
        }
    }
    finish(progress);
    if (r.mode_garbled)
        add_line(r.message, kModeGarbled);
    if (r.identity_garbled)
        add_line(r.message, kIdentityGarbled);
    add_line(r.message, unread_message(r.unread, r.garbled));
    if (r.stopped_at == 6)
        add_line(r.message, "Lecture arrêtée au canal 6 : le canal 6 n'a pas été relu, "
                            "ses valeurs affichées sont celles d'avant.");
    else if (r.stopped_at != 0)
        add_line(r.message, format("Lecture arrêtée au canal %d : les canaux %d à 6 n'ont pas été relus, "
                                   "leurs valeurs affichées sont celles d'avant.",
                                   r.stopped_at, r.stopped_at));
    return r;
}

CoinTest coin_test(Station& s, Progress* progress)
{
    CoinTest c;
    if (stop_asked(progress)) {
        c.stopped = true;
        c.message = kTestStopped;
        return c;
    }
    bool garbled = false;
    const std::string text = Ajust(s, &c.measured, &garbled);
    if (c.measured) {
        c.text = text;
        c.values = parse_values(text);
    } else {
        // Without a readable reply nothing was measured: no channel holds the coin.
        c.message = garbled ? kCoinGarbled : kNoCoin;
    }
    return c;
}

Collect collect_coins(Station& s, int count, const std::array<int, 4>& largest, const std::array<int, 4>& smallest,
                      Progress* progress)
{
    Collect c;
    c.largest = largest;
    c.smallest = smallest;
    start(progress, count);
    for (int i = 1; i <= count; ++i) {
        if (stop_asked(progress)) {
            c.stopped = true;
            c.message = format("Lecture arrêtée après %d pièce(s).", c.measured);
            break;
        }
        bool coin = false, garbled = false;
        const std::array<int, 4> v = parse_values(Ajust_a(s, &coin, &garbled));
        if (garbled) {
            // A coin came, but its measurement is unreadable: it is not counted.
            c.message = format("Le monnayeur répond, mais sa réponse est illisible (ligne perturbée ?) : lecture "
                               "arrêtée après %d pièce(s).",
                               c.measured);
            break;
        }
        if (!coin) {
            // No coin within the wait: the symbols are those of an older
            // reply, not a measurement. Stop rather than count them.
            c.no_coin = true;
            c.message = format("Pas de pièce reçue : lecture arrêtée après %d pièce(s).", c.measured);
            break;
        }
        ++c.measured;
        c.last = v;
        c.coins.push_back(v);
        for (size_t k = 0; k < 4; ++k) {
            c.largest[k] = std::max(c.largest[k], v[k]);
            c.smallest[k] = std::min(c.smallest[k], v[k]);
        }
        step(progress);
    }
    finish(progress);
    return c;
}

ChannelWrite write_channel(Station& s, int channel, const std::array<int, 4>& maxima,
                           const std::array<int, 4>& minima, int32_t units, Date today, Progress* progress)
{
    ChannelWrite w;
    w.channel = channel;
    if (stop_asked(progress)) {
        w.stopped = true;
        w.message = kWriteStopped;
        return w;
    }
    // From here on no stop: the write runs to its read-back.
    const bool selected = channel >= 1 && channel <= 6;
    start(progress, selected ? 6 : 5);
    s.measured_module_count = units;
    if (selected) {
        const RunList d = cmd_channel_select(channel);
        ecrir_octet_s(s, d, d.last());
        step(progress);
    }
    for (const auto& line : {maxima, minima}) {
        const RunList values = cmd_values(line);
        ecrir_octet_s(s, values, values.last());
        step(progress);
    }
    const RunList date = cmd_date(today.month, today.day, today.year);
    ecrir_octet_s(s, date, date.last());
    step(progress);
    const RunList z = cmd_identity();
    if (send_listen(s, z, z.last()).readable())
        w.reprogramming = reprogramming_text(s.symbols);
    step(progress);
    set_fast(s);
    if (selected) {
        bool garbled = false;
        w.read_back = read_channel(s, channel, &garbled);
        auto as_written = [&](const ChannelLines& l) {
            return parse_values(l.upper) == values_sent(maxima) && parse_values(l.lower) == values_sent(minima);
        };
        w.confirmed = w.read_back && as_written(*w.read_back);
        if (garbled) {
            // A garbled read-back is read once more, as one that differs:
            // only a readable second read as written confirms the write.
            const std::optional<ChannelLines> again = read_channel(s, channel);
            w.confirmed = again && as_written(*again);
            if (w.confirmed)
                w.read_back = again;
            else
                w.message = unconfirmed_channel(channel, Unconfirmed::Illegible);
        } else if (!w.read_back) {
            w.message = unconfirmed_channel(channel, Unconfirmed::NoReadBack);
        } else if (!w.confirmed) {
            // Believed only when a second read gives the same lines.
            const std::optional<ChannelLines> again = read_channel(s, channel);
            if (again && again->upper == w.read_back->upper && again->lower == w.read_back->lower) {
                w.message = unconfirmed_channel(channel, Unconfirmed::Differs);
            } else {
                w.read_back.reset();
                w.message = unconfirmed_channel(channel, Unconfirmed::ReadsDisagree);
            }
        }
        w.unread = !w.read_back;
        step(progress);
    }
    finish(progress);
    return w;
}

ModeWrite write_mode(Station& s, int mode, Progress* progress)
{
    ModeWrite m;
    if (stop_asked(progress)) {
        m.stopped = true;
        m.message = kModeStopped;
        return m;
    }
    // No stop from here on: the write runs to its read-back.
    start(progress, 2);
    const RunList hold = cmd_open_probe(107);
    reset(s);
    set_slow(s);
    ecrir_octet_s(s, hold, hold.last());
    const RunList j = cmd_mode_write(mode);
    ecrir_octet_s(s, j, j.last());
    step(progress);
    reset(s);
    set_slow(s);
    ecrir_octet_s(s, hold, hold.last());
    const RunList u = cmd_mode_read();
    const Exchange x = send_listen(s, u, u.last());
    m.read = x.readable();
    m.garbled = x.stalled;
    decode_nb_g13(s);
    if (m.read)
        m.mode = mode_text(s.symbols);
    ecrir_octet_s(s, hold, hold.last());
    const RunList end = cmd_end_identification();
    ecrir_octet_s(s, end, end.last());
    set_fast(s);
    step(progress);
    finish(progress);
    m.confirmed = m.mode == format("%02d", std::clamp(mode, 0, 99));
    if (m.garbled)
        m.message = "Le monnayeur répond, mais sa réponse est illisible (ligne perturbée ?) : le mode de mesure n'a "
                    "pas été relu.";
    else if (!m.read)
        m.message = kModeNotRead;
    else if (!m.confirmed)
        m.message = format("Mode de mesure non confirmé : le monnayeur relit %s au lieu de %02d.",
                           m.mode ? m.mode->c_str() : "00", std::clamp(mode, 0, 99));
    return m;
}

void close_link(Station& s) { reset(s); }

} // namespace zuna::nri
