// The things that fly and burst: bullets and what they strike (asteroids that bounce and split,
// ships, the side rule's tallies), smoke puffs and explosions (their particles, life and
// sprites); and what things draw with: the Fourier transform behind the procedural textures,
// the vector shapes (the graph of groups, every kind drawn with soft edges).
#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <vector>

#include "app/main_loop.h"
#include "app/ship.h"
#include "foundation/camera.h"
#include "foundation/memory.h"
#include "foundation/random.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "scene/advance.h"
#include "support/game_state.h"
#include "support/gl_context.h"
#include "things/asteroid.h"
#include "things/bullet.h"
#include "things/proctex.h"
#include "things/shapes.h"
#include "things/smoke.h"
#include "things/splode.h"

namespace {

Vec3 position(const VNode* n) {
    return Vec3{n->frame->current.m[12], n->frame->current.m[13], n->frame->current.m[14]};
}

Thing* rock(double x, double y, double z, double r, Vec3 v, VNode* parent = nullptr) {
    Thing* a = asteroid_create(x, y, z, r, parent);
    a->velocity = v;
    return a;
}

// Anything that is not a Ship: an asteroid, a dendrite box.
const ThingType rock_type = {"rock", sizeof(Thing), nullptr, nullptr, nullptr, nullptr};

// A world with the ship whose bullets score, on a context (hits need the explosion sprite).
class ShipWorld : public WorldTest<GlTest> {
protected:
    void SetUp() override { WorldTest::SetUp(), ship = ship_create(100, 100, 100, world); }
    Ship* ship = nullptr;
};

// Coincident centres give no direction (no division by zero); a node without velocity or one
// borrowing its frame (pushing it would drag the frame's owner along) is left alone.
TEST(SphereBounce, LeavesCoincidentCentresAndThingsWithoutVelocityOrOwnFrameAlone) {
    Thing* a = rock(0.5, 0, 0, 1.0, Vec3{1, 0, 0});
    Thing* same = rock(0.5, 0, 0, 1.0, Vec3{-1, 0, 0});
    VNode* plain = VNode_create(&bubble_type, nullptr);
    VNode_take_frame(plain, nullptr);
    plain->bound.radius = 1.0;
    Thing* borrowed = VNode_create_thing(&asteroid_type, nullptr);
    borrowed->bound.radius = 1.0;
    sphere_bounce(a, same);
    sphere_bounce(a, plain);
    sphere_bounce(borrowed, a);
    EXPECT_TRUE(a->velocity.x == 1.0 && same->velocity.x == -1.0);
    EXPECT_TRUE(position(a).x == 0.5 && position(same).x == 0.5);
    EXPECT_EQ(frame_shared_identity()->current.m[12], 0.0);
    for (VNode* n : std::initializer_list<VNode*>{a, same, plain, borrowed}) VNode_destroy(n);
}

// A pair already moving apart still exchanges the along-centres parts once, and each is pushed
// out by the whole overlap; seen again in the same pass, nothing happens.
TEST(SphereBounce, OverlappingPairMovingApartStillExchangesAndIsPushedOutByTheWholeOverlap) {
    Thing* a = rock(0, 0, 0, 1.0, Vec3{-1, 0.25, 0});
    Thing* b = rock(1.5, 0, 0, 1.0, Vec3{1, 0, -0.5});
    sphere_bounce(a, b);
    for (int pass = 0; pass < 2; pass++) {
        if (pass == 1) sphere_bounce(b, a);  // the same pair again: nothing happens
        EXPECT_DOUBLE_EQ(a->velocity.x, 1.0);
        EXPECT_DOUBLE_EQ(b->velocity.x, -1.0);
        EXPECT_TRUE(a->velocity.y == 0.25 && b->velocity.z == -0.5);
        EXPECT_DOUBLE_EQ(position(a).x, -0.5);
        EXPECT_DOUBLE_EQ(position(b).x, 2.0);
    }
    VNode_destroy(a), VNode_destroy(b);
}

// A bullet without a firing ship fizzles and leaves the asteroid whole; the ship's bullets
// break it into at most 16 pieces over 31 scoring hits.
using AsteroidHit = ShipWorld;
TEST_F(AsteroidHit, ForeignBulletFizzlesAndOneAsteroidYieldsAtMost16PiecesAnd31Hits) {
    const auto shoot = [&](Thing* asteroid, VNode* firer) {  // during a collision pass
        const Vec3 c = asteroid->world_centre;
        Bullet* b = bullet_create(c.x, c.y, c.z, 0, 0, -50, firer, world);
        VNode_begin_deferral();
        asteroid_collide(asteroid, b);
        if (!b->spent) VNode_remove(b);
        VNode_end_deferral();
    };
    const auto asteroids = [&] { return children_of(world, &asteroid_type); };
    Thing* a = rock(5, 15, 15, 1.2, Vec3{0, 0, 0}, world);
    const uint32_t before = total_nodes;
    shoot(a, nullptr);
    EXPECT_EQ(a->bound.radius, 1.2);
    EXPECT_EQ(total_nodes, before);  // the bullet is gone and nothing was added
    size_t most = 0;
    for (int round = 0; round < 10 && !asteroids().empty(); round++) {
        for (VNode* piece : asteroids()) shoot(static_cast<Thing*>(piece), ship);
        most = std::max(most, asteroids().size());
    }
    EXPECT_TRUE(asteroids().empty());
    EXPECT_EQ(most, 16u);
    EXPECT_EQ(ship->hits, 31);
    EXPECT_EQ(ship->score, 15 * 5.0 + 16 * 10.0);
}

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
using BulletDrawing = ShipWorld;
TEST_F(BulletDrawing, GlowsInTheColoursOfItsSide) {
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

// A late plot must not wrap round to opaque; the puff goes at four seconds.
using SmokeThing = WorldTest<>;
TEST_F(SmokeThing, FadesGrowsTravelsAndGoesAtFourSeconds) {
    Smoke* s = smoke_create(0, 0, 0, 10, 1.0f, 2.0f, world);
    s->velocity = Vec3{1, 0, -2};
    VNode_advance_tree(world, 1.0);
    EXPECT_DOUBLE_EQ(s->bound.radius, 3.0);  // 2 * 1 + sqrt(1) * 1
    EXPECT_FALSE(vec3_differs(s->world_centre, Vec3{1, 0, -2}));
    s->age = 9.0f;
    EXPECT_EQ(smoke_alpha(s), 0);
    s->age = 3.99f;
    VNode_advance_tree(world, 0.005);
    EXPECT_EQ(VNode_child_count(world), 1u);
    VNode_advance_tree(world, 0.005);
    EXPECT_EQ(VNode_child_count(world), 0u);
}

// Negative speed makes a shell, positive a ball; zero speed is a shell of radius 0, not a
// division by zero.
using SplodeThing = WorldTest<>;
TEST_F(SplodeThing, SpeedsMakeAShellOrABallAndZeroIsStill) {
    zibu_rand_reset();
    Splode* shell = splode_create(0, 0, 0, 0, 0, 0, 400, 0.5f, -2.0f, 7, world);
    Splode* ball = splode_create(0, 0, 0, 0, 0, 0, 400, 0.5f, 2.0f, 7, world);
    float lo = 9, hi = 0;
    for (int i = 0; i < 400; i++) {
        ASSERT_NEAR(vec3f_len(shell->particles[i].drift), 2.0f, 1e-5f) << i;
        lo = std::fmin(lo, vec3f_len(ball->particles[i].drift));
        hi = std::fmax(hi, vec3f_len(ball->particles[i].drift));
    }
    EXPECT_TRUE(lo < 0.6f && hi > 1.9f && hi <= 2.0f + 1e-5f) << lo << " " << hi;
    Splode* still = splode_create(0, 0, 0, 0, 0, 0, 50, 0.5f, 0.0f, 7, world);
    for (int i = 0; i < 50; i++) ASSERT_EQ(vec3f_len(still->particles[i].drift), 0.0f);
}

// An odd size pads the sprite's rows to 4 bytes for the upload: row 1 starts at byte 12.
TEST(SplodeImage, OddSizePadsItsRows) {
    unsigned char* odd = splode_texture_image(3, 0, 0, 0xFF0000);
    EXPECT_EQ(odd[12 + 3], 0xFF);
    checked_free(odd);
}

long red_sum() {
    long sum = 0;
    const auto px = gl_test_pixels(GL_TEST_WIDTH / 2 - 100, GL_TEST_HEIGHT / 2 - 100, 200, 200);
    for (std::size_t i = 0; i < px.size(); i += 3) sum += px[i];
    return sum;
}

// Both leave the depth mask, blending and texturing as they found them; an explosion that
// owns its texture deletes it when it goes.
using ParticleDrawing = WorldTest<GlTest>;
TEST_F(ParticleDrawing, SmokeDarkensExplosionsLightAndOwnedTexturesGo) {
    camera_read_back();
    glTranslatef(0, 0, -4);
    const std::string before = gl_test_state();
    Smoke* s = smoke_create(0, 0, 0, 10, 1.0f, 2.0f, world);
    s->age = 0.25f;
    glClearColor(1, 1, 1, 1), glClear(GL_COLOR_BUFFER_BIT), glClearColor(0, 0, 0, 1);
    smoke_plot(s);
    EXPECT_LT(red_sum(), 255L * 200 * 200);
    const unsigned tex = splode_texture(32, 0x8080FF, 0x00FF80, 0xFFFFFF);
    Splode* e = splode_create(0, 0, 0, 0, 0, 0, 20, 0.5f, 5.0f, tex, world);
    e->flash = e->owns_texture = 1, e->age = 0.1f;
    glClear(GL_COLOR_BUFFER_BIT), splode_plot(e);
    EXPECT_GT(red_sum(), 0L);
    EXPECT_EQ(gl_test_state(), before);
    VNode_remove(e);
    EXPECT_FALSE(glIsTexture(tex));
}

constexpr double pi = 3.14159265358979323846;
int reports = 0;

TEST(Fft, AgreesWithTheDirectSumAndInvertsIt) {
    double one = 2.5, out_re = 0, out_im = 0;
    fft(1, 0, &one, nullptr, &out_re, &out_im);
    EXPECT_EQ(out_re, 2.5);
    const uint32_t n = 32;
    std::vector<double> re(n, 0.0), im(n), f_re(n), f_im(n), b_re(n), b_im(n);
    re[0] = 1.0;  // a unit impulse (no imaginary part given) transforms to all ones
    fft(n, 0, re.data(), nullptr, f_re.data(), f_im.data());
    for (uint32_t f = 0; f < n; f++) EXPECT_NEAR(f_re[f], 1.0, 1e-12);
    for (uint32_t t = 0; t < n; t++) re[t] = std::sin(0.7 * t) + 0.1 * t, im[t] = std::cos(1.3 * t * t);
    fft(n, 0, re.data(), im.data(), f_re.data(), f_im.data());
    for (uint32_t f = 0; f < n; f++) {
        std::complex<double> sum = 0;  // forward kernel e^(-2 pi i t f / n)
        for (uint32_t t = 0; t < n; t++) sum += std::complex<double>(re[t], im[t]) * std::polar(1.0, -2 * pi * t * f / n);
        EXPECT_NEAR(std::abs(std::complex<double>(f_re[f], f_im[f]) - sum), 0.0, 1e-9) << f;
    }
    fft(n, 1, f_re.data(), f_im.data(), b_re.data(), b_im.data());
    for (uint32_t t = 0; t < n; t++) EXPECT_NEAR(std::hypot(b_re[t] - re[t], b_im[t] - im[t]), 0, 1e-12);
}

TEST(Fft, LengthNotAPowerOfTwoWritesNothingAndSaysSo) {
    auto saved = fft_bad_length_report;
    fft_bad_length_report = [](const char*) { reports++; };
    std::vector<double> in(6, 1.0), out(6, 7.0);
    fft(6, 0, in.data(), nullptr, out.data(), out.data());
    EXPECT_EQ(out, std::vector<double>(6, 7.0));
    EXPECT_EQ(reports, 1);
    // The grid form refuses before its row pass could leave the columns unset.
    DMatrix g = dmatrix_alloc(4, 6);
    g[3][5] = 3.0;
    fft2d(4, 6, 0, g, nullptr, g, g);
    EXPECT_EQ(g[3][5], 3.0);
    EXPECT_EQ(reports, 2);
    dmatrix_free(g);
    fft_bad_length_report = saved;
}

std::vector<Shape*> list(const DynArray* a) {
    return {DynArray_items<Shape*>(a), DynArray_items<Shape*>(a) + a->count};
}

TEST(ShapeGraph, SharedChildrenSurviveAndIndexValuesAreReleased) {
    const int32_t before = shape_count;
    Shape *g = shape_create(SHAPE_INDEX, nullptr), *h = shape_create(SHAPE_GROUP, nullptr);
    Shape* a = shape_create(SHAPE_TRIANGLE, g);
    shape_create(SHAPE_QUADRILATERAL, a);
    Shape *b = shape_create(SHAPE_GROUP, g), *shared = shape_create(SHAPE_CIRCULAR, g);
    shape_link(shared, h);
    // Owned values beside the children: the leak checker sees any that is not released.
    DynArray* values = &static_cast<ShapeIndex*>(g)->values;
    for (uint32_t i = 0; i < 3; i++) DynArray_at<void*>(values, i) = checked_malloc(8);
    void* value_of_shared = DynArray_at<void*>(values, 2);
    shape_release(b, g);  // its last parent let go: freed, order of the rest kept
    EXPECT_EQ(list(&g->children), (std::vector<Shape*>{a, shared}));
    EXPECT_EQ(DynArray_at<void*>(values, 1), value_of_shared);
    EXPECT_EQ(shape_count, before + 5);
    shape_free(g);  // takes a and a's only child along
    EXPECT_EQ(shape_count, before + 2);
    EXPECT_EQ(list(&shared->parents), std::vector<Shape*>{h});
    EXPECT_EQ(list(&h->children), std::vector<Shape*>{shared});
    shape_link(shared, h);  // linked twice: one release leaves one link
    shape_release(shared, h);
    EXPECT_EQ(list(&h->children), std::vector<Shape*>{shared});
    shape_unlink(shared, h);
    shape_release(shared, nullptr);  // parentless: freed
    shape_free(h);
    EXPECT_EQ(shape_count, before);
}

class ShapeDrawing : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        overlay_begin(), glEnable(GL_BLEND), glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    void TearDown() override { glDisable(GL_BLEND), overlay_end(); }
    // Red of the pixel at overlay column x, row y (from the top); a fringe is half covered.
    static unsigned red(int x, int y) { return gl_test_pixel(x, GL_TEST_HEIGHT - 1 - y) >> 16; }
    static bool fringe(int x, int y) { return red(x, y) > 60 && red(x, y) < 200; }
    static void set_colours(uint32_t* colours, int n) { std::fill_n(colours, n, shape_rgba(255, 255, 255, 255)); }
};

TEST_F(ShapeDrawing, SoftEdgeLiesOutsideATriangleInEitherWinding) {
    const ShapeVertex corners[2][3] = {{{100, 100}, {300, 100}, {100, 300}}, {{100, 100}, {100, 300}, {300, 100}}};
    for (int k = 0; k < 4; k++) {  // each winding, hard and soft
        const int winding = k / 2, soft = k % 2;
        glClear(GL_COLOR_BUFFER_BIT);
        ShapeTriangle* t = static_cast<ShapeTriangle*>(shape_create(SHAPE_TRIANGLE, nullptr));
        std::copy(corners[winding], corners[winding] + 3, t->vertex);
        set_colours(t->colour, 3), shape_draw(t, soft), shape_release(t, nullptr);
        // Edges y = 100 and x = 100 run between pixel rows (columns) 99 and 100.
        EXPECT_EQ(red(150, 100) + red(100, 150), 510u);
        EXPECT_EQ(fringe(150, 99) && fringe(99, 150), soft == 1) << winding;
        EXPECT_EQ(red(150, 97) + red(97, 150), 0u) << winding;
    }
}

TEST_F(ShapeDrawing, RingsFringeBothSides) {
    auto* c = static_cast<ShapeCircular*>(shape_create(SHAPE_CIRCULAR, nullptr));
    c->cx = 400, c->cy = 300, c->inner = 80, c->outer = 100, c->start = 0.0f, c->end = static_cast<float>(2 * pi);
    set_colours(&c->inner_start, 4);
    // Along angle 0 (+y, downwards in overlay rows): band, fringes, hole.
    glClear(GL_COLOR_BUFFER_BIT), shape_draw(c, 1);
    EXPECT_EQ(red(400, 390), 255u);
    EXPECT_TRUE(fringe(400, 400) && fringe(400, 379));
    EXPECT_EQ(red(400, 403) + red(400, 376) + red(400, 300), 0u);
    shape_free(c);
}

}  // namespace
