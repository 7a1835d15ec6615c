// The plug-in's lifecycle, its table of host functions, the version entries
// and the build banner.
#include "sorvan_view.h"

#include "frame/host_api.h"

#include <cstdio>
#include <cstring>

namespace {

// 1 while the three host functions are registered.
unsigned char initialised = 0;

// The host functions, in the order they are registered and removed.
struct HostFunction {
    const char *name;
    vc_function function;
    int32_t code;           // the host's opaque code for it
    int32_t argument_words; // 32-bit words of arguments; a double takes two
};

const HostFunction host_functions[] = {
    {"GENRPROF_SAYERS", reinterpret_cast<vc_function>(&cmd_to_genrprof_sayers), 504, 3},
    {"KAVEL2PELDA_BDF_WRITE", reinterpret_cast<vc_function>(&kavel2pelda_full), 324, 3},
    {"STATEMAT_WRITE", reinterpret_cast<vc_function>(&stmatwri), 114, 6},
};

// What-strings: each starts with the marker that file-inspection tools look
// for, then the tag, a 12-character key and its value.
constexpr size_t marker_length = 4; // "@(#)"
[[gnu::used]] const char *const what_strings[] = {
    "@(#)ZUMEX Utility  lib: sorvan_view",
    "@(#)ZUMEX Release  ver: (2005.2.0)",
    "@(#)ZUMEX Compile   os: Windows_NT 5",
    "@(#)ZUMEX Compile  cxx: (-std=c++20 -O2 -ffp-contract=off -Wall -Wextra)",
    "@(#)ZUMEX Compile   cc: (-std=c11 -O2 -ffp-contract=off -Wall -Wextra)",
    "@(#)ZUMEX Compile   rc: (-I include -I frame -DSORVAN_BUILDING)",
    "@(#)ZUMEX Compile date: 2005-07-11 23:46:29",
    "@(#)ZUMEX Compile  ver: 20050711.2346",
};

// The number of the last banner line, returned by the banner entry.
constexpr double banner_version = 20050711.2346;

constexpr char version_text[] = "2006.0.0";

// Room for the version text of each text entry.
char sb_version[sizeof version_text];
char sf_version[sizeof version_text];

} // namespace

extern "C" {

SORVAN_API int32_t sorvan_version_register(void) {
    VersionRegister(0, 0, 0, 0, 0, 0);
    return 0;
}

SORVAN_API int32_t sorvan_version_unregister(void) {
    return VersionRegister(0, 0, 0, 0, 0, 0);
}

SORVAN_API void sorvan_initialize(void) {
    if (initialised) return;
    initialised = 1;
    sorvan_version_register();
    for (const HostFunction &f : host_functions)
        vc_function_add(f.name, f.function, f.code, f.argument_words, 0);
}

SORVAN_API void sorvan_terminate(void) {
    if (!initialised) return;
    sorvan_version_unregister();
    for (const HostFunction &f : host_functions)
        vc_function_remove(f.name);
    initialised = 0;
}

SORVAN_API double sorvan_view_version(void) {
    std::printf("\n");
    for (const char *text : what_strings)
        std::printf("\n%%sorvan_view-i-sorvan_view, %s", text + marker_length);
    std::printf("\n");
    return banner_version;
}

SORVAN_API int32_t sorvan_MajorVersion(void) {
    return 2006;
}

SORVAN_API int32_t sorvan_MinorVersion(void) {
    return 0;
}

// The patch level is the minor version's entry under a second name. The
// Windows DLL gets the second name from its module-definition file.
#ifndef _WIN32
SORVAN_API int32_t sorvan_PatchVersion(void) __attribute__((alias("sorvan_MinorVersion")));
#endif

SORVAN_API const char *sorvan_SbVersion(void) {
    std::memcpy(sb_version, version_text, sizeof version_text);
    return sb_version;
}

SORVAN_API const char *sorvan_SfVersion(void) {
    std::memcpy(sf_version, version_text, sizeof version_text);
    return sf_version;
}

SORVAN_API double sorvan_RVersion(void) {
    return 2006.0;
}

} // extern "C"
