// Model reduction as sorvan reduce does it: the modal form judged within a
// tolerance, any model brought to it, the dropped states residualised on
// request, and what the reduction costs.
#ifndef SORVAN_ANALYSIS_REDUCTION_H
#define SORVAN_ANALYSIS_REDUCTION_H

#include "analysis/state_space.h"

#include <string>
#include <vector>

namespace sorvan::analysis {

// Whether A is in real modal form: block diagonal with 1 x 1 blocks and
// 2 x 2 blocks [[s, w], [-w, s]] (w not 0), every other term 0. Terms are
// equal, or 0, within tolerance times the magnitude of the blocks they
// belong to (for a term outside the blocks, the larger of its row's and its
// column's block). why names the first term that breaks the form.
struct ModalForm {
    bool modal = false;
    std::vector<StateBlock> blocks; // the blocks, when modal (kept left true)
    std::string why;                // "" when modal
};
ModalForm judge_modal_form(const Eigen::MatrixXd &a, double tolerance = 1e-12);

// The modal A with its blocks made exact (the means of the terms that
// should be equal) and every other term 0: the form the state matrix
// writer takes as modal, bit for bit.
Eigen::MatrixXd exact_modal_form(const Eigen::MatrixXd &a, const std::vector<StateBlock> &blocks);

// Any model in real modal coordinates x = V z: A_m = V^-1 A V (exact
// blocks from the eigenvalues, pairs [[re, im], [-im, re]] with im > 0),
// B_m = V^-1 B, C_m = C V, D unchanged; the modes ordered by frequency
// (|lambda|). False with error when V is singular or its condition number
// (given in condition) exceeds max_condition: a defective or nearly
// defective A has no modal basis to trust.
constexpr double max_modal_condition = 1e10;
bool to_modal(const StateSpace &model, StateSpace &modal, double &condition, std::string &error);

// D of the reduced model with the dropped states residualised:
// D + C_t (-A_t)^-1 B_t over the dropped states t, so that the reduced
// model keeps the full one's static gain. False with error when A_t is
// singular (a dropped integrator or rigid-body mode).
// blocks: the model's blocks with the ones to drop not kept.
bool static_correction(const StateSpace &model, const std::vector<StateBlock> &blocks,
                       Eigen::MatrixXd &d, std::string &error);

// What a reduction costs, against the full model: the static gains'
// largest deviation relative to the largest full static gain (when both
// models have one), and the largest response deviation of each pair over
// the full model's frequency grid up to up_to_hz (all of it for 0),
// relative to the pair's peak there, with the worst pair.
struct ReductionError {
    bool has_static = false;
    double static_gain_deviation = 0.0;
    double max_response_deviation = 0.0;
    Eigen::Index worst_output = -1, worst_input = -1;
    std::vector<double> grid; // Hz
};
ReductionError reduction_error(const StateSpace &full, const StateSpace &reduced, double up_to_hz);

} // namespace sorvan::analysis

#endif
