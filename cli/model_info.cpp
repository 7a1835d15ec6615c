// sorvan info: what is in a model: inputs, outputs, states and modes.
#include "cli/commands.h"

namespace sorvan::cli {

namespace {

const std::vector<OptionSpec> info_options = {};

const CommandSpec info_spec{"info",      "MAP_FILE ABC_BASE [--max-frequency HZ] [--json]",
                            0,           -1,
                            "its words", &info_options,
                            true,        "Not yet available."};

} // namespace

const CommandSpec &info_command() {
    return info_spec;
}

int run_info(int argc, char **argv) {
    Parsed args;
    if (int status = parse_command_line(info_spec, argc, argv, args); status >= 0) return status;
    complain("info", "not yet available");
    return exit_usage;
}

} // namespace sorvan::cli
