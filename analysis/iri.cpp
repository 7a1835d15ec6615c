// The roughness index's quarter car, discretised exactly for the sample
// interval, run over a profile and averaged over a spectrum.
//
// The car. With the sprung and unsprung displacements zs, zu and the road
// elevation y under the tyre, per unit sprung mass (' a time derivative):
//     zs''    = k2 (zu - zs) + c (zu' - zs')
//     mu zu'' = k1 (y - zu) - k2 (zu - zs) - c (zu' - zs')
// or s' = A s + B y with s = (zs, zs', zu, zu'):
//     A = [   0      1        0           0   ]      B = [   0   ]
//         [ -k2     -c        k2          c   ]          [   0   ]
//         [   0      0        0           1   ]          [   0   ]
//         [ k2/mu  c/mu  -(k1+k2)/mu   -c/mu  ]          [ k1/mu ]
// The system is linear and time-invariant, so differentiating input and
// state alike by the distance x leaves the equation unchanged: driven by
// the slope p = dy/dx, the state u = ds/dx obeys u' = A u + B p. Its first
// and third entries are dzs/dx and dzu/dx, so the stroke rate is
// zu' - zs' = V (u3 - u1) at the speed V, and the index, the mean absolute
// stroke rate over V, is the mean of |u3 - u1|: mm/m = m/km for elevations
// in mm and distances in m.
//
// The step. One interval dx takes dt = dx / V. With the smoothed slope p_i
// held over the interval, the exact transition is
//     u_{i+1} = Phi u_i + Gamma p_i,
//     Phi = e^(A dt),  Gamma = (integral from 0 to dt of e^(A t) dt) B,
// and both are read off one exponential of the augmented matrix:
//     exp([A B; 0 0] dt) = [Phi Gamma; 0 1].
// A constant slope a is followed in steady state with zs = zu = a x, that is
// u = (a, 0, a, 0), and (I - Phi)^-1 Gamma = (1, 0, 1, 0) keeps it there;
// the car starts in this state with a the mean slope of the first 11 m, so
// that it does not ring at the start.
//
// The expectation. For a stationary Gaussian profile sampled at dx with a
// one-sided density G(v) up to the sampling limit, each term below is a
// gain at the wavenumber v, with theta = 2 pi v dx:
//   - the smoothed slope p_i = (z(x_i + b) - z_i) / b, with z(x_i + b) =
//     (1 - f) z_{i+j} + f z_{i+j+1} for b = (j + f) dx, has the gain
//       F = ((1 - f) e^(i theta j) + f e^(i theta (j + 1)) - 1) / b;
//     for f = 0, |F| = 2 |sin(pi v b)| / b = 2 pi v |sin(pi v b) / (pi v b)|,
//     the slope's gain 2 pi v times that of the moving average over b;
//   - the stroke o_i = u3 - u1 after step i answers the slope with
//       H = C (e^(i theta) I - Phi)^-1 Gamma e^(i theta),  C = (-1, 0, 1, 0),
//     which tends to the quarter car's continuous response as dx shrinks.
// So o is Gaussian with mean 0 (H = 0 at v = 0: a constant slope gives no
// stroke) and variance sigma^2 = integral of |H F|^2 G dv over (0, 1/(2 dx)],
// which is |H|^2 times the slope density (2 pi v)^2 G(v) times the moving
// average's squared gain when the interval divides the base. The mean of
// |o| is sigma sqrt(2 / pi); o is already the stroke rate over the speed.
#include "analysis/iri.h"

#include <Eigen/Dense>
#include <unsupported/Eigen/MatrixFunctions>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>

namespace sorvan::analysis {

namespace {

const double pi = std::acos(-1.0);

// The spectral integral runs from wavelengths of 100 km to the sampling
// limit: below 10^-5 cycle/m the stroke has fallen as v^2 or faster for any
// Sayers density (the car follows long undulations), and the part left out
// is below 10^-7 of the variance. Simpson's rule in ln v with 200 intervals
// per decade is exact to about 10^-8 on the broad resonances of the car.
constexpr double lowest_wavenumber = 1e-5;
constexpr double intervals_per_decade = 200.0;

// Distances closer to a sample than this fraction of an interval count as
// on it, so that 0.25 m at 0.05 m is 5 intervals and not 4.9999999.
constexpr double on_sample = 1e-9;

struct Car {
    Eigen::Matrix4d phi;
    Eigen::Vector4d gamma;
};

// The exact transition of the slope-driven car over one interval.
Car car_step(double interval) {
    Eigen::Matrix<double, 5, 5> m = Eigen::Matrix<double, 5, 5>::Zero();
    m(0, 1) = 1.0;
    m(1, 0) = -iri_k2;
    m(1, 1) = -iri_c;
    m(1, 2) = iri_k2;
    m(1, 3) = iri_c;
    m(2, 3) = 1.0;
    m(3, 0) = iri_k2 / iri_mu;
    m(3, 1) = iri_c / iri_mu;
    m(3, 2) = -(iri_k1 + iri_k2) / iri_mu;
    m(3, 3) = -iri_c / iri_mu;
    m(3, 4) = iri_k1 / iri_mu;
    Eigen::Matrix<double, 5, 5> e = (m * (interval / iri_speed)).exp();
    return {e.topLeftCorner<4, 4>(), e.topRightCorner<4, 1>()};
}

// A distance on the sample grid: the sample at or before it and the
// fraction of the next interval beyond that sample.
struct GridPoint {
    std::size_t index;
    double fraction;
};

// Where distance lies on a grid of n samples; false when it lies beyond the
// last sample.
bool grid_point(double distance, double interval, std::size_t n, GridPoint &p) {
    double r = distance / interval;
    double near = std::round(r);
    if (std::fabs(r - near) <= on_sample * std::max(1.0, r)) r = near;
    double whole = std::floor(r);
    if (!(whole < static_cast<double>(n))) return false;
    p = {static_cast<std::size_t>(whole), r - whole};
    return p.fraction == 0.0 || p.index + 1 < n;
}

double elevation_at(const double *z, GridPoint p) {
    if (p.fraction == 0.0) return z[p.index];
    return (1.0 - p.fraction) * z[p.index] + p.fraction * z[p.index + 1];
}

bool usable(double interval) {
    return interval >= iri_interval_min && interval <= iri_interval_max;
}

bool check_profile(const double *z, std::size_t n, double interval, std::string &error) {
    if (!usable(interval)) {
        char text[120];
        std::snprintf(text, sizeof text, "the sample interval %g m is not within %g to %g m",
                      interval, iri_interval_min, iri_interval_max);
        error = text;
        return false;
    }
    if (z == nullptr && n > 0) {
        error = "no elevations";
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(z[i])) {
            error = "elevation " + std::to_string(i) + " (sample index from 0) is not finite";
            return false;
        }
    }
    return true;
}

// The gain F of the smoothed slope at theta = 2 pi v dx.
std::complex<double> slope_gain(double theta, double base, GridPoint b) {
    const std::complex<double> i(0.0, 1.0);
    double j = static_cast<double>(b.index);
    std::complex<double> far = (1.0 - b.fraction) * std::exp(i * (theta * j));
    if (b.fraction > 0.0) far += b.fraction * std::exp(i * (theta * (j + 1.0)));
    return (far - 1.0) / base;
}

// |H F|^2 at wavenumber v: the stroke's squared gain on the elevation.
double stroke_power(const Car &car, double v, double interval, double base, GridPoint b) {
    double theta = 2.0 * pi * v * interval;
    std::complex<double> w = std::polar(1.0, theta);
    Eigen::Matrix4cd m = w * Eigen::Matrix4cd::Identity() - car.phi.cast<std::complex<double>>();
    Eigen::Vector4cd x = m.partialPivLu().solve(car.gamma.cast<std::complex<double>>());
    std::complex<double> h = x(2) - x(0); // |e^(i theta)| = 1 drops out
    return std::norm(h * slope_gain(theta, base, b));
}

} // namespace

double iri_base_length(double interval) {
    return std::max(iri_base, interval);
}

bool iri(const double *z, std::size_t n, double interval, double &index, std::string &error) {
    if (!check_profile(z, n, interval, error)) return false;
    GridPoint start, base;
    if (n == 0 || !grid_point(iri_start, interval, n, start)) {
        char text[160];
        double span = n == 0 ? 0.0 : static_cast<double>(n - 1) * interval;
        std::snprintf(text, sizeof text,
                      "the profile spans %.6g m, less than the %g m whose mean slope starts the "
                      "quarter car",
                      span, iri_start);
        error = text;
        return false;
    }
    double b = iri_base_length(interval);
    if (!grid_point(b, interval, n, base)) { // never: the base ends by 11 m or at sample 1
        error = "the profile is shorter than the slope's base";
        return false;
    }
    std::size_t reach = base.index + (base.fraction > 0.0 ? 1 : 0);
    Car car = car_step(interval);
    double a = (elevation_at(z, start) - z[0]) / iri_start;
    Eigen::Vector4d u(a, 0.0, a, 0.0);
    double sum = 0.0;
    std::size_t steps = n - reach;
    for (std::size_t i = 0; i < steps; ++i) {
        double p = (elevation_at(z, {base.index + i, base.fraction}) - z[i]) / b;
        u = car.phi * u + car.gamma * p;
        sum += std::fabs(u(2) - u(0));
    }
    index = sum / static_cast<double>(steps);
    return true;
}

double iri_expected(const std::function<double(double)> &density, double interval) {
    const double nan = std::nan("");
    if (!usable(interval) || !density) return nan;
    double base = iri_base_length(interval);
    GridPoint b;
    grid_point(base, interval, std::numeric_limits<std::size_t>::max(), b);
    Car car = car_step(interval);
    double top = std::log(0.5 / interval), range = top - std::log(lowest_wavenumber);
    int steps = 2 * static_cast<int>(std::ceil(range / std::log(10.0) * intervals_per_decade / 2));
    double h = range / steps;
    double sum = 0.0;
    for (int k = 0; k <= steps; ++k) {
        double v = std::exp(top - h * (steps - k));
        double g = density(v);
        if (!(g >= 0.0) || !std::isfinite(g)) return nan;
        double weight = (k == 0 || k == steps) ? 1.0 : (k % 2 ? 4.0 : 2.0);
        sum += weight * stroke_power(car, v, interval, base, b) * g * v; // dv = v d(ln v)
    }
    double variance = sum * h / 3.0;
    return std::sqrt(variance) * std::sqrt(2.0 / pi);
}

double iri_expected(double ge, double gs, double ga, double interval) {
    return iri_expected(
        [=](double v) {
            double w2 = (2.0 * pi * v) * (2.0 * pi * v);
            return ge + gs / w2 + ga / (w2 * w2);
        },
        interval);
}

} // namespace sorvan::analysis
