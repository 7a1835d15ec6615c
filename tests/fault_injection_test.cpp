// A write that fails at any byte position of any output: the BDF (both
// converter entries share its writer), each member of an ABC set written
// by STATEMAT_WRITE, and the RPC III file of GENRPROF_SAYERS; and memory
// exhausted inside the host command. The failure comes from a file
// size limit in a forked child (SIGXFSZ ignored, so every write past the
// limit fails with EFBIG, as on a full disk). Each failure must give the
// failure result, leave no file under the final name (and no temporary
// file), and leave a file that already had that name as it was. With room
// for the whole file the same child writes it byte for byte as without a
// limit.
#include "support/host_fixture.h"

#include "sorvan_view.h"

#include <gtest/gtest.h>

#ifndef _WIN32

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string older = "an older file\n";

const auto &read_file = sorvan::test::read_bytes;
const auto &write_file = sorvan::test::write_bytes;

// Child exit codes: what the entry returned, as far as the test cares.
enum Result { failed = 0, succeeded = 1, other = 2 };

// Runs body in a child whose files may not grow past limit bytes. Returns
// the child's Result, or -1 when it did not exit normally.
int run_limited(rlim_t limit, const std::function<Result()> &body) {
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        // The entries' messages are not wanted here, and the limit must not
        // stop the child from reporting its result.
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            _exit(3);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit r{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &r) != 0) _exit(4);
        const Result result = body();
        std::fflush(stdout);
        _exit(result);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Byte positions from lo to hi - 1 at which a write is made to fail: the
// first and last bytes, both sides of the block and buffer sizes the
// streams use, and an even spread between.
std::vector<size_t> positions(size_t lo, size_t hi) {
    const size_t spread = 24;
    std::set<size_t> p;
    for (size_t edge :
         {size_t{0}, size_t{1}, size_t{2}, size_t{511}, size_t{512}, size_t{513}, size_t{4095},
          size_t{4096}, size_t{4097}, size_t{8191}, size_t{8192}, size_t{8193}})
        p.insert(edge);
    p.insert(lo);
    p.insert(lo + 1);
    if (hi >= 2) p.insert(hi - 2);
    if (hi >= 1) p.insert(hi - 1);
    for (size_t k = 0; k < spread; ++k)
        p.insert(lo + (hi - lo) * k / spread);
    std::vector<size_t> in_range;
    for (size_t x : p)
        if (x >= lo && x < hi) in_range.push_back(x);
    return in_range;
}

class FaultInjection : public sorvan::test::ConverterFolder {
  protected:
    FaultInjection() : ConverterFolder("faults") {}

    // Writes the outputs (smallest first) with every limit of positions()
    // from one output's size to the next's, so that a later output fails
    // after the earlier ones were written: the entry must fail and the
    // folder must hold what it held before, with the outputs' older versions
    // at every other limit. With room for the largest file every output
    // must be written as without a limit.
    void cut_everywhere(const std::vector<std::string> &outputs,
                        const std::function<Result()> &entry) {
        ASSERT_EQ(entry(), succeeded) << "the entry fails without a limit";
        std::vector<std::string> whole;
        std::vector<size_t> limits;
        for (const std::string &output : outputs) {
            whole.push_back(read_file(output));
            fs::remove(output);
            const size_t lo = whole.size() == 1 ? 0 : whole[whole.size() - 2].size();
            ASSERT_GT(whole.back().size(), lo) << output;
            for (size_t limit : positions(lo, whole.back().size()))
                limits.push_back(limit);
        }
        const auto inputs = folder();
        int k = 0;
        for (size_t limit : limits) {
            SCOPED_TRACE("cut at byte " + std::to_string(limit));
            if (k++ % 2 == 0)
                for (const std::string &output : outputs)
                    write_file(output, older);
            const auto before = folder();
            EXPECT_EQ(run_limited(limit, entry), failed);
            EXPECT_EQ(folder(), before);
            for (const std::string &output : outputs)
                fs::remove(output);
        }
        EXPECT_EQ(run_limited(whole.back().size(), entry), succeeded);
        for (size_t i = 0; i < outputs.size(); ++i) {
            EXPECT_EQ(read_file(outputs[i]), whole[i]);
            fs::remove(outputs[i]);
        }
        EXPECT_EQ(folder(), inputs);
    }
};

Result converted(int32_t rc) {
    return rc == 1 ? succeeded : rc == -1 ? failed : other;
}

TEST_F(FaultInjection, BdfOfThePlainConverter) {
    copy_truck();
    cut_everywhere({"truck.bdf"}, [] {
        char lu[64] = "m", fu[64] = "N", mu[64] = "kg";
        return converted(kavel2pelda("truck.map", "truck_", lu, fu, mu, '1'));
    });
}

TEST_F(FaultInjection, RpcFileOfTheRoadProfileCommand) {
    vc_array ints = plexa_array_create(VC_INTEGER, 2);
    vc_array reals = plexa_array_create(VC_REAL, 6);
    vc_array strings = plexa_array_create(VC_TEXT, 3);
    plexa_array_set_int(ints, 0, 2);
    plexa_array_set_int(ints, 1, 4711);
    const double r[6] = {1e-6, 1e-8, 1e-7, 1.5, 600.0, 0.125}; // 4801 points, two channels
    for (int k = 0; k < 6; ++k)
        plexa_array_set_real(reals, k, r[k]);
    const char *s[3] = {"road.rsp", "left", "right"};
    for (int k = 0; k < 3; ++k)
        plexa_array_set_text(strings, k, s[k]);
    plexa_rpc_set_date("01-Jan-2000 00:00:00"); // the same file every time
    cut_everywhere({"road.rsp"}, [=] {
        vc_array result = cmd_to_genrprof_sayers(ints, reals, strings);
        int32_t status = -1;
        plexa_array_get_int(result, 0, &status);
        plexa_array_free(result);
        if (plexa_rpc_open_count() != 0) return other;
        return status == 0 ? succeeded : status == 1 ? failed : other;
    });
}

// A model whose four members grow in size (A 2 x 2, B 2 x 8, C 16 x 2, D 16 x
// 8: 102, 402, 816 and 3216 bytes), so that a limit between the sizes of
// two members fails the later one after the earlier ones were written: the
// set is committed whole or not at all. The first bytes of a later member
// are covered as the failure of an earlier, smaller one, since the limit
// holds for every file.
TEST_F(FaultInjection, EveryMemberOfTheStateMatrixSet) {
    const int32_t dims[4][2] = {{2, 2}, {2, 8}, {16, 2}, {16, 8}};
    ac_object obj = plexa_object_create(1, nullptr);
    for (int k = 0; k < 4; ++k) {
        std::vector<double> v(size_t(dims[k][0]) * size_t(dims[k][1]));
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = 0.5 * double(i) - 1.0 - k;
        if (k == 0) v = {-1.0, 0.0, 0.0, -2.0};
        sorvan::test::set_state_matrix(obj, k, dims[k][0], dims[k][1], v.data());
    }
    cut_everywhere({"set_a", "set_b", "set_c", "set_d"}, [obj] {
        const double rc = stmatwri(obj, "set_", 0.0, 1.0);
        return rc == 1.0 ? succeeded : rc == -2.0 ? failed : other;
    });
}

// The size of this process's address space in bytes, 0 when unknown.
size_t address_space() {
    std::ifstream status("/proc/self/status");
    std::string key;
    size_t kib = 0;
    while (status >> key)
        if (key == "VmSize:" && status >> kib) return kib * 1024;
    return 0;
}

bool under_memory_tools() {
    if (sorvan::test::under_sanitizer()) return true;
    const char *preload = std::getenv("LD_PRELOAD");
    return preload && std::string(preload).find("vgpreload") != std::string::npos;
}

// Memory that runs out inside the host command must give a failure result:
// no exception may cross the C boundary into the host. The command copies
// attribute 505 into storage sized from its count; here that allocation
// fails, in a child whose address space has no room for it.
TEST_F(FaultInjection, ExhaustedMemoryInTheHostCommandIsAResult) {
    if (under_memory_tools())
        GTEST_SKIP() << "address space limits do not apply under "
                        "the sanitizers or valgrind";
    copy_truck();
    ac_object obj = plexa_object_create(sorvan::host_codes::command_object_type, nullptr);
    std::vector<double> values(16777216, 1.0); // the host's largest attribute: 128 MiB
    plexa_set_reals(obj, sorvan::host_codes::attr_command_values, values.data(),
                    int32_t(values.size()));
    std::vector<double>().swap(values);
    const size_t room = address_space();
    ASSERT_GT(room, 0u);
    std::fflush(stdout);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!std::freopen("/dev/null", "w", stdout)) _exit(3);
        const rlimit r{room + (64u << 20), room + (64u << 20)};
        if (setrlimit(RLIMIT_AS, &r) != 0) _exit(4);
        const int32_t rc = kavel2pelda_full(obj, "truck.map", "truck_");
        _exit(rc < 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "the command ended the process (signal "
                                   << (WIFSIGNALED(status) ? WTERMSIG(status) : 0) << ")";
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    EXPECT_FALSE(fs::exists("truck.bdf"));
}

} // namespace

#else

TEST(FaultInjection, NeedsPosixFileSizeLimits) {
    GTEST_SKIP() << "the write failures are injected with fork and RLIMIT_FSIZE";
}

#endif
