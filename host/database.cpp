// The model database: typed objects in a tree, each with attributes by number.
#include "host/plexa_internal.h"
#include "host/plexa_setup.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>
#include <vector>

namespace plexa {

namespace {

constexpr int32_t REALS_MAX = 16777216; // 2^24 doubles, 128 MiB: far above any model

enum class Kind { integer, reals, text, object };

struct Attribute {
    Kind kind = Kind::integer;
    int32_t integer = 0;
    std::vector<double> reals;
    std::string text;
    std::uintptr_t object = 0;
};

struct Object {
    int32_t type = 0;
    std::vector<std::uintptr_t> children;
    std::map<int32_t, Attribute> attributes;
};

// Node-based, so references to objects survive later insertions.
std::unordered_map<std::uintptr_t, Object> objects;

std::vector<std::uintptr_t> found; // the open lookup, in lookup order
bool lookup_open = false;

Object *find_object(const void *handle) {
    auto it = objects.find(handle_id(handle));
    return it == objects.end() ? nullptr : &it->second;
}

// Finds attribute of object for a fetch. Returns AC_OK with *out set, or the
// fetch failure result.
int32_t fetch(ac_object object, int32_t attribute, int32_t index, Kind kind,
              const Attribute **out) {
    const Object *o = find_object(object);
    if (!o || index != 0) return AC_BAD_ARGUMENT;
    auto it = o->attributes.find(attribute);
    if (it == o->attributes.end()) return AC_MISSING;
    if (it->second.kind != kind) return AC_WRONG_KIND;
    *out = &it->second;
    return AC_OK;
}

// The objects of type under root, depth first, each before its children.
// An explicit stack keeps a deep tree from exhausting the call stack.
std::vector<std::uintptr_t> descendants(const Object &root, int32_t type) {
    std::vector<std::uintptr_t> result;
    std::vector<std::uintptr_t> stack(root.children.rbegin(), root.children.rend());
    while (!stack.empty()) {
        std::uintptr_t id = stack.back();
        stack.pop_back();
        const Object &o = objects.at(id);
        if (o.type == type) result.push_back(id);
        stack.insert(stack.end(), o.children.rbegin(), o.children.rend());
    }
    return result;
}

// Replaces attribute of object with a; false for a bad handle.
bool store(ac_object object, int32_t attribute, Attribute a) {
    Object *o = find_object(object);
    if (!o) return false;
    o->attributes[attribute] = std::move(a);
    return true;
}

std::string with_number(const char *operation, long long n) {
    return std::string(operation) + " " + std::to_string(n);
}

} // namespace

void database_reset() {
    objects.clear();
    found.clear();
    lookup_open = false;
}

} // namespace plexa

using namespace plexa;

extern "C" {

int32_t ac_initialize(const char *application) {
    return guarded(0, [&]() -> int32_t {
        record(std::string("ac_initialize ") + (application ? application : "(null)"));
        return application ? 1 : 0;
    });
}

int32_t ac_object_type(ac_object object) {
    return guarded(0, [&]() -> int32_t {
        record("ac_object_type");
        const Object *o = find_object(object);
        return o ? o->type : 0;
    });
}

int32_t ac_get_object(ac_object object, int32_t attribute, int32_t index, ac_object *out) {
    return guarded(AC_BAD_ARGUMENT, [&]() -> int32_t {
        record(with_number("ac_get_object", attribute));
        if (!out) return AC_BAD_ARGUMENT;
        const Attribute *a = nullptr;
        int32_t result = fetch(object, attribute, index, Kind::object, &a);
        if (result == AC_OK) *out = to_handle<plexa_object>(a->object);
        return result;
    });
}

int32_t ac_get_int(ac_object object, int32_t attribute, int32_t index, int32_t *out) {
    return guarded(AC_BAD_ARGUMENT, [&]() -> int32_t {
        record(with_number("ac_get_int", attribute));
        if (!out) return AC_BAD_ARGUMENT;
        const Attribute *a = nullptr;
        int32_t result = fetch(object, attribute, index, Kind::integer, &a);
        if (result == AC_OK) *out = a->integer;
        return result;
    });
}

int32_t ac_get_reals(ac_object object, int32_t attribute, int32_t *count, double *values) {
    return guarded(AC_BAD_ARGUMENT, [&]() -> int32_t {
        record(with_number("ac_get_reals", attribute));
        if (!count || *count < 0) return AC_BAD_ARGUMENT;
        const Attribute *a = nullptr;
        int32_t result = fetch(object, attribute, 0, Kind::reals, &a);
        if (result != AC_OK) return result;
        size_t held = a->reals.size();
        size_t room = values ? static_cast<size_t>(*count) : 0;
        std::copy_n(a->reals.begin(), std::min(room, held), values);
        *count = static_cast<int32_t>(held);
        return room > 0 && room < held ? AC_CUT : AC_OK;
    });
}

int32_t ac_get_string(ac_object object, int32_t attribute, int32_t index, char *buffer) {
    return guarded(AC_BAD_ARGUMENT, [&]() -> int32_t {
        record(with_number("ac_get_string", attribute));
        if (!buffer) return AC_BAD_ARGUMENT;
        const Attribute *a = nullptr;
        int32_t result = fetch(object, attribute, index, Kind::text, &a);
        if (result != AC_OK) return result;
        size_t n = std::min(a->text.size(), static_cast<size_t>(AC_STRING_SIZE - 1));
        std::memcpy(buffer, a->text.data(), n);
        buffer[n] = '\0';
        return n < a->text.size() ? AC_CUT : AC_OK;
    });
}

int32_t ac_lookup_begin(ac_object handle, int32_t type) {
    return guarded(0, [&]() -> int32_t {
        record(with_number("ac_lookup_begin", type));
        found.clear();
        lookup_open = true;
        if (const Object *root = find_object(handle)) found = descendants(*root, type);
        return static_cast<int32_t>(found.size());
    });
}

ac_object ac_lookup_object(int32_t index) {
    return guarded<ac_object>(nullptr, [&]() -> ac_object {
        record(with_number("ac_lookup_object", index));
        if (!lookup_open || index < 0 || static_cast<size_t>(index) >= found.size()) return nullptr;
        std::uintptr_t id = found[static_cast<size_t>(index)];
        return objects.count(id) ? to_handle<plexa_object>(id) : nullptr;
    });
}

void ac_lookup_done(void) {
    guarded_void([] { record("ac_lookup_done"); });
    found.clear();
    lookup_open = false;
}

void plexa_db_reset(void) {
    database_reset();
}

ac_object plexa_object_create(int32_t type, ac_object parent) {
    return guarded<ac_object>(nullptr, [&]() -> ac_object {
        Object *p = nullptr;
        if (type <= 0 || (parent && !(p = find_object(parent)))) return nullptr;
        if (p) p->children.reserve(p->children.size() + 1); // no half-done insertion
        std::uintptr_t id = next_handle();
        objects[id].type = type;
        if (p) p->children.push_back(id);
        return to_handle<plexa_object>(id);
    });
}

int32_t plexa_set_int(ac_object object, int32_t attribute, int32_t value) {
    return guarded(0, [&]() -> int32_t {
        Attribute a;
        a.kind = Kind::integer;
        a.integer = value;
        return store(object, attribute, std::move(a));
    });
}

int32_t plexa_set_reals(ac_object object, int32_t attribute, const double *values, int32_t count) {
    return guarded(0, [&]() -> int32_t {
        if (count < 0 || count > REALS_MAX || (count > 0 && !values)) return 0;
        Attribute a;
        a.kind = Kind::reals;
        a.reals.assign(values, values + count);
        return store(object, attribute, std::move(a));
    });
}

int32_t plexa_set_string(ac_object object, int32_t attribute, const char *text) {
    return guarded(0, [&]() -> int32_t {
        if (!text) return 0;
        Attribute a;
        a.kind = Kind::text;
        a.text = text;
        return store(object, attribute, std::move(a));
    });
}

int32_t plexa_set_object(ac_object object, int32_t attribute, ac_object value) {
    return guarded(0, [&]() -> int32_t {
        if (!find_object(value)) return 0;
        Attribute a;
        a.kind = Kind::object;
        a.object = handle_id(value);
        return store(object, attribute, std::move(a));
    });
}

} // extern "C"
