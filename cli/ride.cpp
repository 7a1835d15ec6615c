// sorvan ride: the model driven by a road at a speed. Each external input
// named on the command line follows a track of the road, delayed by its
// offset over the speed; the model is stepped in time and every output
// chosen is reported with its RMS and peak and, for a displacement, the
// acceleration the model gives, weighted for comfort.
#include "analysis/ride.h"
#include "analysis/comfort.h"
#include "analysis/iri.h"
#include "analysis/moments.h"
#include "analysis/profile_table.h"
#include "analysis/ride_plot.h"
#include "analysis/road_class.h"
#include "analysis/rpc3_file.h"
#include "cli/check.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/session.h"

#include "frame/output_file.h"
#include "model_input/units.h"
#include "sorvan_view.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace sorvan::cli {

namespace {

constexpr double default_rate = 400.0;          // Hz: four samples a period at 100 Hz
constexpr double synthesised_length = 1000.0;   // m of road ahead of the last axle
constexpr double synthesised_interval = 0.1;    // m
constexpr double synthesised_corr_length = 2.0; // m, as road's default

// One --input: the external input, its track and its offset.
struct InputMap {
    std::string name, track;
    double offset = 0.0;     // m
    Eigen::Index column = 0; // of B and D
    std::size_t channel = 0; // of the road
};

struct RoadSpec {
    std::string file;
    char road_class = 0; // class:X
    double iri = 0.0;    // iri:Y, m/km; 0 for none
};

bool parse_real(const std::string &text, double &v) {
    const char *end = text.data() + text.size();
    auto r = std::from_chars(text.data(), end, v);
    return r.ec == std::errc() && r.ptr == end && std::isfinite(v);
}

bool parse_inputs(const std::vector<std::string> &specs, std::vector<InputMap> &out) {
    for (const std::string &s : specs) {
        const std::size_t eq = s.find('='), at = s.rfind('@');
        InputMap m;
        if (eq == std::string::npos || at == std::string::npos || at < eq || eq == 0 ||
            at == eq + 1 || !parse_real(s.substr(at + 1), m.offset)) {
            complain("ride",
                     "--input needs NAME=TRACK@OFFSET (OFFSET in metres), not \"" + s + "\"");
            return false;
        }
        m.name = s.substr(0, eq);
        m.track = s.substr(eq + 1, at - eq - 1);
        for (const InputMap &o : out)
            if (o.name == m.name) {
                complain("ride", "--input names the input \"" + m.name + "\" twice");
                return false;
            }
        out.push_back(m);
    }
    return true;
}

bool parse_road(const std::string &text, RoadSpec &r) {
    if (text.rfind("class:", 0) != 0) {
        r.file = text;
        return true;
    }
    const std::string rest = text.substr(6), cls = rest.substr(0, rest.find(','));
    const std::string tail = rest.size() > cls.size() ? rest.substr(cls.size() + 1) : "";
    const bool iri_ok = tail.empty() || (tail.rfind("iri:", 0) == 0 &&
                                         parse_real(tail.substr(4), r.iri) && r.iri > 0.0);
    if (cls.size() != 1 || analysis::class_density(cls[0]) == 0.0 || !iri_ok ||
        (!tail.empty() && rest.size() == cls.size())) {
        complain("ride", "--road class:X needs a class A to H and may add ,iri:M_PER_KM (more "
                         "than 0), not \"" +
                             text + "\"");
        return false;
    }
    r.road_class = static_cast<char>(std::toupper(static_cast<unsigned char>(cls[0])));
    return true;
}

bool parse_outputs(const std::string &text, std::vector<Eigen::Index> &rows) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        long long v = 0;
        const char *b = text.data() + start, *e = text.data() + comma;
        auto r = std::from_chars(b, e, v);
        if (r.ec != std::errc() || r.ptr != e || v < 1) {
            complain("ride",
                     "--output needs output rows from 1 separated by commas, not \"" + text + "\"");
            return false;
        }
        rows.push_back(static_cast<Eigen::Index>(v - 1));
        start = comma + 1;
    }
    return true;
}

std::string trimmed_name(const MAPmodel &m, int32_t e) {
    std::string name = m.ext_name[e];
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back())))
        name.pop_back();
    return name;
}

// Finds each input's column among the external inputs.
bool map_inputs(const MAPmodel &m, std::vector<InputMap> &inputs) {
    const int32_t internal = m.n_input - m.n_external;
    for (InputMap &in : inputs) {
        bool found = false;
        std::string names;
        for (int32_t e = 0; e < m.n_external && !found; ++e) {
            found = trimmed_name(m, e) == in.name;
            if (found) in.column = internal + e;
            names += (e ? ", " : "") + trimmed_name(m, e);
        }
        if (!found) {
            complain("ride", "--input " + in.name +
                                 ": the model has no external input of that "
                                 "name; it has " +
                                 (names.empty() ? std::string("none") : names));
            return false;
        }
    }
    return true;
}

bool map_tracks(const RoadTracks &road, const std::string &road_name,
                std::vector<InputMap> &inputs) {
    for (InputMap &in : inputs) {
        bool found = false;
        for (std::size_t c = 0; c < road.labels.size() && !found; ++c)
            if (road.labels[c] == in.track) {
                in.channel = c;
                found = true;
            }
        long long number = 0;
        const char *e = in.track.data() + in.track.size();
        auto r = std::from_chars(in.track.data(), e, number);
        if (!found && r.ec == std::errc() && r.ptr == e && number >= 1 &&
            static_cast<unsigned long long>(number) <= road.labels.size()) {
            in.channel = static_cast<std::size_t>(number - 1);
            found = true;
        }
        if (!found) {
            complain("ride", "--input " + in.name + ": the road " + road_name + " has no track \"" +
                                 in.track + "\" (give a label or 1 to " +
                                 std::to_string(road.labels.size()) + ")");
            return false;
        }
    }
    return true;
}

// Two tracks of a class synthesised by the plug-in, in mm, scaled to the
// mean roughness index asked for (the index goes with the elevations).
int synthesise_road(const Parsed &args, const RoadSpec &spec, double length, RoadTracks &road,
                    int32_t seed) {
    Session session;
    if (!start_session(session, "ride", args.plugin())) return exit_no_plugin;
    using Genrprof =
        RprofResult *(*)(double, double, double, double, double, double, int32_t, int32_t);
    auto synthesise = session.plugin().get<Genrprof>("genrprof_sayers");
    if (!synthesise) {
        complain("ride", session.plugin().error());
        return exit_no_plugin;
    }
    const analysis::SayersCoefficients k = analysis::class_coefficients(spec.road_class);
    RprofResult *r = synthesise(k.ga, k.ge, k.gs, synthesised_corr_length, length,
                                synthesised_interval, 2, seed);
    std::fflush(stdout);
    if (!r || r->n <= 0 || !r->z1 || !r->z2) {
        complain("ride", "the road could not be synthesised");
        return exit_data;
    }
    road = RoadTracks();
    road.interval_m = synthesised_interval;
    road.labels = {"left", "right"};
    road.units = {"mm", "mm"};
    road.values = {std::vector<double>(r->z1, r->z1 + r->n),
                   std::vector<double>(r->z2, r->z2 + r->n)};
    if (spec.iri > 0.0) {
        double mean = 0.0;
        for (const std::vector<double> &z : road.values) {
            double index = 0.0;
            std::string why;
            if (!analysis::iri(z.data(), z.size(), synthesised_interval, index, why)) {
                complain("ride", "iri:" + shortest(spec.iri) + ": " + why);
                return exit_usage;
            }
            mean += index / 2.0;
        }
        for (std::vector<double> &z : road.values)
            for (double &v : z)
                v *= spec.iri / mean;
    }
    return 0;
}

// The elevation of track z (spacing dx) at distance s, linear between the
// points and held at the ends.
double elevation(const std::vector<double> &z, double dx, double s) {
    const double p = s / dx;
    if (!(p > 0.0)) return z.front();
    const double last = static_cast<double>(z.size() - 1);
    if (p >= last) return z.back();
    const auto i = static_cast<std::size_t>(p);
    const double f = p - static_cast<double>(i);
    return z[i] + f * (z[i + 1] - z[i]);
}

// One output as reported.
struct OutputFigures {
    Eigen::Index row = 0;
    int32_t point = 0, component = 0, kind = 0;
    std::string label, unit;
    double rms = 0.0, peak = 0.0, crest = 0.0;
    analysis::Weighting weighting = analysis::Weighting::none;
    bool acceleration = false; // a displacement whose acceleration is rated
    double acc_rms = 0.0;      // m/s^2, unweighted
    analysis::ComfortFigures comfort;
    std::vector<double> weighted; // m/s^2
};

const char *component_text(int32_t c) {
    static const char *const names[] = {"x", "y", "z", "rx", "ry", "rz"};
    return c >= 1 && c <= 6 ? names[c - 1] : "c";
}

std::vector<double> column_of(const Eigen::MatrixXd &m, Eigen::Index c) {
    std::vector<double> v(static_cast<std::size_t>(m.rows()));
    for (Eigen::Index k = 0; k < m.rows(); ++k)
        v[static_cast<std::size_t>(k)] = m(k, c);
    return v;
}

double peak_of(const std::vector<double> &v) {
    double p = 0.0;
    for (double x : v)
        p = std::max(p, std::fabs(x));
    return p;
}

// The figures of every output; false when one is not finite (named in why).
bool rate_outputs(const MAPmodel &m, const analysis::Response &r, double h,
                  std::vector<OutputFigures> &outs, std::string &why) {
    for (std::size_t k = 0; k < outs.size(); ++k) {
        OutputFigures &o = outs[k];
        const auto col = static_cast<Eigen::Index>(k);
        const std::vector<double> y = column_of(r.values, col);
        o.rms = analysis::rms(y.data(), y.size());
        o.peak = peak_of(y);
        o.crest = o.rms > 0.0 ? o.peak / o.rms : 0.0;
        if (!std::isfinite(o.rms) || !std::isfinite(o.peak)) {
            why = "output " + std::to_string(o.row + 1) + ": its response";
            return false;
        }
        if (!o.acceleration) continue;
        std::vector<double> a = column_of(r.accelerations, col);
        for (double &v : a)
            v *= m.unit_length;
        o.acc_rms = analysis::rms(a.data(), a.size());
        if (!std::isfinite(o.acc_rms) || !std::isfinite(peak_of(a))) {
            why = "output " + std::to_string(o.row + 1) + ": its acceleration";
            return false;
        }
        const analysis::StateSpace w = analysis::weighting_model(o.weighting);
        const analysis::TimeStepper filter(w, {0}, {0}, h);
        Eigen::MatrixXd u = Eigen::Map<const Eigen::VectorXd>(a.data(), Eigen::Index(a.size()));
        o.weighted = column_of(filter.run(u).values, 0);
        o.comfort = analysis::comfort_figures(o.weighted, h);
    }
    return true;
}

std::string g(double v) {
    char t[32];
    std::snprintf(t, sizeof t, "%.4g", v);
    return t;
}

bool write_table(OutputFile &out, const std::string &name, const std::vector<OutputFigures> &outs,
                 const analysis::Response &r, double h) {
    std::FILE *f = out.open(name.c_str());
    if (!f) return false;
    std::string head = "time_s";
    for (const OutputFigures &o : outs)
        head += "," + o.label + "_" + o.unit;
    std::fputs((head + "\n").c_str(), f);
    const analysis::DistanceText time(h);
    for (Eigen::Index k = 0; k < r.values.rows(); ++k) {
        std::string row = time.at(k);
        for (Eigen::Index c = 0; c < r.values.cols(); ++c)
            row += "," + shortest(r.values(k, c));
        row += '\n';
        std::fputs(row.c_str(), f);
    }
    return out.finish();
}

bool write_rpc(OutputFile &out, const std::string &name, const std::vector<OutputFigures> &outs,
               const analysis::Response &r, double h, std::string &error) {
    analysis::Rpc3Output file;
    file.delta_t = h;
    file.operation = "sorvan ride";
    file.extra = {{analysis::rpc3_x_label_key, "time"}, {analysis::rpc3_x_units_key, "s"}};
    for (std::size_t k = 0; k < outs.size(); ++k) {
        analysis::Rpc3Channel ch;
        ch.label = outs[k].label;
        ch.unit = outs[k].unit;
        ch.values = column_of(r.values, static_cast<Eigen::Index>(k));
        file.channels.push_back(std::move(ch));
    }
    std::string bytes;
    if (!analysis::rpc3_image(file, bytes, error)) {
        error = name + ": " + error;
        return false;
    }
    std::FILE *f = out.open(name.c_str(), true);
    if (f) std::fwrite(bytes.data(), 1, bytes.size(), f);
    if (!f || !out.finish()) {
        error = out.error();
        return false;
    }
    return true;
}

bool write_plot(OutputFile &out, const std::string &name, const std::vector<OutputFigures> &outs,
                double h, const std::string &title, std::string &error, bool &nothing_to_draw) {
    analysis::RidePlot plot;
    plot.step = h;
    plot.title = title;
    for (const OutputFigures &o : outs)
        if (o.acceleration)
            plot.curves.push_back(
                {&o.weighted, o.label + " (" + analysis::weighting_name(o.weighting) + ")"});
    const std::string svg = analysis::ride_plot_svg(plot, error);
    if (svg.empty()) {
        error = name + ": " + error;
        nothing_to_draw = true;
        return false;
    }
    std::FILE *f = out.open(name.c_str());
    if (f) std::fwrite(svg.data(), 1, svg.size(), f);
    if (!f || !out.finish()) {
        error = out.error();
        return false;
    }
    return true;
}

// The MAP file's length unit as a column or channel names it: "m", "mm"
// or the vocabulary's label.
std::string length_label(const MAPmodel &m) {
    if (m.unit_length == 1.0) return "m";
    if (m.unit_length == 0.001) return "mm";
    std::string label;
    double constant = 0.0;
    if (!units::nearest_label(m.unit_length, units::Quantity::length, label, constant))
        return shortest(m.unit_length) + " m";
    for (char &c : label)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return label;
}

nlohmann::json number_or_null(double v, bool present) {
    return present && std::isfinite(v) ? nlohmann::json(v) : nlohmann::json(nullptr);
}

} // namespace

int run_ride(int argc, char **argv) {
    Parsed args;
    if (int status = parse_command_line(ride_command(), argc, argv, args); status >= 0)
        return status;
    for (const char *required : {"road", "speed", "input"})
        if (!args.has(required)) {
            complain("ride", std::string("--") + required + " is required");
            return exit_usage;
        }
    const std::string &map_file = args.words()[0], &abc_base = args.words()[1];
    std::vector<InputMap> inputs;
    RoadSpec spec;
    std::vector<Eigen::Index> rows;
    if (!parse_inputs(args.all("input"), inputs) || !parse_road(args.text("road"), spec) ||
        (args.has("output") && !parse_outputs(args.text("output"), rows)))
        return exit_usage;
    const std::string rpc = args.has("rpc") ? args.text("rpc") : "",
                      csv = args.has("csv") ? args.text("csv") : "",
                      plot = args.has("plot") ? args.text("plot") : "";
    if (!plot.empty() && !want_svg_name("ride", "--plot", plot)) return exit_usage;
    std::vector<NamedFile> ins = {{"MAP_FILE", map_file}, {"--road", spec.file}};
    for (const char *letter : {"a", "b", "c", "d"})
        ins.push_back({"the matrix file", abc_base + letter});
    if (!outputs_apart("ride", ins, {{"--rpc", rpc}, {"--csv", csv}, {"--plot", plot}}))
        return exit_usage;
    const double speed = args.real("speed") / 3.6; // m/s
    const double rate = args.has("rate") ? args.real("rate") : default_rate, h = 1.0 / rate;

    MapRecord record;
    analysis::StateSpace model;
    std::string error;
    if (int status = read_model("ride", map_file, abc_base, record, model)) return status;
    const MAPmodel &m = *record;
    if (!(m.unit_length > 0.0)) {
        complain("ride", map_file + ": the MAP file's units section names no length unit");
        return exit_data;
    }
    if (!map_inputs(m, inputs)) return exit_usage;
    for (Eigen::Index row : rows)
        if (row >= m.n_output_all) {
            complain("ride", "--output " + std::to_string(row + 1) + ": the model has " +
                                 counted(m.n_output_all, "output", "outputs"));
            return exit_usage;
        }
    if (rows.empty())
        for (int32_t j = 0; j < m.n_output_all; ++j)
            if (m.output[j].kind == 3) rows.push_back(j);
    if (rows.empty()) {
        complain("ride", map_file + ": the model has no node or wheel output; name outputs with "
                                    "--output");
        return exit_usage;
    }

    // The road, in the distance the first axle covers.
    double back = 0.0, ahead = 0.0; // the largest offsets behind and ahead, m
    for (const InputMap &in : inputs) {
        back = std::max(back, in.offset);
        ahead = std::max(ahead, -in.offset);
    }
    RoadTracks road;
    const int32_t seed = args.has("seed") ? static_cast<int32_t>(args.integer("seed")) : 1;
    if (spec.road_class != 0) {
        const double needed =
            args.has("duration") ? speed * args.real("duration") + ahead : synthesised_length;
        if (int status = synthesise_road(args, spec, needed + back, road, seed); status != 0)
            return status;
    } else if (int status = read_road_tracks("ride", spec.file, road); status != 0) {
        return status;
    }
    const std::string road_name = spec.road_class ? args.text("road") : spec.file;
    if (!(road.interval_m > 0.0) || road.values.empty() || road.values[0].size() < 2) {
        complain("ride", road_name + ": " +
                             (road.time_based ? "a time history that names no speed has no "
                                                "distance to ride over"
                                              : "a road needs two points or more"));
        return exit_data;
    }
    if (!map_tracks(road, road_name, inputs)) return exit_usage;
    const double road_length = road.interval_m * static_cast<double>(road.values[0].size() - 1);
    // A synthesised road starts with the last axle on it.
    const double start = spec.road_class ? back : 0.0;
    const double available = (road_length - start - ahead) / speed;
    const double duration = args.has("duration") ? args.real("duration") : available;
    if (!(duration > 0.0) || duration > available * (1.0 + 1e-12)) {
        complain("ride", road_name + ": the road is " + g(road_length) + " m long: at " +
                             g(args.real("speed")) + " km/h it lasts " +
                             g(std::max(available, 0.0)) + " s for these offsets, not " +
                             g(duration) + " s");
        return exit_data;
    }
    const double samples_real = std::floor(duration * rate * (1.0 + 1e-12)) + 1.0;
    if (samples_real > 5e7) {
        complain("ride", "--duration and --rate ask for " + g(samples_real) +
                             " samples; at most 5e7 are stepped");
        return exit_usage;
    }
    const auto samples = static_cast<Eigen::Index>(samples_real);

    // The inputs, in the MAP file's length unit.
    Eigen::MatrixXd u(samples, static_cast<Eigen::Index>(inputs.size()));
    std::vector<Eigen::Index> columns;
    for (std::size_t j = 0; j < inputs.size(); ++j) {
        const InputMap &in = inputs[j];
        const double metres = analysis::millimetres_per(road.units[in.channel]) / 1000.0;
        if (!(metres > 0.0)) {
            complain("ride", road_name + ": track \"" + road.labels[in.channel] + "\" is in \"" +
                                 road.units[in.channel] + "\", not a length unit");
            return exit_data;
        }
        const double factor = metres / m.unit_length;
        const std::vector<double> &z = road.values[in.channel];
        for (Eigen::Index k = 0; k < samples; ++k) {
            const double s = start + speed * static_cast<double>(k) * h - in.offset;
            u(k, static_cast<Eigen::Index>(j)) = factor * elevation(z, road.interval_m, s);
        }
        columns.push_back(in.column);
    }
    if (!u.allFinite()) {
        complain("ride", road_name + ": the elevations in the MAP file's length unit are beyond "
                                     "the range of a double");
        return exit_data;
    }

    const auto clock_start = std::chrono::steady_clock::now();
    const analysis::TimeStepper stepper(model, columns, rows, h);
    if (!stepper.stable()) {
        complain("ride", abc_base + ": the model has an unstable mode (eigenvalue " +
                             g(stepper.least_stable().real()) + " " +
                             (stepper.least_stable().imag() < 0 ? "- " : "+ ") +
                             g(std::fabs(stepper.least_stable().imag())) +
                             "i): its response grows without bound");
        return exit_data;
    }
    const analysis::Response response = stepper.run(u);
    std::vector<OutputFigures> outs;
    for (Eigen::Index row : rows) {
        OutputFigures o;
        const MAPsignal &s = m.output[row];
        o.row = row;
        o.point = s.id;
        o.component = s.dof;
        o.kind = s.kind;
        o.label = "p" + std::to_string(s.id) + "_" + component_text(s.dof);
        const bool rotation = s.dof >= 4 && s.dof <= 6 && s.kind != 2;
        o.unit = rotation ? "rad" : s.kind == 1 || s.kind == 2 || s.kind == 3 ? "MAP length" : "";
        o.weighting = analysis::weighting_of_component(s.dof);
        o.acceleration = (s.kind == 1 || s.kind == 3) && o.weighting != analysis::Weighting::none;
        outs.push_back(o);
    }
    std::string why;
    if (!rate_outputs(m, response, h, outs, why)) {
        complain("ride", why + " is beyond the range of a double");
        return exit_data;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - clock_start).count();
    for (OutputFigures &o : outs)
        if (o.unit == "MAP length") o.unit = length_label(m);

    OutputFile rpc_out, csv_out, plot_out;
    std::vector<OutputFile *> files;
    if (!rpc.empty()) {
        if (!write_rpc(rpc_out, rpc, outs, response, h, error)) {
            complain("ride", error);
            return exit_output;
        }
        files.push_back(&rpc_out);
    }
    if (!csv.empty()) {
        if (!write_table(csv_out, csv, outs, response, h)) {
            complain("ride", csv_out.error());
            return exit_output;
        }
        files.push_back(&csv_out);
    }
    if (!plot.empty()) {
        bool nothing_to_draw = false;
        if (!write_plot(plot_out, plot, outs, h,
                        map_file + " over " + road_name + " at " + g(args.real("speed")) + " km/h",
                        error, nothing_to_draw)) {
            complain("ride", error);
            return nothing_to_draw ? exit_data : exit_output;
        }
        files.push_back(&plot_out);
    }
    if (!files.empty() && !commit_together(files)) {
        for (const OutputFile *f : files)
            if (!f->error().empty()) complain("ride", f->error() + "; nothing was written");
        return exit_output;
    }

    std::printf("ride: %s over %s at %s km/h (%s m/s): %s s at %s Hz, %s; %s stepped in %s "
                "in %.3g s\n",
                map_file.c_str(), road_name.c_str(), g(args.real("speed")).c_str(),
                g(speed).c_str(), g(duration).c_str(), g(rate).c_str(),
                counted(samples, "sample", "samples").c_str(),
                counted(model.a.rows(), "state", "states").c_str(),
                analysis::step_method_text(stepper.method()), seconds);
    for (const InputMap &in : inputs)
        std::printf("  input %s <- track \"%s\" %s m behind (%s s later)\n", in.name.c_str(),
                    road.labels[in.channel].c_str(), g(in.offset).c_str(),
                    g(in.offset / speed).c_str());
    if (spec.road_class) std::printf("  road synthesised for seed %d\n", seed);
    for (const OutputFigures &o : outs) {
        std::printf("  output %lld (point %d %s, %s): RMS %s, peak %s, crest factor %s",
                    static_cast<long long>(o.row + 1), o.point, component_text(o.component),
                    o.unit.c_str(), g(o.rms).c_str(), g(o.peak).c_str(), g(o.crest).c_str());
        if (o.acceleration)
            std::printf("; acceleration RMS %s m/s^2, weighted (%s) %s m/s^2, VDV %s m/s^1.75: "
                        "%s",
                        g(o.acc_rms).c_str(), analysis::weighting_name(o.weighting),
                        g(o.comfort.weighted_rms).c_str(), g(o.comfort.vdv).c_str(),
                        analysis::comfort_band(o.comfort.weighted_rms));
        std::printf("\n");
    }
    for (const OutputFile *f : files)
        std::printf("wrote %s\n", f == &rpc_out   ? rpc.c_str()
                                  : f == &csv_out ? csv.c_str()
                                                  : plot.c_str());
    if (args.json()) {
        nlohmann::json list = nlohmann::json::array();
        for (const OutputFigures &o : outs)
            list.push_back(
                {{"index", o.row + 1},
                 {"point", o.point},
                 {"component", o.component},
                 {"unit", o.unit},
                 {"rms", o.rms},
                 {"peak", o.peak},
                 {"crest_factor", o.crest},
                 {"acceleration_rms", number_or_null(o.acc_rms, o.acceleration)},
                 {"weighting", o.acceleration
                                   ? nlohmann::json(analysis::weighting_name(o.weighting))
                                   : nlohmann::json(nullptr)},
                 {"weighted_rms", number_or_null(o.comfort.weighted_rms, o.acceleration)},
                 {"vdv", number_or_null(o.comfort.vdv, o.acceleration)},
                 {"comfort", o.acceleration
                                 ? nlohmann::json(analysis::comfort_band(o.comfort.weighted_rms))
                                 : nlohmann::json(nullptr)}});
        nlohmann::json mapped = nlohmann::json::array();
        for (const InputMap &in : inputs)
            mapped.push_back({{"name", in.name},
                              {"track", road.labels[in.channel]},
                              {"offset_m", in.offset},
                              {"delay_s", in.offset / speed}});
        nlohmann::json written = nlohmann::json::array();
        for (const OutputFile *f : files)
            written.push_back(f == &rpc_out ? rpc : f == &csv_out ? csv : plot);
        nlohmann::json object = {{"map_file", map_file},
                                 {"road", road_name},
                                 {"speed_kmh", args.real("speed")},
                                 {"speed_m_s", speed},
                                 {"duration_s", duration},
                                 {"rate_hz", rate},
                                 {"samples", samples},
                                 {"states", model.a.rows()},
                                 {"method", analysis::step_method_text(stepper.method())},
                                 {"seconds", seconds},
                                 {"inputs", mapped},
                                 {"outputs", list},
                                 {"units",
                                  {{"rms", "the output's unit"},
                                   {"peak", "the output's unit"},
                                   {"acceleration_rms", "m/s^2"},
                                   {"weighted_rms", "m/s^2"},
                                   {"vdv", "m/s^1.75"}}},
                                 {"files", written}};
        if (spec.road_class) object["seed"] = seed;
        json_output::emit(object);
    }
    return 0;
}

} // namespace sorvan::cli
