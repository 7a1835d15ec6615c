// Expected output files and the cases that produce them; see golden.h.
#include "support/golden.h"

#include "host/plexa_setup.h"
#include "support/files.h"

#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace sorvan::test {

namespace {

std::string golden_file(const char *name) {
    return (fs::path(SORVAN_TEST_DATA) / "golden" / name).string();
}

// The first line where two texts part, numbered from 1.
std::string first_difference(const std::string &got, const std::string &want) {
    std::istringstream g(got), w(want);
    std::string gl, wl;
    for (int line = 1;; ++line) {
        bool more_g = static_cast<bool>(std::getline(g, gl));
        bool more_w = static_cast<bool>(std::getline(w, wl));
        if (!more_g && !more_w) return "the last line break";
        if (!more_g || !more_w || gl != wl)
            return "line " + std::to_string(line) + ":\n  got:  " + (more_g ? gl : "<end>") +
                   "\n  want: " + (more_w ? wl : "<end>");
    }
}

} // namespace

std::string differs_from_golden_text(const std::string &file, const char *expected) {
    const std::string want = read_text(golden_file(expected));
    if (want.empty()) return "no expected file " + golden_file(expected);
    if (!fs::exists(file)) return "no file " + file;
    const std::string got = read_text(file);
    if (got == want) return "";
    return file + " differs from " + golden_file(expected) + " at " + first_difference(got, want);
}

std::string differs_from_golden_bytes(const std::string &file, const char *expected) {
    const std::string want = read_bytes(golden_file(expected));
    if (want.empty()) return "no expected file " + golden_file(expected);
    if (!fs::exists(file)) return "no file " + file;
    const std::string got = read_bytes(file);
    if (got == want) return "";
    size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at])
        ++at;
    return file + " (" + std::to_string(got.size()) + " bytes) differs from " +
           golden_file(expected) + " (" + std::to_string(want.size()) + " bytes) at byte " +
           std::to_string(at);
}

const char *const example_folder = SORVAN_EXAMPLES "/vehicle";

ac_object example_command() {
    ac_object command = plexa_object_create(64, nullptr);
    ac_object units = plexa_object_create(1, nullptr);
    plexa_set_object(command, 10, units);
    const char *labels[] = {"mm", "N", "mgg", "s"};
    for (int k = 0; k < 4; ++k) {
        ac_object unit = plexa_object_create(66, units);
        plexa_set_int(unit, 11, 101 + k);
        plexa_set_string(unit, 518, labels[k]);
    }
    // Unit object identifiers, then stiffness N/mm, damping N*s/mm,
    // torsional stiffness N*mm/rad and torsional damping N*mm*s/rad.
    const double values[] = {101, 102, 103, 104, 2.5e5, 1.2e3, 7.5e8, 3.3e6};
    plexa_set_reals(command, 505, values, 8);
    return command;
}

} // namespace sorvan::test
