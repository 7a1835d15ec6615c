// Unit labels: the canonical constants, the aliases and the in-place rewrite.
#include "model_input/units.h"
#include "support/unit_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

namespace {

// The 29 canonical labels with the constants they are known by.
const std::map<std::string, double> canonical = [] {
    std::map<std::string, double> m;
    for (const sorvan::test::CanonicalUnit &u : sorvan::test::canonical_units)
        m[u.label] = u.value;
    return m;
}();

// Every alias, as "alias=CANONICAL".
const char *const aliases =
    "kilogram=KILOGRAM kg=KILOGRAM pound_mass=POUND_MASS lbm=POUND_MASS slug=SLUG "
    "dozen_slug=SLINCH slinch=SLINCH gram=GRAM ounce_mass=OUNCE_MASS ozm=OUNCE_MASS "
    "klbm=KPOUND_MASS kpound_mass=KPOUND_MASS mgg=MEGAGRAM megagram=MEGAGRAM newton=NEWTON "
    "n=NEWTON millinewton=MILLINEWTON mn=MILLINEWTON pound_force=POUND_FORCE lbf=POUND_FORCE "
    "kilogram_force=KILOGRAM_FORCE kgf=KILOGRAM_FORCE kg_force=KILOGRAM_FORCE "
    "ounce_force=OUNCE_FORCE ozf=OUNCE_FORCE dyne=DYNE knewton=KNEWTON kn=KNEWTON "
    "kpound_force=KPOUND_FORCE klbf=KPOUND_FORCE kip=KPOUND_FORCE kilometer=KILOMETER "
    "km=KILOMETER meter=METER m=METER centimeter=CENTIMETER cm=CENTIMETER "
    "millimeter=MILLIMETER mm=MILLIMETER mile=MILE mi=MILE foot=FOOT ft=FOOT inch=INCH in=INCH "
    "hour=HOUR hr=HOUR h=HOUR minute=MINUTE min=MINUTE second=SECOND sec=SECOND s=SECOND "
    "millisecond=MILLISECOND millisec=MILLISECOND ms=MILLISECOND radians=RADIAN radian=RADIAN "
    "rad=RADIAN degrees=DEGREE degree=DEGREE deg=DEGREE";

// UNTconstant on a copy of text in a 32-byte buffer; *after gets the buffer.
double convert(const std::string &text, std::string *after = nullptr) {
    char buffer[32] = {};
    std::strncpy(buffer, text.c_str(), sizeof buffer - 1);
    const double c = UNTconstant(buffer);
    if (after != nullptr) *after = buffer;
    return c;
}

} // namespace

TEST(UnitConstant, CanonicalLabelsAndEveryAliasInAnyCase) {
    std::string after;
    for (const auto &[label, constant] : canonical) {
        EXPECT_EQ(convert(label, &after), constant) << label;
        EXPECT_EQ(after, label);
    }
    std::istringstream list(aliases);
    std::string entry;
    int count = 0;
    for (; list >> entry; ++count) {
        const std::string alias = entry.substr(0, entry.find('='));
        const std::string label = entry.substr(entry.find('=') + 1);
        std::string upper = alias;
        for (char &ch : upper)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        for (const std::string &spelling : {alias, upper}) {
            EXPECT_EQ(convert(spelling, &after), canonical.at(label)) << spelling;
            EXPECT_EQ(after, label) << spelling;
        }
    }
    EXPECT_EQ(count, 62); // the 63 entries less the repeated kgf
}

TEST(UnitConstant, StatedExamples) {
    std::string after;
    for (const char *mm : {"mm", "MM", "Millimeter", "MILLIMETER"}) {
        EXPECT_EQ(convert(mm, &after), 0.001) << mm;
        EXPECT_EQ(after, "MILLIMETER");
    }
    // MN as millinewton and SLINCH's own constant: the table of the test above.
    EXPECT_EQ(convert("DEGREE"), std::acos(-1.0) * 0.005555555555555556);
    EXPECT_EQ(UNTconstant(nullptr), 0.0); // labels nobody knows: the catalogue of bad input
}

TEST(UnitAlias, RewritesOnlyUpToTheNewTerminator) {
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    std::memcpy(buffer, "in", 3);
    UNTalias(buffer);
    EXPECT_STREQ(buffer, "INCH");
    EXPECT_EQ(buffer[5], '#'); // past "INCH" and its terminator: untouched
    UNTalias(nullptr);
}
