// Text with escapes laid out and measured: the first line is a font request, the rest is the
// text (its first byte the wrap width in steps of 4 pixels, 0 for none), held in a block of
// exactly its size.
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_base_font();
    size_t rest = 0;
    const std::string request = fuzz_first_line(data, size, &rest);
    font_select(request.c_str());
    const int wrap = rest < size ? data[rest++] * 4 : 0;
    const std::string bytes = fuzz_text_of(data + rest, size - rest);
    char* text = fuzz_exact_copy(bytes, bytes.size());
    const auto check_glyph = [](void*, const GlyphQuad& q) {
        if (q.code < 0 || q.code >= FONT_GLYPHS) std::abort();
    };
    text_layout(10, 20, wrap, text,
                TextSink{nullptr, check_glyph, [](void*, const FontAttrs& a) { font_select_attrs(a); }});
    text_width(text);
    std::free(text);
    fuzz_reset_fonts();
    return 0;
}
