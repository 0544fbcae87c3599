#include "app/titlemenu.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/memory.h"
#include "foundation/util.h"
#include "platform/errorlog.h"
#include "platform/font.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/text.h"
#include "platform/window.h"

// texture2D: GLSL 1.10, which a source without a version line asks for, has no texture().
const char* const menu_shader_text =
    "uniform sampler2D tex;\n"
    "uniform float frac;\n"
    "void main()\n"
    "{\n"
    "\tvec4 c=texture2D(tex,gl_TexCoord[0].xy);\n"
    "\tfloat l=pow(pow(c.r,2.2)*0.2126+pow(c.g,2.2)*0.7152+pow(c.b,2.2)*0.0722,1.0/2.2);\n"
    "\tgl_FragColor=frac*vec4(0.7*l,0.7*l,0.3+0.7*l,1)+(1.0-frac)*c;\n"
    "}";
const char* menu_shader_source = menu_shader_text;

namespace {

// The OpenGL 2.0 entry points, fetched by name.
struct ShaderEntryPoints {
    PFNGLCREATESHADERPROC CreateShader;
    PFNGLSHADERSOURCEPROC ShaderSource;
    PFNGLCOMPILESHADERPROC CompileShader;
    PFNGLCREATEPROGRAMPROC CreateProgram;
    PFNGLATTACHSHADERPROC AttachShader;
    PFNGLLINKPROGRAMPROC LinkProgram;
    PFNGLUSEPROGRAMPROC UseProgram;
    PFNGLGETUNIFORMLOCATIONPROC GetUniformLocation;
    PFNGLUNIFORM1FPROC Uniform1f;
    PFNGLUNIFORM1IPROC Uniform1i;
    PFNGLGETSHADERIVPROC GetShaderiv;
    PFNGLGETSHADERINFOLOGPROC GetShaderInfoLog;
    PFNGLGETPROGRAMIVPROC GetProgramiv;
    PFNGLGETPROGRAMINFOLOGPROC GetProgramInfoLog;
    PFNGLACTIVETEXTUREPROC ActiveTexture;
};
ShaderEntryPoints gl2{};
bool entry_points_fetched = false;

int shaders_answer = 0;
bool shaders_answered = false;

GLuint menu_program = 0;
GLuint menu_texture = 0;
MenuTextureGeometry menu_geometry{};

constexpr float SHADER_VERSION = 2.0f;
// Half the band at full fade, as a share of the height, on a screen of this height/width.
constexpr double BAND_PER_ASPECT = 0.20909090909090908;
constexpr float BAND_MAX = 0.45f;

template <class F>
void fetch(F& slot, const char* name) {
    slot = reinterpret_cast<F>(gl_proc_address(name));
}

char* copy_of(const char* text) {
    char* out = nullptr;
    str_dup_into(&out, text);
    return out;
}

// Appends an info log to the error log, without its trailing line breaks.
void log_info(const char* what, const char* log) {
    std::string line = std::string(what) + ": " + log;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    error_log(line.c_str());
}

// The info log of one shader or of the program, and whether it failed to build.
struct BuildLog {
    const char* what;
    char* text;
    bool failed;
};

// Compiles and attaches one shader; its log and status go to log.
void build_stage(GLuint program, GLenum type, const char* source, const char* what,
                 BuildLog* log) {
    const GLuint shader = shader_compile(type, source);
    GLint ok = GL_FALSE;
    gl2.GetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    *log = BuildLog{what, shader_info_log(shader, 0), ok != GL_TRUE};
    gl2.AttachShader(program, shader);
}

// The band's quad at its own place: the copy's rows count from the bottom, overlay rows from
// the top.
void band_quad(const MenuBand& band, const MenuTextureGeometry& g, int w, int h, bool textured) {
    const float s0 = g.du, s1 = g.su + g.du;
    const float ta = band.a * g.sv + g.dv, tb = band.b * g.sv + g.dv;
    const float ya = h * band.a, yb = h * band.b;
    glBegin(GL_QUADS);
    if (textured) glTexCoord2f(s0, ta);
    glVertex2f(0.0f, yb);
    if (textured) glTexCoord2f(s1, ta);
    glVertex2f(static_cast<float>(w), yb);
    if (textured) glTexCoord2f(s1, tb);
    glVertex2f(static_cast<float>(w), ya);
    if (textured) glTexCoord2f(s0, tb);
    glVertex2f(0.0f, ya);
    glEnd();
}

void menu_text(const char* text, float scale, float y, uint32_t colour) {
    text_scale_x = text_scale_y = scale;
    text_draw(static_cast<int>(0.1f * screen_width / scale), static_cast<int>(y / scale), 0, text,
              colour);
    text_scale_x = text_scale_y = 1.0f;
}

// The title and the four lines over the band, "OPTIONS" in the highlight colour.
void menu_texts(const MenuBand& band, float fade) {
    const float line = text_line_height;
    const float h2 = static_cast<float>(screen_height / 2);
    const uint32_t grey = static_cast<uint32_t>(255.9f * fade) * 0x010101u;
    const uint32_t highlight = static_cast<uint32_t>(127.9f * fade) * 0x000102u;
    const float title_scale = band.th / 5.0f / line;
    const float line_scale = band.th / 10.0f / line;
    menu_text("Zibu", title_scale, h2 - 0.75f * band.th, grey);
    menu_text("START", line_scale, h2 - 0.25f * band.th, grey);
    menu_text("OPTIONS", line_scale, h2, highlight);
    menu_text("MALLARDS", line_scale, h2 + 0.25f * band.th, grey);
    menu_text("EXIT", line_scale, h2 + 0.5f * band.th, grey);
}

void menu_first_draw() {
    menu_program = menu_shader_source ? fragment_program(menu_shader_source, nullptr, nullptr) : 0;
    glGenTextures(1, &menu_texture);
    glBindTexture(GL_TEXTURE_2D, menu_texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    menu_geometry = menu_texture_geometry(screen_width, screen_height);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, menu_geometry.tex_w, menu_geometry.tex_h, 0, GL_RGB,
                 GL_UNSIGNED_BYTE, nullptr);
}

}  // namespace

float menu_fade_next(float fade, bool held, double frame_time) {
    if (held) return static_cast<float>(std::min(1.0, fade + (1.1 - fade) * 10.0 * frame_time));
    return static_cast<float>(std::max(0.0, fade - (fade + 0.1) * 10.0 * frame_time));
}

MenuBand menu_band(int width, int height, float fade) {
    MenuBand band;
    band.m = static_cast<float>(std::min<double>(BAND_MAX, BAND_PER_ASPECT /
                                                               (double(height) / width)));
    band.th = height * band.m;
    band.a = fade * (0.5f - band.m);
    band.b = 1.0f - band.a;
    return band;
}

MenuTextureGeometry menu_texture_geometry(int width, int height) {
    MenuTextureGeometry g;
    g.tex_w = 1;
    while (g.tex_w < width) g.tex_w *= 2;
    g.tex_h = 1;
    while (g.tex_h < height) g.tex_h *= 2;
    g.su = static_cast<float>(width) / g.tex_w;
    g.sv = static_cast<float>(height) / g.tex_h;
    g.du = 0.5f / g.tex_w;
    g.dv = 0.5f / g.tex_h;
    return g;
}

int shaders_available() {
    if (!shaders_answered) {
        shaders_answered = true;
        shaders_answer = gl_version() >= SHADER_VERSION;
        if (shaders_answer) shader_entry_points_load();
    }
    return shaders_answer;
}

void shader_entry_points_load() {
    if (entry_points_fetched) return;
    const float version = gl_version();
    if (version < SHADER_VERSION) {
        char message[100];
        std::snprintf(message, sizeof message,
                      "OpenGL version 2.0 or higher required for shaders; you have version %g",
                      version);
        fatal_error(message);
    }
    fetch(gl2.CreateShader, "glCreateShader");
    fetch(gl2.ShaderSource, "glShaderSource");
    fetch(gl2.CompileShader, "glCompileShader");
    fetch(gl2.CreateProgram, "glCreateProgram");
    fetch(gl2.AttachShader, "glAttachShader");
    fetch(gl2.LinkProgram, "glLinkProgram");
    fetch(gl2.UseProgram, "glUseProgram");
    fetch(gl2.GetUniformLocation, "glGetUniformLocation");
    fetch(gl2.Uniform1f, "glUniform1f");
    fetch(gl2.Uniform1i, "glUniform1i");
    fetch(gl2.GetShaderiv, "glGetShaderiv");
    fetch(gl2.GetShaderInfoLog, "glGetShaderInfoLog");
    fetch(gl2.GetProgramiv, "glGetProgramiv");
    fetch(gl2.GetProgramInfoLog, "glGetProgramInfoLog");
    fetch(gl2.ActiveTexture, "glActiveTexture");
    entry_points_fetched = true;
}

uint32_t shader_compile(uint32_t type, const char* source) {
    const GLuint shader = gl2.CreateShader(type);
    gl2.ShaderSource(shader, 1, &source, nullptr);
    gl2.CompileShader(shader);
    return shader;
}

char* shader_info_log(uint32_t object, int is_program) {
    GLint length = 0;
    if (is_program) {
        gl2.GetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    } else {
        gl2.GetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    }
    if (length <= 0) return copy_of("No information log");
    char* log = static_cast<char*>(checked_calloc(static_cast<size_t>(length) + 1, 1));
    if (is_program) {
        gl2.GetProgramInfoLog(object, length, nullptr, log);
    } else {
        gl2.GetShaderInfoLog(object, length, nullptr, log);
    }
    return log;
}

uint32_t shader_program_build(const char* vertex_source, const char* fragment_source,
                              char** vertex_log, char** fragment_log, char** program_log) {
    const GLuint program = gl2.CreateProgram();
    BuildLog logs[3] = {};
    char** outs[3] = {vertex_log, fragment_log, program_log};
    if (vertex_source) {
        build_stage(program, GL_VERTEX_SHADER, vertex_source, "vertex shader", &logs[0]);
    }
    if (fragment_source) {
        build_stage(program, GL_FRAGMENT_SHADER, fragment_source, "fragment shader", &logs[1]);
    }
    gl2.LinkProgram(program);
    GLint linked = GL_FALSE;
    gl2.GetProgramiv(program, GL_LINK_STATUS, &linked);
    logs[2] = BuildLog{"shader program", shader_info_log(program, 1), linked != GL_TRUE};

    const bool failed = logs[0].failed || logs[1].failed || logs[2].failed;
    for (int i = 0; i < 3; i++) {
        if (!logs[i].text) continue;
        if (failed) log_info(logs[i].what, logs[i].text);
        if (outs[i]) {
            *outs[i] = logs[i].text;
        } else {
            checked_free(logs[i].text);
        }
    }
    return failed ? 0 : program;
}

uint32_t fragment_program(const char* fragment_source, char** fragment_log, char** program_log) {
    if (!shaders_available()) return 0;
    return shader_program_build(nullptr, fragment_source, nullptr, fragment_log, program_log);
}

void title_menu_draw(float fade) {
    const int w = screen_width, h = screen_height;
    if (menu_texture == 0) {
        menu_first_draw();
    } else {
        glBindTexture(GL_TEXTURE_2D, menu_texture);
    }
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, w, h);
    glClear(GL_COLOR_BUFFER_BIT);

    const MenuBand band = menu_band(w, h, fade);
    overlay_begin();
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    if (menu_program) {
        gl2.UseProgram(menu_program);
        gl2.Uniform1i(gl2.GetUniformLocation(menu_program, "tex"), 0);
        gl2.Uniform1f(gl2.GetUniformLocation(menu_program, "frac"), fade);
        glColor3f(1.0f, 1.0f, 1.0f);
    } else {
        const float grey = 1.0f - 0.3f * fade;
        glColor3f(grey, grey, grey);
    }
    band_quad(band, menu_geometry, w, h, true);
    if (menu_program) gl2.UseProgram(0);
    glDisable(GL_TEXTURE_2D);
    if (!menu_program) {
        // Without the shader: the darkened band gets its blue added.
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        glColor3f(0.0f, 0.0f, 0.3f * fade);
        band_quad(band, menu_geometry, w, h, false);
        glDisable(GL_BLEND);
    }
    glEnable(GL_LIGHTING);
    overlay_end();
    // Text drawing sets up its own overlay mode; outside this one the projection stack needs
    // no third level, and the pixels are the same.
    menu_texts(band, fade);
}

void title_menu_forget() {
    if (menu_texture) glDeleteTextures(1, &menu_texture);
    menu_texture = 0;
    menu_program = 0;
}
