#include "platform/screenshot.h"

#include "foundation/memory.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "platform/window.h"

#include <cmath>
#include <cstdio>

namespace {

void put16(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

}  // namespace

int bmp_row_size(int width) { return (3 * width + 3) / 4 * 4; }

void bmp_header(unsigned char out[54], int width, int height) {
    const uint32_t image = static_cast<uint32_t>(bmp_row_size(width)) * static_cast<uint32_t>(height);
    out[0] = 'B';
    out[1] = 'M';
    put32(out + 2, 54 + image);
    put16(out + 6, 0);
    put16(out + 8, 0);
    put32(out + 10, 54);
    put32(out + 14, 40);
    put32(out + 18, static_cast<uint32_t>(width));
    put32(out + 22, static_cast<uint32_t>(height));
    put16(out + 26, 1);
    put16(out + 28, 24);
    put32(out + 30, 0);
    put32(out + 34, image);
    put32(out + 38, 2834);
    put32(out + 42, 2834);
    put32(out + 46, 0);
    put32(out + 50, 0);
}

int screenshot_number(double seconds) {
    // Truncate, then fold: a double keeps the count exact long past any clock reading.
    double steps = std::trunc(seconds / 0.3);
    int n = static_cast<int>(std::fmod(steps, double(SCREENSHOT_NUMBERS)));
    return n < 0 ? -n : n;
}

void screenshot_file_name(int number, char out[32]) {
    std::snprintf(out, 32, "screenshot%05d.bmp", number);
}

namespace {

// Writes the header and the pixels of the rectangle; false when a write failed.
bool write_bmp(std::FILE* f, int x, int y, int w, int h) {
    unsigned char header[54];
    bmp_header(header, w, h);
    bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header;

    const size_t size = static_cast<size_t>(bmp_row_size(w)) * static_cast<size_t>(h);
    unsigned char* rows = static_cast<unsigned char*>(checked_calloc(size, 1));
    // OpenGL delivers the bottom row first, which is the order BMP stores.
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(x, screen_height - (y + h), w, h, GL_BGR_EXT, GL_UNSIGNED_BYTE, rows);
    ok = ok && std::fwrite(rows, 1, size, f) == size;
    checked_free(rows);
    return ok;
}

// Closes the file; one that could not be written whole (a full disk) is removed rather than
// left as a broken picture.
void finish_bmp(std::FILE* f, const char* name, bool written, int convert) {
    written = std::fclose(f) == 0 && written;
    if (!written) {
        std::remove(name);
        return;
    }
    if (convert) run_converter(name);
}

}  // namespace

void screenshot() {
    if (screen_width <= 0 || screen_height <= 0) return;
    // Two screenshots within one step of the clock would get the same number: an earlier
    // picture is never overwritten, the next free number is taken instead.
    int n = screenshot_number(clock_seconds());
    for (int tries = 0; tries < SCREENSHOT_NUMBERS; ++tries, n = (n + 1) % SCREENSHOT_NUMBERS) {
        char name[32];
        screenshot_file_name(n, name);
        bool taken = false;
        if (std::FILE* f = create_new_file(name, &taken)) {
            finish_bmp(f, name, write_bmp(f, 0, 0, screen_width, screen_height), 1);
            return;
        }
        if (!taken) return;  // an unwritable folder and the like: no picture, the game goes on
    }
}

void save_screen_bmp(const char* name, int convert) {
    write_screen_bmp(0, 0, screen_width, screen_height, name, convert);
}

void write_screen_bmp(int x, int y, int w, int h, const char* name, int convert) {
    if (w <= 0 || h <= 0) return;
    std::FILE* f = std::fopen(name, "wb");
    if (!f) return;
    finish_bmp(f, name, write_bmp(f, x, y, w, h), convert);
}
