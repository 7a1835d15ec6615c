// sorvan road: runs the host function GENRPROF_SAYERS with argument arrays
// built from the options, then synthesises the same tracks once more with
// the exported genrprof_sayers for their RMS values, roughness indices and
// classes, a CSV table and a spectral density plot. With --iri the exported
// function first finds the scale of the spectrum that meets the index.
#include "analysis/iri.h"
#include "analysis/moments.h"
#include "analysis/profile_table.h"
#include "analysis/psd.h"
#include "analysis/road_class.h"
#include "analysis/road_plot.h"
#include "analysis/rpc3_file.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/session.h"

#include "frame/file_identity.h"
#include "frame/output_file.h"
#include "sorvan_view.h"

#include <cctype>
#include <chrono>
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

// An ordinary road, distance in metres and elevation in millimetres. The
// singly integrated term gives the displacement density of a good road,
// 64e-6 m^3 = 64 mm^2 m at 0.1 cycle/m falling with the square of the
// wavenumber: gs = 64 x 0.1^2 x (2 pi)^2 = 25.27 mm^2/m. The white-noise
// term takes over at wavelengths below 0.28 m (ge = gs / (2 pi 3.6)^2), so
// that the density stays within a factor 1.7 of that line, inside the good
// class, up to 2.83 cycle/m. The doubly integrated term is left out: any
// ga above 0 dominates the elevation's variance with wavelengths of
// kilometres (the integrators decay only by 0.002 per metre), which a
// vehicle does not feel. The command-line table shows the same defaults.
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
    char road_class = 0;     // --class, or 0
    double iri_target = 0.0; // --iri, m/km, or 0
    double scale = 1.0;      // applied to ge, gs and ga for --iri
    double speed = 0.0;      // --speed in m/s: the file is written in time; 0 in distance
};

// What is reported of one track.
struct TrackFigures {
    double rms = 0.0;
    double rms_mean_removed = 0.0; // about the mean
    double rms_band = 0.0;         // within the class band, 0.011 to 2.83 cycle/m
    double iri = std::nan("");     // m/km; NaN when the profile cannot be rated
    std::string iri_why;           // why not
    double gd01 = std::nan("");    // mm^2 m, the fitted v^-2 line at 0.1 cycle/m
    char road_class = 0;           // its class, 0 when it could not be fitted
    std::string class_why;
};

// A positive seed from the clock, to the microsecond, so that two runs in
// the same second differ.
int32_t seed_from_clock() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const long long us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    const long long s = (us < 0 ? -us : us) % INT32_MAX;
    return s == 0 ? 1 : static_cast<int32_t>(s);
}

bool read_options(const Parsed &args, RoadOptions &o) {
    o.file = args.words()[0];
    if (args.has("class")) {
        const std::string &c = args.text("class");
        if (c.size() != 1 || analysis::class_density(c[0]) == 0.0) {
            complain("road", "--class needs one of the letters A to H, not \"" + c + "\"");
            return false;
        }
        o.road_class = static_cast<char>(std::toupper(static_cast<unsigned char>(c[0])));
        const analysis::SayersCoefficients k = analysis::class_coefficients(o.road_class);
        o.ge = k.ge;
        o.gs = k.gs;
        o.ga = k.ga;
    }
    if (args.has("iri")) o.iri_target = args.real("iri");
    struct {
        const char *name;
        double *value;
    } reals[] = {{"ge", &o.ge},         {"gs", &o.gs},
                 {"ga", &o.ga},         {"corr-length", &o.corr_length},
                 {"length", &o.length}, {"interval", &o.interval}};
    for (auto &r : reals)
        if (args.has(r.name)) *r.value = args.real(r.name);
    if (args.has("tracks")) o.tracks = static_cast<int32_t>(args.integer("tracks"));
    const long long seed = args.has("seed") ? args.integer("seed") : 0;
    o.clock_seed = seed <= 0;
    o.seed = o.clock_seed ? seed_from_clock() : static_cast<int32_t>(seed);
    if (args.has("labels")) {
        const std::string &l = args.text("labels");
        const size_t comma = l.find(',');
        const size_t given = comma == std::string::npos ? 1 : 2;
        if (given != static_cast<size_t>(o.tracks) ||
            (comma != std::string::npos && l.find(',', comma + 1) != std::string::npos)) {
            complain("road", "--labels needs exactly " + std::to_string(o.tracks) +
                                 (o.tracks == 1 ? " label" : " labels, separated by a comma") +
                                 " for " + std::to_string(o.tracks) +
                                 (o.tracks == 1 ? " track" : " tracks") + ", not \"" + l + "\"");
            return false;
        }
        o.labels[0] = l.substr(0, comma);
        if (comma != std::string::npos) o.labels[1] = l.substr(comma + 1);
    }
    if (args.has("speed")) o.speed = args.real("speed") / 3.6;
    if (args.has("csv")) o.csv = args.text("csv");
    if (args.has("psd-plot")) o.plot = args.text("psd-plot");
    if (!o.plot.empty() && !svg_name(o.plot)) {
        complain("road", "--psd-plot writes an SVG picture: its name must end in .svg, not \"" +
                             o.plot + "\"");
        return false;
    }
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
        return exit_software;
    }
    if (!have_status) {
        complain("road", "GENRPROF_SAYERS returned no status array");
        return exit_software;
    }
    if (status != 0) {
        complain("road", "GENRPROF_SAYERS failed (status " + std::to_string(status) + "); " +
                             o.file + " was not written");
        // A file that cannot be made where the folder does not exist;
        // otherwise the synthesis refused what it was asked.
        const std::size_t cut = o.file.find_last_of(path_separators);
        std::error_code ec;
        return std::filesystem::is_directory(
                   cut == std::string::npos ? std::string(".") : o.file.substr(0, cut + 1), ec)
                   ? exit_data
                   : exit_output;
    }
    return 0;
}

// Distance and elevations, one sample a line, every number in its shortest
// form that reads back exactly; finished in out, not yet in place.
bool write_csv(OutputFile &out, const RoadOptions &o, const RprofResult &r) {
    std::FILE *f = out.open(o.csv.c_str());
    if (!f) return false;
    std::string head = "distance_m," + o.labels[0] + "_mm";
    if (o.tracks == 2) head += "," + o.labels[1] + "_mm";
    std::fputs((head + "\n").c_str(), f);
    const analysis::DistanceText distance(o.interval);
    for (int32_t i = 0; i < r.n; ++i) {
        std::string row = distance.at(i) + "," + shortest(r.z1[i]);
        if (o.tracks == 2) row += "," + shortest(r.z2[i]);
        row += '\n';
        std::fputs(row.c_str(), f);
    }
    return out.finish();
}

// The RMS, the roughness index and the class of one track. A track too
// short or too coarse for either keeps the reason instead.
TrackFigures figures_of(const double *z, int32_t n, double interval) {
    TrackFigures f;
    const std::size_t count = static_cast<std::size_t>(n);
    f.rms = analysis::rms(z, count);
    f.rms_mean_removed = psd::rms_about_mean(z, count);
    f.rms_band = psd::band_rms(z, count, interval, psd::class_band_low, psd::class_band_high);
    // A figure worked out but not finite is kept as an infinity, which the
    // command refuses.
    double index = 0.0;
    if (analysis::iri(z, count, interval, index, f.iri_why))
        f.iri = std::isfinite(index) ? index : HUGE_VAL;
    analysis::DensityFit fit;
    if (analysis::fit_class_density(z, count, interval, fit, f.class_why)) {
        f.gd01 = std::isfinite(fit.gd01) ? fit.gd01 : HUGE_VAL;
        f.road_class = analysis::road_class_of(fit.gd01);
    }
    return f;
}

// The first figure of the report that is not a finite number, named with
// its track; "" when every one is. A spectrum of coefficients near the
// largest double gives elevations whose squares overflow.
std::string overflowing_figure(const RoadOptions &o, const std::vector<TrackFigures> &tracks,
                               double expected) {
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        const TrackFigures &f = tracks[t];
        const std::string track = "track " + std::to_string(t + 1) + " \"" + o.labels[t] + "\": ";
        if (!std::isfinite(f.rms)) return track + "the RMS";
        if (std::isinf(f.iri)) return track + "the IRI";
        if (std::isinf(f.gd01)) return track + "the spectral density Gd(0.1)";
    }
    if (std::isinf(expected)) return "the expected IRI";
    return "";
}

// The mean roughness index of the tracks that the coefficients scaled by k
// give for the seed; NaN, with why set, when they cannot be rated.
double mean_iri(Genrprof synthesise, const RoadOptions &o, double k, std::string &why) {
    RprofResult *r = synthesise(o.ga * k, o.ge * k, o.gs * k, o.corr_length, o.length, o.interval,
                                o.tracks, o.seed);
    std::fflush(stdout);
    if (!r || r->n <= 0 || !r->z1 || (o.tracks == 2 && !r->z2)) {
        why = "the tracks could not be synthesised";
        return std::nan("");
    }
    const double *z[2] = {r->z1, r->z2};
    double sum = 0.0;
    for (int t = 0; t < o.tracks; ++t) {
        double index = 0.0;
        if (!analysis::iri(z[t], static_cast<std::size_t>(r->n), o.interval, index, why))
            return std::nan("");
        sum += index;
    }
    return sum / o.tracks;
}

// Finds the factor on ge, gs and ga that gives the tracks of this seed the
// mean index o.iri_target, and applies it. The synthesis is linear in the
// square roots of the coefficients, and the index in the elevations, so
// the index goes with the square root of the factor: one step finds it,
// and a second one takes up the rounding. Returns 0, or exit_usage with the
// reason printed.
int scale_to_target(Genrprof synthesise, RoadOptions &o) {
    double k = 1.0;
    for (int step = 0; step < 4; ++step) {
        std::string why;
        const double index = mean_iri(synthesise, o, k, why);
        if (std::isnan(index)) {
            complain("road", "--iri " + shortest(o.iri_target) + ": " + why);
            return exit_usage;
        }
        if (!(index > 0.0)) {
            complain("road", "--iri " + shortest(o.iri_target) +
                                 ": the tracks are flat (ge, gs and ga are 0), no scale of the "
                                 "spectrum gives them an index");
            return exit_usage;
        }
        const double ratio = o.iri_target / index;
        if (std::fabs(ratio - 1.0) <= 1e-12) break;
        k *= ratio * ratio;
        if (!std::isfinite(k * o.ge) || !std::isfinite(k * o.gs) || !std::isfinite(k * o.ga) ||
            !(k > 0.0)) {
            complain("road", "--iri " + shortest(o.iri_target) +
                                 ": the spectrum would have to be scaled by " + shortest(k) +
                                 ", beyond the range of the coefficients");
            return exit_usage;
        }
    }
    o.scale = k;
    o.ge *= k;
    o.gs *= k;
    o.ga *= k;
    return 0;
}

// "2.41 m/km" or "n/a (why)".
std::string index_text(const TrackFigures &f) {
    if (std::isnan(f.iri)) return "IRI n/a (" + f.iri_why + ")";
    char text[64];
    std::snprintf(text, sizeof text, "IRI %.4g m/km", f.iri);
    return text;
}

std::string class_text(const TrackFigures &f) {
    if (f.road_class == 0) return "class n/a (" + f.class_why + ")";
    char text[96];
    std::snprintf(text, sizeof text, "class %c (Gd(0.1) %.4g mm^2*m)", f.road_class, f.gd01);
    return text;
}

void print_report(const RoadOptions &o, const RprofResult &r,
                  const std::vector<TrackFigures> &tracks, std::int64_t padded, double expected) {
    std::printf("wrote %s: %s of %s, %s m apart (0 to %s m)\n", o.file.c_str(),
                counted(o.tracks, "channel", "channels").c_str(),
                counted(r.n, "sample", "samples").c_str(), shortest(o.interval).c_str(),
                shortest(r.x[r.n - 1]).c_str());
    std::printf("  last group filled up with the last sample: %lld point%s per channel "
                "(PADDED_POINTS)\n",
                static_cast<long long>(padded), padded == 1 ? "" : "s");
    std::printf("  seed %d%s\n", o.seed, o.clock_seed ? " (from the clock)" : "");
    if (o.road_class != 0)
        std::printf("  class %c: Gd(0.1) %s mm^2*m\n", o.road_class,
                    shortest(analysis::class_density(o.road_class)).c_str());
    if (o.iri_target > 0.0) {
        double mean = 0.0;
        for (const TrackFigures &f : tracks)
            mean += f.iri / static_cast<double>(tracks.size());
        std::printf("  --iri %s m/km: spectrum scaled by %.6g; mean IRI of the tracks %.4g m/km\n",
                    shortest(o.iri_target).c_str(), o.scale, mean);
    }
    std::printf("  spectrum: ge %.6g mm^2*m, gs %.6g mm^2/m, ga %.6g mm^2/m^3; expected IRI "
                "%.4g m/km (closed form)\n",
                o.ge, o.gs, o.ga, expected);
    for (int t = 0; t < o.tracks; ++t)
        std::printf("  track %d \"%s\": RMS %.6g mm (%.6g about the mean, %.6g in the class "
                    "band), %s, %s\n",
                    t + 1, o.labels[t].c_str(), tracks[static_cast<std::size_t>(t)].rms,
                    tracks[static_cast<std::size_t>(t)].rms_mean_removed,
                    tracks[static_cast<std::size_t>(t)].rms_band,
                    index_text(tracks[static_cast<std::size_t>(t)]).c_str(),
                    class_text(tracks[static_cast<std::size_t>(t)]).c_str());
}

// The profile the host function wrote in distance, again in time: the same
// data, DELTA_T the interval over the speed, the time axis named and the
// speed kept. Finished in out, not yet in place; false with the reason
// printed.
bool write_in_time(OutputFile &out, const RoadOptions &o, const std::string &distance_file) {
    std::string bytes, timed, error;
    if (!read_input(distance_file.c_str(), analysis::profile_file_max, bytes, error) ||
        !analysis::rpc3_with_records(bytes,
                                     {{"DELTA_T", analysis::rpc3_real(o.interval / o.speed)},
                                      {"TIME_TYPE", "DRIVE"},
                                      {analysis::rpc3_x_label_key, "time"},
                                      {analysis::rpc3_x_units_key, "s"},
                                      {analysis::rpc3_speed_key, analysis::rpc3_real(o.speed)}},
                                     timed, error)) {
        complain("road", distance_file + ": " + error + "; nothing was written");
        return false;
    }
    std::FILE *f = out.open(o.file.c_str(), true);
    if (f) std::fwrite(timed.data(), 1, timed.size(), f);
    if (!f || !out.finish()) {
        complain("road", out.error() + "; nothing was written");
        return false;
    }
    return true;
}

// Writes the CSV table and the plot that were asked for, finished but not
// yet in place. Returns 0, or exit_output with the reason printed.
int write_reports(const RoadOptions &o, const RprofResult &r, OutputFile &csv, OutputFile &plot) {
    if (!o.csv.empty() && !write_csv(csv, o, r)) {
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

} // namespace

int run_road(int argc, char **argv) {
    Parsed args;
    if (int status = parse_command_line(road_command(), argc, argv, args); status >= 0)
        return status;
    RoadOptions o;
    if (!read_options(args, o)) return exit_usage;
    // Two outputs of one run must be two files: otherwise the one written
    // last would replace the other.
    const std::vector<NamedFile> none,
        named = {{"OUT_FILE", o.file}, {"--csv", o.csv}, {"--psd-plot", o.plot}};
    if (!outputs_apart("road", none, named)) return exit_usage;
    double samples = expected_samples(o);
    if (!o.plot.empty() && samples >= 0.0 && samples < analysis::plot_min_samples) {
        complain("road", "--psd-plot needs at least " + std::to_string(analysis::plot_min_samples) +
                             " samples; --length and --interval give " + shortest(samples));
        return exit_usage;
    }

    Session session;
    if (!start_session(session, "road", args.plugin())) return exit_no_plugin;
    auto synthesise = session.plugin().get<Genrprof>("genrprof_sayers");
    if (!synthesise) {
        complain("road", session.plugin().error());
        return exit_no_plugin;
    }
    // A profile the host function would refuse is left to it, so that its
    // message and status are the command's.
    if (o.iri_target > 0.0 && samples >= 1.0 && samples <= INT32_MAX) {
        if (int status = scale_to_target(synthesise, o); status != 0) return status;
    }
    // The outputs are committed together: the table and the plot are
    // written under temporary names, the host function writes the profile
    // under its own name, and a failure of any of them leaves the files
    // that were there before as they were.
    // In time, the host function writes the profile in distance under a
    // scratch name beside it, which goes when the command ends.
    OutputFile rpc, csv, plot, scratch;
    const std::string written = o.speed > 0.0 ? o.file + ".distance" : o.file;
    (o.speed > 0.0 ? scratch : rpc).written_in_place(written.c_str());
    if (int status = run_host_function(session, o, written); status != 0) return status;
    // The same arguments, the seed included, give the same tracks.
    RprofResult *r =
        synthesise(o.ga, o.ge, o.gs, o.corr_length, o.length, o.interval, o.tracks, o.seed);
    std::fflush(stdout);
    if (!r || r->n <= 0 || !r->x || !r->z1 || (o.tracks == 2 && !r->z2)) {
        complain("road", "the tracks could not be synthesised again; nothing was written");
        return exit_output;
    }
    std::vector<TrackFigures> tracks;
    const double *z[2] = {r->z1, r->z2};
    for (int t = 0; t < o.tracks; ++t)
        tracks.push_back(figures_of(z[t], r->n, o.interval));
    const double expected = analysis::iri_expected(o.ge, o.gs, o.ga, o.interval);
    if (const std::string what = overflowing_figure(o, tracks, expected); !what.empty()) {
        complain("road", what + " is beyond the range of a double (ge " + shortest(o.ge) + ", gs " +
                             shortest(o.gs) + ", ga " + shortest(o.ga) + "); nothing was written");
        return exit_data;
    }
    if (o.iri_target > 0.0) {
        double mean = 0.0;
        for (const TrackFigures &f : tracks)
            mean += f.iri / o.tracks;
        if (!(std::fabs(mean / o.iri_target - 1.0) <= 0.01)) {
            complain("road", "the tracks written have the mean IRI " + shortest(mean) +
                                 " m/km, not the " + shortest(o.iri_target) +
                                 " asked for; nothing was written");
            return exit_data;
        }
    }
    // The file read back as any reader reads it: the padding it reports is
    // the padding written.
    analysis::Rpc3File back;
    std::string error;
    if (!analysis::read_rpc3(written, back, error)) {
        complain("road", "the file written does not read back: " + error + "; nothing was written");
        return exit_output;
    }
    if (o.speed > 0.0 && !write_in_time(rpc, o, written)) return exit_output;
    const std::int64_t padded = back.stored_points - back.points;
    if (int status = write_reports(o, *r, csv, plot); status != 0) return status;
    std::vector<OutputFile *> outputs{&rpc};
    if (!o.csv.empty()) outputs.push_back(&csv);
    if (!o.plot.empty()) outputs.push_back(&plot);
    if (!commit_together(outputs)) {
        for (const OutputFile *f : outputs)
            if (!f->error().empty()) complain("road", f->error() + "; nothing was written");
        return exit_output;
    }
    print_report(o, *r, tracks, padded, expected);
    if (o.speed > 0.0)
        std::printf("  in time at %s km/h: DELTA_T %s s, a drive file (TIME_TYPE DRIVE)\n",
                    shortest(o.speed * 3.6).c_str(), shortest(o.interval / o.speed).c_str());
    if (!o.csv.empty()) std::printf("wrote %s\n", o.csv.c_str());
    if (!o.plot.empty()) std::printf("wrote %s\n", o.plot.c_str());
    if (args.json()) {
        auto number_or_null = [](double v) {
            return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json(nullptr);
        };
        nlohmann::json list = nlohmann::json::array();
        for (int t = 0; t < o.tracks; ++t) {
            const TrackFigures &f = tracks[static_cast<std::size_t>(t)];
            list.push_back({{"label", o.labels[t]},
                            {"rms_mm", f.rms},
                            {"rms_mean_removed_mm", f.rms_mean_removed},
                            {"rms_band_mm", f.rms_band},
                            {"iri_m_per_km", number_or_null(f.iri)},
                            {"gd01_mm2_m", number_or_null(f.gd01)},
                            {"class", f.road_class ? nlohmann::json(std::string(1, f.road_class))
                                                   : nlohmann::json(nullptr)}});
        }
        nlohmann::json files = {o.file};
        if (!o.csv.empty()) files.push_back(o.csv);
        if (!o.plot.empty()) files.push_back(o.plot);
        nlohmann::json object = {{"file", o.file},
                                 {"samples", r->n},
                                 {"interval_m", o.interval},
                                 {"length_m", r->x[r->n - 1]},
                                 {"seed", o.seed},
                                 {"seed_from_clock", o.clock_seed},
                                 {"padded_points", padded},
                                 {"ge_mm2_m", o.ge},
                                 {"gs_mm2_per_m", o.gs},
                                 {"ga_mm2_per_m3", o.ga},
                                 {"iri_expected_m_per_km", number_or_null(expected)},
                                 {"tracks", list},
                                 {"files", files},
                                 {"status", 0}};
        if (o.speed > 0.0) {
            object["speed_kmh"] = o.speed * 3.6;
            object["delta_t_s"] = o.interval / o.speed;
        }
        // The class of the spectrum synthesised: after --iri scaling it
        // need not be the one asked for.
        if (o.road_class != 0) object["requested_class"] = std::string(1, o.road_class);
        if (o.road_class != 0 || o.iri_target > 0.0) {
            const double w = 2.0 * 3.14159265358979323846 * 0.1;
            const char c = analysis::road_class_of(o.ge + o.gs / (w * w) + o.ga / (w * w * w * w));
            object["class"] = c ? nlohmann::json(std::string(1, c)) : nlohmann::json(nullptr);
        }
        if (o.iri_target > 0.0) {
            object["iri_target_m_per_km"] = o.iri_target;
            object["scale"] = o.scale;
        }
        json_output::emit(object);
    }
    return 0;
}

} // namespace sorvan::cli
