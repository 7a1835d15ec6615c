// The bulk data file the converter writes, read back: its extra points, TF
// cards, DMIG matrix and graphic cards, with the units its header names.
// Only the cards and layouts the converter prints are taken: small-field
// cards in 8-character fields (EPOINT, TF, PLOTEL, RBE2, DMIG) and
// large-field cards in 16-character fields with "*" continuation lines
// (GRID*, CORD2R*, and TF*, DMIG* when the converter wrote large fields).
// A large-field card takes two lines for each line of its small-field
// form: a TF* card "TF*" SID GD CD B0, "*" B1 B2, then per term "*" GI CI
// A0 A1 and "*" A2; a DMIG* entry "DMIG*" NAME GJ CJ and "*" GI CI A; a
// DMIG* header "DMIG*" NAME 0 IFO TIN alone. Both forms give the same
// records. Anything else is refused with the file and the line, a large
// card cut short among it.
#ifndef SORVAN_ANALYSIS_DECK_H
#define SORVAN_ANALYSIS_DECK_H

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sorvan::analysis {

// Every record keeps the line (from 1) its card starts on.

// An extra point, or a range of them: "EPOINT P" or "EPOINT P THRU Q".
// A range whose last point is one before its first declares none.
struct EpointCard {
    int line;
    int32_t first, last;
};

// One continuation line of a TF card: (a0 + a1 p + a2 p^2) u(point), p the
// time derivative.
struct TfTerm {
    int line;
    int32_t point, component;
    double a0, a1, a2;
};

// (b0 + b1 p + b2 p^2) u(point) + the sum of the terms = 0, in set `set`.
struct TfCard {
    int line;
    int32_t set, point, component;
    double b0, b1, b2;
    std::vector<TfTerm> terms;
    bool large = false; // TF*: its reals in 16-character fields
};

struct GridCard {
    int line;
    int32_t id, cp;
    std::array<double, 3> x;
    int32_t cd;
};

struct PlotelCard {
    int line;
    int32_t id, grid1, grid2;
};

// A rectangular system: origin a, b on its z axis, c in its x-z plane.
struct Cord2rCard {
    int line;
    int32_t id, rid;
    std::array<double, 3> a, b, c;
};

struct Rbe2Card {
    int line;
    int32_t id, independent, components;
    std::vector<int32_t> dependent;
};

// The header card of a DMIG matrix: its name, the form and the entry type.
struct DmigHeader {
    int line;
    std::string name;
    int32_t form, type;
};

// One term of a DMIG matrix: row (point, component) of column (point,
// component).
struct DmigEntry {
    int line;
    std::string name;
    int32_t column_point, column_component;
    int32_t row_point, row_component;
    double value;
    bool large = false; // DMIG*: the value in a 16-character field
};

// What the header comment says; the labels are "" and the has_ flags false
// when the header does not say it.
struct DeckHeader {
    std::string length_unit, force_unit, mass_unit, time_unit;
    bool has_set = false;
    int32_t set = 0; // the set of the TF cards
    bool has_threshold = false;
    double threshold = 0.0; // terms below it were left out
    bool has_wheel_divisions = false;
    int32_t wheel_divisions = 0;
    // The connecting stiffness, damping, torsional stiffness and torsional
    // damping in SI units (N/m, N*s/m, N*m/rad, N*m*s/rad), as printed.
    std::array<bool, 4> has_connecting{};
    std::array<double, 4> connecting{};
};

struct Deck {
    std::string file; // as given to the reader, for messages
    DeckHeader header;
    std::vector<EpointCard> epoints;
    std::vector<TfCard> tfs;
    std::vector<GridCard> grids;
    std::vector<PlotelCard> plotels;
    std::vector<Cord2rCard> cord2rs;
    std::vector<Rbe2Card> rbe2s;
    std::vector<DmigHeader> dmig_headers;
    std::vector<DmigEntry> dmig_entries;
};

// Reads the file whole into deck. On a refusal returns false, leaves deck
// empty and sets error to "FILE, line N: reason" (or "FILE: reason").
//
// Besides the layout of each card the reader checks that the deck holds
// together: no point is declared twice (GRID and EPOINT share one numbering),
// nor an element (PLOTEL, RBE2) or a coordinate system; the systems a GRID
// names exist; PLOTEL, RBE2 and DMIG name points of the deck, with component 0
// for an extra point and 1 to 6 for a GRID; a TF point of component 0 is a
// declared extra point (points of other components belong to the structure
// the deck is joined to and are not looked up); a DMIG entry follows the
// header of its matrix.
//
// A file that is not a regular file, or larger than deck_file_max, is
// refused before it is read.
bool read_deck(const std::string &file, Deck &deck, std::string &error);

// The largest deck read: a dense model of 3,000 states makes one of about
// 480 MB, and the reader holds the whole text in memory.
constexpr std::uint64_t deck_file_max = std::uint64_t{4} << 30; // 4 GiB

// The same from text in memory; name stands for the file in messages.
bool read_deck_text(const std::string &text, const std::string &name, Deck &deck,
                    std::string &error);

// Reads one real field as the converter prints it: the short form of a
// mantissa with the exponent's "E" left out (" 1.000+9", "-2.50-3",
// "1.234567890123+5"), a plain
// decimal (" -1.0000", ".5000") or scientific notation ("1.968504E+01"),
// blanks around it. The value is the double nearest to the decimal number
// the text spells. False for anything else, a number without a decimal
// point included.
bool parse_real_field(std::string_view field, double &value);

} // namespace sorvan::analysis

#endif
