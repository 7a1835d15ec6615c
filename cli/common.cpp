#include "cli/commands.h"
#include "cli/json_output.h"
#include "frame/file_identity.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#define fileno _fileno

#else
#include <fcntl.h>
#include <unistd.h>

#endif

namespace sorvan::cli {

std::string counted(long long n, const char *one, const char *many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

int open_null() {
#ifdef _WIN32
    return _open("NUL", _O_WRONLY);
#else
    return open("/dev/null", O_WRONLY);
#endif
}

namespace {

// The absolute path the file system resolves name to (links followed as far
// as the path exists); empty when it cannot be told.
std::filesystem::path resolved(const std::string &name) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(name, ec);
    if (!ec) p = std::filesystem::weakly_canonical(p, ec);
    return ec ? std::filesystem::path() : p;
}

} // namespace

bool same_target(const std::string &a, const std::string &b) {
    if (a == b) return true;
    const auto ra = resolved(a), rb = resolved(b);
    return (!ra.empty() && ra == rb) || same_file(a.c_str(), b.c_str());
}

bool outputs_apart(const char *command, const std::vector<NamedFile> &inputs,
                   const std::vector<NamedFile> &outputs) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const NamedFile &out = outputs[i];
        if (out.name.empty()) continue;
        for (const NamedFile &in : inputs)
            if (!in.name.empty() && same_target(out.name, in.name)) {
                complain(command, out.what + " " + out.name + " would be written over " + in.what +
                                      " " + in.name + ", which the command reads");
                return false;
            }
        for (std::size_t j = i + 1; j < outputs.size(); ++j)
            if (!outputs[j].name.empty() && same_target(out.name, outputs[j].name)) {
                complain(command, out.what + " and " + outputs[j].what + " name the same file " +
                                      outputs[j].name);
                return false;
            }
    }
    return true;
}

bool svg_name(const std::string &name) {
    if (name.size() < 4) return false;
    std::string ext = name.substr(name.size() - 4);
    for (char &c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".svg";
}

bool want_svg_name(const char *command, const char *option, const std::string &name) {
    if (svg_name(name)) return true;
    complain(command, std::string(option) +
                          " writes an SVG picture: its name must end in .svg, "
                          "not \"" +
                          name + "\"");
    return false;
}

void complain(const char *command, const std::string &message) {
    std::fflush(stdout); // keep the plug-in's own lines before ours
    std::fprintf(stderr, "sorvan %s: %s\n", command, message.c_str());
    if (message.rfind("warning: ", 0) == 0)
        json_output::warn(message.substr(9));
    else
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

CapturedStdout::CapturedStdout() {
    std::fflush(stdout);
    file_ = std::tmpfile();
    if (!file_) return;
    saved_ = dup(fileno(stdout));
    if (saved_ >= 0) dup2(fileno(file_), fileno(stdout));
}

std::string CapturedStdout::raw() {
    std::fflush(stdout);
    if (saved_ >= 0) {
        dup2(saved_, fileno(stdout));
        close(saved_);
        saved_ = -1;
    }
    std::string s;
    if (file_) {
        std::rewind(file_);
        char buffer[512];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0 && s.size() < 65536)
            s.append(buffer, n);
        std::fclose(file_);
        file_ = nullptr;
    }
    return s;
}

std::string CapturedStdout::text() {
    std::string s = raw();
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    for (std::size_t k = 0; (k = s.find('\n', k)) != std::string::npos;)
        s.replace(k, 1, "; ");
    return s;
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
