// sorvan reduce: loads an ABC set into a host object and runs the host
// function STATEMAT_WRITE on it, which writes the set again without the
// states above a frequency limit.
#include "cli/check.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/session.h"

#include "analysis/state_space.h"
#include "frame/file_identity.h"
#include "frame/host_codes.h"
#include "sorvan_view.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace sorvan::cli {

namespace {

using AbcRead = ABCmtx *(*)(const char *, char);
using AbcFree = void (*)(ABCmtx *);

// STATEMAT_WRITE does not look at the object's type.
constexpr int32_t model_type = 1;

using host_codes::MatrixAttributes;
constexpr const MatrixAttributes *attributes = host_codes::state_matrices;

// Most values one host attribute holds.
constexpr int64_t max_values = 16777216;

// The four matrices of a set, released with the plug-in's ABCfree.
struct AbcSet {
    ABCmtx *m[4] = {nullptr, nullptr, nullptr, nullptr};
    AbcFree release = nullptr;

    AbcSet() = default;
    AbcSet(const AbcSet &) = delete;
    AbcSet &operator=(const AbcSet &) = delete;
    ~AbcSet() {
        for (ABCmtx *x : m)
            if (x && release) release(x);
    }
};

// Reads base + "a" to "d" with the plug-in's reader. Prints what is missing.
bool read_set(Plugin &p, const std::string &base, AbcSet &set) {
    auto read = p.get<AbcRead>("ABCread_mtx");
    set.release = p.get<AbcFree>("ABCfree");
    if (!read || !set.release) {
        complain("reduce", p.error());
        return false;
    }
    bool ok = true;
    for (int k = 0; k < 4; ++k) {
        if (std::string why; !input_file_ok(base + attributes[k].letter, abc_file_max, why)) {
            complain("reduce", "cannot read the matrix file " + why);
            ok = false;
            continue;
        }
        set.m[k] = read(base.c_str(), attributes[k].letter);
        if (!set.m[k]) {
            complain("reduce", "cannot read the matrix file " + base + attributes[k].letter);
            ok = false;
        }
    }
    return ok;
}

// Stores one matrix as its three attributes; false when the host refuses it.
bool store_matrix(ac_object obj, const ABCmtx &m, const MatrixAttributes &a) {
    int64_t count = int64_t{m.nrows} * m.ncols;
    if (m.nrows < 0 || m.ncols < 0 || count > max_values) return false;
    double *values = nullptr;
    if (count > 0) {
        values = static_cast<double *>(std::calloc(static_cast<size_t>(count), sizeof(double)));
        if (!values) return false;
        for (int32_t i = 0; i < m.nrows; ++i)
            for (int32_t j = 0; j < m.ncols; ++j)
                values[int64_t{i} * m.ncols + j] = m.rows[i][j];
    }
    bool ok = plexa_set_int(obj, a.rows, m.nrows) && plexa_set_int(obj, a.cols, m.ncols) &&
              plexa_set_reals(obj, a.values, values, static_cast<int32_t>(count));
    std::free(values);
    return ok;
}

ac_object model_object(const AbcSet &set) {
    ac_object obj = plexa_object_create(model_type, nullptr);
    for (int k = 0; obj && k < 4; ++k)
        if (!store_matrix(obj, *set.m[k], attributes[k])) return nullptr;
    return obj;
}

const char *result_text(double result) {
    if (result == -1.0) return "the state matrices could not be fetched or their sizes disagree";
    if (result == -2.0) return "a file of the reduced set could not be written";
    if (result == -3.0) return "no state lies within the limit; nothing was written";
    return "unexpected result";
}

int exit_status(double result) {
    if (result == -1.0) return 1;
    if (result == -2.0) return 2;
    if (result == -3.0) return 3;
    return 1;
}

// Reads the written A back and reports how many states it kept, and each
// pair and real state with its frequency.
int report(Plugin &p, const std::string &out_base, const Eigen::MatrixXd &a, double limit,
           double real_switch, bool json) {
    auto read = p.get<AbcRead>("ABCread_mtx");
    auto release = p.get<AbcFree>("ABCfree");
    ABCmtx *written = read && release ? read(out_base.c_str(), 'a') : nullptr;
    if (!written) {
        complain("reduce", "written, but cannot read back " + out_base + "a");
        return exit_output;
    }
    const int32_t kept = written->nrows, states = static_cast<int32_t>(a.rows());
    release(written);
    std::printf("wrote %sa, %sb, %sc, %sd: kept %d of %d states, dropped %d\n", out_base.c_str(),
                out_base.c_str(), out_base.c_str(), out_base.c_str(), kept, states, states - kept);
    nlohmann::json blocks = nlohmann::json::array();
    for (const analysis::StateBlock &b : analysis::reduction_blocks(a, limit, real_switch)) {
        const double hz = std::abs(b.eigenvalue) / 6.28318530717958;
        std::printf("  %s %-12s %12.6g Hz  %s\n", b.size == 2 ? "pair" : "real",
                    (std::to_string(b.first + 1) +
                     (b.size == 2 ? "-" + std::to_string(b.first + 2) : std::string()))
                        .c_str(),
                    hz, b.kept ? "kept" : "dropped");
        blocks.push_back({{"states", b.size == 2 ? nlohmann::json{b.first + 1, b.first + 2}
                                                 : nlohmann::json{b.first + 1}},
                          {"frequency_hz", hz},
                          {"kept", b.kept}});
    }
    if (json) {
        nlohmann::json files = nlohmann::json::array();
        for (char l : {'a', 'b', 'c', 'd'})
            files.push_back(out_base + l);
        json_output::emit({{"kept", kept},
                           {"dropped", states - kept},
                           {"states", states},
                           {"blocks", blocks},
                           {"files", files},
                           {"result", 1}});
    }
    return 0;
}

// Whether a member of the output set is a member of the input set, by the
// files themselves (links and other spellings of a name included).
bool overwrites_input(const std::string &in_base, const std::string &out_base) {
    for (char in : {'a', 'b', 'c', 'd'})
        for (char out : {'a', 'b', 'c', 'd'})
            if (in_base + in == out_base + out ||
                same_file((in_base + in).c_str(), (out_base + out).c_str()))
                return true;
    return false;
}

} // namespace

int run_reduce(int argc, char **argv) {
    Parsed args;
    if (int status = parse_command_line(reduce_command(), argc, argv, args); status >= 0)
        return status;
    if (!args.has("max-frequency")) {
        complain("reduce", "needs --max-frequency HZ (0 for no limit)");
        return exit_usage;
    }
    const double limit = args.real("max-frequency");
    const double real_switch = args.has("keep-real-states") ? 1.0 : 0.0;
    const std::string &in_base = args.words()[0], &out_base = args.words()[1];
    if (overwrites_input(in_base, out_base)) {
        complain("reduce",
                 "the output set " + out_base + " would replace its input set " + in_base);
        return exit_usage;
    }

    Session session;
    if (!start_session(session, "reduce", args.plugin())) return exit_no_plugin;
    auto write = session.function_as<plexa_object_file_reals_function>("STATEMAT_WRITE", 6);
    if (!write) {
        complain("reduce", session.error());
        return exit_no_plugin;
    }
    AbcSet set;
    if (!read_set(session.plugin(), in_base, set)) return exit_no_input;
    ac_object model = model_object(set);
    if (!model) {
        complain("reduce", "the host library refused the matrices of " + in_base);
        return exit_no_input;
    }
    const Eigen::MatrixXd a = dense_matrix(*set.m[0]);
    if (!analysis::modal_form(a) && limit != 0.0)
        std::printf("note: A of %s is not in modal form, so the frequency limit does not apply\n",
                    in_base.c_str());
    double result = write(model, out_base.c_str(), limit, real_switch);
    std::fflush(stdout);
    if (result != 1.0) {
        complain("reduce",
                 "STATEMAT_WRITE failed (" + shortest(result) + "): " + result_text(result));
        if (args.json()) json_output::emit_failure(exit_status(result), result);
        return exit_status(result);
    }
    return report(session.plugin(), out_base, a, limit, real_switch, args.json());
}

} // namespace sorvan::cli
