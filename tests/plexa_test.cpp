// The stand-in host's own edges: function registry, model database,
// host-language arrays and the error channel. What the plug-in's entries
// ask of it in the ordinary way (registration, the unit objects, the call
// record) is checked where they ask it: plugin_test, convert_test and the
// catalogue of bad input.
#include "frame/host_codes.h"
#include "support/cases.h"
#include "support/host_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace sorvan::host_codes;

class Plexa : public ::testing::Test {
  protected:
    void SetUp() override { plexa_reset(); }
    void TearDown() override { plexa_reset(); }
};

// ======================================================================
// Registry
// ======================================================================

vc_array make_answer(vc_array, vc_array, vc_array) {
    vc_array a = plexa_array_create(VC_INTEGER, 1);
    plexa_array_set_int(a, 0, 7);
    return a;
}
int32_t convert_one(ac_object, const char *, const char *) {
    return 1;
}
int32_t convert_two(ac_object, const char *a, const char *b) {
    return static_cast<int32_t>(std::strlen(a) + std::strlen(b));
}
double write_mats(ac_object, const char *, double limit, double sw) {
    return limit + sw;
}

TEST_F(Plexa, RegistryReplacesInPlaceAndRemoves) {
    EXPECT_EQ(vc_function_add("GENRPROF_SAYERS", (vc_function)make_answer, 504, 3, 0), 1);
    EXPECT_EQ(vc_function_add("KAVEL2PELDA_BDF_WRITE", (vc_function)convert_one, 324, 3, 0), 1);
    EXPECT_EQ(vc_function_add("STATEMAT_WRITE", (vc_function)write_mats, 114, 6, 0), 1);
    plexa_function_info info;
    EXPECT_EQ(plexa_function_at(3, &info), 0);
    EXPECT_EQ(plexa_function_at(-1, &info), 0);
    // A second registration replaces the function in its place.
    EXPECT_EQ(vc_function_add("KAVEL2PELDA_BDF_WRITE", (vc_function)convert_two, 325, 3, 0), 2);
    ASSERT_EQ(plexa_function_at(1, &info), 1);
    EXPECT_EQ(info.code, 325);
    EXPECT_EQ(((plexa_object_files_function)info.function)(nullptr, "ab", "c"), 3);
    EXPECT_EQ(vc_function_remove("KAVEL2PELDA_BDF_WRITE"), 1);
    EXPECT_EQ(vc_function_remove("KAVEL2PELDA_BDF_WRITE"), 0);
    EXPECT_EQ(plexa_function_lookup("KAVEL2PELDA_BDF_WRITE", &info), 0);
    ASSERT_EQ(plexa_function_at(1, &info), 1);
    EXPECT_STREQ(info.name, "STATEMAT_WRITE");
}

TEST_F(Plexa, RegistryRefusesBadRegistrations) {
    std::string too_long(256, 'F');
    EXPECT_EQ(vc_function_add(nullptr, (vc_function)convert_one, 1, 3, 0), 0);
    EXPECT_EQ(vc_function_add("", (vc_function)convert_one, 1, 3, 0), 0);
    EXPECT_EQ(vc_function_add("F", nullptr, 1, 3, 0), 0);
    EXPECT_EQ(vc_function_add("F", (vc_function)convert_one, 1, -1, 0), 0);
    EXPECT_EQ(vc_function_add(too_long.c_str(), (vc_function)convert_one, 1, 3, 0), 0);
    EXPECT_EQ(vc_function_add(too_long.c_str() + 1, (vc_function)convert_one, 1, 3, 0), 1);
    EXPECT_EQ(vc_function_remove(nullptr), 0);
    EXPECT_EQ(plexa_function_count(), 1);
    EXPECT_EQ(plexa_function_lookup(nullptr, nullptr), 0);
}

// ======================================================================
// Model database
// ======================================================================

// A command object of type 64 pointing (attribute 10) at a folder of unit
// objects of type 66, one of them a level further down.
struct Model {
    ac_object command, folder, length, group, nested, other;
    Model() {
        command = plexa_object_create(command_object_type, nullptr);
        folder = plexa_object_create(1, nullptr);
        length = plexa_object_create(unit_object_type, folder);
        group = plexa_object_create(2, folder);
        nested = plexa_object_create(unit_object_type, group);
        other = plexa_object_create(5, folder);
        ac_object force = plexa_object_create(unit_object_type, folder);
        plexa_set_object(command, attr_unit_folder, folder);
        std::vector<double> reals = {1, 2, 3, 4, 1.0, 2.0, 3.0, 4.0, 9.0, 10.0};
        plexa_set_reals(command, attr_command_values, reals.data(), 10);
        plexa_set_int(length, attr_unit_id, 1);
        plexa_set_string(length, attr_unit_label, "mm");
        plexa_set_int(nested, attr_unit_id, 3);
        plexa_set_int(force, attr_unit_id, 2);
        plexa_set_string(force, attr_unit_label, std::string(64, 'N').c_str());
        this->force = force;
    }
    ac_object force;
};

TEST_F(Plexa, DatabaseFailuresLeaveOutputsAlone) {
    Model m;
    int32_t out = -77;
    struct Case {
        ac_object object;
        int32_t attribute, index, result;
    } cases[] = {
        {m.length, 12, 0, AC_MISSING},
        {m.length, attr_unit_label, 0, AC_WRONG_KIND},
        {m.length, 11, 1, AC_BAD_ARGUMENT},
        {nullptr, 11, 0, AC_BAD_ARGUMENT},
        {reinterpret_cast<ac_object>(&out), 11, 0, AC_BAD_ARGUMENT},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ac_get_int(c.object, c.attribute, c.index, &out), c.result) << c.attribute;
        EXPECT_EQ(out, -77);
    }
    EXPECT_EQ(ac_get_int(m.length, 11, 0, nullptr), AC_BAD_ARGUMENT);
    ac_object h = m.other;
    EXPECT_EQ(ac_get_object(m.command, attr_command_values, 0, &h), AC_WRONG_KIND);
    EXPECT_EQ(h, m.other);
    char text[AC_STRING_SIZE] = "keep";
    EXPECT_EQ(ac_get_string(m.command, 518, 0, text), AC_MISSING);
    EXPECT_STREQ(text, "keep");
    // An array handle is no object.
    vc_array a = plexa_array_create(VC_INTEGER, 1);
    EXPECT_EQ(ac_object_type(reinterpret_cast<ac_object>(a)), 0);
    EXPECT_EQ(ac_object_type(nullptr), 0);
    // Nor is an object of a database that was reset.
    plexa_db_reset();
    EXPECT_EQ(ac_object_type(m.command), 0);
}

TEST_F(Plexa, RealsNeverOverrunTheCallersRoom) {
    Model m;
    const double SENTINEL = -1234.5;
    std::vector<double> room(12, SENTINEL);
    int32_t count = 4;
    EXPECT_EQ(ac_get_reals(m.command, 505, &count, room.data()), AC_CUT);
    EXPECT_EQ(count, 10);
    EXPECT_EQ(room[3], 4.0);
    EXPECT_EQ(room[4], SENTINEL);

    count = 11;
    EXPECT_EQ(ac_get_reals(m.command, 505, &count, room.data()), AC_OK);
    EXPECT_EQ(count, 10);
    EXPECT_EQ(room[9], 10.0);
    EXPECT_EQ(room[10], SENTINEL);

    count = 0; // a query only
    EXPECT_EQ(ac_get_reals(m.command, 505, &count, room.data()), AC_OK);
    EXPECT_EQ(count, 10);
    count = 99;
    EXPECT_EQ(ac_get_reals(m.command, 505, &count, nullptr), AC_OK);
    EXPECT_EQ(count, 10);

    count = -1;
    EXPECT_EQ(ac_get_reals(m.command, 505, &count, room.data()), AC_BAD_ARGUMENT);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(ac_get_reals(m.command, 505, nullptr, room.data()), AC_BAD_ARGUMENT);
    count = 5;
    EXPECT_EQ(ac_get_reals(m.command, 10, &count, room.data()), AC_WRONG_KIND);
    EXPECT_EQ(count, 5);

    // An empty real array is there, with no values.
    plexa_set_reals(m.other, 505, nullptr, 0);
    EXPECT_EQ(ac_get_reals(m.other, 505, &count, room.data()), AC_OK);
    EXPECT_EQ(count, 0);
}

TEST_F(Plexa, StringsAreCutToTheBuffer) {
    Model m;
    char room[AC_STRING_SIZE + 8];
    std::memset(room, '#', sizeof room);
    EXPECT_EQ(ac_get_string(m.force, 518, 0, room), AC_CUT); // 64 characters held
    EXPECT_EQ(std::string(room), std::string(63, 'N'));
    EXPECT_EQ(std::string(room + AC_STRING_SIZE, 8), std::string(8, '#'));

    plexa_set_string(m.force, 518, std::string(63, 'n').c_str());
    EXPECT_EQ(ac_get_string(m.force, 518, 0, room), AC_OK);
    EXPECT_EQ(std::string(room), std::string(63, 'n'));
}

TEST_F(Plexa, LookupFindsTypesUnderAHandle) {
    Model m;
    ac_object h = nullptr;
    ac_get_object(m.command, 10, 0, &h);
    ASSERT_EQ(ac_lookup_begin(h, 66), 3);
    // Depth first, each object before its children, children in order.
    EXPECT_EQ(ac_lookup_object(0), m.length);
    EXPECT_EQ(ac_lookup_object(1), m.nested);
    EXPECT_EQ(ac_lookup_object(2), m.force);
    EXPECT_EQ(ac_lookup_object(3), nullptr);
    EXPECT_EQ(ac_lookup_object(-1), nullptr);
    ac_lookup_done();
    EXPECT_EQ(ac_lookup_object(0), nullptr);

    EXPECT_EQ(ac_lookup_begin(m.group, 66), 1);
    EXPECT_EQ(ac_lookup_object(0), m.nested);
    EXPECT_EQ(ac_lookup_begin(m.command, 66), 0); // the folder is referred to, not a child
    EXPECT_EQ(ac_lookup_begin(h, 64), 0);
    EXPECT_EQ(ac_lookup_begin(nullptr, 66), 0);
    EXPECT_EQ(ac_lookup_object(0), nullptr);
    ac_lookup_done();
}

TEST_F(Plexa, SetupRefusesBadObjects) {
    ac_object o = plexa_object_create(64, nullptr);
    EXPECT_EQ(plexa_object_create(0, nullptr), nullptr);
    EXPECT_EQ(plexa_object_create(-3, o), nullptr);
    EXPECT_EQ(plexa_object_create(1, reinterpret_cast<ac_object>(0x1234)), nullptr);
    EXPECT_EQ(plexa_set_object(o, 10, nullptr), 0);
    EXPECT_EQ(plexa_set_int(nullptr, 11, 1), 0);
    EXPECT_EQ(plexa_set_reals(o, 505, nullptr, 3), 0);
    EXPECT_EQ(plexa_set_reals(o, 505, nullptr, -1), 0);
    EXPECT_EQ(plexa_set_string(o, 518, nullptr), 0);
    // Setting an attribute replaces a value of another kind.
    EXPECT_EQ(plexa_set_string(o, 11, "text"), 1);
    EXPECT_EQ(plexa_set_int(o, 11, 5), 1);
    int32_t v = 0;
    EXPECT_EQ(ac_get_int(o, 11, 0, &v), AC_OK);
    EXPECT_EQ(v, 5);
}

// ======================================================================
// Arrays
// ======================================================================

TEST_F(Plexa, ResultArrayAsTheCommandMakesIt) {
    int32_t one = 1;
    vc_array a = vc_array_create(&one, 1, 1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(plexa_array_type(a), VC_REAL);
    EXPECT_EQ(vc_array_set_element_type(a, 2), 1);
    EXPECT_EQ(plexa_array_type(a), VC_INTEGER);
    EXPECT_EQ(vc_array_element_count(a), 1);
    auto *cells = static_cast<int32_t *>(vc_array_elements(a));
    *cells = 1;
    int32_t v = 0;
    EXPECT_EQ(plexa_array_get_int(a, 0, &v), 1);
    EXPECT_EQ(v, 1);
    plexa_array_free(a);
    plexa_array_free(a); // a second free is ignored
    EXPECT_EQ(vc_array_element_count(a), 0);
    EXPECT_EQ(vc_array_elements(a), nullptr);
}

TEST_F(Plexa, CellsAreEightBytes) {
    vc_array ints = plexa_array_create(VC_INTEGER, 2);
    plexa_array_set_int(ints, 0, 7);
    plexa_array_set_int(ints, 1, -3);
    auto *c = static_cast<unsigned char *>(vc_array_elements(ints));
    int32_t second;
    std::memcpy(&second, c + 8, 4);
    EXPECT_EQ(second, -3);
    EXPECT_EQ(std::vector<unsigned char>(c + 4, c + 8), std::vector<unsigned char>(4, 0));

    vc_array reals = plexa_array_create(VC_REAL, 3);
    plexa_array_set_real(reals, 2, 0.125);
    EXPECT_EQ(static_cast<double *>(vc_array_elements(reals))[2], 0.125);

    vc_array texts = plexa_array_create(VC_TEXT, 3);
    plexa_array_set_text(texts, 1, "road.rsp");
    char *p;
    std::memcpy(&p, static_cast<unsigned char *>(vc_array_elements(texts)) + 8, sizeof p);
    EXPECT_STREQ(p, "road.rsp");
    std::memcpy(&p, static_cast<unsigned char *>(vc_array_elements(texts)) + 16, sizeof p);
    EXPECT_STREQ(p, "");

    EXPECT_EQ(plexa_array_set_real(ints, 0, 1.0), 0); // type must match
    EXPECT_EQ(plexa_array_set_int(ints, 2, 1), 0);    // index in range
    EXPECT_EQ(plexa_array_get_text(ints, 0), nullptr);
    EXPECT_EQ(plexa_array_live_count(), 3);
}

// Coerces a one-element array holding a text and returns the result code.
int32_t coerce_text(const char *text, int32_t type, vc_array *out) {
    *out = plexa_array_create(VC_TEXT, 1);
    plexa_array_set_text(*out, 0, text);
    return vc_array_coerce_element_type(*out, type);
}

// The texts of tests/data/cases/plexa_texts.txt as integers and as reals.
TEST_F(Plexa, TextsParseToNumbers) {
    auto result = [](const std::string &want) {
        return want.find("refused") == std::string::npos ? 1 : -1;
    };
    ::testing::internal::CaptureStderr(); // the failures are reported there
    for (const sorvan::test::Case &c : sorvan::test::read_cases("plexa_texts.txt")) {
        SCOPED_TRACE(c.fields[0]);
        ASSERT_EQ(c.fields.size(), 3u);
        vc_array a;
        EXPECT_EQ(coerce_text(c.fields[0].c_str(), VC_INTEGER, &a), result(c.fields[1]));
        EXPECT_EQ(plexa_array_type(a), VC_INTEGER);
        EXPECT_EQ(*static_cast<int32_t *>(vc_array_elements(a)), std::stol(c.fields[1]));
        EXPECT_EQ(coerce_text(c.fields[0].c_str(), VC_REAL, &a), result(c.fields[2]));
        EXPECT_EQ(*static_cast<double *>(vc_array_elements(a)), std::stod(c.fields[2]));
    }
    std::string reported = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(reported.find("Cannot convert array element 1 (\"12abc\") to an integer"),
              std::string::npos);
}

TEST_F(Plexa, NumbersConvertBothWays) {
    std::vector<double> reals = {2.9, -2.9, 1e10, -1e10, NAN, INFINITY, 0.1};
    std::vector<int32_t> ints = {2, -2, INT32_MAX, INT32_MIN, 0, INT32_MAX, 0};
    vc_array a = plexa_array_create(VC_REAL, 7);
    for (int32_t i = 0; i < 7; ++i)
        plexa_array_set_real(a, i, reals[size_t(i)]);
    void *cells = vc_array_elements(a);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(vc_array_coerce_element_type(a, VC_INTEGER), -1); // NaN and beyond the range
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(vc_array_elements(a), cells); // converted in place
    for (int32_t i = 0; i < 7; ++i) {
        int32_t v;
        plexa_array_get_int(a, i, &v);
        EXPECT_EQ(v, ints[size_t(i)]) << i;
    }
    EXPECT_EQ(plexa_error_count(), 1);
    EXPECT_EQ(std::string(plexa_error_last()),
              "Cannot convert array element 3 (1e+10) to an integer (4 element(s) could "
              "not be converted).");

    EXPECT_EQ(vc_array_coerce_element_type(a, VC_TEXT), 1);
    EXPECT_STREQ(plexa_array_get_text(a, 3), "-2147483648");
    EXPECT_EQ(vc_array_coerce_element_type(a, VC_REAL), 1);
    double d;
    plexa_array_get_real(a, 3, &d);
    EXPECT_EQ(d, -2147483648.0);

    // Reals become texts that parse back to the same double.
    vc_array r = plexa_array_create(VC_REAL, 3);
    plexa_array_set_real(r, 0, 0.1 + 0.2);
    plexa_array_set_real(r, 1, 1e22);
    plexa_array_set_real(r, 2, -2.5);
    EXPECT_EQ(vc_array_coerce_element_type(r, VC_TEXT), 1);
    EXPECT_STREQ(plexa_array_get_text(r, 0), "0.30000000000000004");
    EXPECT_STREQ(plexa_array_get_text(r, 1), "1e+22");
    EXPECT_EQ(vc_array_coerce_element_type(r, VC_REAL), 1);
    plexa_array_get_real(r, 0, &d);
    EXPECT_EQ(d, 0.1 + 0.2);

    EXPECT_EQ(vc_array_coerce_element_type(r, 4), 0);
    EXPECT_EQ(vc_array_coerce_element_type(nullptr, VC_REAL), 0);
    EXPECT_EQ(plexa_array_type(r), VC_REAL);
}

TEST_F(Plexa, CreateRefusesBadShapes) {
    int32_t two_three[] = {2, 3}, huge[] = {5000, 5000}, negative[] = {-1}, none[] = {0};
    vc_array a = vc_array_create(two_three, 2, VC_TEXT);
    EXPECT_EQ(vc_array_element_count(a), 6);
    EXPECT_STREQ(plexa_array_get_text(a, 5), "");
    EXPECT_EQ(vc_array_create(nullptr, 1, 1), nullptr);
    EXPECT_EQ(vc_array_create(two_three, 0, 1), nullptr);
    EXPECT_EQ(vc_array_create(two_three, 9, 1), nullptr);
    EXPECT_EQ(vc_array_create(two_three, 1, 0), nullptr);
    EXPECT_EQ(vc_array_create(huge, 2, 1), nullptr);
    EXPECT_EQ(vc_array_create(negative, 1, 1), nullptr);
    vc_array empty = vc_array_create(none, 1, VC_INTEGER);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(vc_array_elements(empty), nullptr);
    EXPECT_EQ(vc_array_coerce_element_type(empty, VC_TEXT), 1);
    EXPECT_EQ(plexa_array_create(VC_REAL, 16777217), nullptr);
    EXPECT_EQ(plexa_array_live_count(), 2);
}

// ======================================================================
// Error channel
// ======================================================================

TEST_F(Plexa, ErrorsReachStderrAndAreKept) {
    const char *fmt = "Error calling C code for road profile. The \"ints\" array must have "
                      "exactly two elements, not %i element(s).";
    ::testing::internal::CaptureStderr();
    vc_error(fmt, 3);
    std::string printed = ::testing::internal::GetCapturedStderr();
    std::string want = "Error calling C code for road profile. The \"ints\" array must have "
                       "exactly two elements, not 3 element(s).";
    EXPECT_EQ(printed, want + "\n");
    EXPECT_EQ(plexa_error_last(), want);
    EXPECT_EQ(plexa_error_count(), 1);

    std::string longer(3000, 'e');
    ::testing::internal::CaptureStderr();
    vc_error("%s", longer.c_str());
    vc_error(nullptr);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(plexa_error_count(), 3);
    EXPECT_STREQ(plexa_error_last(), "");
    EXPECT_EQ(sorvan::test::host_calls(),
              (std::vector<std::string>{"vc_error", "vc_error", "vc_error"}));
    plexa_error_clear();
    EXPECT_EQ(plexa_error_count(), 0);
}

} // namespace
