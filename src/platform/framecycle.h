#pragma once
// The OpenGL state every frame starts from, the projection, the 2D overlay mode, the end of a
// frame, and the process-wide clock.
#include <cstdint>

// When set, resize installs a pixel orthographic projection instead of the perspective.
extern unsigned char flat_projection;
// The colour end_frame last handed to glClearColor. Starts at a value no 0xRRGGBB equals.
extern uint32_t last_clear_colour;
constexpr uint32_t CLEAR_COLOUR_UNSET = 0x01000000;

// Seconds as a double; only differences are meaningful. The first call calibrates the clock
// and repoints this at the chosen reader, so every call, the first too, returns a time.
extern double (*clock_seconds)();
extern double seconds_per_tick;

void gl_start_state(int width, int height);
// Viewport and projection for a drawing area (height raised to at least 1).
void resize(int width, int height);
// Perspective of fov degrees across for screens of 4:3 and narrower; wider screens keep the
// vertical angle of a 4:3 screen.
void set_perspective(float fov_degrees, float near_plane, float far_plane);
// 2D pixel coordinates, origin at the top-left of the viewport, depth test off. Expects the
// model-view matrix to be current; pair each with overlay_end (they do not nest).
void overlay_begin();
void overlay_end();
// Finish, swap, then clear to colour (0xRRGGBB) for the next frame.
void end_frame(uint32_t colour);
// Called by end_frame, when set, while the finished picture is still in the back buffer: a
// scripted run takes its pictures and its digest there, a benchmark times its frames.
extern void (*frame_done_hook)();
// Clears colour and depth inside the rectangle only (window pixels from the bottom-left).
void clear_rect(int x, int y, int w, int h);
// Length in current object units of one pixel, for a flat set-up.
double units_per_pixel();
// Width of one pixel at unit distance in front of the eye.
double pixel_angle();
// Distance from the eye to the farthest corner of the near clipping plane of the current
// perspective projection: nothing nearer to the eye than this can be cut away by that plane.
// Infinite for a projection without perspective.
double near_plane_reach();

// The backend's clock calibration: the first target of clock_seconds.
double clock_calibrate();
