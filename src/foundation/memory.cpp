#include "foundation/memory.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const char* const out_of_memory = "Out of memory";

void default_fatal_handler(const char* message) {
    std::fprintf(stderr, "%s\n", message);
    std::fflush(stderr);
    std::exit(1);
}

FatalHandler fatal_handler = default_fatal_handler;

}  // namespace

void set_fatal_handler(FatalHandler handler) {
    fatal_handler = handler ? handler : default_fatal_handler;
}

void fatal(const char* message) {
    fatal_handler(message);
    std::exit(1);
}

void* checked_malloc(std::size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (!block) fatal(out_of_memory);
    return block;
}

void* checked_calloc(std::size_t count, std::size_t size) {
    if (count == 0 || size == 0) return checked_malloc(1);
    if (count > SIZE_MAX / size) fatal(out_of_memory);
    void* block = std::calloc(count, size);
    if (!block) fatal(out_of_memory);
    return block;
}

void* checked_realloc(void* block, std::size_t size) {
    void* moved = std::realloc(block, size ? size : 1);
    if (!moved) fatal(out_of_memory);
    return moved;
}

void* checked_malloc_array(std::size_t count, std::size_t size) {
    if (size != 0 && count > SIZE_MAX / size) fatal(out_of_memory);
    return checked_malloc(count * size);
}

void checked_free(void* block) { std::free(block); }
