// MAP file: the model description that accompanies an ABC file set.
//
// The file is a text of marked sections. Every reader rewinds the file,
// finds its section by the marker at the start of a line and reads it; lines
// outside the sections are passed over, so sections may stand in any order.
// Every count, index and field is checked before it indexes an array: a file
// that breaks the layout is refused through MAPerror, which releases the
// record, and the reader returns MAP_FAILED.
#include "model_input/map.h"
#include "model_input/units.h"

#include "frame/guard.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

namespace {

// ======================================================================
// Numbers
// ======================================================================

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Whether the number text in [p, end), which the parser found out of range,
// is too large (true) or too small (false). Out of range means a decimal
// exponent beyond about 308 either way, so the position of the first
// non-zero digit plus the written exponent decides it.
bool overflows(const char *p, const char *end) {
    if (p < end && (*p == '-' || *p == '+')) ++p;
    long long order = -1; // decimal exponent of the first non-zero digit
    bool seen = false;
    for (; p < end && is_digit(*p); ++p) {
        seen = seen || *p != '0';
        if (seen) ++order;
    }
    if (p < end && *p == '.')
        for (++p; p < end && is_digit(*p); ++p) {
            if (seen) continue;
            if (*p != '0')
                seen = true;
            else
                --order;
        }
    long long exp = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negative = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+')) ++p;
        for (; p < end && is_digit(*p); ++p)
            if (exp < 1000000) // far beyond any double; keeps the sum in range
                exp = exp * 10 + (*p - '0');
        if (negative) exp = -exp;
    }
    return order + exp > 0;
}

} // namespace

extern "C" double MAPparse_real(const char *text, const char *end, const char **stop) {
    const char *p = text;
    while (p < end && is_space(*p))
        ++p;
    const char *number = p;
    const bool plus = p < end && *p == '+';
    if (plus) // the parser below takes a "-" only
        ++p;
    double value = 0.0;
    std::from_chars_result r{text, std::errc::invalid_argument};
    if (!(plus && p < end && *p == '-')) // "+-1" is no number
        r = std::from_chars(p, end, value, std::chars_format::general);
    if (r.ec == std::errc::invalid_argument) {
        if (stop != nullptr) *stop = text;
        return 0.0;
    }
    if (r.ec == std::errc::result_out_of_range) {
        value = overflows(number, r.ptr) ? HUGE_VAL : 0.0;
        if (*number == '-') value = -value;
    }
    if (stop != nullptr) *stop = r.ptr;
    return value;
}

extern "C" int32_t MAPparse_int(const char *text) {
    const char *p = text;
    while (is_space(*p))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    long long value = 0;
    for (; is_digit(*p); ++p)
        if (value <= INT32_MAX) // one past the range is enough to saturate
            value = value * 10 + (*p - '0');
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

extern "C" int32_t MAPreal_to_int(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(value);
}

namespace {

// ======================================================================
// Lines
// ======================================================================

// Reads a MAP file one whole line at a time, whatever its length, so that
// the tail of a long line never passes for a line of its own.
struct line_reader {
    FILE *file;
    unsigned long number; // of the line last read, from 1
    bool overflow;        // a line longer than any MAP file ended the reading
    std::string text;     // the line, its line break included
};

void start(line_reader *r, FILE *file) {
    r->file = file;
    r->number = 0;
    r->overflow = false;
    r->text.clear();
    rewind(file);
}

// Reads the next line into r->text. Returns false at the end of the file
// (or on a read error, which the callers check with ferror, or on a line
// longer than MAP_FILE_MAX, which sets overflow).
bool next_line(line_reader *r) {
    r->text.clear();
    int c = 0;
    while ((c = getc(r->file)) != EOF) {
        r->text.push_back(static_cast<char>(c));
        if (c == '\n') break;
        if (r->text.size() > MAP_FILE_MAX) {
            r->overflow = true;
            return false;
        }
    }
    if (r->text.empty()) return false;
    ++r->number;
    return true;
}

bool begins_with(const std::string &text, const char *head, size_t n) {
    return std::strncmp(text.c_str(), head, n) == 0;
}

// Reads up to and including the first line that begins with the n
// characters of head. Returns false when the file ends first.
bool find_line(line_reader *r, const char *head, size_t n) {
    while (next_line(r))
        if (begins_with(r->text, head, n)) return true;
    return false;
}

// Copies the message into out with every control character written as an
// escape, so that a label that kept its line break still gives one line.
void escape_line(const char *message, FILE *out) {
    for (const char *p = message; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '\n')
            fputs("\\n", out);
        else if (c == '\r')
            fputs("\\r", out);
        else if (c == '\t')
            fputs("\\t", out);
        else if (c < 0x20 || c == 0x7f)
            fprintf(out, "\\x%02x", c);
        else
            putc(c, out);
    }
    putc('\n', out);
}

// ======================================================================
// The record
// ======================================================================

template <class T> void release(T *&array) {
    std::free(array);
    array = nullptr;
}

void release_arrays(MAPmodel *map) {
    release(map->input);
    release(map->output);
    release(map->ext_index);
    release(map->ext_name);
    release(map->node_out);
    release(map->node_id);
    release(map->node_xyz);
    release(map->element);
    release(map->wheel_out);
    release(map->wheel_geom);
}

// Allocates count zeroed elements; a count of 0 allocates nothing.
template <class T> bool allocate(T *&array, int32_t count) {
    array = nullptr;
    if (count <= 0) return true;
    array = static_cast<T *>(std::calloc(static_cast<size_t>(count), sizeof *array));
    return array != nullptr;
}

// The summary counts by the names the messages use.
struct count_field {
    int32_t MAPmodel::*field;
    const char *name;
};

const count_field counts[] = {
    {&MAPmodel::n_input, "n_input"},       {&MAPmodel::n_output, "n_output"},
    {&MAPmodel::n_external, "n_external"}, {&MAPmodel::n_element, "n_element"},
    {&MAPmodel::n_node, "n_node"},         {&MAPmodel::n_wheel, "n_wheel"},
};

// n_output + 3 n_node + 6 n_wheel, in a type that cannot overflow for int32
// counts.
long long outputs_all(const MAPmodel *map) {
    return (static_cast<long long>(map->n_node) + 2LL * map->n_wheel) * 3 + map->n_output;
}

// Checks the counts before they size anything. Returns MAP_OK, or
// MAP_FAILED after MAPerror named the problem (where says who found it).
int check_counts(MAPmodel *map, const char *where) {
    for (const count_field &c : counts)
        if (map->*c.field < 0)
            return MAPerror(map, "%s: negative count %s = %d", where, c.name,
                            static_cast<int>(map->*c.field));
    const long long all = outputs_all(map);
    if (all > INT32_MAX)
        return MAPerror(map, "%s: n_output + 3 n_node + 6 n_wheel = %lld exceeds %ld outputs",
                        where, all, static_cast<long>(INT32_MAX));
    return MAP_OK;
}

} // namespace

extern "C" void MAPfree(MAPmodel *map) {
    if (map == nullptr) return;
    release_arrays(map);
    std::free(map);
}

extern "C" int MAPerror(MAPmodel *map, const char *format, ...) {
    char message[MAP_LINE_SIZE] = ""; // at most 255 characters
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        vsnprintf(message, sizeof message, format, args);
        va_end(args);
    }
    escape_line(message, stdout);
    fflush(stdout);
    MAPfree(map);
    return MAP_FAILED;
}

extern "C" int MAPalloc(MAPmodel *map) {
    if (map == nullptr) return MAP_FAILED;
    if (check_counts(map, "MAP record") != MAP_OK) return MAP_FAILED;
    release_arrays(map); // a second call must not leak the first arrays
    map->n_output_all = static_cast<int32_t>(outputs_all(map));
    const bool ok =
        allocate(map->input, map->n_input) && allocate(map->output, map->n_output_all) &&
        allocate(map->ext_index, map->n_external) && allocate(map->ext_name, map->n_external) &&
        allocate(map->node_out, map->n_node) && allocate(map->node_id, map->n_node) &&
        allocate(map->node_xyz, map->n_node) && allocate(map->element, map->n_element) &&
        allocate(map->wheel_out, map->n_wheel) && allocate(map->wheel_geom, map->n_wheel);
    if (!ok)
        return MAPerror(map,
                        "MAP record: out of memory for %d inputs, %d outputs, %d nodes, "
                        "%d elements and %d wheels",
                        static_cast<int>(map->n_input), static_cast<int>(map->n_output_all),
                        static_cast<int>(map->n_node), static_cast<int>(map->n_element),
                        static_cast<int>(map->n_wheel));
    return MAP_OK;
}

namespace {

// ======================================================================
// Key-line sections
// ======================================================================

// Returns MAP_OK, or MAP_FAILED after reporting a read error of the file.
int check_read(MAPmodel *map, const line_reader *r, const char *section) {
    if (r->overflow)
        return MAPerror(map, "MAP %s section, line %lu: longer than any MAP file (%llu bytes)",
                        section, r->number + 1, static_cast<unsigned long long>(MAP_FILE_MAX));
    if (!ferror(r->file)) return MAP_OK;
    return MAPerror(map, "MAP %s section, line %lu: read error", section, r->number + 1);
}

// A record or key line must fit MAP_LINE_MAX characters, its line break
// included. Returns MAP_OK, or MAP_FAILED after MAPerror.
int check_length(MAPmodel *map, const line_reader *r, const char *section, const char *what) {
    if (r->text.size() <= MAP_LINE_MAX) return MAP_OK;
    return MAPerror(map,
                    "MAP %s section, line %lu: %s of %zu characters; a MAP line holds at "
                    "most %d with its line break",
                    section, r->number, what, r->text.size(), MAP_LINE_MAX);
}

// Refuses a file that is no text (a NUL byte anywhere) or larger than any
// MAP file, before any of it is believed. Rewinds the file.
int check_text(MAPmodel *map, FILE *file) {
    rewind(file);
    char buffer[16384];
    unsigned long line = 1;
    unsigned long long total = 0;
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) {
        const char *nul = static_cast<const char *>(std::memchr(buffer, '\0', n));
        const char *end = nul ? nul : buffer + n;
        for (const char *p = buffer; p < end; ++p)
            line += *p == '\n';
        if (nul)
            return MAPerror(map,
                            "MAP file, line %lu: a NUL byte: not a text file, so not a MAP "
                            "file",
                            line);
        total += n;
        if (total > MAP_FILE_MAX)
            return MAPerror(map, "MAP file: more than %llu bytes, more than any MAP file holds",
                            static_cast<unsigned long long>(MAP_FILE_MAX));
    }
    if (ferror(file)) return MAPerror(map, "MAP file, line %lu: read error", line);
    rewind(file);
    return MAP_OK;
}

// Runs one exported reader. An exception (memory running out while a long
// line is read) releases the record as MAPerror would and gives MAP_FAILED.
template <class F> int map_reader(MAPmodel *map, F &&work) noexcept {
    return sorvan::guarded("MAP file", MAP_FAILED, std::forward<F>(work), [map] { MAPfree(map); });
}

struct size_key {
    const char *text;
    int32_t MAPmodel::*field;
    bool is_count; // counts may not be negative; offsets may
};

// Tested in this order on every body line, without stopping at a match.
const size_key size_keys[] = {
    {"ABCD_INPUT_N", &MAPmodel::n_input, true},
    {"ABCD_OUTPUT_", &MAPmodel::n_output, true},
    {"ABCD_EXTERNA", &MAPmodel::n_external, true},
    {"GRAPHICS_ELE", &MAPmodel::n_element, true},
    {"GRAPHICS_NOD", &MAPmodel::n_node, true},
    {"WHEEL_GRAPHI", &MAPmodel::n_wheel, true},
    {"GRID_ID_OFFS", &MAPmodel::grid_id_offset, false},
    {"ELEMENT_ID_O", &MAPmodel::element_id_offset, false},
};

// Whether the text after "=" holds a summary value: white space, an optional
// sign, then at least one digit (what follows the digits is a comment).
bool has_digits(const char *text) {
    while (is_space(*text))
        ++text;
    if (*text == '-' || *text == '+') ++text;
    return is_digit(*text);
}

// Sets every field whose key the summary line holds. A line with key text
// but no "=" is no key line (a marker such as "(WHEEL_GRAPHICS)" can stand
// in the body) and sets nothing.
int size_line(MAPmodel *map, const line_reader *r) {
    const char *line = r->text.c_str();
    const char *equals = std::strchr(line, '=');
    if (equals == nullptr) return MAP_OK;
    const int32_t value = MAPparse_int(equals + 1);
    for (const size_key &k : size_keys) {
        if (std::strstr(line, k.text) == nullptr) continue;
        if (check_length(map, r, "summary", "a key line") != MAP_OK) return MAP_FAILED;
        if (!has_digits(equals + 1))
            return MAPerror(map, "MAP summary section, line %lu: %s has no number after \"=\"",
                            r->number, k.text);
        if (k.is_count && value < 0)
            return MAPerror(map, "MAP summary section, line %lu: negative count %s = %d", r->number,
                            k.text, static_cast<int>(value));
        map->*k.field = value;
    }
    return MAP_OK;
}

struct unit_key {
    const char *text;
    double MAPmodel::*field;
};

const unit_key unit_keys[] = {
    {"LENGTH", &MAPmodel::unit_length}, {"ANGLE", &MAPmodel::unit_angle},
    {"FORCE", &MAPmodel::unit_force},   {"MASS", &MAPmodel::unit_mass},
    {"TIME", &MAPmodel::unit_time},
};

// MAPunit_constant with the line number for the message (0: none known).
double unit_constant(char *line, MAPmodel *map, unsigned long number) {
    char label[MAP_LABEL_SIZE] = "";
    const char *why = "";
    char *equals = std::strchr(line, '=');
    if (equals == nullptr) {
        why = "no \"=\"; ";
    } else {
        char *p = equals + 1;
        while (*p == ' ' || *p == '\'')
            ++p;
        char *q = p;
        while (*q != '\0' && *q != ' ' && *q != '\'')
            ++q;
        size_t n = static_cast<size_t>(q - p);
        if (n > MAP_LABEL_MAX) {
            n = MAP_LABEL_MAX;
            why = "longer than 31 characters; ";
        }
        std::memcpy(label, p, n);
        label[n] = '\0';
        *q = '\0'; // later keys of the line see the text up to the label's end
    }
    const double constant = *why == '\0' ? UNTconstant(label) : 0.0;
    if (constant != 0.0) return constant;
    if (number == 0)
        MAPerror(map, "Unsupported unit label... %s", label);
    else
        MAPerror(map, "Unsupported unit label... %s (%sMAP units section, line %lu)", label, why,
                 number);
    return 0.0;
}

} // namespace

extern "C" double MAPunit_constant(char *line, MAPmodel *map) {
    return unit_constant(line, map, 0);
}

namespace {

int read_size(MAPmodel *map, FILE *file) {
    if (check_text(map, file) != MAP_OK) return MAP_FAILED;
    line_reader r;
    start(&r, file);
    if (find_line(&r, "[FILE_SUMMARY]", 14)) {
        const unsigned long marker = r.number;
        while (next_line(&r) && r.text[0] != '[')
            if (size_line(map, &r) != MAP_OK) return MAP_FAILED;
        if (check_read(map, &r, "summary") != MAP_OK) return MAP_FAILED;
        const long long all = outputs_all(map);
        if (all > INT32_MAX)
            return MAPerror(map,
                            "MAP summary section, line %lu: n_output + 3 n_node + 6 n_wheel "
                            "= %lld exceeds %ld outputs",
                            marker, all, static_cast<long>(INT32_MAX));
        return MAP_OK;
    }
    return check_read(map, &r, "summary");
}

int read_unit(MAPmodel *map, FILE *file) {
    line_reader r;
    start(&r, file);
    if (find_line(&r, "[UNITS]", 7)) {
        while (next_line(&r) && r.text[0] != '[') {
            for (const unit_key &k : unit_keys) {
                if (std::strstr(r.text.c_str(), k.text) == nullptr) continue;
                if (check_length(map, &r, "units", "a key line") != MAP_OK) return MAP_FAILED;
                const double constant = unit_constant(r.text.data(), map, r.number);
                if (constant == 0.0) return MAP_FAILED;
                map->*k.field = constant;
            }
        }
    }
    return check_read(map, &r, "units");
}

} // namespace

extern "C" int MAPread_size(MAPmodel *map, FILE *file) {
    if (map == nullptr) return MAP_FAILED;
    if (file == nullptr) return MAPerror(map, "MAP summary section: the MAP file is not open");
    return map_reader(map, [&] { return read_size(map, file); });
}

extern "C" int MAPhas_section(FILE *file, const char *marker) {
    line_reader r;
    start(&r, file);
    return find_line(&r, marker, std::strlen(marker));
}

extern "C" int MAPread_unit(MAPmodel *map, FILE *file) {
    if (map == nullptr) return MAP_FAILED;
    if (file == nullptr) return MAPerror(map, "MAP units section: the MAP file is not open");
    return map_reader(map, [&] { return read_unit(map, file); });
}

namespace {

// ======================================================================
// Tables
// ======================================================================

// The most fields a record uses: a wheel line has 15.
constexpr int max_fields = 15;

struct section {
    const char *marker;
    size_t marker_length;
    const char *head;
    size_t head_length;
    const char *name; // for messages
};

const section input_section = {"[STATE_SPACE_IN", 15, "{abcd_index", 11, "state-space input"};
const section output_section = {"[STATE_SPACE_OU", 15, "{abcd_index", 11, "state-space output"};
const section external_section = {"[STATE_SPACE_EX", 15, "{abcd_index", 11, "external input"};
const section node_section = {"(NODES)", 7, "{id", 3, "nodes"};
const section element_section = {"(CONNECTIVITY)", 14, "{id", 3, "connectivity"};
const section wheel_section = {"(WHEEL_GRAPHICS", 15, "{id", 3, "wheels"};

// One table being read: the lines, and the fields of the current record.
struct table {
    MAPmodel *map;
    const section *sec;
    line_reader lines;
    int32_t count; // records to read
    int32_t done;  // records read so far
    int n_fields;
    const char *begin[max_fields];
    const char *end[max_fields];
    double value[max_fields]; // the record's fields, checked by next_record
};

// Whether the record's arrays are there for its counts, as MAPalloc left
// them. Guards against a reader called before MAPalloc.
bool allocated(const MAPmodel *map) {
    if (outputs_all(map) != map->n_output_all) return false;
    return (map->n_input <= 0 || map->input != nullptr) &&
           (map->n_output_all <= 0 || map->output != nullptr) &&
           (map->n_external <= 0 || (map->ext_index != nullptr && map->ext_name != nullptr)) &&
           (map->n_node <= 0 ||
            (map->node_out != nullptr && map->node_id != nullptr && map->node_xyz != nullptr)) &&
           (map->n_element <= 0 || map->element != nullptr) &&
           (map->n_wheel <= 0 || (map->wheel_out != nullptr && map->wheel_geom != nullptr));
}

// Rewinds the file and, when there are records to read, finds the section's
// marker and head line. Returns MAP_OK with t->count records to read (0 when
// the count is 0 or less), or MAP_FAILED after MAPerror.
int open_table(table *t, MAPmodel *map, FILE *file, const section *sec, long long count) {
    t->map = map;
    t->sec = sec;
    t->lines.file = nullptr;
    t->count = 0;
    t->done = 0;
    t->n_fields = 0;
    if (map == nullptr) return MAP_FAILED;
    if (file == nullptr)
        return MAPerror(map, "MAP %s section: the MAP file is not open", sec->name);
    if (check_counts(map, "MAP record") != MAP_OK) return MAP_FAILED;
    if (!allocated(map))
        return MAPerror(map, "MAP %s section: the record's arrays are not allocated (MAPalloc)",
                        sec->name);
    start(&t->lines, file);
    if (count <= 0) return MAP_OK;
    t->count = static_cast<int32_t>(count);
    if (!find_line(&t->lines, sec->marker, sec->marker_length)) {
        if (check_read(map, &t->lines, sec->name) != MAP_OK) return MAP_FAILED;
        return MAPerror(map, "MAP %s section: no line begins with \"%s\" (records expected: %d)",
                        sec->name, sec->marker, static_cast<int>(t->count));
    }
    const unsigned long marker = t->lines.number;
    if (!find_line(&t->lines, sec->head, sec->head_length)) {
        if (check_read(map, &t->lines, sec->name) != MAP_OK) return MAP_FAILED;
        return MAPerror(map, "MAP %s section, line %lu: no head line \"%s\" follows the marker",
                        sec->name, marker, sec->head);
    }
    return MAP_OK;
}

// Splits the current text into fields at runs of spaces; the line break
// stays with the last field. Only the first max_fields are kept.
void split_fields(table *t) {
    t->n_fields = 0;
    const char *p = t->lines.text.c_str();
    for (;;) {
        while (*p == ' ')
            ++p;
        if (*p == '\0' || t->n_fields == max_fields) return;
        t->begin[t->n_fields] = p;
        while (*p != '\0' && *p != ' ')
            ++p;
        t->end[t->n_fields++] = p;
    }
}

// Reads the next line of the table. Returns MAP_OK, or MAP_FAILED after
// MAPerror when the file ends before the record.
int table_line(table *t) {
    if (next_line(&t->lines)) return MAP_OK;
    if (check_read(t->map, &t->lines, t->sec->name) != MAP_OK) return MAP_FAILED;
    return MAPerror(t->map, "MAP %s section, line %lu: the file ends after %d of %d records",
                    t->sec->name, t->lines.number + 1, static_cast<int>(t->done),
                    static_cast<int>(t->count));
}

// Converts the text [begin, end) as one number: the whole of it (white
// space after the number aside) must be a finite number, and when integer
// is set its value truncated toward zero must fit int32. Returns MAP_OK
// with *value, or MAP_FAILED after MAPerror naming field k (from 1).
int number_field(const table *t, int k, const char *begin, const char *end, bool integer,
                 double *value) {
    const char *stop = nullptr;
    *value = MAPparse_real(begin, end, &stop);
    const char *rest = stop;
    while (rest < end && is_space(*rest))
        ++rest;
    const char *why = nullptr;
    if (stop == begin || rest != end)
        why = "is not a number";
    else if (!std::isfinite(*value))
        why = "is not a finite number";
    else if (integer && !(*value > -2147483649.0 && *value < 2147483648.0))
        why = "is beyond the 32-bit integers";
    if (why == nullptr) return MAP_OK;
    while (end > begin && is_space(end[-1]))
        --end;
    return MAPerror(t->map, "MAP %s section, line %lu: field %d \"%.40s\" %s", t->sec->name,
                    t->lines.number, k, std::string(begin, end).c_str(), why);
}

// Reads the next record line, splits it and converts its fields: kinds
// holds one letter per field the record uses, "i" an integer, "r" a real.
// The line must hold at least that many fields, each wholly a number;
// fields after them are not read.
int next_record(table *t, const char *kinds) {
    if (table_line(t) != MAP_OK) return MAP_FAILED;
    if (check_length(t->map, &t->lines, t->sec->name, "a record") != MAP_OK) return MAP_FAILED;
    split_fields(t);
    const int needed = static_cast<int>(std::strlen(kinds));
    if (t->n_fields < needed)
        return MAPerror(t->map, "MAP %s section, line %lu: %d fields found, %d required",
                        t->sec->name, t->lines.number, t->n_fields, needed);
    for (int i = 0; i < needed; ++i)
        if (number_field(t, i + 1, t->begin[i], t->end[i], kinds[i] == 'i', &t->value[i]) != MAP_OK)
            return MAP_FAILED;
    return MAP_OK;
}

double real_field(const table *t, int i) {
    return t->value[i];
}

int32_t int_field(const table *t, int i) {
    return MAPreal_to_int(t->value[i]);
}

// Checks a 1-based index against 1 to size. Returns MAP_OK, or MAP_FAILED
// after MAPerror naming what was out of range.
int check_index(const table *t, const char *what, int32_t index, int32_t size) {
    if (index >= 1 && index <= size) return MAP_OK;
    return MAPerror(t->map, "MAP %s section, line %lu: %s %d outside 1 to %d", t->sec->name,
                    t->lines.number, what, static_cast<int>(index), static_cast<int>(size));
}

// Output row o, from 1, of a node or wheel line: stores o - 1 into slot and
// the graphic output (id, component, kind 3) into the output row.
int graphic_output(const table *t, int32_t o, int32_t id, int32_t component, int32_t *slot) {
    MAPmodel *map = t->map;
    if (o < 1 || o > map->n_output_all)
        return MAPerror(map, "Illegal output index... %d (MAP %s section, line %lu)",
                        static_cast<int>(o), t->sec->name, t->lines.number);
    *slot = o - 1;
    map->output[o - 1] = MAPsignal{id, component, 3};
    return MAP_OK;
}

// Both table readers of the state-space signals: abcd index k, id, dof and,
// for outputs, kind. Each abcd index may appear once: a second record of
// the same row would overwrite the first and leave another row undescribed.
int read_signals(MAPmodel *map, FILE *file, const section *sec, long long count, bool with_kind) {
    table t;
    if (open_table(&t, map, file, sec, count) != MAP_OK) return MAP_FAILED;
    MAPsignal *signals = with_kind ? map->output : map->input;
    const int32_t size = with_kind ? map->n_output_all : map->n_input;
    std::unordered_map<int32_t, unsigned long> first_line; // of each abcd index read
    for (; t.done < t.count; ++t.done) {
        if (next_record(&t, with_kind ? "iiii" : "iii") != MAP_OK) return MAP_FAILED;
        const int32_t k = int_field(&t, 0);
        if (check_index(&t, "abcd index", k, size) != MAP_OK) return MAP_FAILED;
        const auto [seen, is_new] = first_line.emplace(k, t.lines.number);
        if (!is_new)
            return MAPerror(map,
                            "MAP %s section, line %lu: abcd index %d appears twice "
                            "(first on line %lu)",
                            sec->name, t.lines.number, static_cast<int>(k), seen->second);
        MAPsignal signal{int_field(&t, 1), int_field(&t, 2), with_kind ? int_field(&t, 3) : 0};
        // A coupling output pairs with an input by point and component:
        // one outside 1 to 6 can never couple.
        if ((signal.kind == 1 || signal.kind == 2) && (signal.dof < 1 || signal.dof > 6))
            return MAPerror(map,
                            "MAP %s section, line %lu: output %d of kind %d has component "
                            "%d, outside 1 to 6",
                            sec->name, t.lines.number, static_cast<int>(k),
                            static_cast<int>(signal.kind), static_cast<int>(signal.dof));
        signals[k - 1].id = signal.id;
        signals[k - 1].dof = signal.dof;
        if (with_kind) signals[k - 1].kind = signal.kind;
    }
    return MAP_OK;
}

// One external input: the name line ("$" and the name after it) and the
// index line. The name keeps its line break; it holds at most MAP_NAME_MAX
// characters besides.
int external_entry(table *t, std::unordered_map<int32_t, unsigned long> &first_line) {
    MAPmodel *map = t->map;
    if (table_line(t) != MAP_OK) return MAP_FAILED;
    const std::string &line = t->lines.text;
    const size_t dollar = line.find('$');
    if (dollar == std::string::npos)
        return MAPerror(map, "MAP %s section, line %lu: the name line has no \"$\"", t->sec->name,
                        t->lines.number);
    std::string name = line.substr(dollar + 1);
    size_t length = name.size(); // without the line break
    if (length > 0 && name[length - 1] == '\n') --length;
    if (length > 0 && name[length - 1] == '\r') --length;
    if (length > MAP_NAME_MAX)
        return MAPerror(map,
                        "MAP %s section, line %lu: a name of %zu characters; a name holds "
                        "at most %d and the line break",
                        t->sec->name, t->lines.number, length, MAP_NAME_MAX);
    if (name.size() >= MAP_NAME_SIZE) // the longest name with CR LF: keep one line break
        name.replace(length, std::string::npos, "\n");
    std::memcpy(map->ext_name[t->done], name.c_str(), name.size() + 1);
    if (table_line(t) != MAP_OK) return MAP_FAILED;
    if (check_length(map, &t->lines, t->sec->name, "an index line") != MAP_OK) return MAP_FAILED;
    const char *text = t->lines.text.c_str();
    double value = 0.0;
    if (number_field(t, 1, text, text + t->lines.text.size(), true, &value) != MAP_OK)
        return MAP_FAILED;
    const int32_t m = MAPreal_to_int(value);
    if (check_index(t, "external index", m, map->n_external) != MAP_OK) return MAP_FAILED;
    const auto [seen, is_new] = first_line.emplace(m, t->lines.number);
    if (!is_new)
        return MAPerror(map,
                        "MAP %s section, line %lu: external index %d appears twice "
                        "(first on line %lu)",
                        t->sec->name, t->lines.number, static_cast<int>(m), seen->second);
    map->ext_index[m - 1] = m;
    return MAP_OK;
}

int node_record(table *t) {
    MAPmodel *map = t->map;
    if (next_record(t, "irrriii") != MAP_OK) return MAP_FAILED;
    const int32_t i = t->done;
    const int32_t id = int_field(t, 0);
    map->node_id[i] = id;
    for (int j = 0; j < 3; ++j)
        map->node_xyz[i][j] = real_field(t, 1 + j);
    for (int j = 0; j < 3; ++j)
        if (graphic_output(t, int_field(t, 4 + j), id, j + 1, &map->node_out[i][j]) != MAP_OK)
            return MAP_FAILED;
    return MAP_OK;
}

int element_record(table *t) {
    MAPmodel *map = t->map;
    if (next_record(t, "iii") != MAP_OK) return MAP_FAILED;
    MAPelement e{int_field(t, 0), int_field(t, 1), int_field(t, 2)};
    if (check_index(t, "node position", e.node1, map->n_node) != MAP_OK ||
        check_index(t, "node position", e.node2, map->n_node) != MAP_OK)
        return MAP_FAILED;
    map->element[t->done] = e;
    return MAP_OK;
}

int wheel_record(table *t) {
    MAPmodel *map = t->map;
    if (next_record(t, "irrrrrrrriiiiii") != MAP_OK) return MAP_FAILED;
    const int32_t i = t->done;
    const int32_t id = int_field(t, 0);
    for (int j = 0; j < 8; ++j)
        map->wheel_geom[i][j] = real_field(t, 1 + j);
    for (int j = 0; j < 6; ++j)
        if (graphic_output(t, int_field(t, 9 + j), id, j + 1, &map->wheel_out[i][j]) != MAP_OK)
            return MAP_FAILED;
    return MAP_OK;
}

// Reads count records of a table with one record reader.
int read_table(MAPmodel *map, FILE *file, const section *sec, long long count,
               int (*record)(table *)) {
    table t;
    if (open_table(&t, map, file, sec, count) != MAP_OK) return MAP_FAILED;
    for (; t.done < t.count; ++t.done)
        if (record(&t) != MAP_OK) return MAP_FAILED;
    return MAP_OK;
}

} // namespace

extern "C" int MAPread_input(MAPmodel *map, FILE *file) {
    return map_reader(map, [&] {
        const long long count = map ? static_cast<long long>(map->n_input) - map->n_external : 0;
        return read_signals(map, file, &input_section, count, false);
    });
}

extern "C" int MAPread_output(MAPmodel *map, FILE *file) {
    return map_reader(map, [&] {
        return read_signals(map, file, &output_section, map ? map->n_output : 0, true);
    });
}

extern "C" int MAPread_external_input(MAPmodel *map, FILE *file) {
    return map_reader(map, [&] {
        table t;
        if (open_table(&t, map, file, &external_section, map ? map->n_external : 0) != MAP_OK)
            return MAP_FAILED;
        std::unordered_map<int32_t, unsigned long> first_line; // of each index read
        for (; t.done < t.count; ++t.done)
            if (external_entry(&t, first_line) != MAP_OK) return MAP_FAILED;
        return MAP_OK;
    });
}

extern "C" int MAPread_node(MAPmodel *map, FILE *file) {
    return map_reader(map, [&] {
        return read_table(map, file, &node_section, map ? map->n_node : 0, node_record);
    });
}

extern "C" int MAPread_element(MAPmodel *map, FILE *file) {
    return map_reader(map, [&] {
        return read_table(map, file, &element_section, map ? map->n_element : 0, element_record);
    });
}

extern "C" int MAPread_wheel(MAPmodel *map, FILE *file) {
    return map_reader(map, [&] {
        return read_table(map, file, &wheel_section, map ? map->n_wheel : 0, wheel_record);
    });
}
