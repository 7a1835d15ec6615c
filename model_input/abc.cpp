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
// converted with 128-bit products by a table of powers of ten (decimal.h),
// and whenever those bits cannot decide the rounding the exact general
// conversion runs instead. The fast paths therefore give the same bits and the same texts as
// the general ones, for every value.
#include "model_input/abc.h"
#include "model_input/decimal.h"
#include "model_input/map.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using namespace sorvan::decimal;

// Four characters as a little-endian word, the first in the lowest byte.
uint32_t load4(const char *p) {
    uint32_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&v, p, 4);
    } else {
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(p[i]);
    }
    return v;
}

// Whether the byte is '+' or '-'.
bool sign_byte(uint32_t c) {
    return ((c - '+') & ~2U) == 0;
}

// One field in exactly the writer's layout, " +d.ddddddddddddddddE+ddd" (a
// lower-case "e" allowed), into *out; false when any character deviates, and
// the caller parses the line the general way. All characters are checked
// before any is converted, and all checks are taken together: in a model's
// file every field passes.
#if defined(__SSE2__)
// Sixteen bytes at a time: each byte of the field's first and last sixteen
// (0 to 15, 9 to 24) lies strictly between its bounds, for a digit '/' and
// ':'; a sign passes as '+' to '-' and the exponent letter as 'E' to 'e',
// the words check them exactly. The sixteen digits after the point become
// numbers by multiply-adds: pairs, fours, then two of eight.
bool parse_field(const char *p, double *out) {
    const auto load = [](const char *at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
    };
    alignas(16) static constexpr char below[2][16] = {
        {0x1F, 0x2A, 0x2F, 0x2D, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F,
         0x2F},
        {0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x2F, 0x44, 0x2A, 0x2F, 0x2F,
         0x2F}};
    alignas(16) static constexpr char above[2][16] = {
        {0x21, 0x2E, 0x3A, 0x2F, 0x3A, 0x3A, 0x3A, 0x3A, 0x3A, 0x3A, 0x3A, 0x3A, 0x3A, 0x3A, 0x3A,
         0x3A},
        {0x3A, 0x3A, 0x3A, 0x3A, 0x3A, 0x3A, 0x3A, 0x3A, 0x3A, 0x3A, 0x3A, 0x66, 0x2E, 0x3A, 0x3A,
         0x3A}};
    const __m128i first = load(p), last = load(p + 9);
    const __m128i inside = _mm_and_si128(
        _mm_and_si128(_mm_cmpgt_epi8(first, load(below[0])), _mm_cmplt_epi8(first, load(above[0]))),
        _mm_and_si128(_mm_cmpgt_epi8(last, load(below[1])), _mm_cmplt_epi8(last, load(above[1]))));
    const uint32_t head = load4(p), tail = load4(p + 21); // ' ', sign, digit, '.'; sign, digits
    if (!((_mm_movemask_epi8(inside) == 0xFFFF) & sign_byte((head >> 8) & 0xFF) &
          sign_byte(tail & 0xFF) & ((static_cast<unsigned char>(p[20]) | 0x20) == 'e')))
        return false;
    const __m128i digits = _mm_sub_epi8(load(p + 4), _mm_set1_epi8('0'));
    const __m128i zero = _mm_setzero_si128();
    const __m128i ten_one = _mm_set1_epi32(0x0001000A); // 16-bit factors 10, 1
    const __m128i pairs = _mm_packs_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(digits, zero), ten_one),
                                          _mm_madd_epi16(_mm_unpackhi_epi8(digits, zero), ten_one));
    const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064)); // 100, 1
    const __m128i eights =
        _mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_set1_epi32(0x00012710)); // 10000, 1
    const auto high = static_cast<uint32_t>(_mm_cvtsi128_si32(eights));
    const auto low = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(eights, 4)));
    const uint64_t w = (((head >> 16) & 0xFF) - '0') * pow10_16 + uint64_t{high} * 100000000 + low;
    const uint32_t e = tail - 0x30303000; // the exponent's digits, one a byte
    const auto magnitude =
        static_cast<int>(((e >> 8) & 0xFF) * 100 + ((e >> 16) & 0xFF) * 10 + (e >> 24));
    const bool negative = ((head >> 8) & 0xFF) == '-';
    if (w == 0)
        *out = negative ? -0.0 : 0.0;
    else if (!scale(w, ((tail & 0xFF) == '-' ? -magnitude : magnitude) - 16, negative, out))
        *out = MAPparse_real(p + 1, p + ABC_FIELD_WIDTH, nullptr);
    return std::isfinite(*out); // beyond the doubles' range: the general way names it
}
#else
// Without SSE2 the lines go the general way.
bool parse_field(const char *, double *) {
    return false;
}
#endif

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

// What parse_row found wrong with a line, and whether it knows every value
// to be finite.
struct row_fault {
    int32_t not_a_number = 0; // position, from 1, of a token that is not wholly a number
    bool trailing = false;    // text after the last of the ncols fields
    bool finite = false;      // every value finite: the writer's layout throughout
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
        if (j == ncols) {
            fault->finite = true;
            return ncols;
        }
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
        // Not cleared: the row is either filled whole or refused and freed.
        row = static_cast<double *>(std::malloc(static_cast<size_t>(m->ncols) * sizeof *row));
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
    for (int32_t j = 0; j < m->ncols && !fault.finite; ++j)
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
