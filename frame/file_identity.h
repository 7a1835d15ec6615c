// What a file name or an open stream refers to, beyond its name.
#ifndef SORVAN_FRAME_FILE_IDENTITY_H
#define SORVAN_FRAME_FILE_IDENTITY_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace sorvan {

// What a name refers to. A pipe or a device must be recognised before it
// is opened: opening a pipe without a writer waits for one.
enum class FileKind { missing, regular, other };
FileKind file_kind(const char *name);

// Whether the open stream reads a regular file (not a folder, a device, a
// pipe or a socket); its size in bytes goes to *size when it is.
bool regular_file(std::FILE *stream, std::uint64_t *size);

// Opens name for reading (mode "r" or "rb") when it is a regular file of at
// most limit bytes, and gives its size in *size. Otherwise nullptr, with why
// saying which: the system's reason when it cannot be opened ("No such file
// or directory", "File name too long"), "not a regular file (a folder, a
// device or a pipe)", or its size against the limit. A name that is no
// regular file is never opened: opening a pipe waits for a writer, and a
// device such as an endless stream of zeros has no end to read to.
std::FILE *open_input(const char *name, const char *mode, std::uint64_t limit, std::uint64_t *size,
                      std::string &why);

// The whole of such a file, read in binary mode. False with why set as
// open_input sets it, or on a read error or when memory runs out.
bool read_input(const char *name, std::uint64_t limit, std::string &bytes, std::string &why);

// A size in bytes as a reader states its limit: "256 MiB", "4 GiB".
std::string size_text(std::uint64_t bytes);

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
