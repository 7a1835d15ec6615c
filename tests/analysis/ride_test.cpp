// The time stepper and the comfort weighting against closed forms: the
// steady state of a sine through the frequency response, the variance of a
// random road's response through the integral of the response over the
// road's spectrum, and the weighting filters at their reference
// frequencies.
#include "analysis/comfort.h"
#include "analysis/reduction.h"
#include "analysis/ride.h"
#include "analysis/state_space.h"
#include "models.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

using sorvan::analysis::StateSpace;
using sorvan::analysis::StepMethod;
using sorvan::analysis::TimeStepper;
using sorvan::test::quarter_car;
constexpr double pi = std::numbers::pi;

// The quarter car in real modal coordinates: A block diagonal.
StateSpace in_modal_form(const StateSpace &m) {
    StateSpace modal;
    double condition = 0.0;
    std::string error;
    EXPECT_TRUE(sorvan::analysis::to_modal(m, modal, condition, error)) << error;
    return modal;
}

// A critically damped oscillator on its base: a double eigenvalue, so A is
// defective and the dense matrix exponential steps it.
StateSpace critically_damped() {
    const double w = 2 * pi * 2.0;
    StateSpace m;
    m.a.resize(2, 2);
    m.a << 0, 1, -w * w, -2 * w;
    m.b.resize(2, 1);
    m.b << 0, w * w;
    m.c.resize(1, 2);
    m.c << 1, 0;
    m.d = Eigen::MatrixXd::Zero(1, 1);
    return m;
}

struct SineCase {
    const char *name;
    StateSpace model;
    StepMethod method;
    double f_hz, rate_hz;
};

// After the transient, the output at the samples is the steady state of
// the input the hold makes of the sampled sine: the straight lines between
// the samples carry the sine's frequency with the gain sinc^2(f h) and no
// delay (their other content lies about multiples of the sample rate,
// where the models pass next to nothing).
TEST(Ride, SineThroughTheHoldIsTheFrequencyResponse) {
    const SineCase cases[] = {
        {"quarter car, A diagonalised", quarter_car(), StepMethod::eigenvectors, 1.5, 200},
        {"quarter car at wheel hop", quarter_car(), StepMethod::eigenvectors, 11.0, 500},
        {"quarter car in modal form", in_modal_form(quarter_car()), StepMethod::modal_form, 1.5,
         200},
        {"critically damped, defective A", critically_damped(), StepMethod::matrix_exponential, 3.0,
         300},
    };
    for (const SineCase &c : cases) {
        SCOPED_TRACE(c.name);
        const double h = 1.0 / c.rate_hz, w = 2 * pi * c.f_hz, amplitude = 0.02;
        const auto samples = static_cast<Eigen::Index>(30.0 * c.rate_hz);
        Eigen::MatrixXd u(samples, 1);
        for (Eigen::Index k = 0; k < samples; ++k)
            u(k, 0) = amplitude * std::sin(w * static_cast<double>(k) * h);
        const TimeStepper stepper(c.model, {0}, {0}, h);
        EXPECT_EQ(stepper.method(), c.method);
        ASSERT_TRUE(stepper.stable());
        const Eigen::MatrixXd y = stepper.run(u).values;
        const std::complex<double> g = sorvan::analysis::frequency_response(c.model, c.f_hz)(0, 0);
        const double x = pi * c.f_hz * h, hold = std::pow(std::sin(x) / x, 2);
        double worst = 0.0;
        for (Eigen::Index k = samples - static_cast<Eigen::Index>(2 * c.rate_hz); k < samples;
             ++k) {
            const double t = static_cast<double>(k) * h;
            const double expected = amplitude * hold * std::abs(g) * std::sin(w * t + std::arg(g));
            worst = std::max(worst, std::fabs(y(k, 0) - expected));
        }
        EXPECT_LT(worst / (amplitude * std::abs(g)), 1e-6);
    }
}

// A mass on a tyre spring with a damper to the ground, over a road that is
// a random walk in distance (one-sided density D / (2 pi^2 n^2), the
// singly integrated road): the variance of the mass's acceleration is the
// integral of |s^2 H|^2 over the road's density in time, D v / (2 pi^2 f^2).
TEST(Ride, RandomRoadVarianceIsTheIntegralOverTheSpectrum) {
    const double m = 300, k = 60e3, c = 3e3, v = 20.0, rate = 200.0, h = 1.0 / rate;
    const double dx = v * h, diffusion = 1e-5; // m^2 of variance per m of road
    StateSpace model;
    model.a.resize(2, 2);
    model.a << 0, 1, -k / m, -c / m;
    model.b.resize(2, 1);
    model.b << 0, k / m;
    model.c.resize(1, 2);
    model.c << 1, 0;
    model.d = Eigen::MatrixXd::Zero(1, 1);

    const Eigen::Index samples = 800000; // 4000 s
    std::mt19937_64 random(26);
    std::normal_distribution<double> step(0.0, std::sqrt(diffusion * dx));
    Eigen::MatrixXd u(samples, 1);
    u(0, 0) = 0.0;
    for (Eigen::Index i = 1; i < samples; ++i)
        u(i, 0) = u(i - 1, 0) + step(random);
    const TimeStepper stepper(model, {0}, {0}, h);
    const Eigen::MatrixXd a = stepper.run(u).accelerations;
    const double measured = std::sqrt(a.squaredNorm() / static_cast<double>(samples));

    // The samples of a random walk are its own, and the straight lines
    // between them have the density of the walk times sinc^2(f h) at every
    // frequency (the aliases of 1/f^2 sum to 1 / (f^2 sinc^2), the hold
    // multiplies by sinc^4). Summed on a logarithmic grid.
    double variance = 0.0;
    const double lo = std::log(1e-3), hi = std::log(1e4), dl = (hi - lo) / 200000;
    for (double l = lo + dl / 2; l < hi; l += dl) {
        const double f = std::exp(l);
        const std::complex<double> s(0.0, 2 * pi * f);
        const std::complex<double> g = s * s * (k / m) / (s * s + (c / m) * s + k / m);
        const double x = pi * f * h, hold = std::pow(std::sin(x) / x, 2);
        variance += std::norm(g) * hold * diffusion * v / (2 * pi * pi * f * f) * f * dl;
    }
    // The sampling error of a variance over T seconds of a process of
    // bandwidth B is about 1 / sqrt(B T): B is some 2 Hz here, T 4000 s.
    EXPECT_NEAR(measured / std::sqrt(variance), 1.0, 0.03);
}

// The weightings' magnitudes at reference frequencies, worked out from the
// filters' definitions (four decimals), Wd at 100 rad/s the one quoted.
TEST(Comfort, WeightingMagnitudes) {
    using sorvan::analysis::Weighting;
    struct Row {
        double f_hz, wk, wd;
    };
    const Row rows[] = {{0.5, 0.4182, 0.8528},  {1.0, 0.4825, 1.0110}, {2.0, 0.5314, 0.8902},
                        {4.0, 0.9672, 0.5119},  {8.0, 1.0364, 0.2531}, {16.0, 0.7687, 0.1254},
                        {31.5, 0.4048, 0.0632}, {63.0, 0.1861, 0.0295}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.f_hz);
        EXPECT_NEAR(std::abs(weighting_response(Weighting::wk, r.f_hz)), r.wk, 5e-5);
        EXPECT_NEAR(std::abs(weighting_response(Weighting::wd, r.f_hz)), r.wd, 5e-5);
    }
    EXPECT_NEAR(std::abs(weighting_response(Weighting::wd, 100.0 / (2 * pi))), 0.1261, 5e-5);
    // The state-space form the ride steps is the same filter.
    for (Weighting w : {Weighting::wk, Weighting::wd})
        for (double f : {0.1, 0.4, 2.0, 12.5, 100.0, 400.0})
            EXPECT_NEAR(std::abs(sorvan::analysis::frequency_response(
                                     sorvan::analysis::weighting_model(w), f)(0, 0) -
                                 weighting_response(w, f)),
                        0.0, 1e-12);
}

// A sine of acceleration weighted in time: RMS |W| A / sqrt 2 and dose
// |W| A (3 T / 8)^(1/4), the mean of sin^4 being 3/8.
TEST(Comfort, WeightedSineHasItsRmsAndDose) {
    using sorvan::analysis::Weighting;
    const double f = 4.0, amplitude = 1.2, rate = 1000.0, h = 1.0 / rate, settle = 20.0,
                 span = 50.0;
    const auto samples = static_cast<Eigen::Index>((settle + span) * rate) + 1;
    Eigen::MatrixXd a(samples, 1);
    for (Eigen::Index k = 0; k < samples; ++k)
        a(k, 0) = amplitude * std::sin(2 * pi * f * static_cast<double>(k) * h);
    const TimeStepper filter(weighting_model(Weighting::wk), {0}, {0}, h);
    const Eigen::MatrixXd aw = filter.run(a).values;
    const auto first = static_cast<std::size_t>(settle * rate);
    std::vector<double> tail(static_cast<std::size_t>(samples) - first);
    for (std::size_t i = 0; i < tail.size(); ++i)
        tail[i] = aw(static_cast<Eigen::Index>(first + i), 0);
    const sorvan::analysis::ComfortFigures got = sorvan::analysis::comfort_figures(tail, h);
    const double gain = std::abs(weighting_response(Weighting::wk, f));
    EXPECT_NEAR(got.weighted_rms / (gain * amplitude / std::sqrt(2.0)), 1.0, 1e-4);
    EXPECT_NEAR(got.vdv / (gain * amplitude * std::pow(3.0 * span / 8.0, 0.25)), 1.0, 1e-4);
    EXPECT_STREQ(sorvan::analysis::comfort_band(got.weighted_rms), "fairly uncomfortable");
}

} // namespace
