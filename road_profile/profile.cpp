// The road profile model: one track from one stream of three components, two
// tracks from three streams and a pair of first-order filters.
//
// Every formula is evaluated in the order written here; algebraically equal
// forms differ in the last bit and would change the profile a seed gives.
#include "road_profile/profile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr double decay_rate = 0.002;        // integrator decay per unit of distance
constexpr double corner = 4.44288293815837; // pi sqrt(2), with exactly these digits

// The static record set of the last synthesis.
struct Records {
    RprofParams params;
    RprofPcs pcs;
    RprofVars vars1, vars2, vars3;
    RprofXpcs xpcs;
    RprofXvars xvars;
    RprofResult result;
};

Records rec;

void *(*alloc_fn)(size_t, size_t) = std::calloc;

const char *const prefix = "Error synthesizing road profile: ";

// The calendar time in seconds as a positive seed. Until 2038 that is the
// time itself; later times wrap into 1..2147483646 instead of overflowing,
// and a clock that fails gives 1.
int32_t clock_seed() {
    std::time_t t = std::time(nullptr);
    if (t < 1) return 1;
    long long s = static_cast<long long>(t) % INT32_MAX;
    return s == 0 ? 1 : static_cast<int32_t>(s);
}

// Clears a stream and seeds it from start (from the clock when start is 0 or
// less): one deviate is drawn with the negated seed and discarded, which
// rebuilds the shared generator and leaves the cached deviate that the
// stream's first draw returns. Returns the stream's new, positive idum.
int32_t seed_stream(RprofVars *v, int32_t start) {
    v->za = 0.0;
    v->sa = 0.0;
    v->zs = 0.0;
    int32_t s = start > 0 ? -start : -clock_seed();
    gasdev(&s);
    v->idum = s;
    return s;
}

// ceil(length x (1 / interval)) + 1, the reciprocal formed first. The
// quotient length / interval rounds differently for some lengths (0.55 x 100
// is 55.00000000000001, 0.55 / 0.01 is 55), and the count must not change.
double sample_count(double length, double interval) {
    double r = 1.0 / interval;
    return std::ceil(length * r) + 1.0;
}

double *new_samples(int32_t n) {
    return static_cast<double *>(alloc_fn(static_cast<size_t>(n), sizeof(double)));
}

// Why the arguments cannot be synthesised, or nullptr. Every comparison is
// written so that NaN fails it.
const char *refusal(double ga, double ge, double gs, double corr_length, double length,
                    double interval, int32_t nprofs) {
    if (!(interval > 0.0) || !std::isfinite(interval)) return "interval must be a positive number";
    if (!std::isfinite(1.0 / interval)) return "interval is too small";
    if (!(length >= 0.0) || !std::isfinite(length)) return "length must be a number of 0 or more";
    if (!(sample_count(length, interval) <= RPROF_MAX_SAMPLES))
        return "length and interval give more than 2147483647 samples";
    if (!std::isfinite(ga) || !std::isfinite(ge) || !std::isfinite(gs))
        return "ga, ge and gs must be numbers";
    if (nprofs == 1) return nullptr;
    if (!(corr_length > 0.0)) return "corr_length must be a positive number for two tracks";
    if (!std::isfinite(corner / corr_length * interval))
        return "corr_length is too small for the interval";
    return nullptr;
}

void point_records() {
    rec.result.params = &rec.params;
    rec.result.pcs = &rec.pcs;
    rec.result.vars1 = &rec.vars1;
    rec.result.vars2 = &rec.vars2;
    rec.result.vars3 = &rec.vars3;
    rec.result.xpcs = &rec.xpcs;
    rec.result.xvars = &rec.xvars;
}

// Allocates x with n distances i x interval.
bool fill_distances(int32_t n) {
    rec.result.x = new_samples(n);
    if (rec.result.x == nullptr) return false;
    for (int32_t i = 0; i < n; i++)
        rec.result.x[i] = i * rec.params.interval;
    rec.result.n = n;
    return true;
}

// One track. r is 1 / interval: the white-noise scale is formed from it, not
// from a division by the interval as init_rprof1_pcs does, and the two differ
// in the last bit for some intervals.
bool one_track(double r) {
    rec.pcs.wa = std::sqrt(rec.params.ga * rec.params.interval * 0.5);
    rec.pcs.we = std::sqrt(r * rec.params.ge * 0.5);
    rec.pcs.ws = std::sqrt(rec.params.gs * rec.params.interval * 0.5);
    rec.pcs.decay = 1.0 - rec.params.interval * decay_rate;
    seed_stream(&rec.vars1, rec.params.seed);
    rec.result.z1 = new_samples(rec.result.n);
    if (rec.result.z1 == nullptr) return false;
    for (int32_t i = 0; i < rec.result.n; i++)
        rec.result.z1[i] = rprof1(rec.params.interval, &rec.pcs, &rec.vars1);
    return true;
}

bool two_tracks() {
    init_rprof2(&rec.result);
    if (rec.result.z1 == nullptr) return false;
    for (int32_t i = 0; i < rec.result.n; i++)
        rprof2(&rec.result, i);
    return true;
}

// Allocates z1 and z2 of res->n entries, releasing what they held. On
// failure neither is left and n is 0.
void new_tracks(RprofResult *res) {
    std::free(res->z1);
    std::free(res->z2);
    res->z1 = nullptr;
    res->z2 = nullptr;
    if (res->n <= 0) {
        res->n = 0;
        return;
    }
    res->z1 = new_samples(res->n);
    res->z2 = new_samples(res->n);
    if (res->z1 == nullptr || res->z2 == nullptr) {
        std::free(res->z1);
        std::free(res->z2);
        res->z1 = nullptr;
        res->z2 = nullptr;
        res->n = 0;
    }
}

bool complete(const RprofResult *res) {
    return res != nullptr && res->params != nullptr && res->pcs != nullptr &&
           res->vars1 != nullptr && res->vars2 != nullptr && res->vars3 != nullptr &&
           res->xpcs != nullptr && res->xvars != nullptr;
}

} // namespace

extern "C" int rprof_check(const char **message, double ga, double ge, double gs,
                           double corr_length, double length, double interval, int32_t nprofs) {
    const char *why = refusal(ga, ge, gs, corr_length, length, interval, nprofs);
    if (message != nullptr) *message = why;
    return why == nullptr ? 0 : -1;
}

extern "C" void rprof_release(void) {
    std::free(rec.result.x);
    std::free(rec.result.z1);
    std::free(rec.result.z2);
    rec.result.x = nullptr;
    rec.result.z1 = nullptr;
    rec.result.z2 = nullptr;
    rec.result.n = 0;
}

namespace {

// The arrays of the last synthesis stay readable until the next one; they
// go with the library when it is unloaded.
struct ReleaseAtUnload {
    ~ReleaseAtUnload() { rprof_release(); }
} release_at_unload;

} // namespace

extern "C" void rprof_set_calloc(void *(*fn)(size_t count, size_t size)) {
    alloc_fn = fn != nullptr ? fn : std::calloc;
}

extern "C" RprofResult *genrprof_sayers(double ga, double ge, double gs, double corr_length,
                                        double length, double interval, int32_t nprofs,
                                        int32_t seed) {
    rprof_release();
    if (nprofs != 1 && nprofs != 2) std::printf("%snprofs must be 1 or 2.\n", prefix);
    rec.params = RprofParams{ga, ge, gs, corr_length, length, interval, nprofs, seed};
    point_records();

    const char *why = refusal(ga, ge, gs, corr_length, length, interval, nprofs);
    if (why != nullptr) {
        std::printf("%s%s.\n", prefix, why);
        return &rec.result;
    }
    double r = 1.0 / interval;
    int32_t n = static_cast<int32_t>(sample_count(length, interval));
    bool ok = fill_distances(n) && (nprofs == 1 ? one_track(r) : two_tracks());
    if (!ok) {
        rprof_release();
        std::printf("%snot enough memory for %ld samples.\n", prefix, static_cast<long>(n));
    }
    return &rec.result;
}

extern "C" void init_rprof1_pcs(RprofPcs *pcs, double a, double e, double s, double dx) {
    if (pcs == nullptr) return;
    pcs->wa = std::sqrt(a * dx * 0.5);
    pcs->we = std::sqrt(e / dx * 0.5);
    pcs->ws = std::sqrt(s * dx * 0.5);
    pcs->decay = 1.0 - dx * decay_rate;
}

extern "C" void init_rprof1_vars(RprofVars *vars, int32_t *seed) {
    if (vars == nullptr || seed == nullptr) return;
    *seed = seed_stream(vars, *seed);
}

extern "C" void init_rprof2(RprofResult *res) {
    if (!complete(res)) return;
    const RprofParams *p = res->params;
    RprofPcs *c = res->pcs;
    c->wa = std::sqrt(p->ga * 0.5 * p->interval * 0.5);
    c->we = std::sqrt(p->ge * 0.5 / p->interval * 0.5);
    c->ws = std::sqrt(p->gs * 0.5 * p->interval * 0.5);
    c->decay = 1.0 - p->interval * decay_rate;
    // Each stream seeds from the one before; the third seeding leaves the
    // shared generator in the state the synthesis starts from.
    seed_stream(res->vars1, p->seed);
    seed_stream(res->vars2, res->vars1->idum);
    seed_stream(res->vars3, res->vars2->idum);
    new_tracks(res);
    res->xpcs->wc = corner / p->corr_length * p->interval;
    res->xpcs->gain = 1.0 / (res->xpcs->wc + 1.0);
    res->xvars->hp = 0.0;
    res->xvars->hp_in = 0.0;
    res->xvars->lp = 0.0;
}

extern "C" double rprof1(double dx, RprofPcs *pcs, RprofVars *vars) {
    if (pcs == nullptr || vars == nullptr) return 0.0;
    if (pcs->wa > 0.0) {
        double g = gasdev(&vars->idum);
        vars->sa = g * pcs->wa + vars->sa * pcs->decay;
        vars->za = pcs->decay * vars->za + vars->sa * dx;
    }
    if (pcs->ws > 0.0) {
        double g = gasdev(&vars->idum);
        vars->zs = g * pcs->ws + pcs->decay * vars->zs;
    }
    if (pcs->we > 0.0) {
        double g = gasdev(&vars->idum);
        return g * pcs->we + (vars->zs + vars->za);
    }
    return vars->zs + vars->za;
}

extern "C" void rprof2(RprofResult *res, int32_t i) {
    if (!complete(res) || res->z1 == nullptr || res->z2 == nullptr || i < 0 || i >= res->n) return;
    double dx = res->params->interval;
    double r1 = rprof1(dx, res->pcs, res->vars1);
    double r2 = rprof1(dx, res->pcs, res->vars2);
    double r3 = rprof1(dx, res->pcs, res->vars3);
    RprofXvars *f = res->xvars;
    const RprofXpcs *c = res->xpcs;
    f->lp = (r2 * c->wc + f->lp) * c->gain;    // low pass of r2
    f->hp = (r3 + f->hp - f->hp_in) * c->gain; // high pass of r3
    f->hp_in = r3;
    res->z1[i] = (f->hp + f->lp) + r1;
    res->z2[i] = (f->lp + r1) - f->hp;
}
