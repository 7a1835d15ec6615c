// Models written as real files for the tests of the model commands: ABC
// sets in the 25-character layout, MAP files from their sections, and a
// command run in the test's own process with its standard output taken.
#ifndef SORVAN_TESTS_CLI_MODEL_FILES_H
#define SORVAN_TESTS_CLI_MODEL_FILES_H

#include "cli/json_output.h"
#include "support/files.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace sorvan::test {

// One matrix file: every value " %+23.16E" with a three-digit exponent.
inline void write_matrix(const std::filesystem::path &file, const Eigen::MatrixXd &m) {
    std::string text;
    for (Eigen::Index i = 0; i < m.rows(); ++i) {
        for (Eigen::Index j = 0; j < m.cols(); ++j) {
            char field[40];
            std::snprintf(field, sizeof field, " %+23.16E", m(i, j));
            std::string f = field;
            // Two exponent digits become three.
            const std::size_t e = f.find('E');
            if (f.size() - e == 4) f.insert(e + 2, "0");
            text += f.substr(f.size() - 25);
        }
        text += "\n";
    }
    write_text(file, text);
}

inline void write_abc(const std::filesystem::path &base, const Eigen::MatrixXd &a,
                      const Eigen::MatrixXd &b, const Eigen::MatrixXd &c,
                      const Eigen::MatrixXd &d) {
    write_matrix(base.string() + "a", a);
    write_matrix(base.string() + "b", b);
    write_matrix(base.string() + "c", c);
    write_matrix(base.string() + "d", d);
}

// A MAP file in SI units with the given inputs (id, dof) and outputs (id,
// dof, kind), external input names, and graphic sections given as text
// (their counts in the summary).
struct MapText {
    std::vector<std::array<int, 2>> inputs;
    std::vector<std::array<int, 3>> outputs;
    std::vector<std::string> externals;
    int nodes = 0, elements = 0, wheels = 0;
    std::string graphics; // "(NODES)..." sections
    std::string units = "LENGTH = 'meter'\nANGLE = 'degree'\nFORCE = 'newton'\nMASS = "
                        "'kilogram'\nTIME = 'second'\n";
    int grid_offset = 1000, element_offset = 2000;
};

inline std::string map_text(const MapText &m) {
    std::string s = "[FILE_SUMMARY]\n";
    s += "ABCD_INPUT_N = " + std::to_string(m.inputs.size() + m.externals.size()) + "\n";
    s += "ABCD_OUTPUT_N = " + std::to_string(m.outputs.size()) + "\n";
    s += "ABCD_EXTERNAL_N = " + std::to_string(m.externals.size()) + "\n";
    s += "GRAPHICS_ELEMENT_N = " + std::to_string(m.elements) + "\n";
    s += "GRAPHICS_NODE_N = " + std::to_string(m.nodes) + "\n";
    s += "WHEEL_GRAPHICS_N = " + std::to_string(m.wheels) + "\n";
    s += "GRID_ID_OFFSET = " + std::to_string(m.grid_offset) + "\n";
    s += "ELEMENT_ID_OFFSET = " + std::to_string(m.element_offset) + "\n";
    s += "[UNITS]\n" + m.units;
    s += "[STATE_SPACE_INPUT]\n{abcd_index id dof}\n";
    for (std::size_t k = 0; k < m.inputs.size(); ++k)
        s += std::to_string(k + 1) + " " + std::to_string(m.inputs[k][0]) + " " +
             std::to_string(m.inputs[k][1]) + "\n";
    s += "[STATE_SPACE_OUTPUT]\n{abcd_index id dof kind}\n";
    for (std::size_t k = 0; k < m.outputs.size(); ++k)
        s += std::to_string(k + 1) + " " + std::to_string(m.outputs[k][0]) + " " +
             std::to_string(m.outputs[k][1]) + " " + std::to_string(m.outputs[k][2]) + "\n";
    s += "[STATE_SPACE_EXTERNAL_INPUT]\n{abcd_index $name}\n";
    for (std::size_t k = 0; k < m.externals.size(); ++k)
        s += std::to_string(m.inputs.size() + k + 1) + " $" + m.externals[k] + "\n" +
             std::to_string(k + 1) + "\n";
    s += "[GRAPHICS]\n" + m.graphics;
    return s;
}

// Runs a command of the library in this process with the words given
// (argv[0] "sorvan", argv[1] the command) and returns its exit status;
// out gets what it printed on the standard output stream (with --json, the
// envelope).
template <class Run>
int run_captured(Run run, const std::vector<std::string> &words, std::string &out) {
    std::vector<std::string> storage = {"sorvan"};
    storage.insert(storage.end(), words.begin(), words.end());
    std::vector<char *> argv;
    for (std::string &w : storage)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    const int status = run(static_cast<int>(storage.size()), argv.data());
    // As the program does once the command is done: the JSON envelope.
    if (std::find(words.begin(), words.end(), "--json") != words.end())
        sorvan::cli::json_output::finish(words.empty() ? "" : words[0], status);
    std::fflush(stdout);
    out = testing::internal::GetCapturedStdout();
    return status;
}

} // namespace sorvan::test

#endif
