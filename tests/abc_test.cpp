// ABC matrix files: the 25-character field, the row writer and the reader.
#include "model_input/abc.h"
#include "support/bits.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using Matrix = std::unique_ptr<ABCmtx, decltype(&ABCfree)>;

Matrix read_abc(const std::string &base, char letter) {
    return Matrix(ABCread_mtx(base.c_str(), letter), ABCfree);
}

std::string field(double v) {
    char out[ABC_FIELD_WIDTH + 1];
    ABCformat_value(v, out);
    return out;
}

// A scratch base name, unique across test processes that run at once.
std::string scratch(const std::string &name) {
    static const std::string run = std::to_string(std::random_device()());
    return testing::TempDir() + "abc_test_" + run + "_" + name;
}

using sorvan::test::write_bytes;

using sorvan::test::bits;

const std::string one = " +1.0000000000000000E+000"; // the stated example fields
const std::string small = " -1.2500000000000000E-003";

// A token right-aligned in a 25-character field.
std::string pad(const std::string &token) {
    return std::string(25 - token.size(), ' ') + token;
}

} // namespace

TEST(AbcFormat, FieldsAreAlways25Characters) {
    EXPECT_EQ(field(1.0), one);
    EXPECT_EQ(field(-0.00125), small);
    EXPECT_EQ(field(0.0), " +0.0000000000000000E+000");
    EXPECT_EQ(field(-0.0), " -0.0000000000000000E+000");
    EXPECT_EQ(field(1e-300), " +1.0000000000000000E-300");
    EXPECT_EQ(field(-1e100), " -1.0000000000000000E+100");
    EXPECT_EQ(field(1e23), " +9.9999999999999992E+022"); // the double nearest 1e23
    EXPECT_EQ(field(DBL_MAX), " +1.7976931348623157E+308");
    EXPECT_EQ(field(std::numeric_limits<double>::denorm_min()), " +4.9406564584124654E-324");
    EXPECT_EQ(field(-INFINITY), std::string(21, ' ') + "-INF");
    EXPECT_EQ(field(std::nan("")).size(), size_t{ABC_FIELD_WIDTH});
}

TEST(AbcWrite, RowsAndWriteErrors) {
    const std::string path = scratch("row");
    FILE *f = std::fopen(path.c_str(), "wb");
    const double row[] = {1.0, -0.00125};
    EXPECT_EQ(ABCwrite_row(f, row, 2), 0);
    EXPECT_EQ(ABCwrite_row(f, nullptr, 0), 0); // a matrix without columns
    EXPECT_EQ(ABCwrite_row(f, row, -1), -1);
    EXPECT_EQ(ABCwrite_row(nullptr, row, 1), -1);
    std::fclose(f);
    f = std::fopen(path.c_str(), "rb"); // read only: writing fails
    char text[64] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, f), 52u);
    EXPECT_EQ(text, one + small + "\n\n");
    EXPECT_EQ(ABCwrite_row(f, row, 2), -1);
    std::fclose(f);
    std::remove(path.c_str());
}

TEST(AbcRoundTrip, ValuesReadBackBitIdentical) {
    const double denorm = std::numeric_limits<double>::denorm_min();
    std::vector<double> values = {
        0.0,    -0.0,   DBL_MAX, -DBL_MAX, DBL_MIN, denorm,  -denorm, 2.2250738585072009e-308,
        1e-300, 1e-100, -1e100,  1e308,    -1e-308, 1.0 / 3, 0.1,     1e23};
    std::mt19937_64 random(20050201);
    while (values.size() < 40 * 50) { // random bit patterns over the whole range
        const double v = sorvan::test::from_bits(random());
        if (std::isfinite(v)) values.push_back(v);
    }
    const std::string base = scratch("trip_");
    FILE *f = std::fopen((base + "b").c_str(), "w");
    for (size_t r = 0; r < 50; ++r)
        ASSERT_EQ(ABCwrite_row(f, &values[r * 40], 40), 0);
    std::fclose(f);
    Matrix m = read_abc(base, 'b');
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->nrows, 50);
    ASSERT_EQ(m->ncols, 40);
    for (size_t i = 0; i < values.size(); ++i)
        ASSERT_EQ(bits(m->rows[i / 40][i % 40]), bits(values[i])) << values[i];
    std::remove((base + "b").c_str());
}

// The data set model[a-d]: one 2 x 3 matrix with LF, with CR LF and without
// its final line end, and a file of three empty lines.
TEST(AbcRead, TheModelSet) {
    const std::string base = SORVAN_TEST_DATA "/abc/model";
    for (char letter : {'a', 'b', 'c'}) {
        Matrix m = read_abc(base, letter);
        ASSERT_NE(m, nullptr) << letter;
        ASSERT_EQ(m->nrows, 2);
        ASSERT_EQ(m->ncols, 3);
        const double expected[2][3] = {{1.0, -0.00125, 0.0}, {2.5, -1e-300, DBL_MAX}};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(bits(m->rows[i / 3][i % 3]), bits(expected[i / 3][i % 3])) << letter;
    }
    Matrix d = read_abc(base, 'd');
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->nrows, 3);
    EXPECT_EQ(d->ncols, 0);
    EXPECT_EQ(d->rows[2], nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_abc(base, 'e'), nullptr); // no such file: null, and silence
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(AbcRead, ColumnRuleAndTokens) {
    std::string forty;
    std::vector<double> forty_values;
    for (int j = 0; j < 40; ++j) {
        forty += j % 2 ? small : one;
        forty_values.push_back(j % 2 ? -0.00125 : 1.0);
    }
    const struct {
        std::string text;
        int nrows, ncols;
        std::vector<double> last_row;
    } cases[] = {
        {forty + "\n", 1, 40, forty_values},
        {one + small + "\n" + small + one + "\n", 2, 2, {-0.00125, 1.0}},
        {"", 0, 0, {}},                       // a matrix without rows
        {one + small, 1, 2, {1.0, -0.00125}}, // no line end at all
        {pad("+35E-1") + pad("\t+2.5") + pad("-0") + pad("1e-400") + "\n",
         1,
         4,
         {3.5, 2.5, -0.0, 0.0}},                          // a tab is leading white space
        {one + "\r\n" + small + "\n" + one, 3, 1, {1.0}}, // mixed line ends
        {one + small + std::string(23, ' ') + "\n", 1, 2, {1.0, -0.00125}}, // blanks after
        {one + " \t\r\n", 1, 1, {1.0}}, // blank, tab and CR LF after the last field
    };
    const std::string base = scratch("cols_");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        write_bytes(base + "a", c.text);
        Matrix m = read_abc(base, 'a');
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->nrows, c.nrows);
        EXPECT_EQ(m->ncols, c.ncols);
        EXPECT_EQ(m->rows == nullptr, c.nrows == 0);
        if (c.nrows > 0) {
            const double *last = m->rows[c.nrows - 1];
            EXPECT_EQ(std::vector<double>(last, last + c.ncols), c.last_row);
        }
    }
    // Any length of base name.
    const std::string longer = scratch(std::string(200, 'x'));
    write_bytes(longer + "c", one + "\n");
    EXPECT_NE(read_abc(longer, 'c'), nullptr);
    std::remove((base + "a").c_str());
    std::remove((longer + "c").c_str());
}

// A one-column file of exactly `size` bytes (size >= 26 * 27): LF lines of
// 26 bytes and CR LF lines of 27, row i holding the value i.
int32_t rows_in(size_t size) {
    return static_cast<int32_t>(size % 26 + (size - 27 * (size % 26)) / 26);
}

std::string file_of_size(size_t size) {
    const int32_t crlf = static_cast<int32_t>(size % 26);
    std::string text;
    for (int32_t i = 0; i < rows_in(size); ++i)
        text += field(static_cast<double>(i)) + (i < crlf ? "\r\n" : "\n");
    return text;
}

// The reader sizes its first read to the file: every file size around a
// page and around the largest first read reads whole, in order.
TEST(AbcRead, FileSizesAroundTheFirstRead) {
    const std::string base = scratch("sizes_");
    for (size_t size : {4095, 4096, 4097, 8192, 1048575, 1048576, 1048577, 3000000}) {
        SCOPED_TRACE(size);
        const std::string text = file_of_size(size);
        ASSERT_EQ(text.size(), size);
        write_bytes(base + "a", text);
        Matrix m = read_abc(base, 'a');
        ASSERT_NE(m, nullptr);
        const int32_t rows = rows_in(size);
        ASSERT_EQ(m->nrows, rows);
        ASSERT_EQ(m->ncols, 1);
        for (int32_t i = 0; i < rows; ++i)
            ASSERT_EQ(m->rows[i][0], i);
    }
    std::remove((base + "a").c_str());
}

#ifndef _WIN32
// A file that cannot be measured (a pipe) reads like any other.
TEST(AbcRead, FromAPipe) {
    const std::string base = scratch("pipe_");
    ASSERT_EQ(mkfifo((base + "a").c_str(), 0600), 0);
    const std::string text = file_of_size(100000);
    std::thread writer([&] {
        FILE *f = std::fopen((base + "a").c_str(), "w");
        if (f == nullptr) return;
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    });
    Matrix m = read_abc(base, 'a');
    writer.join();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->nrows, rows_in(100000));
    EXPECT_EQ(m->rows[m->nrows - 1][0], m->nrows - 1);
    std::remove((base + "a").c_str());
}
#endif

TEST(AbcMalformed, RefusedWithFileAndLine) {
    const std::string f = one, blank(25, ' ');
    // Each file: its text, what it breaks, the diagnostic after "ABC file <name>, ".
    const std::string malformed[][3] = {
        {f + "\n" + f + f + "\n", "a longer line", "line 2: longer than the first line"},
        {f + f + "\n" + f + "\n" + f + f + "\n", "a shorter line in the middle",
         "line 2: shorter than the first line"},
        {f + f + "\n" + f, "a shorter last line", "line 2: shorter than the first line"},
        {f + "\n" + f + "1", "a longer last line", "line 2: longer than the first line"},
        {f + f + "\n" + f + blank + "\n", "fewer values than columns",
         "line 2: fewer values than the first line's columns"},
        {"\n" + f + "\n", "a value after an empty first line",
         "line 2: longer than the first line"},
        // A field is a number whole or the file is refused: its numeric
        // prefix would be another matrix.
        {f + pad("hello") + "\n", "a word", "line 1: field 2 is not a number"},
        {f + pad("+3.5E+000xyz") + "\n", "letters after the digits",
         "line 1: field 2 is not a number"},
        {pad("0x10") + f + "\n", "a hexadecimal value", "line 1: field 1 is not a number"},
        {f + f + "\n" + f + pad("1.5D+03") + "\n", "a Fortran exponent",
         "line 2: field 2 is not a number"},
        // Text after the fields that the line's length counts: its value
        // would silently be lost.
        {" +1.0000000000000000E+00 +2.0000000000000000E+00\n",
         "two 24-character fields (two exponent digits)",
         "line 1: text after the last of its 1 fields"},
        {f + f + std::string(21, ' ') + "\n" + f + f + std::string(20, ' ') + "x\n",
         "a character after the fields", "line 2: text after the last of its 2 fields"},
        {"1 2 3\n", "values narrower than a field", "line 1: text after the last of its 0 fields"},
        // A term that is not a finite number is no matrix term.
        {f + pad("nan") + "\n", "a NaN", "line 1: field 2 is not a finite number"},
        {f + f + "\n" + pad("-inf") + f + "\n", "an infinity",
         "line 2: field 1 is not a finite number"},
        {f + " +1.0000000000000000E+999\n", "an exponent beyond a double's",
         "line 1: field 2 is not a finite number"},
        {std::string(5000, '\0'), "NUL bytes and no line end (a device such as /dev/zero)",
         "line 1: a NUL byte before the first line end: not a text file"},
    };
    const std::string base = scratch("bad_");
    for (const auto &c : malformed) {
        SCOPED_TRACE(c[1]);
        write_bytes(base + "d", c[0]);
        testing::internal::CaptureStdout();
        EXPECT_EQ(read_abc(base, 'd'), nullptr);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, "ABC file " + base + "d, " + c[2] + "\n");
    }
    std::remove((base + "d").c_str());
#ifndef _WIN32
    // An endless stream of zeros ends with the refusal, not with the memory.
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_abc("/dev/zer", 'o'), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("line 1: a NUL byte"), std::string::npos);
#endif
}
