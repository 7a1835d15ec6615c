// Encoding of RPC III headers and channel data.
#include "host/rpc3.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

namespace plexa::rpc3 {

namespace {

using Records = std::vector<std::pair<std::string, std::string>>;

void put_le16(unsigned char *p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v & 0xff);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put_le32(unsigned char *p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xff);
}

// The scale of a channel whose largest magnitude is peak: peak spread over
// the full integer range, 1.0 for an all-zero channel. A scale too small to
// be a normal double would print as 0 or lose its digits, so it is raised to
// the smallest normal double; such a channel then reads back as zeros, off by
// less than 1e-307.
double scale_for(double peak) {
    if (peak == 0.0) return 1.0;
    double s = peak / INT_FULL_SCALE;
    return s < DBL_MIN ? DBL_MIN : s;
}

bool encode_short(const double *values, int32_t n, Channel &ch) {
    double peak = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        if (!std::isfinite(values[i])) return false;
        peak = std::fmax(peak, std::fabs(values[i]));
    }
    // Quantise with the scale as a reader parses it from the header, so that
    // writer and reader use the same number.
    std::string text = rpc3_real(scale_for(peak));
    double s = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), s);
    std::vector<unsigned char> data(static_cast<size_t>(n) * 2);
    for (int32_t i = 0; i < n; ++i) {
        double q = std::round(values[i] / s); // halves away from zero
        const double full = INT_FULL_SCALE;
        q = std::fmin(std::fmax(q, -full), full);
        put_le16(&data[static_cast<size_t>(i) * 2], static_cast<uint16_t>(static_cast<int16_t>(q)));
    }
    ch.scale = std::move(text);
    ch.data = std::move(data);
    return true;
}

bool encode_float(const double *values, int32_t n, Channel &ch) {
    for (int32_t i = 0; i < n; ++i)
        if (!std::isfinite(static_cast<float>(values[i]))) return false;
    std::vector<unsigned char> data(static_cast<size_t>(n) * 4);
    for (int32_t i = 0; i < n; ++i) {
        put_le32(&data[static_cast<size_t>(i) * 4],
                 std::bit_cast<uint32_t>(static_cast<float>(values[i])));
    }
    ch.scale = rpc3_real(1.0); // floats are in engineering units already
    ch.data = std::move(data);
    return true;
}

std::string channel_key(const char *name, size_t n) {
    return std::string(name) + ".CHAN_" + std::to_string(n);
}

// The records in the order they are written: the three fixed ones, the file
// description, the per-channel scaling, the partition, the per-channel texts
// and the trailer. There are 21 + 6 * channels of them: the standard 20 + 6C
// and PADDED_POINTS, the points at the end of every channel that only fill
// the last group (readers that do not know the key skip it).
Records records(const Layout &l, const std::vector<Channel> &chans) {
    size_t c = chans.size();
    size_t params = 21 + 6 * c;
    int64_t frames = groups(l.points) * (PTS_PER_GROUP / PTS_PER_FRAME);
    bool ints = l.type == DataType::short_integer;
    Records r = {
        {"FORMAT", "BINARY_IEEE_LITTLE_END"},
        {"NUM_HEADER_BLOCKS", std::to_string((params + 3) / 4)},
        {"NUM_PARAMS", std::to_string(params)},
        {"FILE_TYPE", "TIME_HISTORY"},
        {"DATA_TYPE", ints ? "SHORT_INTEGER" : "FLOATING_POINT"},
        {"TIME_TYPE", "RESPONSE"},
        {"DELTA_T", rpc3_real(l.step)},
        {"PTS_PER_FRAME", std::to_string(PTS_PER_FRAME)},
        {"CHANNELS", std::to_string(c)},
        {"PTS_PER_GROUP", std::to_string(PTS_PER_GROUP)},
        {"BYPASS_FILTER", "0"},
        {"HALF_FRAMES", "0"},
        {"REPEATS", "0"},
        {"FRAMES", std::to_string(frames)},
        {"PADDED_POINTS", std::to_string(frames * PTS_PER_FRAME - l.points)},
    };
    for (size_t i = 1; i <= c; ++i) {
        r.emplace_back(channel_key("SCALE", i), chans[i - 1].scale);
        r.emplace_back(channel_key("UPPER_LIMIT", i), rpc3_real(1.0));
        r.emplace_back(channel_key("LOWER_LIMIT", i), rpc3_real(-1.0));
        r.emplace_back(channel_key("MAP", i), std::to_string(i));
    }
    r.emplace_back("PARTITIONS", "1");
    r.emplace_back("PART.CHAN_1", "1");
    r.emplace_back("PART.NCHAN_1", std::to_string(c));
    for (size_t i = 1; i <= c; ++i) {
        r.emplace_back(channel_key("DESC", i), chans[i - 1].label);
        r.emplace_back(channel_key("UNITS", i), chans[i - 1].unit);
    }
    r.emplace_back("DATE", l.date);
    r.emplace_back("OPERATION", l.operation);
    r.emplace_back("INT_FULL_SCALE", std::to_string(INT_FULL_SCALE));
    return r;
}

} // namespace

std::string clean_text(const char *text) {
    std::string out;
    if (!text) return out;
    for (size_t i = 0; text[i] && out.size() < TEXT_MAX; ++i) {
        unsigned char ch = static_cast<unsigned char>(text[i]);
        out += ch >= 0x20 && ch < 0x7f ? static_cast<char>(ch) : '?';
    }
    return out;
}

bool encode(DataType type, const double *values, int32_t n, Channel &ch) {
    return type == DataType::short_integer ? encode_short(values, n, ch)
                                           : encode_float(values, n, ch);
}

std::vector<unsigned char> header(const Layout &layout, const std::vector<Channel> &channels) {
    Records r = records(layout, channels);
    size_t blocks = (r.size() + 3) / 4;
    std::vector<unsigned char> bytes(blocks * BLOCK_SIZE, 0);
    for (size_t i = 0; i < r.size(); ++i) {
        unsigned char *rec = &bytes[i * RECORD_SIZE];
        // Keywords are ours and short; values were cut when they came in.
        std::memcpy(rec, r[i].first.data(), std::min(r[i].first.size(), KEY_SIZE - 1));
        std::memcpy(rec + KEY_SIZE, r[i].second.data(), std::min(r[i].second.size(), TEXT_MAX));
    }
    return bytes;
}

} // namespace plexa::rpc3
