#pragma once
// A real OpenGL context for tests: a hidden window, opened once per test process on the
// virtual display. Derive fixtures from GlTest; each test starts with the context current
// and the start state installed for a GL_TEST_WIDTH x GL_TEST_HEIGHT perspective view.
#include <gtest/gtest.h>

#include <string>
#include <vector>

constexpr int GL_TEST_WIDTH = 1366;
constexpr int GL_TEST_HEIGHT = 768;

// Makes the context current (creating it on the first call) and installs the start state.
// Returns false when no context can be made; the reason is then in gl_test_error().
bool gl_test_context();
const std::string& gl_test_error();

// The window's pixels in the w x h rectangle at (x, y), counted from the bottom-left, as RGB
// bytes, the bottom row first.
std::vector<unsigned char> gl_test_pixels(int x, int y, int w, int h);
// Window pixel (x, y), counted from the bottom-left, as 0xRRGGBB.
unsigned gl_test_pixel(int x, int y);

// What a drawing must leave as it found it, one part a line: the switches drawings turn
// (lighting, texturing, blending, depth test and writes, culling, scissor), the matrix mode,
// the three matrices with their stacks' depths, the viewport, and the error flag (which reading
// clears). Compare a record taken before with one taken after.
std::string gl_test_state();

class GlTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(gl_test_context()) << gl_test_error(); }
};
