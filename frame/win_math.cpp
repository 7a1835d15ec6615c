// Sine and cosine for the 32-bit Windows build.
//
// The MinGW runtime computes sin, cos and sincos with the x87 instructions
// fsin, fcos and fsincos. These reduce the argument with a 66-bit value of
// pi, so near a multiple of pi/2 the result keeps only a few of its digits:
// the cosine of the double nearest pi/2 comes out as 6.1230318e-17 instead
// of 6.1232340e-17. The wheel drawings and coordinate systems of a bulk data
// file would then print differently from every other build.
//
// The versions here reduce the argument by pi/2 themselves, in extended
// precision with pi/2 known to 168 bits, and leave to the x87 unit only an
// argument of at most pi/4, where its instructions are exact to extended
// precision; the result rounded to double is then the correctly rounded
// value in all but rare double-rounding cases. Defined in the library's own
// objects, they are linked ahead of the runtime and replace its functions
// for the whole library. Arguments beyond 1e9 in magnitude, which no
// geometry comes near, give bounded and repeatable but not exact results.
#include <cmath>

extern "C" {
double sin(double x);
double cos(double x);
void sincos(double x, double *s, double *c);
}

namespace {

// pi/2 as the sum of four parts: three of 32 significant bits, so that k
// times each is exact in the 64-bit significand for |k| < 2^31, and the
// rest rounded to 64 bits. Their sum is within 2^-168 of pi/2.
constexpr long double half_pi_1 = 0xc90fdaa2p-31L;
constexpr long double half_pi_2 = 0x85a308d3p-65L;
constexpr long double half_pi_3 = 0x98cc5170p-100L;
constexpr long double half_pi_4 = 0xdc1cd129024e088ap-167L;
constexpr long double two_over_pi = 0xa2f9836e4e44152ap-64L;

constexpr long double two_pi = 0xc90fdaa22168c235p-61L;

// Largest magnitude reduced as it is: k stays below 2^30.
constexpr double reduced_limit = 1e9;

// The instructions themselves, for |r| <= pi/4 only.
long double x87_sin(long double r) {
    long double v;
    asm("fsin" : "=t"(v) : "0"(r));
    return v;
}

long double x87_cos(long double r) {
    long double v;
    asm("fcos" : "=t"(v) : "0"(r));
    return v;
}

// The x87 unit computes in the precision its control word selects; a host
// may have lowered it to 53 bits. The reduction needs all 64, so the word
// is set for the duration and put back after.
class ExtendedPrecision {
  public:
    ExtendedPrecision() {
        asm volatile("fnstcw %0" : "=m"(saved_) : : "memory");
        unsigned short extended = static_cast<unsigned short>(saved_ | 0x0300);
        asm volatile("fldcw %0" : : "m"(extended) : "memory");
    }
    ~ExtendedPrecision() { asm volatile("fldcw %0" : : "m"(saved_) : "memory"); }
    ExtendedPrecision(const ExtendedPrecision &) = delete;
    ExtendedPrecision &operator=(const ExtendedPrecision &) = delete;

  private:
    unsigned short saved_;
};

// sin(x) and cos(x) for a finite x. Kept out of line, and out of the
// optimiser's view, so that none of its arithmetic moves across the
// control-word changes around the call.
[[gnu::noipa]] void sin_cos(double x, double *s, double *c) {
    // Far beyond any angle only a bounded, repeatable result matters: the
    // exact remainder by 2 pi (rounded to 64 bits) stands in for x.
    const long double xl = std::fabs(x) > reduced_limit ? std::fmod(x, two_pi) : x;
    // r = x - k pi/2 with |r| <= pi/4; k is 0, and r is x, up to pi/4.
    const long double k = std::nearbyint(xl * two_over_pi);
    const long double r = (((xl - k * half_pi_1) - k * half_pi_2) - k * half_pi_3) - k * half_pi_4;
    const long double sr = x87_sin(r), cr = x87_cos(r);
    switch (static_cast<long long>(k) & 3) {
    case 0:
        *s = static_cast<double>(sr);
        *c = static_cast<double>(cr);
        break;
    case 1:
        *s = static_cast<double>(cr);
        *c = static_cast<double>(-sr);
        break;
    case 2:
        *s = static_cast<double>(-sr);
        *c = static_cast<double>(-cr);
        break;
    default:
        *s = static_cast<double>(-cr);
        *c = static_cast<double>(sr);
        break;
    }
}

void sin_cos_any(double x, double *s, double *c) {
    if (!std::isfinite(x)) {
        *s = *c = x - x; // NaN, also for an infinite argument
        return;
    }
    if (x == 0.0) { // keeps the sign of a zero, which the reduction would lose
        *s = x;
        *c = 1.0;
        return;
    }
    ExtendedPrecision precision;
    sin_cos(x, s, c);
}

} // namespace

extern "C" {

double sin(double x) {
    double s, c;
    sin_cos_any(x, &s, &c);
    return s;
}

double cos(double x) {
    double s, c;
    sin_cos_any(x, &s, &c);
    return c;
}

void sincos(double x, double *s, double *c) {
    sin_cos_any(x, s, c);
}

} // extern "C"
