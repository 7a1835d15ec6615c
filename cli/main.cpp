// sorvan: runs the plug-in's functions from the command line, loading the
// plug-in library at run time as the host does.
#include "cli/commands.h"

#include <cstdio>
#include <cstring>

namespace {

void help_main() {
    std::printf(
        "usage: sorvan COMMAND [ARGUMENTS] [OPTIONS]\n"
        "\n"
        "Commands:\n"
        "  convert MAP_FILE ABC_BASE   convert a linearised model (MAP file and ABC set)\n"
        "                              into a bulk data file named after the MAP file\n"
        "\n"
        "Every command takes --plugin PATH to load the plug-in from PATH instead of\n"
        "from beside this program, and --help for its own options.\n"
        "\n"
        "Exit status: 0 success; 1 to 8 the converter's failure code negated;\n"
        "64 bad command line; 69 plug-in not loadable; 73 a report file not written.\n");
}

} // namespace

int main(int argc, char **argv) {
    using namespace sorvan::cli;
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
        !std::strcmp(argv[1], "help")) {
        if (argc >= 3 && !std::strcmp(argv[2], "convert")) {
            help_convert();
            return 0;
        }
        help_main();
        return argc < 2 ? exit_usage : 0;
    }
    if (!std::strcmp(argv[1], "convert")) return run_convert(argc, argv);
    std::fprintf(stderr, "sorvan: unknown command \"%s\" (see sorvan --help)\n", argv[1]);
    return exit_usage;
}
