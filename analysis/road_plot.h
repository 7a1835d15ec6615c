// The spectral density plot of synthesised road tracks: a hand-written SVG
// with the Welch estimate of each track's elevation spectral density on
// log-log axes against the model ge + gs / (2 pi v)^2 + ga / (2 pi v)^4 and,
// for two tracks, a second panel with their coherence against the
// coherence the cross-track filters give. A profile read back is drawn
// the same way, against the bounds of the road classes.
#ifndef SORVAN_ANALYSIS_ROAD_PLOT_H
#define SORVAN_ANALYSIS_ROAD_PLOT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sorvan::analysis {

// Fewest samples a plot is drawn from: four segments of 16 samples.
constexpr int32_t plot_min_samples = 64;

struct RoadPlot {
    const double *z1 = nullptr; // elevations of track 1, mm
    const double *z2 = nullptr; // track 2, or nullptr for one track
    int32_t n = 0;              // samples of each track
    double interval = 0.0;      // m between samples
    double ge = 0.0, gs = 0.0, ga = 0.0;
    double corr_length = 0.0;   // m, two tracks only
    std::string label1, label2; // channel labels
    int32_t seed = 0;
};

// One band-averaged point of an estimate.
struct BandPoint {
    double wavenumber; // geometric mean of the band's wavenumbers, cycle/m
    double value;
};

// Segment length for the Welch estimate of n samples: the largest power of
// 2 that leaves at least seven half-overlapping segments, at most 65536,
// at least 16. 0 when n is below plot_min_samples.
std::size_t plot_segment(int32_t n);

// The model density at wavenumber v (cycle/m).
double model_density(double ge, double gs, double ga, double v);

// Magnitude-squared coherence of the two tracks that the cross-track
// filters give at wavenumber v, for the corner set by corr_length and the
// sample interval (the tracks share one stream and a low-passed second one
// and carry a high-passed third one with opposite signs; all three have the
// same spectrum, so the coherence does not depend on it).
double model_coherence(double corr_length, double interval, double v);

// The plot as the text of an SVG file; empty, with error set, when no
// spectrum can be estimated from the tracks.
std::string road_plot_svg(const RoadPlot &plot, std::string &error);

// A profile read back: each channel's elevations in mm, n samples of each,
// interval m apart.
struct ProfileChannel {
    const double *z = nullptr;
    std::string label;
};

struct ProfilePlot {
    std::vector<ProfileChannel> channels;
    int32_t n = 0;
    double interval = 0.0;
    std::string title; // the file's name
};

// The Welch estimate of each channel's spectral density on log-log axes,
// with the bounds of the road classes A to H behind them. Empty, with error
// set, when there is no channel or too few samples for a spectrum.
std::string profile_plot_svg(const ProfilePlot &plot, std::string &error);

} // namespace sorvan::analysis

#endif
