// The common case of the 8-character real, inline for the card writers'
// loops, which print millions of terms: a magnitude well inside 1.0E-30 to
// 9.99E30 whose mantissa is not within 2^-20 of a rounding tie. Its text is
// the one BDFreal8 gives (BDFreal8 itself starts here); the other values
// are left to BDFreal8.
#ifndef SORVAN_BDF_EXPORT_REAL8_FAST_H
#define SORVAN_BDF_EXPORT_REAL8_FAST_H

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

#include "model_input/decimal.h"

namespace sorvan::bdf::real8 {

// Binary exponents b of the magnitudes taken here: every double of
// [2^b, 2^(b+1)) lies above 1.0E-30 and below 9.99E30.
constexpr int binade_min = -99;
constexpr int binade_max = 101;

// The decimal exponent of the magnitudes of one binade: exponent, or one
// more from threshold on (a binade spans a factor of 2, the exponents'
// thresholds a factor of 10, so at most one lies inside; +infinity when
// none does).
struct Binade {
    double threshold;
    int32_t exponent;
};

// What the text needs of its decimal exponent e, -30 to 30: the product
// that turns a magnitude into the mantissa in units of the last decimal
// (10^3 or 10^2 over 10^e), the factor that spreads those units over four
// digits (1 with three decimals, 10 with two), the fixed characters of the
// text as a little-endian word (a blank for the sign, the point, the
// exponent's sign and digits) and the bytes of that word the digits take.
struct Decade {
    double scale_power;
    uint32_t spread;
    uint64_t frame;
    uint64_t digit_bytes;
};

extern const std::array<Binade, binade_max - binade_min + 1> binades;
extern const std::array<Decade, 61> decades;

// The characters of 0 to 99 in the first two digits' bytes (1 and 3) and in
// the last two's (4 and 5).
extern const std::array<uint64_t, 100> high_pairs, low_pairs;

// The eight characters of a mantissa rounded to `rounded` units of its
// decade's last decimal (below 10^5), with that decade's exponent, negated
// when negative is 1, at out (no terminator); false when it takes more
// digits than the text has room for (a mantissa rounded up to 10). Four
// digits in two pairs, hundreds by (u * 5243) >> 19 (exact below 43699),
// each pair's characters in their bytes by a table.
inline bool put_mantissa(char *out, uint64_t negative, uint32_t rounded, const Decade &decade) {
    const uint32_t units = rounded * decade.spread;
    if (units >= 10000) return false;
    const uint32_t high = (units * 5243) >> 19;
    const uint64_t digits = high_pairs[high] | low_pairs[units - 100 * high];
    decimal::store8(out, (decade.frame | (digits & decade.digit_bytes)) + ('-' - ' ') * negative);
    return true;
}

// The eight characters of value's text at out (no terminator), or false
// when BDFreal8 has to decide it. One product instead of a division: t,
// the magnitude times the scale power, lies within a few units of 10^-12
// of the exact quotient times the scale (t is below 10^4), so the two
// round alike unless t lies within 2^-20 of a half.
inline bool put_fast(char *out, double value) {
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    const uint64_t magnitude_bits = bits & ~(uint64_t{1} << 63);
    const auto index = static_cast<uint32_t>(magnitude_bits >> 52) - uint32_t{1023 + binade_min};
    if (index > uint32_t{binade_max - binade_min}) return false;
    const Binade &binade = binades[index];
    const double magnitude = std::bit_cast<double>(magnitude_bits);
    const Decade &decade =
        decades[static_cast<size_t>(binade.exponent + (magnitude >= binade.threshold) + 30)];
    const double t = magnitude * decade.scale_power;
    const auto whole = static_cast<int32_t>(t);
    const double fraction = t - static_cast<double>(whole);
    if (std::fabs(fraction - 0.5) < 0x1p-20) return false;
    return put_mantissa(out, bits >> 63, static_cast<uint32_t>(whole + (fraction > 0.5)), decade);
}

} // namespace sorvan::bdf::real8

#endif
