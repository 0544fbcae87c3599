#pragma once
// Screenshots: the window as an uncompressed 24-bit BMP, handed to the outside converter.
#include <cstdint>
#include <cstdio>

// Bytes per BMP row of width pixels: three per pixel, padded to a multiple of 4.
int bmp_row_size(int width);
// Fills the 54-byte header of a width x height 24-bit BMP (bottom row first).
void bmp_header(unsigned char out[54], int width, int height);
constexpr int SCREENSHOT_NUMBERS = 100000;
// A clock reading's screenshot number: its 0.3-second steps, folded to five digits.
int screenshot_number(double seconds);
// "screenshot%05d.bmp" of a number. out must hold 32 bytes.
void screenshot_file_name(int number, char out[32]);

// Saves the whole window as screenshot#####.bmp numbered from the clock, then converts it.
// When that file exists already, the next free number is taken.
void screenshot();
void save_screen_bmp(const char* name, int convert);
// Writes the w x h rectangle whose top-left corner is window pixel (x, y) (y from the top).
// A file that cannot be created is skipped; one that cannot be written whole is removed.
void write_screen_bmp(int x, int y, int w, int h, const char* name, int convert);

// Runs the outside converter "bmp2png -9 -E <name>" where the platform has it; its result is
// ignored.
void run_converter(const char* name);
// Creates a file that must not exist yet, for writing in binary. Null when it cannot; *taken
// then says whether that was because the name exists.
std::FILE* create_new_file(const char* name, bool* taken);
