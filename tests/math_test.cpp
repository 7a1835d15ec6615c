// Sine and cosine as the library's geometry uses them: correctly rounded on
// every build, so that wheel drawings and coordinate systems print the same
// everywhere. The expected values (tests/data/cases/trig.txt) include the
// multiples of pi/2 where a careless argument reduction loses most digits
// (cos of the double nearest pi/2 is 6.123233995736766e-17).
#include "support/cases.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

namespace {

struct Case {
    double x, sin, cos;
};

// tests/data/cases/trig.txt, read exactly on every build.
std::vector<Case> cases() {
    std::vector<Case> v;
    for (const sorvan::test::Case &c : sorvan::test::read_cases("trig.txt")) {
        double x[3] = {};
        for (size_t k = 0; k < 3 && k < c.fields.size(); ++k)
            std::from_chars(c.fields[k].data(), c.fields[k].data() + c.fields[k].size(), x[k]);
        v.push_back({x[0], x[1], x[2]});
    }
    EXPECT_EQ(v.size(), 31u);
    return v;
}

// Through a volatile, so that the compiler cannot work the values out
// itself and every case calls the library's functions.
double through(double x) {
    volatile double v = x;
    return v;
}

TEST(Trigonometry, CorrectlyRoundedOnTheGeometrysAngles) {
    for (const Case &c : cases()) {
        EXPECT_EQ(std::sin(through(c.x)), c.sin) << "sin " << c.x;
        EXPECT_EQ(std::cos(through(c.x)), c.cos) << "cos " << c.x;
        EXPECT_EQ(std::sin(through(-c.x)), -c.sin) << "sin " << -c.x;
        EXPECT_EQ(std::cos(through(-c.x)), c.cos) << "cos " << -c.x;
    }
}

// Sine and cosine of one angle side by side, which the compiler may turn
// into one call computing both.
TEST(Trigonometry, PairsOfOneAngle) {
    for (const Case &c : cases()) {
        double x = through(c.x);
        double s = std::sin(x), co = std::cos(x);
        EXPECT_EQ(s, c.sin) << c.x;
        EXPECT_EQ(co, c.cos) << c.x;
    }
}

} // namespace
