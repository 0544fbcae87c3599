#include <gtest/gtest.h>

#include "app/scenario.h"
#include "things/asteroid.h"
#include "things/dendrite.h"

namespace {

struct Options : testing::Test {
    void SetUp() override { options_init(&list); }
    void TearDown() override { options_free(&list); }
    DynArray list;
};

}  // namespace

TEST_F(Options, NamesDifferingOnlyInLetterCaseAreTheSameOption) {
    option_default(&list, "X size", "50");
    option_default(&list, "X SIZE", "7");
    option_default(&list, "x size", "8");
    option_default(&list, "X siz", "9");  // a shorter name is another option
    ASSERT_EQ(list.count, 2u);
    EXPECT_STREQ(option_find(&list, "X size"), "50");
}

TEST_F(Options, KeysMatchTheStartOfNamesWithoutRegardToCase) {
    option_default(&list, "X size", "50");
    option_default(&list, "Density of solute", "0.05");
    EXPECT_STREQ(option_find(&list, "x"), "50");
    EXPECT_STREQ(option_find(&list, "Density"), "0.05");
    EXPECT_STREQ(option_find(&list, "DENSITY OF SOLUTE"), "0.05");
    EXPECT_EQ(option_find(&list, "X sizf"), nullptr);   // differs in one more letter
    EXPECT_EQ(option_find(&list, "X size2"), nullptr);  // runs past the name
    EXPECT_STREQ(option_find(&list, ""), "0.05");        // any name; the latest first
}

TEST_F(Options, LaterOfTwoMatchingOptionsWins) {
    option_default(&list, "Speed", "1");
    option_default(&list, "Spin", "2");
    EXPECT_STREQ(option_find(&list, "sp"), "2");
    EXPECT_STREQ(option_find(&list, "spe"), "1");
}

TEST(Scenario, WorldGetsTheDefaultBoxAndOneAsteroid) {
    VNode* world = World_create(0, 0, 0, nullptr);
    scene_populate(world);
    ASSERT_EQ(VNode_child_count(world), 2u);
    const Dendrite* box = static_cast<const Dendrite*>(VNode_child(world, 0));
    ASSERT_EQ(box->type, &dendrite_type);
    EXPECT_EQ(box->size_x, 50);
    EXPECT_EQ(box->size_z, 50);
    EXPECT_EQ(box->solute.count, 6251u);
    // The box keeps the shared identity frame: its cells are world coordinates.
    EXPECT_EQ(box->frame, frame_shared_identity());
    EXPECT_EQ(box->parent, world);
    const VNode* rock = VNode_child(world, 1);
    ASSERT_EQ(rock->type, &asteroid_type);
    EXPECT_EQ(rock->bound.radius, 1.2);
    EXPECT_EQ(rock->world_centre.y, 15.0);
    VNode_destroy(world);
}
