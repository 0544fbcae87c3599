#pragma once
// A growable array of plain values for the collision pass's own lists: it
// doubles when full and keeps its storage from pass to pass.

#include <cstddef>
#include <cstdint>

#include "foundation/memory.h"

template <class T>
struct Scratch {
    T* data = nullptr;
    uint32_t count = 0;
    uint32_t room = 0;

    // Room for `wanted` values; those already there are kept.
    void reserve(uint32_t wanted) {
        if (wanted <= room) return;
        uint32_t grown = room < 32 ? 64 : room * 2;
        room = grown > wanted ? grown : wanted;
        data = static_cast<T*>(checked_realloc(data, std::size_t{room} * sizeof(T)));
    }
    void push(T value) {
        if (count == room) reserve(count + 1);
        data[count++] = value;
    }
};
