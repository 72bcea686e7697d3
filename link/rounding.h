#pragma once
// Real results are rounded to the nearest integer, halves to even (the
// rounding the station has always used for counts and limits).
#include <cmath>
#include <cstdint>

namespace zuna {

inline int64_t round_even(double x)
{
    return static_cast<int64_t>(std::nearbyint(x)); // default FE_TONEAREST: halves to even
}

// a / b rounded halves to even, exact for integers (no floating point);
// b == 0 gives 0 so a caller never divides by zero.
inline int64_t div_round_even(int64_t a, int64_t b)
{
    if (b == 0)
        return 0;
    if (b < 0) {
        a = -a;
        b = -b;
    }
    int64_t q = a / b;
    int64_t r = a % b;
    if (r < 0) {
        r += b;
        --q;
    }
    const int64_t twice = 2 * r;
    if (twice > b || (twice == b && (q & 1)))
        ++q;
    return q;
}

} // namespace zuna
