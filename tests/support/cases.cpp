#include "support/cases.h"

#include "support/files.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <sstream>

namespace sorvan::test {

namespace {

// The end of the \( ) whose "(" is text[at], just past its ")".
size_t macro_end(const std::string &text, size_t at) {
    int depth = 0;
    for (size_t i = at; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == '(') {
            ++depth;
        } else if (text[i] == ')' && --depth == 0) {
            return i + 1;
        }
    }
    ADD_FAILURE() << "unclosed \\( in " << text;
    return text.size();
}

// Bytes that are no text: NULs and the upper half, no spaces, no line ends.
std::string garbage(size_t n) {
    std::string g;
    uint32_t x = 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        g += static_cast<char>((x >> 16) % 7 == 0 ? 0 : 0x80 | ((x >> 16) & 0x7f));
    }
    return g;
}

// What \(INNER) stands for.
std::string expand(const std::string &inner) {
    const size_t star = inner.find('*');
    if (star != std::string::npos && star > 0 && inner.find_first_not_of("0123456789") == star) {
        const std::string unit = decode(inner.substr(star + 1));
        std::string out;
        for (long n = std::stol(inner.substr(0, star)); n > 0; --n)
            out += unit;
        return out;
    }
    const size_t space = inner.find(' ');
    const std::string word = inner.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : decode(inner.substr(space + 1));
    if (word == "garbage") return garbage(std::stoul(rest));
    if (word == "file") return read_bytes(rest);
    if (word == "pad") return std::string(25 - std::min<size_t>(25, rest.size()), ' ') + rest;
    ADD_FAILURE() << "unknown macro " << inner;
    return "";
}

int hex(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

} // namespace

std::string decode(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'n') {
            out += '\n';
        } else if (c == 'r') {
            out += '\r';
        } else if (c == 't') {
            out += '\t';
        } else if (c == '0') {
            out += '\0';
        } else if (c == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else if (c == '(') {
            const size_t end = macro_end(text, i);
            out += expand(text.substr(i + 1, end - i - 2));
            i = end - 1;
        } else if (c == '\\' || c == '|' || c == ';' || c == '"') {
            out += c;
        } else {
            out += text.substr(i - 1, 2);
        }
    }
    return out;
}

std::vector<std::string> split(const std::string &raw, char separator, Quotes quotes) {
    const bool words = separator == ' ';
    std::vector<std::string> parts;
    std::string part;
    bool quoted = false, open = !words;
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (!quoted && (c == separator || (words && c == '\t'))) {
            if (open) parts.push_back(part);
            part.clear();
            open = !words;
            continue;
        }
        open = true;
        if (c == '\\' && i + 1 < raw.size()) {
            const size_t end = raw[i + 1] == '(' ? macro_end(raw, i + 1) : i + 2;
            part += raw.substr(i, end - i);
            i = end - 1;
        } else if (quotes != Quotes::plain && c == '"') {
            quoted = !quoted;
            if (quotes == Quotes::kept) part += c;
        } else {
            part += c;
        }
    }
    if (open) parts.push_back(part);
    return parts;
}

std::string trim(const std::string &s) {
    const size_t b = s.find_first_not_of(" \t");
    return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::vector<Case> read_cases(const std::string &name, Fields fields) {
    std::istringstream in(read_bytes(std::filesystem::path(SORVAN_TEST_DATA) / "cases" / name));
    std::vector<Case> cases;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (trim(line).empty() || trim(line)[0] == '#') continue;
        Case c{number, split(line, '|', Quotes::plain)};
        for (std::string &f : c.fields) {
            f = trim(f);
            if (fields == Fields::raw) continue;
            if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = f.substr(1, f.size() - 2);
            f = decode(f);
        }
        cases.push_back(c);
    }
    if (cases.empty()) ADD_FAILURE() << "no cases in " << name;
    return cases;
}

std::string case_name(const testing::TestParamInfo<Case> &info) {
    const std::vector<std::string> &f = info.param.fields;
    std::string name = "line" + std::to_string(info.param.line) + "_";
    for (char c : (f.empty() ? "" : f[0] + (f.size() > 1 ? " " + f[1] : "")).substr(0, 48))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

} // namespace sorvan::test
