// The glyph-stream reader: any bytes as a font stream, as font_load reads it.
#include <cstdlib>

#include "foundation/memory.h"
#include "platform/font.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Font font;
    const uint8_t white = size > 0 ? data[0] & 1 : 0;
    const int records = font_stream_records(data, size);
    if (uint8_t* atlas = font_build(data, size, white, 2048, &font)) {
        checked_free(atlas);
        // Every glyph's cell lies inside the atlas (the sanitizer watched the writes).
        for (int c = 0; c < records; ++c) {
            if (font.glyph_x[c] + font.glyph_w[c] > font.tex_w) std::abort();
            if (font.glyph_y[c] + font.line_h > font.tex_h) std::abort();
        }
    }
    for (int c = records; c < FONT_GLYPHS; ++c) {
        if (font.glyph_w[c] != 0) std::abort();
    }
    return 0;
}
