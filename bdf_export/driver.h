// The one conversion sequence behind every converter entry: export units,
// MAP file, matrices, checks, BDF name, cards, end comment.
#ifndef SORVAN_BDF_EXPORT_DRIVER_H
#define SORVAN_BDF_EXPORT_DRIVER_H

#include "sorvan_view.h"

#include <functional>

namespace sorvan::bdf {

// Results that every converter entry shares.
constexpr int32_t done = 1;
constexpr int32_t failed = -1;

struct Conversion {
    const char *map_file = nullptr;
    const char *abc_file = nullptr;

    // Export unit labels for length, force, mass and time: writable buffers
    // of at least 15 bytes, rewritten to their canonical form.
    char *labels[4] = {nullptr, nullptr, nullptr, nullptr};

    // Store the canonical labels into lu_lab, fu_lab, mu_lab and tu_lab
    // before they are tested, so the header names the units the cards use.
    bool copy_labels = false;

    // Read the external-input section and write the external-input stiffness
    // cards (between the coupling and the force cards).
    bool external_inputs = false;

    // Called right after the units section was read, with the record alive
    // and its unit constants set, before the input and output counts are
    // tested. Returning false refuses the MAP file (result -1); the hook
    // prints its own message.
    std::function<bool(const MAPmodel &)> after_units;
};

// Runs one conversion. Returns 1 when the BDF was written; -1 when a file
// could not be read or written or the input was refused; -2 no inputs; -3
// no outputs; -4 B's columns differ from the inputs; -5 C's rows from the
// outputs; -6 an unknown export unit label. Every failure prints one line
// on the standard output stream and leaves no BDF or temporary file behind;
// a BDF of the same name that existed before stays as it was.
int32_t run_conversion(const Conversion &conversion);

} // namespace sorvan::bdf

#endif
