// sorvan reduce: loads an ABC set into a host object and runs the host
// function STATEMAT_WRITE on it, which writes the set again without the
// states above a frequency limit.
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/session.h"

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

const std::vector<Option> reduce_options = {
    {"max-frequency", true},
    {"keep-real-states", false},
};

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

// True when A has 2 x 2 blocks on its diagonal and zeros elsewhere (rows
// and columns 0 and 1 aside): only then does the frequency limit apply.
bool modal_form(const ABCmtx &a) {
    for (int32_t i = 2; i < a.nrows; ++i)
        for (int32_t j = 2; j < a.ncols; ++j)
            if (std::abs(i - j) >= 2 && a.rows[i][j] != 0.0) return false;
    return true;
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

// Reads the written A back and reports how many states it kept.
int report(Plugin &p, const std::string &out_base, int32_t states) {
    auto read = p.get<AbcRead>("ABCread_mtx");
    auto release = p.get<AbcFree>("ABCfree");
    ABCmtx *a = read && release ? read(out_base.c_str(), 'a') : nullptr;
    if (!a) {
        complain("reduce", "written, but cannot read back " + out_base + "a");
        return exit_output;
    }
    int32_t kept = a->nrows;
    release(a);
    std::printf("wrote %sa, %sb, %sc, %sd: kept %d of %d states, dropped %d\n", out_base.c_str(),
                out_base.c_str(), out_base.c_str(), out_base.c_str(), kept, states, states - kept);
    return 0;
}

} // namespace

void help_reduce() {
    std::printf("usage: sorvan reduce IN_BASE OUT_BASE --max-frequency HZ [--keep-real-states]\n"
                "\n"
                "Reads the ABC set IN_BASEa to IN_BASEd, hands it to the host function\n"
                "STATEMAT_WRITE as a model object and lets it write the set OUT_BASEa to\n"
                "OUT_BASEd with only the states it keeps: A reduced in rows and columns, B in\n"
                "rows, C in columns, D whole. When A is in modal form (2 x 2 blocks on its\n"
                "diagonal), an oscillating state pair is kept when the modulus of its eigenvalue\n"
                "is at most 2 pi HZ; otherwise the limit does not apply and every pair is kept.\n"
                "It prints how many states were kept and dropped.\n"
                "\n"
                "  --max-frequency HZ    frequency limit in hertz, 0 or more; 0 keeps every\n"
                "                        state pair (required)\n"
                "  --keep-real-states    keep the real (non-oscillating) states within the\n"
                "                        limit (default: real states are dropped)\n"
                "  --plugin PATH         load the plug-in from PATH instead of beside sorvan\n"
                "\n"
                "Exit status: 0 written; 1 the matrices could not be fetched or their sizes\n"
                "disagree; 2 a file could not be written; 3 no state kept, nothing written;\n"
                "64 bad command line; 66 an input file unreadable; 69 plug-in not loadable;\n"
                "73 the written set not readable afterwards.\n");
}

int run_reduce(int argc, char **argv) {
    Args args;
    const CommandLine command{"reduce", &reduce_options, help_reduce, 2, "IN_BASE and OUT_BASE"};
    if (int status = parse_command(args, argc, argv, command); status >= 0) return status;
    double limit = 0.0;
    if (!args.has("max-frequency")) {
        complain("reduce", "needs --max-frequency HZ (0 for no limit)");
        return exit_usage;
    }
    if (!args.get_double("max-frequency", limit) || limit < 0.0) {
        complain("reduce", "--max-frequency needs a frequency of 0 Hz or more");
        return exit_usage;
    }
    const std::string &in_base = args.positional()[0], &out_base = args.positional()[1];

    Session session;
    if (!start_session(session, "reduce", plugin_option(args))) return exit_no_plugin;
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
    if (!modal_form(*set.m[0]) && limit != 0.0)
        std::printf("note: A of %s is not in modal form, so the frequency limit does not apply\n",
                    in_base.c_str());
    double result = write(model, out_base.c_str(), limit, args.has("keep-real-states") ? 1.0 : 0.0);
    std::fflush(stdout);
    if (result != 1.0) {
        complain("reduce",
                 "STATEMAT_WRITE failed (" + shortest(result) + "): " + result_text(result));
        return exit_status(result);
    }
    return report(session.plugin(), out_base, set.m[0]->ncols);
}

} // namespace sorvan::cli
