// Combined multiplicative congruential generator with a 32-entry shuffle
// table, and the polar method for normal deviates on top of it.
#include "sorvan_view.h"

#include <cmath>

namespace {

// The two congruential generators x <- a x mod m, with the Schrage
// factorisation m = a q + r (r < q) that keeps every product inside int32_t.
constexpr int32_t m1 = 2147483563;
constexpr int32_t a1 = 40014;
constexpr int32_t q1 = 53668;
constexpr int32_t r1 = 12211;
constexpr int32_t m2 = 2147483399;
constexpr int32_t a2 = 40692;
constexpr int32_t q2 = 52774;
constexpr int32_t r2 = 3791;

constexpr int ntab = 32;                      // shuffle table size
constexpr int nwarm = 8;                      // steps run before the table fills
constexpr int32_t ndiv = 1 + (m1 - 1) / ntab; // 67108862: iy / ndiv is 0..31
constexpr double am = 1.0 / m1;               // 4.656613057391769e-10
constexpr double rnmx = 1.0 - 1.2e-7;         // RAN2_MAX

// State shared by every stream, with its load-time values.
struct Shared {
    int32_t idum2 = 123456789; // second generator
    int32_t iy = 0;            // last shuffled output; picks the next slot
    int32_t iv[ntab] = {};     // shuffle table
    int iset = 0;              // 1 while gset holds a deviate
    double gset = 0.0;
};

Shared shared;

// One step x <- a x mod m for 0 <= x < 2^31. a (x mod q) < a q < m and
// r (x div q) < m, so the difference lies in (-m, m) and one correction makes
// it the exact residue.
int32_t step(int32_t x, int32_t a, int32_t m, int32_t q, int32_t r) {
    int32_t k = x / q;
    x = a * (x - k * q) - r * k;
    if (x < 0) x += m;
    return x;
}

// Rebuilds the second generator and the shuffle table from a non-positive
// idum and returns the first generator's new state. The negation is taken in
// 64 bits: INT32_MIN, like 0, starts from 1.
int32_t reseed(int32_t idum) {
    int64_t start = -static_cast<int64_t>(idum);
    if (start < 1 || start > INT32_MAX) start = 1;
    int32_t x = static_cast<int32_t>(start);
    shared.idum2 = x;
    for (int j = ntab + nwarm - 1; j >= 0; j--) {
        x = step(x, a1, m1, q1, r1);
        if (j < ntab) shared.iv[j] = x;
    }
    shared.iy = shared.iv[0];
    return x;
}

} // namespace

extern "C" double ran2(int32_t *idum) {
    int32_t x = *idum <= 0 ? reseed(*idum) : *idum;
    x = step(x, a1, m1, q1, r1);
    *idum = x;
    shared.idum2 = step(shared.idum2, a2, m2, q2, r2);
    // iy stays in 0..m1-1, so the slot is 0..31.
    int j = shared.iy / ndiv;
    shared.iy = shared.iv[j] - shared.idum2;
    shared.iv[j] = x;
    if (shared.iy < 1) shared.iy += m1 - 1;
    double temp = am * shared.iy;
    return temp > rnmx ? rnmx : temp;
}

extern "C" double gasdev(int32_t *idum) {
    if (*idum >= 0 && shared.iset == 1) {
        shared.iset = 0;
        return shared.gset;
    }
    double v1, v2, rsq;
    do {
        v1 = 2.0 * ran2(idum) - 1.0;
        v2 = 2.0 * ran2(idum) - 1.0;
        rsq = v1 * v1 + v2 * v2;
    } while (rsq >= 1.0 || rsq == 0.0);
    double fac = std::sqrt(-2.0 * std::log(rsq) / rsq);
    shared.gset = v1 * fac;
    shared.iset = 1;
    return v2 * fac;
}
