// Vector shapes: the graph of groups and the drawing of every kind with soft edges.
#include "foundation/memory.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "support/gl_context.h"
#include "things/shapes.h"

#include <cmath>
#include <vector>

namespace {

constexpr float two_pi = 6.2831855f;

std::vector<Shape*> list(const DynArray* a) {
    Shape** p = DynArray_items<Shape*>(a);
    return std::vector<Shape*>(p, p + a->count);
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
    static void set_colours(uint32_t* colours, int n) {
        for (int i = 0; i < n; i++) colours[i] = shape_rgba(255, 255, 255, 255);
    }
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
    c->cx = 400, c->cy = 300, c->inner = 80, c->outer = 100, c->start = 0.0f, c->end = two_pi;
    set_colours(&c->inner_start, 4);
    // Along angle 0 (+y, downwards in overlay rows): band, fringes, hole.
    glClear(GL_COLOR_BUFFER_BIT), shape_draw(c, 1);
    EXPECT_EQ(red(400, 390), 255u);
    EXPECT_TRUE(fringe(400, 400) && fringe(400, 379));
    EXPECT_EQ(red(400, 403) + red(400, 376) + red(400, 300), 0u);
    shape_free(c);
}

}  // namespace
