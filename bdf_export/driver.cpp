// The converter driver: reads a MAP file and an ABC file set, checks them and
// writes the bulk data file; see driver.h for the sequence and results.
#include "bdf_export/driver.h"

#include "bdf_export/bdf.h"
#include "bdf_export/cards.h"
#include "bdf_export/checks.h"
#include "frame/file_identity.h"
#include "frame/guard.h"
#include "frame/output_file.h"
#include "model_input/map.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace sorvan::bdf {

namespace {

// Size of the time label that a time unit code selects ("hour" at most).
constexpr size_t time_label_size = 32;

// Longest file name shown after a fixed message: message and name together
// stay within the 255 characters that MAPerror forms (two names: SHORT_NAME).
#define NAME_CONTEXT "%.160s"
#define SHORT_NAME "%.90s"

const char *const unit_kinds[4] = {"length", "force", "mass", "time"};
char *const header_labels[4] = {lu_lab, fu_lab, mu_lab, tu_lab};

const char *shown(const char *name) {
    return name ? name : "(no name)";
}

// ---- export units -------------------------------------------------------

int32_t set_unit_factors(const Conversion &c) {
    double *factors[4] = {&lu_fac, &fu_fac, &mu_fac, &tu_fac};
    for (int k = 0; k < 4; ++k)
        *factors[k] = c.labels[k] ? UNTconstant(c.labels[k]) : 0.0;
    if (c.copy_labels)
        for (int k = 0; k < 4; ++k)
            std::snprintf(header_labels[k], sizeof lu_lab, "%s", c.labels[k] ? c.labels[k] : "");
    for (int k = 0; k < 4; ++k) {
        if (*factors[k] != 0.0) continue;
        BDFreport("unknown export %s unit label \"%.63s\"", unit_kinds[k],
                  c.labels[k] ? c.labels[k] : "");
        return -6;
    }
    return done;
}

// ---- MAP file -----------------------------------------------------------

// The sections after the summary and units; MAP_FAILED once a reader has
// released the record.
int read_tables(MAPmodel *map, FILE *file, bool external_inputs) {
    if (MAPalloc(map) != MAP_OK || MAPread_input(map, file) != MAP_OK ||
        MAPread_output(map, file) != MAP_OK)
        return MAP_FAILED;
    if (external_inputs && MAPread_external_input(map, file) != MAP_OK) return MAP_FAILED;
    if (MAPread_node(map, file) != MAP_OK || MAPread_element(map, file) != MAP_OK ||
        MAPread_wheel(map, file) != MAP_OK)
        return MAP_FAILED;
    return MAP_OK;
}

// Reads the whole record from the open file. On any result but done the
// record has been released.
int32_t read_sections(const Conversion &c, MAPmodel *map, FILE *file) {
    if (MAPread_size(map, file) != MAP_OK) return failed;
    // Without a summary nothing of the file is known: say so rather than
    // what the first later check would miss.
    if (!MAPhas_section(file, "[FILE_SUMMARY]")) {
        MAPerror(map, NAME_CONTEXT ": no [FILE_SUMMARY] section: not a MAP file", c.map_file);
        return -2;
    }
    if (MAPread_unit(map, file) != MAP_OK) return failed;
    if (c.after_units && !c.after_units(*map)) {
        MAPfree(map);
        return failed;
    }
    if (map->n_input == 0) {
        MAPerror(map, "State space input is not found. (" NAME_CONTEXT ")", c.map_file);
        return -2;
    }
    if (map->n_output == 0) {
        MAPerror(map, "State space output is not found. (" NAME_CONTEXT ")", c.map_file);
        return -3;
    }
    if (!check_units(*map, c.map_file)) {
        MAPfree(map);
        return failed;
    }
    grid_id = map->grid_id_offset;
    element_id = map->element_id_offset;
    return read_tables(map, file, c.external_inputs) == MAP_OK ? done : failed;
}

int32_t read_map(const Conversion &c, MAPmodel **out) {
    if (file_kind(c.map_file) == FileKind::other) { // never opened: a pipe would wait
        BDFreport("%s: not a regular file (a folder, a device or a pipe), so not a MAP file",
                  c.map_file);
        return failed;
    }
    FILE *file = c.map_file ? std::fopen(c.map_file, "r") : nullptr;
    if (!file) {
        BDFreport("%s: cannot open the MAP file: %s", shown(c.map_file),
                  c.map_file ? std::strerror(errno) : "no name given");
        return failed;
    }
    // A folder, a device or a pipe is no MAP file; an endless stream must
    // not be read at all.
    uint64_t size = 0;
    if (!regular_file(file, &size) || size > MAP_FILE_MAX) {
        if (size > MAP_FILE_MAX)
            BDFreport("%s: %llu bytes, more than any MAP file holds (at most %llu)", c.map_file,
                      static_cast<unsigned long long>(size),
                      static_cast<unsigned long long>(MAP_FILE_MAX));
        else
            BDFreport("%s: not a regular file (a folder, a device or a pipe), so not a MAP file",
                      c.map_file);
        std::fclose(file);
        return failed;
    }
    auto *map = static_cast<MAPmodel *>(std::calloc(1, sizeof(MAPmodel)));
    int32_t rc = map ? read_sections(c, map, file) : failed;
    std::fclose(file);
    if (rc == failed) BDFreport("%s: the MAP file was not converted", c.map_file);
    if (rc == done) *out = map;
    return rc;
}

// ---- matrices -----------------------------------------------------------

void release(Matrices &m) {
    for (ABCmtx **p : {&m.a, &m.b, &m.c, &m.d}) {
        if (*p) ABCfree(*p);
        *p = nullptr;
    }
}

// Reads all four before any result is looked at.
bool read_matrices(const char *abc_file, Matrices &m) {
    if (!abc_file) {
        BDFreport("no ABC file name given");
        return false;
    }
    m.a = ABCread_mtx(abc_file, 'a');
    m.b = ABCread_mtx(abc_file, 'b');
    m.c = ABCread_mtx(abc_file, 'c');
    m.d = ABCread_mtx(abc_file, 'd');
    bool ok = true;
    for (auto [mtx, letter] : {std::pair{m.a, 'a'}, {m.b, 'b'}, {m.c, 'c'}, {m.d, 'd'}}) {
        if (mtx) continue;
        // The reader names what it refused in a file it opened; a file it
        // could not open gets the system's reason here.
        const std::string name = std::string(abc_file) + letter;
        std::string why;
        if (std::FILE *f = open_input(name.c_str(), "r", UINT64_MAX, nullptr, why)) std::fclose(f);
        if (why.empty())
            BDFreport("%s: cannot read the matrix file", name.c_str());
        else
            BDFreport("%s: cannot read the matrix file: %s", name.c_str(), why.c_str());
        ok = false;
    }
    return ok;
}

// Compares B's columns and C's rows with the MAP counts; on a mismatch the
// record is released and *map set to null.
int32_t check_sizes(const Conversion &c, MAPmodel **map, const Matrices &m) {
    auto empty = [](const ABCmtx *x) { return x->nrows == 0 ? ", an empty file" : ""; };
    if ((*map)->n_input != m.b->ncols) {
        MAPerror(*map,
                 "Unmatch state input size. MAP: %d, MTX: %d (MAP file " SHORT_NAME
                 ", matrix file " SHORT_NAME "b%s)",
                 (*map)->n_input, m.b->ncols, c.map_file, c.abc_file, empty(m.b));
        *map = nullptr;
        return -4;
    }
    if ((*map)->n_output_all != m.c->nrows) {
        MAPerror(*map,
                 "Unmatch state output size. MAP: %d, MTX: %d (MAP file " SHORT_NAME
                 ", matrix file " SHORT_NAME "c%s)",
                 (*map)->n_output_all, m.c->nrows, c.map_file, c.abc_file, empty(m.c));
        *map = nullptr;
        return -5;
    }
    return done;
}

// ---- BDF name -----------------------------------------------------------

bool holds_line_break(const char *name) {
    return std::strpbrk(name, "\r\n") != nullptr;
}

bool is_bdf_extension(const char *ext) {
    const char *bdf = "bdf";
    for (; *ext && *bdf; ++ext, ++bdf)
        if ((*ext | 0x20) != *bdf) return false;
    return *ext == '\0' && *bdf == '\0';
}

// The name's file-name part (after its last folder separator), where the
// extension rule applies: a "." in a folder name is no extension.
const char *file_part(const char *name) {
    const char *part = name;
    for (const char *p = name; *p; ++p)
        if (std::strchr(path_separators, *p)) part = p + 1;
    return part;
}

// Whether the BDF would replace one of the conversion's own inputs: the
// same file, however it is reached (a link, another spelling of the name).
// Returns the input's name, or an empty text when the BDF replaces none.
std::string replaced_input(const std::string &bdf, const Conversion &c) {
    if (same_file(bdf.c_str(), c.map_file)) return c.map_file;
    for (char letter : {'a', 'b', 'c', 'd'}) {
        std::string member = std::string(c.abc_file) + letter;
        if (same_file(bdf.c_str(), member.c_str())) return member;
    }
    return {};
}

// Replaces everything after the last "." of the name's file-name part by
// "bdf", or appends ".bdf" to a file-name part without one. Refuses a name
// that would replace an input file or that does not fit.
bool form_bdf_name(const Conversion &c) {
    const char *map_file = c.map_file;
    if (holds_line_break(map_file) || holds_line_break(c.abc_file)) {
        BDFreport("a file name holds a line break, which the BDF header cannot show");
        return false;
    }
    std::string name;
    if (bdf_out[0] != '\0') { // the name the caller chose
        if (std::memchr(bdf_out, '\0', sizeof bdf_out) == nullptr || holds_line_break(bdf_out)) {
            BDFreport("the BDF file name bdf_out is not one line of text");
            return false;
        }
        name = bdf_out;
    } else {
        const char *part = file_part(map_file);
        if (*part == '\0') {
            BDFreport("%s: names a folder, not a MAP file", map_file);
            return false;
        }
        const char *dot = std::strrchr(part, '.');
        if (dot && is_bdf_extension(dot + 1)) {
            BDFreport("%s: the BDF file would replace the MAP file", map_file);
            return false;
        }
        name = dot ? std::string(map_file, dot + 1) + "bdf" : std::string(map_file) + ".bdf";
    }
    if (name.size() >= BDF_NAME_SIZE) {
        BDFreport("%.200s...: the BDF file name is longer than %d characters", map_file,
                  BDF_NAME_SIZE - 1);
        return false;
    }
    if (const std::string input = replaced_input(name, c); !input.empty()) {
        BDFreport("%s: the BDF file would replace the input file %s", name.c_str(), input.c_str());
        return false;
    }
    std::memcpy(bdf_name, name.c_str(), name.size() + 1);
    return true;
}

// ---- output -------------------------------------------------------------

void write_cards(FILE *bdf, const Conversion &c, MAPmodel *map, const Matrices &m) {
    BDFwrite_header(bdf, c.map_file, c.abc_file, bdf_name);
    BDFwrite_epoint(bdf, map, m.a);
    BDFwrite_grid(bdf, map);
    BDFwrite_plotel(bdf, map);
    BDFwrite_wheel(bdf, map);
    BDFwrite_tf_state(bdf, m.a, m.b);
    BDFwrite_tf_output(bdf, m.c, m.d);
    BDFwrite_tf_connect(bdf, map);
    if (c.external_inputs) BDFwrite_tf_ext_input(bdf, map);
    BDFwrite_tf_force(bdf, map);
    BDFwrite_dmig(bdf, map);
    std::fputs("$*\n$* KAVEL2PELDA: End of BDF for PELDA:\n$*\n", bdf);
}

// The deck's stream buffer. The TF lines, nearly all of a large deck, come
// in pieces of a megabyte gathered by their writers; stdio copies a piece
// into the stream buffer as far as that has room and hands the rest to the
// file directly, so a buffer this small lets most of the bytes through
// uncopied, and still gathers the small writes of the other cards.
constexpr size_t deck_buffer = size_t{1} << 16;

// Writes under a temporary name and moves the file into place only when
// every write and the close succeeded.
int32_t write_bdf(const Conversion &c, MAPmodel *map, const Matrices &m) {
    OutputFile out;
    FILE *bdf = out.open(bdf_name, false, deck_buffer);
    if (bdf) {
        write_cards(bdf, c, map, m);
        if (out.commit()) return done;
    }
    BDFreport("%s", out.error().c_str());
    return failed;
}

bool ready_to_write(const Conversion &c, const MAPmodel &map, const Matrices &m) {
    return check_model(m, map, c.map_file, c.abc_file) && form_bdf_name(c);
}

} // namespace

int32_t run_conversion(const Conversion &c) {
    int32_t rc = set_unit_factors(c);
    if (rc != done) return rc;
    MAPmodel *map = nullptr;
    rc = read_map(c, &map);
    if (rc != done) return rc;
    Matrices m;
    rc = read_matrices(c.abc_file, m) ? check_sizes(c, &map, m) : failed;
    if (rc == done) rc = ready_to_write(c, *map, m) ? write_bdf(c, map, m) : failed;
    release(m);
    if (map) MAPfree(map);
    return rc;
}

} // namespace sorvan::bdf

// ======================================================================
// Exported entry
// ======================================================================

extern "C" int32_t kavel2pelda(const char *map_file, const char *abc_file, char *length_unit,
                               char *force_unit, char *mass_unit, char time_unit) {
    using namespace sorvan::bdf;
    return sorvan::guarded("kavel2pelda", failed, [&] {
        char time_label[time_label_size];
        const char *label = time_unit == '0'   ? "ms"
                            : time_unit == '2' ? "min"
                            : time_unit == '3' ? "hour"
                                               : "sec";
        std::snprintf(time_label, sizeof time_label, "%s", label);
        Conversion c;
        c.map_file = map_file;
        c.abc_file = abc_file;
        char *labels[4] = {length_unit, force_unit, mass_unit, time_label};
        std::copy(labels, labels + 4, c.labels);
        return run_conversion(c);
    });
}
