// The built plug-in as the host loads it: initialise and terminate seen
// through the stand-in host's call record and function registry, the
// registered entries called by their host names, the version entries, the
// build banner and the what-strings in the library file.
#include "host/plexa_setup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

void *plugin = nullptr;

// Loads the plug-in once for the whole program. It resolves its host
// imports to the stand-in host this program is linked with, so both see
// the same registry and call record.
class PluginEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        plugin = dlopen(SORVAN_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(plugin, nullptr) << dlerror();
    }
    void TearDown() override {
        if (plugin) dlclose(plugin);
        plugin = nullptr;
    }
};

[[maybe_unused]] const auto *const environment =
    ::testing::AddGlobalTestEnvironment(new PluginEnvironment);

void *entry(const char *name) {
    void *p = plugin ? dlsym(plugin, name) : nullptr;
    EXPECT_NE(p, nullptr) << name;
    return p;
}

template <class F> F function(const char *name) {
    return reinterpret_cast<F>(entry(name));
}

void initialize() {
    if (auto f = function<void (*)()>("sorvan_initialize")) f();
}

void terminate() {
    if (auto f = function<void (*)()>("sorvan_terminate")) f();
}

std::vector<std::string> calls() {
    std::vector<std::string> v;
    for (int32_t i = 0; i < plexa_calls_count(); ++i)
        v.push_back(plexa_calls_get(i));
    return v;
}

// The host function table: name, entry, code, argument words.
struct Row {
    const char *name, *entry;
    int32_t code, words;
};
const Row table[] = {{"GENRPROF_SAYERS", "cmd_to_genrprof_sayers", 504, 3},
                     {"KAVEL2PELDA_BDF_WRITE", "kavel2pelda_full", 324, 3},
                     {"STATEMAT_WRITE", "stmatwri", 114, 6}};

std::vector<std::string> added() {
    std::vector<std::string> v;
    for (const Row &r : table)
        v.push_back("vc_function_add " + std::string(r.name) + " " + std::to_string(r.code) + " " +
                    std::to_string(r.words));
    return v;
}

std::vector<std::string> removed() {
    std::vector<std::string> v;
    for (const Row &r : table)
        v.push_back("vc_function_remove " + std::string(r.name));
    return v;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<std::string> version_register = {"VersionRegister"};

// Every test starts and ends with the plug-in not initialised.
class Lifecycle : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(plugin, nullptr);
        plexa_reset();
    }
    void TearDown() override {
        terminate();
        plexa_reset();
    }
};

// ======================================================================
// Registration
// ======================================================================

TEST_F(Lifecycle, TerminateWhileNotInitialisedCallsNothing) {
    terminate();
    terminate();
    EXPECT_EQ(plexa_calls_count(), 0);
    EXPECT_EQ(plexa_function_count(), 0);
}

TEST_F(Lifecycle, SecondInitialiseRegistersNothing) {
    initialize();
    initialize();
    EXPECT_EQ(calls(), version_register + added());
    ASSERT_EQ(plexa_function_count(), 3);
    for (int32_t i = 0; i < 3; ++i) {
        plexa_function_info info{};
        ASSERT_EQ(plexa_function_at(i, &info), 1);
        EXPECT_STREQ(info.name, table[i].name);
        EXPECT_EQ(reinterpret_cast<void *>(info.function), entry(table[i].entry)) << info.name;
        EXPECT_EQ(info.code, table[i].code) << info.name;
        EXPECT_EQ(info.argument_words, table[i].words) << info.name;
    }
}

TEST_F(Lifecycle, TerminateRemovesAndInitialiseRegistersAgain) {
    initialize();
    terminate();
    EXPECT_EQ(plexa_function_count(), 0);
    terminate();
    initialize();
    EXPECT_EQ(calls(), version_register + added() + version_register + removed() +
                           version_register + added());
    EXPECT_EQ(plexa_function_count(), 3);
    plexa_calls_clear();
    terminate();
    EXPECT_EQ(calls(), version_register + removed());
}

// The host calls each function through the signature it was registered
// for; each reaches its entry and answers a bad call as that entry does.
TEST_F(Lifecycle, RegisteredFunctionsAnswerByTheirHostNames) {
    initialize();
    plexa_function_info info{};

    ASSERT_EQ(plexa_function_lookup("STATEMAT_WRITE", &info), 1);
    ac_object empty = plexa_object_create(1, nullptr);
    EXPECT_EQ(
        reinterpret_cast<plexa_object_file_reals_function>(info.function)(empty, "x", 1.0, 1.0),
        -1.0);

    ASSERT_EQ(plexa_function_lookup("KAVEL2PELDA_BDF_WRITE", &info), 1);
    EXPECT_EQ(reinterpret_cast<plexa_object_files_function>(info.function)(empty, "x.map", "x_"),
              -7);

    ASSERT_EQ(plexa_function_lookup("GENRPROF_SAYERS", &info), 1);
    vc_array ints = plexa_array_create(VC_INTEGER, 0);
    vc_array reals = plexa_array_create(VC_REAL, 6);
    vc_array strings = plexa_array_create(VC_TEXT, 3);
    testing::internal::CaptureStderr();
    vc_array result = reinterpret_cast<plexa_arrays_function>(info.function)(ints, reals, strings);
    testing::internal::GetCapturedStderr();
    int32_t status = -1;
    EXPECT_EQ(plexa_array_get_int(result, 0, &status), 1);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(plexa_error_count(), 1);
    for (vc_array a : {result, ints, reals, strings})
        plexa_array_free(a);
    EXPECT_EQ(plexa_array_live_count(), 0);
}

// ======================================================================
// Versions
// ======================================================================

TEST_F(Lifecycle, VersionEntries) {
    EXPECT_EQ(function<int32_t (*)()>("sorvan_MajorVersion")(), 2006);
    EXPECT_EQ(function<int32_t (*)()>("sorvan_MinorVersion")(), 0);
    EXPECT_EQ(function<int32_t (*)()>("sorvan_PatchVersion")(), 0);
    EXPECT_EQ(entry("sorvan_PatchVersion"), entry("sorvan_MinorVersion"));
    EXPECT_EQ(function<double (*)()>("sorvan_RVersion")(), 2006.0);
    EXPECT_EQ(plexa_calls_count(), 0);

    auto sb = function<const char *(*)()>("sorvan_SbVersion");
    auto sf = function<const char *(*)()>("sorvan_SfVersion");
    const char *b = sb(), *f = sf();
    EXPECT_STREQ(b, "2006.0.0");
    EXPECT_STREQ(f, "2006.0.0");
    EXPECT_NE(b, f);
    // Each call rewrites its own buffer, and only that one.
    const_cast<char *>(b)[0] = 'X';
    const_cast<char *>(f)[0] = 'Y';
    EXPECT_EQ(sb(), b);
    EXPECT_STREQ(b, "2006.0.0");
    EXPECT_STREQ(f, "Y006.0.0");
    EXPECT_EQ(sf(), f);
    EXPECT_STREQ(f, "2006.0.0");
}

TEST_F(Lifecycle, VersionRegisterEntries) {
    EXPECT_EQ(function<int32_t (*)()>("sorvan_version_register")(), 0);
    EXPECT_EQ(function<int32_t (*)()>("sorvan_version_unregister")(), 0);
    EXPECT_EQ(calls(), version_register + version_register);
    EXPECT_EQ(plexa_function_count(), 0);
}

// ======================================================================
// Banner and what-strings
// ======================================================================

const char *const prefix = "%sorvan_view-i-sorvan_view, ";

// The banner texts whose wording is fixed; the compiler lines (4 to 6)
// are only known by their form.
const char *const fixed_texts[8] = {"ZUMEX Utility  lib: sorvan_view",
                                    "ZUMEX Release  ver: (2005.2.0)",
                                    "ZUMEX Compile   os: Windows_NT 5",
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    "ZUMEX Compile date: 2005-07-11 23:46:29",
                                    "ZUMEX Compile  ver: 20050711.2346"};

// The eight banner texts as the banner entry prints them, or none when
// the output does not have the banner's shape.
std::vector<std::string> banner_texts(double *value) {
    testing::internal::CaptureStdout();
    *value = function<double (*)()>("sorvan_view_version")();
    std::string out = testing::internal::GetCapturedStdout();
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t at; (at = out.find('\n', start)) != std::string::npos; start = at + 1)
        pieces.push_back(out.substr(start, at - start));
    pieces.push_back(out.substr(start));
    // "\n", then "\n" + prefix + text eight times, then "\n".
    EXPECT_EQ(pieces.size(), 11u) << out;
    if (pieces.size() != 11u || !pieces[0].empty() || !pieces[1].empty() || !pieces[10].empty())
        return {};
    std::vector<std::string> texts;
    for (size_t i = 2; i < 10; ++i) {
        EXPECT_EQ(pieces[i].rfind(prefix, 0), 0u) << pieces[i];
        texts.push_back(pieces[i].substr(std::strlen(prefix)));
    }
    return texts;
}

// "ZUMEX ", a 12-character key, ": ", a value.
void expect_key_form(const std::string &text) {
    ASSERT_GT(text.size(), 20u) << text;
    EXPECT_EQ(text.substr(0, 6), "ZUMEX ") << text;
    EXPECT_EQ(text.substr(6, 12).find(':'), std::string::npos) << text;
    EXPECT_NE(text[6], ' ') << text;
    EXPECT_EQ(text.substr(18, 2), ": ") << text;
}

TEST_F(Lifecycle, BannerPrintsTheEightTexts) {
    double value = 0;
    std::vector<std::string> texts = banner_texts(&value);
    EXPECT_EQ(value, 20050711.2346);
    ASSERT_EQ(texts.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        expect_key_form(texts[i]);
        if (fixed_texts[i]) {
            EXPECT_EQ(texts[i], fixed_texts[i]);
        }
    }
    for (size_t i = 3; i < 6; ++i) {
        EXPECT_EQ(texts[i].substr(0, 13), "ZUMEX Compile") << texts[i];
        EXPECT_EQ(texts[i].substr(20, 1), "(") << texts[i];
        EXPECT_EQ(texts[i].back(), ')') << texts[i];
    }
    EXPECT_NE(texts[5].find("-I"), std::string::npos) << "no include paths: " << texts[5];
    EXPECT_EQ(plexa_calls_count(), 0);
}

// A file-inspection tool finds the same eight texts, each behind the
// marker, in the library file itself.
TEST_F(Lifecycle, WhatStringsAreInTheLibraryFile) {
    double value = 0;
    std::vector<std::string> texts = banner_texts(&value);
    ASSERT_EQ(texts.size(), 8u);
    std::ifstream in(SORVAN_PLUGIN_FILE, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(bytes.empty());
    std::set<std::string> found;
    for (size_t at = 0; (at = bytes.find("@(#)", at)) != std::string::npos; at += 4) {
        size_t end = bytes.find('\0', at);
        if (end != std::string::npos) found.insert(bytes.substr(at + 4, end - at - 4));
    }
    EXPECT_EQ(found, std::set<std::string>(texts.begin(), texts.end()));
}

} // namespace
