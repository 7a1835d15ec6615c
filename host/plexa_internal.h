// What the parts of the stand-in host share: the call record, the error
// channel, handle numbering, the per-part resets and the guard that keeps
// exceptions inside the library.
#ifndef SORVAN_HOST_PLEXA_INTERNAL_H
#define SORVAN_HOST_PLEXA_INTERNAL_H

#include <cstdint>
#include <string>

namespace plexa {

// Appends one entry to the call record (ignored once it is full).
void record(std::string call);

// Reports a message on the error channel: kept as the last message, counted
// and written with "\n" to the standard error stream.
void report(const std::string &message);

// Handles are serial numbers shared by every kind of handle and never reused,
// so a stale handle, or one of another kind, matches nothing. They start well
// above small integers, which a caller may pass by mistake.
std::uintptr_t next_handle();

template <class T> T *to_handle(std::uintptr_t id) {
    return reinterpret_cast<T *>(id);
}
inline std::uintptr_t handle_id(const void *handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

// Per-part resets, run by plexa_reset.
void registry_reset();
void database_reset();
void arrays_reset();
void rpc_reset();

// Runs body and returns its result, or failure if it throws (memory running
// out is the only expected case): no exception leaves the C boundary.
template <class R, class F> R guarded(R failure, F &&body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

template <class F> void guarded_void(F &&body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

} // namespace plexa

#endif
