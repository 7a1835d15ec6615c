// KAVEL2PELDA_BDF_WRITE: the converter as a host function. The export units
// and the connecting values come from the host's model database; the rest
// is the conversion every converter entry shares, with the external inputs
// read and given their stiffness cards.
#include "bdf_export/bdf.h"
#include "bdf_export/driver.h"

#include "frame/guard.h"
#include "frame/host_api.h"
#include "frame/host_codes.h"

#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

namespace sorvan::bdf {

namespace {

// Results of the host command beyond those of the conversion.
constexpr int32_t wrong_type = -7;
constexpr int32_t too_few_values = -8;

using namespace host_codes;

// Values the command needs from attribute 505: four unit object
// identifiers, then stiffness, damping, torsional stiffness and damping.
constexpr int32_t needed_values = 8;

// An identifier given as a real, truncated toward zero; none when the real
// has no int32 value, so that it matches no unit object.
std::optional<int32_t> identifier(double v) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return std::nullopt;
    return static_cast<int32_t>(v);
}

// Fills the four label buffers (length, force, mass, time) from the unit
// objects under folder whose identifiers are wanted. A later object with the
// same identifier overwrites an earlier one.
void fetch_unit_labels(ac_object folder, const std::optional<int32_t> wanted[4],
                       char labels[4][AC_STRING_SIZE]) {
    int32_t count = ac_lookup_begin(folder, unit_object_type);
    for (int32_t i = 0; i < count; ++i) {
        ac_object unit = ac_lookup_object(i);
        int32_t id = 0;
        if (ac_get_int(unit, attr_unit_id, 0, &id) <= 0) continue;
        for (int k = 0; k < 4; ++k)
            if (wanted[k] && *wanted[k] == id) ac_get_string(unit, attr_unit_label, 0, labels[k]);
    }
    ac_lookup_done();
}

// Converts the connecting values from the MAP file's units to SI, into the
// converter parameters. Refuses a record whose length or angle constant is
// missing, which the conversion would divide by.
bool set_connecting_values(const MAPmodel &map, const double value[4]) {
    if (map.unit_length == 0.0 || map.unit_angle == 0.0) {
        BDFreport("the MAP file's units section gives no %s unit, which the connecting "
                  "values are converted with",
                  map.unit_length == 0.0 ? "length" : "angle");
        return false;
    }
    v_stif = map.unit_force / map.unit_length * value[0];
    v_damp = map.unit_time / map.unit_length * map.unit_force * value[1];
    v_tstf = map.unit_force / map.unit_angle * map.unit_length * value[2];
    v_tdmp = map.unit_time / map.unit_angle * map.unit_force * map.unit_length * value[3];
    return true;
}

int32_t full_conversion(ac_object obj, const char *map_file, const char *abc_file) {
    ac_initialize("KAVEL_VIEW");
    if (ac_object_type(obj) != command_object_type) return wrong_type;
    ac_object folder = nullptr;
    ac_get_object(obj, attr_unit_folder, 0, &folder);
    // Ask for the count first, so that every value the attribute holds fits.
    int32_t count = 0;
    if (ac_get_reals(obj, attr_command_values, &count, nullptr) <= 0 || count < needed_values)
        return too_few_values;
    std::vector<double> values(static_cast<size_t>(count));
    int32_t held = count;
    if (ac_get_reals(obj, attr_command_values, &held, values.data()) <= 0 || held < needed_values)
        return too_few_values;

    std::optional<int32_t> wanted[4];
    for (size_t k = 0; k < 4; ++k)
        wanted[k] = identifier(values[k]);
    char labels[4][AC_STRING_SIZE] = {};
    fetch_unit_labels(folder, wanted, labels);

    Conversion c;
    c.map_file = map_file;
    c.abc_file = abc_file;
    for (int k = 0; k < 4; ++k)
        c.labels[k] = labels[k];
    c.copy_labels = true;
    c.external_inputs = true;
    const double *connecting = values.data() + 4;
    c.after_units = [connecting](const MAPmodel &map) {
        return set_connecting_values(map, connecting);
    };
    return run_conversion(c);
}

} // namespace

} // namespace sorvan::bdf

extern "C" SORVAN_API int32_t kavel2pelda_full(ac_object obj, const char *map_file,
                                               const char *abc_file) {
    using namespace sorvan::bdf;
    return sorvan::guarded("KAVEL2PELDA_BDF_WRITE", failed,
                           [&] { return full_conversion(obj, map_file, abc_file); });
}
