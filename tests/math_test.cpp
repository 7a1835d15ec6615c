// Sine and cosine as the library's geometry uses them: correctly rounded on
// every build, so that wheel drawings and coordinate systems print the same
// everywhere. The expected values are the exact sines and cosines rounded to
// double, worked out to 300 bits; they include the multiples of pi/2 where a
// careless argument reduction loses most digits (cos of the double nearest
// pi/2 is 6.123233995736766e-17).
#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Case {
    double x, sin, cos;
};

// The wheel rim angles k x 2 acos(-1) / 24, then angles given in degrees
// times 0.017453292519943295, then large arguments.
const Case cases[] = {
    {0.0, 0.0, 1.0},
    {0.2617993877991494, 0.25881904510252074, 0.9659258262890683},
    {0.5235987755982988, 0.49999999999999994, 0.8660254037844387},
    {0.7853981633974483, 0.7071067811865475, 0.7071067811865476},
    {1.0471975511965976, 0.8660254037844386, 0.5000000000000001},
    {1.3089969389957472, 0.9659258262890683, 0.25881904510252074},
    {1.5707963267948966, 1.0, 6.123233995736766e-17},
    {1.832595714594046, 0.9659258262890683, -0.25881904510252063},
    {2.0943951023931953, 0.8660254037844387, -0.4999999999999998},
    {2.356194490192345, 0.7071067811865476, -0.7071067811865475},
    {2.6179938779914944, 0.49999999999999994, -0.8660254037844387},
    {2.8797932657906435, 0.258819045102521, -0.9659258262890682},
    {3.141592653589793, 1.2246467991473532e-16, -1.0},
    {3.4033920413889427, -0.2588190451025208, -0.9659258262890683},
    {3.665191429188092, -0.4999999999999997, -0.8660254037844388},
    {3.926990816987241, -0.7071067811865471, -0.7071067811865479},
    {4.1887902047863905, -0.8660254037844384, -0.5000000000000004},
    {4.4505895925855405, -0.9659258262890683, -0.25881904510252063},
    {4.71238898038469, -1.0, -1.8369701987210297e-16},
    {4.974188368183839, -0.9659258262890684, 0.2588190451025203},
    {5.235987755982989, -0.8660254037844386, 0.5000000000000001},
    {5.497787143782138, -0.7071067811865477, 0.7071067811865474},
    {5.759586531581287, -0.5000000000000004, 0.8660254037844384},
    {6.021385919380436, -0.25881904510252157, 0.9659258262890681},
    {-1.5707963267948966, -1.0, 6.123233995736766e-17},
    {6.283185307179586, -2.4492935982947064e-16, 1.0},
    {1745.3292519943295, -0.9848077530122171, 0.1736481776668789},
    {123456.789, -0.9986640823432246, 0.05167253271870138},
    {1000000.0, -0.34999350217129294, 0.9367521275331447},
    {950000000.0, -0.38384081000691533, 0.9233992812284593},
    {1e-300, 1e-300, 1.0},
};

// Through a volatile, so that the compiler cannot work the values out
// itself and every case calls the library's functions.
double through(double x) {
    volatile double v = x;
    return v;
}

TEST(Trigonometry, CorrectlyRoundedOnTheGeometrysAngles) {
    for (const Case &c : cases) {
        EXPECT_EQ(std::sin(through(c.x)), c.sin) << "sin " << c.x;
        EXPECT_EQ(std::cos(through(c.x)), c.cos) << "cos " << c.x;
        EXPECT_EQ(std::sin(through(-c.x)), -c.sin) << "sin " << -c.x;
        EXPECT_EQ(std::cos(through(-c.x)), c.cos) << "cos " << -c.x;
    }
}

// Sine and cosine of one angle side by side, which the compiler may turn
// into one call computing both.
TEST(Trigonometry, PairsOfOneAngle) {
    for (const Case &c : cases) {
        double x = through(c.x);
        double s = std::sin(x), co = std::cos(x);
        EXPECT_EQ(s, c.sin) << c.x;
        EXPECT_EQ(co, c.cos) << c.x;
    }
}

TEST(Trigonometry, SpecialArguments) {
    EXPECT_TRUE(std::signbit(std::sin(through(-0.0))));
    EXPECT_EQ(std::cos(through(-0.0)), 1.0);
    EXPECT_TRUE(std::isnan(std::sin(through(INFINITY))));
    EXPECT_TRUE(std::isnan(std::cos(through(-INFINITY))));
    EXPECT_TRUE(std::isnan(std::sin(through(NAN))));
    // Far beyond any angle: still a sine and a cosine.
    for (double x : {1e22, -3e300, 1.7976931348623157e308}) {
        double s = std::sin(through(x)), c = std::cos(through(x));
        EXPECT_LE(std::fabs(s), 1.0) << x;
        EXPECT_LE(std::fabs(c), 1.0) << x;
    }
}

} // namespace
