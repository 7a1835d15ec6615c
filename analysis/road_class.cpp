// Road classes by the displacement density at 0.1 cycle/m, and the fit of
// a profile's Welch density that measures it.
#include "analysis/road_class.h"

#include "analysis/psd.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace sorvan::analysis {

namespace {

const double pi = std::acos(-1.0);

// Gd(0.1) of class A; each further class is 4 times the one before.
constexpr double class_a_density = 16.0;
constexpr double class_step = 4.0;

// ge = Gd(0.1) / 1280: the white noise equals gs / (2 pi v)^2 at
// v = 0.1 sqrt(1280) = 3.58 cycle/m, a wavelength of 0.28 m.
constexpr double white_noise_ratio = 1280.0;

// The band the line is fitted over, before clipping: wavelengths from 91 m
// to 0.35 m, a decade below 0.1 cycle/m and a decade and a half above.
constexpr double fit_lowest = 0.011;
constexpr double fit_highest = 2.83;

// The fit starts at a segment's fourth wavenumber at the earliest: the
// first ones lose most of their content to the removal of each segment's
// straight line, and the window spreads the steep density of the next
// ones into their neighbours.
constexpr double first_bin = 4.0;

// Welch segments: at least seven, half overlapping, which n >= 4 L gives;
// never shorter than 16 samples.
constexpr std::size_t segments_per_length = 4;
constexpr std::size_t shortest_segment = 16;

constexpr double bands_per_octave = 3.0;

// Fewest bands holding an estimate: one octave.
constexpr int fewest_bands = 3;

int class_number(char road_class) {
    int c = std::toupper(static_cast<unsigned char>(road_class));
    return c >= 'A' && c < 'A' + road_class_count ? c - 'A' : -1;
}

// The largest power of 2 not above n (n > 0).
std::size_t floor_power_of_two(std::size_t n) {
    std::size_t p = 1;
    while (p <= n / 2)
        p *= 2;
    return p;
}

// Segment length: long enough for the fit's lowest wavenumber to be the
// segment's fourth, but no longer than seven segments allow.
std::size_t fit_segment(std::size_t n, double interval) {
    std::size_t most = floor_power_of_two(std::max<std::size_t>(n / segments_per_length, 1));
    std::size_t want = shortest_segment;
    while (want < most && static_cast<double>(want) * interval * fit_lowest < first_bin)
        want *= 2;
    return std::min(want, most);
}

// Band averages of the density referred to 0.1 cycle/m, with the band
// centres and mean densities for the free slope.
struct Bands {
    std::vector<double> level;   // mean of G(v) (v / 0.1)^2
    std::vector<double> centre;  // geometric mean of the band's wavenumbers
    std::vector<double> density; // mean of G(v)
};

Bands band_averages(const psd::Spectrum &s, double lowest, double highest) {
    double octaves = std::log2(highest / lowest);
    std::size_t count =
        std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(bands_per_octave * octaves)));
    std::vector<double> level(count), density(count), logv(count);
    std::vector<int> bins(count);
    for (std::size_t k = 0; k < s.wavenumber.size(); ++k) {
        double v = s.wavenumber[k];
        if (v < lowest || v > highest) continue;
        double at = std::floor(bands_per_octave * std::log2(v / lowest));
        std::size_t i = std::min(count - 1, static_cast<std::size_t>(at));
        double r = v / class_wavenumber;
        level[i] += s.density[k] * r * r;
        density[i] += s.density[k];
        logv[i] += std::log(v);
        bins[i]++;
    }
    Bands b;
    for (std::size_t i = 0; i < count; ++i) {
        if (bins[i] == 0) continue;
        b.level.push_back(level[i] / bins[i]);
        b.density.push_back(density[i] / bins[i]);
        b.centre.push_back(std::exp(logv[i] / bins[i]));
    }
    return b;
}

// Least-squares slope of log density on log wavenumber.
double free_slope(const Bands &b) {
    double n = static_cast<double>(b.centre.size()), mx = 0.0, my = 0.0;
    for (std::size_t i = 0; i < b.centre.size(); ++i) {
        mx += std::log(b.centre[i]) / n;
        my += std::log(std::max(b.density[i], std::numeric_limits<double>::min())) / n;
    }
    double sxy = 0.0, sxx = 0.0;
    for (std::size_t i = 0; i < b.centre.size(); ++i) {
        double dx = std::log(b.centre[i]) - mx;
        sxy += dx * (std::log(std::max(b.density[i], std::numeric_limits<double>::min())) - my);
        sxx += dx * dx;
    }
    return sxx > 0.0 ? sxy / sxx : 0.0;
}

bool check_samples(const double *z, std::size_t n, double interval, std::string &error) {
    if (!(interval > 0.0) || !std::isfinite(interval)) {
        error = "the sample interval must be a finite distance above 0";
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

std::string band_error(std::size_t n, double interval, double lowest, double highest) {
    const char *needs = "it needs Welch segments of at least 40 m, so a profile of 160 to 320 m "
                        "or more, and an interval of at most 2.5 m";
    std::string what = "a profile of " + std::to_string(n) + (n == 1 ? " sample" : " samples");
    char text[320];
    // Too short for one segment, it resolves no band at all.
    if (!(lowest < highest)) {
        std::snprintf(text, sizeof text, " spanning %g m resolves no band around %g cycle/m (%s)",
                      n > 0 ? static_cast<double>(n - 1) * interval : 0.0, class_wavenumber, needs);
        return what + text;
    }
    std::snprintf(text, sizeof text,
                  " at %g m resolves %.3g to %.3g cycle/m, not a band around %g cycle/m (%s)",
                  interval, lowest, highest, class_wavenumber, needs);
    return what + text;
}

} // namespace

double class_density(char road_class) {
    int k = class_number(road_class);
    return k < 0 ? 0.0 : class_a_density * std::pow(class_step, k);
}

bool class_bounds(char road_class, double &lower, double &upper) {
    int k = class_number(road_class);
    if (k < 0) return false;
    double centre = class_density(road_class), half = std::sqrt(class_step);
    lower = k == 0 ? 0.0 : centre / half;
    upper = k == road_class_count - 1 ? std::numeric_limits<double>::infinity() : centre * half;
    return true;
}

char road_class_of(double gd01) {
    if (!(gd01 > 0.0)) return '\0';
    for (int k = 0; k < road_class_count; ++k) {
        char c = static_cast<char>('A' + k);
        double lower, upper;
        class_bounds(c, lower, upper);
        if (gd01 < upper) return c;
    }
    return static_cast<char>('A' + road_class_count - 1); // infinity
}

SayersCoefficients density_coefficients(double gd01) {
    SayersCoefficients s;
    double w = 2.0 * pi * class_wavenumber;
    s.gs = gd01 * w * w;
    s.ge = gd01 / white_noise_ratio;
    return s;
}

SayersCoefficients class_coefficients(char road_class) {
    if (class_number(road_class) < 0) return SayersCoefficients();
    return density_coefficients(class_density(road_class));
}

bool fit_class_density(const double *z, std::size_t n, double interval, DensityFit &fit,
                       std::string &error) {
    if (!check_samples(z, n, interval, error)) return false;
    std::size_t segment = fit_segment(n, interval);
    double lowest = std::max(fit_lowest, first_bin / (static_cast<double>(segment) * interval));
    double highest = std::min(fit_highest, 0.25 / interval);
    if (n < segments_per_length * shortest_segment || lowest > class_wavenumber ||
        highest < class_wavenumber) {
        error = band_error(n, interval, lowest, highest);
        return false;
    }
    psd::Spectrum s = psd::welch(z, n, interval, segment, psd::Detrend::linear);
    Bands b = band_averages(s, lowest, highest);
    if (static_cast<int>(b.level.size()) < fewest_bands) {
        error = band_error(n, interval, lowest, highest);
        return false;
    }
    double sum = 0.0;
    for (double level : b.level)
        sum += level;
    fit.gd01 = sum / static_cast<double>(b.level.size());
    fit.slope = free_slope(b);
    fit.lowest = lowest;
    fit.highest = highest;
    fit.bands = static_cast<int>(b.level.size());
    fit.segment = segment;
    return true;
}

} // namespace sorvan::analysis
