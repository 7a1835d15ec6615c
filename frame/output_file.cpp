#include "frame/output_file.h"
#include "frame/file_identity.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// The final name with ".<tag><pid>-<serial>" appended, in the same folder.
// When the final entry is valid but too long to take the suffix, the entry
// is cut before the suffix, so that every name that can be written gets a
// temporary name that can be created. An entry that is too long already is
// left whole, and creating the temporary file reports that.
std::string temp_name(const std::string &final_name, const char *tag = "tmp") {
    const std::string suffix =
        "." + std::string(tag) + std::to_string(getpid()) + "-" + std::to_string(++temp_serial);
    const size_t slash = final_name.find_last_of(path_separators);
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

// Keeps the file of name under a second name, backup, without moving it:
// a hard link, or a copy where the file system has none. False when there is
// no file of that name (nothing to keep) or it cannot be kept.
bool keep_backup(const std::string &name, const std::string &backup) {
#ifdef _WIN32
    if (CreateHardLinkA(backup.c_str(), name.c_str(), nullptr)) return true;
    return CopyFileA(name.c_str(), backup.c_str(), TRUE) != 0;
#else
    if (link(name.c_str(), backup.c_str()) == 0) return true;
    if (errno == ENOENT) return false;
    std::FILE *in = std::fopen(name.c_str(), "rb");
    if (!in) return false;
    std::FILE *out = std::fopen(backup.c_str(), "wb");
    bool ok = out != nullptr;
    char buffer[65536];
    size_t n;
    while (ok && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        ok = std::fwrite(buffer, 1, n, out) == n;
    ok = ok && !std::ferror(in);
    std::fclose(in);
    if (out && std::fclose(out) != 0) ok = false;
    if (!ok) std::remove(backup.c_str());
    return ok;
#endif
}

} // namespace

std::FILE *OutputFile::open(const char *final_name, bool binary, std::size_t buffer) {
    abandon();
    error_.clear();
    errno_ = 0;
    finished_ = false;
    final_ = final_name;
    temp_ = temp_name(final_);
    stream_ = std::fopen(temp_.c_str(), binary ? "wb" : "w");
    if (!stream_) {
        fail("cannot create", errno);
        temp_.clear();
        return nullptr;
    }
    buffer_ = static_cast<char *>(std::malloc(buffer));
    if (buffer_ && std::setvbuf(stream_, buffer_, _IOFBF, buffer) != 0) {
        std::free(buffer_);
        buffer_ = nullptr;
    }
    return stream_;
}

void OutputFile::written_in_place(const char *final_name) {
    abandon();
    error_.clear();
    errno_ = 0;
    final_ = final_name;
    in_place_ = true;
    finished_ = true;
    backup_ = temp_name(final_, "old");
    if (keep_backup(final_, backup_)) {
        existed_ = true;
    } else {
        backup_.clear();
        std::FILE *f = std::fopen(final_name, "rb");
        existed_ = f != nullptr; // there, but not to be kept: never removed then
        if (f) std::fclose(f);
    }
}

bool OutputFile::finish() {
    if (finished_) return true;
    if (!stream_) return fail("cannot write", EBADF);
    bool failed = std::ferror(stream_) != 0;
    int err = failed ? (errno ? errno : EIO) : 0;
    if (close_stream() != 0 && !failed) {
        failed = true;
        err = errno ? errno : EIO;
    }
    if (failed) {
        std::remove(temp_.c_str());
        temp_.clear();
        return fail("cannot write", err);
    }
    finished_ = true;
    return true;
}

bool OutputFile::commit() {
    return commit_together({this});
}

void OutputFile::abandon() {
    if (stream_) close_stream();
    if (!temp_.empty()) {
        std::remove(temp_.c_str());
        temp_.clear();
    }
    if (in_place_) { // put back what was there before the other writer
        if (!backup_.empty())
            replace_file(backup_.c_str(), final_.c_str());
        else if (!existed_)
            std::remove(final_.c_str());
        backup_.clear();
        in_place_ = false;
    }
    finished_ = false;
}

bool commit_together(const std::vector<OutputFile *> &files) {
    for (OutputFile *f : files)
        if (!f->finish()) {
            for (OutputFile *g : files)
                g->abandon();
            return false;
        }
    // Keep every file that a temporary file is to replace, then move them.
    std::vector<std::string> kept(files.size());
    for (size_t k = 0; k < files.size(); ++k) {
        OutputFile *f = files[k];
        if (f->in_place_) continue;
        const std::string backup = temp_name(f->final_, "old");
        if (keep_backup(f->final_, backup)) kept[k] = backup;
    }
    size_t moved = 0;
    int err = 0;
    OutputFile *at_fault = nullptr;
    for (OutputFile *f : files) {
        if (!f->in_place_ && !replace_file(f->temp_.c_str(), f->final_.c_str())) {
            err = errno ? errno : EIO;
            at_fault = f;
            break;
        }
        ++moved;
    }
    for (size_t k = 0; k < files.size(); ++k) {
        OutputFile *f = files[k];
        bool drop_backup = !kept[k].empty();
        if (at_fault && k < moved && !f->in_place_) { // put the old file back, or remove the new
            f->temp_.clear();
            if (kept[k].empty())
                std::remove(f->final_.c_str());
            else
                // Should even this fail, the old content stays under its backup name.
                drop_backup = replace_file(kept[k].c_str(), f->final_.c_str());
        }
        if (drop_backup) std::remove(kept[k].c_str());
        if (!at_fault) { // in place: the file stays, its backup goes
            f->temp_.clear();
            if (!f->backup_.empty()) std::remove(f->backup_.c_str());
            f->backup_.clear();
            f->in_place_ = false;
        }
        f->abandon();
    }
    if (at_fault) return at_fault->fail("cannot write", err);
    return true;
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
