#pragma once
// Checked allocation and the one path for unrecoverable failures.
//
// Every allocation of the program goes through these helpers; when the system
// cannot satisfy one, fatal() reports it and the process ends. The handler can
// be replaced (the platform layer installs its logged, boxed fatal error).

#include <cstddef>

using FatalHandler = void (*)(const char* message);

// Installs the handler that fatal() calls; null restores the default handler,
// which prints the message to stderr and exits with status 1.
void set_fatal_handler(FatalHandler handler);

// Reports an unrecoverable failure through the installed handler. Should the
// handler return, the process still ends with status 1.
[[noreturn]] void fatal(const char* message);

// malloc/calloc/realloc that never return null: a size of zero still yields a
// valid, freeable block, and failure goes to fatal().
void* checked_malloc(std::size_t size);
void* checked_calloc(std::size_t count, std::size_t size);
void* checked_realloc(void* block, std::size_t size);

// count * size bytes, with the multiplication checked for overflow.
void* checked_malloc_array(std::size_t count, std::size_t size);

// Releases a block from the helpers above; null is allowed.
void checked_free(void* block);
