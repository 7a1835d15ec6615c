// What sorvan info says about a model's signals, for the other callers
// that describe a model the same way.
#ifndef SORVAN_CLI_MODEL_INFO_H
#define SORVAN_CLI_MODEL_INFO_H

#include "sorvan_view.h"

#include <nlohmann/json.hpp>

namespace sorvan::cli {

// The "inputs" and "outputs" tables of info --json: per input its index
// (from 1), kind ("internal" with point and component, or "external" with
// name) and unit; per output row its index, point, component, kind, what
// it is (a coupling signal, or the node or wheel a graphic row moves) and
// unit.
void signal_tables(const MAPmodel &m, nlohmann::json &inputs, nlohmann::json &outputs);

// One signal named for a caption: "input 5 road_elevation_front_left" or
// "output 3, point 103 z (coupling displacement)"; index from 0. unit is
// set to what the signal is measured in.
std::string input_caption(const MAPmodel &m, int32_t index, std::string &unit);
std::string output_caption(const MAPmodel &m, int32_t index, std::string &unit);

} // namespace sorvan::cli

#endif
