// The closed loop against closed form: a mass on its own spring, coupled by
// a spring-damper to a test structure (a grounded spring and a mass), once
// from a deck's TF cards and once from the state-space model.
#include "analysis/closed_loop.h"
#include "models.h"

#include <gtest/gtest.h>

#include <Eigen/Eigenvalues>

#include <algorithm>
#include <cstdio>
#include <numbers>

using namespace sorvan::analysis;

namespace {

// The model: mass 2 kg on a spring of 8 N/m, force input at point 101
// component 3, displacement and velocity outputs there; coupled by kv and cv
// to a structure of ks and ms. Every coefficient prints exactly.
constexpr double mass = 2.0, spring = 8.0, kv = 1000.0, cv = 10.0, ks = 500.0, ms = 1.0;

StateSpace one_mass() {
    return sorvan::test::oscillator(mass, 0.0, spring);
}

// The first line of a TF card, and one of its terms.
std::string tf(int point, int component, double b0, double b1) {
    char text[128];
    std::snprintf(text, sizeof text, "TF      %8d%8d%8d%#8.4g%#8.4g%#8.4g\n", 1, point, component,
                  b0, b1, 0.0);
    return text;
}

std::string term(int point, int component, double a0, double a1 = 0.0) {
    char text[128];
    std::snprintf(text, sizeof text, "        %8d%8d%#8.4g%#8.4g%#8.4g\n", point, component, a0, a1,
                  0.0);
    return text;
}

// The deck the converter writes for it in SI units, with extra points 1001
// (the input force), 1002 and 1003 (displacement and velocity), 1004 and
// 1005 (the states). Decks in other units are sorvan check's (its rows in
// tests/data/cases/command_lines.txt).
std::string deck_text() {
    return "EPOINT      1001    THRU    1005\n" +        // x1' = x2
           tf(1004, 0, 0.0, -1.0) + term(1005, 0, 1.0) + // x2' = -4 x1 + f / 2
           tf(1005, 0, 0.0, -1.0) + term(1004, 0, -4.0) + term(1001, 0, 0.5) + // D = x1
           tf(1002, 0, -1.0, 0.0) + term(1004, 0, 1.0) +                       // V = x2
           tf(1003, 0, -1.0, 0.0) + term(1005, 0, 1.0) +
           // The coupling: B0 f + A0 x + A1 v + kv D + cv V = 0.
           tf(1001, 0, 1.0, 0.0) + term(101, 3, -kv, -cv) + term(1002, 0, kv) + term(1003, 0, cv) +
           // The force on the structure: -f.
           tf(101, 3, 0.0, 0.0) + term(1001, 0, 1.0);
}

std::vector<CouplingInput> coupling() {
    CouplingInput c;
    c.at = {101, 3};
    c.input = 0;
    c.displacement = 0;
    c.velocity = 1;
    c.kv = kv;
    c.cv = cv;
    return {c};
}

// The two-mass system in closed form: structure (ms, ks) and model mass
// (mass, spring) joined by kv and cv.
std::vector<std::complex<double>> closed_form_roots() {
    Eigen::Matrix2d m, c, k;
    m << ms, 0, 0, mass;
    c << cv, -cv, -cv, cv;
    k << ks + kv, -kv, -kv, kv + spring;
    Eigen::Matrix4d first = Eigen::Matrix4d::Zero();
    first.topRightCorner<2, 2>().setIdentity();
    first.bottomLeftCorner<2, 2>() = -m.inverse() * k;
    first.bottomRightCorner<2, 2>() = -m.inverse() * c;
    Eigen::EigenSolver<Eigen::Matrix4d> solver(first);
    std::vector<std::complex<double>> roots(solver.eigenvalues().begin(),
                                            solver.eigenvalues().end());
    return roots;
}

std::vector<std::complex<double>> roots_of(const Eigen::MatrixXd &a) {
    Eigen::EigenSolver<Eigen::MatrixXd> solver(a);
    return {solver.eigenvalues().begin(), solver.eigenvalues().end()};
}

void expect_same_roots(std::vector<std::complex<double>> got,
                       std::vector<std::complex<double>> want) {
    auto order = [](std::complex<double> x, std::complex<double> y) {
        return x.imag() != y.imag() ? x.imag() < y.imag() : x.real() < y.real();
    };
    std::sort(got.begin(), got.end(), order);
    std::sort(want.begin(), want.end(), order);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < got.size(); ++k)
        EXPECT_LT(std::abs(got[k] - want[k]), 1e-9 * std::abs(want[k])) << got[k] << want[k];
}

} // namespace

TEST(ClosedLoop, OneMassOnSeriesSpringsAsInClosedForm) {
    // Statically the structure's spring is parallel to the coupling spring
    // in series with the model's.
    const double compliance = 1.0 / (ks + kv * spring / (kv + spring));
    const std::vector<std::complex<double>> roots = closed_form_roots();

    CoupledSystem model;
    std::string error;
    ASSERT_TRUE(couple_model(one_mass(), coupling(), {ks, ms}, model, error)) << error;
    ASSERT_EQ(model.compliance.size(), 1);
    EXPECT_NEAR(model.compliance(0, 0), compliance, 1e-9 * compliance);
    expect_same_roots(roots_of(model.system.a), roots);

    Deck deck;
    ASSERT_TRUE(read_deck_text(deck_text(), "one.bdf", deck, error)) << error;
    CoupledSystem assembled;
    std::vector<std::string> notes;
    ASSERT_TRUE(couple_deck(deck, layout_from_map(1000, 1, 0, 2, 0, 0, 2), {}, {ks, ms}, assembled,
                            error, notes))
        << error;
    EXPECT_TRUE(notes.empty());
    ASSERT_EQ(assembled.points, model.points);
    EXPECT_NEAR(assembled.compliance(0, 0), compliance, 1e-9 * compliance);
    expect_same_roots(roots_of(assembled.system.a), roots);
}

TEST(ClosedLoop, DefaultStructureMatchesTheModelAtThePoint) {
    const StateSpace m = one_mass();
    const TestStructure t = default_structure(m, coupling(), modes(m.a));
    EXPECT_DOUBLE_EQ(t.stiffness, spring);
    // One mode at sqrt(8 / 2) rad/s: the structure's own frequency is it.
    EXPECT_NEAR(t.mass, mass, 1e-12);
}
