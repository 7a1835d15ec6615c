#include "cli/run_json.h"
#include "cli/commands.h"
#include "cli/json_output.h"

#include <cstdio>
#include <cstring>

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

namespace {

struct JsonCommand {
    const char *name;
    int (*run)(int, char **);
};

const JsonCommand json_commands[] = {
    {"convert", run_convert}, {"reduce", run_reduce}, {"road", run_road},
    {"profile", run_profile}, {"info", run_info},     {"check", run_check},
    {"version", run_version}, {"ride", run_ride},
};

// Both standard streams into a temporary file while it lives (the null
// device when none can be made); text() gives what they took.
class Captured {
  public:
    Captured() {
        std::fflush(stdout);
        std::fflush(stderr);
        file_ = std::tmpfile();
        const int target = file_ ? fileno(file_) : open_null();
        if (target < 0) return;
        out_ = dup(fileno(stdout));
        err_ = dup(fileno(stderr));
        if (out_ >= 0) dup2(target, fileno(stdout));
        if (err_ >= 0) dup2(target, fileno(stderr));
        if (!file_) close(target);
    }
    Captured(const Captured &) = delete;
    Captured &operator=(const Captured &) = delete;
    ~Captured() {
        restore();
        if (file_) std::fclose(file_);
    }

    // What was printed, at most the first 64 KiB; the streams are back.
    std::string text() {
        restore();
        std::string s;
        if (!file_) return s;
        std::rewind(file_);
        char buffer[4096];
        std::size_t n;
        while (s.size() < 65536 && (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0)
            s.append(buffer, n);
        return s;
    }

  private:
    void restore() {
        std::fflush(stdout);
        std::fflush(stderr);
        if (out_ >= 0) {
            dup2(out_, fileno(stdout));
            close(out_);
            out_ = -1;
        }
        if (err_ >= 0) {
            dup2(err_, fileno(stderr));
            close(err_);
            err_ = -1;
        }
    }

    std::FILE *file_ = nullptr;
    int out_ = -1, err_ = -1;
};

} // namespace

std::mutex &command_lock() {
    static std::mutex lock;
    return lock;
}

int run_json(const std::vector<std::string> &words, nlohmann::json &object, std::string *printed) {
    object = nullptr;
    const JsonCommand *command = nullptr;
    for (const JsonCommand &c : json_commands)
        if (!words.empty() && words[0] == c.name) command = &c;
    if (!command) {
        const std::string name = words.empty() ? std::string() : words[0];
        json_output::reset();
        json_output::record_error("no command \"" + name + "\" that answers in JSON");
        object = json_output::envelope(name, exit_usage);
        return exit_usage;
    }
    // "sorvan COMMAND --json WORDS...": --json ahead of any "--" of the words.
    std::vector<std::string> text = {"sorvan", words[0], "--json"};
    text.insert(text.end(), words.begin() + 1, words.end());
    std::vector<char *> argv;
    for (std::string &word : text)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    std::lock_guard<std::mutex> hold(command_lock());
    int status;
    {
        Captured output;
        json_output::reset();
        status =
            run_guarded(command->name, command->run, static_cast<int>(text.size()), argv.data());
        object = json_output::envelope(command->name, status);
        if (printed) *printed = output.text();
    }
    return status;
}

} // namespace sorvan::cli
