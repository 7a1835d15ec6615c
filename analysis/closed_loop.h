// The model coupled to a test structure: a grounded spring and a mass at
// each structure point the coupling acts on. Once from the deck's TF cards,
// assembled as the solver assembles them, and once from the ABC model and
// the coupling relation from first principles; the two are compared by
// their static compliance and their roots.
#ifndef SORVAN_ANALYSIS_CLOSED_LOOP_H
#define SORVAN_ANALYSIS_CLOSED_LOOP_H

#include "analysis/deck.h"
#include "analysis/deck_model.h"
#include "analysis/model_compare.h"
#include "analysis/state_space.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sorvan::analysis {

// A point of the structure and its component (1 to 3 a translation, 4 to 6
// a rotation).
struct StructurePoint {
    int32_t point, component;
    bool rotation() const { return component > 3; }
    auto operator<=>(const StructurePoint &) const = default;
};

// The spring and the mass at every structure point, in SI units: N/m and kg
// at a translation, N*m/rad and kg*m^2 at a rotation.
struct TestStructure {
    double stiffness = 0.0, mass = 0.0;
};

// The coupled system, in SI units and seconds: the loads on the structure
// points (N or N*m) as inputs, their deflections (m or rad) as outputs, the
// points sorted. compliance is the static deflection of each point (row)
// under a unit load at each point (column).
struct CoupledSystem {
    std::vector<StructurePoint> points;
    StateSpace system;
    Eigen::MatrixXd compliance;
};

// How one internal input of the model is coupled: the model receives
//   f = kv (x - D) + cv (v - V)
// with x, v the structure point's motion and D, V the model's outputs
// (rows displacement and velocity of C, -1 where the model has none), all in
// SI units. The model's quantities are in the MAP file's units: force turns
// its input into N (or N*m), length its displacement output into m (or
// rad) and velocity its velocity output into m/s (or rad/s).
struct CouplingInput {
    StructurePoint at;
    Eigen::Index input;
    Eigen::Index displacement = -1, velocity = -1;
    double kv = 0.0, cv = 0.0;
    double force = 1.0, length = 1.0, velocity_factor = 1.0;
};

// The ABC model coupled to the structure by the relation above; the inputs
// not named (the external ones) held at zero. False with error when the
// coupling cannot be solved for the forces or the coupled system has no
// static deflection.
bool couple_model(const StateSpace &model, const std::vector<CouplingInput> &coupling,
                  const TestStructure &structure, CoupledSystem &out, std::string &error);

// The export units of a deck: the SI size of its length, force and time
// units.
struct DeckUnits {
    double length = 1.0, force = 1.0, time = 1.0;
};

// The deck's TF cards of layout.set, every card's terms added to its
// dependent point's equation (B0 u + B1 du/dt + B2 d2u/dt2 + sum of
// (A0 + A1 p + A2 p^2) u_i = 0), together with the structure, which the
// deck's units express; the structure points are those the cards name with a
// component other than 0. An extra point of the model that no card gives an
// equation is held at zero, and named in notes unless it is an external
// input. False with error when a
// card cannot be assembled (a second derivative of an extra point) or the
// assembled system is singular.
bool couple_deck(const Deck &deck, const ModelLayout &layout, const DeckUnits &units,
                 const TestStructure &structure, CoupledSystem &out, std::string &error,
                 std::vector<std::string> &notes);

// The roots of the coupled model (state matrix model) and of the coupled
// deck compared: each of the model's matched to the deck's nearest (see
// match_modes). A root that moves by more than tolerance is weighed, and
// left out when double precision does not fix it, or its match, to within
// share of its modulus: its condition number (how much a change of the
// matrix moves it) times the rounding of the matrix's terms exceeds that.
// The stiff couplings of a large model can make roots no computation pins
// down. uncertain counts the roots of the model left out, uncertain_deck
// their matches. Only the roots that move are weighed: a deck that holds
// the model costs the eigenvalues alone. Throws what WeighedEigenvalues
// throws.
void compare_roots(const Eigen::MatrixXd &model, const Eigen::MatrixXd &deck, double tolerance,
                   double share, ModelComparison &out, std::size_t &uncertain,
                   std::size_t &uncertain_deck, const Progress &progress = {});

// The structure's default at the points of the coupling: the stiffness is
// the geometric mean of the model's static driving-point stiffness at the
// points (where it has one), the mass puts the structure's own frequency at
// the geometric mean of the model's lowest and highest natural frequency.
TestStructure default_structure(const StateSpace &model, const std::vector<CouplingInput> &coupling,
                                const std::vector<Mode> &modes);

} // namespace sorvan::analysis

#endif
