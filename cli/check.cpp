// sorvan check: check that a deck behaves like its model.
#include "cli/commands.h"

namespace sorvan::cli {

namespace {

const std::vector<OptionSpec> check_options = {};

const CommandSpec check_spec{"check",     "BDF_FILE --map MAP_FILE --abc ABC_BASE [OPTIONS]",
                             0,           -1,
                             "its words", &check_options,
                             true,        "Not yet available."};

} // namespace

const CommandSpec &check_command() {
    return check_spec;
}

int run_check(int argc, char **argv) {
    Parsed args;
    if (int status = parse_command_line(check_spec, argc, argv, args); status >= 0) return status;
    complain("check", "not yet available");
    return exit_usage;
}

} // namespace sorvan::cli
