// Tables of cases kept as data in tests/data/cases: one case a line,
// fields separated by '|', each trimmed of spaces unless it stands in
// quotes; "\n" in a field is a line end, "\xHH" the byte HH; empty lines
// and lines starting with '#' are comments.
#ifndef SORVAN_TESTS_ANALYSIS_CASES_H
#define SORVAN_TESTS_ANALYSIS_CASES_H

#include "support/files.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <ostream>
#include <sstream>
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

inline std::vector<Case> read_cases(const std::string &name) {
    std::istringstream in(read_text(std::filesystem::path(SORVAN_TEST_DATA) / "cases" / name));
    std::vector<Case> cases;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        Case c{number, {}};
        std::istringstream fields(line);
        for (std::string f; std::getline(fields, f, '|');) {
            for (std::size_t at; (at = f.find("\\n")) != std::string::npos;)
                f.replace(at, 2, "\n");
            for (std::size_t at; (at = f.find("\\x")) != std::string::npos;)
                f.replace(at, 4, 1, static_cast<char>(std::stoi(f.substr(at + 2, 2), nullptr, 16)));
            const std::size_t first = f.find_first_not_of(' '), last = f.find_last_not_of(' ');
            f = first == std::string::npos ? "" : f.substr(first, last - first + 1);
            if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = f.substr(1, f.size() - 2);
            c.fields.push_back(f);
        }
        cases.push_back(c);
    }
    if (cases.empty()) ADD_FAILURE() << "no cases in " << name;
    return cases;
}

// A test's name for a case: its line and the start of its first two fields.
inline std::string case_name(const testing::TestParamInfo<Case> &info) {
    const std::vector<std::string> &f = info.param.fields;
    std::string name = "line" + std::to_string(info.param.line) + "_";
    for (char c : (f.empty() ? "" : f[0] + (f.size() > 1 ? " " + f[1] : "")).substr(0, 48))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

} // namespace sorvan::test

#endif
