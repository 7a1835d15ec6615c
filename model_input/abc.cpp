// ABC matrix files: one state-space matrix per text file, one row per line,
// every value in a field of ABC_FIELD_WIDTH characters.
//
// The reader makes one pass over the file. The first line fixes the line
// length and, through it, the column count; every later line must have the
// same length (the last may lack its line end), and every line must hold at
// least that many values. A file that breaks this is refused with a
// diagnostic naming the file and the line, so a matrix is either read whole
// or not at all.
//
// Models reach millions of values, so both directions have a fast path for
// the field layout the writer produces: the 17 digits and the exponent are
// converted with 128-bit products by a table of powers of ten, and whenever
// those bits cannot decide the rounding the exact general conversion runs
// instead. The fast paths therefore give the same bits and the same texts as
// the general ones, for every value.
#include "model_input/abc.h"
#include "model_input/map.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// ======================================================================
// Powers of ten in 128 bits
// ======================================================================

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

struct pow10_table {
    pow10_entry at[pow10_max - pow10_min + 1];
};

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
constexpr pow10_table make_pow10() {
    pow10_table t{};
    big p{};
    p.limb[0] = 1;
    for (int k = 0; k <= pow10_max; ++k) {
        const int length = bit_length(p);
        t.at[k - pow10_min] =
            leading_bits(p, length, k + length - 1, !any_bit_below(p, length - 128));
        multiply_small(p, 5);
    }
    constexpr int top = 32 * big_limbs - 1;
    big q{};
    q.limb[big_limbs - 1] = 1U << 31; // 2^1279
    for (int n = 1; n <= -pow10_min; ++n) {
        divide_small(q, 5);
        const int length = bit_length(q);
        t.at[-n - pow10_min] = leading_bits(q, length, length - 1 - n - top, false);
    }
    return t;
}

constexpr pow10_table pow10 = make_pow10();

constexpr const pow10_entry &pow10_of(int k) {
    return pow10.at[k - pow10_min];
}

static_assert(pow10_of(0).hi == uint64_t{1} << 63 && pow10_of(0).lo == 0 && pow10_of(0).exact);
static_assert(pow10_of(1).hi == 0xA000000000000000 && pow10_of(1).exp2 == 3);
static_assert(pow10_of(-1).hi == 0xCCCCCCCCCCCCCCCC && pow10_of(-1).lo == 0xCCCCCCCCCCCCCCCC &&
              pow10_of(-1).exp2 == -4 && !pow10_of(-1).exact);
static_assert(pow10_of(55).exact && !pow10_of(56).exact);

struct u128 {
    uint64_t hi, lo;
};

u128 multiply(uint64_t a, uint64_t b) {
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

double from_bits(uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

uint64_t to_bits(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

constexpr uint64_t sign_bit = uint64_t{1} << 63;
constexpr uint64_t fraction_mask = (uint64_t{1} << 52) - 1;

// ======================================================================
// Text to double
// ======================================================================

// w * 10^q rounded to the nearest double, for 0 < w < 2^64, into *out.
// False when the 128-bit product cannot decide the rounding, or the result
// would be subnormal or out of range: the caller then converts the text
// exactly. The normalised w times the table's leading bits gives the
// leading bits of the result; where a carry from the bits left out could
// still change them, the lower table word is taken in, and an exact tie
// between two doubles is never decided here.
bool scale_decimal(uint64_t w, int q, bool negative, double *out) {
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
    const uint64_t bits = static_cast<uint64_t>(exponent) << 52 | (mantissa & fraction_mask);
    *out = from_bits(negative ? bits | sign_bit : bits);
    return true;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_sign(char c) {
    return c == '+' || c == '-';
}

// Eight characters as a little-endian word, the first in the lowest byte.
uint64_t load8(const char *p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(p[i]);
    return v;
}

// Whether all eight bytes of the word are the digits '0' to '9'.
bool eight_digits(uint64_t v) {
    return ((v & 0xF0F0F0F0F0F0F0F0) | (((v + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) >> 4)) ==
           0x3333333333333333;
}

// The number that eight digit bytes spell, the first the most significant.
uint32_t eight_digit_value(uint64_t v) {
    v -= 0x3030303030303030;
    v = v * 10 + (v >> 8); // pairs of digits
    v = (((v & 0x000000FF000000FF) * 0x000F424000000064) +
         (((v >> 16) & 0x000000FF000000FF) * 0x0000271000000001)) >>
        32;
    return static_cast<uint32_t>(v);
}

// One field in exactly the writer's layout, " +d.ddddddddddddddddE+ddd" (a
// lower-case "e" allowed), into *out; false when any character deviates, and
// the caller parses the line the general way.
bool parse_field(const char *p, double *out) {
    if (p[0] != ' ' || !is_sign(p[1]) || !is_digit(p[2]) || p[3] != '.' ||
        (p[20] != 'E' && p[20] != 'e') || !is_sign(p[21]) || !is_digit(p[22]) || !is_digit(p[23]) ||
        !is_digit(p[24]))
        return false;
    const uint64_t high = load8(p + 4), low = load8(p + 12);
    if (!eight_digits(high) || !eight_digits(low)) return false;
    const uint64_t w = static_cast<uint64_t>(p[2] - '0') * 10000000000000000 +
                       uint64_t{eight_digit_value(high)} * 100000000 + eight_digit_value(low);
    int exponent = (p[22] - '0') * 100 + (p[23] - '0') * 10 + (p[24] - '0');
    if (p[21] == '-') exponent = -exponent;
    const bool negative = p[1] == '-';
    if (w == 0)
        *out = negative ? -0.0 : 0.0;
    else if (!scale_decimal(w, exponent - 16, negative, out))
        *out = MAPparse_real(p + 1, p + ABC_FIELD_WIDTH, nullptr);
    return true;
}

// ======================================================================
// Double to text
// ======================================================================

constexpr uint64_t pow10_16 = 10000000000000000;
constexpr uint64_t pow10_17 = 100000000000000000;

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

// Stores the eight bytes of v at out, the lowest byte first.
void store8(char *out, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<char>(v >> (8 * i));
}

// The eight decimal digits of v < 10^8, zero-padded, at out. The digits are
// split in lanes of one word: two of four digits, four of two, eight of one
// (v * 10486 >> 20 is v / 100 below 10^4, v * 103 >> 10 is v / 10 below 100).
void put_eight(char *out, uint32_t v) {
    uint64_t w = v / 10000 | uint64_t{v % 10000} << 32;
    const uint64_t hundreds = ((w * 10486) >> 20) & 0x0000007F0000007F;
    w = hundreds | (w - hundreds * 100) << 16;
    const uint64_t tens = ((w * 103) >> 10) & 0x000F000F000F000F;
    w = tens | (w - tens * 10) << 8;
    store8(out, w + 0x3030303030303030);
}

// The writer's field for a finite value other than zero, from its digits.
void put_field(char *out, bool negative, uint64_t n, int e10) {
    out[0] = ' ';
    out[1] = negative ? '-' : '+';
    out[2] = static_cast<char>('0' + n / pow10_16);
    out[3] = '.';
    const uint64_t rest = n % pow10_16;
    put_eight(out + 4, static_cast<uint32_t>(rest / 100000000));
    put_eight(out + 12, static_cast<uint32_t>(rest % 100000000));
    out[20] = 'E';
    out[21] = e10 < 0 ? '-' : '+';
    const int e = e10 < 0 ? -e10 : e10;
    out[22] = static_cast<char>('0' + e / 100);
    std::memcpy(out + 23, digit_pairs + 2 * (e % 100), 2);
    out[ABC_FIELD_WIDTH] = '\0';
}

// The general formatting, exact for every value: the standard conversion
// with 16 decimals, its exponent widened to three digits.
void format_exact(double value, char out[ABC_FIELD_WIDTH + 1]) {
    std::memset(out, ' ', ABC_FIELD_WIDTH);
    out[ABC_FIELD_WIDTH] = '\0';
    const char sign = std::signbit(value) ? '-' : '+';
    if (!std::isfinite(value)) { // right-aligned like the finite fields
        out[ABC_FIELD_WIDTH - 4] = sign;
        std::memcpy(out + ABC_FIELD_WIDTH - 3, std::isnan(value) ? "NAN" : "INF", 3);
        return;
    }
    // "d.dddddddddddddddde+dd" with two to three exponent digits.
    char text[32];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, std::fabs(value),
                                                 std::chars_format::scientific, 16);
    const char *exponent = text + 20; // after "d.", 16 digits, "e" and its sign
    const size_t digits = static_cast<size_t>(r.ptr - exponent);
    out[1] = sign;
    std::memcpy(out + 2, text, 18);
    out[20] = 'E';
    out[21] = text[19];
    out[22] = out[23] = '0';
    std::memcpy(out + ABC_FIELD_WIDTH - digits, exponent, digits);
}

} // namespace

// ======================================================================
// Writing
// ======================================================================

extern "C" void ABCformat_value(double value, char out[ABC_FIELD_WIDTH + 1]) {
    uint64_t n;
    int e10;
    if (value != 0.0 && std::isfinite(value) && seventeen_digits(value, &n, &e10))
        put_field(out, std::signbit(value), n, e10);
    else
        format_exact(value, out);
}

extern "C" int ABCwrite_row(FILE *file, const double *values, int32_t n) {
    if (file == nullptr || n < 0 || (n > 0 && values == nullptr)) return -1;
    enum { fields_per_write = 160 }; // 4000 bytes at a time
    char buffer[fields_per_write * ABC_FIELD_WIDTH + 1];
    for (int32_t i = 0; i < n;) {
        size_t used = 0;
        for (int k = 0; k < fields_per_write && i < n; ++k, ++i, used += ABC_FIELD_WIDTH)
            ABCformat_value(values[i], buffer + used);
        if (std::fwrite(buffer, 1, used, file) != used) return -1;
    }
    if (std::fputc('\n', file) == EOF || std::ferror(file)) return -1;
    return 0;
}

// ======================================================================
// Reading
// ======================================================================

namespace {

// A line of more characters would give more than INT32_MAX columns.
constexpr unsigned long long max_line = 25ULL * INT32_MAX + 23;

// Bytes fetched from the file at once, at least: large reads keep the
// pass over a file of hundreds of megabytes at the speed of the disk. The
// buffer grows beyond this only to hold one line whole.
constexpr size_t chunk_size = size_t{1} << 20;

// A file smaller than a chunk gets a window of its own size (the D matrix
// of a set is often a few hundred bytes), rounded up to whole pages.
constexpr size_t page_size = 4096;

enum line_status { line_read, line_eof, line_error, line_too_long, line_no_memory, line_nul };

// The reading state of one file: a window of its bytes and the current
// line, which lies inside the window without its line end ("\n", or
// "\r\n") and stays valid until the next line is read.
struct reader {
    FILE *file;
    const char *name;
    unsigned long number; // of the current line, from 1
    char *buffer;
    size_t pos, fill, capacity; // unread bytes are buffer[pos, fill)
    size_t window;              // capacity of the first allocation
    bool at_end;
    const char *line;
    size_t length;
    char message[64]; // a diagnostic composed for the current line
};

// Makes room behind the unread bytes: moves them to the front, and doubles
// the buffer when they fill it. False when out of memory.
bool make_room(reader *r) {
    const size_t unread = r->fill - r->pos;
    if (r->pos > 0) {
        std::memmove(r->buffer, r->buffer + r->pos, unread);
        r->pos = 0;
        r->fill = unread;
    }
    if (r->fill < r->capacity) return true;
    if (r->capacity > SIZE_MAX / 2) return false;
    const size_t capacity = r->capacity == 0 ? r->window : r->capacity * 2;
    char *grown = static_cast<char *>(std::realloc(r->buffer, capacity));
    if (grown == nullptr) return false;
    r->buffer = grown;
    r->capacity = capacity;
    return true;
}

// Reads the next line, of at most limit characters before its line end
// (a "\r" before the "\n" is allowed beyond it and dropped).
line_status next_line(reader *r, unsigned long long limit) {
    ++r->number;
    size_t searched = 0; // unread bytes known to hold no "\n"
    for (;;) {
        const char *start = r->buffer + r->pos;
        const size_t unread = r->fill - r->pos;
        const char *lf = static_cast<const char *>(
            unread > searched ? std::memchr(start + searched, '\n', unread - searched) : nullptr);
        if (lf != nullptr) {
            size_t n = static_cast<size_t>(lf - start);
            r->pos += n + 1;
            if (n > 0 && start[n - 1] == '\r') --n;
            r->line = start;
            r->length = n;
            return n > limit ? line_too_long : line_read;
        }
        // The first line has no length limit but the column count's: a
        // NUL byte before its end marks a binary file or a device such as
        // an endless stream of zeros, which is refused at once.
        if (limit == max_line && unread > searched &&
            std::memchr(start + searched, '\0', unread - searched))
            return line_nul;
        searched = unread;
        if (unread > limit + 1) return line_too_long;
        if (r->at_end) {
            r->line = start;
            r->length = unread;
            r->pos = r->fill;
            return unread > 0 ? line_read : line_eof;
        }
        if (!make_room(r)) return line_no_memory;
        const size_t got = std::fread(r->buffer + r->fill, 1, r->capacity - r->fill, r->file);
        if (got == 0) {
            if (std::ferror(r->file)) return line_error;
            r->at_end = true;
        }
        r->fill += got;
    }
}

// Prints a diagnostic about the current line and returns NULL.
ABCmtx *refuse(reader *r, const char *what) {
    std::printf("ABC file %s, line %lu: %s\n", r->name, r->number, what);
    std::fflush(stdout);
    return nullptr;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// What parse_row found wrong with a line.
struct row_fault {
    int32_t not_a_number = 0; // position, from 1, of a token that is not wholly a number
    bool trailing = false;    // text after the last of the ncols fields
};

// Converts the first ncols tokens of the current line into row; tokens are
// runs of characters other than space and line end. Returns the number of
// values found (at most ncols). A line of ncols fields in the writer's
// layout takes the fast path; any other line is tokenised. A token that is
// not wholly a number (letters after the digits, a NUL byte, a Fortran "D"
// exponent) would be read as its numeric prefix, silently another matrix:
// its position goes to the fault and the parse stops there. So does any
// text after the last field: the column rule counts the fields from the
// line's length, and a value beyond them would silently be lost.
int32_t parse_row(const reader *r, double *row, int32_t ncols, row_fault *fault) {
    const char *p = r->line;
    if (r->length == static_cast<size_t>(ncols) * ABC_FIELD_WIDTH) {
        int32_t j = 0;
        while (j < ncols && parse_field(p + static_cast<size_t>(j) * ABC_FIELD_WIDTH, &row[j]))
            ++j;
        if (j == ncols) return ncols;
    }
    const char *end = r->line + r->length;
    int32_t found = 0;
    while (found < ncols) {
        while (p < end && (*p == ' ' || *p == '\n'))
            ++p;
        if (p == end) break;
        const char *token = p;
        while (p < end && *p != ' ' && *p != '\n')
            ++p;
        const char *stop = nullptr;
        row[found++] = MAPparse_real(token, p, &stop);
        if (stop != p) {
            fault->not_a_number = found;
            return found;
        }
    }
    while (p < end && (is_blank(*p) || *p == '\n'))
        ++p;
    fault->trailing = p < end;
    return found;
}

void release(ABCmtx *m, int32_t rows) {
    if (m->rows != nullptr)
        for (int32_t i = 0; i < rows; ++i)
            std::free(m->rows[i]);
    std::free(m->rows);
    std::free(m);
}

// Makes room for one more row pointer.
bool grow_rows(ABCmtx *m, int32_t *capacity) {
    if (m->nrows < *capacity) return true;
    int32_t wanted = *capacity < 16 ? 16 : *capacity;
    wanted = wanted > INT32_MAX / 2 ? INT32_MAX : wanted * 2;
    if (static_cast<unsigned long long>(wanted) > SIZE_MAX / sizeof(double *)) return false;
    void *grown = std::realloc(m->rows, static_cast<size_t>(wanted) * sizeof(double *));
    if (grown == nullptr) return false;
    m->rows = static_cast<double **>(grown);
    *capacity = wanted;
    return true;
}

// Adds the current line as the next row.
const char *add_row(reader *r, ABCmtx *m, int32_t *capacity) {
    if (m->nrows == INT32_MAX) return "more than 2147483647 rows";
    if (!grow_rows(m, capacity)) return "out of memory";
    double *row = nullptr;
    if (m->ncols > 0) {
        row = static_cast<double *>(std::calloc(static_cast<size_t>(m->ncols), sizeof *row));
        if (row == nullptr) return "out of memory";
    }
    m->rows[m->nrows++] = row;
    row_fault fault;
    const int32_t found = parse_row(r, row, m->ncols, &fault);
    if (fault.not_a_number > 0) {
        std::snprintf(r->message, sizeof r->message, "field %d is not a number",
                      fault.not_a_number);
        return r->message;
    }
    if (found < m->ncols) return "fewer values than the first line's columns";
    if (fault.trailing) {
        std::snprintf(r->message, sizeof r->message, "text after the last of its %d fields",
                      m->ncols);
        return r->message;
    }
    // An infinity or a NaN is no matrix term: a NaN passes no threshold and
    // would silently drop out of its card.
    for (int32_t j = 0; j < m->ncols; ++j)
        if (!std::isfinite(row[j])) {
            std::snprintf(r->message, sizeof r->message, "field %d is not a finite number", j + 1);
            return r->message;
        }
    return nullptr;
}

const char *status_text(line_status s) {
    switch (s) {
    case line_error:
        return "read error";
    case line_too_long:
        return "longer than the first line";
    case line_nul:
        return "a NUL byte before the first line end: not a text file";
    default:
        return "out of memory";
    }
}

// Reads the open file whole; NULL (with a diagnostic) when it breaks the
// layout.
ABCmtx *read_matrix(reader *r) {
    ABCmtx *m = static_cast<ABCmtx *>(std::calloc(1, sizeof(ABCmtx)));
    if (m == nullptr) return refuse(r, "out of memory");
    line_status s = next_line(r, max_line);
    if (s == line_eof) return m; // a matrix without rows
    if (s != line_read) {
        release(m, 0);
        return refuse(r, s == line_too_long ? "more than 2147483647 columns" : status_text(s));
    }
    const size_t width = r->length;
    // The column rule: the line's length, with one line end character,
    // times 0.04 and truncated; L div 25 for every length that can occur.
    m->ncols = static_cast<int32_t>(static_cast<double>(width + 1) * 0.04);
    int32_t capacity = 0;
    for (;;) {
        if (const char *fault = add_row(r, m, &capacity)) {
            release(m, m->nrows);
            return refuse(r, fault);
        }
        s = next_line(r, width);
        if (s == line_eof) return m;
        if (s != line_read || r->length != width) {
            release(m, m->nrows);
            if (s == line_read)
                return refuse(r, r->length > width ? "longer than the first line"
                                                   : "shorter than the first line");
            return refuse(r, status_text(s));
        }
    }
}

// The first window for a file: its size and one byte more (so that the
// first read meets the end), in whole pages, at most a chunk. A file whose
// size cannot be told (a pipe) gets a chunk; 0 when the file was measured
// but cannot be wound back to its start.
size_t first_window(FILE *file) {
    if (std::fseek(file, 0, SEEK_END) != 0) {
        std::clearerr(file);
        return chunk_size;
    }
    const long size = std::ftell(file);
    if (std::fseek(file, 0, SEEK_SET) != 0) return 0;
    if (size < 0 || static_cast<unsigned long>(size) >= chunk_size) return chunk_size;
    return (static_cast<size_t>(size) / page_size + 1) * page_size;
}

// base followed by the letter, on the heap; NULL when out of memory.
char *file_name(const char *base, char letter) {
    const size_t n = std::strlen(base);
    if (n > SIZE_MAX - 2) return nullptr;
    char *name = static_cast<char *>(std::malloc(n + 2));
    if (name != nullptr) {
        std::memcpy(name, base, n);
        name[n] = letter;
        name[n + 1] = '\0';
    }
    return name;
}

} // namespace

extern "C" ABCmtx *ABCread_mtx(const char *base, char letter) {
    if (base == nullptr) return nullptr;
    char *name = file_name(base, letter);
    if (name == nullptr) return nullptr;
    FILE *file = std::fopen(name, "r");
    if (file == nullptr) {
        std::free(name);
        return nullptr;
    }
    reader *r = static_cast<reader *>(std::calloc(1, sizeof(reader)));
    ABCmtx *m = nullptr;
    if (r != nullptr) {
        r->file = file;
        r->name = name;
        r->window = first_window(file);
        if (r->window != 0)
            m = read_matrix(r);
        else
            std::printf("ABC file %s: read error\n", name);
        std::free(r->buffer);
        std::free(r);
    } else {
        std::printf("ABC file %s: out of memory\n", name);
    }
    std::fclose(file);
    std::free(name);
    return m;
}

extern "C" void ABCfree(ABCmtx *mtx) {
    if (mtx == nullptr) return;
    release(mtx, mtx->nrows);
}
