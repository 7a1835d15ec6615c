// The road profile model: the stated example profile, the sample count rule,
// the seeding, the two-track filters, the refused arguments and, on long
// profiles, the spectral densities and the coherence of the tracks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "analysis/psd.h"
#include "road_profile/profile.h"
#include "sorvan_view.h"
#include "support/files.h"

namespace {

const double pi = std::acos(-1.0);

class Sayers : public testing::Test {
  protected:
    void TearDown() override {
        rprof_set_calloc(nullptr);
        rprof_release();
    }
};

std::vector<double> copy(const double *p, int32_t n) {
    return p == nullptr ? std::vector<double>() : std::vector<double>(p, p + n);
}

// A stream's state after seeding, found with the generators alone: one
// deviate drawn with the negated seed and thrown away.
int32_t seeded(int32_t seed) {
    int32_t s = -seed;
    gasdev(&s);
    return s;
}

TEST_F(Sayers, OneTrackExample) {
    RprofResult *r = genrprof_sayers(0.0, 1.0, 0.0, 0.0, 1.5, 0.5, 1, 1);
    ASSERT_EQ(r->n, 4);
    const double x[] = {0.0, 0.5, 1.0, 1.5};
    const double z[] = {-0.85570077, 0.21422127, -0.80267450, 0.70885226};
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(r->x[i], x[i]);
        EXPECT_NEAR(r->z1[i], z[i], 5e-9) << "sample " << i;
    }
    EXPECT_EQ(r->z2, nullptr);
    EXPECT_EQ(r->pcs->we, 1.0);
    EXPECT_EQ(r->params->seed, 1);
    EXPECT_EQ(r->params->interval, 0.5);
}

TEST_F(Sayers, SampleCountUsesTheReciprocal) {
    RprofResult *r = genrprof_sayers(0.0, 0.0, 0.0, 0.0, 10.0, 0.1, 1, 3);
    ASSERT_EQ(r->n, 101);
    EXPECT_EQ(r->x[100], 10.0);

    r = genrprof_sayers(0.0, 0.0, 0.0, 0.0, 10.05, 0.1, 1, 3); // 10.05 x 10 ties to 100.5
    ASSERT_EQ(r->n, 102);
    EXPECT_EQ(r->x[101], 101 * 0.1);
    EXPECT_EQ(r->x[101], 10.100000000000001);

    r = genrprof_sayers(0.0, 0.0, 0.0, 0.0, 0.0, 0.1, 1, 3);
    ASSERT_EQ(r->n, 1);
    EXPECT_EQ(r->x[0], 0.0);

    r = genrprof_sayers(0.0, 0.0, 0.0, 0.0, 0.07, 0.01, 1, 3); // 0.07 x 100 = 7.000000000000001
    EXPECT_EQ(r->n, 9);

    // Over the lengths 0.00 to 20.00 at 0.01, 134 get one sample more than
    // length / interval + 1 suggests, and 66 differ from the quotient form.
    int more = 0, quotient_differs = 0;
    for (int k = 0; k <= 2000; k++) {
        double length = k / 100.0;
        int32_t n = genrprof_sayers(0.0, 0.0, 0.0, 0.0, length, 0.01, 1, 3)->n;
        more += n != k + 1;
        quotient_differs += n != std::ceil(length / 0.01) + 1.0;
    }
    EXPECT_EQ(more, 134);
    EXPECT_EQ(quotient_differs, 66);
}

TEST_F(Sayers, WhiteNoiseScaleFromReciprocal) {
    // For this coefficient and interval sqrt((1/dx) ge / 2) and
    // sqrt(ge / dx / 2) differ in the last bit; a synthesis uses the first.
    const double ge = 1e-5, dx = 0.11;
    RprofPcs other;
    init_rprof1_pcs(&other, 0.0, ge, 0.0, dx);
    const double we = std::sqrt(1.0 / dx * ge * 0.5);
    ASSERT_NE(other.we, we);

    RprofResult *r = genrprof_sayers(0.0, ge, 0.0, 0.0, 5.0, dx, 1, 7);
    std::vector<double> z = copy(r->z1, r->n);
    int32_t idum = seeded(7);
    for (size_t i = 0; i < z.size(); i++)
        ASSERT_EQ(z[i], gasdev(&idum) * we) << "sample " << i;
}

TEST_F(Sayers, ZeroCoefficientsDrawNothing) {
    for (int32_t nprofs : {1, 2}) {
        // What the seeding leaves: the last stream's state and the cached
        // deviate of the pair it drew.
        int32_t s = seeded(99);
        if (nprofs == 2) s = seeded(seeded(s));
        int32_t probe = 1;
        const double cached = gasdev(&probe);

        RprofResult *r = genrprof_sayers(0.0, 0.0, 0.0, 20.0, 3.0, 0.25, nprofs, 99);
        ASSERT_EQ(r->n, 13);
        for (int i = 0; i < r->n; i++) {
            EXPECT_EQ(r->z1[i], 0.0);
            if (nprofs == 2) {
                EXPECT_EQ(r->z2[i], 0.0);
            }
        }
        EXPECT_EQ((nprofs == 1 ? r->vars1 : r->vars3)->idum, s);
        probe = 1;
        EXPECT_EQ(gasdev(&probe), cached) << "a deviate was drawn after seeding";
        EXPECT_EQ(probe, 1);
    }
}

TEST_F(Sayers, SeedDecidesTheProfile) {
    std::vector<double> a = copy(genrprof_sayers(1e-3, 1e-2, 1e-1, 3.0, 20, 0.1, 2, 5)->z2, 201);
    int32_t idum = -77; // disturb the shared generator in between
    for (int i = 0; i < 3; i++)
        gasdev(&idum);
    std::vector<double> b = copy(genrprof_sayers(1e-3, 1e-2, 1e-1, 3.0, 20, 0.1, 2, 5)->z2, 201);
    EXPECT_EQ(a, b);

    // 0 or less: the calendar time in seconds is the seed.
    for (int32_t seed : {0, -5}) {
        bool compared = false;
        for (int attempt = 0; attempt < 5 && !compared; attempt++) {
            std::time_t before = std::time(nullptr);
            std::vector<double> c = copy(genrprof_sayers(0, 1, 0, 0, 2, 0.1, 1, seed)->z1, 21);
            if (std::time(nullptr) != before) continue; // the clock moved on meanwhile
            int32_t t = static_cast<int32_t>(before);
            EXPECT_EQ(c, copy(genrprof_sayers(0, 1, 0, 0, 2, 0.1, 1, t)->z1, 21));
            compared = true;
        }
        EXPECT_TRUE(compared);
    }
}

// One stream of the two-track model, written from the model's equations
// with half of each coefficient.
struct Stream {
    int32_t idum;
    double za = 0.0, sa = 0.0, zs = 0.0;
    double next(double ga, double ge, double gs, double dx) {
        double decay = 1.0 - 0.002 * dx, z = 0.0;
        if (ga > 0.0) {
            sa = decay * sa + std::sqrt(ga / 4.0 * dx) * gasdev(&idum);
            za = decay * za + dx * sa;
        }
        if (gs > 0.0) zs = decay * zs + std::sqrt(gs / 4.0 * dx) * gasdev(&idum);
        if (ge > 0.0) z = std::sqrt(ge / 4.0 / dx) * gasdev(&idum);
        return z + zs + za;
    }
};

TEST_F(Sayers, TwoTracksShareLowPassAndSplitHighPass) {
    const double ga = 2e-3, ge = 1e-5, gs = 3e-4, corr = 5.0, dx = 0.1;
    RprofResult *r = genrprof_sayers(ga, ge, gs, corr, 100.0, dx, 2, 42);
    ASSERT_EQ(r->n, 1001);
    std::vector<double> z1 = copy(r->z1, r->n), z2 = copy(r->z2, r->n);

    Stream s1{seeded(42)};
    Stream s2{seeded(s1.idum)};
    Stream s3{seeded(s2.idum)};
    const double wc = pi * std::sqrt(2.0) / corr * dx, gain = 1.0 / (1.0 + wc);
    double lp = 0.0, hp = 0.0, r3_prev = 0.0, scale = 0.0;
    for (int i = 0; i < r->n; i++) {
        double r1 = s1.next(ga, ge, gs, dx);
        double r2 = s2.next(ga, ge, gs, dx);
        double r3 = s3.next(ga, ge, gs, dx);
        lp = gain * (lp + wc * r2);
        hp = gain * (hp + r3 - r3_prev);
        r3_prev = r3;
        scale = std::fmax(scale, std::fabs(r1) + std::fabs(lp) + std::fabs(hp));
        ASSERT_NEAR((z1[i] + z2[i]) / 2.0, r1 + lp, 1e-12 * scale) << "sample " << i;
        ASSERT_NEAR((z1[i] - z2[i]) / 2.0, hp, 1e-12 * scale) << "sample " << i;
    }
    EXPECT_GT(scale, 0.01);
}

// Mean square of a - b over mean square of a.
double relative_ms(const std::vector<double> &a, const std::vector<double> &b) {
    double d = 0.0, s = 0.0;
    for (size_t i = 0; i < a.size(); i++) {
        d += (a[i] - b[i]) * (a[i] - b[i]);
        s += a[i] * a[i];
    }
    return d / s;
}

TEST_F(Sayers, CorrelationLengthMovesTheCorner) {
    // A short correlation length puts the corner at short wavelengths: the
    // low pass passes nearly everything and the high pass nearly nothing,
    // so the tracks nearly coincide.
    RprofResult *r = genrprof_sayers(0.0, 1.0, 0.0, 1e-6, 2000.0, 0.1, 2, 8);
    EXPECT_LT(relative_ms(copy(r->z1, r->n), copy(r->z2, r->n)), 1e-9);

    // A long one puts it at long wavelengths: the high pass passes nearly
    // everything, the tracks differ by twice the third stream, and with
    // white noise the mean square of that difference is twice a track's
    // (20001 samples: about 2 % standard error).
    r = genrprof_sayers(0.0, 1.0, 0.0, 1e9, 2000.0, 0.1, 2, 8);
    double ratio = relative_ms(copy(r->z1, r->n), copy(r->z2, r->n));
    EXPECT_NEAR(ratio, 2.0, 0.15);
}

TEST_F(Sayers, ExportedStepsReproduceTheSynthesis) {
    // One track by hand: we = sqrt(1 / 0.5 x 0.5) = 1 here as well.
    RprofPcs pcs;
    RprofVars vars;
    init_rprof1_pcs(&pcs, 0.0, 1.0, 0.0, 0.5);
    int32_t seed = 1;
    init_rprof1_vars(&vars, &seed);
    EXPECT_GT(seed, 0);
    EXPECT_EQ(vars.idum, seed);
    EXPECT_NEAR(rprof1(0.5, &pcs, &vars), -0.85570077, 5e-9);
    EXPECT_NEAR(rprof1(0.5, &pcs, &vars), 0.21422127, 5e-9);

    // Two tracks on a record of the caller's own.
    RprofParams params = {1e-3, 1e-4, 1e-2, 2.0, 4.9, 0.1, 2, 11};
    RprofPcs pcs2;
    RprofVars v1, v2, v3;
    RprofXpcs xpcs;
    RprofXvars xvars;
    RprofResult mine = {nullptr, nullptr, nullptr, 50,    &params, &pcs2,
                        &v1,     &v2,     &v3,     &xpcs, &xvars};
    init_rprof2(&mine);
    ASSERT_NE(mine.z1, nullptr);
    ASSERT_NE(mine.z2, nullptr);
    for (int32_t i = 0; i < mine.n; i++)
        rprof2(&mine, i);
    int32_t idum = v1.idum;
    rprof2(&mine, -1); // outside the arrays: nothing drawn, nothing written
    rprof2(&mine, mine.n);
    EXPECT_EQ(v1.idum, idum);
    std::vector<double> z1 = copy(mine.z1, mine.n), z2 = copy(mine.z2, mine.n);
    std::free(mine.z1);
    std::free(mine.z2);

    RprofResult *r = genrprof_sayers(1e-3, 1e-4, 1e-2, 2.0, 4.9, 0.1, 2, 11);
    ASSERT_EQ(r->n, 50);
    EXPECT_EQ(copy(r->z1, r->n), z1);
    EXPECT_EQ(copy(r->z2, r->n), z2);

    // Missing records are refused, not followed.
    EXPECT_EQ(rprof1(0.1, nullptr, &vars), 0.0);
    init_rprof2(nullptr);
    RprofResult bare = {};
    bare.n = 5;
    init_rprof2(&bare);
    rprof2(&bare, 0);
    EXPECT_EQ(bare.z1, nullptr);
}

TEST_F(Sayers, TracksOfTheLastSynthesisOnly) {
    RprofResult *r = genrprof_sayers(0.0, 1.0, 0.0, 2.0, 1.0, 0.1, 2, 4);
    ASSERT_NE(r->z2, nullptr);
    r = genrprof_sayers(0.0, 1.0, 0.0, 2.0, 3.0, 0.1, 1, 4);
    EXPECT_EQ(r->n, 31);
    EXPECT_EQ(r->z2, nullptr); // no second track left over from before
    rprof_release();
    EXPECT_EQ(r->n, 0);
    EXPECT_EQ(r->x, nullptr);
    EXPECT_EQ(r->z1, nullptr);
}

TEST_F(Sayers, ArgumentsAtTheLimits) {
    const char *message = "untouched";
    // The largest count is accepted (and not synthesised here).
    EXPECT_EQ(rprof_check(&message, 0, 1, 0, 1, 2147483646.0, 1.0, 1), 0);
    EXPECT_EQ(message, nullptr);
    EXPECT_EQ(rprof_check(nullptr, 0, 1, 0, 0.0, 0.0, 0.1, 1), 0); // corr_length unused
    EXPECT_EQ(rprof_check(nullptr, 0, 1, 0, 1e9, 0.0, 0.1, 2), 0);
    EXPECT_EQ(rprof_check(nullptr, -1, -1, -1, 1, 1, 0.1, 2), 0); // skipped components
    // Any count but 1 is two tracks here (the host command refuses it).
    EXPECT_EQ(rprof_check(&message, 0, 1, 0, 0.0, 10, 0.1, 0), -1);
    EXPECT_STREQ(message, "corr_length must be a positive number for two tracks");

    // A refusal (the arguments' refusals are in the catalogue of bad input)
    // leaves no tracks of an earlier synthesis behind.
    ASSERT_EQ(genrprof_sayers(0, 1, 0, 2.0, 1.0, 0.1, 2, 4)->n, 11);
    RprofResult *refused = nullptr;
    EXPECT_EQ(
        sorvan::test::printed([&] { refused = genrprof_sayers(0, 1, 0, 2.0, 1.0, -0.1, 2, 4); }),
        "Error synthesizing road profile: interval must be a positive number.\n");
    EXPECT_EQ(refused->n, 0);
    EXPECT_EQ(refused->x, nullptr);
    EXPECT_EQ(refused->z1, nullptr);
    EXPECT_EQ(refused->z2, nullptr);

    testing::internal::CaptureStdout();
    std::vector<double> three = copy(genrprof_sayers(0, 1, 1, 4.0, 3.0, 0.1, 3, 6)->z2, 31);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error synthesizing road profile: nprofs must be 1 or 2.\n");
    EXPECT_EQ(three, copy(genrprof_sayers(0, 1, 1, 4.0, 3.0, 0.1, 2, 6)->z2, 31));
}

int allocations_left;

void *failing_calloc(size_t count, size_t size) {
    return allocations_left-- > 0 ? std::calloc(count, size) : nullptr;
}

TEST_F(Sayers, ExhaustedMemory) {
    rprof_set_calloc(failing_calloc);
    for (int32_t nprofs : {1, 2}) {
        for (int allowed = 0; allowed < nprofs + 1; allowed++) {
            SCOPED_TRACE(testing::Message() << nprofs << " tracks, " << allowed << " allowed");
            allocations_left = allowed;
            testing::internal::CaptureStdout();
            RprofResult *r = genrprof_sayers(0, 1, 0, 2.0, 1.0, 0.1, nprofs, 2);
            EXPECT_EQ(testing::internal::GetCapturedStdout(),
                      "Error synthesizing road profile: not enough memory for 11 samples.\n");
            EXPECT_EQ(r->n, 0);
            EXPECT_EQ(r->x, nullptr);
            EXPECT_EQ(r->z1, nullptr);
            EXPECT_EQ(r->z2, nullptr);
        }
        allocations_left = nprofs + 1;
        EXPECT_EQ(genrprof_sayers(0, 1, 0, 2.0, 1.0, 0.1, nprofs, 2)->n, 11);
    }
}

// ---- Spectral densities of long profiles ----
//
// Welch estimates with Hann windows of L samples overlapping by half. For K
// averaged periodograms the relative variance of one bin is about 1.06 / K
// (the overlap correlates neighbouring segments); neighbouring Hann bins
// are correlated too (4/9 in power), so the mean over m bins of a band has
// a relative standard error of about sqrt(2.05 / (K m)). Each band is held
// to 4 such errors plus 2 % for the bias of model and estimator.
//
// The band 0.005 .. 0.5 cycles per unit length at interval 0.1 (two decades)
// keeps those biases inside the 2 %:
// - long wavelengths: each integrator decays by 0.002 per unit length, a
//   corner at 0.002 / (2 pi) = 3.2e-4 cycles per unit; at 0.005 this lowers
//   the doubly integrated density by 2 (3.2e-4 / 0.005)^2 = 0.8 %;
// - sampling limit: the discrete integrators raise the density by
//   ((pi v dx) / sin(pi v dx))^4, 1.6 % at 0.5 (a tenth of the limit);
// - the window: with L = 32768 the band starts at bin 16, where the
//   window's averaging of a v^-4 density is biased by about 3.3 / 16^2.
constexpr double dx = 0.1;
constexpr size_t seg = 32768;
constexpr double band_lo = 0.005, band_hi = 0.5;
constexpr int bands_per_decade = 4;

double model(double ga, double ge, double gs, double v) {
    double w = 2.0 * pi * v;
    return ge + gs / (w * w) + ga / (w * w * w * w);
}

// Compares density / expected over log bands of the test band.
void expect_density(const std::vector<double> &v, const std::vector<double> &density,
                    size_t segments, const std::vector<double> &expected) {
    std::vector<double> ratio(v.size());
    for (size_t k = 0; k < v.size(); k++)
        ratio[k] = density[k] / expected[k];
    int bands = static_cast<int>(std::lround(std::log10(band_hi / band_lo) * bands_per_decade));
    for (int b = 0; b < bands; b++) {
        double lo = band_lo * std::pow(10.0, static_cast<double>(b) / bands_per_decade);
        double hi = band_lo * std::pow(10.0, static_cast<double>(b + 1) / bands_per_decade);
        size_t m;
        double mean = psd::band_mean(v, ratio, lo, hi, &m);
        ASSERT_GT(m, 0u);
        double se = std::sqrt(2.05 / static_cast<double>(segments * m));
        EXPECT_NEAR(mean, 1.0, 0.02 + 4.0 * se) << "band " << lo << " .. " << hi;
    }
}

TEST(SayersSpectrum, OneTrackFollowsTheModel) {
    struct Case {
        double ga, ge, gs;
        int32_t seed;
    };
    // 2^20 samples: 63 segments; the first band (13 bins) has a standard
    // error of 5 %, the last (717 bins) of 0.7 %.
    for (Case c : {Case{0, 2e-6, 0, 31}, Case{0, 0, 4e-5, 32}, Case{3e-7, 0, 0, 33}}) {
        SCOPED_TRACE(testing::Message() << "ga " << c.ga << " ge " << c.ge << " gs " << c.gs);
        RprofResult *r = genrprof_sayers(c.ga, c.ge, c.gs, 0.0, 104857.5, dx, 1, c.seed);
        ASSERT_EQ(r->n, 1 << 20);
        psd::Spectrum s = psd::welch(r->z1, r->n, dx, seg);
        ASSERT_EQ(s.segments, 63u);
        std::vector<double> expected;
        for (double v : s.wavenumber)
            expected.push_back(model(c.ga, c.ge, c.gs, v));
        expect_density(s.wavenumber, s.density, s.segments, expected);
    }
    rprof_release();
}

TEST(SayersSpectrum, TwoTracksPartAtTheCorner) {
    // Each stream carries half the density P. The tracks are
    // r1 + L r2 +- H r3 with the low pass L = wc / ((1 + wc) - z^-1) and the
    // high pass H = (1 - z^-1) / ((1 + wc) - z^-1), so with
    // D = wc^2 + 2 (1 + wc) (1 - cos t), |L|^2 = wc^2 / D and
    // |H|^2 = 2 (1 - cos t) / D at t = 2 pi v dx:
    //   track density  P (1 + |L|^2 + |H|^2) / 2   (close to P)
    //   cross density  P (1 + |L|^2 - |H|^2) / 2
    // and the coherence is the square of their ratio: near 1 at long
    // wavelengths, 1/4 at the corner, near 0 at short wavelengths.
    const double ga = 1e-3, ge = 1.0, gs = 1.0;
    const double corr = 1.0 / (std::sqrt(2.0) * 0.05); // corner at 0.05 cycles per unit
    RprofResult *r = genrprof_sayers(ga, ge, gs, corr, 52428.7, dx, 2, 21);
    ASSERT_EQ(r->n, 1 << 19);
    psd::CrossSpectrum s = psd::welch_cross(r->z1, r->z2, r->n, dx, seg);
    ASSERT_EQ(s.segments, 31u);

    const double wc = pi * std::sqrt(2.0) / corr * dx;
    std::vector<double> track, cross;
    for (double v : s.wavenumber) {
        double c = 1.0 - std::cos(2.0 * pi * v * dx);
        double d = wc * wc + 2.0 * (1.0 + wc) * c;
        double l2 = wc * wc / d, h2 = 2.0 * c / d, p = model(ga, ge, gs, v);
        track.push_back(p * (1.0 + l2 + h2) / 2.0);
        cross.push_back(p * (1.0 + l2 - h2) / 2.0);
    }
    expect_density(s.wavenumber, s.density_a, s.segments, track);
    expect_density(s.wavenumber, s.density_b, s.segments, track);

    // The coherence of band sums: with nu = K m / 2.05 degrees of freedom
    // its standard deviation is about sqrt(2 c) (1 - c) / sqrt(nu), and it
    // is biased upwards by about (1 - c)^2 / nu.
    for (double lo = band_lo; lo < band_hi * 0.999; lo *= std::pow(10.0, 0.25)) {
        double hi = lo * std::pow(10.0, 0.25);
        size_t m;
        double got = psd::coherence_of(s, lo, hi, &m);
        double sum_track = 0.0, sum_cross = 0.0;
        for (size_t k = 0; k < s.wavenumber.size(); k++) {
            if (s.wavenumber[k] >= lo && s.wavenumber[k] < hi) {
                sum_track += track[k];
                sum_cross += cross[k];
            }
        }
        double want = (sum_cross / sum_track) * (sum_cross / sum_track);
        double nu = static_cast<double>(s.segments * m) / 2.05;
        double tol = 4.0 * std::sqrt(2.0 * want / nu) * (1.0 - want) + 2.0 / nu + 0.005;
        EXPECT_NEAR(got, want, tol) << "band " << lo << " .. " << hi;
    }
    std::vector<double> per_bin = psd::coherence(s);
    EXPECT_GT(psd::band_mean(s.wavenumber, per_bin, 0.005, 0.008), 0.9);
    EXPECT_LT(psd::band_mean(s.wavenumber, per_bin, 0.3, 0.5), 0.1);
    rprof_release();
}

} // namespace
