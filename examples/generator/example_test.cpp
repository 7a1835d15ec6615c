// The bundled example vehicle, read back through the library's readers: the
// MAP file must describe the matrices, the state matrix must be in the modal
// form that the state matrix writer reduces by frequency, and the matrices
// must behave like a mechanical model (reciprocity, no instantaneous
// displacement under a force, passive collocated coupling points).
#include "sorvan_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string example_dir = SORVAN_EXAMPLE_DIR;

struct Example {
    MAPmodel *map = nullptr;
    ABCmtx *m[4] = {};
    bool ok = false;

    Example() {
        const std::string map_name = example_dir + "/vehicle.map";
        std::FILE *f = std::fopen(map_name.c_str(), "r");
        if (!f) return;
        map = static_cast<MAPmodel *>(std::calloc(1, sizeof(MAPmodel)));
        int (*const readers[])(MAPmodel *, FILE *) = {MAPread_input,          MAPread_output,
                                                      MAPread_external_input, MAPread_node,
                                                      MAPread_element,        MAPread_wheel};
        ok = MAPread_size(map, f) == MAP_OK && MAPread_unit(map, f) == MAP_OK &&
             MAPalloc(map) == MAP_OK;
        for (auto read : readers)
            ok = ok && read(map, f) == MAP_OK;
        std::fclose(f);
        if (!ok) map = nullptr; // released by the reader that failed
        const std::string base = example_dir + "/vehicle_";
        for (int k = 0; k < 4; ++k) {
            m[k] = ABCread_mtx(base.c_str(), static_cast<char>('a' + k));
            ok = ok && m[k] != nullptr;
        }
    }
    ~Example() {
        MAPfree(map);
        for (ABCmtx *x : m)
            ABCfree(x);
    }
    const ABCmtx &a() const { return *m[0]; }
    const ABCmtx &b() const { return *m[1]; }
    const ABCmtx &c() const { return *m[2]; }
    const ABCmtx &d() const { return *m[3]; }
    int n_internal() const { return map->n_input - map->n_external; }
};

const Example &example() {
    static const Example e;
    return e;
}

class VehicleExample : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(example().ok) << "cannot read the example in " << example_dir;
    }
    const Example &ex = example();
};

// Output rows of the displacement (kind 1) and velocity (kind 2) at the point
// of each internal input.
std::vector<int> coupling_rows(const MAPmodel &map, int kind) {
    std::vector<int> rows;
    for (int i = 0; i < map.n_input - map.n_external; ++i)
        for (int r = 0; r < map.n_output; ++r)
            if (map.output[r].id == map.input[i].id && map.output[r].dof == map.input[i].dof &&
                map.output[r].kind == kind)
                rows.push_back(r);
    return rows;
}

// x = A^-1 B through the 2x2 blocks of the modal form.
std::vector<std::vector<double>> solve_blocks(const ABCmtx &a, const ABCmtx &b) {
    std::vector<std::vector<double>> x(a.nrows, std::vector<double>(b.ncols));
    for (int j = 0; j + 1 < a.nrows; j += 2) {
        const double s = a.rows[j][j], w = a.rows[j][j + 1], det = s * s + w * w;
        for (int k = 0; k < b.ncols; ++k) {
            const double b1 = b.rows[j][k], b2 = b.rows[j + 1][k];
            x[j][k] = (s * b1 - w * b2) / det;
            x[j + 1][k] = (w * b1 + s * b2) / det;
        }
    }
    return x;
}

// Static gain -C A^-1 B + D of output row r for input k.
double static_gain(const Example &ex, const std::vector<std::vector<double>> &ainv_b, int r,
                   int k) {
    double g = ex.d().rows[r][k];
    for (int q = 0; q < ex.c().ncols; ++q)
        g -= ex.c().rows[r][q] * ainv_b[q][k];
    return g;
}

// First Markov parameter C B: the jump of an output under an impulse.
double markov(const Example &ex, int r, int k) {
    double g = 0.0;
    for (int q = 0; q < ex.c().ncols; ++q)
        g += ex.c().rows[r][q] * ex.b().rows[q][k];
    return g;
}

// True when the symmetric n x n matrix g is positive definite (Cholesky).
bool positive_definite(std::vector<std::vector<double>> g) {
    const size_t n = g.size();
    for (size_t j = 0; j < n; ++j) {
        for (size_t k = 0; k < j; ++k)
            g[j][j] -= g[j][k] * g[j][k];
        if (!(g[j][j] > 0.0)) return false;
        g[j][j] = std::sqrt(g[j][j]);
        for (size_t i = j + 1; i < n; ++i) {
            for (size_t k = 0; k < j; ++k)
                g[i][j] -= g[i][k] * g[j][k];
            g[i][j] /= g[j][j];
        }
    }
    return true;
}

void expect_symmetric(const std::vector<std::vector<double>> &g, const char *what) {
    double scale = 0.0;
    for (const auto &row : g)
        for (double v : row)
            scale = std::fmax(scale, std::fabs(v));
    for (size_t i = 0; i < g.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            EXPECT_NEAR(g[i][j], g[j][i], 1e-9 * scale) << what << " (" << i << ", " << j << ")";
}

} // namespace

TEST_F(VehicleExample, UnitsReadAsMillimetreNewtonTonneSecondDegree) {
    EXPECT_EQ(ex.map->unit_length, 0.001);
    EXPECT_EQ(ex.map->unit_force, 1.0);
    EXPECT_EQ(ex.map->unit_mass, 1000.0); // 1 N = 1 t mm / s^2
    EXPECT_EQ(ex.map->unit_time, 1.0);
    EXPECT_EQ(ex.map->unit_angle, 0.017453292519943295);
}

TEST_F(VehicleExample, MapDescribesTheMatrices) {
    const MAPmodel &map = *ex.map;
    const int n = ex.a().nrows;
    EXPECT_EQ(ex.a().ncols, n);
    EXPECT_EQ(ex.b().nrows, n);
    EXPECT_EQ(ex.b().ncols, map.n_input);
    EXPECT_EQ(ex.c().nrows, map.n_output_all);
    EXPECT_EQ(ex.c().ncols, n);
    EXPECT_EQ(ex.d().nrows, map.n_output_all);
    EXPECT_EQ(ex.d().ncols, map.n_input);
    EXPECT_EQ(map.n_output_all, map.n_output + 3 * map.n_node + 6 * map.n_wheel);
    EXPECT_GT(map.n_external, 0);
    EXPECT_GT(ex.n_internal(), 0);

    // Every graphic row is carried by exactly one node or wheel component.
    std::vector<int> uses(map.n_output_all, 0);
    for (int k = 0; k < map.n_node; ++k)
        for (int j = 0; j < 3; ++j)
            ++uses[map.node_out[k][j]];
    for (int w = 0; w < map.n_wheel; ++w)
        for (int j = 0; j < 6; ++j)
            ++uses[map.wheel_out[w][j]];
    for (int r = 0; r < map.n_output_all; ++r)
        EXPECT_EQ(uses[r], r < map.n_output ? 0 : 1) << r;
    for (int e = 0; e < map.n_element; ++e) {
        EXPECT_GE(map.element[e].node1, 1);
        EXPECT_LE(map.element[e].node1, map.n_node);
        EXPECT_GE(map.element[e].node2, 1);
        EXPECT_LE(map.element[e].node2, map.n_node);
        EXPECT_NE(map.element[e].node1, map.element[e].node2);
    }
    for (int e = 0; e < map.n_external; ++e) {
        const std::string name = map.ext_name[e];
        EXPECT_GT(name.size(), 1u);
        EXPECT_EQ(name.back(), '\n');
        EXPECT_EQ(map.ext_index[e], e + 1);
    }

    // The export numbers from the offsets: extra points for inputs, outputs
    // and states, one unused number, the node GRIDs, then per wheel a centre
    // and two rim points per division (24 by default); the elements, then
    // per wheel a system, three elements per division and the rigid element.
    const long long last_grid = 1LL * map.grid_id_offset + map.n_input + map.n_output_all + n + 1 +
                                map.n_node + map.n_wheel * (2 * 24 + 1);
    const long long last_element =
        1LL * map.element_id_offset + map.n_element + map.n_wheel * (3 * 24 + 2);
    EXPECT_LE(last_grid, 99999999);
    EXPECT_LE(last_element, 99999999);
    EXPECT_GT(map.element_id_offset, last_grid); // the two ranges stay apart
}

TEST_F(VehicleExample, EveryInternalInputHasItsCouplingOutputs) {
    const MAPmodel &map = *ex.map;
    const std::vector<int> disp = coupling_rows(map, 1), vel = coupling_rows(map, 2);
    ASSERT_EQ(disp.size(), static_cast<size_t>(ex.n_internal()));
    ASSERT_EQ(vel.size(), static_cast<size_t>(ex.n_internal()));
    for (int i = 0; i < ex.n_internal(); ++i) {
        EXPECT_EQ(map.input[i].dof, 3);
        EXPECT_EQ(map.input[i].kind, 0);
        for (int j = 0; j < i; ++j)
            EXPECT_NE(map.input[i].id, map.input[j].id);
    }
    // The graphic node at a coupling point moves as its displacement output.
    for (int i = 0; i < ex.n_internal(); ++i) {
        int node = -1;
        for (int k = 0; k < map.n_node; ++k)
            if (map.node_id[k] == map.input[i].id) node = k;
        ASSERT_GE(node, 0) << "no node drawn at coupling point " << map.input[i].id;
        const int z = map.node_out[node][2];
        for (int q = 0; q < ex.c().ncols; ++q)
            EXPECT_NEAR(ex.c().rows[z][q], ex.c().rows[disp[i]][q],
                        1e-12 * std::fabs(ex.c().rows[disp[i]][q]) + 1e-300);
    }
}

TEST_F(VehicleExample, StateMatrixIsInModalFormWithASpreadOfModes) {
    const ABCmtx &a = ex.a();
    ASSERT_EQ(a.nrows % 2, 0);
    std::vector<double> hz;
    for (int i = 0; i < a.nrows; ++i)
        for (int j = 0; j < a.ncols; ++j)
            if (i / 2 != j / 2) {
                ASSERT_EQ(a.rows[i][j], 0.0) << i << ", " << j;
            }
    for (int j = 0; j < a.nrows; j += 2) {
        const double s = a.rows[j][j], w = a.rows[j][j + 1];
        EXPECT_EQ(a.rows[j + 1][j], -w) << j;
        EXPECT_EQ(a.rows[j + 1][j + 1], s) << j;
        EXPECT_LT(s, 0.0) << j;
        EXPECT_GT(w, 0.0) << j;
        hz.push_back(std::sqrt(s * s + w * w) / 6.28318530717958);
    }
    for (size_t k = 1; k < hz.size(); ++k)
        EXPECT_GE(hz[k], hz[k - 1]);

    auto count = [&](double lo, double hi) {
        int n = 0;
        for (double f : hz)
            n += f >= lo && f <= hi;
        return n;
    };
    EXPECT_GE(count(0.8, 2.0), 3);   // heave, pitch, roll
    EXPECT_GE(count(10.0, 15.0), 4); // wheel hop
    EXPECT_GE(count(20.0, 100.0), 1);
    EXPECT_LE(hz.back(), 100.0);

    // A frequency limit of 20 Hz keeps the ride modes and drops the rest.
    const double limit = 20.0 * 6.28318530717958;
    int kept = 0;
    for (int j = 0; j < a.nrows; j += 2) {
        const double s = a.rows[j][j], w = a.rows[j][j + 1];
        kept += limit * limit >= s * s + w * w;
    }
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, a.nrows / 2);
}

TEST_F(VehicleExample, StaticResponseIsReciprocalAndAtRest) {
    const MAPmodel &map = *ex.map;
    const auto ainv_b = solve_blocks(ex.a(), ex.b());
    const std::vector<int> disp = coupling_rows(map, 1), vel = coupling_rows(map, 2);
    const int n = ex.n_internal();

    // Static compliance between the coupling points: symmetric (reciprocity)
    // and positive definite (the model stores energy under any load).
    std::vector<std::vector<double>> g(n, std::vector<double>(n));
    double scale = 0.0;
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < n; ++k) {
            g[i][k] = static_gain(ex, ainv_b, disp[i], k);
            scale = std::fmax(scale, std::fabs(g[i][k]));
        }
    expect_symmetric(g, "static compliance");
    EXPECT_TRUE(positive_definite(g));

    // Under constant inputs nothing moves: every velocity output is zero.
    for (int r : vel)
        for (int k = 0; k < map.n_input; ++k)
            EXPECT_NEAR(static_gain(ex, ainv_b, r, k), 0.0, 1e-9 * scale) << r << ", " << k;

    // A road rise under one tyre lifts that wheel by less than the rise.
    const int wheel_z = map.wheel_out[0][2], road = n;
    const double lift = static_gain(ex, ainv_b, wheel_z, road);
    EXPECT_GT(lift, 0.0);
    EXPECT_LT(lift, 1.0);
}

TEST_F(VehicleExample, ForcesAccelerateButDoNotDisplaceAtOnce) {
    const MAPmodel &map = *ex.map;
    const std::vector<int> disp = coupling_rows(map, 1), vel = coupling_rows(map, 2);
    const int n = ex.n_internal();
    // An impulse of force gives a velocity jump (the inverse mass seen by
    // the coupling points: symmetric, positive definite) and no jump of a
    // displacement. The powertrain torque, the last input, is a force too.
    std::vector<std::vector<double>> jump(n, std::vector<double>(n));
    double scale = 0.0;
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < n; ++k) {
            jump[i][k] = markov(ex, vel[i], k);
            scale = std::fmax(scale, std::fabs(jump[i][k]));
        }
    expect_symmetric(jump, "velocity jump");
    EXPECT_TRUE(positive_definite(jump));
    std::vector<int> forces;
    for (int k = 0; k < n; ++k)
        forces.push_back(k);
    forces.push_back(map.n_input - 1);
    for (int r = map.n_output; r < map.n_output_all; ++r)
        for (int k : forces)
            EXPECT_NEAR(markov(ex, r, k), 0.0, 1e-9 * scale) << r << ", " << k;
    for (int r : disp)
        for (int k : forces)
            EXPECT_NEAR(markov(ex, r, k), 0.0, 1e-9 * scale) << r << ", " << k;
}
