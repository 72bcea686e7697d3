#include "freq/freq_link.h"

#include <algorithm>

#include "c120/c120_link.h"
#include "link/module.h"
#include "link/rounding.h"
#include "alberici/al3_link.h"
#include "nri/g13_link.h"
#include "nri/g136_link.h"
#include "seci/seci_link.h"

namespace zuna::freq {

const char kSearchFailed[] =
    "Le monnayeur ne répond pas : réglage automatique de la vitesse impossible. Les fréquences restent "
    "inchangées.";

Range range(Family f)
{
    switch (f) {
    case Family::G13: return {1, 7000};
    case Family::RM3:
    case Family::RM4:
    case Family::ALB: return {1, 200};
    default: return {1, 32767};
    }
}

namespace {
// Each family's delay count and its zone 0 bytes, in the order of Family.
struct Slot {
    int32_t DelayCounts::*count;
    int zone0; // two bytes, low first; the G13 has its six-byte encoding
};
constexpr Slot kSlots[kFamilies] = {
    {&DelayCounts::g13, kZ0G13},     {&DelayCounts::g136, kZ0G136}, {&DelayCounts::c120, kZ0C120},
    {&DelayCounts::c220b, kZ0C220b}, {&DelayCounts::c220, kZ0C220}, {&DelayCounts::rm3, kZ0Rm3},
    {&DelayCounts::rm4, kZ0Rm4},     {&DelayCounts::alb, kZ0Alb},
};
const Slot& slot(Family f) { return kSlots[size_t(f)]; }
} // namespace

int32_t& count(Station& s, Family f) { return s.delay.*slot(f).count; }

int32_t count(const Station& s, Family f) { return s.delay.*slot(f).count; }

void put(Station& s, Family f, int32_t value)
{
    count(s, f) = value;
    if (f == Family::G13) {
        s.g13_stored = value;
        set_zone0_g13(s.zone0, value);
    } else {
        set_zone0_word(s.zone0, slot(f).zone0, value);
    }
}

int32_t scaled(int32_t m, int32_t g, int32_t factor)
{
    return int32_t(div_round_even(int64_t(m) * factor, g > 0 ? g : 1));
}

int32_t half_reads(int32_t r) { return int32_t(div_round_even(r, 2)); }

// r x 0.5 + r x 0.5 x 3 x 0.01 = r x 103 / 200, in integers so that a half is a half.
int32_t with_margin(int32_t r) { return int32_t(div_round_even(int64_t(r) * 103, 200)); }

int32_t g136_start(int32_t entry) { return int32_t(div_round_even(entry, 6)); }

int32_t al3_middle(int32_t low, int32_t high) { return int32_t(div_round_even((low & 255) + (high & 255), 2)); }

Defaults defaults(int32_t m, int32_t g)
{
    Defaults d;
    d.g13 = scaled(m, g, 2200);
    d.g136 = scaled(m, g, 138);
    d.c120 = scaled(m, g, 138);
    d.c220b = d.c120;
    d.c220 = scaled(m, g, 90);
    d.rm3 = d.rm4 = d.alb = scaled(m, g, 68);
    return d;
}

namespace {

bool in_range(Family f, int32_t v) { return v >= range(f).lo && v <= range(f).hi; }

// A found count far below the count the probe was sent at is a glitch on
// the line, not the mechanism's bit time (the probes are sent slower than
// any mechanism they look for answers).
bool plausible(int32_t found, int32_t probe_count) { return int64_t(found) * 4 >= int64_t(probe_count) * 3; }

Search failed()
{
    Search r;
    r.message = kSearchFailed;
    return r;
}

// One C120-link probe: the command at `probe_count`, then the reply recorded
// at count 1, so its entries are raw read counts. Entry 0, or 0 when nothing came.
int32_t c120_probe(Station& s, int32_t probe_count, const c120::Command4& command, bool line_0x73)
{
    s.delay.c120 = probe_count;
    if (line_0x73)
        c120::ecrir_bit(s, c120::kTeachEnd);
    c120::ecrir_instruction(s, command);
    s.delay.c120 = 1;
    std::fill(s.run_table.begin(), s.run_table.begin() + c120::kLocalRuns, 0);
    // Only entry 0 is used: a short recording, so glitches on a noisy line
    // cannot keep it going for the whole table.
    const int n = c120::lecture_monayeur(s, s.run_table.data(), c120::kLocalRuns);
    return n > 0 ? std::max(s.run_table[0], 0) : 0;
}

} // namespace

Search search_c120(Station& s, int32_t m, int32_t g, Progress* p)
{
    const int32_t before = s.delay.c120;
    int32_t best = 0;
    start(p, 2);
    for (int i = 0; i < 2; ++i) {
        step(p);
        const int32_t r = c120_probe(s, scaled(m, g, 80), c120::kOpen, true);
        best = std::max(best, half_reads(r));
    }
    finish(p);
    s.delay.c120 = before;
    if (!plausible(best, scaled(m, g, 80)) || !in_range(Family::C120, best))
        return failed();
    put(s, Family::C120, best);
    return {true, best, {}};
}

Search search_c220b(Station& s, int32_t m, int32_t g, Progress* p)
{
    const int32_t c120_before = s.delay.c120;
    int32_t best = 0;
    start(p, 11);
    for (int i = 0; i < 11; ++i) {
        step(p);
        const int32_t r = c120_probe(s, scaled(m, g, 100), c120::kClose, false);
        if (half_reads(r) > best)
            best = with_margin(r);
    }
    finish(p);
    s.delay.c120 = c120_before;
    if (!plausible(best, scaled(m, g, 100)) || !in_range(Family::C220B, best))
        return failed();
    put(s, Family::C220B, best);
    return {true, best, {}};
}

Search search_g13(Station& s, int32_t m, int32_t g, Progress* p)
{
    const int32_t count_before = s.delay.g13, stored_before = s.g13_stored;
    s.g13_stored = 0;
    s.delay.g13 = scaled(m, g, 3000);
    // The probe: "I" held 107 units at unit count 10, its answer read at 1.
    s.measured_module_count = 1;
    std::fill(s.run_table.begin(), s.run_table.begin() + 41, 0);
    s.measured_module_count = 10;
    nri::RunList probe;
    for (uint8_t v : {1, 1, 2, 1, 2, 1, 1, 107})
        probe.push(v);
    nri::ecrir_octet_s(s, probe, 7);
    s.measured_module_count = 1;
    nri::lit_g13_rt(s);
    const int32_t answer = half_reads(s.run_table[2]);
    if (answer >= 1)
        s.delay.g13 = answer;
    nri::reset(s);
    s.delay.g13 -= 300;
    if (s.delay.g13 < 1)
        s.delay.g13 = 1;
    nri::TuneOutcome how = nri::TuneOutcome::Silent;
    const int32_t result = nri::test_v(s, p, &how);
    if (how == nri::TuneOutcome::Stopped || !in_range(Family::G13, result)) {
        s.delay.g13 = count_before;
        s.g13_stored = stored_before;
        Search r = failed();
        if (how == nri::TuneOutcome::Stopped)
            r.message = "Réglage arrêté : fréquences inchangées.";
        return r;
    }
    put(s, Family::G13, result);
    return {true, result, {}};
}

Search search_g136(Station& s, int32_t m, int32_t g, Progress* p)
{
    const int32_t before = s.delay.g136;
    const nri::RunList open = nri::g136::cmd_open();
    start(p, 16);
    s.delay.g136 = scaled(m, g, 110);
    nri::g136::idle_line(s);
    nri::g136::ecrir_octet_s(s, open, 5);
    s.delay.g136 = 1;
    // Cleared first: a silent line must not take its start from an earlier capture.
    nri::clear_tables(s);
    nri::g136::lit_g13(s);
    const int32_t from = g136_start(s.run_table[1]);
    bool found = false;
    int32_t i = from;
    for (; from > 0 && i <= from + 15; ++i) {
        step(p);
        s.delay.g136 = i;
        nri::g136::ecrir_octet_b(s, open, 7);
        nri::g136::decode_g136(s);
        if (s.symbols[0] == 7) {
            found = true;
            break;
        }
    }
    finish(p);
    if (!found || !in_range(Family::G136, i)) {
        s.delay.g136 = before;
        return failed();
    }
    put(s, Family::G136, i);
    return {true, i, {}};
}

Search search_al3(Station& s, Progress* p)
{
    const int32_t before = s.delay.alb;
    start(p, 150);
    int32_t alb = 2;
    s.delay.alb = alb;
    while (alb <= 150 && !alberici::test_vitesse(s)) {
        step(p);
        s.delay.alb = ++alb;
    }
    bool understood = alb <= 150;
    const int32_t low = alb;
    int32_t high = low;
    while (understood && alb <= range(Family::ALB).hi && alberici::test_vitesse(s)) {
        high = alb;
        s.delay.alb = ++alb;
    }
    finish(p);
    // low and high as bytes, as the zone 0 bytes hold them.
    const int32_t result = al3_middle(low, high);
    if (!understood || !in_range(Family::ALB, result)) {
        s.delay.alb = before;
        return failed();
    }
    put(s, Family::ALB, result);
    return {true, result, {}};
}

Search search_rm3(Station& s, int32_t m, int32_t g, Progress* p)
{
    const int32_t before = s.delay.rm3;
    const seci::Line line = seci::rm3_line(s);
    static const int32_t kProbe[] = {9, 1, 5, 1, 3, 200, 0};
    static const int32_t kHold[] = {9, 80, 0};
    static const int32_t kEnd[] = {9, 1, 5, 1, 3, 500, 0};
    start(p, 11 + 150);
    int32_t i = 0;
    for (int k = 0; k < 11; ++k) {
        step(p);
        s.delay.rm3 = scaled(m, g, 200);
        seci::ecrir_octet_s(line, kProbe);
        s.delay.rm3 = 1;
        seci::lit_rm3(line, 16000);
        i = std::max(i, half_reads(s.run_table[0]));
    }
    s.run_table[1] = s.run_table[2] = 0;
    s.delay.rm3 = i - 10;
    seci::ecrir_octet(line, kHold);
    auto ready = [&] { return s.run_table[0] == 0 && s.run_table[1] == 1 && s.run_table[2] == 7; };
    bool found = ready();
    while (!found && i <= 150) {
        step(p);
        s.delay.rm3 = i - 1;
        seci::ecrir_octet(line, kHold);
        seci::ecrir_octet(line, kHold);
        found = ready();
        ++i;
    }
    seci::ecrir_octet(line, kEnd);
    finish(p);
    const int32_t result = s.delay.rm3;
    if (!found || !in_range(Family::RM3, result)) {
        s.delay.rm3 = before;
        return failed();
    }
    put(s, Family::RM3, result);
    return {true, result, {}};
}

Search search_rm4(Station& s, int32_t m, int32_t g, Progress* p)
{
    const int32_t rm3_before = s.delay.rm3;
    const seci::Line line = seci::rm3_line(s);
    static const int32_t kProbe[] = {9, 15, 0};
    // The climb stops at a count of 200 (the RM counts' limit) without an answer.
    constexpr int32_t kLimit = 200;
    int32_t b = scaled(m, g, 40);
    start(p, kLimit);
    auto probe = [&](int32_t count) {
        s.delay.rm3 = count;
        seci::ecrir_octet_s(line, kProbe);
        s.delay.rm3 = 1;
        seci::lit_rm3(line, 16000);
    };
    s.run_table[1] = 0;
    while (s.run_table[1] == 0 && b <= kLimit) {
        step(p);
        probe(b);
        ++b;
    }
    bool answered = s.run_table[1] != 0;
    if (answered) {
        --b;
        probe(b);
        answered = s.run_table[1] != 0;
    }
    finish(p);
    const int32_t result = s.run_table[1];
    s.delay.rm3 = rm3_before;
    // The stretch is the mechanism's bit time, which the probe's count just matched.
    if (!answered || !plausible(result, b) || !in_range(Family::RM4, result))
        return failed();
    put(s, Family::RM4, result);
    return {true, result, {}};
}

} // namespace zuna::freq
