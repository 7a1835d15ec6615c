// Files and scratch folders for the tests; see files.h.
#include "support/files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <system_error>

#ifdef _WIN32
#include <process.h>
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

} // namespace

std::string read_text(const fs::path &path) {
    return read_file(path, {});
}

std::string read_bytes(const fs::path &path) {
    return read_file(path, std::ios::binary);
}

void write_text(const fs::path &path, const std::string &text) {
    write_file(path, text, {});
}

void write_bytes(const fs::path &path, const std::string &bytes) {
    write_file(path, bytes, std::ios::binary);
}

bool has_line(const std::string &text, const std::string &line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

ScratchDir::ScratchDir(const std::string &prefix) {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() /
            (prefix + "_" + std::to_string(getpid()) + "_" + (info ? info->name() : "none"));
    fs::remove_all(path_);
    fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    if (keep_) return;
    std::error_code error;
    fs::remove_all(path_, error);
    if (error) ADD_FAILURE() << "cannot remove " << path_.string() << ": " << error.message();
}

} // namespace sorvan::test
