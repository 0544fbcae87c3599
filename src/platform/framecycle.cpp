#include "platform/framecycle.h"

#include "platform/opengl.h"
#include "platform/window.h"

#include <cmath>

unsigned char flat_projection = 1;
uint32_t last_clear_colour = CLEAR_COLOUR_UNSET;
double (*clock_seconds)() = clock_calibrate;
double seconds_per_tick = 0.0;
void (*frame_done_hook)() = nullptr;

void gl_start_state(int width, int height) {
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_DEPTH_TEST);
    glShadeModel(GL_SMOOTH);
    resize(width, height);
    glLoadIdentity();
}

void resize(int width, int height) {
    if (height < 1) height = 1;
    screen_width = width;
    screen_height = height;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (flat_projection) {
        glOrtho(0, width, height, 0, height / 2, -(height / 2));
    } else {
        set_perspective(90.0f, 0.1f, 1000.0f);
    }
    glMatrixMode(GL_MODELVIEW);
}

void set_perspective(float fov, float near_plane, float far_plane) {
    const float pi = 3.14159265358979323846f;
    float tx = std::tan(0.5f * (pi * fov / 180.0f));
    float ty = static_cast<float>(screen_height) * tx / static_cast<float>(screen_width);
    if (0.75f * tx > ty) {
        ty = 0.75f * tx;
        tx = static_cast<float>(screen_width) * ty / static_cast<float>(screen_height);
    }
    float m[16] = {};
    m[0] = 1.0f / tx;
    m[5] = 1.0f / ty;
    m[10] = (far_plane + near_plane) / (near_plane - far_plane);
    m[11] = -1.0f;
    m[14] = 2.0f * near_plane * far_plane / (near_plane - far_plane);
    glLoadMatrixf(m);
    glMatrixMode(GL_MODELVIEW);
}

void overlay_begin() {
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    GLint vp[4];
    glGetIntegerv(GL_VIEWPORT, vp);
    glOrtho(vp[0], vp[0] + vp[2], screen_height - vp[1], screen_height - (vp[1] + vp[3]),
            screen_height / 2, -(screen_height / 2));
    glMatrixMode(GL_MODELVIEW);
    glDisable(GL_DEPTH_TEST);
}

void overlay_end() {
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glEnable(GL_DEPTH_TEST);
}

void end_frame(uint32_t colour) {
    if (frame_done_hook) frame_done_hook();
    glFinish();
    swap_window_buffers();
    // Changing the clear colour can cost a pipeline flush on some drivers; skip it if unchanged.
    if (colour != last_clear_colour) {
        glClearColor(static_cast<float>(colour >> 16) / 255.0f,
                     static_cast<float>((colour >> 8) & 0xFF) / 255.0f,
                     static_cast<float>(colour & 0xFF) / 255.0f, 0.0f);
        last_clear_colour = colour;
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
}

void clear_rect(int x, int y, int w, int h) {
    glEnable(GL_SCISSOR_TEST);
    glScissor(x, y, w, h);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
}

double units_per_pixel() {
    GLint vp[4];
    GLdouble m[16], p[16], q[16];
    glGetIntegerv(GL_VIEWPORT, vp);
    glGetDoublev(GL_MODELVIEW_MATRIX, m);
    glGetDoublev(GL_PROJECTION_MATRIX, p);
    // q = p * m, column-major: q[c*4 + r].
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) {
            double s = 0.0;
            for (int k = 0; k < 4; ++k) s += p[k * 4 + r] * m[c * 4 + k];
            q[c * 4 + r] = s;
        }
    }
    // Scale the first column by half the viewport width and the second by half its height.
    for (int r = 0; r < 4; ++r) {
        q[0 * 4 + r] *= 0.5 * vp[2];
        q[1 * 4 + r] *= 0.5 * vp[3];
    }
    // Q(row, col) = q[col*4 + row].
    double det = q[0] * q[5] - q[4] * q[1];
    return 1.0 / std::sqrt(std::fabs(det));
}

double near_plane_reach() {
    GLdouble p[16];
    glGetDoublev(GL_PROJECTION_MATRIX, p);
    if (p[11] != -1.0 || p[10] == 1.0) return HUGE_VAL;
    // A perspective matrix has p[10] = (f + n) / (n - f) and p[14] = 2 f n / (n - f); a point
    // of the near plane at x_ndc has x = n (x_ndc + p[8]) / p[0], and likewise for y.
    const double n = p[14] / (p[10] - 1.0);
    const double x = n * (1.0 + std::fabs(p[8])) / std::fabs(p[0]);
    const double y = n * (1.0 + std::fabs(p[9])) / std::fabs(p[5]);
    return std::sqrt(n * n + x * x + y * y);
}

double pixel_angle() {
    GLdouble p[16];
    glGetDoublev(GL_PROJECTION_MATRIX, p);
    return 2.0 / (p[0] * screen_width);
}
