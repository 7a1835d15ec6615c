// The converter end to end on a small model in real files: result codes,
// the BDF name, what is refused before any file is created, and that no
// failure leaves a file behind.
#include "bdf_export/bdf.h"
#include "bdf_export/driver.h"
#include "support/bdf_check.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

const std::string data_dir = std::string(SORVAN_TEST_DATA) + "/bdf/";

using sorvan::test::has_line;
using sorvan::test::read_text;
using sorvan::test::write_text;

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

class Driver : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char *name : {"truck.map", "truck_a", "truck_b", "truck_c", "truck_d"})
            fs::copy_file(data_dir + name, dir / name);
        inputs = files();
        // Names relative to the scratch folder, so that only the dots the
        // tests write take part in the BDF name rule.
        previous = fs::current_path();
        fs::current_path(dir);
    }
    void TearDown() override { fs::current_path(previous); }

    std::set<std::string> files() const {
        std::set<std::string> names;
        for (const auto &entry : fs::recursive_directory_iterator(dir))
            names.insert(fs::relative(entry.path(), dir).string());
        return names;
    }

    // Runs the converter with writable copies of the labels; keeps its
    // messages in `out`.
    int32_t convert(const std::string &map, const std::string &abc = "truck_",
                    const char *length = "METER", char time_unit = '1') {
        char lu[64], fu[64] = "NEWTON", mu[64] = "KILOGRAM";
        std::snprintf(lu, sizeof lu, "%s", length);
        testing::internal::CaptureStdout();
        int32_t rc = kavel2pelda(map.c_str(), abc.c_str(), lu, fu, mu, time_unit);
        out = testing::internal::GetCapturedStdout();
        return rc;
    }

    // A variant of the test MAP file under another name.
    void write_map(const std::string &name, const std::string &from, const std::string &to) {
        write_text(dir / name, replaced(read_text(dir / "truck.map"), from, to));
        inputs = files();
    }

    // Expects a refusal with a message holding `fault`, and no new file.
    void expect_refused(int32_t rc, int32_t wanted, const std::string &fault) {
        EXPECT_EQ(rc, wanted) << out;
        EXPECT_NE(out.find(fault), std::string::npos) << out;
        EXPECT_EQ(files(), inputs);
    }

    sorvan::test::ScratchDir scratch{"bdf_driver"};
    const fs::path &dir = scratch.path();
    fs::path previous;
    std::set<std::string> inputs;
    std::string out;
    sorvan::test::SavedParameters saved;
};

TEST_F(Driver, WritesACompleteFileForTheTestModel) {
    ASSERT_EQ(convert("truck.map"), 1) << out;
    EXPECT_EQ(files().size(), inputs.size() + 1);
    const std::string bdf = read_text(dir / "truck.bdf");
    auto check = sorvan::test::check_bdf_text(bdf);
    EXPECT_TRUE(check.ok()) << check.report();
    EXPECT_EQ(check.cards["EPOINT"], 4);
    EXPECT_EQ(check.cards["GRID*"], 3 + 2 * (1 + 48));
    EXPECT_EQ(check.cards["CORD2R*"], 2);
    EXPECT_EQ(check.cards["PLOTEL"], 2 + 2 * 72);
    EXPECT_EQ(check.cards["RBE2"], 2);
    EXPECT_EQ(check.cards["TF"], 3 + 26 + 3 + 3); // states, outputs, couplings, forces
    EXPECT_EQ(check.cards["DMIG"], 1 + 21);
    EXPECT_NE(bdf.find("$*  Import MAP file name: truck.map\n"
                       "$*  Import ABC file name: truck_\n"
                       "$*  Export BDF file name: truck.bdf\n"),
              std::string::npos);
    // Identifiers: inputs 1001-1004, outputs 1005-1030, states 1031-1033,
    // 1034 unused, nodes 1035-1037, then the wheels.
    for (const char *line : {
             "EPOINT      1001    THRU    1003",
             "EPOINT      1004",
             "EPOINT      1005    THRU    1030",
             "EPOINT      1031    THRU    1033",
             "GRID*               1035               0    0.000000E+00    0.000000E+00",
             "*           5.000000E-01               0",
             "PLOTEL      2001    1035    1036",
             "GRID*               1038            2003    0.000000E+00    0.000000E+00",
             "GRID*               1087            2077    0.000000E+00    0.000000E+00",
             "TF             1    1031       0-2.500+0 -1.0000  0.0000",
             "            1032       0 1.250-1  0.0000  0.0000",
             "            1004       0 1.000+0  0.0000  0.0000",
             "TF             1    1033       0-4.000+0 -1.0000  0.0000",
             "            1031       0 1.000-9  0.0000  0.0000",
             "            1001       0 1.000-3  0.0000  0.0000",
             // the coupling of the force at 101 in millimetres
             "TF             1    1001       0 1.000+0  0.0000  0.0000",
             "             101       3-1.000+9-1.000+6  0.0000",
             "            1005       0 1.000+6  0.0000  0.0000",
             "            1006       0 1.000+3  0.0000  0.0000",
             // the moment at 102
             "TF             1    1002       0 1.000-3  0.0000  0.0000",
             "             102       5-1.000+6-1.000+4  0.0000",
             "TF             1     103       1  0.0000  0.0000  0.0000",
             "            1002       0 1.000-3  0.0000  0.0000", // the moment in export units
             "DMIG    K2P            0       1       1",
             "DMIG    K2P         1010       0            1035       1-1.000-3",
             "DMIG    K2P         1024       0            1038       6-1.000+0",
         })
        EXPECT_TRUE(has_line(bdf, line)) << line;
    EXPECT_FALSE(has_line(bdf, "            1033       0 3.00-10  0.0000  0.0000"));
    EXPECT_EQ(bdf.find("External Input Stiffness Matrix"), std::string::npos);
    const std::string end = "$*\n$* KAVEL2PELDA: End of BDF for PELDA:\n$*\n";
    ASSERT_GT(bdf.size(), end.size());
    EXPECT_EQ(bdf.substr(bdf.size() - end.size()), end);
}

TEST_F(Driver, SecondConversionNumbersFromItsOwnOffsets) {
    ASSERT_EQ(convert("truck.map"), 1) << out;
    write_map("other.map", "GRID_ID_OFFSET = 1000\nELEMENT_ID_OFFSET = 2000",
              "GRID_ID_OFFSET = 5000\nELEMENT_ID_OFFSET = 7000");
    ASSERT_EQ(convert("other.map"), 1) << out;
    const std::string bdf = read_text(dir / "other.bdf");
    EXPECT_TRUE(has_line(bdf, "EPOINT      5001    THRU    5003"));
    EXPECT_TRUE(has_line(bdf, "PLOTEL      7001    5035    5036"));
}

TEST_F(Driver, SharedSequenceAddsExternalInputsAndCallsTheHook) {
    char labels[4][64] = {"m", "n", "kg", "s"};
    sorvan::bdf::Conversion c;
    c.map_file = "truck.map";
    c.abc_file = "truck_";
    for (int k = 0; k < 4; ++k)
        c.labels[k] = labels[k];
    c.copy_labels = true;
    c.external_inputs = true;
    double seen_length = 0.0;
    c.after_units = [&](const MAPmodel &map) {
        seen_length = map.unit_length;
        return true;
    };
    ASSERT_EQ(sorvan::bdf::run_conversion(c), 1);
    EXPECT_EQ(seen_length, 0.001);
    EXPECT_STREQ(lu_lab, "METER");
    EXPECT_STREQ(tu_lab, "SECOND");
    const std::string bdf = read_text(dir / "truck.bdf");
    EXPECT_TRUE(sorvan::test::check_bdf_text(bdf).ok());
    EXPECT_NE(bdf.find("$* KAVEL Variable Name: road elevation front left\nEPOINT      1004\n"),
              std::string::npos);
    EXPECT_NE(bdf.find("External Input Stiffness Matrix\n$*\n"
                       "TF             1    1004       0  1.0000  0.0000  0.0000\n"
                       "$*\n$* KAVEL2PELDA: f(pelda) = - f(kavel)\n"),
              std::string::npos);

    // A hook that refuses the record stops the conversion before any file.
    fs::remove(dir / "truck.bdf");
    c.after_units = [](const MAPmodel &) { return false; };
    EXPECT_EQ(sorvan::bdf::run_conversion(c), -1);
    EXPECT_EQ(files(), inputs);
}

TEST_F(Driver, ExportUnitsAndTimeCodes) {
    convert("missing.map", "truck_", "mm", '0');
    EXPECT_EQ(lu_fac, 0.001);
    EXPECT_EQ(tu_fac, 0.001);
    for (char code : {'\0', '4', '1'}) {
        convert("missing.map", "truck_", "m", code);
        EXPECT_EQ(tu_fac, 1.0) << int(code);
    }
    convert("missing.map", "truck_", "m", '3');
    EXPECT_EQ(tu_fac, 3600.0);
    char lu[64] = "mm", fu[64] = "kgf", mu[64] = "kg";
    testing::internal::CaptureStdout();
    kavel2pelda("no such file", "x", lu, fu, mu, '1');
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(lu, "MILLIMETER");
    EXPECT_STREQ(fu, "KILOGRAM_FORCE");
}

TEST_F(Driver, ResultCodesLeaveNothingBehind) {
    expect_refused(convert("missing.map", "truck_", "furlong"), -6, "furlong");
    expect_refused(convert("missing.map"), -1, "missing.map");
    write_map("no_in.map", "ABCD_INPUT_N = 4", "ABCD_INPUT_N = 0");
    expect_refused(convert("no_in.map", "nothing_"), -2, "State space input is not found.");
    write_map("no_out.map", "ABCD_OUTPUT_N = 5", "ABCD_OUTPUT_N = 0");
    expect_refused(convert("no_out.map"), -3, "State space output is not found.");
    write_map("wide.map", "ABCD_INPUT_N = 4\nABCD_OUTPUT_N = 5\nABCD_EXTERNAL_N = 1",
              "ABCD_INPUT_N = 5\nABCD_OUTPUT_N = 5\nABCD_EXTERNAL_N = 2");
    expect_refused(convert("wide.map"), -4, "Unmatch state input size. MAP: 5, MTX: 4");
    std::string c = read_text(dir / "truck_c");
    write_text(dir / "short_c", c.substr(0, c.size() - 76));
    for (char l : {'a', 'b', 'd'})
        fs::copy_file(dir / (std::string("truck_") + l), dir / (std::string("short_") + l));
    inputs = files();
    expect_refused(convert("truck.map", "short_"), -5,
                   "Unmatch state output size. MAP: 26, MTX: 25");
    fs::remove(dir / "short_d");
    inputs = files();
    expect_refused(convert("truck.map", "short_"), -1, "short_d");
}

TEST_F(Driver, BdfNameRule) {
    fs::copy_file(dir / "truck.map", dir / "model.m");
    fs::copy_file(dir / "truck.map", dir / "a.b.c");
    fs::copy_file(dir / "truck.map", dir / "plain");
    fs::create_directories(dir / "run.1");
    fs::copy_file(dir / "truck.map", dir / "run.1" / "model");
    write_text(dir / "model.bdf", "an older file\n");
    EXPECT_EQ(convert("model.m"), 1) << out;
    EXPECT_NE(read_text(dir / "model.bdf"), "an older file\n");
    EXPECT_EQ(convert("a.b.c"), 1) << out;
    EXPECT_TRUE(fs::exists(dir / "a.b.bdf"));
    EXPECT_EQ(convert("plain"), 1) << out;
    EXPECT_TRUE(fs::exists(dir / "plain.bdf"));
    // The rule looks at the file-name part only: a dot in a folder name is
    // no extension, and a file of that folder's name stays untouched.
    write_text(dir / "run.bdf", "an unrelated file\n");
    EXPECT_EQ(convert("run.1/model"), 1) << out;
    EXPECT_TRUE(fs::exists(dir / "run.1" / "model.bdf"));
    EXPECT_EQ(read_text(dir / "run.bdf"), "an unrelated file\n");
    EXPECT_EQ(convert("./plain"), 1) << out; // not the hidden file "./.bdf"
    EXPECT_FALSE(fs::exists(dir / ".bdf"));

    // A name whose BDF would be the MAP file itself is refused.
    fs::copy_file(dir / "truck.map", dir / "same.bdf");
#ifndef _WIN32 // the same file where names are blind to case
    fs::copy_file(dir / "truck.map", dir / "same.BDF");
#endif
    inputs = files();
    expect_refused(convert("same.bdf"), -1, "would replace the MAP file");
    expect_refused(convert("same.BDF"), -1, "would replace the MAP file");
    EXPECT_EQ(read_text(dir / "same.bdf"), read_text(dir / "truck.map"));

    // A MAP name that opens but whose BDF name would not fit the name buffer.
    fs::copy_file(dir / "truck.map", dir / "t.m");
    inputs = files();
    std::string long_name;
    while (long_name.size() + 3 < BDF_NAME_SIZE - 1)
        long_name += "./";
    expect_refused(convert(long_name + "t.m"), -1, "longer than");
}

#ifndef _WIN32
// A device or a pipe is no MAP file: refused before it is read (an endless
// stream) or even opened (a pipe without a writer would wait for one).
TEST_F(Driver, RefusesDevicesAndPipes) {
    ASSERT_EQ(mkfifo((dir / "pipe.map").c_str(), 0600), 0);
    inputs = files();
    for (const char *name : {"/dev/zero", "pipe.map"})
        expect_refused(convert(name), -1, "not a regular file (a folder, a device or a pipe)");
}

// Inputs are compared by what they are, not by their names: a BDF name that
// reaches the MAP file or a matrix file through a link is refused, and the
// input stays as it was.
TEST_F(Driver, NeverReplacesItsOwnInput) {
    fs::copy_file(dir / "truck.map", dir / "real.bdf");
    fs::create_symlink("real.bdf", dir / "real.map"); // real.map reaches real.bdf
    fs::copy_file(dir / "truck.map", dir / "other.map");
    fs::create_hard_link(dir / "other.map", dir / "other.bdf");
    for (char l : {'a', 'b', 'c', 'd'})
        fs::copy_file(dir / (std::string("truck_") + l), dir / (std::string("set_") + l));
    fs::rename(dir / "set_a", dir / "m2.bdf");
    fs::create_symlink("m2.bdf", dir / "set_a");
    fs::copy_file(dir / "truck.map", dir / "m2.map");
    inputs = files();
    const std::string map_text = read_text(dir / "truck.map");
    expect_refused(convert("real.map"), -1,
                   "real.bdf: the BDF file would replace the input file real.map");
    expect_refused(convert("other.map"), -1, "would replace the input file other.map");
    expect_refused(convert("m2.map", "set_"), -1, "would replace the input file set_a");
    EXPECT_EQ(read_text(dir / "real.bdf"), map_text);
    EXPECT_EQ(read_text(dir / "other.map"), map_text);
    EXPECT_EQ(read_text(dir / "m2.bdf"), read_text(dir / "truck_a"));
}
#endif

TEST_F(Driver, RefusesWhatWouldCorruptTheFile) {
    write_map("dv.map", "GRID_ID_OFFSET", "GRID_ID_OFFSET");
    whl_dv = 0;
    expect_refused(convert("dv.map"), -1, "whl_dv 0");
    whl_dv = 24;
    tf_id = 123456789;
    expect_refused(convert("dv.map"), -1, "tf_id 123456789");
    tf_id = 1;
    write_map("high.map", "GRID_ID_OFFSET = 1000", "GRID_ID_OFFSET = 99999900");
    expect_refused(convert("high.map"), -1, "point identifiers 99999901 to 100000035");
    write_map("low.map", "GRID_ID_OFFSET = 1000", "GRID_ID_OFFSET = -1001");
    expect_refused(convert("low.map"), -1, "point identifiers -1000 to -866");
    write_map("elem.map", "ELEMENT_ID_OFFSET = 2000", "ELEMENT_ID_OFFSET = 99999900");
    expect_refused(convert("elem.map"), -1, "element identifiers");
    write_map("own.map", "1 101 3\n2 102 5", "1 1005 3\n2 102 5");
    expect_refused(convert("own.map"), -1, "acts on point 1005");
    write_map("units.map", "TIME = 'second'\n", "");
    expect_refused(convert("units.map"), -1, "no TIME unit");
    write_map("unnamed.map", "13 4000.0 0.0 600.0 12 13 14", "13 4000.0 0.0 600.0 12 13 1");
    expect_refused(convert("unnamed.map"), -1, "graphic output row 14");
    write_map("bad_row.map", "13 4000.0 0.0 600.0 12 13 14", "13 4000.0 0.0 600.0 12 13 27");
    expect_refused(convert("bad_row.map"), -1, "Illegal output index... 27");
    v_stif = 1e300;
    expect_refused(convert("truck.map"), -1, "v_stif");
}

TEST_F(Driver, RefusesMatrixTermsThatDoNotPrint) {
    std::string a = read_text(dir / "truck_a");
    const std::string nan_field = std::string(22, ' ') + "nan";
    write_text(dir / "nan_a", replaced(a, " -1.0000000000000000E+000", nan_field));
    write_text(dir / "big_a",
               replaced(a, " +1.2500000000000000E-001", " +1.0000000000000000E+031"));
    write_text(dir / "odd_a", "");
    for (const char *base : {"nan_", "big_", "odd_"})
        for (char l : {'b', 'c', 'd'})
            fs::copy_file(dir / (std::string("truck_") + l), dir / (std::string(base) + l));
    inputs = files();
    expect_refused(convert("truck.map", "nan_"), -1,
                   "ABC file nan_a, line 2: field 2 is not a finite number");
    expect_refused(convert("truck.map", "big_"), -1, "big_a: row 1, column 2");
    expect_refused(convert("truck.map", "odd_"), -1,
                   "odd_a: the file is empty (no states), but odd_c has 3 columns");
}

// The bundled example converts into a file that passes the checker.
TEST_F(Driver, BundledExamplePassesTheChecker) {
    const fs::path example = fs::path(SORVAN_EXAMPLES) / "vehicle";
    if (!fs::exists(example / "vehicle.map")) GTEST_SKIP() << "no bundled example";
    for (const char *name : {"vehicle.map", "vehicle_a", "vehicle_b", "vehicle_c", "vehicle_d"})
        fs::copy_file(example / name, dir / name);
    ASSERT_EQ(convert("vehicle.map", "vehicle_", "mm"), 1) << out;
    auto check = sorvan::test::check_bdf_file((dir / "vehicle.bdf").string());
    EXPECT_TRUE(check.ok()) << check.report();
    EXPECT_GT(check.cards["TF"], 0);
    EXPECT_GT(check.cards["GRID*"], 0);
}

#ifndef _WIN32
// A write that fails half-way (file size limit) gives -1 and no file, and
// the BDF that was there stays as it was.
TEST_F(Driver, WriteFailureLeavesNoFile) {
    write_text(dir / "truck.bdf", "an older file\n");
    inputs = files();
    std::fflush(stdout);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        char lu[64] = "m", fu[64] = "n", mu[64] = "kg";
        int32_t rc = kavel2pelda("truck.map", "truck_", lu, fu, mu, '1');
        std::fflush(stdout);
        _exit(rc == -1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(files(), inputs);
    EXPECT_EQ(read_text(dir / "truck.bdf"), "an older file\n");
}
#endif

} // namespace
