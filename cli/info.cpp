// sorvan version and sorvan functions: what the loaded plug-in says about
// itself and what it registered with the host.
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/session.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace sorvan::cli {

namespace {

// What the host functions this program knows take, by host name.
struct KnownFunction {
    const char *name;
    const char *arguments;
};
const KnownFunction known_functions[] = {
    {"GENRPROF_SAYERS", "ints, reals, strings (three host arrays) -> status array"},
    {"KAVEL2PELDA_BDF_WRITE", "command object, MAP file, ABC base -> int status"},
    {"STATEMAT_WRITE", "model object, ABC base, frequency limit, real-state switch -> real status"},
};

const char *arguments_of(const char *name) {
    for (const KnownFunction &f : known_functions)
        if (!std::strcmp(f.name, name)) return f.arguments;
    return "";
}

} // namespace

int run_version(int argc, char **argv) {
    Parsed args;
    if (int status = parse_command_line(version_command(), argc, argv, args); status >= 0)
        return status;
    Session session;
    if (!start_session(session, "version", args.plugin())) return exit_no_plugin;
    Plugin &p = session.plugin();
    auto banner = p.get<double (*)()>("sorvan_view_version");
    auto major = p.get<int32_t (*)()>("sorvan_MajorVersion");
    auto minor = p.get<int32_t (*)()>("sorvan_MinorVersion");
    auto patch = p.get<int32_t (*)()>("sorvan_PatchVersion");
    auto sb = p.get<const char *(*)()>("sorvan_SbVersion");
    auto sf = p.get<const char *(*)()>("sorvan_SfVersion");
    auto r = p.get<double (*)()>("sorvan_RVersion");
    if (!banner || !major || !minor || !patch || !sb || !sf || !r) {
        complain("version", p.error());
        return exit_no_plugin;
    }
    double build = banner();
    std::printf("plug-in: %s\n", p.path().c_str());
    std::printf("build:   %s\n", shortest(build).c_str());
    std::printf("version: major %d, minor %d, patch %d, text %s / %s, real %s\n", major(), minor(),
                patch(), sb(), sf(), shortest(r()).c_str());
    if (args.json())
        json_output::emit({{"plugin", p.path()},
                           {"build", build},
                           {"major", major()},
                           {"minor", minor()},
                           {"patch", patch()},
                           {"text", {sb(), sf()}},
                           {"real", r()}});
    return 0;
}

int run_functions(int argc, char **argv) {
    Parsed args;
    if (int status = parse_command_line(functions_command(), argc, argv, args); status >= 0)
        return status;
    Session session;
    if (!start_session(session, "functions", args.plugin())) return exit_no_plugin;
    int32_t count = plexa_function_count();
    std::printf("%-24s %6s %6s  %s\n", "host function", "code", "words", "arguments");
    for (int32_t i = 0; i < count; ++i) {
        plexa_function_info info{};
        if (!plexa_function_at(i, &info)) continue;
        std::printf("%-24s %6d %6d  %s\n", info.name, info.code, info.argument_words,
                    arguments_of(info.name));
    }
    return 0;
}

} // namespace sorvan::cli
