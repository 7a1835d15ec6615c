/*
** Bulk data conventions shared by every card writer: the converter state,
** section banners and the file header; the texts of real numbers are in
** real8.h.
**
** The converter parameters themselves (tf_id, thresh, v_stif, ...) are
** declared in the public header; they are defined, with their defaults, in
** bdf.cpp together with the state below. This header compiles as C.
*/
#ifndef SORVAN_BDF_EXPORT_BDF_H
#define SORVAN_BDF_EXPORT_BDF_H

#include "bdf_export/real8.h"
#include "sorvan_view.h"

#include <stddef.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Largest identifier an 8-character field holds: 8 digits. Every point,
** element and set identifier of a file is kept within 1 to this value. */
#define BDF_MAX_ID 99999999

/* Room for the BDF file name, terminator included. Far beyond what file
** systems accept as a path; a longer name is refused, never cut. */
#define BDF_NAME_SIZE 4096

/* Converter state of the running conversion. The driver sets the counters
** from the MAP offsets and the unit factors from the export labels;
** BDFwrite_epoint sets the four bases; the writers advance the counters. */
extern int32_t grid_id;        /* last point identifier handed out */
extern int32_t element_id;     /* last element identifier handed out */
extern int32_t input_id_base;  /* internal input i is point base + i + 1 */
extern int32_t ext_id_base;    /* external input e: base + e + 1 */
extern int32_t output_id_base; /* output row j: base + j + 1 */
extern int32_t state_id_base;  /* state i: base + i + 1 */
extern double lu_fac;          /* SI value of one export length unit */
extern double fu_fac;          /* ... force unit */
extern double mu_fac;          /* ... mass unit (checked, never used) */
extern double tu_fac;          /* ... time unit */

/* Writes a section banner: "$*", "$* KAVEL2PELDA: " title, "$*". */
void BDFbanner(FILE *bdf, const char *title);

/* Writes the file information, variable information and unit information
** sections from the converter parameters as they stand. */
void BDFwrite_header(FILE *bdf, const char *map_file, const char *abc_file, const char *bdf_file);

/* Prints one diagnostic line, printf-style, on the standard output stream. */
void BDFreport(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

#ifdef __cplusplus
}
#endif

#endif
