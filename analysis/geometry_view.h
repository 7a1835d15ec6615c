// The stick figure a deck draws (graphic nodes, the elements between them
// and the wheels with their rims) in three orthographic views and one
// isometric view, as a hand-written SVG with axes and a scale bar.
#ifndef SORVAN_ANALYSIS_GEOMETRY_VIEW_H
#define SORVAN_ANALYSIS_GEOMETRY_VIEW_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sorvan::analysis {

using Point3 = std::array<double, 3>;

// One wheel as the deck draws it: its centre and its rim of 2 x divisions
// points, division k having point 2k on the +width/2 side and 2k + 1 on
// the -width/2 side; each division is joined across the tread and along
// both edges to the next.
struct WheelShape {
    std::string label;
    Point3 centre;
    std::vector<Point3> rim;
};

// The wheel of the eight MAP values (centre x, y, z; angles phi, theta,
// psi of a body-fixed z-x-z sequence; radius; width) in the export length
// unit: lengths are multiplied by unit_length / export_length, angles by
// unit_angle. The rim lies in the wheel's local x-y plane, its axis along
// the local z axis. divisions below 1 give no rim.
WheelShape wheel_shape(const double geometry[8], double unit_length, double unit_angle,
                       double export_length, int32_t divisions);

struct Geometry {
    std::string length_unit; // the export length unit, as the scale bar names it
    std::string title;       // what is drawn (the file), one line
    std::vector<std::string> node_labels;
    std::vector<Point3> nodes;                        // export units
    std::vector<std::array<std::size_t, 2>> elements; // positions in nodes, from 0
    std::vector<WheelShape> wheels;
};

// The four views the SVG holds, in order; each is a nested <svg> element
// whose id is the view's name.
constexpr std::array<const char *, 4> view_names = {"front", "side", "top", "isometric"};

// The drawing as the text of an SVG file (labels: the node and wheel labels
// beside their points); empty, with error set, when there is nothing to
// draw, a coordinate is not finite or an element names a node that does
// not exist.
std::string geometry_view_svg(const Geometry &geometry, bool labels, std::string &error);

} // namespace sorvan::analysis

#endif
