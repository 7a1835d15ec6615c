// Reading RPC III time-history files: the header records and every channel's
// points in engineering units, from any producer that writes the binary
// layout with the usual keys.
//
// The file is NUM_HEADER_BLOCKS blocks of 512 bytes, each of four 128-byte
// records (a NUL-terminated keyword in 32 bytes, its NUL-terminated value in
// 96), the first three FORMAT, NUM_HEADER_BLOCKS and NUM_PARAMS; then the
// data in groups of PTS_PER_GROUP points, each group holding channel 1's
// points, then channel 2's, and so on. Values are 16-bit integers times
// the channel's SCALE.CHAN_n (DATA_TYPE SHORT_INTEGER, the default) or
// 32-bit IEEE floats in engineering units (FLOATING_POINT), little-endian
// (FORMAT BINARY_IEEE_LITTLE_END or BINARY) or big-endian
// (BINARY_IEEE_BIG_END). Floating-point values are taken as they are: a
// SCALE.CHAN_n beside them is reported but not applied, as producers write
// 1 there or leave it out.
#ifndef SORVAN_ANALYSIS_RPC3_FILE_H
#define SORVAN_ANALYSIS_RPC3_FILE_H

#include "frame/rpc3_text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sorvan::analysis {

// The header key that tells how many points at the end of every channel
// only fill the last frame (or group) and are not data: an integer from 0
// up to, not including, FRAMES x PTS_PER_FRAME. Files without it return
// all their points.
constexpr const char rpc3_padded_points_key[] = "PADDED_POINTS";

// The keys of a time history in time: the axis and its unit, and for a
// road driven at a speed that speed in m/s, so that the distance between
// the points is DELTA_T x SPEED_M_S. Without X_UNITS a file counts as
// distance-based (DELTA_T the spacing in metres).
constexpr const char rpc3_x_label_key[] = "X_LABEL";
constexpr const char rpc3_x_units_key[] = "X_UNITS";
constexpr const char rpc3_speed_key[] = "SPEED_M_S";

// Largest channel count read: as many as a header of 1024 records names.
constexpr std::int64_t rpc3_channels_max = 1024;

struct Rpc3Channel {
    std::string label;          // DESC.CHAN_n, "" when the file has none
    std::string unit;           // UNITS.CHAN_n, "" when the file has none
    double scale = 1.0;         // SCALE.CHAN_n; floating-point values are not scaled by it
    std::vector<double> values; // the points in engineering units
};

struct Rpc3File {
    // The records in file order, keywords in upper case, both texts
    // trimmed of spaces; bytes outside printable ASCII become '?'.
    std::vector<std::pair<std::string, std::string>> header;
    bool floating_point = false;    // DATA_TYPE FLOATING_POINT
    bool big_endian = false;        // FORMAT BINARY_IEEE_BIG_END
    double delta_t = 0.0;           // DELTA_T: the spacing of the points
    std::int64_t stored_points = 0; // per channel, FRAMES x PTS_PER_FRAME
    std::int64_t points = 0;        // per channel, without the padding PADDED_POINTS names
    bool padding_known = false;     // PADDED_POINTS was present
    bool time_based = false;        // X_UNITS names seconds: DELTA_T is a time step
    double speed = 0.0;             // SPEED_M_S of a road in time, m/s; 0 when not given
    std::vector<Rpc3Channel> channels;

    // The value of key (upper case), or "" when the header has no such key.
    std::string value(const std::string &key) const;
};

// Reads the file at path (the C library's narrow name) whole. Returns false
// with error set, naming path and the key or byte offset at fault, for a
// file that cannot be read or is malformed: a required key missing
// (FORMAT, NUM_HEADER_BLOCKS, NUM_PARAMS first; CHANNELS, DELTA_T,
// PTS_PER_FRAME, PTS_PER_GROUP, FRAMES; SCALE.CHAN_n for integer data), a
// value that is no number or out of range, a keyword given twice, a header
// that ends beyond the file, a file whose size disagrees with FRAMES, an
// ASCII or unknown FORMAT, a FILE_TYPE other than TIME_HISTORY, half frames,
// or a floating-point value that is not finite. file is replaced on
// success and left in an unspecified state on failure.
//
// A last group that FRAMES fills only in part is read either way a
// producer lays it out, padded to PTS_PER_GROUP points per channel or
// shortened to the points FRAMES counts; the file's size tells which.
//
// A file that is not a regular file, or larger than profile_file_max, is
// refused before it is read.
bool read_rpc3(const std::string &path, Rpc3File &file, std::string &error);

// The largest profile file read, RPC III or CSV: the reader holds it whole
// in memory, and its points once more as doubles.
constexpr std::uint64_t profile_file_max = std::uint64_t{1} << 30; // 1 GiB

// The same from size bytes in memory; name stands for the file in messages.
bool read_rpc3(const unsigned char *bytes, std::size_t size, const std::string &name,
               Rpc3File &file, std::string &error);

// A file to write, in the layout of the host's writer: little-endian
// 16-bit integers times a scale per channel, 1024 points a frame, 2048 a
// group, the last group filled up with the last point and PADDED_POINTS
// saying how many, the records of a channel after the fixed ones; the
// extra records (the time axis, say) follow INT_FULL_SCALE.
struct Rpc3Output {
    double delta_t = 0.0;
    std::string time_type = "RESPONSE";
    std::string date, operation;
    std::vector<std::pair<std::string, std::string>> extra;
    std::vector<Rpc3Channel> channels; // label, unit and values; scale is set by the writer
};

using sorvan::rpc3_real; // a real as the header writes it

// The bytes of the file. False with error set when there is no channel or
// more than 128, the channels differ in length or hold no point or more
// than 2^31 - 1, a value or DELTA_T is not finite, or a text is not
// printable ASCII of at most 95 characters.
bool rpc3_image(const Rpc3Output &out, std::string &bytes, std::string &error);

// The bytes of the RPC III file in bytes with its header changed: each
// record of changes replaces the value of its key, or is added after the
// last record when the file has no such key; the data stays as it is,
// byte for byte. False with error set when the header cannot be read or
// would hold more than 1024 records.
bool rpc3_with_records(const std::string &bytes,
                       const std::vector<std::pair<std::string, std::string>> &changes,
                       std::string &out, std::string &error);

} // namespace sorvan::analysis

#endif
