#include "frame/output_file.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace sorvan {

namespace {

// Distinguishes temporary files of one process; the pid those of others.
std::atomic<unsigned> temp_serial{0};

// Longest name of one folder entry that the usual file systems accept, in
// bytes (Linux) or characters (Windows).
constexpr size_t entry_max = 255;

#ifdef _WIN32
constexpr const char *separators = "/\\:";
#else
constexpr const char *separators = "/";
#endif

// The final name with ".tmp<pid>-<serial>" appended, in the same folder.
// When the final entry is valid but too long to take the suffix, the entry
// is cut before the suffix, so that every name that can be written gets a
// temporary name that can be created. An entry that is too long already is
// left whole, and creating the temporary file reports that.
std::string temp_name(const std::string &final_name) {
    const std::string suffix =
        ".tmp" + std::to_string(getpid()) + "-" + std::to_string(++temp_serial);
    const size_t slash = final_name.find_last_of(separators);
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::string entry = final_name.substr(start);
    if (entry.size() <= entry_max && entry.size() + suffix.size() > entry_max)
        entry.resize(entry_max - suffix.size());
    return final_name.substr(0, start) + entry + suffix;
}

bool replace_file(const char *from, const char *to) {
#ifdef _WIN32
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from, to) == 0;
#endif
}

} // namespace

std::FILE *OutputFile::open(const char *final_name, bool binary) {
    abandon();
    error_.clear();
    errno_ = 0;
    final_ = final_name;
    temp_ = temp_name(final_);
    stream_ = std::fopen(temp_.c_str(), binary ? "wb" : "w");
    if (!stream_) {
        fail("cannot create", errno);
        temp_.clear();
        return nullptr;
    }
    buffer_ = static_cast<char *>(std::malloc(buffer_size));
    if (buffer_ && std::setvbuf(stream_, buffer_, _IOFBF, buffer_size) != 0) {
        std::free(buffer_);
        buffer_ = nullptr;
    }
    return stream_;
}

bool OutputFile::commit() {
    if (!stream_) return fail("cannot write", EBADF);
    bool failed = std::ferror(stream_) != 0;
    int err = failed ? (errno ? errno : EIO) : 0;
    if (close_stream() != 0 && !failed) {
        failed = true;
        err = errno ? errno : EIO;
    }
    if (!failed && !replace_file(temp_.c_str(), final_.c_str())) {
        failed = true;
        err = errno ? errno : EIO;
    }
    if (failed) {
        std::remove(temp_.c_str());
        temp_.clear();
        return fail("cannot write", err);
    }
    temp_.clear();
    return true;
}

void OutputFile::abandon() {
    if (stream_) close_stream();
    if (!temp_.empty()) {
        std::remove(temp_.c_str());
        temp_.clear();
    }
}

// Closes the stream, then releases its buffer, which the close still writes
// from. Returns fclose's result.
int OutputFile::close_stream() {
    int rc = std::fclose(stream_);
    stream_ = nullptr;
    std::free(buffer_);
    buffer_ = nullptr;
    return rc;
}

bool OutputFile::fail(const char *what, int err) {
    errno_ = err;
    error_ = std::string(what) + " " + final_ + ": " + std::strerror(err);
    return false;
}

} // namespace sorvan
