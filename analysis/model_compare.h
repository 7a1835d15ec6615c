// How far a second state-space model behaves like a first one (the ABC
// model against the one rebuilt from its deck): modes and frequency
// responses.
#ifndef SORVAN_ANALYSIS_MODEL_COMPARE_H
#define SORVAN_ANALYSIS_MODEL_COMPARE_H

#include "analysis/state_space.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace sorvan::analysis {

constexpr std::size_t no_mode = static_cast<std::size_t>(-1);

struct ModelComparison {
    std::vector<Mode> first_modes, second_modes;
    // For each mode of the first model, the nearest mode of the second (the
    // smallest distance between the eigenvalues); no_mode when the second
    // has none.
    std::vector<std::size_t> match;

    // Largest |f2 - f1| / f1 and |z2 - z1| / |z1| over the matched modes
    // (0 / 0 counts as 0, x / 0 as infinite), and the mode of the first
    // model it belongs to (no_mode when there is none); the largest
    // |z2 - z1| as well, for modes without damping.
    double frequency_change = 0.0;
    std::size_t frequency_mode = no_mode;
    double damping_change = 0.0;
    std::size_t damping_mode = no_mode;
    double damping_change_absolute = 0.0;

    // A matched pair of modes, looked at from either model, of which one is
    // stable and the other not.
    bool stability_changed = false;

    // The frequencies (Hz) of the first model's grid, and for every output o
    // and input i the largest |H1(o, i)| over it (peak) and the largest
    // |H2(o, i) - H1(o, i)| (deviation).
    std::vector<double> grid;
    int per_decade = 0; // points a decade of the grid: fewer than asked for a large model
    Eigen::MatrixXd peak, deviation;

    // The largest deviation / peak over the pairs (0 / 0 counts as 0, x / 0
    // and anything not finite as infinite), and its pair.
    double response_change = 0.0;
    Eigen::Index worst_output = -1, worst_input = -1;
};

// Told how far a long computation is: what it does, and how many of how
// many steps are done (0 of 0 for a step that is not counted).
using Progress = std::function<void(const char *what, std::size_t done, std::size_t total)>;

// The largest |H1(o, i)| (peak) and |H2(o, i) - H1(o, i)| (deviation) over
// the frequencies of grid for every pair; a term that is not finite counts
// as infinite.
void response_extremes(const ResponseEvaluator &first, const ResponseEvaluator &second,
                       const std::vector<double> &grid, Eigen::MatrixXd &peak,
                       Eigen::MatrixXd &deviation, const Progress &progress = {});

// Whether y differs from x by more than tolerance in frequency or damping
// ratio (relative changes, as match_modes measures them) or in stability.
bool mode_moved(const Mode &x, const Mode &y, double tolerance);

// Matches out.first_modes to out.second_modes and sets the mode figures
// (match, the frequency and damping changes, stability_changed).
void match_modes(ModelComparison &out);

// Compares second with first. Refuses (false, with error) models that are
// not whole (see frequency_response) or that differ in their numbers of
// inputs or outputs, a state matrix that is not finite, and a grid that
// cannot be made; the numbers of states may differ. The modes of either
// model come from the Hessenberg form its responses are evaluated through
// (no second decomposition). A model too large for per_decade points a
// decade within some ten seconds of responses gets fewer (out.per_decade).
bool compare_models(const StateSpace &first, const StateSpace &second, ModelComparison &out,
                    std::string &error, int per_decade = 200, const Progress &progress = {});

} // namespace sorvan::analysis

#endif
