// The road spectral density plot, drawn as plain SVG text.
#include "analysis/road_plot.h"

#include "analysis/number_text.h"
#include "analysis/psd.h"
#include "analysis/road_class.h"
#include "analysis/svg.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <map>

namespace sorvan::analysis {

namespace {

const double pi = std::acos(-1.0);

// The cross-track corner constant, pi sqrt(2), as the synthesis uses it.
constexpr double corner = 4.44288293815837;

// Estimates are averaged over bands of a tenth of a decade, so that the
// thousands of periodogram bins at short wavelengths draw as one steady
// line while the few at long wavelengths keep their own points.
constexpr double bands_per_decade = 10.0;

// Most decades the density axis spans: below that the plot is dominated by
// the long-wavelength content and the rest would be an unreadable sliver.
constexpr double max_decades = 10.0;

// Points of each model curve, spread evenly on the logarithmic axis.
constexpr int model_points = 240;

// Page and panel geometry, in SVG user units (pixels).
constexpr double page_width = 820;
constexpr double left = 96, right = 790;
constexpr double psd_top = 78, psd_bottom = 468;
constexpr double coh_top = 548, coh_bottom = 788;

const char *const track_colour[2] = {"#1f5fb4", "#d2691e"};

// ---- text helpers -----------------------------------------------------------

std::string fmt(const char *format, double v) {
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

std::string num(double v) {
    return svg::number(v);
}

using svg::decade_label;
using svg::escape;
using svg::line;
using svg::text;

// ---- axes -------------------------------------------------------------------

// A logarithmic axis over whole decades [10^lo, 10^hi], or a linear one.
struct Axis {
    double lo, hi; // decades (log) or values (linear)
    bool log;
    double from, to; // screen coordinates of lo and hi

    double at(double v) const {
        double t = ((log ? std::log10(v) : v) - lo) / (hi - lo);
        return from + t * (to - from);
    }
};

Axis log_axis(double vmin, double vmax, double from, double to) {
    double lo = std::floor(std::log10(vmin)), hi = std::ceil(std::log10(vmax));
    if (hi <= lo) hi = lo + 1;
    return Axis{lo, hi, true, from, to};
}

// Grid lines and labels of a logarithmic x axis across the panel.
std::string x_grid(const Axis &x, double top, double bottom) {
    std::string s;
    for (int d = static_cast<int>(x.lo); d <= static_cast<int>(x.hi); ++d) {
        double base = std::pow(10.0, d);
        for (int m = 2; m <= 9 && d < x.hi; ++m)
            s += line(x.at(m * base), top, x.at(m * base), bottom, "class=\"minor\"");
        s += line(x.at(base), top, x.at(base), bottom, "class=\"major\"");
        s += text(x.at(base), bottom + 20, decade_label(d), "text-anchor=\"middle\"");
    }
    return s;
}

std::string y_log_grid(const Axis &y) {
    std::string s;
    for (int d = static_cast<int>(y.lo); d <= static_cast<int>(y.hi); ++d) {
        double base = std::pow(10.0, d);
        for (int m = 2; m <= 9 && d < y.hi; ++m)
            s += line(left, y.at(m * base), right, y.at(m * base), "class=\"minor\"");
        s += line(left, y.at(base), right, y.at(base), "class=\"major\"");
        s += text(left - 8, y.at(base) + 4, decade_label(d), "text-anchor=\"end\"");
    }
    return s;
}

std::string y_linear_grid(const Axis &y) {
    std::string s;
    for (int k = 0; k <= 10; ++k) {
        double v = k / 10.0;
        s += line(left, y.at(v), right, y.at(v), k % 2 ? "class=\"minor\"" : "class=\"major\"");
        if (k % 2 == 0) s += text(left - 8, y.at(v) + 4, fmt("%.1f", v), "text-anchor=\"end\"");
    }
    return s;
}

std::string frame(double top, double bottom, const std::string &x_title,
                  const std::string &y_title) {
    std::string s = "<rect x=\"" + num(left) + "\" y=\"" + num(top) + "\" width=\"" +
                    num(right - left) + "\" height=\"" + num(bottom - top) +
                    "\" fill=\"none\" stroke=\"#333\"/>\n";
    s += text((left + right) / 2, bottom + 44, x_title, "text-anchor=\"middle\"");
    double mid = (top + bottom) / 2;
    s += "<text x=\"0\" y=\"0\" text-anchor=\"middle\" transform=\"translate(" + num(26) + " " +
         num(mid) + ") rotate(-90)\">" + y_title + "</text>\n";
    return s;
}

// A curve through the points, broken where a value cannot be drawn (not
// positive on a logarithmic axis, or not finite).
std::string curve(const std::vector<BandPoint> &pts, const Axis &x, const Axis &y,
                  const char *style, const char *clip) {
    std::string d;
    bool pen_down = false;
    for (const BandPoint &p : pts) {
        bool ok = std::isfinite(p.value) && (!y.log || p.value > 0.0) && p.wavenumber > 0.0;
        if (!ok) {
            pen_down = false;
            continue;
        }
        d += (pen_down ? " L" : " M") + num(x.at(p.wavenumber)) + " " + num(y.at(p.value));
        pen_down = true;
    }
    if (d.empty()) return "";
    return std::string("<path clip-path=\"url(#") + clip + ")\" fill=\"none\" " + style + " d=\"" +
           d.substr(1) + "\"/>\n";
}

// Legend entries, one line each, in the top right corner of a panel.
struct LegendEntry {
    std::string style, label;
};

std::string legend(double top, const std::vector<LegendEntry> &entries, bool at_left = false) {
    const double width = 330, x = at_left ? left + 10 : right - width - 10, row = 18;
    std::string s = "<rect x=\"" + num(x) + "\" y=\"" + num(top + 10) + "\" width=\"" + num(width) +
                    "\" height=\"" + num(row * static_cast<double>(entries.size()) + 10) +
                    "\" fill=\"white\" fill-opacity=\"0.9\" stroke=\"#999\"/>\n";
    for (size_t k = 0; k < entries.size(); ++k) {
        double y = top + 10 + row * static_cast<double>(k + 1);
        s += "<line x1=\"" + num(x + 10) + "\" y1=\"" + num(y - 4) + "\" x2=\"" + num(x + 40) +
             "\" y2=\"" + num(y - 4) + "\" " + entries[k].style + "/>\n";
        s += text(x + 48, y, entries[k].label);
    }
    return s;
}

// ---- estimates --------------------------------------------------------------

// Band sums of the Welch spectra: auto densities of both records and their
// cross density, per tenth of a decade.
struct Band {
    double log_sum = 0.0; // sum of log10 of the wavenumbers
    double a = 0.0, b = 0.0;
    std::complex<double> ab;
    int bins = 0;
};

std::map<long, Band> bands_of(const psd::CrossSpectrum &s) {
    std::map<long, Band> bands;
    for (size_t k = 0; k < s.wavenumber.size(); ++k) {
        double lv = std::log10(s.wavenumber[k]);
        Band &b = bands[std::lround(std::floor(lv * bands_per_decade))];
        b.log_sum += lv;
        b.a += s.density_a[k];
        b.b += s.density_b[k];
        b.ab += s.cross[k];
        ++b.bins;
    }
    return bands;
}

double band_wavenumber(const Band &b) {
    return std::pow(10.0, b.log_sum / b.bins);
}

std::vector<BandPoint> density_points(const std::map<long, Band> &bands, bool second) {
    std::vector<BandPoint> pts;
    for (const auto &[index, b] : bands)
        pts.push_back({band_wavenumber(b), (second ? b.b : b.a) / b.bins});
    return pts;
}

// Whether every band's summed spectra are finite numbers: elevations near
// the square root of the largest double give densities beyond it, which
// no axis can show.
bool finite_bands(const std::map<long, Band> &bands, std::string &error) {
    for (const auto &[index, b] : bands)
        if (!std::isfinite(b.a) || !std::isfinite(b.b) || !std::isfinite(std::abs(b.ab))) {
            error = "the spectral density is beyond the range of a double: the elevations are "
                    "too large to draw";
            return false;
        }
    return true;
}

// The coherence of each band's summed spectra, which is far less biased
// than the mean of the bins' own coherences where the coherence is small.
std::vector<BandPoint> coherence_points(const std::map<long, Band> &bands) {
    std::vector<BandPoint> pts;
    for (const auto &[index, b] : bands) {
        double d = b.a * b.b;
        pts.push_back({band_wavenumber(b), d > 0.0 ? std::norm(b.ab) / d : 0.0});
    }
    return pts;
}

// The wavenumbers the estimate covers: from the lowest one of a segment to
// the sampling limit. Model curves are drawn over the same range only.
struct Range {
    double lo, hi;
};

template <class F> std::vector<BandPoint> sampled(const Range &r, F f) {
    std::vector<BandPoint> pts;
    double a = std::log10(r.lo), b = std::log10(r.hi);
    for (int k = 0; k <= model_points; ++k) {
        double v = std::pow(10.0, a + (b - a) * k / model_points);
        pts.push_back({v, f(v)});
    }
    return pts;
}

// The density axis: whole decades around every positive value drawn within
// the wavenumber range, at most max_decades of them. With nothing positive
// (all coefficients 0) an arbitrary range is shown.
Axis density_axis(const std::vector<std::vector<BandPoint>> &curves) {
    double lo = HUGE_VAL, hi = 0.0;
    for (const auto &c : curves)
        for (const BandPoint &p : c)
            if (p.value > 0.0 && std::isfinite(p.value)) {
                lo = std::min(lo, p.value);
                hi = std::max(hi, p.value);
            }
    if (!(hi > 0.0)) return Axis{-3, 0, true, psd_bottom, psd_top};
    Axis y = log_axis(std::max(lo, hi / std::pow(10.0, max_decades)), hi, psd_bottom, psd_top);
    return y;
}

// ---- the page ---------------------------------------------------------------

// The page up to its first panel: the SVG element, the grid styles, the
// white ground and the clip paths of both panels.
std::string page_start(double height) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(page_width) + "\" height=\"" +
         num(height) + "\" viewBox=\"0 0 " + num(page_width) + " " + num(height) +
         "\" font-family=\"sans-serif\" font-size=\"13\">\n";
    s += "<style>.major{stroke:#b8b8b8;stroke-width:1}.minor{stroke:#e4e4e4;stroke-width:1}"
         "</style>\n";
    s += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    s += "<defs><clipPath id=\"psd\"><rect x=\"" + num(left) + "\" y=\"" + num(psd_top) +
         "\" width=\"" + num(right - left) + "\" height=\"" + num(psd_bottom - psd_top) +
         "\"/></clipPath><clipPath id=\"coh\"><rect x=\"" + num(left) + "\" y=\"" + num(coh_top) +
         "\" width=\"" + num(right - left) + "\" height=\"" + num(coh_bottom - coh_top) +
         "\"/></clipPath></defs>\n";
    return s;
}

std::string header(const RoadPlot &p, double height, size_t segment, size_t segments) {
    std::string s = page_start(height);
    s += text(left, 26, "Road elevation spectral density", "font-size=\"17\" font-weight=\"bold\"");
    s += text(left, 46,
              escape("ge " + shortest(p.ge) + " mm\u00b2\u00b7m, gs " + shortest(p.gs) +
                     " mm\u00b2/m, ga " + shortest(p.ga) + " mm\u00b2/m\u00b3" +
                     (p.z2 ? ", corr_length " + shortest(p.corr_length) + " m" : "") + "; seed " +
                     std::to_string(p.seed)));
    s += text(left, 64,
              escape(std::to_string(p.n) + " samples " + shortest(p.interval) +
                     " m apart; Welch: " + std::to_string(segments) + " Hann segments of " +
                     std::to_string(segment) + ", half overlapping; tenth-decade bands"),
              "font-size=\"12\" fill=\"#444\"");
    return s;
}

std::string density_panel(const RoadPlot &p, const std::map<long, Band> &bands, const Axis &x,
                          const Range &range) {
    std::vector<std::vector<BandPoint>> curves = {density_points(bands, false)};
    if (p.z2) curves.push_back(density_points(bands, true));
    std::vector<BandPoint> model =
        sampled(range, [&](double v) { return model_density(p.ge, p.gs, p.ga, v); });
    std::vector<std::vector<BandPoint>> all = curves;
    all.push_back(model);
    Axis y = density_axis(all);

    std::string s = x_grid(x, psd_top, psd_bottom) + y_log_grid(y);
    std::vector<LegendEntry> entries;
    for (size_t t = 0; t < curves.size(); ++t) {
        std::string style = std::string("stroke=\"") + track_colour[t] + "\" stroke-width=\"1.6\"";
        s += curve(curves[t], x, y, style.c_str(), "psd");
        entries.push_back({style, escape("track " + std::to_string(t + 1) + " (" +
                                         (t ? p.label2 : p.label1) + "), estimate")});
    }
    const char *model_style = "stroke=\"black\" stroke-width=\"1.4\" stroke-dasharray=\"6 4\"";
    s += curve(model, x, y, model_style, "psd");
    entries.push_back({model_style, "model ge + gs/(2\u03c0v)\u00b2 + ga/(2\u03c0v)\u2074"});
    s += frame(psd_top, psd_bottom, "wavenumber v (cycle/m)",
               "elevation PSD (mm\u00b2 per cycle/m)");
    return s + legend(psd_top, entries);
}

std::string coherence_panel(const RoadPlot &p, const std::map<long, Band> &bands, const Axis &x,
                            const Range &range) {
    Axis y{0.0, 1.0, false, coh_bottom, coh_top};
    std::string s = x_grid(x, coh_top, coh_bottom) + y_linear_grid(y);
    const char *estimate_style = "stroke=\"#2e8b57\" stroke-width=\"1.6\"";
    const char *model_style = "stroke=\"black\" stroke-width=\"1.4\" stroke-dasharray=\"6 4\"";
    s += curve(coherence_points(bands), x, y, estimate_style, "coh");
    s += curve(
        sampled(range, [&](double v) { return model_coherence(p.corr_length, p.interval, v); }), x,
        y, model_style, "coh");
    s += frame(coh_top, coh_bottom, "wavenumber v (cycle/m)", "coherence of the tracks (1)");
    // The coherence falls from 1 at long wavelengths: the lower left corner
    // stays free for the legend.
    return s + legend(coh_bottom - 66,
                      {{estimate_style, "estimate, track 1 with track 2"},
                       {model_style, "model of the cross-track filters"}},
                      true);
}

// The class boundaries Gd(0.1) = 32, 128, ... on the v^-2 slope, each class's
// letter between its two boundaries at the left edge of the panel.
std::string class_bands(const Axis &x, const Axis &y) {
    std::string s;
    const char *style = "stroke=\"#9a9a9a\" stroke-width=\"1\" stroke-dasharray=\"2 3\"";
    const double v_lo = std::pow(10.0, x.lo), v_hi = std::pow(10.0, x.hi);
    auto gd = [](double gd01, double v) {
        return gd01 * (class_wavenumber / v) * (class_wavenumber / v);
    };
    for (int k = 0; k < road_class_count; ++k) {
        const char letter = static_cast<char>('A' + k);
        double lower = 0.0, upper = 0.0;
        class_bounds(letter, lower, upper);
        if (lower > 0.0)
            s += curve({{v_lo, gd(lower, v_lo)}, {v_hi, gd(lower, v_hi)}}, x, y, style, "psd");
        // The letter sits on the class's own line where it crosses the
        // middle of the density axis, when that lies inside the panel.
        const double mid = std::pow(10.0, (y.lo + y.hi) / 2);
        const double v = class_wavenumber * std::sqrt(class_density(letter) / mid);
        if (v > v_lo * 1.05 && v < v_hi / 1.3)
            s += text(x.at(v) + 4, y.at(mid) - 4, std::string(1, letter),
                      "font-size=\"14\" fill=\"#777\" clip-path=\"url(#psd)\"");
    }
    return s;
}

const char *const channel_colour[] = {"#1f5fb4", "#d2691e", "#2e8b57", "#8b008b",
                                      "#b22222", "#008b8b", "#6b6b00", "#444444"};

} // namespace

std::size_t plot_segment(int32_t n) {
    if (n < plot_min_samples) return 0;
    std::size_t segment = 16;
    // Seven half-overlapping segments of L samples need 4 L samples.
    while (segment < 65536 && 4 * (2 * segment) <= static_cast<std::size_t>(n))
        segment *= 2;
    return segment;
}

double model_density(double ge, double gs, double ga, double v) {
    double w = 2.0 * pi * v;
    return ge + gs / (w * w) + ga / (w * w * w * w);
}

double model_coherence(double corr_length, double interval, double v) {
    double wc = corner / corr_length * interval;
    double c = 1.0 - std::cos(2.0 * pi * v * interval);
    double d = wc * wc + 2.0 * (1.0 + wc) * c;
    if (!(d > 0.0)) return 1.0; // at v = 0 the tracks are the same
    double l2 = wc * wc / d, h2 = 2.0 * c / d;
    double r = (1.0 + l2 - h2) / (1.0 + l2 + h2);
    return r * r;
}

std::string road_plot_svg(const RoadPlot &p, std::string &error) {
    std::size_t segment = plot_segment(p.n);
    if (!p.z1 || segment == 0 || !(p.interval > 0.0)) {
        error = "a spectrum needs at least " + std::to_string(plot_min_samples) + " samples";
        return {};
    }
    const double *b = p.z2 ? p.z2 : p.z1;
    psd::CrossSpectrum s =
        psd::welch_cross(p.z1, b, static_cast<std::size_t>(p.n), p.interval, segment);
    if (s.wavenumber.empty()) {
        error = "no spectrum could be estimated";
        return {};
    }
    std::map<long, Band> bands = bands_of(s);
    if (!finite_bands(bands, error)) return {};
    Range range{s.wavenumber.front(), s.wavenumber.back()};
    Axis x = log_axis(range.lo, range.hi, left, right);
    double height = p.z2 ? coh_bottom + 62 : psd_bottom + 62;
    std::string svg = header(p, height, segment, s.segments) + density_panel(p, bands, x, range);
    if (p.z2) svg += coherence_panel(p, bands, x, range);
    svg += "</svg>\n";
    return svg;
}

} // namespace sorvan::analysis

namespace sorvan::analysis {

std::string profile_plot_svg(const ProfilePlot &p, std::string &error) {
    std::size_t segment = plot_segment(p.n);
    if (p.channels.empty() || segment == 0 || !(p.interval > 0.0) || !std::isfinite(p.interval)) {
        error = p.channels.empty()
                    ? "no channel of elevations to draw"
                    : "a spectrum needs at least " + std::to_string(plot_min_samples) +
                          " samples at a positive spacing";
        return {};
    }
    std::vector<std::vector<BandPoint>> curves;
    std::size_t segments = 0;
    double lo = HUGE_VAL, hi = 0.0;
    for (const ProfileChannel &c : p.channels) {
        psd::CrossSpectrum s =
            psd::welch_cross(c.z, c.z, static_cast<std::size_t>(p.n), p.interval, segment);
        if (s.wavenumber.empty()) {
            error = "no spectrum could be estimated";
            return {};
        }
        segments = s.segments;
        lo = std::min(lo, s.wavenumber.front());
        hi = std::max(hi, s.wavenumber.back());
        const std::map<long, Band> bands = bands_of(s);
        if (!finite_bands(bands, error)) {
            error = "channel " + std::to_string(curves.size() + 1) + " (" + c.label + "): " + error;
            return {};
        }
        curves.push_back(density_points(bands, false));
    }
    Axis x = log_axis(lo, hi, left, right);
    Axis y = density_axis(curves);
    std::string svg = page_start(psd_bottom + 62);
    svg += text(left, 26, escape("Road profile spectral density: " + p.title),
                "font-size=\"17\" font-weight=\"bold\"");
    svg += text(left, 46,
                escape(std::to_string(p.n) + " samples " + shortest(p.interval) +
                       " m apart; Welch: " + std::to_string(segments) + " Hann segments of " +
                       std::to_string(segment) + ", half overlapping; tenth-decade bands"),
                "font-size=\"12\" fill=\"#444\"");
    svg += text(left, 64,
                "dotted: bounds of the road classes A to H, Gd(0.1) = 32, 128, ... "
                "131072 mm\u00b2\u00b7m falling as v\u207b\u00b2",
                "font-size=\"12\" fill=\"#444\"");
    svg += x_grid(x, psd_top, psd_bottom) + y_log_grid(y) + class_bands(x, y);
    std::vector<LegendEntry> entries;
    for (std::size_t k = 0; k < curves.size(); ++k) {
        const std::size_t colours = sizeof channel_colour / sizeof channel_colour[0];
        std::string style =
            std::string("stroke=\"") + channel_colour[k % colours] + "\" stroke-width=\"1.6\"";
        svg += curve(curves[k], x, y, style.c_str(), "psd");
        entries.push_back(
            {style, escape("channel " + std::to_string(k + 1) + " (" + p.channels[k].label + ")")});
    }
    svg += frame(psd_top, psd_bottom, "wavenumber v (cycle/m)",
                 "elevation PSD (mm\u00b2 per cycle/m)");
    svg += legend(psd_top, entries);
    svg += "</svg>\n";
    return svg;
}

} // namespace sorvan::analysis
