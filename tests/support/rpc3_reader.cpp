#include "support/rpc3_reader.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

namespace rpc3test {

namespace {

constexpr size_t BLOCK = 512, RECORD = 128, KEY = 32, VALUE = 96;

// Reads a NUL-terminated printable field; every byte after the NUL is 0.
bool read_field(const unsigned char *p, size_t width, std::string &out) {
    size_t n = 0;
    while (n < width && p[n]) {
        if (p[n] < 0x20 || p[n] > 0x7e) return false;
        ++n;
    }
    if (n == width) return false;
    for (size_t i = n; i < width; ++i)
        if (p[i]) return false;
    out.assign(reinterpret_cast<const char *>(p), n);
    return true;
}

bool to_int(const std::string &s, int64_t &out) {
    if (s.empty()) return false;
    char *end = nullptr;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (*end) return false;
    out = v;
    return true;
}

bool to_real(const std::string &s, double &out) {
    if (s.find('.') == std::string::npos) return false; // a real carries a point
    char *end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return !*end && std::isfinite(out);
}

std::string need_int(const File &f, const char *key, int64_t &out) {
    if (!to_int(f.value(key), out)) return std::string("bad or missing ") + key;
    return "";
}

// Header records: fixed first three, unique keywords, zeros after the last.
std::string read_header(const std::vector<unsigned char> &bytes, File &f) {
    if (bytes.size() < BLOCK) return "shorter than one block";
    static const char *const first[] = {"FORMAT", "NUM_HEADER_BLOCKS", "NUM_PARAMS"};
    int64_t params = 3;
    std::set<std::string> seen;
    for (int64_t i = 0; i < params; ++i) {
        if ((static_cast<size_t>(i) + 1) * RECORD > bytes.size()) return "header cut short";
        const unsigned char *rec = &bytes[static_cast<size_t>(i) * RECORD];
        std::string key, value;
        if (!read_field(rec, KEY, key) || !read_field(rec + KEY, VALUE, value))
            return "bad record " + std::to_string(i + 1);
        if (i < 3 && key != first[i]) return "record " + std::to_string(i + 1) + " is " + key;
        if (!seen.insert(key).second) return "keyword twice: " + key;
        f.records.emplace_back(key, value);
        if (i == 2 && (!to_int(value, params) || params < 3 || params > 1024))
            return "bad NUM_PARAMS";
    }
    if (std::string e = need_int(f, "NUM_HEADER_BLOCKS", f.header_blocks); !e.empty()) return e;
    if (f.header_blocks != (params + 3) / 4) return "NUM_HEADER_BLOCKS is not ceil(NUM_PARAMS/4)";
    size_t end = static_cast<size_t>(f.header_blocks) * BLOCK;
    if (end > bytes.size()) return "file shorter than its header";
    for (size_t i = static_cast<size_t>(params) * RECORD; i < end; ++i)
        if (bytes[i]) return "bytes after the last record";
    return "";
}

std::string check_keywords(const File &f) {
    std::string format = f.value("FORMAT");
    if (format != "BINARY_IEEE_LITTLE_END" && format != "BINARY")
        return "FORMAT is not little-endian binary";
    if (f.value("FILE_TYPE") != "TIME_HISTORY") return "FILE_TYPE";
    double dt;
    if (!to_real(f.value("DELTA_T"), dt) || dt <= 0) return "DELTA_T";
    static const char *const per_channel[] = {"SCALE", "UPPER_LIMIT", "LOWER_LIMIT",
                                              "MAP",   "DESC",        "UNITS"};
    for (int64_t c = 1; c <= f.channels; ++c) {
        for (const char *k : per_channel) {
            std::string key = std::string(k) + ".CHAN_" + std::to_string(c);
            bool found = false;
            for (const auto &r : f.records)
                found = found || r.first == key;
            if (!found) return "missing " + key;
        }
    }
    return "";
}

uint32_t le(const unsigned char *p, size_t n) {
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i)
        v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}

std::string decode(const std::vector<unsigned char> &bytes, File &f) {
    size_t b = f.short_integer ? 2 : 4;
    int64_t points = f.frames * f.pts_per_frame;
    f.values.assign(static_cast<size_t>(f.channels), {});
    f.raw.assign(static_cast<size_t>(f.channels), {});
    for (int64_t c = 1; c <= f.channels; ++c) {
        double scale = 1.0;
        if (!to_real(f.value("SCALE.CHAN_" + std::to_string(c)), scale) || scale == 0)
            return "bad SCALE of channel " + std::to_string(c);
        for (int64_t k = 0; k < points; ++k) {
            int64_t at = f.header_blocks * 512 +
                         ((k / f.pts_per_group) * f.channels + (c - 1)) * f.pts_per_group *
                             static_cast<int64_t>(b) +
                         (k % f.pts_per_group) * static_cast<int64_t>(b);
            uint32_t bits = le(&bytes[static_cast<size_t>(at)], b);
            double v;
            if (f.short_integer) {
                int16_t q = static_cast<int16_t>(static_cast<uint16_t>(bits));
                f.raw[c - 1].push_back(q);
                v = q * scale;
            } else {
                float x;
                std::memcpy(&x, &bits, sizeof x);
                v = x;
            }
            f.values[c - 1].push_back(v);
        }
    }
    return "";
}

} // namespace

std::string File::value(const std::string &keyword) const {
    for (const auto &r : records)
        if (r.first == keyword) return r.second;
    return "";
}

std::string read_file(const std::string &path, File &f) {
    f = File();
    std::ifstream in(path, std::ios::binary);
    if (!in) return "cannot open " + path;
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    f.size = static_cast<int64_t>(bytes.size());
    if (std::string e = read_header(bytes, f); !e.empty()) return e;
    for (auto [key, out] : {std::pair{"CHANNELS", &f.channels},
                            {"PTS_PER_FRAME", &f.pts_per_frame},
                            {"PTS_PER_GROUP", &f.pts_per_group},
                            {"FRAMES", &f.frames}})
        if (std::string e = need_int(f, key, *out); !e.empty()) return e;
    if (f.channels < 1 || f.pts_per_frame < 1 || f.pts_per_group % f.pts_per_frame)
        return "bad sizes";
    if (f.frames % (f.pts_per_group / f.pts_per_frame)) return "FRAMES is not whole groups";
    // PADDED_POINTS is optional; when present it counts points of the last
    // frame, never a whole channel.
    if (std::string padded = f.value("PADDED_POINTS"); !padded.empty())
        if (!to_int(padded, f.padded) || f.padded < 0 || f.padded >= f.frames * f.pts_per_frame)
            return "bad PADDED_POINTS";
    std::string type = f.value("DATA_TYPE");
    if (type != "SHORT_INTEGER" && type != "FLOATING_POINT") return "DATA_TYPE";
    f.short_integer = type == "SHORT_INTEGER";
    if (std::string e = check_keywords(f); !e.empty()) return e;
    int64_t groups = f.frames / (f.pts_per_group / f.pts_per_frame);
    int64_t expected =
        f.header_blocks * 512 + groups * f.channels * f.pts_per_group * (f.short_integer ? 2 : 4);
    if (f.size != expected) return "file size is not header + groups * C * PPG * B";
    return decode(bytes, f);
}

} // namespace rpc3test
