#include "foundation/memory.h"
#include "things/proctex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;
int reports = 0;

TEST(Fft, AgreesWithTheDirectSumAndInvertsIt) {
    double one = 2.5, out_re = 0, out_im = 0;
    fft(1, 0, &one, nullptr, &out_re, &out_im);
    EXPECT_EQ(out_re, 2.5);
    const uint32_t n = 32;
    std::vector<double> re(n, 0.0), im(n), f_re(n), f_im(n), b_re(n), b_im(n);
    re[0] = 1.0;  // a unit impulse (no imaginary part given) transforms to all ones
    fft(n, 0, re.data(), nullptr, f_re.data(), f_im.data());
    for (uint32_t f = 0; f < n; f++) EXPECT_NEAR(f_re[f], 1.0, 1e-12);
    for (uint32_t t = 0; t < n; t++) re[t] = std::sin(0.7 * t) + 0.1 * t, im[t] = std::cos(1.3 * t * t);
    fft(n, 0, re.data(), im.data(), f_re.data(), f_im.data());
    for (uint32_t f = 0; f < n; f++) {
        std::complex<double> sum = 0;  // forward kernel e^(-2 pi i t f / n)
        for (uint32_t t = 0; t < n; t++) sum += std::complex<double>(re[t], im[t]) * std::polar(1.0, -2 * pi * t * f / n);
        EXPECT_NEAR(std::abs(std::complex<double>(f_re[f], f_im[f]) - sum), 0.0, 1e-9) << f;
    }
    fft(n, 1, f_re.data(), f_im.data(), b_re.data(), b_im.data());
    for (uint32_t t = 0; t < n; t++) EXPECT_NEAR(std::hypot(b_re[t] - re[t], b_im[t] - im[t]), 0, 1e-12);
}

TEST(Fft, LengthNotAPowerOfTwoWritesNothingAndSaysSo) {
    auto saved = fft_bad_length_report;
    fft_bad_length_report = [](const char*) { reports++; };
    std::vector<double> in(6, 1.0), out(6, 7.0);
    fft(6, 0, in.data(), nullptr, out.data(), out.data());
    EXPECT_EQ(out, std::vector<double>(6, 7.0));
    EXPECT_EQ(reports, 1);
    // The grid form refuses before its row pass could leave the columns unset.
    DMatrix g = dmatrix_alloc(4, 6);
    g[3][5] = 3.0;
    fft2d(4, 6, 0, g, nullptr, g, g);
    EXPECT_EQ(g[3][5], 3.0);
    EXPECT_EQ(reports, 2);
    dmatrix_free(g);
    fft_bad_length_report = saved;
}

}  // namespace
