// Benchmark of the converter, the state matrix writer and the road profile.
//
// Every case is timed in one run three ways, interleaved so that a change of
// the machine's load touches all three alike: the library, its floor (the
// same bytes read into memory and scanned for line ends, or written
// unformatted through a buffered stream; for the road profile, the same
// Gaussian deviates drawn alone) and the straightforward version of its hot
// paths (bench/baseline.h). The best of the repetitions counts. The table
// gives ratios to the floor and to the baseline, and values per second.
//
//   sorvan_bench [--work DIR] [--sizes 250,1000,3000] [--repeat N]
//                [--samples N] [--baseline-repeat N] [--keep] [--wall]
//   sorvan_bench --convert MAP_FILE ABC_BASE   one conversion (memory probe)
#include "bench/baseline.h"

#include "bdf_export/bdf.h"
#include "bdf_export/cards.h"
#include "bdf_export/checks.h"
#include "frame/host_codes.h"
#include "frame/output_file.h"
#include "host/plexa_setup.h"
#include "model_input/abc.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace sorvan::bench;

// ======================================================================
// Options
// ======================================================================

struct Options {
    std::string work = "bench-work";
    std::vector<int> sizes = {250, 1000, 3000};
    int repeat = 5;
    int baseline_repeat = 1; // the baselines are slow and steady
    int64_t samples = 10000000;
    bool keep = false; // leave the generated models in the work folder
    bool wall = false; // time by the wall clock instead of the CPU time
};

bool parse_sizes(const char *text, std::vector<int> &sizes) {
    sizes.clear();
    for (const char *p = text; *p;) {
        char *end;
        long n = std::strtol(p, &end, 10);
        if (end == p || n < 2 || n > 4000) return false; // A must fit one host attribute
        sizes.push_back(static_cast<int>(n));
        p = *end == ',' ? end + 1 : end;
        if (*end && *end != ',') return false;
    }
    return !sizes.empty();
}

bool parse_options(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--keep" || arg == "--wall") {
            (arg == "--keep" ? o.keep : o.wall) = true;
            continue;
        }
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!value) return false;
        ++i;
        if (arg == "--work")
            o.work = value;
        else if (arg == "--sizes") {
            if (!parse_sizes(value, o.sizes)) return false;
        } else if (arg == "--repeat")
            o.repeat = std::max(1, std::atoi(value));
        else if (arg == "--baseline-repeat")
            o.baseline_repeat = std::max(1, std::atoi(value));
        else if (arg == "--samples")
            o.samples = std::max<int64_t>(2, std::atoll(value));
        else
            return false;
    }
    return true;
}

// ======================================================================
// Models
// ======================================================================

// A dense model of n states, with a twentieth as many inputs (at least 12)
// and twice as many outputs: the displacement and the velocity of every
// input point, so that every input gets its coupling cards.
struct Model {
    int n = 0, inputs = 0, outputs = 0;
    std::string base, map, bdf;
    std::vector<double> a, b, c, d; // row by row
    int64_t values() const {
        return int64_t{n} * n + int64_t{n} * inputs + int64_t{outputs} * (n + inputs);
    }
};

// splitmix64: the same model on every run.
struct Random {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1p-53; }
};

// Values of either sign with magnitudes spread over 1e-10 to 1e6, so that
// some fall below the default threshold of 1e-9.
void fill(std::vector<double> &m, size_t count, Random &r) {
    m.resize(count);
    for (double &v : m)
        v = (r.next() & 1 ? -1.0 : 1.0) * (1.0 + 9.0 * r.uniform()) *
            std::pow(10.0, std::floor(r.uniform() * 16.0) - 10.0);
}

bool write_matrix(const std::string &name, const std::vector<double> &m, int rows, int cols) {
    std::FILE *f = std::fopen(name.c_str(), "w");
    if (!f) return false;
    for (int i = 0; i < rows; ++i)
        ABCwrite_row(f, m.data() + size_t(i) * cols, cols);
    return std::fclose(f) == 0;
}

bool write_map(const Model &m) {
    std::FILE *f = std::fopen(m.map.c_str(), "w");
    if (!f) return false;
    std::fprintf(f,
                 "[FILE_SUMMARY]\n ABCD_INPUT_N = %d\n ABCD_OUTPUT_N = %d\n ABCD_EXTERNAL_N = 0\n"
                 " GRAPHICS_ELEMENT_N = 0\n GRAPHICS_NODE_N = 0\n WHEEL_GRAPHICS_N = 0\n"
                 " GRID_ID_OFFSET = 100000\n ELEMENT_ID_OFFSET = 200000\n"
                 "[UNITS]\n LENGTH = 'mm'\n ANGLE = 'deg'\n FORCE = 'newton'\n MASS = 'kg'\n"
                 " TIME = 'sec'\n[STATE_SPACE_INPUTS]\n{abcd_index id dof}\n",
                 m.inputs, m.outputs);
    for (int i = 0; i < m.inputs; ++i)
        std::fprintf(f, " %d %d %d\n", i + 1, 10 + i / 3, 1 + i % 3);
    std::fprintf(f, "[STATE_SPACE_OUTPUTS]\n{abcd_index id dof kind}\n");
    for (int o = 0; o < m.outputs; ++o)
        std::fprintf(f, " %d %d %d %d\n", o + 1, 10 + (o % m.inputs) / 3, 1 + (o % m.inputs) % 3,
                     1 + o / m.inputs);
    std::fprintf(f, "[END]\n");
    return std::fclose(f) == 0;
}

bool make_model(const Options &o, int n, Model &m) {
    m.n = n;
    m.inputs = std::max(12, n / 20);
    m.outputs = 2 * m.inputs;
    const std::string stem = o.work + "/m" + std::to_string(n);
    m.base = stem + "_";
    m.map = stem + ".map";
    m.bdf = stem + ".bdf";
    Random r{static_cast<uint64_t>(n)};
    fill(m.a, size_t(n) * n, r);
    for (int i = 0; i < n; ++i)
        m.a[size_t(i) * n + i] = -std::fabs(m.a[size_t(i) * n + i]) - 1.0; // a stable diagonal
    fill(m.b, size_t(n) * m.inputs, r);
    fill(m.c, size_t(m.outputs) * n, r);
    fill(m.d, size_t(m.outputs) * m.inputs, r);
    return write_matrix(m.base + "a", m.a, n, n) && write_matrix(m.base + "b", m.b, n, m.inputs) &&
           write_matrix(m.base + "c", m.c, m.outputs, n) &&
           write_matrix(m.base + "d", m.d, m.outputs, m.inputs) && write_map(m);
}

// ======================================================================
// Floors
// ======================================================================

constexpr size_t block = size_t{1} << 20;

long file_size(const std::string &name) {
    struct stat st;
    return ::stat(name.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

// Reads the files into memory in large blocks and counts their lines.
long read_floor(const std::vector<std::string> &files) {
    static std::vector<char> buffer(block);
    long lines = 0;
    for (const std::string &name : files) {
        std::FILE *f = std::fopen(name.c_str(), "r");
        if (!f) continue;
        for (size_t got; (got = std::fread(buffer.data(), 1, block, f)) > 0;)
            for (const char *p = buffer.data(), *end = p + got;
                 (p = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)))); ++p)
                ++lines;
        std::fclose(f);
    }
    return lines;
}

// Writes bytes unformatted lines through a buffered stream.
void write_floor(const std::string &name, long bytes) {
    static std::vector<char> text = [] {
        std::vector<char> t(block, ' ');
        for (size_t i = 48; i < t.size(); i += 49)
            t[i] = '\n';
        return t;
    }();
    std::FILE *f = std::fopen(name.c_str(), "w");
    if (!f) return;
    for (long left = bytes; left > 0; left -= static_cast<long>(block))
        std::fwrite(text.data(), 1, std::min<size_t>(block, size_t(left)), f);
    std::fclose(f);
}

std::vector<std::string> abc_files(const std::string &base) {
    return {base + "a", base + "b", base + "c", base + "d"};
}

long total_size(const std::vector<std::string> &files) {
    long n = 0;
    for (const std::string &f : files)
        n += file_size(f);
    return n;
}

// ======================================================================
// The converter, with library and with baseline hot paths
// ======================================================================

struct Matrices {
    ABCmtx *m[4] = {};
    ~Matrices() {
        for (ABCmtx *p : m)
            if (p) ABCfree(p);
    }
};

MAPmodel *read_map(const char *name) {
    std::FILE *f = std::fopen(name, "r");
    if (!f) return nullptr;
    auto *map = static_cast<MAPmodel *>(std::calloc(1, sizeof(MAPmodel)));
    bool ok = MAPread_size(map, f) == MAP_OK && MAPread_unit(map, f) == MAP_OK &&
              MAPalloc(map) == MAP_OK && MAPread_input(map, f) == MAP_OK &&
              MAPread_output(map, f) == MAP_OK && MAPread_node(map, f) == MAP_OK &&
              MAPread_element(map, f) == MAP_OK && MAPread_wheel(map, f) == MAP_OK;
    std::fclose(f);
    return ok ? map : nullptr; // a failed reader has released the record
}

char metre[16] = "m", newton[16] = "N", kilogram[16] = "kg", second[16] = "sec";

using StateWriter = void (*)(FILE *, const ABCmtx *, const ABCmtx *);

// The driver's sequence of writers, with the two state-space writers given.
void write_cards(FILE *f, const Model &model, MAPmodel *map, const Matrices &m, StateWriter state,
                 StateWriter output) {
    lu_fac = UNTconstant(metre);
    fu_fac = UNTconstant(newton);
    mu_fac = UNTconstant(kilogram);
    tu_fac = UNTconstant(second);
    grid_id = map->grid_id_offset;
    element_id = map->element_id_offset;
    BDFwrite_header(f, model.map.c_str(), model.base.c_str(), model.bdf.c_str());
    BDFwrite_epoint(f, map, m.m[0]);
    BDFwrite_grid(f, map);
    BDFwrite_plotel(f, map);
    BDFwrite_wheel(f, map);
    state(f, m.m[0], m.m[1]);
    output(f, m.m[2], m.m[3]);
    BDFwrite_tf_connect(f, map);
    BDFwrite_tf_force(f, map);
    BDFwrite_dmig(f, map);
    std::fputs("$*\n$* KAVEL2PELDA: End of BDF for PELDA:\n$*\n", f);
}

void write_bdf_library(const Model &model, MAPmodel *map, const Matrices &m,
                       const std::string &name) {
    sorvan::OutputFile out;
    if (FILE *f = out.open(name.c_str())) {
        write_cards(f, model, map, m, BDFwrite_tf_state, BDFwrite_tf_output);
        out.commit();
    }
}

void write_bdf_baseline(const Model &model, MAPmodel *map, const Matrices &m,
                        const std::string &name) {
    if (FILE *f = std::fopen(name.c_str(), "w")) {
        write_cards(f, model, map, m, baseline_write_tf_state, baseline_write_tf_output);
        std::fclose(f);
    }
}

void read_all(const Model &model, Matrices &m, ABCmtx *(*reader)(const char *, char)) {
    for (int k = 0; k < 4; ++k)
        m.m[k] = reader(model.base.c_str(), static_cast<char>('a' + k));
}

int32_t convert_library(const Model &model) {
    return kavel2pelda(model.map.c_str(), model.base.c_str(), metre, newton, kilogram, '1');
}

// The conversion with the baseline reader and state-space writers; the
// rest, the checks included, as the driver does it.
void convert_baseline(const Model &model, const std::string &bdf) {
    MAPmodel *map = read_map(model.map.c_str());
    if (!map) return;
    Matrices m;
    read_all(model, m, baseline_read_mtx);
    const sorvan::bdf::Matrices checked{m.m[0], m.m[1], m.m[2], m.m[3]};
    if (sorvan::bdf::check_model(checked, *map, model.map.c_str(), model.base.c_str()))
        write_bdf_baseline(model, map, m, bdf);
    MAPfree(map);
}

// ======================================================================
// The state matrix writer
// ======================================================================

ac_object host_object(const Model &m) {
    ac_object obj = plexa_object_create(1, nullptr);
    const int sizes[8] = {m.n, m.n, m.n, m.inputs, m.outputs, m.n, m.outputs, m.inputs};
    const std::vector<double> *values[4] = {&m.a, &m.b, &m.c, &m.d};
    for (int k = 0; k < 4; ++k) {
        const sorvan::host_codes::MatrixAttributes &code = sorvan::host_codes::state_matrices[k];
        plexa_set_int(obj, code.rows, sizes[2 * k]);
        plexa_set_int(obj, code.cols, sizes[2 * k + 1]);
        plexa_set_reals(obj, code.values, values[k]->data(),
                        static_cast<int32_t>(values[k]->size()));
    }
    return obj;
}

void statemat_baseline(const Model &m, const std::string &base) {
    const int rows[4] = {m.n, m.n, m.outputs, m.outputs}, cols[4] = {m.n, m.inputs, m.n, m.inputs};
    const std::vector<double> *values[4] = {&m.a, &m.b, &m.c, &m.d};
    for (int k = 0; k < 4; ++k) {
        std::FILE *f = std::fopen((base + static_cast<char>('a' + k)).c_str(), "w");
        if (!f) return;
        for (int i = 0; i < rows[k]; ++i)
            baseline_write_row(f, values[k]->data() + size_t(i) * cols[k], cols[k]);
        std::fclose(f);
    }
}

// ======================================================================
// Timing and the table
// ======================================================================

// The time run takes: the CPU time of this process (user and system, the
// copying of file pages included), which the other work of a shared
// machine disturbs far less than the wall clock, or the wall clock.
double seconds(const std::function<void()> &run, bool wall) {
    const clockid_t clock = wall ? CLOCK_MONOTONIC : CLOCK_PROCESS_CPUTIME_ID;
    timespec start{}, end{};
    clock_gettime(clock, &start);
    run();
    clock_gettime(clock, &end);
    return static_cast<double>(end.tv_sec - start.tv_sec) +
           1e-9 * static_cast<double>(end.tv_nsec - start.tv_nsec);
}

struct Case {
    std::string name;
    double values = 0;
    // Before every timed run, untimed, with the variant about to run:
    // floor, library or baseline. It removes that variant's output.
    std::function<void(int)> setup;
    std::function<void()> floor, library, baseline;
    double floor_limit = 0; // target: library / floor at most this (0: none)
    double speedup_min = 0; // target: baseline / library at least this (0: none)
};

struct Row {
    std::string name, target;
    double values, rate, to_floor, speedup;
    bool has_target, met;
};

std::vector<Row> rows;
std::vector<std::string> memory_lines;

std::string target_text(const Case &c) {
    std::string t;
    char buf[64];
    if (c.floor_limit > 0) {
        std::snprintf(buf, sizeof buf, "<= %.3g x floor", c.floor_limit);
        t = buf;
    }
    if (c.speedup_min > 0) {
        std::snprintf(buf, sizeof buf, "%s>= %.3g x faster", t.empty() ? "" : ", ", c.speedup_min);
        t += buf;
    }
    return t.empty() ? "-" : t;
}

void print_row(const Row &r) {
    char speed[32] = "-";
    if (r.speedup > 0) std::snprintf(speed, sizeof speed, "%.1f", r.speedup);
    std::printf("| %-34s | %9.3g | %10.3g | %8.2f | %9s | %-28s | %-3s |\n", r.name.c_str(),
                r.values, r.rate, r.to_floor, speed, r.target.c_str(),
                r.has_target ? (r.met ? "yes" : "no") : "-");
    std::fflush(stdout);
}

void print_head() {
    std::printf("| %-34s | %9s | %10s | %8s | %9s | %-28s | %-3s |\n", "case", "values", "values/s",
                "x floor", "speed-up", "target", "met");
    std::printf("|%s|%s|%s|%s|%s|%s|%s|\n", std::string(36, '-').c_str(),
                std::string(11, '-').c_str(), std::string(12, '-').c_str(),
                std::string(10, '-').c_str(), std::string(11, '-').c_str(),
                std::string(30, '-').c_str(), std::string(5, '-').c_str());
}

void run_case(const Case &c, const Options &o) {
    const double inf = std::numeric_limits<double>::infinity();
    double floor = inf, library = inf, baseline = inf;
    // Every run starts with no dirty pages anywhere, so that none pays for
    // the writing-back of what another left behind.
    auto timed = [&](int variant, const std::function<void()> &f, double &best) {
        if (c.setup) c.setup(variant);
        ::sync();
        best = std::min(best, seconds(f, o.wall));
    };
    for (int r = 0; r < o.repeat; ++r) {
        timed(0, c.floor, floor);
        timed(1, c.library, library);
        if (c.baseline && r < o.baseline_repeat) timed(2, c.baseline, baseline);
    }
    Row row{c.name,
            target_text(c),
            c.values,
            c.values / library,
            library / floor,
            c.baseline ? baseline / library : 0,
            c.floor_limit > 0 || c.speedup_min > 0,
            true};
    if (c.floor_limit > 0) row.met = row.met && row.to_floor <= c.floor_limit;
    if (c.speedup_min > 0) row.met = row.met && row.speedup >= c.speedup_min;
    rows.push_back(row);
    print_row(row);
}

// ======================================================================
// The cases
// ======================================================================

std::string self_path;

// Peak resident memory of this process so far, in bytes (VmHWM); -1 when
// the system does not say.
double own_peak() {
    std::FILE *f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    double kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atof(line + 6);
    std::fclose(f);
    return kib < 0 ? -1 : kib * 1024;
}

std::string quoted(const std::string &text) {
    std::string q = "'";
    for (char ch : text)
        q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return q + "'";
}

// Peak resident memory of one conversion, in bytes, run in a fresh process
// that reports its own peak (a forked copy of this one would start with
// the benchmark's memory).
double conversion_peak(const Model &m) {
    const std::string command =
        quoted(self_path) + " --convert " + quoted(m.map) + " " + quoted(m.base);
    std::FILE *child = popen(command.c_str(), "r");
    if (!child) return -1;
    double peak = -1;
    if (std::fscanf(child, "%lf", &peak) != 1) peak = -1;
    return pclose(child) == 0 ? peak : -1;
}

void memory_row(const Model &m) {
    const double bytes = static_cast<double>(m.values()) * sizeof(double);
    const double limit = 1.25 * bytes + 32.0 * 1024 * 1024;
    const double peak = conversion_peak(m);
    char line[256];
    std::snprintf(line, sizeof line, "| %5d | %8.1f | %8.1f | %8.1f | %5.2f | %-3s |", m.n,
                  bytes / 1048576, peak / 1048576, limit / 1048576, peak / limit,
                  peak > 0 && peak <= limit ? "yes" : "no");
    memory_lines.push_back(line);
}

// ======================================================================
// Outputs of library and baseline compared
// ======================================================================

std::vector<std::string> comparisons;
bool outputs_differ = false;

// Whether two files hold the same bytes.
bool same_bytes(const std::string &x, const std::string &y) {
    std::FILE *a = std::fopen(x.c_str(), "rb"), *b = std::fopen(y.c_str(), "rb");
    bool same = a && b;
    static std::vector<char> p(block), q(block);
    while (same) {
        const size_t n = std::fread(p.data(), 1, block, a), k = std::fread(q.data(), 1, block, b);
        same = n == k && std::memcmp(p.data(), q.data(), n) == 0;
        if (n == 0) break;
    }
    if (a) std::fclose(a);
    if (b) std::fclose(b);
    return same;
}

void compare_outputs(const std::string &name, const std::vector<std::string> &library,
                     const std::vector<std::string> &baseline) {
    bool same = library.size() == baseline.size();
    for (size_t k = 0; same && k < library.size(); ++k)
        same = same_bytes(library[k], baseline[k]);
    outputs_differ = outputs_differ || !same;
    comparisons.push_back(name + ": " + (same ? "the same bytes" : "DIFFERENT") + " (" +
                          std::to_string(total_size(library)) + " bytes)");
}

void remove_all(const std::vector<std::string> &files) {
    for (const std::string &f : files)
        std::remove(f.c_str());
}

// ======================================================================
// The cases of one model
// ======================================================================

// The setup of a case whose three variants write the given files.
std::function<void(int)> removing(std::vector<std::string> floor, std::vector<std::string> library,
                                  std::vector<std::string> baseline) {
    return [=](int variant) {
        remove_all(variant == 0 ? floor : variant == 1 ? library : baseline);
    };
}

void read_case(const Model &m, const std::string &label, const Options &o) {
    const std::vector<std::string> abc = abc_files(m.base);
    run_case({"read ABC set" + label, static_cast<double>(m.values()), nullptr,
              [abc] { read_floor(abc); },
              [&m] {
                  Matrices x;
                  read_all(m, x, ABCread_mtx);
              },
              [&m] {
                  Matrices x;
                  read_all(m, x, sorvan::bench::baseline_read_mtx);
              },
              3, 0},
             o);
}

// The writers alone, on the matrices in memory.
void write_case(const Model &m, const std::string &label, const Options &o,
                const std::string &floor, const std::string &library, const std::string &baseline) {
    MAPmodel *map = read_map(m.map.c_str());
    Matrices loaded;
    read_all(m, loaded, ABCread_mtx);
    write_bdf_library(m, map, loaded, library);
    const long bdf_bytes = file_size(library);
    run_case({"write BDF" + label, static_cast<double>(m.values()),
              removing({floor}, {library}, {baseline}),
              [floor, bdf_bytes] { write_floor(floor, bdf_bytes); },
              [&] { write_bdf_library(m, map, loaded, library); },
              [&] { write_bdf_baseline(m, map, loaded, baseline); }, 0, 0},
             o);
    MAPfree(map);
    compare_outputs("write BDF" + label, {library}, {baseline});
}

void convert_case(const Model &m, const std::string &label, const Options &o, bool largest,
                  const std::string &floor, const std::string &baseline) {
    const std::vector<std::string> abc = abc_files(m.base);
    const long bdf_bytes = file_size(m.bdf);
    run_case({"convert (kavel2pelda)" + label, static_cast<double>(m.values()),
              removing({floor}, {m.bdf}, {baseline}),
              [abc, floor, bdf_bytes] {
                  read_floor(abc);
                  write_floor(floor, bdf_bytes);
              },
              [&m] { convert_library(m); }, [&m, baseline] { convert_baseline(m, baseline); },
              largest ? 2.0 : 0, largest ? 10.0 : 0},
             o);
    compare_outputs("convert (kavel2pelda)" + label, {m.bdf}, {baseline});
}

void statemat_case(const Model &m, const std::string &label, const Options &o,
                   const std::string &floor) {
    const long abc_bytes = total_size(abc_files(m.base));
    ac_object obj = host_object(m);
    const std::string set = o.work + "/set_", base_set = o.work + "/base_set_";
    run_case({"stmatwri" + label, static_cast<double>(m.values()),
              removing({floor}, abc_files(set), abc_files(base_set)),
              [floor, abc_bytes] { write_floor(floor, abc_bytes); },
              [obj, set] { stmatwri(obj, set.c_str(), 0.0, 1.0); },
              [&m, base_set] { statemat_baseline(m, base_set); }, 2, 0},
             o);
    compare_outputs("stmatwri" + label, abc_files(set), abc_files(base_set));
    remove_all(abc_files(set));
    remove_all(abc_files(base_set));
    plexa_db_reset();
}

void model_cases(const Options &o, Model &m) {
    const std::string label = ", " + std::to_string(m.n) + " states";
    const std::string floor = o.work + "/floor.out", library = o.work + "/library.bdf",
                      baseline = o.work + "/baseline.bdf";
    const bool largest = m.n == *std::max_element(o.sizes.begin(), o.sizes.end());
    if (convert_library(m) != 1) {
        std::fprintf(stderr, "the generated model of %d states was not converted\n", m.n);
        std::exit(1);
    }
    read_case(m, label, o);
    write_case(m, label, o, floor, library, baseline);
    convert_case(m, label, o, largest, floor, baseline);
    statemat_case(m, label, o, floor);
    remove_all({floor, library, baseline});
    memory_row(m);
    std::remove(m.bdf.c_str());
}

void road_case(const Options &o, int nprofs) {
    const double interval = 0.05;
    const double length = static_cast<double>(o.samples - 1) * interval;
    const double n = std::ceil(length * (1.0 / interval)) + 1.0;
    const std::string file = o.work + "/road.rsp";
    // Every sample draws three deviates from each of nprofs == 1 ? 1 : 3 streams.
    const double draws = n * 3 * (nprofs == 1 ? 1 : 3);
    run_case(
        {"road profile + RPC III, " + std::to_string(nprofs) + " track" + (nprofs == 1 ? "" : "s"),
         n, [file](int) { std::remove(file.c_str()); },
         [draws] {
             int32_t idum = -1;
             double sum = 0;
             for (double k = 0; k < draws; ++k)
                 sum += gasdev(&idum);
             if (sum == 0.123456789) std::puts(""); // keeps the draws
         },
         [=] {
             genrprof_sayers_to_rpc(file.c_str(), "left", "right", 2e-7, 1e-6, 5e-6, 5.0, length,
                                    interval, nprofs, 1);
         },
         nullptr, 1.5, 0},
        o);
    std::remove(file.c_str());
}

// One conversion, then its peak memory in bytes on the standard output.
int convert_once(const char *map, const char *base) {
    Model m;
    m.map = map;
    m.base = base;
    if (convert_library(m) != 1) return 1;
    std::printf("%.0f\n", own_peak());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "--convert") == 0) return convert_once(argv[2], argv[3]);
    Options o;
    if (!parse_options(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: %s [--work DIR] [--sizes N,N,...] [--repeat N] "
                     "[--baseline-repeat N] [--samples N] [--keep] [--wall]\n",
                     argv[0]);
        return 64;
    }
    char self[4096];
    ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    self_path = len > 0 ? std::string(self, size_t(len)) : argv[0];
    ::mkdir(o.work.c_str(), 0777);
    std::printf("%s time; repetitions: %d (baselines %d), the best of each counts\n\n",
                o.wall ? "wall-clock" : "CPU", o.repeat, o.baseline_repeat);
    print_head();
    for (int n : o.sizes) {
        Model m;
        if (!make_model(o, n, m)) {
            std::fprintf(stderr, "cannot write the model files in %s\n", o.work.c_str());
            return 1;
        }
        model_cases(o, m);
        if (o.keep) continue;
        for (const std::string &f : abc_files(m.base))
            std::remove(f.c_str());
        std::remove(m.map.c_str());
    }
    road_case(o, 1);
    road_case(o, 2);
    std::printf("\n");
    print_head();
    for (const Row &r : rows)
        print_row(r);
    std::printf("\nPeak resident memory of one conversion (MiB), limit 1.25 x the matrices as "
                "doubles + 32 MiB:\n\n"
                "| states | matrices | peak | limit | peak / limit | met |\n"
                "|---|---|---|---|---|---|\n");
    for (const std::string &line : memory_lines)
        std::printf("%s\n", line.c_str());
    std::printf("\nOutputs of library and baseline:\n");
    for (const std::string &line : comparisons)
        std::printf("- %s\n", line.c_str());
    return outputs_differ ? 1 : 0;
}
