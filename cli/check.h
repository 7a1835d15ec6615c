// The deck check that sorvan check and sorvan convert --check run, and the
// model files as the commands that need no plug-in read them.
#ifndef SORVAN_CLI_CHECK_H
#define SORVAN_CLI_CHECK_H

#include "analysis/state_space.h"
#include "sorvan_view.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

namespace sorvan::cli {

struct MapDeleter {
    void operator()(MAPmodel *map) const { MAPfree(map); }
};
using MapRecord = std::unique_ptr<MAPmodel, MapDeleter>;

// Reads every section of a MAP file as the converter does (external inputs
// included). False with error naming the file and the reader's message when
// it cannot be opened or is refused, or when it declares no inputs or no
// outputs; the readers' diagnostics are taken into error, not printed.
bool read_map_file(const std::string &file, MapRecord &map, std::string &error);

// Reads the ABC set of base and checks its sizes against the MAP record: A
// square, B with A's rows and n_input columns, C with n_output_all rows and
// A's columns, D with C's rows and B's columns, every term finite. False
// with error naming the file at fault.
bool read_abc_set(const std::string &base, const MAPmodel &map, analysis::StateSpace &model,
                  std::string &error);

// The exit status of the last read_map_file or read_abc_set that failed:
// 66 when a file could not be opened, 65 when its content was refused.
int model_read_exit();

// The MAP file and the ABC set of a model, as info and ride read them: 0, or
// the exit status of the failed read after complaining in command's name.
int read_model(const char *command, const std::string &map_file, const std::string &abc_base,
               MapRecord &map, analysis::StateSpace &model);

// A matrix the ABC reader read, as the analysis library takes it.
Eigen::MatrixXd dense_matrix(const ABCmtx &m);

// Exit statuses of the check.
constexpr int check_passed = 0;
constexpr int check_failed = 1;
constexpr int check_bad_deck = 65; // the deck reader refused the file

struct CheckSettings {
    std::string bdf, map_file, abc_base;
    std::string reference; // the full model's ABC set of a reduced deck, or empty
    double tolerance = 1e-2;
    std::string plot;                    // an SVG file to draw, or empty
    int pair_input = 0, pair_output = 0; // --pair I,O counted from 1; 0 for the worst pair
    // The closed loop's test structure, SI; 0 for the default from the model.
    double structure_stiffness = 0.0, structure_mass = 0.0;
};

// Checks the deck against its model and returns one of the statuses above,
// or exit_no_input (66) when the deck, the MAP file or the ABC set cannot be
// read, exit_usage (64) when --pair names a pair the model lacks, or
// exit_output (73) when the plot cannot be written. report gets the JSON
// object (figures, "failures" and "result" "pass" or "fail"); error the
// reason when the check could not be made at all.
int check_deck(const CheckSettings &settings, nlohmann::json &report, std::string &error);

// The one line that sums a report up ("check passed: ..." or "check
// FAILED: ...").
std::string check_summary(const nlohmann::json &report);

} // namespace sorvan::cli

#endif
