// sorvan road: runs the host function GENRPROF_SAYERS with argument arrays
// built from the options, then synthesises the same tracks once more with
// the exported genrprof_sayers for their RMS values, a CSV table and a
// spectral density plot.
#include "analysis/road_plot.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/session.h"

#include "frame/file_identity.h"
#include "frame/output_file.h"
#include "sorvan_view.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace sorvan::cli {

namespace {

using Genrprof = RprofResult *(*)(double, double, double, double, double, double, int32_t, int32_t);

const std::vector<Option> road_options = {
    {"tracks", true}, {"seed", true},        {"ge", true},       {"gs", true},
    {"ga", true},     {"corr-length", true}, {"length", true},   {"interval", true},
    {"labels", true}, {"csv", true},         {"psd-plot", true},
};

// An ordinary road, distance in metres and elevation in millimetres. The
// singly integrated term gives the displacement density of a good road,
// 64e-6 m^3 = 64 mm^2 m at 0.1 cycle/m falling with the square of the
// wavenumber: gs = 64 x 0.1^2 x (2 pi)^2 = 25.27 mm^2/m. The white-noise
// term takes over at wavelengths below 0.28 m (ge = gs / (2 pi 3.6)^2), so
// that the density stays within a factor 1.7 of that line, inside the good
// class, up to 2.83 cycle/m. The doubly integrated term is left out: any
// ga above 0 dominates the elevation's variance with wavelengths of
// kilometres (the integrators decay only by 0.002 per metre), which a
// vehicle does not feel.
constexpr double default_ge = 0.05;         // mm^2 m (mm^2 per cycle/m)
constexpr double default_gs = 25.3;         // mm^2/m
constexpr double default_ga = 0.0;          // mm^2/m^3
constexpr double default_corr_length = 2.0; // m: coherence 0.5 at about 4.4 m wavelength
constexpr double default_length = 1000.0;   // m
constexpr double default_interval = 0.1;    // m

struct RoadOptions {
    std::string file, csv, plot;
    int32_t tracks = 1, seed = 0;
    bool clock_seed = false;
    double ge = default_ge, gs = default_gs, ga = default_ga;
    double corr_length = default_corr_length, length = default_length, interval = default_interval;
    std::string labels[2] = {"left", "right"};
};

// The calendar time in seconds as a positive seed, as the synthesis itself
// would take it.
int32_t seed_from_clock() {
    std::time_t t = std::time(nullptr);
    if (t < 1) return 1;
    long long s = static_cast<long long>(t) % INT32_MAX;
    return s == 0 ? 1 : static_cast<int32_t>(s);
}

bool read_reals(Args &args, RoadOptions &o) {
    struct {
        const char *name;
        double *value;
    } reals[] = {{"ge", &o.ge},         {"gs", &o.gs},
                 {"ga", &o.ga},         {"corr-length", &o.corr_length},
                 {"length", &o.length}, {"interval", &o.interval}};
    for (auto &r : reals)
        if (args.has(r.name) && !args.get_double(r.name, *r.value)) return false;
    return true;
}

bool read_options(Args &args, RoadOptions &o) {
    o.file = args.positional()[0];
    int tracks = 1, seed = 0;
    if (!read_reals(args, o) || (args.has("tracks") && !args.get_int("tracks", tracks)) ||
        (args.has("seed") && !args.get_int("seed", seed))) {
        complain("road", args.error());
        return false;
    }
    if (tracks != 1 && tracks != 2) {
        complain("road", "--tracks must be 1 or 2");
        return false;
    }
    // The synthesis skips a component whose coefficient is below 0 as if it
    // were 0; a negative density is a typing error, not a road.
    if (o.ge < 0.0 || o.gs < 0.0 || o.ga < 0.0) {
        complain("road", "--ge, --gs and --ga must be 0 or more");
        return false;
    }
    o.tracks = tracks;
    o.clock_seed = seed <= 0;
    o.seed = o.clock_seed ? seed_from_clock() : seed;
    if (args.has("labels")) {
        const std::string &l = args.value("labels");
        size_t comma = l.find(',');
        o.labels[0] = l.substr(0, comma);
        if (comma != std::string::npos) o.labels[1] = l.substr(comma + 1);
    }
    if (args.has("csv")) o.csv = args.value("csv");
    if (args.has("psd-plot")) o.plot = args.value("psd-plot");
    return true;
}

// The sample count the synthesis will make, when its arguments are sound.
double expected_samples(const RoadOptions &o) {
    if (!(o.interval > 0.0) || !std::isfinite(o.interval) || !(o.length >= 0.0) ||
        !std::isfinite(o.length))
        return -1.0;
    return std::ceil(o.length * (1.0 / o.interval)) + 1.0;
}

// The three argument arrays of the host function, released together.
struct Arguments {
    vc_array ints = nullptr, reals = nullptr, strings = nullptr;

    Arguments() = default;
    Arguments(const Arguments &) = delete;
    Arguments &operator=(const Arguments &) = delete;
    ~Arguments() {
        plexa_array_free(ints);
        plexa_array_free(reals);
        plexa_array_free(strings);
    }
};

bool build_arguments(const RoadOptions &o, const std::string &file, Arguments &a) {
    a.ints = plexa_array_create(VC_INTEGER, 2);
    a.reals = plexa_array_create(VC_REAL, 6);
    a.strings = plexa_array_create(VC_TEXT, 3);
    const double reals[6] = {o.ga, o.ge, o.gs, o.corr_length, o.length, o.interval};
    bool ok = a.ints && a.reals && a.strings && plexa_array_set_int(a.ints, 0, o.tracks) &&
              plexa_array_set_int(a.ints, 1, o.seed) &&
              plexa_array_set_text(a.strings, 0, file.c_str()) &&
              plexa_array_set_text(a.strings, 1, o.labels[0].c_str()) &&
              plexa_array_set_text(a.strings, 2, o.labels[1].c_str());
    for (int32_t k = 0; ok && k < 6; ++k)
        ok = plexa_array_set_real(a.reals, k, reals[k]);
    return ok;
}

// Runs GENRPROF_SAYERS, which writes the profile to the file named file.
// Returns 0 when it wrote the file, else an exit status with the reason
// printed.
int run_host_function(Session &s, const RoadOptions &o, const std::string &file) {
    auto generate = s.function_as<plexa_arrays_function>("GENRPROF_SAYERS", 3);
    if (!generate) {
        complain("road", s.error());
        return exit_no_plugin;
    }
    Arguments a;
    if (!build_arguments(o, file, a)) {
        complain("road", "the host library refused the argument arrays");
        return exit_no_plugin;
    }
    plexa_error_clear();
    vc_array result = generate(a.ints, a.reals, a.strings);
    int32_t status = 1;
    bool have_status = plexa_array_get_int(result, 0, &status);
    plexa_array_free(result);
    std::fflush(stdout);
    if (plexa_error_count() > 0) {
        complain("road",
                 std::string("GENRPROF_SAYERS reported a host error: ") + plexa_error_last());
        return 1;
    }
    if (!have_status) {
        complain("road", "GENRPROF_SAYERS returned no status array");
        return 1;
    }
    if (status != 0) {
        complain("road", "GENRPROF_SAYERS failed (status " + std::to_string(status) + "); " +
                             o.file + " was not written");
        return 1;
    }
    return 0;
}

double rms(const double *z, int32_t n) {
    double sum = 0.0;
    for (int32_t i = 0; i < n; ++i)
        sum += z[i] * z[i];
    return n > 0 ? std::sqrt(sum / n) : 0.0;
}

// Distance and elevations, one sample a line, every number in its shortest
// form that reads back exactly; finished in out, not yet in place.
bool write_csv(OutputFile &out, const std::string &file, const RprofResult &r, int32_t tracks) {
    std::FILE *f = out.open(file.c_str());
    if (!f) return false;
    std::fputs(tracks == 2 ? "distance,z1,z2\n" : "distance,z1\n", f);
    for (int32_t i = 0; i < r.n; ++i) {
        std::string row = shortest(r.x[i]) + "," + shortest(r.z1[i]);
        if (tracks == 2) row += "," + shortest(r.z2[i]);
        row += '\n';
        std::fputs(row.c_str(), f);
    }
    return out.finish();
}

void print_report(const RoadOptions &o, const RprofResult &r) {
    std::printf("wrote %s: %d channel%s of %d samples, %s m apart (0 to %s m)\n", o.file.c_str(),
                o.tracks, o.tracks == 2 ? "s" : "", r.n, shortest(o.interval).c_str(),
                shortest(r.x[r.n - 1]).c_str());
    std::printf("  seed %d%s\n", o.seed, o.clock_seed ? " (from the clock)" : "");
    std::printf("  track 1 \"%s\": RMS %.6g mm\n", o.labels[0].c_str(), rms(r.z1, r.n));
    if (o.tracks == 2)
        std::printf("  track 2 \"%s\": RMS %.6g mm\n", o.labels[1].c_str(), rms(r.z2, r.n));
}

// Writes the CSV table and the plot that were asked for, finished but not
// yet in place. Returns 0, or exit_output with the reason printed.
int write_reports(const RoadOptions &o, const RprofResult &r, OutputFile &csv, OutputFile &plot) {
    if (!o.csv.empty() && !write_csv(csv, o.csv, r, o.tracks)) {
        complain("road", csv.error());
        return exit_output;
    }
    if (!o.plot.empty()) {
        analysis::RoadPlot p;
        p.z1 = r.z1;
        p.z2 = o.tracks == 2 ? r.z2 : nullptr;
        p.n = r.n;
        p.interval = o.interval;
        p.ge = o.ge;
        p.gs = o.gs;
        p.ga = o.ga;
        p.corr_length = o.corr_length;
        p.label1 = o.labels[0];
        p.label2 = o.labels[1];
        p.seed = o.seed;
        std::string error;
        const std::string svg = analysis::road_plot_svg(p, error);
        if (svg.empty()) {
            complain("road", o.plot + ": " + error);
            return exit_output;
        }
        std::FILE *f = plot.open(o.plot.c_str());
        if (f) std::fwrite(svg.data(), 1, svg.size(), f);
        if (!f || !plot.finish()) {
            complain("road", plot.error());
            return exit_output;
        }
    }
    return 0;
}

// The absolute path that name resolves to, links and "." and ".." taken
// out as far as the path exists; empty when it cannot be told.
std::filesystem::path resolved(const std::string &name) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(name, ec);
    if (!ec) p = std::filesystem::weakly_canonical(p, ec);
    return ec ? std::filesystem::path() : p;
}

// Two outputs of one run must be two files: otherwise the one written last
// would replace the other. Compared by name as written, by the name the
// file system resolves it to, and, for existing files, by identity.
bool distinct_outputs(const RoadOptions &o) {
    const std::pair<const char *, const std::string *> outputs[] = {
        {"OUT_FILE", &o.file}, {"--csv", &o.csv}, {"--psd-plot", &o.plot}};
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = i + 1; j < 3; ++j) {
            const std::string &a = *outputs[i].second, &b = *outputs[j].second;
            if (a.empty() || b.empty()) continue;
            const auto ca = resolved(a), cb = resolved(b);
            if (a == b || (!ca.empty() && ca == cb) || same_file(a.c_str(), b.c_str())) {
                complain("road", std::string(outputs[i].first) + " and " + outputs[j].first +
                                     " name the same file " + b);
                return false;
            }
        }
    return true;
}

} // namespace

void help_road() {
    std::printf("usage: sorvan road OUT_FILE [OPTIONS]\n"
                "\n"
                "Synthesises one or two random road elevation tracks by the Sayers roughness\n"
                "model through the host function GENRPROF_SAYERS, which writes them as the\n"
                "channels of the RPC III file OUT_FILE (unit \"mm\", spacing --interval). Then\n"
                "prints the sample count and the RMS of each track. A track's one-sided\n"
                "elevation spectral density at wavenumber v (cycle/m) is\n"
                "    ge + gs / (2 pi v)^2 + ga / (2 pi v)^4.\n"
                "Distance is in metres and elevation in millimetres; the three coefficients\n"
                "are 0 or more.\n"
                "\n"
                "  --tracks 1|2          number of tracks                         (default 1)\n"
                "  --seed N              seed; 0 or less takes one from the clock,\n"
                "                        which is printed                         (default 0)\n"
                "  --ge X                white-noise coefficient, mm^2*m       (default 0.05)\n"
                "  --gs X                singly integrated coefficient, mm^2/m (default 25.3)\n"
                "  --ga X                doubly integrated coefficient, mm^2/m^3  (default 0)\n"
                "  --corr-length L       two tracks: they part at wavelengths below\n"
                "                        about 1.41 L, m                          (default 2)\n"
                "  --length L            profile length, m                     (default 1000)\n"
                "  --interval DX         distance between samples, m            (default 0.1)\n"
                "  --labels LEFT,RIGHT   channel labels of tracks 1 and 2\n"
                "                                                        (default left,right)\n"
                "  --csv FILE            also write distance and elevations as a table:\n"
                "                        columns distance (m), z1 and with two tracks z2 (mm)\n"
                "  --psd-plot FILE.svg   also draw the tracks' estimated spectral density\n"
                "                        against the model (log-log) and, for two tracks,\n"
                "                        their coherence (at least 64 samples)\n"
                "  --plugin PATH         load the plug-in from PATH instead of beside sorvan\n"
                "\n"
                "The defaults describe a good road: 64e-6 m^3 (64 mm^2*m) at 0.1 cycle/m with\n"
                "the density falling as v^-2, so gs = 64 x 0.1^2 x (2 pi)^2 = 25.3 mm^2/m, and ge\n"
                "takes over below 0.28 m wavelength. Typical coefficients by road class\n"
                "(density at 0.1 cycle/m; ge in mm^2*m, gs in mm^2/m):\n"
                "    very good (smooth)    16 mm^2*m    ge 0.0125   gs 6.32\n"
                "    good                  64 mm^2*m    ge 0.05     gs 25.3\n"
                "    average              256 mm^2*m    ge 0.2      gs 101\n"
                "    poor (rough)        1024 mm^2*m    ge 0.8      gs 404\n"
                "    very poor           4096 mm^2*m    ge 3.2      gs 1617\n"
                "ga adds long-wavelength undulation: ga = gs x (2 pi v)^2 makes the v^-4 slope\n"
                "take over below the wavenumber v, e.g. ga 0.1 mm^2/m^3 with gs 25.3 at 100 m\n"
                "wavelength. Any ga above 0 dominates the RMS, with wavelengths of kilometres.\n"
                "\n"
                "The profile, the table and the plot are written together: either all of them\n"
                "replace their files or, on any failure, none does.\n"
                "\n"
                "Exit status: 0 written; 1 the host function failed (its message is printed);\n"
                "64 bad command line (two outputs naming one file among them); 69 plug-in not\n"
                "loadable; 73 the CSV table or the plot could not be written. Nothing is\n"
                "written on any failure.\n");
}

int run_road(int argc, char **argv) {
    Args args;
    const CommandLine command{"road", &road_options, help_road, 1, "OUT_FILE"};
    if (int status = parse_command(args, argc, argv, command); status >= 0) return status;
    RoadOptions o;
    if (!read_options(args, o) || !distinct_outputs(o)) return exit_usage;
    double samples = expected_samples(o);
    if (!o.plot.empty() && samples >= 0.0 && samples < analysis::plot_min_samples) {
        complain("road", "--psd-plot needs at least " + std::to_string(analysis::plot_min_samples) +
                             " samples; --length and --interval give " + shortest(samples));
        return exit_usage;
    }

    Session session;
    if (!start_session(session, "road", plugin_option(args))) return exit_no_plugin;
    auto synthesise = session.plugin().get<Genrprof>("genrprof_sayers");
    if (!synthesise) {
        complain("road", session.plugin().error());
        return exit_no_plugin;
    }
    // The outputs are committed together: the table and the plot are
    // written under temporary names, the host function writes the profile
    // under its own name, and a failure of any of them leaves the files
    // that were there before as they were.
    OutputFile rpc, csv, plot;
    rpc.written_in_place(o.file.c_str());
    if (int status = run_host_function(session, o, o.file); status != 0) return status;
    // The same arguments, the seed included, give the same tracks.
    RprofResult *r =
        synthesise(o.ga, o.ge, o.gs, o.corr_length, o.length, o.interval, o.tracks, o.seed);
    std::fflush(stdout);
    if (!r || r->n <= 0 || !r->x || !r->z1 || (o.tracks == 2 && !r->z2)) {
        complain("road", "the tracks could not be synthesised again; nothing was written");
        return exit_output;
    }
    if (int status = write_reports(o, *r, csv, plot); status != 0) return status;
    std::vector<OutputFile *> outputs{&rpc};
    if (!o.csv.empty()) outputs.push_back(&csv);
    if (!o.plot.empty()) outputs.push_back(&plot);
    if (!commit_together(outputs)) {
        for (const OutputFile *f : outputs)
            if (!f->error().empty()) complain("road", f->error() + "; nothing was written");
        return exit_output;
    }
    print_report(o, *r);
    if (!o.csv.empty()) std::printf("wrote %s\n", o.csv.c_str());
    if (!o.plot.empty()) std::printf("wrote %s\n", o.plot.c_str());
    return 0;
}

} // namespace sorvan::cli
