// RPC III time histories read back: the header's records, checked before
// any of them sizes or places anything, then every channel decoded from the
// group layout.
#include "analysis/rpc3_file.h"

#include "frame/file_identity.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <system_error>

namespace sorvan::analysis {

namespace {

constexpr std::size_t block_size = 512; // four records
constexpr std::size_t record_size = 128;
constexpr std::size_t key_size = 32;   // 31 characters and the NUL
constexpr std::size_t value_size = 96; // 95 characters and the NUL

// The documented most header blocks, 256, hold 1024 records.
constexpr std::int64_t header_blocks_max = 256;

// Frame and group sizes: documented up to 16384 points; larger ones are
// read as long as the file holds them, and these bounds keep the byte
// counts worked out from them inside 64 bits.
constexpr std::int64_t pts_per_frame_max = std::int64_t(1) << 24;
constexpr std::int64_t pts_per_group_max = std::int64_t(1) << 30;

std::string offset_text(std::size_t offset) {
    return "byte offset " + std::to_string(offset);
}

std::string key_text(const std::string &key) {
    return "header key " + key;
}

// The text of a NUL-terminated field of width bytes at p, trimmed of
// spaces; false when the field has no NUL. A keyword must be printable
// text; other bytes of a value become '?'.
bool read_field(const unsigned char *p, std::size_t width, bool keyword, std::string &text) {
    const void *nul = std::memchr(p, 0, width);
    if (nul == nullptr) return false;
    std::size_t n = static_cast<std::size_t>(static_cast<const unsigned char *>(nul) - p);
    text.clear();
    for (std::size_t i = 0; i < n; ++i) {
        bool printable = p[i] >= 0x20 && p[i] < 0x7f;
        if (keyword && !printable) return false;
        text += printable ? static_cast<char>(p[i]) : '?';
    }
    std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        text.clear();
        return true;
    }
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    return true;
}

// A decimal integer, the whole text; a leading '+' is allowed.
bool parse_int(const std::string &text, std::int64_t &v) {
    const char *p = text.data(), *end = p + text.size();
    if (p != end && *p == '+') ++p;
    auto [stop, ec] = std::from_chars(p, end, v);
    return p != end && ec == std::errc() && stop == end;
}

// A finite real, the whole text, in fixed or E notation (a Fortran D
// exponent too); a leading '+' is allowed.
bool parse_real(std::string text, double &v) {
    for (char &c : text)
        if (c == 'D' || c == 'd') c = 'E';
    const char *p = text.data(), *end = p + text.size();
    if (p != end && *p == '+') ++p;
    auto [stop, ec] = std::from_chars(p, end, v, std::chars_format::general);
    return p != end && ec == std::errc() && stop == end && std::isfinite(v);
}

// One record of the header at its index: keyword and value.
bool read_record(const unsigned char *bytes, std::size_t index,
                 std::pair<std::string, std::string> &record, std::string &why) {
    std::size_t at = index * record_size;
    if (!read_field(bytes + at, key_size, true, record.first) || record.first.empty()) {
        why = offset_text(at) + ": record " + std::to_string(index + 1) +
              " has no keyword (printable text ended by a NUL within 32 bytes)";
        return false;
    }
    for (char &c : record.first)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!read_field(bytes + at + key_size, value_size, false, record.second)) {
        why = offset_text(at + key_size) + ": the value of " + key_text(record.first) +
              " is not ended by a NUL within 96 bytes";
        return false;
    }
    return true;
}

bool int_of(const std::string &key, const std::string &text, std::int64_t lo, std::int64_t hi,
            std::int64_t &v, std::string &why) {
    if (!parse_int(text, v)) {
        why = key_text(key) + ": \"" + text + "\" is not an integer";
        return false;
    }
    if (v < lo || v > hi) {
        why = key_text(key) + ": " + text + " is outside " + std::to_string(lo) + " to " +
              std::to_string(hi);
        return false;
    }
    return true;
}

bool need(const Rpc3File &f, const std::string &key, std::string &text, std::string &why) {
    for (const auto &r : f.header) {
        if (r.first == key) {
            text = r.second;
            return true;
        }
    }
    why = key_text(key) + " is missing";
    return false;
}

bool need_int(const Rpc3File &f, const std::string &key, std::int64_t lo, std::int64_t hi,
              std::int64_t &v, std::string &why) {
    std::string text;
    return need(f, key, text, why) && int_of(key, text, lo, hi, v, why);
}

bool real_of(const std::string &key, const std::string &text, double &v, std::string &why) {
    if (parse_real(text, v)) return true;
    why = key_text(key) + ": \"" + text + "\" is not a finite number";
    return false;
}

// The three fixed records, then the rest of the header's records; the
// data starts at *data.
bool read_header(const unsigned char *bytes, std::size_t size, Rpc3File &f, std::size_t *data,
                 std::string &why) {
    if (size < block_size) {
        why = offset_text(size) + ": the file ends inside its first 512-byte header block";
        return false;
    }
    static const char *const fixed[] = {"FORMAT", "NUM_HEADER_BLOCKS", "NUM_PARAMS"};
    f.header.resize(3);
    for (std::size_t i = 0; i < 3; ++i) {
        if (!read_record(bytes, i, f.header[i], why)) return false;
        if (f.header[i].first != fixed[i]) {
            why = offset_text(i * record_size) + ": record " + std::to_string(i + 1) + " is " +
                  f.header[i].first + " where " + key_text(fixed[i]) + " must stand";
            return false;
        }
    }
    std::int64_t blocks, params;
    if (!int_of(fixed[1], f.header[1].second, 1, header_blocks_max, blocks, why) ||
        !int_of(fixed[2], f.header[2].second, 3, 4 * blocks, params, why))
        return false;
    *data = static_cast<std::size_t>(blocks) * block_size;
    if (*data > size) {
        why = key_text(fixed[1]) + ": " + std::to_string(blocks) + " blocks end at " +
              offset_text(*data) + ", beyond the file's " + std::to_string(size) + " bytes";
        return false;
    }
    std::set<std::string> seen(fixed, fixed + 3);
    for (std::size_t i = 3; i < static_cast<std::size_t>(params); ++i) {
        std::pair<std::string, std::string> r;
        if (!read_record(bytes, i, r, why)) return false;
        if (!seen.insert(r.first).second) {
            why = offset_text(i * record_size) + ": " + key_text(r.first) + " appears twice";
            return false;
        }
        f.header.push_back(std::move(r));
    }
    return true;
}

// FORMAT, FILE_TYPE, DATA_TYPE, HALF_FRAMES and DELTA_T.
bool read_kind(Rpc3File &f, std::string &why) {
    std::string format = f.header[0].second;
    if (format == "BINARY_IEEE_BIG_END") {
        f.big_endian = true;
    } else if (format != "BINARY_IEEE_LITTLE_END" && format != "BINARY") {
        why = key_text("FORMAT") + ": \"" + format + "\" is not a binary layout read here";
        return false;
    }
    std::string type = f.value("FILE_TYPE");
    if (!type.empty() && type != "TIME_HISTORY") {
        why = key_text("FILE_TYPE") + ": \"" + type + "\" is not TIME_HISTORY";
        return false;
    }
    type = f.value("DATA_TYPE");
    if (type == "FLOATING_POINT") {
        f.floating_point = true;
    } else if (!type.empty() && type != "SHORT_INTEGER") {
        why = key_text("DATA_TYPE") + ": \"" + type +
              "\" is neither SHORT_INTEGER nor FLOATING_POINT";
        return false;
    }
    std::string half = f.value("HALF_FRAMES");
    std::int64_t halves = 0;
    if (!half.empty() && !int_of("HALF_FRAMES", half, 0, 1, halves, why)) return false;
    if (halves != 0) {
        why = key_text("HALF_FRAMES") + ": half-frame padding at the ends is not read";
        return false;
    }
    std::string text;
    if (!need(f, "DELTA_T", text, why) || !real_of("DELTA_T", text, f.delta_t, why)) return false;
    if (!(f.delta_t > 0.0)) {
        why = key_text("DELTA_T") + ": " + text + " is not above 0";
        return false;
    }
    std::string unit = f.value(rpc3_x_units_key);
    for (char &c : unit)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    f.time_based = unit == "s" || unit == "sec" || unit == "second" || unit == "seconds";
    text = f.value(rpc3_speed_key);
    if (!text.empty() && (!real_of(rpc3_speed_key, text, f.speed, why) || !(f.speed > 0.0))) {
        if (why.empty()) why = key_text(rpc3_speed_key) + ": " + text + " is not above 0";
        return false;
    }
    return true;
}

// The shape of the data section.
struct Layout {
    std::int64_t channels = 0;
    std::int64_t per_group = 0; // PTS_PER_GROUP
    std::int64_t width = 0;     // bytes per value
    std::int64_t full_groups = 0;
    std::int64_t tail = 0;   // points of a partly filled last group, or 0
    bool short_tail = false; // that group holds only its tail points
};

// The data section's size for FRAMES x PTS_PER_FRAME points per channel,
// read either way a partly filled last group may be laid out.
bool read_layout(Rpc3File &f, std::size_t header, std::size_t size, Layout &l, std::string &why) {
    std::int64_t per_frame, frames;
    if (!need_int(f, "CHANNELS", 1, rpc3_channels_max, l.channels, why) ||
        !need_int(f, "PTS_PER_FRAME", 1, pts_per_frame_max, per_frame, why) ||
        !need_int(f, "PTS_PER_GROUP", per_frame, pts_per_group_max, l.per_group, why) ||
        !need_int(f, "FRAMES", 1, INT64_MAX, frames, why))
        return false;
    if (l.per_group % per_frame != 0) {
        why = key_text("PTS_PER_GROUP") + ": " + std::to_string(l.per_group) +
              " is not a whole number of frames of " + std::to_string(per_frame) + " points";
        return false;
    }
    l.width = f.floating_point ? 4 : 2;
    // Every layout holds at least FRAMES x PTS_PER_FRAME points of every
    // channel; checking that by division first keeps the products in range.
    std::int64_t data = static_cast<std::int64_t>(size - header);
    std::int64_t room = data / (l.channels * l.width); // points per channel the data can hold
    bool fits = frames <= room / per_frame;
    std::int64_t total = fits ? frames * per_frame : 0;
    l.full_groups = total / l.per_group;
    l.tail = total % l.per_group;
    std::int64_t padded = (l.full_groups + (l.tail > 0)) * l.per_group * l.channels * l.width;
    std::int64_t shortened = total * l.channels * l.width;
    if (fits && (data == padded || data == shortened)) {
        l.short_tail = data != padded;
        f.stored_points = total;
        return true;
    }
    why = key_text("FRAMES") + ": " + std::to_string(frames) + " frames of " +
          std::to_string(per_frame) + " points in " + std::to_string(l.channels) + " channels of " +
          std::to_string(l.width) + "-byte values need ";
    if (!fits)
        why += "more than the file's " + std::to_string(data) + " bytes of data";
    else if (padded == shortened)
        why += std::to_string(padded) + " bytes of data, the file has " + std::to_string(data);
    else
        why += std::to_string(padded) + " bytes of data (" + std::to_string(shortened) +
               " with the last group cut short), the file has " + std::to_string(data);
    why += " from " + offset_text(header) + " on";
    return false;
}

// Labels, units and scales of the channels, and the points to return.
bool read_channels(Rpc3File &f, const Layout &l, std::string &why) {
    f.channels.resize(static_cast<std::size_t>(l.channels));
    for (std::int64_t c = 1; c <= l.channels; ++c) {
        Rpc3Channel &ch = f.channels[static_cast<std::size_t>(c - 1)];
        std::string n = ".CHAN_" + std::to_string(c), text;
        ch.label = f.value("DESC" + n);
        ch.unit = f.value("UNITS" + n);
        if (f.floating_point && f.value("SCALE" + n).empty()) continue;
        if (!need(f, "SCALE" + n, text, why) || !real_of("SCALE" + n, text, ch.scale, why))
            return false;
        if (ch.scale == 0.0) {
            why = key_text("SCALE" + n) + " is 0";
            return false;
        }
        // Every 16-bit value times the scale must be a finite number.
        if (!f.floating_point && !std::isfinite(ch.scale * 32768.0)) {
            why = key_text("SCALE" + n) + " " + text +
                  " takes the 16-bit values beyond the range of a double";
            return false;
        }
    }
    f.points = f.stored_points;
    std::string padded = f.value(rpc3_padded_points_key);
    if (padded.empty()) return true;
    std::int64_t pad;
    if (!int_of(rpc3_padded_points_key, padded, 0, f.stored_points - 1, pad, why)) return false;
    f.points = f.stored_points - pad;
    f.padding_known = true;
    return true;
}

std::uint32_t word(const unsigned char *p, std::int64_t width, bool big_endian) {
    std::uint32_t v = 0;
    for (std::int64_t i = 0; i < width; ++i)
        v = v << 8 | p[big_endian ? i : width - 1 - i];
    return v;
}

// Byte position of point k of channel c (from 0) in the data section.
std::int64_t position(const Layout &l, std::int64_t c, std::int64_t k) {
    std::int64_t g = k / l.per_group;
    std::int64_t in_group = (l.short_tail && g == l.full_groups) ? l.tail : l.per_group;
    return (g * l.per_group * l.channels + c * in_group + k % l.per_group) * l.width;
}

bool decode(const unsigned char *data, std::size_t header, const Layout &l, Rpc3File &f,
            std::string &why) {
    for (std::int64_t c = 0; c < l.channels; ++c) {
        Rpc3Channel &ch = f.channels[static_cast<std::size_t>(c)];
        ch.values.resize(static_cast<std::size_t>(f.points));
        for (std::int64_t k = 0; k < f.points; ++k) {
            std::int64_t at = position(l, c, k);
            std::uint32_t bits = word(data + at, l.width, f.big_endian);
            double v;
            if (f.floating_point) {
                float x;
                std::memcpy(&x, &bits, sizeof x);
                v = x;
                if (!std::isfinite(v)) {
                    why = offset_text(header + static_cast<std::size_t>(at)) + ": point " +
                          std::to_string(k + 1) + " of channel " + std::to_string(c + 1) +
                          " is not a finite number";
                    return false;
                }
            } else {
                v = static_cast<std::int16_t>(static_cast<std::uint16_t>(bits)) * ch.scale;
            }
            ch.values[static_cast<std::size_t>(k)] = v;
        }
    }
    return true;
}

bool read_all(const unsigned char *bytes, std::size_t size, Rpc3File &f, std::string &why) {
    std::size_t header = 0;
    Layout l;
    return read_header(bytes, size, f, &header, why) && read_kind(f, why) &&
           read_layout(f, header, size, l, why) && read_channels(f, l, why) &&
           decode(bytes + header, header, l, f, why);
}

} // namespace

std::string Rpc3File::value(const std::string &key) const {
    for (const auto &r : header)
        if (r.first == key) return r.second;
    return "";
}

bool read_rpc3(const unsigned char *bytes, std::size_t size, const std::string &name,
               Rpc3File &file, std::string &error) {
    file = Rpc3File();
    std::string why;
    bool ok;
    try {
        ok = (bytes != nullptr || size == 0) && read_all(bytes, size, file, why);
        if (bytes == nullptr && size > 0) why = "no bytes";
    } catch (const std::bad_alloc &) {
        ok = false;
        why = "out of memory for its points";
    }
    if (!ok) error = name + ": " + why;
    return ok;
}

bool read_rpc3(const std::string &path, Rpc3File &file, std::string &error) {
    std::string bytes, why;
    if (!read_input(path.c_str(), profile_file_max, bytes, why)) {
        error = path + ": " + why;
        return false;
    }
    return read_rpc3(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), path,
                     file, error);
}

namespace {

// The writer's layout.
constexpr std::int64_t write_per_frame = 1024, write_per_group = 2048;
constexpr double int_full_scale = 32752.0; // 2^15 - 16
constexpr std::size_t write_channels_max = 128;
constexpr std::size_t records_max = 1024; // 256 blocks of four

using Records = std::vector<std::pair<std::string, std::string>>;

bool printable(const std::string &t) {
    if (t.size() > value_size - 1) return false;
    for (char c : t)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f)
            return false;
    return true;
}

// The header blocks of these records, NUM_HEADER_BLOCKS and NUM_PARAMS
// set from their count.
std::string header_bytes(Records r) {
    const std::size_t blocks = (r.size() + 3) / 4;
    r[1].second = std::to_string(blocks);
    r[2].second = std::to_string(r.size());
    std::string bytes(blocks * block_size, '\0');
    for (std::size_t i = 0; i < r.size(); ++i) {
        char *rec = &bytes[i * record_size];
        std::memcpy(rec, r[i].first.data(), std::min(r[i].first.size(), key_size - 1));
        std::memcpy(rec + key_size, r[i].second.data(),
                    std::min(r[i].second.size(), value_size - 1));
    }
    return bytes;
}

void put_le16(std::string &out, std::size_t at, std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    out[at] = static_cast<char>(u & 0xffu);
    out[at + 1] = static_cast<char>(u >> 8);
}

// The scale of a channel as the header prints it, and parsed back, so
// that writer and reader quantise with the same number.
double channel_scale(const std::vector<double> &v, std::string &text) {
    double peak = 0.0;
    for (double x : v)
        peak = std::max(peak, std::fabs(x));
    double s = peak == 0.0 ? 1.0 : std::max(peak / int_full_scale, 2.2250738585072014e-308);
    text = rpc3_real(s);
    std::from_chars(text.data(), text.data() + text.size(), s);
    return s;
}

bool check_output(const Rpc3Output &out, std::string &error) {
    const std::size_t c = out.channels.size();
    if (c == 0 || c > write_channels_max) {
        error = std::to_string(c) + " channels: an RPC III file holds 1 to 128";
        return false;
    }
    const std::size_t n = out.channels[0].values.size();
    if (n == 0 || n > 2147483647u) {
        error = "a channel of " + std::to_string(n) + " points: 1 to 2147483647 are written";
        return false;
    }
    if (!(out.delta_t > 0.0) || !std::isfinite(out.delta_t)) {
        error = "DELTA_T " + rpc3_real(out.delta_t) + " is not a positive number";
        return false;
    }
    for (std::size_t k = 0; k < c; ++k) {
        const Rpc3Channel &ch = out.channels[k];
        const std::string name = "channel " + std::to_string(k + 1);
        if (ch.values.size() != n) {
            error = name + " has " + std::to_string(ch.values.size()) + " points, channel 1 " +
                    std::to_string(n);
            return false;
        }
        for (double v : ch.values)
            if (!std::isfinite(v)) {
                error = name + " holds a value that is not a finite number";
                return false;
            }
        if (!printable(ch.label) || !printable(ch.unit)) {
            error = name + ": its label and unit must be printable ASCII of at most 95 characters";
            return false;
        }
    }
    for (const auto &[key, value] : out.extra)
        if (!printable(key) || key.size() > key_size - 1 || !printable(value)) {
            error = "header key " + key + ": not printable ASCII within its field";
            return false;
        }
    return true;
}

} // namespace

bool rpc3_image(const Rpc3Output &out, std::string &bytes, std::string &error) {
    if (!check_output(out, error)) return false;
    const std::size_t c = out.channels.size();
    const auto n = static_cast<std::int64_t>(out.channels[0].values.size());
    const std::int64_t groups = (n + write_per_group - 1) / write_per_group;
    const std::int64_t frames = groups * (write_per_group / write_per_frame);
    Records r = {{"FORMAT", "BINARY_IEEE_LITTLE_END"},
                 {"NUM_HEADER_BLOCKS", ""},
                 {"NUM_PARAMS", ""},
                 {"FILE_TYPE", "TIME_HISTORY"},
                 {"DATA_TYPE", "SHORT_INTEGER"},
                 {"TIME_TYPE", out.time_type},
                 {"DELTA_T", rpc3_real(out.delta_t)},
                 {"PTS_PER_FRAME", std::to_string(write_per_frame)},
                 {"CHANNELS", std::to_string(c)},
                 {"PTS_PER_GROUP", std::to_string(write_per_group)},
                 {"BYPASS_FILTER", "0"},
                 {"HALF_FRAMES", "0"},
                 {"REPEATS", "0"},
                 {"FRAMES", std::to_string(frames)},
                 {rpc3_padded_points_key, std::to_string(frames * write_per_frame - n)}};
    std::vector<double> scales(c);
    for (std::size_t k = 0; k < c; ++k) {
        const std::string i = std::to_string(k + 1);
        std::string text;
        scales[k] = channel_scale(out.channels[k].values, text);
        r.insert(r.end(), {{"SCALE.CHAN_" + i, text},
                           {"UPPER_LIMIT.CHAN_" + i, rpc3_real(1.0)},
                           {"LOWER_LIMIT.CHAN_" + i, rpc3_real(-1.0)},
                           {"MAP.CHAN_" + i, i}});
    }
    r.insert(r.end(),
             {{"PARTITIONS", "1"}, {"PART.CHAN_1", "1"}, {"PART.NCHAN_1", std::to_string(c)}});
    for (std::size_t k = 0; k < c; ++k) {
        const std::string i = std::to_string(k + 1);
        r.insert(r.end(), {{"DESC.CHAN_" + i, out.channels[k].label},
                           {"UNITS.CHAN_" + i, out.channels[k].unit}});
    }
    r.insert(r.end(),
             {{"DATE", out.date}, {"OPERATION", out.operation}, {"INT_FULL_SCALE", "32752"}});
    r.insert(r.end(), out.extra.begin(), out.extra.end());
    if (r.size() > records_max) {
        error = std::to_string(r.size()) + " header records: at most 1024 are written";
        return false;
    }
    bytes = header_bytes(std::move(r));
    const std::size_t head = bytes.size(),
                      group_bytes = 2 * static_cast<std::size_t>(write_per_group);
    bytes.resize(head + static_cast<std::size_t>(groups) * c * group_bytes);
    for (std::size_t k = 0; k < c; ++k) {
        const std::vector<double> &v = out.channels[k].values;
        for (std::int64_t i = 0; i < groups * write_per_group; ++i) {
            const double x = v[static_cast<std::size_t>(std::min(i, n - 1))];
            double q = std::round(x / scales[k]);
            q = std::fmin(std::fmax(q, -int_full_scale), int_full_scale);
            const auto g = static_cast<std::size_t>(i / write_per_group);
            const auto at = head + (g * c + k) * group_bytes +
                            2 * static_cast<std::size_t>(i % write_per_group);
            put_le16(bytes, at, static_cast<std::int16_t>(q));
        }
    }
    return true;
}

bool rpc3_with_records(const std::string &bytes, const Records &changes, std::string &out,
                       std::string &error) {
    Rpc3File f;
    std::size_t data = 0;
    std::string why;
    if (!read_header(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), f, &data,
                     why)) {
        error = why;
        return false;
    }
    Records r = f.header;
    for (const auto &change : changes) {
        auto at = std::find_if(r.begin(), r.end(),
                               [&](const auto &rec) { return rec.first == change.first; });
        if (at != r.end())
            at->second = change.second;
        else
            r.push_back(change);
    }
    if (r.size() > records_max) {
        error = std::to_string(r.size()) + " header records: at most 1024 are written";
        return false;
    }
    out = header_bytes(std::move(r));
    out.append(bytes, data, std::string::npos);
    return true;
}

} // namespace sorvan::analysis
