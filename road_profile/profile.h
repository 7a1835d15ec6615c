/*
** Road profile synthesis: what the road profile command and the tests use
** beyond the exported records and functions of the public header.
*/
#ifndef SORVAN_ROAD_PROFILE_PROFILE_H
#define SORVAN_ROAD_PROFILE_PROFILE_H

#include <stddef.h>

#include "sorvan_view.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Internal: for the road profile command and the tests ---- */

/* Largest sample count: one more does not fit an int32_t. */
#define RPROF_MAX_SAMPLES 2147483647

/* Checks the arguments of a synthesis before anything is drawn. Returns 0
** when genrprof_sayers can synthesise them, else -1 with *message (when
** message is not NULL) set to a static text without prefix or full stop,
** such as "interval must be a positive number". nprofs is not checked (the
** command refuses anything but 1 and 2 itself); any value other than 1
** takes the two-track path, which needs a valid corr_length. */
int rprof_check(const char **message, double ga, double ge, double gs, double corr_length,
                double length, double interval, int32_t nprofs);

/* Releases the arrays of the last synthesis and sets n to 0. genrprof_sayers
** does this itself before every synthesis. */
void rprof_release(void);

/* Replaces the allocator of the sample arrays (calloc's signature); NULL
** restores calloc. For tests that make allocations fail. */
void rprof_set_calloc(void *(*fn)(size_t count, size_t size));

#ifdef __cplusplus
}
#endif

#endif
