#pragma once
// Textures synthesised at run time, and the Fourier machinery behind them.
//
// Complex signals are two parallel arrays (or DMatrix grids) of doubles, real
// and imaginary parts. Inputs and outputs of a transform are separate storage.

#include <cstdint>

#include "foundation/dmatrix.h"

// Radix-2 complex transform of n values. The forward transform is
// sum_t x_t e^(-2 pi i t f / n), unscaled; the inverse uses e^(+2 pi i t f / n)
// and the factor 1/n. in_im may be null (all-zero imaginary input). n must be a
// power of two (0 and 1 pass): any other length shows a message and leaves the
// outputs as they were.
void fft(uint32_t n, int inverse, const double* in_re, const double* in_im, double* out_re,
         double* out_im);

// Rows first, then columns, over rows x columns grids; in_im may be null. When
// either side is not a power of two the message shows and nothing is written.
void fft2d(int32_t rows, int32_t columns, int inverse, const DMatrix in_re, const DMatrix in_im,
           DMatrix out_re, DMatrix out_im);

// Where the complaint about a bad length goes. The default draws it on screen
// (it needs a current OpenGL context and font); tests point it elsewhere.
extern void (*fft_bad_length_report)(const char* message);
extern const char* const fft_bad_length_message;

struct GaussianPair {
    double a, b;
};
// Two independent standard normal deviates (Box-Muller).
GaussianPair gaussian_pair();

// The cloud sprite as n x n RGBA bytes (rows of 4n bytes): white, with an
// opacity of positive-only fractal noise that fades out towards a disc touching
// the edges. Release with checked_free. n is a power of two (64 in the game).
unsigned char* smoke_texture_image(int32_t n);
// The same image uploaded as a mipmapped GL_TEXTURE_2D; returns its name.
unsigned smoke_texture(int32_t n);
