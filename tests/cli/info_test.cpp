// sorvan info on models whose modes are known in closed form, written as
// real MAP and ABC files, and on the bundled example against the modes its
// MAP file lists.
#include "cli/commands.h"
#include "model_files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <Eigen/Eigenvalues>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using sorvan::test::MapText;

const double pi = std::acos(-1.0);

class Info : public testing::Test {
  protected:
    sorvan::test::ScratchDir dir{"info"};

    std::string path(const std::string &name) const { return (dir.path() / name).string(); }

    // Writes model.map and model_a to model_d.
    void write(const MapText &map, const Eigen::MatrixXd &a, const Eigen::MatrixXd &b,
               const Eigen::MatrixXd &c, const Eigen::MatrixXd &d) {
        sorvan::test::write_text(dir.path() / "model.map", sorvan::test::map_text(map));
        sorvan::test::write_abc(dir.path() / "model_", a, b, c, d);
    }

    int run(std::vector<std::string> words, std::string &out) {
        words.insert(words.begin(), "info");
        return sorvan::test::run_captured(sorvan::cli::run_info, words, out);
    }

    nlohmann::json json(std::vector<std::string> extra = {}) {
        std::vector<std::string> words = {path("model.map"), path("model_"), "--json"};
        words.insert(words.end(), extra.begin(), extra.end());
        std::string out;
        EXPECT_EQ(run(words, out), 0) << out;
        return nlohmann::json::parse(out);
    }
};

// A state-space oscillator m x'' + c x' + k x = f with the displacement and
// velocity as outputs.
MapText oscillator_map() {
    MapText m;
    m.inputs = {{7, 3}};
    m.outputs = {{7, 3, 1}, {7, 3, 2}};
    return m;
}

TEST_F(Info, SingleOscillatorHasItsNaturalFrequencyAndDamping) {
    const double f = 2.0, zeta = 0.1, w = 2 * pi * f, mass = 3.0;
    Eigen::MatrixXd a(2, 2), b(2, 1), c = Eigen::MatrixXd::Identity(2, 2),
                                      d = Eigen::MatrixXd::Zero(2, 1);
    a << 0, 1, -w * w, -2 * zeta * w;
    b << 0, 1 / mass;
    write(oscillator_map(), a, b, c, d);
    const nlohmann::json j = json();
    EXPECT_EQ(j["states"], 2);
    ASSERT_EQ(j["modes"].size(), 1u);
    const auto &mode = j["modes"][0];
    EXPECT_NEAR(mode["frequency_hz"].get<double>(), f, 1e-9);
    EXPECT_NEAR(mode["damping_ratio"].get<double>(), zeta, 1e-9);
    EXPECT_NEAR(mode["real_per_s"].get<double>(), -zeta * w, 1e-9);
    EXPECT_NEAR(mode["imag_rad_per_s"].get<double>(), w * std::sqrt(1 - zeta * zeta), 1e-9);
    EXPECT_TRUE(mode["stable"].get<bool>());
    ASSERT_EQ(j["inputs"].size(), 1u);
    EXPECT_EQ(j["inputs"][0]["point"], 7);
    EXPECT_EQ(j["inputs"][0]["component"], 3);
    EXPECT_EQ(j["outputs"][0]["what"], "coupling displacement");
    EXPECT_EQ(j["outputs"][1]["what"], "coupling velocity");
}

// Two unit masses in a chain (ground - k - m1 - k - m2) with damping
// proportional to the masses, c = alpha m: omega^2 = k (3 -+ sqrt 5) / 2,
// and each mode decays at alpha / 2.
TEST_F(Info, ChainOfTwoMassesHasTheClosedFormModes) {
    const double k = 400.0, alpha = 0.8;
    Eigen::MatrixXd stiffness(2, 2);
    stiffness << 2 * k, -k, -k, k;
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(4, 4);
    a.topRightCorner(2, 2).setIdentity();
    a.bottomLeftCorner(2, 2) = -stiffness;
    a.bottomRightCorner(2, 2) = -alpha * Eigen::MatrixXd::Identity(2, 2);
    Eigen::MatrixXd b = Eigen::MatrixXd::Zero(4, 1), c = Eigen::MatrixXd::Zero(2, 4);
    b(3, 0) = 1;
    c(0, 1) = 1;
    c(1, 3) = 1;
    MapText map;
    map.inputs = {{2, 1}};
    map.outputs = {{2, 1, 1}, {2, 1, 2}};
    write(map, a, b, c, Eigen::MatrixXd::Zero(2, 1));
    const nlohmann::json j = json();
    ASSERT_EQ(j["modes"].size(), 2u);
    const double w[2] = {std::sqrt(k * (3 - std::sqrt(5.0)) / 2),
                         std::sqrt(k * (3 + std::sqrt(5.0)) / 2)};
    for (int m = 0; m < 2; ++m) {
        const auto &mode = j["modes"][static_cast<std::size_t>(m)];
        EXPECT_NEAR(mode["frequency_hz"].get<double>(), w[m] / (2 * pi), 1e-9);
        EXPECT_NEAR(mode["damping_ratio"].get<double>(), alpha / (2 * w[m]), 1e-9);
        EXPECT_NEAR(mode["real_per_s"].get<double>(), -alpha / 2, 1e-9);
    }
}

// A modal A: 2 x 2 blocks of given frequency and damping, one real state
// and one growing pair; graphic outputs and an external input beside.
TEST_F(Info, ModalBlocksGiveTheirFrequenciesDampingAndWhatReduceKeeps) {
    const double f[3] = {1.5, 7.0, 30.0}, zeta[3] = {0.05, 0.2, 0.5};
    const int n = 9;
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(n, n);
    for (int k = 0; k < 3; ++k) {
        const double wn = 2 * pi * f[k], re = -zeta[k] * wn,
                     im = wn * std::sqrt(1 - zeta[k] * zeta[k]);
        a(2 * k, 2 * k) = a(2 * k + 1, 2 * k + 1) = re;
        a(2 * k, 2 * k + 1) = im;
        a(2 * k + 1, 2 * k) = -im;
    }
    a(6, 6) = a(7, 7) = 0.25; // growing pair at 12 rad/s
    a(6, 7) = 12.0;
    a(7, 6) = -12.0;
    a(8, 8) = -3.0; // a real state, time constant 1/3 s
    MapText map;
    map.inputs = {{11, 3}};
    map.externals = {"road left"};
    map.outputs = {{11, 3, 1}, {11, 3, 2}};
    map.nodes = 1;
    map.wheels = 1;
    map.graphics = "(NODES)\n{id x y z o1 o2 o3}\n 42 0 0 1 3 4 5\n"
                   "(WHEEL_GRAPHICS)\n{id x y z a1 a2 a3 r w o1 o2 o3 o4 o5 o6}\n"
                   " 9 1 1 0.3 0 90 0 0.3 0.2 6 7 8 9 10 11\n";
    const int outputs = 2 + 3 + 6;
    write(map, a, Eigen::MatrixXd::Ones(n, 2), Eigen::MatrixXd::Ones(outputs, n),
          Eigen::MatrixXd::Zero(outputs, 2));
    const nlohmann::json j = json({"--max-frequency", "10"});
    EXPECT_TRUE(j["modal_form"].get<bool>());
    EXPECT_EQ(j["states"], n);
    ASSERT_EQ(j["modes"].size(), 5u);
    int pairs = 0;
    for (const auto &mode : j["modes"]) {
        if (!mode["oscillating"].get<bool>()) {
            EXPECT_NEAR(mode["real_per_s"].get<double>(), -3.0, 1e-9);
            EXPECT_NEAR(mode["time_constant_s"].get<double>(), 1.0 / 3.0, 1e-9);
            continue;
        }
        if (!mode["stable"].get<bool>()) {
            EXPECT_NEAR(mode["real_per_s"].get<double>(), 0.25, 1e-9);
            EXPECT_NEAR(mode["imag_rad_per_s"].get<double>(), 12.0, 1e-9);
            EXPECT_TRUE(mode["kept"].get<bool>()); // |eigenvalue| below 2 pi 10
            continue;
        }
        const int k = pairs++;
        EXPECT_NEAR(mode["frequency_hz"].get<double>(), f[k], 1e-9);
        EXPECT_NEAR(mode["damping_ratio"].get<double>(), zeta[k], 1e-9);
        EXPECT_EQ(mode["kept"].get<bool>(), f[k] <= 10.0) << f[k];
    }
    EXPECT_EQ(pairs, 3);
    ASSERT_EQ(j["inputs"].size(), 2u);
    EXPECT_EQ(j["inputs"][1]["kind"], "external");
    EXPECT_EQ(j["inputs"][1]["name"], "road left");
    ASSERT_EQ(j["outputs"].size(), static_cast<std::size_t>(outputs));
    EXPECT_EQ(j["outputs"][2]["what"], "node 42");
    EXPECT_EQ(j["outputs"][10]["what"], "wheel 1");
    EXPECT_EQ(j["outputs"][10]["component"], 6);

    // The table says the same, and flags the growing pair.
    std::string out;
    ASSERT_EQ(run({path("model.map"), path("model_"), "--max-frequency", "10"}, out), 0);
    EXPECT_NE(out.find("UNSTABLE"), std::string::npos) << out;
    EXPECT_NE(out.find("in modal form"), std::string::npos) << out;
    EXPECT_NE(out.find("dropped"), std::string::npos) << out;
    EXPECT_NE(out.find("road left"), std::string::npos) << out;
}

// The example's MAP file lists its modes' frequencies and damping ratios
// in its opening comment.
TEST_F(Info, BundledExampleHasTheModesItsMapFileLists) {
    const std::string example = SORVAN_EXAMPLES "/vehicle/";
    std::ifstream map(example + "vehicle.map");
    const std::regex row(R"(^#\s+(\d+)\s+([0-9.]+)\s+([0-9.]+)\s)");
    std::vector<std::pair<double, double>> listed;
    for (std::string line; std::getline(map, line);) {
        std::smatch m;
        if (std::regex_search(line, m, row)) listed.emplace_back(std::stod(m[2]), std::stod(m[3]));
    }
    ASSERT_EQ(listed.size(), 13u);
    std::string out;
    ASSERT_EQ(run({example + "vehicle.map", example + "vehicle_", "--json"}, out), 0) << out;
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(j["states"], 26);
    ASSERT_EQ(j["modes"].size(), listed.size());
    for (std::size_t k = 0; k < listed.size(); ++k) {
        EXPECT_NEAR(j["modes"][k]["frequency_hz"].get<double>(), listed[k].first, 0.0005) << k;
        EXPECT_NEAR(j["modes"][k]["damping_ratio"].get<double>(), listed[k].second, 0.00005) << k;
    }
    EXPECT_EQ(j["inputs"].size(), 6u);
    EXPECT_EQ(j["outputs"].size(), 125u);
}

// Block-diagonal A: each block's eigenvalues are known exactly. A pair on
// the imaginary axis is undamped, a zero eigenvalue an integrator, only a
// positive real part unstable; a pair near 1e200 keeps its size in print.
TEST_F(Info, NamesUndampedPairsIntegratorsAndGrowthAndPrintsAnySize) {
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(5, 5);
    a.block(0, 0, 2, 2) << 0, 3, -3, 0; // +-3i
    a(2, 2) = 0;                        // integrator
    a(3, 3) = 2;                        // grows
    a(4, 4) = -5;                       // decays
    write(oscillator_map(), a, Eigen::MatrixXd::Ones(5, 1), Eigen::MatrixXd::Ones(2, 5),
          Eigen::MatrixXd::Zero(2, 1));
    const nlohmann::json j = json();
    std::map<std::string, int> seen;
    for (const auto &mode : j["modes"]) {
        const std::string b = mode["behaviour"];
        ++seen[b];
        EXPECT_EQ(mode["stable"].get<bool>(), b == "stable") << mode;
        if (b == "undamped") {
            EXPECT_EQ(mode["imag_rad_per_s"].get<double>(), 3.0);
        }
        if (b == "unstable") {
            EXPECT_EQ(mode["real_per_s"].get<double>(), 2.0);
        }
    }
    EXPECT_EQ(seen, (std::map<std::string, int>{
                        {"integrator", 1}, {"stable", 1}, {"undamped", 1}, {"unstable", 1}}));

    std::string out;
    ASSERT_EQ(run({path("model.map"), path("model_")}, out), 0);
    EXPECT_TRUE(std::regex_search(out, std::regex(R"(\+- 3i .*  undamped\n)"))) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex(R"(\n +\d+ +-?0 +infinite +integrator\n)")))
        << out;
    EXPECT_TRUE(std::regex_search(out, std::regex(R"(\n +\d+ +2 +-0.5 +UNSTABLE\n)"))) << out;
    EXPECT_EQ(out.find("UNSTABLE"), out.rfind("UNSTABLE")) << out;

    // -1e199 +- 1e200i: its modulus / 2 pi Hz with the exponent, never as 200 digits.
    a.resize(2, 2);
    a << -1e199, 1e200, -1e200, -1e199;
    write(oscillator_map(), a, Eigen::MatrixXd::Ones(2, 1), Eigen::MatrixXd::Ones(2, 2),
          Eigen::MatrixXd::Zero(2, 1));
    ASSERT_EQ(run({path("model.map"), path("model_")}, out), 0);
    EXPECT_NE(out.find("1.59949e+199"), std::string::npos) << out;
    EXPECT_FALSE(std::regex_search(out, std::regex(R"(\d{20})"))) << out;
}

TEST_F(Info, RefusesMissingOrDisagreeingFilesAndBadLines) {
    Eigen::MatrixXd a(2, 2);
    a << 0, 1, -4, -1;
    write(oscillator_map(), a, Eigen::MatrixXd::Ones(2, 1), Eigen::MatrixXd::Identity(2, 2),
          Eigen::MatrixXd::Zero(3, 1)); // D with a row too many
    std::string out;
    testing::internal::CaptureStderr();
    EXPECT_EQ(run({path("model.map"), path("model_")}, out), 65);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("model_d is 3 x 1, not 2 x 1"), std::string::npos) << err;

    testing::internal::CaptureStderr();
    EXPECT_EQ(run({path("model.map"), path("none_")}, out), 66);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("none_a"), std::string::npos) << err;

    testing::internal::CaptureStderr();
    EXPECT_EQ(run({path("model.map")}, out), 64);
    EXPECT_EQ(run({path("model.map"), path("model_"), "--max-frequency", "-1"}, out), 64);
    testing::internal::GetCapturedStderr();
}

// The quarter car written by hand from the file formats: its two modes are
// the roots of det(l^2 M + l C + K), found here from that quartic's
// companion matrix.
TEST_F(Info, QuarterCarExampleHasTheModesOfItsParameters) {
    const double ms = 400, mu = 40, ks = 20e3, cs = 1.5e3, kt = 200e3;
    const double quartic[] = {cs * (ms + mu), ms * (ks + kt) + mu * ks, cs * kt, ks * kt};
    Eigen::Matrix4d companion = Eigen::Matrix4d::Zero();
    companion.bottomLeftCorner<3, 3>().setIdentity();
    for (int k = 0; k < 4; ++k)
        companion(k, 3) = -quartic[3 - k] / (ms * mu);
    Eigen::EigenSolver<Eigen::Matrix4d> roots(companion);
    std::vector<double> f;
    for (const auto &l : roots.eigenvalues())
        if (l.imag() > 0) f.push_back(std::abs(l) / (2 * pi));
    std::sort(f.begin(), f.end());
    ASSERT_EQ(f.size(), 2u);

    std::string out;
    ASSERT_EQ(
        run({SORVAN_EXAMPLES "/quarter/quarter.map", SORVAN_EXAMPLES "/quarter/quarter_", "--json"},
            out),
        0)
        << out;
    const nlohmann::json j = nlohmann::json::parse(out);
    ASSERT_EQ(j["modes"].size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        const auto &mode = j["modes"][k];
        EXPECT_NEAR(mode["frequency_hz"].get<double>(), f[k], 1e-9 * f[k]);
        EXPECT_NEAR(mode["damped_frequency_hz"].get<double>(),
                    f[k] * std::sqrt(1.0 - std::pow(mode["damping_ratio"].get<double>(), 2)),
                    1e-9 * f[k]);
    }
    EXPECT_FALSE(j["modal_form"].get<bool>());
    EXPECT_EQ(j["inputs"][0]["name"], "road_elevation");
    EXPECT_EQ(j["inputs"][0]["unit"], "MAP units");
}

} // namespace
