// The roughness index against values worked out apart from the code: the
// quarter car's response to a sine solved by hand, the expectation
// integrated over the continuous car, and the mean index of Gaussian
// profiles drawn here.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "analysis/iri.h"
#include "analysis/psd.h"
#include "analysis/road_class.h"
#include "models.h"

namespace {

using sorvan::test::gaussian_profile;

using sorvan::analysis::iri;
using sorvan::analysis::iri_expected;

const double pi = std::acos(-1.0);
constexpr double speed = 80.0 / 3.6;

// The stroke zu - zs per unit road elevation at wavenumber v (cycle/m), from
// the two equations of motion at the frequency omega = 2 pi v speed:
//   (k2 - w^2 + i w c) Zs - (k2 + i w c) Zu = 0
//   -(k2 + i w c) Zs + (k1 + k2 - mu w^2 + i w c) Zu = k1 Y
// by Cramer's rule; the first row's two coefficients add up to -w^2.
double stroke_gain(double v) {
    const double k1 = 653.0, k2 = 63.3, c = 6.0, mu = 0.15;
    double w = 2.0 * pi * v * speed;
    std::complex<double> iwc(0.0, w * c);
    std::complex<double> a11 = k2 - w * w + iwc, a12 = -(k2 + iwc);
    std::complex<double> a22 = k1 + k2 - mu * w * w + iwc;
    return std::abs(-w * w * k1 / (a11 * a22 - a12 * a12));
}

// The gain of the moving average over base b.
double average_gain(double v, double b) {
    double x = pi * v * b;
    return std::fabs(std::sin(x) / x);
}

// The index of the continuous car driven by z = amplitude sin(2 pi v x): its
// stroke rate over the speed is the stroke's answer to the smoothed slope,
// a sine, whose mean absolute value is 2 / pi of its amplitude.
double sine_index(double amplitude, double v) {
    return 2.0 / pi * stroke_gain(v) * amplitude * 2.0 * pi * v * average_gain(v, 0.25);
}

std::vector<double> sine(double amplitude, double wavelength, double interval, std::size_t n) {
    std::vector<double> z(n);
    for (std::size_t j = 0; j < n; ++j)
        z[j] =
            amplitude * std::sin(2.0 * pi * static_cast<double>(j) * interval / wavelength + 0.3);
    return z;
}

TEST(Iri, SineProfilesFollowTheQuarterCar) {
    struct Case {
        double wavelength, interval;
    } cases[] = {{1.0, 0.025},  {2.5, 0.025}, {10.0, 0.025},
                 {30.0, 0.025}, {10.0, 0.1},  {30.0, 0.1}, // base between samples
                 {10.0, 0.05},  {30.0, 0.05}};
    for (const Case &c : cases) {
        // Whole periods of slopes after the base's last sample, over about 6
        // km so that the start's brief swing weighs little.
        auto per = static_cast<std::size_t>(std::lround(c.wavelength / c.interval));
        std::size_t periods = static_cast<std::size_t>(6000.0 / c.wavelength);
        std::size_t base = static_cast<std::size_t>(std::ceil(0.25 / c.interval - 1e-9));
        std::vector<double> z = sine(5.0, c.wavelength, c.interval, per * periods + base);
        double index = -1.0;
        std::string error;
        ASSERT_TRUE(iri(z.data(), z.size(), c.interval, index, error)) << error;
        double expected = sine_index(5.0, 1.0 / c.wavelength);
        EXPECT_NEAR(index, expected, 0.005 * expected)
            << "wavelength " << c.wavelength << " m at " << c.interval << " m";
    }
}

TEST(Iri, RefusesProfilesItCannotRate) {
    auto refused = [](std::vector<double> z, double interval, const char *fragment) {
        double index = 42.0;
        std::string error;
        EXPECT_FALSE(iri(z.data(), z.size(), interval, index, error)) << fragment;
        EXPECT_NE(error.find(fragment), std::string::npos) << error;
        EXPECT_EQ(index, 42.0);
    };
    refused(std::vector<double>(110, 1.0), 0.1, "11 m"); // spans 10.9 m
    std::vector<double> z(1000, 0.0);
    z[517] = std::nan("");
    refused(z, 0.1, "elevation 517");
    z[517] = 0.0;
    for (double bad : {0.0, 11.5, std::nan("")})
        refused(z, bad, "interval");
    // Exactly 11 m is enough.
    double index;
    std::string error;
    EXPECT_TRUE(iri(z.data(), 111, 0.1, index, error)) << error;
}

// The Sayers density of a class-C road with a doubly integrated part.
double density(double v) {
    sorvan::analysis::SayersCoefficients s = sorvan::analysis::class_coefficients('C');
    double w2 = 4.0 * pi * pi * v * v;
    return s.ge + s.gs / w2 + 0.05 / (w2 * w2);
}

TEST(Iri, ExpectationTendsToTheContinuousCar) {
    // The continuous car's stroke rate over the speed against the slope
    // density (2 pi v)^2 G(v) through the moving average, integrated here by
    // the trapezoidal rule in ln v from 10 km to 1 cm wavelengths.
    const int steps = 20000;
    double lo = std::log(1e-4), hi = std::log(100.0), h = (hi - lo) / steps, sum = 0.0;
    for (int k = 0; k <= steps; ++k) {
        double v = std::exp(lo + h * k);
        double g = stroke_gain(v) * 2.0 * pi * v * average_gain(v, 0.25);
        sum += (k == 0 || k == steps ? 0.5 : 1.0) * g * g * density(v) * v * h;
    }
    double continuous = std::sqrt(sum) * std::sqrt(2.0 / pi);
    // At a 5 mm interval the held slope and the sampling limit (100 cycle/m)
    // change the index by far less than 0.2 %.
    EXPECT_NEAR(iri_expected(density, 0.005), continuous, 0.002 * continuous);
    // The coefficient form is the same density.
    sorvan::analysis::SayersCoefficients s = sorvan::analysis::class_coefficients('C');
    EXPECT_NEAR(iri_expected(s.ge, s.gs, 0.05, 0.005), continuous, 0.002 * continuous);
}

TEST(Iri, ExpectationMatchesTheMeanOfGaussianProfiles) {
    struct Case {
        std::function<double(double)> density;
        double interval;
    } cases[] = {
        {density, 0.05},
        // Class B without the doubly integrated part, at the interval whose
        // base falls between samples.
        {[](double v) { return 0.05 + 25.266 / (4.0 * pi * pi * v * v); }, 0.1},
    };
    std::mt19937_64 rng(20240611);
    for (const Case &c : cases) {
        const int profiles = 12;
        const std::size_t n = 1 << 17;
        double sum = 0.0, sum_sq = 0.0;
        for (int p = 0; p < profiles; ++p) {
            std::vector<double> z = gaussian_profile(c.density, n, c.interval, rng);
            double index;
            std::string error;
            ASSERT_TRUE(iri(z.data(), z.size(), c.interval, index, error)) << error;
            sum += index;
            sum_sq += index * index;
        }
        double mean = sum / profiles;
        double spread = std::sqrt((sum_sq - sum * mean) / (profiles - 1));
        double standard_error = spread / std::sqrt(profiles);
        EXPECT_LT(standard_error, 0.002 * mean); // the comparison below means something
        // The car starts at rest on the mean slope and takes a few metres to
        // swing up to the road: allow 10 m of each profile for that.
        double start = 10.0 / (static_cast<double>(n) * c.interval) * mean;
        EXPECT_NEAR(iri_expected(c.density, c.interval), mean, 4.0 * standard_error + start)
            << "interval " << c.interval;
    }
}

} // namespace
