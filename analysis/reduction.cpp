// The modal form within a tolerance, the real modal basis, static
// correction and the error of a reduction.
#include "analysis/reduction.h"
#include "analysis/model_compare.h"

#include "analysis/number_text.h"

#include <Eigen/Eigenvalues>
#include <Eigen/LU>

#include <algorithm>
#include <cmath>
#include <limits>

namespace sorvan::analysis {

namespace {

using cplx = std::complex<double>;

std::string term(Eigen::Index i, Eigen::Index j, double v) {
    return "A(" + std::to_string(i + 1) + ", " + std::to_string(j + 1) + ") = " + shortest(v);
}

// A pair whose peak is below this share of the largest peak of its output
// or input is measured against that largest peak.
constexpr double negligible_peak = 1e-6;

// x with a x = b, or false when a is singular.
bool solve(const Eigen::MatrixXd &a, const Eigen::MatrixXd &b, Eigen::MatrixXd &x) {
    if (a.rows() == 0) {
        x = Eigen::MatrixXd::Zero(0, b.cols());
        return true;
    }
    const Eigen::PartialPivLU<Eigen::MatrixXd> lu(a);
    if (!(lu.rcond() > 1e-14)) return false;
    x = lu.solve(b);
    return x.allFinite();
}

} // namespace

ModalForm judge_modal_form(const Eigen::MatrixXd &a, double tolerance) {
    ModalForm out;
    const Eigen::Index n = a.rows();
    if (a.cols() != n) {
        out.why = "A is not square";
        return out;
    }
    if (!a.allFinite()) {
        out.why = "A holds a term that is not a finite number";
        return out;
    }
    std::vector<double> magnitude(static_cast<std::size_t>(n), 0.0);
    std::vector<Eigen::Index> block_of(static_cast<std::size_t>(n), 0);
    for (Eigen::Index j = 0; j < n;) {
        if (j + 1 < n) {
            const double s1 = a(j, j), s2 = a(j + 1, j + 1), w1 = a(j, j + 1), w2 = a(j + 1, j);
            const double mag = std::max({std::abs(s1), std::abs(s2), std::abs(w1), std::abs(w2)});
            const double slack = tolerance * mag;
            if (std::abs(w1) > slack && std::abs(w2) > slack) {
                if (std::abs(s1 - s2) > slack) {
                    out.why = term(j, j, s1) + " and " + term(j + 1, j + 1, s2) +
                              " differ in the 2 x 2 block of states " + std::to_string(j + 1) +
                              " and " + std::to_string(j + 2);
                    return out;
                }
                if (std::abs(w1 + w2) > slack) {
                    out.why = term(j, j + 1, w1) + " is not the opposite of " + term(j + 1, j, w2) +
                              " in the 2 x 2 block of states " + std::to_string(j + 1) + " and " +
                              std::to_string(j + 2);
                    return out;
                }
                const double re = 0.5 * (s1 + s2), im = 0.5 * (w1 - w2);
                out.blocks.push_back({j, 2, cplx(re, std::abs(im)), true});
                for (Eigen::Index k : {j, j + 1}) {
                    magnitude[static_cast<std::size_t>(k)] = mag;
                    block_of[static_cast<std::size_t>(k)] = j;
                }
                j += 2;
                continue;
            }
        }
        out.blocks.push_back({j, 1, cplx(a(j, j), 0.0), true});
        magnitude[static_cast<std::size_t>(j)] = std::abs(a(j, j));
        block_of[static_cast<std::size_t>(j)] = j;
        ++j;
    }
    for (Eigen::Index i = 0; i < n; ++i)
        for (Eigen::Index k = 0; k < n; ++k) {
            const auto si = static_cast<std::size_t>(i), sk = static_cast<std::size_t>(k);
            if (block_of[si] == block_of[sk]) continue;
            if (std::abs(a(i, k)) > tolerance * std::max(magnitude[si], magnitude[sk])) {
                out.why = term(i, k, a(i, k)) + " lies outside the diagonal blocks";
                out.blocks.clear();
                return out;
            }
        }
    out.modal = true;
    return out;
}

Eigen::MatrixXd exact_modal_form(const Eigen::MatrixXd &a, const std::vector<StateBlock> &blocks) {
    Eigen::MatrixXd m = Eigen::MatrixXd::Zero(a.rows(), a.cols());
    for (const StateBlock &b : blocks) {
        const Eigen::Index j = b.first;
        if (b.size == 1) {
            m(j, j) = a(j, j);
            continue;
        }
        const double s = 0.5 * (a(j, j) + a(j + 1, j + 1)), w = 0.5 * (a(j, j + 1) - a(j + 1, j));
        m(j, j) = m(j + 1, j + 1) = s;
        m(j, j + 1) = w;
        m(j + 1, j) = -w;
    }
    return m;
}

bool to_modal(const StateSpace &model, StateSpace &modal, double &condition, std::string &error) {
    const Eigen::Index n = model.a.rows();
    condition = 1.0;
    modal = model;
    if (n == 0) return true;
    Eigen::EigenSolver<Eigen::MatrixXd> solver(model.a, true);
    if (solver.info() != Eigen::Success) {
        error = "the eigenvalues of A do not converge";
        return false;
    }
    struct Root {
        cplx lambda;
        Eigen::VectorXcd v;
    };
    std::vector<Root> roots;
    for (Eigen::Index k = 0; k < n; ++k) {
        const cplx l = solver.eigenvalues()(k);
        if (l.imag() >= 0.0) roots.push_back({l, solver.eigenvectors().col(k)});
    }
    std::sort(roots.begin(), roots.end(), [](const Root &x, const Root &y) {
        const double fx = std::abs(x.lambda), fy = std::abs(y.lambda);
        return fx != fy ? fx < fy : x.lambda.real() < y.lambda.real();
    });
    Eigen::MatrixXd v(n, n), a = Eigen::MatrixXd::Zero(n, n);
    Eigen::Index col = 0;
    for (const Root &r : roots) {
        const bool pair = r.lambda.imag() > 0.0;
        if (col + (pair ? 2 : 1) > n) break;
        if (!pair) {
            v.col(col) = r.v.real().normalized();
            a(col, col) = r.lambda.real();
            ++col;
            continue;
        }
        const double scale = r.v.norm();
        v.col(col) = r.v.real() / scale;
        v.col(col + 1) = r.v.imag() / scale;
        a(col, col) = a(col + 1, col + 1) = r.lambda.real();
        a(col, col + 1) = r.lambda.imag();
        a(col + 1, col) = -r.lambda.imag();
        col += 2;
    }
    if (col != n) {
        error = "the eigenvalues of A do not come in conjugate pairs";
        return false;
    }
    const Eigen::PartialPivLU<Eigen::MatrixXd> lu(v);
    const double rcond = lu.rcond();
    condition = rcond > 0.0 ? 1.0 / rcond : std::numeric_limits<double>::infinity();
    if (!(condition <= max_modal_condition)) {
        error = "A has no modal basis to trust: the condition number of its eigenvectors is " +
                shortest(condition) + " (more than " + shortest(max_modal_condition) +
                "; A is defective or nearly so)";
        return false;
    }
    modal.a = a;
    modal.b = lu.solve(model.b);
    modal.c = model.c * v;
    modal.d = model.d;
    return true;
}

bool static_correction(const StateSpace &model, const std::vector<StateBlock> &blocks,
                       Eigen::MatrixXd &d, std::string &error) {
    d = model.d;
    std::vector<Eigen::Index> dropped;
    for (const StateBlock &b : blocks) {
        if (b.kept) continue;
        if (b.eigenvalue == cplx(0.0, 0.0)) {
            error = "state " + std::to_string(b.first + 1) +
                    " to be dropped is an integrator (eigenvalue 0): it has no static part to "
                    "keep";
            return false;
        }
        for (int k = 0; k < b.size; ++k)
            dropped.push_back(b.first + k);
    }
    if (dropped.empty()) return true;
    Eigen::MatrixXd x;
    if (!solve(-model.a(dropped, dropped), model.b(dropped, Eigen::all), x)) {
        error = "the dropped states' matrix is singular: they have no static part to keep";
        return false;
    }
    d += model.c(Eigen::all, dropped) * x;
    return true;
}

ReductionError reduction_error(const StateSpace &full, const StateSpace &reduced, double up_to_hz) {
    ReductionError e;
    Eigen::MatrixXd xf, xr;
    if (solve(full.a, full.b, xf) && solve(reduced.a, reduced.b, xr)) {
        const Eigen::MatrixXd gf = full.d - full.c * xf, gr = reduced.d - reduced.c * xr;
        const double largest = gf.cwiseAbs().maxCoeff(), d = (gr - gf).cwiseAbs().maxCoeff();
        e.has_static = true;
        e.static_gain_deviation = d == 0.0        ? 0.0
                                  : largest > 0.0 ? d / largest
                                                  : std::numeric_limits<double>::infinity();
    }
    for (double f : frequency_grid(modes(full.a)))
        if (up_to_hz <= 0.0 || f <= up_to_hz) e.grid.push_back(f);
    if (e.grid.empty()) e.grid.push_back(up_to_hz);
    const Eigen::Index p = full.d.rows(), q = full.d.cols();
    Eigen::MatrixXd peak, dev;
    response_extremes(ResponseEvaluator(full), ResponseEvaluator(reduced), e.grid, peak, dev);
    for (Eigen::Index o = 0; o < p; ++o)
        for (Eigen::Index i = 0; i < q; ++i) {
            const double around = std::max(peak.row(o).maxCoeff(), peak.col(i).maxCoeff());
            const double scale = peak(o, i) < negligible_peak * around ? around : peak(o, i);
            double r = dev(o, i) == 0.0 ? 0.0 : scale > 0.0 ? dev(o, i) / scale : HUGE_VAL;
            if (!std::isfinite(r)) r = HUGE_VAL;
            if (e.worst_output < 0 || r > e.max_response_deviation) {
                e.max_response_deviation = r;
                e.worst_output = o;
                e.worst_input = i;
            }
        }
    return e;
}

} // namespace sorvan::analysis
