// Model reduction against closed form: a two-mode model whose dropped mode's
// static and dynamic contributions are known, and the modal form judged
// within its tolerance.
#include "analysis/reduction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numbers>

using namespace sorvan::analysis;

namespace {

using cplx = std::complex<double>;

// Two modes s_k +- i w_k, input b_k on the second state of each block and
// output c_k on the first: mode k alone answers c_k w_k b_k / ((p - s_k)^2 +
// w_k^2).
constexpr double s1 = -0.3, w1 = 2 * std::numbers::pi, s2 = -2.0, w2 = 20 * std::numbers::pi;
constexpr double b1 = 1.5, b2 = 4.0, c1 = 2.0, c2 = 0.7;

StateSpace two_modes() {
    StateSpace m;
    m.a = Eigen::MatrixXd::Zero(4, 4);
    m.a.block<2, 2>(0, 0) << s1, w1, -w1, s1;
    m.a.block<2, 2>(2, 2) << s2, w2, -w2, s2;
    m.b = Eigen::MatrixXd::Zero(4, 1);
    m.b(1, 0) = b1;
    m.b(3, 0) = b2;
    m.c = Eigen::MatrixXd::Zero(1, 4);
    m.c(0, 0) = c1;
    m.c(0, 2) = c2;
    m.d = Eigen::MatrixXd::Zero(1, 1);
    return m;
}

cplx mode_response(double s, double w, double b, double c, double f_hz) {
    const cplx p(0.0, 2 * std::numbers::pi * f_hz);
    return c * w * b / ((p - s) * (p - s) + w * w);
}

StateSpace first_mode_only(const StateSpace &m, const Eigen::MatrixXd &d) {
    return {m.a.topLeftCorner(2, 2), m.b.topRows(2), m.c.leftCols(2), d};
}

} // namespace

TEST(Reduction, DroppedModeCostsItsOwnResponse) {
    const StateSpace full = two_modes();
    const ModalForm form = judge_modal_form(full.a);
    ASSERT_TRUE(form.modal) << form.why;
    // At 5 Hz the second mode (10 Hz) goes.
    const auto blocks = reduction_blocks(exact_modal_form(full.a, form.blocks), 5.0);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_TRUE(blocks[0].kept);
    EXPECT_FALSE(blocks[1].kept);

    const cplx g1 = mode_response(s1, w1, b1, c1, 0.0), g2 = mode_response(s2, w2, b2, c2, 0.0);
    for (const bool corrected : {false, true}) {
        SCOPED_TRACE(corrected ? "with static correction" : "truncated");
        Eigen::MatrixXd d = full.d;
        std::string error;
        if (corrected) {
            ASSERT_TRUE(static_correction(full, blocks, d, error)) << error;
        }
        const ReductionError e = reduction_error(full, first_mode_only(full, d), 5.0);
        ASSERT_TRUE(e.has_static);
        EXPECT_NEAR(e.static_gain_deviation, corrected ? 0.0 : std::abs(g2 / (g1 + g2)), 1e-12);
        // The reduced response is the full one less the second mode's (plus
        // its static part when corrected).
        double peak = 0.0, deviation = 0.0;
        for (double f : e.grid) {
            const cplx h2 = mode_response(s2, w2, b2, c2, f);
            peak = std::max(peak, std::abs(mode_response(s1, w1, b1, c1, f) + h2));
            deviation = std::max(deviation, std::abs(h2 - (corrected ? g2 : 0.0)));
        }
        EXPECT_LE(e.grid.back(), 5.0);
        EXPECT_NEAR(e.max_response_deviation, deviation / peak, 1e-9 * deviation / peak);
    }
}

TEST(Reduction, ModalFormWithinItsTolerance) {
    // Blocks that agree to 1e-15 (as a model built elsewhere has them) are
    // modal; a term of a physical model outside the blocks is not, and is
    // named.
    StateSpace m = two_modes();
    m.a(0, 0) *= 1.0 + 1e-15;
    m.a(1, 0) *= 1.0 - 1e-15;
    EXPECT_TRUE(judge_modal_form(m.a).modal);
    m.a(0, 3) = 1e-3;
    const ModalForm broken = judge_modal_form(m.a);
    EXPECT_FALSE(broken.modal);
    EXPECT_EQ(broken.why, "A(1, 4) = 0.001 lies outside the diagonal blocks");
}
