// The camera pass's fill routines: one span's pixels of one texture level,
// with the shadow test, for each instruction set. fill_nearest and
// fill_bilinear are the plain versions and the oracle: the SSE2 and AVX2
// versions write exactly the same pixels. The engine's table picks one per
// filter setting and level (select_span_fill); fill.cpp states the contract.
#pragma once

#include <cstdint>

struct ShadeState;

// Per-pixel fill: writes first..last-1 (at least one pixel), stepping the four
// 16.16 values by their steps after each pixel; the span's texture level,
// face id and the shadow settings come from `state` (raster/resolve.h).
typedef void (*SpanFill)(const ShadeState* state, int32_t u, int32_t du, int32_t v, int32_t dv,
                         int32_t sx, int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first,
                         uint32_t* last);
void fill_bilinear(const ShadeState* state, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                   int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last);
void fill_nearest(const ShadeState* state, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                  int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last);

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
