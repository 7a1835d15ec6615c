// A structural checker of a whole bulk data file, for tests.
//
// It reads the text as another tool would, field by field in fixed columns,
// and reports what such a tool would stumble over:
// - small-field cards (EPOINT, PLOTEL, RBE2, TF, DMIG) in 8-character fields,
//   no line beyond column 72, continuation lines with an empty first field;
// - large-field cards (GRID*, CORD2R*) in 16-character fields after an
//   8-character first field, continuation lines opened by "*";
// - every field one token of the kind its card wants (integer, real with a
//   decimal point, name), no token spilling into the next field;
// - every GRID that a PLOTEL, RBE2 or DMIG entry names, and every coordinate
//   system a GRID names, is defined in the file; every point that a TF or
//   DMIG card names with component 0 is declared by an EPOINT card, and no
//   extra point is named with another component;
// - no identifier defined twice.
#ifndef SORVAN_TESTS_SUPPORT_BDF_CHECK_H
#define SORVAN_TESTS_SUPPORT_BDF_CHECK_H

#include "support/host_objects.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace sorvan::test {

struct BdfCheck {
    std::vector<std::string> errors;  // "line 12: ...", in file order
    std::map<std::string, int> cards; // number of cards of each name
    std::set<int64_t> grids;          // GRID identifiers defined
    std::set<int64_t> epoints;        // extra points declared
    int lines = 0;

    bool ok() const { return errors.empty(); }
    // The first errors, one per line, for a test's failure message.
    std::string report(size_t max_errors = 20) const;
};

BdfCheck check_bdf_text(const std::string &text);

// Reads the file in text mode; a file that cannot be read is one error.
BdfCheck check_bdf_file(const std::string &path);

} // namespace sorvan::test

#endif
