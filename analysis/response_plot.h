// The frequency response of one input/output pair of two models drawn
// together: magnitude on log-log axes above, phase in degrees on a
// logarithmic frequency axis below, as a hand-written SVG.
#ifndef SORVAN_ANALYSIS_RESPONSE_PLOT_H
#define SORVAN_ANALYSIS_RESPONSE_PLOT_H

#include <complex>
#include <string>
#include <vector>

namespace sorvan::analysis {

struct ResponsePlot {
    std::string title;                       // what the pair is, one line
    std::vector<double> frequency_hz;        // increasing, all above 0
    std::vector<std::complex<double>> first; // one response per frequency
    std::vector<std::complex<double>> second;
    std::string first_label = "model", second_label = "deck";
    // The magnitude axis's title: the quantity and its unit.
    std::string magnitude_label = "magnitude";
};

// The plot as the text of an SVG file; empty, with error set, when the
// curves differ in length from the frequencies, a frequency is not positive
// or neither curve has a magnitude above 0 to draw.
std::string response_plot_svg(const ResponsePlot &plot, std::string &error);

} // namespace sorvan::analysis

#endif
