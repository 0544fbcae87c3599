#include "app/replay.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/main_loop.h"
#include "app/ship.h"
#include "app/stress.h"
#include "platform/errorlog.h"
#include "platform/framecycle.h"
#include "platform/screenshot.h"
#include "platform/script.h"
#include "platform/trace.h"
#include "platform/window.h"
#include "scene/plot.h"
#include "scene/vnode.h"

namespace {

constexpr size_t SCRIPT_SIZE_LIMIT = 64u << 20;

struct Replay {
    Script script;
    std::string folder;
    std::FILE* digest;
    uint32_t next_shot;  // the first event not yet looked at for shots
};

Replay replay;

// The frame's pictures, then its digest line, while the picture is still in the back buffer.
void frame_done() {
    const uint32_t frame = script_frame();
    const ScriptEvent* events = DynArray_items<ScriptEvent>(&replay.script.events);
    for (; replay.next_shot < replay.script.events.count && events[replay.next_shot].frame <= frame;
         replay.next_shot++) {
        const ScriptEvent& e = events[replay.next_shot];
        if (e.verb != ScriptVerb::shot || e.frame != frame) continue;
        const std::string path = replay.folder + "/" + e.name + ".bmp";
        write_screen_bmp(0, 0, screen_width, screen_height, path.c_str(), 0);
    }
    // 17 significant digits show any double exactly, and both C runtimes print them alike.
    std::fprintf(replay.digest, "frame %u score %.17g nodes %u plotted %u\n",
                 static_cast<unsigned>(frame), player_ship ? player_ship->score : 0.0,
                 static_cast<unsigned>(total_nodes),
                 static_cast<unsigned>(things_plotted + transparents_plotted));
    // The ship's death ends the process from inside a frame: every line is kept by then.
    std::fflush(replay.digest);
}

void stress_scene(VNode* world, const VNode* ship) {
    const StressRequest& r = replay.script.stress;
    stress_populate(world, ship, r.count, r.depth, r.seed);
}

// Nobody is there to dismiss a box in a scripted run: the message goes to stderr (and to the
// error log, as always).
void fatal_message_to_stderr(const char* message) {
    std::fprintf(stderr, "Oh sod it: %s\n", message);
}

bool read_file(const char* path, std::string* out) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && out->size() <= SCRIPT_SIZE_LIMIT) {
        out->append(buffer, n);
    }
    const bool ok = !std::ferror(f) && out->size() <= SCRIPT_SIZE_LIMIT;
    std::fclose(f);
    return ok;
}

}  // namespace

int replay_main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: zibu_replay SCRIPT [OUTDIR] | --version\n");
        return 2;
    }
    std::string text;
    if (!read_file(argv[1], &text)) {
        std::fprintf(stderr, "zibu_replay: cannot read %s\n", argv[1]);
        return 2;
    }
    char error[SCRIPT_ERROR_SIZE];
    if (script_parse(text.data(), text.size(), &replay.script, error) != 0) {
        std::fprintf(stderr, "zibu_replay: %s %s\n", argv[1], error);
        return 2;
    }
    replay.folder = argc == 3 ? argv[2] : ".";
    std::error_code ignored;
    std::filesystem::create_directories(replay.folder, ignored);
    const std::string digest = replay.folder + "/digest.txt";
    replay.digest = std::fopen(digest.c_str(), "wb");  // the same bytes on every platform
    if (!replay.digest) {
        std::fprintf(stderr, "zibu_replay: cannot write %s\n", digest.c_str());
        script_free(&replay.script);
        return 2;
    }

    fatal_message_box = fatal_message_to_stderr;
    trace_set_process_name((std::string("zibu_replay ") + argv[1]).c_str());
    script_play(&replay.script);
    frame_done_hook = frame_done;
    if (replay.script.stress.count != 0) scene_populate_hook = stress_scene;
    main_loop("");
    scene_populate_hook = nullptr;
    frame_done_hook = nullptr;
    std::fclose(replay.digest);
    script_free(&replay.script);
    return 0;
}
