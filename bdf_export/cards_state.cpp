// State-space cards: the extra points of inputs, outputs and states, and one
// TF card per state equation and per output equation.
#include "bdf_export/bdf.h"
#include "bdf_export/cards.h"
#include "bdf_export/real8_fast.h"
#include "model_input/decimal.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A range card for the points base + 1 to base + count; none when empty,
// since readers take a reversed range for one point too many.
void write_range(FILE *bdf, int32_t base, int32_t count) {
    if (count > 0) std::fprintf(bdf, "EPOINT  %8d    THRU%8d\n", base + 1, base + count);
}

// The stored name up to its line break, then a line end of its own, so the
// comment ends even when the name has none (or ends in CR LF).
void write_ext_name(FILE *bdf, const char *name) {
    const void *nul = std::memchr(name, '\0', MAP_NAME_SIZE);
    size_t len = nul ? static_cast<size_t>(static_cast<const char *>(nul) - name) : MAP_NAME_SIZE;
    for (size_t k = 0; k < len; ++k)
        if (name[k] == '\n' || name[k] == '\r') len = k;
    std::fprintf(bdf, "$* KAVEL Variable Name: %.*s\n", static_cast<int>(len), name);
}

void write_external(FILE *bdf, const MAPmodel *map, int32_t e) {
    int32_t point = ext_id_base + e + 1;
    std::fprintf(bdf, "$*\n$* External State input %8d:\n", e + 1);
    std::fprintf(bdf, "$* PELDA ID:%8d\n", point);
    write_ext_name(bdf, map->ext_name[e]);
    std::fprintf(bdf, "EPOINT  %8d\n$*\n", point);
}

// ---- card lines ---------------------------------------------------------
//
// A model of thousands of states has millions of TF continuation lines, so
// the TF writers assemble their lines in memory, with the same texts the
// card formats give, and hand them to the stream in large pieces.

// Room gathered before a write; a smaller buffer on the stack serves when
// this much memory cannot be had.
constexpr size_t gather_size = size_t{1} << 20;
constexpr size_t fallback_size = 4096;

// Longest TF line: "TF", a 14-character and six 8-character fields, each
// integer possibly widened to 11 characters, and the line end.
constexpr size_t longest_line = 2 + 14 + 3 * 11 + 4 * 8 + 1;

constexpr char zero_field[] = "  0.0000";      // "%8.4f" of 0.0
constexpr char minus_one_field[] = " -1.0000"; // "%8.4f" of -1.0
constexpr char zero_component[] = "       0";  // "%8d" of 0

struct CardBuffer {
    FILE *bdf;
    char *data;
    size_t used, size;
    char fallback[fallback_size];
};

void open_buffer(CardBuffer *b, FILE *bdf) {
    b->bdf = bdf;
    b->used = 0;
    b->data = static_cast<char *>(std::malloc(gather_size));
    b->size = b->data ? gather_size : fallback_size;
    if (!b->data) b->data = b->fallback;
}

// Hands the gathered text to the stream; write errors stay in the stream's
// error indicator.
void flush_buffer(CardBuffer *b) {
    if (b->used > 0) std::fwrite(b->data, 1, b->used, b->bdf);
    b->used = 0;
}

void close_buffer(CardBuffer *b) {
    flush_buffer(b);
    if (b->data != b->fallback) std::free(b->data);
}

// Where the next line goes: room for the longest line is made first.
char *line_start(CardBuffer *b) {
    if (b->size - b->used < longest_line) flush_buffer(b);
    return b->data + b->used;
}

void line_end(CardBuffer *b, char *end) {
    *end++ = '\n';
    b->used = static_cast<size_t>(end - b->data);
}

char *put_text(char *p, const char *text, size_t n) {
    std::memcpy(p, text, n);
    return p + n;
}

// value right-justified in width characters, or wider when it needs more,
// as "%*d" prints it.
char *put_int(char *p, int32_t value, int width) {
    char digits[12];
    const size_t n =
        static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
    for (size_t k = n; k < static_cast<size_t>(width); ++k)
        *p++ = ' ';
    return put_text(p, digits, n);
}

// The field of a point identifier from 1 to 99999999 (every point of a
// checked model) as a little-endian word: the digits spelt in the lanes of
// one word (four digits, two, one), the leading zeros turned into blanks.
uint64_t point_text(uint32_t v) {
    uint64_t w = v / 10000 | uint64_t{v % 10000} << 32;
    const uint64_t hundreds = ((w * 10486) >> 20) & 0x0000007F0000007F; // / 100
    w = hundreds | (w - hundreds * 100) << 16;
    const uint64_t tens = ((w * 103) >> 10) & 0x000F000F000F000F; // / 10
    w = tens | (w - tens * 10) << 8;
    // One byte per digit, the most significant first; the leading zero
    // bytes (at most 7) become blanks.
    const uint64_t leading = (uint64_t{1} << (std::countr_zero(w) & ~7)) - 1;
    return ((w + 0x3030303030303030) & ~leading) | (0x2020202020202020 & leading);
}

// The field of a point identifier: 8 characters from 1 to 99999999,
// otherwise as put_int spells it, up to 11 characters.
char *put_point(char *p, int32_t value) {
    if (value < 1 || value > 99999999) return put_int(p, value, 8);
    sorvan::decimal::store8(p, point_text(static_cast<uint32_t>(value)));
    return p + 8;
}

char *put_real8(char *p, double value) {
    if (!sorvan::bdf::real8::put_fast(p, value)) std::memcpy(p, BDFreal8(value).text, 8);
    return p + 8;
}

// "TF%14d%8d%8d" with the set, the dependent point and component 0.
char *put_tf_start(CardBuffer *b, int32_t point) {
    char *p = put_text(line_start(b), "TF", 2);
    p = put_int(p, tf_id, 14);
    p = put_point(p, point);
    return put_text(p, zero_component, 8);
}

// The first line of a state equation: B0 the printed diagonal term, B1 -1.0.
void write_tf_head(CardBuffer *b, int32_t point, double b0) {
    char *p = put_real8(put_tf_start(b, point), b0);
    p = put_text(p, minus_one_field, 8);
    line_end(b, put_text(p, zero_field, 8));
}

// The point fields of base + 1, base + 2, ... along one matrix row, counted
// up in decimal rather than spelt one by one, in a word (the text changes
// in a register, not byte by byte in memory). The text serves while the
// value lies in 1 to 99999999 (it is spelt anew on reaching 1); outside, as
// a checked model never has, put_int spells each value.
struct PointCounter {
    int32_t value;
    uint64_t text;
};

void start_counter(PointCounter *c, int32_t first) {
    c->value = first;
    c->text = first >= 1 && first <= 99999999 ? point_text(static_cast<uint32_t>(first)) : 0;
}

void count_up(PointCounter *c) {
    if (c->value == INT32_MAX) return; // the row would not fit the range anyway
    if (++c->value == 1) {
        c->text = point_text(1);
        return;
    }
    if (c->text >> 56 != '9') { // nine times in ten: the last digit goes up
        c->text += uint64_t{1} << 56;
        return;
    }
    // The trailing nines (the highest bytes) become zeros, the digit before
    // them goes up, a blank to '1'. All nines: the value has left the range.
    const int nines = std::countl_zero(c->text ^ 0x3939393939393939) & ~7; // 8 bits a nine
    if (nines == 64) return;
    const uint64_t zeros = nines == 0 ? 0 : ~uint64_t{0} << (64 - nines);
    const int at = 56 - nines; // the lowest bit of the digit before them
    const uint64_t text = (c->text & ~zeros) | (0x3030303030303030 & zeros);
    c->text = text + ((((text >> at) & 0xFF) == ' ' ? uint64_t{'1' - ' '} : 1) << at);
}

char *put_counter(char *p, const PointCounter *c) {
    if (c->value < 1 || c->value > 99999999) return put_int(p, c->value, 8);
    sorvan::decimal::store8(p, c->text);
    return p + 8;
}

// "        %8d%8d%8s%8.4f%8.4f": one term of an equation.
void write_tf_term(CardBuffer *b, const PointCounter *point, double a0) {
    char *p = put_text(line_start(b), "        ", 8);
    p = put_counter(p, point);
    p = put_real8(put_text(p, zero_component, 8), a0);
    p = put_text(p, zero_field, 8);
    line_end(b, put_text(p, zero_field, 8));
}

// The terms of matrix row i that pass the threshold, on points base + j + 1,
// leaving out column skip (the diagonal of A, written on the first line).
void write_row_terms(CardBuffer *b, const ABCmtx *m, int32_t i, int32_t base, int32_t skip) {
    const double *row = m->rows[i];
    const double limit = thresh;
    PointCounter point;
    start_counter(&point, base + 1);
    for (int32_t j = 0; j < m->ncols; ++j, count_up(&point))
        if (j != skip && std::fabs(row[j]) >= limit) write_tf_term(b, &point, row[j]);
}

// ---- large-field cards ------------------------------------------------------
//
// With lrg_fld set every logical line becomes two large-field lines, made
// whole by the builders of cards_large.cpp into the same gathering buffer.

// Where the next two large-field lines go: room for them is made first.
char *large_start(CardBuffer *b) {
    if (b->size - b->used < BDF_LARGE_LINES_SIZE) flush_buffer(b);
    return b->data + b->used;
}

void large_end(CardBuffer *b, size_t length) {
    b->used += length;
}

void write_large_terms(CardBuffer *b, const ABCmtx *m, int32_t i, int32_t base, int32_t skip) {
    const double *row = m->rows[i];
    for (int32_t j = 0; j < m->ncols; ++j)
        if (j != skip && BDFpasses_threshold(row[j]))
            large_end(b, BDFlarge_tf_term(large_start(b), base + j + 1, 0, row[j], 0.0, 0.0));
}

// The state equations as BDFwrite_tf_state writes them, in large fields.
void write_large_state(CardBuffer *cards, const ABCmtx *a, const ABCmtx *b) {
    for (int32_t i = 0; i < a->nrows; ++i) {
        char *p = large_start(cards);
        large_end(cards, BDFlarge_tf_head(p, state_id_base + i + 1, 0, a->rows[i][i], -1.0, 0.0));
        write_large_terms(cards, a, i, state_id_base, i);
        write_large_terms(cards, b, i, input_id_base, -1);
    }
}

// The output equations as BDFwrite_tf_output writes them, in large fields.
void write_large_output(CardBuffer *cards, const ABCmtx *c, const ABCmtx *d) {
    for (int32_t i = 0; i < c->nrows; ++i) {
        char *p = large_start(cards);
        large_end(cards, BDFlarge_tf_head(p, output_id_base + i + 1, 0, -1.0, 0.0, 0.0));
        write_large_terms(cards, c, i, state_id_base, -1);
        write_large_terms(cards, d, i, input_id_base, -1);
    }
}

} // namespace

void BDFwrite_epoint(FILE *bdf, const MAPmodel *map, const ABCmtx *a) {
    int32_t n_int = map->n_input - map->n_external;
    BDFbanner(bdf, "EPOINT data for TFs");
    input_id_base = grid_id;
    ext_id_base = input_id_base + n_int;
    output_id_base = ext_id_base + map->n_external;
    state_id_base = output_id_base + map->n_output_all;
    grid_id = state_id_base + a->nrows;

    std::fputs("$* Internal State input \n", bdf);
    write_range(bdf, input_id_base, n_int);
    for (int32_t e = 0; e < map->n_external; ++e)
        write_external(bdf, map, e);
    std::fputs("$* State output\n", bdf);
    write_range(bdf, output_id_base, map->n_output_all);
    std::fputs("$* State variable\n", bdf);
    write_range(bdf, state_id_base, a->nrows);
}

void BDFwrite_tf_state(FILE *bdf, const ABCmtx *a, const ABCmtx *b) {
    BDFbanner(bdf, "dot(x) = A * x + B * u");
    CardBuffer cards;
    open_buffer(&cards, bdf);
    if (lrg_fld) {
        write_large_state(&cards, a, b);
        close_buffer(&cards);
        return;
    }
    for (int32_t i = 0; i < a->nrows; ++i) {
        write_tf_head(&cards, state_id_base + i + 1, a->rows[i][i]);
        write_row_terms(&cards, a, i, state_id_base, i);
        write_row_terms(&cards, b, i, input_id_base, -1);
    }
    close_buffer(&cards);
}

void BDFwrite_tf_output(FILE *bdf, const ABCmtx *c, const ABCmtx *d) {
    BDFbanner(bdf, "y = C * x + D * u");
    CardBuffer cards;
    open_buffer(&cards, bdf);
    if (lrg_fld) {
        write_large_output(&cards, c, d);
        close_buffer(&cards);
        return;
    }
    for (int32_t i = 0; i < c->nrows; ++i) {
        char *p = put_text(put_tf_start(&cards, output_id_base + i + 1), minus_one_field, 8);
        p = put_text(p, zero_field, 8);
        line_end(&cards, put_text(p, zero_field, 8));
        write_row_terms(&cards, c, i, state_id_base, -1);
        write_row_terms(&cards, d, i, input_id_base, -1);
    }
    close_buffer(&cards);
}
