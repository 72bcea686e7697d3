#pragma once
// The delay counts of the frequency window: defaults computed from the
// module measurement, the zone 0 bytes of each count, and the automatic
// searches ("Re calib.") run on the families' links without their windows.
// No Qt here.
#include <cstdint>
#include <string>

#include "link/progress.h"
#include "link/station.h"

namespace zuna::freq {

// The eight counts the window shows, in its row order.
enum class Family { G13, G136, C120, C220B, C220, RM3, RM4, ALB };
constexpr int kFamilies = 8;

// What a count may hold: zone 0 keeps 16 bits, calib.dbf small integers, and
// RM3, RM4, ALB above 200 are replaced at the next activate step.
struct Range {
    int32_t lo, hi;
};
Range range(Family f);
int32_t& count(Station& s, Family f);
int32_t count(const Station& s, Family f);

// Puts a count into its delay count (G13 also into the stored count) and
// into the zone 0 image; nothing is written to the module here.
void put(Station& s, Family f, int32_t value);

// "Défaut": round(m' x factor / g') for each family, halves to even.
struct Defaults {
    int32_t g13, g136, c120, c220b, c220, rm3, rm4, alb;
};
Defaults defaults(int32_t m, int32_t g);
int32_t scaled(int32_t m, int32_t g, int32_t factor);

// The searches' arithmetic on what a probe's reply measured, halves to even
// as every rounded count: a raw read count r (two reads a unit) gives
// round(r x 0.5) units; the C220B keeps 3 % over it, round(r x 0.515); the
// G136 tries start at round(entry / 6); the ALB count is the middle of the
// lowest and highest counts understood, taken as bytes.
int32_t half_reads(int32_t r);
int32_t with_margin(int32_t r);
int32_t g136_start(int32_t entry);
int32_t al3_middle(int32_t low, int32_t high);

// A search's outcome. When ok is false nothing was changed: the counts are
// as before and zone 0 is neither changed nor written.
struct Search {
    bool ok = false;
    int32_t value = 0;
    std::string message;
};

// The searches, each with the probe the behaviour gives. m and g are the
// main window's copies of the module measurement and reference.
Search search_c120(Station& s, int32_t m, int32_t g, Progress* p);
Search search_c220b(Station& s, int32_t m, int32_t g, Progress* p);
Search search_g13(Station& s, int32_t m, int32_t g, Progress* p);
Search search_rm3(Station& s, int32_t m, int32_t g, Progress* p);
Search search_g136(Station& s, int32_t m, int32_t g, Progress* p);
// The AL3 search: the speed test from 2 up to the first count understood
// (150 at most), then up while it is understood (200 at most).
Search search_al3(Station& s, Progress* p);
// The RM4 search runs on the RM3 link with the RM3 count, which it restores.
Search search_rm4(Station& s, int32_t m, int32_t g, Progress* p);

// The message of a search that found nothing usable.
extern const char kSearchFailed[];

} // namespace zuna::freq
