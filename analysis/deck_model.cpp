// A, B, C, D from the TF cards of a deck, undoing the way the converter
// writes the state and output equations.
#include "analysis/deck_model.h"

#include <limits>
#include <vector>

namespace sorvan::analysis {

namespace {

// Largest model rebuilt: 2^28 terms in the four matrices (2 GiB of doubles).
constexpr int64_t max_terms = int64_t{1} << 28;

enum class Range { none, input, output, state };

struct Place {
    Range range;
    Eigen::Index index; // within its range; inputs counted over internal and external
};

Place locate(const ModelLayout &l, int32_t point) {
    const int64_t p = point;
    const int64_t inputs = int64_t{l.internal_inputs} + l.external_inputs;
    if (p > l.input_base() && p <= l.input_base() + inputs)
        return {Range::input, static_cast<Eigen::Index>(p - l.input_base() - 1)};
    if (p > l.output_base() && p <= l.output_base() + l.outputs)
        return {Range::output, static_cast<Eigen::Index>(p - l.output_base() - 1)};
    if (p > l.state_base() && p <= l.state_base() + l.states)
        return {Range::state, static_cast<Eigen::Index>(p - l.state_base() - 1)};
    return {Range::none, 0};
}

class Rebuild {
  public:
    Rebuild(const Deck &deck, const ModelLayout &layout, StateSpace &model)
        : deck_(deck), layout_(layout), m_(model) {}
    bool run();
    const std::string &error() const { return error_; }

  private:
    const Deck &deck_;
    const ModelLayout &layout_;
    StateSpace &m_;
    std::string error_;
    std::vector<int> state_line_, output_line_; // line of each equation, 0 while none
    std::vector<int> state_mark_, input_mark_;  // line of the last card naming each column

    bool fail(int line, const std::string &reason) {
        error_ = deck_.file + ", line " + std::to_string(line) + ": " + reason;
        return false;
    }
    bool layout_fits();
    bool points_in_ranges(const TfCard &card);
    bool equation(const TfCard &card, Place dependent);
    bool coefficients(const TfCard &card, bool state);
    bool terms(const TfCard &card, Place dependent, double scale);
    bool all_present();
};

bool Rebuild::layout_fits() {
    const ModelLayout &l = layout_;
    if (l.internal_inputs < 0 || l.external_inputs < 0 || l.outputs < 0 || l.states < 0) {
        error_ = deck_.file + ": the model's counts of inputs, outputs and states are negative";
        return false;
    }
    if (l.state_base() + l.states > std::numeric_limits<int32_t>::max()) {
        error_ = deck_.file + ": the model's extra points run beyond the largest identifier";
        return false;
    }
    int64_t cards = 0;
    for (const TfCard &t : deck_.tfs)
        cards += t.set == l.set;
    const int64_t rows = int64_t{l.states} + l.outputs;
    const int64_t cols = int64_t{l.states} + l.internal_inputs + l.external_inputs;
    if (rows > cards) {
        error_ = deck_.file + ": TF set " + std::to_string(l.set) + " has " +
                 std::to_string(cards) + " cards, too few for " + std::to_string(l.states) +
                 " state and " + std::to_string(l.outputs) + " output equations";
        return false;
    }
    if (rows > 0 && cols > max_terms / rows) {
        error_ = deck_.file + ": the model is too large to rebuild";
        return false;
    }
    return true;
}

// Every extra point of a card of the set belongs to the model.
bool Rebuild::points_in_ranges(const TfCard &card) {
    if (card.component == 0 && locate(layout_, card.point).range == Range::none)
        return fail(card.line, "extra point " + std::to_string(card.point) +
                                   " is none of the model's inputs, outputs and states");
    for (const TfTerm &t : card.terms)
        if (t.component == 0 && locate(layout_, t.point).range == Range::none)
            return fail(t.line, "extra point " + std::to_string(t.point) +
                                    " is none of the model's inputs, outputs and states");
    return true;
}

// The first line of a state equation holds b0 x + b1 dx/dt, of an output
// equation b0 y; the terms hold constants alone.
bool Rebuild::coefficients(const TfCard &card, bool state) {
    const char *what = state ? "state" : "output";
    if (card.b2 != 0.0)
        return fail(card.line, std::string("the ") + what + " equation has a second derivative");
    if (state && card.b1 == 0.0)
        return fail(card.line, "the state equation has no derivative of its state (B1 is 0)");
    if (!state && card.b1 != 0.0)
        return fail(card.line, "the output equation has a derivative of its output (B1 is not 0)");
    if (!state && card.b0 == 0.0) return fail(card.line, "the output equation's B0 is 0");
    for (const TfTerm &t : card.terms)
        if (t.a1 != 0.0 || t.a2 != 0.0)
            return fail(t.line, std::string("a term of the ") + what +
                                    " equation has a derivative (A1 or A2 is not 0)");
    return true;
}

bool Rebuild::terms(const TfCard &card, Place dependent, double scale) {
    const bool state = dependent.range == Range::state;
    const Eigen::Index row = dependent.index;
    for (const TfTerm &t : card.terms) {
        if (t.component != 0)
            return fail(t.line, "the equation names the structure point " +
                                    std::to_string(t.point) + " component " +
                                    std::to_string(t.component));
        if (t.point == card.point) return fail(t.line, "the equation names its own point again");
        const Place p = locate(layout_, t.point);
        if (p.range == Range::output)
            return fail(t.line, "the equation names the output point " + std::to_string(t.point));
        if (p.range == Range::none)
            return fail(t.line, "extra point " + std::to_string(t.point) +
                                    " is none of the model's inputs, outputs and states");
        // Each state and input point once per equation: the card's line marks
        // the columns it has filled.
        int &mark = p.range == Range::state ? state_mark_[static_cast<size_t>(p.index)]
                                            : input_mark_[static_cast<size_t>(p.index)];
        if (mark == card.line)
            return fail(t.line, "the equation names point " + std::to_string(t.point) + " twice");
        mark = card.line;
        const double v = -t.a0 / scale;
        if (p.range == Range::state)
            (state ? m_.a : m_.c)(row, p.index) = v;
        else
            (state ? m_.b : m_.d)(row, p.index) = v;
    }
    return true;
}

bool Rebuild::equation(const TfCard &card, Place dependent) {
    const bool state = dependent.range == Range::state;
    std::vector<int> &lines = state ? state_line_ : output_line_;
    int &first = lines[static_cast<size_t>(dependent.index)];
    if (first != 0)
        return fail(card.line, std::string("a second equation for ") +
                                   (state ? "state " : "output ") +
                                   std::to_string(dependent.index + 1) + " (point " +
                                   std::to_string(card.point) + "; the first is at line " +
                                   std::to_string(first) + ")");
    first = card.line;
    if (!coefficients(card, state)) return false;
    if (state) {
        m_.a(dependent.index, dependent.index) = -card.b0 / card.b1;
        return terms(card, dependent, card.b1);
    }
    return terms(card, dependent, card.b0);
}

bool Rebuild::all_present() {
    for (int pass = 0; pass < 2; ++pass) {
        const bool state = pass == 0;
        const std::vector<int> &lines = state ? state_line_ : output_line_;
        const int64_t base = state ? layout_.state_base() : layout_.output_base();
        for (size_t k = 0; k < lines.size(); ++k)
            if (lines[k] == 0) {
                error_ = deck_.file + ": no equation for " + (state ? "state " : "output ") +
                         std::to_string(k + 1) + " (point " +
                         std::to_string(base + static_cast<int64_t>(k) + 1) + ") in TF set " +
                         std::to_string(layout_.set);
                return false;
            }
    }
    return true;
}

bool Rebuild::run() {
    if (!layout_fits()) return false;
    const Eigen::Index n = layout_.states, p = layout_.outputs,
                       q = Eigen::Index{layout_.internal_inputs} + layout_.external_inputs;
    m_.a = Eigen::MatrixXd::Zero(n, n);
    m_.b = Eigen::MatrixXd::Zero(n, q);
    m_.c = Eigen::MatrixXd::Zero(p, n);
    m_.d = Eigen::MatrixXd::Zero(p, q);
    state_line_.assign(static_cast<size_t>(n), 0);
    output_line_.assign(static_cast<size_t>(p), 0);
    state_mark_.assign(static_cast<size_t>(n), 0);
    input_mark_.assign(static_cast<size_t>(q), 0);
    for (const TfCard &card : deck_.tfs) {
        if (card.set != layout_.set) continue;
        if (!points_in_ranges(card)) return false;
        if (card.component != 0) continue; // a force on the structure
        const Place dependent = locate(layout_, card.point);
        if (dependent.range == Range::input) continue; // coupling or external input
        if (!equation(card, dependent)) return false;
    }
    return all_present();
}

} // namespace

ModelLayout layout_from_map(int32_t grid_id_offset, int32_t n_input, int32_t n_external,
                            int32_t n_output, int32_t n_node, int32_t n_wheel, int32_t states) {
    // A count that does not fit becomes -1, which the rebuild refuses.
    auto count = [](int64_t v) {
        return v < 0 || v > std::numeric_limits<int32_t>::max() ? -1 : static_cast<int32_t>(v);
    };
    ModelLayout l;
    l.grid_id_offset = grid_id_offset;
    l.internal_inputs = count(int64_t{n_input} - n_external);
    l.external_inputs = count(n_external);
    l.outputs = n_output < 0 || n_node < 0 || n_wheel < 0
                    ? -1
                    : count(int64_t{n_output} + 3 * int64_t{n_node} + 6 * int64_t{n_wheel});
    l.states = count(states);
    return l;
}

bool rebuild_model(const Deck &deck, const ModelLayout &layout, StateSpace &model,
                   std::string &error) {
    StateSpace built;
    Rebuild rebuild(deck, layout, built);
    if (!rebuild.run()) {
        error = rebuild.error();
        return false;
    }
    model = std::move(built);
    return true;
}

} // namespace sorvan::analysis
