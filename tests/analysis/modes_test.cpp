// Modes, the writer's judgement of the modal form and frequency responses
// against closed forms and the writer's stated rules.
#include "analysis/state_space.h"
#include "models.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <stdexcept>

using namespace sorvan::analysis;
using sorvan::test::put_block;
using cplx = std::complex<double>;

namespace {

const double two_pi = 2.0 * std::numbers::pi;

// wn 20 rad/s, zeta 0.0375.
constexpr double osc_m = 2.0, osc_c = 3.0, osc_k = 800.0;

} // namespace

// The writer's rules are reduce's rows in tests/data/cases/command_lines.txt;
// its own judgement of the modal form, which is not reduce's (reduce brings
// A to exact blocks before the writer sees it), the commands never show.
TEST(Reduction, ModalFormJudgement) {
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(6, 6);
    for (int j = 0; j < 6; j += 2)
        put_block(a, j, 100.0 * (j + 1), 0.1); // 100, 300 and 500 Hz
    EXPECT_TRUE(modal_form(a));
    EXPECT_EQ(kept_by_reduction(a, 200.0, 1.0),
              (std::vector<bool>{true, true, false, false, false, false}));

    // Terms in rows and columns 0 and 1 outside the band are not looked at.
    Eigen::MatrixXd edge = a;
    edge(0, 5) = 1.0;
    edge(4, 1) = 1.0;
    EXPECT_TRUE(modal_form(edge));

    // A(4, 2) off the band: not modal, the limit is ignored, every block kept.
    Eigen::MatrixXd off = a;
    off(4, 2) = 1e-300;
    EXPECT_FALSE(modal_form(off));
    EXPECT_EQ(kept_by_reduction(off, 200.0, 1.0), std::vector<bool>(6, true));

    Eigen::MatrixXd nan = a;
    nan(2, 5) = std::nan("");
    EXPECT_FALSE(modal_form(nan));
    EXPECT_FALSE(modal_form(Eigen::MatrixXd::Zero(2, 3)));
}

// H(f) = 1 / (k - m w^2 + i c w) for the oscillator's displacement, i w
// H(f) for its velocity.
TEST(FrequencyResponse, SingleOscillator) {
    const StateSpace s = sorvan::test::oscillator(osc_m, osc_c, osc_k);
    for (double f : {0.0, 0.5, 20.0 / two_pi, 10.0, 1000.0}) {
        SCOPED_TRACE(f);
        const double w = two_pi * f;
        const cplx expected = 1.0 / cplx(osc_k - osc_m * w * w, osc_c * w);
        Eigen::MatrixXcd h = frequency_response(s, f);
        ASSERT_EQ(h.rows(), 2);
        ASSERT_EQ(h.cols(), 1);
        EXPECT_LE(std::abs(h(0, 0) - expected), 1e-12 * std::abs(expected));
        EXPECT_LE(std::abs(h(1, 0) - cplx(0, w) * expected), 1e-12 * std::abs(w * expected));
    }
    StateSpace wrong = s;
    wrong.d = Eigen::MatrixXd::Zero(3, 1);
    EXPECT_THROW(frequency_response(wrong, 1.0), std::invalid_argument);
}

// The Hessenberg evaluation gives what the direct solve gives, frequency by
// frequency, on random models: a stable one, a lightly damped one (poles
// near the axis, evaluated at their frequencies), one with a repeated
// eigenvalue and one with a defective block, whose eigenvectors would be
// of no use.
TEST(FrequencyResponse, HessenbergAsSolvedDirectly) {
    const Eigen::Index n = 60;
    std::srand(7);
    auto random_model = [n](const Eigen::MatrixXd &a) {
        return sorvan::analysis::StateSpace{a, Eigen::MatrixXd::Random(n, 3),
                                            Eigen::MatrixXd::Random(5, n),
                                            Eigen::MatrixXd::Random(5, 3)};
    };
    const Eigen::MatrixXd basis = Eigen::MatrixXd::Random(n, n);
    auto similar = [&](const Eigen::MatrixXd &core) {
        return Eigen::MatrixXd(basis * core * basis.inverse());
    };
    Eigen::MatrixXd stable = Eigen::MatrixXd::Random(n, n);
    stable.diagonal().array() -= 20.0;
    Eigen::MatrixXd light = Eigen::MatrixXd::Zero(n, n), repeated = light, defective = light;
    for (Eigen::Index k = 0; k < n; k += 2) {
        const double w = 1.0 + static_cast<double>(k), sigma = 1e-3 * w;
        light.block(k, k, 2, 2) << -sigma, w, -w, -sigma;
        repeated.block(k, k, 2, 2) << -2.0, 3.0, -3.0, -2.0;
    }
    defective.diagonal().setConstant(-1.0);
    for (Eigen::Index k = 0; k + 1 < n; ++k)
        defective(k, k + 1) = 1.0;
    const struct {
        const char *name;
        Eigen::MatrixXd a;
    } cases[] = {{"stable", stable},
                 {"lightly damped", similar(light)},
                 {"repeated", similar(repeated)},
                 {"defective", defective}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const sorvan::analysis::StateSpace m = random_model(c.a);
        const sorvan::analysis::ResponseEvaluator response(m);
        for (double f : {0.0, 0.01, 0.3, 1.0 / two_pi, 3.0 / two_pi, 4.7, 100.0, 1e4}) {
            const Eigen::MatrixXcd direct = sorvan::analysis::frequency_response(m, f);
            EXPECT_LT((response.at(f) - direct).norm(), 1e-9 * direct.norm()) << f;
        }
    }
}

TEST(FrequencyResponse, Grid) {
    // One mode at 3.18 Hz: 0.1 to 100 Hz, 200 points a decade.
    std::vector<double> g = frequency_grid(modes(sorvan::test::oscillator(osc_m, osc_c, osc_k).a));
    ASSERT_EQ(g.size(), 601u);
    EXPECT_DOUBLE_EQ(g.front(), 0.1);
    EXPECT_DOUBLE_EQ(g[200], 1.0);
    EXPECT_DOUBLE_EQ(g.back(), 100.0);
    for (size_t k = 1; k < g.size(); ++k)
        ASSERT_NEAR(g[k] / g[k - 1], std::pow(10.0, 1.0 / 200), 1e-12);

    // Modes at 2 and 15 Hz and a real one at 0.48 Hz: a decade beyond each end.
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(5, 5);
    put_block(a, 0, 15.0, 0.02);
    put_block(a, 2, 2.0, 0.1);
    a(4, 4) = -3.0;
    std::vector<double> wide = frequency_grid(modes(a), 10);
    EXPECT_LE(wide.front(), 3.0 / two_pi / 10.0);
    EXPECT_GE(wide.back(), 150.0);

    std::vector<double> none = frequency_grid({}, 50);
    ASSERT_FALSE(none.empty());
    EXPECT_DOUBLE_EQ(none.front(), 0.1);
    EXPECT_DOUBLE_EQ(none.back(), 100.0);
    EXPECT_TRUE(frequency_grid({}, 0).empty());
}

// The eigenvalues and their condition numbers, by LAPACK's estimator where
// the build has it and by the eigenvectors: both against the closed form of
// a triangular 2 x 2 block, kappa = sqrt(1 + (c / (l1 - l2))^2), and
// against each other on a random matrix with complex pairs, all at once
// and chosen ones.
TEST(EigenvalueConditions, BothWaysAgree) {
    using sorvan::analysis::eigenvalue_conditions_by_vectors;
    using sorvan::analysis::WeighedEigenvalues;
    Eigen::MatrixXd t(2, 2);
    t << -1.0, 30.0, 0.0, -4.0;
    const double kappa = std::sqrt(1.0 + 100.0);
    Eigen::VectorXcd lambda;
    Eigen::VectorXd by_vectors;
    eigenvalue_conditions_by_vectors(t, lambda, by_vectors);
    const Eigen::VectorXd weighed = WeighedEigenvalues(t).conditions();
    for (const Eigen::VectorXd &kappas : {by_vectors, weighed}) {
        ASSERT_EQ(kappas.size(), 2);
        EXPECT_NEAR(kappas(0), kappa, 1e-12 * kappa);
        EXPECT_NEAR(kappas(1), kappa, 1e-12 * kappa);
    }
    const Eigen::MatrixXd random = Eigen::MatrixXd::Random(40, 40);
    const WeighedEigenvalues w(random);
    eigenvalue_conditions_by_vectors(random, lambda, by_vectors);
    const Eigen::VectorXd all = w.conditions();
    const auto m1 = sorvan::analysis::modes_of_eigenvalues(w.eigenvalues());
    const auto m2 = sorvan::analysis::modes_of_eigenvalues(lambda);
    ASSERT_EQ(m1.size(), m2.size());
    for (std::size_t k = 0; k < m1.size(); ++k)
        EXPECT_LT(std::abs(m1[k].eigenvalue - m2[k].eigenvalue), 1e-12 * random.norm());
    // The conditions belong to the eigenvalues: matched by value, and the
    // same when a few are chosen (a complex one, its conjugate, a real one).
    std::vector<Eigen::Index> chosen;
    for (Eigen::Index k = 0; k < w.eigenvalues().size(); ++k) {
        const Eigen::Index j = w.nearest(lambda(k));
        EXPECT_NEAR(all(j), by_vectors(k), 1e-6 * by_vectors(k));
        if (k % 7 == 0) chosen.push_back(j);
    }
    const Eigen::VectorXd some = w.conditions(chosen);
    for (std::size_t k = 0; k < chosen.size(); ++k)
        EXPECT_NEAR(some(static_cast<Eigen::Index>(k)), all(chosen[k]), 1e-9 * all(chosen[k]));
}
