// The function registry: host functions by name, in registration order.
#include "host/plexa_internal.h"
#include "host/plexa_setup.h"

#include <cstring>
#include <vector>

namespace plexa {

namespace {

constexpr size_t NAME_MAX_LENGTH = 255; // keeps names and call records short

struct Entry {
    std::string name;
    vc_function function;
    int32_t code;
    int32_t words;
};

std::vector<Entry> entries;

Entry *find(const char *name) {
    for (Entry &e : entries)
        if (e.name == name) return &e;
    return nullptr;
}

void describe(const Entry &e, plexa_function_info *out) {
    out->name = e.name.c_str();
    out->function = e.function;
    out->code = e.code;
    out->argument_words = e.words;
}

bool valid_name(const char *name) {
    return name && name[0] && std::strlen(name) <= NAME_MAX_LENGTH;
}

} // namespace

void registry_reset() {
    entries.clear();
}

} // namespace plexa

using namespace plexa;

extern "C" {

int32_t vc_function_add(const char *name, vc_function function, int32_t code,
                        int32_t argument_words, int32_t reserved) {
    (void)reserved;
    return guarded(0, [&]() -> int32_t {
        std::string call = "vc_function_add ";
        call += name ? name : "(null)";
        record(call + " " + std::to_string(code) + " " + std::to_string(argument_words));
        if (!valid_name(name) || !function || argument_words < 0) return 0;
        if (Entry *e = find(name)) {
            *e = Entry{name, function, code, argument_words};
            return 2;
        }
        entries.push_back(Entry{name, function, code, argument_words});
        return 1;
    });
}

int32_t vc_function_remove(const char *name) {
    return guarded(0, [&]() -> int32_t {
        record(std::string("vc_function_remove ") + (name ? name : "(null)"));
        if (!name) return 0;
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (it->name == name) {
                entries.erase(it);
                return 1;
            }
        }
        return 0;
    });
}

int32_t VersionRegister(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {
    guarded_void([] { record("VersionRegister"); });
    return 0;
}

int32_t plexa_function_lookup(const char *name, plexa_function_info *out) {
    if (!name || !out) return 0;
    const Entry *e = find(name);
    if (!e) return 0;
    describe(*e, out);
    return 1;
}

int32_t plexa_function_count(void) {
    return static_cast<int32_t>(entries.size());
}

int32_t plexa_function_at(int32_t index, plexa_function_info *out) {
    if (!out || index < 0 || static_cast<size_t>(index) >= entries.size()) return 0;
    describe(entries[static_cast<size_t>(index)], out);
    return 1;
}

} // extern "C"
