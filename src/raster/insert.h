// Hidden-surface step: merges one span into its row, comparing 1/z.
#pragma once

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
