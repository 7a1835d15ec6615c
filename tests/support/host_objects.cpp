#include "support/host_objects.h"

namespace sorvan::test {

using namespace host_codes;

ac_object command_object(const char *const labels[4], const double *values, int32_t count,
                         int32_t type) {
    ac_object obj = plexa_object_create(type, nullptr);
    ac_object units = plexa_object_create(1, nullptr);
    plexa_set_object(obj, attr_unit_folder, units);
    for (int k = 0; k < 4; ++k) {
        ac_object unit = plexa_object_create(unit_object_type, units);
        plexa_set_int(unit, attr_unit_id, k + 1);
        plexa_set_string(unit, attr_unit_label, labels[k]);
    }
    plexa_set_reals(obj, attr_command_values, values, count);
    return obj;
}

void set_state_matrix(ac_object model, int k, int32_t rows, int32_t cols, const double *values) {
    const MatrixAttributes &code = state_matrices[k];
    plexa_set_int(model, code.rows, rows);
    plexa_set_int(model, code.cols, cols);
    plexa_set_reals(model, code.values, values, rows * cols);
}

} // namespace sorvan::test
