// sorvan: the command-line host. It loads the plug-in library at run time,
// starts it as the host does and runs its host functions through the
// stand-in host's registry, by their host names.
#include "cli/commands.h"
#include "cli/json_output.h"

#include <cstdio>
#include <cstring>

namespace {

using namespace sorvan::cli;

struct Command {
    const CommandSpec &(*spec)();
    int (*run)(int, char **);
    const char *summary;
};

const Command commands[] = {
    {convert_command, run_convert,
     "convert a linearised model (MAP file and ABC set) into a bulk data file"},
    {reduce_command, run_reduce,
     "write an ABC set again without the states above a frequency limit"},
    {road_command, run_road, "synthesise random road tracks into an RPC III file"},
    {profile_command, run_profile, "read a road profile back (RPC III or CSV) and rate it"},
    {ride_command, run_ride, "drive the model over a road at a speed and rate the ride"},
    {info_command, run_info, "what is in a model: inputs, outputs, states and modes"},
    {check_command, run_check, "check that a deck still behaves like its model"},
    {view_command, run_view, "draw the geometry a deck will draw (SVG)"},
    {version_command, run_version, "print the plug-in's build banner and versions"},
    {functions_command, run_functions, "list the host functions the plug-in registers"},
};

const Command *find_command(const char *name) {
    for (const Command &c : commands)
        if (!std::strcmp(c.spec().name, name)) return &c;
    return nullptr;
}

void help_main(std::FILE *out) {
    std::fprintf(out, "usage: sorvan COMMAND [ARGUMENTS] [OPTIONS]\n"
                      "       sorvan help COMMAND | sorvan --help | sorvan --version\n"
                      "\n"
                      "Loads the plug-in library (beside this program, or --plugin PATH), starts "
                      "it\nas the host does and runs its functions.\n\nCommands:\n");
    for (const Command &c : commands)
        std::fprintf(out, "  %-10s %s\n", c.spec().name, c.summary);
    std::fprintf(out, "\n"
                      "Every command takes --plugin PATH and --help; convert, reduce, road,\n"
                      "profile, ride, info, check, view and version take --json (one JSON object\n"
                      "on standard output, everything else on standard error).\n"
                      "\n"
                      "With --json the object is one envelope: {\"command\", \"ok\", \"exit\",\n"
                      "\"error\" (when not ok), \"warnings\", then the command's own keys}.\n"
                      "\n"
                      "Exit status, the same for every command:\n"
                      "   0  done\n"
                      "   1  a check found a deviation (check, convert --check)\n"
                      "  64  a bad command line\n"
                      "  65  an input refused for its content\n"
                      "  66  an input that cannot be opened\n"
                      "  69  the plug-in cannot be loaded\n"
                      "  70  an internal failure (memory ran out)\n"
                      "  73  an output that cannot be created or written\n");
}

bool is_help(const char *word) {
    return !std::strcmp(word, "--help") || !std::strcmp(word, "-h") || !std::strcmp(word, "help");
}

int run(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "sorvan: no command given\n");
        help_main(stderr);
        return exit_usage;
    }
    if (!std::strcmp(argv[1], "--version") || !std::strcmp(argv[1], "-V"))
        return run_guarded("version", run_version, argc, argv);
    if (is_help(argv[1])) {
        if (argc < 3) {
            help_main(stdout);
            return 0;
        }
        if (const Command *c = find_command(argv[2])) {
            // --markdown: the options table of the README's section
            if (argc > 3 && !std::strcmp(argv[3], "--markdown"))
                std::fputs(options_markdown(c->spec()).c_str(), stdout);
            else
                print_help(c->spec(), stdout);
            return 0;
        }
        std::fprintf(stderr, "sorvan: no command \"%s\" to help with\n", argv[2]);
        help_main(stderr);
        return exit_usage;
    }
    if (const Command *c = find_command(argv[1]))
        return run_guarded(c->spec().name, c->run, argc, argv);
    std::fprintf(stderr, "sorvan: unknown command \"%s\"\n", argv[1]);
    json_output::record_error(std::string("unknown command ") + argv[1]);
    help_main(stderr);
    return exit_usage;
}

} // namespace

int main(int argc, char **argv) {
    const bool json = json_output::requested(argc, argv);
    if (json) json_output::begin();
    const int status = run(argc, argv);
    if (json) {
        const char *command = argc < 2                             ? ""
                              : !std::strcmp(argv[1], "--version") ? "version"
                              : !std::strcmp(argv[1], "-V")        ? "version"
                                                                   : argv[1];
        json_output::finish(command, status);
    }
    return status;
}
