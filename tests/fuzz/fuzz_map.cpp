// Fuzzes the MAP reading sequence of a conversion: summary, units, the
// allocation and every table, then the release. A reader that refuses the
// input must have released the record; one that accepts it must leave every
// stored index inside its array and a consistent record.
#include "fuzz_support.h"
#include "model_input/map.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using sorvan::fuzz::check;

// Larger counts would test the allocator's limit, not the readers.
constexpr int32_t max_count = 100000;

bool small_counts(const MAPmodel *m) {
    return m->n_input <= max_count && m->n_output <= max_count && m->n_external <= max_count &&
           m->n_element <= max_count && m->n_node <= max_count && m->n_wheel <= max_count;
}

// Every index that the readers stored lies inside its array, and what was
// accepted is consistent: every coupling output has a component, and a
// file that holds a NUL byte anywhere was never accepted.
void check_record(const MAPmodel *m, const uint8_t *data, size_t size) {
    check(std::memchr(data, 0, size) == nullptr);
    for (int32_t k = 0; k < m->n_output; ++k)
        if (m->output[k].kind == 1 || m->output[k].kind == 2)
            check(m->output[k].dof >= 1 && m->output[k].dof <= 6);
    for (int32_t i = 0; i < m->n_node; ++i)
        for (int j = 0; j < 3; ++j)
            check(m->node_out[i][j] >= 0 && m->node_out[i][j] < m->n_output_all);
    for (int32_t i = 0; i < m->n_wheel; ++i)
        for (int j = 0; j < 6; ++j)
            check(m->wheel_out[i][j] >= 0 && m->wheel_out[i][j] < m->n_output_all);
    for (int32_t i = 0; i < m->n_element; ++i)
        check(m->element[i].node1 >= 1 && m->element[i].node1 <= m->n_node &&
              m->element[i].node2 >= 1 && m->element[i].node2 <= m->n_node);
    for (int32_t i = 0; i < m->n_external; ++i)
        check(std::memchr(m->ext_name[i], '\0', MAP_NAME_SIZE) != nullptr);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The readers' messages would flood the fuzzer's output.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0; // fmemopen wants a buffer
    FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "r");
    if (file == nullptr) return 0;
    MAPmodel *map = static_cast<MAPmodel *>(std::calloc(1, sizeof(MAPmodel)));
    int status = MAPread_size(map, file);
    if (status == MAP_OK) status = MAPread_unit(map, file);
    if (status == MAP_OK && !small_counts(map)) {
        MAPfree(map);
        status = MAP_FAILED;
    }
    if (status == MAP_OK) status = MAPalloc(map);
    int (*const readers[])(MAPmodel *, FILE *) = {MAPread_input,          MAPread_output,
                                                  MAPread_external_input, MAPread_node,
                                                  MAPread_element,        MAPread_wheel};
    for (auto reader : readers)
        if (status == MAP_OK) status = reader(map, file);
    if (status == MAP_OK) {
        check_record(map, data, size);
        MAPfree(map);
    }
    std::fclose(file);
    return 0;
}
