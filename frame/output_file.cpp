#include "frame/output_file.h"

#include <atomic>
#include <cerrno>
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
    temp_ = final_ + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(++temp_serial);
    stream_ = std::fopen(temp_.c_str(), binary ? "wb" : "w");
    if (!stream_) {
        fail("cannot create", errno);
        temp_.clear();
        return nullptr;
    }
    return stream_;
}

bool OutputFile::commit() {
    if (!stream_) return fail("cannot write", EBADF);
    std::FILE *f = stream_;
    stream_ = nullptr;
    bool failed = std::ferror(f) != 0;
    int err = failed ? (errno ? errno : EIO) : 0;
    if (std::fclose(f) != 0 && !failed) {
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
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!temp_.empty()) {
        std::remove(temp_.c_str());
        temp_.clear();
    }
}

bool OutputFile::fail(const char *what, int err) {
    errno_ = err;
    error_ = std::string(what) + " " + final_ + ": " + std::strerror(err);
    return false;
}

} // namespace sorvan
