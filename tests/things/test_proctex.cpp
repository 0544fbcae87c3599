// Fourier transforms, Gaussian deviates and the cloud sprite.
#include "foundation/memory.h"
#include "foundation/random.h"
#include "things/proctex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

std::vector<std::string> reports;
void capture_report(const char* message) { reports.emplace_back(message); }

class Fft : public ::testing::Test {
protected:
    void SetUp() override {
        reports.clear();
        saved_ = fft_bad_length_report;
        fft_bad_length_report = capture_report;
    }
    void TearDown() override { fft_bad_length_report = saved_; }

private:
    void (*saved_)(const char*) = nullptr;
};

TEST_F(Fft, LengthOneCopiesAndImpulseGivesOnes) {
    double re = 2.5, im = -1.0, out_re = 0, out_im = 0;
    fft(1, 0, &re, &im, &out_re, &out_im);
    EXPECT_EQ(out_re, 2.5);
    EXPECT_EQ(out_im, -1.0);

    std::vector<double> x(16, 0.0), o_re(16), o_im(16);
    x[0] = 1.0;
    fft(16, 0, x.data(), nullptr, o_re.data(), o_im.data());
    for (int i = 0; i < 16; i++) {
        EXPECT_NEAR(o_re[i], 1.0, 1e-12) << i;
        EXPECT_NEAR(o_im[i], 0.0, 1e-12) << i;
    }
}

TEST_F(Fft, MatchesTheDirectSumWithANegativeExponentForward) {
    const uint32_t n = 32;
    std::vector<double> re(n), im(n), o_re(n), o_im(n);
    for (uint32_t t = 0; t < n; t++) {
        re[t] = std::sin(0.7 * t) + 0.1 * t;
        im[t] = std::cos(1.3 * t * t);
    }
    fft(n, 0, re.data(), im.data(), o_re.data(), o_im.data());
    for (uint32_t f = 0; f < n; f++) {
        std::complex<double> sum = 0;
        for (uint32_t t = 0; t < n; t++) {
            sum += std::complex<double>(re[t], im[t]) * std::polar(1.0, -2 * pi * t * f / n);
        }
        EXPECT_NEAR(o_re[f], sum.real(), 1e-9) << f;
        EXPECT_NEAR(o_im[f], sum.imag(), 1e-9) << f;
    }
}

TEST_F(Fft, InverseUndoesForward) {
    const uint32_t n = 256;
    std::vector<double> re(n), im(n), f_re(n), f_im(n), b_re(n), b_im(n);
    zibu_rand_reset();
    for (uint32_t i = 0; i < n; i++) {
        re[i] = random_real(2.0) - 1;
        im[i] = random_real(2.0) - 1;
    }
    fft(n, 0, re.data(), im.data(), f_re.data(), f_im.data());
    fft(n, 1, f_re.data(), f_im.data(), b_re.data(), b_im.data());
    for (uint32_t i = 0; i < n; i++) {
        EXPECT_NEAR(b_re[i], re[i], 1e-12);
        EXPECT_NEAR(b_im[i], im[i], 1e-12);
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Fft, LengthNotAPowerOfTwoWritesNothingAndSaysSo) {
    std::vector<double> in(6, 1.0), o_re(6, 7.0), o_im(6, 7.0);
    fft(6, 0, in.data(), nullptr, o_re.data(), o_im.data());
    EXPECT_EQ(o_re, std::vector<double>(6, 7.0));
    EXPECT_EQ(o_im, std::vector<double>(6, 7.0));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "Some moron called this with a non-power-of-two-sized array");

    // The grid form refuses before its row pass leaves anything half-made.
    DMatrix g = dmatrix_alloc(4, 6), o = dmatrix_alloc(4, 6), oi = dmatrix_alloc(4, 6);
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 6; c++) g[r][c] = o[r][c] = oi[r][c] = 3.0;
    fft2d(4, 6, 0, g, nullptr, o, oi);
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_EQ(o[3][5], 3.0);
    EXPECT_EQ(oi[0][0], 3.0);
    dmatrix_free(g);
    dmatrix_free(o);
    dmatrix_free(oi);
}

TEST_F(Fft, GridTransformPutsAPlaneWaveInItsCell) {
    // e^(2 pi i (2 r / 8 + 3 c / 4)) over 8 rows and 4 columns: all its energy lands at
    // row frequency 2, column frequency 3, and nowhere else.
    const int rows = 8, cols = 4;
    DMatrix re = dmatrix_alloc(rows, cols), im = dmatrix_alloc(rows, cols);
    DMatrix o_re = dmatrix_alloc(rows, cols), o_im = dmatrix_alloc(rows, cols);
    for (int r = 0; r < rows; r++) {
        for (int c = 0; c < cols; c++) {
            const double a = 2 * pi * (2.0 * r / rows + 3.0 * c / cols);
            re[r][c] = std::cos(a);
            im[r][c] = std::sin(a);
        }
    }
    fft2d(rows, cols, 0, re, im, o_re, o_im);
    for (int r = 0; r < rows; r++) {
        for (int c = 0; c < cols; c++) {
            const double expect = (r == 2 && c == 3) ? rows * cols : 0.0;
            EXPECT_NEAR(o_re[r][c], expect, 1e-9) << r << "," << c;
            EXPECT_NEAR(o_im[r][c], 0.0, 1e-9) << r << "," << c;
        }
    }
    dmatrix_free(re);
    dmatrix_free(im);
    dmatrix_free(o_re);
    dmatrix_free(o_im);
}

TEST(GaussianPair, StandardNormalMoments) {
    zibu_rand_reset();
    const int n = 20000;
    double sum = 0, sum2 = 0, cross = 0;
    for (int i = 0; i < n; i++) {
        const GaussianPair g = gaussian_pair();
        ASSERT_TRUE(std::isfinite(g.a) && std::isfinite(g.b));
        sum += g.a + g.b;
        sum2 += g.a * g.a + g.b * g.b;
        cross += g.a * g.b;
    }
    EXPECT_NEAR(sum / (2 * n), 0.0, 0.03);
    EXPECT_NEAR(sum2 / (2 * n), 1.0, 0.03);
    EXPECT_NEAR(cross / n, 0.0, 0.03);
}

TEST(SmokeImage, WhiteCloudUnderACentredFade) {
    zibu_rand_reset();
    const int n = 64, h = n / 2;
    unsigned char* image = smoke_texture_image(n);
    int lit = 0, at_envelope = 0;
    for (int row = 0; row < n; row++) {
        for (int col = 0; col < n; col++) {
            const unsigned char* t = image + (row * n + col) * 4;
            ASSERT_EQ(t[0], 255);
            ASSERT_EQ(t[1], 255);
            ASSERT_EQ(t[2], 255);
            // The normalised noise never exceeds 1, so the opacity stays under the fade,
            // which is 1 at the centre and 0 from distance h outwards.
            const int d2 = (row - h) * (row - h) + (col - h) * (col - h);
            const double fade = d2 >= h * h ? 0.0 : 1.0 - double(d2) / (h * h);
            const int envelope = int(255.9 * fade);
            ASSERT_LE(t[3], envelope) << row << "," << col;
            if (t[3] > 0) lit++;
            if (t[3] > 0 && t[3] >= envelope - 1) at_envelope++;
        }
    }
    // Positive-only noise shows over a fair share of the disc, and the peak of the field
    // reaches the envelope.
    EXPECT_GT(lit, n * n / 8);
    EXPECT_GE(at_envelope, 1);
    checked_free(image);
}

}  // namespace
