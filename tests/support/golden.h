// The expected output files of tests/data/golden and the cases that produce
// them.
#ifndef SORVAN_TESTS_SUPPORT_GOLDEN_H
#define SORVAN_TESTS_SUPPORT_GOLDEN_H

#include "frame/host_api.h"
#include "support/files.h"

#include <cstdint>
#include <string>

namespace sorvan::test {

// "" when the text file equals the expected file of that name, line ends
// aside; otherwise the first line where they part.
std::string differs_from_golden_text(const std::string &file, const char *expected);

// "" when the file equals the expected file of that name byte for byte;
// otherwise the first byte where they part.
std::string differs_from_golden_bytes(const std::string &file, const char *expected);

// The bundled example, converted by KAVEL2PELDA_BDF_WRITE with the command
// object of example_command(): the expected file is "vehicle.bdf".
extern const char *const example_folder;

// Fills the stand-in host's database with a command object (type 64) whose
// unit objects name mm, N, megagram and s, and whose connecting values are
// given in the example's own units (mm, N, s). Returns the object.
ac_object example_command();

// The road profile of the expected file "road.rsp": two tracks, 401
// samples, seed and file date fixed.
struct RoadCase {
    double ga = 0.5, ge = 0.01, gs = 0.05, corr_length = 1.5, length = 100.0, interval = 0.25;
    int32_t nprofs = 2, seed = 2005;
    const char *label1 = "Left track";
    const char *label2 = "Right track";
    const char *date = "11-Jul-2005 23:46:29";
};

} // namespace sorvan::test

#endif
