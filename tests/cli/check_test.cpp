// sorvan check in this process on the golden deck edited as each case of
// tests/data/cases/deck_edits.txt says; the large-field deck card by card
// against the small one; and the response plot's axes.
#include "analysis/deck.h"
#include "analysis/response_plot.h"
#include "cli/command_line.h"
#include "cli/commands.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <regex>
#include <tuple>

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

// The example in large fields with the golden deck's settings: its TF* and
// DMIG* cards hold what the golden deck's small cards hold, to within the
// small fields' 4 digits (3 from exponent 10 on, the mantissa at least
// 0.999), and the DMIG matrix is declared double precision.
TEST_F(CommandLine, LargeFieldDeckHoldsTheSmallDecksCards) {
    const Result r = run("convert vehicle.map vehicle_ --large-field --length-unit mm --mass-unit "
                         "mgg --stiffness 2.5e8 --damping 1.2e6 --torsional-stiffness 4.297183e7 "
                         "--torsional-damping 1.890761e5");
    ASSERT_EQ(r.status, 0) << r.err;
    sorvan::analysis::Deck small, large;
    std::string error;
    ASSERT_TRUE(sorvan::analysis::read_deck(file("golden.bdf").string(), small, error)) << error;
    ASSERT_TRUE(sorvan::analysis::read_deck(file("vehicle.bdf").string(), large, error)) << error;
    auto near = [](double x, double full) {
        const double a = std::abs(full);
        return std::abs(x - full) <= (a >= 1e10 || a < 1e-9 ? 0.005 : 0.0005) / 0.999 * a;
    };
    ASSERT_EQ(large.tfs.size(), small.tfs.size());
    for (std::size_t k = 0; k < small.tfs.size(); ++k) {
        const auto &x = small.tfs[k], &y = large.tfs[k];
        SCOPED_TRACE("small line " + std::to_string(x.line));
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
