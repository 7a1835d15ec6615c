// STATEMAT_WRITE through the stand-in host: which states the frequency limit
// and the real-state switch keep (tests/data/cases/statemat_selection.txt),
// the reduced set read back with the ABC reader bit for bit. The bundled
// example reduced and converted again is a case of the command line's
// reduce; what it refuses is in the catalogue of bad input; its write
// failures are injected by fault_injection_test.
#include "support/cases.h"
#include "support/host_fixture.h"

#include "sorvan_view.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A matrix row by row.
struct Mat {
    int32_t rows = 0, cols = 0;
    std::vector<double> v;
    double at(int32_t i, int32_t j) const { return v[size_t(i) * size_t(cols) + size_t(j)]; }
};

// rows x cols distinct values unless given.
Mat mat(int32_t rows, int32_t cols, std::vector<double> v = {}) {
    if (v.empty())
        for (int32_t k = 0; k < rows * cols; ++k)
            v.push_back(0.25 * (k + 1) - 3.0);
    return Mat{rows, cols, v};
}

struct Model {
    Mat a, b, c, d;
};

// The rows and columns of m that the masks keep (an empty mask keeps all).
Mat select(const Mat &m, const std::vector<int> &rows, const std::vector<int> &cols) {
    Mat out;
    for (int32_t i = 0; i < m.rows; ++i) {
        if (!rows.empty() && !rows[size_t(i)]) continue;
        ++out.rows;
        out.cols = 0;
        for (int32_t j = 0; j < m.cols; ++j)
            if (cols.empty() || cols[size_t(j)]) {
                out.v.push_back(m.at(i, j));
                ++out.cols;
            }
    }
    return out;
}

Mat read_back(const std::string &base, char letter) {
    ABCmtx *x = ABCread_mtx(base.c_str(), letter);
    if (!x) return Mat{-1, -1, {}};
    Mat m{x->nrows, x->ncols, {}};
    for (int32_t i = 0; i < x->nrows; ++i)
        m.v.insert(m.v.end(), x->rows[i], x->rows[i] + x->ncols);
    ABCfree(x);
    return m;
}

class StateMatrix : public sorvan::test::HostFolder {
  protected:
    StateMatrix() : HostFolder("statemat") {}

    static ac_object object(const Model &m) {
        ac_object obj = plexa_object_create(1, nullptr);
        const Mat *ms[4] = {&m.a, &m.b, &m.c, &m.d};
        for (int k = 0; k < 4; ++k)
            sorvan::test::set_state_matrix(obj, k, ms[k]->rows, ms[k]->cols, ms[k]->v.data());
        return obj;
    }

    double run(ac_object obj, double freq, double real_switch) {
        double rc = 0.0;
        out = sorvan::test::printed([&] { rc = stmatwri(obj, "model_", freq, real_switch); });
        return rc;
    }

    // The written set holds the states of keep, bit for bit.
    void expect_set(const Model &m, const std::vector<int> &keep, const std::string &what) {
        const Mat want[4] = {select(m.a, keep, keep), select(m.b, keep, {}), select(m.c, {}, keep),
                             m.d};
        for (int k = 0; k < 4; ++k) {
            const Mat got = read_back("model_", char('a' + k));
            EXPECT_EQ(got.rows, want[k].rows) << what << " member " << char('a' + k);
            EXPECT_EQ(got.cols, want[k].cols) << what << " member " << char('a' + k);
            EXPECT_TRUE(got.v.size() == want[k].v.size() &&
                        (got.v.empty() || std::memcmp(got.v.data(), want[k].v.data(),
                                                      got.v.size() * sizeof(double)) == 0))
                << what << " member " << char('a' + k);
        }
    }

    std::string out;
};

std::vector<double> numbers(const std::string &text) {
    std::istringstream in(text);
    std::vector<double> v;
    for (std::string word; in >> word;)
        v.push_back(std::strtod(word.c_str(), nullptr));
    return v;
}

class Selection : public StateMatrix, public testing::WithParamInterface<sorvan::test::Case> {};

TEST_P(Selection, KeepsTheStatesTheCaseSays) {
    const std::vector<std::string> &f = GetParam().fields;
    ASSERT_EQ(f.size(), 6u);
    const int32_t n = std::stoi(f[1]);
    const Model m{mat(n, n, numbers(f[2])), mat(n, 2), mat(3, n), mat(3, 2)};
    ASSERT_EQ(m.a.v.size(), size_t(n) * size_t(n));
    const double rc = run(object(m), std::stod(f[3]), std::stod(f[4]));
    if (f[5] == "none") {
        EXPECT_EQ(rc, -3.0);
        EXPECT_TRUE(folder().empty());
        return;
    }
    ASSERT_EQ(rc, 1.0) << out;
    std::vector<int> keep;
    for (double k : numbers(f[5]))
        keep.push_back(static_cast<int>(k));
    expect_set(m, keep, f[0]);
}

INSTANTIATE_TEST_SUITE_P(Table, Selection,
                         testing::ValuesIn(sorvan::test::read_cases("statemat_selection.txt")),
                         sorvan::test::case_name);

// A model without inputs and outputs: B's lines are empty, C and D are
// empty files, and all of it reads back.
TEST_F(StateMatrix, ModelWithoutInputsOrOutputsReadsBack) {
    const Model m{mat(2, 2, {0, 1, -1, 0}), mat(2, 0), mat(0, 2), mat(0, 0)};
    ASSERT_EQ(run(object(m), 0.0, 1), 1.0) << out;
    EXPECT_EQ(fs::file_size("model_c"), 0u);
    EXPECT_EQ(fs::file_size("model_d"), 0u);
    expect_set(m, {1, 1}, "no inputs or outputs");
}

} // namespace
