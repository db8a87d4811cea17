// Polygon setup: one projected polygon becomes one span per covered row.
//
// Setup is split in two so that the rows can be filled by several threads:
// a polygon is first turned into a self-contained record (its two 16.16 edge
// chains and its attribute planes), and a record is then walked into the
// rows of one row set, or of several sets one after another; walking the
// same record into two sets gives each set exactly the spans a walk over
// all rows would have given it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "math/clip.h"
#include "math/fixed.h"
#include "raster/span_pool.h"

struct Texture;
struct Screen;

// One edge of a chain.
struct EdgeStep {
    int32_t x;      // 16.16, edge x at its first scanline
    int32_t y;      // first scanline, an integer row
    int32_t count;  // scanlines to walk on this edge
    int32_t dx;     // 16.16, x step per scanline
};

enum { EDGE_CHAIN_MAX = 7 };  // a clipped polygon has at most 7 edges

// The left chain is filled top to bottom and walked forward from entry 0; the
// right chain is filled bottom to top and walked backward from its last entry.
struct EdgeChains {
    EdgeStep left[EDGE_CHAIN_MAX];
    EdgeStep right[EDGE_CHAIN_MAX];
    int32_t left_count;    // entries filled
    int32_t right_count;
    int32_t first_row;     // ceil(min y): first row the polygon covers
    int32_t end_row;       // ceil(max y): one past the last row it covers
};

// An attribute that is affine in screen space: A(x, y) = at_origin + x * dx + y * dy.
struct PlaneGradient {
    float dx;         // per pixel column
    float dy;         // per scanline
    float at_origin;  // value at screen point (0, 0)
};

// W = 1/z; U, V = texel coordinates of the chosen level times W; LX, LY, LZ =
// light-view position times W. Each is divided by W per pixel when shaded.
struct PolygonGradients {
    PlaneGradient u;
    PlaneGradient v;
    PlaneGradient w;
    PlaneGradient lx;
    PlaneGradient ly;
    PlaneGradient lz;
};

// std::ceil and std::floor through a truncation where that is exact
// (|x| < 2^23, which holds for every position on a screen), std::'s
// elsewhere; SSE2 has no rounding instruction of its own. A zero result may
// have the other sign; setup only compares, subtracts and converts them.
inline float setup_ceil(float x) {
    if (!(std::fabs(x) < FLOAT_WHOLE)) return std::ceil(x);
    float t = (float)(int32_t)x;
    return t < x ? t + 1.0f : t;
}

inline float setup_floor(float x) {
    if (!(std::fabs(x) < FLOAT_WHOLE)) return std::floor(x);
    float t = (float)(int32_t)x;
    return t > x ? t - 1.0f : t;
}

// -- the steps of setup ------------------------------------------------------
// Fills both chains from a projected polygon; 0 when it covers no integer
// row, or when a vertex lies off the screen or is not a finite number (the
// walk writes rows without bounds checks of its own).
int setup_edge_chains(const ClipPolygon* polygon, const Screen* screen, EdgeChains* chains);
// Edge from the upper vertex a to the lower vertex b covering the rows
// a.y <= y < b.y; 0 when it covers none (zero or negative count), and the
// entry is then not to be used.
int setup_edge(const ClipVertex* a, const ClipVertex* b, EdgeStep* edge);
// Planes of the six attributes from the first three vertices, with texel
// sizes tw x th of the chosen level; 0 when those vertices are collinear on
// screen.
int compute_gradients(const ClipPolygon* polygon, int32_t tw, int32_t th, PolygonGradients* gradients);
// Texels of level (0, 0) per screen pixel, as an area ratio (|T / S|).
float texel_area_ratio(const ClipPolygon* polygon, const Texture* texture);
// 0..9: every level quarters the texel area.
int select_texture_level(float ratio);

// -- polygon records -----------------------------------------------------------
// A record starts with this header; a camera record's shading, then its
// planes and its edges follow it (see polygon_record_shading,
// polygon_record_planes and polygon_record_edges). Records are stored back
// to back, each a multiple of 8 bytes long.
struct PolygonRecord {
    uint32_t face_id;
    int32_t first_row;     // row of the first span (the first left edge's row)
    int32_t row_count;     // spans the walk makes, at least 1
    uint16_t size;         // bytes of the whole record
    uint8_t left_count;    // left edges, top to bottom; the right edges follow them, bottom to top
    uint8_t right_count;
    uint8_t planes;        // 1: depth only (light pass), 6: every plane (camera pass)
    uint8_t checkpoints;   // rows whose plane values are kept after the edges (see polygon_record_checkpoints);
                           // a record with some keeps what its walks ask rows' floors with behind them
    uint8_t unused[6];     // the header is 24 bytes: the shading behind it starts on 8
};

// Attribute planes of a record, `planes` of each: values at column 0 of
// first_row and steps per row (added row by row, in float), in the order
// W, U, V, LX, LY, LZ; then W's step per column (a camera record's shading
// holds the other five).
struct RecordPlanes {
    const float* start;
    const float* row_step;
    const float* column_step;  // W's alone
};

// A tall record keeps the plane values of a few rows, spaced evenly, so a
// walk that starts in a lower row set, or passes hidden rows, adds the row
// steps from the nearest of them instead of from its first row. They are
// the very float sums a walk from the first row reaches there.
struct RecordCheckpoints {
    const float* values;  // count rows of `planes` values; entry j - 1 holds relative row j * spacing
    int32_t count;        // 0..8
    int32_t spacing;      // rows between them
};

enum { POLYGON_RECORD_MAX = 576 };  // bytes: header, shading, planes, 14 edges, 8 checkpoints and floors fit

// Builds the record of a projected polygon in `out` (POLYGON_RECORD_MAX bytes,
// 8-byte aligned). Returns its size, or 0 when setup rejects the polygon
// (no row covered, no row with a span, off the screen, collinear). Faces
// without a usable texture are given the neutral one.
size_t polygon_record_light(const ClipPolygon* polygon, const Screen* screen, uint32_t face_id, void* out);
size_t polygon_record_camera(const ClipPolygon* polygon, const Screen* screen, Texture* texture, uint32_t face_id,
                             void* out);
// The same in two steps for a triangle kept whole, so that a caller may
// find it rejected before it gathers the attributes: the chains of its
// three projected vertices v (only x and y are read), whose rows, ceil(y),
// it knows already (0 where polygon_record_* would reject the triangle for
// its chains), then the record of the whole polygon with those chains.
int setup_record_chains(const ClipVertex v[3], const int32_t rows[3], const Screen* screen, EdgeChains* chains);
size_t polygon_record_light_from(const ClipPolygon* polygon, const EdgeChains* chains, uint32_t face_id, void* out);
size_t polygon_record_camera_from(const ClipPolygon* polygon, const EdgeChains* chains, Texture* texture,
                                  uint32_t face_id, void* out);
// What a camera record's spans share; null for a light record.
const SpanShading* polygon_record_shading(const PolygonRecord* record);
RecordPlanes polygon_record_planes(const PolygonRecord* record);
const EdgeStep* polygon_record_edges(const PolygonRecord* record);
RecordCheckpoints polygon_record_checkpoints(const PolygonRecord* record);

// Inserts the record's spans that fall on the rows of `rows`, top to bottom:
// one insert_span per covered row whose span ends right of column 0. `span`
// is the record handed to insert_span, filled here; a light record leaves
// the plane values it does not carry as they are, so one scratch record
// (zeroed once) can serve a whole pass. A camera record's spans point to its
// shading, so the record must outlive them; polygon_walk_kept is for records
// that do not (it keeps a copy of the shading for the rest of the process).
void polygon_walk(const PolygonRecord* record, SpanRows* rows, SpanNode* span);
void polygon_walk_kept(const PolygonRecord* record, SpanRows* rows, SpanNode* span);

// A record built and walked into one row set at once; 1 when the polygon was
// walked, 0 when setup rejected it.
int emit_polygon_light(const ClipPolygon* polygon, const Screen* screen, uint32_t face_id, SpanRows* rows);
int emit_polygon_camera(const ClipPolygon* polygon, const Screen* screen, Texture* texture, uint32_t face_id,
                        SpanRows* rows);
