#include "fuzz_support.h"

#include <cstdlib>
#include <cstring>

#include "foundation/memory.h"
#include "platform/font_builtin.h"

Font* fuzz_base_font() {
    static Font* base = [] {
        static Font record{};
        static char name[] = "normal";
        checked_free(font_build(builtin_font_stream, builtin_font_stream_size, 0, 2048, &record));
        record.name = name;
        record.attrs = font_default_attrs();
        record.attrs.base = &record;
        record.attrs.glyphs = FONT_GLYPHS;
        font_register(&record);
        font_make_current(&record);
        return &record;
    }();
    return base;
}

void fuzz_reset_fonts() {
    Font* base = fuzz_base_font();
    while (font_registry.count > 1) {
        Font** fonts = static_cast<Font**>(font_registry.data);
        font_free(fonts[0] == base ? fonts[font_registry.count - 1] : fonts[0]);
    }
    font_make_current(base);
}

std::string fuzz_first_line(const uint8_t* data, size_t size, size_t* rest) {
    size_t n = 0;
    while (n < size && data[n] != '\n') ++n;
    *rest = n < size ? n + 1 : size;
    return std::string(reinterpret_cast<const char*>(data), n);
}

size_t fuzz_text_end(const char* s, size_t room, bool measuring) {
    size_t i = 0;
    while (i < room && s[i] != 0) {
        const uint8_t c = static_cast<uint8_t>(s[i]);
        if (c == 2 || c == 5) {
            // A zero right after the code ends the text; the rest of the escape is data.
            if (i + 1 >= room) return room;
            if (s[i + 1] == 0) return i + 1;
            i += c == 2 ? 3 : 6;
        } else if (measuring && c < 8) {
            size_t k = 1;
            while (k <= c && i + k < room && s[i + k] != 0) ++k;
            i += k;
        } else {
            ++i;
        }
    }
    return i < room ? i : room;
}

std::string fuzz_text_of(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    for (;;) {
        const size_t drawn = fuzz_text_end(text.data(), text.size(), false);
        const size_t measured = fuzz_text_end(text.data(), text.size(), true);
        if (drawn < text.size() && measured < text.size()) {
            text.resize((drawn > measured ? drawn : measured) + 1);
            return text;
        }
        text.push_back('\0');
    }
}

char* fuzz_exact_copy(const std::string& text, size_t room) {
    char* copy = static_cast<char*>(std::malloc(room ? room : 1));
    std::memset(copy, 0xAA, room);  // what lies beyond the text must not matter
    std::memcpy(copy, text.data(), text.size() < room ? text.size() : room);
    return copy;
}
