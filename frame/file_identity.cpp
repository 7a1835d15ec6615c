#include "frame/file_identity.h"

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

} // namespace sorvan
