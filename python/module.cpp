// import sorvan: the models, decks, checks and roads of the command line as
// numpy arrays. The commands themselves run through run_json, so that every
// figure and every message is the command line's own.
#include "analysis/iri.h"
#include "analysis/state_space.h"
#include "cli/check.h"
#include "cli/commands.h"
#include "cli/model_info.h"
#include "cli/run_json.h"
#include "frame/host_api.h"
#include "frame/output_file.h"
#include "host/plexa_setup.h"
#include "model_input/abc.h"
#include "model_input/units.h"
#include "sorvan_view.h"

#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <numbers>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

namespace py = pybind11;
using nlohmann::json;
using sorvan::analysis::StateSpace;

namespace {

// A command or reader that refused: the message the command line prints.
class Refused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

// ---- JSON and Python -----------------------------------------------------------

py::object to_python(const json &j) {
    switch (j.type()) {
    case json::value_t::null:
        return py::none();
    case json::value_t::boolean:
        return py::bool_(j.get<bool>());
    case json::value_t::number_integer:
        return py::int_(j.get<long long>());
    case json::value_t::number_unsigned:
        return py::int_(j.get<unsigned long long>());
    case json::value_t::number_float:
        return py::float_(j.get<double>());
    case json::value_t::string:
        return py::str(j.get<std::string>());
    case json::value_t::array: {
        py::list list;
        for (const json &e : j)
            list.append(to_python(e));
        return list;
    }
    case json::value_t::object: {
        py::dict dict;
        for (auto it = j.begin(); it != j.end(); ++it)
            dict[py::str(it.key())] = to_python(it.value());
        return dict;
    }
    default:
        return py::none();
    }
}

// A keyword value as the word of a command line: numbers in their shortest
// exact form, a list joined by commas.
std::string word_of(py::handle value) {
    if (py::isinstance<py::str>(value)) return value.cast<std::string>();
    if (py::isinstance<py::float_>(value)) return py::repr(value).cast<std::string>();
    if (py::isinstance<py::int_>(value)) return py::str(value).cast<std::string>();
    if (py::isinstance<py::list>(value) || py::isinstance<py::tuple>(value)) {
        std::string words;
        for (py::handle e : value)
            words += (words.empty() ? "" : ",") + word_of(e);
        return words;
    }
    if (py::hasattr(value, "__fspath__")) return py::str(value).cast<std::string>();
    throw py::type_error("an option takes a number, a text or a list of them, not " +
                         py::repr(value).cast<std::string>());
}

// Keyword options as command-line options: length_unit=... gives
// --length-unit ...; True a flag; False and None leave the option out.
void add_options(std::vector<std::string> &words, const py::kwargs &options) {
    for (auto item : options) {
        std::string name = item.first.cast<std::string>();
        for (char &c : name)
            if (c == '_') c = '-';
        if (name == "cls") name = "class";
        py::handle value = item.second;
        if (value.is_none()) continue;
        if (py::isinstance<py::bool_>(value)) {
            if (value.cast<bool>()) words.push_back("--" + name);
            continue;
        }
        words.push_back("--" + name);
        words.push_back(word_of(value));
    }
}

std::string path_of(const py::object &file) {
    return py::str(file).cast<std::string>();
}

// The plug-in the commands load: plugin=, else $SORVAN_PLUGIN, else the one
// this module was built with.
std::string plugin_path(const py::object &plugin) {
    if (!plugin.is_none()) return path_of(plugin);
    if (const char *env = std::getenv("SORVAN_PLUGIN"); env && *env) return env;
    return SORVAN_PLUGIN_FILE;
}

// The lines printed before the command's own complaint ("sorvan COMMAND:
// ..."): the reader's or the plug-in's reason, joined by "; ".
std::string reason_printed(const std::string &printed) {
    std::string reason;
    std::size_t at = 0;
    while (at < printed.size()) {
        std::size_t end = printed.find('\n', at);
        if (end == std::string::npos) end = printed.size();
        std::string line = printed.substr(at, end - at);
        at = end + 1;
        if (line.rfind("sorvan ", 0) == 0) break;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (!line.empty()) reason += (reason.empty() ? "" : "; ") + line;
    }
    return reason;
}

// Runs a command and returns its envelope; a failure (not "ok") is raised
// with the command line's message and the reason printed before it, except
// a check that found a deviation (exit 1), whose report is the answer.
json run(const std::vector<std::string> &words) {
    json object;
    std::string printed;
    {
        py::gil_scoped_release unlocked;
        sorvan::cli::run_json(words, object, &printed);
    }
    if (object.is_object() && !object.value("ok", false) && object.value("exit", 0) != 1) {
        const json &e = object["error"];
        std::string message = e.is_string() ? e.get<std::string>() : e.dump();
        if (message.empty()) {
            // A complaint printed without being recorded (the plug-in not
            // loaded): its line, without the "sorvan COMMAND: ".
            const std::string head = "sorvan " + words[0] + ": ";
            if (std::size_t at = printed.find(head); at != std::string::npos) {
                at += head.size();
                message = printed.substr(at, printed.find('\n', at) - at);
            }
        }
        if (const std::string reason = reason_printed(printed);
            !reason.empty() && message.find(reason) == std::string::npos)
            message += " (" + reason + ")";
        throw Refused(message);
    }
    return object;
}

// ---- arrays ---------------------------------------------------------------------

py::array_t<double> to_numpy(const Eigen::MatrixXd &m) {
    py::array_t<double> a({static_cast<py::ssize_t>(m.rows()), static_cast<py::ssize_t>(m.cols())});
    auto v = a.mutable_unchecked<2>();
    for (Eigen::Index i = 0; i < m.rows(); ++i)
        for (Eigen::Index j = 0; j < m.cols(); ++j)
            v(i, j) = m(i, j);
    return a;
}

Eigen::MatrixXd to_eigen(const py::handle &object, const char *what) {
    Array a = Array::ensure(object);
    if (!a) throw py::type_error(std::string(what) + " is not an array of numbers");
    if (a.ndim() == 1) a = a.reshape({a.shape(0), py::ssize_t{1}});
    if (a.ndim() != 2) throw py::value_error(std::string(what) + " is not a matrix");
    Eigen::MatrixXd m(a.shape(0), a.shape(1));
    auto v = a.unchecked<2>();
    for (py::ssize_t i = 0; i < a.shape(0); ++i)
        for (py::ssize_t j = 0; j < a.shape(1); ++j)
            m(i, j) = v(i, j);
    return m;
}

// ---- ABC files --------------------------------------------------------------------

struct AbcDeleter {
    void operator()(ABCmtx *m) const { ABCfree(m); }
};

// The reader takes a base and a letter: base "run/car_" and 'a' read
// "run/car_a". A path is split before its last character.
py::array_t<double> read_abc(const py::object &file) {
    const std::string path = path_of(file);
    if (path.empty()) throw Refused("no ABC file named");
    const std::string base = path.substr(0, path.size() - 1);
    Eigen::MatrixXd m;
    std::string error;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> hold(sorvan::cli::command_lock());
        sorvan::cli::CapturedStdout said;
        std::unique_ptr<ABCmtx, AbcDeleter> x(ABCread_mtx(base.c_str(), path.back()));
        const std::string reason = said.text();
        if (x)
            m = sorvan::cli::dense_matrix(*x);
        else
            error = "cannot read " + path + (reason.empty() ? "" : " (" + reason + ")");
    }
    if (!error.empty()) throw Refused(error);
    return to_numpy(m);
}

// One matrix as the text of its ABC file.
std::string abc_text(const Eigen::MatrixXd &m, const char *what) {
    std::string text;
    char field[ABC_FIELD_WIDTH + 1];
    text.reserve(static_cast<std::size_t>(m.size()) * ABC_FIELD_WIDTH +
                 static_cast<std::size_t>(m.rows()));
    for (Eigen::Index i = 0; i < m.rows(); ++i) {
        for (Eigen::Index j = 0; j < m.cols(); ++j) {
            if (!std::isfinite(m(i, j)))
                throw py::value_error(std::string(what) + "[" + std::to_string(i) + ", " +
                                      std::to_string(j) + "] is not a finite number");
            ABCformat_value(m(i, j), field);
            text.append(field, ABC_FIELD_WIDTH);
        }
        text += '\n';
    }
    return text;
}

// Writes the files (name, text) whole, all of them or none.
void write_together(const std::vector<std::pair<std::string, std::string>> &files) {
    py::gil_scoped_release unlocked;
    std::vector<std::unique_ptr<sorvan::OutputFile>> outputs;
    std::vector<sorvan::OutputFile *> pointers;
    for (const auto &[name, text] : files) {
        outputs.push_back(std::make_unique<sorvan::OutputFile>());
        sorvan::OutputFile &out = *outputs.back();
        std::FILE *f = out.open(name.c_str());
        bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size() && out.finish();
        if (!ok) {
            throw Refused(out.error().empty() ? "cannot write " + name : out.error());
        }
        pointers.push_back(&out);
    }
    if (!commit_together(pointers)) {
        std::string error = "cannot write the files";
        for (auto *out : pointers)
            if (!out->error().empty()) error = out->error();
        throw Refused(error);
    }
}

void write_abc(const py::object &file, const py::handle &array) {
    const std::string path = path_of(file);
    const std::string text = abc_text(to_eigen(array, "the matrix"), "the matrix");
    write_together({{path, text}});
}

// ---- models -----------------------------------------------------------------------

const char *const unit_keys[] = {"length", "angle", "force", "mass", "time"};
const sorvan::units::Quantity unit_quantities[] = {
    sorvan::units::Quantity::length, sorvan::units::Quantity::angle, sorvan::units::Quantity::force,
    sorvan::units::Quantity::mass, sorvan::units::Quantity::time};

py::array_t<double> empty() {
    return py::array_t<double>(std::vector<py::ssize_t>{0, 0});
}

struct Model {
    py::object A = empty(), B = empty(), C = empty(), D = empty();
    py::list inputs, outputs, nodes, elements, wheels;
    py::dict units;
    long long grid_id_offset = 1000, element_id_offset = 2000;

    static Model read(const py::object &map_file, const py::object &abc_base);
    void write(const py::object &map_file, const py::object &abc_base) const;
    StateSpace state_space() const {
        return {to_eigen(A, "A"), to_eigen(B, "B"), to_eigen(C, "C"), to_eigen(D, "D")};
    }
};

py::list triple(const double *v, int n) {
    py::list list;
    for (int k = 0; k < n; ++k)
        list.append(v[k]);
    return list;
}

Model Model::read(const py::object &map_file, const py::object &abc_base) {
    const std::string map_name = path_of(map_file), base = path_of(abc_base);
    sorvan::cli::MapRecord record;
    StateSpace ss;
    std::string error;
    json j_inputs, j_outputs;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> hold(sorvan::cli::command_lock());
        if (sorvan::cli::read_map_file(map_name, record, error) &&
            sorvan::cli::read_abc_set(base, *record, ss, error))
            sorvan::cli::signal_tables(*record, j_inputs, j_outputs);
    }
    if (!error.empty()) throw Refused(error);
    const MAPmodel &m = *record;
    Model model;
    model.A = to_numpy(ss.a);
    model.B = to_numpy(ss.b);
    model.C = to_numpy(ss.c);
    model.D = to_numpy(ss.d);
    model.inputs = to_python(j_inputs);
    model.outputs = to_python(j_outputs);
    const double sizes[] = {m.unit_length, m.unit_angle, m.unit_force, m.unit_mass, m.unit_time};
    for (int k = 0; k < 5; ++k) {
        std::string label;
        double size = 0.0;
        if (sorvan::units::nearest_label(sizes[k], unit_quantities[k], label, size))
            model.units[unit_keys[k]] = label;
        else
            model.units[unit_keys[k]] = sizes[k];
    }
    for (int32_t n = 0; n < m.n_node; ++n) {
        py::dict node;
        node["id"] = m.node_id[n];
        node["position"] = triple(m.node_xyz[n], 3);
        node["outputs"] =
            py::make_tuple(m.node_out[n][0] + 1, m.node_out[n][1] + 1, m.node_out[n][2] + 1);
        model.nodes.append(node);
    }
    for (int32_t e = 0; e < m.n_element; ++e) {
        py::dict element;
        element["id"] = m.element[e].id;
        element["nodes"] = py::make_tuple(m.element[e].node1, m.element[e].node2);
        model.elements.append(element);
    }
    for (int32_t w = 0; w < m.n_wheel; ++w) {
        py::dict wheel;
        wheel["id"] = m.output[m.wheel_out[w][0]].id; // its rows measure the wheel's point
        wheel["position"] = triple(m.wheel_geom[w], 3);
        wheel["angles"] = triple(m.wheel_geom[w] + 3, 3);
        wheel["radius"] = m.wheel_geom[w][6];
        wheel["width"] = m.wheel_geom[w][7];
        py::list rows;
        for (int c = 0; c < 6; ++c)
            rows.append(m.wheel_out[w][c] + 1);
        wheel["outputs"] = py::tuple(rows);
        model.wheels.append(wheel);
    }
    model.grid_id_offset = m.grid_id_offset;
    model.element_id_offset = m.element_id_offset;
    return model;
}

// A number of a MAP table in its shortest exact form.
std::string number(double v) {
    if (!std::isfinite(v)) throw py::value_error("a MAP number is not finite");
    char t[32];
    auto r = std::to_chars(t, t + sizeof t, v);
    return std::string(t, r.ptr);
}

template <class T> T field(const py::handle &dict, const char *key, const char *what, size_t k) {
    try {
        return dict[py::str(key)].cast<T>();
    } catch (const py::error_already_set &) {
    } catch (const py::cast_error &) {
    }
    throw py::value_error(std::string(what) + " " + std::to_string(k + 1) + " lacks a valid \"" +
                          key + "\"");
}

template <class T>
std::vector<T> fields(const py::handle &dict, const char *key, const char *what, size_t k,
                      size_t n) {
    auto v = field<std::vector<T>>(dict, key, what, k);
    if (v.size() != n)
        throw py::value_error(std::string(what) + " " + std::to_string(k + 1) + ": \"" + key +
                              "\" holds " + std::to_string(v.size()) + " values, not " +
                              std::to_string(n));
    return v;
}

// A whole number of a MAP table, within lo to hi (a 32-bit field at most).
long long in_range(long long v, long long lo, long long hi, const char *what, size_t k,
                   const char *key) {
    if (v < lo || v > hi)
        throw py::value_error(std::string(what) + " " + std::to_string(k + 1) + ": \"" + key +
                              "\" holds " + std::to_string(v) + ", not " + std::to_string(lo) +
                              " to " + std::to_string(hi));
    return v;
}

long long id_field(const py::handle &dict, const char *key, const char *what, size_t k) {
    return in_range(field<long long>(dict, key, what, k), INT32_MIN, INT32_MAX, what, k, key);
}

void Model::write(const py::object &map_file, const py::object &abc_base) const {
    const StateSpace m = state_space();
    const Eigen::Index n = m.a.rows(), n_in = static_cast<Eigen::Index>(inputs.size());
    const Eigen::Index n_graphic =
        3 * static_cast<Eigen::Index>(nodes.size()) + 6 * static_cast<Eigen::Index>(wheels.size());
    const Eigen::Index n_out = m.c.rows() - n_graphic;
    auto size = [](const Eigen::MatrixXd &x, const char *name, Eigen::Index r, Eigen::Index c,
                   const char *why) {
        if (x.rows() != r || x.cols() != c)
            throw py::value_error(std::string(name) + " is " + std::to_string(x.rows()) + " x " +
                                  std::to_string(x.cols()) + ", not " + std::to_string(r) + " x " +
                                  std::to_string(c) + " (" + why + ")");
    };
    size(m.a, "A", n, n, "A is square");
    size(m.b, "B", n, n_in, "the states by the inputs");
    if (n_out < 1 || static_cast<Eigen::Index>(outputs.size()) < n_out)
        throw py::value_error(
            "C has " + std::to_string(m.c.rows()) + " rows: " + std::to_string(n_graphic) +
            " for the nodes and wheels and " + std::to_string(n_out) + " for the " +
            std::to_string(outputs.size()) + " outputs, at least one");
    size(m.c, "C", m.c.rows(), n, "the outputs by the states");
    size(m.d, "D", m.c.rows(), n_in, "the outputs by the inputs");
    if (n_in < 1) throw py::value_error("a model needs at least one input");

    std::ostringstream in_table, ext_table, out_table, node_table, element_table, wheel_table;
    int external = 0;
    for (size_t k = 0; k < inputs.size(); ++k) {
        const py::handle input = inputs[k];
        const std::string kind = field<std::string>(input, "kind", "input", k);
        if (kind == "external") {
            std::string name = field<std::string>(input, "name", "input", k);
            if (name.empty() || name.size() > MAP_NAME_SIZE - 2 ||
                name.find_first_of("\r\n") != std::string::npos)
                throw py::value_error("input " + std::to_string(k + 1) +
                                      ": an external input's name is one line of 1 to " +
                                      std::to_string(MAP_NAME_SIZE - 2) + " characters");
            ++external;
            ext_table << "  " << k + 1 << " $" << name << "\n" << external << "\n";
        } else if (kind == "internal") {
            if (external)
                throw py::value_error("input " + std::to_string(k + 1) +
                                      ": the external inputs are the last ones");
            in_table << "  " << k + 1 << " " << id_field(input, "point", "input", k) << " "
                     << in_range(field<long long>(input, "component", "input", k), 1, 6, "input", k,
                                 "component")
                     << "\n";
        } else {
            throw py::value_error("input " + std::to_string(k + 1) +
                                  ": kind is \"internal\" or \"external\", not \"" + kind + "\"");
        }
    }
    for (Eigen::Index k = 0; k < n_out; ++k) {
        const py::handle out = outputs[static_cast<size_t>(k)];
        const size_t i = static_cast<size_t>(k);
        const long long kind = id_field(out, "kind", "output", i);
        const long long component = kind == 1 || kind == 2
                                        ? in_range(field<long long>(out, "component", "output", i),
                                                   1, 6, "output", i, "component")
                                        : id_field(out, "component", "output", i);
        out_table << "  " << k + 1 << " " << id_field(out, "point", "output", i) << " " << component
                  << " " << kind << "\n";
    }
    for (size_t k = 0; k < nodes.size(); ++k) {
        const py::handle node = nodes[k];
        auto xyz = fields<double>(node, "position", "node", k, 3);
        auto rows = fields<long long>(node, "outputs", "node", k, 3);
        for (long long r : rows)
            in_range(r, 1, m.c.rows(), "node", k, "outputs");
        node_table << "  " << id_field(node, "id", "node", k);
        for (double v : xyz)
            node_table << " " << number(v);
        for (long long r : rows)
            node_table << " " << r;
        node_table << "\n";
    }
    for (size_t k = 0; k < elements.size(); ++k) {
        const py::handle element = elements[k];
        auto ends = fields<long long>(element, "nodes", "element", k, 2);
        for (long long e : ends)
            in_range(e, 1, static_cast<long long>(nodes.size()), "element", k, "nodes");
        element_table << "  " << id_field(element, "id", "element", k) << " " << ends[0] << " "
                      << ends[1] << "\n";
    }
    for (size_t k = 0; k < wheels.size(); ++k) {
        const py::handle wheel = wheels[k];
        wheel_table << "  " << id_field(wheel, "id", "wheel", k);
        for (double v : fields<double>(wheel, "position", "wheel", k, 3))
            wheel_table << " " << number(v);
        for (double v : fields<double>(wheel, "angles", "wheel", k, 3))
            wheel_table << " " << number(v);
        wheel_table << " " << number(field<double>(wheel, "radius", "wheel", k)) << " "
                    << number(field<double>(wheel, "width", "wheel", k));
        for (long long r : fields<long long>(wheel, "outputs", "wheel", k, 6))
            wheel_table << " " << in_range(r, 1, m.c.rows(), "wheel", k, "outputs");
        wheel_table << "\n";
    }

    std::ostringstream map;
    map << "[FILE_SUMMARY]\n"
        << "ABCD_INPUT_N = " << n_in << "\n"
        << "ABCD_OUTPUT_N = " << n_out << "\n"
        << "ABCD_EXTERNAL_N = " << external << "\n"
        << "GRAPHICS_ELEMENT_N = " << elements.size() << "\n"
        << "GRAPHICS_NODE_N = " << nodes.size() << "\n"
        << "WHEEL_GRAPHICS_N = " << wheels.size() << "\n"
        << "GRID_ID_OFFSET = " << grid_id_offset << "\n"
        << "ELEMENT_ID_OFFSET = " << element_id_offset << "\n"
        << "[UNITS]\n";
    const char *const defaults[] = {"METER", "RADIAN", "NEWTON", "KILOGRAM", "SECOND"};
    const char *const keys[] = {"LENGTH", "ANGLE", "FORCE", "MASS", "TIME"};
    for (int k = 0; k < 5; ++k) {
        std::string label = defaults[k];
        if (units.contains(unit_keys[k])) {
            py::object given = units[unit_keys[k]];
            if (!py::isinstance<py::str>(given))
                throw py::value_error(std::string("units[\"") + unit_keys[k] +
                                      "\"] is a unit label, such as \"" + defaults[k] + "\"");
            label = given.cast<std::string>();
        }
        sorvan::units::Quantity q;
        const std::string canonical = sorvan::units::canonical(label);
        if (canonical.empty() || !sorvan::units::quantity_of(label, &q) || q != unit_quantities[k])
            throw py::value_error("\"" + label + "\" is no " + unit_keys[k] + " unit");
        map << keys[k] << " = '" << canonical << "'\n";
    }
    map << "[STATE_SPACE_INPUT]\n{abcd_index   id  dof}\n"
        << in_table.str() << "[STATE_SPACE_OUTPUT]\n{abcd_index   id  dof kind}\n"
        << out_table.str() << "[STATE_SPACE_EXTERNAL_INPUT]\n{abcd_index  $name / external index}\n"
        << ext_table.str() << "[GRAPHICS]\n(NODES)\n{id      x      y      z    o1   o2   o3}\n"
        << node_table.str() << "(CONNECTIVITY)\n{id node1 node2}\n"
        << element_table.str()
        << "(WHEEL_GRAPHICS)\n{id x y z a1 a2 a3 radius width o1 o2 o3 o4 o5 o6}\n"
        << wheel_table.str();

    const std::string base = path_of(abc_base);
    write_together({{path_of(map_file), map.str()},
                    {base + "a", abc_text(m.a, "A")},
                    {base + "b", abc_text(m.b, "B")},
                    {base + "c", abc_text(m.c, "C")},
                    {base + "d", abc_text(m.d, "D")}});
}

// ---- analysis ---------------------------------------------------------------------

py::list modes(const py::object &model_or_a) {
    const py::object a =
        py::isinstance<Model>(model_or_a) ? model_or_a.cast<const Model &>().A : model_or_a;
    const Eigen::MatrixXd m = to_eigen(a, "A");
    std::vector<sorvan::analysis::Mode> found;
    {
        py::gil_scoped_release unlocked;
        // The dense solvers take one caller at a time.
        std::lock_guard<std::mutex> hold(sorvan::cli::command_lock());
        found = sorvan::analysis::modes(m);
    }
    py::list list;
    for (const auto &mode : found) {
        py::dict d;
        d["real_per_s"] = mode.eigenvalue.real();
        d["imag_rad_per_s"] = mode.eigenvalue.imag();
        d["oscillating"] = mode.oscillating;
        d["frequency_hz"] = mode.frequency_hz;
        d["damped_frequency_hz"] = std::fabs(mode.eigenvalue.imag()) / (2 * std::numbers::pi);
        d["damping_ratio"] = mode.damping_ratio;
        d["time_constant_s"] = std::isfinite(mode.time_constant)
                                   ? py::object(py::float_(mode.time_constant))
                                   : py::none();
        d["stable"] = mode.stable;
        list.append(d);
    }
    return list;
}

py::array_t<std::complex<double>> frequency_response(const Model &model, const py::handle &f) {
    const StateSpace m = model.state_space();
    Array frequencies = Array::ensure(f);
    if (!frequencies) throw py::type_error("the frequencies are not numbers");
    std::vector<double> hz(frequencies.data(), frequencies.data() + frequencies.size());
    const auto outputs = static_cast<py::ssize_t>(m.c.rows()),
               inputs = static_cast<py::ssize_t>(m.b.cols());
    if (m.a.rows() != m.a.cols() || m.b.rows() != m.a.rows() || m.c.cols() != m.a.rows() ||
        m.d.rows() != m.c.rows() || m.d.cols() != m.b.cols())
        throw py::value_error("A, B, C and D do not make one model");
    py::array_t<std::complex<double>> h({static_cast<py::ssize_t>(hz.size()), outputs, inputs});
    auto v = h.mutable_unchecked<3>();
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> hold(sorvan::cli::command_lock());
        const sorvan::analysis::ResponseEvaluator at(m);
        for (size_t k = 0; k < hz.size(); ++k) {
            const Eigen::MatrixXcd r = at.at(hz[k]);
            for (py::ssize_t i = 0; i < outputs; ++i)
                for (py::ssize_t j = 0; j < inputs; ++j)
                    v(static_cast<py::ssize_t>(k), i, j) = r(i, j);
        }
    }
    return h;
}

double iri(const py::handle &elevations, double interval) {
    Array z = Array::ensure(elevations);
    if (!z || z.ndim() != 1) throw py::value_error("the elevations are one track of numbers");
    std::vector<double> mm(static_cast<size_t>(z.size()));
    for (py::ssize_t k = 0; k < z.size(); ++k)
        mm[static_cast<size_t>(k)] = z.data()[k] * 1000.0;
    double index = 0.0;
    std::string error;
    bool ok;
    {
        py::gil_scoped_release unlocked;
        ok = sorvan::analysis::iri(mm.data(), mm.size(), interval, index, error);
    }
    if (!ok) throw py::value_error(error);
    return index;
}

// ---- commands -------------------------------------------------------------------------

py::object convert(const py::object &map_file, const py::object &abc_base, const py::object &plugin,
                   const py::kwargs &options) {
    std::vector<std::string> words = {"convert", path_of(map_file), path_of(abc_base), "--plugin",
                                      plugin_path(plugin)};
    add_options(words, options);
    return to_python(run(words));
}

py::object check(const py::object &bdf, const py::object &map_file, const py::object &abc_base,
                 const py::kwargs &options) {
    std::vector<std::string> words = {"check",           path_of(bdf), "--map",
                                      path_of(map_file), "--abc",      path_of(abc_base)};
    add_options(words, options);
    return to_python(run(words));
}

py::object ride(const py::object &map_file, const py::object &abc_base, const py::iterable &inputs,
                const py::object &plugin, const py::kwargs &options) {
    std::vector<std::string> words = {"ride", path_of(map_file), path_of(abc_base), "--plugin",
                                      plugin_path(plugin)};
    for (py::handle input : inputs) {
        words.push_back("--input");
        words.push_back(word_of(input));
    }
    add_options(words, options);
    return to_python(run(words));
}

// A folder of our own for the files a command writes on our behalf, gone
// with it.
class Scratch {
  public:
    Scratch() {
        std::random_device random;
        const auto root = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            auto p = root / ("sorvan-" + std::to_string(random()));
            if (std::filesystem::create_directory(p)) path_ = p;
        }
        if (path_.empty()) throw Refused("cannot make a temporary folder");
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const char *name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// The columns of a table the commands write (a header line, then numbers
// separated by commas), the first column (the distance) left out.
std::vector<std::vector<double>> table_columns(const std::string &file) {
    std::ifstream in(file);
    std::string line;
    std::vector<std::vector<double>> columns;
    if (!std::getline(in, line)) throw Refused("cannot read the table " + file);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        size_t column = 0;
        const char *p = line.data(), *end = p + line.size();
        while (p <= end) {
            const char *comma = std::find(p, end, ',');
            if (column > 0) {
                double v = 0.0;
                auto r = std::from_chars(p, comma, v);
                if (r.ec != std::errc() || r.ptr != comma)
                    throw Refused("the table " + file + " holds \"" + std::string(p, comma) + "\"");
                if (columns.size() < column) columns.resize(column);
                columns[column - 1].push_back(v);
            }
            ++column;
            p = comma + 1;
        }
    }
    return columns;
}

py::array_t<double> rows_of(const std::vector<std::vector<double>> &columns, double scale) {
    const size_t n = columns.empty() ? 0 : columns[0].size();
    py::array_t<double> a({static_cast<py::ssize_t>(columns.size()), static_cast<py::ssize_t>(n)});
    auto v = a.mutable_unchecked<2>();
    for (size_t c = 0; c < columns.size(); ++c) {
        if (columns[c].size() != n) throw Refused("the table's columns differ in length");
        for (size_t k = 0; k < n; ++k)
            v(static_cast<py::ssize_t>(c), static_cast<py::ssize_t>(k)) = columns[c][k] * scale;
    }
    return a;
}

py::tuple road(double length, double interval, int tracks, const py::object &seed,
               const py::object &cls, const py::object &target_iri, const py::object &plugin,
               const py::kwargs &options) {
    Scratch scratch;
    std::vector<std::string> words = {
        "road",     scratch.file("road.rsp"),    "--csv",      scratch.file("road.csv"),
        "--length", word_of(py::float_(length)), "--interval", word_of(py::float_(interval)),
        "--tracks", std::to_string(tracks),      "--plugin",   plugin_path(plugin)};
    if (!seed.is_none()) words.insert(words.end(), {"--seed", word_of(seed)});
    if (!cls.is_none()) words.insert(words.end(), {"--class", word_of(cls)});
    if (!target_iri.is_none()) words.insert(words.end(), {"--iri", word_of(target_iri)});
    add_options(words, options);
    json summary = run(words);
    // The table holds the very tracks in millimetres, each number exact.
    std::vector<std::vector<double>> columns;
    {
        py::gil_scoped_release unlocked;
        columns = table_columns(scratch.file("road.csv"));
    }
    summary.erase("file");
    summary.erase("files");
    return py::make_tuple(rows_of(columns, 1e-3), to_python(summary));
}

py::object read_profile(const py::object &file) {
    Scratch scratch;
    json summary = run({"profile", path_of(file), "--csv", scratch.file("profile.csv")});
    std::vector<std::vector<double>> columns;
    {
        py::gil_scoped_release unlocked;
        columns = table_columns(scratch.file("profile.csv"));
    }
    summary.erase("files");
    py::dict result = to_python(summary);
    py::list channels = result["channels"];
    if (channels.size() != columns.size())
        throw Refused("the table of " + path_of(file) + " does not hold every channel");
    py::array_t<double> values = rows_of(columns, 1.0);
    for (size_t c = 0; c < channels.size(); ++c)
        channels[c]["values"] = values[py::int_(c)].attr("copy")();
    return result;
}

void write_rpc3(const py::object &file, const py::handle &channels, double interval,
                const py::object &labels, const std::string &unit, bool floating) {
    Eigen::MatrixXd data = to_eigen(channels, "the channels");
    Array as_given = Array::ensure(channels);
    if (as_given && as_given.ndim() == 1) data.transposeInPlace();
    const auto n_channels = static_cast<int32_t>(data.rows()),
               points = static_cast<int32_t>(data.cols());
    std::vector<std::string> names;
    if (!labels.is_none()) names = labels.cast<std::vector<std::string>>();
    for (int32_t c = static_cast<int32_t>(names.size()); c < n_channels; ++c)
        names.push_back("channel " + std::to_string(c + 1));
    if (static_cast<int32_t>(names.size()) != n_channels)
        throw py::value_error("one label per channel");
    const std::string path = path_of(file);
    int32_t error = 0;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> hold(sorvan::cli::command_lock());
        ac_dur_initialize();
        plexa_rpc_set_data_type(floating ? PLEXA_RPC_FLOATING_POINT : PLEXA_RPC_SHORT_INTEGER);
        ac_dur_rpc handle = ac_dur_rpc_create(path.c_str(), n_channels, points, interval, &error);
        std::vector<double> row;
        for (int32_t c = 0; handle && c < n_channels && !error; ++c) {
            row.assign(data.row(c).begin(), data.row(c).end());
            error = ac_dur_rpc_putchannel(handle, c + 1, points, row.data(),
                                          names[static_cast<size_t>(c)].c_str(), unit.c_str());
        }
        if (handle) {
            const int32_t closed = ac_dur_rpc_writeclose(handle);
            if (!error) error = closed;
        }
        plexa_rpc_set_data_type(PLEXA_RPC_SHORT_INTEGER);
        ac_dur_terminate();
    }
    if (error) {
        char text[AC_DUR_ERROR_SIZE];
        ac_dur_rpc_geterror(error, text);
        throw Refused("cannot write " + path + ": " + text);
    }
}

} // namespace

PYBIND11_MODULE(sorvan, m) {
    m.doc() = "Linear vehicle models, bulk data decks, their checks and road profiles "
              "as numpy arrays.";
    py::register_exception<Refused>(m, "Error", PyExc_RuntimeError);

    py::class_<Model>(m, "Model",
                      "A linear model dx/dt = A x + B u, y = C x + D u with its MAP description.")
        .def(py::init([](const py::object &a, const py::object &b, const py::object &c,
                         const py::object &d, const py::list &inputs, const py::list &outputs,
                         const py::object &units, const py::list &nodes, const py::list &elements,
                         const py::list &wheels) {
                 Model model;
                 model.A = Array::ensure(a);
                 model.B = Array::ensure(b);
                 model.C = Array::ensure(c);
                 model.D = Array::ensure(d);
                 if (!model.A || !model.B || !model.C || !model.D)
                     throw py::type_error("A, B, C and D are arrays of numbers");
                 model.inputs = inputs;
                 model.outputs = outputs;
                 if (!units.is_none()) model.units = py::dict(units);
                 model.nodes = nodes;
                 model.elements = elements;
                 model.wheels = wheels;
                 return model;
             }),
             py::arg("A"), py::arg("B"), py::arg("C"), py::arg("D"), py::arg("inputs"),
             py::arg("outputs"), py::arg("units") = py::none(), py::arg("nodes") = py::list(),
             py::arg("elements") = py::list(), py::arg("wheels") = py::list())
        .def_readwrite("A", &Model::A)
        .def_readwrite("B", &Model::B)
        .def_readwrite("C", &Model::C)
        .def_readwrite("D", &Model::D)
        .def_readwrite("inputs", &Model::inputs)
        .def_readwrite("outputs", &Model::outputs)
        .def_readwrite("units", &Model::units)
        .def_readwrite("nodes", &Model::nodes)
        .def_readwrite("elements", &Model::elements)
        .def_readwrite("wheels", &Model::wheels)
        .def_readwrite("grid_id_offset", &Model::grid_id_offset)
        .def_readwrite("element_id_offset", &Model::element_id_offset)
        .def_static("read", &Model::read, py::arg("map_file"), py::arg("abc_base"),
                    "Reads a MAP file and its ABC set.")
        .def("write", &Model::write, py::arg("map_file"), py::arg("abc_base"),
             "Writes the MAP file and the ABC set, all five files or none.");

    m.def("read_abc", &read_abc, py::arg("path"), "One ABC matrix file as an array.");
    m.def("write_abc", &write_abc, py::arg("path"), py::arg("array"),
          "Writes an array as an ABC matrix file (every double exactly).");
    m.def("modes", &modes, py::arg("model_or_A"), "The modes of A, as sorvan info gives them.");
    m.def("frequency_response", &frequency_response, py::arg("model"), py::arg("f_hz"),
          "C (sI - A)^-1 B + D at s = 2 pi i f: (frequencies, outputs, inputs), complex.");
    m.def("iri", &iri, py::arg("elevations_m"), py::arg("interval_m"),
          "International Roughness Index (m/km) of one track of elevations in metres.");
    m.def("convert", &convert, py::arg("map_file"), py::arg("abc_base"), py::kw_only(),
          py::arg("plugin") = py::none(),
          "sorvan convert: the deck, as convert --json reports it.");
    m.def("check", &check, py::arg("bdf"), py::arg("map_file"), py::arg("abc_base"),
          "sorvan check: a deck against its model, as check --json reports it.");
    m.def("ride", &ride, py::arg("map_file"), py::arg("abc_base"), py::arg("inputs"), py::kw_only(),
          py::arg("plugin") = py::none(),
          "sorvan ride: the model over a road at a speed, as ride --json reports it; inputs "
          "are the --input words NAME=TRACK@OFFSET.");
    m.def("road", &road, py::arg("length_m"), py::arg("interval_m"), py::arg("tracks") = 1,
          py::arg("seed") = py::none(), py::arg("cls") = py::none(), py::arg("iri") = py::none(),
          py::kw_only(), py::arg("plugin") = py::none(),
          "Random road tracks (metres, shape (tracks, samples)) and their summary as sorvan road "
          "--json reports it.");
    m.def("read_profile", &read_profile, py::arg("path"),
          "A road profile (RPC III or CSV) as sorvan profile --json reports it, each channel with "
          "its values.");
    m.def("write_rpc3", &write_rpc3, py::arg("path"), py::arg("channels"), py::arg("interval_m"),
          py::arg("labels") = py::none(), py::arg("unit") = "mm", py::arg("floating") = false,
          "Writes channels (one row each) as an RPC III time history.");
}
