// The stand-in host's coercion of texts to numbers, as GENRPROF_SAYERS asks
// for it when the host language passes its integers or reals as texts. What
// else the plug-in asks of the stand-in (registration, the model database,
// the result array, the error channel) is checked where it asks it:
// plugin_test, convert_test, road_command_test and the catalogue of bad
// input.
#include "host/plexa_setup.h"
#include "support/cases.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Plexa : public ::testing::Test {
  protected:
    void SetUp() override { plexa_reset(); }
    void TearDown() override { plexa_reset(); }
};

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

} // namespace
