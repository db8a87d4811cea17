// The camera pass's fill routines for each instruction set, internal to the
// rasterizer. fill_nearest and fill_bilinear (resolve.h) are the plain
// versions and the oracle: the SSE2 and AVX2 versions write exactly the same
// pixels. The engine's table picks one per filter setting and level.
#pragma once

#include <cstdint>

#include "raster/resolve.h"

// Texture and shadow test four pixels at a time; every x86-64 runs them.
void fill_nearest_sse2(const ShadeState* state, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                       int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last);
void fill_bilinear_sse2(const ShadeState* state, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                        int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last);
// Eight pixels at a time; only where fill_avx2_supported().
void fill_nearest_avx2(const ShadeState* state, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                       int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last);
void fill_bilinear_avx2(const ShadeState* state, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                        int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last);

// 1 when this build has the SSE2 or AVX2 routines and the processor runs them.
int fill_sse2_supported();
int fill_avx2_supported();
