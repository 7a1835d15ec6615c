// sorvan profile: read a road profile back (RPC III or CSV).
#include "cli/commands.h"

namespace sorvan::cli {

namespace {

const std::vector<OptionSpec> profile_options = {};

const CommandSpec profile_spec{"profile",   "FILE [--csv OUT] [--psd-plot OUT.svg] [--json]",
                               0,           -1,
                               "its words", &profile_options,
                               true,        "Not yet available."};

} // namespace

const CommandSpec &profile_command() {
    return profile_spec;
}

int run_profile(int argc, char **argv) {
    Parsed args;
    if (int status = parse_command_line(profile_spec, argc, argv, args); status >= 0) return status;
    complain("profile", "not yet available");
    return exit_usage;
}

} // namespace sorvan::cli
