// The ABC value fields of the library against their straightforward
// versions (bench/baseline.h): the field as " %+23.16E" prints it, and the
// file read back by the three-pass reader with strtod. Texts must be the
// same bytes and values the same bits, through real files.
//
// SORVAN_DIFF_VALUES sets how many values are compared in each direction
// (10^6 by default; the long run takes 10^8).
#include "bench/baseline.h"
#include "model_input/abc.h"
#include "support/bits.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

int64_t value_count() {
    return sorvan::test::diff_value_count();
}

using sorvan::test::bits;
using sorvan::test::from_bits;

// ---- writing ----------------------------------------------------------

bool same_field(double v, std::string *why) {
    char mine[ABC_FIELD_WIDTH + 1], theirs[sorvan::bench::field_text_size];
    ABCformat_value(v, mine);
    sorvan::bench::baseline_format_value(v, theirs);
    if (std::strcmp(mine, theirs) == 0) return true;
    *why = std::string(theirs) + " written as " + mine;
    return false;
}

// Doubles whose exact value has 18 significant digits, the last a 5: the
// 17-digit field lies exactly halfway and must round to even. With d digits
// before the point, N / 2^(18 - d) for odd N are such values.
std::vector<double> exact_ties(std::mt19937_64 &random) {
    std::vector<double> ties;
    for (int d = -7; d <= 15; ++d) {
        const int s = 18 - d;
        const double low = std::ldexp(std::pow(10.0, d - 1), s),
                     high = std::ldexp(std::pow(10.0, d), s);
        for (int k = 0; k < 200; ++k) {
            uint64_t n = static_cast<uint64_t>(low + (high - low) * (random() >> 11) * 0x1p-53) | 1;
            const double v = std::ldexp(static_cast<double>(n), -s);
            ties.push_back(v);
            ties.push_back(std::nextafter(v, INFINITY));
            ties.push_back(std::nextafter(v, 0.0));
        }
    }
    return ties;
}

TEST(AbcDiff, FieldsMatchPrintfAtTheEdges) {
    std::mt19937_64 random(1);
    std::vector<double> values = exact_ties(random);
    for (int e = -324; e <= 308; ++e) { // the doubles around every power of ten
        double p = std::strtod(("1e" + std::to_string(e)).c_str(), nullptr);
        for (int k = 0; k < 3; ++k, p = std::nextafter(p, INFINITY))
            values.push_back(p);
    }
    for (double v : {0.0, DBL_MIN, DBL_MAX, std::numeric_limits<double>::denorm_min(),
                     std::nextafter(DBL_MIN, 0.0), 9.9999999999999995e22,
                     std::numeric_limits<double>::infinity(), std::nan("")})
        values.push_back(v);
    std::string why;
    for (double v : values) {
        ASSERT_TRUE(same_field(v, &why)) << why;
        ASSERT_TRUE(same_field(-v, &why)) << why;
    }
}

// Random bit patterns over the whole range, and values uniform in the
// logarithm of the magnitude from 1e-35 to 1e35.
TEST(AbcDiff, RandomFieldsMatchPrintf) {
    std::mt19937_64 random(2);
    std::string why;
    const int64_t n = value_count();
    for (int64_t i = 0; i < n; ++i) {
        double v = from_bits(random());
        if (i % 2) v = std::copysign(std::pow(10.0, (random() >> 11) * 0x1p-53 * 70 - 35), v);
        ASSERT_TRUE(same_field(v, &why)) << why << " (value " << i << ")";
    }
}

// ---- reading ----------------------------------------------------------

// One field of 25 characters: a random number text of some kind,
// right-aligned.
std::string random_field(std::mt19937_64 &random, int kind) {
    char text[64];
    auto digit = [&] { return static_cast<char>('0' + random() % 10); };
    if (kind == 0) { // the writer's layout with arbitrary digits, over every exponent
        std::string t = " +d.";
        t[1] = random() % 2 ? '+' : '-';
        t[2] = digit();
        for (int k = 0; k < 16; ++k)
            t += digit();
        const int e = static_cast<int>(random() % 681) - 345;
        std::snprintf(text, sizeof text, "%c%c%03d", random() % 16 ? 'E' : 'e', e < 0 ? '-' : '+',
                      e < 0 ? -e : e);
        return t + text;
    }
    if (kind == 1) { // a written value
        char field[ABC_FIELD_WIDTH + 1];
        double v = from_bits(random());
        ABCformat_value(std::isnan(v) ? 0.0 : v, field);
        return field;
    }
    // Any decimal text: up to 22 digits with a point somewhere or none, an
    // optional sign and exponent; now and then an infinity or a NaN (which the
    // caller passes over).
    static const char *const words[] = {"inf", "-INF", "+Infinity", "nan", "-nan", "NaN"};
    if (random() % 64 == 0) {
        std::snprintf(text, sizeof text, "%25s", words[random() % 6]);
        return text;
    }
    std::string t;
    if (random() % 3) t += random() % 2 ? '+' : '-';
    const int digits = 1 + static_cast<int>(random() % 22),
              point = static_cast<int>(random() % (digits + 2));
    for (int k = 0; k < digits; ++k) {
        if (k == point) t += '.';
        t += digit();
    }
    if (random() % 2) { // an exponent where it fits whole: a cut one is no number
        std::string e = random() % 2 ? "E" : "e";
        e += std::to_string(static_cast<int>(random() % 700) - 350);
        if (t.size() + e.size() <= 24) t += e;
    }
    std::snprintf(text, sizeof text, "%25s", t.c_str());
    return text;
}

using Matrix = std::unique_ptr<ABCmtx, decltype(&ABCfree)>;

// One file of rows x 40 fields: rows of the writer's layout, written
// values, any decimal texts, and rows of the writer's layout with one other
// field among them (the line then takes the general path).
void compare_batch(std::mt19937_64 &random, int rows, const std::string &base) {
    constexpr int cols = 40;
    std::FILE *f = std::fopen((base + "a").c_str(), "w");
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < rows; ++i) {
        const int kind = static_cast<int>(random() % 4);
        const int odd = kind == 3 ? static_cast<int>(random() % cols) : -1;
        std::string line;
        for (int j = 0; j < cols; ++j) {
            // Finite values only: the reader refuses infinities and NaNs,
            // which its refusal tests cover.
            std::string field;
            do
                field = random_field(random, kind == 3 ? (j == odd ? 2 : 0) : kind);
            while (!std::isfinite(std::strtod(field.c_str(), nullptr)));
            line += field;
        }
        std::fputs((line + "\n").c_str(), f);
    }
    ASSERT_EQ(std::fclose(f), 0);
    Matrix mine(ABCread_mtx(base.c_str(), 'a'), ABCfree);
    Matrix theirs(sorvan::bench::baseline_read_mtx(base.c_str(), 'a'), ABCfree);
    ASSERT_TRUE(mine && theirs);
    ASSERT_EQ(mine->nrows, rows);
    ASSERT_EQ(mine->ncols, cols);
    ASSERT_EQ(theirs->ncols, cols);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            ASSERT_EQ(bits(mine->rows[i][j]), bits(theirs->rows[i][j]))
                << "line " << i + 1 << ", field " << j + 1 << ": " << mine->rows[i][j]
                << " against strtod's " << theirs->rows[i][j];
}

TEST(AbcDiff, ReadingMatchesTheThreePassReaderWithStrtod) {
    std::mt19937_64 random(3);
    sorvan::test::ScratchDir dir("abc_diff");
    const std::string base = (dir.path() / "read_").string();
    constexpr int rows_per_file = 25000; // 10^6 values, 25 MB
    for (int64_t done = 0, n = value_count(); done < n; done += rows_per_file * 40) {
        compare_batch(
            random, static_cast<int>(std::min<int64_t>(rows_per_file, (n - done + 39) / 40)), base);
        if (HasFatalFailure()) break;
    }
}

// A field in the writer's layout with one byte changed, at every position
// and to every value but a line end, is read as the general tokeniser
// reads it (the same line with a blank after it, which the layout's fast
// path never takes): refused by both, or the same bits.
TEST(AbcDiff, AFieldWithAnyByteChangedReadsAsTheTokeniserReadsIt) {
    sorvan::test::ScratchDir dir("abc_bytes");
    const std::string base = (dir.path() / "b_").string();
    auto read = [&base](const std::string &line) -> std::string {
        sorvan::test::write_bytes(base + "a", line + "\n");
        Matrix m(ABCread_mtx(base.c_str(), 'a'), ABCfree);
        return m && m->nrows == 1 && m->ncols == 1 ? std::to_string(bits(m->rows[0][0]))
                                                   : "refused";
    };
    const std::string field = " -1.2345678901234567E-012";
    ASSERT_EQ(read(field), std::to_string(bits(-1.2345678901234567E-012)));
    sorvan::test::printed([&] { // the refusals' diagnostics
        for (size_t at = 0; at < field.size(); ++at)
            for (int byte = 0; byte < 256; ++byte) {
                std::string changed = field;
                changed[at] = static_cast<char>(byte);
                if (byte == '\n' || byte == '\r') continue;
                ASSERT_EQ(read(changed), read(changed + " ")) << "byte " << byte << " at " << at;
            }
    });
}

} // namespace
