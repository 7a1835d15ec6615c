// Tables of cases kept as data in tests/data/cases, read by one reader: one
// case a line, fields separated by '|' and trimmed of blanks; empty lines
// and lines starting with '#' are comments. A field standing in quotes
// keeps its spaces. Escapes, in every field:
//   \n \r \t \0 \xHH          the character
//   \\ \| \; \"               the character ('|' and ';' then separate
//                             nothing, '"' groups nothing)
//   \(N*TEXT)                 TEXT N times
//   \(garbage N)              N bytes that are no text
//   \(file NAME)              the bytes of a file
//   \(pad TEXT)               TEXT right-aligned in 25 characters
// Any other backslash stays as written, so patterns keep theirs.
#ifndef SORVAN_TESTS_SUPPORT_CASES_H
#define SORVAN_TESTS_SUPPORT_CASES_H

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace sorvan::test {

// A case: its line in the file and its fields.
struct Case {
    int line = 0;
    std::vector<std::string> fields;
};

inline void PrintTo(const Case &c, std::ostream *os) {
    *os << "line " << c.line << ": " << (c.fields.empty() ? "" : c.fields[0]);
}

// text: each field decoded, out of its quotes; raw: each field only
// trimmed, for a runner that splits it further (and decodes the parts).
enum class Fields { text, raw };

// The cases of tests/data/cases/NAME; none is a test failure.
std::vector<Case> read_cases(const std::string &name, Fields fields = Fields::text);

// A test's name for a case: its line and the start of its first two fields.
std::string case_name(const testing::TestParamInfo<Case> &info);

// The escapes above worked out.
std::string decode(const std::string &text);

// Splits raw text at the separator where no backslash escapes it and no
// \( ) holds it; with quotes, "..." groups too (kept or taken out). Blanks
// as the separator split words: runs of blanks and tabs count as one.
enum class Quotes { plain, kept, out };
std::vector<std::string> split(const std::string &raw, char separator, Quotes quotes);

// Without blanks and tabs at either end.
std::string trim(const std::string &s);

} // namespace sorvan::test

#endif
