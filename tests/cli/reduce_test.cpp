// sorvan reduce on models written as real files: a model in physical
// coordinates refused and then brought to modal form, and a slow real state
// judged like a pair.
#include "model_files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>

namespace {

const double pi = std::acos(-1.0);

class Reduce : public testing::Test {
  protected:
    sorvan::test::ScratchDir dir{"reduce"};

    void write(const Eigen::MatrixXd &a) {
        const Eigen::Index n = a.rows();
        Eigen::MatrixXd b = Eigen::MatrixXd::Ones(n, 1), c = Eigen::MatrixXd::Ones(1, n);
        sorvan::test::write_abc(dir.path() / "model_", a, b, c, Eigen::MatrixXd::Zero(1, 1));
    }

    // Runs the built program in the scratch folder.
    int run(const std::string &words, std::string &out, std::string &err) {
        const std::string o = (dir.path() / "out.log").string(),
                          e = (dir.path() / "err.log").string();
        const int status = sorvan::test::run_in_folder(
            dir.path(),
            "\"" SORVAN_CLI "\" reduce " + words + " --plugin \"" SORVAN_PLUGIN_FILE "\"", o, e);
        out = sorvan::test::read_text(o);
        err = sorvan::test::read_text(e);
        return status;
    }
};

TEST_F(Reduce, PhysicalCoordinatesRefusedThenBroughtToModalForm) {
    const double w = 2 * pi * 2.0, zeta = 0.1;
    Eigen::MatrixXd a(2, 2);
    a << 0, 1, -w * w, -2 * zeta * w;
    write(a);
    std::string out, err;
    EXPECT_EQ(run("model_ red_ --max-frequency 5", out, err), 65);
    EXPECT_NE(err.find("not in modal form (A(1, 1) = 0 and A(2, 2) ="), std::string::npos) << err;
    EXPECT_NE(err.find("--to-modal"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "red_a"));

    ASSERT_EQ(run("model_ red_ --max-frequency 5 --to-modal --json", out, err), 0) << err;
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_TRUE(j["modal_coordinates"].get<bool>());
    EXPECT_EQ(j["kept"], 2);
    // Nothing dropped, nothing lost, up to rounding.
    EXPECT_LT(j["reduction_error"]["max_response_deviation"].get<double>(), 1e-12);
    EXPECT_LT(j["reduction_error"]["static_gain_deviation"].get<double>(), 1e-12);
}

TEST_F(Reduce, SlowRealStateIsKeptLikeAPair) {
    // A 0.2 s lag (0.8 Hz) beside a pair at 2 Hz; the limit 5 Hz.
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(3, 3);
    a(0, 0) = -5.0;
    a.block<2, 2>(1, 1) << -1.0, 2 * pi * 2.0, -2 * pi * 2.0, -1.0;
    write(a);
    std::string out, err;
    ASSERT_EQ(run("model_ red_ --max-frequency 5", out, err), 0) << err;
    EXPECT_NE(out.find("kept 3 of 3 states"), std::string::npos) << out;
    ASSERT_EQ(run("model_ lag_ --max-frequency 5 --drop-real-states --static-correction --json",
                  out, err),
              0)
        << err;
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(j["kept"], 2);
    // The lag's static part stays in D: the static gain is the full one.
    EXPECT_LT(j["reduction_error"]["static_gain_deviation"].get<double>(), 1e-12);
    EXPECT_GT(j["reduction_error"]["max_response_deviation"].get<double>(), 0.01);
}

// The example reduced with static correction and converted: its deck keeps
// the full model's static gain, as check --reference measures it.
TEST_F(Reduce, ReducedDeckAgainstTheFullModel) {
    for (const char *name : {"vehicle.map", "vehicle_a", "vehicle_b", "vehicle_c", "vehicle_d"})
        std::filesystem::copy_file(std::string(SORVAN_EXAMPLES "/vehicle/") + name,
                                   dir.path() / name);
    std::string out, err;
    ASSERT_EQ(run("vehicle_ red_ --max-frequency 20 --static-correction", out, err), 0) << err;
    const std::string plugin = " --plugin \"" SORVAN_PLUGIN_FILE "\"";
    const std::string log = (dir.path() / "log").string();
    ASSERT_EQ(sorvan::test::run_in_folder(
                  dir.path(), "\"" SORVAN_CLI "\" convert vehicle.map red_ -o red.bdf" + plugin,
                  log, log),
              0);
    const std::string json = (dir.path() / "check.json").string();
    EXPECT_EQ(sorvan::test::run_in_folder(dir.path(),
                                          "\"" SORVAN_CLI "\" check red.bdf --map vehicle.map "
                                          "--abc red_ --reference vehicle_ --json" +
                                              plugin,
                                          json, log),
              1);
    const nlohmann::json j = nlohmann::json::parse(sorvan::test::read_text(json));
    EXPECT_LT(j["reference"]["static_gain_deviation"].get<double>(), 1e-2); // 4-digit cards
    EXPECT_GT(j["reference"]["max_response_deviation"].get<double>(), 0.1);
    EXPECT_NEAR(j["reference"]["up_to_hz"].get<double>(), 14.8, 0.1); // below 14.92 Hz
}

} // namespace
