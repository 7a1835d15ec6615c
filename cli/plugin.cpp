#include "cli/plugin.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <climits>
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace sorvan::cli {

namespace {

// Folder of the running program, with its trailing separator.
std::string program_folder() {
#ifdef _WIN32
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string path(buf, n < sizeof buf ? n : 0);
    size_t cut = path.find_last_of("\\/");
#else
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string path(buf, n > 0 ? static_cast<size_t>(n) : 0);
    size_t cut = path.rfind('/');
#endif
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

} // namespace

const char *Plugin::file_name() {
#ifdef _WIN32
    return "sorvan_view.dll";
#else
    return "libsorvan_view.so";
#endif
}

bool Plugin::load(const std::string &path) {
    path_ = path.empty() ? program_folder() + file_name() : path;
#ifdef _WIN32
    handle_ = LoadLibraryExA(path_.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!handle_)
        error_ = "cannot load " + path_ + " (error " + std::to_string(GetLastError()) + ")";
#else
    // A bare file name would make the loader search its own path list: name
    // the file itself so that exactly this library is loaded.
    std::string name = path_.find('/') == std::string::npos ? "./" + path_ : path_;
    handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) error_ = std::string("cannot load plug-in: ") + dlerror();
#endif
    return handle_ != nullptr;
}

void *Plugin::symbol(const char *name) {
    void *p = nullptr;
    if (handle_) {
#ifdef _WIN32
        p = reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
        p = dlsym(handle_, name);
#endif
    }
    if (!p) error_ = path_ + " does not export " + name;
    return p;
}

} // namespace sorvan::cli
