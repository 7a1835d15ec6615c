// sorvan profile: files from a small writer of this test (both data types,
// one and several channels, padded and unpadded, the padding named or
// not), our own files round trip through the CSV table, and broken files
// refused with the key, byte offset or line at fault.
#include "cli/commands.h"
#include "support/files.h"
#include "support/rpc3_reader.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace {

const double pi = std::acos(-1.0);

// ---- an RPC III writer of its own -------------------------------------------

struct Shape {
    bool floats = false;
    int channels = 1;
    int points = 700;  // real points per channel
    bool named = true; // write PADDED_POINTS
    int per_frame = 256, per_group = 512;
    std::vector<std::string> units = {"mm", "mm", "mm"};
};

using Records = std::vector<std::pair<std::string, std::string>>;

std::string e_text(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6E", v);
    return text;
}

// Channel c of a test profile at 0.1 m steps: a wave of 20 m and one of
// 3 m, in mm, shifted by the channel.
double elevation(int c, int k) {
    const double x = 0.1 * k;
    return 20.0 * std::sin(2 * pi * x / 20.0 + c) + 3.0 * std::cos(2 * pi * x / 3.0) + 5.0 * c;
}

struct Written {
    Records records;
    std::vector<std::vector<double>> values; // as a reader decodes them, real points only
    std::string bytes;
};

// Lays the file out: header records of 128 bytes in blocks of 512, then
// groups of per_group points per channel; the last group padded with 0.
Written write_rpc3(const Shape &s) {
    Written w;
    const int groups = (s.points + s.per_group - 1) / s.per_group;
    const int frames = groups * (s.per_group / s.per_frame);
    w.records = {{"FORMAT", "BINARY_IEEE_LITTLE_END"},
                 {"NUM_HEADER_BLOCKS", ""},
                 {"NUM_PARAMS", ""},
                 {"FILE_TYPE", "TIME_HISTORY"},
                 {"DATA_TYPE", s.floats ? "FLOATING_POINT" : "SHORT_INTEGER"},
                 {"DELTA_T", "1.000000E-01"},
                 {"PTS_PER_FRAME", std::to_string(s.per_frame)},
                 {"PTS_PER_GROUP", std::to_string(s.per_group)},
                 {"CHANNELS", std::to_string(s.channels)},
                 {"FRAMES", std::to_string(frames)}};
    std::vector<std::vector<unsigned char>> data(static_cast<size_t>(s.channels));
    for (int c = 0; c < s.channels; ++c) {
        const std::string n = ".CHAN_" + std::to_string(c + 1);
        // A channel in metres holds channel 1's profile, so its index agrees.
        const double per_mm = s.units[size_t(c)] == "m" ? 1e-3 : 1.0;
        std::vector<double> z;
        double peak = 0.0;
        for (int k = 0; k < s.points; ++k) {
            z.push_back(elevation(per_mm < 1.0 ? 0 : c, k) * per_mm);
            peak = std::fmax(peak, std::fabs(z.back()));
        }
        const double scale = std::strtod(e_text(peak / 32000).c_str(), nullptr);
        w.records.push_back({"SCALE" + n, s.floats ? "1.0" : e_text(scale)});
        w.records.push_back({"DESC" + n, "track " + std::to_string(c + 1)});
        w.records.push_back({"UNITS" + n, s.units[size_t(c)]});
        std::vector<double> decoded;
        std::vector<unsigned char> &bytes = data[size_t(c)];
        bytes.assign(size_t(groups) * size_t(s.per_group) * (s.floats ? 4 : 2), 0);
        for (int k = 0; k < s.points; ++k) {
            if (s.floats) {
                float f = static_cast<float>(z[size_t(k)]);
                uint32_t bits;
                std::memcpy(&bits, &f, 4);
                for (int b = 0; b < 4; ++b)
                    bytes[size_t(k) * 4 + size_t(b)] = static_cast<unsigned char>(bits >> (8 * b));
                decoded.push_back(f);
            } else {
                long q = std::lround(z[size_t(k)] / scale);
                uint16_t bits = static_cast<uint16_t>(static_cast<int16_t>(q));
                bytes[size_t(k) * 2] = static_cast<unsigned char>(bits & 0xff);
                bytes[size_t(k) * 2 + 1] = static_cast<unsigned char>(bits >> 8);
                decoded.push_back(static_cast<double>(q) * scale);
            }
        }
        w.values.push_back(decoded);
    }
    if (s.named)
        w.records.push_back({"PADDED_POINTS", std::to_string(frames * s.per_frame - s.points)});
    const size_t params = w.records.size(), blocks = (params + 3) / 4;
    w.records[1].second = std::to_string(blocks);
    w.records[2].second = std::to_string(params);
    std::string header(blocks * 512, '\0');
    for (size_t i = 0; i < params; ++i) {
        header.replace(i * 128, w.records[i].first.size(), w.records[i].first);
        header.replace(i * 128 + 32, w.records[i].second.size(), w.records[i].second);
    }
    w.bytes = header;
    const size_t b = s.floats ? 4 : 2, group = size_t(s.per_group) * b;
    for (int g = 0; g < groups; ++g)
        for (const auto &d : data)
            w.bytes.append(reinterpret_cast<const char *>(&d[size_t(g) * group]), group);
    return w;
}

// ---- running the command ----------------------------------------------------

struct Result {
    int status = -1;
    std::string out, err;
};

class Profile : public testing::Test {
  protected:
    fs::path file(const std::string &name) const { return dir / name; }

    // run_profile in this process on "profile WORDS...", the words split
    // at spaces, every name taken in the scratch folder.
    Result profile(const std::vector<std::string> &words) {
        std::vector<std::string> args = {"sorvan", "profile"};
        for (const std::string &w : words)
            args.push_back(w.rfind("--", 0) == 0 ? w : file(w).string());
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        Result r;
        r.status = sorvan::cli::run_profile(static_cast<int>(args.size()), argv.data());
        r.out = testing::internal::GetCapturedStdout();
        r.err = testing::internal::GetCapturedStderr();
        return r;
    }

    // The built program, for commands that load the plug-in and for --json.
    Result program(const std::string &words) {
        Result r;
        r.status = sorvan::test::run_in_folder(
            dir, "\"" SORVAN_CLI "\" " + words + " --plugin \"" SORVAN_PLUGIN_FILE "\"", "out.txt",
            "err.txt");
        r.out = sorvan::test::read_text(file("out.txt"));
        r.err = sorvan::test::read_text(file("err.txt"));
        return r;
    }

    std::vector<std::vector<double>> table(const std::string &name, std::string &header) {
        return sorvan::test::read_csv_table(file(name), header);
    }

    sorvan::test::ScratchDir scratch{"profile_command"};
    const fs::path &dir = scratch.path();
};

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

TEST_F(Profile, ReadsFilesOfAnotherWriter) {
    struct Case {
        const char *name;
        Shape shape;
        int rows; // points the table holds
    } cases[] = {
        {"one short channel, padding not named", {false, 1, 700, false}, 1024},
        {"one short channel, padding named", {false, 1, 700, true}, 700},
        {"three float channels, padding named", {true, 3, 700, true}, 700},
        {"two short channels of whole groups", {false, 2, 1024, true}, 1024},
        {"two float channels, padding not named", {true, 2, 1100, false}, 1536},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Written w = write_rpc3(c.shape);
        sorvan::test::write_bytes(file("in.rsp").string(), w.bytes);
        fs::remove(file("in.csv"));
        Result r = profile({"in.rsp", "--csv", "in.csv"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(r.out, std::to_string(c.rows) + " points, 0.1 m apart")) << r.out;
        std::string header;
        auto rows = table("in.csv", header);
        std::string want = "distance_m";
        for (int ch = 1; ch <= c.shape.channels; ++ch)
            want += ",track " + std::to_string(ch) + "_mm";
        EXPECT_EQ(header, want);
        ASSERT_EQ(rows.size(), size_t(c.rows));
        for (size_t k = 0; k < rows.size(); ++k) {
            ASSERT_EQ(rows[k].size(), size_t(c.shape.channels) + 1);
            ASSERT_EQ(rows[k][0], double(k) / 10) << k;
            for (int ch = 0; ch < c.shape.channels; ++ch) {
                // Every decoded value exactly; the padding a file does not
                // name comes back as the zeros written.
                const std::vector<double> &v = w.values[size_t(ch)];
                ASSERT_EQ(rows[k][size_t(ch) + 1], k < v.size() ? v[k] : 0.0) << ch << " " << k;
            }
        }
    }
}

// Statistics against the values written; a channel in metres has the index
// of the same profile in millimetres, a channel of force none.
TEST_F(Profile, ReportsEveryChannel) {
    Shape s{true, 3, 700, true};
    s.units = {"mm", "m", "N"};
    const Written w = write_rpc3(s);
    sorvan::test::write_bytes(file("three.rsp").string(), w.bytes);
    Result r = program("profile three.rsp --json");
    ASSERT_EQ(r.status, 0) << r.err;
    nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_TRUE(j["ok"].get<bool>());
    ASSERT_EQ(j["channels"].size(), 3u);
    for (size_t c = 0; c < 3; ++c) {
        const nlohmann::json &ch = j["channels"][c];
        const std::vector<double> &v = w.values[c];
        double sum = 0, squares = 0, lo = v[0], hi = v[0];
        for (double x : v) {
            sum += x;
            squares += x * x;
            lo = std::fmin(lo, x);
            hi = std::fmax(hi, x);
        }
        EXPECT_EQ(ch["label"], "track " + std::to_string(c + 1));
        EXPECT_EQ(ch["unit"], s.units[c]);
        EXPECT_EQ(ch["points"], 700);
        EXPECT_DOUBLE_EQ(ch["interval_m"].get<double>(), 0.1);
        EXPECT_NEAR(ch["mean"].get<double>(), sum / 700, 1e-12 * std::fabs(hi));
        EXPECT_NEAR(ch["rms"].get<double>(), std::sqrt(squares / 700), 1e-12 * std::fabs(hi));
        EXPECT_EQ(ch["min"].get<double>(), lo);
        EXPECT_EQ(ch["max"].get<double>(), hi);
        EXPECT_TRUE(ch["class"].is_null()); // 70 m: too short for the class
    }
    const double mm = j["channels"][0]["iri_m_per_km"].get<double>();
    EXPECT_GT(mm, 0.0);
    EXPECT_NEAR(j["channels"][1]["iri_m_per_km"].get<double>(), mm, 1e-5 * mm);
    EXPECT_TRUE(j["channels"][2]["iri_m_per_km"].is_null());
}

// Our own files: the table of sorvan road read back from the RPC III file
// within the resolution of its 16-bit points, the table read back as it is.
TEST_F(Profile, RoundTripsOurOwnFiles) {
    Result r = program("road r.rsp --tracks 2 --seed 9 --length 400 --labels front_left,R "
                       "--csv r.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    r = profile({"r.rsp", "--csv", "back.csv", "--psd-plot", "r.svg"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "4001 points")) << r.out;
    EXPECT_TRUE(contains(r.out, "(95 more fill up the last group)")) << r.out;
    std::string head, back_head;
    auto rows = table("r.csv", head), back = table("back.csv", back_head);
    EXPECT_EQ(back_head, head);
    EXPECT_EQ(head, "distance_m,front_left_mm,R_mm");
    rpc3test::File f;
    ASSERT_EQ(rpc3test::read_file(file("r.rsp").string(), f), "");
    ASSERT_EQ(back.size(), rows.size());
    for (size_t c = 1; c <= 2; ++c) {
        const double half =
            0.5 * std::strtod(f.value("SCALE.CHAN_" + std::to_string(c)).c_str(), nullptr);
        for (size_t k = 0; k < rows.size(); ++k) {
            ASSERT_EQ(back[k][0], rows[k][0]);
            ASSERT_NEAR(back[k][c], rows[k][c], half * (1 + 1e-9)) << c << " " << k;
        }
    }
    // The table itself comes back byte for byte.
    r = profile({"r.csv", "--csv", "again.csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sorvan::test::read_text(file("again.csv")), sorvan::test::read_text(file("r.csv")));

    const std::string svg = sorvan::test::read_text(file("r.svg"));
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_TRUE(contains(svg, "channel 1 (front_left)"));
    EXPECT_TRUE(contains(svg, "road classes A to H"));
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
}

// Broken input: refused with the key, byte offset or line, exit 65, and no
// output written; a bad command line 64, a missing file 66.
TEST_F(Profile, RefusesBrokenFiles) {
    const Written good = write_rpc3(Shape{false, 2, 700, true});
    auto without = [&](const std::string &key) {
        Shape s{false, 2, 700, true};
        Written w = write_rpc3(s);
        const size_t at = w.bytes.find(key + std::string(1, '\0'));
        w.bytes.replace(at, key.size(), std::string(key.size(), 'X'));
        return w.bytes;
    };
    std::string frames = good.bytes;
    frames.replace(frames.find("FRAMES") + 32, 1, "6"); // 4 frames written
    std::string csv_uneven = "distance_m,a_mm\n0,1\n0.1,2\n0.2,3\n0.35,4\n0.4,5\n";
    std::string csv_bad = "distance_m,a_mm,b_mm\n0,1,2\n0.1,x,2\n";
    struct Case {
        const char *name;
        std::string bytes;
        const char *where;
    } cases[] = {
        {"cut inside the data", good.bytes.substr(0, good.bytes.size() - 100), "FRAMES"},
        {"cut inside the header", good.bytes.substr(0, 700), "byte offset"},
        {"DELTA_T missing", without("DELTA_T"), "DELTA_T"},
        {"SCALE.CHAN_2 missing", without("SCALE.CHAN_2"), "SCALE.CHAN_2"},
        {"FRAMES beyond the data", frames, "FRAMES"},
        {"uneven distances", csv_uneven, "line 5"},
        {"a word for a number", csv_bad, "line 3: field 2"},
        {"empty", "", "byte offset 0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sorvan::test::write_bytes(file("bad.rsp").string(), c.bytes);
        Result r = profile({"bad.rsp", "--csv", "bad.csv"});
        EXPECT_EQ(r.status, 65);
        EXPECT_TRUE(contains(r.err, file("bad.rsp").string())) << r.err;
        EXPECT_TRUE(contains(r.err, c.where)) << r.err;
        EXPECT_FALSE(fs::exists(file("bad.csv")));
    }

    sorvan::test::write_bytes(file("good.rsp").string(), good.bytes);
    EXPECT_EQ(profile({"missing.rsp"}).status, 66);
    EXPECT_EQ(profile({}).status, 64);
    EXPECT_EQ(profile({"good.rsp", "--psd-plot", "p.png"}).status, 64);
    EXPECT_EQ(profile({"good.rsp", "--csv", "good.rsp"}).status, 64);
    EXPECT_EQ(sorvan::test::read_bytes(file("good.rsp")), good.bytes);
    // Nothing to draw: no channel of elevations.
    Shape force{true, 1, 700, true};
    force.units = {"N"};
    sorvan::test::write_bytes(file("force.rsp").string(), write_rpc3(force).bytes);
    Result r = profile({"force.rsp", "--csv", "f.csv", "--psd-plot", "f.svg"});
    EXPECT_EQ(r.status, 65);
    EXPECT_FALSE(fs::exists(file("f.csv")));
    EXPECT_FALSE(fs::exists(file("f.svg")));
}

} // namespace
