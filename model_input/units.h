// Unit labels: the alias step of UNTconstant.
#ifndef SORVAN_MODEL_INPUT_UNITS_H
#define SORVAN_MODEL_INPUT_UNITS_H

#include "sorvan_view.h"

#ifdef __cplusplus
extern "C" {
#endif

// Room a label buffer must have for UNTalias and UNTconstant: the longest
// canonical label, "KILOGRAM_FORCE", is 14 characters plus its terminator.
#define UNT_LABEL_MIN_SIZE 15

// Replaces a recognised alias in the writable buffer (at least
// UNT_LABEL_MIN_SIZE bytes) by its canonical label, terminator included; the
// bytes after the new terminator stay as they were. Other text, and NULL, are
// left alone. Letter case is ignored for the letters a to z only.
void UNTalias(char *label);

#ifdef __cplusplus
}

#include <string>
#include <vector>

namespace sorvan::units {

// The quantities of the unit vocabulary, in the order of its table.
enum class Quantity { mass, force, length, time, angle };

// The quantity of a label (any accepted spelling, case-blind); false when
// the vocabulary does not know it.
bool quantity_of(const std::string &label, Quantity *quantity);

// The canonical label of an accepted spelling ("mm" gives "MILLIMETER");
// empty when the vocabulary does not know it.
std::string canonical(const std::string &label);

// Every spelling the vocabulary accepts for a quantity, canonical labels
// first, each once: what a message lists for an unknown label.
std::vector<std::string> accepted(Quantity quantity);

// The canonical label of the quantity whose size lies within 0.6 % of
// value (the rounding of a 3-digit mantissa, and some), and its size; false
// when none does.
bool nearest_label(double value, Quantity quantity, std::string &label, double &size);

} // namespace sorvan::units
#endif

#endif
