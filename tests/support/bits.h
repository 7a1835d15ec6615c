// The bits of a double, for tests that compare values exactly.
#ifndef SORVAN_TESTS_SUPPORT_BITS_H
#define SORVAN_TESTS_SUPPORT_BITS_H

#include <bit>
#include <cstdint>

namespace sorvan::test {

inline uint64_t bits(double v) {
    return std::bit_cast<uint64_t>(v);
}

inline double from_bits(uint64_t b) {
    return std::bit_cast<double>(b);
}

} // namespace sorvan::test

#endif
