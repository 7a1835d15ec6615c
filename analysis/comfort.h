// Whole-body vibration as a seated person feels it: the frequency
// weightings of vertical (Wk) and horizontal (Wd) acceleration, the
// weighted RMS, the vibration dose value and the comfort band.
//
// Each weighting is the product of four sections in s: a high-pass and a
// low-pass of second order (Butterworth, Q 1/sqrt 2) at the band limits
// 0.4 and 100 Hz, the acceleration-velocity transition
// (1 + s/w3) / (1 + s/(Q4 w4) + s^2/w4^2) and, for Wk only, the upward step
// (1 + s/(Q5 w5) + s^2/w5^2) / (1 + s/(Q6 w6) + s^2/w6^2) (w5/w6)^2.
// Wk: f3 = f4 = 12.5 Hz, Q4 0.63, f5 2.37 Hz, Q5 0.91, f6 3.35 Hz, Q6 0.91;
// Wd: f3 = f4 = 2 Hz, Q4 0.63.
#ifndef SORVAN_ANALYSIS_COMFORT_H
#define SORVAN_ANALYSIS_COMFORT_H

#include "analysis/state_space.h"

#include <complex>
#include <vector>

namespace sorvan::analysis {

enum class Weighting {
    none, // rotations and other signals: not weighted
    wk,   // vertical acceleration, z
    wd,   // horizontal acceleration, x and y
};

// The weighting of a translation by its component (1 x, 2 y, 3 z); none
// for any other.
Weighting weighting_of_component(int component);

// "Wk", "Wd" or "".
const char *weighting_name(Weighting w);

// The weighting's transfer function at f_hz (1 for none).
std::complex<double> weighting_response(Weighting w, double f_hz);

// The weighting as a state-space model of one input and one output
// (states: the sections in series, two each); empty matrices for none.
StateSpace weighting_model(Weighting w);

// The figures of one weighted acceleration history, m/s^2 in, SI out.
struct ComfortFigures {
    double weighted_rms = 0.0; // m/s^2
    double vdv = 0.0;          // m/s^1.75: (integral of a_w^4 dt)^(1/4)
};

// The figures of the weighted history aw sampled every h seconds (the
// integral of the dose by the trapezoidal rule, the RMS over the samples).
// Computed from the values divided by their largest magnitude, so they are
// finite for any finite history.
ComfortFigures comfort_figures(const std::vector<double> &aw, double h);

// The comfort reaction a weighted RMS acceleration (m/s^2) falls into: the
// upper ends of the overlapping bands of public transport taken as the
// bounds, 0.315, 0.63, 1, 1.6 and 2.5 m/s^2: "not uncomfortable", "a little
// uncomfortable", "fairly uncomfortable", "uncomfortable", "very
// uncomfortable", "extremely uncomfortable".
const char *comfort_band(double weighted_rms);

} // namespace sorvan::analysis

#endif
