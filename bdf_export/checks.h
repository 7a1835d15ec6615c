// What a model must satisfy before its bulk data file is created.
//
// The card writers trust their input: they index the matrices and tables as
// the counts say and print every value as it comes. These checks run after
// the inputs were read and before any file is created; each one that fails
// prints one line naming the file (and row, column or table entry) on the
// standard output stream and returns false.
#ifndef SORVAN_BDF_EXPORT_CHECKS_H
#define SORVAN_BDF_EXPORT_CHECKS_H

#include "sorvan_view.h"

namespace sorvan::bdf {

// The four matrices of one conversion, owned by the driver.
struct Matrices {
    ABCmtx *a = nullptr;
    ABCmtx *b = nullptr;
    ABCmtx *c = nullptr;
    ABCmtx *d = nullptr;
};

// The unit constants the cards are scaled with: length and force always,
// time when there are internal inputs, angle when there are wheels.
bool check_units(const MAPmodel &map, const char *map_file);

// Shapes the writers index by: A square, B and D with at least the rows of A
// and C, C with a column per state, D with a column per input. B's columns
// and C's rows were compared with the MAP counts before.
bool check_shapes(const Matrices &m, const MAPmodel &map, const char *abc_file);

// Table entries the writers follow: external count, the points and
// components of the internal inputs, element nodes, output rows of nodes and
// wheels, every graphic output row named by a node or a wheel, and a wheel
// division number of at least 1 when there are wheels.
bool check_tables(const MAPmodel &map, const char *map_file);

// Every identifier the file will hold fits its 8-character field and is at
// least 1, and no internal input acts on a point that the file assigns
// itself. Computed in 64 bits from the offsets and counts.
bool check_identifiers(const MAPmodel &map, int32_t n_state, const char *map_file);

// Every real that will be printed as an 8-character text fits it (matrix
// terms that pass the threshold, the diagonal of A, coupling, force and K2P
// coefficients), and every coordinate of the drawing is finite.
bool check_values(const Matrices &m, const MAPmodel &map, const char *map_file,
                  const char *abc_file);

// All of the above that follow the reading, in order: shapes, tables,
// identifiers, values. Stops at the first that fails.
bool check_model(const Matrices &m, const MAPmodel &map, const char *map_file,
                 const char *abc_file);

} // namespace sorvan::bdf

#endif
