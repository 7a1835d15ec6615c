// Mean and RMS of a series, finite for any finite values: the sums are
// formed of the values divided by the largest magnitude, so that neither
// the squares of values near the largest double overflow nor those of tiny
// ones vanish.
#ifndef SORVAN_ANALYSIS_MOMENTS_H
#define SORVAN_ANALYSIS_MOMENTS_H

#include <cmath>
#include <cstddef>

namespace sorvan::analysis {

inline double largest_magnitude(const double *v, std::size_t n) {
    double m = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        m = std::fmax(m, std::fabs(v[i]));
    return m;
}

// 0 for no values.
inline double mean(const double *v, std::size_t n) {
    const double m = largest_magnitude(v, n);
    if (n == 0 || m == 0.0 || !std::isfinite(m)) return n && !std::isfinite(m) ? m : 0.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        sum += v[i] / m;
    return sum / static_cast<double>(n) * m;
}

// 0 for no values.
inline double rms(const double *v, std::size_t n) {
    const double m = largest_magnitude(v, n);
    if (n == 0 || m == 0.0 || !std::isfinite(m)) return n && !std::isfinite(m) ? m : 0.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        sum += (v[i] / m) * (v[i] / m);
    return std::sqrt(sum / static_cast<double>(n)) * m;
}

} // namespace sorvan::analysis

#endif
