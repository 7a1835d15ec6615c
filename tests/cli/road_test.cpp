// Roads through real files: the index target met by sorvan road's RPC III
// file as a reader of the tests decodes it, the profile's statistics of a
// table written here, sorvan ride's delayed inputs read back in time, and
// road --speed in time.
#include "analysis/iri.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "support/rpc3_reader.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>

namespace {

using namespace sorvan::test;

using Table = std::vector<std::vector<double>>;

// Every value of column c of a table within tolerance of the other's.
void expect_columns_near(const Table &a, const Table &b, std::size_t c, double tolerance) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t k = 0; k < a.size(); ++k) {
        ASSERT_EQ(a[k][0], b[k][0]) << k;
        ASSERT_NEAR(a[k][c], b[k][c], tolerance) << "column " << c << ", row " << k;
    }
}

// The index target: the tracks in the file meet it within 1 % (rated here
// from the points an independent reader decodes), road reports their
// indices, and the coefficients say the scale that met it.
TEST_F(CommandLine, IriTargetIsMetByTheFile) {
    const Result r = run("road out.rsp --class C --tracks 2 --seed 4 --iri 3.5 --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_NEAR(j["gs_mm2_per_m"].get<double>(),
                256 * 0.01 * 4 * pi * pi * j["scale"].get<double>(), 1e-9);
    rpc3test::File f;
    ASSERT_EQ(rpc3test::read_file(file("out.rsp").string(), f), "");
    ASSERT_EQ(f.channels, 2);
    double mean = 0.0;
    for (std::size_t c = 0; c < 2; ++c) {
        double index = 0.0;
        std::string why;
        ASSERT_TRUE(sorvan::analysis::iri(f.values[c].data(), 10001, 0.1, index, why)) << why;
        EXPECT_NEAR(j["tracks"][c]["iri_m_per_km"].get<double>(), index, 1e-4); // 16-bit points
        mean += index / 2;
    }
    EXPECT_NEAR(mean, 3.5, 0.035);
}

// Statistics of every channel of a table written here; a channel in metres
// has the index of the same profile in millimetres, a channel of force
// none; 70 m is too short for a class.
TEST_F(CommandLine, ProfileReportsEveryChannel) {
    std::string text = "distance_m,a_mm,b_m,c_N\n";
    std::vector<double> z;
    for (int k = 0; k < 700; ++k) {
        const double x = 0.1 * k;
        z.push_back(20.0 * std::sin(2 * pi * x / 20.0) + 3.0 * std::cos(2 * pi * x / 3.0));
        text += std::to_string(k / 10) + "." + std::to_string(k % 10) + "," +
                nlohmann::json(z.back()).dump() + "," + nlohmann::json(z.back() / 1000).dump() +
                "," + nlohmann::json(z.back() + 5).dump() + "\n";
    }
    write_text(file("three.csv"), text);
    const Result r = call(sorvan::cli::run_profile, {"profile", "three.csv", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["channels"].size(), 3u);
    const double scale[3] = {1.0, 1e-3, 1.0}, offset[3] = {0.0, 0.0, 5.0};
    const char *units[3] = {"mm", "m", "N"};
    for (std::size_t c = 0; c < 3; ++c) {
        SCOPED_TRACE(units[c]);
        double sum = 0, squares = 0, lo = HUGE_VAL, hi = -HUGE_VAL;
        for (double v : z) {
            const double x = v * scale[c] + offset[c];
            sum += x;
            squares += x * x;
            lo = std::fmin(lo, x);
            hi = std::fmax(hi, x);
        }
        const nlohmann::json &ch = j["channels"][c];
        EXPECT_EQ(ch["label"], std::string(1, static_cast<char>('a' + c)));
        EXPECT_EQ(ch["unit"], units[c]);
        EXPECT_EQ(ch["points"], 700);
        EXPECT_DOUBLE_EQ(ch["interval_m"].get<double>(), 0.1);
        EXPECT_NEAR(ch["mean"].get<double>(), sum / 700, 1e-12 * hi);
        EXPECT_NEAR(ch["rms"].get<double>(), std::sqrt(squares / 700), 1e-12 * hi);
        EXPECT_EQ(ch["min"].get<double>(), lo);
        EXPECT_EQ(ch["max"].get<double>(), hi);
        EXPECT_TRUE(ch["class"].is_null());
    }
    const double mm = j["channels"][0]["iri_m_per_km"].get<double>();
    EXPECT_GT(mm, 0.0);
    EXPECT_NEAR(j["channels"][1]["iri_m_per_km"].get<double>(), mm, 1e-9 * mm);
    EXPECT_TRUE(j["channels"][2]["iri_m_per_km"].is_null());
}

// pass.map passes its two external inputs to its outputs. At 36 km/h and
// 100 samples a second every sample falls on a point of bump.csv; the rear
// input, 2.5 m behind, is the front one 0.25 s (25 samples) later, and the
// first road point before that. The RPC III file, read back by profile,
// holds the outputs in time within its 16-bit quantisation (half the
// scale, the peak / 65504).
TEST_F(CommandLine, RideRearInputIsTheFrontDelayedAndComesBackInTime) {
    Result r = run("ride pass.map pass_ --road bump.csv --speed 36 --input front=bump@0 "
                   "--input rear=1@2.5 --output 1,2 --rate 100 --duration 9 --csv ride.csv "
                   "--rpc ride.rsp --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["samples"], 901);
    EXPECT_DOUBLE_EQ(j["inputs"][1]["delay_s"].get<double>(), 0.25);
    std::string header;
    const Table rows = read_csv_table(file("ride.csv"), header);
    ASSERT_EQ(rows.size(), 901u);
    EXPECT_EQ(header, "time_s,p1_z_m,p2_z_m");
    for (int k = 0; k < 901; ++k) {
        EXPECT_NEAR(rows[static_cast<std::size_t>(k)][1], bump_mm(k) / 1000, 1e-12);
        EXPECT_NEAR(rows[static_cast<std::size_t>(k)][2], bump_mm(std::max(k - 25, 0)) / 1000,
                    1e-12);
    }
    r = call(sorvan::cli::run_profile, {"profile", "ride.rsp", "--csv", "back.csv", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json p = nlohmann::json::parse(r.out);
    EXPECT_EQ(p["axis"], "time");
    EXPECT_DOUBLE_EQ(p["delta_t_s"].get<double>(), 0.01);
    EXPECT_EQ(p["channels"][0]["label"], "p1_z");
    EXPECT_EQ(p["channels"][1]["unit"], "m");
    const Table back = read_csv_table(file("back.csv"), header);
    EXPECT_EQ(header, "time_s,p1_z_m,p2_z_m");
    for (std::size_t c = 1; c <= 2; ++c)
        expect_columns_near(back, rows, c, 0.01 / 65504 * 1.001);
}

// road --speed writes the very profile in time: DELTA_T the interval over
// the speed, the speed kept, so that profile rates it as the file in
// distance.
TEST_F(CommandLine, RoadInTimeReadsBackAsTheRoadInDistance) {
    ASSERT_EQ(run("road d.rsp --seed 3 --length 400 --tracks 2").status, 0);
    ASSERT_EQ(run("road t.rsp --seed 3 --length 400 --tracks 2 --speed 72").status, 0);
    Result r = call(sorvan::cli::run_profile, {"profile", "d.rsp", "--json"});
    const nlohmann::json d = nlohmann::json::parse(r.out);
    r = call(sorvan::cli::run_profile, {"profile", "t.rsp", "--json"});
    const nlohmann::json t = nlohmann::json::parse(r.out);
    EXPECT_EQ(d["axis"], "distance");
    EXPECT_EQ(t["axis"], "time");
    EXPECT_DOUBLE_EQ(t["delta_t_s"].get<double>(), 0.005);
    EXPECT_DOUBLE_EQ(t["speed_m_s"].get<double>(), 20.0);
    for (std::size_t c = 0; c < 2; ++c) {
        EXPECT_EQ(t["channels"][c]["rms"], d["channels"][c]["rms"]);
        EXPECT_NEAR(t["channels"][c]["iri_m_per_km"].get<double>(),
                    d["channels"][c]["iri_m_per_km"].get<double>(), 1e-9);
    }
}

} // namespace
