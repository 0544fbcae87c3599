#pragma once
// Small numeric and string helpers shared by every subsystem.

#include <cstddef>
#include <cstdint>

// The value itself when it is 0 or a power of two, else the next power of two
// above it (texture sizes).
uint32_t next_pow2(uint32_t v);

inline uint32_t max_u(uint32_t a, uint32_t b) { return a > b ? a : b; }
inline int32_t max_i(int32_t a, int32_t b) { return a > b ? a : b; }
inline double max_d(double a, double b) { return a > b ? a : b; }
inline double min_d(double a, double b) { return a < b ? a : b; }
inline double pos_d(double v) { return v >= 0.0 ? v : 0.0; }
inline int32_t pos_i(int32_t v) { return v >= 0 ? v : 0; }
inline double sq(double v) { return v * v; }

// sin and cos of one angle, and e to the x, from basic arithmetic only, so that every platform
// and C runtime computes the same bits. The runtimes' own functions disagree in the last place
// now and then, which is enough for a replayed run to drift apart between the builds; what
// moves the simulation uses these. Within about one unit in the last place.
void portable_sincos(double angle, double* s, double* c);
double portable_exp(double x);

// 'A'..'Z' become 'a'..'z'; any other byte comes back unchanged, widened as a
// signed char.
int to_lower(char c);

// The byte as 0..255 whatever the signedness of char.
int byte_value(char c);

// Allocates a copy of source (terminator included) into *target and returns
// its length. str_dup_into overwrites *target; str_replace first frees the
// string *target held, if any.
std::size_t str_dup_into(char** target, const char* source);
std::size_t str_replace(char** target, const char* source);
