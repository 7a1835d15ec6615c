#include "cli/options.h"
#include "cli/json_output.h"

#include "analysis/number_text.h"
#include "model_input/units.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace sorvan::cli {

namespace {

const std::vector<OptionSpec> plugin_and_help = {
    {"plugin", "PATH", "load the plug-in from PATH instead of from beside sorvan"},
    {"help", "", "print this help", "", Kind::flag, 0, 0, false, 'h'},
};

const std::vector<OptionSpec> with_json = {
    {"json", "", "print one JSON object on standard output and everything else on standard error",
     "", Kind::flag},
    {"plugin", "PATH", "load the plug-in from PATH instead of from beside sorvan"},
    {"help", "", "print this help", "", Kind::flag, 0, 0, false, 'h'},
};

bool is_unit(Kind kind) {
    return kind == Kind::length || kind == Kind::force || kind == Kind::mass || kind == Kind::time;
}

units::Quantity quantity(Kind kind) {
    switch (kind) {
    case Kind::force:
        return units::Quantity::force;
    case Kind::mass:
        return units::Quantity::mass;
    case Kind::time:
        return units::Quantity::time;
    default:
        return units::Quantity::length;
    }
}

const char *quantity_name(Kind kind) {
    switch (kind) {
    case Kind::force:
        return "force";
    case Kind::mass:
        return "mass";
    case Kind::time:
        return "time";
    default:
        return "length";
    }
}

// A whole text as a finite number, locale-independent ("+" allowed).
bool whole_number(const std::string &text, double *value) {
    const char *p = text.c_str(), *end = p + text.size();
    if (p != end && *p == '+') ++p;
    if (p == end || *p == '+') return false;
    const auto [stop, ec] = std::from_chars(p, end, *value);
    return ec == std::errc() && stop == end && std::isfinite(*value);
}

// Whether a word is an option rather than a value: "-x" or "--name", but
// not a negative number ("-1", "-.5").
bool looks_like_option(const std::string &word) {
    if (word.size() < 2 || word[0] != '-') return false;
    double v = 0.0;
    return !whole_number(word, &v);
}

std::string list(const std::vector<std::string> &labels) {
    std::string text;
    for (const std::string &l : labels)
        text += (text.empty() ? "" : ", ") + l;
    return text;
}

class Parser {
  public:
    Parser(const CommandSpec &command, Parsed &out) : command_(command), out_(out) {}

    const OptionSpec *find(const std::string &name) const {
        for (const std::vector<OptionSpec> *table : {command_.options, &common_options(command_)})
            if (table)
                for (const OptionSpec &o : *table)
                    if (name == o.name) return &o;
        return nullptr;
    }
    const OptionSpec *find_short(char c) const {
        for (const std::vector<OptionSpec> *table : {command_.options, &common_options(command_)})
            if (table)
                for (const OptionSpec &o : *table)
                    if (o.short_name == c) return &o;
        return nullptr;
    }

    // Checks a value against its option's kind and range.
    bool check(const OptionSpec &o, const std::string &value, std::string &error) const {
        const std::string option = std::string("--") + o.name;
        if (o.kind == Kind::integer || o.kind == Kind::real) {
            double v = 0.0;
            const bool number = whole_number(value, &v);
            const bool whole = o.kind == Kind::real || (number && v == std::floor(v));
            const bool in_range =
                v <= o.high && (o.low_open ? v > o.low : v >= o.low) && number && whole;
            if (!in_range) {
                error = option + " needs " +
                        (o.kind == Kind::integer ? "a whole number" : "a number") + ", " +
                        range_text(o) + ", not \"" + value + "\"";
                return false;
            }
            out_.set_number(o.name, v);
        } else if (is_unit(o.kind)) {
            units::Quantity q;
            if (!units::quantity_of(value, &q) || q != quantity(o.kind)) {
                error = option + ": \"" + value + "\" is no " + quantity_name(o.kind) +
                        " unit; accepted (any case): " + list(units::accepted(quantity(o.kind)));
                return false;
            }
        } else if (o.kind == Kind::text && value.empty()) {
            error = option + " needs a non-empty " + o.placeholder;
            return false;
        }
        return true;
    }

    bool parse(int argc, char **argv, std::string &error) {
        bool options_end = false;
        for (int i = 2; i < argc; ++i) {
            const std::string word = argv[i];
            if (options_end || word == "-" || word.empty() || word[0] != '-' ||
                !looks_like_option(word)) {
                out_.add_word(word);
                continue;
            }
            if (word == "--") {
                options_end = true;
                continue;
            }
            std::string name, value;
            bool inline_value = false;
            const OptionSpec *o = nullptr;
            if (word.compare(0, 2, "--") == 0) {
                name = word.substr(2);
                const size_t eq = name.find('=');
                inline_value = eq != std::string::npos;
                if (inline_value) {
                    value = name.substr(eq + 1);
                    name.resize(eq);
                }
                o = find(name);
            } else if (word.size() == 2) {
                o = find_short(word[1]);
                name = o ? o->name : word.substr(1);
            }
            if (!o) {
                error = "unknown option " + word;
                return false;
            }
            if (out_.has(o->name) && !o->repeatable) {
                error = "--" + name + " is given twice";
                return false;
            }
            if (o->kind == Kind::flag) {
                if (inline_value) {
                    error = "--" + name + " takes no value";
                    return false;
                }
            } else if (!inline_value) {
                const bool number = o->kind == Kind::integer || o->kind == Kind::real;
                if (i + 1 >= argc || (looks_like_option(argv[i + 1]) &&
                                      (number || std::strncmp(argv[i + 1], "--", 2) == 0))) {
                    error = "--" + name + " needs a value (" + o->placeholder + ")";
                    return false;
                }
                value = argv[++i];
            }
            if (!check(*o, value, error)) return false;
            out_.set(o->name, value);
        }
        return true;
    }

  private:
    const CommandSpec &command_;
    Parsed &out_;
};

std::string option_head(const OptionSpec &o) {
    std::string head = "--" + std::string(o.name);
    if (*o.placeholder) head += " " + std::string(o.placeholder);
    if (o.short_name) head = std::string("-") + o.short_name + ", " + head;
    return head;
}

// Wraps text to width columns, every line after the first indented.
std::string wrapped(const std::string &text, size_t indent, size_t width) {
    std::string out, line;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(start, end - start);
        if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
            out += line + "\n" + std::string(indent, ' ');
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        start = end + 1;
    }
    return out + line;
}

} // namespace

const std::vector<OptionSpec> &common_options(const CommandSpec &command) {
    return command.json ? with_json : plugin_and_help;
}

namespace {

// A bound as people write it: whole numbers in full, others in their
// shortest form.
std::string bound(double v) {
    if (v == std::floor(v) && std::fabs(v) < 1e15) return std::to_string(static_cast<long long>(v));
    return shortest(v);
}

} // namespace

std::string range_text(const OptionSpec &o) {
    if (o.kind != Kind::integer && o.kind != Kind::real) return "";
    const bool unbounded = o.high >= 1e300;
    if (o.low_open) return "more than " + bound(o.low);
    if (unbounded) return bound(o.low) + " or more";
    return bound(o.low) + " to " + bound(o.high);
}

int parse_command_line(const CommandSpec &command, int argc, char **argv, Parsed &out) {
    Parser parser(command, out);
    std::string error;
    const bool ok = parser.parse(argc, argv, error);
    if (ok && out.has("help")) {
        print_help(command, stdout);
        return 0;
    }
    if (ok) {
        const int n = static_cast<int>(out.words().size());
        if (n < command.min_words || (command.max_words >= 0 && n > command.max_words)) {
            if (n > command.max_words && command.max_words >= 0)
                error = "unexpected word \"" + out.words()[static_cast<size_t>(command.max_words)] +
                        "\": takes " + command.words_text;
            else
                error = std::string("needs ") + command.words_text;
        }
    }
    if (ok && error.empty()) return -1;
    json_output::record_error(error);
    std::fflush(stdout);
    std::fprintf(stderr, "sorvan %s: %s\n%s\n(see sorvan %s --help)\n", command.name, error.c_str(),
                 usage_line(command).c_str(), command.name);
    return 64;
}

std::string usage_line(const CommandSpec &command) {
    return std::string("usage: sorvan ") + command.name + " " + command.synopsis;
}

void print_help(const CommandSpec &command, std::FILE *out) {
    std::fprintf(out, "%s\n\n%s\n", usage_line(command).c_str(), command.description);
    std::vector<const OptionSpec *> all;
    if (command.options)
        for (const OptionSpec &o : *command.options)
            all.push_back(&o);
    for (const OptionSpec &o : common_options(command))
        all.push_back(&o);
    size_t width = 0;
    for (const OptionSpec *o : all)
        width = std::max(width, option_head(*o).size());
    const size_t indent = 2 + width + 2;
    std::fprintf(out, "\nOptions:\n");
    for (const OptionSpec *o : all) {
        std::string text = o->meaning;
        if (o->kind == Kind::integer || o->kind == Kind::real) text += " (" + range_text(*o) + ")";
        if (*o->default_text) text += "; default " + std::string(o->default_text);
        const std::string head = option_head(*o);
        std::fprintf(out, "  %s%s%s\n", head.c_str(),
                     std::string(width - head.size() + 2, ' ').c_str(),
                     wrapped(text, indent, 79).c_str());
    }
    if (*command.epilogue) std::fprintf(out, "\n%s\n", command.epilogue);
}

std::string options_markdown(const CommandSpec &command) {
    std::string table = "| option | meaning | default |\n|---|---|---|\n";
    for (const OptionSpec &o : *command.options) {
        std::string meaning = o.meaning;
        if (o.kind == Kind::integer || o.kind == Kind::real) meaning += " (" + range_text(o) + ")";
        table += "| `" + option_head(o) + "` | " + meaning + " | " + o.default_text + " |\n";
    }
    return table;
}

} // namespace sorvan::cli
