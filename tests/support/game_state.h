#pragma once
// Game-wide state that tests set and must put back: the keys, and a world of the test's own
// whose nodes must all be gone again once it is destroyed.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/window.h"
#include "scene/vnode.h"

// No key down, now or at the frame before.
inline void clear_keys() {
    std::memset(key_state, 0, sizeof key_state);
    std::memset(key_state_before, 0, sizeof key_state_before);
}

// The node's children of the given type (of any type without one), in slot order.
inline std::vector<VNode*> children_of(const VNode* node, const ThingType* type = nullptr) {
    std::vector<VNode*> out;
    for (uint32_t i = 0; i < VNode_child_count(node); i++) {
        VNode* child = VNode_child(node, i);
        if (!type || child->type == type) out.push_back(child);
    }
    return out;
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
