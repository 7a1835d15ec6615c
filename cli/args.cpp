#include "cli/args.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace sorvan::cli {

bool Args::parse(int argc, char **argv, int first, const std::vector<Option> &options) {
    for (int i = first; i < argc; ++i) {
        std::string word = argv[i];
        if (word.size() < 3 || word.compare(0, 2, "--") != 0) {
            positional_.push_back(word);
            continue;
        }
        std::string name = word.substr(2), value;
        size_t eq = name.find('=');
        bool inline_value = eq != std::string::npos;
        if (inline_value) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        const Option *known = nullptr;
        for (const Option &o : options)
            if (name == o.name) known = &o;
        if (!known) {
            error_ = "unknown option --" + name;
            return false;
        }
        if (known->takes_value && !inline_value) {
            if (i + 1 >= argc) {
                error_ = "option --" + name + " needs a value";
                return false;
            }
            value = argv[++i];
        } else if (!known->takes_value && inline_value) {
            error_ = "option --" + name + " takes no value";
            return false;
        }
        values_[name] = value;
    }
    return true;
}

bool Args::get_double(const std::string &name, double &out) {
    const std::string &text = value(name);
    char *end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(v)) {
        error_ = "--" + name + " needs a finite number, not \"" + text + "\"";
        return false;
    }
    out = v;
    return true;
}

bool Args::get_int(const std::string &name, int &out) {
    const std::string &text = value(name);
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) {
        error_ = "--" + name + " needs a whole number, not \"" + text + "\"";
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

} // namespace sorvan::cli
