// Histogram of visible span lengths, written to "Graph.txt" on request.
#pragma once

// Walks the visible spans of every row as the camera pass left them and
// writes one line per distinct length: "%4d (%4d) : " and a bar of up to 50
// stars. A file that cannot be written is skipped.
void span_statistics_dump();
