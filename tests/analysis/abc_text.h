// An ABC matrix file read as the analysis tests read it, independently of
// the library's reader: one row a line, blank-separated values.
#ifndef SORVAN_TESTS_ANALYSIS_ABC_TEXT_H
#define SORVAN_TESTS_ANALYSIS_ABC_TEXT_H

#include "support/files.h"

#include <Eigen/Dense>

#include <sstream>
#include <string>
#include <vector>

namespace sorvan::test {

inline Eigen::MatrixXd read_abc(const std::string &path) {
    std::istringstream in(read_text(path));
    std::vector<std::vector<double>> rows;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        rows.emplace_back();
        for (double v; fields >> v;)
            rows.back().push_back(v);
    }
    Eigen::MatrixXd m(static_cast<Eigen::Index>(rows.size()),
                      rows.empty() ? 0 : static_cast<Eigen::Index>(rows[0].size()));
    for (size_t i = 0; i < rows.size(); ++i)
        for (size_t j = 0; j < rows[i].size(); ++j)
            m(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)) = rows[i][j];
    return m;
}

} // namespace sorvan::test

#endif
