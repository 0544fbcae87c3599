#pragma once
// Game-wide state that tests set and must put back: the keys, and a world of the test's own
// whose nodes must all be gone again once it is destroyed.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/window.h"
#include "scene/vnode.h"

// No key down, now or at the frame before.
inline void clear_keys() {
    std::memset(key_state, 0, sizeof key_state);
    std::memset(key_state_before, 0, sizeof key_state_before);
}

// A fresh world for each test, on Base's fixture; destroying it takes every node made since,
// each exactly once.
template <class Base = ::testing::Test>
class WorldTest : public Base {
protected:
    void SetUp() override {
        Base::SetUp();
        nodes_before = total_nodes;
        world = World_create(0, 0, 0, nullptr);
    }
    void TearDown() override {
        VNode_destroy(world);
        EXPECT_EQ(total_nodes, nodes_before) << "every node destroyed exactly once";
        Base::TearDown();
    }
    uint32_t nodes_before = 0;
    VNode* world = nullptr;
};
