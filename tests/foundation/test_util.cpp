#include <gtest/gtest.h>

#include <cstdlib>

#include "foundation/dmatrix.h"
#include "foundation/memory.h"
#include "foundation/util.h"

TEST(Util, PowersOfTwoAndBytes) {
    const uint32_t in[] = {0, 1, 3, 5, 64, 65, 0x40000001u};
    const uint32_t out[] = {0, 1, 4, 8, 64, 128, 0x80000000u};
    for (int i = 0; i < 7; i++) EXPECT_EQ(next_pow2(in[i]), out[i]) << in[i];
    EXPECT_EQ(to_lower('Q'), 'q');
    EXPECT_EQ(to_lower('['), '[');
    EXPECT_EQ(to_lower(static_cast<char>(0xC4)), -60);
    EXPECT_EQ(byte_value(static_cast<char>(0xFF)), 255);
}

TEST(Util, StringCopiesIncludingReplacingAStringByItself) {
    char* s = nullptr;
    EXPECT_EQ(str_dup_into(&s, "hello"), 5u);
    EXPECT_EQ(str_replace(&s, "hi"), 2u);
    EXPECT_STREQ(s, "hi");
    EXPECT_EQ(str_replace(&s, s), 2u);  // must not read the freed copy
    EXPECT_STREQ(s, "hi");
    checked_free(s);
}

TEST(DMatrix, RowsAreIndependentAndCountsSitAheadOfTheHandle) {
    DMatrix m = dmatrix_alloc(3, 5);
    EXPECT_EQ(dmatrix_rows(m), 3);
    EXPECT_EQ(dmatrix_columns(m), 5);
    for (int k = 0; k < 15; k++) m[k / 5][k % 5] = k;
    for (int k = 0; k < 15; k++) EXPECT_EQ(m[k / 5][k % 5], k);
    dmatrix_free(m);
    dmatrix_free(dmatrix_alloc(0, 4));
}

TEST(MemoryDeathTest, FailureEndsWithStatusOneThroughTheHandler) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    void* empty = checked_malloc(0);
    EXPECT_NE(empty, nullptr);
    checked_free(empty);
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
    // A handler that returns still ends the process with status 1.
    EXPECT_EXIT(
        {
            set_fatal_handler([](const char*) {});
            fatal("ignored");
        },
        testing::ExitedWithCode(1), "");
}
