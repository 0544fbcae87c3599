#pragma once
// Growable array of fixed-size elements copied in by value.
//
// Storage grows and shrinks by one hysteresis rule driven by fill_percent:
// after any reallocation the array stands about halfway between the shrink
// threshold and full, so pushing and popping around a boundary does not
// reallocate on every step. One outside pointer variable can be kept equal to
// the storage address ("tracked"), so callers may read elements through a
// plain typed pointer.

#include <cstdint>
#include <type_traits>

constexpr uint32_t DYNARRAY_DEFAULT_MIN_CAPACITY = 1;
constexpr float DYNARRAY_DEFAULT_FILL_PERCENT = 60.0f;

struct DynArray {
    void* data;          // room for capacity elements
    void* tracked;       // address of a pointer variable kept equal to data, or null
    uint32_t count;
    uint32_t capacity;
    uint32_t min_capacity;
    uint32_t elem_size;
    float fill_percent;
};

void DynArray_init(DynArray* a, uint32_t elem_size);
// With full non-zero every slot counts as used (contents undefined).
void DynArray_init_sized(DynArray* a, uint32_t elem_size, uint32_t capacity, int full);

// Replaces the tracked variable (the address of a pointer, or null) and
// returns the previous one. A new variable receives data at once.
void* DynArray_track(DynArray* a, void* pointer_variable);
template <class T>
void* DynArray_track(DynArray* a, T** pointer_variable) {
    return DynArray_track(a, static_cast<void*>(pointer_variable));
}

// Copies elem_size bytes from element into a new last slot; returns its index.
uint32_t DynArray_push(DynArray* a, const void* element);
// Unordered: the last element moves into the hole. Indices >= count are ignored.
void DynArray_remove(DynArray* a, uint32_t index);
// Ordered: later elements move down one slot. Indices >= count are ignored.
void DynArray_remove_ordered(DynArray* a, uint32_t index);
// Highest index whose bytes equal element's, or -1.
int32_t DynArray_find(const DynArray* a, const void* element);
void DynArray_remove_value(DynArray* a, const void* element);
// Back to min_capacity fresh storage with no elements.
void DynArray_clear(DynArray* a);
// Nulls the tracked variable, then releases the storage. The record must be
// initialised again before any further use.
void DynArray_free(DynArray a);
// In-place, unstable sort of the count elements.
void DynArray_sort(DynArray* a, int (*compare)(const void*, const void*));

// Typed access for arrays whose elements are plain values of type T.
template <class T>
void DynArray_init_of(DynArray* a) {
    static_assert(std::is_trivially_copyable_v<T>, "elements are copied bytewise");
    DynArray_init(a, sizeof(T));
}
template <class T>
T* DynArray_items(const DynArray* a) {
    return static_cast<T*>(a->data);
}
template <class T>
T& DynArray_at(const DynArray* a, uint32_t index) {
    return static_cast<T*>(a->data)[index];
}
template <class T>
uint32_t DynArray_push_value(DynArray* a, const T& value) {
    static_assert(std::is_trivially_copyable_v<T>, "elements are copied bytewise");
    return DynArray_push(a, &value);
}
