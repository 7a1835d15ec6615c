#include "analysis/ride_plot.h"

#include "analysis/psd.h"
#include "analysis/road_plot.h"
#include "analysis/svg.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sorvan::analysis {

namespace {

constexpr double width = 760, height = 460, left = 90, right = 740, top = 50, bottom = 400;
const char *const colours[] = {"#1f5fa8", "#c0392b", "#27864a", "#8e44ad", "#d68910", "#555555"};

double to_x(double lf, double lo, double hi) {
    return left + (lf - lo) / (hi - lo) * (right - left);
}

double to_y(double ld, double lo, double hi) {
    return bottom - (ld - lo) / (hi - lo) * (bottom - top);
}

} // namespace

std::string ride_plot_svg(const RidePlot &plot, std::string &error) {
    std::vector<psd::Spectrum> spectra;
    double dmin = std::numeric_limits<double>::infinity(), dmax = 0.0, fmin = dmin, fmax = 0.0;
    for (const RideCurve &c : plot.curves) {
        const std::size_t n = c.values->size();
        const std::size_t segment =
            plot_segment(n > 2147483647u ? 2147483647 : static_cast<int32_t>(n));
        spectra.push_back(
            segment ? psd::welch(c.values->data(), n, plot.step, segment, psd::Detrend::mean)
                    : psd::Spectrum());
        const psd::Spectrum &s = spectra.back();
        for (std::size_t k = 0; k < s.density.size(); ++k)
            if (s.density[k] > 0.0 && std::isfinite(s.density[k])) {
                dmin = std::min(dmin, s.density[k]);
                dmax = std::max(dmax, s.density[k]);
                fmin = std::min(fmin, s.wavenumber[k]);
                fmax = std::max(fmax, s.wavenumber[k]);
            }
    }
    if (!(dmax > 0.0) || !(fmax > fmin)) {
        error = "no spectrum to draw: every weighted acceleration is zero, or the ride has fewer "
                "than " +
                std::to_string(plot_min_samples) + " samples";
        return "";
    }
    // Whole decades around the content, at most twelve decades of density.
    const double flo = std::floor(std::log10(fmin)), fhi = std::ceil(std::log10(fmax));
    const double dhi = std::ceil(std::log10(dmax)),
                 dlo = std::max(std::floor(std::log10(dmin)), dhi - 12.0);
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + svg::number(width, 0) +
                      "\" height=\"" + svg::number(height, 0) +
                      "\" font-family=\"sans-serif\" font-size=\"12\">\n"
                      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    out += svg::text(left, 25, svg::escape(plot.title), "font-size=\"14\"");
    for (double e = flo; e <= fhi; ++e) {
        const double x = to_x(e, flo, fhi);
        out += svg::line(x, top, x, bottom, "stroke=\"#dddddd\"");
        out += svg::text(x - 8, bottom + 18, svg::decade_label(static_cast<int>(e)));
    }
    for (double e = dlo; e <= dhi; ++e) {
        const double y = to_y(e, dlo, dhi);
        out += svg::line(left, y, right, y, "stroke=\"#dddddd\"");
        out += svg::text(left - 40, y + 4, svg::decade_label(static_cast<int>(e)));
    }
    out +=
        "<rect x=\"90\" y=\"50\" width=\"650\" height=\"350\" fill=\"none\" stroke=\"black\"/>\n";
    out += svg::text(360, bottom + 40, "frequency / Hz");
    out += svg::text(15, top - 10, "weighted acceleration PSD / ((m/s^2)^2/Hz)");
    for (std::size_t c = 0; c < spectra.size(); ++c) {
        const psd::Spectrum &s = spectra[c];
        const char *colour = colours[c % (sizeof colours / sizeof *colours)];
        std::string points;
        for (std::size_t k = 0; k < s.density.size(); ++k) {
            if (!(s.density[k] > 0.0) || !std::isfinite(s.density[k])) continue;
            const double ld = std::max(std::log10(s.density[k]), dlo);
            points += svg::number(to_x(std::log10(s.wavenumber[k]), flo, fhi)) + "," +
                      svg::number(to_y(ld, dlo, dhi)) + " ";
        }
        out += "<polyline fill=\"none\" stroke=\"" + std::string(colour) +
               "\" stroke-width=\"1.2\" points=\"" + points + "\"/>\n";
        const double y = top + 16 + 16 * static_cast<double>(c);
        out += svg::line(right - 200, y - 4, right - 180, y - 4,
                         ("stroke=\"" + std::string(colour) + "\" stroke-width=\"2\"").c_str());
        out += svg::text(right - 175, y, svg::escape(plot.curves[c].label));
    }
    out += "</svg>\n";
    return out;
}

} // namespace sorvan::analysis
