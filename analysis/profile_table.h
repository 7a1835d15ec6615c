// Road profiles as CSV tables: the distance of each sample and one column
// of elevations per track, "distance_m,LABEL_mm,...", every number in the
// text that reads back exactly. Written by the road command and read back
// by the profile command.
#ifndef SORVAN_ANALYSIS_PROFILE_TABLE_H
#define SORVAN_ANALYSIS_PROFILE_TABLE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sorvan::analysis {

// Distance i x interval as the decimal it is: the interval's shortest text
// is m x 10^e exactly, so the distance is i m x 10^e, printed without the
// binary rounding of the product (0.3, not 0.30000000000000004). Intervals
// of more than nine digits, or with a positive exponent, fall back on the
// shortest text of the product.
class DistanceText {
  public:
    explicit DistanceText(double interval);
    std::string at(std::int64_t i) const;

  private:
    double interval_ = 0.0;
    unsigned long long mantissa_ = 0;
    int exponent_ = 0;
    bool exact_ = false;
};

// Millimetres per unit of a length unit label ("mm", "m", "cm", "km", "um",
// "in", "ft", case-blind, with the usual long names); 0 for a label that
// is not a length unit.
double millimetres_per(const std::string &unit);

// A profile table read back.
struct ProfileTable {
    std::string distance_unit;               // the first column's unit, "m" for our tables
    std::vector<std::string> labels, units;  // per elevation column, from LABEL_UNIT
    std::vector<double> distance;            // in distance_unit
    std::vector<std::vector<double>> values; // per column, in its unit
    double interval = 0.0;                   // in distance_unit: (last - first) / (rows - 1)
};

// Reads a table from its text; name stands for the file in messages. The
// first line names the columns: "distance_UNIT", then one "LABEL_UNIT" per
// track (a name without "_" has no unit). Every further line holds as many
// numbers, separated by commas; a line ending may be CRLF, and the last
// line may lack its line feed. The distances must rise by one spacing
// (that of the first two rows, within 10^-6 of it) from row to row. Returns
// false with error naming the file and the line at fault (and the field)
// for a table that breaks any of this or has fewer than two rows.
bool read_profile_table(const std::string &text, const std::string &name, ProfileTable &table,
                        std::string &error);

} // namespace sorvan::analysis

#endif
