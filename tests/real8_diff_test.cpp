// The 8-character reals and the state-space card lines of the library
// against their straightforward versions (bench/baseline.h): the exponent
// loop from 30 down with one division per step, printf's "%6.3f" and
// "%5.2f", and one fprintf per card line. The texts must be the same bytes.
//
// SORVAN_DIFF_VALUES sets how many values are compared (10^6 by default;
// the long run takes 10^8).
#include "bdf_export/bdf.h"
#include "bdf_export/cards.h"
#include "bench/baseline.h"
#include "support/bits.h"
#include "support/files.h"
#include "support/host_objects.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using sorvan::bench::baseline_real8;
using sorvan::test::written;

int64_t value_count() {
    return sorvan::test::diff_value_count();
}

using sorvan::test::from_bits;

// The doubles around x, within `steps` on either side.
void around(std::vector<double> &out, double x, int steps) {
    double up = x, down = x;
    out.push_back(x);
    for (int k = 0; k < steps; ++k) {
        up = std::nextafter(up, INFINITY);
        down = std::nextafter(down, -INFINITY);
        out.push_back(up);
        out.push_back(down);
    }
}

// Where the text changes: around 0.999, 1 and 9.99 times every power of ten
// from 10^-36 to 10^36 (the mantissa limits and the exponent edges, read
// from their decimal texts); around the mantissas d + j/16, which are exact
// decimal ties of the three- or two-decimal text when j is odd (or twice an
// odd number); around the 1.0E-30 and 9.99E30 limits; zeros, subnormals and
// the non-numbers; with both signs.
std::vector<double> edge_values() {
    std::vector<double> v;
    for (int e = -36; e <= 36; ++e) {
        char text[32];
        for (const char *mantissa : {"0.999", "1", "9.99", "0.9995", "9.995", "1.0005"}) {
            std::snprintf(text, sizeof text, "%se%d", mantissa, e);
            around(v, std::strtod(text, nullptr), 4);
        }
        for (int sixteenths = 16; sixteenths < 160; ++sixteenths) {
            std::snprintf(text, sizeof text, "%.4fe%d", sixteenths / 16.0, e);
            around(v, std::strtod(text, nullptr), 2);
        }
    }
    around(v, 1.0e-30, 4);
    around(v, BDF_REAL8_LIMIT, 4);
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    for (double x :
         {0.0, DBL_MIN, DBL_MAX, std::numeric_limits<double>::denorm_min(), 1e-300, inf, nan})
        v.push_back(x);
    const size_t n = v.size();
    for (size_t i = 0; i < n; ++i)
        v.push_back(-v[i]);
    return v;
}

// Random values, uniform in the logarithm of the magnitude from 1e-35 to
// 1e35, with random signs and all 52 fraction bits random; one in 64 a
// random subnormal.
double random_value(std::mt19937_64 &random) {
    const uint64_t r = random();
    const uint64_t sign = r & (uint64_t{1} << 63);
    const uint64_t fraction = random() & ((uint64_t{1} << 52) - 1);
    if ((r & 63) == 0) return from_bits(sign | fraction); // subnormal (or zero)
    const uint64_t biased = 1023 - 116 + (r >> 8) % 233;  // 2^-116 to 2^116
    return from_bits(sign | biased << 52 | fraction);
}

// The library's text for v equals the loop's, for every v that fits the
// field; the others are marked "********".
bool same_real8(double v, std::string *why) {
    const std::string mine = BDFreal8(v).text;
    if (!BDFreal8_fits(v)) {
        if (mine == "********") return true;
        *why = "unfit value " + std::to_string(v) + " printed as " + mine;
        return false;
    }
    char theirs[sorvan::bench::real8_text_size];
    baseline_real8(v, theirs);
    if (mine == theirs) return true;
    char shown[64];
    std::snprintf(shown, sizeof shown, "%.17g (%a)", v, v);
    *why = std::string(shown) + ": " + mine + " against " + theirs;
    return false;
}

TEST(Real8Diff, EveryEdgeMatchesTheExponentLoop) {
    std::string why;
    for (double v : edge_values())
        ASSERT_TRUE(same_real8(v, &why)) << why;
}

TEST(Real8Diff, RandomValuesOverEveryMagnitudeMatchTheExponentLoop) {
    std::mt19937_64 random(20050207);
    std::string why;
    const int64_t n = value_count();
    for (int64_t i = 0; i < n; ++i)
        ASSERT_TRUE(same_real8(random_value(random), &why)) << why << " (value " << i << ")";
}

// ---- card lines -------------------------------------------------------

// A matrix of rows x cols from values, taken in turn.
struct Matrix {
    ABCmtx m{};
    std::vector<std::vector<double>> data;
    std::vector<double *> pointers;
    Matrix(int32_t rows, int32_t cols, const std::vector<double> &values, size_t &next) {
        data.assign(static_cast<size_t>(rows), std::vector<double>(static_cast<size_t>(cols)));
        for (auto &row : data) {
            for (double &x : row)
                x = values[next++ % values.size()];
            pointers.push_back(row.data());
        }
        m = ABCmtx{rows, cols, pointers.data()};
    }
};

// The state and output equations of one model through both writers, with
// the given threshold. Values: the edges that fit, then random ones.
void compare_cards(double threshold, int32_t states, int32_t inputs, int32_t outputs) {
    sorvan::test::SavedParameters saved;
    thresh = threshold;
    tf_id = 7;
    input_id_base = 1000;
    output_id_base = 2000;
    state_id_base = 30000000;
    std::vector<double> values;
    for (double v : edge_values())
        if (BDFreal8_fits(v)) values.push_back(v);
    values.push_back(NAN); // a term that is not a number is left out
    std::mt19937_64 random(7);
    while (values.size() < 200000) // the values a checked model can hold
        if (double v = random_value(random); BDFreal8_fits(v)) values.push_back(v);
    size_t next = 0;
    Matrix a(states, states, values, next), b(states, inputs, values, next);
    Matrix c(outputs, states, values, next), d(outputs, inputs, values, next);
    for (int32_t i = 0; i < states; ++i) // the diagonal is always written: no NaN there
        if (std::isnan(a.data[i][i])) a.data[i][i] = 0.0;
    const std::string ours = written([&](std::FILE *f) {
        BDFwrite_tf_state(f, &a.m, &b.m);
        BDFwrite_tf_output(f, &c.m, &d.m);
    });
    const std::string expected = written([&](std::FILE *f) {
        sorvan::bench::baseline_write_tf_state(f, &a.m, &b.m);
        sorvan::bench::baseline_write_tf_output(f, &c.m, &d.m);
    });
    ASSERT_GT(expected.size(), 1000000u); // the gathering buffer is filled several times
    if (ours == expected) return;
    size_t at = 0;
    while (at < ours.size() && at < expected.size() && ours[at] == expected[at])
        ++at;
    const size_t line = expected.rfind('\n', at) + 1;
    FAIL() << "first difference in the line\n"
           << expected.substr(line, expected.find('\n', line) - line) << "\nwritten as\n"
           << ours.substr(line, ours.find('\n', line) - line);
}

TEST(CardDiff, StateAndOutputLinesMatchOneFprintfPerLine) {
    compare_cards(1e-9, 200, 30, 40);
    compare_cards(0.0, 160, 25, 30); // every term, exact zeros included
    compare_cards(1.0, 220, 40, 50); // a threshold half the terms fall below
}

// Point identifiers of every width: the rows run across 0, from one digit
// to the next, to 8 digits and beyond, and the set identifier is wide too.
TEST(CardDiff, IdentifiersOfEveryWidth) {
    sorvan::test::SavedParameters saved;
    thresh = 0.0;
    std::vector<double> values = {1.0, -2.5, 0.125};
    for (int32_t base : {0, 5, 95, 99999990, 999999990, -5, -20, 2147483600}) {
        tf_id = base % 2 ? 123456789 : 1;
        state_id_base = input_id_base = output_id_base = base;
        size_t next = 0;
        Matrix a(12, 12, values, next), b(12, 3, values, next);
        const std::string ours = written([&](std::FILE *f) {
            BDFwrite_tf_state(f, &a.m, &b.m);
            BDFwrite_tf_output(f, &a.m, &b.m);
        });
        EXPECT_EQ(ours, written([&](std::FILE *f) {
                      sorvan::bench::baseline_write_tf_state(f, &a.m, &b.m);
                      sorvan::bench::baseline_write_tf_output(f, &a.m, &b.m);
                  }))
            << "base " << base;
    }
}

} // namespace
