// Fuzzes the road profile command GENRPROF_SAYERS through the stand-in
// host: the three argument arrays, their element types and counts and every
// element come from the input.
//
// Input layout, per array (ints, reals, strings): one byte for its kind (an
// array of integers, reals or texts, a released array, or none) and count,
// then one byte per element picking a value from a list of extremes (0,
// negative, non-numbers, infinities, huge and tiny numbers, number texts) or
// raw bytes. File names come from a fixed list only, relative to a scratch
// folder: fuzzed bytes never name a file.
//
// What must hold: the result is a new one-integer array holding 0 or 1; on
// 0 the file named exists and reads back as an RPC III file with one channel
// per track; on 1 the folder is as it was; no array or file handle is left
// behind.
#include "fuzz_support.h"
#include "support/rpc3_reader.h"

#include "host/plexa_setup.h"
#include "road_profile/profile.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using sorvan::fuzz::check;
using sorvan::fuzz::Input;

fs::path scratch; // one folder per fuzzer process

// Sample arrays beyond this size are refused as if memory ran out: the
// command's path for that is fuzzed too, and no run takes long.
constexpr size_t max_sample_bytes = 8 * 20000;

void *small_calloc(size_t count, size_t size) {
    if (size != 0 && count > max_sample_bytes / size) return nullptr;
    return std::calloc(count, size);
}

const char *const file_names[] = {
    "p.rsp",
    "with space.rsp",
    "\xc3\xbc\xc3\x9f.rsp",
    "missing folder/p.rsp",
    "",
    ".",
    "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567"
    "8901234567890123456789012345678901234567890123456789012345678901234567890123456789012345"
    "67890123456789012345678901234567890123456789012345678901234567890123456789012345678.rsp"};

double real_value(Input &in) {
    const double inf = std::numeric_limits<double>::infinity();
    const uint8_t b = in.byte();
    const double values[] = {0.0,      -0.0, 1.0,  -1.0,  std::nan(""), inf,  -inf,  1e308,
                             4.9e-324, 0.1,  10.0, 1e-3,  1e-9,         1e-6, 100.0, 0.5,
                             2.0,      1.5,  1e9,  -1e-6, 1e-300,       3.0};
    constexpr size_t n = sizeof values / sizeof values[0];
    if (b < n * 10) return values[b % n];
    uint8_t raw[8] = {};
    for (uint8_t &x : raw)
        x = in.byte();
    double v;
    std::memcpy(&v, raw, sizeof v);
    return v;
}

int32_t int_value(Input &in) {
    const uint8_t b = in.byte();
    const int32_t values[] = {1, 2, 0, 3, -1, 4711, INT32_MIN, INT32_MAX, -4711};
    constexpr size_t n = sizeof values / sizeof values[0];
    if (b < n * 20) return values[b % n];
    return static_cast<int32_t>(uint32_t{in.byte()} << 24 | uint32_t{in.byte()} << 16 |
                                uint32_t{in.byte()} << 8 | in.byte());
}

// A text element: a file name when it is the first of the strings
// argument, else a label, a number text or a few raw bytes.
std::string text_value(Input &in, bool file_name) {
    const uint8_t b = in.byte();
    if (file_name) return file_names[b % (sizeof file_names / sizeof file_names[0])];
    const char *const texts[] = {"left",  "",    " 1.5 ",          "2",   "nan", "-inf",
                                 "1e999", "abc", "\xff\xfe label", "0x10"};
    constexpr size_t n = sizeof texts / sizeof texts[0];
    if (b < n * 20) return texts[b % n];
    std::string raw;
    for (uint8_t k = in.byte() % 120; k > 0; --k)
        if (const char c = static_cast<char>(in.byte())) raw += c;
    return raw;
}

// One argument array: kind (low 3 bits) and count (the rest) from one byte.
vc_array make_array(Input &in, int which, int32_t wanted) {
    const uint8_t b = in.byte();
    const int32_t count = (b >> 3) < 12 ? (b >> 3) % 8 : wanted;
    const int kind = b & 7;
    if (kind >= 5) return nullptr;
    if (kind == 4) { // a released array: a stale handle
        vc_array gone = plexa_array_create(VC_INTEGER, 1);
        plexa_array_free(gone);
        return gone;
    }
    const int32_t type = kind == 0 ? (which == 0   ? VC_INTEGER
                                      : which == 1 ? VC_REAL
                                                   : VC_TEXT)
                                   : kind;
    vc_array a = plexa_array_create(type, count);
    for (int32_t i = 0; i < count; ++i) {
        if (type == VC_INTEGER)
            plexa_array_set_int(a, i, int_value(in));
        else if (type == VC_REAL)
            plexa_array_set_real(a, i, real_value(in));
        else
            plexa_array_set_text(a, i, text_value(in, which == 2 && i == 0).c_str());
    }
    return a;
}

// Runs in the scratch folder while it lives, so that every relative name an
// entry is given or forms stays in there; the fuzzer's own folder comes
// back afterwards (it reads its corpus and writes its findings by the names
// it was given).
struct InScratch {
    fs::path previous = fs::current_path();
    InScratch() { fs::current_path(scratch); }
    ~InScratch() { fs::current_path(previous); }
};

std::vector<std::string> names() {
    std::vector<std::string> found;
    for (const auto &entry : fs::recursive_directory_iterator(scratch))
        found.push_back(fs::relative(entry.path(), scratch).string());
    return found;
}

// The tracks requested: the first integer of the ints argument, as the
// command reads it after converting the array.
int32_t tracks(vc_array ints) {
    int32_t n = 0;
    return plexa_array_get_int(ints, 0, &n) ? n : 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    scratch = fs::temp_directory_path() / ("sorvan_fuzz_road_" + std::to_string(getpid()));
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    rprof_set_calloc(small_calloc);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    for (const auto &entry : fs::directory_iterator(scratch))
        fs::remove_all(entry.path());
    plexa_reset();
    InScratch here;
    Input in{data, size};
    vc_array ints = make_array(in, 0, 2);
    vc_array reals = make_array(in, 1, 6);
    vc_array strings = make_array(in, 2, 3);
    const int32_t live = plexa_array_live_count();

    vc_array result = cmd_to_genrprof_sayers(ints, reals, strings);
    int32_t status = -1;
    check(plexa_array_type(result) == VC_INTEGER && vc_array_element_count(result) == 1);
    check(plexa_array_get_int(result, 0, &status) && (status == 0 || status == 1));
    check(plexa_array_live_count() == live + 1);
    check(plexa_rpc_open_count() == 0);

    const std::vector<std::string> left = names();
    if (status == 0) {
        const char *file = plexa_array_get_text(strings, 0);
        check(file != nullptr && left.size() == 1 && fs::path(left[0]) == fs::path(file));
        rpc3test::File rpc;
        check(rpc3test::read_file(file, rpc).empty());
        check(rpc.channels == tracks(ints));
    } else {
        check(left.empty());
    }
    plexa_reset();
    return 0;
}
