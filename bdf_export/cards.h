/*
** The card writers of a bulk data file and the numbers they print.
**
** The writers run in the driver's order on one open stream: extra points,
** nodes, elements, wheels, state and output equations, coupling, external
** inputs, forces, the graphic matrix. Each reads the converter parameters and
** state of bdf.h, and later writers read identifiers that earlier ones
** assigned. They trust a model that the driver has checked (matrix shapes,
** table indices, identifier ranges, printable values); write errors stay in
** the stream's error indicator for the driver to find. This header compiles
** as C.
*/
#ifndef SORVAN_BDF_EXPORT_CARDS_H
#define SORVAN_BDF_EXPORT_CARDS_H

#include "sorvan_view.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- state-space cards ---------------------------------------------- */

/* Sets the four identifier bases from grid_id, reserves the extra points of
** the inputs, outputs and states (A gives the state count) and declares them.
** An empty range gets no card. */
void BDFwrite_epoint(FILE *bdf, const MAPmodel *map, const ABCmtx *a);

/* One TF card per state: dot(x) = A x + B u. */
void BDFwrite_tf_state(FILE *bdf, const ABCmtx *a, const ABCmtx *b);

/* One TF card per output row: y = C x + D u. */
void BDFwrite_tf_output(FILE *bdf, const ABCmtx *c, const ABCmtx *d);

/* Whether a matrix term is written: magnitude not below thresh, a number
** (NaN fails the comparison). Inline: it runs over every term of a model. */
static inline int BDFpasses_threshold(double value) {
    return fabs(value) >= thresh;
}

/* ---- large-field lines ---------------------------------------------- */

/* Room for one logical line of a TF card in large fields: two lines of an
** 8-character first field, four 16-character fields and the line end. */
#define BDF_LARGE_LINES_SIZE (2 * (8 + 4 * 16 + 1))

/* The first line of a TF card of set tf_id in large fields: "TF*", SID, GD,
** CD, B0; then "*", B1, B2. Into out (BDF_LARGE_LINES_SIZE characters, no
** terminator); returns the length. */
size_t BDFlarge_tf_head(char *out, int32_t point, int32_t component, double b0, double b1,
                        double b2);

/* One term of a TF card in large fields: "*", GI, CI, A0, A1; then "*",
** A2. As BDFlarge_tf_head. */
size_t BDFlarge_tf_term(char *out, int32_t point, int32_t component, double a0, double a1,
                        double a2);

/* ---- graphic geometry cards ----------------------------------------- */

/* A wheel's drawing frame in export units: origin, a point on the local z
** axis, a point on the local x axis, rim radius and half width. */
typedef struct BDFwheel_frame {
    double origin[3];
    double z_point[3];
    double x_point[3];
    double radius;
    double half_width;
} BDFwheel_frame;

/* Node n's coordinates in export units. */
void BDFnode_point(const MAPmodel *map, int32_t n, double xyz[3]);

/* Wheel w's frame in export units. */
void BDFwheel_frame_of(const MAPmodel *map, int32_t w, BDFwheel_frame *frame);

/* Skips one identifier, then a GRID per node; stores each node's GRID into
** node_id and into the id of its three output rows. */
void BDFwrite_grid(FILE *bdf, MAPmodel *map);

/* A PLOTEL per element between the GRIDs of its two nodes. */
void BDFwrite_plotel(FILE *bdf, const MAPmodel *map);

/* Per wheel: its coordinate system, centre and rim GRIDs, rim PLOTELs and
** the RBE2 tying the rim to the centre; stores the centre GRID into the id of
** the wheel's six output rows. */
void BDFwrite_wheel(FILE *bdf, MAPmodel *map);

/* ---- coupling cards ------------------------------------------------- */

/* Coefficients of internal input i's spring-damper card: B0 on the input,
** A0 and A1 on the structure point, A0 on the displacement and on the
** velocity output. */
typedef struct BDFcoupling {
    double b0;
    double a0_point;
    double a1_point;
    double a0_displacement;
    double a0_velocity;
} BDFcoupling;

void BDFcoupling_of(const MAPmodel *map, int32_t i, BDFcoupling *coupling);

/* The factor that turns internal input i's force or moment into export
** units, as the force card applies it to the structure point. */
double BDFforce_scale(const MAPmodel *map, int32_t i);

/* The K2P entry of graphic output row j. */
double BDFdmig_value(const MAPmodel *map, int32_t j);

/* Output rows 0 to n_output - 1 that carry input i's displacement (kind 1)
** and velocity (kind 2), the last of each kind; -1 where none does. */
void BDFmatching_outputs(const MAPmodel *map, int32_t i, int32_t *displacement, int32_t *velocity);

void BDFwrite_tf_connect(FILE *bdf, const MAPmodel *map);
void BDFwrite_tf_ext_input(FILE *bdf, const MAPmodel *map);
void BDFwrite_tf_force(FILE *bdf, const MAPmodel *map);
void BDFwrite_dmig(FILE *bdf, const MAPmodel *map);

#ifdef __cplusplus
}
#endif

#endif
