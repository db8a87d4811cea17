// The span-length histogram the program writes to "Graph.txt", read back and
// drawn as a bar chart (varnel-tool histogram).
//
// Graph.txt holds one line per distinct span length, lengths ascending, each
// printed as "%4d (%4d) : " (length, count) followed by a bar of 1 to 50 '*'
// and a line feed. An empty file is an empty histogram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum {
    SPAN_GRAPH_MAX_LENGTH = 100000,    // longest length accepted; the screen is 400 wide
    SPAN_GRAPH_MAX_BYTES = 1 << 20,    // larger files are not a histogram (a 400-wide frame writes < 30 KiB)
    SPAN_GRAPH_MAX_STARS = 50,         // the most frequent length's bar
    SPAN_CHART_WIDTH = 800,            // pixels
    SPAN_CHART_HEIGHT = 500,
};

// Colours of the chart, 0x00RRGGBB.
enum : uint32_t {
    SPAN_CHART_PAPER = 0xFFFFFF,  // background
    SPAN_CHART_INK = 0x202020,    // axes, ticks and text
    SPAN_CHART_GRID = 0xE6E6E6,   // horizontal lines at the count ticks, behind the bars
    SPAN_CHART_BAR = 0x3A6EA5,
};

// DejaVu Sans, from the fonts-dejavu package.
#define SPAN_CHART_FONT_PATH "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"

struct SpanGraphRow {
    int32_t length;  // span length in pixels, 1..SPAN_GRAPH_MAX_LENGTH
    int32_t count;   // spans of that length in the frame, >= 1
};

// Parses the text of a Graph.txt (`size` bytes, need not end in a NUL).
// Lines may end in LF or CRLF, and the last may have no line end. On success
// *rows holds the lines in file order (strictly ascending lengths). 0 with
// *why = "line N: reason" on the first line that is not in the writer's
// format exactly, has a length outside 1..SPAN_GRAPH_MAX_LENGTH, a count
// below 1, or a length not above the line before's.
int span_graph_parse(const char* text, size_t size, std::vector<SpanGraphRow>* rows, std::string* why);

// Reads and parses the file `path`. 0 with *why = "PATH: reason" when it is
// missing, not a regular file, over SPAN_GRAPH_MAX_BYTES or does not parse.
int span_graph_read(const char* path, std::vector<SpanGraphRow>* rows, std::string* why);

// Where the plot area of a drawn chart lies, in pixels; value v on the x
// axis is at column plot_left + v * (plot_right - plot_left) / x_top, on the
// y axis at row axis_y - v * (axis_y - plot_top) / y_top.
struct SpanChartLayout {
    int plot_left;   // column of the y axis line (length 0)
    int plot_right;  // column of length x_top, the x axis' last tick
    int plot_top;    // row of count y_top, the y axis' last tick
    int axis_y;      // row of the x axis line (count 0); bars end on the row above
    int64_t x_top;   // one past the largest length, rounded up to a tick step
    int64_t y_top;   // largest count rounded up to a tick step
};

// Draws the chart of `rows` (as span_graph_parse leaves them) into `pixels`,
// SPAN_CHART_WIDTH x SPAN_CHART_HEIGHT 0x00RRGGBB words, top row first, with
// text in the font file `font_path`. 0 with *why when the font cannot be
// used; the pixels are then unspecified.
int span_chart_draw(const std::vector<SpanGraphRow>& rows, const char* font_path, uint32_t* pixels,
                    SpanChartLayout* layout, std::string* why);
