#pragma once
// Texture upload with a mipmap chain built by a 2 x 2 box filter.

// Row stride in bytes of a level: rows are padded to a multiple of 4 bytes, as OpenGL's
// default unpack alignment expects.
int texture_stride(int width, int components);

// Builds the next level (width and height halved, rounded up) from the current one, in place
// at the start of pixels; each value is the rounded mean of a 2 x 2 block. Where a side is odd
// or one texel long the missing neighbours repeat the edge texel. Returns nothing; the new size
// is ((width + 1) / 2, (height + 1) / 2).
void mipmap_halve(int components, int width, int height, unsigned char* pixels);

// Uploads level 0 of the bound texture, then every smaller level down to 1 x 1. components is
// 1 to 4 (luminance, luminance-alpha, RGB, RGBA). pixels is overwritten: afterwards it holds
// the 1 x 1 level.
void upload_mipmapped(unsigned target, int components, int width, int height,
                      unsigned char* pixels);
