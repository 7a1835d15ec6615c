/* The public header compiled as C: a C caller sees the records in the order
** and with the types the library uses. */
#include "sorvan_view.h"

#include <stddef.h>

int header_c_layout_ok(void) {
    return offsetof(MAPmodel, n_output_all) == 6 * sizeof(int32_t) &&
           offsetof(MAPmodel, output) == offsetof(MAPmodel, input) + sizeof(void *) &&
           offsetof(MAPmodel, element_id_offset) ==
               offsetof(MAPmodel, grid_id_offset) + sizeof(int32_t) &&
           offsetof(MAPmodel, unit_time) == offsetof(MAPmodel, unit_length) + 4 * sizeof(double) &&
           sizeof(((MAPmodel *)0)->ext_name[0]) == 256 &&
           sizeof(((MAPmodel *)0)->node_out[0]) == 3 * sizeof(int32_t) &&
           sizeof(((MAPmodel *)0)->node_xyz[0]) == 3 * sizeof(double) &&
           sizeof(((MAPmodel *)0)->wheel_out[0]) == 6 * sizeof(int32_t) &&
           sizeof(((MAPmodel *)0)->wheel_geom[0]) == 8 * sizeof(double) &&
           offsetof(ABCmtx, rows) == 2 * sizeof(int32_t);
}
