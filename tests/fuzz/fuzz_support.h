// What the fuzz targets share: the check that ends a run with a finding, and
// the input read as a stream of bytes.
#ifndef SORVAN_TESTS_FUZZ_SUPPORT_H
#define SORVAN_TESTS_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace sorvan::fuzz {

// A broken invariant: the fuzzer records the input that broke it.
inline void check(bool ok) {
    if (!ok) __builtin_trap();
}

// Reads the input from the front; past its end every byte is 0.
struct Input {
    const uint8_t *p;
    size_t left;
    uint8_t byte() {
        if (left == 0) return 0;
        --left;
        return *p++;
    }
    // Eight bytes as the bits of a double.
    double raw() {
        uint8_t b[8] = {};
        for (uint8_t &x : b)
            x = byte();
        double v;
        std::memcpy(&v, b, sizeof v);
        return v;
    }
};

} // namespace sorvan::fuzz

#endif
