// ABC matrix files: the 25-character value field shared by writer and reader.
#ifndef SORVAN_MODEL_INPUT_ABC_H
#define SORVAN_MODEL_INPUT_ABC_H

#include "sorvan_view.h"

#ifdef __cplusplus
extern "C" {
#endif

// Width of one value field: a blank, the sign, one digit, ".", 16 digits,
// "E", the exponent's sign and exactly three exponent digits. The reader
// derives the column count from the line length, so every field is this wide.
#define ABC_FIELD_WIDTH 25

// Formats value as one field of exactly ABC_FIELD_WIDTH characters into out
// and terminates it. 17 significant digits: reading the text back gives the
// same double.
void ABCformat_value(double value, char out[ABC_FIELD_WIDTH + 1]);

// Writes one matrix row: n fields, then "\n". Returns 0, or -1 when the
// stream reports a write error.
int ABCwrite_row(FILE *file, const double *values, int32_t n);

#ifdef __cplusplus
}
#endif

#endif
