// The fixed-point formats of the renderer and the float bounds its hot
// loops hold values to, each with what it counts and why it has its size.
#pragma once

#include <cstdint>

// 16.16 signed fixed point: edge x in polygon setup (pixels), texel
// coordinates u, v in the fills (texels of a level) and light-view
// positions sx, sy (pixels of the light's view). 16 fraction bits keep a
// step per pixel exact to 1/65536 over a 16-pixel run, and 15 whole bits
// hold any screen coordinate up to 7680 with room for the steps' overshoot.
constexpr int32_t FIXED_SHIFT = 16;
constexpr int32_t FIXED_ONE = 1 << FIXED_SHIFT;
constexpr float FIXED_ONE_F = 65536.0f;

// 2^23: every float of this magnitude or more is a whole number, so a
// conversion by truncation is exact for smaller ones only; ceilings,
// floors and row numbers are taken through one below it.
constexpr float FLOAT_WHOLE = 8388608.0f;

// Texel coordinates are kept below 2^30 in magnitude (16.16: 16384
// repeats of the largest level either way), so the difference of two fits
// 32 bits; wrapping by whole repeats keeps a position within any
// power-of-two texture.
constexpr float TEXTURE_WRAP_F = 1073741824.0f;

// A light-view position more than this many pixels off the light's view
// centre is none (shadowed): 2^13 pixels, 2^29 in 16.16, beyond any view,
// so that differences of two positions fit 32 bits too.
constexpr int32_t LIGHT_REACH_PIXELS = 8192;
constexpr float LIGHT_REACH_F = 536870912.0f;  // LIGHT_REACH_PIXELS in 16.16
static_assert((float)LIGHT_REACH_PIXELS * FIXED_ONE_F == LIGHT_REACH_F, "the reach in 16.16");

// Span columns, screen positions of clipped vertices and the lines of 1/z
// along a row are evaluated at |x| < 2^13, the widest screen (7680) and its
// clipping slack: insertion's rounding margins are worked out for that.
constexpr double SPAN_COLUMN_BOUND = 8192.0;
