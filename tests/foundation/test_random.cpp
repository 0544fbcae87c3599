#include <gtest/gtest.h>

#include <set>

#include "foundation/random.h"

TEST(Random, GeneratorAndRealFollowTheKnownSequence) {
    zibu_rand_reset();
    const int expected[] = {41, 18467, 6334, 26500, 19169, 15724};
    for (int v : expected) EXPECT_EQ(zibu_rand(), v);
    zibu_rand_reset();
    // The second draw is the high part.
    EXPECT_DOUBLE_EQ(random_real(1.0), (18467 + 41 / 32768.0) / 32768.0);
    EXPECT_DOUBLE_EQ(random_real(10.0), (26500 + 6334 / 32768.0) / 32768.0 * 10.0);
}

TEST(Random, IntStaysInRangeAndAlwaysDrawsTwice) {
    zibu_rand_reset();
    for (int i = 0; i < 100; i++) EXPECT_EQ(random_int(1), 0);
    EXPECT_EQ(random_int(0), 0);
    EXPECT_EQ(random_int(-5), 0);
    EXPECT_EQ(random_int(INT32_MIN), 0);

    zibu_rand_reset();
    random_int(-3);
    EXPECT_EQ(zibu_rand(), 6334);

    std::set<int> seen;
    for (int i = 0; i < 600; i++) seen.insert(random_int(6));
    EXPECT_EQ(seen, (std::set<int>{0, 1, 2, 3, 4, 5}));
    int big = random_int(INT32_MAX);
    EXPECT_TRUE(big >= 0 && big < INT32_MAX);
}
