// ABC matrix files: the row writer and what the reader takes. The field's
// text and the values read are compared with printf and strtod by
// abc_diff_test, what the reader refuses is in the catalogue of bad input.
#include "model_input/abc.h"
#include "support/bits.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

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

// A name in the running test's scratch folder.
std::string in(const sorvan::test::ScratchDir &dir, const std::string &name) {
    return (dir.path() / name).string();
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

TEST(AbcWrite, RowsAndWriteErrors) {
    sorvan::test::ScratchDir dir("abc_test");
    const std::string path = in(dir, "row");
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
    const struct {
        std::string text;
        int nrows, ncols;
        std::vector<double> last_row;
    } cases[] = {
        {one + small, 1, 2, {1.0, -0.00125}}, // no line end at all
        {pad("+35E-1") + pad("\t+2.5") + pad("-0") + pad("1e-400") + "\n",
         1,
         4,
         {3.5, 2.5, -0.0, 0.0}},                          // a tab is leading white space
        {one + "\r\n" + small + "\n" + one, 3, 1, {1.0}}, // mixed line ends
        {one + small + std::string(23, ' ') + "\n", 1, 2, {1.0, -0.00125}}, // blanks after
        {one + " \t\r\n", 1, 1, {1.0}}, // blank, tab and CR LF after the last field
    };
    sorvan::test::ScratchDir dir("abc_test");
    const std::string base = in(dir, "cols_");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        write_bytes(base + "a", c.text);
        Matrix m = read_abc(base, 'a');
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->nrows, c.nrows);
        EXPECT_EQ(m->ncols, c.ncols);
        const double *last = m->rows[c.nrows - 1];
        EXPECT_EQ(std::vector<double>(last, last + c.ncols), c.last_row);
    }
    // Any length of base name.
    const std::string longer = in(dir, std::string(200, 'x'));
    write_bytes(longer + "c", one + "\n");
    EXPECT_NE(read_abc(longer, 'c'), nullptr);
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
    sorvan::test::ScratchDir dir("abc_test");
    const std::string base = in(dir, "sizes_");
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
}
