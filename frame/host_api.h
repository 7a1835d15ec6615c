/*
** The host core library's operations, as the plug-in imports them from
** plexa. This is a C header; it compiles as C and as C++.
**
** Only the names below may be imported by the plug-in: they are all the
** host offers. The stand-in host's own setup calls live in
** host/plexa_setup.h and are never called by the plug-in.
**
** Handles (ac_object, vc_array, ac_dur_rpc) are opaque. A null, stale or
** foreign handle is refused with the failure result documented for each
** operation; it is never dereferenced.
**
** Nothing here is thread-safe: the host runs one call at a time.
*/
#ifndef SORVAN_FRAME_HOST_API_H
#define SORVAN_FRAME_HOST_API_H

#include <stdint.h>

/* PLEXA_API marks every operation of the host library. */
#if defined(_WIN32)
#if defined(PLEXA_BUILDING)
#define PLEXA_API __declspec(dllexport)
#else
#define PLEXA_API __declspec(dllimport)
#endif
#else
#define PLEXA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* An object of the host's model database. */
typedef struct plexa_object *ac_object;

/* An array of the host's command language. */
typedef struct plexa_array *vc_array;

/* An RPC III file being assembled by the durability services. */
typedef struct plexa_rpc *ac_dur_rpc;

/* Any function handed to the host. The host calls it back through a cast to
** the signature it was registered for. */
typedef void (*vc_function)(void);

/* ======================================================================
** Registration
** ====================================================================== */

/* Makes function callable from the host language under name, with the
** host's opaque code and the number of 32-bit argument words it takes (a
** double counts as two). reserved is ignored (callers pass 0).
** Returns 1 when the name is new, 2 when it was registered already: the new
** function then replaces the old one and keeps its place in the list.
** Returns 0 and registers nothing for a null or empty name, a name over 255
** characters, a null function or a negative word count. */
PLEXA_API int32_t vc_function_add(const char *name, vc_function function, int32_t code,
                                  int32_t argument_words, int32_t reserved);

/* Takes name out of the host language. Returns 1, or 0 when it was not
** registered. */
PLEXA_API int32_t vc_function_remove(const char *name);

/* Notes a plug-in's version with the host (callers pass six zeros).
** Returns 0. */
PLEXA_API int32_t VersionRegister(int32_t w1, int32_t w2, int32_t w3, int32_t w4, int32_t w5,
                                  int32_t w6);

/* ======================================================================
** Model database
**
** Fetch results: above 0 on success; 0 when the object has no such
** attribute; -1 when the attribute is of another kind; -2 for a bad handle,
** a null output pointer, a non-zero index or a negative capacity. An output
** is written only on success.
** ====================================================================== */

#define AC_OK 1
#define AC_CUT 2 /* success, but the caller's room cut the value short */
#define AC_MISSING 0
#define AC_WRONG_KIND (-1)
#define AC_BAD_ARGUMENT (-2)

/* Opens the model access for the named application. Returns 1, or 0 for a
** null name. Every other operation also works without it. */
PLEXA_API int32_t ac_initialize(const char *application);

/* Returns the object's type (always above 0), or 0 for a bad handle. */
PLEXA_API int32_t ac_object_type(ac_object object);

/* Fetches an object attribute (index 0: every attribute holds one value). */
PLEXA_API int32_t ac_get_object(ac_object object, int32_t attribute, int32_t index, ac_object *out);

/* Fetches an integer attribute. */
PLEXA_API int32_t ac_get_int(ac_object object, int32_t attribute, int32_t index, int32_t *out);

/* Fetches a real-array attribute. *count is in-out: on entry the capacity of
** values in doubles, on return the number of values the attribute holds.
** min(capacity, held) values are written. values NULL, or capacity 0, only
** asks for the count. Returns AC_OK when every held value was written (or
** only the count was asked for), AC_CUT when the capacity was smaller. On a
** failure *count is left alone. */
PLEXA_API int32_t ac_get_reals(ac_object object, int32_t attribute, int32_t *count, double *values);

/* Length of the text buffer of ac_get_string, terminator included. */
#define AC_STRING_SIZE 64

/* Fetches a text attribute into buffer, which holds AC_STRING_SIZE bytes.
** At most 63 characters and the terminator are written. Returns AC_OK, or
** AC_CUT when a longer text was cut to 63 characters. */
PLEXA_API int32_t ac_get_string(ac_object object, int32_t attribute, int32_t index, char *buffer);

/* Starts a lookup of the objects of a type that lie under handle: its
** children, their children and so on, depth first, each object before its
** own children and children in the order they were added. Returns how many
** there are; 0 for a bad handle. A lookup begun while another is open
** replaces it. */
PLEXA_API int32_t ac_lookup_begin(ac_object handle, int32_t type);

/* Returns the index-th object (from 0) of the open lookup, or NULL when no
** lookup is open, the index is out of range or the object is gone. */
PLEXA_API ac_object ac_lookup_object(int32_t index);

/* Ends the open lookup, if any. */
PLEXA_API void ac_lookup_done(void);

/* ======================================================================
** Host-language arrays
**
** An array holds count elements of one type in count cells of
** VC_CELL_SIZE bytes each: a real fills its cell; an integer lies in the
** first 4 bytes; a text is a pointer to a NUL-terminated string in the
** first pointer-size bytes. The texts belong to the array: read them, never
** free or replace them.
** ====================================================================== */

#define VC_REAL 1
#define VC_INTEGER 2
#define VC_TEXT 3
#define VC_CELL_SIZE 8

/* Converts every element in place to type. Reals become integers by
** truncation toward zero; numbers become texts by their shortest exact
** decimal form; texts become numbers by parsing (surrounding blanks
** allowed). Returns 1 when every element converted, and 0 for a bad handle
** or type (the array is then unchanged). Returns -1 when some elements had
** no value of the new type (a NaN, a real beyond the integer range, a text
** that is not a number): the array still takes the new type, those elements
** become 0 (a real beyond the integer range becomes the nearest limit) and
** the first of them is reported on the error channel. */
PLEXA_API int32_t vc_array_coerce_element_type(vc_array array, int32_t type);

/* Returns the number of elements, 0 for a bad handle. */
PLEXA_API int32_t vc_array_element_count(vc_array array);

/* Returns the first cell, or NULL for a bad handle or an empty array. The
** pointer stays valid until the array is freed or its type changes. */
PLEXA_API void *vc_array_elements(vc_array array);

/* Creates an array of rank dimensions, dims[0] x ... x dims[rank - 1]
** elements (rank 1 to 8, each length 0 or more, at most 16777216 elements
** in all), of the given element type, every element 0, 0.0 or "". Returns
** NULL on bad arguments or when memory runs out. The array belongs to
** whoever receives it from the host function; the host side frees it. */
PLEXA_API vc_array vc_array_create(const int32_t *dims, int32_t rank, int32_t type);

/* Gives the array a new element type and resets every element to 0, 0.0 or
** "" (unlike vc_array_coerce_element_type, values are not converted).
** Returns 1, or 0 for a bad handle or type. */
PLEXA_API int32_t vc_array_set_element_type(vc_array array, int32_t type);

/* Reports an error to the host's user: the printf-style message and "\n"
** go to the standard error stream, and the host keeps the message. */
PLEXA_API void vc_error(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/* ======================================================================
** RPC III durability services
**
** Error codes are 0 for success and positive otherwise; ac_dur_rpc_geterror
** gives the text of each. The file is written whole by
** ac_dur_rpc_writeclose, under a temporary name that is moved over the
** final name only when every byte was written; on any failure no file is
** left and an existing file of that name stays as it was. After a failed
** put the handle keeps that error: later puts and the close return it, and
** the close then releases the handle without writing. ac_dur_terminate
** releases every handle still open, writing nothing.
** ====================================================================== */

/* Makes the services ready. Returns 0. */
PLEXA_API int32_t ac_dur_initialize(void);

/* Starts a file of channels (1 to 128) channels of points (1 or more)
** points each, spaced step apart (finite, above 0). Tries the file's folder
** at once, so a file that cannot be created is reported here; nothing is
** left on disk until the close. Fails before ac_dur_initialize. Returns the
** handle with *error 0, or NULL with *error set. error may be NULL. */
PLEXA_API ac_dur_rpc ac_dur_rpc_create(const char *file, int32_t channels, int32_t points,
                                       double step, int32_t *error);

/* Gives channel (from 1) its points values, its label (the channel
** description) and the unit of its values. The values are copied. A null
** label or unit counts as empty; texts are cut to 95 characters and
** characters outside printable ASCII become '?'. Returns 0 or an error code. */
PLEXA_API int32_t ac_dur_rpc_putchannel(ac_dur_rpc handle, int32_t channel, int32_t points,
                                        const double *values, const char *label, const char *unit);

/* Writes the file, closes it and releases the handle, also on failure.
** Returns 0 or an error code. */
PLEXA_API int32_t ac_dur_rpc_writeclose(ac_dur_rpc handle);

/* Length of the text buffer of ac_dur_rpc_geterror, terminator included. */
#define AC_DUR_ERROR_SIZE 256

/* Fills buffer (AC_DUR_ERROR_SIZE bytes) with the text of code, cut to fit.
** Returns 0, or -1 for an unknown code (the buffer then says so) or a null
** buffer. */
PLEXA_API int32_t ac_dur_rpc_geterror(int32_t code, char *buffer);

/* Releases the services and every handle still open. Returns 0. */
PLEXA_API int32_t ac_dur_terminate(void);

#ifdef __cplusplus
}
#endif

#endif
