#include "analysis/ride.h"

#include <unsupported/Eigen/MatrixFunctions>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace sorvan::analysis {

namespace {

using cplx = std::complex<double>;

// Below this |lambda h| the hold integrals are summed as their series:
// the closed forms lose digits to cancellation there.
constexpr double series_below = 0.1;

// (e^x - 1) / x and (e^x - 1 - x) / x^2.
void hold_factors(cplx x, cplx &f1, cplx &f2) {
    if (std::abs(x) < series_below) {
        // sum x^k / (k + 1)! and sum x^k / (k + 2)!; 14 terms leave less
        // than 1e-17 of the sum.
        cplx term1 = 1.0, term2 = 0.5;
        f1 = f2 = 0.0;
        for (int k = 0; k < 14; ++k) {
            f1 += term1;
            f2 += term2;
            term1 *= x / static_cast<double>(k + 2);
            term2 *= x / static_cast<double>(k + 3);
        }
        return;
    }
    const cplx e = std::exp(x);
    f1 = (e - 1.0) / x;
    f2 = (e - 1.0 - x) / (x * x);
}

void check_model(const StateSpace &m, const std::vector<Eigen::Index> &inputs,
                 const std::vector<Eigen::Index> &outputs, double h) {
    const Eigen::Index n = m.a.rows();
    if (m.a.cols() != n || m.b.rows() != n || m.c.cols() != n || m.d.rows() != m.c.rows() ||
        m.d.cols() != m.b.cols())
        throw std::invalid_argument("the matrices do not make one model");
    for (Eigen::Index i : inputs)
        if (i < 0 || i >= m.b.cols()) throw std::invalid_argument("input index out of range");
    for (Eigen::Index o : outputs)
        if (o < 0 || o >= m.c.rows()) throw std::invalid_argument("output index out of range");
    if (!(h > 0.0) || !std::isfinite(h)) throw std::invalid_argument("step is not positive");
}

// Whether a is block diagonal in the blocks the state matrix writer walks:
// every term outside the blocks exactly 0.
bool block_diagonal(const Eigen::MatrixXd &a, const std::vector<StateBlock> &blocks) {
    const Eigen::Index n = a.rows();
    for (const StateBlock &b : blocks)
        for (Eigen::Index j = 0; j < n; ++j) {
            if (j >= b.first && j < b.first + b.size) continue;
            for (int r = 0; r < b.size; ++r)
                if (a(b.first + r, j) != 0.0) return false;
        }
    return true;
}

// Sub-matrices of the chosen columns or rows.
Eigen::MatrixXd columns(const Eigen::MatrixXd &m, const std::vector<Eigen::Index> &cols) {
    Eigen::MatrixXd out(m.rows(), static_cast<Eigen::Index>(cols.size()));
    for (std::size_t k = 0; k < cols.size(); ++k)
        out.col(static_cast<Eigen::Index>(k)) = m.col(cols[k]);
    return out;
}

Eigen::MatrixXd rows(const Eigen::MatrixXd &m, const std::vector<Eigen::Index> &rs) {
    Eigen::MatrixXd out(static_cast<Eigen::Index>(rs.size()), m.cols());
    for (std::size_t k = 0; k < rs.size(); ++k)
        out.row(static_cast<Eigen::Index>(k)) = m.row(rs[k]);
    return out;
}

// du/dt and d2u/dt2 at sample k from the samples around it.
void input_rates(const Eigen::MatrixXd &u, Eigen::Index k, double h, Eigen::VectorXd &du,
                 Eigen::VectorXd &ddu) {
    const Eigen::Index n = u.rows();
    if (n < 2) {
        du.setZero(u.cols());
        ddu.setZero(u.cols());
        return;
    }
    if (k == 0)
        du = (u.row(1) - u.row(0)).transpose() / h;
    else if (k + 1 == n)
        du = (u.row(k) - u.row(k - 1)).transpose() / h;
    else
        du = (u.row(k + 1) - u.row(k - 1)).transpose() / (2.0 * h);
    if (k == 0 || k + 1 == n)
        ddu.setZero(u.cols());
    else
        ddu = (u.row(k + 1) - 2.0 * u.row(k) + u.row(k - 1)).transpose() / (h * h);
}

void judge_stability(const Eigen::VectorXcd &lambda, cplx &least, bool &stable) {
    double largest = 0.0;
    least = cplx(-std::numeric_limits<double>::infinity(), 0.0);
    for (const cplx &l : lambda) {
        largest = std::max(largest, std::abs(l));
        if (l.real() > least.real()) least = l;
    }
    stable = lambda.size() == 0 ||
             least.real() <= 64.0 * std::numeric_limits<double>::epsilon() * largest;
    if (lambda.size() == 0) least = 0.0;
}

} // namespace

const char *step_method_text(StepMethod m) {
    switch (m) {
    case StepMethod::modal_form:
        return "modal coordinates (A in modal form)";
    case StepMethod::eigenvectors:
        return "modal coordinates (A diagonalised)";
    case StepMethod::matrix_exponential:
        break;
    }
    return "the dense matrix exponential";
}

TimeStepper::TimeStepper(const StateSpace &m, const std::vector<Eigen::Index> &inputs,
                         const std::vector<Eigen::Index> &outputs, double h)
    : h_(h) {
    check_model(m, inputs, outputs, h);
    d_ = columns(rows(m.d, outputs), inputs);
    const Eigen::Index n = m.a.rows();
    const std::vector<StateBlock> blocks = reduction_blocks(m.a, 0.0);
    if (block_diagonal(m.a, blocks)) {
        // Per block its eigenvectors: 1 for a real state; (1, i) and
        // (1, -i) for [[s, w], [-w, s]], whose inverse is [[1, -i], [1, i]] / 2.
        Eigen::MatrixXcd v = Eigen::MatrixXcd::Zero(n, n), w = Eigen::MatrixXcd::Zero(n, n);
        Eigen::VectorXcd lambda(n);
        const cplx i(0.0, 1.0);
        for (const StateBlock &b : blocks) {
            const Eigen::Index j = b.first;
            if (b.size == 1) {
                lambda(j) = m.a(j, j);
                v(j, j) = w(j, j) = 1.0;
                continue;
            }
            lambda(j) = cplx(m.a(j, j), m.a(j, j + 1));
            lambda(j + 1) = std::conj(lambda(j));
            v(j, j) = v(j, j + 1) = 1.0;
            v(j + 1, j) = i;
            v(j + 1, j + 1) = -i;
            w(j, j) = w(j + 1, j) = 0.5;
            w(j, j + 1) = -0.5 * i;
            w(j + 1, j + 1) = 0.5 * i;
        }
        method_ = StepMethod::modal_form;
        prepare_modal(m, v, w, lambda, inputs, outputs);
        return;
    }
    Eigen::EigenSolver<Eigen::MatrixXd> solver(m.a, true);
    if (solver.info() != Eigen::Success)
        throw std::runtime_error("the eigenvalues of the state matrix do not converge");
    judge_stability(solver.eigenvalues(), least_stable_, stable_);
    method_ = StepMethod::eigenvectors;
    if (!stable_) return; // refused before the steps are prepared
    const Eigen::MatrixXcd v = solver.eigenvectors();
    Eigen::PartialPivLU<Eigen::MatrixXcd> lu(v);
    const double rcond = lu.rcond();
    if (rcond > 0.0 && 1.0 / rcond <= ride_basis_condition_max) {
        method_ = StepMethod::eigenvectors;
        prepare_modal(m, v, lu.inverse(), solver.eigenvalues(), inputs, outputs);
        return;
    }
    method_ = StepMethod::matrix_exponential;
    prepare_dense(m, inputs, outputs);
}

void TimeStepper::prepare_modal(const StateSpace &m, const Eigen::MatrixXcd &v,
                                const Eigen::MatrixXcd &w, const Eigen::VectorXcd &lambda,
                                const std::vector<Eigen::Index> &inputs,
                                const std::vector<Eigen::Index> &outputs) {
    lambda_ = lambda;
    judge_stability(lambda_, least_stable_, stable_);
    const Eigen::Index n = lambda.size();
    phi_.resize(n);
    g0_.resize(n);
    g1_.resize(n);
    for (Eigen::Index k = 0; k < n; ++k) {
        cplx f1, f2;
        hold_factors(lambda(k) * h_, f1, f2);
        phi_(k) = std::exp(lambda(k) * h_);
        g0_(k) = h_ * f1;
        g1_(k) = h_ * f2;
    }
    bm_ = w * columns(m.b, inputs).cast<cplx>();
    cm_ = rows(m.c, outputs).cast<cplx>() * v;
    cm_ll_ = cm_ * lambda.cwiseProduct(lambda).asDiagonal();
    cab_ = (cm_ * lambda.asDiagonal() * bm_).real();
    cb_ = (cm_ * bm_).real();
}

void TimeStepper::prepare_dense(const StateSpace &m, const std::vector<Eigen::Index> &inputs,
                                const std::vector<Eigen::Index> &outputs) {
    const Eigen::Index n = m.a.rows(), p = static_cast<Eigen::Index>(inputs.size());
    const Eigen::MatrixXd b = columns(m.b, inputs);
    // exp of [[A, B, 0], [0, 0, I / h], [0, 0, 0]] h holds Phi, G0 and G1 in
    // its first block row.
    Eigen::MatrixXd big = Eigen::MatrixXd::Zero(n + 2 * p, n + 2 * p);
    big.topLeftCorner(n, n) = m.a * h_;
    big.block(0, n, n, p) = b * h_;
    big.block(n, n + p, p, p).setIdentity();
    const Eigen::MatrixXd e = big.exp();
    phi_d_ = e.topLeftCorner(n, n);
    g0_d_ = e.block(0, n, n, p);
    g1_d_ = e.block(0, n + p, n, p);
    c_ = rows(m.c, outputs);
    ca2_ = c_ * m.a * m.a;
    cab_ = c_ * m.a * b;
    cb_ = c_ * b;
    // The equilibrium x = -A^-1 B u where A is invertible; 0 otherwise.
    Eigen::FullPivLU<Eigen::MatrixXd> lu(m.a);
    x0_gain_ = lu.isInvertible() ? Eigen::MatrixXd(-lu.solve(b)) : Eigen::MatrixXd::Zero(n, p);
}

Response TimeStepper::run(const Eigen::MatrixXd &u) const {
    if (u.cols() != d_.cols()) throw std::invalid_argument("input columns differ");
    if (!stable_) throw std::logic_error("an unstable model is not stepped");
    return method_ == StepMethod::matrix_exponential ? run_dense(u) : run_modal(u);
}

Response TimeStepper::run_modal(const Eigen::MatrixXd &u) const {
    const Eigen::Index samples = u.rows(), n = lambda_.size();
    Response r;
    r.values.resize(samples, d_.rows());
    r.accelerations.resize(samples, d_.rows());
    if (samples == 0) return r;
    Eigen::VectorXcd w0 = bm_ * u.row(0).transpose().cast<cplx>(), w1(n), z(n);
    for (Eigen::Index k = 0; k < n; ++k)
        z(k) = std::abs(lambda_(k)) > 0.0 ? -w0(k) / lambda_(k) : cplx(0.0);
    Eigen::VectorXd du, ddu;
    for (Eigen::Index k = 0; k < samples; ++k) {
        const Eigen::VectorXd uk = u.row(k).transpose();
        input_rates(u, k, h_, du, ddu);
        r.values.row(k) = ((cm_ * z).real() + d_ * uk).transpose();
        r.accelerations.row(k) =
            ((cm_ll_ * z).real() + cab_ * uk + cb_ * du + d_ * ddu).transpose();
        if (k + 1 == samples) break;
        w1 = bm_ * u.row(k + 1).transpose().cast<cplx>();
        z = phi_.cwiseProduct(z) + g0_.cwiseProduct(w0) + g1_.cwiseProduct(w1 - w0);
        w0.swap(w1);
    }
    return r;
}

Response TimeStepper::run_dense(const Eigen::MatrixXd &u) const {
    const Eigen::Index samples = u.rows();
    Response r;
    r.values.resize(samples, d_.rows());
    r.accelerations.resize(samples, d_.rows());
    if (samples == 0) return r;
    Eigen::VectorXd x = x0_gain_ * u.row(0).transpose(), du, ddu;
    for (Eigen::Index k = 0; k < samples; ++k) {
        const Eigen::VectorXd uk = u.row(k).transpose();
        input_rates(u, k, h_, du, ddu);
        r.values.row(k) = (c_ * x + d_ * uk).transpose();
        r.accelerations.row(k) = (ca2_ * x + cab_ * uk + cb_ * du + d_ * ddu).transpose();
        if (k + 1 == samples) break;
        const Eigen::VectorXd next = u.row(k + 1).transpose();
        x = phi_d_ * x + g0_d_ * uk + g1_d_ * (next - uk);
    }
    return r;
}

} // namespace sorvan::analysis
