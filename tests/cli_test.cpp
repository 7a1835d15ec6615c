// End-to-end tests of the sorvan command line: the built program runs in a
// folder of its own on copies of the bundled example, and the tests look at
// its exit status, its messages and the files it leaves.
#include "analysis/road_plot.h"
#include "cli/commands.h"
#include "support/files.h"
#include "support/rpc3_reader.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace {

namespace fs = std::filesystem;

const std::string end_comment = "$*\n$* KAVEL2PELDA: End of BDF for PELDA:\n$*\n";

// Text files the program writes end their lines with CR LF on Windows:
// they are read in text mode.
using sorvan::test::read_text;
using sorvan::test::write_bytes;

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Messages compared as text: a Windows program's console output ends its
// lines with CR LF.
std::string without_cr(std::string text) {
    std::erase(text, '\r');
    return text;
}

struct Result {
    int status = -1;
    std::string out, err;
};

// Each test runs the program in a fresh folder holding a copy of the
// example vehicle (vehicle.map and the ABC set vehicle_a to vehicle_d).
class Cli : public testing::Test {
  protected:
    void SetUp() override {
        for (const char *name : {"vehicle.map", "vehicle_a", "vehicle_b", "vehicle_c", "vehicle_d"})
            fs::copy_file(fs::path(SORVAN_EXAMPLES) / "vehicle" / name, dir_ / name);
    }

    // Runs "sorvan WORDS --plugin PLUGIN" in the folder (the plug-in option
    // is left out when plugin is false).
    Result run(const std::string &words, bool plugin = true) {
        std::string command = "\"" SORVAN_CLI "\" " + words;
        if (plugin) command += " --plugin \"" SORVAN_PLUGIN_FILE "\"";
        Result r;
        r.status = sorvan::test::run_in_folder(dir_, command, "out.txt", "err.txt");
        r.out = without_cr(read_text(dir_ / "out.txt"));
        r.err = without_cr(read_text(dir_ / "err.txt"));
        return r;
    }

    fs::path file(const std::string &name) const { return dir_ / name; }

    // Copies vehicle.map to name with one text replaced.
    void edit_map(const std::string &name, const std::string &from, const std::string &to) {
        std::string text = read_text(file("vehicle.map"));
        size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        write_bytes(file(name), text.replace(at, from.size(), to));
    }

    sorvan::test::ScratchDir scratch_{"sorvan_cli"};
    const fs::path &dir_ = scratch_.path();
};

#define EXPECT_STATUS(result, expected)                                                            \
    EXPECT_EQ((result).status, expected) << "stdout:\n"                                            \
                                         << (result).out << "stderr:\n"                            \
                                         << (result).err

// ======================================================================
// convert
// ======================================================================

// Both modes write a complete BDF, and a connecting value left at its
// default is the same 1e9 N/m in both, although host mode takes the values
// in the MAP file's units (mm, N, s, degree here).
TEST_F(Cli, ConvertWritesTheBdfInBothModes) {
    for (bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct" : "host");
        fs::remove(file("vehicle.bdf"));
        Result r = run(std::string("convert vehicle.map vehicle_") + (direct ? " --direct" : ""));
        EXPECT_STATUS(r, 0);
        std::string bdf = read_text(file("vehicle.bdf"));
        ASSERT_FALSE(bdf.empty());
        EXPECT_TRUE(contains(bdf, "\nEPOINT   1000001    THRU 1000004\n"));
        ASSERT_GE(bdf.size(), end_comment.size());
        EXPECT_EQ(bdf.substr(bdf.size() - end_comment.size()), end_comment);
        EXPECT_TRUE(contains(bdf, "connecting stiffness value: (1.000000E+09 [N/m])"));
        EXPECT_TRUE(contains(bdf, "connecting damping value:   (1.000000E+06 [N*s/m])"));
        EXPECT_TRUE(contains(bdf, "connecting t_stiff. value   (1.000000E+06 [N*m/rad])"));
        EXPECT_TRUE(contains(bdf, "connecting t_damp. value    (1.000000E+04 [N*m*s/rad])"));
        // Only the host function reads the external inputs.
        EXPECT_EQ(contains(bdf, "External Input Stiffness Matrix"), !direct);
        EXPECT_EQ(contains(bdf, "KAVEL Variable Name: road_elevation_front_left"), !direct);
        EXPECT_TRUE(contains(r.out, "wrote vehicle.bdf: "));
        EXPECT_TRUE(std::regex_search(r.out, std::regex("\n  EPOINT +5\n")));
    }
}

TEST_F(Cli, ConvertTakesConnectingValuesInSiUnitsInBothModes) {
    // The MAP file is in millimetres and newtons; the value is N/m all the
    // same, and the structure point's coefficient is -(lu_fac x v_stif):
    // 1500 N/m on a millimetre deck is -1.5 N/mm.
    for (const char *mode : {"", " --direct"}) {
        SCOPED_TRACE(mode);
        Result r = run(std::string("convert vehicle.map vehicle_ --stiffness 1500 "
                                   "--torsional-stiffness 1e6 --length-unit mm --json") +
                       mode);
        EXPECT_STATUS(r, 0);
        const std::string bdf = read_text(file("vehicle.bdf"));
        EXPECT_TRUE(contains(bdf, "connecting stiffness value: (1.500000E+03 [N/m])"));
        EXPECT_TRUE(contains(bdf, "\n             101       3-1.500+0")) << "coupling line";
        const nlohmann::json j = nlohmann::json::parse(r.out);
        EXPECT_EQ(j["connecting"]["torsional-stiffness"]["value"], 1e6) << "as given";
    }
}

// Every result code of the converter becomes its exit status with a
// message, and no BDF is left behind.
TEST_F(Cli, ConvertFailuresGiveTheirExitStatus) {
    edit_map("no_inputs.map", "ABCD_INPUT_N = 6", "ABCD_INPUT_N = 0");
    edit_map("no_outputs.map", "ABCD_OUTPUT_N = 8", "ABCD_OUTPUT_N = 0");
    edit_map("inputs.map", "ABCD_INPUT_N = 6", "ABCD_INPUT_N = 5");
    edit_map("wheels.map", "WHEEL_GRAPHICS_N = 4", "WHEEL_GRAPHICS_N = 3");
    fs::copy_file(file("vehicle_a"), file("nod_a"));
    fs::copy_file(file("vehicle_b"), file("nod_b"));
    fs::copy_file(file("vehicle_c"), file("nod_c"));
    struct Case {
        const char *words;
        const char *bdf; // must not exist afterwards
        int status;
        const char *message; // on the standard error stream
    };
    const Case cases[] = {
        // An input that cannot be opened is named before the converter runs.
        {"vehicle.map nod_", "vehicle.bdf", 66, "nod_d: No such file"},
        {"missing.map vehicle_", "missing.bdf", 66, "missing.map: No such file"},
        // Content the converter refuses: its code and its own reason.
        {"no_inputs.map vehicle_", "no_inputs.bdf", 65, "(-2): "},
        {"no_outputs.map vehicle_", "no_outputs.bdf", 65, "(-3): "},
        {"inputs.map vehicle_", "inputs.bdf", 65, "(-4): "},
        {"wheels.map vehicle_", "wheels.bdf", 65, "(-5): "},
        // Refused by the command line before anything is read, with the
        // labels that are accepted.
        {"vehicle.map vehicle_ --length-unit furlong", "vehicle.bdf", 64,
         "--length-unit: \"furlong\" is no length unit; accepted (any case): KILOMETER, METER"},
        {"vehicle.map vehicle_ --force-unit parsec", "vehicle.bdf", 64,
         "\"parsec\" is no force unit; accepted (any case): NEWTON"},
    };
    for (bool direct : {false, true}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(c.words) + (direct ? " --direct" : ""));
            Result r = run(std::string("convert ") + c.words + (direct ? " --direct" : ""));
            EXPECT_STATUS(r, c.status);
            EXPECT_TRUE(contains(r.err, c.message)) << r.err;
            EXPECT_FALSE(fs::exists(file(c.bdf)));
        }
    }
}

TEST_F(Cli, BadCommandLinesAndMissingPlugIn) {
    const char *usage[] = {
        "convert vehicle.map",
        "convert vehicle.map vehicle_ extra",
        "convert vehicle.map vehicle_ --bogus",
        "convert vehicle.map vehicle_ --stiffness",
        "convert vehicle.map vehicle_ --stiffness soft",
        "convert vehicle.map vehicle_ --time-unit fortnight",
        "convert vehicle.map vehicle_ --tf-id 1.5",
        "convert vehicle.map vehicle_ --direct=yes",
        "reduce vehicle_ out_",
        "reduce vehicle_ out_ --max-frequency -1",
        "road out.rsp --tracks 3",
        "road out.rsp --seed x",
        "road out.rsp --gs -1",
        "frobnicate",
    };
    for (const char *words : usage) {
        SCOPED_TRACE(words);
        Result r = run(words);
        EXPECT_STATUS(r, 64);
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_FALSE(fs::exists(file("vehicle.bdf")));
    EXPECT_STATUS(run("", false), 64);

    Result r = run("convert vehicle.map vehicle_ --plugin no_such_plugin.so", false);
    EXPECT_STATUS(r, 69);
    EXPECT_TRUE(contains(r.err, "no_such_plugin.so")) << r.err;
    EXPECT_FALSE(fs::exists(file("vehicle.bdf")));
    // Without --plugin the plug-in beside the program is loaded.
    EXPECT_STATUS(run("convert vehicle.map vehicle_", false), 0);
}

// ======================================================================
// reduce
// ======================================================================

TEST_F(Cli, ReduceKeepsTheModesBelowTheLimit) {
    // The example's modes 1 to 10 lie below 20 Hz, 11 to 13 above.
    Result r = run("reduce vehicle_ red_ --max-frequency 20");
    EXPECT_STATUS(r, 0);
    EXPECT_TRUE(contains(r.out, "kept 20 of 26 states, dropped 6")) << r.out;
    EXPECT_EQ(lines_of(read_text(file("red_a"))).size(), 20u);
    EXPECT_EQ(lines_of(read_text(file("red_b"))).size(), 20u);
    EXPECT_EQ(read_text(file("red_d")), read_text(file("vehicle_d")));

    // The reduced set is a model the converter takes again.
    r = run("convert vehicle.map red_");
    EXPECT_STATUS(r, 0);
    std::string bdf = read_text(file("vehicle.bdf"));
    ASSERT_GE(bdf.size(), end_comment.size());
    EXPECT_EQ(bdf.substr(bdf.size() - end_comment.size()), end_comment);

    r = run("reduce vehicle_ all_ --max-frequency 0 --keep-real-states");
    EXPECT_STATUS(r, 0);
    EXPECT_TRUE(contains(r.out, "kept 26 of 26 states, dropped 0")) << r.out;
}

TEST_F(Cli, ReduceFailuresGiveTheirExitStatus) {
    // 0.1 Hz lies below every mode: nothing is kept and nothing written.
    Result r = run("reduce vehicle_ none_ --max-frequency 0.1");
    EXPECT_STATUS(r, 65);
    EXPECT_TRUE(contains(r.err, "(-3)")) << r.err;
    EXPECT_FALSE(fs::exists(file("none_a")));

    r = run("reduce vehicle_ no_such_folder/red_ --max-frequency 20");
    EXPECT_STATUS(r, 73);
    EXPECT_TRUE(contains(r.err, "(-2)")) << r.err;

    r = run("reduce missing_ red_ --max-frequency 20");
    EXPECT_STATUS(r, 66);
    EXPECT_TRUE(contains(r.err, "missing_a")) << r.err;
    EXPECT_FALSE(fs::exists(file("red_a")));
}

// ======================================================================
// road
// ======================================================================

std::vector<std::vector<double>> read_csv(const std::string &text, std::string *header) {
    std::vector<std::string> lines = lines_of(text);
    std::vector<std::vector<double>> rows;
    if (lines.empty()) return rows;
    *header = lines[0];
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<double> row;
        std::istringstream in(lines[i]);
        for (std::string field; std::getline(in, field, ',');)
            row.push_back(std::strtod(field.c_str(), nullptr));
        rows.push_back(row);
    }
    return rows;
}

// White noise of unit density at 0.5 m steps from seed 1 is the normal
// sequence of the generator itself, whose values are known.
TEST_F(Cli, RoadOneTrackIsTheSeededSequence) {
    Result r = run("road one.rsp --ge 1 --gs 0 --ga 0 --interval 0.5 --length 1.5 --seed 1 "
                   "--csv one.csv --labels ROAD");
    EXPECT_STATUS(r, 0);
    std::string header;
    auto rows = read_csv(read_text(file("one.csv")), &header);
    EXPECT_EQ(header, "distance_m,ROAD_mm");
    ASSERT_EQ(rows.size(), 4u);
    const double z[4] = {-0.85570077, 0.21422127, -0.80267450, 0.70885226};
    double sum = 0.0;
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(rows[i].size(), 2u);
        EXPECT_EQ(rows[i][0], 0.5 * static_cast<double>(i));
        EXPECT_NEAR(rows[i][1], z[i], 5e-9);
        sum += z[i] * z[i];
    }
    EXPECT_TRUE(contains(r.out, "4 samples")) << r.out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("\"ROAD\": RMS ([0-9.]+) mm")));
    EXPECT_NEAR(std::stod(m[1]), std::sqrt(sum / 4.0), 1e-6);

    rpc3test::File rpc;
    ASSERT_EQ(rpc3test::read_file(file("one.rsp").string(), rpc), "");
    EXPECT_EQ(rpc.channels, 1);
    EXPECT_EQ(rpc.value("DESC.CHAN_1"), "ROAD");
    EXPECT_EQ(rpc.value("UNITS.CHAN_1"), "mm");
}

// A seed from the clock is printed, and passing it back gives the same
// tracks: the table holds exactly what was synthesised.
TEST_F(Cli, RoadClockSeedIsPrintedAndReproducible) {
    Result r = run("road a.rsp --seed 0 --length 50 --tracks 2 --csv a.csv");
    EXPECT_STATUS(r, 0);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("seed ([0-9]+) \\(from the clock\\)")))
        << r.out;
    EXPECT_GT(std::stol(m[1]), 0);
    r = run("road b.rsp --length 50 --tracks 2 --csv b.csv --seed " + m[1].str());
    EXPECT_STATUS(r, 0);
    EXPECT_FALSE(contains(r.out, "from the clock"));
    std::string a = read_text(file("a.csv"));
    EXPECT_EQ(lines_of(a).size(), 502u); // header and 501 samples at the default 0.1 m
    EXPECT_EQ(a, read_text(file("b.csv")));
}

// Two tracks: the RPC III file, the table and the plot hold the same
// tracks.
TEST_F(Cli, RoadTwoTracksWriteFileTableAndPlot) {
    Result r = run("road two.rsp --tracks 2 --length 300 --seed 5 --labels L,R "
                   "--csv two.csv --psd-plot two.svg");
    EXPECT_STATUS(r, 0);
    EXPECT_TRUE(contains(r.out, "2 channels of 3001 samples")) << r.out;

    std::string header;
    auto rows = read_csv(read_text(file("two.csv")), &header);
    EXPECT_EQ(header, "distance_m,L_mm,R_mm");
    ASSERT_EQ(rows.size(), 3001u);
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 3u);
        // The decimal i / 10 itself, not the product i x 0.1 (0.3, not
        // 0.30000000000000004).
        ASSERT_EQ(rows[i][0], static_cast<double>(i) / 10.0) << i;
    }

    rpc3test::File rpc;
    ASSERT_EQ(rpc3test::read_file(file("two.rsp").string(), rpc), "");
    ASSERT_EQ(rpc.channels, 2);
    EXPECT_EQ(rpc.value("DESC.CHAN_1"), "L");
    EXPECT_EQ(rpc.value("DESC.CHAN_2"), "R");
    for (int c = 0; c < 2; ++c) {
        // Stored as 16-bit integers: each value within half a count.
        double half =
            0.5 * std::strtod(rpc.value("SCALE.CHAN_" + std::to_string(c + 1)).c_str(), nullptr) *
            1.000001;
        ASSERT_GE(rpc.values[c].size(), rows.size());
        for (size_t i = 0; i < rows.size(); ++i)
            ASSERT_NEAR(rpc.values[c][i], rows[i][c + 1], half) << "channel " << c + 1 << " " << i;
    }

    std::string svg = read_text(file("two.svg"));
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    EXPECT_TRUE(contains(svg, "wavenumber v (cycle/m)"));
    EXPECT_TRUE(contains(svg, "coherence of the tracks"));
    EXPECT_TRUE(contains(svg, "track 2 (R)"));

    r = run("road one.rsp --seed 5 --length 300 --psd-plot one.svg");
    EXPECT_STATUS(r, 0);
    svg = read_text(file("one.svg"));
    EXPECT_TRUE(contains(svg, "elevation PSD"));
    EXPECT_FALSE(contains(svg, "coherence"));
}

TEST_F(Cli, RoadFailuresLeaveNoFile) {
    // Refused by the synthesis: the host function's message and status.
    Result r = run("road bad.rsp --length 1e9 --interval 0.1");
    EXPECT_STATUS(r, 65);
    EXPECT_TRUE(contains(r.out, "more than 2147483647 samples")) << r.out;
    EXPECT_TRUE(contains(r.err, "GENRPROF_SAYERS failed")) << r.err;
    EXPECT_FALSE(fs::exists(file("bad.rsp")));

    r = run("road no_such_folder/bad.rsp");
    EXPECT_STATUS(r, 73);
    EXPECT_TRUE(contains(r.out, "Error creating RPC III file no_such_folder/bad.rsp:  ")) << r.out;

    // Too few samples for a spectrum: refused before anything is written.
    r = run("road bad.rsp --length 1 --psd-plot bad.svg");
    EXPECT_STATUS(r, 64);
    EXPECT_FALSE(fs::exists(file("bad.rsp")));
    EXPECT_FALSE(fs::exists(file("bad.svg")));

    // The outputs are committed together: the profile could be written, the
    // table cannot be, so neither is, and files that were there stay.
    r = run("road good.rsp --length 10 --seed 3 --csv no_such_folder/t.csv");
    EXPECT_STATUS(r, 73);
    EXPECT_FALSE(fs::exists(file("good.rsp")));
    sorvan::test::write_text(file("old.rsp"), "an older profile\n");
    sorvan::test::write_text(file("old.csv"), "an older table\n");
    fs::create_directory(file("plot.svg"));
    r = run("road old.rsp --length 10 --seed 3 --csv old.csv --psd-plot plot.svg");
    EXPECT_STATUS(r, 73);
    EXPECT_EQ(sorvan::test::read_text(file("old.rsp")), "an older profile\n");
    EXPECT_EQ(sorvan::test::read_text(file("old.csv")), "an older table\n");
    for (const auto &entry : fs::directory_iterator(file("")))
        for (const char *kept : {".tmp", ".old"})
            EXPECT_EQ(entry.path().filename().string().find(kept), std::string::npos)
                << entry.path() << " was left behind";

    // Two outputs that name one file: refused before anything is written.
    for (const char *line :
         {"road r.rsp --length 10 --csv r.rsp", "road r.rsp --length 10 --csv ./r.rsp",
          "road r.rsp --length 10 --csv t.svg --psd-plot t.svg"}) {
        SCOPED_TRACE(line);
        r = run(line);
        EXPECT_STATUS(r, 64);
        EXPECT_TRUE(contains(r.err, "name the same file")) << r.err;
        EXPECT_FALSE(fs::exists(file("r.rsp")));
    }
    sorvan::test::write_text(file("s.rsp"), "");
    fs::create_hard_link(file("s.rsp"), file("s.csv"));
    r = run("road s.rsp --length 10 --csv s.csv");
    EXPECT_STATUS(r, 64);
}

// ======================================================================
// version, functions, help
// ======================================================================

TEST_F(Cli, VersionPrintsTheBannerAndTheEntries) {
    Result r = run("version");
    EXPECT_STATUS(r, 0);
    const char *banner[] = {
        "ZUMEX Utility  lib: sorvan_view",   "ZUMEX Release  ver: (2005.2.0)",
        "ZUMEX Compile   os: Windows_NT 5",  "ZUMEX Compile date: 2005-07-11 23:46:29",
        "ZUMEX Compile  ver: 20050711.2346",
    };
    for (const char *text : banner)
        EXPECT_TRUE(contains(r.out, std::string("\n%sorvan_view-i-sorvan_view, ") + text + "\n"))
            << text;
    EXPECT_TRUE(contains(r.out, "build:   20050711.2346\n")) << r.out;
    EXPECT_TRUE(
        contains(r.out, "major 2006, minor 0, patch 0, text 2006.0.0 / 2006.0.0, real 2006"))
        << r.out;
}

TEST_F(Cli, FunctionsListsTheHostFunctionTable) {
    Result r = run("functions");
    EXPECT_STATUS(r, 0);
    std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    const char *expected[] = {"^GENRPROF_SAYERS +504 +3 ", "^KAVEL2PELDA_BDF_WRITE +324 +3 ",
                              "^STATEMAT_WRITE +114 +6 "};
    for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(std::regex_search(lines[k + 1], std::regex(expected[k]))) << lines[k + 1];
}

TEST_F(Cli, HelpDocumentsEveryOption) {
    struct Case {
        const char *command;
        std::vector<const char *> options;
    };
    const Case cases[] = {
        {"convert",
         {"--length-unit", "--force-unit", "--mass-unit", "--time-unit", "--tf-id", "--threshold",
          "--wheel-divisions", "--stiffness", "--damping", "--torsional-stiffness",
          "--torsional-damping", "--direct", "--plugin"}},
        {"reduce", {"--max-frequency", "--keep-real-states", "--plugin"}},
        {"road",
         {"--tracks", "--seed", "--ge", "--gs", "--ga", "--corr-length", "--length", "--interval",
          "--labels", "--csv", "--psd-plot", "--plugin"}},
        {"version", {"--plugin"}},
        {"functions", {"--plugin"}},
    };
    Result top = run("--help", false);
    EXPECT_STATUS(top, 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_TRUE(contains(top.out, std::string("\n  ") + c.command)) << top.out;
        Result r = run(std::string(c.command) + " --help", false);
        EXPECT_STATUS(r, 0);
        for (const char *option : c.options)
            EXPECT_TRUE(contains(r.out, std::string("  ") + option + " ")) << option;
        EXPECT_EQ(run(std::string("help ") + c.command, false).out, r.out);
    }
}

// ======================================================================
// the plot's model curves
// ======================================================================

TEST(RoadPlot, ModelCoherenceOfTheCrossTrackFilters) {
    // First-order filters with one corner at the wavelength sqrt(2) L: the
    // tracks agree at long wavelengths, their coherence is 1/4 at the
    // corner, (1 / (1 + 10^2))^2 a decade above it.
    // With a fine interval the sampled filters behave as continuous ones.
    const double corr = 100.0, dx = 0.001, corner = 1.0 / (std::sqrt(2.0) * corr);
    EXPECT_NEAR(sorvan::analysis::model_coherence(corr, dx, corner * 1e-3), 1.0, 1e-5);
    EXPECT_NEAR(sorvan::analysis::model_coherence(corr, dx, corner), 0.25, 1e-3);
    EXPECT_NEAR(sorvan::analysis::model_coherence(corr, dx, 10.0 * corner), 1.0 / (101.0 * 101.0),
                2e-6);
    // A good road's density at 0.1 cycle/m is 64 mm^2 m: gs = 25.3 mm^2/m.
    EXPECT_NEAR(sorvan::analysis::model_density(0.0, 25.3, 0.0, 0.1), 64.0, 0.2);
    EXPECT_DOUBLE_EQ(sorvan::analysis::model_density(0.05, 0.0, 0.0, 3.0), 0.05);
}

TEST(RoadPlot, SegmentsLeaveSevenHalfOverlappingPieces) {
    EXPECT_EQ(sorvan::analysis::plot_segment(63), 0u);
    EXPECT_EQ(sorvan::analysis::plot_segment(64), 16u);
    EXPECT_EQ(sorvan::analysis::plot_segment(10001), 2048u); // 8 segments of the default road
    EXPECT_EQ(sorvan::analysis::plot_segment(1 << 24), 65536u);
}

// ======================================================================
// the command line itself
// ======================================================================

// Every command line of the table: its exit status, a fragment of what it
// prints on standard error (or "" for a success), and a file that must not
// exist afterwards ("" for none). Every bad value is refused before
// anything is read or written.
TEST_F(Cli, CommandLineTable) {
    struct Row {
        const char *words;
        int status;
        const char *message;
        const char *absent;
    };
    const Row rows[] = {
        // units: the whole vocabulary, case-blind, for every unit option
        {"convert vehicle.map vehicle_ --time-unit MINUTE -o min.bdf", 0,
         "warning: time unit MINUTE: the state-space cards stay per second", ""},
        {"convert vehicle.map vehicle_ --time-unit S -o s.bdf", 0, "", ""},
        {"convert vehicle.map vehicle_ --time-unit hr -o hr.bdf", 0, "time unit HOUR", ""},
        {"convert vehicle.map vehicle_ --mass-unit gram -o g.bdf --length-unit MM", 0, "", ""},
        {"convert vehicle.map vehicle_ --mass-unit g", 64, "\"g\" is no mass unit; accepted",
         "vehicle.bdf"},
        {"convert vehicle.map vehicle_ --time-unit fortnight", 64,
         "accepted (any case): HOUR, MINUTE, SECOND, MILLISECOND", "vehicle.bdf"},
        // ranges: exit 64 with the option and its range
        {"convert vehicle.map vehicle_ --tf-id 0", 64,
         "--tf-id needs a whole number, 1 to 99999999", "vehicle.bdf"},
        {"convert vehicle.map vehicle_ --wheel-divisions 0", 64, "--wheel-divisions",
         "vehicle.bdf"},
        {"convert vehicle.map vehicle_ --threshold -1e-9", 64,
         "--threshold needs a number, 0 or more", "vehicle.bdf"},
        {"convert vehicle.map vehicle_ --stiffness -5", 64, "0 or more", "vehicle.bdf"},
        {"road out.rsp --interval 0", 64, "--interval needs a number, more than 0", "out.rsp"},
        {"road out.rsp --length -1", 64, "--length needs a number, 0 or more", "out.rsp"},
        {"road out.rsp --corr-length 0", 64, "--corr-length", "out.rsp"},
        {"road out.rsp --tracks 3", 64, "--tracks needs a whole number, 1 to 2", "out.rsp"},
        {"road out.rsp --ge -1", 64, "--ge needs a number, 0 or more", "out.rsp"},
        {"reduce vehicle_ out_ --max-frequency -1", 64, "0 or more", "out_a"},
        // words and options
        {"convert vehicle.map vehicle_ extra", 64, "unexpected word \"extra\"", "vehicle.bdf"},
        {"convert vehicle.map", 64, "needs MAP_FILE and ABC_BASE", "vehicle.bdf"},
        {"road out.rsp --tracks --seed 5", 64, "--tracks needs a value", "out.rsp"},
        {"road out.rsp --seed 1 --seed 2", 64, "--seed is given twice", "out.rsp"},
        {"help nosuch", 64, "no command \"nosuch\"", ""},
        {"frobnicate", 64, "unknown command", ""},
        // road: labels, plot name
        {"road out.rsp --tracks 2 --labels a,b,c", 64, "--labels needs exactly 2 labels",
         "out.rsp"},
        {"road out.rsp --tracks 2 --labels a", 64, "--labels needs exactly 2 labels", "out.rsp"},
        {"road out.rsp --psd-plot plot.png", 64, "must end in .svg", "plot.png"},
        // reduce never over its own input
        {"reduce vehicle_ vehicle_ --max-frequency 20", 64, "would replace its input set", ""},
        {"reduce vehicle_ ./vehicle_ --max-frequency 20", 64, "would replace its input set", ""},
        // convert never over its own input, whatever the output name
        {"convert vehicle.map vehicle_ -o vehicle.map", 64, "would be written over MAP_FILE", ""},
        {"convert --each vehicle.map vehicle_ -o x.bdf", 64, "--output names one deck", "x.bdf"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.words);
        const std::string before = read_text(file("vehicle_a"));
        Result r = run(row.words);
        EXPECT_STATUS(r, row.status);
        EXPECT_TRUE(contains(r.err, row.message)) << r.err;
        if (row.status == 64) {
            EXPECT_TRUE(contains(r.err, "usage: sorvan") || contains(r.err, "sorvan road:") ||
                        contains(r.err, "sorvan reduce:") || contains(r.err, "sorvan convert:"))
                << r.err;
            EXPECT_TRUE(r.out.empty()) << r.out;
        }
        if (*row.absent) {
            EXPECT_FALSE(fs::exists(file(row.absent))) << row.absent;
        }
        EXPECT_EQ(read_text(file("vehicle_a")), before);
        EXPECT_EQ(read_text(file("vehicle.map")).find("[FILE_SUMMARY]") != std::string::npos, true);
    }
    // "--" ends the options: what follows is a word, even --plugin.
    Result dashes = run("convert -o dashes.bdf -- vehicle.map vehicle_", false);
    EXPECT_STATUS(dashes, 0);
    dashes = run("convert -- vehicle.map vehicle_ --plugin x", false);
    EXPECT_STATUS(dashes, 64);
    EXPECT_TRUE(contains(dashes.err, "unexpected word \"--plugin\"")) << dashes.err;

    // The version, and no command at all: usage on standard error.
    for (const char *words : {"--version", "-V", "version"}) {
        Result r = run(words);
        EXPECT_STATUS(r, 0);
        EXPECT_TRUE(contains(r.out, "version: major")) << r.out;
    }
    Result r = run("", false);
    EXPECT_STATUS(r, 64);
    EXPECT_TRUE(r.out.empty());
    EXPECT_TRUE(contains(r.err, "usage: sorvan COMMAND"));
}

// --json: one envelope on standard output and nothing else, for every
// command and every outcome, with the exit status of the plain run: a
// success, a refusal of content, a missing input and a bad option each.
TEST_F(Cli, EveryCommandAnswersInOneEnvelope) {
    write_bytes(file("junk.rsp"), "not a profile\n");
    edit_map("no_inputs.map", "ABCD_INPUT_N = 6", "ABCD_INPUT_N = 0");
    struct Row {
        const char *words;
        int exit;
        const char *key; // a key of the command's own that a success carries
    };
    const Row rows[] = {
        {"convert vehicle.map vehicle_ --length-unit mm", 0, "cards"},
        {"convert no_inputs.map vehicle_", 65, nullptr},
        {"convert vehicle.map missing_", 66, nullptr},
        {"convert vehicle.map vehicle_ --tf-id 0", 64, nullptr},
        {"reduce vehicle_ red_ --max-frequency 20", 0, "reduction_error"},
        {"reduce vehicle_ none_ --max-frequency 0.1", 65, nullptr},
        {"reduce missing_ red_ --max-frequency 20", 66, nullptr},
        {"reduce vehicle_ red_", 64, nullptr},
        {"road r.rsp --seed 7 --length 100", 0, "tracks"},
        {"road r.rsp --gs 1e308", 65, nullptr},
        {"road r.rsp --tracks 3", 64, nullptr},
        {"profile r.rsp", 0, "channels"},
        {"profile junk.rsp", 65, nullptr},
        {"profile none.rsp", 66, nullptr},
        {"profile r.rsp --bogus", 64, nullptr},
        {"info vehicle.map vehicle_", 0, "modes"},
        {"info no_inputs.map vehicle_", 65, nullptr},
        {"info vehicle.map missing_", 66, nullptr},
        {"info vehicle.map", 64, nullptr},
        {"check vehicle.bdf --map vehicle.map --abc vehicle_", 0, "closed_loop"},
        {"check vehicle.bdf --map vehicle.map --abc red_", 1, "failures"},
        {"check none.bdf --map vehicle.map --abc vehicle_", 66, nullptr},
        {"check vehicle.bdf --map vehicle.map", 64, nullptr},
        {"view vehicle.map --svg v.svg", 0, "nodes"},
        {"view no_inputs.map --abc vehicle_ --svg v.svg", 65, nullptr},
        {"view missing.map --svg v.svg", 66, nullptr},
        {"view vehicle.map --svg v.png", 64, nullptr},
        {"version", 0, "major"},
        {"version extra", 64, nullptr},
        {"ride vehicle.map vehicle_ --road r.rsp --speed 50 --input road_elevation_front_left=1@0",
         0, "outputs"},
        {"ride vehicle.map vehicle_ --road junk.rsp --speed 50 "
         "--input road_elevation_front_left=1@0",
         65, nullptr},
        {"ride vehicle.map missing_ --road r.rsp --speed 50 --input road_elevation_front_left=1@0",
         66, nullptr},
        {"ride vehicle.map vehicle_ --road r.rsp --input road_elevation_front_left=1@0", 64,
         nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.words);
        const Result r = run(std::string(row.words) + " --json");
        EXPECT_STATUS(r, row.exit);
        const nlohmann::json j = nlohmann::json::parse(r.out); // one object, or it throws
        const std::string command =
            std::string(row.words).substr(0, std::string(row.words).find(' '));
        EXPECT_EQ(j["command"], command);
        EXPECT_EQ(j["ok"], row.exit == 0);
        EXPECT_EQ(j["exit"], row.exit);
        EXPECT_TRUE(j["warnings"].is_array());
        EXPECT_FALSE(j.contains("result"));
        if (row.exit != 0) {
            ASSERT_TRUE(j["error"].is_string());
            // The same words as on the standard error stream.
            EXPECT_TRUE(contains(r.err, j["error"].get<std::string>())) << r.err;
        }
        if (row.key) {
            EXPECT_TRUE(j.contains(row.key)) << j.dump();
        }
    }
}

// -o names the deck; --each converts several models and fails as a whole
// when one fails.
TEST_F(Cli, OutputNameAndSeveralModels) {
    Result r = run("reduce vehicle_ red_ --max-frequency 20");
    ASSERT_EQ(r.status, 0) << r.err;
    r = run("convert vehicle.map vehicle_");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string full = read_text(file("vehicle.bdf"));
    r = run("convert vehicle.map red_ -o reduced.bdf");
    EXPECT_STATUS(r, 0);
    EXPECT_EQ(read_text(file("vehicle.bdf")), full) << "the full model's deck stays";
    const std::string reduced = read_text(file("reduced.bdf"));
    EXPECT_TRUE(contains(reduced, "Export BDF file name: reduced.bdf"));
    EXPECT_LT(reduced.size(), full.size());

    fs::create_directory(file("run.d"));
    fs::copy_file(file("vehicle.map"), file("run.d/model"));
    // Two models that would write one deck: refused before either is
    // converted.
    r = run("convert --each run.d/model red_ vehicle.map vehicle_ vehicle.map missing_");
    EXPECT_STATUS(r, 64);
    EXPECT_TRUE(contains(r.err, "name the same file vehicle.bdf")) << r.err;
    EXPECT_FALSE(fs::exists(file("run.d/model.bdf")));
    fs::copy_file(file("vehicle.map"), file("other.map"));
    r = run("convert --each vehicle.map vehicle_ run.d/model red_ other.map missing_");
    EXPECT_STATUS(r, 66);
    EXPECT_TRUE(fs::exists(file("run.d/model.bdf")));
    EXPECT_TRUE(contains(r.err, "missing_a: No such file")) << r.err;
    r = run("convert --each vehicle.map vehicle_ run.d/model red_ --json");
    EXPECT_STATUS(r, 0);
    nlohmann::json j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["models"].size(), 2u);
    EXPECT_EQ(j["models"][1]["file"], "run.d/model.bdf");
    EXPECT_EQ(j["models"][1]["ok"], true);
    EXPECT_EQ(j["failed"], 0);
}

} // namespace

// The README's command-line reference holds every command's option table as
// the program prints it: one source for the parser, the help and the README.
TEST(CommandTables, ReadmeAndHelpComeFromTheTables) {
    const std::string readme = read_text(fs::path(SORVAN_EXAMPLES) / ".." / "README.md");
    ASSERT_FALSE(readme.empty());
    for (const sorvan::cli::CommandSpec *spec : sorvan::cli::all_commands()) {
        SCOPED_TRACE(spec->name);
        if (!spec->options->empty()) {
            EXPECT_TRUE(contains(readme, sorvan::cli::options_markdown(*spec)))
                << "the README lacks or differs from:\n"
                << sorvan::cli::options_markdown(*spec);
        }
        EXPECT_TRUE(contains(readme, std::string("sorvan ") + spec->name)) << spec->name;
        std::FILE *f = sorvan::test::temp_stream();
        ASSERT_NE(f, nullptr);
        sorvan::cli::print_help(*spec, f);
        std::rewind(f);
        std::string help;
        for (int c; (c = std::fgetc(f)) != EOF;)
            help += static_cast<char>(c);
        std::fclose(f);
        for (const auto &o : *spec->options)
            EXPECT_TRUE(contains(help, std::string("--") + o.name)) << o.name;
    }
}
