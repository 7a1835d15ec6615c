// The plug-in's export surface, seen from outside as a host sees it: every
// name of the export list resolves from the built library, nothing else is
// exported, and the records have the layout of the public header.
#include "sorvan_view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <dlfcn.h>
#include <fstream>
#include <set>
#include <string>

extern "C" int header_c_layout_ok(void);

namespace {

std::set<std::string> export_list() {
    std::ifstream in(SORVAN_EXPORT_LIST);
    std::set<std::string> names;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') names.insert(line);
    return names;
}

// Names the library's dynamic symbol table defines.
std::set<std::string> defined_symbols() {
    std::set<std::string> names;
    std::string cmd = std::string("nm -D --defined-only ") + SORVAN_PLUGIN_FILE;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return names;
    char line[1024];
    while (std::fgets(line, sizeof line, p)) {
        char addr[64], type[8], name[900];
        if (std::sscanf(line, "%63s %7s %899s", addr, type, name) == 3) names.insert(name);
    }
    pclose(p);
    return names;
}

TEST(Exports, EveryListedNameResolves) {
    void *lib = dlopen(SORVAN_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto names = export_list();
    EXPECT_GE(names.size(), 26u);
    for (const auto &name : names)
        EXPECT_NE(dlsym(lib, name.c_str()), nullptr) << name;
    dlclose(lib);
}

TEST(Exports, NothingElseLeavesTheLibrary) {
    auto names = export_list();
    auto symbols = defined_symbols();
    ASSERT_FALSE(symbols.empty());
    for (const auto &s : symbols)
        EXPECT_TRUE(names.count(s)) << "unexpected export " << s;
    for (const auto &n : names)
        EXPECT_TRUE(symbols.count(n)) << "missing export " << n;
}

TEST(Exports, ParametersHoldTheirDefaultsAtLoad) {
    void *lib = dlopen(SORVAN_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    EXPECT_EQ(*static_cast<int32_t *>(dlsym(lib, "tf_id")), 1);
    EXPECT_EQ(*static_cast<int32_t *>(dlsym(lib, "whl_dv")), 24);
    EXPECT_EQ(*static_cast<int32_t *>(dlsym(lib, "lrg_fld")), 0);
    EXPECT_EQ(*static_cast<double *>(dlsym(lib, "thresh")), 1e-9);
    EXPECT_EQ(*static_cast<double *>(dlsym(lib, "v_stif")), 1e9);
    EXPECT_EQ(*static_cast<double *>(dlsym(lib, "v_damp")), 1e6);
    EXPECT_EQ(*static_cast<double *>(dlsym(lib, "v_tstf")), 1e6);
    EXPECT_EQ(*static_cast<double *>(dlsym(lib, "v_tdmp")), 1e4);
    EXPECT_STREQ(static_cast<char *>(dlsym(lib, "lu_lab")), "METER");
    EXPECT_STREQ(static_cast<char *>(dlsym(lib, "fu_lab")), "NEWTON");
    EXPECT_STREQ(static_cast<char *>(dlsym(lib, "mu_lab")), "KILOGRAM");
    EXPECT_STREQ(static_cast<char *>(dlsym(lib, "tu_lab")), "SECOND");
    dlclose(lib);
}

TEST(Exports, HeaderCompilesAsCWithTheSameLayout) {
    EXPECT_EQ(header_c_layout_ok(), 1);
}

} // namespace
