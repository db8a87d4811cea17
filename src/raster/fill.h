// The camera pass's fill routines: one span's pixels of one texture level,
// with the shadow test, for each instruction set. fill_nearest and
// fill_bilinear are the plain versions and the oracle: the SSE2 and AVX2
// versions write exactly the same pixels. The engine's table picks one per
// filter setting and level (select_span_fill); fill.cpp states the contract.
#pragma once

#include <cstdint>

struct ShadeState;

// One run of a span: pixels that step their four 16.16 values evenly.
struct FillRun {
    int32_t u, v, sx, sy;      // at the run's first pixel
    int32_t du, dv, dsx, dsy;  // added after each pixel
    int32_t count;             // pixels, at least 1
};

// A span's fill: writes the runs one after another from `first`, each
// pixel stepping its run's values by their steps; the span's texture level,
// face id and the shadow settings come from `state` (raster/resolve.h).
// Handing a fill all the runs of a span at once lets it set itself up once
// per span rather than once per run.
typedef void (*SpanFill)(const ShadeState* state, const FillRun* runs, int32_t run_count, uint32_t* first);

// One run's fill: writes first..last-1 (at least one pixel).
typedef void (*RunFill)(const ShadeState* state, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                        int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last);

// A SpanFill from a RunFill: the runs one call each.
template <RunFill run_fill>
void fill_each_run(const ShadeState* state, const FillRun* runs, int32_t run_count, uint32_t* first) {
    for (const FillRun* r = runs; r < runs + run_count; first += r->count, r++)
        run_fill(state, r->u, r->du, r->v, r->dv, r->sx, r->dsx, r->sy, r->dsy, first, first + r->count);
}

// The plain runs, the oracle of the vector ones.
void fill_bilinear(const ShadeState* state, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                   int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last);
void fill_nearest(const ShadeState* state, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                  int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last);

// Texture and shadow test four pixels at a time; every x86-64 runs them.
void fill_nearest_sse2(const ShadeState* state, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                       int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last);
void fill_bilinear_sse2(const ShadeState* state, int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                        int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last);
// Eight pixels at a time, whole spans; only where fill_avx2_supported().
void fill_nearest_avx2(const ShadeState* state, const FillRun* runs, int32_t run_count, uint32_t* first);
void fill_bilinear_avx2(const ShadeState* state, const FillRun* runs, int32_t run_count, uint32_t* first);

// 1 when this build has the SSE2 or AVX2 routines and the processor runs them.
int fill_sse2_supported();
int fill_avx2_supported();
