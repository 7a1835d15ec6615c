// STATEMAT_WRITE: fetches the state matrices of a host object, keeps the
// states whose eigenvalue lies within the frequency limit and writes the
// reduced model as an ABC file set.
#include "statemat/statemat.h"

#include "frame/guard.h"
#include "frame/host_api.h"
#include "frame/host_codes.h"
#include "frame/output_file.h"
#include "model_input/abc.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace sorvan {

namespace {

// Results of the host function.
constexpr double written = 1.0;
constexpr double no_size = -1.0;
constexpr double not_opened = -2.0;
constexpr double none_selected = -3.0;

// 2 pi as the writer has always used it for the limit.
constexpr double two_pi = 6.28318530717958;

// The limit when none applies.
constexpr double no_limit = 9.99999e32;

// Largest matrix the writer fetches: 2^28 values (2 GiB of doubles).
constexpr int64_t max_values = int64_t{1} << 28;

using host_codes::MatrixAttributes;
constexpr const MatrixAttributes *codes = host_codes::state_matrices;

struct Matrix {
    int32_t rows = 0, cols = 0;
    double *values = nullptr; // rows x cols, row by row; null when empty

    Matrix() = default;
    Matrix(const Matrix &) = delete;
    Matrix &operator=(const Matrix &) = delete;
    ~Matrix() { std::free(values); }
    double at(int32_t i, int32_t j) const { return values[int64_t{i} * cols + j]; }
};

// Fetches the eight sizes in the host's order; false at the first failure.
bool fetch_sizes(ac_object obj, Matrix m[4]) {
    for (int k = 0; k < 4; ++k) {
        if (ac_get_int(obj, codes[k].rows, 0, &m[k].rows) <= 0) return false;
        if (ac_get_int(obj, codes[k].cols, 0, &m[k].cols) <= 0) return false;
    }
    return true;
}

// The sizes must describe one model: A square, B with A's rows, C with A's
// columns, D with C's rows and B's columns. Anything else would make the
// writer index outside a matrix.
bool sizes_agree(const Matrix m[4]) {
    const Matrix &a = m[0], &b = m[1], &c = m[2], &d = m[3];
    for (int k = 0; k < 4; ++k)
        if (m[k].rows < 0 || m[k].cols < 0 || int64_t{m[k].rows} * m[k].cols > max_values)
            return false;
    return a.rows == a.cols && b.rows == a.rows && c.cols == a.cols && d.rows == c.rows &&
           d.cols == b.cols;
}

// Fetches the values of every matrix; the attribute must hold exactly
// rows x cols of them. The count is asked for before anything is allocated,
// so sizes that the values do not back cost no memory.
bool fetch_values(ac_object obj, Matrix m[4]) {
    for (int k = 0; k < 4; ++k) {
        int32_t count = m[k].rows * m[k].cols;
        if (count == 0) continue;
        int32_t held = 0;
        if (ac_get_reals(obj, codes[k].values, &held, nullptr) <= 0 || held != count) return false;
        m[k].values =
            static_cast<double *>(std::calloc(static_cast<size_t>(count), sizeof(double)));
        if (!m[k].values) return false;
        held = count;
        if (ac_get_reals(obj, codes[k].values, &held, m[k].values) != AC_OK || held != count)
            return false;
    }
    return true;
}

// Writes one member of the set into out, finished but not yet in place:
// the rows and columns the two masks select (a null mask selects all).
// Returns false with a diagnostic.
bool write_member(OutputFile &out, const std::string &base, const MatrixAttributes &code,
                  const Matrix &m, const char *row_mask, const char *col_mask) {
    std::string name = base + code.letter;
    std::FILE *f = out.open(name.c_str());
    if (!f) {
        std::printf("STATEMAT_WRITE: %s\n", out.error().c_str());
        return false;
    }
    std::vector<double> row;
    row.reserve(static_cast<size_t>(m.cols));
    bool ok = true;
    for (int32_t i = 0; i < m.rows && ok; ++i) {
        if (row_mask && !row_mask[i]) continue;
        row.clear();
        for (int32_t j = 0; j < m.cols; ++j)
            if (!col_mask || col_mask[j]) row.push_back(m.at(i, j));
        ok = ABCwrite_row(f, row.data(), static_cast<int32_t>(row.size())) == 0;
    }
    if (ok && out.finish()) return true;
    out.abandon();
    std::printf("STATEMAT_WRITE: %s\n",
                out.error().empty() ? ("cannot write " + name).c_str() : out.error().c_str());
    return false;
}

// Writes the four members and moves them into place together: a failure
// leaves the set that was there before as it was.
bool write_set(const std::string &base, const Matrix m[4], const char *mask) {
    OutputFile out[4];
    if (!write_member(out[0], base, codes[0], m[0], mask, mask) ||
        !write_member(out[1], base, codes[1], m[1], mask, nullptr) ||
        !write_member(out[2], base, codes[2], m[2], nullptr, mask) ||
        !write_member(out[3], base, codes[3], m[3], nullptr, nullptr))
        return false;
    if (commit_together({&out[0], &out[1], &out[2], &out[3]})) return true;
    for (const OutputFile &o : out)
        if (!o.error().empty()) std::printf("STATEMAT_WRITE: %s\n", o.error().c_str());
    return false;
}

// A term that is not a finite number would give a set that no reader takes:
// every term the set would hold (the rows and columns the masks select) is
// checked before anything is written, and the first one that is not is
// named. A dropped state may hold anything.
bool values_finite(const Matrix m[4], const char *mask) {
    const char *row_masks[4] = {mask, mask, nullptr, nullptr};
    const char *col_masks[4] = {mask, nullptr, mask, nullptr};
    for (int k = 0; k < 4; ++k)
        for (int32_t i = 0; i < m[k].rows; ++i) {
            if (row_masks[k] && !row_masks[k][i]) continue;
            for (int32_t j = 0; j < m[k].cols; ++j) {
                if ((col_masks[k] && !col_masks[k][j]) || std::isfinite(m[k].at(i, j))) continue;
                std::printf("STATEMAT_WRITE: %c row %d, column %d: %g is not a finite number\n",
                            'A' + k, i + 1, j + 1, m[k].at(i, j));
                return false;
            }
        }
    return true;
}

} // namespace

bool is_modal(const double *a, int32_t n) {
    for (int32_t i = 2; i < n; ++i)
        for (int32_t j = 2; j < n; ++j)
            if (std::abs(i - j) >= 2 && a[int64_t{i} * n + j] != 0.0) return false;
    return true;
}

double state_limit(const double *a, int32_t n, double freq_limit_hz) {
    if (freq_limit_hz != 0.0 && is_modal(a, n)) return freq_limit_hz * two_pi;
    return no_limit;
}

std::vector<char> select_states(const double *a, int32_t n, double limit, double real_switch) {
    std::vector<char> keep(static_cast<size_t>(n), 0);
    auto at = [a, n](int32_t i, int32_t j) { return a[int64_t{i} * n + j]; };
    for (int32_t j = 0; j < n;) {
        if (j + 1 < n && at(j, j + 1) == -at(j + 1, j) && at(j, j) == at(j + 1, j + 1)) {
            double re = at(j, j), im = at(j, j + 1);
            const size_t s = static_cast<size_t>(j);
            keep[s] = keep[s + 1] = limit * limit >= re * re + im * im;
            j += 2;
        } else {
            keep[static_cast<size_t>(j)] = real_switch > 0 && limit * limit >= at(j, j) * at(j, j);
            j += 1;
        }
    }
    return keep;
}

} // namespace sorvan

namespace {

double write_state_matrices(ac_object obj, const char *base, double freq_limit,
                            double real_switch) {
    using namespace sorvan;
    ac_initialize("KAVEL_VIEW");
    Matrix m[4];
    if (!fetch_sizes(obj, m)) return no_size;
    if (!sizes_agree(m)) {
        std::printf("STATEMAT_WRITE: matrix sizes disagree: A %d x %d, B %d x %d, C %d x %d, "
                    "D %d x %d\n",
                    m[0].rows, m[0].cols, m[1].rows, m[1].cols, m[2].rows, m[2].cols, m[3].rows,
                    m[3].cols);
        return no_size;
    }
    if (!fetch_values(obj, m)) {
        std::printf("STATEMAT_WRITE: the state matrices cannot be fetched whole\n");
        return no_size;
    }
    const int32_t n = m[0].cols;
    double limit = state_limit(m[0].values, n, freq_limit);
    std::vector<char> keep = select_states(m[0].values, n, limit, real_switch);
    bool any = false;
    for (char k : keep)
        any = any || k;
    if (!any) return none_selected;
    if (!values_finite(m, keep.data())) return no_size;
    if (!base) return not_opened;
    if (!write_set(base, m, keep.data())) return not_opened;
    return written;
}

} // namespace

extern "C" SORVAN_API double stmatwri(ac_object obj, const char *base, double freq_limit,
                                      double real_switch) {
    return sorvan::guarded("STATEMAT_WRITE", sorvan::no_size, [&] {
        return write_state_matrices(obj, base, freq_limit, real_switch);
    });
}
