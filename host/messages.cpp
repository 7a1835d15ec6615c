// The error channel, the call record, handle numbering and the whole reset.
#include "host/plexa_internal.h"
#include "host/plexa_setup.h"

#include <cstdarg>
#include <cstdio>
#include <utility>
#include <vector>

namespace plexa {

namespace {

std::vector<std::string> calls;
std::string last_error;
int32_t error_total = 0;
std::uintptr_t handle_serial = 0x10000;

// Formats like vsnprintf into a string of any length; "" when the format is
// null or broken.
std::string format_message(const char *format, va_list args) {
    if (!format) return std::string();
    va_list again;
    va_copy(again, args);
    int size = std::vsnprintf(nullptr, 0, format, args);
    std::string text;
    if (size > 0) {
        text.resize(static_cast<size_t>(size) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<size_t>(size));
    }
    va_end(again);
    return text;
}

} // namespace

void record(std::string call) {
    if (calls.size() < PLEXA_CALLS_MAX) calls.push_back(std::move(call));
}

void report(const std::string &message) {
    last_error = message;
    if (error_total < INT32_MAX) ++error_total;
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
}

std::uintptr_t next_handle() {
    if (++handle_serial == 0) handle_serial = 0x10001; // wrapped: skip the null handle
    return handle_serial;
}

} // namespace plexa

using namespace plexa;

extern "C" {

void vc_error(const char *format, ...) {
    va_list args;
    va_start(args, format);
    try {
        record("vc_error");
        report(format_message(format, args));
    } catch (...) {
    }
    va_end(args);
}

const char *plexa_error_last(void) {
    return last_error.c_str();
}

int32_t plexa_error_count(void) {
    return error_total;
}

void plexa_error_clear(void) {
    last_error.clear();
    error_total = 0;
}

int32_t plexa_calls_count(void) {
    return static_cast<int32_t>(calls.size());
}

const char *plexa_calls_get(int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= calls.size()) return nullptr;
    return calls[static_cast<size_t>(index)].c_str();
}

void plexa_calls_clear(void) {
    calls.clear();
}

void plexa_reset(void) {
    registry_reset();
    database_reset();
    arrays_reset();
    rpc_reset();
    plexa_error_clear();
    plexa_calls_clear();
}

} // extern "C"
