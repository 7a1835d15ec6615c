#include "cli/commands.h"

#include <charconv>
#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#define fileno _fileno
static int open_null() {
    return _open("NUL", _O_WRONLY);
}
#else
#include <fcntl.h>
#include <unistd.h>
static int open_null() {
    return open("/dev/null", O_WRONLY);
}
#endif

namespace sorvan::cli {

int parse_command(Args &args, int argc, char **argv, const CommandLine &command) {
    std::vector<Option> options = *command.options;
    options.push_back({"plugin", true});
    options.push_back({"help", false});
    if (!args.parse(argc, argv, 2, options)) {
        complain(command.name, args.error() + " (see sorvan " + command.name + " --help)");
        return exit_usage;
    }
    if (args.has("help")) {
        command.help();
        return 0;
    }
    if (args.positional().size() != command.positional) {
        complain(command.name, std::string("needs ") + command.positional_names + " (see sorvan " +
                                   command.name + " --help)");
        return exit_usage;
    }
    return -1;
}

std::string plugin_option(const Args &args) {
    return args.has("plugin") ? args.value("plugin") : std::string();
}

void complain(const char *command, const std::string &message) {
    std::fflush(stdout); // keep the plug-in's own lines before ours
    std::fprintf(stderr, "sorvan %s: %s\n", command, message.c_str());
}

MutedStdout::MutedStdout() {
    std::fflush(stdout);
    int null = open_null();
    if (null < 0) return;
    saved_ = dup(fileno(stdout));
    if (saved_ >= 0) dup2(null, fileno(stdout));
    close(null);
}

MutedStdout::~MutedStdout() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, fileno(stdout));
    close(saved_);
}

} // namespace sorvan::cli
