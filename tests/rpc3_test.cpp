// RPC III files written by the stand-in host's durability services, read
// back with an independent reader; the error codes; whole-or-nothing
// output (a write cut short is injected by fault_injection_test).
#include "support/cases.h"
#include "support/host_fixture.h"
#include "support/rpc3_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {

const char *const DATE = "06-Dec-2025 21:44:00";

class Rpc3 : public sorvan::test::HostFolder {
  protected:
    Rpc3() : HostFolder("rpc3_test") {}
    void SetUp() override {
        HostFolder::SetUp();
        plexa_rpc_set_date(DATE);
        ac_dur_initialize();
    }

    std::string path(const char *name) const { return (dir / name).string(); }

    // Writes the channels (all of one length) to file; returns the first error.
    int32_t write(const std::string &file, const std::vector<std::vector<double>> &chans,
                  double step = 0.05) {
        int32_t err = -1;
        ac_dur_rpc h = ac_dur_rpc_create(file.c_str(), static_cast<int32_t>(chans.size()),
                                         static_cast<int32_t>(chans[0].size()), step, &err);
        if (!h) return err;
        for (size_t c = 0; c < chans.size(); ++c) {
            std::string label = "Track " + std::to_string(c + 1);
            err = ac_dur_rpc_putchannel(h, static_cast<int32_t>(c + 1),
                                        static_cast<int32_t>(chans[c].size()), chans[c].data(),
                                        label.c_str(), "mm");
            if (err) {
                plexa_rpc_abandon(h);
                return err;
            }
        }
        return ac_dur_rpc_writeclose(h);
    }
};

// The cases of one kind in tests/data/cases/rpc3_writer.txt, each of the
// given number of fields.
std::vector<sorvan::test::Case> cases(const std::string &kind, size_t fields) {
    std::vector<sorvan::test::Case> some;
    for (const sorvan::test::Case &c : sorvan::test::read_cases("rpc3_writer.txt")) {
        if (c.fields[0] != kind) continue;
        EXPECT_EQ(c.fields.size(), fields) << "line " << c.line;
        if (c.fields.size() == fields) some.push_back(c);
    }
    return some;
}

std::vector<double> wave(size_t n, double amplitude, double phase) {
    std::vector<double> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = amplitude * std::sin(0.013 * double(i) + phase);
    return v;
}

double peak(const std::vector<double> &v) {
    double m = 0;
    for (double x : v)
        m = std::fmax(m, std::fabs(x));
    return m;
}

// Every real point within half a quantisation step; the padding repeats
// the last point exactly, and PADDED_POINTS counts it.
void expect_values(const rpc3test::File &f, size_t c, const std::vector<double> &want) {
    double s = std::strtod(f.value("SCALE.CHAN_" + std::to_string(c + 1)).c_str(), nullptr);
    EXPECT_NEAR(s, peak(want) / 32752, peak(want) / 32752 * 1e-6);
    const std::vector<double> &got = f.values[c];
    ASSERT_GE(got.size(), want.size());
    for (size_t k = 0; k < want.size(); ++k)
        ASSERT_NEAR(got[k], want[k], s / 2 * (1 + 1e-9)) << "channel " << c + 1 << " point " << k;
    EXPECT_EQ(f.padded, int64_t(got.size() - want.size()));
    for (size_t k = want.size(); k < got.size(); ++k)
        ASSERT_EQ(got[k], got[want.size() - 1]) << "padding " << k;
}

// One channel (the golden road profile pins the layout of two and the
// default operation).
TEST_F(Rpc3, OneChannelHeaderInOrder) {
    std::vector<double> z = wave(5000, 37.5, 0.3);
    plexa_rpc_set_operation("GENRPROF_SAYERS");
    ASSERT_EQ(write(path("one.rsp"), {z}), 0);
    rpc3test::File f;
    ASSERT_EQ(rpc3test::read_file(path("one.rsp"), f), "");
    const std::vector<std::pair<std::string, std::string>> want = {
        {"FORMAT", "BINARY_IEEE_LITTLE_END"},
        {"NUM_HEADER_BLOCKS", "7"},
        {"NUM_PARAMS", "27"},
        {"FILE_TYPE", "TIME_HISTORY"},
        {"DATA_TYPE", "SHORT_INTEGER"},
        {"TIME_TYPE", "RESPONSE"},
        {"DELTA_T", "5.000000E-02"},
        {"PTS_PER_FRAME", "1024"},
        {"CHANNELS", "1"},
        {"PTS_PER_GROUP", "2048"},
        {"BYPASS_FILTER", "0"},
        {"HALF_FRAMES", "0"},
        {"REPEATS", "0"},
        {"FRAMES", "6"},
        {"PADDED_POINTS", "1144"}, // 6 x 1024 - 5000
        {"SCALE.CHAN_1", f.value("SCALE.CHAN_1")},
        {"UPPER_LIMIT.CHAN_1", "1.000000E+00"},
        {"LOWER_LIMIT.CHAN_1", "-1.000000E+00"},
        {"MAP.CHAN_1", "1"},
        {"PARTITIONS", "1"},
        {"PART.CHAN_1", "1"},
        {"PART.NCHAN_1", "1"},
        {"DESC.CHAN_1", "Track 1"},
        {"UNITS.CHAN_1", "mm"},
        {"DATE", DATE},
        {"OPERATION", "GENRPROF_SAYERS"},
        {"INT_FULL_SCALE", "32752"},
    };
    EXPECT_EQ(f.records, want);
    EXPECT_EQ(f.size, 15872);
    expect_values(f, 0, z);
}

// The size cases of tests/data/cases/rpc3_writer.txt.
TEST_F(Rpc3, WorkedSizes) {
    for (const sorvan::test::Case &c : cases("size", 7)) {
        SCOPED_TRACE("line " + std::to_string(c.line));
        const int64_t n = std::stol(c.fields[2]), frames = std::stol(c.fields[4]);
        const int64_t size = std::stol(c.fields[5]) + std::stol(c.fields[6]);
        ASSERT_EQ(plexa_rpc_set_data_type(c.fields[3] == "float" ? PLEXA_RPC_FLOATING_POINT
                                                                 : PLEXA_RPC_SHORT_INTEGER),
                  1);
        std::vector<std::vector<double>> chans(std::stoul(c.fields[1]), wave(size_t(n), 3.0, 0.2));
        ASSERT_EQ(write(path("sized.rsp"), chans), 0);
        rpc3test::File f;
        ASSERT_EQ(rpc3test::read_file(path("sized.rsp"), f), "");
        EXPECT_EQ(f.frames, frames);
        EXPECT_EQ(f.padded, frames * 1024 - n); // none for whole groups
        EXPECT_EQ(f.size, size);
        EXPECT_EQ(fs::file_size(path("sized.rsp")), uintmax_t(size));
    }
}

TEST_F(Rpc3, QuantisationRoundsHalvesAwayFromZero) {
    // Peak 32752 gives the scale 1.0 exactly, so the stored integers show the
    // rounding itself.
    std::vector<double> z = {32752.0, 0.5, -0.5, 1.5, -2.5, 2.4999, -32752.0, 0.0};
    ASSERT_EQ(write(path("q.rsp"), {z}), 0);
    rpc3test::File f;
    ASSERT_EQ(rpc3test::read_file(path("q.rsp"), f), "");
    EXPECT_EQ(f.value("SCALE.CHAN_1"), "1.000000E+00");
    std::vector<int16_t> head(f.raw[0].begin(), f.raw[0].begin() + 8);
    EXPECT_EQ(head, (std::vector<int16_t>{32752, 1, -1, 2, -3, 2, -32752, 0}));
}

TEST_F(Rpc3, ScaleOfExtremeChannels) {
    struct Case {
        double value;
        const char *scale;
        double tolerance;
    } cases[] = {
        {0.0, "1.000000E+00", 0.0},        // all zero: never a zero scale
        {1e-310, "2.225074E-308", 1e-307}, // raised to the smallest normal double
        {1e300, "3.053249E+295", 1e294},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.scale);
        std::vector<double> z(100, c.value);
        z[7] = -c.value;
        ASSERT_EQ(write(path("x.rsp"), {z}), 0);
        rpc3test::File f;
        ASSERT_EQ(rpc3test::read_file(path("x.rsp"), f), "");
        EXPECT_EQ(f.value("SCALE.CHAN_1"), c.scale);
        EXPECT_NEAR(f.values[0][0], c.value, c.tolerance);
        EXPECT_NEAR(f.values[0][7], -c.value, c.tolerance);
    }
}

TEST_F(Rpc3, FloatingPointKeepsFloats) {
    plexa_rpc_set_data_type(PLEXA_RPC_FLOATING_POINT);
    std::vector<double> z = {0.1, -1e30, 3.0e38, 1e-40, 0.0};
    ASSERT_EQ(write(path("f.rsp"), {z}), 0);
    rpc3test::File f;
    ASSERT_EQ(rpc3test::read_file(path("f.rsp"), f), "");
    EXPECT_EQ(f.value("DATA_TYPE"), "FLOATING_POINT");
    EXPECT_EQ(f.value("SCALE.CHAN_1"), "1.000000E+00");
    for (size_t k = 0; k < z.size(); ++k)
        EXPECT_EQ(f.values[0][k], double(float(z[k])));
    // Two channels, each padded with its own last float (0 for the first).
    ASSERT_EQ(write(path("g.rsp"), {z, {5, 4, 3, 2, -1.5}}), 0);
    ASSERT_EQ(rpc3test::read_file(path("g.rsp"), f), "");
    EXPECT_EQ(f.values[0][2047], 0.0);
    EXPECT_EQ(f.values[1][2047], -1.5);
}

TEST_F(Rpc3, TextsAreCleanedAndCut) {
    int32_t err;
    ac_dur_rpc h = ac_dur_rpc_create(path("t.rsp").c_str(), 2, 10, 0.5, &err);
    ASSERT_NE(h, nullptr);
    std::vector<double> z(10, 1.0);
    std::string longer(200, 'L');
    EXPECT_EQ(ac_dur_rpc_putchannel(h, 1, 10, z.data(), "Spur\xc3\xa4\tlinks", nullptr), 0);
    EXPECT_EQ(ac_dur_rpc_putchannel(h, 2, 10, z.data(), longer.c_str(), "mm"), 0);
    ASSERT_EQ(ac_dur_rpc_writeclose(h), 0);
    rpc3test::File f;
    ASSERT_EQ(rpc3test::read_file(path("t.rsp"), f), "");
    EXPECT_EQ(f.value("DESC.CHAN_1"), "Spur???links");
    EXPECT_EQ(f.value("UNITS.CHAN_1"), "");
    EXPECT_EQ(f.value("DESC.CHAN_2"), std::string(95, 'L'));
}

// ======================================================================
// Error codes
// ======================================================================

std::string text_of(int32_t code) {
    char buf[AC_DUR_ERROR_SIZE];
    std::memset(buf, 'x', sizeof buf);
    ac_dur_rpc_geterror(code, buf);
    return buf;
}

TEST_F(Rpc3, EveryCodeHasItsOwnText) {
    std::set<std::string> texts;
    for (int32_t code = 0; code <= PLEXA_RPC_E_LAST; ++code) {
        char buf[AC_DUR_ERROR_SIZE];
        EXPECT_EQ(ac_dur_rpc_geterror(code, buf), 0);
        EXPECT_LT(std::strlen(buf), size_t(AC_DUR_ERROR_SIZE));
        EXPECT_GT(std::strlen(buf), 5u);
        texts.insert(buf);
    }
    EXPECT_EQ(texts.size(), size_t(PLEXA_RPC_E_LAST + 1));
    char buf[AC_DUR_ERROR_SIZE];
    EXPECT_EQ(ac_dur_rpc_geterror(99, buf), -1);
    EXPECT_STREQ(buf, "unknown error code 99");
    EXPECT_EQ(ac_dur_rpc_geterror(-1, buf), -1);
    EXPECT_EQ(ac_dur_rpc_geterror(1, nullptr), -1);
}

// The create cases of tests/data/cases/rpc3_writer.txt.
TEST_F(Rpc3, CreateRefusesBadArguments) {
    for (const sorvan::test::Case &c : cases("create", 6)) {
        SCOPED_TRACE("line " + std::to_string(c.line));
        const std::string &name = c.fields[1];
        const std::string file = name.empty() ? "" : path(name.c_str());
        int32_t err = 0;
        ac_dur_rpc h =
            ac_dur_rpc_create(name == "null" ? nullptr : file.c_str(), std::stoi(c.fields[2]),
                              std::stoi(c.fields[3]), std::stod(c.fields[4]), &err);
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(err, c.fields[5] == "create" ? PLEXA_RPC_E_CREATE : PLEXA_RPC_E_ARGUMENTS);
    }
    EXPECT_TRUE(folder().empty());
    EXPECT_EQ(text_of(PLEXA_RPC_E_CREATE),
              "the file cannot be created (No such file or directory)");
    EXPECT_EQ(plexa_rpc_open_count(), 0);
}

TEST_F(Rpc3, CreateBeforeInitializeOrAfterTerminate) {
    ac_dur_terminate();
    int32_t err = 0;
    EXPECT_EQ(ac_dur_rpc_create(path("a.rsp").c_str(), 1, 10, 0.1, &err), nullptr);
    EXPECT_EQ(err, PLEXA_RPC_E_NOT_READY);
    ac_dur_initialize();
    ac_dur_rpc h = ac_dur_rpc_create(path("a.rsp").c_str(), 1, 10, 0.1, &err);
    EXPECT_NE(h, nullptr);
    EXPECT_EQ(err, 0);
    // Terminating releases the open handle and leaves nothing on disk.
    ac_dur_terminate();
    EXPECT_EQ(plexa_rpc_open_count(), 0);
    std::vector<double> z(10, 1.0);
    EXPECT_EQ(ac_dur_rpc_putchannel(h, 1, 10, z.data(), "x", "mm"), PLEXA_RPC_E_HANDLE);
    EXPECT_TRUE(folder().empty());
}

TEST_F(Rpc3, PutErrorsStickAndLeaveNoFile) {
    std::vector<double> z(100, 2.0), bad = z;
    bad[50] = NAN;
    struct Case {
        int32_t channel, points;
        const double *values;
        int32_t code;
    } cases[] = {
        {0, 100, z.data(), PLEXA_RPC_E_CHANNEL},     {3, 100, z.data(), PLEXA_RPC_E_CHANNEL},
        {1, 99, z.data(), PLEXA_RPC_E_POINTS},       {1, 100, nullptr, PLEXA_RPC_E_VALUES},
        {1, 100, bad.data(), PLEXA_RPC_E_NONFINITE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        ac_dur_rpc h = ac_dur_rpc_create(path("p.rsp").c_str(), 2, 100, 0.1, nullptr);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(ac_dur_rpc_putchannel(h, c.channel, c.points, c.values, "x", "mm"), c.code);
        // Once failed, the handle keeps its first error to the close.
        EXPECT_EQ(ac_dur_rpc_putchannel(h, 2, 100, z.data(), "y", "mm"), c.code);
        EXPECT_EQ(ac_dur_rpc_writeclose(h), c.code);
        EXPECT_EQ(ac_dur_rpc_writeclose(h), PLEXA_RPC_E_HANDLE);
        EXPECT_EQ(plexa_rpc_open_count(), 0);
        EXPECT_TRUE(folder().empty());
    }
}

TEST_F(Rpc3, ChannelTwiceOrMissingWritesNothing) {
    sorvan::test::write_bytes(path("p.rsp"), "earlier contents");
    std::vector<double> z(100, 2.0);
    ac_dur_rpc h = ac_dur_rpc_create(path("p.rsp").c_str(), 1, 100, 0.1, nullptr);
    EXPECT_EQ(ac_dur_rpc_putchannel(h, 1, 100, z.data(), "x", "mm"), 0);
    EXPECT_EQ(ac_dur_rpc_putchannel(h, 1, 100, z.data(), "x", "mm"), PLEXA_RPC_E_TWICE);
    EXPECT_EQ(ac_dur_rpc_writeclose(h), PLEXA_RPC_E_TWICE);

    h = ac_dur_rpc_create(path("p.rsp").c_str(), 2, 100, 0.1, nullptr);
    EXPECT_EQ(ac_dur_rpc_putchannel(h, 2, 100, z.data(), "x", "mm"), 0);
    EXPECT_EQ(ac_dur_rpc_writeclose(h), PLEXA_RPC_E_MISSING);
    EXPECT_EQ(folder(), (std::map<std::string, std::string>{{"p.rsp", "earlier contents"}}));

    plexa_rpc_set_data_type(PLEXA_RPC_FLOATING_POINT);
    h = ac_dur_rpc_create(path("p.rsp").c_str(), 1, 100, 0.1, nullptr);
    z[3] = 1e300; // finite, but no float holds it
    EXPECT_EQ(ac_dur_rpc_putchannel(h, 1, 100, z.data(), "x", "mm"), PLEXA_RPC_E_NONFINITE);
    EXPECT_EQ(plexa_rpc_abandon(h), 0);
    EXPECT_EQ(plexa_rpc_abandon(h), PLEXA_RPC_E_HANDLE);
}

TEST_F(Rpc3, ForeignHandlesAreRefused) {
    std::vector<double> z(10, 1.0);
    ac_dur_rpc foreign = reinterpret_cast<ac_dur_rpc>(z.data());
    EXPECT_EQ(ac_dur_rpc_putchannel(foreign, 1, 10, z.data(), "x", "mm"), PLEXA_RPC_E_HANDLE);
    EXPECT_EQ(ac_dur_rpc_writeclose(nullptr), PLEXA_RPC_E_HANDLE);
    EXPECT_EQ(ac_dur_rpc_writeclose(reinterpret_cast<ac_dur_rpc>(plexa_array_create(1, 1))),
              PLEXA_RPC_E_HANDLE);
}

} // namespace
