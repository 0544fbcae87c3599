#include <gtest/gtest.h>

#include <vector>

#include "foundation/dynarray.h"

namespace {

std::vector<int> contents(const DynArray* a) {
    const int* p = DynArray_items<int>(a);
    return std::vector<int>(p, p + a->count);
}

void push_all(DynArray* a, std::initializer_list<int> values) {
    for (int v : values) DynArray_push_value(a, v);
}

}  // namespace

TEST(DynArray, GrowsThroughTheHysteresisSequenceKeepingElements) {
    DynArray a;
    DynArray_init_of<int>(&a);
    std::vector<uint32_t> capacities{a.capacity};
    for (int i = 0; i < 40; i++) {
        EXPECT_EQ(DynArray_push_value(&a, i * 7), static_cast<uint32_t>(i));
        if (a.capacity != capacities.back()) capacities.push_back(a.capacity);
    }
    EXPECT_EQ(capacities, (std::vector<uint32_t>{1, 2, 3, 5, 7, 10, 13, 17, 22, 28, 36, 46}));
    for (int i = 0; i < 40; i++) EXPECT_EQ(DynArray_at<int>(&a, i), i * 7);
    DynArray_free(a);
}

TEST(DynArray, ShrinksOnlyBelowTheFillThresholdAndNeverUnderTheMinimum) {
    DynArray a;
    DynArray_init_of<int>(&a);
    push_all(&a, {1, 2, 3, 4, 5});
    ASSERT_EQ(a.capacity, 5u);
    DynArray_remove(&a, 4);
    DynArray_remove(&a, 3);
    EXPECT_EQ(a.capacity, 5u) << "3 of 5 is exactly 60 %: no shrink";
    DynArray_remove(&a, 2);
    EXPECT_EQ(a.capacity, 2u);
    EXPECT_EQ(contents(&a), (std::vector<int>{1, 2}));
    DynArray_free(a);

    DynArray b;
    DynArray_init_of<int>(&b);
    push_all(&b, {1, 2, 3});
    DynArray_remove(&b, 0);
    DynArray_remove(&b, 0);
    EXPECT_EQ(b.capacity, 1u) << "1 of 3";
    DynArray_free(b);

    // Emptying stops at the minimum capacity with storage still usable.
    DynArray c;
    DynArray_init_sized(&c, sizeof(int), 4, 0);
    for (int i = 0; i < 20; i++) DynArray_push_value(&c, i);
    while (c.count) DynArray_remove(&c, 0);
    EXPECT_EQ(c.capacity, 4u);
    ASSERT_NE(c.data, nullptr);
    push_all(&c, {9, 8, 7, 6});
    EXPECT_EQ(contents(&c), (std::vector<int>{9, 8, 7, 6}));
    EXPECT_EQ(c.capacity, 4u);
    DynArray_free(c);
}

TEST(DynArray, RemovalOrderAndOutOfRangeIndices) {
    DynArray a;
    DynArray_init_of<int>(&a);
    push_all(&a, {10, 20, 30});
    DynArray_remove(&a, 0);
    EXPECT_EQ(contents(&a), (std::vector<int>{30, 20}));
    DynArray_remove(&a, 1);
    EXPECT_EQ(contents(&a), (std::vector<int>{30}));
    uint32_t capacity = a.capacity;
    DynArray_remove(&a, 1);
    DynArray_remove(&a, 1000);
    EXPECT_EQ(contents(&a), (std::vector<int>{30}));
    EXPECT_EQ(a.capacity, capacity);
    DynArray_free(a);

    DynArray b;
    DynArray_init_of<int>(&b);
    push_all(&b, {10, 20, 30, 40, 50});
    DynArray_remove_ordered(&b, 1);
    EXPECT_EQ(contents(&b), (std::vector<int>{10, 30, 40, 50}));
    DynArray_remove_ordered(&b, 3);
    DynArray_remove_ordered(&b, 3);
    EXPECT_EQ(contents(&b), (std::vector<int>{10, 30, 40}));
    DynArray_free(b);
}

TEST(DynArray, TrackedVariableFollowsEveryMove) {
    DynArray a;
    DynArray_init_of<int>(&a);
    int* view = nullptr;
    EXPECT_EQ(DynArray_track(&a, &view), nullptr);
    EXPECT_EQ(view, a.data) << "set at once";
    for (int i = 0; i < 30; i++) {
        DynArray_push_value(&a, i);
        ASSERT_EQ(view, a.data);
        EXPECT_EQ(view[i], i);
    }
    while (a.count > 2) {
        DynArray_remove(&a, 0);
        ASSERT_EQ(view, a.data);
    }
    DynArray_clear(&a);
    EXPECT_EQ(view, a.data);
    EXPECT_EQ(a.count, 0u);
    EXPECT_EQ(a.capacity, a.min_capacity);

    int* other = nullptr;
    EXPECT_EQ(DynArray_track(&a, &other), static_cast<void*>(&view));
    DynArray_free(a);
    EXPECT_EQ(other, nullptr);
    EXPECT_NE(view, nullptr) << "no longer tracked";
}

TEST(DynArray, FindPrefersTheHighestMatch) {
    DynArray a;
    DynArray_init_of<int>(&a);
    push_all(&a, {5, 7, 5, 9});
    int five = 5, missing = 6;
    EXPECT_EQ(DynArray_find(&a, &five), 2);
    EXPECT_EQ(DynArray_find(&a, &missing), -1);
    DynArray_remove_value(&a, &five);
    EXPECT_EQ(contents(&a), (std::vector<int>{5, 7, 9}));
    DynArray_remove_value(&a, &missing);
    EXPECT_EQ(a.count, 3u);
    DynArray_free(a);
}

TEST(DynArray, PushOfItsOwnElementSurvivesGrowth) {
    DynArray a;
    DynArray_init_of<int>(&a);
    push_all(&a, {42, 43});
    ASSERT_EQ(a.count, a.capacity);
    DynArray_push(&a, &DynArray_at<int>(&a, 0));  // storage moves during this push
    EXPECT_EQ(contents(&a), (std::vector<int>{42, 43, 42}));
    DynArray_free(a);
}

TEST(DynArray, SizedInitAndSort) {
    DynArray a;
    DynArray_init_sized(&a, sizeof(int), 4, 1);
    EXPECT_EQ(a.count, 4u);
    for (int i = 0; i < 4; i++) DynArray_at<int>(&a, i) = 4 - i;
    DynArray_sort(&a, [](const void* x, const void* y) {
        return *static_cast<const int*>(x) - *static_cast<const int*>(y);
    });
    EXPECT_EQ(contents(&a), (std::vector<int>{1, 2, 3, 4}));
    DynArray_free(a);
}
