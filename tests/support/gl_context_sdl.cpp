#include "support/gl_context.h"

#include "platform/framecycle.h"
#include "platform/opengl.h"

#include <SDL.h>

#include <sstream>

namespace {

SDL_Window* test_window = nullptr;
SDL_GLContext test_context = nullptr;
std::string error_text;

bool failed(const char* what) {
    error_text = std::string(what) + SDL_GetError();
    return false;
}

bool open_once() {
    if (test_context) return true;
    if (!error_text.empty()) return false;
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return failed("no video (is a display set?): ");
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    for (SDL_GLattr a : {SDL_GL_RED_SIZE, SDL_GL_GREEN_SIZE, SDL_GL_BLUE_SIZE}) SDL_GL_SetAttribute(a, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    test_window = SDL_CreateWindow("zibu tests", 0, 0, GL_TEST_WIDTH, GL_TEST_HEIGHT,
                                   SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!test_window) return failed("no window: ");
    test_context = SDL_GL_CreateContext(test_window);
    return test_context || failed("no OpenGL context: ");
}

}  // namespace

bool gl_test_context() {
    if (!open_once()) return false;
    if (SDL_GL_MakeCurrent(test_window, test_context) != 0) return failed("cannot make the context current: ");
    for (GLenum cap : {GL_LIGHTING, GL_TEXTURE_2D, GL_BLEND, GL_SCISSOR_TEST}) glDisable(cap);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glMatrixMode(GL_MODELVIEW);
    flat_projection = 0;
    gl_start_state(GL_TEST_WIDTH, GL_TEST_HEIGHT);
    return true;
}

const std::string& gl_test_error() { return error_text; }

std::vector<unsigned char> gl_test_pixels(int x, int y, int w, int h) {
    std::vector<unsigned char> rgb(3 * static_cast<size_t>(w) * h);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, w, h, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return rgb;
}

std::string gl_test_state() {
    const struct { const char* name; GLenum what; int count; } parts[] = {
        {"lighting", GL_LIGHTING, 1}, {"texture 2D", GL_TEXTURE_2D, 1}, {"cube map", GL_TEXTURE_CUBE_MAP, 1},
        {"texture gen s", GL_TEXTURE_GEN_S, 1}, {"texture gen t", GL_TEXTURE_GEN_T, 1},
        {"texture gen r", GL_TEXTURE_GEN_R, 1}, {"blend", GL_BLEND, 1}, {"depth test", GL_DEPTH_TEST, 1},
        {"cull face", GL_CULL_FACE, 1}, {"scissor test", GL_SCISSOR_TEST, 1},
        {"depth writes", GL_DEPTH_WRITEMASK, 1}, {"matrix mode", GL_MATRIX_MODE, 1},
        {"model-view", GL_MODELVIEW_MATRIX, 16}, {"its depth", GL_MODELVIEW_STACK_DEPTH, 1},
        {"projection", GL_PROJECTION_MATRIX, 16}, {"its depth", GL_PROJECTION_STACK_DEPTH, 1},
        {"texture", GL_TEXTURE_MATRIX, 16}, {"its depth", GL_TEXTURE_STACK_DEPTH, 1},
        {"viewport", GL_VIEWPORT, 4}};
    std::ostringstream out;
    out.precision(17);
    for (const auto& part : parts) {
        GLdouble v[16];
        glGetDoublev(part.what, v);
        out << part.name;
        for (int i = 0; i < part.count; i++) out << " " << v[i];
        out << "\n";
    }
    out << "error " << glGetError() << "\n";
    return out.str();
}

unsigned gl_test_pixel(int x, int y) {
    const std::vector<unsigned char> rgb = gl_test_pixels(x, y, 1, 1);
    return (unsigned(rgb[0]) << 16) | (unsigned(rgb[1]) << 8) | rgb[2];
}
