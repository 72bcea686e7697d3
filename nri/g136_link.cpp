#include "nri/g136_link.h"

#include <algorithm>
#include <cstdio>

#include "link/timing.h"

namespace zuna::nri::g136 {

namespace {

constexpr int kStop = 2; // every character the G13.6000 is sent ends with two stop units

void append(RunList& l, char c, int stop = kStop) { append_char(l, uint8_t(c), stop); }

// The line stays at level 1 for `units` after the last data bit.
void hold(RunList& l, uint8_t units)
{
    if (l.size > 0 && (l.size - 1) % 2 == 1)
        l.e[size_t(l.size - 1)] = units;
    else
        l.push(units);
}

int byte_of(int v) { return std::clamp(v, 0, 255); }

} // namespace

char hex_char(int digit)
{
    digit &= 15;
    return char(digit < 10 ? '0' + digit : 'A' + digit - 10);
}

RunList cmd_open(uint8_t units)
{
    RunList l;
    append(l, 'I');
    hold(l, units);
    return l;
}

RunList cmd_separator(uint8_t units)
{
    RunList l;
    append(l, 'X');
    hold(l, units);
    return l;
}

RunList cmd_block_read(int address)
{
    RunList l;
    append(l, hex_char(address >> 4));
    append(l, hex_char(address), 1);
    return l;
}

RunList cmd_select(uint8_t units)
{
    RunList l;
    append(l, 'Z', 1);
    hold(l, units);
    return l;
}

RunList cmd_address(int address)
{
    RunList l;
    append(l, hex_char(address >> 4));
    append(l, hex_char(address));
    return l;
}

RunList cmd_byte(int value) { return cmd_digits(value >> 4, value); }

RunList cmd_digits(int high, int low)
{
    RunList l;
    append(l, hex_char(high));
    append(l, hex_char(low));
    return l;
}

RunList cmd_coin_test()
{
    RunList l;
    append(l, 'W', 1);
    return l;
}

RunList cmd_coin_teach()
{
    RunList l;
    append(l, 'T', 1);
    return l;
}

RunList cmd_e9()
{
    RunList l;
    append_char(l, 0xE9, 0);
    hold(l, 50);
    return l;
}

// ---- Line operations ------------------------------------------------------

namespace {

Exchange capture(Station& s)
{
    return capture_runs(s, {s.delay.g136, true, s.delay.g136, kLongWait, kReplyUnits});
}

} // namespace

void ecrir_bit_2(Station& s, uint8_t value) { hold_bit(*s.port, s.delay.g136, value); }

void ecrir_octet_s(Station& s, const RunList& list, int last)
{
    MaskedSection masked(*s.port);
    send_runs(s, list, 0, last, s.delay.g136);
}

bool ecrir_octet_b(Station& s, const RunList& list, int last)
{
    clear_tables(s);
    MaskedSection masked(*s.port);
    send_runs(s, list, 0, last - 1, s.delay.g136);
    const bool heard = capture(s).heard;
    send_runs(s, list, last, last, s.delay.g136);
    return heard;
}

bool ecrir_octet_b_a(Station& s, const RunList& list, int last)
{
    clear_tables(s);
    MaskedSection masked(*s.port);
    send_runs(s, list, 0, last, s.delay.g136);
    return capture(s).heard;
}

bool lit_g13(Station& s)
{
    MaskedSection masked(*s.port);
    return capture(s).heard;
}

// ---- Decoders --------------------------------------------------------------

int hexval(uint8_t v)
{
    if (v <= 9)
        return v;
    if (v >= 17 && v <= 22)
        return v - 7;
    return 16;
}

namespace {

// Reads characters of 10 units (start, eight data bits, stop) from the run
// table. The shift register carries over from one character to the next.
class CharReader {
public:
    explicit CharReader(const std::array<int32_t, kRunTableSize>& runs) : runs_(runs) {}

    // The next character's digit (0..16), or -1 when decoding ends.
    int next()
    {
        for (;;) {
            if (i_ >= kDecodeStretches)
                return -1;
            if (entry(i_) > kDecodeEnd)
                return -1;
            // Idle between two characters (a reply with gaps, or a stop bit
            // read a unit long): no character starts at level 1, so move on
            // to the next start bit. Replies without gaps never get here.
            if (i_ % 2 == 1) {
                ++i_;
                continue;
            }
            break;
        }
        const int64_t begin = i_;
        int64_t r = entry(i_);
        if (r == 0)
            r = 1;
        for (int u = 0; u < 9; ++u) {
            if (i_ % 2 == 1)
                sr_ |= 0x400;
            sr_ >>= 1;
            --r;
            if (r == 0) {
                ++i_;
                r = entry(i_);
                if (r == 0)
                    r = 1;
            }
        }
        if (i_ % 2 == 1) {
            sr_ |= 0x400;
            sr_ >>= 1;
            --r;
        }
        if (r == 0)
            ++i_;
        // A character that never left its first stretch began on a break or
        // on the idle line: what is left of that stretch is no character.
        if (i_ == begin)
            ++i_;
        const int d = int(sr_) - 0x260;
        int v = d >> 1; // halves to even
        if ((d & 1) && (v & 1))
            ++v;
        return hexval(uint8_t(v));
    }

private:
    int32_t entry(int64_t k) const { return k >= 0 && k < kRunTableSize ? runs_[size_t(k)] : 0; }

    const std::array<int32_t, kRunTableSize>& runs_;
    int64_t i_ = 0;
    uint16_t sr_ = 0;
};

bool empty(const std::array<int32_t, kRunTableSize>& runs)
{
    return std::all_of(runs.begin(), runs.begin() + kDecodeStretches + 1, [](int32_t v) { return v == 0; });
}

} // namespace

int decode_g136(const std::array<int32_t, kRunTableSize>& runs, std::array<uint8_t, kSymbolBufferSize>& symbols)
{
    std::fill(symbols.begin(), symbols.begin() + kSymbols, 0);
    // Nothing captured (the tables were cleared and no reply came): no symbols.
    if (empty(runs))
        return 0;
    CharReader reader(runs);
    int n = 0;
    int high = -1;
    for (int h; n < kSymbols && (h = reader.next()) >= 0;) {
        if (high < 0) {
            if (h < 16)
                high = h * 16;
        } else {
            symbols[size_t(n++)] = uint8_t((high + h) & 0xFF);
            high = -1;
        }
    }
    return n;
}

int decode_g136_s(const std::array<int32_t, kRunTableSize>& runs, std::array<uint8_t, kSymbolBufferSize>& symbols)
{
    std::fill(symbols.begin(), symbols.begin() + kSymbols, 0);
    if (empty(runs))
        return 0;
    CharReader reader(runs);
    int n = 0;
    for (int h; n < kSymbols && (h = reader.next()) >= 0;)
        symbols[size_t(n++)] = uint8_t(h);
    return n;
}

// ---- One operation per window action ---------------------------------------

namespace {

const char kSilent[] = "Le monayeur ne répond pas.";
const char kGarbled[] = "Le monnayeur répond, mais ses réponses sont illisibles (ligne perturbée ?).";
const char kAnsweredAsG13[] = "Ce monnayeur répond comme un G13.0000 (« 0= »), pas comme un G13.6000 : rien n'est "
                             "lu ni écrit. Ouvrez la fenêtre NRI G13.0000.";
const char kNoCoin[] = "Aucune pièce reçue : rien n'a été mesuré.";
const char kTestStopped[] = "Test arrêté : aucune pièce mesurée.";
const char kWriteStopped[] = "Écriture arrêtée : rien n'a été écrit.";

template <class... A> std::string format(const char* f, A... a)
{
    char b[320];
    std::snprintf(b, sizeof b, f, a...);
    return b;
}

} // namespace

void idle_line(Station& s)
{
    for (int u = 0; u < kLeadUnits; ++u)
        g136::ecrir_bit_2(s, kG13Level1);
}

namespace {

void separator(Station& s, uint8_t units)
{
    const RunList x = cmd_separator(units);
    g136::ecrir_octet_s(s, x, x.last());
}

// The block read itself (no separator before it): absent unless `bytes`
// bytes came back.
std::optional<std::vector<int>> block_bytes(Station& s, int address, int bytes, bool* heard = nullptr)
{
    const RunList a = cmd_block_read(address);
    const bool got = g136::ecrir_octet_b(s, a, a.last());
    if (heard)
        *heard = *heard || got;
    if (!got)
        return std::nullopt;
    if (decode_g136(s) < bytes)
        return std::nullopt;
    return std::vector<int>(s.symbols.begin(), s.symbols.begin() + bytes);
}

std::optional<Selectors> selector_digits(Station& s, bool* heard = nullptr)
{
    const RunList a = cmd_block_read(0x13);
    const bool got = g136::ecrir_octet_b(s, a, a.last());
    if (heard)
        *heard = *heard || got;
    if (!got)
        return std::nullopt;
    if (decode_g136_s(s) < kSelectorDigits)
        return std::nullopt;
    Selectors d{};
    std::copy(s.symbols.begin(), s.symbols.begin() + kSelectorDigits, d.begin());
    return d;
}

std::optional<Block> to_block(const std::optional<std::vector<int>>& v)
{
    if (!v)
        return std::nullopt;
    Block b{};
    std::copy(v->begin(), v->begin() + kTableBytes, b.begin());
    return b;
}

Block limited(const Block& b)
{
    Block out{};
    for (size_t k = 0; k < b.size(); ++k)
        out[k] = byte_of(b[k]);
    return out;
}

// "Z" (its hold), the address, then the frames.
void write_frames(Station& s, uint8_t select_hold, int address, const std::vector<RunList>& frames)
{
    const RunList z = cmd_select(select_hold);
    g136::ecrir_octet_s(s, z, z.last());
    const RunList a = cmd_address(address);
    g136::ecrir_octet_s(s, a, a.last());
    for (const RunList& f : frames)
        g136::ecrir_octet_s(s, f, f.last());
}

void send_block(Station& s, int channel, const Block& b)
{
    std::vector<RunList> frames;
    for (int v : b)
        frames.push_back(cmd_byte(v));
    write_frames(s, 1, channel + 2, frames);
    separator(s, 12);
}

// The block write and its read-back; no stop from the first frame on. A
// read-back that differs from what was sent is read once more: it is shown
// only when both reads agree, else the channel's content is unknown.
ChannelWrite block_write(Station& s, int channel, const Block& block)
{
    ChannelWrite w;
    w.channel = channel;
    if (channel < 1 || channel > kChannels) {
        w.message = format("Canal %d : il n'y a pas de tel canal (1 à 12), rien n'a été écrit.", channel);
        return w;
    }
    const Block sent = limited(block);
    send_block(s, channel, sent);
    w.sent = true;
    bool heard = false;
    w.read_back = to_block(block_bytes(s, channel + 2, kTableBytes, &heard));
    w.confirmed = w.read_back && *w.read_back == sent;
    if (!w.read_back && heard) {
        // A read-back heard but unreadable is read once more, as one that
        // differs: only a second read as written confirms the write.
        separator(s, 12);
        const std::optional<Block> again = to_block(block_bytes(s, channel + 2, kTableBytes));
        w.confirmed = again == sent;
        if (w.confirmed)
            w.read_back = again;
        else
            w.message = unconfirmed_channel(channel, Unconfirmed::Illegible);
    } else if (!w.read_back) {
        w.message = unconfirmed_channel(channel, Unconfirmed::NoReadBack);
    } else if (!w.confirmed) {
        separator(s, 12);
        if (to_block(block_bytes(s, channel + 2, kTableBytes)) == w.read_back) {
            w.message = unconfirmed_channel(channel, Unconfirmed::Differs);
        } else {
            w.read_back.reset();
            w.message = unconfirmed_channel(channel, Unconfirmed::ReadsDisagree);
        }
    }
    return w;
}

bool all_digits(const Selectors& d)
{
    return std::all_of(d.begin(), d.end(), [](int v) { return v >= 0 && v <= 15; });
}

} // namespace

std::optional<std::vector<int>> read_block(Station& s, int address, int bytes, uint8_t sep)
{
    if (sep)
        separator(s, sep);
    return block_bytes(s, address, bytes);
}

std::optional<Selectors> read_selectors(Station& s)
{
    separator(s, 12);
    return selector_digits(s);
}

namespace {
// Why an "I" was not answered as a G13.6000: silence, another family, or a
// garbled reply. The G13.0000's answer "0=" reads as the digits 0 and 16.
std::string open_refusal(Station& s, bool heard)
{
    if (!heard)
        return kSilent;
    const bool g13 = decode_g136_s(s) == 2 && s.symbols[0] == 0 && s.symbols[1] == 16;
    return g13 ? kAnsweredAsG13 : kGarbled;
}
} // namespace

bool open_answered(Station& s, bool* heard)
{
    const RunList i = cmd_open();
    const bool got = g136::ecrir_octet_b(s, i, 7);
    if (heard)
        *heard = got;
    return decode_g136(s) >= 1 && s.symbols[0] == 7;
}

Reading lecture(Station& s, Progress* progress)
{
    Reading r;
    start(progress, 13);
    idle_line(s);
    bool heard = false;
    r.answered = open_answered(s, &heard);
    if (!r.answered) {
        finish(progress);
        r.message = open_refusal(s, heard);
        return r;
    }
    auto stopped_at = [&](int channel) {
        r.stopped_at = channel;
        r.message = channel == 1 && !r.selectors
                        ? "Lecture arrêtée : rien n'a été lu."
                        : format("Lecture arrêtée au canal %d : les canaux %d à 12 n'ont pas été lus, "
                                 "leurs valeurs affichées sont celles d'avant.",
                                 channel, channel);
    };
    if (stop_asked(progress)) {
        stopped_at(1);
        finish(progress);
        return r;
    }
    heard = false;
    separator(s, 12);
    r.selectors = selector_digits(s, &heard);
    step(progress);
    if (!r.selectors) {
        r.message = heard ? "Le monnayeur répond, mais sa réponse est illisible (ligne perturbée ?) : les mesures "
                            "contrôlées et les canaux 1 à 12 n'ont pas été lus."
                          : "Le monayeur ne répond plus : les mesures contrôlées et les canaux 1 à 12 n'ont pas été lus.";
        finish(progress);
        return r;
    }
    for (int n = 1; n <= kChannels; ++n) {
        if (stop_asked(progress)) {
            stopped_at(n);
            break;
        }
        heard = false;
        separator(s, 12);
        r.channels[size_t(n - 1)] = to_block(block_bytes(s, n + 2, kTableBytes, &heard));
        step(progress);
        if (!r.channels[size_t(n - 1)]) {
            r.message = format(heard ? "Le monnayeur répond, mais sa réponse au canal %d est illisible (ligne "
                                       "perturbée ?) : les canaux %d à 12 n'ont pas été lus, leurs valeurs affichées "
                                       "sont celles d'avant."
                                     : "Le monayeur ne répond plus au canal %d : les canaux %d à 12 n'ont pas été lus, "
                                       "leurs valeurs affichées sont celles d'avant.",
                               n, n);
            break;
        }
    }
    finish(progress);
    return r;
}

CoinTest coin_test(Station& s, Progress* progress)
{
    CoinTest c;
    if (stop_asked(progress)) {
        c.message = kTestStopped;
        return c;
    }
    idle_line(s);
    bool heard = false;
    if (!open_answered(s, &heard)) {
        c.message = open_refusal(s, heard);
        return c;
    }
    const RunList w = cmd_coin_test();
    const CoinWait coin_wait; // "Arrêter" may end the wait for the coin
    const bool replied = g136::ecrir_octet_b(s, w, 7);
    if (replied && decode_g136(s) >= kMeasures) {
        Measures m{};
        std::copy(s.symbols.begin(), s.symbols.begin() + kMeasures, m.begin());
        c.measures = m;
    } else {
        // A reply that came but does not hold the measures is unreadable, not "no coin".
        c.message = replied ? kGarbled : kNoCoin;
    }
    return c;
}

std::optional<Block> read_channel(Station& s, int channel, bool* heard)
{
    if (channel < 1 || channel > kChannels)
        return std::nullopt;
    idle_line(s);
    separator(s, 12);
    bool got = false;
    std::optional<Block> b = to_block(block_bytes(s, channel + 2, kTableBytes, &got));
    if (heard)
        *heard = got;
    return b;
}

ChannelWrite write_channel(Station& s, int channel, const Block& block, Progress* progress)
{
    if (stop_asked(progress)) {
        ChannelWrite w;
        w.channel = channel;
        w.message = kWriteStopped;
        return w;
    }
    start(progress, 1);
    idle_line(s);
    ChannelWrite w = block_write(s, channel, block);
    step(progress);
    finish(progress);
    return w;
}

ModelRead read_model(Station& s, int channel, Progress* progress)
{
    ModelRead m;
    if (channel < 1 || channel > kChannels) {
        m.message = format("Canal %d : il n'y a pas de tel canal (1 à 12), aucun modèle n'a été enregistré.", channel);
        return m;
    }
    start(progress, 2);
    idle_line(s);
    bool heard = false;
    separator(s, 12);
    const std::optional<Selectors> d = selector_digits(s, &heard);
    step(progress);
    if (d) {
        std::array<int, 6> t{};
        bool ok = true;
        for (int k = 0; k < 6; ++k) {
            t[size_t(k)] = (*d)[size_t(6 * (channel - 1) + k)];
            ok = ok && t[size_t(k)] <= 15;
        }
        if (ok)
            m.selectors = t;
    }
    // A mechanism that did not answer the first read is not asked again.
    if (d)
        m.block = to_block(block_bytes(s, channel + 2, kTableBytes, &heard));
    step(progress);
    finish(progress);
    if ((!d || !m.block) && heard)
        m.message = "Le monnayeur répond, mais ses réponses sont illisibles (ligne perturbée ?) : aucun modèle n'a "
                    "été enregistré.";
    else if (!d || !m.block)
        m.message = "Le monayeur ne répond pas : aucun modèle n'a été enregistré.";
    else if (!m.selectors)
        m.message = format("Les mesures contrôlées du canal %d n'ont pas été lues correctement : "
                           "aucun modèle n'a été enregistré.",
                           channel);
    return m;
}

ModelWrite write_model(Station& s, int channel, const Block& block, const std::array<int, 6>& selectors,
                       Progress* progress)
{
    ModelWrite m;
    if (stop_asked(progress)) {
        m.block.channel = channel;
        m.message = kWriteStopped;
        return m;
    }
    start(progress, 4);
    idle_line(s);
    m.block = block_write(s, channel, block);
    step(progress);
    m.message = m.block.message;
    auto add = [&](const std::string& line) { m.message += (m.message.empty() ? "" : "\n") + line; };
    if (!m.block.sent || !m.block.read_back) {
        // Not sent, or the mechanism no longer answers: the selectors are left alone.
        if (m.block.sent)
            add("Les mesures contrôlées (bloc 13) n'ont pas été réécrites.");
        finish(progress);
        return m;
    }
    std::optional<Selectors> d = read_selectors(s);
    step(progress);
    if (!d || !all_digits(*d)) {
        // Rewriting a block read in part would put other channels' selectors out.
        add("Les mesures contrôlées (bloc 13) n'ont pas pu être lues entièrement : elles n'ont pas été réécrites.");
        if (d)
            m.selectors = d;
        finish(progress);
        return m;
    }
    for (int k = 0; k < 6; ++k)
        (*d)[size_t(6 * (channel - 1) + k)] = selectors[size_t(k)] & 15;
    std::vector<RunList> frames;
    for (int k = 0; k < kSelectorDigits; k += 2)
        frames.push_back(cmd_digits((*d)[size_t(k)], (*d)[size_t(k + 1)]));
    write_frames(s, 1, 0x13, frames);
    m.selectors_written = true;
    step(progress);
    // Read back twice: the last read shows the block when it holds what was
    // written, or when both reads agree on something else.
    const std::optional<Selectors> first = read_selectors(s);
    m.selectors = read_selectors(s);
    step(progress);
    finish(progress);
    if (!m.selectors)
        add("Mesures contrôlées non confirmées : le monnayeur ne répond pas à la relecture du bloc 13. "
            "Les mesures contrôlées sont inconnues, relisez le monnayeur.");
    else if (*m.selectors != *d && first != m.selectors) {
        m.selectors.reset();
        add("Mesures contrôlées non confirmées : deux relectures du bloc 13 ne concordent pas (ligne perturbée ?). "
            "Les mesures contrôlées sont inconnues, relisez le monnayeur.");
    } else if (*m.selectors != *d)
        add(format("Mesures contrôlées du canal %d non confirmées : la relecture du bloc 13 diffère de ce qui a été "
                   "écrit.",
                   channel));
    return m;
}

Block validation_block(const std::array<int, 6>& selectors, const Measures& largest, const Measures& smallest,
                       int tolerance)
{
    Block b{};
    for (size_t p = 0; p < 6; ++p) {
        const size_t k = size_t(std::clamp(selectors[p], 0, kMeasures - 1));
        b[2 * p] = std::clamp(largest[k] + tolerance, 0, 255);
        b[2 * p + 1] = std::clamp(smallest[k] - tolerance, 0, 255);
    }
    return b;
}

Collect collect_coins(Station& s, int count, const Measures& largest, const Measures& smallest, Progress* progress)
{
    Collect c;
    c.largest = largest;
    c.smallest = smallest;
    start(progress, count);
    if (count > 0 && !stop_asked(progress)) {
        idle_line(s);
        const RunList i = cmd_open(40);
        g136::ecrir_octet_s(s, i, i.last());
    }
    for (int n = 1; n <= count; ++n) {
        if (stop_asked(progress)) {
            c.stopped = true;
            c.message = format("Lecture arrêtée après %d pièce(s).", c.measured);
            break;
        }
        const RunList t = cmd_coin_teach();
        const CoinWait coin_wait; // "Arrêter" may end the wait for the coin
        const bool heard = g136::ecrir_octet_b_a(s, t, 7);
        if (!heard || decode_g136(s) < kMeasures) {
            // No coin within the wait: empty tables are not a coin of zeros.
            // A reply without its sixteen measurements is no coin either.
            c.no_coin = !heard;
            c.message = heard ? format("Le monnayeur répond, mais sa réponse est illisible (ligne perturbée ?) : "
                                       "lecture arrêtée après %d pièce(s).",
                                       c.measured)
                              : format("Pas de pièce reçue : lecture arrêtée après %d pièce(s).", c.measured);
            break;
        }
        ++c.measured;
        for (size_t k = 0; k < size_t(kMeasures); ++k) {
            const int v = s.symbols[k];
            c.last[k] = v;
            c.largest[k] = std::max(c.largest[k], v);
            c.smallest[k] = std::min(c.smallest[k], v);
        }
        c.coins.push_back(c.last);
        step(progress);
    }
    finish(progress);
    return c;
}

// ---- Output and option tables --------------------------------------------

namespace {

struct TableBlock {
    int address;
    int bytes;
};
constexpr TableBlock kTableBlocks[] = {{0x0F, kTableBytes}, {0x10, kTableBytes}, {0x11, kTableBytes},
                                       {0x12, kTableBytes}, {0x18, kOptionBytes}};

const char* const kTableNames[] = {"Signal Sortie", "bloc 10", "Sortie bobine", "Valid canal", "Fonction et offsets"};

// The five blocks after "X" + hold 1 each; ends at the first unanswered one.
TablesRead tables_read(Station& s, Progress* progress, bool stoppable)
{
    TablesRead r;
    std::array<std::vector<int>, 5> got;
    for (int b = 0; b < 5; ++b) {
        if (stoppable && stop_asked(progress)) {
            r.stopped = true;
            r.message = "Lecture des tables arrêtée : les cases restent telles qu'elles étaient.";
            return r;
        }
        separator(s, 1);
        auto v = block_bytes(s, kTableBlocks[b].address, kTableBlocks[b].bytes, &r.heard);
        step(progress);
        if (!v) {
            r.message = format(r.heard ? "Le monnayeur répond, mais sa réponse pour la table « %s » est illisible "
                                         "(ligne perturbée ?) : les tables n'ont pas été lues, les cases restent "
                                         "telles qu'elles étaient."
                                       : "Le monayeur ne répond pas pour la table « %s » : les tables n'ont pas été "
                                         "lues, les cases restent telles qu'elles étaient.",
                               kTableNames[b]);
            return r;
        }
        got[size_t(b)] = *v;
        ++r.blocks_read;
    }
    Tables t;
    for (int c = 0; c < kChannels; ++c) {
        t.output[size_t(c)] = got[0][size_t(c)];
        // Channel c + 1 is the low half of byte c when odd, the high half when even.
        t.coil[size_t(c)] = c % 2 == 0 ? got[2][size_t(c)] & 15 : got[2][size_t(c)] >> 4;
        t.validation[size_t(c)] = got[3][size_t(c)];
    }
    for (int k = 0; k < 3; ++k)
        t.function[size_t(k)] = got[4][size_t(k)];
    t.offset_e = got[4][3];
    t.offset_a = got[4][4];
    r.tables = t;
    return r;
}

} // namespace

TablesRead read_tables(Station& s, Progress* progress)
{
    start(progress, 5);
    idle_line(s);
    TablesRead r = tables_read(s, progress, true);
    finish(progress);
    return r;
}

TablesWrite write_tables(Station& s, const Tables& t, Progress* progress)
{
    TablesWrite w;
    if (stop_asked(progress)) {
        w.stopped = true;
        w.message = kWriteStopped;
        return w;
    }
    start(progress, 9);
    idle_line(s);
    const RunList e9 = cmd_e9();
    g136::ecrir_octet_s(s, e9, e9.last());
    std::vector<RunList> frames;
    for (int v : t.output)
        frames.push_back(cmd_byte(byte_of(v)));
    write_frames(s, 50, 0x0F, frames);
    step(progress);
    frames.clear();
    for (int c = 0; c < kChannels; c += 2)
        frames.push_back(cmd_digits(t.coil[size_t(c)], t.coil[size_t(c + 1)]));
    write_frames(s, 51, 0x11, frames);
    step(progress);
    frames.clear();
    for (int v : t.validation)
        frames.push_back(cmd_byte(byte_of(v)));
    write_frames(s, 71, 0x12, frames);
    step(progress);
    frames.clear();
    for (int v : t.function)
        frames.push_back(cmd_byte(byte_of(v)));
    frames.push_back(cmd_byte(byte_of(t.offset_e)));
    frames.push_back(cmd_byte(byte_of(t.offset_a)));
    write_frames(s, 60, 0x18, frames);
    step(progress);

    // The read-back: the coil block's layout as read is the mechanism's own,
    // so it is shown but not compared.
    const TablesRead r = tables_read(s, progress, false);
    if (!r.tables) {
        finish(progress);
        w.message = std::string("Tables écrites mais non confirmées : le monnayeur ") +
                    (r.heard ? "répond illisiblement" : "ne répond pas") + " à la relecture de la table « " +
                    kTableNames[r.blocks_read] + " », leur contenu est inconnu (relisez les tables).";
        return w;
    }
    w.read_back = r.tables;
    std::string differ;
    auto check = [&](bool same, const char* name) {
        if (!same)
            differ += std::string(differ.empty() ? "" : ", ") + name;
    };
    Tables sent = t;
    for (auto* a : {&sent.output, &sent.validation})
        for (int& v : *a)
            v = byte_of(v);
    for (int& v : sent.function)
        v = byte_of(v);
    check(r.tables->output == sent.output, kTableNames[0]);
    check(r.tables->validation == sent.validation, kTableNames[3]);
    check(r.tables->function == sent.function && r.tables->offset_e == byte_of(sent.offset_e) &&
              r.tables->offset_a == byte_of(sent.offset_a),
          kTableNames[4]);
    w.confirmed = differ.empty();
    if (!w.confirmed) {
        // Believed only when a second read-back gives the same tables.
        const TablesRead again = tables_read(s, progress, false);
        if (again.tables != r.tables) {
            w.read_back.reset();
            w.message = "Tables écrites mais non confirmées : deux relectures ne concordent pas (ligne perturbée ?), "
                        "leur contenu est inconnu (relisez les tables).";
        } else {
            w.message = "Tables non confirmées : la relecture diffère de ce qui a été écrit pour : " + differ +
                        ". Les cases montrent ce qui a été relu.";
        }
    }
    finish(progress);
    return w;
}

} // namespace zuna::nri::g136
