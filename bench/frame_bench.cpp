// The frame benchmark: plays the default scene through the scripted-run driver with no input
// at 1/60 s a frame to frame N, pauses the world there (P), then lets the clock follow real
// time and times M frames by the wall clock; one more frame is drawn with the crystal's
// counters.
//
// Usage: zibu_frame_bench N [M [SCRIPT]]   (M = 30), on an X display of at least 1280 x 720.
// SCRIPT adds input of the scripted-run format for frames before N (firing, the light tree, the
// solute view ...); without it there is none.
// Prints one line: N, ms per frame (median, max), the processor time of a frame over all the
// process's threads (median: the work, which a busy machine does not inflate as it does the
// wall clock), the main thread's part (median; all but the wait for the renderer: its work,
// the buffer swap and the input pump, with whatever time the busy machine takes the processor
// away) and its processor time (median), the wait for the renderer in glFinish (median), the
// crystal's faces drawn, the samples that passed the depth test while it was drawn, and the
// pixels where it is the nearest surface of the finished frame.
//
// The frames before N are drawn at a tenth of the size with the same projection: the same
// things are culled and drawn, so the run draws the same random numbers, grows the same crystal
// and reaches the same scene; only the pixels are fewer.
#define GL_GLEXT_PROTOTYPES 1
#include "platform/opengl.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "app/ship.h"
#include "foundation/camera.h"
#include "platform/errorlog.h"
#include "platform/framecycle.h"
#include "platform/scriptplay.h"
#include "platform/window.h"
#include "things/dendrite.h"

namespace {

constexpr int WIDTH = 1280, HEIGHT = 720;
constexpr uint32_t SETTLE = 3;  // paused frames before the timing starts

double now() {
    using std::chrono::steady_clock;
    return std::chrono::duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Processor time of the calling thread or of the whole process (the renderer's threads too):
// the work done, whatever else the machine runs.
double cpu_seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Bench {
    uint32_t n, m;
    uint32_t first_timed, last_timed, measured;  // frame numbers
    double last_finish, last_cpu, last_process;
    std::vector<double> total, wait, cpu, process;
    Dendrite* box;
    ThingType counting_type;  // the crystal's type with its plot inside the queries
    GLuint samples, primitives;
    GLuint passed, faces;
    uint32_t visible;
};
Bench bench;

void counting_plot(VNode* node) {
    glBeginQuery(GL_SAMPLES_PASSED, bench.samples);
    glBeginQuery(GL_PRIMITIVES_GENERATED, bench.primitives);
    dendrite_type.plot(node);
    glEndQuery(GL_PRIMITIVES_GENERATED);
    glEndQuery(GL_SAMPLES_PASSED);
}

Dendrite* find_box() {
    const VNode* world = player_ship ? player_ship->parent : nullptr;
    for (uint32_t i = 0; world && i < VNode_child_count(world); i++) {
        VNode* c = VNode_child(world, i);
        if (c->type == &dendrite_type) return static_cast<Dendrite*>(c);
    }
    return nullptr;
}

// Pixels where the crystal is the nearest surface of the finished frame: the crystal drawn
// again where its depth equals the depth buffer's, every such pixel set to white on black.
uint32_t crystal_pixels(Dendrite* box) {
    glClear(GL_COLOR_BUFFER_BIT);
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glEnable(GL_COLOR_LOGIC_OP);
    glLogicOp(GL_SET);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_EQUAL);
    glDepthMask(GL_FALSE);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadMatrixd(g_camera.view.m);
    glMultMatrixd(box->frame->current.m);
    dendrite_type.plot(box);
    glPopMatrix();
    glPopAttrib();
    std::vector<unsigned char> rgb(static_cast<size_t>(WIDTH) * HEIGHT * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, WIDTH, HEIGHT, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    uint32_t n = 0;
    for (size_t i = 0; i < rgb.size(); i += 3) {
        n += rgb[i] == 255 && rgb[i + 1] == 255 && rgb[i + 2] == 255;
    }
    return n;
}

// At the end of every frame, before end_frame waits for the renderer.
void frame_done() {
    const uint32_t k = script_frame();
    const double hook = now(), cpu = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
    glFinish();
    const double finish = now(), process = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
    if (k >= bench.first_timed && k <= bench.last_timed) {
        bench.total.push_back(1000.0 * (finish - bench.last_finish));
        bench.wait.push_back(1000.0 * (finish - hook));
        bench.cpu.push_back(1000.0 * (cpu - bench.last_cpu));
        bench.process.push_back(1000.0 * (process - bench.last_process));
    }
    bench.last_finish = finish;
    bench.last_process = process;
    bench.last_cpu = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);

    if (k == 0) resize(WIDTH / 10, HEIGHT / 10);
    if (k + 1 == bench.n) resize(WIDTH, HEIGHT);
    if (k == bench.n) script_sim_clock_follow_real();
    if (k + 1 == bench.measured) {
        bench.box = find_box();
        if (!bench.box) return;
        bench.counting_type = dendrite_type;
        bench.counting_type.plot = counting_plot;
        bench.box->type = &bench.counting_type;
        glGenQueries(1, &bench.samples);
        glGenQueries(1, &bench.primitives);
    }
    if (k == bench.measured && bench.box) {
        bench.box->type = &dendrite_type;
        glGetQueryObjectuiv(bench.samples, GL_QUERY_RESULT, &bench.passed);
        glGetQueryObjectuiv(bench.primitives, GL_QUERY_RESULT, &bench.faces);
        bench.visible = crystal_pixels(bench.box);
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

void fatal_to_stderr(const char* message) { std::fprintf(stderr, "Oh sod it: %s\n", message); }

bool read_text(const char* path, std::string* out) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out->append(buffer, n);
    std::fclose(f);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4 || std::atoi(argv[1]) < 2) {
        std::fprintf(stderr, "usage: zibu_frame_bench N [M [SCRIPT]]   (N >= 2, M timed frames)\n");
        return 2;
    }
    std::string input;
    if (argc > 3 && !read_text(argv[3], &input)) {
        std::fprintf(stderr, "zibu_frame_bench: cannot read %s\n", argv[3]);
        return 2;
    }
    bench.n = static_cast<uint32_t>(std::atoi(argv[1]));
    bench.m = argc > 2 ? static_cast<uint32_t>(std::max(1, std::atoi(argv[2]))) : 30u;
    bench.first_timed = bench.n + SETTLE;
    bench.last_timed = bench.first_timed + bench.m - 1;
    bench.measured = bench.last_timed + 1;
    const std::string text = "0 size " + std::to_string(WIDTH) + " " + std::to_string(HEIGHT) +
                             "\n" + input + "\n" + std::to_string(bench.n) + " down p\n" +
                             std::to_string(bench.n + 2) + " up p\n" +
                             std::to_string(bench.measured) + " quit\n";
    Script script;
    char error[SCRIPT_ERROR_SIZE];
    if (script_parse(text.data(), text.size(), &script, error) != 0) {
        std::fprintf(stderr, "zibu_frame_bench: %s\n", error);
        return 2;
    }
    fatal_message_box = fatal_to_stderr;
    script_play(&script);
    frame_done_hook = frame_done;
    main_loop("");
    frame_done_hook = nullptr;
    script_free(&script);
    if (bench.total.size() != bench.m) {
        std::fprintf(stderr, "zibu_frame_bench: the run ended before its timed frames\n");
        return 1;
    }
    std::vector<double> main_part(bench.m);
    for (size_t i = 0; i < bench.m; i++) main_part[i] = bench.total[i] - bench.wait[i];
    std::printf("%u\t%.1f\t%.1f\t%.1f\t%.2f\t%.2f\t%.1f\t%u\t%u\t%u\n", bench.n,
                median(bench.total), *std::max_element(bench.total.begin(), bench.total.end()),
                median(bench.process), median(main_part), median(bench.cpu), median(bench.wait),
                bench.faces, bench.passed, bench.visible);
    return 0;
}
