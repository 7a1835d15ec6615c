// The host side of the command line. A Session loads the plug-in, starts it
// as the host does (sorvan_initialize registers its host functions with the
// stand-in host library this program is linked with), finds those functions
// by their host names and stops the plug-in again (sorvan_terminate) when it
// ends.
#ifndef SORVAN_CLI_SESSION_H
#define SORVAN_CLI_SESSION_H

#include "cli/plugin.h"
#include "host/plexa_setup.h"

#include <string>

namespace sorvan::cli {

class Session {
  public:
    Session() = default;
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    ~Session(); // calls sorvan_terminate when start() succeeded

    // Loads the plug-in from path (beside this program when empty) and calls
    // its sorvan_initialize. Returns false with error() set.
    bool start(const std::string &path);

    // The registered host function name, which must take argument_words
    // 32-bit argument words: the signature this program calls it with.
    // nullptr with error() set when it is missing or registered otherwise.
    vc_function function(const char *name, int32_t argument_words);

    template <class F> F function_as(const char *name, int32_t argument_words) {
        return reinterpret_cast<F>(function(name, argument_words));
    }

    Plugin &plugin() { return plugin_; }
    const std::string &error() const { return error_; }

  private:
    Plugin plugin_;
    void (*terminate_)() = nullptr;
    std::string error_;
};

// Starts a session from the --plugin option of args (empty: beside this
// program); on failure prints "sorvan COMMAND: why" and returns false.
bool start_session(Session &session, const char *command, const std::string &plugin_path);

} // namespace sorvan::cli

#endif
