// Loading the plug-in library at run time, as the host does, and resolving
// its exported names.
#ifndef SORVAN_CLI_PLUGIN_H
#define SORVAN_CLI_PLUGIN_H

#include <string>

namespace sorvan::cli {

class Plugin {
  public:
    Plugin() = default;
    Plugin(const Plugin &) = delete;
    Plugin &operator=(const Plugin &) = delete;
    // The library is not unloaded: it stays until the process ends, as a
    // host keeps its plug-ins. What the plug-in keeps in its static records
    // between calls (the arrays of the last road profile) stays reachable
    // instead of being lost with the library's data.
    ~Plugin() = default;

    // Loads the library from path, or from beside the running program when
    // path is empty. Returns false with error() set.
    bool load(const std::string &path);

    // Address of an exported function or variable, or nullptr with error() set.
    void *symbol(const char *name);

    // Typed form of symbol(): T is a function pointer or a pointer to data.
    template <class T> T get(const char *name) { return reinterpret_cast<T>(symbol(name)); }

    const std::string &path() const { return path_; }
    const std::string &error() const { return error_; }

    // File name of the plug-in on this platform.
    static const char *file_name();

  private:
    void *handle_ = nullptr;
    std::string path_;
    std::string error_;
};

} // namespace sorvan::cli

#endif
