// The scenario's options: lines "name=value" added as defaults, lines "?key" looked up, then
// the crystal box's settings read from the list.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/scenario.h"
#include "fuzz_support.h"
#include "things/dendrite.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DynArray list;
    options_init(&list);
    for (size_t at = 0, rest = 0; at < size; at += rest) {
        const std::string line = fuzz_first_line(data + at, size - at, &rest);
        const std::string text(line.c_str());  // up to a zero byte, as the options hold it
        if (!text.empty() && text[0] == '?') {
            const char* value = option_find(&list, text.c_str() + 1);
            if (value && std::strlen(value) > size) std::abort();
            continue;
        }
        const size_t eq = text.find('=');
        if (eq == std::string::npos) continue;
        option_default(&list, text.substr(0, eq).c_str(), text.substr(eq + 1).c_str());
    }
    const ScenarioSettings s = scenario_settings(&list);
    for (int32_t v : {s.size_x, s.size_y, s.size_z})
        if (v < 1 || v > DENDRITE_MAX_SIZE) std::abort();
    if (!std::isfinite(s.density) || s.density < 0.0) std::abort();
    options_free(&list);
    return 0;
}
