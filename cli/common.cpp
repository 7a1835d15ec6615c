#include "cli/commands.h"
#include "cli/json_output.h"
#include "frame/file_identity.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <new>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#define fileno _fileno
static int open_null() {
    return _open("NUL", _O_WRONLY);
}
#else
#include <fcntl.h>
#include <unistd.h>
static int open_null() {
    return open("/dev/null", O_WRONLY);
}
#endif

namespace sorvan::cli {

void complain(const char *command, const std::string &message) {
    std::fflush(stdout); // keep the plug-in's own lines before ours
    std::fprintf(stderr, "sorvan %s: %s\n", command, message.c_str());
    json_output::record_error(message);
}

bool input_file_ok(const std::string &name, std::uint64_t limit, std::string &why) {
    std::FILE *f = open_input(name.c_str(), "rb", limit, nullptr, why);
    if (f) {
        std::fclose(f);
        return true;
    }
    why = name + ": " + why;
    return false;
}

int run_guarded(const char *command, int (*run)(int, char **), int argc, char **argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc &) {
        complain(command, std::string("out of memory while running ") + command);
    } catch (const std::exception &e) {
        complain(command, std::string("stopped by an internal error: ") + e.what());
    } catch (...) {
        complain(command, "stopped by an internal error");
    }
    return exit_software;
}

MutedStdout::MutedStdout() {
    std::fflush(stdout);
    int null = open_null();
    if (null < 0) return;
    saved_ = dup(fileno(stdout));
    if (saved_ >= 0) dup2(null, fileno(stdout));
    close(null);
}

MutedStdout::~MutedStdout() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, fileno(stdout));
    close(saved_);
}

} // namespace sorvan::cli
