// Unit labels and their conversion constants.
//
// A constant is the size of one unit in the base unit of its quantity:
// kilogram, newton, metre, second or radian. Every constant is stored as the
// literal it is known by (1000 x 4.44822161526 is not the double
// 4448.22161526), except the degree, which is worked out when asked for.
#include "model_input/units.h"

#include <cmath>
#include <cstring>

namespace {

struct unit_alias {
    const char *alias;
    const char *canonical;
};

struct unit_constant {
    const char *label;
    double value; // 0.0 marks the degree, computed by degree()
};

// Aliases in the order they are tried. The second "kgf" is a harmless repeat
// that the order keeps; every canonical label's lower-case form is here, which
// makes the canonical labels themselves case-blind.
const unit_alias aliases[] = {
    {"kilogram", "KILOGRAM"},
    {"kg", "KILOGRAM"},
    {"pound_mass", "POUND_MASS"},
    {"lbm", "POUND_MASS"},
    {"slug", "SLUG"},
    {"dozen_slug", "SLINCH"},
    {"slinch", "SLINCH"},
    {"gram", "GRAM"},
    {"ounce_mass", "OUNCE_MASS"},
    {"ozm", "OUNCE_MASS"},
    {"klbm", "KPOUND_MASS"},
    {"kpound_mass", "KPOUND_MASS"},
    {"mgg", "MEGAGRAM"},
    {"megagram", "MEGAGRAM"},
    {"newton", "NEWTON"},
    {"n", "NEWTON"},
    {"millinewton", "MILLINEWTON"},
    {"mn", "MILLINEWTON"},
    {"pound_force", "POUND_FORCE"},
    {"lbf", "POUND_FORCE"},
    {"kilogram_force", "KILOGRAM_FORCE"},
    {"kgf", "KILOGRAM_FORCE"},
    {"kg_force", "KILOGRAM_FORCE"},
    {"kgf", "KILOGRAM_FORCE"},
    {"ounce_force", "OUNCE_FORCE"},
    {"ozf", "OUNCE_FORCE"},
    {"dyne", "DYNE"},
    {"knewton", "KNEWTON"},
    {"kn", "KNEWTON"},
    {"kpound_force", "KPOUND_FORCE"},
    {"klbf", "KPOUND_FORCE"},
    {"kip", "KPOUND_FORCE"},
    {"kilometer", "KILOMETER"},
    {"km", "KILOMETER"},
    {"meter", "METER"},
    {"m", "METER"},
    {"centimeter", "CENTIMETER"},
    {"cm", "CENTIMETER"},
    {"millimeter", "MILLIMETER"},
    {"mm", "MILLIMETER"},
    {"mile", "MILE"},
    {"mi", "MILE"},
    {"foot", "FOOT"},
    {"ft", "FOOT"},
    {"inch", "INCH"},
    {"in", "INCH"},
    {"hour", "HOUR"},
    {"hr", "HOUR"},
    {"h", "HOUR"},
    {"minute", "MINUTE"},
    {"min", "MINUTE"},
    {"second", "SECOND"},
    {"sec", "SECOND"},
    {"s", "SECOND"},
    {"millisecond", "MILLISECOND"},
    {"millisec", "MILLISECOND"},
    {"ms", "MILLISECOND"},
    {"radians", "RADIAN"},
    {"radian", "RADIAN"},
    {"rad", "RADIAN"},
    {"degrees", "DEGREE"},
    {"degree", "DEGREE"},
    {"deg", "DEGREE"},
};
static_assert(sizeof aliases / sizeof aliases[0] == 63);

// Canonical labels by quantity: mass, force, length, time, angle.
const unit_constant constants[] = {
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
    {"DEGREE", 0.0},
};
static_assert(sizeof constants / sizeof constants[0] == 29);

// Radians per degree: pi times the double nearest 1/180.
double degree() {
    return std::acos(-1.0) * 0.005555555555555556;
}

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Same length, and equal character by character once a to z are upper case.
bool same_label(const char *a, const char *b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (upper(*a) != upper(*b)) return false;
    return *a == *b;
}

} // namespace

extern "C" void UNTalias(char *label) {
    if (label == nullptr) return;
    for (const unit_alias &a : aliases) {
        if (same_label(label, a.alias)) {
            std::memcpy(label, a.canonical, std::strlen(a.canonical) + 1);
            return;
        }
    }
}

extern "C" double UNTconstant(char *label) {
    if (label == nullptr) return 0.0;
    UNTalias(label);
    for (const unit_constant &c : constants)
        if (std::strcmp(label, c.label) == 0) return c.value != 0.0 ? c.value : degree();
    return 0.0;
}
