// Span pools, per-row span lists and row sets.
//
// Every screen row owns a doubly linked chain of SpanNodes: the first
// active_count nodes are the row's visible spans, sorted by x_left and free of
// overlaps; the nodes behind them are spares kept for reuse. Nodes come from
// the pool of the row's set, a block pool that only grows; a node once
// attached to a row stays in that row's chain until the set is destroyed, so
// after the first frames a pass takes no node from the pool at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <climits>
#include <cmath>

struct Texture;

// What every span of one polygon shares for shading, kept once with the
// polygon (in its record) rather than in each span: the per-column
// gradients of the five texture and light planes, and the texture level.
struct SpanShading {
    float d_u_over_z;
    float d_v_over_z;
    float d_lx_over_z;
    float d_ly_over_z;
    float d_lz_over_z;
    int32_t level_index;  // level record within the texture
    Texture* texture;     // the face's texture
};

// One span of one row; also the record polygon setup fills and hands to
// insert_span. Always copied whole. The six plane values are given at column
// 0 of the row: the value at column x is value + x * gradient (the 1/z
// gradient here, the others in `shading`). A node is one cache line and
// starts on one: a walk touches one line per span it passes, and a store
// writes one.
struct alignas(64) SpanNode {
    SpanNode* prev;       // previous node of the chain; null for the first
    SpanNode* next;       // next node of the chain; null for the last
    int32_t x_left;       // first column covered
    int32_t x_right;      // one past the last column; x_left >= x_right covers nothing
    float d_inv_z;        // per-column gradient of inv_z
    float inv_z;          // 1/z at column 0; larger is nearer
    float u_over_z;       // texture u in texels of the chosen level, times 1/z
    float v_over_z;       // texture v in texels of the chosen level, times 1/z
    float lx_over_z;      // light-view x times 1/z
    float ly_over_z;      // light-view y times 1/z
    float lz_over_z;      // light-view depth times 1/z
    uint32_t face_id;     // face that produced the span
    const SpanShading* shading;  // the polygon's; null for depth-only spans (light pass)
};
static_assert(sizeof(SpanNode) == 64, "a node is one cache line");

struct SpanPool;

// Starts fetching a node's cache line, and with span_prefetch_pair the
// line after it too (for the node a store takes next, that measured
// faster).
// WebAssembly has no prefetch: there a read of the node that nothing waits
// for does the same on the processor underneath. It reads the node alone,
// since the line after the last one in memory would lie outside it.
inline void span_prefetch(const SpanNode* node) {
#ifdef __EMSCRIPTEN__
    (void)*(const volatile int32_t*)&node->x_left;
#else
    __builtin_prefetch(node);
#endif
}

inline void span_prefetch_pair(const SpanNode* node) {
    span_prefetch(node);
#ifndef __EMSCRIPTEN__
    __builtin_prefetch((const char*)node + 64);
#endif
}

// A deep row's depth floor, one float per block of 1 << SPAN_FLOOR_SHIFT
// columns: a value below the 1/z line of every visible span over the part
// of the block's closed column range it lies on, less that line's rounding
// margin, set only while the block's columns are all covered. Unknown
// floors pass no span: SPAN_FLOOR_LOOK is worked out after the next walk
// that only drops; NaN was found uncovered, and waits for a change.
const float SPAN_FLOOR_LOOK = -INFINITY;

struct ScanlineSpanList {
    SpanNode* first;       // first node of the chain
    SpanNode* last;        // last node (a spare whenever active_count < node_count)
    int32_t active_count;  // visible spans: the first active_count nodes
    int32_t node_count;    // nodes in the chain, visible and spare
    SpanPool* pool;        // where the row takes a node when every one of its own is visible
    SpanNode* first_spare; // the node behind the last visible one; null when every node is visible
    // Where insert_span may start its walk instead of at `first`, by column:
    // hints[x >> SPAN_HINT_SHIFT] is null or a node that was visible when
    // set (it holds SPAN_SPARE_MARK as x_left once it has become a spare).
    // Null hints: every walk starts at `first`. Entries hint_low..hint_high
    // may be set; a reset clears them.
    SpanNode** hints;
    SpanNode* finger;      // the last hint set, in any column; null after a reset
    int32_t hint_count;
    int32_t hint_low, hint_high;
    int32_t hints_off;     // 1 after a failed store, until the next reset: the row may overlap
    float* floors;         // floor_count blocks, or null (as for hints)
    int32_t floor_count;
    int32_t floor_credit;  // floors are kept from 0 on; pure drops raise it, changes lower it;
                           // SPAN_FLOORS_OFF without floors and after a failed store
};

enum {
    SPAN_POOL_FIRST_BLOCK = 1024,  // nodes in block 0
    SPAN_POOL_BLOCK = 256,         // nodes in every later block
    SPAN_LIST_INITIAL_NODES = 20,  // spares each row starts with
    SPAN_HINT_SHIFT = 3,           // a walk hint per 8 columns
    SPAN_FLOOR_SHIFT = 2,          // a depth floor per 4 columns
    SPAN_FLOOR_CREDIT = 32,        // floor_credit after a reset: -32
};
const int32_t SPAN_FLOORS_OFF = INT32_MIN / 2;
// x_left of a node that span_list_remove made a spare; no span starts there.
const int32_t SPAN_SPARE_MARK = INT32_MAX;

// The node allocator: a table of blocks that only grows. Block 0 holds 1024
// nodes, every later block 256. Nodes are handed out in order and never given
// back; a row keeps every node it has taken until shutdown.
struct SpanPool {
    SpanNode** blocks;       // each block's first node, 0..last_block (its allocation starts a little before)
    int32_t last_block;      // index of the last allocated block
    int32_t block_capacity;  // nodes in the block being handed out: 1024, then 256
    int32_t current_block;   // index of the block being handed out
    int32_t used_in_block;   // nodes already handed out from the current block
    int32_t status;          // 0; -1 from a growth's start until a growth succeeds
};

// -- the pool ---------------------------------------------------------------
// Creating a pool that already exists releases the old one first; a pool
// record starts zeroed.
int span_pool_create(SpanPool* pool);
int span_pool_grow(SpanPool* pool);
int span_pool_status(const SpanPool* pool);  // 0, or -1 from a growth's start until one succeeds
void span_pool_destroy(SpanPool* pool);
long span_pool_node_count(const SpanPool* pool);  // nodes in the blocks it holds
// Allocation hook for tests, for every pool: blocks and block tables are
// taken through this (null restores realloc). Memory is released with free,
// so a hook must hand out memory that free accepts (or fail with null).
// Set it only while no frame is being drawn.
typedef void* (*SpanPoolRealloc)(void* block, size_t bytes);
void span_pool_set_allocator(SpanPoolRealloc allocator);

// -- storing steps shared by the list operations and insert_span ------------
// Nodes come from the row's own pool (list->pool).
// Advance step: moves to the next block (growing the pool) when the current
// one is full; 0 when that growth failed and nothing may be stored.
int span_pool_advance(SpanPool* pool);
// Stores a copy of `record` as a visible span; each returns the node that now
// holds it, or null when the pool cannot supply a node.
SpanNode* span_list_append(ScanlineSpanList* list, SpanNode* record);
// span_list_append for a caller that already holds the chain's first spare
// (the node at position active_count; null when every node is visible).
SpanNode* span_list_append_at(ScanlineSpanList* list, SpanNode* first_spare, SpanNode* record);
SpanNode* span_list_insert_before(ScanlineSpanList* list, SpanNode* node, const SpanNode* record);
SpanNode* span_list_insert_after(ScanlineSpanList* list, SpanNode* node, const SpanNode* record);
// The two inserts for a copy of `source` with the range [x_left, x_right)
// instead of its own (insert_span stores pieces of spans this way); source
// is a visible node or a caller's record and is not changed.
SpanNode* span_list_store_before(ScanlineSpanList* list, SpanNode* node, const SpanNode* source,
                                 int32_t x_left, int32_t x_right);
SpanNode* span_list_store_after(ScanlineSpanList* list, SpanNode* node, const SpanNode* source,
                                int32_t x_left, int32_t x_right);
void span_list_remove(ScanlineSpanList* list, SpanNode* node);  // visible -> spare
// A chain of node_count spares taken from `pool`, which the row keeps using;
// no walk hints.
int span_list_create(SpanPool* pool, int node_count, ScanlineSpanList* list);
void span_list_reset(ScanlineSpanList* list);  // every node a spare, hints and floors cleared
void span_list_floors_off(ScanlineSpanList* list);  // no floors until the next reset

// -- row sets ------------------------------------------------------------------
// Consecutive screen rows with the pool their nodes come from. Row sets never
// share a pool, so each can be filled by its own thread.
struct SpanRows {
    ScanlineSpanList* lists;  // row_count lists, lists[0] for row first_row; owned by the caller
    int32_t first_row;
    int32_t row_count;
    SpanPool pool;
    SpanNode** hints;         // every row's walk hints, one block
    float* floors;            // every row's depth floors, one block
    const int32_t* columns;   // null, or for every screen row y the columns [columns[2y], columns[2y + 1])
                              // that are read; the walks leave out spans outside them (span_outside_columns)
};
// Creates the pool, 20 spare nodes for each row and walk hints and depth
// floors for columns 0..width-1 (none for width <= 0); 1, or 0 on an allocation failure (what
// was made is released by span_rows_destroy).
int span_rows_create(SpanRows* rows, ScanlineSpanList* lists, int32_t first_row, int32_t row_count,
                     int32_t width);
void span_rows_destroy(SpanRows* rows);  // safe on a zeroed or destroyed record
void span_rows_reset(SpanRows* rows);    // every row empty, every node kept (and read into the cache)
