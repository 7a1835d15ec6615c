// What a file name or an open stream refers to, beyond its name.
#ifndef SORVAN_FRAME_FILE_IDENTITY_H
#define SORVAN_FRAME_FILE_IDENTITY_H

#include <cstdint>
#include <cstdio>

namespace sorvan {

// What a name refers to. A pipe or a device must be recognised before it
// is opened: opening a pipe without a writer waits for one.
enum class FileKind { missing, regular, other };
FileKind file_kind(const char *name);

// Whether the open stream reads a regular file (not a folder, a device, a
// pipe or a socket); its size in bytes goes to *size when it is.
bool regular_file(std::FILE *stream, std::uint64_t *size);

// Whether both names reach one and the same existing file, whatever the
// names, links or case of the names: the same device and inode (on Windows
// the same volume and file index). False when either cannot be opened.
bool same_file(const char *a, const char *b);

// The characters that end a folder part of a file name.
#ifdef _WIN32
constexpr const char *path_separators = "/\\:";
#else
constexpr const char *path_separators = "/";
#endif

} // namespace sorvan

#endif
