// sorvan convert: the bulk data conversion, run as the host runs it (the host
// function KAVEL2PELDA_BDF_WRITE with a command object built from the
// options) or through the plug-in's exported converter entry.
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/session.h"

#include "frame/host_codes.h"
#include "sorvan_view.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>

namespace sorvan::cli {

namespace {

using Kavel2pelda = int32_t (*)(const char *, const char *, char *, char *, char *, char);
using UnitConstant = double (*)(char *);
using MapReadUnit = int (*)(MAPmodel *, FILE *);
using MapFree = void (*)(MAPmodel *);

const std::vector<Option> convert_options = {
    {"length-unit", true},
    {"force-unit", true},
    {"mass-unit", true},
    {"time-unit", true},
    {"tf-id", true},
    {"threshold", true},
    {"wheel-divisions", true},
    {"stiffness", true},
    {"damping", true},
    {"torsional-stiffness", true},
    {"torsional-damping", true},
    {"direct", false},
};

// The command object the host function reads and where it reads from.
using namespace host_codes;
constexpr int32_t folder_type = 1; // any type: only the unit objects under it are looked up

// Room of a unit label, terminator included: the host's text attributes and
// the plug-in's label variables both hold 64 bytes.
constexpr size_t label_size = 64;

// The converter's defaults for the connecting spring-damper, in SI units:
// stiffness N/m, damping N*s/m, torsional stiffness N*m/rad, torsional
// damping N*m*s/rad.
constexpr const char *connecting_names[4] = {"stiffness", "damping", "torsional-stiffness",
                                             "torsional-damping"};
constexpr const char *connecting_si_units[4] = {"N/m", "N*s/m", "N*m/rad", "N*m*s/rad"};
constexpr double connecting_defaults[4] = {1e9, 1e6, 1e6, 1e4};

struct TimeUnit {
    const char *names[4]; // accepted spellings
    char code;            // the exported converter's time unit code
    const char *label;    // canonical label, as the host's unit object names it
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

struct ConvertOptions {
    std::string map_file, abc_base;
    std::string labels[3] = {"METER", "NEWTON", "KILOGRAM"}; // length, force, mass
    const TimeUnit *time = &time_units[1];
    int tf_id = 1, wheel_divisions = 24;
    double threshold = 1e-9;
    std::optional<double> connecting[4]; // as given: MAP units (host) or SI (direct)
    bool direct = false;
};

// What the converter's result codes mean to a user.
std::string result_text(int32_t code) {
    switch (code) {
    case -1:
        return "a file could not be read or written, or its content was refused";
    case -2:
        return "the MAP file declares no state-space inputs";
    case -3:
        return "the MAP file declares no state-space outputs";
    case -4:
        return "the MAP file's input count differs from the columns of B";
    case -5:
        return "the MAP file's output count differs from the rows of C";
    case -6:
        return "an export unit label is not known";
    case -7:
        return "the command object is not of host object type " +
               std::to_string(command_object_type);
    case -8:
        return "the command object's attribute " + std::to_string(attr_command_values) +
               " holds fewer than 8 values";
    default:
        return "unexpected result";
    }
}

bool read_options(Args &args, ConvertOptions &o) {
    o.map_file = args.positional()[0];
    o.abc_base = args.positional()[1];
    const char *label_options[3] = {"length-unit", "force-unit", "mass-unit"};
    for (int k = 0; k < 3; ++k) {
        if (args.has(label_options[k])) o.labels[k] = args.value(label_options[k]);
        if (o.labels[k].empty() || o.labels[k].size() >= label_size) {
            complain("convert",
                     std::string("--") + label_options[k] + " needs a label of 1 to 63 characters");
            return false;
        }
    }
    if (args.has("time-unit") && !(o.time = find_time_unit(args.value("time-unit")))) {
        complain("convert", "--time-unit must be ms, s, min or h");
        return false;
    }
    for (int k = 0; k < 4; ++k) {
        double v = 0.0;
        if (!args.has(connecting_names[k])) continue;
        if (!args.get_double(connecting_names[k], v)) {
            complain("convert", args.error());
            return false;
        }
        o.connecting[k] = v;
    }
    if ((args.has("threshold") && !args.get_double("threshold", o.threshold)) ||
        (args.has("tf-id") && !args.get_int("tf-id", o.tf_id)) ||
        (args.has("wheel-divisions") && !args.get_int("wheel-divisions", o.wheel_divisions))) {
        complain("convert", args.error());
        return false;
    }
    o.direct = args.has("direct");
    return true;
}

// Writes the parameters both converter entries read from the plug-in's
// exported variables (the host function takes everything else from the
// command object).
bool set_shared_parameters(Plugin &plugin, const ConvertOptions &o) {
    auto *tf_id = plugin.get<int32_t *>("tf_id");
    auto *whl_dv = plugin.get<int32_t *>("whl_dv");
    auto *thresh = plugin.get<double *>("thresh");
    if (!tf_id || !whl_dv || !thresh) return false;
    *tf_id = o.tf_id;
    *whl_dv = o.wheel_divisions;
    *thresh = o.threshold;
    return true;
}

// ---- connecting values in the MAP file's units ----------------------------

// The factors the host function multiplies the four connecting values by to
// turn them from the MAP file's units into SI, each formed in the order the
// host function forms it. False when the MAP file's units cannot be read;
// the host function then reports why.
bool map_unit_factors(Plugin &plugin, const std::string &map_file, double factor[4]) {
    auto read_unit = plugin.get<MapReadUnit>("MAPread_unit");
    auto map_free = plugin.get<MapFree>("MAPfree");
    if (!read_unit || !map_free) return false;
    std::FILE *f = std::fopen(map_file.c_str(), "r");
    if (!f) return false;
    auto *map = static_cast<MAPmodel *>(std::calloc(1, sizeof(MAPmodel)));
    int rc = MAP_FAILED;
    if (map) {
        MutedStdout quiet;
        rc = read_unit(map, f); // on failure the reader has released the record
    }
    std::fclose(f);
    if (rc != MAP_OK) return false;
    const double ul = map->unit_length, ua = map->unit_angle, uf = map->unit_force,
                 ut = map->unit_time;
    map_free(map);
    factor[0] = uf / ul;
    factor[1] = ut / ul * uf;
    factor[2] = uf / ua * ul;
    factor[3] = ut / ua * uf * ul;
    return true;
}

// The value in MAP units that the factor turns back into si exactly, when a
// neighbour of si / factor does; otherwise the nearest value.
double in_map_units(double si, double factor) {
    double v = si / factor;
    double up = v, down = v;
    for (int step = 0; step < 4 && factor * v != si; ++step) {
        up = std::nextafter(up, HUGE_VAL);
        down = std::nextafter(down, -HUGE_VAL);
        if (factor * up == si) return up;
        if (factor * down == si) return down;
    }
    return v;
}

// The four connecting values to hand to the host function: those given, in
// MAP units, and the SI defaults expressed in MAP units for those not given.
void host_connecting_values(Plugin &plugin, const ConvertOptions &o, double out[4]) {
    double factor[4] = {0, 0, 0, 0};
    bool need_defaults =
        !o.connecting[0] || !o.connecting[1] || !o.connecting[2] || !o.connecting[3];
    bool factors = need_defaults && map_unit_factors(plugin, o.map_file, factor);
    for (int k = 0; k < 4; ++k) {
        if (o.connecting[k]) {
            out[k] = *o.connecting[k];
        } else if (factors && std::isfinite(factor[k]) && factor[k] > 0.0) {
            out[k] = in_map_units(connecting_defaults[k], factor[k]);
        } else {
            // A MAP file whose units cannot be read fails the conversion
            // anyway; a unit that is missing from its section makes every
            // value of this kind 0 in SI, so the default stays as it is.
            if (factors)
                complain("convert", std::string("warning: the MAP file's units do not express ") +
                                        connecting_names[k] + "; passing " +
                                        shortest(connecting_defaults[k]) + " unchanged");
            out[k] = connecting_defaults[k];
        }
    }
}

// ---- the two ways of converting -------------------------------------------

// Builds the command object of the host function: attribute 505 holds the
// four unit object identifiers (1 to 4) and the connecting values, attribute
// 10 the folder with the four unit objects.
ac_object command_object(const ConvertOptions &o, const double connecting[4]) {
    ac_object command = plexa_object_create(command_object_type, nullptr);
    ac_object folder = plexa_object_create(folder_type, nullptr);
    if (!command || !folder) return nullptr;
    const char *labels[4] = {o.labels[0].c_str(), o.labels[1].c_str(), o.labels[2].c_str(),
                             o.time->label};
    for (int32_t k = 0; k < 4; ++k) {
        ac_object unit = plexa_object_create(unit_object_type, folder);
        if (!unit || !plexa_set_int(unit, attr_unit_id, k + 1) ||
            !plexa_set_string(unit, attr_unit_label, labels[k]))
            return nullptr;
    }
    double values[8] = {1, 2, 3, 4, connecting[0], connecting[1], connecting[2], connecting[3]};
    if (!plexa_set_object(command, attr_unit_folder, folder) ||
        !plexa_set_reals(command, attr_command_values, values, 8))
        return nullptr;
    return command;
}

// Runs the host function. Returns its result, or 0 with the reason printed
// when it cannot be called.
int32_t convert_host(Session &s, const ConvertOptions &o) {
    auto convert = s.function_as<plexa_object_files_function>("KAVEL2PELDA_BDF_WRITE", 3);
    if (!convert) {
        complain("convert", s.error());
        return 0;
    }
    double connecting[4];
    host_connecting_values(s.plugin(), o, connecting);
    ac_object command = command_object(o, connecting);
    if (!command) {
        complain("convert", "the host library refused the command object");
        return 0;
    }
    return convert(command, o.map_file.c_str(), o.abc_base.c_str());
}

// Copies text into one of the plug-in's 64-byte label variables.
char *set_label(Plugin &plugin, const char *variable, const std::string &text) {
    char *label = plugin.get<char *>(variable);
    if (label) std::memcpy(label, text.c_str(), text.size() + 1); // checked to fit
    return label;
}

// Runs the exported converter with SI connecting values. The label
// variables themselves are passed as the unit arguments, so that the header
// names the canonical units the cards are converted with.
int32_t convert_direct(Session &s, const ConvertOptions &o) {
    Plugin &p = s.plugin();
    auto convert = p.get<Kavel2pelda>("kavel2pelda");
    double *variables[4] = {p.get<double *>("v_stif"), p.get<double *>("v_damp"),
                            p.get<double *>("v_tstf"), p.get<double *>("v_tdmp")};
    char *length = set_label(p, "lu_lab", o.labels[0]);
    char *force = set_label(p, "fu_lab", o.labels[1]);
    char *mass = set_label(p, "mu_lab", o.labels[2]);
    char *time = set_label(p, "tu_lab", o.time->label);
    if (!convert || !variables[0] || !variables[1] || !variables[2] || !variables[3] || !length ||
        !force || !mass || !time) {
        complain("convert", p.error());
        return 0;
    }
    for (int k = 0; k < 4; ++k)
        *variables[k] = o.connecting[k].value_or(connecting_defaults[k]);
    return convert(o.map_file.c_str(), o.abc_base.c_str(), length, force, mass, o.time->code);
}

// ---- reporting --------------------------------------------------------------

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
    bool line_start = true;
    while (std::fgets(line, sizeof line, f)) {
        size_t len = std::strlen(line);
        out.bytes += static_cast<long>(len);
        bool starts = line_start;
        line_start = len > 0 && line[len - 1] == '\n'; // else the rest follows
        if (line_start) ++out.lines;
        if (!starts || line[0] == '$' || line[0] == ' ' || line[0] == '*' || line[0] == '\n' ||
            line[0] == '+')
            continue;
        size_t end = std::strcspn(line, " \n");
        if (end > 8) end = 8;
        ++out.cards[std::string(line, end)];
    }
    std::fclose(f);
    return true;
}

void print_summary(Plugin &p, const ConvertOptions &o, const std::string &bdf, const BdfSummary &s,
                   double seconds) {
    long total = 0;
    for (const auto &[name, count] : s.cards)
        total += count;
    std::printf("wrote %s: %ld cards, %ld lines, %ld bytes in %.3f s\n", bdf.c_str(), total,
                s.lines, s.bytes, seconds);
    std::printf("  by %s\n", o.direct ? "the exported converter kavel2pelda (no external-input "
                                        "stiffness section)"
                                      : "the host function KAVEL2PELDA_BDF_WRITE (external "
                                        "inputs included)");
    const char *labels[4] = {p.get<char *>("lu_lab"), p.get<char *>("fu_lab"),
                             p.get<char *>("mu_lab"), p.get<char *>("tu_lab")};
    if (labels[0] && labels[1] && labels[2] && labels[3])
        std::printf("  export units: %s, %s, %s, %s\n", labels[0], labels[1], labels[2], labels[3]);
    const char *variables[4] = {"v_stif", "v_damp", "v_tstf", "v_tdmp"};
    std::printf("  connecting values:");
    for (int k = 0; k < 4; ++k) {
        const double *v = p.get<double *>(variables[k]);
        std::printf("%s %s %.10g %s", k ? "," : "", connecting_names[k], v ? *v : NAN,
                    connecting_si_units[k]);
    }
    std::printf("\n");
    for (const auto &[name, count] : s.cards)
        std::printf("  %-8s %10ld\n", name.c_str(), count);
}

// Names the export labels the plug-in does not know.
void explain_units(Plugin &p, const ConvertOptions &o) {
    auto constant = p.get<UnitConstant>("UNTconstant");
    if (!constant) return;
    const char *kinds[3] = {"length", "force", "mass"};
    for (int k = 0; k < 3; ++k) {
        char label[label_size];
        std::memcpy(label, o.labels[k].c_str(), o.labels[k].size() + 1);
        if (constant(label) == 0.0)
            std::fprintf(stderr, "  unknown %s unit \"%s\"\n", kinds[k], o.labels[k].c_str());
    }
}

int finish(Session &s, const ConvertOptions &o, int32_t result, double seconds) {
    if (result == 0) return exit_no_plugin; // the reason is printed
    if (result != 1) {
        complain("convert",
                 "conversion failed (" + std::to_string(result) + "): " + result_text(result));
        if (result == -6) explain_units(s.plugin(), o);
        return result < 0 && result >= -8 ? -result : 1;
    }
    std::string bdf = bdf_name_of(o.map_file);
    BdfSummary summary;
    if (!summarise(bdf, summary)) {
        complain("convert", "converted, but cannot read back " + bdf);
        return exit_output;
    }
    print_summary(s.plugin(), o, bdf, summary, seconds);
    return 0;
}

} // namespace

void help_convert() {
    std::printf("usage: sorvan convert MAP_FILE ABC_BASE [OPTIONS]\n"
                "\n"
                "Converts the linearised model described by MAP_FILE, with the state matrices in\n"
                "the files ABC_BASEa, ABC_BASEb, ABC_BASEc and ABC_BASEd, into a bulk data file\n"
                "named after MAP_FILE with its extension replaced by \"bdf\" (\".bdf\" appended\n"
                "when it has none). The file is written only when the whole conversion succeeds.\n"
                "\n"
                "By default the conversion runs as the host runs it: the host function\n"
                "KAVEL2PELDA_BDF_WRITE is called with a command object built from the options.\n"
                "That is the default because it is what users of the host run: it reads the\n"
                "MAP file's external inputs and writes their stiffness section, and it takes\n"
                "the connecting values in the MAP file's units. --direct calls the exported\n"
                "converter kavel2pelda instead, which writes no external-input stiffness\n"
                "section and takes the connecting values in SI units.\n"
                "\n"
                "Export units (the units the cards are written in; the header names them):\n"
                "  --length-unit LABEL        length unit, e.g. m, mm, in      (default METER)\n"
                "  --force-unit LABEL         force unit, e.g. N, kN, lbf      (default NEWTON)\n"
                "  --mass-unit LABEL          mass unit, e.g. kg, mgg, slug    (default KILOGRAM)\n"
                "  --time-unit ms|s|min|h     time unit                        (default s)\n"
                "\n"
                "Conversion parameters:\n"
                "  --tf-id N                  set identifier of every TF card  (default 1)\n"
                "  --threshold X              matrix terms of smaller magnitude are left out\n"
                "                             (default 1e-9; 0 writes every term)\n"
                "  --wheel-divisions N        rim divisions of each wheel drawing, at least 1\n"
                "                             (default 24)\n"
                "\n"
                "Connecting spring-damper between structure and model. Host mode: in the MAP\n"
                "file's units (force/length, force*time/length, force*length/angle,\n"
                "force*length*time/angle); with --direct: in SI units. A value not given is the\n"
                "SI default, in host mode expressed in the MAP file's units, so that both modes\n"
                "write the same value:\n"
                "  --stiffness X              translational stiffness     (default 1e9 N/m)\n"
                "  --damping X                translational damping       (default 1e6 N*s/m)\n"
                "  --torsional-stiffness X    torsional stiffness         (default 1e6 N*m/rad)\n"
                "  --torsional-damping X      torsional damping           (default 1e4 N*m*s/rad)\n"
                "  e.g. for a MAP file in mm, N, s and degrees, --stiffness 1 is 1000 N/m.\n"
                "\n"
                "  --direct                   use the exported converter entry (see above)\n"
                "  --plugin PATH              load the plug-in from PATH, not from beside sorvan\n"
                "\n"
                "Unit labels are case-blind and take the usual aliases (mm, MILLIMETER, kn, lbf,\n"
                "kip, mgg, ...). On success it prints the file written, its card counts by card\n"
                "name, its size and the time taken. On failure the exit status is the\n"
                "converter's result code negated: 1 a file could not be read or written or its\n"
                "content was refused, 2 no state-space inputs, 3 no state-space outputs, 4 input\n"
                "count differs from B, 5 output count differs from C, 6 unknown export unit,\n"
                "7 command object of the wrong type, 8 command object with too few values;\n"
                "64 bad command line, 69 plug-in not loadable, 73 BDF not readable afterwards.\n");
}

int run_convert(int argc, char **argv) {
    Args args;
    const CommandLine command{"convert", &convert_options, help_convert, 2,
                              "MAP_FILE and ABC_BASE"};
    if (int status = parse_command(args, argc, argv, command); status >= 0) return status;
    ConvertOptions o;
    if (!read_options(args, o)) return exit_usage;

    Session session;
    if (!start_session(session, "convert", plugin_option(args))) return exit_no_plugin;
    if (!set_shared_parameters(session.plugin(), o)) {
        complain("convert", session.plugin().error());
        return exit_no_plugin;
    }
    auto start = std::chrono::steady_clock::now();
    int32_t result = o.direct ? convert_direct(session, o) : convert_host(session, o);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fflush(stdout);
    return finish(session, o, result, seconds);
}

} // namespace sorvan::cli
