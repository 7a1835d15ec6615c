// Road classes against their table (densities and bounds) and the fitted
// density of Gaussian profiles drawn here with a known level.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "analysis/psd.h"
#include "analysis/road_class.h"
#include "models.h"

namespace {

using sorvan::test::gaussian_profile;

using namespace sorvan::analysis;

// Gd(0.1) of the classes, 10^-6 m^3 = mm^2 m, and the bounds between them.
const double table[8] = {16, 64, 256, 1024, 4096, 16384, 65536, 262144};
const double bounds[7] = {32, 128, 512, 2048, 8192, 32768, 131072};

TEST(RoadClass, DensitiesAndBoundsFollowTheTable) {
    for (int k = 0; k < 8; ++k) {
        char upper = static_cast<char>('A' + k), lower = static_cast<char>('a' + k);
        EXPECT_EQ(class_density(upper), table[k]) << upper;
        EXPECT_EQ(class_density(lower), table[k]) << lower;
        EXPECT_EQ(road_class_of(table[k]), upper);
        double lo, hi;
        ASSERT_TRUE(class_bounds(upper, lo, hi));
        EXPECT_EQ(lo, k == 0 ? 0.0 : bounds[k - 1]) << upper;
        EXPECT_EQ(hi, k == 7 ? std::numeric_limits<double>::infinity() : bounds[k]) << upper;
    }
    for (int k = 0; k < 7; ++k) {
        // A bound belongs to the class above it.
        EXPECT_EQ(road_class_of(bounds[k]), 'B' + k);
        EXPECT_EQ(road_class_of(std::nextafter(bounds[k], 0.0)), 'A' + k);
    }
    EXPECT_EQ(road_class_of(1e-12), 'A');
    EXPECT_EQ(road_class_of(1e12), 'H');
    EXPECT_EQ(road_class_of(std::numeric_limits<double>::infinity()), 'H');
    for (double bad : {0.0, -5.0, std::nan("")})
        EXPECT_EQ(road_class_of(bad), '\0') << bad;
    for (char bad : {'I', '@', '\0', 'z'}) {
        double lo, hi;
        EXPECT_EQ(class_density(bad), 0.0);
        EXPECT_FALSE(class_bounds(bad, lo, hi));
        EXPECT_EQ(class_coefficients(bad).gs, 0.0);
    }
}

TEST(RoadClass, FitFindsTheLevelOfTheLine) {
    std::mt19937_64 rng(77);
    for (char c : {'A', 'D', 'H'}) {
        for (double interval : {0.05, 0.1, 0.25}) {
            double gd = class_density(c);
            auto line = [gd](double v) { return gd * (0.1 / v) * (0.1 / v); };
            std::vector<double> z = gaussian_profile(line, 1 << 15, interval, rng);
            DensityFit fit;
            std::string error;
            ASSERT_TRUE(fit_class_density(z.data(), z.size(), interval, fit, error)) << error;
            EXPECT_NEAR(fit.gd01, gd, 0.08 * gd) << c << " at " << interval;
            EXPECT_NEAR(fit.slope, -2.0, 0.1) << c << " at " << interval;
            EXPECT_EQ(road_class_of(fit.gd01), c);
            // The band: 0.011 cycle/m at the longest segments, and at most
            // half the sampling limit or 2.83 cycle/m.
            EXPECT_EQ(fit.lowest, 0.011);
            EXPECT_EQ(fit.highest, std::min(2.83, 0.25 / interval));
            EXPECT_GE(fit.bands, 20);
        }
    }
}

TEST(RoadClass, FitRefusesProfilesThatDoNotResolveTheBand) {
    auto refused = [](const std::vector<double> &z, double interval, const char *fragment) {
        DensityFit fit;
        std::string error;
        EXPECT_FALSE(fit_class_density(z.data(), z.size(), interval, fit, error)) << fragment;
        EXPECT_NE(error.find(fragment), std::string::npos) << error;
    };
    std::vector<double> z(1500, 1.0);
    refused(z, 0.1, "0.1 cycle/m"); // 150 m: segments of 25.6 m
    z.assign(20000, 0.0);
    z[12345] = std::nan("");
    refused(z, 0.1, "elevation 12345");
    refused(std::vector<double>(20000, 0.0), -0.1, "interval");
}

} // namespace
