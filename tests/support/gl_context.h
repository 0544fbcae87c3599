#pragma once
// A real OpenGL context for tests: a hidden window with a compatibility-profile context,
// opened once per test process (on the virtual display the tests run on).
//
// Use the fixture, or derive a named one from it:
//     class PlotPass : public GlTest {};
//     TEST_F(PlotPass, CountsDrawnThings) { ... }
// Each test then starts with the context current and the start state installed for a
// GL_TEST_WIDTH x GL_TEST_HEIGHT drawing area with the perspective projection.
#include <gtest/gtest.h>

#include <string>

constexpr int GL_TEST_WIDTH = 1366;
constexpr int GL_TEST_HEIGHT = 768;

// Makes the context current (creating it on the first call) and installs the start state:
// perspective projection, model-view identity, clear colour black, depth test on, lighting,
// texturing and blending off. Returns false when no context can be made; the reason is then
// in gl_test_error().
bool gl_test_context();
const std::string& gl_test_error();

// Reads the colour of window pixel (x, y), counted from the bottom-left, as 0xRRGGBB from the
// buffer being drawn.
unsigned gl_test_pixel(int x, int y);

class GlTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(gl_test_context()) << gl_test_error(); }
};
