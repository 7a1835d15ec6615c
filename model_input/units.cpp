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

// Canonical labels by quantity: mass 0 to 7, force 8 to 15, length 16 to
// 22, time 23 to 26, angle 27 and 28.
const int quantity_start[] = {0, 8, 16, 23, 27, 29};
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

namespace sorvan::units {

namespace {

// The index of a canonical label in the table of constants; -1 if none.
int index_of(const char *canonical_label) {
    for (int k = 0; k < 29; ++k)
        if (std::strcmp(constants[k].label, canonical_label) == 0) return k;
    return -1;
}

} // namespace

std::string canonical(const std::string &label) {
    char buffer[UNT_LABEL_MIN_SIZE + 64] = "";
    if (label.size() >= sizeof buffer) return {};
    std::memcpy(buffer, label.c_str(), label.size() + 1);
    UNTalias(buffer);
    return index_of(buffer) >= 0 ? std::string(buffer) : std::string();
}

bool quantity_of(const std::string &label, Quantity *quantity) {
    const std::string name = canonical(label);
    if (name.empty()) return false;
    const int k = index_of(name.c_str());
    int q = 0;
    while (k >= quantity_start[q + 1])
        ++q;
    *quantity = static_cast<Quantity>(q);
    return true;
}

std::vector<std::string> accepted(Quantity quantity) {
    const int q = static_cast<int>(quantity);
    std::vector<std::string> labels;
    for (int k = quantity_start[q]; k < quantity_start[q + 1]; ++k)
        labels.emplace_back(constants[k].label);
    for (const unit_alias &a : aliases) {
        const int k = index_of(a.canonical);
        bool known = false;
        for (const std::string &l : labels)
            known = known || same_label(l.c_str(), a.alias);
        if (k >= quantity_start[q] && k < quantity_start[q + 1] && !known)
            labels.emplace_back(a.alias);
    }
    return labels;
}

bool nearest_label(double value, Quantity quantity, std::string &label, double &size) {
    const int q = static_cast<int>(quantity);
    double best = 6e-3;
    bool found = false;
    for (int k = quantity_start[q]; k < quantity_start[q + 1]; ++k) {
        const double c = constants[k].value == 0.0 ? degree() : constants[k].value;
        if (c > 0.0 && value > 0.0 && std::abs(std::log(c / value)) < best) {
            best = std::abs(std::log(c / value));
            label = constants[k].label;
            size = c;
            found = true;
        }
    }
    return found;
}

} // namespace sorvan::units
