// The action classification gives a face that turns towards the eye, from
// its corners' view vertices: what object_pass.cpp's loops and its AVX2
// routines (object_pass_avx2.cpp) share, inline in both. Internal to the
// object pass.
#pragma once

#include <cmath>
#include <cstdint>
#include <utility>

#include "math/clip.h"
#include "math/fixed.h"
#include "pipeline/object_pass.h"
#include "raster/insert.h"

// One copy of a classification loop, for object_pass_classify's arguments
// (the extras by reference): both object-pass files keep a table of theirs.
typedef int32_t (*ClassifyLoop)(const ObjectView* eye, const SceneObject* object, int32_t first, int32_t count,
                                const ViewVertex* view, const ClassifyExtras& e, uint32_t* out);

namespace face_verdict {

// Faces whose plane has the eye more than this in front of it turn away;
// faces seen edge-on or slightly from behind are still drawn.
const double facing_limit = 0.1;
// Polygons with a vertex nearer than this to the eye's plane are dropped
// whole: there is no near clipping.
const double near_limit = 0.1;

// How far, in pixels, a row's 16.16 edge positions may stray from the
// exact edges: the float start of each edge (a few units in the last place
// of an x up to 7680, under 1/256 of a pixel) plus the truncation of one
// step per row, 2^-16 each.
const float edge_slack = 1.0f / 64.0f;
const float row_slack = 1.0f / FIXED_ONE_F;

inline int32_t min3(int32_t a, int32_t b, int32_t c) { return a < b ? (a < c ? a : c) : (b < c ? b : c); }
inline int32_t max3(int32_t a, int32_t b, int32_t c) { return a > b ? (a > c ? a : c) : (b > c ? b : c); }

// For a face kept whole whose only row is r: 1 when its cross-section with
// the line y = r lies inside one column, further from its sides than a
// row's edge positions can stray from the exact edges, so that the row's
// span has both ends in that column. The two edges that cross the line
// are worked out in double precision, exact to far below that slack.
inline int row_in_one_column(const ViewVertex* const v[3], int32_t r) {
    const ViewVertex *top = v[0], *middle = v[1], *bottom = v[2];
    if (middle->sy < top->sy) std::swap(top, middle);
    if (bottom->sy < middle->sy) std::swap(middle, bottom);
    if (middle->sy < top->sy) std::swap(top, middle);
    // top->sy <= r < bottom->sy, as r = ceil(min y) and r + 1 = ceil(max y).
    const double y = (double)r;
    auto edge_x = [y](const ViewVertex* a, const ViewVertex* b) {  // a->sy <= y < b->sy
        return (double)a->sx + (y - (double)a->sy) * ((double)b->sx - (double)a->sx) / ((double)b->sy - (double)a->sy);
    };
    const double x0 = edge_x(top, bottom);
    const double x1 = (double)middle->sy <= y ? edge_x(middle, bottom) : edge_x(top, middle);
    const double low = x0 < x1 ? x0 : x1, high = x0 < x1 ? x1 : x0;
    const double slack = (double)edge_slack + 2.0 * (double)row_slack;
    const double column = std::floor(low);
    return low - column > slack && column + 1.0 - high > slack;
}

// A face kept whole makes spans only on rows [first, end) of its corners, and
// a row's edge positions stray from the exact edges by far less than a
// column, so each span starts at or right of the corners' least column less
// one and ends at or left of their greatest column plus one: CLIP_DROP when
// every such span lies outside its row's `columns` (span_outside_columns),
// CLIP_KEEP otherwise or where `columns` is null.
inline int keep_within(const int32_t* columns, int32_t height, int32_t first, int32_t end, int32_t least_column,
                       int32_t greatest_column) {
    if (!columns || first < 0 || end > height) return CLIP_KEEP;
    for (int32_t y = first; y < end; y++)
        if (!span_outside_columns(least_column - 1, greatest_column + 1, columns[2 * y], columns[2 * y + 1]))
            return CLIP_KEEP;
    return CLIP_DROP;
}

// What becomes of a face whose view vertices are v: its clip action, where
// CLIP_DROP also stands for a face kept whole that cannot be drawn. A face
// kept whole is drawn only when no corner lies nearer than the near limit
// and its screen positions cover a pixel: polygon setup would make no span
// otherwise, so it is dropped here before its corners are gathered. It
// covers no row when ceil(min y) = ceil(max y); it covers no column when
// min x and max x lie inside one column, far enough from its sides that no
// row's edge positions can reach them, since every span then has its left
// and right end in that column. (Setup also rejects corners off the screen;
// those are left to it.) With `columns`, a face kept whole none of whose
// spans could reach them is dropped as well (keep_within).
inline __attribute__((always_inline)) int action(const ViewVertex* const v[3], const int32_t* columns,
                                                 int32_t height) {
    uint32_t s0 = v[0]->sides, s1 = v[1]->sides, s2 = v[2]->sides;
    // Every corner inside every plane: kept whole (clip_triangle_action's
    // first case, without the call); otherwise its verdict, on the frustum
    // bits alone.
    if ((s0 & s1 & s2 & CLIP_SIDES_INSIDE) != CLIP_SIDES_INSIDE) {
        const uint32_t planes = 0xFF;
        return clip_triangle_action(s0 & planes, s1 & planes, s2 & planes);
    }
    if ((s0 | s1 | s2) & VIEW_VERTEX_NEAR) return CLIP_DROP;
    // Inside every plane and beyond the near limit a corner lies on or about
    // the screen, so its row and column are exact; ceil and floor keep order,
    // so the least row is ceil(min y) and so on.
    const int32_t first_row = min3(v[0]->row, v[1]->row, v[2]->row);
    const int32_t end_row = max3(v[0]->row, v[1]->row, v[2]->row);
    if (first_row >= end_row) return CLIP_DROP;
    const int32_t column = min3(v[0]->column, v[1]->column, v[2]->column);
    const int32_t last_column = max3(v[0]->column, v[1]->column, v[2]->column);
    // A corner in a later column reaches column + 1: no slack to test.
    if (last_column != column)
        return end_row - first_row == 1 && row_in_one_column(v, first_row)
                   ? CLIP_DROP
                   : keep_within(columns, height, first_row, end_row, column, last_column);
    float left = v[0]->sx, right = v[0]->sx;
    for (int k = 1; k < 3; k++) {
        left = v[k]->sx < left ? v[k]->sx : left;
        right = v[k]->sx > right ? v[k]->sx : right;
    }
    const float slack = edge_slack + ((float)(end_row - first_row) + 1.0f) * row_slack;
    if (left - (float)column > slack && (float)column + 1.0f - right > slack) return CLIP_DROP;
    return keep_within(columns, height, first_row, end_row, column, column);
}

}  // namespace face_verdict
