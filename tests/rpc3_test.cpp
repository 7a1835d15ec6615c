// RPC III files written by the stand-in host's durability services, read
// back with an independent reader; what they refuse; whole-or-nothing
// output (a write cut short is injected by fault_injection_test). The
// golden road profile pins the bytes of a two-channel file.
#include "support/cases.h"
#include "support/host_fixture.h"
#include "support/rpc3_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

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

    // Writes the channels (all of one length) to file as the callers do:
    // no channel after a failed one, and the handle closed in any case.
    // Returns the first error.
    int32_t write(const std::string &file, const std::vector<std::vector<double>> &chans,
                  double step = 0.05) {
        int32_t err = -1;
        ac_dur_rpc h = ac_dur_rpc_create(file.c_str(), static_cast<int32_t>(chans.size()),
                                         static_cast<int32_t>(chans[0].size()), step, &err);
        if (!h) return err;
        for (size_t c = 0; c < chans.size() && !err; ++c) {
            std::string label = "Track " + std::to_string(c + 1);
            err = ac_dur_rpc_putchannel(h, static_cast<int32_t>(c + 1),
                                        static_cast<int32_t>(chans[c].size()), chans[c].data(),
                                        label.c_str(), "mm");
        }
        const int32_t closed = ac_dur_rpc_writeclose(h);
        return err ? err : closed;
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

// The size cases of tests/data/cases/rpc3_writer.txt, each channel a wave
// of its own peak.
TEST_F(Rpc3, WorkedSizes) {
    for (const sorvan::test::Case &c : cases("size", 7)) {
        SCOPED_TRACE("line " + std::to_string(c.line));
        const int64_t n = std::stol(c.fields[2]), frames = std::stol(c.fields[4]);
        const int64_t size = std::stol(c.fields[5]) + std::stol(c.fields[6]);
        ASSERT_EQ(plexa_rpc_set_data_type(c.fields[3] == "float" ? PLEXA_RPC_FLOATING_POINT
                                                                 : PLEXA_RPC_SHORT_INTEGER),
                  1);
        std::vector<std::vector<double>> chans;
        for (size_t k = 0; k < std::stoul(c.fields[1]); ++k)
            chans.push_back(wave(size_t(n), 3.0 + double(k), 0.2 * double(k + 1)));
        ASSERT_EQ(write(path("sized.rsp"), chans), 0);
        rpc3test::File f;
        ASSERT_EQ(rpc3test::read_file(path("sized.rsp"), f), "");
        EXPECT_EQ(f.frames, frames);
        EXPECT_EQ(f.padded, frames * 1024 - n); // none for whole groups
        EXPECT_EQ(f.size, size);
        EXPECT_EQ(fs::file_size(path("sized.rsp")), uintmax_t(size));
        for (size_t k = 0; k < chans.size() && c.fields[3] == "short"; ++k)
            expect_values(f, k, chans[k]);
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
// Refusals
// ======================================================================

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
    char text[AC_DUR_ERROR_SIZE];
    EXPECT_EQ(ac_dur_rpc_geterror(PLEXA_RPC_E_CREATE, text), 0);
    EXPECT_STREQ(text, "the file cannot be created (No such file or directory)");
    EXPECT_EQ(plexa_rpc_open_count(), 0);
}

// A value its data type cannot hold (not finite; in floats, beyond them)
// fails its channel. The error sticks to the handle up to the close, which
// writes nothing and leaves a file of that name as it was.
TEST_F(Rpc3, ValueTheDataTypeCannotHoldWritesNothing) {
    sorvan::test::write_bytes(path("p.rsp"), "earlier contents");
    std::vector<double> z(100, 2.0), bad = z;
    bad[50] = NAN;
    ac_dur_rpc h = ac_dur_rpc_create(path("p.rsp").c_str(), 2, 100, 0.1, nullptr);
    EXPECT_EQ(ac_dur_rpc_putchannel(h, 1, 100, bad.data(), "x", "mm"), PLEXA_RPC_E_NONFINITE);
    EXPECT_EQ(ac_dur_rpc_putchannel(h, 2, 100, z.data(), "y", "mm"), PLEXA_RPC_E_NONFINITE);
    EXPECT_EQ(ac_dur_rpc_writeclose(h), PLEXA_RPC_E_NONFINITE);

    plexa_rpc_set_data_type(PLEXA_RPC_FLOATING_POINT);
    z[3] = 1e300;
    EXPECT_EQ(write(path("p.rsp"), {z}), PLEXA_RPC_E_NONFINITE);
    EXPECT_EQ(plexa_rpc_open_count(), 0);
    EXPECT_EQ(folder(), (std::map<std::string, std::string>{{"p.rsp", "earlier contents"}}));
}

} // namespace
