#include <array>

#include "app/ship.h"
#include "foundation/random.h"
#include "support/game_state.h"
#include "support/gl_context.h"
#include "things/bullet.h"
#include "things/dendrite.h"
#include "things/splode.h"

namespace {

// Puts the generator where the next random_int(7) gives move m.
void next_move_will_be(int m) {
    uint32_t state = 1;
    while (zibu_rand_reset(state), random_int(7) != m) state++;
    zibu_rand_reset(state);
}

void only_particle_at(Dendrite* d, int16_t x, int16_t y, int16_t z) {
    DynArray_clear(&d->solute);
    DynArray_push_value(&d->solute, CellPos{x, y, z});
}

constexpr int PLUS_X = 1;

template <class F>
void for_each_cell(const Dendrite* d, F f) {
    for (int x = 0; x < d->size_x; x++)
        for (int y = 0; y < d->size_y; y++)
            for (int z = 0; z < d->size_z; z++) f(x, y, z);
}

// Faces of crystal cells whose neighbour is empty or outside, counted from the grid, against
// the faces the drawing lists when it keeps those turned away from the eye as well.
void expect_drawing_lists_every_open_face(Dendrite* d) {
    uint32_t open = 0;
    for_each_cell(d, [&](int x, int y, int z) {
        if (dendrite_cell(d, x, y, z))
            open += !dendrite_cell(d, x - 1, y, z) + !dendrite_cell(d, x + 1, y, z) + !dendrite_cell(d, x, y - 1, z) +
                    !dendrite_cell(d, x, y + 1, z) + !dendrite_cell(d, x, y, z - 1) + !dendrite_cell(d, x, y, z + 1);
    });
    for (FaceChoice all : {FaceChoice::all_nearest_first, FaceChoice::all_as_listed}) {
        dendrite_faces_update(d, Vec3{0.5, 0.5, 0.5}, all);
        EXPECT_EQ(d->drawing.faces, open);
    }
}

struct Box : testing::Test {
    void TearDown() override {
        if (box) VNode_destroy(box);
        zibu_rand_reset();
    }
    Dendrite* box = nullptr;
};

}  // namespace

TEST_F(Box, OneCellBoxSticksEveryParticleToTheSeedAtOnce) {
    box = dendrite_create(1, 1, 1, 3.0, nullptr);
    EXPECT_EQ(box->solute.count, 4u);
    dendrite_advance(box, 0.02);
    EXPECT_TRUE(box->solute.count == 0 && box->crystal.count == 1 && dendrite_cell(box, 0, 0, 0) == 1);
}

TEST_F(Box, StepOffTheEdgeWrapsButNothingAttachesAcrossTheWrap) {
    box = dendrite_create(5, 5, 5, 0.0, nullptr);
    crystallise(box, 4, 2, 2, 7);  // on the far face
    only_particle_at(box, 4, 2, 2);
    next_move_will_be(PLUS_X);
    dendrite_advance(box, 0.02);
    ASSERT_EQ(box->solute.count, 1u);
    const CellPos p = DynArray_at<CellPos>(&box->solute, 0);
    EXPECT_TRUE(p.x == 0 && p.y == 2) << p.x << " " << p.y;
    EXPECT_EQ(box->crystal.count, 2u);
    EXPECT_EQ(dendrite_cell(box, 0, 2, 2), 0);
}

TEST_F(Box, GrowthKeepsGridAndCrystalListInStep) {
    box = dendrite_create(12, 12, 12, 0.3, nullptr);
    const uint32_t particles = box->solute.count;
    for (int i = 0; i < 300; i++) dendrite_advance(box, 0.02);
    // Every particle that left the solute stuck, though some stuck on the crystal itself.
    EXPECT_LT(box->solute.count, particles);
    EXPECT_GT(box->crystal.count, 10u);
    uint32_t filled = 0;
    for_each_cell(box, [&](int x, int y, int z) { filled += dendrite_cell(box, x, y, z) != 0; });
    EXPECT_EQ(filled, box->crystal.count);
    const CellPos* c = DynArray_items<CellPos>(&box->crystal);
    for (uint32_t i = 1; i < box->crystal.count; i++) EXPECT_GE(dendrite_cell(box, c[i].x, c[i].y, c[i].z), 2);
    expect_drawing_lists_every_open_face(box);
}

// Chipping needs the explosion sprite, so a context.
class Chipping : public WorldTest<GlTest> {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        ship = ship_create(100, 100, 100, world);
        box = dendrite_create(10, 10, 10, 0.0, nullptr);
        crystallise(box, 1, 5, 5, 3), crystallise(box, 3, 5, 5, 4);
    }
    void TearDown() override { VNode_destroy(box), WorldTest::TearDown(); }
    // A bullet that flew from a to b during the last frame meets the box.
    Bullet* fly(Vec3 a, Vec3 b, VNode* firer) {
        Bullet* bullet = bullet_create(b.x, b.y, b.z, 50, 0, 0, firer, world);
        bullet->start_centre = a;
        VNode_begin_deferral();
        dendrite_collide(box, bullet);
        VNode_end_deferral();
        return bullet;
    }
    Ship* ship = nullptr;
    Dendrite* box = nullptr;
};

// Misses, grazing shots and bullets without a firing ship leave the crystal whole; a bullet
// crossing several cells removes only the first, scores one and leaves one explosion in the
// struck cell's colour.
TEST_F(Chipping, BulletCrossingSeveralCellsRemovesOnlyTheFirstAndScoresOne) {
    Bullet* grazing = fly(Vec3{0.5, 0.5, 0.5}, Vec3{9.5, 0.5, 0.5}, ship);
    EXPECT_FALSE(grazing->spent);
    VNode_remove(grazing);
    fly(Vec3{1.5, 5.5, 5.5}, Vec3{1.6, 5.5, 5.5}, nullptr);
    EXPECT_EQ(dendrite_cell(box, 1, 5, 5), 3);
    EXPECT_EQ(ship->score, 0.0);
    crystallise(box, 1, 6, 5, 4);  // above the first cell: it gains a face when that goes
    const uint32_t children = VNode_child_count(world);
    fly(Vec3{1.5, 5.5, 5.5}, Vec3{9.5, 5.5, 5.5}, ship);  // samples at x 1.5, 3.1, 4.7 ...
    EXPECT_EQ((std::array<int, 3>{dendrite_cell(box, 1, 5, 5), dendrite_cell(box, 3, 5, 5), dendrite_cell(box, 5, 5, 5)}),
              (std::array<int, 3>{0, 4, 1}));
    EXPECT_EQ(box->crystal.count, 3u);
    EXPECT_TRUE(ship->score == 1.0 && ship->hits == 1) << ship->score << " " << ship->hits;
    expect_drawing_lists_every_open_face(box);
    ASSERT_EQ(VNode_child_count(world), children + 1);
    const VNode* last = VNode_child(world, children);
    ASSERT_EQ(last->type, &splode_type);
    float r, g, b;
    dendrite_colour(box, 3, &r, &g, &b);
    const Splode* e = static_cast<const Splode*>(last);
    EXPECT_EQ(e->particles[0].colour[0], static_cast<uint8_t>(255.9f * r));
    EXPECT_NEAR(e->world_centre.x, 1.5, 1e-12);
}
