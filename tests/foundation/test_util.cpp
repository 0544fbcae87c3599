#include <gtest/gtest.h>

#include <cstdlib>

#include "foundation/dmatrix.h"
#include "foundation/memory.h"
#include "foundation/util.h"

TEST(Util, NextPow2) {
    EXPECT_EQ(next_pow2(0), 0u);
    EXPECT_EQ(next_pow2(1), 1u);
    EXPECT_EQ(next_pow2(3), 4u);
    EXPECT_EQ(next_pow2(5), 8u);
    EXPECT_EQ(next_pow2(64), 64u);
    EXPECT_EQ(next_pow2(65), 128u);
    EXPECT_EQ(next_pow2(0x40000001u), 0x80000000u);
}

TEST(Util, CharactersAndClamps) {
    EXPECT_EQ(to_lower('Q'), 'q');
    EXPECT_EQ(to_lower('['), '[');
    EXPECT_EQ(to_lower('@'), '@');
    EXPECT_EQ(to_lower(static_cast<char>(0xC4)), -60);
    EXPECT_EQ(byte_value(static_cast<char>(0xFF)), 255);
    EXPECT_EQ(byte_value('A'), 65);
    EXPECT_EQ(pos_i(-3), 0);
    EXPECT_EQ(pos_d(-0.5), 0.0);
    EXPECT_EQ(max_u(3000000000u, 2u), 3000000000u);
    EXPECT_EQ(max_i(-5, -7), -5);
}

TEST(Util, StringCopies) {
    char* s = nullptr;
    EXPECT_EQ(str_dup_into(&s, "hello"), 5u);
    EXPECT_STREQ(s, "hello");
    EXPECT_EQ(str_replace(&s, "hi"), 2u);
    EXPECT_STREQ(s, "hi");
    // Replacing a string by itself must not read the freed copy.
    EXPECT_EQ(str_replace(&s, s), 2u);
    EXPECT_STREQ(s, "hi");
    checked_free(s);

    char* t = nullptr;
    EXPECT_EQ(str_replace(&t, ""), 0u);
    EXPECT_STREQ(t, "");
    checked_free(t);
}

TEST(DMatrix, RowsAreIndependentAndCountsSitAheadOfTheHandle) {
    DMatrix m = dmatrix_alloc(3, 5);
    EXPECT_EQ(dmatrix_rows(m), 3);
    EXPECT_EQ(dmatrix_columns(m), 5);
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 5; j++) m[i][j] = i * 10 + j;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 5; j++) EXPECT_EQ(m[i][j], i * 10 + j);
    dmatrix_free(m);

    DMatrix empty = dmatrix_alloc(0, 4);
    EXPECT_EQ(dmatrix_rows(empty), 0);
    dmatrix_free(empty);
}

TEST(Memory, ZeroSizedBlocksAreValid) {
    void* p = checked_malloc(0);
    EXPECT_NE(p, nullptr);
    p = checked_realloc(p, 0);
    EXPECT_NE(p, nullptr);
    checked_free(p);
    void* q = checked_calloc(0, 8);
    EXPECT_NE(q, nullptr);
    checked_free(q);
}

TEST(MemoryDeathTest, FailureEndsWithStatusOneThroughTheHandler) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(fatal("Something broke"), testing::ExitedWithCode(1), "Something broke");
    // Overflowing sizes are caught before reaching the system allocator.
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
