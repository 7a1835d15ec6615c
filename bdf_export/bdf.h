/*
** Bulk data conventions shared by every card writer: the converter state,
** the texts of real numbers, section banners and the file header.
**
** The converter parameters themselves (tf_id, thresh, v_stif, ...) are
** declared in the public header; they are defined, with their defaults, in
** bdf.cpp together with the state below. This header compiles as C.
*/
#ifndef SORVAN_BDF_EXPORT_BDF_H
#define SORVAN_BDF_EXPORT_BDF_H

#include "sorvan_view.h"

#include <math.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Largest identifier an 8-character field holds: 8 digits. Every point,
** element and set identifier of a file is kept within 1 to this value. */
#define BDF_MAX_ID 99999999

/* Room for the BDF file name, terminator included. Far beyond what file
** systems accept as a path; a longer name is refused, never cut. */
#define BDF_NAME_SIZE 4096

/* The 8-character real text and its terminator. */
#define BDF_REAL8_SIZE 9

/* Magnitude from which a real no longer prints in 8 characters with one
** digit before the point (the mantissa would reach 10 at exponent 30). */
#define BDF_REAL8_LIMIT 9.99e30

/* A "%E" text: sign, digit, point, 6 digits, "E", sign and at most 3
** exponent digits make 14 characters; "-NAN" and "-INF" are shorter. */
#define BDF_SCI_SIZE 24

/* Texts returned by value, so that several can stand in one printf call;
** each lives until the end of the full expression that produced it. */
typedef struct BDFreal8_text {
    char text[BDF_REAL8_SIZE];
} BDFreal8_text;

typedef struct BDFsci_text {
    char text[BDF_SCI_SIZE];
} BDFsci_text;

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
extern char bdf_name[BDF_NAME_SIZE];

/* Whether BDFreal8 prints the value as a number: finite and of magnitude
** below BDF_REAL8_LIMIT (an infinity and NaN fail the comparison). Returns
** 1 or 0. Inline: the checks run it over every term of a model. */
static inline int BDFreal8_fits(double value) {
    return fabs(value) < BDF_REAL8_LIMIT;
}

/* The value as the 8-character short-field real: a mantissa in [0.999,
** 9.99) with "%6.3f" and a one-digit exponent, or with "%5.2f" and a
** two-digit one, the letter E left out (" 1.000+0", " 2.50-12"). Values
** of magnitude 1.0E-30 or less give " 0.000+0". A value that does not fit
** (see BDFreal8_fits) gives "********", which no reader takes for a number. */
BDFreal8_text BDFreal8(double value);

/* The value as printf's "%E" prints it with glibc: six decimals, upper-case
** "E", at least two exponent digits ("1.000000E-09"), "INF" and "NAN" for
** the non-finite. The same text on every platform. */
BDFsci_text BDFsci(double value);

/* Prints the value as "%<width>.<precision>f" does with glibc (exact
** decimal expansion, exact ties to even) into out, terminated; a text that
** would not fit in size is replaced by an empty one. Returns its length. */
size_t BDFformat_fixed(double value, int width, int precision, char *out, size_t size);

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
