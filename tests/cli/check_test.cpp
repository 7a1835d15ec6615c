// sorvan check and convert --check: the golden decks and fresh conversions
// pass; decks edited by hand fail with the figure or the message that
// names the edit.
#include "analysis/deck.h"
#include "cli/commands.h"
#include "model_files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <tuple>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace {

namespace fs = std::filesystem;
using sorvan::test::read_text;
using sorvan::test::write_text;

const std::string golden = SORVAN_TEST_DATA "/golden/";

class Check : public testing::Test {
  protected:
    sorvan::test::ScratchDir dir{"check"};

    std::string path(const std::string &name) const { return (dir.path() / name).string(); }

    void copy_model(const std::string &from, const std::string &map, const std::string &base) {
        fs::copy_file(fs::path(from) / map, dir.path() / map);
        for (const char *letter : {"a", "b", "c", "d"})
            fs::copy_file(fs::path(from) / (base + letter), dir.path() / (base + letter));
    }

    void copy_example() {
        copy_model(SORVAN_EXAMPLES "/vehicle", "vehicle.map", "vehicle_");
        fs::copy_file(golden + "vehicle.bdf", dir.path() / "vehicle.bdf");
    }

    // Runs sorvan check in this process; err gets the standard error stream.
    int check(std::vector<std::string> extra, std::string &out, std::string *err = nullptr) {
        std::vector<std::string> words = {
            "check", path("vehicle.bdf"), "--map", path("vehicle.map"), "--abc", path("vehicle_")};
        words.insert(words.end(), extra.begin(), extra.end());
        testing::internal::CaptureStderr();
        const int status = sorvan::test::run_captured(sorvan::cli::run_check, words, out);
        const std::string e = testing::internal::GetCapturedStderr();
        if (err) *err = e;
        return status;
    }

    nlohmann::json check_json(int expected_status) {
        std::string out;
        EXPECT_EQ(check({"--json"}, out), expected_status) << out;
        return nlohmann::json::parse(out);
    }

    // The deck with its line (from 1) replaced, or removed when text is
    // empty, or text inserted before it.
    void edit_deck(int line, const std::string &text, bool insert = false) {
        std::istringstream in(read_text(dir.path() / "vehicle.bdf"));
        std::string out;
        int number = 0;
        for (std::string l; std::getline(in, l);) {
            if (++number == line) {
                if (insert)
                    out += text + "\n" + l + "\n";
                else if (!text.empty())
                    out += text + "\n";
                continue;
            }
            out += l + "\n";
        }
        write_text(dir.path() / "vehicle.bdf", out);
    }

    // The number of the first line of the deck that matches.
    int line_of(const std::string &pattern) {
        std::istringstream in(read_text(dir.path() / "vehicle.bdf"));
        const std::regex re(pattern);
        int number = 0;
        for (std::string l; std::getline(in, l);) {
            ++number;
            if (std::regex_search(l, re)) return number;
        }
        ADD_FAILURE() << "no line matches " << pattern;
        return 0;
    }

    std::string deck_line(int line) {
        std::istringstream in(read_text(dir.path() / "vehicle.bdf"));
        std::string l;
        for (int k = 0; k < line; ++k)
            std::getline(in, l);
        return l;
    }

    // Runs the built program in the scratch folder; out gets both streams.
    int run_program(const std::string &words, std::string &out) {
        const std::string log = path("program.log");
        const int status = sorvan::test::run_in_folder(
            dir.path(), "\"" SORVAN_CLI "\" " + words + " --plugin \"" SORVAN_PLUGIN_FILE "\"", log,
            log);
        out = read_text(log);
        return status;
    }
};

TEST_F(Check, GoldenExampleDeckPassesWithSmallFigures) {
    copy_example();
    const nlohmann::json j = check_json(0);
    EXPECT_TRUE(j["ok"].get<bool>());
    for (const char *key : {"max_frequency_shift", "max_damping_shift", "max_response_deviation"})
        EXPECT_LT(j[key].get<double>(), 1e-2) << key;
    // Four-digit coefficients move the modes, but not by nothing.
    EXPECT_GT(j["max_frequency_shift"].get<double>(), 0.0);
    EXPECT_FALSE(j["stability_changed"].get<bool>());
    EXPECT_EQ(j["worst_pair"].size(), 2u);
    // 4 coupling cards of 3 terms and 4 force cards of 1, 3 coefficients
    // each line; 2 external-input cards.
    EXPECT_EQ(j["coefficients_checked"], 4 * 12 + 4 * 6 + 2 * 3);
    EXPECT_EQ(j["dmig_entries_checked"], 125 - 8);
    EXPECT_EQ(j["max_coefficient_deviation"], 0.0);
    EXPECT_TRUE(j.contains("seconds"));
    // Coupled to the default test structure, the deck moves as the model.
    const auto &loop = j["closed_loop"];
    EXPECT_EQ(loop["structure_points"], 4);
    for (const char *key : {"static_deviation", "frequency_shift", "damping_shift"})
        EXPECT_LT(loop[key].get<double>(), 1e-3) << key;
    EXPECT_FALSE(loop["stability_changed"].get<bool>());

    std::string out;
    EXPECT_EQ(check({}, out), 0);
    EXPECT_NE(out.find("check passed"), std::string::npos) << out;
}

TEST_F(Check, ChangedStateCoefficientMovesTheDampingOfItsMode) {
    copy_example();
    // The first state equation: A(0, 0) of the first 2 x 2 block, the real
    // part of the lowest mode. 5 % more on one diagonal term of the block
    // moves the real part, and so the damping ratio, by about 2.5 %.
    const int line = line_of(R"(^TF\s+1\s+1000132\s+0)");
    const std::string text = deck_line(line);
    double a00 = 0;
    ASSERT_EQ(std::sscanf(text.substr(32, 6).c_str(), "%lf", &a00), 1) << text;
    const int exponent = std::atoi(text.substr(38, 2).c_str());
    char field[16];
    std::snprintf(field, sizeof field, "%6.3f%+d", a00 * 1.05, exponent);
    edit_deck(line, text.substr(0, 32) + field + text.substr(40));
    const nlohmann::json j = check_json(1);
    EXPECT_FALSE(j["ok"].get<bool>());
    EXPECT_NEAR(j["max_damping_shift"].get<double>(), 0.025, 0.003);
    EXPECT_GT(j["max_response_deviation"].get<double>(), 0.01);
    EXPECT_EQ(j["damping_shift_mode"], 1);
    bool named = false;
    for (const auto &f : j["failures"])
        named = named || f.get<std::string>().find("mode 1 (1.13") != std::string::npos;
    EXPECT_TRUE(named) << j["failures"];
}

TEST_F(Check, ChangedCouplingCoefficientIsNamedWithItsLine) {
    copy_example();
    // The structure point line of the first coupling card: stiffness in
    // N/mm, 2.5e8 N/m x 0.001 = 2.5e5, written 5 % larger.
    const int line = line_of(R"(^\s+101\s+3-2\.500\+5)");
    const std::string text = deck_line(line);
    edit_deck(line, text.substr(0, 24) + "-2.625+5" + text.substr(32));
    const nlohmann::json j = check_json(1);
    EXPECT_NEAR(j["max_coefficient_deviation"].get<double>(), 0.05, 0.0005);
    ASSERT_FALSE(j["failures"].empty());
    const std::string first = j["failures"][0];
    EXPECT_NE(first.find("line " + std::to_string(line)), std::string::npos) << first;
    EXPECT_NE(first.find("structure point"), std::string::npos) << first;
    // The model itself is untouched.
    EXPECT_LT(j["max_response_deviation"].get<double>(), 1e-2);
}

TEST_F(Check, MissingDmigEntryAndForeignCard) {
    copy_example();
    const int line = line_of(R"(^DMIG    K2P\s+1000018\s+0)");
    edit_deck(line, "");
    nlohmann::json j = check_json(1);
    EXPECT_EQ(j["dmig_entries_checked"], 125 - 8 - 1);
    ASSERT_EQ(j["failures"].size(), 1u);
    EXPECT_NE(j["failures"][0].get<std::string>().find("no DMIG entry of output 12"),
              std::string::npos)
        << j["failures"];

    // A card the converter never writes: the reader refuses the deck.
    edit_deck(line_of("^PLOTEL"), "CONM2       9999    1001       0     1.0", true);
    std::string out, err;
    EXPECT_EQ(check({}, out, &err), 65);
    EXPECT_NE(err.find("vehicle.bdf, line"), std::string::npos) << err;
    EXPECT_NE(err.find("CONM2"), std::string::npos) << err;
}

TEST_F(Check, PlotsTheWorstOrTheChosenPair) {
    copy_example();
    std::string out;
    ASSERT_EQ(check({"--plot", path("worst.svg")}, out), 0) << out;
    ASSERT_EQ(check({"--plot", path("pair.svg"), "--pair", "2,6", "--json"}, out), 0) << out;
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(j["plot_pair"], nlohmann::json({2, 6}));
    for (const char *name : {"worst.svg", "pair.svg"}) {
        const std::string svg = read_text(dir.path() / name);
        // Magnitude and phase of each of the two responses.
        const std::regex curve("<path class=\"curve\"");
        EXPECT_EQ(std::distance(std::sregex_iterator(svg.begin(), svg.end(), curve),
                                std::sregex_iterator()),
                  4)
            << name;
        EXPECT_NE(svg.find("viewBox=\"0 0 820.0 760.0\""), std::string::npos);
        EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    }
    // The pair named from the MAP file, the magnitude with its unit.
    const std::string pair = read_text(dir.path() / "pair.svg");
    EXPECT_TRUE(
        std::regex_search(pair, std::regex(">input 2, point [0-9]+ [xyz] -&gt; output 6, ")));
    EXPECT_NE(pair.find("magnitude / (MILLIMETER/SECOND per NEWTON)"), std::string::npos);

    // A pair outside the model, a malformed pair, a missing option, a plot
    // that cannot be written (and leaves nothing).
    std::string err;
    EXPECT_EQ(check({"--plot", path("x.svg"), "--pair", "7,1"}, out, &err), 64);
    EXPECT_NE(err.find("6 inputs"), std::string::npos) << err;
    EXPECT_EQ(check({"--plot", path("x.svg"), "--pair", "2;6"}, out), 64);
    EXPECT_EQ(check({"--pair", "2,6"}, out), 64);
    EXPECT_EQ(check({"--plot", path("no_folder/x.svg")}, out, &err), 73);
    EXPECT_FALSE(fs::exists(dir.path() / "no_folder"));
    EXPECT_FALSE(fs::exists(dir.path() / "x.svg"));
    std::vector<std::string> words = {"check", path("vehicle.bdf"), "--abc", path("vehicle_")};
    testing::internal::CaptureStderr();
    EXPECT_EQ(sorvan::test::run_captured(sorvan::cli::run_check, words, out), 64);
    testing::internal::GetCapturedStderr();
}

// The golden models converted afresh, with the settings their golden decks
// were written with, pass the check run by convert itself.
TEST_F(Check, ConvertThenCheckPassesOnTheGoldenModels) {
    copy_model(SORVAN_EXAMPLES "/vehicle", "vehicle.map", "vehicle_");
    copy_model(SORVAN_TEST_DATA "/bdf", "truck.map", "truck_");
    std::string out;
    ASSERT_EQ(run_program("convert vehicle.map vehicle_ --length-unit mm --mass-unit mgg "
                          "--stiffness 2.5e8 --damping 1.2e6 --torsional-stiffness 4.297183e7 "
                          "--torsional-damping 1.890761e5 --check --json",
                          out),
              0)
        << out;
    EXPECT_EQ(read_text(dir.path() / "vehicle.bdf"), read_text(golden + "vehicle.bdf"));
    const std::size_t brace = out.find("{\n");
    ASSERT_NE(brace, std::string::npos) << out;
    const nlohmann::json j = nlohmann::json::parse(out.substr(brace));
    EXPECT_TRUE(j["check"]["passed"].get<bool>());
    EXPECT_EQ(j["check"]["dmig_entries_checked"], 117);

    // The truck through the plain converter in inch, pound-force, slug and
    // milliseconds; its cards are those of the golden deck (whose header
    // names the default units instead), and a deck of two time bases fails.
    ASSERT_EQ(run_program("convert truck.map truck_ --direct --length-unit in --force-unit lbf "
                          "--mass-unit slug --time-unit ms --check",
                          out),
              1)
        << out;
    EXPECT_NE(out.find("holds no one time base"), std::string::npos) << out;
    // The same conversion in SI.
    ASSERT_EQ(run_program("convert truck.map truck_ -o si.bdf --check", out), 0) << out;
    EXPECT_NE(out.find("check passed"), std::string::npos) << out;
}

// The example in large fields: the TF* and DMIG* cards hold what the small
// cards hold, to within the small fields' 4 digits, and enough digits that
// the rebuilt model is the ABC set's and the coupling coefficients are
// exact; the DMIG matrix is declared double precision.
TEST_F(Check, LargeFieldDeckKeepsEveryDigitTheModelNeeds) {
    copy_model(SORVAN_EXAMPLES "/vehicle", "vehicle.map", "vehicle_");
    const std::string units = " --length-unit mm --mass-unit mgg --stiffness 2.5e5";
    std::string out;
    ASSERT_EQ(run_program("convert vehicle.map vehicle_ -o small.bdf" + units, out), 0) << out;
    ASSERT_EQ(run_program("convert vehicle.map vehicle_ --large-field --json" + units, out), 0)
        << out;
    const nlohmann::json converted = nlohmann::json::parse(out.substr(out.find("{\n")));
    EXPECT_EQ(converted["large_field"], true);
    EXPECT_EQ(converted["cards"]["TF*"], 26 + 125 + 4 + 2 + 4);

    const nlohmann::json j = check_json(0);
    EXPECT_TRUE(j["ok"].get<bool>());
    EXPECT_EQ(j["coefficients_checked"], 4 * 12 + 4 * 6 + 2 * 3);
    EXPECT_EQ(j["dmig_entries_checked"], 125 - 8);
    EXPECT_EQ(j["max_coefficient_deviation"], 0.0);
    for (const char *key : {"max_frequency_shift", "max_damping_shift", "max_response_deviation"})
        EXPECT_LT(j[key].get<double>(), 1e-9) << key;

    sorvan::analysis::Deck small, large;
    std::string error;
    ASSERT_TRUE(sorvan::analysis::read_deck(path("small.bdf"), small, error)) << error;
    ASSERT_TRUE(sorvan::analysis::read_deck(path("vehicle.bdf"), large, error)) << error;
    // A small-field real keeps 4 digits (3 from exponent 10 on), its
    // mantissa at least 0.999.
    auto near = [](double x, double full) {
        const double a = std::abs(full);
        const double digits = a >= 1e10 || a < 1e-9 ? 0.005 : 0.0005;
        return std::abs(x - full) <= digits / 0.999 * a;
    };
    ASSERT_EQ(large.tfs.size(), small.tfs.size());
    for (std::size_t k = 0; k < small.tfs.size(); ++k) {
        const auto &x = small.tfs[k], &y = large.tfs[k];
        SCOPED_TRACE("small line " + std::to_string(x.line) + ", large line " +
                     std::to_string(y.line));
        EXPECT_TRUE(y.large && !x.large);
        EXPECT_EQ(std::tie(x.set, x.point, x.component), std::tie(y.set, y.point, y.component));
        EXPECT_TRUE(near(x.b0, y.b0) && near(x.b1, y.b1) && near(x.b2, y.b2));
        ASSERT_EQ(x.terms.size(), y.terms.size());
        for (std::size_t t = 0; t < x.terms.size(); ++t) {
            const auto &u = x.terms[t], &v = y.terms[t];
            EXPECT_EQ(std::tie(u.point, u.component), std::tie(v.point, v.component));
            EXPECT_TRUE(near(u.a0, v.a0) && near(u.a1, v.a1) && near(u.a2, v.a2)) << t;
        }
    }
    ASSERT_EQ(large.dmig_headers.size(), 1u);
    EXPECT_EQ(large.dmig_headers[0].type, 2);
    EXPECT_EQ(small.dmig_headers[0].type, 1);
    ASSERT_EQ(large.dmig_entries.size(), small.dmig_entries.size());
    for (std::size_t k = 0; k < small.dmig_entries.size(); ++k)
        EXPECT_TRUE(large.dmig_entries[k].large &&
                    near(small.dmig_entries[k].value, large.dmig_entries[k].value))
            << k;
}

// The golden truck deck was written by the plain converter in inch,
// pound-force and milliseconds while its header names the label variables'
// defaults: its cards pass, checked in the units they are written in, with
// a warning that names them; its closed loop holds statically, but its time
// bases differ.
TEST_F(Check, GoldenTruckDeckPassesInTheUnitsOfItsCards) {
    copy_model(SORVAN_TEST_DATA "/bdf", "truck.map", "truck_");
    std::string out;
    std::vector<std::string> words = {"check", golden + "truck.bdf", "--map", path("truck.map"),
                                      "--abc", path("truck_"),       "--json"};
    ASSERT_EQ(sorvan::test::run_captured(sorvan::cli::run_check, words, out), 1) << out;
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(
        j["units_from_cards"],
        nlohmann::json({{"length", "INCH"}, {"force", "POUND_FORCE"}, {"time", "MILLISECOND"}}));
    ASSERT_EQ(j["warnings"].size(), 1u);
    EXPECT_NE(j["warnings"][0].get<std::string>().find("header names the export units METER"),
              std::string::npos);
    // Every graphic output: 26 outputs less the 5 of the state space.
    EXPECT_EQ(j["dmig_entries_checked"], 21);
    EXPECT_EQ(j["max_coefficient_deviation"], 0.0);
    EXPECT_LT(j["closed_loop"]["static_deviation"].get<double>(), 1e-4);
    ASSERT_EQ(j["failures"].size(), 1u);
    EXPECT_NE(j["failures"][0].get<std::string>().find("MILLISECOND"), std::string::npos);
}

// Decks edited by hand, each failing with the finding that names the edit.
// Each row a test of its own (one JSON object a process).
struct DeckEdit {
    const char *what, *pattern, *replacement, *failure;
};

void PrintTo(const DeckEdit &c, std::ostream *os) {
    *os << c.what;
}

// Output 105 (point 1000111) is held at zero by the model; output 9 (point
// 1000015) has a term of 6.269e-2 on the first state (point 1000132).
const DeckEdit deck_edits[] = {
    {"c_term_on_a_zero_output", R"((TF +1 1000111 +0 -1\.0000  0\.0000  0\.0000\n))",
     "$1         1000132       0 5.000+2  0.0000  0.0000\n", "-> output 105:"},
    {"d_term_on_a_zero_pair", R"((TF +1 1000111 +0 -1\.0000  0\.0000  0\.0000\n))",
     "$1         1000001       0 1.000+6  0.0000  0.0000\n", "input 1 -> output 105:"},
    {"term_removed", R"((TF +1 1000015 +0 -1\.0000  0\.0000  0\.0000\n) +1000132 +0 6\.269-2.*\n)",
     "$1", "-> output 9:"},
    {"sign_flipped", R"((TF +1 1000015 +0 -1\.0000  0\.0000  0\.0000\n +1000132 +0) 6\.269-2)",
     "$1-6.269-2", "-> output 9:"},
    // The structure point's coefficients positive, as decks were once
    // written: a spring that pushes the structure away.
    {"positive_structure_terms", R"((\n +10[1-4] +3)-(2\.500\+5)-(1\.200\+3))", "$1 $2 $3",
     "static deflection of structure point"},
    // The displacement output's term gone from a coupling card.
    {"no_displacement_term", R"(\n +1000007 +0 2\.500\+5.*)", "",
     "closed loop: the static deflection"},
};

class Edited : public Check, public testing::WithParamInterface<DeckEdit> {};

TEST_P(Edited, FailsWithTheEditNamed) {
    const DeckEdit &c = GetParam();
    copy_example();
    const std::string before = read_text(dir.path() / "vehicle.bdf");
    const std::string text = std::regex_replace(before, std::regex(c.pattern), c.replacement);
    ASSERT_NE(text, before) << "the edit finds nothing to change";
    write_text(dir.path() / "vehicle.bdf", text);
    // A plot that cannot be drawn does not hide the failed check.
    std::string out;
    ASSERT_EQ(check({"--json", "--plot", path("none/x.svg")}, out), 1) << out;
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_TRUE(j.contains("plot_error")) << j;
    bool named = false;
    for (const auto &f : j["failures"])
        named = named || f.get<std::string>().find(c.failure) != std::string::npos;
    EXPECT_TRUE(named) << j["failures"];
}

INSTANTIATE_TEST_SUITE_P(Deck, Edited, testing::ValuesIn(deck_edits),
                         [](const auto &info) { return std::string(info.param.what); });

// No output of the check replaces one of its inputs, under any name.
TEST_F(Check, PlotNeverReplacesAnInput) {
    copy_example();
    const std::string deck = read_text(dir.path() / "vehicle.bdf");
    std::string out, err;
#ifndef _WIN32 // a link to the deck (Windows needs rights for links)
    fs::create_symlink(dir.path() / "vehicle.bdf", dir.path() / "deck.svg");
    EXPECT_EQ(check({"--plot", path("deck.svg")}, out, &err), 64);
    EXPECT_NE(err.find("--plot " + path("deck.svg") + " would be written over BDF_FILE"),
              std::string::npos)
        << err;
#endif
    EXPECT_EQ(check({"--plot", path("vehicle_a")}, out, &err), 64);
    EXPECT_NE(err.find("must end in .svg"), std::string::npos) << err;
    EXPECT_EQ(read_text(dir.path() / "vehicle.bdf"), deck);
}

// A deck whose cards do not match its model fails convert --check's
// caller-visible status too: the deck of another model is checked here.
TEST_F(Check, DeckOfAnotherModelFails) {
    copy_example();
    copy_model(SORVAN_TEST_DATA "/bdf", "truck.map", "truck_");
    std::string out;
    std::vector<std::string> words = {"check", path("vehicle.bdf"), "--map", path("truck.map"),
                                      "--abc", path("truck_"),      "--json"};
    EXPECT_EQ(sorvan::test::run_captured(sorvan::cli::run_check, words, out), 1);
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_FALSE(j["ok"].get<bool>());
    EXPECT_NE(j["failures"][0].get<std::string>().find("does not hold the model"),
              std::string::npos)
        << j["failures"];

    // No deck at all.
    words[1] = path("none.bdf");
    testing::internal::CaptureStderr();
    EXPECT_EQ(sorvan::test::run_captured(sorvan::cli::run_check, words, out), 66);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("none.bdf"), std::string::npos);
}

} // namespace
