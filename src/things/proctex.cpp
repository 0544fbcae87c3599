#include "things/proctex.h"

#include <cmath>

#include "foundation/memory.h"
#include "foundation/random.h"
#include "platform/opengl.h"
#include "platform/text.h"
#include "platform/texture.h"
#include "platform/window.h"

namespace {

constexpr double two_pi = 6.283185307179586476925286766559;

bool power_of_two(uint32_t n) { return (n & (n - 1)) == 0; }

// Drawn a third of the way across and down the screen.
void draw_bad_length(const char* message) {
    text_draw(screen_width / 3, screen_height / 3, 0, message, 0x00000C);
}

uint32_t reverse_bits(uint32_t i, uint32_t bits) {
    uint32_t r = 0;
    for (uint32_t b = 0; b < bits; b++) {
        r = (r << 1) | (i & 1);
        i >>= 1;
    }
    return r;
}

}  // namespace

const char* const fft_bad_length_message =
    "Some moron called this with a non-power-of-two-sized array";
void (*fft_bad_length_report)(const char* message) = draw_bad_length;

void fft(uint32_t n, int inverse, const double* in_re, const double* in_im, double* out_re,
         double* out_im) {
    if (!power_of_two(n)) {
        fft_bad_length_report(fft_bad_length_message);
        return;
    }
    uint32_t bits = 0;
    if (n >= 2) {
        while (!((n >> bits) & 1)) bits++;
    }
    for (uint32_t i = 0; i < n; i++) {
        uint32_t j = reverse_bits(i, bits);
        out_re[j] = in_re[i];
        out_im[j] = in_im ? in_im[i] : 0.0;
    }

    double theta = inverse ? two_pi : -two_pi;
    for (uint32_t half = 1; half < n; half *= 2) {
        const uint32_t block = 2 * half;
        const double s2 = std::sin(theta), c2 = std::cos(theta);
        theta /= 2;
        const double s1 = std::sin(theta), c1 = std::cos(theta);
        const double w = 2 * c1;
        for (uint32_t b = 0; b < n; b += block) {
            // The twiddle of butterfly m is e^(i m theta), stepped by the recurrence
            // x(m) = 2 cos(theta) x(m-1) - x(m-2), seeded with its values at m = -1, -2.
            double a1 = c1, a2 = c2;
            double b1 = -s1, b2 = -s2;
            for (uint32_t m = 0; m < half; m++) {
                const uint32_t j = b + m, k = j + half;
                const double ar = w * a1 - a2;
                a2 = a1;
                a1 = ar;
                const double ai = w * b1 - b2;
                b2 = b1;
                b1 = ai;
                const double tr = ar * out_re[k] - ai * out_im[k];
                const double ti = ar * out_im[k] + ai * out_re[k];
                out_re[k] = out_re[j] - tr;
                out_im[k] = out_im[j] - ti;
                out_re[j] += tr;
                out_im[j] += ti;
            }
        }
    }

    if (inverse) {
        const double scale = 1.0 / n;
        for (uint32_t i = 0; i < n; i++) {
            out_re[i] *= scale;
            out_im[i] *= scale;
        }
    }
}

void fft2d(int32_t rows, int32_t columns, int inverse, const DMatrix in_re, const DMatrix in_im,
           DMatrix out_re, DMatrix out_im) {
    // Checked up front: a row pass that wrote nothing would leave the column
    // pass reading uninitialised grids.
    if (rows < 0 || columns < 0 || !power_of_two(uint32_t(rows)) ||
        !power_of_two(uint32_t(columns))) {
        fft_bad_length_report(fft_bad_length_message);
        return;
    }
    DMatrix t_re = dmatrix_alloc(rows, columns);
    DMatrix t_im = dmatrix_alloc(rows, columns);
    for (int32_t r = rows - 1; r >= 0; r--) {
        fft(uint32_t(columns), inverse, in_re[r], in_im ? in_im[r] : nullptr, t_re[r], t_im[r]);
    }
    const std::size_t count = std::size_t(rows);
    double* g_re = static_cast<double*>(checked_malloc_array(count, sizeof(double)));
    double* g_im = static_cast<double*>(checked_malloc_array(count, sizeof(double)));
    double* f_re = static_cast<double*>(checked_malloc_array(count, sizeof(double)));
    double* f_im = static_cast<double*>(checked_malloc_array(count, sizeof(double)));
    for (int32_t c = columns - 1; c >= 0; c--) {
        for (int32_t r = 0; r < rows; r++) {
            g_re[r] = t_re[r][c];
            g_im[r] = t_im[r][c];
        }
        fft(uint32_t(rows), inverse, g_re, g_im, f_re, f_im);
        for (int32_t r = 0; r < rows; r++) {
            out_re[r][c] = f_re[r];
            out_im[r][c] = f_im[r];
        }
    }
    checked_free(g_re);
    checked_free(g_im);
    checked_free(f_re);
    checked_free(f_im);
    dmatrix_free(t_re);
    dmatrix_free(t_im);
}

GaussianPair gaussian_pair() {
    const double u = random_real(1.0);
    // The offset keeps the logarithm away from 0.
    const double r = std::sqrt(2.0 * std::fabs(std::log(u + 1e-20)));
    const double phi = random_real(two_pi);
    return GaussianPair{r * std::cos(phi), r * std::sin(phi)};
}

unsigned char* smoke_texture_image(int32_t n) {
    const int32_t h = n / 2;
    DMatrix s_re = dmatrix_alloc(n, n);
    DMatrix s_im = dmatrix_alloc(n, n);
    DMatrix r_re = dmatrix_alloc(n, n);
    DMatrix r_im = dmatrix_alloc(n, n);

    // Random spectrum with amplitude 1/k^2 over signed frequencies -h .. h-1.
    for (int32_t i = 0; i < n; i++) {
        for (int32_t j = 0; j < n; j++) {
            const double fi = ((i + h) % n) - h;
            const double fj = ((j + h) % n) - h;
            const double k2 = fi * fi + fj * fj;
            const double amplitude = (i == 0 && j == 0) ? 0.0 : 1.0 / k2;
            const GaussianPair g = gaussian_pair();
            s_re[i][j] = amplitude * g.a;
            s_im[i][j] = amplitude * g.b;
            r_re[i][j] = 0.0;  // stays blank should the transform refuse the size
            r_im[i][j] = 0.0;
        }
    }
    fft2d(n, n, 0, s_re, s_im, r_re, r_im);
    dmatrix_free(s_re);
    dmatrix_free(s_im);
    dmatrix_free(r_im);

    double peak = 0.0;
    for (int32_t i = 0; i < n; i++) {
        for (int32_t j = 0; j < n; j++) peak = std::fmax(peak, r_re[i][j]);
    }

    unsigned char* image = static_cast<unsigned char*>(
        checked_malloc_array(std::size_t(n) * std::size_t(n), 4));
    for (int32_t i = n - 1; i >= 0; i--) {
        for (int32_t j = n - 1; j >= 0; j--) {
            // An all-negative field (or a one-texel image) is simply transparent.
            const double v = peak > 0.0 ? std::fmax(0.0, r_re[i][j]) / peak : 0.0;
            const double d2 = double(i - h) * (i - h) + double(j - h) * (j - h);
            const double fade = h > 0 ? std::fmax(0.0, 1.0 - d2 / (double(h) * h)) : 0.0;
            unsigned char* texel = image + (std::size_t(j) * n + i) * 4;
            texel[0] = texel[1] = texel[2] = 255;
            texel[3] = static_cast<unsigned char>(255.9 * v * fade);
        }
    }
    dmatrix_free(r_re);
    return image;
}

unsigned smoke_texture(int32_t n) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    unsigned char* image = smoke_texture_image(n);
    upload_mipmapped(GL_TEXTURE_2D, 4, n, n, image);
    checked_free(image);
    return name;
}
