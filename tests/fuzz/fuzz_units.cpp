// Fuzzes the unit labels: UNTconstant on the input as a label in a buffer
// of exactly the size it needs (at least the 15 bytes the callers promise),
// and the MAP units section reader on the input as the section's body.
//
// A label is either recognised, with a constant of the table and its
// canonical text in the buffer, or refused with 0.0 and the buffer as it
// was; nothing is ever written past the buffer (the sanitizers see it).
#include "fuzz_support.h"
#include "model_input/map.h"
#include "model_input/units.h"
#include "support/unit_table.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using sorvan::fuzz::check;

using canonical = sorvan::test::CanonicalUnit;
constexpr const auto &table = sorvan::test::canonical_units;

void fuzz_label(const uint8_t *data, size_t size) {
    // The label is the input up to its first NUL; the buffer holds the
    // input whole, so the bytes after that NUL are there to be left alone.
    const size_t room = size + 1 < UNT_LABEL_MIN_SIZE ? UNT_LABEL_MIN_SIZE : size + 1;
    std::vector<char> before(room, '\0');
    std::memcpy(before.data(), data, size);
    char *label = static_cast<char *>(std::malloc(room)); // exact size: ASan guards its end
    check(label != nullptr);
    std::memcpy(label, before.data(), room);
    const double value = UNTconstant(label);
    if (value == 0.0) {
        check(std::memcmp(label, before.data(), room) == 0);
    } else {
        bool known = false;
        for (const canonical &c : table)
            if (std::strcmp(label, c.label) == 0) {
                check(value == c.value);
                known = true;
            }
        check(known);
        // Only the canonical label and its terminator were written.
        const size_t n = std::strlen(label) + 1;
        check(std::memcmp(label + n, before.data() + n, room - n) == 0);
    }
    std::free(label);
}

void fuzz_section(const uint8_t *data, size_t size) {
    std::string text = "[UNITS]\n";
    text.append(reinterpret_cast<const char *>(data), size);
    FILE *file = fmemopen(text.data(), text.size(), "r");
    if (file == nullptr) return;
    MAPmodel *map = static_cast<MAPmodel *>(std::calloc(1, sizeof(MAPmodel)));
    check(map != nullptr);
    if (MAPread_unit(map, file) == MAP_OK) {
        // Every constant the reader set is one of the table's.
        for (double v :
             {map->unit_length, map->unit_angle, map->unit_force, map->unit_mass, map->unit_time}) {
            bool known = v == 0.0;
            for (const canonical &c : table)
                known = known || v == c.value;
            check(known);
        }
        MAPfree(map);
    }
    std::fclose(file);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The readers' messages would flood the fuzzer's output.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_label(data, size);
    fuzz_section(data, size);
    return 0;
}
