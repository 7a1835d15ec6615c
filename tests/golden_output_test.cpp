// Output files that come out the same from every build of the library: the
// bulk data of the bundled example and of the test truck, a reduced ABC set
// and an RPC III road profile, each compared with its expected file in
// tests/data/golden. The same expected files serve the Linux and the
// Windows build.
//
// BDF and ABC files are text files: they are read back in text mode, which
// takes away the platform's line ends (CR LF on Windows), and must then be
// equal byte for byte. The RPC III file is binary and must be equal as it
// stands. The expected files were written once by the Linux build. Every
// output is also checked on its own terms (the structural bulk data checker,
// the ABC reader against the matrices given, the independent RPC III reader
// against the synthesised tracks), so an expected file that is itself wrong
// would not pass either.
//
// A failing test leaves its scratch folder behind, with the outputs in it.
#include "bdf_export/bdf.h"
#include "host/plexa_setup.h"
#include "support/bdf_check.h"
#include "support/files.h"
#include "support/golden.h"
#include "support/host_objects.h"
#include "support/rpc3_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using sorvan::test::differs_from_golden_bytes;
using sorvan::test::differs_from_golden_text;

namespace {

// An ABC matrix read back, as a plain table.
std::vector<std::vector<double>> read_matrix(const char *base, char letter) {
    std::vector<std::vector<double>> m;
    ABCmtx *mtx = ABCread_mtx(base, letter);
    if (!mtx) return m;
    for (int32_t i = 0; i < mtx->nrows; ++i)
        m.emplace_back(mtx->rows[i], mtx->rows[i] + mtx->ncols);
    ABCfree(mtx);
    return m;
}

class Golden : public ::testing::Test {
  protected:
    void SetUp() override {
        plexa_reset();
        previous = fs::current_path();
        fs::current_path(dir);
    }
    void TearDown() override {
        fs::current_path(previous);
        plexa_reset();
        if (HasFailure()) {
            std::printf("outputs left in %s\n", dir.string().c_str());
            scratch.keep();
        }
    }

    sorvan::test::ScratchDir scratch{"golden"};
    const fs::path &dir = scratch.path();
    fs::path previous;
    sorvan::test::SavedParameters saved;
};

// ======================================================================
// Bulk data
// ======================================================================

// The example model through KAVEL2PELDA_BDF_WRITE: export units mm, N,
// megagram and s from the unit objects, connecting values in the MAP file's
// own units (mm, N, s), external inputs included.
TEST_F(Golden, ExampleThroughTheHostCommand) {
    sorvan::test::copy_model(sorvan::test::example_folder, "vehicle.map", "vehicle_", dir.string());
    ac_object command = sorvan::test::example_command();

    testing::internal::CaptureStdout();
    int32_t rc = kavel2pelda_full(command, "vehicle.map", "vehicle_");
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(rc, 1) << out;

    auto check = sorvan::test::check_bdf_file((dir / "vehicle.bdf").string());
    EXPECT_TRUE(check.ok()) << check.report();
    EXPECT_GT(check.cards["TF"], 0);
    EXPECT_EQ(differs_from_golden_text((dir / "vehicle.bdf").string(), "vehicle.bdf"), "");
}

// The test truck through the plain converter, in export units whose factors
// are not powers of ten and a time unit of milliseconds.
TEST_F(Golden, TruckThroughThePlainConverter) {
    sorvan::test::copy_model(SORVAN_TEST_DATA "/bdf", "truck.map", "truck_", dir.string());
    char lu[64] = "in", fu[64] = "lbf", mu[64] = "slug";
    testing::internal::CaptureStdout();
    int32_t rc = kavel2pelda("truck.map", "truck_", lu, fu, mu, '0');
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(rc, 1) << out;
    EXPECT_STREQ(lu, "INCH");

    auto check = sorvan::test::check_bdf_file((dir / "truck.bdf").string());
    EXPECT_TRUE(check.ok()) << check.report();
    EXPECT_EQ(differs_from_golden_text((dir / "truck.bdf").string(), "truck.bdf"), "");
}

// ======================================================================
// Reduced ABC set
// ======================================================================

// Six states in modal form: a block at 6.02 rad/s, one at 80.02 rad/s, a
// real state at -3 and one at -400. A limit of 10 Hz (62.83 rad/s) with the
// real states switched on keeps states 0, 1 and 4.
constexpr int32_t n_states = 6, n_inputs = 2, n_outputs = 3;
const double a_values[n_states * n_states] = {
    -0.5, 6.0,  0.0,   0.0,  0.0,  0.0,    // block 0-1
    -6.0, -0.5, 0.0,   0.0,  0.0,  0.0,    //
    0.0,  0.0,  -2.0,  80.0, 0.0,  0.0,    // block 2-3, above the limit
    0.0,  0.0,  -80.0, -2.0, 0.0,  0.0,    //
    0.0,  0.0,  0.0,   0.0,  -3.0, 0.0,    // real, kept
    0.0,  0.0,  0.0,   0.0,  0.0,  -400.0, // real, above the limit
};
const double b_values[n_states * n_inputs] = {1.0 / 3.0, -2.5e-7, 1e12, 0.1,  -7.0, 0.0,
                                              6.02e23,   1e-300,  -0.0, 12.5, 1.0,  -1.0};
const double c_values[n_outputs * n_states] = {
    1.0,  0.0, 2.0 / 7.0, 0.0, 5e-5, 0.0,     //
    -1.0, 3.0, 0.0,       0.0, 0.0,  9.99e22, //
    0.5,  0.0, 0.0,       4.0, 1e15, 0.0,     //
};
const double d_values[n_outputs * n_inputs] = {0.0, 1e-9, -123456.789, 0.0, 0.0, 2.0};
const int kept[] = {0, 1, 4};

TEST_F(Golden, ReducedStateMatrices) {
    ac_object model = plexa_object_create(1, nullptr);
    const struct {
        int32_t rows, cols;
        const double *values;
    } m[] = {{n_states, n_states, a_values},
             {n_states, n_inputs, b_values},
             {n_outputs, n_states, c_values},
             {n_outputs, n_inputs, d_values}};
    for (int k = 0; k < 4; ++k)
        sorvan::test::set_state_matrix(model, k, m[k].rows, m[k].cols, m[k].values);
    ASSERT_EQ(stmatwri(model, "reduced_", 10.0, 1.0), 1.0);

    for (const char *name : {"reduced_a", "reduced_b", "reduced_c", "reduced_d"})
        EXPECT_EQ(differs_from_golden_text((dir / name).string(), name), "");

    // Read back: exactly the kept states' rows and columns.
    auto a = read_matrix("reduced_", 'a'), b = read_matrix("reduced_", 'b');
    auto c = read_matrix("reduced_", 'c'), d = read_matrix("reduced_", 'd');
    ASSERT_EQ(a.size(), 3u);
    ASSERT_EQ(b.size(), 3u);
    ASSERT_EQ(c.size(), size_t(n_outputs));
    ASSERT_EQ(d.size(), size_t(n_outputs));
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(a[i].size(), 3u);
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(a[i][j], a_values[kept[i] * n_states + kept[j]]) << i << "," << j;
        for (int j = 0; j < n_inputs; ++j)
            EXPECT_EQ(b[i][j], b_values[kept[i] * n_inputs + j]);
    }
    for (int i = 0; i < n_outputs; ++i) {
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(c[i][j], c_values[i * n_states + kept[j]]);
        for (int j = 0; j < n_inputs; ++j)
            EXPECT_EQ(d[i][j], d_values[i * n_inputs + j]);
    }
}

// ======================================================================
// RPC III road profile
// ======================================================================

// Two tracks of 401 samples, the seed fixed and the file's DATE fixed
// through the stand-in host's setup interface.
TEST_F(Golden, RoadProfileFile) {
    const sorvan::test::RoadCase road;
    plexa_rpc_set_date(road.date);
    testing::internal::CaptureStdout();
    int32_t rc = genrprof_sayers_to_rpc("road.rsp", road.label1, road.label2, road.ga, road.ge,
                                        road.gs, road.corr_length, road.length, road.interval,
                                        road.nprofs, road.seed);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(rc, 0) << out;
    EXPECT_EQ(differs_from_golden_bytes((dir / "road.rsp").string(), "road.rsp"), "");

    // The file on its own terms: two channels holding the synthesised tracks
    // to within the short-integer resolution of each channel.
    rpc3test::File file;
    ASSERT_EQ(rpc3test::read_file((dir / "road.rsp").string(), file), "");
    EXPECT_EQ(file.channels, 2);
    EXPECT_EQ(file.value("DATE"), road.date);
    EXPECT_EQ(file.value("DESC.CHAN_2"), road.label2);
    RprofResult *r = genrprof_sayers(road.ga, road.ge, road.gs, road.corr_length, road.length,
                                     road.interval, road.nprofs, road.seed);
    ASSERT_EQ(r->n, 401);
    ASSERT_EQ(file.values.size(), 2u);
    ASSERT_GE(file.values[0].size(), 401u);
    for (int c = 0; c < 2; ++c) {
        const double *z = c == 0 ? r->z1 : r->z2;
        double peak = 0.0;
        for (int32_t i = 0; i < r->n; ++i)
            peak = std::fmax(peak, std::fabs(z[i]));
        for (int32_t i = 0; i < r->n; ++i)
            ASSERT_NEAR(file.values[c][size_t(i)], z[i], peak / 32767.0) << c << " " << i;
        // The one group is filled up with the track's last stored point.
        ASSERT_EQ(file.values[c].size(), 2048u);
        for (size_t k = 401; k < 2048; ++k)
            ASSERT_EQ(file.raw[c][k], file.raw[c][400]) << c << " " << k;
    }
    EXPECT_EQ(file.value("PADDED_POINTS"), "1647");
    EXPECT_EQ(file.padded, 2048 - 401);
}

} // namespace
