#include <array>

#include "app/main_loop.h"
#include "app/ship.h"
#include "foundation/camera.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "scene/advance.h"
#include "support/game_state.h"
#include "support/gl_context.h"
#include "things/bullet.h"

// Anything that is not a Ship: an asteroid, a dendrite box.
const ThingType rock_type = {"rock", sizeof(Thing), nullptr, nullptr, nullptr, nullptr};

// A spent bullet leaves the tree, once, whoever reports it again in the same pass.
using Bullets = WorldTest<>;
TEST_F(Bullets, SideRuleInAllFourCombinationsWithTheTallies) {
    Ship* ship = ship_create(0, 0, 0, world);
    Thing* rock = VNode_create_thing(&rock_type, world);
    Ship* other_ship = ship_create(50, 0, 0, world);
    const struct { const char* what; bool ship_fired; VNode* target; int counts; double score; int hits, misses, streak; } cases[] = {
        {"ship's bullet on a rock", true, rock, 1, 7.5, 1, 0, 3},
        {"ship's bullet on a ship", true, other_ship, 0, 0.0, 0, 1, 0},
        {"rock's bullet on a ship", false, other_ship, 1, 0.0, 0, 0, 2},
        {"rock's bullet on a rock", false, rock, 0, 0.0, 0, 0, 2},
    };
    VNode* rock2 = VNode_create_thing(&rock_type, world);
    for (const auto& c : cases) {
        ship->score = 0.0, ship->hits = ship->misses = 0, ship->streak = 2;
        Bullet* b = bullet_create(0, 0, 0, 0, 0, 0, c.ship_fired ? static_cast<VNode*>(ship) : rock2, world);
        b->owner = nullptr;
        VNode_begin_deferral();  // as inside the collision pass
        EXPECT_EQ(bullet_hit(b, c.target, 7.5), c.counts) << c.what;
        EXPECT_TRUE(b->spent) << c.what;
        // Reported again from the other side or by a second target in the same pass.
        EXPECT_EQ(bullet_hit(b, rock, 7.5), 0) << c.what;
        EXPECT_EQ(bullet_fizzle(b), 0) << c.what;
        EXPECT_TRUE(children_of(world, &bullet_type).empty()) << c.what;
        VNode_end_deferral();
        EXPECT_EQ(ship->score, c.score) << c.what;
        EXPECT_EQ((std::array{ship->hits, ship->misses, ship->streak}), (std::array{c.hits, c.misses, c.streak})) << c.what;
    }
}

// The streak glows in its side's colour (green for the ship's, red for the others) and leaves
// the depth mask and blending as it found them.
using BulletDrawing = WorldTest<GlTest>;
TEST_F(BulletDrawing, GlowsInTheColoursOfItsSide) {
    Ship* ship = ship_create(0, 0, 0, world);
    const Mat4 identity = mat4_identity();
    frame_time = 0.02;
    for (bool ship_side : {true, false}) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        camera_from_frame(&identity);
        const std::string before = gl_test_state();
        // Crossing the view at 50 units/s with the viewer at 45: a short streak.
        viewer_velocity = Vec3{45, 0, 0};
        bullet_plot(bullet_create(0, 0, -2, 50, 0, 0, ship_side ? static_cast<VNode*>(ship) : nullptr, world));
        const unsigned centre = gl_test_pixel(GL_TEST_WIDTH / 2, GL_TEST_HEIGHT / 2);
        const int strong = ship_side ? 8 : 16, weak = ship_side ? 0 : 8;
        EXPECT_GT((centre >> strong) & 0xFF, 0xC0u) << std::hex << centre;
        EXPECT_LT((centre >> weak) & 0xFF, 0x40u) << std::hex << centre;
        EXPECT_EQ(gl_test_pixel(GL_TEST_WIDTH / 2, GL_TEST_HEIGHT / 2 + 60), 0u);
        EXPECT_EQ(gl_test_state(), before);
    }
    frame_time = 0.0, viewer_velocity = Vec3{0, 0, 0};
}
