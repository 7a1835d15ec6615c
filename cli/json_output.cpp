#include "cli/json_output.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define fileno _fileno
#define write _write
#define close _close
#else
#include <unistd.h>
#endif

namespace sorvan::cli::json_output {

namespace {

int real_stdout = -1; // the standard output stream while JSON is on
nlohmann::json object;
bool has_object = false;
std::vector<std::string> warnings;
std::string error_text;

} // namespace

bool requested(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--")) return false;
        if (!std::strcmp(argv[i], "--json")) return true;
    }
    return false;
}

void begin() {
    std::fflush(stdout);
    real_stdout = dup(fileno(stdout));
    if (real_stdout >= 0) dup2(fileno(stderr), fileno(stdout));
}

bool active() {
    return real_stdout >= 0;
}

void emit(const nlohmann::json &o) {
    object = o;
    has_object = true;
}

bool emitted() {
    return has_object;
}

void warn(const std::string &text) {
    warnings.push_back(text);
}

nlohmann::json envelope(const std::string &command, int status) {
    nlohmann::json out = {{"command", command}, {"ok", status == 0}, {"exit", status}};
    if (status != 0)
        out["error"] = error_text.empty() ? "exit status " + std::to_string(status) : error_text;
    nlohmann::json list = nlohmann::json::array();
    for (const std::string &w : warnings)
        list.push_back(w);
    if (has_object && object.is_object()) {
        for (const auto &[key, value] : object.items()) {
            if (key == "warnings" && value.is_array()) {
                for (const auto &w : value)
                    list.push_back(w);
                continue;
            }
            if (!out.contains(key)) out[key] = value;
        }
    }
    out["warnings"] = list;
    reset();
    return out;
}

void reset() {
    object = nlohmann::json();
    has_object = false;
    warnings.clear();
    error_text.clear();
}

void finish(const std::string &command, int status) {
    // Names and labels from files may hold any bytes: a sequence that is
    // no UTF-8 becomes U+FFFD rather than stopping the output.
    const std::string text =
        envelope(command, status).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
        "\n";
    std::fflush(stdout);
    if (real_stdout >= 0) {
        dup2(real_stdout, fileno(stdout));
        close(real_stdout);
        real_stdout = -1;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void record_error(const std::string &message) {
    error_text = message;
}

const std::string &last_error() {
    return error_text;
}

} // namespace sorvan::cli::json_output
