#include "cli/json_output.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#ifdef _WIN32
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define fileno _fileno
#define write _write
#else
#include <unistd.h>
#endif

namespace sorvan::cli::json_output {

namespace {

int real_stdout = -1; // the standard output stream while JSON is on
bool done = false;
std::string last_error;
bool capturing = false;
nlohmann::json captured;

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

void emit(const nlohmann::json &object) {
    if (done) return;
    done = true;
    if (capturing) {
        captured = object;
        return;
    }
    const std::string text = object.dump(2) + "\n";
    std::fflush(stdout);
    if (real_stdout >= 0) {
        dup2(real_stdout, fileno(stdout));
        real_stdout = -1;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

bool emitted() {
    return done;
}

void emit_failure(int status, const nlohmann::json &result) {
    emit({{"result", result}, {"exit", status}, {"error", last_error}});
}

void record_error(const std::string &message) {
    last_error = message;
}

void begin_capture() {
    capturing = true;
    done = false;
    captured = nullptr;
    last_error.clear();
}

nlohmann::json end_capture() {
    capturing = false;
    return std::move(captured);
}

} // namespace sorvan::cli::json_output
