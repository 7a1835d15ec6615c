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

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using sorvan::fuzz::check;

// The canonical labels and the constants they stand for.
struct canonical {
    const char *label;
    double value;
};
const canonical table[] = {
    {"KILOGRAM", 1.0},
    {"POUND_MASS", 0.45359237},
    {"SLUG", 14.5939029372},
    {"SLINCH", 175.1271524},
    {"GRAM", 0.001},
    {"OUNCE_MASS", 0.02834952},
    {"KPOUND_MASS", 453.59237},
    {"MEGAGRAM", 1000.0},
    {"NEWTON", 1.0},
    {"POUND_FORCE", 4.44822161526},
    {"KILOGRAM_FORCE", 9.80665},
    {"OUNCE_FORCE", 0.2780139},
    {"DYNE", 0.00001},
    {"MILLINEWTON", 0.001},
    {"KNEWTON", 1000.0},
    {"KPOUND_FORCE", 4448.22161526},
    {"KILOMETER", 1000.0},
    {"METER", 1.0},
    {"CENTIMETER", 0.01},
    {"MILLIMETER", 0.001},
    {"MILE", 1609.344},
    {"FOOT", 0.3048},
    {"INCH", 0.0254},
    {"HOUR", 3600.0},
    {"MINUTE", 60.0},
    {"SECOND", 1.0},
    {"MILLISECOND", 0.001},
    {"RADIAN", 1.0},
    {"DEGREE", 0.017453292519943295},
};

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
