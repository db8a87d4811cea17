// Rasterizer set-up: the screen record (raster/screen.h) from the frame's
// size, the bilinear filter tables and the table of fill routines with the
// instruction set they are chosen for. Built once at start-up, read-only
// afterwards, so every thread may read them.
#pragma once

#include <cstdint>

#include "raster/fill.h"
#include "raster/screen.h"


// Derives the screen record for width x height (focal_length = width / 2,
// the frustum for a viewport 4 pixels smaller, so every clipped vertex lands
// at least 2 pixels inside), builds the filter tables and picks the widest
// instruction set the processor runs for the fills. 1, or 0 for a size below
// 1 pixel.
int engine_init(int width, int height, Screen* screen);
void build_filter_tables();
// The fill routine for a filter setting at the engine's instruction set:
// nonzero fill_bilinear, zero fill_nearest, or their SSE2 or AVX2 versions,
// which write the same pixels.
SpanFill select_span_fill(int bilinear);

// Instruction sets of the fill routines, narrowest first.
enum { SIMD_PLAIN, SIMD_SSE2, SIMD_AVX2, SIMD_LEVEL_COUNT };
// Whether this build and processor run a level's fills: 1 or 0.
int engine_simd_supported(int level);
// Makes select_span_fill hand out the fills of `level` (tests and
// benchmarks; engine_init picks the widest). 1, or 0 and unchanged when the
// level is not supported. Not while frames are drawn.
int engine_set_simd(int level);
int engine_simd_level();

// Weights for the top six fraction bits i (u) and j (v): four 64 x 64 tables
// W00, W10, W01, W11, entry j * 64 + i; the four weights of an entry add up to 63.
const uint8_t* engine_bilinear_weights();
// The same tables packed for the fill loop: entry j * 64 + i holds W00 in
// bits 0-7, W10 in 8-15, W01 in 16-23 and W11 in 24-31.
const uint32_t* engine_bilinear_weights_packed();
