// What the tests of the command line share: models written as real files
// (ABC sets in the 25-character layout, MAP files from their sections), a
// scratch folder stocked with the models and files the cases name, the
// built program or a command of the library run in it, and the checks a
// case states in words (tests/data/cases/command_lines.txt describes them).
#ifndef SORVAN_TESTS_CLI_COMMAND_LINE_H
#define SORVAN_TESTS_CLI_COMMAND_LINE_H

#include "../analysis/cases.h"
#include "../analysis/models.h"
#include "cli/json_output.h"
#include "support/files.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace sorvan::test {

namespace fs = std::filesystem;

// One matrix file: every value " %+23.16E" with a three-digit exponent.
inline void write_matrix(const fs::path &file, const Eigen::MatrixXd &m) {
    std::string text;
    for (Eigen::Index i = 0; i < m.rows(); ++i) {
        for (Eigen::Index j = 0; j < m.cols(); ++j) {
            char field[40];
            std::snprintf(field, sizeof field, " %+23.16E", m(i, j));
            std::string f = field;
            const std::size_t e = f.find('E');
            if (f.size() - e == 4) f.insert(e + 2, "0"); // two exponent digits become three
            text += f.substr(f.size() - 25);
        }
        text += "\n";
    }
    write_text(file, text);
}

inline void write_abc(const fs::path &base, const Eigen::MatrixXd &a, const Eigen::MatrixXd &b,
                      const Eigen::MatrixXd &c, const Eigen::MatrixXd &d) {
    const Eigen::MatrixXd *m[4] = {&a, &b, &c, &d};
    for (int k = 0; k < 4; ++k)
        write_matrix(base.string() + "abcd"[k], *m[k]);
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
};

inline std::string map_text(const MapText &m) {
    auto n = [](std::size_t k) { return std::to_string(k); };
    std::string s = "[FILE_SUMMARY]\nABCD_INPUT_N = " + n(m.inputs.size() + m.externals.size()) +
                    "\nABCD_OUTPUT_N = " + n(m.outputs.size()) +
                    "\nABCD_EXTERNAL_N = " + n(m.externals.size()) +
                    "\nGRAPHICS_ELEMENT_N = " + std::to_string(m.elements) +
                    "\nGRAPHICS_NODE_N = " + std::to_string(m.nodes) +
                    "\nWHEEL_GRAPHICS_N = " + std::to_string(m.wheels) +
                    "\nGRID_ID_OFFSET = 1000\nELEMENT_ID_OFFSET = 2000\n"
                    "[UNITS]\nLENGTH = 'meter'\nANGLE = 'degree'\nFORCE = 'newton'\n"
                    "MASS = 'kilogram'\nTIME = 'second'\n"
                    "[STATE_SPACE_INPUT]\n{abcd_index id dof}\n";
    for (std::size_t k = 0; k < m.inputs.size(); ++k)
        s += n(k + 1) + " " + std::to_string(m.inputs[k][0]) + " " +
             std::to_string(m.inputs[k][1]) + "\n";
    s += "[STATE_SPACE_OUTPUT]\n{abcd_index id dof kind}\n";
    for (std::size_t k = 0; k < m.outputs.size(); ++k)
        s += n(k + 1) + " " + std::to_string(m.outputs[k][0]) + " " +
             std::to_string(m.outputs[k][1]) + " " + std::to_string(m.outputs[k][2]) + "\n";
    s += "[STATE_SPACE_EXTERNAL_INPUT]\n{abcd_index $name}\n";
    for (std::size_t k = 0; k < m.externals.size(); ++k)
        s += n(m.inputs.size() + k + 1) + " $" + m.externals[k] + "\n" + n(k + 1) + "\n";
    return s + "[GRAPHICS]\n" + m.graphics;
}

struct Result {
    int status = -1;
    std::string out, err;
};

// The value at a path of keys and array positions ("a.0.b"), or null.
inline nlohmann::json at_path(const nlohmann::json &j, const std::string &path) {
    const nlohmann::json *v = &j;
    std::istringstream parts(path);
    for (std::string p; std::getline(parts, p, '.');) {
        if (v->is_array() && !p.empty() && p.find_first_not_of("0123456789") == std::string::npos &&
            std::stoul(p) < v->size())
            v = &(*v)[std::stoul(p)];
        else if (v->is_object() && v->contains(p))
            v = &(*v)[p];
        else
            return nullptr;
    }
    return *v;
}

// Whether a number is the one written: a whole number exactly, a decimal
// to within half its last digit.
inline bool same_number(double got, const std::string &written) {
    const double want = std::stod(written);
    const std::size_t point = written.find('.'), e = written.find_first_of("eE");
    if (point == std::string::npos && e == std::string::npos) return got == want;
    const int decimals =
        point == std::string::npos
            ? 0
            : static_cast<int>((e == std::string::npos ? written.size() : e) - point - 1);
    const int exponent = e == std::string::npos ? 0 : std::stoi(written.substr(e + 1));
    return std::abs(got - want) <= 0.5 * std::pow(10.0, exponent - decimals) * (1 + 1e-12);
}

// One stated check of a case (the forms are listed in command_lines.txt),
// against the plain run, the JSON object of the --json run (null when
// there was none) and the files in dir.
inline void expect_check(const std::string &check, const Result &plain, const nlohmann::json &j,
                         const fs::path &dir) {
    SCOPED_TRACE(check);
    if (check.rfind("json:", 0) == 0) {
        ASSERT_FALSE(j.is_null()) << "no JSON object to look into";
        const std::string rest = check.substr(5);
        const std::size_t op = rest.find_first_of("=<>~");
        const nlohmann::json v = at_path(j, rest.substr(0, op));
        ASSERT_FALSE(v.is_null()) << "no such key in " << j.dump(1);
        if (op == std::string::npos) return;
        const std::string want = rest.substr(op + 1);
        const char how = rest[op];
        if (how == '~') {
            const std::string text = v.is_string() ? v.get<std::string>() : v.dump();
            EXPECT_NE(text.find(want), std::string::npos) << text;
        } else if (how != '=') {
            ASSERT_TRUE(v.is_number()) << v;
            EXPECT_TRUE(how == '<' ? v.get<double>() < std::stod(want)
                                   : v.get<double>() > std::stod(want))
                << v;
        } else if (v.is_number() && !v.is_boolean()) {
            EXPECT_TRUE(same_number(v.get<double>(), want)) << v;
        } else {
            const nlohmann::json w = nlohmann::json::parse(want, nullptr, false);
            EXPECT_EQ(v, w.is_discarded() ? nlohmann::json(want) : w);
        }
        return;
    }
    auto text_of = [&](const std::string &name) {
        if (name == "out") return plain.out;
        if (name == "err") return plain.err;
        EXPECT_TRUE(fs::exists(dir / name)) << name << " is missing";
        return read_text(dir / name);
    };
    if (check[0] == '!') {
        EXPECT_FALSE(fs::exists(dir / check.substr(1))) << "it was written";
    } else if (const std::size_t same = check.find("=="); same != std::string::npos) {
        EXPECT_EQ(text_of(check.substr(0, same)), text_of(check.substr(same + 2)));
    } else if (const std::size_t not_in = check.find("!~"); not_in != std::string::npos) {
        EXPECT_EQ(text_of(check.substr(0, not_in)).find(check.substr(not_in + 2)),
                  std::string::npos);
    } else if (const std::size_t in = check.find('~'); in != std::string::npos) {
        const std::string text = text_of(check.substr(0, in));
        EXPECT_NE(text.find(check.substr(in + 1)), std::string::npos) << text;
    } else {
        ADD_FAILURE() << "no such check";
    }
}

// Every file under dir by its name relative to dir, with its content.
inline std::map<std::string, std::string> snapshot(const fs::path &dir) {
    std::map<std::string, std::string> files;
    for (const auto &e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            files[fs::relative(e.path(), dir).generic_string()] = read_bytes(e.path());
    return files;
}

// Messages compared as text: a Windows program's console output ends its
// lines with CR LF.
inline std::string without_cr(std::string text) {
    std::erase(text, '\r');
    return text;
}

// A test in a scratch folder stocked with what the cases name:
//   vehicle.map, vehicle_a-d  the bundled example (nod_a-c: a set without d)
//   quarter.map, quarter_a-d  the quarter car; truck.map, truck_a-d a truck
//   golden.bdf, truck.bdf     the golden decks of the vehicle and the truck,
//   road.rsp                  and the golden road profile (2 tracks, 100 m)
//   no_inputs.map, no_outputs.map, inputs.map, wheels.map  the vehicle's
//                             MAP file with 0 inputs, 0 outputs, 5 inputs, 3
//                             wheels in its summary
//   bare.map                  a MAP file without graphics
//   axes.map                  nodes 1 to 4 at the origin and 1 m along x, y, z
//   pass.map, pass_a-d        external inputs front and rear passed to the
//                             two outputs (D = I)
//   lag_a-d                   a 0.2 s lag (0.8 Hz) beside a pair at 2 Hz
//   bump.csv                  100 m of a sine of 10 mm and 7.3 m, "bump"
//   force.csv                 a table of forces, no elevations
//   junk.rsp                  text that is no profile
//   old.rsp, old.csv          files that a failed road must leave as they are
//   plot.svg                  a folder; s.rsp and s.csv one file (a hard link)
//   deck.svg                  a link to golden.bdf; run.d/model a MAP file
class CommandLine : public testing::Test {
  protected:
    void SetUp() override {
        const fs::path examples(SORVAN_EXAMPLES), data(SORVAN_TEST_DATA);
        auto copy = [&](const fs::path &from, const std::string &to) {
            fs::copy_file(from, file(to));
        };
        for (const char *m : {"vehicle", "quarter"}) {
            copy(examples / m / (std::string(m) + ".map"), std::string(m) + ".map");
            for (const char *l : {"a", "b", "c", "d"})
                copy(examples / m / (std::string(m) + "_" + l), std::string(m) + "_" + l);
        }
        copy(data / "bdf" / "truck.map", "truck.map");
        for (const char *l : {"a", "b", "c", "d"}) {
            copy(data / "bdf" / (std::string("truck_") + l), std::string("truck_") + l);
            if (*l != 'd') copy(file(std::string("vehicle_") + l), std::string("nod_") + l);
        }
        copy(data / "golden" / "vehicle.bdf", "golden.bdf");
        copy(data / "golden" / "truck.bdf", "truck.bdf");
        copy(data / "golden" / "road.rsp", "road.rsp");
        edit_map("no_inputs.map", "ABCD_INPUT_N = 6", "ABCD_INPUT_N = 0");
        edit_map("no_outputs.map", "ABCD_OUTPUT_N = 8", "ABCD_OUTPUT_N = 0");
        edit_map("inputs.map", "ABCD_INPUT_N = 6", "ABCD_INPUT_N = 5");
        edit_map("wheels.map", "WHEEL_GRAPHICS_N = 4", "WHEEL_GRAPHICS_N = 3");
        MapText bare;
        bare.inputs = {{1, 3}};
        bare.outputs = {{1, 3, 1}};
        write_text(file("bare.map"), map_text(bare));
        MapText axes = bare;
        axes.nodes = 4;
        axes.graphics = "(NODES)\n{id x y z o1 o2 o3}\n1 0 0 0 2 3 4\n2 1 0 0 5 6 7\n"
                        "3 0 1 0 8 9 10\n4 0 0 1 11 12 13\n";
        write_text(file("axes.map"), map_text(axes));
        // Models whose modes are known exactly: blocks_ (with blocks.map)
        // in modal form, pairs of 1.5, 7 and 30 Hz of damping 0.05, 0.2 and
        // 0.5, a pair growing at 0.25 1/s and 12 rad/s, a real state at
        // -3 1/s; odd_ (with bare.map) +-3i, 0, 2 and -5; huge_ -1e199 +-
        // 1e200i; short_ a D of 3 rows.
        Eigen::MatrixXd blocks = Eigen::MatrixXd::Zero(9, 9), odd = Eigen::MatrixXd::Zero(5, 5);
        put_block(blocks, 0, 1.5, 0.05);
        put_block(blocks, 2, 7.0, 0.2);
        put_block(blocks, 4, 30.0, 0.5);
        blocks.block<2, 2>(6, 6) << 0.25, 12.0, -12.0, 0.25;
        blocks(8, 8) = -3.0;
        MapText bm = bare;
        bm.inputs = {{11, 3}};
        bm.externals = {"road left"};
        bm.outputs = {{11, 3, 1}, {11, 3, 2}};
        bm.nodes = bm.wheels = 1;
        bm.graphics =
            "(NODES)\n{id x y z o1 o2 o3}\n 42 0 0 1 3 4 5\n(WHEEL_GRAPHICS)\n"
            "{id x y z a1 a2 a3 r w o1 o2 o3 o4 o5 o6}\n 9 1 1 0.3 0 90 0 0.3 0.2 6 7 8 9 "
            "10 11\n";
        write_text(file("blocks.map"), map_text(bm));
        write_abc(file("blocks_"), blocks, Eigen::MatrixXd::Ones(9, 2),
                  Eigen::MatrixXd::Ones(11, 9), Eigen::MatrixXd::Zero(11, 2));
        odd.block<2, 2>(0, 0) << 0, 3, -3, 0;
        odd(3, 3) = 2;
        odd(4, 4) = -5;
        write_abc(file("odd_"), odd, Eigen::MatrixXd::Ones(5, 1), Eigen::MatrixXd::Ones(1, 5),
                  Eigen::MatrixXd::Zero(1, 1));
        write_abc(file("huge_"), Eigen::Matrix2d{{-1e199, 1e200}, {-1e200, -1e199}},
                  Eigen::MatrixXd::Ones(2, 1), Eigen::MatrixXd::Ones(1, 2),
                  Eigen::MatrixXd::Zero(1, 1));
        write_abc(file("short_"), odd, Eigen::MatrixXd::Ones(5, 1), Eigen::MatrixXd::Ones(1, 5),
                  Eigen::MatrixXd::Zero(3, 1));
        MapText pass;
        pass.outputs = {{1, 3, 1}, {2, 3, 1}};
        pass.externals = {"front", "rear"};
        write_text(file("pass.map"), map_text(pass));
        write_abc(file("pass_"), Eigen::MatrixXd::Constant(1, 1, -1.0), Eigen::MatrixXd::Zero(1, 2),
                  Eigen::MatrixXd::Zero(2, 1), Eigen::MatrixXd::Identity(2, 2));
        Eigen::MatrixXd lag = Eigen::MatrixXd::Zero(3, 3);
        lag(0, 0) = -5.0;
        lag.block<2, 2>(1, 1) << -1.0, 4 * pi, -4 * pi, -1.0;
        write_abc(file("lag_"), lag, Eigen::MatrixXd::Ones(3, 1), Eigen::MatrixXd::Ones(1, 3),
                  Eigen::MatrixXd::Zero(1, 1));
        std::string road = "distance_m,bump_mm\n";
        for (int i = 0; i <= 1000; ++i) {
            char row[64];
            std::snprintf(row, sizeof row, "%d.%d,%.17g\n", i / 10, i % 10, bump_mm(i));
            road += row;
        }
        write_text(file("bump.csv"), road);
        write_text(file("force.csv"), "distance_m,f_N\n0,1\n0.1,2\n0.2,3\n");
        write_text(file("junk.rsp"), "not a profile\n");
        write_text(file("old.rsp"), "an older profile\n");
        write_text(file("old.csv"), "an older table\n");
        fs::create_directory(file("plot.svg"));
        write_text(file("s.rsp"), "");
        fs::create_hard_link(file("s.rsp"), file("s.csv"));
#ifdef _WIN32 // a symbolic link needs rights there
        fs::create_hard_link(file("golden.bdf"), file("deck.svg"));
#else
        fs::create_symlink(file("golden.bdf"), file("deck.svg"));
#endif
        fs::create_directory(file("run.d"));
        copy(file("vehicle.map"), "run.d/model");
    }

    // The elevation of bump.csv at its point k, in mm.
    static double bump_mm(int k) {
        return 10.0 * std::sin(2 * pi * k * 0.1 / 7.3);
    }

    fs::path file(const std::string &name) const {
        return dir / name;
    }

    // The built program with these words, in the folder.
    Result run(const std::string &words) {
        Result r;
        r.status = run_in_folder(dir, "\"" SORVAN_CLI "\" " + words, "program.out", "program.err");
        r.out = without_cr(read_text(file("program.out")));
        r.err = without_cr(read_text(file("program.err")));
        fs::remove(file("program.out"));
        fs::remove(file("program.err"));
        return r;
    }

    // A command of the library (argv[1] the first word) in this process, in
    // the folder, finished as the program finishes it (with --json, the
    // envelope).
    template <class Run> Result call(Run command, std::vector<std::string> words) {
        words.insert(words.begin(), "sorvan");
        std::vector<char *> argv;
        for (std::string &w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        const fs::path before = fs::current_path();
        fs::current_path(dir);
        cli::json_output::reset();
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int argc = static_cast<int>(words.size());
        const bool json = cli::json_output::requested(argc, argv.data());
        if (json) cli::json_output::begin();
        Result r;
        r.status = command(argc, argv.data());
        if (json) cli::json_output::finish(words[1], r.status);
        std::fflush(stdout);
        r.out = testing::internal::GetCapturedStdout();
        r.err = testing::internal::GetCapturedStderr();
        fs::current_path(before);
        return r;
    }

    // Copies vehicle.map to name with one text replaced.
    void edit_map(const std::string &name, const std::string &from, const std::string &to) {
        std::string text = read_text(file("vehicle.map"));
        const std::size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        write_text(file(name), text.replace(at, from.size(), to));
    }

    static constexpr double pi = 3.14159265358979323846;
    ScratchDir scratch{"cli"};
    const fs::path &dir = scratch.path();
};

} // namespace sorvan::test

#endif
