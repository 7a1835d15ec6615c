#include "cli/session.h"
#include "cli/commands.h"

#include <cstdio>

namespace sorvan::cli {

Session::~Session() {
    if (terminate_) terminate_();
}

bool Session::start(const std::string &path) {
    if (!plugin_.load(path)) {
        error_ = plugin_.error();
        return false;
    }
    auto initialize = plugin_.get<void (*)()>("sorvan_initialize");
    auto terminate = plugin_.get<void (*)()>("sorvan_terminate");
    if (!initialize || !terminate) {
        error_ = plugin_.error();
        return false;
    }
    initialize();
    terminate_ = terminate;
    return true;
}

vc_function Session::function(const char *name, int32_t argument_words) {
    plexa_function_info info{};
    if (!plexa_function_lookup(name, &info) || !info.function) {
        error_ = plugin_.path() + " registered no host function " + name;
        return nullptr;
    }
    // Calling a function through a signature it was not made for would
    // corrupt the call; the argument words are what the registry can tell.
    if (info.argument_words != argument_words) {
        error_ = std::string("host function ") + name + " takes " +
                 std::to_string(info.argument_words) + " argument words, not " +
                 std::to_string(argument_words);
        return nullptr;
    }
    return info.function;
}

bool start_session(Session &session, const char *command, const std::string &plugin_path) {
    if (session.start(plugin_path)) return true;
    complain(command, session.error());
    return false;
}

} // namespace sorvan::cli
