// The converter parameters saved and put back; see host_objects.h. Kept
// apart from the host objects, so that a program that loads the plug-in
// does not take in the static library's parameters with them.
#include "support/host_objects.h"

#include "sorvan_view.h"

#include <cstring>

namespace sorvan::test {

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
