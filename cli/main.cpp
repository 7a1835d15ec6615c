// sorvan: the command-line host. It loads the plug-in library at run time,
// starts it as the host does and runs its host functions through the
// stand-in host's registry, by their host names.
#include "cli/commands.h"

#include <cstdio>
#include <cstring>

namespace {

using namespace sorvan::cli;

struct Command {
    const char *name;
    int (*run)(int, char **);
    void (*help)();
};

const Command commands[] = {
    {"convert", run_convert, help_convert},
    {"reduce", run_reduce, help_reduce},
    {"road", run_road, help_road},
    {"version", run_version, help_version},
    {"functions", run_functions, help_functions},
};

const Command *find_command(const char *name) {
    for (const Command &c : commands)
        if (!std::strcmp(c.name, name)) return &c;
    return nullptr;
}

void help_main() {
    std::printf("usage: sorvan COMMAND [ARGUMENTS] [OPTIONS]\n"
                "\n"
                "Loads the plug-in library (beside this program, or --plugin PATH), starts it\n"
                "as the host does and runs its functions.\n"
                "\n"
                "Commands:\n"
                "  convert MAP_FILE ABC_BASE   convert a linearised model (MAP file and ABC set)\n"
                "                              into a bulk data file named after the MAP file,\n"
                "                              by the host function KAVEL2PELDA_BDF_WRITE\n"
                "                              (--direct: by the exported kavel2pelda)\n"
                "  reduce IN_BASE OUT_BASE --max-frequency HZ\n"
                "                              write an ABC set again without the states above a\n"
                "                              frequency limit (STATEMAT_WRITE)\n"
                "  road OUT_FILE               synthesise random road tracks into an RPC III\n"
                "                              file (GENRPROF_SAYERS), with optional CSV table\n"
                "                              and spectral density plot\n"
                "  version                     print the plug-in's build banner and versions\n"
                "  functions                   list the host functions the plug-in registers\n"
                "\n"
                "Every command takes --plugin PATH to load the plug-in from PATH instead of\n"
                "from beside this program, and --help for its own options and units\n"
                "(sorvan help COMMAND says the same).\n"
                "\n"
                "Exit status: 0 success; a failed host function gives its result code negated\n"
                "(convert 1 to 8, reduce 1 to 3, road 1); 64 bad command line; 66 an input\n"
                "file unreadable; 69 plug-in not loadable; 73 a report file not written.\n");
}

bool is_help(const char *word) {
    return !std::strcmp(word, "--help") || !std::strcmp(word, "-h") || !std::strcmp(word, "help");
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        help_main();
        return exit_usage;
    }
    if (is_help(argv[1])) {
        const Command *c = argc >= 3 ? find_command(argv[2]) : nullptr;
        if (c)
            c->help();
        else
            help_main();
        return 0;
    }
    if (const Command *c = find_command(argv[1])) return c->run(argc, argv);
    std::fprintf(stderr, "sorvan: unknown command \"%s\" (see sorvan --help)\n", argv[1]);
    return exit_usage;
}
