// What a linearised model dx/dt = A x + B u, y = C x + D u says about
// itself: its modes, whether its state matrix is in the modal form the
// state matrix writer reduces, which states a frequency limit keeps, and
// its frequency response.
#ifndef SORVAN_ANALYSIS_STATE_SPACE_H
#define SORVAN_ANALYSIS_STATE_SPACE_H

#include <Eigen/Dense>

#include <complex>
#include <vector>

namespace sorvan::analysis {

struct StateSpace {
    Eigen::MatrixXd a, b, c, d;
};

// One mode of A: a complex-conjugate pair of eigenvalues, or one real
// eigenvalue. All times in seconds, frequencies in Hz.
struct Mode {
    std::complex<double> eigenvalue; // of a pair, the member with positive imaginary part
    bool oscillating;                // a pair
    double frequency_hz;             // |eigenvalue| / 2 pi, the undamped natural frequency
    double damping_ratio;            // -Re / |eigenvalue|: 1 for a decaying real mode, 0 at 0
    double time_constant;            // -1 / Re: the decay time of the mode or of its envelope;
                                     // negative when it grows, infinite when Re is 0
    bool stable;                     // Re < 0
};

// The modes of a, sorted by frequency (then by real and imaginary part).
// Eigenvalues that are conjugates of each other within a relative 1e-6 make
// one oscillating mode. Throws std::invalid_argument when a is not square
// or holds a term that is not finite, std::runtime_error when the eigen
// solver does not converge.
std::vector<Mode> modes(const Eigen::MatrixXd &a);

// The same from eigenvalues already computed (a conjugate of each complex
// one among them).
std::vector<Mode> modes_of_eigenvalues(const Eigen::VectorXcd &eigenvalues);

// The eigenvalues of a matrix, kept with what weighs chosen ones later:
// the condition number of an eigenvalue, the norms of its right and left
// eigenvectors over the modulus of their product, says how much a change
// of the matrix moves it. Through LAPACK's Schur form (no Schur vectors)
// and its condition estimator where the build has LAPACK, which weighs a
// chosen eigenvalue in O(n^2); through the eigenvectors and their inverse
// otherwise. Throws std::runtime_error when the solver does not converge,
// std::invalid_argument for a matrix that is not square or not finite.
class WeighedEigenvalues {
  public:
    explicit WeighedEigenvalues(const Eigen::MatrixXd &a);
    const Eigen::VectorXcd &eigenvalues() const { return lambda_; }
    // The condition numbers of the eigenvalues of the indices which (into
    // eigenvalues()), in that order.
    Eigen::VectorXd conditions(const std::vector<Eigen::Index> &which) const;
    // Every eigenvalue's.
    Eigen::VectorXd conditions() const;
    // The index of the eigenvalue nearest lambda.
    Eigen::Index nearest(std::complex<double> lambda) const;

  private:
    Eigen::VectorXcd lambda_;
    Eigen::MatrixXd t_;   // the Schur form (LAPACK)
    Eigen::VectorXd all_; // every condition number (Eigen alone)
};

// The condition numbers by the eigenvectors alone, in every build.
void eigenvalue_conditions_by_vectors(const Eigen::MatrixXd &a, Eigen::VectorXcd &eigenvalues,
                                      Eigen::VectorXd &conditions);

// Whether the state matrix writer takes a for modal form: every term
// a(i, j) with i, j >= 2 and |i - j| >= 2 is exactly 0 (a NaN is not).
// Rows and columns 0 and 1 are not looked at. A matrix that is not square
// is not modal.
bool modal_form(const Eigen::MatrixXd &a);

// The states as the writer's reduction walks them: a pair of states j, j + 1
// with a(j, j + 1) == -a(j + 1, j) and a(j, j) == a(j + 1, j + 1) (exact
// comparisons) is one block with the eigenvalues re +- i im, re = a(j, j),
// im = a(j, j + 1); any other state is a real block of its own.
struct StateBlock {
    Eigen::Index first;              // first state of the block, from 0
    int size;                        // 1 or 2
    std::complex<double> eigenvalue; // re + i |im| (im 0 for a real state)
    bool kept;
};

// The blocks of a and whether the writer keeps each of them when called
// with the frequency limit limit_hz and the real-state switch real_switch:
// only a modal a is limited, and a limit of 0 keeps every pair; a pair is
// kept when (limit_hz * 6.28318530717958)^2 >= re^2 + im^2, a real state
// when real_switch > 0 and the square of the limit is at least a(j, j)^2.
// Empty for a matrix that is not square.
std::vector<StateBlock> reduction_blocks(const Eigen::MatrixXd &a, double limit_hz,
                                         double real_switch = 1.0);

// The same per state: entry j is whether the writer keeps state j.
std::vector<bool> kept_by_reduction(const Eigen::MatrixXd &a, double limit_hz,
                                    double real_switch = 1.0);

// C (sI - A)^-1 B + D at s = 2 pi i f_hz (outputs x inputs), by an LU
// solve. A frequency at which sI - A is singular gives terms that are not
// finite. Throws std::invalid_argument when the sizes do not make one model
// (A square, B with A's rows, C with A's columns, D with C's rows and B's
// columns).
Eigen::MatrixXcd frequency_response(const StateSpace &m, double f_hz);

// The frequency response at many frequencies of one model, as control
// libraries evaluate it: A is brought to upper Hessenberg form once,
// A = Q H Q^T, keeping Q^T B and C Q; each frequency then solves
// (sI - H) X = Q^T B by an LU factorisation of the Hessenberg matrix (O(n^2))
// and a triangular solve (O(n^2) per input), H(s) = C Q X + D. No
// eigenvectors are needed, so a defective or nearly defective A is as
// accurate as any other. Copies what it needs of m. Throws
// std::invalid_argument when the sizes do not make one model.
class ResponseEvaluator {
  public:
    explicit ResponseEvaluator(const StateSpace &m);
    Eigen::MatrixXcd at(double f_hz) const;
    Eigen::Index outputs() const { return d_.rows(); }
    Eigen::Index inputs() const { return d_.cols(); }
    // The eigenvalues of A, from H (LAPACK where the build has it). Throws
    // std::runtime_error when they do not converge.
    Eigen::VectorXcd eigenvalues() const;

  private:
    Eigen::MatrixXd ht_;        // H transposed: its rows are contiguous
    Eigen::MatrixXcd qbt_, cq_; // (Q^T B)^T and C Q
    Eigen::MatrixXd d_;
};

// A = Q H Q^T with H upper Hessenberg and Q orthogonal, applied to b and c
// as Q^T b and c Q (LAPACK where the build has it, without forming Q).
void hessenberg(const Eigen::MatrixXd &a, const Eigen::MatrixXd &b, const Eigen::MatrixXd &c,
                Eigen::MatrixXd &h, Eigen::MatrixXd &qb, Eigen::MatrixXd &cq);

// Frequencies (Hz) spaced evenly on a logarithmic scale, per_decade to a
// decade, from the whole decade at least ten times below the lowest mode
// frequency to the whole decade at least ten times above the highest (modes
// at 0 Hz left aside); 0.1 to 100 Hz when no mode has a frequency. Empty
// when per_decade is below 1 or the grid would exceed max_grid_points.
constexpr std::size_t max_grid_points = 1000000;
std::vector<double> frequency_grid(const std::vector<Mode> &modes, int per_decade = 200);

} // namespace sorvan::analysis

#endif
