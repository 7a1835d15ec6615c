// Fuzzes a whole conversion: a MAP file and an ABC set taken from the input
// go through kavel2pelda and through the host command kavel2pelda_full of
// the stand-in host.
//
// Input layout: one byte of options, then the MAP file and the files "a" to
// "d", separated by lines "~~~~" (a part that is not there is a missing
// file). Options, bit by bit: 0-1 the export length unit, 2 the time unit,
// 3 the threshold, 4-5 the wheel divisions, 6-7 the connecting values.
//
// What must hold: the result is one of the documented codes; a success
// leaves exactly one new file, the BDF, and the library's deck reader takes
// it (every card in its columns and fields, every point it names declared);
// a failure leaves the folder as it was; the inputs are never changed.
#include "fuzz_support.h"
#include "support/host_objects.h"

#include "analysis/deck.h"
#include "host/plexa_setup.h"
#include "sorvan_view.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using sorvan::fuzz::check;

fs::path scratch; // one folder per fuzzer process

const char *const files[5] = {"m.map", "m_a", "m_b", "m_c", "m_d"};
const char *const length_labels[4] = {"m", "mm", "in", "furlong"};

std::map<std::string, std::string> folder() {
    std::map<std::string, std::string> content;
    for (const auto &entry : fs::directory_iterator(scratch)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        content[entry.path().filename().string()] = s.str();
    }
    return content;
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

void write_parts(std::string_view rest) {
    constexpr std::string_view separator = "\n~~~~\n";
    for (const char *name : files) {
        if (rest.data() == nullptr) break;
        const size_t at = rest.find(separator);
        std::ofstream(name, std::ios::binary) << rest.substr(0, at);
        rest =
            at == std::string_view::npos ? std::string_view() : rest.substr(at + separator.size());
    }
}

// The host database of one call: the command object, its unit folder with
// four unit objects, and the eight values of attribute 505.
ac_object command_object(uint8_t options) {
    plexa_reset();
    const char *labels[4] = {length_labels[options & 3], "N", "kg", "s"};
    const double inf = std::numeric_limits<double>::infinity();
    const double connecting[4][4] = {{1e9, 1e6, 1e6, 1e4},
                                     {0.0, -1.0, 1e-300, -0.0},
                                     {1e300, inf, -inf, 1e30},
                                     {std::nan(""), 1.0, 1.0, 1.0}};
    double values[8] = {1, 2, 3, 4};
    for (int k = 0; k < 4; ++k)
        values[4 + k] = connecting[options >> 6][k];
    return sorvan::test::command_object(labels, values, 8);
}

void set_parameters(uint8_t options) {
    thresh = (options & 8) ? 0.0 : 1e-9;
    const int32_t divisions[4] = {24, 1, 0, INT32_MAX};
    whl_dv = divisions[(options >> 4) & 3];
}

// Checks the outcome of one entry against the folder as it was before.
void check_outcome(int32_t rc, int32_t lowest, const std::map<std::string, std::string> &before) {
    check(rc == 1 || (rc <= -1 && rc >= lowest));
    std::map<std::string, std::string> after = folder();
    if (rc == 1) {
        auto bdf = after.find("m.bdf");
        check(bdf != after.end());
        sorvan::analysis::Deck deck;
        std::string error;
        const bool read = sorvan::analysis::read_deck_text(bdf->second, "m.bdf", deck, error);
        if (!read) std::fprintf(stderr, "%s\n", error.c_str());
        check(read);
        after.erase(bdf);
        fs::remove(scratch / "m.bdf");
    }
    check(after == before);
}

} // namespace

// A MAP file may declare counts of up to 2^31 - 1 records, whose arrays the
// record allocates before the tables are read. Such an allocation fails
// with NULL here, as it does outside the sanitizer, so that the converter's
// out-of-memory path is what gets fuzzed; allocations beyond 1 GiB are
// refused the same way, which keeps the fuzzer within its memory limit.
extern "C" const char *__asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The converter's messages would flood the fuzzer's output.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    scratch = fs::temp_directory_path() / ("sorvan_fuzz_convert_" + std::to_string(getpid()));
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    sorvan::test::SavedParameters saved;
    InScratch here;
    const uint8_t options = data[0];
    for (const auto &entry : fs::directory_iterator(scratch))
        fs::remove_all(entry.path());
    write_parts(std::string_view(reinterpret_cast<const char *>(data) + 1, size - 1));
    set_parameters(options);
    const std::map<std::string, std::string> before = folder();

    char lu[64], fu[64] = "N", mu[64] = "kg";
    std::snprintf(lu, sizeof lu, "%s", length_labels[options & 3]);
    const int32_t plain = kavel2pelda(files[0], "m_", lu, fu, mu, (options & 4) ? '0' : '1');
    check_outcome(plain, -6, before);

    ac_object obj = command_object(options);
    const int32_t full = kavel2pelda_full(obj, files[0], "m_");
    check_outcome(full, -8, before);
    plexa_reset();
    return 0;
}
