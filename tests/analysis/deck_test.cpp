// The converter's bulk data read back: the golden truck deck, its model
// rebuilt against the ABC set it came from, deliberate changes seen by the
// comparison, and the fields and damaged decks of
// tests/data/cases/decks.txt.
#include "analysis/deck.h"
#include "analysis/deck_model.h"
#include "analysis/model_compare.h"
#include "models.h"
#include "support/cases.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace sorvan::analysis;

namespace {

const std::string golden = std::string(SORVAN_TEST_DATA) + "/golden/";

StateSpace read_abc_set(const std::string &base) {
    using sorvan::test::read_abc;
    return {read_abc(base + "a"), read_abc(base + "b"), read_abc(base + "c"), read_abc(base + "d")};
}

// The truck deck's model: offset 1000, 3 internal and 1 external input,
// 5 state-space outputs, 3 nodes, 2 wheels, 3 states.
ModelLayout truck_layout() {
    return layout_from_map(1000, 4, 1, 5, 3, 2, 3);
}

// Text with its line number (from 1) replaced by line, which may hold
// several lines or none.
std::string replace_line(const std::string &text, int number, const std::string &line) {
    std::istringstream in(text);
    std::string out;
    int k = 0;
    for (std::string l; std::getline(in, l);)
        out += (++k == number ? line : l) + "\n";
    return out;
}

// The golden truck deck's model, and that of the deck with one line
// replaced, compared.
ModelComparison truck_changed(int line, const std::string &text) {
    const std::string deck_text = sorvan::test::read_text(golden + "truck.bdf");
    Deck before, after;
    StateSpace x, y;
    ModelComparison cmp;
    std::string error;
    EXPECT_TRUE(read_deck_text(deck_text, "truck.bdf", before, error) &&
                read_deck_text(replace_line(deck_text, line, text), "truck.bdf", after, error) &&
                rebuild_model(before, truck_layout(), x, error) &&
                rebuild_model(after, truck_layout(), y, error) && compare_models(x, y, cmp, error))
        << error;
    return cmp;
}

// A small deck of 14 lines: input 1001, output 1002, state 1003 and a
// graphic point; dx/dt = -2 x + u (line 11), y = 3 x (line 13).
const std::string small_deck =
    "$*\n$*  length unit: MILLIMETER\n$*  force unit:  NEWTON\n$*  mass unit:   MEGAGRAM\n"
    "$*  time unit:   SECOND\nEPOINT      1001\nEPOINT      1002\nEPOINT      1003\n"
    "GRID*               1005               0    0.000000E+00    0.000000E+00\n"
    "*           1.000000E+00               0\n"
    "TF             1    1003       0-2.000+0 -1.0000  0.0000\n"
    "            1001       0 1.000+0  0.0000  0.0000\n"
    "TF             1    1002       0 -1.0000  0.0000  0.0000\n"
    "            1003       0 3.000+0  0.0000  0.0000\n";

ModelLayout small_layout() {
    ModelLayout l;
    l.grid_id_offset = 1000;
    l.internal_inputs = 1;
    l.outputs = 1;
    l.states = 1;
    return l;
}

class Cases : public testing::TestWithParam<sorvan::test::Case> {};

TEST_P(Cases, AsTheCaseSays) {
    const std::vector<std::string> &f = GetParam().fields;
    ASSERT_GE(f.size(), 3u);
    if (f[0] == "field") {
        double v = -123.0;
        EXPECT_EQ(parse_real_field(f[1], v), f[2] != "refused");
        if (f[2] != "refused") {
            EXPECT_EQ(v, std::stod(f[2]));
        }
        return;
    }
    std::string text = small_deck;
    for (std::size_t k = 3; k + 1 < f.size(); k += 2)
        text = f[k] == "end"   ? text + f[k + 1]
               : f[k] == "0"   ? f[k + 1] + text
               : f[k] == "all" ? f[k + 1]
                               : replace_line(text, std::stoi(f[k]), f[k + 1]);
    Deck deck;
    std::string error;
    const bool read = read_deck_text(text, "deck.bdf", deck, error);
    if (f[0] == "read") {
        EXPECT_FALSE(read) << text;
        EXPECT_TRUE(deck.tfs.empty() && deck.epoints.empty() && deck.grids.empty());
    } else {
        ASSERT_TRUE(read) << error << "\n" << text;
        StateSpace m;
        EXPECT_FALSE(rebuild_model(deck, small_layout(), m, error)) << text;
    }
    EXPECT_NE(error.find(f[2]), std::string::npos) << error;
    if (f[1] != "0") {
        EXPECT_NE(error.find("deck.bdf, line " + f[1] + ":"), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Deck, Cases, testing::ValuesIn(sorvan::test::read_cases("decks.txt")),
                         sorvan::test::case_name);

} // namespace

// The golden truck deck's header and the geometry cards, which the check
// only counts; its TF and DMIG cards are the model's (below, and sorvan
// check).
TEST(DeckRead, GoldenTruckWhole) {
    Deck deck;
    std::string error;
    ASSERT_TRUE(read_deck(golden + "truck.bdf", deck, error)) << error;
    EXPECT_EQ(deck.header.length_unit, "METER");
    EXPECT_EQ(deck.header.force_unit, "NEWTON");
    EXPECT_EQ(deck.header.mass_unit, "KILOGRAM");
    EXPECT_EQ(deck.header.time_unit, "SECOND");
    EXPECT_TRUE(deck.header.has_set && deck.header.set == 1);
    EXPECT_TRUE(deck.header.has_threshold);
    EXPECT_EQ(deck.header.threshold, 1e-9);
    EXPECT_EQ(deck.header.wheel_divisions, 24);

    // Per wheel an RBE2 of its 48 rim points and a coordinate system.
    ASSERT_EQ(deck.rbe2s.size(), 2u);
    EXPECT_EQ(deck.rbe2s[0].dependent.size(), 48u);
    EXPECT_EQ(deck.rbe2s[0].independent, 1038);
    EXPECT_EQ(deck.rbe2s[0].dependent.back(), 1086);
    EXPECT_EQ(deck.rbe2s[0].components, 123456);
    ASSERT_EQ(deck.cord2rs.size(), 2u);
    EXPECT_EQ(deck.cord2rs[0].id, 2003);
    EXPECT_EQ(deck.cord2rs[0].b[1], -7.874016);
    EXPECT_EQ(deck.cord2rs[0].a[2], 11.81102);
    EXPECT_EQ(deck.cord2rs[0].c[0], 39.37008);
    EXPECT_EQ(deck.cord2rs[1].line, 237);
    EXPECT_EQ(deck.grids[0].id, 1035);
    EXPECT_EQ(deck.grids[0].x[2], 19.68504);
    EXPECT_EQ(deck.grids[3].cp, 2003);

    // CR LF line ends read the same.
    std::string crlf;
    for (char c : sorvan::test::read_text(golden + "truck.bdf"))
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    Deck again;
    ASSERT_TRUE(read_deck_text(crlf, "truck.bdf", again, error)) << error;
    EXPECT_EQ(again.tfs.size(), deck.tfs.size());
    EXPECT_EQ(again.grids.size(), deck.grids.size());
}

// The rebuilt matrices are the ABC set's within the 8-character rounding
// (4 significant digits: at most 0.0005 / 0.999 of the value), and the
// terms below the threshold are 0.
TEST(DeckModel, TruckMatchesItsAbcSet) {
    Deck deck;
    std::string error;
    ASSERT_TRUE(read_deck(golden + "truck.bdf", deck, error)) << error;
    StateSpace rebuilt;
    ASSERT_TRUE(rebuild_model(deck, truck_layout(), rebuilt, error)) << error;
    const StateSpace abc = read_abc_set(std::string(SORVAN_TEST_DATA) + "/bdf/truck_");
    const Eigen::MatrixXd *pairs[4][2] = {
        {&abc.a, &rebuilt.a}, {&abc.b, &rebuilt.b}, {&abc.c, &rebuilt.c}, {&abc.d, &rebuilt.d}};
    int small = 0;
    for (auto &p : pairs) {
        const Eigen::MatrixXd &x = *p[0], &y = *p[1];
        ASSERT_EQ(x.rows(), y.rows());
        ASSERT_EQ(x.cols(), y.cols());
        for (Eigen::Index i = 0; i < x.rows(); ++i)
            for (Eigen::Index j = 0; j < x.cols(); ++j) {
                if (std::abs(x(i, j)) < 1e-9) {
                    EXPECT_EQ(y(i, j), 0.0) << i << ", " << j;
                    small += x(i, j) != 0.0;
                } else {
                    EXPECT_LE(std::abs(y(i, j) - x(i, j)), 0.0005 / 0.999 * std::abs(x(i, j)));
                }
            }
    }
    EXPECT_EQ(small, 1); // A(1, 2) = 3e-10 (from 0) was left out
    EXPECT_EQ(rebuilt.a(2, 0), 1e-9);
}

// One output coefficient 5 % larger (the output of point 1008, line 441):
// that output's responses grow by 5 % at every frequency, the modes stay.
TEST(DeckModel, FivePercentOutputChange) {
    const ModelComparison cmp =
        truck_changed(441, "            1031       0 5.250-1  0.0000  0.0000");
    EXPECT_NEAR(cmp.response_change, 0.05, 1e-12);
    EXPECT_EQ(cmp.worst_output, 3);
    EXPECT_EQ(cmp.frequency_change, 0.0);
    EXPECT_EQ(cmp.damping_change, 0.0);
    EXPECT_FALSE(cmp.stability_changed);
}

// The diagonal term of state 1 (line 421) 5 % larger: the real mode at 2.5
// 1/s moves to 2.625 1/s (the other terms of A leave the eigenvalues on the
// diagonal); of the other sign, the model is unstable.
TEST(DeckModel, FivePercentStateChange) {
    ModelComparison cmp =
        truck_changed(421, "TF             1    1031       0-2.625+0 -1.0000  0.0000");
    EXPECT_NEAR(cmp.frequency_change, 0.05, 1e-12);
    ASSERT_NE(cmp.frequency_mode, no_mode);
    EXPECT_NEAR(cmp.first_modes[cmp.frequency_mode].eigenvalue.real(), -2.5, 1e-12);
    EXPECT_EQ(cmp.damping_change, 0.0);
    EXPECT_FALSE(cmp.stability_changed);
    cmp = truck_changed(421, "TF             1    1031       0 2.500+0 -1.0000  0.0000");
    EXPECT_TRUE(cmp.stability_changed);
}

TEST(DeckModel, SmallDeckAndLayoutsItCannotFill) {
    Deck deck;
    std::string error;
    ASSERT_TRUE(read_deck_text(small_deck, "deck.bdf", deck, error)) << error;
    EXPECT_EQ(deck.header.length_unit, "MILLIMETER");
    EXPECT_FALSE(deck.header.has_threshold);
    StateSpace m;
    ASSERT_TRUE(rebuild_model(deck, small_layout(), m, error)) << error;
    EXPECT_EQ(m.a, Eigen::MatrixXd::Constant(1, 1, -2.0));
    EXPECT_EQ(m.b, Eigen::MatrixXd::Constant(1, 1, 1.0));
    EXPECT_EQ(m.c, Eigen::MatrixXd::Constant(1, 1, 3.0));
    EXPECT_EQ(m.d, Eigen::MatrixXd::Zero(1, 1));
    ModelLayout many = small_layout();
    many.states = 1000000;
    EXPECT_FALSE(rebuild_model(deck, many, m, error));
    EXPECT_NE(error.find("too few"), std::string::npos) << error;
    ModelLayout negative = small_layout();
    negative.outputs = -1;
    EXPECT_FALSE(rebuild_model(deck, negative, m, error));
}
