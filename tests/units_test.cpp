// Unit labels: the canonical constants, the aliases and the in-place rewrite.
#include "model_input/units.h"
#include "support/cases.h"
#include "support/unit_table.h"

#include <gtest/gtest.h>

#include <cctype>
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

// UNTconstant on a copy of text in a 32-byte buffer; *after gets the buffer.
double convert(const std::string &text, std::string *after = nullptr) {
    char buffer[32] = {};
    std::strncpy(buffer, text.c_str(), sizeof buffer - 1);
    const double c = UNTconstant(buffer);
    if (after != nullptr) *after = buffer;
    return c;
}

} // namespace

// Each canonical label and its aliases (tests/data/cases/units.txt), as
// written and in upper case: the label's constant, and the label in place.
TEST(UnitConstant, CanonicalLabelsAndEveryAliasInAnyCase) {
    std::string after;
    int labels = 0, aliases = 0;
    for (const sorvan::test::Case &c : sorvan::test::read_cases("units.txt")) {
        ASSERT_EQ(c.fields.size(), 2u);
        const std::string &label = c.fields[0];
        EXPECT_EQ(convert(label, &after), canonical.at(label)) << label;
        EXPECT_EQ(after, label);
        ++labels;
        std::istringstream list(c.fields[1]);
        for (std::string alias; list >> alias; ++aliases) {
            std::string upper = alias;
            for (char &ch : upper)
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            for (const std::string &spelling : {alias, upper}) {
                EXPECT_EQ(convert(spelling, &after), canonical.at(label)) << spelling;
                EXPECT_EQ(after, label) << spelling;
            }
        }
    }
    EXPECT_EQ(labels, 29);
    EXPECT_EQ(aliases, 62);
}

TEST(UnitAlias, RewritesOnlyUpToTheNewTerminator) {
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    std::memcpy(buffer, "in", 3);
    UNTalias(buffer);
    EXPECT_STREQ(buffer, "INCH");
    EXPECT_EQ(buffer[5], '#'); // past "INCH" and its terminator: untouched
}
