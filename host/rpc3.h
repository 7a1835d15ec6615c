// The RPC III time-history layout: header records and encoded channel data.
//
// A file is NUM_HEADER_BLOCKS blocks of 512 bytes holding 128-byte records
// (a 32-byte keyword and a 96-byte value, both NUL-terminated text), then
// the data as groups of PTS_PER_GROUP points: in each group channel 1, then
// channel 2 and so on. The last group of every channel is filled up with its
// last point; PADDED_POINTS in the header says how many points that adds.
// Every multi-byte number is little-endian, whatever the machine.
#ifndef SORVAN_HOST_RPC3_H
#define SORVAN_HOST_RPC3_H

#include "frame/rpc3_text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace plexa::rpc3 {

constexpr int32_t CHANNELS_MAX = 128;
constexpr int32_t PTS_PER_FRAME = 1024;
constexpr int32_t PTS_PER_GROUP = 2048;   // two frames per group
constexpr int32_t INT_FULL_SCALE = 32752; // 2^15 - 16, the largest quantised magnitude
constexpr size_t BLOCK_SIZE = 512;        // 4 records
constexpr size_t RECORD_SIZE = 128;
constexpr size_t KEY_SIZE = 32; // 31 characters and the NUL
constexpr size_t TEXT_MAX = 95; // a value's 96 bytes less the NUL

enum class DataType { short_integer, floating_point };

// Bytes per stored value.
inline size_t value_size(DataType t) {
    return t == DataType::short_integer ? 2 : 4;
}

// One channel as it goes into the file.
struct Channel {
    std::string label;               // DESC.CHAN_n, printable ASCII, at most 95 characters
    std::string unit;                // UNITS.CHAN_n, likewise
    std::string scale;               // SCALE.CHAN_n as written
    std::vector<unsigned char> data; // the points, value_size bytes each, encoded
};

// What the header says about the whole file.
struct Layout {
    DataType type = DataType::short_integer;
    int32_t points = 0; // real points per channel, before padding
    double step = 0.0;  // DELTA_T
    std::string date;
    std::string operation;
};

// Number of groups needed for points points per channel.
inline int64_t groups(int32_t points) {
    return (static_cast<int64_t>(points) + PTS_PER_GROUP - 1) / PTS_PER_GROUP;
}

// A real as the header writes it: "%.6E" style, the same on every platform.
using sorvan::rpc3_real;

// Printable ASCII text cut to TEXT_MAX characters; other bytes become '?'.
std::string clean_text(const char *text);

// Encodes n values into ch.data and sets ch.scale. Returns false, changing
// nothing, when a value is NaN, infinite, or beyond a float for
// floating_point. Throws std::bad_alloc when memory runs out.
bool encode(DataType type, const double *values, int32_t n, Channel &ch);

// The header blocks of a file with these channels.
std::vector<unsigned char> header(const Layout &layout, const std::vector<Channel> &channels);

} // namespace plexa::rpc3

#endif
