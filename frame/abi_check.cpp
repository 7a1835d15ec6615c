// Pins the layout of the records that cross the library's C boundary. A
// caller built against the public header, in C or in another compiler, sees
// these exact offsets; a field moved or retyped fails the build here.
#include "bdf_export/bdf.h"
#include "sorvan_view.h"

#include <cstddef>

static_assert(sizeof(MAPsignal) == 12 && offsetof(MAPsignal, kind) == 8);
static_assert(sizeof(MAPelement) == 12 && offsetof(MAPelement, node2) == 8);
static_assert(sizeof(char[MAP_NAME_SIZE]) == 256);

#if UINTPTR_MAX == 0xffffffffffffffffu
static_assert(offsetof(ABCmtx, rows) == 8 && sizeof(ABCmtx) == 16);
static_assert(offsetof(MAPmodel, n_output_all) == 24);
static_assert(offsetof(MAPmodel, input) == 32);
static_assert(offsetof(MAPmodel, wheel_geom) == 104);
static_assert(offsetof(MAPmodel, grid_id_offset) == 112);
static_assert(offsetof(MAPmodel, element_id_offset) == 116);
static_assert(offsetof(MAPmodel, unit_length) == 120);
static_assert(offsetof(MAPmodel, unit_time) == 152 && sizeof(MAPmodel) == 160);
#elif defined(_WIN32)
static_assert(offsetof(ABCmtx, rows) == 8 && sizeof(ABCmtx) == 12);
static_assert(offsetof(MAPmodel, input) == 28);
static_assert(offsetof(MAPmodel, wheel_geom) == 64);
static_assert(offsetof(MAPmodel, grid_id_offset) == 68);
static_assert(offsetof(MAPmodel, element_id_offset) == 72);
static_assert(offsetof(MAPmodel, unit_length) == 80); // doubles align to 8 on Windows
static_assert(offsetof(MAPmodel, unit_time) == 112 && sizeof(MAPmodel) == 120);
#endif

// The name buffers of the public header and of the converter are one size.
static_assert(sizeof bdf_name == BDF_NAME_SIZE && sizeof bdf_out == BDF_NAME_SIZE);
