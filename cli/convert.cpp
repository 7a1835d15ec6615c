// sorvan convert: the bulk data conversion, run as the host runs it (the host
// function KAVEL2PELDA_BDF_WRITE with a command object built from the
// options) or through the plug-in's exported converter entry.
#include "cli/check.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/session.h"
#include "frame/file_identity.h"

#include "analysis/deck.h"
#include "frame/host_codes.h"
#include "model_input/map.h"
#include "model_input/units.h"
#include "sorvan_view.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sorvan::cli {

namespace {

using Kavel2pelda = int32_t (*)(const char *, const char *, char *, char *, char *, char);
using UnitConstant = double (*)(char *);
using MapReadUnit = int (*)(MAPmodel *, FILE *);
using MapFree = void (*)(MAPmodel *);

// The command object the host function reads and where it reads from.
using namespace host_codes;
constexpr int32_t folder_type = 1; // any type: only the unit objects under it are looked up

// The converter's defaults for the connecting spring-damper, in SI units:
// stiffness N/m, damping N*s/m, torsional stiffness N*m/rad, torsional
// damping N*m*s/rad.
constexpr const char *connecting_names[4] = {"stiffness", "damping", "torsional-stiffness",
                                             "torsional-damping"};
constexpr const char *connecting_si_units[4] = {"N/m", "N*s/m", "N*m/rad", "N*m*s/rad"};
constexpr double connecting_defaults[4] = {1e9, 1e6, 1e6, 1e4};

// The exported converter's time unit code of a canonical time label.
char time_code(const std::string &label) {
    return label == "MILLISECOND" ? '0' : label == "MINUTE" ? '2' : label == "HOUR" ? '3' : '1';
}

struct ConvertOptions {
    std::string map_file, abc_base;
    std::string output;                                                // --output, or empty
    std::string labels[4] = {"METER", "NEWTON", "KILOGRAM", "SECOND"}; // canonical
    int tf_id = 1, wheel_divisions = 24;
    double threshold = 1e-9;
    std::optional<double> connecting[4]; // as given, SI units
    bool direct = false;
    bool check = false;       // check the deck against its model once written
    bool large_field = false; // TF and DMIG cards in 16-character fields
};

// What the converter's result codes mean to a user.
std::string result_text(int32_t code) {
    switch (code) {
    case -1:
        return "a file could not be read or written, or its content was refused";
    case -2:
        return "the MAP file declares no state-space inputs, or is no MAP file (no "
               "[FILE_SUMMARY] section)";
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

// The options of every conversion; the words are set per model. The
// parser has checked every value's kind and range.
ConvertOptions read_options(const Parsed &p) {
    ConvertOptions o;
    const char *unit_options[4] = {"length-unit", "force-unit", "mass-unit", "time-unit"};
    for (int k = 0; k < 4; ++k)
        if (p.has(unit_options[k])) o.labels[k] = units::canonical(p.text(unit_options[k]));
    for (int k = 0; k < 4; ++k)
        if (p.has(connecting_names[k])) o.connecting[k] = p.real(connecting_names[k]);
    if (p.has("threshold")) o.threshold = p.real("threshold");
    if (p.has("tf-id")) o.tf_id = static_cast<int>(p.integer("tf-id"));
    if (p.has("wheel-divisions"))
        o.wheel_divisions = static_cast<int>(p.integer("wheel-divisions"));
    if (p.has("output")) o.output = p.text("output");
    o.direct = p.has("direct");
    o.check = p.has("check");
    o.large_field = p.has("large-field");
    return o;
}

// Writes the parameters both converter entries read from the plug-in's
// exported variables (the host function takes everything else from the
// command object).
bool set_shared_parameters(Plugin &plugin, const ConvertOptions &o) {
    auto *tf_id = plugin.get<int32_t *>("tf_id");
    auto *whl_dv = plugin.get<int32_t *>("whl_dv");
    auto *thresh = plugin.get<double *>("thresh");
    auto *lrg_fld = plugin.get<int32_t *>("lrg_fld");
    if (!tf_id || !whl_dv || !thresh || !lrg_fld) return false;
    *tf_id = o.tf_id;
    *whl_dv = o.wheel_divisions;
    *thresh = o.threshold;
    *lrg_fld = o.large_field ? 1 : 0;
    return true;
}

// ---- connecting values in the MAP file's units ----------------------------

// The factors the host function multiplies the four connecting values by to
// turn them from the MAP file's units into SI, each formed in the order the
// host function forms it. False when the MAP file's units cannot be read;
// the host function then reports why.
bool map_unit_factors(Plugin &plugin, const std::string &map_file, double factor[4]) {
    auto read_size = plugin.get<MapReadUnit>("MAPread_size");
    auto read_unit = plugin.get<MapReadUnit>("MAPread_unit");
    auto map_free = plugin.get<MapFree>("MAPfree");
    if (!read_size || !read_unit || !map_free) return false;
    std::string why; // the host function says why when it reads the file itself
    std::FILE *f = open_input(map_file.c_str(), "r", MAP_FILE_MAX, nullptr, why);
    if (!f) return false;
    auto *map = static_cast<MAPmodel *>(std::calloc(1, sizeof(MAPmodel)));
    int rc = MAP_FAILED;
    if (map) {
        // A file that is no MAP file (binary, empty, without a summary) is
        // left to the host function to refuse, with nothing said before.
        MutedStdout quiet;
        rc = read_size(map, f); // on failure the reader has released the record
        if (rc == MAP_OK && !MAPhas_section(f, "[FILE_SUMMARY]")) {
            map_free(map);
            rc = MAP_FAILED;
        }
        if (rc == MAP_OK) rc = read_unit(map, f);
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

// The four connecting values to hand to the host function, which takes
// them in the MAP file's units: those given (SI) and the SI defaults, each
// expressed in MAP units.
void host_connecting_values(Plugin &plugin, const ConvertOptions &o, double out[4]) {
    double factor[4] = {0, 0, 0, 0};
    const bool factors = map_unit_factors(plugin, o.map_file, factor);
    for (int k = 0; k < 4; ++k) {
        const double si = o.connecting[k].value_or(connecting_defaults[k]);
        if (factors && std::isfinite(factor[k]) && factor[k] > 0.0) {
            out[k] = in_map_units(si, factor[k]);
        } else {
            // A MAP file whose units cannot be read fails the conversion
            // anyway; a unit that is missing from its section makes every
            // value of this kind 0 in SI, so the default stays as it is.
            if (factors)
                complain("convert", std::string("warning: the MAP file's units do not express ") +
                                        connecting_names[k] + "; passing " + shortest(si) +
                                        " unchanged");
            out[k] = si;
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
                             o.labels[3].c_str()};
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
    char *time = set_label(p, "tu_lab", o.labels[3]);
    if (!convert || !variables[0] || !variables[1] || !variables[2] || !variables[3] || !length ||
        !force || !mass || !time) {
        complain("convert", p.error());
        return 0;
    }
    for (int k = 0; k < 4; ++k)
        *variables[k] = o.connecting[k].value_or(connecting_defaults[k]);
    return convert(o.map_file.c_str(), o.abc_base.c_str(), length, force, mass,
                   time_code(o.labels[3]));
}

// ---- reporting --------------------------------------------------------------

struct BdfSummary {
    std::map<std::string, long> cards; // card name -> count
    long lines = 0;
    long bytes = 0;
};

// Counts the cards of a written BDF: every line that starts a card names it
// in its first field (up to eight characters); comments, continuations and
// "*" lines start none. The deck of a large model has millions of lines, so
// it is read in large blocks and only each line's first characters kept.
bool summarise(const std::string &name, BdfSummary &out) {
    std::string why;
    std::FILE *f = open_input(name.c_str(), "rb", analysis::deck_file_max, nullptr, why);
    if (!f) return false;
    constexpr size_t field = 8;
    std::string head; // the current line's first characters
    auto count_card = [&] {
        if (!head.empty() && std::strchr("$ *+", head[0]) == nullptr)
            ++out.cards[head.substr(0, head.find(' '))];
        head.clear();
    };
    std::vector<char> block(size_t{1} << 20);
    for (size_t got; (got = std::fread(block.data(), 1, block.size(), f)) > 0;) {
        out.bytes += static_cast<long>(got);
        for (const char *p = block.data(), *end = p + got; p < end;) {
            const auto *newline = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
            const char *stop = newline ? newline : end;
            if (head.size() < field)
                head.append(p, std::min(size_t(stop - p), field - head.size()));
            if (!newline) break;
            ++out.lines;
            count_card();
            p = newline + 1;
        }
    }
    count_card(); // a last line without its line end
    const bool read = !std::ferror(f);
    std::fclose(f);
    return read;
}

// What the conversion wrote, for people and for scripts.
nlohmann::json summary_json(Plugin &p, const ConvertOptions &o, const std::string &bdf,
                            const BdfSummary &s, double seconds) {
    nlohmann::json cards = nlohmann::json::object();
    for (const auto &[name, count] : s.cards)
        cards[name] = count;
    const char *labels[4] = {p.get<char *>("lu_lab"), p.get<char *>("fu_lab"),
                             p.get<char *>("mu_lab"), p.get<char *>("tu_lab")};
    const char *kinds[4] = {"length", "force", "mass", "time"};
    nlohmann::json unit_labels = nlohmann::json::object();
    for (int k = 0; k < 4; ++k)
        unit_labels[kinds[k]] = labels[k] ? labels[k] : "";
    // As given (SI): the value the plug-in holds went through the MAP
    // file's units and back, and may differ in the last digit.
    nlohmann::json connecting = nlohmann::json::object();
    for (int k = 0; k < 4; ++k)
        connecting[connecting_names[k]] = {
            {"value", o.connecting[k].value_or(connecting_defaults[k])},
            {"unit", connecting_si_units[k]}};
    return {{"file", bdf},
            {"map_file", o.map_file},
            {"abc_base", o.abc_base},
            {"cards", cards},
            {"lines", s.lines},
            {"bytes", s.bytes},
            {"seconds", seconds},
            {"units", unit_labels},
            {"connecting", connecting},
            {"mode", o.direct ? "direct" : "host"},
            {"large_field", o.large_field},
            {"status", 1}};
}

void print_summary(const nlohmann::json &j) {
    long total = 0;
    for (const auto &[name, count] : j["cards"].items())
        total += count.get<long>();
    std::printf("wrote %s: %ld cards, %ld lines, %ld bytes in %.3f s\n",
                j["file"].get<std::string>().c_str(), total, j["lines"].get<long>(),
                j["bytes"].get<long>(), j["seconds"].get<double>());
    std::printf("  by %s\n", j["mode"] == "direct"
                                 ? "the exported converter kavel2pelda (no external-input "
                                   "stiffness section)"
                                 : "the host function KAVEL2PELDA_BDF_WRITE (external inputs "
                                   "included)");
    const auto &u = j["units"];
    std::printf("  export units: %s, %s, %s, %s\n", u["length"].get<std::string>().c_str(),
                u["force"].get<std::string>().c_str(), u["mass"].get<std::string>().c_str(),
                u["time"].get<std::string>().c_str());
    std::printf("  connecting values:");
    for (int k = 0; k < 4; ++k) {
        const auto &c = j["connecting"][connecting_names[k]];
        std::printf("%s %s %.10g %s", k ? "," : "", connecting_names[k], c["value"].get<double>(),
                    c["unit"].get<std::string>().c_str());
    }
    std::printf("\n");
    for (const auto &[name, count] : j["cards"].items())
        std::printf("  %-8s %10ld\n", name.c_str(), count.get<long>());
}

std::string formed_deck_name(const std::string &map_file);

// The exit status of a failed conversion: the converter's -1 is an output
// that cannot be written when the deck's folder does not exist, and input
// refused for its content otherwise (the inputs were opened before); -2 to
// -6 are the content's; -7 and -8 this program's own fault.
int failure_exit(int32_t result, const ConvertOptions &o) {
    if (result == -1) {
        const std::string deck = o.output.empty() ? formed_deck_name(o.map_file) : o.output;
        const std::size_t cut = deck.find_last_of(path_separators);
        const std::string folder = cut == std::string::npos ? "." : deck.substr(0, cut + 1);
        std::error_code ec;
        if (std::filesystem::is_directory(folder, ec)) return exit_data;
        return exit_output;
    }
    if (result >= -6 && result <= -2) return exit_data;
    return exit_software;
}

// Converts one model and reports it. Returns the exit status; *report gets
// the model's JSON object.
int convert_one(Session &s, ConvertOptions o, nlohmann::json *report) {
    char *out = s.plugin().get<char *>("bdf_out");
    char *formed = s.plugin().get<char *>("bdf_name");
    if (!out || !formed || o.output.size() >= 4096) {
        complain("convert", out && formed ? "--output names a file of more than 4095 characters"
                                          : s.plugin().error());
        *report = {{"map_file", o.map_file}, {"status", nullptr}};
        return out && formed ? exit_usage : exit_no_plugin;
    }
    std::memcpy(out, o.output.c_str(), o.output.size() + 1);
    formed[0] = '\0';
    *report = {{"map_file", o.map_file}, {"abc_base", o.abc_base}, {"status", nullptr}};
    if (!o.output.empty()) {
        std::vector<NamedFile> inputs = {{"MAP_FILE", o.map_file}};
        for (const char *letter : {"a", "b", "c", "d"})
            inputs.push_back({"the matrix file", o.abc_base + letter});
        if (!outputs_apart("convert", inputs, {{"--output", o.output}})) return exit_usage;
    }
    // An input that cannot be opened is named before the plug-in runs.
    std::string why;
    for (const std::string &input :
         {o.map_file, o.abc_base + "a", o.abc_base + "b", o.abc_base + "c", o.abc_base + "d"})
        if (!input_file_ok(input, input == o.map_file ? MAP_FILE_MAX : analysis::deck_file_max,
                           why)) {
            complain("convert", why);
            return exit_no_input;
        }
    const auto start = std::chrono::steady_clock::now();
    int32_t result;
    std::string said; // the plug-in's own diagnostics, printed again below
    {
        CapturedStdout capture;
        result = o.direct ? convert_direct(s, o) : convert_host(s, o);
        said = capture.raw();
    }
    std::fputs(said.c_str(), stdout);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    out[0] = '\0';
    std::fflush(stdout);
    if (result == 0) return exit_no_plugin; // the reason is printed
    if (result != 1) {
        while (!said.empty() && (said.back() == '\n' || said.back() == '\r'))
            said.pop_back();
        const std::size_t last = said.rfind('\n');
        const std::string reason = last == std::string::npos ? said : said.substr(last + 1);
        complain("convert", o.map_file + ": conversion failed (" + std::to_string(result) +
                                "): " + (reason.empty() ? result_text(result) : reason));
        (*report)["status"] = result;
        return failure_exit(result, o);
    }
    const std::string bdf = formed;
    BdfSummary summary;
    if (!summarise(bdf, summary)) {
        complain("convert", "converted, but cannot read back " + bdf);
        *report = {{"map_file", o.map_file}, {"file", bdf}, {"status", result}};
        return exit_output;
    }
    *report = summary_json(s.plugin(), o, bdf, summary, seconds);
    print_summary(*report);
    if (!o.check) return 0;
    CheckSettings settings;
    settings.bdf = bdf;
    settings.map_file = o.map_file;
    settings.abc_base = o.abc_base;
    nlohmann::json check;
    std::string error;
    const int status = check_deck(settings, check, error);
    if (!error.empty() && status != check_failed) {
        complain("convert", "cannot check " + bdf + ": " + error);
        check["passed"] = false;
        check["error"] = error;
    } else {
        std::printf("  %s\n", check_summary(check).c_str());
        // A deck that fails its check: the envelope's error says why.
        if (status == check_failed) json_output::record_error(check_summary(check));
    }
    (*report)["check"] = check;
    return status == check_passed ? 0 : check_failed;
}

// The deck the converter forms from a MAP file's name: everything after the
// last "." of the file name replaced by "bdf", or ".bdf" appended.
std::string formed_deck_name(const std::string &map_file) {
    const std::size_t name = map_file.find_last_of(path_separators);
    const std::size_t dot = map_file.rfind('.');
    if (dot == std::string::npos || (name != std::string::npos && dot < name))
        return map_file + ".bdf";
    return map_file.substr(0, dot + 1) + "bdf";
}

// --each: the decks of the models are as many files, and none of them is a
// file another model of the call reads; refused before any is converted.
bool decks_apart(const std::vector<std::string> &words) {
    std::vector<NamedFile> inputs, decks;
    for (std::size_t k = 0; k + 1 < words.size(); k += 2) {
        const std::string model = "model " + std::to_string(k / 2 + 1) + "'s ";
        inputs.push_back({model + "MAP file", words[k]});
        for (const char *letter : {"a", "b", "c", "d"})
            inputs.push_back({model + "matrix file", words[k + 1] + letter});
        decks.push_back({model + "deck", formed_deck_name(words[k])});
    }
    return outputs_apart("convert", inputs, decks);
}

} // namespace

int run_convert(int argc, char **argv) {
    Parsed p;
    if (int status = parse_command_line(convert_command(), argc, argv, p); status >= 0)
        return status;
    const std::vector<std::string> &words = p.words();
    const bool each = p.has("each");
    if ((!each && words.size() != 2) || (each && words.size() % 2 != 0)) {
        complain("convert", each ? "--each needs MAP_FILE ABC_BASE pairs"
                                 : "unexpected word \"" + words[2] +
                                       "\": takes MAP_FILE and ABC_BASE (several models: --each)");
        return exit_usage;
    }
    if (each && p.has("output")) {
        complain("convert", "--output names one deck; with --each every deck is named after its "
                            "MAP file");
        return exit_usage;
    }
    if (each && !decks_apart(words)) return exit_usage;
    const ConvertOptions options = read_options(p);
    if (options.labels[3] != "SECOND")
        complain("convert", "warning: time unit " + options.labels[3] +
                                ": the state-space cards stay per second and only the coupling "
                                "damping is converted with the time factor, so the deck mixes "
                                "time bases unless the solver runs in seconds");

    Session session;
    if (!start_session(session, "convert", p.plugin())) return exit_no_plugin;
    if (!set_shared_parameters(session.plugin(), options)) {
        complain("convert", session.plugin().error());
        return exit_no_plugin;
    }
    int status = 0;
    nlohmann::json reports = nlohmann::json::array();
    std::vector<int> statuses;
    std::vector<std::string> errors;
    for (size_t k = 0; k + 1 < words.size(); k += 2) {
        ConvertOptions o = options;
        o.map_file = words[k];
        o.abc_base = words[k + 1];
        nlohmann::json report;
        json_output::record_error("");
        const int one = convert_one(session, o, &report);
        if (status == 0) status = one;
        reports.push_back(report);
        statuses.push_back(one);
        errors.push_back(json_output::last_error());
    }
    if (p.json()) {
        if (each) {
            // One envelope a model, and the whole call ok only when every one is.
            nlohmann::json models = nlohmann::json::array();
            long failed = 0;
            for (std::size_t k = 0; k < reports.size(); ++k) {
                const int one = statuses[k];
                failed += one != 0;
                nlohmann::json m = {{"command", "convert"}, {"ok", one == 0}, {"exit", one}};
                if (one != 0) m["error"] = errors[k];
                m["warnings"] = nlohmann::json::array();
                m.update(reports[k]);
                models.push_back(m);
            }
            json_output::emit({{"models", models}, {"failed", failed}});
        } else {
            json_output::emit(reports[0]);
        }
    }
    return status;
}

} // namespace sorvan::cli
