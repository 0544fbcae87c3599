#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "foundation/memory.h"
#include "foundation/util.h"

TEST(Util, PowersOfTwoAndAStringReplacedByItself) {
    for (auto [in, out] : {std::pair{0u, 0u}, {1u, 1u}, {3u, 4u}, {5u, 8u}, {64u, 64u}, {65u, 128u}, {0x40000001u, 0x80000000u}})
        EXPECT_EQ(next_pow2(in), out) << in;
    char* s = nullptr;
    str_dup_into(&s, "hello");
    EXPECT_EQ(str_replace(&s, "hi"), 2u);
    EXPECT_EQ(str_replace(&s, s), 2u);  // must not read the freed copy
    EXPECT_STREQ(s, "hi");
    checked_free(s);
}

// Units in the last place between two doubles of one sign.
int64_t ulps_apart(double a, double b) {
    const int64_t x = std::bit_cast<int64_t>(a), y = std::bit_cast<int64_t>(b);
    return x > y ? x - y : y - x;
}

// Arguments where the C runtimes differ and one rounds the wrong way (replays of the two
// builds drifted apart): the correctly rounded values.
TEST(Util, PortableSineCosineAndExpAreCorrectlyRounded) {
    const struct { double x, sin_x, cos_x; } turns[] = {
        {0x1.7ac6aa57b7f35p+1, 0x1.737f41adf2ce9p-3, -0x1.f7818e3d68767p-1},
        {0x1.74895d1c7d854p+1, 0x1.d5312f1dc0e81p-3, -0x1.f261ef2c147d3p-1},
        {-0x1.458a79f695f84p+0, -0x1.e942a994a8f1fp-1, 0x1.2dc879b1137d5p-2},
        {0x1.389bf34883628p+1, 0x1.49940ef623fbdp-1, -0x1.87d1a855aff01p-1},
        {-M_PI / 2, -1.0, 0x1.1a62633145c07p-54},
        {0x1p-30, 0x1p-30, 1.0},
    };
    double s = 0, c = 0;
    for (const auto& t : turns) {
        portable_sincos(t.x, &s, &c);
        EXPECT_EQ(s, t.sin_x) << std::hexfloat << t.x;
        EXPECT_EQ(c, t.cos_x) << std::hexfloat << t.x;
    }
    for (auto [x, exp_x] : {std::pair{-0x1.5de1c5eb5064ap+1, 0x1.0a37ada04e498p-4}, {0x1.29b06ade83b6p+1, 0x1.477b51fe717cdp+3},
                            {1000.0, HUGE_VAL}, {-1000.0, 0.0}})
        EXPECT_EQ(portable_exp(x), exp_x) << std::hexfloat << x;
    for (int i = -2000; i <= 2000; i++) {  // within one ulp of the runtime's own elsewhere
        portable_sincos(i * 0.01234567, &s, &c);
        EXPECT_LE(ulps_apart(s, std::sin(i * 0.01234567)), 1) << i;
        EXPECT_LE(ulps_apart(c, std::cos(i * 0.01234567)), 1) << i;
        EXPECT_LE(ulps_apart(portable_exp(i * 0.35), std::exp(i * 0.35)), 1) << i;
    }
}

TEST(MemoryDeathTest, FailureEndsWithStatusOneThroughTheHandler) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(fatal("Something broke"), testing::ExitedWithCode(1), "Something broke");
    // Overflowing sizes are caught before they reach the system allocator.
    EXPECT_EXIT(checked_calloc(SIZE_MAX / 2, 4), testing::ExitedWithCode(1), "Out of memory");
    EXPECT_EXIT(checked_malloc_array(SIZE_MAX / 2, 4), testing::ExitedWithCode(1), "Out of memory");
    EXPECT_EXIT(
        {
            set_fatal_handler([](const char* message) {
                std::fprintf(stderr, "handled: %s\n", message);
                std::exit(7);
            });
            fatal("boom");
        },
        testing::ExitedWithCode(7), "handled: boom");
    EXPECT_EXIT(  // a handler that returns still ends the process with status 1
        {
            set_fatal_handler([](const char*) {});
            fatal("ignored");
        },
        testing::ExitedWithCode(1), "");
}
