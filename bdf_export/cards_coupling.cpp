// Coupling cards: the spring-damper between each structure point and the
// model's outputs there, the external inputs' unit stiffness, the input
// forces on the structure and the matrix K2P that lets the graphic grid
// follow the model's graphic outputs.
#include "bdf_export/bdf.h"
#include "bdf_export/cards.h"

#include <cstdio>

namespace {

int is_rotation(int32_t dof) {
    return dof > 3;
}

// The coefficient with its sign turned, 0 staying 0 (no "-0.0" in a field).
double negated(double value) {
    return value == 0.0 ? 0.0 : -value;
}

// The first line of a TF card and its terms in large fields.
void write_large_head(FILE *bdf, int32_t point, int32_t component, double b0, double b1,
                      double b2) {
    char text[BDF_LARGE_LINES_SIZE];
    std::fwrite(text, 1, BDFlarge_tf_head(text, point, component, b0, b1, b2), bdf);
}

void write_large_term(FILE *bdf, int32_t point, int32_t component, double a0, double a1) {
    char text[BDF_LARGE_LINES_SIZE];
    std::fwrite(text, 1, BDFlarge_tf_term(text, point, component, a0, a1, 0.0), bdf);
}

void write_point_line(FILE *bdf, int32_t point, double a0) {
    if (lrg_fld)
        write_large_term(bdf, point, 0, a0, 0.0);
    else
        std::fprintf(bdf, "        %8d%8d%8s%8.4f%8.4f\n", point, 0, BDFreal8(a0).text, 0.0, 0.0);
}

void write_connect_card(FILE *bdf, const MAPmodel *map, int32_t i, int32_t d, int32_t v) {
    BDFcoupling c;
    BDFcoupling_of(map, i, &c);
    const MAPsignal &in = map->input[i];
    if (lrg_fld) {
        write_large_head(bdf, input_id_base + i + 1, 0, c.b0, 0.0, 0.0);
        write_large_term(bdf, in.id, in.dof, c.a0_point, c.a1_point);
    } else {
        std::fprintf(bdf, "TF%14d%8d%8d%8s%8.4f%8.4f\n", tf_id, input_id_base + i + 1, 0,
                     BDFreal8(c.b0).text, 0.0, 0.0);
        std::fprintf(bdf, "        %8d%8d%8s%8s%8.4f\n", in.id, in.dof, BDFreal8(c.a0_point).text,
                     BDFreal8(c.a1_point).text, 0.0);
    }
    // An output the model lacks gets no line rather than a line that names
    // the base point of the outputs.
    if (d >= 0) write_point_line(bdf, output_id_base + d + 1, c.a0_displacement);
    if (v >= 0) write_point_line(bdf, output_id_base + v + 1, c.a0_velocity);
}

// K2P in large fields: the header "DMIG*", NAME, 0, IFO, TIN with TIN 2
// (real, double precision) for the values' full digits; per entry "DMIG*",
// NAME, GJ, CJ, then "*", GI, CI, the value.
void write_large_dmig(FILE *bdf, const MAPmodel *map) {
    for (int32_t j = map->n_output; j < map->n_output_all; ++j) {
        if (j == map->n_output) std::fprintf(bdf, "DMIG*   %-16s%16d%16d%16d\n", "K2P", 0, 1, 2);
        std::fprintf(bdf, "DMIG*   %-16s%16d%16d\n*       %16d%16d%16s\n", "K2P",
                     output_id_base + j + 1, 0, map->output[j].id, map->output[j].dof,
                     BDFreal16(BDFdmig_value(map, j)).text);
    }
}

} // namespace

void BDFmatching_outputs(const MAPmodel *map, int32_t i, int32_t *displacement, int32_t *velocity) {
    *displacement = -1;
    *velocity = -1;
    const MAPsignal *in = &map->input[i];
    for (int32_t j = 0; j < map->n_output; ++j) {
        const MAPsignal *out = &map->output[j];
        if (out->id != in->id || out->dof != in->dof) continue;
        if (out->kind == 1) *displacement = j;
        if (out->kind == 2) *velocity = j;
    }
}

// The card stands for B0 f + A0 x + A1 dx/dt + Kd D + Kv V = 0, so that
// f = Kv (x - D) + Cv (dx/dt - V): the structure point's coefficients carry
// the opposite sign of the output ones, and the spring pulls the model
// towards the structure.
void BDFcoupling_of(const MAPmodel *map, int32_t i, BDFcoupling *c) {
    if (is_rotation(map->input[i].dof)) {
        c->b0 = map->unit_force * map->unit_length;
        c->a0_point = negated(v_tstf);
        c->a1_point = negated(v_tdmp / tu_fac);
        c->a0_displacement = v_tstf;
        c->a0_velocity = v_tdmp / map->unit_time;
    } else {
        c->b0 = map->unit_force;
        c->a0_point = negated(lu_fac * v_stif);
        c->a1_point = negated(v_damp / tu_fac * lu_fac);
        c->a0_displacement = v_stif * map->unit_length;
        c->a0_velocity = map->unit_length / map->unit_time * v_damp;
    }
}

double BDFforce_scale(const MAPmodel *map, int32_t i) {
    if (is_rotation(map->input[i].dof))
        return (map->unit_length * map->unit_force) / (lu_fac * fu_fac);
    return map->unit_force / fu_fac;
}

double BDFdmig_value(const MAPmodel *map, int32_t j) {
    if (is_rotation(map->output[j].dof)) return -1.0;
    return -(map->unit_length / lu_fac);
}

void BDFwrite_tf_connect(FILE *bdf, const MAPmodel *map) {
    std::fputs("$*\n$* KAVEL2PELDA: f(kavel) = Kv * (Dpelda - Dkavel)", bdf);
    std::fputs(" + Cv * (Vpelda - Vkavel)\n$*\n", bdf);
    for (int32_t i = 0; i < map->n_input - map->n_external; ++i) {
        int32_t d, v;
        BDFmatching_outputs(map, i, &d, &v);
        if (d < 0 && v < 0) {
            BDFreport("WRT: input and output are unmatched. (internal input %d: point %d, "
                      "component %d)",
                      i + 1, map->input[i].id, map->input[i].dof);
            continue;
        }
        write_connect_card(bdf, map, i, d, v);
    }
}

void BDFwrite_tf_ext_input(FILE *bdf, const MAPmodel *map) {
    BDFbanner(bdf, "External Input Stiffness Matrix");
    for (int32_t e = 0; e < map->n_external; ++e) {
        if (lrg_fld)
            write_large_head(bdf, ext_id_base + e + 1, 0, 1.0, 0.0, 0.0);
        else
            std::fprintf(bdf, "TF%14d%8d%8d%8.4f%8.4f%8.4f\n", tf_id, ext_id_base + e + 1, 0, 1.0,
                         0.0, 0.0);
    }
}

void BDFwrite_tf_force(FILE *bdf, const MAPmodel *map) {
    BDFbanner(bdf, "f(pelda) = - f(kavel)");
    for (int32_t i = 0; i < map->n_input - map->n_external; ++i) {
        if (lrg_fld)
            write_large_head(bdf, map->input[i].id, map->input[i].dof, 0.0, 0.0, 0.0);
        else
            std::fprintf(bdf, "TF%14d%8d%8d%8.4f%8.4f%8.4f\n", tf_id, map->input[i].id,
                         map->input[i].dof, 0.0, 0.0, 0.0);
        write_point_line(bdf, input_id_base + i + 1, BDFforce_scale(map, i));
    }
}

void BDFwrite_dmig(FILE *bdf, const MAPmodel *map) {
    BDFbanner(bdf, "x(pelda_graph) = x(kavel)");
    if (lrg_fld) {
        write_large_dmig(bdf, map);
        return;
    }
    for (int32_t j = map->n_output; j < map->n_output_all; ++j) {
        if (j == map->n_output) std::fprintf(bdf, "DMIG    K2P     %8d%8d%8d\n", 0, 1, 1);
        std::fprintf(bdf, "DMIG    K2P     %8d%8d        %8d%8d%8s\n", output_id_base + j + 1, 0,
                     map->output[j].id, map->output[j].dof, BDFreal8(BDFdmig_value(map, j)).text);
    }
}
