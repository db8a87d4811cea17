// Span rasterizer: set-up, shared parameters, filter tables and the two
// resolve passes.
#pragma once

#include <cstdint>

#include "math/clip.h"
#include "raster/span.h"

// -- set-up --------------------------------------------------------------------
// Stores the screen size, derives focal_length = width / 2, builds the view
// frustum for a (width - 4) x (height - 4) viewport, creates the pool and one
// list of 20 spare nodes per row, builds the filter tables and selects the
// bilinear fill. 1, or 0 on an allocation failure.
int engine_init(int width, int height);
void engine_shutdown();
void build_filter_tables();
void select_span_fill(int bilinear);  // nonzero: fill_bilinear, zero: fill_nearest

// -- what the pipeline shares with the rasterizer -----------------------------
int engine_width();
int engine_height();
float engine_focal_length();
const ViewFrustum* engine_frustum();
ScanlineSpanList* engine_scanline_lists();  // one list per row, row 0 at the top

// Weights for the top six fraction bits i (u) and j (v): four 64 x 64 tables
// W00, W10, W01, W11, entry j * 64 + i; the four weights of an entry add up to 63.
const uint8_t* engine_bilinear_weights();
// The same tables packed for the fill loop: entry j * 64 + i holds W00 in
// bits 0-7, W10 in 8-15, W01 in 16-23 and W11 in 24-31.
const uint32_t* engine_bilinear_weights_packed();

// -- resolve --------------------------------------------------------------------
void engine_set_shadow_buffer(uint32_t* buffer);
void engine_set_shadow_factor(int factor);  // darkening of shadowed pixels, in 256ths
// Each returns the number of visible spans over all rows and draws the two
// warnings into its buffer when a row overlaps or the pool ran dry.
int resolve_light_view(uint32_t* shadow_buffer);
int resolve_camera_view(uint32_t* frame_buffer);
// The warnings the latest resolve of a pass drew, as RESOLVE_WARNING_* bits
// (0 before its first resolve).
enum { RESOLVE_WARNING_OVERLAP = 1, RESOLVE_WARNING_OUT_OF_MEMORY = 2 };
enum ResolvePass { RESOLVE_LIGHT = 0, RESOLVE_CAMERA = 1 };
uint32_t resolve_warnings(ResolvePass pass);

// Per-pixel fill: writes first..last-1, stepping four 16.16 values.
typedef void (*SpanFill)(int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx,
                         int32_t dsx, int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last);
void fill_bilinear(int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx, int32_t dsx,
                   int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last);
void fill_nearest(int32_t u, int32_t du, int32_t v, int32_t dv, int32_t sx, int32_t dsx,
                  int32_t sy, int32_t dsy, uint32_t* first, uint32_t* last);
SpanFill engine_span_fill();

extern const char* const WARNING_SPANS_OVERLAP;  // "Varnel narusen - prekreslovani !"
extern const char* const WARNING_OUT_OF_MEMORY;  // "Nedostatek pameti RAM !"
