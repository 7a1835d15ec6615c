// GENRPROF_SAYERS through the stand-in host: the RPC III files it writes,
// read back with the independent reader and compared with the synthesised
// tracks, from arrays of the types the host language passes. What it
// refuses is in the catalogue of bad input, the golden road profile in
// plugin_test and its write failures in fault_injection_test.
#include "road_profile/profile.h"
#include "support/host_fixture.h"
#include "support/rpc3_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class RoadCommand : public sorvan::test::HostFolder {
  protected:
    RoadCommand() : HostFolder("road_command") {}
    void SetUp() override {
        HostFolder::SetUp();
        plexa_rpc_set_date("06-Dec-2025 21:44:00");
    }

    // Runs the command; returns the status in the result array, which holds
    // that one integer and is freed again with the arguments.
    int32_t run(vc_array ints, vc_array reals, vc_array strings) {
        plexa_calls_clear();
        vc_array result = nullptr;
        out = sorvan::test::printed([&] { result = cmd_to_genrprof_sayers(ints, reals, strings); });
        int32_t status = -1;
        EXPECT_EQ(plexa_array_type(result), VC_INTEGER);
        EXPECT_EQ(vc_array_element_count(result), 1);
        plexa_array_get_int(result, 0, &status);
        for (vc_array a : {result, ints, reals, strings})
            plexa_array_free(a);
        EXPECT_EQ(plexa_array_live_count(), 0);
        EXPECT_EQ(plexa_rpc_open_count(), 0);
        return status;
    }

    bool called(const std::string &prefix) const {
        for (int32_t i = 0; i < plexa_calls_count(); ++i)
            if (std::string(plexa_calls_get(i)).rfind(prefix, 0) == 0) return true;
        return false;
    }

    // road.rsp holds one channel per label, each within half a step of the
    // track the same arguments synthesise, in mm at the interval dx.
    void expect_file(const std::vector<double> &r, int32_t nprofs, int32_t seed,
                     const std::vector<std::string> &labels) const {
        rpc3test::File f;
        ASSERT_EQ(rpc3test::read_file("road.rsp", f), "");
        ASSERT_EQ(f.channels, int64_t(labels.size()));
        EXPECT_EQ(std::strtod(f.value("DELTA_T").c_str(), nullptr), r[5]);
        RprofResult *res = nullptr;
        sorvan::test::printed(
            [&] { res = genrprof_sayers(r[0], r[1], r[2], r[3], r[4], r[5], nprofs, seed); });
        const size_t n = size_t(std::ceil(r[4] * (1.0 / r[5]))) + 1;
        ASSERT_EQ(size_t(res->n), n);
        for (size_t c = 0; c < labels.size(); ++c) {
            const std::string chan = ".CHAN_" + std::to_string(c + 1);
            EXPECT_EQ(f.value("DESC" + chan), labels[c]);
            EXPECT_EQ(f.value("UNITS" + chan), "mm");
            const double s = std::strtod(f.value("SCALE" + chan).c_str(), nullptr);
            const double *z = c == 0 ? res->z1 : res->z2;
            ASSERT_GE(f.values[c].size(), n);
            for (size_t k = 0; k < n; ++k)
                ASSERT_NEAR(f.values[c][k], z[k], s / 2 * (1 + 1e-9))
                    << "channel " << c + 1 << " point " << k;
        }
    }

    std::string out;
};

vc_array array(int32_t type, const std::vector<double> &numbers,
               const std::vector<std::string> &texts = {}) {
    const size_t n = texts.empty() ? numbers.size() : texts.size();
    vc_array a = plexa_array_create(type, static_cast<int32_t>(n));
    for (int32_t i = 0; i < static_cast<int32_t>(n); ++i) {
        if (type == VC_INTEGER) plexa_array_set_int(a, i, static_cast<int32_t>(numbers[i]));
        if (type == VC_REAL) plexa_array_set_real(a, i, numbers[i]);
        if (type == VC_TEXT) plexa_array_set_text(a, i, texts[size_t(i)].c_str());
    }
    return a;
}

const std::vector<double> reals = {1e-6, 1e-8, 1e-7, 1.5, 300.0, 0.125}; // 2401 points

// One track: one channel under the first label; the second is unused.
TEST_F(RoadCommand, OneTrackWritesOneChannel) {
    EXPECT_EQ(run(array(VC_INTEGER, {1, 4711}), array(VC_REAL, reals),
                  array(VC_TEXT, {}, {"road.rsp", "left track", "right track"})),
              0)
        << out;
    EXPECT_EQ(out, "");
    EXPECT_TRUE(called("ac_dur_rpc_putchannel 1 2401"));
    EXPECT_FALSE(called("ac_dur_rpc_putchannel 2"));
    EXPECT_TRUE(called("ac_dur_terminate"));
    expect_file(reals, 1, 4711, {"left track"});
}

// Two tracks from arrays of other types, as the host language may pass
// them: integers as reals (truncated), reals as texts.
TEST_F(RoadCommand, TwoTracksFromArraysOfOtherTypes) {
    EXPECT_EQ(run(array(VC_REAL, {2.0, 99.9}),
                  array(VC_TEXT, {}, {"1e-6", "1e-8", " 1e-7", "1.5", "300", "0.25"}),
                  array(VC_TEXT, {}, {"road.rsp", "left track", "right track"})),
              0)
        << out;
    EXPECT_TRUE(called("ac_dur_rpc_create 2 1201"));
    expect_file({1e-6, 1e-8, 1e-7, 1.5, 300.0, 0.25}, 2, 99, {"left track", "right track"});
}

} // namespace
