// Reading the converter's bulk data back, card by card, and checking that
// what it read holds together.
#include "analysis/deck.h"

#include "frame/file_identity.h"
#include "model_input/decimal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>
#include <map>
#include <string_view>

namespace sorvan::analysis {

namespace {

// Fields: the card name takes the first 8 columns; small-field data fields
// are 8 wide (fields 2 to 9), large-field data fields 16 (fields 2 to 5).
// Either way the data end at column 72; only blanks may follow.
constexpr size_t name_width = 8;
constexpr size_t small_width = 8;
constexpr size_t large_width = 16;
constexpr size_t data_end = 72;
constexpr int small_fields = 9;
constexpr int large_fields = 5;

// Dependent points on the first line of an RBE2 card (after its identifier,
// independent point and components) and on each continuation line.
constexpr int rbe2_first_points = 5;
constexpr int rbe2_line_points = 8;

// Longest text a real field holds: a field is at most 16 characters.
constexpr size_t longest_number = large_width;

std::string_view trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ')
        ++b;
    while (e > b && s[e - 1] == ' ')
        --e;
    return s.substr(b, e - b);
}

bool all_digits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// An optional sign and decimal digits, within 32 bits.
bool parse_int(std::string_view text, int32_t &value) {
    std::string_view t = trim(text);
    if (!t.empty() && t[0] == '+') {
        t.remove_prefix(1);
        if (!all_digits(t)) return false;
    }
    if (!all_digits(!t.empty() && t[0] == '-' ? t.substr(1) : t)) return false;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    return ec == std::errc() && end == t.data() + t.size();
}

// Splits a real's text into its sign, its mantissa (digits with one point)
// and its exponent (sign and digits; "" when there is none).
struct RealParts {
    bool negative = false;
    std::string_view mantissa, exponent;
};

bool split_real(std::string_view t, RealParts &p) {
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        p.negative = t[0] == '-';
        t.remove_prefix(1);
    }
    size_t k = 0, digits = 0, points = 0;
    for (; k < t.size(); ++k) {
        if (t[k] >= '0' && t[k] <= '9')
            ++digits;
        else if (t[k] == '.')
            ++points;
        else
            break;
    }
    if (digits == 0 || points != 1) return false;
    p.mantissa = t.substr(0, k);
    std::string_view rest = t.substr(k);
    if (!rest.empty() && (rest[0] == 'E' || rest[0] == 'e')) {
        rest.remove_prefix(1);
        if (rest.empty()) return false;
    } else if (!rest.empty() && rest[0] != '+' && rest[0] != '-') {
        return false;
    }
    if (rest.empty()) return true;
    std::string_view exp_digits = rest[0] == '+' || rest[0] == '-' ? rest.substr(1) : rest;
    if (!all_digits(exp_digits)) return false;
    p.exponent = rest;
    return true;
}

// ---- one line ------------------------------------------------------------

struct Line {
    int number;
    std::string_view text;
    bool large; // 16-character data fields
};

std::string_view field_of(const Line &l, int k) {
    size_t start = 0, width = name_width;
    if (k > 1) {
        const size_t w = l.large ? large_width : small_width;
        start = name_width + static_cast<size_t>(k - 2) * w;
        width = w;
    }
    if (start >= l.text.size()) return {};
    return l.text.substr(start, width);
}

// ---- the reader ----------------------------------------------------------

enum class Open { none, tf, rbe2, grid, cord2r, tf_large, dmig_large };

class Reader {
  public:
    Reader(const std::string &name, Deck &deck) : name_(name), deck_(deck) {}

    bool read(std::string_view text);
    const std::string &error() const { return error_; }

  private:
    const std::string &name_;
    Deck &deck_;
    std::string error_;
    Open open_ = Open::none;
    int open_line_ = 0;      // line of the open card
    int continuations_ = 0;  // continuation lines it has had
    bool rbe2_full_ = false; // the open RBE2 card's last line was full

    bool fail(int line, const std::string &reason);
    bool fail_field(const Line &l, int k, const char *what, const char *problem);

    bool want_int(const Line &l, int k, const char *what, int32_t &v);
    bool want_real(const Line &l, int k, const char *what, double &v);
    bool want_blank_from(const Line &l, int k);

    bool read_line(int number, std::string_view text);
    bool read_comment(int number, std::string_view text);
    std::string missing_lines() const;
    bool close_card(int next_line);
    bool start_card(const Line &l, std::string_view name);
    bool continue_card(const Line &l);

    bool read_epoint(const Line &l);
    bool read_tf(const Line &l);
    bool read_tf_term(const Line &l);
    bool read_tf_large(const Line &l);
    bool read_tf_large_more(const Line &l);
    bool read_plotel(const Line &l);
    bool read_rbe2(const Line &l);
    bool read_rbe2_points(const Line &l, int first_field);
    bool read_dmig(const Line &l);
    bool read_dmig_large_more(const Line &l);
    bool read_grid(const Line &l);
    bool read_grid_more(const Line &l);
    bool read_cord2r(const Line &l);
    bool read_cord2r_more(const Line &l);
};

bool Reader::fail(int line, const std::string &reason) {
    error_ = name_ + ", line " + std::to_string(line) + ": " + reason;
    return false;
}

bool Reader::fail_field(const Line &l, int k, const char *what, const char *problem) {
    std::string text(trim(field_of(l, k)));
    std::string reason = "field " + std::to_string(k) + " (" + what + ") " + problem;
    if (!text.empty()) reason += ": \"" + text + "\"";
    return fail(l.number, reason);
}

bool Reader::want_int(const Line &l, int k, const char *what, int32_t &v) {
    std::string_view f = field_of(l, k);
    if (trim(f).empty()) return fail_field(l, k, what, "is missing: the line is cut short");
    if (!parse_int(f, v)) return fail_field(l, k, what, "is not an integer");
    return true;
}

bool Reader::want_real(const Line &l, int k, const char *what, double &v) {
    std::string_view f = field_of(l, k);
    if (trim(f).empty()) return fail_field(l, k, what, "is missing: the line is cut short");
    if (!parse_real_field(f, v)) return fail_field(l, k, what, "is not a real number");
    return true;
}

bool Reader::want_blank_from(const Line &l, int k) {
    const int last = l.large ? large_fields : small_fields;
    for (; k <= last; ++k)
        if (!trim(field_of(l, k)).empty())
            return fail(l.number, "field " + std::to_string(k) + " holds \"" +
                                      std::string(trim(field_of(l, k))) +
                                      "\" where the card has nothing");
    return true;
}

// Header comment lines name the units, the TF set, the threshold and the
// wheel divisions; every other comment is passed over.
struct HeaderKey {
    const char *prefix;
    enum { label, integer, real, connecting } kind;
    int which;
};
constexpr HeaderKey header_keys[] = {
    {"$*  length unit:", HeaderKey::label, 0},
    {"$*  force unit:", HeaderKey::label, 1},
    {"$*  mass unit:", HeaderKey::label, 2},
    {"$*  time unit:", HeaderKey::label, 3},
    {"$*  ID number of TFs:", HeaderKey::integer, 0},
    {"$*  divid number for wheel:", HeaderKey::integer, 1},
    {"$*  Threshold for matrix terms:", HeaderKey::real, 0},
    {"$*  connecting stiffness value:", HeaderKey::connecting, 0},
    {"$*  connecting damping value:", HeaderKey::connecting, 1},
    {"$*  connecting t_stiff. value", HeaderKey::connecting, 2},
    {"$*  connecting t_damp. value", HeaderKey::connecting, 3},
};

bool Reader::read_comment(int number, std::string_view text) {
    DeckHeader &h = deck_.header;
    for (const HeaderKey &key : header_keys) {
        std::string_view prefix(key.prefix);
        if (text.substr(0, prefix.size()) != prefix) continue;
        std::string_view value = trim(text.substr(prefix.size()));
        if (key.kind == HeaderKey::label) {
            std::string *labels[] = {&h.length_unit, &h.force_unit, &h.mass_unit, &h.time_unit};
            *labels[key.which] = std::string(value);
        } else if (key.kind == HeaderKey::integer) {
            int32_t v = 0;
            if (!parse_int(value, v))
                return fail(number, "the header line \"" + std::string(trim(prefix.substr(2))) +
                                        "\" holds no integer");
            (key.which == 0 ? h.has_set : h.has_wheel_divisions) = true;
            (key.which == 0 ? h.set : h.wheel_divisions) = v;
        } else if (key.kind == HeaderKey::connecting) {
            // "(2.500000E+08 [N/m])": the value before the bracketed unit.
            double v = 0.0;
            const std::size_t unit = value.find('[');
            if (value.size() < 2 || value.front() != '(' || value.back() != ')' ||
                unit == std::string_view::npos || !parse_real_field(value.substr(1, unit - 1), v))
                return fail(number, "the header line \"" + std::string(trim(prefix.substr(2))) +
                                        "\" holds no value in the form (X [UNIT])");
            const auto k = static_cast<std::size_t>(key.which);
            h.has_connecting[k] = true;
            h.connecting[k] = v;
        } else {
            double v = 0.0;
            if (!parse_real_field(value, v))
                return fail(number, "the header's threshold is not a real number");
            h.has_threshold = true;
            h.threshold = v;
        }
    }
    return true;
}

const char *open_name(Open o) {
    switch (o) {
    case Open::tf:
        return "TF";
    case Open::rbe2:
        return "RBE2";
    case Open::grid:
        return "GRID*";
    case Open::cord2r:
        return "CORD2R*";
    case Open::tf_large:
        return "TF*";
    case Open::dmig_large:
        return "DMIG*";
    default:
        return "";
    }
}

// What the open card still lacks when it ends, "" when nothing: a GRID*
// card needs its one continuation line, a CORD2R* card its three, a DMIG*
// entry its one; a TF* card the line of B1 and B2 and then both lines of
// each term.
std::string Reader::missing_lines() const {
    switch (open_) {
    case Open::grid:
    case Open::dmig_large:
        return continuations_ < 1 ? "its continuation line is missing" : "";
    case Open::cord2r: {
        const int missing = 3 - continuations_;
        if (missing <= 0) return "";
        return std::to_string(missing) + " of its 3 continuation lines " +
               (missing == 1 ? "is" : "are") + " missing";
    }
    case Open::tf_large:
        if (continuations_ < 1) return "the continuation line of B1 and B2 is missing";
        return continuations_ % 2 == 0 ? "the second line of its last term (A2) is missing" : "";
    default:
        return "";
    }
}

// Ends the open card before the line next_line (0 at the end of the
// file), refusing it when it is cut short.
bool Reader::close_card(int next_line) {
    const std::string missing = missing_lines();
    if (!missing.empty()) {
        std::string where = next_line ? "before line " + std::to_string(next_line)
                                      : std::string("at the end of the file");
        return fail(open_line_, std::string("the ") + open_name(open_) + " card is cut short " +
                                    where + ": " + missing);
    }
    open_ = Open::none;
    return true;
}

bool Reader::start_card(const Line &l, std::string_view name) {
    open_ = Open::none;
    open_line_ = l.number;
    continuations_ = 0;
    if (name == "EPOINT") return read_epoint(l);
    if (name == "TF") return read_tf(l);
    if (name == "PLOTEL") return read_plotel(l);
    if (name == "RBE2") return read_rbe2(l);
    if (name == "DMIG" || name == "DMIG*") return read_dmig(l);
    if (name == "GRID*") return read_grid(l);
    if (name == "CORD2R*") return read_cord2r(l);
    if (name == "TF*") return read_tf_large(l);
    return fail(l.number, "\"" + std::string(name) +
                              "\" is not a card of the converter's bulk data (EPOINT, TF, "
                              "PLOTEL, RBE2, DMIG, GRID*, CORD2R*, TF*, DMIG*)");
}

bool Reader::continue_card(const Line &l) {
    const bool takes_small = open_ == Open::tf || (open_ == Open::rbe2 && rbe2_full_);
    const bool takes_large = (open_ == Open::grid && continuations_ < 1) ||
                             (open_ == Open::cord2r && continuations_ < 3) ||
                             open_ == Open::tf_large ||
                             (open_ == Open::dmig_large && continuations_ < 1);
    if (!l.large && open_ == Open::rbe2 && !rbe2_full_)
        return fail(l.number, "a continuation line after the RBE2 card's last line, which is "
                              "not full");
    if (l.large ? !takes_large : !takes_small)
        return fail(l.number, "a continuation line without a card that it continues");
    ++continuations_;
    switch (open_) {
    case Open::tf:
        return read_tf_term(l);
    case Open::rbe2:
        return read_rbe2_points(l, 2);
    case Open::grid:
        return read_grid_more(l);
    case Open::tf_large:
        return read_tf_large_more(l);
    case Open::dmig_large:
        return read_dmig_large_more(l);
    default:
        return read_cord2r_more(l);
    }
}

bool Reader::read_line(int number, std::string_view text) {
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (!text.empty() && text[0] == '$') return read_comment(number, text);
    if (trim(text).empty()) return true;
    if (text.size() > data_end && !trim(text.substr(data_end)).empty())
        return fail(number, "text beyond column 72");
    Line l{number, text, text[0] == '*'};
    std::string_view name = trim(field_of(l, 1));
    if (text[0] == ' ' && !name.empty())
        return fail(number,
                    "the card name \"" + std::string(name) + "\" does not start in column 1");
    if (l.large) {
        if (name != "*")
            return fail(number, "\"" + std::string(name) + "\" is not a continuation mark");
        return continue_card(l);
    }
    if (name.empty()) return continue_card(l);
    if (name == "GRID*" || name == "CORD2R*" || name == "TF*" || name == "DMIG*") l.large = true;
    if (!close_card(number)) return false;
    return start_card(l, name);
}

bool Reader::read(std::string_view text) {
    int number = 0;
    size_t start = 0;
    while (start < text.size()) {
        if (number == std::numeric_limits<int>::max()) {
            error_ = name_ + ": more lines than can be counted";
            return false;
        }
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        if (!read_line(++number, text.substr(start, end - start))) return false;
        start = end + 1;
    }
    if (!close_card(0)) return false;
    if (deck_.epoints.empty() && deck_.tfs.empty() && deck_.grids.empty() &&
        deck_.plotels.empty() && deck_.cord2rs.empty() && deck_.rbe2s.empty() &&
        deck_.dmig_headers.empty() && deck_.dmig_entries.empty()) {
        error_ = name_ + ": holds no card";
        return false;
    }
    return true;
}

// ---- the cards -------------------------------------------------------------

bool Reader::read_epoint(const Line &l) {
    EpointCard c{l.number, 0, 0};
    if (!want_int(l, 2, "point", c.first)) return false;
    c.last = c.first;
    if (trim(field_of(l, 3)) == "THRU") {
        if (!want_int(l, 4, "last point", c.last) || !want_blank_from(l, 5)) return false;
        if (c.last < c.first && int64_t{c.last} != int64_t{c.first} - 1)
            return fail(l.number, "the range " + std::to_string(c.first) + " THRU " +
                                      std::to_string(c.last) + " runs backwards");
    } else if (!want_blank_from(l, 3)) {
        return false;
    }
    deck_.epoints.push_back(c);
    return true;
}

bool Reader::read_tf(const Line &l) {
    TfCard c{l.number, 0, 0, 0, 0.0, 0.0, 0.0, {}};
    if (!want_int(l, 2, "SID", c.set) || !want_int(l, 3, "GD", c.point) ||
        !want_int(l, 4, "CD", c.component) || !want_real(l, 5, "B0", c.b0) ||
        !want_real(l, 6, "B1", c.b1) || !want_real(l, 7, "B2", c.b2) || !want_blank_from(l, 8))
        return false;
    deck_.tfs.push_back(std::move(c));
    open_ = Open::tf;
    return true;
}

bool Reader::read_tf_term(const Line &l) {
    TfTerm t{l.number, 0, 0, 0.0, 0.0, 0.0};
    if (!want_int(l, 2, "GI", t.point) || !want_int(l, 3, "CI", t.component) ||
        !want_real(l, 4, "A0", t.a0) || !want_real(l, 5, "A1", t.a1) ||
        !want_real(l, 6, "A2", t.a2) || !want_blank_from(l, 7))
        return false;
    deck_.tfs.back().terms.push_back(t);
    return true;
}

bool Reader::read_tf_large(const Line &l) {
    TfCard c{l.number, 0, 0, 0, 0.0, 0.0, 0.0, {}, true};
    if (!want_int(l, 2, "SID", c.set) || !want_int(l, 3, "GD", c.point) ||
        !want_int(l, 4, "CD", c.component) || !want_real(l, 5, "B0", c.b0))
        return false;
    deck_.tfs.push_back(std::move(c));
    open_ = Open::tf_large;
    return true;
}

// The line of B1 and B2, then per term a line of GI, CI, A0 and A1 and one
// of A2; the term keeps the line of its first half.
bool Reader::read_tf_large_more(const Line &l) {
    TfCard &c = deck_.tfs.back();
    if (continuations_ == 1)
        return want_real(l, 2, "B1", c.b1) && want_real(l, 3, "B2", c.b2) && want_blank_from(l, 4);
    if (continuations_ % 2 == 1)
        return want_real(l, 2, "A2", c.terms.back().a2) && want_blank_from(l, 3);
    TfTerm t{l.number, 0, 0, 0.0, 0.0, 0.0};
    if (!want_int(l, 2, "GI", t.point) || !want_int(l, 3, "CI", t.component) ||
        !want_real(l, 4, "A0", t.a0) || !want_real(l, 5, "A1", t.a1))
        return false;
    c.terms.push_back(t);
    return true;
}

bool Reader::read_plotel(const Line &l) {
    PlotelCard c{l.number, 0, 0, 0};
    if (!want_int(l, 2, "EID", c.id) || !want_int(l, 3, "G1", c.grid1) ||
        !want_int(l, 4, "G2", c.grid2) || !want_blank_from(l, 5))
        return false;
    deck_.plotels.push_back(c);
    return true;
}

bool Reader::read_rbe2(const Line &l) {
    Rbe2Card c{l.number, 0, 0, 0, {}};
    if (!want_int(l, 2, "EID", c.id) || !want_int(l, 3, "GN", c.independent) ||
        !want_int(l, 4, "CM", c.components))
        return false;
    deck_.rbe2s.push_back(std::move(c));
    open_ = Open::rbe2;
    return read_rbe2_points(l, 5);
}

// The dependent points from field first_field on: one after the other
// without a gap, the line full unless it is the card's last.
bool Reader::read_rbe2_points(const Line &l, int first_field) {
    Rbe2Card &c = deck_.rbe2s.back();
    int k = first_field;
    for (; k <= small_fields && !trim(field_of(l, k)).empty(); ++k) {
        int32_t point = 0;
        if (!want_int(l, k, "GM", point)) return false;
        c.dependent.push_back(point);
    }
    if (!want_blank_from(l, k)) return false;
    const int on_line = k - first_field;
    rbe2_full_ = on_line == (first_field == 2 ? rbe2_line_points : rbe2_first_points);
    if (on_line == 0) return fail(l.number, "an RBE2 line without dependent points");
    return true;
}

bool Reader::read_dmig(const Line &l) {
    std::string name(trim(field_of(l, 2)));
    if (name.empty() || name.find(' ') != std::string::npos)
        return fail_field(l, 2, "NAME", "is not a matrix name");
    int32_t first = 0;
    if (!want_int(l, 3, "GJ", first)) return false;
    if (!trim(field_of(l, 5)).empty()) {
        DmigHeader h{l.number, name, 0, 0};
        if (first != 0) return fail_field(l, 3, "header", "of a DMIG header card is not 0");
        if (!want_int(l, 4, "IFO", h.form) || !want_int(l, 5, "TIN", h.type) ||
            !want_blank_from(l, 6))
            return false;
        deck_.dmig_headers.push_back(std::move(h));
        return true;
    }
    DmigEntry e{l.number, name, first, 0, 0, 0, 0.0, l.large};
    if (l.large) { // the row and the value follow on the continuation line
        if (!want_int(l, 4, "CJ", e.column_component)) return false;
        deck_.dmig_entries.push_back(std::move(e));
        open_ = Open::dmig_large;
        return true;
    }
    if (!want_int(l, 4, "CJ", e.column_component) || !want_int(l, 6, "Gi", e.row_point) ||
        !want_int(l, 7, "Ci", e.row_component) || !want_real(l, 8, "Ai", e.value) ||
        !want_blank_from(l, 9))
        return false;
    deck_.dmig_entries.push_back(std::move(e));
    return true;
}

bool Reader::read_dmig_large_more(const Line &l) {
    DmigEntry &e = deck_.dmig_entries.back();
    return want_int(l, 2, "Gi", e.row_point) && want_int(l, 3, "Ci", e.row_component) &&
           want_real(l, 4, "Ai", e.value) && want_blank_from(l, 5);
}

bool Reader::read_grid(const Line &l) {
    GridCard c{l.number, 0, 0, {0.0, 0.0, 0.0}, 0};
    if (!want_int(l, 2, "ID", c.id) || !want_int(l, 3, "CP", c.cp) ||
        !want_real(l, 4, "X1", c.x[0]) || !want_real(l, 5, "X2", c.x[1]))
        return false;
    deck_.grids.push_back(c);
    open_ = Open::grid;
    return true;
}

bool Reader::read_grid_more(const Line &l) {
    GridCard &c = deck_.grids.back();
    return want_real(l, 2, "X3", c.x[2]) && want_int(l, 3, "CD", c.cd) && want_blank_from(l, 4);
}

bool Reader::read_cord2r(const Line &l) {
    Cord2rCard c{l.number, 0, 0, {}, {}, {}};
    if (!want_int(l, 2, "CID", c.id) || !want_int(l, 3, "RID", c.rid) ||
        !want_real(l, 4, "A1", c.a[0]) || !want_real(l, 5, "A2", c.a[1]))
        return false;
    deck_.cord2rs.push_back(c);
    open_ = Open::cord2r;
    return true;
}

bool Reader::read_cord2r_more(const Line &l) {
    Cord2rCard &c = deck_.cord2rs.back();
    if (continuations_ == 1)
        return want_real(l, 2, "A3", c.a[2]) && want_real(l, 3, "B1", c.b[0]) &&
               want_real(l, 4, "B2", c.b[1]) && want_real(l, 5, "B3", c.b[2]);
    if (continuations_ == 2)
        return want_real(l, 2, "C1", c.c[0]) && want_real(l, 3, "C2", c.c[1]) &&
               want_real(l, 4, "C3", c.c[2]) && want_blank_from(l, 5);
    return want_blank_from(l, 2);
}

// ---- the deck as a whole -------------------------------------------------

// One declared point or range of points, for the search for points
// declared twice and for looking points up.
struct Declared {
    int32_t first, last;
    int line;
};

class Consistency {
  public:
    Consistency(const std::string &name, const Deck &deck) : name_(name), deck_(deck) {}
    bool check();
    const std::string &error() const { return error_; }

  private:
    const std::string &name_;
    const Deck &deck_;
    std::string error_;
    std::vector<Declared> epoints_, grids_;
    std::vector<int32_t> systems_;

    bool fail(int line, const std::string &reason) {
        error_ = name_ + ", line " + std::to_string(line) + ": " + reason;
        return false;
    }
    static bool holds(const std::vector<Declared> &sorted, int32_t p);
    bool points_once();
    bool identifiers_once();
    bool systems_exist();
    bool point_exists(int line, const char *what, int32_t point, int32_t component);
    bool references();
};

bool Consistency::holds(const std::vector<Declared> &sorted, int32_t p) {
    auto after = std::upper_bound(sorted.begin(), sorted.end(), p,
                                  [](int32_t v, const Declared &d) { return v < d.first; });
    return after != sorted.begin() && std::prev(after)->last >= p;
}

bool by_first(const Declared &x, const Declared &y) {
    return x.first != y.first ? x.first < y.first : x.line < y.line;
}

// GRID and EPOINT identifiers share one numbering, and each point is
// declared once.
bool Consistency::points_once() {
    for (const EpointCard &e : deck_.epoints)
        if (e.last >= e.first) epoints_.push_back({e.first, e.last, e.line});
    for (const GridCard &g : deck_.grids)
        grids_.push_back({g.id, g.id, g.line});
    std::vector<Declared> all = epoints_;
    all.insert(all.end(), grids_.begin(), grids_.end());
    for (const Declared &d : all)
        if (d.first < 1) return fail(d.line, "point " + std::to_string(d.first) + " is below 1");
    std::sort(all.begin(), all.end(), by_first);
    const Declared *reach = all.empty() ? nullptr : &all[0]; // the one reaching farthest so far
    for (size_t k = 1; k < all.size(); ++k) {
        if (all[k].first <= reach->last) {
            const int later = std::max(all[k].line, reach->line);
            const int earlier = std::min(all[k].line, reach->line);
            return fail(later, "point " + std::to_string(all[k].first) +
                                   " is declared twice (also at line " + std::to_string(earlier) +
                                   ")");
        }
        if (all[k].last > reach->last) reach = &all[k];
    }
    std::sort(epoints_.begin(), epoints_.end(), by_first);
    std::sort(grids_.begin(), grids_.end(), by_first);
    return true;
}

// Identifier, line: a sorted list in which a neighbour with the same
// identifier is a second declaration.
bool Consistency::identifiers_once() {
    std::vector<Declared> elements, systems;
    for (const PlotelCard &p : deck_.plotels)
        elements.push_back({p.id, p.id, p.line});
    for (const Rbe2Card &r : deck_.rbe2s)
        elements.push_back({r.id, r.id, r.line});
    for (const Cord2rCard &c : deck_.cord2rs)
        systems.push_back({c.id, c.id, c.line});
    for (auto *list : {&elements, &systems}) {
        const char *what = list == &elements ? "element" : "coordinate system";
        std::sort(list->begin(), list->end(), by_first);
        for (size_t k = 0; k < list->size(); ++k) {
            const Declared &d = (*list)[k];
            if (d.first < 1) return fail(d.line, std::string(what) + " identifier below 1");
            if (k > 0 && (*list)[k - 1].first == d.first)
                return fail(std::max(d.line, (*list)[k - 1].line),
                            std::string(what) + " " + std::to_string(d.first) +
                                " is declared twice (also at line " +
                                std::to_string(std::min(d.line, (*list)[k - 1].line)) + ")");
        }
    }
    for (const Declared &d : systems)
        systems_.push_back(d.first);
    return true;
}

bool Consistency::systems_exist() {
    auto known = [this](int32_t id) {
        return id == 0 || std::binary_search(systems_.begin(), systems_.end(), id);
    };
    for (const Cord2rCard &c : deck_.cord2rs)
        if (!known(c.rid))
            return fail(c.line,
                        "reference system " + std::to_string(c.rid) + " is not in the deck");
    for (const GridCard &g : deck_.grids) {
        if (!known(g.cp))
            return fail(g.line,
                        "coordinate system " + std::to_string(g.cp) + " is not in the deck");
        if (!known(g.cd))
            return fail(g.line,
                        "coordinate system " + std::to_string(g.cd) + " is not in the deck");
    }
    return true;
}

// A point named with its component: an extra point takes component 0, a
// GRID components 1 to 6.
bool Consistency::point_exists(int line, const char *what, int32_t point, int32_t component) {
    if (component == 0 ? holds(epoints_, point)
                       : component >= 1 && component <= 6 && holds(grids_, point))
        return true;
    const std::string p = std::string(what) + " " + std::to_string(point);
    if (component == 0) return fail(line, p + " with component 0 is no extra point of the deck");
    if (component < 1 || component > 6)
        return fail(line, p + ": component " + std::to_string(component) + " is not 0 to 6");
    return fail(line, p + " is no GRID of the deck");
}

bool components_valid(int32_t cm) {
    if (cm <= 0) return false;
    bool seen[7] = {};
    for (; cm > 0; cm /= 10) {
        const int digit = cm % 10;
        if (digit < 1 || digit > 6 || seen[digit]) return false;
        seen[digit] = true;
    }
    return true;
}

bool Consistency::references() {
    for (const PlotelCard &p : deck_.plotels)
        if (!point_exists(p.line, "point", p.grid1, 1) ||
            !point_exists(p.line, "point", p.grid2, 1))
            return false;
    for (const Rbe2Card &r : deck_.rbe2s) {
        if (!components_valid(r.components))
            return fail(r.line, "components " + std::to_string(r.components) +
                                    " are not distinct digits 1 to 6");
        if (!point_exists(r.line, "independent point", r.independent, 1)) return false;
        for (int32_t m : r.dependent)
            if (!point_exists(r.line, "dependent point", m, 1)) return false;
    }
    std::map<std::string, int> headers; // matrix name, line of its header
    for (const DmigHeader &h : deck_.dmig_headers)
        if (!headers.emplace(h.name, h.line).second)
            return fail(h.line, "a second header of the DMIG matrix " + h.name +
                                    " (the first is at line " + std::to_string(headers[h.name]) +
                                    ")");
    for (const DmigEntry &e : deck_.dmig_entries) {
        auto header = headers.find(e.name);
        if (header == headers.end() || header->second > e.line)
            return fail(e.line, "an entry of the DMIG matrix " + e.name + " before its header");
        if (!point_exists(e.line, "column point", e.column_point, e.column_component) ||
            !point_exists(e.line, "row point", e.row_point, e.row_component))
            return false;
    }
    for (const TfCard &t : deck_.tfs) {
        if (t.component == 0 && !point_exists(t.line, "point", t.point, 0)) return false;
        if (t.component < 0 || t.component > 6)
            return fail(t.line, "component " + std::to_string(t.component) + " is not 0 to 6");
        for (const TfTerm &term : t.terms) {
            if (term.component == 0 && !point_exists(term.line, "point", term.point, 0))
                return false;
            if (term.component < 0 || term.component > 6)
                return fail(term.line,
                            "component " + std::to_string(term.component) + " is not 0 to 6");
        }
    }
    return true;
}

bool Consistency::check() {
    return points_once() && identifiers_once() && systems_exist() && references();
}

} // namespace

bool parse_real_field(std::string_view field, double &value) {
    RealParts p;
    std::string_view t = trim(field);
    if (t.empty() || t.size() > longest_number || !split_real(t, p)) return false;
    // The digits as one integer w and the value as w * 10^q, converted as
    // the ABC reader converts its fields: rounded once, to the nearest
    // double. A field holds at most 16 characters, so w fits 64 bits.
    uint64_t w = 0;
    int q = 0;
    bool after_point = false;
    for (char c : p.mantissa) {
        if (c == '.') {
            after_point = true;
            continue;
        }
        w = w * 10 + static_cast<uint64_t>(c - '0');
        q -= after_point;
    }
    int exponent = 0;
    if (!p.exponent.empty()) {
        const bool minus = p.exponent[0] == '-';
        std::string_view digits = p.exponent;
        if (digits[0] == '+' || digits[0] == '-') digits.remove_prefix(1);
        for (char c : digits) // held where it is far beyond any double's
            if (exponent < 100000) exponent = exponent * 10 + (c - '0');
        q += minus ? -exponent : exponent;
    }
    if (w == 0) {
        value = p.negative ? -0.0 : 0.0;
        return true;
    }
    double v = 0.0;
    if (decimal::scale(w, q, p.negative, &v)) {
        value = v;
        return true;
    }
    // Out of the fast conversion's reach (a subnormal, an overflow, a tie
    // the product cannot decide): the general conversion.
    char text[longest_number + 8];
    std::size_t n = p.mantissa.copy(text, p.mantissa.size());
    if (!p.exponent.empty()) {
        text[n++] = 'e';
        const std::string_view e = p.exponent[0] == '+' ? p.exponent.substr(1) : p.exponent;
        n += e.copy(text + n, e.size());
    }
    auto [end, ec] = std::from_chars(text, text + n, v);
    if (ec != std::errc() || end != text + n || !std::isfinite(v)) return false;
    value = p.negative ? -v : v;
    return true;
}

bool read_deck_text(const std::string &text, const std::string &name, Deck &deck,
                    std::string &error) {
    deck = Deck();
    deck.file = name;
    Reader reader(name, deck);
    bool ok = reader.read(text);
    error = reader.error();
    if (ok) {
        Consistency consistency(name, deck);
        ok = consistency.check();
        error = consistency.error();
    }
    if (!ok) {
        deck = Deck();
        deck.file = name;
    }
    return ok;
}

bool read_deck(const std::string &file, Deck &deck, std::string &error) {
    std::string text, why;
    if (!read_input(file.c_str(), deck_file_max, text, why)) {
        deck = Deck();
        deck.file = file;
        error = file + ": " + why;
        return false;
    }
    return read_deck_text(text, file, deck, error);
}

} // namespace sorvan::analysis
