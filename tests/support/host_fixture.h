// The fixture of the tests that run the library's entries through the
// stand-in host: a fresh host before and after each test, a scratch folder
// that is the working directory while the test runs (kept when the test
// fails), the test models copied in, and the folder's contents for
// comparisons before and after. ConverterFolder also puts the converter
// parameters back afterwards.
#ifndef SORVAN_TESTS_SUPPORT_HOST_FIXTURE_H
#define SORVAN_TESTS_SUPPORT_HOST_FIXTURE_H

#include "host/plexa_setup.h"
#include "support/files.h"
#include "support/host_objects.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace sorvan::test {

// The stand-in host's call record, one entry per operation asked of it.
inline std::vector<std::string> host_calls() {
    std::vector<std::string> v;
    for (int32_t i = 0; i < plexa_calls_count(); ++i)
        v.emplace_back(plexa_calls_get(i));
    return v;
}

class HostFolder : public ::testing::Test {
  protected:
    explicit HostFolder(const std::string &prefix = "host") : scratch(prefix) {}

    void SetUp() override {
        plexa_reset();
        previous = std::filesystem::current_path();
        std::filesystem::current_path(dir);
    }
    void TearDown() override {
        std::filesystem::current_path(previous);
        plexa_reset();
        if (HasFailure()) {
            std::printf("files left in %s\n", dir.string().c_str());
            scratch.keep();
        }
    }

    // The model from (a folder) named map with its ABC set base + "a" to
    // "d", copied into the scratch folder.
    void copy_model(const std::filesystem::path &from, const std::string &map,
                    const std::string &base) const {
        namespace fs = std::filesystem;
        fs::copy_file(from / map, dir / map, fs::copy_options::overwrite_existing);
        for (const char *letter : {"a", "b", "c", "d"})
            fs::copy_file(from / (base + letter), dir / (base + letter),
                          fs::copy_options::overwrite_existing);
    }

    // The test truck of tests/data/bdf: truck.map and truck_a to truck_d.
    void copy_truck() const { copy_model(SORVAN_TEST_DATA "/bdf", "truck.map", "truck_"); }

    std::map<std::string, std::string> folder() const { return snapshot(dir); }

    ScratchDir scratch;
    const std::filesystem::path &dir = scratch.path();
    std::filesystem::path previous;
};

class ConverterFolder : public HostFolder {
  protected:
    using HostFolder::HostFolder;
    SavedParameters saved;
};

} // namespace sorvan::test

#endif
