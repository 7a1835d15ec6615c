// The two-model frequency response plot, drawn as plain SVG text.
#include "analysis/response_plot.h"

#include "analysis/svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sorvan::analysis {

namespace {

const double pi = std::acos(-1.0);

// Page and panel geometry, in SVG user units (pixels).
constexpr double page_width = 820, page_height = 760;
constexpr double left = 96, right = 790;
constexpr double mag_top = 70, mag_bottom = 430;
constexpr double phase_top = 500, phase_bottom = 690;

// Most decades the magnitude axis spans below the largest magnitude.
constexpr double max_decades = 8.0;

const char *const colour[2] = {"#1f5fb4", "#d2691e"};

std::string num(double v) {
    return svg::number(v);
}

using svg::decade_label;
using svg::escape;
using svg::line;
using svg::text;

// A logarithmic axis over whole decades [10^lo, 10^hi], or a linear one.
struct Axis {
    double lo, hi;
    bool log;
    double from, to; // screen coordinates of lo and hi

    double at(double v) const {
        const double t = ((log ? std::log10(v) : v) - lo) / (hi - lo);
        return from + t * (to - from);
    }
};

std::string x_grid(const Axis &x, double top, double bottom) {
    std::string s;
    for (int d = static_cast<int>(x.lo); d <= static_cast<int>(x.hi); ++d) {
        const double base = std::pow(10.0, d);
        for (int m = 2; m <= 9 && d < x.hi; ++m)
            s += line(x.at(m * base), top, x.at(m * base), bottom, "class=\"minor\"");
        s += line(x.at(base), top, x.at(base), bottom, "class=\"major\"");
        s += text(x.at(base), bottom + 20, decade_label(d), "text-anchor=\"middle\"");
    }
    return s;
}

std::string frame(double top, double bottom, const std::string &y_title) {
    std::string s = "<rect x=\"" + num(left) + "\" y=\"" + num(top) + "\" width=\"" +
                    num(right - left) + "\" height=\"" + num(bottom - top) +
                    "\" fill=\"none\" stroke=\"#333\"/>\n";
    s += text((left + right) / 2, bottom + 42, "frequency / Hz", "text-anchor=\"middle\"");
    s += "<text x=\"0\" y=\"0\" text-anchor=\"middle\" transform=\"translate(26 " +
         num((top + bottom) / 2) + ") rotate(-90)\">" + y_title + "</text>\n";
    return s;
}

// One curve; value(k) gives NaN where the point cannot be drawn, and the
// pen lifts there and across a jump of more than jump (phase wrapping).
template <class Value>
std::string curve(const std::vector<double> &f, Value value, const Axis &x, const Axis &y,
                  double jump, const char *clip, const std::string &style) {
    std::string d;
    bool down = false;
    double last = 0.0;
    for (std::size_t k = 0; k < f.size(); ++k) {
        const double v = value(k);
        if (!std::isfinite(v)) {
            down = false;
            continue;
        }
        if (down && std::abs(v - last) > jump) down = false;
        d += (down ? " L" : " M") + num(x.at(f[k])) + " " + num(y.at(v));
        down = true;
        last = v;
    }
    if (d.empty()) return "";
    return std::string("<path class=\"curve\" clip-path=\"url(#") + clip + ")\" fill=\"none\" " +
           style + " d=\"" + d.substr(1) + "\"/>\n";
}

} // namespace

std::string response_plot_svg(const ResponsePlot &plot, std::string &error) {
    const std::vector<double> &f = plot.frequency_hz;
    if (f.empty() || plot.first.size() != f.size() || plot.second.size() != f.size()) {
        error = "the responses do not match the frequencies";
        return "";
    }
    if (!std::all_of(f.begin(), f.end(), [](double v) { return std::isfinite(v) && v > 0.0; })) {
        error = "a frequency of the plot is not above 0";
        return "";
    }
    double top_value = 0.0;
    for (const auto *curve_values : {&plot.first, &plot.second})
        for (const std::complex<double> &h : *curve_values)
            if (std::isfinite(std::abs(h))) top_value = std::max(top_value, std::abs(h));
    if (!(top_value > 0.0)) {
        error = "neither response has a magnitude above 0";
        return "";
    }
    double low_value = top_value;
    for (const auto *curve_values : {&plot.first, &plot.second})
        for (const std::complex<double> &h : *curve_values)
            if (std::abs(h) > 0.0) low_value = std::min(low_value, std::abs(h));
    const auto [f_lo, f_hi] = std::minmax_element(f.begin(), f.end());
    Axis x{std::floor(std::log10(*f_lo)), std::ceil(std::log10(*f_hi)), true, left, right};
    if (x.hi <= x.lo) x.hi = x.lo + 1;
    Axis mag{std::floor(std::log10(low_value)), std::ceil(std::log10(top_value)), true, mag_bottom,
             mag_top};
    mag.lo = std::max(mag.lo, mag.hi - max_decades);
    if (mag.hi <= mag.lo) mag.lo = mag.hi - 1;
    const Axis phase{-180.0, 180.0, false, phase_bottom, phase_top};

    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    num(page_width) + "\" height=\"" + num(page_height) + "\" viewBox=\"0 0 " +
                    num(page_width) + " " + num(page_height) +
                    "\" font-family=\"sans-serif\" font-size=\"13\">\n"
                    "<style>.major{stroke:#bbb;stroke-width:1}.minor{stroke:#e4e4e4;"
                    "stroke-width:1}</style>\n"
                    "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
                    "<defs><clipPath id=\"mag\"><rect x=\"" +
                    num(left) + "\" y=\"" + num(mag_top) + "\" width=\"" + num(right - left) +
                    "\" height=\"" + num(mag_bottom - mag_top) +
                    "\"/></clipPath><clipPath id=\"phase\"><rect x=\"" + num(left) + "\" y=\"" +
                    num(phase_top) + "\" width=\"" + num(right - left) + "\" height=\"" +
                    num(phase_bottom - phase_top) + "\"/></clipPath></defs>\n";
    s += text(left, 30, escape(plot.title), "font-size=\"15\" font-weight=\"bold\"");

    // Magnitude panel.
    s += x_grid(x, mag_top, mag_bottom);
    for (int d = static_cast<int>(mag.lo); d <= static_cast<int>(mag.hi); ++d) {
        const double base = std::pow(10.0, d);
        s += line(left, mag.at(base), right, mag.at(base), "class=\"major\"");
        s += text(left - 8, mag.at(base) + 4, decade_label(d), "text-anchor=\"end\"");
    }
    s += frame(mag_top, mag_bottom, escape(plot.magnitude_label));
    // Phase panel.
    s += x_grid(x, phase_top, phase_bottom);
    for (int deg = -180; deg <= 180; deg += 90) {
        s += line(left, phase.at(deg), right, phase.at(deg), "class=\"major\"");
        s += text(left - 8, phase.at(deg) + 4, std::to_string(deg), "text-anchor=\"end\"");
    }
    s += frame(phase_top, phase_bottom, "phase / degree");

    const std::vector<std::complex<double>> *curves[2] = {&plot.first, &plot.second};
    const char *dash[2] = {"stroke-width=\"2.2\"", "stroke-width=\"1.4\" stroke-dasharray=\"6 4\""};
    for (int c = 0; c < 2; ++c) {
        const auto &h = *curves[c];
        const std::string style = std::string("stroke=\"") + colour[c] + "\" " + dash[c];
        s += curve(
            f,
            [&](std::size_t k) {
                const double m = std::abs(h[k]);
                return m > 0.0 ? m : std::nan("");
            },
            x, mag, HUGE_VAL, "mag", style);
        s += curve(
            f,
            [&](std::size_t k) {
                return std::abs(h[k]) > 0.0 ? std::arg(h[k]) * 180.0 / pi : std::nan("");
            },
            x, phase, 180.0, "phase", style);
    }
    // Legend, top right of the magnitude panel.
    const double lx = right - 250, ly = mag_top + 10;
    s += "<rect x=\"" + num(lx) + "\" y=\"" + num(ly) +
         "\" width=\"240\" height=\"46\" fill=\"white\" fill-opacity=\"0.9\" stroke=\"#999\"/>\n";
    const std::string *labels[2] = {&plot.first_label, &plot.second_label};
    for (int c = 0; c < 2; ++c) {
        const double y = ly + 18 + 18 * c;
        s += "<line x1=\"" + num(lx + 10) + "\" y1=\"" + num(y - 4) + "\" x2=\"" + num(lx + 40) +
             "\" y2=\"" + num(y - 4) + "\" stroke=\"" + colour[c] + "\" " + dash[c] + "/>\n";
        s += text(lx + 48, y, escape(*labels[c]));
    }
    s += "</svg>\n";
    return s;
}

} // namespace sorvan::analysis
