// The converter's bulk data read back: the golden decks whole, their models
// rebuilt against the ABC sets they came from, deliberate changes seen by
// the comparison, and damaged decks refused at their line.
#include "abc_text.h"
#include "analysis/deck.h"
#include "analysis/deck_model.h"
#include "analysis/model_compare.h"

#include "support/files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>

using namespace sorvan::analysis;

namespace {

const std::string golden = std::string(SORVAN_TEST_DATA) + "/golden/";

using sorvan::test::read_abc;

StateSpace read_abc_set(const std::string &base) {
    return {read_abc(base + "a"), read_abc(base + "b"), read_abc(base + "c"), read_abc(base + "d")};
}

// The truck deck's model: offset 1000, 3 internal and 1 external input,
// 5 state-space outputs, 3 nodes, 2 wheels, 3 states.
ModelLayout truck_layout() {
    return layout_from_map(1000, 4, 1, 5, 3, 2, 3);
}

// The example vehicle: offset 1000000, 6 inputs of which 2 external, 8
// state-space outputs, 31 nodes, 4 wheels, 26 states.
ModelLayout vehicle_layout() {
    return layout_from_map(1000000, 6, 2, 8, 31, 4, 26);
}

std::string replace_line(const std::string &text, int number, const std::string &line) {
    std::istringstream in(text);
    std::string out;
    int k = 0;
    for (std::string l; std::getline(in, l);)
        out += (++k == number ? line : l) + "\n";
    return out;
}

// The line number of the first line that starts with prefix, 0 if none.
int find_line(const std::string &text, const std::string &prefix) {
    std::istringstream in(text);
    int k = 0;
    for (std::string l; std::getline(in, l);) {
        ++k;
        if (l.rfind(prefix, 0) == 0) return k;
    }
    return 0;
}

// Cards printed with the converter's own formats.
std::string tf_head(int point, const char *b0, const char *b1, const char *b2) {
    char line[128];
    std::snprintf(line, sizeof line, "TF%14d%8d%8d%8s%8s%8s\n", 1, point, 0, b0, b1, b2);
    return line;
}

std::string tf_term(int point, int component, const char *a0) {
    char line[128];
    std::snprintf(line, sizeof line, "        %8d%8d%8s%8.4f%8.4f\n", point, component, a0, 0.0,
                  0.0);
    return line;
}

// One large-field line: the name in 8 characters, each field in 16.
std::string large_line(const char *name, std::initializer_list<const char *> fields) {
    char text[32];
    std::snprintf(text, sizeof text, "%-8s", name);
    std::string line = text;
    for (const char *f : fields) {
        std::snprintf(text, sizeof text, "%16s", f);
        line += text;
    }
    return line + "\n";
}

std::string epoint(int point) {
    char line[64];
    std::snprintf(line, sizeof line, "EPOINT  %8d\n", point);
    return line;
}

// A small deck of 14 lines: input 1001, output 1002, state 1003 and a
// graphic point; dx/dt = -2 x + u (line 11), y = 3 x (line 13).
std::string small_deck() {
    return "$*\n$*  length unit: MILLIMETER\n$*  force unit:  NEWTON\n$*  mass unit:   MEGAGRAM\n"
           "$*  time unit:   SECOND\n" +
           epoint(1001) + epoint(1002) + epoint(1003) +
           "GRID*               1005               0    0.000000E+00    0.000000E+00\n"
           "*           1.000000E+00               0\n" +
           tf_head(1003, "-2.000+0", " -1.0000", "  0.0000") + tf_term(1001, 0, " 1.000+0") +
           tf_head(1002, " -1.0000", "  0.0000", "  0.0000") + tf_term(1003, 0, " 3.000+0");
}

ModelLayout small_layout() {
    ModelLayout l;
    l.grid_id_offset = 1000;
    l.internal_inputs = 1;
    l.outputs = 1;
    l.states = 1;
    return l;
}

// Refuses text and checks that the message names the line and says why.
void expect_refused(const std::string &text, int line, const std::string &why) {
    Deck deck;
    std::string error;
    EXPECT_FALSE(read_deck_text(text, "deck.bdf", deck, error)) << text;
    EXPECT_NE(error.find("deck.bdf, line " + std::to_string(line) + ":"), std::string::npos)
        << error;
    EXPECT_NE(error.find(why), std::string::npos) << error;
    EXPECT_TRUE(deck.tfs.empty() && deck.epoints.empty() && deck.grids.empty());
}

} // namespace

TEST(DeckRead, RealFieldsAsPrinted) {
    struct Case {
        const char *field;
        double value;
    };
    const Case cases[] = {
        {" 1.000+9", 1e9},
        {"-2.50-3", -2.5e-3},
        {".5000", 0.5},
        {" -1.0000", -1.0},
        {"  0.0000", 0.0},
        {" 1.00+10", 1e10},
        {" 2.50-12", 2.5e-12},
        {"2.248-1", 0.2248},
        {"-3.937-2", -0.03937},
        {"1.968504E+01", 19.68504},
        {"  -7.232166E-16", -7.232166e-16},
        {" 9.99+30", 9.99e30},
        {" 0.000+0", 0.0},
        {"1.0E+003", 1000.0},
        {"7.", 7.0},
    };
    for (const Case &c : cases) {
        double v = -123.0;
        EXPECT_TRUE(parse_real_field(c.field, v)) << c.field;
        EXPECT_EQ(v, c.value) << c.field;
    }
    for (const char *bad : {"", "        ", "1", "-12", "1.0O0+0", "1.0+", "1.0E", "--1.0", "1.0.0",
                            "1.0 +3", "nan", "inf", "1.0+9x", "+", ".", "1.0+999", "********"}) {
        double v = 0.0;
        EXPECT_FALSE(parse_real_field(bad, v)) << '"' << bad << '"';
    }
}

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

    // Inputs 1001-1003, the external input 1004, outputs 1005-1030, states
    // 1031-1033; 3 nodes and per wheel a centre and 48 rim points; 2
    // elements and per wheel 72 rim elements and one RBE2 of 48 points.
    ASSERT_EQ(deck.epoints.size(), 4u);
    EXPECT_EQ(deck.epoints[0].first, 1001);
    EXPECT_EQ(deck.epoints[0].last, 1003);
    EXPECT_EQ(deck.epoints[1].first, 1004);
    EXPECT_EQ(deck.epoints[1].last, 1004);
    EXPECT_EQ(deck.epoints[3].last, 1033);
    EXPECT_EQ(deck.grids.size(), 3u + 2u * 49u);
    EXPECT_EQ(deck.plotels.size(), 2u + 2u * 72u);
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
    EXPECT_EQ(deck.cord2rs[1].line,
              find_line(sorvan::test::read_text(golden + "truck.bdf"), "CORD2R*             2077"));
    EXPECT_EQ(deck.grids[0].id, 1035);
    EXPECT_EQ(deck.grids[0].x[2], 19.68504);
    EXPECT_EQ(deck.grids[3].cp, 2003);
    // 3 state, 26 output, 3 coupling and 3 force cards.
    ASSERT_EQ(deck.tfs.size(), 35u);
    const TfCard &first = deck.tfs[0];
    EXPECT_EQ(first.point, 1031);
    EXPECT_EQ(first.b0, -2.5);
    EXPECT_EQ(first.b1, -1.0);
    ASSERT_EQ(first.terms.size(), 2u);
    EXPECT_EQ(first.terms[0].point, 1032);
    EXPECT_EQ(first.terms[0].a0, 0.125);
    EXPECT_EQ(deck.tfs[32].point, 101);
    EXPECT_EQ(deck.tfs[32].component, 3);
    EXPECT_EQ(deck.tfs[32].terms[0].a0, 0.2248);
    ASSERT_EQ(deck.dmig_headers.size(), 1u);
    EXPECT_EQ(deck.dmig_headers[0].name, "K2P");
    ASSERT_EQ(deck.dmig_entries.size(), 21u);
    EXPECT_EQ(deck.dmig_entries[0].column_point, 1010);
    EXPECT_EQ(deck.dmig_entries[0].row_point, 1035);
    EXPECT_EQ(deck.dmig_entries[0].value, -0.03937);

    // CR LF line ends read the same.
    std::string text = sorvan::test::read_text(golden + "truck.bdf"), crlf;
    for (char c : text)
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

// The example vehicle through its golden deck: the diagonal and the
// frequency terms of each block are rounded to 4 digits, so frequencies
// move by at most 0.0005 / 0.999 of themselves and damping ratios by about
// twice that; none changes stability.
TEST(DeckModel, VehicleBehavesLikeItsAbcSet) {
    Deck deck;
    std::string error;
    ASSERT_TRUE(read_deck(golden + "vehicle.bdf", deck, error)) << error;
    EXPECT_EQ(deck.header.length_unit, "MILLIMETER");
    EXPECT_EQ(deck.header.mass_unit, "MEGAGRAM");
    StateSpace rebuilt;
    ASSERT_TRUE(rebuild_model(deck, vehicle_layout(), rebuilt, error)) << error;
    EXPECT_TRUE(modal_form(rebuilt.a));
    const StateSpace abc = read_abc_set(std::string(SORVAN_EXAMPLES) + "/vehicle/vehicle_");
    ModelComparison cmp;
    ASSERT_TRUE(compare_models(abc, rebuilt, cmp, error)) << error;
    ASSERT_EQ(cmp.first_modes.size(), 13u);
    for (size_t k = 0; k < cmp.match.size(); ++k)
        EXPECT_EQ(cmp.match[k], k);
    EXPECT_LE(cmp.frequency_change, 0.0005 / 0.999);
    EXPECT_LE(cmp.damping_change, 2 * 0.0005 / 0.999);
    EXPECT_FALSE(cmp.stability_changed);
    EXPECT_EQ(cmp.peak.rows(), 125);
    EXPECT_EQ(cmp.peak.cols(), 6);
    EXPECT_GE(cmp.grid.front(), 0.01);
    EXPECT_LE(cmp.grid.front(), 1.133 / 10);
    EXPECT_GE(cmp.grid.back(), 463.86);
}

// One output coefficient 5 % larger: that output's responses grow by 5 %
// at every frequency, the modes stay.
TEST(DeckModel, FivePercentOutputChange) {
    const std::string text = sorvan::test::read_text(golden + "truck.bdf");
    const int card = find_line(text, "TF             1    1008");
    ASSERT_GT(card, 0);
    ASSERT_EQ(find_line(text, "            1031       0 5.000-1  0.0000  0.0000"), card + 1);
    const std::string changed =
        replace_line(text, card + 1, "            1031       0 5.250-1  0.0000  0.0000");
    Deck before, after;
    std::string error;
    ASSERT_TRUE(read_deck_text(text, "truck.bdf", before, error)) << error;
    ASSERT_TRUE(read_deck_text(changed, "truck.bdf", after, error)) << error;
    StateSpace x, y;
    ASSERT_TRUE(rebuild_model(before, truck_layout(), x, error)) << error;
    ASSERT_TRUE(rebuild_model(after, truck_layout(), y, error)) << error;
    ModelComparison cmp;
    ASSERT_TRUE(compare_models(x, y, cmp, error)) << error;
    EXPECT_NEAR(cmp.response_change, 0.05, 1e-12);
    EXPECT_EQ(cmp.worst_output, 3); // the output of point 1008
    EXPECT_EQ(cmp.frequency_change, 0.0);
    EXPECT_EQ(cmp.damping_change, 0.0);
    EXPECT_FALSE(cmp.stability_changed);
}

// The diagonal term of state 1 5 % larger: the real mode at 2.5 1/s moves
// to 2.625 1/s (the other terms of A leave the eigenvalues on the diagonal).
TEST(DeckModel, FivePercentStateChange) {
    const std::string text = sorvan::test::read_text(golden + "truck.bdf");
    const int card = find_line(text, "TF             1    1031");
    ASSERT_GT(card, 0);
    const std::string changed =
        replace_line(text, card, "TF             1    1031       0-2.625+0 -1.0000  0.0000");
    Deck before, after;
    std::string error;
    ASSERT_TRUE(read_deck_text(text, "truck.bdf", before, error)) << error;
    ASSERT_TRUE(read_deck_text(changed, "truck.bdf", after, error)) << error;
    StateSpace x, y;
    ASSERT_TRUE(rebuild_model(before, truck_layout(), x, error)) << error;
    ASSERT_TRUE(rebuild_model(after, truck_layout(), y, error)) << error;
    ModelComparison cmp;
    ASSERT_TRUE(compare_models(x, y, cmp, error)) << error;
    EXPECT_NEAR(cmp.frequency_change, 0.05, 1e-12);
    ASSERT_NE(cmp.frequency_mode, no_mode);
    EXPECT_NEAR(cmp.first_modes[cmp.frequency_mode].eigenvalue.real(), -2.5, 1e-12);
    EXPECT_EQ(cmp.damping_change, 0.0);
    EXPECT_FALSE(cmp.stability_changed);

    // Turned unstable.
    const std::string unstable =
        replace_line(text, card, "TF             1    1031       0 2.500+0 -1.0000  0.0000");
    ASSERT_TRUE(read_deck_text(unstable, "truck.bdf", after, error)) << error;
    ASSERT_TRUE(rebuild_model(after, truck_layout(), y, error)) << error;
    ASSERT_TRUE(compare_models(x, y, cmp, error)) << error;
    EXPECT_TRUE(cmp.stability_changed);
}

TEST(DeckModel, SmallDeck) {
    Deck deck;
    std::string error;
    ASSERT_TRUE(read_deck_text(small_deck(), "deck.bdf", deck, error)) << error;
    EXPECT_EQ(deck.header.length_unit, "MILLIMETER");
    EXPECT_FALSE(deck.header.has_threshold);
    StateSpace m;
    ASSERT_TRUE(rebuild_model(deck, small_layout(), m, error)) << error;
    EXPECT_EQ(m.a, Eigen::MatrixXd::Constant(1, 1, -2.0));
    EXPECT_EQ(m.b, Eigen::MatrixXd::Constant(1, 1, 1.0));
    EXPECT_EQ(m.c, Eigen::MatrixXd::Constant(1, 1, 3.0));
    EXPECT_EQ(m.d, Eigen::MatrixXd::Zero(1, 1));
}

TEST(DeckModel, Refusals) {
    struct Case {
        std::string text;
        const char *why;
        int line; // 0: the message names no line
    };
    const std::string base = small_deck();
    const int state_card = 11, output_card = 13;
    const Case cases[] = {
        // An extra point the layout does not hold.
        {replace_line(base, state_card + 1, tf_term(5000, 0, " 1.000+0").substr(0, 48)) +
             epoint(5000),
         "none of the model's", state_card + 1},
        {base + tf_head(1003, "-1.000+0", " -1.0000", "  0.0000"), "second equation for state 1",
         15},
        {replace_line(base, output_card,
                      "TF             1    1001       0 -1.0000  0.0000  0.0000"),
         "no equation for output 1 (point 1002)", 0},
        {base.substr(0, base.size() - tf_term(1003, 0, " 3.000+0").size()) +
             tf_term(1002, 0, " 3.000+0"),
         "names its own point", output_card + 1},
        {base.substr(0, base.size() - tf_term(1003, 0, " 3.000+0").size()) +
             tf_term(1003, 0, " 3.000+0") + tf_term(1003, 0, " 1.000+0"),
         "twice", output_card + 2},
        {replace_line(base, output_card,
                      "TF             1    1002       0 -1.0000  1.0000  0.0000"),
         "derivative of its output", output_card},
        {replace_line(base, state_card, "TF             1    1003       0-2.000+0  0.0000  0.0000"),
         "no derivative of its state", state_card},
        {base + tf_head(1002, " -1.0000", "  0.0000", "  0.0000"), "second equation for output",
         15},
        {replace_line(base, state_card + 1, tf_term(1002, 0, " 1.000+0").substr(0, 48)),
         "names the output point 1002", state_card + 1},
    };
    for (const Case &c : cases) {
        Deck deck;
        std::string error;
        ASSERT_TRUE(read_deck_text(c.text, "deck.bdf", deck, error)) << error << "\n" << c.text;
        StateSpace m;
        EXPECT_FALSE(rebuild_model(deck, small_layout(), m, error)) << c.text;
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
        if (c.line) {
            EXPECT_NE(error.find("deck.bdf, line " + std::to_string(c.line) + ":"),
                      std::string::npos)
                << error;
        }
    }
    Deck deck;
    std::string error;
    ASSERT_TRUE(read_deck_text(base, "deck.bdf", deck, error));
    StateSpace m;
    ModelLayout many = small_layout();
    many.states = 1000000;
    EXPECT_FALSE(rebuild_model(deck, many, m, error));
    EXPECT_NE(error.find("too few"), std::string::npos) << error;
    ModelLayout negative = small_layout();
    negative.outputs = -1;
    EXPECT_FALSE(rebuild_model(deck, negative, m, error));
}

TEST(DeckRead, Refusals) {
    const std::string base = small_deck(); // 14 lines
    const std::string grid_first =
        "GRID*               1006               0    0.000000E+00    0.000000E+00\n";
    // A large-field state card up to the first half of its one term.
    const std::string tf_large = large_line("TF*", {"1", "1003", "0", "-2.00000000000+0"}) +
                                 large_line("*", {"-1.00000000000+0", "0.0"}) +
                                 large_line("*", {"1001", "0", "1.000000000000+0", "0.0"});
    struct Case {
        std::string text;
        int line;
        const char *why;
    };
    const Case cases[] = {
        {base + "GRID        1006       0     0.0     0.0     0.0\n", 15, "not a card"},
        {base + "CBAR         101       1    1005    1005\n", 15, "not a card"},
        {base + tf_head(1003, "-2.000+0", " -1.0000", "  0.0000") +
             "            1001       0 1.000+0\n",
         16, "field 5 (A1) is missing"},
        {base + grid_first + epoint(1007), 15, "GRID* card is cut short before line 16"},
        {base + grid_first, 15, "cut short at the end of the file"},
        {base + tf_large + epoint(1007), 15,
         "TF* card is cut short before line 18: the second line of its last term (A2) is missing"},
        {base + large_line("TF*", {"1", "1003", "0", "-2.0"}), 15,
         "TF* card is cut short at the end of the file: the continuation line of B1 and B2"},
        {base + tf_large + large_line("*", {"1002", "0", "1.0", "0.0"}), 18,
         "field 2 (A2) is not a real number: \"1002\""},
        {base + large_line("DMIG*", {"K2P", "0", "1", "2"}) +
             large_line("DMIG*", {"K2P", "1002", "0"}),
         16, "DMIG* card is cut short at the end of the file: its continuation line is missing"},
        {base + "CORD2R*             2001               0    0.000000E+00    0.000000E+00\n"
                "*           0.000000E+00    0.000000E+00    0.000000E+00    1.000000E+00\n"
                "*           1.000000E+00    0.000000E+00    0.000000E+00\n",
         15, "1 of its 3 continuation lines is missing"},
        {replace_line(base, 11, "TF             1    1003       0-2.0O0+0 -1.0000  0.0000"), 11,
         "field 5 (B0) is not a real number: \"-2.0O0+0\""},
        {replace_line(base, 12, "            10O1       0 1.000+0  0.0000  0.0000"), 12,
         "field 2 (GI) is not an integer"},
        {replace_line(base, 11, "TF             1    1003       0-2.000+0 -1.0000       0"), 11,
         "(B2) is not a real number"},
        {"            1001       0 1.000+0  0.0000  0.0000\n" + base, 1, "without a card"},
        {base + epoint(1007) + "            1001       0 1.000+0  0.0000  0.0000\n", 16,
         "without a card"},
        {base + "*           1.000000E+00               0\n", 15, "without a card"},
        {base + "EPOINT      1007    THRU    1005\n", 15, "runs backwards"},
        {base + "EPOINT      1007    1008\n", 15, "field 3 holds \"1008\""},
        {base + " TF            1    1003       0-2.000+0 -1.0000  0.0000\n", 15,
         "does not start in column 1"},
        {base + "PLOTEL      2001    1005    1005       7\n", 15, "field 5 holds"},
        {base + "PLOTEL      2001    1005    1099\n", 15, "1099 is no GRID"},
        {base + "EPOINT      1002    THRU    1004\n", 15,
         "point 1002 is declared twice (also at line 7)"},
        {base + grid_first + "*           1.000000E+00               0\n" + grid_first +
             "*           1.000000E+00               0\n",
         17, "point 1006 is declared twice (also at line 15)"},
        {base + "DMIG    K2P         1002       0            1005       1-1.000+0\n", 15,
         "before its header"},
        {base + tf_head(1003, "-2.000+0", " -1.0000", "  0.0000") + tf_term(1004, 0, " 1.000+0"),
         16, "1004 with component 0 is no extra point"},
        {base + "TF             1    1003       0-2.000+0 -1.0000  0.0000" + std::string(16, ' ') +
             "1.0\n",
         15, "text beyond column 72"},
        {base + "RBE2        2001    1005  123456    1005\n"
                "            1005\n",
         16, "not full"},
        {base + "RBE2        2001    1005  123455    1005\n", 15, "components 123455"},
        {"$*  Threshold for matrix terms: 1.0E-9x\n" + base, 1, "threshold"},
    };
    for (const Case &c : cases)
        expect_refused(c.text, c.line, c.why);

    Deck deck;
    std::string error;
    EXPECT_FALSE(read_deck_text("$* only comments\n\n", "deck.bdf", deck, error));
    EXPECT_NE(error.find("holds no card"), std::string::npos) << error;
    EXPECT_FALSE(read_deck(golden + "no such deck.bdf", deck, error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}
