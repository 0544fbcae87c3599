#include "foundation/dynarray.h"

#include <cstdlib>
#include <cstring>

#include "foundation/memory.h"

namespace {

// The fill fraction every reallocation aims at: halfway between the shrink
// threshold and 100 %.
double target_fill(const DynArray* a) { return 0.005 * a->fill_percent + 0.5; }

char* element(const DynArray* a, uint32_t index) {
    return static_cast<char*>(a->data) + static_cast<std::size_t>(index) * a->elem_size;
}

void update_tracked(DynArray* a) {
    if (a->tracked) std::memcpy(a->tracked, &a->data, sizeof a->data);
}

// Moves the count live elements into fresh storage of the given capacity.
// The old storage is released only after extra (if any) has been copied in
// after them, so extra may point into the array itself.
void reallocate(DynArray* a, uint32_t capacity, const void* extra = nullptr) {
    void* fresh = checked_malloc_array(capacity, a->elem_size);
    std::size_t live = static_cast<std::size_t>(a->count) * a->elem_size;
    if (live) std::memcpy(fresh, a->data, live);
    if (extra) std::memcpy(static_cast<char*>(fresh) + live, extra, a->elem_size);
    checked_free(a->data);
    a->data = fresh;
    a->capacity = capacity;
    update_tracked(a);
}

// Room for the given number of elements at the target fill, never less than
// the elements themselves (a fill_percent above 100 would otherwise lose data).
uint32_t capacity_for(const DynArray* a, uint32_t elements) {
    double c = elements / target_fill(a);
    if (c >= 4294967295.0) fatal("Out of memory");
    uint32_t capacity = static_cast<uint32_t>(c);
    return capacity > elements ? capacity : elements;
}

void shrink_if_sparse(DynArray* a) {
    float ratio = static_cast<float>(a->count) / static_cast<float>(a->capacity);
    if (!(ratio < a->fill_percent / 100.0f) || a->capacity <= a->min_capacity) return;
    uint32_t c = capacity_for(a, a->count);
    reallocate(a, c > a->min_capacity ? c : a->min_capacity);
}

void init_fields(DynArray* a, uint32_t elem_size, uint32_t capacity) {
    a->data = checked_malloc_array(capacity, elem_size);
    a->tracked = nullptr;
    a->count = 0;
    a->capacity = capacity;
    a->min_capacity = capacity;
    a->elem_size = elem_size;
    a->fill_percent = DYNARRAY_DEFAULT_FILL_PERCENT;
}

}  // namespace

void DynArray_init(DynArray* a, uint32_t elem_size) {
    init_fields(a, elem_size, DYNARRAY_DEFAULT_MIN_CAPACITY);
}

void DynArray_init_sized(DynArray* a, uint32_t elem_size, uint32_t capacity, int full) {
    init_fields(a, elem_size, capacity);
    if (full) a->count = capacity;
}

void* DynArray_track(DynArray* a, void* pointer_variable) {
    void* previous = a->tracked;
    a->tracked = pointer_variable;
    update_tracked(a);
    return previous;
}

uint32_t DynArray_push(DynArray* a, const void* e) {
    if (a->count >= a->capacity) {
        reallocate(a, capacity_for(a, a->count + 1), e);
    } else {
        std::memcpy(element(a, a->count), e, a->elem_size);
    }
    return a->count++;
}

void DynArray_remove(DynArray* a, uint32_t index) {
    if (index >= a->count) return;
    uint32_t last = a->count - 1;
    if (index != last) std::memcpy(element(a, index), element(a, last), a->elem_size);
    a->count = last;
    shrink_if_sparse(a);
}

void DynArray_remove_ordered(DynArray* a, uint32_t index) {
    if (index >= a->count) return;
    a->count--;
    std::size_t tail = static_cast<std::size_t>(a->count - index) * a->elem_size;
    if (tail) std::memmove(element(a, index), element(a, index + 1), tail);
    shrink_if_sparse(a);
}

int32_t DynArray_find(const DynArray* a, const void* e) {
    for (uint32_t i = a->count; i-- > 0;) {
        if (std::memcmp(element(a, i), e, a->elem_size) == 0) return static_cast<int32_t>(i);
    }
    return -1;
}

void DynArray_remove_value(DynArray* a, const void* e) {
    int32_t index = DynArray_find(a, e);
    if (index >= 0) DynArray_remove(a, static_cast<uint32_t>(index));
}

void DynArray_clear(DynArray* a) {
    checked_free(a->data);
    a->count = 0;
    a->capacity = a->min_capacity;
    a->data = checked_malloc_array(a->capacity, a->elem_size);
    update_tracked(a);
}

void DynArray_free(DynArray a) {
    if (a.tracked) {
        void* none = nullptr;
        std::memcpy(a.tracked, &none, sizeof none);
    }
    checked_free(a.data);
}

void DynArray_sort(DynArray* a, int (*compare)(const void*, const void*)) {
    if (a->count > 1) std::qsort(a->data, a->count, a->elem_size, compare);
}
