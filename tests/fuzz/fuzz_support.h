#pragma once
// Shared pieces of the fuzz targets: the built-in font without OpenGL, and text inputs.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/font.h"

// The built-in font "normal", built once without a texture and selected.
Font* fuzz_base_font();
// Frees every variant the input made and selects the base font again.
void fuzz_reset_fonts();
// The input up to its first line feed (or all of it), and what follows that line feed.
std::string fuzz_first_line(const uint8_t* data, size_t size, size_t* rest);

// Bytes as a text that drawing and measuring both read to its end: an escape running past the
// bytes is completed with zero bytes (escape data may be zero), then comes the terminator.
std::string fuzz_text_of(const uint8_t* data, size_t size);
// Where the text in the room bytes at s ends as drawing (or measuring) reads it; room when
// that reading would go past the room.
size_t fuzz_text_end(const char* s, size_t room, bool measuring);
// The text in a malloc'ed block of exactly room bytes, so that the sanitizer sees any access
// past them.
char* fuzz_exact_copy(const std::string& text, size_t room);
