// Refusals before a bulk data file is created; see checks.h.
#include "bdf_export/checks.h"

#include "bdf_export/bdf.h"
#include "bdf_export/cards.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace sorvan::bdf {

namespace {

bool in_range(int64_t value, int64_t low, int64_t high) {
    return value >= low && value <= high;
}

// ---- matrices ---------------------------------------------------------

bool check_shape(const ABCmtx *m, const char *abc_file, char letter, const char *what,
                 int32_t found, int32_t wanted) {
    if (found == wanted) return true;
    BDFreport("%s%c: %s is %d, %d wanted%s", abc_file, letter, what, found, wanted,
              m->nrows == 0 ? " (the file is empty)" : "");
    return false;
}

// Every term of a matrix: none may be other than a finite number (a NaN
// would pass no threshold and silently drop out of its card), and those the
// writers print (the diagonal of A always, every other term when it passes
// the threshold) must fit an 8-character field.
bool check_terms(const ABCmtx *m, const char *abc_file, char letter, bool diagonal) {
    for (int32_t i = 0; i < m->nrows; ++i) {
        // A row whose every term is below the 8-character limit passes (a
        // count the compiler can vectorise); any other is looked at term by
        // term.
        const double *row = m->rows[i];
        int32_t fitting = 0;
        for (int32_t j = 0; j < m->ncols; ++j)
            fitting += BDFreal8_fits(row[j]);
        if (fitting == m->ncols) continue;
        for (int32_t j = 0; j < m->ncols; ++j) {
            double value = row[j];
            if (!std::isfinite(value)) {
                BDFreport("%s%c: row %d, column %d: %g is not a finite number", abc_file, letter,
                          i + 1, j + 1, value);
                return false;
            }
            bool shown = (diagonal && i == j) || BDFpasses_threshold(value);
            if (!shown || BDFreal8_fits(value)) continue;
            BDFreport("%s%c: row %d, column %d: %g does not fit an 8-character field", abc_file,
                      letter, i + 1, j + 1, value);
            return false;
        }
    }
    return true;
}

// ---- tables -----------------------------------------------------------

bool check_inputs(const MAPmodel &map, const char *map_file) {
    if (!in_range(map.n_external, 0, map.n_input)) {
        BDFreport("%s: %d external inputs among %d inputs", map_file, map.n_external, map.n_input);
        return false;
    }
    for (int32_t i = 0; i < map.n_input - map.n_external; ++i) {
        const MAPsignal &in = map.input[i];
        if (in_range(in.id, 1, BDF_MAX_ID) && in_range(in.dof, 1, 6)) continue;
        BDFreport("%s: state-space input %d: point %d, component %d (points 1 to %d, "
                  "components 1 to 6)",
                  map_file, i + 1, in.id, in.dof, BDF_MAX_ID);
        return false;
    }
    return true;
}

bool check_elements(const MAPmodel &map, const char *map_file) {
    for (int32_t e = 0; e < map.n_element; ++e) {
        const MAPelement &el = map.element[e];
        if (in_range(el.node1, 1, map.n_node) && in_range(el.node2, 1, map.n_node)) continue;
        BDFreport("%s: element %d joins node positions %d and %d of %d nodes", map_file, e + 1,
                  el.node1, el.node2, map.n_node);
        return false;
    }
    return true;
}

// Marks the output rows that nodes and wheels name; false when one lies
// outside the output table.
bool mark_graphic_rows(const MAPmodel &map, const char *map_file, std::vector<bool> &named) {
    auto mark = [&](int32_t row, const char *what, int32_t index) {
        if (in_range(row, 0, map.n_output_all - 1)) {
            named[static_cast<size_t>(row)] = true;
            return true;
        }
        BDFreport("%s: %s %d names output row %d of %d", map_file, what, index + 1, row + 1,
                  map.n_output_all);
        return false;
    };
    for (int32_t n = 0; n < map.n_node; ++n)
        for (int j = 0; j < 3; ++j)
            if (!mark(map.node_out[n][j], "node", n)) return false;
    for (int32_t w = 0; w < map.n_wheel; ++w)
        for (int j = 0; j < 6; ++j)
            if (!mark(map.wheel_out[w][j], "wheel", w)) return false;
    return true;
}

// Each graphic row becomes a K2P entry on the GRID that its node or wheel
// gets, so a row that none names would tie the matrix to no grid point.
bool check_graphic_rows(const MAPmodel &map, const char *map_file) {
    std::vector<bool> named(static_cast<size_t>(map.n_output_all), false);
    if (!mark_graphic_rows(map, map_file, named)) return false;
    for (int32_t j = map.n_output; j < map.n_output_all; ++j) {
        if (named[static_cast<size_t>(j)] && in_range(map.output[j].dof, 1, 6)) continue;
        BDFreport("%s: graphic output row %d belongs to no node or wheel component", map_file,
                  j + 1);
        return false;
    }
    return true;
}

// ---- identifiers ------------------------------------------------------

bool check_id_range(int64_t first, int64_t last, const char *map_file, const char *what,
                    const char *offset_key, int32_t offset) {
    if (first > last || (first >= 1 && last <= BDF_MAX_ID)) return true;
    BDFreport("%s: %s identifiers %lld to %lld do not fit 8-digit fields (%s %d)", map_file, what,
              static_cast<long long>(first), static_cast<long long>(last), offset_key, offset);
    return false;
}

// ---- coefficients and geometry -----------------------------------------

bool check_coefficient(double value, const char *map_file, const char *what, int32_t index,
                       const char *formula) {
    if (BDFreal8_fits(value)) return true;
    BDFreport("%s: %s %d: %s = %g does not fit an 8-character field", map_file, what, index + 1,
              formula, value);
    return false;
}

// The coefficients of input i's coupling and force cards, each with the
// formula it comes from for a translation and for a rotation.
bool check_coupling(const MAPmodel &map, int32_t i, const char *map_file) {
    struct Term {
        bool written;
        double value;
        const char *translation;
        const char *rotation;
    };
    int32_t d, v;
    BDFmatching_outputs(&map, i, &d, &v);
    BDFcoupling c;
    BDFcoupling_of(&map, i, &c);
    const bool coupled = d >= 0 || v >= 0;
    const Term terms[] = {
        {coupled, c.b0, "unit_force", "unit_force x unit_length"},
        {coupled, c.a0_point, "-(lu_fac x v_stif)", "-v_tstf"},
        {coupled, c.a1_point, "-(v_damp / tu_fac x lu_fac)", "-(v_tdmp / tu_fac)"},
        {d >= 0, c.a0_displacement, "v_stif x unit_length", "v_tstf"},
        {v >= 0, c.a0_velocity, "unit_length / unit_time x v_damp", "v_tdmp / unit_time"},
        {true, BDFforce_scale(&map, i), "force scale unit_force / fu_fac",
         "force scale (unit_length x unit_force) / (lu_fac x fu_fac)"}};
    const bool rotation = map.input[i].dof > 3;
    for (const Term &t : terms)
        if (t.written && !check_coefficient(t.value, map_file, "internal input", i,
                                            rotation ? t.rotation : t.translation))
            return false;
    return true;
}

bool all_finite(const double *values, int count) {
    for (int k = 0; k < count; ++k)
        if (!std::isfinite(values[k])) return false;
    return true;
}

bool check_geometry(const MAPmodel &map, const char *map_file) {
    for (int32_t n = 0; n < map.n_node; ++n) {
        double xyz[3];
        BDFnode_point(&map, n, xyz);
        if (all_finite(xyz, 3)) continue;
        BDFreport("%s: node %d: a coordinate is not a finite number", map_file, n + 1);
        return false;
    }
    for (int32_t w = 0; w < map.n_wheel; ++w) {
        BDFwheel_frame f;
        BDFwheel_frame_of(&map, w, &f);
        if (all_finite(f.origin, 3) && all_finite(f.z_point, 3) && all_finite(f.x_point, 3) &&
            all_finite(&f.radius, 1) && all_finite(&f.half_width, 1))
            continue;
        BDFreport("%s: wheel %d: its position, angles or size give no finite drawing", map_file,
                  w + 1);
        return false;
    }
    return true;
}

} // namespace

bool check_units(const MAPmodel &map, const char *map_file) {
    struct Need {
        double constant;
        const char *key;
        bool needed;
    };
    const Need needs[] = {{map.unit_length, "LENGTH", true},
                          {map.unit_force, "FORCE", true},
                          {map.unit_time, "TIME", map.n_input > map.n_external},
                          {map.unit_angle, "ANGLE", map.n_wheel > 0}};
    for (const Need &need : needs) {
        if (!need.needed || need.constant != 0.0) continue;
        BDFreport("%s: the units section gives no %s unit, which the cards are scaled with",
                  map_file, need.key);
        return false;
    }
    return true;
}

bool check_shapes(const Matrices &m, const MAPmodel &map, const char *abc_file) {
    const int32_t n_state = m.a->nrows;
    // An empty A means a model without states; C then must have no columns.
    if (n_state == 0 && m.c->ncols != 0) {
        BDFreport("%sa: the file is empty (no states), but %sc has %d columns", abc_file, abc_file,
                  m.c->ncols);
        return false;
    }
    return check_shape(m.a, abc_file, 'a', "the column count", m.a->ncols, n_state) &&
           check_shape(m.b, abc_file, 'b', "the row count", m.b->nrows, n_state) &&
           check_shape(m.c, abc_file, 'c', "the column count", m.c->ncols, n_state) &&
           check_shape(m.d, abc_file, 'd', "the row count", m.d->nrows, m.c->nrows) &&
           check_shape(m.d, abc_file, 'd', "the column count", m.d->ncols, map.n_input);
}

bool check_tables(const MAPmodel &map, const char *map_file) {
    if (!check_inputs(map, map_file) || !check_elements(map, map_file) ||
        !check_graphic_rows(map, map_file))
        return false;
    if (map.n_wheel > 0 && whl_dv < 1) {
        BDFreport("%s: wheel division number whl_dv %d is below 1", map_file, whl_dv);
        return false;
    }
    return true;
}

bool check_identifiers(const MAPmodel &map, int32_t n_state, const char *map_file) {
    if (!in_range(tf_id, 1, BDF_MAX_ID)) {
        BDFreport("%s: TF set identifier tf_id %d is outside 1 to %d", map_file, tf_id, BDF_MAX_ID);
        return false;
    }
    // Clamped so that the products below cannot overflow; a larger division
    // number is out of range all the same.
    const int64_t divisions = map.n_wheel > 0 ? std::clamp<int64_t>(whl_dv, 0, BDF_MAX_ID) : 0;
    const int64_t offset = map.grid_id_offset;
    const int64_t last_epoint = offset + map.n_input + map.n_output_all + n_state;
    const int64_t graphic = map.n_node + map.n_wheel * (2 * divisions + 1);
    const int64_t last_point = graphic > 0 ? last_epoint + 1 + graphic : last_epoint;
    const int64_t elements = map.n_element + map.n_wheel * (3 * divisions + 2);
    if (!check_id_range(offset + 1, last_point, map_file, "point", "GRID_ID_OFFSET",
                        map.grid_id_offset) ||
        !check_id_range(int64_t{map.element_id_offset} + 1, map.element_id_offset + elements,
                        map_file, "element", "ELEMENT_ID_OFFSET", map.element_id_offset))
        return false;
    for (int32_t i = 0; i < map.n_input - map.n_external; ++i) {
        if (!in_range(map.input[i].id, offset + 1, last_point)) continue;
        BDFreport("%s: state-space input %d acts on point %d, which this file numbers itself "
                  "(%lld to %lld)",
                  map_file, i + 1, map.input[i].id, static_cast<long long>(offset + 1),
                  static_cast<long long>(last_point));
        return false;
    }
    return true;
}

bool check_values(const Matrices &m, const MAPmodel &map, const char *map_file,
                  const char *abc_file) {
    if (!check_terms(m.a, abc_file, 'a', true) || !check_terms(m.b, abc_file, 'b', false) ||
        !check_terms(m.c, abc_file, 'c', false) || !check_terms(m.d, abc_file, 'd', false))
        return false;
    for (int32_t i = 0; i < map.n_input - map.n_external; ++i)
        if (!check_coupling(map, i, map_file)) return false;
    for (int32_t j = map.n_output; j < map.n_output_all; ++j)
        if (!check_coefficient(BDFdmig_value(&map, j), map_file, "graphic output row", j,
                               "-(unit_length / lu_fac)"))
            return false;
    return check_geometry(map, map_file);
}

bool check_model(const Matrices &m, const MAPmodel &map, const char *map_file,
                 const char *abc_file) {
    return check_shapes(m, map, abc_file) && check_tables(map, map_file) &&
           check_identifiers(map, m.a->nrows, map_file) && check_values(m, map, map_file, abc_file);
}

} // namespace sorvan::bdf
