// The glyph-stream reader: any bytes as a font stream, as font_load reads it. The first byte
// chooses the white flag (bit 0) and the largest texture, 64 to 2048 texels (the next bits).
#include <cstdlib>

#include "foundation/memory.h"
#include "platform/font.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static Font font;
    const uint8_t white = data[0] & 1;
    const uint32_t max_size = 64u << ((data[0] >> 1) % 6);
    const int records = font_stream_records(data + 1, size - 1);
    if (uint8_t* atlas = font_build(data + 1, size - 1, white, max_size, &font)) {
        checked_free(atlas);
        // Every glyph's cell lies inside the atlas (the sanitizer watched the writes).
        for (int c = 0; c < records; ++c)
            if (font.glyph_x[c] + font.glyph_w[c] > font.tex_w || font.glyph_y[c] + font.line_h > font.tex_h)
                std::abort();
    }
    for (int c = records; c < FONT_GLYPHS; ++c)
        if (font.glyph_w[c] != 0) std::abort();
    return 0;
}
