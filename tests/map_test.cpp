// MAP file: the record, the key-line sections, the tables and the files
// that read as the readers have always read them. What they refuse is in
// the catalogue of bad input.
#include "model_input/map.h"
#include "support/cases.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using Model = std::unique_ptr<MAPmodel, decltype(&MAPfree)>;
using File = std::unique_ptr<FILE, decltype(&std::fclose)>;

Model fresh() {
    return Model(static_cast<MAPmodel *>(std::calloc(1, sizeof(MAPmodel))), MAPfree);
}

File text_file(const std::string &text) {
    FILE *f = sorvan::test::temp_stream();
    std::fwrite(text.data(), 1, text.size(), f);
    return File(f, std::fclose);
}

File data_file(const char *name) {
    return File(std::fopen((std::string(SORVAN_TEST_DATA "/map/") + name).c_str(), "r"),
                std::fclose);
}

struct Outcome {
    int status;
    std::string out; // what the readers printed
    Model map;       // null once a reader released it
};

// The readers of a conversion in its order (null: MAPalloc), or the first n.
int (*const sequence[])(MAPmodel *, FILE *) = {
    MAPread_size,           MAPread_unit, nullptr,         MAPread_input, MAPread_output,
    MAPread_external_input, MAPread_node, MAPread_element, MAPread_wheel};

Outcome read_map(FILE *file, size_t n = std::size(sequence)) {
    Model map = fresh();
    int status = MAP_OK;
    testing::internal::CaptureStdout();
    for (size_t i = 0; i < n && status == MAP_OK; ++i)
        status = sequence[i] ? sequence[i](map.get(), file) : MAPalloc(map.get());
    if (status != MAP_OK) (void)map.release(); // MAPerror has released it
    return {status, testing::internal::GetCapturedStdout(), std::move(map)};
}

Outcome read_map(const std::string &text, size_t n = std::size(sequence)) {
    return read_map(text_file(text).get(), n);
}

// The small model of tests/data/map: 2 inputs (one external), 1 output, 1
// node, 1 element and 1 wheel, so n_output_all = 1 + 3 + 6 = 10.
const std::string small = sorvan::test::read_bytes(SORVAN_TEST_DATA "/map/small.map");

std::string small_with(const std::string &from, const std::string &to) {
    std::string text = small;
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

void expect_signal(const MAPsignal &s, int id, int dof, int kind) {
    EXPECT_EQ(s.id, id);
    EXPECT_EQ(s.dof, dof);
    EXPECT_EQ(s.kind, kind);
}

} // namespace

TEST(MapFile, ReadsTheModelFileInAnyOrderOfSections) {
    for (const char *name : {"model.map", "reordered.map"}) {
        SCOPED_TRACE(name);
        Outcome r = read_map(data_file(name).get());
        ASSERT_EQ(r.status, MAP_OK) << r.out;
        EXPECT_EQ(r.out, "");
        const MAPmodel &m = *r.map;
        const int32_t counts[] = {3, 2, 1, 1, 2, 1, 14};
        EXPECT_EQ(std::memcmp(&m, counts, sizeof counts), 0);
        EXPECT_EQ(m.grid_id_offset, 1000);
        EXPECT_EQ(m.element_id_offset, 2000);
        const double units[] = {0.001, 0.017453292519943295, 1.0, 1.0, 1.0};
        EXPECT_EQ(std::memcmp(&m.unit_length, units, sizeof units), 0);
        expect_signal(m.input[0], 101, 3, 0);
        expect_signal(m.input[1], 102, 3, 0);
        expect_signal(m.input[2], 0, 0, 0); // the external input's row stays zero
        expect_signal(m.output[0], 101, 3, 1);
        expect_signal(m.output[1], 101, 3, 2);
        for (int j = 0; j < 3; ++j) {
            expect_signal(m.output[2 + j], 11, j + 1, 3);
            expect_signal(m.output[5 + j], 12, j + 1, 3);
            EXPECT_EQ(m.node_out[1][j], 5 + j);
        }
        for (int j = 0; j < 6; ++j) {
            expect_signal(m.output[8 + j], 31, j + 1, 3);
            EXPECT_EQ(m.wheel_out[0][j], 8 + j);
        }
        EXPECT_STREQ(m.ext_name[0], "road_left\n");
        EXPECT_EQ(m.ext_index[0], 1);
        EXPECT_EQ(m.node_id[1], 12);
        const double xyz[2][3] = {{0.0, -750.5, 300.0}, {1500.0, 750.5, 300.0}};
        EXPECT_EQ(std::memcmp(m.node_xyz, xyz, sizeof xyz), 0);
        const int32_t element[] = {21, 1, 2};
        EXPECT_EQ(std::memcmp(m.element, element, sizeof element), 0);
        const double geom[8] = {0.0, -800.0, 310.0, 0.0, 90.0, 0.0, 310.0, 205.0};
        EXPECT_EQ(std::memcmp(m.wheel_geom[0], geom, sizeof geom), 0);
    }
}

TEST(MapSummary, KeyLines) {
    const std::string filler(100000, 'x');
    Outcome r = read_map(" [FILE_SUMMARY] not at the start of its line\nABCD_INPUT_N = 99\n"
                         "[FILE_SUMMARY] the rest of the marker line is ignored\n"
                         "ABCD_INPUT_NUMBER = 4\n"         // letters follow the key text
                         "ABCD_OUTPUT_ ABCD_EXTERNA = 7\n" // two keys, one value
                         "GRAPHICS_ELE = 5\nGRAPHICS_ELE = 6 ! count\n" // the later line
                         "graphics_nod = 99\nGRAPHICS_NOD =  +12abc\n"
                         "WHEEL_GRAPHICS_N\n(WHEEL_GRAPHICS)\n" // no "=": no key lines
                         "GRID_ID_OFFSET = -5\nELEMENT_ID_OFFSET = 3 = 4\n" +
                             filler + "[ a long comment is one line: its tail is no marker\n" +
                             "WHEEL_GRAPHICS_N = 9.0\n[FILE_SUMMARY]\nABCD_INPUT_N = 1\n",
                         1);
    ASSERT_EQ(r.status, MAP_OK) << r.out;
    const int32_t counts[] = {4, 7, 7, 6, 12, 9};
    EXPECT_EQ(std::memcmp(r.map.get(), counts, sizeof counts), 0);
    EXPECT_EQ(r.map->grid_id_offset, -5);
    EXPECT_EQ(r.map->element_id_offset, 3);
}

TEST(MapUnits, LabelRules) {
    Outcome r = read_map("[UNITS]\n LENGTH = 'CENTIMETER'\n" // holds "TIME" too
                         " ANGLE = rad \n force = 'n'\n"     // keys have case
                         " MASS =  ' slug' 'extra'\n FORCE = kip , more\n[END]\n TIME = 'h'\n",
                         2);
    ASSERT_EQ(r.status, MAP_OK) << r.out;
    const double units[] = {0.01, 1.0, 4448.22161526, 14.5939029372, 0.01};
    EXPECT_EQ(std::memcmp(&r.map->unit_length, units, sizeof units), 0);

    r = read_map("[UNITS]\nLENGTH = 'centimeter'\nTIME = 'ms'\n", 2);
    EXPECT_EQ(r.map->unit_length, 0.01);
    EXPECT_EQ(r.map->unit_time, 0.001); // from its own line only
    r = read_map("LENGTH = 'mm'\n", 2); // no units section: no error
    EXPECT_EQ(r.map->unit_length, 0.0);

    char line[] = "LENGTH = 'mm' TIME = 'h'\n";
    EXPECT_EQ(MAPunit_constant(line, r.map.get()), 0.001);
    EXPECT_STREQ(line, "LENGTH = 'mm"); // later keys see the text up to the label
}

TEST(MapTable, FieldRules) {
    // Integer fields written as reals; a tab after a space is white space; a
    // record naming row 2 is overridden by the node's line.
    Outcome r = read_map(small_with("1 7 1\n", "  1.0 \t7.9 1.0E+00\n"));
    ASSERT_EQ(r.status, MAP_OK) << r.out;
    expect_signal(r.map->input[0], 7, 1, 0);
    expect_signal(r.map->output[9], 6, 6, 3); // row n_output_all is accepted

    r = read_map(small_with("1 7 1 1\n", "2 7 1 1\n"));
    ASSERT_EQ(r.status, MAP_OK) << r.out;
    expect_signal(r.map->output[0], 0, 0, 0);
    expect_signal(r.map->output[1], 5, 1, 3);

    r = read_map(small_with("2 $ext\n", "2 x$ road $left\n"));
    EXPECT_STREQ(r.map->ext_name[0], " road $left\n");
    const std::string longest(MAP_NAME_MAX, 'n'); // 254 characters and the line break
    r = read_map(small_with("2 $ext\n", "     2 $" + longest + "\n"));
    ASSERT_EQ(r.status, MAP_OK) << r.out;
    EXPECT_EQ(std::string(r.map->ext_name[0]), longest + "\n");
    r = read_map(small_with("2 $ext\n", "2 $" + longest + "\r\n")); // one line break kept
    ASSERT_EQ(r.status, MAP_OK) << r.out;
    EXPECT_EQ(std::string(r.map->ext_name[0]), longest + "\n");

    r = read_map("[FILE_SUMMARY]\nABCD_INPUT_N = 1\nABCD_OUTPUT_N = 1\n[STATE_SPACE_IN]\n"
                 "{abcd_index}\n1 3 2\n[STATE_SPACE_OU]\n{abcd_index}\n1 3 2 1\n");
    ASSERT_EQ(r.status, MAP_OK) << r.out; // no graphic sections needed
    EXPECT_EQ(r.map->n_output_all, 1);
    EXPECT_EQ(r.map->node_id, nullptr);
    EXPECT_EQ(r.map->wheel_geom, nullptr);
}

// What the refusals must leave alone: the small model with CR LF line ends
// and edited as tests/data/cases/map_twins.txt says, each read to the same
// record.
TEST(MapTable, ValidTwinsOfTheRefusals) {
    std::string crlf;
    for (char c : small)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::vector<std::pair<std::string, std::string>> twins = {{"CR LF line ends", crlf}};
    for (const sorvan::test::Case &c : sorvan::test::read_cases("map_twins.txt")) {
        ASSERT_EQ(c.fields.size(), 3u) << "line " << c.line;
        twins.push_back({c.fields[0], small_with(c.fields[1], c.fields[2])});
    }
    for (const auto &[what, text] : twins) {
        SCOPED_TRACE(what);
        Outcome r = read_map(text);
        ASSERT_EQ(r.status, MAP_OK) << r.out;
        EXPECT_EQ(r.map->n_input, 2);
        EXPECT_EQ(r.map->n_output_all, 10);
        expect_signal(r.map->input[0], 7, 1, 0);
        EXPECT_EQ(r.map->wheel_out[0][5], 9);
        EXPECT_EQ(r.map->ext_index[0], 1);
    }
}

TEST(MapRecord, AllocErrorAndFree) {
    Model map = fresh();
    map->n_input = 4;
    map->n_output = 3;
    map->n_node = 2;
    map->n_wheel = 1;
    ASSERT_EQ(MAPalloc(map.get()), MAP_OK);
    ASSERT_EQ(MAPalloc(map.get()), MAP_OK); // again, without leaking the first arrays
    EXPECT_EQ(map->n_output_all, 3 + 3 * 2 + 6 * 1);
    expect_signal(map->output[map->n_output_all - 1], 0, 0, 0);
    EXPECT_NE(map->wheel_out, nullptr);
    EXPECT_EQ(map->ext_name, nullptr); // counts of 0 allocate nothing
    EXPECT_EQ(map->element, nullptr);

    testing::internal::CaptureStdout();
    EXPECT_EQ(MAPerror(map.release(), "State space input is not found."), MAP_FAILED);
    EXPECT_EQ(MAPerror(nullptr, "%s", std::string(400, 'z').c_str()), MAP_FAILED);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "State space input is not found.\n" + std::string(MAP_LINE_MAX, 'z') + "\n");
}

TEST(MapNumbers, RealsAndIntegersOfAnySize) {
    auto real = [](const char *text, const char **stop = nullptr) {
        return MAPparse_real(text, text + std::strlen(text), stop);
    };
    const char *stop = nullptr;
    const char *text = " \t+2.5E+000xyz";
    EXPECT_EQ(real(text, &stop), 2.5);
    EXPECT_STREQ(stop, "xyz");
    text = "+-1";
    EXPECT_EQ(real(text, &stop), 0.0);
    EXPECT_EQ(stop, text); // no number
    EXPECT_EQ(real("999e306"), HUGE_VAL);
    EXPECT_EQ(real("-0.00012e-330"), 0.0);
    EXPECT_TRUE(std::signbit(real("-0.00012e-330")));
    EXPECT_EQ(real("12345678901234567890e-340"), 1.2345678901234568e-321);
    EXPECT_EQ(MAPparse_int(" -42x"), -42);
    EXPECT_EQ(MAPparse_int("99999999999"), INT32_MAX);
    EXPECT_EQ(MAPreal_to_int(-3.7), -3);
    EXPECT_EQ(MAPreal_to_int(1e300), INT32_MAX);
    EXPECT_EQ(MAPreal_to_int(std::nan("")), 0);
}
