// The subcommands of the sorvan command line and what they share. Each
// run_ function takes the whole argument vector, with argv[1] its own name,
// and returns the process exit status; each help_ function prints the
// command's help on the standard output stream.
#ifndef SORVAN_CLI_COMMANDS_H
#define SORVAN_CLI_COMMANDS_H

#include "analysis/number_text.h"
#include "cli/options.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sorvan::cli {

// Exit statuses shared by the subcommands. A failed host function exits with
// its result code negated: 1 to 8 for convert, 1 to 3 for reduce, 1 for road.
constexpr int exit_usage = 64;     // bad command line
constexpr int exit_data = 65;      // an input's content refused, or a figure from it not finite
constexpr int exit_no_input = 66;  // an input file the command reads itself is unreadable
constexpr int exit_no_plugin = 69; // the plug-in could not be loaded or lacks a name
constexpr int exit_output = 73;    // a report file could not be written or read back
constexpr int exit_software = 70;  // the command ended by an exception (memory ran out)

// The largest ABC matrix file the front end reads: A of a dense model of
// 3,000 states is 225 MB.
constexpr std::uint64_t abc_file_max = std::uint64_t{4} << 30; // 4 GiB

// Whether name can be read as an input of at most limit bytes: a regular
// file that opens. Otherwise false with why set to "NAME: reason" (the
// system's reason, not a regular file, or its size against the limit).
bool input_file_ok(const std::string &name, std::uint64_t limit, std::string &why);

// Runs a command's body: an exception that leaves it (memory running out,
// most likely) becomes "sorvan COMMAND: out of memory while running
// COMMAND" or the exception's reason, and exit_software.
int run_guarded(const char *command, int (*run)(int, char **), int argc, char **argv);

// Each command: its command line (the single source of its parser, help
// and README section) and its run function.
const CommandSpec &convert_command();
const CommandSpec &reduce_command();
const CommandSpec &road_command();
const CommandSpec &version_command();
const CommandSpec &functions_command();
const CommandSpec &info_command();
const CommandSpec &check_command();
const CommandSpec &view_command();
const CommandSpec &profile_command();
const CommandSpec &ride_command();
const std::vector<const CommandSpec *> &all_commands();

int run_convert(int argc, char **argv);
int run_reduce(int argc, char **argv);
int run_road(int argc, char **argv);
int run_version(int argc, char **argv);
int run_functions(int argc, char **argv);
int run_info(int argc, char **argv);
int run_check(int argc, char **argv);
int run_view(int argc, char **argv);
int run_profile(int argc, char **argv);
int run_ride(int argc, char **argv);

// A road profile as profile reads it (an RPC III file or a CSV table): per
// channel its label, unit and points; the spacing of the points in metres
// (of a file in time DELTA_T x SPEED_M_S, 0 when it names no speed).
struct RoadTracks {
    std::vector<std::string> labels, units;
    std::vector<std::vector<double>> values;
    double interval_m = 0.0;
    bool time_based = false;
};

// Reads file as profile does. Returns 0, or the exit status (66 the file
// cannot be read, 65 it is malformed) after complaining as command.
int read_road_tracks(const char *command, const std::string &file, RoadTracks &tracks);

// Prints "sorvan COMMAND: message" on the standard error stream (and keeps
// the message for the JSON object of a failure).
void complain(const char *command, const std::string &message);

// A file a command line names, and the word or option that names it
// ("MAP_FILE", "--plot").
struct NamedFile {
    std::string what, name;
};

// Whether two names reach one file: the same name, the same path once the
// file system resolves it, or, for existing files, the same file (through a
// link or another name).
bool same_target(const std::string &a, const std::string &b);

// Refuses (complains and returns false) a command line on which an output
// reaches an input or another output, before anything is read or written.
bool outputs_apart(const char *command, const std::vector<NamedFile> &inputs,
                   const std::vector<NamedFile> &outputs);

// Whether name ends in ".svg", in any case; complains when it does not.
bool svg_name(const std::string &name);
bool want_svg_name(const char *command, const char *option, const std::string &name);

// "1 wheel", "4 wheels": a count with its noun.
std::string counted(long long n, const char *one, const char *many);

// A descriptor of the null device open for writing, or -1.
int open_null();

// Takes what the plug-in or the model readers print on the standard output
// stream while it lives, so that it can go into a message of ours.
class CapturedStdout {
  public:
    CapturedStdout();
    CapturedStdout(const CapturedStdout &) = delete;
    CapturedStdout &operator=(const CapturedStdout &) = delete;
    ~CapturedStdout() { text(); }

    // What was printed, as printed (once; "" afterwards).
    std::string raw();
    // The same with its lines joined by "; " and no line end at its end.
    std::string text();

  private:
    std::FILE *file_ = nullptr;
    int saved_ = -1;
};

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
