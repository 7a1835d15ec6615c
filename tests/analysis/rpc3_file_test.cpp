// The RPC III reader on files laid out by a small writer of this test (both
// data types, both byte orders, one and several channels, padded and
// unpadded last groups), and the readers of road profiles on the broken
// files of tests/data/cases/profiles.txt.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "analysis/profile_table.h"
#include "analysis/rpc3_file.h"
#include "support/cases.h"

namespace {

using sorvan::analysis::read_rpc3;
using sorvan::analysis::Rpc3File;
using Records = std::vector<std::pair<std::string, std::string>>;

const char *const scale_text[3] = {"2.500000E-03", "1.25E-01", "4.0E+00"};
const double scale_value[3] = {2.5e-3, 0.125, 4.0};

// What the test writer lays out.
struct Shape {
    bool floating = false;
    bool big_endian = false;
    int channels = 1;
    std::int64_t points = 0; // real points per channel
    std::int64_t per_frame = 256, per_group = 512;
    std::int64_t frames = 0; // 0: whole groups holding the points
    bool short_tail = false; // a last group cut to the frames' points
    bool padded_key = false; // write PADDED_POINTS
};

std::int16_t stored_int(int c, std::int64_t k) {
    return static_cast<std::int16_t>((k * 37 + c * 1001) % 65001 - 32500);
}

float stored_float(int c, std::int64_t k) {
    return static_cast<float>(k) * 0.25f - 100.5f + static_cast<float>(c);
}

// Point k of channel c in engineering units (0 beyond the real points).
double expected(const Shape &s, int c, std::int64_t k) {
    if (k >= s.points) return 0.0;
    return s.floating ? stored_float(c, k) : stored_int(c, k) * scale_value[c];
}

std::int64_t frames_of(const Shape &s) {
    if (s.frames) return s.frames;
    return (s.points + s.per_group - 1) / s.per_group * (s.per_group / s.per_frame);
}

// The records in the order our own writer uses, 20 + 6 x channels of them.
Records records(const Shape &s) {
    std::string c = std::to_string(s.channels);
    Records r = {{"FORMAT", s.big_endian ? "BINARY_IEEE_BIG_END" : "BINARY_IEEE_LITTLE_END"},
                 {"NUM_HEADER_BLOCKS", ""},
                 {"NUM_PARAMS", ""},
                 {"FILE_TYPE", "TIME_HISTORY"},
                 {"DATA_TYPE", s.floating ? "FLOATING_POINT" : "SHORT_INTEGER"},
                 {"TIME_TYPE", "RESPONSE"},
                 {"DELTA_T", "5.000000E-02"},
                 {"PTS_PER_FRAME", std::to_string(s.per_frame)},
                 {"CHANNELS", c},
                 {"PTS_PER_GROUP", std::to_string(s.per_group)},
                 {"BYPASS_FILTER", "0"},
                 {"HALF_FRAMES", "0"},
                 {"REPEATS", "0"},
                 {"FRAMES", std::to_string(frames_of(s))}};
    for (int i = 0; i < s.channels; ++i) {
        std::string n = ".CHAN_" + std::to_string(i + 1);
        r.push_back({"SCALE" + n, s.floating ? "1.000000E+00" : scale_text[i]});
        r.push_back({"UPPER_LIMIT" + n, "1.000000E+00"});
        r.push_back({"LOWER_LIMIT" + n, "-1.000000E+00"});
        r.push_back({"MAP" + n, std::to_string(i + 1)});
    }
    r.insert(r.end(), {{"PARTITIONS", "1"}, {"PART.CHAN_1", "1"}, {"PART.NCHAN_1", c}});
    for (int i = 0; i < s.channels; ++i) {
        std::string n = ".CHAN_" + std::to_string(i + 1);
        r.push_back({"DESC" + n, "track " + std::to_string(i + 1)});
        r.push_back({"UNITS" + n, "mm"});
    }
    r.insert(
        r.end(),
        {{"DATE", "06-Dec-2025 21:44:00"}, {"OPERATION", "TEST"}, {"INT_FULL_SCALE", "32752"}});
    if (s.padded_key)
        r.push_back({"PADDED_POINTS", std::to_string(frames_of(s) * s.per_frame - s.points)});
    return r;
}

// Header blocks of 128-byte records; NUM_HEADER_BLOCKS and NUM_PARAMS are
// filled in where their values are empty.
std::string header(Records r) {
    std::size_t blocks = (r.size() + 3) / 4;
    for (auto &[key, value] : r) {
        if (key == "NUM_HEADER_BLOCKS" && value.empty()) value = std::to_string(blocks);
        if (key == "NUM_PARAMS" && value.empty()) value = std::to_string(r.size());
    }
    std::string bytes(blocks * 512, '\0');
    for (std::size_t i = 0; i < r.size(); ++i) {
        bytes.replace(i * 128, r[i].first.size(), r[i].first);
        bytes.replace(i * 128 + 32, r[i].second.size(), r[i].second);
    }
    return bytes;
}

void put(std::string &out, std::uint32_t bits, int width, bool big_endian) {
    for (int i = 0; i < width; ++i) {
        int shift = 8 * (big_endian ? width - 1 - i : i);
        out += static_cast<char>((bits >> shift) & 0xff);
    }
}

// Groups of per_group points per channel, the last one padded with 0 or,
// with short_tail, holding only the points the frames count.
std::string data(const Shape &s) {
    std::int64_t total = frames_of(s) * s.per_frame;
    std::string out;
    for (std::int64_t g = 0; g * s.per_group < total; ++g) {
        std::int64_t end = (g + 1) * s.per_group;
        if (s.short_tail && end > total) end = total;
        for (int c = 0; c < s.channels; ++c) {
            for (std::int64_t k = g * s.per_group; k < end; ++k) {
                bool real = k < s.points;
                if (s.floating) {
                    float f = real ? stored_float(c, k) : 0.0f;
                    std::uint32_t bits;
                    std::memcpy(&bits, &f, 4);
                    put(out, bits, 4, s.big_endian);
                } else {
                    auto q = static_cast<std::uint16_t>(real ? stored_int(c, k) : 0);
                    put(out, q, 2, s.big_endian);
                }
            }
        }
    }
    return out;
}

std::string file_bytes(const Shape &s) {
    return header(records(s)) + data(s);
}

bool read(const std::string &bytes, Rpc3File &f, std::string &error) {
    return read_rpc3(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                     "road.rsp", f, error);
}

void expect_values(const Shape &s, const Rpc3File &f, std::int64_t points) {
    ASSERT_EQ(f.channels.size(), static_cast<std::size_t>(s.channels));
    EXPECT_EQ(f.points, points);
    EXPECT_EQ(f.floating_point, s.floating);
    EXPECT_EQ(f.delta_t, 0.05);
    for (int c = 0; c < s.channels; ++c) {
        const auto &ch = f.channels[static_cast<std::size_t>(c)];
        EXPECT_EQ(ch.label, "track " + std::to_string(c + 1));
        EXPECT_EQ(ch.unit, "mm");
        ASSERT_EQ(ch.values.size(), static_cast<std::size_t>(points));
        for (std::int64_t k = 0; k < points; ++k)
            ASSERT_EQ(ch.values[static_cast<std::size_t>(k)], expected(s, c, k))
                << "channel " << c + 1 << " point " << k;
    }
}

TEST(Rpc3File, ReadsBothTypesOrdersAndPaddings) {
    struct Case {
        const char *what;
        Shape shape;
        std::int64_t points; // as read
    } cases[] = {
        {"one channel, whole groups", {false, false, 1, 1024}, 1024},
        // 5000 points in 3 groups of 2048: the padding comes back as zeros.
        {"groups of two frames", {false, false, 2, 5000, 1024, 2048}, 6144},
        {"three float channels, padding named",
         {true, false, 3, 1061, 256, 512, 0, false, true},
         1061},
        {"two channels padded, not named", {false, false, 2, 700}, 1024},
        {"big-endian integers", {false, true, 2, 600, 256, 512, 0, false, true}, 600},
        {"big-endian floats", {true, true, 1, 513}, 1024},
        // Three frames: the last group half counted, laid out either way.
        {"last group padded", {false, false, 2, 700, 256, 512, 3}, 768},
        {"last group shortened", {false, false, 2, 700, 256, 512, 3, true}, 768},
        {"floats, last group shortened", {true, false, 3, 600, 256, 512, 3, true, true}, 600},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Rpc3File f;
        std::string error;
        ASSERT_TRUE(read(file_bytes(c.shape), f, error)) << error;
        EXPECT_EQ(f.big_endian, c.shape.big_endian);
        EXPECT_EQ(f.padding_known, c.shape.padded_key);
        EXPECT_EQ(f.stored_points, frames_of(c.shape) * c.shape.per_frame);
        expect_values(c.shape, f, c.points);
    }
}

// The broken profiles of tests/data/cases/profiles.txt, each refused with
// the key, byte offset or line at fault.
class Broken : public testing::TestWithParam<sorvan::test::Case> {};

TEST_P(Broken, RefusedNamingTheFault) {
    const std::vector<std::string> &f = GetParam().fields;
    ASSERT_EQ(f.size(), 4u);
    std::string error;
    if (f[0] == "csv") {
        sorvan::analysis::ProfileTable table;
        EXPECT_FALSE(sorvan::analysis::read_profile_table(f[2], "road.csv", table, error));
        EXPECT_EQ(error.rfind("road.csv", 0), 0u) << error;
        EXPECT_NE(error.find(f[3]), std::string::npos) << error;
        return;
    }
    Shape s;
    s.channels = 2;
    s.points = 700;
    Records r = records(s);
    std::istringstream edit(f[2]);
    std::string how, key, value;
    edit >> how >> key >> value;
    if (how == "set")
        for (auto &rec : r)
            if (rec.first == key) rec.second = value;
    if (how == "drop") std::erase_if(r, [&](const auto &rec) { return rec.first == key; });
    if (how == "add") r.push_back({key, value});
    if (how == "swap") std::swap(r[std::stoul(key)], r[std::stoul(value)]);
    std::string bytes = header(r) + data(s);
    if (how == "size") bytes.resize(std::stoul(key), '\0');
    if (how == "fill") {
        std::string c;
        edit >> c;
        const std::size_t n = std::stoul(value);
        bytes.replace(std::stoul(key), n, n, c == "NUL" ? '\0' : c[0]);
    }
    Rpc3File file;
    EXPECT_FALSE(read(bytes, file, error));
    EXPECT_NE(error.find(f[3]), std::string::npos) << error;
    EXPECT_EQ(error.rfind("road.rsp: ", 0), 0u) << error;
}

INSTANTIATE_TEST_SUITE_P(Profile, Broken,
                         testing::ValuesIn(sorvan::test::read_cases("profiles.txt")),
                         sorvan::test::case_name);

} // namespace
