// sorvan version and sorvan functions: what the loaded plug-in says about
// itself and what it registered with the host.
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/session.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace sorvan::cli {

namespace {

const std::vector<Option> no_options = {};

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

void help_version() {
    std::printf("usage: sorvan version [--plugin PATH]\n"
                "\n"
                "Loads the plug-in, prints its build banner (sorvan_view_version) and the\n"
                "values of its version entries.\n"
                "\n"
                "  --plugin PATH    load the plug-in from PATH instead of beside sorvan\n");
}

void help_functions() {
    std::printf("usage: sorvan functions [--plugin PATH]\n"
                "\n"
                "Loads and initialises the plug-in, then lists the host functions it\n"
                "registered, in registration order, with the host's code and the number of\n"
                "32-bit argument words of each.\n"
                "\n"
                "  --plugin PATH    load the plug-in from PATH instead of beside sorvan\n");
}

int run_version(int argc, char **argv) {
    Args args;
    const CommandLine command{"version", &no_options, help_version, 0, "no arguments"};
    if (int status = parse_command(args, argc, argv, command); status >= 0) return status;
    Session session;
    if (!start_session(session, "version", plugin_option(args))) return exit_no_plugin;
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
    return 0;
}

int run_functions(int argc, char **argv) {
    Args args;
    const CommandLine command{"functions", &no_options, help_functions, 0, "no arguments"};
    if (int status = parse_command(args, argc, argv, command); status >= 0) return status;
    Session session;
    if (!start_session(session, "functions", plugin_option(args))) return exit_no_plugin;
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
