// The host's codes that the plug-in, the stand-in host, the front end, the
// benchmark and the tests share: host object types and the attributes of
// those objects that the host functions read. One home for each number.
#ifndef SORVAN_FRAME_HOST_CODES_H
#define SORVAN_FRAME_HOST_CODES_H

#include <cstdint>

namespace sorvan::host_codes {

// KAVEL2PELDA_BDF_WRITE's command object and the unit objects it names.
constexpr int32_t command_object_type = 64;
constexpr int32_t unit_object_type = 66;

// Attributes of the command object: the folder of the unit objects, and
// the values (four unit object identifiers, then the connecting stiffness,
// damping, torsional stiffness and torsional damping).
constexpr int32_t attr_unit_folder = 10;
constexpr int32_t attr_command_values = 505;

// Attributes of a unit object: its identifier and its label.
constexpr int32_t attr_unit_id = 11;
constexpr int32_t attr_unit_label = 518;

// The state matrices of a linearised model object (STATEMAT_WRITE): for
// A, B, C and D in turn the row count, the column count and the values,
// row by row.
struct MatrixAttributes {
    int32_t rows, cols, values;
    char letter; // of the matrix's ABC file
};
constexpr MatrixAttributes state_matrices[4] = {
    {815, 816, 817, 'a'}, {818, 819, 820, 'b'}, {821, 822, 823, 'c'}, {824, 825, 826, 'd'}};

} // namespace sorvan::host_codes

#endif
