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

/* Handles of the host: an object of its model database and an array of its
** command language. Opaque; the plug-in passes them back to the host. */
typedef struct plexa_object *ac_object;
typedef struct plexa_array *vc_array;

/* ======================================================================
** Plug-in lifecycle and versions
** ====================================================================== */

/* Registers the three host functions (GENRPROF_SAYERS, KAVEL2PELDA_BDF_WRITE,
** STATEMAT_WRITE) and the plug-in's version with the host. A second call
** before sorvan_terminate does nothing. */
SORVAN_API void sorvan_initialize(void);

/* Removes the three host functions again; does nothing unless initialised. */
SORVAN_API void sorvan_terminate(void);

/* Register and unregister the version with the host; the second returns
** what the host answered. */
SORVAN_API int32_t sorvan_version_register(void);
SORVAN_API int32_t sorvan_version_unregister(void);

/* Prints the build banner on the standard output stream and returns the
** build number 20050711.2346. */
SORVAN_API double sorvan_view_version(void);

/* The version: 2006, 0, 0, "2006.0.0", "2006.0.0" and 2006.0. Each text
** entry returns a static buffer of its own, rewritten at every call. */
SORVAN_API int32_t sorvan_MajorVersion(void);
SORVAN_API int32_t sorvan_MinorVersion(void);
SORVAN_API int32_t sorvan_PatchVersion(void);
SORVAN_API const char *sorvan_SbVersion(void);
SORVAN_API const char *sorvan_SfVersion(void);
SORVAN_API double sorvan_RVersion(void);

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
    int32_t n_output_all;            /* n_output + 3 n_node + 6 n_wheel, set by MAPalloc */
    MAPsignal *input;                /* n_input */
    MAPsignal *output;               /* n_output_all */
    int32_t *ext_index;              /* n_external */
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
** On a negative count, an n_output_all beyond int32 or exhausted memory the
** record is released through MAPerror and MAP_FAILED is returned. */
SORVAN_API int MAPalloc(MAPmodel *map);

/* Releases every array that is present, then the record; NULL is ignored. */
SORVAN_API void MAPfree(MAPmodel *map);

/* Forms a message of at most 255 characters from the printf-style format,
** writes it as one line to the standard output stream, and releases the
** record (when not NULL) as MAPfree does. Always returns MAP_FAILED. */
SORVAN_API int MAPerror(MAPmodel *map, const char *format, ...);

/* The readers. Each rewinds the file first and reads one section; each
** returns MAP_OK, or MAP_FAILED after it released the record via MAPerror
** (a file that breaks the layout, an unsupported unit label, a NULL file, or
** a table reader called before MAPalloc). A NULL record gives MAP_FAILED. */
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
SORVAN_API extern int32_t tf_id;   /* set identifier of the TF cards (1) */
SORVAN_API extern double thresh;   /* matrix terms below it are left out (1e-9) */
SORVAN_API extern double v_stif;   /* connecting stiffness, N/m (1e9) */
SORVAN_API extern double v_damp;   /* connecting damping, N*s/m (1e6) */
SORVAN_API extern double v_tstf;   /* torsional stiffness, N*m/rad (1e6) */
SORVAN_API extern double v_tdmp;   /* torsional damping, N*m*s/rad (1e4) */
SORVAN_API extern int32_t whl_dv;  /* divisions of a wheel's drawing (24) */
SORVAN_API extern char lu_lab[64]; /* length unit the header names ("METER") */
SORVAN_API extern char fu_lab[64]; /* force unit ("NEWTON") */
SORVAN_API extern char mu_lab[64]; /* mass unit ("KILOGRAM") */
SORVAN_API extern char tu_lab[64]; /* time unit ("SECOND") */
/* Nonzero: the TF and DMIG cards in large fields ("TF*", "DMIG*", 16-character
** fields, "*" continuation lines), their reals with up to 13 significant
** digits and the DMIG matrix in double precision; 0 (the default): small
** fields with 4-digit reals. */
SORVAN_API extern int32_t lrg_fld;
/* The BDF file name to write instead of the one formed from the MAP file
** name; empty (the default) forms it from the MAP file name. The rules of
** the formed name hold for it too: never an input file of the conversion,
** never a name holding a line break. */
SORVAN_API extern char bdf_out[4096];
/* The name of the BDF the last conversion formed (or was given). */
SORVAN_API extern char bdf_name[4096];

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

/* The host function KAVEL2PELDA_BDF_WRITE: the conversion above with the
** export units and connecting values taken from the host object obj (type
** 64), external inputs included. Returns the results of kavel2pelda and
** -7 when obj is not of type 64, -8 when its attribute 505 holds fewer than
** eight values. */
SORVAN_API int32_t kavel2pelda_full(ac_object obj, const char *map_file, const char *abc_file);

/* ======================================================================
** State matrix export
** ====================================================================== */

/* The host function STATEMAT_WRITE: writes the state matrices of obj as
** the ABC set named by base, without the states whose eigenvalue lies above
** freq_limit (Hz; 0 means no limit) when A is in modal form, and without
** the real states unless real_switch is above 0. Returns 1.0 when the four
** files were written, -1.0 when the matrices cannot be fetched or their
** sizes disagree, -2.0 when a file cannot be written (no partial file is
** left under its name), -3.0 when no state is selected. */
SORVAN_API double stmatwri(ac_object obj, const char *base, double freq_limit, double real_switch);

/* ======================================================================
** Road profiles
**
** Random numbers for the road profiles: a uniform generator on (0, 1) and a
** standard normal generator built on it. A seed always gives the same
** sequence, on every build.
**
** Each caller owns one int32_t state, idum, and passes its address to every
** call; a value of 0 or less asks for (re)initialisation from its negation.
** The shuffle table, the second congruential generator and the cached normal
** deviate are shared by every caller, so streams that run side by side
** interleave through them. Nothing is locked: one caller at a time.
**
** Random road elevation profiles by the Sayers roughness model.
**
** A track is the sum of a white-noise elevation, a singly integrated
** (random-walk) elevation and a doubly integrated elevation, each driven by
** normal deviates; its one-sided elevation spectral density at wavenumber v
** (cycles per unit length) is ge + gs / (2 pi v)^2 + ga / (2 pi v)^4 between
** the very long wavelengths (every integrator decays by 0.002 per unit of
** distance) and the sampling limit. Two parallel tracks combine three such
** streams through a first-order low pass and high pass sharing one corner at
** the wavelength sqrt(2) corr_length: the tracks share their long-wavelength
** content and differ in their short-wavelength content.
**
** All state is static: one set of records, overwritten by every synthesis,
** and the shared state of the generators above. Not re-entrant.
** ====================================================================== */

/* Largest value ran2 returns: 1 - 1.2e-7, the same double as 0.99999988. */
#define RAN2_MAX 0.99999988

/* Returns the next uniform deviate, in (0, 1) and never above RAN2_MAX, and
** advances *idum. A non-positive *idum first rebuilds the shuffle table and
** the second generator from its negation (0, and INT32_MIN, whose negation
** has no int32_t, start from 1). Afterwards *idum lies in 0..2147483562. */
SORVAN_API double ran2(int32_t *idum);

/* Returns a deviate of the normal distribution with mean 0 and variance 1.
** Deviates come in pairs: one is returned, the other is cached and goes to
** the next call made with a non-negative *idum, whoever makes it. A negative
** *idum never gets the cached value: it reinitialises the uniform generator
** and produces a fresh pair. */
SORVAN_API double gasdev(int32_t *idum);

/* The arguments of one synthesis. */
typedef struct RprofParams {
    double ga;          /* coefficient of the doubly integrated component */
    double ge;          /* coefficient of the white-noise component */
    double gs;          /* coefficient of the singly integrated component */
    double corr_length; /* sets where the two tracks part (two tracks only) */
    double length;      /* length of the profile */
    double interval;    /* distance between samples */
    int32_t nprofs;     /* number of tracks, 1 or 2 */
    int32_t seed;       /* 0 or less: seeded from the clock */
} RprofParams;

/* Scales of the three components' noise and the integrators' decay. */
typedef struct RprofPcs {
    double wa;    /* noise driving the doubly integrated component */
    double we;    /* white-noise component */
    double ws;    /* noise driving the singly integrated component */
    double decay; /* factor applied to every integrator at every step */
} RprofPcs;

/* State of one component stream. */
typedef struct RprofVars {
    double za;    /* doubly integrated elevation */
    double sa;    /* its slope, the random walk that za integrates */
    double zs;    /* singly integrated elevation */
    int32_t idum; /* this stream's generator state */
} RprofVars;

/* Coefficients of the two cross-track filters. */
typedef struct RprofXpcs {
    double gain; /* 1 / (wc + 1) */
    double wc;   /* corner angular wavenumber times the interval */
} RprofXpcs;

/* State of the cross-track filters. */
typedef struct RprofXvars {
    double hp;    /* last high-pass output */
    double hp_in; /* high-pass input of the previous sample */
    double lp;    /* last low-pass output */
} RprofXvars;

/* One synthesis. x, z1 and z2 hold n entries each when present; the
** sub-record pointers point at the static records. */
typedef struct RprofResult {
    double *x;  /* distance of each sample: i x interval */
    double *z1; /* elevation of the first (or only) track */
    double *z2; /* elevation of the second track; NULL with one track */
    int32_t n;  /* number of samples; 0 when nothing was synthesised */
    RprofParams *params;
    RprofPcs *pcs;
    RprofVars *vars1; /* the only stream of one track */
    RprofVars *vars2;
    RprofVars *vars3;
    RprofXpcs *xpcs;   /* two tracks */
    RprofXvars *xvars; /* two tracks */
} RprofResult;

/* Synthesises one track (nprofs 1) or two (any other nprofs, after the
** message "Error synthesizing road profile: nprofs must be 1 or 2." for
** values other than 2) of ceil(length x (1 / interval)) + 1 samples, and
** returns the static record. A seed above 0 fixes the profile; 0 or less
** takes the seed from the calendar time in seconds.
**
** The record's arrays are allocated here, at their final size, and stay
** readable until the next call, which releases them first. Arguments that
** rprof_check refuses, and exhausted memory, print a message beginning
** "Error synthesizing road profile: " and give n = 0 with x, z1 and z2
** NULL: nothing is synthesised. */
SORVAN_API RprofResult *genrprof_sayers(double ga, double ge, double gs, double corr_length,
                                        double length, double interval, int32_t nprofs,
                                        int32_t seed);

/* Fills one-track coefficients from a (doubly integrated), e (white noise),
** s (singly integrated) and the interval dx. NULL is ignored. */
SORVAN_API void init_rprof1_pcs(RprofPcs *pcs, double a, double e, double s, double dx);

/* Clears a stream and seeds it: *seed is replaced by its negation when above
** 0, else by the negated calendar time in seconds; one normal deviate is
** drawn with it and discarded (it leaves the cached deviate the stream uses
** first); *seed, now positive, becomes the stream's idum. NULL is ignored. */
SORVAN_API void init_rprof1_vars(RprofVars *vars, int32_t *seed);

/* Prepares a two-track synthesis from the parameters the record points at:
** half of each coefficient per stream, the three streams seeded one from the
** other, z1 and z2 allocated with n entries each (zero-filled; arrays already
** held there are released first, so the record must start zero-filled), the
** filter coefficients set and the filter state cleared. When memory runs out
** n becomes 0 and z1 and z2 NULL. Does nothing when a pointer it needs is
** NULL. */
SORVAN_API void init_rprof2(RprofResult *res);

/* Returns the next elevation of one stream, sampled at steps of dx. A
** component whose scale is 0 or less draws nothing. NULL gives 0 and draws
** nothing. */
SORVAN_API double rprof1(double dx, RprofPcs *pcs, RprofVars *vars);

/* Computes sample i of both tracks from the three streams and the filters.
** Does nothing, and draws nothing, when i is outside 0..n-1 or the record
** lacks an array or sub-record. */
SORVAN_API void rprof2(RprofResult *res, int32_t i);

/* Synthesises nprofs (1 or 2) tracks and writes them, one channel each with
** the unit "mm", into the RPC III file through the host's durability
** services. Returns 0 on success and 1 on any failure, with a message on
** the standard output stream; a failure leaves no file. */
SORVAN_API int32_t genrprof_sayers_to_rpc(const char *file, const char *label1, const char *label2,
                                          double ga, double ge, double gs, double corr_length,
                                          double length, double interval, int32_t nprofs,
                                          int32_t seed);

/* The host function GENRPROF_SAYERS. ints holds nprofs and seed, reals ga,
** ge, gs, corr_length, length and interval, strings the file name and the
** two channel labels. Returns a new one-integer array: 0 on success, 1 on
** failure (wrong counts are reported through the host's error channel). */
SORVAN_API vc_array cmd_to_genrprof_sayers(vc_array ints, vc_array reals, vc_array strings);

#ifdef __cplusplus
}
#endif

#endif /* SORVAN_VIEW_H */
