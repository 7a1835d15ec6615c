// sorvan profile: reads a road profile back, from an RPC III time history
// or from the CSV table that sorvan road writes, and reports each channel:
// its points, spacing, mean, RMS, extremes, roughness index and road class.
// It can write the channels as a table and draw their spectral densities
// against the class bounds.
#include "analysis/iri.h"
#include "analysis/moments.h"
#include "analysis/number_text.h"
#include "analysis/profile_table.h"
#include "analysis/psd.h"
#include "analysis/road_class.h"
#include "analysis/road_plot.h"
#include "analysis/rpc3_file.h"
#include "cli/commands.h"
#include "cli/json_output.h"

#include "frame/file_identity.h"
#include "frame/output_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace sorvan::cli {

namespace {

const std::vector<OptionSpec> profile_options = {
    {"csv", "OUT",
     "also write the channels as a table: distance_m, then one column per channel named "
     "LABEL_UNIT, each number in its shortest exact form",
     "", Kind::text},
    {"psd-plot", "OUT.svg",
     "also draw the estimated spectral density (Welch) of every elevation channel against the "
     "bounds of the road classes (needs 64 points)",
     "", Kind::text},
};

const CommandSpec profile_spec{
    "profile",
    "FILE [--csv OUT] [--psd-plot OUT.svg] [--json]",
    1,
    1,
    "FILE",
    &profile_options,
    true,
    "Reads a road profile back and reports each of its channels: label, unit, points,\n"
    "spacing, mean, RMS, minimum and maximum, and for channels of elevations in a length unit\n"
    "(mm, m, cm, um, in, ft, ...) the International Roughness Index (IRI, m/km; 11 m of\n"
    "profile or more) and the road class A to H that its spectral density at 0.1 cycle/m\n"
    "falls into (320 m of profile or more). FILE is an RPC III time history (any\n"
    "producer, 16-bit or floating-point data, either byte order; DELTA_T is taken as the\n"
    "spacing in metres, and the points that PADDED_POINTS names as filling up the last\n"
    "group are left out) or a CSV table as sorvan road --csv writes it: a header\n"
    "distance_m,LABEL_UNIT,... and one row per sample, the distances evenly spaced. The\n"
    "outputs are written together: either all of them replace their files or none does.",
    "Exit status: 0 read; 64 bad command line (an output naming FILE or another output among\n"
    "them); 65 FILE is malformed (the message names the header key, byte offset or line at\n"
    "fault), gives a figure beyond the range of a double, or has no elevation channel to\n"
    "draw; 66 FILE unreadable, not a regular file or larger than 1 GiB; 70 the command\n"
    "stopped (memory ran out); 73 an output could not be written."};

// One channel as reported.
struct Channel {
    std::string label, unit;
    std::vector<double> values; // in unit
    double mm = 0.0;            // millimetres per unit; 0 when unit is no length
    double mean = 0.0, rms = 0.0, min = 0.0, max = 0.0;
    double rms_mean_removed = 0.0, rms_band = 0.0;         // about the mean; in the class band
    double iri = std::numeric_limits<double>::quiet_NaN(); // m/km
    std::string iri_why;
    double gd01 = std::numeric_limits<double>::quiet_NaN(); // mm^2 m
    char road_class = 0;
    std::string class_why;
};

struct Profile {
    std::string kind;           // "RPC III" or "CSV"
    double interval = 0.0;      // m
    std::int64_t stored = 0;    // points per channel in the file, padding included
    std::int64_t points = 0;    // real points per channel
    bool padding_known = false; // the file said how many points pad it
    bool time_based = false;    // an RPC III file in time: DELTA_T in seconds
    double delta_t = 0.0;       // s, in time
    double speed = 0.0;         // m/s of a road in time; 0 when the file names none
    std::vector<Channel> channels;
};

// Why a file in time without a speed has no roughness figures.
const char no_distance[] = "a time history that names no speed (SPEED_M_S) has no distance";

// Whether name ends in ext (lower case, with its dot), in any case.
bool ends_with(const std::string &name, const char *ext) {
    const std::size_t n = std::strlen(ext);
    if (name.size() < n) return false;
    std::string tail = name.substr(name.size() - n);
    for (char &c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ext;
}

// A text table rather than an RPC III file: the file does not begin with
// the FORMAT keyword, and its name ends in .csv or its first line is
// printable text that names the distance or holds a comma.
bool looks_like_table(const std::string &name, const std::string &bytes) {
    if (bytes.compare(0, 6, "FORMAT") == 0) return false;
    if (ends_with(name, ".csv")) return true;
    const std::size_t end = std::min(bytes.find('\n'), bytes.size());
    const std::string first = bytes.substr(0, end);
    if (first.find(',') == std::string::npos && !ends_with(first.substr(0, 8), "distance"))
        return false;
    return std::all_of(first.begin(), first.end(), [](char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return (u >= 0x20 && u < 0x7f) || c == '\r' || c == '\t';
    });
}

bool read_rpc3_profile(const std::string &name, const std::string &bytes, Profile &p,
                       std::string &error) {
    analysis::Rpc3File f;
    if (!analysis::read_rpc3(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                             name, f, error))
        return false;
    p.kind = "RPC III";
    p.interval = f.delta_t;
    if (f.time_based) {
        p.time_based = true;
        p.delta_t = f.delta_t;
        p.speed = f.speed;
        p.interval = f.delta_t * f.speed; // 0 without a speed
    }
    p.stored = f.stored_points;
    p.points = f.points;
    p.padding_known = f.padding_known;
    for (analysis::Rpc3Channel &c : f.channels) {
        Channel ch;
        ch.label = c.label;
        ch.unit = c.unit;
        ch.values = std::move(c.values);
        p.channels.push_back(std::move(ch));
    }
    return true;
}

bool read_table_profile(const std::string &name, const std::string &bytes, Profile &p,
                        std::string &error) {
    analysis::ProfileTable t;
    if (!analysis::read_profile_table(bytes, name, t, error)) return false;
    const double metres =
        t.distance_unit.empty() ? 1.0 : analysis::millimetres_per(t.distance_unit) / 1000.0;
    if (!(metres > 0.0)) {
        error =
            name + ": line 1: the distance's unit \"" + t.distance_unit + "\" is not a length unit";
        return false;
    }
    p.kind = "CSV";
    p.interval = t.interval * metres;
    p.stored = p.points = static_cast<std::int64_t>(t.distance.size());
    for (std::size_t k = 0; k < t.labels.size(); ++k) {
        Channel ch;
        ch.label = t.labels[k];
        ch.unit = t.units[k];
        ch.values = std::move(t.values[k]);
        p.channels.push_back(std::move(ch));
    }
    return true;
}

// Mean, RMS, extremes; for elevations in a length unit the index and the
// class, from the values in millimetres.
void describe(Channel &c, double interval, bool time_based) {
    const std::size_t n = c.values.size();
    c.min = HUGE_VAL;
    c.max = -HUGE_VAL;
    for (double v : c.values) {
        c.min = std::min(c.min, v);
        c.max = std::max(c.max, v);
    }
    if (n == 0) c.min = c.max = 0.0;
    c.mean = analysis::mean(c.values.data(), n);
    c.rms = analysis::rms(c.values.data(), n);
    c.rms_mean_removed = psd::rms_about_mean(c.values.data(), n);
    c.rms_band =
        psd::band_rms(c.values.data(), n, interval, psd::class_band_low, psd::class_band_high);
    c.mm = analysis::millimetres_per(c.unit);
    if (time_based && !(interval > 0.0)) {
        c.iri_why = c.class_why = no_distance;
        return;
    }
    if (c.mm == 0.0) {
        c.iri_why = c.class_why = "unit \"" + c.unit + "\" is not a length";
        return;
    }
    std::vector<double> mm(c.values);
    for (double &v : mm)
        v *= c.mm;
    double index = 0.0;
    // A figure worked out but not finite is kept as an infinity, which
    // the report refuses.
    if (analysis::iri(mm.data(), n, interval, index, c.iri_why))
        c.iri = std::isfinite(index) ? index : HUGE_VAL;
    analysis::DensityFit fit;
    if (analysis::fit_class_density(mm.data(), n, interval, fit, c.class_why)) {
        c.gd01 = std::isfinite(fit.gd01) ? fit.gd01 : HUGE_VAL;
        c.road_class = analysis::road_class_of(fit.gd01);
    }
}

// The first figure of the report that is not a finite number, named with
// its channel; "" when every one is. Finite values in a file can still
// give one: elevations near the largest double in millimetres, or a
// spectral density that squares them.
std::string overflowing_figure(const Profile &p) {
    if (!std::isfinite(p.interval)) return "the spacing of the points in metres";
    for (std::size_t k = 0; k < p.channels.size(); ++k) {
        const Channel &c = p.channels[k];
        const std::string channel = "channel " + std::to_string(k + 1) + " \"" + c.label + "\": ";
        const std::pair<const char *, double> figures[] = {{"the mean", c.mean},
                                                           {"the RMS", c.rms},
                                                           {"the minimum", c.min},
                                                           {"the maximum", c.max}};
        for (const auto &[what, v] : figures)
            if (!std::isfinite(v)) return channel + what;
        if (c.mm != 0.0 && !std::isfinite(std::fmax(std::fabs(c.min), std::fabs(c.max)) * c.mm))
            return channel + "the elevations in millimetres";
        if (std::isinf(c.iri)) return channel + "the IRI";
        if (std::isinf(c.gd01)) return channel + "the spectral density Gd(0.1)";
    }
    return "";
}

// A label as a column name: commas would split it, line ends end the row.
std::string column_label(const std::string &label) {
    std::string out = label;
    for (char &c : out)
        if (c == ',' || c == '\n' || c == '\r') c = '?';
    return out;
}

bool write_table(OutputFile &out, const std::string &name, const Profile &p) {
    std::FILE *f = out.open(name.c_str());
    if (!f) return false;
    std::string head = p.time_based ? "time_s" : "distance_m";
    for (const Channel &c : p.channels)
        head += "," + column_label(c.label) + "_" + column_label(c.unit);
    std::fputs((head + "\n").c_str(), f);
    const analysis::DistanceText distance(p.time_based ? p.delta_t : p.interval);
    for (std::int64_t i = 0; i < p.points; ++i) {
        std::string row = distance.at(i);
        for (const Channel &c : p.channels)
            row += "," + shortest(c.values[static_cast<std::size_t>(i)]);
        row += '\n';
        std::fputs(row.c_str(), f);
    }
    return out.finish();
}

// The plot of the elevation channels, in millimetres. Returns 0, or the
// exit status with the reason printed.
int write_plot(OutputFile &out, const std::string &name, const std::string &input,
               const Profile &p) {
    std::vector<std::vector<double>> mm;
    analysis::ProfilePlot plot;
    for (const Channel &c : p.channels) {
        if (c.mm == 0.0) continue;
        mm.emplace_back(c.values);
        for (double &v : mm.back())
            v *= c.mm;
    }
    std::size_t k = 0;
    for (const Channel &c : p.channels)
        if (c.mm != 0.0) plot.channels.push_back({mm[k++].data(), c.label});
    if (p.time_based && !(p.interval > 0.0)) {
        complain("profile", input + ": " + no_distance + ": no spectrum over wavenumbers to draw");
        return exit_data;
    }
    if (plot.channels.empty()) {
        complain("profile", input +
                                ": no channel holds elevations in a length unit: nothing to "
                                "draw in " +
                                name);
        return exit_data;
    }
    if (p.points > std::numeric_limits<std::int32_t>::max()) {
        complain("profile", input + ": too many points to draw");
        return exit_data;
    }
    plot.n = static_cast<std::int32_t>(p.points);
    plot.interval = p.interval;
    plot.title = input;
    std::string error;
    const std::string svg = analysis::profile_plot_svg(plot, error);
    if (svg.empty()) {
        complain("profile", input + ": " + error);
        return exit_data;
    }
    std::FILE *f = out.open(name.c_str());
    if (f) std::fwrite(svg.data(), 1, svg.size(), f);
    if (!f || !out.finish()) {
        complain("profile", out.error());
        return exit_output;
    }
    return 0;
}

std::string figure(const char *format, double v) {
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

void print_report(const std::string &input, const Profile &p) {
    std::printf("%s: %s, %s of %s, %s %s apart", input.c_str(), p.kind.c_str(),
                counted(static_cast<long long>(p.channels.size()), "channel", "channels").c_str(),
                counted(p.points, "point", "points").c_str(),
                shortest(p.time_based ? p.delta_t : p.interval).c_str(), p.time_based ? "s" : "m");
    if (p.time_based)
        std::printf(" in time (%s)", p.speed > 0.0 ? ("a road at " + shortest(p.speed) + " m/s, " +
                                                      shortest(p.interval) + " m apart")
                                                         .c_str()
                                                   : "no speed named");
    if (p.stored != p.points)
        std::printf(" (%lld more fill up the last group)",
                    static_cast<long long>(p.stored - p.points));
    std::printf("\n");
    for (std::size_t k = 0; k < p.channels.size(); ++k) {
        const Channel &c = p.channels[k];
        const std::string u = c.unit.empty() ? std::string() : " " + c.unit;
        std::printf("  channel %zu \"%s\" (%s): mean %s%s, RMS %s%s, min %s%s, max %s%s\n", k + 1,
                    c.label.c_str(), c.unit.empty() ? "no unit" : c.unit.c_str(),
                    figure("%.6g", c.mean).c_str(), u.c_str(), figure("%.6g", c.rms).c_str(),
                    u.c_str(), figure("%.6g", c.min).c_str(), u.c_str(),
                    figure("%.6g", c.max).c_str(), u.c_str());
        std::printf("    %s, %s\n",
                    std::isnan(c.iri) ? ("IRI n/a (" + c.iri_why + ")").c_str()
                                      : ("IRI " + figure("%.4g", c.iri) + " m/km").c_str(),
                    c.road_class ? ("class " + std::string(1, c.road_class) + " (Gd(0.1) " +
                                    figure("%.4g", c.gd01) + " mm^2*m)")
                                       .c_str()
                                 : ("class n/a (" + c.class_why + ")").c_str());
    }
}

nlohmann::json number_or_null(double v) {
    return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json(nullptr);
}

// A channel's figures: the mean, RMS and extremes in the channel's own unit,
// as the file holds it; the roughness figures of an elevation in
// millimetres (null when the unit is no length).
nlohmann::json channel_json(const Channel &c, std::int64_t points, double interval) {
    auto mm = [&c](double v) { return c.mm != 0.0 ? number_or_null(v * c.mm) : nullptr; };
    return {{"label", c.label},
            {"unit", c.unit},
            {"points", points},
            {"interval_m", interval > 0.0 ? nlohmann::json(interval) : nlohmann::json()},
            {"mean", c.mean},
            {"rms", c.rms},
            {"min", c.min},
            {"max", c.max},
            {"rms_mm", mm(c.rms)},
            {"rms_mean_removed_mm", mm(c.rms_mean_removed)},
            {"rms_band_mm", mm(c.rms_band)},
            {"iri_m_per_km", number_or_null(c.iri)},
            {"gd01_mm2_m", number_or_null(c.gd01)},
            {"class", c.road_class ? nlohmann::json(std::string(1, c.road_class))
                                   : nlohmann::json(nullptr)}};
}

} // namespace

int read_road_tracks(const char *command, const std::string &file, RoadTracks &tracks) {
    std::string bytes, error;
    if (!read_input(file.c_str(), analysis::profile_file_max, bytes, error)) {
        complain(command, file + ": " + error);
        return exit_no_input;
    }
    Profile p;
    if (!(looks_like_table(file, bytes) ? read_table_profile(file, bytes, p, error)
                                        : read_rpc3_profile(file, bytes, p, error))) {
        complain(command, error);
        return exit_data;
    }
    tracks = RoadTracks();
    tracks.interval_m = p.interval;
    tracks.time_based = p.time_based;
    for (Channel &c : p.channels) {
        tracks.labels.push_back(c.label);
        tracks.units.push_back(c.unit);
        tracks.values.push_back(std::move(c.values));
        tracks.values.back().resize(static_cast<std::size_t>(p.points));
    }
    return 0;
}

const CommandSpec &profile_command() {
    return profile_spec;
}

int run_profile(int argc, char **argv) {
    Parsed args;
    if (int status = parse_command_line(profile_spec, argc, argv, args); status >= 0) return status;
    const std::string input = args.words()[0];
    const std::string csv = args.has("csv") ? args.text("csv") : std::string();
    const std::string plot = args.has("psd-plot") ? args.text("psd-plot") : std::string();
    if (!plot.empty() && !ends_with(plot, ".svg")) {
        complain("profile", "--psd-plot writes an SVG picture: its name must end in .svg, not \"" +
                                plot + "\"");
        return exit_usage;
    }
    // The input and the outputs must be three files: an output written over
    // the input, or over another output, would lose one of them.
    if (!outputs_apart("profile", {{"FILE", input}}, {{"--csv", csv}, {"--psd-plot", plot}}))
        return exit_usage;

    std::string bytes, error;
    if (!read_input(input.c_str(), analysis::profile_file_max, bytes, error)) {
        complain("profile", input + ": " + error);
        return exit_no_input;
    }
    Profile p;
    const bool table = looks_like_table(input, bytes);
    if (!(table ? read_table_profile(input, bytes, p, error)
                : read_rpc3_profile(input, bytes, p, error))) {
        complain("profile", error);
        return exit_data;
    }
    bytes.clear();
    bytes.shrink_to_fit();
    for (Channel &c : p.channels)
        describe(c, p.interval, p.time_based);
    if (const std::string what = overflowing_figure(p); !what.empty()) {
        complain("profile", input + ": " + what +
                                " is beyond the range of a double: the values are too large to "
                                "rate; nothing was written");
        return exit_data;
    }

    OutputFile table_out, plot_out;
    std::vector<OutputFile *> outputs;
    if (!csv.empty()) {
        if (!write_table(table_out, csv, p)) {
            complain("profile", table_out.error());
            return exit_output;
        }
        outputs.push_back(&table_out);
    }
    if (!plot.empty()) {
        if (int status = write_plot(plot_out, plot, input, p); status != 0) return status;
        outputs.push_back(&plot_out);
    }
    if (!outputs.empty() && !commit_together(outputs)) {
        for (const OutputFile *f : outputs)
            if (!f->error().empty()) complain("profile", f->error() + "; nothing was written");
        return exit_output;
    }
    print_report(input, p);
    for (const OutputFile *f : outputs)
        std::printf("wrote %s\n", f == &table_out ? csv.c_str() : plot.c_str());
    if (args.json()) {
        nlohmann::json channels = nlohmann::json::array();
        for (const Channel &c : p.channels)
            channels.push_back(channel_json(c, p.points, p.interval));
        nlohmann::json files = nlohmann::json::array();
        if (!csv.empty()) files.push_back(csv);
        if (!plot.empty()) files.push_back(plot);
        json_output::emit(
            {{"file", input},
             {"format", p.kind},
             {"stored_points", p.stored},
             {"padding_known", p.padding_known},
             {"axis", p.time_based ? "time" : "distance"},
             {"delta_t_s", p.time_based ? nlohmann::json(p.delta_t) : nlohmann::json()},
             {"speed_m_s", p.speed > 0.0 ? nlohmann::json(p.speed) : nlohmann::json()},
             {"channels", channels},
             {"files", files}});
    }
    return 0;
}

} // namespace sorvan::cli
