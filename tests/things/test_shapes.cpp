// Vector shapes: the graph of groups and the drawing of every kind with soft edges.
#include "foundation/memory.h"
#include "platform/framecycle.h"
#include "platform/opengl.h"
#include "support/gl_context.h"
#include "things/shapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr float two_pi = 6.2831855f;

std::vector<Shape*> list(const DynArray* a) {
    Shape** p = DynArray_items<Shape*>(a);
    return std::vector<Shape*>(p, p + a->count);
}

TEST(ShapeGraph, FreeingAGroupKeepsOnlyTheSharedChild) {
    const int32_t before = shape_count;
    Shape* g = shape_create(SHAPE_GROUP, nullptr);
    Shape* h = shape_create(SHAPE_GROUP, nullptr);
    Shape* own = shape_create(SHAPE_TRIANGLE, g);
    Shape* grand = shape_create(SHAPE_QUADRILATERAL, own);
    Shape* shared = shape_create(SHAPE_CIRCULAR, g);
    shape_link(shared, h);
    EXPECT_EQ(shape_count, before + 5);

    shape_free(g);
    EXPECT_EQ(shape_count, before + 2);  // g, own and its only child grand are gone
    EXPECT_EQ(list(&shared->parents), std::vector<Shape*>{h});
    EXPECT_EQ(list(&h->children), std::vector<Shape*>{shared});
    (void)grand;

    shape_free(h);
    EXPECT_EQ(shape_count, before);
}

TEST(ShapeGraph, UnlinkKeepsDrawingOrderAndReleaseFreesTheOrphan) {
    const int32_t before = shape_count;
    Shape* g = shape_create(SHAPE_GROUP, nullptr);
    Shape* a = shape_create(SHAPE_TRIANGLE, g);
    Shape* b = shape_create(SHAPE_TRIANGLE, g);
    Shape* c = shape_create(SHAPE_TRIANGLE, g);
    shape_unlink(a, g);
    EXPECT_EQ(list(&g->children), (std::vector<Shape*>{b, c}));
    EXPECT_EQ(a->parents.count, 0u);
    shape_release(a, nullptr);  // parentless: freed
    EXPECT_EQ(shape_count, before + 3);
    shape_release(b, g);  // its last parent let go: freed
    EXPECT_EQ(list(&g->children), std::vector<Shape*>{c});
    EXPECT_EQ(shape_count, before + 2);

    // A child linked twice survives the first release.
    shape_link(c, g);
    shape_release(c, g);
    EXPECT_EQ(list(&g->children), std::vector<Shape*>{c});
    shape_free(g);
    EXPECT_EQ(shape_count, before);
}

TEST(ShapeGraph, IndexReleasesTheValueOfEveryEntryItLoses) {
    // Run under the leak checker: every value must be released exactly once.
    Shape* index = shape_create(SHAPE_INDEX, nullptr);
    ShapeIndex* ix = static_cast<ShapeIndex*>(index);
    EXPECT_EQ(ix->a, 3.0f);
    Shape* a = shape_create(SHAPE_GROUP, index);
    Shape* b = shape_create(SHAPE_GROUP, index);
    Shape* c = shape_create(SHAPE_GROUP, index);
    ASSERT_EQ(ix->values.count, 3u);
    EXPECT_EQ(DynArray_at<void*>(&ix->values, 0), nullptr);
    for (uint32_t i = 0; i < 3; i++) DynArray_at<void*>(&ix->values, i) = checked_malloc(16 + i);
    void* kept_for_c = DynArray_at<void*>(&ix->values, 2);
    shape_release(b, index);
    ASSERT_EQ(ix->values.count, 2u);
    EXPECT_EQ(DynArray_at<void*>(&ix->values, 1), kept_for_c);  // stays beside its child
    shape_free(a);  // unlinks itself from the index
    EXPECT_EQ(list(&index->children), std::vector<Shape*>{c});
    shape_free(index);
}

TEST(CircularSegments, FiveTimesRootOfThePixelRadiusPerTurn) {
    EXPECT_EQ(circular_segments(two_pi, 100.0f, 1.0f), 50);
    EXPECT_EQ(circular_segments(two_pi, 100.0f, 0.25f), 100);   // 400 pixels
    EXPECT_EQ(circular_segments(two_pi / 2, 100.0f, 1.0f), 25);
    EXPECT_EQ(circular_segments(two_pi, 0.039f, 1.0f), 1);      // below p / 25
    EXPECT_EQ(circular_segments(0.0f, 100.0f, 1.0f), 1);
    EXPECT_EQ(circular_segments(two_pi, NAN, 1.0f), 1);
}

TEST(ColourModulate, EveryChannelScales) {
    // Dimming by the grey k * 0x010101 halves each colour channel at k = 128.
    EXPECT_EQ(colour_modulate(0x00FF8040u, 128u * 0x010101u), 0x007F4020u);
    EXPECT_EQ(colour_modulate(0x00123456u, 0x00FFFFFFu), 0x00113355u);
    // Alpha too, without spilling into blue.
    EXPECT_EQ(colour_modulate(0x80FFFFFFu, 0x80808080u), 0x407F7F7Fu);
    EXPECT_EQ(shape_rgba(1, 2, 3, 4), 0x04030201u);
}

class ShapeDrawing : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        glClear(GL_COLOR_BUFFER_BIT);
        overlay_begin();
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    void TearDown() override {
        glDisable(GL_BLEND);
        overlay_end();
    }
    // Pixel of overlay row y (from the top), column x.
    static unsigned at(int x, int y) { return gl_test_pixel(x, GL_TEST_HEIGHT - 1 - y); }
    static unsigned red(unsigned rgb) { return rgb >> 16; }

    // Polygons OpenGL receives for the shape, counted in feedback mode.
    static int polygons(Shape* s, int soft) {
        std::vector<GLfloat> buffer(1 << 20);
        glFeedbackBuffer(GLsizei(buffer.size()), GL_2D, buffer.data());
        glRenderMode(GL_FEEDBACK);
        shape_draw(s, soft);
        const GLint used = glRenderMode(GL_RENDER);
        EXPECT_GE(used, 0);
        int count = 0;
        for (GLint i = 0; i < used;) {
            const GLint token = GLint(buffer[i++]);
            if (token == GL_POLYGON_TOKEN) {
                count++;
                i += 1 + 2 * GLint(buffer[i]);
            } else if (token == GL_PASS_THROUGH_TOKEN || token == GL_POINT_TOKEN) {
                i += token == GL_POINT_TOKEN ? 2 : 1;
            } else {
                ADD_FAILURE() << "unexpected feedback token " << token;
                break;
            }
        }
        return count;
    }
};

TEST_F(ShapeDrawing, SoftEdgeLiesOutsideATriangleInEitherWinding) {
    const ShapeVertex corners[2][3] = {{{100, 100}, {300, 100}, {100, 300}},
                                       {{100, 100}, {100, 300}, {300, 100}}};
    for (int winding = 0; winding < 2; winding++) {
        glClear(GL_COLOR_BUFFER_BIT);
        Shape* s = shape_create(SHAPE_TRIANGLE, nullptr);
        ShapeTriangle* t = static_cast<ShapeTriangle*>(s);
        for (int i = 0; i < 3; i++) {
            t->vertex[i] = corners[winding][i];
            t->colour[i] = shape_rgba(255, 255, 255, 255);
        }
        shape_draw(s, 1);
        shape_release(s, nullptr);
        // The edge y = 100 runs between rows 99 and 100; x = 100 between columns 99 and 100.
        EXPECT_EQ(at(150, 100), 0xFFFFFFu) << winding;
        EXPECT_EQ(at(100, 150), 0xFFFFFFu) << winding;
        EXPECT_GT(red(at(150, 99)), 60u) << winding;  // half-covered fringe pixel
        EXPECT_LT(red(at(150, 99)), 200u) << winding;
        EXPECT_GT(red(at(99, 150)), 60u) << winding;
        EXPECT_LT(red(at(99, 150)), 200u) << winding;
        EXPECT_EQ(at(150, 97), 0u) << winding;  // beyond the one pixel
        EXPECT_EQ(at(97, 150), 0u) << winding;
    }
    // Without soft edges nothing spills over.
    glClear(GL_COLOR_BUFFER_BIT);
    Shape* s = shape_create(SHAPE_QUADRILATERAL, nullptr);
    ShapeQuadrilateral* q = static_cast<ShapeQuadrilateral*>(s);
    const ShapeVertex v[4] = {{100, 100}, {300, 100}, {300, 300}, {100, 300}};
    for (int i = 0; i < 4; i++) {
        q->vertex[i] = v[i];
        q->colour[i] = shape_rgba(255, 0, 0, 255);
    }
    shape_draw(s, 0);
    EXPECT_EQ(at(200, 100), 0xFF0000u);
    EXPECT_EQ(at(200, 99), 0u);
    shape_draw(s, 1);
    EXPECT_GT(red(at(200, 99)), 60u);
    EXPECT_GT(red(at(300, 200)), 60u);
    shape_release(s, nullptr);
}

TEST_F(ShapeDrawing, TransformDrawsOnlyItsFirstChild) {
    Shape* tr = shape_create(SHAPE_TRANSFORM, nullptr);
    static_cast<ShapeTransform*>(tr)->matrix[12] = 400.0f;  // move right by 400 pixels
    for (int k = 0; k < 2; k++) {
        Shape* s = shape_create(SHAPE_QUADRILATERAL, tr);
        ShapeQuadrilateral* q = static_cast<ShapeQuadrilateral*>(s);
        const float x = 100.0f + 200.0f * k;
        const ShapeVertex v[4] = {{x, 100}, {x + 50, 100}, {x + 50, 150}, {x, 150}};
        for (int i = 0; i < 4; i++) {
            q->vertex[i] = v[i];
            q->colour[i] = shape_rgba(0, 255, 0, 255);
        }
    }
    shape_draw(tr, 0);
    EXPECT_EQ(at(525, 125), 0x00FF00u);  // first child, moved
    EXPECT_EQ(at(125, 125), 0u);
    EXPECT_EQ(at(725, 125), 0u);          // second child: never drawn
    EXPECT_EQ(at(325, 125), 0u);
    EXPECT_EQ(tr->children.count, 2u);
    shape_free(tr);

    // One without a child draws nothing and leaves the matrix stack as it was.
    Shape* bare = shape_create(SHAPE_TRANSFORM, nullptr);
    GLint depth = 0, after = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    shape_draw(bare, 1);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &after);
    EXPECT_EQ(after, depth);
    shape_free(bare);
}

TEST_F(ShapeDrawing, RingsFringeBothSidesAndArcsGetEndCaps) {
    EXPECT_NEAR(units_per_pixel(), 1.0, 1e-6);
    Shape* s = shape_create(SHAPE_CIRCULAR, nullptr);
    ShapeCircular* c = static_cast<ShapeCircular*>(s);
    c->cx = 400;
    c->cy = 300;
    c->inner = 80;
    c->outer = 100;
    c->inner_start = c->inner_end = c->outer_start = c->outer_end = shape_rgba(255, 255, 255, 255);

    // A full ring: the fringes repeat the body's steps outside and inside, no caps.
    c->start = 0.0f;
    c->end = two_pi;
    const int full = polygons(s, 0);
    EXPECT_GT(full, 0);
    EXPECT_EQ(polygons(s, 1), 3 * full);

    // Slightly short of a full turn: two caps, each one quad like a body step.
    c->end = two_pi - 0.01f;
    const int steps = circular_segments(c->end - c->start, c->outer, 1.0f);
    const int arc = polygons(s, 0);
    EXPECT_EQ(polygons(s, 1), 3 * arc + 2 * (arc / steps));

    // A disc has no inner fringe.
    c->inner = 0.0f;
    c->end = two_pi;
    EXPECT_EQ(polygons(s, 1), 2 * polygons(s, 0));

    // Pixels along angle 0, the +y direction: overlay rows grow downwards, so below the
    // centre on screen.
    glClear(GL_COLOR_BUFFER_BIT);
    c->inner = 80;
    shape_draw(s, 1);
    EXPECT_EQ(at(400, 390), 0xFFFFFFu);  // inside the band, on the +y side
    EXPECT_EQ(at(400, 300), 0u);         // the hole
    EXPECT_GT(red(at(400, 400)), 60u);   // outer fringe pixel
    EXPECT_EQ(at(400, 403), 0u);
    EXPECT_GT(red(at(400, 379)), 60u);   // inner fringe pixel
    EXPECT_EQ(at(400, 376), 0u);
    shape_free(s);
}

}  // namespace
