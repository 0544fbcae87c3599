#include "foundation/dmatrix.h"

#include <cstring>

#include "foundation/memory.h"

namespace {

// The two counts, padded so that the row pointers after them stay aligned.
constexpr std::size_t counts_size = 2 * sizeof(int32_t);
constexpr std::size_t header_offset =
    (counts_size + alignof(double*) - 1) / alignof(double*) * alignof(double*);

char* block_of(const DMatrix m) { return reinterpret_cast<char*>(m) - header_offset; }

}  // namespace

DMatrix dmatrix_alloc(int32_t rows, int32_t columns) {
    if (rows < 0 || columns < 0) fatal("dmatrix_alloc: negative size");
    char* block = static_cast<char*>(
        checked_malloc(header_offset + static_cast<std::size_t>(rows) * sizeof(double*)));
    int32_t counts[2] = {rows, columns};
    std::memcpy(block, counts, sizeof counts);
    DMatrix m = reinterpret_cast<DMatrix>(block + header_offset);
    for (int32_t i = 0; i < rows; i++) {
        m[i] = static_cast<double*>(checked_malloc_array(static_cast<std::size_t>(columns), sizeof(double)));
    }
    return m;
}

void dmatrix_free(DMatrix m) {
    for (int32_t i = dmatrix_rows(m); i-- > 0;) checked_free(m[i]);
    checked_free(block_of(m));
}

int32_t dmatrix_rows(const DMatrix m) {
    int32_t rows;
    std::memcpy(&rows, block_of(m), sizeof rows);
    return rows;
}

int32_t dmatrix_columns(const DMatrix m) {
    int32_t columns;
    std::memcpy(&columns, block_of(m) + sizeof(int32_t), sizeof columns);
    return columns;
}
