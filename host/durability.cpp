// The RPC III durability services: handles that gather channels, and the
// close that writes the whole file or nothing.
#include "host/plexa_internal.h"
#include "host/plexa_setup.h"
#include "host/rpc3.h"

#include "frame/output_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <unordered_map>

namespace plexa {

namespace {

using rpc3::Channel;
using rpc3::DataType;

const char *const DEFAULT_OPERATION = "PLEXA";

// One file being assembled.
struct Rpc {
    std::string file;
    rpc3::Layout layout;
    bool date_fixed = false;
    std::vector<Channel> channels;
    std::vector<bool> put;
    int32_t error = PLEXA_RPC_OK; // the first failed put; sticks
};

std::unordered_map<std::uintptr_t, Rpc> files;
bool ready = false;

// Settings for files created from now on.
bool date_fixed = false;
std::string fixed_date;
std::string operation = DEFAULT_OPERATION;
DataType data_type = DataType::short_integer;

// The system's reason for the last create or write failure, shown with the
// text of that code.
int32_t reason_code = PLEXA_RPC_OK;
std::string reason;

const char *const error_texts[] = {
    "no error",
    "the file cannot be created",
    "channel number out of range",
    "point count differs from the one declared at create",
    "channel put twice",
    "a channel was not put before the close",
    "a value is NaN, infinite or beyond the range of the file's data type",
    "writing or closing the file failed",
    "bad or released file handle",
    "bad arguments at create (a file name, 1 to 128 channels, 1 or more points, a finite "
    "spacing above 0)",
    "no values given for the channel",
    "out of memory",
    "the durability services are not initialised",
};
static_assert(sizeof error_texts / sizeof error_texts[0] == PLEXA_RPC_E_LAST + 1);

int32_t fail_with_reason(int32_t code, int err) {
    reason_code = code;
    reason = std::strerror(err ? err : EIO);
    return code;
}

Rpc *find_rpc(const void *handle) {
    auto it = files.find(handle_id(handle));
    return it == files.end() ? nullptr : &it->second;
}

// ======================================================================
// Writing a file
// ======================================================================

std::string local_date() {
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t now = std::time(nullptr);
    const std::tm *t = std::localtime(&now);
    if (!t || t->tm_mon < 0 || t->tm_mon > 11) return "01-Jan-1970 00:00:00";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d-%s-%04d %02d:%02d:%02d", t->tm_mday, months[t->tm_mon],
                  t->tm_year + 1900, t->tm_hour, t->tm_min, t->tm_sec);
    return buf;
}

// Writes the data groups: in each, every channel's points of that group,
// the last group filled up with the channel's last point, so that a rig
// driven by the file holds its last position instead of stepping to 0.
bool write_data(std::FILE *out, const Rpc &r) {
    size_t b = rpc3::value_size(r.layout.type);
    size_t group_bytes = static_cast<size_t>(rpc3::PTS_PER_GROUP) * b;
    size_t total = static_cast<size_t>(r.layout.points) * b;
    std::vector<unsigned char> fill(group_bytes);
    for (int64_t g = 0; g < rpc3::groups(r.layout.points); ++g) {
        size_t start = static_cast<size_t>(g) * group_bytes;
        size_t n = std::min(group_bytes, total - start);
        for (const Channel &ch : r.channels) {
            if (std::fwrite(&ch.data[start], 1, n, out) != n) return false;
            if (n == group_bytes) continue;
            for (size_t k = 0; k < group_bytes - n; k += b)
                std::memcpy(&fill[k], &ch.data[total - b], b);
            if (std::fwrite(fill.data(), 1, group_bytes - n, out) != group_bytes - n) return false;
        }
    }
    return true;
}

int32_t write_file(Rpc &r) {
    if (!r.date_fixed) r.layout.date = local_date();
    std::vector<unsigned char> head = rpc3::header(r.layout, r.channels);
    // Written whole under a temporary name and moved into place only when
    // every byte and the close succeeded.
    sorvan::OutputFile out;
    std::FILE *f = out.open(r.file.c_str(), true);
    if (!f) return fail_with_reason(PLEXA_RPC_E_CREATE, out.error_number());
    errno = 0;
    if (std::fwrite(head.data(), 1, head.size(), f) != head.size() || !write_data(f, r)) {
        int err = errno;
        out.abandon();
        return fail_with_reason(PLEXA_RPC_E_WRITE, err);
    }
    if (!out.commit()) return fail_with_reason(PLEXA_RPC_E_WRITE, out.error_number());
    return PLEXA_RPC_OK;
}

// Checks that a file can be made in the folder of file, leaving nothing.
int32_t probe(const std::string &file) {
    sorvan::OutputFile out;
    if (!out.open(file.c_str(), true))
        return fail_with_reason(PLEXA_RPC_E_CREATE, out.error_number());
    return PLEXA_RPC_OK; // out removes its temporary file
}

bool valid_create(const char *file, int32_t channels, int32_t points, double step) {
    return file && file[0] && channels >= 1 && channels <= rpc3::CHANNELS_MAX && points >= 1 &&
           std::isfinite(step) && step > 0.0;
}

// Stores a channel's values in r; returns 0 or the error code.
int32_t store(Rpc &r, int32_t channel, int32_t points, const double *values, const char *label,
              const char *unit) {
    if (channel < 1 || channel > static_cast<int32_t>(r.channels.size()))
        return PLEXA_RPC_E_CHANNEL;
    if (points != r.layout.points) return PLEXA_RPC_E_POINTS;
    if (r.put[static_cast<size_t>(channel - 1)]) return PLEXA_RPC_E_TWICE;
    if (!values) return PLEXA_RPC_E_VALUES;
    // The encoded channel must fit in memory at all: points * 4 can exceed a
    // 32-bit size_t.
    uint64_t bytes = static_cast<uint64_t>(points) * rpc3::value_size(r.layout.type);
    if (bytes > SIZE_MAX / 2) return PLEXA_RPC_E_MEMORY;
    Channel &ch = r.channels[static_cast<size_t>(channel - 1)];
    Channel fresh;
    fresh.label = rpc3::clean_text(label);
    fresh.unit = rpc3::clean_text(unit);
    if (!rpc3::encode(r.layout.type, values, points, fresh)) return PLEXA_RPC_E_NONFINITE;
    ch = std::move(fresh);
    r.put[static_cast<size_t>(channel - 1)] = true;
    return PLEXA_RPC_OK;
}

std::string call_text(const char *name, long long a, long long b) {
    return std::string(name) + " " + std::to_string(a) + " " + std::to_string(b);
}

} // namespace

void rpc_reset() {
    files.clear();
    ready = false;
    date_fixed = false;
    fixed_date.clear();
    operation = DEFAULT_OPERATION;
    data_type = DataType::short_integer;
    reason_code = PLEXA_RPC_OK;
    reason.clear();
}

} // namespace plexa

using namespace plexa;

extern "C" {

int32_t ac_dur_initialize(void) {
    guarded_void([] { record("ac_dur_initialize"); });
    ready = true;
    return PLEXA_RPC_OK;
}

ac_dur_rpc ac_dur_rpc_create(const char *file, int32_t channels, int32_t points, double step,
                             int32_t *error) {
    int32_t code = PLEXA_RPC_E_MEMORY;
    ac_dur_rpc handle = guarded<ac_dur_rpc>(nullptr, [&]() -> ac_dur_rpc {
        record(call_text("ac_dur_rpc_create", channels, points));
        code = !ready                                        ? PLEXA_RPC_E_NOT_READY
               : !valid_create(file, channels, points, step) ? PLEXA_RPC_E_ARGUMENTS
                                                             : probe(file);
        if (code != PLEXA_RPC_OK) return nullptr;
        code = PLEXA_RPC_E_MEMORY;
        Rpc r;
        r.file = file;
        r.layout = rpc3::Layout{data_type, points, step, fixed_date, operation};
        r.date_fixed = date_fixed;
        r.channels.resize(static_cast<size_t>(channels));
        r.put.assign(static_cast<size_t>(channels), false);
        std::uintptr_t id = next_handle();
        files.emplace(id, std::move(r));
        code = PLEXA_RPC_OK;
        return to_handle<plexa_rpc>(id);
    });
    if (error) *error = code;
    return handle;
}

int32_t ac_dur_rpc_putchannel(ac_dur_rpc handle, int32_t channel, int32_t points,
                              const double *values, const char *label, const char *unit) {
    Rpc *r = nullptr;
    int32_t code = guarded(PLEXA_RPC_E_MEMORY, [&]() -> int32_t {
        record(call_text("ac_dur_rpc_putchannel", channel, points));
        r = find_rpc(handle);
        if (!r) return PLEXA_RPC_E_HANDLE;
        if (r->error != PLEXA_RPC_OK) return r->error;
        return store(*r, channel, points, values, label, unit);
    });
    if (r && r->error == PLEXA_RPC_OK) r->error = code;
    return code;
}

int32_t ac_dur_rpc_writeclose(ac_dur_rpc handle) {
    return guarded(PLEXA_RPC_E_MEMORY, [&]() -> int32_t {
        record("ac_dur_rpc_writeclose");
        auto it = files.find(handle_id(handle));
        if (it == files.end()) return PLEXA_RPC_E_HANDLE;
        Rpc r = std::move(it->second);
        files.erase(it); // released whatever happens next
        if (r.error != PLEXA_RPC_OK) return r.error;
        for (bool put : r.put)
            if (!put) return PLEXA_RPC_E_MISSING;
        return write_file(r);
    });
}

int32_t ac_dur_rpc_geterror(int32_t code, char *buffer) {
    guarded_void([&] { record("ac_dur_rpc_geterror " + std::to_string(code)); });
    if (!buffer) return -1;
    if (code < 0 || code > PLEXA_RPC_E_LAST) {
        std::snprintf(buffer, AC_DUR_ERROR_SIZE, "unknown error code %d", static_cast<int>(code));
        return -1;
    }
    const char *text = error_texts[code];
    if (code != PLEXA_RPC_OK && code == reason_code && !reason.empty())
        std::snprintf(buffer, AC_DUR_ERROR_SIZE, "%s (%s)", text, reason.c_str());
    else
        std::snprintf(buffer, AC_DUR_ERROR_SIZE, "%s", text);
    return 0;
}

int32_t ac_dur_terminate(void) {
    guarded_void([] { record("ac_dur_terminate"); });
    files.clear(); // nothing of an open handle is on disk yet
    ready = false;
    return PLEXA_RPC_OK;
}

int32_t plexa_rpc_abandon(ac_dur_rpc handle) {
    return files.erase(handle_id(handle)) ? PLEXA_RPC_OK : PLEXA_RPC_E_HANDLE;
}

int32_t plexa_rpc_open_count(void) {
    return static_cast<int32_t>(files.size());
}

void plexa_rpc_set_date(const char *date) {
    guarded_void([&] {
        date_fixed = date != nullptr;
        fixed_date = rpc3::clean_text(date);
    });
}

void plexa_rpc_set_operation(const char *name) {
    guarded_void([&] { operation = name ? rpc3::clean_text(name) : DEFAULT_OPERATION; });
}

int32_t plexa_rpc_set_data_type(int32_t type) {
    if (type != PLEXA_RPC_SHORT_INTEGER && type != PLEXA_RPC_FLOATING_POINT) return 0;
    data_type =
        type == PLEXA_RPC_SHORT_INTEGER ? DataType::short_integer : DataType::floating_point;
    return 1;
}

} // extern "C"
