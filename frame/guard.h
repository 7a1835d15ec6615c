// The one exception guard of the exported entries.
//
// Nothing thrown may cross the C boundary into the host: an exception there
// ends the host process. Every exported entry that can allocate runs its
// work through guarded(), which is noexcept, takes the work as a template
// argument (so that nothing is constructed before the try begins) and turns
// an exception into the entry's failure result with one line naming the
// entry and what went wrong.
#ifndef SORVAN_FRAME_GUARD_H
#define SORVAN_FRAME_GUARD_H

#include <cstdio>
#include <exception>
#include <new>
#include <utility>

namespace sorvan {

// Prints "<who>: <what>" on the diagnostic stream of the library.
inline void report_exception(const char *who, const char *what) noexcept {
    std::printf("%s: %s\n", who ? who : "sorvan_view", what ? what : "unexpected failure");
    std::fflush(stdout);
}

// Runs work and returns its result; on an exception reports it, runs
// cleanup (which must not throw: it releases what the failure result
// promises the caller is gone) and returns failure.
template <class R, class F, class G>
R guarded(const char *who, R failure, F &&work, G &&cleanup) noexcept {
    try {
        return std::forward<F>(work)();
    } catch (const std::bad_alloc &) {
        report_exception(who, "out of memory");
    } catch (const std::exception &e) {
        report_exception(who, e.what());
    } catch (...) {
        report_exception(who, "unexpected failure");
    }
    cleanup();
    return failure;
}

template <class R, class F> R guarded(const char *who, R failure, F &&work) noexcept {
    return guarded(who, failure, std::forward<F>(work), [] {});
}

} // namespace sorvan

#endif
