// Camera-pass shading of one span, for the resolve pass and for tests that
// drive it directly.
#pragma once

#include <cstdint>

#include "raster/engine.h"
#include "raster/span.h"

// Loads what shading a span needs: the engine's screen size and focal length,
// the selected fill routine, the span's six gradients, its face id, and its
// texture level (texels, shade table, masks). 0 when the span has no texture
// or its level_index names no level; nothing may then be shaded.
int shade_span_prepare(const SpanNode* span);
// Replaces the fill routine until the next shade_span_prepare or resolve
// pass (tests record the runs with it).
void shade_span_use_fill(SpanFill fill);

// Shades count pixels from destination on. The six floats are the span's
// plane values at the first pixel's column x. Texture and light-view
// coordinates are divided exactly at the first pixel, after every run of 16
// pixels and past the last pixel, and stepped linearly in 16.16 between.
void shade_span(int32_t count, int32_t x, float w, float u_over_z, float v_over_z,
                float lx_over_z, float ly_over_z, float lz_over_z, uint32_t* destination);

// The four 16.16 coordinates shade_span computes exactly at a point of a
// span, with its out-of-range handling: u and v wrapped into (-2^30, 2^30)
// keeping their position within any power-of-two texture; sx and sy (light
// view pixels, centre added) set to SHADE_NO_LIGHT_POSITION when the point is
// at or behind the light's eye plane or lies more than 8192 pixels off the
// light's view. Every value lies in [-2^30, 2^30), so differences fit 32 bits.
struct ShadeCoords {
    int32_t u, v;    // 16.16 texels of the span's level
    int32_t sx, sy;  // 16.16 pixels of the light's view
};
enum : int32_t { SHADE_NO_LIGHT_POSITION = -1073741824 };  // -2^30: far off the light's view, shadowed
ShadeCoords shade_coords(float w, float u_over_z, float v_over_z, float lx_over_z, float ly_over_z,
                         float lz_over_z);
