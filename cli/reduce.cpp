// sorvan reduce: loads an ABC set into a host object and runs the host
// function STATEMAT_WRITE on it, which writes the set again without the
// states above a frequency limit.
#include "cli/check.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/session.h"

#include "analysis/reduction.h"
#include "analysis/response_plot.h"
#include "analysis/state_space.h"
#include "frame/file_identity.h"
#include "frame/host_codes.h"
#include "frame/output_file.h"
#include "sorvan_view.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace sorvan::cli {

namespace {

using AbcRead = ABCmtx *(*)(const char *, char);
using AbcFree = void (*)(ABCmtx *);

// STATEMAT_WRITE does not look at the object's type.
constexpr int32_t model_type = 1;

using host_codes::MatrixAttributes;
constexpr const MatrixAttributes *attributes = host_codes::state_matrices;

// Most values one host attribute holds.
constexpr int64_t max_values = 16777216;

// The four matrices of a set, released with the plug-in's ABCfree.
struct AbcSet {
    ABCmtx *m[4] = {nullptr, nullptr, nullptr, nullptr};
    AbcFree release = nullptr;

    AbcSet() = default;
    AbcSet(const AbcSet &) = delete;
    AbcSet &operator=(const AbcSet &) = delete;
    ~AbcSet() {
        for (ABCmtx *x : m)
            if (x && release) release(x);
    }
};

// Reads base + "a" to "d" with the plug-in's reader. Prints what is missing.
bool read_set(Plugin &p, const std::string &base, AbcSet &set) {
    auto read = p.get<AbcRead>("ABCread_mtx");
    set.release = p.get<AbcFree>("ABCfree");
    if (!read || !set.release) {
        complain("reduce", p.error());
        return false;
    }
    bool ok = true;
    for (int k = 0; k < 4; ++k) {
        if (std::string why; !input_file_ok(base + attributes[k].letter, abc_file_max, why)) {
            complain("reduce", "cannot read the matrix file " + why);
            ok = false;
            continue;
        }
        set.m[k] = read(base.c_str(), attributes[k].letter);
        if (!set.m[k]) {
            complain("reduce", "cannot read the matrix file " + base + attributes[k].letter);
            ok = false;
        }
    }
    return ok;
}

// Stores one matrix as its three attributes; false when the host refuses it.
bool store_matrix(ac_object obj, const Eigen::MatrixXd &m, const MatrixAttributes &a) {
    const int64_t count = int64_t{m.rows()} * m.cols();
    if (count > max_values || m.rows() > INT32_MAX || m.cols() > INT32_MAX) return false;
    // The host takes the terms row by row.
    const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> rows = m;
    return plexa_set_int(obj, a.rows, static_cast<int32_t>(m.rows())) &&
           plexa_set_int(obj, a.cols, static_cast<int32_t>(m.cols())) &&
           plexa_set_reals(obj, a.values, count > 0 ? rows.data() : nullptr,
                           static_cast<int32_t>(count));
}

ac_object model_object(const analysis::StateSpace &m) {
    ac_object obj = plexa_object_create(model_type, nullptr);
    const Eigen::MatrixXd *matrices[4] = {&m.a, &m.b, &m.c, &m.d};
    for (int k = 0; obj && k < 4; ++k)
        if (!store_matrix(obj, *matrices[k], attributes[k])) return nullptr;
    return obj;
}

const char *result_text(double result) {
    if (result == -1.0) return "the state matrices could not be fetched or their sizes disagree";
    if (result == -2.0) return "a file of the reduced set could not be written";
    if (result == -3.0) return "no state lies within the limit; nothing was written";
    return "unexpected result";
}

// The host function's failures by the exit statuses every command shares:
// matrices it cannot take, and no state kept, are the input's content; a
// file it cannot write is an output's fault.
int exit_status(double result) {
    return result == -2.0 ? exit_output : exit_data;
}

// Whether a member of the output set is a member of the input set, by the
// files themselves (links and other spellings of a name included).
bool overwrites_input(const std::string &in_base, const std::string &out_base) {
    for (char in : {'a', 'b', 'c', 'd'})
        for (char out : {'a', 'b', 'c', 'd'})
            if (in_base + in == out_base + out ||
                same_file((in_base + in).c_str(), (out_base + out).c_str()))
                return true;
    return false;
}

struct ReduceOptions {
    std::string in_base, out_base, plot;
    double limit = 0.0;
    bool drop_real = false, to_modal = false, static_correction = false;
};

// The model as the host function gets it: in modal form with exact blocks
// (brought there first with --to-modal), D residualised with
// --static-correction. The blocks say which states the writer keeps.
int prepare(const ReduceOptions &o, const analysis::StateSpace &full, analysis::StateSpace &work,
            std::vector<analysis::StateBlock> &blocks, nlohmann::json &summary) {
    work = full;
    analysis::ModalForm form = analysis::judge_modal_form(full.a);
    summary["modal_coordinates"] = false;
    if (!form.modal) {
        if (!o.to_modal) {
            complain("reduce", o.in_base + "a: A is not in modal form (" + form.why +
                                   "); --to-modal brings the model to modal coordinates first");
            return exit_data;
        }
        double condition = 0.0;
        std::string error;
        if (!analysis::to_modal(full, work, condition, error)) {
            complain("reduce", o.in_base + "a: " + error);
            return exit_data;
        }
        form = analysis::judge_modal_form(work.a);
        summary["modal_coordinates"] = true;
        summary["basis_condition"] = condition;
    }
    work.a = analysis::exact_modal_form(work.a, form.blocks);
    blocks = analysis::reduction_blocks(work.a, o.limit, o.drop_real ? 0.0 : 1.0);
    summary["static_correction"] = o.static_correction;
    if (o.static_correction) {
        std::string error;
        if (!analysis::static_correction(work, blocks, work.d, error)) {
            complain("reduce", "--static-correction: " + error);
            return exit_data;
        }
    }
    return 0;
}

bool read_back(Plugin &p, const std::string &base, analysis::StateSpace &m) {
    AbcSet set;
    if (!read_set(p, base, set)) return false;
    Eigen::MatrixXd *matrices[4] = {&m.a, &m.b, &m.c, &m.d};
    for (int k = 0; k < 4; ++k)
        *matrices[k] = dense_matrix(*set.m[k]);
    // An empty matrix file has no columns to tell.
    if (m.b.rows() == 0) m.b.resize(m.a.rows(), m.d.cols());
    if (m.c.cols() == 0) m.c.resize(m.d.rows(), m.a.rows());
    return true;
}

std::string percent_text(double v) {
    if (!std::isfinite(v)) return "without bound";
    char t[64];
    std::snprintf(t, sizeof t, "%.3g %%", 100.0 * v);
    return t;
}

bool draw(const std::string &file, const analysis::StateSpace &full,
          const analysis::StateSpace &reduced, const analysis::ReductionError &e,
          std::string &error) {
    analysis::ResponsePlot p;
    p.title = "input " + std::to_string(e.worst_input + 1) + " -> output " +
              std::to_string(e.worst_output + 1) + ": full and reduced model";
    p.first_label = "full model";
    p.second_label = "reduced model";
    // An ABC set alone names no units: the response is in the model's own.
    p.magnitude_label = "magnitude / (output per input, the model's units)";
    for (double f : e.grid) {
        if (!(f > 0.0)) continue;
        p.frequency_hz.push_back(f);
        p.first.push_back(analysis::frequency_response(full, f)(e.worst_output, e.worst_input));
        p.second.push_back(analysis::frequency_response(reduced, f)(e.worst_output, e.worst_input));
    }
    const std::string svg = analysis::response_plot_svg(p, error);
    if (svg.empty()) return false;
    OutputFile out;
    std::FILE *f = out.open(file.c_str());
    if (!f || std::fwrite(svg.data(), 1, svg.size(), f) != svg.size() || !out.commit()) {
        error = out.error();
        return false;
    }
    return true;
}

// Reads the written set back and reports how many states it kept, each
// pair and real state with its frequency, and what the reduction costs.
int report(Plugin &p, const ReduceOptions &o, const analysis::StateSpace &full,
           const std::vector<analysis::StateBlock> &blocks, nlohmann::json &summary, bool json) {
    analysis::StateSpace reduced;
    if (!read_back(p, o.out_base, reduced)) {
        complain("reduce", "written, but cannot read back " + o.out_base);
        return exit_output;
    }
    const auto kept = reduced.a.rows(), states = full.a.rows();
    const std::string &out = o.out_base;
    std::printf("wrote %sa, %sb, %sc, %sd: kept %ld of %ld states, dropped %ld%s%s\n", out.c_str(),
                out.c_str(), out.c_str(), out.c_str(), static_cast<long>(kept),
                static_cast<long>(states), static_cast<long>(states - kept),
                summary["modal_coordinates"].get<bool>() ? ", in modal coordinates" : "",
                o.static_correction ? ", with static correction" : "");
    nlohmann::json j_blocks = nlohmann::json::array();
    for (const analysis::StateBlock &b : blocks) {
        const double hz = std::abs(b.eigenvalue) / 6.28318530717958;
        std::printf("  %s %-12s %12.6g Hz  %s\n", b.size == 2 ? "pair" : "real",
                    (std::to_string(b.first + 1) +
                     (b.size == 2 ? "-" + std::to_string(b.first + 2) : std::string()))
                        .c_str(),
                    hz, b.kept ? "kept" : "dropped");
        j_blocks.push_back({{"states", b.size == 2 ? nlohmann::json{b.first + 1, b.first + 2}
                                                   : nlohmann::json{b.first + 1}},
                            {"frequency_hz", hz},
                            {"kept", b.kept}});
    }
    const analysis::ReductionError e = analysis::reduction_error(full, reduced, o.limit);
    nlohmann::json error = {
        {"static_gain_deviation",
         e.has_static ? nlohmann::json(e.static_gain_deviation) : nlohmann::json()},
        {"max_response_deviation", std::isfinite(e.max_response_deviation)
                                       ? nlohmann::json(e.max_response_deviation)
                                       : nlohmann::json("infinite")},
        {"worst_pair", nlohmann::json{e.worst_input + 1, e.worst_output + 1}},
        {"up_to_hz", e.grid.back()}};
    char up_to[32];
    std::snprintf(up_to, sizeof up_to, "%.6g", e.grid.back());
    std::printf("error of the reduction: static gain %s, responses up to %s Hz within %s of "
                "their peak (worst: input %ld -> output %ld)\n",
                e.has_static ? ("within " + percent_text(e.static_gain_deviation)).c_str()
                             : "not defined (A is singular)",
                up_to, percent_text(e.max_response_deviation).c_str(),
                static_cast<long>(e.worst_input + 1), static_cast<long>(e.worst_output + 1));
    int status = 0;
    if (!o.plot.empty()) {
        std::string why;
        if (draw(o.plot, full, reduced, e, why)) {
            std::printf("plot: %s\n", o.plot.c_str());
            summary["plot"] = o.plot;
        } else {
            complain("reduce", "cannot draw " + o.plot + ": " + why);
            status = exit_output;
        }
    }
    if (json) {
        nlohmann::json files = nlohmann::json::array();
        for (char l : {'a', 'b', 'c', 'd'})
            files.push_back(out + l);
        summary.update({{"kept", kept},
                        {"dropped", states - kept},
                        {"states", states},
                        {"blocks", j_blocks},
                        {"files", files},
                        {"reduction_error", error},
                        {"status", 1}});
        json_output::emit(summary);
    }
    return status;
}

} // namespace

int run_reduce(int argc, char **argv) {
    Parsed args;
    if (int status = parse_command_line(reduce_command(), argc, argv, args); status >= 0)
        return status;
    if (!args.has("max-frequency")) {
        complain("reduce", "needs --max-frequency HZ (0 for no limit)");
        return exit_usage;
    }
    ReduceOptions o;
    o.limit = args.real("max-frequency");
    o.drop_real = args.has("drop-real-states");
    o.to_modal = args.has("to-modal");
    o.static_correction = args.has("static-correction");
    o.in_base = args.words()[0];
    o.out_base = args.words()[1];
    if (o.drop_real && args.has("keep-real-states")) {
        complain("reduce", "--drop-real-states and --keep-real-states contradict each other");
        return exit_usage;
    }
    if (overwrites_input(o.in_base, o.out_base)) {
        complain("reduce",
                 "the output set " + o.out_base + " would replace its input set " + o.in_base);
        return exit_usage;
    }
    if (args.has("plot")) {
        o.plot = args.text("plot");
        std::vector<NamedFile> files;
        for (const char *letter : {"a", "b", "c", "d"})
            files.push_back({"the matrix file", o.in_base + letter});
        std::vector<NamedFile> outputs = {{"--plot", o.plot}};
        for (const char *letter : {"a", "b", "c", "d"})
            outputs.push_back({"the output matrix file", o.out_base + letter});
        if (!want_svg_name("reduce", "--plot", o.plot) || !outputs_apart("reduce", files, outputs))
            return exit_usage;
    }

    Session session;
    if (!start_session(session, "reduce", args.plugin())) return exit_no_plugin;
    auto write = session.function_as<plexa_object_file_reals_function>("STATEMAT_WRITE", 6);
    if (!write) {
        complain("reduce", session.error());
        return exit_no_plugin;
    }
    analysis::StateSpace full, work;
    if (!read_back(session.plugin(), o.in_base, full)) return exit_no_input;
    std::vector<analysis::StateBlock> blocks;
    nlohmann::json summary;
    if (const int status = prepare(o, full, work, blocks, summary); status != 0) {
        return status;
    }
    ac_object model = model_object(work);
    if (!model) {
        complain("reduce", "the host library refused the matrices of " + o.in_base);
        return exit_no_input;
    }
    double result = write(model, o.out_base.c_str(), o.limit, o.drop_real ? 0.0 : 1.0);
    std::fflush(stdout);
    if (result != 1.0) {
        complain("reduce",
                 "STATEMAT_WRITE failed (" + shortest(result) + "): " + result_text(result));
        json_output::emit({{"status", result}});
        return exit_status(result);
    }
    return report(session.plugin(), o, full, blocks, summary, args.json());
}

} // namespace sorvan::cli
