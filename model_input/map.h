// MAP file: internal declarations shared by the model input readers.
#ifndef SORVAN_MODEL_INPUT_MAP_H
#define SORVAN_MODEL_INPUT_MAP_H

#include "sorvan_view.h"

#ifdef __cplusplus
extern "C" {
#endif

// A record or key line of a MAP file holds at most this many characters,
// its line break included; a longer one is refused. Every line is read
// whole, whatever its length: comments, marker and head lines may be longer.
#define MAP_LINE_MAX 255
#define MAP_LINE_SIZE (MAP_LINE_MAX + 1) // with the terminator

// An external input's name holds at most this many characters, its line
// break not counted.
#define MAP_NAME_MAX (MAP_NAME_SIZE - 2)

// No MAP file is larger: its counts are int32 and its records a line each,
// but a model described by a file of this size would not be converted in a
// lifetime. A larger file, or a stream that does not end, is refused.
#define MAP_FILE_MAX (256ULL << 20)

// A unit label taken from a units line holds at most 31 characters; the
// buffer also leaves room for UNTconstant's longest canonical label.
#define MAP_LABEL_MAX 31
#define MAP_LABEL_SIZE (MAP_LABEL_MAX + 1)

// Takes the unit label after the first "=" of line (spaces and apostrophes
// before it skipped, ended by the next space or apostrophe or the end of the
// text) and returns its constant. The character that ends the label becomes
// the terminator of line. An unsupported, missing or over-long label is
// reported through MAPerror, which releases map, and 0.0 is returned: the
// caller must not touch map again.
double MAPunit_constant(char *line, MAPmodel *map);

// Whether a line of the file begins with marker (compared over its whole
// length), as the readers look for their sections. Rewinds the file.
int MAPhas_section(FILE *file, const char *marker);

// Reads a decimal real from text, not beyond end, the way the model files
// expect: leading white space skipped, an optional sign, then the longest
// prefix that forms a number ("inf" and "nan" included); text that is no
// number gives 0.0. A magnitude out of range gives an infinity or a zero of
// the number's sign. Unlike strtod it ignores the locale. When stop is not
// NULL it receives the first character not used (text itself when no number
// was found).
double MAPparse_real(const char *text, const char *end, const char **stop);

// Reads a decimal integer from NUL-terminated text: leading white space
// skipped, an optional sign, then the digits up to the first other
// character; no digits give 0. Values beyond int32 saturate.
int32_t MAPparse_int(const char *text);

// Truncates a real toward zero into int32; beyond the range it saturates and
// NaN gives 0, so no conversion is ever undefined.
int32_t MAPreal_to_int(double value);

#ifdef __cplusplus
}
#endif

#endif
