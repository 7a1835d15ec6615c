// A linear model dx/dt = A x + B u, y = C x + D u stepped in time: the
// exact discrete system for one sample interval h with the inputs held
// linear between the samples (first-order hold),
//   x[k+1] = Phi x[k] + G0 u[k] + G1 (u[k+1] - u[k]),
//   Phi = e^(A h), G0 = int_0^h e^(A s) ds B, G1 = 1/h int_0^h e^(A s) (h - s) ds B,
// so that a model is stepped without error for inputs that are straight
// lines between their samples, whatever h is against its modes.
//
// Where A allows it the system runs in modal coordinates, one complex
// number per state and step: A in real modal form (1 x 1 blocks and 2 x 2
// blocks [[s, w], [-w, s]], every other term 0) is taken block by block at
// no cost; any other A is diagonalised when its eigenvectors are well
// conditioned. A defective or nearly defective A is stepped with the dense
// matrix exponential instead.
#ifndef SORVAN_ANALYSIS_RIDE_H
#define SORVAN_ANALYSIS_RIDE_H

#include "analysis/state_space.h"

#include <Eigen/Dense>

#include <complex>
#include <vector>

namespace sorvan::analysis {

// Above this condition number of the eigenvector basis the dense matrix
// exponential is used instead: the modal steps lose about the condition
// number times the rounding unit, 2e-9 at most.
constexpr double ride_basis_condition_max = 1e7;

enum class StepMethod {
    modal_form,         // A is block diagonal already
    eigenvectors,       // A = V diag(lambda) V^-1
    matrix_exponential, // dense Phi, G0, G1
};

const char *step_method_text(StepMethod m);

// The response at every sample: rows are samples, columns the outputs
// asked for.
struct Response {
    Eigen::MatrixXd values;        // C x + D u
    Eigen::MatrixXd accelerations; // its second derivative, from the model
};

class TimeStepper {
  public:
    // Prepares the steps of length h (seconds, > 0) for the input columns
    // inputs of B and D (the others held at zero) and the output rows
    // outputs of C and D. Throws std::invalid_argument for sizes that do
    // not make one model, an index out of range, or h not a positive number;
    // std::runtime_error when the eigenvalues do not converge.
    TimeStepper(const StateSpace &m, const std::vector<Eigen::Index> &inputs,
                const std::vector<Eigen::Index> &outputs, double h);

    StepMethod method() const { return method_; }

    // The eigenvalue with the largest real part, and whether it is stable:
    // its real part at most 64 rounding units of the largest eigenvalue.
    std::complex<double> least_stable() const { return least_stable_; }
    bool stable() const { return stable_; }

    // Steps the model through u (rows the samples, columns the inputs in
    // the order given), starting from the static equilibrium for the first
    // sample (modes at eigenvalue 0 start at 0). Only a stable model is
    // stepped: for an unstable one nothing is prepared and run throws
    // std::logic_error. The accelerations are
    // d2y/dt2 = C A^2 x + C A B u + C B du/dt + D d2u/dt2, the derivatives
    // of u by differences of its samples.
    Response run(const Eigen::MatrixXd &u) const;

  private:
    void prepare_modal(const StateSpace &m, const Eigen::MatrixXcd &v, const Eigen::MatrixXcd &w,
                       const Eigen::VectorXcd &lambda, const std::vector<Eigen::Index> &inputs,
                       const std::vector<Eigen::Index> &outputs);
    void prepare_dense(const StateSpace &m, const std::vector<Eigen::Index> &inputs,
                       const std::vector<Eigen::Index> &outputs);
    Response run_modal(const Eigen::MatrixXd &u) const;
    Response run_dense(const Eigen::MatrixXd &u) const;

    double h_;
    StepMethod method_ = StepMethod::modal_form;
    std::complex<double> least_stable_;
    bool stable_ = true;
    Eigen::MatrixXd d_; // D of the outputs and inputs
    // Modal: one complex state per eigenvalue.
    Eigen::VectorXcd lambda_, phi_, g0_, g1_;
    Eigen::MatrixXcd bm_, cm_, cm_ll_; // V^-1 B, C V, C V diag(lambda^2)
    Eigen::MatrixXd cab_, cb_;         // C A B and C B
    // Dense.
    Eigen::MatrixXd phi_d_, g0_d_, g1_d_, c_, ca2_, x0_gain_;
};

} // namespace sorvan::analysis

#endif
