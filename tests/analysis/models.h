// What the analysis tests build their cases from: ABC matrix files read
// independently of the library's reader (one row a line, blank-separated
// values), state-space models of known behaviour, and Gaussian road
// profiles of a given density.
#ifndef SORVAN_TESTS_ANALYSIS_MODELS_H
#define SORVAN_TESTS_ANALYSIS_MODELS_H

#include "analysis/psd.h"
#include "analysis/state_space.h"
#include "support/files.h"

#include <Eigen/Dense>

#include <complex>
#include <functional>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace sorvan::test {

inline Eigen::MatrixXd read_abc(const std::string &path) {
    std::istringstream in(read_text(path));
    std::vector<std::vector<double>> rows;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        rows.emplace_back();
        for (double v; fields >> v;)
            rows.back().push_back(v);
    }
    Eigen::MatrixXd m(static_cast<Eigen::Index>(rows.size()),
                      rows.empty() ? 0 : static_cast<Eigen::Index>(rows[0].size()));
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < rows[i].size(); ++j)
            m(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)) = rows[i][j];
    return m;
}

// m x'' + c x' + k x = F: states x and x', outputs x and x'.
inline analysis::StateSpace oscillator(double m, double c, double k) {
    return {Eigen::MatrixXd{{0.0, 1.0}, {-k / m, -c / m}}, Eigen::MatrixXd{{0.0}, {1.0 / m}},
            Eigen::MatrixXd::Identity(2, 2), Eigen::MatrixXd::Zero(2, 1)};
}

// The quarter car of examples/quarter: states body z, wheel z and their
// rates, the road below the tyre the input, every state an output.
constexpr double car_ms = 400, car_mu = 40, car_ks = 20e3, car_cs = 1.5e3, car_kt = 200e3;

inline analysis::StateSpace quarter_car() {
    const double ms = car_ms, mu = car_mu, ks = car_ks, cs = car_cs, kt = car_kt;
    analysis::StateSpace m{Eigen::MatrixXd::Zero(4, 4), Eigen::MatrixXd::Zero(4, 1),
                           Eigen::MatrixXd::Identity(4, 4), Eigen::MatrixXd::Zero(4, 1)};
    m.a << 0, 0, 1, 0, 0, 0, 0, 1, -ks / ms, ks / ms, -cs / ms, cs / ms, ks / mu, -(ks + kt) / mu,
        cs / mu, -cs / mu;
    m.b(3, 0) = kt / mu;
    return m;
}

// The 2 x 2 block of a pair re +- i im of natural frequency f_hz and
// damping ratio zeta, as the modal form lays it out from state j.
inline void put_block(Eigen::MatrixXd &a, Eigen::Index j, double f_hz, double zeta) {
    const double wn = 2 * std::numbers::pi * f_hz;
    const double re = -zeta * wn, im = wn * std::sqrt(1.0 - zeta * zeta);
    a(j, j) = a(j + 1, j + 1) = re;
    a(j, j + 1) = im;
    a(j + 1, j) = -im;
}

// A periodic Gaussian profile of n samples (a power of 2): cosines at the
// wavenumbers k / (n interval) below the sampling limit, each of amplitude
// sqrt(2 G dv) for the density G, at random phases.
inline std::vector<double> gaussian_profile(const std::function<double(double)> &g, std::size_t n,
                                            double interval, std::mt19937_64 &rng) {
    std::uniform_real_distribution<double> phase(0.0, 2.0 * std::numbers::pi);
    const double dv = 1.0 / (static_cast<double>(n) * interval);
    std::vector<std::complex<double>> c(n, 0.0);
    for (std::size_t k = 1; k < n / 2; ++k)
        c[k] = std::polar(std::sqrt(2.0 * g(static_cast<double>(k) * dv) * dv), -phase(rng));
    ::psd::fft(c); // the real part of the transform is the sum of the cosines
    std::vector<double> z(n);
    for (std::size_t j = 0; j < n; ++j)
        z[j] = c[j].real();
    return z;
}

} // namespace sorvan::test

#endif
