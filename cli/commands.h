// The subcommands of the sorvan command line and what they share. Each
// run_ function takes the whole argument vector, with argv[1] its own name,
// and returns the process exit status; each help_ function prints the
// command's help on the standard output stream.
#ifndef SORVAN_CLI_COMMANDS_H
#define SORVAN_CLI_COMMANDS_H

#include "analysis/number_text.h"
#include "cli/args.h"

#include <string>
#include <vector>

namespace sorvan::cli {

// Exit statuses shared by the subcommands. A failed host function exits with
// its result code negated: 1 to 8 for convert, 1 to 3 for reduce, 1 for road.
constexpr int exit_usage = 64;     // bad command line
constexpr int exit_no_input = 66;  // an input file the command reads itself is unreadable
constexpr int exit_no_plugin = 69; // the plug-in could not be loaded or lacks a name
constexpr int exit_output = 73;    // a report file could not be written or read back

int run_convert(int argc, char **argv);
int run_reduce(int argc, char **argv);
int run_road(int argc, char **argv);
int run_version(int argc, char **argv);
int run_functions(int argc, char **argv);

void help_convert();
void help_reduce();
void help_road();
void help_version();
void help_functions();

// What every subcommand parses first.
struct CommandLine {
    const char *name;                   // "convert"
    const std::vector<Option> *options; // --help and --plugin are added
    void (*help)();
    size_t positional;            // number of positional words required
    const char *positional_names; // "MAP_FILE and ABC_BASE", for the message
};

// Parses argv[2..] for the command. Returns -1 when the command should go
// on; otherwise the exit status: 0 after printing the help for --help, or
// exit_usage after printing why the words were refused.
int parse_command(Args &args, int argc, char **argv, const CommandLine &command);

// The --plugin option's value, or "" for the default beside this program.
std::string plugin_option(const Args &args);

// Prints "sorvan COMMAND: message" on the standard error stream.
void complain(const char *command, const std::string &message);

// Sends the standard output stream to the null device while it lives, so
// that a reader's diagnostics about a file read ahead of time are not
// printed twice (the host function that reads it properly prints them).
class MutedStdout {
  public:
    MutedStdout();
    MutedStdout(const MutedStdout &) = delete;
    MutedStdout &operator=(const MutedStdout &) = delete;
    ~MutedStdout();

  private:
    int saved_ = -1;
};

} // namespace sorvan::cli

#endif
