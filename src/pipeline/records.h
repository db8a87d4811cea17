// Polygon records: one projected polygon becomes a self-contained record
// (its two 16.16 edge chains and its attribute planes), which is then
// walked into the rows of one row set, one span per covered row, or of
// several sets one after another; walking the same record into two sets
// gives each set exactly the spans a walk over all rows would have given
// it. That split lets the rows be filled by several threads. The
// attributes are carried per row as their value at column 0 plus a
// per-column gradient, so insert_span can evaluate any column with one
// multiply-add.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "math/clip.h"
#include "pipeline/edges.h"
#include "raster/span_pool.h"

struct Texture;
struct Screen;

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
// that do not: it keeps a copy of the shading in `store`, which the caller
// owns and which must outlive the spans (the frame needs none; tests and
// tools that walk records one at a time do).
struct ShadingStore {
    std::deque<SpanShading> kept;  // never moves what it holds
};
void polygon_walk(const PolygonRecord* record, SpanRows* rows, SpanNode* span);
void polygon_walk_kept(const PolygonRecord* record, SpanRows* rows, SpanNode* span, ShadingStore* store);

// A record built and walked into one row set at once, its shading kept in
// `store`; 1 when the polygon was walked, 0 when setup rejected it.
int emit_polygon_light(const ClipPolygon* polygon, const Screen* screen, uint32_t face_id, SpanRows* rows);
int emit_polygon_camera(const ClipPolygon* polygon, const Screen* screen, Texture* texture, uint32_t face_id,
                        SpanRows* rows, ShadingStore* store);
