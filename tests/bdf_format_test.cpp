// Texts of real numbers in a bulk data file: the stated examples of the
// 8-character field (the differential test compares every other value with
// the exponent loop), the 16-character field read back by the deck reader,
// and the scientific text against the C library's printf.
#include "analysis/deck.h"
#include "bdf_export/bdf.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

std::string real8(double v) {
    return BDFreal8(v).text;
}

TEST(BdfReal8, StatedExamples) {
    const struct {
        double value;
        const char *text;
    } cases[] = {
        {1.0, " 1.000+0"},   {0.5, " 5.000-1"},    {-0.25, "-2.500-1"},   {-123.456, "-1.235+2"},
        {0.0, " 0.000+0"},   {1.0e10, " 1.00+10"}, {2.5e-12, " 2.50-12"}, {1.5e-30, " 1.50-30"},
        {0.999, " 0.999+0"}, {1.0e9, " 1.000+9"},  {-2.5, "-2.500+0"},    {0.125, " 1.250-1"},
        {1e-9, " 1.000-9"},  {1e6, " 1.000+6"},    {-1.0, "-1.000+0"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(real8(c.value), c.text) << c.value;
}

std::string real16(double v) {
    return BDFreal16(v).text;
}

TEST(BdfReal16, StatedExamples) {
    const struct {
        double value;
        const char *text;
    } cases[] = {
        {1.23456789012345e5, "1.234567890123+5"},
        {-1.23456789012345e-5, "-1.23456789012-5"},
        {1e10, "1.00000000000+10"},
        {9.9999999999999e9, "1.00000000000+10"}, // rounding lengthens the exponent
        {1.0, "1.000000000000+0"},
        {-1.0, "-1.00000000000+0"},
        {0.0, "             0.0"},
        {-0.0, "             0.0"},
        {1e-300, "1.0000000000-300"},
        {DBL_MAX, "1.7976931349+308"},
        {-std::numeric_limits<double>::denorm_min(), "-4.940656458-324"},
        // 13 digits need exponent -10, 12 digits round up to 1.0E-9: the
        // mantissa keeps 12 and the field a blank.
        {9.99999999999949e-10, " 1.00000000000-9"},
        {std::nan(""), "****************"},
        {-std::numeric_limits<double>::infinity(), "****************"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(real16(c.value), c.text) << c.value;
}

// Over all magnitudes, both signs, the text fills its 16 characters (one
// less only where rounding reached the next power of ten and shortened the
// exponent) and the reader takes it back to within half a unit of its last
// digit, plus the double's own rounding. (Near the largest double the text
// may round beyond it, which no reader takes back: the values stay below
// 1.797693134E308.)
TEST(BdfReal16, ReadsBackWithinHalfItsLastDigit) {
    std::vector<double> values;
    for (int e = -307; e <= 308; ++e)
        for (const char *mantissa :
             {"1", "9.9999999999999", "9.99999999999949", "5.5555555555555", "1.00000000000049"}) {
            double v =
                std::strtod((std::string(mantissa) + "e" + std::to_string(e)).c_str(), nullptr);
            if (std::isfinite(v)) values.insert(values.end(), {v, std::nextafter(v, 0.0)});
        }
    std::mt19937_64 gen(16);
    for (int n = 0; n < 100000; ++n) {
        const double v = std::bit_cast<double>(uint64_t{gen()});
        if (std::fabs(v) < 1.797693134e308) values.push_back(v);
    }
    for (double v : {DBL_MIN, 1.797693134e308, std::numeric_limits<double>::denorm_min(), 1e-310})
        values.push_back(v);
    const size_t n = values.size();
    for (size_t i = 0; i < n; ++i)
        values.push_back(-values[i]);

    for (double v : values) {
        const std::string t = real16(v);
        ASSERT_EQ(t.size(), 16u) << v;
        const size_t point = t.find('.'), sign = t.find_last_of("+-");
        ASSERT_TRUE(point != std::string::npos && sign != std::string::npos && sign > point) << t;
        if (t[0] == ' ') { // a shortened exponent: rounded up to a power of ten
            ASSERT_EQ(t.substr(point - 1, sign - point + 1),
                      "1." + std::string(sign - point - 1, '0'))
                << t;
        }
        double back = 0.0;
        ASSERT_TRUE(sorvan::analysis::parse_real_field(t, back)) << t;
        const long double unit =
            std::pow(10.0L, std::stoi(t.substr(sign)) - static_cast<int>(sign - point - 1));
        const long double ulp = std::fabs(std::nextafter(v, 0.0) - v);
        ASSERT_LE(std::fabs(static_cast<long double>(back) - v), 0.5L * unit + ulp)
            << v << " " << t;
    }
}

// The scientific texts are made without the C runtime's printf, so they are
// the same on every platform; here they must equal glibc's. (The fixed texts
// of the 8-character field are compared with printf by real8_diff_test.)
TEST(BdfNumberText, ScientificMatchesPrintf) {
    std::mt19937_64 gen(99);
    char theirs[64];
    auto check = [&](double v) {
        std::snprintf(theirs, sizeof theirs, "%E", v);
        return std::string(BDFsci(v).text) == theirs;
    };
    for (int n = 0; n < 200000; ++n) {
        const double v = std::bit_cast<double>(uint64_t{gen()});
        if (std::isnan(v)) continue; // printf shows the sign of a NaN's bits
        ASSERT_TRUE(check(v)) << v;
    }
    const double inf = std::numeric_limits<double>::infinity();
    for (double v : {0.0, -0.0, 1e-9, 1e9, 9.9999995, 1e100, -1e-100, 5e-324,
                     1.7976931348623157e308, inf, -inf, std::nan("")})
        EXPECT_TRUE(check(v)) << v;
}

} // namespace
