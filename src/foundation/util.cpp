#include "foundation/util.h"

#include <cmath>
#include <cstring>

#include "foundation/memory.h"

namespace {

// Double-double numbers: hi + lo, with |lo| at most half a unit in the last place of hi. The
// operations are exact transformations of basic arithmetic (Knuth, Dekker), so they give the
// same bits everywhere as long as no multiply-add is fused.
struct DD {
    double hi, lo;
};

DD two_sum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return DD{s, (a - (s - bb)) + (b - bb)};
}

DD fast_two_sum(double a, double b) {  // |a| >= |b|
    const double s = a + b;
    return DD{s, b - (s - a)};
}

DD two_prod(double a, double b) {
    const double split = 134217729.0;  // 2^27 + 1
    const double ta = split * a, tb = split * b;
    const double ah = ta - (ta - a), al = a - ah;
    const double bh = tb - (tb - b), bl = b - bh;
    const double p = a * b;
    return DD{p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

DD dd_add(DD a, DD b) {
    DD s = two_sum(a.hi, b.hi);
    const DD t = two_sum(a.lo, b.lo);
    s = fast_two_sum(s.hi, s.lo + t.hi);
    return fast_two_sum(s.hi, s.lo + t.lo);
}

DD dd_mul(DD a, DD b) {
    const DD p = two_prod(a.hi, b.hi);
    return fast_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

DD dd_div(DD a, double n) {  // n a small whole number
    const double q = a.hi / n;
    const DD back = two_prod(q, n);
    return fast_two_sum(q, (((a.hi - back.hi) - back.lo) + a.lo) / n);
}

// 1 - a
DD one_minus(DD a) { return dd_add(DD{1.0, 0.0}, DD{-a.hi, -a.lo}); }

// pi/2 and ln 2 in parts; the leading ones have at most 33 significant bits, so their products
// with the whole multiples k used below (|k| < 2^20) are exact.
constexpr double TWO_OVER_PI = 6.36619772367581382433e-01;
constexpr double PIO2[] = {1.57079632673412561417e+00, 6.07710050630396597660e-11,
                           2.02226624879595063154e-21, 1.00858540358724834940e-37};
constexpr double REDUCE_LIMIT = 823549.6;  // 2^19 pi/2
constexpr double TWO_PI = 6.283185307179586;
constexpr double INV_LN2 = 1.44269504088896338700e+00;
constexpr double LN2[] = {6.93147180369123816490e-01, 1.90821492927058770002e-10,
                          1.16122272293625324218e-26};
constexpr double EXP_OVERFLOW = 7.09782712893383973096e+02;
constexpr double EXP_UNDERFLOW = -7.45133219101941108420e+02;
constexpr double TINY_ANGLE = 1.0 / 134217728.0;  // 2^-27: sin x rounds to x, cos x to 1

// x - k c for the constant c given in parts (k times the first part exact and close to x).
DD reduce(double x, double k, const double* parts, int count) {
    DD r{x - k * parts[0], 0.0};
    for (int i = 1; i < count; i++) {
        const DD p = two_prod(k, parts[i]);
        r = dd_add(r, DD{-p.hi, -p.lo});
    }
    return r;
}

// sin and cos of r (|r| <= pi/4) by their series, nested so that each term follows from the
// one before: 1 - z/(2 3) (1 - z/(4 5) (1 - ...)) with z = r^2. 13 terms leave an error far
// below the last place of a double.
void series_sin_cos(DD r, DD* s, DD* c) {
    const DD z = dd_mul(r, r);
    DD ps{1.0, 0.0}, pc{1.0, 0.0};
    for (int n = 13; n >= 1; n--) {
        ps = one_minus(dd_div(dd_mul(z, ps), (2.0 * n) * (2.0 * n + 1.0)));
        pc = one_minus(dd_div(dd_mul(z, pc), (2.0 * n - 1.0) * (2.0 * n)));
    }
    *s = dd_mul(r, ps);
    *c = pc;
}

}  // namespace

void portable_sincos(double angle, double* s, double* c) {
    if (std::fabs(angle) < TINY_ANGLE) {
        *s = angle;
        *c = 1.0;
        return;
    }
    // Angles beyond the exact reduction (over 10^5 turns) first lose whole turns of the double
    // 2 pi: not the sine of that very number, but the same on every platform.
    if (std::fabs(angle) >= REDUCE_LIMIT) angle = std::fmod(angle, TWO_PI);
    if (!std::isfinite(angle)) {
        *s = *c = angle - angle;  // NaN
        return;
    }
    const double k = std::nearbyint(angle * TWO_OVER_PI);
    DD sin_r, cos_r;
    series_sin_cos(reduce(angle, k, PIO2, 4), &sin_r, &cos_r);
    switch (static_cast<int64_t>(k) & 3) {
        case 0: *s = sin_r.hi; *c = cos_r.hi; break;
        case 1: *s = cos_r.hi; *c = -sin_r.hi; break;
        case 2: *s = -sin_r.hi; *c = -cos_r.hi; break;
        default: *s = -cos_r.hi; *c = sin_r.hi; break;
    }
}

double portable_exp(double x) {
    if (std::isnan(x)) return x;
    if (x > EXP_OVERFLOW) return HUGE_VAL;
    if (x < EXP_UNDERFLOW) return 0.0;
    // e^x = 2^k e^r with r = x - k ln 2, |r| <= ln 2 / 2, and e^r by its series
    // 1 + r (1 + r/2 (1 + r/3 (...))) to 22 terms.
    const double k = std::nearbyint(x * INV_LN2);
    const DD r = reduce(x, k, LN2, 3);
    DD p{1.0, 0.0};
    for (int n = 22; n >= 1; n--) p = dd_add(DD{1.0, 0.0}, dd_div(dd_mul(r, p), n));
    return std::ldexp(p.hi, static_cast<int>(k));
}

uint32_t next_pow2(uint32_t v) {
    if ((v & (v - 1)) == 0) return v;  // 0 or already a power of two
    v |= v >> 1;
    v |= v >> 2;
    v |= v >> 4;
    v |= v >> 8;
    v |= v >> 16;
    return v + 1;
}

int to_lower(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A' + 'a';
    return static_cast<signed char>(c);
}

int byte_value(char c) {
    int v = static_cast<signed char>(c);
    return v < 0 ? v + 256 : v;
}

std::size_t str_dup_into(char** target, const char* source) {
    std::size_t length = std::strlen(source);
    char* copy = static_cast<char*>(checked_malloc(length + 1));
    std::memcpy(copy, source, length + 1);
    *target = copy;
    return length;
}

std::size_t str_replace(char** target, const char* source) {
    // Copy first: source may be the very string being replaced.
    char* old = *target;
    std::size_t length = str_dup_into(target, source);
    checked_free(old);
    return length;
}
