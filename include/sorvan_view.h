/*
** sorvan_view: the exported surface of the plug-in library, for callers
** outside the host. This is a C header; it compiles as C and as C++.
**
** Ownership: every record handed across this surface lives on the C heap.
** A caller creates a MAPmodel zero-filled with calloc() and gives it up with
** MAPfree() or through MAPerror(); an ABCmtx comes from ABCread_mtx() and goes
** back with ABCfree(). Never release them with free() alone, new or delete.
*/
#ifndef SORVAN_VIEW_H
#define SORVAN_VIEW_H

#include <stdint.h>
#include <stdio.h>

/* SORVAN_API marks every name that leaves the library. */
#if defined(_WIN32)
#if defined(SORVAN_BUILDING)
#define SORVAN_API __declspec(dllexport)
#else
#define SORVAN_API __declspec(dllimport)
#endif
#else
#define SORVAN_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ======================================================================
** ABC matrix files
** ====================================================================== */

/* One state-space matrix. rows[i][j] is element (i, j), both from 0. The
** record, the row array and every row are separate allocations owned by the
** record; rows is NULL when nrows is 0, and every row is NULL when ncols is 0. */
typedef struct ABCmtx {
    int32_t nrows;
    int32_t ncols;
    double **rows;
} ABCmtx;

/* Reads the matrix file named base followed by letter ("a" to "d"). Returns a
** new record, or NULL when the file cannot be opened or breaks the layout
** (the latter with a diagnostic on the standard output stream naming the file
** and the line). An empty file is a matrix of 0 rows and 0 columns. */
SORVAN_API ABCmtx *ABCread_mtx(const char *base, char letter);

/* Releases a record returned by ABCread_mtx; NULL is ignored. */
SORVAN_API void ABCfree(ABCmtx *mtx);

/* ======================================================================
** MAP file
** ====================================================================== */

/* Length of a MAP external input name buffer, terminator included. */
#define MAP_NAME_SIZE 256

/* Result of the MAP readers and of MAPalloc. MAP_FAILED means the reader
** has called MAPerror: the record is already released and must not be
** touched again. Callers that ignore the result see the readers as they have
** always been declared; callers that check it can never use a dead record. */
#define MAP_OK 0
#define MAP_FAILED (-1)

/* One input or output of the linear model. */
typedef struct MAPsignal {
    int32_t id;   /* point the input acts on or the output measures */
    int32_t dof;  /* 1..3 translations x, y, z; 4..6 rotations about them */
    int32_t kind; /* outputs: 1 displacement, 2 velocity, 3 graphic; inputs 0 */
} MAPsignal;

/* One graphic element: a line between two nodes given by table position. */
typedef struct MAPelement {
    int32_t id;
    int32_t node1; /* position in the nodes table, from 1 */
    int32_t node2;
} MAPelement;

/* The model description read from a MAP file. */
typedef struct MAPmodel {
    int32_t n_input;
    int32_t n_output;
    int32_t n_external;
    int32_t n_element;
    int32_t n_node;
    int32_t n_wheel;
    int32_t n_output_all; /* n_output + 3 n_node + 6 n_wheel, set by MAPalloc */
    MAPsignal *input;     /* n_input */
    MAPsignal *output;    /* n_output_all */
    int32_t *ext_index;   /* n_external */
    char (*ext_name)[MAP_NAME_SIZE]; /* n_external, each with its line break */
    int32_t (*node_out)[3];          /* n_node: output rows from 0 */
    int32_t *node_id;                /* n_node */
    double (*node_xyz)[3];           /* n_node */
    MAPelement *element;             /* n_element */
    int32_t (*wheel_out)[6];         /* n_wheel: output rows from 0 */
    double (*wheel_geom)[8];         /* n_wheel: x y z a1 a2 a3 radius width */
    int32_t grid_id_offset;
    int32_t element_id_offset;
    double unit_length; /* metres per MAP length unit */
    double unit_angle;  /* radians per MAP angle unit */
    double unit_force;  /* newtons per MAP force unit */
    double unit_mass;   /* kilograms per MAP mass unit */
    double unit_time;   /* seconds per MAP time unit */
} MAPmodel;

/* Sets n_output_all and allocates the arrays, zero-filled, from the counts.
** On a negative count or exhausted memory the record is released through
** MAPerror and MAP_FAILED is returned. */
SORVAN_API int MAPalloc(MAPmodel *map);

/* Releases every array that is present, then the record; NULL is ignored. */
SORVAN_API void MAPfree(MAPmodel *map);

/* Forms a message of at most 255 characters from the printf-style format,
** writes it as one line to the standard output stream, and releases the
** record (when not NULL) as MAPfree does. Always returns MAP_FAILED. */
SORVAN_API int MAPerror(MAPmodel *map, const char *format, ...);

/* The readers. Each rewinds the file first and reads one section; each
** returns MAP_OK, or MAP_FAILED after it released the record via MAPerror. */
SORVAN_API int MAPread_size(MAPmodel *map, FILE *file);
SORVAN_API int MAPread_unit(MAPmodel *map, FILE *file);
SORVAN_API int MAPread_input(MAPmodel *map, FILE *file);
SORVAN_API int MAPread_output(MAPmodel *map, FILE *file);
SORVAN_API int MAPread_external_input(MAPmodel *map, FILE *file);
SORVAN_API int MAPread_node(MAPmodel *map, FILE *file);
SORVAN_API int MAPread_element(MAPmodel *map, FILE *file);
SORVAN_API int MAPread_wheel(MAPmodel *map, FILE *file);

/* ======================================================================
** Units
** ====================================================================== */

/* Returns the size of one unit of the label in kilograms, newtons, metres,
** seconds or radians, or 0.0 for an unsupported label. A recognised alias in
** the writable buffer (at least 15 bytes) is replaced by its canonical label. */
SORVAN_API double UNTconstant(char *label);

/* ======================================================================
** Bulk data export
** ====================================================================== */

/* Converter parameters, read by every conversion. */
SORVAN_API extern int32_t tf_id;  /* set identifier of the TF cards (1) */
SORVAN_API extern double thresh;  /* matrix terms below it are left out (1e-9) */
SORVAN_API extern double v_stif;  /* connecting stiffness, N/m (1e9) */
SORVAN_API extern double v_damp;  /* connecting damping, N*s/m (1e6) */
SORVAN_API extern double v_tstf;  /* torsional stiffness, N*m/rad (1e6) */
SORVAN_API extern double v_tdmp;  /* torsional damping, N*m*s/rad (1e4) */
SORVAN_API extern int32_t whl_dv; /* divisions of a wheel's drawing (24) */
SORVAN_API extern char lu_lab[64]; /* length unit the header names ("METER") */
SORVAN_API extern char fu_lab[64]; /* force unit ("NEWTON") */
SORVAN_API extern char mu_lab[64]; /* mass unit ("KILOGRAM") */
SORVAN_API extern char tu_lab[64]; /* time unit ("SECOND") */

/* Converts the MAP file and the ABC set named by abc_file into a BDF named
** after the MAP file (its last extension replaced by "bdf"). The three unit
** labels are writable buffers of at least 15 bytes, rewritten to canonical
** form; time_unit is '0' ms, '1' s, '2' min, '3' h, anything else seconds.
** Returns 1 when the file was written, or:
**   -1 a file could not be read or written (or the input was refused),
**   -2 no state-space inputs, -3 no state-space outputs,
**   -4 input count differs from B's columns, -5 output count from C's rows,
**   -6 an export unit label is not known. */
SORVAN_API int32_t kavel2pelda(const char *map_file, const char *abc_file, char *length_unit,
                               char *force_unit, char *mass_unit, char time_unit);

#ifdef __cplusplus
}
#endif

#endif /* SORVAN_VIEW_H */
