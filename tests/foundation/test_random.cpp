#include <gtest/gtest.h>

#include <set>

#include "foundation/random.h"

// Scripted runs replay only if the sequence and the draws per call never change.
TEST(Random, KnownSequenceRangesAndTwoDrawsPerCall) {
    zibu_rand_reset();
    for (int v : {41, 18467, 6334, 26500}) EXPECT_EQ(zibu_rand(), v);
    zibu_rand_reset();
    EXPECT_DOUBLE_EQ(random_real(10.0), (18467 + 41 / 32768.0) / 32768.0 * 10.0);  // high part second
    EXPECT_EQ(random_int(-3), 0);
    EXPECT_EQ(zibu_rand(), 19169) << "random_int draws twice even for an empty range";
    for (int n : {1, 0, INT32_MIN}) EXPECT_EQ(random_int(n), 0) << n;
    std::set<int> seen;
    for (int i = 0; i < 600; i++) seen.insert(random_int(6));
    EXPECT_EQ(seen, (std::set<int>{0, 1, 2, 3, 4, 5}));
    int big = random_int(INT32_MAX);
    EXPECT_TRUE(big >= 0 && big < INT32_MAX);
}
