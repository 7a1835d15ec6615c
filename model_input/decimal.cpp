// Exact conversions between decimal digits and doubles through 128-bit
// products by a table of powers of ten; see decimal.h.
#include "model_input/decimal.h"

#include <bit>
#include <cstdint>

namespace sorvan::decimal {

namespace {

// The table of powers of ten (decimal.h), built at compile time.
//
// Natural numbers of up to 1280 bits, for building the table: 5^348 has 809
// bits, and 2^1279 / 5^348 keeps well over the 128 bits needed.
constexpr int big_limbs = 40;

struct big {
    uint32_t limb[big_limbs]; // least significant first
};

constexpr int bit_length(const big &b) {
    for (int i = big_limbs - 1; i >= 0; --i)
        if (b.limb[i] != 0) return 32 * i + 32 - std::countl_zero(b.limb[i]);
    return 0;
}

// Limb i of b, 0 beyond either end.
constexpr uint64_t limb(const big &b, int i) {
    return i < 0 || i >= big_limbs ? 0 : b.limb[i];
}

// The 64 bits of b from bit pos upward (bits below 0 read as zeros).
constexpr uint64_t bits_from(const big &b, int pos) {
    const int k = pos >= 0 ? pos / 32 : -((31 - pos) / 32); // rounded down
    const int r = pos - 32 * k;
    const uint64_t low = limb(b, k) | limb(b, k + 1) << 32;
    return r == 0 ? low : low >> r | limb(b, k + 2) << (64 - r);
}

constexpr bool any_bit_below(const big &b, int pos) {
    for (int i = 0; i < big_limbs && 32 * i < pos; ++i) {
        const int n = pos - 32 * i; // bits of limb i below pos
        if (b.limb[i] & (n >= 32 ? 0xFFFFFFFFU : (1U << n) - 1)) return true;
    }
    return false;
}

constexpr void multiply_small(big &b, uint32_t factor) {
    uint64_t carry = 0;
    for (uint32_t &l : b.limb) {
        const uint64_t v = uint64_t{l} * factor + carry;
        l = static_cast<uint32_t>(v);
        carry = v >> 32;
    }
}

constexpr void divide_small(big &b, uint32_t divisor) // rounds down
{
    uint64_t rest = 0;
    for (int i = big_limbs - 1; i >= 0; --i) {
        const uint64_t v = rest << 32 | b.limb[i];
        b.limb[i] = static_cast<uint32_t>(v / divisor);
        rest = v % divisor;
    }
}

// The leading 128 bits of b, which has length bits.
constexpr pow10_entry leading_bits(const big &b, int length, int32_t exp2, bool exact) {
    return pow10_entry{bits_from(b, length - 64), bits_from(b, length - 128), exp2, exact};
}

// 10^k = 5^k * 2^k for k >= 0; for k = -n < 0 the quotient 2^1279 / 5^n,
// rounded down, holds the leading bits of 10^-n * 2^(1279 + n). Rounding
// down repeatedly by 5 is rounding down once by 5^n.
constexpr pow10_powers make_pow10() {
    pow10_powers t{};
    big p{};
    p.limb[0] = 1;
    for (int k = 0; k <= pow10_max; ++k) {
        const int length = bit_length(p);
        t[static_cast<size_t>(k - pow10_min)] =
            leading_bits(p, length, k + length - 1, !any_bit_below(p, length - 128));
        multiply_small(p, 5);
    }
    constexpr int top = 32 * big_limbs - 1;
    big q{};
    q.limb[big_limbs - 1] = 1U << 31; // 2^1279
    for (int n = 1; n <= -pow10_min; ++n) {
        divide_small(q, 5);
        const int length = bit_length(q);
        t[static_cast<size_t>(-n - pow10_min)] =
            leading_bits(q, length, length - 1 - n - top, false);
    }
    return t;
}

} // namespace

constexpr pow10_powers pow10 = make_pow10();

namespace {

static_assert(pow10_of(0).hi == uint64_t{1} << 63 && pow10_of(0).lo == 0 && pow10_of(0).exact);
static_assert(pow10_of(1).hi == 0xA000000000000000 && pow10_of(1).exp2 == 3);
static_assert(pow10_of(-1).hi == 0xCCCCCCCCCCCCCCCC && pow10_of(-1).lo == 0xCCCCCCCCCCCCCCCC &&
              pow10_of(-1).exp2 == -4 && !pow10_of(-1).exact);
static_assert(pow10_of(55).exact && !pow10_of(56).exact);

uint64_t to_bits(double v) {
    return std::bit_cast<uint64_t>(v);
}

constexpr uint64_t sign_bit = uint64_t{1} << 63;
constexpr uint64_t fraction_mask = (uint64_t{1} << 52) - 1;

} // namespace

// ======================================================================
// Double to text
// ======================================================================

// The 17 significant digits of v's magnitude, correctly rounded with ties
// to even, as n in [10^16, 10^17) and its decimal exponent; for a finite v
// other than zero. False when the 128-bit product cannot decide the
// rounding; the caller then prints exactly.
//
// With |v| = m * 2^e2 and 10^k = (T + f) * 2^(exp2 - 127) (T the table's
// bits, 0 <= f < 1), |v| * 10^k is the 192-bit product P of the normalised
// m and T, shifted right by sh bits, plus less than m units of P's last
// bit. That error can only matter when the bits below the half bit sit
// just under a half; at or above a half it only adds.
bool seventeen_digits(double v, uint64_t *n, int *exp10) {
    const uint64_t bits = to_bits(v) & ~sign_bit;
    const int biased = static_cast<int>(bits >> 52);
    uint64_t m = bits & fraction_mask;
    int e2 = -1074;
    if (biased != 0) {
        m |= uint64_t{1} << 52;
        e2 = biased - 1075;
    }
    const int shift = std::countl_zero(m);
    const uint64_t normal = m << shift;
    const int log2v = e2 + 63 - shift; // floor(log2 |v|)
    // floor(log10 |v|): floor(log2v * log10(2)), plus one when |v| reaches
    // the next power (compared on the leading bits; a miss by one is
    // caught below).
    int e10 = (log2v * 78913) >> 18;
    if (e10 + 1 <= pow10_max) {
        const pow10_entry &next = pow10_of(e10 + 1);
        e10 += log2v > next.exp2 || (log2v == next.exp2 && normal >= next.hi);
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int k = 16 - e10;
        if (k < pow10_min || k > pow10_max) return false;
        const pow10_entry &t = pow10_of(k);
        const u128 high = multiply(normal, t.hi), low = multiply(normal, t.lo);
        const uint64_t p0 = low.lo, p1 = low.hi + high.lo;
        const uint64_t p2 = high.hi + (p1 < low.hi ? 1 : 0);
        const int sh = 127 - e2 + shift - t.exp2;
        if (sh < 129 || sh > 191) return false;
        const int half_at = sh - 129; // the bit of p2 worth one half
        const uint64_t whole = p2 >> (sh - 128);
        if (whole >= pow10_17 || whole < pow10_16) {
            e10 += whole >= pow10_17 ? 1 : -1;
            continue;
        }
        const uint64_t below_mask = (uint64_t{1} << half_at) - 1;
        const uint64_t below = p2 & below_mask;
        const uint64_t half = (p2 >> half_at) & 1;
        if (!t.exact && half == 0 && below == below_mask && p1 == UINT64_MAX && p0 + normal < p0)
            return false;
        // Round up at a half when anything lies beyond it (always, for an
        // inexact power), at an exact half when whole is odd.
        const uint64_t beyond = static_cast<uint64_t>((below | p1 | p0) != 0) | (whole & 1) |
                                static_cast<uint64_t>(!t.exact);
        uint64_t rounded = whole + (half & beyond);
        if (rounded == pow10_17) {
            rounded = pow10_16;
            ++e10;
        }
        *n = rounded;
        *exp10 = e10;
        return true;
    }
    return false;
}

const char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

} // namespace sorvan::decimal
