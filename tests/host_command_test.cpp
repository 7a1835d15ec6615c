// KAVEL2PELDA_BDF_WRITE through the stand-in host: what it fetches from the
// model database and in which order, how the unit objects are chosen, how
// the connecting values reach SI units and the header, the external-input
// section that only the host command writes, and what each failure leaves.
#include "frame/host_codes.h"
#include "host/plexa_setup.h"
#include "sorvan_view.h"
#include "support/bdf_check.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path data_dir = fs::path(SORVAN_TEST_DATA) / "host";

// Object types and attributes of the command and its unit objects.
using namespace sorvan::host_codes;

// Sizes of one MAP unit of the quarter-car model in SI units.
constexpr double map_length = 0.001;               // millimetre
constexpr double map_angle = 0.017453292519943295; // degree
constexpr double map_force = 1.0;                  // newton

using sorvan::test::has_line;
using sorvan::test::read_text;
using sorvan::test::write_text;

const char *const section_ext = "$* KAVEL2PELDA: External Input Stiffness Matrix";

class HostCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        plexa_reset();
        for (const char *name : {"quarter.map", "quarter_a", "quarter_b", "quarter_c", "quarter_d"})
            fs::copy_file(data_dir / name, dir / name);
        command = plexa_object_create(command_object_type, nullptr);
        folder = plexa_object_create(1, nullptr);
        plexa_set_object(command, attr_unit_folder, folder);
    }
    void TearDown() override { plexa_reset(); }

    // A unit-naming object under parent (the folder by default).
    ac_object unit(int32_t id, const char *label, ac_object parent = nullptr) {
        ac_object u = plexa_object_create(unit_object_type, parent ? parent : folder);
        plexa_set_int(u, attr_unit_id, id);
        plexa_set_string(u, attr_unit_label, label);
        return u;
    }

    // The SI units under identifiers 1 to 4 and attribute 505 naming them.
    void si_units(double stif = 1.0, double damp = 2.0, double tstf = 3.0, double tdmp = 4.0) {
        unit(1, "m");
        unit(2, "n");
        unit(3, "kg");
        unit(4, "s");
        set_values({1, 2, 3, 4, stif, damp, tstf, tdmp});
    }

    void set_values(const std::vector<double> &v) {
        plexa_set_reals(command, attr_command_values, v.data(), static_cast<int32_t>(v.size()));
    }

    // Runs the command on the scratch copy of the model, keeping its output.
    int32_t run(const char *map = "quarter.map") {
        map_file = (dir / map).string();
        base = (dir / "quarter_").string();
        plexa_calls_clear();
        testing::internal::CaptureStdout();
        int32_t rc = kavel2pelda_full(command, map_file.c_str(), base.c_str());
        out = testing::internal::GetCapturedStdout();
        return rc;
    }

    fs::path bdf() const { return dir / "quarter.bdf"; }

    std::vector<std::string> calls() const {
        std::vector<std::string> v;
        for (int32_t i = 0; i < plexa_calls_count(); ++i)
            v.push_back(plexa_calls_get(i));
        return v;
    }

    // The quarter-car MAP file with texts replaced, under a new name.
    std::string variant(const std::string &name,
                        const std::vector<std::pair<std::string, std::string>> &changes) {
        std::string text = read_text(data_dir / "quarter.map");
        for (const auto &[from, to] : changes) {
            size_t at = text.find(from);
            EXPECT_NE(at, std::string::npos) << from;
            if (at != std::string::npos) text.replace(at, from.size(), to);
        }
        write_text(dir / name, text);
        return name;
    }

    sorvan::test::SavedParameters saved;
    sorvan::test::ScratchDir scratch{"host_command"};
    const fs::path &dir = scratch.path();
    ac_object command = nullptr, folder = nullptr;
    std::string map_file, base, out;
};

// ======================================================================
// Refusals before anything of the converter changes
// ======================================================================

TEST_F(HostCommand, ObjectOfAnotherTypeFetchesNothing) {
    ac_object other = plexa_object_create(63, nullptr);
    plexa_set_object(other, attr_unit_folder, folder);
    si_units();
    plexa_set_reals(other, attr_command_values, std::vector<double>(8, 1.0).data(), 8);
    std::swap(command, other);
    EXPECT_EQ(run(), -7);
    EXPECT_EQ(calls(), (std::vector<std::string>{"ac_initialize KAVEL_VIEW", "ac_object_type"}));
    EXPECT_FALSE(fs::exists(bdf()));
    EXPECT_EQ(v_stif, 1e9);
    EXPECT_STREQ(lu_lab, "METER");

    command = nullptr; // a null handle is an object of no type
    EXPECT_EQ(run(), -7);
}

TEST_F(HostCommand, FewerThanEightValuesReturnMinus8) {
    unit(1, "mm");
    struct Case {
        const char *what;
        std::vector<double> values;
    } cases[] = {{"seven values", {1, 1, 1, 1, 5, 6, 7}}, {"no values", {}}};
    for (const Case &c : cases) {
        set_values(c.values);
        EXPECT_EQ(run(), -8) << c.what;
        for (const std::string &call : calls())
            EXPECT_NE(call.rfind("ac_lookup", 0), 0u) << c.what << ": " << call;
    }
    plexa_set_int(command, attr_command_values, 8); // the attribute holds no reals
    EXPECT_EQ(run(), -8);
    ac_object bare = plexa_object_create(command_object_type, nullptr);
    std::swap(command, bare); // no attribute 505 at all
    EXPECT_EQ(run(), -8);
    EXPECT_FALSE(fs::exists(bdf()));
    EXPECT_EQ(v_stif, 1e9);
    EXPECT_STREQ(lu_lab, "METER");
}

// ======================================================================
// Values and unit objects
// ======================================================================

TEST_F(HostCommand, EightOrMoreValuesUseTheFirstEight) {
    si_units();
    for (size_t count : {8u, 9u, 33u, 40u}) {
        std::vector<double> v = {1, 2, 3, 4, 5.0, 6.0, 7.0, 8.0};
        while (v.size() < count)
            v.push_back(std::numeric_limits<double>::quiet_NaN());
        set_values(v);
        ASSERT_EQ(run(), 1) << count << " values: " << out;
        EXPECT_EQ(v_stif, 1.0 / 0.001 * 5.0) << count;
        EXPECT_EQ(v_damp, 1.0 / 0.001 * 1.0 * 6.0) << count;
        EXPECT_TRUE(std::isfinite(v_tstf) && std::isfinite(v_tdmp)) << count;
    }
}

// The identifiers are truncated toward zero; a later object with the same
// identifier wins; objects that are not unit objects, or carry no
// identifier, match nothing; unit objects nested further down are found.
TEST_F(HostCommand, UnitObjectsAreChosenByTruncatedIdentifier) {
    unit(3, "cm");
    unit(4, "km");
    unit(-3, "in");
    unit(-4, "ft");
    ac_object nest = plexa_object_create(1, folder);
    unit(7, "kn", nest);
    unit(8, "kg");
    unit(9, "ms");
    unit(3, "mm"); // overrides the first object of identifier 3
    ac_object no_id = plexa_object_create(unit_object_type, folder);
    plexa_set_string(no_id, attr_unit_label, "lbm");
    ac_object other = plexa_object_create(65, folder);
    plexa_set_int(other, attr_unit_id, 8);
    plexa_set_string(other, attr_unit_label, "slug");

    set_values({3.9, 7.2, 8.999, 9.5, 1, 1, 1, 1});
    ASSERT_EQ(run(), 1) << out;
    EXPECT_STREQ(lu_lab, "MILLIMETER");
    EXPECT_STREQ(fu_lab, "KNEWTON");
    EXPECT_STREQ(mu_lab, "KILOGRAM");
    EXPECT_STREQ(tu_lab, "MILLISECOND");
    std::string text = read_text(bdf());
    EXPECT_TRUE(has_line(text, "$*  length unit: MILLIMETER"));
    EXPECT_TRUE(has_line(text, "$*  force unit:  KNEWTON"));
    EXPECT_TRUE(has_line(text, "$*  mass unit:   KILOGRAM"));
    EXPECT_TRUE(has_line(text, "$*  time unit:   MILLISECOND"));

    set_values({-3.9, 7, 8, 9, 1, 1, 1, 1});
    ASSERT_EQ(run(), 1) << out;
    EXPECT_STREQ(lu_lab, "INCH");
}

// The lookup runs from its begin to its done before anything else, and
// the only attributes read are the identifier and the label.
TEST_F(HostCommand, FetchesInOrderAndClosesTheLookup) {
    si_units();
    ASSERT_EQ(run(), 1) << out;
    std::vector<std::string> c = calls();
    ASSERT_GE(c.size(), 6u);
    EXPECT_EQ(c[0], "ac_initialize KAVEL_VIEW");
    EXPECT_EQ(c[1], "ac_object_type");
    EXPECT_EQ(c[2], "ac_get_object 10");
    size_t begin = 3;
    while (begin < c.size() && c[begin] == "ac_get_reals 505")
        ++begin;
    EXPECT_GT(begin, 3u) << "attribute 505 not fetched";
    ASSERT_LT(begin, c.size());
    EXPECT_EQ(c[begin], "ac_lookup_begin 66");
    EXPECT_EQ(c.back(), "ac_lookup_done");
    for (size_t i = begin + 1; i + 1 < c.size(); ++i)
        EXPECT_TRUE(c[i].rfind("ac_lookup_object ", 0) == 0 || c[i] == "ac_get_int 11" ||
                    c[i] == "ac_get_string 518")
            << c[i];
}

TEST_F(HostCommand, UnknownLengthIdentifierReturnsMinus6) {
    unit(2, "n");
    unit(3, "kg");
    unit(4, "s");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double id : {1.0, 1e10, -1e10, nan}) {
        set_values({id, 2, 3, 4, 5, 6, 7, 8});
        EXPECT_EQ(run(), -6) << id;
        EXPECT_STREQ(lu_lab, "") << id;
        EXPECT_STREQ(fu_lab, "NEWTON") << id;
        EXPECT_STREQ(tu_lab, "SECOND") << id;
        EXPECT_EQ(v_stif, 1e9) << id; // the MAP file was not opened
        EXPECT_FALSE(fs::exists(bdf())) << id;
    }
    unit(1, "furlong"); // found, but no unit this system knows
    set_values({1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(run(), -6);
    EXPECT_STREQ(lu_lab, "furlong");

    ac_object bare = plexa_object_create(command_object_type, nullptr); // no unit folder
    plexa_set_reals(bare, attr_command_values, std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8}.data(),
                    8);
    std::swap(command, bare);
    EXPECT_EQ(run(), -6);
    EXPECT_STREQ(lu_lab, "");
    EXPECT_STREQ(tu_lab, "");
}

// MAP in millimetres and newtons, value 5 = 1.0: 1000 N/m, and the header
// prints the SI values.
TEST_F(HostCommand, ConnectingValuesReachSIUnits) {
    si_units(1.0, 0.5, 2.0, 0.25);
    ASSERT_EQ(run(), 1) << out;
    EXPECT_EQ(v_stif, 1000.0);
    EXPECT_EQ(v_damp, 1.0 / map_length * map_force * 0.5);
    EXPECT_EQ(v_tstf, map_force / map_angle * map_length * 2.0);
    EXPECT_EQ(v_tdmp, 1.0 / map_angle * map_force * map_length * 0.25);
    EXPECT_NEAR(v_tstf, 0.11459155902616465, 1e-15);
    std::string text = read_text(bdf());
    EXPECT_TRUE(has_line(text, "$*  connecting stiffness value: (1.000000E+03 [N/m])")) << text;
    EXPECT_TRUE(has_line(text, "$*  connecting damping value:   (5.000000E+02 [N*s/m])"));
    EXPECT_TRUE(has_line(text, "$*  connecting t_stiff. value   (1.145916E-01 [N*m/rad])"));
    EXPECT_TRUE(has_line(text, "$*  connecting t_damp. value    (1.432394E-02 [N*m*s/rad])"));
    auto check = sorvan::test::check_bdf_file(bdf().string());
    EXPECT_TRUE(check.ok()) << check.report();
}

// ======================================================================
// External inputs
// ======================================================================

// The host command writes the external-input section between the coupling
// and the force cards; kavel2pelda, given the same parameters, writes the
// same file without it.
TEST_F(HostCommand, OnlyTheHostCommandWritesExternalInputs) {
    si_units();
    ASSERT_EQ(run(), 1) << out;
    const std::string full = read_text(bdf());
    // Internal input 1001, external input 1002 (grid offset 1000).
    const std::string block = std::string("$*\n") + section_ext +
                              "\n$*\n"
                              "TF             1    1002       0  1.0000  0.0000  0.0000\n";
    size_t at = full.find(block);
    ASSERT_NE(at, std::string::npos) << full;
    EXPECT_LT(full.find("f(kavel) = Kv"), at);
    EXPECT_EQ(full.compare(at + block.size(), 30, "$*\n$* KAVEL2PELDA: f(pelda) = "), 0);
    auto check = sorvan::test::check_bdf_file(bdf().string());
    EXPECT_TRUE(check.ok()) << check.report();

    char lu[64], fu[64], mu[64];
    std::strcpy(lu, lu_lab);
    std::strcpy(fu, fu_lab);
    std::strcpy(mu, mu_lab);
    fs::remove(bdf());
    testing::internal::CaptureStdout();
    int32_t rc = kavel2pelda(map_file.c_str(), base.c_str(), lu, fu, mu, '1');
    out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(rc, 1) << out;
    const std::string plain = read_text(bdf());
    EXPECT_EQ(plain.find(section_ext), std::string::npos);
    // kavel2pelda does not read the external-input names either; the
    // EPOINT card after the empty name still stands on a line of its own.
    std::string want = full.substr(0, at) + full.substr(at + block.size());
    const std::string named = "$* KAVEL Variable Name: road elevation\n";
    ASSERT_NE(want.find(named), std::string::npos);
    want.replace(want.find(named), named.size(), "$* KAVEL Variable Name: \n");
    EXPECT_EQ(plain, want);
}

// ======================================================================
// Failures after the parameters were written
// ======================================================================

TEST_F(HostCommand, FailedConversionKeepsTheValuesOfTheCall) {
    unit(1, "mm");
    unit(2, "kn");
    unit(3, "mgg");
    unit(4, "ms");
    set_values({1, 2, 3, 4, 1.0, 2.0, 3.0, 4.0});
    // MAP forces in kilonewtons and times in milliseconds.
    std::string map = variant("no_outputs.map", {{"ABCD_OUTPUT_N = 2", "ABCD_OUTPUT_N = 0"},
                                                 {"FORCE = 'newton'", "FORCE = 'kn'"},
                                                 {"TIME = 'second'", "TIME = 'millisecond'"}});
    const double force = 1000.0, time = 0.001;
    EXPECT_EQ(run(map.c_str()), -3);
    EXPECT_NE(out.find("State space output is not found."), std::string::npos) << out;
    EXPECT_EQ(v_stif, force / map_length * 1.0);
    EXPECT_EQ(v_damp, time / map_length * force * 2.0);
    EXPECT_EQ(v_tstf, force / map_angle * map_length * 3.0);
    EXPECT_EQ(v_tdmp, time / map_angle * force * map_length * 4.0);
    EXPECT_DOUBLE_EQ(v_stif, 1e6);
    EXPECT_DOUBLE_EQ(v_damp, 2000.0);
    EXPECT_STREQ(lu_lab, "MILLIMETER");
    EXPECT_STREQ(fu_lab, "KNEWTON");
    EXPECT_STREQ(mu_lab, "MEGAGRAM");
    EXPECT_STREQ(tu_lab, "MILLISECOND");
    EXPECT_FALSE(fs::exists(dir / "no_outputs.bdf"));
}

// The connecting values are divided by the MAP length and angle units: a
// file that names neither is refused instead of giving infinities.
TEST_F(HostCommand, MapFileWithoutLengthOrAngleUnitIsRefused) {
    si_units();
    struct Case {
        const char *file, *line, *word;
    } cases[] = {{"no_length.map", "LENGTH = 'mm'\n", "length"},
                 {"no_angle.map", "ANGLE = 'degree'\n", "angle"}};
    for (const Case &c : cases) {
        std::string map = variant(c.file, {{c.line, ""}});
        EXPECT_EQ(run(map.c_str()), -1) << c.file;
        EXPECT_NE(out.find(c.word), std::string::npos) << c.file << ": " << out;
        EXPECT_TRUE(std::isfinite(v_stif) && std::isfinite(v_damp) && std::isfinite(v_tstf) &&
                    std::isfinite(v_tdmp))
            << c.file;
        EXPECT_FALSE(fs::exists(dir / (std::string(c.file, std::strlen(c.file) - 3) + "bdf")))
            << c.file;
    }
    std::string map = variant("no_units.map", {{"[UNITS]", "[NO_UNITS]"}});
    EXPECT_EQ(run(map.c_str()), -1);
    EXPECT_FALSE(fs::exists(dir / "no_units.bdf"));
}

TEST_F(HostCommand, MissingFileNamesReturnMinus1) {
    si_units();
    testing::internal::CaptureStdout();
    EXPECT_EQ(kavel2pelda_full(command, nullptr, nullptr), -1);
    map_file = (dir / "quarter.map").string();
    EXPECT_EQ(kavel2pelda_full(command, map_file.c_str(), nullptr), -1);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(fs::exists(bdf()));
}

TEST_F(HostCommand, MissingMapFileReturnsMinus1) {
    unit(1, "mm");
    unit(2, "n");
    unit(3, "kg");
    unit(4, "s");
    set_values({1, 2, 3, 4, 7, 7, 7, 7});
    EXPECT_EQ(run("absent.map"), -1);
    EXPECT_STREQ(lu_lab, "MILLIMETER"); // the labels were written, the values not
    EXPECT_EQ(v_stif, 1e9);
    std::set<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"quarter.map", "quarter_a", "quarter_b", "quarter_c",
                                            "quarter_d"}));
}

} // namespace
