#pragma once
// Shared pieces of the fuzz targets: the built-in font registered and current without any
// OpenGL (its glyph table and metrics only), and a way back to it after each input.
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

// Bytes as a text that both drawing and measuring can read to its end: escapes' trailing bytes
// are data and may be zero (glyph 256, a payload), so an escape that runs past the bytes, as
// either reads it, is completed with zero bytes, and the terminator comes after. (Measuring also
// skips the bytes after the other codes below 8, which drawing draws as glyphs.)
std::string fuzz_text_of(const uint8_t* data, size_t size);
// Where the text in the room bytes at s ends (its terminator's index) as drawing reads it, or as
// measuring does, or room when that reading would go past the room.
size_t fuzz_text_end(const char* s, size_t room, bool measuring);
// A copy of the text in a block of exactly room bytes (at least its own size), so that the
// sanitizer sees any access past them. Free it with std::free.
char* fuzz_exact_copy(const std::string& text, size_t room);
