// The subcommands of the sorvan command line. Each takes the whole argument
// vector, with argv[1] its own name, and returns the process exit status.
#ifndef SORVAN_CLI_COMMANDS_H
#define SORVAN_CLI_COMMANDS_H

namespace sorvan::cli {

// Exit statuses shared by the subcommands. A failed conversion exits with
// the converter's result code negated (1 to 8).
constexpr int exit_usage = 64;     // bad command line
constexpr int exit_no_plugin = 69; // the plug-in could not be loaded or lacks a name
constexpr int exit_output = 73;    // a report file could not be written

int run_convert(int argc, char **argv);
void help_convert();

} // namespace sorvan::cli

#endif
