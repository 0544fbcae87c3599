// Frame benchmark (development harness): plays the default scene with no input at 1/60 s
// to frame N, pauses the world, then times M frames.
#define GL_GLEXT_PROTOTYPES 1
#include "platform/opengl.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/main_loop.h"
#include "app/scenario.h"
#include "app/ship.h"
#include "foundation/camera.h"
#include "platform/font.h"
#include "platform/font_builtin.h"
#include "platform/framecycle.h"
#include "platform/window.h"
#include "scene/advance.h"
#include "scene/collide.h"
#include "scene/lights.h"
#include "scene/plot.h"
#include "things/dendrite.h"

namespace {

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct Scene {
    VNode* world;
    Ship* ship;
    Dendrite* box;
};

GLuint samples_query = 0, prims_query = 0;
bool measuring = false;
ThingType measured_type;

void measured_plot(VNode* node) {
    if (measuring) {
        glBeginQuery(GL_SAMPLES_PASSED, samples_query);
        glBeginQuery(GL_PRIMITIVES_GENERATED, prims_query);
    }
    dendrite_type.plot(node);
    if (measuring) {
        glEndQuery(GL_PRIMITIVES_GENERATED);
        glEndQuery(GL_SAMPLES_PASSED);
    }
}

void passes(Scene* s, bool paused, bool draw) {
    VNode_reset_counters();
    VNode_remember_frames(s->world);
    VNode_advance_tree(paused ? static_cast<VNode*>(s->ship) : s->world, frame_time);
    if (!paused) sim_time += frame_time;
    VNode_collide(s->world);
    if (draw) VNode_plot_from(s->world, s->ship);
}

void finish_frame() {
    glFinish();
    swap_window_buffers();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
}

// Pixels where the crystal is the nearest surface of the finished frame.
uint32_t crystal_pixels(Scene* s) {
    glClear(GL_COLOR_BUFFER_BIT);
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glEnable(GL_COLOR_LOGIC_OP);
    glLogicOp(GL_SET);
    glDepthFunc(GL_EQUAL);
    glDepthMask(GL_FALSE);
    glLoadMatrixd(g_camera.view.m);
    glPushMatrix();
    glMultMatrixd(s->box->frame->current.m);
    dendrite_type.plot(s->box);
    glPopMatrix();
    glPopAttrib();
    std::vector<unsigned char> rgb(static_cast<size_t>(screen_width) * screen_height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, screen_width, screen_height, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    uint32_t n = 0;
    for (size_t i = 0; i < rgb.size(); i += 3) n += rgb[i] == 255 && rgb[i + 1] == 255 && rgb[i + 2] == 255;
    return n;
}

uint32_t exposed_faces(const Dendrite* d) {
    uint32_t n = 0;
    const CellPos* c = DynArray_items<CellPos>(&d->crystal);
    static const int step[6][3] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
    for (uint32_t i = 0; i < d->crystal.count; i++)
        for (const auto& s : step) n += dendrite_cell(d, c[i].x + s[0], c[i].y + s[1], c[i].z + s[2]) == 0;
    return n;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int frames = argc > 1 ? std::atoi(argv[1]) : 20;
    std::vector<int> stops;
    for (int i = 2; i < argc; i++) stops.push_back(std::atoi(argv[i]));
    if (stops.empty()) stops = {600, 1800, 3600};
    const int W = 1280, H = 720;
    flat_projection = 0;
    if (!graphics_open(W, H, "zibu frame bench")) return 1;
    font_load(builtin_font_stream, builtin_font_stream_size, "normal", 0);
    Scene s{};
    s.world = World_create(0, 0, 0, nullptr);
    s.ship = ship_create(20, 20, 20, s.world);
    scene_populate(s.world);
    for (uint32_t i = 0; i < VNode_child_count(s.world); i++) {
        VNode* c = VNode_child(s.world, i);
        if (c->type == &dendrite_type) s.box = static_cast<Dendrite*>(c);
    }
    measured_type = dendrite_type;
    measured_type.plot = measured_plot;
    s.box->type = &measured_type;
    lights_start();
    pre_plot_hook = set_scene_lights;
    glGenQueries(1, &samples_query);
    glGenQueries(1, &prims_query);
    frame_time = 1.0 / 60.0;
    sim_time = 0;
    int frame = 0;
    std::printf("N\tms_med\tms_max\tmain\tfinish\tswap\tfaces\tpassed\tvisible\tcells\texposed\n");
    for (int stop : stops) {
        // Play at a small viewport of the same shape: the same culling, the same draws.
        resize(W / 10, H / 10);
        while (frame < stop) {
            passes(&s, false, true);
            finish_frame();
            frame++;
        }
        resize(W, H);
        std::vector<double> total, main_part, wait, swap;
        for (int i = 0; i < frames; i++) {
            double t0 = now();
            passes(&s, true, true);
            double t1 = now();
            glFinish();
            double t2 = now();
            swap_window_buffers();
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glLoadIdentity();
            double t3 = now();
            total.push_back(1000 * (t3 - t0));
            main_part.push_back(1000 * (t1 - t0));
            wait.push_back(1000 * (t2 - t1));
            swap.push_back(1000 * (t3 - t2));
        }
        measuring = true;
        passes(&s, true, true);
        measuring = false;
        GLuint passed = 0, prims = 0;
        glGetQueryObjectuiv(samples_query, GL_QUERY_RESULT, &passed);
        glGetQueryObjectuiv(prims_query, GL_QUERY_RESULT, &prims);
        uint32_t visible = crystal_pixels(&s);
        finish_frame();
        std::printf("%d\t%.1f\t%.1f\t%.2f\t%.1f\t%.2f\t%u\t%u\t%u\t%u\t%u\n", stop, median(total),
                    *std::max_element(total.begin(), total.end()), median(main_part), median(wait),
                    median(swap), prims, passed, visible, s.box->crystal.count, exposed_faces(s.box));
        std::fflush(stdout);
    }
    VNode_destroy(s.world);
    return 0;
}
