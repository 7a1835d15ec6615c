// Mode matching and frequency response deviations between two models.
#include "analysis/model_compare.h"

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

void compare_responses(const StateSpace &first, const StateSpace &second, ModelComparison &out) {
    const Eigen::Index p = first.d.rows(), q = first.d.cols();
    out.peak = Eigen::MatrixXd::Zero(p, q);
    out.deviation = Eigen::MatrixXd::Zero(p, q);
    const ResponseEvaluator response1(first), response2(second);
    for (double f : out.grid) {
        const Eigen::MatrixXcd h1 = response1.at(f);
        const Eigen::MatrixXcd h2 = response2.at(f);
        for (Eigen::Index i = 0; i < q; ++i)
            for (Eigen::Index o = 0; o < p; ++o) {
                const double m = std::abs(h1(o, i)), d = std::abs(h2(o, i) - h1(o, i));
                out.peak(o, i) = std::max(out.peak(o, i), std::isfinite(m) ? m : infinite);
                out.deviation(o, i) =
                    std::max(out.deviation(o, i), std::isfinite(d) ? d : infinite);
            }
    }
    for (Eigen::Index i = 0; i < q; ++i)
        for (Eigen::Index o = 0; o < p; ++o) {
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

bool compare_models(const StateSpace &first, const StateSpace &second, ModelComparison &out,
                    std::string &error, int per_decade) {
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
    try {
        out.first_modes = modes(first.a);
        out.second_modes = modes(second.a);
    } catch (const std::exception &e) {
        error = e.what();
        return false;
    }
    out.grid = frequency_grid(out.first_modes, per_decade);
    if (out.grid.empty()) {
        error = "no frequency grid of " + std::to_string(per_decade) + " points a decade";
        return false;
    }
    match_modes(out);
    compare_responses(first, second, out);
    return true;
}

} // namespace sorvan::analysis
