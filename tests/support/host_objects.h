// Objects of the stand-in host's model database as the host functions
// read them.
#ifndef SORVAN_TESTS_SUPPORT_HOST_OBJECTS_H
#define SORVAN_TESTS_SUPPORT_HOST_OBJECTS_H

#include "frame/host_codes.h"
#include "host/plexa_setup.h"

#include <cstdint>

namespace sorvan::test {

// A command object of KAVEL2PELDA_BDF_WRITE: an object of the given type
// whose unit folder holds four unit objects, identifiers 1 to 4, labelled
// length, force, mass and time by labels, and whose value attribute holds
// count values.
ac_object command_object(const char *const labels[4], const double *values, int32_t count,
                         int32_t type = host_codes::command_object_type);

// Stores matrix k (0 to 3: A, B, C, D) of a linearised model: its row and
// column counts and its rows x cols values row by row.
void set_state_matrix(ac_object model, int k, int32_t rows, int32_t cols, const double *values);

} // namespace sorvan::test

#endif
