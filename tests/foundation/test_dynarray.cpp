#include <gtest/gtest.h>

#include <vector>

#include "foundation/dynarray.h"

namespace {

using Ints = std::vector<int>;

Ints contents(const DynArray* a) {
    const int* p = DynArray_items<int>(a);
    return Ints(p, p + a->count);
}

DynArray ints(std::initializer_list<int> values) {
    DynArray a;
    DynArray_init_of<int>(&a);
    for (int v : values) DynArray_push_value(&a, v);
    return a;
}

}  // namespace

TEST(DynArray, GrowsAndShrinksWithHysteresisKeepingElementsAndTheMinimum) {
    DynArray a = ints({});
    std::vector<uint32_t> capacities{a.capacity};
    for (int i = 0; i < 40; i++) {
        EXPECT_EQ(DynArray_push_value(&a, i * 7), static_cast<uint32_t>(i));
        if (a.capacity != capacities.back()) capacities.push_back(a.capacity);
    }
    EXPECT_EQ(capacities, (std::vector<uint32_t>{1, 2, 3, 5, 7, 10, 13, 17, 22, 28, 36, 46}));
    for (int i = 0; i < 40; i++) EXPECT_EQ(DynArray_at<int>(&a, i), i * 7);
    DynArray_free(a);
    DynArray b = ints({1, 2, 3, 4, 5});
    DynArray_remove(&b, 4), DynArray_remove(&b, 3);
    EXPECT_EQ(b.capacity, 5u) << "3 of 5 is exactly 60 %: no shrink";
    DynArray_remove(&b, 2);
    EXPECT_EQ(b.capacity, 2u);
    DynArray_free(b);
    DynArray c;  // emptied, it stops at its minimum with the storage still usable
    DynArray_init_sized(&c, sizeof(int), 4, 0);
    for (int i = 0; i < 20; i++) DynArray_push_value(&c, i);
    while (c.count) DynArray_remove(&c, 0);
    for (int v : {9, 8, 7, 6}) DynArray_push_value(&c, v);
    EXPECT_EQ(contents(&c), (Ints{9, 8, 7, 6}));
    EXPECT_EQ(c.capacity, 4u);
    DynArray_free(c);
}

TEST(DynArray, RemovalOrderFindAndOutOfRangeIndices) {
    DynArray a = ints({10, 20, 30});
    for (uint32_t i : {0u, 2u, 1000u}) DynArray_remove(&a, i);
    EXPECT_EQ(contents(&a), (Ints{30, 20})) << "the last moves into the hole";
    DynArray_free(a);
    DynArray b = ints({10, 20, 30, 40, 50});
    DynArray_remove_ordered(&b, 1), DynArray_remove_ordered(&b, 4);
    EXPECT_EQ(contents(&b), (Ints{10, 30, 40, 50}));
    DynArray_free(b);
    DynArray f = ints({5, 7, 5, 9});
    int five = 5, missing = 6;
    EXPECT_EQ(DynArray_find(&f, &five), 2) << "the higher of two equal elements";
    EXPECT_EQ(DynArray_find(&f, &missing), -1);
    DynArray_remove_value(&f, &five), DynArray_remove_value(&f, &missing);
    EXPECT_EQ(contents(&f), (Ints{5, 7, 9}));
    DynArray_free(f);
}

TEST(DynArray, TrackedVariableFollowsEveryMoveAndAPushedOwnElementSurvivesGrowth) {
    DynArray a = ints({});
    int* view = nullptr;
    DynArray_track(&a, &view);
    EXPECT_EQ(view, a.data) << "set at once";
    for (int i = 0; i < 30; i++) {
        DynArray_push_value(&a, i);
        ASSERT_EQ(view, a.data);
    }
    while (a.count > 2) {
        DynArray_remove(&a, 0);
        ASSERT_EQ(view, a.data);
    }
    DynArray_clear(&a);
    EXPECT_EQ(view, a.data);
    DynArray_free(a);
    EXPECT_EQ(view, nullptr);
    DynArray b = ints({42, 43});
    DynArray_push(&b, &DynArray_at<int>(&b, 0));  // storage moves during this push
    EXPECT_EQ(contents(&b), (Ints{42, 43, 42}));
    DynArray_free(b);
}
