// GENRPROF_SAYERS: the road profile host function. It checks the three
// argument arrays of the host language, synthesises the tracks and writes
// them as channels of an RPC III file through the host's durability
// services.
#include "road_profile/profile.h"

#include "frame/host_api.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Element counts the three argument arrays must have.
constexpr int32_t int_count = 2;
constexpr int32_t real_count = 6;
constexpr int32_t text_count = 3;

// Unit of every channel's values.
constexpr char channel_unit[] = "mm";

// Element i of an array's cells: an integer or a text pointer lies at the
// start of its 8-byte cell, a real fills it.
template <class T> T cell(const void *cells, int32_t i) {
    T value;
    std::memcpy(&value,
                static_cast<const char *>(cells) + size_t{VC_CELL_SIZE} * static_cast<size_t>(i),
                sizeof value);
    return value;
}

// Whether every elevation of every track is a finite number. Coefficients
// far beyond any road's overflow the integrators; such a profile is refused
// rather than written.
bool tracks_finite(const RprofResult *res, int32_t nprofs) {
    const double *tracks[2] = {res->z1, nprofs == 2 ? res->z2 : nullptr};
    for (const double *z : tracks)
        for (int32_t i = 0; z && i < res->n; ++i)
            if (!std::isfinite(z[i])) return false;
    return true;
}

// Prints the failure of one durability step with the host's text for code.
void report_rpc_error(const char *format, const char *file, int32_t code) {
    char text[AC_DUR_ERROR_SIZE] = "";
    ac_dur_rpc_geterror(code, text);
    text[sizeof text - 1] = '\0';
    std::printf(format, file, text);
}

// Ends the durability services after a failure. The services release every
// file handle still open without writing it, so no partial file is left.
int32_t fail_rpc(const char *format, const char *file, int32_t code) {
    report_rpc_error(format, file, code);
    ac_dur_terminate();
    return 1;
}

} // namespace

extern "C" SORVAN_API int32_t genrprof_sayers_to_rpc(const char *file, const char *label1,
                                                     const char *label2, double ga, double ge,
                                                     double gs, double corr_length, double length,
                                                     double interval, int32_t nprofs,
                                                     int32_t seed) {
    if (nprofs != 1 && nprofs != 2) {
        std::printf("Error synthesizing road profile: nprofs must be 1 or 2.\n");
        return 1;
    }
    if (!file) file = "";
    RprofResult *res = genrprof_sayers(ga, ge, gs, corr_length, length, interval, nprofs, seed);
    if (res->n <= 0) return 1; // refused or out of memory; the reason is printed
    if (!tracks_finite(res, nprofs)) {
        std::printf("Error synthesizing road profile: the elevations overflow; the coefficients "
                    "are too large.\n");
        return 1;
    }
    ac_dur_initialize();
    int32_t err = 0;
    ac_dur_rpc rpc = ac_dur_rpc_create(file, nprofs, res->n, interval, &err);
    if (err != 0 || !rpc) return fail_rpc("Error creating RPC III file %s:  %s\n", file, err);
    err = ac_dur_rpc_putchannel(rpc, 1, res->n, res->z1, label1 ? label1 : "", channel_unit);
    if (err == 0 && nprofs == 2)
        err = ac_dur_rpc_putchannel(rpc, 2, res->n, res->z2, label2 ? label2 : "", channel_unit);
    if (err != 0) return fail_rpc("Error writing data to RPC III file %s:  %s\n", file, err);
    err = ac_dur_rpc_writeclose(rpc);
    if (err != 0) return fail_rpc("Error closing RPC III file %s:  %s\n", file, err);
    ac_dur_terminate();
    return 0;
}

extern "C" SORVAN_API vc_array cmd_to_genrprof_sayers(vc_array ints, vc_array reals,
                                                      vc_array strings) {
    vc_array_coerce_element_type(ints, VC_INTEGER);
    vc_array_coerce_element_type(reals, VC_REAL);
    vc_array_coerce_element_type(strings, VC_TEXT);

    const int32_t one = 1;
    vc_array result = vc_array_create(&one, 1, 1);
    vc_array_set_element_type(result, VC_INTEGER);
    int32_t *status = static_cast<int32_t *>(vc_array_elements(result));
    if (!status) return result; // the host could not make the result

    *status = 0;
    int32_t n = vc_array_element_count(ints);
    if (n != int_count)
        vc_error("Error calling C code for road profile. The \"ints\" array must have exactly "
                 "two elements, not %i element(s).",
                 n);
    int32_t m = vc_array_element_count(reals);
    if (m != real_count)
        vc_error("Error calling C code for road profile. The \"reals\" array must have exactly "
                 "six, not %i element(s).",
                 m);
    int32_t k = vc_array_element_count(strings);
    if (k != text_count)
        vc_error("Error calling C code for road profile. The \"strings\" array must have exactly "
                 "three elements, not %i element(s).",
                 k);
    const void *iv = vc_array_elements(ints), *rv = vc_array_elements(reals),
               *sv = vc_array_elements(strings);
    if (n != int_count || m != real_count || k != text_count || !iv || !rv || !sv) {
        *status = 1;
        return result;
    }
    *status = genrprof_sayers_to_rpc(
        cell<const char *>(sv, 0), cell<const char *>(sv, 1), cell<const char *>(sv, 2),
        cell<double>(rv, 0), cell<double>(rv, 1), cell<double>(rv, 2), cell<double>(rv, 3),
        cell<double>(rv, 4), cell<double>(rv, 5), cell<int32_t>(iv, 0), cell<int32_t>(iv, 1));
    return result;
}
