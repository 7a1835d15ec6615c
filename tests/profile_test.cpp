// The road profile model: the stated example profile, the sample count rule,
// the seeding, each track against the model's equations written out here,
// the exported steps, what a refusal leaves and memory running out.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

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

// One stream of the model, written from its equations: white noise of
// density ge / 2, once integrated white noise of gs / 2 and twice
// integrated white noise of ga / 2, each integrator decaying by 0.002 per
// unit length. Each track of two carries two streams of half the
// coefficients.
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

TEST_F(Sayers, OneTrackIsOneStream) {
    const double ga = 2e-3, ge = 1e-5, gs = 3e-4, dx = 0.1;
    RprofResult *r = genrprof_sayers(ga, ge, gs, 0.0, 100.0, dx, 1, 42);
    ASSERT_EQ(r->n, 1001);
    Stream s{seeded(42)};
    double scale = 0.0;
    for (int i = 0; i < r->n; i++) {
        const double z = s.next(2 * ga, 2 * ge, 2 * gs, dx);
        scale = std::fmax(scale, std::fabs(z));
        ASSERT_NEAR(r->z1[i], z, 1e-12 * scale) << "sample " << i;
    }
    EXPECT_GT(scale, 0.01);
}

// Their sum is the first stream plus the second's low pass, their
// difference twice the third's high pass, the corner of both at
// sqrt(2) / corr_length radians per unit length.
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

// A refusal (the arguments' refusals are in the catalogue of bad input)
// leaves no tracks of an earlier synthesis behind.
TEST_F(Sayers, RefusalLeavesNoTracks) {
    ASSERT_EQ(genrprof_sayers(0, 1, 0, 2.0, 1.0, 0.1, 2, 4)->n, 11);
    RprofResult *refused = nullptr;
    EXPECT_EQ(
        sorvan::test::printed([&] { refused = genrprof_sayers(0, 1, 0, 2.0, 1.0, -0.1, 2, 4); }),
        "Error synthesizing road profile: interval must be a positive number.\n");
    EXPECT_EQ(refused->n, 0);
    EXPECT_EQ(refused->x, nullptr);
    EXPECT_EQ(refused->z1, nullptr);
    EXPECT_EQ(refused->z2, nullptr);
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

} // namespace
