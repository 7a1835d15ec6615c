// Converter parameters and state, banners and the file header.
#include "bdf_export/bdf.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

// ======================================================================
// Converter parameters: library-wide, written only by callers and the host
// command, read by every conversion.
// ======================================================================

int32_t tf_id = 1;
double thresh = 1e-9;
double v_stif = 1e9;
double v_damp = 1e6;
double v_tstf = 1e6;
double v_tdmp = 1e4;
int32_t whl_dv = 24;
int32_t lrg_fld = 0;
char lu_lab[64] = "METER";
char fu_lab[64] = "NEWTON";
char mu_lab[64] = "KILOGRAM";
char tu_lab[64] = "SECOND";
char bdf_out[BDF_NAME_SIZE] = "";

// ======================================================================
// Converter state of the running conversion.
// ======================================================================

int32_t grid_id = 0;
int32_t element_id = 0;
int32_t input_id_base = 0;
int32_t ext_id_base = 0;
int32_t output_id_base = 0;
int32_t state_id_base = 0;
double lu_fac = 0.0;
double fu_fac = 0.0;
double mu_fac = 0.0;
double tu_fac = 0.0;
char bdf_name[BDF_NAME_SIZE] = "";

// ======================================================================
// Banners, header and messages
// ======================================================================

void BDFbanner(FILE *bdf, const char *title) {
    std::fprintf(bdf, "$*\n$* KAVEL2PELDA: %s\n$*\n", title);
}

void BDFwrite_header(FILE *bdf, const char *map_file, const char *abc_file, const char *bdf_file) {
    BDFbanner(bdf, "File information:");
    std::fprintf(bdf, "$*  Import MAP file name: %s\n", map_file);
    std::fprintf(bdf, "$*  Import ABC file name: %s\n", abc_file);
    std::fprintf(bdf, "$*  Export BDF file name: %s\n", bdf_file);
    BDFbanner(bdf, "Variable information:");
    std::fprintf(bdf, "$*  ID number of TFs:           %d\n", tf_id);
    std::fprintf(bdf, "$*  Threshold for matrix terms: %s\n", BDFsci(thresh).text);
    std::fprintf(bdf, "$*  connecting stiffness value: (%s [N/m])\n", BDFsci(v_stif).text);
    std::fprintf(bdf, "$*  connecting damping value:   (%s [N*s/m])\n", BDFsci(v_damp).text);
    std::fprintf(bdf, "$*  connecting t_stiff. value   (%s [N*m/rad])\n", BDFsci(v_tstf).text);
    std::fprintf(bdf, "$*  connecting t_damp. value    (%s [N*m*s/rad])\n", BDFsci(v_tdmp).text);
    std::fprintf(bdf, "$*  divid number for wheel:     %d\n", whl_dv);
    BDFbanner(bdf, "Unit information:");
    std::fprintf(bdf, "$*  length unit: %.63s\n", lu_lab);
    std::fprintf(bdf, "$*  force unit:  %.63s\n", fu_lab);
    std::fprintf(bdf, "$*  mass unit:   %.63s\n", mu_lab);
    std::fprintf(bdf, "$*  time unit:   %.63s\n", tu_lab);
}

void BDFreport(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
