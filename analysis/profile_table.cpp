// Profile tables: distances as exact decimals, and the table read back.
#include "analysis/profile_table.h"

#include "analysis/number_text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace sorvan::analysis {

namespace {

std::string lower(std::string text) {
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The fields of one line, split at commas.
std::vector<std::string> fields_of(const std::string &line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = line.find(',', start);
        fields.push_back(line.substr(start, comma - start));
        if (comma == std::string::npos) return fields;
        start = comma + 1;
    }
}

// A finite number, the whole field, spaces around it allowed.
bool number_of(const std::string &field, double &v) {
    std::size_t first = field.find_first_not_of(' ');
    if (first == std::string::npos) return false;
    std::size_t last = field.find_last_not_of(' ') + 1;
    const char *p = field.data() + first, *end = field.data() + last;
    if (*p == '+') ++p;
    auto [stop, ec] = std::from_chars(p, end, v);
    return p != end && ec == std::errc() && stop == end && std::isfinite(v);
}

// "LABEL_UNIT" split at its last '_'.
void split_name(const std::string &name, std::string &label, std::string &unit) {
    std::size_t bar = name.rfind('_');
    label = bar == std::string::npos ? name : name.substr(0, bar);
    unit = bar == std::string::npos ? std::string() : name.substr(bar + 1);
}

} // namespace

DistanceText::DistanceText(double interval) : interval_(interval) {
    const std::string text = shortest(interval);
    const std::size_t e = text.find_first_of("eE");
    std::string digits = text.substr(0, e);
    exponent_ = e == std::string::npos ? 0 : std::atoi(text.c_str() + e + 1);
    const std::size_t point = digits.find('.');
    if (point != std::string::npos) {
        exponent_ -= static_cast<int>(digits.size() - point - 1);
        digits.erase(point, 1);
    }
    exact_ = std::isfinite(interval) && interval > 0.0 && digits.size() <= 9 &&
             digits.find_first_not_of("0123456789") == std::string::npos && exponent_ >= -18 &&
             exponent_ <= 0;
    mantissa_ = exact_ ? std::strtoull(digits.c_str(), nullptr, 10) : 0;
}

std::string DistanceText::at(std::int64_t i) const {
    if (!exact_ || i < 0) return shortest(static_cast<double>(i) * interval_);
    std::string d = std::to_string(mantissa_ * static_cast<unsigned long long>(i));
    const std::size_t places = static_cast<std::size_t>(-exponent_);
    if (places == 0) return d;
    if (d.size() <= places) d.insert(0, places - d.size() + 1, '0');
    d.insert(d.size() - places, ".");
    while (d.back() == '0')
        d.pop_back();
    if (d.back() == '.') d.pop_back();
    return d;
}

double millimetres_per(const std::string &unit) {
    static const struct {
        const char *name;
        double mm;
    } units[] = {{"mm", 1.0},      {"millimeter", 1.0},  {"millimetre", 1.0},
                 {"m", 1000.0},    {"meter", 1000.0},    {"metre", 1000.0},
                 {"cm", 10.0},     {"centimeter", 10.0}, {"centimetre", 10.0},
                 {"km", 1e6},      {"kilometer", 1e6},   {"kilometre", 1e6},
                 {"um", 1e-3},     {"micrometer", 1e-3}, {"micrometre", 1e-3},
                 {"micron", 1e-3}, {"in", 25.4},         {"inch", 25.4},
                 {"ft", 304.8},    {"foot", 304.8},      {"feet", 304.8}};
    const std::string u = lower(unit);
    for (const auto &entry : units)
        if (u == entry.name) return entry.mm;
    return 0.0;
}

bool read_profile_table(const std::string &text, const std::string &name, ProfileTable &table,
                        std::string &error) {
    table = ProfileTable();
    std::size_t at = 0, line_number = 0;
    std::size_t columns = 0;
    auto fail = [&](const std::string &why) {
        error = name + ": line " + std::to_string(line_number) + ": " + why;
        return false;
    };
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? end : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        ++line_number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos) return fail("a NUL byte: not a text table");
        std::vector<std::string> fields = fields_of(line);
        if (line_number == 1) {
            std::string label;
            split_name(fields[0], label, table.distance_unit);
            if (lower(label) != "distance")
                return fail("the first column is \"" + fields[0] +
                            "\", not the distance (distance_m)");
            if (fields.size() < 2) return fail("no column of elevations after the distance");
            for (std::size_t k = 1; k < fields.size(); ++k) {
                std::string unit;
                split_name(fields[k], label, unit);
                if (label.empty()) return fail("column " + std::to_string(k + 1) + " has no name");
                table.labels.push_back(label);
                table.units.push_back(unit);
            }
            columns = fields.size();
            table.values.assign(columns - 1, {});
            continue;
        }
        if (line.empty())
            return fail("an empty line where a row of " + std::to_string(columns) +
                        " numbers belongs");
        if (fields.size() != columns)
            return fail(std::to_string(fields.size()) + " fields, the header names " +
                        std::to_string(columns));
        for (std::size_t k = 0; k < columns; ++k) {
            double v = 0.0;
            if (!number_of(fields[k], v))
                return fail("field " + std::to_string(k + 1) + " \"" + fields[k] +
                            "\" is not a finite number");
            if (k == 0)
                table.distance.push_back(v);
            else
                table.values[k - 1].push_back(v);
        }
        const std::vector<double> &x = table.distance;
        const std::size_t n = x.size();
        if (n == 2 && !(x[1] > x[0]))
            return fail("the distance " + fields[0] + " does not rise from the row before");
        if (n > 2) {
            const double spacing = x[1] - x[0];
            const double step = x[n - 1] - x[n - 2];
            // Both distances are decimals read back to the nearest double:
            // their difference is off by a few units in the last place of
            // the larger one, far less than the tolerance.
            if (!(std::fabs(step - spacing) <= 1e-6 * spacing))
                return fail("the distance " + fields[0] + " is " + shortest(step) +
                            " after the one before, not the spacing " + shortest(spacing) +
                            " of the first two rows: the samples are not evenly spaced");
        }
    }
    if (line_number == 0) {
        error = name + ": empty, no header line";
        return false;
    }
    if (table.distance.size() < 2) {
        error = name + ": " + std::to_string(table.distance.size()) +
                " row(s) of samples; a profile needs at least 2";
        return false;
    }
    const std::size_t n = table.distance.size();
    table.interval = (table.distance[n - 1] - table.distance[0]) / static_cast<double>(n - 1);
    return true;
}

} // namespace sorvan::analysis
