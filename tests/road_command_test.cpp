// GENRPROF_SAYERS through the stand-in host: one track. Arrays of other
// types (reals given as texts) and what it refuses are in the catalogue of
// bad input, the golden road profile (its tracks read back with the
// independent reader) in plugin_test and its write failures in
// fault_injection_test.
#include "sorvan_view.h"
#include "support/host_fixture.h"
#include "support/rpc3_reader.h"

#include <gtest/gtest.h>

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
const std::vector<std::string> texts = {"road.rsp", "left track", "right track"};

// One track: one channel under the first label; the second is unused.
TEST_F(RoadCommand, OneTrackWritesOneChannel) {
    EXPECT_EQ(run(array(VC_INTEGER, {1, 4711}), array(VC_REAL, reals), array(VC_TEXT, {}, texts)),
              0)
        << out;
    EXPECT_EQ(out, "");
    EXPECT_TRUE(called("ac_dur_rpc_putchannel 1 2401"));
    EXPECT_FALSE(called("ac_dur_rpc_putchannel 2"));
    EXPECT_TRUE(called("ac_dur_terminate"));
    rpc3test::File f;
    ASSERT_EQ(rpc3test::read_file("road.rsp", f), "");
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.value("DESC.CHAN_1"), "left track");
}

} // namespace
