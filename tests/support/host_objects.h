// Objects of the stand-in host's model database as the host functions
// read them, and the converter parameters a test may change.
#ifndef SORVAN_TESTS_SUPPORT_HOST_OBJECTS_H
#define SORVAN_TESTS_SUPPORT_HOST_OBJECTS_H

#include "frame/host_codes.h"
#include "host/plexa_setup.h"

#include <cstdint>
#include <string>

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

// The library-wide converter parameters as they stood when it was made,
// put back when it goes: a test fixture holds one so that no test leaks its
// settings into the next.
class SavedParameters {
  public:
    SavedParameters();
    ~SavedParameters();
    SavedParameters(const SavedParameters &) = delete;
    SavedParameters &operator=(const SavedParameters &) = delete;

  private:
    int32_t tf_id_, whl_dv_, lrg_fld_;
    double thresh_, v_stif_, v_damp_, v_tstf_, v_tdmp_;
    char labels_[4][64];
    std::string bdf_out_;
};

} // namespace sorvan::test

#endif
