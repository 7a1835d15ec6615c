// sorvan convert: the bulk data conversion through the plug-in's exported
// converter entry and parameters.
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/plugin.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace sorvan::cli {

namespace {

using Kavel2pelda = int32_t (*)(const char *, const char *, char *, char *, char *, char);

const std::vector<OptionSpec> convert_options = {
    {"length-unit", true},       {"force-unit", true},        {"mass-unit", true},
    {"time-unit", true},         {"tf-id", true},             {"threshold", true},
    {"wheel-divisions", true},   {"stiffness", true},         {"damping", true},
    {"torsional-stiffness", true}, {"torsional-damping", true}, {"plugin", true},
    {"help", false},
};

// Capacity of the plug-in's unit label variables, terminator included.
constexpr size_t label_size = 64;

struct TimeUnit {
    const char *names[4]; // accepted spellings
    char code;            // the converter's time unit code
    const char *label;    // canonical label the header names
};

const TimeUnit time_units[] = {
    {{"ms", "millisecond", "millisec", nullptr}, '0', "MILLISECOND"},
    {{"s", "sec", "second", nullptr}, '1', "SECOND"},
    {{"min", "minute", nullptr, nullptr}, '2', "MINUTE"},
    {{"h", "hr", "hour", nullptr}, '3', "HOUR"},
};

const TimeUnit *find_time_unit(const std::string &text) {
    for (const TimeUnit &t : time_units)
        for (const char *name : t.names)
            if (name && text == name) return &t;
    return nullptr;
}

// What the converter's result codes mean to a user.
const char *result_text(int32_t code) {
    switch (code) {
    case -1: return "a file could not be read or written, or its content was refused";
    case -2: return "the MAP file declares no state-space inputs";
    case -3: return "the MAP file declares no state-space outputs";
    case -4: return "the MAP file's input count differs from the columns of B";
    case -5: return "the MAP file's output count differs from the rows of C";
    case -6: return "an export unit label is not known";
    default: return "unexpected result";
    }
}

// The BDF name the converter forms: everything after the last "." of the
// MAP file name becomes "bdf"; a name without "." gets ".bdf" appended.
std::string bdf_name_of(const std::string &map_file) {
    size_t dot = map_file.rfind('.');
    return dot == std::string::npos ? map_file + ".bdf" : map_file.substr(0, dot + 1) + "bdf";
}

struct BdfSummary {
    std::map<std::string, long> cards; // card name -> count
    long lines = 0;
    long bytes = 0;
};

// Counts the cards of a written BDF: every line that starts a card names it
// in its first field; comments, continuations and "*" lines start none.
bool summarise(const std::string &name, BdfSummary &out) {
    std::FILE *f = std::fopen(name.c_str(), "rb");
    if (!f) return false;
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
        size_t len = std::strlen(line);
        out.bytes += static_cast<long>(len);
        if (len == 0 || line[len - 1] != '\n') continue; // rest of a long line
        ++out.lines;
        if (line[0] == '$' || line[0] == ' ' || line[0] == '*' || line[0] == '\n') continue;
        size_t end = std::strcspn(line, " \n");
        if (end > 8) end = 8;
        ++out.cards[std::string(line, end)];
    }
    std::fclose(f);
    return true;
}

bool set_label(Plugin &plugin, const char *variable, const std::string &text, char *&out) {
    out = plugin.get<char *>(variable);
    if (!out) return false;
    if (text.size() >= label_size) {
        std::fprintf(stderr, "sorvan convert: unit label \"%s\" is too long\n", text.c_str());
        return false;
    }
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

struct Parameters {
    int tf_id = 1, wheel_divisions = 24;
    double threshold = 1e-9, stiffness = 1e9, damping = 1e6;
    double torsional_stiffness = 1e6, torsional_damping = 1e4;
};

bool read_parameters(Args &args, Parameters &p) {
    struct {
        const char *name;
        double *value;
    } reals[] = {{"threshold", &p.threshold},
                 {"stiffness", &p.stiffness},
                 {"damping", &p.damping},
                 {"torsional-stiffness", &p.torsional_stiffness},
                 {"torsional-damping", &p.torsional_damping}};
    for (auto &r : reals)
        if (args.has(r.name) && !args.get_double(r.name, *r.value)) return false;
    if (args.has("tf-id") && !args.get_int("tf-id", p.tf_id)) return false;
    if (args.has("wheel-divisions") && !args.get_int("wheel-divisions", p.wheel_divisions))
        return false;
    return true;
}

// Writes the parameters into the plug-in's exported variables.
bool apply_parameters(Plugin &plugin, const Parameters &p) {
    auto *tf_id = plugin.get<int32_t *>("tf_id");
    auto *whl_dv = plugin.get<int32_t *>("whl_dv");
    auto *thresh = plugin.get<double *>("thresh");
    auto *v_stif = plugin.get<double *>("v_stif");
    auto *v_damp = plugin.get<double *>("v_damp");
    auto *v_tstf = plugin.get<double *>("v_tstf");
    auto *v_tdmp = plugin.get<double *>("v_tdmp");
    if (!tf_id || !whl_dv || !thresh || !v_stif || !v_damp || !v_tstf || !v_tdmp) return false;
    *tf_id = p.tf_id;
    *whl_dv = p.wheel_divisions;
    *thresh = p.threshold;
    *v_stif = p.stiffness;
    *v_damp = p.damping;
    *v_tstf = p.torsional_stiffness;
    *v_tdmp = p.torsional_damping;
    return true;
}

void print_summary(const std::string &bdf, const BdfSummary &s, double seconds) {
    long total = 0;
    for (const auto &[name, count] : s.cards) total += count;
    std::printf("wrote %s: %ld cards, %ld lines, %ld bytes in %.3f s\n", bdf.c_str(), total,
                s.lines, s.bytes, seconds);
    for (const auto &[name, count] : s.cards) std::printf("  %-8s %10ld\n", name.c_str(), count);
}

} // namespace

void help_convert() {
    std::printf(
        "usage: sorvan convert MAP_FILE ABC_BASE [OPTIONS]\n"
        "\n"
        "Converts the linearised model described by MAP_FILE, with the state matrices in\n"
        "the files ABC_BASEa, ABC_BASEb, ABC_BASEc and ABC_BASEd, into a bulk data file\n"
        "named after MAP_FILE with its extension replaced by \"bdf\" (\".bdf\" appended\n"
        "when it has none). The file is written only when the whole conversion succeeds.\n"
        "\n"
        "Export units (the units the cards are written in; the header names them):\n"
        "  --length-unit LABEL          length unit, e.g. m, mm, in        (default METER)\n"
        "  --force-unit LABEL           force unit, e.g. N, kN, lbf        (default NEWTON)\n"
        "  --mass-unit LABEL            mass unit, e.g. kg, mgg, slug      (default KILOGRAM)\n"
        "  --time-unit ms|s|min|h       time unit                          (default s)\n"
        "\n"
        "Conversion parameters:\n"
        "  --tf-id N                    set identifier of every TF card    (default 1)\n"
        "  --threshold X                matrix terms of smaller magnitude are left out\n"
        "                               (default 1e-9; 0 writes every term)\n"
        "  --wheel-divisions N          rim divisions of each wheel drawing, at least 1\n"
        "                               (default 24)\n"
        "\n"
        "Connecting spring-damper between structure and model, in SI units:\n"
        "  --stiffness X                translational stiffness, N/m       (default 1e9)\n"
        "  --damping X                  translational damping, N*s/m       (default 1e6)\n"
        "  --torsional-stiffness X      torsional stiffness, N*m/rad       (default 1e6)\n"
        "  --torsional-damping X        torsional damping, N*m*s/rad       (default 1e4)\n"
        "\n"
        "  --plugin PATH                load the plug-in from PATH instead of beside sorvan\n"
        "\n"
        "Unit labels are case-blind and take the usual aliases (mm, MILLIMETER, kn, lbf,\n"
        "kip, mgg, ...). On failure the exit status is the converter's result code\n"
        "negated: 1 a file could not be read or written or its content was refused,\n"
        "2 no state-space inputs, 3 no state-space outputs, 4 input count differs from\n"
        "B, 5 output count differs from C, 6 unknown export unit.\n");
}

int run_convert(int argc, char **argv) {
    Args args;
    if (!args.parse(argc, argv, 2, convert_options)) {
        std::fprintf(stderr, "sorvan convert: %s (see sorvan convert --help)\n",
                     args.error().c_str());
        return exit_usage;
    }
    if (args.has("help")) {
        help_convert();
        return 0;
    }
    if (args.positional().size() != 2) {
        std::fprintf(stderr, "sorvan convert: needs MAP_FILE and ABC_BASE (see --help)\n");
        return exit_usage;
    }
    Parameters params;
    if (!read_parameters(args, params)) {
        std::fprintf(stderr, "sorvan convert: %s\n", args.error().c_str());
        return exit_usage;
    }
    const TimeUnit *time = find_time_unit(args.has("time-unit") ? args.value("time-unit") : "s");
    if (!time) {
        std::fprintf(stderr, "sorvan convert: --time-unit must be ms, s, min or h\n");
        return exit_usage;
    }

    Plugin plugin;
    if (!plugin.load(args.has("plugin") ? args.value("plugin") : "")) {
        std::fprintf(stderr, "sorvan convert: %s\n", plugin.error().c_str());
        return exit_no_plugin;
    }
    auto convert = plugin.get<Kavel2pelda>("kavel2pelda");
    char *length = nullptr, *force = nullptr, *mass = nullptr, *time_label = nullptr;
    bool ok = convert && apply_parameters(plugin, params) &&
              set_label(plugin, "lu_lab", args.has("length-unit") ? args.value("length-unit") : "METER", length) &&
              set_label(plugin, "fu_lab", args.has("force-unit") ? args.value("force-unit") : "NEWTON", force) &&
              set_label(plugin, "mu_lab", args.has("mass-unit") ? args.value("mass-unit") : "KILOGRAM", mass) &&
              set_label(plugin, "tu_lab", time->label, time_label);
    if (!ok) {
        if (!plugin.error().empty()) std::fprintf(stderr, "sorvan convert: %s\n", plugin.error().c_str());
        return plugin.error().empty() ? exit_usage : exit_no_plugin;
    }

    const std::string &map_file = args.positional()[0];
    auto start = std::chrono::steady_clock::now();
    int32_t result = convert(map_file.c_str(), args.positional()[1].c_str(), length, force, mass,
                             time->code);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fflush(stdout);
    if (result != 1) {
        std::fprintf(stderr, "sorvan convert: conversion failed (%d): %s\n", result,
                     result_text(result));
        if (result == -6)
            std::fprintf(stderr, "  export units given: length \"%s\", force \"%s\", mass \"%s\"\n",
                         length, force, mass);
        return result < 0 && result >= -8 ? -result : 1;
    }
    std::string bdf = bdf_name_of(map_file);
    BdfSummary summary;
    if (!summarise(bdf, summary)) {
        std::fprintf(stderr, "sorvan convert: converted, but cannot read back %s\n", bdf.c_str());
        return exit_output;
    }
    print_summary(bdf, summary, seconds);
    return 0;
}

} // namespace sorvan::cli
