// make_example: writes the bundled example, a linearised full-vehicle ride
// model, as a MAP file and an ABC file set.
//
//   sorvan_make_example <folder>
//
// writes <folder>/vehicle.map and <folder>/vehicle_a to vehicle_d (ABC base
// name <folder>/vehicle_), creating the folder when needed.
//
// The model is assembled from the physical parameters below as mass, damping
// and stiffness matrices of 13 degrees of freedom, transformed to modal
// coordinates and written in the real block form that modal linearisations
// deliver: one 2x2 block [[s, w], [-w, s]] per damped mode on the diagonal of
// A, every other entry exactly 0, with B and C transformed to match. The
// modes are those of the full damping matrix (complex modes), not undamped
// modes with modal damping ratios, so the state space has the input-output
// behaviour of the second-order model itself. Before anything is written,
// the frequency responses of the two are compared; the program stops
// without writing a file if they disagree.
//
// Units throughout: length mm, mass t (megagram), force N, time s, angle rad
// (the MAP file gives wheel angles in degrees). 1 N = 1 t mm/s^2, so rates are
// N/mm, damping N s/mm, inertias t mm^2 (1 kg m^2 = 1000 t mm^2).
//
// Only +, -, *, / and sqrt enter the written numbers (complex arithmetic
// included: division and magnitude are spelt out below), multiply-adds are
// not contracted (a project-wide build setting), and the text of every
// number comes from ABCwrite_row or std::to_chars, so every conforming build
// writes the same bytes.
#include "frame/output_file.h"
#include "model_input/abc.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

// ======================================================================
// Physical parameters
// ======================================================================
//
// Vehicle axes: x forward, y left, z up. The origin lies on the ground below
// the centre of mass of the body; positions are in mm.

constexpr double two_pi = 6.283185307179586;

// Body: the sprung structure without powertrain, driver and steering wheel.
constexpr double body_mass = 1.22;           // t
constexpr double body_pitch_inertia = 1.9e6; // t mm^2 (1900 kg m^2), about y
constexpr double body_roll_inertia = 4.6e5;  // t mm^2 (460 kg m^2), about x
constexpr double body_cg_height = 550.0;     // mm

// First torsion and first vertical bending mode of the body structure, each
// a generalised coordinate with its free-free frequency. Both shapes are taken
// orthogonal to the rigid motions over the body's mass, so the body's mass
// matrix stays diagonal.
// Torsion: a twist about x growing linearly with x, scaled so that the
// coordinate is the vertical displacement at the front left spring top.
// Bending: vertical shape 1 - 3 (x / bend_half_length)^2, the coordinate being
// the displacement at the centre of mass.
constexpr double twist_mass = 0.12;         // t, generalised mass
constexpr double twist_frequency = 25.0;    // Hz
constexpr double bend_mass = 0.35;          // t, generalised mass
constexpr double bend_frequency = 46.0;     // Hz
constexpr double bend_half_length = 2250.0; // mm, half the body length
constexpr double structure_damping_ratio = 0.02;

// Suspension, per axle. Springs, dampers and anti-roll bars are given as
// rates at the wheel and act vertically between the spring top on the body
// and the wheel; the bar acts on the difference of the left and right
// deflections.
struct Axle {
    double x;                // mm, axle ahead of the body's centre of mass
    double spring_half_span; // mm, lateral distance of each spring top
    double spring_top_z;     // mm
    double half_track;       // mm
    double spring_rate;      // N/mm
    double damper_rate;      // N s/mm
    double bar_rate;         // N/mm
    double unsprung_mass;    // t, one wheel with its carrier
};
constexpr Axle front_axle{1200.0, 620.0, 650.0, 775.0, 24.0, 1.9, 14.0, 0.045};
constexpr Axle rear_axle{-1500.0, 600.0, 600.0, 770.0, 22.0, 1.7, 6.0, 0.034};

// Tyres: vertical point contact below the wheel centre.
constexpr double tyre_rate = 230.0;    // N/mm
constexpr double tyre_damping = 0.12;  // N s/mm
constexpr double wheel_radius = 310.0; // mm
constexpr double tyre_width = 205.0;   // mm

// Powertrain: heave and roll on two vertical mounts left and right of its
// centre of mass; the mounts sit on the body at the same points.
constexpr double engine_mass = 0.19;          // t
constexpr double engine_roll_inertia = 1.1e4; // t mm^2 (11 kg m^2), about x
constexpr double engine_x = 1300.0;           // mm
constexpr double engine_z = 520.0;            // mm (on the centre line)
constexpr double mount_half_span = 300.0;     // mm
constexpr double mount_rate = 260.0;          // N/mm, each mount
constexpr double mount_damping = 0.35;        // N s/mm, each mount

// Driver on the seat cushion, vertical, on the left (driver's) side.
constexpr double seat_mass = 0.075; // t, driver and cushion
constexpr double seat_x = -100.0, seat_y = 370.0;
constexpr double seat_base_z = 300.0, seat_mass_z = 600.0; // mm
constexpr double seat_rate = 50.0;                         // N/mm
constexpr double seat_damping = 0.8;                       // N s/mm

// Steering wheel on its column, vertical, fixed to the body at the column base.
constexpr double steer_mass = 0.0065; // t
constexpr double steer_base_x = 650.0, steer_base_z = 850.0;
constexpr double steer_x = 550.0, steer_y = 370.0, steer_z = 950.0;
constexpr double steer_rate = 330.0;   // N/mm
constexpr double steer_damping = 0.05; // N s/mm

// Identifier offsets of the export, chosen so that every identifier it
// numbers from them stays within 8 digits.
constexpr int grid_id_offset = 1000000;
constexpr int element_id_offset = 2000000;

// ======================================================================
// Degrees of freedom, inputs and outputs
// ======================================================================

enum Dof {
    body_heave,
    body_pitch,
    body_roll,
    body_twist,
    body_bend,
    wheel_fl,
    wheel_fr,
    wheel_rl,
    wheel_rr,
    engine_heave,
    engine_roll,
    seat_heave,
    steer_heave,
    n_dof
};

const char *const dof_names[n_dof] = {"body heave",
                                      "body pitch",
                                      "body roll",
                                      "body torsion",
                                      "body bending",
                                      "wheel hop front left",
                                      "wheel hop front right",
                                      "wheel hop rear left",
                                      "wheel hop rear right",
                                      "powertrain heave",
                                      "powertrain roll",
                                      "driver seat",
                                      "steering wheel"};

// The four corners, in the order of the internal inputs: the id of the spring
// top (the point the input force acts on), its wheel's degree of freedom.
struct Corner {
    int id;
    const Axle *axle;
    double side; // +1 left, -1 right
    Dof wheel;
    const char *name;
};
const Corner corners[4] = {{101, &front_axle, 1.0, wheel_fl, "front left"},
                           {102, &front_axle, -1.0, wheel_fr, "front right"},
                           {103, &rear_axle, 1.0, wheel_rl, "rear left"},
                           {104, &rear_axle, -1.0, wheel_rr, "rear right"}};

constexpr int n_internal = 4;
constexpr int road_input = 4;   // column of the road elevation below the front left tyre
constexpr int torque_input = 5; // column of the powertrain roll torque
constexpr int n_external = 2;
constexpr int n_input = n_internal + n_external;
const char *const external_names[n_external] = {"road_elevation_front_left",
                                                "powertrain_roll_torque"};

// State-space outputs: rows 1 to 4 the vertical displacements (kind 1) and
// rows 5 to 8 the vertical velocities (kind 2) of the four spring tops.
constexpr int n_output = 2 * n_internal;

// What a graphic node moves with.
enum Carrier { on_body, on_wheel, on_engine, on_seat, on_steer };

struct Node {
    int id;
    double x, y, z;
    Carrier carrier;
    Dof dof; // the wheel of an on_wheel node
};

// Body outline (1 to 16), spring tops (101 to 104), wheel carriers (111 to
// 114), powertrain (201 to 203), seat (301, 302), steering (401, 402).
const Node nodes[] = {
    {1, 2150, 800, 350, on_body, n_dof},
    {2, 2150, -800, 350, on_body, n_dof},
    {3, -2350, 800, 350, on_body, n_dof},
    {4, -2350, -800, 350, on_body, n_dof},
    {5, 2150, 800, 800, on_body, n_dof},
    {6, 2150, -800, 800, on_body, n_dof},
    {7, 850, 820, 1000, on_body, n_dof},
    {8, 850, -820, 1000, on_body, n_dof},
    {9, 50, 700, 1450, on_body, n_dof},
    {10, 50, -700, 1450, on_body, n_dof},
    {11, -1350, 700, 1450, on_body, n_dof},
    {12, -1350, -700, 1450, on_body, n_dof},
    {13, -1950, 820, 1050, on_body, n_dof},
    {14, -1950, -820, 1050, on_body, n_dof},
    {15, -2350, 800, 950, on_body, n_dof},
    {16, -2350, -800, 950, on_body, n_dof},
    {101, 1200, 620, 650, on_body, n_dof},
    {102, 1200, -620, 650, on_body, n_dof},
    {103, -1500, 600, 600, on_body, n_dof},
    {104, -1500, -600, 600, on_body, n_dof},
    {111, 1200, 675, 310, on_wheel, wheel_fl},
    {112, 1200, -675, 310, on_wheel, wheel_fr},
    {113, -1500, 670, 310, on_wheel, wheel_rl},
    {114, -1500, -670, 310, on_wheel, wheel_rr},
    {201, engine_x, 0, engine_z, on_engine, n_dof},
    {202, engine_x, mount_half_span, engine_z, on_engine, n_dof},
    {203, engine_x, -mount_half_span, engine_z, on_engine, n_dof},
    {301, seat_x, seat_y, seat_base_z, on_body, n_dof},
    {302, seat_x, seat_y, seat_mass_z, on_seat, n_dof},
    {401, steer_base_x, steer_y, steer_base_z, on_body, n_dof},
    {402, steer_x, steer_y, steer_z, on_steer, n_dof},
};
constexpr int n_node = sizeof nodes / sizeof nodes[0];

// Graphic elements as pairs of node ids.
struct Element {
    int from, to;
};
const Element elements[] = {
    {1, 2},     {3, 4},     {1, 3},     {2, 4},     // floor
    {1, 5},     {2, 6},     {5, 6},                 // front
    {5, 7},     {6, 8},     {7, 8},                 // bonnet and scuttle
    {7, 9},     {8, 10},                            // windscreen pillars
    {9, 10},    {11, 12},   {9, 11},    {10, 12},   // roof
    {11, 13},   {12, 14},                           // rear pillars
    {13, 14},   {13, 15},   {14, 16},               // rear deck
    {15, 16},   {3, 15},    {4, 16},                // tail
    {7, 13},    {8, 14},                            // belt lines
    {101, 111}, {102, 112}, {103, 113}, {104, 114}, // struts
    {101, 102}, {103, 104},                         // strut braces
    {201, 202}, {201, 203},                         // powertrain
    {301, 302},                                     // seat
    {401, 402},                                     // steering column
};
constexpr int n_element = sizeof elements / sizeof elements[0];

constexpr int n_wheel = 4;
constexpr int first_wheel_id = 501;
constexpr double wheel_angles_deg[3] = {0.0, 90.0, 0.0}; // axle along y, rim in x-z

constexpr int n_output_all = n_output + 3 * n_node + 6 * n_wheel;
constexpr int n_state = 2 * n_dof;

// ======================================================================
// Small dense matrices
// ======================================================================

struct Matrix {
    int rows = 0, cols = 0;
    std::vector<double> v;
    Matrix(int r, int c) : rows(r), cols(c), v(static_cast<size_t>(r) * c, 0.0) {}
    double &operator()(int i, int j) { return v[static_cast<size_t>(i) * cols + j]; }
    double operator()(int i, int j) const { return v[static_cast<size_t>(i) * cols + j]; }
};

// One linear form of the degrees of freedom: a motion, a deflection or a
// generalised force per unit load.
using Row = std::array<double, n_dof>;

Row unit(Dof d) {
    Row r{};
    r[d] = 1.0;
    return r;
}

Row minus(const Row &a, const Row &b) {
    Row r{};
    for (int k = 0; k < n_dof; ++k)
        r[k] = a[k] - b[k];
    return r;
}

void put_row(Matrix &m, int i, const Row &r) {
    for (int k = 0; k < n_dof; ++k)
        m(i, k) = r[k];
}

// m += rate d d^T: a spring or damper of the given rate on the deflection d.
void add_link(Matrix &m, const Row &d, double rate) {
    for (int i = 0; i < n_dof; ++i)
        for (int j = 0; j < n_dof; ++j)
            m(i, j) += rate * d[i] * d[j];
}

// ======================================================================
// The second-order model: M q'' + C q' + K q = F u + G u'
// ======================================================================

struct Physical {
    Matrix mass{n_dof, n_dof}, damping{n_dof, n_dof}, stiffness{n_dof, n_dof};
    Matrix force{n_dof, n_input};      // F: generalised force per unit input
    Matrix force_rate{n_dof, n_input}; // G: per unit input rate (tyre damping)
    Matrix out_disp{n_output_all, n_dof}, out_vel{n_output_all, n_dof};
};

// Twist angle about x per unit torsion coordinate at the station x.
double twist_slope(double x) {
    return x / (front_axle.x * front_axle.spring_half_span);
}

// Motion of a body point along axis 0 (x), 1 (y) or 2 (z): rigid heave,
// pitch and roll about the centre of mass plus the two structural shapes.
Row body_motion(double x, double y, double z, int axis) {
    const double h = z - body_cg_height;
    const double lb2 = bend_half_length * bend_half_length;
    Row r{};
    if (axis == 0) {
        r[body_pitch] = h;
        r[body_bend] = 6.0 * x * h / lb2; // sections turn with the bending slope
    } else if (axis == 1) {
        r[body_roll] = -h;
        r[body_twist] = -twist_slope(x) * h;
    } else {
        r[body_heave] = 1.0;
        r[body_pitch] = -x;
        r[body_roll] = y;
        r[body_twist] = twist_slope(x) * y;
        r[body_bend] = 1.0 - 3.0 * x * x / lb2;
    }
    return r;
}

// Rotation of the body about x at the station x (rigid roll and twist).
Row body_roll_angle(double x) {
    Row r = unit(body_roll);
    r[body_twist] = twist_slope(x);
    return r;
}

double spring_top_y(const Corner &c) {
    return c.side * c.axle->spring_half_span;
}

Row spring_top_z(const Corner &c) {
    return body_motion(c.axle->x, spring_top_y(c), c.axle->spring_top_z, 2);
}

void add_body(Physical &p) {
    const double masses[5] = {body_mass, body_pitch_inertia, body_roll_inertia, twist_mass,
                              bend_mass};
    for (int k = 0; k < 5; ++k)
        p.mass(k, k) = masses[k];
    const double tw = two_pi * twist_frequency, bw = two_pi * bend_frequency;
    p.stiffness(body_twist, body_twist) += twist_mass * tw * tw;
    p.stiffness(body_bend, body_bend) += bend_mass * bw * bw;
    p.damping(body_twist, body_twist) += 2.0 * structure_damping_ratio * twist_mass * tw;
    p.damping(body_bend, body_bend) += 2.0 * structure_damping_ratio * bend_mass * bw;
}

void add_suspension(Physical &p) {
    for (const Corner &c : corners) {
        const Row deflection = minus(spring_top_z(c), unit(c.wheel));
        add_link(p.stiffness, deflection, c.axle->spring_rate);
        add_link(p.damping, deflection, c.axle->damper_rate);
        add_link(p.stiffness, unit(c.wheel), tyre_rate);
        add_link(p.damping, unit(c.wheel), tyre_damping);
        p.mass(c.wheel, c.wheel) = c.axle->unsprung_mass;
    }
    for (int left = 0; left < 4; left += 2) { // anti-roll bars
        const Corner &l = corners[left], &r = corners[left + 1];
        const Row twist =
            minus(minus(spring_top_z(l), unit(l.wheel)), minus(spring_top_z(r), unit(r.wheel)));
        add_link(p.stiffness, twist, l.axle->bar_rate);
    }
}

void add_powertrain(Physical &p) {
    p.mass(engine_heave, engine_heave) = engine_mass;
    p.mass(engine_roll, engine_roll) = engine_roll_inertia;
    for (double side : {1.0, -1.0}) {
        Row engine_point = unit(engine_heave);
        engine_point[engine_roll] = side * mount_half_span;
        const Row d =
            minus(engine_point, body_motion(engine_x, side * mount_half_span, engine_z, 2));
        add_link(p.stiffness, d, mount_rate);
        add_link(p.damping, d, mount_damping);
    }
}

void add_seat_and_steering(Physical &p) {
    p.mass(seat_heave, seat_heave) = seat_mass;
    const Row seat = minus(unit(seat_heave), body_motion(seat_x, seat_y, seat_base_z, 2));
    add_link(p.stiffness, seat, seat_rate);
    add_link(p.damping, seat, seat_damping);
    p.mass(steer_heave, steer_heave) = steer_mass;
    const Row steer = minus(unit(steer_heave), body_motion(steer_base_x, steer_y, steer_base_z, 2));
    add_link(p.stiffness, steer, steer_rate);
    add_link(p.damping, steer, steer_damping);
}

// Internal inputs: a vertical force at each spring top (virtual work gives
// the point's motion as the generalised force). Road elevation: tyre rate and
// tyre damping of the front left wheel. Powertrain roll torque: on the
// powertrain, its reaction on the body at the powertrain's station.
void add_inputs(Physical &p) {
    for (int i = 0; i < n_internal; ++i) {
        const Row f = spring_top_z(corners[i]);
        for (int k = 0; k < n_dof; ++k)
            p.force(k, i) = f[k];
    }
    p.force(wheel_fl, road_input) = tyre_rate;
    p.force_rate(wheel_fl, road_input) = tyre_damping;
    const Row torque = minus(unit(engine_roll), body_roll_angle(engine_x));
    for (int k = 0; k < n_dof; ++k)
        p.force(k, torque_input) = torque[k];
}

// Motion of a graphic node. Wheel carriers, powertrain, driver and steering
// wheel follow the body horizontally (their links are stiff there) and have
// vertical motions of their own; the powertrain also rolls.
Row node_motion(const Node &n, int axis) {
    if (n.carrier == on_body) return body_motion(n.x, n.y, n.z, axis);
    if (n.carrier == on_engine) {
        Row r = body_motion(engine_x, 0.0, engine_z, axis);
        if (axis == 1) r[engine_roll] = -(n.z - engine_z);
        if (axis == 2) {
            r = unit(engine_heave);
            r[engine_roll] = n.y;
        }
        return r;
    }
    if (axis < 2) return body_motion(n.x, n.y, n.z, axis);
    return unit(n.carrier == on_wheel ? n.dof : n.carrier == on_seat ? seat_heave : steer_heave);
}

double wheel_y(const Corner &c) {
    return c.side * c.axle->half_track;
}

void add_outputs(Physical &p) {
    for (int i = 0; i < n_internal; ++i) {
        put_row(p.out_disp, i, spring_top_z(corners[i]));
        put_row(p.out_vel, n_internal + i, spring_top_z(corners[i]));
    }
    int row = n_output;
    for (const Node &n : nodes)
        for (int axis = 0; axis < 3; ++axis)
            put_row(p.out_disp, row++, node_motion(n, axis));
    // Wheels: translations of the centre; the wheel stays upright and its spin
    // is not a state, so the three rotation rows are zero.
    for (const Corner &c : corners) {
        put_row(p.out_disp, row, body_motion(c.axle->x, wheel_y(c), wheel_radius, 0));
        put_row(p.out_disp, row + 1, body_motion(c.axle->x, wheel_y(c), wheel_radius, 1));
        put_row(p.out_disp, row + 2, unit(c.wheel));
        row += 6;
    }
}

Physical build_model() {
    Physical p;
    add_body(p);
    add_suspension(p);
    add_powertrain(p);
    add_seat_and_steering(p);
    add_inputs(p);
    add_outputs(p);
    return p;
}

// ======================================================================
// Undamped modes: where the search for the damped ones starts
// ======================================================================

// One cyclic Jacobi rotation that zeroes a(p, q); v collects the rotations.
void rotate(Matrix &a, Matrix &v, int p, int q) {
    const double apq = a(p, q);
    if (apq == 0.0) return;
    const double theta = (a(q, q) - a(p, p)) / (2.0 * apq);
    const double t =
        (theta >= 0.0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
    const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
    const int n = a.rows;
    for (int k = 0; k < n; ++k) {
        const double kp = a(k, p), kq = a(k, q);
        a(k, p) = c * kp - s * kq;
        a(k, q) = s * kp + c * kq;
    }
    for (int k = 0; k < n; ++k) {
        const double pk = a(p, k), qk = a(q, k);
        a(p, k) = c * pk - s * qk;
        a(q, k) = s * pk + c * qk;
    }
    a(p, q) = a(q, p) = 0.0;
    for (int k = 0; k < n; ++k) {
        const double kp = v(k, p), kq = v(k, q);
        v(k, p) = c * kp - s * kq;
        v(k, q) = s * kp + c * kq;
    }
}

// Diagonalises the symmetric a in place (eigenvalues on its diagonal) and
// returns the orthonormal eigenvectors as the columns of v. False when the
// sweeps do not converge.
bool jacobi(Matrix &a, Matrix &v) {
    const int n = a.rows;
    for (int i = 0; i < n; ++i)
        v(i, i) = 1.0;
    for (int sweep = 0; sweep < 100; ++sweep) {
        double off = 0.0, diag = 0.0;
        for (int i = 0; i < n; ++i) {
            diag += a(i, i) * a(i, i);
            for (int j = i + 1; j < n; ++j)
                off += a(i, j) * a(i, j);
        }
        if (off <= 1e-34 * diag) return true;
        for (int p = 0; p < n; ++p)
            for (int q = p + 1; q < n; ++q)
                rotate(a, v, p, q);
    }
    return false;
}

struct Undamped {
    std::vector<double> omega;  // rad/s
    Matrix shape{n_dof, n_dof}; // columns mass-normalised: shape^T M shape = I
};

// Modes of the diagonal mass matrix and the stiffness, from the symmetric
// M^-1/2 K M^-1/2, in the order of the Jacobi diagonal.
bool undamped_modes(const Physical &p, Undamped &u, std::string &why) {
    Matrix a(n_dof, n_dof), v(n_dof, n_dof);
    std::vector<double> root(n_dof);
    for (int k = 0; k < n_dof; ++k)
        root[k] = std::sqrt(p.mass(k, k));
    for (int i = 0; i < n_dof; ++i)
        for (int j = 0; j < n_dof; ++j)
            a(i, j) = p.stiffness(i, j) / root[i] / root[j];
    if (!jacobi(a, v)) return why = "undamped eigenvalue sweeps do not converge", false;
    for (int i = 0; i < n_dof; ++i) {
        if (!(a(i, i) > 0.0)) return why = "stiffness matrix is not positive definite", false;
        u.omega.push_back(std::sqrt(a(i, i)));
        for (int k = 0; k < n_dof; ++k)
            u.shape(k, i) = v(k, i) / root[k];
    }
    return true;
}

// ======================================================================
// Damped modes
// ======================================================================
//
// The damping of a suspension couples the undamped modes strongly (a damper
// joins the body and a wheel, whose modes lie an order apart), so the modes
// are the complex ones of the full damping matrix, not undamped modes with
// modal damping ratios: the eigenpairs of (l^2 M + l C + K) phi = 0.

using Complex = std::complex<double>;

// Complex arithmetic spelt out, so that the numbers written do not depend on
// a library's complex division or magnitude.
double mag2(double x) {
    return x * x;
}
double mag2(Complex z) {
    return z.real() * z.real() + z.imag() * z.imag();
}
double quot(double a, double b) {
    return a / b;
}
Complex quot(Complex a, Complex b) {
    const double d = mag2(b);
    return Complex((a.real() * b.real() + a.imag() * b.imag()) / d,
                   (a.imag() * b.real() - a.real() * b.imag()) / d);
}

// Solves a x = b (a n x n, b n x m, both row-major) by Gaussian elimination
// with partial pivoting; b is replaced by x. False when a is singular.
template <class T> bool solve(std::vector<T> a, int n, std::vector<T> &b, int m) {
    for (int col = 0; col < n; ++col) {
        int piv = col;
        for (int r = col + 1; r < n; ++r)
            if (mag2(a[r * n + col]) > mag2(a[piv * n + col])) piv = r;
        if (mag2(a[piv * n + col]) == 0.0) return false;
        for (int k = 0; k < n; ++k)
            std::swap(a[col * n + k], a[piv * n + k]);
        for (int k = 0; k < m; ++k)
            std::swap(b[col * m + k], b[piv * m + k]);
        for (int r = col + 1; r < n; ++r) {
            const T f = quot(a[r * n + col], a[col * n + col]);
            for (int k = col; k < n; ++k)
                a[r * n + k] -= f * a[col * n + k];
            for (int k = 0; k < m; ++k)
                b[r * m + k] -= f * b[col * m + k];
        }
    }
    for (int r = n - 1; r >= 0; --r)
        for (int k = 0; k < m; ++k) {
            T sum = b[r * m + k];
            for (int j = r + 1; j < n; ++j)
                sum -= a[r * n + j] * b[j * m + k];
            b[r * m + k] = quot(sum, a[r * n + r]);
        }
    return true;
}

struct Mode {
    Complex lambda;                   // s + i w, w > 0
    std::array<Complex, n_dof> shape; // dominant component real, shape^H M shape = 1
};

// The degree of freedom with the largest share of the mode's kinetic energy
// (the first of equal ones).
template <class Shape> int dominant_dof(const Physical &p, const Shape &phi) {
    int big = 0;
    for (int k = 1; k < n_dof; ++k)
        if (mag2(phi[k]) * p.mass(k, k) > mag2(phi[big]) * p.mass(big, big)) big = k;
    return big;
}

// Nonlinear inverse iteration from the start in m: solve
// (l^2 M + l C + K) u = (2 l M + C) phi, then l -= phi_e / u_e and
// phi = u / u_e, with e the dominant component of the start, until the step
// in l is below 1e-14 of l; two further steps polish the result.
bool refine(const Physical &p, Mode &m) {
    const int e = dominant_dof(p, m.shape);
    for (auto &c : m.shape)
        c = quot(c, m.shape[e]);
    int polish = 2;
    for (int it = 0; it < 200 && polish > 0; ++it) {
        const Complex l = m.lambda;
        std::vector<Complex> t(n_dof * n_dof), u(n_dof);
        for (int i = 0; i < n_dof; ++i) {
            for (int j = 0; j < n_dof; ++j)
                t[i * n_dof + j] = l * l * p.mass(i, j) + l * p.damping(i, j) + p.stiffness(i, j);
            for (int j = 0; j < n_dof; ++j)
                u[i] += (2.0 * l * p.mass(i, j) + p.damping(i, j)) * m.shape[j];
        }
        if (!solve(t, n_dof, u, 1) || mag2(u[e]) == 0.0) return false;
        const Complex step = quot(m.shape[e], u[e]);
        m.lambda = l - step;
        for (int k = 0; k < n_dof; ++k)
            m.shape[k] = quot(u[k], u[e]);
        if (mag2(step) <= 1e-28 * mag2(l)) --polish;
    }
    return polish == 0;
}

// Turns the dominant component real and positive and scales the shape to
// shape^H M shape = 1, so that the modes do not depend on the iteration.
void normalise(const Physical &p, Mode &m) {
    const int e = dominant_dof(p, m.shape);
    const Complex big = m.shape[e];
    double norm = 0.0;
    for (int k = 0; k < n_dof; ++k)
        norm += mag2(m.shape[k]) * p.mass(k, k);
    const double scale = std::sqrt(norm) * std::sqrt(mag2(big));
    const Complex turn(big.real() / scale, -big.imag() / scale); // conj(big) / (|big| norm)
    for (auto &c : m.shape)
        c *= turn;
    m.shape[e] = Complex(m.shape[e].real(), 0.0); // real by construction, not by rounding
}

bool distinct(const std::vector<Mode> &modes) {
    for (size_t i = 0; i < modes.size(); ++i)
        for (size_t j = i + 1; j < modes.size(); ++j)
            if (mag2(modes[i].lambda - modes[j].lambda) <= 1e-12 * mag2(modes[i].lambda))
                return false;
    return true;
}

// One damped mode per undamped mode, started from the undamped shape and
// the eigenvalue that its modal damping ratio phi^T C phi / (2 omega) gives;
// sorted by the modulus of the eigenvalue, ascending.
bool damped_modes(const Physical &p, const Undamped &u, std::vector<Mode> &modes,
                  std::string &why) {
    for (int i = 0; i < n_dof; ++i) {
        double c = 0.0;
        for (int r = 0; r < n_dof; ++r)
            for (int s = 0; s < n_dof; ++s)
                c += u.shape(r, i) * p.damping(r, s) * u.shape(s, i);
        const double om = u.omega[i], zeta = std::min(c / (2.0 * om), 0.9);
        Mode m;
        m.lambda = Complex(-zeta * om, om * std::sqrt(1.0 - zeta * zeta));
        for (int k = 0; k < n_dof; ++k)
            m.shape[k] = u.shape(k, i);
        if (!refine(p, m)) return why = "damped mode search does not converge", false;
        if (!(m.lambda.imag() > 0.0 && m.lambda.real() < 0.0))
            return why = "a mode is not a damped oscillation", false;
        normalise(p, m);
        modes.push_back(m);
    }
    if (!distinct(modes)) return why = "two mode searches found the same mode", false;
    std::stable_sort(modes.begin(), modes.end(),
                     [](const Mode &a, const Mode &b) { return mag2(a.lambda) < mag2(b.lambda); });
    return true;
}

// ======================================================================
// Modal state space
// ======================================================================
//
// The first-order model in z = (q, q' - M^-1 G u):
//   z' = [[0, I], [-M^-1 K, -M^-1 C]] z + (M^-1 G, M^-1 (F - C M^-1 G)) u
//   y  = (Sd, Sv) z + Sv M^-1 G u,
// where the rate of the road input has left the equations. A mode with
// eigenvalue s + i w and shape phi gives the eigenvector v = (phi, l phi) of
// the state matrix, and A (Re v) = s Re v - w Im v, A (Im v) = w Re v + s Im v.
// With T holding Re v and Im v of every mode as neighbouring columns, the
// states x = T^-1 z see the blocks [[s, w], [-w, s]] on the diagonal and
// exact zeros elsewhere; B = T^-1 B_z, C = C_z T, D = Sv M^-1 G.

struct StateSpace {
    Matrix a{n_state, n_state}, b{n_state, n_input};
    Matrix c{n_output_all, n_state}, d{n_output_all, n_input};
};

Matrix mode_basis(const std::vector<Mode> &modes) {
    Matrix t(n_state, n_state);
    for (int i = 0; i < n_dof; ++i)
        for (int k = 0; k < n_dof; ++k) {
            const Complex q = modes[i].shape[k], v = modes[i].lambda * q;
            t(k, 2 * i) = q.real();
            t(k, 2 * i + 1) = q.imag();
            t(n_dof + k, 2 * i) = v.real();
            t(n_dof + k, 2 * i + 1) = v.imag();
        }
    return t;
}

// B_z, the input matrix of the first-order model, row-major.
std::vector<double> first_order_input(const Physical &p) {
    std::vector<double> b(n_state * n_input);
    for (int k = 0; k < n_input; ++k)
        for (int i = 0; i < n_dof; ++i) {
            double cg = 0.0;
            for (int j = 0; j < n_dof; ++j)
                cg += p.damping(i, j) * p.force_rate(j, k) / p.mass(j, j);
            b[i * n_input + k] = p.force_rate(i, k) / p.mass(i, i);
            b[(n_dof + i) * n_input + k] = (p.force(i, k) - cg) / p.mass(i, i);
        }
    return b;
}

bool modal_state_space(const Physical &p, const std::vector<Mode> &modes, StateSpace &ss,
                       std::string &why) {
    for (int i = 0; i < n_dof; ++i) {
        const double s = modes[i].lambda.real(), w = modes[i].lambda.imag();
        ss.a(2 * i, 2 * i) = s;
        ss.a(2 * i, 2 * i + 1) = w;
        ss.a(2 * i + 1, 2 * i) = -w;
        ss.a(2 * i + 1, 2 * i + 1) = s;
    }
    const Matrix t = mode_basis(modes);
    std::vector<double> b = first_order_input(p);
    if (!solve(t.v, n_state, b, n_input)) return why = "the modes do not span the states", false;
    ss.b.v = b;
    for (int r = 0; r < n_output_all; ++r) {
        for (int q = 0; q < n_state; ++q) {
            double sum = 0.0;
            for (int k = 0; k < n_dof; ++k)
                sum += p.out_disp(r, k) * t(k, q) + p.out_vel(r, k) * t(n_dof + k, q);
            ss.c(r, q) = sum;
        }
        for (int k = 0; k < n_input; ++k) {
            double sum = 0.0;
            for (int q = 0; q < n_dof; ++q)
                sum += p.out_vel(r, q) * p.force_rate(q, k) / p.mass(q, q);
            ss.d(r, k) = sum;
        }
    }
    return true;
}

// ======================================================================
// Verification by frequency response
// ======================================================================

// Response of the second-order model at the circular frequency om:
// (Sd + j om Sv) (K - om^2 M + j om C)^-1 (F + j om G), outputs x inputs,
// row-major; empty when singular.
std::vector<Complex> physical_response(const Physical &p, double om) {
    const Complex jw(0.0, om);
    std::vector<Complex> z(n_dof * n_dof), x(n_dof * n_input);
    for (int i = 0; i < n_dof; ++i)
        for (int j = 0; j < n_dof; ++j)
            z[i * n_dof + j] = p.stiffness(i, j) - om * om * p.mass(i, j) + jw * p.damping(i, j);
    for (int i = 0; i < n_dof; ++i)
        for (int k = 0; k < n_input; ++k)
            x[i * n_input + k] = p.force(i, k) + jw * p.force_rate(i, k);
    if (!solve(z, n_dof, x, n_input)) return {};
    std::vector<Complex> h(n_output_all * n_input);
    for (int r = 0; r < n_output_all; ++r)
        for (int k = 0; k < n_input; ++k)
            for (int q = 0; q < n_dof; ++q)
                h[r * n_input + k] +=
                    (p.out_disp(r, q) + jw * p.out_vel(r, q)) * x[q * n_input + k];
    return h;
}

// Response C (j om I - A)^-1 B + D of the state space, as above.
std::vector<Complex> state_response(const StateSpace &ss, double om) {
    std::vector<Complex> z(n_state * n_state), x(n_state * n_input);
    for (int i = 0; i < n_state; ++i)
        for (int j = 0; j < n_state; ++j)
            z[i * n_state + j] = (i == j ? Complex(0.0, om) : Complex(0.0)) - ss.a(i, j);
    for (int i = 0; i < n_state; ++i)
        for (int k = 0; k < n_input; ++k)
            x[i * n_input + k] = ss.b(i, k);
    if (!solve(z, n_state, x, n_input)) return {};
    std::vector<Complex> h(n_output_all * n_input);
    for (int r = 0; r < n_output_all; ++r)
        for (int k = 0; k < n_input; ++k) {
            Complex sum = ss.d(r, k);
            for (int q = 0; q < n_state; ++q)
                sum += ss.c(r, q) * x[q * n_input + k];
            h[r * n_input + k] = sum;
        }
    return h;
}

// Largest deviation of h from ref, per input relative to the largest
// response to that input.
double worst_deviation(const std::vector<Complex> &h, const std::vector<Complex> &ref) {
    double worst = 0.0;
    for (int k = 0; k < n_input; ++k) {
        double err = 0.0, size = 0.0;
        for (int r = 0; r < n_output_all; ++r) {
            err = std::max(err, std::abs(h[r * n_input + k] - ref[r * n_input + k]));
            size = std::max(size, std::abs(ref[r * n_input + k]));
        }
        worst = std::max(worst, size > 0.0 ? err / size : err);
    }
    return worst;
}

// Frequencies of the check, Hz: static, the body modes, the seat, the
// powertrain and wheel hop, the structure and above.
constexpr double check_hz[] = {0.0, 0.9, 1.4, 4.0, 9.0, 12.5, 25.0, 36.0, 47.0, 90.0};
constexpr double check_tolerance = 1e-9;

// Compares the modal state space with the second-order model; gives the
// largest deviation found.
bool verify(const Physical &p, const StateSpace &ss, double &worst, std::string &why) {
    worst = 0.0;
    for (double hz : check_hz) {
        const double om = two_pi * hz;
        const auto hs = state_response(ss, om), hp = physical_response(p, om);
        char text[128];
        if (hs.empty() || hp.empty()) {
            std::snprintf(text, sizeof text, "singular response at %g Hz", hz);
            return why = text, false;
        }
        const double dev = worst_deviation(hs, hp);
        if (!(dev <= check_tolerance)) {
            std::snprintf(text, sizeof text,
                          "modal state space differs from the model by %.3g at %g Hz", dev, hz);
            return why = text, false;
        }
        worst = std::max(worst, dev);
    }
    return true;
}

// ======================================================================
// Output
// ======================================================================

// Fixed-point text with the given decimals, the same on every platform.
std::string fixed(double v, int decimals) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return std::string(buf, res.ptr);
}

// One line of the mode table: natural frequency |l| / 2 pi in Hz, damping
// ratio -s / |l|, and the degree of freedom with the largest share of the
// mode's kinetic energy, in percent (shape^H M shape is 1).
struct ModeText {
    std::string hz, zeta, name, share;
};

ModeText describe(const Physical &p, const Mode &m) {
    const double modulus = std::sqrt(mag2(m.lambda));
    const int big = dominant_dof(p, m.shape);
    return {fixed(modulus / two_pi, 3), fixed(-m.lambda.real() / modulus, 4), dof_names[big],
            fixed(100.0 * mag2(m.shape[big]) * p.mass(big, big), 0)};
}

int node_position(int id) {
    for (int k = 0; k < n_node; ++k)
        if (nodes[k].id == id) return k + 1;
    return 0;
}

void write_header(std::FILE *f, const Physical &p, const std::vector<Mode> &modes) {
    std::fprintf(f,
                 "# Example vehicle: linearised full-vehicle ride model in modal form.\n"
                 "# Written by sorvan_make_example from its physical parameters; regenerate,\n"
                 "# do not edit. The ABC set is vehicle_a to vehicle_d beside this file.\n"
                 "# %d states (%d damped modes), %d inputs (%d internal, %d external),\n"
                 "# %d outputs (%d state-space, %d nodes, %d wheels).\n#\n"
                 "# mode   f / Hz   damping ratio   largest energy share\n",
                 n_state, n_dof, n_input, n_internal, n_external, n_output_all, n_output, n_node,
                 n_wheel);
    for (int i = 0; i < n_dof; ++i) {
        const ModeText t = describe(p, modes[i]);
        std::fprintf(f, "# %4d %8s %15s   %s (%s %%)\n", i + 1, t.hz.c_str(), t.zeta.c_str(),
                     t.name.c_str(), t.share.c_str());
    }
    std::fprintf(f, "#\n");
}

void write_summary(std::FILE *f) {
    std::fprintf(f,
                 "[FILE_SUMMARY]\n"
                 "ABCD_INPUT_N = %d\nABCD_OUTPUT_N = %d\nABCD_EXTERNAL_N = %d\n"
                 "GRAPHICS_ELEMENT_N = %d\nGRAPHICS_NODE_N = %d\nWHEEL_GRAPHICS_N = %d\n"
                 "GRID_ID_OFFSET = %d\nELEMENT_ID_OFFSET = %d\n",
                 n_input, n_output, n_external, n_element, n_node, n_wheel, grid_id_offset,
                 element_id_offset);
}

// Labels in apostrophes and in lower case, so that no label holds the text
// of another key.
void write_units(std::FILE *f) {
    std::fprintf(f, "[UNITS]\nLENGTH = 'millimeter'\nANGLE = 'degree'\nFORCE = 'newton'\n"
                    "MASS = 'megagram'\nTIME = 'second'\n");
}

void write_signals(std::FILE *f) {
    std::fprintf(f, "[STATE_SPACE_INPUT]\n{abcd_index   id  dof}\n");
    for (int i = 0; i < n_internal; ++i)
        std::fprintf(f, "%6d %6d %4d\n", i + 1, corners[i].id, 3);
    std::fprintf(f, "[STATE_SPACE_OUTPUT]\n{abcd_index   id  dof kind}\n");
    for (int i = 0; i < n_output; ++i)
        std::fprintf(f, "%6d %6d %4d %4d\n", i + 1, corners[i % n_internal].id, 3,
                     i < n_internal ? 1 : 2);
    std::fprintf(f, "[STATE_SPACE_EXTERNAL_INPUT]\n{abcd_index  $name / external index}\n");
    for (int e = 0; e < n_external; ++e)
        std::fprintf(f, "%6d $%s\n%d\n", n_internal + e + 1, external_names[e], e + 1);
}

void write_nodes(std::FILE *f) {
    std::fprintf(f, "(NODES)\n{id        x        y        z    o1    o2    o3}\n");
    for (int k = 0; k < n_node; ++k) {
        const Node &n = nodes[k];
        const int row = n_output + 3 * k + 1;
        std::fprintf(f, "%4d %8s %8s %8s %5d %5d %5d\n", n.id, fixed(n.x, 1).c_str(),
                     fixed(n.y, 1).c_str(), fixed(n.z, 1).c_str(), row, row + 1, row + 2);
    }
}

void write_elements(std::FILE *f) {
    std::fprintf(f, "(CONNECTIVITY)\n{id node1 node2}\n");
    for (int k = 0; k < n_element; ++k)
        std::fprintf(f, "%4d %5d %5d\n", k + 1, node_position(elements[k].from),
                     node_position(elements[k].to));
}

void write_wheels(std::FILE *f) {
    std::fprintf(f, "(WHEEL_GRAPHICS)\n{id        x        y        z    a1    a2    a3  radius"
                    "  width   o1   o2   o3   o4   o5   o6}\n");
    for (int w = 0; w < n_wheel; ++w) {
        const Corner &c = corners[w];
        std::fprintf(f, "%4d %8s %8s %8s", first_wheel_id + w, fixed(c.axle->x, 1).c_str(),
                     fixed(wheel_y(c), 1).c_str(), fixed(wheel_radius, 1).c_str());
        for (double a : wheel_angles_deg)
            std::fprintf(f, " %5s", fixed(a, 1).c_str());
        std::fprintf(f, " %7s %6s", fixed(wheel_radius, 1).c_str(), fixed(tyre_width, 1).c_str());
        const int row = n_output + 3 * n_node + 6 * w + 1;
        for (int j = 0; j < 6; ++j)
            std::fprintf(f, " %4d", row + j);
        std::fprintf(f, "\n");
    }
}

void write_map(std::FILE *f, const Physical &p, const std::vector<Mode> &modes) {
    write_header(f, p, modes);
    write_summary(f);
    write_units(f);
    write_signals(f);
    std::fprintf(f, "[GRAPHICS]\n");
    write_nodes(f);
    write_elements(f);
    write_wheels(f);
}

bool write_matrix(std::FILE *f, const Matrix &m) {
    for (int i = 0; i < m.rows; ++i)
        if (ABCwrite_row(f, &m.v[static_cast<size_t>(i) * m.cols], m.cols) != 0) return false;
    return true;
}

// Writes the five files under temporary names and moves them into place only
// when all of them were written.
bool write_files(const std::filesystem::path &folder, const Physical &p,
                 const std::vector<Mode> &modes, const StateSpace &ss, std::string &why) {
    const std::string names[5] = {"vehicle.map", "vehicle_a", "vehicle_b", "vehicle_c",
                                  "vehicle_d"};
    const Matrix *mats[5] = {nullptr, &ss.a, &ss.b, &ss.c, &ss.d};
    sorvan::OutputFile out[5];
    for (int k = 0; k < 5; ++k) {
        std::FILE *f = out[k].open((folder / names[k]).string().c_str());
        if (!f) return why = out[k].error(), false;
        if (k == 0)
            write_map(f, p, modes);
        else if (!write_matrix(f, *mats[k]))
            return why = "cannot write " + (folder / names[k]).string(), false;
    }
    for (auto &o : out)
        if (!o.commit()) return why = o.error(), false;
    return true;
}

// The mode table for the documentation, and the largest deviation that the
// check found.
void print_modes(const Physical &p, const std::vector<Mode> &modes, double worst) {
    std::printf("| mode | f / Hz | damping ratio | largest energy share |\n|---|---|---|---|\n");
    for (int i = 0; i < n_dof; ++i) {
        const ModeText t = describe(p, modes[i]);
        std::printf("| %d | %s | %s | %s (%s %%) |\n", i + 1, t.hz.c_str(), t.zeta.c_str(),
                    t.name.c_str(), t.share.c_str());
    }
    std::printf("largest relative deviation from the second-order model: %.1e\n", worst);
}

int fail(const std::string &why) {
    std::fprintf(stderr, "sorvan_make_example: %s\n", why.c_str());
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) return fail("usage: sorvan_make_example <output folder>");
    const Physical p = build_model();
    Undamped u;
    std::vector<Mode> modes;
    StateSpace ss;
    double worst = 0.0;
    std::string why;
    if (!undamped_modes(p, u, why) || !damped_modes(p, u, modes, why) ||
        !modal_state_space(p, modes, ss, why) || !verify(p, ss, worst, why))
        return fail(why);
    const std::filesystem::path folder(argv[1]);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return fail("cannot create " + folder.string() + ": " + ec.message());
    if (!write_files(folder, p, modes, ss, why)) return fail(why);
    print_modes(p, modes, worst);
    return 0;
}
