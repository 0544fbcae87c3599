#include "foundation/util.h"

#include <cstring>

#include "foundation/memory.h"

uint32_t next_pow2(uint32_t v) {
    if ((v & (v - 1)) == 0) return v;  // 0 or already a power of two
    v |= v >> 1;
    v |= v >> 2;
    v |= v >> 4;
    v |= v >> 8;
    v |= v >> 16;
    return v + 1;
}

int to_lower(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A' + 'a';
    return static_cast<signed char>(c);
}

int byte_value(char c) {
    int v = static_cast<signed char>(c);
    return v < 0 ? v + 256 : v;
}

std::size_t str_dup_into(char** target, const char* source) {
    std::size_t length = std::strlen(source);
    char* copy = static_cast<char*>(checked_malloc(length + 1));
    std::memcpy(copy, source, length + 1);
    *target = copy;
    return length;
}

std::size_t str_replace(char** target, const char* source) {
    // Copy first: source may be the very string being replaced.
    char* old = *target;
    std::size_t length = str_dup_into(target, source);
    checked_free(old);
    return length;
}
