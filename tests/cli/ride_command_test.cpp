// sorvan ride end to end through the built program: the rear axle's input
// is the front's delayed by the offset over the speed, the outputs come
// back from the RPC III file in time through sorvan profile, road --speed
// writes the same profile in time, and bad command lines are refused.
#include "cli/model_files.h"
#include "support/files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

namespace {

using sorvan::test::ScratchDir;

class RideCommand : public testing::Test {
  protected:
    ScratchDir dir{"ride"};

    std::filesystem::path file(const std::string &name) const { return dir.path() / name; }

    int program(const std::string &words, std::string &out, std::string &err) {
        const int status = sorvan::test::run_in_folder(
            dir.path(), "\"" SORVAN_CLI "\" " + words + " --plugin \"" SORVAN_PLUGIN_FILE "\"",
            "out.txt", "err.txt");
        out = sorvan::test::read_text(file("out.txt"));
        err = sorvan::test::read_text(file("err.txt"));
        return status;
    }

    std::vector<std::vector<double>> table(const std::string &name, std::string &header) {
        return sorvan::test::read_csv_table(file(name), header);
    }

    // A model whose two outputs are its two external inputs (D = I), and a
    // road of 100 m: a sine of 10 mm and 7.3 m wavelength, points 0.1 m apart.
    void SetUp() override {
        sorvan::test::MapText map;
        map.outputs = {{1, 3, 1}, {2, 3, 1}};
        map.externals = {"front", "rear"};
        sorvan::test::write_text(file("pass.map"), sorvan::test::map_text(map));
        sorvan::test::write_abc(file("pass_"), Eigen::MatrixXd::Constant(1, 1, -1.0),
                                Eigen::MatrixXd::Zero(1, 2), Eigen::MatrixXd::Zero(2, 1),
                                Eigen::MatrixXd::Identity(2, 2));
        std::string road = "distance_m,bump_mm\n";
        for (int i = 0; i <= 1000; ++i) {
            char row[64];
            std::snprintf(row, sizeof row, "%d.%d,%.17g\n", i / 10, i % 10, elevation_mm(i));
            road += row;
        }
        sorvan::test::write_text(file("road.csv"), road);
    }

    static double elevation_mm(int point) {
        return 10.0 * std::sin(2 * std::numbers::pi * point * 0.1 / 7.3);
    }
};

// At 36 km/h and 100 samples a second every sample falls on a point of the
// road; the rear input, 2.5 m behind, is the front one 0.25 s (25 samples)
// later, and the first road point before that.
TEST_F(RideCommand, RearInputIsTheFrontDelayedAndComesBackInTime) {
    std::string out, err, header;
    ASSERT_EQ(program("ride pass.map pass_ --road road.csv --speed 36 --input front=bump@0 "
                      "--input rear=1@2.5 --output 1,2 --rate 100 --duration 9 --csv ride.csv "
                      "--rpc ride.rsp --json",
                      out, err),
              0)
        << err;
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(j["samples"], 901);
    EXPECT_DOUBLE_EQ(j["inputs"][1]["delay_s"].get<double>(), 0.25);
    const auto rows = table("ride.csv", header);
    ASSERT_EQ(rows.size(), 901u);
    EXPECT_EQ(header, "time_s,p1_z_m,p2_z_m");
    for (int k = 0; k < 901; ++k) {
        EXPECT_NEAR(rows[static_cast<std::size_t>(k)][1], elevation_mm(k) / 1000, 1e-12);
        EXPECT_NEAR(rows[static_cast<std::size_t>(k)][2], elevation_mm(std::max(k - 25, 0)) / 1000,
                    1e-12);
    }

    // The RPC III file read back by profile: in time, the same outputs
    // within the 16-bit quantisation (half the scale, the peak / 65504).
    ASSERT_EQ(program("profile ride.rsp --csv back.csv --json", out, err), 0) << err;
    const nlohmann::json p = nlohmann::json::parse(out);
    EXPECT_EQ(p["axis"], "time");
    EXPECT_DOUBLE_EQ(p["delta_t_s"].get<double>(), 0.01);
    EXPECT_EQ(p["channels"][0]["label"], "p1_z");
    EXPECT_EQ(p["channels"][1]["unit"], "m");
    const auto back = table("back.csv", header);
    EXPECT_EQ(header, "time_s,p1_z_m,p2_z_m");
    ASSERT_EQ(back.size(), rows.size());
    for (std::size_t k = 0; k < rows.size(); ++k) {
        EXPECT_NEAR(back[k][0], rows[k][0], 1e-12);
        for (std::size_t c = 1; c <= 2; ++c)
            EXPECT_NEAR(back[k][c], rows[k][c], 0.01 / 65504 * 1.001);
    }
}

// road --speed writes the very profile in time: DELTA_T the interval over
// the speed, the speed kept, so that profile rates it as the file in
// distance.
TEST_F(RideCommand, RoadInTimeReadsBackAsTheRoadInDistance) {
    std::string out, err;
    ASSERT_EQ(program("road d.rsp --seed 3 --length 400 --tracks 2", out, err), 0) << err;
    ASSERT_EQ(program("road t.rsp --seed 3 --length 400 --tracks 2 --speed 72", out, err), 0)
        << err;
    EXPECT_FALSE(std::filesystem::exists(file("t.rsp.distance")));
    ASSERT_EQ(program("profile d.rsp --json", out, err), 0) << err;
    const nlohmann::json d = nlohmann::json::parse(out);
    ASSERT_EQ(program("profile t.rsp --json", out, err), 0) << err;
    const nlohmann::json t = nlohmann::json::parse(out);
    EXPECT_EQ(d["axis"], "distance");
    EXPECT_EQ(t["axis"], "time");
    EXPECT_DOUBLE_EQ(t["delta_t_s"].get<double>(), 0.005);
    EXPECT_DOUBLE_EQ(t["speed_m_s"].get<double>(), 20.0);
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(t["channels"][c]["rms"], d["channels"][c]["rms"]);
        EXPECT_NEAR(t["channels"][c]["iri_m_per_km"].get<double>(),
                    d["channels"][c]["iri_m_per_km"].get<double>(), 1e-9);
    }
}

TEST_F(RideCommand, RefusesWhatItCannotRide) {
    struct Row {
        const char *words;
        int status;
        const char *message;
    };
    const Row rows[] = {
        {"--input middle=bump@0 --output 1", 64,
         "no external input of that name; it has front, rear"},
        {"--input front=bump --output 1", 64, "--input needs NAME=TRACK@OFFSET"},
        {"--input front=left@0 --output 1", 64, "has no track \"left\""},
        {"--input front=bump@0 --output 1 --duration 20", 65, "it lasts 10 s for these offsets"},
        {"--input front=bump@0 --output 3", 64, "the model has 2 outputs"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.words);
        std::string out, err;
        EXPECT_EQ(program(std::string("ride pass.map pass_ --road road.csv --speed 36 ") + r.words +
                              " --csv x.csv",
                          out, err),
                  r.status);
        EXPECT_NE(err.find(r.message), std::string::npos) << err;
        EXPECT_FALSE(std::filesystem::exists(file("x.csv")));
    }
}

} // namespace
