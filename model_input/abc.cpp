// ABC matrix files: one state-space matrix per text file, one row per line,
// every value in a field of ABC_FIELD_WIDTH characters.
//
// The reader makes one pass over the file. The first line fixes the line
// length and, through it, the column count; every later line must have the
// same length (the last may lack its line end), and every line must hold at
// least that many values. A file that breaks this is refused with a
// diagnostic naming the file and the line, so a matrix is either read whole
// or not at all.
#include "model_input/abc.h"
#include "model_input/map.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// ======================================================================
// Writing
// ======================================================================

extern "C" void ABCformat_value(double value, char out[ABC_FIELD_WIDTH + 1])
{
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

extern "C" int ABCwrite_row(FILE *file, const double *values, int32_t n)
{
    if (file == nullptr || n < 0 || (n > 0 && values == nullptr))
        return -1;
    enum { fields_per_write = 64 };
    char buffer[fields_per_write * ABC_FIELD_WIDTH + 1];
    for (int32_t i = 0; i < n;) {
        size_t used = 0;
        for (int k = 0; k < fields_per_write && i < n; ++k, ++i, used += ABC_FIELD_WIDTH)
            ABCformat_value(values[i], buffer + used);
        if (std::fwrite(buffer, 1, used, file) != used)
            return -1;
    }
    if (std::fputc('\n', file) == EOF || std::ferror(file))
        return -1;
    return 0;
}

// ======================================================================
// Reading
// ======================================================================

namespace {

// A line of more characters would give more than INT32_MAX columns.
constexpr unsigned long long max_line = 25ULL * INT32_MAX + 23;

// Bytes fetched from the file at once.
constexpr size_t chunk_size = 16384;

enum line_status { line_read, line_eof, line_error, line_too_long, line_no_memory };

// The reading state of one file: its buffered bytes and the current line,
// kept without its line end ("\n", or "\r\n").
struct reader {
    FILE *file;
    const char *name;
    unsigned long number; // of the current line, from 1
    size_t pos, fill;
    char *line;
    size_t length, capacity;
    char chunk[chunk_size];
};

// Adds n characters to the current line; false when out of memory.
bool append(reader *r, const char *text, size_t n)
{
    if (r->length + n + 1 > r->capacity) {
        size_t capacity = r->capacity < 256 ? 256 : r->capacity;
        while (capacity < r->length + n + 1)
            capacity = capacity > SIZE_MAX / 2 ? SIZE_MAX : capacity * 2;
        char *grown = static_cast<char *>(std::realloc(r->line, capacity));
        if (grown == nullptr)
            return false;
        r->line = grown;
        r->capacity = capacity;
    }
    std::memcpy(r->line + r->length, text, n);
    r->length += n;
    r->line[r->length] = '\0';
    return true;
}

// Reads the next line, of at most limit characters before its line end
// (a "\r" before the "\n" is allowed beyond it and dropped).
line_status next_line(reader *r, unsigned long long limit)
{
    r->length = 0;
    ++r->number;
    for (;;) {
        if (r->pos == r->fill) {
            r->pos = 0;
            r->fill = std::fread(r->chunk, 1, chunk_size, r->file);
            if (r->fill == 0) {
                if (std::ferror(r->file))
                    return line_error;
                return r->length > 0 ? line_read : line_eof;
            }
        }
        const char *start = r->chunk + r->pos;
        const size_t left = r->fill - r->pos;
        const char *lf = static_cast<const char *>(std::memchr(start, '\n', left));
        const size_t n = lf != nullptr ? static_cast<size_t>(lf - start) : left;
        if (r->length + n > limit + 1)
            return line_too_long;
        if (!append(r, start, n))
            return line_no_memory;
        r->pos += n;
        if (lf != nullptr) {
            ++r->pos;
            if (r->length > 0 && r->line[r->length - 1] == '\r')
                r->line[--r->length] = '\0';
            return r->length > limit ? line_too_long : line_read;
        }
    }
}

// Prints a diagnostic about the current line and returns NULL.
ABCmtx *refuse(reader *r, const char *what)
{
    std::printf("ABC file %s, line %lu: %s\n", r->name, r->number, what);
    std::fflush(stdout);
    return nullptr;
}

// Converts the first ncols tokens of the current line into row; tokens are
// runs of characters other than space and line end. Returns the number of
// values found (at most ncols).
int32_t parse_row(const reader *r, double *row, int32_t ncols)
{
    const char *p = r->line;
    const char *end = r->line + r->length;
    int32_t found = 0;
    while (found < ncols) {
        while (p < end && (*p == ' ' || *p == '\n'))
            ++p;
        if (p == end)
            break;
        const char *token = p;
        while (p < end && *p != ' ' && *p != '\n')
            ++p;
        row[found++] = MAPparse_real(token, p, nullptr);
    }
    return found;
}

void release(ABCmtx *m, int32_t rows)
{
    if (m->rows != nullptr)
        for (int32_t i = 0; i < rows; ++i)
            std::free(m->rows[i]);
    std::free(m->rows);
    std::free(m);
}

// Makes room for one more row pointer.
bool grow_rows(ABCmtx *m, int32_t *capacity)
{
    if (m->nrows < *capacity)
        return true;
    int32_t wanted = *capacity < 16 ? 16 : *capacity;
    wanted = wanted > INT32_MAX / 2 ? INT32_MAX : wanted * 2;
    if (static_cast<unsigned long long>(wanted) > SIZE_MAX / sizeof(double *))
        return false;
    void *grown = std::realloc(m->rows, static_cast<size_t>(wanted) * sizeof(double *));
    if (grown == nullptr)
        return false;
    m->rows = static_cast<double **>(grown);
    *capacity = wanted;
    return true;
}

// Adds the current line as the next row.
const char *add_row(reader *r, ABCmtx *m, int32_t *capacity)
{
    if (m->nrows == INT32_MAX)
        return "more than 2147483647 rows";
    if (!grow_rows(m, capacity))
        return "out of memory";
    double *row = nullptr;
    if (m->ncols > 0) {
        row = static_cast<double *>(std::calloc(static_cast<size_t>(m->ncols), sizeof *row));
        if (row == nullptr)
            return "out of memory";
    }
    m->rows[m->nrows++] = row;
    if (parse_row(r, row, m->ncols) < m->ncols)
        return "fewer values than the first line's columns";
    return nullptr;
}

const char *status_text(line_status s)
{
    switch (s) {
    case line_error: return "read error";
    case line_too_long: return "longer than the first line";
    default: return "out of memory";
    }
}

// Reads the open file whole; NULL (with a diagnostic) when it breaks the
// layout.
ABCmtx *read_matrix(reader *r)
{
    ABCmtx *m = static_cast<ABCmtx *>(std::calloc(1, sizeof(ABCmtx)));
    if (m == nullptr)
        return refuse(r, "out of memory");
    line_status s = next_line(r, max_line);
    if (s == line_eof)
        return m; // a matrix without rows
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
        if (s == line_eof)
            return m;
        if (s != line_read || r->length != width) {
            release(m, m->nrows);
            if (s == line_read)
                return refuse(r, r->length > width ? "longer than the first line"
                                                   : "shorter than the first line");
            return refuse(r, status_text(s));
        }
    }
}

// base followed by the letter, on the heap; NULL when out of memory.
char *file_name(const char *base, char letter)
{
    const size_t n = std::strlen(base);
    if (n > SIZE_MAX - 2)
        return nullptr;
    char *name = static_cast<char *>(std::malloc(n + 2));
    if (name != nullptr) {
        std::memcpy(name, base, n);
        name[n] = letter;
        name[n + 1] = '\0';
    }
    return name;
}

} // namespace

extern "C" ABCmtx *ABCread_mtx(const char *base, char letter)
{
    if (base == nullptr)
        return nullptr;
    char *name = file_name(base, letter);
    if (name == nullptr)
        return nullptr;
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
        m = read_matrix(r);
        std::free(r->line);
        std::free(r);
    } else {
        std::printf("ABC file %s: out of memory\n", name);
    }
    std::fclose(file);
    std::free(name);
    return m;
}

extern "C" void ABCfree(ABCmtx *mtx)
{
    if (mtx == nullptr)
        return;
    release(mtx, mtx->nrows);
}
