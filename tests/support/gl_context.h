#pragma once
// A real OpenGL context for tests, a hidden window opened once per process. Each test of a
// GlTest fixture starts with it current and the start state of a GL_TEST_WIDTH x GL_TEST_HEIGHT view.
#include <gtest/gtest.h>

#include <string>
#include <vector>

constexpr int GL_TEST_WIDTH = 1366;
constexpr int GL_TEST_HEIGHT = 768;

// Makes the context current (creating it on the first call) and installs the start state.
// Returns false when no context can be made; the reason is then in gl_test_error().
bool gl_test_context();
const std::string& gl_test_error();

// The window's pixels in the w x h rectangle at (x, y) from the bottom-left, as RGB bytes,
// the bottom row first; and one pixel as 0xRRGGBB.
std::vector<unsigned char> gl_test_pixels(int x, int y, int w, int h);
unsigned gl_test_pixel(int x, int y);

// What a drawing must leave as it found it (switches, matrices and their stacks, viewport, the
// error flag, which reading clears), one part a line: compare a record from before with one after.
std::string gl_test_state();

class GlTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(gl_test_context()) << gl_test_error(); }
};
