// Two independent pieces of work at once: a comparison evaluates two
// models, each on its own matrices, and a machine with two cores halves the
// wait. Only for Eigen's own code: the LAPACK and OpenBLAS linked here are
// not to be entered from two threads at once (their results then vary from
// run to run).
#pragma once

#include <exception>
#include <thread>

namespace sorvan::analysis {

// Runs first on a thread of its own and second on the calling thread, and
// returns when both are done; an exception of either is thrown on (the
// first's when both throw). On a single core, one after the other.
template <class First, class Second> void both(First &&first, Second &&second) {
    if (std::thread::hardware_concurrency() < 2) {
        first();
        second();
        return;
    }
    std::exception_ptr thrown;
    std::thread worker([&] {
        try {
            first();
        } catch (...) {
            thrown = std::current_exception();
        }
    });
    try {
        second();
    } catch (...) {
        worker.join();
        if (thrown) std::rethrow_exception(thrown);
        throw;
    }
    worker.join();
    if (thrown) std::rethrow_exception(thrown);
}

} // namespace sorvan::analysis
