// Histogram of visible span lengths, written to "Graph.txt" on request.
#pragma once

#include <cstdio>

struct ScanlineSpanList;

// Walks the visible spans of every row as the camera pass left them and
// writes "Graph.txt": one line per distinct length, ascending, "%4d (%4d) : "
// and a bar of ceil(50 * count / largest count) stars. An empty histogram
// gives an empty file. A file that cannot be written is skipped; the file is
// replaced whole, never left half-written.
void span_statistics_dump();

// The histogram of `height` rows clamped to `width` columns, written to `out`.
// 1 on success, 0 when memory or the write failed.
int span_histogram_write(const ScanlineSpanList* rows, int height, int width, FILE* out);
