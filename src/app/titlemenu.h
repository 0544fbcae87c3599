#pragma once
// The title menu: a band of the frame drawn so far, tinted blue-grey by a GLSL fragment shader
// (or darkened and tinted by plain blending without one), closing towards the middle of the
// screen as the menu fades in, with the title and four menu lines over it. It is only drawn:
// it reads no keys and has no selection.
//
// Also the small shader utility: the OpenGL 2.0 entry points fetched by name, compiling,
// linking and info logs.
#include <cstdint>

// ---- Pure arithmetic (no OpenGL) ----

// The next frame's opacity of the menu: while T is held it moves towards 1.1 at ten times its
// distance a second (capped at 1), else towards -0.1 likewise (floored at 0).
float menu_fade_next(float fade, bool held, double frame_time);

// The band at a fade: m is the half height of the band at full fade as a share of the screen
// height (at most 0.45), th that half height in pixels; the band runs from a to b, shares of
// the height from the top.
struct MenuBand {
    float m;
    float th;
    float a;
    float b;
};
MenuBand menu_band(int width, int height, float fade);

// The copy of the frame in its texture: the texture's power-of-two size, the share of it the
// frame uses (su, sv) and half a texel (du, dv).
struct MenuTextureGeometry {
    int tex_w;
    int tex_h;
    float su, sv;
    float du, dv;
};
MenuTextureGeometry menu_texture_geometry(int width, int height);

// ---- Shaders (need a current OpenGL context) ----

// 1 when OpenGL 2.0 is there (its entry points are then fetched), else 0; decided once.
int shaders_available();
// Fetches the OpenGL 2.0 entry points once; below version 2.0 this is a fatal error.
void shader_entry_points_load();
// A shader of the type compiled from source.
uint32_t shader_compile(uint32_t type, const char* source);
// The info log of a shader or, with is_program, of a program; "No information log" when it
// is empty. The caller frees it with checked_free.
char* shader_info_log(uint32_t object, int is_program);
// A program of the given shaders (either source may be null), linked. The logs go to the outs
// that are not null (the caller frees them). A shader that does not compile or a program that
// does not link gives 0, and its logs are appended to "graphics_error.log".
uint32_t shader_program_build(const char* vertex_source, const char* fragment_source,
                              char** vertex_log, char** fragment_log, char** program_log);
// A program of one fragment shader, or 0 when shaders are unavailable or it fails to build.
uint32_t fragment_program(const char* fragment_source, char** fragment_log, char** program_log);

// ---- The menu ----

// The greyscale shader's source.
extern const char* const menu_shader_text;
// What the menu's first draw builds its shader from: menu_shader_text, or null for the
// blending path. Tests change it, then call title_menu_forget.
extern const char* menu_shader_source;
// Draws the menu at a fade in (0, 1] over the frame drawn so far. The first draw builds the
// shader and the frame's texture for the screen size of that moment.
void title_menu_draw(float fade);
// Drops the texture and the shader, so that the next draw builds them again.
void title_menu_forget();
