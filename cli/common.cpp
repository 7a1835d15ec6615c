#include "cli/commands.h"
#include "cli/json_output.h"

#include <charconv>
#include <cstdio>

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
