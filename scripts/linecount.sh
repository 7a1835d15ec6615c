#!/usr/bin/env bash
# Prints the lines of test code against the lines of product code:
#
#   tests: N lines, code: M lines: tests are P % of the code
#
# Counted are the physical lines (wc -l) of the files git tracks that are
# C or C++ (.c, .cpp, .h), CMake (CMakeLists.txt, .cmake) or Python (.py).
#   tests: tests/ and the Python module's tests (python/tests/), without the
#          test data (tests/data/) and the fuzz seed corpora
#          (tests/fuzz/corpus/).
#   code:  the subsystem folders, the front end and the analysis library,
#          the public header (include/), the Python module (python/) without
#          its tests and its example, the top-level CMakeLists.txt and cmake/.
# The benchmark (bench/), the examples (examples/, python/example.py) and the
# scripts (scripts/) count on neither side. Data files, golden files and
# other texts (the export lists, README files) are not counted.
set -euo pipefail
cd "$(dirname "$0")/.."

kinds='(\.(c|cpp|h|cmake|py)|(^|/)CMakeLists\.txt)$'
lines() { # pathspecs; then an extended regex of the paths to leave out
    local -a specs=("${@:1:$#-1}")
    git ls-files -- "${specs[@]}" | grep -E "$kinds" | grep -Ev "${!#}" |
        tr '\n' '\0' | xargs -0 cat | wc -l
}

tests=$(lines tests python/tests '^tests/(data|fuzz/corpus)/')
code=$(lines frame model_input bdf_export statemat road_profile host cli analysis include \
    python cmake CMakeLists.txt '^python/(tests/|example\.py$)')
echo "tests: $tests lines, code: $code lines: tests are $(((100 * tests + code / 2) / code)) % of the code"
