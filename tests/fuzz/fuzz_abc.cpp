// Fuzzes the ABC reader with the input as a matrix file, and the writer and
// reader together with the input's bytes taken as doubles: what ABCwrite_row
// writes must read back bit for bit, and a row holding an infinity or a NaN
// must be refused.
#include "fuzz_support.h"
#include "model_input/abc.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

using sorvan::fuzz::check;

std::string base; // scratch base name, one per fuzzer process

void write_file(const std::string &name, const uint8_t *data, size_t size) {
    FILE *f = std::fopen(name.c_str(), "wb");
    check(f != nullptr);
    check(std::fwrite(data, 1, size, f) == size);
    check(std::fclose(f) == 0);
}

// A record is either refused or complete, and every term it holds is a
// finite number.
void check_matrix(const ABCmtx *m) {
    check(m->nrows >= 0 && m->ncols >= 0);
    check((m->nrows == 0) == (m->rows == nullptr));
    for (int32_t i = 0; i < m->nrows; ++i) {
        check((m->ncols == 0) == (m->rows[i] == nullptr));
        for (int32_t j = 0; j < m->ncols; ++j)
            check(std::isfinite(m->rows[i][j]));
    }
}

void read_raw(const uint8_t *data, size_t size) {
    const char letter = static_cast<char>('a' + size % 4);
    write_file(base + letter, data, size);
    ABCmtx *m = ABCread_mtx(base.c_str(), letter);
    if (m != nullptr) check_matrix(m);
    ABCfree(m);
}

bool same(double a, double b) {
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

void round_trip(const uint8_t *data, size_t size) {
    double values[64];
    const int32_t n = static_cast<int32_t>(size / 8 < 64 ? size / 8 : 64);
    if (n == 0) return;
    std::memcpy(values, data, static_cast<size_t>(n) * 8);
    FILE *f = std::fopen((base + "r").c_str(), "w");
    check(f != nullptr);
    check(ABCwrite_row(f, values, n) == 0);
    check(ABCwrite_row(f, values, n) == 0);
    check(std::fclose(f) == 0);
    ABCmtx *m = ABCread_mtx(base.c_str(), 'r');
    bool finite = true;
    for (int32_t j = 0; j < n; ++j)
        finite = finite && std::isfinite(values[j]);
    if (!finite) { // written as INF or NAN, which no reader takes
        check(m == nullptr);
        return;
    }
    check(m != nullptr && m->nrows == 2 && m->ncols == n);
    for (int32_t i = 0; i < 2; ++i)
        for (int32_t j = 0; j < n; ++j)
            check(same(m->rows[i][j], values[j]));
    ABCfree(m);
}

// The scratch files are rewritten in place by every run and removed once,
// at exit: creating and deleting a file per run cost the file system's
// inode allocation, more than half the time of a run.
void remove_scratch() {
    for (const char *letter : {"a", "b", "c", "d", "r"})
        std::remove((base + letter).c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The reader's diagnostics would flood the fuzzer's output.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    const std::string name = "sorvan_fuzz_abc_" + std::to_string(getpid()) + "_";
    // A file system in memory where there is one: every run writes its
    // input to a file, which on a disk's file system costs its journal.
    std::error_code error;
    const std::filesystem::path shm = "/dev/shm";
    const bool in_memory = std::filesystem::is_directory(shm, error);
    base = ((in_memory ? shm : std::filesystem::temp_directory_path()) / name).string();
    std::atexit(remove_scratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    read_raw(data, size);
    round_trip(data, size);
    return 0;
}
