// The bulk data checker; see bdf_check.h for what it checks.
#include "support/bdf_check.h"

#include "sorvan_view.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

namespace sorvan::test {

namespace {

constexpr size_t last_column = 72;
constexpr size_t small_width = 8;
constexpr size_t large_width = 16;

struct Line {
    int number;
    std::string text;
};

// One card: its name and per line its data fields (field 1 left out),
// trimmed, an empty string for a blank field.
struct Card {
    std::string name;
    bool large = false;
    std::vector<Line> lines;
    std::vector<std::vector<std::string>> fields;
};

// A point that a card names, with the component it names it with.
struct PointRef {
    int line;
    int64_t id;
    int64_t component;
    bool grid_required; // components 1 to 6 must be a GRID of this file
};

class Checker {
  public:
    explicit Checker(BdfCheck &out) : out_(out) {}
    void run(const std::string &text);

  private:
    void error(int line, const std::string &what) {
        out_.errors.push_back("line " + std::to_string(line) + ": " + what);
    }
    void split_lines(const std::string &text, std::vector<Line> &lines);
    void collect_cards(const std::vector<Line> &lines);
    std::vector<std::string> split_fields(const Line &line, bool large, bool first);
    void check_card(const Card &card);
    void check_epoint(const Card &card);
    void check_grid(const Card &card);
    void check_cord2r(const Card &card);
    void check_plotel(const Card &card);
    void check_rbe2(const Card &card);
    void check_tf(const Card &card);
    void check_dmig(const Card &card);
    void resolve();

    bool want_int(const Card &card, size_t line, size_t field, int64_t *value);
    bool want_real(const Card &card, size_t line, size_t field);
    bool want_count(const Card &card, size_t line, size_t low, size_t high);
    void define(std::set<int64_t> &ids, int64_t id, int line, const char *what);
    void define_point(int64_t id, int line, bool grid);

    BdfCheck &out_;
    std::vector<Card> cards_;
    std::vector<PointRef> refs_;
    std::vector<std::pair<int, int64_t>> coord_refs_;
    std::set<int64_t> points_, elements_, coords_;
    std::set<std::string> dmig_headers_;
};

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

bool parse_int(const std::string &t, int64_t *value) {
    size_t k = (t[0] == '+' || t[0] == '-') ? 1 : 0;
    if (k == t.size() || t.size() > 12) return false;
    for (size_t i = k; i < t.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
    *value = std::stoll(t);
    return true;
}

// A real with a decimal point: [sign] digits . digits [E|e] [sign digits],
// the exponent letter optional when the exponent has a sign (1.000+0).
bool parse_real(const std::string &t) {
    size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0, digits = 0;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])))
        ++i, ++digits;
    if (i == t.size() || t[i] != '.') return false;
    ++i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])))
        ++i, ++digits;
    if (digits == 0) return false;
    if (i == t.size()) return true;
    if (t[i] == 'E' || t[i] == 'e') ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t exp_start = i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])))
        ++i;
    return i == t.size() && i > exp_start;
}

void Checker::split_lines(const std::string &text, std::vector<Line> &lines) {
    size_t start = 0;
    int number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        ++number;
        if (end == std::string::npos) {
            error(number, "the last line has no line end");
            end = text.size();
        }
        lines.push_back({number, text.substr(start, end - start)});
        start = end + 1;
    }
    out_.lines = number;
}

std::vector<std::string> Checker::split_fields(const Line &line, bool large, bool first) {
    const std::string &t = line.text;
    std::vector<std::string> fields;
    if (t.size() > last_column) error(line.number, "reaches beyond column 72");
    if (!first && trim(t.substr(large ? 1 : 0, small_width - (large ? 1 : 0))) != "")
        error(line.number, "continuation line with text in its first field");
    size_t width = large ? large_width : small_width;
    for (size_t col = small_width; col < t.size() && col < last_column; col += width) {
        std::string raw = t.substr(col, width);
        std::string token = trim(raw);
        if (token.find(' ') != std::string::npos)
            error(line.number, "field at column " + std::to_string(col + 1) + " holds \"" + raw +
                                   "\", not one token");
        fields.push_back(token);
    }
    while (!fields.empty() && fields.back().empty())
        fields.pop_back();
    return fields;
}

void Checker::collect_cards(const std::vector<Line> &lines) {
    Card *current = nullptr;
    for (const Line &line : lines) {
        const std::string &t = line.text;
        for (char ch : t)
            if (ch < ' ' || ch > '~') {
                error(line.number, "holds a character outside printable ASCII");
                break;
            }
        if (t.empty()) {
            error(line.number, "empty line");
            current = nullptr;
        } else if (t[0] == '$') {
            current = nullptr; // a comment ends any card
        } else if (t[0] == ' ' || t[0] == '*') {
            bool large = t[0] == '*';
            if (!current || current->large != large) {
                error(line.number, "continuation line without a card of its field size");
                continue;
            }
            current->lines.push_back(line);
            current->fields.push_back(split_fields(line, large, false));
        } else {
            Card card;
            card.name = trim(t.substr(0, small_width));
            card.large = !card.name.empty() && card.name.back() == '*';
            if (card.name.find(' ') != std::string::npos)
                error(line.number, "card name field \"" + t.substr(0, small_width) + "\"");
            card.lines.push_back(line);
            card.fields.push_back(split_fields(line, card.large, true));
            cards_.push_back(card);
            current = &cards_.back();
        }
    }
}

bool Checker::want_count(const Card &card, size_t line, size_t low, size_t high) {
    size_t n = card.fields[line].size();
    if (n >= low && n <= high) return true;
    error(card.lines[line].number, card.name + ": " + std::to_string(n) + " fields, " +
                                       std::to_string(low) + " to " + std::to_string(high) +
                                       " wanted");
    return false;
}

bool Checker::want_int(const Card &card, size_t line, size_t field, int64_t *value) {
    const auto &f = card.fields[line];
    if (field < f.size() && !f[field].empty() && parse_int(f[field], value)) return true;
    error(card.lines[line].number,
          card.name + ": field " + std::to_string(field + 2) + " is not an integer");
    return false;
}

bool Checker::want_real(const Card &card, size_t line, size_t field) {
    const auto &f = card.fields[line];
    if (field < f.size() && !f[field].empty() && parse_real(f[field])) return true;
    error(card.lines[line].number,
          card.name + ": field " + std::to_string(field + 2) + " is not a real");
    return false;
}

void Checker::define(std::set<int64_t> &ids, int64_t id, int line, const char *what) {
    if (id < 1) error(line, std::string(what) + " identifier " + std::to_string(id) + " below 1");
    if (!ids.insert(id).second)
        error(line, std::string(what) + " " + std::to_string(id) + " defined twice");
}

void Checker::define_point(int64_t id, int line, bool grid) {
    define(points_, id, line, "point");
    (grid ? out_.grids : out_.epoints).insert(id);
}

void Checker::check_epoint(const Card &card) {
    int line = card.lines[0].number;
    const auto &f = card.fields[0];
    int64_t first = 0, last = 0;
    if (card.lines.size() != 1) error(line, "EPOINT: continuation lines");
    if (f.size() == 3 && f[1] == "THRU") {
        if (!want_int(card, 0, 0, &first) || !want_int(card, 0, 2, &last)) return;
        if (first > last) error(line, "EPOINT: reversed range");
        if (last - first > 10000000) {
            error(line, "EPOINT: range of more than ten million points");
            return;
        }
        for (int64_t id = first; id <= last; ++id)
            define_point(id, line, false);
        return;
    }
    if (!want_count(card, 0, 1, 8)) return;
    for (size_t k = 0; k < f.size(); ++k)
        if (want_int(card, 0, k, &first)) define_point(first, line, false);
}

void Checker::check_grid(const Card &card) {
    int64_t id = 0, cp = 0, cd = 0;
    if (card.lines.size() != 2) {
        error(card.lines[0].number, "GRID*: two lines wanted");
        return;
    }
    if (!want_count(card, 0, 4, 4) || !want_count(card, 1, 2, 2)) return;
    bool ok = want_int(card, 0, 0, &id) & want_int(card, 0, 1, &cp) & want_real(card, 0, 2) &
              want_real(card, 0, 3) & want_real(card, 1, 0) & want_int(card, 1, 1, &cd);
    if (!ok) return;
    define_point(id, card.lines[0].number, true);
    if (cp != 0) coord_refs_.push_back({card.lines[0].number, cp});
    if (cd != 0) coord_refs_.push_back({card.lines[1].number, cd});
}

void Checker::check_cord2r(const Card &card) {
    int64_t cid = 0, rid = 0;
    if (card.lines.size() != 4) {
        error(card.lines[0].number, "CORD2R*: four lines wanted");
        return;
    }
    if (!want_count(card, 0, 4, 4) || !want_count(card, 1, 4, 4) || !want_count(card, 2, 3, 3) ||
        !want_count(card, 3, 0, 0))
        return;
    bool ok = want_int(card, 0, 0, &cid) & want_int(card, 0, 1, &rid);
    for (size_t line = 0; line < 3; ++line)
        for (size_t k = line == 0 ? 2 : 0; k < card.fields[line].size(); ++k)
            ok &= want_real(card, line, k);
    if (!ok) return;
    define(coords_, cid, card.lines[0].number, "coordinate system");
    if (rid != 0) coord_refs_.push_back({card.lines[0].number, rid});
}

void Checker::check_plotel(const Card &card) {
    int64_t eid = 0, g1 = 0, g2 = 0;
    int line = card.lines[0].number;
    if (card.lines.size() != 1 || !want_count(card, 0, 3, 3)) return;
    if (!(want_int(card, 0, 0, &eid) & want_int(card, 0, 1, &g1) & want_int(card, 0, 2, &g2)))
        return;
    define(elements_, eid, line, "element");
    refs_.push_back({line, g1, 1, true});
    refs_.push_back({line, g2, 1, true});
}

void Checker::check_rbe2(const Card &card) {
    int64_t eid = 0, gn = 0, cm = 0, gm = 0;
    int line = card.lines[0].number;
    if (!want_count(card, 0, 4, 8)) return;
    if (!(want_int(card, 0, 0, &eid) & want_int(card, 0, 1, &gn) & want_int(card, 0, 2, &cm)))
        return;
    define(elements_, eid, line, "element");
    refs_.push_back({line, gn, 1, true});
    std::string comps = card.fields[0][2];
    for (char ch : comps)
        if (ch < '1' || ch > '6' || comps.find(ch) != comps.rfind(ch))
            error(line, "RBE2: components \"" + comps + "\"");
    for (size_t l = 0; l < card.lines.size(); ++l) {
        if (l > 0 && !want_count(card, l, 1, 8)) continue;
        for (size_t k = l == 0 ? 3 : 0; k < card.fields[l].size(); ++k)
            if (want_int(card, l, k, &gm)) refs_.push_back({card.lines[l].number, gm, 1, true});
    }
}

void Checker::check_tf(const Card &card) {
    int64_t sid = 0, gd = 0, cd = 0;
    if (!want_count(card, 0, 6, 6)) return;
    bool ok = want_int(card, 0, 0, &sid) & want_int(card, 0, 1, &gd) & want_int(card, 0, 2, &cd);
    for (size_t k = 3; k < 6; ++k)
        ok &= want_real(card, 0, k);
    if (!ok) return;
    if (sid < 1) error(card.lines[0].number, "TF: set identifier below 1");
    refs_.push_back({card.lines[0].number, gd, cd, false});
    for (size_t l = 1; l < card.lines.size(); ++l) {
        int64_t gi = 0, ci = 0;
        if (!want_count(card, l, 5, 5)) continue;
        bool line_ok = want_int(card, l, 0, &gi) & want_int(card, l, 1, &ci);
        for (size_t k = 2; k < 5; ++k)
            line_ok &= want_real(card, l, k);
        if (line_ok) refs_.push_back({card.lines[l].number, gi, ci, false});
    }
}

void Checker::check_dmig(const Card &card) {
    int line = card.lines[0].number;
    const auto &f = card.fields[0];
    int64_t v1 = 0, v2 = 0, g1 = 0, c1 = 0;
    if (card.lines.size() != 1 || !want_count(card, 0, 4, 8)) return;
    if (f[1] == "0") { // header: name, 0, form, type
        if (want_int(card, 0, 2, &v1) & want_int(card, 0, 3, &v2))
            if (!dmig_headers_.insert(f[0]).second) error(line, "DMIG: second header of " + f[0]);
        return;
    }
    if (!dmig_headers_.count(f[0])) error(line, "DMIG: entry before the header of " + f[0]);
    if (!want_count(card, 0, 7, 7) || !f[3].empty()) {
        error(line, "DMIG: entry layout");
        return;
    }
    if (!(want_int(card, 0, 1, &v1) & want_int(card, 0, 2, &v2) & want_int(card, 0, 4, &g1) &
          want_int(card, 0, 5, &c1) & want_real(card, 0, 6)))
        return;
    refs_.push_back({line, v1, v2, true});
    refs_.push_back({line, g1, c1, true});
}

void Checker::check_card(const Card &card) {
    ++out_.cards[card.name];
    if (card.name == "EPOINT")
        check_epoint(card);
    else if (card.name == "GRID*")
        check_grid(card);
    else if (card.name == "CORD2R*")
        check_cord2r(card);
    else if (card.name == "PLOTEL")
        check_plotel(card);
    else if (card.name == "RBE2")
        check_rbe2(card);
    else if (card.name == "TF")
        check_tf(card);
    else if (card.name == "DMIG")
        check_dmig(card);
    else
        error(card.lines[0].number, "unknown card \"" + card.name + "\"");
}

void Checker::resolve() {
    for (const PointRef &r : refs_) {
        std::string point = "point " + std::to_string(r.id);
        if (r.component == 0) {
            if (!out_.epoints.count(r.id)) error(r.line, point + " (component 0) is no EPOINT");
        } else if (r.component < 1 || r.component > 6) {
            error(r.line, point + " with component " + std::to_string(r.component));
        } else if (out_.epoints.count(r.id)) {
            error(r.line, "extra point " + std::to_string(r.id) + " with component " +
                              std::to_string(r.component));
        } else if (r.grid_required && !out_.grids.count(r.id)) {
            error(r.line, "GRID " + std::to_string(r.id) + " is not defined in the file");
        }
    }
    for (const auto &[line, cid] : coord_refs_)
        if (!coords_.count(cid))
            error(line, "coordinate system " + std::to_string(cid) + " is not defined");
}

void Checker::run(const std::string &text) {
    std::vector<Line> lines;
    split_lines(text, lines);
    collect_cards(lines);
    for (const Card &card : cards_)
        check_card(card);
    resolve();
}

} // namespace

std::string BdfCheck::report(size_t max_errors) const {
    std::ostringstream s;
    for (size_t i = 0; i < errors.size() && i < max_errors; ++i)
        s << errors[i] << "\n";
    if (errors.size() > max_errors) s << "... " << errors.size() - max_errors << " more\n";
    return s.str();
}

BdfCheck check_bdf_text(const std::string &text) {
    BdfCheck out;
    Checker(out).run(text);
    return out;
}

BdfCheck check_bdf_file(const std::string &path) {
    std::ifstream in(path);
    if (!in) {
        BdfCheck out;
        out.errors.push_back("cannot read " + path);
        return out;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return check_bdf_text(text.str());
}

} // namespace sorvan::test
