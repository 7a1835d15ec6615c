// The state-space model as the solver sees it in a deck: A, B, C, D rebuilt
// from the TF cards of the state and output equations.
#ifndef SORVAN_ANALYSIS_DECK_MODEL_H
#define SORVAN_ANALYSIS_DECK_MODEL_H

#include "analysis/deck.h"
#include "analysis/state_space.h"

#include <cstdint>
#include <string>

namespace sorvan::analysis {

// Where the converter put the model's extra points: from the point after
// grid_id_offset on, the internal inputs, the external inputs, the outputs
// and the states, one range after the other. outputs counts every row of C
// (the MAP file's state-space outputs, 3 per graphic node and 6 per wheel).
struct ModelLayout {
    int32_t grid_id_offset = 0;
    int32_t internal_inputs = 0, external_inputs = 0, outputs = 0, states = 0;
    int32_t set = 1; // the TF set the equations belong to

    int64_t input_base() const { return grid_id_offset; }
    int64_t output_base() const { return input_base() + internal_inputs + external_inputs; }
    int64_t state_base() const { return output_base() + outputs; }
};

// The layout from the MAP file's offset and counts and the number of states.
ModelLayout layout_from_map(int32_t grid_id_offset, int32_t n_input, int32_t n_external,
                            int32_t n_output, int32_t n_node, int32_t n_wheel, int32_t states);

// Rebuilds the model from the TF cards of layout.set in deck. A card whose
// dependent point is a state is that state's equation
//   b0 x_i + b1 dx_i/dt + sum of a0 u(point) = 0,
// so A(i, i) = -b0 / b1 and each term gives -a0 / b1 to A (a state point)
// or to B (an input point); a card on an output is
//   b0 y_i + sum of a0 u(point) = 0,
// each term giving -a0 / b0 to C or D. A term the card lacks is 0. Cards
// on input points (the coupling and external-input cards) and on
// structure points (component other than 0) are not part of the model.
//
// Refused, with the file and the line: an extra point (component 0) of a
// card of the set that lies in none of the ranges; an equation that names
// an output point, a structure point, its own point or one point twice;
// derivative coefficients the first-order model cannot hold (b2, a1, a2
// not 0, b1 of an output not 0, b1 of a state or b0 of an output 0); a
// second equation for a state or output; and, with the point named, an
// equation that is missing. Also refused: a layout with negative counts,
// ranges beyond the 32-bit identifiers, or more states and outputs than the
// deck has TF cards.
bool rebuild_model(const Deck &deck, const ModelLayout &layout, StateSpace &model,
                   std::string &error);

} // namespace sorvan::analysis

#endif
