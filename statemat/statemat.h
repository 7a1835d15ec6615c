// The state matrix writer: a model's A, B, C, D from the host's database,
// reduced by a frequency limit when A is in modal form, as an ABC set.
#ifndef SORVAN_STATEMAT_STATEMAT_H
#define SORVAN_STATEMAT_STATEMAT_H

#include "sorvan_view.h"

#include <cstdint>
#include <vector>

namespace sorvan {

// The frequency in rad/s above which a state is dropped, given the
// frequency limit in Hz: only modal models are limited, and 0 means none.
double state_limit(const double *a, int32_t n, double freq_limit_hz);

// Whether the n x n matrix a (row by row) is in modal form: nothing is off
// its 2 x 2 block band from row and column 2 on.
bool is_modal(const double *a, int32_t n);

// One mask entry per state, 1 when it is kept, by the pair and real-state
// rules against limit (rad/s).
std::vector<char> select_states(const double *a, int32_t n, double limit, double real_switch);

} // namespace sorvan

#endif
