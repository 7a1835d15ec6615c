// What the tests of the command line share: a scratch folder stocked with
// the models and files the cases name, the built program or a command of
// the library run in it, and the checks a case states in words
// (tests/data/cases/command_lines.txt describes them).
#ifndef SORVAN_TESTS_CLI_COMMAND_LINE_H
#define SORVAN_TESTS_CLI_COMMAND_LINE_H

#include "cli/json_output.h"
#include "support/cases.h"
#include "support/files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace sorvan::test {

namespace fs = std::filesystem;

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

// Messages compared as text: a Windows program's console output ends its
// lines with CR LF.
inline std::string without_cr(std::string text) {
    std::erase(text, '\r');
    return text;
}

// A test in a scratch folder stocked with what the cases name: the files
// of tests/data/cli (its README says what they are), the bundled examples
// vehicle and quarter, the truck of tests/data/bdf, the golden decks as
// golden.bdf and truck.bdf, the golden road.rsp, nod_a-c (an ABC set
// without d), plot.svg and fold_d (folders), s.rsp and s.csv (one file, a
// hard link), deck.svg (a link to golden.bdf) and run.d/model (a MAP file).
class CommandLine : public testing::Test {
  protected:
    void SetUp() override {
        const fs::path examples(SORVAN_EXAMPLES), data(SORVAN_TEST_DATA);
        auto copy = [&](const fs::path &from, const std::string &to) {
            fs::copy_file(from, file(to));
        };
        for (const auto &e : fs::directory_iterator(data / "cli"))
            if (e.path().extension() != ".md") copy(e.path(), e.path().filename().string());
        for (const std::string l : {"a", "b", "c", "d"}) {
            for (const std::string m : {"vehicle", "quarter"})
                copy(examples / m / (m + "_" + l), m + "_" + l);
            copy(data / "bdf" / ("truck_" + l), "truck_" + l);
            if (l != "d") copy(file("vehicle_" + l), "nod_" + l);
        }
        copy(examples / "vehicle" / "vehicle.map", "vehicle.map");
        copy(examples / "quarter" / "quarter.map", "quarter.map");
        copy(data / "bdf" / "truck.map", "truck.map");
        copy(data / "golden" / "vehicle.bdf", "golden.bdf");
        copy(data / "golden" / "truck.bdf", "truck.bdf");
        copy(data / "golden" / "road.rsp", "road.rsp");
        fs::create_directory(file("plot.svg"));
        fs::create_directory(file("fold_d"));
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

    // The built program with these words, in the folder, after what the
    // shell is given to run first.
    Result run(const std::string &words, const std::string &shell = "") {
        Result r;
        r.status =
            run_in_folder(dir, shell + "\"" SORVAN_CLI "\" " + words, "program.out", "program.err");
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

    static constexpr double pi = 3.14159265358979323846;
    ScratchDir scratch{"cli"};
    const fs::path &dir = scratch.path();
};

} // namespace sorvan::test

#endif
