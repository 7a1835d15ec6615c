#include "frame/file_identity.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

namespace sorvan {

#ifdef _WIN32

FileKind file_kind(const char *name) {
    struct _stati64 st;
    if (!name || _stati64(name, &st) != 0) return FileKind::missing;
    return (st.st_mode & _S_IFMT) == _S_IFREG ? FileKind::regular : FileKind::other;
}

bool regular_file(std::FILE *stream, std::uint64_t *size) {
    struct _stati64 st;
    if (!stream || _fstati64(_fileno(stream), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG)
        return false;
    if (size) *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

namespace {

struct FileKey {
    DWORD volume = 0, high = 0, low = 0;
};

bool file_key(const char *name, FileKey *key) {
    HANDLE h = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (ok) *key = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return ok;
}

} // namespace

bool same_file(const char *a, const char *b) {
    FileKey ka, kb;
    if (!a || !b || !file_key(a, &ka) || !file_key(b, &kb)) return false;
    return ka.volume == kb.volume && ka.high == kb.high && ka.low == kb.low;
}

#else

FileKind file_kind(const char *name) {
    struct stat st;
    if (!name || stat(name, &st) != 0) return FileKind::missing;
    return S_ISREG(st.st_mode) ? FileKind::regular : FileKind::other;
}

bool regular_file(std::FILE *stream, std::uint64_t *size) {
    struct stat st;
    if (!stream || fstat(fileno(stream), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (size) *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool same_file(const char *a, const char *b) {
    struct stat sa, sb;
    if (!a || !b || stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

#endif

std::string size_text(std::uint64_t bytes) {
    const char *units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    int k = 0;
    while (k < 4 && bytes >= 1024 && bytes % 1024 == 0) {
        bytes /= 1024;
        ++k;
    }
    return std::to_string(bytes) + " " + units[k];
}

std::FILE *open_input(const char *name, const char *mode, std::uint64_t limit, std::uint64_t *size,
                      std::string &why) {
    const char *not_regular = "not a regular file (a folder, a device or a pipe)";
    if (file_kind(name) == FileKind::other) {
        why = not_regular;
        return nullptr;
    }
    std::FILE *file = name ? std::fopen(name, mode) : nullptr;
    if (!file) {
        why = name ? std::strerror(errno) : "no name given";
        return nullptr;
    }
    std::uint64_t bytes = 0;
    if (!regular_file(file, &bytes)) { // replaced between the look and the open
        why = not_regular;
    } else if (bytes > limit) {
        why = std::to_string(bytes) + " bytes, more than the " + size_text(limit) +
              " such a file may have";
    } else {
        if (size) *size = bytes;
        return file;
    }
    std::fclose(file);
    return nullptr;
}

bool read_input(const char *name, std::uint64_t limit, std::string &bytes, std::string &why) {
    bytes.clear();
    std::uint64_t size = 0;
    std::FILE *file = open_input(name, "rb", limit, &size, why);
    if (!file) return false;
    bool ok = true;
    try {
        if (size > bytes.max_size()) throw std::bad_alloc();
        bytes.reserve(static_cast<std::size_t>(size));
        char chunk[1 << 16];
        std::size_t got;
        // A file that grows while it is read is cut at the limit.
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 && bytes.size() <= limit)
            bytes.append(chunk, got);
        if (std::ferror(file)) {
            ok = false;
            why = "read error after byte offset " + std::to_string(bytes.size());
        } else if (bytes.size() > limit) {
            ok = false;
            why = "more than the " + size_text(limit) + " such a file may have";
        }
    } catch (const std::bad_alloc &) {
        ok = false;
        why = "out of memory for its " + std::to_string(size) + " bytes";
    }
    std::fclose(file); // read only: nothing to lose on close
    if (!ok) std::string().swap(bytes);
    return ok;
}

} // namespace sorvan
