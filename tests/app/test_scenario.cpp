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

// Names differing only in letter case are one option; a key matches the start of a name
// without regard to case, the latest option first.
TEST_F(Options, KeysMatchTheStartOfNamesWithoutRegardToCaseTheLatestFirst) {
    for (const char* name : {"X size", "X SIZE", "x size"}) option_default(&list, name, name);
    option_default(&list, "X siz", "9");  // a shorter name is another option
    option_default(&list, "Density of solute", "0.05");
    option_default(&list, "Speed", "1");
    option_default(&list, "Spin", "2");
    ASSERT_EQ(list.count, 5u);
    const struct {
        const char* key;
        const char* value;
    } cases[] = {{"X size", "X size"}, {"x", "9"}, {"DENSITY OF SOLUTE", "0.05"}, {"sp", "2"},
                 {"spe", "1"},         {"", "2"},  {"X sizf", nullptr},        {"X size2", nullptr}};
    for (const auto& c : cases) {
        const char* found = option_find(&list, c.key);
        EXPECT_STREQ(found, c.value) << '"' << c.key << '"';
    }
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
