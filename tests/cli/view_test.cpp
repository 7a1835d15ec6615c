// sorvan view: the drawing parsed back (views, elements per view, where a
// point along each axis lands in each view) and the wheel geometry against
// its closed form.
#include "analysis/geometry_view.h"
#include "cli/command_line.h"
#include "cli/commands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <regex>

namespace {

using namespace sorvan::test;

int count(const std::string &text, const std::string &pattern) {
    const std::regex re(pattern);
    return static_cast<int>(
        std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

// The nested <svg> of each view: its id and its text up to its end.
std::map<std::string, std::string> views_of(const std::string &svg) {
    std::map<std::string, std::string> views;
    const std::regex start("<svg class=\"view\" id=\"([a-z]+)\"");
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), start);
         it != std::sregex_iterator(); ++it) {
        const auto from = static_cast<std::size_t>(it->position());
        views[(*it)[1]] = svg.substr(from, svg.find("</svg>", from) - from);
    }
    return views;
}

TEST_F(CommandLine, ExampleHasFourViewsOfEveryPart) {
    const Result r = call(sorvan::cli::run_view, {"view", "vehicle.map", "--svg", "v.svg",
                                                  "--labels", "--abc", "vehicle_"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = read_text(file("v.svg"));
    const auto views = views_of(svg);
    ASSERT_EQ(views.size(), 4u);
    for (const char *name : sorvan::analysis::view_names) {
        ASSERT_TRUE(views.count(name)) << name;
        const std::string &v = views.at(name);
        EXPECT_EQ(count(v, "class=\"element\""), 36) << name;
        EXPECT_EQ(count(v, "class=\"node\""), 31) << name;
        EXPECT_EQ(count(v, "class=\"wheel\""), 4) << name;
        EXPECT_EQ(count(v, "class=\"label\""), 31 + 4) << name;
        EXPECT_EQ(count(v, "class=\"scale-bar\""), 1) << name;
        EXPECT_GE(count(v, "class=\"axis\""), 2) << name;
    }
    // The labels are the GRID numbers of the deck: the first node follows
    // the last state point 1000157 and the one unused identifier.
    EXPECT_NE(svg.find(">1000159<"), std::string::npos);
    EXPECT_EQ(svg.find(">101<"), std::string::npos);
    // A rim of 24 divisions draws 72 segments per wheel.
    std::smatch m;
    ASSERT_TRUE(std::regex_search(svg, m, std::regex("class=\"wheel\"[^>]* d=\"([^\"]*)\"")));
    EXPECT_EQ(count(m[1], "M"), 72);
}

// Nodes 2, 3, 4 lie 1 m from node 1 along x, y and z. Each view shows them
// on the side its caption says, one scale in all: front, looking along -x,
// has y to the right and z up; side, looking along +y, x right and z up;
// top, looking along -z, x right and y up; isometric, looking along
// (-1, 1, -1), x right and down, y right and up, z up.
TEST_F(CommandLine, AxesPointWhereEachViewSays) {
    ASSERT_EQ(call(sorvan::cli::run_view, {"view", "axes.map", "--svg", "a.svg"}).status, 0);
    const double r2 = std::sqrt(0.5), r6 = std::sqrt(1.0 / 6);
    // Per view, per axis: the point's move to the right and up on the page.
    const std::map<std::string, std::array<std::array<double, 2>, 3>> moves = {
        {"front", {{{0, 0}, {1, 0}, {0, 1}}}},
        {"side", {{{1, 0}, {0, 0}, {0, 1}}}},
        {"top", {{{1, 0}, {0, 1}, {0, 0}}}},
        {"isometric", {{{r2, -r6}, {r2, r6}, {0, 2 * r6}}}},
    };
    const auto views = views_of(read_text(file("a.svg")));
    ASSERT_EQ(views.size(), 4u);
    double scale = 0.0;
    for (const auto &[name, move] : moves) {
        SCOPED_TRACE(name);
        const std::string &v = views.at(name);
        const std::regex node("class=\"node\" cx=\"([-0-9.]+)\" cy=\"([-0-9.]+)\"");
        std::vector<std::array<double, 2>> at;
        for (auto it = std::sregex_iterator(v.begin(), v.end(), node); it != std::sregex_iterator();
             ++it)
            at.push_back({std::stod((*it)[1]), std::stod((*it)[2])});
        ASSERT_EQ(at.size(), 4u);
        if (scale == 0.0) scale = std::hypot(at[2][0] - at[0][0], at[2][1] - at[0][1]);
        ASSERT_GT(scale, 10.0);
        for (int axis = 0; axis < 3; ++axis) {
            const auto &p = at[static_cast<std::size_t>(axis) + 1];
            EXPECT_NEAR(p[0] - at[0][0], scale * move[axis][0], 0.02) << "axis " << axis;
            EXPECT_NEAR(at[0][1] - p[1], scale * move[axis][1], 0.02) << "axis " << axis;
        }
    }
}

// The rim of a wheel turned by theta = 90 degrees stands upright with its
// axis along -y, radius r about the centre and +- w/2 along the axis.
TEST(WheelShape, RimIsACircleAroundTheTurnedAxis) {
    const double pi = std::acos(-1.0);
    const double g[8] = {1000, 500, 300, 0, 90, 0, 300, 200}; // mm and degrees
    const auto w = sorvan::analysis::wheel_shape(g, 0.001, pi / 180, 1.0, 12);
    ASSERT_EQ(w.rim.size(), 24u);
    EXPECT_NEAR(w.centre[0], 1.0, 1e-12);
    EXPECT_NEAR(w.centre[1], 0.5, 1e-12);
    EXPECT_NEAR(w.centre[2], 0.3, 1e-12);
    for (std::size_t k = 0; k < w.rim.size(); ++k) {
        const auto &p = w.rim[k];
        const double dx = p[0] - 1.0, dy = p[1] - 0.5, dz = p[2] - 0.3;
        EXPECT_NEAR(std::hypot(dx, dz), 0.3, 1e-12) << k;
        EXPECT_NEAR(dy, k % 2 == 0 ? -0.1 : 0.1, 1e-12) << k; // +h along the local z = -y
    }
    // Division 0 lies on the local x axis, which the angles leave on x.
    EXPECT_NEAR(w.rim[0][0], 1.3, 1e-12);
    EXPECT_NEAR(w.rim[0][2], 0.3, 1e-12);
}

} // namespace
