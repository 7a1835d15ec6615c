// Graphic geometry cards: a GRID per node, a PLOTEL per element, and per
// wheel a coordinate system, a centre, a rim of GRIDs and PLOTELs and an
// RBE2 that ties the rim to the centre.
#include "bdf_export/bdf.h"
#include "bdf_export/cards.h"

#include <cmath>
#include <cstdio>

namespace {

// Components of the RBE2's dependent points: all six.
constexpr int32_t all_components = 123456;

// Dependent points on an RBE2's first line (after name, identifier,
// independent point and components) and on each continuation line.
constexpr int32_t rbe2_first_line = 5;
constexpr int32_t rbe2_per_line = 8;

void write_grid(FILE *bdf, int32_t id, int32_t cp, const double xyz[3]) {
    std::fprintf(bdf, "GRID*%19d%16d%16s%16s\n", id, cp, BDFsci(xyz[0]).text, BDFsci(xyz[1]).text);
    std::fprintf(bdf, "*%23s%16d\n", BDFsci(xyz[2]).text, 0);
}

void write_plotel(FILE *bdf, int32_t g1, int32_t g2) {
    ++element_id;
    std::fprintf(bdf, "PLOTEL%10d%8d%8d\n", element_id, g1, g2);
}

// CORD2R: origin A, point B on the local z axis, point C in the x-z plane.
void write_cord2r(FILE *bdf, int32_t cid, const BDFwheel_frame *f) {
    std::fprintf(bdf, "CORD2R*%17d%16d%16s%16s\n", cid, 0, BDFsci(f->origin[0]).text,
                 BDFsci(f->origin[1]).text);
    std::fprintf(bdf, "*%23s%16s%16s%16s\n", BDFsci(f->origin[2]).text, BDFsci(f->z_point[0]).text,
                 BDFsci(f->z_point[1]).text, BDFsci(f->z_point[2]).text);
    std::fprintf(bdf, "*%23s%16s%16s\n*\n", BDFsci(f->x_point[0]).text, BDFsci(f->x_point[1]).text,
                 BDFsci(f->x_point[2]).text);
}

// Two GRIDs per division, on the +h and the -h side of the rim, in the
// wheel's system cid.
void write_rim_points(FILE *bdf, int32_t cid, const BDFwheel_frame *f) {
    const double full_turn = 2.0 * std::acos(-1.0);
    for (int32_t k = 0; k < whl_dv; ++k) {
        double a = k * full_turn / whl_dv;
        double p[3] = {f->radius * std::cos(a), f->radius * std::sin(a), f->half_width};
        write_grid(bdf, ++grid_id, cid, p);
        p[2] = -f->half_width;
        write_grid(bdf, ++grid_id, cid, p);
    }
}

// Across the tread and along both edges; the last division closes the rim.
void write_rim_elements(FILE *bdf, int32_t centre) {
    for (int32_t k = 0; k < whl_dv; ++k) {
        int32_t p = centre + 2 * k + 1;
        int32_t q = k == whl_dv - 1 ? centre + 1 : p + 2;
        write_plotel(bdf, p, p + 1);
        write_plotel(bdf, p, q);
        write_plotel(bdf, p + 1, q + 1);
    }
}

void write_rbe2(FILE *bdf, int32_t centre) {
    ++element_id;
    std::fprintf(bdf, "RBE2%12d%8d%8d", element_id, centre, all_components);
    int32_t count = 2 * whl_dv;
    for (int32_t j = 0; j < count; ++j) {
        std::fprintf(bdf, "%8d", centre + j + 1);
        if (j == count - 1)
            std::fputc('\n', bdf);
        else if (j >= rbe2_first_line - 1 && (j - (rbe2_first_line - 1)) % rbe2_per_line == 0)
            std::fputs("\n        ", bdf);
    }
    if (count <= 0) std::fputc('\n', bdf); // never leave the card's line open
}

void write_one_wheel(FILE *bdf, MAPmodel *map, int32_t w) {
    BDFwheel_frame frame;
    BDFwheel_frame_of(map, w, &frame);
    int32_t cid = ++element_id;
    write_cord2r(bdf, cid, &frame);
    int32_t centre = ++grid_id;
    const double at_origin[3] = {0.0, 0.0, 0.0};
    write_grid(bdf, centre, cid, at_origin);
    write_rim_points(bdf, cid, &frame);
    write_rim_elements(bdf, centre);
    write_rbe2(bdf, centre);
    for (int j = 0; j < 6; ++j)
        map->output[map->wheel_out[w][j]].id = centre;
}

} // namespace

void BDFnode_point(const MAPmodel *map, int32_t n, double xyz[3]) {
    for (int k = 0; k < 3; ++k)
        xyz[k] = map->node_xyz[n][k] / lu_fac * map->unit_length;
}

void BDFwheel_frame_of(const MAPmodel *map, int32_t w, BDFwheel_frame *f) {
    const double *g = map->wheel_geom[w];
    const double s = 1.0 / lu_fac;
    for (int k = 0; k < 3; ++k)
        f->origin[k] = s * g[k] * map->unit_length;
    // Body-fixed z-x-z Euler angles.
    double phi = g[3] * map->unit_angle;
    double theta = g[4] * map->unit_angle;
    double psi = g[5] * map->unit_angle;
    const double z_axis[3] = {std::sin(phi) * std::sin(theta), -std::cos(phi) * std::sin(theta),
                              std::cos(theta)};
    const double x_axis[3] = {
        std::cos(phi) * std::cos(psi) - std::sin(phi) * std::cos(theta) * std::sin(psi),
        std::sin(phi) * std::cos(psi) + std::cos(phi) * std::cos(theta) * std::sin(psi),
        std::sin(theta) * std::sin(psi)};
    for (int k = 0; k < 3; ++k) {
        f->z_point[k] = f->origin[k] + s * z_axis[k];
        f->x_point[k] = f->origin[k] + s * x_axis[k];
    }
    f->radius = s * g[6] * map->unit_length;
    f->half_width = s * g[7] * map->unit_length * 0.5;
}

void BDFwrite_grid(FILE *bdf, MAPmodel *map) {
    ++grid_id; // one identifier after the last state point stays unused
    BDFbanner(bdf, "GRID data for graphic");
    for (int32_t n = 0; n < map->n_node; ++n) {
        int32_t id = ++grid_id;
        map->node_id[n] = id;
        double xyz[3];
        BDFnode_point(map, n, xyz);
        write_grid(bdf, id, 0, xyz);
        for (int j = 0; j < 3; ++j)
            map->output[map->node_out[n][j]].id = id;
    }
}

void BDFwrite_plotel(FILE *bdf, const MAPmodel *map) {
    BDFbanner(bdf, "PLOTEL data for graphic");
    for (int32_t e = 0; e < map->n_element; ++e)
        write_plotel(bdf, map->node_id[map->element[e].node1 - 1],
                     map->node_id[map->element[e].node2 - 1]);
}

void BDFwrite_wheel(FILE *bdf, MAPmodel *map) {
    BDFbanner(bdf, "WHEEL data for graphic");
    for (int32_t w = 0; w < map->n_wheel; ++w)
        write_one_wheel(bdf, map, w);
}
