// Exact conversions between decimal digits and doubles, the engine of the
// ABC field: 17 significant digits and a decimal exponent to the correctly
// rounded double and back, through 128-bit products by a table of powers
// of ten. Whenever those bits cannot decide the rounding, the functions say
// so and the caller converts the general way: together they give the same
// bits and texts as the exact conversions, for every value. The digit
// helpers work on eight characters at a time in one 64-bit word.
#ifndef SORVAN_MODEL_INPUT_DECIMAL_H
#define SORVAN_MODEL_INPUT_DECIMAL_H

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace sorvan::decimal {

constexpr uint64_t pow10_16 = 10000000000000000;
constexpr uint64_t pow10_17 = 100000000000000000;

// Powers of ten in 128 bits
//
// 10^k for pow10_min <= k <= pow10_max: the 128 leading bits hi:lo of its
// binary expansion, rounded down, so that 10^k = (hi:lo + f) * 2^(exp2 - 127)
// with 0 <= f < 1, and f = 0 exactly when exact is set. exp2 is
// floor(log2(10^k)). The range covers every decimal exponent a double's 17
// digits can need, in both directions.
constexpr int pow10_min = -348;
constexpr int pow10_max = 347;

struct pow10_entry {
    uint64_t hi, lo;
    int32_t exp2;
    bool exact;
};

using pow10_powers = std::array<pow10_entry, pow10_max - pow10_min + 1>;
extern const pow10_powers pow10;

constexpr const pow10_entry &pow10_of(int k) {
    return pow10[static_cast<size_t>(k - pow10_min)];
}

struct u128 {
    uint64_t hi, lo;
};

inline u128 multiply(uint64_t a, uint64_t b) {
#if defined(__SIZEOF_INT128__)
    const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
    return {static_cast<uint64_t>(p >> 64), static_cast<uint64_t>(p)};
#else
    const uint64_t a0 = a & 0xFFFFFFFF, a1 = a >> 32, b0 = b & 0xFFFFFFFF, b1 = b >> 32;
    const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFF) + (p10 & 0xFFFFFFFF);
    return {p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32), mid << 32 | (p00 & 0xFFFFFFFF)};
#endif
}

// w * 10^q rounded to the nearest double (negated when negative), for
// 0 < w < 2^64, into *out. False when the 128-bit product cannot decide the
// rounding, or the result would be subnormal or out of range: the caller
// then converts the text exactly. The normalised w times the table's
// leading bits gives the leading bits of the result; where a carry from the
// bits left out could still change them, the lower table word is taken in,
// and an exact tie between two doubles is never decided here. Inline: the
// ABC reader runs it for every value of a model.
inline bool scale(uint64_t w, int q, bool negative, double *out) {
    if (q < pow10_min || q > pow10_max) return false;
    const pow10_entry &t = pow10_of(q);
    const int shift = std::countl_zero(w);
    w <<= shift;
    u128 x = multiply(w, t.hi);
    if ((x.hi & 0x1FF) == 0x1FF && x.lo + w < w) {
        const u128 y = multiply(w, t.lo);
        uint64_t hi = x.hi;
        const uint64_t lo = x.lo + y.hi;
        if (lo < x.lo) ++hi;
        if ((hi & 0x1FF) == 0x1FF && lo + 1 == 0 && y.lo + w < w) return false;
        x = {hi, lo};
    }
    const int top = static_cast<int>(x.hi >> 63);
    uint64_t mantissa = x.hi >> (top + 9); // 54 bits: the double's 53 and one more
    int64_t exponent = int64_t{t.exp2} + 1086 + top - shift; // biased
    if (x.lo == 0 && (x.hi & 0x1FF) == 0 && (mantissa & 3) == 1)
        return false; // halfway: the bits left out decide
    mantissa += mantissa & 1;
    mantissa >>= 1;
    if (mantissa >> 53 != 0) {
        mantissa >>= 1;
        ++exponent;
    }
    if (exponent <= 0 || exponent >= 0x7FF) return false;
    const uint64_t bits =
        static_cast<uint64_t>(exponent) << 52 | (mantissa & ((uint64_t{1} << 52) - 1));
    *out = std::bit_cast<double>(negative ? bits | uint64_t{1} << 63 : bits);
    return true;
}

// The 17 significant digits of v's magnitude, correctly rounded with ties
// to even, as *n in [10^16, 10^17) and its decimal exponent, for a finite
// v other than zero. False when the product cannot decide the rounding.
bool seventeen_digits(double v, uint64_t *n, int *exp10);

// "00" to "99", two characters each.
extern const char digit_pairs[];

// Stores the eight bytes of v at out, the lowest byte first.
inline void store8(char *out, uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, &v, 8);
    } else {
        for (int i = 0; i < 8; ++i)
            out[i] = static_cast<char>(v >> (8 * i));
    }
}

// The eight decimal digits of v < 10^8, zero-padded, at out. The digits are
// split in lanes of one word: two of four digits, four of two, eight of one
// (v * 10486 >> 20 is v / 100 below 10^4, v * 103 >> 10 is v / 10 below 100).
inline void put_eight(char *out, uint32_t v) {
    uint64_t w = v / 10000 | uint64_t{v % 10000} << 32;
    const uint64_t hundreds = ((w * 10486) >> 20) & 0x0000007F0000007F;
    w = hundreds | (w - hundreds * 100) << 16;
    const uint64_t tens = ((w * 103) >> 10) & 0x000F000F000F000F;
    w = tens | (w - tens * 10) << 8;
    store8(out, w + 0x3030303030303030);
}

} // namespace sorvan::decimal

#endif
