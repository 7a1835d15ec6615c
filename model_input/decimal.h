// Exact conversions between decimal digits and doubles, the engine of the
// ABC field: 17 significant digits and a decimal exponent to the correctly
// rounded double and back, through 128-bit products by a table of powers
// of ten. Whenever those bits cannot decide the rounding, the functions say
// so and the caller converts the general way: together they give the same
// bits and texts as the exact conversions, for every value. The digit
// helpers work on eight characters at a time in one 64-bit word.
#ifndef SORVAN_MODEL_INPUT_DECIMAL_H
#define SORVAN_MODEL_INPUT_DECIMAL_H

#include <cstdint>

namespace sorvan::decimal {

constexpr uint64_t pow10_16 = 10000000000000000;
constexpr uint64_t pow10_17 = 100000000000000000;

// w * 10^q rounded to the nearest double (negated when negative), for
// 0 < w < 2^64, into *out. False when the product cannot decide the
// rounding, or the result would be subnormal or out of range.
bool scale(uint64_t w, int q, bool negative, double *out);

// The 17 significant digits of v's magnitude, correctly rounded with ties
// to even, as *n in [10^16, 10^17) and its decimal exponent, for a finite
// v other than zero. False when the product cannot decide the rounding.
bool seventeen_digits(double v, uint64_t *n, int *exp10);

// "00" to "99", two characters each.
extern const char digit_pairs[];

// Eight characters as a little-endian word, the first in the lowest byte.
inline uint64_t load8(const char *p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(p[i]);
    return v;
}

// Whether all eight bytes of the word are the digits '0' to '9'.
inline bool eight_digits(uint64_t v) {
    return ((v & 0xF0F0F0F0F0F0F0F0) | (((v + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) >> 4)) ==
           0x3333333333333333;
}

// The number that eight digit bytes spell, the first the most significant.
inline uint32_t eight_digit_value(uint64_t v) {
    v -= 0x3030303030303030;
    v = v * 10 + (v >> 8); // pairs of digits
    v = (((v & 0x000000FF000000FF) * 0x000F424000000064) +
         (((v >> 16) & 0x000000FF000000FF) * 0x0000271000000001)) >>
        32;
    return static_cast<uint32_t>(v);
}

// Stores the eight bytes of v at out, the lowest byte first.
inline void store8(char *out, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<char>(v >> (8 * i));
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
