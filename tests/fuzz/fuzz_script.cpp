// The replay script parser with the scripted run's stress setting: any bytes as a script, held
// in a block of exactly their size (the parser needs no terminator).
#include <cstdlib>
#include <cstring>

#include "app/stress.h"
#include "platform/script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* text = static_cast<char*>(std::malloc(size ? size : 1));
    std::memcpy(text, data, size);
    Script script{};
    char error[SCRIPT_ERROR_SIZE];
    StressRequest stress{};
    const ScriptSetting settings[] = {{"stress", stress_parse_setting, &stress}};
    bool sound = script_parse(text, size, &script, error, settings, 1) != 0
                     ? std::strncmp(error, "line ", 5) == 0 && std::memchr(error, 0, SCRIPT_ERROR_SIZE)
                     : script.width > 0 && script.height > 0 && stress.count <= STRESS_COUNT_MAX &&
                           (stress.count == 0 || (stress.depth >= 1 && stress.depth <= STRESS_DEPTH_MAX));
    // Parsed: events in frame order, none after the run's last frame, names terminated.
    const ScriptEvent* events = DynArray_items<ScriptEvent>(&script.events);
    for (uint32_t i = 0; i < script.events.count; ++i) {
        sound = sound && (i == 0 || events[i].frame >= events[i - 1].frame) &&
                events[i].frame <= script.last_frame && std::memchr(events[i].name, 0, SCRIPT_NAME_SIZE);
    }
    if (!sound) std::abort();
    script_free(&script);
    std::free(text);
    return 0;
}
