#include "platform/primitives.h"

#include "foundation/memory.h"
#include "platform/opengl.h"

#include <cmath>
#include <initializer_list>

namespace {

void set_colour(uint32_t colour) {
    glColor3ub(static_cast<GLubyte>(colour >> 16), static_cast<GLubyte>(colour >> 8),
               static_cast<GLubyte>(colour));
}

const float face_normals[6][3] = {{0, 0, -1}, {0, 0, 1}, {0, -1, 0},
                                  {0, 1, 0},  {-1, 0, 0}, {1, 0, 0}};
const float face_tex[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};

void emit_cube(double x, double y, double z, double s, bool textured) {
    const double lo[3] = {x, y, z};
    const double hi[3] = {x + s, y + s, z + s};
    for (int f = 0; f < 6; ++f) {
        glNormal3fv(face_normals[f]);
        for (int v = 0; v < 4; ++v) {
            const unsigned char* corner = cube_face_corners[f][v];
            if (textured) glTexCoord2f(face_tex[v][0], face_tex[v][1]);
            glVertex3d(corner[0] ? hi[0] : lo[0], corner[1] ? hi[1] : lo[1],
                       corner[2] ? hi[2] : lo[2]);
        }
    }
}

}  // namespace

const unsigned char cube_face_corners[6][4][3] = {
    {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}},
    {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}, {{0, 1, 0}, {1, 1, 0}, {1, 1, 1}, {0, 1, 1}},
    {{0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}}, {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}},
};

void draw_point(double x, double y, uint32_t colour) {
    glBegin(GL_POINTS);
    set_colour(colour);
    glVertex2d(x, y);
    glEnd();
}

void draw_line(double x1, double y1, double x2, double y2, uint32_t colour) {
    GLboolean lit = glIsEnabled(GL_LIGHTING);
    glDisable(GL_LIGHTING);
    glBegin(GL_LINES);
    set_colour(colour);
    glVertex2d(x1, y1);
    glVertex2d(x2, y2);
    glEnd();
    if (lit) glEnable(GL_LIGHTING);
}

void fill_box(double x, double y, double w, double h, uint32_t colour) {
    glBegin(GL_QUADS);
    set_colour(colour);
    glVertex2d(x, y);
    glVertex2d(x + w, y);
    glVertex2d(x + w, y + h);
    glVertex2d(x, y + h);
    glEnd();
}

void draw_box(double x, double y, double w, double h, uint32_t colour) {
    glBegin(GL_LINE_LOOP);
    set_colour(colour);
    glVertex2d(x, y);
    glVertex2d(x + w, y);
    glVertex2d(x + w, y + h);
    glVertex2d(x, y + h);
    glEnd();
}

void cube_quads(double x, double y, double z, double size) { emit_cube(x, y, z, size, false); }

void cube_quads_textured(double x, double y, double z, double size) {
    emit_cube(x, y, z, size, true);
}

void sphere(double cx, double cy, double cz, double r, uint32_t colour, int n) {
    if (n < 1) return;
    const double pi = 3.14159265358979323846;
    const size_t count = static_cast<size_t>(n) + 1;
    double* co = static_cast<double*>(checked_malloc_array(2 * count, sizeof(double)));
    double* si = co + n + 1;
    for (int k = 0; k <= n; ++k) {
        co[k] = std::cos(k * pi / n);
        si[k] = std::sin(k * pi / n);
    }
    // The mirror quad negates y; sign 1 draws the quad itself, -1 its mirror image.
    auto vertex = [&](int p, int q, double sign) {
        double dx = co[p] * si[q], dy = sign * si[p] * si[q], dz = co[q];
        glNormal3d(dx, dy, dz);
        glVertex3d(cx + r * dx, cy + r * dy, cz + r * dz);
    };
    glBegin(GL_QUADS);
    set_colour(colour);
    for (int i = n - 1; i >= 0; --i) {
        for (int j = n - 1; j >= 0; --j) {
            for (double sign : {1.0, -1.0}) {
                vertex(i, j, sign);
                vertex(i + 1, j, sign);
                vertex(i + 1, j + 1, sign);
                vertex(i, j + 1, sign);
            }
        }
    }
    glEnd();
    checked_free(co);
}
