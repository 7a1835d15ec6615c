// A reader of RPC III time-history files for the tests, written apart from
// the writer: it checks the layout rules a strict reader applies and decodes
// every channel with the offset formula of the format.
#ifndef SORVAN_TESTS_SUPPORT_RPC3_READER_H
#define SORVAN_TESTS_SUPPORT_RPC3_READER_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace rpc3test {

struct File {
    std::vector<std::pair<std::string, std::string>> records; // in file order
    int64_t size = 0;
    int64_t header_blocks = 0;
    int64_t channels = 0;
    int64_t pts_per_frame = 0;
    int64_t pts_per_group = 0;
    int64_t frames = 0;
    int64_t padded = -1; // PADDED_POINTS, -1 when the file does not say
    bool short_integer = true;
    // Per channel: FRAMES * PTS_PER_FRAME points in engineering units, the
    // padding included, and for SHORT_INTEGER data the stored integers.
    std::vector<std::vector<double>> values;
    std::vector<std::vector<int16_t>> raw;

    // The value of keyword, or "" when it is missing.
    std::string value(const std::string &keyword) const;
};

// Reads path into out. Returns "" on success, otherwise what is wrong.
std::string read_file(const std::string &path, File &out);

} // namespace rpc3test

#endif
