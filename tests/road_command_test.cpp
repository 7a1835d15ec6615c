// GENRPROF_SAYERS through the stand-in host: the argument checks and their
// messages, the RPC III files read back with an independent reader and
// compared with the synthesised tracks, the result array, and what each
// failure leaves behind.
#include "host/plexa_setup.h"
#include "road_profile/profile.h"
#include "support/files.h"
#include "support/rpc3_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char *const ints_message = "Error calling C code for road profile. The \"ints\" array must "
                                 "have exactly two elements, not %i element(s).";
const char *const reals_message = "Error calling C code for road profile. The \"reals\" array "
                                  "must have exactly six, not %i element(s).";
const char *const strings_message = "Error calling C code for road profile. The \"strings\" "
                                    "array must have exactly three elements, not %i element(s).";
const char *const nprofs_message = "Error synthesizing road profile: nprofs must be 1 or 2.\n";

std::string message(const char *format, int count) {
    char buf[256];
    std::snprintf(buf, sizeof buf, format, count);
    return buf;
}

// The arguments of one call, as the host language would pass them.
struct Args {
    std::vector<int32_t> ints = {1, 4711};
    std::vector<double> reals = {1e-6, 1e-8, 1e-7, 1.5, 300.0, 0.125}; // ga ge gs corr length dx
    std::vector<std::string> strings = {"", "left track", "right track"};
};

vc_array int_array(const std::vector<int32_t> &v) {
    vc_array a = plexa_array_create(VC_INTEGER, int32_t(v.size()));
    for (size_t i = 0; i < v.size(); ++i)
        plexa_array_set_int(a, int32_t(i), v[i]);
    return a;
}

vc_array real_array(const std::vector<double> &v) {
    vc_array a = plexa_array_create(VC_REAL, int32_t(v.size()));
    for (size_t i = 0; i < v.size(); ++i)
        plexa_array_set_real(a, int32_t(i), v[i]);
    return a;
}

vc_array text_array(const std::vector<std::string> &v) {
    vc_array a = plexa_array_create(VC_TEXT, int32_t(v.size()));
    for (size_t i = 0; i < v.size(); ++i)
        plexa_array_set_text(a, int32_t(i), v[i].c_str());
    return a;
}

class RoadCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        plexa_reset();
        plexa_rpc_set_date("06-Dec-2025 21:44:00");
        file = (dir / "road.rsp").string();
        args.strings[0] = file;
    }
    void TearDown() override { plexa_reset(); }

    // Calls the command with arrays built from args; returns the status in
    // the result array, which is freed again (-1 when there was none).
    int32_t run() {
        return run_arrays(int_array(args.ints), real_array(args.reals), text_array(args.strings));
    }

    int32_t run_arrays(vc_array ints, vc_array reals, vc_array strings) {
        int32_t live = plexa_array_live_count();
        plexa_calls_clear();
        plexa_error_clear();
        testing::internal::CaptureStdout();
        vc_array result = cmd_to_genrprof_sayers(ints, reals, strings);
        out = testing::internal::GetCapturedStdout();
        int32_t status = -1;
        EXPECT_EQ(plexa_array_live_count(), live + 1);
        EXPECT_EQ(plexa_array_type(result), VC_INTEGER);
        EXPECT_EQ(plexa_array_get_int(result, 1, &status), 0) << "more than one element";
        if (!plexa_array_get_int(result, 0, &status)) status = -1;
        plexa_array_free(result);
        EXPECT_EQ(plexa_array_live_count(), live);
        for (vc_array a : {ints, reals, strings})
            plexa_array_free(a);
        return status;
    }

    bool called(const std::string &prefix) const {
        for (int32_t i = 0; i < plexa_calls_count(); ++i)
            if (std::string(plexa_calls_get(i)).rfind(prefix, 0) == 0) return true;
        return false;
    }

    bool folder_empty() const { return fs::is_empty(dir); }

    // The tracks the same arguments synthesise.
    std::vector<std::vector<double>> tracks() const {
        const std::vector<double> &r = args.reals;
        testing::internal::CaptureStdout();
        RprofResult *res =
            genrprof_sayers(r[0], r[1], r[2], r[3], r[4], r[5], args.ints[0], args.ints[1]);
        testing::internal::GetCapturedStdout();
        std::vector<std::vector<double>> t;
        t.emplace_back(res->z1, res->z1 + res->n);
        if (res->z2) t.emplace_back(res->z2, res->z2 + res->n);
        return t;
    }

    // The file holds one channel per track, each within half a step of the
    // track's values, its last frame filled up with the last real sample
    // (no step at the end for a rig) and the count of those points under
    // PADDED_POINTS; unit "mm" and spacing interval.
    void expect_file(const std::vector<std::string> &labels) const {
        rpc3test::File f;
        ASSERT_EQ(rpc3test::read_file(file, f), "");
        std::vector<std::vector<double>> want = tracks();
        ASSERT_EQ(f.channels, int64_t(labels.size()));
        ASSERT_EQ(want.size(), labels.size());
        EXPECT_EQ(std::strtod(f.value("DELTA_T").c_str(), nullptr), args.reals[5]);
        const size_t n = size_t(std::ceil(args.reals[4] * (1.0 / args.reals[5]))) + 1;
        for (size_t c = 0; c < labels.size(); ++c) {
            const std::string chan = ".CHAN_" + std::to_string(c + 1);
            EXPECT_EQ(f.value("DESC" + chan), labels[c]);
            EXPECT_EQ(f.value("UNITS" + chan), "mm");
            ASSERT_EQ(want[c].size(), n);
            const double s = std::strtod(f.value("SCALE" + chan).c_str(), nullptr);
            const std::vector<double> &got = f.values[c];
            ASSERT_GE(got.size(), n);
            for (size_t k = 0; k < n; ++k)
                ASSERT_NEAR(got[k], want[c][k], s / 2 * (1 + 1e-9))
                    << "channel " << c + 1 << " point " << k;
            for (size_t k = n; k < got.size(); ++k)
                ASSERT_EQ(got[k], got[n - 1]) << "padding " << k;
            EXPECT_EQ(f.value("PADDED_POINTS"), std::to_string(got.size() - n));
        }
    }

    sorvan::test::ScratchDir scratch{"road_command"};
    const fs::path &dir = scratch.path();
    std::string file, out;
    Args args;
};

// ======================================================================
// Argument arrays
// ======================================================================

TEST_F(RoadCommand, IntsOfThreeElements) {
    args.ints = {1, 4711, 0};
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(), 1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(plexa_error_count(), 1);
    EXPECT_EQ(plexa_error_last(), message(ints_message, 3));
    EXPECT_FALSE(called("ac_dur_"));
    EXPECT_TRUE(folder_empty());
}

TEST_F(RoadCommand, EveryWrongCountIsReportedInOrder) {
    args.reals.pop_back();
    args.strings.pop_back();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, message(reals_message, 5) + "\n" + message(strings_message, 2) + "\n");
    EXPECT_EQ(plexa_error_count(), 2);
    EXPECT_FALSE(called("ac_dur_"));
    EXPECT_TRUE(folder_empty());

    args = Args();
    args.ints = {};
    args.reals = {};
    args.strings = {};
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(), 1);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, message(ints_message, 0) + "\n" + message(reals_message, 0) + "\n" +
                       message(strings_message, 0) + "\n");

    // Handles the host does not know count as empty arrays.
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_arrays(nullptr, nullptr, nullptr), 1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(plexa_error_count(), 3);
    EXPECT_FALSE(called("ac_dur_"));
}

TEST_F(RoadCommand, ArraysOfOtherTypesAreConverted) {
    vc_array ints = real_array({1.0, 4711.9}); // 1 and 4711
    vc_array reals = text_array({"1e-6", "1e-8", " 1e-7", "1.5", "300", "0.125"});
    vc_array strings = text_array({file, "left track", "right track"});
    EXPECT_EQ(run_arrays(ints, reals, strings), 0) << out;
    expect_file({"left track"});
}

TEST_F(RoadCommand, NprofsOtherThanOneOrTwo) {
    for (int32_t nprofs : {3, 0, -1}) {
        args.ints[0] = nprofs;
        EXPECT_EQ(run(), 1) << nprofs;
        EXPECT_EQ(out, nprofs_message) << nprofs;
        EXPECT_FALSE(called("ac_dur_")) << nprofs;
        EXPECT_EQ(plexa_error_count(), 0);
        EXPECT_TRUE(folder_empty());
    }
}

// ======================================================================
// Files written
// ======================================================================

// One track: one channel labelled by the first label, 2401 points in two
// groups; the second label is present but unused.
TEST_F(RoadCommand, OneTrackWritesOneChannel) {
    EXPECT_EQ(run(), 0) << out;
    EXPECT_EQ(out, "");
    EXPECT_TRUE(called("ac_dur_rpc_putchannel 1 2401"));
    EXPECT_FALSE(called("ac_dur_rpc_putchannel 2"));
    EXPECT_TRUE(called("ac_dur_terminate"));
    EXPECT_EQ(plexa_rpc_open_count(), 0);
    expect_file({"left track"});
}

TEST_F(RoadCommand, TwoTracksWriteTwoChannels) {
    args.ints = {2, 99};
    args.reals[5] = 0.25;
    EXPECT_EQ(run(), 0) << out;
    EXPECT_TRUE(called("ac_dur_rpc_create 2 1201"));
    expect_file({"left track", "right track"});
}

// ======================================================================
// Failures
// ======================================================================

TEST_F(RoadCommand, BadSynthesisArgumentsWriteNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char *what;
        int32_t nprofs;
        int index; // in reals
        double value;
    } cases[] = {
        {"interval 0", 1, 5, 0.0},
        {"interval negative", 1, 5, -0.125},
        {"interval NaN", 2, 5, nan},
        {"corr_length 0, two tracks", 2, 3, 0.0},
        {"corr_length negative, two tracks", 2, 3, -1.5},
    };
    for (const Case &c : cases) {
        args = Args();
        args.strings[0] = file;
        args.ints[0] = c.nprofs;
        args.reals[size_t(c.index)] = c.value;
        EXPECT_EQ(run(), 1) << c.what;
        EXPECT_EQ(out.rfind("Error synthesizing road profile: ", 0), 0u) << c.what << ": " << out;
        EXPECT_TRUE(folder_empty()) << c.what;
        EXPECT_EQ(plexa_rpc_open_count(), 0) << c.what;
    }
    // One track has no use for the correlation length.
    args = Args();
    args.strings[0] = file;
    args.reals[3] = 0.0;
    EXPECT_EQ(run(), 0) << out;
}

TEST_F(RoadCommand, FileInMissingFolder) {
    const std::string name = (dir / "missing" / "road.rsp").string();
    args.strings[0] = name;
    EXPECT_EQ(run(), 1);
    char text[AC_DUR_ERROR_SIZE];
    ac_dur_rpc_geterror(PLEXA_RPC_E_CREATE, text);
    EXPECT_EQ(out, "Error creating RPC III file " + name + ":  " + text + "\n");
    EXPECT_TRUE(called("ac_dur_terminate"));
    EXPECT_EQ(plexa_rpc_open_count(), 0);
    EXPECT_TRUE(folder_empty());
}

// Coefficients so large that the tracks overflow: the host refuses the
// values, and nothing is left open or on disk.
TEST_F(RoadCommand, TrackThatCannotBeWritten) {
    args.ints = {2, 5};
    args.reals = {1e308, 1e308, 1e308, 1.5, 100.0, 0.125};
    EXPECT_EQ(run(), 1);
    const std::string writing = "Error writing data to RPC III file " + file + ":  ";
    EXPECT_TRUE(out.rfind(writing, 0) == 0 ||
                out.rfind("Error synthesizing road profile: ", 0) == 0)
        << out;
    EXPECT_EQ(plexa_rpc_open_count(), 0);
    EXPECT_TRUE(folder_empty());
}

// A file that cannot be put in place (a folder holds its name) fails at
// the close; the folder stays as it was.
TEST_F(RoadCommand, FileThatCannotBeClosed) {
    fs::create_directory(file);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(out.rfind("Error closing RPC III file " + file + ":  ", 0), 0u) << out;
    EXPECT_TRUE(called("ac_dur_terminate"));
    EXPECT_EQ(plexa_rpc_open_count(), 0);
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_TRUE(fs::is_empty(file));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

} // namespace
