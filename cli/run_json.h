// The commands of the command line for a caller inside this process (the
// Python module): a command runs as "sorvan WORDS... --json" would run it,
// but its JSON object is handed back instead of printed.
#ifndef SORVAN_CLI_RUN_JSON_H
#define SORVAN_CLI_RUN_JSON_H

#include <nlohmann/json.hpp>

#include <mutex>
#include <string>
#include <vector>

namespace sorvan::cli {

// Runs the command words[0] (convert, reduce, road, profile, info, check,
// version, ride) with the rest of words as its command line and --json, and
// returns the exit status the command line would have. object gets what
// the command would print: its report, or on failure {"result", "exit",
// "error"} with the message the command line prints. Meanwhile the
// standard output and error streams go to the null device: the human
// summary and the plug-in's diagnostics are for a person at a terminal.
// Calls wait for each other (command_lock()).
int run_json(const std::vector<std::string> &words, nlohmann::json &object,
             std::string *printed = nullptr);

// Held by run_json while a command runs: what else uses the process-wide
// state the commands use (the standard streams, the host's RPC III
// services, the dense linear algebra, which takes one caller at a time)
// takes it too.
std::mutex &command_lock();

} // namespace sorvan::cli

#endif
