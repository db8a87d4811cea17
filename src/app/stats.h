// Histogram of visible span lengths, written to "Graph.txt" on request.
#pragma once

#include <cstdio>

struct ScanlineSpanList;

// Walks the visible spans of the `height` rows (as the camera pass left
// them, clamped to `width` columns) and writes "Graph.txt": one line per
// distinct length, ascending, "%4d (%4d) : " and a bar of
// ceil(50 * count / largest count) stars. An empty histogram gives an empty
// file. A file that cannot be written is skipped; the file is replaced
// whole, never left half-written. Without rows (they could not be
// allocated) nothing is written and stderr says so.
void span_statistics_dump(const ScanlineSpanList* rows, int height, int width);

// The histogram of `height` rows clamped to `width` columns, written to `out`.
// 1 on success, 0 when memory or the write failed.
int span_histogram_write(const ScanlineSpanList* rows, int height, int width, FILE* out);
