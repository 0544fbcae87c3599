// Font requests ("normal:bold:size=12px", one a line) parsed, matched and selected, making
// variants as the text drawing would.
#include <string>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_base_font();
    size_t at = 0;
    while (at < size) {
        size_t rest = 0;
        const std::string request = fuzz_first_line(data + at, size - at, &rest);
        at += rest;
        const FontAttrs a = font_parse(request.c_str());
        font_find_or_make(a);
        font_select(request.c_str());
    }
    fuzz_reset_fonts();
    return 0;
}
