// The straightforward versions of the hot paths: the speed baseline of the
// benchmark and the oracle of the differential tests. Each does what the
// file formats describe in the plainest way, with the C library's text
// conversions: a reader that passes over the file three times and converts
// with strtod, the 8-character real found by trying the exponents from 30
// down with one division each, and one fprintf per card line or value.
#ifndef SORVAN_BENCH_BASELINE_H
#define SORVAN_BENCH_BASELINE_H

#include "sorvan_view.h"

#include <cstdio>

namespace sorvan::bench {

// Room for any text baseline_real8 can produce (values beyond the 8
// characters print wider).
constexpr int real8_text_size = 48;

// Room for one value field of baseline_format_value.
constexpr int field_text_size = 48;

// Reads base followed by letter: to the first line end, then counting the
// lines with fgets, then once more converting the first ncols tokens of each
// line with strtod. NULL when the file cannot be opened; no other check.
ABCmtx *baseline_read_mtx(const char *base, char letter);

// The short-field real: mantissa and exponent from the loop over the
// exponents 30 to -30, printed with "%6.3f%s%d" or "%5.2f%s%d".
void baseline_real8(double value, char out[real8_text_size]);

// One value as " %+23.16E" prints it, its exponent widened to three digits
// and non-numbers right-aligned in the 25 characters.
void baseline_format_value(double value, char out[field_text_size]);

// One matrix row, one fprintf per value, then "\n".
void baseline_write_row(std::FILE *file, const double *values, int32_t n);

// The state and output equations, one fprintf per card line, with the
// converter parameters and identifier bases as they stand.
void baseline_write_tf_state(std::FILE *bdf, const ABCmtx *a, const ABCmtx *b);
void baseline_write_tf_output(std::FILE *bdf, const ABCmtx *c, const ABCmtx *d);

} // namespace sorvan::bench

#endif
