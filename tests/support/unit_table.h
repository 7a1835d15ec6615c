// The unit vocabulary as the tests know it: the 29 canonical labels with
// the constants they are known by (written out here, not taken from the
// library under test).
#ifndef SORVAN_TESTS_SUPPORT_UNIT_TABLE_H
#define SORVAN_TESTS_SUPPORT_UNIT_TABLE_H

namespace sorvan::test {

struct CanonicalUnit {
    const char *label;
    double value;
};

inline constexpr CanonicalUnit canonical_units[] = {
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

} // namespace sorvan::test

#endif
