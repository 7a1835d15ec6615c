// The model and its deck, each coupled to the same test structure.
#include "analysis/closed_loop.h"

#include <Eigen/Eigenvalues>
#include <Eigen/LU>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <stdexcept>

namespace sorvan::analysis {

namespace {

// A matrix whose LU decomposition, once its rows and columns are scaled to
// a largest term of 1, estimates its reciprocal condition below this is
// taken for singular. The scaling keeps equations written in very different
// units (a coupling stiffness of 1e9 beside a force factor of 1e-3) from
// reading as singular.
constexpr double singular_rcond = 1e-15;

// x with a x = b; false when a is singular.
bool solve(const Eigen::MatrixXd &a, const Eigen::MatrixXd &b, Eigen::MatrixXd &x) {
    if (a.rows() == 0) {
        x = Eigen::MatrixXd::Zero(0, b.cols());
        return true;
    }
    Eigen::VectorXd rows = a.cwiseAbs().rowwise().maxCoeff();
    if (!(rows.minCoeff() > 0.0) || !rows.allFinite()) return false;
    // A diagonal a (the derivative terms of a deck) is solved term by term.
    if (a.cols() == a.rows() &&
        (a.array() != 0.0).count() == (a.diagonal().array() != 0.0).count()) {
        x = a.diagonal().cwiseInverse().asDiagonal() * b;
        return x.allFinite();
    }
    rows = rows.cwiseInverse();
    const Eigen::MatrixXd scaled_rows = rows.asDiagonal() * a;
    Eigen::VectorXd cols = scaled_rows.cwiseAbs().colwise().maxCoeff().transpose();
    if (!(cols.minCoeff() > 0.0)) return false;
    cols = cols.cwiseInverse();
    const Eigen::PartialPivLU<Eigen::MatrixXd> lu(scaled_rows * cols.asDiagonal());
    if (!(lu.rcond() > singular_rcond)) return false;
    x = cols.asDiagonal() * lu.solve(rows.asDiagonal() * b);
    return x.allFinite();
}

// The index of each point in the sorted list of them.
std::map<StructurePoint, Eigen::Index> index_of(const std::vector<StructurePoint> &points) {
    std::map<StructurePoint, Eigen::Index> index;
    for (std::size_t k = 0; k < points.size(); ++k)
        index[points[k]] = static_cast<Eigen::Index>(k);
    return index;
}

} // namespace

bool couple_model(const StateSpace &model, const std::vector<CouplingInput> &coupling,
                  const TestStructure &structure, CoupledSystem &out, std::string &error) {
    out = CoupledSystem();
    for (const CouplingInput &c : coupling)
        out.points.push_back(c.at);
    std::sort(out.points.begin(), out.points.end());
    out.points.erase(std::unique(out.points.begin(), out.points.end()), out.points.end());
    const auto index = index_of(out.points);

    const Eigen::Index n = model.a.rows(), p = model.c.rows();
    const auto k = static_cast<Eigen::Index>(coupling.size());
    const auto s = static_cast<Eigen::Index>(out.points.size());
    // f = Kd (S x - L_D y) + Cd (S v - L_V y), y = C z + D_sel F^-1 f.
    Eigen::MatrixXd sel = Eigen::MatrixXd::Zero(k, s), q = Eigen::MatrixXd::Zero(k, p);
    Eigen::MatrixXd kd = Eigen::MatrixXd::Zero(k, s), cd = Eigen::MatrixXd::Zero(k, s);
    Eigen::MatrixXd b_sel(n, k), d_sel(p, k);
    for (Eigen::Index i = 0; i < k; ++i) {
        const CouplingInput &c = coupling[static_cast<std::size_t>(i)];
        if (c.input < 0 || c.input >= model.b.cols() || c.displacement >= p || c.velocity >= p) {
            error = "the coupling names an input or output the model lacks";
            return false;
        }
        const Eigen::Index at = index.at(c.at);
        sel(i, at) = 1.0;
        // An input without either output is not coupled: its force is 0.
        const bool coupled = c.displacement >= 0 || c.velocity >= 0;
        kd(i, at) = coupled ? c.kv : 0.0;
        cd(i, at) = coupled ? c.cv : 0.0;
        if (coupled && c.displacement >= 0) q(i, c.displacement) += c.kv * c.length;
        if (coupled && c.velocity >= 0) q(i, c.velocity) += c.cv * c.velocity_factor;
        b_sel.col(i) = model.b.col(c.input) / c.force;
        d_sel.col(i) = model.d.col(c.input) / c.force;
    }
    const Eigen::MatrixXd w = Eigen::MatrixXd::Identity(k, k) + q * d_sel;
    Eigen::MatrixXd rhs(k, n + 2 * s), f;
    rhs << -q * model.c, kd, cd;
    if (!solve(w, rhs, f)) {
        error = "the coupling cannot be solved for the forces (the model's feedthrough cancels "
                "the coupling)";
        return false;
    }
    const Eigen::MatrixXd f_z = f.leftCols(n), f_x = f.middleCols(n, s), f_v = f.rightCols(s);

    const Eigen::Index total = n + 2 * s;
    const double m = structure.mass, ks = structure.stiffness;
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(total, total);
    a.topLeftCorner(n, n) = model.a + b_sel * f_z;
    a.block(0, n, n, s) = b_sel * f_x;
    a.block(0, n + s, n, s) = b_sel * f_v;
    a.block(n, n + s, s, s).setIdentity();
    // m dv/dt = -ks x - (the forces on the model at the point) + P
    a.block(n + s, 0, s, n) = -sel.transpose() * f_z / m;
    a.block(n + s, n, s, s) = (-ks * Eigen::MatrixXd::Identity(s, s) - sel.transpose() * f_x) / m;
    a.block(n + s, n + s, s, s) = -sel.transpose() * f_v / m;

    StateSpace &sys = out.system;
    sys.a = a;
    sys.b = Eigen::MatrixXd::Zero(total, s);
    sys.b.bottomRows(s) = Eigen::MatrixXd::Identity(s, s) / m;
    sys.c = Eigen::MatrixXd::Zero(s, total);
    sys.c.block(0, n, s, s).setIdentity();
    sys.d = Eigen::MatrixXd::Zero(s, s);
    Eigen::MatrixXd z;
    if (!solve(a, sys.b, z)) {
        error = "the model coupled to the test structure has no static deflection (its state "
                "matrix is singular)";
        return false;
    }
    out.compliance = -sys.c * z;
    return true;
}

namespace {

// The deck's equations E dz/dt + G z = P over the model's extra points and
// the structure points' displacements and velocities.
class DeckAssembly {
  public:
    DeckAssembly(const Deck &deck, const ModelLayout &layout, const DeckUnits &units)
        : deck_(deck), layout_(layout), units_(units) {}
    bool run(const TestStructure &structure, CoupledSystem &out, std::string &error,
             std::vector<std::string> &notes);

  private:
    const Deck &deck_;
    const ModelLayout &layout_;
    const DeckUnits &units_;
    Eigen::Index extra_ = 0, s_ = 0;
    std::map<StructurePoint, Eigen::Index> index_;
    Eigen::MatrixXd e_, g_;
    std::string error_;

    bool fail(int line, const std::string &why) {
        error_ = deck_.file + ", line " + std::to_string(line) + ": " + why;
        return false;
    }
    Eigen::Index extra_column(int32_t point) const {
        const int64_t k = int64_t{point} - layout_.input_base() - 1;
        return k >= 0 && k < extra_ ? static_cast<Eigen::Index>(k) : -1;
    }
    Eigen::Index x_column(const StructurePoint &p) const { return extra_ + index_.at(p); }
    Eigen::Index v_column(const StructurePoint &p) const { return extra_ + s_ + index_.at(p); }
    bool add(int line, Eigen::Index row, int32_t point, int32_t component, double c0, double c1,
             double c2);
    // SI per export unit of a structure point's deflection, and of its load.
    double deflection_unit(const StructurePoint &p) const {
        return p.rotation() ? 1.0 : units_.length;
    }
    double load_unit(const StructurePoint &p) const {
        return p.rotation() ? units_.force * units_.length : units_.force;
    }
};

// (c0 + c1 p + c2 p^2) of the point's variable into the row.
bool DeckAssembly::add(int line, Eigen::Index row, int32_t point, int32_t component, double c0,
                       double c1, double c2) {
    if (component == 0) {
        const Eigen::Index col = extra_column(point);
        if (col < 0)
            return fail(line, "extra point " + std::to_string(point) +
                                  " is none of the model's inputs, outputs or states");
        if (c2 != 0.0)
            return fail(line, "a second derivative of extra point " + std::to_string(point) +
                                  " cannot be assembled");
        g_(row, col) += c0;
        e_(row, col) += c1;
        return true;
    }
    const StructurePoint p{point, component};
    g_(row, x_column(p)) += c0;
    g_(row, v_column(p)) += c1;
    e_(row, v_column(p)) += c2;
    return true;
}

bool DeckAssembly::run(const TestStructure &structure, CoupledSystem &out, std::string &error,
                       std::vector<std::string> &notes) {
    out = CoupledSystem();
    const ModelLayout &l = layout_;
    extra_ = static_cast<Eigen::Index>(int64_t{l.internal_inputs} + l.external_inputs + l.outputs +
                                       l.states);
    for (const TfCard &t : deck_.tfs) {
        if (t.set != l.set) continue;
        if (t.component != 0) out.points.push_back({t.point, t.component});
        for (const TfTerm &term : t.terms)
            if (term.component != 0) out.points.push_back({term.point, term.component});
    }
    std::sort(out.points.begin(), out.points.end());
    out.points.erase(std::unique(out.points.begin(), out.points.end()), out.points.end());
    index_ = index_of(out.points);
    s_ = static_cast<Eigen::Index>(out.points.size());
    const Eigen::Index total = extra_ + 2 * s_;
    e_ = Eigen::MatrixXd::Zero(total, total);
    g_ = Eigen::MatrixXd::Zero(total, total);

    std::vector<bool> has_equation(static_cast<std::size_t>(extra_), false);
    for (const TfCard &t : deck_.tfs) {
        if (t.set != l.set) continue;
        Eigen::Index row;
        if (t.component == 0) {
            row = extra_column(t.point);
            if (row < 0) {
                error = deck_.file + ", line " + std::to_string(t.line) + ": extra point " +
                        std::to_string(t.point) +
                        " is none of the model's inputs, outputs or states";
                return false;
            }
            has_equation[static_cast<std::size_t>(row)] = true;
        } else {
            row = extra_ + index_.at({t.point, t.component});
        }
        bool ok = add(t.line, row, t.point, t.component, t.b0, t.b1, t.b2);
        for (const TfTerm &term : t.terms)
            ok = ok && add(term.line, row, term.point, term.component, term.a0, term.a1, term.a2);
        if (!ok) {
            error = error_;
            return false;
        }
    }
    // An extra point without an equation is free in the deck; held at zero
    // here. The external inputs are the ones a user drives (the plain
    // converter gives them no card); any other is named.
    std::vector<int32_t> free_points;
    const Eigen::Index externals_end = l.internal_inputs + l.external_inputs;
    for (Eigen::Index k = 0; k < extra_; ++k)
        if (!has_equation[static_cast<std::size_t>(k)]) {
            g_(k, k) = 1.0;
            if (k < l.internal_inputs || k >= externals_end)
                free_points.push_back(static_cast<int32_t>(l.input_base() + k + 1));
        }
    if (!free_points.empty()) {
        std::string list;
        for (std::size_t k = 0; k < free_points.size() && k < 8; ++k)
            list += (k ? ", " : "") + std::to_string(free_points[k]);
        if (free_points.size() > 8)
            list += " and " + std::to_string(free_points.size() - 8) + " more";
        notes.push_back(deck_.file + ": no TF card gives an equation for extra point" +
                        (free_points.size() == 1 ? " " : "s ") + list +
                        "; held at zero in the closed loop");
    }

    // The structure in the deck's units: the mass in force * time^2 / length.
    Eigen::MatrixXd loads = Eigen::MatrixXd::Zero(total, s_);
    for (Eigen::Index k = 0; k < s_; ++k) {
        const StructurePoint &p = out.points[static_cast<std::size_t>(k)];
        const double ratio = deflection_unit(p) / load_unit(p); // SI stiffness per export one
        const Eigen::Index x = extra_ + k, v = extra_ + s_ + k;
        e_(x, v) += structure.mass * ratio * units_.time * units_.time;
        g_(x, x) += structure.stiffness * ratio;
        loads(x, k) = 1.0 / load_unit(p); // a load of 1 N (or 1 N*m)
        e_(v, x) = 1.0;                   // dx/dt - v = 0
        g_(v, v) = -1.0;
    }

    // Static deflection: G z = P.
    Eigen::MatrixXd z;
    if (!solve(g_, loads, z)) {
        error = deck_.file + ": the deck coupled to the test structure has no static deflection "
                             "(its equations are singular)";
        return false;
    }
    out.compliance.resize(s_, s_);
    for (Eigen::Index k = 0; k < s_; ++k)
        out.compliance.row(k) =
            z.row(extra_ + k) * deflection_unit(out.points[static_cast<std::size_t>(k)]);

    // Dynamics: the variables whose derivative appears and the equations that
    // hold one, the rest eliminated.
    std::vector<Eigen::Index> dc, ac, dr, ar;
    for (Eigen::Index k = 0; k < total; ++k) {
        (e_.col(k).any() ? dc : ac).push_back(k);
        (e_.row(k).any() ? dr : ar).push_back(k);
    }
    if (dc.size() != dr.size()) {
        error = deck_.file + ": the deck's equations hold " + std::to_string(dr.size()) +
                " derivatives of " + std::to_string(dc.size()) + " variables";
        return false;
    }
    const Eigen::MatrixXd e_dd = e_(dr, dc), g_dd = g_(dr, dc), g_da = g_(dr, ac);
    const Eigen::MatrixXd g_ad = g_(ar, dc), g_aa = g_(ar, ac);
    const Eigen::MatrixXd p_d = loads(dr, Eigen::all), p_a = loads(ar, Eigen::all);
    Eigen::MatrixXd g_red = g_dd, p_red = p_d;
    if (!ac.empty()) {
        Eigen::MatrixXd rhs(g_ad.rows(), g_ad.cols() + p_a.cols()), eliminated;
        rhs << g_ad, p_a;
        if (!solve(g_aa, rhs, eliminated)) {
            error = deck_.file + ": the deck's algebraic equations (inputs and outputs) are "
                                 "singular";
            return false;
        }
        g_red -= g_da * eliminated.leftCols(g_ad.cols());
        p_red -= g_da * eliminated.rightCols(p_a.cols());
    }
    Eigen::MatrixXd rhs(g_red.rows(), g_red.cols() + p_red.cols()), derivative;
    rhs << g_red, p_red;
    if (!solve(e_dd, rhs, derivative)) {
        error = deck_.file + ": the deck's derivative terms are singular";
        return false;
    }
    // dz/dt per the deck's time unit; per second it is that over the unit.
    StateSpace &sys = out.system;
    sys.a = -derivative.leftCols(g_red.cols()) / units_.time;
    sys.b = derivative.rightCols(p_red.cols()) / units_.time;
    sys.c = Eigen::MatrixXd::Zero(s_, static_cast<Eigen::Index>(dc.size()));
    for (Eigen::Index k = 0; k < s_; ++k) {
        const auto at = std::find(dc.begin(), dc.end(), extra_ + k);
        sys.c(k, at - dc.begin()) = deflection_unit(out.points[static_cast<std::size_t>(k)]);
    }
    sys.d = Eigen::MatrixXd::Zero(s_, s_);
    return true;
}

} // namespace

bool couple_deck(const Deck &deck, const ModelLayout &layout, const DeckUnits &units,
                 const TestStructure &structure, CoupledSystem &out, std::string &error,
                 std::vector<std::string> &notes) {
    return DeckAssembly(deck, layout, units).run(structure, out, error, notes);
}

namespace {

// a scaled by a diagonal similarity D^-1 a D of powers of 2 until each
// state's row and column have about the same size: the eigenvalues stay,
// but a coupled system of a stiff spring on a light mass no longer has rows
// 1e20 times larger than others, and its eigenvalues come out as exact as
// its terms allow.
Eigen::MatrixXd balanced(Eigen::MatrixXd a) {
    const Eigen::Index n = a.rows();
#ifdef EIGEN_USE_LAPACKE
    if (n > 0) {
        lapack_int ilo = 0, ihi = 0;
        Eigen::VectorXd scale(n);
        const auto ln = static_cast<lapack_int>(n);
        if (LAPACKE_dgebal(LAPACK_COL_MAJOR, 'S', ln, a.data(), ln, &ilo, &ihi, scale.data()) == 0)
            return a;
    }
#endif
    for (bool converged = false; !converged;) {
        converged = true;
        for (Eigen::Index i = 0; i < n; ++i) {
            double c = a.col(i).cwiseAbs().sum() - std::abs(a(i, i));
            double r = a.row(i).cwiseAbs().sum() - std::abs(a(i, i));
            if (c == 0.0 || r == 0.0 || !std::isfinite(c + r)) continue;
            const double s = c + r;
            double f = 1.0;
            while (c < r / 2.0) {
                f *= 2.0;
                c *= 4.0;
            }
            while (c >= r * 2.0) {
                f /= 2.0;
                c /= 4.0;
            }
            if ((c + r) / f < 0.95 * s) {
                converged = false;
                a.row(i) /= f;
                a.col(i) *= f;
            }
        }
    }
    return a;
}

} // namespace

void compare_roots(const Eigen::MatrixXd &model, const Eigen::MatrixXd &deck, double tolerance,
                   double share, ModelComparison &out, std::size_t &uncertain,
                   std::size_t &uncertain_deck, const Progress &progress) {
    out = ModelComparison();
    uncertain = uncertain_deck = 0;
    const Eigen::MatrixXd a = balanced(model), b = balanced(deck);
    if (progress) progress("closed loop: roots of the coupled model", 0, 0);
    const WeighedEigenvalues wa(a);
    if (progress) progress("closed loop: roots of the coupled deck", 0, 0);
    const WeighedEigenvalues wb(b);
    out.first_modes = modes_of_eigenvalues(wa.eigenvalues());
    out.second_modes = modes_of_eigenvalues(wb.eigenvalues());
    match_modes(out);
    // Backward rounding of the eigenvalue solver, a small multiple of the
    // unit roundoff times the matrix.
    const double rounding_a = 1e-15 * a.norm(), rounding_b = 1e-15 * b.norm();
    auto fixed = [share](double condition, double rounding, std::complex<double> lambda) {
        return condition * rounding <= share * std::abs(lambda);
    };
    // Each round leaves out at least one root, or ends.
    for (std::size_t round = 0; round <= out.first_modes.size(); ++round) {
        std::vector<std::size_t> moved;
        for (std::size_t k = 0; k < out.first_modes.size(); ++k)
            if (out.match[k] != no_mode &&
                mode_moved(out.first_modes[k], out.second_modes[out.match[k]], tolerance))
                moved.push_back(k);
        if (moved.empty()) break;
        std::vector<Eigen::Index> ia, ib;
        for (std::size_t k : moved) {
            ia.push_back(wa.nearest(out.first_modes[k].eigenvalue));
            ib.push_back(wb.nearest(out.second_modes[out.match[k]].eigenvalue));
        }
        const Eigen::VectorXd ca = wa.conditions(ia), cb = wb.conditions(ib);
        std::vector<bool> drop_a(out.first_modes.size(), false),
            drop_b(out.second_modes.size(), false);
        for (std::size_t j = 0; j < moved.size(); ++j) {
            const auto e = static_cast<Eigen::Index>(j);
            const Mode &x = out.first_modes[moved[j]], &y = out.second_modes[out.match[moved[j]]];
            if (fixed(ca(e), rounding_a, x.eigenvalue) && fixed(cb(e), rounding_b, y.eigenvalue))
                continue;
            drop_a[moved[j]] = true;
            drop_b[out.match[moved[j]]] = true;
        }
        auto keep = [](std::vector<Mode> &modes, const std::vector<bool> &drop) {
            std::vector<Mode> kept;
            for (std::size_t k = 0; k < modes.size(); ++k)
                if (!drop[k]) kept.push_back(modes[k]);
            const std::size_t dropped = modes.size() - kept.size();
            modes = std::move(kept);
            return dropped;
        };
        const std::size_t left_out = keep(out.first_modes, drop_a);
        if (left_out == 0) break; // every root that moves is fixed: the deck moves it
        uncertain += left_out;
        uncertain_deck += keep(out.second_modes, drop_b);
        ModelComparison again;
        again.first_modes = std::move(out.first_modes);
        again.second_modes = std::move(out.second_modes);
        out = std::move(again);
        match_modes(out);
    }
}

TestStructure default_structure(const StateSpace &model, const std::vector<CouplingInput> &coupling,
                                const std::vector<Mode> &modes) {
    TestStructure t;
    double log_sum = 0.0;
    int count = 0;
    Eigen::MatrixXd gain; // A^-1 B
    if (model.a.rows() > 0 && solve(model.a, model.b, gain)) {
        for (const CouplingInput &c : coupling) {
            if (c.displacement < 0) continue;
            const double g = model.d(c.displacement, c.input) -
                             model.c.row(c.displacement).dot(gain.col(c.input));
            const double compliance = std::abs(g * c.length / c.force);
            if (compliance > 0.0 && std::isfinite(1.0 / compliance)) {
                log_sum -= std::log(compliance);
                ++count;
            }
        }
    }
    // Without a static stiffness at any point (a model free to float): a
    // stiff structure that still lets the model's modes show.
    t.stiffness = count > 0 ? std::exp(log_sum / count) : 1e6;
    double low = 0.0, high = 0.0;
    for (const Mode &m : modes)
        if (m.frequency_hz > 0.0 && std::isfinite(m.frequency_hz)) {
            low = low == 0.0 ? m.frequency_hz : std::min(low, m.frequency_hz);
            high = std::max(high, m.frequency_hz);
        }
    const double f = low > 0.0 ? std::sqrt(low * high) : 1.0;
    const double omega = 2.0 * std::numbers::pi * f;
    t.mass = t.stiffness / (omega * omega);
    return t;
}

} // namespace sorvan::analysis
