#include <gtest/gtest.h>

#include <set>

#include "foundation/random.h"

TEST(Random, GeneratorStartsWithTheKnownSequence) {
    zibu_rand_reset();
    const int expected[] = {41, 18467, 6334, 26500, 19169, 15724};
    for (int v : expected) EXPECT_EQ(zibu_rand(), v);
}

TEST(Random, RealTakesTheSecondDrawAsTheHighPart) {
    zibu_rand_reset();
    EXPECT_DOUBLE_EQ(random_real(1.0), (18467 + 41 / 32768.0) / 32768.0);
    EXPECT_DOUBLE_EQ(random_real(10.0), (26500 + 6334 / 32768.0) / 32768.0 * 10.0);
}

TEST(Random, IntStaysInRangeAndConsumesTwoDraws) {
    zibu_rand_reset();
    for (int i = 0; i < 100; i++) EXPECT_EQ(random_int(1), 0);
    EXPECT_EQ(random_int(0), 0);
    EXPECT_EQ(random_int(-5), 0);
    EXPECT_EQ(random_int(INT32_MIN), 0);

    zibu_rand_reset();
    random_int(-3);
    zibu_rand_reset(1);
    zibu_rand();
    zibu_rand();
    int after_two = zibu_rand();
    zibu_rand_reset();
    random_int(-3);
    EXPECT_EQ(zibu_rand(), after_two);

    std::set<int> seen;
    for (int i = 0; i < 600; i++) {
        int r = random_int(6);
        ASSERT_GE(r, 0);
        ASSERT_LT(r, 6);
        seen.insert(r);
    }
    EXPECT_EQ(seen.size(), 6u);
    int big = random_int(INT32_MAX);
    EXPECT_GE(big, 0);
    EXPECT_LT(big, INT32_MAX);
}
