// STATEMAT_WRITE through the stand-in host: which states the frequency limit
// and the real-state switch keep, what is refused before any file is
// touched, what a failed write leaves, and the reduced set read back with
// the ABC reader, bit for bit.
#include "host/plexa_setup.h"
#include "sorvan_view.h"
#include "support/bdf_check.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <cmath>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// A matrix row by row.
struct Mat {
    int32_t rows = 0, cols = 0;
    std::vector<double> v;
    double at(int32_t i, int32_t j) const { return v[size_t(i) * size_t(cols) + size_t(j)]; }
};

Mat mat(int32_t rows, int32_t cols, std::vector<double> v = {}) {
    if (v.empty())
        for (int32_t k = 0; k < rows * cols; ++k)
            v.push_back(0.25 * (k + 1) - 3.0);
    return Mat{rows, cols, v};
}

// A model of n states, 2 inputs and 3 outputs with distinct B, C, D values.
struct Model {
    Mat a, b, c, d;
};

Model model(int32_t n, std::vector<double> a) {
    return Model{mat(n, n, a), mat(n, 2), mat(3, n), mat(3, 2)};
}

std::vector<double> diagonal(std::vector<double> d) {
    size_t n = d.size();
    std::vector<double> a(n * n, 0.0);
    for (size_t i = 0; i < n; ++i)
        a[i * n + i] = d[i];
    return a;
}

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

// Size and value attributes of the four matrices.
constexpr int32_t codes[4][3] = {
    {815, 816, 817}, {818, 819, 820}, {821, 822, 823}, {824, 825, 826}};

class StateMatrix : public ::testing::Test {
  protected:
    void SetUp() override {
        plexa_reset();
        base = (dir / "model_").string();
    }
    void TearDown() override { plexa_reset(); }

    ac_object object(const Model &m) {
        ac_object obj = plexa_object_create(1, nullptr);
        const Mat *ms[4] = {&m.a, &m.b, &m.c, &m.d};
        for (int k = 0; k < 4; ++k) {
            plexa_set_int(obj, codes[k][0], ms[k]->rows);
            plexa_set_int(obj, codes[k][1], ms[k]->cols);
            plexa_set_reals(obj, codes[k][2], ms[k]->v.data(), int32_t(ms[k]->v.size()));
        }
        return obj;
    }

    double run(ac_object obj, double freq, double real_switch, const std::string &name = "") {
        testing::internal::CaptureStdout();
        double rc = stmatwri(obj, (name.empty() ? base : name).c_str(), freq, real_switch);
        out = testing::internal::GetCapturedStdout();
        return rc;
    }

    std::set<std::string> files() const {
        std::set<std::string> names;
        for (const auto &e : fs::directory_iterator(dir))
            names.insert(e.path().filename().string());
        return names;
    }

    // Reads member letter of the set named base.
    static Mat read_back(const std::string &base, char letter) {
        Mat m;
        ABCmtx *x = ABCread_mtx(base.c_str(), letter);
        if (!x) return Mat{-1, -1, {}};
        m.rows = x->nrows;
        m.cols = x->ncols;
        for (int32_t i = 0; i < x->nrows; ++i)
            for (int32_t j = 0; j < x->ncols; ++j)
                m.v.push_back(x->rows[i][j]);
        ABCfree(x);
        return m;
    }

    // The written set equals the states of keep, bit for bit.
    void expect_set(const Model &m, const std::vector<int> &keep, const std::string &what,
                    const std::string &set_base = "") {
        const std::string b = set_base.empty() ? base : set_base;
        const Mat want[4] = {select(m.a, keep, keep), select(m.b, keep, {}), select(m.c, {}, keep),
                             m.d};
        for (int k = 0; k < 4; ++k) {
            Mat got = read_back(b, char('a' + k));
            ASSERT_EQ(got.rows, want[k].rows) << what << " member " << char('a' + k);
            ASSERT_EQ(got.cols, want[k].cols) << what << " member " << char('a' + k);
            ASSERT_EQ(got.v.size(), want[k].v.size());
            if (got.v.empty()) continue;
            EXPECT_EQ(std::memcmp(got.v.data(), want[k].v.data(), got.v.size() * sizeof(double)), 0)
                << what << " member " << char('a' + k);
        }
    }

    sorvan::test::ScratchDir scratch{"statemat"};
    const fs::path &dir = scratch.path();
    std::string base, out;
};

// ======================================================================
// Selection
// ======================================================================

struct SelectionCase {
    const char *what;
    int32_t n;
    std::vector<double> a;
    double freq, real_switch;
    std::vector<int> keep; // empty: nothing kept, -3.0
};

const double block1[] = {0, 1, -1, 0};

std::vector<SelectionCase> selection_cases() {
    std::vector<double> one_rad(block1, block1 + 4);
    // Two fast blocks (100 and 200 rad/s) and a fast real state.
    std::vector<double> fast = {-1,   100, 0,    0,   0, // 0
                                -100, -1,  0,    0,   0, // 1
                                0,    0,   -2,   200, 0, // 2
                                0,    0,   -200, -2,  0, // 3
                                0,    0,   0,    0,   -1000};
    std::vector<double> not_modal = fast;
    not_modal[4 * 5 + 2] = 0.5; // A(4, 2)
    std::vector<double> not_modal_upper = fast;
    not_modal_upper[2 * 5 + 4] = -0.5; // A(2, 4)
    // A slow block (1 rad/s) and a fast one, with entries off the band in
    // rows and columns 0 and 1.
    std::vector<double> edges = {0,  1, 9,    5,   //
                                 -1, 0, 4,    2,   //
                                 3,  8, 0,    100, //
                                 -7, 6, -100, 0};
    return {
        {"1 rad/s block, 1 Hz", 2, one_rad, 1.0, 1, {1, 1}},
        {"1 rad/s block, 0.1 Hz", 2, one_rad, 0.1, 1, {}},
        {"1 rad/s block, no limit", 2, one_rad, 0.0, 1, {1, 1}},
        {"reals -2 and -50, switch 1", 2, diagonal({-2, -50}), 1.0, 1, {1, 0}},
        {"reals -2 and -50, switch 0.5", 2, diagonal({-2, -50}), 1.0, 0.5, {1, 0}},
        {"reals -2 and -50, switch 0", 2, diagonal({-2, -50}), 1.0, 0, {}},
        {"reals -2 and -50, switch -1", 2, diagonal({-2, -50}), 1.0, -1, {}},
        {"reals, no limit", 2, diagonal({-2, -50}), 0.0, 1, {1, 1}},
        {"modal, all too fast", 5, fast, 1.0, 1, {}},
        {"A(4,2) set: limit ignored", 5, not_modal, 1.0, 1, {1, 1, 1, 1, 1}},
        {"A(4,2) set: reals follow the switch", 5, not_modal, 1.0, 0, {1, 1, 1, 1, 0}},
        {"A(2,4) set: limit ignored", 5, not_modal_upper, 1.0, 1, {1, 1, 1, 1, 1}},
        {"entries off the band in rows 0 and 1", 4, edges, 1.0, 1, {1, 1, 0, 0}},
        {"b = 0 is a pair, switch 0", 2, diagonal({-1, -1}), 1.0, 0, {1, 1}},
        {"b = 0 pair beyond the limit", 2, diagonal({-1, -1}), 0.1, 1, {}},
        {"real then block, switch 0", 3, {-3, 0, 0, 0, 0, 1, 0, -1, 0}, 1.0, 0, {0, 1, 1}},
        {"block then last real, switch 1", 3, {0, 1, 0, -1, 0, 0, 0, 0, -1}, 1.0, 1, {1, 1, 1}},
        {"block then last real, switch 0", 3, {0, 1, 0, -1, 0, 0, 0, 0, -1}, 1.0, 0, {1, 1, 0}},
        {"limit just above the block",
         2,
         {-3, 4, -4, -3},
         5.0 / 6.28318530717958 * 1.000001,
         1,
         {1, 1}},
        {"limit just below the block",
         2,
         {-3, 4, -4, -3},
         5.0 / 6.28318530717958 * 0.999999,
         1,
         {}},
    };
}

TEST_F(StateMatrix, SelectsStatesByLimitAndSwitch) {
    for (const SelectionCase &c : selection_cases()) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        plexa_db_reset();
        Model m = model(c.n, c.a);
        double rc = run(object(m), c.freq, c.real_switch);
        if (c.keep.empty()) {
            EXPECT_EQ(rc, -3.0) << c.what;
            EXPECT_TRUE(files().empty()) << c.what;
            continue;
        }
        ASSERT_EQ(rc, 1.0) << c.what << ": " << out;
        EXPECT_EQ(files(), (std::set<std::string>{"model_a", "model_b", "model_c", "model_d"}))
            << c.what;
        expect_set(m, c.keep, c.what);
    }
}

TEST_F(StateMatrix, NoStatesGivesMinus3) {
    Model m{mat(0, 0), mat(0, 2), mat(3, 0), mat(3, 2)};
    EXPECT_EQ(run(object(m), 0.0, 1), -3.0);
    EXPECT_TRUE(files().empty());
}

// ======================================================================
// Refusals before any file
// ======================================================================

// Each missing size ends the fetching there, with -1.0.
TEST_F(StateMatrix, MissingSizeStopsTheFetches) {
    const int32_t order[8] = {815, 816, 818, 819, 821, 822, 824, 825};
    for (int k = 0; k < 8; ++k) {
        plexa_db_reset();
        ac_object obj = plexa_object_create(1, nullptr);
        for (int i = 0; i < 8; ++i)
            if (i != k) plexa_set_int(obj, order[i], 2);
        plexa_calls_clear();
        EXPECT_EQ(run(obj, 1.0, 1), -1.0) << order[k];
        std::vector<std::string> want = {"ac_initialize KAVEL_VIEW"};
        for (int i = 0; i <= k; ++i)
            want.push_back("ac_get_int " + std::to_string(order[i]));
        std::vector<std::string> got;
        for (int32_t i = 0; i < plexa_calls_count(); ++i)
            got.push_back(plexa_calls_get(i));
        EXPECT_EQ(got, want) << order[k];
    }
    // A size held as reals cannot be fetched as an integer.
    plexa_db_reset();
    Model m = model(2, {0, 1, -1, 0});
    ac_object obj = object(m);
    double two = 2;
    plexa_set_reals(obj, 822, &two, 1);
    EXPECT_EQ(run(obj, 1.0, 1), -1.0);
    EXPECT_EQ(run(nullptr, 1.0, 1), -1.0);
    EXPECT_TRUE(files().empty());
}

// Sizes that do not describe one model, and value attributes that do not
// hold their matrix whole, are refused before anything is written.
TEST_F(StateMatrix, InconsistentSizesAreRefused) {
    struct Case {
        const char *what;
        Model m;
    } cases[] = {
        {"A not square", {mat(2, 3), mat(2, 2), mat(3, 2), mat(3, 2)}},
        {"B rows", {mat(2, 2), mat(3, 2), mat(3, 2), mat(3, 2)}},
        {"C columns", {mat(2, 2), mat(2, 2), mat(3, 3), mat(3, 2)}},
        {"D rows", {mat(2, 2), mat(2, 2), mat(3, 2), mat(4, 2)}},
        {"D columns", {mat(2, 2), mat(2, 2), mat(3, 2), mat(3, 1)}},
        {"negative sizes", {Mat{-2, -2, {}}, Mat{-2, 2, {}}, Mat{3, -2, {}}, mat(3, 2)}},
        {"huge sizes", {Mat{65536, 65536, {}}, Mat{65536, 2, {}}, Mat{3, 65536, {}}, mat(3, 2)}},
        {"A holds too few values", {mat(2, 2, {0, 1, -1}), mat(2, 2), mat(3, 2), mat(3, 2)}},
        {"D holds too many values",
         {mat(2, 2), mat(2, 2), mat(3, 2), mat(3, 2, {1, 2, 3, 4, 5, 6, 7})}},
    };
    for (const Case &c : cases) {
        plexa_db_reset();
        EXPECT_EQ(run(object(c.m), 0.0, 1), -1.0) << c.what;
        EXPECT_TRUE(files().empty()) << c.what;
    }
    plexa_db_reset();
    ac_object obj = object(model(2, {0, 1, -1, 0}));
    plexa_set_int(obj, 826, 0); // D's values not reals
    EXPECT_EQ(run(obj, 0.0, 1), -1.0);
    EXPECT_TRUE(files().empty());
}

// ======================================================================
// Round trip and file layout
// ======================================================================

// Every double survives the 25-character field, extremes included, and
// the lines have the field layout the reader's column rule needs.
TEST_F(StateMatrix, WrittenSetReadsBackBitForBit) {
    const double tiny = std::numeric_limits<double>::denorm_min();
    const double big = std::numeric_limits<double>::max();
    // A fast block dropped at 10 Hz; everything else kept.
    std::vector<double> a = {-0.5, 3.0,  0,       0,      //
                             -3.0, -0.5, 0,       0,      //
                             0,    0,    -2.0,    1000.0, //
                             0,    0,    -1000.0, -2.0};
    Model m = model(4, a);
    m.b.v = {1.0 / 3.0, -0.0, tiny, -big, 0.1, 1e-300, 6.02214076e23, -2.5e-310};
    m.c.v = {1.0, -1.0, 2.0 / 3.0, 1e308, -1e-5, 0.0, 7.0, 8.0, -9.75, 3.14159, 2.71828, 1.41421};
    m.d = mat(3, 2, {1.0, -0.00125, 0.0, -0.0, big, -tiny});
    ASSERT_EQ(run(object(m), 10.0, 1), 1.0) << out;
    expect_set(m, {1, 1, 0, 0}, "extremes");

    std::ifstream d(base + "d");
    std::string line;
    ASSERT_TRUE(std::getline(d, line));
    EXPECT_EQ(line, " +1.0000000000000000E+000 -1.2500000000000000E-003");
    ASSERT_TRUE(std::getline(d, line));
    EXPECT_EQ(line, " +0.0000000000000000E+000 -0.0000000000000000E+000");
    ASSERT_TRUE(std::getline(d, line));
    EXPECT_EQ(line.size(), 50u);
    EXPECT_FALSE(std::getline(d, line));
}

// A model without inputs and outputs: B's lines are empty, C and D are
// empty files, and all of it reads back.
TEST_F(StateMatrix, ModelWithoutInputsOrOutputs) {
    Model m{mat(2, 2, {0, 1, -1, 0}), mat(2, 0), mat(0, 2), mat(0, 0)};
    ASSERT_EQ(run(object(m), 0.0, 1), 1.0) << out;
    EXPECT_EQ(fs::file_size(base + "c"), 0u);
    EXPECT_EQ(fs::file_size(base + "d"), 0u);
    expect_set(m, {1, 1}, "no inputs or outputs");
}

// ======================================================================
// Write failures
// ======================================================================

TEST_F(StateMatrix, BaseInMissingFolderGivesMinus2) {
    Model m = model(2, {0, 1, -1, 0});
    EXPECT_EQ(run(object(m), 1.0, 1, (dir / "missing" / "model_").string()), -2.0);
    EXPECT_TRUE(files().empty());
}

// A member that cannot be put in place fails the call; the members before
// it stay written, the failing one leaves nothing, the later ones are not
// touched.
// The set is replaced whole or not at all: a member that cannot be written
// leaves every member of the set that was there as it was, never a mix of
// old and new members.
TEST_F(StateMatrix, FailingMemberLeavesTheOldSetWhole) {
    Model m = model(2, {0, 1, -1, 0});
    fs::create_directory(base + "c");
    EXPECT_EQ(run(object(m), 1.0, 1), -2.0);
    EXPECT_EQ(files(), (std::set<std::string>{"model_c"}));
    EXPECT_TRUE(fs::is_directory(base + "c"));
    EXPECT_TRUE(fs::is_empty(base + "c"));

    fs::remove(base + "c");
    for (char l : {'a', 'b', 'c'})
        sorvan::test::write_text(base + l, "older\n");
    fs::create_directory(base + "d");
    EXPECT_EQ(run(object(m), 1.0, 1), -2.0);
    EXPECT_EQ(files(), (std::set<std::string>{"model_a", "model_b", "model_c", "model_d"}));
    for (char l : {'a', 'b', 'c'})
        EXPECT_EQ(sorvan::test::read_text(base + l), "older\n");

    fs::remove(base + "d");
    EXPECT_EQ(run(object(m), 1.0, 1), 1.0);
    Mat a = read_back(base, 'a'), b = read_back(base, 'b');
    EXPECT_EQ(a.v, m.a.v);
    EXPECT_EQ(b.v, m.b.v);
}

// A term that is not a finite number gives a set that no reader takes:
// refused with its place, and nothing is written. A dropped state's terms
// are not written and may hold anything.
TEST_F(StateMatrix, RefusesTermsThatAreNotFinite) {
    Model m = model(2, {-1, std::nan(""), 0, -2});
    EXPECT_EQ(run(object(m), 1.0, 1), -1.0);
    EXPECT_NE(out.find("A row 1, column 2: nan is not a finite number"), std::string::npos) << out;
    EXPECT_TRUE(files().empty());
    Model dropped = model(2, {-1, 0, 0, INFINITY});
    EXPECT_EQ(run(object(dropped), 1.0, 1), 1.0) << out;
    EXPECT_EQ(read_back(base, 'a').v, std::vector<double>{-1});
}

#ifndef _WIN32
// A write that fails half-way (file size limit) leaves no partial member,
// and a member of the same name that was there stays as it was.
TEST_F(StateMatrix, WriteCutShortLeavesNoPartialMember) {
    const int32_t n = 40; // 40 lines of 1001 bytes in the first member
    std::vector<double> a(size_t(n) * n, 0.0);
    for (int32_t i = 0; i < n; ++i)
        a[size_t(i) * n + i] = -1.0 - i;
    Model m = model(n, a);
    ac_object obj = object(m);
    sorvan::test::write_text(base + "a", "an older file\n");
    std::fflush(stdout);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!std::freopen("/dev/null", "w", stdout)) _exit(3);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{8192, 8192};
        setrlimit(RLIMIT_FSIZE, &limit);
        double rc = stmatwri(obj, base.c_str(), 0.0, 1);
        std::fflush(stdout);
        _exit(rc == -2.0 ? 0 : rc == 1.0 ? 1 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(files(), (std::set<std::string>{"model_a"}));
    std::ifstream in(base + "a");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "an older file");
}
#endif

// ======================================================================
// The bundled example
// ======================================================================

// At 20 Hz the example keeps its ten slowest modes, 20 of 26 states, and
// the reduced set converts again.
TEST_F(StateMatrix, ExampleReducedAt20HzConvertsAgain) {
    const fs::path example = fs::path(SORVAN_EXAMPLES) / "vehicle";
    if (!fs::exists(example / "vehicle.map")) GTEST_SKIP() << "no bundled example";
    const std::string source = (example / "vehicle_").string();
    Model m;
    Mat *ms[4] = {&m.a, &m.b, &m.c, &m.d};
    for (int k = 0; k < 4; ++k)
        *ms[k] = read_back(source, char('a' + k));
    ASSERT_EQ(m.a.rows, 26);
    ASSERT_EQ(m.c.rows, 125);
    ASSERT_EQ(run(object(m), 20.0, 1), 1.0) << out;
    std::vector<int> keep(26, 0);
    for (int i = 0; i < 20; ++i)
        keep[size_t(i)] = 1;
    expect_set(m, keep, "example");

    fs::copy_file(example / "vehicle.map", dir / "vehicle.map");
    char lu[64] = "mm", fu[64] = "n", mu[64] = "mgg";
    testing::internal::CaptureStdout();
    int32_t rc = kavel2pelda((dir / "vehicle.map").string().c_str(), base.c_str(), lu, fu, mu, '1');
    out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(rc, 1) << out;
    auto check = sorvan::test::check_bdf_file((dir / "vehicle.bdf").string());
    EXPECT_TRUE(check.ok()) << check.report();
    // 4 internal and 2 external inputs, 125 outputs, then the 20 states.
    const std::string text = sorvan::test::read_text(dir / "vehicle.bdf");
    EXPECT_NE(text.find("$* State variable\nEPOINT   1000132    THRU 1000151\n"),
              std::string::npos);
    // One card per state and per output, a coupling and a force card per
    // internal input.
    EXPECT_EQ(check.cards["TF"], 20 + 125 + 4 + 4);
}

} // namespace
