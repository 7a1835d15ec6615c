// sorvan view: draw the geometry the deck will draw.
#include "cli/commands.h"

namespace sorvan::cli {

namespace {

const std::vector<OptionSpec> view_options = {};

const CommandSpec view_spec{"view",      "MAP_FILE [--abc ABC_BASE] --svg FILE.svg [--labels]",
                            0,           -1,
                            "its words", &view_options,
                            true,        "Not yet available."};

} // namespace

const CommandSpec &view_command() {
    return view_spec;
}

int run_view(int argc, char **argv) {
    Parsed args;
    if (int status = parse_command_line(view_spec, argc, argv, args); status >= 0) return status;
    complain("view", "not yet available");
    return exit_usage;
}

} // namespace sorvan::cli
