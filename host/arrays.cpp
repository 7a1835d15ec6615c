// Host-language arrays: elements of one type in 8-byte cells on the C heap.
#include "host/plexa_internal.h"
#include "host/plexa_setup.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace plexa {

namespace {

constexpr int64_t ELEMENTS_MAX = 16777216; // 2^24 cells of 8 bytes: 128 MiB
constexpr int32_t RANK_MAX = 8;
constexpr size_t QUOTE_MAX = 40; // longest text quoted in a conversion message

struct Array {
    int32_t type = 0;
    int32_t count = 0;
    unsigned char *cells = nullptr; // count * VC_CELL_SIZE bytes, NULL when empty
    // The texts of a text array, one per element. The array frees these, not
    // whatever a caller may have written into the cells.
    std::vector<char *> texts;
};

std::unordered_map<std::uintptr_t, Array> arrays;

bool valid_type(int32_t type) {
    return type >= VC_REAL && type <= VC_TEXT;
}

unsigned char *cell(const Array &a, int32_t i) {
    return a.cells + static_cast<size_t>(i) * VC_CELL_SIZE;
}

double read_real(const Array &a, int32_t i) {
    double v;
    std::memcpy(&v, cell(a, i), sizeof v);
    return v;
}

int32_t read_int(const Array &a, int32_t i) {
    int32_t v;
    std::memcpy(&v, cell(a, i), sizeof v);
    return v;
}

// Writes value at the start of cell i and zeroes the rest of the cell.
template <class T> void write_cell(const Array &a, int32_t i, T value) {
    static_assert(sizeof(T) <= VC_CELL_SIZE);
    std::memset(cell(a, i), 0, VC_CELL_SIZE);
    std::memcpy(cell(a, i), &value, sizeof value);
}

void free_texts(std::vector<char *> &texts) {
    for (char *t : texts)
        std::free(t);
    texts.clear();
}

// A malloc'd copy of the n bytes at s; throws when memory runs out.
char *copy_text(const char *s, size_t n) {
    char *t = static_cast<char *>(std::malloc(n + 1));
    if (!t) throw std::bad_alloc();
    std::memcpy(t, s, n);
    t[n] = '\0';
    return t;
}

Array *find_array(const void *handle) {
    auto it = arrays.find(handle_id(handle));
    return it == arrays.end() ? nullptr : &it->second;
}

// ======================================================================
// Conversions of one element
// ======================================================================

bool is_blank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Parses the whole of text as a decimal number, blanks around it allowed.
template <class T> bool parse_whole(const char *text, T *out) {
    const char *p = text, *end = text + std::strlen(text);
    while (p < end && is_blank(*p))
        ++p;
    while (end > p && is_blank(end[-1]))
        --end;
    if (p < end && *p == '+' && end - p > 1 && p[1] != '-') ++p;
    T value{};
    std::from_chars_result r;
    if constexpr (std::is_floating_point_v<T>)
        r = std::from_chars(p, end, value, std::chars_format::general);
    else
        r = std::from_chars(p, end, value, 10);
    if (p == end || r.ec != std::errc() || r.ptr != end) return false;
    *out = value;
    return true;
}

// A real as an integer by truncation; a NaN gives 0 and a real beyond the
// range the nearest limit, both marked lossy.
int32_t real_to_int(double x, bool *lossy) {
    if (x != x) return *lossy = true, 0;
    if (x >= 2147483648.0) return *lossy = true, INT32_MAX;
    if (x <= -2147483649.0) return *lossy = true, INT32_MIN;
    return static_cast<int32_t>(x);
}

int32_t text_to_int(const char *text, bool *lossy) {
    long long whole;
    if (parse_whole(text, &whole)) {
        if (whole > INT32_MAX) return *lossy = true, INT32_MAX;
        if (whole < INT32_MIN) return *lossy = true, INT32_MIN;
        return static_cast<int32_t>(whole);
    }
    double real;
    if (parse_whole(text, &real)) return real_to_int(real, lossy);
    return *lossy = true, 0;
}

double text_to_real(const char *text, bool *lossy) {
    double real;
    if (parse_whole(text, &real)) return real;
    return *lossy = true, 0.0;
}

std::string number_text(double x) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, x);
    return std::string(buf, r.ptr);
}

// The element as a message shows it.
std::string show(const Array &a, int32_t i) {
    if (a.type == VC_INTEGER) return std::to_string(read_int(a, i));
    if (a.type == VC_REAL) return number_text(read_real(a, i));
    std::string t(a.texts[static_cast<size_t>(i)]);
    if (t.size() > QUOTE_MAX) t = t.substr(0, QUOTE_MAX) + "...";
    return "\"" + t + "\"";
}

const char *type_name(int32_t type) {
    return type == VC_REAL ? "a real" : type == VC_INTEGER ? "an integer" : "a text";
}

// ======================================================================
// Whole-array changes
// ======================================================================

// The new content of a conversion, built before the array is touched so that
// running out of memory leaves the array as it was.
struct Converted {
    std::vector<unsigned char> cells;
    std::vector<char *> texts;
    int32_t lossy = 0;
    int32_t first_lossy = -1;
    ~Converted() { free_texts(texts); }
};

void convert_element(const Array &a, int32_t i, int32_t type, Converted &c) {
    unsigned char *out = c.cells.data() + static_cast<size_t>(i) * VC_CELL_SIZE;
    bool lossy = false;
    if (type == VC_TEXT) {
        std::string t =
            a.type == VC_INTEGER ? std::to_string(read_int(a, i)) : number_text(read_real(a, i));
        c.texts.push_back(nullptr);
        c.texts.back() = copy_text(t.data(), t.size());
        std::memcpy(out, &c.texts.back(), sizeof(char *));
    } else if (type == VC_INTEGER) {
        int32_t v = a.type == VC_REAL ? real_to_int(read_real(a, i), &lossy)
                                      : text_to_int(a.texts[static_cast<size_t>(i)], &lossy);
        std::memcpy(out, &v, sizeof v);
    } else {
        double v = a.type == VC_INTEGER ? read_int(a, i)
                                        : text_to_real(a.texts[static_cast<size_t>(i)], &lossy);
        std::memcpy(out, &v, sizeof v);
    }
    if (lossy && c.lossy++ == 0) c.first_lossy = i;
}

// Puts converted content into a's own cells, so the cell pointer stays valid.
void commit(Array &a, int32_t type, Converted &c) {
    if (a.count > 0) std::memcpy(a.cells, c.cells.data(), c.cells.size());
    free_texts(a.texts);
    a.texts.swap(c.texts);
    a.type = type;
}

// Gives a the type with every element 0, 0.0 or "".
void reset_elements(Array &a, int32_t type) {
    Converted c;
    c.cells.assign(static_cast<size_t>(a.count) * VC_CELL_SIZE, 0);
    if (type == VC_TEXT) {
        c.texts.reserve(static_cast<size_t>(a.count));
        for (int32_t i = 0; i < a.count; ++i) {
            c.texts.push_back(copy_text("", 0));
            std::memcpy(c.cells.data() + static_cast<size_t>(i) * VC_CELL_SIZE, &c.texts.back(),
                        sizeof(char *));
        }
    }
    commit(a, type, c);
}

void release(Array &a) {
    free_texts(a.texts);
    std::free(a.cells);
    a.cells = nullptr;
}

// Creates an array of count elements of type, or returns NULL.
vc_array make_array(int32_t type, int64_t count) {
    if (!valid_type(type) || count < 0 || count > ELEMENTS_MAX) return nullptr;
    Array a;
    a.count = static_cast<int32_t>(count);
    if (count > 0) {
        a.cells =
            static_cast<unsigned char *>(std::calloc(static_cast<size_t>(count), VC_CELL_SIZE));
        if (!a.cells) return nullptr;
    }
    try {
        reset_elements(a, type);
        std::uintptr_t id = next_handle();
        arrays.emplace(id, std::move(a));
        return to_handle<plexa_array>(id);
    } catch (...) {
        release(a);
        throw;
    }
}

// Element i of an array of type, or NULL.
Array *element(vc_array array, int32_t index, int32_t type) {
    Array *a = find_array(array);
    if (!a || a->type != type || index < 0 || index >= a->count) return nullptr;
    return a;
}

} // namespace

void arrays_reset() {
    for (auto &entry : arrays)
        release(entry.second);
    arrays.clear();
}

} // namespace plexa

using namespace plexa;

extern "C" {

int32_t vc_array_coerce_element_type(vc_array array, int32_t type) {
    return guarded(0, [&]() -> int32_t {
        record("vc_array_coerce_element_type " + std::to_string(type));
        Array *a = find_array(array);
        if (!a || !valid_type(type)) return 0;
        if (a->type == type) return 1;
        Converted c;
        c.cells.assign(static_cast<size_t>(a->count) * VC_CELL_SIZE, 0);
        c.texts.reserve(type == VC_TEXT ? static_cast<size_t>(a->count) : 0);
        for (int32_t i = 0; i < a->count; ++i)
            convert_element(*a, i, type, c);
        if (c.lossy > 0)
            report("Cannot convert array element " + std::to_string(c.first_lossy + 1) + " (" +
                   show(*a, c.first_lossy) + ") to " + type_name(type) + " (" +
                   std::to_string(c.lossy) + " element(s) could not be converted).");
        commit(*a, type, c);
        return c.lossy > 0 ? -1 : 1;
    });
}

int32_t vc_array_element_count(vc_array array) {
    return guarded(0, [&]() -> int32_t {
        record("vc_array_element_count");
        const Array *a = find_array(array);
        return a ? a->count : 0;
    });
}

void *vc_array_elements(vc_array array) {
    return guarded<void *>(nullptr, [&]() -> void * {
        record("vc_array_elements");
        const Array *a = find_array(array);
        return a ? a->cells : nullptr;
    });
}

vc_array vc_array_create(const int32_t *dims, int32_t rank, int32_t type) {
    return guarded<vc_array>(nullptr, [&]() -> vc_array {
        record("vc_array_create " + (dims ? std::to_string(dims[0]) : std::string("(null)")) + " " +
               std::to_string(rank) + " " + std::to_string(type));
        if (!dims || rank < 1 || rank > RANK_MAX) return nullptr;
        int64_t count = 1;
        for (int32_t i = 0; i < rank; ++i) {
            if (dims[i] < 0) return nullptr;
            count *= dims[i]; // both factors within 2^31 and 2^24: no overflow
            if (count > ELEMENTS_MAX) return nullptr;
        }
        return make_array(type, count);
    });
}

int32_t vc_array_set_element_type(vc_array array, int32_t type) {
    return guarded(0, [&]() -> int32_t {
        record("vc_array_set_element_type " + std::to_string(type));
        Array *a = find_array(array);
        if (!a || !valid_type(type)) return 0;
        reset_elements(*a, type);
        return 1;
    });
}

vc_array plexa_array_create(int32_t type, int32_t count) {
    return guarded<vc_array>(nullptr, [&] { return make_array(type, count); });
}

void plexa_array_free(vc_array array) {
    auto it = arrays.find(handle_id(array));
    if (it == arrays.end()) return;
    release(it->second);
    arrays.erase(it);
}

int32_t plexa_array_type(vc_array array) {
    const Array *a = find_array(array);
    return a ? a->type : 0;
}

int32_t plexa_array_set_real(vc_array array, int32_t index, double value) {
    const Array *a = element(array, index, VC_REAL);
    if (a) write_cell(*a, index, value);
    return a != nullptr;
}

int32_t plexa_array_set_int(vc_array array, int32_t index, int32_t value) {
    const Array *a = element(array, index, VC_INTEGER);
    if (a) write_cell(*a, index, value);
    return a != nullptr;
}

int32_t plexa_array_set_text(vc_array array, int32_t index, const char *text) {
    return guarded(0, [&]() -> int32_t {
        Array *a = element(array, index, VC_TEXT);
        if (!a || !text) return 0;
        char *copy = copy_text(text, std::strlen(text));
        char *&slot = a->texts[static_cast<size_t>(index)];
        std::free(slot);
        slot = copy;
        write_cell(*a, index, copy);
        return 1;
    });
}

int32_t plexa_array_get_real(vc_array array, int32_t index, double *out) {
    const Array *a = element(array, index, VC_REAL);
    if (!a || !out) return 0;
    *out = read_real(*a, index);
    return 1;
}

int32_t plexa_array_get_int(vc_array array, int32_t index, int32_t *out) {
    const Array *a = element(array, index, VC_INTEGER);
    if (!a || !out) return 0;
    *out = read_int(*a, index);
    return 1;
}

const char *plexa_array_get_text(vc_array array, int32_t index) {
    const Array *a = element(array, index, VC_TEXT);
    return a ? a->texts[static_cast<size_t>(index)] : nullptr;
}

int32_t plexa_array_live_count(void) {
    return static_cast<int32_t>(arrays.size());
}

} // extern "C"
