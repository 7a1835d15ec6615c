/*
** The texts of real numbers in bulk data fields: the 8-character short
** field real (BDFreal8), the 16-character large field real (BDFreal16), the
** "%E" and "%f" texts, the same on every platform. This header compiles as
** C.
*/
#ifndef SORVAN_BDF_EXPORT_REAL8_H
#define SORVAN_BDF_EXPORT_REAL8_H

#include <math.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The 8-character real text and its terminator. */
#define BDF_REAL8_SIZE 9

/* Magnitude from which a real no longer prints in 8 characters with one
** digit before the point (the mantissa would reach 10 at exponent 30). */
#define BDF_REAL8_LIMIT 9.99e30

/* The 16-character real text and its terminator. */
#define BDF_REAL16_SIZE 17

/* A "%E" text: sign, digit, point, 6 digits, "E", sign and at most 3
** exponent digits make 14 characters; "-NAN" and "-INF" are shorter. */
#define BDF_SCI_SIZE 24

/* Texts returned by value, so that several can stand in one printf call;
** each lives until the end of the full expression that produced it. */
typedef struct BDFreal8_text {
    char text[BDF_REAL8_SIZE];
} BDFreal8_text;

typedef struct BDFreal16_text {
    char text[BDF_REAL16_SIZE];
} BDFreal16_text;

typedef struct BDFsci_text {
    char text[BDF_SCI_SIZE];
} BDFsci_text;

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

/* The value as the large-field real, right-justified in 16 characters: the
** mantissa with one digit before the point and as many after it as the
** field holds, correctly rounded, then the exponent's sign and digits
** without the letter E and without leading zeros ("1.234567890123+5",
** "-1.23456789012-5", "1.00000000000+10"). That is 13 significant digits
** for a positive value with a one-digit exponent, one less per sign and
** per further exponent digit; when rounding lengthens the exponent the
** mantissa keeps one digit less. Zero, -0.0 included, gives "0.0"; an
** infinity or NaN gives 16 asterisks. */
BDFreal16_text BDFreal16(double value);

/* The value as printf's "%E" prints it with glibc: six decimals, upper-case
** "E", at least two exponent digits ("1.000000E-09"), "INF" and "NAN" for
** the non-finite. The same text on every platform. */
BDFsci_text BDFsci(double value);

/* Prints the value as "%<width>.<precision>f" does with glibc (exact
** decimal expansion, exact ties to even) into out, terminated; a text that
** would not fit in size is replaced by an empty one. Returns its length. */
size_t BDFformat_fixed(double value, int width, int precision, char *out, size_t size);

#ifdef __cplusplus
}
#endif

#endif
