// The built plug-in as the host loads it, on Linux and on Windows alike:
// loaded at run time (dlopen, or LoadLibrary from beside this program), its
// export list resolved, initialised and terminated through the stand-in
// host that this program links and the plug-in imports (one registry and
// one call record for both), the version entries and the banner. The
// output files that every build writes the same go through the host
// functions it registered and are compared with tests/data/golden: the
// bulk data of the bundled example and of the test truck, a reduced ABC
// set and an RPC III road profile. Text files are compared line ends
// aside (CR LF on Windows), the road profile byte for byte. What the
// expected files hold is read back on its own terms where each output is
// tested: the decks by deck_test, the reduced sets by statemat_test, the
// road profiles by road_command_test. The DLLs as files (export tables,
// imports, version resource) are read by windows_artifact_test.cmake.
#include "support/host_fixture.h"

#include "sorvan_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

extern "C" int header_c_layout_ok(void);

namespace {

// ======================================================================
// The plug-in, loaded once for the whole program
// ======================================================================

struct LoadedPlugin {
#ifdef _WIN32
    HMODULE module = nullptr;
#else
    void *module = nullptr;
#endif
    std::string path, error;
    int32_t calls_during_load = -1; // what the host was asked to do meanwhile

    LoadedPlugin() {
        plexa_reset();
#ifdef _WIN32
        char buf[MAX_PATH];
        const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
        path = std::string(buf, n < sizeof buf ? n : 0);
        path = path.substr(0, path.find_last_of("\\/") + 1) + "sorvan_view.dll";
        module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!module) error = "error " + std::to_string(GetLastError());
#else
        path = SORVAN_PLUGIN_FILE;
        module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) error = dlerror();
#endif
        calls_during_load = plexa_calls_count();
    }
    ~LoadedPlugin() {
#ifdef _WIN32
        if (module) FreeLibrary(module);
#else
        if (module) dlclose(module);
#endif
    }

    void *symbol(const char *name) const {
#ifdef _WIN32
        return module ? reinterpret_cast<void *>(GetProcAddress(module, name)) : nullptr;
#else
        return module ? dlsym(module, name) : nullptr;
#endif
    }
};

const LoadedPlugin &plugin() {
    static const LoadedPlugin p;
    return p;
}

// An exported entry or variable; a missing one fails the test.
template <class T> T get(const char *name) {
    void *p = plugin().symbol(name);
    EXPECT_NE(p, nullptr) << name;
    return reinterpret_cast<T>(p);
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

// The plug-in's own parameters (the host command sets some of them), put
// back after each test.
const struct {
    const char *name;
    size_t size;
} parameters[] = {{"tf_id", 4},   {"whl_dv", 4},  {"lrg_fld", 4},   {"thresh", 8},  {"v_stif", 8},
                  {"v_damp", 8},  {"v_tstf", 8},  {"v_tdmp", 8},    {"lu_lab", 64}, {"fu_lab", 64},
                  {"mu_lab", 64}, {"tu_lab", 64}, {"bdf_out", 4096}};

// Every test starts and ends with the plug-in not initialised, in a
// scratch folder of its own.
class Plugin : public sorvan::test::HostFolder {
  protected:
    Plugin() : HostFolder("plugin") {}
    void SetUp() override {
        ASSERT_NE(plugin().module, nullptr)
            << "cannot load " << plugin().path << ": " << plugin().error;
        for (const auto &p : parameters) {
            const char *bytes = get<const char *>(p.name);
            saved.emplace_back(bytes, bytes + p.size);
        }
        HostFolder::SetUp();
    }
    void TearDown() override {
        terminate();
        for (size_t k = 0; k < saved.size(); ++k)
            std::memcpy(get<char *>(parameters[k].name), saved[k].data(), saved[k].size());
        HostFolder::TearDown();
    }
    std::vector<std::string> saved;
    static void initialize() { get<void (*)()>("sorvan_initialize")(); }
    static void terminate() { get<void (*)()>("sorvan_terminate")(); }

    // The host function of that name as the plug-in registered it; it must
    // be the exported entry of that name.
    template <class F> static F registered(const char *name, const char *entry) {
        plexa_function_info info{};
        if (!plexa_function_lookup(name, &info)) return nullptr;
        EXPECT_EQ(reinterpret_cast<void *>(info.function), plugin().symbol(entry)) << name;
        return reinterpret_cast<F>(info.function);
    }
};

// The host function table: name, entry, code, argument words.
struct HostFunction {
    const char *name, *entry;
    int32_t code, words;
};
const HostFunction table[] = {{"GENRPROF_SAYERS", "cmd_to_genrprof_sayers", 504, 3},
                              {"KAVEL2PELDA_BDF_WRITE", "kavel2pelda_full", 324, 3},
                              {"STATEMAT_WRITE", "stmatwri", 114, 6}};

// The calls of one registration or removal of the whole table.
std::vector<std::string> table_calls(const char *verb, bool with_codes) {
    std::vector<std::string> v = {"VersionRegister"};
    for (const HostFunction &f : table)
        v.push_back(
            std::string(verb) + " " + f.name +
            (with_codes ? " " + std::to_string(f.code) + " " + std::to_string(f.words) : ""));
    return v;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ======================================================================
// The export surface
// ======================================================================

// Every name of the export list resolves; nothing else leaves the library
// (on Windows windows_artifact_test.cmake reads the export table itself).
TEST_F(Plugin, ExportsTheListAndNothingElse) {
    const std::vector<std::string> names = export_list();
    EXPECT_EQ(names.size(), 52u); // the 49 of the host interface, bdf_out, bdf_name, lrg_fld
    for (const std::string &name : names)
        EXPECT_NE(plugin().symbol(name.c_str()), nullptr) << name;
#ifndef _WIN32
    std::set<std::string> defined;
    FILE *p = popen(("nm -D --defined-only " + plugin().path).c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[1024], addr[64], type[8], name[900];
    while (std::fgets(line, sizeof line, p))
        if (std::sscanf(line, "%63s %7s %899s", addr, type, name) == 3) defined.insert(name);
    pclose(p);
    EXPECT_EQ(defined, std::set<std::string>(names.begin(), names.end()));
#endif
}

TEST_F(Plugin, HeaderCompilesAsCWithTheSameLayout) {
    EXPECT_EQ(header_c_layout_ok(), 1);
}

// ======================================================================
// Lifecycle
// ======================================================================

TEST_F(Plugin, InitialiseRegistersOnceAndTerminateRemovesOnce) {
    EXPECT_EQ(plugin().calls_during_load, 0); // loading does no work of its own
    terminate();                              // while not initialised: nothing
    EXPECT_EQ(plexa_calls_count(), 0);
    initialize();
    initialize();
    EXPECT_EQ(sorvan::test::host_calls(), table_calls("vc_function_add", true));
    ASSERT_EQ(plexa_function_count(), 3);
    for (int32_t i = 0; i < 3; ++i) {
        plexa_function_info info{};
        ASSERT_EQ(plexa_function_at(i, &info), 1);
        EXPECT_STREQ(info.name, table[i].name);
        EXPECT_EQ(reinterpret_cast<void *>(info.function), plugin().symbol(table[i].entry));
        EXPECT_EQ(info.code, table[i].code) << info.name;
        EXPECT_EQ(info.argument_words, table[i].words) << info.name;
    }
    plexa_calls_clear();
    terminate();
    terminate();
    EXPECT_EQ(plexa_function_count(), 0);
    initialize();
    EXPECT_EQ(sorvan::test::host_calls(),
              table_calls("vc_function_remove", false) + table_calls("vc_function_add", true));
    EXPECT_EQ(plexa_function_count(), 3);
}

// ======================================================================
// Versions and banner
// ======================================================================

TEST_F(Plugin, VersionEntries) {
    EXPECT_EQ(get<int32_t (*)()>("sorvan_MajorVersion")(), 2006);
    EXPECT_EQ(get<int32_t (*)()>("sorvan_MinorVersion")(), 0);
    EXPECT_EQ(get<int32_t (*)()>("sorvan_PatchVersion")(), 0);
    EXPECT_EQ(get<double (*)()>("sorvan_RVersion")(), 2006.0);
    EXPECT_STREQ(get<const char *(*)()>("sorvan_SbVersion")(), "2006.0.0");
    EXPECT_STREQ(get<const char *(*)()>("sorvan_SfVersion")(), "2006.0.0");
    EXPECT_EQ(plexa_calls_count(), 0);
}

// "\n", then "\n%sorvan_view-i-sorvan_view, " and a text eight times, then
// "\n"; each text "ZUMEX ", a 12-character key, ": ", a value. The compiler
// lines (4 to 6) are known by their form only. The library file holds the
// same eight texts behind the what-string marker.
TEST_F(Plugin, BannerPrintsTheEightTexts) {
    double value = 0.0;
    std::string out =
        sorvan::test::printed([&] { value = get<double (*)()>("sorvan_view_version")(); });
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    EXPECT_EQ(value, 20050711.2346);
    const std::string prefix = "\n%sorvan_view-i-sorvan_view, ";
    ASSERT_EQ(out.substr(0, 1), "\n");
    ASSERT_EQ(out.back(), '\n');
    std::vector<std::string> texts;
    for (size_t at = 1; at + 1 < out.size();) {
        ASSERT_EQ(out.compare(at, prefix.size(), prefix), 0) << out;
        const size_t end = out.find('\n', at + prefix.size());
        texts.push_back(out.substr(at + prefix.size(), end - at - prefix.size()));
        at = end;
    }
    const char *const fixed[8] = {"ZUMEX Utility  lib: sorvan_view",
                                  "ZUMEX Release  ver: (2005.2.0)",
                                  "ZUMEX Compile   os: Windows_NT 5",
                                  nullptr,
                                  nullptr,
                                  nullptr,
                                  "ZUMEX Compile date: 2005-07-11 23:46:29",
                                  "ZUMEX Compile  ver: 20050711.2346"};
    ASSERT_EQ(texts.size(), 8u) << out;
    for (size_t i = 0; i < 8; ++i) {
        if (fixed[i]) {
            EXPECT_EQ(texts[i], fixed[i]);
            continue;
        }
        EXPECT_EQ(texts[i].substr(0, 13), "ZUMEX Compile") << texts[i];
        EXPECT_EQ(texts[i].substr(18, 3), ": (") << texts[i];
        EXPECT_EQ(texts[i].back(), ')') << texts[i];
    }
    EXPECT_NE(texts[5].find("-I"), std::string::npos) << "no include paths: " << texts[5];
    EXPECT_EQ(plexa_calls_count(), 0);
    const std::string bytes = sorvan::test::read_bytes(plugin().path);
    std::set<std::string> found;
    for (size_t at = 0; (at = bytes.find("@(#)", at)) != std::string::npos; at += 4)
        found.insert(bytes.substr(at + 4, bytes.find('\0', at) - at - 4));
    EXPECT_EQ(found, std::set<std::string>(texts.begin(), texts.end()));
}

// ======================================================================
// The expected output files, through the registered host functions
// ======================================================================

using Golden = Plugin;

// "" when the file equals its expected file of tests/data/golden (a text
// file read as text: line ends aside); otherwise which files differ (a
// failing test keeps its scratch folder, for a diff of the two).
std::string differs_from_golden(const std::string &name, bool text = true) {
    const std::string path = SORVAN_TEST_DATA "/golden/" + name;
    auto read = text ? sorvan::test::read_text : sorvan::test::read_bytes;
    const std::string want = read(path);
    if (want.empty()) return "no expected file " + path;
    return read(name) == want ? "" : name + " differs from " + path;
}

// The example model through KAVEL2PELDA_BDF_WRITE: export units mm, N,
// megagram and s from the unit objects; the connecting values stiffness
// N/mm, damping N*s/mm, torsional stiffness N*mm/rad and torsional damping
// N*mm*s/rad in the MAP file's own units; external inputs included.
TEST_F(Golden, ExampleThroughTheHostCommand) {
    initialize();
    auto convert =
        registered<plexa_object_files_function>("KAVEL2PELDA_BDF_WRITE", "kavel2pelda_full");
    ASSERT_NE(convert, nullptr);
    copy_model(SORVAN_EXAMPLES "/vehicle", "vehicle.map", "vehicle_");
    const char *labels[] = {"mm", "N", "mgg", "s"};
    const double values[] = {1, 2, 3, 4, 2.5e5, 1.2e3, 7.5e8, 3.3e6};
    ac_object command = sorvan::test::command_object(labels, values, 8);
    int32_t rc = 0;
    const std::string out =
        sorvan::test::printed([&] { rc = convert(command, "vehicle.map", "vehicle_"); });
    ASSERT_EQ(rc, 1) << out;
    EXPECT_EQ(differs_from_golden("vehicle.bdf"), "");
#ifdef _WIN32
    EXPECT_NE(sorvan::test::read_bytes("vehicle.bdf").find("\r\n"), std::string::npos)
        << "a text file gets the platform's line ends";
#endif
}
// The test truck through the exported plain converter, in export units
// whose factors are not powers of ten and a time unit of milliseconds,
// with the parameters as the plug-in was loaded: the deck shows their
// defaults (set identifier, threshold, connecting values, wheel divisions
// and labels in its header, small fields, the BDF name from the MAP
// file's).
TEST_F(Golden, TruckThroughThePlainConverter) {
    copy_truck();
    char lu[64] = "in", fu[64] = "lbf", mu[64] = "slug";
    auto convert = get<decltype(&kavel2pelda)>("kavel2pelda");
    int32_t rc = 0;
    const std::string out =
        sorvan::test::printed([&] { rc = convert("truck.map", "truck_", lu, fu, mu, '0'); });
    ASSERT_EQ(rc, 1) << out;
    EXPECT_STREQ(lu, "INCH");
    EXPECT_EQ(differs_from_golden("truck.bdf"), "");
}

// Six states in modal form: a block at 6.02 rad/s, one at 80.02 rad/s, a
// real state at -3 and one at -400. A limit of 10 Hz (62.83 rad/s) with the
// real states switched on keeps states 0, 1 and 4; the values span the
// doubles' range, so that the fields' exponents of three digits show.
TEST_F(Golden, ReducedStateMatrices) {
    constexpr int32_t n = 6, inputs = 2, outputs = 3;
    const double a[n * n] = {
        -0.5, 6.0,  0.0,   0.0,  0.0,  0.0,    // block 0-1
        -6.0, -0.5, 0.0,   0.0,  0.0,  0.0,    //
        0.0,  0.0,  -2.0,  80.0, 0.0,  0.0,    // block 2-3, above the limit
        0.0,  0.0,  -80.0, -2.0, 0.0,  0.0,    //
        0.0,  0.0,  0.0,   0.0,  -3.0, 0.0,    // real, kept
        0.0,  0.0,  0.0,   0.0,  0.0,  -400.0, // real, above the limit
    };
    const double b[n * inputs] = {1.0 / 3.0, -2.5e-7, 1e12, 0.1,  -7.0, 0.0,
                                  6.02e23,   1e-300,  -0.0, 12.5, 1.0,  -1.0};
    const double c[outputs * n] = {1.0,  0.0, 2.0 / 7.0, 0.0, 5e-5, 0.0,     //
                                   -1.0, 3.0, 0.0,       0.0, 0.0,  9.99e22, //
                                   0.5,  0.0, 0.0,       4.0, 1e15, 0.0};
    const double d[outputs * inputs] = {0.0, 1e-9, -123456.789, 0.0, 0.0, 2.0};
    initialize();
    auto write = registered<plexa_object_file_reals_function>("STATEMAT_WRITE", "stmatwri");
    ASSERT_NE(write, nullptr);
    ac_object model = plexa_object_create(1, nullptr);
    sorvan::test::set_state_matrix(model, 0, n, n, a);
    sorvan::test::set_state_matrix(model, 1, n, inputs, b);
    sorvan::test::set_state_matrix(model, 2, outputs, n, c);
    sorvan::test::set_state_matrix(model, 3, outputs, inputs, d);
    ASSERT_EQ(write(model, "reduced_", 10.0, 1.0), 1.0);
    for (const char *name : {"reduced_a", "reduced_b", "reduced_c", "reduced_d"})
        EXPECT_EQ(differs_from_golden(name), "");
}

// Two tracks of 401 samples through GENRPROF_SAYERS with host-language
// arrays, the seed fixed and the file's DATE fixed through the stand-in
// host's setup interface.
TEST_F(Golden, RoadProfileFile) {
    initialize();
    auto road_command =
        registered<plexa_arrays_function>("GENRPROF_SAYERS", "cmd_to_genrprof_sayers");
    ASSERT_NE(road_command, nullptr);
    const char *const date = "11-Jul-2005 23:46:29";
    plexa_rpc_set_date(date);
    // ga, ge, gs, corr_length, length, interval; tracks and seed; the names
    const double reals[] = {0.5, 0.01, 0.05, 1.5, 100.0, 0.25};
    const int32_t ints[] = {2, 2005};
    const char *const texts[] = {"road.rsp", "Left track", "Right track"};
    vc_array args[3] = {plexa_array_create(VC_INTEGER, 2), plexa_array_create(VC_REAL, 6),
                        plexa_array_create(VC_TEXT, 3)};
    for (int32_t i = 0; i < 6; ++i) {
        if (i < 2) plexa_array_set_int(args[0], i, ints[i]);
        plexa_array_set_real(args[1], i, reals[i]);
        if (i < 3) plexa_array_set_text(args[2], i, texts[i]);
    }
    vc_array result = nullptr;
    const std::string out =
        sorvan::test::printed([&] { result = road_command(args[0], args[1], args[2]); });
    int32_t status = -1;
    ASSERT_TRUE(plexa_array_get_int(result, 0, &status));
    EXPECT_EQ(status, 0) << out;
    for (vc_array a : {args[0], args[1], args[2], result})
        plexa_array_free(a);
    EXPECT_EQ(differs_from_golden("road.rsp", false), "");
}

} // namespace
