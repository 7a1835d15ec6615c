// State-space cards: the extra points of inputs, outputs and states, and one
// TF card per state equation and per output equation.
#include "bdf_export/bdf.h"
#include "bdf_export/cards.h"

#include <cmath>
#include <cstdio>
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

// The first line of an equation whose own term is the printed value.
void write_tf_head(FILE *bdf, int32_t point, double b0, double b1) {
    std::fprintf(bdf, "TF%14d%8d%8d%8s%8.4f%8.4f\n", tf_id, point, 0, BDFreal8(b0).text, b1, 0.0);
}

void write_tf_term(FILE *bdf, int32_t point, double a0) {
    std::fprintf(bdf, "        %8d%8d%8s%8.4f%8.4f\n", point, 0, BDFreal8(a0).text, 0.0, 0.0);
}

// The terms of matrix row i that pass the threshold, on points base + j + 1,
// leaving out column skip (the diagonal of A, written on the first line).
void write_row_terms(FILE *bdf, const ABCmtx *m, int32_t i, int32_t base, int32_t skip) {
    const double *row = m->rows[i];
    for (int32_t j = 0; j < m->ncols; ++j)
        if (j != skip && BDFpasses_threshold(row[j])) write_tf_term(bdf, base + j + 1, row[j]);
}

} // namespace

int BDFpasses_threshold(double value) {
    return std::fabs(value) >= thresh; // false for a value that is not a number
}

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
    for (int32_t i = 0; i < a->nrows; ++i) {
        write_tf_head(bdf, state_id_base + i + 1, a->rows[i][i], -1.0);
        write_row_terms(bdf, a, i, state_id_base, i);
        write_row_terms(bdf, b, i, input_id_base, -1);
    }
}

void BDFwrite_tf_output(FILE *bdf, const ABCmtx *c, const ABCmtx *d) {
    BDFbanner(bdf, "y = C * x + D * u");
    for (int32_t i = 0; i < c->nrows; ++i) {
        std::fprintf(bdf, "TF%14d%8d%8d%8.4f%8.4f%8.4f\n", tf_id, output_id_base + i + 1, 0, -1.0,
                     0.0, 0.0);
        write_row_terms(bdf, c, i, state_id_base, -1);
        write_row_terms(bdf, d, i, input_id_base, -1);
    }
}
