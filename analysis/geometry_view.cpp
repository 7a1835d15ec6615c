// The geometry drawing, as plain SVG text.
#include "analysis/geometry_view.h"

#include "analysis/svg.h"

#include "analysis/number_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sorvan::analysis {

namespace {

const double pi = std::acos(-1.0);

// Page geometry, in SVG user units (pixels): a title band, then the four
// views in two rows of two.
constexpr double page_width = 1000, page_height = 860;
constexpr double band = 70;
constexpr double panel_width = 490, panel_height = 385, gap = 6;
constexpr double margin = 46; // inside a panel, around the drawing

struct View {
    const char *name;
    const char *caption;
    Point3 right, up; // unit vectors of the page's x and y (upwards) in the model
};

const double r2 = std::sqrt(0.5), r6 = 1.0 / std::sqrt(6.0);
const View views[4] = {
    {"front", "front: looking along -x", {0, 1, 0}, {0, 0, 1}},
    {"side", "side: looking along +y", {1, 0, 0}, {0, 0, 1}},
    {"top", "top: looking along -z", {1, 0, 0}, {0, 1, 0}},
    {"isometric", "isometric: looking along (-1, 1, -1)", {r2, r2, 0}, {-r6, r6, 2 * r6}},
};

double dot(const Point3 &a, const Point3 &b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Coordinates of the views with two decimals.
std::string num(double v) {
    return svg::number(v, 2);
}

using svg::escape;

std::string text(double x, double y, const std::string &body, const char *attributes = "") {
    return svg::text(x, y, body, attributes, 2);
}

// A length as people read it: 4 significant digits, no trailing zeros.
std::string length_text(double v) {
    char t[64];
    std::snprintf(t, sizeof t, "%.4g", v);
    return t;
}

// The largest 1, 2 or 5 times a power of ten not above v (v > 0).
double round_length(double v) {
    const double p = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : {5.0, 2.0, 1.0})
        if (m * p <= v) return m * p;
    return p;
}

// Where the points of one view go on its panel.
struct Placement {
    const View &view;
    double scale;        // pixels per export length unit
    double u_mid, v_mid; // the middle of the drawing in view coordinates
    double x_mid, y_mid; // and on the panel

    double x(const Point3 &p) const { return x_mid + (dot(p, view.right) - u_mid) * scale; }
    double y(const Point3 &p) const { return y_mid - (dot(p, view.up) - v_mid) * scale; }
};

// The extent of every drawn point along a direction.
struct Range {
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    void add(double v) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
};

template <class F> void each_point(const Geometry &g, F f) {
    for (const Point3 &p : g.nodes)
        f(p);
    for (const WheelShape &w : g.wheels) {
        f(w.centre);
        for (const Point3 &p : w.rim)
            f(p);
    }
}

Range range_along(const Geometry &g, const Point3 &direction) {
    Range r;
    each_point(g, [&](const Point3 &p) { r.add(dot(p, direction)); });
    return r;
}

// The axis arrows of a view, in its bottom left corner: each model axis as
// it projects onto the page; one that points at the viewer is left out.
std::string axes(const View &view) {
    const double ox = 34, oy = panel_height - 34, length = 28;
    std::string s;
    const char *names[3] = {"x", "y", "z"};
    for (int a = 0; a < 3; ++a) {
        Point3 e{0, 0, 0};
        e[static_cast<std::size_t>(a)] = 1;
        const double dx = dot(e, view.right) * length, dy = -dot(e, view.up) * length;
        if (std::hypot(dx, dy) < 0.2 * length) continue;
        s += "<line class=\"axis\" x1=\"" + num(ox) + "\" y1=\"" + num(oy) + "\" x2=\"" +
             num(ox + dx) + "\" y2=\"" + num(oy + dy) +
             "\" stroke=\"#b22\" stroke-width=\"1.5\" marker-end=\"url(#arrow)\"/>\n";
        s += text(ox + dx * 1.35 - 3, oy + dy * 1.35 + 4, names[a],
                  "fill=\"#b22\" font-size=\"12\" font-weight=\"bold\"");
    }
    return s;
}

std::string scale_bar(double scale, const std::string &unit) {
    const double target = (panel_width - 2 * margin) / 4 / scale; // a quarter of the width
    const double length = round_length(target);
    const double px = length * scale;
    const double x1 = panel_width - 16 - px, x2 = panel_width - 16, y = panel_height - 22;
    std::string s = "<g class=\"scale-bar\">\n";
    s += "<line x1=\"" + num(x1) + "\" y1=\"" + num(y) + "\" x2=\"" + num(x2) + "\" y2=\"" +
         num(y) + "\" stroke=\"#000\" stroke-width=\"3\"/>\n";
    for (double x : {x1, x2})
        s += "<line x1=\"" + num(x) + "\" y1=\"" + num(y - 5) + "\" x2=\"" + num(x) + "\" y2=\"" +
             num(y + 5) + "\" stroke=\"#000\" stroke-width=\"1.5\"/>\n";
    s += text((x1 + x2) / 2, y - 8, escape(length_text(length) + " " + unit),
              "text-anchor=\"middle\" font-size=\"12\"");
    return s + "</g>\n";
}

std::string wheel_path(const WheelShape &w, const Placement &at) {
    const std::size_t n = w.rim.size() / 2;
    if (n == 0) return "";
    std::string d;
    auto move = [&](const Point3 &a, const Point3 &b) {
        d += "M" + num(at.x(a)) + " " + num(at.y(a)) + "L" + num(at.x(b)) + " " + num(at.y(b));
    };
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t next = (k + 1) % n;
        move(w.rim[2 * k], w.rim[2 * k + 1]);        // across the tread
        move(w.rim[2 * k], w.rim[2 * next]);         // along the + edge
        move(w.rim[2 * k + 1], w.rim[2 * next + 1]); // along the - edge
    }
    return "<path class=\"wheel\" fill=\"none\" stroke=\"#444\" stroke-width=\"0.8\" d=\"" + d +
           "\"/>\n";
}

std::string panel(const Geometry &g, const View &view, double scale, double px, double py,
                  bool labels) {
    const Range ru = range_along(g, view.right), rv = range_along(g, view.up);
    const Placement at{view,
                       scale,
                       (ru.lo + ru.hi) / 2,
                       (rv.lo + rv.hi) / 2,
                       panel_width / 2,
                       (panel_height + 20) / 2};
    std::string s = "<svg class=\"view\" id=\"" + std::string(view.name) + "\" x=\"" + num(px) +
                    "\" y=\"" + num(py) + "\" width=\"" + num(panel_width) + "\" height=\"" +
                    num(panel_height) + "\" viewBox=\"0 0 " + num(panel_width) + " " +
                    num(panel_height) + "\">\n";
    s += "<rect x=\"0.5\" y=\"0.5\" width=\"" + num(panel_width - 1) + "\" height=\"" +
         num(panel_height - 1) + "\" fill=\"#fcfcfc\" stroke=\"#888\"/>\n";
    s += text(10, 18, view.caption, "font-size=\"13\" font-weight=\"bold\"");
    for (const auto &e : g.elements)
        s += "<line class=\"element\" x1=\"" + num(at.x(g.nodes[e[0]])) + "\" y1=\"" +
             num(at.y(g.nodes[e[0]])) + "\" x2=\"" + num(at.x(g.nodes[e[1]])) + "\" y2=\"" +
             num(at.y(g.nodes[e[1]])) + "\" stroke=\"#1f5fb4\" stroke-width=\"1.6\"/>\n";
    for (const WheelShape &w : g.wheels) {
        s += wheel_path(w, at);
        s += "<circle class=\"wheel-centre\" cx=\"" + num(at.x(w.centre)) + "\" cy=\"" +
             num(at.y(w.centre)) + "\" r=\"2.5\" fill=\"#444\"/>\n";
    }
    for (const Point3 &p : g.nodes)
        s += "<circle class=\"node\" cx=\"" + num(at.x(p)) + "\" cy=\"" + num(at.y(p)) +
             "\" r=\"2.2\" fill=\"#d2691e\"/>\n";
    if (labels) {
        for (std::size_t k = 0; k < g.nodes.size() && k < g.node_labels.size(); ++k)
            s += text(at.x(g.nodes[k]) + 3, at.y(g.nodes[k]) - 3, escape(g.node_labels[k]),
                      "class=\"label\" font-size=\"9\" fill=\"#7a3b0c\"");
        for (const WheelShape &w : g.wheels)
            s += text(at.x(w.centre) + 3, at.y(w.centre) + 11, escape(w.label),
                      "class=\"label\" font-size=\"9\" fill=\"#333\"");
    }
    s += axes(view);
    s += scale_bar(scale, g.length_unit);
    return s + "</svg>\n";
}

bool finite(const Point3 &p) {
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

} // namespace

WheelShape wheel_shape(const double geometry[8], double unit_length, double unit_angle,
                       double export_length, int32_t divisions) {
    const double s = 1.0 / export_length;
    WheelShape w;
    w.centre = {s * geometry[0] * unit_length, s * geometry[1] * unit_length,
                s * geometry[2] * unit_length};
    const double phi = geometry[3] * unit_angle, theta = geometry[4] * unit_angle,
                 psi = geometry[5] * unit_angle;
    // Local axes of the body-fixed z-x-z sequence; y completes them.
    const Point3 z{std::sin(phi) * std::sin(theta), -std::cos(phi) * std::sin(theta),
                   std::cos(theta)};
    const Point3 x{std::cos(phi) * std::cos(psi) - std::sin(phi) * std::cos(theta) * std::sin(psi),
                   std::sin(phi) * std::cos(psi) + std::cos(phi) * std::cos(theta) * std::sin(psi),
                   std::sin(theta) * std::sin(psi)};
    const Point3 y{z[1] * x[2] - z[2] * x[1], z[2] * x[0] - z[0] * x[2], z[0] * x[1] - z[1] * x[0]};
    const double r = s * geometry[6] * unit_length, h = s * geometry[7] * unit_length * 0.5;
    for (int32_t k = 0; k < divisions; ++k) {
        const double a = k * 2.0 * pi / divisions;
        for (double side : {h, -h}) {
            const double local[3] = {r * std::cos(a), r * std::sin(a), side};
            Point3 p = w.centre;
            for (std::size_t c = 0; c < 3; ++c)
                p[c] += local[0] * x[c] + local[1] * y[c] + local[2] * z[c];
            w.rim.push_back(p);
        }
    }
    return w;
}

std::string geometry_view_svg(const Geometry &g, bool labels, std::string &error) {
    if (g.nodes.empty() && g.wheels.empty()) {
        error = "the model has no graphic nodes and no wheels to draw";
        return "";
    }
    bool ok = true;
    each_point(g, [&](const Point3 &p) { ok = ok && finite(p); });
    if (!ok) {
        error = "a coordinate of a node or wheel is not a finite number";
        return "";
    }
    for (std::size_t k = 0; k < g.elements.size(); ++k)
        if (g.elements[k][0] >= g.nodes.size() || g.elements[k][1] >= g.nodes.size()) {
            error = "element " + std::to_string(k + 1) + " names a node that does not exist";
            return "";
        }
    // Every extent and middle the drawing is placed by must be a number:
    // coordinates near the largest double have neither.
    double largest = 0.0;
    each_point(g, [&](const Point3 &p) {
        for (double c : p)
            largest = std::max(largest, std::fabs(c));
    });
    std::vector<Point3> directions{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (const View &v : views) {
        directions.push_back(v.right);
        directions.push_back(v.up);
    }
    for (const Point3 &d : directions) {
        const Range r = range_along(g, d);
        if (!std::isfinite(r.hi - r.lo) || !std::isfinite(r.hi + r.lo)) {
            error = "the drawing's extent overflows: coordinates up to " + length_text(largest) +
                    " " + g.length_unit + " are too large to place on a page";
            return "";
        }
    }
    // One scale for every view, so that lengths compare across them.
    double scale = HUGE_VAL;
    for (const View &v : views) {
        const Range ru = range_along(g, v.right), rv = range_along(g, v.up);
        const double du = ru.hi - ru.lo, dv = rv.hi - rv.lo;
        if (du > 0) scale = std::min(scale, (panel_width - 2 * margin) / du);
        if (dv > 0) scale = std::min(scale, (panel_height - 2 * margin - 20) / dv);
    }
    if (!std::isfinite(scale)) scale = 1.0; // a single point
    const Range rx = range_along(g, {1, 0, 0}), ry = range_along(g, {0, 1, 0}),
                rz = range_along(g, {0, 0, 1});

    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    num(page_width) + "\" height=\"" + num(page_height) + "\" viewBox=\"0 0 " +
                    num(page_width) + " " + num(page_height) +
                    "\" font-family=\"sans-serif\" font-size=\"13\">\n"
                    "<defs><marker id=\"arrow\" viewBox=\"0 0 10 10\" refX=\"9\" refY=\"5\" "
                    "markerWidth=\"6\" markerHeight=\"6\" orient=\"auto\"><path d=\"M0 0L10 "
                    "5L0 10z\" fill=\"#b22\"/></marker></defs>\n"
                    "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    s += text(10, 24, escape(g.title), "font-size=\"16\" font-weight=\"bold\"");
    const std::string &u = g.length_unit;
    s += text(10, 46,
              escape(std::to_string(g.nodes.size()) + " nodes, " +
                     std::to_string(g.elements.size()) + " elements, " +
                     std::to_string(g.wheels.size()) + " wheels; extent x " +
                     length_text(rx.hi - rx.lo) + ", y " + length_text(ry.hi - ry.lo) + ", z " +
                     length_text(rz.hi - rz.lo) + " " + u + "; z from " + length_text(rz.lo) +
                     " to " + length_text(rz.hi) + " " + u));
    s += text(10, 64, "one scale in every view; the x, y, z arrows show the model's axes",
              "font-size=\"11\" fill=\"#555\"");
    for (std::size_t k = 0; k < 4; ++k) {
        const double px = gap + static_cast<double>(k % 2) * (panel_width + gap);
        const double py = band + static_cast<double>(k / 2) * (panel_height + gap);
        s += panel(g, views[k], scale, px, py, labels);
    }
    return s + "</svg>\n";
}

} // namespace sorvan::analysis
