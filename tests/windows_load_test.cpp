// The plug-in DLL as the host uses it. The DLL is loaded at run time from
// beside this program with LoadLibrary, every name of the export list is
// resolved with GetProcAddress, and the plug-in is initialised and
// terminated through the stand-in host, the same plexa.dll that this
// program links and the plug-in imports. One conversion and one road
// profile run through the host functions it registered and must write the
// expected files of the other builds. The version resource is read back
// with the Windows version API.
#include "host/plexa_setup.h"
#include "sorvan_view.h"
#include "support/files.h"
#include "support/golden.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

extern "C" int header_c_layout_ok(void);

namespace fs = std::filesystem;

namespace {

// This program's folder, with its trailing separator.
std::string program_folder() {
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string path(buf, n < sizeof buf ? n : 0);
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// The plug-in, loaded once for every test, and what the host library was
// asked to do while it loaded.
struct Plugin {
    std::string path = program_folder() + "sorvan_view.dll";
    HMODULE module = nullptr;
    DWORD error = 0;
    int32_t calls_during_load = -1;

    Plugin() {
        plexa_reset();
        module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        error = module ? 0 : GetLastError();
        calls_during_load = plexa_calls_count();
    }
    ~Plugin() {
        if (module) FreeLibrary(module);
    }

    template <class T> T get(const char *name) const {
        return reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    }
};

const Plugin &plugin() {
    static Plugin p;
    return p;
}

std::vector<std::string> export_list() {
    std::ifstream in(SORVAN_EXPORT_LIST);
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') names.push_back(line);
    }
    return names;
}

class WindowsPlugin : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(plugin().module, nullptr)
            << "cannot load " << plugin().path << " (error " << plugin().error << ")";
    }
};

TEST_F(WindowsPlugin, LoadingDoesNoWorkOfItsOwn) {
    EXPECT_EQ(plugin().calls_during_load, 0);
    EXPECT_EQ(plexa_function_count(), 0);
}

TEST_F(WindowsPlugin, EveryListedNameResolves) {
    auto names = export_list();
    EXPECT_EQ(names.size(), 52u); // the 49 of the host interface, bdf_out, bdf_name, lrg_fld
    for (const auto &name : names)
        EXPECT_NE(GetProcAddress(plugin().module, name.c_str()), nullptr) << name;
    // Names the export list does not hold stay inside.
    for (const char *name : {"DllMain", "_DllMain@12", "BDFreal8", "BDFreport", "MAPread_sizes"})
        EXPECT_EQ(GetProcAddress(plugin().module, name), nullptr) << name;
}

TEST_F(WindowsPlugin, VersionEntries) {
    using int_entry = decltype(&sorvan_MajorVersion);
    using text_entry = decltype(&sorvan_SbVersion);
    using real_entry = decltype(&sorvan_RVersion);
    auto minor = plugin().get<int_entry>("sorvan_MinorVersion");
    auto patch = plugin().get<int_entry>("sorvan_PatchVersion");
    ASSERT_TRUE(minor && patch);
    EXPECT_EQ(patch, minor) << "the patch level is the minor version's entry";
    EXPECT_EQ(patch(), 0);
    EXPECT_EQ(plugin().get<int_entry>("sorvan_MajorVersion")(), 2006);
    EXPECT_STREQ(plugin().get<text_entry>("sorvan_SbVersion")(), "2006.0.0");
    EXPECT_STREQ(plugin().get<text_entry>("sorvan_SfVersion")(), "2006.0.0");
    EXPECT_EQ(plugin().get<real_entry>("sorvan_RVersion")(), 2006.0);

    testing::internal::CaptureStdout();
    double build = plugin().get<real_entry>("sorvan_view_version")();
    std::string banner = testing::internal::GetCapturedStdout();
    EXPECT_EQ(build, 20050711.2346);
    banner.erase(std::remove(banner.begin(), banner.end(), '\r'), banner.end());
    EXPECT_EQ(banner.rfind("\n\n%sorvan_view-i-sorvan_view, ZUMEX Utility  lib: sorvan_view\n", 0),
              0u)
        << banner;
    EXPECT_NE(banner.find("\n%sorvan_view-i-sorvan_view, ZUMEX Compile  ver: 20050711.2346\n"),
              std::string::npos)
        << banner;
    EXPECT_EQ(std::count(banner.begin(), banner.end(), '\n'), 10);
}

TEST_F(WindowsPlugin, ParametersHoldTheirDefaultsAtLoad) {
    EXPECT_EQ(*plugin().get<int32_t *>("tf_id"), 1);
    EXPECT_EQ(*plugin().get<int32_t *>("whl_dv"), 24);
    EXPECT_EQ(*plugin().get<int32_t *>("lrg_fld"), 0);
    EXPECT_EQ(*plugin().get<double *>("thresh"), 1e-9);
    EXPECT_EQ(*plugin().get<double *>("v_stif"), 1e9);
    EXPECT_EQ(*plugin().get<double *>("v_damp"), 1e6);
    EXPECT_EQ(*plugin().get<double *>("v_tstf"), 1e6);
    EXPECT_EQ(*plugin().get<double *>("v_tdmp"), 1e4);
    EXPECT_STREQ(plugin().get<char *>("lu_lab"), "METER");
    EXPECT_STREQ(plugin().get<char *>("fu_lab"), "NEWTON");
    EXPECT_STREQ(plugin().get<char *>("mu_lab"), "KILOGRAM");
    EXPECT_STREQ(plugin().get<char *>("tu_lab"), "SECOND");
}

TEST_F(WindowsPlugin, HeaderCompilesAsCWithTheSameLayout) {
    EXPECT_EQ(header_c_layout_ok(), 1);
}

// The file version and the texts of the resource, through the version API.
TEST_F(WindowsPlugin, VersionResource) {
    const char *file = plugin().path.c_str();
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(file, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(file, 0, size, info.data()));

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
    ASSERT_GE(length, sizeof *fixed);
    EXPECT_EQ(fixed->dwFileVersionMS, (2005u << 16) | 2u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);

    const char *const texts[][2] = {{"FileVersion", "2005.2.0"},
                                    {"ProductVersion", "2005.2.0"},
                                    {"InternalName", "sorvan_view.dll"},
                                    {"FileDescription", "Built on 2005-07-11 23:46:29"}};
    for (const auto &kv : texts) {
        std::string key = std::string("\\StringFileInfo\\040904B0\\") + kv[0];
        char *value = nullptr;
        ASSERT_TRUE(
            VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void **>(&value), &length))
            << kv[0];
        EXPECT_STREQ(value, kv[1]) << kv[0];
    }
}

// ======================================================================
// Through the stand-in host
// ======================================================================

class WindowsHost : public WindowsPlugin {
  protected:
    void SetUp() override {
        WindowsPlugin::SetUp();
        plexa_reset();
        initialize = plugin().get<void (*)()>("sorvan_initialize");
        terminate = plugin().get<void (*)()>("sorvan_terminate");
        ASSERT_TRUE(initialize && terminate);
        previous = fs::current_path();
        fs::current_path(dir);
    }
    void TearDown() override {
        if (terminate) terminate();
        plexa_reset();
        fs::current_path(previous);
        if (HasFailure()) scratch.keep();
    }

    // The registered host function of that name, checked against the export.
    template <class T> T registered(const char *name, const char *entry) {
        plexa_function_info info{};
        if (!plexa_function_lookup(name, &info)) return nullptr;
        EXPECT_EQ(reinterpret_cast<void *>(info.function),
                  reinterpret_cast<void *>(GetProcAddress(plugin().module, entry)))
            << name;
        return reinterpret_cast<T>(info.function);
    }

    std::vector<std::string> calls() const {
        std::vector<std::string> v;
        for (int32_t i = 0; i < plexa_calls_count(); ++i)
            v.emplace_back(plexa_calls_get(i));
        return v;
    }

    void (*initialize)() = nullptr;
    void (*terminate)() = nullptr;
    sorvan::test::ScratchDir scratch{"windows_load"};
    const fs::path &dir = scratch.path();
    fs::path previous;
};

TEST_F(WindowsHost, InitialiseAndTerminate) {
    initialize();
    initialize();
    const std::vector<std::string> registered_calls = {
        "VersionRegister", "vc_function_add GENRPROF_SAYERS 504 3",
        "vc_function_add KAVEL2PELDA_BDF_WRITE 324 3", "vc_function_add STATEMAT_WRITE 114 6"};
    EXPECT_EQ(calls(), registered_calls);
    EXPECT_EQ(plexa_function_count(), 3);
    EXPECT_TRUE(registered<void *>("GENRPROF_SAYERS", "cmd_to_genrprof_sayers"));
    EXPECT_TRUE(registered<void *>("KAVEL2PELDA_BDF_WRITE", "kavel2pelda_full"));
    EXPECT_TRUE(registered<void *>("STATEMAT_WRITE", "stmatwri"));

    plexa_calls_clear();
    terminate();
    terminate();
    EXPECT_EQ(plexa_function_count(), 0);
    const std::vector<std::string> removed_calls = {
        "VersionRegister", "vc_function_remove GENRPROF_SAYERS",
        "vc_function_remove KAVEL2PELDA_BDF_WRITE", "vc_function_remove STATEMAT_WRITE"};
    EXPECT_EQ(calls(), removed_calls);
}

// The bundled example through KAVEL2PELDA_BDF_WRITE: the same bulk data as
// the statically linked library writes on every build.
TEST_F(WindowsHost, ConversionWritesTheExpectedFile) {
    initialize();
    auto convert =
        registered<plexa_object_files_function>("KAVEL2PELDA_BDF_WRITE", "kavel2pelda_full");
    ASSERT_NE(convert, nullptr);
    sorvan::test::copy_model(sorvan::test::example_folder, "vehicle.map", "vehicle_", dir.string());
    ac_object command = sorvan::test::example_command();
    testing::internal::CaptureStdout();
    int32_t rc = convert(command, "vehicle.map", "vehicle_");
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(rc, 1) << out;
    EXPECT_EQ(sorvan::test::differs_from_golden_text((dir / "vehicle.bdf").string(), "vehicle.bdf"),
              "");
    // Text files get the platform's line ends.
    std::string bytes = sorvan::test::read_bytes(dir / "vehicle.bdf");
    EXPECT_NE(bytes.find("\r\n"), std::string::npos);
}

// A road profile through GENRPROF_SAYERS with host-language arrays: the
// same RPC III bytes as every other build.
TEST_F(WindowsHost, RoadProfileWritesTheExpectedFile) {
    initialize();
    auto road_command =
        registered<plexa_arrays_function>("GENRPROF_SAYERS", "cmd_to_genrprof_sayers");
    ASSERT_NE(road_command, nullptr);
    const sorvan::test::RoadCase road;
    plexa_rpc_set_date(road.date);
    vc_array ints = plexa_array_create(VC_INTEGER, 2);
    vc_array reals = plexa_array_create(VC_REAL, 6);
    vc_array strings = plexa_array_create(VC_TEXT, 3);
    plexa_array_set_int(ints, 0, road.nprofs);
    plexa_array_set_int(ints, 1, road.seed);
    const double values[] = {road.ga,          road.ge,     road.gs,
                             road.corr_length, road.length, road.interval};
    for (int32_t i = 0; i < 6; ++i)
        plexa_array_set_real(reals, i, values[i]);
    plexa_array_set_text(strings, 0, "road.rsp");
    plexa_array_set_text(strings, 1, road.label1);
    plexa_array_set_text(strings, 2, road.label2);

    testing::internal::CaptureStdout();
    vc_array result = road_command(ints, reals, strings);
    std::string out = testing::internal::GetCapturedStdout();
    int32_t status = -1;
    ASSERT_TRUE(plexa_array_get_int(result, 0, &status));
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(sorvan::test::differs_from_golden_bytes((dir / "road.rsp").string(), "road.rsp"), "");
    for (vc_array a : {ints, reals, strings, result})
        plexa_array_free(a);
}

} // namespace
