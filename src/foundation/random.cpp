#include "foundation/random.h"

#include <cmath>


namespace {
uint32_t rand_state = 1;
}

int zibu_rand() {
    rand_state = rand_state * 214013u + 2531011u;
    return static_cast<int>((rand_state >> 16) & 0x7FFF);
}

void zibu_rand_reset(uint32_t state) { rand_state = state; }

double random_real(double x) {
    int a = zibu_rand();  // low part
    int b = zibu_rand();  // high part
    return ((b + a / 32768.0) / 32768.0) * x;
}

int32_t random_int(int32_t n) {
    double r = std::floor(random_real(n));
    // The product can round up to n itself for large n; n <= 0 lands here too.
    // (pos_i(n - 1) written so that n - 1 cannot overflow.)
    if (r >= n) return n > 0 ? n - 1 : 0;
    return static_cast<int32_t>(r);
}
