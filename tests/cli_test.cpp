// The sorvan command line end to end: the built program runs every case of
// tests/data/cases/command_lines.txt in a stocked folder of its own, once
// as written and once with --json, and the tests below look at what a case
// cannot state: the help against the command tables, and a seed from the
// clock given back.
#include "analysis/road_plot.h"
#include "cli/command_line.h"
#include "cli/commands.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using namespace sorvan::test;
constexpr auto npos = std::string::npos;

class Row : public CommandLine, public testing::WithParamInterface<Case> {
  protected:
    // The commands that need no plug-in run in this process (where the
    // memory checker sees them), the others, and all under a limit of the
    // shell, in the built program.
    Result exec(const std::string &line) {
        const std::map<std::string, int (*)(int, char **)> here = {
            {"check", sorvan::cli::run_check},
            {"info", sorvan::cli::run_info},
            {"view", sorvan::cli::run_view},
            {"profile", sorvan::cli::run_profile}};
        const auto command = here.find(line.substr(0, line.find(' ')));
        if (command == here.end() || !limit.empty()) return run(line, limit);
        return call(command->second, split(line, ' ', Quotes::out)); // "..." one word
    }

    // A step before the words: a file of a size, a pipe, a limit; any
    // other a command that must succeed.
    void prepare(const std::string &step) {
        std::istringstream words(step);
        std::string verb, name;
        words >> verb >> name;
        if (verb == "sized") {
            std::uintmax_t size = 0;
            words >> size;
            write_text(file(name), "");
            fs::resize_file(file(name), size);
#ifndef _WIN32
        } else if (verb == "fifo") {
            ASSERT_EQ(mkfifo(file(name).c_str(), 0600), 0);
#endif
        } else if (verb == "ulimit") {
            limit = step + "; ";
        } else {
            const Result r = exec(step);
            ASSERT_EQ(r.status, 0) << step << "\n" << r.err;
        }
    }

    std::string limit; // what the shell runs before the program
};

// The case's exit status and message, the envelope of its --json run (one
// object with the same status, the message as its error), its checks, and
// for every case: the files that were there before are as they were, and no
// temporary or backup file is left behind.
TEST_P(Row, RunsAsTheCaseSays) {
    const Case &c = GetParam();
    ASSERT_GE(c.fields.size(), 2u);
#ifdef _WIN32
    if (c.fields[1].find("posix") != npos) GTEST_SKIP() << "a case for POSIX systems";
#endif
    if (c.fields[1].find("unsanitized") != npos && under_sanitizer())
        GTEST_SKIP() << "no room for a limit beside the sanitizer's memory";
    std::string words = c.fields[0];
    if (const std::size_t at = words.find("$PLUGIN"); at != npos)
        words.replace(at, 7, "\"" SORVAN_PLUGIN_FILE "\"");
    if (const std::size_t at = words.find("$LONG"); at != npos)
        words.replace(at, 5, std::string(4096, 'x'));
    for (std::size_t at; (at = words.find(" ;; ")) != npos; words.erase(0, at + 4)) {
        prepare(words.substr(0, at));
        if (HasFatalFailure()) return;
    }
    const auto before = snapshot(dir);
    const int status = std::stoi(c.fields[1]);
    const Result plain = exec(words);
    EXPECT_EQ(plain.status, status) << "stdout:\n" << plain.out << "stderr:\n" << plain.err;
    EXPECT_NE(plain.err.find(c.fields.size() > 2 ? c.fields[2] : ""), npos) << plain.err;
    if (status == 64) {
        EXPECT_TRUE(plain.out.empty()) << plain.out;
    }
    nlohmann::json j;
    const std::string command = words.substr(0, words.find(' '));
    for (const sorvan::cli::CommandSpec *spec : sorvan::cli::all_commands()) {
        if (spec->name != command || !spec->json) continue;
        const Result r = exec(command + " --json" + words.substr(command.size()));
        EXPECT_EQ(r.status, status) << r.err;
        j = nlohmann::json::parse(r.out, nullptr, false);
        ASSERT_TRUE(j.is_object()) << r.out;
        EXPECT_EQ(j["command"], command);
        EXPECT_EQ(j["ok"], status == 0);
        EXPECT_EQ(j["exit"], status);
        EXPECT_TRUE(j["warnings"].is_array());
        EXPECT_FALSE(j.contains("result"));
        if (status != 0) {
            // The words of standard error.
            ASSERT_TRUE(j["error"].is_string()) << j;
            EXPECT_NE(r.err.find(j["error"].get<std::string>()), npos) << r.err;
        }
    }
    for (std::size_t k = 3; k < c.fields.size(); ++k)
        expect_check(c.fields[k], plain, j, dir);
    const auto after = snapshot(dir);
    for (const auto &[name, bytes] : before)
        EXPECT_TRUE(after.count(name) && after.at(name) == bytes) << name << " changed";
    for (const auto &e : fs::recursive_directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        EXPECT_TRUE(name.find(".tmp") == npos && name.find(".old") == npos) << name << " left";
    }
}

INSTANTIATE_TEST_SUITE_P(Case, Row, testing::ValuesIn(read_cases("command_lines.txt")), case_name);

// The README's command-line reference holds every command's option table as
// the program prints it, and the program's help is the table's: one source
// for the parser, the help and the README.
TEST_F(CommandLine, ReadmeAndHelpComeFromTheTables) {
    const std::string readme = read_text(fs::path(SORVAN_EXAMPLES) / ".." / "README.md");
    const Result top = run("--help");
    EXPECT_EQ(top.status, 0);
    for (const sorvan::cli::CommandSpec *spec : sorvan::cli::all_commands()) {
        SCOPED_TRACE(spec->name);
        if (!spec->options->empty()) {
            EXPECT_NE(readme.find(sorvan::cli::options_markdown(*spec)), npos)
                << "the README lacks or differs from:\n"
                << sorvan::cli::options_markdown(*spec);
        }
        EXPECT_NE(readme.find(std::string("sorvan ") + spec->name), npos);
        EXPECT_NE(top.out.find(std::string("\n  ") + spec->name + " "), npos) << top.out;
        const std::string help = written([&](std::FILE *f) { sorvan::cli::print_help(*spec, f); });
        for (const auto &o : *spec->options)
            EXPECT_NE(help.find(std::string("--") + o.name + " "), npos) << o.name;
        const Result r = run(std::string(spec->name) + " --help");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, without_cr(help));
        EXPECT_EQ(run(std::string("help ") + spec->name).out, r.out);
    }
}

// A seed from the clock is printed, and passing it back gives the same
// tracks.
TEST_F(CommandLine, RoadClockSeedIsPrintedAndReproducible) {
    Result r = run("road a.rsp --seed 0 --length 50 --tracks 2 --csv a.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("seed ([0-9]+) \\(from the clock\\)")))
        << r.out;
    EXPECT_GT(std::stol(m[1]), 0);
    r = run("road b.rsp --length 50 --tracks 2 --csv b.csv --seed " + m[1].str());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("from the clock"), npos);
    EXPECT_EQ(read_text(file("a.csv")), read_text(file("b.csv")));
}

// The road plot's model curves.
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

} // namespace
