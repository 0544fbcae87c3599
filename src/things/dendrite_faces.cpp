#include "things/dendrite.h"

#include <cmath>
#include <cstring>

#include "foundation/camera.h"
#include "foundation/memory.h"
#include "foundation/random.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/primitives.h"
#include "platform/texture.h"
#include "platform/window.h"
#include "things/dendrite_internal.h"

unsigned dendrite_texture_name = 0;
unsigned char show_solute = 0;

namespace {

constexpr int TEXTURE_SIZE = 128;
constexpr double TEXTURE_LINE_WIDTH = 0.1;

const int16_t face_tex[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};

constexpr uint8_t bits_set[64] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 1, 2, 2, 3, 2, 3,
                                   3, 4, 2, 3, 3, 4, 3, 4, 4, 5, 1, 2, 2, 3, 2, 3, 3, 4, 2, 3, 3, 4,
                                   3, 4, 4, 5, 2, 3, 3, 4, 3, 4, 4, 5, 3, 4, 4, 5, 4, 5, 5, 6};

unsigned open_faces_at(const Dendrite* d, CellPos c) {
    return d->open_faces[cell_index(d, c.x, c.y, c.z)];
}

// Where the eye stands among the cells. A face at the low side of a cell (coordinate c) is
// seen from the eye when eye <= c, one at the high side when eye >= c + 1. The eye's cell is
// held to -1 .. size, which decides every face of the box the same way.
struct EyeCell {
    int32_t cell[3];
    uint8_t on_plane;  // bit a: the eye lies exactly on a boundary of axis a
};

EyeCell eye_cell(const Dendrite* d, Vec3 eye) {
    const double e[3] = {eye.x, eye.y, eye.z};
    const int32_t size[3] = {d->size_x, d->size_y, d->size_z};
    EyeCell ec{};
    for (int a = 0; a < 3; a++) {
        double f = std::floor(e[a]);
        if (f == e[a]) ec.on_plane = static_cast<uint8_t>(ec.on_plane | 1u << a);
        if (!(f >= -1.0)) f = -1.0;
        if (!(f <= size[a])) f = size[a];
        ec.cell[a] = static_cast<int32_t>(f);
    }
    return ec;
}

// Bit f set when face f of cell c faces the eye (an eye in the face's plane counts: it sees
// the face edge-on, which draws nothing).
unsigned facing_faces(const EyeCell& ec, CellPos c) {
    const int32_t at[3] = {c.x, c.y, c.z};
    unsigned mask = 0;
    for (int a = 0; a < 3; a++) {
        const int32_t low_seen_from = ec.cell[a] + ((ec.on_plane >> a) & 1u ? 0 : 1);
        if (at[a] >= low_seen_from) mask |= 1u << (2 * a);
        if (at[a] < ec.cell[a]) mask |= 1u << (2 * a + 1);
    }
    return mask;
}

// Steps between cell c and the eye's cell (held inside the box). Along any line from the eye
// every coordinate moves away from the eye's cell, so each cell that hides part of another
// is fewer steps away: drawing by rising steps draws every pixel's nearest face first.
uint32_t steps_from_eye(const Dendrite* d, const EyeCell& ec, CellPos c) {
    const int32_t at[3] = {c.x, c.y, c.z};
    const int32_t size[3] = {d->size_x, d->size_y, d->size_z};
    uint32_t steps = 0;
    for (int a = 0; a < 3; a++) {
        const int32_t e = ec.cell[a] < 0 ? 0 : (ec.cell[a] >= size[a] ? size[a] - 1 : ec.cell[a]);
        steps += static_cast<uint32_t>(at[a] > e ? at[a] - e : e - at[a]);
    }
    return steps;
}

// What a cell gives the face list: its open faces, those of them that face the eye, and its
// class of distance from the eye (twice its steps; the class after it holds faces turned away).
struct CellFaces {
    unsigned open, facing;
    uint32_t near_class;
};

// Inlined into both loops that call it for every cell, which halves the time of a listing.
[[gnu::always_inline]] inline CellFaces cell_faces(const Dendrite* d, const EyeCell& ec,
                                                   CellPos c) {
    return CellFaces{open_faces_at(d, c), facing_faces(ec, c), 2 * steps_from_eye(d, ec, c)};
}

const float* generation_colour(Dendrite* d, int16_t value) {
    DendriteDrawing* w = &d->drawing;
    const uint32_t v = value > 0 ? static_cast<uint32_t>(value) : 0u;
    if (v >= w->colour_count) {
        const uint32_t count = v + 64;
        w->colours = static_cast<float(*)[3]>(
            checked_realloc(w->colours, static_cast<std::size_t>(count) * sizeof *w->colours));
        for (uint32_t g = w->colour_count; g < count; g++) {
            dendrite_colour(d, static_cast<int32_t>(g), &w->colours[g][0], &w->colours[g][1],
                            &w->colours[g][2]);
        }
        w->colour_count = count;
    }
    return w->colours[v];
}

void write_face(FaceVertex* out, CellPos c, unsigned f, const float* colour) {
    for (int i = 0; i < 4; i++) {
        const int8_t* k = face_shapes[f].corner[i];
        FaceVertex& v = out[i];
        v.colour[0] = colour[0];
        v.colour[1] = colour[1];
        v.colour[2] = colour[2];
        v.tex[0] = face_tex[i][0];
        v.tex[1] = face_tex[i][1];
        v.pos[0] = static_cast<int16_t>(c.x + k[0]);
        v.pos[1] = static_cast<int16_t>(c.y + k[1]);
        v.pos[2] = static_cast<int16_t>(c.z + k[2]);
        v.pad = 0;
    }
}

// Grows a buffer of elements of size bytes to hold at least n of them.
void reserve(void** buffer, uint32_t* capacity, uint32_t n, std::size_t size) {
    if (n <= *capacity) return;
    const uint32_t grown = n + n / 2 + 16;
    *buffer = checked_realloc(*buffer, static_cast<std::size_t>(grown) * size);
    *capacity = grown;
}

template <class T>
void reserve_of(T** buffer, uint32_t* capacity, uint32_t n) {
    void* b = *buffer;
    reserve(&b, capacity, n, sizeof(T));
    *buffer = static_cast<T*>(b);
}

// Every open face, newest cell first.
void list_faces_as_listed(Dendrite* d) {
    DendriteDrawing* w = &d->drawing;
    const CellPos* crystal = DynArray_items<CellPos>(&d->crystal);
    w->faces = 0;
    for (uint32_t i = 0; i < d->crystal.count; i++) {
        w->faces += bits_set[open_faces_at(d, crystal[i])];
    }
    reserve_of(&w->vertices, &w->capacity, 4 * w->faces);
    FaceVertex* out = w->vertices;
    for (uint32_t i = d->crystal.count; i-- > 0;) {
        const CellPos cell = crystal[i];
        const unsigned open = open_faces_at(d, cell);
        const float* colour = generation_colour(d, d->cells[cell.x][cell.y][cell.z]);
        for (unsigned k = 0; k < 6; k++) {
            if (!(open >> k & 1u)) continue;
            write_face(out, cell, k, colour);
            out += 4;
        }
    }
}

void draw_crystal(const DendriteDrawing* w) {
    if (w->faces == 0) return;
    const FaceVertex* v = w->vertices;
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glColorPointer(3, GL_FLOAT, sizeof(FaceVertex), v->colour);
    glTexCoordPointer(2, GL_SHORT, sizeof(FaceVertex), v->tex);
    glVertexPointer(3, GL_SHORT, sizeof(FaceVertex), v->pos);
    glDrawArrays(GL_QUADS, 0, static_cast<GLsizei>(4 * w->faces));
    glPopClientAttrib();
}

// The faint solute cubes, in the order and with the corners of cube_quads_textured. They
// are blended, so every face counts and the order stays. Drawn in batches, so that the
// vertices of a batch are all the memory they take.
void draw_solute(Dendrite* d) {
    constexpr uint32_t BATCH = 4096;  // cubes
    DendriteDrawing* w = &d->drawing;
    const CellPos* solute = DynArray_items<CellPos>(&d->solute);
    for (uint32_t end = d->solute.count; end > 0;) {
        const uint32_t n = end < BATCH ? end : BATCH;
        reserve_of(&w->solute, &w->solute_capacity, 24 * n);
        CubeVertex* out = w->solute;
        for (uint32_t i = end; i-- > end - n;) {
            for (const auto& face : cube_face_corners) {
                for (int k = 0; k < 4; k++) {
                    CubeVertex& v = *out++;
                    v.tex[0] = face_tex[k][0];
                    v.tex[1] = face_tex[k][1];
                    v.pos[0] = static_cast<int16_t>(solute[i].x + face[k][0]);
                    v.pos[1] = static_cast<int16_t>(solute[i].y + face[k][1]);
                    v.pos[2] = static_cast<int16_t>(solute[i].z + face[k][2]);
                    v.pad = 0;
                }
            }
        }
        glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_SHORT, sizeof(CubeVertex), w->solute->tex);
        glVertexPointer(3, GL_SHORT, sizeof(CubeVertex), w->solute->pos);
        glDrawArrays(GL_QUADS, 0, static_cast<GLsizei>(24 * n));
        glPopClientAttrib();
        end -= n;
    }
}

}  // namespace

void dendrite_faces_update(Dendrite* d, Vec3 eye, FaceChoice choice) {
    DendriteDrawing* w = &d->drawing;
    const EyeCell ec = eye_cell(d, eye);
    if (w->built && w->crystal_changes == d->crystal_changes && w->choice == choice &&
        w->eye_on_plane == ec.on_plane && w->eye_cell[0] == ec.cell[0] &&
        w->eye_cell[1] == ec.cell[1] && w->eye_cell[2] == ec.cell[2]) {
        return;
    }
    w->crystal_changes = d->crystal_changes;
    w->choice = choice;
    w->eye_on_plane = ec.on_plane;
    for (int a = 0; a < 3; a++) w->eye_cell[a] = ec.cell[a];
    w->built = 1;
    if (choice == FaceChoice::all_as_listed) {
        list_faces_as_listed(d);
        return;
    }
    const bool all_faces = choice == FaceChoice::all_nearest_first;
    // A counting sort: class 2 s holds the facing faces of cells s steps away, class 2 s + 1
    // the faces turned away (drawn only with all_faces).
    const uint32_t classes = 2 * static_cast<uint32_t>(d->size_x + d->size_y + d->size_z - 2);
    reserve_of(&w->buckets, &w->bucket_count, classes + 1);
    uint32_t* start = w->buckets;
    std::memset(start, 0, sizeof(uint32_t) * (classes + 1));
    const CellPos* crystal = DynArray_items<CellPos>(&d->crystal);
    for (uint32_t i = 0; i < d->crystal.count; i++) {
        const CellFaces f = cell_faces(d, ec, crystal[i]);
        start[f.near_class + 1] += bits_set[f.open & f.facing];
        if (all_faces) start[f.near_class + 2] += bits_set[f.open & ~f.facing & 63u];
    }
    for (uint32_t c = 1; c <= classes; c++) start[c] += start[c - 1];
    w->faces = start[classes];
    reserve_of(&w->vertices, &w->capacity, 4 * w->faces);
    for (uint32_t i = 0; i < d->crystal.count; i++) {
        const CellPos cell = crystal[i];
        const CellFaces f = cell_faces(d, ec, cell);
        if (!f.open) continue;
        const float* colour = generation_colour(d, d->cells[cell.x][cell.y][cell.z]);
        for (unsigned k = 0; k < 6; k++) {
            if (!(f.open >> k & 1u)) continue;
            const bool faces_eye = f.facing >> k & 1u;
            if (!faces_eye && !all_faces) continue;
            uint32_t* slot = &start[faces_eye ? f.near_class : f.near_class + 1];
            write_face(&w->vertices[4 * (*slot)++], cell, k, colour);
        }
    }
}

bool dendrite_crystal_within(const Dendrite* d, Vec3 eye, double reach) {
    const double e[3] = {eye.x, eye.y, eye.z};
    const int32_t size[3] = {d->size_x, d->size_y, d->size_z};
    int32_t lo[3], hi[3];
    for (int a = 0; a < 3; a++) {
        const double l = std::floor(e[a] - reach), h = std::floor(e[a] + reach);
        if (!(h >= 0.0 && l < size[a])) return false;
        lo[a] = l < 0.0 ? 0 : static_cast<int32_t>(l);
        hi[a] = h >= size[a] ? size[a] - 1 : static_cast<int32_t>(h);
    }
    for (int32_t x = lo[0]; x <= hi[0]; x++) {
        for (int32_t y = lo[1]; y <= hi[1]; y++) {
            for (int32_t z = lo[2]; z <= hi[2]; z++) {
                if (d->cells[x][y][z] == 0) continue;
                // Distance from the eye to the nearest point of the cell.
                const int32_t at[3] = {x, y, z};
                double q = 0.0;
                for (int a = 0; a < 3; a++) {
                    const double g =
                        e[a] < at[a] ? at[a] - e[a] : (e[a] > at[a] + 1 ? e[a] - at[a] - 1 : 0.0);
                    q += g * g;
                }
                if (q <= reach * reach) return true;
            }
        }
    }
    return false;
}

void dendrite_plot(VNode* node) {
    Dendrite* d = VNode_as<Dendrite>(node);
    if (dendrite_texture_name == 0) dendrite_texture_name = dendrite_texture();
    glPushAttrib(GL_TEXTURE_BIT | GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, dendrite_texture_name);
    Vec3 eye = g_camera.eye;
    frame_point_to_local(&d->frame->current, &eye);
    GLint polygon_mode[2] = {GL_FILL, GL_FILL};
    glGetIntegerv(GL_POLYGON_MODE, polygon_mode);
    FaceChoice choice = FaceChoice::facing;
    if (polygon_mode[0] != GL_FILL || polygon_mode[1] != GL_FILL) {
        // Outlines do not hide one another: every face shows, and where two share an edge the
        // later one's colour.
        choice = FaceChoice::all_as_listed;
    } else if (dendrite_crystal_within(d, eye, 1.001 * near_plane_reach() + 1e-6)) {
        // Where the near plane may cut into the crystal, the eye can see the inside of a cell.
        choice = FaceChoice::all_nearest_first;
    }
    dendrite_faces_update(d, eye, choice);
    draw_crystal(&d->drawing);

    if (key_pressed(KEY_SPACE)) show_solute ^= 1;
    if (show_solute) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
        glDepthMask(GL_FALSE);
        glColor3f(0.1f, 0.1f, 0.1f);
        draw_solute(d);
    }
    glPopAttrib();
}

unsigned char* dendrite_texture_image(int n, double line_width) {
    const int stride = texture_stride(n, 1);
    unsigned char* image =
        static_cast<unsigned char*>(checked_calloc(static_cast<std::size_t>(stride) * n, 1));
    const int h = n / 2;
    const double border = n * line_width / 2.0;
    // Texel y + x * n: x counts rows, y columns.
    for (int y = n - 1; y >= 0; y--) {
        for (int x = n - 1; x >= 0; x--) {
            const int g = 64 + random_int(64);
            const bool edge = std::fabs(std::fmod(y + h, n) - h) <= border ||
                              std::fabs(std::fmod(x + h, n) - h) <= border;
            image[static_cast<std::size_t>(x) * stride + y] =
                static_cast<unsigned char>(edge ? g * 2 : g);
        }
    }
    return image;
}

unsigned dendrite_texture() {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    anisotropy_max_on_bound_texture();
    unsigned char* image = dendrite_texture_image(TEXTURE_SIZE, TEXTURE_LINE_WIDTH);
    upload_mipmapped(GL_TEXTURE_2D, 1, TEXTURE_SIZE, TEXTURE_SIZE, image);
    checked_free(image);
    return name;
}
