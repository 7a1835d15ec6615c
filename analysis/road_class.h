// Road classes A to H by the displacement spectral density at 0.1 cycle/m,
// Gd(0.1), with the density falling as the square of the wavenumber:
// Gd(v) = Gd(0.1) (v / 0.1)^-2. Each class is a factor 4 above the one
// before, from 16 mm^2*m (10^-6 m^3) for A to 262144 for H, and the classes
// meet at the geometric means of their neighbours: A lies below 32, B from
// 32 up to 128, and so on, H from 131072 up. Elevations are in mm and
// distances in m throughout.
#ifndef SORVAN_ANALYSIS_ROAD_CLASS_H
#define SORVAN_ANALYSIS_ROAD_CLASS_H

#include <cstddef>
#include <string>

namespace sorvan::analysis {

constexpr int road_class_count = 8;      // 'A' to 'H'
constexpr double class_wavenumber = 0.1; // cycle/m, where classes are measured

// Coefficients of the Sayers density ge + gs / (2 pi v)^2 + ga / (2 pi v)^4.
struct SayersCoefficients {
    double ge = 0.0; // mm^2 m: white-noise elevation
    double gs = 0.0; // mm^2/m: the v^-2 part
    double ga = 0.0; // mm^2/m^3: the v^-4 part
};

// Gd(0.1) of a class letter ('A' to 'H', either case) in mm^2 m; 0 for any
// other character.
double class_density(char road_class);

// The Gd(0.1) range of a class letter: [lower, upper), with lower 0 for A
// and upper infinity for H. False for any other character.
bool class_bounds(char road_class, double &lower, double &upper);

// The class letter ('A' to 'H') that a measured Gd(0.1) falls into; a
// value on a bound belongs to the class above it. '\0' for 0, a negative
// value or one that is not a number.
char road_class_of(double gd01);

// Sayers coefficients with Gd(0.1) = gd01 on the v^-2 slope:
// gs = gd01 x 0.1^2 x (2 pi)^2 puts gs / (2 pi v)^2 on the class line, and
// ge = gd01 / 1280 lets the white noise take over at wavelengths below
// about 0.28 m (there gs / (2 pi v)^2 has fallen to ge); ga = 0.
SayersCoefficients density_coefficients(double gd01);

// The same for a class letter; all zero for any other character.
SayersCoefficients class_coefficients(char road_class);

// The v^-2 line fitted to a profile's spectral density.
struct DensityFit {
    double gd01 = 0.0;  // mm^2 m: the line's level at 0.1 cycle/m
    double slope = 0.0; // the log-log slope of a free straight-line fit, for comparison with -2
    double lowest = 0.0, highest = 0.0; // cycle/m: the band fitted
    int bands = 0;                      // third-octave bands in it that held an estimate
    std::size_t segment = 0;            // samples per Welch segment
};

// Estimates Gd(0.1) of n elevations (mm) at interval m apart. Returns false
// with error set for a non-finite sample or interval, or a profile too
// short or too coarse to resolve a band around 0.1 cycle/m: the segments
// must reach 40 m, which takes a profile of 160 to 320 m (segments are a
// power of 2 samples long and a quarter of the profile at most), and the
// interval must be 2.5 m or less.
//
// The Welch density of the profile (linearly detrended Hann segments of a
// power of 2 samples, half overlapping, at least seven of them) is taken
// over 0.011 to 2.83 cycle/m, clipped below to the fourth wavenumber of a
// segment (the first few carry the trend removal and the window's leakage)
// and above to half the sampling limit, 1 / (4 interval) (closer to the
// limit the density of sampled, integrated noise departs from that of the
// road it samples). The band is split into third-octave bands; in each,
// the density is referred to 0.1 cycle/m along the v^-2 line, G(v) (v /
// 0.1)^2, and averaged over the band's wavenumbers. The line's level is
// the mean of these band values: the least-squares fit of the line with
// its slope held at -2, each band weighted alike, as the classes are
// drawn on logarithmic axes. Averaging densities (rather than their
// logarithms) keeps the estimate free of the log's bias on the few
// periodogram values of the long-wavelength bands.
bool fit_class_density(const double *z, std::size_t n, double interval, DensityFit &fit,
                       std::string &error);

} // namespace sorvan::analysis

#endif
