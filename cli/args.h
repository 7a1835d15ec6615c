// A small command-line parser: positional words and "--name value",
// "--name=value" or "--flag" options, checked against a table.
#ifndef SORVAN_CLI_ARGS_H
#define SORVAN_CLI_ARGS_H

#include <map>
#include <string>
#include <vector>

namespace sorvan::cli {

struct Option {
    const char *name; // without the leading "--"
    bool takes_value;
};

class Args {
  public:
    // Parses argv[first..argc). Returns false with error() set on an unknown
    // option or a missing value.
    bool parse(int argc, char **argv, int first, const std::vector<Option> &options);

    const std::vector<std::string> &positional() const { return positional_; }
    bool has(const std::string &name) const { return values_.count(name) != 0; }
    const std::string &value(const std::string &name) const { return values_.at(name); }
    const std::string &error() const { return error_; }

    // Typed values of present options. Each returns false with error() set
    // when the text is not a whole, finite number in range.
    bool get_double(const std::string &name, double &out);
    bool get_int(const std::string &name, int &out);

  private:
    std::vector<std::string> positional_;
    std::map<std::string, std::string> values_;
    std::string error_;
};

} // namespace sorvan::cli

#endif
