// Fuzzes the deck reader of sorvan check with the input as the text of a
// bulk data file: it either refuses the text with a message, leaving the
// deck empty, or returns cards whose numbers are all finite.
#include "analysis/deck.h"
#include "fuzz_support.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

using sorvan::fuzz::check;

void check_cards(const sorvan::analysis::Deck &d) {
    for (const auto &tf : d.tfs) {
        check(std::isfinite(tf.b0) && std::isfinite(tf.b1) && std::isfinite(tf.b2));
        for (const auto &t : tf.terms)
            check(std::isfinite(t.a0) && std::isfinite(t.a1) && std::isfinite(t.a2));
    }
    for (const auto &g : d.grids)
        for (double x : g.x)
            check(std::isfinite(x));
    for (const auto &e : d.dmig_entries)
        check(std::isfinite(e.value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    sorvan::analysis::Deck deck;
    std::string error;
    if (sorvan::analysis::read_deck_text(text, "fuzz.bdf", deck, error)) {
        check_cards(deck);
    } else {
        check(!error.empty());
        check(deck.tfs.empty() && deck.grids.empty() && deck.epoints.empty() &&
              deck.dmig_entries.empty());
    }
    return 0;
}
