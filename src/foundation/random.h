#pragma once
// Random numbers. Every run on every platform draws the same sequence: the
// generator is a fixed 15-bit linear congruential one that is never seeded
// by the program, so the scene comes out the same each time.

#include <cstdint>

constexpr int ZIBU_RAND_MAX = 0x7FFF;

// Next value of the generator, 0..32767.
int zibu_rand();
// Puts the generator back to the given state (1 is the state at start-up).
void zibu_rand_reset(uint32_t state = 1);

// Uniform in [0, x) for positive x, with 30 bits of resolution; draws twice.
double random_real(double x);
// Uniform over 0..n-1 for positive n, 0 for n <= 0; draws twice.
int32_t random_int(int32_t n);
