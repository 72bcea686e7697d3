#include "alberici/al3_link.h"

#include <algorithm>

#include "link/rounding.h"
#include "link/timing.h"

namespace zuna::alberici {

bool alb_usable(const Station& s) { return s.delay.alb >= 1; }

namespace {
// Units after a reply's start bit in which a stall garbles it: its ten, and
// two for a mechanism whose clock runs slow.
constexpr int64_t kCharacterUnits = 12;
} // namespace

void ecrir_bit_2(Station& s, uint8_t value) { hold_bit(*s.port, s.delay.alb, value); }

bool lit_al3(Station& s, int64_t budget, bool* stalled)
{
    Port& port = *s.port;
    // From the stop bit on: a stall at its write held the last data bit on
    // (the mechanism may have taken a bad stop bit or another character); a
    // stall in the wait may have hidden the start of the reply, whose later
    // edge is then taken for its start. The wait is a few units only.
    const StallWatch watch(port);
    port.write_data_port(kLevel1); // the stop bit of the character just sent
    int64_t c = 0;
    uint8_t st = port.read_status_port();
    while (!(st & kReply) && c < budget) {
        ++c;
        st = port.read_status_port();
    }
    if (stalled)
        *stalled = false;
    if (c >= budget)
        return false;
    auto& runs = s.run_table;
    int64_t mark = c;
    // Up to twelve units after the start bit seen: the character's ten
    // (start bit, eight data bits, stop bit), with room for a mechanism's
    // slow clock. A stall there may have hidden edges even in the stretch
    // the budget ends (its level 0 bits gone by while the port stood still).
    const int64_t char_end = c + kCharacterUnits * int64_t(s.delay.alb);
    uint64_t during = watch.stalled_ns();
    bool done = false;
    auto look = [&] {
        if (!done) {
            during = watch.stalled_ns();
            done = c >= char_end;
        }
    };
    for (int j = 0; j < kRunTableSize - 1; ++j) {
        const uint8_t level = (j % 2 == 0) ? kReply : 0;
        st = port.read_status_port();
        while ((st & kReply) == level && c < budget) {
            ++c;
            st = port.read_status_port();
            if (c == char_end)
                look();
        }
        if (c >= budget) {
            runs[size_t(j)] = kEndMark;
            break;
        }
        runs[size_t(j)] = int32_t(div_round_even(c - mark, s.delay.alb));
        mark = c;
        look();
    }
    if (!done)
        during = watch.stalled_ns();
    if (stalled)
        *stalled = during > 0;
    for (int u = 0; u < 3; ++u)
        ecrir_bit_2(s, kLevel1);
    return true;
}

void ecrir_nb(Station& s, uint8_t value, bool* stalled)
{
    if (stalled)
        *stalled = false;
    if (!alb_usable(s))
        return;
    std::fill(s.run_table.begin(), s.run_table.begin() + kClearedEntries, 0);
    MaskedSection masked(*s.port);
    // A bit stretched by a stall moves the mechanism's sampling of the bits
    // after it: it may take another character and answer that one (an echo
    // of it, say), so the answer is garbled too.
    const StallWatch sending(*s.port);
    ecrir_bit_2(s, kLevel0);
    for (int b = 0; b < 8; ++b)
        ecrir_bit_2(s, ((value >> b) & 1) ? kLevel1 : kLevel0);
    const bool sent_stalled = sending.stalled();
    lit_al3(s, kBudgetUnits * s.delay.alb, stalled);
    if (stalled && sent_stalled)
        *stalled = true;
}

bool attend(Station& s, int64_t wait, bool* stalled)
{
    if (stalled)
        *stalled = false;
    if (!alb_usable(s))
        return false;
    Port& port = *s.port;
    port.write_data_port(kLevel1);
    const CoinWait coin_wait; // "Arrêter" may end the wait for the coin
    // The wait for the count, in blocks of kStopPollReads reads with a look
    // at the stop request between them. The stalls are taken from a
    // character's length before the start bit seen: a stall that hid the
    // real start edge ended less than a character before the edge taken.
    const int64_t character = 10 * (int64_t(s.delay.alb) + 1);
    StallWatch watch(port);
    if (wait_reply(port, kReply, false, wait, &watch, character) >= wait)
        return false;
    auto& runs = s.run_table;
    // Then up to twelve units after the start bit, as in lit_al3 (a stretch
    // counted in two parts when the character ends inside it: the same reads).
    const int64_t char_reads = kCharacterUnits * int64_t(s.delay.alb);
    int64_t elapsed = 0;
    uint64_t during = watch.stalled_ns();
    bool done = false;
    for (int j = 0; j < kRunTableSize - 1; ++j) {
        const bool level = j % 2 == 0;
        int64_t len = 0;
        if (!done && elapsed < char_reads && char_reads - elapsed < kEndMark) {
            const int64_t first = char_reads - elapsed;
            len = count_while(port, kReply, level, first);
            if (len == first) {
                during = watch.stalled_ns();
                done = true;
                len += count_while(port, kReply, level, kEndMark - first);
            }
        } else {
            len = count_while(port, kReply, level, kEndMark);
        }
        if (len >= kEndMark) {
            runs[size_t(j)] = kEndMark;
            break;
        }
        runs[size_t(j)] = int32_t(div_round_even(len, s.delay.alb));
        elapsed += len;
        if (!done) {
            during = watch.stalled_ns();
            done = elapsed >= char_reads;
        }
    }
    if (!done)
        during = watch.stalled_ns();
    if (stalled)
        *stalled = during > 0;
    return true;
}

uint8_t decode(Station& s, bool* framed)
{
    auto& runs = s.run_table;
    uint8_t v = 0;
    size_t i = 0;
    for (int b = 0; b < 9; ++b) {
        v = uint8_t(v >> 1);
        if (i % 2 == 1)
            v |= 0x80;
        if (--runs[i] == 0)
            ++i; // at most 9 steps: never beyond entry 8
    }
    // The stop bit: the stretch after the eighth data bit is at level 1 and
    // lasts at least one unit (an odd entry not used up).
    if (framed)
        *framed = i % 2 == 1 && runs[i] > 0;
    return v;
}

Reply exchange(Station& s, uint8_t c)
{
    Reply r;
    ecrir_nb(s, c, &r.stalled);
    r.heard = s.run_table[0] != 0;
    r.value = decode(s, &r.framed);
    return r;
}

bool echoes(Station& s, uint8_t c)
{
    const Reply r = exchange(s, c);
    return r.good() && r.value == c;
}

bool test_vitesse(Station& s)
{
    if (!alb_usable(s))
        return false;
    exchange(s, 'A');
    exchange(s, 'S');
    const Reply r = exchange(s, '0');
    return r.heard && !r.stalled && r.value == kAnswerF;
}

int output_index(uint8_t b)
{
    for (int n = 0; n <= 6; ++n)
        if (b == (1u << n))
            return n;
    return 0;
}

std::string value_text(uint8_t b)
{
    const int v = b & 0x7F;
    return v > 100 ? "NO" : std::to_string(v);
}

std::string tolerance_text(uint8_t b) { return b > 15 ? "no" : std::to_string(b); }

std::optional<Record> channel_read(Station& s, int record, bool* heard)
{
    bool any = false;
    auto echo = [&](uint8_t c) {
        const Reply e = exchange(s, c);
        any = any || e.heard;
        return e.good() && e.value == c;
    };
    // "A", "R" and the record number come back as sent from a mechanism that
    // understood them; any other answer (0xFA to a character it could not
    // frame, a misread byte) makes the read's bytes untrustworthy.
    bool echoed = echo('A');
    echoed = echo('R') && echoed;
    echoed = echo(uint8_t(record)) && echoed;
    Reply r = exchange(s, '0');
    any = any || r.heard;
    if (heard)
        *heard = any;
    Record out{};
    for (int i = 0; i < kRecordBytes; ++i) {
        if (!r.good() || !echoed)
            return std::nullopt;
        out[size_t(i)] = r.value;
        // The 15th byte goes back with bit 7 cleared, as the mechanism expects.
        const uint8_t back = i == 14 ? uint8_t(r.value & 0x7F) : r.value;
        if (i == kRecordBytes - 1) {
            // The last byte sent back: stretched by a stall, the mechanism
            // may take another character and be out of step with what follows.
            bool stalled = false;
            ecrir_nb(s, back, &stalled);
            if (stalled)
                return std::nullopt;
        } else {
            r = exchange(s, back);
        }
    }
    return out;
}

void closing(Station& s)
{
    ecrir_nb(s, 'S');
    ecrir_nb(s, '0');
}

std::optional<Record> lect(Station& s, int n)
{
    if (n >= 2)
        closing(s);
    return channel_read(s, n - 1);
}

void reading_opening(Station& s)
{
    for (uint8_t c : {uint8_t('A'), uint8_t('g'), uint8_t(0x03), uint8_t('.')})
        ecrir_nb(s, c);
    Reply x = exchange(s, '0');
    x = exchange(s, x.value);
    x = exchange(s, x.value);
    ecrir_nb(s, x.value);
}

void byte_write(Station& s, int record, int address, uint8_t value, bool with_a)
{
    if (with_a)
        ecrir_nb(s, 'A');
    ecrir_nb(s, 'w');
    ecrir_nb(s, value);
    ecrir_nb(s, uint8_t(address));
    ecrir_nb(s, uint8_t(record));
    const Reply r = exchange(s, '0');
    ecrir_nb(s, r.value);
}

std::optional<uint8_t> byte_read(Station& s, int record, int address)
{
    for (uint8_t c : {uint8_t('A'), uint8_t('r'), uint8_t(address), uint8_t(record)})
        ecrir_nb(s, c);
    const Reply v = exchange(s, '0');
    if (!v.heard)
        return std::nullopt;
    bool stalled = false; // v sent back, as in a channel read
    ecrir_nb(s, v.value, &stalled);
    return v.good() && !stalled ? std::optional<uint8_t>(v.value) : std::nullopt;
}

std::optional<uint8_t> type_read(Station& s)
{
    ecrir_nb(s, 'A');
    ecrir_nb(s, 'V');
    const Reply t = exchange(s, '0');
    return t.good() ? std::optional<uint8_t>(t.value) : std::nullopt;
}

void type_write(Station& s, uint8_t type)
{
    for (uint8_t c : {uint8_t('A'), uint8_t('v'), type, uint8_t('0'), uint8_t('E')})
        ecrir_nb(s, c);
    const Reply r = exchange(s, '0');
    ecrir_nb(s, r.value);
}

std::optional<uint8_t> measurement_read(Station& s, int n)
{
    // "m" and n echoed as sent, as in a channel read.
    bool echoed = echoes(s, 'm');
    echoed = echoes(s, uint8_t(n)) && echoed;
    const Reply v = exchange(s, '0');
    if (!v.good() || !echoed)
        return std::nullopt;
    bool stalled = false; // v sent back, as in a channel read
    ecrir_nb(s, v.value, &stalled);
    return stalled ? std::nullopt : std::optional<uint8_t>(v.value);
}

ReadAll lecture(Station& s, Progress* p)
{
    ReadAll res;
    if (p) {
        p->start(13);
        p->step();
    }
    reading_opening(s);
    for (int n = 1; n <= kChannels; ++n) {
        if (p && p->stop_requested()) {
            res.stopped = true;
            break;
        }
        closing(s);
        bool heard = false;
        res.channel[size_t(n - 1)] = channel_read(s, n - 1, &heard);
        if (!res.channel[size_t(n - 1)]) {
            (heard ? res.garbled : res.silent) = true;
            break;
        }
        res.done = n;
        if (p && n <= 11)
            p->step();
    }
    closing(s);
    if (p)
        p->finish();
    return res;
}

std::vector<int> WriteResult::differences() const
{
    std::vector<int> d;
    for (const auto& [address, value] : written)
        if (!readback || (*readback)[size_t(address)] != value)
            if (std::find(d.begin(), d.end(), address) == d.end())
                d.push_back(address);
    return d;
}

namespace {

using Writes = std::vector<std::pair<int, uint8_t>>;

// A block of byte writes, each with its own "A", then one more "A".
void write_block(Station& s, int record, const Writes& w)
{
    for (const auto& [address, value] : w)
        byte_write(s, record, address, value);
    ecrir_nb(s, 'A');
}

Writes settings_writes(const Settings& v)
{
    const int value = std::clamp(v.value, 0, 127);
    Writes w = {{kValueAddr, uint8_t(value | (v.validated ? 0 : 0x80))},
                {kOutputAddr, output_mask(v.output)},
                {kTimeAddr, uint8_t(std::clamp<int64_t>(round_even(v.time_ms * 0.5), 0, 255))}};
    for (int k = 1; k <= 6; ++k) {
        w.push_back({2 * (k - 1), uint8_t(std::clamp(v.parameter[size_t(k - 1)], 0, 255))});
        w.push_back({2 * k - 1, uint8_t(std::clamp(v.delta[size_t(k - 1)], 0, 255))});
    }
    return w;
}

bool channel_ok(int c) { return c >= 1 && c <= kChannels; }

// The channel read back after a write (lect), read again while it differs
// from what was written and has not given the same bytes twice in a row.
void read_back(Station& s, WriteResult& w)
{
    w.readback = lect(s, w.channel);
    w.settled = w.readback && w.differences().empty();
    for (int again = 0; again < kRereads && w.readback && !w.settled; ++again) {
        const Record previous = *w.readback;
        closing(s);
        w.readback = channel_read(s, w.channel - 1);
        w.settled = w.readback && (w.differences().empty() || *w.readback == previous);
    }
    if (!w.readback)
        w.settled = false;
}

} // namespace

WriteResult write_channel(Station& s, int channel, const Settings& v)
{
    WriteResult w;
    w.channel = channel;
    if (!channel_ok(channel) || !alb_usable(s))
        return w;
    w.written = settings_writes(v);
    for (int pass = 0; pass < 2; ++pass)
        write_block(s, channel - 1, w.written);
    w.sent = true;
    read_back(s, w);
    closing(s);
    return w;
}

WriteResult vider(Station& s, int channel)
{
    WriteResult w;
    w.channel = channel;
    if (!channel_ok(channel) || !alb_usable(s))
        return w;
    for (int a : {0x0F, 0x0E, 0x0C, 0x0D, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B})
        w.written.push_back({a, 0xFF});
    for (const auto& [address, value] : w.written)
        byte_write(s, channel - 1, address, value);
    w.sent = true;
    ecrir_nb(s, 'A');
    closing(s);
    read_back(s, w);
    closing(s);
    return w;
}

void load_tolerance(Station& s, int channel, uint8_t tolerance)
{
    if (!channel_ok(channel))
        return;
    for (uint8_t c : {uint8_t('A'), uint8_t('w'), tolerance, uint8_t(kToleranceAddr), uint8_t(channel - 1),
                      uint8_t('0')})
        ecrir_nb(s, c);
}

std::optional<uint8_t> teach_type(Station& s)
{
    const auto t = type_read(s);
    closing(s);
    return t;
}

TeachResult teach(Station& s, const Teach& t, Progress* p)
{
    TeachResult res;
    res.write.channel = t.channel;
    if (!channel_ok(t.channel) || !alb_usable(s))
        return res;
    const int record = t.channel - 1;
    const int n = std::clamp(t.coins, 1, 20);
    const Reply a = exchange(s, 'A');
    res.answered = a.heard && !a.stalled && a.value == 'A';
    if (!res.answered)
        return res;
    byte_write(s, record, kToleranceAddr, uint8_t(t.tolerance), false);
    for (uint8_t c : {uint8_t('A'), uint8_t('I'), uint8_t(n), uint8_t(record), uint8_t('0')})
        ecrir_nb(s, c);
    if (p)
        p->start(n);
    int shown = 0;
    for (int coin = 0; coin < n; ++coin) {
        if (p && p->stop_requested()) {
            res.stopped = true;
            break;
        }
        // A wait that saw no coin leaves the previous capture in the table:
        // it is not decoded.
        bool stalled = false;
        if (!attend(s, kCoinWait, &stalled)) {
            res.no_coin = true;
            break;
        }
        // A garbled count says nothing of where the mechanism's teach is:
        // the teach ends there, as after a wait with no coin.
        bool framed = false;
        const int k = decode(s, &framed);
        if (stalled || !framed) {
            res.garbled = true;
            break;
        }
        res.counts.push_back(k);
        // The progress value follows the count received (the window shows it).
        for (; p && shown < std::min(k, n); ++shown)
            p->step();
        if (k >= n)
            break;
    }
    if (p)
        p->finish();
    closing(s); // the teach's own end, before the channel settings
    if (!res.stopped && !res.no_coin && !res.garbled) {
        Settings v;
        v.value = t.value;
        v.time_ms = t.time_ms;
        v.output = t.output;
        const Writes all = settings_writes(v); // value, output, time first
        const Writes w = {all[2], all[0], all[1]}; // the teach's order: time, value, output
        for (int pass = 0; pass < 2; ++pass)
            write_block(s, record, w);
        res.write.written = w;
        res.write.written.push_back({kToleranceAddr, uint8_t(t.tolerance)});
        res.write.sent = true;
        read_back(s, res.write);
        closing(s);
    }
    return res;
}

std::array<std::optional<uint8_t>, 6> coin_test(Station& s)
{
    std::array<std::optional<uint8_t>, 6> m{};
    // A mechanism still inside another transaction (one left half way after
    // a garbled reply) takes "A" as a data byte and echoes what follows: its
    // answer to "0" would be an echo, not a measurement. "A" must come back.
    const bool ready = echoes(s, 'A');
    for (int k = 0; k < 6; ++k) {
        m[size_t(k)] = measurement_read(s, 8 + k);
        if (!m[size_t(k)])
            break;
    }
    closing(s);
    if (!ready)
        m = {};
    return m;
}

std::optional<Record> adjust_read(Station& s, int channel)
{
    if (!channel_ok(channel))
        return std::nullopt;
    return channel_read(s, channel - 1);
}

TypeLevels read_type(Station& s)
{
    TypeLevels r;
    r.type = type_read(s);
    closing(s);
    r.levels = byte_read(s, kGeneralRecord, 5);
    // Read as the mechanism's own tool does; the values are not used.
    for (uint8_t c : {uint8_t('r'), uint8_t(1), uint8_t(kGeneralRecord)})
        ecrir_nb(s, c);
    Reply x = exchange(s, '0');
    ecrir_nb(s, x.value);
    ecrir_nb(s, 'V');
    Reply y = exchange(s, '0');
    const Reply z = exchange(s, y.value);
    ecrir_nb(s, z.value);
    closing(s);
    return r;
}

TypeWrite write_type(Station& s, uint8_t type, uint8_t levels)
{
    TypeWrite w;
    w.type = type;
    w.levels = levels;
    byte_write(s, kGeneralRecord, 5, levels);
    byte_write(s, kGeneralRecord, 1, (levels & 1) ? 0x81 : 0x01);
    ecrir_nb(s, 'A');
    closing(s);
    type_write(s, type);
    ecrir_nb(s, 'A');
    closing(s);
    w.readback = read_type(s);
    auto heard = [](const TypeLevels& r) { return r.type && r.levels; };
    w.settled = heard(w.readback) && w.holds(w.readback);
    for (int again = 0; again < kRereads && heard(w.readback) && !w.settled; ++again) {
        const TypeLevels previous = w.readback;
        w.readback = read_type(s);
        w.settled = heard(w.readback) && (w.holds(w.readback) || (w.readback.type == previous.type &&
                                                                  w.readback.levels == previous.levels));
    }
    if (!heard(w.readback))
        w.settled = false;
    return w;
}

} // namespace zuna::alberici
