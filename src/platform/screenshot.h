#pragma once
// Screenshots: the window as an uncompressed 24-bit BMP, handed to the outside converter.
#include <cstdint>

// Bytes per BMP row of width pixels: three per pixel, padded to a multiple of 4.
int bmp_row_size(int width);
// Fills the 54-byte header of a width x height 24-bit BMP (bottom row first).
void bmp_header(unsigned char out[54], int width, int height);
// The file name "screenshot%05d.bmp" for a clock reading: its 0.3-second steps, folded to
// five digits. out must hold 32 bytes.
void screenshot_name(double seconds, char out[32]);

// Saves the whole window as screenshot#####.bmp numbered from the clock, then converts it.
void screenshot();
void save_screen_bmp(const char* name, int convert);
// Writes the w x h rectangle whose top-left corner is window pixel (x, y) (y from the top).
// A file that cannot be created is skipped.
void write_screen_bmp(int x, int y, int w, int h, const char* name, int convert);

// Runs the outside converter "bmp2png -9 -E <name>" where the platform has it; its result is
// ignored.
void run_converter(const char* name);
