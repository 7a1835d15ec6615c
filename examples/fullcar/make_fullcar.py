#!/usr/bin/env python3
"""Writes the full car for ride (fullcar.map and the ABC set fullcar_a to
fullcar_d) from the parameters below, following the file formats of the
README. Plain Python, no other module: run it in this folder to write the
files again.

Degrees of freedom q: body heave zb (at the centre of mass), pitch p
(positive nose down: a point at x moves by -x p), roll r (positive left
side up: a point at y moves by +y r), the four wheels (front left, front
right, rear left, rear right), the driver on the seat. Axes x forward,
y left, z up; SI units. M q'' + C q' + K q = F u with u the four road
elevations below the tyres; states x = (q, q'), A = [[0, I], [-M^-1 K,
-M^-1 C]], B = [[0], [M^-1 F]].
"""

body_mass = 1200.0  # kg, sprung
pitch_inertia = 1800.0  # kg m^2, about y through the centre of mass
roll_inertia = 450.0  # kg m^2, about x
to_front, to_rear = 1.2, 1.5  # m from the centre of mass: wheelbase 2.7 m
half_track = 0.75  # m
wheel_mass = {"front": 40.0, "rear": 35.0}  # kg each
spring = {"front": 24e3, "rear": 22e3}  # N/m at the wheel
damper = {"front": 1.9e3, "rear": 1.7e3}  # N s/m at the wheel
tyre = 230e3  # N/m
seat_mass = 75.0  # kg, driver and cushion
seat_spring, seat_damper = 47e3, 1.13e3  # N/m, N s/m: about 4 Hz, 30 % of critical
seat_x, seat_y = 0.2, 0.37  # m from the centre of mass

corners = [  # name, x, y, axle
    ("fl", to_front, half_track, "front"),
    ("fr", to_front, -half_track, "front"),
    ("rl", -to_rear, half_track, "rear"),
    ("rr", -to_rear, -half_track, "rear"),
]
N = 8  # degrees of freedom: zb, p, r, four wheels, seat
mass = [body_mass, pitch_inertia, roll_inertia] + [wheel_mass[c[3]] for c in corners] + [seat_mass]


def zeros(rows, cols):
    return [[0.0] * cols for _ in range(rows)]


def body_point(x, y):
    """The vertical motion of the body point (x, y) in terms of q."""
    e = [0.0] * N
    e[0], e[1], e[2] = 1.0, -x, y
    return e


def add_link(matrix, value, e):
    """A spring or damper whose stretch is e . q: value e e^T."""
    for i in range(N):
        for j in range(N):
            matrix[i][j] += value * e[i] * e[j]


K, C, F = zeros(N, N), zeros(N, N), zeros(N, 4)
for k, (name, x, y, axle) in enumerate(corners):
    stretch = [-v for v in body_point(x, y)]
    stretch[3 + k] += 1.0  # wheel minus body corner
    add_link(K, spring[axle], stretch)
    add_link(C, damper[axle], stretch)
    K[3 + k][3 + k] += tyre  # the tyre on the road elevation u_k
    F[3 + k][k] = tyre
seat = [-v for v in body_point(seat_x, seat_y)]
seat[7] += 1.0
add_link(K, seat_spring, seat)
add_link(C, seat_damper, seat)

n = 2 * N
A, B = zeros(n, n), zeros(n, 4)
for i in range(N):
    A[i][N + i] = 1.0
    for j in range(N):
        A[N + i][j] = -K[i][j] / mass[i]
        A[N + i][N + j] = -C[i][j] / mass[i]
    for j in range(4):
        B[N + i][j] = F[i][j] / mass[i]

# Outputs: body heave displacement and velocity (the state-space outputs),
# then x, y, z of each node: the centre of mass, the four body corners, the
# four wheel centres and the driver.
nodes = [("cg", 0.0, 0.0, 0.55, body_point(0.0, 0.0))]
nodes += [(c[0], c[1], c[2], 0.6, body_point(c[1], c[2])) for c in corners]
for k, c in enumerate(corners):
    e = [0.0] * N
    e[3 + k] = 1.0
    nodes.append((c[0] + "_wheel", c[1], c[2], 0.3, e))
driver = [0.0] * N
driver[7] = 1.0
nodes.append(("driver", seat_x, seat_y, 0.9, driver))

rows = [[1.0] + [0.0] * (n - 1), [0.0] * N + [1.0] + [0.0] * (N - 1)]
for node in nodes:
    rows += [[0.0] * n, [0.0] * n, node[4] + [0.0] * N]
D = zeros(len(rows), 4)


def field(v):
    text = "%+.16E" % v  # two exponent digits: widen to three
    mantissa, exponent = text.split("E")
    return " %sE%s%03d" % (mantissa, exponent[0], abs(int(exponent)))


def write_matrix(path, m):
    with open(path, "w", newline="\n") as f:
        for row in m:
            f.write("".join(field(v) for v in row) + "\n")


for letter, m in zip("abcd", (A, B, rows, D)):
    write_matrix("fullcar_" + letter, m)

with open("fullcar.map", "w", newline="\n") as f:
    f.write("# Full car for ride: body heave, pitch and roll, four wheels and the\n"
            "# driver's seat, driven by the road elevations below the four tyres.\n"
            "# Written by make_fullcar.py from the file formats in the README; SI units.\n")
    f.write("[FILE_SUMMARY]\nABCD_INPUT_N = 4\nABCD_OUTPUT_N = 2\nABCD_EXTERNAL_N = 4\n"
            "GRAPHICS_ELEMENT_N = 9\nGRAPHICS_NODE_N = %d\nWHEEL_GRAPHICS_N = 0\n"
            "GRID_ID_OFFSET = 1000\nELEMENT_ID_OFFSET = 2000\n" % len(nodes))
    f.write("[UNITS]\nLENGTH = 'meter'\nANGLE = 'degree'\nFORCE = 'newton'\n"
            "MASS = 'kilogram'\nTIME = 'second'\n")
    f.write("[STATE_SPACE_INPUT]\n{abcd_index   id  dof}\n")
    f.write("[STATE_SPACE_OUTPUT]\n{abcd_index   id  dof kind}\n"
            "     1      1    3    1\n     2      1    3    2\n")
    f.write("[STATE_SPACE_EXTERNAL_INPUT]\n{abcd_index  $name / external index}\n")
    for k, c in enumerate(corners):
        f.write("     %d $road_%s\n%d\n" % (k + 1, c[0], k + 1))
    f.write("[GRAPHICS]\n(NODES)\n{id      x      y      z    o1   o2   o3}\n")
    for i, node in enumerate(nodes):
        o = 3 + 3 * i
        f.write("  %2d %6.2f %6.2f %6.2f   %3d  %3d  %3d\n"
                % (i + 1, node[1], node[2], node[3], o, o + 1, o + 2))
    f.write("(CONNECTIVITY)\n{id node1 node2}\n")
    # The body's outline, each corner to its wheel, the centre to the driver.
    for i, (a, b) in enumerate([(2, 3), (3, 5), (5, 4), (4, 2), (2, 6), (3, 7), (4, 8), (5, 9),
                                (1, 10)]):
        f.write("  %2d  %3d  %3d\n" % (i + 1, a, b))
