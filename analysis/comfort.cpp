#include "analysis/comfort.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sorvan::analysis {

namespace {

// (b2 s^2 + b1 s + b0) / (a2 s^2 + a1 s + a0)
struct Section {
    double b2, b1, b0, a2, a1, a0;
};

constexpr double band_low_hz = 0.4, band_high_hz = 100.0;
constexpr double q_band = std::numbers::sqrt2 / 2.0; // 1 / sqrt 2

struct Parameters {
    double f3, f4, q4;
    bool step;
    double f5, q5, f6, q6;
};
constexpr Parameters wk_parameters{12.5, 12.5, 0.63, true, 2.37, 0.91, 3.35, 0.91};
constexpr Parameters wd_parameters{2.0, 2.0, 0.63, false, 0.0, 0.0, 0.0, 0.0};

double omega(double f_hz) {
    return 2.0 * std::numbers::pi * f_hz;
}

std::vector<Section> sections(Weighting w) {
    if (w == Weighting::none) return {};
    const Parameters &p = w == Weighting::wk ? wk_parameters : wd_parameters;
    const double w1 = omega(band_low_hz), w2 = omega(band_high_hz);
    const double w3 = omega(p.f3), w4 = omega(p.f4);
    std::vector<Section> out = {
        {1.0, 0.0, 0.0, 1.0, w1 / q_band, w1 * w1},                    // high-pass
        {0.0, 0.0, w2 * w2, 1.0, w2 / q_band, w2 * w2},                // low-pass
        {0.0, 1.0 / w3, 1.0, 1.0 / (w4 * w4), 1.0 / (p.q4 * w4), 1.0}, // a-v transition
    };
    if (p.step) {
        const double w5 = omega(p.f5), w6 = omega(p.f6), k = (w5 / w6) * (w5 / w6);
        out.push_back({k / (w5 * w5), k / (p.q5 * w5), k, 1.0 / (w6 * w6), 1.0 / (p.q6 * w6), 1.0});
    }
    return out;
}

// One section in controllable canonical form.
StateSpace section_model(const Section &s) {
    const double a1 = s.a1 / s.a2, a0 = s.a0 / s.a2, d = s.b2 / s.a2;
    StateSpace m;
    m.a.resize(2, 2);
    m.a << 0.0, 1.0, -a0, -a1;
    m.b.resize(2, 1);
    m.b << 0.0, 1.0;
    m.c.resize(1, 2);
    m.c << s.b0 / s.a2 - d * a0, s.b1 / s.a2 - d * a1;
    m.d = Eigen::MatrixXd::Constant(1, 1, d);
    return m;
}

// first, then second: the output of first drives second.
StateSpace in_series(const StateSpace &first, const StateSpace &second) {
    const Eigen::Index n1 = first.a.rows(), n2 = second.a.rows();
    StateSpace m;
    m.a = Eigen::MatrixXd::Zero(n1 + n2, n1 + n2);
    m.a.topLeftCorner(n1, n1) = first.a;
    m.a.bottomLeftCorner(n2, n1) = second.b * first.c;
    m.a.bottomRightCorner(n2, n2) = second.a;
    m.b.resize(n1 + n2, 1);
    m.b << first.b, second.b * first.d;
    m.c.resize(1, n1 + n2);
    m.c << second.d * first.c, second.c;
    m.d = second.d * first.d;
    return m;
}

} // namespace

Weighting weighting_of_component(int component) {
    if (component == 3) return Weighting::wk;
    if (component == 1 || component == 2) return Weighting::wd;
    return Weighting::none;
}

const char *weighting_name(Weighting w) {
    return w == Weighting::wk ? "Wk" : w == Weighting::wd ? "Wd" : "";
}

std::complex<double> weighting_response(Weighting w, double f_hz) {
    const std::complex<double> s(0.0, omega(f_hz));
    std::complex<double> h = 1.0;
    for (const Section &k : sections(w))
        h *= (k.b2 * s * s + k.b1 * s + k.b0) / (k.a2 * s * s + k.a1 * s + k.a0);
    return h;
}

StateSpace weighting_model(Weighting w) {
    StateSpace m;
    bool first = true;
    for (const Section &k : sections(w)) {
        m = first ? section_model(k) : in_series(m, section_model(k));
        first = false;
    }
    return m;
}

ComfortFigures comfort_figures(const std::vector<double> &aw, double h) {
    ComfortFigures f;
    double peak = 0.0;
    for (double v : aw)
        peak = std::max(peak, std::fabs(v));
    if (aw.empty() || peak == 0.0) return f;
    double squares = 0.0, fourth = 0.0;
    for (std::size_t i = 0; i < aw.size(); ++i) {
        const double r = aw[i] / peak, r4 = r * r * r * r;
        squares += r * r;
        fourth += (i == 0 || i + 1 == aw.size() ? 0.5 : 1.0) * r4;
    }
    f.weighted_rms = peak * std::sqrt(squares / static_cast<double>(aw.size()));
    f.vdv = peak * std::pow(fourth * h, 0.25);
    return f;
}

const char *comfort_band(double weighted_rms) {
    struct Band {
        double below;
        const char *name;
    };
    static const Band bands[] = {{0.315, "not uncomfortable"},
                                 {0.63, "a little uncomfortable"},
                                 {1.0, "fairly uncomfortable"},
                                 {1.6, "uncomfortable"},
                                 {2.5, "very uncomfortable"}};
    for (const Band &b : bands)
        if (weighted_rms < b.below) return b.name;
    return "extremely uncomfortable";
}

} // namespace sorvan::analysis
