// sorvan check: check that a deck behaves like its model. The deck is read
// back, the state-space model rebuilt from its TF cards and compared with
// the ABC set (modes and frequency responses), and the coupling, force and
// DMIG cards are compared with what the converter means to write for the
// MAP file, the units and the connecting values the deck's header names.
#include "cli/check.h"

#include "analysis/closed_loop.h"
#include "analysis/deck.h"
#include "analysis/deck_model.h"
#include "analysis/model_compare.h"
#include "analysis/reduction.h"
#include "analysis/response_plot.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/model_info.h"
#include "frame/file_identity.h"
#include "frame/output_file.h"
#include "model_input/map.h"
#include "model_input/units.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

namespace sorvan::cli {

namespace {

std::string with_reason(const std::string &what, const std::string &reason) {
    return reason.empty() ? what : what + " (" + reason + ")";
}

} // namespace

// ---- model files ------------------------------------------------------------

namespace {
int last_read_exit = exit_data;
} // namespace

int model_read_exit() {
    return last_read_exit;
}

bool read_map_file(const std::string &file, MapRecord &out, std::string &error) {
    out.reset();
    std::string why;
    last_read_exit = exit_no_input;
    std::FILE *f = open_input(file.c_str(), "r", MAP_FILE_MAX, nullptr, why);
    if (!f) {
        error = "cannot read the MAP file " + file + ": " + why;
        return false;
    }
    last_read_exit = exit_data;
    CapturedStdout said;
    auto *map = static_cast<MAPmodel *>(std::calloc(1, sizeof(MAPmodel)));
    // Each reader releases the record when it fails.
    bool ok = map && MAPread_size(map, f) == MAP_OK;
    if (ok && !MAPhas_section(f, "[FILE_SUMMARY]")) {
        MAPfree(map);
        std::fclose(f);
        said.text();
        error = file + ": no [FILE_SUMMARY] section: not a MAP file";
        return false;
    }
    ok = ok && MAPread_unit(map, f) == MAP_OK;
    if (ok && (map->n_input <= 0 || map->n_output <= 0)) {
        const bool inputs = map->n_input <= 0;
        MAPfree(map);
        std::fclose(f);
        said.text();
        error = file + ": the MAP file declares no state-space " + (inputs ? "inputs" : "outputs");
        return false;
    }
    ok = ok && MAPalloc(map) == MAP_OK && MAPread_input(map, f) == MAP_OK &&
         MAPread_output(map, f) == MAP_OK && MAPread_external_input(map, f) == MAP_OK &&
         MAPread_node(map, f) == MAP_OK && MAPread_element(map, f) == MAP_OK &&
         MAPread_wheel(map, f) == MAP_OK;
    std::fclose(f);
    const std::string reason = said.text();
    if (!ok) {
        error = with_reason(file + ": the MAP file was refused", reason);
        return false;
    }
    out.reset(map);
    return true;
}

Eigen::MatrixXd dense_matrix(const ABCmtx &m) {
    Eigen::MatrixXd x(m.nrows, m.ncols);
    for (int32_t i = 0; i < m.nrows; ++i)
        for (int32_t j = 0; j < m.ncols; ++j)
            x(i, j) = m.rows[i][j];
    return x;
}

namespace {

bool read_matrix(const std::string &base, char letter, Eigen::MatrixXd &m, std::string &error) {
    if (std::string why; !input_file_ok(base + letter, abc_file_max, why)) {
        error = "cannot read " + why;
        last_read_exit = exit_no_input;
        return false;
    }
    last_read_exit = exit_data;
    CapturedStdout said;
    ABCmtx *x = ABCread_mtx(base.c_str(), letter);
    const std::string reason = said.text();
    const std::string name = base + letter;
    if (!x) {
        error = with_reason("cannot read " + name, reason);
        return false;
    }
    m = dense_matrix(*x); // every term finite: the reader refuses any other
    ABCfree(x);
    return true;
}

bool size_is(const Eigen::MatrixXd &m, const std::string &name, Eigen::Index rows,
             Eigen::Index cols, const std::string &why, std::string &error) {
    // A matrix of no rows is an empty file, whose column count is 0.
    if (m.rows() == rows && (m.cols() == cols || rows == 0)) return true;
    error = name + " is " + std::to_string(m.rows()) + " x " + std::to_string(m.cols()) + ", not " +
            std::to_string(rows) + " x " + std::to_string(cols) + " (" + why + ")";
    return false;
}

} // namespace

bool read_abc_set(const std::string &base, const MAPmodel &map, analysis::StateSpace &m,
                  std::string &error) {
    if (!read_matrix(base, 'a', m.a, error) || !read_matrix(base, 'b', m.b, error) ||
        !read_matrix(base, 'c', m.c, error) || !read_matrix(base, 'd', m.d, error))
        return false;
    const Eigen::Index n = m.a.rows(), inputs = map.n_input, outputs = map.n_output_all;
    if (!size_is(m.a, base + "a", n, n, "A is square", error) ||
        !size_is(m.b, base + "b", n, inputs, "the states by the MAP file's inputs", error) ||
        !size_is(m.c, base + "c", outputs, n, "the MAP file's outputs by the states", error) ||
        !size_is(m.d, base + "d", outputs, inputs, "the MAP file's outputs by its inputs", error))
        return false;
    m.b.conservativeResize(n, inputs);
    m.c.conservativeResize(outputs, n);
    m.d.conservativeResize(outputs, inputs);
    return true;
}

int read_model(const char *command, const std::string &map_file, const std::string &abc_base,
               MapRecord &map, analysis::StateSpace &model) {
    std::string error;
    if (read_map_file(map_file, map, error) && read_abc_set(abc_base, *map, model, error)) return 0;
    complain(command, error);
    return model_read_exit();
}

// ---- the check ----------------------------------------------------------------

namespace {

// A pair whose peak response is below this fraction of the largest peak of
// its output (over all inputs) or of its input (over all outputs) is
// measured against that largest peak: its only path is a term small enough
// for the converter's threshold to drop, and against its own tiny peak any
// change would read as a large one.
constexpr double negligible_peak = 1e-6;

// What the converter means to write on one TF card: its first line and its
// terms, each with what it stands for.
struct MeantTerm {
    int32_t point, component;
    double a0, a1;
    std::string what;
};
struct MeantCard {
    int32_t point, component;
    double b0;
    std::vector<MeantTerm> terms;
    std::string what;
};

// The step between neighbouring values of the field the converter prints v
// in. An 8-character field: 4 significant digits, 3 where the exponent
// takes two digits. A 16-character (large) field: 13 significant digits,
// one less for a sign and one less per exponent digit beyond the first.
double field_step(double v, bool large) {
    const double a = std::abs(v);
    if (large) {
        if (a == 0.0) return 0.0;
        const int e = static_cast<int>(std::floor(std::log10(a)));
        const int exponent_digits = std::abs(e) >= 100 ? 3 : std::abs(e) >= 10 ? 2 : 1;
        return std::pow(10.0, e - (12 - (v < 0.0) - (exponent_digits - 1)));
    }
    if (!(a > 1e-30)) return 0.0;
    int e = 30;
    while (e > -30 && a / std::pow(10.0, e) < 0.999)
        --e;
    return std::pow(10.0, std::abs(e) < 10 ? e - 3 : e - 2);
}

// How far a coefficient read back lies from the one meant, relative to it,
// beyond the rounding of its field (and of the header values it was formed
// from); an absolute figure for a coefficient meant to be 0.
double coefficient_deviation(double read, double meant, bool large) {
    const double d = std::abs(read - meant);
    if (meant == 0.0) return d;
    const double slack = 0.5 * field_step(meant, large) + 1e-6 * std::abs(meant);
    return std::max(0.0, d - slack) / std::abs(meant);
}

std::string percent(double v) {
    char t[64];
    if (!std::isfinite(v)) return "without bound";
    std::snprintf(t, sizeof t, "%.3g %%", 100.0 * v);
    return t;
}

std::string g(double v) {
    char t[64];
    std::snprintf(t, sizeof t, "%.6g", v);
    return t;
}

class Checker {
  public:
    Checker(const CheckSettings &s, const analysis::Deck &deck, const MAPmodel &map,
            const analysis::StateSpace &abc, const analysis::StateSpace *reference,
            analysis::Progress progress)
        : s_(s), deck_(deck), map_(map), abc_(abc), reference_(reference),
          progress_(std::move(progress)) {}
    // False when the check could not be made (error set); the figures and
    // failures otherwise.
    bool run(nlohmann::json &report, std::string &error);

  private:
    const CheckSettings &s_;
    const analysis::Deck &deck_;
    const MAPmodel &map_;
    const analysis::StateSpace &abc_;
    const analysis::StateSpace *reference_; // the full model of a reduced deck, or null
    std::vector<analysis::Mode> abc_modes_;
    bool have_abc_modes_ = false;
    analysis::Progress progress_;
    // The model's modes, worked out once.
    const std::vector<analysis::Mode> &abc_modes() {
        if (!have_abc_modes_) {
            if (progress_) progress_("modes of the model", 0, 0);
            abc_modes_ = analysis::modes(abc_.a);
            have_abc_modes_ = true;
        }
        return abc_modes_;
    }
    analysis::ModelLayout layout_;
    std::vector<std::string> failures_;
    long coefficients_ = 0, dmig_entries_ = 0;
    double coefficient_deviation_ = 0.0;
    bool large_fields_ = false; // the card being checked is TF* or DMIG*
    std::vector<std::string> warnings_;
    double lu_fac_ = 0, fu_fac_ = 0, tu_fac_ = 0;

    void fail(const std::string &why) { failures_.push_back(why); }
    void compare_model(const analysis::StateSpace &rebuilt, nlohmann::json &report);
    bool unit_factors();
    bool units_from_cards(std::array<std::string, 3> &labels);
    void check_cards(nlohmann::json &report);
    std::vector<MeantCard> meant_coupling() const;
    void check_coupling();
    void check_card(const MeantCard &meant, const analysis::TfCard &card);
    void check_coefficient(int line, double read, double meant, const std::string &what,
                           bool counted = true);
    void check_dmig();
    std::vector<analysis::CouplingInput> coupling_inputs() const;
    void check_closed_loop(nlohmann::json &report);
    void check_other_cards();
    void compare_reference(const analysis::StateSpace &rebuilt, nlohmann::json &report);
    std::string time_label() const;
    bool plot(const analysis::StateSpace &rebuilt, const analysis::ModelComparison &c,
              Eigen::Index output, Eigen::Index input, std::string &error);
};

void Checker::check_coefficient(int line, double read, double meant, const std::string &what,
                                bool counted) {
    const double d = coefficient_deviation(read, meant, large_fields_);
    if (counted) ++coefficients_;
    coefficient_deviation_ = std::max(coefficient_deviation_, d);
    if (!(d <= s_.tolerance))
        fail(deck_.file + ", line " + std::to_string(line) + ": " + what + " is " + g(read) +
             " where " + g(meant) + " was meant (" +
             (meant == 0.0 ? "off by " + g(d) : percent(d)) + ")");
}

bool Checker::unit_factors() {
    const analysis::DeckHeader &h = deck_.header;
    const std::string *labels[3] = {&h.length_unit, &h.force_unit, &h.time_unit};
    double *factors[3] = {&lu_fac_, &fu_fac_, &tu_fac_};
    const char *kinds[3] = {"length", "force", "time"};
    bool ok = true;
    for (int k = 0; k < 3; ++k) {
        char buffer[64] = {};
        if (labels[k]->size() < sizeof buffer)
            std::memcpy(buffer, labels[k]->c_str(), labels[k]->size());
        *factors[k] = buffer[0] ? UNTconstant(buffer) : 0.0;
        if (*factors[k] == 0.0) {
            fail(deck_.file + ": the header names no known " + kinds[k] + " unit (\"" + *labels[k] +
                 "\"), so the coupling cards cannot be checked");
            ok = false;
        }
    }
    const char *names[4] = {"stiffness", "damping", "torsional stiffness", "torsional damping"};
    for (int k = 0; k < 4; ++k)
        if (!h.has_connecting[static_cast<std::size_t>(k)]) {
            fail(deck_.file + ": the header does not give the connecting " + names[k] +
                 ", so the coupling cards cannot be checked");
            ok = false;
        }
    return ok;
}

std::string Checker::time_label() const {
    std::string label;
    double constant = 0.0;
    return units::nearest_label(tu_fac_, units::Quantity::time, label, constant)
               ? label
               : g(tu_fac_) + " s";
}

// The export units the cards themselves are written in: the length from a
// translational DMIG value (or the connecting stiffness on the structure),
// the force from a translational force card, the time from the connecting
// damping on the structure. Sets the factors when each of them is a unit
// of the vocabulary.
bool Checker::units_from_cards(std::array<std::string, 3> &labels) {
    const analysis::DeckHeader &h = deck_.header;
    if (!h.has_connecting[0] || !h.has_connecting[1] || !(h.connecting[0] > 0.0) ||
        !(h.connecting[1] > 0.0))
        return false;
    const MAPmodel &m = map_;
    double length = 0.0, force = 0.0, damping_ratio = 0.0; // time = damping_ratio x length
    for (const analysis::DmigEntry &e : deck_.dmig_entries)
        if (e.name == "K2P" && e.row_component >= 1 && e.row_component <= 3 && e.value != 0.0) {
            length = -m.unit_length / e.value;
            break;
        }
    for (int32_t i = 0; i < m.n_input - m.n_external; ++i) {
        const MAPsignal &in = m.input[i];
        if (in.dof < 1 || in.dof > 3) continue;
        for (const analysis::TfCard &t : deck_.tfs) {
            if (t.set != layout_.set) continue;
            if (t.point == in.id && t.component == in.dof && t.terms.size() == 1 &&
                t.terms[0].a0 != 0.0 && force == 0.0)
                force = m.unit_force / t.terms[0].a0;
            if (t.component != 0 || t.point != layout_.input_base() + i + 1) continue;
            for (const analysis::TfTerm &term : t.terms)
                if (term.point == in.id && term.component == in.dof) {
                    if (length == 0.0) length = -term.a0 / h.connecting[0];
                    if (term.a1 != 0.0 && damping_ratio == 0.0)
                        damping_ratio = -h.connecting[1] / term.a1;
                }
        }
    }
    double factors[3];
    if (!units::nearest_label(length, units::Quantity::length, labels[0], factors[0]) ||
        !units::nearest_label(force, units::Quantity::force, labels[1], factors[1]) ||
        !units::nearest_label(damping_ratio * factors[0], units::Quantity::time, labels[2],
                              factors[2]))
        return false;
    lu_fac_ = factors[0];
    fu_fac_ = factors[1];
    tu_fac_ = factors[2];
    return true;
}

// The coupling and DMIG cards in the units the header names; when they do
// not match there, in the units the cards are written in, if those make
// every card match (the plain converter entry names its label variables in
// the header, which need not be the units it converted with).
void Checker::check_cards(nlohmann::json &report) {
    const std::size_t before = failures_.size();
    const bool header = unit_factors();
    if (header) check_coupling();
    check_dmig();
    if (failures_.size() == before) return;
    const std::vector<std::string> found(failures_.begin() + static_cast<long>(before),
                                         failures_.end());
    const long coefficients = coefficients_, entries = dmig_entries_;
    const double deviation = coefficient_deviation_;
    const double factors[3] = {lu_fac_, fu_fac_, tu_fac_};
    std::array<std::string, 3> labels;
    if (units_from_cards(labels) &&
        (lu_fac_ != factors[0] || fu_fac_ != factors[1] || tu_fac_ != factors[2])) {
        failures_.resize(before);
        coefficients_ = dmig_entries_ = 0;
        coefficient_deviation_ = 0.0;
        check_coupling();
        check_dmig();
        if (failures_.size() == before) {
            const analysis::DeckHeader &h = deck_.header;
            warnings_.push_back(deck_.file + ": the header names the export units " +
                                h.length_unit + ", " + h.force_unit + " and " + h.time_unit +
                                ", but the coupling and DMIG cards are written in " + labels[0] +
                                ", " + labels[1] + " and " + labels[2] +
                                "; they were checked in those");
            report["units_from_cards"] = {
                {"length", labels[0]}, {"force", labels[1]}, {"time", labels[2]}};
            return;
        }
    }
    // The findings against the header's units stand.
    failures_.resize(before);
    failures_.insert(failures_.end(), found.begin(), found.end());
    coefficients_ = coefficients;
    dmig_entries_ = entries;
    coefficient_deviation_ = deviation;
    lu_fac_ = factors[0];
    fu_fac_ = factors[1];
    tu_fac_ = factors[2];
}

std::vector<MeantCard> Checker::meant_coupling() const {
    const MAPmodel &m = map_;
    const auto &v = deck_.header.connecting; // stiffness, damping, torsional ones, SI
    const double ul = m.unit_length, uf = m.unit_force, ut = m.unit_time;
    const int32_t internal = m.n_input - m.n_external;
    std::vector<MeantCard> cards;
    for (int32_t i = 0; i < internal; ++i) {
        const MAPsignal &in = m.input[i];
        const std::string name = "internal input " + std::to_string(i + 1);
        const auto point = static_cast<int32_t>(layout_.input_base() + i + 1);
        int32_t d = -1, vel = -1;
        for (int32_t j = 0; j < m.n_output; ++j)
            if (m.output[j].id == in.id && m.output[j].dof == in.dof) {
                if (m.output[j].kind == 1) d = j;
                if (m.output[j].kind == 2) vel = j;
            }
        const bool rot = in.dof > 3;
        if (d >= 0 || vel >= 0) {
            MeantCard c{point, 0, rot ? uf * ul : uf, {}, "coupling card of " + name};
            // The structure point's terms are negative: f = Kv (x - D) + Cv (v - V).
            c.terms.push_back({in.id, in.dof, -(rot ? v[2] : lu_fac_ * v[0]),
                               -(rot ? v[3] / tu_fac_ : v[1] / tu_fac_ * lu_fac_),
                               "the structure point"});
            if (d >= 0)
                c.terms.push_back({static_cast<int32_t>(layout_.output_base() + d + 1), 0,
                                   rot ? v[2] : v[0] * ul, 0.0,
                                   "the displacement output " + std::to_string(d + 1)});
            if (vel >= 0)
                c.terms.push_back({static_cast<int32_t>(layout_.output_base() + vel + 1), 0,
                                   rot ? v[3] / ut : ul / ut * v[1], 0.0,
                                   "the velocity output " + std::to_string(vel + 1)});
            cards.push_back(std::move(c));
        }
        MeantCard force{in.id, in.dof, 0.0, {}, "force card of " + name};
        force.terms.push_back(
            {point, 0, rot ? (ul * uf) / (lu_fac_ * fu_fac_) : uf / fu_fac_, 0.0, "the input"});
        cards.push_back(std::move(force));
    }
    return cards;
}

void Checker::check_card(const MeantCard &meant, const analysis::TfCard &card) {
    const std::string where = meant.what + " (point " + std::to_string(meant.point) + ")";
    large_fields_ = card.large;
    check_coefficient(card.line, card.b0, meant.b0, where + ", B0");
    check_coefficient(card.line, card.b1, 0.0, where + ", B1");
    check_coefficient(card.line, card.b2, 0.0, where + ", B2");
    std::vector<bool> used(card.terms.size(), false);
    for (const MeantTerm &t : meant.terms) {
        std::size_t k = 0;
        while (k < card.terms.size() && (used[k] || card.terms[k].point != t.point ||
                                         card.terms[k].component != t.component))
            ++k;
        if (k == card.terms.size()) {
            fail(deck_.file + ", line " + std::to_string(card.line) + ": " + where +
                 " has no term on " + t.what + " (point " + std::to_string(t.point) +
                 ", component " + std::to_string(t.component) + ")");
            continue;
        }
        used[k] = true;
        const analysis::TfTerm &term = card.terms[k];
        check_coefficient(term.line, term.a0, t.a0, where + ", A0 on " + t.what);
        check_coefficient(term.line, term.a1, t.a1, where + ", A1 on " + t.what);
        check_coefficient(term.line, term.a2, 0.0, where + ", A2 on " + t.what);
    }
    for (std::size_t k = 0; k < card.terms.size(); ++k)
        if (!used[k])
            fail(deck_.file + ", line " + std::to_string(card.terms[k].line) + ": " + where +
                 " has a term on point " + std::to_string(card.terms[k].point) +
                 " that the model does not give it");
}

void Checker::check_coupling() {
    const int64_t inputs = int64_t{map_.n_input};
    const int64_t internal_end = layout_.input_base() + map_.n_input - map_.n_external;
    auto is_input = [&](const analysis::TfCard &t) {
        return t.component == 0 && t.point > layout_.input_base() &&
               t.point <= layout_.input_base() + inputs;
    };
    // The deck's coupling, external-input and force cards by their point.
    std::map<std::pair<int32_t, int32_t>, const analysis::TfCard *> cards;
    for (const analysis::TfCard &t : deck_.tfs) {
        if (t.set != layout_.set || (t.component == 0 && !is_input(t))) continue;
        if (!cards.emplace(std::make_pair(t.point, t.component), &t).second)
            fail(deck_.file + ", line " + std::to_string(t.line) + ": a second TF card on point " +
                 std::to_string(t.point) + ", component " + std::to_string(t.component));
    }
    std::vector<MeantCard> meant = meant_coupling();
    // The external inputs' unit stiffness, which only the host function
    // writes: all of them, or none.
    bool external_cards = false;
    for (const auto &[key, card] : cards)
        external_cards = external_cards || (key.second == 0 && key.first > internal_end);
    if (external_cards)
        for (int32_t e = 0; e < map_.n_external; ++e)
            meant.push_back({static_cast<int32_t>(internal_end + e + 1),
                             0,
                             1.0,
                             {},
                             "external-input card of external input " + std::to_string(e + 1)});
    for (const MeantCard &c : meant) {
        auto found = cards.find({c.point, c.component});
        if (found == cards.end()) {
            fail(deck_.file + ": no " + c.what + " (a TF card on point " + std::to_string(c.point) +
                 ", component " + std::to_string(c.component) + ")");
            continue;
        }
        check_card(c, *found->second);
        cards.erase(found);
    }
    for (const auto &[key, card] : cards)
        fail(deck_.file + ", line " + std::to_string(card->line) + ": a TF card on point " +
             std::to_string(key.first) + ", component " + std::to_string(key.second) +
             " that the model does not give");
}

void Checker::check_dmig() {
    const MAPmodel &m = map_;
    // The GRID identifiers the geometry cards give: one unused identifier
    // after the last state, the nodes, then per wheel its centre and rim.
    const int32_t divisions = deck_.header.has_wheel_divisions ? deck_.header.wheel_divisions : 24;
    std::vector<MAPsignal> rows(m.output, m.output + m.n_output_all);
    const int64_t first_grid = layout_.state_base() + layout_.states + 2;
    for (int32_t n = 0; n < m.n_node; ++n)
        for (int c = 0; c < 3; ++c)
            rows[static_cast<std::size_t>(m.node_out[n][c])].id =
                static_cast<int32_t>(first_grid + n);
    for (int32_t w = 0; w < m.n_wheel; ++w)
        for (int c = 0; c < 6; ++c)
            rows[static_cast<std::size_t>(m.wheel_out[w][c])].id =
                static_cast<int32_t>(first_grid + m.n_node + int64_t{w} * (2 * divisions + 1));
    std::map<int32_t, const analysis::DmigEntry *> entries;
    for (const analysis::DmigEntry &e : deck_.dmig_entries) {
        if (e.name != "K2P") continue;
        if (e.column_component != 0 || !entries.emplace(e.column_point, &e).second)
            fail(deck_.file + ", line " + std::to_string(e.line) +
                 ": a second DMIG entry of K2P on column point " + std::to_string(e.column_point) +
                 " or one of a component other than 0");
    }
    for (int32_t j = m.n_output; j < m.n_output_all; ++j) {
        const auto column = static_cast<int32_t>(layout_.output_base() + j + 1);
        const MAPsignal &row = rows[static_cast<std::size_t>(j)];
        const std::string what = "DMIG entry of output " + std::to_string(j + 1) +
                                 " (column point " + std::to_string(column) + ")";
        auto found = entries.find(column);
        if (found == entries.end()) {
            fail(deck_.file + ": no " + what + " (its grid point would not follow the model)");
            continue;
        }
        const analysis::DmigEntry &e = *found->second;
        ++dmig_entries_;
        if (e.row_point != row.id || e.row_component != row.dof)
            fail(deck_.file + ", line " + std::to_string(e.line) + ": the " + what +
                 " names GRID " + std::to_string(e.row_point) + " component " +
                 std::to_string(e.row_component) + " where GRID " + std::to_string(row.id) +
                 " component " + std::to_string(row.dof) + " was meant");
        large_fields_ = e.large;
        if (lu_fac_ != 0.0)
            check_coefficient(e.line, e.value, row.dof > 3 ? -1.0 : -(m.unit_length / lu_fac_),
                              "the " + what + ", value", false);
        entries.erase(found);
    }
    for (const auto &[column, e] : entries)
        fail(deck_.file + ", line " + std::to_string(e->line) + ": a DMIG entry of K2P on point " +
             std::to_string(column) + ", which is no graphic output");
}

// A reduced deck against the full model it was reduced from: the static
// gain and the responses up to the reduced model's highest mode.
void Checker::compare_reference(const analysis::StateSpace &rebuilt, nlohmann::json &report) {
    if (!reference_) return;
    double up_to = 0.0;
    try {
        for (const analysis::Mode &m : abc_modes())
            if (std::isfinite(m.frequency_hz)) up_to = std::max(up_to, m.frequency_hz);
    } catch (const std::exception &e) {
        fail(std::string("reference: ") + e.what());
        return;
    }
    const analysis::ReductionError e = analysis::reduction_error(*reference_, rebuilt, up_to);
    auto finite = [](double v) { return std::isfinite(v) ? nlohmann::json(v) : "infinite"; };
    report["reference"] = {{"abc_base", s_.reference},
                           {"static_gain_deviation",
                            e.has_static ? finite(e.static_gain_deviation) : nlohmann::json()},
                           {"max_response_deviation", finite(e.max_response_deviation)},
                           {"worst_pair", {e.worst_input + 1, e.worst_output + 1}},
                           {"up_to_hz", e.grid.back()}};
    if (e.has_static && !(e.static_gain_deviation <= s_.tolerance))
        fail("reference " + s_.reference +
             ": the deck's static gain deviates from the full "
             "model's by " +
             percent(e.static_gain_deviation) + " of its largest term");
    if (!(e.max_response_deviation <= s_.tolerance))
        fail("reference " + s_.reference + ": input " + std::to_string(e.worst_input + 1) +
             " -> output " + std::to_string(e.worst_output + 1) + ": the deck's response up to " +
             g(e.grid.back()) + " Hz deviates from the full model's by " +
             percent(e.max_response_deviation) + " of its peak");
}

// Cards of the converter's kinds beyond those the model explains: extra
// points, graphic cards and DMIG matrices the converter would not write.
void Checker::check_other_cards() {
    const MAPmodel &m = map_;
    const int64_t divisions = deck_.header.has_wheel_divisions ? deck_.header.wheel_divisions : 24;
    int64_t points = 0;
    for (const analysis::EpointCard &e : deck_.epoints)
        points += int64_t{e.last} - e.first + 1;
    const struct {
        const char *card;
        std::size_t found;
        int64_t meant;
    } counts[] = {
        {"extra points (EPOINT)", static_cast<std::size_t>(points),
         int64_t{m.n_input} + m.n_output_all + layout_.states},
        {"GRID", deck_.grids.size(), m.n_node + m.n_wheel * (2 * divisions + 1)},
        {"PLOTEL", deck_.plotels.size(), m.n_element + m.n_wheel * 3 * divisions},
        {"CORD2R", deck_.cord2rs.size(), m.n_wheel},
        {"RBE2", deck_.rbe2s.size(), m.n_wheel},
    };
    for (const auto &c : counts)
        if (static_cast<int64_t>(c.found) != c.meant)
            fail(deck_.file + ": the deck holds " + std::to_string(c.found) + " " + c.card +
                 " where the model gives " + std::to_string(c.meant));
    for (const analysis::DmigHeader &h : deck_.dmig_headers)
        if (h.name != "K2P")
            fail(deck_.file + ", line " + std::to_string(h.line) + ": a DMIG matrix " + h.name +
                 " that the model does not give");
    for (const analysis::TfCard &t : deck_.tfs)
        if (t.set != layout_.set) {
            warnings_.push_back(deck_.file + ", line " + std::to_string(t.line) +
                                ": TF cards of set " + std::to_string(t.set) +
                                " beside the model's set " + std::to_string(layout_.set) +
                                " were not checked");
            break;
        }
}

// The model's internal inputs as the coupling relation of the deck's
// header: f = Kv (x - D) + Cv (v - V) in SI units, rotations in radians.
std::vector<analysis::CouplingInput> Checker::coupling_inputs() const {
    const MAPmodel &m = map_;
    const auto &v = deck_.header.connecting;
    std::vector<analysis::CouplingInput> inputs;
    for (int32_t i = 0; i < m.n_input - m.n_external; ++i) {
        const MAPsignal &in = m.input[i];
        analysis::CouplingInput c;
        c.at = {in.id, in.dof};
        c.input = i;
        for (int32_t j = 0; j < m.n_output; ++j)
            if (m.output[j].id == in.id && m.output[j].dof == in.dof) {
                if (m.output[j].kind == 1) c.displacement = j;
                if (m.output[j].kind == 2) c.velocity = j;
            }
        const bool rot = c.at.rotation();
        c.kv = rot ? v[2] : v[0];
        c.cv = rot ? v[3] : v[1];
        c.force = rot ? m.unit_force * m.unit_length : m.unit_force;
        c.length = rot ? 1.0 : m.unit_length;
        c.velocity_factor = c.length / m.unit_time;
        inputs.push_back(c);
    }
    return inputs;
}

std::string point_name(const analysis::StructurePoint &p) {
    return "structure point " + std::to_string(p.point) + " component " +
           std::to_string(p.component);
}

std::string point_list(const std::vector<analysis::StructurePoint> &points) {
    std::string s;
    for (const analysis::StructurePoint &p : points)
        s += (s.empty() ? "" : ", ") + std::to_string(p.point) + "/" + std::to_string(p.component);
    return s.empty() ? "none" : s;
}

// The deck and the model, each coupled to the test structure: static
// compliance and roots.
void Checker::check_closed_loop(nlohmann::json &report) {
    report["closed_loop"] = nullptr;
    const analysis::DeckHeader &h = deck_.header;
    if (lu_fac_ == 0.0 || fu_fac_ == 0.0 || tu_fac_ == 0.0 ||
        std::count(h.has_connecting.begin(), h.has_connecting.end(), true) != 4)
        return; // the coupling cards could not be checked either; said so there
    const std::vector<analysis::CouplingInput> coupling = coupling_inputs();
    if (coupling.empty()) return; // nothing joins the model to a structure
    analysis::TestStructure t;
    try {
        t = analysis::default_structure(abc_, coupling, abc_modes());
    } catch (const std::exception &e) {
        fail(std::string("closed loop: ") + e.what());
        return;
    }
    if (s_.structure_stiffness > 0.0) t.stiffness = s_.structure_stiffness;
    if (s_.structure_mass > 0.0) t.mass = s_.structure_mass;
    analysis::CoupledSystem model, deck;
    std::string error;
    if (progress_) progress_("closed loop: the model and the deck on the test structure", 0, 0);
    if (!analysis::couple_model(abc_, coupling, t, model, error)) {
        fail("closed loop: " + error);
        return;
    }
    if (!analysis::couple_deck(deck_, layout_, {lu_fac_, fu_fac_, tu_fac_}, t, deck, error,
                               warnings_)) {
        fail("closed loop: " + error);
        return;
    }
    if (model.points != deck.points) {
        fail("closed loop: the deck acts on the structure points " + point_list(deck.points) +
             " where the model's coupling names " + point_list(model.points));
        return;
    }
    // Static compliance: the largest deviation against the largest deflection.
    const Eigen::MatrixXd diff = deck.compliance - model.compliance;
    const double largest = model.compliance.cwiseAbs().maxCoeff();
    Eigen::Index row = 0, col = 0;
    const double worst = diff.cwiseAbs().maxCoeff(&row, &col);
    double deviation = worst == 0.0 ? 0.0 : largest > 0.0 ? worst / largest : HUGE_VAL;
    if (!std::isfinite(deviation)) deviation = HUGE_VAL;
    const auto &points = model.points;
    auto finite = [](double v) { return std::isfinite(v) ? nlohmann::json(v) : "infinite"; };
    if (!(deviation <= s_.tolerance))
        fail("closed loop: the static deflection of " +
             point_name(points[static_cast<std::size_t>(row)]) + " under a load at " +
             point_name(points[static_cast<std::size_t>(col)]) + " is " +
             g(deck.compliance(row, col)) + " where the model gives " +
             g(model.compliance(row, col)) + " (" + percent(deviation) +
             " of the largest deflection)");
    nlohmann::json &figures = report["closed_loop"];
    figures = {{"static_deviation", finite(deviation)},
               {"frequency_shift", nullptr},
               {"damping_shift", nullptr},
               {"stability_changed", nullptr},
               {"structure_stiffness_n_per_m", t.stiffness},
               {"structure_mass_kg", t.mass},
               {"structure_points", points.size()},
               {"modes", nullptr}};
    // The state-space cards are per second, the coupling damping per the
    // export time unit: in no one time base does such a deck move as the
    // model does.
    if (tu_fac_ != 1.0) {
        fail("closed loop: the deck's time unit is " + time_label() +
             ": its state-space cards are per second and its coupling damping per " + time_label() +
             ", so it holds no one time base and its roots are not the model's");
        return;
    }
    // Roots: each of the model's matched to the deck's nearest; a root
    // that rounding alone could move by a tenth of the tolerance tells
    // nothing about the deck.
    analysis::ModelComparison c;
    std::size_t uncertain_model = 0, uncertain_deck = 0;
    try {
        analysis::compare_roots(model.system.a, deck.system.a, s_.tolerance, 0.1 * s_.tolerance, c,
                                uncertain_model, uncertain_deck, progress_);
    } catch (const std::exception &e) {
        fail(std::string("closed loop: ") + e.what());
        return;
    }
    auto root_text = [&](std::size_t k) {
        const analysis::Mode &m = c.first_modes[k];
        return "the coupled root at " + g(m.frequency_hz) + " Hz (damping ratio " +
               g(m.damping_ratio) + ")";
    };
    if (c.frequency_mode != analysis::no_mode && !(c.frequency_change <= s_.tolerance))
        fail("closed loop: " + root_text(c.frequency_mode) + " moves by " +
             percent(c.frequency_change) + " in frequency in the deck, to " +
             g(c.second_modes[c.match[c.frequency_mode]].frequency_hz) + " Hz");
    if (c.damping_mode != analysis::no_mode && !(c.damping_change <= s_.tolerance))
        fail("closed loop: " + root_text(c.damping_mode) + " changes its damping ratio by " +
             percent(c.damping_change) + " in the deck, to " +
             g(c.second_modes[c.match[c.damping_mode]].damping_ratio));
    if (c.stability_changed)
        fail("closed loop: a root of the coupled system changes between stable and unstable "
             "in the deck (largest real part " +
             g(std::max_element(c.second_modes.begin(), c.second_modes.end(),
                                [](const analysis::Mode &a, const analysis::Mode &b) {
                                    return a.eigenvalue.real() < b.eigenvalue.real();
                                })
                   ->eigenvalue.real()) +
             " 1/s in the deck)");
    figures["frequency_shift"] = finite(c.frequency_change);
    figures["damping_shift"] = finite(c.damping_change);
    figures["stability_changed"] = c.stability_changed;
    figures["modes"] = c.first_modes.size();
    figures["uncertain_modes"] = uncertain_model;
    if (uncertain_model > 0)
        warnings_.push_back("closed loop: " + std::to_string(uncertain_model) +
                            " coupled modes of the model are too sensitive to rounding to be "
                            "compared (" +
                            std::to_string(uncertain_deck) + " of the deck's)");
}

void Checker::compare_model(const analysis::StateSpace &rebuilt, nlohmann::json &report) {
    analysis::ModelComparison c;
    std::string why;
    if (!analysis::compare_models(abc_, rebuilt, c, why, 200, progress_)) {
        fail("the models cannot be compared: " + why);
        return;
    }
    abc_modes_ = c.first_modes;
    have_abc_modes_ = true;
    // Modes: relative changes, the damping ratio's absolute change for an
    // undamped mode.
    double df = 0.0, dz = 0.0;
    std::size_t mode_f = analysis::no_mode, mode_z = analysis::no_mode;
    for (std::size_t k = 0; k < c.first_modes.size(); ++k) {
        if (c.match[k] == analysis::no_mode) continue;
        const analysis::Mode &x = c.first_modes[k], &y = c.second_modes[c.match[k]];
        const double f = x.frequency_hz == 0.0
                             ? std::abs(y.frequency_hz)
                             : std::abs(y.frequency_hz - x.frequency_hz) / x.frequency_hz;
        const double z = x.damping_ratio == 0.0 ? std::abs(y.damping_ratio)
                                                : std::abs(y.damping_ratio - x.damping_ratio) /
                                                      std::abs(x.damping_ratio);
        if (mode_f == analysis::no_mode || f > df) df = f, mode_f = k;
        if (mode_z == analysis::no_mode || z > dz) dz = z, mode_z = k;
    }
    auto mode_text = [&](std::size_t k) {
        return "mode " + std::to_string(k + 1) + " (" + g(c.first_modes[k].frequency_hz) + " Hz)";
    };
    if (mode_f != analysis::no_mode && !(df <= s_.tolerance))
        fail(mode_text(mode_f) + ": natural frequency shifted by " + percent(df) + " to " +
             g(c.second_modes[c.match[mode_f]].frequency_hz) + " Hz");
    if (mode_z != analysis::no_mode && !(dz <= s_.tolerance))
        fail(mode_text(mode_z) + ": damping ratio " + g(c.first_modes[mode_z].damping_ratio) +
             " changed by " + percent(dz) + " to " +
             g(c.second_modes[c.match[mode_z]].damping_ratio));
    if (c.stability_changed) fail("a mode changed between stable and unstable");

    // Responses, leaving out the pairs whose peak is negligible.
    const Eigen::Index p = c.peak.rows(), q = c.peak.cols();
    double worst = 0.0;
    Eigen::Index wo = -1, wi = -1;
    long negligible = 0;
    for (Eigen::Index o = 0; o < p; ++o)
        for (Eigen::Index i = 0; i < q; ++i) {
            const double m = c.peak(o, i), d = c.deviation(o, i);
            const double around = std::max(c.peak.row(o).maxCoeff(), c.peak.col(i).maxCoeff());
            // A pair negligible in the model is measured against the largest
            // response of its output or input: a deck that moves it there
            // deviates all the same.
            double scale = m;
            if (std::isfinite(around) && m < negligible_peak * around) {
                ++negligible;
                scale = around;
            }
            double r = d == 0.0 ? 0.0 : scale == 0.0 ? HUGE_VAL : d / scale;
            if (!std::isfinite(r)) r = HUGE_VAL;
            if (wo < 0 || r > worst) worst = r, wo = o, wi = i;
        }
    if (wo >= 0 && !(worst <= s_.tolerance))
        fail("input " + std::to_string(wi + 1) + " -> output " + std::to_string(wo + 1) +
             ": the response deviates by " + percent(worst) + " of its peak");

    const std::size_t real_modes = static_cast<std::size_t>(
        std::count_if(c.first_modes.begin(), c.first_modes.end(),
                      [](const analysis::Mode &m) { return !m.oscillating; }));
    report["modes"] = {{"pairs", c.first_modes.size() - real_modes}, {"real", real_modes}};
    report["max_frequency_shift"] = df;
    report["frequency_shift_mode"] =
        mode_f == analysis::no_mode ? nlohmann::json() : nlohmann::json(mode_f + 1);
    report["max_damping_shift"] = dz;
    report["damping_shift_mode"] =
        mode_z == analysis::no_mode ? nlohmann::json() : nlohmann::json(mode_z + 1);
    report["stability_changed"] = c.stability_changed;
    report["max_response_deviation"] = std::isfinite(worst) ? nlohmann::json(worst) : "infinite";
    report["worst_pair"] = wo < 0 ? nlohmann::json() : nlohmann::json({wi + 1, wo + 1});
    report["negligible_pairs"] = negligible;
    report["frequencies"] = c.grid.size();
    report["frequencies_per_decade"] = c.per_decade;
    report["frequency_range_hz"] = {c.grid.front(), c.grid.back()};

    if (!s_.plot.empty()) {
        Eigen::Index po = wo, pi = wi;
        if (s_.pair_input > 0) po = s_.pair_output - 1, pi = s_.pair_input - 1;
        if (po < 0) po = 0, pi = 0;
        std::string error;
        if (!plot(rebuilt, c, po, pi, error)) {
            report["plot_error"] = error;
        } else {
            report["plot"] = s_.plot;
            report["plot_pair"] = {pi + 1, po + 1};
        }
    }
}

bool Checker::plot(const analysis::StateSpace &rebuilt, const analysis::ModelComparison &c,
                   Eigen::Index output, Eigen::Index input, std::string &error) {
    analysis::ResponsePlot p;
    std::string in_unit, out_unit;
    const std::string in = input_caption(map_, static_cast<int32_t>(input), in_unit);
    const std::string out_name = output_caption(map_, static_cast<int32_t>(output), out_unit);
    p.title = in + " -> " + out_name;
    p.magnitude_label = "magnitude / (" + out_unit + " per " + in_unit + ")";
    p.first_label = "ABC model " + s_.abc_base;
    p.second_label = "rebuilt from " + s_.bdf;
    // Every fourth grid frequency draws smooth curves in a fraction of the
    // points.
    for (std::size_t k = 0; k < c.grid.size(); k += 4) {
        const double f = c.grid[k];
        p.frequency_hz.push_back(f);
        p.first.push_back(analysis::frequency_response(abc_, f)(output, input));
        p.second.push_back(analysis::frequency_response(rebuilt, f)(output, input));
    }
    const std::string svg = analysis::response_plot_svg(p, error);
    if (svg.empty()) return false;
    OutputFile out;
    std::FILE *f = out.open(s_.plot.c_str());
    if (!f || std::fwrite(svg.data(), 1, svg.size(), f) != svg.size() || !out.commit()) {
        error = out.error();
        return false;
    }
    return true;
}

bool Checker::run(nlohmann::json &report, std::string &error) {
    layout_ =
        analysis::layout_from_map(map_.grid_id_offset, map_.n_input, map_.n_external, map_.n_output,
                                  map_.n_node, map_.n_wheel, static_cast<int32_t>(abc_.a.rows()));
    if (deck_.header.has_set) layout_.set = deck_.header.set;
    if (s_.pair_input > map_.n_input || s_.pair_output > map_.n_output_all) {
        error = "--pair " + std::to_string(s_.pair_input) + "," + std::to_string(s_.pair_output) +
                ": the model has " + std::to_string(map_.n_input) + " inputs and " +
                std::to_string(map_.n_output_all) + " outputs";
        return false;
    }
    // The model's figures stay null when the deck does not hold the model.
    for (const char *key : {"max_frequency_shift", "max_damping_shift", "stability_changed",
                            "max_response_deviation", "worst_pair"})
        report[key] = nullptr;
    analysis::StateSpace rebuilt;
    std::string why;
    if (analysis::rebuild_model(deck_, layout_, rebuilt, why)) {
        compare_model(rebuilt, report);
        compare_reference(rebuilt, report);
    } else
        fail("the deck does not hold the model: " + why);
    check_cards(report);
    check_other_cards();
    check_closed_loop(report);
    report["warnings"] = warnings_;
    report["coefficients_checked"] = coefficients_;
    report["max_coefficient_deviation"] = coefficient_deviation_; // DMIG values included
    report["dmig_entries_checked"] = dmig_entries_;
    report["failures"] = failures_;
    report["passed"] = failures_.empty();
    return true;
}

} // namespace

namespace {

// What a check of a large model is doing, on standard error: a line a
// stage with the time so far, the frequency responses by tenths. Small
// models take a moment and say nothing.
analysis::Progress progress_line(Eigen::Index states, std::chrono::steady_clock::time_point start) {
    if (states < 500) return {};
    return [states, start, tenth = std::size_t{0}](const char *what, std::size_t done,
                                                   std::size_t total) mutable {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (total == 0) {
            std::fprintf(stderr, "sorvan check: %ld states: %s (%.1f s)\n",
                         static_cast<long>(states), what, seconds);
            return;
        }
        if (done * 10 < (tenth + 1) * total && done != total) return;
        tenth = done * 10 / total;
        std::fprintf(stderr, "sorvan check: %ld states: %s, %zu of %zu (%.1f s)\n",
                     static_cast<long>(states), what, done, total, seconds);
    };
}

} // namespace

int check_deck(const CheckSettings &s, nlohmann::json &report, std::string &error) {
    const auto start = std::chrono::steady_clock::now();
    report = {{"file", s.bdf},
              {"map_file", s.map_file},
              {"abc_base", s.abc_base},
              {"tolerance", s.tolerance}};
    if (!input_file_ok(s.bdf, analysis::deck_file_max, error)) {
        error = "cannot read the deck " + error;
        return exit_no_input;
    }
    analysis::Deck deck;
    if (!analysis::read_deck(s.bdf, deck, error)) return check_bad_deck;
    MapRecord map;
    analysis::StateSpace abc;
    if (!read_map_file(s.map_file, map, error) || !read_abc_set(s.abc_base, *map, abc, error))
        return model_read_exit();
    report["states"] = abc.a.rows();
    report["inputs"] = map->n_input;
    report["outputs"] = map->n_output_all;
    analysis::StateSpace reference;
    if (!s.reference.empty() && !read_abc_set(s.reference, *map, reference, error))
        return model_read_exit();
    Checker checker(s, deck, *map, abc, s.reference.empty() ? nullptr : &reference,
                    progress_line(abc.a.rows(), start));
    if (!checker.run(report, error)) return exit_usage;
    report["seconds"] =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // A failed check stays the check's finding, whatever became of the plot.
    if (!report["passed"].get<bool>()) return check_failed;
    if (report.contains("plot_error")) {
        error = "cannot draw " + s.plot + ": " + report["plot_error"].get<std::string>();
        return exit_output;
    }
    return check_passed;
}

std::string check_summary(const nlohmann::json &r) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", r.value("seconds", 0.0));
    if (!r.value("passed", false)) {
        const auto &f = r["failures"];
        return "check FAILED (" + std::to_string(f.size()) + " finding" +
               (f.size() == 1 ? "" : "s") + ", tolerance " + percent(r["tolerance"].get<double>()) +
               "): " + f[0].get<std::string>();
    }
    std::string s = "check passed (tolerance " + percent(r["tolerance"].get<double>()) +
                    "): modes within " + percent(r["max_frequency_shift"].get<double>()) +
                    " in frequency and " + percent(r["max_damping_shift"].get<double>()) +
                    " in damping, responses within " +
                    percent(r["max_response_deviation"].get<double>());
    if (!r["worst_pair"].is_null())
        s += " (input " + std::to_string(r["worst_pair"][0].get<long>()) + " -> output " +
             std::to_string(r["worst_pair"][1].get<long>()) + ")";
    if (r["closed_loop"].is_object() && r["closed_loop"]["static_deviation"].is_number())
        s += ", closed loop within " + percent(r["closed_loop"]["static_deviation"].get<double>()) +
             " statically";
    s += ", " + std::to_string(r["coefficients_checked"].get<long>()) +
         " coupling coefficients and " + std::to_string(r["dmig_entries_checked"].get<long>()) +
         " DMIG entries as meant, in " + seconds;
    if (!r["warnings"].empty()) s += " (see the warning)";
    return s;
}

// ---- the command ----------------------------------------------------------------

namespace {

const std::vector<OptionSpec> check_options = {
    {"map", "MAP_FILE", "the MAP file the deck was converted from", "required"},
    {"abc", "ABC_BASE", "the ABC set the deck was converted from", "required"},
    {"tolerance", "X", "largest relative deviation accepted for every figure", "0.01", Kind::real,
     0, 1e308, true},
    {"plot", "FILE.svg",
     "draw magnitude and phase of both responses of the worst pair (or --pair), the pair named "
     "from the MAP file (input point and component or external name, output point, component "
     "and what it is) and the magnitude in output unit per input unit",
     ""},
    {"pair", "I,O", "the input and output (from 1) to draw instead of the worst pair", ""},
    {"reference", "FULL_BASE",
     "the ABC set of the full model a reduced deck was reduced from: compare the deck with it "
     "too, up to the reduced model's highest mode",
     ""},
    {"structure-stiffness", "X",
     "closed loop: the test structure's spring at each structure point, N/m (N*m/rad at a "
     "rotation)",
     "the model's static stiffness there", Kind::real, 0, 1e308, true},
    {"structure-mass", "X",
     "closed loop: the test structure's mass at each structure point, kg (kg*m^2 at a rotation)",
     "its frequency among the model's modes", Kind::real, 0, 1e308, true},
};

const CommandSpec check_spec{
    "check",
    "BDF_FILE --map MAP_FILE --abc ABC_BASE [--tolerance X] [--plot FILE.svg] [--pair I,O] "
    "[--reference FULL_BASE] [--structure-stiffness X] [--structure-mass X] [--json]",
    1,
    1,
    "BDF_FILE",
    &check_options,
    true,
    "Reads BDF_FILE back and checks it against the model it was converted from. The\n"
    "state-space model is rebuilt from the TF cards (the extra points laid out from the MAP\n"
    "file's GRID_ID_OFFSET and counts, the TF set the header names) and compared with the ABC\n"
    "set: every mode's natural frequency and damping ratio, stability, and the frequency\n"
    "response of every input/output pair over a logarithmic grid from a decade below the\n"
    "lowest mode to a decade above the highest, as the largest deviation relative to the\n"
    "pair's peak; a pair whose peak is below 1e-6 of the largest peak of its output or of its\n"
    "input (its only path a term below the converter's threshold) relative to that largest\n"
    "peak instead. The\n"
    "coupling, external-input and force cards and the DMIG entries are compared coefficient\n"
    "by coefficient with what the converter means to write for the MAP file, the export units\n"
    "and the connecting values the deck's header names, beyond the rounding of their\n"
    "8-character fields.\n"
    "\n"
    "The closed loop: the deck's TF cards are assembled as the solver assembles them (every\n"
    "card's terms added to its dependent point's equation) together with a test structure, a\n"
    "grounded spring and a mass at each structure point a card names, and the same structure\n"
    "is coupled to the ABC model from first principles (the model receives\n"
    "f = Kv (x - D) + Cv (v - V) at each internal input, the structure -f; external inputs\n"
    "held at zero). The static deflections under a unit load at each structure point in turn\n"
    "and the roots of the coupled systems (natural frequency, damping ratio, stability) must\n"
    "agree within the tolerance.",
    "Exit status: 0 every figure within the tolerance; 1 one is not (each is named); 64 bad\n"
    "command line; 65 the deck is refused by the reader (the line is named); 66 the deck, the\n"
    "MAP file or the ABC set cannot be read; 73 the plot cannot be written."};

bool parse_pair(const std::string &text, int &input, int &output) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) return false;
    try {
        std::size_t used = 0;
        const long i = std::stol(text.substr(0, comma), &used);
        if (used != comma) return false;
        const long o = std::stol(text.substr(comma + 1), &used);
        if (used != text.size() - comma - 1 || i < 1 || o < 1 || i > 1000000000 || o > 1000000000)
            return false;
        input = static_cast<int>(i);
        output = static_cast<int>(o);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

void print_report(const nlohmann::json &r) {
    std::printf("deck %s against %s and %s: %ld states, %ld inputs, %ld outputs\n",
                r["file"].get<std::string>().c_str(), r["map_file"].get<std::string>().c_str(),
                r["abc_base"].get<std::string>().c_str(), r["states"].get<long>(),
                r["inputs"].get<long>(), r["outputs"].get<long>());
    if (r["max_frequency_shift"].is_number()) {
        std::printf("  modes:      %ld pairs, %ld real; largest change %s in frequency, %s in "
                    "damping; stability %s\n",
                    r["modes"]["pairs"].get<long>(), r["modes"]["real"].get<long>(),
                    percent(r["max_frequency_shift"].get<double>()).c_str(),
                    percent(r["max_damping_shift"].get<double>()).c_str(),
                    r["stability_changed"].get<bool>() ? "CHANGED" : "unchanged");
        const auto &d = r["max_response_deviation"];
        std::printf("  responses:  %ld frequencies from %s to %s Hz; largest deviation %s",
                    r["frequencies"].get<long>(), g(r["frequency_range_hz"][0]).c_str(),
                    g(r["frequency_range_hz"][1]).c_str(),
                    d.is_number() ? percent(d.get<double>()).c_str() : "without bound");
        if (!r["worst_pair"].is_null())
            std::printf(" (input %ld -> output %ld)", r["worst_pair"][0].get<long>(),
                        r["worst_pair"][1].get<long>());
        std::printf("; %ld negligible pairs measured against their output's or input's largest "
                    "response\n",
                    r["negligible_pairs"].get<long>());
    }
    std::printf("  coupling:   %ld coefficients, largest deviation %s (DMIG values included)\n",
                r["coefficients_checked"].get<long>(),
                percent(r["max_coefficient_deviation"].get<double>()).c_str());
    std::printf("  DMIG:       %ld entries\n", r["dmig_entries_checked"].get<long>());
    if (const auto &l = r["closed_loop"]; l.is_object()) {
        auto shown = [](const nlohmann::json &v) {
            return v.is_number() ? percent(v.get<double>()) : std::string("without bound");
        };
        std::printf("  closed loop: %ld structure points on %s N/m and %s kg each; static "
                    "deflection within %s",
                    l["structure_points"].get<long>(),
                    g(l["structure_stiffness_n_per_m"].get<double>()).c_str(),
                    g(l["structure_mass_kg"].get<double>()).c_str(),
                    shown(l["static_deviation"]).c_str());
        if (l["modes"].is_number())
            std::printf("; %ld modes within %s in frequency and %s in damping; stability %s",
                        l["modes"].get<long>(), shown(l["frequency_shift"]).c_str(),
                        shown(l["damping_shift"]).c_str(),
                        l["stability_changed"].get<bool>() ? "CHANGED" : "unchanged");
        std::printf("\n");
    }
    // The first findings name the fault; a wrong unit repeats it on every card.
    constexpr std::size_t shown = 20;
    const auto &failures = r["failures"];
    for (std::size_t k = 0; k < failures.size() && k < shown; ++k)
        std::printf("  FAIL: %s\n", failures[k].get<std::string>().c_str());
    if (failures.size() > shown)
        std::printf("  ... and %zu more (all of them with --json)\n", failures.size() - shown);
    for (const auto &w : r["warnings"])
        std::printf("  WARNING: %s\n", w.get<std::string>().c_str());
    if (r.contains("reference")) {
        const auto &f = r["reference"];
        const auto figure = [](const nlohmann::json &v) {
            return v.is_number() ? percent(v.get<double>()) : std::string("not defined");
        };
        std::printf(
            "  reference:  %s: static gain within %s, responses up to %s Hz within %s "
            "(input %ld -> output %ld)\n",
            f["abc_base"].get<std::string>().c_str(), figure(f["static_gain_deviation"]).c_str(),
            g(f["up_to_hz"].get<double>()).c_str(), figure(f["max_response_deviation"]).c_str(),
            f["worst_pair"][0].get<long>(), f["worst_pair"][1].get<long>());
    }
    if (r.contains("plot_error"))
        std::printf("  plot:       not drawn: %s\n", r["plot_error"].get<std::string>().c_str());
    if (r.contains("plot"))
        std::printf("  plot:       %s (input %ld -> output %ld)\n",
                    r["plot"].get<std::string>().c_str(), r["plot_pair"][0].get<long>(),
                    r["plot_pair"][1].get<long>());
    std::printf("%s\n", check_summary(r).c_str());
}

} // namespace

const CommandSpec &check_command() {
    return check_spec;
}

int run_check(int argc, char **argv) {
    Parsed args;
    if (int status = parse_command_line(check_spec, argc, argv, args); status >= 0) return status;
    CheckSettings s;
    s.bdf = args.words()[0];
    if (!args.has("map") || !args.has("abc")) {
        complain("check", "--map MAP_FILE and --abc ABC_BASE name the model; both are required");
        return exit_usage;
    }
    s.map_file = args.text("map");
    s.abc_base = args.text("abc");
    if (args.has("tolerance")) s.tolerance = args.real("tolerance");
    if (args.has("plot")) {
        s.plot = args.text("plot");
        if (!want_svg_name("check", "--plot", s.plot)) return exit_usage;
    }
    if (args.has("reference")) s.reference = args.text("reference");
    if (args.has("structure-stiffness")) s.structure_stiffness = args.real("structure-stiffness");
    if (args.has("structure-mass")) s.structure_mass = args.real("structure-mass");
    if (args.has("pair")) {
        if (!parse_pair(args.text("pair"), s.pair_input, s.pair_output)) {
            complain("check", "--pair " + args.text("pair") +
                                  ": give the input and the output, counted from 1, as I,O");
            return exit_usage;
        }
        if (s.plot.empty()) {
            complain("check", "--pair chooses the pair to draw; it needs --plot FILE.svg");
            return exit_usage;
        }
    }
    std::vector<NamedFile> inputs = {{"BDF_FILE", s.bdf}, {"--map", s.map_file}};
    for (const char *letter : {"a", "b", "c", "d"}) {
        inputs.push_back({"the matrix file", s.abc_base + letter});
        if (!s.reference.empty()) inputs.push_back({"--reference's file", s.reference + letter});
    }
    if (!outputs_apart("check", inputs, {{"--plot", s.plot}})) return exit_usage;
    nlohmann::json report;
    std::string error;
    const int status = check_deck(s, report, error);
    if (!error.empty() && status != check_failed) {
        complain("check", error);
        return status;
    }
    if (args.json())
        json_output::emit(report);
    else
        print_report(report);
    // A failed check is the command's error: its summary line.
    if (status == check_failed) {
        if (args.json())
            complain("check", check_summary(report));
        else
            json_output::record_error(check_summary(report));
    }
    return status;
}

} // namespace sorvan::cli
