// Files as the tests read and write them, and the scratch folder a test
// runs in.
#ifndef SORVAN_TESTS_SUPPORT_FILES_H
#define SORVAN_TESTS_SUPPORT_FILES_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sorvan::test {

// Contents of a file: in text mode (the platform's line ends become "\n")
// or byte for byte; "" when it cannot be read.
std::string read_text(const std::filesystem::path &path);
std::string read_bytes(const std::filesystem::path &path);

// A CSV table of numbers: its header line and its rows (strtod of each
// comma-separated field).
std::vector<std::vector<double>> read_csv_table(const std::filesystem::path &path,
                                                std::string &header);

// Writes a file whole: in text mode ("\n" becomes the platform's line end)
// or byte for byte. A file that cannot be opened is a test failure.
void write_text(const std::filesystem::path &path, const std::string &text);
void write_bytes(const std::filesystem::path &path, const std::string &bytes);

// Renames a file by narrow names, as the library under test opens them.
// A failure is a test failure.
void rename_file(const std::string &from, const std::string &to);

// An anonymous scratch stream opened for update in binary mode, gone
// when closed: tmpfile() as the tests need it. Its names are unique per
// process, which the Windows C library's tmpfile() does not promise to
// test programs running at once. A file that cannot be created is a test
// failure (and null).
std::FILE *temp_stream();

// Runs the shell command line `words` in the folder dir (changing drive
// too on Windows), standard output into out and standard error into err
// (file names in dir; the same name for both joins them). Returns the exit
// status.
int run_in_folder(const std::filesystem::path &dir, const std::string &words,
                  const std::string &out, const std::string &err);

// What write puts into a temporary stream, byte for byte.
std::string written(const std::function<void(std::FILE *)> &write);

// What body prints on the standard output stream while it runs.
template <class Body> std::string printed(Body &&body) {
    ::testing::internal::CaptureStdout();
    body();
    return ::testing::internal::GetCapturedStdout();
}

// How many values a differential test compares: SORVAN_DIFF_VALUES when it
// is set to a positive number, 10^6 otherwise.
int64_t diff_value_count();

// Whether the address sanitizer is in, whose reserved memory leaves no room
// for a limit on the address space.
inline bool under_sanitizer() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

// A folder and everything under it: each entry's name relative to dir (as
// the C library spells it, folders separated by "/") with its contents; "(folder)" for a folder,
// "(link or special file)" for anything but a regular file, and "(N
// bytes)" for a file beyond 64 MiB.
std::map<std::string, std::string> snapshot(const std::filesystem::path &dir);

// A fresh, empty folder for the running test:
// temp_directory_path()/<prefix>_<process id>_<test name> (a "/" of a
// parameterised test's name becomes "_"), unique across
// test programs and tests that run at once. Removed again when the object
// goes (unless kept); a failure to remove it is a test failure.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string &prefix);
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::filesystem::path &path() const { return path_; }

    // Leaves the folder behind, for a look at what a failing test wrote.
    void keep() { keep_ = true; }

  private:
    std::filesystem::path path_;
    bool keep_ = false;
};

} // namespace sorvan::test

#endif
