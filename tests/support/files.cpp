// Files and scratch folders for the tests; see files.h.
#include "support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace sorvan::test {

namespace {

std::string read_file(const fs::path &path, std::ios::openmode mode) {
    std::ifstream in(path, std::ios::in | mode);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const fs::path &path, const std::string &text, std::ios::openmode mode) {
    std::ofstream out(path, std::ios::out | mode);
    if (!out) {
        ADD_FAILURE() << "cannot write " << path.string();
        return;
    }
    out << text;
}

// A name as the C library's narrow file functions (fopen, rename) spell
// it: the bytes the library under test receives. On Windows those are in
// the process's ANSI code page, while std::filesystem's narrow strings are
// UTF-8, so a non-ASCII name must not cross between the two unconverted.
std::string crt_name(const fs::path &path) {
#ifdef _WIN32
    const std::wstring wide = path.wstring();
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), n,
                        nullptr, nullptr);
    return narrow;
#else
    return path.string();
#endif
}

} // namespace

std::FILE *temp_stream() {
    static int count = 0;
    const std::string name =
        (fs::temp_directory_path() /
         ("sorvan_stream_" + std::to_string(getpid()) + "_" + std::to_string(++count)))
            .string();
#ifdef _WIN32
    std::FILE *f = std::fopen(name.c_str(), "w+bTD"); // removed when closed
#else
    std::FILE *f = std::fopen(name.c_str(), "w+b");
    if (f) std::remove(name.c_str()); // the open stream keeps it
#endif
    if (!f) ADD_FAILURE() << "cannot create " << name;
    return f;
}

void rename_file(const std::string &from, const std::string &to) {
    if (std::rename(from.c_str(), to.c_str()) != 0)
        ADD_FAILURE() << "cannot rename " << from << " to " << to;
}

std::string read_text(const fs::path &path) {
    return read_file(path, {});
}

std::string read_bytes(const fs::path &path) {
    return read_file(path, std::ios::binary);
}

std::vector<std::vector<double>> read_csv_table(const fs::path &path, std::string &header) {
    std::istringstream in(read_text(path));
    std::getline(in, header);
    std::vector<std::vector<double>> rows;
    for (std::string line; std::getline(in, line);) {
        std::vector<double> row;
        std::istringstream fields(line);
        for (std::string f; std::getline(fields, f, ',');)
            row.push_back(std::strtod(f.c_str(), nullptr));
        rows.push_back(row);
    }
    return rows;
}

void write_text(const fs::path &path, const std::string &text) {
    write_file(path, text, {});
}

void write_bytes(const fs::path &path, const std::string &bytes) {
    write_file(path, bytes, std::ios::binary);
}

std::map<std::string, std::string> snapshot(const fs::path &dir) {
    std::map<std::string, std::string> files;
    for (const auto &e : fs::recursive_directory_iterator(dir)) {
        std::string name = crt_name(fs::relative(e.path(), dir));
        std::replace(name.begin(), name.end(), '\\', '/'); // one spelling on every system
        std::string &entry = files[name];
        if (e.is_symlink() || !(e.is_regular_file() || e.is_directory()))
            entry = "(link or special file)";
        else if (e.is_directory())
            entry = "(folder)";
        else if (e.file_size() > (64u << 20))
            entry = "(" + std::to_string(e.file_size()) + " bytes)";
        else
            entry = read_bytes(e.path());
    }
    return files;
}

ScratchDir::ScratchDir(const std::string &prefix) {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? info->name() : "none";
    for (char &c : name)
        if (c == '/') c = '_';
    path_ = fs::temp_directory_path() / (prefix + "_" + std::to_string(getpid()) + "_" + name);
    fs::remove_all(path_);
    fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    if (keep_) return;
    std::error_code error;
    fs::remove_all(path_, error);
    if (error) ADD_FAILURE() << "cannot remove " << path_.string() << ": " << error.message();
}

int run_in_folder(const fs::path &dir, const std::string &words, const std::string &out,
                  const std::string &err) {
#ifdef _WIN32
    const char *cd = "cd /d \""; // the folder may be on another drive
#else
    const char *cd = "cd \"";
#endif
    std::string command = cd + dir.string() + "\" && " + words + " >\"" + out + "\"";
    command += out == err ? " 2>&1" : " 2>\"" + err + "\"";
    const int raw = std::system(command.c_str());
#ifdef _WIN32
    return raw;
#else
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
}

std::string written(const std::function<void(std::FILE *)> &write) {
    std::FILE *f = temp_stream();
    if (!f) return "";
    write(f);
    std::rewind(f);
    std::string text;
    for (int ch; (ch = std::fgetc(f)) != EOF;)
        text += static_cast<char>(ch);
    std::fclose(f);
    return text;
}

int64_t diff_value_count() {
    const char *text = std::getenv("SORVAN_DIFF_VALUES");
    const long long n = text ? std::atoll(text) : 0;
    return n > 0 ? n : 1000000;
}

} // namespace sorvan::test
