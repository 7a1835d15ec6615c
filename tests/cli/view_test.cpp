// sorvan view: the drawing parsed back (views, elements per view, the
// orientation and size of what is drawn) and the wheel geometry against
// its closed form.
#include "analysis/geometry_view.h"
#include "cli/commands.h"
#include "model_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <regex>

namespace {

namespace fs = std::filesystem;
using sorvan::test::read_text;

const double pi = std::acos(-1.0);

int count(const std::string &text, const std::string &pattern) {
    const std::regex re(pattern);
    return static_cast<int>(
        std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

// The nested <svg> of each view: its id and its text up to its end.
std::map<std::string, std::string> views_of(const std::string &svg) {
    std::map<std::string, std::string> views;
    const std::regex start(
        "<svg class=\"view\" id=\"([a-z]+)\"[^>]*viewBox=\"0 0 [0-9.]+ [0-9.]+\"");
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), start);
         it != std::sregex_iterator(); ++it) {
        const auto from = static_cast<std::size_t>(it->position());
        views[(*it)[1]] = svg.substr(from, svg.find("</svg>", from) - from);
    }
    return views;
}

class View : public testing::Test {
  protected:
    sorvan::test::ScratchDir dir{"view"};
    const std::string example = SORVAN_EXAMPLES "/vehicle/";

    std::string path(const std::string &name) const { return (dir.path() / name).string(); }

    int run(std::vector<std::string> words, std::string *err = nullptr) {
        words.insert(words.begin(), "view");
        std::string out;
        testing::internal::CaptureStderr();
        const int status = sorvan::test::run_captured(sorvan::cli::run_view, words, out);
        const std::string e = testing::internal::GetCapturedStderr();
        if (err) *err = e;
        return status;
    }
};

TEST_F(View, ExampleHasFourViewsOfEveryPart) {
    ASSERT_EQ(run({example + "vehicle.map", "--svg", path("v.svg"), "--labels", "--abc",
                   example + "vehicle_", "--length-unit", "mm"}),
              0);
    const std::string svg = read_text(dir.path() / "v.svg");
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
    const std::regex path_data("class=\"wheel\"[^>]* d=\"([^\"]*)\"");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(svg, m, path_data));
    EXPECT_EQ(count(m[1], "M"), 72);
}

// The roof lies above the wheels in the side view, and the size printed
// follows the export unit: drawn 1000 times too large or upside down shows.
TEST_F(View, OrientationAndSizeFollowTheModelAndTheUnit) {
    ASSERT_EQ(run({example + "vehicle.map", "--svg", path("mm.svg"), "--length-unit", "mm"}), 0);
    ASSERT_EQ(run({example + "vehicle.map", "--svg", path("m.svg")}), 0);
    const std::string mm = read_text(dir.path() / "mm.svg"), m = read_text(dir.path() / "m.svg");
    // The example's nodes run from x -2350 to 2150 mm, z 0 (wheel bottom)
    // to 1450 mm.
    EXPECT_NE(mm.find("extent x 4500, "), std::string::npos);
    EXPECT_NE(m.find("extent x 4.5, "), std::string::npos);
    EXPECT_NE(m.find("z from 0 to 1.45 METER"), std::string::npos);

    const std::string side = views_of(m).at("side");
    const std::regex node("class=\"node\" cx=\"([-0-9.]+)\" cy=\"([-0-9.]+)\"");
    std::vector<double> cy;
    for (auto it = std::sregex_iterator(side.begin(), side.end(), node);
         it != std::sregex_iterator(); ++it)
        cy.push_back(std::stod((*it)[2]));
    ASSERT_EQ(cy.size(), 31u);
    // Node 9 (z 1450 mm) is the roof, node 1 (z 350 mm) the floor: page y
    // grows downwards.
    EXPECT_LT(cy[8], cy[0]);
    EXPECT_NEAR((cy[0] - cy[8]) / 1.1, (cy[0] - cy[4]) / 0.45, 0.1); // one scale
}

// The rim of a wheel turned by theta = 90 degrees stands upright with its
// axis along -y, radius r about the centre and +- w/2 along the axis.
TEST(WheelShape, RimIsACircleAroundTheTurnedAxis) {
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

TEST_F(View, RefusesWhatCannotBeDrawnAndWritesNothing) {
    std::string err;
    EXPECT_EQ(run({example + "vehicle.map"}, &err), 64);
    EXPECT_NE(err.find("--svg"), std::string::npos) << err;
    EXPECT_EQ(run({example + "vehicle.map", "--svg", path("x.svg"), "--length-unit", "furlong"}),
              64);
    // A model without graphics.
    sorvan::test::MapText map;
    map.inputs = {{1, 3}};
    map.outputs = {{1, 3, 1}};
    sorvan::test::write_text(dir.path() / "bare.map", sorvan::test::map_text(map));
    EXPECT_EQ(run({path("bare.map"), "--svg", path("x.svg")}, &err), 65);
    EXPECT_NE(err.find("no graphic nodes and no wheels"), std::string::npos) << err;
    EXPECT_EQ(run({path("missing.map"), "--svg", path("x.svg")}, &err), 66);
    EXPECT_NE(err.find("missing.map"), std::string::npos) << err;
    EXPECT_EQ(run({example + "vehicle.map", "--svg", path("no_folder/x.svg")}), 73);
    EXPECT_FALSE(fs::exists(dir.path() / "x.svg"));
    EXPECT_FALSE(fs::exists(dir.path() / "no_folder"));
}

} // namespace
