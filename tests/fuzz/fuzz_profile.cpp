// Fuzzes the readers of sorvan profile with the input as an RPC III file
// and as a CSV table: each either refuses it with a message or returns
// channels of finite points, as many as it counts, whose mean and RMS are
// finite too.
#include "analysis/moments.h"
#include "analysis/profile_table.h"
#include "analysis/rpc3_file.h"
#include "fuzz_support.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using sorvan::fuzz::check;

void check_series(const std::vector<double> &v) {
    for (double x : v)
        check(std::isfinite(x));
    check(std::isfinite(sorvan::analysis::mean(v.data(), v.size())));
    check(std::isfinite(sorvan::analysis::rms(v.data(), v.size())));
}

void rpc3(const uint8_t *data, size_t size) {
    sorvan::analysis::Rpc3File f;
    std::string error;
    if (!sorvan::analysis::read_rpc3(data, size, "fuzz.rsp", f, error)) {
        check(!error.empty());
        return;
    }
    check(f.points >= 0 && f.points <= f.stored_points);
    check(std::isfinite(f.delta_t));
    for (const auto &c : f.channels) {
        check(c.values.size() == static_cast<size_t>(f.points));
        check_series(c.values);
    }
}

void table(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    sorvan::analysis::ProfileTable t;
    std::string error;
    if (!sorvan::analysis::read_profile_table(text, "fuzz.csv", t, error)) {
        check(!error.empty());
        return;
    }
    check(t.distance.size() >= 2 && std::isfinite(t.interval));
    check(t.labels.size() == t.values.size() && t.units.size() == t.values.size());
    check_series(t.distance);
    for (const auto &column : t.values) {
        check(column.size() == t.distance.size());
        check_series(column);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    rpc3(data, size);
    table(data, size);
    return 0;
}
