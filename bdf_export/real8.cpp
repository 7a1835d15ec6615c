// The texts of real numbers in bulk data fields; see real8.h.
#include "bdf_export/real8.h"
#include "bdf_export/real8_fast.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// 10^-30 to 10^30 as correctly rounded literals, the same doubles on every
// build. A computed power differs from these at 10^23, and repeated
// multiplication by 10 at many more exponents, which changes the exponent
// chosen for values near a mantissa of 0.999.
constexpr double pow10_table[61] = {
    1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20, 1e-19, 1e-18,
    1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9,  1e-8,  1e-7,  1e-6,  1e-5,
    1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,   1e5,   1e6,   1e7,   1e8,
    1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21,
    1e22,  1e23,  1e24,  1e25,  1e26,  1e27,  1e28,  1e29,  1e30};

constexpr int max_exponent = 30;

// Widest "%f" text of a double: 309 integer digits, sign, point and the
// largest precision accepted (20) fit with room to spare.
constexpr int fixed_buffer = 400;
constexpr int max_precision = 20;

const char unprintable_real8[BDF_REAL8_SIZE] = "********";

// Characters of a large-field real besides its digits after the point: the
// digit before the point and the point, the exponent's sign.
constexpr int real16_frame = 3;

uint64_t to_bits(double v) {
    return std::bit_cast<uint64_t>(v);
}

// For each table exponent e: the smallest positive double x with
// x / 10^e >= 0.999. Rounded division is monotone, so
// a magnitude reaches a mantissa of 0.999 at e exactly when it is at least
// that threshold: the search for the exponent becomes comparisons. The
// thresholds are found by bisection over the bit patterns with the very
// division the text is made from, so that the two cannot disagree. One
// threshold more on either side (0 below, infinity above) spares the search
// its bounds.
struct Real8Tables {
    double thresholds[2 * max_exponent + 3];
    constexpr double threshold(int e) const { return thresholds[e + max_exponent + 1]; }
};

constexpr Real8Tables make_tables() {
    Real8Tables t{};
    t.thresholds[0] = 0.0;
    t.thresholds[2 * max_exponent + 2] = std::numeric_limits<double>::infinity();
    for (int e = -max_exponent; e <= max_exponent; ++e) {
        const double power = pow10_table[e + max_exponent];
        uint64_t fails = 0,
                 passes = std::bit_cast<uint64_t>(1e32); // 0 / power < 0.999 <= 1e32 / power
        while (passes - fails > 1) {
            const uint64_t mid = fails + (passes - fails) / 2;
            if (std::bit_cast<double>(mid) / power >= 0.999)
                passes = mid;
            else
                fails = mid;
        }
        t.thresholds[e + max_exponent + 1] = std::bit_cast<double>(passes);
    }
    return t;
}

constexpr Real8Tables real8_tables = make_tables();

// The decimal exponent that BDFreal8 gives a magnitude above 1.0E-30 and
// below BDF_REAL8_LIMIT: the first e from 30 down at which the mantissa
// reaches 0.999, which is the largest e whose threshold the magnitude
// reaches (-30 at the latest, where the mantissa is at least 1).
//
// With 2^b <= magnitude < 2^(b+1) and e0 = floor(b log10 2) (which
// (b * 78913) >> 18 is for |b| <= 1650), the thresholds near 0.999 * 10^e
// put that e at e0 - 1, e0 or e0 + 1: counting the two thresholds reached
// finds it without a loop.
constexpr int real8_exponent(double magnitude) {
    const Real8Tables &t = real8_tables;
    const int b = static_cast<int>((std::bit_cast<uint64_t>(magnitude) >> 52) & 0x7FF) - 1023;
    const int e0 = (b * 78913) >> 18; // -31 to 30 in the range
    const int e = e0 - 1 + (magnitude >= t.threshold(e0)) + (magnitude >= t.threshold(e0 + 1));
    return std::clamp(e, -max_exponent, max_exponent);
}

// A normal m of magnitude below 16 is M / 2^s with a 53-bit M, so
// M * scale (scale 100 or 1000) is exact in 64 bits: |m| * scale is
// whole + rest / 2^s, and rest is compared with half = 2^(s - 1).
struct Scaled {
    uint64_t whole, rest, half;
};

Scaled scaled(double m, uint64_t scale) {
    const uint64_t bits = to_bits(m);
    const int s = 1075 - static_cast<int>((bits >> 52) & 0x7FF);
    const uint64_t x = ((bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52)) * scale;
    return {x >> s, x & ((uint64_t{1} << s) - 1), uint64_t{1} << (s - 1)};
}

// |m| * scale rounded to an integer, ties to even.
uint64_t rounded(double m, uint64_t scale) {
    const Scaled x = scaled(m, scale);
    return x.whole + (x.rest > x.half || (x.rest == x.half && (x.whole & 1)));
}

// 10^-28 to 10^33: the scale 10^3 or 10^2 over 10^e for every exponent
// BDFreal8 gives, as correctly rounded literals.
constexpr double scale_powers[62] = {
    1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16,
    1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9,  1e-8,  1e-7,  1e-6,  1e-5,  1e-4,  1e-3,
    1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,   1e5,   1e6,   1e7,   1e8,   1e9,   1e10,
    1e11,  1e12,  1e13,  1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21,  1e22,  1e23,
    1e24,  1e25,  1e26,  1e27,  1e28,  1e29,  1e30,  1e31,  1e32,  1e33};

// The text through the general fixed-point formatting, for the mantissas
// that round up to 10.
BDFreal8_text real8_general(double mantissa, int e) {
    BDFreal8_text out;
    std::memcpy(out.text, unprintable_real8, sizeof out.text);
    char text[32];
    size_t len = BDFformat_fixed(mantissa, e > -10 && e < 10 ? 6 : 5, e > -10 && e < 10 ? 3 : 2,
                                 text, sizeof text);
    int n =
        std::snprintf(text + len, sizeof text - len, "%s%d", e >= 0 ? "+" : "-", e >= 0 ? e : -e);
    if (n > 0 && len + static_cast<size_t>(n) == BDF_REAL8_SIZE - 1)
        std::memcpy(out.text, text, sizeof out.text);
    return out;
}

// The tables of the inline common case (real8_fast.h), from the same
// thresholds and scale powers.
constexpr auto make_binades() {
    using sorvan::bdf::real8::Binade;
    std::array<Binade, sorvan::bdf::real8::binade_max - sorvan::bdf::real8::binade_min + 1> t{};
    for (int b = sorvan::bdf::real8::binade_min; b <= sorvan::bdf::real8::binade_max; ++b) {
        const double low = std::bit_cast<double>(static_cast<uint64_t>(b + 1023) << 52);
        const double high = std::bit_cast<double>(static_cast<uint64_t>(b + 1024) << 52);
        const int e = real8_exponent(low);
        const double next = real8_tables.threshold(e + 1);
        t[static_cast<size_t>(b - sorvan::bdf::real8::binade_min)] = {
            next < high ? next : std::numeric_limits<double>::infinity(), e};
    }
    return t;
}

constexpr auto make_decades() {
    std::array<sorvan::bdf::real8::Decade, 2 * max_exponent + 1> t{};
    for (int e = -max_exponent; e <= max_exponent; ++e) {
        const bool three = e > -10 && e < 10;
        const uint64_t sign = e < 0 ? '-' : '+';
        const auto magnitude = static_cast<uint64_t>(e < 0 ? -e : e);
        // ' ', d, '.', d, d, d, sign, e  or  ' ', d, '.', d, d, sign, e, e
        const uint64_t frame = three ? 0x2E0020 | sign << 48 | ('0' + magnitude) << 56
                                     : 0x2E0020 | sign << 40 | ('0' + magnitude / 10) << 48 |
                                           ('0' + magnitude % 10) << 56;
        t[static_cast<size_t>(e + max_exponent)] = {scale_powers[(three ? 3 : 2) - e + 28],
                                                    three ? 1U : 10U, frame,
                                                    three ? 0xFFFFFF00FF00ULL : 0xFFFF00FF00ULL};
    }
    return t;
}

// The characters of 0 to 99 at bytes `first` and `second` of a word.
constexpr std::array<uint64_t, 100> make_pairs(int first, int second) {
    std::array<uint64_t, 100> t{};
    for (uint64_t v = 0; v < 100; ++v)
        t[v] = ('0' + v / 10) << (8 * first) | ('0' + v % 10) << (8 * second);
    return t;
}

} // namespace

namespace sorvan::bdf::real8 {

constexpr std::array<Binade, binade_max - binade_min + 1> binades = make_binades();
constexpr std::array<Decade, 61> decades = make_decades();
constexpr std::array<uint64_t, 100> high_pairs = make_pairs(1, 3), low_pairs = make_pairs(4, 5);

} // namespace sorvan::bdf::real8

size_t BDFformat_fixed(double value, int width, int precision, char *out, size_t size) {
    if (size == 0) return 0;
    out[0] = '\0';
    if (precision < 0 || precision > max_precision || width < 0) return 0;
    char digits[fixed_buffer];
    auto [end, ec] =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, precision);
    if (ec != std::errc()) return 0;
    size_t len = static_cast<size_t>(end - digits);
    size_t pad = len < static_cast<size_t>(width) ? static_cast<size_t>(width) - len : 0;
    if (pad + len >= size) return 0;
    std::memset(out, ' ', pad);
    std::memcpy(out + pad, digits, len);
    out[pad + len] = '\0';
    return pad + len;
}

BDFreal8_text BDFreal8(double value) {
    BDFreal8_text out;
    out.text[BDF_REAL8_SIZE - 1] = '\0';
    if (sorvan::bdf::real8::put_fast(out.text, value)) return out;
    if (!(std::fabs(value) < BDF_REAL8_LIMIT)) { // what BDFreal8_fits refuses, NaN included
        std::memcpy(out.text, unprintable_real8, sizeof out.text);
        return out;
    }
    if (std::fabs(value) <= 1.0e-30) { // zero, -0.0 and tiny values: mantissa 0.0
        std::memcpy(out.text, " 0.000+0", sizeof out.text);
        return out;
    }
    // The exact quotient decides what the common case leaves: the edges of
    // the range and the mantissas near a rounding tie.
    const int e = real8_exponent(std::fabs(value));
    const double mantissa = value / pow10_table[e + max_exponent];
    const uint64_t r = rounded(mantissa, e > -10 && e < 10 ? 1000 : 100);
    if (r < 100000 && sorvan::bdf::real8::put_mantissa(
                          out.text, value < 0, static_cast<uint32_t>(r),
                          sorvan::bdf::real8::decades[static_cast<size_t>(e + max_exponent)]))
        return out;
    return real8_general(mantissa, e);
}

BDFreal16_text BDFreal16(double value) {
    BDFreal16_text out;
    constexpr int width = BDF_REAL16_SIZE - 1;
    std::memset(out.text, ' ', width);
    out.text[width] = '\0';
    if (!std::isfinite(value)) {
        std::memset(out.text, '*', width);
        return out;
    }
    if (value == 0.0) { // -0.0 too
        std::memcpy(out.text + width - 3, "0.0", 3);
        return out;
    }
    // Start from a one-digit exponent; when the rounded text's exponent
    // takes more digits, give the mantissa as many fewer and round again.
    // Fewer digits only ever round up to the next power of ten, so the
    // exponent the second pass finds fits the room left for it.
    const int sign = value < 0.0 ? 1 : 0;
    char text[40];
    int exponent_digits = 1;
    for (;;) {
        const int precision = width - real16_frame - sign - exponent_digits;
        const auto [end, ec] = std::to_chars(text, text + sizeof text, value,
                                             std::chars_format::scientific, precision);
        if (ec != std::errc()) return out; // cannot happen: 30 characters at most
        char *e = std::find(text, end, 'e');
        int magnitude = 0;
        std::from_chars(e + 2, end, magnitude); // "e+05", "e-300"
        const int digits = magnitude >= 100 ? 3 : magnitude >= 10 ? 2 : 1;
        if (digits > exponent_digits) {
            exponent_digits = digits;
            continue;
        }
        // The mantissa, then the exponent's sign and digits without zeros
        // in front, right-justified.
        char field[BDF_REAL16_SIZE];
        const auto mantissa = static_cast<size_t>(e - text);
        std::memcpy(field, text, mantissa);
        field[mantissa] = e[1];
        const auto tail = std::to_chars(field + mantissa + 1, field + sizeof field, magnitude).ptr;
        const auto length = static_cast<size_t>(tail - field);
        std::memcpy(out.text + width - length, field, length);
        return out;
    }
}

BDFsci_text BDFsci(double value) {
    BDFsci_text out;
    auto [end, ec] = std::to_chars(out.text, out.text + sizeof out.text - 1, value,
                                   std::chars_format::scientific, 6);
    if (ec != std::errc()) end = out.text; // cannot happen: 14 characters at most
    *end = '\0';
    for (char *p = out.text; p != end; ++p)
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    return out;
}
