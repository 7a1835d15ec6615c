// Converter parameters and state, the texts of real numbers, banners and
// the file header.
#include "bdf_export/bdf.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

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
char lu_lab[64] = "METER";
char fu_lab[64] = "NEWTON";
char mu_lab[64] = "KILOGRAM";
char tu_lab[64] = "SECOND";

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
// Texts of real numbers
// ======================================================================

namespace {

// 10^-30 to 10^30 as correctly rounded literals, the same doubles on every
// build. A computed power differs from these at 10^23, and repeated
// multiplication by 10 at many more exponents, which changes the exponent
// chosen for values near a mantissa of 0.999.
constexpr double pow10_table[61] = {
    1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20, 1e-19, 1e-18,
    1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9,  1e-8,  1e-7,  1e-6,  1e-5,
    1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,   1e5,   1e6,   1e7,   1e8,
    1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21,
    1e22,  1e23,  1e24,  1e25,  1e26,  1e27,  1e28,  1e29,  1e30};

constexpr int max_exponent = 30;

// Widest "%f" text of a double: 309 integer digits, sign, point and the
// largest precision accepted (20) fit with room to spare.
constexpr int fixed_buffer = 400;
constexpr int max_precision = 20;

const char unprintable_real8[BDF_REAL8_SIZE] = "********";

// The decimal exponent that BDFreal8 gives a value above 1.0E-30: the first
// e from 30 down at which the mantissa reaches 0.999 in magnitude. At -30 the
// mantissa is at least 1, so the search always ends there at the latest.
int real8_exponent(double value, double *mantissa) {
    for (int e = max_exponent;; --e) {
        *mantissa = value / pow10_table[e + max_exponent];
        if (std::fabs(*mantissa) >= 0.999 || e == -max_exponent) return e;
    }
}

} // namespace

int BDFreal8_fits(double value) {
    return std::isfinite(value) && std::fabs(value) < BDF_REAL8_LIMIT;
}

size_t BDFformat_fixed(double value, int width, int precision, char *out, size_t size) {
    if (size == 0) return 0;
    out[0] = '\0';
    if (precision < 0 || precision > max_precision || width < 0) return 0;
    char digits[fixed_buffer];
    auto [end, ec] =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, precision);
    if (ec != std::errc()) return 0;
    size_t len = static_cast<size_t>(end - digits);
    size_t pad = len < static_cast<size_t>(width) ? static_cast<size_t>(width) - len : 0;
    if (pad + len >= size) return 0;
    std::memset(out, ' ', pad);
    std::memcpy(out + pad, digits, len);
    out[pad + len] = '\0';
    return pad + len;
}

BDFreal8_text BDFreal8(double value) {
    BDFreal8_text out;
    std::memcpy(out.text, unprintable_real8, sizeof out.text);
    if (!BDFreal8_fits(value)) return out;
    double mantissa = 0.0; // zero, -0.0 and tiny values print as " 0.000+0"
    int e = 0;
    if (std::fabs(value) > 1.0e-30) e = real8_exponent(value, &mantissa);
    char text[32];
    size_t len = BDFformat_fixed(mantissa, e > -10 && e < 10 ? 6 : 5, e > -10 && e < 10 ? 3 : 2,
                                 text, sizeof text);
    int n =
        std::snprintf(text + len, sizeof text - len, "%s%d", e >= 0 ? "+" : "-", e >= 0 ? e : -e);
    if (n > 0 && len + static_cast<size_t>(n) == BDF_REAL8_SIZE - 1)
        std::memcpy(out.text, text, sizeof out.text);
    return out;
}

BDFsci_text BDFsci(double value) {
    BDFsci_text out;
    auto [end, ec] = std::to_chars(out.text, out.text + sizeof out.text - 1, value,
                                   std::chars_format::scientific, 6);
    if (ec != std::errc()) end = out.text; // cannot happen: 14 characters at most
    *end = '\0';
    for (char *p = out.text; p != end; ++p)
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    return out;
}

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
