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

// Every command's object stands in one envelope:
//   {"command", "ok", "exit", "error" (when not ok), "warnings": [...],
//    then the command's own keys}
// "ok" is true and "exit" 0 exactly when the command succeeded; "error" is
// the message the command complained with last, the same text as on the
// standard error stream. A command hands its own keys to emit(); finish()
// prints the envelope once the command's exit status is known, also when
// the command gave no object (a refused command line, a failure).

// Keeps the command's own keys (a later call replaces them).
void emit(const nlohmann::json &object);
bool emitted();

// A warning for the envelope's list (complain() records every message that
// starts with "warning: ").
void warn(const std::string &text);

// Prints the envelope on the real standard output stream and starts afresh
// for the next command of the process.
void finish(const std::string &command, int status);

// The envelope itself, without printing it; starts afresh too.
nlohmann::json envelope(const std::string &command, int status);

// Forgets the object, the warnings and the error of a command before.
void reset();

// The last message a command complained with (complain() records it).
void record_error(const std::string &message);
const std::string &last_error();

} // namespace sorvan::cli::json_output

#endif
