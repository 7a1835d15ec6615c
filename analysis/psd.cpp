// Welch averaging of Hann-windowed periodograms, on a plain radix-2 FFT.
#include "analysis/psd.h"

#include "analysis/moments.h"

#include <cmath>
#include <utility>

namespace psd {

namespace {

using cplx = std::complex<double>;

const double two_pi = 2.0 * std::acos(-1.0);

bool power_of_two(std::size_t n) {
    return n != 0 && (n & (n - 1)) == 0;
}

void bit_reverse(std::vector<cplx> &d) {
    std::size_t n = d.size();
    for (std::size_t i = 1, j = 0; i < n; i++) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j) std::swap(d[i], d[j]);
    }
}

// e^(-2 pi i k / n) for k < n / 2, each from its own angle.
std::vector<cplx> twiddles(std::size_t n) {
    std::vector<cplx> tw(n / 2);
    for (std::size_t k = 0; k < n / 2; k++)
        tw[k] = std::polar(1.0, -two_pi * static_cast<double>(k) / static_cast<double>(n));
    return tw;
}

// In-place radix-2 transform of a power-of-2 size with its twiddles.
void transform(std::vector<cplx> &data, const std::vector<cplx> &tw) {
    std::size_t n = data.size();
    bit_reverse(data);
    for (std::size_t len = 2; len <= n; len <<= 1) {
        std::size_t half = len / 2, stride = n / len;
        for (std::size_t i = 0; i < n; i += len) {
            for (std::size_t k = 0; k < half; k++) {
                cplx w = tw[k * stride], u = data[i + k], v = data[i + k + half];
                // Written out: the library's operator* guards against
                // infinities and is far slower in unoptimised builds.
                cplx t(w.real() * v.real() - w.imag() * v.imag(),
                       w.real() * v.imag() + w.imag() * v.real());
                data[i + k] = u + t;
                data[i + k + half] = u - t;
            }
        }
    }
}

// Takes the segment's mean or straight line out of seg.
void detrend(std::vector<double> &seg, Detrend how) {
    if (how == Detrend::none) return;
    double n = static_cast<double>(seg.size());
    double tm = (n - 1.0) / 2.0, zm = 0.0;
    for (double z : seg)
        zm += z;
    zm /= n;
    double slope = 0.0;
    if (how == Detrend::linear) {
        double stz = 0.0, stt = 0.0;
        for (std::size_t t = 0; t < seg.size(); t++) {
            double dt = static_cast<double>(t) - tm;
            stz += dt * (seg[t] - zm);
            stt += dt * dt;
        }
        slope = stt > 0.0 ? stz / stt : 0.0;
    }
    for (std::size_t t = 0; t < seg.size(); t++)
        seg[t] -= zm + slope * (static_cast<double>(t) - tm);
}

// The windowed transform of samples[start .. start + L) into d; seg is
// working space.
void segment_dft(const double *samples, std::size_t start, const std::vector<double> &window,
                 Detrend how, const std::vector<cplx> &tw, std::vector<double> &seg,
                 std::vector<cplx> &d) {
    seg.assign(samples + start, samples + start + window.size());
    detrend(seg, how);
    d.resize(seg.size());
    for (std::size_t t = 0; t < seg.size(); t++)
        d[t] = cplx(seg[t] * window[t], 0.0);
    transform(d, tw);
}

// Periodic Hann window of L points and the sum of its squares.
std::vector<double> hann(std::size_t L, double *sum_sq) {
    std::vector<double> w(L);
    *sum_sq = 0.0;
    for (std::size_t t = 0; t < L; t++) {
        w[t] = 0.5 - 0.5 * std::cos(two_pi * static_cast<double>(t) / static_cast<double>(L));
        *sum_sq += w[t] * w[t];
    }
    return w;
}

bool usable(std::size_t n, double interval, std::size_t segment) {
    return power_of_two(segment) && segment >= 4 && n >= segment && interval > 0.0 &&
           std::isfinite(interval);
}

} // namespace

bool fft(std::vector<cplx> &data) {
    if (!power_of_two(data.size())) return false;
    transform(data, twiddles(data.size()));
    return true;
}

CrossSpectrum welch_cross(const double *a, const double *b, std::size_t n, double interval,
                          std::size_t segment, Detrend how) {
    CrossSpectrum s;
    if (a == nullptr || b == nullptr || !usable(n, interval, segment)) return s;
    double sum_sq;
    std::vector<double> w = hann(segment, &sum_sq);
    std::vector<cplx> tw = twiddles(segment), fa, fb;
    std::vector<double> work;
    std::size_t bins = segment / 2;
    s.density_a.assign(bins, 0.0);
    s.density_b.assign(bins, 0.0);
    s.cross.assign(bins, cplx(0.0, 0.0));
    for (std::size_t start = 0; start + segment <= n; start += segment / 2) {
        segment_dft(a, start, w, how, tw, work, fa);
        if (b != a) segment_dft(b, start, w, how, tw, work, fb);
        const std::vector<cplx> &gb = b != a ? fb : fa;
        for (std::size_t k = 1; k <= bins; k++) {
            s.density_a[k - 1] += std::norm(fa[k]);
            s.density_b[k - 1] += std::norm(gb[k]);
            s.cross[k - 1] += std::conj(fa[k]) * gb[k];
        }
        s.segments++;
    }
    for (std::size_t k = 1; k <= bins; k++) {
        // One-sided: the negative wavenumbers fold onto the positive ones,
        // except at the sampling limit, which has no mirror.
        double scale =
            (k == bins ? 1.0 : 2.0) * interval / (sum_sq * static_cast<double>(s.segments));
        s.wavenumber.push_back(static_cast<double>(k) / (static_cast<double>(segment) * interval));
        s.density_a[k - 1] *= scale;
        s.density_b[k - 1] *= scale;
        s.cross[k - 1] *= scale;
    }
    return s;
}

Spectrum welch(const double *samples, std::size_t n, double interval, std::size_t segment,
               Detrend how) {
    CrossSpectrum c = welch_cross(samples, samples, n, interval, segment, how);
    Spectrum s;
    s.wavenumber = std::move(c.wavenumber);
    s.density = std::move(c.density_a);
    s.segments = c.segments;
    return s;
}

std::vector<double> coherence(const CrossSpectrum &s) {
    std::vector<double> c(s.cross.size(), 0.0);
    for (std::size_t k = 0; k < c.size(); k++) {
        double d = s.density_a[k] * s.density_b[k];
        c[k] = d > 0.0 ? std::norm(s.cross[k]) / d : 0.0;
    }
    return c;
}

double coherence_of(const CrossSpectrum &s, double lo, double hi, std::size_t *bins) {
    double pa = 0.0, pb = 0.0;
    cplx pab(0.0, 0.0);
    std::size_t m = 0;
    for (std::size_t k = 0; k < s.wavenumber.size(); k++) {
        if (s.wavenumber[k] < lo || s.wavenumber[k] >= hi) continue;
        pa += s.density_a[k];
        pb += s.density_b[k];
        pab += s.cross[k];
        m++;
    }
    if (bins != nullptr) *bins = m;
    return pa * pb > 0.0 ? std::norm(pab) / (pa * pb) : 0.0;
}

double band_mean(const std::vector<double> &wavenumber, const std::vector<double> &values,
                 double lo, double hi, std::size_t *bins) {
    double sum = 0.0;
    std::size_t m = 0;
    for (std::size_t k = 0; k < wavenumber.size() && k < values.size(); k++) {
        if (wavenumber[k] >= lo && wavenumber[k] < hi) {
            sum += values[k];
            m++;
        }
    }
    if (bins != nullptr) *bins = m;
    return m > 0 ? sum / static_cast<double>(m) : 0.0;
}

double rms_about_mean(const double *samples, std::size_t n) {
    if (n == 0) return 0.0;
    const double m = sorvan::analysis::mean(samples, n);
    std::vector<double> d(samples, samples + n);
    for (double &v : d)
        v -= m;
    return sorvan::analysis::rms(d.data(), n);
}

double band_rms(const double *samples, std::size_t n, double interval, double lo, double hi) {
    if (n < 2 || !(interval > 0.0) || !std::isfinite(interval)) return 0.0;
    const double scale = sorvan::analysis::largest_magnitude(samples, n);
    if (scale == 0.0 || !std::isfinite(scale)) return scale == 0.0 ? 0.0 : scale;
    const double m = sorvan::analysis::mean(samples, n) / scale;
    std::size_t size = 1;
    while (size < n)
        size *= 2;
    std::vector<std::complex<double>> data(size);
    for (std::size_t i = 0; i < n; ++i)
        data[i] = samples[i] / scale - m;
    fft(data);
    double sum = 0.0;
    for (std::size_t k = 1; k < size; ++k) {
        const std::size_t folded = k <= size / 2 ? k : size - k; // both sides of the spectrum
        const double wavenumber =
            static_cast<double>(folded) / (static_cast<double>(size) * interval);
        if (wavenumber >= lo && wavenumber <= hi) sum += std::norm(data[k]);
    }
    return std::sqrt(sum / (static_cast<double>(size) * static_cast<double>(n))) * scale;
}

} // namespace psd
