// Font requests ("normal:bold:size=12px", one a line) parsed, matched and selected, making
// variants as the text drawing would.
#include <string>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_base_font();
    for (size_t at = 0, rest = 0; at < size; at += rest) {
        const std::string request = fuzz_first_line(data + at, size - at, &rest);
        font_find_or_make(font_parse(request.c_str()));
        font_select(request.c_str());
    }
    fuzz_reset_fonts();
    return 0;
}
