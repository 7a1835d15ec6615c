// sorvan check in this process on the golden deck edited as each case of
// tests/data/cases/deck_edits.txt says, and the response plot's axes.
#include "analysis/response_plot.h"
#include "cli/command_line.h"
#include "cli/commands.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <regex>

namespace {

using namespace sorvan::test;

class Edited : public CommandLine, public testing::WithParamInterface<Case> {};

TEST_P(Edited, FailsWithTheEditNamed) {
    const Case &c = GetParam();
    ASSERT_GE(c.fields.size(), 4u);
    const std::string before = read_text(file("golden.bdf"));
    const std::string text =
        std::regex_replace(before, std::regex(c.fields[2]), c.fields.size() > 3 ? c.fields[3] : "");
    ASSERT_NE(text, before) << "the edit finds nothing to change";
    write_text(file("vehicle.bdf"), text);
    const Result r =
        call(sorvan::cli::run_check, {"check", "vehicle.bdf", "--map", "vehicle.map", "--abc",
                                      "vehicle_", "--json", "--plot", "none/x.svg"});
    EXPECT_EQ(r.status, std::stoi(c.fields[1])) << r.out << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    for (std::size_t k = 4; k < c.fields.size(); ++k)
        expect_check(c.fields[k], r, j, dir);
}

INSTANTIATE_TEST_SUITE_P(Deck, Edited, testing::ValuesIn(read_cases("deck_edits.txt")),
                         [](const auto &info) { return info.param.fields[0]; });

// The plot's axes: the frequencies 1 to 100 Hz span the decades 10^0 to
// 10^2 from x 96 to 790, the magnitudes 0.1 to 100 the decades 10^-1 to
// 10^2 from y 430 up to 70, the phase -180 to 180 degrees y 690 up to 500.
TEST(ResponsePlot, ValuesLandWhereTheAxesPutThem) {
    sorvan::analysis::ResponsePlot plot;
    plot.frequency_hz = {1.0, 10.0, 100.0};
    plot.first = {0.1, 1.0, std::polar(100.0, std::acos(-1.0) / 2)};
    plot.second = {0.1, 0.1, 0.1};
    std::string error;
    const std::string svg = sorvan::analysis::response_plot_svg(plot, error);
    ASSERT_FALSE(svg.empty()) << error;
    const std::regex curve("class=\"curve\"[^>]* d=\"([^\"]*)\"");
    EXPECT_EQ(
        std::distance(std::sregex_iterator(svg.begin(), svg.end(), curve), std::sregex_iterator()),
        4); // magnitude and phase of each response
    // The first curve's magnitude, then its phase (0, 0, 90 degrees).
    std::smatch m;
    ASSERT_TRUE(std::regex_search(svg, m, curve));
    std::vector<double> xy;
    const std::string d = m[1];
    const std::regex number("-?[0-9.]+");
    for (auto it = std::sregex_iterator(d.begin(), d.end(), number); it != std::sregex_iterator();
         ++it)
        xy.push_back(std::stod(it->str()));
    const std::vector<double> expected = {96, 430, 443, 310, 790, 70};
    ASSERT_EQ(xy.size(), expected.size()) << d;
    for (std::size_t k = 0; k < xy.size(); ++k)
        EXPECT_NEAR(xy[k], expected[k], 0.05) << d;
    const std::string rest = m.suffix();
    ASSERT_TRUE(std::regex_search(rest, m, curve));
    EXPECT_EQ(m[1], "M96.0 595.0 L443.0 595.0 L790.0 547.5");
}

} // namespace
