// Greek names rewritten in place within a buffer of a given room. The first byte: its low 3 bits
// are the room beyond the text and its terminator; with bit 3 set the buffer is one byte short
// of the terminator instead. The rest is the text.
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzz_base_font();
    const std::string bytes = fuzz_text_of(data + 1, size - 1);
    const bool cut_short = (data[0] & 8) != 0;
    const size_t room = cut_short ? bytes.size() - 1 : bytes.size() + (data[0] & 7);
    char* text = fuzz_exact_copy(bytes, room);
    greek_substitute(text, room);
    if (!cut_short) {
        // Still a whole text inside its room, as drawing reads it.
        if (fuzz_text_end(text, room, false) >= room) std::abort();
        if (fuzz_text_end(text, room, true) < room) text_width(text);
    }
    std::free(text);
    return 0;
}
