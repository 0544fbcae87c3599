#include "platform/texture.h"

#include "platform/opengl.h"

namespace {

GLenum pixel_format(int components) {
    switch (components) {
        case 1: return GL_LUMINANCE;
        case 2: return GL_LUMINANCE_ALPHA;
        case 3: return GL_RGB;
        default: return GL_RGBA;
    }
}

}  // namespace

int texture_stride(int width, int components) { return (width * components + 3) / 4 * 4; }

void mipmap_halve(int c, int width, int height, unsigned char* pixels) {
    const int new_w = (width + 1) / 2;
    const int new_h = (height + 1) / 2;
    const int stride = texture_stride(width, c);
    const int new_stride = texture_stride(new_w, c);
    // Output row y lies at or before input row 2y and output column x before input 2x, so
    // writing rows in order never overwrites a texel that is still to be read.
    for (int y = 0; y < new_h; ++y) {
        const unsigned char* row0 = pixels + 2 * y * stride;
        const unsigned char* row1 = pixels + (2 * y + 1 < height ? 2 * y + 1 : 2 * y) * stride;
        unsigned char* out = pixels + y * new_stride;
        for (int x = 0; x < new_w; ++x) {
            const int x0 = 2 * x * c;
            const int x1 = (2 * x + 1 < width ? 2 * x + 1 : 2 * x) * c;
            for (int k = 0; k < c; ++k) {
                int sum = row0[x0 + k] + row0[x1 + k] + row1[x0 + k] + row1[x1 + k];
                out[x * c + k] = static_cast<unsigned char>((sum + 2) >> 2);
            }
        }
    }
}

void upload_mipmapped(unsigned target, int c, int width, int height, unsigned char* pixels) {
    const GLenum format = pixel_format(c);
    glTexImage2D(target, 0, c, width, height, 0, format, GL_UNSIGNED_BYTE, pixels);
    for (int level = 1; width > 1 || height > 1; ++level) {
        mipmap_halve(c, width, height, pixels);
        width = (width + 1) / 2;
        height = (height + 1) / 2;
        glTexImage2D(target, level, c, width, height, 0, format, GL_UNSIGNED_BYTE, pixels);
    }
}
