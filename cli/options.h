// The command line of one command, declared once: each option's name,
// placeholder, meaning, default and range are the single source of the
// parser, of the command's --help text and of its section of the README
// (which a test compares with this table).
#ifndef SORVAN_CLI_OPTIONS_H
#define SORVAN_CLI_OPTIONS_H

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace sorvan::cli {

// What an option's value must be.
enum class Kind {
    flag,    // no value
    text,    // any text (not starting with "-" unless given as --name=value)
    integer, // a whole number within [low, high]
    real,    // a finite number within the range
    length,  // a unit label of the unit vocabulary, by quantity
    force,
    mass,
    time,
};

struct OptionSpec {
    const char *name;              // without the leading "--"
    const char *placeholder;       // "N", "X", "LABEL", "FILE"; "" for a flag
    const char *meaning;           // one line of --help and of the README table
    const char *default_text = ""; // "" when the option has none to show
    Kind kind = Kind::text;
    double low = 0.0, high = 0.0; // integer and real: the accepted range
    bool low_open = false;        // real: the value must exceed low
    char short_name = 0;          // -x as a second spelling; 0 for none
    bool repeatable = false;      // may be given more than once; every value is kept
};

struct CommandSpec {
    const char *name;     // "convert"
    const char *synopsis; // "MAP_FILE ABC_BASE [OPTIONS]"
    // Positional words: at least min_words, at most max_words (-1: no limit).
    int min_words = 0, max_words = 0;
    const char *words_text = ""; // "MAP_FILE and ABC_BASE", for the message
    const std::vector<OptionSpec> *options = nullptr;
    bool json = false;            // takes --json
    const char *description = ""; // paragraphs of --help before the options
    const char *epilogue = "";    // paragraphs after them (notes, exit status)
};

// The options every command takes besides its own.
const std::vector<OptionSpec> &common_options(const CommandSpec &command);

// The words of one command line, checked against the command's table.
class Parsed {
  public:
    const std::vector<std::string> &words() const { return words_; }
    bool has(const std::string &name) const { return values_.count(name) != 0; }
    const std::string &text(const std::string &name) const { return values_.at(name); }
    // Every value of a repeatable option, in command-line order.
    std::vector<std::string> all(const std::string &name) const {
        auto it = lists_.find(name);
        return it == lists_.end() ? std::vector<std::string>() : it->second;
    }
    double real(const std::string &name) const { return reals_.at(name); }
    long long integer(const std::string &name) const {
        return static_cast<long long>(reals_.at(name));
    }
    bool json() const { return has("json"); }
    std::string plugin() const { return has("plugin") ? text("plugin") : std::string(); }

    // What the parser fills in.
    void add_word(const std::string &word) { words_.push_back(word); }
    void set(const std::string &name, const std::string &value) {
        values_[name] = value;
        lists_[name].push_back(value);
    }
    void set_number(const std::string &name, double value) { reals_[name] = value; }

  private:
    std::vector<std::string> words_;
    std::map<std::string, std::string> values_;
    std::map<std::string, double> reals_;
    std::map<std::string, std::vector<std::string>> lists_;
};

// Parses argv[2..] for the command. Returns -1 when the command should go
// on; otherwise the exit status: 0 after printing the help for --help, or
// 64 after printing why the line was refused and the usage on the standard
// error stream. Every value is checked against its kind and range here,
// before anything is read or written. Repeated options are refused; "--"
// ends the options; a number option refuses a value that looks like an
// option.
int parse_command_line(const CommandSpec &command, int argc, char **argv, Parsed &out);

// The command's --help text and its README section (the options as a
// markdown table), both from the table.
void print_help(const CommandSpec &command, std::FILE *out);
std::string usage_line(const CommandSpec &command);
std::string options_markdown(const CommandSpec &command);

// The range of a number option as its messages and help name it
// ("1 to 99999999", "more than 0", "0 or more").
std::string range_text(const OptionSpec &option);

} // namespace sorvan::cli

#endif
