// The International Roughness Index of a road profile: the mean absolute
// suspension stroke rate of a reference quarter car driven over the profile
// at 80 km/h, divided by the speed. Elevations are in mm and distances in m,
// so the index comes out in mm/m, which is m/km.
//
// The quarter car, per unit sprung mass: a tyre spring k1 between the road
// and the unsprung mass mu, a suspension spring k2 and a damper c between
// the unsprung and the sprung mass. The profile enters through its slope,
// averaged over a base of 250 mm.
#ifndef SORVAN_ANALYSIS_IRI_H
#define SORVAN_ANALYSIS_IRI_H

#include <cstddef>
#include <functional>
#include <string>

namespace sorvan::analysis {

// The reference quarter car, per unit sprung mass.
constexpr double iri_k1 = 653.0;         // tyre stiffness, 1/s^2
constexpr double iri_k2 = 63.3;          // suspension stiffness, 1/s^2
constexpr double iri_c = 6.0;            // suspension damping, 1/s
constexpr double iri_mu = 0.15;          // unsprung mass
constexpr double iri_speed = 80.0 / 3.6; // m/s
constexpr double iri_base = 0.25;        // m, base of the slope's moving average
constexpr double iri_start = 11.0;       // m, the car starts at the profile's mean slope over this

// Sample intervals rated: up to the 11 m of the start, and down to 1 um,
// where one step of the car still moves its state by 10^-4 of itself, so
// the step keeps 12 digits.
constexpr double iri_interval_min = 1e-6;      // m
constexpr double iri_interval_max = iri_start; // m

// The index of n elevations (mm) at interval m apart, in m/km. Returns
// false with error set (and index left alone) for an interval outside
// iri_interval_min to iri_interval_max, a non-finite sample (named by its
// index), or a profile shorter than the 11 m that set the car's starting
// state.
//
// The slope is smoothed as (z(x + b) - z(x)) / b with b = 250 mm, the moving
// average of the slope over the base, at every sample whose base ends
// inside the profile. When the interval does not divide 250 mm, z(x + b) is
// taken on the straight line between the two samples around it, so the base
// stays 250 mm (the average slope of the linearly interpolated profile);
// rounding the base to whole intervals would shift the smoothing's first
// zero by up to a fifth at a 0.1 m interval. An interval above 250 mm uses
// the slope between neighbouring samples unsmoothed (b = interval).
bool iri(const double *z, std::size_t n, double interval, double &index, std::string &error);

// The base of the slope's moving average at this interval, in m.
double iri_base_length(double interval);

// The expected index of a long Gaussian profile whose one-sided elevation
// density (mm^2 per cycle/m, a function of the wavenumber in cycle/m) is
// density up to the sampling limit 1 / (2 interval) and nothing beyond, as
// iri() computes it from the samples at that interval. This is the
// density of the samples themselves: content of the road beyond the
// sampling limit folds back into the range below it when sampled.
//
// The integral runs over 10^-5 cycle/m to the sampling limit. Returns NaN
// for an interval outside iri_interval_min to iri_interval_max or a density
// that is negative or not finite somewhere on the integration grid.
double iri_expected(const std::function<double(double)> &density, double interval);

// The same for the Sayers density ge + gs / (2 pi v)^2 + ga / (2 pi v)^4
// (ge in mm^2 m, gs in mm^2/m, ga in mm^2/m^3).
double iri_expected(double ge, double gs, double ga, double interval);

} // namespace sorvan::analysis

#endif
