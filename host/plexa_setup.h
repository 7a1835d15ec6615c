/*
** plexa setup: the stand-in host's own interface, for the command-line front
** end and the tests. It fills the model database, builds argument arrays,
** finds registered functions and inspects what the plug-in did. The plug-in
** never calls it. This is a C header; it compiles as C and as C++.
**
** Results: 1 for success and 0 for refusal (bad handle, bad index, bad
** type), unless a function says otherwise. Pointers to texts handed out
** stay owned by the library; each says how long it stays valid.
*/
#ifndef SORVAN_HOST_PLEXA_SETUP_H
#define SORVAN_HOST_PLEXA_SETUP_H

#include "frame/host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Puts the whole library back into its state at load: no functions, no
** objects, no arrays (every array handle becomes invalid), no open RPC III
** handles (abandoned, nothing written), services not initialised, error
** channel and call record empty, RPC III settings at their defaults. */
PLEXA_API void plexa_reset(void);

/* ======================================================================
** Registered functions
** ====================================================================== */

/* One registered function. name is owned by the registry and valid until
** the function is removed or replaced, or plexa_reset. */
typedef struct plexa_function_info {
    const char *name;
    vc_function function;
    int32_t code;
    int32_t argument_words;
} plexa_function_info;

/* The signatures of the functions the front end knows how to call; cast
** plexa_function_info.function to one of them. */
typedef vc_array (*plexa_arrays_function)(vc_array ints, vc_array reals, vc_array strings);
typedef int32_t (*plexa_object_files_function)(ac_object obj, const char *file1, const char *file2);
typedef double (*plexa_object_file_reals_function)(ac_object obj, const char *file, double value1,
                                                   double value2);

/* Finds the function registered under name (exact match). */
PLEXA_API int32_t plexa_function_lookup(const char *name, plexa_function_info *out);

/* Number of registered functions. */
PLEXA_API int32_t plexa_function_count(void);

/* The index-th registered function (from 0), in registration order. */
PLEXA_API int32_t plexa_function_at(int32_t index, plexa_function_info *out);

/* ======================================================================
** Model database
** ====================================================================== */

/* Removes every object; all object handles become invalid. */
PLEXA_API void plexa_db_reset(void);

/* Creates an object of type (above 0) as the last child of parent, or as a
** top-level object when parent is NULL. Returns NULL for a bad type or
** parent. */
PLEXA_API ac_object plexa_object_create(int32_t type, ac_object parent);

/* Set an attribute, replacing any value of any kind it held. The reals and
** the text are copied; count may be 0 (values then may be NULL), at most
** 16777216. An object attribute must name a live object. */
PLEXA_API int32_t plexa_set_int(ac_object object, int32_t attribute, int32_t value);
PLEXA_API int32_t plexa_set_reals(ac_object object, int32_t attribute, const double *values,
                                  int32_t count);
PLEXA_API int32_t plexa_set_string(ac_object object, int32_t attribute, const char *text);
PLEXA_API int32_t plexa_set_object(ac_object object, int32_t attribute, ac_object value);

/* ======================================================================
** Host-language arrays
** ====================================================================== */

/* Creates a one-dimensional array of count elements (0 to 16777216) of type
** VC_REAL, VC_INTEGER or VC_TEXT, every element 0, 0.0 or "". Release it
** with plexa_array_free. Returns NULL on bad arguments or lack of memory. */
PLEXA_API vc_array plexa_array_create(int32_t type, int32_t count);

/* Releases an array and its texts; NULL and invalid handles are ignored.
** Also releases the arrays host functions return. */
PLEXA_API void plexa_array_free(vc_array array);

/* Element type of an array, 0 for a bad handle. */
PLEXA_API int32_t plexa_array_type(vc_array array);

/* Set one element (index from 0) of an array of the matching type; the
** text is copied. */
PLEXA_API int32_t plexa_array_set_real(vc_array array, int32_t index, double value);
PLEXA_API int32_t plexa_array_set_int(vc_array array, int32_t index, int32_t value);
PLEXA_API int32_t plexa_array_set_text(vc_array array, int32_t index, const char *text);

/* Read one element of an array of the matching type. The text belongs to
** the array and stays valid until the element is set, the array's type
** changes or the array is freed; NULL on refusal. */
PLEXA_API int32_t plexa_array_get_real(vc_array array, int32_t index, double *out);
PLEXA_API int32_t plexa_array_get_int(vc_array array, int32_t index, int32_t *out);
PLEXA_API const char *plexa_array_get_text(vc_array array, int32_t index);

/* Number of arrays alive, whoever created them (for leak checks). */
PLEXA_API int32_t plexa_array_live_count(void);

/* ======================================================================
** Error channel
** ====================================================================== */

/* The last message reported, without its "\n"; "" when none. Valid until
** the next report or plexa_error_clear. */
PLEXA_API const char *plexa_error_last(void);

/* How many messages were reported since the last clear. */
PLEXA_API int32_t plexa_error_count(void);

/* Forgets the last message and sets the count to 0. */
PLEXA_API void plexa_error_clear(void);

/* ======================================================================
** Call record
**
** Each host operation the plug-in calls appends one short text: the
** operation's name and its telling arguments, e.g. "vc_function_add
** GENRPROF_SAYERS 504 3", "VersionRegister", "ac_get_reals 505",
** "ac_dur_rpc_putchannel 1 5000". The record keeps the first
** PLEXA_CALLS_MAX calls after a clear.
** ====================================================================== */

#define PLEXA_CALLS_MAX 100000

/* Number of calls recorded. */
PLEXA_API int32_t plexa_calls_count(void);

/* The index-th call (from 0), or NULL when out of range. Valid until the
** next plexa_calls_clear or plexa_reset. */
PLEXA_API const char *plexa_calls_get(int32_t index);

/* Empties the record. */
PLEXA_API void plexa_calls_clear(void);

/* ======================================================================
** RPC III durability services
** ====================================================================== */

/* Error codes of the durability services. */
#define PLEXA_RPC_OK 0
#define PLEXA_RPC_E_CREATE 1     /* the file cannot be created */
#define PLEXA_RPC_E_CHANNEL 2    /* channel number out of range */
#define PLEXA_RPC_E_POINTS 3     /* point count differs from the one declared */
#define PLEXA_RPC_E_TWICE 4      /* channel put twice */
#define PLEXA_RPC_E_MISSING 5    /* channel missing at close */
#define PLEXA_RPC_E_NONFINITE 6  /* value NaN, infinite or beyond the data type */
#define PLEXA_RPC_E_WRITE 7      /* write or close failed */
#define PLEXA_RPC_E_HANDLE 8     /* bad handle */
#define PLEXA_RPC_E_ARGUMENTS 9  /* bad arguments at create */
#define PLEXA_RPC_E_VALUES 10    /* no values given to put */
#define PLEXA_RPC_E_MEMORY 11    /* out of memory */
#define PLEXA_RPC_E_NOT_READY 12 /* services not initialised */
#define PLEXA_RPC_E_LAST 12

/* Data types of the files written. */
#define PLEXA_RPC_SHORT_INTEGER 0  /* 16-bit integers times a channel scale (default) */
#define PLEXA_RPC_FLOATING_POINT 1 /* 32-bit IEEE reals */

/* Releases a handle without writing anything. Returns 0, or
** PLEXA_RPC_E_HANDLE. */
PLEXA_API int32_t plexa_rpc_abandon(ac_dur_rpc handle);

/* Number of handles open. */
PLEXA_API int32_t plexa_rpc_open_count(void);

/* Fixes the DATE value of the files created from now on (cut to 95
** characters); NULL goes back to the local time at the close. */
PLEXA_API void plexa_rpc_set_date(const char *date);

/* Sets the OPERATION value of the files created from now on (cut to 95
** characters); NULL goes back to the default "PLEXA". */
PLEXA_API void plexa_rpc_set_operation(const char *operation);

/* Sets the data type of the files created from now on. */
PLEXA_API int32_t plexa_rpc_set_data_type(int32_t data_type);

#ifdef __cplusplus
}
#endif

#endif
