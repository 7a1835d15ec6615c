// --json: the standard output stream carries one JSON object and nothing
// else. While it is on, everything else printed (the human summary, the
// plug-in's own diagnostics) goes to the standard error stream.
#ifndef SORVAN_CLI_JSON_OUTPUT_H
#define SORVAN_CLI_JSON_OUTPUT_H

#include <nlohmann/json.hpp>

namespace sorvan::cli::json_output {

// Whether the command line asks for JSON: a "--json" before any "--".
bool requested(int argc, char **argv);

// Points the standard output stream at the standard error stream, keeping
// the real one for the object.
void begin();
bool active();

// Prints the object on the real standard output stream (once).
void emit(const nlohmann::json &object);
bool emitted();

// The object of a failure: {"result": result, "exit": status, "error": the
// last message the command complained with}.
void emit_failure(int status, const nlohmann::json &result);

// The last message a command complained with (complain() records it).
void record_error(const std::string &message);

// A caller inside this process (the Python module) takes the object instead
// of the standard output stream: from begin_capture() on, emit() keeps the
// object for end_capture() and prints nothing. begin_capture() forgets the
// object and the message of the command before.
void begin_capture();
nlohmann::json end_capture(); // the object emitted, or null; capturing ends

} // namespace sorvan::cli::json_output

#endif
