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

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// ======================================================================
// Numbers
// ======================================================================

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Whether the number text in [p, end), which the parser found out of range,
// is too large (true) or too small (false). Out of range means a decimal
// exponent beyond about 308 either way, so the position of the first
// non-zero digit plus the written exponent decides it.
bool overflows(const char *p, const char *end)
{
    if (p < end && (*p == '-' || *p == '+'))
        ++p;
    long long order = -1; // decimal exponent of the first non-zero digit
    bool seen = false;
    for (; p < end && is_digit(*p); ++p) {
        seen = seen || *p != '0';
        if (seen)
            ++order;
    }
    if (p < end && *p == '.')
        for (++p; p < end && is_digit(*p); ++p) {
            if (seen)
                continue;
            if (*p != '0')
                seen = true;
            else
                --order;
        }
    long long exp = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negative = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+'))
            ++p;
        for (; p < end && is_digit(*p); ++p)
            if (exp < 1000000) // far beyond any double; keeps the sum in range
                exp = exp * 10 + (*p - '0');
        if (negative)
            exp = -exp;
    }
    return order + exp > 0;
}

} // namespace

extern "C" double MAPparse_real(const char *text, const char *end, const char **stop)
{
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
        if (stop != nullptr)
            *stop = text;
        return 0.0;
    }
    if (r.ec == std::errc::result_out_of_range) {
        value = overflows(number, r.ptr) ? HUGE_VAL : 0.0;
        if (*number == '-')
            value = -value;
    }
    if (stop != nullptr)
        *stop = r.ptr;
    return value;
}

extern "C" int32_t MAPparse_int(const char *text)
{
    const char *p = text;
    while (is_space(*p))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    long long value = 0;
    for (; is_digit(*p); ++p)
        if (value <= INT32_MAX) // one past the range is enough to saturate
            value = value * 10 + (*p - '0');
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

extern "C" int32_t MAPreal_to_int(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return INT32_MAX;
    if (value <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

namespace {

// ======================================================================
// Lines
// ======================================================================

// Reads a MAP file one line at a time, as fgets with a buffer of
// MAP_LINE_SIZE would, and keeps the number of the physical line that the
// text came from for messages (a line longer than MAP_LINE_MAX gives several
// texts with the same number).
struct line_reader {
    FILE *file;
    unsigned long number;      // line of the text last read, from 1
    unsigned long next_number; // line that the next read starts in
    char text[MAP_LINE_SIZE];
};

void start(line_reader *r, FILE *file)
{
    r->file = file;
    r->number = 0;
    r->next_number = 1;
    r->text[0] = '\0';
    rewind(file);
}

// Reads the next text into r->text. Returns false at the end of the file
// (or on a read error, which the callers check with ferror).
bool next_line(line_reader *r)
{
    size_t n = 0;
    int c = 0;
    while (n < MAP_LINE_MAX && (c = getc(r->file)) != EOF) {
        r->text[n++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    r->text[n] = '\0';
    if (n == 0)
        return false;
    r->number = r->next_number;
    if (c == '\n')
        ++r->next_number;
    return true;
}

bool begins_with(const char *text, const char *head, size_t n)
{
    return std::strncmp(text, head, n) == 0;
}

// Reads up to and including the first line that begins with the n
// characters of head. Returns false when the file ends first.
bool find_line(line_reader *r, const char *head, size_t n)
{
    while (next_line(r))
        if (begins_with(r->text, head, n))
            return true;
    return false;
}

// Copies the message into out with every control character written as an
// escape, so that a label that kept its line break still gives one line.
void escape_line(const char *message, FILE *out)
{
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

template <class T> void release(T *&array)
{
    std::free(array);
    array = nullptr;
}

void release_arrays(MAPmodel *map)
{
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
template <class T> bool allocate(T *&array, int32_t count)
{
    array = nullptr;
    if (count <= 0)
        return true;
    array = static_cast<T *>(std::calloc(static_cast<size_t>(count), sizeof *array));
    return array != nullptr;
}

// The summary counts by the names the messages use.
struct count_field {
    int32_t MAPmodel::*field;
    const char *name;
};

const count_field counts[] = {
    {&MAPmodel::n_input, "n_input"},     {&MAPmodel::n_output, "n_output"},
    {&MAPmodel::n_external, "n_external"}, {&MAPmodel::n_element, "n_element"},
    {&MAPmodel::n_node, "n_node"},       {&MAPmodel::n_wheel, "n_wheel"},
};

// n_output + 3 n_node + 6 n_wheel, in a type that cannot overflow for int32
// counts.
long long outputs_all(const MAPmodel *map)
{
    return (static_cast<long long>(map->n_node) + 2LL * map->n_wheel) * 3 + map->n_output;
}

// Checks the counts before they size anything. Returns MAP_OK, or
// MAP_FAILED after MAPerror named the problem (where says who found it).
int check_counts(MAPmodel *map, const char *where)
{
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

extern "C" void MAPfree(MAPmodel *map)
{
    if (map == nullptr)
        return;
    release_arrays(map);
    std::free(map);
}

extern "C" int MAPerror(MAPmodel *map, const char *format, ...)
{
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

extern "C" int MAPalloc(MAPmodel *map)
{
    if (map == nullptr)
        return MAP_FAILED;
    if (check_counts(map, "MAP record") != MAP_OK)
        return MAP_FAILED;
    release_arrays(map); // a second call must not leak the first arrays
    map->n_output_all = static_cast<int32_t>(outputs_all(map));
    const bool ok = allocate(map->input, map->n_input) &&
                    allocate(map->output, map->n_output_all) &&
                    allocate(map->ext_index, map->n_external) &&
                    allocate(map->ext_name, map->n_external) &&
                    allocate(map->node_out, map->n_node) && allocate(map->node_id, map->n_node) &&
                    allocate(map->node_xyz, map->n_node) &&
                    allocate(map->element, map->n_element) &&
                    allocate(map->wheel_out, map->n_wheel) &&
                    allocate(map->wheel_geom, map->n_wheel);
    if (!ok)
        return MAPerror(map, "MAP record: out of memory for %d inputs, %d outputs, %d nodes, "
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
int check_read(MAPmodel *map, const line_reader *r, const char *section)
{
    if (!ferror(r->file))
        return MAP_OK;
    return MAPerror(map, "MAP %s section, line %lu: read error", section, r->next_number);
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

// Sets every field whose key the summary line holds. A line with key text
// but no "=" is no key line (a marker such as "(WHEEL_GRAPHICS)" can stand
// in the body) and sets nothing.
int size_line(MAPmodel *map, const line_reader *r)
{
    const char *equals = std::strchr(r->text, '=');
    if (equals == nullptr)
        return MAP_OK;
    const int32_t value = MAPparse_int(equals + 1);
    for (const size_key &k : size_keys) {
        if (std::strstr(r->text, k.text) == nullptr)
            continue;
        if (k.is_count && value < 0)
            return MAPerror(map, "MAP summary section, line %lu: negative count %s = %d",
                            r->number, k.text, static_cast<int>(value));
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
double unit_constant(char *line, MAPmodel *map, unsigned long number)
{
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
    if (constant != 0.0)
        return constant;
    if (number == 0)
        MAPerror(map, "Unsupported unit label... %s", label);
    else
        MAPerror(map, "Unsupported unit label... %s (%sMAP units section, line %lu)", label, why,
                 number);
    return 0.0;
}

} // namespace

extern "C" double MAPunit_constant(char *line, MAPmodel *map)
{
    return unit_constant(line, map, 0);
}

extern "C" int MAPread_size(MAPmodel *map, FILE *file)
{
    if (map == nullptr)
        return MAP_FAILED;
    if (file == nullptr)
        return MAPerror(map, "MAP summary section: the MAP file is not open");
    line_reader r;
    start(&r, file);
    if (find_line(&r, "[FILE_SUMMARY]", 14)) {
        const unsigned long marker = r.number;
        while (next_line(&r) && r.text[0] != '[')
            if (size_line(map, &r) != MAP_OK)
                return MAP_FAILED;
        if (check_read(map, &r, "summary") != MAP_OK)
            return MAP_FAILED;
        const long long all = outputs_all(map);
        if (all > INT32_MAX)
            return MAPerror(map, "MAP summary section, line %lu: n_output + 3 n_node + 6 n_wheel "
                                 "= %lld exceeds %ld outputs",
                            marker, all, static_cast<long>(INT32_MAX));
        return MAP_OK;
    }
    return check_read(map, &r, "summary");
}

extern "C" int MAPread_unit(MAPmodel *map, FILE *file)
{
    if (map == nullptr)
        return MAP_FAILED;
    if (file == nullptr)
        return MAPerror(map, "MAP units section: the MAP file is not open");
    line_reader r;
    start(&r, file);
    if (find_line(&r, "[UNITS]", 7)) {
        while (next_line(&r) && r.text[0] != '[') {
            for (const unit_key &k : unit_keys) {
                if (std::strstr(r.text, k.text) == nullptr)
                    continue;
                const double constant = unit_constant(r.text, map, r.number);
                if (constant == 0.0)
                    return MAP_FAILED;
                map->*k.field = constant;
            }
        }
    }
    return check_read(map, &r, "units");
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
};

// Whether the record's arrays are there for its counts, as MAPalloc left
// them. Guards against a reader called before MAPalloc.
bool allocated(const MAPmodel *map)
{
    if (outputs_all(map) != map->n_output_all)
        return false;
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
int open_table(table *t, MAPmodel *map, FILE *file, const section *sec, long long count)
{
    t->map = map;
    t->sec = sec;
    t->count = 0;
    t->done = 0;
    t->n_fields = 0;
    if (map == nullptr)
        return MAP_FAILED;
    if (file == nullptr)
        return MAPerror(map, "MAP %s section: the MAP file is not open", sec->name);
    if (check_counts(map, "MAP record") != MAP_OK)
        return MAP_FAILED;
    if (!allocated(map))
        return MAPerror(map, "MAP %s section: the record's arrays are not allocated (MAPalloc)",
                        sec->name);
    start(&t->lines, file);
    if (count <= 0)
        return MAP_OK;
    t->count = static_cast<int32_t>(count);
    if (!find_line(&t->lines, sec->marker, sec->marker_length)) {
        if (check_read(map, &t->lines, sec->name) != MAP_OK)
            return MAP_FAILED;
        return MAPerror(map, "MAP %s section: no line begins with \"%s\" (records expected: %d)",
                        sec->name, sec->marker, static_cast<int>(t->count));
    }
    const unsigned long marker = t->lines.number;
    if (!find_line(&t->lines, sec->head, sec->head_length)) {
        if (check_read(map, &t->lines, sec->name) != MAP_OK)
            return MAP_FAILED;
        return MAPerror(map, "MAP %s section, line %lu: no head line \"%s\" follows the marker",
                        sec->name, marker, sec->head);
    }
    return MAP_OK;
}

// Splits the current text into fields at runs of spaces; the line break
// stays with the last field. Only the first max_fields are kept.
void split_fields(table *t)
{
    t->n_fields = 0;
    const char *p = t->lines.text;
    for (;;) {
        while (*p == ' ')
            ++p;
        if (*p == '\0' || t->n_fields == max_fields)
            return;
        t->begin[t->n_fields] = p;
        while (*p != '\0' && *p != ' ')
            ++p;
        t->end[t->n_fields++] = p;
    }
}

// Reads the next line of the table. Returns MAP_OK, or MAP_FAILED after
// MAPerror when the file ends before the record.
int table_line(table *t)
{
    if (next_line(&t->lines))
        return MAP_OK;
    if (check_read(t->map, &t->lines, t->sec->name) != MAP_OK)
        return MAP_FAILED;
    return MAPerror(t->map, "MAP %s section, line %lu: the file ends after %d of %d records",
                    t->sec->name, t->lines.next_number, static_cast<int>(t->done),
                    static_cast<int>(t->count));
}

// Reads the next record line and splits it; it must hold at least needed
// fields.
int next_record(table *t, int needed)
{
    if (table_line(t) != MAP_OK)
        return MAP_FAILED;
    split_fields(t);
    if (t->n_fields < needed)
        return MAPerror(t->map, "MAP %s section, line %lu: %d fields found, %d required",
                        t->sec->name, t->lines.number, t->n_fields, needed);
    return MAP_OK;
}

double real_field(const table *t, int i)
{
    return MAPparse_real(t->begin[i], t->end[i], nullptr);
}

int32_t int_field(const table *t, int i)
{
    return MAPreal_to_int(real_field(t, i));
}

// Checks a 1-based index against 1 to size. Returns MAP_OK, or MAP_FAILED
// after MAPerror naming what was out of range.
int check_index(const table *t, const char *what, int32_t index, int32_t size)
{
    if (index >= 1 && index <= size)
        return MAP_OK;
    return MAPerror(t->map, "MAP %s section, line %lu: %s %d outside 1 to %d", t->sec->name,
                    t->lines.number, what, static_cast<int>(index), static_cast<int>(size));
}

// Output row o, from 1, of a node or wheel line: stores o - 1 into slot and
// the graphic output (id, component, kind 3) into the output row.
int graphic_output(const table *t, int32_t o, int32_t id, int32_t component, int32_t *slot)
{
    MAPmodel *map = t->map;
    if (o < 1 || o > map->n_output_all)
        return MAPerror(map, "Illegal output index... %d (MAP %s section, line %lu)",
                        static_cast<int>(o), t->sec->name, t->lines.number);
    *slot = o - 1;
    map->output[o - 1] = MAPsignal{id, component, 3};
    return MAP_OK;
}

// Both table readers of the state-space signals: abcd index k, id, dof and,
// for outputs, kind.
int read_signals(MAPmodel *map, FILE *file, const section *sec, long long count,
                 bool with_kind)
{
    table t;
    if (open_table(&t, map, file, sec, count) != MAP_OK)
        return MAP_FAILED;
    MAPsignal *signals = with_kind ? map->output : map->input;
    const int32_t size = with_kind ? map->n_output_all : map->n_input;
    for (; t.done < t.count; ++t.done) {
        if (next_record(&t, with_kind ? 4 : 3) != MAP_OK)
            return MAP_FAILED;
        const int32_t k = int_field(&t, 0);
        if (check_index(&t, "abcd index", k, size) != MAP_OK)
            return MAP_FAILED;
        signals[k - 1].id = int_field(&t, 1);
        signals[k - 1].dof = int_field(&t, 2);
        if (with_kind)
            signals[k - 1].kind = int_field(&t, 3);
    }
    return MAP_OK;
}

// One external input: the name line ("$" and the name after it) and the
// index line.
int external_entry(table *t)
{
    MAPmodel *map = t->map;
    if (table_line(t) != MAP_OK)
        return MAP_FAILED;
    const char *dollar = std::strchr(t->lines.text, '$');
    if (dollar == nullptr)
        return MAPerror(map, "MAP %s section, line %lu: the name line has no \"$\"",
                        t->sec->name, t->lines.number);
    char *name = map->ext_name[t->done];
    std::snprintf(name, MAP_NAME_SIZE, "%s", dollar + 1);
    if (table_line(t) != MAP_OK)
        return MAP_FAILED;
    const char *text = t->lines.text;
    const int32_t m = MAPreal_to_int(MAPparse_real(text, text + std::strlen(text), nullptr));
    if (check_index(t, "external index", m, map->n_external) != MAP_OK)
        return MAP_FAILED;
    map->ext_index[m - 1] = m;
    return MAP_OK;
}

int node_record(table *t)
{
    MAPmodel *map = t->map;
    if (next_record(t, 7) != MAP_OK)
        return MAP_FAILED;
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

int element_record(table *t)
{
    MAPmodel *map = t->map;
    if (next_record(t, 3) != MAP_OK)
        return MAP_FAILED;
    MAPelement e{int_field(t, 0), int_field(t, 1), int_field(t, 2)};
    if (check_index(t, "node position", e.node1, map->n_node) != MAP_OK ||
        check_index(t, "node position", e.node2, map->n_node) != MAP_OK)
        return MAP_FAILED;
    map->element[t->done] = e;
    return MAP_OK;
}

int wheel_record(table *t)
{
    MAPmodel *map = t->map;
    if (next_record(t, 15) != MAP_OK)
        return MAP_FAILED;
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
               int (*record)(table *))
{
    table t;
    if (open_table(&t, map, file, sec, count) != MAP_OK)
        return MAP_FAILED;
    for (; t.done < t.count; ++t.done)
        if (record(&t) != MAP_OK)
            return MAP_FAILED;
    return MAP_OK;
}

} // namespace

extern "C" int MAPread_input(MAPmodel *map, FILE *file)
{
    const long long count = map ? static_cast<long long>(map->n_input) - map->n_external : 0;
    return read_signals(map, file, &input_section, count, false);
}

extern "C" int MAPread_output(MAPmodel *map, FILE *file)
{
    return read_signals(map, file, &output_section, map ? map->n_output : 0, true);
}

extern "C" int MAPread_external_input(MAPmodel *map, FILE *file)
{
    return read_table(map, file, &external_section, map ? map->n_external : 0, external_entry);
}

extern "C" int MAPread_node(MAPmodel *map, FILE *file)
{
    return read_table(map, file, &node_section, map ? map->n_node : 0, node_record);
}

extern "C" int MAPread_element(MAPmodel *map, FILE *file)
{
    return read_table(map, file, &element_section, map ? map->n_element : 0, element_record);
}

extern "C" int MAPread_wheel(MAPmodel *map, FILE *file)
{
    return read_table(map, file, &wheel_section, map ? map->n_wheel : 0, wheel_record);
}
