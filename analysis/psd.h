// Spectral estimates of sampled profiles: one-sided power spectral densities
// and the coherence of two tracks, by averaging the periodograms of
// overlapping windowed segments. Used by the tests and by the plots of road
// profiles.
#ifndef SORVAN_ANALYSIS_PSD_H
#define SORVAN_ANALYSIS_PSD_H

#include <complex>
#include <cstddef>
#include <vector>

namespace psd {

// What is taken out of each segment before it is windowed: nothing, its
// mean, or its least-squares straight line. Removing the line keeps the
// drift of integrated profiles from leaking into the lower wavenumbers.
enum class Detrend { none, mean, linear };

// One-sided spectral density of one record at the wavenumbers k / (L dx),
// k = 1 .. L/2, in cycles per unit length (L the segment length, dx the
// sample interval). density is in squared units of the samples per cycle
// per unit length; its integral over the wavenumbers is the variance.
struct Spectrum {
    std::vector<double> wavenumber;
    std::vector<double> density;
    std::size_t segments = 0; // periodograms averaged
};

// Auto and cross spectra of two records at the same wavenumbers; cross is
// the one-sided cross spectral density of a with b.
struct CrossSpectrum {
    std::vector<double> wavenumber;
    std::vector<double> density_a;
    std::vector<double> density_b;
    std::vector<std::complex<double>> cross;
    std::size_t segments = 0;
};

// Replaces data by its discrete Fourier transform, sum of x_j e^(-2 pi i jk/N).
// The size must be a power of 2 (1 included); other sizes leave data alone
// and return false.
bool fft(std::vector<std::complex<double>> &data);

// The wavenumber band of the road classes, cycle/m: the roughness that
// matters to a vehicle, without the mean and the kilometre-scale drift.
constexpr double class_band_low = 0.011, class_band_high = 2.83;

// The RMS of the series about its mean (0 for fewer than one sample).
double rms_about_mean(const double *samples, std::size_t n);

// The RMS of the series' content between lo and hi cycle/m: the mean
// removed, the series zero-padded to a power of 2 and its Fourier
// coefficients in the band summed (Parseval). Finite for any finite values
// (scaled by the largest magnitude first); 0 for fewer than 2 samples or a
// bad interval.
double band_rms(const double *samples, std::size_t n, double interval, double lo, double hi);

// Welch's estimate: segments of segment samples (a power of 2, at least 4)
// overlapping by half, each detrended and weighted by a Hann window. A
// record shorter than one segment, or a bad segment length or interval,
// gives an empty result.
Spectrum welch(const double *samples, std::size_t n, double interval, std::size_t segment,
               Detrend detrend = Detrend::linear);

CrossSpectrum welch_cross(const double *a, const double *b, std::size_t n, double interval,
                          std::size_t segment, Detrend detrend = Detrend::linear);

// Magnitude-squared coherence |Pab|^2 / (Paa Pbb) at each wavenumber of s
// (0 where a density is 0). It is biased upwards by about (1 - c)^2 / K for
// K averaged segments: average the spectra over a band of wavenumbers first
// (coherence_of) when the true coherence is small.
std::vector<double> coherence(const CrossSpectrum &s);

// The coherence of the spectra summed over the wavenumbers in [lo, hi);
// bins counts them (may be NULL). 0 when the band holds no wavenumber.
double coherence_of(const CrossSpectrum &s, double lo, double hi, std::size_t *bins = nullptr);

// Mean of values over the wavenumbers in [lo, hi); bins counts them.
double band_mean(const std::vector<double> &wavenumber, const std::vector<double> &values,
                 double lo, double hi, std::size_t *bins = nullptr);

} // namespace psd

#endif
