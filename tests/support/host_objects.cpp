#include "support/host_objects.h"

#include "sorvan_view.h"

#include <cstring>

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

SavedParameters::SavedParameters()
    : tf_id_(tf_id), whl_dv_(whl_dv), lrg_fld_(lrg_fld), thresh_(thresh), v_stif_(v_stif),
      v_damp_(v_damp), v_tstf_(v_tstf), v_tdmp_(v_tdmp), bdf_out_(bdf_out) {
    char *labels[4] = {lu_lab, fu_lab, mu_lab, tu_lab};
    for (int k = 0; k < 4; ++k)
        std::memcpy(labels_[k], labels[k], sizeof labels_[k]);
}

SavedParameters::~SavedParameters() {
    tf_id = tf_id_;
    whl_dv = whl_dv_;
    lrg_fld = lrg_fld_;
    thresh = thresh_;
    v_stif = v_stif_;
    v_damp = v_damp_;
    v_tstf = v_tstf_;
    v_tdmp = v_tdmp_;
    char *labels[4] = {lu_lab, fu_lab, mu_lab, tu_lab};
    for (int k = 0; k < 4; ++k)
        std::memcpy(labels[k], labels_[k], sizeof labels_[k]);
    std::memcpy(bdf_out, bdf_out_.c_str(), bdf_out_.size() + 1);
}

} // namespace sorvan::test
