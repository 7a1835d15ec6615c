// Fuzzes the state matrix writer STATEMAT_WRITE through the stand-in host:
// the eight size attributes, the four value attributes (their counts free to
// disagree with the sizes), the frequency limit and the real-state switch
// all come from the input.
//
// Input layout, byte by byte: per size attribute one byte (its kind and a
// value from a list of small, negative and huge sizes, whose products
// overflow 32 bits); per value attribute one byte (present or not, and a
// count: the one the sizes give, one less, one more, or small numbers),
// then the values, one byte each from a list of extremes or eight raw
// bytes; last the limit and the switch, from the same list.
//
// What must hold: the result is 1, -1, -2 or -3; on 1 the four files read
// back as a consistent reduced model; on any other result no file is left
// in the folder.
#include "frame/host_codes.h"
#include "fuzz_support.h"
#include "host/plexa_setup.h"
#include "sorvan_view.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using sorvan::fuzz::check;
using sorvan::fuzz::Input;

fs::path scratch;

// Larger value attributes would test the allocator, not the writer.
constexpr int32_t max_values = 4096;

using sorvan::host_codes::state_matrices;

// The eight size attributes in the host's order: rows and columns of A to D.
int32_t size_code(int k) {
    return k % 2 ? state_matrices[k / 2].cols : state_matrices[k / 2].rows;
}

int32_t size_value(uint8_t b) {
    const int32_t sizes[] = {0,         1,         2,     3,     4,       5,     6, -1,
                             INT32_MIN, INT32_MAX, 46341, 65536, 1 << 28, 16384, 8, 2};
    return sizes[b % 16];
}

// Zeros of both signs, ones, a NaN, infinities, extremes, 2 pi, the
// example's reals; eight raw bytes; else a small integer.
double real_value(Input &in) {
    const double inf = std::numeric_limits<double>::infinity();
    const double picks[] = {0.0,  -0.0, 1.0,   -1.0,     std::nan(""),
                            inf,  -inf, 1e308, 4.9e-324, 6.28318530717958,
                            -2.0, -50.0};
    const uint8_t b = in.byte();
    if (b % 16 < 12) return picks[b % 16];
    return b % 16 == 12 ? in.raw() : static_cast<double>(b) - 200.0;
}

// Sets the size attributes; returns the sizes as stored (0 when absent).
void set_sizes(ac_object obj, Input &in, int32_t sizes[8]) {
    for (int k = 0; k < 8; ++k) {
        const uint8_t b = in.byte();
        sizes[k] = 0;
        if ((b >> 4) == 15) continue; // missing
        if ((b >> 4) == 14) {
            plexa_set_string(obj, size_code(k), "4"); // of another kind
            continue;
        }
        sizes[k] = size_value(b);
        plexa_set_int(obj, size_code(k), sizes[k]);
    }
}

void set_values(ac_object obj, Input &in, const int32_t sizes[8]) {
    for (int k = 0; k < 4; ++k) {
        const uint8_t b = in.byte();
        const int64_t product = int64_t{sizes[2 * k]} * sizes[2 * k + 1];
        if (b % 8 == 0) continue;               // missing
        const int64_t offset[] = {0, 0, -1, 1}; // the sizes' product, one less, one more
        int64_t count = b % 8 < 4 ? product + offset[b % 8] : b % 8 - 4;
        if (count < 0 || count > max_values) count = b % 5;
        std::vector<double> values(static_cast<size_t>(count));
        for (double &v : values)
            v = real_value(in);
        plexa_set_reals(obj, state_matrices[k].values, values.data(), static_cast<int32_t>(count));
    }
}

std::vector<std::string> names() {
    std::vector<std::string> found;
    for (const auto &entry : fs::directory_iterator(scratch))
        found.push_back(entry.path().filename().string());
    return found;
}

// The written set: A square, B with A's rows, C with A's columns, D with
// C's rows and B's columns, every row of a file as long as the first.
void check_written_set(const std::string &base) {
    ABCmtx *m[4];
    for (int k = 0; k < 4; ++k) {
        m[k] = ABCread_mtx(base.c_str(), static_cast<char>('a' + k));
        check(m[k] != nullptr);
    }
    const int32_t n = m[0]->nrows;
    check(n > 0 && m[0]->ncols == n);
    check(m[1]->nrows == n && m[3]->nrows == m[2]->nrows);
    // A file without rows, or of rows without values, reads as zero
    // columns: the column counts are compared where the files show them.
    check(m[2]->nrows == 0 || m[2]->ncols == n);
    if (m[1]->ncols > 0 && m[3]->nrows > 0) check(m[3]->ncols == m[1]->ncols);
    for (ABCmtx *x : m)
        ABCfree(x);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    scratch = fs::temp_directory_path() / ("sorvan_fuzz_statemat_" + std::to_string(getpid()));
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    for (const auto &entry : fs::directory_iterator(scratch))
        fs::remove_all(entry.path());
    plexa_reset();
    Input in{data, size};
    ac_object obj = plexa_object_create(1, nullptr);
    int32_t sizes[8];
    set_sizes(obj, in, sizes);
    set_values(obj, in, sizes);
    const double limit = real_value(in), real_switch = real_value(in);
    const std::string base = (scratch / "m_").string();
    const double rc = stmatwri(obj, base.c_str(), limit, real_switch);
    check(rc == 1.0 || rc == -1.0 || rc == -2.0 || rc == -3.0);
    const std::vector<std::string> left = names();
    if (rc == 1.0) {
        check(left.size() == 4);
        check_written_set(base);
    } else {
        check(left.empty());
    }
    plexa_reset();
    return 0;
}
