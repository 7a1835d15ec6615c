// Modes, modal form, the writer's reduction and frequency responses of a
// state-space model, on Eigen's eigenvalue solver, Hessenberg reduction and
// LU decomposition.
#include "analysis/state_space.h"

#include <Eigen/Eigenvalues>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string>

namespace sorvan::analysis {

namespace {

using cplx = std::complex<double>;

constexpr double two_pi = 2.0 * std::numbers::pi;

// 2 pi as the state matrix writer multiplies its limit with, and the limit
// it uses when none applies: the reduction must come out as the writer's.
constexpr double writer_two_pi = 6.28318530717958;
constexpr double writer_no_limit = 9.99999e32;

// Two eigenvalues are one conjugate pair when they differ from conjugates
// by at most this much of their modulus. The solver gives exact conjugates;
// the slack only keeps a pair together should it ever not.
constexpr double pair_tolerance = 1e-6;

// Mode frequencies below this share of the highest count as 0 Hz for the
// grid: the rounding-level eigenvalues of a free rigid-body motion would
// otherwise stretch it over many empty decades.
constexpr double zero_frequency_share = 1e-9;

// The grid when no mode has a frequency, in decades (0.1 to 100 Hz).
constexpr int default_low_decade = -1;
constexpr int default_high_decade = 2;

Mode make_mode(cplx lambda, bool oscillating) {
    const double modulus = std::abs(lambda);
    const double re = lambda.real();
    Mode m;
    m.eigenvalue = lambda;
    m.oscillating = oscillating;
    m.frequency_hz = modulus / two_pi;
    m.damping_ratio = modulus > 0.0 ? -re / modulus : 0.0;
    m.time_constant = re != 0.0 ? -1.0 / re : std::numeric_limits<double>::infinity();
    m.stable = re < 0.0;
    return m;
}

// Joins each eigenvalue of positive imaginary part to the nearest unused
// conjugate of one of negative imaginary part. An eigenvalue left without a
// partner (which a real matrix cannot have) still makes a mode of its own.
void pair_up(const std::vector<cplx> &upper, const std::vector<cplx> &lower,
             std::vector<Mode> &out) {
    std::vector<bool> used(lower.size(), false);
    for (const cplx &u : upper) {
        size_t best = lower.size();
        double best_distance = 0.0;
        for (size_t k = 0; k < lower.size(); ++k) {
            if (used[k]) continue;
            const double distance = std::abs(std::conj(lower[k]) - u);
            if (best == lower.size() || distance < best_distance) {
                best = k;
                best_distance = distance;
            }
        }
        if (best < lower.size() && best_distance <= pair_tolerance * std::abs(u)) {
            used[best] = true;
            const cplx partner = std::conj(lower[best]);
            out.push_back(make_mode(0.5 * (u + partner), true));
        } else {
            out.push_back(make_mode(u, true));
        }
    }
    for (size_t k = 0; k < lower.size(); ++k)
        if (!used[k]) out.push_back(make_mode(std::conj(lower[k]), true));
}

bool mode_before(const Mode &x, const Mode &y) {
    if (x.frequency_hz != y.frequency_hz) return x.frequency_hz < y.frequency_hz;
    if (x.eigenvalue.real() != y.eigenvalue.real())
        return x.eigenvalue.real() < y.eigenvalue.real();
    return x.eigenvalue.imag() < y.eigenvalue.imag();
}

void check_square_finite(const Eigen::MatrixXd &a) {
    if (a.rows() != a.cols())
        throw std::invalid_argument("the state matrix is " + std::to_string(a.rows()) + " x " +
                                    std::to_string(a.cols()) + ", not square");
    if (!a.allFinite())
        throw std::invalid_argument("the state matrix holds a term that is not a finite number");
}

} // namespace

std::vector<Mode> modes_of_eigenvalues(const Eigen::VectorXcd &eigenvalues) {
    std::vector<Mode> out;
    std::vector<cplx> upper, lower;
    for (const cplx &lambda : eigenvalues) {
        if (lambda.imag() > 0.0)
            upper.push_back(lambda);
        else if (lambda.imag() < 0.0)
            lower.push_back(lambda);
        else
            out.push_back(make_mode(lambda, false));
    }
    pair_up(upper, lower, out);
    std::sort(out.begin(), out.end(), mode_before);
    return out;
}

std::vector<Mode> modes(const Eigen::MatrixXd &a) {
    check_square_finite(a);
    if (a.rows() == 0) return {};
    Eigen::EigenSolver<Eigen::MatrixXd> solver(a, false);
    if (solver.info() != Eigen::Success)
        throw std::runtime_error("the eigenvalues of the state matrix do not converge");
    return modes_of_eigenvalues(solver.eigenvalues());
}

void eigenvalue_conditions_by_vectors(const Eigen::MatrixXd &a, Eigen::VectorXcd &eigenvalues,
                                      Eigen::VectorXd &conditions) {
    const Eigen::Index n = a.rows();
    eigenvalues.resize(n);
    conditions.resize(n);
    if (n == 0) return;
    Eigen::EigenSolver<Eigen::MatrixXd> solver(a, true);
    if (solver.info() != Eigen::Success)
        throw std::runtime_error("the eigenvectors of the matrix do not converge");
    const Eigen::MatrixXcd v = solver.eigenvectors();
    const Eigen::MatrixXcd left = v.partialPivLu().inverse(); // its rows: the left eigenvectors
    eigenvalues = solver.eigenvalues();
    for (Eigen::Index k = 0; k < n; ++k)
        conditions(k) = v.col(k).norm() * left.row(k).norm();
}

WeighedEigenvalues::WeighedEigenvalues(const Eigen::MatrixXd &a) {
    check_square_finite(a);
    const Eigen::Index n = a.rows();
    if (n == 0) return;
#ifdef EIGEN_USE_LAPACKE
    // Hessenberg form, then its Schur form T without the vectors: an
    // orthogonal similarity keeps every eigenvalue and its condition.
    const auto ln = static_cast<lapack_int>(n);
    t_ = a;
    Eigen::VectorXd tau(std::max<Eigen::Index>(n - 1, 1)), wr(n), wi(n);
    double no_z = 0.0;
    if (LAPACKE_dgehrd(LAPACK_COL_MAJOR, ln, 1, ln, t_.data(), ln, tau.data()) != 0)
        throw std::runtime_error("the Hessenberg form of the matrix failed");
    for (Eigen::Index j = 0; j + 2 < n; ++j)
        t_.col(j).tail(n - j - 2).setZero();
    if (LAPACKE_dhseqr(LAPACK_COL_MAJOR, 'S', 'N', ln, 1, ln, t_.data(), ln, wr.data(), wi.data(),
                       &no_z, 1) != 0)
        throw std::runtime_error("the eigenvalues of the matrix do not converge");
    lambda_.resize(n);
    for (Eigen::Index k = 0; k < n; ++k)
        lambda_(k) = cplx(wr(k), wi(k));
#else
    eigenvalue_conditions_by_vectors(a, lambda_, all_);
#endif
}

Eigen::VectorXd WeighedEigenvalues::conditions(const std::vector<Eigen::Index> &which) const {
    Eigen::VectorXd out(static_cast<Eigen::Index>(which.size()));
#ifdef EIGEN_USE_LAPACKE
    // The eigenvectors of T for the chosen eigenvalues (a complex one
    // brings its pair), then their reciprocal condition numbers.
    const Eigen::Index n = t_.rows();
    const auto ln = static_cast<lapack_int>(n);
    std::vector<lapack_logical> select(static_cast<std::size_t>(n), 0);
    for (Eigen::Index k : which)
        select[static_cast<std::size_t>(k)] = 1;
    lapack_int columns = 0;
    for (Eigen::Index k = 0; k < n; ++k)
        if (select[static_cast<std::size_t>(k)] ||
            (lambda_(k).imag() != 0.0 &&
             select[static_cast<std::size_t>(lambda_(k).imag() > 0.0 ? k + 1 : k - 1)]))
            ++columns;
    if (columns == 0) return out;
    // Zeroed: LAPACKE looks the arrays over for NaNs before it fills them.
    Eigen::MatrixXd vl = Eigen::MatrixXd::Zero(n, columns), vr = vl;
    Eigen::VectorXd s = Eigen::VectorXd::Zero(columns), sep = s;
    lapack_int used = 0;
    if (LAPACKE_dtrevc(LAPACK_COL_MAJOR, 'B', 'S', select.data(), ln, t_.data(), ln, vl.data(), ln,
                       vr.data(), ln, columns, &used) != 0 ||
        LAPACKE_dtrsna(LAPACK_COL_MAJOR, 'E', 'S', select.data(), ln, t_.data(), ln, vl.data(), ln,
                       vr.data(), ln, s.data(), sep.data(), columns, &used) != 0)
        throw std::runtime_error("the condition numbers of the eigenvalues failed");
    // s holds the chosen eigenvalues in their order in T, a pair twice.
    Eigen::Index column = 0;
    std::vector<double> by_index(static_cast<std::size_t>(n), 0.0);
    for (Eigen::Index k = 0; k < n && column < used; ++k) {
        const bool pair_member =
            lambda_(k).imag() != 0.0 &&
            select[static_cast<std::size_t>(lambda_(k).imag() > 0.0 ? k + 1 : k - 1)];
        if (!select[static_cast<std::size_t>(k)] && !pair_member) continue;
        const double r = s(column++);
        by_index[static_cast<std::size_t>(k)] =
            r > 0.0 ? 1.0 / r : std::numeric_limits<double>::infinity();
    }
    for (std::size_t j = 0; j < which.size(); ++j)
        out(static_cast<Eigen::Index>(j)) = by_index[static_cast<std::size_t>(which[j])];
#else
    for (std::size_t j = 0; j < which.size(); ++j)
        out(static_cast<Eigen::Index>(j)) = all_(which[j]);
#endif
    return out;
}

Eigen::VectorXd WeighedEigenvalues::conditions() const {
    std::vector<Eigen::Index> every(static_cast<std::size_t>(lambda_.size()));
    for (std::size_t k = 0; k < every.size(); ++k)
        every[k] = static_cast<Eigen::Index>(k);
    return conditions(every);
}

Eigen::Index WeighedEigenvalues::nearest(cplx lambda) const {
    Eigen::Index k = 0;
    if (lambda_.size() > 0) (lambda_.array() - lambda).abs().minCoeff(&k);
    return k;
}

bool modal_form(const Eigen::MatrixXd &a) {
    if (a.rows() != a.cols()) return false;
    const Eigen::Index n = a.cols();
    for (Eigen::Index i = 2; i < n; ++i)
        for (Eigen::Index j = 2; j < n; ++j)
            if ((i - j >= 2 || j - i >= 2) && a(i, j) != 0.0) return false;
    return true;
}

std::vector<StateBlock> reduction_blocks(const Eigen::MatrixXd &a, double limit_hz,
                                         double real_switch) {
    std::vector<StateBlock> blocks;
    if (a.rows() != a.cols()) return blocks;
    const double limit =
        limit_hz != 0.0 && modal_form(a) ? limit_hz * writer_two_pi : writer_no_limit;
    const Eigen::Index n = a.cols();
    for (Eigen::Index j = 0; j < n;) {
        if (j + 1 < n && a(j, j + 1) == -a(j + 1, j) && a(j, j) == a(j + 1, j + 1)) {
            const double re = a(j, j), im = a(j, j + 1);
            blocks.push_back({j, 2, cplx(re, std::abs(im)), limit * limit >= re * re + im * im});
            j += 2;
        } else {
            const double re = a(j, j);
            blocks.push_back({j, 1, cplx(re, 0.0), real_switch > 0 && limit * limit >= re * re});
            j += 1;
        }
    }
    return blocks;
}

std::vector<bool> kept_by_reduction(const Eigen::MatrixXd &a, double limit_hz, double real_switch) {
    std::vector<bool> kept(static_cast<size_t>(a.rows() == a.cols() ? a.cols() : 0), false);
    for (const StateBlock &b : reduction_blocks(a, limit_hz, real_switch))
        for (int k = 0; k < b.size; ++k)
            kept[static_cast<size_t>(b.first + k)] = b.kept;
    return kept;
}

Eigen::MatrixXcd frequency_response(const StateSpace &m, double f_hz) {
    const Eigen::Index n = m.a.rows();
    if (m.a.cols() != n || m.b.rows() != n || m.c.cols() != n || m.d.rows() != m.c.rows() ||
        m.d.cols() != m.b.cols())
        throw std::invalid_argument("the matrices A, B, C, D do not make one model");
    Eigen::MatrixXcd h = m.d.cast<cplx>();
    if (n == 0) return h;
    const cplx s(0.0, two_pi * f_hz);
    Eigen::MatrixXcd shifted = -m.a.cast<cplx>();
    shifted.diagonal().array() += s;
    const Eigen::MatrixXcd x = shifted.partialPivLu().solve(m.b.cast<cplx>());
    h.noalias() += m.c.cast<cplx>() * x;
    return h;
}

void hessenberg(const Eigen::MatrixXd &a, const Eigen::MatrixXd &b, const Eigen::MatrixXd &c,
                Eigen::MatrixXd &h, Eigen::MatrixXd &qb, Eigen::MatrixXd &cq) {
    const Eigen::Index n = a.rows();
#ifdef EIGEN_USE_LAPACKE
    if (n >= 3) {
        // The reflectors stay below H's subdiagonal and are applied to B and
        // C as they are: Q is never formed.
        Eigen::MatrixXd reflectors = a;
        Eigen::VectorXd tau(n - 1);
        const auto ln = static_cast<lapack_int>(n);
        const auto lq = static_cast<lapack_int>(b.cols()), lp = static_cast<lapack_int>(c.rows());
        qb = b;
        cq = c;
        if (LAPACKE_dgehrd(LAPACK_COL_MAJOR, ln, 1, ln, reflectors.data(), ln, tau.data()) == 0 &&
            (lq == 0 || LAPACKE_dormhr(LAPACK_COL_MAJOR, 'L', 'T', ln, lq, 1, ln, reflectors.data(),
                                       ln, tau.data(), qb.data(), ln) == 0) &&
            (lp == 0 || LAPACKE_dormhr(LAPACK_COL_MAJOR, 'R', 'N', lp, ln, 1, ln, reflectors.data(),
                                       ln, tau.data(), cq.data(), lp) == 0)) {
            h = reflectors;
            for (Eigen::Index j = 0; j + 2 < n; ++j)
                h.col(j).tail(n - j - 2).setZero();
            return;
        }
    }
#endif
    const Eigen::HessenbergDecomposition<Eigen::MatrixXd> d(a);
    h = n > 0 ? Eigen::MatrixXd(d.matrixH()) : a;
    const Eigen::MatrixXd q = n > 0 ? Eigen::MatrixXd(d.matrixQ()) : a;
    qb = q.transpose() * b;
    cq = c * q;
}

ResponseEvaluator::ResponseEvaluator(const StateSpace &m) {
    const Eigen::Index n = m.a.rows();
    if (m.a.cols() != n || m.b.rows() != n || m.c.cols() != n || m.d.rows() != m.c.rows() ||
        m.d.cols() != m.b.cols())
        throw std::invalid_argument("the matrices A, B, C, D do not make one model");
    Eigen::MatrixXd h, qb, cq;
    hessenberg(m.a, m.b, m.c, h, qb, cq);
    ht_ = h.transpose();
    qbt_ = qb.transpose().cast<cplx>();
    cq_ = cq.cast<cplx>();
    d_ = m.d;
}

Eigen::VectorXcd ResponseEvaluator::eigenvalues() const {
    const Eigen::Index n = ht_.rows();
    if (n == 0) return Eigen::VectorXcd();
#ifdef EIGEN_USE_LAPACKE
    Eigen::MatrixXd h = ht_.transpose();
    Eigen::VectorXd wr(n), wi(n);
    double no_z = 0.0;
    const auto ln = static_cast<lapack_int>(n);
    if (LAPACKE_dhseqr(LAPACK_COL_MAJOR, 'E', 'N', ln, 1, ln, h.data(), ln, wr.data(), wi.data(),
                       &no_z, 1) != 0)
        throw std::runtime_error("the eigenvalues of the state matrix do not converge");
    Eigen::VectorXcd lambda(n);
    for (Eigen::Index k = 0; k < n; ++k)
        lambda(k) = cplx(wr(k), wi(k));
    return lambda;
#else
    Eigen::EigenSolver<Eigen::MatrixXd> solver(ht_.transpose(), false);
    if (solver.info() != Eigen::Success)
        throw std::runtime_error("the eigenvalues of the state matrix do not converge");
    return solver.eigenvalues();
#endif
}

Eigen::MatrixXcd ResponseEvaluator::at(double f_hz) const {
    const Eigen::Index n = ht_.rows();
    Eigen::MatrixXcd h = d_.cast<cplx>();
    if (n == 0) return h;
    const cplx s(0.0, two_pi * f_hz);
    // Everything transposed, so that the elimination works on contiguous
    // columns: column k of u is row k of sI - H, column k of x row k of
    // the right-hand sides Q^T B.
    Eigen::MatrixXcd u = (-ht_).cast<cplx>();
    u.diagonal().array() += s;
    Eigen::MatrixXcd x = qbt_;
    // Gaussian elimination with partial pivoting: in a Hessenberg matrix
    // only the one term below the diagonal is eliminated in each column.
    for (Eigen::Index k = 0; k + 1 < n; ++k) {
        if (std::norm(u(k, k + 1)) > std::norm(u(k, k))) {
            u.col(k).tail(n - k).swap(u.col(k + 1).tail(n - k));
            x.col(k).swap(x.col(k + 1));
        }
        const cplx pivot = u(k, k);
        if (pivot == 0.0) continue; // singular: the solve below gives no finite terms
        const cplx l = u(k, k + 1) / pivot;
        u(k, k + 1) = 0.0;
        if (l == 0.0) continue;
        u.col(k + 1).tail(n - k - 1) -= l * u.col(k).tail(n - k - 1);
        x.col(k + 1) -= l * x.col(k);
    }
    // X^T U^T = Y^T with U^T lower triangular.
    u.triangularView<Eigen::Lower>().solveInPlace<Eigen::OnTheRight>(x);
    h.noalias() += cq_ * x.transpose();
    return h;
}

std::vector<double> frequency_grid(const std::vector<Mode> &modes, int per_decade) {
    std::vector<double> grid;
    if (per_decade < 1) return grid;
    double highest = 0.0;
    for (const Mode &m : modes)
        if (std::isfinite(m.frequency_hz)) highest = std::max(highest, m.frequency_hz);
    double lowest = highest;
    for (const Mode &m : modes)
        if (std::isfinite(m.frequency_hz) && m.frequency_hz > zero_frequency_share * highest)
            lowest = std::min(lowest, m.frequency_hz);
    int low = default_low_decade, high = default_high_decade;
    if (highest > 0.0) {
        low = static_cast<int>(std::floor(std::log10(lowest))) - 1;
        high = static_cast<int>(std::ceil(std::log10(highest))) + 1;
        // log10 may round a frequency just above a power of ten onto it.
        if (std::pow(10.0, low) > lowest / 10.0) --low;
        if (std::pow(10.0, high) < highest * 10.0) ++high;
    }
    const double points = static_cast<double>(high - low) * per_decade + 1.0;
    if (points > static_cast<double>(max_grid_points)) return grid;
    const int count = static_cast<int>(points);
    grid.reserve(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k)
        grid.push_back(std::pow(10.0, low + static_cast<double>(k) / per_decade));
    return grid;
}

} // namespace sorvan::analysis
