// Hidden-surface step: merges one span into its row, comparing 1/z.
#pragma once

#include <cmath>

#include "math/fixed.h"
#include "raster/span_pool.h"

// Merges `record` (a filled span; prev and next need not be set) into `list`
// so every column belongs to at most one span, the nearest; ties go to the
// span already there. The record is working state: its x_left, x_right, prev
// and next may change, every other field stays.
void insert_span(SpanNode* record, ScanlineSpanList* list);

// Column where the 1/z lines of two spans cross: the crossing + 0.5,
// truncated toward zero (half up for columns >= 0); -1 for equal gradients.
// *counts is 1 only when the gradients differ, lo < Q < hi and the value fits
// in 32 bits (it is never converted otherwise). All arithmetic is double.
int32_t crossing_column(const SpanNode* n, const SpanNode* s, int32_t lo, int32_t hi, int* counts);

// 1 when the crossing of the two lines certainly does not count in the
// overlap [lo, hi) (crossing_column would set *counts to 0), decided without
// a division; 0 when only crossing_column can tell. Never 1 when the crossing
// counts.
int crossing_ruled_out(const SpanNode* n, const SpanNode* s, int32_t lo, int32_t hi);

// 1 when a span [x_left, x_right) may be left out of a row of which only
// columns [left, right) are read: one that stops a column or more short of
// them on either side. Leaving a span out changes where the pieces of the
// spans it would cut begin and end, and one decision of insert_span depends
// on that: an overlap of one column with no crossing in it is decided at
// the column's right edge, so a piece cut down to the single column c can go
// to another span than a longer piece would. With the column of margin
// every such column lies outside [left, right).
inline int span_outside_columns(int32_t x_left, int32_t x_right, int32_t left, int32_t right) {
    return x_right < left || x_left > right;
}

// -- depth floors --------------------------------------------------------------
// In a deep row most spans lie behind what is already there, and a walk
// would only drop them. A row whose walks mostly drop keeps floors (see
// SPAN_FLOOR_LOOK), and a caller may then ask whether a span is hidden before it
// builds and inserts it.

// A line w + x * d of float coefficients evaluated in double at a column
// (|x| < 8192) is off by at most 2^-52 (|w| + |x d|); this margin, for any
// w_abs >= |w|, is 2^-30 of that bound. Two lines kept apart by their margins
// at both ends of an overlap can neither be judged to cross inside it (the
// crossing lies too far out for the division's rounding to bring it in) nor
// trade places at the probe, so the span already there wins all of it.
inline double span_line_margin(double w_abs, double d) { return 0x1p-30 * (w_abs + SPAN_COLUMN_BOUND * std::fabs(d)); }

// The highest value over the closed range [x_left, x_right] of the line
// inv_z + x * d_inv_z, plus `margin` (at least that line's margin).
inline double span_line_top(float inv_z, float d_inv_z, int32_t x_left, int32_t x_right, double margin) {
    double d = (double)d_inv_z;
    return (double)inv_z + (double)(d > 0.0 ? x_right : x_left) * d + margin;
}

// 1 when a span covering [x_left, x_right) (0 <= x_left < x_right) whose
// 1/z line with its margin stays below `top` over that closed range (see
// span_line_top) would lose every overlap: the floors of all blocks its
// closed range touches lie above top, so those blocks are covered without a
// gap by spans that win. insert_span would only drop it. NaN never hides.
inline int span_list_hides(const ScanlineSpanList* list, int32_t x_left, int32_t x_right, double top) {
    if (list->floor_credit < 0) return 0;
    int32_t b = x_left >> SPAN_FLOOR_SHIFT, e = (x_right - 1) >> SPAN_FLOOR_SHIFT;
    if (x_left < 0 || e >= list->floor_count) return 0;
    for (; b <= e; b++)
        if (!(top < list->floors[b])) return 0;
    return 1;
}
