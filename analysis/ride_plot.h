// The spectral densities of weighted accelerations on log-log axes: a
// hand-written SVG of the Welch estimate of each history, frequency in Hz
// against (m/s^2)^2/Hz.
#ifndef SORVAN_ANALYSIS_RIDE_PLOT_H
#define SORVAN_ANALYSIS_RIDE_PLOT_H

#include <string>
#include <vector>

namespace sorvan::analysis {

struct RideCurve {
    const std::vector<double> *values = nullptr; // m/s^2, sampled every step
    std::string label;
};

struct RidePlot {
    std::vector<RideCurve> curves;
    double step = 0.0; // s
    std::string title;
};

// The plot as the text of an SVG file; empty, with error set, when no
// spectrum can be estimated (too few samples, or no curve with content).
std::string ride_plot_svg(const RidePlot &plot, std::string &error);

} // namespace sorvan::analysis

#endif
