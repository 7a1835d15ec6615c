// sorvan info: what is in a model: inputs, outputs, states and modes.
#include "cli/model_info.h"
#include "analysis/reduction.h"
#include "analysis/state_space.h"
#include "cli/check.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "model_input/units.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace sorvan::cli {

namespace {

const std::vector<OptionSpec> info_options = {
    {"max-frequency", "HZ",
     "also say which state pairs reduce keeps with this limit; 0 keeps every pair", "", Kind::real,
     0, 1e308},
};

const CommandSpec info_spec{
    "info",
    "MAP_FILE ABC_BASE [--max-frequency HZ] [--json]",
    2,
    2,
    "MAP_FILE and ABC_BASE",
    &info_options,
    true,
    "Reads the model (the MAP file and the ABC set ABC_BASEa to ABC_BASEd) and prints its\n"
    "inputs (point, component, the name of an external one), its outputs (the displacement\n"
    "or velocity a coupling acts on, or the node or wheel a graphic output moves), the number\n"
    "of states, whether A is in the real modal form reduce takes (and which term breaks it),\n"
    "and every mode: an oscillating pair with its eigenvalue, natural frequency and damping\n"
    "ratio, a real state with its time constant. A mode with a positive real part is flagged\n"
    "UNSTABLE, a pair on the imaginary axis undamped, a zero eigenvalue integrator. With\n"
    "--max-frequency the modes show whether reduce would keep them (with --to-modal when A\n"
    "is not in modal form): a pair or a real state is kept when the modulus of its\n"
    "eigenvalue is at most 2 pi HZ.",
    "Exit status: 0 printed; 64 bad command line; 66 the MAP file or the ABC set cannot be read,\n"
    "are not regular files, are beyond their size limits or do not agree; 70 the command\n"
    "stopped (memory ran out)."};

const char *component_name(int32_t dof) {
    static const char *const names[] = {"x", "y", "z", "rx", "ry", "rz"};
    return dof >= 1 && dof <= 6 ? names[dof - 1] : "?";
}

std::string g(double v, const char *format = "%.6g") {
    char t[64];
    std::snprintf(t, sizeof t, format, v);
    return t;
}

// A MAP unit by its canonical label, or by its size in SI units when the
// vocabulary has none of that size.
std::string map_unit(double size, units::Quantity quantity, const char *si) {
    std::string label;
    double constant = 0.0;
    return units::nearest_label(size, quantity, label, constant) ? label : g(size) + " " + si;
}

// What a signal of the model is measured in. The model's own rotations are
// in radians; a quantity the MAP file does not name (an external input, an
// output of another kind) is in the MAP file's units of its kind.
const char *const model_own_unit = "MAP units";

std::string input_unit(const MAPmodel &m, int32_t k) {
    if (k >= m.n_input - m.n_external) return model_own_unit;
    const std::string force = map_unit(m.unit_force, units::Quantity::force, "N");
    if (m.input[k].dof <= 3) return force;
    return force + "*" + map_unit(m.unit_length, units::Quantity::length, "m");
}

std::string output_unit(const MAPmodel &m, int32_t dof, int32_t kind, bool graphic) {
    if (!graphic && kind != 1 && kind != 2) return model_own_unit;
    std::string u = dof > 3 ? "RADIAN" : map_unit(m.unit_length, units::Quantity::length, "m");
    if (!graphic && kind == 2) u += "/" + map_unit(m.unit_time, units::Quantity::time, "s");
    return u;
}

// What each output row is: the graphic rows by the node or wheel line that
// names them, the others by their kind.
struct OutputRow {
    int32_t point, component, kind;
    std::string what;
    bool graphic = false;
};

std::vector<OutputRow> output_rows(const MAPmodel &m) {
    std::vector<OutputRow> rows;
    for (int32_t j = 0; j < m.n_output_all; ++j) {
        const MAPsignal &o = m.output[j];
        std::string what = o.kind == 1   ? "coupling displacement"
                           : o.kind == 2 ? "coupling velocity"
                                         : "kind " + std::to_string(o.kind) + ", no coupling";
        rows.push_back({o.id, o.dof, o.kind, what});
    }
    for (int32_t n = 0; n < m.n_node; ++n)
        for (int c = 0; c < 3; ++c) {
            OutputRow &row = rows[static_cast<std::size_t>(m.node_out[n][c])];
            row.what = "node " + std::to_string(m.node_id[n]);
            row.graphic = true;
        }
    for (int32_t w = 0; w < m.n_wheel; ++w)
        for (int c = 0; c < 6; ++c) {
            OutputRow &row = rows[static_cast<std::size_t>(m.wheel_out[w][c])];
            row.what = "wheel " + std::to_string(w + 1);
            row.graphic = true;
        }
    return rows;
}

std::string external_name(const MAPmodel &m, int32_t e) {
    std::string name = m.ext_name[e];
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
        name.pop_back();
    return name;
}

// The state matrix in the real modal coordinates reduce --to-modal gives,
// from the eigenvalues alone: a 2 x 2 block [[s, w], [-w, s]] a pair, a
// real state on the diagonal. Its blocks carry the eigenvalues the
// writer's limit is applied to.
Eigen::MatrixXd modal_matrix(const std::vector<analysis::Mode> &modes) {
    Eigen::Index n = 0;
    for (const analysis::Mode &m : modes)
        n += m.oscillating ? 2 : 1;
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(n, n);
    Eigen::Index j = 0;
    for (const analysis::Mode &m : modes) {
        const double s = m.eigenvalue.real(), w = std::abs(m.eigenvalue.imag());
        if (m.oscillating) {
            a.block(j, j, 2, 2) << s, w, -w, s;
            j += 2;
        } else {
            a(j, j) = s;
            ++j;
        }
    }
    return a;
}

// Whether reduce keeps the mode: the block of the writer's walk whose
// eigenvalue is nearest.
bool kept(const std::vector<analysis::StateBlock> &blocks, const analysis::Mode &mode) {
    const int size = mode.oscillating ? 2 : 1;
    double best = std::numeric_limits<double>::infinity();
    bool result = true;
    for (const analysis::StateBlock &b : blocks)
        if (b.size == size && std::abs(b.eigenvalue - mode.eigenvalue) < best) {
            best = std::abs(b.eigenvalue - mode.eigenvalue);
            result = b.kept;
        }
    return result;
}

// What a mode's eigenvalue says of the motion: a positive real part grows,
// one on the imaginary axis neither grows nor decays (a pair oscillates
// undamped, a zero eigenvalue integrates its input). The axis is as wide as
// the solver's rounding: a few units in the last place of the largest
// eigenvalue.
enum class Behaviour { stable, undamped, integrator, unstable };

Behaviour behaviour(const analysis::Mode &mode, double largest) {
    const double axis = 64 * std::numeric_limits<double>::epsilon() * largest;
    const double re = mode.eigenvalue.real();
    if (re > axis) return Behaviour::unstable;
    if (re >= -axis) return mode.oscillating ? Behaviour::undamped : Behaviour::integrator;
    return Behaviour::stable;
}

const char *behaviour_name(Behaviour b) {
    const char *names[] = {"stable", "undamped", "integrator", "unstable"};
    return names[static_cast<int>(b)];
}

// The flag beside a mode in the table: none for a decaying one.
std::string behaviour_flag(Behaviour b) {
    if (b == Behaviour::stable) return "";
    return b == Behaviour::unstable ? "  UNSTABLE" : std::string("  ") + behaviour_name(b);
}

// Four decimals where they show the size of the figure, its six significant
// digits and exponent otherwise (never a fixed-point text of 60 digits).
std::string figure(double v) {
    const double a = std::fabs(v);
    return a == 0.0 || (a >= 1e-3 && a < 1e6) ? g(v, "%.4f") : g(v, "%.6g");
}

} // namespace

std::string input_caption(const MAPmodel &m, int32_t k, std::string &unit) {
    unit = input_unit(m, k);
    const int32_t internal = m.n_input - m.n_external;
    std::string text = "input " + std::to_string(k + 1);
    if (k >= internal) return text + " " + external_name(m, k - internal);
    return text + ", point " + std::to_string(m.input[k].id) + " " + component_name(m.input[k].dof);
}

std::string output_caption(const MAPmodel &m, int32_t k, std::string &unit) {
    const OutputRow row = output_rows(m)[static_cast<std::size_t>(k)];
    unit = output_unit(m, row.component, row.kind, row.graphic);
    return "output " + std::to_string(k + 1) + ", point " + std::to_string(row.point) + " " +
           component_name(row.component) + " (" + row.what + ")";
}

void signal_tables(const MAPmodel &m, nlohmann::json &j_inputs, nlohmann::json &j_outputs) {
    const std::vector<OutputRow> outputs = output_rows(m);
    const int32_t internal = m.n_input - m.n_external;
    j_inputs = nlohmann::json::array();
    j_outputs = nlohmann::json::array();
    for (int32_t k = 0; k < m.n_input; ++k) {
        if (k < internal)
            j_inputs.push_back({{"index", k + 1},
                                {"kind", "internal"},
                                {"point", m.input[k].id},
                                {"component", m.input[k].dof},
                                {"unit", input_unit(m, k)}});
        else
            j_inputs.push_back({{"index", k + 1},
                                {"kind", "external"},
                                {"name", external_name(m, k - internal)},
                                {"unit", input_unit(m, k)}});
    }
    for (std::size_t k = 0; k < outputs.size(); ++k)
        j_outputs.push_back(
            {{"index", k + 1},
             {"point", outputs[k].point},
             {"component", outputs[k].component},
             {"kind", outputs[k].kind},
             {"what", outputs[k].what},
             {"unit", output_unit(m, outputs[k].component, outputs[k].kind, outputs[k].graphic)}});
}

const CommandSpec &info_command() {
    return info_spec;
}

int run_info(int argc, char **argv) {
    Parsed args;
    if (int status = parse_command_line(info_spec, argc, argv, args); status >= 0) return status;
    const std::string &map_file = args.words()[0], &abc_base = args.words()[1];
    MapRecord record;
    analysis::StateSpace model;
    if (int status = read_model("info", map_file, abc_base, record, model)) return status;
    const MAPmodel &m = *record;
    std::vector<analysis::Mode> modes;
    try {
        modes = analysis::modes(model.a);
    } catch (const std::exception &e) {
        complain("info", abc_base + "a: " + e.what());
        return exit_no_input;
    }
    const bool limited = args.has("max-frequency");
    const double limit = limited ? args.real("max-frequency") : 0.0;
    // What reduce would keep: the blocks of the modal form, or of the modal
    // coordinates --to-modal gives.
    const analysis::ModalForm form = analysis::judge_modal_form(model.a);
    const bool modal = form.modal;
    std::vector<analysis::StateBlock> blocks;
    if (limited)
        blocks = analysis::reduction_blocks(modal ? analysis::exact_modal_form(model.a, form.blocks)
                                                  : modal_matrix(modes),
                                            limit, 1.0);
    const std::vector<OutputRow> outputs = output_rows(m);
    const int32_t internal = m.n_input - m.n_external;

    nlohmann::json j_inputs, j_outputs, j_modes = nlohmann::json::array();
    signal_tables(m, j_inputs, j_outputs);
    double largest = 0.0;
    for (const analysis::Mode &mode : modes)
        largest = std::max(largest, std::abs(mode.eigenvalue));
    for (const analysis::Mode &mode : modes) {
        const Behaviour b = behaviour(mode, largest);
        nlohmann::json j = {
            {"real_per_s", mode.eigenvalue.real()},
            {"imag_rad_per_s", mode.eigenvalue.imag()},
            {"oscillating", mode.oscillating},
            {"frequency_hz", mode.frequency_hz},
            {"damped_frequency_hz", std::abs(mode.eigenvalue.imag()) / (2.0 * std::numbers::pi)},
            {"damping_ratio", mode.damping_ratio},
            {"time_constant_s", std::isfinite(mode.time_constant)
                                    ? nlohmann::json(mode.time_constant)
                                    : nlohmann::json()},
            {"stable", b == Behaviour::stable},
            {"behaviour", behaviour_name(b)}};
        if (limited) j["kept"] = kept(blocks, mode);
        j_modes.push_back(j);
    }
    if (args.json()) {
        nlohmann::json j = {{"map_file", map_file},
                            {"abc_base", abc_base},
                            {"states", model.a.rows()},
                            {"inputs", j_inputs},
                            {"outputs", j_outputs},
                            {"modal_form", modal},
                            {"modal_form_broken_by", form.why},
                            {"modes", j_modes}};
        if (limited) j["max_frequency_hz"] = limit;
        json_output::emit(j);
        return 0;
    }

    std::printf(
        "model %s with %s: %s, %s (%d internal, %d external), %s (%d state-space, %s, "
        "%s)\n",
        map_file.c_str(), abc_base.c_str(), counted(model.a.rows(), "state", "states").c_str(),
        counted(m.n_input, "input", "inputs").c_str(), internal, m.n_external,
        counted(m.n_output_all, "output", "outputs").c_str(), m.n_output,
        counted(m.n_node, "node", "nodes").c_str(), counted(m.n_wheel, "wheel", "wheels").c_str());
    std::printf("MAP units: length %s m, angle %s rad, force %s N, mass %s kg, time %s s\n",
                g(m.unit_length).c_str(), g(m.unit_angle).c_str(), g(m.unit_force).c_str(),
                g(m.unit_mass).c_str(), g(m.unit_time).c_str());
    std::printf("A deck keeps the model's inputs, outputs and states in these units (a road "
                "input of a metre deck of a millimetre model is in millimetres); only the "
                "structure and the coupling are in the export units.\n");
    std::printf("\ninputs\n  %5s  %8s  %-9s  %-8s  %-20s  %s\n", "index", "point", "component",
                "kind", "unit", "name");
    for (int32_t k = 0; k < m.n_input; ++k) {
        if (k < internal)
            std::printf("  %5d  %8d  %-9s  %-8s  %s\n", k + 1, m.input[k].id,
                        component_name(m.input[k].dof), "internal", input_unit(m, k).c_str());
        else
            std::printf("  %5d  %8s  %-9s  %-8s  %-20s  %s\n", k + 1, "", "", "external",
                        input_unit(m, k).c_str(), external_name(m, k - internal).c_str());
    }
    std::printf("\noutputs\n  %5s  %8s  %-9s  %-20s  %s\n", "index", "point", "component", "unit",
                "what");
    for (std::size_t k = 0; k < outputs.size(); ++k)
        std::printf(
            "  %5zu  %8d  %-9s  %-20s  %s\n", k + 1, outputs[k].point,
            component_name(outputs[k].component),
            output_unit(m, outputs[k].component, outputs[k].kind, outputs[k].graphic).c_str(),
            outputs[k].what.c_str());
    std::printf("\nstates: %ld; A is %s\n", static_cast<long>(model.a.rows()),
                modal ? "in modal form (reduce limits its pairs and real states)"
                      : ("not in modal form: " + form.why +
                         " (reduce refuses it; reduce --to-modal brings it to modal coordinates)")
                            .c_str());
    std::printf("\nmodes (f: the undamped natural frequency |lambda| / 2 pi; f_d: the damped one, "
                "|Im lambda| / 2 pi)\n  %4s  %-30s  %10s  %10s  %8s  %s\n",
                "mode", "eigenvalue / (1/s)", "f / Hz", "f_d / Hz", "damping",
                limited ? ("reduce --max-frequency " + g(limit)).c_str() : "");
    int number = 0;
    for (const analysis::Mode &mode : modes) {
        if (!mode.oscillating) continue;
        const std::string eig =
            g(mode.eigenvalue.real(), "%.6g") + " +- " + g(mode.eigenvalue.imag(), "%.6g") + "i";
        std::printf("  %4d  %-30s  %10s  %10s  %8s  %s%s\n", ++number, eig.c_str(),
                    figure(mode.frequency_hz).c_str(),
                    figure(std::abs(mode.eigenvalue.imag()) / (2.0 * std::numbers::pi)).c_str(),
                    figure(mode.damping_ratio).c_str(),
                    limited ? (kept(blocks, mode) ? "kept" : "dropped") : "",
                    behaviour_flag(behaviour(mode, largest)).c_str());
    }
    if (number == 0) std::printf("  (no oscillating pairs)\n");
    std::printf("\nreal states\n  %4s  %-30s  %16s  %s\n", "mode", "eigenvalue / (1/s)",
                "time constant / s", limited ? "reduce" : "");
    int reals = 0;
    for (const analysis::Mode &mode : modes) {
        if (mode.oscillating) continue;
        ++reals;
        std::printf(
            "  %4d  %-30s  %16s  %s%s\n", number + reals, g(mode.eigenvalue.real()).c_str(),
            std::isfinite(mode.time_constant) ? g(mode.time_constant).c_str() : "infinite",
            limited ? (kept(blocks, mode) ? "kept (dropped with --drop-real-states)" : "dropped")
                    : "",
            behaviour_flag(behaviour(mode, largest)).c_str());
    }
    if (reals == 0) std::printf("  (none)\n");
    return 0;
}

} // namespace sorvan::cli
