// The straightforward hot paths; see baseline.h.
#include "bench/baseline.h"

#include "bdf_export/bdf.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace sorvan::bench {

namespace {

// 10^-30 to 10^30 as correctly rounded literals.
const double powers[61] = {
    1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20, 1e-19, 1e-18,
    1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9,  1e-8,  1e-7,  1e-6,  1e-5,
    1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,   1e5,   1e6,   1e7,   1e8,
    1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21,
    1e22,  1e23,  1e24,  1e25,  1e26,  1e27,  1e28,  1e29,  1e30};

void parse_line(char *line, double *row, int32_t ncols) {
    char *token = std::strtok(line, " \n");
    for (int32_t j = 0; j < ncols && token; ++j) {
        row[j] = std::strtod(token, nullptr);
        token = std::strtok(nullptr, " \n");
    }
}

void write_term(std::FILE *bdf, int32_t point, double a0) {
    char text[real8_text_size];
    baseline_real8(a0, text);
    std::fprintf(bdf, "        %8d%8d%8s%8.4f%8.4f\n", point, 0, text, 0.0, 0.0);
}

void write_terms(std::FILE *bdf, const ABCmtx *m, int32_t i, int32_t base, int32_t skip) {
    for (int32_t j = 0; j < m->ncols; ++j)
        if (j != skip && std::fabs(m->rows[i][j]) >= thresh)
            write_term(bdf, base + j + 1, m->rows[i][j]);
}

} // namespace

ABCmtx *baseline_read_mtx(const char *base, char letter) {
    char name[4096];
    std::snprintf(name, sizeof name, "%s%c", base, letter);
    std::FILE *f = std::fopen(name, "r");
    if (!f) return nullptr;
    auto *m = static_cast<ABCmtx *>(std::calloc(1, sizeof(ABCmtx)));
    long first = 0;
    for (int c; (c = std::fgetc(f)) != EOF;) {
        ++first;
        if (c == '\n') break;
    }
    char *line = static_cast<char *>(std::calloc(static_cast<size_t>(first) + 1, 1));
    std::rewind(f);
    while (std::fgets(line, static_cast<int>(first) + 1, f))
        ++m->nrows;
    m->ncols = static_cast<int32_t>(static_cast<double>(std::strlen(line)) * 0.04);
    if (m->nrows > 0)
        m->rows =
            static_cast<double **>(std::calloc(static_cast<size_t>(m->nrows), sizeof(double *)));
    std::rewind(f);
    for (int32_t i = 0; i < m->nrows; ++i) {
        if (!std::fgets(line, static_cast<int>(first) + 1, f)) break;
        if (m->ncols == 0) continue;
        m->rows[i] =
            static_cast<double *>(std::calloc(static_cast<size_t>(m->ncols), sizeof(double)));
        parse_line(line, m->rows[i], m->ncols);
    }
    std::free(line);
    std::fclose(f);
    return m;
}

void baseline_real8(double value, char out[real8_text_size]) {
    double mantissa = 0.0;
    int e = 0;
    if (std::fabs(value) > 1.0e-30)
        for (e = 30;; --e) {
            mantissa = value / powers[e + 30];
            if (std::fabs(mantissa) >= 0.999 || e == -30) break;
        }
    std::snprintf(out, real8_text_size, e > -10 && e < 10 ? "%6.3f%s%d" : "%5.2f%s%d", mantissa,
                  e >= 0 ? "+" : "-", e >= 0 ? e : -e);
}

void baseline_format_value(double value, char out[field_text_size]) {
    char text[field_text_size];
    // The sign of a NaN as glibc prints it: the Windows C library's printf
    // drops it, and the field must be the same on both.
    if (std::isnan(value))
        std::snprintf(text, sizeof text, " %23s", std::signbit(value) ? "-NAN" : "+NAN");
    else
        std::snprintf(text, sizeof text, " %+23.16E", value);
    char *mark = std::strchr(text, 'E');
    if (mark && std::strlen(mark) == 4) { // "E+dd": one more exponent digit
        std::memmove(mark + 3, mark + 2, 3);
        mark[2] = '0';
    }
    size_t n = std::strlen(text);
    size_t pad = n < 25 ? 25 - n : 0;
    std::memset(out, ' ', pad);
    std::memcpy(out + pad, text, n + 1);
}

void baseline_write_row(std::FILE *file, const double *values, int32_t n) {
    for (int32_t j = 0; j < n; ++j) {
        char text[field_text_size];
        baseline_format_value(values[j], text);
        std::fprintf(file, "%s", text);
    }
    std::fputc('\n', file);
}

void baseline_write_tf_state(std::FILE *bdf, const ABCmtx *a, const ABCmtx *b) {
    std::fputs("$*\n$* KAVEL2PELDA: dot(x) = A * x + B * u\n$*\n", bdf);
    for (int32_t i = 0; i < a->nrows; ++i) {
        char text[real8_text_size];
        baseline_real8(a->rows[i][i], text);
        std::fprintf(bdf, "TF%14d%8d%8d%8s%8.4f%8.4f\n", tf_id, state_id_base + i + 1, 0, text,
                     -1.0, 0.0);
        write_terms(bdf, a, i, state_id_base, i);
        write_terms(bdf, b, i, input_id_base, -1);
    }
}

void baseline_write_tf_output(std::FILE *bdf, const ABCmtx *c, const ABCmtx *d) {
    std::fputs("$*\n$* KAVEL2PELDA: y = C * x + D * u\n$*\n", bdf);
    for (int32_t i = 0; i < c->nrows; ++i) {
        std::fprintf(bdf, "TF%14d%8d%8d%8.4f%8.4f%8.4f\n", tf_id, output_id_base + i + 1, 0, -1.0,
                     0.0, 0.0);
        write_terms(bdf, c, i, state_id_base, -1);
        write_terms(bdf, d, i, input_id_base, -1);
    }
}

} // namespace sorvan::bench
