// The converter through its C entries, on what the golden decks and the
// catalogue of bad input do not show: the options (set identifier, wheel
// divisions, large fields, the BDF name), models without internal inputs,
// without nodes or with a velocity output in the first row, the state kept
// between calls, the time codes, and KAVEL2PELDA_BDF_WRITE's use of the
// host database. Every deck is read back with the library's deck reader,
// which also checks that it holds together.
#include "analysis/deck.h"
#include "support/host_fixture.h"

#include "bdf_export/bdf.h"
#include "sorvan_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace sorvan::host_codes;
using sorvan::analysis::Deck;
using sorvan::test::printed;
using sorvan::test::read_text;
using sorvan::test::write_text;

namespace {

class Convert : public sorvan::test::ConverterFolder {
  protected:
    Convert() : ConverterFolder("convert") {}
    void SetUp() override {
        ConverterFolder::SetUp();
        copy_truck();
    }

    // The plain converter in SI units; its messages go to out.
    int32_t convert(const std::string &map, const std::string &abc = "truck_", char time_code = '1',
                    const char *length = "m") {
        char lu[64], fu[64] = "N", mu[64] = "kg";
        std::snprintf(lu, sizeof lu, "%s", length);
        int32_t rc = 0;
        out = printed([&] { rc = kavel2pelda(map.c_str(), abc.c_str(), lu, fu, mu, time_code); });
        return rc;
    }

    // A copy of a file of the folder with texts replaced.
    void variant(const std::string &from, const std::string &to,
                 const std::vector<std::pair<std::string, std::string>> &changes) {
        std::string text = read_text(dir / from);
        for (const auto &[old, now] : changes) {
            const size_t at = text.find(old);
            ASSERT_NE(at, std::string::npos) << from << ": " << old;
            text.replace(at, old.size(), now);
        }
        write_text(dir / to, text);
    }

    // A copy of an ABC member with only the lines for which keep(line
    // number from 1, line) gives text, that text in its place.
    template <class Keep> void lines_of(const std::string &from, const std::string &to, Keep keep) {
        std::istringstream in(read_text(dir / from));
        std::string text;
        int n = 0;
        for (std::string line; std::getline(in, line);)
            if (std::string kept = keep(++n, line); !kept.empty()) text += kept + "\n";
        write_text(dir / to, text);
    }

    // The deck, read back; a deck the reader refuses fails the test.
    Deck deck(const std::string &file) {
        Deck d;
        std::string error;
        EXPECT_TRUE(sorvan::analysis::read_deck((dir / file).string(), d, error)) << error;
        return d;
    }

    std::string out;
};

// The TF card of a point, or null.
const sorvan::analysis::TfCard *card(const Deck &d, int32_t point) {
    for (const auto &tf : d.tfs)
        if (tf.point == point) return &tf;
    return nullptr;
}

// The term of a card that names a point, or null.
const sorvan::analysis::TfTerm *term(const sorvan::analysis::TfCard *tf, int32_t point) {
    if (tf)
        for (const auto &t : tf->terms)
            if (t.point == point) return &t;
    return nullptr;
}

// ======================================================================
// Models the golden decks do not show
// ======================================================================

// The truck's first two output rows swapped: the velocity of the force's
// point comes first. Its coupling card (input 1001) takes the velocity
// output 1005 with the damping in MAP units, 1e6 N*s/m x 0.001 m/mm, and
// the displacement output 1006 with the stiffness, 1e9 N/m x 0.001.
TEST_F(Convert, VelocityOutputInTheFirstRow) {
    variant("truck.map", "swapped.map", {{"1 101 3 1\n2 101 3 2\n", "1 101 3 2\n2 101 3 1\n"}});
    ASSERT_EQ(convert("swapped.map"), 1) << out;
    const Deck d = deck("swapped.bdf");
    const auto *coupling = card(d, 1001);
    ASSERT_NE(coupling, nullptr);
    ASSERT_EQ(coupling->terms.size(), 3u); // the point, the displacement and the velocity
    ASSERT_NE(term(coupling, 1005), nullptr);
    ASSERT_NE(term(coupling, 1006), nullptr);
    EXPECT_EQ(term(coupling, 1005)->a0, 1e3);
    EXPECT_EQ(term(coupling, 1006)->a0, 1e6);
}

// Every input external: no coupling or force cards, no empty range of
// internal inputs, and the external input takes the first extra point.
TEST_F(Convert, ModelWithoutInternalInputs) {
    variant("truck.map", "outside.map",
            {{"ABCD_INPUT_N = 4", "ABCD_INPUT_N = 1"},
             {"1 101 3\n2 102 5\n3 103 1\n", ""},
             {"4 $road", "1 $road"}});
    lines_of("truck_b", "outside_b", [](int, const std::string &l) { return l.substr(75); });
    lines_of("truck_d", "outside_d", [](int, const std::string &l) { return l.substr(75); });
    for (const char *l : {"a", "c"})
        fs::copy_file(dir / ("truck_" + std::string(l)), dir / ("outside_" + std::string(l)));
    ASSERT_EQ(convert("outside.map", "outside_"), 1) << out;
    const Deck d = deck("outside.bdf");
    // The external input 1001, outputs 1002 to 1027, states 1028 to 1030.
    std::vector<std::pair<int32_t, int32_t>> ranges;
    for (const auto &e : d.epoints)
        ranges.emplace_back(e.first, e.last);
    EXPECT_EQ(ranges,
              (std::vector<std::pair<int32_t, int32_t>>{{1001, 1001}, {1002, 1027}, {1028, 1030}}));
    EXPECT_EQ(d.tfs.size(), 3u + 26u); // the state and output equations only
    ASSERT_NE(term(card(d, 1028), 1001), nullptr);
    EXPECT_EQ(term(card(d, 1028), 1001)->a0, 1.0); // B(1, 1)
}

// No graphic nodes (and so no elements): the wheels alone are drawn, and
// the graphic matrix holds only their outputs.
TEST_F(Convert, ModelWithoutNodes) {
    variant("truck.map", "bare.map",
            {{"GRAPHICS_ELEMENT_N = 2", "GRAPHICS_ELEMENT_N = 0"},
             {"GRAPHICS_NODE_N = 3", "GRAPHICS_NODE_N = 0"},
             {"11 0.0 0.0 500.0 6 7 8\n12 2000.0 0.0 500.0 9 10 11\n13 4000.0 0.0 600.0 12 13 14\n",
              ""},
             {"1 1 2\n2 2 3\n", ""},
             {"15 16 17 18 19 20", "6 7 8 9 10 11"},
             {"21 22 23 24 25 26", "12 13 14 15 16 17"}});
    for (const char *l : {"c", "d"}) // the nodes' output rows 6 to 14 go
        lines_of("truck_" + std::string(l), "bare_" + std::string(l),
                 [](int n, const std::string &line) { return n >= 6 && n <= 14 ? "" : line; });
    for (const char *l : {"a", "b"})
        fs::copy_file(dir / ("truck_" + std::string(l)), dir / ("bare_" + std::string(l)));
    ASSERT_EQ(convert("bare.map", "bare_"), 1) << out;
    const Deck d = deck("bare.bdf");
    EXPECT_EQ(d.dmig_headers.size(), 1u);
    EXPECT_EQ(d.dmig_entries.size(), 12u);
    // Outputs 1005 to 1021, states 1022 to 1024; 1025 stays unused and the
    // first wheel's centre is 1026.
    EXPECT_EQ(d.epoints.back().last, 1024);
    EXPECT_EQ(d.grids.front().id, 1026);
    EXPECT_EQ(d.dmig_entries.front().column_point, 1010); // output row 6: the wheel's first
    EXPECT_EQ(d.tfs.size(), 3u + 17u + 3u + 3u);
}

// ======================================================================
// Options and the state between calls
// ======================================================================

// A set identifier, three wheel divisions, large fields and a BDF name of
// the caller's reach every card of theirs.
TEST_F(Convert, OptionsReachEveryCard) {
    tf_id = 7;
    whl_dv = 3;
    lrg_fld = 1;
    fs::create_directory(dir / "out");
    std::snprintf(bdf_out, sizeof bdf_out, "%s", "out/chosen.bdf");
    ASSERT_EQ(convert("truck.map"), 1) << out;
    EXPECT_FALSE(fs::exists(dir / "truck.bdf"));
    const Deck d = deck("out/chosen.bdf");
    EXPECT_EQ(d.tfs.size(), 3u + 26u + 3u + 3u);
    for (const auto &tf : d.tfs) {
        EXPECT_EQ(tf.set, 7) << "line " << tf.line;
        EXPECT_TRUE(tf.large) << "line " << tf.line;
    }
    ASSERT_EQ(d.dmig_headers.size(), 1u);
    EXPECT_EQ(d.dmig_headers[0].type, 2); // double precision for the 16-character values
    EXPECT_EQ(d.header.set, 7);
    EXPECT_EQ(d.header.wheel_divisions, 3);
    // Each wheel: a centre and two rims of three points, nine rim lines
    // (the rims closing on their first points), one rigid element holding
    // the six rim points.
    EXPECT_EQ(d.grids.size(), 3u + 2u * 7);
    EXPECT_EQ(d.plotels.size(), 2u + 2u * 9);
    ASSERT_EQ(d.rbe2s.size(), 2u);
    EXPECT_EQ(d.rbe2s[0].dependent.size(), 6u);
    EXPECT_EQ(d.rbe2s[0].components, 123456);
}

// Each conversion numbers from its own MAP file's offsets, whatever the one
// before left behind.
TEST_F(Convert, SecondConversionNumbersFromItsOwnOffsets) {
    ASSERT_EQ(convert("truck.map"), 1) << out;
    variant("truck.map", "other.map",
            {{"GRID_ID_OFFSET = 1000\nELEMENT_ID_OFFSET = 2000",
              "GRID_ID_OFFSET = 5000\nELEMENT_ID_OFFSET = 7000"}});
    ASSERT_EQ(convert("other.map"), 1) << out;
    const Deck d = deck("other.bdf");
    ASSERT_FALSE(d.epoints.empty());
    EXPECT_EQ(d.epoints[0].first, 5001);
    ASSERT_FALSE(d.plotels.empty());
    EXPECT_EQ(d.plotels[0].id, 7001);
    EXPECT_EQ(d.plotels[0].grid1, 5035);
    EXPECT_EQ(d.plotels[0].grid2, 5036);
}

// The time code picks the time unit: '0' milliseconds, '3' hours, '1' and
// anything else seconds.
TEST_F(Convert, TimeCodes) {
    const std::pair<char, double> codes[] = {
        {'0', 0.001}, {'3', 3600.0}, {'1', 1.0}, {'4', 1.0}, {'\0', 1.0}};
    for (const auto &[code, factor] : codes) {
        convert("missing.map", "truck_", code, "mm");
        EXPECT_EQ(tu_fac, factor) << int(code);
        EXPECT_EQ(lu_fac, 0.001);
    }
}

// ======================================================================
// KAVEL2PELDA_BDF_WRITE and the host database
// ======================================================================

class HostCommand : public Convert {
  protected:
    void SetUp() override {
        Convert::SetUp();
        command = plexa_object_create(command_object_type, nullptr);
        folder = plexa_object_create(1, nullptr);
        plexa_set_object(command, attr_unit_folder, folder);
    }

    // A unit-naming object under parent (the folder by default).
    ac_object unit(int32_t id, const char *label, ac_object parent = nullptr) {
        ac_object u = plexa_object_create(unit_object_type, parent ? parent : folder);
        plexa_set_int(u, attr_unit_id, id);
        plexa_set_string(u, attr_unit_label, label);
        return u;
    }

    void set_values(const std::vector<double> &v) {
        plexa_set_reals(command, attr_command_values, v.data(), static_cast<int32_t>(v.size()));
    }

    int32_t run(const char *map = "truck.map") {
        plexa_calls_clear();
        int32_t rc = 0;
        out = printed([&] { rc = kavel2pelda_full(command, map, "truck_"); });
        return rc;
    }

    ac_object command = nullptr, folder = nullptr;
};

// The first eight values count; the unit objects are found under the
// folder at any depth by their identifiers truncated toward zero, a later
// object of an identifier winning; objects of another type, or without an
// identifier, match nothing.
TEST_F(HostCommand, UnitObjectsByTruncatedIdentifier) {
    unit(3, "cm");
    unit(4, "km");
    unit(-3, "in");
    unit(7, "kn", plexa_object_create(1, folder));
    unit(8, "kg");
    unit(9, "ms");
    unit(3, "mm"); // overrides the first object of identifier 3
    ac_object no_id = plexa_object_create(unit_object_type, folder);
    plexa_set_string(no_id, attr_unit_label, "lbm");
    ac_object other = plexa_object_create(65, folder);
    plexa_set_int(other, attr_unit_id, 8);
    plexa_set_string(other, attr_unit_label, "slug");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> values = {3.9, 7.2, 8.999, 9.5, 1, 1, 1, 1};
    values.resize(40, nan); // more than the command's first fetch holds
    set_values(values);
    ASSERT_EQ(run(), 1) << out;
    EXPECT_STREQ(lu_lab, "MILLIMETER");
    EXPECT_STREQ(fu_lab, "KNEWTON");
    EXPECT_STREQ(mu_lab, "KILOGRAM");
    EXPECT_STREQ(tu_lab, "MILLISECOND");
    EXPECT_EQ(v_stif, 1.0 / 0.001 * 1.0); // MAP length in mm, force in N: N/m
    const Deck d = deck("truck.bdf");
    EXPECT_EQ(d.header.length_unit, "MILLIMETER");
    EXPECT_EQ(d.header.time_unit, "MILLISECOND");

    set_values({-3.9, 7, 8, 9, 1, 1, 1, 1});
    ASSERT_EQ(run(), 1) << out;
    EXPECT_STREQ(lu_lab, "INCH");
}

// A conversion that fails after the units were read keeps the labels and
// the connecting values of the call, converted with the MAP file's units
// (here kilonewtons, milliseconds, millimetres and degrees).
TEST_F(HostCommand, FailedConversionKeepsWhatTheCallSet) {
    unit(1, "mm");
    unit(2, "kn");
    unit(3, "mgg");
    unit(4, "ms");
    set_values({1, 2, 3, 4, 1.0, 2.0, 3.0, 4.0});
    variant("truck.map", "no_outputs.map",
            {{"ABCD_OUTPUT_N = 5", "ABCD_OUTPUT_N = 0"},
             {"FORCE = 'newton'", "FORCE = 'kn'"},
             {"TIME = 'second'", "TIME = 'millisecond'"}});
    EXPECT_EQ(run("no_outputs.map"), -3);
    const double length = 0.001, force = 1000.0, time = 0.001, angle = 0.017453292519943295;
    EXPECT_EQ(v_stif, force / length * 1.0);
    EXPECT_EQ(v_damp, time / length * force * 2.0);
    EXPECT_EQ(v_tstf, force / angle * length * 3.0);
    EXPECT_EQ(v_tdmp, time / angle * force * length * 4.0);
    EXPECT_STREQ(fu_lab, "KNEWTON");
    EXPECT_STREQ(mu_lab, "MEGAGRAM");
    EXPECT_STREQ(tu_lab, "MILLISECOND");
    EXPECT_FALSE(fs::exists(dir / "no_outputs.bdf"));
}

TEST_F(HostCommand, MissingFileNames) {
    const char *labels[] = {"m", "n", "kg", "s"};
    for (int k = 0; k < 4; ++k)
        unit(k + 1, labels[k]);
    set_values({1, 2, 3, 4, 5, 6, 7, 8});
    int32_t rc[2] = {};
    printed([&] {
        rc[0] = kavel2pelda_full(command, nullptr, nullptr);
        rc[1] = kavel2pelda_full(command, "truck.map", nullptr);
    });
    EXPECT_EQ(rc[0], -1);
    EXPECT_EQ(rc[1], -1);
    EXPECT_FALSE(fs::exists(dir / "truck.bdf"));
}

} // namespace
