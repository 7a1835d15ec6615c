// sorvan view: draw the geometry the deck will draw.
#include "analysis/geometry_view.h"
#include "cli/check.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "frame/output_file.h"
#include "model_input/units.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sorvan::cli {

namespace {

// The converter's rim divisions when none is given.
constexpr int32_t wheel_divisions = 24;

const std::vector<OptionSpec> view_options = {
    {"svg", "FILE.svg", "the drawing to write", "required"},
    {"abc", "ABC_BASE",
     "the model's ABC set: its sizes are checked and the labels become the deck's GRID numbers",
     ""},
    {"labels", "", "write the node numbers and wheel names beside their points", "", Kind::flag},
    {"length-unit", "LABEL", "export length unit, as convert --length-unit", "METER", Kind::length},
};

const CommandSpec view_spec{
    "view",
    "MAP_FILE [--abc ABC_BASE] --svg FILE.svg [--labels] [--length-unit LABEL]",
    1,
    1,
    "MAP_FILE",
    &view_options,
    true,
    "Draws the stick figure the deck of MAP_FILE will carry, as the converter builds it in\n"
    "the export length unit: the graphic nodes, the elements between them, and each wheel\n"
    "with its rim of 24 divisions placed and turned by its three angles. Four views on one\n"
    "scale: front (looking along -x), side (along +y), top (along -z) and isometric, each\n"
    "with the model's axes and a scale bar; the title line gives the counts and the extent\n"
    "in the export unit, so a model drawn in the wrong unit or upside down shows at once.\n"
    "With --labels the nodes carry their numbers: the MAP file's node ids, or with --abc the\n"
    "GRID numbers the deck gives them (which depend on the number of states).",
    "Exit status: 0 written; 64 bad command line; 66 the MAP file or the ABC set cannot be\n"
    "read, are not regular files, are beyond their size limits or do not agree; 65 nothing to\n"
    "draw, a coordinate not finite or an extent beyond a double; 70 the command stopped\n"
    "(memory ran out); 73 the drawing cannot be written."};

} // namespace

const CommandSpec &view_command() {
    return view_spec;
}

int run_view(int argc, char **argv) {
    Parsed args;
    if (int status = parse_command_line(view_spec, argc, argv, args); status >= 0) return status;
    if (!args.has("svg")) {
        complain("view", "--svg FILE.svg names the drawing; it is required");
        return exit_usage;
    }
    const std::string &map_file = args.words()[0], svg_file = args.text("svg");
    if (!want_svg_name("view", "--svg", svg_file)) return exit_usage;
    std::vector<NamedFile> inputs = {{"MAP_FILE", map_file}};
    if (args.has("abc"))
        for (const char *letter : {"a", "b", "c", "d"})
            inputs.push_back({"the matrix file", args.text("abc") + letter});
    if (!outputs_apart("view", inputs, {{"--svg", svg_file}})) return exit_usage;
    const std::string unit =
        args.has("length-unit") ? units::canonical(args.text("length-unit")) : "METER";
    char label[64] = {};
    std::memcpy(label, unit.c_str(), std::min(unit.size(), sizeof label - 1));
    const double export_length = UNTconstant(label);

    MapRecord record;
    std::string error;
    if (!read_map_file(map_file, record, error)) {
        complain("view", error);
        return model_read_exit();
    }
    const MAPmodel &m = *record;
    if (!(m.unit_length > 0.0) || (m.n_wheel > 0 && !(m.unit_angle > 0.0))) {
        complain("view", map_file + ": the MAP file's units section names no length unit" +
                             std::string(m.n_wheel > 0 ? " or no angle unit" : "") +
                             ", so its coordinates have no size");
        return exit_no_input;
    }
    // The deck's GRID numbers, when the states are known: one identifier
    // after the last state stays unused, then the nodes, then per wheel its
    // centre and its rim.
    int64_t first_grid = 0;
    if (args.has("abc")) {
        analysis::StateSpace model;
        if (!read_abc_set(args.text("abc"), m, model, error)) {
            complain("view", error);
            return model_read_exit();
        }
        first_grid = int64_t{m.grid_id_offset} + m.n_input + m.n_output_all + model.a.rows() + 2;
    }

    analysis::Geometry g;
    g.length_unit = unit;
    g.title = map_file + " in " + unit;
    const double ul = m.unit_length;
    for (int32_t n = 0; n < m.n_node; ++n) {
        g.nodes.push_back({m.node_xyz[n][0] * ul / export_length,
                           m.node_xyz[n][1] * ul / export_length,
                           m.node_xyz[n][2] * ul / export_length});
        g.node_labels.push_back(std::to_string(first_grid ? first_grid + n : m.node_id[n]));
    }
    for (int32_t e = 0; e < m.n_element; ++e)
        g.elements.push_back({static_cast<std::size_t>(m.element[e].node1 - 1),
                              static_cast<std::size_t>(m.element[e].node2 - 1)});
    for (int32_t w = 0; w < m.n_wheel; ++w) {
        analysis::WheelShape shape = analysis::wheel_shape(m.wheel_geom[w], ul, m.unit_angle,
                                                           export_length, wheel_divisions);
        shape.label =
            first_grid
                ? std::to_string(first_grid + m.n_node + int64_t{w} * (2 * wheel_divisions + 1))
                : "wheel " + std::to_string(w + 1);
        g.wheels.push_back(std::move(shape));
    }
    const std::string svg = analysis::geometry_view_svg(g, args.has("labels"), error);
    if (svg.empty()) {
        complain("view", map_file + ": " + error);
        return exit_data;
    }
    OutputFile out;
    std::FILE *f = out.open(svg_file.c_str());
    if (!f || std::fwrite(svg.data(), 1, svg.size(), f) != svg.size() || !out.commit()) {
        complain("view", out.error());
        return exit_output;
    }
    if (args.json())
        json_output::emit({{"file", svg_file},
                           {"map_file", map_file},
                           {"length_unit", unit},
                           {"nodes", m.n_node},
                           {"elements", m.n_element},
                           {"wheels", m.n_wheel},
                           {"bytes", svg.size()}});
    else
        std::printf("wrote %s: %s, %s, %s in %s, four views\n", svg_file.c_str(),
                    counted(m.n_node, "node", "nodes").c_str(),
                    counted(m.n_element, "element", "elements").c_str(),
                    counted(m.n_wheel, "wheel", "wheels").c_str(), unit.c_str());
    return 0;
}

} // namespace sorvan::cli
