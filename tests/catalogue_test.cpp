// The catalogue of bad input: one row per fault, for every reader and every
// host function. Each row starts from a model that converts, breaks one
// thing, and states the result and a fragment of the message that the fault
// must give. For every row the folder must afterwards hold what it held
// before (plus the files a row that must work creates), no array or file
// handle of the host may be left open, and the sanitizer build checks that
// nothing leaks.
#include "host/plexa_setup.h"
#include "support/bdf_check.h"
#include "support/files.h"
#include "support/host_objects.h"

#include "sorvan_view.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

// A MAP file may declare 2^31 - 1 records; the record's arrays for them are
// asked for before the tables are read. Under the address sanitizer such a
// request must fail with NULL, as it does without it, so that the converter
// reports it instead of the sanitizer ending the program.
extern "C" const char *__asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

const std::string data_dir = std::string(SORVAN_TEST_DATA) + "/bdf/";

// Whether this build runs under the address sanitizer, whose reserved
// address space no limit of it leaves room for.
[[maybe_unused]] bool under_sanitizer() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}
const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

// What runs: the ABC reader on the set, the MAP read sequence, the unit
// label lookup, the converter, the three host functions, and the command
// line (the built sorvan, once as it is and once with --json).
enum class Entry { abc, map, units, convert, command, statemat, road, cli };
constexpr int entry_count = 8;

const char *entry_name(Entry e) {
    const char *names[] = {
        "ABCread_mtx",           "MAP readers",    "UNTconstant",     "kavel2pelda",
        "KAVEL2PELDA_BDF_WRITE", "STATEMAT_WRITE", "GENRPROF_SAYERS", "sorvan"};
    return names[static_cast<int>(e)];
}

// Everything one row may change, at values that work. The files of the
// model sit in a scratch folder that is the working directory.
struct Bench {
    // the converter and the readers
    std::string map = "truck.map", abc = "truck_";
    int32_t tf_id = 1, whl_dv = 24;
    // the unit label lookup
    std::string label = "mm";
    // the host command: object type, attribute 505, unit objects' labels
    std::optional<int32_t> command_type = sorvan::host_codes::command_object_type;
    std::vector<double> values = {1, 2, 3, 4, 1e9, 1e6, 1e6, 1e4};
    std::string unit_labels[4] = {"m", "N", "kg", "s"};
    // the state matrix writer: 8 sizes and 4 value sets (nullopt: missing)
    std::optional<int32_t> sizes[8] = {2, 2, 2, 1, 2, 2, 2, 1};
    std::optional<std::vector<double>> matrices[4] = {
        std::vector<double>{0, 1, -1, 0}, std::vector<double>{1, 2},
        std::vector<double>{1, 0, 0, 1}, std::vector<double>{0, 0}};
    std::string base = "state_";
    double freq = 0.0, real_switch = 1.0;
    // the road profile command (nullopt: no array)
    std::optional<std::vector<int32_t>> ints = std::vector<int32_t>{1, 4711};
    std::optional<std::vector<double>> reals =
        std::vector<double>{1e-6, 1e-8, 1e-7, 1.5, 30.0, 0.125};
    std::optional<std::vector<std::string>> strings =
        std::vector<std::string>{"road.rsp", "left", "right"};
    std::optional<std::vector<std::string>> reals_as_texts; // replaces reals
    // the command line: sorvan's words (the plug-in option is added), and
    // what the shell runs before it
    std::string words, shell;
};

const auto &read_file = sorvan::test::read_bytes;
const auto &write_file = sorvan::test::write_bytes;

// ======================================================================
// Making the faults
// ======================================================================

using Setup = std::function<void(Bench &)>;

// Replaces the first from in the file by to.
Setup edit(const std::string &file, const std::string &from, const std::string &to) {
    return [=](Bench &) {
        std::string text = read_file(file);
        const size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << file << ": " << from;
        write_file(file, text.replace(at, from.size(), to));
    };
}

// Keeps the file up to, not including, the first occurrence of text plus
// extra characters.
Setup cut_at(const std::string &file, const std::string &text, size_t extra = 0) {
    return [=](Bench &) {
        const std::string whole = read_file(file);
        const size_t at = whole.find(text);
        ASSERT_NE(at, std::string::npos) << file << ": " << text;
        write_file(file, whole.substr(0, at + extra));
    };
}

// Keeps all but the last n bytes of the file.
Setup drop_tail(const std::string &file, size_t n) {
    return [=](Bench &) {
        const std::string whole = read_file(file);
        ASSERT_GT(whole.size(), n) << file;
        write_file(file, whole.substr(0, whole.size() - n));
    };
}

// Appends extra to line number `line` (from 1) of the file.
Setup lengthen(const std::string &file, int line, const std::string &extra) {
    return [=](Bench &) {
        std::string text = read_file(file);
        size_t at = 0;
        for (int k = 0; k < line && at != std::string::npos; ++k)
            at = text.find('\n', k == 0 ? 0 : at + 1);
        ASSERT_NE(at, std::string::npos) << file << " has no line " << line;
        write_file(file, text.insert(at, extra));
    };
}

Setup put(const std::string &file, const std::string &text) {
    return [=](Bench &) { write_file(file, text); };
}

// The model's files under other names.
Setup rename_model(const std::string &map, const std::string &abc) {
    return [=](Bench &b) {
        sorvan::test::rename_file(b.map, map);
        for (char l : {'a', 'b', 'c', 'd'})
            sorvan::test::rename_file(b.abc + l, abc + l);
        b.map = map;
        b.abc = abc;
    };
}

// Bytes that are no text: NULs and the upper half, no spaces, no line ends.
std::string garbage(size_t n) {
    std::string g;
    uint32_t x = 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        g += static_cast<char>((x >> 16) % 7 == 0 ? 0 : 0x80 | ((x >> 16) & 0x7f));
    }
    return g;
}

const std::string long_line(100000, ' ');
// A matrix line of 4000 fields: 10^5 characters.
std::string repeated(const std::string &s, int n) {
    std::string r;
    for (int k = 0; k < n; ++k)
        r += s;
    return r;
}
const std::string many_fields = repeated(" +1.0000000000000000E+000", 4000);
const std::string long_name(4096, 'n');
// With ".map" or ".bdf", an entry of 255 bytes: the longest a folder holds.
const std::string entry_255 = std::string(251, 'e');

// ======================================================================
// The catalogue
// ======================================================================

struct Fault {
    Entry entry;
    Setup input;
    const char *breaks;
    double code;                           // the result the entry must give
    const char *message;                   // a fragment of what it prints or reports ("" none)
    std::vector<std::string> creates = {}; // files it must write (rows that work)
    const char *unsaid = nullptr;          // a fragment that must not be printed
};

const std::vector<std::string> state_set = {"state_a", "state_b", "state_c", "state_d"};

// Names of the longest entry a folder holds. Windows limits the whole path
// to 259 characters as well, so these rows belong to the other systems.
std::vector<Fault> longest_names() {
#ifdef _WIN32
    return {};
#else
    return {
        {Entry::convert,
         rename_model(entry_255 + ".map", "abc_"),
         "a BDF name of 255 characters, the longest a folder holds (must work)",
         1,
         "",
         {entry_255 + ".bdf"}},
        {Entry::statemat,
         [](Bench &b) { b.base = std::string(254, 's'); },
         "member names of 255 characters (must work)",
         1,
         "",
         {std::string(254, 's') + "a", std::string(254, 's') + "b", std::string(254, 's') + "c",
          std::string(254, 's') + "d"}},
        {Entry::road,
         [](Bench &b) { (*b.strings)[0] = std::string(255, 'r'); },
         "a file name of 255 characters (must work)",
         0,
         "",
         {std::string(255, 'r')}},
    };
#endif
}

std::vector<Fault> catalogue() {
    const std::string A = "truck_a", B = "truck_b", C = "truck_c", D = "truck_d";
    const std::string M = "truck.map";
    return {
        // ---- ABC matrix files ---------------------------------------------
        {Entry::abc, drop_tail(C, 40), "a truncated file", 0,
         "ABC file truck_c, line 26: shorter than the first line"},
        {Entry::abc, put(A, garbage(3000)), "binary garbage", 0,
         "ABC file truck_a, line 1: a NUL byte before the first line end: not a text file"},
        {Entry::abc, put(B, ""), "an empty file (a matrix without rows)", 1, ""},
        {Entry::abc,
         edit(A, "+1.2500000000000000E-001", std::string("+1.25\0", 6) + "0000000000000E-001"),
         "a NUL byte inside a value", 0, "ABC file truck_a, line 1: field 2 is not a number"},
        {Entry::abc, edit(A, "+1.2500000000000000E-001", "+1.2500000000000000Exyzw"),
         "a value with letters after its digits", 0, "ABC file truck_a, line 1: field 2 is not"},
        {Entry::abc, edit(A, "+1.2500000000000000E-001", "ABCDEFGHIJKLMNOPQRSTUVWX"),
         "a field of letters", 0, "ABC file truck_a, line 1: field 2 is not a number"},
        {Entry::abc, edit(A, "+1.2500000000000000E-001", "+1.2500000000000000D-001"),
         "a Fortran exponent", 0, "ABC file truck_a, line 1: field 2 is not a number"},
        {Entry::abc, put(A, many_fields + "\n" + many_fields.substr(0, 75) + "\n"),
         "a first line of 10^5 characters", 0,
         "ABC file truck_a, line 2: shorter than the first line"},
        {Entry::abc, lengthen(D, 2, long_line), "a later line of 10^5 characters", 0,
         "ABC file truck_d, line 2: longer than the first line"},
        {Entry::convert, edit(A, "\n", long_line + "\n"), "a line of 10^5 characters", -1,
         "truck_a: cannot read the matrix file"},
        {Entry::convert, edit(A, " -2.5000000000000000E+000", "                      nan"),
         "a diagonal term that is not a number", -1,
         "ABC file truck_a, line 1: field 1 is not a finite number"},
        {Entry::convert, edit(A, " +0.0000000000000000E+000\n", "                      nan\n"),
         "an off-diagonal term that is not a number (it would drop out of its card)", -1,
         "ABC file truck_a, line 1: field 3 is not a finite number"},
        {Entry::convert, edit(B, " +1.0000000000000000E+000\n", "                     +INF\n"),
         "an infinity in B", -1, "ABC file truck_b, line 1: field 4 is not a finite number"},
        {Entry::convert, edit(C, " +1.0000000000000000E+000", "                     -inf"),
         "an infinity in C", -1, "ABC file truck_c, line 1: field 1 is not a finite number"},
        {Entry::convert, edit(D, " +1.0000000000000000E-003", " +1.0000000000000000E+999"),
         "a term beyond a double (an infinity once read)", -1,
         "ABC file truck_d, line 1: field 1 is not a finite number"},
        {Entry::convert, lengthen(B, 1, " 7"), "text after the last field of a row", -1,
         "ABC file truck_b, line 1: text after the last of its 4 fields"},
        {Entry::convert,
         [](Bench &) { write_file("truck_b", read_file("truck_b") + read_file("truck_b")); },
         "B with more rows than A has states", -1, "truck_b: the row count is 6, 3 wanted"},
        {Entry::convert,
         [](Bench &) { write_file("truck_d", read_file("truck_d") + read_file("truck_d")); },
         "D with more rows than C", -1, "truck_d: the row count is 52, 26 wanted"},
        {Entry::convert, put(A, ""), "an empty A", -1,
         "truck_a: the file is empty (no states), but truck_c has 3 columns"},
        {Entry::convert, put(B, ""), "an empty B", -4,
         "Unmatch state input size. MAP: 4, MTX: 0 (MAP file truck.map, matrix file truck_b, an "
         "empty file)"},
        {Entry::convert, put(D, ""), "an empty D", -1,
         "truck_d: the row count is 0, 26 wanted (the file is empty)"},
        {Entry::convert, edit(D, " +1.0000000000000000E-003", " +1.0000000000000000E+308"),
         "a term too large to print", -1, "truck_d: row 1, column 1: 1e+308 does not fit"},
        {Entry::convert, [](Bench &b) { b.abc = long_name; },
         "an ABC base name of 4096 "
         "characters",
         -1, "cannot read the matrix file"},

        // ---- MAP file: readers --------------------------------------------
        {Entry::map, cut_at(M, "22 4000.0 -800.0", 10), "a file cut inside a record", -1,
         "MAP wheels section, line 48: 2 fields found, 15 required"},
        {Entry::map, cut_at(M, "{abcd_index id dof}"), "a file cut after a section marker", -1,
         "MAP state-space input section, line 19: no head line \"{abcd_index\" follows"},
        {Entry::map, edit(M, "1 101 3\n", std::string("1 101\0 3\n", 9)),
         "a NUL byte inside a record", -1,
         "MAP file, line 21: a NUL byte: not a text file, so not a MAP file"},
        {Entry::map, edit(M, "1 101 3", "1 101 3" + long_line),
         "a record line of 10^5 "
         "characters",
         -1,
         "MAP state-space input section, line 21: a record of 100008 characters; a MAP line "
         "holds at most 255"},
        {Entry::map, edit(M, "'mm'", "'" + std::string(100000, 'm') + "'"),
         "a unit label of 10^5 characters", -1,
         "MAP units section, line 14: a key line of 100012 characters"},
        {Entry::map, edit(M, "'mm'", "'" + std::string(40, 'm') + "'"),
         "a unit label of 40 characters", -1,
         "Unsupported unit label... mmmmmmmmmmmmmmmmmmmmmmmmmmmmmmm (longer than 31 characters"},
        {Entry::map, edit(M, "ABCD_INPUT_N = 4", "ABCD_INPUT_N = 2147483647"),
         "a count of 2^31 - 1 inputs (out of memory, or a file too short)", -1, "214748364"},
        {Entry::map, edit(M, "GRAPHICS_NODE_N = 3", "GRAPHICS_NODE_N = 2147483647"),
         "node outputs beyond int32", -1, "exceeds 2147483647 outputs"},
        {Entry::map, edit(M, "GRAPHICS_ELEMENT_N = 2", "GRAPHICS_ELEMENT_N = -2147483648"),
         "a negative count", -1, "negative count GRAPHICS_ELE = -2147483648"},
        {Entry::map,
         edit(M, "$road elevation front left\n1\n", "$road elevation front left\n2147483648\n"),
         "an external index beyond int32", -1,
         "MAP external input section, line 34: field 1 \"2147483648\" is beyond the 32-bit "
         "integers"},
        {Entry::map, edit(M, "600.0 12 13 14", "600.0 12 13 1e10"), "an output row beyond int32",
         -1, "MAP nodes section, line 40: field 7 \"1e10\" is beyond the 32-bit integers"},
        {Entry::map, edit(M, "2 102 5\n", "-2147483649 102 5\n"), "an abcd index below int32", -1,
         "MAP state-space input section, line 22: field 1 \"-2147483649\" is beyond"},
        {Entry::map, edit(M, "ABCD_INPUT_N = 4", "ABCD_INPUT_N = six"),
         "a summary value without digits", -1,
         "MAP summary section, line 5: ABCD_INPUT_N has no number after \"=\""},
        {Entry::map, edit(M, "2 102 5\n", "2 1abc 5\n"),
         "a table field with letters after its number", -1,
         "MAP state-space input section, line 22: field 2 \"1abc\" is not a number"},
        {Entry::map, edit(M, "2 102 5\n", "1 102 5\n"), "an abcd index twice", -1,
         "MAP state-space input section, line 22: abcd index 1 appears twice (first on line 21)"},

        // ---- MAP file: through the converter ------------------------------
        {Entry::convert, put(M, garbage(5000)), "binary garbage", -1,
         "MAP file, line 1: a NUL byte: not a text file, so not a MAP file"},
        {Entry::convert, put(M, ""), "an empty file", -2,
         "truck.map: no [FILE_SUMMARY] section: not a MAP file"},
        {Entry::command, put(M, "# only a comment\n[UNITS]\nLENGTH = 'mm'\n"),
         "a file without a summary, through the host command", -2,
         "truck.map: no [FILE_SUMMARY] section: not a MAP file"},
        {Entry::convert, [](Bench &b) { b.map = "."; }, "a folder for a MAP file", -1,
         ".: not a regular file (a folder, a device or a pipe), so not a MAP file"},
        {Entry::convert, cut_at(M, "[UNITS]"), "a file cut before its units", -1, "no LENGTH unit"},
        {Entry::convert, edit(M, "ABCD_INPUT_N", std::string("ABCD_IN\0PUT_N", 13)),
         "a NUL byte in a key", -1, "MAP file, line 5: a NUL byte"},
        {Entry::convert,
         edit(M, "vehicle", "vehicle" + long_line),
         "a comment line of 10^5 "
         "characters",
         1,
         "",
         {"truck.bdf"}},
        {Entry::convert, edit(M, "ABCD_OUTPUT_N = 5", "ABCD_OUTPUT_N = 2147483647"),
         "a count of 2^31 - 1 outputs", -1, "exceeds 2147483647 outputs"},
        {Entry::convert, edit(M, "ABCD_EXTERNAL_N = 1", "ABCD_EXTERNAL_N = -1"), "a negative count",
         -1, "negative count ABCD_EXTERNA = -1"},
        {Entry::convert, edit(M, "0.0 0.0 500.0", "0.0 nan 500.0"),
         "a node coordinate that is "
         "not a number",
         -1, "MAP nodes section, line 38: field 3 \"nan\" is not a finite number"},
        {Entry::convert, edit(M, "300.0 200.0 15", "inf 200.0 15"), "an infinite wheel radius", -1,
         "MAP wheels section, line 47: field 8 \"inf\" is not a finite number"},

        // ---- identifiers that would wrap around int32 ---------------------
        {Entry::convert, edit(M, "GRID_ID_OFFSET = 1000", "GRID_ID_OFFSET = 2147483600"),
         "point identifiers past int32", -1,
         "point identifiers 2147483601 to 2147483735 do not fit 8-digit fields "
         "(GRID_ID_OFFSET 2147483600)"},
        {Entry::convert, edit(M, "GRID_ID_OFFSET = 1000", "GRID_ID_OFFSET = 99999999999"),
         "an offset beyond int32 (saturated)", -1,
         "point identifiers 2147483648 to 2147483782 do not fit"},
        {Entry::convert, edit(M, "GRID_ID_OFFSET = 1000", "GRID_ID_OFFSET = -2147483648"),
         "point identifiers below int32's lowest + 1", -1,
         "point identifiers -2147483647 to -2147483513 do not fit"},
        {Entry::convert, edit(M, "ELEMENT_ID_OFFSET = 2000", "ELEMENT_ID_OFFSET = 2147483647"),
         "element identifiers past int32", -1,
         "element identifiers 2147483648 to 2147483797 do not fit 8-digit fields "
         "(ELEMENT_ID_OFFSET 2147483647)"},
        {Entry::convert, edit(M, "ELEMENT_ID_OFFSET = 2000", "ELEMENT_ID_OFFSET = -5"),
         "element identifiers below 1", -1, "element identifiers -4 to 145 do not fit"},
        {Entry::convert, edit(M, "1 101 3\n", "1 2147483648 3\n"),
         "an input point beyond "
         "int32",
         -1, "MAP state-space input section, line 21: field 2 \"2147483648\" is beyond"},
        {Entry::convert, edit(M, "1 101 3\n", "1 100000000 3\n"), "an input point beyond 8 digits",
         -1, "state-space input 1: point 100000000, component 3"},
        {Entry::convert, [](Bench &b) { b.whl_dv = INT32_MAX; },
         "wheel divisions that would "
         "number past int32",
         -1, "point identifiers 1001 to 400001035 do not fit"},
        {Entry::convert, [](Bench &b) { b.tf_id = 0; }, "a TF set identifier of 0", -1,
         "TF set identifier tf_id 0 is outside 1 to 99999999"},

        // ---- file names ---------------------------------------------------
        {Entry::convert, [](Bench &b) { b.map = long_name + ".map"; },
         "a MAP file name of 4100 "
         "characters",
         -1, "cannot open the MAP file"},
        {Entry::convert, [](Bench &b) { b.map = "no such folder/truck.map"; },
         "a MAP file in a folder that does not exist", -1, "cannot open the MAP file"},
        {Entry::convert, [](Bench &) { fs::create_directory("truck.bdf"); },
         "a BDF name taken by a folder", -1, "cannot write truck.bdf"},
        {Entry::convert,
         rename_model("my model \xc3\xbc.map", "ABC \xc3\x9f set_"),
         "names with spaces and non-ASCII characters (must work)",
         1,
         "",
         {"my model \xc3\xbc.bdf"}},

        // ---- the host command KAVEL2PELDA_BDF_WRITE -----------------------
        {Entry::command, [](Bench &b) { b.command_type = 63; }, "an object of another type", -7,
         ""},
        {Entry::command, [](Bench &b) { b.command_type.reset(); }, "no object at all", -7, ""},
        {Entry::command, [](Bench &b) { b.values.resize(7); }, "seven values", -8, ""},
        {Entry::command, [](Bench &b) { b.values.clear(); }, "no values", -8, ""},
        {Entry::command, [](Bench &b) { b.values[0] = nan; },
         "a unit identifier that is not a "
         "number",
         -6, "unknown export length unit label \"\""},
        {Entry::command, [](Bench &b) { b.values[1] = 1e300; }, "a unit identifier beyond int32",
         -6, "unknown export force unit label \"\""},
        {Entry::command, [](Bench &b) { b.unit_labels[0] = std::string(4096, 'm'); },
         "a unit label of 4096 characters (cut by the host)", -6,
         "unknown export length unit label \"mmmmmmmm"},
        {Entry::command, [](Bench &b) { b.unit_labels[2] = "k\xc3\xa9g"; },
         "a unit label with non-ASCII characters", -6, "unknown export mass unit label"},
        {Entry::command, [](Bench &b) { b.values[4] = inf; }, "an infinite stiffness", -1,
         "-(lu_fac x v_stif) = -inf does not fit an 8-character field"},
        {Entry::command, [](Bench &b) { b.values[5] = nan; }, "a damping that is not a number", -1,
         "-(v_damp / tu_fac x lu_fac) = "},
        {Entry::command, edit(M, "ABCD_EXTERNAL_N = 1", "ABCD_EXTERNAL_N = 2"),
         "fewer external inputs than declared", -1,
         "MAP external input section, line 35: the name line has no \"$\""},
        {Entry::command,
         rename_model("model \xc3\xa4 1.map", "set \xc3\xa4_"),
         "names with spaces and non-ASCII characters (must work)",
         1,
         "",
         {"model \xc3\xa4 1.bdf"}},

        // ---- the state matrix writer STATEMAT_WRITE -----------------------
        {Entry::statemat, [](Bench &b) { b.sizes[0].reset(); }, "a missing size", -1, ""},
        {Entry::statemat, [](Bench &b) { b.sizes[0] = -1; }, "a negative size", -1,
         "matrix sizes disagree: A -1 x 2"},
        {Entry::statemat, [](Bench &b) { b.sizes[3] = 2; }, "sizes that disagree", -1,
         "matrix sizes disagree: A 2 x 2, B 2 x 2, C 2 x 2, D 2 x 1"},
        {Entry::statemat,
         [](Bench &b) {
             for (int k : {0, 1, 2, 5})
                 b.sizes[k] = 65536;
         },
         "sizes whose product overflows int32", -1, "matrix sizes disagree: A 65536 x 65536"},
        {Entry::statemat,
         [](Bench &b) {
             for (int k = 0; k < 8; ++k)
                 b.sizes[k] = 46341;
         },
         "sizes whose product just passes int32", -1, "A 46341 x 46341"},
        {Entry::statemat, [](Bench &b) { b.sizes[4] = b.sizes[6] = INT32_MAX; },
         "2^31 - 1 output rows", -1, "C 2147483647 x 2"},
        {Entry::statemat, [](Bench &b) { b.matrices[0]->pop_back(); },
         "fewer values than the "
         "sizes say",
         -1, "the state matrices cannot be fetched whole"},
        {Entry::statemat, [](Bench &b) { b.matrices[3].reset(); }, "a missing value set", -1,
         "the state matrices cannot be fetched whole"},
        {Entry::statemat,
         [](Bench &b) {
             b.matrices[0] = std::vector<double>{nan, 0, 0, nan};
         },
         "a state matrix that is not a number", -3, ""},
        {Entry::statemat, [](Bench &b) { b.freq = nan; },
         "a frequency limit that is not a "
         "number",
         -3, ""},
        {Entry::statemat,
         [](Bench &b) {
             b.matrices[0] = std::vector<double>{-1, 0, 0, inf};
         },
         "an infinite eigenvalue (that state is dropped)", 1, "", state_set},
        {Entry::statemat, [](Bench &b) { b.base = long_name; }, "a base name of 4096 characters",
         -2, "cannot create"},
        {Entry::statemat, [](Bench &b) { b.base = "no such folder/state_"; },
         "a folder that does not exist", -2, "cannot create no such folder/state_a"},
        {Entry::statemat, [](Bench &) { fs::create_directory("state_c"); },
         "a member name taken by a folder (the set is written whole or not at all)", -2,
         "cannot write state_c"},
        {Entry::statemat,
         [](Bench &b) {
             b.matrices[1] = std::vector<double>{1, nan};
         },
         "a term of B that is not a number", -1,
         "STATEMAT_WRITE: B row 2, column 1: nan is not a finite number"},
        {Entry::statemat,
         [](Bench &b) { b.base = "St\xc3\xa4nde 1 "; },
         "a base with spaces and non-ASCII characters (must work)",
         1,
         "",
         {"St\xc3\xa4nde 1 a", "St\xc3\xa4nde 1 b", "St\xc3\xa4nde 1 c", "St\xc3\xa4nde 1 d"}},

        // ---- the road profile command GENRPROF_SAYERS ---------------------
        {Entry::road, [](Bench &b) { b.ints.reset(), b.reals.reset(), b.strings.reset(); },
         "no arrays at all", 1,
         "The \"strings\" array must have exactly three elements, not 0 element(s)."},
        {Entry::road, [](Bench &b) { b.ints->push_back(3); }, "three integers", 1,
         "The \"ints\" array must have exactly two elements, not 3 element(s)."},
        {Entry::road, [](Bench &b) { (*b.ints)[0] = 3; }, "three tracks", 1,
         "nprofs must be 1 or 2."},
        {Entry::road, [](Bench &b) { (*b.ints)[0] = INT32_MIN; }, "the lowest int32 as tracks", 1,
         "nprofs must be 1 or 2."},
        {Entry::road, [](Bench &b) { (*b.reals)[4] = 1e9, (*b.reals)[5] = 0.1; },
         "more than 2^31 - 1 samples", 1, "length and interval give more than 2147483647 samples"},
        {Entry::road, [](Bench &b) { (*b.reals)[5] = 0.0; }, "an interval of 0", 1,
         "interval must be a positive number"},
        {Entry::road, [](Bench &b) { (*b.reals)[5] = nan; }, "an interval that is not a number", 1,
         "interval must be a positive number"},
        {Entry::road, [](Bench &b) { (*b.reals)[5] = 4.9e-324; }, "the smallest interval", 1,
         "interval is too small"},
        {Entry::road, [](Bench &b) { (*b.reals)[4] = -1.0; }, "a negative length", 1,
         "length must be a number of 0 or more"},
        {Entry::road, [](Bench &b) { (*b.reals)[0] = inf; }, "an infinite coefficient", 1,
         "ga, ge and gs must be numbers"},
        {Entry::road, [](Bench &b) { (*b.reals)[1] = 1e308; },
         "a coefficient whose profile "
         "overflows",
         1, "the elevations overflow"},
        {Entry::road, [](Bench &b) { (*b.ints)[0] = 2, (*b.reals)[3] = 0.0; },
         "two tracks without a correlation length", 1,
         "corr_length must be a positive number for two tracks"},
        {Entry::road,
         [](Bench &b) {
             b.reals_as_texts = std::vector<std::string>{"abc", "1e-8", "1e-7", "1.5", "30", "x"};
         },
         "reals given as texts that are no numbers", 1,
         "Cannot convert array element 1 (\"abc\") to a real"},
        {Entry::road, [](Bench &b) { (*b.strings)[0] = long_name; },
         "a file name of 4096 "
         "characters",
         1, "Error creating RPC III file"},
        {Entry::road, [](Bench &b) { (*b.strings)[0] = "no such folder/road.rsp"; },
         "a folder that does not exist", 1, "Error creating RPC III file no such folder/road.rsp"},
        {Entry::road, [](Bench &) { fs::create_directory("road.rsp"); },
         "a file name taken by a folder", 1, "Error closing RPC III file road.rsp"},
        {Entry::road,
         [](Bench &b) {
             (*b.strings)[0] = "Stra\xc3\x9f"
                               "e 7.rsp";
         },
         "a file name with spaces and non-ASCII characters (must work)",
         0,
         "",
         {"Stra\xc3\x9f"
          "e 7.rsp"}},
        {Entry::road,
         [](Bench &b) { (*b.strings)[1] = garbage(300); },
         "a channel label of binary garbage (cleaned by the host)",
         0,
         "",
         {"road.rsp"}},

        // ---- unit labels --------------------------------------------------
        {Entry::units, [](Bench &b) { b.label = ""; }, "an empty label", 0.0, ""},
        {Entry::units, [](Bench &b) { b.label = std::string(100000, 'm'); },
         "a label of 10^5 characters", 0.0, ""},
        {Entry::units, [](Bench &b) { b.label = garbage(64); }, "binary garbage", 0.0, ""},
        {Entry::units, [](Bench &b) { b.label = std::string("mm\0km", 5); },
         "a NUL byte ends the label", 0.001, ""},
        {Entry::units, [](Bench &b) { b.label = "m\xc3\xa8tre"; }, "non-ASCII letters", 0.0, ""},
        {Entry::units, [](Bench &b) { b.label = "M\xc4\xb0LLIMETER"; },
         "a non-ASCII capital I is no i", 0.0, ""},
        {Entry::units, [](Bench &b) { b.label = "kilogram_force"; },
         "the longest alias in a buffer of exactly 15 bytes", 9.80665, ""},
        {Entry::units, [](Bench &b) { b.label = "KILOGRAM_FORCE "; }, "a trailing space", 0.0, ""},
    };
}

// A row of the command line: sorvan WORDS in the row's folder after the
// setup. The status is the plain run's; the JSON run must give the same.
Fault cli_row(const std::string &words, Setup input, const char *breaks, int status,
              const char *message, std::vector<std::string> creates = {},
              const char *unsaid = nullptr) {
    return {Entry::cli,
            [=](Bench &b) {
                if (input) input(b);
                b.words = words;
            },
            breaks,
            static_cast<double>(status),
            message,
            std::move(creates),
            unsaid};
}

// A file of size bytes that holds nothing (sparse where the file system
// allows it): only its size is ever looked at.
Setup sized(const std::string &file, std::uintmax_t size) {
    return [=](Bench &) {
        write_file(file, "");
        fs::resize_file(file, size);
    };
}

Setup folder(const std::string &name) {
    return [=](Bench &) {
        fs::remove(name);
        fs::create_directory(name);
    };
}

// A CSV profile of n rows 0.25 m apart, every elevation `value` with
// alternating sign, under the column label.
Setup csv_profile(const std::string &file, int n, const std::string &value,
                  const std::string &label = "left_mm") {
    return [=](Bench &) {
        std::string t = "distance_m," + label + "\n";
        for (int i = 0; i < n; ++i)
            t += std::to_string(i * 0.25) + "," + (i % 2 ? "-" : "") + value + "\n";
        write_file(file, t);
    };
}

// The road profile of the golden files with the scale of channel 1 replaced
// (the value field of its header record, 96 bytes).
Setup rpc_scale(const std::string &file, const std::string &scale) {
    return [=](Bench &) {
        std::string bytes = read_file(std::string(SORVAN_TEST_DATA) + "/golden/road.rsp");
        const size_t key = bytes.find("SCALE.CHAN_1");
        ASSERT_NE(key, std::string::npos);
        std::string value = scale;
        value.resize(96, '\0');
        bytes.replace(key - key % 128 + 32, 96, value);
        write_file(file, bytes);
    };
}

std::vector<Fault> command_line_rows() {
    const std::string check = "check truck.bdf --map truck.map --abc truck_";
    std::vector<Fault> rows = {
        // ---- inputs that are no regular file, or too large --------------
        cli_row(check, folder("truck.bdf"), "check: a deck that is a folder", 66,
                "cannot read the deck truck.bdf: not a regular file"),
        cli_row(check, sized("truck.bdf", (std::uintmax_t{4} << 30) + 1),
                "check: a deck beyond 4 GiB", 66,
                "truck.bdf: 4294967297 bytes, more than the 4 GiB"),
        cli_row("profile road.rsp", folder("road.rsp"), "profile: a folder", 66,
                "road.rsp: not a regular file"),
        cli_row("profile road.rsp", sized("road.rsp", (std::uintmax_t{1} << 30) + 1),
                "profile: an RPC III file beyond 1 GiB", 66,
                "road.rsp: 1073741825 bytes, more than the 1 GiB"),
        cli_row("info truck.map truck_", folder("truck_c"), "info: an ABC member that is a folder",
                66, "cannot read truck_c: not a regular file"),
        cli_row("view truck.map --svg v.svg", folder("truck.map"),
                "view: a MAP file that is a folder", 66, "truck.map: not a regular file"),
        cli_row("reduce truck_ out_ --max-frequency 10", folder("truck_b"),
                "reduce: an ABC member that is a folder", 66,
                "cannot read the matrix file truck_b: not a regular file"),

        // ---- figures beyond a double ------------------------------------
        cli_row("road r.rsp --seed 1 --gs 1e308 --csv r.csv --psd-plot r.svg", nullptr,
                "road: a spectrum whose density overflows", 65,
                "is beyond the range of a double (ge 0.05, gs 1e+308, ga 0); nothing was written"),
        cli_row("profile road.rsp", rpc_scale("road.rsp", "1e300"),
                "profile: SCALE 1e300, elevations near 1e304 mm whose squares overflow (must "
                "work: finite figures)",
                0, "RMS 2.", {}, "inf"),
        cli_row("profile road.rsp", rpc_scale("road.rsp", "1e305"),
                "profile: SCALE 1e305 takes 16-bit values beyond a double", 65,
                "SCALE.CHAN_1 1e305 takes the 16-bit values beyond the range of a double"),
        cli_row("profile e.csv", csv_profile("e.csv", 1600, "1e200"),
                "profile: elevations of 1e200 mm (RMS finite, density not)", 65,
                "channel 1 \"left\": the spectral density Gd(0.1) is beyond the range"),
        cli_row("profile s.csv --psd-plot s.svg", csv_profile("s.csv", 200, "1e200"),
                "profile: a plot of elevations of 1e200 mm (too short for a class)", 65,
                "s.csv: channel 1 (left): the spectral density is beyond the range of a double"),
        cli_row(
            "view truck.map --svg v.svg --length-unit mm",
            [](Bench &b) {
                edit("truck.map", "11 0.0 0.0 500.0", "11 -1.7e308 0.0 500.0")(b);
                edit("truck.map", "13 4000.0 0.0 600.0", "13 1.7e308 0.0 600.0")(b);
            },
            "view: nodes near the largest double", 65, "the drawing's extent overflows"),

        // ---- refusals come first ----------------------------------------
        cli_row("convert empty.map truck_", put("empty.map", ""),
                "convert: an empty MAP file, refused before any word on its units", 65,
                "empty.map: no [FILE_SUMMARY] section: not a MAP file", {}, "warning"),
        cli_row("convert bin.map truck_", put("bin.map", garbage(3000)),
                "convert: a binary MAP file, refused before any word on its units", 65,
                "a NUL byte: not a text file", {}, "warning"),
        cli_row("info empty.map truck_", put("empty.map", "# nothing\n"),
                "info: a MAP file without a summary", 65,
                "empty.map: no [FILE_SUMMARY] section: not a MAP file"),
    };
#ifndef _WIN32
    // Names and labels of any bytes (a file system of Windows names holds
    // only characters), devices, pipes, names the system refuses.
    const std::string bad_name = "b\xff\xfe\x80"
                                 "d";
    const std::string long_base(4096, 'x');
    std::vector<Fault> posix = {
        cli_row(
            check, [](Bench &) { fs::create_symlink("/dev/zero", "truck.bdf"); },
            "check: a deck that is a device", 66, "truck.bdf: not a regular file"),
        cli_row(
            "profile road.rsp", [](Bench &) { ASSERT_EQ(mkfifo("road.rsp", 0600), 0); },
            "profile: a pipe (never opened: it would wait for a writer)", 66,
            "road.rsp: not a regular file"),
        cli_row(
            "convert pipe.map truck_", [](Bench &) { ASSERT_EQ(mkfifo("pipe.map", 0600), 0); },
            "convert: a MAP file that is a pipe", 66, "pipe.map: not a regular file"),
        cli_row("info /dev/zero truck_", nullptr, "info: a MAP file that is a device", 66,
                "/dev/zero: not a regular file"),
        cli_row("profile " + bad_name + ".csv --psd-plot p.svg --csv t.csv",
                csv_profile(bad_name + ".csv", 100, "1.5", bad_name + "_mm"),
                "profile: a file name and a label of bytes that are no UTF-8 (must work)", 0, "",
                {"p.svg", "t.csv"}),
        cli_row("road r.rsp --seed 3 --labels '" + bad_name + "' --psd-plot r.svg", nullptr,
                "road: a label of bytes that are no UTF-8 (must work)", 0, "", {"r.rsp", "r.svg"}),
        cli_row("info truck.map " + long_base, nullptr, "info: an ABC base name of 4096 characters",
                66, "File name too long"),
        cli_row("convert truck.map " + long_base, nullptr,
                "convert: an ABC base name of 4096 characters", 66, "a: File name too long"),
    };
    rows.insert(rows.end(), posix.begin(), posix.end());
    // Memory that runs out in the command's own work: an address space
    // limit in the shell that runs it (the sanitizers reserve far more).
    if (!under_sanitizer())
        rows.push_back(cli_row(
            "profile big.csv",
            [](Bench &b) {
                std::string t = "distance_m,left_mm\n";
                for (int i = 0; i < 3000000; ++i)
                    t += std::to_string(i) + ",0\n";
                write_file("big.csv", t);
                b.shell = "ulimit -v 90000; ";
            },
            "profile: memory runs out while the table is read", 70,
            "out of memory while running profile"));
#endif
    return rows;
}

// ======================================================================
// Running a row
// ======================================================================

struct Outcome {
    double code = 0.0;
    std::string text; // standard output and the host's error channel
};

// The folder recursively: names and contents.
std::map<std::string, std::string> snapshot(const fs::path &dir) {
    std::map<std::string, std::string> files;
    for (const auto &e : fs::recursive_directory_iterator(dir)) {
        std::string &entry = files[sorvan::test::crt_name(fs::relative(e.path(), dir))];
        if (e.is_symlink() || !(e.is_regular_file() || e.is_directory()))
            entry = "(link or special file)";
        else if (e.is_directory())
            entry = "(folder)";
        else if (e.file_size() > (64u << 20)) // the rows of files beyond a limit
            entry = "(" + std::to_string(e.file_size()) + " bytes)";
        else
            entry = read_file(e.path());
    }
    return files;
}

double read_set(const Bench &b) {
    bool all = true;
    for (char l : {'a', 'b', 'c', 'd'}) {
        ABCmtx *m = ABCread_mtx(b.abc.c_str(), l);
        all = all && m != nullptr;
        ABCfree(m);
    }
    return all ? 1 : 0;
}

double read_map(const Bench &b) {
    FILE *file = std::fopen(b.map.c_str(), "r");
    if (!file) return -99;
    auto *map = static_cast<MAPmodel *>(std::calloc(1, sizeof(MAPmodel)));
    int (*const readers[])(MAPmodel *, FILE *) = {
        MAPread_size,           MAPread_unit, nullptr,         MAPread_input, MAPread_output,
        MAPread_external_input, MAPread_node, MAPread_element, MAPread_wheel};
    int status = MAP_OK;
    for (auto reader : readers)
        if (status == MAP_OK) status = reader ? reader(map, file) : MAPalloc(map);
    if (status == MAP_OK) MAPfree(map);
    std::fclose(file);
    return status;
}

double lookup_unit(const Bench &b) {
    const size_t room = std::max<size_t>(b.label.size() + 1, 15);
    std::vector<char> label(room, '\0');
    std::memcpy(label.data(), b.label.data(), b.label.size());
    const std::vector<char> before = label;
    const double value = UNTconstant(label.data());
    if (value == 0.0) {
        EXPECT_EQ(label, before) << "a refused label must stay as it was";
    }
    return value;
}

double convert(const Bench &b) {
    char lu[64] = "m", fu[64] = "N", mu[64] = "kg";
    return kavel2pelda(b.map.c_str(), b.abc.c_str(), lu, fu, mu, '1');
}

double command(const Bench &b) {
    ac_object obj = nullptr;
    if (b.command_type) {
        const char *labels[4];
        for (int k = 0; k < 4; ++k)
            labels[k] = b.unit_labels[k].c_str();
        obj = sorvan::test::command_object(labels, b.values.data(),
                                           static_cast<int32_t>(b.values.size()), *b.command_type);
    }
    return kavel2pelda_full(obj, b.map.c_str(), b.abc.c_str());
}

double statemat(const Bench &b) {
    using sorvan::host_codes::state_matrices;
    ac_object obj = plexa_object_create(1, nullptr);
    for (int k = 0; k < 8; ++k)
        if (b.sizes[k])
            plexa_set_int(obj, k % 2 ? state_matrices[k / 2].cols : state_matrices[k / 2].rows,
                          *b.sizes[k]);
    for (int k = 0; k < 4; ++k)
        if (b.matrices[k])
            plexa_set_reals(obj, state_matrices[k].values, b.matrices[k]->data(),
                            static_cast<int32_t>(b.matrices[k]->size()));
    return stmatwri(obj, b.base.c_str(), b.freq, b.real_switch);
}

template <class T> vc_array host_array(const std::optional<std::vector<T>> &v, int32_t type) {
    if (!v) return nullptr;
    vc_array a = plexa_array_create(type, static_cast<int32_t>(v->size()));
    for (size_t i = 0; i < v->size(); ++i) {
        const int32_t at = static_cast<int32_t>(i);
        if constexpr (std::is_same_v<T, int32_t>)
            plexa_array_set_int(a, at, (*v)[i]);
        else if constexpr (std::is_same_v<T, double>)
            plexa_array_set_real(a, at, (*v)[i]);
        else
            plexa_array_set_text(a, at, (*v)[i].c_str());
    }
    return a;
}

double road(const Bench &b) {
    vc_array ints = host_array(b.ints, VC_INTEGER);
    vc_array reals =
        b.reals_as_texts ? host_array(b.reals_as_texts, VC_TEXT) : host_array(b.reals, VC_REAL);
    vc_array strings = host_array(b.strings, VC_TEXT);
    vc_array result = cmd_to_genrprof_sayers(ints, reals, strings);
    int32_t status = -99;
    EXPECT_EQ(vc_array_element_count(result), 1);
    plexa_array_get_int(result, 0, &status);
    for (vc_array a : {ints, reals, strings, result})
        plexa_array_free(a);
    EXPECT_EQ(plexa_array_live_count(), 0) << "an array was left behind";
    EXPECT_EQ(plexa_rpc_open_count(), 0) << "a file handle was left open";
    return status;
}

// --json: one object on the standard output stream, whatever the outcome,
// with the status of the plain run (names and labels of any bytes
// included: a byte sequence that is no UTF-8 is replaced).
void check_json_run(const Bench &b, int status) {
    const fs::path here = fs::current_path();
    const std::string out = (here.parent_path() / (here.filename().string() + ".out")).string();
    const std::string program =
        b.shell + "\"" SORVAN_CLI "\" " + b.words + " --json --plugin \"" SORVAN_PLUGIN_FILE "\"";
    EXPECT_EQ(sorvan::test::run_in_folder(here, program, out, out + ".err"), status);
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(read_file(out)); // one value and nothing after it
    } catch (const std::exception &e) {
        ADD_FAILURE() << "--json printed no single JSON object: " << e.what() << "\n"
                      << read_file(out);
        return;
    }
    ASSERT_TRUE(j.is_object());
    if (status != 0) {
        EXPECT_EQ(j.value("exit", -1), status);
        EXPECT_FALSE(j.value("error", std::string()).empty());
    }
}

// A picture whose text came from names and labels of any bytes must still
// be XML: well-formed UTF-8 (the strict JSON encoder refuses anything
// else) and no control character but the line ends and tabs.
void expect_xml_text(const std::string &name, const std::string &text) {
    EXPECT_NO_THROW(static_cast<void>(nlohmann::json(text).dump())) << name << " is no UTF-8";
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\r' && c != '\t') {
            ADD_FAILURE() << name << " holds the control character " << int(c);
            break;
        }
}

// The row's folder is the working directory; the program's output goes
// beside it, so that the folder holds only what the command leaves.
double command_line(const Bench &b) {
    const fs::path here = fs::current_path();
    const std::string out = (here.parent_path() / (here.filename().string() + ".out")).string();
    const std::string err = (here.parent_path() / (here.filename().string() + ".err")).string();
    const std::string program =
        b.shell + "\"" SORVAN_CLI "\" " + b.words + " --plugin \"" SORVAN_PLUGIN_FILE "\"";
    const int status = sorvan::test::run_in_folder(here, program, out, err);
    std::printf("%s%s", read_file(out).c_str(), read_file(err).c_str());
    check_json_run(b, status);
    fs::remove(out);
    fs::remove(err);
    fs::remove(out + ".err");
    return status;
}

Outcome run(Entry entry, const Bench &b) {
    Outcome o;
    plexa_error_clear();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    // In the order of Entry.
    static double (*const entries[])(const Bench &) = {
        read_set, read_map, lookup_unit, convert, command, statemat, road, command_line};
    o.code = entries[static_cast<int>(entry)](b);
    o.text = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr(); // the error channel keeps it
    if (plexa_error_count() > 0) o.text += std::string("\n[host] ") + plexa_error_last();
    return o;
}

// Every row: the catalogue, then the longest names of this system.
const std::vector<Fault> &rows() {
    static const std::vector<Fault> all = [] {
        std::vector<Fault> r = catalogue();
        for (Fault &f : longest_names())
            r.push_back(std::move(f));
        for (Fault &f : command_line_rows())
            r.push_back(std::move(f));
        return r;
    }();
    return all;
}

// A row's name in the test report: the entry, the row number and the
// first words of what it breaks, letters and digits only.
std::string row_name(size_t index) {
    const Fault &f = rows()[index];
    const char *entries[] = {"abc",     "map",      "units", "convert",
                             "command", "statemat", "road",  "cli"};
    char number[8];
    std::snprintf(number, sizeof number, "%03zu", index);
    std::string name = std::string(entries[static_cast<int>(f.entry)]) + "_" + number + "_";
    bool gap = false;
    for (const char *p = f.breaks; *p && name.size() < 60; ++p) {
        const char c = *p;
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            if (gap && name.back() != '_') name += '_';
            name += c;
            gap = false;
        } else {
            gap = true;
        }
    }
    return name;
}

class Catalogue : public ::testing::TestWithParam<size_t> {
  protected:
    void SetUp() override {
        plexa_reset();
        dir = fs::temp_directory_path() / ("sorvan_catalogue_" + std::to_string(getpid()));
        previous = fs::current_path();
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(dir);
        plexa_reset();
    }

    // A fresh folder holding the test model; the working directory.
    void fresh_folder() {
        fs::current_path(previous);
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const char *name : {"truck.map", "truck_a", "truck_b", "truck_c", "truck_d"})
            fs::copy_file(data_dir + name, dir / name);
        fs::current_path(dir);
    }

    // Runs one row and checks its result, message and folder.
    void check_row(const Fault &f) {
        SCOPED_TRACE(std::string(entry_name(f.entry)) + ": " + f.breaks);
        fresh_folder();
        sorvan::test::SavedParameters saved;
        Bench bench;
        f.input(bench);
        if (::testing::Test::HasFatalFailure()) return;
        tf_id = bench.tf_id;
        whl_dv = bench.whl_dv;
        const auto before = snapshot(dir);
        const Outcome o = run(f.entry, bench);
        EXPECT_EQ(o.code, f.code) << o.text;
        EXPECT_NE(o.text.find(f.message), std::string::npos)
            << "wanted: " << f.message << "\ngot: " << o.text;
        if (f.unsaid) {
            EXPECT_EQ(o.text.find(f.unsaid), std::string::npos)
                << "said first: " << f.unsaid << "\ngot: " << o.text;
        }
        auto after = snapshot(dir);
        for (const std::string &name : f.creates) {
            EXPECT_EQ(after.count(name), 1u) << name << " was not written";
            if (name.size() > 4 && name.substr(name.size() - 4) == ".bdf") {
                auto check = sorvan::test::check_bdf_text(after[name]);
                EXPECT_GT(check.cards["TF"], 0) << name;
            }
            if (name.size() > 4 && name.substr(name.size() - 4) == ".svg")
                expect_xml_text(name, after[name]);
            after.erase(name);
        }
        EXPECT_EQ(after, before) << "the folder changed";
    }

    fs::path dir, previous;
};

TEST_P(Catalogue, RefusedAsTheRowSays) {
    check_row(rows()[GetParam()]);
}

INSTANTIATE_TEST_SUITE_P(Row, Catalogue, ::testing::Range<size_t>(0, rows().size()),
                         [](const ::testing::TestParamInfo<size_t> &info) {
                             return row_name(info.param);
                         });

TEST(CatalogueRows, EveryEntryHasSeveral) {
    int counted[entry_count] = {};
    for (const Fault &f : rows())
        ++counted[static_cast<int>(f.entry)];
    for (int e = 0; e < entry_count; ++e)
        EXPECT_GE(counted[e], 3) << entry_name(static_cast<Entry>(e)) << " has too few rows";
}

} // namespace
