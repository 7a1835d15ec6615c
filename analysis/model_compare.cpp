// Mode matching and frequency response deviations between two models.
#include "analysis/model_compare.h"
#include "analysis/parallel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace sorvan::analysis {

namespace {

constexpr double infinite = std::numeric_limits<double>::infinity();

// |x - y| / |x|, with 0 / 0 as 0 and anything else over 0 as infinite.
double relative(double x, double y) {
    const double d = std::abs(y - x);
    if (d == 0.0) return 0.0;
    if (x == 0.0 || !std::isfinite(d)) return infinite;
    return d / std::abs(x);
}

std::vector<std::size_t> nearest(const std::vector<Mode> &from, const std::vector<Mode> &to) {
    std::vector<std::size_t> match(from.size(), no_mode);
    for (std::size_t k = 0; k < from.size(); ++k) {
        double best = infinite;
        for (std::size_t j = 0; j < to.size(); ++j) {
            const double d = std::abs(to[j].eigenvalue - from[k].eigenvalue);
            if (match[k] == no_mode || d < best) {
                match[k] = j;
                best = d;
            }
        }
    }
    return match;
}

} // namespace

bool mode_moved(const Mode &x, const Mode &y, double tolerance) {
    return !(relative(x.frequency_hz, y.frequency_hz) <= tolerance) ||
           !(relative(x.damping_ratio, y.damping_ratio) <= tolerance) || x.stable != y.stable;
}

void match_modes(ModelComparison &out) {
    out.match = nearest(out.first_modes, out.second_modes);
    for (std::size_t k = 0; k < out.first_modes.size(); ++k) {
        if (out.match[k] == no_mode) continue;
        const Mode &x = out.first_modes[k], &y = out.second_modes[out.match[k]];
        const double df = relative(x.frequency_hz, y.frequency_hz);
        const double dz = relative(x.damping_ratio, y.damping_ratio);
        if (out.frequency_mode == no_mode || df > out.frequency_change) {
            out.frequency_change = df;
            out.frequency_mode = k;
        }
        if (out.damping_mode == no_mode || dz > out.damping_change) {
            out.damping_change = dz;
            out.damping_mode = k;
        }
        out.damping_change_absolute =
            std::max(out.damping_change_absolute, std::abs(y.damping_ratio - x.damping_ratio));
        out.stability_changed = out.stability_changed || x.stable != y.stable;
    }
    // A mode of the second model that no mode of the first is nearest to
    // must not change stability unseen.
    const std::vector<std::size_t> back = nearest(out.second_modes, out.first_modes);
    for (std::size_t j = 0; j < back.size(); ++j)
        if (back[j] != no_mode && out.second_modes[j].stable != out.first_modes[back[j]].stable)
            out.stability_changed = true;
}

namespace {

// The work of the frequency responses of a comparison is held to about
// this many complex multiply-adds (some ten seconds of one core): a large
// model is compared on fewer frequencies a decade, down to
// fewest_per_decade. Its modes are compared one by one in any case.
constexpr double response_budget = 2e10;
constexpr int fewest_per_decade = 2;

// The points a decade the budget allows the two models, per_decade at most;
// decades holds one point a decade of the grid.
int thinned(int per_decade, const StateSpace &first, const StateSpace &second,
            const std::vector<double> &decades) {
    auto cost = [](const StateSpace &m) {
        // The Hessenberg solve and the output product of one frequency.
        const auto n = static_cast<double>(m.a.rows()), q = static_cast<double>(m.b.cols()),
                   p = static_cast<double>(m.c.rows());
        return n * n * (q / 2.0 + 1.0) + n * p * q;
    };
    const double spans = std::max<double>(1.0, static_cast<double>(decades.size()) - 1.0);
    const double allowed = response_budget / ((cost(first) + cost(second)) * spans);
    if (allowed >= per_decade) return per_decade;
    return std::max(fewest_per_decade, static_cast<int>(allowed));
}

// The worst pair of out.peak and out.deviation.
void worst_pair(ModelComparison &out) {
    for (Eigen::Index i = 0; i < out.peak.cols(); ++i)
        for (Eigen::Index o = 0; o < out.peak.rows(); ++o) {
            const double d = out.deviation(o, i), m = out.peak(o, i);
            double r = d == 0.0 ? 0.0 : m == 0.0 ? infinite : d / m;
            if (!std::isfinite(r)) r = infinite;
            if (out.worst_output < 0 || r > out.response_change) {
                out.response_change = r;
                out.worst_output = o;
                out.worst_input = i;
            }
        }
}

bool whole(const StateSpace &m) {
    const Eigen::Index n = m.a.rows();
    return m.a.cols() == n && m.b.rows() == n && m.c.cols() == n && m.d.rows() == m.c.rows() &&
           m.d.cols() == m.b.cols();
}

} // namespace

void response_extremes(const ResponseEvaluator &first, const ResponseEvaluator &second,
                       const std::vector<double> &grid, Eigen::MatrixXd &peak,
                       Eigen::MatrixXd &deviation, const Progress &progress) {
    peak = Eigen::MatrixXd::Zero(first.outputs(), first.inputs());
    deviation = peak;
    auto finite = [](double v) { return std::isfinite(v) ? v : infinite; };
    for (std::size_t k = 0; k < grid.size(); ++k) {
        // Eigen's own elimination on each model's matrices: both at once.
        Eigen::MatrixXcd h1, h2;
        both([&] { h1 = first.at(grid[k]); }, [&] { h2 = second.at(grid[k]); });
        peak = peak.cwiseMax(h1.cwiseAbs().unaryExpr(finite));
        deviation = deviation.cwiseMax((h2 - h1).cwiseAbs().unaryExpr(finite));
        if (progress) progress("frequency responses", k + 1, grid.size());
    }
}

bool compare_models(const StateSpace &first, const StateSpace &second, ModelComparison &out,
                    std::string &error, int per_decade, const Progress &progress) {
    out = ModelComparison();
    if (!whole(first) || !whole(second)) {
        error = "the matrices A, B, C, D do not make one model";
        return false;
    }
    if (first.d.rows() != second.d.rows() || first.d.cols() != second.d.cols()) {
        error = "the models differ in their numbers of inputs or outputs: " +
                std::to_string(first.d.cols()) + " and " + std::to_string(second.d.cols()) +
                " inputs, " + std::to_string(first.d.rows()) + " and " +
                std::to_string(second.d.rows()) + " outputs";
        return false;
    }
    if (!first.a.allFinite() || !second.a.allFinite()) {
        error = "the state matrix holds a term that is not a finite number";
        return false;
    }
    try {
        // One after the other: LAPACK's routines are not to be entered
        // from two threads at once.
        if (progress) progress("Hessenberg form and modes of the first model", 0, 0);
        const ResponseEvaluator response1(first);
        out.first_modes = modes_of_eigenvalues(response1.eigenvalues());
        if (progress) progress("Hessenberg form and modes of the second model", 0, 0);
        const ResponseEvaluator response2(second);
        out.second_modes = modes_of_eigenvalues(response2.eigenvalues());
        out.per_decade = thinned(per_decade, first, second, frequency_grid(out.first_modes, 1));
        out.grid = frequency_grid(out.first_modes, out.per_decade);
        if (out.grid.empty()) {
            error = "no frequency grid of " + std::to_string(per_decade) + " points a decade";
            return false;
        }
        match_modes(out);
        response_extremes(response1, response2, out.grid, out.peak, out.deviation, progress);
    } catch (const std::exception &e) {
        error = e.what();
        return false;
    }
    worst_pair(out);
    return true;
}

} // namespace sorvan::analysis
