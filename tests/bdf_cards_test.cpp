// The card writers on records built by hand: the stated example lines, the
// identifier sequences and the cases where a card is left out.
#include "bdf_export/bdf.h"
#include "bdf_export/cards.h"
#include "support/bdf_check.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using sorvan::test::check_bdf_text;

// A MAP record with its arrays on the C heap, sized from the counts.
struct Model {
    MAPmodel *m;
    Model(int n_input, int n_external, int n_output, int n_node, int n_element, int n_wheel) {
        m = static_cast<MAPmodel *>(std::calloc(1, sizeof(MAPmodel)));
        m->n_input = n_input;
        m->n_external = n_external;
        m->n_output = n_output;
        m->n_node = n_node;
        m->n_element = n_element;
        m->n_wheel = n_wheel;
        m->n_output_all = n_output + 3 * n_node + 6 * n_wheel;
        m->input = alloc<MAPsignal>(n_input);
        m->output = alloc<MAPsignal>(m->n_output_all);
        m->ext_name = alloc<char[MAP_NAME_SIZE]>(n_external);
        m->node_out = alloc<int32_t[3]>(n_node);
        m->node_id = alloc<int32_t>(n_node);
        m->node_xyz = alloc<double[3]>(n_node);
        m->element = alloc<MAPelement>(n_element);
        m->wheel_out = alloc<int32_t[6]>(n_wheel);
        m->wheel_geom = alloc<double[8]>(n_wheel);
        m->unit_length = m->unit_force = m->unit_time = m->unit_angle = m->unit_mass = 1.0;
    }
    ~Model() {
        for (void *p : {(void *)m->input, (void *)m->output, (void *)m->ext_name,
                        (void *)m->node_out, (void *)m->node_id, (void *)m->node_xyz,
                        (void *)m->element, (void *)m->wheel_out, (void *)m->wheel_geom})
            std::free(p);
        std::free(m);
    }
    template <class T> static T *alloc(int n) {
        return n > 0 ? static_cast<T *>(std::calloc(static_cast<size_t>(n), sizeof(T))) : nullptr;
    }
};

struct Matrix {
    ABCmtx *m;
    Matrix(int rows, int cols, std::vector<double> values = {}) {
        m = static_cast<ABCmtx *>(std::calloc(1, sizeof(ABCmtx)));
        m->nrows = rows;
        m->ncols = cols;
        m->rows =
            static_cast<double **>(std::calloc(static_cast<size_t>(rows) + 1, sizeof(double *)));
        for (int i = 0; i < rows; ++i) {
            m->rows[i] =
                static_cast<double *>(std::calloc(static_cast<size_t>(cols) + 1, sizeof(double)));
            for (int j = 0; j < cols && size_t(i * cols + j) < values.size(); ++j)
                m->rows[i][j] = values[size_t(i * cols + j)];
        }
    }
    ~Matrix() {
        for (int i = 0; i < m->nrows; ++i)
            std::free(m->rows[i]);
        std::free(m->rows);
        std::free(m);
    }
};

using sorvan::test::written;

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

bool has_line(const std::string &text, const std::string &line) {
    for (const auto &l : lines_of(text))
        if (l == line) return true;
    return false;
}

class BdfCards : public ::testing::Test {
  protected:
    void SetUp() override {
        lu_fac = fu_fac = mu_fac = tu_fac = 1.0;
        grid_id = 1000;
        element_id = 2000;
    }
    sorvan::test::SavedParameters saved;
};

// ---- extra points and state-space cards -----------------------------------

TEST_F(BdfCards, ExtraPointsNumberInputsOutputsAndStates) {
    Model model(4, 1, 10, 0, 0, 0);
    std::snprintf(model.m->ext_name[0], MAP_NAME_SIZE, " steering torque\n");
    Matrix a(4, 4);
    std::string text = written([&](FILE *f) { BDFwrite_epoint(f, model.m, a.m); });
    EXPECT_EQ(text, "$*\n$* KAVEL2PELDA: EPOINT data for TFs\n$*\n"
                    "$* Internal State input \n"
                    "EPOINT      1001    THRU    1003\n"
                    "$*\n$* External State input        1:\n"
                    "$* PELDA ID:    1004\n"
                    "$* KAVEL Variable Name:  steering torque\n"
                    "EPOINT      1004\n$*\n"
                    "$* State output\n"
                    "EPOINT      1005    THRU    1014\n"
                    "$* State variable\n"
                    "EPOINT      1015    THRU    1018\n");
    EXPECT_EQ(input_id_base, 1000);
    EXPECT_EQ(ext_id_base, 1003);
    EXPECT_EQ(output_id_base, 1004);
    EXPECT_EQ(state_id_base, 1014);
    EXPECT_EQ(grid_id, 1018);
}

TEST_F(BdfCards, EmptyRangesAndUnterminatedNamesStayOnTheirOwnLines) {
    Model model(2, 2, 1, 0, 0, 0); // no internal inputs
    std::memcpy(model.m->ext_name[0], "no line end", 12);
    std::memcpy(model.m->ext_name[1], "crlf\r\n", 7);
    Matrix a(0, 0); // no states
    std::string text = written([&](FILE *f) { BDFwrite_epoint(f, model.m, a.m); });
    EXPECT_EQ(text.find("THRU    1000"), std::string::npos);
    EXPECT_NE(text.find("$* Internal State input \n$*\n$* External"), std::string::npos);
    EXPECT_NE(text.find("$* KAVEL Variable Name: no line end\nEPOINT      1001\n"),
              std::string::npos);
    EXPECT_NE(text.find("$* KAVEL Variable Name: crlf\nEPOINT      1002\n"), std::string::npos);
    EXPECT_NE(text.find("$* State output\nEPOINT      1003    THRU    1003\n"
                        "$* State variable\n"),
              std::string::npos);
    EXPECT_TRUE(text.size() > 0 && text.back() == '\n' &&
                text.find("State variable\n") + 15 == text.size());
    EXPECT_EQ(grid_id, 1003);
}

TEST_F(BdfCards, StateCardHasTheDiagonalFirstThenTermsAboveThreshold) {
    state_id_base = 1014;
    input_id_base = 1000;
    Matrix a(2, 2, {-2.5, 0.125, 0.0, 0.0});
    Matrix b(2, 3, {thresh, std::nextafter(thresh, 0.0), -3.0, std::nan(""), 0.0, 0.0});
    std::string text = written([&](FILE *f) { BDFwrite_tf_state(f, a.m, b.m); });
    EXPECT_EQ(text, "$*\n$* KAVEL2PELDA: dot(x) = A * x + B * u\n$*\n"
                    "TF             1    1015       0-2.500+0 -1.0000  0.0000\n"
                    "            1016       0 1.250-1  0.0000  0.0000\n"
                    "            1001       0 1.000-9  0.0000  0.0000\n"
                    "            1003       0-3.000+0  0.0000  0.0000\n"
                    "TF             1    1016       0 0.000+0 -1.0000  0.0000\n");
}

TEST_F(BdfCards, ThresholdZeroWritesEveryTerm) {
    thresh = 0.0;
    tf_id = 7;
    output_id_base = 1004;
    state_id_base = 1014;
    input_id_base = 1000;
    Matrix c(2, 1, {0.0, 0.0});
    Matrix d(2, 1, {0.0, 0.0});
    std::string text = written([&](FILE *f) { BDFwrite_tf_output(f, c.m, d.m); });
    EXPECT_EQ(lines_of(text).size(), 3u + 2 * 3);
    thresh = 1e-9;
    text = written([&](FILE *f) { BDFwrite_tf_output(f, c.m, d.m); });
    EXPECT_EQ(text, "$*\n$* KAVEL2PELDA: y = C * x + D * u\n$*\n"
                    "TF             7    1005       0 -1.0000  0.0000  0.0000\n"
                    "TF             7    1006       0 -1.0000  0.0000  0.0000\n");
}

// ---- geometry -----------------------------------------------------------

TEST_F(BdfCards, NodesAndElementsDrawnInExportUnits) {
    grid_id = 1017; // one identifier is skipped: the first node becomes 1019
    Model model(1, 0, 0, 2, 1, 0);
    model.m->unit_length = 0.001;
    const double xyz[2][3] = {{1000.0, -2000.0, 500.0}, {0.0, 0.0, 0.0}};
    std::memcpy(model.m->node_xyz, xyz, sizeof xyz);
    for (int n = 0; n < 2; ++n)
        for (int j = 0; j < 3; ++j)
            model.m->node_out[n][j] = 3 * n + j;
    model.m->element[0] = {99, 1, 2};
    std::string text = written([&](FILE *f) {
        BDFwrite_grid(f, model.m);
        BDFwrite_plotel(f, model.m);
    });
    EXPECT_TRUE(has_line(text, "GRID*               1019               0    1.000000E+00   "
                               "-2.000000E+00"));
    EXPECT_TRUE(has_line(text, "*           5.000000E-01               0"));
    EXPECT_TRUE(has_line(text, "PLOTEL      2001    1019    1020"));
    EXPECT_EQ(model.m->node_id[0], 1019);
    EXPECT_EQ(model.m->node_id[1], 1020);
    EXPECT_EQ(model.m->output[2].id, 1019);
    EXPECT_EQ(model.m->output[5].id, 1020);
}

TEST_F(BdfCards, WheelWithThreeDivisions) {
    whl_dv = 3;
    grid_id = 1019;    // the centre becomes 1020
    element_id = 1990; // system 1991, rim 1992 to 2000, the rigid element 2001
    Model model(1, 0, 0, 0, 0, 1);
    model.m->unit_length = 0.001;
    const double geom[8] = {1000.0, 2000.0, 3000.0, 0.0, 0.0, 0.0, 300.0, 200.0};
    std::memcpy(model.m->wheel_geom[0], geom, sizeof geom);
    for (int j = 0; j < 6; ++j)
        model.m->wheel_out[0][j] = j;
    std::string text = written([&](FILE *f) { BDFwrite_wheel(f, model.m); });
    EXPECT_TRUE(has_line(text, "RBE2        2001    1020  123456    1021    1022    1023    1024"
                               "    1025"));
    EXPECT_TRUE(has_line(text, "            1026"));
    // Angles 0: B one metre up the z axis, C one metre along x.
    EXPECT_TRUE(has_line(text, "CORD2R*             1991               0    1.000000E+00    "
                               "2.000000E+00"));
    EXPECT_TRUE(has_line(text, "*           3.000000E+00    1.000000E+00    2.000000E+00    "
                               "4.000000E+00"));
    EXPECT_TRUE(has_line(text, "*           2.000000E+00    2.000000E+00    3.000000E+00"));
    EXPECT_TRUE(has_line(text, "GRID*               1020            1991    0.000000E+00    "
                               "0.000000E+00"));
    EXPECT_TRUE(has_line(text, "GRID*               1021            1991    3.000000E-01    "
                               "0.000000E+00"));
    EXPECT_TRUE(has_line(text, "*          -1.000000E-01               0"));
    EXPECT_TRUE(has_line(text, "PLOTEL      1998    1025    1026"));
    EXPECT_TRUE(has_line(text, "PLOTEL      1999    1025    1021")); // the rim closes
    EXPECT_TRUE(has_line(text, "PLOTEL      2000    1026    1022"));
    EXPECT_EQ(grid_id, 1026);
    EXPECT_EQ(element_id, 2001);
    for (int j = 0; j < 6; ++j)
        EXPECT_EQ(model.m->output[j].id, 1020);
    EXPECT_TRUE(text.size() > 0 && text.back() == '\n');
}

TEST_F(BdfCards, WheelWithDefaultDivisions) {
    Model model(1, 0, 0, 0, 0, 1);
    model.m->wheel_geom[0][6] = 0.3;
    model.m->wheel_geom[0][7] = 0.2;
    std::string text = written([&](FILE *f) { BDFwrite_wheel(f, model.m); });
    const int32_t wc = 1001;
    std::vector<std::string> lines = lines_of(text);
    size_t rbe2 = 0;
    while (rbe2 < lines.size() && lines[rbe2].rfind("RBE2", 0) != 0)
        ++rbe2;
    ASSERT_EQ(lines.size(), rbe2 + 7); // 5, five lines of 8, then 3
    for (size_t k = 0; k < 7; ++k) {
        size_t points = k == 0 ? 5 : k == 6 ? 3 : 8;
        EXPECT_EQ(lines[rbe2 + k].size(), (k == 0 ? 32 : 8) + 8 * points) << lines[rbe2 + k];
    }
    EXPECT_EQ(lines[rbe2 + 6], "            1047    1048    1049");
    char closing[2][40];
    std::snprintf(closing[0], 40, "PLOTEL%10d%8d%8d", 2000 + 1 + 71, wc + 47, wc + 1);
    std::snprintf(closing[1], 40, "PLOTEL%10d%8d%8d", 2000 + 1 + 72, wc + 48, wc + 2);
    EXPECT_TRUE(has_line(text, closing[0]));
    EXPECT_TRUE(has_line(text, closing[1]));
    EXPECT_EQ(grid_id, 1000 + 2 * 24 + 1);
    EXPECT_EQ(element_id, 2000 + 3 * 24 + 2);
}

// ---- coupling -----------------------------------------------------------

// Two internal inputs at one point each: a translation with both outputs and
// a rotation whose displacement output is named twice (the later row counts).
struct Coupled : Model {
    Coupled() : Model(3, 1, 5, 0, 0, 0) {
        m->input[0] = {101, 3, 0};
        m->input[1] = {102, 5, 0};
        m->output[0] = {101, 3, 1};
        m->output[1] = {101, 3, 2};
        m->output[2] = {102, 5, 1};
        m->output[3] = {102, 5, 2};
        m->output[4] = {102, 5, 1};
    }
};

TEST_F(BdfCards, CouplingInSiUnitsGivesTheStatedCoefficients) {
    Coupled model;
    input_id_base = 1000;
    output_id_base = 1003;
    std::string text = written([&](FILE *f) { BDFwrite_tf_connect(f, model.m); });
    EXPECT_EQ(text, "$*\n$* KAVEL2PELDA: f(kavel) = Kv * (Dpelda - Dkavel)"
                    " + Cv * (Vpelda - Vkavel)\n$*\n"
                    "TF             1    1001       0 1.000+0  0.0000  0.0000\n"
                    "             101       3-1.000+9-1.000+6  0.0000\n"
                    "            1004       0 1.000+9  0.0000  0.0000\n"
                    "            1005       0 1.000+6  0.0000  0.0000\n"
                    "TF             1    1002       0 1.000+0  0.0000  0.0000\n"
                    "             102       5-1.000+6-1.000+4  0.0000\n"
                    "            1008       0 1.000+6  0.0000  0.0000\n"
                    "            1007       0 1.000+4  0.0000  0.0000\n");
}

TEST_F(BdfCards, UnmatchedInputsAndMissingOutputs) {
    Coupled model;
    model.m->output[0].kind = 3; // input 1 keeps its velocity output only
    model.m->input[1].dof = 6;   // input 2 matches nothing
    input_id_base = 1000;
    output_id_base = 1003;
    testing::internal::CaptureStdout();
    std::string text = written([&](FILE *f) { BDFwrite_tf_connect(f, model.m); });
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("WRT: input and output are unmatched.", 0), 0u) << out;
    EXPECT_EQ(out.back(), '\n');
    std::vector<std::string> lines = lines_of(text);
    ASSERT_EQ(lines.size(), 3u + 3);
    EXPECT_EQ(lines[5], "            1005       0 1.000+6  0.0000  0.0000");
}

TEST_F(BdfCards, ExternalInputsAndForces) {
    Coupled model;
    input_id_base = 1000;
    ext_id_base = 1002;
    std::string text = written([&](FILE *f) {
        BDFwrite_tf_ext_input(f, model.m);
        BDFwrite_tf_force(f, model.m);
    });
    EXPECT_EQ(text, "$*\n$* KAVEL2PELDA: External Input Stiffness Matrix\n$*\n"
                    "TF             1    1003       0  1.0000  0.0000  0.0000\n"
                    "$*\n$* KAVEL2PELDA: f(pelda) = - f(kavel)\n$*\n"
                    "TF             1     101       3  0.0000  0.0000  0.0000\n"
                    "            1001       0 1.000+0  0.0000  0.0000\n"
                    "TF             1     102       5  0.0000  0.0000  0.0000\n"
                    "            1002       0 1.000+0  0.0000  0.0000\n");
}

TEST_F(BdfCards, GraphicMatrix) {
    Model model(1, 0, 4, 0, 0, 1); // output rows 5 to 10 belong to the wheel
    output_id_base = 1000;
    for (int j = 0; j < 6; ++j)
        model.m->output[4 + j] = {1019, j + 1, 3};
    model.m->unit_length = 0.001;
    lu_fac = 0.001;
    std::string text = written([&](FILE *f) { BDFwrite_dmig(f, model.m); });
    std::vector<std::string> lines = lines_of(text);
    ASSERT_EQ(lines.size(), 3u + 1 + 6);
    EXPECT_EQ(lines[3], "DMIG    K2P            0       1       1");
    EXPECT_EQ(lines[4], "DMIG    K2P         1005       0            1019       1-1.000+0");
    EXPECT_EQ(lines[9], "DMIG    K2P         1010       0            1019       6-1.000+0");
    lu_fac = 1.0; // metres in the file, millimetres in the map
    EXPECT_TRUE(has_line(written([&](FILE *f) { BDFwrite_dmig(f, model.m); }),
                         "DMIG    K2P         1005       0            1019       1-1.000-3"));
    Model plain(1, 0, 4, 0, 0, 0);
    EXPECT_EQ(written([&](FILE *f) { BDFwrite_dmig(f, plain.m); }),
              "$*\n$* KAVEL2PELDA: x(pelda_graph) = x(kavel)\n$*\n");
}

// ---- the checker itself ---------------------------------------------------

TEST(BdfChecker, FindsWhatOtherReadersStumbleOver) {
    const std::string good = "EPOINT      1001    THRU    1002\n"
                             "GRID*               1019               0    1.000000E+00    "
                             "2.000000E+00\n"
                             "*           3.000000E+00               0\n"
                             "GRID*               1020               0    1.000000E+00    "
                             "2.000000E+00\n"
                             "*           3.000000E+00               0\n"
                             "TF             1    1001       0 1.000+0 -1.0000  0.0000\n"
                             "            1002       0-2.500-1  0.0000  0.0000\n";
    EXPECT_TRUE(check_bdf_text(good).ok()) << check_bdf_text(good).report();
    const struct {
        const char *text;
        const char *fault;
    } bad[] = {
        {"PLOTEL      2001    1019    1021\n", "GRID 1021 is not defined"},
        {"TF             1    1003       0 1.000+0 -1.0000  0.0000\n", "is no EPOINT"},
        {"TF             1   101001234       0 1.000+0 -1.0000  0.0000\n", "not one token"},
        {"$* a comment ends the card\n            1001       0 1.000+0  0.0000  0.0000\n",
         "without a card"},
        {"TF             1    1001       0 1.000+0 -1.0000  0.0000  0.0000  0.0000  0.0000"
         "  0.0000\n",
         "beyond column 72"},
        {"TF             1    1001       0       1 -1.0000  0.0000\n", "is not a real"},
        {"EPOINT      1001\n", "defined twice"},
        {"DMIG    K2P         1005       0            1019       1-1.000+0\n", "before the header"},
        {"TF             1    1001       0 1.000+0 -1.0000  0.0000", "no line end"},
    };
    for (const auto &b : bad) {
        auto result = check_bdf_text(good + b.text);
        EXPECT_NE(result.report().find(b.fault), std::string::npos) << b.fault << "\n"
                                                                    << result.report();
    }
}

} // namespace
